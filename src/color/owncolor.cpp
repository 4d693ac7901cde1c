// The colour operation frame: checks, channel location, the destination-tile
// iterator and the per-tile walk with gathered source rectangles.
#include "owncolor.h"

#include <algorithm>
#include <cstring>

#include "image/ownrect.h"

namespace vex {

const char kColorFile[] = "vexcolor";
const char kColorShared[] = "owncolor";

bool ownIsModel(const char text[4], const char* model) { return std::strncmp(text, model, 3) == 0; }

void ownLocate(const VexImage* like, OwnModel model, int index[3]) {
    static const char* const kLetters[] = {"RGB", "HSV", "HLS"};
    if (like->dataOrder != VEX_DATA_ORDER_PLANE) {
        index[0] = 0, index[1] = 1, index[2] = 2;
        if (model == kModelRGB && like->channelSeq[0] != 'R') index[0] = 2, index[2] = 0;
        return;
    }
    const char* letters = kLetters[model];
    const int n = std::min(like->nChannels, 4);
    for (int k = 0; k < 3; ++k) {
        index[k] = k;
        for (int p = 0; p < n; ++p)
            if (like->channelSeq[p] == letters[k]) {
                index[k] = p;
                break;
            }
    }
}

bool ownColorImagesOk(const OwnSite& site, const VexImage* src, const VexImage* dst) {
    if (!ownHeaderOk(site, src, __LINE__)) return false;
    if (!ownHeaderOk(site, dst, __LINE__)) return false;
    const OwnSite shared{site.func, kColorShared};
    for (const VexImage* image : {src, dst})
        if (!image->imageData && !image->tileInfo) {
            vexError(VEX_StsBadArg, shared.func, "null_data_pointer", shared.file, __LINE__);
            return false;
        }
    return true;
}

// A tiled destination is walked tile row by tile row, left to right. A tile
// the callback leaves null ends its tile row, and a null first tile of a row
// ends the image. The walk also never asks beyond the image's last tile
// column or row, so a callback that hands out any tile cannot make it run on.
bool ownNextDstTile(VexImage* dst, const VexMapping* mapping, OwnTileIter* it, OwnDstTile* t) {
    const int call = it->calls++;
    if (!dst->tileInfo) {
        if (call > 0) return false;
        t->col = t->row = t->x = t->y = 0;
        t->width = dst->width;
        t->height = dst->height;
        t->block = OwnColorBlock{dst->imageData, ownImageStep(dst),
                            int64_t(ownImageStep(dst)) * dst->height};
        t->tiled = false;
        return true;
    }
    VexTileInfo* info = dst->tileInfo;
    const int tw = info->width, th = info->height;
    const int tilesX = (dst->width + tw - 1) / tw, tilesY = (dst->height + th - 1) / th;
    auto ask = [&](int col, int row) {
        info->tileData = nullptr;
        info->callBack(dst, col, row, VEX_TILE_GET_WRITE);
        return info->tileData;
    };
    char* data = nullptr;
    if (mapping) {
        if (call > 0) return false;
        it->col = mapping->xDst;
        it->row = mapping->yDst;
        if (it->col < 0 || it->row < 0 || it->col >= tilesX || it->row >= tilesY) return false;
        data = ask(it->col, it->row);
        if (!data) return false;
    } else {
        if (it->col < 0 || it->row < 0) {
            it->col = it->row = 0;
        } else if (++it->col >= tilesX) {
            it->col = 0;
            ++it->row;
        }
        if (it->row >= tilesY) return false;
        data = ask(it->col, it->row);
        if (!data) {
            if (it->col == 0) return false;
            it->col = 0;
            if (++it->row >= tilesY) return false;
            data = ask(it->col, it->row);
            if (!data) return false;
        }
    }
    t->col = it->col;
    t->row = it->row;
    t->x = it->col * tw;
    t->y = it->row * th;
    t->width = tw;
    t->height = th;
    const int64_t step = ownRowStep(tw, dst->depth, dst->nChannels, dst->dataOrder, dst->align);
    t->block = OwnColorBlock{data, step, step * th};
    t->tiled = true;
    return true;
}

namespace {

// The source rectangle (x, y, width, height): a view into an untiled source
// when it lies inside, else a gathered copy (*owned set).
bool ownSourceBlock(const OwnSite& site, const VexImage* src, int x, int y, int width,
                    int height, OwnColorBlock* b, char** owned) {
    *owned = nullptr;
    const int64_t step = ownImageStep(src);
    if (!src->tileInfo && x >= 0 && y >= 0 && int64_t(x) + width <= src->width &&
        int64_t(y) + height <= src->height) {
        const int64_t bits = int64_t(x) * ownDepthBits(src->depth) *
                             (src->dataOrder == VEX_DATA_ORDER_PLANE ? 1 : src->nChannels);
        *b = OwnColorBlock{src->imageData + step * y + bits / 8, step, step * src->height};
        if (bits % 8 == 0) return true;  // 1U rectangles start on a byte here
    }
    int rstep = 0;
    char* rect = ownGetRect(site, src, x, y, width, height, &rstep);
    if (!rect) return false;
    *owned = rect;
    *b = OwnColorBlock{rect, rstep, int64_t(rstep) * height};
    return true;
}

}  // namespace

void ownColorWalk(const OwnSite& site, VexImage* src, VexImage* dst, const VexMapping* mapping,
                  bool direct, OwnColorBody body, void* ctx) {
    if (direct && !src->tileInfo && !dst->tileInfo) {
        const int rows = std::min(src->height, dst->height);
        const int cols = std::min(src->width, dst->width);
        if (rows <= 0 || cols <= 0) return;
        const int64_t ss = ownImageStep(src), ds = ownImageStep(dst);
        body(src, OwnColorBlock{src->imageData, ss, ss * src->height}, dst,
             OwnColorBlock{dst->imageData, ds, ds * dst->height}, rows, cols, ctx);
        return;
    }
    const OwnSite shared{site.func, kColorShared};
    if (!dst->tileInfo) mapping = nullptr;
    OwnTileIter it;
    OwnDstTile t;
    while (ownNextDstTile(dst, mapping, &it, &t)) {
        OwnColorBlock s;
        char* owned = nullptr;
        bool ok = t.width > 0 && t.height > 0;
        if (ok) ok = ownSourceBlock(shared, src, t.x, t.y, t.width, t.height, &s, &owned);
        if (ok) ok = body(src, s, dst, t.block, t.height, t.width, ctx);
        vexFree(owned);
        if (t.tiled) ownReleaseTile(dst, t.col, t.row, t.block.data);
        if (!ok) return;
    }
}

}  // namespace vex
