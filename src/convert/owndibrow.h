// Row kernels of the DIB conversions. Each pixel passes through a four-byte
// record (bytes 0..3: blue, green, red, alpha): a reader fills it from the
// source format, a channel-order adapter rearranges it, a writer stores it in
// the destination format. The three are template arguments of one row
// routine, chosen once per call from the tables in owndibrow.cpp, so the
// inner loops carry no format tests.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/owndib.h"

namespace vex {

// Nearest colour-table entry by the sum of squared differences of red,
// green and blue, the lowest index winning ties. Gray keys (records whose
// three colour bytes are equal by construction) use a 256-entry table;
// colour keys a lazily built list of candidate entries per 8 x 8 x 8 block
// of colours (an entry is a candidate when its smallest possible distance to
// the block is not above the largest distance of the entry best for the
// block's farthest point), so a search visits few entries and stays exact.
class OwnNearest {
public:
    // `table` holds n entries (1 <= n <= 256). For `pixels` of a million and
    // more, colour keys also fill a table of every colour met (16 MiB), so
    // each distinct colour is searched once.
    bool init(const VexRGBQuad* table, int n, bool grayKeys, int64_t pixels = 0);
    uint8_t gray(uint32_t level) const { return grayLut_[level]; }
    const uint8_t* grayTable() const { return grayLut_; }
    uint8_t colour(uint32_t bgr) {
        if (!full_.empty()) {
            uint64_t& w = known_[bgr >> 6];
            const uint64_t bit = uint64_t(1) << (bgr & 63);
            if (w & bit) return full_[bgr];
            w |= bit;
            return full_[bgr] = search(bgr);
        }
        return search(bgr);
    }

private:
    int brute(int r, int g, int b) const;
    uint8_t search(uint32_t bgr);
    int n_ = 0;
    uint8_t pal_[256][3] = {};  // red, green, blue
    uint8_t grayLut_[256] = {};
    uint32_t lastKey_ = 0xFFFFFFFFu;
    uint8_t lastIdx_ = 0;
    std::vector<int32_t> cellStart_;  // -1: not built yet
    std::vector<uint8_t> pool_;
    std::vector<uint8_t> full_;    // index of every colour met (large images)
    std::vector<uint64_t> known_;  // which colours full_ holds
};

// What the readers and writers consult, filled once per call.
struct OwnDibCtx {
    uint32_t pal[256];   // colour table as records (reserved byte in byte 3)
    OwnDibField f[4];    // 16- and 32-bit colour fields (blue, green, red, alpha)
    OwnNearest* nearest; // indexed writers
    uint8_t lut8[256];   // fast paths: byte 2 of each adapted table entry
};

// From a DIB row into an image row. `ch[c]` is channel c of the row's first
// pixel (16U: its low byte; 1U: the row's first byte).
using OwnFromRowFn = void (*)(const uint8_t* dib, uint8_t* const* ch, int64_t n, const OwnDibCtx& k);
// From an image row into a DIB row.
using OwnToRowFn = void (*)(const uint8_t* const* ch, uint8_t* dib, int64_t n, OwnDibCtx& k);

// Null when the combination has no kernel (a bit count, order, channel
// count or depth outside the supported ones).
OwnFromRowFn ownFromDibRow(int bits, OwnDibOrder order, int nChannels, unsigned depth, bool plane);
// Faster kernels for some common combinations (the same results), or null.
// For 8-bit DIBs the table in k is replaced by the adapted entries.
OwnFromRowFn ownFromDibFast(int bits, OwnDibOrder order, int nChannels, unsigned depth, bool plane,
                            OwnDibCtx& k);
OwnToRowFn ownToDibFast(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                        bool standardMasks, const OwnNearest* nearest);

// grayKeys: the indexed writers look entries up by byte 2 alone (set when
// the records are gray: one-channel images or the gray adapter).
OwnToRowFn ownToDibRow(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                       bool* grayKeys);

}  // namespace vex
