// The alpha family's shared frame: COI rules, channel descriptors, the
// working rectangle, the block tiling and its tile cache.
#include "alpha/ownalpha.h"

#include <algorithm>
#include <cstdio>

#include "image/ownmove.h"

namespace vex {

const char kErrTilingCallBack[] = "ERROR in Tiling callBack";

// ---------------------------------------------------------------- checks

bool ownFailNamed(const OwnSite& site, bool failed, const char* format, const char* name,
                  int line) {
    if (!failed) return false;
    char text[200];
    std::snprintf(text, sizeof text, format, name);
    return ownFail(site, true, text, line);
}

bool ownAlphaCoiOk(const OwnSite& site, const VexImage* src, const VexImage* dst,
                   const char* srcName, const char* dstName, int line) {
    char text[200];
    auto fail = [&](const char* format) {
        std::snprintf(text, sizeof text, format, srcName, dstName);
        ownFail(site, true, text, line);
        return false;
    };
    if (!dst->roi) {
        if (src->roi && src->roi->coi > 0) return fail("%1$s->roi->coi > 0 && %2$s->roi == 0");
        return true;
    }
    if (dst->roi->coi > 0) {
        if (!src->roi) return fail("%2$s->roi->coi > 0 && %1$s->roi == 0");
        if (src->roi->coi == 0) return fail("%2$s->roi->coi > 0 && %1$s->roi->coi == 0");
    }
    return true;
}

// ---------------------------------------------------------------- descriptors

OwnChannels ownChannelsAt(const VexImage* image, int x, int y) {
    OwnChannels c;
    const int64_t elem = ownElemSize(image->depth);
    c.rowStep = ownImageStep(image);
    c.nChannels = image->nChannels;
    c.plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    if (c.plane) {
        c.chanStep = c.rowStep * image->height;
        c.pixStep = 1;
        c.first = image->imageData + y * c.rowStep + x * elem;
    } else {
        c.chanStep = elem;
        c.pixStep = image->nChannels;
        c.first = image->imageData + y * c.rowStep + int64_t(x) * image->nChannels * elem;
    }
    return c;
}

// ---------------------------------------------------------------- tile cache

namespace {

int ownFloorDiv(int p, int size) { return p >= 0 ? p / size : -1 - (-1 - p) / size; }

// An untiled region of `view` at (x, y) of w x h, every channel.
OwnRegion ownAlphaRegion(const VexImage* view, int x, int y, int w, int h) {
    VexImage v = *view;
    VexROI roi{0, x, y, h, w};
    v.roi = &roi;
    OwnRegion r;
    ownGetRegion(&v, &r);
    return r;
}

}  // namespace

int OwnTileCache::add(VexImage* image, int mode) {
    for (int i = 0; i < count_; ++i)
        if (entries_[i].image == image) {
            entries_[i].mode = std::max(entries_[i].mode, mode);
            return i;
        }
    Entry& e = entries_[count_];
    e.image = image;
    e.mode = mode;
    e.roiX = image->roi ? image->roi->xOffset : 0;
    e.roiY = image->roi ? image->roi->yOffset : 0;
    return count_++;
}

void OwnTileCache::setBlock(int x, int y, int width, int height) {
    bx_ = x, by_ = y, bw_ = width, bh_ = height;
    for (int i = 0; i < count_; ++i) entries_[i].fetched = false;
}

const VexImage* OwnTileCache::get(int i, int* x, int* y) {
    Entry& e = entries_[i];
    if (!e.fetched) {
        e.fetched = true;
        if (!fetch(e)) {
            failed_ = true;
            e.viewX = -1;
        }
    }
    if (e.viewX < 0) return nullptr;
    *x = e.viewX;
    *y = e.viewY;
    return &e.view;
}

bool OwnTileCache::fetch(Entry& e) {
    const VexImage* image = e.image;
    const int px = e.roiX + bx_, py = e.roiY + by_;
    const int coi = image->roi ? image->roi->coi : 0;
    e.heldCount = 0;
    e.spanning = false;
    if (!image->tileInfo) {
        e.view = *image;
        e.roi = VexROI{coi, px, py, bh_, bw_};
        e.view.roi = &e.roi;
        e.viewX = px, e.viewY = py;
        return true;
    }
    VexTileInfo* info = image->tileInfo;
    const int tw = info->width, th = info->height;
    const int tx0 = ownFloorDiv(px, tw), ty0 = ownFloorDiv(py, th);
    const int tx1 = ownFloorDiv(px + bw_ - 1, tw), ty1 = ownFloorDiv(py + bh_ - 1, th);
    auto request = [&](int tx, int ty) -> char* {
        info->tileData = nullptr;
        info->callBack(image, tx, ty, e.mode);
        return info->tileData;
    };
    if (tx0 == tx1 && ty0 == ty1) {
        char* data = request(tx0, ty0);
        if (!data) return false;
        e.held[0] = Held{tx0, ty0, data};
        e.heldCount = 1;
        e.roi = VexROI{coi, px - tx0 * tw, py - ty0 * th, bh_, bw_};
        e.view = ownTileView(image, &e.roi, data);
        e.viewX = e.roi.xOffset, e.viewY = e.roi.yOffset;
        return true;
    }
    // Spanning: every covered tile is held while the block is worked on, its
    // covered part copied into a temporary of the reference tile size.
    const int64_t tiles = int64_t(tx1 - tx0 + 1) * (ty1 - ty0 + 1);
    if (tiles > e.heldCapacity) {
        e.held = e.heldBlock.alloc<Held>(tiles);
        e.heldCapacity = e.held ? static_cast<int>(tiles) : 0;
        if (!e.held) {
            e.held = &e.one;
            e.heldCapacity = 1;
            noMem_ = true;
            return false;
        }
    }
    if (!e.temp) {
        const int64_t size = ownDataSize(tileH_, tileW_, image->depth, image->nChannels,
                                         image->dataOrder, image->align);
        e.temp = e.tempBlock.alloc<char>(size);
        if (!e.temp) {
            noMem_ = true;
            return false;
        }
    }
    VexImage tempView = ownTileHeader(image);
    tempView.width = tileW_;
    tempView.height = tileH_;
    tempView.imageData = e.temp;
    tempView.widthStep = ownImageStep(&tempView);
    tempView.dataSize = static_cast<int>(ownDataSize(tileH_, tileW_, image->depth, image->nChannels,
                                                     image->dataOrder, image->align));
    e.view = tempView;
    e.roi = VexROI{coi, 0, 0, bh_, bw_};
    e.view.roi = &e.roi;
    e.viewX = e.viewY = 0;
    e.spanning = true;
    for (int ty = ty0; ty <= ty1; ++ty)
        for (int tx = tx0; tx <= tx1; ++tx) {
            char* data = request(tx, ty);
            if (!data) return false;
            e.held[e.heldCount++] = Held{tx, ty, data};
            copySpan(e, e.held[e.heldCount - 1], false);
        }
    return true;
}

void OwnTileCache::copySpan(Entry& e, const Held& h, bool toTile) {
    const VexImage* image = e.image;
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    const int px = e.roiX + bx_, py = e.roiY + by_;
    const int x0 = std::max(px, h.tx * tw), x1 = std::min(px + bw_, (h.tx + 1) * tw);
    const int y0 = std::max(py, h.ty * th), y1 = std::min(py + bh_, (h.ty + 1) * th);
    VexROI none{};
    const VexImage tile = ownTileView(image, &none, h.data);
    const OwnRegion t = ownAlphaRegion(&tile, x0 - h.tx * tw, y0 - h.ty * th, x1 - x0, y1 - y0);
    const OwnRegion m = ownAlphaRegion(&e.view, x0 - px, y0 - py, x1 - x0, y1 - y0);
    if (toTile)
        ownCopyRegion(m, t, y1 - y0, x1 - x0, image->depth);
    else
        ownCopyRegion(t, m, y1 - y0, x1 - x0, image->depth);
}

void OwnTileCache::releaseEntry(Entry& e) {
    for (int k = 0; k < e.heldCount; ++k) {
        const Held& h = e.held[k];
        if (e.spanning && e.mode == VEX_TILE_GET_WRITE && e.viewX >= 0) copySpan(e, h, true);
        ownReleaseTile(e.image, h.tx, h.ty, h.data);
    }
    e.heldCount = 0;
}

void OwnTileCache::release() {
    for (int i = 0; i < count_; ++i)
        if (entries_[i].fetched) releaseEntry(entries_[i]);
}

bool OwnTileCache::dismantle() {
    for (int i = 0; i < count_; ++i) {
        Entry& e = entries_[i];
        releaseEntry(e);
        e.held = &e.one;
        e.heldCapacity = 1;
        e.heldBlock.release();
        e.temp = nullptr;
        e.tempBlock.release();
    }
    count_ = 0;
    return !failed_;
}

// ---------------------------------------------------------------- the run

void ownAlphaRun(const OwnSite& site, VexImage* const* images, const int* modes, int count,
                 const VexMapping* mapping, OwnAlphaKernel kernel, const void* ctx) {
    // The working rectangle: the smallest ROI size, each cut to its image.
    int width = 99999, height = 99999;
    int ref = -1;
    for (int i = 0; i < count; ++i) {
        const VexImage* im = images[i];
        if (!im) continue;
        int w = im->width, h = im->height;
        if (im->roi) {
            w = std::min(im->roi->width, im->width - im->roi->xOffset);
            h = std::min(im->roi->height, im->height - im->roi->yOffset);
        }
        width = std::min(width, w);
        height = std::min(height, h);
        if (ref < 0 && im->tileInfo) ref = i;
    }
    if (width <= 0 || height <= 0) return;
    OwnAlphaBlock block{};
    if (ref < 0) {
        for (int i = 0; i < count; ++i) {
            const VexImage* im = images[i];
            block.view[i] = im;
            block.x[i] = im && im->roi ? im->roi->xOffset : 0;
            block.y[i] = im && im->roi ? im->roi->yOffset : 0;
        }
        block.width = width;
        block.height = height;
        kernel(block, ctx);
        return;
    }
    const VexImage* r = images[ref];
    const int tw = r->tileInfo->width, th = r->tileInfo->height;
    const int rx = r->roi ? r->roi->xOffset : 0, ry = r->roi ? r->roi->yOffset : 0;
    // Blocks in working-rectangle coordinates: [x0, x1) x [y0, y1) limits the
    // walk to one destination tile for a mapping.
    int x0 = 0, y0 = 0, x1 = width, y1 = height;
    if (mapping && images[0] && images[0]->tileInfo) {
        const int tx = ownFloorDiv(mapping->xDst, tw), ty = ownFloorDiv(mapping->yDst, th);
        x0 = std::max<int64_t>(0, int64_t(tx) * tw - rx);
        y0 = std::max<int64_t>(0, int64_t(ty) * th - ry);
        x1 = std::min<int64_t>(width, int64_t(tx + 1) * tw - rx);
        y1 = std::min<int64_t>(height, int64_t(ty + 1) * th - ry);
        if (x0 >= x1 || y0 >= y1) return;
    }
    OwnTileCache cache(tw, th);
    int entry[kAlphaMaxImages];
    for (int i = 0; i < count; ++i) entry[i] = images[i] ? cache.add(images[i], modes[i]) : -1;
    for (int by = y0; by < y1;) {
        const int bh = std::min(y1 - by, th - (ry + by) % th);
        for (int bx = x0; bx < x1;) {
            const int bw = std::min(x1 - bx, tw - (rx + bx) % tw);
            cache.setBlock(bx, by, bw, bh);
            bool ok = true;
            for (int i = 0; i < count && ok; ++i) {
                block.view[i] = nullptr;
                if (entry[i] < 0) continue;
                block.view[i] = cache.get(entry[i], &block.x[i], &block.y[i]);
                ok = block.view[i] != nullptr;
            }
            if (!ok) {
                const bool noMem = cache.outOfMemory();
                cache.dismantle();
                if (noMem)
                    vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
                else
                    vexError(VEX_StsError, site.func, kErrTilingCallBack, site.file, __LINE__);
                return;
            }
            block.width = bw;
            block.height = bh;
            kernel(block, ctx);
            cache.release();
            bx += bw;
        }
        by += bh;
    }
    if (!cache.dismantle())
        vexError(VEX_StsError, site.func, kErrTilingCallBack, site.file, __LINE__);
}

}  // namespace vex
