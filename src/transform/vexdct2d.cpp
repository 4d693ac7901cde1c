// vexDCT2D: orthonormal two-dimensional DCT-II (forward) and DCT-III
// (inverse) of each channel, in single precision, rounded to nearest with
// ties to even and saturated to the destination depth.
//
// Every row is transformed with the one-dimensional transform of its length,
// then every column; the normalisation is a separate pass (after the forward
// sums, before the inverse ones). Power-of-two lengths use a fast recursive
// factorisation (even/odd halving with the factors 1/(2 cos(pi(2n+1)/2N)) of
// each level); other lengths the direct sums over half the samples with a
// cosine table of 4N entries; 8x8 arrays a dedicated factorisation with
// five multiplications per eight-point pass and a per-coefficient scaling.
// The one-dimensional kernels work on batches of 16 rows or columns at once.
//
// Decisions:
// - Cached tables are kept per thread (see vexfft2d.cpp): concurrent calls
//   with any lengths are correct without a lock. VEX_DCT_FREE releases the
//   calling thread's tables.
// - Headers this operation cannot read safely (a 1U or unknown depth, no
//   pixel data, a tiled image, a header vexBadImageHeader refuses) are
//   reported as "Images are not compatible" (VEX_StsBadArg) after the
//   direction test; nothing is written.
// - A destination region smaller than the source region receives the
//   top-left part of the result that fits in it; nothing is written beyond it.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/ownframe.h"
#include "image/ownimage.h"
#include "image/ownsimd.h"
#include "transform/ownfft.h"
#include "vexlib.h"

using namespace vex;

namespace {

constexpr int L = kFftLanes;
const char kFunc[] = "vexDCT2D";
const char kFile[] = "vexdct2d";
const char kIncompatible[] = "Images are not compatible";
constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Tables, per thread.

// Power-of-two length n: for every halving level m = n, n/2, ..., 2 the
// factors 1/(2 cos(pi (2k+1) / 2m)), k < m/2, stored level after level.
// Other lengths: cos(pi i / 2n), i < 4n.
struct DctTable {
    int n;
    bool pow2;
    double* factorsD;
    float* factors;  // single-precision copy used by the kernels
    DctTable* next;
};

struct DctCache {
    DctTable* head = nullptr;
    int count = 0;
    void clear() {
        while (head) {
            DctTable* t = head;
            head = t->next;
            vexFree(t->factorsD);
            vexFree(t->factors);
            vexFree(t);
        }
        count = 0;
    }
    ~DctCache() { clear(); }
};
thread_local DctCache t_dct;

DctTable* buildDct(int n) {
    DctTable* t = static_cast<DctTable*>(vexMalloc(static_cast<int>(sizeof(DctTable))));
    if (!t) return nullptr;
    t->n = n;
    t->pow2 = ownIsPow2(n);
    t->next = nullptr;
    // Levels m = n .. 2 hold m/2 factors each: n - 1 in all. Direct: 4n.
    const int count = t->pow2 ? (n > 1 ? n - 1 : 1) : 4 * n;
    t->factorsD = vexdMalloc(count);
    t->factors = vexsMalloc(count);
    if (!t->factorsD || !t->factors) {
        vexFree(t->factorsD);
        vexFree(t->factors);
        vexFree(t);
        return nullptr;
    }
    if (t->pow2) {
        int off = 0;
        for (int m = n; m >= 2; m /= 2) {
            for (int k = 0; k < m / 2; ++k)
                t->factorsD[off + k] = 0.5 / std::cos(kPi * (2 * k + 1) / (2.0 * m));
            off += m / 2;
        }
        if (n == 1) t->factorsD[0] = 1.0;
    } else {
        for (int i = 0; i < 4 * n; ++i) t->factorsD[i] = std::cos(kPi * i / (2.0 * n));
    }
    for (int i = 0; i < count; ++i) t->factors[i] = static_cast<float>(t->factorsD[i]);
    return t;
}

// At most kMaxTables lengths are kept: a thread that meets more starts its
// set again (a call needs two at most, and looks each up per batch).
constexpr int kMaxTables = 8;

const DctTable* dctTable(int n) {
    for (DctTable* t = t_dct.head; t; t = t->next)
        if (t->n == n) return t;
    if (t_dct.count >= kMaxTables) t_dct.clear();
    DctTable* t = buildDct(n);
    if (!t) return nullptr;
    t->next = t_dct.head;
    t_dct.head = t;
    ++t_dct.count;
    return t;
}

// ---------------------------------------------------------------------------
// One-dimensional kernels on lane batches (element j of lane l at j*L + l).

// Unscaled DCT-II X(k) = sum x(n) cos(pi (2n+1) k / 2N), power-of-two N, in
// place; tmp holds N batch elements. f: this level's factors, followed by
// those of the smaller levels.
OWN_CLONES void fastDct2(float* __restrict x, float* __restrict tmp, int n, const float* f) {
    if (n == 1) return;
    const int h = n / 2;
    for (int k = 0; k < h; ++k) {
        const float* a = x + k * L;
        const float* b = x + (n - 1 - k) * L;
        float* u = tmp + k * L;
        float* v = tmp + (h + k) * L;
        const float c = f[k];
        for (int l = 0; l < L; ++l) {
            u[l] = a[l] + b[l];
            v[l] = (a[l] - b[l]) * c;
        }
    }
    fastDct2(tmp, x, h, f + h);
    fastDct2(tmp + h * L, x + h * L, h, f + h);
    for (int k = 0; k < h; ++k) {
        float* e = x + 2 * k * L;
        float* o = x + (2 * k + 1) * L;
        const float* u = tmp + k * L;
        const float* v = tmp + (h + k) * L;
        for (int l = 0; l < L; ++l) e[l] = u[l];
        if (k + 1 < h)
            for (int l = 0; l < L; ++l) o[l] = v[l] + v[L + l];
        else
            for (int l = 0; l < L; ++l) o[l] = v[l];
    }
}

// Unscaled DCT-III x(n) = sum X(k) cos(pi (2n+1) k / 2N), power-of-two N.
OWN_CLONES void fastDct3(float* __restrict x, float* __restrict tmp, int n, const float* f) {
    if (n == 1) return;
    const int h = n / 2;
    for (int k = 0; k < h; ++k) {
        float* u = tmp + k * L;
        float* v = tmp + (h + k) * L;
        const float* e = x + 2 * k * L;
        const float* o = x + (2 * k + 1) * L;
        for (int l = 0; l < L; ++l) u[l] = e[l];
        if (k > 0)
            for (int l = 0; l < L; ++l) v[l] = o[l] + o[l - 2 * L];
        else
            for (int l = 0; l < L; ++l) v[l] = o[l];
    }
    fastDct3(tmp, x, h, f + h);
    fastDct3(tmp + h * L, x + h * L, h, f + h);
    for (int k = 0; k < h; ++k) {
        float* a = x + k * L;
        float* b = x + (n - 1 - k) * L;
        const float* u = tmp + k * L;
        const float* v = tmp + (h + k) * L;
        const float c = f[k];
        for (int l = 0; l < L; ++l) {
            const float t = v[l] * c;
            a[l] = u[l] + t;
            b[l] = u[l] - t;
        }
    }
}

// Direct DCT-II from the table cos(pi i / 2N); out must not alias x.
__attribute__((always_inline)) inline void directDct2(const float* __restrict x, float* __restrict out,
                                                      int n, const float* cs) {
    const int n4 = 4 * n, half = n / 2;
    for (int k = 0; k < n; ++k) {
        float acc[L];
        for (int l = 0; l < L; ++l) acc[l] = 0;
        const float sgn = (k & 1) ? -1.0f : 1.0f;
        int idx = k % n4;  // (2i+1) k mod 4N for i = 0
        const int stepIdx = (2 * k) % n4;
        for (int i = 0; i < half; ++i) {
            const float c = cs[idx];
            const float* a = x + i * L;
            const float* b = x + (n - 1 - i) * L;
            for (int l = 0; l < L; ++l) acc[l] += (a[l] + sgn * b[l]) * c;
            idx += stepIdx;
            if (idx >= n4) idx -= n4;
        }
        if (n & 1) {
            const float c = cs[(static_cast<int64_t>(n) * k) % n4];  // (2 mid + 1) = n
            const float* m = x + half * L;
            for (int l = 0; l < L; ++l) acc[l] += m[l] * c;
        }
        for (int l = 0; l < L; ++l) out[k * L + l] = acc[l];
    }
}

// Direct DCT-III: x(i) and x(N-1-i) from the even and odd coefficient sums.
__attribute__((always_inline)) inline void directDct3(const float* __restrict X, float* __restrict out,
                                                      int n, const float* cs) {
    const int n4 = 4 * n, half = n / 2;
    for (int i = 0; i < half; ++i) {
        float ev[L], od[L];
        for (int l = 0; l < L; ++l) ev[l] = od[l] = 0;
        int idx = 0;
        const int stepIdx = 2 * i + 1;
        for (int k = 0; k < n; ++k) {
            const float c = cs[idx];
            const float* v = X + k * L;
            if (k & 1)
                for (int l = 0; l < L; ++l) od[l] += v[l] * c;
            else
                for (int l = 0; l < L; ++l) ev[l] += v[l] * c;
            idx += stepIdx;
            if (idx >= n4) idx -= n4;
        }
        for (int l = 0; l < L; ++l) {
            out[i * L + l] = ev[l] + od[l];
            out[(n - 1 - i) * L + l] = ev[l] - od[l];
        }
    }
    if (n & 1) {
        float acc[L];
        for (int l = 0; l < L; ++l) acc[l] = 0;
        for (int k = 0; k < n; ++k) {
            const float c = cs[(static_cast<int64_t>(n) * k) % n4];
            for (int l = 0; l < L; ++l) acc[l] += X[k * L + l] * c;
        }
        for (int l = 0; l < L; ++l) out[half * L + l] = acc[l];
    }
}

OWN_CLONES void directDct2Batch(const float* x, float* out, int n, const float* cs) {
    directDct2(x, out, n, cs);
}
OWN_CLONES void directDct3Batch(const float* x, float* out, int n, const float* cs) {
    directDct3(x, out, n, cs);
}

// One batch of length-n transforms in place (tmp: n batch elements).
bool transformBatch(float* x, float* tmp, int n, bool forward) {
    if (n == 1) return true;
    const DctTable* t = dctTable(n);
    if (!t) return false;
    if (t->pow2) {
        if (forward) fastDct2(x, tmp, n, t->factors);
        else fastDct3(x, tmp, n, t->factors);
    } else {
        if (forward) directDct2Batch(x, tmp, n, t->factors);
        else directDct3Batch(x, tmp, n, t->factors);
        std::memcpy(x, tmp, sizeof(float) * n * L);
    }
    return true;
}

// ---------------------------------------------------------------------------
// The 8x8 factorisation: an eight-point pass with the constants cos(pi/4),
// cos(3pi/8) = sin(pi/8), sqrt2 cos(3pi/8), sqrt2 cos(pi/8) (forward) and
// their inverse-pass counterparts, whose outputs are the exact coefficients
// up to a factor per index; the factors are folded into one 8x8 scaling.
struct Dct8Tables {
    bool ready = false;
    float fwdScale[64];
    float invScale[64];
};
thread_local Dct8Tables t_dct8;

struct Aan {
    float c4, s8, k1, k2;          // forward constants
    float r2, k3, k4, k5;          // inverse constants
};
const Aan kAan = {
    0.707106781186547524f,  // cos(pi/4)
    0.382683432365089772f,  // sin(pi/8) = cos(3pi/8)
    0.541196100146196984f,  // sqrt2 cos(3pi/8)
    1.306562964876376527f,  // sqrt2 cos(pi/8)
    1.414213562373095049f,  // 2 cos(pi/4)
    1.847759065022573512f,  // 2 cos(pi/8)
    1.082392200292393968f,  // 2 (cos(pi/8) - cos(3pi/8))
    2.613125929752753055f,  // 2 (cos(pi/8) + cos(3pi/8))
};

// Forward eight-point pass over elements p[0], p[s], ..., p[7s].
inline void aanForward(float* p, int s) {
    const float t0 = p[0] + p[7 * s], t7 = p[0] - p[7 * s];
    const float t1 = p[s] + p[6 * s], t6 = p[s] - p[6 * s];
    const float t2 = p[2 * s] + p[5 * s], t5 = p[2 * s] - p[5 * s];
    const float t3 = p[3 * s] + p[4 * s], t4 = p[3 * s] - p[4 * s];
    const float e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
    p[0] = e10 + e11;
    p[4 * s] = e10 - e11;
    const float z1 = (e12 + e13) * kAan.c4;
    p[2 * s] = e13 + z1;
    p[6 * s] = e13 - z1;
    const float o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
    const float z5 = (o10 - o12) * kAan.s8;
    const float z2 = kAan.k1 * o10 + z5;
    const float z4 = kAan.k2 * o12 + z5;
    const float z3 = o11 * kAan.c4;
    const float z11 = t7 + z3, z13 = t7 - z3;
    p[5 * s] = z13 + z2;
    p[3 * s] = z13 - z2;
    p[s] = z11 + z4;
    p[7 * s] = z11 - z4;
}

// Inverse eight-point pass.
inline void aanInverse(float* p, int s) {
    const float a0 = p[0], a1 = p[2 * s], a2 = p[4 * s], a3 = p[6 * s];
    const float e10 = a0 + a2, e11 = a0 - a2;
    const float e13 = a1 + a3, e12 = (a1 - a3) * kAan.r2 - e13;
    const float b0 = e10 + e13, b3 = e10 - e13, b1 = e11 + e12, b2 = e11 - e12;
    const float q4 = p[s], q5 = p[3 * s], q6 = p[5 * s], q7 = p[7 * s];
    const float z13 = q6 + q5, z10 = q6 - q5, z11 = q4 + q7, z12 = q4 - q7;
    const float c7 = z11 + z13;
    const float c11 = (z11 - z13) * kAan.r2;
    const float z5 = (z10 + z12) * kAan.k3;
    const float c10 = z5 - z12 * kAan.k4;
    const float c12 = z5 - z10 * kAan.k5;
    const float c6 = c12 - c7;
    const float c5 = c11 - c6;
    const float c4 = c10 - c5;
    p[0] = b0 + c7;
    p[7 * s] = b0 - c7;
    p[s] = b1 + c6;
    p[6 * s] = b1 - c6;
    p[2 * s] = b2 + c5;
    p[5 * s] = b2 - c5;
    p[3 * s] = b3 + c4;
    p[4 * s] = b3 - c4;
}

// The per-index factors of the two passes, measured on the exact cosines,
// then the 8x8 scalings that make the result orthonormal.
void buildDct8() {
    double a[8], b[8];
    for (int k = 0; k < 8; ++k) {
        float v[8];
        for (int n = 0; n < 8; ++n) v[n] = static_cast<float>(std::cos(kPi * (2 * n + 1) * k / 16.0));
        aanForward(v, 1);
        a[k] = v[k] / (k == 0 ? 8.0 : 4.0);
        float e[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        e[k] = 1.0f;
        aanInverse(e, 1);
        b[k] = e[0] / std::cos(kPi * k / 16.0);
    }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            const double cv = v ? std::sqrt(2.0) : 1.0, cu = u ? std::sqrt(2.0) : 1.0;
            t_dct8.fwdScale[v * 8 + u] = static_cast<float>(cv * cu / (8.0 * a[v] * a[u]));
            t_dct8.invScale[v * 8 + u] = static_cast<float>(cv * cu / (8.0 * b[v] * b[u]));
        }
    t_dct8.ready = true;
}

void dct8x8(float* block, bool forward) {
    if (!t_dct8.ready) buildDct8();
    if (forward) {
        for (int r = 0; r < 8; ++r) aanForward(block + 8 * r, 1);
        for (int c = 0; c < 8; ++c) aanForward(block + c, 8);
        for (int i = 0; i < 64; ++i) block[i] *= t_dct8.fwdScale[i];
    } else {
        for (int i = 0; i < 64; ++i) block[i] *= t_dct8.invScale[i];
        for (int r = 0; r < 8; ++r) aanInverse(block + 8 * r, 1);
        for (int c = 0; c < 8; ++c) aanInverse(block + c, 8);
    }
}

// ---------------------------------------------------------------------------
// Sample access and conversion.

struct Plane {
    char* data;      // sample (0, 0) of the channel in the region
    int64_t rowStep; // bytes between rows
    int stride;      // elements between samples of a row
    int depthIndex;
};

Plane planeOf(const VexImage* image, int x, int y, int c) {
    Plane p;
    const int step = ownImageStep(image);
    const int es = ownElemSize(image->depth);
    p.rowStep = step;
    p.depthIndex = ownDepthIndex(image->depth);
    if (image->dataOrder == VEX_DATA_ORDER_PIXEL) {
        p.stride = image->nChannels;
        p.data = image->imageData + static_cast<int64_t>(y) * step +
                 (static_cast<int64_t>(x) * image->nChannels + c) * es;
    } else {
        p.stride = 1;
        p.data = image->imageData + (static_cast<int64_t>(c) * image->height + y) * step +
                 static_cast<int64_t>(x) * es;
    }
    return p;
}

template <class S>
void readRowT(const char* p, int stride, int n, float* out) {
    const S* s = reinterpret_cast<const S*>(p);
    for (int i = 0; i < n; ++i) out[i] = static_cast<float>(s[static_cast<int64_t>(i) * stride]);
}
void readRow(const Plane& p, int y, int n, float* out) {
    const char* row = p.data + y * p.rowStep;
    switch (p.depthIndex) {
        case kD8U: readRowT<uint8_t>(row, p.stride, n, out); break;
        case kD8S: readRowT<int8_t>(row, p.stride, n, out); break;
        case kD16U: readRowT<uint16_t>(row, p.stride, n, out); break;
        case kD16S: readRowT<int16_t>(row, p.stride, n, out); break;
        default: readRowT<int32_t>(row, p.stride, n, out); break;
    }
}

// Nearest integer, ties to even, saturated to [lo, hi].
template <class D>
void writeRowT(const float* in, char* p, int stride, int n, double lo, double hi) {
    D* d = reinterpret_cast<D*>(p);
    for (int i = 0; i < n; ++i) {
        const double v = in[i];
        D r;
        if (v != v) r = 0;
        else if (v <= lo) r = static_cast<D>(lo);
        else if (v >= hi) r = static_cast<D>(hi);
        else r = static_cast<D>(std::nearbyint(v));
        d[static_cast<int64_t>(i) * stride] = r;
    }
}
void writeRow(const Plane& p, int y, int n, const float* in) {
    char* row = p.data + y * p.rowStep;
    switch (p.depthIndex) {
        case kD8U: writeRowT<uint8_t>(in, row, p.stride, n, 0, 255); break;
        case kD8S: writeRowT<int8_t>(in, row, p.stride, n, -128, 127); break;
        case kD16U: writeRowT<uint16_t>(in, row, p.stride, n, 0, 65535); break;
        case kD16S: writeRowT<int16_t>(in, row, p.stride, n, -32768, 32767); break;
        default: writeRowT<int32_t>(in, row, p.stride, n, -2147483648.0, 2147483647.0); break;
    }
}

// ---------------------------------------------------------------------------
// The general two-dimensional transform of an M x N array in place.

// Rows of `a` are `as` floats apart.
bool passes(float* a, int m, int n, int64_t as, bool forward, float* batch, float* tmp) {
    // Rows (length n), 16 at a time, then columns (length m).
    for (int pass = 0; pass < 2; ++pass) {
        const int len = pass == 0 ? n : m;       // transform length
        const int count = pass == 0 ? m : n;     // number of sequences
        const int64_t along = pass == 0 ? 1 : as; // element step
        const int64_t across = pass == 0 ? as : 1;
        if (len == 1) continue;
        for (int s0 = 0; s0 < count; s0 += L) {
            const int lanes = count - s0 < L ? count - s0 : L;
            for (int j = 0; j < len; ++j) {
                float* b = batch + j * L;
                const float* src = a + j * along + s0 * across;
                for (int l = 0; l < lanes; ++l) b[l] = src[l * across];
                for (int l = lanes; l < L; ++l) b[l] = 0;
            }
            if (!transformBatch(batch, tmp, len, forward)) return false;
            for (int j = 0; j < len; ++j) {
                const float* b = batch + j * L;
                float* dst = a + j * along + s0 * across;
                for (int l = 0; l < lanes; ++l) dst[l * across] = b[l];
            }
        }
    }
    return true;
}

// The orthonormal factors: (0,0) 1/sqrt(MN), the rest of row 0 and column 0
// sqrt2/sqrt(MN), every other term 2/sqrt(MN).
void normalise(float* a, int m, int n, int64_t as) {
    const double r = 1.0 / std::sqrt(static_cast<double>(m) * n);
    const float f0 = static_cast<float>(r), f1 = static_cast<float>(std::sqrt(2.0) * r),
                f2 = static_cast<float>(2.0 * r);
    for (int y = 0; y < m; ++y) {
        float* row = a + static_cast<int64_t>(y) * as;
        row[0] *= y == 0 ? f0 : f1;
        const float f = y == 0 ? f1 : f2;
        for (int x = 1; x < n; ++x) row[x] *= f;
    }
}

bool readable(const VexImage* image) {
    const int d = ownDepthIndex(image->depth);
    return d > kD1U && image->imageData && !image->tileInfo && vexBadImageHeader(image) == 0;
}

bool roiInside(const VexImage* image) {
    const VexROI* r = image->roi;
    if (!r) return true;
    return r->xOffset >= 0 && r->yOffset >= 0 && r->width >= 0 && r->height >= 0 &&
           static_cast<int64_t>(r->xOffset) + r->width <= image->width &&
           static_cast<int64_t>(r->yOffset) + r->height <= image->height;
}

}  // namespace

extern "C" VEXAPI void vexDCT2D(VexImage* srcImage, VexImage* dstImage, int flags) {
    const OwnSite site{kFunc, kFile};
    if (flags & VEX_DCT_FREE) {
        t_dct.clear();
        return;
    }
    ownFail(site, srcImage == nullptr, "src==0", __LINE__);
    ownFail(site, dstImage == nullptr, "dst==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    OWN_CHECK(site,
              srcImage == dstImage || srcImage->nChannels != dstImage->nChannels ||
                  (srcImage->roi == nullptr) != (dstImage->roi == nullptr) ||
                  srcImage->width != dstImage->width || srcImage->height != dstImage->height ||
                  !roiInside(srcImage) || !roiInside(dstImage) ||
                  srcImage->dataOrder != dstImage->dataOrder,
              kIncompatible);
    const bool forward = flags & VEX_DCT_FORWARD, inverse = flags & VEX_DCT_INVERSE;
    if (forward == inverse) return;
    OWN_CHECK(site, !readable(srcImage) || !readable(dstImage), kIncompatible);

    int sx = 0, sy = 0, m = srcImage->height, n = srcImage->width;
    int dx = 0, dy = 0, dm = m, dn = n, coi = 0;
    if (srcImage->roi) {
        sx = srcImage->roi->xOffset;
        sy = srcImage->roi->yOffset;
        m = srcImage->roi->height;
        n = srcImage->roi->width;
        coi = srcImage->roi->coi;
        dx = dstImage->roi->xOffset;
        dy = dstImage->roi->yOffset;
        dm = dstImage->roi->height;
        dn = dstImage->roi->width;
    }
    if (m <= 0 || n <= 0) return;
    // Rows and columns of the result that fit the destination region.
    const int outM = m < dm ? m : dm, outN = n < dn ? n : dn;
    if (outM <= 0 || outN <= 0) return;

    const int nCh = srcImage->nChannels;
    const int alpha = (flags & VEX_DCT_PROCESS_ALPHA) ? 0 : srcImage->alphaChannel;

    if (m == 8 && n == 8) {
        float block[64];
        for (int c = 0; c < nCh; ++c) {
            if ((coi && c + 1 != coi) || c + 1 == alpha) continue;
            const Plane sp = planeOf(srcImage, sx, sy, c), dp = planeOf(dstImage, dx, dy, c);
            for (int y = 0; y < 8; ++y) readRow(sp, y, 8, block + 8 * y);
            dct8x8(block, forward);
            for (int y = 0; y < outM; ++y) writeRow(dp, y, outN, block + 8 * y);
        }
        return;
    }

    // One cache line more than a row between rows, so that rows a power of
    // two apart do not compete for the same cache sets.
    const int64_t as = static_cast<int64_t>(n) + 16;
    const int64_t cells = as * m;
    const int len = m > n ? m : n;
    if (cells > 0x1FFFFFF0 / 4 || static_cast<int64_t>(len) * L > 0x1FFFFFF0 / 8) return;
    OwnBlock aBlock, batchBlock;
    float* a = aBlock.alloc<float>(cells);
    float* batch = batchBlock.alloc<float>(2 * static_cast<int64_t>(len) * L);
    if (!a || !batch) return;
    float* tmp = batch + static_cast<size_t>(len) * L;
    // Tables first, so that a refusal comes before any write.
    if ((n > 1 && !dctTable(n)) || (m > 1 && !dctTable(m))) return;
    for (int c = 0; c < nCh; ++c) {
        if ((coi && c + 1 != coi) || c + 1 == alpha) continue;
        const Plane sp = planeOf(srcImage, sx, sy, c), dp = planeOf(dstImage, dx, dy, c);
        for (int y = 0; y < m; ++y) readRow(sp, y, n, a + static_cast<int64_t>(y) * as);
        if (m == 1 && n == 1) {
            // A single sample is its own transform.
        } else {
            if (inverse) normalise(a, m, n, as);
            if (!passes(a, m, n, as, forward, batch, tmp)) break;
            if (forward) normalise(a, m, n, as);
        }
        for (int y = 0; y < outM; ++y) writeRow(dp, y, outN, a + static_cast<int64_t>(y) * as);
    }
}
