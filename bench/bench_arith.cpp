// Pixel-wise operations: vexAdd, vexSubtract, vexMultiply, vexAnd, vexNot
// and vexThreshold on 4096x4096 images (8U 1- and 3-channel, 16U, 16S and
// 32S 1-channel) against OpenCV (add, subtract, multiply, bitwise_and,
// bitwise_not, threshold THRESH_BINARY) and a memcpy of the same bytes.
// Single-threaded throughout.
#include <cstring>
#include <functional>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSize = 4096;
constexpr int kThreshold = 100;

struct Layout {
    unsigned depth;
    int channels;
    int cvType;  // -1 when OpenCV has no such case
};

const Layout kLayouts[] = {
#if VEX_BENCH_HAVE_OPENCV
    {VEX_DEPTH_8U, 1, CV_8UC1},   {VEX_DEPTH_8U, 3, CV_8UC3}, {VEX_DEPTH_16U, 1, CV_16UC1},
    {VEX_DEPTH_16S, 1, CV_16SC1}, {VEX_DEPTH_32S, 1, CV_32SC1},
#else
    {VEX_DEPTH_8U, 1, -1},  {VEX_DEPTH_8U, 3, -1},  {VEX_DEPTH_16U, 1, -1},
    {VEX_DEPTH_16S, 1, -1}, {VEX_DEPTH_32S, 1, -1},
#endif
};

using VexBinary = std::function<void(VexImage*, VexImage*, VexImage*)>;
#if VEX_BENCH_HAVE_OPENCV
using CvBinary = std::function<void(const cv::Mat&, const cv::Mat&, cv::Mat&)>;
#endif

struct Family {
    const char* name;
    VexBinary vex;  // (srcA, srcB, dst); one-source operations ignore srcB
#if VEX_BENCH_HAVE_OPENCV
    CvBinary cv;
    bool cvHas32S;
#endif
};

#if VEX_BENCH_HAVE_OPENCV
// vexThreshold gives the minimum below t and the maximum from t up; for
// unsigned and 16S data THRESH_BINARY with t - 1 and the depth's maximum
// gives the same samples except the minimum of 16S (OpenCV writes 0).
double cvMax(int type) {
    switch (CV_MAT_DEPTH(type)) {
        case CV_8U: return 255;
        case CV_16U: return 65535;
        default: return 32767;
    }
}
#endif

const Family kFamilies[] = {
    {"add", [](VexImage* a, VexImage* b, VexImage* d) { vexAdd(a, b, d, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat& b, cv::Mat& d) { cv::add(a, b, d); }, true
#endif
    },
    {"sub", [](VexImage* a, VexImage* b, VexImage* d) { vexSubtract(a, b, d, 0, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat& b, cv::Mat& d) { cv::subtract(a, b, d); }, true
#endif
    },
    {"mul", [](VexImage* a, VexImage* b, VexImage* d) { vexMultiply(a, b, d, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat& b, cv::Mat& d) { cv::multiply(a, b, d); }, true
#endif
    },
    {"and", [](VexImage* a, VexImage* b, VexImage* d) { vexAnd(a, b, d, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat& b, cv::Mat& d) { cv::bitwise_and(a, b, d); }, true
#endif
    },
    {"not", [](VexImage* a, VexImage*, VexImage* d) { vexNot(a, d, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat&, cv::Mat& d) { cv::bitwise_not(a, d); }, true
#endif
    },
    {"threshold", [](VexImage* a, VexImage*, VexImage* d) { vexThreshold(a, d, kThreshold, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
     [](const cv::Mat& a, const cv::Mat&, cv::Mat& d) {
         cv::threshold(a, d, kThreshold - 1, cvMax(a.type()), cv::THRESH_BINARY);
     },
     false
#endif
    },
};

void registerAll() {
    using vexbench::add;
    for (const Family& f : kFamilies) {
        for (const Layout& l : kLayouts) {
            const std::string kase = vexbench::caseName(l.depth, l.channels);
            add(f.name, kase, "vex", [f, l](benchmark::State& st) {
                auto a = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
                auto b = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 2);
                auto d = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 3);
                for (auto _ : st) {
                    f.vex(a.get(), b.get(), d.get());
                    benchmark::ClobberMemory();
                }
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(d.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            if (l.cvType >= 0 && (l.depth != VEX_DEPTH_32S || f.cvHas32S))
                add(f.name, kase, "opencv", [f, l](benchmark::State& st) {
                    cv::Mat a = vexbench::makeMat(kSize, l.cvType, 1), b = vexbench::makeMat(kSize, l.cvType, 2), d = vexbench::makeMat(kSize, l.cvType, 3);
                    for (auto _ : st) {
                        f.cv(a, b, d);
                        benchmark::ClobberMemory();
                    }
                    vexbench::setBytes(st, d.total() * d.elemSize());
                });
#endif
            add(f.name, kase, "memcpy", [l](benchmark::State& st) {
                vexbench::memcpyImages(st, kSize, l.channels, l.depth);
            });
        }
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
