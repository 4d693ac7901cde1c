// vexNorm against a plain double computation over random images of every
// depth, order, channel selection, ROI and tiling; the relative forms and
// their single-precision limits; the checks with their texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using vt::Clip;
using vt::clipOf;
using vt::uniform;

constexpr double kMax = 3.4028234663852886e38;
constexpr double kMin = 1.1754943508222875e-38;
const int kTypes[] = {VEX_NORM_INF, VEX_NORM_L1, VEX_NORM_L2, VEX_NORM_RELATIVE | VEX_NORM_INF,
                      VEX_NORM_RELATIVE | VEX_NORM_L1, VEX_NORM_RELATIVE | VEX_NORM_L2};


// The plain computation: maxima and sums in double over every processed
// sample (differences formed in integers first).
double reference(const VexImage* a, const VexImage* b, int type) {
    const bool relative = type & 8;
    if (relative && !b) return -1.0;
    Clip ca = clipOf(a), cb = b ? clipOf(b) : ca;
    const int w = std::min(ca.w, cb.w), h = std::min(ca.h, cb.h);
    const int coi = a->roi ? a->roi->coi : 0;
    std::vector<std::pair<int, int>> chans;
    if (coi)
        chans.push_back({coi, b && b->roi ? b->roi->coi : coi});
    else
        for (int c = 1; c <= a->nChannels; ++c) chans.push_back({c, c});
    double mx = 0, l1 = 0, l2 = 0, mxB = 0, l1B = 0, l2B = 0;
    for (auto [c, cB] : chans)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int64_t va = vt::sample(a, ca.x + x, ca.y + y, c);
                const int64_t vb = b ? vt::sample(b, cb.x + x, cb.y + y, cB) : 0;
                const double d = std::fabs(double(va - vb));
                mx = std::max(mx, d), l1 += d, l2 += d * d;
                const double e = std::fabs(double(vb));
                mxB = std::max(mxB, e), l1B += e, l2B += e * e;
            }
    auto pick = [&](double m, double s1, double s2) {
        switch (type & 7) {
            case 1: return m;
            case 2: return s1;
            default: return std::sqrt(s2);
        }
    };
    const double num = std::min(pick(mx, l1, l2), kMax);
    if (!relative) return num;
    double den = pick(mxB, l1B, l2B);
    if (den < kMin) den += kMin;
    const double q = num / den;
    return (type & 7) == 4 && q > kMax ? kMax : q;
}

void expectNear(double got, double want) {
    EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, std::fabs(want)));
}

// Random layouts (tiles, ROIs past the edges, COIs) of every depth, one
// image or two, every type; then long rows of extreme values, whose sums stay
// exact only through the chunked integer accumulation.
TEST(Norm, MatchesPlainComputation) {
    std::mt19937 rng(88);
    vt::LayoutLimits lim;
    lim.roiOutside = true;
    int perDepth[6] = {};
    for (int iter = 0; iter < 900; ++iter) {
        vt::Layout la = vt::randomLayout(rng, lim), lb = vt::randomLayout(rng, lim);
        lb.depth = la.depth;
        const int coi = la.hasRoi ? la.roi.coi : 0;
        lb.nChannels = lb.depth == VEX_DEPTH_1U ? 1 : coi ? std::max(lb.nChannels, coi) : la.nChannels;
        if (coi && !lb.hasRoi) lb.hasRoi = true, lb.roi = {0, 0, 0, lb.height, lb.width};
        lb.roi.coi = coi;
        const bool two = uniform(rng, 0, 3) != 0;
        const int type = kTypes[uniform(rng, 0, two ? 5 : 2)];
        SCOPED_TRACE("case " + std::to_string(iter) + " type " + std::to_string(type) + ": " + vt::describe(la) +
                     (two ? " vs " + vt::describe(lb) : ""));
        auto a = vt::makeImage(la, 3u + iter);
        auto b = vt::makeImage(lb, uniform(rng, 0, 3) == 0 ? 3u + iter : 1000u + iter);  // sometimes equal
        vt::ReportLog log;
        const double got = vexNorm(a->get(), two ? b->get() : nullptr, type);
        ASSERT_EQ(log.size(), 0u);
        expectNear(got, reference(a->get(), two ? b->get() : nullptr, type));
        EXPECT_EQ(a->get()->roi == nullptr, !la.hasRoi);  // roi pointers kept
        EXPECT_EQ(vt::tileFaults(a.get()), "");
        ++perDepth[std::find(vt::kDepths, vt::kDepths + 6, la.depth) - vt::kDepths];
    }
    for (int n : perDepth) EXPECT_GT(n, 60);
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S}) {
        vt::Image a(depth, 1, 3, 70000), b(depth, 1, 3, 70000);
        for (int k = 0; k < 3 * 70000; ++k) {
            const bool hi = (k % 70000 + k / 70000) % 3;
            a.setSample(k % 70000, k / 70000, 1, hi ? vt::depthMax(depth) : vt::depthMin(depth));
            b.setSample(k % 70000, k / 70000, 1, hi ? vt::depthMin(depth) : vt::depthMax(depth));
        }
        for (int type : kTypes) {
            SCOPED_TRACE(std::string(vt::depthName(depth)) + " type " + std::to_string(type));
            expectNear(vexNorm(a.get(), b.get(), type), reference(a.get(), b.get(), type));
            if (type < 8) expectNear(vexNorm(a.get(), nullptr, type), reference(a.get(), nullptr, type));
        }
    }
}

// The limits of the relative forms: a zero denominator, the single-precision
// maximum, one image only.
TEST(Norm, RelativeLimits) {
    vt::Image a(VEX_DEPTH_16U, 2, 3, 4), zero(VEX_DEPTH_16U, 2, 3, 4);
    a.fillPattern(5);
    double maxA = 0;
    for (int k = 0; k < 24; ++k) zero.setSample(k % 4, k / 4 % 3, k / 12 + 1, 0), maxA = std::max(maxA, double(a.sample(k % 4, k / 4 % 3, k / 12 + 1)));
    vt::ReportLog log;
    // Equal images: every norm 0, the zero denominator raised to the smallest normal value.
    for (int type : kTypes) EXPECT_EQ(vexNorm(zero.get(), zero.get(), type), 0.0) << type;
    EXPECT_EQ(vexNorm(a.get(), zero.get(), VEX_NORM_RELATIVE | VEX_NORM_INF), maxA / kMin);
    // Relative L2 is limited to the largest single-precision value.
    EXPECT_EQ(vexNorm(a.get(), zero.get(), VEX_NORM_RELATIVE | VEX_NORM_L2), kMax);
    // Relative form with one image: -1, nothing reported.
    for (int type : {9, 10, 12}) EXPECT_EQ(vexNorm(a.get(), nullptr, type), -1.0);
    EXPECT_EQ(log.size(), 0u);
}

TEST(Norm, ChecksAndTheirTexts) {
    vt::Image a(VEX_DEPTH_8U, 3, 4, 4), b(VEX_DEPTH_8U, 3, 4, 4), b16(VEX_DEPTH_16U, 3, 4, 4), one(VEX_DEPTH_8U, 1, 4, 4),
        bad(VEX_DEPTH_8U, 1, 4, 4), coi2(VEX_DEPTH_8U, 3, 4, 4);
    bad.get()->align = 6;
    coi2.setRoi(2, 0, 0, 4, 4);
    vt::TiledImage t(VEX_DEPTH_8U, 1, 16, 16, 8, 8);
    t.refuse(1, 1, VEX_TILE_GET_READ);
    struct Case { VexImage *a, *b; int type; const char* text; int status; double result; };
    const Case cases[] = {
        {a.get(), b.get(), 3, "normType unknown", VEX_StsBadArg, 0},
        {nullptr, b.get(), 3, "normType unknown", VEX_StsBadArg, 0},
        {nullptr, nullptr, 1, "Image header is null", VEX_StsBadArg, 0},
        {bad.get(), b.get(), 1, "Image align is invalid", VEX_StsBadArg, 0},
        {a.get(), bad.get(), 2, "Image align is invalid", VEX_StsBadArg, 0},
        {a.get(), b16.get(), 4, "(srcImageA->depth!=srcImageB->depth)", VEX_StsBadArg, 0},
        {coi2.get(), b.get(), 1, "(coiA!=coiB)", VEX_StsBadArg, 0},
        {a.get(), one.get(), 1, "(srcImageA->nChannels!=srcImageB->nChannels)", VEX_StsBadArg, 0},
        {t.get(), nullptr, VEX_NORM_L1, "Error get tile to read", VEX_StsError, -1},  // -1 after the report
    };
    for (const Case& c : cases)
        vt::expectRejected([&] { EXPECT_EQ(vexNorm(c.a, c.b, c.type), c.result); }, nullptr, c.status, "vexNorm", "vexnorm", c.text);
}

}  // namespace

namespace vex {
uint64_t ownSad8Path(const uint8_t* a, const uint8_t* b, int64_t n, int path);
void ownMap8Path(const uint8_t* s, uint8_t* d, int n, const uint8_t* tab, int path);
}  // namespace vex

namespace {

// The vector paths (8-bit L1 sums here, 8-bit table look-up of the
// histogram family) agree with the plain loops, whatever the machine picks.
TEST(Norm, VectorPathsAgree) {
    std::mt19937 rng(6);
    std::vector<uint8_t> a(5000), b(5000), tab(256), out0(5000), out1(5000);
    for (auto& v : a) v = uint8_t(rng());
    for (auto& v : b) v = uint8_t(rng());
    for (auto& v : tab) v = uint8_t(rng());
    for (int n : {0, 1, 15, 16, 31, 32, 33, 63, 64, 65, 127, 1000, 4990}) {
        for (int off : {0, 1, 7}) {
            for (const uint8_t* bp : {static_cast<const uint8_t*>(b.data()), static_cast<const uint8_t*>(nullptr)}) {
                const uint64_t plain = vex::ownSad8Path(a.data() + off, bp, n, 0);
                for (int path : {1, 2}) EXPECT_EQ(vex::ownSad8Path(a.data() + off, bp, n, path), plain) << n;
            }
            vex::ownMap8Path(a.data() + off, out0.data(), n, tab.data(), 0);
            vex::ownMap8Path(a.data() + off, out1.data(), n, tab.data(), 1);
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(out0[size_t(i)], tab[a[size_t(i + off)]]) << n << " " << i;
                ASSERT_EQ(out1[size_t(i)], out0[size_t(i)]) << n << " " << i;
            }
        }
    }
}

}  // namespace
