// Erosion, dilation, opening and closing against a plain reference over
// depths, orders, channels, ROIs, tiles and the border modes and constants of
// every side; the checks in their order; in-place runs; 1U against 8U.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "filterref.h"
#include "vextest.h"

namespace {

using vt::Clip;
using vt::channelsOf;
using vt::clipOf;
using vt::uniform;

using MorphFn = void (*)(VexImage*, VexImage*, int, const VexMapping*);
enum Kind { kErode, kDilate, kOpen, kClose };
const MorphFn kFns[] = {vexErode, vexDilate, vexOpen, vexClose};
const char* const kNames[] = {"vexErode", "vexDilate", "vexOpen", "vexClose"};

// ---------------------------------------------------------------- reference

// The border rule, point by point: inside the image the pixel; beyond one
// side that side's mode; beyond a corner the top/bottom side's mode for both
// coordinates.
using fref::borderSample;

// Writes into `expect` what the operation does to the destination, reading
// the source `src` (the destination's twin before the call when in place).
void reference(const VexImage* src, VexImage* expect, Kind kind, int iterations) {
    const Clip s = clipOf(src), d = clipOf(expect);
    const int W = std::min(s.w, d.w), H = std::min(s.h, d.h);
    if (W <= 0 || H <= 0) return;
    const std::vector<int> cs = channelsOf(src), cd = channelsOf(expect);
    const unsigned depth = src->depth;
    if (depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U && !(depth == VEX_DEPTH_1U && cs.size() == 1)) return;
    std::vector<bool> erodes;
    for (int k = 0; k < iterations; ++k) {
        if (kind == kErode) erodes.push_back(true);
        if (kind == kDilate) erodes.push_back(false);
        if (kind == kOpen) erodes.push_back(true), erodes.push_back(false);
        if (kind == kClose) erodes.push_back(false), erodes.push_back(true);
    }
    for (size_t g = 0; g < cs.size(); ++g) {
        std::vector<int64_t> cur(size_t(W) * H), next(cur.size());
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) cur[size_t(y) * W + x] = vt::sample(src, s.x + x, s.y + y, cs[g]);
        for (bool erode : erodes) {
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    int64_t r = erode ? INT64_MAX : INT64_MIN;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int xx = x + dx, yy = y + dy;
                            const int64_t v = xx >= 0 && xx < W && yy >= 0 && yy < H
                                                  ? cur[size_t(yy) * W + xx]
                                                  : borderSample(src, s.x + xx, s.y + yy, cs[g]);
                            r = erode ? std::min(r, v) : std::max(r, v);
                        }
                    next[size_t(y) * W + x] = r;
                }
            std::swap(cur, next);
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) vt::setSample(expect, d.x + x, d.y + y, cd[g], cur[size_t(y) * W + x]);
    }
}

void randomBorders(std::mt19937& rng, VexImage* im) {
    for (int side = 0; side < 4; ++side)
        vexSetBorderMode(im, uniform(rng, 0, 3), 1 << side, uniform(rng, -70000, 70000));
}

// ------------------------------------------------------------------ matrix

TEST(Morph, MatchesReferenceOverLayoutsAndBorders) {
    std::mt19937 rng(20261207);
    vt::LayoutLimits lim;
    // Depths without a kernel leave the destination alone, silently.
    lim.depths = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_8U, VEX_DEPTH_16U, VEX_DEPTH_16U, VEX_DEPTH_8S, VEX_DEPTH_16S, VEX_DEPTH_32S};
    lim.maxChannels = 3;
    lim.maxSize = 34;
    lim.roiOutside = true;
    int ran = 0, tiled = 0, inPlace = 0;
    for (int iter = 0; iter < 700; ++iter) {
        vt::Layout ls, ld;
        vt::pairLayouts(rng, lim, &ls, &ld, true);
        const bool self = uniform(rng, 0, 4) == 0;
        const Kind kind = Kind(uniform(rng, 0, 3));
        const int iterations = uniform(rng, 1, 3);
        SCOPED_TRACE("case " + std::to_string(iter) + ": " + kNames[kind] + " x" + std::to_string(iterations) +
                     (self ? " in place " : " ") + vt::describe(ls) + " -> " + vt::describe(ld));
        auto src = vt::makeImage(ls, 11u + iter);
        if (iter % 8) randomBorders(rng, src->get());  // else a fresh header's: constant 0
        std::unique_ptr<vt::ImageBase> dst = self ? nullptr : vt::makeImage(ld, 900u + iter);
        auto expect = vt::cloneOf(self ? *src : *dst);
        reference(self ? vt::cloneOf(*src)->get() : src->get(), expect->get(), kind, iterations);  // in place: the twin
        VexImage* target = self ? src->get() : dst->get();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsBadArg);  // a success resets the status
        kFns[kind](src->get(), target, iterations, nullptr);
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
        const vt::ImageBase& got = self ? *src : *dst;
        ASSERT_EQ(got.bytes(), expect->bytes()) << vt::diffSamples(got.get(), expect->get());
        ++ran;
        tiled += ls.tiled || ld.tiled;
        inPlace += self;
    }
    EXPECT_GT(tiled, 100);
    EXPECT_GT(inPlace, 50);
    EXPECT_EQ(ran, 700);
}

// Two headers over one buffer whose regions are shifted against each other.
TEST(Morph, OverlappingRegionsOfOneBuffer) {
    vt::Image base(VEX_DEPTH_8U, 1, 16, 16);
    base.fillPattern(4);
    vt::Image copy = base.clone();
    VexImage other = *base.get();
    VexROI srcRoi{0, 1, 0, 12, 12}, dstRoi{0, 3, 2, 12, 12};
    other.roi = &srcRoi;
    VexImage target = *base.get();
    target.roi = &dstRoi;
    copy.setRoi(0, 1, 0, 12, 12);
    vt::Image expect = base.clone();
    expect.setRoi(0, 3, 2, 12, 12);
    reference(copy.get(), expect.get(), kDilate, 2);
    vexDilate(&other, &target, 2, nullptr);
    VexROI* roi = expect.get()->roi;
    expect.get()->roi = nullptr;
    EXPECT_EQ(vt::diffSamples(base.get(), expect.get()), "");
    vexDeleteROI(roi);
}

// ------------------------------------------------------------------ checks

void noTile(const VexImage*, int, int, int) {}

// Fault k is tested with every later fault present as well, so each text
// proves its place in the order.
TEST(Morph, ChecksInOrder) {
    const char* const texts[] = {
        "Null SRC image header",
        "Null DST image header",
        "Specify exactly SRC image mode (non-tile/tile)",
        "Specify exactly DST image mode (non-tile/tile)",
        "Illegal SRC tile info contents",
        "Illegal DST tile info contents",
        "Illegal number of of iterations",
        "Mapping must be NULL",
        "Illegal SRC image header contents",
        "Illegal DST image header contents",
        "SRC and DST depth are not compatible",
        "SRC and DST order are not compatible",
        "SRC and DST orign are not compatible",
        "SRC and DST number of channels are not compatible",
    };
    const int n = int(sizeof texts / sizeof texts[0]);
    for (int kind = 0; kind < 4; ++kind)
        for (int k = 0; k < n; ++k) {
            auto on = [&](int j) { return j >= k; };
            SCOPED_TRACE(std::string(kNames[kind]) + ": " + texts[k]);
            vt::Image src(VEX_DEPTH_8U, 1, 8, 8);
            vt::Image dst(on(10) ? VEX_DEPTH_16U : VEX_DEPTH_8U, on(13) ? 3 : 1, 8, 8,
                          on(11) ? VEX_DATA_ORDER_PLANE : VEX_DATA_ORDER_PIXEL, 4,
                          on(12) ? VEX_ORIGIN_BL : VEX_ORIGIN_TL);
            dst.fillPattern(2);
            const auto before = dst.bytes();
            VexTileInfo srcTiles{noTile, 0, nullptr, 8, 8}, dstTiles{noTile, 0, nullptr, 8, 8};
            VexImage* s = src.get();
            VexImage* d = dst.get();
            char* sData = s->imageData;
            char* dData = d->imageData;
            if (on(4)) s->tileInfo = &srcTiles, s->imageData = nullptr, srcTiles.callBack = nullptr;
            if (on(2)) s->tileInfo = &srcTiles, s->imageData = sData;
            if (on(5)) d->tileInfo = &dstTiles, d->imageData = nullptr, dstTiles.height = 0;
            if (on(3)) d->tileInfo = &dstTiles, d->imageData = dData;
            if (on(8)) s->align = 5;
            if (on(9)) d->width = 0;
            const int iterations = on(6) ? 0 : 1;
            const VexMapping mapping{0, 0};
            {
                vt::ReportLog log;
                kFns[kind](on(0) ? nullptr : s, on(1) ? nullptr : d, iterations, on(7) ? &mapping : nullptr);
                vt::expectOneReport(log, VEX_StsBadArg, kNames[kind], kNames[kind], texts[k]);
            }
            s->tileInfo = nullptr, s->imageData = sData, s->align = 4;
            d->tileInfo = nullptr, d->imageData = dData, d->width = 8;
            EXPECT_EQ(dst.bytes(), before);
            vexSetErrStatus(VEX_StsOk);
        }
}

// An empty region: nothing written, nothing reported, the status reset.
// Undelivered tiles: VEX_StsError with the text of the side that failed,
// every delivered tile released, and nothing written when the source fails.
TEST(Morph, EmptyRegionAndUndeliveredTiles) {
    {
        vt::Image src(VEX_DEPTH_8U, 1, 6, 6), dst(VEX_DEPTH_8U, 1, 6, 6);
        src.setRoi(0, 7, 0, 2, 2);  // starts past the image
        dst.fillPattern(2);
        const auto before = dst.bytes();
        vt::ReportLog log;
        vexSetErrStatus(VEX_StsError);
        vexDilate(src.get(), dst.get(), 1, nullptr);
        EXPECT_TRUE(log.size() == 0 && vexGetErrStatus() == VEX_StsOk && dst.bytes() == before);
    }
    for (int which = 0; which < 2; ++which) {
        vt::TiledImage src(VEX_DEPTH_8U, 1, 16, 16, 8, 8), dst(VEX_DEPTH_8U, 1, 16, 16, 8, 8);
        src.fillPattern(1), dst.fillPattern(2);
        const auto before = dst.bytes();
        if (which == 0) src.refuse(1, 1, VEX_TILE_GET_READ);
        else dst.refuse(1, 0, VEX_TILE_GET_WRITE);
        vt::ReportLog log;
        vexErode(src.get(), dst.get(), 1, nullptr);
        ASSERT_GE(log.size(), 1u);
        EXPECT_EQ(log[0].status, VEX_StsError);
        EXPECT_EQ(log[0].context, which == 0 ? "Error get tile to read" : "Error get tile to write");
        EXPECT_EQ(log[0].funcName, "vexErode");
        if (which == 0) {
            EXPECT_EQ(dst.bytes(), before);
        }
        EXPECT_TRUE(src.outstanding() == 0 && dst.outstanding() == 0);
        vexSetErrStatus(VEX_StsOk);
    }
}

}  // namespace
