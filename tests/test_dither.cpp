// Bit reduction: plain, jittered, error diffusion and ordered dithering
// against plain references written here, over depth pairs x channels x
// orders x channels of interest x grids x tiles; images of two sizes; the
// jitter tables; every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
    return sd == VEX_DEPTH_16U ? v >> 8 : v > 127;
}

// The jitter tables as a call fills them from rand(): the first fraction
// table, the second (filled, never read), then the index table.
struct Tables {
    double f[2][1024];
    int p[1024];
    Tables() {
        for (auto& t : f)
            for (double& v : t) v = double(std::rand() % 1024) / 1024.0;
        for (int& v : p) v = std::rand() % 1024;
    }
};

int64_t jitterRef(const Tables& T, unsigned sd, unsigned dd, int64_t v, int x, int y, int J) {
    const int64_t S = sd == VEX_DEPTH_8U ? 16 : sd == VEX_DEPTH_16U ? 256 : dd == VEX_DEPTH_16U ? 65536 : 16777216;
    const int64_t mx = sd == VEX_DEPTH_8U ? 255 : sd == VEX_DEPTH_16U ? 65535 : 2147483647;
    if (v < mx - S) {
        const double r1 = T.f[0][(x + 4 * y + T.p[x % 1024]) % 1024], r2 = T.f[0][(y + 4 * x + T.p[y % 1024]) % 1024];
        if ((v >= 0 ? v % S : -((-v) % S)) <= int64_t(9 * r1)) v += S;
        const int64_t w = v + (int64_t(2 * J * r2 + 0.5) - J) * S;
        if (w >= 0 && w <= mx) v = w;
    }
    return plainRef(sd, dd, v);
}

// The grid step: the maximum >> quantShift, quantShift below 0 taken as 0
// and above the bit count as half the bit count.
int stepRef(unsigned dd, int q) {
    const int bits = dd == VEX_DEPTH_16U ? 16 : 8;
    q = q < 0 ? 0 : q > bits ? bits / 2 : q;
    return std::max(1, ((1 << bits) - 1) >> q);
}

// Dithers one channel (a rows x cols grid) in place, visiting the samples in
// order and adding each share to its neighbour at once, limited to the maximum.
void ditherRef(std::vector<int64_t>& g, int rows, int cols, int type, int S, int64_t mx,
               const std::function<int(int x)>& elem) {
    const bool wide = mx == 65535;
    std::vector<std::array<int, 3>> ws;  // dx, dy, weight
    int shift = 4;
    if (type == 2) ws = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
    if (type == 4 || type == 8) {
        const int t[2][2][12] = {{{37, 26, 15, 26, 37, 26, 15, 5, 15, 26, 15, 5},
                                  {9557, 6826, 4095, 6826, 9557, 6826, 4095, 1365, 4095, 6826, 4095, 1365}},
                                 {{48, 24, 12, 24, 48, 24, 12, 6, 12, 24, 12, 6},
                                  {12482, 6241, 3120, 6241, 12482, 6241, 3120, 1560, 3120, 6241, 3120, 1560}}};
        const int* w = t[type == 8][wide];
        ws = {{1, 0, w[0]}, {2, 0, w[1]}};
        for (int k = 0; k < 10; ++k) ws.push_back({k % 5 - 2, 1 + k / 5, w[2 + k]});
        shift = wide ? 16 : 8;
    }
    static const int kMatrix[16] = {0, 120, 30, 150, 180, 60, 210, 90, 45, 165, 15, 135, 225, 105, 195, 75};
    const int64_t scale = wide ? 257 : 1;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int64_t& v = g[size_t(y) * cols + x];
            const int64_t q = v / S * S, e = v - q;
            if (type == 16) {
                const int64_t entry = kMatrix[(elem(x) % 4) * 4 + y % 4] * scale;
                v = e * 480 * scale > (2 * entry + 15 * scale) * S ? std::min(mx, q + S) : q;
                continue;
            }
            v = q;
            for (const auto& w : ws) {
                const int xx = x + w[0], yy = y + w[1];
                if (xx < 0 || xx >= cols || yy >= rows) continue;
                int64_t& n = g[size_t(yy) * cols + xx];
                n = std::min(mx, n + ((e * w[2]) >> shift));
            }
        }
}

struct Case {
    unsigned sd, dd;
    int nChannels, order, coi, jitter, dither, quantShift, height, width;
};

// Pattern-filled, the channel of interest attached; tiled with tiles t when given.
std::unique_ptr<vt::ImageBase> makeImg(unsigned depth, const Case& c, uint32_t key, const int* t = nullptr) {
    vt::Layout l;
    l.depth = depth, l.nChannels = c.nChannels, l.order = c.order, l.height = c.height, l.width = c.width;
    if (t) l.tiled = true, l.tileWidth = t[0], l.tileHeight = t[1];
    l.hasRoi = c.coi > 0, l.roi = {c.coi, 0, 0, c.height, c.width};
    return vt::makeImage(l, key);
}

// The destination of a case: every destination tile (tw x th; the whole
// image when tw is 0) reduced and dithered on its own, in its full size
// (samples past the source read the border constant 0 and pass errors on to
// the samples below-left of them), the jitter's coordinates counted from the
// tile's corner; the channel of interest, or the colour channels, or all, as
// the channel count and sequence say.
void expectCase(const Case& c, const Tables& T, const vt::ImageBase& src, const vt::ImageBase& dst, int tw, int th) {
    const bool oneLane = c.coi > 0 || c.nChannels == 1, gray = dst.get()->channelSeq[0] == 'G';
    auto want = makeImg(c.dd, c, 77);
    const int TW = tw ? tw : c.width, TH = th ? th : c.height;
    for (int Y = 0; Y < c.height; Y += TH)
        for (int X = 0; X < c.width; X += TW)
            for (int k = 0; k < (oneLane ? 1 : c.nChannels); ++k) {
                const int ch = (c.coi ? c.coi : 1) + k;
                std::vector<int64_t> g(size_t(TH) * TW);
                for (int y = 0; y < TH; ++y)
                    for (int x = 0; x < TW; ++x) {
                        const int64_t v = X + x < c.width && Y + y < c.height ? src.sample(X + x, Y + y, ch) : 0;
                        g[size_t(y) * TW + x] = c.jitter ? jitterRef(T, c.sd, c.dd, v, x, y, c.jitter) : plainRef(c.sd, c.dd, v);
                    }
                if (c.dither != 1 && (oneLane || (!gray && k < 3) || (gray && k == 0)))
                    ditherRef(g, TH, TW, c.dither, stepRef(c.dd, c.quantShift), c.dd == VEX_DEPTH_16U ? 65535 : 255,
                              [&](int x) { return c.order == VEX_DATA_ORDER_PLANE ? x : x * c.nChannels + ch - 1; });
                for (int y = 0; y < std::min(TH, c.height - Y); ++y)
                    for (int x = 0; x < std::min(TW, c.width - X); ++x) want->setSample(X + x, Y + y, ch, g[size_t(y) * TW + x]);
            }
    EXPECT_EQ(vt::diffSamples(dst.get(), want->get()), "");
}

TEST(ReduceBits, ReferenceMatrixAndTiles) {
    std::mt19937 rng(61);
    const unsigned pairs[][2] = {{VEX_DEPTH_32S, VEX_DEPTH_16U}, {VEX_DEPTH_32S, VEX_DEPTH_8U},
                                 {VEX_DEPTH_16U, VEX_DEPTH_8U}, {VEX_DEPTH_8U, VEX_DEPTH_1U}};
    const int dithers[] = {1, 2, 4, 8, 16}, sizes[] = {1, 3, 7, 9, 16, 17, 33};
    const int tiles[][2] = {{8, 8}, {16, 8}, {8, 24}};
    for (int round = 0; round < 240; ++round) {
        Case c;
        c.sd = pairs[round % 4][0], c.dd = pairs[round % 4][1];
        const bool bits = c.dd == VEX_DEPTH_1U;
        c.dither = bits ? 1 : dithers[(round / 4) % 5];
        c.jitter = round % 3 == 0 ? int(rng() % 9) : 0;
        c.nChannels = bits ? 1 : 1 + int(rng() % 4);
        c.order = bits ? 0 : int(rng() % 2);
        c.coi = c.nChannels > 1 && rng() % 4 == 0 ? 1 + int(rng() % c.nChannels) : 0;
        c.quantShift = int(rng() % 24) - 3;
        c.height = sizes[rng() % 7];
        c.width = sizes[rng() % 7];
        const bool halve = c.sd == VEX_DEPTH_32S && rng() % 2;  // mostly non-negative too
        SCOPED_TRACE(vt::depthName(c.sd) + std::string("->") + vt::depthName(c.dd) + " ch" + std::to_string(c.nChannels) +
                     " order " + std::to_string(c.order) + " coi " + std::to_string(c.coi) + " jitter " + std::to_string(c.jitter) +
                     " dither " + std::to_string(c.dither) + " q " + std::to_string(c.quantShift) + " " +
                     std::to_string(c.height) + "x" + std::to_string(c.width));
        // Untiled, then the destination, the source or both tiled.
        for (int mode = 0; mode <= 3; ++mode) {
            const int* t = tiles[rng() % 3];
            auto src = makeImg(c.sd, c, 1000 + round, mode & 2 ? t : nullptr), dst = makeImg(c.dd, c, 77, mode & 1 ? t : nullptr);
            for (int k = 0; halve && k < c.height * c.width * c.nChannels; ++k) {
                const int x = k % c.width, y = k / c.width % c.height, ch = k / (c.width * c.height) + 1;
                src->setSample(x, y, ch, std::abs(src->sample(x, y, ch) / 2));
            }
            std::srand(unsigned(round));
            vexReduceBits(src->get(), dst->get(), c.jitter, c.dither, c.quantShift, nullptr);
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            SCOPED_TRACE("tiling mode " + std::to_string(mode));
            std::srand(unsigned(round));
            const Tables T;
            expectCase(c, T, *src, *dst, mode & 1 ? t[0] : 0, mode & 1 ? t[1] : 0);
        }
    }
}

// Every reduced value of one grid cell at every position of the ordered
// matrix, into 8U and into 16U (entries times 257): each of the sixteen
// thresholds shows in the output.
TEST(ReduceBits, OrderedDitherAtEveryValueAndPosition) {
    for (unsigned dd : {VEX_DEPTH_8U, VEX_DEPTH_16U}) {
        const Case c{dd == VEX_DEPTH_8U ? VEX_DEPTH_16U : VEX_DEPTH_32S, dd, 1, 0, 0, 0, 16, dd == VEX_DEPTH_8U ? 0 : 8, 4, 1024};
        auto src = makeImg(c.sd, c, 1), dst = makeImg(c.dd, c, 2);
        for (int k = 0; k < 4 * 1024; ++k) src->setSample(k % 1024, k / 1024, 1, int64_t(k % 1024 / 4) << (dd == VEX_DEPTH_8U ? 8 : 15));
        vexReduceBits(src->get(), dst->get(), 0, 16, c.quantShift, nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        expectCase(c, Tables(), *src, *dst, 0, 0);
    }
}

// A plain reduction over the common top-left area of two sizes; a region
// does not restrict the work.
TEST(ReduceBits, SizesPairAtTheCorner) {
    vt::Image s(VEX_DEPTH_16U, 1, 5, 9), d(VEX_DEPTH_8U, 1, 7, 4);
    s.fillPattern(2);
    d.fillPattern(3);
    vt::Image before = d.clone();
    s.setRoi(0, 2, 2, 1, 1);
    vexReduceBits(s.get(), d.get(), 0, 1, 0, nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(d.sample(x, y, 1), y < 5 ? s.sample(x, y, 1) >> 8 : before.sample(x, y, 1));
}

// The library's tables are those filled by the last call with a jitter; a
// call without jitter leaves rand() alone.
TEST(ReduceBits, JitterTablesComeFromRand) {
    vt::Image s(VEX_DEPTH_8U, 1, 4, 8), d(VEX_DEPTH_1U, 1, 4, 8);
    std::srand(1234);
    vexReduceBits(s.get(), d.get(), 3, 1, 0, nullptr);
    std::srand(1234);
    const Tables T;
    EXPECT_EQ(std::memcmp(T.f[0], vex::ownJitterFractions(), sizeof T.f[0]), 0);
    EXPECT_EQ(std::memcmp(T.f[1], vex::ownJitterFractions2(), sizeof T.f[1]), 0);
    EXPECT_EQ(std::memcmp(T.p, vex::ownJitterIndices(), sizeof T.p), 0);
    const int next = std::rand();
    std::srand(1234);
    for (int i = 0; i < 3072; ++i) std::rand();
    vexReduceBits(s.get(), d.get(), 0, 1, 0, nullptr);
    EXPECT_EQ(std::rand(), next);
}

// Each step spoils one more thing and expects one report, VEX_StsBadArg,
// and an untouched destination.
TEST(ReduceBits, ChecksInOrder) {
    vt::Image s(VEX_DEPTH_16U, 3, 4, 8), d(VEX_DEPTH_8U, 3, 4, 8), s8(VEX_DEPTH_8U, 1, 4, 8), d1(VEX_DEPTH_1U, 1, 4, 8);
    d.fillPattern(5);
    VexImage *si = s.get(), *di = d.get();
    const char* inc = "incomatibleimages";
    const struct { std::function<void()> spoil; int jitter, dither; const char *func, *context, *file; } steps[] = {
        // The jitter is checked before the headers.
        {[&] { si->align = 5; }, 9, 1, "vexReduceBits", "(0>jitterType)||(jitterType>8)", "vexcolor"},
        {[] {}, -1, 1, "vexReduceBits", "(0>jitterType)||(jitterType>8)", "vexcolor"},
        {[] {}, 0, 1, "vexReduceBits", "Image align is invalid", "vexcolor"},
        {[&] { si->align = 4, s.setRoi(1, 0, 0, 4, 8); }, 0, 1, "vexReduceBits", inc, "vexcolor"},
        {[&] { d.setRoi(2, 0, 0, 4, 8), di->origin = 1; }, 0, 1, "vexReduceBits", inc, "vexcolor"},
        {[&] { di->origin = 0, si->dataOrder = 1; }, 0, 1, "vexReduceBits", inc, "vexcolor"},
        {[&] { si->dataOrder = 0, si->depth = VEX_DEPTH_8S; }, 0, 1, "ownReduceBits", "errInOutDepth", "owncolor"},
        {[] {}, 2, 1, "ownjitter_rect", "errOutDepth", "owncolor"},
        {[&] { si->depth = VEX_DEPTH_8U; }, 0, 1, "ownReduceBits", "errOutDepth", "owncolor"},
        {[&] { si->depth = VEX_DEPTH_16U; }, 0, 3, "own_dither_rect", "errDitherOption", "owncolor"},
        {[] {}, 0, 32, "own_dither_rect", "errDitherOption", "owncolor"},
        {[&] { si = s8.get(), di = d1.get(); }, 0, 2, "own_dither_rect", "errInDepth", "owncolor"},
    };
    for (const auto& st : steps) {
        st.spoil();
        vt::expectRejected([&] { vexReduceBits(si, di, st.jitter, st.dither, 0, nullptr); }, di == d.get() ? &d : &d1,
                           VEX_StsBadArg, st.func, st.file, st.context);
    }
}

}  // namespace
