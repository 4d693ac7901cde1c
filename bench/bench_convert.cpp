// Depth conversion: vexConvert 8U -> 16U and 16U -> 8U (scaling and
// truncation) on 4096x4096 images, 1 and 3 channels, against OpenCV's
// Mat::convertTo and a memcpy of the destination's bytes. Single-threaded.
// OpenCV saturates where vexConvert selects bits (16U -> 8U), so the
// 16U -> 8U rows compare time only.
#include <cstring>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int kSize = 4096;

struct Pair {
    const char* family;
    unsigned from, to;
    int mode;
#if VEX_BENCH_HAVE_OPENCV
    int cvDepth;  // destination depth for convertTo
#endif
};

const Pair kPairs[] = {
#if VEX_BENCH_HAVE_OPENCV
    {"cvt8u16u", VEX_DEPTH_8U, VEX_DEPTH_16U, 1, CV_16U},
    {"cvt16u8u_scale", VEX_DEPTH_16U, VEX_DEPTH_8U, 1, CV_8U},
    {"cvt16u8u_trunc", VEX_DEPTH_16U, VEX_DEPTH_8U, 0, CV_8U},
#else
    {"cvt8u16u", VEX_DEPTH_8U, VEX_DEPTH_16U, 1},
    {"cvt16u8u_scale", VEX_DEPTH_16U, VEX_DEPTH_8U, 1},
    {"cvt16u8u_trunc", VEX_DEPTH_16U, VEX_DEPTH_8U, 0},
#endif
};

void registerAll() {
    using vexbench::add;
    for (const Pair& p : kPairs)
        for (int ch : {1, 3}) {
            const std::string kase = vexbench::caseName(p.from, ch);
            add(p.family, kase, "vex", [p, ch](benchmark::State& st) {
                vexbench::quietLibrary();
                auto s = vexbench::makeImage(kSize, kSize, ch, p.from, 1);
                auto d = vexbench::makeImage(kSize, kSize, ch, p.to, 2);
                for (auto _ : st) {
                    vexConvert(s.get(), d.get(), p.mode, nullptr);
                    benchmark::ClobberMemory();
                }
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(d.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            add(p.family, kase, "opencv", [p, ch](benchmark::State& st) {
                const int srcType = CV_MAKETYPE(p.from == VEX_DEPTH_8U ? CV_8U : CV_16U, ch);
                cv::Mat s = vexbench::makeMat(kSize, srcType, 1);
                cv::Mat d = vexbench::makeMat(kSize, CV_MAKETYPE(p.cvDepth, ch), 2);
                for (auto _ : st) {
                    s.convertTo(d, p.cvDepth);
                    benchmark::ClobberMemory();
                }
                vexbench::setBytes(st, d.total() * d.elemSize());
            });
#endif
            add(p.family, kase, "memcpy", [p, ch](benchmark::State& st) {
                vexbench::memcpyImages(st, kSize, ch, p.to);
            });
        }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
