// Neighbourhood filters on 4096x4096 8U images (1 and 3 channels) against
// single-threaded OpenCV:
//   conv3, conv7     vexConvolve2D (one kernel, shift)   cv::filter2D (float kernel / 2^shift)
//   sep7             vexConvolveSep2D 7 taps             cv::sepFilter2D
//   blur3/15/31      vexBlur                             cv::blur
//   median3/5/7/9/15 vexMedianFilter                     cv::medianBlur
//   max7             vexMaxFilter 7x7                    cv::dilate with a 7x7 rectangle
//   min7             vexMinFilter 7x7                    cv::erode with a 7x7 rectangle
// Both sides write a separate destination of the same size; the border
// rules differ (vexlib: the image's border modes, here replicate; OpenCV:
// its default), which touches only the outermost rows and columns.
#include <functional>
#include <string>
#include <vector>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSize = 4096;

// 3x3 and 7x7 kernels with varied entries (no zeros, no separability used).
const std::vector<signed char> kK3 = {1, 2, 1, 2, 4, 2, 1, 2, 1};
std::vector<signed char> kernel7() {
    std::vector<signed char> v;
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) v.push_back(static_cast<signed char>(1 + (r * 7 + c) % 3));
    return v;
}
const std::vector<signed char> kTaps7 = {1, 6, 15, 20, 15, 6, 1};

struct Case {
    std::string family;
    std::function<void(VexImage*, VexImage*)> vex;
#if VEX_BENCH_HAVE_OPENCV
    std::function<void(const cv::Mat&, cv::Mat&)> cv;
#endif
};

#if VEX_BENCH_HAVE_OPENCV
cv::Mat floatKernel(const std::vector<signed char>& v, int rows, int cols, int shift) {
    cv::Mat k(rows, cols, CV_32F);
    for (int i = 0; i < rows * cols; ++i) k.at<float>(i / cols, i % cols) = float(v[size_t(i)]) / float(1 << shift);
    return k;
}
#endif

std::vector<Case> cases() {
    std::vector<Case> c;
    auto conv = [](const std::vector<signed char>& v, int n, int shift) {
        return [v, n, shift](VexImage* s, VexImage* d) {
            VexConvKernel* k = vexCreateConvKernel(n, n, n / 2, n / 2, v.data(), shift);
            vexConvolve2D(s, d, &k, 1, 0, nullptr);
            vexDeleteConvKernel(k);
        };
    };
    c.push_back({"conv3", conv(kK3, 3, 4)
#if VEX_BENCH_HAVE_OPENCV
                 ,
                 [k = floatKernel(kK3, 3, 3, 4)](const cv::Mat& s, cv::Mat& d) { cv::filter2D(s, d, -1, k); }
#endif
    });
    c.push_back({"conv7", conv(kernel7(), 7, 7)
#if VEX_BENCH_HAVE_OPENCV
                 ,
                 [k = floatKernel(kernel7(), 7, 7, 7)](const cv::Mat& s, cv::Mat& d) { cv::filter2D(s, d, -1, k); }
#endif
    });
    c.push_back({"sep7",
                 [](VexImage* s, VexImage* d) {
                     VexConvKernel* kx = vexCreateConvKernel(1, 7, 3, 0, kTaps7.data(), 6);
                     VexConvKernel* ky = vexCreateConvKernel(7, 1, 0, 3, kTaps7.data(), 6);
                     vexConvolveSep2D(s, d, kx, ky);
                     vexDeleteConvKernel(kx);
                     vexDeleteConvKernel(ky);
                 }
#if VEX_BENCH_HAVE_OPENCV
                 ,
                 [k = floatKernel(kTaps7, 1, 7, 6)](const cv::Mat& s, cv::Mat& d) { cv::sepFilter2D(s, d, -1, k, k); }
#endif
    });
    for (int n : {3, 15, 31})
        c.push_back({"blur" + std::to_string(n), [n](VexImage* s, VexImage* d) { vexBlur(s, d, n, n, n / 2, n / 2); }
#if VEX_BENCH_HAVE_OPENCV
                     ,
                     [n](const cv::Mat& s, cv::Mat& d) { cv::blur(s, d, cv::Size(n, n)); }
#endif
        });
    for (int n : {3, 5, 7, 9, 15})
        c.push_back({"median" + std::to_string(n),
                     [n](VexImage* s, VexImage* d) { vexMedianFilter(s, d, n, n, n / 2, n / 2, nullptr); }
#if VEX_BENCH_HAVE_OPENCV
                     ,
                     [n](const cv::Mat& s, cv::Mat& d) { cv::medianBlur(s, d, n); }
#endif
        });
    c.push_back({"max7", [](VexImage* s, VexImage* d) { vexMaxFilter(s, d, 7, 7, 3, 3, nullptr); }
#if VEX_BENCH_HAVE_OPENCV
                 ,
                 [](const cv::Mat& s, cv::Mat& d) {
                     cv::dilate(s, d, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7)));
                 }
#endif
    });
    c.push_back({"min7", [](VexImage* s, VexImage* d) { vexMinFilter(s, d, 7, 7, 3, 3, nullptr); }
#if VEX_BENCH_HAVE_OPENCV
                 ,
                 [](const cv::Mat& s, cv::Mat& d) {
                     cv::erode(s, d, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7)));
                 }
#endif
    });
    return c;
}

void registerAll() {
    using vexbench::add;
    for (const Case& f : cases()) {
        for (int ch : {1, 3}) {
            const std::string kase = vexbench::caseName(VEX_DEPTH_8U, ch);
            add(f.family, kase, "vex", [f, ch](benchmark::State& st) {
                auto s = vexbench::makeImage(kSize, kSize, ch, VEX_DEPTH_8U, 1);
                auto d = vexbench::makeImage(kSize, kSize, ch, VEX_DEPTH_8U, 2);
                vexSetBorderMode(s.get(), VEX_BORDER_REPLICATE, 15, 0);
                for (auto _ : st) {
                    f.vex(s.get(), d.get());
                    benchmark::ClobberMemory();
                }
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(d.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            add(f.family, kase, "opencv", [f, ch](benchmark::State& st) {
                cv::Mat s = vexbench::makeMat(kSize, CV_8UC(ch), 1), d = vexbench::makeMat(kSize, CV_8UC(ch), 2);
                for (auto _ : st) {
                    f.cv(s, d);
                    benchmark::ClobberMemory();
                }
                vexbench::setBytes(st, d.total() * d.elemSize());
            });
#endif
        }
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
