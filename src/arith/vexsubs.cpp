// vexSubtractS: dst = Saturate(src - value), or Saturate(value - src) with
// swapOperands. 1U: bit 0 of value set gives 0 (NOT src when swapped), clear
// gives src (0 when swapped).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kSubSRow[] = {
    ownBitUnaryRow<BitMaskXor>,     ownUnaryRow<SatSubS<uint8_t>>, ownUnaryRow<SatSubS<int8_t>>,
    ownUnaryRow<SatSubS<uint16_t>>, ownUnaryRow<SatSubS<int16_t>>, ownUnaryRow<SatSubS<int32_t>>,
};
static_assert(sizeof kSubSRow / sizeof kSubSRow[0] == kDepthCount, "one kernel per depth");

const OwnRowFn kSubSSwapRow[] = {
    ownBitUnaryRow<BitMaskXor>,       ownUnaryRow<SatSubSRev<uint8_t>>,
    ownUnaryRow<SatSubSRev<int8_t>>,  ownUnaryRow<SatSubSRev<uint16_t>>,
    ownUnaryRow<SatSubSRev<int16_t>>, ownUnaryRow<SatSubSRev<int32_t>>,
};
static_assert(sizeof kSubSSwapRow / sizeof kSubSSwapRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kSubS{{"vexSubtractS", "vexsubs"}, kSubSRow, kPixelNone};

const OwnPixelOp kSubSSwap{{"vexSubtractS", "vexsubs"}, kSubSSwapRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexSubtractS(VexImage* srcImage, VexImage* dstImage, int value,
                                    int swapOperands, const int* tile) {
    if (!ownPixelChecks1(kSubS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.value = value;
    // 1U masks for BitMaskXor: low byte ANDed, next byte XORed.
    const uint32_t one = (value & 1) ? 0xFFu : 0u;
    args.pattern = swapOperands ? (one | one << 8) : (one ^ 0xFFu);
    ownPixel2(swapOperands ? kSubSSwap : kSubS, srcImage, dstImage, tile, args);
}
