// vexAnd: dst = A AND B, bit by bit. Signed and unsigned depths of one width
// share a kernel.
#include "arith/ownrules.h"

using namespace vex;

namespace {

const OwnRowFn kAndRow[] = {
    ownBitBinaryRow<BitAnd<uint8_t>>, ownBinaryRow<BitAnd<uint8_t>>,
    ownBinaryRow<BitAnd<uint8_t>>,    ownBinaryRow<BitAnd<uint16_t>>,
    ownBinaryRow<BitAnd<uint16_t>>,   ownBinaryRow<BitAnd<uint32_t>>,
};
static_assert(sizeof kAndRow / sizeof kAndRow[0] == kDepthCount, "one kernel per depth");

const OwnPixelOp kAnd{{"vexAnd", "vexand"}, kAndRow, kPixelNone};

}  // namespace

extern "C" VEXAPI void vexAnd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              const int* tile) {
    const OwnSite& site = kAnd.site;
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
    ownPixel3(kAnd, srcImageA, srcImageB, dstImage, tile);
}
