// vexMultiplyS: dst = Saturate(src * value), value unsigned 32-bit;
// 1U: src when bit 0 of value is set, else 0.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kMulSRow[] = {
    ownBitUnaryRow<BitAndS<uint8_t>>, ownUnaryRow<SatMulS<uint8_t>>, ownUnaryRow<SatMulS<int8_t>>,
    ownUnaryRow<SatMulS<uint16_t>>,   ownUnaryRow<SatMulS<int16_t>>, ownUnaryRow<SatMulS<int32_t>>,
};
static_assert(sizeof kMulSRow / sizeof kMulSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kMulS{{"vexMultiplyS", "vexmuls"}, kMulSRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexMultiplyS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                                    const int* tile) {
    if (!ownPixelChecks1(kMulS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.uvalue = value;
    args.pattern = ownPattern(dstImage->depth, value);
    ownPixel2(kMulS, srcImage, dstImage, tile, args);
}
