// Two-dimensional FFT and DCT.
//
// fft/<size>: vexRealFft2D, floating-point engine (flags 0x21 | 0x100: the
//   tables are kept, as a caller transforming many images of one size
//   would), 8U source into a 32S CCS destination; against cv::dft on a
//   CV_32F image (its packed CCS output) and, when the build found it,
//   FFTW's single-precision r2c with an FFTW_MEASURE plan made outside the
//   timing (impl "fftw"; its ratio is printed by the benchmark itself as
//   next to the others in the console output).
// dct8x8/1024: vexDCT2D over every 8x8 block of a 1024x1024 8U image into
//   16S (one call per block, regions moved by vexSetROI) against cv::dct per
//   block on CV_32F data.
// dct/1024: vexDCT2D of the whole 1024x1024 image against cv::dct.
// OpenCV's inputs are converted to float before timing and its results
// stay float: the peers do less work than vexlib's integer-in, integer-out
// calls.
#include <cstring>
#include <vector>

#include "benchutil.h"

#if VEX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif
#if VEX_BENCH_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

struct Size {
    int h, w;
    const char* name;
};
const Size kFftSizes[] = {{256, 256, "256"}, {1024, 1024, "1024"}, {2048, 2048, "2048"}, {1000, 1000, "1000"}};

void vexFft(benchmark::State& st, Size s) {
    auto src = vexbench::makeImage(s.h, s.w, 1, VEX_DEPTH_8U, 7);
    auto dst = vexbench::makeImage(s.h, s.w, 1, VEX_DEPTH_32S, 8);
    vexRealFft2D(src.get(), dst.get(), 0x121, nullptr);
    for (auto _ : st) {
        vexRealFft2D(src.get(), dst.get(), 0x121, nullptr);
        benchmark::ClobberMemory();
    }
    vexbench::checkStatus(st);
    vexRealFft2D(nullptr, nullptr, 0x80, nullptr);
}

#if VEX_BENCH_HAVE_OPENCV
cv::Mat randomFloat(int h, int w) {
    cv::Mat m(h, w, CV_8UC1);
    vexbench::fillRandom(m.data, size_t(h) * w, 7);
    cv::Mat f;
    m.convertTo(f, CV_32F);
    return f;
}
void cvFft(benchmark::State& st, Size s) {
    cv::Mat src = randomFloat(s.h, s.w), dst;
    cv::dft(src, dst);
    for (auto _ : st) {
        cv::dft(src, dst);
        benchmark::ClobberMemory();
    }
}
#endif

#if VEX_BENCH_HAVE_FFTW
void fftwFft(benchmark::State& st, Size s) {
    float* in = fftwf_alloc_real(size_t(s.h) * s.w);
    fftwf_complex* out = fftwf_alloc_complex(size_t(s.h) * (s.w / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_2d(s.h, s.w, in, out, FFTW_MEASURE);
    std::vector<unsigned char> bytes(size_t(s.h) * s.w);
    vexbench::fillRandom(bytes.data(), bytes.size(), 7);
    for (size_t i = 0; i < bytes.size(); ++i) in[i] = bytes[i];
    for (auto _ : st) {
        fftwf_execute(plan);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}
#endif

void vexDct8x8(benchmark::State& st) {
    const int n = 1024;
    auto src = vexbench::makeImage(n, n, 1, VEX_DEPTH_8U, 7);
    auto dst = vexbench::makeImage(n, n, 1, VEX_DEPTH_16S, 8);
    src->roi = vexCreateROI(0, 0, 0, 8, 8);
    dst->roi = vexCreateROI(0, 0, 0, 8, 8);
    for (auto _ : st) {
        for (int y = 0; y < n; y += 8)
            for (int x = 0; x < n; x += 8) {
                vexSetROI(src->roi, 0, x, y, 8, 8);
                vexSetROI(dst->roi, 0, x, y, 8, 8);
                vexDCT2D(src.get(), dst.get(), VEX_DCT_FORWARD);
            }
        benchmark::ClobberMemory();
    }
    vexbench::checkStatus(st);
}

void vexDctWhole(benchmark::State& st) {
    const int n = 1024;
    auto src = vexbench::makeImage(n, n, 1, VEX_DEPTH_8U, 7);
    auto dst = vexbench::makeImage(n, n, 1, VEX_DEPTH_16S, 8);
    for (auto _ : st) {
        vexDCT2D(src.get(), dst.get(), VEX_DCT_FORWARD);
        benchmark::ClobberMemory();
    }
    vexbench::checkStatus(st);
}

#if VEX_BENCH_HAVE_OPENCV
void cvDct8x8(benchmark::State& st) {
    const int n = 1024;
    cv::Mat src = randomFloat(n, n), dst(n, n, CV_32F);
    for (auto _ : st) {
        for (int y = 0; y < n; y += 8)
            for (int x = 0; x < n; x += 8) {
                const cv::Rect r(x, y, 8, 8);
                cv::Mat out = dst(r);
                cv::dct(src(r), out);
            }
        benchmark::ClobberMemory();
    }
}
void cvDctWhole(benchmark::State& st) {
    const int n = 1024;
    cv::Mat src = randomFloat(n, n), dst;
    for (auto _ : st) {
        cv::dct(src, dst);
        benchmark::ClobberMemory();
    }
}
#endif

const bool kRegistered = [] {
    for (const Size& s : kFftSizes) {
        vexbench::add("fft", s.name, "vex", [s](benchmark::State& st) { vexFft(st, s); });
#if VEX_BENCH_HAVE_OPENCV
        vexbench::add("fft", s.name, "opencv", [s](benchmark::State& st) { cvFft(st, s); });
#endif
#if VEX_BENCH_HAVE_FFTW
        vexbench::add("fft", s.name, "fftw", [s](benchmark::State& st) { fftwFft(st, s); });
#endif
    }
    vexbench::add("dct8x8", "1024", "vex", vexDct8x8);
    vexbench::add("dct", "1024", "vex", vexDctWhole);
#if VEX_BENCH_HAVE_OPENCV
    vexbench::add("dct8x8", "1024", "opencv", cvDct8x8);
    vexbench::add("dct", "1024", "opencv", cvDctWhole);
#endif
    return true;
}();

}  // namespace

VEX_BENCH_MAIN()
