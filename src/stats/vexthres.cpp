// vexThreshold: each processed sample below the threshold becomes the
// depth's minimum, any other its maximum. 1-bit images are refused; the
// channel counts are compared by the kernel, piece by piece.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kThresholdRow[] = {
    nullptr,
    ownUnaryRow<ThresholdRule<uint8_t>>,
    ownUnaryRow<ThresholdRule<int8_t>>,
    ownUnaryRow<ThresholdRule<uint16_t>>,
    ownUnaryRow<ThresholdRule<int16_t>>,
    ownUnaryRow<ThresholdRule<int32_t>>,
};
static_assert(sizeof kThresholdRow / sizeof kThresholdRow[0] == kDepthCount,
              "one kernel per depth");

const OwnPixelOp kThreshold{{"vexThreshold", "vexthres"}, kThresholdRow, kPixelPieceChecks};

}  // namespace

extern "C" VEXAPI void vexThreshold(VexImage* srcImage, VexImage* dstImage, int threshold,
                                    const int* tile) {
    const OwnSite& site = kThreshold.site;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth!=dstImage->depth)");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder!=dstImage->dataOrder)");
    OWN_CHECK(site, srcImage->depth == VEX_DEPTH_1U, "(srcImage->depth==1)");
    OwnPixelArgs args;
    args.value = threshold;
    ownPixel2(kThreshold, srcImage, dstImage, tile, args);
}
