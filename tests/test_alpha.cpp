// The alpha family: scaled multiplication, premultiplied alpha and
// compositing against plain reference formulas over random layouts (depths,
// channel counts, data-order mixtures, ROI, COI, tiles, alpha images, images
// in two roles), Scale over every 8U product, the worked numbers, the block
// tiling's tile calls, mapping and failures, and every check text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
int64_t scaleRef(int64_t t, int64_t M) {
    const int bits = M == 255 ? 8 : 16;
    return (t + (t >> bits) + 1) >> bits;
}

// Colour and result opacity of one pixel, as the operator table states them.
struct Pixel {
    int64_t colour, opacity;
};
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
int64_t roundEven(double v) {
    const float f = float(v + 8388608.0);
    return int64_t(f) - 8388608;
}
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

struct Rect {
    int x, y, w, h, coi;
};
Rect rectOf(const VexImage* im) {
    if (!im->roi) return {0, 0, im->width, im->height, 0};
    const VexROI& r = *im->roi;
    return {r.xOffset, r.yOffset, std::min(r.width, im->width - r.xOffset),
            std::min(r.height, im->height - r.yOffset), r.coi};
}
ImagePtr cloneOf(const vt::ImageBase& im) {
    if (auto* t = dynamic_cast<const vt::TiledImage*>(&im)) return std::make_unique<vt::TiledImage>(t->clone());
    return std::make_unique<vt::Image>(dynamic_cast<const vt::Image&>(im).clone());
}
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
    const VexMapping* mapping = nullptr;
};
enum Fn { kMulScale, kMulSScale, kPreMul, kComposite, kCompositeC, kFnCount };
const char* const kFnName[] = {"vexMultiplyScale", "vexMultiplySScale", "vexPreMultiplyAlpha",
                               "vexAlphaComposite", "vexAlphaCompositeC"};

void call(Fn f, VexImage* const* im, const Params& p) {
    switch (f) {
        case kMulScale: vexMultiplyScale(im[1], im[2], im[0], p.mapping); break;
        case kMulSScale: vexMultiplySScale(im[1], im[0], unsigned(p.value), p.mapping); break;
        case kPreMul: vexPreMultiplyAlpha(im[0], int(p.value), p.mapping); break;
        case kComposite:
            vexAlphaComposite(im[1], im[2], im[0], p.type, im[3], im[4], im[5], p.premul, p.divide, p.mapping);
            break;
        case kCompositeC: vexAlphaCompositeC(im[1], im[2], im[0], p.type, p.a, p.b, p.premul, p.divide, p.mapping); break;
        case kFnCount: break;
    }
}

// Writes the expected result into `out` (copies of the destination and the
// opacity destination, index 0 and 5) from the pre-call images `in`.
void reference(Fn f, VexImage* const* in, VexImage* const* out, const Params& p) {
    VexImage* const dst = in[0];
    const int64_t M = maxOf(dst->depth);
    int W = 99999, H = 99999;
    Rect r[6];
    for (int i = 0; i < 6; ++i)
        if (in[i]) {
            r[i] = rectOf(in[i]);
            W = std::min(W, r[i].w);
            H = std::min(H, r[i].h);
        }
    const bool one = r[0].coi > 0;
    auto s = [&](int i, int x, int y, int c) { return vt::sample(in[i], r[i].x + x, r[i].y + y, c); };
    auto put = [&](int i, int x, int y, int c, int64_t v) { vt::setSample(out[i], r[i].x + x, r[i].y + y, c, v); };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (f == kMulScale || f == kMulSScale) {
                const int64_t v = std::min<int64_t>(uint32_t(p.value), M);
                for (int c = 1; c <= (one ? 1 : dst->nChannels); ++c) {
                    const int64_t A = s(1, x, y, one ? r[1].coi : c);
                    const int64_t B = f == kMulScale ? s(2, x, y, one ? r[2].coi : c) : v;
                    put(0, x, y, one ? r[0].coi : c, scaleRef(A * B, M));
                }
            } else if (f == kPreMul) {
                const int ac = dst->alphaChannel;
                const int64_t alpha = p.value >= 0 ? std::min<int64_t>(p.value, M) : s(0, x, y, ac);
                for (int c = 1; c <= dst->nChannels; ++c)
                    if (c != ac && (!one || c == r[0].coi)) put(0, x, y, c, scaleRef(s(0, x, y, c) * alpha, M));
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
                    const int dc = one ? r[0].coi : c;
                    if (dc == dst->alphaChannel) continue;
                    const int64_t A = s(1, x, y, one ? r[1].coi : c), B = s(2, x, y, one ? r[2].coi : c);
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
    std::string d = kFnName[sc.fn];
    d += " type " + std::to_string(sc.p.type) + " premul " + std::to_string(sc.p.premul) + " divide " +
         std::to_string(sc.p.divide) + " a " + std::to_string(sc.p.a) + " b " + std::to_string(sc.p.b) +
         " value " + std::to_string(sc.p.value) + (sc.inPlace ? " in place" : "");
    for (int i = 0; i < 6; ++i)
        if (sc.layouts[i].nChannels) d += " | " + std::to_string(i) + ": " + vt::describe(sc.layouts[i]) +
                                         " alpha " + std::to_string(sc.alpha[i]);
    return d;
}

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// A valid random call of `fn`: equal depths, channel counts and COIs as the
// rules want them, alpha channels last, every data order mixture.
Scene randomScene(std::mt19937& rng, Fn fn) {
    Scene sc;
    sc.fn = fn;
    sc.layouts.assign(6, vt::Layout{});
    for (auto& l : sc.layouts) l.nChannels = 0;
    vt::LayoutLimits lim;
    lim.depths = {VEX_DEPTH_8U, VEX_DEPTH_16U};
    lim.roiOutside = true;
    vt::Layout d = vt::randomLayout(rng, lim);
    auto source = [&](int nChannels) {
        vt::LayoutLimits sl = lim;
        sl.depths = {d.depth};
        vt::Layout l = vt::randomLayout(rng, sl);
        l.nChannels = nChannels;
        if (d.hasRoi && d.roi.coi) {  // a selected channel of its own
            l.hasRoi = true;
            if (!l.roi.width) l.roi = {0, 0, 0, l.height, l.width};
            l.roi.coi = pick(rng, 1, nChannels);
        } else if (!d.hasRoi || l.roi.coi > nChannels) {
            l.roi.coi = 0;
        }
        return l;
    };
    if ((fn == kComposite || fn == kCompositeC) && pick(rng, 0, 3) == 0) {  // the whole-pixel RGBA case
        d.nChannels = 4, d.order = VEX_DATA_ORDER_PIXEL, d.hasRoi = d.hasRoi && pick(rng, 0, 1);
        d.roi.coi = 0;
    }
    const bool one = d.hasRoi && d.roi.coi;
    if (fn == kComposite || fn == kCompositeC) {
        sc.alpha[0] = d.nChannels > 1 && pick(rng, 0, 2) ? d.nChannels : 0;
        const int colours = d.nChannels - (sc.alpha[0] != 0);
        sc.p.type = pick(rng, 0, 5), sc.p.premul = pick(rng, 0, 1), sc.p.divide = pick(rng, 0, 2) == 0;
        const bool rgba = d.nChannels == 4 && sc.alpha[0] == 4 && d.order == VEX_DATA_ORDER_PIXEL && pick(rng, 0, 1);
        if (rgba) d.width += 16, d.roi.width += 16;
        bool hasImg[3] = {false, false, false};  // alphaImageA, alphaImageB, alphaImageDst
        if (fn == kComposite && !rgba)
            for (bool& h : hasImg) h = pick(rng, 0, 2) == 0;
        if (fn == kCompositeC) {
            const int kConst[] = {-1, -5, 0, 1, 77, 128, 255, 256, 300, 65535, 70000};
            sc.p.a = rgba ? -1 : kConst[pick(rng, 0, 10)];
            sc.p.b = rgba ? -1 : kConst[pick(rng, 0, 10)];
        }
        const bool aOwn = fn == kComposite ? !hasImg[0] : sc.p.a < 0;
        const bool bOwn = fn == kComposite ? !hasImg[1] && !hasImg[0] : sc.p.b < 0;
        for (int i = 1; i <= 2; ++i) {
            const bool own = i == 1 ? aOwn : bOwn;
            const bool withAlpha = own || pick(rng, 0, 1);
            const int n = one ? pick(rng, 1, 4) : colours + withAlpha;
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
                sc.alpha[3 + k] = k == 2 ? pick(rng, 1, n) : pick(rng, 0, 1) ? n : 0;
                if (sc.alpha[3 + k]) sc.alpha[3 + k] = std::min(sc.alpha[3 + k], n);
            }
        if (rgba && !one && pick(rng, 0, 3) == 0) sc.inPlace = true;
    } else if (fn == kPreMul) {
        if (pick(rng, 0, 3) == 0) d.nChannels = 4, d.order = VEX_DATA_ORDER_PIXEL;
        sc.alpha[0] = pick(rng, 0, 3) ? d.nChannels : 0;
        const int64_t kValues[] = {-1, -7, 0, 1, 128, 255, 256, 65535, 100000};
        sc.p.value = kValues[pick(rng, sc.alpha[0] ? 0 : 2, 8)];
    } else {
        for (int i = 1; i <= (fn == kMulScale ? 2 : 1); ++i) sc.layouts[i] = source(one ? pick(rng, 1, 4) : d.nChannels);
        const int64_t kValues[] = {0, 1, 2, 128, 254, 255, 256, 300, 65534, 65535, 65536, -1, -300};
        sc.p.value = kValues[pick(rng, 0, 12)];
        sc.inPlace = !one && pick(rng, 0, 5) == 0;
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
        if (sc.layouts[i].nChannels && !(sc.inPlace && i == 1)) {
            im[i] = make(sc.layouts[i], key + 17 * i, sc.alpha[i]);
            h[i] = im[i]->get();
        }
    if (sc.inPlace) h[1] = h[0];
    ImagePtr before[6], expect[6];
    VexImage *in[6] = {}, *out[6] = {};
    for (int i = 0; i < 6; ++i)
        if (im[i]) {
            before[i] = cloneOf(*im[i]);
            expect[i] = cloneOf(*im[i]);
            in[i] = before[i]->get();
            out[i] = expect[i]->get();
        }
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
            EXPECT_EQ(t->outstanding(), 0);
            EXPECT_EQ(t->releaseMismatches(), 0);
            EXPECT_EQ(t->badCalls(), 0);
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
}
INSTANTIATE_TEST_SUITE_P(Alpha, Matrix, ::testing::Range(0, int(kFnCount)),
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(kFnName[i.param]); });

// ------------------------------------------------------------ exact values

// Every 8U product (A holds the column, B the row) is the shift-and-add
// rule exactly. Against t / M rounded to the nearest integer the rule is
// exact at the multiples of M (so at 0 and at M x M) and otherwise equal to
// it or one below it: it never exceeds M.
TEST(Scale, EveryEightBitProduct) {
    vt::Image A(VEX_DEPTH_8U, 1, 256, 256), B(VEX_DEPTH_8U, 1, 256, 256), D(VEX_DEPTH_8U, 1, 256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) A.setSample(x, y, 1, x), B.setSample(x, y, 1, y);
    ReportLog log;
    vexMultiplyScale(A.get(), B.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    int below = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint32_t t = uint32_t(x * y);
            const int64_t got = D.sample(x, y, 1), round = std::lround(t / 255.0);
            ASSERT_EQ(got, (t + (t >> 8) + 1) >> 8) << x << " x " << y;
            ASSERT_TRUE(got == round || (got == round - 1 && t % 255 != 0)) << x << " x " << y;
            below += got != round;
        }
    EXPECT_EQ(below, 31770);  // products whose rule result lies one below the rounded quotient
}

// One pixel of four channels through an operation; returns its samples.
std::vector<int64_t> onePixel(unsigned depth, const std::function<void(VexImage*, VexImage*, VexImage*)>& f,
                              std::vector<int64_t> a, std::vector<int64_t> b, int alphaA = 4, int alphaB = 4,
                              int channels = 4) {
    vt::Image A(depth, 4, 1, 1), B(depth, 4, 1, 1), D(depth, channels, 1, 1);
    A.get()->alphaChannel = alphaA, B.get()->alphaChannel = alphaB, D.get()->alphaChannel = channels == 4 ? 4 : 0;
    for (int c = 1; c <= 4; ++c) A.setSample(0, 0, c, a[c - 1]), B.setSample(0, 0, c, b[c - 1]);
    ReportLog log;
    f(A.get(), B.get(), D.get());
    EXPECT_EQ(log.size(), 0u);
    std::vector<int64_t> out;
    for (int c = 1; c <= channels; ++c) out.push_back(D.sample(0, 0, c));
    return out;
}

TEST(Exact, WorkedNumbers) {
    using V = std::vector<int64_t>;
    const unsigned U8 = VEX_DEPTH_8U;
    auto mul = [](VexImage* a, VexImage* b, VexImage* d) { vexMultiplyScale(a, b, d, nullptr); };
    EXPECT_EQ(onePixel(U8, mul, {255, 128, 0, 1}, {255, 128, 77, 1}), (V{255, 64, 0, 0}));
    EXPECT_EQ(onePixel(U8, [](VexImage* a, VexImage*, VexImage* d) { vexMultiplySScale(a, d, 300, nullptr); },
                       {200, 100, 1, 255}, {0, 0, 0, 0}),
              (V{200, 100, 1, 255}));
    EXPECT_EQ(onePixel(U8, [](VexImage* a, VexImage*, VexImage* d) { vexMultiplySScale(a, d, 0, nullptr); },
                       {200, 100, 1, 255}, {0, 0, 0, 0}),
              (V{0, 0, 0, 0}));
    EXPECT_EQ(onePixel(VEX_DEPTH_16U, mul, {65535, 1, 0, 0}, {65535, 1, 0, 0}), (V{65535, 0, 0, 0}));
    // Premultiplied alpha, by the pixel's own alpha and by a constant.
    for (int value : {-1, 128}) {
        vt::Image I(U8, 4, 1, 1);
        I.get()->alphaChannel = 4;
        const int64_t px[] = {200, 100, 50, value < 0 ? 128 : 7};
        for (int c = 1; c <= 4; ++c) I.setSample(0, 0, c, px[c - 1]);
        vexPreMultiplyAlpha(I.get(), value, nullptr);
        EXPECT_EQ((V{I.sample(0, 0, 1), I.sample(0, 0, 2), I.sample(0, 0, 3), I.sample(0, 0, 4)}),
                  (V{100, 50, 25, 128}));
    }
    // Compositing: over, plus, in, the floating form, b = M - a.
    auto comp = [](int type, int premul, int divide) {
        return [=](VexImage* a, VexImage* b, VexImage* d) {
            vexAlphaComposite(a, b, d, type, nullptr, nullptr, nullptr, premul, divide, nullptr);
        };
    };
    EXPECT_EQ(onePixel(U8, comp(0, 0, 0), {200, 200, 200, 255}, {100, 100, 100, 255}), (V{200, 200, 200, 255}));
    EXPECT_EQ(onePixel(U8, comp(0, 0, 0), {200, 0, 0, 0}, {100, 10, 0, 128}),
              (V{scaleRef(100 * 128, 255), scaleRef(10 * 128, 255), 0, 128}));
    EXPECT_EQ(onePixel(U8, comp(5, 1, 0), {200, 0, 0, 9}, {100, 0, 0, 9}), (V{255, 0, 0, 18}));
    EXPECT_EQ(onePixel(U8, comp(1, 0, 0), {200, 0, 0, 255}, {0, 0, 0, 128}), (V{100, 0, 0, 128}));
    EXPECT_EQ(onePixel(U8, comp(1, 0, 1), {200, 17, 3, 255}, {9, 9, 9, 255}), (V{200, 17, 3, 255}));
    EXPECT_EQ(onePixel(U8, comp(1, 0, 1), {200, 17, 3, 0}, {9, 9, 9, 255}), (V{0, 0, 0, 0}));
    auto onlyA = [](VexImage* a, VexImage* b, VexImage* d) {
        vt::Image alpha(VEX_DEPTH_8U, 1, 1, 1);
        alpha.setSample(0, 0, 1, vt::sample(a, 0, 0, 4));
        vexAlphaComposite(a, b, d, 0, alpha.get(), nullptr, nullptr, 0, 0, nullptr);
    };
    EXPECT_EQ(onePixel(U8, onlyA, {200, 1, 2, 255}, {100, 7, 8, 0}, 4, 4), (V{200, 1, 2, 255}));
    EXPECT_EQ(onePixel(U8, onlyA, {200, 1, 2, 0}, {100, 7, 8, 0}, 4, 4), (V{100, 7, 8, 255}));
    // The floating form rounds ties to even: plus on premultiplied colours
    // with a = b = M gives (A + B) / 2; 1.5 -> 2, 2.5 -> 2, 3.5 -> 4.
    EXPECT_EQ(onePixel(U8, comp(5, 1, 1), {3, 5, 7, 255}, {0, 0, 0, 255}), (V{2, 2, 4, 255}));
    // Constant opacity above M acts as M.
    EXPECT_EQ(onePixel(U8, [](VexImage* a, VexImage* b, VexImage* d) {
                  vexAlphaCompositeC(a, b, d, 0, 300, 255, 0, 0, nullptr);
              }, {200, 1, 2, 0}, {100, 7, 8, 0}),
              (V{200, 1, 2, vt::kSentinel}));  // no result opacity stored
}

// Destinations of 16 MiB and more take the streaming path of the whole-pixel
// kernel from the first line boundary of each row on; a ROI starting at an
// odd column leaves each row's head unaligned. Results are the same.
TEST(Exact, LongRowsStreamed) {
    const int h = 1030, w = 4100;
    vt::Image A(VEX_DEPTH_8U, 4, h, w), B(VEX_DEPTH_8U, 4, h, w), D(VEX_DEPTH_8U, 4, h, w);
    std::mt19937 rng(3);
    for (vt::Image* im : {&A, &B, &D}) {
        for (int i = 0; i < im->get()->dataSize; ++i) im->get()->imageData[i] = char(rng() >> 24);
        im->get()->alphaChannel = 4, im->setRoi(0, 1, 0, h, w - 1);
    }
    const vt::Image before = D.clone();
    ReportLog log;
    vexAlphaComposite(A.get(), B.get(), D.get(), 3, nullptr, nullptr, nullptr, 0, 0, nullptr);
    vexAlphaCompositeC(A.get(), B.get(), D.get(), 0, -1, -1, 1, 0, nullptr);
    EXPECT_EQ(log.size(), 0u);
    auto px = [](const vt::Image& im, int x, int y) {
        const VexImage* i = im.get();
        return reinterpret_cast<const uint8_t*>(i->imageData) + int64_t(y) * i->widthStep + 4 * int64_t(x);
    };
    for (int y = 0; y < h; y += 13)
        for (int x = 0; x < w; ++x) {
            const uint8_t *pa = px(A, x, y), *pb = px(B, x, y), *pd = px(D, x, y), *p0 = px(before, x, y);
            for (int c = 0; c < 4; ++c) {
                // The first call leaves the opacity of atop; the second, over
                // on premultiplied colours, replaces the colours and keeps it.
                const int64_t want = x == 0  ? p0[c]
                                     : c == 3 ? compositeInt(255, 3, false, pa[3], pb[3], pa[3], pb[3]).opacity
                                              : compositeInt(255, 0, true, pa[c], pb[c], pa[3], pb[3]).colour;
                ASSERT_EQ(pd[c], want) << x << "," << y << " channel " << c;
            }
        }
}

// The same call on plane-order images and on mixtures of orders gives the
// samples of the all-pixel-order call.
TEST(Orders, MixturesEqualPixelOrder) {
    std::mt19937 rng(5);
    for (int fn = 0; fn < kFnCount; ++fn)
        for (int mix = 1; mix < 8; ++mix) {
            Params p;
            p.type = mix % 6, p.premul = mix & 1, p.divide = (mix >> 1) & 1, p.value = fn == kPreMul ? -1 : 200;
            ImagePtr pix[3], mixed[3];
            VexImage *hp[6] = {}, *hm[6] = {};
            for (int i = 0; i < (fn == kPreMul ? 1 : fn == kMulSScale ? 2 : 3); ++i) {
                vt::Layout l;
                l.depth = VEX_DEPTH_8U, l.nChannels = 4, l.height = 9, l.width = 19;
                pix[i] = make(l, 100 + i, 4);
                l.order = (mix >> i) & 1;
                mixed[i] = make(l, 100 + i, 4);
                hp[i] = pix[i]->get(), hm[i] = mixed[i]->get();
            }
            ReportLog log;
            call(Fn(fn), hp, p);
            call(Fn(fn), hm, p);
            ASSERT_EQ(log.size(), 0u);
            EXPECT_EQ(vt::diffSamples(hp[0], hm[0]), "") << kFnName[fn] << " mix " << mix;
        }
}

// ------------------------------------------------------------ tiling

// Tiled equals untiled: the same scene with every image untiled, then with
// the images tiled in sizes that make blocks span tiles, gives the same
// samples; the destination also plays a source's role.
TEST(Tiling, TiledEqualsUntiledWithSpanningBlocksAndTwoRoles) {
    for (int fn = 0; fn < kFnCount; ++fn)
        for (int variant = 0; variant < 4; ++variant) {
            SCOPED_TRACE(std::string(kFnName[fn]) + " variant " + std::to_string(variant));
            const int tiles[][2] = {{16, 8}, {8, 8}, {24, 16}, {64, 8}};
            Params p;
            p.type = variant + 1, p.value = fn == kPreMul ? -1 : 99;
            std::vector<ImagePtr> flat(3), tiled(3);
            VexImage *hf[6] = {}, *ht[6] = {};
            const int count = fn == kPreMul ? 1 : fn == kMulSScale ? 2 : 3;
            for (int i = 0; i < count; ++i) {
                vt::Layout l;
                l.depth = variant == 3 ? VEX_DEPTH_16U : VEX_DEPTH_8U;
                l.nChannels = 4, l.height = 45, l.width = 70, l.order = (variant + i) & 1;
                l.hasRoi = true, l.roi = {0, 3 * i + variant, 5 - i, 40, 60};
                flat[i] = make(l, 40 + i, 4);
                l.tiled = true, l.tileWidth = tiles[(i + variant) % 4][0], l.tileHeight = tiles[(i + variant) % 4][1];
                tiled[i] = make(l, 40 + i, 4);
                hf[i] = flat[i]->get(), ht[i] = tiled[i]->get();
            }
            const bool twoRoles = variant % 2 == 1 && fn != kPreMul;
            if (twoRoles) hf[1] = hf[0], ht[1] = ht[0];
            ReportLog log;
            call(Fn(fn), hf, p);
            call(Fn(fn), ht, p);
            ASSERT_EQ(log.size(), 0u);
            for (int i = 0; i < count; ++i) EXPECT_EQ(vt::diffSamples(hf[i], ht[i]), "") << i;
            auto* d = static_cast<vt::TiledImage*>(tiled[0].get());
            EXPECT_EQ(d->outstanding(), 0);
            if (twoRoles) {
                // The image in two roles is fetched once per tile it meets
                // per block: every get is for writing.
                for (const vt::TileCall& c : d->calls()) EXPECT_NE(c.mode, VEX_TILE_GET_READ);
            }
        }
}

// Blocks follow the reference image's tile grid from its ROI offset; a
// block inside one tile fetches it once (mode 2, then 4); the image in two
// roles is never fetched twice for one block.
TEST(Tiling, BlockCallsOnTheReferenceGrid) {
    vt::TiledImage D(VEX_DEPTH_8U, 1, 16, 32, 16, 8);
    vt::Image A(VEX_DEPTH_8U, 1, 16, 32);
    D.setRoi(0, 10, 2, 10, 20);  // columns 10..29: blocks 10-15, 16-29; rows 2-7, 8-11
    ReportLog log;
    vexMultiplyScale(D.get(), A.get(), D.get(), nullptr);
    using C = std::vector<vt::TileCall>;
    EXPECT_EQ(D.calls(), (C{{0, 0, 2}, {0, 0, 4}, {1, 0, 2}, {1, 0, 4}, {0, 1, 2}, {0, 1, 4}, {1, 1, 2}, {1, 1, 4}}));
    // A source on a finer grid spans several of its tiles per block: all
    // are held, read, and released.
    vt::TiledImage S(VEX_DEPTH_8U, 1, 16, 32, 8, 8);
    S.setRoi(0, 10, 2, 10, 20);
    D.clearCalls();
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
    A.fillPattern(3);
    D.fillPattern(4);
    D.setRoi(0, 8, 8, 12, 12);  // rows and columns 8..19
    const vt::TiledImage before = D.clone();
    ReportLog log;
    const VexMapping m{12, 19};  // tile (1, 2): rows 16..19 of the region
    vexMultiplySScale(A.get(), D.get(), 128, &m);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            for (int c = 1; c <= 2; ++c) {
                const bool in = x >= 8 && x < 16 && y >= 16 && y < 20;
                ASSERT_EQ(D.sample(x, y, c), in ? scaleRef(A.sample(x - 8, y - 8, c) * 128, 255) : before.sample(x, y, c))
                    << x << "," << y;
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
        vt::TiledImage A(VEX_DEPTH_16U, 4, 8, 32, 8, 8), D(VEX_DEPTH_16U, 4, 8, 32, 16, 8);
        vt::TiledImage B(VEX_DEPTH_16U, 4, 8, 32, 8, 8);
        A.get()->alphaChannel = B.get()->alphaChannel = D.get()->alphaChannel = 4;
        A.fillPattern(1), B.fillPattern(2), D.fillPattern(3);
        const vt::TiledImage before = D.clone();
        (refused == 0 ? A : refused == 1 ? B : D).refuse(refused == 2 ? 1 : 2, -1, refused == 2 ? VEX_TILE_GET_WRITE : VEX_TILE_GET_READ);
        ReportLog log;
        vexAlphaComposite(A.get(), B.get(), D.get(), 0, nullptr, nullptr, nullptr, 0, 0, nullptr);
        vexSetErrStatus(VEX_StsOk);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].status, VEX_StsError);
        EXPECT_EQ(log[0].context, "ERROR in Tiling callBack");
        EXPECT_EQ(log[0].funcName, "vexAlphaComposite");
        EXPECT_EQ(log[0].file, "vexalpha");
        for (vt::TiledImage* t : {&A, &B, &D}) EXPECT_EQ(t->outstanding(), 0);
        for (int x = 0; x < 32; ++x) {
            const int64_t a = A.sample(x, 0, 4), b = B.sample(x, 0, 4);
            const int64_t want = compositeInt(65535, 0, false, A.sample(x, 0, 1), B.sample(x, 0, 1), a, b).colour;
            // The destination's blocks are 16 wide: the first is written,
            // the one meeting source tile 2 (columns 16..23) is not.
            EXPECT_EQ(D.sample(x, 0, 1), x < 16 ? want : before.sample(x, 0, 1)) << x;
        }
    }
}

// ------------------------------------------------------------ checks

struct CheckCase {
    Fn fn;
    std::function<void(VexImage** im, Params& p)> spoil;
    std::string text;
};

// Every reachable check text, each under its function and "vexalpha", the
// destination untouched. The images: dst, A, B 16U with four channels and
// alpha channel 4; alpha images 16U with one channel. The fields that
// vexBadImageHeader already refuses are reported with its text.
TEST(Checks, EveryText) {
    VexROI roi{};
    static VexROI zero{0, 0, 0, 8, 8}, two{2, 0, 0, 8, 8};
    auto roiOn = [&](VexImage* im, int coi, int x, int y, int h, int w) { roi = {coi, x, y, h, w}, im->roi = &roi; };
    std::vector<CheckCase> cases;
    auto add = [&](Fn fn, std::function<void(VexImage**, Params&)> f, std::string text) {
        cases.push_back({fn, f, text});
    };
    // The field sequence, with each argument's own name.
    const struct {
        Fn fn;
        int image;
        const char* name;
    } seqs[] = {{kMulScale, 0, "dstImage"},     {kMulScale, 1, "srcImageA"},     {kMulScale, 2, "srcImageB"},
                {kMulSScale, 0, "dstImage"},    {kMulSScale, 1, "srcImage"},     {kPreMul, 0, "image"},
                {kComposite, 3, "alphaImageA"}, {kComposite, 4, "alphaImageB"}, {kComposite, 5, "alphaImageDst"},
                {kCompositeC, 2, "srcImageB"},  {kComposite, 0, "dstImage"}};
    for (const auto& q : seqs) {
        const int i = q.image;
        const std::string n = q.name;
        if (i < 3) add(q.fn, [i](VexImage** im, Params&) { im[i] = nullptr; }, n + "==0");
        add(q.fn, [i](VexImage** im, Params&) { im[i]->align = 3; }, "vexBadImageHeader(" + n + ") != 0");
        add(q.fn, [&, i](VexImage** im, Params&) { roiOn(im[i], 0, 12, 0, 1, 1); },
            n + "->roi->xOffset >= " + n + "->width");
        add(q.fn, [&, i](VexImage** im, Params&) { roiOn(im[i], 0, 0, 9, 1, 1); },
            n + "->roi->yOffset >= " + n + "->height");
    }
    auto depth = [](int i, unsigned d) { return [=](VexImage** im, Params&) { im[i]->depth = d; }; };
    for (Fn fn : {kMulScale, kMulSScale, kComposite, kCompositeC})
        add(fn, depth(0, VEX_DEPTH_16S), "dstImage->depth != 8 && dstImage->depth != 16");
    add(kPreMul, depth(0, VEX_DEPTH_16S), "image->depth != 8 && image->depth != 16");
    add(kMulScale, depth(1, VEX_DEPTH_8U), "srcImageA->depth != dstImage->depth");
    add(kMulScale, depth(2, VEX_DEPTH_8U), "srcImageB->depth != dstImage->depth");
    add(kMulSScale, depth(1, VEX_DEPTH_8U), "srcImage->depth != dstImage->depth");
    add(kComposite, depth(1, VEX_DEPTH_8U), "srcImageA->depth != dstImage->depth");
    add(kCompositeC, depth(2, VEX_DEPTH_8U), "srcImageB->depth != dstImage->depth");
    add(kComposite, depth(3, VEX_DEPTH_8U), "alphaImageA->depth != dstImage->depth");
    add(kComposite, depth(4, VEX_DEPTH_8U), "alphaImageB->depth != dstImage->depth");
    add(kComposite, depth(5, VEX_DEPTH_8U), "alphaImageDst->depth != dstImage->depth");
    // COI rules.
    auto coi = [&](int i, int c) { return [&, i, c](VexImage** im, Params&) { roiOn(im[i], c, 0, 0, 8, 8); }; };
    add(kMulScale, coi(1, 2), "srcImageA->roi->coi > 0 && dstImage->roi == 0");
    add(kMulScale, coi(2, 2), "srcImageB->roi->coi > 0 && dstImage->roi == 0");
    add(kMulSScale, coi(1, 2), "srcImage->roi->coi > 0 && dstImage->roi == 0");
    add(kCompositeC, coi(2, 1), "srcImageB->roi->coi > 0 && dstImage->roi == 0");
    add(kMulScale, coi(0, 2), "dstImage->roi->coi > 0 && srcImageA->roi == 0");
    add(kComposite, coi(0, 2), "dstImage->roi->coi > 0 && srcImageA->roi == 0");
    add(kMulSScale, coi(0, 1), "dstImage->roi->coi > 0 && srcImage->roi == 0");
    add(kMulScale, [&](VexImage** im, Params&) { roiOn(im[0], 1, 0, 0, 8, 8), im[1]->roi = &zero; },
        "dstImage->roi->coi > 0 && srcImageA->roi->coi == 0");
    add(kMulScale, [&](VexImage** im, Params&) { roiOn(im[0], 1, 0, 0, 8, 8), im[1]->roi = &two; },
        "dstImage->roi->coi > 0 && srcImageB->roi == 0");
    add(kCompositeC,
        [&](VexImage** im, Params&) { roiOn(im[0], 1, 0, 0, 8, 8), im[1]->roi = &two, im[2]->roi = &zero; },
        "dstImage->roi->coi > 0 && srcImageB->roi->coi == 0");
    add(kMulSScale, [&](VexImage** im, Params&) { roiOn(im[0], 1, 0, 0, 8, 8), im[1]->roi = &zero; },
        "dstImage->roi->coi > 0 && srcImage->roi->coi == 0");
    // Channel counts and alpha channels.
    auto channels = [](int i, int n, int alpha) {
        return [=](VexImage** im, Params&) { im[i]->nChannels = n, im[i]->alphaChannel = alpha; };
    };
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
    add(kComposite, channels(1, 4, 2),
        "srcImageA->alphaChannel > 0 && srcImageA->alphaChannel != srcImageA->nChannels");
    add(kComposite, channels(2, 4, 3),
        "srcImageB->alphaChannel > 0 && srcImageB->alphaChannel != srcImageB->nChannels");
    add(kCompositeC, channels(0, 4, 1),
        "dstImage->alphaChannel > 0 && dstImage->alphaChannel != dstImage->nChannels");
    add(kComposite, channels(1, 2, 2),
        "(srcImageA->nChannels - (srcImageA->alphaChannel != 0)) != "
        "(dstImage->nChannels - (dstImage->alphaChannel != 0))");
    add(kCompositeC,
        [](VexImage** im, Params& p) { im[2]->nChannels = 2, im[2]->alphaChannel = 0, p.b = 5; },
        "(srcImageB->nChannels - (srcImageB->alphaChannel != 0)) != "
        "(dstImage->nChannels - (dstImage->alphaChannel != 0))");
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
        VexImage* given[6] = {h[0], h[1], h[2], nullptr, nullptr, nullptr};
        if (cc.fn == kComposite && cc.text.find("alphaImage") != std::string::npos)
            for (int i = 3; i < 6; ++i) given[i] = h[i];
        Params p;
        p.value = -1;
        cc.spoil(given, p);
        const std::vector<uint8_t> before = im[0]->bytes();
        ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        call(cc.fn, given, p);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, cc.text);
        EXPECT_EQ(log[0].status, VEX_StsBadArg);
        EXPECT_EQ(log[0].funcName, kFnName[cc.fn]);
        EXPECT_EQ(log[0].file, "vexalpha");
        EXPECT_EQ(im[0]->bytes(), before);
        vexSetErrStatus(VEX_StsOk);
        for (VexImage* x : h) x->roi = nullptr;  // the records above are not the images' own
    }
}

// Passing combinations the checks must let through: only alphaImageA with a
// three-channel A and four-channel B and destination; constant opacities on
// images without alpha channels; an alpha image in its channel 1.
TEST(Checks, PassingCombinations) {
    vt::Image A(VEX_DEPTH_8U, 3, 4, 4), B(VEX_DEPTH_8U, 4, 4, 4), D(VEX_DEPTH_8U, 4, 4, 4), al(VEX_DEPTH_8U, 2, 4, 4);
    B.get()->alphaChannel = D.get()->alphaChannel = 4;
    ReportLog log;
    vexAlphaComposite(A.get(), B.get(), D.get(), 0, al.get(), nullptr, nullptr, 0, 0, nullptr);
    vt::Image C(VEX_DEPTH_8U, 3, 4, 4);
    vexAlphaCompositeC(A.get(), C.get(), C.get(), 3, 10, 300, 1, 1, nullptr);
    vexPreMultiplyAlpha(A.get(), 77, nullptr);
    EXPECT_EQ(log.size(), 0u);
    B.get()->alphaChannel = 0;
    vexAlphaCompositeC(A.get(), B.get(), D.get(), 0, -1, 5, 0, 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "srcImageA->alphaChannel < 1");
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
