// vexDCT2D against the orthonormal DCT-II / DCT-III written here from its
// definition in double precision, over sizes (powers of two, 8x8, others,
// single rows and columns), depths, data orders, regions, channels and
// alpha; with sentinels around what may be written.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "vextest.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// F(v,u) = c(v) c(u) / sqrt(MN) sum f(y,x) cos(pi(2x+1)u/2N) cos(pi(2y+1)v/2M)
// (c(0) = 1, c(k) = sqrt2), or its inverse, on an M x N row-major array;
// computed as the one-dimensional sums along rows, then along columns.
std::vector<double> refDct(std::vector<double> f, int m, int n, bool forward) {
    auto c = [](int k) { return k ? std::sqrt(2.0) : 1.0; };
    auto oneD = [&](std::vector<double>& v, int len) {
        std::vector<double> out(len, 0.0);
        for (int a = 0; a < len; ++a)
            for (int b = 0; b < len; ++b) {
                const int k = forward ? a : b, i = forward ? b : a;  // frequency, sample
                out[a] += v[b] * c(k) / std::sqrt(double(len)) * std::cos(kPi * (2 * i + 1) * k / (2.0 * len));
            }
        v = out;
    };
    for (int y = 0; y < m; ++y) {
        std::vector<double> r(f.begin() + y * n, f.begin() + (y + 1) * n);
        oneD(r, n);
        std::copy(r.begin(), r.end(), f.begin() + y * n);
    }
    for (int x = 0; x < n; ++x) {
        std::vector<double> col(m);
        for (int y = 0; y < m; ++y) col[y] = f[y * n + x];
        oneD(col, m);
        for (int y = 0; y < m; ++y) f[y * n + x] = col[y];
    }
    return f;
}

// Nearest, ties to even, saturated.
int64_t roundSat(double r, unsigned depth) {
    const double lo = double(vt::depthMin(depth)), hi = double(vt::depthMax(depth));
    if (r <= lo) return vt::depthMin(depth);
    if (r >= hi) return vt::depthMax(depth);
    return int64_t(std::nearbyint(r));
}

const unsigned kIntDepths[] = {VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

struct Case {
    int flags;
    unsigned srcDepth, dstDepth;
    int nChannels, alpha, order, height, width;
    bool roi;
    VexROI srcRoi, dstRoi;
    int range;
};

void runCase(const Case& c, uint32_t key) {
    char desc[200];
    std::snprintf(desc, sizeof desc, "flags %d %s->%s ch %d alpha %d order %d %dx%d roi %d src(%d,%d %dx%d coi %d) dst(%d,%d %dx%d)",
                  c.flags, vt::depthName(c.srcDepth), vt::depthName(c.dstDepth), c.nChannels, c.alpha, c.order,
                  c.height, c.width, c.roi, c.srcRoi.xOffset, c.srcRoi.yOffset, c.srcRoi.height,
                  c.srcRoi.width, c.srcRoi.coi, c.dstRoi.xOffset, c.dstRoi.yOffset, c.dstRoi.height,
                  c.dstRoi.width);
    SCOPED_TRACE(desc);
    vt::Image src(c.srcDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * (key & 1));
    vt::Image dst(c.dstDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * ((key >> 1) & 1));
    src.get()->alphaChannel = dst.get()->alphaChannel = c.alpha;
    std::mt19937 rng(key);
    std::uniform_int_distribution<int64_t> dist(std::max<int64_t>(vt::depthMin(c.srcDepth), -c.range),
                                                std::min<int64_t>(vt::depthMax(c.srcDepth), c.range));
    for (int ch = 1; ch <= c.nChannels; ++ch)
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) src.setSample(x, y, ch, dist(rng));
    dst.fillSentinel();
    if (c.roi) {
        src.setRoi(c.srcRoi.coi, c.srcRoi.xOffset, c.srcRoi.yOffset, c.srcRoi.height, c.srcRoi.width);
        dst.setRoi(c.dstRoi.coi, c.dstRoi.xOffset, c.dstRoi.yOffset, c.dstRoi.height, c.dstRoi.width);
    }
    const vt::Image before = dst.clone();
    {
        vt::ReportLog log;
        vexDCT2D(src.get(), dst.get(), c.flags);
        ASSERT_EQ(log.size(), 0u) << log[0].context;
    }
    int sx = 0, sy = 0, m = c.height, n = c.width, dx = 0, dy = 0, om = m, on = n, coi = 0;
    if (c.roi) {
        sx = c.srcRoi.xOffset, sy = c.srcRoi.yOffset, m = c.srcRoi.height, n = c.srcRoi.width;
        dx = c.dstRoi.xOffset, dy = c.dstRoi.yOffset;
        om = std::min(m, c.dstRoi.height), on = std::min(n, c.dstRoi.width);
        coi = c.srcRoi.coi;
    }
    const bool forward = c.flags & 1;
    for (int ch = 1; ch <= c.nChannels; ++ch) {
        const bool done = (coi == 0 || coi == ch) && (ch != c.alpha || (c.flags & 4));
        std::vector<double> f(size_t(m) * n);
        double mass = 0;
        for (int y = 0; y < m; ++y)
            for (int x = 0; x < n; ++x) {
                f[y * n + x] = double(src.sample(sx + x, sy + y, ch));
                mass += std::fabs(f[y * n + x]);
            }
        const auto want = refDct(f, m, n, forward);
        const double tol = 4e-6 * mass / std::sqrt(double(m) * n) * (2 + std::log2(double(std::max(m, n)))) + 1e-9;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = done && x >= dx && x < dx + on && y >= dy && y < dy + om;
                const int64_t got = dst.sample(x, y, ch);
                if (!inside) {
                    ASSERT_EQ(got, before.sample(x, y, ch)) << "written outside at " << x << "," << y << " ch " << ch;
                    continue;
                }
                const double r = want[(y - dy) * n + (x - dx)];
                ASSERT_TRUE(got >= roundSat(r - tol, c.dstDepth) && got <= roundSat(r + tol, c.dstDepth))
                    << "at " << x << "," << y << " ch " << ch << ": got " << got << ", exact " << r << " tol " << tol;
            }
    }
}

// Every size pair (long power-of-two rows and columns among them) on plain
// images, then random depths, orders, regions (often 8x8, which takes the
// dedicated path), channels of interest and alpha.
TEST(Dct, MatchesTheReference) {
    const int sizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 16, 17, 32};
    uint32_t key = 1;
    for (int m : sizes)
        for (int n : sizes)
            for (int flags : {1, 2}) {
                runCase(Case{flags, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, VEX_DATA_ORDER_PIXEL, m, n, false, {}, {}, 3000}, key++);
                if (HasFatalFailure()) return;
            }
    for (auto [m, n] : {std::pair{1, 256}, {128, 2}, {64, 64}, {3, 128}})
        for (int flags : {1, 2}) runCase(Case{flags, flags == 1 ? VEX_DEPTH_8U : VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, 0, m, n, false, {}, {}, 255}, key++);
    std::mt19937 rng(99);
    auto pick = [&](int k) { return int(rng() % unsigned(k)); };
    const int kSizes[] = {1, 2, 5, 8, 8, 8, 11, 16, 24};
    for (int iter = 0; iter < 500; ++iter) {
        Case c{};
        c.flags = (pick(2) ? 1 : 2) | (pick(2) ? 4 : 0);
        c.srcDepth = kIntDepths[pick(5)], c.dstDepth = kIntDepths[pick(5)];
        c.nChannels = 1 + pick(4);
        c.alpha = pick(2) ? pick(c.nChannels + 1) : 0;
        c.order = pick(2);
        c.height = kSizes[pick(9)] + (pick(2) ? 0 : pick(4));
        c.width = kSizes[pick(9)] + (pick(2) ? 0 : pick(4));
        c.range = pick(4) == 0 ? 2000000000 : (pick(2) ? 300 : 40000);
        c.roi = pick(3) != 0;
        if (c.roi) {
            VexROI& r = c.srcRoi;
            auto roi = [&](int h, int w) {
                r.height = 1 + pick(h), r.width = 1 + pick(w);
                r.xOffset = pick(c.width - r.width + 1), r.yOffset = pick(c.height - r.height + 1);
            };
            roi(c.height, c.width);
            // Often an 8x8 region, which takes the dedicated path.
            if (pick(3) == 0 && c.height >= 8 && c.width >= 8)
                roi(1, 1), r.height = r.width = 8, r.xOffset = pick(c.width - 7), r.yOffset = pick(c.height - 7);
            // The destination region: as large, or smaller (clipped), anywhere.
            VexROI& d = c.dstRoi;
            d.height = pick(3) ? r.height : 1 + pick(r.height);
            d.width = pick(3) ? r.width : 1 + pick(r.width);
            d.xOffset = pick(c.width - d.width + 1), d.yOffset = pick(c.height - d.height + 1);
            r.coi = d.coi = pick(2) ? 1 + pick(c.nChannels) : 0;
        }
        runCase(c, 5000 + iter);
        if (HasFatalFailure()) return;
    }
}

// Numbers worked by hand: the rounding (ties to even) and saturation the
// tolerance of the matrix cannot see.
TEST(Dct, WorkedValues) {
    auto dct = [](unsigned sd, unsigned dd, int m, int n, std::function<int64_t(int, int)> f, int flags) {
        vt::Image src(sd, 1, m, n), dst(dd, 1, m, n);
        for (int k = 0; k < m * n; ++k) src.setSample(k % n, k / n, 1, f(k % n, k / n));
        vexDCT2D(src.get(), dst.get(), flags);
        std::vector<int64_t> out;
        for (int k = 0; k < m * n; ++k) out.push_back(dst.sample(k % n, k / n, 1));
        return out;
    };
    const auto c8 = dct(VEX_DEPTH_8U, VEX_DEPTH_16S, 8, 8, [](int, int) { return 100; }, VEX_DCT_FORWARD);
    for (size_t k = 0; k < c8.size(); ++k) EXPECT_EQ(c8[k], k ? 0 : 800);
    EXPECT_EQ(dct(VEX_DEPTH_16S, VEX_DEPTH_8U, 8, 8, [&](int x, int y) { return c8[size_t(y * 8 + x)]; }, VEX_DCT_INVERSE),
              std::vector<int64_t>(64, 100));
    const auto c75 = dct(VEX_DEPTH_8U, VEX_DEPTH_16S, 7, 5, [](int, int) { return 10; }, VEX_DCT_FORWARD);
    for (size_t k = 0; k < c75.size(); ++k) EXPECT_EQ(c75[k], k ? 0 : 59);
    // Into 8U: 800 saturates to 255, the negative third harmonic to 0.
    const auto sat = dct(VEX_DEPTH_8U, VEX_DEPTH_8U, 8, 8, [](int x, int) { return x < 4 ? 200 : 0; }, VEX_DCT_FORWARD);
    EXPECT_TRUE(sat[0] == 255 && sat[1] > 0 && sat[3] == 0);
    // Inverse 1x2 of (3, 0): 2.12 each; forward 1x4 of (1,1,1,2): 2.5 -> 2, of (1,1,1,4): 3.5 -> 4.
    EXPECT_EQ(dct(VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 2, [](int x, int) { return x ? 0 : 3; }, VEX_DCT_INVERSE), (std::vector<int64_t>{2, 2}));
    EXPECT_EQ(dct(VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 4, [](int x, int) { return x == 3 ? 2 : 1; }, VEX_DCT_FORWARD)[0], 2);
    EXPECT_EQ(dct(VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 4, [](int x, int) { return x == 3 ? 4 : 1; }, VEX_DCT_FORWARD)[0], 4);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Dct, ChecksAndSilentCalls) {
    vt::Image src(VEX_DEPTH_8U, 1, 8, 8), dst(VEX_DEPTH_16S, 1, 8, 8), three(VEX_DEPTH_8U, 3, 8, 8),
        wide(VEX_DEPTH_8U, 1, 8, 9), plane(VEX_DEPTH_8U, 1, 8, 8, VEX_DATA_ORDER_PLANE),
        bits(VEX_DEPTH_1U, 1, 8, 8);
    src.fillPattern(1);
    dst.fillPattern(2);
    const auto before = dst.bytes();
    VexImage *s = src.get(), *d = dst.get();
    const std::string bad = "Images are not compatible";
    struct Step { std::function<void()> call; std::vector<std::string> texts; };
    const std::vector<Step> steps = {
        {[&] { vexDCT2D(nullptr, nullptr, 1); }, {"src==0", "dst==0"}},
        {[&] { vexDCT2D(s, nullptr, 1); }, {"dst==0"}},
        {[&] { vexDCT2D(nullptr, d, 1); }, {"src==0"}},
        {[&] { vexDCT2D(nullptr, nullptr, VEX_DCT_FREE); }, {}},
        {[&] { vexDCT2D(d, d, 1); }, {bad}},
        {[&] { vexDCT2D(three.get(), d, 1); }, {bad}},
        {[&] { vexDCT2D(wide.get(), d, 1); }, {bad}},
        {[&] { vexDCT2D(plane.get(), d, 1); }, {bad}},
        {[&] { src.setRoi(0, 0, 0, 8, 8), vexDCT2D(s, d, 1); }, {bad}},
        {[&] { dst.setRoi(0, 4, 4, 8, 8), vexDCT2D(s, d, 1); }, {bad}},  // leaves the image
        {[&] { dst.setRoi(0, 0, 0, 8, 8), vexDCT2D(s, d, 3); }, {}},
        {[&] { vexDCT2D(s, d, 0); }, {}},
        {[&] { bits.setRoi(0, 0, 0, 8, 8), vexDCT2D(bits.get(), d, 1); }, {bad}},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        vt::ReportLog log;
        steps[i].call();
        EXPECT_EQ(log.contexts(), steps[i].texts);
        for (size_t k = 0; k < log.size(); ++k)
            EXPECT_TRUE(log[k].status == VEX_StsBadArg && log[k].funcName == "vexDCT2D" && log[k].file == "vexdct2d");
        EXPECT_EQ(dst.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
    // A negative status left from an earlier call stops the next one.
    vexSetErrStatus(VEX_StsBadArg);
    vexDCT2D(s, d, 1);
    EXPECT_EQ(dst.bytes(), before);
    vexSetErrStatus(VEX_StsOk);
}

TEST(Dct, ConcurrentTransformsOfDifferentLengths) {
    struct Job { int m, n, flags; std::vector<uint8_t> expected; };
    std::vector<Job> jobs = {{64, 64, 1, {}}, {8, 8, 2, {}}, {30, 17, 1, {}}, {16, 128, 2, {}}};
    auto run = [](const Job& j, bool freeAfter) {
        vt::Image src(VEX_DEPTH_16S, 1, j.m, j.n), dst(VEX_DEPTH_16S, 1, j.m, j.n);
        src.fillPattern(uint32_t(j.m * 100 + j.n));
        vexDCT2D(src.get(), dst.get(), j.flags);
        if (freeAfter) vexDCT2D(nullptr, nullptr, VEX_DCT_FREE);
        return dst.bytes();
    };
    for (Job& j : jobs) j.expected = run(j, false);
    std::vector<int> mismatches(jobs.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < jobs.size(); ++t)
        threads.emplace_back([&, t] {
            for (int rep = 0; rep < 30; ++rep)
                if (run(jobs[t], rep % 3 == 0) != jobs[t].expected) ++mismatches[t];
        });
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < jobs.size(); ++t) EXPECT_EQ(mismatches[t], 0) << "job " << t;
    vexDCT2D(nullptr, nullptr, VEX_DCT_FREE);
}

}  // namespace
