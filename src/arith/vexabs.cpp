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
    if (!ownPixelChecks1(site, srcImage, dstImage)) return;
    if (!(dstImage->depth & VEX_DEPTH_SIGN)) {
        vexCopy(srcImage, dstImage, tile);
        OWN_TRAIL(site);
        return;
    }
    ownPixel2(kAbs, srcImage, dstImage, tile);
}
