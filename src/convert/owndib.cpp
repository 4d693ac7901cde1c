// DIB layout, colour fields, gray ramps, fixed tables and the median-cut
// palette. See owndib.h.
#include "convert/owndib.h"

#include <cstring>
#include <initializer_list>

#include "frame/ownframe.h"

namespace vex {

int64_t ownDibTableLength(const VexBitmapInfoHeader* dib) {
    const int bits = dib->biBitCount;
    if (bits == 1 || bits == 4 || bits == 8)
        return dib->biClrUsed ? int64_t(dib->biClrUsed) : int64_t(1) << bits;
    if ((bits == 16 || bits == 32) && dib->biCompression == VEX_BI_BITFIELDS) return 3;
    return 0;
}

int64_t ownDibStride(int64_t width, int bits) {
    if (width <= 0) return 0;
    return ((width * bits + 31) & ~int64_t(31)) / 8;
}

namespace {

int ownTrailingZeros(uint32_t v) {
    int n = 0;
    while (!(v & 1u)) v >>= 1, ++n;
    return n;
}

OwnDibField ownField(uint32_t mask) {
    OwnDibField f{mask, 0, 0, 0, 0};
    if (!mask) {
        f.up = 8;  // an empty field reads 0 (0 << 8 narrowed to a byte)
        return f;
    }
    f.shift = ownTrailingZeros(mask);
    for (uint32_t v = mask >> f.shift; v & 1u; v >>= 1) ++f.width;
    if (f.width >= 8) f.down = f.width - 8;
    else f.up = 8 - f.width;
    return f;
}

uint32_t ownReadMask(const VexBitmapInfoHeader* dib, int k) {
    uint32_t m;
    std::memcpy(&m, ownDibTable(dib) + 4 * k, 4);
    return m;
}

}  // namespace

bool ownDibFields(const VexBitmapInfoHeader* dib, OwnDibField fields[4]) {
    uint32_t red, green, blue, alpha = 0;
    const bool masks = dib->biCompression == VEX_BI_BITFIELDS;
    if (dib->biBitCount == 16) {
        if (masks) {
            red = ownReadMask(dib, 0) & 0xFFFFu;
            green = ownReadMask(dib, 1) & 0xFFFFu;
            blue = ownReadMask(dib, 2) & 0xFFFFu;
        } else {
            red = 0x7C00u, green = 0x03E0u, blue = 0x001Fu;
        }
    } else if (masks) {
        red = ownReadMask(dib, 0);
        green = ownReadMask(dib, 1);
        blue = ownReadMask(dib, 2);
    } else {
        red = 0xFF0000u, green = 0xFF00u, blue = 0xFFu, alpha = 0xFF000000u;
    }
    if (masks && (!red || !green || !blue)) return false;
    fields[0] = ownField(blue);
    fields[1] = ownField(green);
    fields[2] = ownField(red);
    if (dib->biBitCount == 32 && masks) {
        // Alpha: every bit above the highest of the three colour fields.
        int top = 0;
        for (int k = 0; k < 3; ++k)
            if (fields[k].shift + fields[k].width > top) top = fields[k].shift + fields[k].width;
        alpha = top >= 32 ? 0u : ~0u << top;
    }
    fields[3] = ownField(alpha);
    return true;
}

bool ownDibGrayRamp(const VexBitmapInfoHeader* dib) {
    const int bits = dib->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8) return false;
    const int64_t n = ownDibTableLength(dib);
    if (n < 2) return false;
    const uint8_t* t = ownDibTable(dib);
    for (int64_t i = 0; i < n; ++i) {
        const int64_t v = i * 255 / (n - 1);
        if (t[4 * i] != v || t[4 * i + 1] != v || t[4 * i + 2] != v) return false;
    }
    return true;
}

OwnDibOrder ownDibOrder(const VexImage* image) {
    uint32_t word;
    std::memcpy(&word, image->channelSeq, 4);
    auto is = [word](const char (&text)[5]) {
        uint32_t w;
        std::memcpy(&w, text, 4);
        return w == word;
    };
    if (is("G\0\0\0") || is("GRAY")) return OwnDibOrder::kGray;
    if (is("BGR\0") || is("BGRA")) return OwnDibOrder::kKeep;
    if (is("RGB\0") || is("RGBA")) return OwnDibOrder::kSwap;
    return OwnDibOrder::kNone;
}

void ownDibFixedTable(VexRGBQuad* table, int64_t n, bool gray) {
    static const uint8_t kStandard16[16][3] = {  // red, green, blue
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
        {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0}, {0, 255, 0},  {255, 255, 0},
        {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    static const uint8_t kLevels8[8] = {0, 32, 64, 96, 128, 160, 192, 255};
    static const uint8_t kLevels4[4] = {0, 64, 128, 255};
    auto put = [&](int i, int r, int g, int b) {
        table[i].rgbRed = uint8_t(r);
        table[i].rgbGreen = uint8_t(g);
        table[i].rgbBlue = uint8_t(b);
        table[i].rgbReserved = 0;
    };
    if (n == 2) {
        put(0, 0, 0, 0);
        put(1, 255, 255, 255);
    } else if (n == 16) {
        for (int i = 0; i < 16; ++i) {
            if (gray) put(i, i * 17, i * 17, i * 17);
            else put(i, kStandard16[i][0], kStandard16[i][1], kStandard16[i][2]);
        }
    } else if (n == 256) {
        for (int i = 0; i < 256; ++i) {
            if (gray) put(i, i, i, i);
            else put(i, kLevels8[i >> 5], kLevels8[(i >> 2) & 7], kLevels4[i & 3]);
        }
    }
}

// ---------------------------------------------------------------------------
// Median cut.
namespace {

// A box of histogram cells: bounds per axis (colour: 0 blue, 1 green, 2 red;
// gray: axis 0 only), its pixel count and whether it is one cell. 32 bytes.
struct OwnBox {
    int lo[3], hi[3];
    uint32_t count;
    int finished;
};
static_assert(sizeof(OwnBox) == 32, "box entries are 32 bytes");

// The histogram seen as a 3-axis grid of side `side` (gray: 256 x 1 x 1).
struct OwnGrid {
    const uint32_t* h;
    int side[3];
    int stride[3];  // cell index = sum of level x stride
    int axes;

    uint32_t at(int a0, int a1, int a2) const {
        return h[a0 * stride[0] + a1 * stride[1] + a2 * stride[2]];
    }
    // Shrinks box b to the occupied cells inside it; returns its sum.
    uint64_t shrink(OwnBox& b) const {
        int lo[3] = {b.hi[0], b.hi[1], b.hi[2]}, hi[3] = {b.lo[0], b.lo[1], b.lo[2]};
        uint64_t sum = 0;
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                for (int k = b.lo[2]; k <= b.hi[2]; ++k) {
                    const uint32_t c = at(i, j, k);
                    if (!c) continue;
                    sum += c;
                    const int v[3] = {i, j, k};
                    for (int a = 0; a < 3; ++a) {
                        if (v[a] < lo[a]) lo[a] = v[a];
                        if (v[a] > hi[a]) hi[a] = v[a];
                    }
                }
        if (sum) {
            for (int a = 0; a < 3; ++a) b.lo[a] = lo[a], b.hi[a] = hi[a];
        }
        b.finished = b.lo[0] == b.hi[0] && b.lo[1] == b.hi[1] && b.lo[2] == b.hi[2];
        return sum;
    }
    // Splits `b` into b and `out` (see ownMedianCut).
    void split(OwnBox& b, OwnBox& out) const {
        // Axis of largest extent; ties go to red, then green, then blue.
        int axis = axes == 1 ? 0 : 2;
        if (axes == 3) {
            for (int a : {1, 0})
                if (b.hi[a] - b.lo[a] > b.hi[axis] - b.lo[axis]) axis = a;
        }
        int64_t sums[256];
        for (int l = b.lo[axis]; l <= b.hi[axis]; ++l) sums[l] = 0;
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                for (int k = b.lo[2]; k <= b.hi[2]; ++k) {
                    const int v[3] = {i, j, k};
                    sums[v[axis]] += at(i, j, k);
                }
        // Running count against half the box's count, in doubled units.
        const int64_t total = b.count;
        int64_t run = 0;
        int cut = b.hi[axis] - 1;
        for (int l = b.lo[axis]; l <= b.hi[axis]; ++l) {
            const int64_t prev = run;
            run += sums[l];
            if (2 * run > total) {
                cut = l;
                const int64_t dPrev = 2 * prev - total, dRun = 2 * run - total;
                if (l > b.lo[axis] && (dPrev < 0 ? -dPrev : dPrev) < (dRun < 0 ? -dRun : dRun)) cut = l - 1;
                break;
            }
        }
        // A cut after the last slice would leave the second part empty.
        if (cut >= b.hi[axis]) cut = b.hi[axis] - 1;
        out = b;
        b.hi[axis] = cut;
        out.lo[axis] = cut + 1;
        b.count = uint32_t(shrink(b));
        out.count = uint32_t(shrink(out));
    }
    // Count-weighted mean level per axis, truncated.
    void mean(const OwnBox& b, int m[3]) const {
        uint64_t s[3] = {0, 0, 0}, n = 0;
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                for (int k = b.lo[2]; k <= b.hi[2]; ++k) {
                    const uint64_t c = at(i, j, k);
                    n += c, s[0] += c * i, s[1] += c * j, s[2] += c * k;
                }
        for (int a = 0; a < 3; ++a) m[a] = n ? int(s[a] / n) : 0;
    }
};

// Pixels of the image, as 8-bit samples of channel c (16U: the high byte).
template <class F>
void ownEachPixel(const VexImage* image, F f) {
    const bool wide = image->depth == VEX_DEPTH_16U;
    const int n = image->nChannels, es = wide ? 2 : 1;
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE && n > 1;
    const int64_t step = ownImageStep(image), planeSize = step * image->height;
    const int64_t pix = plane ? es : int64_t(n) * es;
    const int take = n >= 3 ? 3 : 1;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = reinterpret_cast<const uint8_t*>(image->imageData) + y * step;
        const uint8_t* ch[3];
        for (int c = 0; c < take; ++c) ch[c] = row + (plane ? c * planeSize : int64_t(c) * es) + (wide ? 1 : 0);
        for (int x = 0; x < image->width; ++x) {
            uint8_t v[3];
            for (int c = 0; c < take; ++c) v[c] = ch[c][x * pix];
            f(v);
        }
    }
}

template <int N, int Blue>
void ownHistPacked(const VexImage* image, uint32_t* hist) {
    const int64_t step = ownImageStep(image);
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(image->imageData) + y * step;
        for (int x = 0; x < image->width; ++x, p += N)
            ++hist[(p[Blue] >> 2) * 4096 + (p[1] >> 2) * 64 + (p[2 - Blue] >> 2)];
    }
}

}  // namespace

int ownMedianCut(const VexImage* image, int bits, VexRGBQuad* table) {
    if (bits > 8 || bits < 1) return -1;
    const int K = 1 << bits;
    auto put = [&](int i, int r, int g, int b) {
        table[i].rgbRed = uint8_t(r);
        table[i].rgbGreen = uint8_t(g);
        table[i].rgbBlue = uint8_t(b);
        table[i].rgbReserved = 0;
    };
    if (image->depth == VEX_DEPTH_1U) {
        put(0, 0, 0, 0);
        put(1, 255, 255, 255);
        return 2;
    }
    const bool colour = image->nChannels >= 3;
    int blue = 0;  // channel holding blue
    if (colour) {
        const OwnDibOrder order = ownDibOrder(image);
        if (order != OwnDibOrder::kKeep && order != OwnDibOrder::kSwap) return -1;
        blue = order == OwnDibOrder::kKeep ? 0 : 2;
    }
    const int cells = colour ? 64 * 64 * 64 : 256;
    OwnBlock histBlock, boxBlock;
    auto* hist = histBlock.alloc<uint32_t>(cells);
    auto* boxes = boxBlock.alloc<OwnBox>(K);
    if (!hist || !boxes) return -1;
    std::memset(hist, 0, size_t(cells) * 4);
    const bool packed8 = image->depth == VEX_DEPTH_8U &&
                         (image->dataOrder == VEX_DATA_ORDER_PIXEL || image->nChannels == 1);
    if (colour && packed8) {
        // 8-bit pixel order: a fixed stride and channel positions.
        if (image->nChannels == 3) blue ? ownHistPacked<3, 2>(image, hist) : ownHistPacked<3, 0>(image, hist);
        else blue ? ownHistPacked<4, 2>(image, hist) : ownHistPacked<4, 0>(image, hist);
    } else if (colour) {
        const int red = 2 - blue;
        ownEachPixel(image, [&](const uint8_t* v) {
            ++hist[(v[blue] >> 2) * 4096 + (v[1] >> 2) * 64 + (v[red] >> 2)];
        });
    } else {
        ownEachPixel(image, [&](const uint8_t* v) { ++hist[v[0]]; });
    }

    OwnGrid grid{hist, {256, 1, 1}, {1, 0, 0}, 1};
    if (colour) grid = OwnGrid{hist, {64, 64, 64}, {4096, 64, 1}, 3};
    const int scale = colour ? 4 : 1;

    int occupied = 0;
    for (int i = 0; i < cells; ++i) occupied += hist[i] != 0;
    int n = 0;
    if (occupied <= K) {
        // Every occupied level (cell), in ascending order.
        for (int i = 0; i < cells; ++i) {
            if (!hist[i]) continue;
            if (colour) put(n++, (i & 63) * 4, ((i >> 6) & 63) * 4, (i >> 12) * 4);
            else put(n++, i, i, i);
        }
    } else {
        OwnBox& first = boxes[0];
        for (int a = 0; a < 3; ++a) first.lo[a] = 0, first.hi[a] = grid.side[a] - 1;
        grid.shrink(first);
        first.count = uint32_t(int64_t(image->height) * image->width);
        n = 1;
        // Passes: each box that existed when the pass began and is not one
        // cell is split once, in box order, until K boxes exist.
        while (n < K) {
            const int atStart = n;
            bool split = false;
            for (int i = 0; i < atStart && n < K; ++i) {
                if (boxes[i].finished) continue;
                grid.split(boxes[i], boxes[n]);
                ++n;
                split = true;
            }
            if (!split) break;
        }
        for (int i = 0; i < n; ++i) {
            int m[3];
            grid.mean(boxes[i], m);
            if (colour) put(i, m[2] * scale, m[1] * scale, m[0] * scale);
            else put(i, m[0], m[0], m[0]);
        }
        // The header then states K entries (all of them written: boxes can
        // run out only when every box is one cell, i.e. never with more
        // than K occupied cells).
        for (int i = n; i < K; ++i) put(i, 0, 0, 0);
        n = K;
    }
    return n;
}

}  // namespace vex
