// Row kernels of the DIB conversions. Each pixel passes through a four-byte
// record (bytes 0..3: blue, green, red, alpha): a reader fills it from the
// source format, a channel-order adapter rearranges it, a writer stores it in
// the destination format. The three are template arguments of one row
// routine, chosen once per call from the tables in owndibrow.cpp, so the
// inner loops carry no format tests.
#pragma once

#include <cstddef>
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
//
// A table that is a full product of per-channel levels (entry index =
// (red position x greens + green position) x blues + blue position, as the
// 256-colour cube) is searched per channel: the distance is a sum of one
// term per channel, so the nearest entries are the products of each
// channel's nearest levels, and the lowest index among them takes each
// channel's lowest position. Three lookups give the same index as the
// search over all entries.
class OwnNearest {
public:
    // `table` holds n entries (1 <= n <= 256). For `pixels` of a million and
    // more, colour keys also fill a 16 MiB table of the index of every
    // colour, one 8 x 8 x 8 block (512 colours over its candidate list) at
    // the first colour met in it.
    bool init(const VexRGBQuad* table, int n, bool grayKeys, int64_t pixels = 0);
    uint8_t gray(uint32_t level) const { return grayLut_[level]; }
    const uint8_t* grayTable() const { return grayLut_; }
    // Per channel (0 blue, 1 green, 2 red): level -> that channel's part of
    // the index, when the table is a product of levels (else null).
    const uint8_t* axis(int c) const { return product_ ? axis_[c] : nullptr; }
    // When each channel has at most 8 levels and its nearest position never
    // falls as the level rises: the position of level v is the count of
    // thresholds t[c][k] below v (k < 7, unused ones 255), so the index is
    // blue count + green count x weight(1) + red count x weight(2).
    struct Steps {
        uint8_t t[3][7];
        uint8_t weight[3];
    };
    const Steps* steps() const { return product_ && stepsOk_ ? &steps_ : nullptr; }
    uint8_t colour(uint32_t bgr) {
        if (product_) return uint8_t(axis_[0][bgr & 0xFF] + axis_[1][bgr >> 8 & 0xFF] + axis_[2][bgr >> 16 & 0xFF]);
        if (!full_.empty()) {
            const uint32_t cell = (bgr >> 19 & 31) << 10 | (bgr >> 11 & 31) << 5 | (bgr >> 3 & 31);
            if (!(filled_[cell >> 6] >> (cell & 63) & 1)) fillBlock(cell);
            return full_[std::size_t(cell) << 9 | (bgr >> 16 & 7) << 6 | (bgr >> 8 & 7) << 3 | (bgr & 7)];
        }
        return search(bgr);
    }

private:
    int brute(int r, int g, int b) const;
    bool initProduct();
    int32_t candidates(int r, int g, int b);
    int nearest(int32_t start, int r, int g, int b) const;
    void fillBlock(uint32_t cell);
    uint8_t search(uint32_t bgr);
    int n_ = 0;
    uint8_t pal_[256][3] = {};  // red, green, blue
    uint8_t grayLut_[256] = {};
    bool product_ = false;
    uint8_t axis_[3][256] = {};
    bool stepsOk_ = false;
    Steps steps_ = {};
    uint32_t lastKey_ = 0xFFFFFFFFu;
    uint8_t lastIdx_ = 0;
    std::vector<int32_t> cellStart_;  // -1: not built yet
    std::vector<uint8_t> pool_;
    std::vector<uint8_t> full_;     // index of every colour of the blocks met (large images)
    std::vector<uint64_t> filled_;  // which of the 32768 blocks full_ holds
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
// *copyBytes: the bytes per pixel when the kernel copies one run of bytes
// (the DIB row, or channel 0 of a pixel-order image) into one run, else 0.
OwnFromRowFn ownFromDibFast(int bits, OwnDibOrder order, int nChannels, unsigned depth, bool plane,
                            OwnDibCtx& k, int* copyBytes);
OwnToRowFn ownToDibFast(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                        bool standardMasks, const OwnNearest* nearest, int* copyBytes);

// Copies of rows adding up to kStreamBytes or more go past the cache
// (ownStreamCopy, image/ownstream.h): the destination is not read again
// soon, and streamed stores cost no read of the destination lines.

// grayKeys: the indexed writers look entries up by byte 2 alone (set when
// the records are gray: one-channel images or the gray adapter).
OwnToRowFn ownToDibRow(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                       bool* grayKeys);

}  // namespace vex
