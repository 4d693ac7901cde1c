// The alpha family on 4096x4096 8U four-channel images (alpha channel 4):
//   composite_over  vexAlphaComposite, operator over, plain colours,
//                   integer form, the result opacity into the destination;
//   premultiply     vexPreMultiplyAlpha with each pixel's own alpha, in place;
//   mulscale        vexMultiplyScale of two images.
// OpenCV peers compute the same samples up to rounding from its own
// primitives: the alpha planes extracted and spread to four channels, then
// cv::multiply with scale 1/255, cv::add and cv::subtract (and
// cv::insertChannel for the result opacity). memcpy moves as many bytes as
// the operation reads and writes: three images' worth for the compositing
// and the product (one and a half images copied), two for the premultiplied
// alpha (one image copied). Single-threaded throughout.
#include <cstring>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int kSize = 4096;
const std::string kCase = "8u_c4";

vexbench::Image makeRgba(uint32_t key) {
    auto im = vexbench::makeImage(kSize, kSize, 4, VEX_DEPTH_8U, key);
    im->alphaChannel = 4;
    return im;
}

// A memcpy of `images` images' bytes in total traffic (read plus written).
void memcpyTraffic(benchmark::State& st, double images) {
    const size_t n = size_t(kSize) * kSize * 4;
    const size_t half = size_t(double(n) * images / 2);
    std::vector<char> src(half), dst(half);
    vexbench::fillRandom(src.data(), half, 1);
    std::memset(dst.data(), 0, half);
    for (auto _ : st) {
        std::memcpy(dst.data(), src.data(), half);
        benchmark::ClobberMemory();
    }
    vexbench::setBytes(st, half);
}

#if VEX_BENCH_HAVE_OPENCV
// The alpha plane spread over four channels (the fourth taken from `last`).
void spread(const cv::Mat& alpha, const cv::Mat& last, cv::Mat& out) {
    const cv::Mat planes[] = {alpha, alpha, alpha, last};
    cv::merge(planes, 4, out);
}
#endif

void registerAll() {
    using vexbench::add;
    add("composite_over", kCase, "vex", [](benchmark::State& st) {
        auto a = makeRgba(1), b = makeRgba(2), d = makeRgba(3);
        for (auto _ : st) {
            vexAlphaComposite(a.get(), b.get(), d.get(), VEX_COMPOSITE_OVER, nullptr, nullptr, nullptr, 0, 0,
                              nullptr);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, 3 * vexbench::bytesOf(d.get()));
    });
    add("premultiply", kCase, "vex", [](benchmark::State& st) {
        auto a = makeRgba(1);
        for (auto _ : st) {
            vexPreMultiplyAlpha(a.get(), -1, nullptr);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, 2 * vexbench::bytesOf(a.get()));
    });
    add("mulscale", kCase, "vex", [](benchmark::State& st) {
        auto a = makeRgba(1), b = makeRgba(2), d = makeRgba(3);
        for (auto _ : st) {
            vexMultiplyScale(a.get(), b.get(), d.get(), nullptr);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, 3 * vexbench::bytesOf(d.get()));
    });
#if VEX_BENCH_HAVE_OPENCV
    add("composite_over", kCase, "opencv", [](benchmark::State& st) {
        cv::Mat A = vexbench::makeMat(kSize, CV_8UC4, 1), B = vexbench::makeMat(kSize, CV_8UC4, 2);
        cv::Mat D = vexbench::makeMat(kSize, CV_8UC4, 3);
        cv::Mat a, b, a4, b4, pa, pb, t, ab, o;
        for (auto _ : st) {
            cv::extractChannel(A, a, 3);
            cv::extractChannel(B, b, 3);
            spread(a, a, a4);
            spread(b, b, b4);
            cv::multiply(A, a4, pa, 1.0 / 255);  // A' = A x a
            cv::multiply(B, b4, pb, 1.0 / 255);  // B' = B x b
            cv::multiply(pb, a4, t, 1.0 / 255);  // B' x a
            cv::add(pa, pb, D);
            cv::subtract(D, t, D);               // A' + B' - B' x a
            cv::multiply(a, b, ab, 1.0 / 255);
            cv::add(a, b, o);
            cv::subtract(o, ab, o);              // a + b - a x b
            cv::insertChannel(o, D, 3);
            benchmark::ClobberMemory();
        }
        vexbench::setBytes(st, 3 * D.total() * D.elemSize());
    });
    add("premultiply", kCase, "opencv", [](benchmark::State& st) {
        cv::Mat A = vexbench::makeMat(kSize, CV_8UC4, 1);
        cv::Mat a, a4, full(kSize, kSize, CV_8UC1, cv::Scalar(255));
        for (auto _ : st) {
            cv::extractChannel(A, a, 3);
            spread(a, full, a4);                // (a, a, a, 255)
            cv::multiply(A, a4, A, 1.0 / 255);  // colours times alpha/255, alpha kept
            benchmark::ClobberMemory();
        }
        vexbench::setBytes(st, 2 * A.total() * A.elemSize());
    });
    add("mulscale", kCase, "opencv", [](benchmark::State& st) {
        cv::Mat A = vexbench::makeMat(kSize, CV_8UC4, 1), B = vexbench::makeMat(kSize, CV_8UC4, 2);
        cv::Mat D = vexbench::makeMat(kSize, CV_8UC4, 3);
        for (auto _ : st) {
            cv::multiply(A, B, D, 1.0 / 255);
            benchmark::ClobberMemory();
        }
        vexbench::setBytes(st, 3 * D.total() * D.elemSize());
    });
#endif
    add("composite_over", kCase, "memcpy", [](benchmark::State& st) { memcpyTraffic(st, 3); });
    add("premultiply", kCase, "memcpy", [](benchmark::State& st) { memcpyTraffic(st, 2); });
    add("mulscale", kCase, "memcpy", [](benchmark::State& st) { memcpyTraffic(st, 3); });
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
