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

#include "color/owncolor.h"
#include "image/ownsimd.h"

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

// One 8U model row through a block kernel: components gathered into planes
// of 32-bit values, converted, and scattered back as bytes.
#define OWN_MODEL_ROW8(name, block)                                                          \
    OWN_CLONES void name(const void* const src[3], int sStride, void* const dst[3],           \
                         int dStride, int n) {                                                 \
        const uint8_t* const* s = reinterpret_cast<const uint8_t* const*>(src);                \
        alignas(32) int32_t w[6][kBlock];                                                      \
        for (int64_t at = 0; at < n; at += kBlock) {                                           \
            const int m = int(std::min<int64_t>(kBlock, n - at));                              \
            ownGatherW(s, sStride, at, m, w);                                                  \
            block(w[0], w[1], w[2], w[3], w[4], w[5], m);                                      \
            ownScatterW(dst, dStride, at, m, w + 3);                                           \
        }                                                                                      \
    }

OWN_MODEL_ROW8(ownRGB2HSV8u, ownRGB2HSVBlock)
OWN_MODEL_ROW8(ownRGB2HLS8u, ownRGB2HLSBlock)
OWN_MODEL_ROW8(ownHSV2RGB8u, ownHSV2RGBBlock)
OWN_MODEL_ROW8(ownHLS2RGB8u, ownHLS2RGBBlock)

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

void ownColor8(const void* src, void* const dst[3], int st, int n, const OwnGrayWeights& w) {
    const uint8_t* s = static_cast<const uint8_t*>(src);
    for (int k = 0; k < 3; ++k) {
        uint8_t* d = static_cast<uint8_t*>(dst[k]);
        const int wc = w.w[k], sh = w.shift;
        for (int64_t i = 0; i < n; ++i) d[i * st] = uint8_t(ownMulWrap(s[i], wc) >> sh);
    }
}
void ownColor16(const void* src, void* const dst[3], int st, int n, const OwnGrayWeights& w) {
    const uint16_t* s = static_cast<const uint16_t*>(src);
    for (int k = 0; k < 3; ++k) {
        uint16_t* d = static_cast<uint16_t*>(dst[k]);
        const int wc = w.w[k], sh = w.shift;
        for (int64_t i = 0; i < n; ++i) d[i * st] = uint16_t(ownMulWrap(s[i], wc) >> sh);
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
        case VEX_DEPTH_8U: return ownColor8;
        case VEX_DEPTH_16U: return ownColor16;
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
