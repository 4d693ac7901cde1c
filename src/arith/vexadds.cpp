// vexAddS: dst = Saturate(src + value); 1U: src OR bit 0 of value.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAddSRow[] = {
    ownBitUnaryRow<BitOrS<uint8_t>>, ownUnaryRow<SatAddS<uint8_t>>, ownUnaryRow<SatAddS<int8_t>>,
    ownUnaryRow<SatAddS<uint16_t>>,  ownUnaryRow<SatAddS<int16_t>>, ownUnaryRow<SatAddS<int32_t>>,
};
static_assert(sizeof kAddSRow / sizeof kAddSRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAddS{{"vexAddS", "vexadds"}, kAddSRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAddS(VexImage* srcImage, VexImage* dstImage, int value, const int* tile) {
    const OwnSite& site = kAddS.site;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth != dstImage->depth)");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder != dstImage->dataOrder)");
    const int nChSrc = ownPixelChannels(srcImage);
    const int nChDst = ownPixelChannels(dstImage);
    OWN_CHECK(site, nChSrc != nChDst, "(nChSrc != nChDst)");
    OwnPixelArgs args;
    args.value = value;
    args.pattern = ownPattern(dstImage->depth, static_cast<uint32_t>(value));
    ownPixel2(kAddS, srcImage, dstImage, tile, args);
}
