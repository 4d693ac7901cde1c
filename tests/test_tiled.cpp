// The tiled paths on their own: the in-place mirror that trades mirror pairs
// between tiles, mixed tiled/untiled pairs, rectangles gathered straight
// from tiles with border runs crossing tile edges, and the temporaries a
// tiled call may hold (a few tiles' worth, never an image's).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "frame/ownframe.h"
#include "image/ownrect.h"
#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;
const vex::OwnSite kSite{"vexTiledTest", "test_tiled"};

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

struct StatusReset {
    StatusReset() { vexSetErrStatus(VEX_StsOk); }
    ~StatusReset() { vexSetErrStatus(VEX_StsOk); }
};

vt::TiledImage* tiledOf(const ImagePtr& im) { return dynamic_cast<vt::TiledImage*>(im.get()); }

// The most tiles a call held at once, from its call log; every get must be
// released with its own buffer and nothing may stay outstanding.
int maxHeld(const vt::TiledImage& im) {
    int held = 0, most = 0;
    for (const vt::TileCall& c : im.calls()) {
        held += c.mode == VEX_TILE_RELEASE ? -1 : 1;
        most = std::max(most, held);
    }
    EXPECT_EQ(std::make_tuple(im.outstanding(), im.releaseMismatches(), im.badCalls()), std::make_tuple(0, 0, 0));
    return most;
}

// A random layout with tiles of 8 to 32 and an optional ROI (and COI).
vt::Layout randomLayout(std::mt19937& rng, unsigned depth, int nChannels, int order, bool tiled, int maxSize) {
    vt::Layout l;
    l.depth = depth, l.nChannels = nChannels, l.order = order, l.align = pick(rng, 0, 1) ? 8 : 4;
    l.height = pick(rng, 1, maxSize), l.width = pick(rng, 1, maxSize);
    l.tiled = tiled, l.tileWidth = 8 * pick(rng, 1, 4), l.tileHeight = 8 * pick(rng, 1, 4);
    if (pick(rng, 0, 2)) {
        l.hasRoi = true;
        const int x = pick(rng, 0, l.width - 1), y = pick(rng, 0, l.height - 1);
        l.roi = VexROI{0, x, y, pick(rng, 1, l.height - y + 2), pick(rng, 1, l.width - x + 2)};
    }
    return l;
}

// ---------------------------------------------------------------------------
// In place on a tiled image, every flip equals the in-place flip of the same
// samples untiled, for regions whose mirror halves fall anywhere on the tile
// grid; at most two tiles are held at once, each got for writing.
TEST(TiledMirror, InPlaceTradesTilePairs) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(27);
    for (int trial = 0; trial < 900 && !HasFailure(); ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 3), axis = trial / 6 % 3 - 1;
        vt::Layout l = randomLayout(rng, depth, n, pick(rng, 0, 1), true, 70);
        if (l.hasRoi && n > 1 && pick(rng, 0, 2) == 0) l.roi.coi = pick(rng, 1, n);
        SCOPED_TRACE("axis " + std::to_string(axis) + " | " + vt::describe(l));
        ImagePtr tiled = vt::makeImage(l, trial);
        vt::Layout u = l;
        u.tiled = false;
        ImagePtr plain = vt::makeImage(u, trial);
        vexMirror(tiled->get(), tiled->get(), axis, nullptr);
        vexMirror(plain->get(), plain->get(), axis, nullptr);
        EXPECT_EQ(vt::diffSamples(tiled->get(), plain->get()), "");
        EXPECT_LE(maxHeld(*tiledOf(tiled)), 2);
        for (const vt::TileCall& c : tiledOf(tiled)->calls()) EXPECT_NE(c.mode, VEX_TILE_GET_READ) << c;
        EXPECT_EQ(log.size(), 0u);
    }
}

// The in-place flip of one tile (a selector) writes that tile only, from the
// samples before the call, also when the tile holds its own mirror.
TEST(TiledMirror, InPlaceSelectedTile) {
    StatusReset reset;
    vt::ReportLog log;
    for (int axis = -1; axis <= 1; ++axis)
        for (int tx = 0; tx < 3; ++tx) {
            vt::Layout l;
            l.depth = VEX_DEPTH_16S, l.nChannels = 2, l.height = 21, l.width = 40, l.tiled = true;
            l.tileWidth = 16, l.tileHeight = 8, l.hasRoi = true, l.roi = VexROI{0, 3, 2, 19, 35};
            ImagePtr im = vt::makeImage(l, 5), before = vt::makeImage(l, 5);
            const int sel[2] = {tx, 1};
            vexMirror(im->get(), im->get(), axis, sel);
            // Pixel (x, y) of the region in the selected tile takes the
            // sample the flip maps it to, every other pixel keeps its own.
            for (int y = 0; y < l.height; ++y)
                for (int x = 0; x < l.width; ++x)
                    for (int c = 1; c <= 2; ++c) {
                        const bool in = x >= 3 && y >= 2 && x < 38 && y < 21 && x / 16 == tx && y / 8 == 1;
                        const int sx = in && axis != 0 ? 3 + 34 - (x - 3) : x, sy = in && axis != 1 ? 2 + 18 - (y - 2) : y;
                        ASSERT_EQ(im->sample(x, y, c), before->sample(sx, sy, c))
                            << "axis " << axis << " tile " << tx << " at " << x << "," << y << "," << c;
                    }
            EXPECT_LE(maxHeld(*tiledOf(im)), 2);  // a row of the mirror's tiles, then the tile
        }
    EXPECT_EQ(log.size(), 0u);
}

// ---------------------------------------------------------------------------
// Mixed pairs (only the source or only the destination tiled) and all-tiled
// pairs give the samples of the untiled call, for copy, exchange, the
// pixel-wise walk (add, threshold) and every flip, on images large enough
// to hold many tiles with regions that start inside a tile. A tiled mirror
// source is read a row of tiles at a time, each tile once.
TEST(TiledPairs, MatchUntiled) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(2727);
    enum { kCopy, kExchange, kAdd, kThreshold, kMirror, kOps };
    for (int trial = 0; trial < 1500 && !HasFailure(); ++trial) {
        const int op = trial % kOps, tiling = 1 + trial / kOps % 3;  // 1 source, 2 destination, 3 both
        const unsigned depth = op == kThreshold ? vt::kDepths[1 + pick(rng, 0, 4)] : vt::kDepths[pick(rng, 0, 5)];
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 3), order = pick(rng, 0, 1), axis = pick(rng, -1, 1);
        vt::Layout la = randomLayout(rng, depth, n, order, tiling & 1, 90);
        vt::Layout lb = randomLayout(rng, depth, n, order, tiling & 2, 90);
        vt::Layout lc = randomLayout(rng, depth, n, order, tiling & 1, 90);
        if (op == kMirror && lb.hasRoi) lb.roi.coi = la.hasRoi ? la.roi.coi : 0;
        if (op == kMirror && la.hasRoi && !lb.hasRoi) la.roi.coi = 0;
        SCOPED_TRACE("op " + std::to_string(op) + " axis " + std::to_string(axis) + " | a: " + vt::describe(la) +
                     " | b: " + vt::describe(lb));
        auto run = [&](vt::ImageBase& a, vt::ImageBase& b, vt::ImageBase& c) {
            switch (op) {
                case kCopy: return vexCopy(a.get(), b.get(), nullptr);
                case kExchange: return vexExchange(a.get(), b.get(), nullptr);
                case kAdd: return vexAdd(a.get(), c.get(), b.get(), nullptr);
                case kThreshold: return vexThreshold(a.get(), b.get(), 3, nullptr);
                default: return vexMirror(a.get(), b.get(), axis, nullptr);
            }
        };
        ImagePtr a = vt::makeImage(la, 10 + trial), b = vt::makeImage(lb, 20 + trial), c = vt::makeImage(lc, 30 + trial);
        vt::Layout ua = la, ub = lb, uc = lc;
        ua.tiled = ub.tiled = uc.tiled = false;
        ImagePtr pa = vt::makeImage(ua, 10 + trial), pb = vt::makeImage(ub, 20 + trial), pc = vt::makeImage(uc, 30 + trial);
        run(*a, *b, *c);
        run(*pa, *pb, *pc);
        ASSERT_EQ(vt::diffSamples(a->get(), pa->get()) + vt::diffSamples(b->get(), pb->get()), "");
        for (const ImagePtr* im : {&a, &b, &c})
            if (vt::TiledImage* t = tiledOf(*im)) maxHeld(*t);
        if (op == kMirror && (tiling & 1)) {
            // Rows of tiles, each row requested left to right and released
            // in reverse; with an untiled destination each tile is read once.
            std::map<std::pair<int, int>, int> reads;
            const auto& calls = tiledOf(a)->calls();
            for (size_t k = 0; k < calls.size();) {
                size_t got = k;
                while (got < calls.size() && calls[got].mode == VEX_TILE_GET_READ) ++got;
                ASSERT_GT(got, k);
                for (size_t g = k; g < got; ++g) {
                    ++reads[{calls[g].xIndex, calls[g].yIndex}];
                    if (g > k) {
                        EXPECT_EQ(calls[g], (vt::TileCall{calls[g - 1].xIndex + 1, calls[k].yIndex, 1}));
                    }
                    ASSERT_LT(got + (got - 1 - g), calls.size());
                    EXPECT_EQ(calls[got + (got - 1 - g)], (vt::TileCall{calls[g].xIndex, calls[g].yIndex, VEX_TILE_RELEASE}));
                }
                k = 2 * got - k;
            }
            if (tiling == 1) {
                for (const auto& [tile, count] : reads) EXPECT_EQ(count, 1) << tile.first << "," << tile.second;
            }
        }
        EXPECT_EQ(log.size(), 0u);
    }
}

// ---------------------------------------------------------------------------
// An exchange of two tiled images over every depth and order, with equal
// grids and ROI offsets that agree within the tiles (each piece of B pairs
// with one tile of A: swapped tile to tile, no temporary), grids or offsets
// that differ (the gathered path), and channels of interest. The result is
// the untiled exchange; A's tiles are read, handed back and got for writing
// in the gathered path's order, and a tile-to-tile exchange allocates nothing.
TEST(TiledExchange, TileToTileAndGathered) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(2828);
    struct Tracking {
        Tracking() { vex::ownAllocTrack(true); }
        ~Tracking() { vex::ownAllocTrack(false); }
    };
    for (int trial = 0; trial < 360 && !HasFailure(); ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int grid = trial / 6 % 3;  // 0 agreeing, 1 other tile sizes, 2 other ROI offsets
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 3), order = trial / 18 % 2;
        vt::Layout la = randomLayout(rng, depth, n, order, true, 90), lb = la;
        lb.height = pick(rng, 1, 90), lb.width = pick(rng, 1, 90);
        if (la.hasRoi) {
            // B's ROI starts at the same place within its tile as A's.
            lb.roi.xOffset = la.roi.xOffset % la.tileWidth + la.tileWidth * pick(rng, 0, 2);
            lb.roi.yOffset = la.roi.yOffset % la.tileHeight + la.tileHeight * pick(rng, 0, 2);
            lb.roi.coi = n > 1 && trial % 4 == 0 ? pick(rng, 1, n) : la.roi.coi;
            if (lb.roi.coi) la.roi.coi = pick(rng, 1, n);
            lb.hasRoi = lb.roi.xOffset < lb.width && lb.roi.yOffset < lb.height;
        }
        if (!la.hasRoi || !lb.hasRoi) la.hasRoi = lb.hasRoi = false;
        if (grid == 1) lb.tileWidth = la.tileWidth == 8 ? 16 : la.tileWidth - 8;
        if (grid == 2) {
            lb.hasRoi = true, lb.roi = VexROI{0, 1, pick(rng, 0, 3), lb.height, lb.width};
            la.roi.coi = 0;
        }
        SCOPED_TRACE("grid " + std::to_string(grid) + " | a: " + vt::describe(la) + " | b: " + vt::describe(lb));
        ImagePtr a = vt::makeImage(la, 40 + trial), b = vt::makeImage(lb, 50 + trial);
        vt::Layout ua = la, ub = lb;
        ua.tiled = ub.tiled = false;
        ImagePtr pa = vt::makeImage(ua, 40 + trial), pb = vt::makeImage(ub, 50 + trial);
        int64_t peak;
        {
            Tracking tracking;
            vexExchange(a->get(), b->get(), nullptr);
            peak = vex::ownAllocPeak();
        }
        vexExchange(pa->get(), pb->get(), nullptr);
        ASSERT_EQ(vt::diffSamples(a->get(), pa->get()) + vt::diffSamples(b->get(), pb->get()), "");
        maxHeld(*tiledOf(a));
        maxHeld(*tiledOf(b));
        const auto& ca = tiledOf(a)->calls();
        const auto& cb = tiledOf(b)->calls();
        if (grid == 0) {
            EXPECT_EQ(peak, 0);
            ASSERT_EQ(ca.size(), 2 * cb.size());
            for (size_t k = 0; k < ca.size(); k += 4) {
                const int x = ca[k].xIndex, y = ca[k].yIndex;
                EXPECT_EQ(std::vector<vt::TileCall>(ca.begin() + k, ca.begin() + k + 4),
                          (std::vector<vt::TileCall>{{x, y, 1}, {x, y, 4}, {x, y, 2}, {x, y, 4}})) << k;
            }
        }
        EXPECT_EQ(log.size(), 0u);
    }
}

// ---------------------------------------------------------------------------
// Rectangles far larger than the image, gathered from small tiles: border
// runs (reflected, wrapped, replicated and constant) cross tile edges and
// repeat over several periods; every pixel equals the per-pixel border rule.
// A rectangle gathered into the middle of a larger buffer (at a bit offset
// for 1U) writes only its own pixels there.
TEST(TiledGetRect, BorderRunsAcrossTileEdges) {
    vt::ReportLog log;
    std::mt19937 rng(72);
    for (int trial = 0; trial < 600 && !HasFailure(); ++trial) {
        const unsigned depth = vt::kDepths[trial % 6];
        const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 3), order = pick(rng, 0, 1);
        const int H = pick(rng, 1, 30), W = pick(rng, 1, 40);
        vt::TiledImage image(depth, n, H, W, 8 * pick(rng, 1, 2), 8, order, pick(rng, 0, 1) ? 8 : 4);
        image.fillPattern(trial);
        VexImage* im = image.get();
        for (int s = 0; s < 4; ++s) im->borderMode[s] = pick(rng, 0, 3), im->borderValue[s] = pick(rng, -300, 300);
        const int x = pick(rng, -3 * W, W), y = pick(rng, -2 * H, H), w = pick(rng, 1, 5 * W), h = pick(rng, 1, 4 * H);
        SCOPED_TRACE(testing::Message() << vt::depthName(depth) << " n" << n << " order " << order << " " << W << "x" << H
                                        << " rect " << x << "," << y << " " << w << "x" << h << " modes " << im->borderMode[0]
                                        << im->borderMode[1] << im->borderMode[2] << im->borderMode[3]);
        // Into a buffer 3 pixels wider and 2 rows taller, at (2, 1), filled with a sentinel.
        const int bw = w + 3, bh = h + 2;
        const int64_t step = vt::rowStep(bw, depth, n, order, 4);
        std::vector<char> buffer(size_t(step * bh * (order ? n : 1)), char(vt::kSentinel));
        VexImage view = vex::ownRectHeader(im, buffer.data(), bw, bh);
        view.align = 4, view.widthStep = int(step);
        const int64_t pixelBits = int64_t(2) * (order ? 1 : n) * vt::depthBits(depth);
        ASSERT_TRUE(vex::ownGatherRect(kSite, im, x, y, w, h, buffer.data() + step + pixelBits / 8, int(pixelBits % 8), step,
                                       step * bh));
        vt::Image sentinel(depth, n, bh, bw, order, 4);
        sentinel.fillSentinel();
        for (int r = 0; r < bh; ++r)
            for (int col = 0; col < bw; ++col)
                for (int c = 1; c <= n; ++c) {
                    const bool in = r >= 1 && r <= h && col >= 2 && col < w + 2;
                    int rule = 0;
                    if (in) {
                        ASSERT_TRUE(vex::ownGetBorderPixel(im, x + col - 2, y + r - 1, c, &rule));
                    }
                    const int64_t mask = vt::depthBits(depth) == 32 ? -1 : (int64_t(1) << vt::depthBits(depth)) - 1;
                    const int64_t want = in ? rule & mask : sentinel.sample(col, r, c) & mask;
                    ASSERT_EQ(vt::sample(&view, col, r, c) & mask, want) << "at " << col << "," << r << "," << c;
                }
        EXPECT_EQ(image.outstanding(), 0);
    }
    EXPECT_EQ(log.size(), 0u);
}

// ---------------------------------------------------------------------------
// The temporaries of tiled calls: whatever the tiling, the flip or a
// region that starts inside a tile, no call holds more than two tiles'
// worth of vexMalloc blocks (and a little for run tables) at once.
TEST(TiledMemory, TemporariesStayWithinTiles) {
    StatusReset reset;
    vt::ReportLog log;
    constexpr int kSize = 256, kTile = 32;
    const int64_t tileBytes = int64_t(kTile) * kTile * 3;
    struct Tracking {
        Tracking() { vex::ownAllocTrack(true); }
        ~Tracking() { vex::ownAllocTrack(false); }
    };
    for (int tiling = 1; tiling <= 3; ++tiling)
        for (bool roi : {false, true}) {
            auto make = [&](bool tiled, uint32_t key) {
                vt::Layout l;
                l.depth = VEX_DEPTH_8U, l.nChannels = 3, l.height = l.width = kSize, l.tiled = tiled;
                l.tileWidth = l.tileHeight = kTile;
                if (roi) l.hasRoi = true, l.roi = VexROI{0, 5, 9, kSize - 20, kSize - 13};
                return vt::makeImage(l, key);
            };
            ImagePtr a = make(tiling & 1, 1), a2 = make(tiling & 1, 2), b = make(tiling & 2, 3);
            const std::pair<const char*, std::function<void()>> calls[] = {
                {"copy", [&] { vexCopy(a->get(), b->get(), nullptr); }},
                {"exchange", [&] { vexExchange(a->get(), b->get(), nullptr); }},
                {"add", [&] { vexAdd(a->get(), a2->get(), b->get(), nullptr); }},
                {"threshold", [&] { vexThreshold(a->get(), b->get(), 100, nullptr); }},
                {"mirror 1", [&] { vexMirror(a->get(), b->get(), 1, nullptr); }},
                {"mirror 0", [&] { vexMirror(a->get(), b->get(), 0, nullptr); }},
                {"mirror -1", [&] { vexMirror(a->get(), b->get(), -1, nullptr); }},
                {"mirror in place", [&] { vexMirror(b->get(), b->get(), -1, nullptr); }},
                {"mirror in place, one tile", [&] {
                     const int sel[2] = {3, 4};
                     vexMirror(b->get(), b->get(), 1, sel);
                 }},
            };
            for (const auto& [name, call] : calls) {
                Tracking tracking;
                call();
                const int64_t peak = vex::ownAllocPeak();
                EXPECT_GE(peak, 0);
                EXPECT_LE(peak, 2 * tileBytes + 4096) << name << " tiling " << tiling << (roi ? " roi" : "");
            }
        }
    EXPECT_EQ(log.size(), 0u);
}

// The accounting itself: it follows blocks as they come and go.
TEST(TiledMemory, AccountingFollowsBlocks) {
    EXPECT_EQ(vex::ownAllocPeak(), -1);
    vex::ownAllocTrack(true);
    void* a = vexMalloc(1000);
    void* b = vexMalloc(500);
    vexFree(a);
    void* c = vexdMalloc(100);  // 800 bytes
    vexFree(b);
    vexFree(c);
    EXPECT_EQ(vex::ownAllocPeak(), 1500);
    vex::ownAllocTrack(false);
    EXPECT_EQ(vex::ownAllocPeak(), -1);
}

}  // namespace
