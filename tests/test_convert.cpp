// vexConvert and vexBitonalToGray against a plain reference formula: every
// depth pair over all 8- and 16-bit values and sampled 32-bit ones, then one
// layout driver (orders, origins, channels, tiles, ROIs, long rows) compared
// byte for byte, each mapped tile against the reference, the tile order,
// refused tiles and every check text.
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

// The conversion rule of one depth pair, written from its definition.
int64_t refConvert(int64_t v, unsigned from, unsigned to, int mode) {
    const int sb = vt::depthBits(from), db = vt::depthBits(to);
    const bool ss = vt::depthSigned(from), ds = vt::depthSigned(to);
    if (db >= sb) return v + (ss == ds ? 0 : ss ? (int64_t(1) << (sb - 1)) : -(int64_t(1) << (sb - 1)));
    if (!ss) return (mode ? v / 256 : v % 256) - (ds ? 128 : 0);
    const int64_t half = int64_t(1) << (db - 1);
    const int64_t r = mode ? v / (int64_t(1) << (sb - db)) : v >= 0 ? v % half : -half + (v % half + half) % half;
    return ds ? r : r + half;
}

TEST(Convert, ReferenceMatchesWorkedValues) {
    struct W { unsigned from, to; int64_t v, scaled, truncated; };
    for (const W& w : {W{VEX_DEPTH_8U, VEX_DEPTH_32S, 0, -128, -128}, W{VEX_DEPTH_8S, VEX_DEPTH_16U, -128, 0, 0},
                       W{VEX_DEPTH_16S, VEX_DEPTH_8S, -300, -1, -44}, W{VEX_DEPTH_32S, VEX_DEPTH_16S, 70000, 1, 4464},
                       W{VEX_DEPTH_32S, VEX_DEPTH_16U, -1, 32768, 32767}, W{VEX_DEPTH_16U, VEX_DEPTH_8U, 0x1234, 0x12, 0x34}})
        for (int mode = 0; mode < 2; ++mode) EXPECT_EQ(mode ? w.scaled : w.truncated, refConvert(w.v, w.from, w.to, mode));
}

// Every value up to 16 bits and a 32-bit sample through every pair and mode;
// images of 16 MiB and more of destination take the one-run streaming path.
TEST(Convert, EveryDepthPairAndModeFollowsTheRule) {
    std::mt19937 rng(5);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int mode = 0; mode < 2; ++mode) {
                std::vector<int64_t> v;
                if (vt::depthBits(kInt[i]) <= 16)
                    for (int64_t x = vt::depthMin(kInt[i]); x <= vt::depthMax(kInt[i]); ++x) v.push_back(x);
                else
                    for (int k = 0; k < 20000; ++k)
                        v.push_back(k < 4 ? int64_t(k < 2 ? INT32_MIN + k : INT32_MAX - k + 2) : vt::uniform(rng, INT_MIN, INT_MAX) >> vt::uniform(rng, 0, 31));
                const bool big = (i == 2 && j == 0 && mode) || (i == 3 && j == 1 && !mode);
                const int w = big ? 4100 : 509, h = big ? 4097 : int((v.size() + 508) / 509);
                vt::Image s(kInt[i], 1, h, w), d(kInt[j], 1, h, w);
                for (int k = 0; k < h * w; ++k) s.setSample(k % w, k / w, 1, v[size_t(k) % v.size()]);
                vexSetErrStatus(VEX_StsOk);
                vexConvert(s.get(), d.get(), mode, nullptr);
                ASSERT_EQ(VEX_StsOk, vexGetErrStatus());
                for (int k = 0; k < h * w; ++k)
                    ASSERT_EQ(refConvert(v[size_t(k) % v.size()], kInt[i], kInt[j], mode), d.sample(k % w, k / w, 1))
                        << vt::depthName(kInt[i]) << "->" << vt::depthName(kInt[j]) << " mode " << mode << " at " << k;
            }
}

// ---------------------------------------------------------------------------
// Layouts. The expected destination is the destination before the call with
// the reference written into the work area (rows reversed when the origins
// differ); a 1-bit copy moves whole bytes, so the padding bits of each row's
// last byte come along.

struct Case {
    vt::Layout sl, dl;
    bool bitonal;
    int mode, coi, zero, one;
};

void reference(const Case& p, const VexImage* s, VexImage* d, int x0, int y0, int x1, int y1) {
    const bool flip = s->origin != d->origin;
    for (int y = y0; y < y1; ++y) {
        const int sy = flip ? s->height - 1 - y : y;
        for (int x = x0; x < x1; ++x)
            for (int c = 1; c <= d->nChannels; ++c)
                vt::setSample(d, x, y, c,
                              p.bitonal ? (vt::sample(s, x, sy, 1) ? p.one : p.zero)
                              : s->depth == VEX_DEPTH_1U ? vt::sample(s, x, sy, 1)
                              : d->depth == VEX_DEPTH_1U ? vt::sample(s, x, sy, s->nChannels > 1 ? p.coi : 1) > 0
                                                         : refConvert(vt::sample(s, x, sy, c), s->depth, d->depth, p.mode));
        // Padding bits: read the source's last byte bit by bit past the width.
        if (s->depth == VEX_DEPTH_1U && d->depth == VEX_DEPTH_1U && x1 == d->width && d->width % 8) {
            VexImage sw = *s, dw = *d;
            sw.width = dw.width = (d->width + 7) / 8 * 8;
            for (int x = d->width; x < sw.width; ++x) vt::setSample(&dw, x, y, 1, vt::sample(&sw, x, sy, 1));
        }
    }
}


void call(const Case& p, VexImage* s, VexImage* d, const VexMapping* m) {
    if (p.bitonal) vexBitonalToGray(s, d, p.zero, p.one, m);
    else vexConvert(s, d, p.mode, m);
}

// Source and destination layouts of equal size that the checks accept; ROIs
// attached (they must not matter, but the COI picks the channel made 1-bit).
Case randomCase(std::mt19937& rng, bool bitonal, int maxSize) {
    vt::LayoutLimits lim;
    lim.maxSize = maxSize;
    Case c{vt::randomLayout(rng, lim), vt::randomLayout(rng, lim), bitonal, vt::uniform(rng, 0, 1), 0, 0, 0};
    c.dl.height = c.sl.height, c.dl.width = c.sl.width;
    if (bitonal) {
        c.sl.depth = VEX_DEPTH_1U, c.sl.nChannels = 1;
        if (c.dl.depth == VEX_DEPTH_1U) c.dl.depth = kInt[vt::uniform(rng, 0, 4)];
        c.zero = vt::uniform(rng, int(vt::depthMin(c.dl.depth) / 2), int(vt::depthMax(c.dl.depth) / 2));
        c.one = int(vt::depthMax(c.dl.depth) - vt::uniform(rng, 0, 3));
    } else if (c.dl.depth == VEX_DEPTH_1U && c.sl.depth != VEX_DEPTH_1U) {
        c.dl.nChannels = 1, c.mode = vt::uniform(rng, -5, 9);  // the mode plays no part
        if (c.sl.nChannels > 1) c.sl.hasRoi = true, c.sl.roi = VexROI{vt::uniform(rng, 1, c.sl.nChannels), 0, 0, 1, 1};
        c.coi = c.sl.hasRoi ? c.sl.roi.coi : 0;
    } else {
        if (c.sl.depth == VEX_DEPTH_1U || c.dl.depth == VEX_DEPTH_1U) c.sl.depth = c.dl.depth = VEX_DEPTH_1U, c.mode = 7;
        c.dl.nChannels = c.sl.nChannels = c.sl.depth == VEX_DEPTH_1U ? 1 : c.sl.nChannels;
    }
    for (vt::Layout* l : {&c.sl, &c.dl})
        if (l->hasRoi && l->roi.coi > l->nChannels) l->roi.coi = l->nChannels;
    return c;
}

// The whole image, then (tiled destinations) each tile through a mapping
// point, which must end equal to the whole-image result; every tile handed
// back once.
void runCase(const Case& c, uint32_t key, std::mt19937& rng, bool mapped) {
    const std::string what = vt::describe(c.sl) + " -> " + vt::describe(c.dl) + " mode " + std::to_string(c.mode);
    ImagePtr s = vt::makeImage(c.sl, key), d = vt::makeImage(c.dl, key + 7);
    d->fillSentinel(0x3C);  // padding that differs from the source's
    d->fillPattern(key + 7);
    ImagePtr whole = vt::cloneOf(*d);
    reference(c, s->get(), whole->get(), 0, 0, c.dl.width, c.dl.height);
    ImagePtr got = vt::cloneOf(*d);
    vexSetErrStatus(VEX_StsOk);
    call(c, s->get(), got->get(), nullptr);
    ASSERT_EQ(VEX_StsOk, vexGetErrStatus()) << what;
    ASSERT_EQ(whole->bytes(), got->bytes()) << what << ": " << vt::diffSamples(whole->get(), got->get());
    for (vt::ImageBase* im : {s.get(), got.get()}) ASSERT_EQ(vt::tileFaults(im), "") << what;
    if (!mapped) return;
    const int tw = c.dl.tileWidth, th = c.dl.tileHeight, W = c.dl.width, H = c.dl.height;
    for (int y = 0; y < H; y += th)
        for (int x = 0; x < W; x += tw) {
            const VexMapping m{x + vt::uniform(rng, 0, std::min(tw, W - x) - 1), y + vt::uniform(rng, 0, std::min(th, H - y) - 1)};
            ImagePtr expect = vt::cloneOf(*d);
            reference(c, s->get(), expect->get(), x, y, std::min(x + tw, W), std::min(y + th, H));
            call(c, s->get(), d->get(), &m);
            ASSERT_EQ(expect->bytes(), d->bytes()) << what << " tile at " << x << "," << y;
        }
    const VexMapping outside{-1, H + 100};  // selects nothing
    call(c, s->get(), d->get(), &outside);
    ASSERT_EQ(whole->bytes(), d->bytes()) << what;
}

TEST(Convert, LayoutsMatchTheReferenceWholeAndTileByTile) {
    std::mt19937 rng(17);
    for (int iter = 0; iter < 3000; ++iter) {
        Case c = randomCase(rng, iter % 4 == 3, iter % 6 == 5 ? 70 : 40);
        c.dl.tiled |= iter % 6 == 5;
        runCase(c, uint32_t(iter), rng, iter % 6 == 5);
    }
    // Rows long enough for the pixel-by-pixel loops between the two orders.
    for (int order = 0; order < 4; ++order) {
        vt::Layout sl, dl;
        sl.depth = VEX_DEPTH_16S, dl.depth = VEX_DEPTH_8U, sl.nChannels = dl.nChannels = 3;
        sl.height = dl.height = 5, sl.width = dl.width = 2731;
        sl.order = order & 1, dl.order = 1 - sl.order, dl.origin = VEX_ORIGIN_BL;
        runCase(Case{sl, dl, false, order >> 1, 0, 0, 0}, 3, rng, false);
    }
}

TEST(Convert, TilesAreHeldOneOfEachAndChangedAsTheWalkCrossesThem) {
    // Opposite origins: source rows are read upwards, its tile rows bottom first.
    vt::TiledImage s(VEX_DEPTH_8U, 1, 16, 16, 8, 8), d(VEX_DEPTH_16U, 1, 16, 16, 16, 16, 0, 4, VEX_ORIGIN_BL);
    vexConvert(s.get(), d.get(), 0, nullptr);
    EXPECT_EQ((std::vector<vt::TileCall>{{0, 0, 2}, {0, 0, 4}}), d.calls());
    EXPECT_EQ((std::vector<vt::TileCall>{{0, 1, 1}, {0, 1, 4}, {1, 1, 1}, {1, 1, 4}, {0, 0, 1}, {0, 0, 4}, {1, 0, 1}, {1, 0, 4}}),
              s.calls());
}

TEST(Convert, RefusedTileStopsAtOnceWithItsText) {
    for (int side = 0; side < 2; ++side) {
        vt::TiledImage s(VEX_DEPTH_8U, 2, 20, 20, 8, 8), d(VEX_DEPTH_8S, 2, 20, 20, 8, 8);
        s.fillPattern(4);
        (side ? s : d).refuse(1, 1, side ? 1 : 2);
        vt::ReportLog log;
        vexConvert(s.get(), d.get(), 1, nullptr);
        vt::expectOneReport(log, VEX_StsBadArg, "vexConvert", "..\\_SRC\\vexcvrt",
                            side ? "(srcImage->tileInfo->tileData == NULL)" : "(dstImage->tileInfo->tileData == NULL)");
        EXPECT_EQ((vt::TileCall{1, 1, side ? 1 : 2}), (side ? s : d).calls().back());  // nothing after it
        EXPECT_EQ(-128 + s.sample(0, 0, 1), d.sample(0, 0, 1));                        // earlier tiles written
        vexSetErrStatus(VEX_StsOk);
    }
}

TEST(Convert, OverlappingBuffersWithOppositeOriginsReverseTheRows) {
    vt::Image a(VEX_DEPTH_16U, 2, 9, 5);
    a.fillPattern(8);
    vt::Image original = a.clone();
    VexImage view = *a.get();
    view.origin = VEX_ORIGIN_BL, view.roi = nullptr;
    vexConvert(a.get(), &view, 0, nullptr);
    for (int k = 0; k < 90; ++k) ASSERT_EQ(original.sample(k % 5, 8 - k / 10, k % 2 + 1), a.sample(k % 5, k / 10, k % 2 + 1));
}

// ---------------------------------------------------------------------------
// Checks: one report with its text, status, function and file; the
// destination untouched.

struct Check {
    std::string text;
    unsigned sDepth, dDepth;
    int sCh, dCh;
    std::function<void(VexImage* s, VexImage* d)> call;
};

TEST(Convert, EveryCheckReportsItsTextAndWritesNothing) {
    auto cvt = [](int mode) { return [mode](VexImage* s, VexImage* d) { vexConvert(s, d, mode, nullptr); }; };
    auto bit = [](int zero, int one) { return [=](VexImage* s, VexImage* d) { vexBitonalToGray(s, d, zero, one, nullptr); }; };
    const unsigned U8 = VEX_DEPTH_8U, U1 = VEX_DEPTH_1U;
    std::vector<Check> cases = {
        {"Image header is null", U8, U8, 3, 3, [](VexImage*, VexImage* d) { vexConvert(nullptr, d, 0, nullptr); }},
        {"Image origin is invalid", U8, U8, 3, 3, [](VexImage* s, VexImage* d) { d->origin = 5, vexConvert(s, d, 0, nullptr); }},
        {"(srcImage->height != dstImage->height)", U8, U8, 3, 3, [](VexImage* s, VexImage* d) { s->height = 3, vexConvert(s, d, 0, nullptr); }},
        {"(srcImage->width != dstImage->width)", U8, U8, 3, 3, [](VexImage* s, VexImage* d) { s->width = 3, vexConvert(s, d, 0, nullptr); }},
        {"((srcImage->nChannels > 1) && (srcImage->roi == 0))", U8, U1, 3, 1, cvt(0)},
        {"((srcImage->nChannels > 1) && (srcImage->roi->coi <= 0))", VEX_DEPTH_16S, U1, 2, 1, nullptr},
        {"srcImage->nChannels != dstImage->nChannels", U8, U8, 3, 2, cvt(0)},
        {"((srcImage->depth == 1) && (srcImage->depth != dstImage->depth))", U1, U8, 1, 1, cvt(0)},
        {"((ConvertMode != 1) && (ConvertMode != 0))", U8, VEX_DEPTH_16S, 3, 3, cvt(2)},
        {"((ConvertMode != 1) && (ConvertMode != 0))", U8, U8, 3, 3, cvt(-1)},
        {"(dstImage->depth == 1)", U1, U1, 1, 1, bit(0, 1)},
        {"(srcImage->height != dstImage->height)", U1, U8, 1, 3, [](VexImage* s, VexImage* d) { s->height = 4, vexBitonalToGray(s, d, 0, 1, nullptr); }},
        {"(srcImage->width != dstImage->width)", U1, U8, 1, 3, [](VexImage* s, VexImage* d) { s->width = 4, vexBitonalToGray(s, d, 0, 1, nullptr); }},
        {"(srcImage->nChannels != 1)", U8, U8, 3, 3, bit(0, 1)},
        {"(srcImage->depth != 1)", U8, U8, 1, 3, bit(0, 1)},
    };
    // The value ranges, in check order: ZeroScale above, below, OneScale above, below.
    const struct { unsigned depth; const char* name; int lo, hi; } ranges[] = {
        {VEX_DEPTH_8S, "(0x80000000| 8)", -128, 127}, {VEX_DEPTH_8U, "8", 0, 255},
        {VEX_DEPTH_16S, "(0x80000000|16)", -32768, 32767}, {VEX_DEPTH_16U, "16", 0, 65535}};
    for (const auto& r : ranges)
        for (int k = 0; k < 4; ++k) {
            const int bad = k % 2 ? r.lo - 1 : r.hi + 1;
            cases.push_back({"((dstImage->depth == " + std::string(r.name) + ") && (" + (k < 2 ? "Zero" : "One") + "Scale " +
                                 (k % 2 ? "< " + std::to_string(r.lo) : "> " + std::to_string(r.hi)) + "))",
                             U1, r.depth, 1, 3, k < 2 ? bit(bad, r.hi + 1) : bit(r.lo, bad)});
        }
    for (const Check& c : cases) {
        vt::Image s(c.sDepth, c.sCh, 6, 10), d(c.dDepth, c.dCh, 6, 10, VEX_DATA_ORDER_PLANE);
        s.fillPattern(2);
        if (!c.call) s.setRoi(0, 0, 0, 1, 1);
        VexImage sh = *s.get(), dh = *d.get();  // the calls may spoil these copies only
        const bool bitonal = &c - &cases[0] >= 10;
        vt::expectRejected([&] { (c.call ? c.call : cvt(0))(&sh, &dh); }, &d, VEX_StsBadArg,
                           bitonal ? "vexBitonalToGray" : "vexConvert", bitonal ? "..\\_SRC\\vexbitnl" : "..\\_SRC\\vexcvrt", c.text);
    }
}

}  // namespace
