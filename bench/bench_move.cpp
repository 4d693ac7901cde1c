// Data movement: vexCopy, vexSet and vexMirror (flipAxis 0, 1, -1) on
// 4096x4096 images of 8U 1-channel, 8U 3-channel and 16U 1-channel samples,
// against OpenCV (copyTo, setTo, cv::flip with the same flip codes) and a
// raw memcpy/memset of the same bytes. Single-threaded throughout.
#include <cstring>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int kSize = 4096;

struct Layout {
    unsigned depth;
    int channels;
#if VEX_BENCH_HAVE_OPENCV
    int cvType;
#endif
};

const Layout kLayouts[] = {
#if VEX_BENCH_HAVE_OPENCV
    {VEX_DEPTH_8U, 1, CV_8UC1},
    {VEX_DEPTH_8U, 3, CV_8UC3},
    {VEX_DEPTH_16U, 1, CV_16UC1},
#else
    {VEX_DEPTH_8U, 1},
    {VEX_DEPTH_8U, 3},
    {VEX_DEPTH_16U, 1},
#endif
};

void registerAll() {
    using vexbench::add;
    for (const Layout& l : kLayouts) {
        const std::string kase = vexbench::caseName(l.depth, l.channels);

        // ---- copy
        add("copy", kase, "vex", [l](benchmark::State& st) {
            auto src = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
            auto dst = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 2);
            for (auto _ : st) {
                vexCopy(src.get(), dst.get(), nullptr);
                benchmark::ClobberMemory();
            }
            if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(src.get()));
        });
#if VEX_BENCH_HAVE_OPENCV
        add("copy", kase, "opencv", [l](benchmark::State& st) {
            cv::Mat src = vexbench::makeMat(kSize, l.cvType, 1), dst = vexbench::makeMat(kSize, l.cvType, 2);
            for (auto _ : st) {
                src.copyTo(dst);
                benchmark::ClobberMemory();
            }
            vexbench::setBytes(st, src.total() * src.elemSize());
        });
#endif
        add("copy", kase, "memcpy", [l](benchmark::State& st) {
            vexbench::memcpyImages(st, kSize, l.channels, l.depth);
        });

        // ---- set
        add("set", kase, "vex", [l](benchmark::State& st) {
            auto img = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
            for (auto _ : st) {
                vexSet(img.get(), 77, nullptr);
                benchmark::ClobberMemory();
            }
            if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(img.get()));
        });
#if VEX_BENCH_HAVE_OPENCV
        add("set", kase, "opencv", [l](benchmark::State& st) {
            cv::Mat img = vexbench::makeMat(kSize, l.cvType, 1);
            for (auto _ : st) {
                img.setTo(cv::Scalar::all(77));
                benchmark::ClobberMemory();
            }
            vexbench::setBytes(st, img.total() * img.elemSize());
        });
#endif
        add("set", kase, "memcpy", [l](benchmark::State& st) {
            // A fill's raw-memory bound is memset of the same bytes.
            auto img = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
            const size_t n = vexbench::bytesOf(img.get());
            for (auto _ : st) {
                std::memset(img->imageData, 77, n);
                benchmark::ClobberMemory();
            }
            vexbench::setBytes(st, n);
        });

        // ---- mirror: flipAxis 0 (rows reversed), 1 (columns), -1 (both);
        // cv::flip codes 0, 1, -1 mean the same flips.
        for (int axis : {0, 1, -1}) {
            const std::string family = "mirror" + std::to_string(axis);
            add(family, kase, "vex", [l, axis](benchmark::State& st) {
                auto src = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 1);
                auto dst = vexbench::makeImage(kSize, kSize, l.channels, l.depth, 2);
                for (auto _ : st) {
                    vexMirror(src.get(), dst.get(), axis, nullptr);
                    benchmark::ClobberMemory();
                }
                if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(src.get()));
            });
#if VEX_BENCH_HAVE_OPENCV
            add(family, kase, "opencv", [l, axis](benchmark::State& st) {
                cv::Mat src = vexbench::makeMat(kSize, l.cvType, 1), dst = vexbench::makeMat(kSize, l.cvType, 2);
                for (auto _ : st) {
                    cv::flip(src, dst, axis);
                    benchmark::ClobberMemory();
                }
                vexbench::setBytes(st, src.total() * src.elemSize());
            });
#endif
            add(family, kase, "memcpy", [l](benchmark::State& st) {
                vexbench::memcpyImages(st, kSize, l.channels, l.depth);
            });
        }
    }
}

[[maybe_unused]] const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
