// Regions and rectangle gathering, the traversal every operation relies on,
// checked against plain loops over random layouts. Tile ranges, pieces and
// the tile selector are checked through the data-movement matrix
// (test_move.cpp), which compares every tiled call with a reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <random>
#include <tuple>
#include <vector>

#include "filterref.h"
#include "image/ownrect.h"

namespace {

using std::make_tuple;
const vex::OwnSite kSite{"vexTraversalTest", "test_traversal"};


// Where sample (x, y, c) of an untiled image lives, found by writing it and
// looking for the byte (and, for 1U, the bit: 0 = MSB) that changed.
std::pair<int64_t, int> probe(vt::Image& image, int x, int y, int c) {
    const std::vector<uint8_t> saved = image.bytes();
    image.fillSentinel(0);
    image.setSample(x, y, c, -1);
    const std::vector<uint8_t> now = image.bytes();
    std::memcpy(image.get()->imageData, saved.data(), saved.size());
    const auto at = std::find_if(now.begin(), now.end(), [](uint8_t b) { return b != 0; });
    int bit = 0;
    while (!(*at & (0x80 >> bit))) ++bit;
    return {at - now.begin(), bit};
}

// The region of random ROIs (offsets before, inside and past the image, any
// channel of interest): clipped size, stride, and a first element and bit
// offset where the sample actually lives, for every depth, order and align.
TEST(Region, FollowsRoiCoiAndClipping) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 600 && !HasFailure(); ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : vt::uniform(rng, 1, 4), order = vt::uniform(rng, 0, 1), align = vt::uniform(rng, 0, 1) ? 8 : 4;
        const int H = vt::uniform(rng, 1, 20), W = vt::uniform(rng, 1, 40), coi = vt::uniform(rng, 0, 1) ? vt::uniform(rng, 1, n) : 0;
        vt::Image image(depth, n, H, W, order, align);
        VexImage* im = image.get();
        image.setRoi(coi, vt::uniform(rng, -4, W + 1), vt::uniform(rng, -4, H + 1), vt::uniform(rng, 1, H + 5), vt::uniform(rng, 1, W + 5));
        const VexROI q = *im->roi;
        const vt::Clip cut = vt::clipOf(im);
        const int x = cut.x, y = cut.y, cols = cut.w, rows = cut.h;
        SCOPED_TRACE(testing::Message() << vt::depthName(depth) << " n" << n << " order " << order << " align " << align
                                        << " " << W << "x" << H << " roi x" << q.xOffset << " y" << q.yOffset << " w"
                                        << q.width << " h" << q.height << " coi " << coi);
        vex::OwnRegion r;
        vex::ownGetRegion(im, &r);
        const int64_t step = vt::rowStep(W, depth, n, order, align);
        EXPECT_EQ(make_tuple(r.x, r.y, r.rows, r.cols, r.step, r.planeSize), make_tuple(x, y, rows, cols, step, step * H));
        EXPECT_EQ(make_tuple(r.channels, r.coi, r.plane), make_tuple(coi ? 1 : n, coi, order == VEX_DATA_ORDER_PLANE));
        vex::OwnRegionOffset o;
        if (rows == 0 || cols == 0) {
            EXPECT_FALSE(vex::ownRegionOffset(im, &o));
            continue;
        }
        const auto [byte, bit] = probe(image, x, y, coi ? coi : 1);
        EXPECT_EQ(make_tuple(r.first - im->imageData, r.bitOffset), make_tuple(byte, bit));
        ASSERT_TRUE(vex::ownRegionOffset(im, &o));
        const int64_t rowBytes = depth == VEX_DEPTH_1U ? (bit + cols + 7) / 8
                                                       : int64_t(cols) * vt::depthBits(depth) / 8 * (order ? 1 : n);
        EXPECT_EQ(make_tuple(o.offset, o.bitOffset, o.rows, o.cols, o.channels, o.rowBytes),
                  make_tuple(byte, bit, rows, cols, coi ? 1 : n, rowBytes));
        im->roi->coi = n + 1;  // a channel of interest above nChannels
        EXPECT_FALSE(vex::ownRegionOffset(im, &o));
    }
}

TEST(Region, SameLayout) {
    vt::Image a(VEX_DEPTH_8U, 3, 5, 9), b(VEX_DEPTH_8U, 3, 5, 9), tall(VEX_DEPTH_8U, 3, 9, 5);
    vt::Image wide(VEX_DEPTH_8U, 3, 5, 9, VEX_DATA_ORDER_PIXEL, 8);  // rows of 32, not 28 bytes
    vt::Image gray(VEX_DEPTH_8U, 1, 5, 7), gray2(VEX_DEPTH_8U, 1, 5, 7);
    EXPECT_TRUE(vex::ownSameLayout(a.get(), b.get()));
    EXPECT_FALSE(vex::ownSameLayout(a.get(), wide.get()) || vex::ownSameLayout(a.get(), tall.get()));
    const std::tuple<int, int, int, int, int, bool> rois[] = {  // coi, x, y, height, width; same
        {0, 0, 0, 9, 12, true}, {0, 0, 0, 5, 8, false}, {0, 0, 0, 4, 9, false},
        {0, 1, 0, 5, 9, false}, {0, 0, 1, 5, 9, false}, {1, 0, 0, 5, 9, false}};
    for (const auto& [coi, x, y, h, w, same] : rois) {
        a.setRoi(coi, x, y, h, w);
        EXPECT_EQ(make_tuple(vex::ownSameLayout(a.get(), b.get()), vex::ownSameLayout(b.get(), a.get())), make_tuple(same, same))
            << coi << " " << x << "," << y << " " << w << "x" << h;
    }
    gray.setRoi(1, 0, 0, 5, 7);  // the only channel
    EXPECT_TRUE(vex::ownSameLayout(gray.get(), gray2.get()));
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

// Every pixel of random rectangles (inside, across each side and corner,
// wholly outside, up to five times the image with runs that repeat over
// several periods and cross tile edges) equals the per-pixel border rule
// and the reference rule, for every depth, order, mode (also above 3),
// tiled or not. Every other rectangle is gathered into the middle of a
// larger buffer (at a bit offset for 1U), which keeps its sentinel around it.
TEST(GetRect, MatchesBorderRuleOnEverySide) {
    vt::ReportLog log;
    std::mt19937 rng(3);
    const int sizes[] = {1, 2, 3, 5, 8, 9, 17}, modes[] = {0, 1, 2, 3, 5, 6, 7, 4};
    for (int trial = 0; trial < 1200 && !HasFailure(); ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : vt::uniform(rng, 0, 1) ? 3 : 1, order = vt::uniform(rng, 0, 1), align = vt::uniform(rng, 0, 1) ? 8 : 4;
        const int H = sizes[vt::uniform(rng, 0, 6)], W = sizes[vt::uniform(rng, 0, 6)];
        const int tw = vt::uniform(rng, 0, 1) ? 16 : 8;
        vt::TiledImage* tiles = (trial / 6) % 3 ? nullptr : new vt::TiledImage(depth, n, H, W, tw, 8, order, align);
        std::unique_ptr<vt::ImageBase> image(tiles ? static_cast<vt::ImageBase*>(tiles) : new vt::Image(depth, n, H, W, order, align));
        image->fillPattern(trial);
        VexImage* im = image->get();
        for (int s = 0; s < 4; ++s) im->borderMode[s] = modes[vt::uniform(rng, 0, 7)], im->borderValue[s] = vt::uniform(rng, -70000, 70000);
        const int x = vt::uniform(rng, -3 * W - 2, 2 * W + 1), y = vt::uniform(rng, -2 * H - 2, 2 * H + 1);
        const int w = vt::uniform(rng, 1, 5 * W + 4), h = vt::uniform(rng, 1, 4 * H + 4);
        const bool into = trial / 6 % 2;  // into a larger buffer at (2, 1)
        SCOPED_TRACE(testing::Message() << "trial " << trial << " " << vt::depthName(depth) << " n" << n << " order " << order
                                        << " " << W << "x" << H << (tiles ? " tiled" : "") << " rect " << x << "," << y << " "
                                        << w << "x" << h << " modes " << im->borderMode[0] << im->borderMode[1]
                                        << im->borderMode[2] << im->borderMode[3] << (into ? " into a buffer" : ""));
        const int bw = into ? w + 3 : w, bh = into ? h + 2 : h, dx = into ? 2 : 0, dy = into ? 1 : 0;
        const int64_t step = vt::rowStep(bw, depth, n, order, into ? 4 : align);
        std::vector<char> buffer(size_t(step * bh * (order ? n : 1)), char(vt::kSentinel));
        VexImage view = vex::ownRectHeader(im, buffer.data(), bw, bh);
        std::unique_ptr<Gathered> g;
        if (into) {
            view.align = 4, view.widthStep = int(step);
            const int64_t pixelBits = int64_t(dx) * (order ? 1 : n) * vt::depthBits(depth);
            ASSERT_TRUE(vex::ownGatherRect(kSite, im, x, y, w, h, buffer.data() + step * dy + pixelBits / 8,
                                           int(pixelBits % 8), step, step * bh));
        } else {
            g.reset(new Gathered(im, x, y, w, h));
            ASSERT_NE(g->data, nullptr);
            EXPECT_EQ(g->step, step);
            view = g->header;
        }
        if (tiles) {  // requested: exactly the tiles holding a pixel the rule reads
            vt::expectReadRows(*tiles);
            std::set<std::pair<int, int>> read, want;
            for (const vt::TileCall& c : tiles->calls())
                if (c.mode == VEX_TILE_GET_READ) read.insert({c.xIndex, c.yIndex});
            for (int py = y; py < y + h; ++py)
                for (int px = x; px < x + w; ++px) {
                    const int slot = py < 0 ? 0 : py >= H ? 1 : px < 0 ? 2 : px >= W ? 3 : -1;
                    const int mode = slot < 0 ? VEX_BORDER_REPLICATE : im->borderMode[slot] & 3;
                    if (mode != VEX_BORDER_CONSTANT) want.insert({int(fref::mapCoord(px, W, mode)) / tw, int(fref::mapCoord(py, H, mode)) / 8});
                }
            EXPECT_EQ(read, want);
        }
        const uint32_t mask = vt::depthBits(depth) == 32 ? ~0u : (1u << vt::depthBits(depth)) - 1;
        vt::Image sentinel(depth, n, bh, bw, order, 4);
        sentinel.fillSentinel();
        for (int r = 0; r < bh; ++r)
            for (int col = 0; col < bw; ++col)
                for (int c = 1; c <= n; ++c) {
                    const uint32_t got = uint32_t(vt::sample(&view, col, r, c)) & mask;
                    if (r < dy || r >= dy + h || col < dx || col >= dx + w) {
                        ASSERT_EQ(got, uint32_t(sentinel.sample(col, r, c)) & mask) << "outside, at " << col << "," << r;
                        continue;
                    }
                    const int px = x + col - dx, py = y + r - dy;
                    int rule = 0;
                    ASSERT_TRUE(vex::ownGetBorderPixel(im, px, py, c, &rule));
                    const uint32_t want = uint32_t(fref::borderSample(im, px, py, c)) & mask;
                    ASSERT_EQ(make_tuple(got, uint32_t(rule) & mask), make_tuple(want, want))
                        << "at (" << px << ", " << py << ", " << c << ")";
                }
        EXPECT_EQ(log.size(), 0u);
    }
}

// A rectangle spanning more tile columns than fit a small fixed table.
TEST(GetRect, WideRowOfTiles) {
    vt::ReportLog log;
    vt::TiledImage image(VEX_DEPTH_8S, 1, 12, 8 * 70 + 3, 8, 8);
    image.fillPattern(4);
    Gathered g(image.get(), 2, 3, 8 * 70, 7);
    ASSERT_NE(g.data, nullptr);
    vt::expectReadRows(image);
    EXPECT_EQ(image.calls().size(), 2u * 2 * 71);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8 * 70; ++x) ASSERT_EQ(vt::sample(&g.header, x, y, 1), image.sample(x + 2, y + 3, 1));
    EXPECT_EQ(log.size(), 0u);
}

// A pixel-wise walk writing 16 MiB and more into tiles streams the rows of
// each tile piece whole, lines split between two rows included, from the
// offsets within a line that the tiles' own buffers give: rows of 232 bytes
// (8U), of 256 bytes (16U), of 80 bytes (8U, a line and a quarter: rows
// on 16-byte boundaries go from registers straight to the tile, the last
// vector of a row alone in its line) and of 24 bytes (shorter than a line,
// with a region starting inside the first tile column, whose pieces keep
// the other stores). Binary and unary rows; sentinels outside the region.
TEST(PixelWalk, StreamsTileRowsWhole) {
    vt::ReportLog log;
    const int h = 4100, w = 4100;
    vt::Image A(VEX_DEPTH_8U, 1, h, w), B(VEX_DEPTH_8U, 1, h, w), C(VEX_DEPTH_16U, 1, h, 2050);
    vt::TiledImage G(VEX_DEPTH_8U, 1, h, w, 232, 64), H(VEX_DEPTH_16U, 1, h, 2050, 128, 48),
        K(VEX_DEPTH_8U, 1, h, w, 24, 40), M(VEX_DEPTH_8U, 1, h, w, 80, 56);
    A.fillPattern(1), B.fillPattern(2), C.fillPattern(3);
    G.fillSentinel(), H.fillSentinel(), K.fillSentinel(), M.fillSentinel();
    A.setRoi(0, 0, 1, h - 1, w);
    G.setRoi(0, 0, 2, h - 2, w);
    H.setRoi(0, 0, 3, h - 3, 2050);
    K.setRoi(0, 5, 1, h - 1, w - 5);
    vexAdd(A.get(), B.get(), G.get(), nullptr);
    vexAddS(C.get(), H.get(), 1000, nullptr);
    vexAddS(B.get(), K.get(), 9, nullptr);
    M.setRoi(0, 0, 5, h - 5, w);
    vexAdd(B.get(), A.get(), M.get(), nullptr);
    for (int y = 0; y < h; y += y < 100 ? 1 : 7) {
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(G.sample(x, y, 1), y < 2 ? vt::kSentinel
                                               : std::min<int64_t>(A.sample(x, y - 1, 1) + B.sample(x, y - 2, 1), 255))
                << x << "," << y;
            ASSERT_EQ(K.sample(x, y, 1), y < 1 || x < 5 ? vt::kSentinel
                                                        : std::min<int64_t>(B.sample(x - 5, y - 1, 1) + 9, 255))
                << x << "," << y;
            ASSERT_EQ(M.sample(x, y, 1), y < 5 ? vt::kSentinel
                                               : std::min<int64_t>(B.sample(x, y - 5, 1) + A.sample(x, y - 4, 1), 255))
                << x << "," << y;
        }
        for (int x = 0; x < 2050; ++x)
            ASSERT_EQ(H.sample(x, y, 1), y < 3 ? 0xA5A5 : std::min<int64_t>(C.sample(x, y - 3, 1) + 1000, 65535))
                << x << "," << y;
    }
    EXPECT_EQ(log.size(), 0u);
}

// Copies and filter bands into the tiles of a large call stream the tile
// rows too (rows back to back, lines split between rows): a region starting
// inside a tile, tile rows of 232, 80 (on 16-byte boundaries) and 24 bytes,
// sentinels around.
TEST(PixelWalk, CopiesAndFilterBandsStreamIntoTiles) {
    vt::ReportLog log;
    const int h = 4100, w = 4100;
    vt::Image A(VEX_DEPTH_8U, 1, h, w), U(VEX_DEPTH_8U, 1, h, w);
    vt::TiledImage G(VEX_DEPTH_8U, 1, h, w, 232, 64), K(VEX_DEPTH_8U, 1, h, w, 24, 40),
        M(VEX_DEPTH_8U, 1, h, w, 80, 56);
    A.fillPattern(4), U.fillSentinel();
    G.fillSentinel(), K.fillSentinel(), M.fillSentinel();
    K.setRoi(0, 5, 1, h - 1, w - 5);
    vexCopy(A.get(), K.get(), nullptr);
    M.setRoi(0, 0, 3, h - 3, w);
    vexCopy(A.get(), M.get(), nullptr);
    G.setRoi(0, 3, 2, h - 2, w - 3);
    U.setRoi(0, 3, 2, h - 2, w - 3);
    vexBlur(A.get(), G.get(), 3, 5, 1, 2);
    vexBlur(A.get(), U.get(), 3, 5, 1, 2);
    for (int y = 0; y < h; y += y < 100 ? 1 : 7)
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(K.sample(x, y, 1), y < 1 || x < 5 ? vt::kSentinel : A.sample(x - 5, y - 1, 1)) << x << "," << y;
            ASSERT_EQ(M.sample(x, y, 1), y < 3 ? vt::kSentinel : A.sample(x, y - 3, 1)) << x << "," << y;
            ASSERT_EQ(G.sample(x, y, 1), U.sample(x, y, 1)) << x << "," << y;
        }
    EXPECT_EQ(log.size(), 0u);
}

// A mapping read as a destination pixel names the tile holding it (floor
// division, so pixels left of or above the image name no tile); read as
// indices it is the selector itself; null or untiled means the whole region.
TEST(Mapping, AsTileSelector) {
    vt::TiledImage tiled(VEX_DEPTH_8U, 1, 40, 40, 16, 8);
    vt::Image plain(VEX_DEPTH_8U, 1, 40, 40);
    int tile[2] = {99, 99};
    const struct { VexMapping m; bool asPixel; int tx, ty; } cases[] = {
        {{0, 0}, true, 0, 0},   {{15, 7}, true, 0, 0},  {{16, 8}, true, 1, 1},
        {{39, 39}, true, 2, 4}, {{-1, -9}, true, -1, -2}, {{3, 5}, false, 3, 5},
    };
    for (const auto& c : cases) {
        const int* sel = vex::ownMappingTile(tiled.get(), &c.m, c.asPixel, tile);
        ASSERT_EQ(sel, tile);
        EXPECT_EQ(std::make_pair(sel[0], sel[1]), std::make_pair(c.tx, c.ty))
            << c.m.xDst << "," << c.m.yDst << (c.asPixel ? " as pixel" : " as tile");
    }
    const VexMapping m{5, 5};
    EXPECT_EQ(vex::ownMappingTile(tiled.get(), nullptr, true, tile), nullptr);
    EXPECT_EQ(vex::ownMappingTile(plain.get(), &m, true, tile), nullptr);
}

}  // namespace
