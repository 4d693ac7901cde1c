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
}

namespace {

// 6 * f(t) of the cubic through p0..p3, t in 1/256 (products scaled back by 8 bits).
template <class I>
inline I ownCubic6(I p0, I p1, I p2, I p3, int t) {
    const I t2 = (t * t) >> 8, t3 = (t * t * t) >> 16;
    return 6 * p1 + (((-2 * p0 - 3 * p1 + 6 * p2 - p3) * t) >> 8) +
           (((3 * p0 - 6 * p1 + 3 * p2) * t2) >> 8) + (((-p0 + 3 * p1 - 3 * p2 + p3) * t3) >> 8);
}

template <class T>
void ownDecimNearest(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                     int nc) {
    const int* col = p.colTap[0] + pc.x;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const T* __restrict q = s.row<T>(p.rowTap[0][i]);
        T* __restrict out = d.rowW<T>(i);
        if (nc == 1 && s.ps == 1 && d.ps == 1) {
            for (int j = 0; j < pc.w; ++j) out[j] = q[col[j] - s.x0];
            continue;
        }
        for (int j = 0; j < pc.w; ++j)
            for (int c = 0; c < nc; ++c)
                out[int64_t(j) * d.ps + c] = q[int64_t(col[j] - s.x0) * s.ps + c];
    }
}

template <class T>
void ownDecimLinear(const OwnDecimPlan& p, const OwnPix& s, const OwnPix& d, const OwnRect& pc,
                    int nc) {
    const int* c0 = p.colTap[0] + pc.x;
    const int* c1 = p.colTap[1] + pc.x;
    const int* cf = p.colF + pc.x;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        const T* a = s.row<T>(p.rowTap[0][i]);
        const T* b = s.row<T>(p.rowTap[1][i]);
        const uint32_t fy = static_cast<uint32_t>(p.rowF[i]);
        T* out = d.rowW<T>(i);
        for (int j = 0; j < pc.w; ++j) {
            const int64_t x0 = int64_t(c0[j] - s.x0) * s.ps, x1 = int64_t(c1[j] - s.x0) * s.ps;
            const uint32_t fx = static_cast<uint32_t>(cf[j]);
            for (int c = 0; c < nc; ++c) {
                uint32_t top, bottom;
                if (p.xFrac) {
                    top = (256 - fx) * a[x0 + c] + fx * a[x1 + c];
                    bottom = (256 - fx) * b[x0 + c] + fx * b[x1 + c];
                } else {
                    top = 256u * a[x0 + c];
                    bottom = 256u * b[x0 + c];
                }
                const uint32_t sum = p.yFrac ? top * (256 - fy) + bottom * fy : top * 256u;
                out[int64_t(j) * d.ps + c] = static_cast<T>(((sum >> 15) + 1) >> 1);
            }
        }
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
        s.data += s.plane * lane;
        d.data += d.plane * lane;
        if (depth == VEX_DEPTH_8U) ownDecimLane<uint8_t>(p, s, d, pc, L.nc, 255);
        else ownDecimLane<uint16_t>(p, s, d, pc, L.nc, 65535);
    }
}

}  // namespace vex
