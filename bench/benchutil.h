// Shared scaffolding of the vexlib benchmarks (bench/bench_*.cpp).
//
// Naming convention: every benchmark is registered as
//
//     family/case/impl
//
//   family  what is measured, e.g. "copy", "set", "mirror0", "add"
//   case    the image layout, e.g. "8u_c1", "8u_c3", "16u_c1"
//   impl    "vex" (this library), "opencv" (the peer, only when the build
//           found OpenCV) or "memcpy" (a raw memory pass over the same
//           bytes: memcpy for operations that read and write, memset for
//           fills; the speed of light for data movement)
//
// Register with vexbench::add(family, case, impl, fn); fn is an ordinary
// Google Benchmark function `void fn(benchmark::State&)`. add() measures
// real (wall) time, reports microseconds and returns the Benchmark* for
// further settings.
//
// End the file with VEX_BENCH_MAIN(). That main:
//   - limits OpenCV to one thread (cv::setNumThreads(1)) when it is linked,
//     so every implementation runs single-threaded like vexlib;
//   - runs the benchmarks with the normal console output (all Google
//     Benchmark flags work, e.g. --benchmark_filter=copy/);
//   - collects the real time per iteration of every run with a reporter of
//     its own (the median when --benchmark_repetitions is above 1);
//   - then prints one table row per family/case: vex, opencv and memcpy
//     times, and the ratios vex/opencv and vex/memcpy (below 1: vex faster).
//
// The program is compiled with VEX_BENCH_HAVE_OPENCV=1 when OpenCV was
// found; benchmark files guard their OpenCV cases with it.
//
// Helpers for images: vexbench::Image (an owned VexImage filled with
// pseudo-random samples, fixed key, all pages touched before timing) and
// vexbench::bytesOf(). Call vexbench::checkStatus(state) after the timed
// loop to turn a library error into a skipped benchmark with its message.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vexlib.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace vexbench {

// ------------------------------------------------------------ images

struct ImageDeleter {
    void operator()(VexImage* img) const { vexDeallocate(img, VEX_IMAGE_ALL); }
};
using Image = std::unique_ptr<VexImage, ImageDeleter>;

// Fills `n` bytes with a fixed pseudo-random sequence (xorshift, key `key`).
inline void fillRandom(void* data, size_t n, uint32_t key) {
    uint32_t s = key | 1u;
    auto* p = static_cast<unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        p[i] = static_cast<unsigned char>(s >> 24);
    }
}

// Pixel memory of the images a case makes, kept for the whole process. A
// memory-bound call measures up to twice as slow on some freshly mapped
// pages as on others (the same code, from run to run), so the images of a
// case would carry the luck of their placement into its ratio. Inside a
// case (a function registered with add()), the n-th image or peer matrix it
// makes takes the n-th block of this pool, grown when too small: vexlib's
// case and the peer's, made in the same order, run on the very same pages,
// and no timed call touches a page for the first time. Outside a case
// (null) the caller allocates as usual.
struct BlockPool {
    std::vector<std::pair<void*, size_t>> blocks;
    size_t next = 0;
    bool inCase = false;
};
inline BlockPool& blockPool() {
    static BlockPool pool;
    return pool;
}
inline void* pooledBlock(size_t bytes) {
    BlockPool& p = blockPool();
    if (!p.inCase) return nullptr;
    if (p.next == p.blocks.size()) p.blocks.push_back({nullptr, 0});
    auto& b = p.blocks[p.next++];
    if (b.second < bytes) {
        std::free(b.first);
        const size_t rounded = (bytes + 4095) / 4096 * 4096;
        b = {std::aligned_alloc(4096, rounded), rounded};
        if (!b.first) {
            std::fprintf(stderr, "benchmark: cannot allocate %zu bytes\n", bytes);
            std::exit(1);
        }
    }
    return b.first;
}

// An allocated untiled pixel-order image, align `align`, random content.
// Ends the program when the image cannot be made.
inline Image makeImage(int height, int width, int nChannels, unsigned depth, uint32_t key = 1,
                       int align = 4) {
    static const char* const kSeq[5] = {"", "G\0\0", "GA\0", "RGB", "RGBA"};
    static const char* const kSpace[5] = {"", "GRAY", "GRAY", "RGB", "RGBA"};
    const int c = std::min(4, std::max(1, nChannels));
    VexImage* img = vexCreateImageHeader(nChannels, 0, static_cast<int>(depth), kSpace[c], kSeq[c],
                                         VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, align, height, width, nullptr,
                                         nullptr, nullptr);
    if (img) {
        if (void* block = pooledBlock(static_cast<size_t>(img->dataSize)))
            img->imageData = static_cast<char*>(block);  // dataBlock stays null: the pool keeps it
        else
            vexAllocateImage(img, -1);
    }
    if (!img || !img->imageData) {
        std::fprintf(stderr, "benchmark: cannot make a %dx%d image of %d channels\n", height, width, nChannels);
        std::exit(1);
    }
    fillRandom(img->imageData, static_cast<size_t>(img->dataSize), key);
    return Image(img);
}

// Bytes of pixel data the image holds (row padding included).
// Bytes moved per call, for Google Benchmark's throughput column.
inline void setBytes(benchmark::State& state, size_t bytesPerCall) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytesPerCall));
}

#if VEX_BENCH_HAVE_OPENCV
// A square OpenCV peer image filled like makeImage (row by row).
inline cv::Mat makeMat(int size, int cvType, uint32_t key) {
    const size_t bytes = size_t(size) * size * CV_ELEM_SIZE(cvType);
    void* block = pooledBlock(bytes);
    cv::Mat m = block ? cv::Mat(size, size, cvType, block) : cv::Mat(size, size, cvType);
    for (int y = 0; y < m.rows; ++y) fillRandom(m.ptr(y), m.cols * m.elemSize(), key + y);
    return m;
}
#endif

inline size_t bytesOf(const VexImage* img) { return static_cast<size_t>(img->dataSize); }

// The memcpy case: one image's bytes copied into another of the same layout.
inline void memcpyImages(benchmark::State& st, int size, int nChannels, unsigned depth) {
    auto src = makeImage(size, size, nChannels, depth, 1);
    auto dst = makeImage(size, size, nChannels, depth, 2);
    const size_t n = bytesOf(src.get());
    for (auto _ : st) {
        std::memcpy(dst->imageData, src->imageData, n);
        benchmark::ClobberMemory();
    }
    setBytes(st, n);
}

// Depth name for case names: "8u", "16u", ...
inline const char* depthTag(unsigned depth) {
    switch (depth) {
        case VEX_DEPTH_1U: return "1u";
        case VEX_DEPTH_8U: return "8u";
        case VEX_DEPTH_8S: return "8s";
        case VEX_DEPTH_16U: return "16u";
        case VEX_DEPTH_16S: return "16s";
        case VEX_DEPTH_32S: return "32s";
        default: return "?";
    }
}

// "8u_c3" style case name.
inline std::string caseName(unsigned depth, int nChannels) {
    return std::string(depthTag(depth)) + "_c" + std::to_string(nChannels);
}

// Library errors are counted silently; checkStatus() turns them into a
// skipped benchmark so a failing call is never reported as a fast one.
inline int silentReport(int status, const char*, const char*, const char*, int) { return status; }

inline void quietLibrary() {
    vexSetErrMode(VEX_ErrModeSilent);
    vexRedirectError(silentReport);
    vexSetErrStatus(VEX_StsOk);
}

inline bool checkStatus(benchmark::State& state) {
    const int status = vexGetErrStatus();
    if (status >= 0) return true;
    state.SkipWithError(vexErrorStr(status));
    vexSetErrStatus(VEX_StsOk);
    return false;
}

// ------------------------------------------------------------ registration

struct Key {
    std::string family, kase, impl;
};

inline Key splitName(const std::string& name) {
    Key k;
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t pos = name.find('/', start);
        parts.push_back(name.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) break;
        start = pos + 1;
    }
    if (parts.size() >= 3) {
        k.family = parts[0];
        k.kase = parts[1];
        k.impl = parts[2];
    } else {
        k.family = name;
    }
    return k;
}

// Registration order of family/case rows, for the summary table.
inline std::vector<std::string>& rowOrder() {
    static std::vector<std::string> order;
    return order;
}

template <class Fn>
benchmark::internal::Benchmark* add(const std::string& family, const std::string& kase, const std::string& impl,
                                    Fn&& fn) {
    const std::string row = family + "/" + kase;
    auto& order = rowOrder();
    if (std::find(order.begin(), order.end(), row) == order.end()) order.push_back(row);
    auto inCase = [fn = std::forward<Fn>(fn)](benchmark::State& st) mutable {
        BlockPool& p = blockPool();
        p.next = 0;
        p.inCase = true;
        fn(st);
        p.inCase = false;
    };
    return benchmark::RegisterBenchmark((row + "/" + impl).c_str(), std::move(inCase))
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
}

// ------------------------------------------------------------ reporting

// Console output as usual, plus the real time of every iteration run.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            const double seconds = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
            const Key k = splitName(r.run_name.function_name);
            times_[k.family + "/" + k.kase][k.impl].push_back(seconds * 1e6);
        }
    }

    // Median over repetitions, in microseconds; negative when absent.
    double micros(const std::string& row, const std::string& impl) const {
        auto it = times_.find(row);
        if (it == times_.end()) return -1;
        auto jt = it->second.find(impl);
        if (jt == it->second.end() || jt->second.empty()) return -1;
        std::vector<double> v = jt->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    void printSummary(FILE* out) const {
        std::fprintf(out, "\nSummary (real time per call, microseconds; ratio < 1 means vex is faster)\n");
        std::fprintf(out, "%-32s %12s %12s %12s %11s %11s\n", "family/case", "vex", "opencv", "memcpy",
                     "vex/opencv", "vex/memcpy");
        auto cell = [](double v, char* buf, size_t n) {
            if (v < 0) std::snprintf(buf, n, "-");
            else std::snprintf(buf, n, "%.1f", v);
        };
        auto ratio = [](double a, double b, char* buf, size_t n) {
            if (a < 0 || b <= 0) std::snprintf(buf, n, "-");
            else std::snprintf(buf, n, "%.2f", a / b);
        };
        for (const std::string& row : rowOrder()) {
            const double v = micros(row, "vex"), o = micros(row, "opencv"), m = micros(row, "memcpy");
            if (v < 0 && o < 0 && m < 0) continue;  // filtered out
            char sv[32], so[32], sm[32], r1[32], r2[32];
            cell(v, sv, sizeof sv);
            cell(o, so, sizeof so);
            cell(m, sm, sizeof sm);
            ratio(v, o, r1, sizeof r1);
            ratio(v, m, r2, sizeof r2);
            std::fprintf(out, "%-32s %12s %12s %12s %11s %11s\n", row.c_str(), sv, so, sm, r1, r2);
        }
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> times_;
};

inline int runMain(int argc, char** argv) {
#if VEX_BENCH_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    quietLibrary();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary(stdout);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vexbench

#define VEX_BENCH_MAIN() \
    int main(int argc, char** argv) { return vexbench::runMain(argc, argv); }
