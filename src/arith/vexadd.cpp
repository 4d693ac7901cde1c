// vexAdd: dst = Saturate(A + B); 1U: A OR B.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAddRow[] = {
    ownBitBinaryRow<BitOr<uint8_t>>, ownBinaryRow<SatAdd<uint8_t>>, ownBinaryRow<SatAdd<int8_t>>,
    ownBinaryRow<SatAdd<uint16_t>>,  ownBinaryRow<SatAdd<int16_t>>, ownBinaryRow<SatAdd<int32_t>>,
};
static_assert(sizeof kAddRow / sizeof kAddRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAdd{{"vexAdd", "vexadd"}, kAddRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAdd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              const int* tile) {
    const OwnSite& site = kAdd.site;
    OWN_CHECK_HEADER(site, srcImageA);
    OWN_CHECK_HEADER(site, srcImageB);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImageA->depth != dstImage->depth, "(srcImageA->depth != dstImage->depth)");
    OWN_CHECK(site, srcImageB->depth != dstImage->depth, "(srcImageB->depth != dstImage->depth)");
    OWN_CHECK(site, srcImageA->dataOrder != dstImage->dataOrder,
              "(srcImageA->dataOrder != dstImage->dataOrder)");
    OWN_CHECK(site, srcImageB->dataOrder != dstImage->dataOrder,
              "(srcImageB->dataOrder != dstImage->dataOrder)");
    const int nChSrcA = ownPixelChannels(srcImageA);
    const int nChSrcB = ownPixelChannels(srcImageB);
    const int nChDst = ownPixelChannels(dstImage);
    OWN_CHECK(site, nChSrcA != nChDst, "(nChSrcA != nChDst)");
    OWN_CHECK(site, nChSrcB != nChDst, "(nChSrcB != nChDst)");
    ownPixel3(kAdd, srcImageA, srcImageB, dstImage, tile);
}
