// vexAndS: dst = src AND pattern; the pattern is the low 1, 8, 16 or 32 bits of value
// repeated over 32 bits (ownPattern).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAndSRow[] = {
    ownBitUnaryRow<BitAndS<uint8_t>>, ownUnaryRow<BitAndS<uint8_t>>,
    ownUnaryRow<BitAndS<uint8_t>>,    ownUnaryRow<BitAndS<uint16_t>>,
    ownUnaryRow<BitAndS<uint16_t>>,   ownUnaryRow<BitAndS<uint32_t>>,
};
static_assert(sizeof kAndSRow / sizeof kAndSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAndS{{"vexAndS", "vexands"}, kAndSRow, kPixelWholeWords};

}  // namespace

extern "C" VEXAPI void vexAndS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                               const int* tile) {
    if (!ownPixelChecks1(kAndS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.pattern = ownPattern(dstImage->depth, value);
    ownPixel2(kAndS, srcImage, dstImage, tile, args);
}
