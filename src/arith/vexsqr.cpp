// vexSquare: dst = src * src, saturated at the positive limit; 1U: src.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kSqrRow[] = {
    ownBitUnaryRow<BitCopy>,       ownUnaryRow<SatSqr<uint8_t>>, ownUnaryRow<SatSqr<int8_t>>,
    ownUnaryRow<SatSqr<uint16_t>>, ownUnaryRow<SatSqr<int16_t>>, ownUnaryRow<SatSqr<int32_t>>,
};
static_assert(sizeof kSqrRow / sizeof kSqrRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kSqr{{"vexSquare", "vexsqr"}, kSqrRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexSquare(VexImage* srcImage, VexImage* dstImage, const int* tile) {
    if (!ownPixelChecks1(kSqr.site, srcImage, dstImage)) return;
    ownPixel2(kSqr, srcImage, dstImage, tile);
}
