// vexSubtract: dst = Saturate(A - B), or Saturate(B - A) with swapOperands;
// 1U: A AND NOT B (B AND NOT A).
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kSubRow[] = {
    ownBitBinaryRow<BitAndNot<uint8_t>>, ownBinaryRow<SatSub<uint8_t>>,
    ownBinaryRow<SatSub<int8_t>>,        ownBinaryRow<SatSub<uint16_t>>,
    ownBinaryRow<SatSub<int16_t>>,       ownBinaryRow<SatSub<int32_t>>,
};
static_assert(sizeof kSubRow / sizeof kSubRow[0] == kDepthCount, "one kernel per depth");

const OwnRowFn kSubSwapRow[] = {
    ownBitBinaryRow<BitAndNotRev<uint8_t>>, ownBinaryRow<SatSubRev<uint8_t>>,
    ownBinaryRow<SatSubRev<int8_t>>,        ownBinaryRow<SatSubRev<uint16_t>>,
    ownBinaryRow<SatSubRev<int16_t>>,       ownBinaryRow<SatSubRev<int32_t>>,
};
static_assert(sizeof kSubSwapRow / sizeof kSubSwapRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kSub{{"vexSubtract", "vexsub"}, kSubRow, kPixelNone};

const OwnPixelOp kSubSwap{{"vexSubtract", "vexsub"}, kSubSwapRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexSubtract(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                   int swapOperands, const int* tile) {
    const OwnSite& site = kSub.site;
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
    ownPixel3(swapOperands ? kSubSwap : kSub, srcImageA, srcImageB, dstImage, tile);
}
