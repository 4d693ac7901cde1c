// vexThreshold: below the threshold the depth's minimum, else its maximum;
// its own check texts and the kernel's piece checks.
#include <gtest/gtest.h>

#include <vector>

#include "vextest.h"

namespace {

using V = std::vector<int64_t>;

V threshold(unsigned depth, const V& in, int t) {
    const int n = int(in.size());
    vt::Image src(depth, 1, 1, n), dst(depth, 1, 1, n);
    for (int x = 0; x < n; ++x) src.setSample(x, 0, 1, in[x]);
    vt::ReportLog log;
    vexThreshold(src.get(), dst.get(), t, nullptr);
    EXPECT_EQ(log.size(), 0u);
    V out;
    for (int x = 0; x < n; ++x) out.push_back(dst.sample(x, 0, 1));
    return out;
}

TEST(Threshold, ExtremesOfTheDepth) {
    EXPECT_EQ(threshold(VEX_DEPTH_8U, {127, 128, 0, 255}, 128), (V{0, 255, 0, 255}));
    EXPECT_EQ(threshold(VEX_DEPTH_8U, {0, 255}, 0), (V{255, 255}));
    EXPECT_EQ(threshold(VEX_DEPTH_8U, {0, 255}, 256), (V{0, 0}));
    EXPECT_EQ(threshold(VEX_DEPTH_8U, {0, 255}, -5), (V{255, 255}));
    EXPECT_EQ(threshold(VEX_DEPTH_8S, {-2, -1, 127}, -1), (V{-128, 127, 127}));
    EXPECT_EQ(threshold(VEX_DEPTH_16U, {999, 1000}, 1000), (V{0, 65535}));
    EXPECT_EQ(threshold(VEX_DEPTH_16S, {-32768, 32767}, 32767), (V{-32768, 32767}));
    EXPECT_EQ(threshold(VEX_DEPTH_32S, {INT32_MIN, 0, INT32_MAX}, INT32_MIN),
              (V{INT32_MAX, INT32_MAX, INT32_MAX}));
    EXPECT_EQ(threshold(VEX_DEPTH_32S, {INT32_MIN, INT32_MAX - 1, INT32_MAX}, INT32_MAX),
              (V{INT32_MIN, INT32_MIN, INT32_MAX}));
}

TEST(Threshold, CoiThresholdsOneChannel) {
    vt::Image src(VEX_DEPTH_8U, 3, 2, 17), dst(VEX_DEPTH_8U, 3, 2, 17);
    src.fillPattern(21);
    dst.fillPattern(22);
    const vt::Image before = dst.clone();
    src.setRoi(2, 0, 0, 2, 17);
    dst.setRoi(3, 0, 0, 2, 17);
    vt::ReportLog log;
    vexThreshold(src.get(), dst.get(), 100, nullptr);
    ASSERT_EQ(log.size(), 0u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 17; ++x) {
            EXPECT_EQ(dst.sample(x, y, 3), src.sample(x, y, 2) < 100 ? 0 : 255);
            EXPECT_EQ(dst.sample(x, y, 1), before.sample(x, y, 1));
            EXPECT_EQ(dst.sample(x, y, 2), before.sample(x, y, 2));
        }
}

TEST(Threshold, ChecksInOrder) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 8), dst(VEX_DEPTH_8U, 1, 4, 8);
    src.get()->depth = dst.get()->depth = VEX_DEPTH_1U;  // the buffers are large enough
    vt::ReportLog log;
    auto last = [&] {
        vexThreshold(src.get(), dst.get(), 1, nullptr);
        EXPECT_EQ(log.size(), 1u);
        const std::string text = log.size() ? log[0].context : "";
        EXPECT_TRUE(log.size() && log[0].funcName == "vexThreshold" && log[0].file == "vexthres");
        log.clear();
        return text;
    };
    EXPECT_EQ(last(), "(srcImage->depth==1)");
    dst.get()->depth = VEX_DEPTH_8U;
    EXPECT_EQ(last(), "(srcImage->depth!=dstImage->depth)");
    src.get()->depth = VEX_DEPTH_8U;
    src.get()->dataOrder = VEX_DATA_ORDER_PLANE;
    EXPECT_EQ(last(), "(srcImage->dataOrder!=dstImage->dataOrder)");
    vexSetErrStatus(VEX_StsOk);
}

TEST(Threshold, KernelChecksEachPiece) {
    vt::Image src(VEX_DEPTH_16S, 3, 4, 8), dst(VEX_DEPTH_16S, 1, 4, 8);
    dst.fillPattern(23);
    const auto before = dst.bytes();
    vt::ReportLog log;
    vexThreshold(src.get(), dst.get(), 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "The mismath of number channels");
    EXPECT_EQ(log[0].status, VEX_StsBadArg);
    // A region that starts past the image cannot be located.
    src.setRoi(1, 8, 0, 2, 2);
    log.clear();
    vexThreshold(src.get(), dst.get(), 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "The fields of ROI has error");
    EXPECT_EQ(dst.bytes(), before);
    // Tiled: found on the first piece, with the tile-walk's texts otherwise.
    vt::TiledImage tiled(VEX_DEPTH_16S, 3, 8, 8, 8, 8);
    log.clear();
    vexThreshold(tiled.get(), dst.get(), 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "The mismath of number channels");
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
