// DIB interchange: vexTranslateDIB, vexConvertFromDIB and vexConvertToDIB
// against a plain decoder and encoder written here from the bitmap rules,
// over every bit count, compression, row direction, image layout and
// palette mode (fixed tables and the median cut written plainly here); every
// check text, with the destination left untouched (the vex tool's tests hold
// the written files to stb's reader). DIBs live in buffers of exactly the
// size their header declares, so a read past them is a sanitizer report.

// A program may also declare the platform's own bitmap records: these
// stand-ins use the platform's names and layout, and vexlib.h must still
// compile after them.
typedef unsigned int DWORD;
typedef int LONG;
typedef unsigned short WORD;
typedef unsigned char BYTE;
typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth, biHeight;
    WORD biPlanes, biBitCount;
    DWORD biCompression, biSizeImage;
    LONG biXPelsPerMeter, biYPelsPerMeter;
    DWORD biClrUsed, biClrImportant;
} BITMAPINFOHEADER;
typedef struct tagRGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
} RGBQUAD;
#define BI_RGB 0L
#define BI_BITFIELDS 3L

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/owndibrow.h"
#include "image/ownstream.h"
#include "vexlib.h"
#include "vextest.h"

static_assert(sizeof(VexBitmapInfoHeader) == 40 && sizeof(VexBitmapInfoHeader) == sizeof(BITMAPINFOHEADER) &&
              sizeof(VexRGBQuad) == 4 && sizeof(VexRGBQuad) == sizeof(RGBQUAD), "");
static_assert(offsetof(VexBitmapInfoHeader, biPlanes) == offsetof(BITMAPINFOHEADER, biPlanes) &&
              offsetof(VexBitmapInfoHeader, biBitCount) == 14 && offsetof(VexBitmapInfoHeader, biCompression) == 16 &&
              offsetof(VexBitmapInfoHeader, biClrUsed) == offsetof(BITMAPINFOHEADER, biClrUsed), "");
static_assert(offsetof(VexRGBQuad, rgbRed) == offsetof(RGBQUAD, rgbRed) && VEX_BI_RGB == BI_RGB && VEX_BI_BITFIELDS == BI_BITFIELDS, "");

namespace {


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
    Dib clone() const {
        Dib c{std::unique_ptr<uint8_t[]>(new uint8_t[size]), size};
        std::memcpy(c.bytes.get(), bytes.get(), size);
        return c;
    }
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

// The lowest set bit of a non-zero mask and the run of set bits from there.
void fieldShape(uint32_t mask, int* shift, int* width) {
    for (*shift = 0; !((mask >> *shift) & 1);) ++*shift;
    for (*width = 0; *shift + *width < 32 && ((mask >> (*shift + *width)) & 1);) ++*width;
}

int fieldByte(uint32_t v, uint32_t mask) {
    if (!mask) return 0;
    int shift, width;
    fieldShape(mask, &shift, &width);
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

void setRamp(Dib& d, int n) {
    for (int i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(i * 255 / (n - 1));
        const uint8_t q[4] = {v, v, v, 0};
        std::memcpy(d.table() + 4 * i, q, 4);
    }
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

void setSeq(VexImage* img, const char* seq) {
    std::memset(img->channelSeq, 0, 4);
    std::memcpy(img->channelSeq, seq, std::min<size_t>(4, std::strlen(seq)));
}

struct Format { int bits; unsigned compression; };
const Format kFormats[] = {{1, 0}, {4, 0}, {8, 0}, {16, 0}, {16, 3}, {24, 0}, {32, 0}, {32, 3}};
const unsigned kImageDepths[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};

// Random contiguous colour masks (low 16 bits for 16-bit DIBs).
void randomMasks(Dib& d, std::mt19937& rng) {
    const int bits = d.h()->biBitCount;
    const int s = vt::uniform(rng, 0, bits == 16 ? 3 : 8), wr = vt::uniform(rng, 1, 6), wg = vt::uniform(rng, 1, 7), wb = vt::uniform(rng, 1, 5);
    setMasks(d, ((1u << wr) - 1) << (s + wb + wg), ((1u << wg) - 1) << (s + wb), ((1u << wb) - 1) << s);
}

// Every picture pixel of `img` (stored rows by its origin; with rowStep
// every rowStep-th stored row) against the reference decoder; outside the
// DIB's rectangle the samples of `before`.
void expectDecoded(const Dib& d, const vt::Image& img, const vt::Image& before, int rowStep = 1) {
    const VexImage* im = img.get();
    const int rows = d.h()->biHeight < 0 ? -d.h()->biHeight : d.h()->biHeight;
    for (int y = 0; y < im->height; y += rowStep)
        for (int x = 0; x < im->width; ++x) {
            const int my = im->origin == VEX_ORIGIN_BL ? im->height - 1 - y : y;  // picture row of stored row y
            for (int c = 1; c <= im->nChannels; ++c) {
                const bool inside = x < d.h()->biWidth && my < rows;
                const int64_t want = inside ? expectedSample(refPixel(d, x, my), im->channelSeq, im->nChannels, im->depth, c)
                                            : before.sample(x, y, c);
                ASSERT_EQ(want, img.sample(x, y, c)) << "bits " << d.h()->biBitCount << " comp " << d.h()->biCompression
                    << " seq " << std::string(im->channelSeq, 4) << " ch " << im->nChannels << " depth "
                    << vt::depthName(im->depth) << " order " << im->dataOrder << " at " << x << "," << y << "," << c;
            }
        }
}

TEST(Dib, FromDibFollowsTheRulesForEveryFormatAndLayout) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 400; ++iter) {
        const Format f = kFormats[iter % 8];
        const int w = vt::uniform(rng, 1, 37), h = vt::uniform(rng, 1, 9) * (rng() & 1 ? 1 : -1);
        unsigned clrUsed = f.bits <= 8 && rng() % 3 == 0 ? unsigned(vt::uniform(rng, 1, 1 << f.bits)) : 0;
        Dib d = makeDib(f.bits, w, h, f.compression, clrUsed);
        randomDib(d, rng);
        if (f.compression == 3) randomMasks(d, rng);
        if (f.bits == 8 && !clrUsed && iter % 3 == 0) setRamp(d, 256);  // the gray bytes themselves
        const unsigned depth = kImageDepths[vt::uniform(rng, 0, 2)];
        const int nCh = depth == VEX_DEPTH_1U ? 1 : kChans[vt::uniform(rng, 0, 2)];
        const int ih = (h < 0 ? -h : h) + vt::uniform(rng, 0, 3), iw = w + vt::uniform(rng, 0, 3);
        vt::Image img(depth, nCh, ih, iw, vt::uniform(rng, 0, 1), rng() & 1 ? 8 : 4, vt::uniform(rng, 0, 1));
        setSeq(img.get(), kSeqs[vt::uniform(rng, 0, 5)]);
        const vt::Image before = img.clone();
        vt::StatusReset reset;
        vexConvertFromDIB(d.h(), img.get());
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus()) << f.bits;
        expectDecoded(d, img, before);
    }
}

// ------------------------------------------------------------ reference encoder
// The record of image pixel (x, stored row sy) after the channel-order
// adapter: blue, green, red, alpha.
std::array<int, 4> refRecord(const VexImage* img, int x, int sy, bool highByte = true) {
    auto val = [&](int c) {
        const int64_t v = vt::sample(img, x, sy, c);
        return int(img->depth == VEX_DEPTH_16U ? (highByte ? v >> 8 : v) : img->depth == VEX_DEPTH_1U ? (v ? 255 : 0) : v);
    };
    std::array<int, 4> rec{0, 0, 0, 0};
    if (img->nChannels == 1) return {val(1), val(1), val(1), 0};
    for (int c = 0; c < img->nChannels; ++c) rec[size_t(c)] = val(c + 1);
    if (img->channelSeq[0] == 'G') rec = {rec[2], rec[2], rec[2], 0};
    else if (img->channelSeq[0] == 'R') std::swap(rec[0], rec[2]);
    return rec;
}

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
// already final), written into `out` (a copy of d's bytes); with rowStep,
// only the stored rows 0, rowStep, 2 rowStep ...
void refEncode(const VexImage* img, const Dib& d, std::vector<uint8_t>& out, bool highByte = true, int rowStep = 1) {
    const int bits = d.h()->biBitCount, w = img->width, h = img->height;
    uint32_t m[4] = {0, 0, 0, 0};
    if (bits == 16 || bits == 32) masksOf(d, m);
    const int n = bits <= 8 ? int(std::min<int64_t>(d.tableLen(), 1 << bits)) : 0;
    for (int y = 0; y < h; ++y) {
        if ((h - 1 - y) % rowStep) continue;
        uint8_t* row = out.data() + (d.pixels() - d.bytes.get()) + (h - 1 - y) * d.stride();
        for (int x = 0; x < w; ++x) {
            const std::array<int, 4> rec = refRecord(img, x, img->origin == VEX_ORIGIN_BL ? h - 1 - y : y, highByte);
            if (bits <= 8) {
                const int i = nearestIndex(d, n, rec[2], rec[1], rec[0]);
                if (bits == 8) row[x] = uint8_t(i);
                else if (bits == 4) row[x / 2] = uint8_t(x % 2 ? (row[x / 2] & 0xF0) | i : (row[x / 2] & 0x0F) | i << 4);
                else row[x / 8] = uint8_t(i ? row[x / 8] | 0x80 >> (x % 8) : row[x / 8] & ~(0x80 >> (x % 8)));
            } else if (bits == 24) {
                for (int k = 0; k < 3; ++k) row[3 * x + k] = uint8_t(rec[size_t(k)]);
            } else {
                const uint32_t order[4] = {m[2], m[1], m[0], m[3]};  // blue, green, red, alpha masks
                uint32_t v = 0;
                for (int k = 0; k < (bits == 16 ? 3 : 4); ++k) {
                    if (!order[k]) continue;
                    int shift, width;
                    fieldShape(order[k], &shift, &width);
                    const uint32_t b = uint32_t(rec[size_t(k)]);
                    const uint32_t narrowed = bits == 16 ? (width <= 8 ? b >> (8 - width) : b << (width - 8)) : b;
                    v |= (narrowed << shift) & order[k];
                }
                std::memcpy(row + x * bits / 8, &v, size_t(bits / 8));
            }
        }
    }
}

// ------------------------------------------------------------ tables
// A table that is a product of per-channel levels (entry (r x greens + g)
// x blues + b), some sorted, some in any order or with repeated levels;
// biClrUsed becomes its length (the rows move up, the buffer keeps its size).
void productTable(Dib& d, std::mt19937& rng) {
    const int n = int(std::min<int64_t>(d.tableLen(), 1 << d.h()->biBitCount));
    int nb = 1, ng = 1;
    while (nb * 2 <= n && rng() % 3) nb *= 2;
    while (nb * ng * 2 <= n && rng() % 3) ng *= 2;
    const int nr = vt::uniform(rng, 1, rng() % 4 ? std::min(8, n / (nb * ng)) : n / (nb * ng));
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

// The fixed tables of n = 2, 16 or 256 entries (other lengths untouched).
void refFixed(uint8_t* table, int64_t n, bool gray) {
    static const uint8_t kStd16[16][3] = {{0, 0, 0},     {128, 0, 0},     {0, 128, 0},   {128, 128, 0},
                                          {0, 0, 128},   {128, 0, 128},   {0, 128, 128}, {128, 128, 128},
                                          {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                          {0, 0, 255},   {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};  // r, g, b
    const int levels8[8] = {0, 32, 64, 96, 128, 160, 192, 255}, levels4[4] = {0, 64, 128, 255};
    for (int i = 0; i < n && (n == 2 || n == 16 || n == 256); ++i) {
        int r = i * 255, g = r, b = r;  // two entries: black and white
        if (n == 16) r = g = b = i * 17;
        if (n == 16 && !gray) r = kStd16[i][0], g = kStd16[i][1], b = kStd16[i][2];
        if (n == 256) r = g = b = i;
        if (n == 256 && !gray) r = levels8[i >> 5], g = levels8[i >> 2 & 7], b = levels4[i & 3];
        const uint8_t q[4] = {uint8_t(b), uint8_t(g), uint8_t(r), 0};
        std::memcpy(table + 4 * i, q, 4);
    }
}

void fillRandom(VexImage* img, uint32_t key) {
    uint32_t x = key | 1;
    for (int i = 0; i < img->dataSize; ++i) x ^= x << 13, x ^= x >> 17, x ^= x << 5, img->imageData[i] = char(x);
}

// The median-cut rule, written plainly, on a histogram of levels: colour
// blue, green, red in six bits; gray eight bits on the first axis alone.
std::vector<std::array<int, 3>> refMedianCut(const std::vector<std::array<int, 3>>& pixels, bool colour, int K) {
    const int n[3] = {colour ? 64 : 256, colour ? 64 : 1, colour ? 64 : 1};
    std::vector<long> hist(size_t(n[0]) * n[1] * n[2]);
    auto cell = [&](int b, int g, int r) -> long& { return hist[(size_t(b) * n[1] + g) * n[2] + r]; };
    for (const auto& p : pixels) ++(colour ? cell(p[0] >> 2, p[1] >> 2, p[2] >> 2) : cell(p[0], 0, 0));
    // A cell as a table entry: colour levels times 4, a gray level on every channel.
    auto entry = [&](long b, long g, long r) {
        return colour ? std::array<int, 3>{int(b) * 4, int(g) * 4, int(r) * 4} : std::array<int, 3>{int(b), int(b), int(b)};
    };
    std::vector<std::array<int, 3>> out;
    int occupied = 0;
    for (long v : hist) occupied += v != 0;
    if (occupied <= K) {
        for (size_t i = 0; i < hist.size(); ++i)
            if (hist[i]) out.push_back(entry(long(i) / (n[1] * n[2]), long(i) / n[2] % n[1], long(i) % n[2]));
        return out;
    }
    struct Box { int lo[3], hi[3]; long count; };
    auto inBox = [&](const Box& b, auto fn) {
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                for (int k = b.lo[2]; k <= b.hi[2]; ++k) fn(i, j, k, cell(i, j, k));
    };
    auto shrink = [&](Box& b) {  // to its occupied cells; returns their count
        Box s{{n[0], n[1], n[2]}, {-1, -1, -1}, 0};
        inBox(b, [&](int i, int j, int k, long c) {
            if (!c) return;
            s.count += c;
            const int v[3] = {i, j, k};
            for (int a = 0; a < 3; ++a) s.lo[a] = std::min(s.lo[a], v[a]), s.hi[a] = std::max(s.hi[a], v[a]);
        });
        for (int a = 0; a < 3; ++a) b.lo[a] = s.lo[a], b.hi[a] = s.hi[a];
        return s.count;
    };
    std::vector<Box> boxes(1, Box{{0, 0, 0}, {n[0] - 1, n[1] - 1, n[2] - 1}, long(pixels.size())});
    shrink(boxes[0]);
    for (bool any = true; any && int(boxes.size()) < K;) {
        any = false;
        for (size_t i = 0, start = boxes.size(); i < start && int(boxes.size()) < K; ++i) {
            Box b = boxes[i];
            int axis = 2;  // largest extent; ties red (2), green (1), blue (0)
            if (b.hi[1] - b.lo[1] > b.hi[axis] - b.lo[axis]) axis = 1;
            if (b.hi[0] - b.lo[0] > b.hi[axis] - b.lo[axis]) axis = 0;
            if (b.lo[axis] == b.hi[axis]) continue;  // a single cell
            any = true;
            std::vector<long> slice(size_t(n[axis]), 0);
            inBox(b, [&](int i2, int j, int k, long c) { slice[size_t(axis == 0 ? i2 : axis == 1 ? j : k)] += c; });
            // The first slice where the running count passes half, or the one
            // before it when that ends nearer to half.
            const double half = b.count / 2.0;
            long run = 0;
            int cut = b.lo[axis];
            for (int l = b.lo[axis]; l <= b.hi[axis]; ++l) {
                const long prev = run;
                run += slice[size_t(l)];
                if (run > half) {
                    cut = l > b.lo[axis] && std::abs(prev - half) < std::abs(run - half) ? l - 1 : l;
                    break;
                }
            }
            Box p1 = b, p2 = b;
            p1.hi[axis] = cut, p2.lo[axis] = cut + 1;
            p1.count = shrink(p1), p2.count = shrink(p2);
            boxes[i] = p1;
            boxes.push_back(p2);
        }
    }
    // The count-weighted mean of each box, truncated.
    for (const Box& b : boxes) {
        long s[3] = {0, 0, 0}, c = 0;
        inBox(b, [&](int i, int j, int k, long v) { c += v, s[0] += v * i, s[1] += v * j, s[2] += v * k; });
        out.push_back(entry(s[0] / c, s[1] / c, s[2] / c));
    }
    return out;
}

// ------------------------------------------------------------ writing
// Every format, layout and palette mode: the caller's table (random, the
// 256-entry cube, or a product of levels: sorted or not, with repeats, with
// few or many levels per channel), the fixed tables, the median cut; pattern
// samples (the extremes frequent) or random colours. The DIB written is the
// reference's byte for byte, and reads back as the reference decodes it.
TEST(Dib, ToDibFollowsTheRulesForEveryFormatLayoutAndPalette) {
    std::mt19937 rng(12);
    for (int iter = 0; iter < 960; ++iter) {
        const Format f = kFormats[iter % 8];
        const int palette = iter / 8 % 3, w = vt::uniform(rng, 1, iter % 16 < 8 ? 33 : 70), h = vt::uniform(rng, 1, 9);
        const unsigned depth = kImageDepths[vt::uniform(rng, 0, 2)];
        const int nCh = depth == VEX_DEPTH_1U ? 1 : kChans[vt::uniform(rng, 0, 2)];
        vt::Image img(depth, nCh, h, w, vt::uniform(rng, 0, 1), rng() & 1 ? 8 : 4, vt::uniform(rng, 0, 1));
        if (rng() % 2) img.fillPattern(uint32_t(rng()));
        else fillRandom(img.get(), uint32_t(rng()));
        img.get()->alphaChannel = nCh == 4 ? 4 : 0;
        setSeq(img.get(), nCh == 1 ? kSeqs[vt::uniform(rng, 0, 1)] : kSeqs[vt::uniform(rng, palette == 2 ? 2 : 0, 5)]);
        const int K = f.bits <= 8 ? 1 << f.bits : 0;
        const unsigned clrUsed = K && rng() % 3 == 0 ? unsigned(vt::uniform(rng, 1, K)) : 0;
        Dib d = makeDib(f.bits, w, h, f.compression, clrUsed, palette == 2 && K ? K : -1);
        randomDib(d, rng);
        if (f.compression == 3) randomMasks(d, rng);
        d.h()->biClrUsed = clrUsed;
        const int given = int(rng() % 5);  // the caller's table: the cube, random, or a product
        if (K && palette == 0 && given == 0 && d.tableLen() == 256) refFixed(d.table(), 256, false);
        else if (K && palette == 0 && given > 1) productTable(d, rng);
        Dib ref = d.clone();
        if (K && palette == 1) refFixed(ref.table(), ref.tableLen(), nCh == 1);
        if (K && palette == 2) {
            std::vector<std::array<int, 3>> px, table{{0, 0, 0}, {255, 255, 255}};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::array<int, 4> r = refRecord(img.get(), x, y);
                    px.push_back({r[0], r[1], r[2]});
                }
            if (depth != VEX_DEPTH_1U) table = refMedianCut(px, nCh > 1, K);
            for (size_t i = 0; i < table.size(); ++i)
                for (int c = 0; c < 4; ++c) ref.table()[4 * i + size_t(c)] = uint8_t(c < 3 ? table[i][size_t(c)] : 0);
            ref.h()->biClrUsed = unsigned(table.size());
        }
        std::vector<uint8_t> want = ref.copy();
        refEncode(img.get(), ref, want);
        vt::StatusReset reset;
        vexConvertToDIB(img.get(), d.h(), 1, palette);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        ASSERT_TRUE(want == d.copy()) << "bits " << f.bits << " comp " << f.compression << " palette " << palette << " ch "
                                      << nCh << " depth " << vt::depthName(depth) << " seq " << std::string(img.get()->channelSeq, 4);
        vt::Image back = img.clone();
        vexConvertFromDIB(d.h(), back.get());
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        expectDecoded(d, back, img);
    }
}

// Row copies of 16 MiB and more are streamed; a million pixels and more
// make the indexed writer keep a table of the index of every colour. Rows
// with padding; whole rows (padding included) every 23rd row against the
// reference.
TEST(Dib, LargeImagesGiveTheSameBytes) {
    struct Case { bool toDib; int bits, nCh; const char* seq; int w, h; };
    const Case cases[] = {
        {false, 24, 3, "BGR", 2403, 2400}, {false, 32, 4, "BGRA", 2403, 1800},
        {true, 24, 3, "BGR", 2403, 2400},  {true, 8, 3, "BGR", 2403, 2400},
    };
    std::mt19937 rng(19);
    for (const Case& k : cases) {
        vt::Image img(VEX_DEPTH_8U, k.nCh, k.h, k.w, 0, 4, k.bits == 24 ? VEX_ORIGIN_BL : VEX_ORIGIN_TL);
        setSeq(img.get(), k.seq);
        img.get()->alphaChannel = k.nCh == 4 ? 4 : 0;
        fillRandom(img.get(), uint32_t(rng()));
        Dib d = makeDib(k.bits, k.w, k.h);
        randomDib(d, rng);
        vt::StatusReset reset;
        if (!k.toDib) {
            vexConvertFromDIB(d.h(), img.get());
            ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
            expectDecoded(d, img, img, 23);
            continue;
        }
        std::vector<uint8_t> want = d.copy();
        refEncode(img.get(), d, want, true, 23);
        vexConvertToDIB(img.get(), d.h(), 1, 0);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
        const size_t start = size_t(d.pixels() - d.bytes.get()), stride = size_t(d.stride());
        ASSERT_EQ(0, std::memcmp(want.data(), d.bytes.get(), start)) << k.seq;
        for (size_t y = 0; y < size_t(k.h); y += 23)
            ASSERT_EQ(0, std::memcmp(want.data() + start + y * stride, d.pixels() + y * stride, stride)) << k.seq << " row " << y;
    }
}

// The streamed copy on its own: every destination offset within a line,
// lengths around a line, runs apart and overlapping (as memmove); every
// byte right, nothing written around the run.
TEST(Dib, StreamedCopiesAreMemmoves) {
    std::vector<uint8_t> buf(12000), want;
    uint8_t* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(buf.data()) + 64) & ~uintptr_t(63));
    for (int offset = 0; offset < 64; ++offset)
        for (int64_t n : {1, 5, 63, 64, 65, 130, 1000, 4099})
            for (int64_t from : {int64_t(5000), int64_t(offset + 7), int64_t(offset)}) {
                for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(i * 13 + 1);
                want = buf;
                const size_t at = size_t(base - buf.data());
                std::memmove(want.data() + at + size_t(offset), want.data() + at + size_t(from), size_t(n));
                vex::ownStreamCopy(reinterpret_cast<char*>(base + offset), reinterpret_cast<const char*>(base + from), n);
                vex::ownStoreFence();
                ASSERT_TRUE(want == buf) << offset << " " << n << " " << from;
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
            SCOPED_TRACE("bits " + std::to_string(c.bits) + " height " + std::to_string(height));
            Dib d = makeDib(c.bits, 13, height, c.comp, unsigned(c.clrUsed));
            randomDib(d, rng);
            if (c.ramp) setRamp(d, int(d.tableLen()));
            else if (c.bits <= 8) d.table()[0] = 1, d.table()[4 * (d.tableLen() - 1)] = 7;  // not a ramp
            const int up = c.bits == 32 ? 8 : 0;
            if (c.comp == 3) setMasks(d, 0xF800u << up, 0x7E0u << up, 0x1Fu << up);
            int clone = -1;
            vt::StatusReset reset;
            VexImage* img = vexTranslateDIB(d.h(), &clone);
            ASSERT_NE(nullptr, img);
            const VexImage& i = *img;
            EXPECT_EQ(std::make_tuple(clone, i.nChannels, i.depth, i.alphaChannel, i.dataOrder, i.align, i.origin),
                      std::make_tuple(c.share, c.nCh, c.depth, c.nCh == 4 ? 4 : 0, c.share ? 0 : 1, c.share ? 4 : 8,
                                      height > 0 ? VEX_ORIGIN_BL : VEX_ORIGIN_TL));
            EXPECT_EQ(std::string(i.channelSeq, 4) + std::string(i.colorSpace, 4),
                      std::string(c.nCh == 1 ? "G\0\0\0GRAY" : c.nCh == 3 ? "BGR\0RGB\0" : "BGRARGBA", 8));
            EXPECT_TRUE(!c.share || std::make_tuple(i.imageData, i.widthStep, i.dataSize) ==
                                        std::make_tuple(reinterpret_cast<char*>(d.pixels()), int(d.stride()), int(d.stride() * 5)));
            // Every picture pixel as the rules read it (a shared 8-bit ramp of
            // fewer than 256 entries holds the indices).
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x)
                    for (int ch = 1; ch <= c.nCh; ++ch) {
                        int64_t want = expectedSample(refPixel(d, x, y), c.nCh == 1 ? "G" : "BGR", c.nCh, c.depth, ch);
                        if (c.bits == 8 && c.ramp && c.clrUsed) want = d.pixels()[(height > 0 ? 4 - y : y) * d.stride() + x];
                        ASSERT_EQ(want, vt::sample(img, x, i.origin == VEX_ORIGIN_BL ? 4 - y : y, ch)) << x << "," << y;
                    }
            vexDeallocate(img, VEX_IMAGE_ALL);  // a shared buffer is not freed
            EXPECT_EQ(VEX_StsOk, vexGetErrStatus());
        }
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
            EXPECT_EQ(std::make_pair(clone, img->nChannels), spoil < 0 ? std::make_pair(1, 1) : std::make_pair(0, 3)) << n << " " << spoil;
            vexDeallocate(img, VEX_IMAGE_ALL);
        }
}

// A 16-bit image written with dither 8 is the image reduced to 8 bits by
// vexReduceBits, written with dither 1.
TEST(Dib, SixteenBitImagesAreDitheredThroughReduceBits) {
    vt::Image img(VEX_DEPTH_16U, 1, 9, 21), reduced(VEX_DEPTH_8U, 1, 9, 21);
    img.fillPattern(77);
    setSeq(img.get(), "G"), setSeq(reduced.get(), "G");
    vt::StatusReset reset;
    vexReduceBits(img.get(), reduced.get(), 0, 8, 1, nullptr);
    Dib want = makeDib(8, 21, 9), got = makeDib(8, 21, 9);
    vexConvertToDIB(reduced.get(), want.h(), 1, 1);
    vexConvertToDIB(img.get(), got.h(), 8, 1);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    EXPECT_TRUE(want.copy() == got.copy());
}

// ------------------------------------------------------------ checks
// One call with one thing spoiled: the report (text, status, function,
// file) and nothing written.
struct Call {
    Dib d = makeDib(8, 5, 4);
    vt::Image img{VEX_DEPTH_8U, 3, 4, 5};
    std::unique_ptr<vt::ImageBase> other;  // an image of another layout
    VexBitmapInfoHeader* dib = nullptr;
    VexImage* image = nullptr;
    int dither = 1, palette = 2, clone = -1;
    int* cloneData = &clone;
    void use(vt::ImageBase* i, const char* seq) { other.reset(i), image = i->get(), setSeq(image, seq); }
};
struct Rejection {
    char fn;  // 't' vexConvertToDIB, 'f' vexConvertFromDIB, 'n' vexTranslateDIB
    std::function<void(Call&)> spoil;
    const char* text;
    int status;
};

TEST(Dib, ChecksReportTheirTextAndWriteNothing) {
    const int bad = VEX_StsBadArg;
    const char* const sizeText = "(image->width != dib->biWidth || image->height != dib->biHeight)";
    const char* const compText = "(dib->biCompression != 0) && (dib->biCompression != 3)";
    const auto zeroMask = [](Call& c) { c.d = makeDib(32, 5, 4, 3), c.dib = c.d.h(), setMasks(c.d, 0xFF0000, 0, 0xFF); };
    const Rejection cases[] = {
        {'t', [](Call& c) { c.image->alphaChannel = 2; }, "(image->alphaChannel != 0 && image->alphaChannel != 4)", bad},
        {'t', [](Call& c) { c.image->alphaChannel = 3; }, "(image->alphaChannel != 0 && image->alphaChannel != 4)", bad},
        {'t', [](Call& c) { c.use(new vt::Image(VEX_DEPTH_8U, 2, 4, 5), "BGR"); }, "(image->nChannels != 3 && image->nChannels != 1)", bad},
        {'t', [](Call& c) { c.use(new vt::Image(VEX_DEPTH_8U, 4, 4, 5), "BGRA"); }, "(image->nChannels != 3 && image->nChannels != 1)", bad},
        {'t', [](Call& c) { c.use(new vt::Image(VEX_DEPTH_16S, 3, 4, 5), "BGR"); }, "(image->depth & 0x80000000)", bad},
        {'t', [](Call& c) { c.d.h()->biWidth = 6; }, sizeText, bad},
        {'t', [](Call& c) { c.d.h()->biHeight = -4; }, sizeText, bad},
        {'t', [](Call& c) { c.d.h()->biSize = 108; }, "(dib->biSize != sizeof(BITMAPINFOHEADER))", bad},
        {'t', [](Call& c) { c.d.h()->biPlanes = 2; }, "(dib->biPlanes != 1)", bad},
        {'t', [](Call& c) { c.d.h()->biCompression = 1; }, compText, bad},
        {'t', [](Call& c) { c.dither = 2; }, "(dither != 8 && dither != 1)", bad},
        {'t', [](Call& c) { c.palette = 3; }, "(paletteConversion != 0 && paletteConversion != 1 && paletteConversion != 2)", bad},
        {'t', [](Call& c) { setSeq(c.image, "BRG"); }, "image->channelSeq unsupport", bad},
        {'t', [](Call& c) { c.d.h()->biBitCount = 2; }, "dib-<biBitCount is bad", bad},
        {'t', [](Call& c) { c.d.h()->biBitCount = 12; }, "dib-<biBitCount is bad", bad},
        {'t', [](Call& c) { setSeq(c.image, "G"); }, "create medcut palette error", bad},
        {'t', [](Call& c) { c.dib = nullptr; }, "dib==0", bad},
        {'t', [&](Call& c) { zeroMask(c), c.palette = 0; }, "dib colour mask is zero", bad},
        {'t', [](Call& c) { c.use(new vt::TiledImage(VEX_DEPTH_8U, 3, 4, 5, 8, 8), "RGB"); }, "(image->tileInfo != NULL)", bad},
        {'f', [](Call& c) { c.d.h()->biSize = 124; }, "(dib->biSize != sizeof(BITMAPINFOHEADER))", bad},
        {'f', [](Call& c) { c.d.h()->biPlanes = 0; }, "(dib->biPlanes != 1)", bad},
        {'f', [](Call& c) { c.d.h()->biCompression = 2; }, compText, bad},
        {'f', [](Call& c) { c.d.h()->biBitCount = 2; }, "", VEX_StsInternal},
        {'f', [](Call& c) { c.d.h()->biWidth = 9; }, "image size is too small", bad},
        {'f', [](Call& c) { c.d.h()->biHeight = -5; }, "image size is too small", bad},
        {'f', zeroMask, "dib colour mask is zero", bad},
        {'f', [](Call& c) { c.d = makeDib(16, 5, 4, 3), c.dib = c.d.h(), setMasks(c.d, 0x10000, 0x3E0, 0x1F); }, "dib colour mask is zero", bad},
        {'f', [](Call& c) { setSeq(c.image, "XYZ"); }, "image->channelSeq unsupport", bad},
        {'f', [](Call& c) { c.use(new vt::Image(VEX_DEPTH_8U, 2, 4, 5), "BGR"); }, "", VEX_StsInternal},
        {'f', [](Call& c) { c.dib = nullptr; }, "dib==0", bad},
        {'f', [](Call& c) { c.use(new vt::TiledImage(VEX_DEPTH_8U, 3, 4, 5, 8, 8), "RGB"); }, "(image->tileInfo != NULL)", bad},
        {'n', [](Call& c) { c.dib = nullptr; }, "(dib == ((void *)0))", bad},
        {'n', [](Call& c) { c.cloneData = nullptr; }, "(cloneData == ((void *)0))", bad},
        {'n', [](Call& c) { c.d.h()->biSize = 124; }, "(dib->biSize != sizeof(BITMAPINFOHEADER))", bad},
        {'n', [](Call& c) { c.d.h()->biPlanes = 0; }, "(dib->biPlanes != 1)", bad},
        {'n', [](Call& c) { c.d.h()->biCompression = 2; }, compText, bad},
        {'n', [](Call& c) { c.d.h()->biBitCount = 2; }, "Bad dib->biBitCount", bad},
        {'n', zeroMask, "dib colour mask is zero", bad},
        {'n', [](Call& c) { c.d.h()->biWidth = -3; }, "Create image header is failed", bad},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Rejection& r = cases[k];
        SCOPED_TRACE(k);
        Call c;
        c.img.fillPattern(3);
        setSeq(c.img.get(), "RGB");
        c.dib = c.d.h(), c.image = c.img.get();
        r.spoil(c);
        const std::vector<uint8_t> dibBefore = c.d.copy(), imageBefore = c.img.bytes();
        vt::ReportLog log;
        vt::StatusReset reset;
        if (r.fn == 't') vexConvertToDIB(c.image, c.dib, c.dither, c.palette);
        if (r.fn == 'f') vexConvertFromDIB(c.dib, c.image);
        if (r.fn == 'n') { EXPECT_EQ(vexTranslateDIB(c.dib, c.cloneData), nullptr); }
        vt::expectOneReport(log, r.status, r.fn == 't' ? "vexConvertToDIB" : r.fn == 'f' ? "vexConvertFromDIB" : "vexTranslateDIB",
                            "vexdib", r.text);
        EXPECT_TRUE(dibBefore == c.d.copy() && imageBefore == c.img.bytes()) << "written";
    }
    // A failure without a message of its own is not reported over a negative status.
    vt::ReportLog log;
    Call c;
    c.d.h()->biBitCount = 7;
    vexSetErrStatus(VEX_StsBadArg);
    vexConvertFromDIB(c.d.h(), c.img.get());
    EXPECT_EQ(0u, log.size());
}

}  // namespace
