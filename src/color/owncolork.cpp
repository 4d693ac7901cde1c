// Row kernels of the colour-model conversions.
//
// The 8U model conversions are the hot ones. Their rules are written twice:
// once per pixel exactly as the library defines them (integer division,
// doubles; the *Ref functions), and once as unit-stride loops over blocks of
// pixels that the compiler turns into vector code. The block forms use
// single-precision division where the rule divides: every quotient there has
// a numerator below 2^24 and a divisor of at most 510, so a non-integral
// quotient lies at least 1/510 from the next integer while the float error
// is below 2^-24 of the quotient; truncation gives the same integer, and
// exact quotients come out exact. The tests check the two forms against
// each other over every 8U input triple.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "color/owncolor.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#endif

#define OWN_INLINE inline __attribute__((always_inline))

namespace vex {

namespace {

// Saturating conversion of a double to int64 range (NaN gives 0).
OWN_INLINE int64_t ownTrunc64(double v) {
    if (!(v == v)) return 0;
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(v);
}
OWN_INLINE int32_t ownSat32(int64_t v) {
    return static_cast<int32_t>(std::min<int64_t>(INT32_MAX, std::max<int64_t>(INT32_MIN, v)));
}
// Wrapping signed 32-bit product.
OWN_INLINE int32_t ownMulWrap(int64_t a, int64_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)));
}

// ---------------------------------------------------------------------------
// Per-pixel rules of the 8U model conversions, as defined.

int ownHue(int64_t r, int64_t g, int64_t b, int64_t mx, int64_t delta) {
    double h;
    if (r == mx)
        h = double(60 * (g - b)) / double(delta);
    else if (g == mx)
        h = double(60 * (b - r)) / double(delta) + 120;
    else
        h = double(60 * (r - g)) / double(delta) + 240;
    if (h < 0) h += 360;
    return static_cast<int>(h);
}

}  // namespace

void ownRGB2HSV8uRef(int r, int g, int b, uint8_t out[3]) {
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), delta = mx - mn;
    const int s = mx == 0 ? 0 : delta * 255 / mx;
    const int h = s != 0 ? ownHue(r, g, b, mx, delta) >> 1 : 0;
    out[0] = uint8_t(h), out[1] = uint8_t(s), out[2] = uint8_t(mx);
}

void ownRGB2HLS8uRef(int r, int g, int b, uint8_t out[3]) {
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), delta = mx - mn;
    const int sum = mx + mn, l = sum >> 1;
    int h = 0, s = 0;
    if (delta != 0) {
        s = sum <= 255 ? int(255.0 * delta / sum) : int(255.0 * delta / (510 - sum));
        h = ownHue(r, g, b, mx, delta) >> 1;
    }
    out[0] = uint8_t(h), out[1] = uint8_t(l), out[2] = uint8_t(s);
}

void ownHSV2RGB8uRef(int h, int s, int v, uint8_t out[3]) {
    if (s == 0) {
        out[0] = out[1] = out[2] = uint8_t(v);
        return;
    }
    const int h2 = 2 * h, i = h2 / 60, f = h2 % 60;
    const int sv = (s * v) >> 8;
    const int p = v - sv, q = v - ((f * sv * 34) >> 11), t = v - (((60 - f) * sv * 34) >> 11);
    int r, g, b;
    switch (i) {
        case 0: r = v, g = t, b = p; break;
        case 1: r = q, g = v, b = p; break;
        case 2: r = p, g = v, b = t; break;
        case 3: r = p, g = q, b = v; break;
        case 4: r = t, g = p, b = v; break;
        default: r = v, g = p, b = q; break;
    }
    out[0] = uint8_t(r), out[1] = uint8_t(g), out[2] = uint8_t(b);
}

namespace {
int ownHlsValue8u(int m1, int m2, int h) {
    if (h < 60) return m1 + (((m2 - m1) * 137 * h) >> 13);
    if (h < 180) return m2;
    if (h < 240) return m1 + (((m2 - m1) * 137 * (240 - h)) >> 13);
    return m1;
}
}  // namespace

void ownHLS2RGB8uRef(int h, int l, int s, uint8_t out[3]) {
    if (s == 0) {
        out[0] = out[1] = out[2] = uint8_t(l);
        return;
    }
    const int k = (l * s * 258) >> 16;
    const int m2 = l < 128 ? l + k : l + s - k, m1 = 2 * l - m2;
    const int hh = 2 * h;
    const int hr = hh <= 240 ? hh + 120 : hh - 240, hb = hh < 120 ? hh + 240 : hh - 120;
    out[0] = uint8_t(ownHlsValue8u(m1, m2, hr));
    out[1] = uint8_t(ownHlsValue8u(m1, m2, hh));
    out[2] = uint8_t(ownHlsValue8u(m1, m2, hb));
}

namespace {

// ---------------------------------------------------------------------------
// 8U block kernels: unit-stride planes of 32-bit values in and out (one
// lane width throughout keeps the vector code free of spills).

OWN_INLINE int ownMax(int a, int b) { return a > b ? a : b; }
OWN_INLINE int ownMin(int a, int b) { return a < b ? a : b; }

OWN_INLINE void ownRGB2HSVBlock(const int32_t* __restrict R, const int32_t* __restrict G,
                                const int32_t* __restrict B, int32_t* __restrict H,
                                int32_t* __restrict S, int32_t* __restrict V, int n) {
    for (int i = 0; i < n; ++i) {
        const int r = R[i], g = G[i], b = B[i];
        const int mx = ownMax(ownMax(r, g), b), mn = ownMin(ownMin(r, g), b);
        const int delta = mx - mn;
        const float s = float(delta * 255) / float(ownMax(mx, 1));
        const bool isR = r == mx, isG = g == mx;
        const int diff = isR ? g - b : isG ? b - r : r - g;
        const int off = isR ? (diff < 0 ? 360 : 0) : isG ? 120 : 240;
        // delta 0 gives diff 0 and so hue 0.
        const float h = float(60 * diff + off * delta) / float(ownMax(delta, 1));
        H[i] = int(h) >> 1;
        S[i] = int(s);
        V[i] = mx;
    }
}

OWN_INLINE void ownRGB2HLSBlock(const int32_t* __restrict R, const int32_t* __restrict G,
                                const int32_t* __restrict B, int32_t* __restrict H,
                                int32_t* __restrict L, int32_t* __restrict S, int n) {
    for (int i = 0; i < n; ++i) {
        const int r = R[i], g = G[i], b = B[i];
        const int mx = ownMax(ownMax(r, g), b), mn = ownMin(ownMin(r, g), b);
        const int delta = mx - mn, sum = mx + mn;
        const int den = sum <= 255 ? sum : 510 - sum;
        const float s = float(delta * 255) / float(ownMax(den, 1));
        const bool isR = r == mx, isG = g == mx;
        const int diff = isR ? g - b : isG ? b - r : r - g;
        const int off = isR ? (diff < 0 ? 360 : 0) : isG ? 120 : 240;
        const float h = float(60 * diff + off * delta) / float(ownMax(delta, 1));
        H[i] = int(h) >> 1;
        L[i] = sum >> 1;
        S[i] = int(s);
    }
}

// b where the mask is all ones, a where it is 0.
OWN_INLINE int ownPick(int a, int b, int mask) { return (a & ~mask) | (b & mask); }

// S = 0 needs no case of its own: sv, and with it every correction, is 0.
OWN_INLINE void ownHSV2RGBBlock(const int32_t* __restrict H, const int32_t* __restrict S,
                                const int32_t* __restrict V, int32_t* __restrict R,
                                int32_t* __restrict G, int32_t* __restrict B, int n) {
    for (int i = 0; i < n; ++i) {
        const int h2 = 2 * H[i], v = V[i];
        const int sec = (h2 * 1093) >> 16;  // h2 / 60 for h2 <= 510
        const int f = h2 - 60 * sec;
        const int sv = (S[i] * v) >> 8;
        const int p = v - sv, q = v - ((f * sv * 34) >> 11), t = v - (((60 - f) * sv * 34) >> 11);
        // The sector picks (R, G, B) by masks, so the loop has no branches.
        const int m1 = -int(sec >= 1), m2 = -int(sec >= 2), m3 = -int(sec >= 3);
        const int m4 = -int(sec >= 4), m5 = -int(sec >= 5);
        const int r = ownPick(ownPick(ownPick(ownPick(v, q, m1), p, m2), t, m4), v, m5);
        const int g = ownPick(ownPick(ownPick(t, v, m1), q, m3), p, m4);
        const int b = ownPick(ownPick(ownPick(p, t, m2), v, m3), q, m5);
        R[i] = r & 255;
        G[i] = g & 255;
        B[i] = b & 255;
    }
}

OWN_INLINE int ownHlsValueV(int m1, int dm, int h) {
    const int up = m1 + ((dm * 137 * h) >> 13);
    const int down = m1 + ((dm * 137 * (240 - h)) >> 13);
    return h < 60 ? up : h < 180 ? m1 + dm : h < 240 ? down : m1;
}

// S = 0 gives k = 0 and m1 = m2 = L, so every channel is L.
OWN_INLINE void ownHLS2RGBBlock(const int32_t* __restrict H, const int32_t* __restrict L,
                                const int32_t* __restrict S, int32_t* __restrict R,
                                int32_t* __restrict G, int32_t* __restrict B, int n) {
    for (int i = 0; i < n; ++i) {
        const int l = L[i], s = S[i], hh = 2 * H[i];
        const int k = (l * s * 258) >> 16;
        const int m2 = l < 128 ? l + k : l + s - k, m1 = 2 * l - m2, dm = m2 - m1;
        const int hr = hh <= 240 ? hh + 120 : hh - 240, hb = hh < 120 ? hh + 240 : hh - 120;
        R[i] = ownHlsValueV(m1, dm, hr) & 255;
        G[i] = ownHlsValueV(m1, dm, hh) & 255;
        B[i] = ownHlsValueV(m1, dm, hb) & 255;
    }
}

// ---------------------------------------------------------------------------
// Moving three components between strided rows and unit-stride blocks.
// Pixel-order rows of three or four channels whose components are the
// pixel's first three elements (in any order) take loops with a constant
// stride, which the compiler turns into shuffles.

constexpr int kBlock = 512;

// Offsets of three pointers from the lowest when they are the elements 0, 1
// and 2 of one pixel; -1 otherwise.
template <class T>
OWN_INLINE const T* ownPacked(const T* const p[3], int order[3]) {
    const T* base = std::min({p[0], p[1], p[2]});
    for (int k = 0; k < 3; ++k) {
        order[k] = int(p[k] - base);
        if (order[k] < 0 || order[k] > 2) return nullptr;
    }
    if (order[0] == order[1] || order[1] == order[2] || order[0] == order[2]) return nullptr;
    return base;
}

template <int ST>
OWN_INLINE void ownSplitW(const uint8_t* __restrict base, int32_t* __restrict e0, int32_t* __restrict e1,
                          int32_t* __restrict e2, int n) {
    for (int i = 0; i < n; ++i) {
        e0[i] = base[ST * i];
        e1[i] = base[ST * i + 1];
        e2[i] = base[ST * i + 2];
    }
}
template <int ST>
OWN_INLINE void ownJoinW(uint8_t* __restrict base, const int32_t* __restrict e0,
                         const int32_t* __restrict e1, const int32_t* __restrict e2, int n) {
    for (int i = 0; i < n; ++i) {
        base[ST * i] = uint8_t(e0[i]);
        base[ST * i + 1] = uint8_t(e1[i]);
        base[ST * i + 2] = uint8_t(e2[i]);
    }
}

// Loads n pixels from (src, stride) into three planes of 32-bit values, one
// per component.
OWN_INLINE void ownGatherW(const uint8_t* const src[3], int stride, int64_t at, int n, int32_t (*w)[kBlock]) {
    int order[3];
    const uint8_t* base = stride == 3 || stride == 4 ? ownPacked(src, order) : nullptr;
    if (base) {
        int32_t* e[3];
        for (int k = 0; k < 3; ++k) e[order[k]] = w[k];
        base += at * stride;
        if (stride == 3)
            ownSplitW<3>(base, e[0], e[1], e[2], n);
        else
            ownSplitW<4>(base, e[0], e[1], e[2], n);
        return;
    }
    for (int k = 0; k < 3; ++k) {
        const uint8_t* __restrict p = src[k] + at * stride;
        int32_t* __restrict d = w[k];
        if (stride == 1)
            for (int i = 0; i < n; ++i) d[i] = p[i];
        else
            for (int i = 0; i < n; ++i) d[i] = p[int64_t(i) * stride];
    }
}

// Stores three planes of 32-bit values (low bytes) as n pixels at (dst, stride).
OWN_INLINE void ownScatterW(void* const dst[3], int stride, int64_t at, int n, int32_t (*w)[kBlock]) {
    uint8_t* const* d = reinterpret_cast<uint8_t* const*>(dst);
    int order[3];
    uint8_t* base = stride == 3 || stride == 4
                        ? const_cast<uint8_t*>(ownPacked(reinterpret_cast<const uint8_t* const*>(d), order))
                        : nullptr;
    if (base) {
        const int32_t* e[3];
        for (int k = 0; k < 3; ++k) e[order[k]] = w[k];
        base += at * stride;
        if (stride == 3)
            ownJoinW<3>(base, e[0], e[1], e[2], n);
        else
            ownJoinW<4>(base, e[0], e[1], e[2], n);
        return;
    }
    for (int k = 0; k < 3; ++k) {
        uint8_t* __restrict p = d[k] + at * stride;
        const int32_t* __restrict v = w[k];
        if (stride == 1)
            for (int i = 0; i < n; ++i) p[i] = uint8_t(v[i]);
        else
            for (int i = 0; i < n; ++i) p[int64_t(i) * stride] = uint8_t(v[i]);
    }
}

// ---------------------------------------------------------------------------
// Packed three-byte pixels (pixel order, three channels, both sides) with
// AVX2 written out: 32 pixels per step. The 96 bytes are loaded so that each
// 128-bit lane holds 16 whole pixels, and byte shuffles within the lanes
// split them into one vector of 32 bytes per channel (and join them back).
// Whatever fits in bytes (maxima, minima, the hue sector's choices) is
// computed on all 32 lanes at once; the rest on the two 16-bit halves that
// byte unpacking gives, which packing puts back in pixel order. The rules
// are exactly those of the block kernels above. Used when the processor has
// AVX2; the block kernels do the rest of a row and every other layout.

enum OwnFastOp { kFastRGB2HSV, kFastRGB2HLS, kFastHSV2RGB, kFastHLS2RGB };

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)

struct OwnShuffle3 {
    // Both 128-bit lanes alike: [channel][input vector][byte] to split,
    // [output vector][channel][byte] to join.
    alignas(32) uint8_t split[3][3][32];
    alignas(32) uint8_t join[3][3][32];
    OwnShuffle3() {
        for (int k = 0; k < 3; ++k)
            for (int v = 0; v < 3; ++v)
                for (int i = 0; i < 32; ++i) {
                    const int p = 3 * (i % 16) + k;
                    split[k][v][i] = uint8_t(p / 16 == v ? p % 16 : 0x80);
                }
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 32; ++j) {
                    const int P = 16 * v + j % 16;
                    join[v][k][j] = uint8_t(P % 3 == k ? P / 3 : 0x80);
                }
    }
};
const OwnShuffle3 kShuffle3;

#define OWN_AVX2 __attribute__((target("avx2")))

OWN_AVX2 inline __m256i ownPickV(__m256i a, __m256i b, __m256i mask) { return _mm256_blendv_epi8(a, b, mask); }
OWN_AVX2 inline __m256i ownSet16(int v) { return _mm256_set1_epi16(short(v)); }
OWN_AVX2 inline __m256i ownSet8(int v) { return _mm256_set1_epi8(char(v)); }
OWN_AVX2 inline __m256i ownLo16(__m256i x) { return _mm256_unpacklo_epi8(x, _mm256_setzero_si256()); }
OWN_AVX2 inline __m256i ownHi16(__m256i x) { return _mm256_unpackhi_epi8(x, _mm256_setzero_si256()); }
OWN_AVX2 inline __m256i ownHalf16(int half, __m256i x) { return half ? ownHi16(x) : ownLo16(x); }
// Two halves of 16-bit values in 0..255 back to 32 bytes in pixel order.
OWN_AVX2 inline __m256i ownPack8(__m256i lo, __m256i hi) { return _mm256_packus_epi16(lo, hi); }

// floor(n / d) on 16-bit lanes, n < 65536, 1 <= d <= 510: both halves in
// single precision, one correctly rounded division each; truncation gives
// the floor for the reason given at the top of the file.
OWN_AVX2 inline __m256i ownDivV(__m256i n, __m256i d) {
    const __m256i z = _mm256_setzero_si256();
    const __m256 qLo = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(n, z)),
                                     _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(d, z)));
    const __m256 qHi = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(n, z)),
                                     _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(d, z)));
    return _mm256_packus_epi32(_mm256_cvttps_epi32(qLo), _mm256_cvttps_epi32(qHi));
}

// HSV to RGB. Per 16-bit half: every product of the rule fits 16 bits, the
// divisions by 60 and 2048 become high halves of products ((h2 * 1093) >> 16
// = h2 / 60 for h2 <= 510; (x * 1088) >> 16 = (x * 34) >> 11). p, q and t
// lie in 0..v, so the sector's choice among them runs on bytes.
struct OwnHsvParts {
    __m256i sec, p, q, t;
};
OWN_AVX2 inline OwnHsvParts ownHsvParts16(__m256i H, __m256i S, __m256i V) {
    const __m256i h2 = _mm256_add_epi16(H, H);
    const __m256i sec = _mm256_mulhi_epu16(h2, ownSet16(1093));
    const __m256i f = _mm256_sub_epi16(h2, _mm256_mullo_epi16(sec, ownSet16(60)));
    const __m256i sv = _mm256_srli_epi16(_mm256_mullo_epi16(S, V), 8);
    const __m256i k1088 = ownSet16(1088);
    const __m256i p = _mm256_sub_epi16(V, sv);
    const __m256i q = _mm256_sub_epi16(V, _mm256_mulhi_epu16(_mm256_mullo_epi16(f, sv), k1088));
    const __m256i t =
        _mm256_sub_epi16(V, _mm256_mulhi_epu16(_mm256_mullo_epi16(_mm256_sub_epi16(ownSet16(60), f), sv), k1088));
    return {sec, p, q, t};
}
OWN_AVX2 inline void ownHSV2RGB32(const __m256i ch[3], __m256i out[3]) {
    const OwnHsvParts lo = ownHsvParts16(ownLo16(ch[0]), ownLo16(ch[1]), ownLo16(ch[2]));
    const OwnHsvParts hi = ownHsvParts16(ownHi16(ch[0]), ownHi16(ch[1]), ownHi16(ch[2]));
    const __m256i sec = ownPack8(lo.sec, hi.sec), p = ownPack8(lo.p, hi.p);
    const __m256i q = ownPack8(lo.q, hi.q), t = ownPack8(lo.t, hi.t), v = ch[2];
    // sec is at most 8: signed byte comparisons hold.
    const __m256i m1 = _mm256_cmpgt_epi8(sec, ownSet8(0)), m2 = _mm256_cmpgt_epi8(sec, ownSet8(1));
    const __m256i m3 = _mm256_cmpgt_epi8(sec, ownSet8(2)), m4 = _mm256_cmpgt_epi8(sec, ownSet8(3));
    const __m256i m5 = _mm256_cmpgt_epi8(sec, ownSet8(4));
    out[0] = ownPickV(ownPickV(ownPickV(ownPickV(v, q, m1), p, m2), t, m4), v, m5);
    out[1] = ownPickV(ownPickV(ownPickV(t, v, m1), q, m3), p, m4);
    out[2] = ownPickV(ownPickV(ownPickV(p, t, m2), v, m3), q, m5);
}

// HLS to RGB per 16-bit half: k = (L * S * 258) >> 16 is the high half of
// (L * S) * 258, and the 32-bit products (m2 - m1) * 137 * h are formed from
// their low and high halves before the shift by 13.
OWN_AVX2 inline __m256i ownMulShift13(__m256i a, __m256i b) {
    const __m256i lo = _mm256_mullo_epi16(a, b), hi = _mm256_mulhi_epi16(a, b);
    return _mm256_or_si256(_mm256_slli_epi16(hi, 3), _mm256_srli_epi16(lo, 13));
}
OWN_AVX2 inline __m256i ownHlsValue16(__m256i m1, __m256i m2, __m256i dm, __m256i h) {
    const __m256i k137 = ownSet16(137);
    const __m256i up = _mm256_add_epi16(m1, ownMulShift13(dm, _mm256_mullo_epi16(k137, h)));
    const __m256i down =
        _mm256_add_epi16(m1, ownMulShift13(dm, _mm256_mullo_epi16(k137, _mm256_sub_epi16(ownSet16(240), h))));
    const __m256i lt60 = _mm256_cmpgt_epi16(ownSet16(60), h);
    const __m256i lt180 = _mm256_cmpgt_epi16(ownSet16(180), h);
    const __m256i lt240 = _mm256_cmpgt_epi16(ownSet16(240), h);
    return _mm256_and_si256(ownPickV(m1, ownPickV(down, ownPickV(m2, up, lt60), lt180), lt240), ownSet16(255));
}
OWN_AVX2 inline void ownHLS2RGB16(__m256i H, __m256i L, __m256i S, __m256i rgb[3]) {
    const __m256i k = _mm256_mulhi_epu16(_mm256_mullo_epi16(L, S), ownSet16(258));
    const __m256i low = _mm256_cmpgt_epi16(ownSet16(128), L);
    const __m256i m2 = ownPickV(_mm256_sub_epi16(_mm256_add_epi16(L, S), k), _mm256_add_epi16(L, k), low);
    const __m256i m1 = _mm256_sub_epi16(_mm256_add_epi16(L, L), m2), dm = _mm256_sub_epi16(m2, m1);
    const __m256i h = _mm256_add_epi16(H, H);
    const __m256i hr = ownPickV(_mm256_sub_epi16(h, ownSet16(240)), _mm256_add_epi16(h, ownSet16(120)),
                                _mm256_cmpgt_epi16(ownSet16(241), h));
    const __m256i hb = ownPickV(_mm256_sub_epi16(h, ownSet16(120)), _mm256_add_epi16(h, ownSet16(240)),
                                _mm256_cmpgt_epi16(ownSet16(120), h));
    rgb[0] = ownHlsValue16(m1, m2, dm, hr);
    rgb[1] = ownHlsValue16(m1, m2, dm, h);
    rgb[2] = ownHlsValue16(m1, m2, dm, hb);
}
OWN_AVX2 inline void ownHLS2RGB32(const __m256i ch[3], __m256i out[3]) {
    __m256i lo[3], hi[3];
    ownHLS2RGB16(ownLo16(ch[0]), ownLo16(ch[1]), ownLo16(ch[2]), lo);
    ownHLS2RGB16(ownHi16(ch[0]), ownHi16(ch[1]), ownHi16(ch[2]), hi);
    for (int k = 0; k < 3; ++k) out[k] = ownPack8(lo[k], hi[k]);
}

// RGB to HSV or HLS. The hue is
//   floor((60 * diff + off * delta) / delta) >> 1
//     = floor((30 * diff + 60 * k * delta) / delta)
// with off = 120 * k (k = 3 only for a red maximum with g < b). diff is the
// difference of two inputs that the maximum's channel picks, and k too comes
// from the maximum, so both are chosen on bytes. The numerator lies in
// 0..53550 and is formed in wrapping 16-bit arithmetic.
OWN_AVX2 inline void ownForward32(int op, const __m256i ch[3], __m256i out[3]) {
    const __m256i R = ch[0], G = ch[1], B = ch[2];
    const __m256i mx = _mm256_max_epu8(_mm256_max_epu8(R, G), B);
    const __m256i mn = _mm256_min_epu8(_mm256_min_epu8(R, G), B);
    const __m256i delta = _mm256_sub_epi8(mx, mn);
    const __m256i isR = _mm256_cmpeq_epi8(R, mx), isG = _mm256_cmpeq_epi8(G, mx);
    const __m256i a = ownPickV(ownPickV(R, B, isG), G, isR), b = ownPickV(ownPickV(G, R, isG), B, isR);
    const __m256i sign = ownSet8(0x80);
    const __m256i gLessB = _mm256_cmpgt_epi8(_mm256_xor_si256(B, sign), _mm256_xor_si256(G, sign));
    const __m256i k60 = _mm256_or_si256(ownPickV(ownPickV(ownSet8(120), ownSet8(60), isG), _mm256_setzero_si256(), isR),
                                        _mm256_and_si256(_mm256_and_si256(isR, gLessB), ownSet8(180)));
    const bool hls = op == kFastRGB2HLS;
    const __m256i one = ownSet16(1), k30 = ownSet16(30), k255 = ownSet16(255);
    __m256i h[2], s[2], l[2]{};  // l is written for HLS only
    for (int half = 0; half < 2; ++half) {
        const __m256i d = ownHalf16(half, delta);
        const __m256i num = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(ownHalf16(half, a), ownHalf16(half, b)), k30),
                                             _mm256_mullo_epi16(ownHalf16(half, k60), d));
        h[half] = ownDivV(num, _mm256_max_epi16(d, one));
        const __m256i nS = _mm256_mullo_epi16(d, k255);
        if (hls) {
            const __m256i sum = _mm256_add_epi16(ownHalf16(half, mx), ownHalf16(half, mn));
            // sum when sum <= 255, 510 - sum above.
            const __m256i den = _mm256_min_epi16(sum, _mm256_sub_epi16(ownSet16(510), sum));
            l[half] = _mm256_srli_epi16(sum, 1);
            s[half] = ownDivV(nS, _mm256_max_epi16(den, one));
        } else {
            s[half] = ownDivV(nS, _mm256_max_epi16(ownHalf16(half, mx), one));
        }
    }
    out[0] = ownPack8(h[0], h[1]);
    if (hls) {
        out[1] = ownPack8(l[0], l[1]);
        out[2] = ownPack8(s[0], s[1]);
    } else {
        out[1] = ownPack8(s[0], s[1]);
        out[2] = mx;
    }
}

// Converts the first n - n % 32 pixels; channel 0 of the source is the
// rule's first input unless sSwap (then channel 2), and likewise for the
// destination. Returns the pixels done.
OWN_AVX2 int64_t ownPacked3Avx2(int op, const uint8_t* src, bool sSwap, uint8_t* dst, bool dSwap, int64_t n) {
    const __m256i* sm = reinterpret_cast<const __m256i*>(kShuffle3.split);
    const __m256i* jm = reinterpret_cast<const __m256i*>(kShuffle3.join);
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const uint8_t* p = src + 3 * i;
        const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i y2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64));
        // Lane 0 of v[j] holds bytes 16 j.., lane 1 bytes 48 + 16 j..
        const __m256i v[3] = {_mm256_blend_epi32(y0, y1, 0xF0), _mm256_permute2x128_si256(y0, y2, 0x21),
                              _mm256_blend_epi32(y1, y2, 0xF0)};
        __m256i ch[3];
        for (int k = 0; k < 3; ++k)
            ch[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(v[0], _mm256_load_si256(sm + 3 * k)),
                                                    _mm256_shuffle_epi8(v[1], _mm256_load_si256(sm + 3 * k + 1))),
                                    _mm256_shuffle_epi8(v[2], _mm256_load_si256(sm + 3 * k + 2)));
        if (sSwap) std::swap(ch[0], ch[2]);
        __m256i out[3];
        if (op == kFastHSV2RGB)
            ownHSV2RGB32(ch, out);
        else if (op == kFastHLS2RGB)
            ownHLS2RGB32(ch, out);
        else
            ownForward32(op, ch, out);
        if (dSwap) std::swap(out[0], out[2]);
        __m256i o[3];
        for (int w = 0; w < 3; ++w)
            o[w] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(out[0], _mm256_load_si256(jm + 3 * w)),
                                                   _mm256_shuffle_epi8(out[1], _mm256_load_si256(jm + 3 * w + 1))),
                                   _mm256_shuffle_epi8(out[2], _mm256_load_si256(jm + 3 * w + 2)));
        uint8_t* q = dst + 3 * i;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), _mm256_permute2x128_si256(o[0], o[1], 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 32), _mm256_blend_epi32(o[2], o[0], 0xF0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 64), _mm256_permute2x128_si256(o[1], o[2], 0x31));
    }
    return i;
}

bool ownDetectAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
const bool kHaveAvx2 = ownDetectAvx2();

#endif

// The pixels a row hands to the written-out AVX2 path (0 when it does not apply).
inline int64_t ownPacked3Fast(int op, const void* const src[3], int sStride, void* const dst[3], int dStride,
                              int64_t n) {
#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
    if (op < 0 || !kHaveAvx2 || sStride != 3 || dStride != 3) return 0;
    const uint8_t* const* s = reinterpret_cast<const uint8_t* const*>(src);
    const uint8_t* const* d = reinterpret_cast<const uint8_t* const*>(dst);
    int so[3], dord[3];
    const uint8_t* sb = ownPacked(s, so);
    const uint8_t* db = ownPacked(d, dord);
    if (!sb || !db || so[1] != 1 || dord[1] != 1) return 0;
    // Source and destination may be one buffer: each step reads its 96
    // bytes before it writes them, and the steps go forwards, so the rows
    // must start at the same pixel or not overlap.
    if (sb != db && sb < db + 3 * n && db < sb + 3 * n) return 0;
    return ownPacked3Avx2(op, sb, so[0] == 2, const_cast<uint8_t*>(db), dord[0] == 2, n);
#else
    (void)op, (void)src, (void)sStride, (void)dst, (void)dStride, (void)n;
    return 0;
#endif
}

// One 8U model row through a block kernel: components gathered into planes
// of 32-bit values, converted, and scattered back as bytes.
#define OWN_MODEL_ROW8(name, block, fast)                                                    \
    OWN_CLONES void name(const void* const src[3], int sStride, void* const dst[3],           \
                         int dStride, int n) {                                                 \
        const uint8_t* const* s = reinterpret_cast<const uint8_t* const*>(src);                \
        alignas(32) int32_t w[6][kBlock];                                                      \
        int64_t done = ownPacked3Fast(fast, src, sStride, dst, dStride, n);                    \
        for (int64_t at = done; at < n; at += kBlock) {                                        \
            const int m = int(std::min<int64_t>(kBlock, n - at));                              \
            ownGatherW(s, sStride, at, m, w);                                                  \
            block(w[0], w[1], w[2], w[3], w[4], w[5], m);                                      \
            ownScatterW(dst, dStride, at, m, w + 3);                                           \
        }                                                                                      \
    }

OWN_MODEL_ROW8(ownRGB2HSV8u, ownRGB2HSVBlock, kFastRGB2HSV)
OWN_MODEL_ROW8(ownRGB2HLS8u, ownRGB2HLSBlock, kFastRGB2HLS)
OWN_MODEL_ROW8(ownHSV2RGB8u, ownHSV2RGBBlock, kFastHSV2RGB)
OWN_MODEL_ROW8(ownHLS2RGB8u, ownHLS2RGBBlock, kFastHLS2RGB)

// ---------------------------------------------------------------------------
// 16U and 32S model conversions in doubles. 32S inputs below 0 count as 0;
// 32S results are limited to 0..2147483647.

template <class T>
struct OwnWide;
template <>
struct OwnWide<uint16_t> {
    static constexpr int64_t kMax = 65535;
    static constexpr double kScale = 1.0 / 65535;
    static int64_t in(uint16_t v) { return v; }
    static uint16_t out(int64_t v) { return uint16_t(std::min<int64_t>(kMax, std::max<int64_t>(0, v))); }
    static double hlsM2(double l, double s) {
        return l < 32768 ? l + s * l / 65535 : l - l * s / 65535 + s;
    }
};
template <>
struct OwnWide<int32_t> {
    static constexpr int64_t kMax = 2147483647;
    static constexpr double kScale = 1.0 / 2147483648.0;
    static int64_t in(int32_t v) { return std::max<int64_t>(0, v); }
    static int32_t out(int64_t v) { return int32_t(std::min<int64_t>(kMax, std::max<int64_t>(0, v))); }
    static double hlsM2(double l, double s) {
        return l < 1073741824.0 ? l + s * l * kScale : l - l * s * kScale + s;
    }
};

template <class T>
int64_t ownHueWide(int64_t r, int64_t g, int64_t b, int64_t mx, int64_t delta) {
    double h;
    if (r == mx)
        h = double(60 * (g - b)) / double(delta);
    else if (g == mx)
        h = double(60 * (b - r)) / double(delta) + 120;
    else
        h = double(60 * (r - g)) / double(delta) + 240;
    if (h < 0) h += 360;
    return ownTrunc64(h);
}

template <class T, bool HLS>
void ownRGB2ModelWide(const void* const src[3], int ss, void* const dst[3], int ds, int n) {
    using W = OwnWide<T>;
    const T* s[3];
    T* d[3];
    for (int k = 0; k < 3; ++k) s[k] = static_cast<const T*>(src[k]), d[k] = static_cast<T*>(dst[k]);
    for (int64_t i = 0; i < n; ++i) {
        const int64_t r = W::in(s[0][i * ss]), g = W::in(s[1][i * ss]), b = W::in(s[2][i * ss]);
        const int64_t mx = std::max({r, g, b}), mn = std::min({r, g, b}), delta = mx - mn;
        int64_t h = 0, sat = 0, third;
        if (HLS) {
            const int64_t sum = mx + mn;
            third = sum >> 1;  // L
            if (delta != 0) {
                const double M = double(W::kMax);
                sat = ownTrunc64(sum <= W::kMax ? M * double(delta) / double(sum)
                                                : M * double(delta) / double(2 * W::kMax - sum));
                h = ownHueWide<T>(r, g, b, mx, delta);
            }
            d[0][i * ds] = W::out(h);
            d[1][i * ds] = W::out(third);
            d[2][i * ds] = W::out(sat);
        } else {
            if (mx != 0) sat = ownTrunc64(double(delta) * double(W::kMax) / double(mx));
            if (sat != 0) h = ownHueWide<T>(r, g, b, mx, delta);
            d[0][i * ds] = W::out(h);
            d[1][i * ds] = W::out(sat);
            d[2][i * ds] = W::out(mx);
        }
    }
}

template <class T>
void ownHSV2RGBWide(const void* const src[3], int ss, void* const dst[3], int ds, int n) {
    using W = OwnWide<T>;
    const T* s[3];
    T* d[3];
    for (int k = 0; k < 3; ++k) s[k] = static_cast<const T*>(src[k]), d[k] = static_cast<T*>(dst[k]);
    const double M = double(W::kMax), scale = W::kScale;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t H = W::in(s[0][i * ss]), S = W::in(s[1][i * ss]), V = W::in(s[2][i * ss]);
        int64_t r = V, g = V, b = V;
        if (S != 0) {
            const double h = double(H) * (1.0 / 60);
            int64_t sec = ownTrunc64(h);
            double f = h - double(sec);
            if (H == 360) sec = 0, f = 0;
            const int64_t p = ownTrunc64((M - double(S)) * double(V) * scale);
            const int64_t q = ownTrunc64((M - f * double(S)) * double(V) * scale);
            const int64_t t = ownTrunc64((M - (1 - f) * double(S)) * double(V) * scale);
            switch (sec) {
                case 0: r = V, g = t, b = p; break;
                case 1: r = q, g = V, b = p; break;
                case 2: r = p, g = V, b = t; break;
                case 3: r = p, g = q, b = V; break;
                case 4: r = t, g = p, b = V; break;
                default: r = V, g = p, b = q; break;
            }
        }
        d[0][i * ds] = W::out(r);
        d[1][i * ds] = W::out(g);
        d[2][i * ds] = W::out(b);
    }
}

inline double ownHlsValueWide(double m1, double m2, int64_t h) {
    if (h < 60) return m1 + (m2 - m1) * double(h) * 0.0166666667;
    if (h < 180) return m2;
    if (h < 240) return m1 + (m2 - m1) * double(240 - h) * 0.0166666667;
    return m1;
}

template <class T>
void ownHLS2RGBWide(const void* const src[3], int ss, void* const dst[3], int ds, int n) {
    using W = OwnWide<T>;
    const T* s[3];
    T* d[3];
    for (int k = 0; k < 3; ++k) s[k] = static_cast<const T*>(src[k]), d[k] = static_cast<T*>(dst[k]);
    for (int64_t i = 0; i < n; ++i) {
        const int64_t H = W::in(s[0][i * ss]), L = W::in(s[1][i * ss]), S = W::in(s[2][i * ss]);
        int64_t r = L, g = L, b = L;
        if (S != 0) {
            const double m2 = W::hlsM2(double(L), double(S)), m1 = 2.0 * double(L) - m2;
            const int64_t hr = H <= 240 ? H + 120 : H - 240, hb = H < 120 ? H + 240 : H - 120;
            r = ownTrunc64(ownHlsValueWide(m1, m2, hr));
            g = ownTrunc64(ownHlsValueWide(m1, m2, H));
            b = ownTrunc64(ownHlsValueWide(m1, m2, hb));
        }
        d[0][i * ds] = W::out(r);
        d[1][i * ds] = W::out(g);
        d[2][i * ds] = W::out(b);
    }
}

// ---------------------------------------------------------------------------
// Gray from colour.

template <class S, class D, class Rule>
OWN_INLINE void ownGrayLoop(const void* const src[3], int stride, void* dst, int n) {
    const S* r = static_cast<const S*>(src[0]);
    const S* g = static_cast<const S*>(src[1]);
    const S* b = static_cast<const S*>(src[2]);
    D* d = static_cast<D*>(dst);
    if (stride == 3 || stride == 4) {
        // Packed pixels: one base and constant offsets, so the loads become shuffles.
        const S* const p[3] = {r, g, b};
        int order[3];
        const S* base = ownPacked(p, order);
        if (base && order[1] == 1) {
            if (stride == 3 && order[0] == 0)
                for (int i = 0; i < n; ++i) d[i] = D(Rule::of(base[3 * i], base[3 * i + 1], base[3 * i + 2]));
            else if (stride == 3)
                for (int i = 0; i < n; ++i) d[i] = D(Rule::of(base[3 * i + 2], base[3 * i + 1], base[3 * i]));
            else if (order[0] == 0)
                for (int i = 0; i < n; ++i) d[i] = D(Rule::of(base[4 * i], base[4 * i + 1], base[4 * i + 2]));
            else
                for (int i = 0; i < n; ++i) d[i] = D(Rule::of(base[4 * i + 2], base[4 * i + 1], base[4 * i]));
            return;
        }
    }
    if (stride == 1) {
        for (int i = 0; i < n; ++i) d[i] = D(Rule::of(r[i], g[i], b[i]));
        return;
    }
    for (int64_t i = 0; i < n; ++i) d[i] = D(Rule::of(r[i * stride], g[i * stride], b[i * stride]));
}

struct OwnGray8 {  // 8U source, weights summing to 255
    static OWN_INLINE int of(int r, int g, int b) { return 54 * r + 183 * g + 18 * b; }
};
struct OwnGray8to8 {
    static OWN_INLINE int of(int r, int g, int b) { return OwnGray8::of(r, g, b) >> 8; }
};
struct OwnGray16to8 {
    static OWN_INLINE int of(int r, int g, int b) { return OwnGray8::of(r, g, b) >> 16; }
};
struct OwnGray16to16 {
    static OWN_INLINE int of(int r, int g, int b) { return OwnGray8::of(r, g, b) >> 8; }
};
struct OwnGray32 {
    static OWN_INLINE int of(int32_t r, int32_t g, int32_t b, int s) {
        return 109 * (r >> s) + 366 * (g >> s) + 37 * (b >> s);
    }
};
struct OwnGray32to8 {
    static OWN_INLINE int of(int32_t r, int32_t g, int32_t b) { return OwnGray32::of(r, g, b, 11) >> 21; }
};
struct OwnGray32to16 {
    static OWN_INLINE int of(int32_t r, int32_t g, int32_t b) { return OwnGray32::of(r, g, b, 11) >> 13; }
};

OWN_CLONES void ownGray8to8(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<uint8_t, uint8_t, OwnGray8to8>(s, st, d, n);
}
OWN_CLONES void ownGray8to16(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<uint8_t, uint16_t, OwnGray8>(s, st, d, n);
}
OWN_CLONES void ownGray16to8(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<uint16_t, uint8_t, OwnGray16to8>(s, st, d, n);
}
OWN_CLONES void ownGray16to16(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<uint16_t, uint16_t, OwnGray16to16>(s, st, d, n);
}
void ownGray32to8(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<int32_t, uint8_t, OwnGray32to8>(s, st, d, n);
}
void ownGray32to16(const void* const s[3], int st, void* d, int n) {
    ownGrayLoop<int32_t, uint16_t, OwnGray32to16>(s, st, d, n);
}

// 1-bit results, most significant bit first, bit by bit.
template <class S, class Pred>
void ownGrayBits(const void* const src[3], int stride, void* dst, int n) {
    const S* r = static_cast<const S*>(src[0]);
    const S* g = static_cast<const S*>(src[1]);
    const S* b = static_cast<const S*>(src[2]);
    uint8_t* d = static_cast<uint8_t*>(dst);
    for (int64_t i = 0; i < n; ++i) {
        const int64_t k = i * stride;
        const uint8_t bit = uint8_t(0x80u >> (i & 7));
        if (Pred::of(r[k], g[k], b[k]))
            d[i >> 3] |= bit;
        else
            d[i >> 3] &= uint8_t(~bit);
    }
}
struct OwnBit8 {
    static bool of(int r, int g, int b) { return (OwnGray8::of(r, g, b) >> 8) > 127; }
};
struct OwnBit16 {
    static bool of(int r, int g, int b) { return (OwnGray8::of(r, g, b) >> 8) > 32767; }
};
struct OwnBit32 {
    static bool of(int32_t r, int32_t g, int32_t b) { return OwnGray32::of(r, g, b, 10) > 536870911; }
};

// ---------------------------------------------------------------------------
// Colour from gray.

// 8U and 16U: integer weights with a shift.
template <class T>
void ownColorInt(const void* src, void* const dst[3], int st, int n, const OwnGrayWeights& w) {
    const T* s = static_cast<const T*>(src);
    for (int k = 0; k < 3; ++k) {
        T* d = static_cast<T*>(dst[k]);
        const int wc = w.w[k], sh = w.shift;
        for (int64_t i = 0; i < n; ++i) d[i * st] = T(ownMulWrap(s[i], wc) >> sh);
    }
}
void ownColor32(const void* src, void* const dst[3], int st, int n, const OwnGrayWeights& w) {
    const int32_t* s = static_cast<const int32_t*>(src);
    for (int k = 0; k < 3; ++k) {
        int32_t* d = static_cast<int32_t*>(dst[k]);
        for (int64_t i = 0; i < n; ++i) d[i * st] = ownSat32(ownTrunc64(double(s[i]) * w.f[k]));
    }
}
void ownColor1to8(const void* src, void* const dst[3], int st, int n, const OwnGrayWeights& w) {
    const uint8_t* s = static_cast<const uint8_t*>(src);
    for (int k = 0; k < 3; ++k) {
        uint8_t* d = static_cast<uint8_t*>(dst[k]);
        const uint8_t on = uint8_t(ownMulWrap(w.w[k], 255) >> 8);
        for (int64_t i = 0; i < n; ++i) d[i * st] = (s[i >> 3] & (0x80u >> (i & 7))) ? on : 0;
    }
}

int ownTruncWeight(double v) { return ownSat32(ownTrunc64(v)); }

}  // namespace

OwnGrayRow ownGrayRow(unsigned srcDepth, unsigned dstDepth) {
    const int s = ownDepthIndex(srcDepth), d = ownDepthIndex(dstDepth);
    if (s == kD8U) {
        if (d == kD8U) return ownGray8to8;
        if (d == kD16U) return ownGray8to16;
        if (d == kD1U) return ownGrayBits<uint8_t, OwnBit8>;
    } else if (s == kD16U) {
        if (d == kD8U) return ownGray16to8;
        if (d == kD16U) return ownGray16to16;
        if (d == kD1U) return ownGrayBits<uint16_t, OwnBit16>;
    } else if (s == kD32S) {
        if (d == kD8U) return ownGray32to8;
        if (d == kD16U) return ownGray32to16;
        if (d == kD1U) return ownGrayBits<int32_t, OwnBit32>;
    }
    return nullptr;
}

OwnGrayWeights ownGrayWeights(unsigned depth, float red, float green, float blue) {
    OwnGrayWeights w{};
    const float f[3] = {red, green, blue};
    const bool wide = depth == VEX_DEPTH_16U || depth == VEX_DEPTH_32S;
    const double unit = wide ? 32768.0 : 256.0;
    for (int k = 0; k < 3; ++k) {
        w.w[k] = ownTruncWeight(double(f[k]) * unit);
        w.f[k] = double(f[k]);
    }
    w.shift = wide ? 15 : 8;
    if (w.w[0] == 0 && w.w[1] == 0 && w.w[2] == 0) {
        static const int k8[3] = {54, 183, 18}, k16[3] = {109, 366, 37};
        static const float k32[3] = {0.212671f, 0.715160f, 0.072169f};
        for (int k = 0; k < 3; ++k) {
            w.w[k] = wide ? k16[k] : k8[k];
            w.f[k] = double(k32[k]);
        }
        w.shift = wide ? 9 : 8;
    }
    return w;
}

OwnColorRow ownColorRow(unsigned srcDepth, unsigned dstDepth) {
    if (srcDepth == VEX_DEPTH_1U && dstDepth == VEX_DEPTH_8U) return ownColor1to8;
    if (srcDepth != dstDepth) return nullptr;
    switch (srcDepth) {
        case VEX_DEPTH_8U: return ownColorInt<uint8_t>;
        case VEX_DEPTH_16U: return ownColorInt<uint16_t>;
        case VEX_DEPTH_32S: return ownColor32;
        default: return nullptr;
    }
}

OwnModelRow ownModelRow(OwnModelOp op, unsigned depth) {
    static const OwnModelRow k8[kModelOps] = {ownRGB2HSV8u, ownHSV2RGB8u, ownRGB2HLS8u, ownHLS2RGB8u};
    static const OwnModelRow k16[kModelOps] = {
        ownRGB2ModelWide<uint16_t, false>, ownHSV2RGBWide<uint16_t>,
        ownRGB2ModelWide<uint16_t, true>, ownHLS2RGBWide<uint16_t>};
    static const OwnModelRow k32[kModelOps] = {
        ownRGB2ModelWide<int32_t, false>, ownHSV2RGBWide<int32_t>,
        ownRGB2ModelWide<int32_t, true>, ownHLS2RGBWide<int32_t>};
    switch (depth) {
        case VEX_DEPTH_8U: return k8[op];
        case VEX_DEPTH_16U: return k16[op];
        case VEX_DEPTH_32S: return k32[op];
        default: return nullptr;
    }
}

}  // namespace vex
