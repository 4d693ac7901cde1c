// Geometric transforms on a 4096x4096 8U one-channel image, single-threaded,
// against OpenCV: vexZoom x2 (linear, cubic) vs cv::resize, vexDecimate 1/2
// and 2/3 (linear) vs cv::resize, vexRotate 30 degrees (linear) vs
// cv::warpAffine, vexRotate 90 degrees vs cv::rotate.
#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSize = 4096;

#if VEX_BENCH_HAVE_OPENCV
void cvResize(benchmark::State& st, int outW, int outH, int interp) {
    cv::Mat src = vexbench::makeMat(kSize, CV_8UC1, 1), dst(outH, outW, CV_8UC1, cv::Scalar(0));
    for (auto _ : st) {
        cv::resize(src, dst, cv::Size(outW, outH), 0, 0, interp);
        benchmark::ClobberMemory();
    }
}
#endif

template <class Call>
void vexRun(benchmark::State& st, int outW, int outH, Call call) {
    auto src = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_8U, 1);
    auto dst = vexbench::makeImage(outH, outW, 1, VEX_DEPTH_8U, 2);
    for (auto _ : st) {
        call(src.get(), dst.get());
        benchmark::ClobberMemory();
    }
    vexbench::checkStatus(st);
}

void registerAll() {
    using vexbench::add;
    const std::string kase = vexbench::caseName(VEX_DEPTH_8U, 1);
    struct Resize {
        const char* family;
        int u, l, interp;
        bool zoom;
    };
    const Resize kResizes[] = {{"zoom2-linear", 2, 1, VEX_INTER_LINEAR, true},
                               {"zoom2-cubic", 2, 1, VEX_INTER_CUBIC, true},
                               {"decimate1-2-linear", 1, 2, VEX_INTER_LINEAR, false},
                               {"decimate2-3-linear", 2, 3, VEX_INTER_LINEAR, false}};
    for (const Resize& r : kResizes) {
        const int out = kSize * r.u / r.l;
        add(r.family, kase, "vex", [r, out](benchmark::State& st) {
            vexRun(st, out, out, [r](VexImage* s, VexImage* d) {
                if (r.zoom) vexZoom(s, d, r.u, r.l, r.u, r.l, r.interp, nullptr);
                else vexDecimate(s, d, r.u, r.l, r.u, r.l, r.interp, nullptr);
            });
        });
#if VEX_BENCH_HAVE_OPENCV
        add(r.family, kase, "opencv", [r, out](benchmark::State& st) {
            cvResize(st, out, out, r.interp == VEX_INTER_CUBIC ? cv::INTER_CUBIC : cv::INTER_LINEAR);
        });
#endif
    }

    const int c = (kSize - 1) / 2;
    add("rotate30-linear", kase, "vex", [c](benchmark::State& st) {
        vexRun(st, kSize, kSize, [c](VexImage* s, VexImage* d) { vexRotate(s, d, 3000, c, c, VEX_INTER_LINEAR, nullptr); });
    });
    add("rotate90", kase, "vex", [c](benchmark::State& st) {
        vexRun(st, kSize, kSize, [c](VexImage* s, VexImage* d) { vexRotate(s, d, 9000, c, c, VEX_INTER_NN, nullptr); });
    });
#if VEX_BENCH_HAVE_OPENCV
    add("rotate30-linear", kase, "opencv", [c](benchmark::State& st) {
        cv::Mat src = vexbench::makeMat(kSize, CV_8UC1, 1), dst(kSize, kSize, CV_8UC1, cv::Scalar(0));
        const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(float(c), float(c)), 30.0, 1.0);
        for (auto _ : st) {
            cv::warpAffine(src, dst, m, dst.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
            benchmark::ClobberMemory();
        }
    });
    add("rotate90", kase, "opencv", [](benchmark::State& st) {
        cv::Mat src = vexbench::makeMat(kSize, CV_8UC1, 1), dst(kSize, kSize, CV_8UC1, cv::Scalar(0));
        for (auto _ : st) {
            cv::rotate(src, dst, cv::ROTATE_90_COUNTERCLOCKWISE);
            benchmark::ClobberMemory();
        }
    });
#endif
}

[[maybe_unused]] const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
