// Region kernels that move samples without changing them: copy, swap and
// fill between regions of untiled images, for every depth and data order.
#pragma once

#include "ownrect.h"

namespace vex {

// A region seen as lanes of samples: one lane in pixel order (all channels
// interleaved, or one channel stepping by nChannels), one lane per plane in
// plane order.
struct OwnLanes {
    char* base;
    int64_t step;        // bytes between rows
    int64_t laneStride;  // bytes between lanes (planes)
    int lanes;
    int samples;    // samples per lane row
    int pixStride;  // elements between consecutive samples of a lane
    int bitOffset;  // 1U
};
OwnLanes ownLanes(const OwnRegion& r, int cols);

// rows x cols pixels of region s onto region d (equal depth, equal channels
// to process). Nothing outside the regions' channels and columns changes.
// `callBytes`: what the whole call writes; from kStreamBytes on, a
// destination whose rows lie back to back (a tile) is streamed past the
// cache.
void ownCopyRegion(const OwnRegion& s, const OwnRegion& d, int rows, int cols, unsigned depth,
                   int64_t callBytes = 0);
void ownSwapRegion(const OwnRegion& a, const OwnRegion& b, int rows, int cols, unsigned depth);
// Fills with `value` already limited to the depth's range.
void ownFillRegion(const OwnRegion& d, int rows, int cols, unsigned depth, int value);

}  // namespace vex
