// Colour models and bit reduction on 4096x4096 images, single-threaded:
//   gray/8u_c3      vexColorToGray (8U RGB -> 8U gray) vs cv::cvtColor BGR2GRAY
//   rgb2hsv/8u_c3   vexRGB2HSV vs cvtColor BGR2HSV
//   hsv2rgb/8u_c3   vexHSV2RGB vs cvtColor HSV2BGR
//   rgb2hls/8u_c3   vexRGB2HLS vs cvtColor BGR2HLS
//   hls2rgb/8u_c3   vexHLS2RGB vs cvtColor HLS2BGR
//   reducefs/16u_c1 vexReduceBits 16U -> 8U, Floyd-Steinberg onto two levels
//                   (0 and 255: one bit of information per pixel) vs a plain
//                   scalar loop of the same rule written here ("scalar")
// OpenCV rounds differently, so only the times compare. The memcpy case
// copies the source image's bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSize = 4096;

struct Model {
    const char* name;
    void (*vex)(VexImage*, VexImage*, const VexMapping*);
    const char* srcSpace;
    int dstChannels;
#if VEX_BENCH_HAVE_OPENCV
    int cvCode;
#endif
};

const Model kModels[] = {
#if VEX_BENCH_HAVE_OPENCV
    {"gray", vexColorToGray, "RGB", 1, cv::COLOR_BGR2GRAY},
    {"rgb2hsv", vexRGB2HSV, "RGB", 3, cv::COLOR_BGR2HSV},
    {"hsv2rgb", vexHSV2RGB, "HSV", 3, cv::COLOR_HSV2BGR},
    {"rgb2hls", vexRGB2HLS, "RGB", 3, cv::COLOR_BGR2HLS},
    {"hls2rgb", vexHLS2RGB, "HLS", 3, cv::COLOR_HLS2BGR},
#else
    {"gray", vexColorToGray, "RGB", 1},   {"rgb2hsv", vexRGB2HSV, "RGB", 3}, {"hsv2rgb", vexHSV2RGB, "HSV", 3},
    {"rgb2hls", vexRGB2HLS, "RGB", 3},    {"hls2rgb", vexHLS2RGB, "HLS", 3},
#endif
};

// Hue samples kept in their 8-bit range (0..179) for the conversions back.
void limitHue(uint8_t* p, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) p[3 * i] = uint8_t(p[3 * i] % 180);
}

// Floyd-Steinberg as the library defines it, written plainly: reduce by
// v >> 8, then visit the samples in order, floor each to the grid, and add
// the error shares (e * w) >> 4 to the right and lower neighbours, limited
// to 255.
void scalarFloydSteinberg(const uint16_t* src, int64_t sstep, uint8_t* dst, int64_t dstep, int rows, int cols,
                          int step) {
    for (int y = 0; y < rows; ++y) {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(reinterpret_cast<const char*>(src) + sstep * y);
        uint8_t* d = dst + dstep * y;
        for (int x = 0; x < cols; ++x) d[x] = uint8_t(s[x] >> 8);
    }
    auto add = [](uint8_t& v, int share) { v = uint8_t(std::min(255, v + share)); };
    for (int y = 0; y < rows; ++y) {
        uint8_t* d = dst + dstep * y;
        uint8_t* n = y + 1 < rows ? d + dstep : nullptr;
        for (int x = 0; x < cols; ++x) {
            const int v = d[x], q = v / step * step, e = v - q;
            d[x] = uint8_t(q);
            if (x + 1 < cols) add(d[x + 1], (e * 7) >> 4);
            if (n) {
                if (x > 0) add(n[x - 1], (e * 3) >> 4);
                add(n[x], (e * 5) >> 4);
                if (x + 1 < cols) add(n[x + 1], e >> 4);
            }
        }
    }
}

void registerAll() {
    using vexbench::add;
    for (const Model& m : kModels) {
        add(m.name, "8u_c3", "vex", [m](benchmark::State& st) {
            auto s = vexbench::makeImage(kSize, kSize, 3, VEX_DEPTH_8U, 1);
            auto d = vexbench::makeImage(kSize, kSize, m.dstChannels, VEX_DEPTH_8U, 2);
            std::memcpy(s->colorSpace, m.srcSpace, 3);
            std::memcpy(s->channelSeq, m.srcSpace, 3);
            if (std::strcmp(m.srcSpace, "RGB") != 0)
                limitHue(reinterpret_cast<uint8_t*>(s->imageData), size_t(kSize) * kSize);
            for (auto _ : st) {
                m.vex(s.get(), d.get(), nullptr);
                benchmark::ClobberMemory();
            }
            if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(s.get()));
        });
#if VEX_BENCH_HAVE_OPENCV
        add(m.name, "8u_c3", "opencv", [m](benchmark::State& st) {
            cv::Mat s = vexbench::makeMat(kSize, CV_8UC3, 1), d;
            if (std::strcmp(m.srcSpace, "RGB") != 0) limitHue(s.ptr<uint8_t>(), size_t(kSize) * kSize);
            cv::cvtColor(s, d, m.cvCode);
            for (auto _ : st) {
                cv::cvtColor(s, d, m.cvCode);
                benchmark::ClobberMemory();
            }
            vexbench::setBytes(st, s.total() * s.elemSize());
        });
#endif
        add(m.name, "8u_c3", "memcpy", [](benchmark::State& st) {
            vexbench::memcpyImages(st, kSize, 3, VEX_DEPTH_8U);
        });
    }

    add("reducefs", "16u_c1", "vex", [](benchmark::State& st) {
        auto s = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_16U, 1);
        auto d = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_8U, 2);
        for (auto _ : st) {
            vexReduceBits(s.get(), d.get(), 0, 2, 0, nullptr);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(s.get()));
    });
    add("reducefs", "16u_c1", "scalar", [](benchmark::State& st) {
        auto s = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_16U, 1);
        auto d = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_8U, 2);
        // The plain loop must agree with the library before it is timed.
        auto check = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_8U, 2);
        vexReduceBits(s.get(), check.get(), 0, 2, 0, nullptr);
        scalarFloydSteinberg(reinterpret_cast<const uint16_t*>(s->imageData), s->widthStep,
                             reinterpret_cast<uint8_t*>(d->imageData), d->widthStep, kSize, kSize, 255);
        if (std::memcmp(check->imageData, d->imageData, size_t(d->dataSize)) != 0) {
            st.SkipWithError("the scalar loop disagrees with vexReduceBits");
            return;
        }
        for (auto _ : st) {
            scalarFloydSteinberg(reinterpret_cast<const uint16_t*>(s->imageData), s->widthStep,
                                 reinterpret_cast<uint8_t*>(d->imageData), d->widthStep, kSize, kSize, 255);
            benchmark::ClobberMemory();
        }
        vexbench::setBytes(st, vexbench::bytesOf(s.get()));
    });
    add("reducefs", "16u_c1", "memcpy", [](benchmark::State& st) {
        vexbench::memcpyImages(st, kSize, 1, VEX_DEPTH_16U);
    });
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
