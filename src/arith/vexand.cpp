// vexAnd: dst = A AND B, bit by bit. Signed and unsigned depths of one width
// share a kernel.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAndRow[] = {
    ownBitBinaryRow<BitAnd<uint8_t>>, ownBinaryRow<BitAnd<uint8_t>>,
    ownBinaryRow<BitAnd<uint8_t>>,    ownBinaryRow<BitAnd<uint16_t>>,
    ownBinaryRow<BitAnd<uint16_t>>,   ownBinaryRow<BitAnd<uint32_t>>,
};
static_assert(sizeof kAndRow / sizeof kAndRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAnd{{"vexAnd", "vexand"}, kAndRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAnd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              const int* tile) {
    if (!ownPixelChecks2(kAnd.site, srcImageA, srcImageB, dstImage)) return;
    ownPixel3(kAnd, srcImageA, srcImageB, dstImage, tile);
}
