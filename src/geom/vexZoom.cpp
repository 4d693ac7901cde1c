// Zoom: the source region enlarged by xU/xL horizontally and yU/yL
// vertically into the destination region, in floating point with the index
// rounding idx(v) = round-half-even(v + 0.00001 - 0.5).
//
// Coordinate tables (source column and fraction per destination column,
// source row and fraction per destination row) are computed once per call;
// linear and cubic interpolate each source row horizontally once into a
// float row that serves every destination row needing it.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "geom/owngeom.h"
#include "image/ownsimd.h"

namespace vex {
namespace {

const OwnSite kZoom{"vexZoom", "vexZoom"};

struct ZoomPlan {
    int sW, sH;  // clipped source region
    int W, H;    // processed destination rectangle
    int interp;
    // Nearest neighbour: source column / row per destination column / row.
    // Linear and cubic: the left (centre) tap and its fraction.
    int* colIx;
    int* rowIx;
    float* colF;   // linear
    double* colD;  // cubic
    double* rowD;  // linear and cubic
    // The same per element of a destination row (pixel j, channel c at
    // j * nc + c): the tap's element index in the source row.
    int nc, ps;
    int* elemAt;
    float* elemF;
    double* elemD;
    float* frow;  // one source row in float
    // One channel, doubled columns: columns j in [pairsBegin, pairsEnd)
    // (both even) have their (left or centre) tap at source column j / 2.
    int pairsBegin, pairsEnd;
    // Linear with dyadic fractions: every column fraction is a multiple of
    // 2^-kx and every row fraction of 2^-ky (kx, ky <= kMaxBits; -1 when
    // not). The float rows are then exact, and the rows run in integers:
    // elemM = fraction * 2^kx per element, rowN = fraction * 2^ky per row.
    int kx, ky;
    bool evenExact;  // cubic pairs: every even column has fraction 0
    int* elemM;
    int* rowN;
};

// Fraction bits of the integer linear path. With at most 6 bits per axis a
// float row value (b - a) * f + a of 16-bit samples needs at most 24
// significant bits, so the float pass is exact, and the vertical sum of
// 12 fraction bits stays inside 32 bits.
constexpr int kMaxBits = 6;

// The smallest k <= kMaxBits with every v[i] * 2^k an integer in
// [0, 2^(k + 1)]; -1 when there is none. (Fractions lie in [0, 2).)
template <class F>
int ownDyadicBits(const F* v, int n) {
    for (int k = 0; k <= kMaxBits; ++k) {
        const double scale = double(1 << k);
        bool ok = true;
        for (int i = 0; i < n && ok; ++i) {
            const double m = double(v[i]) * scale;
            ok = m == std::floor(m) && m >= 0.0 && m <= 2.0 * scale;
        }
        if (ok) return k;
    }
    return -1;
}

// Extent rule: the whole destination when its last pixel still maps inside
// the source, else ceil(s / step) - 1 pixels.
int ownZoomExtent(int d, int s, double step) {
    if (ownIdx((d - 1) * step) <= s - 1) return d;
    const double n = s / step;
    int w = ownIdx(n);
    if (w == n) --w;
    return std::max(w, 0);
}

void ownZoomTables(ZoomPlan& z, double stepX, double stepY) {
    if (z.interp == VEX_INTER_NN) {
        // 14-bit fixed point, accumulated by repeated addition of the step.
        auto fill = [](int* out, int n, double step, int size) {
            const int64_t stepF = ownIdx(step * 16384.0);
            int64_t acc = ownIdx(0.0 * 16384.0);
            for (int k = 0; k < n; ++k, acc += stepF)
                out[k] = static_cast<int>(std::min<int64_t>(acc >> 14, size - 1));
        };
        fill(z.colIx, z.W, stepX, z.sW);
        fill(z.rowIx, z.H, stepY, z.sH);
        return;
    }
    const bool cubic = z.interp == VEX_INTER_CUBIC;
    // The left tap (linear, kept at most size - 2) or the centre tap of a
    // four-tap window kept inside the source (cubic).
    auto tap = [cubic](double v, int size) {
        int ix = ownIdx(v);
        if (!cubic) {
            if (ix == size - 1) --ix;
            return std::clamp(ix, 0, size - 2);
        }
        if (ix <= 0) return 1;
        if (ix >= size - 1) return size - 3;
        if (ix == size - 2) return size - 3;
        return ix;
    };
    for (int j = 0; j < z.W; ++j) {
        const double sx = j * stepX;
        z.colIx[j] = tap(sx, z.sW);
        if (cubic) z.colD[j] = sx - z.colIx[j];
        else z.colF[j] = static_cast<float>(sx - z.colIx[j]);
    }
    for (int i = 0; i < z.H; ++i) {
        const double sy = i * stepY;
        z.rowIx[i] = tap(sy, z.sH);
        z.rowD[i] = sy - z.rowIx[i];
    }
    // Doubled columns: the run of columns from the first even one whose
    // tap is at half its index (0 for linear, 2 for cubic: the first two
    // cubic columns share a window moved inside).
    z.pairsBegin = z.pairsEnd = 0;
    if (z.nc == 1 && z.ps == 1) {
        int j = cubic ? 2 : 0;
        z.pairsBegin = j;
        while (j < z.W && z.colIx[j] == j / 2) ++j;
        z.pairsEnd = std::max(z.pairsBegin, j & ~1);
    }
    z.kx = z.ky = -1;
    if (!cubic) {
        z.kx = ownDyadicBits(z.colF, z.W);
        z.ky = ownDyadicBits(z.rowD, z.H);
        if (z.kx < 0 || z.ky < 0) z.kx = z.ky = -1;
    }
    z.evenExact = cubic;
    for (int j = z.pairsBegin; j < z.pairsEnd && cubic; j += 2) z.evenExact = z.evenExact && z.colD[j] == 0.0;
    if (z.kx >= 0) {
        for (int i = 0; i < z.H; ++i) z.rowN[i] = static_cast<int>(z.rowD[i] * (1 << z.ky));
        for (int j = 0; j < z.W; ++j)
            for (int c = 0; c < z.nc; ++c) z.elemM[j * z.nc + c] = static_cast<int>(z.colF[j] * (1 << z.kx));
    }
    for (int j = 0; j < z.W; ++j)
        for (int c = 0; c < z.nc; ++c) {
            const int k = j * z.nc + c;
            z.elemAt[k] = z.colIx[j] * z.ps + c;
            if (cubic) z.elemD[k] = z.colD[j];
            else z.elemF[k] = z.colF[j];
        }
}

// The four-point cubic through p0..p3 (at -1, 0, 1, 2) evaluated at d, in
// Newton form.
inline double ownNewton(double p0, double p1, double p2, double p3, double d) {
    const double d1 = p1 - p0;
    const double d2 = p2 - 2.0 * p1 + p0;
    const double d3 = p3 - 3.0 * p2 + 3.0 * p1 - p0;
    return p0 + (1.0 + d) * (d1 + d * 0.5 * (d2 + (d - 1.0) * (1.0 / 3.0) * d3));
}

// Rounded and clamped output of one row: idx(v), v from the float rows.
// Rounded, then clamped to the depth (in integers: the values are small).
template <class T>
inline T ownZoomStore(double v, int maxv) {
    const double k = 6755399441055744.0;
    int q = static_cast<int>(((v + 0.00001 - 0.5) + k) - k);
    q = q < 0 ? 0 : q > maxv ? maxv : q;
    return static_cast<T>(q);
}

template <class T>
inline void ownLerpRowT(const float* __restrict a, const float* __restrict b, double fy,
                        T* __restrict out, int n, int maxv) {
    for (int k = 0; k < n; ++k) {
        const double va = a[k], vb = b[k];
        out[k] = ownZoomStore<T>(va + (vb - va) * fy, maxv);
    }
}
OWN_CLONES void ownLerpRow(const float* a, const float* b, double fy, uint8_t* out, int n) {
    ownLerpRowT(a, b, fy, out, n, 255);
}
OWN_CLONES void ownLerpRow(const float* a, const float* b, double fy, uint16_t* out, int n) {
    ownLerpRowT(a, b, fy, out, n, 65535);
}

OWN_CLONES void ownStoreRow(const float* a, uint8_t* out, int n) {
    for (int k = 0; k < n; ++k) out[k] = ownZoomStore<uint8_t>(a[k], 255);
}
OWN_CLONES void ownStoreRow(const float* a, uint16_t* out, int n) {
    for (int k = 0; k < n; ++k) out[k] = ownZoomStore<uint16_t>(a[k], 65535);
}

template <class T>
inline void ownCubicRowT(const float* __restrict r0, const float* __restrict r1,
                         const float* __restrict r2, const float* __restrict r3, double d,
                         T* __restrict out, int n, int maxv) {
    for (int k = 0; k < n; ++k)
        out[k] = ownZoomStore<T>(ownNewton(r0[k], r1[k], r2[k], r3[k], d), maxv);
}
// The cubic at d = 0: ownNewton reduces to p0 + (p1 - p0) there (the
// other terms are multiplied by d), computed as such.
template <class T>
inline void ownCubicRow0T(const float* __restrict r0, const float* __restrict r1, T* __restrict out,
                          int n, int maxv) {
    for (int k = 0; k < n; ++k) {
        const double p0 = r0[k], p1 = r1[k];
        out[k] = ownZoomStore<T>(p0 + (p1 - p0), maxv);
    }
}
OWN_CLONES void ownCubicRow0(const float* r0, const float* r1, uint8_t* out, int n) {
    ownCubicRow0T(r0, r1, out, n, 255);
}
OWN_CLONES void ownCubicRow0(const float* r0, const float* r1, uint16_t* out, int n) {
    ownCubicRow0T(r0, r1, out, n, 65535);
}
OWN_CLONES void ownCubicRow(const float* r0, const float* r1, const float* r2, const float* r3,
                            double d, uint8_t* out, int n) {
    ownCubicRowT(r0, r1, r2, r3, d, out, n, 255);
}
OWN_CLONES void ownCubicRow(const float* r0, const float* r1, const float* r2, const float* r3,
                            double d, uint16_t* out, int n) {
    ownCubicRowT(r0, r1, r2, r3, d, out, n, 65535);
}

// Horizontal passes over elements k of a destination row (pixel j, channel
// c at k = j * nc + c): `at[k]` is the element of the left (linear) or
// centre (cubic) tap in the float copy `r` of the source row, `ps` the
// distance between neighbouring pixels. The cubic pass vectorises with
// gathers; the linear one is faster as plain loads (gathers are slow on the
// machines measured).
__attribute__((optimize("no-tree-vectorize"))) void ownLerpH(const float* __restrict r, const int* __restrict at, int off,
                         const float* __restrict f, int ps, float* __restrict h, int n) {
    for (int k = 0; k < n; ++k) {
        const int i = at[k] - off;
        const float a = r[i], b = r[i + ps];
        h[k] = (b - a) * f[k] + a;
    }
}
// Doubling: destination columns 2m and 2m + 1 both read source columns m
// and m + 1 (one channel), so the taps are contiguous loads. The same
// formula as ownLerpH, element for element.
OWN_CLONES void ownLerpPairs(const float* __restrict r, const float* __restrict f,
                             float* __restrict h, int pairs) {
    for (int m = 0; m < pairs; ++m) {
        const float a = r[m], b = r[m + 1];
        h[2 * m] = (b - a) * f[2 * m] + a;
        h[2 * m + 1] = (b - a) * f[2 * m + 1] + a;
    }
}
OWN_CLONES void ownCubicH(const float* __restrict r, const int* __restrict at, int off,
                          const double* __restrict d, int ps, float* __restrict h, int n) {
    for (int k = 0; k < n; ++k) {
        const int i = at[k] - off;
        h[k] = static_cast<float>(ownNewton(r[i - ps], r[i], r[i + ps], r[i + 2 * ps], d[k]));
    }
}
// Doubled columns of the cubic: columns 2m and 2m + 1 share the window
// m - 1 .. m + 2. Even columns with fraction 0 (ownNewton gives p1
// exactly there: p0 + (p1 - p0) of integral samples) take the sample.
OWN_CLONES void ownCubicPairs(const float* __restrict r, const double* __restrict d,
                              float* __restrict h, int pairs, bool evenExact) {
    if (evenExact) {
        for (int m = 0; m < pairs; ++m) {
            h[2 * m] = r[m];
            h[2 * m + 1] = static_cast<float>(ownNewton(r[m - 1], r[m], r[m + 1], r[m + 2], d[2 * m + 1]));
        }
        return;
    }
    for (int m = 0; m < pairs; ++m) {
        h[2 * m] = static_cast<float>(ownNewton(r[m - 1], r[m], r[m + 1], r[m + 2], d[2 * m]));
        h[2 * m + 1] = static_cast<float>(ownNewton(r[m - 1], r[m], r[m + 1], r[m + 2], d[2 * m + 1]));
    }
}
template <class T>
inline void ownToFloat(const T* __restrict p, float* __restrict r, int n) {
    for (int k = 0; k < n; ++k) r[k] = p[k];
}
OWN_CLONES void ownToFloat8(const uint8_t* p, float* r, int n) { ownToFloat(p, r, n); }
OWN_CLONES void ownToFloat16(const uint16_t* p, float* r, int n) { ownToFloat(p, r, n); }

// Integer linear rows (dyadic fractions): a row value is
// a * (2^kx - M) + b * M, the float row value times 2^kx exactly.
template <class T, class R>
inline void ownLerpHIntT(const T* __restrict p, const int* __restrict at, int off,
                         const int* __restrict M, int ps, int S, R* __restrict h, int n) {
    for (int k = 0; k < n; ++k) {
        const int i = at[k] - off;
        h[k] = static_cast<R>(p[i] * (S - M[k]) + p[i + ps] * M[k]);
    }
}
template <class T, class R>
inline void ownLerpPairsIntT(const T* __restrict p, const int* __restrict M, int S,
                             R* __restrict h, int pairs) {
    for (int m = 0; m < pairs; ++m) {
        const int a = p[m], b = p[m + 1];
        h[2 * m] = static_cast<R>(a * (S - M[2 * m]) + b * M[2 * m]);
        h[2 * m + 1] = static_cast<R>(a * (S - M[2 * m + 1]) + b * M[2 * m + 1]);
    }
}
// The vertical blend in integers: v * 2^(kx + ky) = a * (2^ky - N) + b * N,
// and idx(v) of such a v is its floor (its fraction is at most
// 1 - 2^-12, so v + 0.00001 - 0.5 never reaches the next half): an
// arithmetic shift.
template <class T, class R>
inline void ownLerpRowIntT(const R* __restrict a, const R* __restrict b, int wa, int wb, int K,
                           T* __restrict out, int n, int maxv) {
    for (int k = 0; k < n; ++k) {
        int q = (a[k] * wa + b[k] * wb) >> K;
        q = q < 0 ? 0 : q > maxv ? maxv : q;
        out[k] = static_cast<T>(q);
    }
}
OWN_CLONES void ownLerpHInt(const uint8_t* p, const int* at, int off, const int* M, int ps, int S,
                            int16_t* h, int n) {
    ownLerpHIntT(p, at, off, M, ps, S, h, n);
}
OWN_CLONES void ownLerpHInt(const uint16_t* p, const int* at, int off, const int* M, int ps, int S,
                            int32_t* h, int n) {
    ownLerpHIntT(p, at, off, M, ps, S, h, n);
}
OWN_CLONES void ownLerpPairsInt(const uint8_t* p, const int* M, int S, int16_t* h, int pairs) {
    ownLerpPairsIntT(p, M, S, h, pairs);
}
OWN_CLONES void ownLerpPairsInt(const uint16_t* p, const int* M, int S, int32_t* h, int pairs) {
    ownLerpPairsIntT(p, M, S, h, pairs);
}
OWN_CLONES void ownLerpRowInt(const int16_t* a, const int16_t* b, int wa, int wb, int K, uint8_t* out,
                              int n) {
    ownLerpRowIntT(a, b, wa, wb, K, out, n, 255);
}
OWN_CLONES void ownLerpRowInt(const int32_t* a, const int32_t* b, int wa, int wb, int K,
                              uint16_t* out, int n) {
    ownLerpRowIntT(a, b, wa, wb, K, out, n, 65535);
}

// Row value types: float, or for the integer linear path int16_t (8U: a
// row value is at most 3 * 255 * 2^kx in magnitude, kx <= 5) and int32_t
// (16U).
template <class T>
using OwnIntRow = std::conditional_t<sizeof(T) == 1, int16_t, int32_t>;

// Horizontal pass of source row `y` over destination columns [j0, j0 + w)
// into `h`: the doubled columns of the piece as pairs, the rest through the
// element tables (which count elements from the region's column 0).
template <class T, class R>
void ownZoomHorizontal(const ZoomPlan& z, const OwnPix& s, int y, int j0, int w, R* __restrict h) {
    const bool cubic = z.interp == VEX_INTER_CUBIC;
    const int lo = cubic ? 1 : 0, hi = cubic ? 2 : 1;
    const int first = z.colIx[j0] - lo, last = z.colIx[j0 + w - 1] + hi;
    const T* p = s.row<T>(y) + int64_t(first - s.x0) * z.ps;
    const int off = first * z.ps, k0 = j0 * z.nc;
    // Pairs over [pa, pb), even and inside the piece.
    int pa = std::max(j0, z.pairsBegin), pb = std::min(j0 + w, z.pairsEnd) & ~1;
    pa += pa & 1;
    if (pa >= pb) pa = pb = j0 + w;
    const int segs[3][2] = {{j0, pa}, {pb, j0 + w}, {pa, pb}};
    if constexpr (std::is_same_v<R, float>) {
        const int count = (last - first) * z.ps + z.nc;
        if (sizeof(T) == 1) ownToFloat8(reinterpret_cast<const uint8_t*>(p), z.frow, count);
        else ownToFloat16(reinterpret_cast<const uint16_t*>(p), z.frow, count);
        for (int g = 0; g < 2; ++g) {
            const int k = segs[g][0] * z.nc, n = (segs[g][1] - segs[g][0]) * z.nc;
            if (n <= 0) continue;
            if (cubic) ownCubicH(z.frow, z.elemAt + k, off, z.elemD + k, z.ps, h + (k - k0), n);
            else ownLerpH(z.frow, z.elemAt + k, off, z.elemF + k, z.ps, h + (k - k0), n);
        }
        if (pa < pb) {
            const float* r = z.frow + (pa / 2 - first);
            if (cubic) ownCubicPairs(r, z.elemD + pa, h + (pa - j0), (pb - pa) / 2, z.evenExact);
            else ownLerpPairs(r, z.elemF + pa, h + (pa - j0), (pb - pa) / 2);
        }
    } else {
        const int S = 1 << z.kx;
        for (int g = 0; g < 2; ++g) {
            const int k = segs[g][0] * z.nc, n = (segs[g][1] - segs[g][0]) * z.nc;
            if (n > 0) ownLerpHInt(p, z.elemAt + k, off, z.elemM + k, z.ps, S, h + (k - k0), n);
        }
        if (pa < pb) ownLerpPairsInt(p + (pa / 2 - first), z.elemM + pa, S, h + (pa - j0), (pb - pa) / 2);
    }
}

// Linear and cubic for one piece: `rows` holds room for four rows of
// w * nc values of R; `tmp` one row of T for strided destinations.
template <class T, class R>
void ownZoomInterp(const ZoomPlan& z, const OwnPix& s0, const OwnPix& d0, const OwnRect& pc,
                   OwnLanesGeo L, R* rows, T* tmp) {
    const int taps = z.interp == VEX_INTER_LINEAR ? 2 : 4;
    const int n = pc.w * L.nc;
    for (int lane = 0; lane < L.lanes; ++lane) {
        OwnPix s = s0, d = d0;
        if (s.data) s.data += s.plane * lane;
        if (d.data) d.data += d.plane * lane;
        // Cache of horizontally interpolated rows, tagged by source row.
        int tag[4] = {-1, -1, -1, -1};
        for (int i = pc.y; i < pc.y + pc.h; ++i) {
            const int first = z.rowIx[i] - (taps == 4 ? 1 : 0);
            const R* r[4] = {};
            bool used[4] = {false, false, false, false};
            for (int k = 0; k < taps; ++k)
                for (int b = 0; b < taps; ++b)
                    if (tag[b] == first + k) {
                        r[k] = rows + int64_t(b) * n;
                        used[b] = true;
                    }
            for (int k = 0; k < taps; ++k) {
                if (r[k]) continue;
                int b = 0;
                while (used[b] || (tag[b] >= first && tag[b] < first + taps)) ++b;
                R* h = rows + int64_t(b) * n;
                ownZoomHorizontal<T, R>(z, s, first + k, pc.x, pc.w, h);
                tag[b] = first + k;
                used[b] = true;
                r[k] = h;
            }
            T* out = d.rowW<T>(i);
            T* o = d.ps == L.nc ? out : tmp;
            if constexpr (!std::is_same_v<R, float>) {
                const int N = z.rowN[i];
                ownLerpRowInt(r[0], r[1], (1 << z.ky) - N, N, z.kx + z.ky, o, n);
            } else if (taps == 2 && z.rowD[i] == 0.0) {
                ownStoreRow(r[0], o, n);  // v = h exactly
            } else if (taps == 2) {
                ownLerpRow(r[0], r[1], z.rowD[i], o, n);
            } else if (z.rowD[i] == 0.0) {
                ownCubicRow0(r[0], r[1], o, n);
            } else {
                ownCubicRow(r[0], r[1], r[2], r[3], z.rowD[i], o, n);
            }
            if (o == tmp)
                for (int j = 0; j < pc.w; ++j)
                    for (int c = 0; c < L.nc; ++c) out[int64_t(j) * d.ps + c] = tmp[j * L.nc + c];
        }
    }
}

// The row type by path: integers for linear with dyadic fractions, float
// else. `rows` is sized for four float rows, room for either.
template <class T>
void ownZoomRows(const ZoomPlan& z, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                 OwnLanesGeo L, float* rows, T* tmp) {
    if (z.kx >= 0) ownZoomInterp<T, OwnIntRow<T>>(z, s, d, pc, L, reinterpret_cast<OwnIntRow<T>*>(rows), tmp);
    else ownZoomInterp<T, float>(z, s, d, pc, L, rows, tmp);
}

template <class T>
void ownZoomNearest(const ZoomPlan& z, const OwnPix& s0, const OwnPix& d0, const OwnRect& pc,
                    OwnLanesGeo L) {
    for (int lane = 0; lane < L.lanes; ++lane) {
        OwnPix s = s0, d = d0;
        if (s.data) s.data += s.plane * lane;
        if (d.data) d.data += d.plane * lane;
        for (int i = pc.y; i < pc.y + pc.h; ++i) {
            const T* __restrict p = s.row<T>(z.rowIx[i]);
            T* __restrict out = d.rowW<T>(i);
            const int* col = z.colIx + pc.x;
            if (L.nc == 1 && s.ps == 1 && d.ps == 1) {
                for (int j = 0; j < pc.w; ++j) out[j] = p[col[j] - s.x0];
                continue;
            }
            for (int j = 0; j < pc.w; ++j)
                for (int c = 0; c < L.nc; ++c)
                    out[int64_t(j) * d.ps + c] = p[int64_t(col[j] - s.x0) * s.ps + c];
        }
    }
}

void ownZoomBits(const ZoomPlan& z, const OwnPix& s, const OwnPix& d, const OwnRect& pc) {
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const char* p = s.data + s.step * (z.rowIx[i] - s.y0);
        char* out = d.data + d.step * (i - d.y0);
        for (int j = 0; j < pc.w; ++j)
            ownPutBit(out, d.bit + j, ownGetBit(p, s.bit + (z.colIx[pc.x + j] - s.x0)));
    }
}

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" VEXAPI void vexZoom(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU,
                               int yL, int interpolate, const VexMapping* mapping) {
    OWN_CHECK_HEADER(kZoom, srcImage);
    OWN_CHECK_HEADER(kZoom, dstImage);
    // (Unreachable after the header checks; kept so that the order of the
    // reports stays the documented one.)
    ownFail(kZoom, !srcImage, "srcImage==0", __LINE__);
    ownFail(kZoom, !dstImage, "dstImage==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    OWN_CHECK(kZoom, !srcImage->imageData && !srcImage->tileInfo,
              "srcImage->imageData == ((void*)(0)) && srcImage->tileInfo == ((void*)(0))");
    OWN_CHECK(kZoom, srcImage->imageData && srcImage->tileInfo,
              "srcImage->imageData != ((void*)(0)) && srcImage->tileInfo != ((void*)(0))");
    OWN_CHECK(kZoom, !dstImage->imageData && !dstImage->tileInfo,
              "dstImage->imageData == ((void*)(0)) && dstImage->tileInfo == ((void*)(0))");
    OWN_CHECK(kZoom, dstImage->imageData && dstImage->tileInfo,
              "dstImage->imageData != ((void*)(0)) && dstImage->tileInfo != ((void*)(0))");
    ownFail(kZoom,
            interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR &&
                interpolate != VEX_INTER_CUBIC,
            "interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR && interpolate != VEX_INTER_CUBIC",
            __LINE__);
    ownFail(kZoom, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth", __LINE__);
    ownFail(kZoom, srcImage->dataOrder != dstImage->dataOrder,
            "srcImage->dataOrder != dstImage->dataOrder", __LINE__);
    ownFail(kZoom, xU <= 0 || xL <= 0, "xU <= 0 || xL <= 0", __LINE__);
    ownFail(kZoom, yU <= 0 || yL <= 0, "yU <= 0 || yL <= 0", __LINE__);
    ownFail(kZoom, xU < xL || yU < yL, "xU < xL || yU < yL", __LINE__);
    if (vexGetErrStatus() < 0) return;
    OWN_CHECK(kZoom, srcImage->tileInfo && !srcImage->tileInfo->callBack,
              "srcImage->tileInfo->callBack == ((void*)(0))");
    OWN_CHECK(kZoom, dstImage->tileInfo && !dstImage->tileInfo->callBack,
              "dstImage->tileInfo->callBack == ((void*)(0))");

    // Signed depths are passed over without a report.
    const unsigned depth = srcImage->depth;
    if (depth != VEX_DEPTH_1U && depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U) return;

    ZoomPlan z{};
    int sx, sy, dx, dy;
    ownClipRegion(srcImage, &sx, &sy, &z.sW, &z.sH);
    ownClipRegion(dstImage, &dx, &dy, &z.W, &z.H);
    if (z.sW <= 0 || z.sH <= 0) return;

    // Interpolation downgrades, by the source image's size. The region's
    // own size is checked too: taps never leave the source region.
    int interp = interpolate;
    const int w = std::min(srcImage->width, z.sW), h = std::min(srcImage->height, z.sH);
    if (depth == VEX_DEPTH_1U || w < 2 || h < 2) interp = VEX_INTER_NN;
    if (interp == VEX_INTER_CUBIC && (w < 4 || h < 4)) interp = VEX_INTER_LINEAR;
    z.interp = interp;

    const double stepX = static_cast<double>(xL) / xU, stepY = static_cast<double>(yL) / yU;
    z.W = ownZoomExtent(z.W, z.sW, stepX);
    z.H = ownZoomExtent(z.H, z.sH, stepY);
    if (z.W <= 0 || z.H <= 0) return;

    OwnTemp temp;
    // Channels worked on: the smaller count (an image with a channel of
    // interest counts 1), interleaved in pixel order, plane by plane else.
    const bool plane = dstImage->dataOrder == VEX_DATA_ORDER_PLANE;
    const int nc = plane ? 1 : std::min(ownCoi(srcImage) ? 1 : srcImage->nChannels,
                                        ownCoi(dstImage) ? 1 : dstImage->nChannels);
    z.nc = nc;
    z.ps = plane ? 1 : srcImage->nChannels;
    z.colIx = temp.get<int>(z.W);
    z.rowIx = temp.get<int>(z.H);
    bool ok = z.colIx && z.rowIx;
    float* rows = nullptr;
    void* tmp = nullptr;
    if (interp != VEX_INTER_NN) {
        z.rowD = temp.get<double>(z.H);
        if (interp == VEX_INTER_LINEAR) z.colF = temp.get<float>(z.W);
        else z.colD = temp.get<double>(z.W);
        rows = temp.get<float>(int64_t(4) * z.W * nc);
        tmp = temp.get<uint16_t>(int64_t(z.W) * nc);
        z.elemAt = temp.get<int>(int64_t(z.W) * nc);
        if (interp == VEX_INTER_LINEAR) z.elemF = temp.get<float>(int64_t(z.W) * nc);
        else z.elemD = temp.get<double>(int64_t(z.W) * nc);
        z.frow = temp.get<float>((int64_t(z.sW) + 4) * z.ps);
        if (interp == VEX_INTER_LINEAR) {
            z.elemM = temp.get<int>(int64_t(z.W) * nc);
            z.rowN = temp.get<int>(z.H);
            ok = ok && z.elemM && z.rowN;
        }
        ok = ok && z.rowD && (z.colF || z.colD) && rows && tmp && z.elemAt && (z.elemF || z.elemD) && z.frow;
    }
    if (!ok) {
        ownGeoNoMem(kZoom, __LINE__);
        return;
    }
    ownZoomTables(z, stepX, stepY);

    // The source part a piece reads: its taps, in source-region coordinates.
    const int lo = interp == VEX_INTER_CUBIC ? 1 : 0;
    const int hi = interp == VEX_INTER_NN ? 0 : interp == VEX_INTER_LINEAR ? 1 : 2;
    auto need = [&](const OwnRect& pc) {
        const int x0 = z.colIx[pc.x] - lo, x1 = z.colIx[pc.x + pc.w - 1] + hi;
        const int y0 = z.rowIx[pc.y] - lo, y1 = z.rowIx[pc.y + pc.h - 1] + hi;
        return OwnRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    };
    int sel[2];
    const int* tile = ownMappingTile(dstImage, mapping, true, sel);
    const OwnGeoFail fail{VEX_StsError, kErrTileWrite, 0, nullptr};
    ownGeoWalk(kZoom, srcImage, dstImage, sx, sy, dx, dy, z.W, z.H, tile, fail, need,
               [&](const OwnPix& s, const OwnPix& d, const OwnRect& pc, OwnLanesGeo L) {
        if (depth == VEX_DEPTH_1U) ownZoomBits(z, s, d, pc);
        else if (interp == VEX_INTER_NN && depth == VEX_DEPTH_8U) ownZoomNearest<uint8_t>(z, s, d, pc, L);
        else if (interp == VEX_INTER_NN) ownZoomNearest<uint16_t>(z, s, d, pc, L);
        else if (depth == VEX_DEPTH_8U)
            ownZoomRows<uint8_t>(z, s, d, pc, L, rows, static_cast<uint8_t*>(tmp));
        else
            ownZoomRows<uint16_t>(z, s, d, pc, L, rows, static_cast<uint16_t*>(tmp));
    });
}
