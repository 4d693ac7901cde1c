// Run kernels of the alpha family. Each has one rule per sample, written
// so that the contiguous loops vectorise (OWN_CLONES compiles them for AVX2
// and for the baseline); the strided loops serve mixed data orders and
// channels of interest. Every path computes the same integers.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#endif

#include "alpha/ownalpha.h"
#include "arith/ownpixel.h"
#include "image/ownsimd.h"

namespace vex {
namespace {

// ---------------------------------------------------------------- Scale runs

template <class T>
OWN_CLONES void ownScaleRunT(const void* a0, int ia, const void* b0, int ib, void* d0, int id,
                             int n) {
    const T* a = static_cast<const T*>(a0);
    const T* b = static_cast<const T*>(b0);
    T* d = static_cast<T*>(d0);
    if (ia == 1 && ib == 1 && id == 1) {
        for (int i = 0; i < n; ++i) d[i] = T(ownScale<T>(uint32_t(a[i]) * b[i]));
        return;
    }
    for (int i = 0; i < n; ++i)
        d[int64_t(i) * id] = T(ownScale<T>(uint32_t(a[int64_t(i) * ia]) * b[int64_t(i) * ib]));
}

template <class T>
OWN_CLONES void ownScaleSRunT(const void* a0, int ia, uint32_t v, void* d0, int id, int n) {
    const T* a = static_cast<const T*>(a0);
    T* d = static_cast<T*>(d0);
    if (ia == 1 && id == 1) {
        for (int i = 0; i < n; ++i) d[i] = T(ownScale<T>(a[i] * v));
        return;
    }
    for (int i = 0; i < n; ++i) d[int64_t(i) * id] = T(ownScale<T>(a[int64_t(i) * ia] * v));
}

template <class T>
OWN_CLONES void ownScaleSInPlaceT(void* d0, int id, uint32_t v, int n) {
    T* d = static_cast<T*>(d0);
    if (id == 1) {
        for (int i = 0; i < n; ++i) d[i] = T(ownScale<T>(d[i] * v));
        return;
    }
    for (int i = 0; i < n; ++i) d[int64_t(i) * id] = T(ownScale<T>(d[int64_t(i) * id] * v));
}

template <class T>
OWN_CLONES void ownScaleByRunT(void* d0, int id, const void* al0, int ial, int n) {
    T* d = static_cast<T*>(d0);
    const T* al = static_cast<const T*>(al0);
    if (id == 1 && ial == 1) {  // planes
        for (int i = 0; i < n; ++i) d[i] = T(ownScale<T>(uint32_t(d[i]) * al[i]));
        return;
    }
    for (int i = 0; i < n; ++i)
        d[int64_t(i) * id] = T(ownScale<T>(uint32_t(d[int64_t(i) * id]) * al[int64_t(i) * ial]));
}

// ---------------------------------------------------------------- two 8U lanes
// A 32-bit word holds two 8-bit samples in bits 0-7 and 16-23; products
// with a factor of at most 255 stay below 2^16 in each half, so Scale runs
// on both halves at once without carries between them.
constexpr uint32_t kLanes = 0x00FF00FFu;

inline uint32_t ownScale2(uint32_t x, uint32_t m) {
    const uint32_t t = x * m;
    return ((t + ((t >> 8) & kLanes) + 0x00010001u) >> 8) & kLanes;
}
// Each half limited to 255 (halves are below 512).
inline uint32_t ownClamp2(uint32_t r) { return (r | (((r >> 8) & 0x00010001u) * 0xFFu)) & kLanes; }

inline uint32_t ownLoad32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void ownStore32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// ---------------------------------------------------------------- operators
// The six operators on premultiplied colours pa, pb with the opacities a, b;
// the result opacity is the same rule with pa = a and pb = b. No result is
// negative (Scale(x * y) <= x for y <= M); results above M are clamped.
template <int Op, class S>
inline uint32_t ownOperator(uint32_t pa, uint32_t pb, uint32_t a, uint32_t b, S scale) {
    switch (Op) {
        case 0: return pa + pb - scale(pb, a);                         // over
        case 1: return scale(pa, b);                                   // in
        case 2: return pa - scale(pa, b);                              // out
        case 3: return scale(pa, b) + pb - scale(pb, a);               // atop
        case 4: return pa - scale(pa, b) + pb - scale(pb, a);          // xor
        default: return pa + pb;                                       // plus
    }
}

template <class T, int Op, bool Premul>
inline T ownCompositeInt(uint32_t A, uint32_t B, uint32_t a, uint32_t b) {
    auto scale = [](uint32_t x, uint32_t y) { return ownScale<T>(x * y); };
    const uint32_t pa = Premul ? A : scale(A, a);
    const uint32_t pb = Premul ? B : scale(B, b);
    const uint32_t r = ownOperator<Op>(pa, pb, a, b, scale);
    return T(r < kAlphaMax<T> ? r : kAlphaMax<T>);
}

// The floating form: fractions alpha = a / M and beta = b / M, exact
// products instead of Scale, the colour divided by the result opacity when
// that exceeds (1/M)^2 / 2 and limited to M, then rounded.
template <class T>
constexpr double kOpacityFloor = (1.0 / kAlphaMax<T>) * (1.0 / kAlphaMax<T>) / 2;

template <int Op>
inline void ownOperatorFloat(double pa, double pb, double al, double be, double* c, double* r) {
    switch (Op) {
        case 0: *c = pa + pb * (1 - al), *r = al + (1 - al) * be; break;
        case 1: *c = pa * be, *r = al * be; break;
        case 2: *c = pa - pa * be, *r = al - al * be; break;
        case 3: *c = pa * be + pb - al * pb, *r = be; break;
        case 4: *c = pa - pa * be + pb - al * pb, *r = al + be - 2 * al * be; break;
        default: *c = pa + pb, *r = al + be; break;
    }
}

template <class T>
inline T ownLimit(uint32_t v) {
    return T(v < kAlphaMax<T> ? v : kAlphaMax<T>);
}

template <class T, int Op, bool Premul>
inline T ownCompositeFloat(uint32_t A, uint32_t B, uint32_t a, uint32_t b) {
    const double M = kAlphaMax<T>;
    const double al = a / M, be = b / M;
    const double pa = Premul ? double(A) : A * al;
    const double pb = Premul ? double(B) : B * be;
    double c, r;
    ownOperatorFloat<Op>(pa, pb, al, be, &c, &r);
    if (r > kOpacityFloor<T>) {
        c /= r;
        if (c > M) c = M;
    }
    return ownLimit<T>(ownRoundFloat(c));
}

template <class T, int Op>
inline T ownOpacityFloat(uint32_t a, uint32_t b) {
    const double M = kAlphaMax<T>;
    double c, r;
    ownOperatorFloat<Op>(0, 0, a / M, b / M, &c, &r);
    return ownLimit<T>(ownRoundFloat(r * M));
}

template <class T, int Op, bool Premul, bool Float>
OWN_CLONES void ownCompositeRunT(const void* A0, int iA, const void* B0, int iB, const void* a0,
                                 const void* b0, void* d0, int id, int n) {
    const T* A = static_cast<const T*>(A0);
    const T* B = static_cast<const T*>(B0);
    const T* a = static_cast<const T*>(a0);
    const T* b = static_cast<const T*>(b0);
    T* d = static_cast<T*>(d0);
    auto f = [](uint32_t x, uint32_t y, uint32_t p, uint32_t q) {
        if constexpr (Float)
            return ownCompositeFloat<T, Op, Premul>(x, y, p, q);
        else
            return ownCompositeInt<T, Op, Premul>(x, y, p, q);
    };
    if (iA == 1 && iB == 1 && id == 1) {
        for (int i = 0; i < n; ++i) d[i] = f(A[i], B[i], a[i], b[i]);
        return;
    }
    for (int i = 0; i < n; ++i)
        d[int64_t(i) * id] = f(A[int64_t(i) * iA], B[int64_t(i) * iB], a[i], b[i]);
}

template <class T, int Op, bool Float>
OWN_CLONES void ownOpacityRunT(const void* a0, const void* b0, void* d0, int id, int n) {
    const T* a = static_cast<const T*>(a0);
    const T* b = static_cast<const T*>(b0);
    T* d = static_cast<T*>(d0);
    if (id == 1 && !Float) {
        for (int i = 0; i < n; ++i) d[i] = ownCompositeInt<T, Op, true>(a[i], b[i], a[i], b[i]);
        return;
    }
    for (int i = 0; i < n; ++i) {
        if constexpr (Float)
            d[int64_t(i) * id] = ownOpacityFloat<T, Op>(a[i], b[i]);
        else
            d[int64_t(i) * id] = ownCompositeInt<T, Op, true>(a[i], b[i], a[i], b[i]);
    }
}

// Whole RGBA pixels: the even half-word lanes carry channels 1 and 3, the
// odd ones channel 2 and the opacity, which enters the operator as its own
// premultiplied value (pa = a, pb = b) and so comes out as the result
// opacity.
template <int Op>
inline uint32_t ownOperator2(uint32_t pa, uint32_t pb, uint32_t a, uint32_t b) {
    const uint32_t r =
        ownOperator<Op>(pa, pb, a, b, [](uint32_t x, uint32_t m) { return ownScale2(x, m); });
    return Op == 1 ? r : ownClamp2(r);
}

template <int Op, bool Premul, bool Keep>
inline uint32_t ownCompositePixel(const uint8_t* A, const uint8_t* B, const uint8_t* d) {
    const uint32_t pA = ownLoad32(A), pB = ownLoad32(B);
    const uint32_t a = pA >> 24, b = pB >> 24;
    uint32_t ae = pA & kLanes, ao = (pA >> 8) & kLanes;
    uint32_t be = pB & kLanes, bo = (pB >> 8) & kLanes;
    if (!Premul) {
        ae = ownScale2(ae, a);
        ao = (ownScale2(ao, a) & 0xFFu) | (a << 16);
        be = ownScale2(be, b);
        bo = (ownScale2(bo, b) & 0xFFu) | (b << 16);
    }
    const uint32_t re = ownOperator2<Op>(ae, be, a, b), ro = ownOperator2<Op>(ao, bo, a, b);
    const uint32_t out = re | (ro << 8);
    return Keep ? (out & 0x00FFFFFFu) | (ownLoad32(d) & 0xFF000000u) : out;
}

// n pixels from A and B into `out`; `d` holds the destination's present
// pixels (Keep reads their alpha; `out` may be `d`).
template <int Op, bool Premul, bool Keep>
OWN_CLONES void ownRGBA8Row(const uint8_t* A, const uint8_t* B, const uint8_t* d, uint8_t* out, int n) {
    for (int i = 0; i < n; ++i) {
        const int64_t at = 4 * int64_t(i);
        ownStore32(out + at, ownCompositePixel<Op, Premul, Keep>(A + at, B + at, d + at));
    }
}

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
// Eight pixels a step in 16-bit lanes. Scale of a product t = x * m of two
// 8-bit samples is the high half of (t + 1) * 257: for every t up to
// 255 * 255 that equals (t + (t >> 8) + 1) >> 8. The opacity lanes enter
// the operator as their own premultiplied values, as in the word kernel;
// results above 255 saturate in the final pack.
__attribute__((target("avx2"))) inline __m256i ownScale16x(__m256i x, __m256i m) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, m), _mm256_set1_epi16(1));
    return _mm256_mulhi_epu16(t, _mm256_set1_epi16(257));
}

template <int Op>
__attribute__((target("avx2"))) inline __m256i ownOperator16x(__m256i pa, __m256i pb, __m256i a, __m256i b) {
    switch (Op) {
        case 0: return _mm256_sub_epi16(_mm256_add_epi16(pa, pb), ownScale16x(pb, a));
        case 1: return ownScale16x(pa, b);
        case 2: return _mm256_sub_epi16(pa, ownScale16x(pa, b));
        case 3: return _mm256_sub_epi16(_mm256_add_epi16(ownScale16x(pa, b), pb), ownScale16x(pb, a));
        case 4:
            return _mm256_add_epi16(_mm256_sub_epi16(pa, ownScale16x(pa, b)),
                                    _mm256_sub_epi16(pb, ownScale16x(pb, a)));
        default: return _mm256_add_epi16(pa, pb);
    }
}

template <int Op, bool Premul>
__attribute__((target("avx2"))) inline __m256i ownHalf16x(__m256i x, __m256i y, __m256i a, __m256i b) {
    if (!Premul) {
        x = _mm256_blend_epi16(ownScale16x(x, a), a, 0x88);
        y = _mm256_blend_epi16(ownScale16x(y, b), b, 0x88);
    }
    return ownOperator16x<Op>(x, y, a, b);
}

template <int Op, bool Premul, bool Keep>
__attribute__((target("avx2"))) void ownRGBA8RowAvx2(const uint8_t* A, const uint8_t* B, const uint8_t* d,
                                                     uint8_t* out, int n) {
    const __m256i spread = _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15,  //
                                            3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
    const __m256i alphaBytes = _mm256_set1_epi32(int(0xFF000000u));
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const int64_t at = 4 * int64_t(i);
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + at));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(B + at));
        const __m256i aa = _mm256_shuffle_epi8(va, spread), bb = _mm256_shuffle_epi8(vb, spread);
        const __m256i lo = ownHalf16x<Op, Premul>(_mm256_unpacklo_epi8(va, zero), _mm256_unpacklo_epi8(vb, zero),
                                                  _mm256_unpacklo_epi8(aa, zero), _mm256_unpacklo_epi8(bb, zero));
        const __m256i hi = ownHalf16x<Op, Premul>(_mm256_unpackhi_epi8(va, zero), _mm256_unpackhi_epi8(vb, zero),
                                                  _mm256_unpackhi_epi8(aa, zero), _mm256_unpackhi_epi8(bb, zero));
        __m256i r = _mm256_packus_epi16(lo, hi);
        if (Keep)
            r = _mm256_blendv_epi8(r, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + at)), alphaBytes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), r);
    }
    const int64_t at = 4 * int64_t(i);
    ownRGBA8Row<Op, Premul, Keep>(A + at, B + at, d + at, out + at, n - i);
}

using OwnRGBA8RowFn = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, int);
// Chosen once, when the library is loaded.
const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
template <int Op, bool Premul, bool Keep>
OwnRGBA8RowFn ownRGBA8RowFn() {
    return kHaveAvx2 ? ownRGBA8RowAvx2<Op, Premul, Keep> : ownRGBA8Row<Op, Premul, Keep>;
}
#else
template <int Op, bool Premul, bool Keep>
auto ownRGBA8RowFn() {
    return ownRGBA8Row<Op, Premul, Keep>;
}
#endif

template <int Op, bool Premul, bool Keep>
void ownCompositeRGBA8T(const uint8_t* A, const uint8_t* B, uint8_t* d, int n, bool stream) {
    const auto row = ownRGBA8RowFn<Op, Premul, Keep>();
    int i = 0;
#if defined(__SSE2__)
    // Destinations too large to stay cached are written past the cache, a
    // line at a time from a temporary, so their lines are never read first.
    const uintptr_t address = reinterpret_cast<uintptr_t>(d);
    if (stream && address % 4 == 0) {
        constexpr int kPixels = kStreamChunk / 4;
        i = std::min<int>(n, int((64 - address % 64) % 64 / 4));
        row(A, B, d, d, i);
        for (; i + kPixels <= n; i += kPixels) {
            alignas(64) uint8_t chunk[kStreamChunk];
            const int64_t at = 4 * int64_t(i);
            row(A + at, B + at, d + at, chunk, kPixels);
            ownStreamChunk(d + at, chunk, kStreamChunk);
        }
        _mm_sfence();
    }
#endif
    const int64_t at = 4 * int64_t(i);
    row(A + at, B + at, d + at, d + at, n - i);
}

}  // namespace

uint32_t ownRoundFloat(double x) {
    const float f = static_cast<float>(x + 8388608.0);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits & 0x7FFFFFu;
}

OWN_CLONES void ownPremultiplyRGBA8(uint8_t* p, int n) {
    for (int i = 0; i < n; ++i) {
        const uint32_t v = ownLoad32(p + 4 * int64_t(i));
        const uint32_t a = v >> 24;
        const uint32_t e = ownScale2(v & kLanes, a), o = ownScale2((v >> 8) & kLanes, a) & 0xFFu;
        ownStore32(p + 4 * int64_t(i), e | (o << 8) | (v & 0xFF000000u));
    }
}

const OwnScaleRun kScaleRun[2] = {ownScaleRunT<uint8_t>, ownScaleRunT<uint16_t>};
const OwnScaleSRun kScaleSRun[2] = {ownScaleSRunT<uint8_t>, ownScaleSRunT<uint16_t>};
const OwnScaleSInPlace kScaleSInPlace[2] = {ownScaleSInPlaceT<uint8_t>, ownScaleSInPlaceT<uint16_t>};
const OwnScaleByRun kScaleByRun[2] = {ownScaleByRunT<uint8_t>, ownScaleByRunT<uint16_t>};

#define OWN_RUNS(T, Op)                                                                   \
    {                                                                                     \
        {ownCompositeRunT<T, Op, false, false>, ownCompositeRunT<T, Op, false, true>},    \
        {ownCompositeRunT<T, Op, true, false>, ownCompositeRunT<T, Op, true, true>},      \
    }
#define OWN_DEPTH_RUNS(T) \
    {OWN_RUNS(T, 0), OWN_RUNS(T, 1), OWN_RUNS(T, 2), OWN_RUNS(T, 3), OWN_RUNS(T, 4), OWN_RUNS(T, 5)}
const OwnCompositeRun kCompositeRun[2][6][2][2] = {OWN_DEPTH_RUNS(uint8_t), OWN_DEPTH_RUNS(uint16_t)};
#undef OWN_DEPTH_RUNS
#undef OWN_RUNS

#define OWN_OPACITY(T, Op) {ownOpacityRunT<T, Op, false>, ownOpacityRunT<T, Op, true>}
#define OWN_DEPTH_OPACITY(T)                                                                \
    {OWN_OPACITY(T, 0), OWN_OPACITY(T, 1), OWN_OPACITY(T, 2), OWN_OPACITY(T, 3), OWN_OPACITY(T, 4), \
     OWN_OPACITY(T, 5)}
const OwnOpacityRun kOpacityRun[2][6][2] = {OWN_DEPTH_OPACITY(uint8_t), OWN_DEPTH_OPACITY(uint16_t)};
#undef OWN_DEPTH_OPACITY
#undef OWN_OPACITY

const OwnCompositeRGBA8 kCompositeRGBA8[6][2][2] = {
    {{ownCompositeRGBA8T<0, false, false>, ownCompositeRGBA8T<0, false, true>},
     {ownCompositeRGBA8T<0, true, false>, ownCompositeRGBA8T<0, true, true>}},
    {{ownCompositeRGBA8T<1, false, false>, ownCompositeRGBA8T<1, false, true>},
     {ownCompositeRGBA8T<1, true, false>, ownCompositeRGBA8T<1, true, true>}},
    {{ownCompositeRGBA8T<2, false, false>, ownCompositeRGBA8T<2, false, true>},
     {ownCompositeRGBA8T<2, true, false>, ownCompositeRGBA8T<2, true, true>}},
    {{ownCompositeRGBA8T<3, false, false>, ownCompositeRGBA8T<3, false, true>},
     {ownCompositeRGBA8T<3, true, false>, ownCompositeRGBA8T<3, true, true>}},
    {{ownCompositeRGBA8T<4, false, false>, ownCompositeRGBA8T<4, false, true>},
     {ownCompositeRGBA8T<4, true, false>, ownCompositeRGBA8T<4, true, true>}},
    {{ownCompositeRGBA8T<5, false, false>, ownCompositeRGBA8T<5, false, true>},
     {ownCompositeRGBA8T<5, true, false>, ownCompositeRGBA8T<5, true, true>}},
};

}  // namespace vex
