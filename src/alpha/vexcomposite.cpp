// vexAlphaComposite and vexAlphaCompositeC: a foreground A and a background
// B combined by one of six operators (over, in, out, atop, xor, plus), with
// opacities from alpha channels, alpha images or constants.
#include <algorithm>

#include "alpha/ownalpha.h"
#include "arith/ownpixel.h"

using namespace vex;

namespace {

const OwnSite kComposite{"vexAlphaComposite", kAlphaFile};
const OwnSite kCompositeC{"vexAlphaCompositeC", kAlphaFile};

// Roles of the images in the block tiling, in reference order.
enum { kDst, kAlphaDst, kSrcA, kSrcB, kAlphaA, kAlphaB, kRoles };
static_assert(kRoles == kAlphaMaxImages, "one slot per role");

// Where an opacity comes from: channel `channel` of the image in `role`, or
// the constant `value` (role -1).
struct OwnOpacitySource {
    int role = -1, channel = 0;
    uint32_t value = 0;
};

struct OwnCompositeCtx {
    int depth;  // 0 for 8U, 1 for 16U
    int type, premul, divide;
    int nColour;  // colour channels when no channel is selected
    int coi[3];   // dst, A, B when the destination selects one channel
    int dstAlpha;
    OwnOpacitySource a, b;
    bool bComplement;       // b = M - a
    OwnOpacitySource out;   // role -1: the result opacity is not stored
    bool rgba8, keepAlpha;  // whole-pixel path
};

constexpr int kChunk = 256;

template <class T>
void ownGather(const OwnOpacitySource& s, const OwnChannels* ch, int y, int x0, int n, T* out) {
    if (s.role < 0) {
        std::fill(out, out + n, T(s.value));
        return;
    }
    const OwnChannels& c = ch[s.role];
    const T* p = c.at<T>(y, s.channel) + int64_t(x0) * c.pixStep;
    for (int i = 0; i < n; ++i) out[i] = p[int64_t(i) * c.pixStep];
}

template <class T>
void ownCompositeBlockT(const OwnAlphaBlock& block, const OwnCompositeCtx& c) {
    OwnChannels ch[kRoles];
    for (int i = 0; i < kRoles; ++i)
        if (block.view[i]) ch[i] = block.channels(i);
    const OwnChannels &D = ch[kDst], &A = ch[kSrcA], &B = ch[kSrcB];
    if (c.rgba8) {
        const OwnCompositeRGBA8 run = kCompositeRGBA8[c.type][c.premul][c.keepAlpha];
        // A destination block larger than the streaming threshold would not
        // stay cached for the next call anyway.
        const bool stream = int64_t(block.width) * block.height * 4 >= kStreamBytes;
        for (int y = 0; y < block.height; ++y)
            run(A.at<uint8_t>(y, 1), B.at<uint8_t>(y, 1), D.at<uint8_t>(y, 1), block.width, stream);
        return;
    }
    const OwnCompositeRun run = kCompositeRun[c.depth][c.type][c.premul][c.divide];
    const OwnOpacityRun opacity = kOpacityRun[c.depth][c.type][c.divide];
    const T M = T(kAlphaMax<T>);
    T a[kChunk], b[kChunk];
    for (int y = 0; y < block.height; ++y)
        for (int x0 = 0; x0 < block.width; x0 += kChunk) {
            const int n = std::min(kChunk, block.width - x0);
            // Both opacities are read before anything of these pixels is
            // written, so an opacity image may also be the destination.
            ownGather(c.a, ch, y, x0, n, a);
            if (c.bComplement)
                for (int i = 0; i < n; ++i) b[i] = T(M - a[i]);
            else
                ownGather(c.b, ch, y, x0, n, b);
            auto colour = [&](int kd, int ka, int kb) {
                run(A.at<T>(y, ka) + int64_t(x0) * A.pixStep, A.pixStep,
                    B.at<T>(y, kb) + int64_t(x0) * B.pixStep, B.pixStep, a, b,
                    D.at<T>(y, kd) + int64_t(x0) * D.pixStep, D.pixStep, n);
            };
            if (c.coi[0]) {
                // The destination's alpha channel never receives a colour.
                if (c.coi[0] != c.dstAlpha) colour(c.coi[0], c.coi[1], c.coi[2]);
            } else {
                for (int k = 1; k <= c.nColour; ++k) colour(k, k, k);
            }
            if (c.out.role >= 0) {
                const OwnChannels& o = ch[c.out.role];
                opacity(a, b, o.at<T>(y, c.out.channel) + int64_t(x0) * o.pixStep, o.pixStep, n);
            }
        }
}

void ownCompositeBlock(const OwnAlphaBlock& block, const void* p) {
    const OwnCompositeCtx& c = *static_cast<const OwnCompositeCtx*>(p);
    if (c.depth == 0)
        ownCompositeBlockT<uint8_t>(block, c);
    else
        ownCompositeBlockT<uint16_t>(block, c);
}

int ownCoiOf(const VexImage* image) { return image->roi ? image->roi->coi : 0; }

bool ownRgba(const VexImage* image) {
    return image->dataOrder == VEX_DATA_ORDER_PIXEL && image->nChannels == 4 && image->alphaChannel == 4;
}

// The checks both operations share after their opacity checks: COI rules,
// alpha channels last, colour channel counts, the three modes. Fills the
// common part of the context.
bool ownCompositeTail(const OwnSite& site, VexImage* srcImageA, VexImage* srcImageB,
                      VexImage* dstImage, int compositeType, int premulAlpha, int divideMode,
                      OwnCompositeCtx* c) {
#define OWN_TAIL_CHECK(failed, text) \
    if (::vex::ownFail(site, (failed), (text), __LINE__)) return false
    if (!ownAlphaCoiOk(site, srcImageA, dstImage, "srcImageA", "dstImage", __LINE__)) return false;
    if (!ownAlphaCoiOk(site, srcImageB, dstImage, "srcImageB", "dstImage", __LINE__)) return false;
    OWN_TAIL_CHECK(srcImageA->alphaChannel > 0 && srcImageA->alphaChannel != srcImageA->nChannels,
                   "srcImageA->alphaChannel > 0 && srcImageA->alphaChannel != srcImageA->nChannels");
    OWN_TAIL_CHECK(srcImageB->alphaChannel > 0 && srcImageB->alphaChannel != srcImageB->nChannels,
                   "srcImageB->alphaChannel > 0 && srcImageB->alphaChannel != srcImageB->nChannels");
    OWN_TAIL_CHECK(dstImage->alphaChannel > 0 && dstImage->alphaChannel != dstImage->nChannels,
                   "dstImage->alphaChannel > 0 && dstImage->alphaChannel != dstImage->nChannels");
    const bool one = ownSelectsChannel(dstImage);
    const int colours = dstImage->nChannels - (dstImage->alphaChannel != 0);
    OWN_TAIL_CHECK(!one && srcImageA->nChannels - (srcImageA->alphaChannel != 0) != colours,
                   "(srcImageA->nChannels - (srcImageA->alphaChannel != 0)) != "
                   "(dstImage->nChannels - (dstImage->alphaChannel != 0))");
    OWN_TAIL_CHECK(!one && srcImageB->nChannels - (srcImageB->alphaChannel != 0) != colours,
                   "(srcImageB->nChannels - (srcImageB->alphaChannel != 0)) != "
                   "(dstImage->nChannels - (dstImage->alphaChannel != 0))");
    OWN_TAIL_CHECK(compositeType != 0 && compositeType != 1 && compositeType != 2 && compositeType != 3 &&
                       compositeType != 4 && compositeType != 5,
                   "compositeType != 0 && compositeType != 1 && compositeType != 2 && "
                   "compositeType != 3 && compositeType != 4 && compositeType != 5");
    OWN_TAIL_CHECK(premulAlpha != 0 && premulAlpha != 1, "premulAlpha != 0 && premulAlpha != 1");
    OWN_TAIL_CHECK(divideMode != 0 && divideMode != 1, "divideMode != 0 && divideMode != 1");
#undef OWN_TAIL_CHECK
    c->depth = dstImage->depth == 8 ? 0 : 1;
    c->type = compositeType;
    c->premul = premulAlpha;
    c->divide = divideMode;
    c->nColour = colours;
    c->dstAlpha = dstImage->alphaChannel;
    if (one) c->coi[0] = ownCoiOf(dstImage), c->coi[1] = ownCoiOf(srcImageA), c->coi[2] = ownCoiOf(srcImageB);
    return true;
}

// The header checks of the three main images and their depths.
#define OWN_CHECK_MAIN(site)                                                                      \
    OWN_CHECK_FIELDS(site, dstImage, "dstImage");                                                 \
    OWN_CHECK_FIELDS(site, srcImageA, "srcImageA");                                               \
    OWN_CHECK_FIELDS(site, srcImageB, "srcImageB");                                               \
    OWN_CHECK(site, dstImage->depth != 8 && dstImage->depth != 16,                                \
              "dstImage->depth != 8 && dstImage->depth != 16");                                   \
    OWN_CHECK(site, srcImageA->depth != dstImage->depth, "srcImageA->depth != dstImage->depth"); \
    OWN_CHECK(site, srcImageB->depth != dstImage->depth, "srcImageB->depth != dstImage->depth")

// An alpha image's opacity channel: its alphaChannel, or channel 1.
int ownOpacityChannel(const VexImage* image) { return image->alphaChannel ? image->alphaChannel : 1; }

}  // namespace

extern "C" VEXAPI void vexAlphaComposite(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                         int compositeType, VexImage* alphaImageA, VexImage* alphaImageB,
                                         VexImage* alphaImageDst, int premulAlpha, int divideMode,
                                         const VexMapping* mapping) {
    const OwnSite& site = kComposite;
    OWN_CHECK_MAIN(site);
    if (alphaImageA) {
        OWN_CHECK_FIELDS(site, alphaImageA, "alphaImageA");
        OWN_CHECK(site, alphaImageA->depth != dstImage->depth, "alphaImageA->depth != dstImage->depth");
    } else {
        OWN_CHECK(site, srcImageA->alphaChannel < 1, "srcImageA->alphaChannel < 1");
        OWN_CHECK(site, srcImageA->alphaChannel > srcImageA->nChannels,
                  "srcImageA->alphaChannel > srcImageA->nChannels");
    }
    if (alphaImageB) {
        OWN_CHECK_FIELDS(site, alphaImageB, "alphaImageB");
        OWN_CHECK(site, alphaImageB->depth != dstImage->depth, "alphaImageB->depth != dstImage->depth");
    } else if (!alphaImageA) {
        OWN_CHECK(site, srcImageB->alphaChannel < 1, "srcImageB->alphaChannel < 1");
        OWN_CHECK(site, srcImageB->alphaChannel > srcImageB->nChannels,
                  "srcImageB->alphaChannel > srcImageB->nChannels");
    }
    if (alphaImageDst) {
        OWN_CHECK_FIELDS(site, alphaImageDst, "alphaImageDst");
        OWN_CHECK(site, alphaImageDst->depth != dstImage->depth, "alphaImageDst->depth != dstImage->depth");
        OWN_CHECK(site, alphaImageDst->alphaChannel < 1, "alphaImageDst->alphaChannel < 1");
        OWN_CHECK(site, alphaImageDst->alphaChannel > alphaImageDst->nChannels,
                  "alphaImageDst->alphaChannel > alphaImageDst->nChannels");
    }
    OwnCompositeCtx c{};
    if (!ownCompositeTail(site, srcImageA, srcImageB, dstImage, compositeType, premulAlpha, divideMode, &c))
        return;
    if (alphaImageA)
        c.a = {kAlphaA, ownOpacityChannel(alphaImageA), 0};
    else
        c.a = {kSrcA, srcImageA->alphaChannel, 0};
    if (alphaImageB)
        c.b = {kAlphaB, ownOpacityChannel(alphaImageB), 0};
    else if (!alphaImageA)
        c.b = {kSrcB, srcImageB->alphaChannel, 0};
    else
        c.bComplement = true;
    if (alphaImageDst)
        c.out = {kAlphaDst, alphaImageDst->alphaChannel, 0};
    else if (dstImage->alphaChannel)
        c.out = {kDst, dstImage->alphaChannel, 0};
    c.rgba8 = c.depth == 0 && c.divide == 0 && !alphaImageA && !alphaImageB && !alphaImageDst &&
              !c.coi[0] && ownRgba(srcImageA) && ownRgba(srcImageB) && ownRgba(dstImage);
    VexImage* images[kRoles] = {dstImage, alphaImageDst, srcImageA, srcImageB, alphaImageA, alphaImageB};
    const int modes[kRoles] = {VEX_TILE_GET_WRITE, VEX_TILE_GET_WRITE, VEX_TILE_GET_READ,
                               VEX_TILE_GET_READ,  VEX_TILE_GET_READ,  VEX_TILE_GET_READ};
    ownAlphaRun(site, images, modes, kRoles, mapping, ownCompositeBlock, &c);
}

extern "C" VEXAPI void vexAlphaCompositeC(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                                          int compositeType, int alphaA, int alphaB, int premulAlpha,
                                          int divideMode, const VexMapping* mapping) {
    const OwnSite& site = kCompositeC;
    OWN_CHECK_MAIN(site);
    if (alphaA < 0) {
        OWN_CHECK(site, srcImageA->alphaChannel < 1, "srcImageA->alphaChannel < 1");
        OWN_CHECK(site, srcImageA->alphaChannel > srcImageA->nChannels,
                  "srcImageA->alphaChannel > srcImageA->nChannels");
    }
    if (alphaB < 0) {
        OWN_CHECK(site, srcImageB->alphaChannel < 1, "srcImageB->alphaChannel < 1");
        OWN_CHECK(site, srcImageB->alphaChannel > srcImageB->nChannels,
                  "srcImageB->alphaChannel > srcImageB->nChannels");
    }
    OwnCompositeCtx c{};
    if (!ownCompositeTail(site, srcImageA, srcImageB, dstImage, compositeType, premulAlpha, divideMode, &c))
        return;
    const uint32_t max = dstImage->depth == 8 ? 255u : 65535u;
    auto constant = [&](int v) { return uint32_t(v) > max ? max : uint32_t(v); };
    if (alphaA < 0)
        c.a = {kSrcA, srcImageA->alphaChannel, 0};
    else
        c.a = {-1, 0, constant(alphaA)};
    if (alphaB < 0)
        c.b = {kSrcB, srcImageB->alphaChannel, 0};
    else
        c.b = {-1, 0, constant(alphaB)};
    // No result opacity is stored: the destination's alpha channel keeps its samples.
    c.keepAlpha = true;
    c.rgba8 = c.depth == 0 && c.divide == 0 && alphaA < 0 && alphaB < 0 && !c.coi[0] &&
              ownRgba(srcImageA) && ownRgba(srcImageB) && ownRgba(dstImage);
    VexImage* images[kRoles] = {dstImage, nullptr, srcImageA, srcImageB, nullptr, nullptr};
    const int modes[kRoles] = {VEX_TILE_GET_WRITE, 0, VEX_TILE_GET_READ, VEX_TILE_GET_READ, 0, 0};
    ownAlphaRun(site, images, modes, kRoles, mapping, ownCompositeBlock, &c);
}
