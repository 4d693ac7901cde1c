// Region clipping and pairing, tile ranges and the tile walks.
#include "ownrect.h"

#include "ownmove.h"

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

namespace vex {

// ---------------------------------------------------------------------------
// Tile ranges and pieces.

// A ROI that runs past the image's right or bottom edge is cut there, for
// tiled images as for untiled ones, so a walk never asks for tiles beyond
// the image.
void ownClipRegion(const VexImage* image, int* x, int* y, int* cols, int* rows) {
    if (const VexROI* roi = image->roi) {
        *cols = ownClip(roi->xOffset, roi->width, image->width, x);
        *rows = ownClip(roi->yOffset, roi->height, image->height, y);
    } else {
        *x = *y = 0;
        *cols = image->width;
        *rows = image->height;
    }
}

namespace {

bool ownFillRange(const VexImage* image, int x0, int y0, int cols, int rows, OwnTileRange* t) {
    *t = OwnTileRange{};
    if (rows <= 0 || cols <= 0) return false;
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    t->rows = rows;
    t->cols = cols;
    t->x0 = x0;
    t->y0 = y0;
    t->tileW = tw;
    t->tileH = th;
    t->tx0 = x0 / tw;
    t->ty0 = y0 / th;
    t->offX = x0 - t->tx0 * tw;
    t->offY = y0 - t->ty0 * th;
    t->txCount = (x0 + cols - 1) / tw - t->tx0 + 1;
    t->tyCount = (y0 + rows - 1) / th - t->ty0 + 1;
    t->firstW = t->txCount == 1 ? cols : tw - t->offX;
    t->lastW = (t->offX + cols - 1) % tw + 1;
    t->firstH = t->tyCount == 1 ? rows : th - t->offY;
    t->lastH = (t->offY + rows - 1) % th + 1;
    return true;
}

}  // namespace

bool ownTileRange(const VexImage* image, OwnTileRange* t) {
    int x, y, cols, rows;
    ownClipRegion(image, &x, &y, &cols, &rows);
    return ownFillRange(image, x, y, cols, rows, t);
}

bool ownPairTileRange(const VexImage* other, const VexImage* tiled, OwnTileRange* t) {
    int x, y, cols, rows, ox, oy, ocols, orows;
    ownClipRegion(tiled, &x, &y, &cols, &rows);
    ownClipRegion(other, &ox, &oy, &ocols, &orows);
    return ownFillRange(tiled, x, y, std::min(cols, ocols), std::min(rows, orows), t);
}

OwnTilePiece ownTilePiece(const OwnTileRange& t, int j, int i) {
    OwnTilePiece p;
    p.tx = t.tx0 + j;
    p.ty = t.ty0 + i;
    p.x = j == 0 ? t.offX : 0;
    p.y = i == 0 ? t.offY : 0;
    p.w = j == 0 ? t.firstW : j == t.txCount - 1 ? t.lastW : t.tileW;
    p.h = i == 0 ? t.firstH : i == t.tyCount - 1 ? t.lastH : t.tileH;
    p.rx = j == 0 ? 0 : t.firstW + (j - 1) * t.tileW;
    p.ry = i == 0 ? 0 : t.firstH + (i - 1) * t.tileH;
    return p;
}

bool ownSelectTile(const OwnTileRange& t, const int* tile, int* j, int* i) {
    *j = tile[0] - t.tx0;
    *i = tile[1] - t.ty0;
    return *j >= 0 && *j < t.txCount && *i >= 0 && *i < t.tyCount;
}

const int* ownMappingTile(const VexImage* dst, const VexMapping* mapping, bool asPixel,
                          int tile[2]) {
    if (!mapping || !dst->tileInfo) return nullptr;
    if (asPixel) {
        // Floor division, so a pixel left of or above the image names no tile.
        auto tileOf = [](int p, int size) { return p >= 0 ? p / size : -1 - (-1 - p) / size; };
        tile[0] = tileOf(mapping->xDst, dst->tileInfo->width);
        tile[1] = tileOf(mapping->yDst, dst->tileInfo->height);
    } else {
        tile[0] = mapping->xDst;
        tile[1] = mapping->yDst;
    }
    return tile;
}

char* ownRequestTile(const OwnSite& site, const VexImage* image, int tx, int ty, int mode,
                     const char* errorText, int line) {
    VexTileInfo* info = image->tileInfo;
    info->tileData = nullptr;
    info->callBack(image, tx, ty, mode);
    char* data = info->tileData;
    if (!data) vexError(VEX_StsError, site.func, errorText, site.file, line);
    return data;
}

void ownReleaseTile(const VexImage* image, int tx, int ty, char* data) {
    image->tileInfo->tileData = data;
    image->tileInfo->callBack(image, tx, ty, VEX_TILE_RELEASE);
}

VexImage ownTileView(const VexImage* image, VexROI* local, char* data) {
    VexImage view = ownTileHeader(image);
    view.imageData = data;
    view.dataSize = static_cast<int>(ownDataSize(view.height, view.width, view.depth,
                                                 view.nChannels, view.dataOrder, view.align));
    view.roi = local;
    return view;
}

void ownWalkPairModes(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile,
                      OwnPairBody body, void* ctx, int srcMode, const char* srcError) {
    const bool srcTiled = src->tileInfo != nullptr, dstTiled = dst->tileInfo != nullptr;
    if (!srcTiled && !dstTiled) {
        body(src, dst, ctx);
        return;
    }
    OwnTileRange t;
    if (dstTiled) {
        // Walk the destination's tiles; the source is read directly or gathered.
        if (!ownPairTileRange(src, dst, &t)) return;
        int sx, sy, scols, srows;
        ownClipRegion(src, &sx, &sy, &scols, &srows);
        OwnRoiGuard guard(src);
        VexROI srcRoi{ownCoi(src), 0, 0, 0, 0};
        ownForTiles(t, tile, [&](int j, int i) {
            const OwnTilePiece p = ownTilePiece(t, j, i);
            return ownOnTile(site, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dst),
                             [&](VexImage& view) {
                if (!srcTiled) {
                    srcRoi = VexROI{srcRoi.coi, sx + p.rx, sy + p.ry, p.h, p.w};
                    src->roi = &srcRoi;
                    body(src, &view, ctx);
                    return vexGetErrStatus() >= 0;
                }
                int step = 0;
                char* rect = ownGetRect(site, src, sx + p.rx, sy + p.ry, p.w, p.h, &step);
                const bool gathered = rect && vexGetErrStatus() >= 0;
                if (gathered) {
                    VexImage copy = ownRectHeader(src, rect, p.w, p.h);
                    VexROI copyRoi{srcRoi.coi, 0, 0, p.h, p.w};
                    copy.roi = &copyRoi;
                    body(&copy, &view, ctx);
                }
                vexFree(rect);
                return gathered && vexGetErrStatus() >= 0;
            });
        });
        return;
    }
    // Tiled source, untiled destination: walk the source's tiles.
    if (!ownPairTileRange(dst, src, &t)) return;
    int dx, dy, dcols, drows;
    ownClipRegion(dst, &dx, &dy, &dcols, &drows);
    OwnRoiGuard guard(dst);
    VexROI dstRoi{ownCoi(dst), 0, 0, 0, 0};
    ownForTiles(t, nullptr, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        return ownOnTile(site, src, p, srcMode, srcError, ownCoi(src), [&](VexImage& view) {
            dstRoi = VexROI{dstRoi.coi, dx + p.rx, dy + p.ry, p.h, p.w};
            dst->roi = &dstRoi;
            body(&view, dst, ctx);
            return vexGetErrStatus() >= 0;
        });
    });
}

void ownWalkPair(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile,
                 OwnPairBody body, void* ctx) {
    ownWalkPairModes(site, src, dst, tile, body, ctx, VEX_TILE_GET_READ, kErrTileRead);
}

void ownWalkSingle(const OwnSite& site, VexImage* image, const int* tile, OwnSingleBody body,
                   void* ctx) {
    if (!image->tileInfo) {
        body(image, ctx);
        return;
    }
    OwnTileRange t;
    if (!ownTileRange(image, &t)) return;
    ownForTiles(t, tile, [&](int j, int i) {
        return ownOnTile(site, image, ownTilePiece(t, j, i), VEX_TILE_GET_WRITE, kErrTileWrite,
                         ownCoi(image), [&](VexImage& view) {
                             body(&view, ctx);
                             return true;
                         });
    });
}

}  // namespace vex

// ---------------------------------------------------------------------------
// Rectangle gathering.


namespace vex {

VexImage ownRectHeader(const VexImage* like, char* data, int width, int height) {
    VexImage h = *like;
    h.width = width;
    h.height = height;
    h.roi = nullptr;
    h.maskImage = nullptr;
    h.userData = nullptr;
    h.tileInfo = nullptr;
    h.imageData = data;
    h.dataBlock = nullptr;
    h.widthStep = static_cast<int>(ownRowStep(width, h.depth, h.nChannels, h.dataOrder, h.align));
    h.dataSize =
        static_cast<int>(ownDataSize(height, width, h.depth, h.nChannels, h.dataOrder, h.align));
    return h;
}

namespace {

// The all-channel region of `cols` x `rows` pixels at (x, y) of an untiled header.
OwnRegion ownRegionAt(const VexImage* image, int x, int y, int cols, int rows) {
    VexImage tmp = *image;
    VexROI roi{0, x, y, rows, cols};
    tmp.roi = &roi;
    OwnRegion r;
    ownGetRegion(&tmp, &r);
    return r;
}

// Allocates a buffer for a width x height rectangle in the image's layout.
char* ownAllocRect(const OwnSite& site, const VexImage* image, int width, int height, int line) {
    const int64_t size = ownDataSize(height, width, image->depth, image->nChannels,
                                     image->dataOrder, image->align);
    char* data = size <= INT32_MAX - 64 ? static_cast<char*>(vexMalloc(static_cast<int>(size)))
                                        : nullptr;
    if (!data) {
        vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, line);
        return nullptr;
    }
    if (image->depth == VEX_DEPTH_1U) std::memset(data, 0, static_cast<size_t>(size));
    return data;
}

// Reads the rectangle (bx, by, bw, bh), which lies inside a tiled image, into
// a new buffer, one tile row at a time: every tile of the row is requested
// left to right, the covered parts copied, and the tiles released in reverse
// order.
char* ownFetchTiled(const OwnSite& site, const VexImage* image, int bx, int by, int bw, int bh) {
    char* data = ownAllocRect(site, image, bw, bh, __LINE__);
    if (!data) return nullptr;
    const VexImage out = ownRectHeader(image, data, bw, bh);
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    const int tx0 = bx / tw, tx1 = (bx + bw - 1) / tw;
    const int ty0 = by / th, ty1 = (by + bh - 1) / th;
    char* stackTiles[64];
    char** tiles = tx1 - tx0 + 1 <= 64 ? stackTiles
                                       : static_cast<char**>(vexMalloc(int(sizeof(char*)) * (tx1 - tx0 + 1)));
    if (!tiles) {
        vexFree(data);
        vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
        return nullptr;
    }
    VexImage view = ownTileHeader(image);
    bool ok = true;
    for (int ty = ty0; ty <= ty1 && ok; ++ty) {
        int got = 0;
        for (int tx = tx0; tx <= tx1; ++tx, ++got) {
            tiles[got] = ownRequestTile(site, image, tx, ty, VEX_TILE_GET_READ, kErrTileRead,
                                        __LINE__);
            if (!tiles[got]) {
                ok = false;
                break;
            }
        }
        if (ok) {
            const int y0 = std::max(by, ty * th), y1 = std::min(by + bh, (ty + 1) * th);
            for (int k = 0; k < got; ++k) {
                const int tx = tx0 + k;
                const int x0 = std::max(bx, tx * tw), x1 = std::min(bx + bw, (tx + 1) * tw);
                view.imageData = tiles[k];
                const OwnRegion s = ownRegionAt(&view, x0 - tx * tw, y0 - ty * th, x1 - x0, y1 - y0);
                const OwnRegion d = ownRegionAt(&out, x0 - bx, y0 - by, x1 - x0, y1 - y0);
                ownCopyRegion(s, d, y1 - y0, x1 - x0, image->depth);
            }
        }
        for (int k = got - 1; k >= 0; --k) ownReleaseTile(image, tx0 + k, ty, tiles[k]);
    }
    if (tiles != stackTiles) vexFree(tiles);
    if (!ok) {
        vexFree(data);
        return nullptr;
    }
    return data;
}

struct OwnSpan {
    int lo = INT32_MAX, hi = INT32_MIN;
    void add(int v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    bool empty() const { return lo > hi; }
};

}  // namespace

char* ownGetRect(const OwnSite& site, const VexImage* image, int x, int y, int width, int height,
                 int* step) {
    if (width <= 0 || height <= 0) return nullptr;
    const int W = image->width, H = image->height;
    const int* mode = image->borderMode;
    const int* value = image->borderValue;

    // Which image pixels the rectangle refers to: rows, and the modes that
    // map its columns (the row side's for rows beyond the image, left/right
    // for rows inside).
    OwnSpan rows, cols;
    bool insideRows = false;
    int rowSideModes = 0;  // bit m set: some outside row maps columns with mode m
    for (int r = 0; r < height; ++r) {
        const int yy = y + r;
        if (yy >= 0 && yy < H) {
            rows.add(yy);
            insideRows = true;
            continue;
        }
        const int m = mode[yy < 0 ? 0 : 1] & 3;
        if (m == VEX_BORDER_CONSTANT) continue;
        rows.add(ownBorderCoord(yy, H, m));
        rowSideModes |= 1 << m;
    }
    for (int c = 0; c < width; ++c) {
        const int xx = x + c;
        if (xx >= 0 && xx < W) {
            if (!rows.empty()) cols.add(xx);
            continue;
        }
        if (insideRows) {
            const int m = mode[xx < 0 ? 2 : 3] & 3;
            if (m != VEX_BORDER_CONSTANT) cols.add(ownBorderCoord(xx, W, m));
        }
        for (int m = 1; m < 4; ++m)
            if (rowSideModes & (1 << m)) cols.add(ownBorderCoord(xx, W, m));
    }

    char* data = ownAllocRect(site, image, width, height, __LINE__);
    if (!data) return nullptr;
    const VexImage out = ownRectHeader(image, data, width, height);
    *step = out.widthStep;

    // The source: the image itself, or the needed part of a tiled image.
    VexImage src = *image;
    src.roi = nullptr;
    int bx = 0, by = 0;
    char* fetched = nullptr;
    if (image->tileInfo && !rows.empty() && !cols.empty()) {
        bx = cols.lo;
        by = rows.lo;
        fetched = ownFetchTiled(site, image, bx, by, cols.hi - cols.lo + 1, rows.hi - rows.lo + 1);
        if (!fetched) {
            vexFree(data);
            return nullptr;
        }
        src = ownRectHeader(image, fetched, cols.hi - cols.lo + 1, rows.hi - rows.lo + 1);
    }
    const unsigned depth = image->depth;
    auto copyPixels = [&](int sx, int sy, int ox, int oy, int n) {
        ownCopyRegion(ownRegionAt(&src, sx - bx, sy - by, n, 1), ownRegionAt(&out, ox, oy, n, 1), 1,
                      n, depth);
    };
    auto fillPixels = [&](int ox, int oy, int n, int v) {
        ownFillRegion(ownRegionAt(&out, ox, oy, n, 1), 1, n, depth, v);
    };

    const int inLo = std::max(x, 0), inHi = std::min(x + width, W);  // inside columns
    for (int r = 0; r < height; ++r) {
        const int yy = y + r;
        int sy = yy, leftMode, rightMode, leftValue, rightValue;
        if (yy < 0 || yy >= H) {
            const int side = yy < 0 ? 0 : 1;
            const int m = mode[side] & 3;
            if (m == VEX_BORDER_CONSTANT) {
                fillPixels(0, r, width, value[side]);
                continue;
            }
            sy = ownBorderCoord(yy, H, m);
            leftMode = rightMode = m;
            leftValue = rightValue = value[side];
        } else {
            leftMode = mode[2] & 3;
            rightMode = mode[3] & 3;
            leftValue = value[2];
            rightValue = value[3];
        }
        for (int xx = x; xx < std::min(x + width, 0); ++xx) {
            if (leftMode == VEX_BORDER_CONSTANT)
                fillPixels(xx - x, r, 1, leftValue);
            else
                copyPixels(ownBorderCoord(xx, W, leftMode), sy, xx - x, r, 1);
        }
        if (inHi > inLo) copyPixels(inLo, sy, inLo - x, r, inHi - inLo);
        for (int xx = std::max(x, W); xx < x + width; ++xx) {
            if (rightMode == VEX_BORDER_CONSTANT)
                fillPixels(xx - x, r, 1, rightValue);
            else
                copyPixels(ownBorderCoord(xx, W, rightMode), sy, xx - x, r, 1);
        }
    }
    vexFree(fetched);
    return data;
}

}  // namespace vex
