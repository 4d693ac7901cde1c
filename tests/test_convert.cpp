// vexConvert and vexBitonalToGray against a plain reference formula: every
// depth pair over all 8- and 16-bit values and sampled 32-bit ones, then
// random layouts (orders, origins, channels, tiles, ROIs) compared byte for
// byte, tiled walks against untiled ones, the tile order, refused tiles and
// every check text.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;
const unsigned* const kInt = vt::kDepths + 1;  // 8U, 8S, 16U, 16S, 32S
const char kCvtFile[] = "..\\_SRC\\vexcvrt";

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// The conversion rule of one depth pair, written from its definition.
int64_t refConvert(int64_t v, unsigned from, unsigned to, int mode) {
    const int sb = vt::depthBits(from), db = vt::depthBits(to);
    const bool ss = vt::depthSigned(from), ds = vt::depthSigned(to);
    if (db >= sb) return v + (ss == ds ? 0 : ss ? (int64_t(1) << (sb - 1)) : -(int64_t(1) << (sb - 1)));
    int64_t r;
    if (!ss) {
        r = mode ? v / 256 : v % 256;
        return ds ? r - 128 : r;
    }
    const int64_t scale = int64_t(1) << (sb - db), low = (int64_t(1) << (db - 1)) - 1;
    if (mode)
        r = v / scale;  // C++ division rounds toward zero
    else
        r = v >= 0 ? v % (low + 1) : -(low + 1) + ((v % (low + 1)) + (low + 1)) % (low + 1);
    return ds ? r : r + low + 1;
}

// Values of a depth: all of them up to 16 bits, else extremes and a sample.
std::vector<int64_t> valuesOf(unsigned depth, std::mt19937& rng) {
    std::vector<int64_t> v;
    if (vt::depthBits(depth) <= 16) {
        for (int64_t x = vt::depthMin(depth); x <= vt::depthMax(depth); ++x) v.push_back(x);
        return v;
    }
    for (int64_t x : {int64_t(INT32_MIN), int64_t(INT32_MIN) + 1, int64_t(-1), int64_t(0), int64_t(1),
                      int64_t(INT32_MAX), int64_t(70000), int64_t(-70000), int64_t(-16777216), int64_t(16777215)})
        v.push_back(x);
    for (int i = 0; i < 20000; ++i) v.push_back(pick(rng, INT_MIN, INT_MAX) >> pick(rng, 0, 31));
    return v;
}

TEST(Convert, EveryDepthPairAndModeFollowsTheRule) {
    std::mt19937 rng(5);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int mode = 0; mode < 2; ++mode) {
                const std::vector<int64_t> vals = valuesOf(kInt[i], rng);
                const int n = int(vals.size()), w = 509, h = (n + w - 1) / w;
                vt::Image s(kInt[i], 1, h, w), d(kInt[j], 1, h, w);
                for (int k = 0; k < h * w; ++k) s.setSample(k % w, k / w, 1, vals[size_t(k % n)]);
                vexSetErrStatus(VEX_StsOk);
                vexConvert(s.get(), d.get(), mode, nullptr);
                ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
                for (int k = 0; k < h * w; ++k)
                    ASSERT_EQ(refConvert(vals[size_t(k % n)], kInt[i], kInt[j], mode), d.sample(k % w, k / w, 1))
                        << vt::depthName(kInt[i]) << "->" << vt::depthName(kInt[j]) << " mode " << mode
                        << " v " << vals[size_t(k % n)];
            }
}

// Whole images of 16 MiB and more of destination are written as one long
// run with cache-bypassing stores: same values, aligned or not.
TEST(Convert, LongRunsGiveTheSameValues) {
    struct Big { unsigned from, to; int mode, height, width; };
    for (const Big& b : {Big{VEX_DEPTH_8U, VEX_DEPTH_16U, 1, 2049, 4100}, Big{VEX_DEPTH_16S, VEX_DEPTH_8S, 0, 4097, 4096},
                         Big{VEX_DEPTH_16U, VEX_DEPTH_8U, 1, 4097, 4096}}) {
        vt::Image s(b.from, 1, b.height, b.width), d(b.to, 1, b.height, b.width);
        const int64_t n = int64_t(b.height) * b.width;
        const int ss = vt::depthBits(b.from) / 8, ds = vt::depthBits(b.to) / 8;
        uint32_t x = 0x9E3779B9u + uint32_t(b.mode);
        for (int64_t i = 0; i < n * ss; ++i) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            s.get()->imageData[i] = char(x >> 24);
        }
        // The expected result of every source value, then a plain walk.
        std::vector<int64_t> lut(size_t(1) << (8 * ss));
        for (size_t u = 0; u < lut.size(); ++u) {
            const int64_t v = vt::depthSigned(b.from) ? (ss == 1 ? int64_t(int8_t(u)) : int64_t(int16_t(u))) : int64_t(u);
            lut[u] = refConvert(v, b.from, b.to, b.mode);
        }
        vexConvert(s.get(), d.get(), b.mode, nullptr);
        for (int64_t i = 0; i < n; ++i) {
            uint32_t u = 0, r = 0;
            std::memcpy(&u, s.get()->imageData + i * ss, size_t(ss));
            std::memcpy(&r, d.get()->imageData + i * ds, size_t(ds));
            const int64_t got = vt::depthSigned(b.to) ? (ds == 1 ? int64_t(int8_t(r)) : int64_t(int16_t(r))) : int64_t(r);
            if (got != lut[u]) FAIL() << "element " << i << ": " << got << ", expected " << lut[u];
        }
    }
}

TEST(Convert, WorkedValues) {
    struct Case { unsigned from, to; int64_t v, scaled, truncated; };
    const Case cases[] = {
        {VEX_DEPTH_8U, VEX_DEPTH_8S, 0, -128, -128},        {VEX_DEPTH_8U, VEX_DEPTH_16S, 0, -128, -128},
        {VEX_DEPTH_8U, VEX_DEPTH_32S, 0, -128, -128},       {VEX_DEPTH_8S, VEX_DEPTH_8U, -128, 0, 0},
        {VEX_DEPTH_8S, VEX_DEPTH_16U, -128, 0, 0},          {VEX_DEPTH_16U, VEX_DEPTH_16S, 65535, 32767, 32767},
        {VEX_DEPTH_16S, VEX_DEPTH_8S, -1, 0, -1},           {VEX_DEPTH_16S, VEX_DEPTH_8S, 300, 1, 44},
        {VEX_DEPTH_16S, VEX_DEPTH_8S, -300, -1, -44},       {VEX_DEPTH_32S, VEX_DEPTH_16S, 70000, 1, 4464},
        {VEX_DEPTH_32S, VEX_DEPTH_16U, -1, 32768, 32767},   {VEX_DEPTH_16U, VEX_DEPTH_8U, 0x1234, 0x12, 0x34},
    };
    for (const Case& c : cases)
        for (int mode = 0; mode < 2; ++mode) {
            vt::Image s(c.from, 1, 1, 1), d(c.to, 1, 1, 1);
            s.setSample(0, 0, 1, c.v);
            vexConvert(s.get(), d.get(), mode, nullptr);
            EXPECT_EQ(mode ? c.scaled : c.truncated, d.sample(0, 0, 1)) << vt::depthName(c.from) << " " << c.v;
            EXPECT_EQ(mode ? c.scaled : c.truncated, refConvert(c.v, c.from, c.to, mode));
        }
}

// ---------------------------------------------------------------------------
// Layouts. The expected destination is the destination before the call with
// the reference written into every pixel of the work area (rows reversed
// when the origins differ); bytes outside stay as they were.

enum class Op { kConvert, kBitonal };
struct Params { Op op; int mode, coi, zero, one; };

void reference(const Params& p, const VexImage* s, VexImage* d, int x0, int y0, int x1, int y1) {
    const bool flip = s->origin != d->origin;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const int sy = flip ? s->height - 1 - y : y;
            if (p.op == Op::kBitonal) {
                const int64_t v = vt::sample(s, x, sy, 1) ? p.one : p.zero;
                for (int c = 1; c <= d->nChannels; ++c) vt::setSample(d, x, y, c, v);
            } else if (d->depth == VEX_DEPTH_1U) {
                const int c = s->nChannels > 1 ? p.coi : 1;
                vt::setSample(d, x, y, 1, s->depth == VEX_DEPTH_1U ? vt::sample(s, x, sy, 1) : vt::sample(s, x, sy, c) > 0);
            } else {
                for (int c = 1; c <= d->nChannels; ++c)
                    vt::setSample(d, x, y, c, refConvert(vt::sample(s, x, sy, c), s->depth, d->depth, p.mode));
            }
        }
}

// Byte `index` of row y of an image, tiled or not (the tile is got through
// the image's own callback and handed back).
template <class F>
void withRowByte(const VexImage* im, int y, int index, F f) {
    if (!im->tileInfo) return f(reinterpret_cast<uint8_t*>(im->imageData + y * int64_t(im->widthStep) + index));
    const int tw = im->tileInfo->width, th = im->tileInfo->height, tx = index * 8 / tw, ty = y / th;
    im->tileInfo->callBack(im, tx, ty, VEX_TILE_GET_WRITE);
    char* tile = im->tileInfo->tileData;
    const int step = vt::rowStep(tw, VEX_DEPTH_1U, 1, im->dataOrder, im->align);
    f(reinterpret_cast<uint8_t*>(tile + int64_t(y - ty * th) * step + (index * 8 - tx * tw) / 8));
    im->tileInfo->tileData = tile;
    im->tileInfo->callBack(im, tx, ty, VEX_TILE_RELEASE);
}

// The 1-bit copy moves whole bytes: the padding bits of the last byte of
// each row (rows y0 to y1) come along.
void copyPaddingBits(const VexImage* s, const VexImage* d, int y0, int y1) {
    if (s->depth != VEX_DEPTH_1U || d->depth != VEX_DEPTH_1U || s->width % 8 == 0) return;
    const bool flip = s->origin != d->origin;
    const int last = s->width / 8, keep = s->width % 8;
    for (int y = y0; y < y1; ++y) {
        uint8_t src = 0;
        withRowByte(s, flip ? s->height - 1 - y : y, last, [&](uint8_t* p) { src = *p; });
        withRowByte(d, y, last, [&](uint8_t* p) { *p = uint8_t((*p & (0xFF00u >> keep)) | (src & (0xFFu >> keep))); });
    }
}

ImagePtr cloneOf(const vt::ImageBase& im) {
    if (auto* t = dynamic_cast<const vt::TiledImage*>(&im)) return ImagePtr(new vt::TiledImage(t->clone()));
    return ImagePtr(new vt::Image(static_cast<const vt::Image&>(im).clone()));
}

void call(const Params& p, VexImage* s, VexImage* d, const VexMapping* m) {
    if (p.op == Op::kBitonal) vexBitonalToGray(s, d, p.zero, p.one, m);
    else vexConvert(s, d, p.mode, m);
}

// One random case: source and destination layouts of equal size that the
// checks accept, ROIs attached (they must not matter).
struct Case {
    vt::Layout sl, dl;
    Params p;
};
Case randomCase(std::mt19937& rng, Op op, int maxSize) {
    vt::LayoutLimits lim;
    lim.maxSize = maxSize;
    Case c;
    c.sl = vt::randomLayout(rng, lim);
    c.dl = vt::randomLayout(rng, lim);
    c.dl.height = c.sl.height, c.dl.width = c.sl.width;
    c.p = Params{op, pick(rng, 0, 1), 0, 0, 0};
    if (op == Op::kBitonal) {
        c.sl.depth = VEX_DEPTH_1U, c.sl.nChannels = 1;
        if (c.dl.depth == VEX_DEPTH_1U) c.dl.depth = kInt[pick(rng, 0, 4)];
        c.p.zero = int(pick(rng, int(vt::depthMin(c.dl.depth) / 2), int(vt::depthMax(c.dl.depth) / 2)));
        c.p.one = int(vt::depthMax(c.dl.depth) - pick(rng, 0, 3));
    } else if (c.dl.depth == VEX_DEPTH_1U && c.sl.depth != VEX_DEPTH_1U) {
        c.dl.nChannels = 1;
        if (c.sl.nChannels > 1) c.sl.hasRoi = true, c.sl.roi = VexROI{pick(rng, 1, c.sl.nChannels), 0, 0, 1, 1};
        c.p.coi = c.sl.hasRoi ? c.sl.roi.coi : 0;
    } else {
        if (c.sl.depth == VEX_DEPTH_1U) c.dl.depth = VEX_DEPTH_1U;
        if (c.dl.depth == VEX_DEPTH_1U) c.sl.depth = VEX_DEPTH_1U;
        c.dl.nChannels = c.sl.nChannels = c.sl.depth == VEX_DEPTH_1U ? 1 : c.sl.nChannels;
    }
    for (vt::Layout* l : {&c.sl, &c.dl})
        if (l->hasRoi && l->roi.coi > l->nChannels) l->roi.coi = l->nChannels;
    return c;
}

TEST(Convert, RandomLayoutsMatchTheReferenceAndWriteNothingElse) {
    std::mt19937 rng(17);
    for (int iter = 0; iter < 3000; ++iter) {
        const Case c = randomCase(rng, iter % 4 == 3 ? Op::kBitonal : Op::kConvert, 40);
        ImagePtr s = vt::makeImage(c.sl, uint32_t(iter)), d = vt::makeImage(c.dl, uint32_t(iter) + 7);
        d->fillSentinel(0x3C);  // padding that differs from the source's
        d->fillPattern(uint32_t(iter) + 7);
        ImagePtr expect = cloneOf(*d);
        reference(c.p, s->get(), expect->get(), 0, 0, c.dl.width, c.dl.height);
        copyPaddingBits(s->get(), expect->get(), 0, c.dl.height);
        vexSetErrStatus(VEX_StsOk);
        call(c.p, s->get(), d->get(), nullptr);
        ASSERT_EQ(VEX_StsOk, vexGetErrStatus()) << vt::describe(c.sl) << " -> " << vt::describe(c.dl);
        ASSERT_EQ(expect->bytes(), d->bytes()) << vt::describe(c.sl) << " -> " << vt::describe(c.dl) << " mode "
                                               << c.p.mode << ": " << vt::diffSamples(expect->get(), d->get());
        for (const ImagePtr* im : {&s, &d})
            if (auto* t = dynamic_cast<vt::TiledImage*>(im->get())) {
                EXPECT_EQ(0, t->outstanding());
                EXPECT_EQ(0, t->badCalls());
                EXPECT_EQ(0, t->releaseMismatches());
            }
    }
}

// Rows long enough for the pixel-by-pixel loops between the two orders.
TEST(Convert, LongRowsBetweenPixelAndPlaneOrder) {
    for (int order = 0; order < 2; ++order)
        for (int mode = 0; mode < 2; ++mode) {
            vt::Image s(VEX_DEPTH_16S, 3, 5, 2731, order), d(VEX_DEPTH_8U, 3, 5, 2731, 1 - order, 4, VEX_ORIGIN_BL);
            s.fillPattern(3);
            ImagePtr expect = cloneOf(d);
            reference(Params{Op::kConvert, mode, 0, 0, 0}, s.get(), expect->get(), 0, 0, 2731, 5);
            vexConvert(s.get(), d.get(), mode, nullptr);
            EXPECT_EQ(expect->bytes(), d.bytes()) << vt::diffSamples(expect->get(), d.get());
        }
}

TEST(Convert, MappingConvertsOneDestinationTileAndAllTilesEqualTheUntiledResult) {
    std::mt19937 rng(23);
    for (int iter = 0; iter < 400; ++iter) {
        Case c = randomCase(rng, iter % 3 == 2 ? Op::kBitonal : Op::kConvert, 70);
        c.dl.tiled = true;
        ImagePtr s = vt::makeImage(c.sl, uint32_t(iter)), d = vt::makeImage(c.dl, uint32_t(iter) + 9);
        d->fillSentinel(0x3C);
        d->fillPattern(uint32_t(iter) + 9);
        ImagePtr whole = cloneOf(*d);
        call(c.p, s->get(), whole->get(), nullptr);
        const int tw = c.dl.tileWidth, th = c.dl.tileHeight;
        for (int ty = 0; ty * th < c.dl.height; ++ty)
            for (int tx = 0; tx * tw < c.dl.width; ++tx) {
                const VexMapping m{tx * tw + pick(rng, 0, std::min(tw, c.dl.width - tx * tw) - 1),
                                   ty * th + pick(rng, 0, std::min(th, c.dl.height - ty * th) - 1)};
                ImagePtr expect = cloneOf(*d);
                const int y1 = std::min((ty + 1) * th, c.dl.height);
                reference(c.p, s->get(), expect->get(), tx * tw, ty * th, std::min((tx + 1) * tw, c.dl.width), y1);
                if ((tx + 1) * tw >= c.dl.width) copyPaddingBits(s->get(), expect->get(), ty * th, y1);
                vexSetErrStatus(VEX_StsOk);
                call(c.p, s->get(), d->get(), &m);
                ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
                ASSERT_EQ(expect->bytes(), d->bytes()) << vt::describe(c.sl) << " -> " << vt::describe(c.dl)
                                                       << " tile " << tx << "," << ty;
            }
        ASSERT_EQ(whole->bytes(), d->bytes()) << vt::describe(c.sl) << " -> " << vt::describe(c.dl);
        // A point outside the destination selects nothing.
        const VexMapping outside{-1, c.dl.height + 100};
        call(c.p, s->get(), d->get(), &outside);
        EXPECT_EQ(whole->bytes(), d->bytes());
    }
}

TEST(Convert, TilesAreHeldOneOfEachAndChangedAsTheWalkCrossesThem) {
    // Destination tiles 16x16, source tiles 8x8, opposite origins: source
    // rows are read upwards, so its tile rows are met bottom first.
    vt::TiledImage s(VEX_DEPTH_8U, 1, 16, 16, 8, 8), d(VEX_DEPTH_16U, 1, 16, 16, 16, 16, 0, 4, VEX_ORIGIN_BL);
    s.fillPattern(1);
    vexConvert(s.get(), d.get(), 0, nullptr);
    const std::vector<vt::TileCall> dstCalls = {{0, 0, 2}, {0, 0, 4}};
    const std::vector<vt::TileCall> srcCalls = {{0, 1, 1}, {0, 1, 4}, {1, 1, 1}, {1, 1, 4}, {0, 0, 1},
                                                {0, 0, 4}, {1, 0, 1}, {1, 0, 4}};
    EXPECT_EQ(dstCalls, d.calls());
    EXPECT_EQ(srcCalls, s.calls());
}

TEST(Convert, RefusedTileStopsAtOnceWithItsText) {
    for (int side = 0; side < 2; ++side) {
        vt::TiledImage s(VEX_DEPTH_8U, 2, 20, 20, 8, 8), d(VEX_DEPTH_8S, 2, 20, 20, 8, 8);
        s.fillPattern(4);
        (side ? s : d).refuse(1, 1, side ? 1 : 2);
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        vexConvert(s.get(), d.get(), 1, nullptr);
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ(VEX_StsBadArg, log[0].status);
        EXPECT_EQ(side ? "(srcImage->tileInfo->tileData == NULL)" : "(dstImage->tileInfo->tileData == NULL)",
                  log[0].context);
        EXPECT_EQ(kCvtFile, log[0].file);
        const vt::TiledImage& refused = side ? s : d;
        EXPECT_EQ((vt::TileCall{1, 1, side ? 1 : 2}), refused.calls().back());  // nothing after it
        EXPECT_EQ(-128 + s.sample(0, 0, 1), d.sample(0, 0, 1));                 // earlier tiles written
        vexSetErrStatus(VEX_StsOk);
    }
}

TEST(Convert, OverlappingBuffersWithOppositeOriginsReverseTheRows) {
    vt::Image a(VEX_DEPTH_16U, 2, 9, 5);
    a.fillPattern(8);
    vt::Image original = a.clone();
    VexImage view = *a.get();
    view.origin = VEX_ORIGIN_BL;
    view.roi = nullptr;
    vexConvert(a.get(), &view, 0, nullptr);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 1; c <= 2; ++c) ASSERT_EQ(original.sample(x, 8 - y, c), a.sample(x, y, c));
}

// ---------------------------------------------------------------------------
// Checks: text, status, file, and the destination untouched.

struct CheckCase {
    const char* text;
    std::function<void(vt::Image& s, vt::Image& d, int& mode)> setup;
    unsigned sDepth = VEX_DEPTH_8U, dDepth = VEX_DEPTH_16S;
    int sCh = 3, dCh = 3;
};

TEST(Convert, EveryCheckReportsItsTextAndWritesNothing) {
    const std::vector<CheckCase> cases = {
        {"Image header is null", [](vt::Image&, vt::Image&, int&) {}},
        {"Image origin is invalid", [](vt::Image&, vt::Image& d, int&) { d.get()->origin = 5; }},
        {"(srcImage->height != dstImage->height)", [](vt::Image& s, vt::Image&, int&) { s.get()->height = 3; }},
        {"(srcImage->width != dstImage->width)", [](vt::Image& s, vt::Image&, int&) { s.get()->width = 3; }},
        {"((srcImage->nChannels > 1) && (srcImage->roi == 0))", [](vt::Image&, vt::Image&, int&) {}, VEX_DEPTH_8U, VEX_DEPTH_1U, 3, 1},
        {"((srcImage->nChannels > 1) && (srcImage->roi->coi <= 0))", [](vt::Image& s, vt::Image&, int&) { s.setRoi(0, 0, 0, 1, 1); }, VEX_DEPTH_16S, VEX_DEPTH_1U, 2, 1},
        {"srcImage->nChannels != dstImage->nChannels", [](vt::Image&, vt::Image&, int&) {}, VEX_DEPTH_8U, VEX_DEPTH_8U, 3, 2},
        {"((srcImage->depth == 1) && (srcImage->depth != dstImage->depth))", [](vt::Image&, vt::Image&, int&) {}, VEX_DEPTH_1U, VEX_DEPTH_8U, 1, 1},
        {"((ConvertMode != 1) && (ConvertMode != 0))", [](vt::Image&, vt::Image&, int& m) { m = 2; }},
        {"((ConvertMode != 1) && (ConvertMode != 0))", [](vt::Image&, vt::Image&, int& m) { m = -1; }, VEX_DEPTH_8U, VEX_DEPTH_8U},
    };
    for (const CheckCase& c : cases) {
        vt::Image s(c.sDepth, c.sCh, 6, 10), d(c.dDepth, c.dCh, 6, 10);
        s.fillPattern(2);
        int mode = 0;
        VexImage savedS = *s.get(), savedD = *d.get();
        c.setup(s, d, mode);
        const std::vector<uint8_t> before = d.bytes();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        vexConvert(std::string(c.text) == "Image header is null" ? nullptr : s.get(), d.get(), mode, nullptr);
        ASSERT_EQ(1u, log.size()) << c.text;
        EXPECT_EQ(VEX_StsBadArg, log[0].status);
        EXPECT_EQ("vexConvert", log[0].funcName);
        EXPECT_EQ(kCvtFile, log[0].file);
        EXPECT_EQ(0u, log[0].context.find(c.text)) << log[0].context;
        EXPECT_EQ(before, d.bytes()) << c.text;
        VexROI* roi = s.get()->roi;
        *s.get() = savedS, *d.get() = savedD;
        s.get()->roi = roi;
        vexSetErrStatus(VEX_StsOk);
    }
}

TEST(Convert, OneBitPathsIgnoreTheModeAndPickTheChannel) {
    vt::Image s(VEX_DEPTH_8S, 3, 4, 13), d(VEX_DEPTH_1U, 1, 4, 13);
    s.fillPattern(6);
    s.setRoi(2, 5, 1, 1, 1);  // the ROI picks channel 2, its rectangle is ignored
    vexSetErrStatus(VEX_StsOk);
    vexConvert(s.get(), d.get(), 7, nullptr);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 13; ++x) EXPECT_EQ(s.sample(x, y, 2) > 0, d.sample(x, y, 1));
    vt::Image b(VEX_DEPTH_1U, 1, 4, 13);
    vexConvert(d.get(), b.get(), 9, nullptr);
    EXPECT_EQ(VEX_StsOk, vexGetErrStatus());
    EXPECT_EQ(d.bytes(), b.bytes());
}

TEST(Bitonal, RangeChecksInOrderAndResults) {
    struct R { unsigned depth; int zero, one; const char* text; };
    const R cases[] = {
        {VEX_DEPTH_8S, 128, 0, "((dstImage->depth == (0x80000000| 8)) && (ZeroScale > 127))"},
        {VEX_DEPTH_8S, -129, 999, "((dstImage->depth == (0x80000000| 8)) && (ZeroScale < -128))"},
        {VEX_DEPTH_8S, 0, 128, "((dstImage->depth == (0x80000000| 8)) && (OneScale > 127))"},
        {VEX_DEPTH_8S, 0, -129, "((dstImage->depth == (0x80000000| 8)) && (OneScale < -128))"},
        {VEX_DEPTH_8U, 256, -1, "((dstImage->depth == 8) && (ZeroScale > 255))"},
        {VEX_DEPTH_8U, -1, 255, "((dstImage->depth == 8) && (ZeroScale < 0))"},
        {VEX_DEPTH_8U, 0, 256, "((dstImage->depth == 8) && (OneScale > 255))"},
        {VEX_DEPTH_8U, 0, -1, "((dstImage->depth == 8) && (OneScale < 0))"},
        {VEX_DEPTH_16S, 32768, 0, "((dstImage->depth == (0x80000000|16)) && (ZeroScale > 32767))"},
        {VEX_DEPTH_16S, -32769, 0, "((dstImage->depth == (0x80000000|16)) && (ZeroScale < -32768))"},
        {VEX_DEPTH_16S, 0, 32768, "((dstImage->depth == (0x80000000|16)) && (OneScale > 32767))"},
        {VEX_DEPTH_16S, 0, -32769, "((dstImage->depth == (0x80000000|16)) && (OneScale < -32768))"},
        {VEX_DEPTH_16U, 65536, 0, "((dstImage->depth == 16) && (ZeroScale > 65535))"},
        {VEX_DEPTH_16U, -1, 0, "((dstImage->depth == 16) && (ZeroScale < 0))"},
        {VEX_DEPTH_16U, 0, 65536, "((dstImage->depth == 16) && (OneScale > 65535))"},
        {VEX_DEPTH_16U, 0, -1, "((dstImage->depth == 16) && (OneScale < 0))"},
        {VEX_DEPTH_1U, 0, 1, "(dstImage->depth == 1)"},
        {VEX_DEPTH_8U, 0, 1, "(srcImage->height != dstImage->height)"},
        {VEX_DEPTH_8U, 0, 1, "(srcImage->width != dstImage->width)"},
        {VEX_DEPTH_8U, 0, 1, "(srcImage->nChannels != 1)"},
        {VEX_DEPTH_8U, 0, 1, "(srcImage->depth != 1)"},
        {VEX_DEPTH_32S, INT_MIN, INT_MAX, nullptr},
        {VEX_DEPTH_32S, -1, 7, nullptr},
    };
    for (const R& c : cases) {
        const std::string text = c.text ? c.text : "";
        const int ch = c.depth == VEX_DEPTH_1U ? 1 : 3;
        const bool integerSource = text == "(srcImage->depth != 1)" || text == "(srcImage->nChannels != 1)";
        vt::Image s(integerSource ? VEX_DEPTH_8U : VEX_DEPTH_1U, text == "(srcImage->nChannels != 1)" ? 3 : 1,
                    text.find("height") != std::string::npos ? 4 : 5, text.find("width") != std::string::npos ? 10 : 11);
        vt::Image d(c.depth, ch, 5, 11, VEX_DATA_ORDER_PLANE);
        s.fillPattern(12);
        const std::vector<uint8_t> before = d.bytes();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        vexBitonalToGray(s.get(), d.get(), c.zero, c.one, nullptr);
        if (!c.text) {
            ASSERT_EQ(0u, log.size());
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 11; ++x)
                    for (int k = 1; k <= ch; ++k) EXPECT_EQ(s.sample(x, y, 1) ? c.one : c.zero, d.sample(x, y, k));
            continue;
        }
        ASSERT_EQ(1u, log.size()) << text;
        EXPECT_EQ(text, log[0].context);
        EXPECT_EQ(VEX_StsBadArg, log[0].status);
        EXPECT_EQ("vexBitonalToGray", log[0].funcName);
        EXPECT_EQ("..\\_SRC\\vexbitnl", log[0].file);
        EXPECT_EQ(before, d.bytes());
        vexSetErrStatus(VEX_StsOk);
    }
}

}  // namespace
