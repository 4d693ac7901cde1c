// ROI and tiling records, border modes, and per-pixel reads with the border rule.
#include <cstdlib>
#include <cstring>

#include "ownimage.h"

namespace vex {

namespace {

// Address of the element holding channel c of pixel (x, y) in an untiled
// buffer; for 1U, *bit receives the bit index inside that byte.
char* ownElementAddress(const VexImage* image, int x, int y, int c, int* bit) {
    const int64_t step = ownImageStep(image);
    const int esize = ownElemSize(image->depth);
    char* row = image->imageData + step * y;
    int64_t index = x;
    if (image->dataOrder == VEX_DATA_ORDER_PLANE)
        row += step * image->height * (c - 1);
    else
        index = int64_t(x) * image->nChannels + c - 1;
    if (image->depth == VEX_DEPTH_1U) {
        *bit = 7 - static_cast<int>(index & 7);
        return row + (index >> 3);
    }
    *bit = 0;
    return row + index * esize;
}

}  // namespace

int ownGetPixel(const VexImage* image, int x, int y, int c) {
    int bit;
    const char* p = ownElementAddress(image, x, y, c, &bit);
    switch (ownDepthBits(image->depth)) {
        case 1: return (static_cast<unsigned char>(*p) >> bit) & 1;
        case 8: return *reinterpret_cast<const unsigned char*>(p);
        case 16: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void ownSetPixel(VexImage* image, int x, int y, int c, int value) {
    int bit;
    char* p = ownElementAddress(image, x, y, c, &bit);
    switch (ownDepthBits(image->depth)) {
        case 1:
            if (value & 1)
                *p = static_cast<char>(*p | (1 << bit));
            else
                *p = static_cast<char>(*p & ~(1 << bit));
            break;
        case 8: *p = static_cast<char>(value); break;
        case 16: {
            const uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(p, &v, 2);
            break;
        }
        default: std::memcpy(p, &value, 4); break;
    }
}

bool ownGetTiledPixel(const VexImage* image, int x, int y, int c, int* value) {
    VexTileInfo* tiles = image->tileInfo;
    if (!tiles) {
        *value = ownGetPixel(image, x, y, c);
        return true;
    }
    const int tx = x / tiles->width, ty = y / tiles->height;
    tiles->callBack(image, tx, ty, VEX_TILE_GET_READ);
    char* data = tiles->tileData;
    if (!data) return false;
    VexImage tile = ownTileHeader(image);
    tile.imageData = data;
    *value = ownGetPixel(&tile, x - tx * tiles->width, y - ty * tiles->height, c);
    tiles->tileData = data;
    tiles->callBack(image, tx, ty, VEX_TILE_RELEASE);
    return true;
}

int ownClassifyPoint(const VexImage* image, int x, int y) {
    int sides = 0;
    if (y < 0) sides |= VEX_SIDE_TOP;
    if (y >= image->height) sides |= VEX_SIDE_BOTTOM;
    if (x < 0) sides |= VEX_SIDE_LEFT;
    if (x >= image->width) sides |= VEX_SIDE_RIGHT;
    return sides;
}

// Modes above 3 are read by their low two bits, as rectangle gathering does,
// so every mode value maps inside the image.
int ownBorderCoord(int p, int size, int mode) {
    int64_t q = p;
    const int64_t n = size;
    switch (mode & 3) {
        case VEX_BORDER_REFLECT:
            // Reflection repeats with period 2n (the edge pixel repeated):
            // 0..n-1 read forwards, n..2n-1 read backwards.
            q %= 2 * n;
            if (q < 0) q += 2 * n;
            return static_cast<int>(q < n ? q : 2 * n - 1 - q);
        case VEX_BORDER_WRAP:
            q %= n;
            if (q < 0) q += n;
            return static_cast<int>(q);
        default:  // replicate (constant never maps)
            return q < 0 ? 0 : q >= n ? size - 1 : p;
    }
}

bool ownGetBorderPixel(const VexImage* image, int x, int y, int c, int* value) {
    const int sides = ownClassifyPoint(image, x, y);
    if (sides == 0) return ownGetTiledPixel(image, x, y, c, value);
    // The top or bottom side governs rows and corners; left or right the rest.
    int slot;
    if (sides & VEX_SIDE_TOP)
        slot = 0;
    else if (sides & VEX_SIDE_BOTTOM)
        slot = 1;
    else if (sides & VEX_SIDE_LEFT)
        slot = 2;
    else
        slot = 3;
    const int mode = image->borderMode[slot] & 3;
    if (mode == VEX_BORDER_CONSTANT) {
        *value = image->borderValue[slot];
        return true;
    }
    if (sides & (VEX_SIDE_TOP | VEX_SIDE_BOTTOM)) y = ownBorderCoord(y, image->height, mode);
    // At a corner the row side's mode maps the column as well.
    if (sides & (VEX_SIDE_LEFT | VEX_SIDE_RIGHT)) x = ownBorderCoord(x, image->width, mode);
    return ownGetTiledPixel(image, x, y, c, value);
}

namespace {

void ownStoreSample(void* dst, unsigned depth, int i, int value) {
    auto* out = static_cast<unsigned char*>(dst);
    switch (ownDepthBits(depth)) {
        case 1: {
            const unsigned char mask = static_cast<unsigned char>(0x80u >> (i & 7));
            if (value & 1)
                out[i >> 3] |= mask;
            else
                out[i >> 3] &= static_cast<unsigned char>(~mask);
            break;
        }
        case 8: out[i] = static_cast<unsigned char>(value); break;
        case 16: {
            const uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(out + 2 * i, &v, 2);
            break;
        }
        default: std::memcpy(out + 4 * i, &value, 4); break;
    }
}

bool ownGetBorderRun(const VexImage* image, int x, int y, int c, int n, void* dst, int dx,
                     int dy) {
    for (int i = 0; i < n; ++i) {
        int v;
        if (!ownGetBorderPixel(image, x + i * dx, y + i * dy, c, &v)) return false;
        ownStoreSample(dst, image->depth, i, v);
    }
    return true;
}

}  // namespace

bool ownGetBorderRow(const VexImage* image, int x, int y, int c, int n, void* dst) {
    return ownGetBorderRun(image, x, y, c, n, dst, 1, 0);
}

bool ownGetBorderColumn(const VexImage* image, int x, int y, int c, int n, void* dst) {
    return ownGetBorderRun(image, x, y, c, n, dst, 0, 1);
}

}  // namespace vex

extern "C" {

VEXAPI VexROI* vexCreateROI(int coi, int xOffset, int yOffset, int height, int width) {
    auto* roi = static_cast<VexROI*>(std::malloc(sizeof(VexROI)));
    vexSetROI(roi, coi, xOffset, yOffset, height, width);
    return roi;
}

VEXAPI void vexSetROI(VexROI* roi, int coi, int xOffset, int yOffset, int height, int width) {
    if (!roi) return;
    roi->coi = coi;
    roi->xOffset = xOffset;
    roi->yOffset = yOffset;
    roi->height = height;
    roi->width = width;
}

VEXAPI void vexDeleteROI(VexROI* roi) { std::free(roi); }

VEXAPI VexTileInfo* vexCreateTileInfo(VexTileCallBack* callBack, int id, int width, int height) {
    auto* info = static_cast<VexTileInfo*>(std::malloc(sizeof(VexTileInfo)));
    vexSetTileInfo(info, callBack, id, width, height);
    return info;
}

VEXAPI void vexSetTileInfo(VexTileInfo* tileInfo, VexTileCallBack* callBack, int id, int width,
                           int height) {
    if (!tileInfo) return;
    tileInfo->callBack = callBack;
    tileInfo->id = id;
    tileInfo->tileData = nullptr;
    tileInfo->width = width;
    tileInfo->height = height;
}

VEXAPI void vexDeleteTileInfo(VexTileInfo* tileInfo) { std::free(tileInfo); }

// A null image is ignored.
VEXAPI void vexSetBorderMode(VexImage* image, int mode, int sides, int value) {
    if (!image) return;
    for (int s = 0; s < 4; ++s) {
        if (!(sides & (1 << s))) continue;
        image->borderMode[s] = mode;
        image->borderValue[s] = value;
    }
}

}  // extern "C"
