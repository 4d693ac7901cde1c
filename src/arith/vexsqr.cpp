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
    const OwnSite& site = kSqr.site;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth != dstImage->depth)");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder != dstImage->dataOrder)");
    const int nChSrc = ownPixelChannels(srcImage);
    const int nChDst = ownPixelChannels(dstImage);
    OWN_CHECK(site, nChSrc != nChDst, "(nChSrc != nChDst)");
    ownPixel2(kSqr, srcImage, dstImage, tile);
}
