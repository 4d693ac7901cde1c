// Logical and shift operations: scalar patterns, vexNot, shift counts at 0,
// at the depth's width and above, the 1U rules and vexRShiftS's texts.
#include <gtest/gtest.h>

#include <vector>

#include "vextest.h"

namespace {

using V = std::vector<int64_t>;
using Unary = void (*)(VexImage*, VexImage*, unsigned, const int*);

// Applies op with scalar s to one row of samples of the depth.
V run(Unary fn, unsigned depth, const V& in, unsigned s) {
    const int n = int(in.size());
    vt::Image src(depth, 1, 1, n), dst(depth, 1, 1, n);
    for (int x = 0; x < n; ++x) src.setSample(x, 0, 1, in[x]);
    vt::ReportLog log;
    fn(src.get(), dst.get(), s, nullptr);
    EXPECT_EQ(log.size(), 0u);
    V out;
    for (int x = 0; x < n; ++x) out.push_back(dst.sample(x, 0, 1));
    return out;
}

TEST(Logic, ScalarPatternUsesTheLowBitsOfTheDepth) {
    EXPECT_EQ(run(vexAndS, VEX_DEPTH_8U, {0xFF, 0x0F}, 0x1F0), (V{0xF0, 0x00}));
    EXPECT_EQ(run(vexOrS, VEX_DEPTH_16S, {1, 0}, 0x18000), (V{-32767, -32768}));
    EXPECT_EQ(run(vexXorS, VEX_DEPTH_1U, {0, 1, 1, 0}, 2), (V{0, 1, 1, 0}));
    EXPECT_EQ(run(vexXorS, VEX_DEPTH_1U, {0, 1, 1, 0}, 3), (V{1, 0, 0, 1}));
    EXPECT_EQ(run(vexAndS, VEX_DEPTH_32S, {-1, INT32_MIN}, 0x80000001u), (V{INT32_MIN + 1, INT32_MIN}));
    EXPECT_EQ(run(vexXorS, VEX_DEPTH_8S, {0, -128}, 0xFFFFFF7Fu), (V{127, -1}));
}

TEST(Logic, NotIsExclusiveOrWithAllBits) {
    vt::Image a(VEX_DEPTH_8U, 1, 1, 3), b(VEX_DEPTH_8S, 1, 1, 3), d8(VEX_DEPTH_8U, 1, 1, 3),
        ds(VEX_DEPTH_8S, 1, 1, 3);
    for (int x = 0; x < 3; ++x) a.setSample(x, 0, 1, x), b.setSample(x, 0, 1, x);
    vt::ReportLog log;
    vexNot(a.get(), d8.get(), nullptr);
    vexNot(b.get(), ds.get(), nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(d8.sample(0, 0, 1), 255);
    EXPECT_EQ(d8.sample(2, 0, 1), 253);
    EXPECT_EQ(ds.sample(0, 0, 1), -1);
    EXPECT_EQ(ds.sample(2, 0, 1), -3);
}

TEST(Shift, LeftDropsBitsAndClearsAtTheWidth) {
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_8U, {0x81, 0x7F}, 1), (V{0x02, 0xFE}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_8U, {0x81, 0x7F}, 8), (V{0, 0}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_8U, {0x81, 0x7F}, 0xFFFFFFFFu), (V{0, 0}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_8U, {0x81, 0x7F}, 0), (V{0x81, 0x7F}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_16S, {1, -1}, 15), (V{-32768, -32768}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_16S, {1, -1}, 16), (V{0, 0}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_32S, {3, -1}, 31), (V{INT32_MIN, INT32_MIN}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_32S, {3, -1}, 32), (V{0, 0}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_1U, {1, 0, 1}, 0), (V{1, 0, 1}));
    EXPECT_EQ(run(vexLShiftS, VEX_DEPTH_1U, {1, 0, 1}, 1), (V{0, 0, 0}));
}

TEST(Shift, RightIsLogicalForUnsignedAndFillsTheSign) {
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8U, {0x80, 0xFF}, 7), (V{1, 1}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8U, {0x80, 0xFF}, 8), (V{0, 0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_16U, {0xFFFF}, 40), (V{0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8S, {-128, -1, 127}, 1), (V{-64, -1, 63}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8S, {-128, -1, 127}, 7), (V{-1, -1, 0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8S, {-128, -1, 127}, 24), (V{-1, -1, 0}));
    // Counts past 24 (8S), 16 (16S) and 31: the sign still fills.
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_8S, {-128, 127}, 25), (V{-1, 0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_16S, {-2, 300}, 17), (V{-1, 0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_32S, {-8, INT32_MAX}, 1), (V{-4, INT32_MAX / 2}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_32S, {-8, INT32_MAX}, 0xFFFFFFFFu), (V{-1, 0}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_1U, {1, 0, 1}, 0), (V{1, 0, 1}));
    EXPECT_EQ(run(vexRShiftS, VEX_DEPTH_1U, {1, 0, 1}, 3), (V{0, 0, 0}));
}

TEST(Logic, UnalignedBitOffsetsCombineBitByBit) {
    // ROIs at columns 3, 6 and 1: each image's first bit sits elsewhere in its byte.
    vt::Image a(VEX_DEPTH_1U, 1, 3, 40), b(VEX_DEPTH_1U, 1, 3, 40), d(VEX_DEPTH_1U, 1, 3, 41);
    a.fillPattern(11);
    b.fillPattern(12);
    d.fillPattern(13);
    const vt::Image before = d.clone();
    a.setRoi(0, 3, 0, 3, 37);
    b.setRoi(0, 6, 0, 3, 34);
    d.setRoi(0, 1, 1, 2, 40);
    vt::ReportLog log;
    vexXor(a.get(), b.get(), d.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 41; ++x) {
            const bool inside = y >= 1 && x >= 1 && x <= 34;
            const int64_t expected = inside ? a.sample(x - 1 + 3, y - 1, 1) ^ b.sample(x - 1 + 6, y - 1, 1)
                                            : before.sample(x, y, 1);
            ASSERT_EQ(d.sample(x, y, 1), expected) << x << "," << y;
        }
}

// The tile-walk texts of vexRShiftS spell the null pointer differently.
TEST(Shift, RightShiftTileTexts) {
    vt::TiledImage src(VEX_DEPTH_8U, 1, 8, 8, 8, 8), dst(VEX_DEPTH_8U, 1, 8, 8, 8, 8);
    src.refuse(0, 0, VEX_TILE_GET_READ);
    vt::ReportLog log;
    vexRShiftS(src.get(), dst.get(), 1, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "(srcImage->tileInfo->tileData == ((void *)0))");
    EXPECT_EQ(log[0].file, "vexshfts");
    src.clearRefusals();
    dst.refuse(0, 0, VEX_TILE_GET_WRITE);
    log.clear();
    vexLShiftS(src.get(), dst.get(), 1, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "(dstImage->tileInfo->tileData == ((void*)(0)))");
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
