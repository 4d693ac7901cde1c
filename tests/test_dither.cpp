// Bit reduction: plain, jittered, error diffusion and ordered dithering
// against a plain reference written here, over depth pairs x channels x
// orders x channels of interest; tiles; the grid and the mean; the jitter
// tables; every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "color/owncolor.h"
#include "vextest.h"

namespace {

int64_t plainRef(unsigned sd, unsigned dd, int64_t v) {
    if (sd == VEX_DEPTH_32S) return dd == VEX_DEPTH_16U ? uint16_t(v >> 15) : uint8_t(v >> 23);
    if (sd == VEX_DEPTH_16U) return v >> 8;
    return v > 127;
}

int64_t jitterRef(unsigned sd, unsigned dd, int64_t v, int x, int y, int J) {
    const double* F = vex::ownJitterFractions();
    const int* P = vex::ownJitterIndices();
    const int64_t S = sd == VEX_DEPTH_8U ? 16 : sd == VEX_DEPTH_16U ? 256 : dd == VEX_DEPTH_16U ? 65536 : 16777216;
    const int64_t mx = sd == VEX_DEPTH_8U ? 255 : sd == VEX_DEPTH_16U ? 65535 : 2147483647;
    if (v < mx - S) {
        const double r1 = F[(x + 4 * y + P[x % 1024]) % 1024], r2 = F[(y + 4 * x + P[y % 1024]) % 1024];
        const int64_t m = v >= 0 ? v % S : -((-v) % S);
        if (m <= int64_t(9 * r1)) v += S;
        const int64_t w = v + (int64_t(2 * J * r2 + 0.5) - J) * S;
        if (w >= 0 && w <= mx) v = w;
    }
    return plainRef(sd, dd, v);
}

// Dithers one channel (a rows x cols grid of values) in place, visiting the
// samples in order and adding each share to its neighbour at once, limited
// to the maximum.
void ditherRef(std::vector<int64_t>& g, int rows, int cols, int type, int S, int64_t mx,
               const std::function<int(int x)>& elem) {
    const bool wide = mx == 65535;
    struct W { int dx, dy, w; };
    std::vector<W> ws;
    int shift = 4;
    if (type == 2) ws = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
    if (type == 4 || type == 8) {
        const int t4[2][12] = {{37, 26, 15, 26, 37, 26, 15, 5, 15, 26, 15, 5},
                               {9557, 6826, 4095, 6826, 9557, 6826, 4095, 1365, 4095, 6826, 4095, 1365}};
        const int t8[2][12] = {{48, 24, 12, 24, 48, 24, 12, 6, 12, 24, 12, 6},
                               {12482, 6241, 3120, 6241, 12482, 6241, 3120, 1560, 3120, 6241, 3120, 1560}};
        const int* t = type == 4 ? t4[wide] : t8[wide];
        ws = {{1, 0, t[0]}, {2, 0, t[1]}};
        for (int k = 0; k < 5; ++k) ws.push_back({k - 2, 1, t[2 + k]});
        for (int k = 0; k < 5; ++k) ws.push_back({k - 2, 2, t[7 + k]});
        shift = wide ? 16 : 8;
    }
    static const int kMatrix[16] = {0, 120, 30, 150, 180, 60, 210, 90, 45, 165, 15, 135, 225, 105, 195, 75};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int64_t& v = g[size_t(y) * cols + x];
            const int64_t q = v / S * S;
            if (type == 16) {
                const int64_t entry = kMatrix[(elem(x) % 4) * 4 + y % 4] * (wide ? 257 : 1);
                const int64_t scale = wide ? 257 : 1;
                v = (v - q) * 480 * scale > (2 * entry + 15 * scale) * S ? std::min(mx, q + S) : q;
                continue;
            }
            const int64_t e = v - q;
            v = q;
            for (const W& w : ws) {
                const int xx = x + w.dx, yy = y + w.dy;
                if (xx < 0 || xx >= cols || yy >= rows) continue;
                int64_t& n = g[size_t(yy) * cols + xx];
                n = std::min(mx, n + ((e * w.w) >> shift));
            }
        }
}

struct Pair {
    unsigned sd, dd;
};
const Pair kPairs[] = {{VEX_DEPTH_32S, VEX_DEPTH_16U}, {VEX_DEPTH_32S, VEX_DEPTH_8U},
                       {VEX_DEPTH_16U, VEX_DEPTH_8U}, {VEX_DEPTH_8U, VEX_DEPTH_1U}};

struct Case {
    Pair p;
    int nChannels, order, coi, jitter, dither, quantShift, height, width;
};

std::string describe(const Case& c) {
    return std::string(vt::depthName(c.p.sd)) + "->" + vt::depthName(c.p.dd) + " ch" + std::to_string(c.nChannels) +
           (c.order ? " plane" : " pixel") + " coi" + std::to_string(c.coi) + " jitter" + std::to_string(c.jitter) +
           " dither" + std::to_string(c.dither) + " q" + std::to_string(c.quantShift) + " " +
           std::to_string(c.height) + "x" + std::to_string(c.width);
}

// The expected destination of a case (whole image, untiled), from the source
// samples and the destination as it was.
void expectCase(const Case& c, const vt::ImageBase& src, const vt::ImageBase& before, const vt::ImageBase& dst) {
    const int rows = dst.height(), cols = dst.width();
    const bool oneLane = c.coi > 0 || c.nChannels == 1;
    std::vector<std::vector<int64_t>> lanes;
    std::vector<int> laneChannel;
    for (int k = 0; k < (oneLane ? 1 : c.nChannels); ++k) {
        const int ch = (c.coi ? c.coi : 1) + k;
        std::vector<int64_t> g(size_t(rows) * cols);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const int64_t v = src.sample(x, y, ch);
                g[size_t(y) * cols + x] = c.jitter ? jitterRef(c.p.sd, c.p.dd, v, x, y, c.jitter)
                                                   : plainRef(c.p.sd, c.p.dd, v);
            }
        const bool gray = dst.get()->channelSeq[0] == 'G';
        const bool dithered = c.dither != 1 && (oneLane || (!gray && k < 3) || (gray && k == 0));
        if (dithered) {
            const int64_t mx = c.p.dd == VEX_DEPTH_16U ? 65535 : 255;
            const int S = vex::ownDitherStep(c.p.dd, c.quantShift);
            const int n = c.nChannels, cc = ch - 1;
            ditherRef(g, rows, cols, c.dither, S, mx,
                      [&](int x) { return c.order == VEX_DATA_ORDER_PLANE ? x : x * n + cc; });
        }
        lanes.push_back(g);
        laneChannel.push_back(ch);
    }
    int bad = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            for (int ch = 1; ch <= dst.channels(); ++ch) {
                int64_t want = before.sample(x, y, ch);
                for (size_t k = 0; k < lanes.size(); ++k)
                    if (laneChannel[k] == ch) want = lanes[k][size_t(y) * cols + x];
                const int64_t got = dst.sample(x, y, ch);
                if (got != want && bad++ < 5)
                    ADD_FAILURE() << "(" << x << "," << y << ") channel " << ch << ": " << got << " != " << want;
            }
}

std::unique_ptr<vt::ImageBase> makeImg(unsigned depth, const Case& c, bool tiled, uint32_t key, int tile = 8) {
    std::unique_ptr<vt::ImageBase> im;
    if (tiled)
        im.reset(new vt::TiledImage(depth, c.nChannels, c.height, c.width, tile, tile, c.order));
    else
        im.reset(new vt::Image(depth, c.nChannels, c.height, c.width, c.order));
    im->fillPattern(key);
    if (c.coi) im->setRoi(c.coi, 0, 0, c.height, c.width);
    return im;
}

TEST(ReduceBits, ReferenceMatrix) {
    std::mt19937 rng(61);
    const int dithers[] = {1, 2, 4, 8, 16};
    static const int kSizes[] = {1, 3, 7, 9, 16, 17, 33};
    for (int round = 0; round < 200; ++round) {
        Case c;
        c.p = kPairs[round % 4];
        c.dither = c.p.dd == VEX_DEPTH_1U ? 1 : dithers[(round / 4) % 5];
        c.jitter = round % 3 == 0 ? int(rng() % 9) : 0;
        c.nChannels = c.p.dd == VEX_DEPTH_1U ? 1 : 1 + int(rng() % 4);
        c.order = c.p.dd == VEX_DEPTH_1U ? 0 : int(rng() % 2);
        c.coi = c.nChannels > 1 && rng() % 4 == 0 ? 1 + int(rng() % c.nChannels) : 0;
        c.quantShift = int(rng() % 20) - 3;
        c.height = kSizes[rng() % 7];
        c.width = kSizes[rng() % 7];
        SCOPED_TRACE(describe(c));
        auto src = makeImg(c.p.sd, c, false, 1000 + round);
        if (c.p.sd == VEX_DEPTH_32S && rng() % 2)  // mostly non-negative too
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    for (int ch = 1; ch <= c.nChannels; ++ch)
                        src->setSample(x, y, ch, std::abs(src->sample(x, y, ch) / 2));
        auto dst = makeImg(c.p.dd, c, false, 77);
        auto before = makeImg(c.p.dd, c, false, 77);
        vexReduceBits(src->get(), dst->get(), c.jitter, c.dither, c.quantShift, nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        expectCase(c, *src, *before, *dst);
        // Plain reduction and ordered dithering do not depend on the tiling
        // (tiles are multiples of 8, the matrix repeats every 4).
        if (c.jitter == 0 && (c.dither == 1 || c.dither == 16)) {
            for (int mode = 1; mode <= 3; ++mode) {
                auto ts = makeImg(c.p.sd, c, mode & 2, 0);
                for (int y = 0; y < c.height; ++y)
                    for (int x = 0; x < c.width; ++x)
                        for (int ch = 1; ch <= c.nChannels; ++ch) ts->setSample(x, y, ch, src->sample(x, y, ch));
                auto td = makeImg(c.p.dd, c, mode & 1, 77);
                vexReduceBits(ts->get(), td->get(), 0, c.dither, c.quantShift, nullptr);
                ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
                EXPECT_EQ(vt::diffSamples(td->get(), dst->get()), "") << "tiling mode " << mode;
            }
        }
    }
}

// Error diffusion and jitter restart in every tile: a tiled destination is
// each tile reduced on its own, from the gathered source rectangle.
TEST(ReduceBits, TilesDitherOnTheirOwn) {
    Case c{kPairs[2], 1, 0, 0, 0, 2, 3, 16, 24};
    auto src = makeImg(VEX_DEPTH_16U, c, false, 5);
    vt::TiledImage td(VEX_DEPTH_8U, 1, 16, 24, 8, 8);
    vexReduceBits(src->get(), td.get(), 0, 2, 3, nullptr);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 3; ++tx) {
            Case t = c;
            t.height = t.width = 8;
            vt::Image s8(VEX_DEPTH_16U, 1, 8, 8), d8(VEX_DEPTH_8U, 1, 8, 8);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) s8.setSample(x, y, 1, src->sample(8 * tx + x, 8 * ty + y, 1));
            vexReduceBits(s8.get(), d8.get(), 0, 2, 3, nullptr);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(td.sample(8 * tx + x, 8 * ty + y, 1), d8.sample(x, y, 1)) << tx << "," << ty;
        }
}

TEST(ReduceBits, WorkedNumbers) {
    auto one = [](unsigned sd, unsigned dd, int64_t v) {
        vt::Image s(sd, 1, 1, 1), d(dd, 1, 1, 1);
        s.setSample(0, 0, 1, v);
        vexReduceBits(s.get(), d.get(), 0, 1, 0, nullptr);
        EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
        return d.sample(0, 0, 1);
    };
    EXPECT_EQ(one(VEX_DEPTH_16U, VEX_DEPTH_8U, 43981), 171);
    EXPECT_EQ(one(VEX_DEPTH_32S, VEX_DEPTH_16U, 2147483647), 65535);
    EXPECT_EQ(one(VEX_DEPTH_8U, VEX_DEPTH_1U, 128), 1);
    EXPECT_EQ(one(VEX_DEPTH_8U, VEX_DEPTH_1U, 127), 0);
    // Plain reduction over the common top-left area of two sizes.
    vt::Image s(VEX_DEPTH_16U, 1, 5, 9), d(VEX_DEPTH_8U, 1, 7, 4);
    s.fillPattern(2);
    d.fillPattern(3);
    vt::Image before = d.clone();
    s.setRoi(0, 2, 2, 1, 1);  // a region does not restrict the work
    vexReduceBits(s.get(), d.get(), 0, 1, 0, nullptr);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(d.sample(x, y, 1), y < 5 ? s.sample(x, y, 1) >> 8 : before.sample(x, y, 1));
}

// The grid: quantShift 6 on 8U is a step of 3, 7 a step of 1 (nothing
// changes); -3 acts as 0 and 20 as 4.
TEST(ReduceBits, GridAndQuantShift) {
    vt::Image s(VEX_DEPTH_16U, 1, 32, 32);
    s.fillPattern(9);
    auto reduce = [&](int dither, int q) {
        vt::Image d(VEX_DEPTH_8U, 1, 32, 32);
        vexReduceBits(s.get(), d.get(), 0, dither, q, nullptr);
        EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
        return d;
    };
    for (int dither : {2, 4, 8, 16}) {
        vt::Image d3 = reduce(dither, 6);
        vt::Image plain = reduce(1, 0);
        bool moved = false;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                EXPECT_EQ(d3.sample(x, y, 1) % 3, 0);
                moved |= d3.sample(x, y, 1) != plain.sample(x, y, 1);
            }
        EXPECT_TRUE(moved);
        EXPECT_EQ(vt::diffSamples(reduce(dither, 7).get(), plain.get()), "");
        EXPECT_EQ(vt::diffSamples(reduce(dither, -3).get(), reduce(dither, 0).get()), "");
        EXPECT_EQ(vt::diffSamples(reduce(dither, 20).get(), reduce(dither, 4).get()), "");
        EXPECT_NE(vt::diffSamples(reduce(dither, 5).get(), reduce(dither, 4).get()), "");
    }
    EXPECT_EQ(vex::ownDitherStep(VEX_DEPTH_8U, 6), 3);
    EXPECT_EQ(vex::ownDitherStep(VEX_DEPTH_8U, 8), 1);
    EXPECT_EQ(vex::ownDitherStep(VEX_DEPTH_16U, 20), 255);
}

// Dithering keeps the mean brightness of a smooth ramp, within what the
// rounding of the error shares loses.
TEST(ReduceBits, DitheringKeepsTheMean) {
    const int H = 64, W = 256;
    vt::Image s(VEX_DEPTH_16U, 1, H, W);
    double want = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int64_t v = (int64_t(x) * 65535 / (W - 1) + y * 37) % 65536;
            s.setSample(x, y, 1, v);
            want += double(v >> 8);
        }
    want /= H * W;
    for (int q = 0; q <= 6; ++q)
    for (int dither : {2, 4, 8, 16}) {
        vt::Image d(VEX_DEPTH_8U, 1, H, W);
        vexReduceBits(s.get(), d.get(), 0, dither, q, nullptr);
        double got = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int64_t v = d.sample(x, y, 1);
                got += double(v);
            }
        got /= H * W;
        // The floor of every share, error weights summing to less than a
        // whole (248/256, 252/256) and the limit at the maximum lose a little
        // brightness, more on the coarsest grids; the ordered matrix keeps it.
        const double bound = dither == 16 ? 1.5 : q >= 2 ? 6.0 : 25.0;
        EXPECT_NEAR(got, want, bound) << "dither " << dither << " quantShift " << q;
    }
}

// Every call with a jitter refills the three tables from rand(), in the
// order first fraction table, second fraction table, index table; a call
// without jitter leaves rand() alone.
TEST(ReduceBits, JitterTablesComeFromRand) {
    vt::Image s(VEX_DEPTH_8U, 1, 4, 8), d(VEX_DEPTH_1U, 1, 4, 8);
    std::srand(1234);
    vexReduceBits(s.get(), d.get(), 3, 1, 0, nullptr);
    std::srand(1234);
    const double* f1 = vex::ownJitterFractions();
    const double* f2 = vex::ownJitterFractions2();
    const int* p = vex::ownJitterIndices();
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(f1[i], double(std::rand() % 1024) / 1024.0);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(f2[i], double(std::rand() % 1024) / 1024.0);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(p[i], std::rand() % 1024);
    std::srand(99);
    const int first = std::rand();
    std::srand(99);
    vexReduceBits(s.get(), d.get(), 0, 1, 0, nullptr);
    EXPECT_EQ(std::rand(), first);
}

// ------------------------------------------------------------ checks

TEST(ReduceBits, ChecksInOrder) {
    vt::Image s(VEX_DEPTH_16U, 3, 4, 8), d(VEX_DEPTH_8U, 3, 4, 8), g(VEX_DEPTH_8U, 1, 4, 8);
    d.fillPattern(5);
    const auto before = d.bytes();
    struct Step {
        std::function<void()> spoil;
        int jitter, dither;
        const char* func;
        const char* context;
        const char* file;
    };
    VexImage* si = s.get();
    VexImage* di = d.get();
    const std::vector<Step> steps = {
        // The jitter is checked before the headers.
        {[&] { si->align = 5; }, 9, 1, "vexReduceBits", "(0>jitterType)||(jitterType>8)", "vexcolor"},
        {[] {}, -1, 1, "vexReduceBits", "(0>jitterType)||(jitterType>8)", "vexcolor"},
        {[] {}, 0, 1, "vexReduceBits", "Image align is invalid", "vexcolor"},
        {[&] { si->align = 4, s.setRoi(1, 0, 0, 4, 8); }, 0, 1, "vexReduceBits", "incomatibleimages", "vexcolor"},
        {[&] { d.setRoi(2, 0, 0, 4, 8), di->origin = 1; }, 0, 1, "vexReduceBits", "incomatibleimages", "vexcolor"},
        {[&] { di->origin = 0, si->depth = VEX_DEPTH_8S; }, 0, 1, "ownReduceBits", "errInOutDepth", "owncolor"},
        {[] {}, 2, 1, "ownjitter_rect", "errOutDepth", "owncolor"},
        {[&] { si->depth = VEX_DEPTH_8U; }, 0, 1, "ownReduceBits", "errOutDepth", "owncolor"},
        {[&] { si->depth = VEX_DEPTH_16U; }, 0, 3, "own_dither_rect", "errDitherOption", "owncolor"},
        {[] {}, 0, 32, "own_dither_rect", "errDitherOption", "owncolor"},
    };
    for (const Step& st : steps) {
        st.spoil();
        SCOPED_TRACE(st.context);
        vt::ReportLog log;
        vexReduceBits(si, di, st.jitter, st.dither, 0, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].status, VEX_StsBadArg);
        EXPECT_EQ(log[0].funcName, st.func);
        std::string expected = st.context;
        if (expected.compare(0, 5, "Image") == 0) expected.resize(70, ' '), expected += "\n";  // a header's message
        EXPECT_EQ(log[0].context, expected);
        EXPECT_EQ(log[0].file, st.file);
        EXPECT_EQ(d.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
    // Dithering a 1-bit destination.
    vt::Image s8(VEX_DEPTH_8U, 1, 4, 8), d1(VEX_DEPTH_1U, 1, 4, 8);
    const auto before1 = d1.bytes();
    vt::ReportLog log;
    vexReduceBits(s8.get(), d1.get(), 0, 2, 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].funcName, "own_dither_rect");
    EXPECT_EQ(log[0].context, "errInDepth");
    EXPECT_EQ(d1.bytes(), before1);
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
