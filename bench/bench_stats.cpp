// Statistics and morphology on 4096x4096 images: vexErode/vexDilate 3x3
// against cv::erode/cv::dilate, vexComputeHisto against cv::calcHist,
// vexContrastStretch against cv::LUT, vexNorm (maximum, L1, L2) against
// cv::norm, each with a memcpy of the same bytes as the speed of light.
// Single-threaded throughout.
#include <cstring>
#include <functional>
#include <vector>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSize = 4096;

// 257 keys, one per level: 256 bins (histogram) or 256 constant segments
// (mapping).
struct Levels {
    std::vector<int> keys, values;
    VexLUT rec{};
    VexLUT* ptr = &rec;
    Levels() : keys(257), values(257) {
        for (int v = 0; v <= 256; ++v) keys[size_t(v)] = v, values[size_t(v)] = 255 - (v & 255);
        rec = VexLUT{257, keys.data(), values.data(), nullptr, 0};
    }
};

struct Layout {
    unsigned depth;
    int channels;
    int cvType;
};

void registerAll() {
    using vexbench::add;
    std::vector<Layout> layouts = {{VEX_DEPTH_8U, 1, 0}};
#if VEX_BENCH_HAVE_OPENCV
    layouts[0].cvType = CV_8UC1;
#endif
    for (const Layout& l : layouts) {
        const std::string kase = vexbench::caseName(l.depth, l.channels);
        // Two-image operations: erode, dilate, stretch.
        struct Two {
            const char* family;
            std::function<void(VexImage*, VexImage*)> vex;
#if VEX_BENCH_HAVE_OPENCV
            std::function<void(const cv::Mat&, cv::Mat&)> cv;
#endif
        };
        static Levels table;
#if VEX_BENCH_HAVE_OPENCV
        static cv::Mat cvTable = [] {
            cv::Mat t(1, 256, CV_8U);
            for (int v = 0; v < 256; ++v) t.at<uint8_t>(0, v) = uint8_t(255 - v);
            return t;
        }();
#endif
        const Two twos[] = {
            {"erode3x3", [](VexImage* a, VexImage* d) { vexErode(a, d, 1, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a, cv::Mat& d) { cv::erode(a, d, cv::Mat()); }
#endif
            },
            {"dilate3x3", [](VexImage* a, VexImage* d) { vexDilate(a, d, 1, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a, cv::Mat& d) { cv::dilate(a, d, cv::Mat()); }
#endif
            },
            {"stretch-lut", [](VexImage* a, VexImage* d) { vexContrastStretch(a, d, &table.ptr, nullptr); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a, cv::Mat& d) { cv::LUT(a, cvTable, d); }
#endif
            },
        };
        for (const Two& f : twos) {
            add(f.family, kase, "vex", [f, l](benchmark::State& st) {
                auto a = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
                auto d = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 3);
                for (auto _ : st) {
                    f.vex(a.get(), d.get());
                    benchmark::ClobberMemory();
                }
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(d.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            add(f.family, kase, "opencv", [f, l](benchmark::State& st) {
                cv::Mat a = vexbench::makeMat(kSize, l.cvType, 1), d = vexbench::makeMat(kSize, l.cvType, 3);
                for (auto _ : st) {
                    f.cv(a, d);
                    benchmark::ClobberMemory();
                }
                vexbench::setBytes(st, d.total() * d.elemSize());
            });
#endif
            add(f.family, kase, "memcpy", [l](benchmark::State& st) {
                vexbench::memcpyImages(st, kSize, l.channels, l.depth);
            });
        }

        // One-image measures: histogram and norms.
        struct One {
            const char* family;
            std::function<double(VexImage*)> vex;
#if VEX_BENCH_HAVE_OPENCV
            std::function<double(const cv::Mat&)> cv;
#endif
        };
        const One ones[] = {
            {"histogram",
             [](VexImage* a) {
                 vexComputeHisto(a, &table.ptr, nullptr);
                 return double(table.values[0]);
             },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a) {
                 static cv::Mat hist;
                 const int channels[] = {0}, sizes[] = {256};
                 const float range[] = {0, 256};
                 const float* ranges[] = {range};
                 cv::calcHist(&a, 1, channels, cv::Mat(), hist, 1, sizes, ranges);
                 return double(hist.at<float>(0));
             }
#endif
            },
            {"norm-inf", [](VexImage* a) { return vexNorm(a, nullptr, VEX_NORM_INF); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a) { return cv::norm(a, cv::NORM_INF); }
#endif
            },
            {"norm-l1", [](VexImage* a) { return vexNorm(a, nullptr, VEX_NORM_L1); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a) { return cv::norm(a, cv::NORM_L1); }
#endif
            },
            {"norm-l2", [](VexImage* a) { return vexNorm(a, nullptr, VEX_NORM_L2); },
#if VEX_BENCH_HAVE_OPENCV
             [](const cv::Mat& a) { return cv::norm(a, cv::NORM_L2); }
#endif
            },
        };
        for (const One& f : ones) {
            add(f.family, kase, "vex", [f, l](benchmark::State& st) {
                auto a = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
                for (auto _ : st) benchmark::DoNotOptimize(f.vex(a.get()));
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(a.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            add(f.family, kase, "opencv", [f, l](benchmark::State& st) {
                cv::Mat a = vexbench::makeMat(kSize, l.cvType, 1);
                for (auto _ : st) benchmark::DoNotOptimize(f.cv(a));
                vexbench::setBytes(st, a.total() * a.elemSize());
            });
#endif
            add(f.family, kase, "memcpy", [l](benchmark::State& st) {
                vexbench::memcpyImages(st, kSize, l.channels, l.depth);
            });
        }
    }
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
