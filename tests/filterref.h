// Plain references for the neighbourhood-filter tests: the border rule
// sample by sample, random border settings, and whole-image
// sample snapshots to compare destinations with (a call must write its
// region and nothing else).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace fref {

// The low bits of a border constant as a sample of the depth.
inline int64_t constantOf(int v, unsigned depth) {
    switch (depth) {
        case VEX_DEPTH_1U: return v & 1;
        case VEX_DEPTH_8U: return v & 0xFF;
        case VEX_DEPTH_8S: return int8_t(uint8_t(v & 0xFF));
        case VEX_DEPTH_16U: return v & 0xFFFF;
        case VEX_DEPTH_16S: return int16_t(uint16_t(v & 0xFFFF));
        default: return v;
    }
}

// A coordinate beyond [0, n) by the rule, step by step.
inline int64_t mapCoord(int64_t p, int64_t n, int mode) {
    switch (mode & 3) {
        case VEX_BORDER_REPLICATE: return p < 0 ? 0 : p >= n ? n - 1 : p;
        case VEX_BORDER_REFLECT:
            if (p < 0) {
                while (p < -n) p += 2 * n;
            } else {
                while (p >= n) p -= 2 * n;
            }
            return p < 0 ? -p - 1 : p;
        default:
            while (p < 0) p += n;
            while (p >= n) p -= n;
            return p;
    }
}

// Sample (x, y, channel c 1-based) of any image, inside or beyond it.
inline int64_t borderSample(const VexImage* im, int64_t x, int64_t y, int c) {
    const int64_t W = im->width, H = im->height;
    if (x >= 0 && x < W && y >= 0 && y < H) return vt::sample(im, int(x), int(y), c);
    int side;
    if (y < 0 || y >= H) side = y < 0 ? 0 : 1;
    else side = x < 0 ? 2 : 3;
    const int mode = im->borderMode[side] & 3;
    if (mode == VEX_BORDER_CONSTANT) return constantOf(im->borderValue[side], im->depth);
    return vt::sample(im, int(mapCoord(x, W, mode)), int(mapCoord(y, H, mode)), c);
}

inline void randomBorders(std::mt19937& rng, VexImage* im) {
    for (int s = 0; s < 4; ++s) {
        im->borderMode[s] = vt::uniform(rng, 0, 9) == 0 ? vt::uniform(rng, 4, 7) : vt::uniform(rng, 0, 3);
        im->borderValue[s] = vt::uniform(rng, 0, 3) == 0 ? int(rng()) : vt::uniform(rng, -300, 300);
    }
}

// Every sample of an image, (y, x, c) order.
inline std::vector<int64_t> samples(const VexImage* im) {
    std::vector<int64_t> v;
    v.reserve(size_t(im->height) * im->width * im->nChannels);
    for (int y = 0; y < im->height; ++y)
        for (int x = 0; x < im->width; ++x)
            for (int c = 1; c <= im->nChannels; ++c) v.push_back(vt::sample(im, x, y, c));
    return v;
}
inline size_t indexOf(const VexImage* im, int x, int y, int c) {
    return (size_t(y) * im->width + x) * im->nChannels + size_t(c - 1);
}

// Compares two snapshots; the first difference as text, empty when equal.
inline std::string firstDiff(const VexImage* im, const std::vector<int64_t>& got,
                             const std::vector<int64_t>& want) {
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i]) {
            const size_t c = i % im->nChannels, px = i / im->nChannels;
            return "at x " + std::to_string(px % im->width) + " y " + std::to_string(px / im->width) +
                   " c " + std::to_string(c + 1) + ": got " + std::to_string(got[i]) + ", want " +
                   std::to_string(want[i]);
        }
    return "";
}

inline int64_t clampTo(int64_t v, unsigned depth) {
    return std::min(vt::depthMax(depth), std::max(vt::depthMin(depth), v));
}

// A layout from the support library, with the depth and channels given.
inline vt::Layout layoutWith(std::mt19937& rng, unsigned depth, int channels, bool tiled = true) {
    vt::LayoutLimits lim;
    lim.depths = {depth};
    lim.maxSize = 24;
    lim.coi = false;
    lim.tiled = tiled;
    lim.roiOutside = true;
    vt::Layout l = vt::randomLayout(rng, lim);
    l.nChannels = depth == VEX_DEPTH_1U ? 1 : channels;
    return l;
}

}  // namespace fref
