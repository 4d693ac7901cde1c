// The alpha family against plain reference formulas: one matrix of random
// scenes per operation (depths, channel counts, data-order mixtures, ROI,
// COI, tiles of every size, alpha images, images in two roles, whole-pixel
// RGBA rows and a streamed one), the reference's worked numbers, the block
// tiling's tile calls, mapping and refused tiles, and one table of check texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using vt::ReportLog;
using ImagePtr = std::unique_ptr<vt::ImageBase>;

// ------------------------------------------------------------ reference rules

int64_t maxOf(unsigned depth) { return depth == VEX_DEPTH_8U ? 255 : 65535; }
// Scale: t / M by shift and add, 8 or 16 bits after the depth.
int64_t scaleRef(int64_t t, int64_t M) { return (t + (t >> (M == 255 ? 8 : 16)) + 1) >> (M == 255 ? 8 : 16); }

// Colour and result opacity of one pixel, as the operator table states them.
struct Pixel { int64_t colour, opacity; };
Pixel compositeInt(int64_t M, int type, bool premul, int64_t A, int64_t B, int64_t a, int64_t b) {
    auto S = [M](int64_t x, int64_t y) { return scaleRef(x * y, M); };
    const int64_t pa = premul ? A : S(A, a), pb = premul ? B : S(B, b);
    int64_t c = 0, r = 0;
    switch (type) {
        case 0: c = pa + pb - S(pb, a), r = a + b - S(a, b); break;
        case 1: c = S(pa, b), r = S(a, b); break;
        case 2: c = pa - S(pa, b), r = a - S(a, b); break;
        case 3: c = S(pa, b) + pb - S(a, pb), r = b; break;
        case 4: c = pa - S(pa, b) + pb - S(a, pb), r = a + b - 2 * S(a, b); break;
        case 5: c = pa + pb, r = a + b; break;
    }
    return {std::min(c, M), std::min(r, M)};
}
// Nearest integer, ties to even, through a float of magnitude 2^23.
int64_t roundEven(double v) { return int64_t(float(v + 8388608.0)) - 8388608; }
Pixel compositeFloat(int64_t M, int type, bool premul, int64_t A, int64_t B, int64_t a, int64_t b) {
    const double al = double(a) / double(M), be = double(b) / double(M);
    const double pa = premul ? double(A) : A * al, pb = premul ? double(B) : B * be;
    double c = 0, r = 0;
    switch (type) {
        case 0: c = pa + pb * (1 - al), r = al + (1 - al) * be; break;
        case 1: c = pa * be, r = al * be; break;
        case 2: c = pa - pa * be, r = al - al * be; break;
        case 3: c = pa * be + pb - al * pb, r = be; break;
        case 4: c = pa - pa * be + pb - al * pb, r = al + be - 2 * al * be; break;
        case 5: c = pa + pb, r = al + be; break;
    }
    if (r > (1.0 / double(M)) * (1.0 / double(M)) / 2) c = std::min(c / r, double(M));
    return {std::min(roundEven(c), M), std::min(roundEven(r * double(M)), M)};
}

// ------------------------------------------------------------ images

ImagePtr make(const vt::Layout& l, uint32_t key, int alphaChannel = 0) {
    ImagePtr im = vt::makeImage(l, key);
    im->get()->alphaChannel = alphaChannel;
    return im;
}

// The operations through one signature: im = {dst, A, B, alphaA, alphaB,
// alphaDst} (null when absent), the scalars in p.
struct Params {
    int type = 0, premul = 0, divide = 0, a = -1, b = -1;
    int64_t value = 0;
};
enum Fn { kMulScale, kMulSScale, kPreMul, kComposite, kCompositeC, kFnCount };
const char* const kFnName[] = {"vexMultiplyScale", "vexMultiplySScale", "vexPreMultiplyAlpha",
                               "vexAlphaComposite", "vexAlphaCompositeC"};

void call(Fn f, VexImage* const* im, const Params& p) {
    switch (f) {
        case kMulScale: vexMultiplyScale(im[1], im[2], im[0], nullptr); break;
        case kMulSScale: vexMultiplySScale(im[1], im[0], unsigned(p.value), nullptr); break;
        case kPreMul: vexPreMultiplyAlpha(im[0], int(p.value), nullptr); break;
        case kComposite: vexAlphaComposite(im[1], im[2], im[0], p.type, im[3], im[4], im[5], p.premul, p.divide, nullptr); break;
        case kCompositeC: vexAlphaCompositeC(im[1], im[2], im[0], p.type, p.a, p.b, p.premul, p.divide, nullptr); break;
        case kFnCount: break;
    }
}

// Writes the expected result into `out` (copies of the destination and the
// opacity destination, index 0 and 5) from the pre-call images `in`.
void reference(Fn f, VexImage* const* in, VexImage* const* out, const Params& p) {
    VexImage* const dst = in[0];
    const int64_t M = maxOf(dst->depth);
    int W = 99999, H = 99999, coi[6] = {};
    vt::Clip r[6];
    for (int i = 0; i < 6; ++i)
        if (in[i]) r[i] = vt::clipOf(in[i]), coi[i] = in[i]->roi ? in[i]->roi->coi : 0, W = std::min(W, r[i].w), H = std::min(H, r[i].h);
    const bool one = coi[0] > 0;
    auto s = [&](int i, int x, int y, int c) { return vt::sample(in[i], r[i].x + x, r[i].y + y, c); };
    auto put = [&](int i, int x, int y, int c, int64_t v) { vt::setSample(out[i], r[i].x + x, r[i].y + y, c, v); };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (f == kMulScale || f == kMulSScale) {
                const int64_t v = std::min<int64_t>(uint32_t(p.value), M);
                for (int c = 1; c <= (one ? 1 : dst->nChannels); ++c) {
                    const int64_t A = s(1, x, y, one ? coi[1] : c);
                    const int64_t B = f == kMulScale ? s(2, x, y, one ? coi[2] : c) : v;
                    put(0, x, y, one ? coi[0] : c, scaleRef(A * B, M));
                }
            } else if (f == kPreMul) {
                const int ac = dst->alphaChannel;
                const int64_t alpha = p.value >= 0 ? std::min<int64_t>(p.value, M) : s(0, x, y, ac);
                for (int c = 1; c <= dst->nChannels; ++c)
                    if (c != ac && (!one || c == coi[0])) put(0, x, y, c, scaleRef(s(0, x, y, c) * alpha, M));
                if (p.value >= 0 && ac) put(0, x, y, ac, alpha);
            } else {
                int64_t a, b;
                auto channelOf = [](const VexImage* im) { return im->alphaChannel ? im->alphaChannel : 1; };
                if (f == kCompositeC) {
                    a = p.a < 0 ? s(1, x, y, in[1]->alphaChannel) : std::min<int64_t>(p.a, M);
                    b = p.b < 0 ? s(2, x, y, in[2]->alphaChannel) : std::min<int64_t>(p.b, M);
                } else {
                    a = in[3] ? s(3, x, y, channelOf(in[3])) : s(1, x, y, in[1]->alphaChannel);
                    b = in[4] ? s(4, x, y, channelOf(in[4])) : !in[3] ? s(2, x, y, in[2]->alphaChannel) : M - a;
                }
                auto rule = p.divide ? compositeFloat : compositeInt;
                const int colours = dst->nChannels - (dst->alphaChannel != 0);
                for (int c = 1; c <= (one ? 1 : colours); ++c) {
                    const int dc = one ? coi[0] : c;
                    if (dc == dst->alphaChannel) continue;
                    const int64_t A = s(1, x, y, one ? coi[1] : c), B = s(2, x, y, one ? coi[2] : c);
                    put(0, x, y, dc, rule(M, p.type, p.premul, A, B, a, b).colour);
                }
                const int64_t opacity = rule(M, p.type, p.premul, a, b, a, b).opacity;
                if (f == kComposite && in[5])
                    put(5, x, y, in[5]->alphaChannel, opacity);
                else if (f == kComposite && dst->alphaChannel)
                    put(0, x, y, dst->alphaChannel, opacity);
            }
        }
}

// ------------------------------------------------------------ the matrix

struct Scene {
    Fn fn;
    std::vector<vt::Layout> layouts;  // 6 slots; nChannels 0 = absent
    int alpha[6] = {};
    Params p;
    bool inPlace = false;  // A is the destination
};

std::string describe(const Scene& sc) {
    std::string d = std::string(kFnName[sc.fn]) + " type " + std::to_string(sc.p.type) + " premul " + std::to_string(sc.p.premul) + " divide " +
         std::to_string(sc.p.divide) + " a " + std::to_string(sc.p.a) + " b " + std::to_string(sc.p.b) +
         " value " + std::to_string(sc.p.value) + (sc.inPlace ? " in place" : "");
    for (int i = 0; i < 6; ++i)
        if (sc.layouts[i].nChannels) d += " | " + std::to_string(i) + ": " + vt::describe(sc.layouts[i]) +
                                         " alpha " + std::to_string(sc.alpha[i]);
    return d;
}


// A valid random call of `fn`: equal depths, channel counts and COIs as the
// rules want them, alpha channels last, every data order mixture.
Scene randomScene(std::mt19937& rng, Fn fn) {
    Scene sc;
    sc.fn = fn;
    sc.layouts.assign(6, vt::Layout{});
    for (auto& l : sc.layouts) l.nChannels = 0;
    vt::LayoutLimits lim;
    lim.depths = {VEX_DEPTH_8U, VEX_DEPTH_16U}, lim.roiOutside = true;
    vt::Layout d = vt::randomLayout(rng, lim);
    auto source = [&](int nChannels) {
        vt::LayoutLimits sl = lim;
        sl.depths = {d.depth};
        vt::Layout l = vt::randomLayout(rng, sl);
        l.nChannels = nChannels;
        if (d.hasRoi && d.roi.coi) {  // a selected channel of its own
            l.hasRoi = true;
            if (!l.roi.width) l.roi = {0, 0, 0, l.height, l.width};
            l.roi.coi = vt::uniform(rng, 1, nChannels);
        } else if (!d.hasRoi || l.roi.coi > nChannels) {
            l.roi.coi = 0;
        }
        return l;
    };
    if ((fn == kComposite || fn == kCompositeC) && vt::uniform(rng, 0, 3) == 0)  // the whole-pixel RGBA case
        d.nChannels = 4, d.order = VEX_DATA_ORDER_PIXEL, d.hasRoi = d.hasRoi && vt::uniform(rng, 0, 1), d.roi.coi = 0;
    const bool one = d.hasRoi && d.roi.coi;
    if (fn == kComposite || fn == kCompositeC) {
        sc.alpha[0] = d.nChannels > 1 && vt::uniform(rng, 0, 2) ? d.nChannels : 0;
        const int colours = d.nChannels - (sc.alpha[0] != 0);
        sc.p.type = vt::uniform(rng, 0, 5), sc.p.premul = vt::uniform(rng, 0, 1), sc.p.divide = vt::uniform(rng, 0, 2) == 0;
        const bool rgba = d.nChannels == 4 && sc.alpha[0] == 4 && d.order == VEX_DATA_ORDER_PIXEL && vt::uniform(rng, 0, 1);
        if (rgba) d.width += 16, d.roi.width += 16;
        bool hasImg[3] = {false, false, false};  // alphaImageA, alphaImageB, alphaImageDst
        if (fn == kComposite && !rgba)
            for (bool& h : hasImg) h = vt::uniform(rng, 0, 2) == 0;
        if (fn == kCompositeC) {
            const int kConst[] = {-1, -5, 0, 1, 77, 128, 255, 256, 300, 65535, 70000};
            sc.p.a = rgba ? -1 : kConst[vt::uniform(rng, 0, 10)];
            sc.p.b = rgba ? -1 : kConst[vt::uniform(rng, 0, 10)];
        }
        const bool aOwn = fn == kComposite ? !hasImg[0] : sc.p.a < 0;
        const bool bOwn = fn == kComposite ? !hasImg[1] && !hasImg[0] : sc.p.b < 0;
        for (int i = 1; i <= 2; ++i) {
            const bool own = i == 1 ? aOwn : bOwn;
            const bool withAlpha = own || vt::uniform(rng, 0, 1);
            const int n = one ? vt::uniform(rng, 1, 4) : colours + withAlpha;
            sc.layouts[i] = source(std::max(n, 1));
            if (one && withAlpha && sc.layouts[i].nChannels < 2) sc.layouts[i].nChannels = 2;
            if (one && sc.layouts[i].roi.coi > sc.layouts[i].nChannels) sc.layouts[i].roi.coi = 1;
            sc.alpha[i] = withAlpha ? sc.layouts[i].nChannels : 0;
            if (rgba) sc.layouts[i].nChannels = 4, sc.layouts[i].order = VEX_DATA_ORDER_PIXEL, sc.alpha[i] = 4;
            if (rgba) sc.layouts[i].width += 16, sc.layouts[i].roi.width += 16;  // whole vectors too
        }
        for (int k = 0; k < 3; ++k)
            if (hasImg[k]) {
                vt::LayoutLimits al = lim;
                al.depths = {d.depth};
                sc.layouts[3 + k] = vt::randomLayout(rng, al);
                const int n = sc.layouts[3 + k].nChannels;
                sc.alpha[3 + k] = k == 2 ? vt::uniform(rng, 1, n) : vt::uniform(rng, 0, 1) ? n : 0;
                if (sc.alpha[3 + k]) sc.alpha[3 + k] = std::min(sc.alpha[3 + k], n);
            }
        if (rgba && !one && vt::uniform(rng, 0, 3) == 0) sc.inPlace = true;
    } else if (fn == kPreMul) {
        if (vt::uniform(rng, 0, 3) == 0) d.nChannels = 4, d.order = VEX_DATA_ORDER_PIXEL;
        sc.alpha[0] = vt::uniform(rng, 0, 3) ? d.nChannels : 0;
        const int64_t kValues[] = {-1, -7, 0, 1, 128, 255, 256, 65535, 100000};
        sc.p.value = kValues[vt::uniform(rng, sc.alpha[0] ? 0 : 2, 8)];
    } else {
        for (int i = 1; i <= (fn == kMulScale ? 2 : 1); ++i) sc.layouts[i] = source(one ? vt::uniform(rng, 1, 4) : d.nChannels);
        const int64_t kValues[] = {0, 1, 2, 128, 254, 255, 256, 300, 65534, 65535, 65536, -1, -300};
        sc.p.value = kValues[vt::uniform(rng, 0, 12)];
        sc.inPlace = !one && vt::uniform(rng, 0, 5) == 0;
    }
    sc.layouts[0] = d;
    if (sc.inPlace) sc.layouts[1] = d, sc.alpha[1] = sc.alpha[0];
    return sc;
}

// Runs a scene on fresh images against the reference; *sawTiles is set
// when an image was tiled (its tile calls are checked too).
void runScene(const Scene& sc, uint32_t key, bool* sawTiles = nullptr) {
    std::vector<ImagePtr> im(6);
    VexImage* h[6] = {};
    for (int i = 0; i < 6; ++i)
        if (sc.layouts[i].nChannels && !(sc.inPlace && i == 1)) im[i] = make(sc.layouts[i], key + 17 * i, sc.alpha[i]), h[i] = im[i]->get();
    if (sc.inPlace) h[1] = h[0];
    ImagePtr before[6], expect[6];
    VexImage *in[6] = {}, *out[6] = {};
    for (int i = 0; i < 6; ++i)
        if (im[i]) before[i] = vt::cloneOf(*im[i]), expect[i] = vt::cloneOf(*im[i]), in[i] = before[i]->get(), out[i] = expect[i]->get();
    if (sc.inPlace) in[1] = in[0];
    reference(sc.fn, in, out, sc.p);
    ReportLog log;
    vexSetErrStatus(VEX_StsOk);
    call(sc.fn, h, sc.p);
    ASSERT_EQ(log.size(), 0u) << log[0].funcName << ": " << log[0].context;
    for (int i = 0; i < 6; ++i) {
        if (!im[i]) continue;
        EXPECT_EQ(vt::diffSamples(h[i], out[i]), "") << "image " << i;
        if (auto* t = dynamic_cast<vt::TiledImage*>(im[i].get())) {
            if (sawTiles) *sawTiles = true;
            EXPECT_EQ(vt::tileFaults(t), "") << "image " << i;
            // Read images are never got for writing.
            const bool written = i == 0 || (i == 5 && sc.fn == kComposite) || (sc.inPlace && i == 1);
            for (const vt::TileCall& c : t->calls())
                EXPECT_TRUE(written || c.mode != VEX_TILE_GET_WRITE) << "image " << i;
        } else {
            EXPECT_EQ(im[i]->bytes(), expect[i]->bytes()) << "bytes outside the samples of image " << i;
        }
    }
}

class Matrix : public ::testing::TestWithParam<int> {};

TEST_P(Matrix, MatchesTheReference) {
    const Fn fn = Fn(GetParam());
    std::mt19937 rng(4321 + GetParam());
    bool sawTiles = false;
    for (int trial = 0; trial < 400; ++trial) {
        const Scene sc = randomScene(rng, fn);
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(sc));
        runScene(sc, rng(), &sawTiles);
        if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(sawTiles);
    // A destination of 16 MiB and more takes the streaming path of the
    // whole-pixel rows; a ROI at column 1 leaves each row's head unaligned.
    if (fn != kComposite) return;
    Scene big;
    big.fn = fn, big.p.type = 3;
    big.layouts.assign(6, vt::Layout{});
    for (int i = 0; i < 6; ++i) {
        vt::Layout& l = big.layouts[i];
        l.nChannels = i < 3 ? 4 : 0, l.height = 1030, l.width = 4100, l.hasRoi = true, l.roi = {0, 1, 0, 1030, 4099};
        big.alpha[i] = i < 3 ? 4 : 0;
    }
    runScene(big, 77);
}
INSTANTIATE_TEST_SUITE_P(Alpha, Matrix, ::testing::Range(0, int(kFnCount)),
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(kFnName[i.param]); });

// The reference rules on numbers worked by hand: the shift-and-add scale is
// the rounded quotient or one below it, exact at multiples of M; over, plus,
// in, the floating form (ties to even), premultiplied colours.
TEST(Reference, WorkedNumbers) {
    for (int64_t t = 0; t <= 255 * 255; ++t) {
        const int64_t got = scaleRef(t, 255), round = std::lround(double(t) / 255.0);
        ASSERT_TRUE(got == round || (got == round - 1 && t % 255 != 0)) << t;
    }
    EXPECT_EQ(scaleRef(int64_t(65535) * 65535, 65535), 65535);
    EXPECT_EQ(scaleRef(128 * 128, 255), 64);
    struct W { bool divide; int type, premul; int64_t A, B, a, b, colour, opacity; };
    for (const W& w : {W{false, 0, 0, 200, 100, 255, 255, 200, 255}, W{false, 0, 0, 200, 100, 0, 128, 50, 128},
                       W{false, 5, 1, 200, 100, 9, 9, 255, 18}, W{false, 1, 0, 200, 0, 255, 128, 100, 128},
                       W{true, 1, 0, 200, 9, 255, 255, 200, 255}, W{true, 1, 0, 200, 9, 0, 255, 0, 0},
                       W{true, 5, 1, 3, 0, 255, 255, 2, 255}, W{true, 5, 1, 5, 0, 255, 255, 2, 255},
                       W{true, 5, 1, 7, 0, 255, 255, 4, 255}}) {
        const Pixel p = (w.divide ? compositeFloat : compositeInt)(255, w.type, w.premul, w.A, w.B, w.a, w.b);
        EXPECT_EQ(p.colour, w.colour) << w.type << " " << w.A;
        EXPECT_EQ(p.opacity, (w.divide ? compositeFloat : compositeInt)(255, w.type, w.premul, w.a, w.b, w.a, w.b).opacity);
        EXPECT_EQ(p.opacity, w.opacity);
    }
}

// ------------------------------------------------------------ tiling

// Blocks follow the reference image's tile grid from its ROI offset; a
// block inside one tile fetches it once (mode 2, then 4); the image in two
// roles is never fetched twice for one block.
TEST(Tiling, BlockCallsOnTheReferenceGrid) {
    vt::TiledImage D(VEX_DEPTH_8U, 1, 16, 32, 16, 8), S(VEX_DEPTH_8U, 1, 16, 32, 8, 8);
    vt::Image A(VEX_DEPTH_8U, 1, 16, 32);
    D.setRoi(0, 10, 2, 10, 20);  // columns 10..29: blocks 10-15, 16-29; rows 2-7, 8-11
    S.setRoi(0, 10, 2, 10, 20);
    ReportLog log;
    vexMultiplyScale(D.get(), A.get(), D.get(), nullptr);
    using C = std::vector<vt::TileCall>;
    EXPECT_EQ(D.calls(), (C{{0, 0, 2}, {0, 0, 4}, {1, 0, 2}, {1, 0, 4}, {0, 1, 2}, {0, 1, 4}, {1, 1, 2}, {1, 1, 4}}));
    // A source on a finer grid spans several of its tiles per block: all are held, read, released.
    vexMultiplyScale(S.get(), A.get(), D.get(), nullptr);
    EXPECT_EQ(S.calls().front(), (vt::TileCall{1, 0, 1}));
    EXPECT_EQ(S.outstanding(), 0);
    EXPECT_EQ(log.size(), 0u);
}

// A mapping computes only the block of the tile holding the pixel; a tile
// outside the working rectangle computes nothing and reports nothing.
TEST(Tiling, MappingSelectsOneBlock) {
    vt::TiledImage D(VEX_DEPTH_8U, 2, 24, 24, 8, 8);
    vt::Image A(VEX_DEPTH_8U, 2, 24, 24);
    A.fillPattern(3), D.fillPattern(4);
    D.setRoi(0, 8, 8, 12, 12);  // rows and columns 8..19
    const vt::TiledImage before = D.clone();
    ReportLog log;
    const VexMapping m{12, 19};  // tile (1, 2): rows 16..19 of the region
    vexMultiplySScale(A.get(), D.get(), 128, &m);
    for (int k = 0; k < 24 * 24 * 2; ++k) {
        const int x = k % 24, y = k / 24 % 24, c = k / 576 + 1;
        const bool in = x >= 8 && x < 16 && y >= 16 && y < 20;
        ASSERT_EQ(D.sample(x, y, c), in ? scaleRef(A.sample(x - 8, y - 8, c) * 128, 255) : before.sample(x, y, c)) << x << "," << y;
    }
    for (const VexMapping& out : {VexMapping{30, 9}, VexMapping{-1, 9}, VexMapping{2, 2}}) {
        D.clearCalls();
        vexMultiplySScale(A.get(), D.get(), 7, &out);
        EXPECT_TRUE(D.calls().empty());
    }
    EXPECT_EQ(log.size(), 0u);
}

// A tile that is not delivered: "ERROR in Tiling callBack", VEX_StsError;
// the blocks before it stay written, every delivered tile is released.
TEST(Tiling, RefusedTileReportsAndReleases) {
    for (int refused = 0; refused < 3; ++refused) {
        vt::TiledImage A(VEX_DEPTH_16U, 4, 8, 32, 8, 8), D(VEX_DEPTH_16U, 4, 8, 32, 16, 8), B(VEX_DEPTH_16U, 4, 8, 32, 8, 8);
        A.get()->alphaChannel = B.get()->alphaChannel = D.get()->alphaChannel = 4;
        A.fillPattern(1), B.fillPattern(2), D.fillPattern(3);
        const vt::TiledImage before = D.clone();
        (refused == 0 ? A : refused == 1 ? B : D).refuse(refused == 2 ? 1 : 2, -1, refused == 2 ? VEX_TILE_GET_WRITE : VEX_TILE_GET_READ);
        ReportLog log;
        vexAlphaComposite(A.get(), B.get(), D.get(), 0, nullptr, nullptr, nullptr, 0, 0, nullptr);
        vexSetErrStatus(VEX_StsOk);
        vt::expectOneReport(log, VEX_StsError, "vexAlphaComposite", "vexalpha", "ERROR in Tiling callBack");
        for (vt::TiledImage* t : {&A, &B, &D}) EXPECT_EQ(t->outstanding(), 0);
        for (int x = 0; x < 32; ++x) {  // destination blocks are 16 wide: the second meets the refused tile
            const int64_t want = compositeInt(65535, 0, false, A.sample(x, 0, 1), B.sample(x, 0, 1), A.sample(x, 0, 4), B.sample(x, 0, 4)).colour;
            EXPECT_EQ(D.sample(x, 0, 1), x < 16 ? want : before.sample(x, 0, 1)) << x;
        }
    }
}

// ------------------------------------------------------------ checks

// Every reachable check text, each under its function and "vexalpha", the
// destination untouched. The images: dst, A, B 16U with four channels and
// alpha channel 4; alpha images 16U with one channel. The fields that
// vexBadImageHeader already refuses are reported with its text.
TEST(Checks, EveryText) {
    using Spoil = std::function<void(VexImage**, Params&)>;
    struct CheckCase { Fn fn; Spoil spoil; std::string text; };
    VexROI roi{};
    static VexROI zero{0, 0, 0, 8, 8}, two{2, 0, 0, 8, 8};
    auto roiOn = [&](VexImage* im, int coi, int x, int y) { roi = {coi, x, y, 8, 8}, im->roi = &roi; };
    std::vector<CheckCase> cases;
    auto add = [&](Fn fn, Spoil f, std::string text) { cases.push_back({fn, f, text}); };
    // The field sequence, with each argument's own name.
    const struct { Fn fn; int image; const char* name; } seqs[] = {
        {kMulScale, 0, "dstImage"},  {kMulScale, 1, "srcImageA"},      {kMulScale, 2, "srcImageB"},
        {kMulSScale, 0, "dstImage"}, {kMulSScale, 1, "srcImage"},      {kPreMul, 0, "image"},
        {kComposite, 3, "alphaImageA"}, {kComposite, 4, "alphaImageB"}, {kComposite, 5, "alphaImageDst"},
        {kCompositeC, 2, "srcImageB"},  {kComposite, 0, "dstImage"}};
    for (const auto& q : seqs) {
        const int i = q.image;
        const std::string n = q.name;
        if (i < 3) add(q.fn, [i](VexImage** im, Params&) { im[i] = nullptr; }, n + "==0");
        add(q.fn, [i](VexImage** im, Params&) { im[i]->align = 3; }, "vexBadImageHeader(" + n + ") != 0");
        add(q.fn, [&, i](VexImage** im, Params&) { roiOn(im[i], 0, 12, 0); }, n + "->roi->xOffset >= " + n + "->width");
        add(q.fn, [&, i](VexImage** im, Params&) { roiOn(im[i], 0, 0, 9); }, n + "->roi->yOffset >= " + n + "->height");
    }
    auto depth = [](int i, unsigned d) { return [=](VexImage** im, Params&) { im[i]->depth = d; }; };
    for (Fn fn : {kMulScale, kMulSScale, kComposite, kCompositeC})
        add(fn, depth(0, VEX_DEPTH_16S), "dstImage->depth != 8 && dstImage->depth != 16");
    add(kPreMul, depth(0, VEX_DEPTH_16S), "image->depth != 8 && image->depth != 16");
    const struct { Fn fn; int image; const char* name; } same[] = {
        {kMulScale, 1, "srcImageA"}, {kMulScale, 2, "srcImageB"}, {kMulSScale, 1, "srcImage"}, {kComposite, 1, "srcImageA"},
        {kCompositeC, 2, "srcImageB"}, {kComposite, 3, "alphaImageA"}, {kComposite, 4, "alphaImageB"}, {kComposite, 5, "alphaImageDst"}};
    for (const auto& q : same) add(q.fn, depth(q.image, VEX_DEPTH_8U), std::string(q.name) + "->depth != dstImage->depth");
    // COI rules.
    auto coi = [&](int i, int c) { return [&, i, c](VexImage** im, Params&) { roiOn(im[i], c, 0, 0); }; };
    auto coiWith = [&](VexROI* a, VexROI* b) {
        return [&, a, b](VexImage** im, Params&) { roiOn(im[0], 1, 0, 0), im[1]->roi = a, im[2]->roi = b; };
    };
    add(kMulScale, coi(1, 2), "srcImageA->roi->coi > 0 && dstImage->roi == 0");
    add(kMulScale, coi(2, 2), "srcImageB->roi->coi > 0 && dstImage->roi == 0");
    add(kMulSScale, coi(1, 2), "srcImage->roi->coi > 0 && dstImage->roi == 0");
    add(kCompositeC, coi(2, 1), "srcImageB->roi->coi > 0 && dstImage->roi == 0");
    add(kMulScale, coi(0, 2), "dstImage->roi->coi > 0 && srcImageA->roi == 0");
    add(kComposite, coi(0, 2), "dstImage->roi->coi > 0 && srcImageA->roi == 0");
    add(kMulSScale, coi(0, 1), "dstImage->roi->coi > 0 && srcImage->roi == 0");
    add(kMulScale, coiWith(&zero, nullptr), "dstImage->roi->coi > 0 && srcImageA->roi->coi == 0");
    add(kMulScale, coiWith(&two, nullptr), "dstImage->roi->coi > 0 && srcImageB->roi == 0");
    add(kCompositeC, coiWith(&two, &zero), "dstImage->roi->coi > 0 && srcImageB->roi->coi == 0");
    add(kMulSScale, coiWith(&zero, nullptr), "dstImage->roi->coi > 0 && srcImage->roi->coi == 0");
    // Channel counts and alpha channels.
    auto channels = [](int i, int n, int alpha) { return [=](VexImage** im, Params&) { im[i]->nChannels = n, im[i]->alphaChannel = alpha; }; };
    add(kMulScale, channels(1, 3, 0), "srcImageA->nChannels != dstImage->nChannels");
    add(kMulScale, channels(2, 3, 0), "srcImageB->nChannels != dstImage->nChannels");
    add(kMulSScale, channels(1, 3, 0), "srcImage->nChannels != dstImage->nChannels");
    add(kPreMul, channels(0, 4, 2), "image->alphaChannel > 0 && image->alphaChannel != image->nChannels");
    add(kPreMul, channels(0, 4, 0), "image->alphaChannel < 1");
    add(kComposite, channels(1, 3, 0), "srcImageA->alphaChannel < 1");
    add(kComposite, channels(2, 3, 0), "srcImageB->alphaChannel < 1");
    add(kCompositeC, channels(1, 3, 0), "srcImageA->alphaChannel < 1");
    add(kCompositeC, channels(2, 3, 0), "srcImageB->alphaChannel < 1");
    add(kComposite, channels(5, 1, 0), "alphaImageDst->alphaChannel < 1");
    add(kComposite, channels(1, 4, 2), "srcImageA->alphaChannel > 0 && srcImageA->alphaChannel != srcImageA->nChannels");
    add(kComposite, channels(2, 4, 3), "srcImageB->alphaChannel > 0 && srcImageB->alphaChannel != srcImageB->nChannels");
    add(kCompositeC, channels(0, 4, 1), "dstImage->alphaChannel > 0 && dstImage->alphaChannel != dstImage->nChannels");
    const std::string colours = "->nChannels - (srcImageX->alphaChannel != 0)) != (dstImage->nChannels - (dstImage->alphaChannel != 0))";
    auto coloursOf = [&](char x) { std::string t = "(srcImage" + std::string(1, x) + colours; t[t.find('X')] = x; return t; };
    add(kComposite, channels(1, 2, 2), coloursOf('A'));
    add(kCompositeC, [](VexImage** im, Params& p) { im[2]->nChannels = 2, im[2]->alphaChannel = 0, p.b = 5; }, coloursOf('B'));
    // Modes.
    for (Fn fn : {kComposite, kCompositeC}) {
        add(fn, [](VexImage**, Params& p) { p.type = 6; },
            "compositeType != 0 && compositeType != 1 && compositeType != 2 && compositeType != 3 && "
            "compositeType != 4 && compositeType != 5");
        add(fn, [](VexImage**, Params& p) { p.premul = 2; }, "premulAlpha != 0 && premulAlpha != 1");
        add(fn, [](VexImage**, Params& p) { p.divide = -1; }, "divideMode != 0 && divideMode != 1");
    }
    for (const CheckCase& cc : cases) {
        SCOPED_TRACE(std::string(kFnName[cc.fn]) + ": " + cc.text);
        ImagePtr im[6];
        VexImage* h[6] = {};
        for (int i = 0; i < 6; ++i) {
            vt::Layout l;
            l.depth = VEX_DEPTH_16U, l.height = 8, l.width = 8, l.nChannels = i < 3 ? 4 : 1;
            im[i] = make(l, 5 + i, i < 3 ? 4 : (i == 5 ? 1 : 0));
            h[i] = im[i]->get();
        }
        const bool alphaImages = cc.fn == kComposite && cc.text.find("alphaImage") != std::string::npos;
        VexImage* given[6] = {h[0], h[1], h[2], alphaImages ? h[3] : nullptr, alphaImages ? h[4] : nullptr, alphaImages ? h[5] : nullptr};
        Params p;
        p.value = -1;
        cc.spoil(given, p);
        vt::expectRejected([&] { call(cc.fn, given, p); }, im[0].get(), VEX_StsBadArg, kFnName[cc.fn], "vexalpha", cc.text);
        for (VexImage* x : h) x->roi = nullptr;  // the records above are not the images' own
    }
}

}  // namespace
