// vexXorS: dst = src XOR pattern; the pattern is the low 1, 8, 16 or 32 bits of value
// repeated over 32 bits (ownPattern).
// Also vexNot, which has no source of its own.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kXorSRow[] = {
    ownBitUnaryRow<BitXorS<uint8_t>>, ownUnaryRow<BitXorS<uint8_t>>,
    ownUnaryRow<BitXorS<uint8_t>>,    ownUnaryRow<BitXorS<uint16_t>>,
    ownUnaryRow<BitXorS<uint16_t>>,   ownUnaryRow<BitXorS<uint32_t>>,
};
static_assert(sizeof kXorSRow / sizeof kXorSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kXorS{{"vexXorS", "vexxors"}, kXorSRow, kPixelWholeWords};

}  // namespace

extern "C" VEXAPI void vexXorS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                               const int* tile) {
    if (!ownPixelChecks1(kXorS.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.pattern = ownPattern(dstImage->depth, value);
    ownPixel2(kXorS, srcImage, dstImage, tile, args);
}

// vexNot: the exclusive or with all bits set; its checks and messages are
// those of vexXorS.
extern "C" VEXAPI void vexNot(VexImage* srcImage, VexImage* dstImage, const int* tile) {
    vexXorS(srcImage, dstImage, 0xFFFFFFFFu, tile);
}
