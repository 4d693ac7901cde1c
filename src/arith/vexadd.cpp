// vexAdd: dst = Saturate(A + B); 1U: A OR B.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAddRow[] = {
    ownBitBinaryRow<BitOr<uint8_t>>, ownBinaryRow<SatAdd<uint8_t>>, ownBinaryRow<SatAdd<int8_t>>,
    ownBinaryRow<SatAdd<uint16_t>>,  ownBinaryRow<SatAdd<int16_t>>, ownBinaryRow<SatAdd<int32_t>>,
};
static_assert(sizeof kAddRow / sizeof kAddRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAdd{{"vexAdd", "vexadd"}, kAddRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAdd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              const int* tile) {
    if (!ownPixelChecks2(kAdd.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(kAdd, srcImageA, srcImageB, dstImage, tile);
}
