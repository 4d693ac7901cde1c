// vexConvert: one image into another of the same size and channel count,
// changing depth, data order and row origin in one pass; also one channel
// of an integer image reduced to 1 bit, and 1-bit copies.
#include "convert/owncvrt.h"

using namespace vex;

namespace {

const OwnSite kConvert{"vexConvert", "..\\_SRC\\vexcvrt"};

}  // namespace

// The regions of interest do not restrict the conversion; the source's
// channel of interest only picks the channel reduced to 1 bit. A mapping
// point outside the destination names no tile inside it, and then nothing
// is converted (and nothing reported).
extern "C" VEXAPI void vexConvert(VexImage* srcImage, VexImage* dstImage, int ConvertMode,
                                  const VexMapping* mapping) {
    const OwnSite& site = kConvert;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->height != dstImage->height, "(srcImage->height != dstImage->height)");
    OWN_CHECK(site, srcImage->width != dstImage->width, "(srcImage->width != dstImage->width)");

    OwnCvtJob job{};
    job.srcDepth = ownDepthIndex(srcImage->depth);
    job.dstDepth = ownDepthIndex(dstImage->depth);
    job.nChannels = srcImage->nChannels;

    if (dstImage->depth == VEX_DEPTH_1U && srcImage->depth != VEX_DEPTH_1U) {
        const bool many = srcImage->nChannels > 1;
        OWN_CHECK(site, many && srcImage->roi == nullptr,
                  "((srcImage->nChannels > 1) && (srcImage->roi == 0))");
        OWN_CHECK(site, many && srcImage->roi->coi <= 0,
                  "((srcImage->nChannels > 1) && (srcImage->roi->coi <= 0))");
        OWN_CHECK(site, many && srcImage->roi->coi > srcImage->nChannels,
                  "((srcImage->nChannels > 1) && (srcImage->roi->coi > srcImage->nChannels))");
        job.kind = OwnCvtKind::kToBits;
        job.channel = many ? srcImage->roi->coi - 1 : 0;
        ownCvtWalk(site, job, srcImage, dstImage, mapping);
        return;
    }
    OWN_CHECK(site, srcImage->nChannels != dstImage->nChannels,
              "srcImage->nChannels != dstImage->nChannels");
    OWN_CHECK(site, srcImage->depth == VEX_DEPTH_1U && srcImage->depth != dstImage->depth,
              "((srcImage->depth == 1) && (srcImage->depth != dstImage->depth))");
    if (srcImage->depth == VEX_DEPTH_1U) {
        job.kind = OwnCvtKind::kBitCopy;
        ownCvtWalk(site, job, srcImage, dstImage, mapping);
        return;
    }
    OWN_CHECK(site, ConvertMode != 1 && ConvertMode != 0,
              "((ConvertMode != 1) && (ConvertMode != 0))");
    job.kind = OwnCvtKind::kGeneral;
    job.mode = ConvertMode;
    ownCvtWalk(site, job, srcImage, dstImage, mapping);
}
