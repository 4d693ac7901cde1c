// Decimation kernels in 8-bit fixed point: nearest neighbour, linear with
// total weight 65536 rounded half up, and the four-point cubic in integers
// (rows first, then columns, the sum divided by 36 towards zero).
#include "geom/owndecim.h"

#include <algorithm>

#include "image/ownsimd.h"

namespace vex {

void ownDecimTables(OwnDecimPlan& p, int xU, int xL, int yU, int yL) {
    const int64_t stepX = int64_t(256) * xL / xU, stepY = int64_t(256) * yL / yU;
    p.xFrac = xL % xU != 0;
    p.yFrac = yL % yU != 0;
    auto fill = [&](int** tap, int* frac, int n, int64_t step, bool fractional, int size) {
        const int64_t start = p.interp == VEX_INTER_NN && fractional ? 128 : 0;
        for (int k = 0; k < n; ++k) {
            const int64_t c = start + k * step;
            const int i = static_cast<int>(std::min<int64_t>(c >> 8, size - 1));
            if (p.interp == VEX_INTER_NN) {
                tap[0][k] = i;
                continue;
            }
            frac[k] = static_cast<int>(c & 255);
            if (p.interp == VEX_INTER_LINEAR) {
                tap[0][k] = i;
                tap[1][k] = std::min(i + 1, size - 1);  // weight 0 at the last sample
                continue;
            }
            // Cubic: the window ix-1..ix+2 with taps outside the region
            // repeating the edge sample.
            for (int t = 0; t < 4; ++t) tap[t][k] = std::clamp(i - 1 + t, 0, size - 1);
        }
    };
    fill(p.colTap, p.colF, p.W, stepX, p.xFrac, p.sW);
    fill(p.rowTap, p.rowF, p.H, stepY, p.yFrac, p.sH);
    if (p.interp != VEX_INTER_LINEAR || !p.elemAt0) return;
    for (int j = 0; j < p.W; ++j)
        for (int c = 0; c < p.nc; ++c) {
            const int e = j * p.nc + c;
            p.elemAt0[e] = p.colTap[0][j] * p.ps + c;
            p.elemAt1[e] = p.colTap[1][j] * p.ps + c;
            p.elemF[e] = p.colF[j];
        }
}

namespace {

// 6 * f(t) of the cubic through p0..p3, t in 1/256 (products scaled back by 8 bits).
template <class I>
inline I ownCubic6(I p0, I p1, I p2, I p3, int t) {
    const I t2 = (t * t) >> 8, t3 = (t * t * t) >> 16;
    return 6 * p1 + (((-2 * p0 - 3 * p1 + 6 * p2 - p3) * t) >> 8) +
           (((3 * p0 - 6 * p1 + 3 * p2) * t2) >> 8) + (((-p0 + 3 * p1 - 3 * p2 + p3) * t3) >> 8);
}

// One-channel rows sampled every `k` columns (an integer ratio): constant
// strides the vectoriser turns into shuffles.
template <class T, int K>
inline void ownEvery(const T* __restrict q, T* __restrict out, int w) {
    for (int j = 0; j < w; ++j) out[j] = q[j * K];
}
OWN_CLONES void ownEvery2(const uint8_t* q, uint8_t* out, int w) { ownEvery<uint8_t, 2>(q, out, w); }
OWN_CLONES void ownEvery2(const uint16_t* q, uint16_t* out, int w) { ownEvery<uint16_t, 2>(q, out, w); }

template <class T>
void ownDecimNearest(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                     int nc) {
    const int* col = p.colTap[0] + pc.x;
    // Every second column: the table is not needed.
    bool halves = nc == 1 && s.ps == 1 && d.ps == 1 && pc.w > 1;
    for (int j = 1; j < pc.w && halves; ++j) halves = col[j] == col[0] + 2 * j;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const T* __restrict q = s.row<T>(p.rowTap[0][i]);
        T* __restrict out = d.rowW<T>(i);
        if (halves) {
            ownEvery2(q + (col[0] - s.x0), out, pc.w);
            continue;
        }
        if (nc == 1 && s.ps == 1 && d.ps == 1) {
            for (int j = 0; j < pc.w; ++j) out[j] = q[col[j] - s.x0];
            continue;
        }
        for (int j = 0; j < pc.w; ++j)
            for (int c = 0; c < nc; ++c)
                out[int64_t(j) * d.ps + c] = q[int64_t(col[j] - s.x0) * s.ps + c];
    }
}

// Linear in two passes per destination row: the two source rows blended
// vertically, (256 - fy) * p0 + fy * p1 (contiguous, vectorised), then the
// horizontal taps of that row, ((((256 - fx) * v0 + fx * v1) >> 15) + 1) >> 1.
// In integers the order of the two blends does not change the sum.
template <class T>
inline void ownDecimVT(const T* __restrict a, const T* __restrict b, uint32_t fy,
                       uint32_t* __restrict v, int n) {
    for (int k = 0; k < n; ++k) v[k] = (256u - fy) * a[k] + fy * b[k];
}
OWN_CLONES void ownDecimV(const uint8_t* a, const uint8_t* b, uint32_t fy, uint32_t* v, int n) {
    ownDecimVT(a, b, fy, v, n);
}
OWN_CLONES void ownDecimV(const uint16_t* a, const uint16_t* b, uint32_t fy, uint32_t* v, int n) {
    ownDecimVT(a, b, fy, v, n);
}
template <class T>
inline void ownDecimHT(const uint32_t* __restrict v, const int* __restrict at0,
                       const int* __restrict at1, const int* __restrict f, int off,
                       T* __restrict out, int n) {
    for (int e = 0; e < n; ++e) {
        const uint32_t fx = static_cast<uint32_t>(f[e]);
        const uint32_t sum = (256u - fx) * v[at0[e] - off] + fx * v[at1[e] - off];
        out[e] = static_cast<T>(((sum >> 15) + 1) >> 1);
    }
}
void ownDecimH(const uint32_t* v, const int* at0, const int* at1, const int* f, int off,
               uint8_t* out, int n) {
    ownDecimHT(v, at0, at1, f, off, out, n);
}
void ownDecimH(const uint32_t* v, const int* at0, const int* at1, const int* f, int off,
               uint16_t* out, int n) {
    ownDecimHT(v, at0, at1, f, off, out, n);
}

// Columns shrunk by 2/3 on one-channel rows: every pair of destination
// columns reads three source columns, the first at fraction 0 (the whole
// weight on its left tap) and the second at fraction 128 (half on each of
// the next two). Both blends in one pass, the sums as the two-pass kernel
// forms them.
template <class T>
inline void ownDecim23T(const T* __restrict a, const T* __restrict b, uint32_t fy,
                        T* __restrict out, int pairs) {
    const uint32_t gy = 256u - fy;
    for (int m = 0; m < pairs; ++m) {
        const uint32_t v0 = gy * a[3 * m] + fy * b[3 * m];
        const uint32_t v1 = gy * a[3 * m + 1] + fy * b[3 * m + 1];
        const uint32_t v2 = gy * a[3 * m + 2] + fy * b[3 * m + 2];
        out[2 * m] = static_cast<T>((((256u * v0) >> 15) + 1) >> 1);
        out[2 * m + 1] = static_cast<T>((((128u * v1 + 128u * v2) >> 15) + 1) >> 1);
    }
}
OWN_CLONES void ownDecim23(const uint8_t* a, const uint8_t* b, uint32_t fy, uint8_t* out, int pairs) {
    ownDecim23T(a, b, fy, out, pairs);
}
OWN_CLONES void ownDecim23(const uint16_t* a, const uint16_t* b, uint32_t fy, uint16_t* out,
                           int pairs) {
    ownDecim23T(a, b, fy, out, pairs);
}

// One element of a one-channel row, straight from the two source rows.
template <class T>
inline T ownDecimOne(const T* a, const T* b, uint32_t fy, int r0, int r1, uint32_t fx) {
    const uint32_t v0 = (256u - fy) * a[r0] + fy * b[r0];
    const uint32_t v1 = (256u - fy) * a[r1] + fy * b[r1];
    return static_cast<T>(((((256u - fx) * v0 + fx * v1) >> 15) + 1) >> 1);
}

template <class T>
void ownDecimLinear(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                    int nc) {
    const int first = p.colTap[0][pc.x], last = p.colTap[1][pc.x + pc.w - 1];
    const int count = (last - first) * p.ps + nc, off = first * p.ps;
    const int k0 = pc.x * nc, n = pc.w * nc;
    if (nc == 1 && p.ps == 1 && d.ps == 1) {
        // The run of column pairs of the 2/3 pattern, from the first
        // column at fraction 0; the columns around it one by one.
        const int* at0 = p.elemAt0 + k0;
        const int* at1 = p.elemAt1 + k0;
        const int* f = p.elemF + k0;
        const int e0 = n > 0 && f[0] != 0 ? 1 : 0;
        const int r0 = e0 < n ? at0[e0] - off : 0;
        int pairs = 0;
        while (e0 + 2 * pairs + 1 < n) {
            const int e = e0 + 2 * pairs, r = r0 + 3 * pairs;
            if (f[e] != 0 || at0[e] - off != r || f[e + 1] != 128 || at0[e + 1] - off != r + 1 ||
                at1[e + 1] - off != r + 2)
                break;
            ++pairs;
        }
        if (pairs > 0) {
            for (int i = pc.y; i < pc.y + pc.h; ++i) {
                const T* a = s.row<T>(p.rowTap[0][i]) + int64_t(first - s.x0);
                const T* b = s.row<T>(p.rowTap[1][i]) + int64_t(first - s.x0);
                const uint32_t fy = static_cast<uint32_t>(p.rowF[i]);
                T* out = d.rowW<T>(i);
                for (int e = 0; e < e0; ++e)
                    out[e] = ownDecimOne(a, b, fy, at0[e] - off, at1[e] - off, uint32_t(f[e]));
                ownDecim23(a + r0, b + r0, fy, out + e0, pairs);
                for (int e = e0 + 2 * pairs; e < n; ++e)
                    out[e] = ownDecimOne(a, b, fy, at0[e] - off, at1[e] - off, uint32_t(f[e]));
            }
            return;
        }
    }
    T* tmp = reinterpret_cast<T*>(p.out);
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const T* a = s.row<T>(p.rowTap[0][i]) + int64_t(first - s.x0) * s.ps;
        const T* b = s.row<T>(p.rowTap[1][i]) + int64_t(first - s.x0) * s.ps;
        ownDecimV(a, b, static_cast<uint32_t>(p.rowF[i]), p.irow, count);
        T* out = d.rowW<T>(i);
        T* o = d.ps == nc ? out : tmp;
        ownDecimH(p.irow, p.elemAt0 + k0, p.elemAt1 + k0, p.elemF + k0, off, o, n);
        if (o == tmp)
            for (int j = 0; j < pc.w; ++j)
                for (int c = 0; c < nc; ++c) out[int64_t(j) * d.ps + c] = tmp[j * nc + c];
    }
}

template <class T>
void ownDecimCubic(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                   int nc, int64_t maxv) {
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const T* r[4];
        for (int k = 0; k < 4; ++k) r[k] = s.row<T>(p.rowTap[k][i]);
        const int ty = p.rowF[i];
        T* out = d.rowW<T>(i);
        for (int j = pc.x; j < pc.x + pc.w; ++j) {
            int64_t x[4];
            for (int k = 0; k < 4; ++k) x[k] = int64_t(p.colTap[k][j] - s.x0) * s.ps;
            const int tx = p.colF[j];
            for (int c = 0; c < nc; ++c) {
                int64_t v[4];
                for (int k = 0; k < 4; ++k) {
                    const T* q = r[k] + c;
                    v[k] = p.xFrac ? ownCubic6<int32_t>(q[x[0]], q[x[1]], q[x[2]], q[x[3]], tx)
                                   : 6 * int64_t(q[x[1]]);
                }
                const int64_t sum = p.yFrac ? ownCubic6<int64_t>(v[0], v[1], v[2], v[3], ty) : 6 * v[1];
                out[int64_t(j - pc.x) * d.ps + c] = static_cast<T>(std::clamp<int64_t>(sum / 36, 0, maxv));
            }
        }
    }
}

void ownDecimBits(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc) {
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const char* q = s.data + s.step * (p.rowTap[0][i] - s.y0);
        char* out = d.data + d.step * (i - d.y0);
        for (int j = 0; j < pc.w; ++j)
            ownPutBit(out, d.bit + j, ownGetBit(q, s.bit + (p.colTap[0][pc.x + j] - s.x0)));
    }
}

template <class T>
void ownDecimLane(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                  int nc, int64_t maxv) {
    switch (p.interp) {
        case VEX_INTER_NN: ownDecimNearest<T>(p, s, d, pc, nc); break;
        case VEX_INTER_LINEAR: ownDecimLinear<T>(p, s, d, pc, nc); break;
        default: ownDecimCubic<T>(p, s, d, pc, nc, maxv); break;
    }
}

}  // namespace

void ownDecimPiece(const OwnDecimPlan& p, unsigned depth, const OwnPix& s0, const OwnPix& d0,
                   const OwnRect& pc, OwnLanesGeo L) {
    if (depth == VEX_DEPTH_1U) {
        ownDecimBits(p, s0, d0, pc);
        return;
    }
    for (int lane = 0; lane < L.lanes; ++lane) {
        OwnPix s = s0, d = d0;
        if (s.data) s.data += s.plane * lane;
        if (d.data) d.data += d.plane * lane;
        if (depth == VEX_DEPTH_8U) ownDecimLane<uint8_t>(p, s, d, pc, L.nc, 255);
        else ownDecimLane<uint16_t>(p, s, d, pc, L.nc, 65535);
    }
}

}  // namespace vex
