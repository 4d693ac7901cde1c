// vexAbs: |src| for the signed depths, in two's complement of the sample
// width (the most negative value stays); a copy for the unsigned depths.
#include "arith/ownrules.h"

using namespace vex;

namespace {

// Unsigned depths have no kernel: they are copied by vexCopy.
const OwnRowFn kAbsRow[] = {
    nullptr,
    nullptr,
    ownUnaryRow<AbsWrap<int8_t>>,
    nullptr,
    ownUnaryRow<AbsWrap<int16_t>>,
    ownUnaryRow<AbsWrap<int32_t>>,
};
static_assert(sizeof kAbsRow / sizeof kAbsRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAbs{{"vexAbs", "vexabs"}, kAbsRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAbs(VexImage* srcImage, VexImage* dstImage, const int* tile) {
    const OwnSite& site = kAbs.site;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth != dstImage->depth)");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder != dstImage->dataOrder)");
    const int nChSrc = ownPixelChannels(srcImage);
    const int nChDst = ownPixelChannels(dstImage);
    OWN_CHECK(site, nChSrc != nChDst, "(nChSrc != nChDst)");
    if (!(dstImage->depth & VEX_DEPTH_SIGN)) {
        vexCopy(srcImage, dstImage, tile);
        if (vexGetErrStatus() < 0) vexError(VEX_StsBackTrace, site.func, "", site.file, __LINE__);
        return;
    }
    ownPixel2(kAbs, srcImage, dstImage, tile);
}
