// Device-independent bitmaps: the layout a DIB header declares, its colour
// fields, the gray-ramp rule, the palettes written into a DIB (fixed and
// median cut) and the nearest-entry search of the indexed writers.
//
// Nothing here reads past what the header declares: the colour table (or the
// three masks) that follows the header and the pixel rows after it. Indices
// beyond the table read as entry 0 0 0 0 (see owndib.cpp).
#pragma once

#include <cstdint>

#include "image/ownimage.h"

namespace vex {

constexpr unsigned kDibHeaderSize = 40;
static_assert(sizeof(VexBitmapInfoHeader) == kDibHeaderSize, "bitmap info header is 40 bytes");
static_assert(sizeof(VexRGBQuad) == 4, "colour-table entry is 4 bytes");

// 1, 4, 8, 16, 24 or 32.
inline bool ownDibBitCountOk(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Colour-table length in 4-byte entries: for 1, 4 and 8 bits biClrUsed (or
// 2^biBitCount when 0); 3 masks for 16 and 32 bits with VEX_BI_BITFIELDS;
// else 0.
int64_t ownDibTableLength(const VexBitmapInfoHeader* dib);
// Bytes of one stored row: biWidth x biBitCount bits padded to 4 bytes.
int64_t ownDibStride(int64_t width, int bits);
// Start of the table (or masks) and of the pixel rows.
inline uint8_t* ownDibTable(const VexBitmapInfoHeader* dib) {
    return reinterpret_cast<uint8_t*>(const_cast<VexBitmapInfoHeader*>(dib)) + dib->biSize;
}
inline uint8_t* ownDibPixels(const VexBitmapInfoHeader* dib) {
    return ownDibTable(dib) + 4 * ownDibTableLength(dib);
}

// One colour field: value = ((pixel & mask) >> shift), then narrowed or
// widened to 8 bits (>> down, << up). An empty field (mask 0) reads 0.
struct OwnDibField {
    uint32_t mask;
    int shift, width;
    int down, up;  // to 8 bits: >> down then << up
};
// The four fields in record order (blue, green, red, alpha) of a 16- or
// 32-bit DIB. Returns false when a colour mask of a VEX_BI_BITFIELDS DIB is
// zero (for 16 bits: its low 16 bits).
bool ownDibFields(const VexBitmapInfoHeader* dib, OwnDibField fields[4]);

// True when the colour table (1, 4, 8 bits) has n >= 2 entries and entry i is
// gray i x 255 div (n - 1).
bool ownDibGrayRamp(const VexBitmapInfoHeader* dib);

// The channel orders the DIB functions accept, compared as whole words.
enum class OwnDibOrder { kGray, kKeep, kSwap, kNone };
OwnDibOrder ownDibOrder(const VexImage* image);

// Fixed tables: one-channel images get gray tables, others the standard
// colours. Writes nothing unless n is 2, 16 or 256.
void ownDibFixedTable(VexRGBQuad* table, int64_t n, bool gray);

// Median-cut table of K = 2^bits entries for the image (1U: black and
// white; one channel: 256 levels; three or four channels: 64 x 64 x 64
// cells of the top six bits). Writes at most K entries and returns their
// count, or -1 on a failure (bits above 8, a channel order other than BGR,
// BGRA, RGB, RGBA for colour images, no memory).
int ownMedianCut(const VexImage* image, int bits, VexRGBQuad* table);

}  // namespace vex
