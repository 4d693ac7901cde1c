// vexMultiply: dst = Saturate(A * B); 1U: A AND B.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kMulRow[] = {
    ownBitBinaryRow<BitAnd<uint8_t>>, ownBinaryRow<SatMul<uint8_t>>, ownBinaryRow<SatMul<int8_t>>,
    ownBinaryRow<SatMul<uint16_t>>,   ownBinaryRow<SatMul<int16_t>>, ownBinaryRow<SatMul<int32_t>>,
};
static_assert(sizeof kMulRow / sizeof kMulRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kMul{{"vexMultiply", "vexmul"}, kMulRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexMultiply(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                   const int* tile) {
    const OwnSite& site = kMul.site;
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
    ownPixel3(kMul, srcImageA, srcImageB, dstImage, tile);
}
