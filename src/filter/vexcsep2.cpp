// Separable convolution in 32-bit integers: a vertical pass with Ykernel
// over the window rows, a horizontal pass with Xkernel, one arithmetic shift
// by the two kernels' nShiftR together, then a clamp to the destination
// depth. nRows + nCols multiplications per sample.
//
// Sums wrap modulo 2^32 as 32-bit integer arithmetic does (only 32S data
// with large kernels can reach that). When the largest possible vertical
// sum fits in 16 bits, 8-bit data is summed in 16-bit lanes, which gives
// the same integers twice as fast; with AVX2 the vertical pass then pairs
// rows in a byte multiply-add (unsigned data) or takes all taps per
// register (signed data), and the horizontal pass pairs taps in a 16-bit
// multiply-add into 32-bit sums. Each source row is fetched once and kept
// while the window covers it. Each nShiftR counts as a shift of 0..31
// (its low five bits); a total above 31 shifts like 31 (every bit is then
// the sign).
//
// Rows that lie inside the image with the whole window are read in place;
// only rows whose window leaves the image are copied with the synthesised
// samples (the filter engine does both).
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_SEP_AVX2 1
#endif

using namespace vex;

namespace {

const OwnSite kSep{"vexConvolveSep2D", "vexcsep2"};

template <class A>
inline A ownWrapMulAdd(A acc, int w, A s) {
    if constexpr (sizeof(A) == 4)
        return A(uint32_t(acc) + uint32_t(w) * uint32_t(s));
    else
        return A(acc + A(w) * s);
}

template <class T, class A>
OWN_CLONES void ownSepVertical(A* __restrict v, int64_t n, const T* __restrict s, int w, bool first) {
    if (first)
        for (int64_t i = 0; i < n; ++i) v[i] = ownWrapMulAdd(A(0), w, A(s[i]));
    else
        for (int64_t i = 0; i < n; ++i) v[i] = ownWrapMulAdd(v[i], w, A(s[i]));
}

template <class AV, class A>
OWN_CLONES void ownSepHorizontal(A* __restrict acc, int64_t n, const AV* __restrict v, int w, bool first) {
    if (first)
        for (int64_t i = 0; i < n; ++i) acc[i] = ownWrapMulAdd(A(0), w, A(v[i]));
    else
        for (int64_t i = 0; i < n; ++i) acc[i] = ownWrapMulAdd(acc[i], w, A(v[i]));
}

template <int DK, class A>
OWN_CLONES void ownSepStore(typename OwnDepthT<DK>::T* __restrict o, const A* __restrict acc, int64_t n,
                            int shift) {
    using D = typename OwnDepthT<DK>::T;
    for (int64_t i = 0; i < n; ++i) {
        const int32_t s = int32_t(acc[i]) >> shift;
        o[i] = D(std::min<int32_t>(std::max<int32_t>(s, int32_t(OwnDepthT<DK>::lo)), int32_t(OwnDepthT<DK>::hi)));
    }
}

#if OWN_SEP_AVX2
// 8-bit data whose vertical sums fit 16 bits: the vertical pass pairs rows
// in a byte multiply-add (unsigned samples) or takes all taps for sixteen
// samples at once in a register (signed ones), 16-bit products and sums,
// the same integers; the horizontal pass pairs taps with a multiply-add of
// 16-bit sums into 32-bit lanes (exact: each product is below 2^22), then
// shifts, limits and packs sixteen outputs.
//
// The vertical sums of samples [i, n) one by one, past the last whole step.
template <class T>
void ownSepVerticalRest(int16_t* v, const T* const* rows, const int16_t* taps, int k, int64_t i, int64_t n) {
    for (; i < n; ++i) {
        uint16_t a = 0;
        for (int j = 0; j < k; ++j) a = uint16_t(a + uint16_t(taps[j]) * uint16_t(int16_t(rows[j][i])));
        v[i] = int16_t(a);
    }
}
// Signed samples: sixteen at a time, all taps per register.
__attribute__((target("avx2"))) void ownSepVertical8Avx2(int16_t* v, const int8_t* const* rows, const int16_t* taps,
                                                         int k, int64_t n) {
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i acc = _mm256_setzero_si256();
        for (int j = 0; j < k; ++j) {
            const __m256i x = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + i)));
            acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(x, _mm256_set1_epi16(taps[j])));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + i), acc);
    }
    ownSepVerticalRest(v, rows, taps, k, i, n);
}

// Unsigned samples: rows two by two in one byte multiply-add, 32 samples
// per step. A pair's products stay inside 16 bits signed with no
// saturation, as 255 times the sum of all taps' magnitudes does (the
// condition of the 16-bit lanes).
__attribute__((target("avx2"))) void ownSepVerticalPairs(int16_t* v, const uint8_t* const* rows, const int16_t* taps,
                                                         int k, int64_t n) {
    __m256i w[128];
    for (int j = 0; j < k; j += 2)
        w[j / 2] = _mm256_set1_epi16(int16_t((taps[j] & 0xff) | ((j + 1 < k ? taps[j + 1] & 0xff : 0) << 8)));
    const __m256i z = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i lo = z, hi = z;
        for (int j = 0; j < k; j += 2) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j] + i));
            const __m256i b = j + 1 < k ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j + 1] + i)) : z;
            lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), w[j / 2]));
            hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), w[j / 2]));
        }
        // The unpacks work per 128-bit half: lo holds samples 0-7 and
        // 16-23, hi 8-15 and 24-31.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + i), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + i + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    ownSepVerticalRest(v, rows, taps, k, i, n);
}

// `pairs` holds the taps two by two as 32-bit words (low half the first);
// v is readable for m + 2 * np * L samples.
template <int DK>
__attribute__((target("avx2"))) void ownSepHorizontal8Avx2(typename OwnDepthT<DK>::T* o, const int16_t* v,
                                                           const int32_t* pairs, int np, int L, int64_t m,
                                                           int shift) {
    using T = typename OwnDepthT<DK>::T;
    const __m128i cnt = _mm_cvtsi32_si128(shift);
    int64_t i = 0;
    for (; i + 16 <= m; i += 16) {
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        for (int p = 0; p < np; ++p) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i + int64_t(2 * p) * L));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i + int64_t(2 * p + 1) * L));
            const __m256i w = _mm256_set1_epi32(pairs[p]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        const __m256i s16 = _mm256_packs_epi32(_mm256_sra_epi32(lo, cnt), _mm256_sra_epi32(hi, cnt));
        const __m256i s8 = DK == kD8U ? _mm256_packus_epi16(s16, s16) : _mm256_packs_epi16(s16, s16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm256_castsi256_si128(_mm256_permute4x64_epi64(s8, 0x08)));
    }
    for (; i < m; ++i) {
        uint32_t a = 0;
        for (int p = 0; p < 2 * np; ++p)
            a += uint32_t(int32_t(int16_t(uint32_t(pairs[p / 2]) >> (16 * (p & 1))))) * uint32_t(int32_t(v[i + int64_t(p) * L]));
        const int32_t r = int32_t(a) >> shift;
        o[i] = T(std::min<int32_t>(std::max<int32_t>(r, int32_t(OwnDepthT<DK>::lo)), int32_t(OwnDepthT<DK>::hi)));
    }
}
const bool kSepAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

struct SepPlan {
    const signed char* x;
    int nx;
    const signed char* y;
    int ny;
    int shift;
};

#if OWN_SEP_AVX2
template <int DK>
void ownSepRun8(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch) {
    using T = typename OwnDepthT<DK>::T;
    int16_t ytaps[256];
    int rowsOf[256], k = 0;
    for (int j = 0; j < p.ny && k < 256; ++j)
        if (p.y[j] != 0) ytaps[k] = p.y[j], rowsOf[k++] = j;
    const int np = (p.nx + 1) / 2;
    ownFilterRun<T, T>(kSep, src, dst, win, ch, nullptr, [&](OwnRows<T>& in, OwnOut<T>& out) {
        const int L = in.lanes();
        const int64_t n = in.samples(), m = int64_t(out.width()) * L;
        OwnBlock vb, pb, rb;
        int16_t* v = vb.alloc<int16_t>(n + int64_t(L) + 16);
        int32_t* pairs = pb.alloc<int32_t>(np);
        const T** rows = rb.alloc<const T*>(std::max(k, 1));
        if (!v || !pairs || !rows || !in.reserve(p.ny)) {  // all window rows held at once
            vexError(VEX_StsNoMem, kSep.func, kFilterNoMem, kSep.file, __LINE__);
            return false;
        }
        std::fill(v + n, v + n + L + 16, int16_t(0));
        for (int q = 0; q < np; ++q) {
            const int lo = p.x[2 * q], hi = 2 * q + 1 < p.nx ? p.x[2 * q + 1] : 0;
            pairs[q] = int32_t(uint32_t(uint16_t(int16_t(lo))) | (uint32_t(uint16_t(int16_t(hi))) << 16));
        }
        for (int r = 0; r < out.rows(); ++r) {
            for (int j = 0; j < k; ++j) rows[j] = in.get(int64_t(r) + rowsOf[j]);
            if constexpr (std::is_unsigned_v<T>) ownSepVerticalPairs(v, rows, ytaps, k, n);
            else ownSepVertical8Avx2(v, rows, ytaps, k, n);
            ownSepHorizontal8Avx2<DK>(out.row(r), v, pairs, np, L, m, p.shift);
            out.commit(r);
        }
        return true;
    });
}
#endif

template <int DK, class AV, class A>
void ownSepRun(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch) {
    using T = typename OwnDepthT<DK>::T;
    ownFilterRun<T, T>(kSep, src, dst, win, ch, nullptr, [&](OwnRows<T>& in, OwnOut<T>& out) {
        const int L = in.lanes();
        const int64_t n = in.samples(), m = int64_t(out.width()) * L;
        OwnBlock vb, ab;
        AV* v = vb.alloc<AV>(n);
        A* acc = ab.alloc<A>(m);
        if (!v || !acc || !in.reserve(std::min(p.ny, 64))) {
            vexError(VEX_StsNoMem, kSep.func, kFilterNoMem, kSep.file, __LINE__);
            return false;
        }
        for (int r = 0; r < out.rows(); ++r) {
            bool first = true;
            for (int j = 0; j < p.ny; ++j) {
                if (p.y[j] == 0) continue;
                ownSepVertical<T, AV>(v, n, in.get(int64_t(r) + j), p.y[j], first);
                first = false;
            }
            if (first) std::fill(v, v + n, AV(0));
            first = true;
            for (int c = 0; c < p.nx; ++c) {
                if (p.x[c] == 0) continue;
                ownSepHorizontal<AV, A>(acc, m, v + int64_t(c) * L, p.x[c], first);
                first = false;
            }
            if (first) std::fill(acc, acc + m, A(0));
            ownSepStore<DK, A>(out.row(r), acc, m, p.shift);
            out.commit(r);
        }
        return true;
    });
}

template <int DK>
void ownSepDepth(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch) {
    int64_t sy = 0, sx = 0;
    for (int j = 0; j < p.ny; ++j) sy += p.y[j] < 0 ? -p.y[j] : p.y[j];
    for (int c = 0; c < p.nx; ++c) sx += p.x[c] < 0 ? -p.x[c] : p.x[c];
    // 16-bit lanes wherever the pass's largest sum fits them.
    const bool v16 = DK <= kD8S && ownMaxAbs(DK) * sy <= 32767;
#if OWN_SEP_AVX2
    if constexpr (DK == kD8U || DK == kD8S) {
        if (v16 && kSepAvx2 && p.ny <= 256) {
            ownSepRun8<DK>(p, src, dst, win, ch);
            return;
        }
    }
#endif
    if (v16 && ownMaxAbs(DK) * sy * sx <= 32767)
        ownSepRun<DK, int16_t, int16_t>(p, src, dst, win, ch);
    else if (v16)
        ownSepRun<DK, int16_t, int32_t>(p, src, dst, win, ch);
    else
        ownSepRun<DK, int32_t, int32_t>(p, src, dst, win, ch);
}

}  // namespace

extern "C" VEXAPI void vexConvolveSep2D(VexImage* srcImage, VexImage* dstImage,
                                        const VexConvKernel* Xkernel, const VexConvKernel* Ykernel) {
    const OwnSite& site = kSep;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    ownFail(site, Xkernel == nullptr, "Xkernel==0", __LINE__);
    ownFail(site, Ykernel == nullptr, "Ykernel==0", __LINE__);
    if (vexGetErrStatus() < 0 || !Xkernel || !Ykernel) return;
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    ownFail(site, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth", __LINE__);
    ownFail(site, srcImage->origin != dstImage->origin, "srcImage->origin != dstImage->origin", __LINE__);
    ownFail(site, srcImage->dataOrder != dstImage->dataOrder, "srcImage->dataOrder != dstImage->dataOrder",
            __LINE__);
    ownFail(site, srcImage->nChannels != dstImage->nChannels, "srcImage->nChannels != dstImage->nChannels",
            __LINE__);
    ownFail(site, (srcImage->nChannels > 1 && sc != 0 && dc == 0) || (dc != 0 && sc == 0),
            "nChannels in srcImage ROI != nChannels in dstImage ROI", __LINE__);
    ownFail(site, Xkernel->nCols < 1, "Xkernel->nCols <= 0", __LINE__);
    ownFail(site, Ykernel->nRows < 1, "Ykernel->nRows <= 0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    // Checks of this library beyond those: kernels must hold their entries.
    OWN_CHECK(site, Xkernel->values == nullptr, "Xkernel->values==0");
    OWN_CHECK(site, Ykernel->values == nullptr, "Ykernel->values==0");

    const int dk = ownDepthIndex(dstImage->depth);
    // Channels: the smaller count; with a channel of interest on either
    // side, that one channel (each side's own, or the one side's on both).
    OwnChannels ch{std::min(srcImage->nChannels, dstImage->nChannels), 0, 0};
    if (sc || dc) ch = OwnChannels{1, (sc ? sc : dc) - 1, (dc ? dc : sc) - 1};
    if (ch.src0 >= srcImage->nChannels || ch.dst0 >= dstImage->nChannels) return;
    const SepPlan p{Xkernel->values, Xkernel->nCols, Ykernel->values, Ykernel->nRows,
                    std::min(31, (Xkernel->nShiftR & 31) + (Ykernel->nShiftR & 31))};
    const OwnWindow win{-int64_t(Xkernel->anchorX), -int64_t(Ykernel->anchorY), Xkernel->nCols, Ykernel->nRows};
    switch (dk) {
        case kD1U: ownSepDepth<kD1U>(p, srcImage, dstImage, win, ch); break;
        case kD8U: ownSepDepth<kD8U>(p, srcImage, dstImage, win, ch); break;
        case kD8S: ownSepDepth<kD8S>(p, srcImage, dstImage, win, ch); break;
        case kD16U: ownSepDepth<kD16U>(p, srcImage, dstImage, win, ch); break;
        case kD16S: ownSepDepth<kD16S>(p, srcImage, dstImage, win, ch); break;
        case kD32S: ownSepDepth<kD32S>(p, srcImage, dstImage, win, ch); break;
        default: break;
    }
}
