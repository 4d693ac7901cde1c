// vexOrS: dst = src OR pattern; the pattern is the low 1, 8, 16 or 32 bits of value
// repeated over 32 bits (ownPattern).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kOrSRow[] = {
    ownBitUnaryRow<BitOrS<uint8_t>>, ownUnaryRow<BitOrS<uint8_t>>,  ownUnaryRow<BitOrS<uint8_t>>,
    ownUnaryRow<BitOrS<uint16_t>>,   ownUnaryRow<BitOrS<uint16_t>>, ownUnaryRow<BitOrS<uint32_t>>,
};
static_assert(sizeof kOrSRow / sizeof kOrSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kOrS{{"vexOrS", "vexors"}, kOrSRow, kPixelWholeWords};

}  // namespace

extern "C" VEXAPI void vexOrS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                              const int* tile) {
    const OwnSite& site = kOrS.site;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth != dstImage->depth)");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder != dstImage->dataOrder)");
    const int nChSrc = ownPixelChannels(srcImage);
    const int nChDst = ownPixelChannels(dstImage);
    OWN_CHECK(site, nChSrc != nChDst, "(nChSrc != nChDst)");
    OwnPixelArgs args;
    args.pattern = ownPattern(dstImage->depth, value);
    ownPixel2(kOrS, srcImage, dstImage, tile, args);
}
