// vexPreMultiplyAlpha: the colour channels of an image multiplied, in
// place, by the pixel's own alpha sample or by a constant alpha.
#include "alpha/ownalpha.h"

using namespace vex;

namespace {

const OwnSite kPreMul{"vexPreMultiplyAlpha", kAlphaFile};

struct OwnPreMulCtx {
    int depth;         // 0 for 8U, 1 for 16U
    int coi;           // 0 for every channel
    int alphaChannel;  // 0 for none
    int alphaValue;    // at most M; negative: each pixel's own alpha sample
};

// A channel selected through the COI that is the alpha channel itself gets
// no colour treatment: with a constant it is set like every alpha sample,
// with the pixel's own alpha it stays as it is.
bool ownIsColour(const OwnPreMulCtx& c, int channel) { return channel != c.alphaChannel; }

template <class T>
void ownSetAlpha(const OwnChannels& ch, int y, int channel, int width, T value) {
    T* p = ch.at<T>(y, channel);
    for (int x = 0; x < width; ++x) p[int64_t(x) * ch.pixStep] = value;
}

void ownPreMulBlock(const OwnAlphaBlock& block, const void* p) {
    const OwnPreMulCtx& c = *static_cast<const OwnPreMulCtx*>(p);
    const OwnChannels ch = block.channels(0);
    const int w = block.width;
    const bool whole = c.coi == 0 && !ch.plane;  // every channel, back to back
    for (int y = 0; y < block.height; ++y) {
        if (c.alphaValue >= 0) {
            const uint32_t v = uint32_t(c.alphaValue);
            if (whole) {
                // The alpha samples are scaled too, and then set below.
                kScaleSInPlace[c.depth](ch.at<char>(y, 1), 1, v, w * ch.nChannels);
            } else {
                for (int k = c.coi ? c.coi : 1; k <= (c.coi ? c.coi : ch.nChannels); ++k)
                    if (ownIsColour(c, k)) kScaleSInPlace[c.depth](ch.at<char>(y, k), ch.pixStep, v, w);
            }
            if (c.alphaChannel > 0) {
                if (c.depth == 0)
                    ownSetAlpha<uint8_t>(ch, y, c.alphaChannel, w, uint8_t(v));
                else
                    ownSetAlpha<uint16_t>(ch, y, c.alphaChannel, w, uint16_t(v));
            }
            continue;
        }
        if (whole && c.depth == 0 && ch.nChannels == 4) {
            ownPremultiplyRGBA8(ch.at<uint8_t>(y, 1), w);
            continue;
        }
        const char* alpha = ch.at<char>(y, c.alphaChannel);
        for (int k = c.coi ? c.coi : 1; k <= (c.coi ? c.coi : ch.nChannels); ++k)
            if (ownIsColour(c, k))
                kScaleByRun[c.depth](ch.at<char>(y, k), ch.pixStep, alpha, ch.pixStep, w);
    }
}

}  // namespace

extern "C" VEXAPI void vexPreMultiplyAlpha(VexImage* image, int alphaValue, const VexMapping* mapping) {
    const OwnSite& site = kPreMul;
    OWN_CHECK_FIELDS(site, image, "image");
    OWN_CHECK(site, image->depth != 8 && image->depth != 16, "image->depth != 8 && image->depth != 16");
    OWN_CHECK(site, image->alphaChannel > 0 && image->alphaChannel != image->nChannels,
              "image->alphaChannel > 0 && image->alphaChannel != image->nChannels");
    if (alphaValue < 0) {
        OWN_CHECK(site, image->alphaChannel < 1, "image->alphaChannel < 1");
        OWN_CHECK(site, image->alphaChannel > image->nChannels, "image->alphaChannel > image->nChannels");
    }
    OwnPreMulCtx c{};
    c.depth = image->depth == 8 ? 0 : 1;
    c.coi = ownSelectsChannel(image) ? image->roi->coi : 0;
    c.alphaChannel = image->alphaChannel;
    const int max = image->depth == 8 ? 255 : 65535;
    c.alphaValue = alphaValue < 0 ? -1 : alphaValue > max ? max : alphaValue;
    VexImage* images[1] = {image};
    const int modes[1] = {VEX_TILE_GET_WRITE};
    ownAlphaRun(site, images, modes, 1, mapping, ownPreMulBlock, &c);
}
