// vexMultiplyScale and vexMultiplySScale: products of samples that stand
// for fractions of M, dst = Scale(A x B) and dst = Scale(src x v).
#include "alpha/ownalpha.h"

using namespace vex;

namespace {

const OwnSite kMulScale{"vexMultiplyScale", kAlphaFile};
const OwnSite kMulSScale{"vexMultiplySScale", kAlphaFile};

struct OwnMulCtx {
    int depth;       // 0 for 8U, 1 for 16U
    int nChannels;   // channels processed when no channel is selected
    int coi[3];      // dst, A, B: the selected channels, 0 for all
    bool scalar;
    uint32_t value;  // the factor of vexMultiplySScale, at most M
};

// Rows whose channels lie back to back in every image (pixel order, every
// channel) are one run; otherwise each channel is a run through the images'
// own steps.
void ownMulBlock(const OwnAlphaBlock& block, const void* p) {
    const OwnMulCtx& c = *static_cast<const OwnMulCtx*>(p);
    const int images = c.scalar ? 2 : 3;
    OwnChannels ch[3];
    bool packed = c.coi[0] == 0;
    for (int i = 0; i < images; ++i) {
        ch[i] = block.channels(i);
        packed = packed && !ch[i].plane;
    }
    for (int y = 0; y < block.height; ++y) {
        const int runs = packed ? 1 : c.coi[0] ? 1 : c.nChannels;
        for (int k = 1; k <= runs; ++k) {
            const void* s[2];
            int inc[3];
            char* d = nullptr;
            for (int i = 0; i < images; ++i) {
                const int channel = c.coi[0] ? c.coi[i] : k;
                char* at = ch[i].first + y * ch[i].rowStep + (channel - 1) * ch[i].chanStep;
                inc[i] = packed ? 1 : ch[i].pixStep;
                if (i == 0) d = at;
                else s[i - 1] = at;
            }
            const int n = packed ? block.width * c.nChannels : block.width;
            if (c.scalar)
                kScaleSRun[c.depth](s[0], inc[1], c.value, d, inc[0], n);
            else
                kScaleRun[c.depth](s[0], inc[1], s[1], inc[2], d, inc[0], n);
        }
    }
}

int ownCoiOf(const VexImage* image) { return image->roi ? image->roi->coi : 0; }

}  // namespace

extern "C" VEXAPI void vexMultiplyScale(VexImage* srcImageA, VexImage* srcImageB,
                                        VexImage* dstImage, const VexMapping* mapping) {
    const OwnSite& site = kMulScale;
    OWN_CHECK_FIELDS(site, dstImage, "dstImage");
    OWN_CHECK_FIELDS(site, srcImageA, "srcImageA");
    OWN_CHECK_FIELDS(site, srcImageB, "srcImageB");
    OWN_CHECK(site, dstImage->depth != 8 && dstImage->depth != 16,
              "dstImage->depth != 8 && dstImage->depth != 16");
    OWN_CHECK(site, srcImageA->depth != dstImage->depth, "srcImageA->depth != dstImage->depth");
    OWN_CHECK(site, srcImageB->depth != dstImage->depth, "srcImageB->depth != dstImage->depth");
    OWN_CHECK_COI(site, srcImageA, dstImage, "srcImageA", "dstImage");
    OWN_CHECK_COI(site, srcImageB, dstImage, "srcImageB", "dstImage");
    const bool one = ownSelectsChannel(dstImage);
    OWN_CHECK(site, !one && srcImageA->nChannels != dstImage->nChannels,
              "srcImageA->nChannels != dstImage->nChannels");
    OWN_CHECK(site, !one && srcImageB->nChannels != dstImage->nChannels,
              "srcImageB->nChannels != dstImage->nChannels");
    OwnMulCtx c{};
    c.depth = dstImage->depth == 8 ? 0 : 1;
    c.nChannels = dstImage->nChannels;
    if (one) c.coi[0] = ownCoiOf(dstImage), c.coi[1] = ownCoiOf(srcImageA), c.coi[2] = ownCoiOf(srcImageB);
    VexImage* images[3] = {dstImage, srcImageA, srcImageB};
    const int modes[3] = {VEX_TILE_GET_WRITE, VEX_TILE_GET_READ, VEX_TILE_GET_READ};
    ownAlphaRun(site, images, modes, 3, mapping, ownMulBlock, &c);
}

extern "C" VEXAPI void vexMultiplySScale(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                                         const VexMapping* mapping) {
    const OwnSite& site = kMulSScale;
    OWN_CHECK_FIELDS(site, dstImage, "dstImage");
    OWN_CHECK_FIELDS(site, srcImage, "srcImage");
    OWN_CHECK(site, dstImage->depth != 8 && dstImage->depth != 16,
              "dstImage->depth != 8 && dstImage->depth != 16");
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth");
    OWN_CHECK_COI(site, srcImage, dstImage, "srcImage", "dstImage");
    const bool one = ownSelectsChannel(dstImage);
    OWN_CHECK(site, !one && srcImage->nChannels != dstImage->nChannels,
              "srcImage->nChannels != dstImage->nChannels");
    OwnMulCtx c{};
    c.depth = dstImage->depth == 8 ? 0 : 1;
    c.nChannels = dstImage->nChannels;
    c.scalar = true;
    // Values above M (every negative number a caller passes among them) act as M.
    const uint32_t max = dstImage->depth == 8 ? 255u : 65535u;
    c.value = value > max ? max : value;
    if (one) c.coi[0] = ownCoiOf(dstImage), c.coi[1] = ownCoiOf(srcImage);
    VexImage* images[2] = {dstImage, srcImage};
    const int modes[2] = {VEX_TILE_GET_WRITE, VEX_TILE_GET_READ};
    ownAlphaRun(site, images, modes, 2, mapping, ownMulBlock, &c);
}
