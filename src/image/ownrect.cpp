// Region clipping and pairing, tile ranges and the tile walks.
#include "ownrect.h"

#include "frame/ownframe.h"
#include "ownmove.h"
#include "ownstream.h"

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

bool ownGetTileRow(const OwnSite& site, const VexImage* image, int tx0, int tx1, int ty, char** tiles,
                   const unsigned char* need, int mode) {
    const char* error = mode == VEX_TILE_GET_WRITE ? kErrTileWrite : kErrTileRead;
    for (int tx = tx0; tx <= tx1; ++tx) {
        char*& tile = tiles[tx - tx0];
        tile = nullptr;
        if (need && !need[tx - tx0]) continue;
        tile = ownRequestTile(site, image, tx, ty, mode, error, __LINE__);
        if (!tile) {
            ownReleaseTileRow(image, tx0, tx - 1, ty, tiles);
            return false;
        }
    }
    return true;
}

void ownReleaseTileRow(const VexImage* image, int tx0, int tx1, int ty, char** tiles) {
    for (int tx = tx1; tx >= tx0; --tx)
        if (tiles[tx - tx0]) ownReleaseTile(image, tx, ty, tiles[tx - tx0]);
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
        char* scratch = nullptr;
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
                // The source rectangle is gathered into one scratch buffer,
                // allocated for the largest piece and reused for every tile.
                if (!scratch) {
                    scratch = ownAllocRect(site, src, std::min(t.tileW, t.cols),
                                           std::min(t.tileH, t.rows), __LINE__);
                    if (!scratch) return false;
                }
                const int64_t step = ownRowStep(p.w, src->depth, src->nChannels,
                                                src->dataOrder, src->align);
                const bool gathered = ownGatherRect(site, src, sx + p.rx, sy + p.ry, p.w, p.h,
                                                    scratch, 0, step, step * p.h) &&
                                      vexGetErrStatus() >= 0;
                if (gathered) {
                    VexImage copy = ownRectHeader(src, scratch, p.w, p.h);
                    VexROI copyRoi{srcRoi.coi, 0, 0, p.h, p.w};
                    copy.roi = &copyRoi;
                    body(&copy, &view, ctx);
                }
                return gathered && vexGetErrStatus() >= 0;
            });
        });
        vexFree(scratch);
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
//
// The rectangle is copied straight out of the image (or out of its tiles)
// into the receiving buffer. Its columns are described once as runs (a
// constant, a forward or backward stretch of image columns, or one column
// repeated), one description per column rule: the rows inside the image use
// the left and right sides' modes, the rows above and below use the top or
// bottom side's mode for their columns too. Each row then takes its runs in
// a few block moves, split only where a run crosses a tile edge.

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

// Allocates a buffer for a width x height rectangle in the image's layout
// (cleared for 1U); reports VEX_StsNoMem and returns null when it cannot.
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

namespace {

struct OwnSpan {
    int lo = INT32_MAX, hi = INT32_MIN;
    void add(int v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    bool empty() const { return lo > hi; }
};

enum OwnRunKind { kRunConst, kRunForward, kRunBackward, kRunRepeat };

// Rectangle columns [out, out + n) and where they come from.
struct OwnColRun {
    int out, n;
    int kind;
    int src;    // image column of the run's first pixel (not for constants)
    int value;  // constants
};

// The columns of a rectangle as runs, for one column rule.
struct OwnColRuns {
    OwnColRun* runs = nullptr;
    int count = 0;

    void pushPixel(int out, bool constant, int src, int value) {
        if (count > 0) {
            OwnColRun& r = runs[count - 1];
            if (constant) {
                if (r.kind == kRunConst && r.value == value) {
                    ++r.n;
                    return;
                }
            } else if (r.kind != kRunConst) {
                const int last = r.kind == kRunForward    ? r.src + r.n - 1
                                 : r.kind == kRunBackward ? r.src - (r.n - 1)
                                                          : r.src;
                int kind = -1;
                if (r.n == 1)
                    kind = src == last + 1 ? kRunForward
                           : src == last - 1 ? kRunBackward
                           : src == last   ? kRunRepeat
                                           : -1;
                else if ((r.kind == kRunForward && src == last + 1) ||
                         (r.kind == kRunBackward && src == last - 1) ||
                         (r.kind == kRunRepeat && src == last))
                    kind = r.kind;
                if (kind >= 0) {
                    r.kind = kind;
                    ++r.n;
                    return;
                }
            }
        }
        runs[count++] = OwnColRun{out, 1, constant ? kRunConst : kRunForward, src, value};
    }

    // Image columns [a, b) beyond one edge, at rectangle column a - x: a
    // constant or a repeated edge column is one run, the others pixel by pixel.
    void pushSide(int x, int64_t a, int64_t b, int W, int mode, int value) {
        if (b <= a) return;
        const int out = static_cast<int>(a - x), n = static_cast<int>(b - a);
        if (mode == VEX_BORDER_CONSTANT) {
            runs[count++] = OwnColRun{out, n, kRunConst, 0, value};
        } else if (mode == VEX_BORDER_REPLICATE) {
            runs[count++] = OwnColRun{out, n, kRunRepeat, a < 0 ? 0 : W - 1, 0};
        } else {
            for (int64_t xx = a; xx < b; ++xx) {
                const int c = static_cast<int>(xx);
                pushPixel(c - x, false, ownBorderCoord(c, W, mode), 0);
            }
        }
    }

    // Columns x .. x + width - 1 of an image `W` wide; beyond the left edge
    // by (leftMode, leftValue), beyond the right edge by the right pair.
    void build(int x, int width, int W, int leftMode, int leftValue, int rightMode,
               int rightValue) {
        count = 0;
        const int64_t end = int64_t(x) + width;
        const int inLo = std::max(x, 0), inHi = static_cast<int>(std::min<int64_t>(end, W));
        pushSide(x, x, std::min<int64_t>(end, 0), W, leftMode, leftValue);
        if (inHi > inLo) runs[count++] = OwnColRun{inLo - x, inHi - inLo, kRunForward, inLo, 0};
        pushSide(x, std::max(x, W), end, W, rightMode, rightValue);
    }
};

// Pixel layout of one lane row: bytes per pixel (bits for 1U), lanes.
struct OwnPixelShape {
    bool bits;
    int pixel;  // bytes per pixel in a lane (1U: bits)
    int esize;
    int lanes;
};

OwnPixelShape ownPixelShape(const VexImage* image) {
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    OwnPixelShape s;
    s.bits = image->depth == VEX_DEPTH_1U;
    s.esize = ownElemSize(image->depth);
    s.pixel = (plane ? 1 : image->nChannels) * (s.bits ? 1 : s.esize);
    s.lanes = plane ? image->nChannels : 1;
    return s;
}

// Where the source rows come from: the buffers of a row of tiles (from tile
// column tx0), or the untiled image as one tile as wide as the image.
struct OwnRectSource {
    char* const* tiles;
    int tx0;
    int tw;
    int64_t step, plane;
    int64_t rowOff;  // bytes from a tile's start to the current row
};

// Fills n pixels of a lane row with the constant `value` (the depth's
// rule: the low byte, the low 16 bits, the value, or bit 0 for 1U).
void ownFillPixels(char* row, int bit, int n, const OwnPixelShape& s, int value) {
    if (s.bits) {
        ownFillBits(reinterpret_cast<unsigned char*>(row), bit, int64_t(n) * s.pixel, value & 1);
        return;
    }
    const int64_t count = int64_t(n) * (s.pixel / s.esize);
    switch (s.esize) {
        case 1: std::memset(row, value & 0xFF, size_t(count)); break;
        case 2: {
            uint16_t* d = reinterpret_cast<uint16_t*>(row);
            for (int64_t i = 0; i < count; ++i) d[i] = uint16_t(value);
            break;
        }
        default: {
            uint32_t* d = reinterpret_cast<uint32_t*>(row);
            for (int64_t i = 0; i < count; ++i) d[i] = uint32_t(value);
            break;
        }
    }
}

inline int ownGetBit(const char* row, int64_t p) {
    return (static_cast<unsigned char>(row[p >> 3]) >> (7 - (p & 7))) & 1;
}
inline void ownPutBit(char* row, int64_t p, int bit) {
    unsigned char& b = reinterpret_cast<unsigned char&>(row[p >> 3]);
    const unsigned char mask = static_cast<unsigned char>(0x80u >> (p & 7));
    b = static_cast<unsigned char>(bit ? (b | mask) : (b & ~mask));
}

// One rectangle row of lane `lane`: every run, from the current source row.
// `out` is the lane row's start, `outBit` its first bit (1U).
void ownRunRow(const OwnColRuns& map, const OwnRectSource& src, int lane, char* out, int outBit,
               const OwnPixelShape& s) {
    const int pb = s.pixel;
    auto at = [&](int sx, int* tileCol) {  // tile row buffer of column sx
        const int t = sx < src.tw ? 0 : sx / src.tw;
        *tileCol = sx - t * src.tw;
        return src.tiles[t - src.tx0] + src.rowOff + src.plane * lane;
    };
    for (int k = 0; k < map.count; ++k) {
        const OwnColRun& r = map.runs[k];
        if (r.kind == kRunConst) {
            if (s.bits)
                ownFillPixels(out, outBit + r.out * pb, r.n, s, r.value);
            else
                ownFillPixels(out + int64_t(r.out) * pb, 0, r.n, s, r.value);
            continue;
        }
        int o = r.out, sx = r.src, left = r.n;
        while (left > 0) {
            int lx;
            const char* row = at(sx, &lx);
            if (r.kind == kRunForward) {
                const int n = std::min(left, src.tw - lx);
                if (s.bits)
                    ownCopyBits(reinterpret_cast<const unsigned char*>(row), lx * pb,
                                reinterpret_cast<unsigned char*>(out), outBit + o * pb,
                                int64_t(n) * pb);
                else if (n * pb <= 16)  // a side strip's few bytes
                    for (int i = 0; i < n * pb; ++i) out[int64_t(o) * pb + i] = row[int64_t(lx) * pb + i];
                else
                    std::memcpy(out + int64_t(o) * pb, row + int64_t(lx) * pb, size_t(n) * pb);
                o += n, sx += n, left -= n;
            } else if (r.kind == kRunBackward) {
                const int n = std::min(left, lx + 1);
                for (int i = 0; i < n; ++i) {
                    if (s.bits) {
                        for (int b = 0; b < pb; ++b)
                            ownPutBit(out, outBit + int64_t(o + i) * pb + b,
                                      ownGetBit(row, int64_t(lx - i) * pb + b));
                    } else {
                        std::memcpy(out + int64_t(o + i) * pb, row + int64_t(lx - i) * pb, size_t(pb));
                    }
                }
                o += n, sx -= n, left -= n;
            } else {  // one column repeated
                for (int i = 0; i < left; ++i) {
                    if (s.bits) {
                        for (int b = 0; b < pb; ++b)
                            ownPutBit(out, outBit + int64_t(o + i) * pb + b,
                                      ownGetBit(row, int64_t(lx) * pb + b));
                    } else if (pb == 1) {
                        if (left <= 16)
                            for (int j = 0; j < left; ++j) out[o + j] = row[lx];
                        else
                            std::memset(out + o, row[lx], size_t(left));
                        break;
                    } else {
                        std::memcpy(out + int64_t(o + i) * pb, row + int64_t(lx) * pb, size_t(pb));
                    }
                }
                left = 0;
            }
        }
    }
}

// Copies the image pixels [x0, x1) x [y0, y1) out of a buffer whose first
// pixel is image pixel (bx, by), rows `step` and planes `plane` apart, to
// the rectangle at (x, y) in `out`.
void ownCopyInside(const char* buffer, int bx, int by, int64_t step, int64_t plane, int x0, int x1,
                   int y0, int y1, int x, int y, const OwnPixelShape& s, char* out, int outBit,
                   int64_t outStep, int64_t outPlane, bool stream = false) {
    const int64_t n = int64_t(x1 - x0) * s.pixel;  // bytes (bits for 1U) per row
    // Rows back to back on both sides (whole rows of a tile into a tile of
    // the same width): one copy per plane instead of one per row.
    if (!s.bits && n == step && n == outStep && y1 > y0) {
        for (int lane = 0; lane < s.lanes; ++lane) {
            char* to = out + outPlane * lane + outStep * (y0 - y) + int64_t(x0 - x) * s.pixel;
            const char* from = buffer + plane * lane + step * (y0 - by) + int64_t(x0 - bx) * s.pixel;
            if (stream) ownStreamCopy(to, from, n * (y1 - y0));
            else std::memcpy(to, from, size_t(n * (y1 - y0)));
        }
        return;
    }
    for (int lane = 0; lane < s.lanes; ++lane)
        for (int yy = y0; yy < y1; ++yy) {
            const char* from = buffer + plane * lane + step * (yy - by);
            char* to = out + outPlane * lane + outStep * (yy - y);
            if (s.bits)
                ownCopyBits(reinterpret_cast<const unsigned char*>(from), (x0 - bx) * s.pixel,
                            reinterpret_cast<unsigned char*>(to), outBit + (x0 - x) * s.pixel, n);
            else
                std::memcpy(to + int64_t(x0 - x) * s.pixel, from + int64_t(x0 - bx) * s.pixel,
                            size_t(n));
        }
}

// ownGetTileRow, `use`, ownReleaseTileRow. False when a tile was refused.
template <class Use>
bool ownWithTileRow(const OwnSite& site, const VexImage* image, int tx0, int tx1, int ty, char** tiles,
                    Use use, const unsigned char* need = nullptr) {
    if (!ownGetTileRow(site, image, tx0, tx1, ty, tiles, need)) return false;
    use();
    ownReleaseTileRow(image, tx0, tx1, ty, tiles);
    return true;
}

// A rectangle that lies inside the image: plain row copies, from the image
// or tile row by tile row from its tiles (requested as ownGatherRect
// requests them).
bool ownGatherInside(const OwnSite& site, const VexImage* image, int x, int y, int width,
                     int height, const OwnPixelShape& s, char* out, int outBit, int64_t outStep,
                     int64_t outPlane, bool stream) {
    if (!image->tileInfo) {
        const int64_t step = ownImageStep(image);
        ownCopyInside(image->imageData, 0, 0, step, step * image->height, x, x + width, y,
                      y + height, x, y, s, out, outBit, outStep, outPlane, stream);
        return true;
    }
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    const int tx0 = x / tw, tx1 = (x + width - 1) / tw;
    const int ty0 = y / th, ty1 = (y + height - 1) / th;
    const int n = tx1 - tx0 + 1;
    OwnScratch<64 * sizeof(char*)> tileList(int64_t(sizeof(char*)) * n);
    char** tiles = tileList.as<char*>();
    if (!tiles) {
        vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
        return false;
    }
    const int64_t tstep = ownRowStep(tw, image->depth, image->nChannels, image->dataOrder,
                                     image->align);
    bool ok = true;
    for (int ty = ty0; ty <= ty1 && ok; ++ty) {
        ok = ownWithTileRow(site, image, tx0, tx1, ty, tiles, [&] {
            const int y0 = std::max(y, ty * th), y1 = std::min(y + height, (ty + 1) * th);
            for (int k = 0; k < n; ++k) {
                const int tx = tx0 + k;
                ownCopyInside(tiles[k], tx * tw, ty * th, tstep, tstep * th,
                              std::max(x, tx * tw), std::min(x + width, (tx + 1) * tw), y0, y1, x,
                              y, s, out, outBit, outStep, outPlane, stream);
            }
        });
    }
    return ok;
}

}  // namespace

bool ownGatherRect(const OwnSite& site, const VexImage* image, int x, int y, int width,
                   int height, char* out, int outBit, int64_t outStep, int64_t outPlane, bool stream) {
    if (width <= 0 || height <= 0) return true;
    const int W = image->width, H = image->height;
    const int* mode = image->borderMode;
    const int* value = image->borderValue;

    // Which image rows the rectangle refers to, and the modes that map its
    // columns (the row side's for rows beyond the image, left/right for
    // rows inside).
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

    const OwnPixelShape shape = ownPixelShape(image);
    if (x >= 0 && y >= 0 && int64_t(x) + width <= W && int64_t(y) + height <= H)
        return ownGatherInside(site, image, x, y, width, height, shape, out, outBit, outStep,
                               outPlane, stream);

    // Column runs: [0] for the rows inside, [m] for outside rows of mode m.
    // A rule has at most one run per column outside the image and one for
    // the inside; a few rules of narrow margins (a filter's bordered row)
    // fit on the stack.
    OwnColRuns maps[4];
    const int64_t inCols = std::max<int64_t>(0, std::min<int64_t>(int64_t(x) + width, W) - std::max(x, 0));
    const int64_t perMap = int64_t(width) - inCols + 2;
    int needed = 1;
    for (int m = 1; m < 4; ++m) needed += (rowSideModes >> m) & 1;
    const int64_t runBytes = perMap * needed * int64_t(sizeof(OwnColRun));
    OwnScratch<256 * sizeof(OwnColRun)> runs(runBytes);
    OwnColRun* runMemory = runs.as<OwnColRun>();
    if (!runMemory) {
        vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
        return false;
    }
    {
        OwnColRun* next = runMemory;
        maps[0].runs = next;
        next += perMap;
        maps[0].build(x, width, W, mode[2] & 3, value[2], mode[3] & 3, value[3]);
        for (int m = 1; m < 4; ++m)
            if (rowSideModes & (1 << m)) {
                maps[m].runs = next;
                next += perMap;
                maps[m].build(x, width, W, m, 0, m, 0);
            }
    }
    // The image columns the used rules read bound, with the rows, the tiles
    // of a tiled image that are considered (only those some row reads are
    // asked for). Calls read(m, first, last) for the image columns of each run of each
    // rule some row uses.
    auto forReadRuns = [&](auto read) {
        for (int m = 0; m < 4; ++m) {
            if (m == 0 ? !insideRows : !(rowSideModes & (1 << m))) continue;
            for (int k = 0; k < maps[m].count; ++k) {
                const OwnColRun& run = maps[m].runs[k];
                if (run.kind != kRunConst)
                    read(m, run.kind == kRunBackward ? run.src - (run.n - 1) : run.src,
                         run.kind == kRunForward ? run.src + (run.n - 1) : run.src);
            }
        }
    };
    if (image->tileInfo)
        forReadRuns([&](int, int a, int b) {
            cols.add(a);
            cols.add(b);
        });

    // Source row and column rule of rectangle row r; false for a constant row.
    auto rowSource = [&](int r, int* sy, const OwnColRuns** map) {
        const int yy = y + r;
        if (yy >= 0 && yy < H) {
            *sy = yy;
            *map = &maps[0];
            return true;
        }
        const int m = mode[yy < 0 ? 0 : 1] & 3;
        if (m == VEX_BORDER_CONSTANT) return false;
        *sy = ownBorderCoord(yy, H, m);
        *map = &maps[m];
        return true;
    };
    auto doRow = [&](int r, const OwnRectSource& src, const OwnColRuns& map) {
        for (int lane = 0; lane < shape.lanes; ++lane)
            ownRunRow(map, src, lane, out + outStep * r + outPlane * lane, outBit, shape);
    };
    // Rows of a constant side first: they need no pixels.
    for (int r = 0; r < height; ++r) {
        const int yy = y + r;
        if (yy >= 0 && yy < H) continue;
        const int side = yy < 0 ? 0 : 1;
        if ((mode[side] & 3) != VEX_BORDER_CONSTANT) continue;
        for (int lane = 0; lane < shape.lanes; ++lane) {
            char* row = out + outStep * r + outPlane * lane;
            if (shape.bits)
                ownFillPixels(row, outBit, width, shape, value[side]);
            else
                ownFillPixels(row, 0, width, shape, value[side]);
        }
    }

    bool ok = true;
    if (rows.empty() || cols.empty() || !image->tileInfo) {
        // Untiled, or nothing to read from the image (every run a constant).
        char* data = image->imageData;
        OwnRectSource src{&data, 0, W, ownImageStep(image), 0, 0};
        src.plane = src.step * H;
        for (int r = 0; r < height; ++r) {
            int sy;
            const OwnColRuns* map;
            if (!rowSource(r, &sy, &map)) continue;
            src.rowOff = src.step * sy;
            doRow(r, src, *map);
        }
    } else {
        // Tile row by tile row: the tiles of the row that the rectangle's
        // rows there read (a wrapping border reads the far strip, not the
        // tiles in between) are requested left to right, the rows that read
        // from them are copied, and the tiles are released in reverse order.
        const int tw = image->tileInfo->width, th = image->tileInfo->height;
        const int tx0 = cols.lo / tw, tx1 = cols.hi / tw;
        const int ty0 = rows.lo / th, ty1 = rows.hi / th;
        const int n = tx1 - tx0 + 1, nty = ty1 - ty0 + 1;
        // tiles[n]; per column rule the tile columns it reads (4 x n); the
        // tile columns of the current tile row (n); per tile row the rules
        // its rows use (nty).
        const int64_t scratchBytes = int64_t(sizeof(char*)) * n + 5 * int64_t(n) + nty;
        OwnScratch<64 * sizeof(char*) + 5 * 64 + 64> scratchBlock(scratchBytes);
        char* scratch = scratchBlock.as<char>();
        if (!scratch) {
            vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
            return false;
        }
        char** tiles = reinterpret_cast<char**>(scratch);
        unsigned char* ruleTiles = reinterpret_cast<unsigned char*>(scratch + sizeof(char*) * n);
        unsigned char* rowTiles = ruleTiles + 4 * int64_t(n);
        unsigned char* rowRules = rowTiles + n;
        std::memset(ruleTiles, 0, size_t(5 * int64_t(n) + nty));
        forReadRuns([&](int m, int a, int b) {
            for (int t = a / tw; t <= b / tw; ++t) ruleTiles[int64_t(m) * n + t - tx0] = 1;
        });
        for (int r = 0; r < height; ++r) {
            int sy;
            const OwnColRuns* map;
            if (rowSource(r, &sy, &map)) rowRules[sy / th - ty0] |= static_cast<unsigned char>(1u << (map - maps));
        }
        const int64_t tstep = ownRowStep(tw, image->depth, image->nChannels, image->dataOrder,
                                         image->align);
        OwnRectSource src{tiles, tx0, tw, tstep, tstep * th, 0};
        for (int ty = ty0; ty <= ty1 && ok; ++ty) {
            const unsigned rules = rowRules[ty - ty0];
            if (!rules) continue;
            std::memset(rowTiles, 0, size_t(n));
            for (int m = 0; m < 4; ++m)
                if (rules & (1u << m))
                    for (int k = 0; k < n; ++k) rowTiles[k] |= ruleTiles[int64_t(m) * n + k];
            ok = ownWithTileRow(
                site, image, tx0, tx1, ty, tiles,
                [&] {
                    for (int r = 0; r < height; ++r) {
                        int sy;
                        const OwnColRuns* map;
                        if (!rowSource(r, &sy, &map) || sy / th != ty) continue;
                        src.rowOff = tstep * (sy - ty * th);
                        doRow(r, src, *map);
                    }
                },
                rowTiles);
        }
    }
    return ok;
}

char* ownGetRect(const OwnSite& site, const VexImage* image, int x, int y, int width, int height,
                 int* step) {
    if (width <= 0 || height <= 0) return nullptr;
    char* data = ownAllocRect(site, image, width, height, __LINE__);
    if (!data) return nullptr;
    const int64_t rstep = ownRowStep(width, image->depth, image->nChannels, image->dataOrder,
                                     image->align);
    *step = static_cast<int>(rstep);
    if (!ownGatherRect(site, image, x, y, width, height, data, 0, rstep, rstep * height)) {
        vexFree(data);
        return nullptr;
    }
    return data;
}

// Both images tiled, all channels moved alike: each destination tile is got
// for writing and the matching source rectangle is gathered straight into
// the tile's piece (its source tiles requested row by row, as a gathered
// rectangle's are), so every byte is copied once.
void ownWalkGatherInto(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile) {
    OwnTileRange t;
    if (!ownPairTileRange(src, dst, &t)) return;
    int sx, sy, scols, srows;
    ownClipRegion(src, &sx, &sy, &scols, &srows);
    const OwnPixelShape shape = ownPixelShape(dst);
    const int64_t tstep = ownRowStep(t.tileW, dst->depth, dst->nChannels, dst->dataOrder,
                                     dst->align);
    // A whole walk writing kStreamBytes or more stores its tiles past the cache.
    const bool stream = !tile && int64_t(t.rows) * t.cols * dst->nChannels * ownElemSize(dst->depth) >= kStreamBytes;
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        char* data = ownRequestTile(site, dst, p.tx, p.ty, VEX_TILE_GET_WRITE, kErrTileWrite,
                                    __LINE__);
        if (!data) return false;
        const int64_t x = int64_t(p.x) * shape.pixel;  // bits for 1U
        char* out = data + tstep * p.y + (shape.bits ? x >> 3 : x);
        const bool ok = ownGatherRect(site, src, sx + p.rx, sy + p.ry, p.w, p.h, out,
                                      shape.bits ? int(x & 7) : 0, tstep, tstep * t.tileH, stream) &&
                        vexGetErrStatus() >= 0;
        if (stream) ownStoreFence();
        ownReleaseTile(dst, p.tx, p.ty, data);
        return ok;
    });
}

}  // namespace vex
