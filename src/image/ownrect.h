// Region and tile traversal: the one place that knows about ROI clipping,
// region pairing, tile walks, the tile selector and rectangle gathering.
// Operations supply an untiled body; the walks below do the rest.
#pragma once

#include <cstdint>

#include "ownimage.h"

namespace vex {

// ---------------------------------------------------------------------------
// Regions of untiled images.

// The working region of an image: its ROI (or the whole image) clipped to it.
struct OwnRegion {
    char* first;        // first element of the region in its first channel;
                        // for 1U the byte holding the first bit
    int bitOffset;      // 1U only: bit index of the first pixel, 0 = MSB
    int64_t step;       // row stride, recomputed from the layout
    int64_t planeSize;  // step * height: distance between planes
    int rows;
    int cols;
    int channels;   // channels to process: 1 with a coi, else nChannels
    int nChannels;  // the image's channel count (pixel stride in pixel order)
    int coi;        // 0 = all channels
    int x, y;       // clipped region origin in image coordinates
    bool plane;     // plane order
};

// Fills `r`; the region may be empty (rows or cols 0).
void ownGetRegion(const VexImage* image, OwnRegion* r);

// The form the pixel-wise kernels use. Returns false for an empty region or
// a coi above nChannels.
struct OwnRegionOffset {
    int64_t offset;    // byte offset of the first element from imageData
    int bitOffset;     // 1U: bit of the first pixel within that byte (0 = MSB)
    int64_t rowBytes;  // bytes of one region row (pixel order: all channels)
    int rows;
    int cols;
    int channels;  // 1 with a coi, else nChannels
};
bool ownRegionOffset(const VexImage* image, OwnRegionOffset* r);

// Equal height, width and dataSize, and each ROI absent or covering the
// whole image with all channels: the buffers can be processed as one run.
bool ownSameLayout(const VexImage* a, const VexImage* b);

// ---------------------------------------------------------------------------
// Tile ranges.

struct OwnTileRange {
    int rows, cols;        // ROI size (not clipped) or the paired minimum
    int x0, y0;            // region origin (ROI offsets)
    int tx0, ty0;          // first tile column and row
    int offX, offY;        // offset of the region inside the first tile
    int txCount, tyCount;  // tiles touched
    int firstW, lastW;     // columns in the first and last tile column
    int firstH, lastH;     // rows in the first and last tile row
    int tileW, tileH;
};

// Range of a tiled image's region; false when there is nothing to do.
bool ownTileRange(const VexImage* image, OwnTileRange* t);
// The range of the tiled image `tiled` paired with `other` (the source of a
// tiled destination, or the destination of a tiled source): sizes are the
// smaller of the two regions, offsets those of `tiled`.
bool ownPairTileRange(const VexImage* other, const VexImage* tiled, OwnTileRange* t);

// The piece of tile (column j, row i) of a range, relative to the tile
// (x, y) and to the region (rx, ry).
struct OwnTilePiece {
    int tx, ty;   // tile indices
    int x, y;     // offset inside the tile
    int w, h;     // size
    int rx, ry;   // offset from the region's corner
};
OwnTilePiece ownTilePiece(const OwnTileRange& t, int j, int i);

// The region of any image (tiled or not): its ROI cut to the image.
void ownClipRegion(const VexImage* image, int* x, int* y, int* cols, int* rows);

inline int ownCoi(const VexImage* image) { return image->roi ? image->roi->coi : 0; }

// Maps the trailing tile selector onto (j, i) inside the range; false when
// the named tile lies outside it.
bool ownSelectTile(const OwnTileRange& t, const int* tile, int* j, int* i);

// The trailing VexMapping as a tile selector. Read as a destination pixel
// (`asPixel`), it names the tile holding (xDst, yDst); otherwise its fields
// are the tile's column and row. Returns `tile` filled, or null (whole
// region) for a null mapping or an untiled destination.
const int* ownMappingTile(const VexImage* dst, const VexMapping* mapping, bool asPixel, int tile[2]);

// Requests a tile; on a missing buffer reports `errorText` with
// VEX_StsError under `site` and returns null.
char* ownRequestTile(const OwnSite& site, const VexImage* image, int tx, int ty, int mode,
                     const char* errorText, int line);
// Hands a tile back, first restoring its buffer address in tileData.
void ownReleaseTile(const VexImage* image, int tx, int ty, char* data);

// Tiles tx0..tx1 of tile row ty requested for reading (or, with mode
// VEX_TILE_GET_WRITE, for writing), left to right, into tiles[] (with
// `need`, only those whose need[tx - tx0] is set; the others stay null).
// False when a tile was refused (reported): the tiles that arrived are then
// released already.
bool ownGetTileRow(const OwnSite& site, const VexImage* image, int tx0, int tx1, int ty, char** tiles,
                   const unsigned char* need = nullptr, int mode = VEX_TILE_GET_READ);
// Releases the tiles of ownGetTileRow (the non-null ones) in reverse order of
// the requests.
void ownReleaseTileRow(const VexImage* image, int tx0, int tx1, int ty, char** tiles);

// An untiled header over one tile's buffer, with the local ROI `local`.
VexImage ownTileView(const VexImage* image, VexROI* local, char* data);

// Gets the tile of piece `p` (mode 1 or 2; `errorText` reported when it is
// not delivered), runs `fn(view)` on an untiled view of the tile whose local
// ROI selects the piece in channel `coi`, and releases the tile. Returns
// false when the tile was not delivered, else what fn returned.
template <class Fn>
bool ownOnTile(const OwnSite& site, const VexImage* image, const OwnTilePiece& p, int mode,
               const char* errorText, int coi, Fn fn) {
    char* data = ownRequestTile(site, image, p.tx, p.ty, mode, errorText, __LINE__);
    if (!data) return false;
    VexROI local{coi, p.x, p.y, p.h, p.w};
    VexImage view = ownTileView(image, &local, data);
    const bool ok = fn(view);
    ownReleaseTile(image, p.tx, p.ty, data);
    return ok;
}

// Runs `visit(j, i)` over the whole range (tile rows outer, columns inner,
// left to right), or only over the tile the selector names (nothing when it
// lies outside). Stops when visit returns false.
template <class Visit>
void ownForTiles(const OwnTileRange& t, const int* tile, Visit visit) {
    if (tile) {
        int j, i;
        if (ownSelectTile(t, tile, &j, &i)) visit(j, i);
        return;
    }
    for (int i = 0; i < t.tyCount; ++i)
        for (int j = 0; j < t.txCount; ++j)
            if (!visit(j, i)) return;
}

// Puts an image's roi pointer back when a walk ends, on every exit.
struct OwnRoiGuard {
    VexImage* image;
    VexROI* saved;
    explicit OwnRoiGuard(VexImage* im) : image(im), saved(im->roi) {}
    ~OwnRoiGuard() { image->roi = saved; }
    OwnRoiGuard(const OwnRoiGuard&) = delete;
    OwnRoiGuard& operator=(const OwnRoiGuard&) = delete;
};

extern const char kErrTileRead[];   // "Error get tile to read"
extern const char kErrTileWrite[];  // "Error get tile to write"

// ---------------------------------------------------------------------------
// Walks. `body` runs the operation's untiled path on untiled headers whose
// ROIs select the rectangles to work on.

using OwnPairBody = void (*)(VexImage* src, VexImage* dst, void* ctx);
using OwnSingleBody = void (*)(VexImage* image, void* ctx);

// Source to destination, any tiling. The destination's tiles are got with
// mode 2 (or `dstMode`), the source's with mode 1. Tiles outside the
// selector are skipped. The callers' roi pointers are restored on every exit.
void ownWalkPair(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile,
                 OwnPairBody body, void* ctx);

// The same with the source's tile mode and missing-tile text chosen by the
// caller (an exchange writes both images).
void ownWalkPairModes(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile,
                      OwnPairBody body, void* ctx, int srcMode, const char* srcError);

// One image, written in place (fill-type operations).
void ownWalkSingle(const OwnSite& site, VexImage* image, const int* tile, OwnSingleBody body,
                   void* ctx);

// ---------------------------------------------------------------------------
// Rectangle gathering with border synthesis.

// A vexMalloc'ed copy of the rectangle (x, y, width, height) in the image's
// layout (rows padded to align; planes one after another). Pixels outside
// the image come from the border modes. Null on failure (a missing tile is
// reported with VEX_StsError under `site`; allocation failure with
// VEX_StsNoMem). *step receives the row stride.
char* ownGetRect(const OwnSite& site, const VexImage* image, int x, int y, int width, int height,
                 int* step);

// An untiled header over a gathered rectangle (no ROI, no tiling).
VexImage ownRectHeader(const VexImage* like, char* data, int width, int height);

// The rectangle of ownGetRect written into a buffer the caller holds: `out`
// is where its first pixel goes (`outBit` its bit for 1U), rows `outStep`
// and planes `outPlane` bytes apart, in the image's depth, channels and
// order. Tiles are requested as ownGetRect requests them. False when a tile
// was not delivered or memory ran out (both reported under `site`). With
// `stream` (a call writing kStreamBytes or more), rows that lie back to back
// on both sides are stored past the cache.
bool ownGatherRect(const OwnSite& site, const VexImage* image, int x, int y, int width,
                   int height, char* out, int outBit, int64_t outStep, int64_t outPlane, bool stream = false);

// A vexMalloc'ed buffer for a width x height rectangle in the image's
// layout (cleared for 1U); VEX_StsNoMem reported under `site` and null
// when it cannot be had. `line` is the reporting line.
char* ownAllocRect(const OwnSite& site, const VexImage* image, int width, int height, int line);

// Copy between two tiled images that move all channels alike (equal
// channel counts, no channel of interest): the destination's tiles are
// walked (mode 2, then 4) and each source rectangle is gathered straight
// into its tile. The tile selector as for ownWalkPair.
void ownWalkGatherInto(const OwnSite& site, VexImage* src, VexImage* dst, const int* tile);

// ---------------------------------------------------------------------------
// Bit runs for 1U rows: copy / fill / swap n bits between any bit offsets,
// leaving the other bits of the end bytes unchanged.
void ownCopyBits(const unsigned char* src, int srcBit, unsigned char* dst, int dstBit, int64_t n);
void ownFillBits(unsigned char* dst, int dstBit, int64_t n, bool ones);
void ownSwapBits(unsigned char* a, int aBit, unsigned char* b, int bBit, int64_t n);

}  // namespace vex
