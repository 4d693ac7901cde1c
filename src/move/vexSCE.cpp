// Copy, set and exchange of regions.
#include <algorithm>

#include "image/ownmove.h"

namespace vex {
namespace {

const OwnSite kCopy{"vexCopy", "vexSCE"};
const OwnSite kSet{"vexSet", "vexSCE"};
const OwnSite kExchange{"vexExchange", "vexSCE"};

// Pairs the regions of two untiled images. A channel-count mismatch or an
// empty common region means there is nothing to do (and nothing to report).
bool ownPairRegions(const VexImage* a, const VexImage* b, OwnRegion* ra, OwnRegion* rb, int* rows,
                    int* cols) {
    ownGetRegion(a, ra);
    ownGetRegion(b, rb);
    if (ra->channels != rb->channels) return false;
    *rows = std::min(ra->rows, rb->rows);
    *cols = std::min(ra->cols, rb->cols);
    return *rows > 0 && *cols > 0;
}

// ctx: what the whole call writes into a tiled destination (int64_t), or
// null (see ownCopyRegion).
void ownCopyBody(VexImage* src, VexImage* dst, void* ctx) {
    OwnRegion rs, rd;
    int rows, cols;
    if (ownPairRegions(src, dst, &rs, &rd, &rows, &cols))
        ownCopyRegion(rs, rd, rows, cols, dst->depth, ctx ? *static_cast<int64_t*>(ctx) : 0);
}

void ownSwapBody(VexImage* a, VexImage* b, void*) {
    OwnRegion ra, rb;
    int rows, cols;
    if (ownPairRegions(a, b, &ra, &rb, &rows, &cols)) ownSwapRegion(ra, rb, rows, cols, a->depth);
}

void ownFillBody(VexImage* image, void* ctx) {
    OwnRegion r;
    ownGetRegion(image, &r);
    ownFillRegion(r, r.rows, r.cols, image->depth, *static_cast<int*>(ctx));
}

// The part of A that pairs with a piece of B lies in one tile of A: that
// tile is read and handed back, as the gathered path reads it, then got for
// writing and swapped with B's piece in one pass (its buffer holds A's
// current pixels, so the result is the gathered path's). A tile not
// delivered for writing is reported as the copy into A reports it.
bool ownSwapWithinTile(VexImage* imageA, int x, int y, VexImage* viewB, const OwnTilePiece& p) {
    const int tx = x / imageA->tileInfo->width, ty = y / imageA->tileInfo->height;
    char* data = ownRequestTile(kExchange, imageA, tx, ty, VEX_TILE_GET_READ, kErrTileRead, __LINE__);
    if (!data) return false;
    ownReleaseTile(imageA, tx, ty, data);
    data = ownRequestTile(kCopy, imageA, tx, ty, VEX_TILE_GET_WRITE, kErrTileWrite, __LINE__);
    if (!data) return !OWN_TRAIL(kExchange);
    VexROI local{ownCoi(imageA), x - tx * imageA->tileInfo->width,
                 y - ty * imageA->tileInfo->height, p.h, p.w};
    VexImage viewA = ownTileView(imageA, &local, data);
    ownSwapBody(&viewA, viewB, nullptr);
    ownReleaseTile(imageA, tx, ty, data);
    return true;
}

// Both images tiled: each tile of B is got for writing, the matching part
// of A gathered, B's tile copied into A, the gathered part into B's tile;
// or, where that part lies in one tile of A, the two swapped tile to tile.
void ownExchangeTiled(VexImage* imageA, VexImage* imageB, const int* tile) {
    OwnTileRange t;
    if (!ownPairTileRange(imageA, imageB, &t)) return;
    int ax, ay, acols, arows;
    ownClipRegion(imageA, &ax, &ay, &acols, &arows);
    const int tw = imageA->tileInfo->width, th = imageA->tileInfo->height;
    // A's rectangles are gathered into one scratch buffer, made for the
    // largest piece and reused for every tile.
    char* scratch = nullptr;
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        return ownOnTile(kExchange, imageB, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(imageB),
                         [&](VexImage& viewB) {
            const int x = ax + p.rx, y = ay + p.ry;
            if (x / tw == (x + p.w - 1) / tw && y / th == (y + p.h - 1) / th)
                return ownSwapWithinTile(imageA, x, y, &viewB, p);
            if (!scratch) {
                scratch = ownAllocRect(kExchange, imageA, std::min(t.tileW, t.cols),
                                       std::min(t.tileH, t.rows), __LINE__);
                if (!scratch) return false;
            }
            const int64_t step = ownRowStep(p.w, imageA->depth, imageA->nChannels,
                                            imageA->dataOrder, imageA->align);
            if (!ownGatherRect(kExchange, imageA, ax + p.rx, ay + p.ry, p.w, p.h, scratch, 0,
                               step, step * p.h) ||
                vexGetErrStatus() < 0)
                return false;
            VexImage gathered = ownRectHeader(imageA, scratch, p.w, p.h);
            VexROI gatheredRoi{ownCoi(imageA), 0, 0, p.h, p.w};
            gathered.roi = &gatheredRoi;
            {
                OwnRoiGuard guard(imageA);
                VexROI localA{ownCoi(imageA), ax + p.rx, ay + p.ry, p.h, p.w};
                imageA->roi = &localA;
                vexCopy(&viewB, imageA, nullptr);
            }
            if (vexGetErrStatus() >= 0) vexCopy(&gathered, &viewB, nullptr);
            return !OWN_TRAIL(kExchange);  // a failed copy reported itself
        });
    });
    vexFree(scratch);
}

// The depth's range for a fill value.
int ownLimitFill(unsigned depth, int value) {
    if (depth == VEX_DEPTH_32S) return value;
    return static_cast<int>(std::clamp<int64_t>(value, ownDepthMin(depth), ownDepthMax(depth)));
}

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" {

VEXAPI void vexCopy(VexImage* srcImage, VexImage* dstImage, const int* tile) {
    OWN_CHECK_HEADER(kCopy, srcImage);
    OWN_CHECK_HEADER(kCopy, dstImage);
    ownCheckCompatible(kCopy, srcImage, dstImage, "srcImage", "dstImage", __LINE__);
    if (vexGetErrStatus() < 0) return;
    // Both tiled and every channel moved: tile to tile, without a gathered copy.
    if (srcImage->tileInfo && dstImage->tileInfo && !ownCoi(srcImage) && !ownCoi(dstImage) &&
        srcImage->nChannels == dstImage->nChannels) {
        ownWalkGatherInto(kCopy, srcImage, dstImage, tile);
        return;
    }
    int64_t callBytes = 0;
    if (dstImage->tileInfo) {
        OwnRegion g;
        ownGetRegion(dstImage, &g);
        callBytes = int64_t(g.rows) * g.cols * g.channels * ownElemSize(dstImage->depth);
    }
    ownWalkPair(kCopy, srcImage, dstImage, tile, ownCopyBody, callBytes ? &callBytes : nullptr);
}

VEXAPI void vexSet(VexImage* image, int fillValue, const int* tile) {
    OWN_CHECK_HEADER(kSet, image);
    int value = ownLimitFill(image->depth, fillValue);
    ownWalkSingle(kSet, image, tile, ownFillBody, &value);
}

VEXAPI void vexExchange(VexImage* imageA, VexImage* imageB, const int* tile) {
    OWN_CHECK_HEADER(kExchange, imageA);
    OWN_CHECK_HEADER(kExchange, imageB);
    ownCheckCompatible(kExchange, imageA, imageB, "srcImage", "dstImage", __LINE__);
    if (vexGetErrStatus() < 0) return;
    if (imageA->tileInfo && imageB->tileInfo) {
        ownExchangeTiled(imageA, imageB, tile);
        return;
    }
    // With one image tiled, that image's tiles are got for writing: both
    // images are written.
    ownWalkPairModes(kExchange, imageA, imageB, tile, ownSwapBody, nullptr, VEX_TILE_GET_WRITE,
                     kErrTileRead);
}

}  // extern "C"
