// vexXor: dst = A XOR B, bit by bit. Signed and unsigned depths of one width
// share a kernel.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kXorRow[] = {
    ownBitBinaryRow<BitXor<uint8_t>>, ownBinaryRow<BitXor<uint8_t>>,
    ownBinaryRow<BitXor<uint8_t>>,    ownBinaryRow<BitXor<uint16_t>>,
    ownBinaryRow<BitXor<uint16_t>>,   ownBinaryRow<BitXor<uint32_t>>,
};
static_assert(sizeof kXorRow / sizeof kXorRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kXor{{"vexXor", "vexxor"}, kXorRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexXor(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              const int* tile) {
    if (!ownPixelChecks2(kXor.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(kXor, srcImageA, srcImageB, dstImage, tile);
}
