// vexAddS: dst = Saturate(src + value); 1U: src OR bit 0 of value.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAddSRow[] = {
    ownBitUnaryRow<BitOrS<uint8_t>>, ownUnaryRow<SatAddS<uint8_t>>, ownUnaryRow<SatAddS<int8_t>>,
    ownUnaryRow<SatAddS<uint16_t>>,  ownUnaryRow<SatAddS<int16_t>>, ownUnaryRow<SatAddS<int32_t>>,
};
static_assert(sizeof kAddSRow / sizeof kAddSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAddS{{"vexAddS", "vexadds"}, kAddSRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAddS(VexImage* srcImage, VexImage* dstImage, int value, const int* tile) {
    if (!ownPixelChecks1(kAddS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.value = value;
    args.pattern = ownPattern(dstImage->depth, static_cast<uint32_t>(value));
    ownPixel2(kAddS, srcImage, dstImage, tile, args);
}
