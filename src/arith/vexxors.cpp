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
    const OwnSite& site = kXorS.site;
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
    ownPixel2(kXorS, srcImage, dstImage, tile, args);
}

// vexNot: the exclusive or with all bits set; its checks and messages are
// those of vexXorS.
extern "C" VEXAPI void vexNot(VexImage* srcImage, VexImage* dstImage, const int* tile) {
    vexXorS(srcImage, dstImage, 0xFFFFFFFFu, tile);
}
