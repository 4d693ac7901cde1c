// Colour models: gray, colour from gray, HSV and HLS in both directions.
// Plain references of every rule (held to the worked numbers), compared over
// every 8U triple (the vector kernels) and over depths x orders x channel
// orders x sizes x regions and channels of interest x tiles; the tile walk;
// every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "color/owncolor.h"
#include "vextest.h"

namespace {

using Triple = std::array<int64_t, 3>;

// ------------------------------------------------------------ references

// Channel (0-based) of an image holding component k of the model `letters`.
int channelOf(const VexImage* im, const char* letters, int k) {
    if (im->dataOrder == VEX_DATA_ORDER_PLANE) {
        for (int p = 0; p < std::min(im->nChannels, 4); ++p)
            if (im->channelSeq[p] == letters[k]) return p;
        return k;
    }
    return letters[0] == 'R' && im->channelSeq[0] != 'R' && k != 1 ? 2 - k : k;
}

int64_t maxOf(unsigned d) { return d == VEX_DEPTH_8U ? 255 : d == VEX_DEPTH_16U ? 65535 : 2147483647; }

int64_t grayRef(unsigned sd, unsigned dd, Triple c) {
    if (sd == VEX_DEPTH_32S) {
        const int32_t R = int32_t(c[0]), G = int32_t(c[1]), B = int32_t(c[2]);
        if (dd == VEX_DEPTH_1U) return 109 * (R >> 10) + 366 * (G >> 10) + 37 * (B >> 10) > 536870911;
        const int32_t v = 109 * (R >> 11) + 366 * (G >> 11) + 37 * (B >> 11);
        return dd == VEX_DEPTH_8U ? uint8_t(v >> 21) : uint16_t(v >> 13);
    }
    const int64_t v = 54 * c[0] + 183 * c[1] + 18 * c[2];
    if (sd == VEX_DEPTH_8U) return dd == VEX_DEPTH_8U ? v >> 8 : dd == VEX_DEPTH_16U ? v : (v >> 8) > 127;
    return dd == VEX_DEPTH_8U ? v >> 16 : dd == VEX_DEPTH_16U ? v >> 8 : (v >> 8) > 32767;
}

double hueRef(int64_t r, int64_t g, int64_t b, int64_t mx, int64_t delta) {
    const double h = r == mx   ? double(60 * (g - b)) / delta
                     : g == mx ? double(60 * (b - r)) / delta + 120
                               : double(60 * (r - g)) / delta + 240;
    return h < 0 ? h + 360 : h;
}

Triple toModelRef(unsigned d, bool hls, Triple in) {
    for (auto& v : in) v = std::max<int64_t>(0, v);  // 32S: negatives count as 0
    const int64_t r = in[0], g = in[1], b = in[2], M = maxOf(d), half = d == VEX_DEPTH_8U;
    const int64_t mx = std::max({r, g, b}), mn = std::min({r, g, b}), delta = mx - mn, sum = mx + mn;
    int64_t h = 0, s = 0;
    if (hls) {
        if (delta) {
            s = int64_t(sum <= M ? double(M) * delta / sum : double(M) * delta / (2 * M - sum));
            h = int64_t(hueRef(r, g, b, mx, delta)) >> half;
        }
        return {h, sum >> 1, s};
    }
    if (mx) s = d == VEX_DEPTH_8U ? delta * 255 / mx : int64_t(double(delta) * double(M) / double(mx));
    if (s) h = int64_t(hueRef(r, g, b, mx, delta)) >> half;
    return {h, s, mx};
}

Triple sector(int64_t i, int64_t v, int64_t p, int64_t q, int64_t t) {
    switch (i) {
        case 0: return {v, t, p};
        case 1: return {q, v, p};
        case 2: return {p, v, t};
        case 3: return {p, q, v};
        case 4: return {t, p, v};
        default: return {v, p, q};
    }
}

Triple hsvToRgbRef(unsigned d, Triple in) {
    for (auto& v : in) v = std::max<int64_t>(0, v);
    const int64_t H = in[0], S = in[1], V = in[2];
    if (S == 0) return {V, V, V};
    if (d == VEX_DEPTH_8U) {
        const int64_t h2 = 2 * H, f = h2 % 60, sv = (S * V) >> 8;
        Triple o = sector(h2 / 60, V, V - sv, V - ((f * sv * 34) >> 11), V - (((60 - f) * sv * 34) >> 11));
        for (auto& v : o) v &= 255;
        return o;
    }
    const double M = double(maxOf(d)), scale = d == VEX_DEPTH_16U ? 1.0 / 65535 : 1.0 / 2147483648.0;
    const double h = double(H) * (1.0 / 60);
    int64_t i = int64_t(h);
    double f = h - double(i);
    if (H == 360) i = 0, f = 0;
    auto term = [&](double k) { return int64_t((M - k * double(S)) * double(V) * scale); };
    return sector(i, V, term(1), term(f), term(1 - f));
}

Triple hlsToRgbRef(unsigned d, Triple in) {
    for (auto& v : in) v = std::max<int64_t>(0, v);
    const int64_t H = in[0], L = in[1], S = in[2];
    if (S == 0) return {L, L, L};
    if (d == VEX_DEPTH_8U) {
        const int64_t k = (L * S * 258) >> 16, m2 = L < 128 ? L + k : L + S - k, m1 = 2 * L - m2, h = 2 * H;
        auto val = [&](int64_t x) {
            const int64_t v = x < 60 ? m1 + (((m2 - m1) * 137 * x) >> 13) : x < 180 ? m2
                              : x < 240 ? m1 + (((m2 - m1) * 137 * (240 - x)) >> 13) : m1;
            return v & 255;
        };
        return {val(h <= 240 ? h + 120 : h - 240), val(h), val(h < 120 ? h + 240 : h - 120)};
    }
    const double l = double(L), s = double(S), k = d == VEX_DEPTH_16U ? 1.0 / 65535 : 1.0 / 2147483648.0;
    const double m2 = L < (d == VEX_DEPTH_16U ? 32768 : 1073741824) ? l + s * l * k : l - l * s * k + s;
    const double m1 = 2.0 * l - m2;
    auto val = [&](int64_t x) {
        const double v = x < 60    ? m1 + (m2 - m1) * double(x) * 0.0166666667
                         : x < 180 ? m2
                         : x < 240 ? m1 + (m2 - m1) * double(240 - x) * 0.0166666667 : m1;
        return std::min(maxOf(d), std::max<int64_t>(0, int64_t(v)));
    };
    return {val(H <= 240 ? H + 120 : H - 240), val(H), val(H < 120 ? H + 240 : H - 120)};
}

enum Op { kHsv, kHsvBack, kHls, kHlsBack, kGray, kColor };
const char* const kFrom[] = {"RGB", "HSV", "RGB", "HLS", "RGB", "GRA"};
const char* const kTo[] = {"HSV", "RGB", "HLS", "RGB", "GRA", "RGB"};
const float kDefaults[3] = {0, 0, 0};

void runOp(Op op, VexImage* s, VexImage* d, const VexMapping* m = nullptr, const float* w = kDefaults) {
    switch (op) {
        case kHsv: return vexRGB2HSV(s, d, m);
        case kHsvBack: return vexHSV2RGB(s, d, m);
        case kHls: return vexRGB2HLS(s, d, m);
        case kHlsBack: return vexHLS2RGB(s, d, m);
        case kGray: return vexColorToGray(s, d, m);
        case kColor: return vexGrayToColor(s, d, w[0], w[1], w[2], m);
    }
}
Triple modelRef(Op op, unsigned d, Triple in) {
    return op == kHsvBack ? hsvToRgbRef(d, in) : op == kHlsBack ? hlsToRgbRef(d, in) : toModelRef(d, op == kHls, in);
}

// ------------------------------------------------------------ every 8U triple

// Optimised builds check every triple; instrumented ones every 7th (7 is
// prime to 256, so every value of every channel still occurs).
#ifdef NDEBUG
constexpr int64_t kTripleStep = 1;
#else
constexpr int64_t kTripleStep = 7;
#endif

// A 4096 x 4096 image holding every 8U triple once, in pixel order (RGB and
// BGR channel sequences: the packed vector path and its channel swap) and in
// plane order (unit-stride planes); every model conversion against the
// library's per-pixel rule, and that rule against the reference here.
TEST(ColorModels, EveryTripleMatchesTheRule8U) {
    using RefFn = void (*)(int, int, int, uint8_t*);
    const RefFn rule[] = {vex::ownRGB2HSV8uRef, vex::ownHSV2RGB8uRef, vex::ownRGB2HLS8uRef, vex::ownHLS2RGB8uRef};
    // The references hold the worked numbers: red and back (hue kept in
    // 2-degree steps), HLS red, and white to gray (the weights sum to 255).
    EXPECT_EQ(modelRef(kHsv, VEX_DEPTH_8U, {255, 0, 0}), (Triple{0, 255, 255}));
    EXPECT_EQ(modelRef(kHsvBack, VEX_DEPTH_8U, {0, 255, 255}), (Triple{255, 2, 1}));
    EXPECT_EQ(modelRef(kHls, VEX_DEPTH_8U, {255, 0, 0}), (Triple{0, 127, 255}));
    EXPECT_EQ(grayRef(VEX_DEPTH_8U, VEX_DEPTH_8U, {255, 255, 255}), 254);
    for (int pass = 0; pass < 3; ++pass) {
        const int order = pass == 2 ? VEX_DATA_ORDER_PLANE : VEX_DATA_ORDER_PIXEL;
        vt::Image src(VEX_DEPTH_8U, 3, 4096, 4096, order), dst(VEX_DEPTH_8U, 3, 4096, 4096, order);
        const VexImage* s = src.get();
        auto at = [](const VexImage* im, int64_t i, int k) -> char& {
            const int64_t y = i >> 12, x = i & 4095;
            return im->imageData[im->dataOrder ? im->widthStep * (y + 4096 * k) + x : im->widthStep * y + 3 * x + k];
        };
        for (int64_t i = 0; i < (int64_t(1) << 24); ++i)
            for (int k = 0; k < 3; ++k) at(s, i, k) = char((i >> (8 * k)) & 255);
        for (Op op : {kHsv, kHsvBack, kHls, kHlsBack}) {
            const bool bgr = pass == 1 && kFrom[op][0] == 'R';
            if (pass == 1 && !bgr) continue;
            SCOPED_TRACE(std::string(kFrom[op]) + " to " + kTo[op] + " pass " + std::to_string(pass));
            std::memcpy(src.get()->colorSpace, kFrom[op], 3);
            std::memcpy(src.get()->channelSeq, bgr ? "BGR" : kFrom[op], 3);
            runOp(op, src.get(), dst.get());
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            int64_t bad = 0;
            for (int64_t i = 0; i < (int64_t(1) << 24); i += kTripleStep) {
                int in[3];
                for (int k = 0; k < 3; ++k) in[k] = uint8_t(at(s, i, bgr ? 2 - k : k));
                uint8_t want[3];
                rule[op](in[0], in[1], in[2], want);
                const Triple ref = modelRef(op, VEX_DEPTH_8U, {in[0], in[1], in[2]});
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(int64_t(want[k]), ref[k]) << in[0] << "," << in[1] << "," << in[2];
                    if (uint8_t(at(dst.get(), i, k)) != want[k] && bad++ < 5)
                        ADD_FAILURE() << "input " << in[0] << "," << in[1] << "," << in[2] << " component " << k
                                      << ": " << int(uint8_t(at(dst.get(), i, k))) << " != " << int(want[k]);
                }
            }
            EXPECT_EQ(bad, 0);
        }
    }
}

// ------------------------------------------------------------ reference matrix

// One case; [0] is the source, [1] the destination.
struct Case {
    Op op;
    unsigned depth[2];
    int order[2], ch[2], h[2], w[2], align, coi;
    bool bgr, roi;
    float wt[3];
    std::string describe() const {
        char t[200];
        std::snprintf(t, sizeof t, "%s->%s %s->%s order %d/%d ch %d/%d %dx%d/%dx%d align %d coi %d roi %d %s w %g",
                      kFrom[op], kTo[op], vt::depthName(depth[0]), vt::depthName(depth[1]), order[0], order[1], ch[0],
                      ch[1], h[0], w[0], h[1], w[1], align, coi, roi, bgr ? "BGR" : "RGB", double(wt[0]));
        return t;
    }
};

// Depths, orders and channel counts each operation takes; sizes that hit
// vector tails; regions and channels of interest (which change nothing but
// the channel count compared); destinations of another size.
Case randomCase(std::mt19937& rng, int round) {
    static const int kSizes[] = {1, 3, 7, 9, 16, 17, 33, 40};
    static const unsigned kWide[] = {VEX_DEPTH_8U, VEX_DEPTH_16U, VEX_DEPTH_32S};
    static const unsigned kNarrow[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    static const float kWeights[][3] = {{0, 0, 0}, {1, 1, 1}, {0.3f, 0.59f, 0.11f}, {2.5f, -0.5f, 0.001f}};
    Case c{};
    c.op = Op(round % 6);
    const int side = c.op == kColor ? 0 : 1;  // the gray image of kGray and kColor
    c.depth[0] = c.depth[1] = kWide[rng() % 3];
    if (c.op == kGray) c.depth[1] = kNarrow[rng() % 3];
    if (c.op == kColor && rng() % 4 == 0) c.depth[0] = VEX_DEPTH_1U, c.depth[1] = VEX_DEPTH_8U;
    c.order[0] = c.order[1] = int(rng() % 2);
    c.ch[0] = c.ch[1] = 3 + int(rng() % 2);
    if (c.op >= kGray) {
        c.order[side] = c.depth[side] == VEX_DEPTH_1U ? VEX_DATA_ORDER_PIXEL : int(rng() % 2);
        c.ch[side] = c.order[side] ? 1 + int(rng() % 2) : 1;
    }
    c.h[0] = c.h[1] = kSizes[rng() % 8], c.w[0] = c.w[1] = kSizes[rng() % 8];
    if (rng() % 3 == 0) c.h[1] = kSizes[rng() % 8], c.w[1] = kSizes[rng() % 8];
    c.align = rng() % 2 ? 4 : 8, c.bgr = rng() % 2, c.roi = rng() % 3 == 0;
    c.coi = c.roi && rng() % 2 ? 1 + int(rng() % 3) : 0;
    std::memcpy(c.wt, kWeights[rng() % 4], sizeof c.wt);
    return c;
}

std::unique_ptr<vt::ImageBase> makeImg(const Case& c, int i, bool tiled, uint32_t key, const int* tile = nullptr) {
    std::unique_ptr<vt::ImageBase> im;
    if (tiled)
        im.reset(new vt::TiledImage(c.depth[i], c.ch[i], c.h[i], c.w[i], tile[0], tile[1], c.order[i], c.align));
    else
        im.reset(new vt::Image(c.depth[i], c.ch[i], c.h[i], c.w[i], c.order[i], c.align));
    im->fillPattern(key);
    const char* space = i == 0 ? kFrom[c.op] : c.op == kColor ? "RGB" : "XYZ";
    std::memcpy(im->get()->colorSpace, space, 3);
    std::memcpy(im->get()->channelSeq, space[0] == 'R' && c.bgr ? "BGR" : space, 3);
    if (c.roi) im->setRoi(std::min(c.coi, c.ch[i]), c.w[i] / 2, c.h[i] / 3, c.h[i] - c.h[i] / 3, c.w[i] - c.w[i] / 2);
    return im;
}

// The destination sample (x, y, ch) of the common area after the operation,
// from the source; false for a channel the operation does not write.
bool expected(const Case& c, const vt::ImageBase& src, const VexImage* dst, int x, int y, int ch, int64_t* v) {
    const unsigned d = c.depth[0];
    Triple in{};
    for (int k = 0; k < 3; ++k) in[k] = src.sample(x, y, c.op == kColor ? 1 : channelOf(src.get(), kFrom[c.op], k) + 1);
    if (c.op == kGray) return ch == 1 && (*v = grayRef(d, c.depth[1], in), true);
    int k = 0;
    while (k < 3 && channelOf(dst, kTo[c.op], k) + 1 != ch) ++k;
    if (k == 3) return false;
    if (c.op != kColor) return *v = modelRef(c.op, d, in)[k] & (d == VEX_DEPTH_16U ? 0xFFFF : -1), true;
    // Weights trunc(w * 256), shift 8, or trunc(w * 32768), shift 15 (32S: the
    // float); all three 0: 54, 183, 18 (8U), 109, 366, 37 with shift 9 (16U).
    const bool wide = d == VEX_DEPTH_16U || d == VEX_DEPTH_32S;
    int64_t w[3];
    for (int j = 0; j < 3; ++j) w[j] = int64_t(double(c.wt[j]) * (wide ? 32768 : 256));
    const bool dflt = !w[0] && !w[1] && !w[2];
    const int64_t wk = dflt ? (wide ? std::array<int64_t, 3>{109, 366, 37} : std::array<int64_t, 3>{54, 183, 18})[k] : w[k];
    const double fk = dflt ? double(std::array<float, 3>{0.212671f, 0.715160f, 0.072169f}[k]) : double(c.wt[k]);
    const int32_t p = int32_t(uint32_t(uint64_t(in[0]) * uint64_t(wk))), shift = wide && !dflt ? 15 : wide ? 9 : 8;
    if (d == VEX_DEPTH_1U) *v = in[0] ? uint8_t(int32_t(wk * 255) >> 8) : 0;
    else if (d == VEX_DEPTH_32S) *v = int64_t(std::min(2147483647.0, std::max(-2147483648.0, std::trunc(double(in[0]) * fk))));
    else *v = d == VEX_DEPTH_8U ? uint8_t(p >> shift) : uint16_t(p >> shift);
    return true;
}

TEST(ColorModels, ReferenceMatrixAndTiles) {
    std::mt19937 rng(17);
    for (int round = 0; round < 360; ++round) {
        const Case c = randomCase(rng, round);
        SCOPED_TRACE(c.describe());
        auto src = makeImg(c, 0, false, 100 + round);
        for (int y = 0; y < c.h[0]; ++y)  // hues mostly in range, some past it
            for (int x = 0; x < c.w[0] && (c.op == kHsvBack || c.op == kHlsBack); ++x)
                if (rng() % 4)
                    src->setSample(x, y, channelOf(src->get(), kFrom[c.op], 0) + 1, rng() % (c.depth[0] == VEX_DEPTH_8U ? 180 : 361));
        auto dst = makeImg(c, 1, false, 7), want = makeImg(c, 1, false, 7);
        runOp(c.op, src->get(), dst->get(), nullptr, c.wt);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        if (c.op < kGray) {  // the header names the new model
            EXPECT_EQ(std::string(dst->get()->colorSpace, 3) + std::string(dst->get()->channelSeq, 3),
                      std::string(kTo[c.op]) + kTo[c.op]);
        }
        int64_t v = 0;
        for (int y = 0; y < std::min(c.h[0], c.h[1]); ++y)
            for (int x = 0; x < std::min(c.w[0], c.w[1]); ++x)
                for (int ch = 1; ch <= c.ch[1]; ++ch)
                    if (expected(c, *src, dst->get(), x, y, ch, &v)) want->setSample(x, y, ch, v);
        EXPECT_EQ(vt::diffSamples(dst->get(), want->get()), "");
        // Tiles of several shapes, on the destination, the source or both,
        // give the untiled result (equal sizes: a tile past a smaller source
        // would read its border).
        if (c.h[0] != c.h[1] || c.w[0] != c.w[1]) continue;
        const int tiles[][2] = {{8, 8}, {16, 8}, {8, 24}};
        for (int mode = 1; mode <= 3; ++mode) {
            const int* t = tiles[rng() % 3];
            auto ts = makeImg(c, 0, mode & 2, 0, t), td = makeImg(c, 1, mode & 1, 7, t);
            for (int y = 0; y < c.h[0]; ++y)
                for (int x = 0; x < c.w[0]; ++x)
                    for (int ch = 1; ch <= c.ch[0]; ++ch) ts->setSample(x, y, ch, src->sample(x, y, ch));
            runOp(c.op, ts->get(), td->get(), nullptr, c.wt);
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            EXPECT_EQ(vt::diffSamples(td->get(), dst->get()), "") << "tiling mode " << mode << " tile " << t[0];
        }
    }
}

// ------------------------------------------------------------ tile walk

// A mapping names one destination tile by column and row; only it is got
// and written. Without one, rows of tiles left to right, each got and
// released; a tile the callback refuses ends its row.
TEST(ColorTiles, MappingNamesOneTileAndNullEndsTheWalk) {
    vt::Image src(VEX_DEPTH_8U, 3, 20, 20);
    src.fillPattern(1);
    vt::TiledImage dst(VEX_DEPTH_8U, 3, 20, 20, 8, 8);
    dst.fillPattern(4);
    vt::TiledImage whole = dst.clone(), orig = dst.clone();
    vexRGB2HSV(src.get(), whole.get(), nullptr);
    const VexMapping m{2, 1};
    vexRGB2HSV(src.get(), dst.get(), &m);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
    EXPECT_EQ(dst.calls(), (std::vector<vt::TileCall>{{2, 1, VEX_TILE_GET_WRITE}, {2, 1, VEX_TILE_RELEASE}}));
    EXPECT_EQ(dst.releaseMismatches(), 0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            for (int c = 1; c <= 3; ++c)
                EXPECT_EQ(dst.sample(x, y, c), (x >= 16 && y >= 8 && y < 16 ? whole : orig).sample(x, y, c));
    std::vector<vt::TileCall> walk;
    for (int ty = 0; ty < 3; ++ty)
        for (int tx = 0; tx < 3; ++tx) walk.push_back({tx, ty, 2}), walk.push_back({tx, ty, 4});
    EXPECT_EQ(whole.calls(), walk);
    EXPECT_EQ(whole.outstanding(), 0);
    vt::TiledImage refusing(VEX_DEPTH_8U, 3, 20, 20, 8, 8);
    refusing.refuse(1, 0, VEX_TILE_GET_WRITE);
    vexRGB2HSV(src.get(), refusing.get(), nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    ASSERT_GE(refusing.calls().size(), 4u);
    EXPECT_EQ(refusing.calls()[2], (vt::TileCall{1, 0, 2}));
    EXPECT_EQ(refusing.calls()[3], (vt::TileCall{0, 1, 2}));
    EXPECT_EQ(refusing.outstanding(), 0);
}

// ------------------------------------------------------------ checks

// Each step spoils one more thing (after the previous ones are mended) and
// expects exactly one report, VEX_StsBadArg, and an untouched destination.
TEST(ColorChecks, InOrder) {
    vt::Image src(VEX_DEPTH_8U, 3, 4, 8), dst(VEX_DEPTH_8U, 3, 4, 8), one(VEX_DEPTH_8U, 1, 4, 8);
    vt::Image g(VEX_DEPTH_8U, 1, 4, 8), c16(VEX_DEPTH_16U, 3, 4, 8), c8(VEX_DEPTH_8S, 3, 4, 8), g8(VEX_DEPTH_8S, 1, 4, 8);
    vt::Image s16(VEX_DEPTH_16S, 3, 2, 2), d16(VEX_DEPTH_16S, 3, 2, 2);
    dst.fillPattern(3);
    VexImage *s = src.get(), *d = dst.get(), *gd = g.get();
    std::memcpy(s16.get()->colorSpace, "HLS", 3);
    std::memcpy(c8.get()->colorSpace, "RGB", 3);
    std::vector<char> big(size_t(s->dataSize) * 2 + 64);
    const char* inc = "incomatibleimages";
    auto hsv = [&] { std::memcpy(d->colorSpace, "RGB", 3), vexRGB2HSV(s, d, nullptr); };
    auto gray = [&] { vexColorToGray(s, gd, nullptr); };
    struct Step {
        std::function<void()> spoil, call;
        const char *func, *context;
        const vt::ImageBase* out;
    };
    // (An image with neither data nor tiles fails the header check first, so
    // "null_data_pointer" cannot be reached through the public calls.)
    const std::vector<Step> steps = {
        {[&] { s->align = 5; }, hsv, "vexRGB2HSV", "Image align is invalid", &dst},
        {[&] { s->align = 4, d->origin = 7; }, hsv, "vexRGB2HSV", "Image origin is invalid", &dst},
        {[&] { d->origin = 0, std::memcpy(s->colorSpace, "HSV", 3); }, hsv, "vexRGB2HSV", inc, &dst},
        {[&] { std::memcpy(s->colorSpace, "RGB", 3), src.setRoi(2, 0, 0, 4, 8); }, hsv, "vexRGB2HSV", inc, &dst},
        {[&] { dst.setRoi(1, 0, 0, 4, 8), s->origin = 1; }, hsv, "vexRGB2HSV", inc, &dst},
        {[&] { d->origin = 1, s->depth = VEX_DEPTH_8S; }, hsv, "vexRGB2HSV", inc, &dst},
        {[&] { s->dataOrder = 1, s->depth = VEX_DEPTH_8U; }, hsv, "vexRGB2HSV", inc, &dst},
        {[&] { s->dataOrder = 0, s->depth = d->depth = VEX_DEPTH_8S; }, hsv, "ownRGB2HSV", "errInOutDepth", &dst},
        {[&] { s->depth = d->depth = VEX_DEPTH_8U, s->origin = d->origin = 0, one.setRoi(0, 0, 0, 4, 8); },
         [&] { vexRGB2HLS(one.get(), one.get(), nullptr); }, "vexRGB2HLS", inc, &one},
        {[&] { std::memcpy(s->colorSpace, "XYZ", 3); }, [&] { vexHSV2RGB(s, d, nullptr); }, "vexHSV2RGB", inc, &dst},
        {[] {}, [&] { vexHLS2RGB(s, d, nullptr); }, "vexHLS2RGB", inc, &dst},
        {[] {}, [&] { vexHLS2RGB(s16.get(), d16.get(), nullptr); }, "ownRGB2HLS", "errInOutDepth", &d16},
        {[&] { src.setRoi(0, 0, 0, 4, 8), gd->align = 3; }, gray, "vexColorToGray", "Image align is invalid", &g},
        {[&] { gd->align = 4; }, gray, "vexColorToGray", inc, &g},
        {[&] { std::memcpy(s->colorSpace, "RGB", 3), gd->origin = 1; }, gray, "vexColorToGray", inc, &g},
        {[&] { gd->origin = 0, s->imageData = big.data(), s->depth = VEX_DEPTH_16S, s->widthStep *= 2, s->dataSize *= 2; },
         gray, "ownColorToGray", "errInOutDepth", &g},
        // A destination of three channels in pixel order is no gray image.
        {[&] { s->depth = VEX_DEPTH_8U, s->widthStep /= 2, s->dataSize /= 2; },
         [&] { vexColorToGray(s, d, nullptr); }, "vexColorToGray", inc, &dst},
        {[] {}, [&] { vexGrayToColor(gd, c16.get(), 0, 0, 0, nullptr); }, "vexGrayToColor", inc, &c16},
        {[] {}, [&] { vexGrayToColor(g8.get(), c8.get(), 0, 0, 0, nullptr); }, "ownGrayToColor", "errInOutDepth", &c8},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& st = steps[i];
        st.spoil();
        SCOPED_TRACE(i);
        vt::expectRejected(st.call, st.out, VEX_StsBadArg, st.func,
                           std::string(st.context).compare(0, 3, "err") == 0 ? "owncolor" : "vexcolor", st.context);
        // The header is written before the depth is refused.
        if (i == 7) {
            EXPECT_EQ(std::string(d->colorSpace, 3) + std::string(d->channelSeq, 3), "HSVHSV");
        }
    }
}

}  // namespace
