// Box blur: the mean of an nRows x nCols window by running sums. Every
// column keeps the sum of its nRows window samples (the entering row added
// and the leaving row taken off in one sweep); along a row the window sum
// is the difference of two running sums of the column sums, formed in
// vector registers (AVX2), or, in the portable form, the sum of doubling
// blocks of columns (log2(nCols) sweeps). The cost per sample does not
// depend on the window's height, and hardly on its width.
//
// 8U data with AVX2 takes the other order where every sum along a row fits
// 16 bits: each source row's window sums along the row are formed once,
// when the row enters the window (16-bit lanes), and kept until it leaves;
// the window sums move down a row by the entering row's sums minus the
// leaving row's, in 16-bit lanes, or in 32-bit lanes where they pass 16
// bits (a 31x31 window), while everything along the row stays 16-bit.
// Where the processor has AVX-512 (F, BW and VL), those 32-bit window sums
// move and are scaled 16 lanes at a time in the same sweep.
//
// The mean is the window sum times the single-precision weight
// 1/(nRows*nCols), cut off towards zero (a float-to-integer conversion
// truncates in C++, whatever the rounding mode), then limited to the
// depth's range.
//
// Decisions of this library:
//  - nRows or nCols 0 pass the checks; such a window has no mean, so the
//    call writes nothing and reports nothing.
//  - Depths 8U, 8S, 16U, 16S and 32S are blurred; signed data gets signed
//    sums. Sums are 16-bit (8-bit data) or 32-bit where the largest window
//    sum fits them, else 64-bit.
//  - Channels follow the separable convolution: the smaller channel count,
//    or the one channel of interest (each side's own, or one side's on both).
//  - The working parameters live in the call, not in process-wide
//    variables, so calls on different threads do not disturb each other.
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_BLUR_AVX2 1
#endif

using namespace vex;

namespace {

const OwnSite kBlurSite{"vexBlur", "vexBlur"};

// Sums are formed in the unsigned type of their width: every column sum and
// every partial window sum is a sum of samples the final window sum bounds,
// so the modular result read back in the signed type is exact.
template <class X>
using OwnU = std::make_unsigned_t<X>;

// The window's column sums move down one row: the entering row is added and
// the leaving row taken off, in one sweep.
template <class S, class T>
OWN_CLONES void ownColumnMove(S* __restrict sum, const T* __restrict enter, const T* __restrict leave,
                              int64_t n) {
    using U = OwnU<S>;
    for (int64_t i = 0; i < n; ++i) sum[i] = S(U(U(sum[i]) + U(S(enter[i]))) - U(S(leave[i])));
}
template <class S, class T>
OWN_CLONES void ownColumnAdd(S* __restrict sum, const T* __restrict s, int64_t n) {
    using U = OwnU<S>;
    for (int64_t i = 0; i < n; ++i) sum[i] = S(U(sum[i]) + U(S(s[i])));
}

template <int DK, class H>
OWN_CLONES void ownBlurConvert(typename OwnDepthT<DK>::T* __restrict o, const H* __restrict ws, int64_t n, float w) {
    using T = typename OwnDepthT<DK>::T;
    if constexpr (DK == kD32S) {
        for (int64_t i = 0; i < n; ++i) {
            float f = float(ws[i]) * w;
            f = std::min(std::max(f, float(OwnDepthT<DK>::lo)), float(OwnDepthT<DK>::hi));
            o[i] = f >= 2147483647.0f ? T(INT32_MAX) : T(static_cast<int64_t>(f));
        }
    } else {
        // A mean of 8- or 16-bit samples is far inside the 32-bit range, and
        // cutting off the fraction before limiting to the depth's (integer)
        // bounds gives what limiting first would: integer compares vectorise.
        constexpr int32_t lo = int32_t(OwnDepthT<DK>::lo), hi = int32_t(OwnDepthT<DK>::hi);
        for (int64_t i = 0; i < n; ++i) {
            const int32_t t = static_cast<int32_t>(float(ws[i]) * w);
            o[i] = T(std::min(std::max(t, lo), hi));
        }
    }
}

// Narrow windows: each window sum added up directly from its column sums.
template <class S, class H>
OWN_CLONES void ownBlurDirect(H* __restrict ws, const S* __restrict sum, int64_t m, int lanes, int nCols) {
    using U = OwnU<H>;
    for (int64_t i = 0; i < m; ++i) ws[i] = H(sum[i]);
    for (int c = 1; c < nCols; ++c) {
        const S* __restrict s = sum + int64_t(c) * lanes;
        for (int64_t i = 0; i < m; ++i) ws[i] = H(U(ws[i]) + U(H(s[i])));
    }
}

// Wider windows by doubling: blocks of 2, 4, 8, ... adjacent column sums,
// each level from the one before (b[i] + b[i + half]); the window sum takes
// the blocks of the set bits of nCols side by side. About log2(nCols)
// sweeps whatever the window, every one a plain vector loop.
template <class S, class H>
OWN_CLONES void ownBlockFirst(OwnU<H>* __restrict b, const S* __restrict sum, int64_t len, int lanes) {
    using U = OwnU<H>;
    for (int64_t i = 0; i < len; ++i) b[i] = U(U(H(sum[i])) + U(H(sum[i + lanes])));
}
template <class H>
OWN_CLONES void ownBlockNext(OwnU<H>* __restrict nb, const OwnU<H>* __restrict b, int64_t len, int64_t half) {
    for (int64_t i = 0; i < len; ++i) nb[i] = OwnU<H>(b[i] + b[i + half]);
}
template <class H>
OWN_CLONES void ownBlockTake(H* __restrict ws, const OwnU<H>* __restrict b, int64_t m, bool first) {
    using U = OwnU<H>;
    if (first)
        for (int64_t i = 0; i < m; ++i) ws[i] = H(b[i]);
    else
        for (int64_t i = 0; i < m; ++i) ws[i] = H(U(U(ws[i]) + b[i]));
}

template <class S, class H>
void ownBlurWindows(H* ws, const S* sum, OwnU<H>* ba, OwnU<H>* bb, int64_t m, int lanes, int nCols) {
    if (nCols <= 4) {
        ownBlurDirect<S, H>(ws, sum, m, lanes, nCols);
        return;
    }
    const int64_t n = m + int64_t(nCols - 1) * lanes;  // column sums available
    int64_t off = 0;                                   // columns taken so far
    if (nCols & 1) {
        for (int64_t i = 0; i < m; ++i) ws[i] = H(sum[i]);
        off = 1;
    }
    int64_t len = n - lanes;  // level-1 blocks available
    ownBlockFirst<S, H>(ba, sum, len, lanes);
    for (int64_t k = 1;; ++k) {
        const int64_t size = int64_t(1) << k;
        if (nCols & size) {
            ownBlockTake<H>(ws, ba + off * lanes, m, off == 0);
            off += size;
        }
        if (2 * size > nCols) break;
        len -= size * lanes;
        ownBlockNext<H>(bb, ba, len, size * lanes);
        std::swap(ba, bb);
    }
}

// Window sums as differences of running sums: q[L + j] = q[j] + sum[j] for
// L interleaved lanes (q[0 .. L) = 0), wrapping modulo 2^32 (2^16 where
// every window sum fits 16 bits), so the window at sample i is
// q[i + nCols*L] - q[i], exact because it fits.
// Two sweeps whatever the window.
template <int DK>
OWN_CLONES void ownBlurConvertRun(typename OwnDepthT<DK>::T* __restrict o, const uint32_t* __restrict q,
                                  int64_t m, int64_t span, float w) {
    using T = typename OwnDepthT<DK>::T;
    constexpr int32_t lo = int32_t(OwnDepthT<DK>::lo), hi = int32_t(OwnDepthT<DK>::hi);
    for (int64_t i = 0; i < m; ++i) {
        const int32_t t = static_cast<int32_t>(float(int32_t(q[i + span] - q[i])) * w);
        o[i] = T(std::min(std::max(t, lo), hi));
    }
}

// The same for 16-bit window sums, from 16-bit running sums.
template <int DK>
OWN_CLONES void ownBlurConvertRun16(typename OwnDepthT<DK>::T* __restrict o, const uint16_t* __restrict q,
                                    int64_t m, int64_t span, float w) {
    using T = typename OwnDepthT<DK>::T;
    using H = std::conditional_t<std::is_signed_v<T>, int16_t, uint16_t>;
    constexpr int32_t lo = int32_t(OwnDepthT<DK>::lo), hi = int32_t(OwnDepthT<DK>::hi);
    for (int64_t i = 0; i < m; ++i) {
        const int32_t t = static_cast<int32_t>(float(H(uint16_t(q[i + span] - q[i]))) * w);
        o[i] = T(std::min(std::max(t, lo), hi));
    }
}

// An integer form of the scaling for unsigned 16-bit window sums:
// (s * mul) >> (16 + shift) equals the float mean cut off towards zero,
// f(s) = int32(float(s) * w), for every window sum s in [0, top]. The
// multipliers next to 2^(16 + shift) / area are tried from the finest shift
// down; mul 0 when none matches (the float scaling stays).
//
// Both sides are non-decreasing in s and rise by at most 1 per step (w is
// at most 1/2, the products below 256 are rounded by less than 2^-16, and
// mul < 2^16), so each is fixed by the first sum at which it reaches each
// value v. For the product that sum is ceil(v * 2^k / mul); they agree on
// [0, top] when f reaches v exactly there for every such sum up to top,
// and stays below the next v at top.
struct OwnBlurScale {
    uint32_t mul = 0;
    int shift = 0;
    bool cut = false;  // see ownBlurProductCut
};
bool ownBlurScaleExact(float w, int64_t mul, int k, int64_t top) {
    auto f = [w](int64_t s) { return int64_t(static_cast<int32_t>(float(s) * w)); };
    for (int64_t v = 1;; ++v) {
        const int64_t g = ((v << k) + mul - 1) / mul;  // first sum the product takes to v
        if (g > top) return f(top) < v;
        if (f(g) < v || f(g - 1) >= v) return false;
    }
}
// The finest k in [kLo, kHi] with a multiplier of at most mulMax; shift
// is k - kLo.
OwnBlurScale ownBlurScaleSearch(float w, int64_t area, int64_t top, int kLo, int kHi, int64_t mulMax) {
    OwnBlurScale r;
    if (area < 2) return r;
    for (int k = kHi; k >= kLo; --k) {
        const int64_t base = (int64_t(1) << k) / area;
        for (int64_t mul = base; mul <= base + 1; ++mul) {
            if (mul < 1 || mul > mulMax) continue;
            if (ownBlurScaleExact(w, mul, k, top)) {
                r.mul = uint32_t(mul);
                r.shift = k - kLo;
                return r;
            }
        }
    }
    return r;
}
// 16-bit sums: the high half of the 16-bit product, shifted.
OwnBlurScale ownBlurScale16(float w, int64_t area, int64_t top) {
    if (top > 65535) return OwnBlurScale{};
    return ownBlurScaleSearch(w, area, top, 16, 31, 65535);
}

#if OWN_BLUR_AVX2
// True when, for every sum s in [0, top], the float product cut off
// towards zero equals the exact product s * w cut off (the product's
// rounding to the nearest float never reaches the next integer); a fused
// multiply-add that rounds towards zero then gives the mean at once.
// Between v - 1 and v, the largest s whose exact product stays below v is
// the one to check (a long double holds s * w exactly).
bool ownBlurProductCut(float w, int64_t top) {
    if (!(w > 0.0f) || top < 1 || top > INT32_MAX || double(top) * w >= 8388608.0) return false;
    for (int64_t v = 1; v <= int64_t(double(top) * w) + 1; ++v) {
        int64_t s = int64_t(double(v) / double(w));  // near the last s below v
        while (s > 0 && static_cast<long double>(s) * w >= v) --s;
        while (static_cast<long double>(s + 1) * w < v) ++s;
        if (s <= top && static_cast<int64_t>(float(s) * w) >= v) return false;
    }
    return true;
}
// 32-bit sums: the low 32 bits of the product (which must hold it), shifted.
OwnBlurScale ownBlurScale32(float w, int64_t area, int64_t top) {
    if (top < 1 || top > INT32_MAX) return OwnBlurScale{};
    OwnBlurScale r = ownBlurScaleSearch(w, area, top, 0, 31, int64_t(UINT32_MAX) / top);
    r.cut = r.mul == 0 && ownBlurProductCut(w, top);
    return r;
}
// Running sums in E-bit lanes (16 or 32), N = 16 / sizeof(E) per 128-bit
// half: each half adds its lanes' earlier samples (shifts by L, 2L, 4L
// elements), the high half then the low half's last L sums, and every
// register the previous register's last L sums, element e taking the one of
// its lane. Two registers per step, so the carried chain is one shuffle per
// 2N * 2 samples.
template <int L, class E>
__attribute__((target("avx2"))) __m256i ownPick(int base, bool lowZero) {
    constexpr int N = 16 / int(sizeof(E));
    alignas(32) uint8_t b[32];
    for (int e = 0; e < 2 * N; ++e) {
        const int pos = N - L + (base + e) % L;  // element of the 128-bit half to take
        for (int k = 0; k < int(sizeof(E)); ++k)
            b[int(sizeof(E)) * e + k] = lowZero && e < N ? 0x80 : uint8_t(int(sizeof(E)) * pos + k);
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(b));
}
template <class E>
__attribute__((target("avx2"))) inline __m256i ownAddE(__m256i a, __m256i b) {
    if constexpr (sizeof(E) == 2) return _mm256_add_epi16(a, b);
    else return _mm256_add_epi32(a, b);
}
template <class E, class S>
__attribute__((target("avx2"))) inline __m256i ownLoadE(const S* s) {
    if constexpr (sizeof(E) == sizeof(S))
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    else if constexpr (std::is_signed_v<S>)
        return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    else
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
}
template <int L, class E>
__attribute__((target("avx2"))) inline __m256i ownLocal(__m256i x, __m256i inner) {
    constexpr int N = 16 / int(sizeof(E)), B = int(sizeof(E));
    if constexpr (L < N) x = ownAddE<E>(x, _mm256_slli_si256(x, B * L));
    if constexpr (2 * L < N) x = ownAddE<E>(x, _mm256_slli_si256(x, 2 * B * L));
    if constexpr (4 * L < N) x = ownAddE<E>(x, _mm256_slli_si256(x, 4 * B * L));
    return ownAddE<E>(x, _mm256_shuffle_epi8(_mm256_permute2x128_si256(x, x, 0x08), inner));
}
// Sixteen column sums of 8-bit data moved down one row (entering row added,
// leaving row taken off) and stored back; the moved sums are returned.
template <class S, class T>
__attribute__((target("avx2"))) inline __m256i ownMove16(S* sum, const T* enter, const T* leave) {
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(enter));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(leave));
    const __m256i ew = std::is_signed_v<T> ? _mm256_cvtepi8_epi16(e) : _mm256_cvtepu8_epi16(e);
    const __m256i lw = std::is_signed_v<T> ? _mm256_cvtepi8_epi16(l) : _mm256_cvtepu8_epi16(l);
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum));
    x = _mm256_sub_epi16(_mm256_add_epi16(x, ew), lw);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum), x);
    return x;
}
// The 4N column sums at j as two registers of E lanes, moved first when
// `enter` is given (16-bit sums of 8-bit data only).
template <class E, class S, class T>
__attribute__((target("avx2"))) inline void ownTake(S* sum, const T* enter, const T* leave, int64_t j, __m256i* a,
                                                    __m256i* b) {
    constexpr int N = 16 / int(sizeof(E));
    if constexpr (sizeof(S) == 2 && sizeof(T) == 1) {
        if (enter) {
            if constexpr (sizeof(E) == 2) {
                *a = ownMove16(sum + j, enter + j, leave + j);
                *b = ownMove16(sum + j + 16, enter + j + 16, leave + j + 16);
            } else {
                const __m256i x = ownMove16(sum + j, enter + j, leave + j);
                const __m128i lo = _mm256_castsi256_si128(x), hi = _mm256_extracti128_si256(x, 1);
                *a = std::is_signed_v<S> ? _mm256_cvtepi16_epi32(lo) : _mm256_cvtepu16_epi32(lo);
                *b = std::is_signed_v<S> ? _mm256_cvtepi16_epi32(hi) : _mm256_cvtepu16_epi32(hi);
            }
            return;
        }
    }
    *a = ownLoadE<E>(sum + j);
    *b = ownLoadE<E>(sum + j + 2 * N);
}
template <int L, class E, class S, class T>
__attribute__((target("avx2"))) void ownLanePrefixAvx2(E* q, S* s, const T* enter, const T* leave, int64_t n) {
    constexpr int N = 16 / int(sizeof(E));
    for (int l = 0; l < L; ++l) q[l] = 0;
    const __m256i inner = ownPick<L, E>(12 - N % 12, true);  // high half e: (e - N) % L
    const __m256i own = ownPick<L, E>(0, false);             // e % L
    const __m256i next = ownPick<L, E>(2 * N, false);        // second register: (2N + e) % L
    __m256i carry = _mm256_setzero_si256();
    int64_t j = 0;
    for (; j + 4 * N <= n; j += 4 * N) {
        __m256i x0, x1;
        ownTake<E>(s, enter, leave, j, &x0, &x1);
        x0 = ownLocal<L, E>(x0, inner);
        x1 = ownLocal<L, E>(x1, inner);
        x1 = ownAddE<E>(x1, _mm256_shuffle_epi8(_mm256_permute2x128_si256(x0, x0, 0x11), own));
        const __m256i c = _mm256_permute2x128_si256(carry, carry, 0x11);
        x0 = ownAddE<E>(x0, _mm256_shuffle_epi8(c, own));
        x1 = ownAddE<E>(x1, _mm256_shuffle_epi8(c, next));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + L + j), x0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + L + j + 2 * N), x1);
        carry = x1;
    }
    using U = OwnU<S>;
    for (; j < n; ++j) {
        if (enter) s[j] = S(U(U(s[j]) + U(S(enter[j]))) - U(S(leave[j])));
        q[L + j] = E(q[j] + E(s[j]));
    }
}
template <class E, class S, class T>
void ownLanePrefix(E* q, S* s, const T* enter, const T* leave, int64_t n, int lanes) {
    switch (lanes) {
        case 1: ownLanePrefixAvx2<1, E>(q, s, enter, leave, n); break;
        case 2: ownLanePrefixAvx2<2, E>(q, s, enter, leave, n); break;
        case 3: ownLanePrefixAvx2<3, E>(q, s, enter, leave, n); break;
        default: ownLanePrefixAvx2<4, E>(q, s, enter, leave, n); break;
    }
}
// 8-bit results from the running sums, sixteen per step: the difference,
// the float scaling cut off towards zero, then saturating packs, which
// limit to the depth's range as the plain loop does. Unsigned 16-bit window
// sums with an exact integer scaling take 32 per step: the high half of
// the 16-bit product, shifted (no mean exceeds 255, no limiting needed).
template <int DK, class E>
__attribute__((target("avx2"))) void ownBlurConvertRun8Avx2(typename OwnDepthT<DK>::T* o, const E* q, int64_t m,
                                                            int64_t span, float w, const OwnBlurScale& sc) {
    const __m256 wv = _mm256_set1_ps(w);
    int64_t i = 0;
    if constexpr (sizeof(E) == 2 && DK == kD8U) {
        if (sc.mul) {
            const __m256i mv = _mm256_set1_epi16(int16_t(sc.mul));
            const __m128i sh = _mm_cvtsi32_si128(sc.shift);
            for (; i + 32 <= m; i += 32) {
                const __m256i* a = reinterpret_cast<const __m256i*>(q + i + span);
                const __m256i* b = reinterpret_cast<const __m256i*>(q + i);
                const __m256i d0 = _mm256_sub_epi16(_mm256_loadu_si256(a), _mm256_loadu_si256(b));
                const __m256i d1 = _mm256_sub_epi16(_mm256_loadu_si256(a + 1), _mm256_loadu_si256(b + 1));
                const __m256i r0 = _mm256_srl_epi16(_mm256_mulhi_epu16(d0, mv), sh);
                const __m256i r1 = _mm256_srl_epi16(_mm256_mulhi_epu16(d1, mv), sh);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + i),
                                    _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8));
            }
        }
    }
    for (; i + 16 <= m; i += 16) {
        __m256i a, b;
        if constexpr (sizeof(E) == 2) {
            const __m256i d = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i + span)),
                                               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i)));
            if constexpr (DK == kD8S) {
                a = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(d));
                b = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(d, 1));
            } else {
                a = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(d));
                b = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(d, 1));
            }
        } else {
            a = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i + span)),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i)));
            b = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i + span + 8)),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i + 8)));
        }
        a = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(a), wv));
        b = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(b), wv));
        const __m256i p = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        const __m256i r = DK == kD8U ? _mm256_packus_epi16(p, p) : _mm256_packs_epi16(p, p);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm256_castsi256_si128(_mm256_permute4x64_epi64(r, 0x08)));
    }
    if constexpr (sizeof(E) == 2)
        ownBlurConvertRun16<DK>(o + i, q + i, m - i, span, w);
    else
        ownBlurConvertRun<DK>(o + i, q + i, m - i, span, w);
}
// Sixteen means of 16-bit window sums by the float scaling, as 16-bit
// values in order.
__attribute__((target("avx2"))) inline __m256i ownMeansF16(__m256i x, __m256 wv) {
    const __m256i a = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(x));
    const __m256i b = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(x, 1));
    const __m256i ma = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(a), wv));
    const __m256i mb = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(b), wv));
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(ma, mb), 0xD8);
}
// Rows first (8U), one row of samples x (read through its view, stretch by
// stretch where it lies in pieces): along the row the window sums
// move by one sample's difference, H[p] = H[p - L] + x[p - L + span] -
// x[p - L] (16-bit lanes, exact as every H fits them), 32 at a time as
// running sums of the differences. Each H takes the place of the leaving
// row's in `kept` (the same slot), and the window sums `ws` move down one
// row by the difference. With `o`, the means of the moved sums are
// written. 16-bit window sums are kept in order; 32-bit ones, per sixteen
// samples, as samples 0-3, 8-11, then 4-7, 12-15 (the order the
// 16-to-32-bit unpacks give and the 32-to-16-bit pack undoes); samples
// outside whole steps (the first h0, the last few) stay in order.
struct OwnRowsK {
    __m256 wv;
    __m256i mv;
    __m128i sh;
    bool mul;
};
template <class W>
__attribute__((target("avx2"))) inline __m256i ownRowsMove(__m256i e, uint16_t* kept, W* ws, bool out,
                                                           const OwnRowsK& k) {
    const __m256i d = _mm256_sub_epi16(e, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kept)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(kept), e);
    __m256i* x = reinterpret_cast<__m256i*>(ws);
    if constexpr (sizeof(W) == 2) {
        const __m256i s = _mm256_add_epi16(_mm256_loadu_si256(x), d);
        _mm256_storeu_si256(x, s);
        if (!out) return s;
        return k.mul ? _mm256_srl_epi16(_mm256_mulhi_epu16(s, k.mv), k.sh) : ownMeansF16(s, k.wv);
    } else {
        const __m256i sign = _mm256_srai_epi16(d, 15);
        const __m256i s0 = _mm256_add_epi32(_mm256_loadu_si256(x), _mm256_unpacklo_epi16(d, sign));
        const __m256i s1 = _mm256_add_epi32(_mm256_loadu_si256(x + 1), _mm256_unpackhi_epi16(d, sign));
        _mm256_storeu_si256(x, s0);
        _mm256_storeu_si256(x + 1, s1);
        if (!out) return s0;
        __m256i r0, r1;
        if (k.mul) {
            r0 = _mm256_srl_epi32(_mm256_mullo_epi32(s0, k.mv), k.sh);
            r1 = _mm256_srl_epi32(_mm256_mullo_epi32(s1, k.mv), k.sh);
        } else {
            r0 = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(s0), k.wv));
            r1 = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(s1), k.wv));
        }
        return _mm256_packs_epi32(r0, r1);
    }
}
// One window sum of the row by itself: H[p] = h takes the leaving row's
// place in `kept` and moves the window sum by the difference.
template <class W>
inline void ownRowsMoveOne(uint16_t* kept, W* ws, int64_t p, uint16_t h) {
    const uint16_t d = uint16_t(h - kept[p]);
    kept[p] = h;
    ws[p] = sizeof(W) == 2 ? W(ws[p] + d) : W(ws[p] + W(int32_t(int16_t(d))));
}
// The first h0 window sums one by one (the first L added up), so that the
// steps start at h0 (hc >= L); the last L of them go to the top of `last`
// to start the carried register.
template <int L, class W>
inline void ownRowsHead(const OwnRowView& xv, uint16_t* kept, W* ws, int64_t h0, int64_t span, uint16_t* last) {
    uint16_t h[L] = {};
    int head = 0;
    const uint8_t* x = xv.at<uint8_t>(0, h0 - L + span, head);
    for (int64_t p = 0; p < h0; ++p) {
        if (p < L)
            for (int64_t c = p; c < p + span; c += L) h[p] = uint16_t(h[p] + x[c]);
        else
            h[p % L] = uint16_t(h[p % L] + x[p - L + span] - x[p - L]);
        ownRowsMoveOne<W>(kept, ws, p, h[p % L]);
    }
    for (int64_t t = 0; t < L; ++t) last[16 - L + t] = h[(h0 - L + t) % L];
}
// The sums after the last step (from sample L + j) one by one, continuing
// from the carried register's last L in `last`; then the means of the
// samples outside the steps (kept in order).
template <int L, class W>
inline void ownRowsTail(uint8_t* o, const OwnOut<uint8_t>* to, int r, int64_t off, const OwnRowView& xv,
                        uint16_t* kept, W* ws, int64_t m, int64_t span, int64_t h0, int64_t j, int cur, float w,
                        uint16_t* last) {
    const uint8_t* xt = L + j < m ? xv.at<uint8_t>(j, m - L + span - j, cur) : nullptr;  // samples from j
    for (int64_t p = L + j; p < m; ++p) {
        uint16_t& back = last[16 - L + (p - L - j) % L];  // H[p - L]
        back = uint16_t(back + xt[p - L - j + span] - xt[p - L - j]);
        ownRowsMoveOne<W>(kept, ws, p, back);
    }
    if (o) {
        ownBlurConvert<kD8U, W>(o, ws, h0, w);
        if (L + j < m) ownBlurConvert<kD8U, W>(o + L + j, ws + L + j, m - L - j, w);
    } else if (to) {  // at most L + 31 samples each
        alignas(32) uint8_t part[64];
        ownBlurConvert<kD8U, W>(part, ws, h0, w);
        to->put(r, off, part, h0);
        if (L + j < m) {
            ownBlurConvert<kD8U, W>(part, ws + L + j, m - L - j, w);
            to->put(r, off + L + j, part, m - L - j);
        }
    }
}
// The shuffles that carry the running sums of a step (see ownRowsStep).
struct OwnRowsPicks {
    __m256i inner, own, next;
};
template <int L>
__attribute__((target("avx2"))) inline OwnRowsPicks ownRowsPicks() {
    return OwnRowsPicks{ownPick<L, uint16_t>(4, true),    // high half e: (e - 8) % L
                        ownPick<L, uint16_t>(0, false),   // e % L
                        ownPick<L, uint16_t>(16, false)};  // second register: (16 + e) % L
}
// One step's 32 window sums along the row, H[L + j .. L + j + 31], in two
// registers from samples xj[0 .. 32 + span); `carry` holds the previous
// step's (its last L in the top lanes) and becomes this step's second.
template <int L>
__attribute__((target("avx2"), always_inline)) inline void ownRowsStep(const uint8_t* xj, int64_t span,
                                                                       const OwnRowsPicks& k, __m256i& carry,
                                                                       __m256i& x0, __m256i& x1) {
    const __m128i* a = reinterpret_cast<const __m128i*>(xj);
    const __m128i* b = reinterpret_cast<const __m128i*>(xj + span);
    x0 = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(b)), _mm256_cvtepu8_epi16(_mm_loadu_si128(a)));
    x1 = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(b + 1)), _mm256_cvtepu8_epi16(_mm_loadu_si128(a + 1)));
    x0 = ownLocal<L, uint16_t>(x0, k.inner);
    x1 = ownLocal<L, uint16_t>(x1, k.inner);
    x1 = _mm256_add_epi16(x1, _mm256_shuffle_epi8(_mm256_permute2x128_si256(x0, x0, 0x11), k.own));
    const __m256i c = _mm256_permute2x128_si256(carry, carry, 0x11);
    x0 = _mm256_add_epi16(x0, _mm256_shuffle_epi8(c, k.own));
    x1 = _mm256_add_epi16(x1, _mm256_shuffle_epi8(c, k.next));
    carry = x1;
}
// Where a sweep's step stores its 32 means: into row `o` at sample p, or,
// with `to`, into output row r of the held tiles at sample off + p (a new
// tile looked up when p reaches the current one's end).
struct OwnRowsDest {
    const OwnOut<uint8_t>* to;
    int r;
    int64_t off;
    uintptr_t base;   // sample p goes to base + p while p < tileEnd
    int64_t tileEnd;
    OwnRowsDest(uint8_t* o, const OwnOut<uint8_t>* t, int row, int64_t offset)
        : to(t), r(row), off(offset), base(reinterpret_cast<uintptr_t>(o)), tileEnd(t ? 0 : INT64_MAX) {}
    void* at(int64_t p) {
        if (p >= tileEnd) {
            base = reinterpret_cast<uintptr_t>(to->at(r, off + p, &tileEnd)) - uintptr_t(p);
            tileEnd -= off;
        }
        return reinterpret_cast<void*>(base + uintptr_t(p));
    }
};
// The means go to `o`, or, with `to`, to samples off, off + 1, ... of
// output row r in the held tiles (a step's 32 never cross a tile: the
// steps start on a tile's edge); neither means no output.
template <int L, class W>
__attribute__((target("avx2"))) void ownBlurRowsAvx2(uint8_t* o, const OwnOut<uint8_t>* to, int r, int64_t off,
                                                     const OwnRowView& xv, uint16_t* kept, W* ws, int64_t m,
                                                     int64_t span, int64_t hc, float w, const OwnBlurScale& sc) {
    if (m < L) return;
    const OwnRowsK k{_mm256_set1_ps(w),
                     sizeof(W) == 2 ? _mm256_set1_epi16(int16_t(sc.mul)) : _mm256_set1_epi32(int32_t(sc.mul)),
                     _mm_cvtsi32_si128(sc.shift), sc.mul != 0};
    const int64_t h0 = std::min<int64_t>(hc, m);
    alignas(32) uint16_t last[16] = {};
    ownRowsHead<L, W>(xv, kept, ws, h0, span, last);
    const OwnRowsPicks picks = ownRowsPicks<L>();
    __m256i carry = _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
    const bool out = o != nullptr || to != nullptr;
    OwnRowsDest dest(o, to, r, off);
    int64_t j = h0 - L;  // the step covers samples L + j .. L + j + 31
    int cur = 0;         // the row's regions, read in stretches of at most 32 + span samples
    // Region by region, the steps whose samples j .. j + span + 31 lie in it.
    while (L + j + 32 <= m) {
        const uint8_t* xj = xv.at<uint8_t>(j, 32 + span, cur);
        const int64_t stop = std::min(m - L - 32, xv.r[cur].end - 32 - span);  // the last step's j here
        const int64_t ahead = xv.r[cur].ahead;
        for (; j <= stop; j += 32, xj += 32) {
            if (ahead) __builtin_prefetch(xj + span + ahead);  // the same samples some rows down
            __m256i x0, x1;
            ownRowsStep<L>(xj, span, picks, carry, x0, x1);
            const int64_t p = L + j;
            const __m256i r0 = ownRowsMove<W>(x0, kept + p, ws + p, out, k);
            const __m256i r1 = ownRowsMove<W>(x1, kept + p + 16, ws + p + 16, out, k);
            if (out)
                _mm256_storeu_si256(static_cast<__m256i*>(dest.at(p)),
                                    _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8));
        }
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(last), carry);
    ownRowsTail<L, W>(o, to, r, off, xv, kept, ws, m, span, h0, j, cur, w, last);
}
// The same sweep for 32-bit window sums with AVX-512 (F, BW and VL): each
// 16 differences widen to 16 32-bit lanes in order (so these window sums
// are kept in order throughout). Without an exact integer scaling, the
// means come from one fused multiply-add rounding towards zero where that
// equals the float product cut off (ownBlurProductCut). A step's 32 means
// narrow to bytes in one byte permutation where the processor has it
// (AVX-512 VBMI; written out, as it is the one instruction of that set
// here: blur 31x31 of 4096x4096 8U, 3 channels, 12.7 -> 12.1 ms), else in
// two narrowing moves. Everything along the row stays as above.
// (GCC 12's intrinsics that leave lanes undefined trip its uninitialised
// warning when inlined here.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define OWN_BLUR_512 __attribute__((target("avx512f,avx512bw,avx512vl")))
struct OwnRowsK512 {
    __m512 wv;
    __m512i mv;
    __m128i sh;
    bool mul, cut;
};
// The means as 32-bit lanes whose low byte is the mean.
OWN_BLUR_512 inline __m512i ownRowsMove512(__m256i e, uint16_t* kept, uint32_t* ws, bool out,
                                           const OwnRowsK512& k) {
    const __m256i d = _mm256_sub_epi16(e, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kept)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(kept), e);
    const __m512i s = _mm512_add_epi32(_mm512_loadu_si512(ws), _mm512_cvtepi16_epi32(d));
    _mm512_storeu_si512(ws, s);
    if (!out) return s;
    if (k.mul) return _mm512_srl_epi32(_mm512_mullo_epi32(s, k.mv), k.sh);
    if (k.cut)  // 2^23 + s * w, cut off: the mean in the low bits
        return _mm512_castps_si512(_mm512_fmadd_round_ps(_mm512_cvtepi32_ps(s), k.wv, _mm512_set1_ps(8388608.0f),
                                                         _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    return _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(s), k.wv));
}
// The byte permutation's index: 0, 4, 8, ... (built once, not per row).
struct OwnRowsLow4 {
    alignas(64) uint8_t b[64];
    constexpr OwnRowsLow4() : b{} {
        for (int e = 0; e < 64; ++e) b[e] = uint8_t(4 * e);
    }
};
constexpr OwnRowsLow4 kRowsLow4{};
// The low bytes of a's then b's 32-bit lanes: with `vbmi`, one byte
// permutation (vpermt2b, by `low`: 0, 4, 8, ...), else two narrowing moves.
template <bool vbmi>
OWN_BLUR_512 inline __m256i ownRowsNarrow512(__m512i a, __m512i b, __m512i low) {
    if constexpr (vbmi) {
        __asm__("vpermt2b %2, %1, %0" : "+v"(a) : "v"(low), "v"(b));
        return _mm512_castsi512_si256(a);
    } else {
        return _mm256_set_m128i(_mm512_cvtepi32_epi8(b), _mm512_cvtepi32_epi8(a));
    }
}
template <int L, bool vbmi>
OWN_BLUR_512 void ownBlurRows512(uint8_t* o, const OwnOut<uint8_t>* to, int r, int64_t off, const OwnRowView& xv,
                                 uint16_t* kept, uint32_t* ws, int64_t m, int64_t span, int64_t hc, float w,
                                 const OwnBlurScale& sc) {
    if (m < L) return;
    const OwnRowsK512 k{_mm512_set1_ps(w), _mm512_set1_epi32(int32_t(sc.mul)), _mm_cvtsi32_si128(sc.shift),
                        sc.mul != 0, sc.cut};
    const __m512i low = _mm512_load_si512(kRowsLow4.b);
    const int64_t h0 = std::min<int64_t>(hc, m);
    alignas(32) uint16_t last[16] = {};
    ownRowsHead<L, uint32_t>(xv, kept, ws, h0, span, last);
    const OwnRowsPicks picks = ownRowsPicks<L>();
    __m256i carry = _mm256_load_si256(reinterpret_cast<const __m256i*>(last));
    const bool out = o != nullptr || to != nullptr;
    OwnRowsDest dest(o, to, r, off);
    int64_t j = h0 - L;
    int cur = 0;
    while (L + j + 32 <= m) {
        const uint8_t* xj = xv.at<uint8_t>(j, 32 + span, cur);
        const int64_t stop = std::min(m - L - 32, xv.r[cur].end - 32 - span);
        const int64_t ahead = xv.r[cur].ahead;
        for (; j <= stop; j += 32, xj += 32) {
            if (ahead) __builtin_prefetch(xj + span + ahead);
            __m256i x0, x1;
            ownRowsStep<L>(xj, span, picks, carry, x0, x1);
            const int64_t p = L + j;
            const __m512i r0 = ownRowsMove512(x0, kept + p, ws + p, out, k);
            const __m512i r1 = ownRowsMove512(x1, kept + p + 16, ws + p + 16, out, k);
            if (out) _mm256_storeu_si256(static_cast<__m256i*>(dest.at(p)), ownRowsNarrow512<vbmi>(r0, r1, low));
        }
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(last), carry);
    ownRowsTail<L, uint32_t>(o, to, r, off, xv, kept, ws, m, span, h0, j, cur, w, last);
}
#pragma GCC diagnostic pop
const bool kBlurAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
const bool kBlur512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}();
const bool kBlurVbmi = kBlur512 && __builtin_cpu_supports("avx512vbmi");
#endif

// The running sums serve rows of up to four lanes whose window sums fit 32 bits.
template <class S, class H>
bool ownBlurRunning(int lanes, int nCols) {
#if OWN_BLUR_AVX2
    return kBlurAvx2 && sizeof(H) <= 4 && sizeof(S) <= 4 && lanes <= 4 && nCols > 1;
#else
    (void)lanes, (void)nCols;
    return false;
#endif
}

// With `enter` (only when ownBlurFused), the column sums are first moved
// down one row in the same sweep as the running sums.
template <int DK, class S, class H>
void ownBlurRow(typename OwnDepthT<DK>::T* o, S* sum, const typename OwnDepthT<DK>::T* enter,
                const typename OwnDepthT<DK>::T* leave, H* ws, OwnU<H>* ba, OwnU<H>* bb, int width, int lanes,
                int nCols, float w, bool running, const OwnBlurScale& sc) {
    const int64_t m = int64_t(width) * lanes;
#if OWN_BLUR_AVX2
    if constexpr (sizeof(H) <= 4 && sizeof(S) <= 4 && DK != kD32S) {
        if (running) {
            const int64_t n = m + int64_t(nCols - 1) * lanes, span = int64_t(nCols) * lanes;
            if constexpr (sizeof(H) == 2) {
                auto* q = reinterpret_cast<uint16_t*>(ba);
                ownLanePrefix<uint16_t>(q, reinterpret_cast<OwnU<S>*>(sum), enter, leave, n, lanes);
                if constexpr (DK == kD8U || DK == kD8S) ownBlurConvertRun8Avx2<DK>(o, q, m, span, w, sc);
                else ownBlurConvertRun16<DK>(o, q, m, span, w);
            } else {
                auto* q = reinterpret_cast<uint32_t*>(ba);
                ownLanePrefix<uint32_t>(q, sum, enter, leave, n, lanes);
                if constexpr (DK == kD8U || DK == kD8S) ownBlurConvertRun8Avx2<DK>(o, q, m, span, w, sc);
                else ownBlurConvertRun<DK>(o, q, m, span, w);
            }
            return;
        }
    }
#endif
    (void)running, (void)enter, (void)leave, (void)sc;
    ownBlurWindows<S, H>(ws, sum, ba, bb, m, lanes, nCols);
    ownBlurConvert<DK, H>(o, ws, m, w);
}

#if OWN_BLUR_AVX2
// Rows first serves 8U rows of up to four lanes whose sums along a row fit
// 16 bits (16 bits signed for their differences, with 32-bit window sums),
// while the kept row sums stay moderate (16 MB); the kept sums replace the
// column sums, and a wide window's sums then move down in 32 bits while
// everything along the row stays in 16-bit lanes.
constexpr int64_t kBlurKeptMax = int64_t(1) << 23;
// Rows of fewer samples (a 256-pixel tile of a destination written one
// tile per call; a walk over all tiles hands the body full-width bands) go
// the column-sum way: there the rows-first sweep's cost per row and per
// piece outweighs its gain (measured: 4096x4096 8U into 256x256 tiles, blur
// 5x5, 17.7 ms rows first against 8.1 ms by column sums).
constexpr int64_t kBlurRowsMin = 1024;
template <class W>
bool ownBlurRowsFit(int lanes, int nRows, int nCols, int64_t m) {
    const int64_t rowTop = sizeof(W) == 2 ? 65535 : 32767;
    return kBlurAvx2 && lanes <= 4 && nCols > 1 && 255 * int64_t(nCols) <= rowTop &&
           m >= kBlurRowsMin && m * int64_t(nRows) <= kBlurKeptMax;
}
// The sweep of one row for L lanes: with `wide` (32-bit sums), AVX-512.
template <class W>
using OwnRowsSweep = void (*)(uint8_t*, const OwnOut<uint8_t>*, int, int64_t, const OwnRowView&, uint16_t*, W*,
                              int64_t, int64_t, int64_t, float, const OwnBlurScale&);
template <class W, int L>
OwnRowsSweep<W> ownRowsSweepOf(bool wide) {
    if constexpr (sizeof(W) == 4)
        if (wide)
            return kBlurVbmi && !gOwnNoVbmi.load(std::memory_order_relaxed) ? &ownBlurRows512<L, true>
                                                                            : &ownBlurRows512<L, false>;
    return &ownBlurRowsAvx2<L, W>;
}
// Outputs [x0, x0 + width) of every row, from `part` (their window columns).
// The steps start where the output rows' stores are whole 32-byte blocks
// (judged by the first row), and so do their kept and window sums: slots
// of whole blocks, and the sums placed to match. `keptAt` and `wsAt` are
// 64-byte aligned with 32 elements to spare.
template <class W, class Rows>
void ownBlurRowsPiece(Rows& part, OwnOut<uint8_t>& out, int x0, int width, int nRows, int nCols,
                      uint16_t* keptAt, W* wsAt, float w, const OwnBlurScale& sc) {
    const int L = part.lanes();
    const int64_t m = int64_t(width) * L, span = int64_t(nCols) * L, stride = (m + 15) & ~int64_t(15);
    const int64_t off = int64_t(x0) * L;
    // Held tiles whose rows are whole steps take the means straight (the
    // steps start on the edge of a tile); other rows of held tiles go
    // through the row buffer.
    const bool steps = out.fragmented() && out.fragment() % 32 == 0;
    int64_t hc = L + int64_t((32 - ((reinterpret_cast<uintptr_t>(out.row(0) + off) + L) & 31)) & 31);
    if (steps) {
        int64_t edge;
        out.at(0, off, &edge);
        hc = L + (((edge - off - L) % 32) + 32) % 32;
    }
    // 32-bit window sums take the AVX-512 sweep where the processor has it,
    // their steps then on whole 64-byte lines.
    const bool wide = sizeof(W) == 4 && kBlur512 && !gOwnAvx2Only.load(std::memory_order_relaxed);
    const int64_t perBlock = (wide ? 64 : 32) / int64_t(sizeof(W));
    uint16_t* kept = keptAt + (16 - hc % 16) % 16;
    W* ws = wsAt + (perBlock - hc % perBlock) % perBlock;
    std::fill(kept, kept + stride * nRows, uint16_t(0));
    std::fill(ws, ws + m, W(0));
    const OwnRowsSweep<W> sweep = L == 1   ? ownRowsSweepOf<W, 1>(wide)
                                  : L == 2 ? ownRowsSweepOf<W, 2>(wide)
                                  : L == 3 ? ownRowsSweepOf<W, 3>(wide)
                                           : ownRowsSweepOf<W, 4>(wide);
    // Row e enters the window of output row e - (nRows - 1) in the slot of
    // the row that leaves it (e - nRows); the first nRows - 1 only add.
    for (int64_t e = 0; e < int64_t(out.rows()) + nRows - 1; ++e) {
        const OwnRowView x = part.view(e, 32 + span);
        const int r = int(e - (nRows - 1));
        uint8_t* o = r >= 0 && !steps ? out.row(r) + off : nullptr;
        const OwnOut<uint8_t>* to = r >= 0 && steps ? &out : nullptr;
        uint16_t* slot = kept + stride * (e % nRows);
        sweep(o, to, r, off, x, slot, ws, m, span, hc, w, sc);
        if (o && out.fragmented()) out.put(r, off, o, m);
        else if (o) out.commit(r);
    }
}
// The rows-first sweep over the output columns, in the pieces of
// ownFilterPieces (the middle piece reads its rows in place).
template <class W>
bool ownBlurRowsFirst(OwnRows<uint8_t>& in, OwnOut<uint8_t>& out, int nRows, int nCols, int ax, float w) {
    const int L = in.lanes(), width = out.width();
    const int64_t m = int64_t(width) * L, stride = (m + 15) & ~int64_t(15);
    OwnBlock kb, wb;  // blocks start on a 64-byte line
    uint16_t* kept = kb.alloc<uint16_t>(stride * nRows + 32);
    W* ws = wb.alloc<W>(m + 32);
    if (!kept || !ws) {
        vexError(VEX_StsNoMem, kBlurSite.func, kFilterNoMem, kBlurSite.file, __LINE__);
        return false;
    }
    const int64_t area = int64_t(nRows) * nCols;
    const OwnBlurScale sc =
        sizeof(W) == 2 ? ownBlurScale16(w, area, 255 * area) : ownBlurScale32(w, area, 255 * area);
    // A window that reaches past the image's left or right edge: one sweep
    // over the whole row, its margins read from bordered copies.
    if (!in.inPlace()) {
        OwnSplitRows<uint8_t> split(in, ax, width, 32 + int64_t(nCols) * L);
        if (split.fits()) {
            if (!split.reserve()) {
                vexError(VEX_StsNoMem, kBlurSite.func, kFilterNoMem, kBlurSite.file, __LINE__);
                return false;
            }
            ownBlurRowsPiece<W>(split, out, 0, width, nRows, nCols, kept, ws, w, sc);
            return true;
        }
    }
    return ownFilterPieces(in, out, nCols, ax, [&](OwnRows<uint8_t>& part, int x0, int pw) {
        if (pw <= 0) return true;
        if (!part.reserve(1)) {
            vexError(VEX_StsNoMem, kBlurSite.func, kFilterNoMem, kBlurSite.file, __LINE__);
            return false;
        }
        ownBlurRowsPiece<W>(part, out, x0, pw, nRows, nCols, kept, ws, w, sc);
        return true;
    });
}
#endif

template <int DK, class S, class H>
void ownBlurRun(VexImage* src, VexImage* dst, int nRows, int nCols, const OwnWindow& win,
                const OwnChannels& ch, float w) {
    using T = typename OwnDepthT<DK>::T;
    ownFilterRun<T, T>(kBlurSite, src, dst, win, ch, nullptr, [&](OwnRows<T>& in, OwnOut<T>& out) {
#if OWN_BLUR_AVX2
        if constexpr (DK == kD8U && sizeof(S) == 2) {
            using W = std::conditional_t<sizeof(H) == 2, uint16_t, uint32_t>;
            if (ownBlurRowsFit<W>(in.lanes(), nRows, nCols, int64_t(out.width()) * in.lanes()))
                return ownBlurRowsFirst<W>(in, out, nRows, nCols, int(-win.dx0), w);
        }
#endif
        const int64_t n = in.samples();
        const bool blocks = nCols > 4;
        const bool running = DK != kD32S && ownBlurRunning<S, H>(in.lanes(), nCols);
        OwnBlock sb, wb, ab, bb;
        S* sum = sb.alloc<S>(n);
        H* ws = wb.alloc<H>(int64_t(out.width()) * in.lanes());
        // Block sums, or (running) n + lanes 32-bit running sums.
        OwnU<H>* ba = ab.alloc<OwnU<H>>(running ? (n + in.lanes()) * 4 / int64_t(sizeof(H)) : blocks ? n : 1);
        OwnU<H>* bl = bb.alloc<OwnU<H>>(blocks ? n : 1);
        // The entering and the leaving row are held at once: they must not
        // share a slot of the row store (nRows apart).
        int keep = std::min(nRows + 1, 64);
        while (nRows % keep == 0) ++keep;
        if (!sum || !ws || !ba || !bl || !in.reserve(keep)) {
            vexError(VEX_StsNoMem, kBlurSite.func, kFilterNoMem, kBlurSite.file, __LINE__);
            return false;
        }
        std::fill(sum, sum + n, S(0));
        for (int j = 0; j < nRows; ++j) ownColumnAdd(sum, in.get(j), n);
        // 16-bit column sums of 8-bit data move in the running-sum sweep.
        const bool fused = running && sizeof(S) == 2 && sizeof(T) == 1;
        OwnBlurScale sc;
        const int64_t area = int64_t(nRows) * nCols;
        if (DK == kD8U && running && sizeof(H) == 2) sc = ownBlurScale16(w, area, 255 * area);
        for (int r = 0; r < out.rows(); ++r) {
            const T *enter = nullptr, *leave = nullptr;
            if (r > 0) {
                leave = in.get(int64_t(r) - 1);
                enter = in.get(int64_t(r) + nRows - 1);
                if (!fused) ownColumnMove(sum, enter, leave, n), enter = leave = nullptr;
            }
            ownBlurRow<DK, S, H>(out.row(r), sum, enter, leave, ws, ba, bl, out.width(), in.lanes(), nCols, w,
                                 running, sc);
            out.commit(r);
        }
        return true;
    }, true);
}

template <int DK>
void ownBlurDepth(VexImage* src, VexImage* dst, int nRows, int nCols, const OwnWindow& win,
                  const OwnChannels& ch, float w) {
    const int64_t m = ownMaxAbs(DK);
    const bool col32 = m * nRows <= INT32_MAX;
    const bool acc32 = m * nRows * int64_t(nCols) <= INT32_MAX;
    // 8-bit data: 16-bit window sums wherever the largest one fits them.
    const int64_t area = int64_t(nRows) * nCols;
    if (DK == kD8U && m * area <= 65535) ownBlurRun<DK, uint16_t, uint16_t>(src, dst, nRows, nCols, win, ch, w);
    else if (DK == kD8S && m * area <= 32767) ownBlurRun<DK, int16_t, int16_t>(src, dst, nRows, nCols, win, ch, w);
    else if (DK == kD8U && m * nRows <= 65535 && acc32) ownBlurRun<DK, uint16_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (DK == kD8S && m * nRows <= 32767 && acc32) ownBlurRun<DK, int16_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (col32 && acc32) ownBlurRun<DK, int32_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (col32) ownBlurRun<DK, int32_t, int64_t>(src, dst, nRows, nCols, win, ch, w);
    else ownBlurRun<DK, int64_t, int64_t>(src, dst, nRows, nCols, win, ch, w);
}

}  // namespace

extern "C" VEXAPI void vexBlur(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                               int anchorY) {
    const OwnSite& site = kBlurSite;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth!=dstImage->depth)");
    OWN_CHECK(site, srcImage->depth == VEX_DEPTH_1U, "(srcImage->depth==1)");
    OWN_CHECK(site, nRows < 0 || nCols < 0, "(nRows<0||nCols<0)");
    OWN_CHECK(site, anchorX < 0 || anchorY < 0, "(anchorX<0||anchorY<0)");
    if (nRows == 0 || nCols == 0) return;  // no window, no mean: nothing written

    const float w = 1.0f / float(int64_t(nRows) * nCols);
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    OwnChannels ch{std::min(srcImage->nChannels, dstImage->nChannels), 0, 0};
    if (sc || dc) ch = OwnChannels{1, (sc ? sc : dc) - 1, (dc ? dc : sc) - 1};
    if (ch.src0 >= srcImage->nChannels || ch.dst0 >= dstImage->nChannels) return;
    const OwnWindow win{-int64_t(anchorX), -int64_t(anchorY), nCols, nRows};
    switch (ownDepthIndex(dstImage->depth)) {
        case kD8U: ownBlurDepth<kD8U>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD8S: ownBlurDepth<kD8S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD16U: ownBlurDepth<kD16U>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD16S: ownBlurDepth<kD16S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD32S: ownBlurDepth<kD32S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        default: break;
    }
}
