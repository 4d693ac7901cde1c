// vexAndS: dst = src AND pattern; the pattern is the low 1, 8, 16 or 32 bits of value
// repeated over 32 bits (ownPattern).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAndSRow[] = {
    ownBitUnaryRow<BitAndS<uint8_t>>, ownUnaryRow<BitAndS<uint8_t>>,
    ownUnaryRow<BitAndS<uint8_t>>,    ownUnaryRow<BitAndS<uint16_t>>,
    ownUnaryRow<BitAndS<uint16_t>>,   ownUnaryRow<BitAndS<uint32_t>>,
};
static_assert(sizeof kAndSRow / sizeof kAndSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAndS{{"vexAndS", "vexands"}, kAndSRow, kPixelWholeWords};

}  // namespace

extern "C" VEXAPI void vexAndS(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                               const int* tile) {
    const OwnSite& site = kAndS.site;
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
    ownPixel2(kAndS, srcImage, dstImage, tile, args);
}
