// Shared machinery of the geometric transforms: pixel views, gathering of
// source rectangles with the caller's failure texts, tile requests.
#include "geom/owngeom.h"

#include <algorithm>
#include <cstring>

namespace vex {

OwnPix ownPixAt(const VexImage* image, int coi, int ox, int oy, int x0, int y0, OwnRegion* r) {
    VexImage h = *image;
    VexROI local{coi, ox, oy, image->height - oy, image->width - ox};
    h.roi = &local;
    ownGetRegion(&h, r);
    return OwnPix{r->first, r->bitOffset, r->step, r->planeSize, r->plane ? 1 : r->nChannels, x0, y0,
                  image->width - ox};
}

namespace {

// Copies cols x rows pixels at (sx, sy) of the untiled header `from` to
// (bx, by) of the gathered buffer `to` (same layout), all channels.
void ownCopyPart(const VexImage* from, int sx, int sy, const VexImage* to, int bx, int by,
                 int cols, int rows) {
    const int64_t fs = ownImageStep(from), ts = ownImageStep(to);
    const bool plane = from->dataOrder == VEX_DATA_ORDER_PLANE;
    const int planes = plane ? from->nChannels : 1;
    const int perPixel = plane ? 1 : from->nChannels;
    for (int k = 0; k < planes; ++k) {
        const char* f = from->imageData + fs * from->height * k + fs * sy;
        char* t = to->imageData + ts * to->height * k + ts * by;
        for (int i = 0; i < rows; ++i, f += fs, t += ts) {
            if (from->depth == VEX_DEPTH_1U) {
                ownCopyBits(reinterpret_cast<const unsigned char*>(f), sx,
                            reinterpret_cast<unsigned char*>(t), bx, cols);
                continue;
            }
            const int64_t px = int64_t(perPixel) * ownElemSize(from->depth);
            std::memcpy(t + px * bx, f + px * sx, size_t(px * cols));
        }
    }
}

}  // namespace

void ownGeoNoMem(const OwnSite& site, int line) {
    vexError(VEX_StsNoMem, site.func, "Allocation failure", site.file, line);
}

char* ownGeoRequest(const OwnSite& site, const VexImage* image, int tx, int ty, int status,
                    const char* text) {
    VexTileInfo* info = image->tileInfo;
    info->tileData = nullptr;
    info->callBack(image, tx, ty, VEX_TILE_GET_WRITE);
    char* data = info->tileData;
    if (!data) vexError(status, site.func, text, site.file, __LINE__);
    return data;
}

char* ownGeoGather(const OwnSite& site, const VexImage* image, int x, int y, int w, int h,
                   int status, const char* text) {
    const int64_t bytes = ownDataSize(h, w, image->depth, image->nChannels, image->dataOrder,
                                      image->align);
    if (bytes <= 0 || bytes > INT32_MAX) {
        ownGeoNoMem(site, __LINE__);
        return nullptr;
    }
    char* buf = static_cast<char*>(vexMalloc(static_cast<int>(bytes)));
    if (!buf) {
        ownGeoNoMem(site, __LINE__);
        return nullptr;
    }
    if (image->depth == VEX_DEPTH_1U) std::memset(buf, 0, size_t(bytes));
    const VexImage to = ownRectHeader(image, buf, w, h);
    if (!image->tileInfo) {
        ownCopyPart(image, x, y, &to, 0, 0, w, h);
        return buf;
    }
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    for (int ty = y / th; ty <= (y + h - 1) / th; ++ty) {
        const int r0 = std::max(y, ty * th), r1 = std::min(y + h, (ty + 1) * th);
        for (int tx = x / tw; tx <= (x + w - 1) / tw; ++tx) {
            const int c0 = std::max(x, tx * tw), c1 = std::min(x + w, (tx + 1) * tw);
            VexTileInfo* info = image->tileInfo;
            info->tileData = nullptr;
            info->callBack(image, tx, ty, VEX_TILE_GET_READ);
            char* data = info->tileData;
            if (!data) {
                vexError(status, site.func, text, site.file, __LINE__);
                vexFree(buf);
                return nullptr;
            }
            VexImage tileH = ownTileHeader(image);
            tileH.imageData = data;
            ownCopyPart(&tileH, c0 - tx * tw, r0 - ty * th, &to, c0 - x, r0 - y, c1 - c0, r1 - r0);
            ownReleaseTile(image, tx, ty, data);
        }
    }
    return buf;
}

}  // namespace vex
