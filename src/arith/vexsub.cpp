// vexSubtract: dst = Saturate(A - B), or Saturate(B - A) with swapOperands;
// 1U: A AND NOT B (B AND NOT A).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kSubRow[] = {
    ownBitBinaryRow<BitAndNot<uint8_t>>, ownBinaryRow<SatSub<uint8_t>>,
    ownBinaryRow<SatSub<int8_t>>,        ownBinaryRow<SatSub<uint16_t>>,
    ownBinaryRow<SatSub<int16_t>>,       ownBinaryRow<SatSub<int32_t>>,
};
static_assert(sizeof kSubRow / sizeof kSubRow[0] == kDepthCount, "one kernel per depth");

const OwnRowFn kSubSwapRow[] = {
    ownBitBinaryRow<BitAndNotRev<uint8_t>>, ownBinaryRow<SatSubRev<uint8_t>>,
    ownBinaryRow<SatSubRev<int8_t>>,        ownBinaryRow<SatSubRev<uint16_t>>,
    ownBinaryRow<SatSubRev<int16_t>>,       ownBinaryRow<SatSubRev<int32_t>>,
};
static_assert(sizeof kSubSwapRow / sizeof kSubSwapRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kSub{{"vexSubtract", "vexsub"}, kSubRow, kPixelNone};

const OwnPixelOp kSubSwap{{"vexSubtract", "vexsub"}, kSubSwapRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexSubtract(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                   int swapOperands, const int* tile) {
    if (!ownPixelChecks2(kSub.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(swapOperands ? kSubSwap : kSub, srcImageA, srcImageB, dstImage, tile);
}
