// The frame shared by vexConvert and vexBitonalToGray: the rectangle
// kernels (depth conversion, reduction to 1 bit, 1-bit copy, expansion of
// 1-bit images) and the whole-image walk that pairs source and destination
// tiles, reversing rows when the two origins differ.
#pragma once

#include <cstdint>

#include "image/ownimage.h"

namespace vex {

// One image side of a rectangle: where its first element lies and how to
// step through it. Rows are walked in `rowStep` (negative when the source
// is read upwards); channels are `chanStep` bytes apart (the element size in
// pixel order, the plane size in plane order); pixels `pixStride` elements.
struct OwnCvtSide {
    char* base;        // channel 0 of the rectangle's first pixel (1U: its byte)
    int bit;           // 1U: bit of the first pixel in that byte (0 = MSB)
    int64_t rowStep;   // bytes from one walked row to the next
    int64_t chanStep;  // bytes between channels
    int pixStride;     // elements between pixels
    bool plane;
    int64_t bufStep;   // row stride of the whole buffer (image or tile)
    int64_t bufSize;   // bytes of the whole buffer, all planes
};

// What the walk runs on each rectangle.
enum class OwnCvtKind {
    kGeneral,  // depth conversion between integer depths
    kToBits,   // one channel reduced to 1 bit
    kBitCopy,  // 1U to 1U
    kFromBits  // 1U expanded into every channel of an integer image
};

struct OwnCvtJob {
    OwnCvtKind kind;
    int srcDepth, dstDepth;  // dense depth indices
    int mode;                // 0 truncation, 1 scaling (kGeneral)
    int nChannels;           // channels converted per pixel (kGeneral, kFromBits)
    int channel;             // source channel reduced to 1 bit (kToBits), 0-based
    int32_t zero, one;       // values written for 0 and 1 bits (kFromBits)
};

// Converts rows x cols pixels from s to d.
void ownCvtRect(const OwnCvtJob& job, const OwnCvtSide& s, const OwnCvtSide& d, int rows,
                int cols);

// Texts of the two missing-tile reports.
extern const char kCvtNoDstTile[];  // "(dstImage->tileInfo->tileData == NULL)"
extern const char kCvtNoSrcTile[];  // "(srcImage->tileInfo->tileData == NULL)"

// Runs `job` over the whole images (equal sizes, checks passed). A tiled
// destination with a mapping limits the work to the tile holding the
// mapped pixel. Untiled buffers that overlap are converted from a copy of
// the source.
void ownCvtWalk(const OwnSite& site, const OwnCvtJob& job, const VexImage* src,
                const VexImage* dst, const VexMapping* mapping);

}  // namespace vex
