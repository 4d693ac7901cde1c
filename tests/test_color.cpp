// Colour models: gray, colour from gray, HSV and HLS in both directions.
// Every 8U triple through the vector kernels against the per-pixel rules, a
// reference matrix over depths x orders x channel orders x sizes x tiling,
// the worked numbers, the round trip, and every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// Channel (0-based) holding component k of a colour model in an image.
int channelOf(const VexImage* im, const char* letters, int k) {
    if (im->dataOrder == VEX_DATA_ORDER_PLANE) {
        for (int p = 0; p < std::min(im->nChannels, 4); ++p)
            if (im->channelSeq[p] == letters[k]) return p;
        return k;
    }
    if (letters[0] == 'R' && im->channelSeq[0] != 'R' && k != 1) return 2 - k;
    return k;
}

int64_t grayRef(unsigned sd, unsigned dd, int64_t r, int64_t g, int64_t b) {
    if (sd == VEX_DEPTH_32S) {
        const int32_t R = int32_t(r), G = int32_t(g), B = int32_t(b);
        if (dd == VEX_DEPTH_1U) return 109 * (R >> 10) + 366 * (G >> 10) + 37 * (B >> 10) > 536870911;
        const int32_t v = 109 * (R >> 11) + 366 * (G >> 11) + 37 * (B >> 11);
        return dd == VEX_DEPTH_8U ? uint8_t(v >> 21) : uint16_t(v >> 13);
    }
    const int64_t v = 54 * r + 183 * g + 18 * b;
    if (sd == VEX_DEPTH_8U) return dd == VEX_DEPTH_8U ? v >> 8 : dd == VEX_DEPTH_16U ? v : (v >> 8) > 127;
    return dd == VEX_DEPTH_8U ? v >> 16 : dd == VEX_DEPTH_16U ? v >> 8 : (v >> 8) > 32767;
}

int64_t maxOf(unsigned d) { return d == VEX_DEPTH_8U ? 255 : d == VEX_DEPTH_16U ? 65535 : 2147483647; }

double hueRef(int64_t r, int64_t g, int64_t b, int64_t mx, int64_t delta) {
    double h = r == mx   ? double(60 * (g - b)) / delta
               : g == mx ? double(60 * (b - r)) / delta + 120
                         : double(60 * (r - g)) / delta + 240;
    return h < 0 ? h + 360 : h;
}

Triple toModelRef(unsigned d, bool hls, Triple in) {
    for (auto& v : in) v = std::max<int64_t>(0, v);  // 32S: negatives count as 0
    const int64_t r = in[0], g = in[1], b = in[2], M = maxOf(d);
    const int64_t mx = std::max({r, g, b}), mn = std::min({r, g, b}), delta = mx - mn;
    int64_t h = 0, s = 0;
    if (hls) {
        const int64_t sum = mx + mn;
        if (delta) {
            s = int64_t(sum <= M ? double(M) * delta / sum : double(M) * delta / (2 * M - sum));
            h = int64_t(hueRef(r, g, b, mx, delta));
        }
        if (d == VEX_DEPTH_8U) h >>= 1;
        return {h, sum >> 1, s};
    }
    if (mx) s = d == VEX_DEPTH_8U ? delta * 255 / mx : int64_t(double(delta) * double(M) / double(mx));
    if (s) h = int64_t(hueRef(r, g, b, mx, delta));
    if (d == VEX_DEPTH_8U) h >>= 1;
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
        const int64_t h2 = 2 * H, i = h2 / 60, f = h2 % 60, sv = (S * V) >> 8;
        Triple o = sector(i, V, V - sv, V - ((f * sv * 34) >> 11), V - (((60 - f) * sv * 34) >> 11));
        for (auto& v : o) v &= 255;
        return o;
    }
    const double M = double(maxOf(d)), scale = d == VEX_DEPTH_16U ? 1.0 / 65535 : 1.0 / 2147483648.0;
    const double h = double(H) * (1.0 / 60);
    int64_t i = int64_t(h);
    double f = h - double(i);
    if (H == 360) i = 0, f = 0;
    return sector(i, V, int64_t((M - double(S)) * double(V) * scale), int64_t((M - f * double(S)) * double(V) * scale),
                  int64_t((M - (1 - f) * double(S)) * double(V) * scale));
}

Triple hlsToRgbRef(unsigned d, Triple in) {
    for (auto& v : in) v = std::max<int64_t>(0, v);
    const int64_t H = in[0], L = in[1], S = in[2];
    if (S == 0) return {L, L, L};
    if (d == VEX_DEPTH_8U) {
        const int64_t k = (L * S * 258) >> 16, m2 = L < 128 ? L + k : L + S - k, m1 = 2 * L - m2;
        auto val = [&](int64_t h) {
            if (h < 60) return m1 + (((m2 - m1) * 137 * h) >> 13);
            if (h < 180) return m2;
            if (h < 240) return m1 + (((m2 - m1) * 137 * (240 - h)) >> 13);
            return m1;
        };
        const int64_t h = 2 * H;
        return {val(h <= 240 ? h + 120 : h - 240) & 255, val(h) & 255, val(h < 120 ? h + 240 : h - 120) & 255};
    }
    const double l = double(L), s = double(S);
    const double m2 = d == VEX_DEPTH_16U ? (L < 32768 ? l + s * l / 65535 : l - l * s / 65535 + s)
                                         : (L < 1073741824 ? l + s * l * (1.0 / 2147483648.0)
                                                           : l - l * s * (1.0 / 2147483648.0) + s);
    const double m1 = 2.0 * l - m2;
    auto val = [&](int64_t h) {
        double v = h < 60 ? m1 + (m2 - m1) * double(h) * 0.0166666667
                   : h < 180 ? m2
                   : h < 240 ? m1 + (m2 - m1) * double(240 - h) * 0.0166666667
                             : m1;
        return std::min(maxOf(d), std::max<int64_t>(0, int64_t(v)));
    };
    return {val(H <= 240 ? H + 120 : H - 240), val(H), val(H < 120 ? H + 240 : H - 120)};
}

// ------------------------------------------------------------ every 8U triple

// A 4096 x 4096 three-channel image holding every 8U triple once.
vt::Image allTriples(int order) {
    vt::Image im(VEX_DEPTH_8U, 3, 4096, 4096, order);
    VexImage* h = im.get();
    std::memcpy(h->channelSeq, "RGB", 3);
    for (int64_t y = 0; y < 4096; ++y)
        for (int64_t x = 0; x < 4096; ++x) {
            const uint32_t k = uint32_t(y) * 4096 + uint32_t(x);
            for (int64_t c = 0; c < 3; ++c) {
                const int64_t at = order == VEX_DATA_ORDER_PLANE ? h->widthStep * (y + 4096 * c) + x
                                                                 : h->widthStep * y + 3 * x + c;
                h->imageData[at] = char((k >> (8 * c)) & 255);
            }
        }
    return im;
}

// Optimised builds check every triple; instrumented ones every 7th (7 is
// prime to 256, so every value of every channel still occurs).
#ifdef NDEBUG
constexpr int64_t kTripleStep = 1;
#else
constexpr int64_t kTripleStep = 7;
#endif

enum Op { kHsv, kHsvBack, kHls, kHlsBack };
const char* const kOpSpace[] = {"RGB", "HSV", "RGB", "HLS"};
void runOp(Op op, VexImage* s, VexImage* d, const VexMapping* m = nullptr) {
    switch (op) {
        case kHsv: return vexRGB2HSV(s, d, m);
        case kHsvBack: return vexHSV2RGB(s, d, m);
        case kHls: return vexRGB2HLS(s, d, m);
        case kHlsBack: return vexHLS2RGB(s, d, m);
    }
}
Triple refOp(Op op, unsigned d, Triple in) {
    switch (op) {
        case kHsv: return toModelRef(d, false, in);
        case kHls: return toModelRef(d, true, in);
        case kHsvBack: return hsvToRgbRef(d, in);
        default: return hlsToRgbRef(d, in);
    }
}

// The vector kernels (the clone this machine picks; the portable build
// checks the baseline) give the rule's value for every input triple, in
// pixel order and, through unit-stride planes, in plane order.
TEST(ColorModels, EveryTripleMatchesTheRule8U) {
    using RefFn = void (*)(int, int, int, uint8_t*);
    const RefFn lib[] = {vex::ownRGB2HSV8uRef, vex::ownHSV2RGB8uRef, vex::ownRGB2HLS8uRef, vex::ownHLS2RGB8uRef};
    for (int order : {VEX_DATA_ORDER_PIXEL, VEX_DATA_ORDER_PLANE}) {
        vt::Image src = allTriples(order);
        for (Op op : {kHsv, kHsvBack, kHls, kHlsBack}) {
            SCOPED_TRACE(std::string(kOpSpace[op]) + (order ? " plane" : " pixel") + " op " + std::to_string(op));
            std::memcpy(src.get()->colorSpace, kOpSpace[op], 3);
            std::memcpy(src.get()->channelSeq, op == kHsvBack ? "HSV" : op == kHlsBack ? "HLS" : "RGB", 3);
            vt::Image dst(VEX_DEPTH_8U, 3, 4096, 4096, order);
            runOp(op, src.get(), dst.get());
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            // Read the planes back directly: component k of pixel i.
            const VexImage* s = src.get();
            const VexImage* d = dst.get();
            auto at = [](const VexImage* im, int64_t i, int k) {
                const int64_t y = i / 4096, x = i % 4096;
                if (im->dataOrder == VEX_DATA_ORDER_PLANE)
                    return uint8_t(im->imageData[im->widthStep * (y + 4096 * k) + x]);
                return uint8_t(im->imageData[im->widthStep * y + 3 * x + k]);
            };
            int64_t bad = 0;
            for (int64_t i = 0; i < (int64_t(1) << 24); i += kTripleStep) {
                const int a = at(s, i, 0), b = at(s, i, 1), c = at(s, i, 2);
                uint8_t want[3];
                lib[op](a, b, c, want);
                const Triple ref = refOp(op, VEX_DEPTH_8U, {a, b, c});
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(int64_t(want[k]), ref[k]) << a << "," << b << "," << c;
                    if (at(d, i, k) != want[k] && bad++ < 5)
                        ADD_FAILURE() << "input " << a << "," << b << "," << c << " component " << k
                                      << ": " << int(at(d, i, k)) << " != " << int(want[k]);
                }
            }
            EXPECT_EQ(bad, 0);
        }
    }
}

// ------------------------------------------------------------ worked numbers

Triple convertOne(Op op, unsigned depth, Triple in, const char* seq = nullptr) {
    vt::Image s(depth, 3, 1, 1), d(depth, 3, 1, 1);
    std::memcpy(s.get()->colorSpace, kOpSpace[op], 3);
    std::memcpy(s.get()->channelSeq, seq ? seq : (op == kHsvBack ? "HSV" : op == kHlsBack ? "HLS" : "RGB"), 3);
    for (int c = 0; c < 3; ++c) s.setSample(0, 0, c + 1, in[c]);
    runOp(op, s.get(), d.get());
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    return {d.sample(0, 0, 1), d.sample(0, 0, 2), d.sample(0, 0, 3)};
}

TEST(ColorModels, WorkedNumbers) {
    EXPECT_EQ(convertOne(kHsv, VEX_DEPTH_8U, {255, 0, 0}), (Triple{0, 255, 255}));
    EXPECT_EQ(convertOne(kHsv, VEX_DEPTH_8U, {0, 255, 0}), (Triple{60, 255, 255}));
    EXPECT_EQ(convertOne(kHsv, VEX_DEPTH_8U, {0, 0, 255}), (Triple{120, 255, 255}));
    EXPECT_EQ(convertOne(kHsv, VEX_DEPTH_8U, {90, 90, 90}), (Triple{0, 0, 90}));
    EXPECT_EQ(convertOne(kHsvBack, VEX_DEPTH_8U, {0, 255, 255}), (Triple{255, 2, 1}));
    EXPECT_EQ(convertOne(kHls, VEX_DEPTH_8U, {255, 0, 0}), (Triple{0, 127, 255}));
    // 16U: H = 360 is H = 0.
    EXPECT_EQ(convertOne(kHsvBack, VEX_DEPTH_16U, {360, 65535, 65535}),
              convertOne(kHsvBack, VEX_DEPTH_16U, {0, 65535, 65535}));
    // A BGR source: red lies in channel 2.
    EXPECT_EQ(convertOne(kHsv, VEX_DEPTH_8U, {0, 0, 255}, "BGR"), (Triple{0, 255, 255}));
}

// Two images of one pixel for the gray operations.
int64_t grayOne(unsigned sd, unsigned dd, Triple rgb, const char* seq = "RGB") {
    vt::Image s(sd, 3, 1, 1), d(dd, 1, 1, 1);
    std::memcpy(s.get()->channelSeq, seq, 3);
    for (int c = 0; c < 3; ++c) s.setSample(0, 0, c + 1, rgb[c]);
    vexColorToGray(s.get(), d.get(), nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    return d.sample(0, 0, 1);
}

TEST(ColorGray, WorkedNumbers) {
    EXPECT_EQ(grayOne(VEX_DEPTH_8U, VEX_DEPTH_8U, {255, 255, 255}), 254);
    EXPECT_EQ(grayOne(VEX_DEPTH_8U, VEX_DEPTH_16U, {255, 255, 255}), 65025);
    EXPECT_EQ(grayOne(VEX_DEPTH_8U, VEX_DEPTH_1U, {255, 255, 255}), 1);
    EXPECT_EQ(grayOne(VEX_DEPTH_8U, VEX_DEPTH_8U, {200, 10, 30}), grayOne(VEX_DEPTH_8U, VEX_DEPTH_8U, {30, 10, 200}, "BGR"));
    EXPECT_NE(grayOne(VEX_DEPTH_8U, VEX_DEPTH_8U, {200, 10, 30}), grayOne(VEX_DEPTH_8U, VEX_DEPTH_8U, {30, 10, 200}));

    // Gray to colour: weights 0 give the defaults, weight 1.0 copies the gray.
    vt::Image g(VEX_DEPTH_8U, 1, 1, 2), c(VEX_DEPTH_8U, 3, 1, 2);
    g.setSample(0, 0, 1, 200);
    g.setSample(1, 0, 1, 255);
    vexGrayToColor(g.get(), c.get(), 0, 0, 0, nullptr);
    // Destination channelSeq "BGR": blue in channel 1, red in channel 3.
    EXPECT_EQ(c.sample(0, 0, 3), 200 * 54 >> 8);
    EXPECT_EQ(c.sample(0, 0, 2), 200 * 183 >> 8);
    EXPECT_EQ(c.sample(0, 0, 1), 200 * 18 >> 8);
    vexGrayToColor(g.get(), c.get(), 1, 1, 1, nullptr);
    for (int ch = 1; ch <= 3; ++ch) EXPECT_EQ(c.sample(1, 0, ch), 255);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// ------------------------------------------------------------ reference matrix

struct Shape {
    unsigned depth;
    int order, nChannels, align;
    bool rgbSeq;
    int height, width;
};

std::string describe(const Shape& s) {
    return std::string(vt::depthName(s.depth)) + (s.order ? " plane" : " pixel") + " ch" +
           std::to_string(s.nChannels) + " align" + std::to_string(s.align) + (s.rgbSeq ? " RGB " : " BGR ") +
           std::to_string(s.height) + "x" + std::to_string(s.width);
}

std::unique_ptr<vt::ImageBase> makeShaped(const Shape& s, unsigned depth, int nChannels, bool tiled,
                                          const char* space, uint32_t key, int tile = 8) {
    std::unique_ptr<vt::ImageBase> im;
    if (tiled)
        im.reset(new vt::TiledImage(depth, nChannels, s.height, s.width, tile, tile, s.order, s.align));
    else
        im.reset(new vt::Image(depth, nChannels, s.height, s.width, s.order, s.align));
    im->fillPattern(key);
    if (space) {
        std::memcpy(im->get()->colorSpace, space, 3);
        if (nChannels >= 3) {
            const bool rgb = std::strncmp(space, "RGB", 3) == 0;
            std::memcpy(im->get()->channelSeq, rgb ? (s.rgbSeq ? "RGB" : "BGR") : space, 3);
        }
    }
    return im;
}

Shape randomShape(std::mt19937& rng, unsigned depth) {
    static const int kSizes[] = {1, 3, 7, 9, 16, 17, 33};
    Shape s;
    s.depth = depth;
    s.order = int(rng() % 2);
    s.nChannels = 3 + int(rng() % 2);
    s.align = rng() % 2 ? 4 : 8;
    s.rgbSeq = rng() % 2;
    s.height = kSizes[rng() % 7];
    s.width = kSizes[rng() % 7];
    return s;
}

// Every sample of dst against the expectation: converted samples inside
// rows x cols, the rest as `before`.
using Expect = std::function<bool(int x, int y, int c, int64_t* value)>;
void compareAll(const vt::ImageBase& dst, const vt::ImageBase& before, const Expect& expect) {
    int bad = 0;
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 0; x < dst.width(); ++x)
            for (int c = 1; c <= dst.channels(); ++c) {
                int64_t want = before.sample(x, y, c);
                expect(x, y, c, &want);
                const int64_t got = dst.sample(x, y, c);
                if (got != want && bad++ < 5)
                    ADD_FAILURE() << "(" << x << "," << y << ") channel " << c << ": " << got << " != " << want;
            }
}

TEST(ColorModels, ReferenceMatrixAndTiles) {
    std::mt19937 rng(17);
    const unsigned depths[] = {VEX_DEPTH_8U, VEX_DEPTH_16U, VEX_DEPTH_32S};
    for (int round = 0; round < 120; ++round) {
        const Op op = Op(round % 4);
        const Shape s = randomShape(rng, depths[(round / 4) % 3]);
        SCOPED_TRACE(describe(s) + " op " + std::to_string(op));
        auto src = makeShaped(s, s.depth, s.nChannels, false, kOpSpace[op], 100 + round);
        if (op == kHsvBack || op == kHlsBack) {
            // Keep hues mostly in range, with some past it.
            for (int y = 0; y < s.height; ++y)
                for (int x = 0; x < s.width; ++x)
                    if (rng() % 4) src->setSample(x, y, 1 + (s.order ? channelOf(src->get(), kOpSpace[op], 0) : 0),
                                                  rng() % (s.depth == VEX_DEPTH_8U ? 180 : 361));
        }
        auto dst = makeShaped(s, s.depth, s.nChannels, false, "RGB", 7);
        auto before = makeShaped(s, s.depth, s.nChannels, false, "RGB", 7);
        runOp(op, src->get(), dst->get());
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        const char* to = op == kHsv ? "HSV" : op == kHls ? "HLS" : "RGB";
        EXPECT_EQ(std::string(dst->get()->colorSpace, 3), to);
        EXPECT_EQ(std::string(dst->get()->channelSeq, 3), to);
        const VexImage* si = src->get();
        const VexImage* di = dst->get();
        compareAll(*dst, *before, [&](int x, int y, int c, int64_t* v) {
            Triple in;
            for (int k = 0; k < 3; ++k) in[k] = src->sample(x, y, channelOf(si, kOpSpace[op], k) + 1);
            const Triple out = refOp(op, s.depth, in);
            for (int k = 0; k < 3; ++k)
                if (channelOf(di, to, k) + 1 == c) {
                    *v = s.depth == VEX_DEPTH_16U ? (out[k] & 0xFFFF) : out[k];
                    return true;
                }
            return false;
        });
        // The same through tiles: destination, source, or both tiled.
        for (int mode = 1; mode <= 3; ++mode) {
            auto ts = makeShaped(s, s.depth, s.nChannels, mode & 2, kOpSpace[op], 0);
            for (int y = 0; y < s.height; ++y)
                for (int x = 0; x < s.width; ++x)
                    for (int c = 1; c <= s.nChannels; ++c) ts->setSample(x, y, c, src->sample(x, y, c));
            auto td = makeShaped(s, s.depth, s.nChannels, mode & 1, "RGB", 7);
            runOp(op, ts->get(), td->get());
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            EXPECT_EQ(vt::diffSamples(td->get(), dst->get()), "") << "tiling mode " << mode;
        }
    }
}

TEST(ColorGray, ReferenceMatrixAndTiles) {
    std::mt19937 rng(5);
    const unsigned sds[] = {VEX_DEPTH_8U, VEX_DEPTH_16U, VEX_DEPTH_32S};
    const unsigned dds[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    for (int round = 0; round < 90; ++round) {
        const unsigned sd = sds[round % 3], dd = dds[(round / 3) % 3];
        Shape s = randomShape(rng, sd);
        if (dd == VEX_DEPTH_1U) s.order = VEX_DATA_ORDER_PIXEL;
        SCOPED_TRACE(describe(s) + " to " + vt::depthName(dd));
        auto src = makeShaped(s, sd, s.nChannels, false, "RGB", 300 + round);
        const int dch = s.order == VEX_DATA_ORDER_PLANE ? 2 : 1;
        auto dst = makeShaped(s, dd, dch, false, nullptr, 9);
        auto before = makeShaped(s, dd, dch, false, nullptr, 9);
        vexColorToGray(src->get(), dst->get(), nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        compareAll(*dst, *before, [&](int x, int y, int c, int64_t* v) {
            if (c != 1) return false;
            Triple in;
            for (int k = 0; k < 3; ++k) in[k] = src->sample(x, y, channelOf(src->get(), "RGB", k) + 1);
            *v = grayRef(sd, dd, in[0], in[1], in[2]);
            return true;
        });
        for (int mode = 1; mode <= 3; ++mode) {
            auto ts = makeShaped(s, sd, s.nChannels, mode & 2, "RGB", 300 + round);
            auto td = makeShaped(s, dd, dch, mode & 1, nullptr, 9);
            vexColorToGray(ts->get(), td->get(), nullptr);
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            EXPECT_EQ(vt::diffSamples(td->get(), dst->get()), "") << "tiling mode " << mode;
        }
    }
    // Gray to colour, every depth pair it takes, weights with and without defaults.
    const float weights[][3] = {{0, 0, 0}, {1, 1, 1}, {0.3f, 0.59f, 0.11f}, {2.5f, -0.5f, 0.001f}};
    for (int round = 0; round < 60; ++round) {
        const unsigned sd = round % 4 == 3 ? VEX_DEPTH_1U : sds[round % 3];
        const unsigned dd = sd == VEX_DEPTH_1U ? VEX_DEPTH_8U : sd;
        Shape s = randomShape(rng, dd);
        const float* w = weights[(round / 4) % 4];
        SCOPED_TRACE(describe(s) + " from " + vt::depthName(sd) + " weights " + std::to_string(w[0]));
        const int sch = s.order == VEX_DATA_ORDER_PLANE && sd != VEX_DEPTH_1U ? 2 : 1;
        Shape ss = s;
        if (sd == VEX_DEPTH_1U) ss.order = VEX_DATA_ORDER_PIXEL;
        if (sd == VEX_DEPTH_1U) s.order = VEX_DATA_ORDER_PIXEL;
        auto src = makeShaped(ss, sd, sch, false, nullptr, 500 + round);
        auto dst = makeShaped(s, dd, s.nChannels, false, "RGB", 11);
        auto before = makeShaped(s, dd, s.nChannels, false, "RGB", 11);
        vexGrayToColor(src->get(), dst->get(), w[0], w[1], w[2], nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        // Integer forms and defaults, written out here.
        const bool wide = sd == VEX_DEPTH_16U || sd == VEX_DEPTH_32S;
        int64_t iw[3];
        for (int k = 0; k < 3; ++k) iw[k] = int64_t(double(w[k]) * (wide ? 32768 : 256));
        int shift = wide ? 15 : 8;
        double fw[3] = {w[0], w[1], w[2]};
        if (!iw[0] && !iw[1] && !iw[2]) {
            const int64_t d8[3] = {54, 183, 18}, d16[3] = {109, 366, 37};
            const float d32[3] = {0.212671f, 0.715160f, 0.072169f};
            for (int k = 0; k < 3; ++k) iw[k] = wide ? d16[k] : d8[k], fw[k] = d32[k];
            shift = wide ? 9 : 8;
        }
        compareAll(*dst, *before, [&](int x, int y, int c, int64_t* v) {
            for (int k = 0; k < 3; ++k)
                if (channelOf(dst->get(), "RGB", k) + 1 == c) {
                    const int64_t g = src->sample(x, y, 1);
                    if (sd == VEX_DEPTH_1U)
                        *v = g ? uint8_t(int32_t(iw[k] * 255) >> 8) : 0;
                    else if (sd == VEX_DEPTH_32S)  // limited to the 32-bit range
                        *v = std::min<double>(2147483647, std::max<double>(-2147483648.0, std::trunc(double(g) * fw[k])));
                    else {
                        const int32_t p = int32_t(uint32_t(uint64_t(g) * uint64_t(iw[k])));
                        *v = sd == VEX_DEPTH_8U ? uint8_t(p >> shift) : uint16_t(p >> shift);
                    }
                    return true;
                }
            return false;
        });
        auto td = makeShaped(s, dd, s.nChannels, true, "RGB", 11);
        vexGrayToColor(src->get(), td->get(), w[0], w[1], w[2], nullptr);
        EXPECT_EQ(vt::diffSamples(td->get(), dst->get()), "");
    }
}

// ------------------------------------------------------------ round trip

// RGB -> HSV -> RGB stays within the error the fixed-point forms allow: the
// hue is kept in 2-degree steps on 8U (a step moves a channel by up to
// 255 * 2 / 60 = 8.5) and in whole degrees on 16U (65535 / 60 = 1092.25),
// and the 8U products fall short by a little more.
TEST(ColorModels, RoundTripWithinTheFixedPointBound) {
    std::mt19937 rng(3);
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_16U}) {
        for (Op op : {kHsv, kHls}) {
            const int64_t M = maxOf(depth);
            vt::Image s(depth, 3, 64, 64), h(depth, 3, 64, 64), back(depth, 3, 64, 64);
            std::memcpy(s.get()->channelSeq, "RGB", 3);
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x)
                    for (int c = 1; c <= 3; ++c) s.setSample(x, y, c, int64_t(rng() % uint32_t(M + 1)));
            runOp(op, s.get(), h.get());
            runOp(Op(op + 1), h.get(), back.get());
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            int64_t worst = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x)
                    for (int c = 1; c <= 3; ++c) {
                        // back is RGB ("RGB" written over its channelSeq): channel 1 is red.
                        const int64_t want = s.sample(x, y, c), got = back.sample(x, y, c);
                        worst = std::max(worst, std::abs(want - got));
                    }
            const int64_t bound = depth == VEX_DEPTH_8U ? 12 : 1100;
            EXPECT_LE(worst, bound) << vt::depthName(depth) << " op " << op;
            EXPECT_GT(worst, 0);  // the conversion is not lossless: the test measures something
        }
    }
}

// ------------------------------------------------------------ checks

struct Step {
    std::function<void()> spoil;
    const char* func;
    const char* context;
    const char* file;
};

void runSteps(const std::vector<Step>& steps, const std::function<void()>& call, const vt::ImageBase& dst) {
    for (const Step& st : steps) {
        st.spoil();
        SCOPED_TRACE(st.context);
        const auto before = dst.bytes();
        vt::ReportLog log;
        call();
        ASSERT_EQ(log.size(), 1u);
        std::string expected = st.context;
        if (st.context[0] == 'I') expected.resize(70, ' '), expected += "\n";  // a header's message
        EXPECT_EQ(log[0].context, expected);
        EXPECT_EQ(log[0].status, VEX_StsBadArg);
        EXPECT_EQ(log[0].funcName, st.func);
        EXPECT_EQ(log[0].file, st.file);
        EXPECT_EQ(dst.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
}

TEST(ColorChecks, ModelConversionsInOrder) {
    vt::Image src(VEX_DEPTH_8U, 3, 4, 8), dst(VEX_DEPTH_8U, 3, 4, 8), one(VEX_DEPTH_8U, 1, 4, 8);
    dst.fillPattern(3);
    VexImage *s = src.get(), *d = dst.get();
    const std::vector<Step> steps = {
        {[&] { s->align = 5; }, "vexRGB2HSV", "Image align is invalid", "vexcolor"},
        {[&] { s->align = 4, d->origin = 7; }, "vexRGB2HSV", "Image origin is invalid", "vexcolor"},
        // (An image with neither data nor tiles fails the header check first,
        // so "null_data_pointer" cannot be reached through the public calls.)
        {[&] { d->origin = 0, std::memcpy(s->colorSpace, "HSV", 3); }, "vexRGB2HSV", "incomatibleimages", "vexcolor"},
        {[&] { std::memcpy(s->colorSpace, "RGB", 3), src.setRoi(2, 0, 0, 4, 8); }, "vexRGB2HSV", "incomatibleimages", "vexcolor"},
        {[&] { dst.setRoi(1, 0, 0, 4, 8), s->origin = 1; }, "vexRGB2HSV", "incomatibleimages", "vexcolor"},
        {[&] { d->origin = 1, s->depth = VEX_DEPTH_8S; }, "vexRGB2HSV", "incomatibleimages", "vexcolor"},
        {[&] { d->depth = VEX_DEPTH_8S; }, "ownRGB2HSV", "errInOutDepth", "owncolor"},
    };
    // The last step writes "HSV" into the destination's header before the depth test.
    runSteps(steps, [&] { std::memcpy(d->colorSpace, "RGB", 3), vexRGB2HSV(s, d, nullptr); }, dst);
    EXPECT_EQ(std::string(d->colorSpace, 3), "HSV");
    EXPECT_EQ(std::string(d->channelSeq, 3), "HSV");
    // Fewer than three channels cannot hold a colour model.
    s->depth = d->depth = VEX_DEPTH_8U;
    one.setRoi(0, 0, 0, 4, 8);
    {
        vt::ReportLog log;
        vexRGB2HLS(one.get(), one.get(), nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, "incomatibleimages");
    }
    for (auto fn : {vexHSV2RGB, vexHLS2RGB, vexRGB2HLS}) {
        vt::ReportLog log;
        std::memcpy(s->colorSpace, "XYZ", 3);
        fn(s, d, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, "incomatibleimages");
    }
    vt::Image s16(VEX_DEPTH_16S, 3, 2, 2), d16(VEX_DEPTH_16S, 3, 2, 2);
    std::memcpy(s16.get()->colorSpace, "HLS", 3);
    vt::ReportLog log;
    vexHLS2RGB(s16.get(), d16.get(), nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].funcName, "ownRGB2HLS");
    EXPECT_EQ(log[0].context, "errInOutDepth");
    vexSetErrStatus(VEX_StsOk);
}

TEST(ColorChecks, GrayInOrder) {
    vt::Image s2(VEX_DEPTH_8U, 3, 4, 8), d2(VEX_DEPTH_8U, 1, 4, 8), d3(VEX_DEPTH_8U, 3, 4, 8);
    VexImage *s = s2.get(), *d = d2.get();
    const std::vector<Step> gray = {
        {[&] { d->align = 3; }, "vexColorToGray", "Image align is invalid", "vexcolor"},
        {[&] { d->align = 4, std::memcpy(s->colorSpace, "GRA", 3); }, "vexColorToGray", "incomatibleimages", "vexcolor"},
        {[&] { std::memcpy(s->colorSpace, "RGB", 3), d->origin = 1; }, "vexColorToGray", "incomatibleimages", "vexcolor"},
        {[&] { d->origin = 0, s->depth = VEX_DEPTH_16S, s->widthStep *= 2, s->dataSize *= 2; }, "ownColorToGray", "errInOutDepth", "owncolor"},
    };
    std::vector<char> big(size_t(s->dataSize) * 2 + 64);
    char* own = s->imageData;
    s->imageData = big.data();
    runSteps(gray, [&] { vexColorToGray(s, d, nullptr); }, d2);
    // A destination of three channels in pixel order is no gray image.
    s->depth = VEX_DEPTH_8U, s->widthStep /= 2, s->dataSize /= 2, s->imageData = own;
    {
        vt::ReportLog log;
        vexColorToGray(s, d3.get(), nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, "incomatibleimages");
    }
    vexSetErrStatus(VEX_StsOk);
    // Gray to colour.
    vt::Image g(VEX_DEPTH_8U, 1, 4, 8), c(VEX_DEPTH_16U, 3, 4, 8), c8(VEX_DEPTH_8S, 3, 4, 8), g8(VEX_DEPTH_8S, 1, 4, 8);
    const std::vector<Step> color = {
        {[] {}, "vexGrayToColor", "incomatibleimages", "vexcolor"},
    };
    runSteps(color, [&] { vexGrayToColor(g.get(), c.get(), 0, 0, 0, nullptr); }, c);
    std::memcpy(c8.get()->colorSpace, "RGB", 3);
    const std::vector<Step> depth = {{[] {}, "ownGrayToColor", "errInOutDepth", "owncolor"}};
    runSteps(depth, [&] { vexGrayToColor(g8.get(), c8.get(), 0, 0, 0, nullptr); }, c8);
}

// ------------------------------------------------------------ tile iterator

// A mapping names one destination tile by column and row; only it is got
// and written. Every tile got for writing is released with its own buffer.
TEST(ColorTiles, MappingNamesOneTileAndNullEndsTheWalk) {
    Shape s{VEX_DEPTH_8U, 0, 3, 4, true, 20, 20};
    auto src = makeShaped(s, VEX_DEPTH_8U, 3, false, "RGB", 1);
    vt::TiledImage dst(VEX_DEPTH_8U, 3, 20, 20, 8, 8);
    dst.fillPattern(4);
    vt::TiledImage whole = dst.clone();
    vexRGB2HSV(src->get(), whole.get(), nullptr);
    const VexMapping m{2, 1};
    vexRGB2HSV(src->get(), dst.get(), &m);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
    const std::vector<vt::TileCall> want = {{2, 1, VEX_TILE_GET_WRITE}, {2, 1, VEX_TILE_RELEASE}};
    EXPECT_EQ(dst.calls(), want);
    EXPECT_EQ(dst.releaseMismatches(), 0);
    vt::TiledImage orig(VEX_DEPTH_8U, 3, 20, 20, 8, 8);
    orig.fillPattern(4);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            for (int c = 1; c <= 3; ++c)
                EXPECT_EQ(dst.sample(x, y, c), (x >= 16 && y >= 8 && y < 16 ? whole : orig).sample(x, y, c));
    // The whole walk: rows of tiles left to right, each got and released.
    EXPECT_EQ(whole.outstanding(), 0);
    std::vector<vt::TileCall> walk;
    for (int ty = 0; ty < 3; ++ty)
        for (int tx = 0; tx < 3; ++tx) walk.push_back({tx, ty, 2}), walk.push_back({tx, ty, 4});
    EXPECT_EQ(whole.calls(), walk);
    // A tile the callback refuses ends its row: the walk goes on with the next row.
    vt::TiledImage refusing(VEX_DEPTH_8U, 3, 20, 20, 8, 8);
    refusing.refuse(1, 0, VEX_TILE_GET_WRITE);
    vexRGB2HSV(src->get(), refusing.get(), nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    ASSERT_GE(refusing.calls().size(), 4u);
    EXPECT_EQ(refusing.calls()[2], (vt::TileCall{1, 0, 2}));
    EXPECT_EQ(refusing.calls()[3], (vt::TileCall{0, 1, 2}));
    EXPECT_EQ(refusing.outstanding(), 0);
}

}  // namespace
