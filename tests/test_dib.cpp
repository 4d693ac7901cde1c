// DIB interchange: vexTranslateDIB, vexConvertFromDIB and vexConvertToDIB
// against a plain decoder and encoder written here from the bitmap rules,
// over every bit count, compression, row direction, image layout and
// palette mode; the median-cut table against a plain implementation of the
// same rule; BMPs written by stb's writer read back; every check text, with
// the destination left untouched. DIBs live in buffers of exactly the size
// their header declares, so a read past them is a sanitizer report.

// A program may also declare the platform's own bitmap records: these
// stand-ins use the platform's names and layout, and vexlib.h must still
// compile after them.
typedef unsigned int DWORD;
typedef int LONG;
typedef unsigned short WORD;
typedef unsigned char BYTE;
typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;
typedef struct tagRGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
} RGBQUAD;
#define BI_RGB 0L
#define BI_BITFIELDS 3L

#include <gtest/gtest.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vexlib.h"
#include "vextest.h"

static_assert(sizeof(VexBitmapInfoHeader) == 40 && sizeof(VexBitmapInfoHeader) == sizeof(BITMAPINFOHEADER), "");
static_assert(sizeof(VexRGBQuad) == 4 && sizeof(VexRGBQuad) == sizeof(RGBQUAD), "");
static_assert(offsetof(VexBitmapInfoHeader, biPlanes) == offsetof(BITMAPINFOHEADER, biPlanes), "");
static_assert(offsetof(VexBitmapInfoHeader, biBitCount) == 14 && offsetof(VexBitmapInfoHeader, biCompression) == 16, "");
static_assert(offsetof(VexBitmapInfoHeader, biClrUsed) == offsetof(BITMAPINFOHEADER, biClrUsed), "");
static_assert(offsetof(VexRGBQuad, rgbRed) == offsetof(RGBQUAD, rgbRed), "");
static_assert(VEX_BI_RGB == BI_RGB && VEX_BI_BITFIELDS == BI_BITFIELDS, "");

namespace {

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// A DIB in a buffer of exactly its declared size.
struct Dib {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    VexBitmapInfoHeader* h() const { return reinterpret_cast<VexBitmapInfoHeader*>(bytes.get()); }
    int64_t tableLen() const {
        const int b = h()->biBitCount;
        if (b <= 8) return h()->biClrUsed ? h()->biClrUsed : 1 << b;
        return (b == 16 || b == 32) && h()->biCompression == 3 ? 3 : 0;
    }
    uint8_t* table() const { return bytes.get() + 40; }
    uint8_t* pixels() const { return table() + 4 * tableLen(); }
    int64_t stride() const { return ((int64_t(h()->biWidth) * h()->biBitCount + 31) & ~31) / 8; }
    std::vector<uint8_t> copy() const { return std::vector<uint8_t>(bytes.get(), bytes.get() + size); }
};

// Header, table room for `entries` (or the masks), rows; all bytes `fill`.
Dib makeDib(int bits, int width, int height, unsigned compression = 0, unsigned clrUsed = 0, int entries = -1,
            uint8_t fill = 0xA5) {
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    int64_t table = bits <= 8 ? (clrUsed ? clrUsed : 1 << bits) : (compression == 3 && bits != 24 ? 3 : 0);
    if (entries >= 0) table = entries;
    const int64_t stride = ((int64_t(width) * bits + 31) & ~31) / 8;
    Dib d;
    d.size = size_t(40 + 4 * table + stride * rows);
    d.bytes.reset(new uint8_t[d.size]);
    std::memset(d.bytes.get(), fill, d.size);
    VexBitmapInfoHeader hd{};
    hd.biSize = 40, hd.biWidth = width, hd.biHeight = height, hd.biPlanes = 1;
    hd.biBitCount = uint16_t(bits), hd.biCompression = compression, hd.biClrUsed = clrUsed;
    std::memcpy(d.bytes.get(), &hd, 40);
    return d;
}

void setMasks(Dib& d, uint32_t r, uint32_t g, uint32_t b) {
    std::memcpy(d.table(), &r, 4);
    std::memcpy(d.table() + 4, &g, 4);
    std::memcpy(d.table() + 8, &b, 4);
}

// ------------------------------------------------------------ reference decoder
// The DIB's pixel at picture position (x, y from the top) as B, G, R, A.
struct Px { int b, g, r, a; };

int fieldByte(uint32_t v, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0, width = 0;
    while (!((mask >> shift) & 1)) ++shift;
    while (shift + width < 32 && ((mask >> (shift + width)) & 1)) ++width;
    const uint32_t f = (v & mask) >> shift;
    return int(width >= 8 ? f >> (width - 8) : f << (8 - width)) & 255;
}

void masksOf(const Dib& d, uint32_t m[4]) {
    const int bits = d.h()->biBitCount;
    if (d.h()->biCompression == 3) {
        for (int k = 0; k < 3; ++k) std::memcpy(&m[k], d.table() + 4 * k, 4);
        if (bits == 16) for (int k = 0; k < 3; ++k) m[k] &= 0xFFFF;
        int top = 0;
        for (int k = 0; k < 3; ++k)
            for (int i = 31; i >= 0; --i)
                if ((m[k] >> i) & 1) { top = std::max(top, i + 1); break; }
        // The colour fields are contiguous in these tests, so "above the highest field" is above the top bit.
        m[3] = bits == 32 && top < 32 ? ~0u << top : 0;
    } else if (bits == 16) {
        m[0] = 0x7C00, m[1] = 0x3E0, m[2] = 0x1F, m[3] = 0;
    } else {
        m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF, m[3] = 0xFF000000u;
    }
}

Px refPixel(const Dib& d, int x, int y) {
    const int bits = d.h()->biBitCount, height = d.h()->biHeight;
    const int rows = height < 0 ? -height : height;
    const uint8_t* row = d.pixels() + (height > 0 ? rows - 1 - y : y) * d.stride();
    auto entry = [&](int i) -> Px {
        if (i >= d.tableLen()) return {0, 0, 0, 0};
        const uint8_t* t = d.table() + 4 * i;
        return {t[0], t[1], t[2], t[3]};
    };
    if (bits == 1) return entry((row[x / 8] >> (7 - x % 8)) & 1);
    if (bits == 4) return entry(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
    if (bits == 8) return entry(row[x]);
    if (bits == 24) return {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
    uint32_t m[4], v = 0;
    masksOf(d, m);
    std::memcpy(&v, row + x * bits / 8, size_t(bits / 8));
    return {fieldByte(v, m[2]), fieldByte(v, m[1]), fieldByte(v, m[0]), bits == 32 ? fieldByte(v, m[3]) : 0};
}

// Fills the DIB's rows (and table) with pseudo-random content.
void randomDib(Dib& d, std::mt19937& rng) {
    for (uint8_t* p = d.table(); p < d.pixels(); ++p) *p = uint8_t(rng());
    uint32_t x = uint32_t(rng()) | 1;
    for (uint8_t* p = d.pixels(); p < d.bytes.get() + d.size; ++p) x ^= x << 13, x ^= x >> 17, x ^= x << 5, *p = uint8_t(x);
}

const int kChans[3] = {1, 3, 4};
const char* const kSeqs[] = {"G", "GRAY", "BGR", "BGRA", "RGB", "RGBA"};

// What an image sample holds after vexConvertFromDIB, from the record.
int64_t expectedSample(const Px& p, const char* seq, int nChannels, unsigned depth, int c) {
    int rec[4] = {p.b, p.g, p.r, p.a};
    if (seq[0] == 'G') rec[2] = (77 * p.r + 151 * p.g + 28 * p.b) >> 8;
    else if (seq[0] == 'R') std::swap(rec[0], rec[2]);
    const int byte = nChannels == 1 ? rec[2] : rec[c - 1];
    if (depth == VEX_DEPTH_1U) return byte > 127;
    return depth == VEX_DEPTH_16U ? byte * 256 : byte;
}

struct Format { int bits; unsigned compression; };
const Format kFormats[] = {{1, 0}, {4, 0}, {8, 0}, {16, 0}, {16, 3}, {24, 0}, {32, 0}, {32, 3}};

TEST(Dib, FromDibFollowsTheRulesForEveryFormatAndLayout) {
    std::mt19937 rng(11);
    const unsigned depths[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    for (int iter = 0; iter < 400; ++iter) {
        const Format f = kFormats[iter % 8];
        const int w = pick(rng, 1, 37), h = pick(rng, 1, 9) * (rng() & 1 ? 1 : -1);
        unsigned clrUsed = f.bits <= 8 && rng() % 3 == 0 ? unsigned(pick(rng, 1, 1 << f.bits)) : 0;
        Dib d = makeDib(f.bits, w, h, f.compression, clrUsed);
        randomDib(d, rng);
        if (f.compression == 3) {
            const int s = pick(rng, 0, f.bits == 16 ? 4 : 8), wr = pick(rng, 1, 6), wg = pick(rng, 1, 6), wb = pick(rng, 1, 5);
            const uint32_t mb = ((1u << wb) - 1) << s, mg = ((1u << wg) - 1) << (s + wb), mr = ((1u << wr) - 1) << (s + wb + wg);
            setMasks(d, mr, mg, mb);
        }
        const unsigned depth = depths[pick(rng, 0, 2)];
        const int nCh = depth == VEX_DEPTH_1U ? 1 : kChans[pick(rng, 0, 2)];
        const char* seq = kSeqs[pick(rng, 0, 5)];
        const int order = pick(rng, 0, 1), origin = pick(rng, 0, 1), align = rng() & 1 ? 8 : 4;
        const int ih = (h < 0 ? -h : h) + pick(rng, 0, 3), iw = w + pick(rng, 0, 3);
        vt::Image img(depth, nCh, ih, iw, order, align, origin);
        std::memcpy(img.get()->channelSeq, seq, std::min<size_t>(4, std::strlen(seq) + 1));
        if (std::strlen(seq) < 4) std::memset(img.get()->channelSeq + std::strlen(seq), 0, 4 - std::strlen(seq));
        vt::Image before = img.clone();
        vexSetErrStatus(VEX_StsOk);
        vexConvertFromDIB(d.h(), img.get());
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus()) << f.bits;
        for (int y = 0; y < ih; ++y)
            for (int x = 0; x < iw; ++x) {
                const int my = origin == VEX_ORIGIN_BL ? ih - 1 - y : y;  // picture row of stored row y
                for (int c = 1; c <= nCh; ++c) {
                    const bool inside = x < w && my < (h < 0 ? -h : h);
                    const int64_t want = inside ? expectedSample(refPixel(d, x, my), seq, nCh, depth, c) : before.sample(x, y, c);
                    ASSERT_EQ(want, img.sample(x, y, c))
                        << "bits " << f.bits << " comp " << f.compression << " seq " << seq << " ch " << nCh << " depth "
                        << vt::depthName(depth) << " order " << order << " origin " << origin << " at " << x << "," << y << "," << c;
                }
            }
    }
}

// ------------------------------------------------------------ reference encoder
int nearestIndex(const Dib& d, int n, int r, int g, int b) {
    int best = 0, bestD = 1 << 30;
    for (int i = 0; i < n; ++i) {
        const uint8_t* t = d.table() + 4 * i;
        const int dd = (r - t[2]) * (r - t[2]) + (g - t[1]) * (g - t[1]) + (b - t[0]) * (b - t[0]);
        if (dd < bestD) bestD = dd, best = i;
    }
    return best;
}

// The DIB vexConvertToDIB must produce from `img` into `d` (its table
// already final), written into `out` (a copy of d's bytes).
// With rowStep, only the DIB's stored rows 0, rowStep, 2 rowStep ...
void refEncode(const VexImage* img, const Dib& d, std::vector<uint8_t>& out, bool highByte = true, int rowStep = 1) {
    const int bits = d.h()->biBitCount, w = img->width, h = img->height, nCh = img->nChannels;
    const int64_t stride = d.stride(), tableBytes = 4 * d.tableLen();
    uint32_t m[4] = {0, 0, 0, 0};
    if (bits == 16 || bits == 32) masksOf(d, m);
    const bool gray = img->channelSeq[0] == 'G';
    const bool swap = img->channelSeq[0] == 'R';
    const int n = bits <= 8 ? int(std::min<int64_t>(d.tableLen(), 1 << bits)) : 0;
    for (int y = 0; y < h; ++y) {
        if ((h - 1 - y) % rowStep) continue;
        const int sy = img->origin == VEX_ORIGIN_BL ? h - 1 - y : y;
        uint8_t* row = out.data() + 40 + tableBytes + (h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            int rec[4] = {0, 0, 0, 0};
            auto val = [&](int c) {
                const int64_t v = vt::sample(img, x, sy, c);
                return int(img->depth == VEX_DEPTH_16U ? (highByte ? v >> 8 : v) : img->depth == VEX_DEPTH_1U ? (v ? 255 : 0) : v);
            };
            if (nCh == 1) {
                rec[0] = rec[1] = rec[2] = val(1);
            } else {
                for (int c = 0; c < nCh; ++c) rec[c] = val(c + 1);
                if (gray) rec[0] = rec[1] = rec[2], rec[3] = 0;
                else if (swap) std::swap(rec[0], rec[2]);
            }
            if (bits <= 8) {
                const int i = nearestIndex(d, n, rec[2], rec[1], rec[0]);
                if (bits == 8) row[x] = uint8_t(i);
                else if (bits == 4) row[x / 2] = uint8_t(x % 2 ? (row[x / 2] & 0xF0) | i : (row[x / 2] & 0x0F) | i << 4);
                else row[x / 8] = uint8_t(i ? row[x / 8] | 0x80 >> (x % 8) : row[x / 8] & ~(0x80 >> (x % 8)));
            } else if (bits == 24) {
                for (int k = 0; k < 3; ++k) row[3 * x + k] = uint8_t(rec[k]);
            } else {
                const uint32_t order[4] = {m[2], m[1], m[0], m[3]};  // blue, green, red, alpha masks
                uint32_t v = 0;
                for (int k = 0; k < (bits == 16 ? 3 : 4); ++k) {
                    if (!order[k]) continue;
                    int shift = 0, width = 0;
                    while (!((order[k] >> shift) & 1)) ++shift;
                    while (shift + width < 32 && ((order[k] >> (shift + width)) & 1)) ++width;
                    const uint32_t b = uint32_t(rec[k]);
                    const uint32_t narrowed = bits == 16 ? (width <= 8 ? b >> (8 - width) : b << (width - 8)) : b;
                    v |= (narrowed << shift) & order[k];
                }
                std::memcpy(row + x * bits / 8, &v, size_t(bits / 8));
            }
        }
    }
}

// A table that is a product of per-channel levels (entry (r x greens + g)
// x blues + b), some sorted, some in any order or with repeated levels;
// biClrUsed becomes its length (the rows move up, the buffer keeps its size).
void productTable(Dib& d, std::mt19937& rng) {
    const int n = int(std::min<int64_t>(d.tableLen(), 1 << d.h()->biBitCount));
    int nb = 1, ng = 1;
    while (nb * 2 <= n && rng() % 3) nb *= 2;
    while (nb * ng * 2 <= n && rng() % 3) ng *= 2;
    const int nr = pick(rng, 1, rng() % 4 ? std::min(8, n / (nb * ng)) : n / (nb * ng));
    const int count[3] = {nb, ng, nr};
    std::vector<uint8_t> levels[3];
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < count[c]; ++j) levels[c].push_back(uint8_t(rng() % 4 ? rng() : levels[c].empty() ? 0 : levels[c].back()));
        if (rng() % 2) std::sort(levels[c].begin(), levels[c].end());
    }
    for (int i = 0; i < nb * ng * nr; ++i) {
        uint8_t* t = d.table() + 4 * i;
        t[0] = levels[0][size_t(i % nb)], t[1] = levels[1][size_t(i / nb % ng)], t[2] = levels[2][size_t(i / (nb * ng))];
    }
    d.h()->biClrUsed = unsigned(nb * ng * nr);
}

// The fixed 256-entry tables: the 8 x 8 x 4 colour cube, or the gray ramp.
void fixedTable256(uint8_t* table, bool gray) {
    const int levels8[8] = {0, 32, 64, 96, 128, 160, 192, 255}, levels4[4] = {0, 64, 128, 255};
    for (int i = 0; i < 256; ++i) {
        const uint8_t q[4] = {uint8_t(levels4[i & 3]), uint8_t(levels8[i >> 2 & 7]), uint8_t(levels8[i >> 5]), 0};
        const uint8_t g[4] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        std::memcpy(table + 4 * i, gray ? g : q, 4);
    }
}

void fillRandom(VexImage* img, uint32_t key) {
    uint32_t x = key | 1;
    for (int i = 0; i < img->dataSize; ++i) x ^= x << 13, x ^= x >> 17, x ^= x << 5, img->imageData[i] = char(x);
}

void setSeq(VexImage* img, const char* seq) {
    std::memset(img->channelSeq, 0, 4);
    std::memcpy(img->channelSeq, seq, std::min<size_t>(4, std::strlen(seq)));
}

TEST(Dib, ToDibFollowsTheRulesForEveryFormatAndLayout) {
    std::mt19937 rng(12);
    const unsigned depths[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    for (int iter = 0; iter < 400; ++iter) {
        const Format f = kFormats[iter % 8];
        const int w = pick(rng, 1, 33), h = pick(rng, 1, 9);
        const unsigned depth = depths[pick(rng, 0, 2)];
        const int nCh = depth == VEX_DEPTH_1U ? 1 : kChans[pick(rng, 0, 2)];
        vt::Image img(depth, nCh, h, w, pick(rng, 0, 1), rng() & 1 ? 8 : 4, pick(rng, 0, 1));
        img.fillPattern(uint32_t(rng()));
        if (nCh == 4) img.get()->alphaChannel = 4;
        setSeq(img.get(), nCh == 1 ? kSeqs[pick(rng, 0, 1)] : kSeqs[pick(rng, 0, 5)]);
        unsigned clrUsed = f.bits <= 8 && rng() % 3 == 0 ? unsigned(pick(rng, 1, 1 << f.bits)) : 0;
        Dib d = makeDib(f.bits, w, h, f.compression, clrUsed);
        randomDib(d, rng);
        if (f.compression == 3) {
            const int s = pick(rng, 0, f.bits == 16 ? 3 : 8), wr = pick(rng, 1, 6), wg = pick(rng, 1, 7), wb = pick(rng, 1, 5);
            setMasks(d, ((1u << wr) - 1) << (s + wb + wg), ((1u << wg) - 1) << (s + wb), ((1u << wb) - 1) << s);
        }
        d.h()->biClrUsed = clrUsed;
        if (f.bits <= 8 && rng() % 2) productTable(d, rng);
        std::vector<uint8_t> want = d.copy();
        refEncode(img.get(), d, want);
        vexSetErrStatus(VEX_StsOk);
        vexConvertToDIB(img.get(), d.h(), 1, 0);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        ASSERT_TRUE(want == d.copy()) << "bits " << f.bits << " comp " << f.compression << " ch " << nCh << " depth "
                                      << vt::depthName(depth) << " seq " << std::string(img.get()->channelSeq, 4);
    }
}

// ------------------------------------------------------------ round trips
TEST(Dib, RoundTripsForEveryBitCountAndPaletteMode) {
    std::mt19937 rng(13);
    for (int bits : {1, 4, 8, 16, 24, 32})
        for (int palette : {0, 1, 2}) {
            const int w = 29, h = 7;
            const int nCh = bits == 32 ? 4 : 3;
            vt::Image img(VEX_DEPTH_8U, nCh, h, w);
            setSeq(img.get(), nCh == 4 ? "RGBA" : "RGB");
            if (nCh == 4) img.get()->alphaChannel = 4;
            // Few enough colours for the table (median cut keeps them exactly;
            // the fixed tables hold the black and white used with 1 bit).
            const int K = bits <= 8 ? 1 << bits : 0;
            std::vector<int> colours;
            for (int i = 0; i < (K ? K : 64); ++i) colours.push_back(int(rng() & 0xFCFCFC));
            if (bits == 1 || palette == 1) colours = {0, 0xFFFFFF};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int c = colours[size_t(pick(rng, 0, int(colours.size()) - 1))];
                    for (int k = 0; k < 3; ++k) img.setSample(x, y, k + 1, (c >> (8 * k)) & 0xFF);
                    if (nCh == 4) img.setSample(x, y, 4, pick(rng, 0, 255));
                }
            Dib d = makeDib(bits, w, h, 0, 0, bits <= 8 ? 1 << bits : 0);
            if (palette == 0 && bits <= 8) {
                // The caller's table: the colours themselves.
                for (size_t i = 0; i < colours.size() && int(i) < K; ++i) {
                    VexRGBQuad q{uint8_t(colours[i] >> 16), uint8_t(colours[i] >> 8), uint8_t(colours[i]), 0};
                    std::memcpy(d.table() + 4 * i, &q, 4);
                }
                for (int i = int(colours.size()); i < K; ++i) std::memcpy(d.table() + 4 * i, d.table(), 4);
            }
            vexSetErrStatus(VEX_StsOk);
            vexConvertToDIB(img.get(), d.h(), 1, palette);
            ASSERT_EQ(VEX_StsOk, vexGetErrStatus()) << bits << " " << palette;
            vt::Image back(VEX_DEPTH_8U, nCh, h, w);
            setSeq(back.get(), nCh == 4 ? "RGBA" : "RGB");
            vexConvertFromDIB(d.h(), back.get());
            ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 1; c <= 3; ++c) {
                        int64_t v = img.sample(x, y, c);
                        if (bits == 16) v &= 0xF8;  // 5 bits per field
                        if (palette == 2 && bits <= 8) v &= 0xFC;  // six-bit levels x 4
                        ASSERT_EQ(v, back.sample(x, y, c)) << "bits " << bits << " palette " << palette;
                    }
            if (bits == 32) {
                for (int x = 0; x < w; ++x) ASSERT_EQ(img.sample(x, 0, 4), back.sample(x, 0, 4));
            }
        }
}

TEST(Dib, FiveFiveFiveWhiteReadsAs248AndThirtyTwoBitAlphaIsTheTopByte) {
    Dib d = makeDib(16, 1, 1);
    d.pixels()[0] = 0xFF, d.pixels()[1] = 0x7F;
    vt::Image img(VEX_DEPTH_8U, 3, 1, 1);
    setSeq(img.get(), "BGR");
    vexSetErrStatus(VEX_StsOk);
    vexConvertFromDIB(d.h(), img.get());
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(248, img.sample(0, 0, c));
    Dib d32 = makeDib(32, 1, 1);
    const uint8_t px[4] = {1, 2, 3, 200};
    std::memcpy(d32.pixels(), px, 4);
    vt::Image rgba(VEX_DEPTH_8U, 4, 1, 1);
    setSeq(rgba.get(), "BGRA");
    vexConvertFromDIB(d32.h(), rgba.get());
    EXPECT_EQ(200, rgba.sample(0, 0, 4));
    EXPECT_EQ(1, rgba.sample(0, 0, 1));
    Dib d24 = makeDib(24, 1, 1);
    vexConvertFromDIB(d24.h(), rgba.get());
    EXPECT_EQ(0, rgba.sample(0, 0, 4));
    EXPECT_EQ(VEX_StsOk, vexGetErrStatus());
}

// The indexed writers against a search over all entries, for random colours
// and tables of every kind: the cube, products of levels (sorted or not,
// with repeats, with few or many levels per channel), arbitrary entries.
TEST(Dib, NearestEntriesOverRandomColours) {
    std::mt19937 rng(20);
    const char* const seqs[4] = {"BGR", "RGB", "BGRA", "RGBA"};
    for (int iter = 0; iter < 300; ++iter) {
        const int bits = iter % 4 == 3 ? 4 : 8, nCh = iter % 8 < 4 ? 3 : 4;
        const int w = pick(rng, 1, 70), h = pick(rng, 1, 5);
        vt::Image img(VEX_DEPTH_8U, nCh, h, w, pick(rng, 0, 1), 4, pick(rng, 0, 1));
        setSeq(img.get(), seqs[(nCh - 3) * 2 + pick(rng, 0, 1)]);
        img.get()->alphaChannel = nCh == 4 ? 4 : 0;
        fillRandom(img.get(), uint32_t(rng()));
        Dib d = makeDib(bits, w, h, 0, rng() % 4 ? 0 : unsigned(pick(rng, 1, 1 << bits)));
        randomDib(d, rng);
        if (iter % 5 == 0 && bits == 8 && d.tableLen() == 256) fixedTable256(d.table(), false);
        else if (iter % 5 != 1) productTable(d, rng);
        std::vector<uint8_t> want = d.copy();
        refEncode(img.get(), d, want);
        vexSetErrStatus(VEX_StsOk);
        vexConvertToDIB(img.get(), d.h(), 1, 0);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        ASSERT_TRUE(want == d.copy()) << iter;
    }
}

// Calls writing 16 MiB and more stream their rows; a million pixels and more
// make the indexed writer keep a table of every colour met. Rows with
// padding, both channel orders; whole rows (padding included) every 23rd
// row against the reference.
TEST(Dib, LargeImagesGiveTheSameBytes) {
    struct Case { bool toDib; int bits, nCh; const char* seq; int palette, w, h; };
    const Case cases[] = {
        {false, 24, 3, "BGR", 0, 2403, 2400}, {false, 24, 3, "RGB", 0, 2403, 2400}, {false, 8, 4, "BGRA", 0, 2403, 2400},
        {true, 24, 3, "RGB", 0, 2403, 2400},  {true, 8, 4, "RGBA", 1, 2403, 2400},  {true, 8, 3, "BGR", 0, 2403, 2400},
        {true, 8, 1, "G", 1, 4099, 4096},
    };
    std::mt19937 rng(19);
    for (const Case& k : cases) {
        vt::Image img(VEX_DEPTH_8U, k.nCh, k.h, k.w, 0, 4, k.bits == 24 ? VEX_ORIGIN_BL : VEX_ORIGIN_TL);
        setSeq(img.get(), k.seq);
        img.get()->alphaChannel = k.nCh == 4 ? 4 : 0;
        fillRandom(img.get(), uint32_t(rng()));
        Dib d = makeDib(k.bits, k.w, k.h);
        randomDib(d, rng);
        vexSetErrStatus(VEX_StsOk);
        if (!k.toDib) {
            vexConvertFromDIB(d.h(), img.get());
            ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
            for (int y = 0; y < k.h; y += 23)
                for (int x = 0; x < k.w; ++x)
                    for (int c = 1; c <= k.nCh; ++c)
                        ASSERT_EQ(expectedSample(refPixel(d, x, y), k.seq, k.nCh, VEX_DEPTH_8U, c),
                                  img.sample(x, img.get()->origin == VEX_ORIGIN_BL ? k.h - 1 - y : y, c)) << k.seq;
            continue;
        }
        // The fixed tables: the 8 x 8 x 4 cube (a product of levels) and the gray ramp.
        std::vector<uint8_t> want = d.copy();
        if (k.palette) fixedTable256(want.data() + 40, k.nCh == 1);
        Dib ref = makeDib(k.bits, k.w, k.h);
        std::memcpy(ref.bytes.get(), want.data(), want.size());
        refEncode(img.get(), ref, want, true, 23);
        vexConvertToDIB(img.get(), d.h(), 1, k.palette);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        const size_t start = size_t(d.pixels() - d.bytes.get()), stride = size_t(d.stride());
        ASSERT_EQ(0, std::memcmp(want.data(), d.bytes.get(), start)) << k.seq;
        for (size_t y = 0; y < size_t(k.h); y += 23)
            ASSERT_EQ(0, std::memcmp(want.data() + start + y * stride, d.pixels() + y * stride, stride)) << k.seq << " row " << y;
    }
}

// An image sharing the DIB's rows converted from that DIB in place: the
// channel order is applied to the shared rows themselves.
TEST(Dib, ConversionInPlaceOverASharedImage) {
    std::mt19937 rng(17);
    for (int bits : {24, 32}) {
        Dib d = makeDib(bits, 11, 3);
        randomDib(d, rng);
        const std::vector<uint8_t> original = d.copy();
        int clone = 0;
        VexImage* img = vexTranslateDIB(d.h(), &clone);
        ASSERT_EQ(1, clone);
        setSeq(img, bits == 24 ? "RGB" : "RGBA");
        vexSetErrStatus(VEX_StsOk);
        vexConvertFromDIB(d.h(), img);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        const int es = bits / 8;
        for (int64_t i = 40; i < int64_t(d.size); ++i) {
            const int64_t off = (i - 40) % d.stride();
            if (off >= 11 * es) continue;  // row padding
            const int k = int(off % es);
            const int64_t src = k < 3 ? i - k + (2 - k) : i;
            ASSERT_EQ(original[size_t(src)], d.bytes[size_t(i)]) << bits << " byte " << i;
        }
        vexDeallocate(img, VEX_IMAGE_ALL);
    }
}

// ------------------------------------------------------------ translate
void setRamp(Dib& d, int n) {
    for (int i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(i * 255 / (n - 1));
        const uint8_t q[4] = {v, v, v, 0};
        std::memcpy(d.table() + 4 * i, q, 4);
    }
}

TEST(Dib, TranslateSharesOrCopiesByTheTable) {
    struct Case { int bits; unsigned comp; bool ramp; int clrUsed; int nCh; unsigned depth; int share; };
    const Case cases[] = {
        {1, 0, true, 0, 1, VEX_DEPTH_1U, 1},   {1, 0, false, 0, 3, VEX_DEPTH_8U, 0}, {4, 0, true, 0, 1, VEX_DEPTH_8U, 0},
        {4, 0, false, 0, 3, VEX_DEPTH_8U, 0},  {8, 0, true, 0, 1, VEX_DEPTH_8U, 1},  {8, 0, true, 100, 1, VEX_DEPTH_8U, 1},
        {8, 0, false, 0, 3, VEX_DEPTH_8U, 0},  {16, 0, false, 0, 3, VEX_DEPTH_8U, 0}, {16, 3, false, 0, 3, VEX_DEPTH_8U, 0},
        {24, 0, false, 0, 3, VEX_DEPTH_8U, 1}, {32, 0, false, 0, 4, VEX_DEPTH_8U, 1}, {32, 3, false, 0, 4, VEX_DEPTH_8U, 0},
    };
    std::mt19937 rng(14);
    for (const Case& c : cases)
        for (int height : {5, -5}) {
            Dib d = makeDib(c.bits, 13, height, c.comp, unsigned(c.clrUsed));
            randomDib(d, rng);
            if (c.ramp) setRamp(d, int(d.tableLen()));
            else if (c.bits <= 8) d.table()[0] = 1, d.table()[4 * (d.tableLen() - 1)] = 7;  // not a ramp
            if (c.comp == 3) setMasks(d, 0xF800u << (c.bits == 32 ? 8 : 0), 0x7E0u << (c.bits == 32 ? 8 : 0), 0x1Fu << (c.bits == 32 ? 8 : 0));
            int clone = -1;
            vexSetErrStatus(VEX_StsOk);
            VexImage* img = vexTranslateDIB(d.h(), &clone);
            ASSERT_NE(nullptr, img) << c.bits;
            EXPECT_EQ(c.share, clone) << c.bits;
            EXPECT_EQ(c.nCh, img->nChannels);
            EXPECT_EQ(c.depth, img->depth);
            EXPECT_EQ(c.nCh == 4 ? 4 : 0, img->alphaChannel);
            EXPECT_EQ(c.share ? VEX_DATA_ORDER_PIXEL : VEX_DATA_ORDER_PLANE, img->dataOrder);
            EXPECT_EQ(c.share ? 4 : 8, img->align);
            EXPECT_EQ(height > 0 ? VEX_ORIGIN_BL : VEX_ORIGIN_TL, img->origin);
            EXPECT_EQ(0, std::memcmp(img->channelSeq, c.nCh == 1 ? "G\0\0\0" : c.nCh == 3 ? "BGR\0" : "BGRA", 4));
            EXPECT_EQ(0, std::memcmp(img->colorSpace, c.nCh == 1 ? "GRAY" : c.nCh == 3 ? "RGB\0" : "RGBA", 4));
            if (c.share) {
                EXPECT_EQ(reinterpret_cast<char*>(d.pixels()), img->imageData);
                EXPECT_EQ(d.stride(), img->widthStep);
                EXPECT_EQ(d.stride() * 5, img->dataSize);
            }
            // Every picture pixel as the rules read it (a shared 8-bit ramp of
            // fewer than 256 entries holds the indices).
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x) {
                    const int sy = img->origin == VEX_ORIGIN_BL ? 4 - y : y;
                    const Px p = refPixel(d, x, y);
                    for (int ch = 1; ch <= c.nCh; ++ch) {
                        int64_t want = expectedSample(p, c.nCh == 1 ? "G" : "BGR", c.nCh, c.depth, ch);
                        if (c.bits == 8 && c.ramp && c.clrUsed) want = d.pixels()[(height > 0 ? 4 - y : y) * d.stride() + x];
                        ASSERT_EQ(want, vt::sample(img, x, sy, ch)) << "bits " << c.bits << " at " << x << "," << y;
                    }
                }
            if (c.bits == 4 && c.ramp) {
                for (int x = 0; x < 13; ++x) EXPECT_EQ(0, vt::sample(img, x, 0, 1) % 17);
            }
            vexDeallocate(img, VEX_IMAGE_ALL);  // a shared buffer is not freed
            EXPECT_EQ(VEX_StsOk, vexGetErrStatus());
        }
}

// A 256-level gray ramp read into a gray image, and a gray image written
// with the fixed 256-level table: the pixel bytes themselves.
TEST(Dib, FullGrayRampsCarryTheBytes) {
    std::mt19937 rng(18);
    Dib d = makeDib(8, 37, 5);
    randomDib(d, rng);
    setRamp(d, 256);
    vt::Image g(VEX_DEPTH_8U, 1, 5, 37);
    vexSetErrStatus(VEX_StsOk);
    vexConvertFromDIB(d.h(), g.get());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(d.pixels()[(4 - y) * d.stride() + x], g.sample(x, y, 1));
    Dib out = makeDib(8, 37, 5);
    vexConvertToDIB(g.get(), out.h(), 1, 1);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(0, std::memcmp(out.pixels() + y * out.stride(), d.pixels() + y * d.stride(), 37));
}

TEST(Dib, GrayRampRuleNeedsEveryEntry) {
    for (int n : {2, 16, 100, 256})
        for (int spoil = -1; spoil < n; spoil += std::max(1, n / 5)) {
            Dib d = makeDib(8, 4, 2, 0, unsigned(n == 256 ? 0 : n));
            setRamp(d, n);
            if (spoil >= 0) d.table()[4 * spoil + 1] ^= 1;
            int clone = -1;
            VexImage* img = vexTranslateDIB(d.h(), &clone);
            ASSERT_NE(nullptr, img);
            EXPECT_EQ(spoil < 0 ? 1 : 0, clone) << n << " " << spoil;
            EXPECT_EQ(spoil < 0 ? 1 : 3, img->nChannels);
            vexDeallocate(img, VEX_IMAGE_ALL);
        }
}

// ------------------------------------------------------------ palettes
// The median-cut rule, written plainly.
std::vector<std::array<int, 3>> refMedianCut(const std::vector<std::array<int, 3>>& pixels, bool colour, int K) {
    const int side = colour ? 64 : 256;
    std::vector<long> hist(colour ? 64 * 64 * 64 : 256);
    auto cell = [&](int b, int g, int r) -> long& { return colour ? hist[size_t(b * 4096 + g * 64 + r)] : hist[size_t(b)]; };
    for (const auto& p : pixels) ++(colour ? cell(p[0] >> 2, p[1] >> 2, p[2] >> 2) : cell(p[0], 0, 0));
    std::vector<std::array<int, 3>> out;
    int occupied = 0;
    for (long v : hist) occupied += v != 0;
    const int scale = colour ? 4 : 1;
    if (occupied <= K) {
        for (size_t i = 0; i < hist.size(); ++i)
            if (hist[i]) out.push_back(colour ? std::array<int, 3>{int(i >> 12) * 4, int((i >> 6) & 63) * 4, int(i & 63) * 4}
                                              : std::array<int, 3>{int(i), int(i), int(i)});
        return out;
    }
    struct Box { int lo[3], hi[3]; long count; };
    const int axes = colour ? 3 : 1;
    auto inBox = [&](const Box& b, auto fn) {
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = colour ? b.lo[1] : 0; j <= (colour ? b.hi[1] : 0); ++j)
                for (int k = colour ? b.lo[2] : 0; k <= (colour ? b.hi[2] : 0); ++k) fn(i, j, k, cell(i, j, k));
    };
    auto shrink = [&](Box& b) {
        Box s{{side, side, side}, {-1, -1, -1}, 0};
        inBox(b, [&](int i, int j, int k, long c) {
            if (!c) return;
            s.count += c;
            const int v[3] = {i, j, k};
            for (int a = 0; a < 3; ++a) s.lo[a] = std::min(s.lo[a], v[a]), s.hi[a] = std::max(s.hi[a], v[a]);
        });
        for (int a = 0; a < 3; ++a) b.lo[a] = s.lo[a], b.hi[a] = s.hi[a];
        return s.count;
    };
    auto done = [&](const Box& b) { return b.lo[0] == b.hi[0] && b.lo[1] == b.hi[1] && b.lo[2] == b.hi[2]; };
    std::vector<Box> boxes(1, Box{{0, 0, 0}, {side - 1, colour ? 63 : 0, colour ? 63 : 0}, 0});
    shrink(boxes[0]);
    boxes[0].count = long(pixels.size());
    while (int(boxes.size()) < K) {
        const size_t start = boxes.size();
        bool any = false;
        for (size_t i = 0; i < start && int(boxes.size()) < K; ++i) {
            if (done(boxes[i])) continue;
            any = true;
            Box b = boxes[i];
            int axis = 0;
            if (axes == 3) {  // largest extent; ties red (2), green (1), blue (0)
                axis = 2;
                if (b.hi[1] - b.lo[1] > b.hi[axis] - b.lo[axis]) axis = 1;
                if (b.hi[0] - b.lo[0] > b.hi[axis] - b.lo[axis]) axis = 0;
            }
            std::vector<long> slice(size_t(side), 0);
            inBox(b, [&](int i2, int j, int k, long c) { slice[size_t(axis == 0 ? i2 : axis == 1 ? j : k)] += c; });
            const double half = b.count / 2.0;
            long run = 0;
            int cut = b.lo[axis];
            for (int l = b.lo[axis]; l <= b.hi[axis]; ++l) {
                const long prev = run;
                run += slice[size_t(l)];
                if (run > half) {
                    cut = l;
                    if (l > b.lo[axis] && std::abs(prev - half) < std::abs(run - half)) cut = l - 1;
                    break;
                }
            }
            Box p1 = b, p2 = b;
            p1.hi[axis] = cut;
            p2.lo[axis] = cut + 1;
            p1.count = shrink(p1);
            p2.count = shrink(p2);
            boxes[i] = p1;
            boxes.push_back(p2);
        }
        if (!any) break;
    }
    // The mean in levels, truncated (colour: then times 4).
    for (const Box& b : boxes) {
        long s[3] = {0, 0, 0}, n = 0;
        inBox(b, [&](int i, int j, int k, long c) { n += c, s[0] += c * i, s[1] += c * j, s[2] += c * k; });
        if (colour) out.push_back({int(s[0] / n) * scale, int(s[1] / n) * scale, int(s[2] / n) * scale});
        else out.push_back({int(s[0] / n), int(s[0] / n), int(s[0] / n)});
    }
    return out;
}

TEST(Dib, MedianCutMatchesAPlainImplementationOfTheRule) {
    std::mt19937 rng(15);
    for (int iter = 0; iter < 24; ++iter) {
        const bool colour = iter % 2 == 0;
        const int bits = iter % 3 == 0 ? 1 : iter % 3 == 1 ? 4 : 8;
        const int K = 1 << bits;
        const int w = pick(rng, 20, 70), h = pick(rng, 10, 40);
        const bool wide = iter % 4 == 1;
        vt::Image img(wide ? VEX_DEPTH_16U : VEX_DEPTH_8U, colour ? 3 : 1, h, w, pick(rng, 0, 1));
        setSeq(img.get(), colour ? (iter % 4 == 0 ? "RGB" : "BGR") : "G");
        std::vector<std::array<int, 3>> px;  // blue, green, red as 8-bit
        const int spread = pick(rng, 1, 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::array<int, 3> bgr{};
                for (int c = 0; c < (colour ? 3 : 1); ++c) {
                    const int v = spread == 1 ? pick(rng, 0, 255) : (x * 7 + y * (c + 3) * spread + c * 40) & 255;
                    const int ch = colour && img.get()->channelSeq[0] == 'R' ? 3 - c : c + 1;
                    img.setSample(x, y, ch, wide ? v * 256 + pick(rng, 0, 255) : v);
                    bgr[size_t(c)] = v;
                }
                px.push_back(bgr);
            }
        const auto want = refMedianCut(px, colour, K);
        Dib d = makeDib(bits, w, h, 0, 0, K);
        vexSetErrStatus(VEX_StsOk);
        vexConvertToDIB(img.get(), d.h(), 1, 2);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        ASSERT_EQ(want.size(), d.h()->biClrUsed) << iter;
        for (size_t i = 0; i < want.size(); ++i) {
            const uint8_t* t = d.table() + 4 * i;
            ASSERT_EQ(want[i][0], t[0]) << iter << " entry " << i;
            ASSERT_EQ(want[i][1], t[1]) << iter << " entry " << i;
            ASSERT_EQ(want[i][2], t[2]) << iter << " entry " << i;
            ASSERT_EQ(0, t[3]);
        }
        // And each pixel holds its nearest entry.
        std::vector<uint8_t> expect = d.copy();
        refEncode(img.get(), d, expect);
        ASSERT_TRUE(expect == d.copy()) << iter;
    }
}

TEST(Dib, MedianCutOfFiveColoursGivesFiveEntries) {
    vt::Image img(VEX_DEPTH_8U, 3, 6, 10);
    setSeq(img.get(), "BGR");
    const int colours[5][3] = {{0, 0, 0}, {255, 0, 0}, {0, 128, 64}, {12, 200, 36}, {252, 252, 252}};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c) img.setSample(x, y, c + 1, colours[(x + y) % 5][c]);
    Dib d = makeDib(8, 10, 6, 0, 0, 5);  // room for exactly five entries
    vexSetErrStatus(VEX_StsOk);
    vexConvertToDIB(img.get(), d.h(), 1, 2);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    EXPECT_EQ(5u, d.h()->biClrUsed);
    // Rows start five entries after the header; each pixel's entry is its colour.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const uint8_t i = d.bytes[40 + 20 + size_t(5 - y) * 12 + size_t(x)];
            ASSERT_LT(i, 5);
            for (int c = 0; c < 3; ++c) EXPECT_EQ(colours[(x + y) % 5][c] & 0xFC, d.table()[4 * i + c]);  // six-bit levels x 4
        }
}

TEST(Dib, FixedTables) {
    // Gray into 4 bits: the 16-level ramp and each pixel's nearest level.
    vt::Image g(VEX_DEPTH_8U, 1, 1, 256);
    for (int x = 0; x < 256; ++x) g.setSample(x, 0, 1, x);
    Dib d = makeDib(4, 256, 1);
    vexSetErrStatus(VEX_StsOk);
    vexConvertToDIB(g.get(), d.h(), 1, 1);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(i * 17, d.table()[4 * i + c]);
    for (int x = 0; x < 256; ++x) {
        const int idx = (d.pixels()[x / 2] >> (x % 2 ? 0 : 4)) & 15;
        int best = 0;
        for (int i = 1; i < 16; ++i) if (std::abs(i * 17 - x) < std::abs(best * 17 - x)) best = i;
        EXPECT_EQ(best, idx) << x;
    }
    // Colour: the 16 standard colours and the 8 x 8 x 4 cube.
    vt::Image c(VEX_DEPTH_8U, 3, 1, 1);
    setSeq(c.get(), "RGB");
    Dib d16 = makeDib(4, 1, 1), d256 = makeDib(8, 1, 1), d2 = makeDib(1, 1, 1);
    vexConvertToDIB(c.get(), d16.h(), 1, 1);
    vexConvertToDIB(c.get(), d256.h(), 1, 1);
    vexConvertToDIB(c.get(), d2.h(), 1, 1);
    const uint8_t red9[4] = {0, 0, 255, 0}, silver8[4] = {192, 192, 192, 0};
    EXPECT_EQ(0, std::memcmp(d16.table() + 36, red9, 4));
    EXPECT_EQ(0, std::memcmp(d16.table() + 32, silver8, 4));
    const int levels8[8] = {0, 32, 64, 96, 128, 160, 192, 255}, levels4[4] = {0, 64, 128, 255};
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(levels8[i >> 5], d256.table()[4 * i + 2]);
        EXPECT_EQ(levels8[(i >> 2) & 7], d256.table()[4 * i + 1]);
        EXPECT_EQ(levels4[i & 3], d256.table()[4 * i]);
    }
    const uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(0, std::memcmp(d2.table(), bw, 8));
    EXPECT_EQ(VEX_StsOk, vexGetErrStatus());
}

TEST(Dib, SixteenBitImagesAreDitheredThroughReduceBits) {
    vt::Image img(VEX_DEPTH_16U, 1, 9, 21);
    img.fillPattern(77);
    setSeq(img.get(), "G");
    vt::Image reduced(VEX_DEPTH_8U, 1, 9, 21);
    setSeq(reduced.get(), "G");
    vexSetErrStatus(VEX_StsOk);
    vexReduceBits(img.get(), reduced.get(), 0, 8, 1, nullptr);
    Dib want = makeDib(8, 21, 9), got = makeDib(8, 21, 9);
    vexConvertToDIB(reduced.get(), want.h(), 1, 1);
    vexConvertToDIB(img.get(), got.h(), 8, 1);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    EXPECT_TRUE(want.copy() == got.copy());
    // dither 1: the high byte.
    Dib high = makeDib(8, 21, 9);
    vexConvertToDIB(img.get(), high.h(), 1, 1);
    std::vector<uint8_t> expect = high.copy();
    refEncode(img.get(), high, expect);
    EXPECT_TRUE(expect == high.copy());
}

// ------------------------------------------------------------ an independent producer
TEST(Dib, BmpFilesWrittenByStbReadBack) {
    std::mt19937 rng(16);
    for (int w : {1, 3, 17, 64}) {
        const int h = 5;
        std::vector<uint8_t> rgb(size_t(w * h * 3));
        for (auto& v : rgb) v = uint8_t(rng());
        std::vector<uint8_t> file;
        stbi_write_bmp_to_func([](void* ctx, void* data, int size) {
            auto* f = static_cast<std::vector<uint8_t>*>(ctx);
            f->insert(f->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        }, &file, w, h, 3, rgb.data());
        ASSERT_GT(file.size(), 54u);
        // The DIB is the file after its 14-byte header, in a buffer of its exact size.
        std::unique_ptr<uint8_t[]> dib(new uint8_t[file.size() - 14]);
        std::memcpy(dib.get(), file.data() + 14, file.size() - 14);
        auto* hdr = reinterpret_cast<VexBitmapInfoHeader*>(dib.get());
        int clone = -1;
        vexSetErrStatus(VEX_StsOk);
        VexImage* img = vexTranslateDIB(hdr, &clone);
        ASSERT_NE(nullptr, img);
        EXPECT_EQ(1, clone);
        vt::Image rgbImg(VEX_DEPTH_8U, 3, h, w);
        setSeq(rgbImg.get(), "RGB");
        vexConvertFromDIB(hdr, rgbImg.get());
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int v = rgb[size_t((y * w + x) * 3 + c)];
                    ASSERT_EQ(v, rgbImg.sample(x, y, c + 1));
                    ASSERT_EQ(v, vt::sample(img, x, h - 1 - y, 3 - c));  // BGR, bottom-left origin
                }
        vexDeallocate(img, VEX_IMAGE_ALL);
    }
}

// ------------------------------------------------------------ checks
struct Rejection {
    const char* what;
    std::function<void(Dib&, vt::Image&, int&, int&)> spoil;  // dib, image, dither, palette
    const char* text;
    int status;
};

TEST(Dib, ToDibChecksInOrderAndWritesNothing) {
    const Rejection cases[] = {
        {"alpha", [](Dib&, vt::Image& i, int&, int&) { i.get()->alphaChannel = 2; }, "(image->alphaChannel != 0 && image->alphaChannel != 4)", VEX_StsBadArg},
        {"alpha 3ch", [](Dib&, vt::Image& i, int&, int&) { i.get()->alphaChannel = 3; }, "(image->alphaChannel != 0 && image->alphaChannel != 4)", VEX_StsBadArg},
        {"size", [](Dib& d, vt::Image&, int&, int&) { d.h()->biWidth = 6; }, "(image->width != dib->biWidth || image->height != dib->biHeight)", VEX_StsBadArg},
        {"top-down", [](Dib& d, vt::Image&, int&, int&) { d.h()->biHeight = -4; }, "(image->width != dib->biWidth || image->height != dib->biHeight)", VEX_StsBadArg},
        {"biSize", [](Dib& d, vt::Image&, int&, int&) { d.h()->biSize = 108; }, "(dib->biSize != sizeof(BITMAPINFOHEADER))", VEX_StsBadArg},
        {"planes", [](Dib& d, vt::Image&, int&, int&) { d.h()->biPlanes = 2; }, "(dib->biPlanes != 1)", VEX_StsBadArg},
        {"compression", [](Dib& d, vt::Image&, int&, int&) { d.h()->biCompression = 1; }, "(dib->biCompression != 0) && (dib->biCompression != 3)", VEX_StsBadArg},
        {"dither", [](Dib&, vt::Image&, int& di, int&) { di = 2; }, "(dither != 8 && dither != 1)", VEX_StsBadArg},
        {"palette", [](Dib&, vt::Image&, int&, int& p) { p = 3; }, "(paletteConversion != 0 && paletteConversion != 1 && paletteConversion != 2)", VEX_StsBadArg},
        {"order", [](Dib&, vt::Image& i, int&, int&) { std::memcpy(i.get()->channelSeq, "BRG\0", 4); }, "image->channelSeq unsupport", VEX_StsBadArg},
        {"bit count", [](Dib& d, vt::Image&, int&, int&) { d.h()->biBitCount = 2; }, "dib-<biBitCount is bad", VEX_StsBadArg},
        {"bit count 12", [](Dib& d, vt::Image&, int&, int& p) { d.h()->biBitCount = 12; p = 2; }, "dib-<biBitCount is bad", VEX_StsBadArg},
    };
    for (const Rejection& r : cases) {
        vt::Image img(VEX_DEPTH_8U, 3, 4, 5);
        img.fillPattern(3);
        setSeq(img.get(), "RGB");
        Dib d = makeDib(8, 5, 4);
        int dither = 1, palette = 2;
        r.spoil(d, img, dither, palette);
        const std::vector<uint8_t> before = d.copy();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        vexConvertToDIB(img.get(), d.h(), dither, palette);
        ASSERT_EQ(1u, log.size()) << r.what;
        EXPECT_EQ(r.text, log[0].context) << r.what;
        EXPECT_EQ(r.status, log[0].status) << r.what;
        EXPECT_EQ("vexConvertToDIB", log[0].funcName);
        EXPECT_EQ("vexdib", log[0].file);
        EXPECT_TRUE(before == d.copy()) << r.what << ": the DIB was written";
    }
    // Alpha with three channels, no dib, a zero mask, a tiled image.
    vt::ReportLog log;
    vt::Image img(VEX_DEPTH_8U, 3, 4, 5);
    setSeq(img.get(), "RGB");
    img.get()->alphaChannel = 3;
    vexConvertToDIB(img.get(), nullptr, 1, 0);
    EXPECT_EQ("dib==0", log[0].context);
    Dib d = makeDib(32, 5, 4, 3);
    setMasks(d, 0xFF0000, 0, 0xFF);
    img.get()->alphaChannel = 0;
    vexConvertToDIB(img.get(), d.h(), 1, 0);
    EXPECT_EQ("dib colour mask is zero", log[1].context);
    // Real images of a layout the writer cannot take.
    vt::Image two(VEX_DEPTH_8U, 2, 4, 5);
    setSeq(two.get(), "BGR");
    Dib d8 = makeDib(8, 5, 4);
    vexConvertToDIB(two.get(), d8.h(), 1, 0);
    EXPECT_EQ("(image->nChannels != 3 && image->nChannels != 1)", log.reports().back().context);
    vt::Image s16(VEX_DEPTH_16S, 3, 4, 5);
    setSeq(s16.get(), "BGR");
    vexConvertToDIB(s16.get(), d8.h(), 1, 0);
    EXPECT_EQ("(image->depth & 0x80000000)", log.reports().back().context);
    vt::Image a4(VEX_DEPTH_8U, 4, 4, 5);
    setSeq(a4.get(), "BGRA");
    vexConvertToDIB(a4.get(), d8.h(), 1, 0);  // four channels without alpha
    EXPECT_EQ("(image->nChannels != 3 && image->nChannels != 1)", log.reports().back().context);
    vt::Image three(VEX_DEPTH_8U, 3, 4, 5);
    three.get()->alphaChannel = 4;  // bad header: alpha beyond the channels
    const size_t seen = log.size();
    vexConvertToDIB(three.get(), d.h(), 1, 0);
    ASSERT_EQ(seen + 1, log.size());
    EXPECT_EQ(VEX_StsBadArg, log.reports().back().status);
    vt::TiledImage tiled(VEX_DEPTH_8U, 3, 4, 5, 8, 8);
    setSeq(tiled.get(), "RGB");
    Dib d24 = makeDib(24, 5, 4);
    const std::vector<uint8_t> before = d24.copy();
    vexConvertToDIB(tiled.get(), d24.h(), 1, 0);
    EXPECT_EQ("(image->tileInfo != NULL)", log.reports().back().context);
    EXPECT_TRUE(before == d24.copy());
}

TEST(Dib, FromDibAndTranslateChecks) {
    struct Case { const char* what; std::function<void(Dib&)> spoil; const char* fromText; const char* translateText; int fromStatus; };
    const Case cases[] = {
        {"biSize", [](Dib& d) { d.h()->biSize = 124; }, "(dib->biSize != sizeof(BITMAPINFOHEADER))", "(dib->biSize != sizeof(BITMAPINFOHEADER))", VEX_StsBadArg},
        {"planes", [](Dib& d) { d.h()->biPlanes = 0; }, "(dib->biPlanes != 1)", "(dib->biPlanes != 1)", VEX_StsBadArg},
        {"compression", [](Dib& d) { d.h()->biCompression = 2; }, "(dib->biCompression != 0) && (dib->biCompression != 3)", "(dib->biCompression != 0) && (dib->biCompression != 3)", VEX_StsBadArg},
        {"bits", [](Dib& d) { d.h()->biBitCount = 2; }, "", "Bad dib->biBitCount", VEX_StsInternal},
        {"size", [](Dib& d) { d.h()->biWidth = 9; }, "image size is too small", nullptr, VEX_StsBadArg},
        {"height", [](Dib& d) { d.h()->biHeight = -5; }, "image size is too small", nullptr, VEX_StsBadArg},
        {"zero mask", [](Dib& d) { d.h()->biBitCount = 16; d.h()->biCompression = 3; setMasks(d, 0x10000, 0x3E0, 0x1F); }, "dib colour mask is zero", "dib colour mask is zero", VEX_StsBadArg},
    };
    for (const Case& c : cases) {
        Dib d = makeDib(8, 5, 4, 0, 0, 256);
        c.spoil(d);
        vt::Image img(VEX_DEPTH_8U, 3, 4, 5);
        setSeq(img.get(), "BGR");
        const std::vector<uint8_t> before = img.bytes();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        vexConvertFromDIB(d.h(), img.get());
        ASSERT_EQ(1u, log.size()) << c.what;
        EXPECT_EQ(c.fromText, log[0].context) << c.what;
        EXPECT_EQ(c.fromStatus, log[0].status) << c.what;
        EXPECT_TRUE(before == img.bytes()) << c.what;
        if (c.translateText) {
            int clone = -1;
            vexSetErrStatus(VEX_StsOk);
            EXPECT_EQ(nullptr, vexTranslateDIB(d.h(), &clone));
            ASSERT_EQ(2u, log.size()) << c.what;
            EXPECT_EQ(c.translateText, log[1].context) << c.what;
            EXPECT_EQ("vexTranslateDIB", log[1].funcName);
        }
    }
    // A failure without a message of its own is not reported over a negative status.
    {
        vt::ReportLog log;
        Dib d = makeDib(8, 5, 4);
        d.h()->biBitCount = 7;
        vt::Image img(VEX_DEPTH_8U, 3, 4, 5);
        setSeq(img.get(), "BGR");
        vexSetErrStatus(VEX_StsBadArg);
        vexConvertFromDIB(d.h(), img.get());
        EXPECT_EQ(0u, log.size());
        vexSetErrStatus(VEX_StsOk);
        setSeq(img.get(), "XYZ");
        d.h()->biBitCount = 8;
        vexConvertFromDIB(d.h(), img.get());
        EXPECT_EQ("image->channelSeq unsupport", log[0].context);
        vt::Image two(VEX_DEPTH_8U, 2, 4, 5);
        setSeq(two.get(), "BGR");
        vexSetErrStatus(VEX_StsOk);
        vexConvertFromDIB(d.h(), two.get());
        EXPECT_EQ(VEX_StsInternal, log[1].status);
        vexConvertFromDIB(nullptr, img.get());
        EXPECT_EQ("dib==0", log[2].context);
        int clone = 5;
        EXPECT_EQ(nullptr, vexTranslateDIB(nullptr, &clone));
        EXPECT_EQ("(dib == ((void *)0))", log[3].context);
        EXPECT_EQ(nullptr, vexTranslateDIB(d.h(), nullptr));
        EXPECT_EQ("(cloneData == ((void *)0))", log[4].context);
        d.h()->biWidth = -3;
        EXPECT_EQ(nullptr, vexTranslateDIB(d.h(), &clone));
        EXPECT_EQ("Create image header is failed", log[5].context);
    }
}

}  // namespace
