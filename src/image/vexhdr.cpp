// Image headers: creation, pixel buffer allocation and release.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ownimage.h"

namespace vex {

int64_t ownDepthMin(unsigned depth) {
    if (!(depth & VEX_DEPTH_SIGN)) return 0;
    return -(int64_t(1) << (ownDepthBits(depth) - 1));
}

int64_t ownDepthMax(unsigned depth) {
    const int bits = ownDepthBits(depth);
    if (depth & VEX_DEPTH_SIGN) return (int64_t(1) << (bits - 1)) - 1;
    return (int64_t(1) << bits) - 1;
}

int64_t ownRowStep(int width, unsigned depth, int nChannels, int dataOrder, int align) {
    const int64_t a = int64_t(align) * 8;
    int64_t bits = int64_t(width) * ownDepthBits(depth);
    if (dataOrder == VEX_DATA_ORDER_PIXEL) bits *= nChannels;
    if (a <= 0) return 0;
    return (bits + a - 1) / a * a / 8;
}

int64_t ownDataSize(int height, int width, unsigned depth, int nChannels, int dataOrder,
                    int align) {
    int64_t size = ownRowStep(width, depth, nChannels, dataOrder, align) * height;
    if (dataOrder == VEX_DATA_ORDER_PLANE) size *= nChannels;
    return size;
}

bool ownCheckHeader(const VexImage* image) {
    return image->nChannels >= 1 && image->alphaChannel >= 0 &&
           image->alphaChannel <= image->nChannels && ownDepthIndex(image->depth) >= 0 &&
           (image->dataOrder == 0 || image->dataOrder == 1) &&
           (image->origin == 0 || image->origin == 1) && (image->align == 4 || image->align == 8) &&
           image->height >= 0 && image->width >= 0;
}

VexImage ownTileHeader(const VexImage* image) {
    VexImage tile = *image;
    tile.width = image->tileInfo->width;
    tile.height = image->tileInfo->height;
    tile.widthStep = static_cast<int>(ownRowStep(tile.width, tile.depth, tile.nChannels,
                                                 tile.dataOrder, tile.align));
    tile.roi = nullptr;
    tile.userData = nullptr;
    tile.tileInfo = nullptr;
    tile.imageData = nullptr;
    tile.dataBlock = nullptr;
    tile.dataSize = 0;
    return tile;
}

namespace {

// Geometry whose buffer does not fit the 32-bit dataSize field is refused.
bool ownSizeFits(const VexImage* image, int64_t* step, int64_t* size) {
    *step = ownImageStep(image);
    *size = ownDataSize(image->height, image->width, image->depth, image->nChannels,
                        image->dataOrder, image->align);
    return *size <= INT_MAX - 8;
}

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" {

VEXAPI VexImage* vexCreateImageHeader(int nChannels, int alphaChannel, int depth,
                                      const char* colorSpace, const char* channelSeq,
                                      int dataOrder, int origin, int align, int height, int width,
                                      VexROI* roi, void* userData, VexTileInfo* tileInfo) {
    auto* image = static_cast<VexImage*>(std::calloc(1, sizeof(VexImage)));
    if (!image) return nullptr;
    image->headerSize = static_cast<int>(sizeof(VexImage));
    image->headerId = 0;
    image->nChannels = nChannels;
    image->alphaChannel = alphaChannel;
    image->depth = static_cast<unsigned>(depth);
    if (!colorSpace || !channelSeq) {
        std::free(image);
        return nullptr;
    }
    // Four characters, not terminated; a shorter text is padded with zeros
    // rather than read past its end.
    for (int i = 0, endCs = 0, endSeq = 0; i < 4; ++i) {
        endCs = endCs || colorSpace[i] == '\0';
        endSeq = endSeq || channelSeq[i] == '\0';
        image->colorSpace[i] = endCs ? '\0' : colorSpace[i];
        image->channelSeq[i] = endSeq ? '\0' : channelSeq[i];
    }
    image->dataOrder = dataOrder;
    image->origin = origin;
    image->align = align;
    image->height = height;
    image->width = width;
    image->roi = roi;
    image->userData = userData;
    image->tileInfo = tileInfo;
    vexSetBorderMode(image, VEX_BORDER_CONSTANT, VEX_SIDE_ALL, 0);
    int64_t step = 0, size = 0;
    if (!ownCheckHeader(image) || !ownSizeFits(image, &step, &size)) {
        std::free(image);
        return nullptr;
    }
    image->widthStep = static_cast<int>(step);
    image->dataSize = static_cast<int>(size);
    return image;
}

VEXAPI void vexAllocateImage(VexImage* image, int fillValue) {
    if (!image) return;
    int64_t step = 0, size = 0;
    if (!ownCheckHeader(image) || !ownSizeFits(image, &step, &size)) {
        image->imageData = nullptr;
        image->dataSize = 0;
        return;
    }
    // Buffers start on a 64-byte boundary (a multiple of both alignments):
    // rows of vector-sized lengths then never split a cache line.
    constexpr int64_t kBufferAlign = 64;
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(size + kBufferAlign - 1)));
    if (!block) return;
    image->dataBlock = block;
    image->dataSize = static_cast<int>(size);
    image->widthStep = static_cast<int>(step);
    const uintptr_t a = static_cast<uintptr_t>(kBufferAlign);
    image->imageData =
        reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(block) + a - 1) / a * a);
    if (fillValue == -1) return;

    uint32_t pattern;
    switch (ownDepthBits(image->depth)) {
        case 1: pattern = (fillValue & 1) ? 0xFFFFFFFFu : 0u; break;
        case 8: pattern = 0x01010101u * (static_cast<uint32_t>(fillValue) & 0xFFu); break;
        case 16: pattern = 0x00010001u * (static_cast<uint32_t>(fillValue) & 0xFFFFu); break;
        default: pattern = static_cast<uint32_t>(fillValue); break;
    }
    auto* words = reinterpret_cast<uint32_t*>(image->imageData);
    const size_t n = static_cast<size_t>(size) / 4;
    for (size_t i = 0; i < n; ++i) words[i] = pattern;
}

VEXAPI void vexDeallocateImage(VexImage* image) {
    if (!image || !ownCheckHeader(image)) return;
    std::free(image->dataBlock);
    image->imageData = nullptr;
    image->dataBlock = nullptr;
}

VEXAPI void vexDeallocateHeader(VexImage* image) { vexDeallocate(image, VEX_IMAGE_HEADER); }

VEXAPI void vexDeallocate(VexImage* image, int flags) {
    if (!image) return;
    if (flags & VEX_IMAGE_ROI) {
        vexDeleteROI(image->roi);
        image->roi = nullptr;
    }
    if ((flags & VEX_IMAGE_MASK) && image->maskImage) {
        vexDeallocate(image->maskImage, VEX_IMAGE_HEADER | VEX_IMAGE_DATA | VEX_IMAGE_ROI |
                                            VEX_IMAGE_TILE);
        image->maskImage = nullptr;
    }
    if (flags & VEX_IMAGE_TILE) {
        vexDeleteTileInfo(image->tileInfo);
        image->tileInfo = nullptr;
    }
    if ((flags & VEX_IMAGE_DATA) && image->dataBlock) {
        std::free(image->dataBlock);
        image->imageData = nullptr;
        image->dataBlock = nullptr;
    }
    if (flags & VEX_IMAGE_HEADER) std::free(image);
}

}  // extern "C"
