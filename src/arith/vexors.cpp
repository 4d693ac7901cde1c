// vexOrS: dst = src OR pattern; the pattern is the low 1, 8, 16 or 32 bits of value
// repeated over 32 bits (ownPattern).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kOrSRow[] = {
    ownBitUnaryRow<BitOrS<uint8_t>>, ownUnaryRow<BitOrS<uint8_t>>,  ownUnaryRow<BitOrS<uint8_t>>,
    ownUnaryRow<BitOrS<uint16_t>>,   ownUnaryRow<BitOrS<uint16_t>>, ownUnaryRow<BitOrS<uint32_t>>,
};
static_assert(sizeof kOrSRow / sizeof kOrSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kOrS{{"vexOrS", "vexors"}, kOrSRow, kPixelWholeWords};

}  // namespace

extern "C" VEXAPI void vexOrS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                              const int* tile) {
    if (!ownPixelChecks1(kOrS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.pattern = ownPattern(dstImage->depth, value);
    ownPixel2(kOrS, srcImage, dstImage, tile, args);
}
