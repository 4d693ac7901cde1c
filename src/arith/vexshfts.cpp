// vexRShiftS: each sample shifted right; logical for 8U and 16U, arithmetic
// (sign fill) for 8S, 16S and 32S; 1U: a copy for count 0, else 0.
// Counts of 32 and more act as 31: 0 for the unsigned depths, the sign
// fill (0 or -1) for the signed ones. For 8S and 16S the sign fill also
// holds for counts above 24 and 16, where only the low bits of a 32-bit
// shift would otherwise be kept.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kRShiftRow[] = {
    ownBitUnaryRow<BitAndS<uint8_t>>, ownUnaryRow<ShrS<uint8_t>>, ownUnaryRow<ShrS<int8_t>>,
    ownUnaryRow<ShrS<uint16_t>>,      ownUnaryRow<ShrS<int16_t>>, ownUnaryRow<ShrS<int32_t>>,
};
static_assert(sizeof kRShiftRow / sizeof kRShiftRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kRShift{{"vexRShiftS", "vexshfts"}, kRShiftRow, kPixelSpacedNull};

}  // namespace

extern "C" VEXAPI void vexRShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift,
                                  const int* tile) {
    if (!ownPixelChecks1(kRShift.site, srcImage, dstImage)) return;
    OwnPixelArgs args;
    args.shift = shift;
    args.pattern = shift == 0 ? 0xFFFFFFFFu : 0u;  // 1U: keep or clear
    ownPixel2(kRShift, srcImage, dstImage, tile, args);
}
