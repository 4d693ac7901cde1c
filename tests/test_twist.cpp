// Colour twist: records, the per-pixel rule against a reference over depths x
// orders x channels x regions x tiling, the mapping, and every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

struct TwistPtr {
    VexColorTwist* t;
    ~TwistPtr() { vexDeleteColorTwist(t); }
};

int64_t twistRef(const int data[16], int scaling, int offset, int64_t M, int r, const int64_t c[3]) {
    const double k = std::ldexp(1.0, -scaling);
    const double v = data[4 * r] * k * double(c[0]) + data[4 * r + 1] * k * double(c[1]) +
                     data[4 * r + 2] * k * double(c[2]) + data[4 * r + 3] * k;
    const int64_t t = std::min<int64_t>(M, std::max<int64_t>(0, int64_t(std::trunc(std::max(-1e18, std::min(1e18, v))))));
    return std::min<int64_t>(M, std::max<int64_t>(0, t + offset));
}

TEST(ColorTwist, Records) {
    const int data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, other[16] = {};
    TwistPtr t{vexCreateColorTwist(data, 5)};
    ASSERT_NE(t.t, nullptr);
    EXPECT_EQ(std::memcmp(t.t->data, data, sizeof data), 0);
    EXPECT_EQ(t.t->scalingValue, 5);
    vexSetColorTwist(t.t, other, 31);
    EXPECT_EQ(t.t->data[15], 0);
    EXPECT_EQ(t.t->scalingValue, 31);
    vexDeleteColorTwist(nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    const std::vector<std::pair<std::function<void()>, const char*>> cases = {
        {[&] { EXPECT_EQ(vexCreateColorTwist(nullptr, 0), nullptr); }, "bad_argument"},
        {[&] { EXPECT_EQ(vexCreateColorTwist(data, 32), nullptr); }, "bad_argument"},
        {[&] { EXPECT_EQ(vexCreateColorTwist(data, -1), nullptr); }, "bad_argument"},
        {[&] { vexSetColorTwist(nullptr, nullptr, 40); }, "cTwist==0"},
        {[&] { vexSetColorTwist(t.t, nullptr, 40); }, "(data == 0)"},
        {[&] { vexSetColorTwist(t.t, data, -1); }, "(scalingValue < 0)"},
        {[&] { vexSetColorTwist(t.t, data, 32); }, "(scalingValue > 31)"},
    };
    for (const auto& [call, text] : cases)
        vt::expectRejected(call, nullptr, VEX_StsBadArg, text[0] == 'b' ? "vexCreateColorTwist" : "vexSetColorTwist", "vextwist", text);
    EXPECT_EQ(t.t->scalingValue, 31);  // refused sets leave the record alone
}

TEST(ColorTwist, ReferenceMatrixAndTiles) {
    std::mt19937 rng(29);
    for (int round = 0; round < 150; ++round) {
        vt::LayoutLimits lim;
        lim.depths = {VEX_DEPTH_8U, VEX_DEPTH_16U};
        lim.tiled = round % 2;
        lim.roiOutside = true;
        vt::Layout ls = vt::randomLayout(rng, lim), ld = vt::randomLayout(rng, lim);
        ls.nChannels = 3 + int(rng() % 2), ld.nChannels = 3 + int(rng() % 2);
        ld.depth = ls.depth, ld.order = ls.order, ld.origin = ls.origin;
        ls.roi.coi = std::min(ls.roi.coi, ls.nChannels);  // the coi plays no part
        ld.roi.coi = std::min(ld.roi.coi, ld.nChannels);
        SCOPED_TRACE(vt::describe(ls) + " -> " + vt::describe(ld));
        auto src = vt::makeImage(ls, 40 + round), dst = vt::makeImage(ld, 41 + round);
        auto want = vt::makeImage(ld, 41 + round);
        int data[16];
        for (int& v : data) v = int(rng() % 600) - 200;
        const int scaling = int(rng() % 10), offset = int(rng() % 200) - 100;
        TwistPtr t{vexCreateColorTwist(data, scaling)};
        vexApplyColorTwist(src->get(), dst->get(), t.t, offset, nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        // Regions anchored at their corners, of the common size; three channels.
        const vt::Clip s = vt::clipOf(src->get()), d = vt::clipOf(dst->get());
        for (int y = 0; y < std::min(s.h, d.h); ++y)
            for (int x = 0; x < std::min(s.w, d.w); ++x) {
                const int64_t in[3] = {src->sample(s.x + x, s.y + y, 1), src->sample(s.x + x, s.y + y, 2),
                                       src->sample(s.x + x, s.y + y, 3)};
                for (int c = 1; c <= 3; ++c)
                    want->setSample(d.x + x, d.y + y, c,
                                    twistRef(data, scaling, offset, ls.depth == VEX_DEPTH_8U ? 255 : 65535, c - 1, in));
            }
        EXPECT_EQ(vt::diffSamples(dst->get(), want->get()), "");
    }
}

// With a tiled destination a mapping computes the tile holding one pixel; a
// tile outside the destination region is refused, the column test first.
// Undelivered tiles end the call with a report.
TEST(ColorTwist, MappingAndTiles) {
    vt::Image src(VEX_DEPTH_8U, 3, 24, 24);
    src.fillPattern(3);
    vt::TiledImage dst(VEX_DEPTH_8U, 3, 24, 24, 8, 8);
    dst.fillPattern(4);
    const vt::TiledImage before = dst.clone();
    vt::TiledImage whole = dst.clone();
    const int data[16] = {0, 1, 0, 5, 1, 0, 0, 0, 0, 0, 1, 0};
    TwistPtr t{vexCreateColorTwist(data, 0)};
    vexApplyColorTwist(src.get(), whole.get(), t.t, 0, nullptr);
    const VexMapping m{13, 17};  // tile (1, 2)
    vexApplyColorTwist(src.get(), dst.get(), t.t, 0, &m);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
    EXPECT_EQ(dst.calls(), (std::vector<vt::TileCall>{{1, 2, 2}, {1, 2, 4}}));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            for (int c = 1; c <= 3; ++c)
                ASSERT_EQ(dst.sample(x, y, c), (x >= 8 && x < 16 && y >= 16 ? whole : before).sample(x, y, c));
    dst.setRoi(0, 8, 8, 8, 8);
    const char* column = "(((Mapping->xDst - Mapping->xDst % width_tile_d + width_tile_d) <= coord_X_dst) || "
                         "((Mapping->xDst - Mapping->xDst % width_tile_d) >= max_X))";
    const char* row = "(((Mapping->yDst - Mapping->yDst % height_tile_d + height_tile_d) <= coord_Y_dst) || "
                      "((Mapping->yDst - Mapping->yDst % height_tile_d) >= max_Y))";
    const char* func = "vexApplyColorTwist";
    for (const auto& [map, text] : std::vector<std::pair<VexMapping, const char*>>{{{2, 9}, column}, {{17, 40}, column}, {{9, 1}, row}})
        vt::expectRejected([&, m = map] { vexApplyColorTwist(src.get(), dst.get(), t.t, 0, &m); }, &dst, VEX_StsBadArg, func, "vextwist", text);
    vt::TiledImage refusing(VEX_DEPTH_8U, 3, 24, 24, 8, 8), tsrc(VEX_DEPTH_8U, 3, 24, 24, 8, 8);
    refusing.refuse(1, 1, VEX_TILE_GET_WRITE);
    vt::expectRejected([&] { vexApplyColorTwist(src.get(), refusing.get(), t.t, 0, nullptr); }, nullptr, VEX_StsError, func,
                       "vextwist", "(dstImage->tileInfo->tileData == NULL)");
    EXPECT_EQ(refusing.outstanding(), 0);
    tsrc.refuse(2, 0, VEX_TILE_GET_READ);
    for (bool tiledDst : {false, true}) {
        vt::Image plain(VEX_DEPTH_8U, 3, 24, 24);
        vt::TiledImage tiled(VEX_DEPTH_8U, 3, 24, 24, 8, 8);
        vt::expectRejected([&] { vexApplyColorTwist(tsrc.get(), tiledDst ? tiled.get() : plain.get(), t.t, 0, nullptr); }, nullptr,
                           VEX_StsError, func, "vextwist", "(srcImage->tileInfo->tileData == NULL)");
        EXPECT_EQ(tsrc.outstanding() + tiled.outstanding(), 0);
    }
}

// Each step spoils one more thing and expects one report and an untouched destination.
TEST(ColorTwist, ChecksInOrder) {
    vt::Image s(VEX_DEPTH_8U, 4, 4, 8), d(VEX_DEPTH_8U, 4, 4, 8);
    d.fillPattern(6);
    VexImage *si = s.get(), *di = d.get();
    const int data[16] = {};
    TwistPtr t{vexCreateColorTwist(data, 0)};
    const VexColorTwist* tw = t.t;
    const std::vector<std::pair<std::function<void()>, const char*>> steps = {
        {[&] { si->align = 3, tw = nullptr; }, "Image align is invalid"},
        {[&] { si->align = 4; }, "cTwist==0"},
        {[&] { tw = t.t, si->nChannels = 2, si->alphaChannel = 1; }, "(srcImage->nChannels < 3)"},
        {[&] { si->nChannels = 3; }, "((srcImage->alphaChannel != 0) && (srcImage->nChannels < 4))"},
        {[&] { si->nChannels = 4, si->alphaChannel = 3; },
         "((srcImage->alphaChannel != 0) && (srcImage->alphaChannel < srcImage->nChannels))"},
        {[&] { si->alphaChannel = 4, di->nChannels = 2; }, "(dstImage->nChannels < 3)"},
        {[&] { di->nChannels = 3, di->alphaChannel = 2; }, "((dstImage->alphaChannel != 0) && (dstImage->nChannels < 4))"},
        {[&] { di->nChannels = 4; }, "((dstImage->alphaChannel != 0) && (dstImage->alphaChannel < dstImage->nChannels))"},
        {[&] { di->alphaChannel = 0, si->depth = VEX_DEPTH_8S; }, "(srcImage->depth != dstImage->depth)"},
        {[&] { di->depth = VEX_DEPTH_8S; }, "((srcImage->depth != 8) && (srcImage->depth != 16))"},
        {[&] { si->depth = di->depth = VEX_DEPTH_8U, si->dataOrder = 1; }, "(srcImage->dataOrder != dstImage->dataOrder)"},
        {[&] { si->dataOrder = 0, si->origin = 1; }, "(srcImage->origin != dstImage->origin)"},
    };
    for (const auto& [spoil, text] : steps) {
        spoil();
        vt::expectRejected([&] { vexApplyColorTwist(si, di, tw, 0, nullptr); }, &d, VEX_StsBadArg, "vexApplyColorTwist", "vextwist", text);
    }
}

}  // namespace
