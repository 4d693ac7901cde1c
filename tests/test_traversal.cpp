// Regions, tile ranges and rectangle gathering: the traversal every
// operation relies on, checked against plain loops over random layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "image/ownrect.h"
#include "vextest.h"

namespace {

const vex::OwnSite kSite{"vexTraversalTest", "test_traversal"};

struct StatusReset {
    StatusReset() { vexSetErrStatus(VEX_StsOk); }
    ~StatusReset() { vexSetErrStatus(VEX_StsOk); }
};

int pick(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// Where sample (x, y, c) lives in an untiled image, found by writing it and
// looking for the byte (and, for 1U, the bit: 0 = MSB) that changed.
struct Address {
    int64_t byte;
    int bit;
};
Address probe(vt::Image& image, int x, int y, int c) {
    VexImage* im = image.get();
    const std::vector<uint8_t> saved = image.bytes();
    image.fillSentinel(0);
    image.setSample(x, y, c, -1);
    Address a{-1, 0};
    for (int64_t i = 0; i < im->dataSize; ++i) {
        const uint8_t b = static_cast<uint8_t>(im->imageData[i]);
        if (!b) continue;
        a.byte = i;
        while (!(b & (0x80 >> a.bit))) ++a.bit;
        break;
    }
    std::memcpy(im->imageData, saved.data(), saved.size());
    return a;
}

// A ROI interval cut to [0, size): start and length (0 when empty).
void clip(int pos, int len, int size, int* start, int* n) {
    const int64_t lo = std::max(pos, 0), hi = std::min<int64_t>(int64_t(pos) + len, size);
    *start = static_cast<int>(std::min<int64_t>(lo, size));
    *n = hi > lo ? static_cast<int>(hi - lo) : 0;
}
using std::make_tuple;

// ---------------------------------------------------------------------------
// Regions.

TEST(Region, ClippedAtEdgesAndEmptyBeyond) {
    vt::Image image(VEX_DEPTH_8U, 1, 100, 100);
    VexImage* im = image.get();
    image.setRoi(0, 95, 96, 10, 10);
    vex::OwnRegion r;
    vex::ownGetRegion(im, &r);
    const int64_t at = probe(image, 95, 96, 1).byte;
    EXPECT_EQ(make_tuple(r.rows, r.cols, r.first - im->imageData), make_tuple(4, 5, at));
    vex::OwnRegionOffset o;
    ASSERT_TRUE(vex::ownRegionOffset(im, &o));
    EXPECT_EQ(make_tuple(o.offset, o.rows, o.cols, o.rowBytes, o.channels),
              make_tuple(at, 4, 5, int64_t(5), 1));

    image.setRoi(0, 120, 0, 10, 10);  // starts right of the image
    vex::ownGetRegion(im, &r);
    EXPECT_EQ(r.cols, 0);
    EXPECT_FALSE(vex::ownRegionOffset(im, &o));
    image.setRoi(0, -3, -10, 10, 10);  // negative offsets move to 0; one ends at row 0
    vex::ownGetRegion(im, &r);
    EXPECT_EQ(make_tuple(r.x, r.cols, r.rows), make_tuple(0, 7, 0));

    // An empty region through an operation: nothing written, nothing reported.
    StatusReset reset;
    vt::ReportLog log;
    image.setRoi(0, 120, 0, 10, 10);
    const std::vector<uint8_t> before = image.bytes();
    vexSet(im, 7, nullptr);
    EXPECT_EQ(image.bytes(), before);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// The first element, bit offset, stride and counts of a region agree with
// where the sample actually lives, for every depth, order, COI and 1U offset.
TEST(Region, FirstElementFollowsRoiAndCoi) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 400; ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 4);
        const int order = pick(rng, 0, 1), align = pick(rng, 0, 1) ? 8 : 4;
        const int H = pick(rng, 1, 20), W = pick(rng, 1, 40);
        vt::Image image(depth, n, H, W, order, align);
        VexImage* im = image.get();
        const int x = pick(rng, 0, W - 1), y = pick(rng, 0, H - 1);
        const int coi = pick(rng, 0, 1) ? pick(rng, 1, n) : 0;
        image.setRoi(coi, x, y, pick(rng, 1, H + 3), pick(rng, 1, W + 3));
        SCOPED_TRACE(testing::Message() << vt::depthName(depth) << " n" << n << " order " << order
                                        << " align " << align << " " << W << "x" << H << " roi x"
                                        << x << " y" << y << " coi " << coi);
        vex::OwnRegion r;
        vex::ownGetRegion(im, &r);
        const Address a = probe(image, x, y, coi ? coi : 1);
        const int esize = depth == VEX_DEPTH_1U ? 1 : vt::depthBits(depth) / 8;
        const int64_t step = vt::rowStep(W, depth, n, order, align);
        EXPECT_EQ(make_tuple(r.first - im->imageData, r.bitOffset, r.step, r.planeSize),
                  make_tuple(a.byte, a.bit, step, step * H));
        EXPECT_EQ(make_tuple(r.rows, r.cols, r.channels, r.coi, r.plane),
                  make_tuple(std::min(im->roi->height, H - y), std::min(im->roi->width, W - x),
                             coi ? 1 : n, coi, order == VEX_DATA_ORDER_PLANE));

        vex::OwnRegionOffset o;
        ASSERT_TRUE(vex::ownRegionOffset(im, &o));
        // 1U: the bytes a row's bits touch.
        const int64_t rowBytes = depth == VEX_DEPTH_1U ? (a.bit + r.cols + 7) / 8
                                                       : int64_t(r.cols) * esize * (order ? 1 : n);
        EXPECT_EQ(make_tuple(o.offset, o.bitOffset, o.rows, o.cols, o.channels, o.rowBytes),
                  make_tuple(a.byte, a.bit, r.rows, r.cols, r.channels, rowBytes));
        if (n < 4) {  // a channel of interest above nChannels is a failure
            im->roi->coi = n + 1;
            EXPECT_FALSE(vex::ownRegionOffset(im, &o));
        }
    }
}

TEST(Region, SameLayout) {
    vt::Image a(VEX_DEPTH_8U, 3, 5, 9), b(VEX_DEPTH_8U, 3, 5, 9);
    vt::Image wide(VEX_DEPTH_8U, 3, 5, 9, VEX_DATA_ORDER_PIXEL, 8);  // rows of 32, not 28 bytes
    vt::Image tall(VEX_DEPTH_8U, 3, 9, 5), gray(VEX_DEPTH_8U, 1, 5, 7), gray2(VEX_DEPTH_8U, 1, 5, 7);
    EXPECT_TRUE(vex::ownSameLayout(a.get(), b.get()));
    EXPECT_FALSE(vex::ownSameLayout(a.get(), wide.get()));
    EXPECT_FALSE(vex::ownSameLayout(a.get(), tall.get()));
    a.setRoi(0, 0, 0, 9, 12);  // covers more than the image
    EXPECT_TRUE(vex::ownSameLayout(a.get(), b.get()));
    a.setRoi(0, 0, 0, 5, 8);
    EXPECT_FALSE(vex::ownSameLayout(a.get(), b.get()));
    a.setRoi(0, 0, 0, 4, 9);
    EXPECT_FALSE(vex::ownSameLayout(a.get(), b.get()));
    a.setRoi(0, 1, 0, 5, 9);
    EXPECT_FALSE(vex::ownSameLayout(a.get(), b.get()));
    a.setRoi(1, 0, 0, 5, 9);  // one channel of three
    EXPECT_FALSE(vex::ownSameLayout(b.get(), a.get()));
    gray.setRoi(1, 0, 0, 5, 7);  // the only channel
    EXPECT_TRUE(vex::ownSameLayout(gray.get(), gray2.get()));
}

// ---------------------------------------------------------------------------
// Tile ranges.

TEST(TileRange, ColumnsTenToFortyWithSixteenPixelTiles) {
    vt::TiledImage image(VEX_DEPTH_8U, 1, 40, 100, 16, 16);
    image.setRoi(0, 10, 5, 20, 31);  // columns 10..40, rows 5..24
    vex::OwnTileRange t;
    ASSERT_TRUE(vex::ownTileRange(image.get(), &t));
    EXPECT_EQ(make_tuple(t.tx0, t.txCount, t.ty0, t.tyCount), make_tuple(0, 3, 0, 2));
    const int widths[] = {6, 16, 9}, xs[] = {10, 0, 0}, rxs[] = {0, 6, 22};
    for (int j = 0; j < 3; ++j) {
        const vex::OwnTilePiece p = vex::ownTilePiece(t, j, 1), q = vex::ownTilePiece(t, j, 0);
        EXPECT_EQ(make_tuple(p.tx, p.w, p.x, p.rx), make_tuple(j, widths[j], xs[j], rxs[j]));
        EXPECT_EQ(make_tuple(p.ty, p.h, p.y, p.ry, q.h, q.y), make_tuple(1, 9, 0, 11, 11, 5));
    }

    int j, i;
    const int first[] = {0, 0}, last[] = {2, 1}, right[] = {3, 0}, below[] = {0, 2}, neg[] = {-1, 0};
    EXPECT_TRUE(vex::ownSelectTile(t, first, &j, &i));
    EXPECT_TRUE(vex::ownSelectTile(t, last, &j, &i));
    EXPECT_EQ(make_tuple(j, i), make_tuple(2, 1));
    EXPECT_FALSE(vex::ownSelectTile(t, right, &j, &i));
    EXPECT_FALSE(vex::ownSelectTile(t, below, &j, &i));
    EXPECT_FALSE(vex::ownSelectTile(t, neg, &j, &i));
    image.setRoi(0, 40, 20, 3, 3);  // range starting at tile (2, 1)
    ASSERT_TRUE(vex::ownTileRange(image.get(), &t));
    EXPECT_FALSE(vex::ownSelectTile(t, first, &j, &i));
    EXPECT_TRUE(vex::ownSelectTile(t, last, &j, &i));
    EXPECT_EQ(make_tuple(j, i), make_tuple(0, 0));
}

TEST(TileRange, PairUsesSmallerSizeAndDestinationOffsets) {
    vt::Image src(VEX_DEPTH_8U, 1, 30, 30);
    vt::TiledImage dst(VEX_DEPTH_8U, 1, 40, 40, 8, 8);
    src.setRoi(0, 2, 3, 10, 20);
    dst.setRoi(0, 9, 7, 15, 5);
    vex::OwnTileRange t;
    ASSERT_TRUE(vex::ownPairTileRange(src.get(), dst.get(), &t));
    EXPECT_EQ(make_tuple(t.rows, t.cols, t.x0, t.y0), make_tuple(10, 5, 9, 7));
    src.setRoi(0, 31, 0, 5, 5);  // empty source region: nothing to do
    EXPECT_FALSE(vex::ownPairTileRange(src.get(), dst.get(), &t));
}

// Over random images and ROIs the pieces of a range cover the clipped
// region exactly once, each inside its own tile, never past the image.
TEST(TileRange, PiecesPartitionTheRegion) {
    std::mt19937 rng(5);
    const int tiles[] = {8, 16, 24};
    for (int trial = 0; trial < 300; ++trial) {
        const int H = pick(rng, 1, 70), W = pick(rng, 1, 70);
        const int tw = tiles[pick(rng, 0, 2)], th = tiles[pick(rng, 0, 2)];
        vt::TiledImage dst(VEX_DEPTH_8U, 1, H, W, tw, th);
        vt::Image src(VEX_DEPTH_8U, 1, pick(rng, 1, 70), pick(rng, 1, 70));
        const bool paired = trial % 2;
        if (pick(rng, 0, 3)) dst.setRoi(0, pick(rng, 0, W + 2), pick(rng, 0, H + 2), pick(rng, 1, H + 9), pick(rng, 1, W + 9));
        if (pick(rng, 0, 1)) src.setRoi(0, pick(rng, 0, 9), pick(rng, 0, 9), pick(rng, 1, 60), pick(rng, 1, 60));
        int x0, y0, cols, rows, sx, sy, scols, srows;
        const VexROI* r = dst.get()->roi;
        clip(r ? r->xOffset : 0, r ? r->width : W, W, &x0, &cols);
        clip(r ? r->yOffset : 0, r ? r->height : H, H, &y0, &rows);
        if (paired) {
            const VexROI* q = src.get()->roi;
            clip(q ? q->xOffset : 0, q ? q->width : src.width(), src.width(), &sx, &scols);
            clip(q ? q->yOffset : 0, q ? q->height : src.height(), src.height(), &sy, &srows);
            cols = std::min(cols, scols);
            rows = std::min(rows, srows);
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial << " " << W << "x" << H << " tiles "
                                        << tw << "x" << th << " region " << x0 << "," << y0 << " "
                                        << cols << "x" << rows);
        vex::OwnTileRange t;
        const bool any = paired ? vex::ownPairTileRange(src.get(), dst.get(), &t)
                                : vex::ownTileRange(dst.get(), &t);
        ASSERT_EQ(any, rows > 0 && cols > 0);
        if (!any) continue;
        EXPECT_EQ(make_tuple(t.rows, t.cols), make_tuple(rows, cols));  // clipped sizes
        std::vector<int> covered(size_t(rows) * cols, 0);
        for (int i = 0; i < t.tyCount; ++i)
            for (int j = 0; j < t.txCount; ++j) {
                const vex::OwnTilePiece p = vex::ownTilePiece(t, j, i);
                ASSERT_TRUE(p.w > 0 && p.h > 0 && p.x >= 0 && p.y >= 0 && p.x + p.w <= tw &&
                            p.y + p.h <= th && p.tx < dst.tilesX() && p.ty < dst.tilesY() &&
                            p.rx + p.w <= cols && p.ry + p.h <= rows) << j << "," << i;
                ASSERT_EQ(make_tuple(p.tx * tw + p.x, p.ty * th + p.y), make_tuple(x0 + p.rx, y0 + p.ry));
                for (int v = 0; v < p.h; ++v)
                    for (int u = 0; u < p.w; ++u) ++covered[size_t(p.ry + v) * cols + p.rx + u];
            }
        EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), int64_t(rows) * cols);
    }
}

// ---------------------------------------------------------------------------
// Rectangle gathering.

// The rectangle as an image of its own, for sample access.
struct Gathered {
    char* data = nullptr;
    int step = 0;
    VexImage header{};
    Gathered(const VexImage* image, int x, int y, int w, int h) {
        data = vex::ownGetRect(kSite, image, x, y, w, h, &step);
        if (data) header = vex::ownRectHeader(image, data, w, h);
    }
    ~Gathered() { vexFree(data); }
};

TEST(GetRect, LeftBorderExample) {
    StatusReset reset;
    vt::Image image(VEX_DEPTH_8U, 1, 2, 3);
    for (int x = 0; x < 3; ++x) image.setSample(x, 0, 1, 10 * (x + 1));
    struct Case {
        int mode, value;
        int expect[3];
    } cases[] = {{VEX_BORDER_REFLECT, 0, {10, 10, 20}},
                 {VEX_BORDER_REPLICATE, 0, {10, 10, 20}},
                 {VEX_BORDER_CONSTANT, 7, {7, 10, 20}},
                 {VEX_BORDER_WRAP, 0, {30, 10, 20}}};
    for (const Case& c : cases) {
        vexSetBorderMode(image.get(), c.mode, VEX_SIDE_LEFT, c.value);
        Gathered g(image.get(), -1, 0, 3, 1);
        ASSERT_NE(g.data, nullptr);
        for (int x = 0; x < 3; ++x) EXPECT_EQ(vt::sample(&g.header, x, 0, 1), c.expect[x]) << c.mode;
    }
}

// The border rule, written out here: the coordinate a mode maps to.
int refCoord(int p, int n, int mode) {
    if (p >= 0 && p < n) return p;
    switch (mode & 3) {
        case VEX_BORDER_REPLICATE: return p < 0 ? 0 : n - 1;
        case VEX_BORDER_REFLECT: {
            const int q = ((p % (2 * n)) + 2 * n) % (2 * n);
            return q < n ? q : 2 * n - 1 - q;
        }
        default: return ((p % n) + n) % n;
    }
}

// Value of (x, y, c) by the border rule (a constant as the side's raw value).
int64_t refBorder(const VexImage* im, int x, int y, int c) {
    const bool rowOut = y < 0 || y >= im->height, colOut = x < 0 || x >= im->width;
    if (!rowOut && !colOut) return vt::sample(im, x, y, c);
    const int slot = y < 0 ? 0 : y >= im->height ? 1 : x < 0 ? 2 : 3;
    const int mode = im->borderMode[slot] & 3;
    if (mode == VEX_BORDER_CONSTANT) return im->borderValue[slot];
    return vt::sample(im, refCoord(x, im->width, mode), refCoord(y, im->height, mode), c);
}

// Tile reads come in rows: every tile of a row requested left to right,
// then released in reverse order; nothing stays outstanding.
void expectReadRows(const vt::TiledImage& image) {
    const auto& calls = image.calls();
    size_t k = 0;
    while (k < calls.size()) {
        std::vector<vt::TileCall> got;
        for (; k < calls.size() && calls[k].mode == VEX_TILE_GET_READ; ++k) got.push_back(calls[k]);
        ASSERT_FALSE(got.empty()) << "call " << k << " is " << calls[k];
        for (size_t g = 1; g < got.size(); ++g) {
            EXPECT_EQ(got[g].yIndex, got[0].yIndex);
            EXPECT_EQ(got[g].xIndex, got[g - 1].xIndex + 1);
        }
        for (size_t g = got.size(); g-- > 0; ++k) {
            ASSERT_LT(k, calls.size());
            EXPECT_EQ(calls[k], (vt::TileCall{got[g].xIndex, got[g].yIndex, VEX_TILE_RELEASE}));
        }
    }
    EXPECT_EQ(make_tuple(image.outstanding(), image.releaseMismatches(), image.badCalls()), make_tuple(0, 0, 0));
}

// Every pixel of random rectangles (inside, across each side and corner,
// wholly outside) equals the per-pixel border rule and the rule written
// above, for every depth, order, mode (also above 3), tiled or not.
TEST(GetRect, MatchesBorderRuleOnEverySide) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(3);
    const int sizes[] = {1, 2, 3, 5, 8, 9, 17};
    const int modes[] = {0, 1, 2, 3, 5, 6, 7, 4};
    for (int trial = 0; trial < 1200; ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 0, 1) ? 3 : 1;
        const int order = pick(rng, 0, 1), align = pick(rng, 0, 1) ? 8 : 4;
        const int H = sizes[pick(rng, 0, 6)], W = sizes[pick(rng, 0, 6)];
        const bool tiled = (trial / 6) % 3 == 0;  // every depth both ways
        const int tw = pick(rng, 0, 1) ? 16 : 8;
        vt::TiledImage* tiles = tiled ? new vt::TiledImage(depth, n, H, W, tw, 8, order, align) : nullptr;
        std::unique_ptr<vt::ImageBase> image(tiles ? static_cast<vt::ImageBase*>(tiles)
                                                   : new vt::Image(depth, n, H, W, order, align));
        image->fillPattern(trial);
        VexImage* im = image->get();
        for (int s = 0; s < 4; ++s) {
            im->borderMode[s] = modes[pick(rng, 0, 7)];
            im->borderValue[s] = pick(rng, -70000, 70000);
        }
        const int x = pick(rng, -2 * W - 2, 2 * W + 1), y = pick(rng, -2 * H - 2, 2 * H + 1);
        const int w = pick(rng, 1, 3 * W + 4), h = pick(rng, 1, 3 * H + 4);
        SCOPED_TRACE(testing::Message()
                     << "trial " << trial << " " << vt::depthName(depth) << " n" << n << " order "
                     << order << " " << W << "x" << H << (tiled ? " tiled" : "") << " rect " << x
                     << "," << y << " " << w << "x" << h << " modes " << im->borderMode[0]
                     << im->borderMode[1] << im->borderMode[2] << im->borderMode[3]);
        Gathered g(im, x, y, w, h);
        ASSERT_NE(g.data, nullptr);
        EXPECT_EQ(g.step, vt::rowStep(w, depth, n, order, align));
        if (tiles) {
            expectReadRows(*tiles);
            if (HasFailure()) return;
        }
        const uint32_t mask = vt::depthBits(depth) == 32 ? ~0u : (1u << vt::depthBits(depth)) - 1;
        for (int r = 0; r < h; ++r)
            for (int col = 0; col < w; ++col)
                for (int c = 1; c <= n; ++c) {
                    int rule = 0;
                    ASSERT_TRUE(vex::ownGetBorderPixel(im, x + col, y + r, c, &rule));
                    const uint32_t want = uint32_t(refBorder(im, x + col, y + r, c)) & mask;
                    const uint32_t got = uint32_t(vt::sample(&g.header, col, r, c)) & mask;
                    ASSERT_EQ(got, want) << "at (" << x + col << ", " << y + r << ", " << c << ")";
                    ASSERT_EQ(uint32_t(rule) & mask, want) << "rule at (" << x + col << ", " << y + r << ")";
                }
        EXPECT_EQ(log.size(), 0u);
    }
}

// A rectangle spanning more tile columns than fit a small fixed table.
TEST(GetRect, WideRowOfTiles) {
    StatusReset reset;
    vt::ReportLog log;
    vt::TiledImage image(VEX_DEPTH_8S, 1, 12, 8 * 70 + 3, 8, 8);
    image.fillPattern(4);
    Gathered g(image.get(), 2, 3, 8 * 70, 7);
    ASSERT_NE(g.data, nullptr);
    expectReadRows(image);
    EXPECT_EQ(image.calls().size(), 2u * 2 * 71);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8 * 70; ++x) ASSERT_EQ(vt::sample(&g.header, x, y, 1), image.sample(x + 2, y + 3, 1));
    EXPECT_EQ(log.size(), 0u);
}

TEST(GetRect, RefusedTileGivesNullAndReleasesTheRest) {
    StatusReset reset;
    vt::ReportLog log;
    vt::TiledImage image(VEX_DEPTH_16S, 3, 16, 24, 8, 8, VEX_DATA_ORDER_PLANE);
    image.fillPattern(9);
    image.refuse(1, 1, VEX_TILE_GET_READ);
    int step = 0;
    char* data = vex::ownGetRect(kSite, image.get(), -3, -2, 30, 20, &step);
    EXPECT_EQ(data, nullptr);
    vexFree(data);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsError);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(make_tuple(log[0].status, log[0].funcName, log[0].context),
              make_tuple(VEX_StsError, std::string("vexTraversalTest"), std::string("Error get tile to read")));
    EXPECT_EQ(make_tuple(image.outstanding(), image.releaseMismatches(), image.badCalls()), make_tuple(0, 0, 0));
    const std::vector<vt::TileCall> want = {
        {0, 0, 1}, {1, 0, 1}, {2, 0, 1}, {2, 0, 4}, {1, 0, 4}, {0, 0, 4},
        {0, 1, 1}, {1, 1, 1}, {0, 1, 4}};
    EXPECT_EQ(image.calls(), want);
}

}  // namespace
