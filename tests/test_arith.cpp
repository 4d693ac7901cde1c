// The pixel-wise family: every operation against a plain reference formula
// over random layouts (tiled and untiled, ROI, COI, tile selector, in place),
// saturation limits per depth, 1U rules, the tile walk's calls and messages,
// and the argument checks with their texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using vt::ReportLog;

// ------------------------------------------------------------- reference

int64_t sat(unsigned depth, int64_t v) { return std::clamp(v, vt::depthMin(depth), vt::depthMax(depth)); }
// The low bits of v as a sample of the depth (sign-extended when signed).
int64_t wrap(unsigned depth, int64_t v) {
    const int bits = vt::depthBits(depth);
    const uint64_t mask = (uint64_t(1) << bits) - 1;
    const uint64_t u = uint64_t(v) & mask;
    if (vt::depthSigned(depth) && (u >> (bits - 1))) return int64_t(u | ~mask);
    return int64_t(u);
}

using Call = void (*)(VexImage* a, VexImage* b, VexImage* d, int64_t s, int flag, const int* tile);
using Ref = int64_t (*)(unsigned depth, int64_t a, int64_t b, int64_t s, int flag);

struct Op {
    const char* name;
    int nSrc;
    Call call;
    Ref ref;  // the expected sample from the source samples, scalar and flag
    bool flag = false;  // takes swapOperands
    bool no1U = false;  // refuses 1U
};

bool is1U(unsigned d) { return d == VEX_DEPTH_1U; }

// clang-format off
#define CALL(expr) [](VexImage* a, VexImage* b, VexImage* d, int64_t s, int f, const int* t) { expr; }
#define REF(expr) [](unsigned dp, int64_t a, int64_t b, int64_t s, int f) -> int64_t { expr; }
const Op kOps[] = {
    {"vexAdd", 2, CALL(vexAdd(a, b, d, t)), REF(return is1U(dp) ? a | b : sat(dp, a + b))},
    {"vexAddS", 1, CALL(vexAddS(a, d, int(s), t)), REF(return is1U(dp) ? a | (s & 1) : sat(dp, a + int32_t(s)))},
    {"vexSubtract", 2, CALL(vexSubtract(a, b, d, f, t)),
     REF(if (f) std::swap(a, b); return is1U(dp) ? a & !b : sat(dp, a - b)), true},
    {"vexSubtractS", 1, CALL(vexSubtractS(a, d, int(s), f, t)),
     REF(if (is1U(dp)) return (s & 1) ? (f ? !a : 0) : (f ? 0 : a);
         return f ? sat(dp, int32_t(s) - a) : sat(dp, a - int32_t(s))), true},
    {"vexMultiply", 2, CALL(vexMultiply(a, b, d, t)), REF(return is1U(dp) ? a & b : sat(dp, a * b))},
    {"vexMultiplyS", 1, CALL(vexMultiplyS(a, d, unsigned(s), t)),
     REF(return is1U(dp) ? ((s & 1) ? a : 0) : sat(dp, a * int64_t(uint32_t(s))))},
    {"vexSquare", 1, CALL(vexSquare(a, d, t)), REF(return is1U(dp) ? a : std::min(a * a, vt::depthMax(dp)))},
    {"vexAbs", 1, CALL(vexAbs(a, d, t)), REF(return a == vt::depthMin(dp) ? a : std::abs(a))},
    {"vexAnd", 2, CALL(vexAnd(a, b, d, t)), REF(return a & b)},
    {"vexOr", 2, CALL(vexOr(a, b, d, t)), REF(return a | b)},
    {"vexXor", 2, CALL(vexXor(a, b, d, t)), REF(return a ^ b)},
    {"vexAndS", 1, CALL(vexAndS(a, d, unsigned(s), t)), REF(return a & wrap(dp, s))},
    {"vexOrS", 1, CALL(vexOrS(a, d, unsigned(s), t)), REF(return a | wrap(dp, s))},
    {"vexXorS", 1, CALL(vexXorS(a, d, unsigned(s), t)), REF(return wrap(dp, a ^ s))},
    {"vexNot", 1, CALL(vexNot(a, d, t)), REF(return wrap(dp, ~a))},
    {"vexLShiftS", 1, CALL(vexLShiftS(a, d, unsigned(s), t)),
     REF(return uint32_t(s) >= unsigned(vt::depthBits(dp)) ? 0 : wrap(dp, int64_t(uint64_t(a) << uint32_t(s))))},
    {"vexRShiftS", 1, CALL(vexRShiftS(a, d, unsigned(s), t)),  // logical, or the sign fills in
     REF(const uint32_t n = uint32_t(s);
         return vt::depthSigned(dp) ? a >> std::min(n, 63u) : n >= unsigned(vt::depthBits(dp)) ? 0 : a >> n)},
    {"vexThreshold", 1, CALL(vexThreshold(a, d, int(s), t)),
     REF(return a < int32_t(s) ? vt::depthMin(dp) : vt::depthMax(dp)), false, true},
};
#undef CALL
#undef REF
// clang-format on

const Op& op(const std::string& name) {
    for (const Op& o : kOps)
        if (name == o.name) return o;
    throw std::invalid_argument(name);
}

// -------------------------------------------------- reference application

struct Rect {
    int x, y, w, h, coi;
};
Rect region(const VexImage* im) {
    if (!im->roi) return {0, 0, im->width, im->height, 0};
    const VexROI& r = *im->roi;
    auto cut = [](int off, int len, int size) { return off >= size ? 0 : std::min(len, size - off); };
    return {r.xOffset, r.yOffset, cut(r.xOffset, r.width, im->width), cut(r.yOffset, r.height, im->height),
            r.coi};
}
bool coversWhole(const VexImage* im) {
    const VexROI* r = im->roi;
    return !r || (r->xOffset == 0 && r->yOffset == 0 && r->width >= im->width && r->height >= im->height &&
                  (r->coi == 0 || (r->coi == 1 && im->nChannels == 1)));
}
// Untiled images of equal geometry and buffer size, each wholly selected:
// the buffers are processed as one run, row padding included.
bool wholeBuffer(const std::vector<VexImage*>& im) {
    for (VexImage* i : im)
        if (i->tileInfo || !coversWhole(i) || i->height != im.back()->height ||
            i->width != im.back()->width || i->dataSize != im.back()->dataSize)
            return false;
    return true;
}

// One element of a raw buffer: bit, byte, 16- or 32-bit word.
int64_t rawGet(const VexImage* im, int64_t k) {
    const int bits = vt::depthBits(im->depth);
    if (bits == 1) return (uint8_t(im->imageData[k >> 3]) >> (7 - (k & 7))) & 1;
    uint32_t v = 0;
    std::memcpy(&v, im->imageData + k * bits / 8, bits / 8);  // little-endian
    return wrap(im->depth, v);
}
void rawSet(VexImage* im, int64_t k, int64_t v) {
    const int bits = vt::depthBits(im->depth);
    char* p = im->imageData;
    if (bits == 1)
        p[k >> 3] = char((uint8_t(p[k >> 3]) & ~(0x80 >> (k & 7))) | ((v & 1) << (7 - (k & 7))));
    else
        std::memcpy(p + k * bits / 8, &v, bits / 8);
}

std::unique_ptr<vt::ImageBase> cloneOf(const vt::ImageBase& im) {
    if (auto* t = dynamic_cast<const vt::TiledImage*>(&im))
        return std::make_unique<vt::TiledImage>(t->clone());
    return std::make_unique<vt::Image>(dynamic_cast<const vt::Image&>(im).clone());
}

// Expected destination for sources `src` (pre-call copies) written into
// `expect` (a pre-call copy of the destination). Returns the text of the
// failing dTile check, or "" when the call should succeed.
std::string reference(const Op& o, const std::vector<VexImage*>& src, VexImage* expect, int64_t s, int flag,
                      const int* tile) {
    std::vector<VexImage*> all = src;
    all.push_back(expect);
    std::vector<Rect> r;
    int w = INT32_MAX, h = INT32_MAX;
    for (VexImage* im : all) {
        r.push_back(region(im));
        w = std::min(w, r.back().w);
        h = std::min(h, r.back().h);
    }
    const unsigned depth = expect->depth;
    int dx = 0, dy = 0;  // cut applied to every image
    if (tile && expect->tileInfo) {
        const int64_t tw = expect->tileInfo->width, th = expect->tileInfo->height;
        const int64_t bx = tile[0] * tw, by = tile[1] * th, rx = r.back().x, ry = r.back().y;
        if (bx > rx + w) return "(dTile.begX > dRoi.endX)";
        if (by > ry + h) return "(dTile.begY > dRoi.endY)";
        if (bx + tw < rx) return "(dTile.endX < dRoi.begX)";
        if (by + th < ry) return "(dTile.endY < dRoi.begY)";
        dx = int(std::max<int64_t>(0, bx - rx));
        dy = int(std::max<int64_t>(0, by - ry));
        w = int(std::min<int64_t>(rx + w, bx + tw) - rx - dx);
        h = int(std::min<int64_t>(ry + h, by + th) - ry - dy);
    }
    if (wholeBuffer(all)) {
        const int bits = vt::depthBits(depth);
        const int64_t n = bits == 1 ? expect->dataSize / 4 * 32 : expect->dataSize * 8 / bits;
        for (int64_t k = 0; k < n; ++k)
            rawSet(expect, k,
                   o.ref(depth, rawGet(src[0], k), src.size() > 1 ? rawGet(src[1], k) : 0, s, flag));
        return "";
    }
    const Rect& d = r.back();
    const int channels = d.coi ? 1 : expect->nChannels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 1; c <= channels; ++c) {
                int64_t v[2] = {0, 0};
                for (size_t i = 0; i < src.size(); ++i)
                    v[i] = vt::sample(src[i], r[i].x + dx + x, r[i].y + dy + y, r[i].coi ? r[i].coi : c);
                vt::setSample(expect, d.x + dx + x, d.y + dy + y, d.coi ? d.coi : c,
                              wrap(depth, o.ref(depth, v[0], v[1], s, flag)));
            }
    return "";
}

int64_t randomScalar(std::mt19937& rng, const Op& o) {
    static const int64_t kShifts[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 24, 25, 31, 32, 33, 0xFFFFFFFF};
    static const int64_t kValues[] = {
        0,     1,       -1,        2,         -10,           100,           127,        128,     -128,
        -129,  255,     256,       -256,      0x1F0,         32767,         32768,      -32769,  65535,
        65536, 0x18000, INT32_MAX, INT32_MIN, INT32_MIN + 1, INT32_MAX - 1, 0x7FFF0000, -1000000};
    if (std::string(o.name).find("Shift") != std::string::npos) return kShifts[rng() % std::size(kShifts)];
    if (rng() % 4 == 0) return int32_t(rng());
    return kValues[rng() % std::size(kValues)];
}

// Sources compatible with the destination: same depth and order, and the
// same number of channels taken part with (coi images mix with one-channel
// images).
vt::Layout compatible(std::mt19937& rng, const vt::Layout& d) {
    vt::Layout l;
    if (rng() % 3 == 0) {
        l = d;  // same geometry, often the whole-buffer case
        l.tiled = rng() % 2;
        if (rng() % 2) l.hasRoi = false;
    } else {
        vt::LayoutLimits lim;
        lim.depths = {d.depth};
        lim.roiOutside = true;
        l = vt::randomLayout(rng, lim);
        l.order = d.order;
    }
    const bool dstCoi = d.hasRoi && d.roi.coi;
    const int channels = dstCoi ? 1 : d.nChannels;
    if (channels > 1) {
        l.nChannels = channels;
        l.roi.coi = 0;
    } else if (l.hasRoi && l.nChannels > 1) {
        l.roi.coi = 1 + int(rng() % l.nChannels);
    } else {
        l.nChannels = 1;
        l.roi.coi = std::min(l.roi.coi, 1);
    }
    return l;
}

class Matrix : public ::testing::TestWithParam<int> {};

TEST_P(Matrix, MatchesReferenceOverRandomLayouts) {
    const Op& o = kOps[GetParam()];
    std::mt19937 rng(1234 + GetParam());
    // How often the matrix reached each path; every one must be reached.
    int whole = 0, tiledDst = 0, tiledSrc = 0, selector = 0, refusedSelector = 0, inPlace = 0, mixedCoi = 0;
    for (int trial = 0; trial < 200; ++trial) {
        vt::LayoutLimits lim;
        lim.roiOutside = true;
        if (o.no1U) lim.depths.erase(lim.depths.begin());
        vt::Layout dl = vt::randomLayout(rng, lim);
        std::vector<vt::Layout> sl;
        for (int i = 0; i < o.nSrc; ++i) sl.push_back(compatible(rng, dl));
        if (trial % 5 == 0) {  // equal untiled images: one run over the buffers
            dl.tiled = false;
            dl.hasRoi = trial % 10 == 0;
            dl.roi = {0, 0, 0, dl.height + 2, dl.width};
            for (auto& l : sl) l = dl;
        }
        const std::string name = o.name;
        // The copy cases go through vexCopy, which also wants equal origins.
        if (name == "vexAbs" || name == "vexLShiftS") sl[0].origin = dl.origin;
        auto dst = vt::makeImage(dl, rng());
        std::vector<std::unique_ptr<vt::ImageBase>> srcs;
        for (auto& l : sl) srcs.push_back(vt::makeImage(l, rng()));
        std::vector<VexImage*> in;
        for (auto& s : srcs) in.push_back(s->get());
        if (rng() % 8 == 0) in[0] = dst->get();  // in place
        const int64_t s = randomScalar(rng, o);
        const int flag = o.flag ? int(rng() % 2) : 0;
        int tileSel[2];
        const int* tile = nullptr;
        if (dl.tiled && rng() % 3 == 0) {
            auto* t = static_cast<vt::TiledImage*>(dst.get());
            tileSel[0] = int(rng() % t->tilesX());
            tileSel[1] = int(rng() % t->tilesY());
            tile = tileSel;
        }
        std::vector<std::unique_ptr<vt::ImageBase>> before;
        std::vector<VexImage*> ref;
        for (size_t i = 0; i < in.size(); ++i) {
            before.push_back(cloneOf(in[i] == dst->get() ? *dst : *srcs[i]));
            ref.push_back(before.back()->get());
        }
        auto expect = cloneOf(*dst);
        const std::string failure = reference(o, ref, expect->get(), s, flag, tile);
        SCOPED_TRACE(std::string(o.name) + " trial " + std::to_string(trial) + " s=" + std::to_string(s) +
                     " flag=" + std::to_string(flag) + " dst " + vt::describe(dl) + " src " +
                     vt::describe(sl[0]) + (o.nSrc > 1 ? " | " + vt::describe(sl[1]) : "") +
                     (in[0] == dst->get() ? " in place" : "") +
                     (tile ? " tile " + std::to_string(tile[0]) + "," + std::to_string(tile[1]) : ""));
        std::vector<VexImage*> everyImage = in;
        everyImage.push_back(dst->get());
        whole += wholeBuffer(everyImage);
        tiledDst += dl.tiled;
        tiledSrc += in[0]->tileInfo != nullptr;
        selector += tile != nullptr;
        refusedSelector += !failure.empty();
        inPlace += in[0] == dst->get();
        bool coi = false, plain = false;
        for (VexImage* im : everyImage) (im->roi && im->roi->coi ? coi : plain) = true;
        mixedCoi += coi && plain;
        std::vector<VexROI*> rois;
        for (VexImage* im : in) rois.push_back(im->roi);
        ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        o.call(in[0], o.nSrc > 1 ? in[1] : nullptr, dst->get(), s, flag, tile);
        const unsigned bits = unsigned(vt::depthBits(dl.depth));
        const bool copies =
            (name == "vexAbs" && !vt::depthSigned(dl.depth)) || (name == "vexLShiftS" && bits == 1 && s == 0);
        const bool clears = name == "vexLShiftS" && uint32_t(s) >= bits;
        if (!failure.empty()) {
            // vexCopy skips a tile outside the region silently; the others
            // report it, vexLShiftS through vexAndS with a trail entry.
            EXPECT_EQ(vt::diffSamples(dst->get(), expect->get()), "");
            if (copies) {
                EXPECT_EQ(log.size(), 0u);
                continue;
            }
            ASSERT_EQ(log.size(), clears ? 2u : 1u);
            EXPECT_EQ(log[0].context, failure);
            EXPECT_EQ(log[0].funcName, clears ? "vexAndS" : name == "vexNot" ? "vexXorS" : name);
            if (clears) {
                EXPECT_EQ(log[1].status, VEX_StsBackTrace);
            }
            continue;
        }
        ASSERT_EQ(log.size(), 0u) << log[0].funcName << ": " << log[0].context;
        EXPECT_EQ(vt::diffSamples(dst->get(), expect->get()), "");
        bool anyTiled = false;
        for (VexImage* im : in) anyTiled = anyTiled || im->tileInfo;
        if (!anyTiled && !dl.tiled) {
            EXPECT_TRUE(dst->bytes() == expect->bytes()) << "bytes outside the samples";
        }
        for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(in[i]->roi, rois[i]);
        for (auto* im : {dst.get(), srcs[0].get()})
            if (auto* t = dynamic_cast<vt::TiledImage*>(im)) {
                EXPECT_EQ(t->outstanding(), 0);
                EXPECT_EQ(t->releaseMismatches(), 0);
                EXPECT_EQ(t->badCalls(), 0);
            }
        vexSetErrStatus(VEX_StsOk);
    }
    EXPECT_GT(whole, 0);
    EXPECT_GT(tiledDst, 0);
    EXPECT_GT(tiledSrc, 0);
    EXPECT_GT(selector, 0);
    EXPECT_GT(refusedSelector, 0);
    EXPECT_GT(inPlace, 0);
    EXPECT_GT(mixedCoi, 0);
}
INSTANTIATE_TEST_SUITE_P(PixelWise, Matrix, ::testing::Range(0, int(std::size(kOps))),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return std::string(kOps[i.param].name);
                         });

}  // namespace

// ------------------------------------------------------------ exact values

namespace {

// One row of n one-channel samples per image; returns the destination's.
std::vector<int64_t> apply(const Op& o, unsigned depth, const std::vector<int64_t>& a,
                           const std::vector<int64_t>& b, int64_t s, int flag) {
    const int n = int(a.size());
    vt::Image A(depth, 1, 1, n), B(depth, 1, 1, n), D(depth, 1, 1, n);
    for (int x = 0; x < n; ++x) {
        A.setSample(x, 0, 1, a[x]);
        B.setSample(x, 0, 1, b.empty() ? 0 : b[x]);
    }
    ReportLog log;
    o.call(A.get(), B.get(), D.get(), s, flag, nullptr);
    EXPECT_EQ(log.size(), 0u);
    std::vector<int64_t> out;
    for (int x = 0; x < n; ++x) out.push_back(D.sample(x, 0, 1));
    return out;
}

TEST(Saturation, ExamplesPerDepth) {
    struct Case {
        const char* op;
        unsigned depth;
        int64_t a, b, s;
        int flag;
        int64_t expected;
    };
    const Case cases[] = {
        {"vexAdd", VEX_DEPTH_8U, 200, 100, 0, 0, 255},
        {"vexSubtract", VEX_DEPTH_8U, 100, 200, 0, 0, 0},
        {"vexSubtract", VEX_DEPTH_8U, 100, 200, 0, 1, 100},
        {"vexAdd", VEX_DEPTH_8S, 100, 100, 0, 0, 127},
        {"vexSubtract", VEX_DEPTH_8S, -100, 100, 0, 0, -128},
        {"vexAbs", VEX_DEPTH_8S, -128, 0, 0, 0, -128},
        {"vexAbs", VEX_DEPTH_16S, -32768, 0, 0, 0, -32768},
        {"vexAbs", VEX_DEPTH_32S, INT32_MIN, 0, 0, 0, INT32_MIN},
        {"vexAbs", VEX_DEPTH_32S, -INT32_MAX, 0, 0, 0, INT32_MAX},
        {"vexAbs", VEX_DEPTH_8U, 200, 0, 0, 0, 200},
        {"vexMultiply", VEX_DEPTH_16U, 300, 300, 0, 0, 65535},
        {"vexSquare", VEX_DEPTH_16S, 200, 0, 0, 0, 32767},
        {"vexSquare", VEX_DEPTH_8S, -128, 0, 0, 0, 127},
        {"vexAdd", VEX_DEPTH_32S, INT32_MAX, 1, 0, 0, INT32_MAX},
        {"vexSubtract", VEX_DEPTH_32S, INT32_MIN, 1, 0, 0, INT32_MIN},
        {"vexSubtract", VEX_DEPTH_32S, INT32_MAX, INT32_MIN, 0, 0, INT32_MAX},
        {"vexMultiply", VEX_DEPTH_32S, 65536, 65536, 0, 0, INT32_MAX},
        {"vexMultiply", VEX_DEPTH_32S, -65536, 65536, 0, 0, INT32_MIN},
        {"vexAddS", VEX_DEPTH_8U, 5, 0, -10, 0, 0},
        {"vexAddS", VEX_DEPTH_8U, 20, 0, -10, 0, 10},
        {"vexAddS", VEX_DEPTH_32S, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN},
        {"vexAddS", VEX_DEPTH_32S, INT32_MAX, 0, INT32_MAX, 0, INT32_MAX},
        {"vexSubtractS", VEX_DEPTH_32S, 0, 0, INT32_MIN, 0, INT32_MAX},
        {"vexSubtractS", VEX_DEPTH_32S, -1, 0, INT32_MIN, 0, INT32_MAX},
        {"vexSubtractS", VEX_DEPTH_32S, -2, 0, INT32_MAX, 1, INT32_MAX},
        {"vexSubtractS", VEX_DEPTH_8U, 95, 0, 65536, 1, 255},
        {"vexSubtractS", VEX_DEPTH_8S, 127, 0, -300, 1, -128},
        {"vexMultiplyS", VEX_DEPTH_8U, 0, 0, -1, 0, 0},
        {"vexMultiplyS", VEX_DEPTH_8U, 1, 0, -1, 0, 255},
        {"vexMultiplyS", VEX_DEPTH_8S, -1, 0, -1, 0, -128},
        {"vexMultiplyS", VEX_DEPTH_16S, 1, 0, 0x80000000, 0, 32767},
        {"vexMultiplyS", VEX_DEPTH_32S, -1, 0, 0xFFFFFFFF, 0, INT32_MIN},
        {"vexMultiplyS", VEX_DEPTH_32S, 1, 0, 0xFFFFFFFF, 0, INT32_MAX},
        {"vexMultiplyS", VEX_DEPTH_16U, 65535, 0, 65536, 0, 65535},
        {"vexSubtract", VEX_DEPTH_1U, 1, 1, 0, 0, 0},
        {"vexSubtract", VEX_DEPTH_1U, 1, 0, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " " + vt::depthName(c.depth) + " " + std::to_string(c.a));
        // 37 equal samples: vector body and tail alike.
        const auto out = apply(op(c.op), c.depth, std::vector<int64_t>(37, c.a),
                               std::vector<int64_t>(37, c.b), c.s, c.flag);
        EXPECT_EQ(out, std::vector<int64_t>(37, c.expected));
    }
}

// Every pair of boundary values of each depth, and boundary scalars.
TEST(Saturation, AllLimitPairsMatchTheExactClampedResult) {
    for (unsigned depth : vt::kDepths) {
        if (depth == VEX_DEPTH_1U) continue;
        const int64_t lo = vt::depthMin(depth), hi = vt::depthMax(depth);
        std::vector<int64_t> v = {lo, lo + 1, lo / 2, -1, 0, 1, 2, hi / 2, hi / 2 + 1, hi - 1, hi, 181, 256};
        for (auto& x : v) x = std::clamp(x, lo, hi);
        std::vector<int64_t> a, b;
        for (int64_t x : v)
            for (int64_t y : v) a.push_back(x), b.push_back(y);
        for (const char* name : {"vexAdd", "vexSubtract", "vexMultiply", "vexSquare", "vexAbs"})
            for (int flag = 0; flag < 2; ++flag) {
                const Op& o = op(name);
                const auto out = apply(o, depth, a, b, 0, flag);
                for (size_t i = 0; i < a.size(); ++i)
                    ASSERT_EQ(out[i], o.ref(depth, a[i], b[i], 0, flag))
                        << name << " " << vt::depthName(depth) << " " << a[i] << ", " << b[i] << " flag "
                        << flag;
            }
        for (int64_t s : std::vector<int64_t>{INT32_MIN, lo - hi - 1, -hi, -1, 0, 1, hi, hi - lo + 1,
                                              INT32_MAX, 0x80000000, 0xFFFFFFFF})
            for (const char* name : {"vexAddS", "vexSubtractS", "vexMultiplyS"})
                for (int flag = 0; flag < 2; ++flag) {
                    const Op& o = op(name);
                    const auto out = apply(o, depth, a, {}, s, flag);
                    for (size_t i = 0; i < a.size(); ++i)
                        ASSERT_EQ(out[i], o.ref(depth, a[i], 0, s, flag))
                            << name << " " << vt::depthName(depth) << " " << a[i] << " s " << s << " flag "
                            << flag;
                }
    }
}

// 8-bit sums and differences are exact for every pair of samples.
TEST(Saturation, EveryEightBitPair) {
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S}) {
        std::vector<int64_t> a, b;
        for (int64_t x = vt::depthMin(depth); x <= vt::depthMax(depth); ++x)
            for (int64_t y = vt::depthMin(depth); y <= vt::depthMax(depth); ++y)
                a.push_back(x), b.push_back(y);
        for (const char* name : {"vexAdd", "vexSubtract", "vexMultiply"})
            for (int flag = 0; flag < 2; ++flag) {
                const Op& o = op(name);
                const auto out = apply(o, depth, a, b, 0, flag);
                for (size_t i = 0; i < a.size(); ++i)
                    ASSERT_EQ(out[i], o.ref(depth, a[i], b[i], 0, flag))
                        << name << " " << a[i] << ", " << b[i];
            }
    }
}

TEST(OneBit, BooleanRules) {
    const std::vector<int64_t> a = {0, 0, 1, 1}, b = {0, 1, 0, 1};
    auto run = [&](const char* name, int64_t s, int flag) {
        return apply(op(name), VEX_DEPTH_1U, a, b, s, flag);
    };
    using V = std::vector<int64_t>;
    EXPECT_EQ(run("vexAdd", 0, 0), (V{0, 1, 1, 1}));
    EXPECT_EQ(run("vexSubtract", 0, 0), (V{0, 0, 1, 0}));
    EXPECT_EQ(run("vexSubtract", 0, 1), (V{0, 1, 0, 0}));
    EXPECT_EQ(run("vexMultiply", 0, 0), (V{0, 0, 0, 1}));
    EXPECT_EQ(run("vexAddS", 3, 0), (V{1, 1, 1, 1}));
    EXPECT_EQ(run("vexAddS", -10, 0), (V{0, 0, 1, 1}));  // bit 0 clear: src
    EXPECT_EQ(run("vexSubtractS", 1, 0), (V{0, 0, 0, 0}));
    EXPECT_EQ(run("vexSubtractS", 2, 0), (V{0, 0, 1, 1}));
    EXPECT_EQ(run("vexSubtractS", 1, 1), (V{1, 1, 0, 0}));
    EXPECT_EQ(run("vexSubtractS", 2, 1), (V{0, 0, 0, 0}));
    EXPECT_EQ(run("vexMultiplyS", 5, 0), (V{0, 0, 1, 1}));
    EXPECT_EQ(run("vexMultiplyS", 4, 0), (V{0, 0, 0, 0}));
    EXPECT_EQ(run("vexSquare", 0, 0), (V{0, 0, 1, 1}));
    EXPECT_EQ(run("vexAbs", 0, 0), (V{0, 0, 1, 1}));
}

// ------------------------------------------------------------ regions

TEST(Regions, ChannelsOfEachImageMix) {
    vt::Image A(VEX_DEPTH_16S, 3, 4, 9), B(VEX_DEPTH_16S, 4, 4, 9),
        D(VEX_DEPTH_16S, 3, 4, 9, VEX_DATA_ORDER_PIXEL, 8);
    A.fillPattern(1);
    B.fillPattern(2);
    D.fillPattern(3);
    const vt::Image before = D.clone();
    A.setRoi(1, 0, 0, 4, 9);
    B.setRoi(3, 0, 0, 4, 9);
    D.setRoi(2, 0, 0, 4, 9);
    ReportLog log;
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            EXPECT_EQ(D.sample(x, y, 2), sat(VEX_DEPTH_16S, A.sample(x, y, 1) + B.sample(x, y, 3)));
            EXPECT_EQ(D.sample(x, y, 1), before.sample(x, y, 1));
            EXPECT_EQ(D.sample(x, y, 3), before.sample(x, y, 3));
        }
}

TEST(Regions, OnlyTheCommonRectangleIsWritten) {
    vt::Image A(VEX_DEPTH_8U, 1, 5, 7), B(VEX_DEPTH_8U, 1, 9, 4),
        D(VEX_DEPTH_8U, 1, 6, 6, VEX_DATA_ORDER_PIXEL, 8);
    A.fillPattern(4);
    B.fillPattern(5);
    ReportLog log;
    vexOr(A.get(), B.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    const auto bytes = D.bytes();
    const int step = D.get()->widthStep;  // 8: two padding bytes per row
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < step; ++x) {
            const bool inside = y < 5 && x < 4;
            EXPECT_EQ(bytes[y * step + x], inside ? (A.sample(x, y, 1) | B.sample(x, y, 1)) : vt::kSentinel)
                << x << "," << y;
        }
}

TEST(Regions, RegionStartingPastTheImageDoesNothing) {
    vt::Image A(VEX_DEPTH_8U, 1, 10, 100), D(VEX_DEPTH_8U, 1, 10, 100);
    vt::TiledImage T(VEX_DEPTH_8U, 1, 10, 100, 16, 8);
    A.setRoi(0, 120, 0, 5, 5);
    ReportLog log;
    vexAddS(A.get(), D.get(), 1, nullptr);
    vexAddS(A.get(), T.get(), 1, nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(D.bytes(), std::vector<uint8_t>(D.bytes().size(), vt::kSentinel));
    EXPECT_TRUE(T.calls().empty());
}

// Runs of 16 MiB and more are written with streaming stores from the first
// line boundary on; the results are the same.
TEST(Regions, LongRunsAreExact) {
    const int h = 4100, w = 4100;  // rows 1.. start 4100 bytes in: not on a line boundary
    vt::Image A(VEX_DEPTH_8U, 1, h, w), B(VEX_DEPTH_8U, 1, h, w), D(VEX_DEPTH_8U, 1, h, w);
    std::mt19937 rng(5);
    for (VexImage* im : {A.get(), B.get()})
        for (int i = 0; i < im->dataSize; ++i) im->imageData[i] = char(rng());
    for (vt::Image* im : {&A, &B, &D}) im->setRoi(0, 0, 1, h - 1, w);
    ReportLog log;
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    const auto a = A.bytes(), b = B.bytes(), d = D.bytes();
    for (size_t i = 0; i < d.size(); ++i)
        ASSERT_EQ(d[i], i < size_t(w) ? vt::kSentinel : std::min(a[i] + b[i], 255)) << i;
    vt::Image S(VEX_DEPTH_16S, 1, 2048, 4100), T(VEX_DEPTH_16S, 1, 2048, 4100);
    S.fillPattern(3);
    vexSubtractS(S.get(), S.get(), 1000, 1, nullptr);  // in place, value - src
    vexSubtractS(S.get(), T.get(), 1000, 1, nullptr);  // and back
    vt::Image R(VEX_DEPTH_16S, 1, 2048, 4100);
    R.fillPattern(3);
    for (int y = 0; y < 2048; y += 7)
        for (int x = 0; x < 4100; ++x)
            ASSERT_EQ(T.sample(x, y, 1),
                      sat(VEX_DEPTH_16S, 1000 - sat(VEX_DEPTH_16S, 1000 - R.sample(x, y, 1))));
    EXPECT_EQ(log.size(), 0u);
}

// ------------------------------------------------------------ tile walk

TEST(TileWalk, CallsInBandsAndPieces) {
    // Destination 20 x 10 in 8 x 8 tiles; source A in 16 x 16 tiles with
    // its ROI at column 4, so the two tilings cut the bands differently.
    vt::TiledImage A(VEX_DEPTH_8U, 1, 10, 24, 16, 16), D(VEX_DEPTH_8U, 1, 10, 20, 8, 8);
    vt::Image B(VEX_DEPTH_8U, 1, 10, 20);
    A.fillPattern(6);
    B.fillPattern(7);
    A.setRoi(0, 4, 0, 10, 20);
    ReportLog log;
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 0u);
    using C = std::vector<vt::TileCall>;
    const C aBand0 = {{0, 0, 1}, {0, 0, 4}, {1, 0, 1}, {1, 0, 4}};
    C aCalls = aBand0;
    aCalls.insert(aCalls.end(), aBand0.begin(), aBand0.end());  // rows 8 and 9: still tile row 0
    EXPECT_EQ(A.calls(), aCalls);
    EXPECT_EQ(D.calls(), (C{{0, 0, 2},
                            {0, 0, 4},
                            {1, 0, 2},
                            {1, 0, 4},
                            {2, 0, 2},
                            {2, 0, 4},
                            {0, 1, 2},
                            {0, 1, 4},
                            {1, 1, 2},
                            {1, 1, 4},
                            {2, 1, 2},
                            {2, 1, 4}}));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(D.sample(x, y, 1), sat(VEX_DEPTH_8U, A.sample(x + 4, y, 1) + B.sample(x, y, 1)));
}

// Tiled destinations and sources give the untiled result, whatever the
// tile sizes, and calling once per tile selector composes the same image.
TEST(TileWalk, TiledEqualsUntiledAndSelectorsCompose) {
    const int h = 21, w = 35;
    for (auto [tw, th] : {std::pair{8, 8}, {16, 8}, {8, 24}, {64, 64}}) {
        for (unsigned depth : {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16S, VEX_DEPTH_32S}) {
            const int ch = depth == VEX_DEPTH_1U ? 1 : 3;
            SCOPED_TRACE(std::string(vt::depthName(depth)) + " tiles " + std::to_string(tw) + "x" +
                         std::to_string(th));
            vt::Image A(depth, ch, h, w), B(depth, ch, h, w), plain(depth, ch, h, w);
            vt::TiledImage tA(depth, ch, h, w, th, tw), whole(depth, ch, h, w, tw, th),
                pieces(depth, ch, h, w, tw, th);
            A.fillPattern(31);
            B.fillPattern(32);
            tA.fillPattern(31);
            for (vt::ImageBase* im :
                 std::initializer_list<vt::ImageBase*>{&A, &B, &plain, &tA, &whole, &pieces})
                im->setRoi(0, 2, 3, 17, 30);
            ReportLog log;
            vexSubtract(A.get(), B.get(), plain.get(), 1, nullptr);
            vexSubtract(tA.get(), B.get(), whole.get(), 1, nullptr);
            for (int ty = 0; ty < pieces.tilesY(); ++ty)
                for (int tx = 0; tx < pieces.tilesX(); ++tx) {
                    const int tile[2] = {tx, ty};
                    vexSubtract(tA.get(), B.get(), pieces.get(), 1, tile);
                }
            ASSERT_EQ(log.size(), 0u);
            EXPECT_EQ(vt::diffSamples(whole.get(), plain.get()), "");
            EXPECT_EQ(vt::diffSamples(pieces.get(), plain.get()), "");
            EXPECT_EQ(tA.outstanding() + whole.outstanding() + pieces.outstanding(), 0);
        }
    }
}

TEST(TileWalk, RefusedTileStopsWithItsText) {
    vt::TiledImage A(VEX_DEPTH_16U, 1, 8, 32, 16, 8), D(VEX_DEPTH_16U, 1, 8, 32, 8, 8);
    vt::Image B(VEX_DEPTH_16U, 1, 8, 32);
    A.fillPattern(8);
    A.refuse(1, 0, VEX_TILE_GET_READ);
    ReportLog log;
    vexSubtract(A.get(), B.get(), D.get(), 0, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, VEX_StsBadArg);
    EXPECT_EQ(log[0].funcName, "vexSubtract");
    EXPECT_EQ(log[0].file, "vexsub");
    EXPECT_EQ(log[0].context, "(srcImageA->tileInfo->tileData == ((void*)(0)))");
    // Columns 0..15 were written before the refusal, the rest not.
    EXPECT_EQ(D.sample(15, 7, 1), std::max<int64_t>(0, A.sample(15, 7, 1) - B.sample(15, 7, 1)));
    EXPECT_EQ(D.tile(2, 0), std::vector<uint8_t>(D.tile(2, 0).size(), vt::kSentinel));
    A.clearRefusals();
    vt::TiledImage tB(VEX_DEPTH_16U, 1, 8, 32, 8, 8);
    tB.refuse(-1, -1, VEX_TILE_GET_READ);
    log.clear();
    vexMultiply(A.get(), tB.get(), D.get(), nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "(srcImageB->tileInfo->tileData == ((void*)(0)))");
    vexSetErrStatus(VEX_StsOk);
}

// A tile store whose callback never clears tileData on release.
std::vector<char> g_keptTile(64 * 8);
void keepTileData(const VexImage* image, int, int, int mode) {
    if (mode != VEX_TILE_RELEASE) image->tileInfo->tileData = g_keptTile.data();
}

TEST(TileWalk, TileDataLeftAfterReleaseIsReported) {
    VexImage* d = vexCreateImageHeader(1, 0, VEX_DEPTH_8U, "GRAY", "GRAY", 0, 0, 4, 8, 16, nullptr, nullptr,
                                       vexCreateTileInfo(keepTileData, 1, 8, 8));
    vt::Image A(VEX_DEPTH_8U, 1, 8, 16);
    ReportLog log;
    vexAddS(A.get(), d, 1, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "(dstImage->tileInfo->tileData != ((void*)(0)))");
    EXPECT_EQ(log[0].funcName, "vexAddS");
    vexDeallocate(d, VEX_IMAGE_HEADER | VEX_IMAGE_TILE);
    vexSetErrStatus(VEX_StsOk);
}

// ------------------------------------------------------------ checks

std::string headerText(const char* line) {
    std::string s = line;
    s.resize(70, ' ');
    return s + "\n";
}

TEST(Checks, TwoSourceTextsInOrder) {
    vt::Image A(VEX_DEPTH_8U, 3, 4, 4), B(VEX_DEPTH_8U, 3, 4, 4), D(VEX_DEPTH_8U, 3, 4, 4);
    D.fillPattern(9);
    const auto before = D.bytes();
    struct Step {
        std::function<void()> spoil;
        const char* text;
    };
    const std::vector<Step> steps = {
        {[&] { B.get()->align = 5; }, nullptr},  // B's header, reported after A's
        {[&] { A.get()->align = 5; }, "Image align is invalid"},
        {[&] { A.get()->align = 4; }, "Image align is invalid"},
        {[&] { B.get()->align = 4, D.get()->origin = 7; }, "Image origin is invalid"},
        {[&] { D.get()->origin = 0, B.get()->depth = VEX_DEPTH_8S, A.get()->depth = VEX_DEPTH_8S; },
         "(srcImageA->depth != dstImage->depth)"},
        {[&] { A.get()->depth = VEX_DEPTH_8U; }, "(srcImageB->depth != dstImage->depth)"},
        {[&] { B.get()->depth = VEX_DEPTH_8U, B.get()->dataOrder = 1, A.get()->dataOrder = 1; },
         "(srcImageA->dataOrder != dstImage->dataOrder)"},
        {[&] { A.get()->dataOrder = 0; }, "(srcImageB->dataOrder != dstImage->dataOrder)"},
        {[&] { B.get()->dataOrder = 0, B.setRoi(2, 0, 0, 4, 4), A.setRoi(1, 0, 0, 4, 4); },
         "(nChSrcA != nChDst)"},
        {[&] { A.clearRoi(); }, "(nChSrcB != nChDst)"},
    };
    for (const Step& step : steps) {
        step.spoil();
        if (!step.text) continue;
        SCOPED_TRACE(step.text);
        ReportLog log;
        vexAdd(A.get(), B.get(), D.get(), nullptr);
        ASSERT_EQ(log.size(), 1u);
        const std::string expected = step.text[0] == '(' ? step.text : headerText(step.text);
        EXPECT_EQ(log[0].context, expected);
        EXPECT_EQ(log[0].status, VEX_StsBadArg);
        EXPECT_EQ(log[0].file, "vexadd");
        EXPECT_EQ(D.bytes(), before);
    }
    vexSetErrStatus(VEX_StsOk);
}

TEST(Checks, DestinationTileOutsideTheRegion) {
    vt::TiledImage D(VEX_DEPTH_8S, 1, 32, 32, 8, 8);
    vt::Image S(VEX_DEPTH_8S, 1, 32, 32);
    D.setRoi(0, 16, 8, 7, 7);  // columns 16..22, rows 8..14
    const struct {
        int tile[2];
        const char* text;
    } cases[] = {{{3, 1}, "(dTile.begX > dRoi.endX)"},
                 {{2, 2}, "(dTile.begY > dRoi.endY)"},
                 {{0, 1}, "(dTile.endX < dRoi.begX)"},
                 {{2, 0}, nullptr},  // touches the region's first row only: nothing to do
                 {{2, 1}, nullptr}};
    for (const auto& c : cases) {
        ReportLog log;
        D.clearCalls();
        vexSubtractS(S.get(), D.get(), 3, 1, c.tile);
        if (c.text) {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].context, c.text);
        } else {
            EXPECT_EQ(log.size(), 0u);
        }
        EXPECT_EQ(D.calls().empty(), !(c.tile[0] == 2 && c.tile[1] == 1)) << c.tile[0] << "," << c.tile[1];
    }
    D.setRoi(0, 0, 16, 8, 8);
    ReportLog log;
    const int tile[2] = {0, 0};
    vexSubtractS(S.get(), D.get(), 3, 1, tile);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "(dTile.endY < dRoi.begY)");
    vexSetErrStatus(VEX_StsOk);
}

// Every member reports under its own function and source name, with the
// one-source or two-source texts.
TEST(Checks, NamesOfEveryMember) {
    const std::vector<std::array<const char*, 3>> names = {
        {"vexAdd", "vexAdd", "vexadd"},           {"vexAddS", "vexAddS", "vexadds"},
        {"vexSubtract", "vexSubtract", "vexsub"}, {"vexSubtractS", "vexSubtractS", "vexsubs"},
        {"vexMultiply", "vexMultiply", "vexmul"}, {"vexMultiplyS", "vexMultiplyS", "vexmuls"},
        {"vexSquare", "vexSquare", "vexsqr"},     {"vexAbs", "vexAbs", "vexabs"},
        {"vexAnd", "vexAnd", "vexand"},           {"vexOr", "vexOr", "vexor"},
        {"vexXor", "vexXor", "vexxor"},           {"vexAndS", "vexAndS", "vexands"},
        {"vexOrS", "vexOrS", "vexors"},           {"vexXorS", "vexXorS", "vexxors"},
        {"vexNot", "vexXorS", "vexxors"},         {"vexLShiftS", "vexLShiftS", "vexlshs"},
        {"vexRShiftS", "vexRShiftS", "vexshfts"}, {"vexThreshold", "vexThreshold", "vexthres"},
    };
    for (const auto& n : names) {
        const Op& o = op(n[0]);
        vt::Image A(VEX_DEPTH_16S, 1, 2, 2), D(VEX_DEPTH_16U, 1, 2, 2);
        ReportLog log;
        o.call(A.get(), A.get(), D.get(), 1, 0, nullptr);
        ASSERT_EQ(log.size(), 1u) << n[0];
        EXPECT_EQ(log[0].funcName, n[1]);
        EXPECT_EQ(log[0].file, n[2]);
        const std::string text = o.nSrc == 2 ? "(srcImageA->depth != dstImage->depth)"
                                 : std::string(n[0]) == "vexThreshold"
                                     ? "(srcImage->depth!=dstImage->depth)"
                                     : "(srcImage->depth != dstImage->depth)";
        EXPECT_EQ(log[0].context, text);
        if (o.nSrc == 2) continue;
        A.get()->depth = VEX_DEPTH_16U;
        A.get()->dataOrder = 1;
        log.clear();
        o.call(A.get(), nullptr, D.get(), 1, 0, nullptr);
        EXPECT_EQ(log[0].context, std::string(n[0]) == "vexThreshold"
                                      ? "(srcImage->dataOrder!=dstImage->dataOrder)"
                                      : "(srcImage->dataOrder != dstImage->dataOrder)");
        A.get()->dataOrder = 0;
        A.setRoi(0, 0, 0, 2, 2);
        vt::Image D3(VEX_DEPTH_16U, 3, 2, 2);
        log.clear();
        o.call(A.get(), nullptr, D3.get(), 1, 0, nullptr);
        EXPECT_EQ(log[0].context, std::string(n[0]) == "vexThreshold" ? "The mismath of number channels"
                                                                      : "(nChSrc != nChDst)");
    }
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
