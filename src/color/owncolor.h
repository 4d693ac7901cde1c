// The colour operation frame shared by the colour-model conversions and the
// bit reduction: header and data checks, the destination-tile iterator,
// source rectangles gathered per tile, channel location by colour model,
// and the row kernels of every depth.
#pragma once

#include <cstdint>

#include "image/ownimage.h"

namespace vex {

extern const char kColorFile[];    // "vexcolor": the operations
extern const char kColorShared[];  // "owncolor": the shared code

// ---------------------------------------------------------------------------
// Channel location.

enum OwnModel { kModelRGB, kModelHSV, kModelHLS };

// Where the three components of `model` (R, G, B / H, S, V / H, L, S) lie in
// an image laid out like `like`: element offsets of each component inside a
// pixel (pixel order) or plane indices (plane order). In pixel order red is
// channel 0 when channelSeq begins with 'R', else channel 2 (blue 0); HSV and
// HLS are positional. In plane order each plane is found by its letter in
// channelSeq; a letter the sequence lacks falls back to the plane at the
// component's position, so a badly named image never reads outside itself.
void ownLocate(const VexImage* like, OwnModel model, int index[3]);

// True when the first three characters of `text` are `model`.
bool ownIsModel(const char text[4], const char* model);

// ---------------------------------------------------------------------------
// Blocks and the frame.

// An untiled block of pixels in an image's layout: the destination tile or
// the whole destination, or the matching source rectangle.
struct OwnColorBlock {
    char* data;
    int64_t step;       // row stride
    int64_t planeSize;  // distance between planes (plane order)
};

// Per-block body of an operation: converts rows x cols pixels from the
// source block (laid out like `src`) into the destination block (laid out
// like `dst`). Returns false to stop the walk.
using OwnColorBody = bool (*)(const VexImage* src, const OwnColorBlock& s, const VexImage* dst,
                              const OwnColorBlock& d, int rows, int cols, void* ctx);

// Frame checks: both headers (reported under the operation's file), then
// "null_data_pointer" (under "owncolor"). True when all pass.
bool ownColorImagesOk(const OwnSite& site, const VexImage* src, const VexImage* dst);

// Effective channel count: 1 with a non-zero coi, else nChannels.
inline int ownEffectiveChannels(const VexImage* image) {
    return image->roi && image->roi->coi != 0 ? 1 : image->nChannels;
}

// Runs `body` over the work of one call. With neither image tiled and
// `direct`, once over the smaller height and width from the first stored
// pixel of each image. Otherwise over each destination tile the iterator
// yields (the whole destination when it is untiled), with the source
// rectangle at the same place and of the tile's full size; pixels outside
// the source come from its border modes. `mapping` names one destination
// tile (column, row); it is ignored for an untiled destination.
void ownColorWalk(const OwnSite& site, VexImage* src, VexImage* dst, const VexMapping* mapping,
                  bool direct, OwnColorBody body, void* ctx);

// The destination-tile iterator on its own (used by ownColorWalk).
struct OwnTileIter {
    int col = -1, row = -1;
    int calls = 0;
};
struct OwnDstTile {
    int col, row;    // tile indices (0, 0 for an untiled destination)
    int x, y;        // top-left pixel
    int width, height;
    OwnColorBlock block;
    bool tiled;
};
bool ownNextDstTile(VexImage* dst, const VexMapping* mapping, OwnTileIter* it, OwnDstTile* t);

// ---------------------------------------------------------------------------
// Row kernels. Component k of pixel i is at base[k] + i * stride elements;
// 1U data start at the most significant bit of its first byte.

// Gray value from three components, any supported depth pair.
using OwnGrayRow = void (*)(const void* const src[3], int stride, void* dst, int n);
// Index [source dense depth][destination dense depth]; null = unsupported.
OwnGrayRow ownGrayRow(unsigned srcDepth, unsigned dstDepth);

// Weights of vexGrayToColor in the integer or float forms of a depth.
struct OwnGrayWeights {
    int w[3];       // integer forms (R, G, B)
    int shift;      // 8, 15 or 9
    double f[3];    // 32S: the float weights
};
OwnGrayWeights ownGrayWeights(unsigned depth, float red, float green, float blue);
using OwnColorRow = void (*)(const void* src, void* const dst[3], int stride, int n,
                             const OwnGrayWeights& w);
OwnColorRow ownColorRow(unsigned srcDepth, unsigned dstDepth);

// Model conversions between equal depths: (src components, src stride,
// dst components, dst stride, n).
using OwnModelRow = void (*)(const void* const src[3], int sStride, void* const dst[3],
                             int dStride, int n);
enum OwnModelOp { kRGB2HSV, kHSV2RGB, kRGB2HLS, kHLS2RGB, kModelOps };
OwnModelRow ownModelRow(OwnModelOp op, unsigned depth);

// The per-pixel rules of the 8U model conversions as written: integer
// division and doubles. The row kernels above compute the same values a
// vector at a time; the tests hold the two against each other.
void ownRGB2HSV8uRef(int r, int g, int b, uint8_t out[3]);
void ownHSV2RGB8uRef(int h, int s, int v, uint8_t out[3]);
void ownRGB2HLS8uRef(int r, int g, int b, uint8_t out[3]);
void ownHLS2RGB8uRef(int h, int l, int s, uint8_t out[3]);

// ---------------------------------------------------------------------------
// Bit reduction (vexReduceBits).

// Grid step of the dithering for a destination depth and quantShift.
int ownDitherStep(unsigned dstDepth, int quantShift);
// Fills the three process-wide jitter tables from rand().
void ownFillJitterTables();
// The first fraction table and the index table (read by the tests).
const double* ownJitterFractions();
const int* ownJitterIndices();
const double* ownJitterFractions2();

}  // namespace vex

namespace vex {

// Arguments of one vexReduceBits call, checked.
struct OwnReduceArgs {
    int jitter;  // 0..8
    int dither;  // 1, 2, 4, 8 or 16
    int step;    // dithering grid step
};
// True when (source, destination) is one of the reduction pairs.
bool ownReducePair(unsigned srcDepth, unsigned dstDepth);
// The per-block body of vexReduceBits (ctx: OwnReduceArgs).
bool ownReduceBlock(const VexImage* src, const OwnColorBlock& s, const VexImage* dst, const OwnColorBlock& d,
                    int rows, int cols, void* ctx);
// Dithers rows x cols samples of one channel in place: 8U or 16U samples
// `inc` elements apart, rows `step` bytes apart; `elemScale` and `elemBase`
// give the element index of column x within its row (elemScale * x +
// elemBase) for the ordered matrix. False when its buffer cannot be had.
bool ownDitherLane(unsigned depth, char* first, int64_t step, int inc, int rows, int cols,
                   int ditherType, int gridStep, int elemScale, int elemBase);

}  // namespace vex
