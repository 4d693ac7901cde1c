// Separable convolution in 32-bit integers: a vertical pass with Ykernel
// over the window rows, a horizontal pass with Xkernel, one arithmetic shift
// by the two kernels' nShiftR together, then a clamp to the destination
// depth. nRows + nCols multiplications per sample.
//
// Sums wrap modulo 2^32 as 32-bit integer arithmetic does (only 32S data
// with large kernels can reach that). When the largest possible vertical
// sum fits in 16 bits, 8-bit data is summed in 16-bit lanes, which gives
// the same integers twice as fast; with AVX2 (or AVX-512) the vertical pass
// then pairs rows in a byte multiply-add (unsigned data) or takes all taps
// per register (signed data), and the horizontal pass pairs taps in a
// 16-bit multiply-add into 32-bit sums. Mirrored horizontal taps (symmetric,
// or antisymmetric) add (subtract) the two sums each mirrored pair of taps
// multiplies first, when twice the vertical bound still fits 16 bits: half
// the multiply-adds. Each source row is fetched once and kept while the
// window covers it. Each nShiftR counts as a shift of 0..31 (its low five
// bits); a total above 31 shifts like 31 (every bit is then the sign).
// With AVX-512 and every vertical tap nonzero (unsigned data), one vertical
// pass makes the sums of two output rows, which share their byte pairs.
//
// Rows that lie inside the image with the whole window are read in place;
// only rows whose window leaves the image are copied with the synthesised
// samples (the filter engine does both). The 8-bit vector path goes
// further: a row whose window reaches past the image's left or right edge
// is read in place over the source region's columns, and only its margins
// are copied.
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

#include <atomic>

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

// A sum shifted and limited to the depth's range: one output sample.
template <int DK>
inline typename OwnDepthT<DK>::T ownSepLimit(int32_t sum, int shift) {
    const int32_t s = sum >> shift;
    return typename OwnDepthT<DK>::T(
        std::min<int32_t>(std::max<int32_t>(s, int32_t(OwnDepthT<DK>::lo)), int32_t(OwnDepthT<DK>::hi)));
}

template <int DK, class A>
OWN_CLONES void ownSepStore(typename OwnDepthT<DK>::T* __restrict o, const A* __restrict acc, int64_t n,
                            int shift) {
    for (int64_t i = 0; i < n; ++i) o[i] = ownSepLimit<DK>(int32_t(acc[i]), shift);
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
// `ahead` is the address of the row expected to enter the window next (0:
// none), whose lines are asked for one per step.
__attribute__((target("avx2"))) void ownSepVerticalPairs(int16_t* v, const uint8_t* const* rows, const int16_t* taps,
                                                         int k, int64_t n, uintptr_t ahead) {
    __m256i w[128];
    for (int j = 0; j < k; j += 2)
        w[j / 2] = _mm256_set1_epi16(int16_t((taps[j] & 0xff) | ((j + 1 < k ? taps[j + 1] & 0xff : 0) << 8)));
    const __m256i z = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        if (ahead && !(i & 63)) __builtin_prefetch(reinterpret_cast<const void*>(ahead + uintptr_t(i)));
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

// lo and hi (sixteen 32-bit sums, as the 16-bit unpacks order them) take
// a * first tap + b * second tap of `pair` (two 16-bit taps, low half the
// first).
__attribute__((target("avx2"), always_inline)) inline void ownSepMadd(__m256i& lo, __m256i& hi, __m256i a, __m256i b,
                                                                     int32_t pair) {
    const __m256i w = _mm256_set1_epi32(pair);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
}
// The sixteen sums of ownSepMadd shifted, limited and stored as 8-bit
// outputs in order.
template <int DK>
__attribute__((target("avx2"), always_inline)) inline void ownSepStore8(typename OwnDepthT<DK>::T* o, __m256i lo,
                                                                       __m256i hi, __m128i cnt) {
    const __m256i s16 = _mm256_packs_epi32(_mm256_sra_epi32(lo, cnt), _mm256_sra_epi32(hi, cnt));
    const __m256i s8 = DK == kD8U ? _mm256_packus_epi16(s16, s16) : _mm256_packs_epi16(s16, s16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(_mm256_permute4x64_epi64(s8, 0x08)));
}
// `pairs` holds the taps two by two as 32-bit words (low half the first);
// v is readable for m + 2 * np * L samples.
template <int DK>
__attribute__((target("avx2"))) void ownSepHorizontal8Avx2(typename OwnDepthT<DK>::T* o, const int16_t* v,
                                                           const int32_t* pairs, int np, int L, int64_t m,
                                                           int shift) {
    const __m128i cnt = _mm_cvtsi32_si128(shift);
    int64_t i = 0;
    for (; i + 16 <= m; i += 16) {
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        for (int p = 0; p < np; ++p) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i + int64_t(2 * p) * L));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i + int64_t(2 * p + 1) * L));
            ownSepMadd(lo, hi, a, b, pairs[p]);
        }
        ownSepStore8<DK>(o + i, lo, hi, cnt);
    }
    for (; i < m; ++i) {
        uint32_t a = 0;
        for (int p = 0; p < 2 * np; ++p)
            a += uint32_t(int32_t(int16_t(uint32_t(pairs[p / 2]) >> (16 * (p & 1))))) * uint32_t(int32_t(v[i + int64_t(p) * L]));
        o[i] = ownSepLimit<DK>(int32_t(a), shift);
    }
}
// q[j] + q[last - j] (Anti: minus), sixteen 16-bit lanes.
template <bool Anti>
__attribute__((target("avx2"), always_inline)) inline __m256i ownSepFold(const int16_t* q, int64_t j, int64_t last) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + j));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + last - j));
    return Anti ? _mm256_sub_epi16(a, b) : _mm256_add_epi16(a, b);
}
// Mirrored taps, x[c] == x[nx-1-c] (Anti: x[c] == -x[nx-1-c], the middle
// one, if any, zero): the two 16-bit sums a mirrored pair of taps multiplies
// are added (subtracted) first, in 16-bit lanes (the caller has checked that
// twice the vertical sums' bound fits them), which halves the multiply-adds.
// The folded terms f[0..nx/2) and, for odd nx and symmetric taps, the middle
// sum go pairwise into the multiply-add as above; `pairs` holds their taps
// (x[0..nx/2), then the middle tap) two by two. Same integers as the
// unfolded sum.
template <int DK, bool Anti>
__attribute__((target("avx2"))) void ownSepMirrored8Avx2(typename OwnDepthT<DK>::T* o, const int16_t* v,
                                                         const int32_t* pairs, int nx, int L, int64_t m,
                                                         int shift) {
    const __m128i cnt = _mm_cvtsi32_si128(shift);
    const int nf = nx / 2;
    const bool mid = !Anti && (nx & 1);
    const int64_t last = int64_t(nx - 1) * L;
    int64_t i = 0;
    for (; i + 16 <= m; i += 16) {
        const int16_t* q = v + i;
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        int c = 0;
        for (; c + 2 <= nf; c += 2) {
            const __m256i a = ownSepFold<Anti>(q, c * L, last), b = ownSepFold<Anti>(q, (c + 1) * L, last);
            ownSepMadd(lo, hi, a, b, pairs[c / 2]);
        }
        if (c < nf || mid) {
            // One folded term left over, the middle sum, or both.
            const __m256i a = c < nf ? ownSepFold<Anti>(q, c * L, last)
                                     : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + int64_t(nf) * L));
            const __m256i b = c < nf && mid
                                  ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + int64_t(nf) * L))
                                  : _mm256_setzero_si256();
            ownSepMadd(lo, hi, a, b, pairs[c / 2]);
        }
        ownSepStore8<DK>(o + i, lo, hi, cnt);
    }
    for (; i < m; ++i) {
        uint32_t a = 0;
        for (int t = 0; t < nf + (mid ? 1 : 0); ++t) {
            const int16_t f = t < nf ? int16_t(Anti ? v[i + int64_t(t) * L] - v[i + last - int64_t(t) * L]
                                                    : v[i + int64_t(t) * L] + v[i + last - int64_t(t) * L])
                                     : v[i + int64_t(nf) * L];
            a += uint32_t(int32_t(int16_t(uint32_t(pairs[t / 2]) >> (16 * (t & 1))))) * uint32_t(int32_t(f));
        }
        o[i] = ownSepLimit<DK>(int32_t(a), shift);
    }
}
// The same passes with AVX-512, 64 (vertical) and 32 (horizontal) samples a
// step; the last partial step goes through masked loads and stores (only
// that one: masked loads of whole steps were slower). The kernels take the
// tap count as a template argument for the common sizes (0: any count), so
// that the loops over the taps unroll.
// (GCC 12's intrinsics that leave lanes undefined trip its uninitialised
// warning when inlined here.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define OWN_SEP_512 __attribute__((target("avx512f,avx512bw,avx512vl")))
#define OWN_SEP_512_INLINE __attribute__((target("avx512f,avx512bw,avx512vl"), always_inline)) inline

// 64 bytes, or the first ones `in` selects and zeros.
template <bool Whole>
OWN_SEP_512_INLINE __m512i ownSepBytes512(const uint8_t* p, __mmask64 in) {
    return Whole ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(in, p);
}
template <bool Whole>
OWN_SEP_512_INLINE __m512i ownSepWords512(const int16_t* p, __mmask32 in) {
    return Whole ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi16(in, p);
}

// Unsigned samples, rows paired in a byte multiply-add as in the AVX2 form.
template <int K, bool Whole>
OWN_SEP_512_INLINE void ownSepVerticalStep512(int16_t* v, const uint8_t* const* rows, const __m512i* w, int k,
                                              int64_t i, int64_t left) {
    const __mmask64 in = Whole ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
    const int kk = K ? K : k;
    __m512i lo = _mm512_setzero_si512(), hi = lo;
    for (int j = 0; j < kk; j += 2) {
        const __m512i a = ownSepBytes512<Whole>(rows[j] + i, in);
        const __m512i b = j + 1 < kk ? ownSepBytes512<Whole>(rows[j + 1] + i, in) : _mm512_setzero_si512();
        lo = _mm512_add_epi16(lo, _mm512_maddubs_epi16(_mm512_unpacklo_epi8(a, b), w[j / 2]));
        hi = _mm512_add_epi16(hi, _mm512_maddubs_epi16(_mm512_unpackhi_epi8(a, b), w[j / 2]));
    }
    // The unpacks work per 128-bit quarter: lo holds samples 0-7, 16-23,
    // 32-39 and 48-55, hi the others; these put them back in order.
    const __m512i x = _mm512_permutex2var_epi64(lo, _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), hi);
    const __m512i y = _mm512_permutex2var_epi64(lo, _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4), hi);
    if (Whole) {
        _mm512_storeu_si512(v + i, x);
        _mm512_storeu_si512(v + i + 32, y);
    } else {
        _mm512_mask_storeu_epi16(v + i, left >= 32 ? ~__mmask32(0) : (__mmask32(1) << left) - 1, x);
        if (left > 32) _mm512_mask_storeu_epi16(v + i + 32, (__mmask32(1) << (left - 32)) - 1, y);
    }
}
template <int K>
OWN_SEP_512 void ownSepVerticalPairs512(int16_t* v, const uint8_t* const* rows, const int16_t* taps, int k,
                                        int64_t n, uintptr_t ahead) {
    __m512i w[128];
    for (int j = 0; j < k; j += 2)
        w[j / 2] = _mm512_set1_epi16(int16_t((taps[j] & 0xff) | ((j + 1 < k ? taps[j + 1] & 0xff : 0) << 8)));
    int64_t i = 0;
    for (; i + 64 <= n; i += 64) {
        if (ahead) __builtin_prefetch(reinterpret_cast<const void*>(ahead + uintptr_t(i)));
        ownSepVerticalStep512<K, true>(v, rows, w, k, i, 64);
    }
    if (i < n) ownSepVerticalStep512<K, false>(v, rows, w, k, i, n - i);
}

// Two output rows at once from the k + 1 rows R[0..k] their windows cover
// (every tap nonzero): row r takes R[0..k), row r + 1 R[1..k], and both
// share the byte pairs (R[2t+1], R[2t+2]), each with its own taps (w0, w1);
// R[0] alone for row r (s0) and, for odd k, R[k] alone for row r + 1 (s1).
template <int K, bool Whole>
OWN_SEP_512_INLINE void ownSepTwoStep512(int16_t* v0, int16_t* v1, const uint8_t* const* R, const __m512i* w0,
                                         const __m512i* w1, __m512i s0, __m512i s1, int k, int64_t i,
                                         int64_t left) {
    const __mmask64 in = Whole ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
    const int kk = K ? K : k;
    const __m512i z = _mm512_setzero_si512();
    const __m512i a0 = ownSepBytes512<Whole>(R[0] + i, in);
    __m512i lo0 = _mm512_maddubs_epi16(_mm512_unpacklo_epi8(a0, z), s0);
    __m512i hi0 = _mm512_maddubs_epi16(_mm512_unpackhi_epi8(a0, z), s0);
    __m512i lo1 = z, hi1 = z;
    if (kk & 1) {
        const __m512i ak = ownSepBytes512<Whole>(R[kk] + i, in);
        lo1 = _mm512_maddubs_epi16(_mm512_unpacklo_epi8(ak, z), s1);
        hi1 = _mm512_maddubs_epi16(_mm512_unpackhi_epi8(ak, z), s1);
    }
    for (int t = 0; 2 * t + 2 <= kk; ++t) {
        const __m512i a = ownSepBytes512<Whole>(R[2 * t + 1] + i, in), b = ownSepBytes512<Whole>(R[2 * t + 2] + i, in);
        const __m512i ul = _mm512_unpacklo_epi8(a, b), uh = _mm512_unpackhi_epi8(a, b);
        lo0 = _mm512_add_epi16(lo0, _mm512_maddubs_epi16(ul, w0[t]));
        hi0 = _mm512_add_epi16(hi0, _mm512_maddubs_epi16(uh, w0[t]));
        lo1 = _mm512_add_epi16(lo1, _mm512_maddubs_epi16(ul, w1[t]));
        hi1 = _mm512_add_epi16(hi1, _mm512_maddubs_epi16(uh, w1[t]));
    }
    const __m512i first = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
    const __m512i second = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
    const __m512i x0 = _mm512_permutex2var_epi64(lo0, first, hi0), y0 = _mm512_permutex2var_epi64(lo0, second, hi0);
    const __m512i x1 = _mm512_permutex2var_epi64(lo1, first, hi1), y1 = _mm512_permutex2var_epi64(lo1, second, hi1);
    if (Whole) {
        _mm512_storeu_si512(v0 + i, x0);
        _mm512_storeu_si512(v0 + i + 32, y0);
        _mm512_storeu_si512(v1 + i, x1);
        _mm512_storeu_si512(v1 + i + 32, y1);
    } else {
        const __mmask32 m0 = left >= 32 ? ~__mmask32(0) : (__mmask32(1) << left) - 1;
        _mm512_mask_storeu_epi16(v0 + i, m0, x0);
        _mm512_mask_storeu_epi16(v1 + i, m0, x1);
        if (left > 32) {
            _mm512_mask_storeu_epi16(v0 + i + 32, (__mmask32(1) << (left - 32)) - 1, y0);
            _mm512_mask_storeu_epi16(v1 + i + 32, (__mmask32(1) << (left - 32)) - 1, y1);
        }
    }
}
// The rows at `ahead` and `ahead + stride` (those expected to enter next;
// ahead 0: none) are asked for a line per step.
template <int K>
OWN_SEP_512 void ownSepTwoRows512(int16_t* v0, int16_t* v1, const uint8_t* const* R, const int16_t* taps, int k,
                                  int64_t n, uintptr_t ahead, uintptr_t stride) {
    __m512i w0[128], w1[128];
    auto pair = [](int lo, int hi) { return int16_t((lo & 0xff) | ((hi & 0xff) << 8)); };
    for (int t = 0; 2 * t + 2 <= k; ++t) {
        w0[t] = _mm512_set1_epi16(pair(taps[2 * t + 1], 2 * t + 2 < k ? taps[2 * t + 2] : 0));
        w1[t] = _mm512_set1_epi16(pair(taps[2 * t], taps[2 * t + 1]));
    }
    const __m512i s0 = _mm512_set1_epi16(pair(taps[0], 0)), s1 = _mm512_set1_epi16(pair(taps[k - 1], 0));
    int64_t i = 0;
    for (; i + 64 <= n; i += 64) {
        if (ahead) {
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + uintptr_t(i)));
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + stride + uintptr_t(i)));
        }
        ownSepTwoStep512<K, true>(v0, v1, R, w0, w1, s0, s1, k, i, 64);
    }
    if (i < n) ownSepTwoStep512<K, false>(v0, v1, R, w0, w1, s0, s1, k, i, n - i);
}

// Thirty-two 32-bit sums (lo: outputs 0-3, 8-11, 16-19, 24-27; hi the
// others) shifted, limited and stored as 8-bit outputs, those `keep` selects.
template <int DK, bool Whole>
OWN_SEP_512_INLINE void ownSepStore512(typename OwnDepthT<DK>::T* o, __m512i lo, __m512i hi, __m128i cnt,
                                       __mmask32 keep) {
    // The 32-to-16-bit pack keeps the order per quarter, so its result is
    // the outputs in order, limited to 16 bits.
    const __m512i s16 = _mm512_packs_epi32(_mm512_sra_epi32(lo, cnt), _mm512_sra_epi32(hi, cnt));
    const __m256i s8 = DK == kD8U ? _mm512_cvtusepi16_epi8(_mm512_max_epi16(s16, _mm512_setzero_si512()))
                                  : _mm512_cvtsepi16_epi8(s16);
    if (Whole) _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), s8);
    else _mm256_mask_storeu_epi8(o, keep, s8);
}
OWN_SEP_512_INLINE void ownSepMadd512(__m512i& lo, __m512i& hi, __m512i a, __m512i b, int32_t pair) {
    const __m512i w = _mm512_set1_epi32(pair);
    lo = _mm512_add_epi32(lo, _mm512_madd_epi16(_mm512_unpacklo_epi16(a, b), w));
    hi = _mm512_add_epi32(hi, _mm512_madd_epi16(_mm512_unpackhi_epi16(a, b), w));
}

// Taps in pairs, np pairs (NP: the same, fixed).
template <int DK, int NP, bool Whole>
OWN_SEP_512_INLINE void ownSepHorizontalStep512(typename OwnDepthT<DK>::T* o, const int16_t* q,
                                                const int32_t* pairs, int np, int L, __m128i cnt, int64_t left) {
    const __mmask32 in = Whole ? ~__mmask32(0) : (__mmask32(1) << left) - 1;
    __m512i lo = _mm512_setzero_si512(), hi = lo;
    for (int t = 0; t < (NP ? NP : np); ++t)
        ownSepMadd512(lo, hi, ownSepWords512<Whole>(q + int64_t(2 * t) * L, in),
                      ownSepWords512<Whole>(q + int64_t(2 * t + 1) * L, in), pairs[t]);
    ownSepStore512<DK, Whole>(o, lo, hi, cnt, in);
}
template <int DK, int NP>
OWN_SEP_512 void ownSepHorizontal512(typename OwnDepthT<DK>::T* o, const int16_t* v, const int32_t* pairs, int np,
                                     int L, int64_t m, int shift) {
    const __m128i cnt = _mm_cvtsi32_si128(shift);
    int64_t i = 0;
    for (; i + 32 <= m; i += 32) ownSepHorizontalStep512<DK, NP, true>(o + i, v + i, pairs, np, L, cnt, 32);
    if (i < m) ownSepHorizontalStep512<DK, NP, false>(o + i, v + i, pairs, np, L, cnt, m - i);
}

// q[j] + q[last - j] (Anti: minus), 32 16-bit lanes.
template <bool Anti, bool Whole>
OWN_SEP_512_INLINE __m512i ownSepFold512(const int16_t* q, int64_t j, int64_t last, __mmask32 in) {
    const __m512i a = ownSepWords512<Whole>(q + j, in), b = ownSepWords512<Whole>(q + last - j, in);
    return Anti ? _mm512_sub_epi16(a, b) : _mm512_add_epi16(a, b);
}
// Mirrored taps (NX: nx, fixed), folded as in the AVX2 form.
template <int DK, bool Anti, int NX, bool Whole>
OWN_SEP_512_INLINE void ownSepMirroredStep512(typename OwnDepthT<DK>::T* o, const int16_t* q, const int32_t* pairs,
                                              int nx, int L, __m128i cnt, int64_t left) {
    const __mmask32 in = Whole ? ~__mmask32(0) : (__mmask32(1) << left) - 1;
    const int n = NX ? NX : nx, nf = n / 2;
    const bool mid = !Anti && (n & 1);
    const int64_t last = int64_t(n - 1) * L;
    __m512i lo = _mm512_setzero_si512(), hi = lo;
    int c = 0;
    for (; c + 2 <= nf; c += 2)
        ownSepMadd512(lo, hi, ownSepFold512<Anti, Whole>(q, c * L, last, in),
                      ownSepFold512<Anti, Whole>(q, (c + 1) * L, last, in), pairs[c / 2]);
    if (c < nf || mid) {
        // One folded term left over, the middle sum, or both.
        const __m512i middle = mid ? ownSepWords512<Whole>(q + int64_t(nf) * L, in) : _mm512_setzero_si512();
        if (c < nf) ownSepMadd512(lo, hi, ownSepFold512<Anti, Whole>(q, c * L, last, in), middle, pairs[c / 2]);
        else ownSepMadd512(lo, hi, middle, _mm512_setzero_si512(), pairs[c / 2]);
    }
    ownSepStore512<DK, Whole>(o, lo, hi, cnt, in);
}
template <int DK, bool Anti, int NX>
OWN_SEP_512 void ownSepMirrored512(typename OwnDepthT<DK>::T* o, const int16_t* v, const int32_t* pairs, int nx,
                                   int L, int64_t m, int shift) {
    const __m128i cnt = _mm_cvtsi32_si128(shift);
    int64_t i = 0;
    for (; i + 32 <= m; i += 32) ownSepMirroredStep512<DK, Anti, NX, true>(o + i, v + i, pairs, nx, L, cnt, 32);
    if (i < m) ownSepMirroredStep512<DK, Anti, NX, false>(o + i, v + i, pairs, nx, L, cnt, m - i);
}
#pragma GCC diagnostic pop
const bool kSep512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}();

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
// Mirror symmetry of the horizontal taps: 1 symmetric, -1 antisymmetric
// (middle tap zero), 0 neither. One tap counts as neither.
int ownSepMirror(const signed char* x, int nx) {
    if (nx < 2) return 0;
    bool sym = true, anti = true;
    for (int c = 0; c < nx; ++c) {
        sym = sym && x[c] == x[nx - 1 - c];
        anti = anti && x[c] == -x[nx - 1 - c];
    }
    return sym ? 1 : anti ? -1 : 0;
}

template <int DK>
void ownSepRun8(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch,
                int64_t vBound) {
    using T = typename OwnDepthT<DK>::T;
    int16_t ytaps[256];
    int rowsOf[256], k = 0;
    for (int j = 0; j < p.ny && k < 256; ++j)
        if (p.y[j] != 0) ytaps[k] = p.y[j], rowsOf[k++] = j;
    // Taps of the horizontal pass, two by two: the folded ones (the first
    // half, the middle one last) when mirrored taps fold into 16 bits.
    const int mirror = 2 * vBound <= 32767 ? ownSepMirror(p.x, p.nx) : 0;
    const int nt = mirror ? p.nx / 2 + (mirror > 0 && (p.nx & 1) ? 1 : 0) : p.nx;
    const int np = (nt + 1) / 2;
    OwnBlock pb;
    int32_t* pairs = pb.alloc<int32_t>(np);
    if (!pairs) {
        vexError(VEX_StsNoMem, kSep.func, kFilterNoMem, kSep.file, __LINE__);
        return;
    }
    for (int q = 0; q < np; ++q) {
        const int lo = p.x[2 * q], hi = 2 * q + 1 < nt ? p.x[2 * q + 1] : 0;
        pairs[q] = int32_t(uint32_t(uint16_t(int16_t(lo))) | (uint32_t(uint16_t(int16_t(hi))) << 16));
    }
    const int64_t ax = -win.dx0;
    const bool wide = kSep512 && !gOwnAvx2Only.load(std::memory_order_relaxed);
    // The AVX-512 kernels for this call: those for 3, 5 and 7 taps (rows
    // taken, taps folded or paired) have the count fixed.
    decltype(&ownSepVerticalPairs512<0>) vertical512 = k == 3 ? &ownSepVerticalPairs512<3>
                                                       : k == 5 ? &ownSepVerticalPairs512<5>
                                                       : k == 7 ? &ownSepVerticalPairs512<7>
                                                                : &ownSepVerticalPairs512<0>;
    decltype(&ownSepTwoRows512<0>) two512 = k == 3 ? &ownSepTwoRows512<3>
                                            : k == 5 ? &ownSepTwoRows512<5>
                                            : k == 7 ? &ownSepTwoRows512<7>
                                                     : &ownSepTwoRows512<0>;
    decltype(&ownSepHorizontal512<DK, 0>) horizontal512 = nullptr;
    if (mirror > 0)
        horizontal512 = p.nx == 3 ? &ownSepMirrored512<DK, false, 3>
                        : p.nx == 5 ? &ownSepMirrored512<DK, false, 5>
                        : p.nx == 7 ? &ownSepMirrored512<DK, false, 7>
                                    : &ownSepMirrored512<DK, false, 0>;
    else if (mirror < 0)
        horizontal512 = p.nx == 3 ? &ownSepMirrored512<DK, true, 3>
                        : p.nx == 5 ? &ownSepMirrored512<DK, true, 5>
                        : p.nx == 7 ? &ownSepMirrored512<DK, true, 7>
                                    : &ownSepMirrored512<DK, true, 0>;
    else
        horizontal512 = np == 2 ? &ownSepHorizontal512<DK, 2>
                        : np == 3 ? &ownSepHorizontal512<DK, 3>
                        : np == 4 ? &ownSepHorizontal512<DK, 4>
                                  : &ownSepHorizontal512<DK, 0>;
    ownFilterRun<T, T>(kSep, src, dst, win, ch, nullptr, [&](OwnRows<T>& whole, OwnOut<T>& out) {
        const int L = whole.lanes(), W = out.width();
        const int64_t n = whole.samples(), m = int64_t(W) * L;
        // Rows that the engine would copy for their few border samples are
        // read in three strips: the source region's own columns in place,
        // the margins (the window's reach left and right of the region)
        // from bordered copies. The vertical sums of all three go into one
        // row, the horizontal pass reads it whole.
        const bool split = !whole.inPlace() && ax >= 0 && ax < p.nx;
        const int a = split ? int(ax) : 0;
        OwnRows<T> left(whole, 0, a), mid(whole, a, W), right(whole, int64_t(a) + W, p.nx - 1 - a);
        OwnRows<T>* parts[3] = {&left, &mid, &right};
        int64_t at[3] = {0, int64_t(a) * L, (int64_t(a) + W) * L};
        if (!split) parts[0] = &whole, parts[1] = parts[2] = nullptr;
        const int64_t lead = (16 - at[1] % 16) % 16;  // the middle strip's sums start on 32 bytes
        // Two output rows per vertical pass where every vertical tap is
        // nonzero (rows r and r + 1 then share their byte pairs).
        const bool two = wide && std::is_unsigned_v<T> && k == p.ny && p.ny >= 2;
        const int R = p.ny + 1;  // ring slots: the window rows of two outputs
        OwnBlock vb, vb2, rb, hb;
        int16_t* v = vb.alloc<int16_t>(lead + n + int64_t(L) + 16);
        int16_t* v2 = vb2.alloc<int16_t>(two ? lead + n + int64_t(L) + 16 : 0);
        const T** rows = rb.alloc<const T*>(int64_t(p.ny) + 1);
        // Each strip's rows, a ring: row i in slot i % R. Rows are asked
        // for once each, in order, so a row stays valid while a window
        // holds it.
        const T** held = hb.alloc<const T*>(3 * int64_t(R));
        bool ok = v && v2 && rows && held;
        for (OwnRows<T>* q : parts) ok = ok && (!q || q->samples() == 0 || q->reserve(R));
        if (!ok) {
            vexError(VEX_StsNoMem, kSep.func, kFilterNoMem, kSep.file, __LINE__);
            return false;
        }
        v += lead;
        v2 += lead;
        std::fill(v + n, v + n + L + 16, int16_t(0));  // the general pass reads past the pairs' last tap
        if (two) std::fill(v2 + n, v2 + n + L + 16, int16_t(0));
        int64_t fetched = 0;  // rows asked for so far; the next goes in slot `slot`
        int slot = 0;
        auto wrap = [R](int i) { return i >= R ? i - R : i; };
        for (int r = 0, b = 0; r < out.rows();) {
            const int step = two && r + 1 < out.rows() ? 2 : 1;
            for (; fetched < int64_t(r) + p.ny + step - 1; ++fetched, slot = wrap(slot + 1))
                for (int s = 0; s < 3; ++s)
                    if (parts[s] && parts[s]->samples() > 0) held[s * R + slot] = parts[s]->get(fetched);
            const int newest = slot == 0 ? R - 1 : slot - 1, before = newest == 0 ? R - 1 : newest - 1;
            for (int s = 0; s < 3; ++s) {
                if (!parts[s] || parts[s]->samples() == 0) continue;
                const T** h = held + s * R;
                // The rows after the newest one (one, or two for a pass of
                // two outputs) are fetched ahead as the pass goes, guessed
                // at the distance of the last two rows (rows read in place
                // are a row step apart; a wrong guess only costs the
                // fetch): the hardware's prefetch does not follow rows a
                // page or more apart. Only for the long strip (the margins
                // are a few samples).
                const uintptr_t apart = uintptr_t(h[newest]) - uintptr_t(h[before]);
                const uintptr_t ahead = s == (split ? 1 : 0) && p.ny > 1 ? uintptr_t(h[newest]) + apart : 0;
                if (step == 2) {
                    for (int j = 0; j <= p.ny; ++j) rows[j] = h[wrap(b + j)];
                    if constexpr (std::is_unsigned_v<T>)
                        two512(v + at[s], v2 + at[s], rows, ytaps, k, parts[s]->samples(), ahead, apart);
                    continue;
                }
                for (int j = 0; j < k; ++j) rows[j] = h[wrap(b + rowsOf[j])];
                if constexpr (std::is_unsigned_v<T>) {
                    if (wide) vertical512(v + at[s], rows, ytaps, k, parts[s]->samples(), ahead);
                    else ownSepVerticalPairs(v + at[s], rows, ytaps, k, parts[s]->samples(), ahead);
                } else ownSepVertical8Avx2(v + at[s], rows, ytaps, k, parts[s]->samples());
            }
            for (int q = 0; q < step; ++q) {
                T* o = out.row(r + q);
                const int16_t* u = q ? v2 : v;
                if (wide) horizontal512(o, u, pairs, mirror ? p.nx : np, L, m, p.shift);
                else if (mirror > 0) ownSepMirrored8Avx2<DK, false>(o, u, pairs, p.nx, L, m, p.shift);
                else if (mirror < 0) ownSepMirrored8Avx2<DK, true>(o, u, pairs, p.nx, L, m, p.shift);
                else ownSepHorizontal8Avx2<DK>(o, u, pairs, np, L, m, p.shift);
                out.commit(r + q);
            }
            r += step;
            b = wrap(b + step);
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
            ownSepRun8<DK>(p, src, dst, win, ch, ownMaxAbs(DK) * sy);
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

namespace vex {
std::atomic<bool> gOwnAvx2Only{false};
// Test hook (not exported): with `on`, the separable convolution's and the
// blur's 8-bit kernels stop at AVX2 on a machine with AVX-512 (see
// gOwnAvx2Only).
void ownAvx2Only(bool on) { gOwnAvx2Only.store(on, std::memory_order_relaxed); }
std::atomic<bool> gOwnNoVbmi{false};
// Test hook (not exported): with `on`, the blur's AVX-512 kernels narrow
// without the VBMI byte permutation (see gOwnNoVbmi).
void ownNoVbmi(bool on) { gOwnNoVbmi.store(on, std::memory_order_relaxed); }
}  // namespace vex

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
