// Rotation of the source image about (xShift, yShift) by an angle in
// hundredths of a degree, into the destination region. Positions outside
// the source image give 0. Right angles are exact index mappings (the
// uncovered destination pixels set with vexSet); a zero angle is a copy.
#include <algorithm>
#include <cmath>

#include "geom/owngeom.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_ROT_AVX2 1
#endif

namespace vex {
namespace {

const OwnSite kRotate{"vexRotate", "vexRotat"};

// Destination columns per strip of the interpolating rotations.
constexpr int kRotStrip = 512;

// Row buffers of the linear routine: per column and per element.
struct RotRowBuffers {
    double* ix;  // -1 outside the image
    double* iy;
    double* fx;
    double* fy;
    float *g00, *g01, *g10, *g11;
    double* ex;
    double* ey;
    int* out;
};

struct RotPlan {
    int imgW, imgH;  // source image
    int rx, ry;      // source region corner: destination (j, i) is at (rx + j, ry + i)
    int W, H;        // working rectangle
    int interp;
    double c, s, tx, ty;
    double* cx;  // c * x per destination column
    double* sx;  // s * x per destination column
    double* px;  // source positions of one row of a piece
    double* py;
    RotRowBuffers rows;
};

// Puts the origin fields back when the work ends.
struct OwnOriginGuard {
    VexImage* a;
    VexImage* b;
    int oa, ob;
    OwnOriginGuard(VexImage* x, VexImage* y) : a(x), b(y), oa(x->origin), ob(y->origin) {}
    ~OwnOriginGuard() {
        a->origin = oa;
        b->origin = ob;
    }
};

// Source position of destination pixel (j, i): (c x - s y + tx, s x + c y + ty).
inline void ownRotPos(const RotPlan& r, int j, int i, double* px, double* py) {
    const double y = r.ry + i;
    *px = r.cx[j] - r.s * y + r.tx;
    *py = r.sx[j] + r.c * y + r.ty;
}

// The positions of destination columns [j0, j0 + n) of row i, in the same
// order of operations as ownRotPos.
OWN_CLONES void ownRotRow(const double* __restrict cx, const double* __restrict sx, double sy,
                          double cy, double tx, double ty, double* __restrict px,
                          double* __restrict py, int n) {
    for (int k = 0; k < n; ++k) {
        px[k] = cx[k] - sy + tx;
        py[k] = sx[k] + cy + ty;
    }
}

template <class T>
inline const T* ownAt(const OwnPix& s, int x, int y) {
    return s.row<T>(y) + int64_t(x - s.x0) * s.ps;
}

// Round half to even of a value known to be small (|v| < 2^51).
inline int ownRne(double v) {
    const double k = 6755399441055744.0;
    return static_cast<int>((v + k) - k);
}

// Nearest neighbour: index = round-half-even(v + 0.00001 - 0.5) above
// -0.00001, else -1 (0.5 already folded into tx, ty); -1 also far outside.
inline int ownRotNearestIndex(double v, int size) {
    if (!(v > -0.00001) || !(v < size + 1.0)) return -1;
    return ownRne(v + 0.00001 - 0.5);
}

template <class T>
void ownRotNearest(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc, int nc) {
    double* px = r.px;
    double* py = r.py;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const double y = r.ry + i;
        ownRotRow(r.cx + pc.x, r.sx + pc.x, r.s * y, r.c * y, r.tx, r.ty, px, py, pc.w);
        T* out = d.rowW<T>(i);
        for (int j = 0; j < pc.w; ++j) {
            const int X = ownRotNearestIndex(px[j], r.imgW), Y = ownRotNearestIndex(py[j], r.imgH);
            T* o = out + int64_t(j) * d.ps;
            if (X >= 0 && X < r.imgW && Y >= 0 && Y < r.imgH) {
                const T* q = ownAt<T>(s, X, Y);
                for (int c = 0; c < nc; ++c) o[c] = q[c];
            } else {
                for (int c = 0; c < nc; ++c) o[c] = 0;
            }
        }
    }
}

// Result rounding of linear and cubic: nearest integer to v + 0.00001
// (ties to even), clamped to the depth (clamping first gives the same).
template <class T>
inline T ownRotStore(double v, double maxv) {
    double q = v + 0.00001;
    q = q < 0.0 ? 0.0 : q > maxv ? maxv : q;
    return static_cast<T>(ownRne(q));
}

inline bool ownRotInside(double px, double py, int w, int h) {
    return px > -0.00001 && px <= w - 1 && py > -0.00001 && py <= h - 1;
}

// Linear, in three passes per row so that the arithmetic vectorises: the
// indices and fractions of every column (positions outside the image get
// index 0 and a flag), the four samples of every element gathered (zeros
// outside, which give 0), then the blend and the rounding.
OWN_CLONES void ownLinearIndex(const double* __restrict px, const double* __restrict py, int w,
                               int h, double* __restrict ix, double* __restrict iy,
                               double* __restrict fx, double* __restrict fy, int n) {
    const double k = 6755399441055744.0;
    for (int j = 0; j < n; ++j) {
        const double x = px[j], y = py[j];
        const double m = ((x > -0.00001) & (x <= w - 1) & (y > -0.00001) & (y <= h - 1)) ? 1.0 : 0.0;
        const double xc = std::min(std::max(x, 0.0), double(w - 1));
        const double yc = std::min(std::max(y, 0.0), double(h - 1));
        // Index = round-half-even(v + 0.00001 - 0.5), lowered at the last column.
        const double cx = std::min(((xc + 0.00001 - 0.5) + k) - k, double(w - 2));
        const double cy = std::min(((yc + 0.00001 - 0.5) + k) - k, double(h - 2));
        // Outside (m = 0): column index -1 and fractions 0; times 1 keeps
        // the inside values exact.
        ix[j] = cx * m - (1.0 - m);
        iy[j] = cy * m;
        fx[j] = (x - cx) * m;
        fy[j] = (y - cy) * m;
    }
}
OWN_CLONES void ownLinearBlend(const float* __restrict g00, const float* __restrict g01,
                               const float* __restrict g10, const float* __restrict g11,
                               const double* __restrict fx, const double* __restrict fy,
                               int* __restrict out, double maxv, int n) {
    const double k = 6755399441055744.0;
    for (int e = 0; e < n; ++e) {
        const double p00 = g00[e], p01 = g01[e], p10 = g10[e], p11 = g11[e];
        const double top = p00 + (p01 - p00) * fx[e];
        const double bottom = p10 + (p11 - p10) * fx[e];
        const double q = std::min(std::max(top + (bottom - top) * fy[e] + 0.00001, 0.0), maxv);
        out[e] = static_cast<int>((q + k) - k);
    }
}

// One destination pixel of the linear rotation, one channel, with the
// arithmetic of ownRotRow, ownLinearIndex and ownLinearBlend: the
// reference for the vector row below.
template <class T>
inline T ownRotLinearPixel(double cxj, double sxj, double sy, double cy, double tx, double ty,
                           int w, int h, const OwnPix& s, int64_t step, double maxv) {
    const double k = 6755399441055744.0;
    const double x = cxj - sy + tx, y = sxj + cy + ty;
    if (!(x > -0.00001 && x <= w - 1 && y > -0.00001 && y <= h - 1)) return 0;
    const double xc = std::min(std::max(x, 0.0), double(w - 1));
    const double yc = std::min(std::max(y, 0.0), double(h - 1));
    const double cxr = std::min(((xc + 0.00001 - 0.5) + k) - k, double(w - 2));
    const double cyr = std::min(((yc + 0.00001 - 0.5) + k) - k, double(h - 2));
    const double fx = x - cxr, fy = y - cyr;
    const T* a = ownAt<T>(s, static_cast<int>(cxr), static_cast<int>(cyr));
    const double p00 = a[0], p01 = a[1], p10 = a[step], p11 = a[step + 1];
    const double top = p00 + (p01 - p00) * fx;
    const double bottom = p10 + (p11 - p10) * fx;
    const double q = std::min(std::max(top + (bottom - top) * fy + 0.00001, 0.0), maxv);
    return static_cast<T>((q + k) - k);
}

// The interval of [0, n) where `pred`, monotone in j, holds. The source
// positions along a destination row are monotone in j (c x, the sums and
// the roundings all are), so each of the tests on them is.
template <class P>
void ownMonotoneSpan(int n, P pred, int* lo, int* hi) {
    const bool first = pred(0), last = pred(n - 1);
    if (first == last) {
        *lo = 0;
        *hi = first ? n : 0;
        return;
    }
    int l = 0, r = n - 1;  // pred(l) == first, pred(r) == last
    while (r - l > 1) {
        const int m = l + (r - l) / 2;
        (pred(m) == first ? l : r) = m;
    }
    *lo = first ? 0 : r;
    *hi = first ? r : n;
}

#if OWN_ROT_AVX2
// The linear rotation of one destination row segment of n pixels, one
// channel (s.ps == 1). The pixels whose position lies outside the image
// form a prefix and a suffix of the row (zeros); inside, the pixels whose
// 8U gather would read past the buffer's columns (ix + 3, at the right
// edge) are done one by one; the rest run eight pixels a step: positions,
// indices and fractions in double lanes with the arithmetic of
// ownRotLinearPixel (where every position is inside, the clamps to the
// image change nothing), the two sample pairs of each pixel by 32-bit
// gathers (p(ix), p(ix + 1) in the low bytes or words), the blend and the
// rounding in double lanes. `ahead` is the byte distance from a position
// to the one a few destination rows below: its source line is prefetched.
template <class T>
__attribute__((target("avx2"))) void ownRotLinearRowAvx2(const double* cx, const double* sx, double sy,
                                                         double cy, double tx, double ty, int w, int h,
                                                         const OwnPix& s, T* out, int n, double maxv,
                                                         int64_t ahead) {
    if (n <= 0) return;
    const double k = 6755399441055744.0;
    const int64_t step = s.step / int64_t(sizeof(T));
    auto X = [&](int j) { return cx[j] - sy + tx; };
    auto Y = [&](int j) { return sx[j] + cy + ty; };
    int lo = 0, hi = n, a, b;
    auto cut = [&](auto pred) {
        ownMonotoneSpan(n, pred, &a, &b);
        lo = std::max(lo, a), hi = std::min(hi, b);
    };
    cut([&](int j) { return X(j) > -0.00001; });
    cut([&](int j) { return X(j) <= w - 1; });
    cut([&](int j) { return Y(j) > -0.00001; });
    cut([&](int j) { return Y(j) <= h - 1; });
    if (lo >= hi) {
        std::fill(out, out + n, T(0));
        return;
    }
    std::fill(out, out + lo, T(0));
    std::fill(out + hi, out + n, T(0));
    const int in0 = lo, in1 = hi;
    if (sizeof(T) == 1) {
        const double xSafe = s.x0 + s.cols - 4;
        cut([&](int j) {
            const double xc = std::min(std::max(X(j), 0.0), double(w - 1));
            return std::min(((xc + 0.00001 - 0.5) + k) - k, double(w - 2)) <= xSafe;
        });
    }
    if (lo >= hi) lo = hi = in1;
    for (int j = in0; j < lo; ++j) out[j] = ownRotLinearPixel<T>(cx[j], sx[j], sy, cy, tx, ty, w, h, s, step, maxv);
    for (int j = hi; j < in1; ++j) out[j] = ownRotLinearPixel<T>(cx[j], sx[j], sy, cy, tx, ty, w, h, s, step, maxv);

    const __m256d vsy = _mm256_set1_pd(sy), vcy = _mm256_set1_pd(cy);
    const __m256d vtx = _mm256_set1_pd(tx), vty = _mm256_set1_pd(ty);
    const __m256d eps = _mm256_set1_pd(0.00001), half = _mm256_set1_pd(0.5), zero = _mm256_setzero_pd();
    const __m256d w2 = _mm256_set1_pd(w - 2), h2 = _mm256_set1_pd(h - 2);
    const __m256d vmax = _mm256_set1_pd(maxv);
    // Byte offset from s.data of pixel (ix, iy): exact in doubles.
    const __m256d vstep = _mm256_set1_pd(double(s.step)), vsize = _mm256_set1_pd(double(sizeof(T)));
    const __m256d vorg = _mm256_set1_pd(double(s.y0) * double(s.step) + double(s.x0) * double(sizeof(T)));
    const __m256i low = _mm256_set1_epi32(sizeof(T) == 1 ? 0xFF : 0xFFFF);
    const int shift = 8 * int(sizeof(T));
    const int rnd = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    const int* b0 = reinterpret_cast<const int*>(s.data);
    const int* b1 = reinterpret_cast<const int*>(s.data + s.step);
    const uintptr_t pre = reinterpret_cast<uintptr_t>(s.data) + static_cast<uintptr_t>(ahead);
    int j = lo;
    for (; j + 8 <= hi; j += 8) {
        __m256d fx[2], fy[2];
        __m128i off[2];
        for (int q = 0; q < 2; ++q) {
            const int jj = j + 4 * q;
            const __m256d x = _mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(cx + jj), vsy), vtx);
            const __m256d y = _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(sx + jj), vcy), vty);
            const __m256d cxr = _mm256_min_pd(_mm256_round_pd(_mm256_sub_pd(_mm256_add_pd(x, eps), half), rnd), w2);
            const __m256d cyr = _mm256_min_pd(_mm256_round_pd(_mm256_sub_pd(_mm256_add_pd(y, eps), half), rnd), h2);
            fx[q] = _mm256_sub_pd(x, cxr);
            fy[q] = _mm256_sub_pd(y, cyr);
            const __m256d o = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(cyr, vstep), _mm256_mul_pd(cxr, vsize)), vorg);
            off[q] = _mm256_cvtpd_epi32(o);
        }
        // The lines these pixels' successors a few rows down will read.
        _mm_prefetch(reinterpret_cast<const char*>(pre + uintptr_t(int64_t(_mm_cvtsi128_si32(off[0])))), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pre + uintptr_t(int64_t(_mm_extract_epi32(off[0], 2)))), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pre + uintptr_t(int64_t(_mm_cvtsi128_si32(off[1])))), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pre + uintptr_t(int64_t(_mm_extract_epi32(off[1], 2)))), _MM_HINT_T0);
        const __m256i offs = _mm256_set_m128i(off[1], off[0]);
        const __m256i g0 = _mm256_i32gather_epi32(b0, offs, 1);
        const __m256i g1 = _mm256_i32gather_epi32(b1, offs, 1);
        // p(ix + 1) - p(ix) in integers: exact, as the difference of the
        // two samples in doubles is.
        const __m256i q00 = _mm256_and_si256(g0, low), q10 = _mm256_and_si256(g1, low);
        const __m256i e0 = _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(g0, shift), low), q00);
        const __m256i e1 = _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(g1, shift), low), q10);
        const __m128i h00[2] = {_mm256_castsi256_si128(q00), _mm256_extracti128_si256(q00, 1)};
        const __m128i hd0[2] = {_mm256_castsi256_si128(e0), _mm256_extracti128_si256(e0, 1)};
        const __m128i h10[2] = {_mm256_castsi256_si128(q10), _mm256_extracti128_si256(q10, 1)};
        const __m128i hd1[2] = {_mm256_castsi256_si128(e1), _mm256_extracti128_si256(e1, 1)};
        __m128i res[2];
        for (int q = 0; q < 2; ++q) {
            const __m256d p00 = _mm256_cvtepi32_pd(h00[q]), d0 = _mm256_cvtepi32_pd(hd0[q]);
            const __m256d p10 = _mm256_cvtepi32_pd(h10[q]), d1 = _mm256_cvtepi32_pd(hd1[q]);
            const __m256d top = _mm256_add_pd(p00, _mm256_mul_pd(d0, fx[q]));
            const __m256d bottom = _mm256_add_pd(p10, _mm256_mul_pd(d1, fx[q]));
            const __m256d v = _mm256_add_pd(_mm256_add_pd(top, _mm256_mul_pd(_mm256_sub_pd(bottom, top), fy[q])), eps);
            res[q] = _mm256_cvtpd_epi32(_mm256_round_pd(_mm256_min_pd(_mm256_max_pd(v, zero), vmax), rnd));
        }
        const __m128i r16 = _mm_packus_epi32(res[0], res[1]);
        if (sizeof(T) == 1) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(r16, r16));
        else _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), r16);
    }
    for (; j < hi; ++j) out[j] = ownRotLinearPixel<T>(cx[j], sx[j], sy, cy, tx, ty, w, h, s, step, maxv);
}

// Chosen once, when the library is loaded.
const bool kRotAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

template <class T>
void ownRotLinear(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc, int nc,
                  double maxv) {
    const int64_t ps = s.ps;
    const int64_t step = s.step / int64_t(sizeof(T));
    const RotRowBuffers& b = r.rows;
#if OWN_ROT_AVX2
    // One channel, in place or gathered, offsets in 32 bits: the vector row.
    if (kRotAvx2 && nc == 1 && s.ps == 1 && d.ps == 1 &&
        s.step * (int64_t(r.imgH) + 1) < INT32_MAX) {
        constexpr int kAhead = 4;  // destination rows
        const int64_t ahead = int64_t(std::lround(kAhead * r.c)) * s.step -
                              int64_t(std::lround(kAhead * r.s)) * int64_t(sizeof(T));
        for (int i = pc.y; i < pc.y + pc.h; ++i) {
            const double y = r.ry + i;
            ownRotLinearRowAvx2<T>(r.cx + pc.x, r.sx + pc.x, r.s * y, r.c * y, r.tx, r.ty, r.imgW,
                                   r.imgH, s, d.rowW<T>(i), pc.w, maxv, ahead);
        }
        return;
    }
#endif
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const double y = r.ry + i;
        ownRotRow(r.cx + pc.x, r.sx + pc.x, r.s * y, r.c * y, r.tx, r.ty, r.px, r.py, pc.w);
        ownLinearIndex(r.px, r.py, r.imgW, r.imgH, b.ix, b.iy, b.fx, b.fy, pc.w);
        if (nc == 1) {
            // One channel: the fractions per column are those per element.
            for (int j = 0; j < pc.w; ++j) {
                const int X = static_cast<int>(b.ix[j]);
                if (X < 0) {
                    b.g00[j] = b.g01[j] = b.g10[j] = b.g11[j] = 0.0f;
                    continue;
                }
                const T* a = ownAt<T>(s, X, static_cast<int>(b.iy[j]));
                b.g00[j] = a[0];
                b.g01[j] = a[ps];
                b.g10[j] = a[step];
                b.g11[j] = a[step + ps];
            }
        }
        for (int j = 0; j < pc.w && nc > 1; ++j) {
            const int e0 = j * nc;
            const int X = static_cast<int>(b.ix[j]);
            if (X < 0) {
                for (int c = 0; c < nc; ++c) {
                    b.g00[e0 + c] = b.g01[e0 + c] = b.g10[e0 + c] = b.g11[e0 + c] = 0.0f;
                    b.ex[e0 + c] = b.ey[e0 + c] = 0.0;
                }
                continue;
            }
            const T* a = ownAt<T>(s, X, static_cast<int>(b.iy[j]));
            for (int c = 0; c < nc; ++c) {
                b.g00[e0 + c] = a[c];
                b.g01[e0 + c] = a[ps + c];
                b.g10[e0 + c] = a[step + c];
                b.g11[e0 + c] = a[step + ps + c];
                b.ex[e0 + c] = b.fx[j];
                b.ey[e0 + c] = b.fy[j];
            }
        }
        const int n = pc.w * nc;
        ownLinearBlend(b.g00, b.g01, b.g10, b.g11, nc == 1 ? b.fx : b.ex, nc == 1 ? b.fy : b.ey, b.out, maxv, n);
        T* out = d.rowW<T>(i);
        if (d.ps == nc) {
            for (int e = 0; e < n; ++e) out[e] = static_cast<T>(b.out[e]);
        } else {
            for (int j = 0; j < pc.w; ++j)
                for (int c = 0; c < nc; ++c) out[int64_t(j) * d.ps + c] = static_cast<T>(b.out[j * nc + c]);
        }
    }
}

// Weights of the four-point cubic (nodes -1, 0, 1, 2) at d.
inline void ownCubicWeights(double d, double w[4]) {
    const double d2 = d * d, d3 = d2 * d;
    w[0] = d * (-1.0 / 3.0) + d2 * 0.5 + d3 * (-1.0 / 6.0);
    w[1] = 1.0 - d * 0.5 - d2 + d3 * 0.5;
    w[2] = d + d2 * 0.5 - d3 * 0.5;
    w[3] = d * (-1.0 / 6.0) + d3 * (1.0 / 6.0);
}

template <class T>
void ownRotCubic(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc, int nc,
                 double maxv) {
    const int64_t ps = s.ps;
    const int64_t step = s.step / int64_t(sizeof(T));
    double* px = r.px;
    double* py = r.py;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const double y = r.ry + i;
        ownRotRow(r.cx + pc.x, r.sx + pc.x, r.s * y, r.c * y, r.tx, r.ty, px, py, pc.w);
        T* out = d.rowW<T>(i);
        for (int j = 0; j < pc.w; ++j) {
            const double x0 = px[j], y0 = py[j];
            T* o = out + int64_t(j) * d.ps;
            if (!ownRotInside(x0, y0, r.imgW, r.imgH)) {
                for (int c = 0; c < nc; ++c) o[c] = 0;
                continue;
            }
            // The window ix-1..ix+2 kept inside the image, d measured from its centre.
            const int ix = std::clamp(ownRne(x0 + 0.00001 - 0.5), 1, r.imgW - 3);
            const int iy = std::clamp(ownRne(y0 + 0.00001 - 0.5), 1, r.imgH - 3);
            double wx[4], wy[4];
            ownCubicWeights(x0 - ix, wx);
            ownCubicWeights(y0 - iy, wy);
            const T* a = ownAt<T>(s, ix - 1, iy - 1);
            for (int c = 0; c < nc; ++c) {
                double v = 0.0;
                for (int k = 0; k < 4; ++k) {
                    const T* q = a + step * k + c;
                    v += wy[k] * (wx[0] * q[0] + wx[1] * q[ps] + wx[2] * q[2 * ps] + wx[3] * q[3 * ps]);
                }
                o[c] = ownRotStore<T>(v, maxv);
            }
        }
    }
}

void ownRotBits(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc) {
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        char* out = d.data + d.step * (i - d.y0);
        for (int j = pc.x; j < pc.x + pc.w; ++j) {
            double px, py;
            ownRotPos(r, j, i, &px, &py);
            const int X = ownRotNearestIndex(px, r.imgW), Y = ownRotNearestIndex(py, r.imgH);
            int v = 0;
            if (X >= 0 && X < r.imgW && Y >= 0 && Y < r.imgH)
                v = ownGetBit(s.data + s.step * (Y - s.y0), s.bit + (X - s.x0));
            ownPutBit(out, d.bit + (j - pc.x), v);
        }
    }
}

// ---------------------------------------------------------------------------
// Right angles: source (X, Y) = (ax + xj j + xi i, ay + yj j + yi i) with
// coefficients -1, 0 or 1, in integers.
struct RightMap {
    int64_t ax, ay;
    int xj, xi, yj, yi;
};

RightMap ownRightMap(int a, int64_t xS, int64_t yS, int rx, int ry) {
    switch (a) {
        case 9000: return {xS + yS - ry, rx - xS + yS, 0, -1, 1, 0};
        case 18000: return {2 * xS - rx, 2 * yS - ry, -1, 0, 0, -1};
        default: return {ry + xS - yS, xS + yS - rx, 0, 1, -1, 0};  // 27000
    }
}

// The k in [0, n) with 0 <= a + b k < size (b = -1, 0 or 1; b = 0 means all or none).
void ownCoverRange(int64_t a, int b, int size, int n, int* lo, int* hi) {
    int64_t l = 0, h = n;
    if (b == 1) {
        l = std::max<int64_t>(l, -a);
        h = std::min<int64_t>(h, size - a);
    } else if (b == -1) {
        l = std::max<int64_t>(l, a - size + 1);
        h = std::min<int64_t>(h, a + 1);
    } else if (a < 0 || a >= size) {
        h = 0;
    }
    l = std::min<int64_t>(l, n);  // far centres give ranges far outside
    *lo = static_cast<int>(l);
    *hi = static_cast<int>(std::clamp<int64_t>(h, l, n));
}

// The covered rectangle of the working rectangle: columns [j0, j1), rows [i0, i1).
void ownRightCover(const RightMap& m, int imgW, int imgH, int W, int H, int* j0, int* j1, int* i0,
                   int* i1) {
    int a0, a1, b0, b1;
    // X depends on j or on i, Y on the other.
    if (m.xj != 0) {
        ownCoverRange(m.ax, m.xj, imgW, W, &a0, &a1);
        ownCoverRange(m.ay, m.yi, imgH, H, &b0, &b1);
    } else {
        ownCoverRange(m.ay, m.yj, imgH, W, &a0, &a1);
        ownCoverRange(m.ax, m.xi, imgW, H, &b0, &b1);
    }
    *j0 = a0;
    *j1 = a1;
    *i0 = b0;
    *i1 = b1;
}

template <class T>
void ownRightCopy(const RightMap& m, const OwnPix& s, const OwnPix& d, int j0, int j1, int i0, int i1,
                  int nc) {
    const int64_t sp = s.ps, dp = d.ps;
    // Address steps in the source per destination column and per row.
    const int64_t stepJ = m.xj * sp * int64_t(sizeof(T)) + m.yj * s.step;
    auto srcAt = [&](int j, int i) {
        const int64_t X = m.ax + int64_t(m.xj) * j + int64_t(m.xi) * i;
        const int64_t Y = m.ay + int64_t(m.yj) * j + int64_t(m.yi) * i;
        return s.data + (Y - s.y0) * s.step + (X - s.x0) * sp * int64_t(sizeof(T));
    };
    // Blocks keep the source rows a transposition walks across in cache.
    // Few source rows per block: rows a power-of-two stride apart share
    // cache sets.
    const int Bi = m.xj != 0 ? 1 << 30 : 256, Bj = m.xj != 0 ? 1 << 30 : 8;
    for (int ib = i0; ib < i1; ib += Bi) {
        const int ie = std::min(i1, ib + Bi);
        for (int jb = j0; jb < j1; jb += Bj) {
            const int je = std::min(j1, jb + Bj);
            for (int i = ib; i < ie; ++i) {
                const char* q = srcAt(jb, i);
                T* o = d.rowW<T>(i) + int64_t(jb - d.x0) * dp;
                if (nc == 1) {
                    for (int j = 0; j < je - jb; ++j)
                        o[j * dp] = *reinterpret_cast<const T*>(q + stepJ * j);
                } else {
                    for (int j = 0; j < je - jb; ++j)
                        for (int c = 0; c < nc; ++c)
                            o[j * dp + c] = reinterpret_cast<const T*>(q + stepJ * j)[c];
                }
            }
        }
    }
}

void ownRightBits(const RightMap& m, const OwnPix& s, const OwnPix& d, int j0, int j1, int i0,
                  int i1) {
    for (int i = i0; i < i1; ++i) {
        char* out = d.data + d.step * (i - d.y0);
        for (int j = j0; j < j1; ++j) {
            const int64_t X = m.ax + int64_t(m.xj) * j + int64_t(m.xi) * i;
            const int64_t Y = m.ay + int64_t(m.yj) * j + int64_t(m.yi) * i;
            ownPutBit(out, d.bit + (j - d.x0),
                      ownGetBit(s.data + s.step * (Y - s.y0), s.bit + (X - s.x0)));
        }
    }
}

// Sets the destination pixels of the working rectangle outside the covered
// rectangle to 0 with vexSet, band by band. False when vexSet failed.
bool ownRightClear(VexImage* dst, int dx, int dy, int W, int H, int j0, int j1, int i0, int i1,
                   const int* tile) {
    if (j0 >= j1 || i0 >= i1) j0 = j1 = i0 = i1 = 0;
    const OwnRect bands[4] = {{0, 0, W, i0},
                              {0, i1, W, H - i1},
                              {0, i0, j0, i1 - i0},
                              {j1, i0, W - j1, i1 - i0}};
    OwnRoiGuard guard(dst);
    for (const OwnRect& b : bands) {
        if (b.w <= 0 || b.h <= 0) continue;
        VexROI band{guard.saved ? guard.saved->coi : 0, dx + b.x, dy + b.y, b.h, b.w};
        dst->roi = &band;
        vexSet(dst, 0, tile);
        if (vexGetErrStatus() < 0) return false;
    }
    return true;
}

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" VEXAPI void vexRotate(VexImage* srcImage, VexImage* dstImage, int angle, int xShift,
                                 int yShift, int interpolate, const VexMapping* mapping) {
    OWN_CHECK_HEADER(kRotate, srcImage);
    OWN_CHECK_HEADER(kRotate, dstImage);
    ownFail(kRotate, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth", __LINE__);
    ownFail(kRotate, srcImage->dataOrder != dstImage->dataOrder,
            "srcImage->dataOrder != dstImage->dataOrder", __LINE__);
    ownFail(kRotate, srcImage->origin != dstImage->origin, "srcImage->origin != dstImage->origin",
            __LINE__);
    OWN_CHECK(kRotate, srcImage->origin != dstImage->origin, "srcImage->origin != dstImage->origin");
    ownFail(kRotate, (srcImage->depth & VEX_DEPTH_SIGN) != 0, "srcImage->depth & VEX_DEPTH_SIGN",
            __LINE__);
    // An interpolation code outside the three is refused like zoom refuses it.
    ownFail(kRotate,
            interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR &&
                interpolate != VEX_INTER_CUBIC,
            "interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR && interpolate != VEX_INTER_CUBIC",
            __LINE__);
    if (vexGetErrStatus() < 0) return;

    int a = angle % 36000;
    if (a < 0) a += 36000;
    if (a == 0) {
        // The mapping record is handed over as the copy's tile selector.
        vexCopy(srcImage, dstImage, reinterpret_cast<const int*>(mapping));
        OWN_TRAIL(kRotate);
        return;
    }

    RotPlan r{};
    r.imgW = srcImage->width;
    r.imgH = srcImage->height;
    int interp = interpolate;
    if (srcImage->depth == VEX_DEPTH_1U || r.imgW == 1 || r.imgH == 1) interp = VEX_INTER_NN;
    if (interp == VEX_INTER_CUBIC && (r.imgW < 4 || r.imgH < 4)) interp = VEX_INTER_LINEAR;
    r.interp = interp;

    // Bottom-left images: the rotation is computed in memory coordinates.
    OwnOriginGuard origins(srcImage, dstImage);
    int64_t yS = yShift;
    if (srcImage->origin == VEX_ORIGIN_BL) {
        yS = int64_t(srcImage->height) - 1 - yShift;
        a = 36000 - a;
        srcImage->origin = VEX_ORIGIN_TL;
        dstImage->origin = VEX_ORIGIN_TL;
    }
    const int64_t xS = xShift;

    int sW, sH, dx, dy, dW, dH;
    ownClipRegion(srcImage, &r.rx, &r.ry, &sW, &sH);
    ownClipRegion(dstImage, &dx, &dy, &dW, &dH);
    r.W = std::min(sW, dW);
    r.H = std::min(sH, dH);
    if (r.W <= 0 || r.H <= 0) return;

    int sel[2];
    const int* tile = ownMappingTile(dstImage, mapping, true, sel);
    const OwnGeoFail fail{VEX_StsError, kErrTileWrite, 0, nullptr};
    const unsigned depth = srcImage->depth;

    if (a == 9000 || a == 18000 || a == 27000) {
        const RightMap m = ownRightMap(a, xS, yS, r.rx, r.ry);
        int j0, j1, i0, i1;
        ownRightCover(m, r.imgW, r.imgH, r.W, r.H, &j0, &j1, &i0, &i1);
        auto clear = [&] {
            if (!ownRightClear(dstImage, dx, dy, r.W, r.H, j0, j1, i0, i1, tile)) OWN_TRAIL(kRotate);
        };
        if (j0 >= j1 || i0 >= i1) {
            clear();
            return;
        }
        // Pieces are cut to the covered rectangle, which the walk treats as
        // the processed one.
        auto need = [&](const OwnRect& pc) {
            const int64_t xa = m.ax + int64_t(m.xj) * (j0 + pc.x) + int64_t(m.xi) * (i0 + pc.y);
            const int64_t xb = m.ax + int64_t(m.xj) * (j0 + pc.x + pc.w - 1) +
                               int64_t(m.xi) * (i0 + pc.y + pc.h - 1);
            const int64_t ya = m.ay + int64_t(m.yj) * (j0 + pc.x) + int64_t(m.yi) * (i0 + pc.y);
            const int64_t yb = m.ay + int64_t(m.yj) * (j0 + pc.x + pc.w - 1) +
                               int64_t(m.yi) * (i0 + pc.y + pc.h - 1);
            const int x0 = static_cast<int>(std::min(xa, xb)), y0 = static_cast<int>(std::min(ya, yb));
            return OwnRect{x0, y0, static_cast<int>(std::max(xa, xb) - x0 + 1),
                           static_cast<int>(std::max(ya, yb) - y0 + 1)};
        };
        RightMap mc = m;  // the same map in covered-rectangle coordinates
        mc.ax += int64_t(m.xj) * j0 + int64_t(m.xi) * i0;
        mc.ay += int64_t(m.yj) * j0 + int64_t(m.yi) * i0;
        ownGeoWalk(kRotate, srcImage, dstImage, 0, 0, dx + j0, dy + i0, j1 - j0, i1 - i0, tile, fail,
                   need, [&](const OwnPix& s, const OwnPix& d, const OwnRect& pc, OwnLanesGeo L) {
            const int je = pc.x + pc.w, ie = pc.y + pc.h;
            if (depth == VEX_DEPTH_1U) {
                ownRightBits(mc, s, d, pc.x, je, pc.y, ie);
                return;
            }
            for (int lane = 0; lane < L.lanes; ++lane) {
                OwnPix sl = s, dl = d;
                if (sl.data) sl.data += s.plane * lane;
                if (dl.data) dl.data += d.plane * lane;
                if (depth == VEX_DEPTH_8U) ownRightCopy<uint8_t>(mc, sl, dl, pc.x, je, pc.y, ie, L.nc);
                else ownRightCopy<uint16_t>(mc, sl, dl, pc.x, je, pc.y, ie, L.nc);
            }
        });
        // The uncovered pixels last, so that a tile failure above leaves them.
        if (vexGetErrStatus() >= 0) clear();
        return;
    }

    // One sine and one cosine per call; per pixel only products and sums,
    // from tables of c x and s x per destination column.
    const double theta = a * 0.01 * (1.0 / 180.0) * 3.14159265358979323846;
    r.c = std::cos(theta);
    r.s = std::sin(theta);
    r.tx = double(xS) - r.c * double(xS) + r.s * double(yS);
    r.ty = double(yS) - r.s * double(xS) - r.c * double(yS);
    if (interp == VEX_INTER_NN) {
        r.tx += 0.5;
        r.ty += 0.5;
    }
    OwnTemp temp;
    r.cx = temp.get<double>(r.W);
    r.sx = temp.get<double>(r.W);
    r.px = temp.get<double>(r.W);
    r.py = temp.get<double>(r.W);
    bool ok = r.cx && r.sx && r.px && r.py;
    if (interp == VEX_INTER_LINEAR && depth != VEX_DEPTH_1U) {
        const int64_t n = int64_t(r.W) * std::max(1, dstImage->nChannels);
        RotRowBuffers& b = r.rows;
        b.ix = temp.get<double>(r.W);
        b.iy = temp.get<double>(r.W);
        b.fx = temp.get<double>(r.W);
        b.fy = temp.get<double>(r.W);
        b.g00 = temp.get<float>(4 * n);
        b.ex = temp.get<double>(2 * n);
        b.out = temp.get<int>(n);
        ok = ok && b.ix && b.iy && b.fx && b.fy && b.g00 && b.ex && b.out;
        if (ok) {
            b.g01 = b.g00 + n, b.g10 = b.g01 + n, b.g11 = b.g10 + n;
            b.ey = b.ex + n;
        }
    }
    if (!ok) {
        ownGeoNoMem(kRotate, __LINE__);
        return;
    }
    for (int j = 0; j < r.W; ++j) {
        const double x = r.rx + j;
        r.cx[j] = r.c * x;
        r.sx[j] = r.s * x;
    }
    // The source part a piece reads: the box around its corners' positions
    // with room for the taps, inside the image.
    auto need = [&](const OwnRect& pc) {
        double lx = 1e300, hx = -1e300, ly = 1e300, hy = -1e300;
        for (int cj : {pc.x, pc.x + pc.w - 1})
            for (int ci : {pc.y, pc.y + pc.h - 1}) {
                double px, py;
                ownRotPos(r, cj, ci, &px, &py);
                lx = std::min(lx, px), hx = std::max(hx, px);
                ly = std::min(ly, py), hy = std::max(hy, py);
            }
        auto clampTo = [](double v, int size) {
            return static_cast<int>(std::clamp(v, -1.0, double(size)));
        };
        const int x0 = std::max(clampTo(std::floor(lx) - 3, r.imgW), 0);
        const int x1 = std::min(clampTo(std::ceil(hx) + 3, r.imgW), r.imgW - 1);
        const int y0 = std::max(clampTo(std::floor(ly) - 3, r.imgH), 0);
        const int y1 = std::min(clampTo(std::ceil(hy) + 3, r.imgH), r.imgH - 1);
        return OwnRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    };
    ownGeoWalk(kRotate, srcImage, dstImage, 0, 0, dx, dy, r.W, r.H, tile, fail, need,
               [&](const OwnPix& s, const OwnPix& d, const OwnRect& pc, OwnLanesGeo L) {
        if (depth == VEX_DEPTH_1U) {
            ownRotBits(r, s, d, pc);
            return;
        }
        // Column strips: along a destination row the source positions cross
        // one source row every couple of pixels, so a whole row touches
        // thousands of source rows (and pages); a strip keeps what
        // consecutive rows read in cache. Every pixel is computed the same
        // way whatever the strip.
        const int bytes = depth == VEX_DEPTH_8U ? 1 : 2;
        for (int jb = 0; jb < pc.w; jb += kRotStrip) {
            const OwnRect sp{pc.x + jb, pc.y, std::min(kRotStrip, pc.w - jb), pc.h};
            for (int lane = 0; lane < L.lanes; ++lane) {
                OwnPix sl = s, dl = d;
                // A pass whose source needs no pixels gets no source buffer.
                if (sl.data) sl.data += s.plane * lane;
                if (dl.data) dl.data += d.plane * lane + int64_t(jb) * d.ps * bytes;
                const bool b8 = depth == VEX_DEPTH_8U;
                switch (interp) {
                    case VEX_INTER_NN:
                        if (b8) ownRotNearest<uint8_t>(r, sl, dl, sp, L.nc);
                        else ownRotNearest<uint16_t>(r, sl, dl, sp, L.nc);
                        break;
                    case VEX_INTER_LINEAR:
                        if (b8) ownRotLinear<uint8_t>(r, sl, dl, sp, L.nc, 255.0);
                        else ownRotLinear<uint16_t>(r, sl, dl, sp, L.nc, 65535.0);
                        break;
                    default:
                        if (b8) ownRotCubic<uint8_t>(r, sl, dl, sp, L.nc, 255.0);
                        else ownRotCubic<uint16_t>(r, sl, dl, sp, L.nc, 65535.0);
                        break;
                }
            }
        }
    });
}
