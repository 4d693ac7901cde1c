// Colour-model conversions (gray, colour from gray, HSV, HLS) and the bit
// reduction, all on the colour operation frame (owncolor.h).
//
// Choices of this library:
//  - An image that must hold a colour model (the source of vexColorToGray,
//    vexRGB2HSV, vexRGB2HLS, vexHSV2RGB and vexHLS2RGB, the destination of
//    vexGrayToColor and of the model conversions) needs at least three
//    channels; with fewer the images are reported "incomatibleimages".
//  - A mapping given with an untiled destination is ignored: the whole
//    destination is converted, as the other operations do.
//  - A mapping names one destination tile; when that tile lies outside the
//    image or the callback does not deliver it, nothing is converted.
//  - Negative 32S samples count as 0 in the HSV and HLS conversions, and
//    32S results are limited to 0..2147483647.
//  - vexGrayToColor on 32S multiplies in double precision; a weight whose
//    integer form leaves the 32-bit range is limited to it.
#include <cstring>

#include "color/owncolor.h"

using namespace vex;

namespace {

const char kIncompatible[] = "incomatibleimages";

void ownDepthFailure(const char* name) {
    vexError(VEX_StsBadArg, name, "errInOutDepth", kColorShared, __LINE__);
}

// Component pointers of row y of a block: three components of `model`, or
// (model < 0) channel 0 / the first plane alone in out[0].
int ownRowComponents(const VexImage* like, const OwnColorBlock& b, int model, int y, char* out[3]) {
    char* row = b.data + b.step * y;
    if (model < 0) {
        out[0] = row;
        return 1;
    }
    int index[3];
    ownLocate(like, static_cast<OwnModel>(model), index);
    const bool plane = like->dataOrder == VEX_DATA_ORDER_PLANE;
    const int es = ownElemSize(like->depth);
    for (int k = 0; k < 3; ++k) out[k] = plane ? row + b.planeSize * index[k] : row + index[k] * es;
    return plane ? 1 : like->nChannels;
}

// ---------------------------------------------------------------- gray

bool ownGrayBody(const VexImage* src, const OwnColorBlock& s, const VexImage* dst, const OwnColorBlock& d,
                 int rows, int cols, void* ctx) {
    const OwnGrayRow row = reinterpret_cast<OwnGrayRow>(ctx);
    for (int y = 0; y < rows; ++y) {
        char* sp[3] = {};
        char* dp[3] = {};
        const int st = ownRowComponents(src, s, kModelRGB, y, sp);
        ownRowComponents(dst, d, -1, y, dp);
        const void* const in[3] = {sp[0], sp[1], sp[2]};
        row(in, st, dp[0], cols);
    }
    return true;
}

struct OwnColorCtx {
    OwnColorRow row;
    OwnGrayWeights weights;
};

bool ownColorBody(const VexImage* src, const OwnColorBlock& s, const VexImage* dst, const OwnColorBlock& d,
                  int rows, int cols, void* ctx) {
    const OwnColorCtx& c = *static_cast<const OwnColorCtx*>(ctx);
    for (int y = 0; y < rows; ++y) {
        char* sp[3] = {};
        char* dp[3] = {};
        ownRowComponents(src, s, -1, y, sp);
        const int st = ownRowComponents(dst, d, kModelRGB, y, dp);
        void* const out[3] = {dp[0], dp[1], dp[2]};
        c.row(sp[0], out, st, cols, c.weights);
    }
    return true;
}

// ---------------------------------------------------------------- models

struct OwnModelCtx {
    OwnModelRow row;
    OwnModel from, to;
};

bool ownModelBody(const VexImage* src, const OwnColorBlock& s, const VexImage* dst, const OwnColorBlock& d,
                  int rows, int cols, void* ctx) {
    const OwnModelCtx& c = *static_cast<const OwnModelCtx*>(ctx);
    for (int y = 0; y < rows; ++y) {
        char* sp[3] = {};
        char* dp[3] = {};
        const int ss = ownRowComponents(src, s, c.from, y, sp);
        const int ds = ownRowComponents(dst, d, c.to, y, dp);
        const void* const in[3] = {sp[0], sp[1], sp[2]};
        void* const out[3] = {dp[0], dp[1], dp[2]};
        c.row(in, ss, out, ds, cols);
    }
    return true;
}

void ownModelConvert(const char* func, VexImage* src, VexImage* dst, const VexMapping* mapping,
                     OwnModelOp op) {
    static const char* const kFrom[] = {"RGB", "HSV", "RGB", "HLS"};
    static const char* const kTo[] = {"HSV", "RGB", "HLS", "RGB"};
    static const OwnModel kFromModel[] = {kModelRGB, kModelHSV, kModelRGB, kModelHLS};
    static const OwnModel kToModel[] = {kModelHSV, kModelRGB, kModelHLS, kModelRGB};
    const bool hsv = op == kRGB2HSV || op == kHSV2RGB;
    const OwnSite site{func, kColorFile};
    if (!ownColorImagesOk(site, src, dst)) return;
    const bool compatible = ownIsModel(src->colorSpace, kFrom[op]) &&
                            ownEffectiveChannels(src) == ownEffectiveChannels(dst) &&
                            src->depth == dst->depth && src->dataOrder == dst->dataOrder &&
                            src->origin == dst->origin && src->nChannels >= 3 && dst->nChannels >= 3;
    OWN_CHECK(site, !compatible, kIncompatible);
    std::memcpy(dst->colorSpace, kTo[op], 3);
    std::memcpy(dst->channelSeq, kTo[op], 3);
    OwnModelCtx ctx{ownModelRow(op, src->depth), kFromModel[op], kToModel[op]};
    if (!ctx.row) return ownDepthFailure(hsv ? "ownRGB2HSV" : "ownRGB2HLS");
    ownColorWalk(site, src, dst, mapping, true, ownModelBody, &ctx);
}

}  // namespace

extern "C" {

VEXAPI void vexColorToGray(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping) {
    const OwnSite site{"vexColorToGray", kColorFile};
    if (!ownColorImagesOk(site, srcImage, dstImage)) return;
    const bool compatible = ownIsModel(srcImage->colorSpace, "RGB") && srcImage->nChannels >= 3 &&
                            (dstImage->dataOrder == VEX_DATA_ORDER_PLANE || dstImage->nChannels == 1) &&
                            srcImage->origin == dstImage->origin;
    OWN_CHECK(site, !compatible, kIncompatible);
    const OwnGrayRow row = ownGrayRow(srcImage->depth, dstImage->depth);
    if (!row) return ownDepthFailure("ownColorToGray");
    ownColorWalk(site, srcImage, dstImage, mapping, true, ownGrayBody, reinterpret_cast<void*>(row));
}

VEXAPI void vexGrayToColor(VexImage* srcImage, VexImage* dstImage, float redWeight,
                           float greenWeight, float blueWeight, const VexMapping* mapping) {
    const OwnSite site{"vexGrayToColor", kColorFile};
    if (!ownColorImagesOk(site, srcImage, dstImage)) return;
    const bool depths = srcImage->depth == dstImage->depth ||
                        (srcImage->depth == VEX_DEPTH_1U && dstImage->depth == VEX_DEPTH_8U);
    const bool compatible = ownIsModel(dstImage->colorSpace, "RGB") && dstImage->nChannels >= 3 &&
                            depths &&
                            (srcImage->dataOrder == VEX_DATA_ORDER_PLANE || srcImage->nChannels == 1) &&
                            srcImage->origin == dstImage->origin;
    OWN_CHECK(site, !compatible, kIncompatible);
    OwnColorCtx ctx{ownColorRow(srcImage->depth, dstImage->depth),
                    ownGrayWeights(srcImage->depth, redWeight, greenWeight, blueWeight)};
    if (!ctx.row) return ownDepthFailure("ownGrayToColor");
    ownColorWalk(site, srcImage, dstImage, mapping, true, ownColorBody, &ctx);
}

VEXAPI void vexRGB2HSV(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping) {
    ownModelConvert("vexRGB2HSV", srcImage, dstImage, mapping, kRGB2HSV);
}
VEXAPI void vexHSV2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping) {
    ownModelConvert("vexHSV2RGB", srcImage, dstImage, mapping, kHSV2RGB);
}
VEXAPI void vexRGB2HLS(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping) {
    ownModelConvert("vexRGB2HLS", srcImage, dstImage, mapping, kRGB2HLS);
}
VEXAPI void vexHLS2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping) {
    ownModelConvert("vexHLS2RGB", srcImage, dstImage, mapping, kHLS2RGB);
}

VEXAPI void vexReduceBits(VexImage* srcImage, VexImage* dstImage, int jitterType, int ditherType,
                          int quantShift, const VexMapping* mapping) {
    const OwnSite site{"vexReduceBits", kColorFile};
    OWN_CHECK(site, (0 > jitterType) || (jitterType > 8), "(0>jitterType)||(jitterType>8)");
    if (!ownColorImagesOk(site, srcImage, dstImage)) return;
    const bool compatible = ownEffectiveChannels(srcImage) == ownEffectiveChannels(dstImage) &&
                            srcImage->dataOrder == dstImage->dataOrder &&
                            srcImage->origin == dstImage->origin;
    OWN_CHECK(site, !compatible, kIncompatible);
    // Depth pair and dithering are checked before anything is written.
    const unsigned sd = srcImage->depth, dd = dstImage->depth;
    if (!ownReducePair(sd, dd)) {
        const bool knownSource = sd == VEX_DEPTH_8U || sd == VEX_DEPTH_16U || sd == VEX_DEPTH_32S;
        const char* text = jitterType != 0 || knownSource ? "errOutDepth" : "errInOutDepth";
        vexError(VEX_StsBadArg, jitterType != 0 ? "ownjitter_rect" : "ownReduceBits", text,
                 kColorShared, __LINE__);
        return;
    }
    if (ditherType != 1) {
        const bool known = ditherType == 2 || ditherType == 4 || ditherType == 8 || ditherType == 16;
        if (!known || (dd != VEX_DEPTH_8U && dd != VEX_DEPTH_16U)) {
            vexError(VEX_StsBadArg, "own_dither_rect", known ? "errInDepth" : "errDitherOption",
                     kColorShared, __LINE__);
            return;
        }
    }
    OwnReduceArgs args{jitterType, ditherType, ownDitherStep(dd, quantShift)};
    if (jitterType != 0) ownFillJitterTables();
    ownColorWalk(site, srcImage, dstImage, mapping, ditherType == 1 && jitterType == 0,
                 ownReduceBlock, &args);
}

}  // extern "C"
