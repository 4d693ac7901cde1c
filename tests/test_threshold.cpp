// vexThreshold's own checks in their order, the kernel's piece checks
// among them. Its values and layouts are tested with the pixel-wise family
// (test_arith.cpp).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

// Each step spoils or mends one more thing; the destination is never written.
TEST(Threshold, ChecksInOrder) {
    vt::Image one(VEX_DEPTH_16S, 1, 4, 8), three(VEX_DEPTH_16S, 3, 4, 8), dst(VEX_DEPTH_16S, 1, 4, 8);
    vt::TiledImage tiled(VEX_DEPTH_16S, 3, 4, 8, 8, 8);
    dst.fillPattern(23);
    const auto before = dst.bytes();
    VexImage *s = one.get(), *d = dst.get();
    const std::vector<std::pair<std::function<void()>, const char*>> steps = {
        {[&] { s->align = 5, d->origin = 7, s->depth = VEX_DEPTH_1U, s->dataOrder = 1; }, "Image align is invalid"},
        {[&] { s->align = 4; }, "Image origin is invalid"},
        {[&] { d->origin = 0; }, "(srcImage->depth!=dstImage->depth)"},
        {[&] { d->depth = VEX_DEPTH_1U; }, "(srcImage->dataOrder!=dstImage->dataOrder)"},
        {[&] { s->dataOrder = 0; }, "(srcImage->depth==1)"},
        // A region that starts past the image cannot be located.
        {[&] { s->depth = d->depth = VEX_DEPTH_16S, one.setRoi(1, 8, 0, 2, 2); }, "The fields of ROI has error"},
        {[&] { s = three.get(); }, "The mismath of number channels"},
        {[&] { s = tiled.get(); }, "The mismath of number channels"},  // found on the first piece
    };
    for (const auto& [spoil, text] : steps) {
        spoil();
        vt::expectRejected([&] { vexThreshold(s, d, 1, nullptr); }, &dst, VEX_StsBadArg, "vexThreshold", "vexthres", text);
    }
    EXPECT_EQ(dst.bytes(), before);
}

}  // namespace
