// The pixel-wise family: every operation against a plain reference formula
// over random layouts (tiled and untiled, ROI, COI, tile selector, in place),
// saturation limits per depth, 1U rules, the tile walk's calls and messages,
// and the argument checks with their texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using vt::ReportLog;

// ------------------------------------------------------------- reference

int64_t sat(unsigned depth, int64_t v) {
    return std::clamp(v, vt::depthMin(depth), vt::depthMax(depth));
}
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
    Ref ref;
    bool scalar;      // takes a 32-bit scalar
    bool flag;        // takes swapOperands
    bool no1U;        // refuses 1U
    bool spacedNull;  // "((void *)0)" notation in tile-walk texts
};

bool is1U(unsigned d) { return d == VEX_DEPTH_1U; }

const Op kOps[] = {
    {"vexAdd", 2, [](VexImage* a, VexImage* b, VexImage* d, int64_t, int, const int* t) { vexAdd(a, b, d, t); },
     [](unsigned dp, int64_t a, int64_t b, int64_t, int) { return is1U(dp) ? (a | b) : sat(dp, a + b); }},
    {"vexAddS", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexAddS(a, d, int(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) { return is1U(dp) ? (a | (s & 1)) : sat(dp, a + int32_t(s)); },
     true},
    {"vexSubtract", 2,
     [](VexImage* a, VexImage* b, VexImage* d, int64_t, int f, const int* t) { vexSubtract(a, b, d, f, t); },
     [](unsigned dp, int64_t a, int64_t b, int64_t, int f) {
         if (f) std::swap(a, b);
         return is1U(dp) ? (a & !b) : sat(dp, a - b);
     },
     false, true},
    {"vexSubtractS", 1,
     [](VexImage* a, VexImage*, VexImage* d, int64_t s, int f, const int* t) { vexSubtractS(a, d, int(s), f, t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int f) {
         if (is1U(dp)) return (s & 1) ? (f ? int64_t(!a) : 0) : (f ? 0 : a);
         return f ? sat(dp, int32_t(s) - a) : sat(dp, a - int32_t(s));
     },
     true, true},
    {"vexMultiply", 2, [](VexImage* a, VexImage* b, VexImage* d, int64_t, int, const int* t) { vexMultiply(a, b, d, t); },
     [](unsigned dp, int64_t a, int64_t b, int64_t, int) { return is1U(dp) ? (a & b) : sat(dp, a * b); }},
    {"vexMultiplyS", 1,
     [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexMultiplyS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) {
         return is1U(dp) ? ((s & 1) ? a : 0) : sat(dp, a * int64_t(uint32_t(s)));
     },
     true},
    {"vexSquare", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t, int, const int* t) { vexSquare(a, d, t); },
     [](unsigned dp, int64_t a, int64_t, int64_t, int) { return is1U(dp) ? a : std::min(a * a, vt::depthMax(dp)); }},
    {"vexAbs", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t, int, const int* t) { vexAbs(a, d, t); },
     [](unsigned dp, int64_t a, int64_t, int64_t, int) { return a == vt::depthMin(dp) ? a : std::abs(a); }},
    {"vexAnd", 2, [](VexImage* a, VexImage* b, VexImage* d, int64_t, int, const int* t) { vexAnd(a, b, d, t); },
     [](unsigned, int64_t a, int64_t b, int64_t, int) { return a & b; }},
    {"vexOr", 2, [](VexImage* a, VexImage* b, VexImage* d, int64_t, int, const int* t) { vexOr(a, b, d, t); },
     [](unsigned, int64_t a, int64_t b, int64_t, int) { return a | b; }},
    {"vexXor", 2, [](VexImage* a, VexImage* b, VexImage* d, int64_t, int, const int* t) { vexXor(a, b, d, t); },
     [](unsigned, int64_t a, int64_t b, int64_t, int) { return a ^ b; }},
    {"vexAndS", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexAndS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) { return a & wrap(dp, s); }, true},
    {"vexOrS", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexOrS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) { return a | wrap(dp, s); }, true},
    {"vexXorS", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexXorS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) { return wrap(dp, a ^ s); }, true},
    {"vexNot", 1, [](VexImage* a, VexImage*, VexImage* d, int64_t, int, const int* t) { vexNot(a, d, t); },
     [](unsigned dp, int64_t a, int64_t, int64_t, int) { return wrap(dp, ~a); }},
    {"vexLShiftS", 1,
     [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexLShiftS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) {
         return uint32_t(s) >= unsigned(vt::depthBits(dp)) ? 0 : wrap(dp, int64_t(uint64_t(a) << uint32_t(s)));
     },
     true},
    {"vexRShiftS", 1,
     [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexRShiftS(a, d, unsigned(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) {
         const uint32_t n = uint32_t(s);
         if (!vt::depthSigned(dp)) return n >= unsigned(vt::depthBits(dp)) ? 0 : a >> n;
         return a >> std::min(n, 63u);  // the sign fills in
     },
     true, false, false, true},
    {"vexThreshold", 1,
     [](VexImage* a, VexImage*, VexImage* d, int64_t s, int, const int* t) { vexThreshold(a, d, int(s), t); },
     [](unsigned dp, int64_t a, int64_t, int64_t s, int) { return a < int32_t(s) ? vt::depthMin(dp) : vt::depthMax(dp); },
     true, false, true},
};

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
    const char* p = im->imageData;
    switch (vt::depthBits(im->depth)) {
        case 1: return (uint8_t(p[k >> 3]) >> (7 - (k & 7))) & 1;
        case 8: return wrap(im->depth, uint8_t(p[k]));
        case 16: { uint16_t v; std::memcpy(&v, p + 2 * k, 2); return wrap(im->depth, v); }
        default: { int32_t v; std::memcpy(&v, p + 4 * k, 4); return v; }
    }
}
void rawSet(VexImage* im, int64_t k, int64_t v) {
    char* p = im->imageData;
    switch (vt::depthBits(im->depth)) {
        case 1: p[k >> 3] = char((uint8_t(p[k >> 3]) & ~(0x80 >> (k & 7))) | ((v & 1) << (7 - (k & 7)))); break;
        case 8: p[k] = char(v); break;
        case 16: { uint16_t w = uint16_t(v); std::memcpy(p + 2 * k, &w, 2); break; }
        default: { int32_t w = int32_t(v); std::memcpy(p + 4 * k, &w, 4); }
    }
}

std::unique_ptr<vt::ImageBase> cloneOf(const vt::ImageBase& im) {
    if (auto* t = dynamic_cast<const vt::TiledImage*>(&im)) return std::make_unique<vt::TiledImage>(t->clone());
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
            rawSet(expect, k, o.ref(depth, rawGet(src[0], k), src.size() > 1 ? rawGet(src[1], k) : 0, s, flag));
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
    static const int64_t kValues[] = {0,      1,     -1,    2,          -10,        100,       127,
                                      128,    -128,  -129,  255,        256,        -256,      0x1F0,
                                      32767,  32768, -32769, 65535,     65536,      0x18000,   INT32_MAX,
                                      INT32_MIN, INT32_MIN + 1, INT32_MAX - 1, 0x7FFF0000, -1000000};
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
        const bool copies = (name == "vexAbs" && !vt::depthSigned(dl.depth)) ||
                            (name == "vexLShiftS" && bits == 1 && s == 0);
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
            if (clears) EXPECT_EQ(log[1].status, VEX_StsBackTrace);
            continue;
        }
        ASSERT_EQ(log.size(), 0u) << log[0].funcName << ": " << log[0].context;
        EXPECT_EQ(vt::diffSamples(dst->get(), expect->get()), "");
        bool anyTiled = false;
        for (VexImage* im : in) anyTiled = anyTiled || im->tileInfo;
        if (!anyTiled && !dl.tiled) EXPECT_TRUE(dst->bytes() == expect->bytes()) << "bytes outside the samples";
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
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(kOps[i.param].name); });

}  // namespace
