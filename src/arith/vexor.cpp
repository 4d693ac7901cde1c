// vexOr: dst = A OR B, bit by bit. Signed and unsigned depths of one width
// share a kernel.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kOrRow[] = {
    ownBitBinaryRow<BitOr<uint8_t>>, ownBinaryRow<BitOr<uint8_t>>,  ownBinaryRow<BitOr<uint8_t>>,
    ownBinaryRow<BitOr<uint16_t>>,   ownBinaryRow<BitOr<uint16_t>>, ownBinaryRow<BitOr<uint32_t>>,
};
static_assert(sizeof kOrRow / sizeof kOrRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kOr{{"vexOr", "vexor"}, kOrRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexOr(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                             const int* tile) {
    if (!ownPixelChecks2(kOr.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(kOr, srcImageA, srcImageB, dstImage, tile);
}
