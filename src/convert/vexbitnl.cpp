// vexBitonalToGray: a 1-bit image expanded into an integer image, one
// caller value for 0 bits and one for 1 bits, in every channel.
#include "convert/owncvrt.h"

using namespace vex;

namespace {

const OwnSite kBitonal{"vexBitonalToGray", "..\\_SRC\\vexbitnl"};

}  // namespace

// Same frame as vexConvert: whole images, regions of interest ignored,
// opposite origins reverse the rows, tiles walked destination first, an
// optional mapping point selects one destination tile.
extern "C" VEXAPI void vexBitonalToGray(VexImage* srcImage, VexImage* dstImage, int ZeroScale,
                                        int OneScale, const VexMapping* mapping) {
    const OwnSite& site = kBitonal;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->height != dstImage->height, "(srcImage->height != dstImage->height)");
    OWN_CHECK(site, srcImage->width != dstImage->width, "(srcImage->width != dstImage->width)");
    OWN_CHECK(site, srcImage->nChannels != 1, "(srcImage->nChannels != 1)");
    OWN_CHECK(site, srcImage->depth != VEX_DEPTH_1U, "(srcImage->depth != 1)");
    OWN_CHECK(site, dstImage->depth == VEX_DEPTH_1U, "(dstImage->depth == 1)");

    const unsigned depth = dstImage->depth;
    const bool d8s = depth == VEX_DEPTH_8S, d8u = depth == VEX_DEPTH_8U;
    const bool d16s = depth == VEX_DEPTH_16S, d16u = depth == VEX_DEPTH_16U;
    OWN_CHECK(site, d8s && ZeroScale > 127, "((dstImage->depth == (0x80000000| 8)) && (ZeroScale > 127))");
    OWN_CHECK(site, d8s && ZeroScale < -128, "((dstImage->depth == (0x80000000| 8)) && (ZeroScale < -128))");
    OWN_CHECK(site, d8s && OneScale > 127, "((dstImage->depth == (0x80000000| 8)) && (OneScale > 127))");
    OWN_CHECK(site, d8s && OneScale < -128, "((dstImage->depth == (0x80000000| 8)) && (OneScale < -128))");
    OWN_CHECK(site, d8u && ZeroScale > 255, "((dstImage->depth == 8) && (ZeroScale > 255))");
    OWN_CHECK(site, d8u && ZeroScale < 0, "((dstImage->depth == 8) && (ZeroScale < 0))");
    OWN_CHECK(site, d8u && OneScale > 255, "((dstImage->depth == 8) && (OneScale > 255))");
    OWN_CHECK(site, d8u && OneScale < 0, "((dstImage->depth == 8) && (OneScale < 0))");
    OWN_CHECK(site, d16s && ZeroScale > 32767, "((dstImage->depth == (0x80000000|16)) && (ZeroScale > 32767))");
    OWN_CHECK(site, d16s && ZeroScale < -32768, "((dstImage->depth == (0x80000000|16)) && (ZeroScale < -32768))");
    OWN_CHECK(site, d16s && OneScale > 32767, "((dstImage->depth == (0x80000000|16)) && (OneScale > 32767))");
    OWN_CHECK(site, d16s && OneScale < -32768, "((dstImage->depth == (0x80000000|16)) && (OneScale < -32768))");
    OWN_CHECK(site, d16u && ZeroScale > 65535, "((dstImage->depth == 16) && (ZeroScale > 65535))");
    OWN_CHECK(site, d16u && ZeroScale < 0, "((dstImage->depth == 16) && (ZeroScale < 0))");
    OWN_CHECK(site, d16u && OneScale > 65535, "((dstImage->depth == 16) && (OneScale > 65535))");
    OWN_CHECK(site, d16u && OneScale < 0, "((dstImage->depth == 16) && (OneScale < 0))");

    OwnCvtJob job{};
    job.kind = OwnCvtKind::kFromBits;
    job.srcDepth = kD1U;
    job.dstDepth = ownDepthIndex(depth);
    job.nChannels = dstImage->nChannels;
    job.zero = ZeroScale;
    job.one = OneScale;
    ownCvtWalk(site, job, srcImage, dstImage, mapping);
}
