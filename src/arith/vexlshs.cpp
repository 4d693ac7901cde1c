// vexLShiftS: each sample shifted left in its own width, the bits shifted
// out lost. A count at or above the depth's bit count clears the working
// rectangle (vexAndS with 0); 1U with count 0 is a copy (vexCopy).
#include "arith/ownrules.h"

using namespace vex;

namespace {

// 1U never reaches the table: every count is either 0 or at least 1.
const OwnRowFn kLShiftRow[] = {
    nullptr,
    ownUnaryRow<ShlS<uint8_t>>,
    ownUnaryRow<ShlS<uint8_t>>,
    ownUnaryRow<ShlS<uint16_t>>,
    ownUnaryRow<ShlS<uint16_t>>,
    ownUnaryRow<ShlS<uint32_t>>,
};
static_assert(sizeof kLShiftRow / sizeof kLShiftRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kLShift{{"vexLShiftS", "vexlshs"}, kLShiftRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexLShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift,
                                  const int* tile) {
    const OwnSite& site = kLShift.site;
    if (!ownPixelChecks1(site, srcImage, dstImage)) return;
    if (shift >= static_cast<unsigned>(ownDepthBits(dstImage->depth))) {
        vexAndS(srcImage, dstImage, 0, tile);
        OWN_TRAIL(site);
        return;
    }
    if (dstImage->depth == VEX_DEPTH_1U) {
        vexCopy(srcImage, dstImage, tile);
        OWN_TRAIL(site);
        return;
    }
    OwnPixelArgs args;
    args.shift = shift;
    ownPixel2(kLShift, srcImage, dstImage, tile, args);
}
