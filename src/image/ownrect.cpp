// Region clipping and pairing, tile ranges and the tile walks.
#include "ownrect.h"

#include <algorithm>
#include <cstring>

namespace vex {

const char kErrTileRead[] = "Error get tile to read";
const char kErrTileWrite[] = "Error get tile to write";

namespace {

// Clips [pos, pos + len) to [0, size); returns the clipped length.
int ownClip(int64_t pos, int64_t len, int size, int* start) {
    if (pos >= size || pos + len <= 0 || len <= 0) {
        *start = static_cast<int>(std::clamp<int64_t>(pos, 0, size));
        return 0;
    }
    if (pos < 0) {
        len += pos;
        pos = 0;
    }
    if (pos + len > size) len = size - pos;
    *start = static_cast<int>(pos);
    return static_cast<int>(len);
}

}  // namespace

void ownGetRegion(const VexImage* image, OwnRegion* r) {
    const VexROI* roi = image->roi;
    r->nChannels = image->nChannels;
    r->coi = roi ? roi->coi : 0;
    r->channels = r->coi > 0 ? 1 : image->nChannels;
    r->plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    r->step = ownImageStep(image);
    r->planeSize = r->step * image->height;
    if (roi) {
        r->cols = ownClip(roi->xOffset, roi->width, image->width, &r->x);
        r->rows = ownClip(roi->yOffset, roi->height, image->height, &r->y);
    } else {
        r->x = r->y = 0;
        r->cols = image->width;
        r->rows = image->height;
    }
    const int c0 = r->coi > 0 ? r->coi - 1 : 0;
    char* row = image->imageData ? image->imageData + r->step * r->y : nullptr;
    int64_t index = r->x;
    if (r->plane) {
        if (row) row += r->planeSize * c0;
    } else {
        index = int64_t(r->x) * image->nChannels + c0;
    }
    if (image->depth == VEX_DEPTH_1U) {
        r->bitOffset = static_cast<int>(index & 7);
        r->first = row ? row + (index >> 3) : nullptr;
    } else {
        r->bitOffset = 0;
        r->first = row ? row + index * ownElemSize(image->depth) : nullptr;
    }
}

bool ownRegionOffset(const VexImage* image, OwnRegionOffset* r) {
    if (image->roi && image->roi->coi > image->nChannels) return false;
    OwnRegion g;
    ownGetRegion(image, &g);
    if (g.rows <= 0 || g.cols <= 0) return false;
    const int esize = ownElemSize(image->depth);
    const int c0 = g.coi > 0 ? g.coi - 1 : 0;
    int64_t offset = g.step * g.y;
    int64_t index = g.x;
    if (g.plane)
        offset += g.planeSize * c0;
    else
        index = int64_t(g.x) * g.nChannels + c0;
    if (image->depth == VEX_DEPTH_1U) {
        r->offset = offset + (index >> 3);
        r->bitOffset = static_cast<int>(index & 7);
        r->rowBytes = (g.cols + r->bitOffset + 7) / 8;
    } else {
        r->offset = offset + index * esize;
        r->bitOffset = 0;
        r->rowBytes = int64_t(g.cols) * esize * (g.plane ? 1 : g.nChannels);
    }
    r->rows = g.rows;
    r->cols = g.cols;
    r->channels = g.channels;
    return true;
}

namespace {

bool ownCoversWhole(const VexImage* image) {
    const VexROI* roi = image->roi;
    if (!roi) return true;
    return roi->xOffset == 0 && roi->yOffset == 0 && roi->width >= image->width &&
           roi->height >= image->height &&
           (roi->coi == 0 || (roi->coi == 1 && image->nChannels == 1));
}

}  // namespace

bool ownSameLayout(const VexImage* a, const VexImage* b) {
    return a->height == b->height && a->width == b->width && a->dataSize == b->dataSize &&
           ownCoversWhole(a) && ownCoversWhole(b);
}

}  // namespace vex
