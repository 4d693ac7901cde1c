// Decimation: the source region shrunk by xU/xL horizontally and yU/yL
// vertically into the destination region, in integer fixed point.
#include <algorithm>

#include "geom/owndecim.h"

namespace vex {
namespace {

const OwnSite kDecimate{"vexDecimate", "vexdecim"};

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" VEXAPI void vexDecimate(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU,
                                   int yL, int interpolate, const VexMapping* mapping) {
    OWN_CHECK_HEADER(kDecimate, srcImage);
    OWN_CHECK_HEADER(kDecimate, dstImage);
    ownFail(kDecimate, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth", __LINE__);
    ownFail(kDecimate, srcImage->origin != dstImage->origin, "srcImage->origin != dstImage->origin",
            __LINE__);
    ownFail(kDecimate, srcImage->dataOrder != dstImage->dataOrder,
            "srcImage->dataOrder != dstImage->dataOrder", __LINE__);
    ownFail(kDecimate,
            interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR &&
                interpolate != VEX_INTER_CUBIC,
            "interpolate != VEX_INTER_NN, VEX_INTER_LINEAR or VEX_INTER_CUBIC", __LINE__);
    ownFail(kDecimate, xU < 1, "xU <= 0", __LINE__);
    ownFail(kDecimate, xL < 1, "xL <= 0", __LINE__);
    ownFail(kDecimate, yU < 1, "yU <= 0", __LINE__);
    ownFail(kDecimate, yL < 1, "yL <= 0", __LINE__);
    ownFail(kDecimate, xU > xL, "xU > xL", __LINE__);
    ownFail(kDecimate, yU > yL, "yU > yL", __LINE__);
    if (vexGetErrStatus() < 0) return;
    const unsigned depth = srcImage->depth;
    OWN_CHECK(kDecimate, depth != VEX_DEPTH_1U && depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U,
              "srcImage->depth is wrong");

    OwnDecimPlan p{};
    int sx, sy, dx, dy, dW, dH;
    ownClipRegion(srcImage, &sx, &sy, &p.sW, &p.sH);
    ownClipRegion(dstImage, &dx, &dy, &dW, &dH);
    p.W = static_cast<int>(std::min<int64_t>(dW, int64_t(p.sW) * xU / xL));
    p.H = static_cast<int>(std::min<int64_t>(dH, int64_t(p.sH) * yU / yL));
    if (p.W <= 0 || p.H <= 0) return;

    // Nearest neighbour for small sources, 1U images, and when both ratios
    // are integers.
    p.interp = interpolate;
    if (depth == VEX_DEPTH_1U || srcImage->width < 4 || srcImage->height < 4 ||
        (xL % xU == 0 && yL % yU == 0))
        p.interp = VEX_INTER_NN;

    OwnTemp temp;
    const int taps = p.interp == VEX_INTER_NN ? 1 : p.interp == VEX_INTER_LINEAR ? 2 : 4;
    bool ok = true;
    for (int t = 0; t < taps; ++t) {
        p.colTap[t] = temp.get<int>(p.W);
        p.rowTap[t] = temp.get<int>(p.H);
        ok = ok && p.colTap[t] && p.rowTap[t];
    }
    if (taps > 1) {
        p.colF = temp.get<int>(p.W);
        p.rowF = temp.get<int>(p.H);
        ok = ok && p.colF && p.rowF;
    }
    // Channels worked on: the smaller count (a channel of interest counts 1),
    // interleaved in pixel order, plane by plane else.
    const bool plane = dstImage->dataOrder == VEX_DATA_ORDER_PLANE;
    p.nc = plane ? 1 : std::min(ownCoi(srcImage) ? 1 : srcImage->nChannels,
                                ownCoi(dstImage) ? 1 : dstImage->nChannels);
    p.ps = plane ? 1 : srcImage->nChannels;
    if (p.interp == VEX_INTER_LINEAR) {
        const int64_t n = int64_t(p.W) * p.nc;
        p.elemAt0 = temp.get<int>(n);
        p.elemAt1 = temp.get<int>(n);
        p.elemF = temp.get<int>(n);
        p.irow = temp.get<uint32_t>((int64_t(p.sW) + 2) * p.ps);
        p.out = temp.get<uint32_t>(n);
        ok = ok && p.elemAt0 && p.elemAt1 && p.elemF && p.irow && p.out;
    }
    if (!ok) {
        ownGeoNoMem(kDecimate, __LINE__);
        return;
    }
    ownDecimTables(p, xU, xL, yU, yL);

    // The source part a piece reads: from its first row's and column's
    // lowest tap to its last row's and column's highest.
    const int last = taps - 1;
    auto need = [&](const OwnRect& pc) {
        const int x0 = p.colTap[0][pc.x], x1 = p.colTap[last][pc.x + pc.w - 1];
        const int y0 = p.rowTap[0][pc.y], y1 = p.rowTap[last][pc.y + pc.h - 1];
        return OwnRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    };
    int sel[2];
    const int* tile = ownMappingTile(dstImage, mapping, true, sel);
    const OwnGeoFail fail{VEX_StsInternal, "dstImage->tileInfo->callBack crash", VEX_StsInternal,
                          "srcImage->tileInfo->callBack crash"};
    ownGeoWalk(kDecimate, srcImage, dstImage, sx, sy, dx, dy, p.W, p.H, tile, fail, need,
               [&](const OwnPix& s, const OwnPix& d, const OwnRect& pc, OwnLanesGeo L) {
        if (p.interp < VEX_INTER_NN || p.interp > VEX_INTER_CUBIC) {
            vexError(VEX_StsBadArg, kDecimate.func, "interpolate is wrong", kDecimate.file, __LINE__);
            return;
        }
        ownDecimPiece(p, depth, s, d, pc, L);
    });
}
