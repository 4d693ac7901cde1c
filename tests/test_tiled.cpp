// The temporaries a tiled call may hold: a few tiles' worth, never an
// image's. Tiled calls against the reference and the untiled call are in
// the families' matrices (test_move.cpp, test_arith.cpp), rectangles
// gathered from tiles in test_traversal.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "frame/ownframe.h"
#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;


// ---------------------------------------------------------------------------
// The temporaries of tiled calls: whatever the tiling, the flip or a
// region that starts inside a tile, no call holds more than two tiles'
// worth of vexMalloc blocks (and a little for run tables) at once.
TEST(TiledMemory, TemporariesStayWithinTiles) {
    vt::StatusReset reset;
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
                // Two tiled images on one grid exchange tile to tile, with no temporary.
                if (tiling == 3 && std::string(name) == "exchange") {
                    EXPECT_EQ(peak, 0);
                }
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
