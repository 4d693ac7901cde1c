// vexMultiply: dst = Saturate(A * B); 1U: A AND B.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kMulRow[] = {
    ownBitBinaryRow<BitAnd<uint8_t>>, ownBinaryRow<SatMul<uint8_t>>, ownBinaryRow<SatMul<int8_t>>,
    ownBinaryRow<SatMul<uint16_t>>,   ownBinaryRow<SatMul<int16_t>>, ownBinaryRow<SatMul<int32_t>>,
};
static_assert(sizeof kMulRow / sizeof kMulRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kMul{{"vexMultiply", "vexmul"}, kMulRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexMultiply(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                   const int* tile) {
    if (!ownPixelChecks2(kMul.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(kMul, srcImageA, srcImageB, dstImage, tile);
}
