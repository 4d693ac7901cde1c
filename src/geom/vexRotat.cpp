// Rotation of the source image about (xShift, yShift) by an angle in
// hundredths of a degree, into the destination region. Positions outside
// the source image give 0. Right angles are exact index mappings (the
// uncovered destination pixels set with vexSet); a zero angle is a copy.
#include <algorithm>
#include <cmath>

#include "geom/owngeom.h"
#include "image/ownsimd.h"

namespace vex {
namespace {

const OwnSite kRotate{"vexRotate", "vexRotat"};

struct RotPlan {
    int imgW, imgH;  // source image
    int rx, ry;      // source region corner: destination (j, i) is at (rx + j, ry + i)
    int W, H;        // working rectangle
    int interp;
    double c, s, tx, ty;
    double* cx;  // c * x per destination column
    double* sx;  // s * x per destination column
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

template <class T>
inline const T* ownAt(const OwnPix& s, int x, int y) {
    return s.row<T>(y) + int64_t(x - s.x0) * s.ps;
}

// Nearest neighbour: index = round-half-even(v + 0.00001 - 0.5) above
// -0.00001, else -1 (0.5 already folded into tx, ty).
inline int ownRotNearestIndex(double v) {
    return v > -0.00001 ? ownIdx(v) : -1;
}

template <class T>
void ownRotNearest(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc, int nc) {
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        T* out = d.rowW<T>(i);
        for (int j = pc.x; j < pc.x + pc.w; ++j) {
            double px, py;
            ownRotPos(r, j, i, &px, &py);
            const int X = ownRotNearestIndex(px), Y = ownRotNearestIndex(py);
            T* o = out + int64_t(j - pc.x) * d.ps;
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
// (ties to even), clamped to the depth.
template <class T>
inline T ownRotStore(double v, double maxv) {
    double q = ownRoundEven(v + 0.00001);
    q = q < 0.0 ? 0.0 : q > maxv ? maxv : q;
    return static_cast<T>(static_cast<int>(q));
}

inline bool ownRotInside(double px, double py, int w, int h) {
    return px > -0.00001 && px <= w - 1 && py > -0.00001 && py <= h - 1;
}

template <class T>
void ownRotLinear(const RotPlan& r, const OwnPix& s, const OwnPix& d, const OwnRect& pc, int nc,
                  double maxv) {
    const int64_t ps = s.ps;
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        T* out = d.rowW<T>(i);
        for (int j = pc.x; j < pc.x + pc.w; ++j) {
            double px, py;
            ownRotPos(r, j, i, &px, &py);
            T* o = out + int64_t(j - pc.x) * d.ps;
            if (!ownRotInside(px, py, r.imgW, r.imgH)) {
                for (int c = 0; c < nc; ++c) o[c] = 0;
                continue;
            }
            int ix = ownIdx(px), iy = ownIdx(py);
            if (ix == r.imgW - 1) --ix;
            if (iy == r.imgH - 1) --iy;
            const double fx = px - ix, fy = py - iy;
            const T* a = ownAt<T>(s, ix, iy);
            const T* b = ownAt<T>(s, ix, iy + 1);
            for (int c = 0; c < nc; ++c) {
                const double p00 = a[c], p01 = a[ps + c], p10 = b[c], p11 = b[ps + c];
                const double top = p00 + (p01 - p00) * fx;
                const double bottom = p10 + (p11 - p10) * fx;
                o[c] = ownRotStore<T>(top + (bottom - top) * fy, maxv);
            }
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
    for (int i = pc.y; i < pc.y + pc.h; ++i) {
        T* out = d.rowW<T>(i);
        for (int j = pc.x; j < pc.x + pc.w; ++j) {
            double px, py;
            ownRotPos(r, j, i, &px, &py);
            T* o = out + int64_t(j - pc.x) * d.ps;
            if (!ownRotInside(px, py, r.imgW, r.imgH)) {
                for (int c = 0; c < nc; ++c) o[c] = 0;
                continue;
            }
            // The window ix-1..ix+2 kept inside the image, d measured from its centre.
            const int ix = std::clamp(ownIdx(px), 1, r.imgW - 3);
            const int iy = std::clamp(ownIdx(py), 1, r.imgH - 3);
            double wx[4], wy[4];
            ownCubicWeights(px - ix, wx);
            ownCubicWeights(py - iy, wy);
            for (int c = 0; c < nc; ++c) {
                double v = 0.0;
                for (int k = 0; k < 4; ++k) {
                    const T* q = ownAt<T>(s, ix - 1, iy - 1 + k) + c;
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
            const int X = ownRotNearestIndex(px), Y = ownRotNearestIndex(py);
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
    *lo = static_cast<int>(l);
    *hi = static_cast<int>(std::max(l, h));
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
    const int B = m.xj != 0 ? 1 << 30 : 64;
    for (int ib = i0; ib < i1; ib += B) {
        const int ie = std::min(i1, ib + B);
        for (int jb = j0; jb < j1; jb += B) {
            const int je = std::min(j1, jb + B);
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
                sl.data += s.plane * lane;
                dl.data += d.plane * lane;
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
    if (!r.cx || !r.sx) {
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
        for (int lane = 0; lane < L.lanes; ++lane) {
            OwnPix sl = s, dl = d;
            sl.data += s.plane * lane;
            dl.data += d.plane * lane;
            const bool b8 = depth == VEX_DEPTH_8U;
            switch (interp) {
                case VEX_INTER_NN:
                    if (b8) ownRotNearest<uint8_t>(r, sl, dl, pc, L.nc);
                    else ownRotNearest<uint16_t>(r, sl, dl, pc, L.nc);
                    break;
                case VEX_INTER_LINEAR:
                    if (b8) ownRotLinear<uint8_t>(r, sl, dl, pc, L.nc, 255.0);
                    else ownRotLinear<uint16_t>(r, sl, dl, pc, L.nc, 65535.0);
                    break;
                default:
                    if (b8) ownRotCubic<uint8_t>(r, sl, dl, pc, L.nc, 255.0);
                    else ownRotCubic<uint16_t>(r, sl, dl, pc, L.nc, 65535.0);
                    break;
            }
        }
    });
}
