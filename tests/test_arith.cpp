// The pixel-wise family: every operation against a plain reference formula
// over random layouts (tiled and untiled, ROI, COI, tile selector, in place),
// exact values at the depth limits and for every 8-bit pair, the tile walk's
// calls and texts, and the argument checks with their texts in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using vt::ReportLog;
using V = std::vector<int64_t>;

bool is1U(unsigned d) { return d == VEX_DEPTH_1U; }
bool isSigned(unsigned d) { return vt::depthMin(d) < 0; }
int64_t sat(unsigned d, int64_t v) { return std::clamp(v, vt::depthMin(d), vt::depthMax(d)); }
// The low bits of v as a sample of the depth (sign-extended when signed).
int64_t wrap(unsigned d, int64_t v) {
    const int bits = vt::depthBits(d);
    const uint64_t mask = (uint64_t(1) << bits) - 1, u = uint64_t(v) & mask;
    return isSigned(d) && (u >> (bits - 1)) ? int64_t(u | ~mask) : int64_t(u);
}

using Call = void (*)(VexImage* a, VexImage* b, VexImage* d, int64_t s, int flag, const int* tile);
using Ref = int64_t (*)(unsigned depth, int64_t a, int64_t b, int64_t s, int flag);
struct Op {
    const char *name, *file;
    int nSrc;
    Call call;
    Ref ref;            // the expected sample from the source samples, scalar and flag
    bool flag = false;  // takes swapOperands
    bool no1U = false;  // refuses 1U
};

// clang-format off
#define CALL(expr) [](VexImage* a, VexImage* b, VexImage* d, int64_t s, int f, const int* t) { expr; }
#define REF(expr) [](unsigned dp, int64_t a, int64_t b, int64_t s, int f) -> int64_t { expr; }
const Op kOps[] = {
    {"vexAdd", "vexadd", 2, CALL(vexAdd(a, b, d, t)), REF(return is1U(dp) ? a | b : sat(dp, a + b))},
    {"vexAddS", "vexadds", 1, CALL(vexAddS(a, d, int(s), t)),
     REF(return is1U(dp) ? a | (s & 1) : sat(dp, a + int32_t(s)))},
    {"vexSubtract", "vexsub", 2, CALL(vexSubtract(a, b, d, f, t)),
     REF(if (f) std::swap(a, b); return is1U(dp) ? a & !b : sat(dp, a - b)), true},
    {"vexSubtractS", "vexsubs", 1, CALL(vexSubtractS(a, d, int(s), f, t)),
     REF(if (is1U(dp)) return (s & 1) ? (f ? !a : 0) : (f ? 0 : a);
         return f ? sat(dp, int32_t(s) - a) : sat(dp, a - int32_t(s))), true},
    {"vexMultiply", "vexmul", 2, CALL(vexMultiply(a, b, d, t)), REF(return is1U(dp) ? a & b : sat(dp, a * b))},
    {"vexMultiplyS", "vexmuls", 1, CALL(vexMultiplyS(a, d, unsigned(s), t)),  // the scalar is unsigned
     REF(return is1U(dp) ? ((s & 1) ? a : 0) : sat(dp, a * int64_t(uint32_t(s))))},
    {"vexSquare", "vexsqr", 1, CALL(vexSquare(a, d, t)),
     REF(return is1U(dp) ? a : std::min(a * a, vt::depthMax(dp)))},
    {"vexAbs", "vexabs", 1, CALL(vexAbs(a, d, t)), REF(return a == vt::depthMin(dp) ? a : std::abs(a))},
    {"vexAnd", "vexand", 2, CALL(vexAnd(a, b, d, t)), REF(return a & b)},
    {"vexOr", "vexor", 2, CALL(vexOr(a, b, d, t)), REF(return a | b)},
    {"vexXor", "vexxor", 2, CALL(vexXor(a, b, d, t)), REF(return a ^ b)},
    {"vexAndS", "vexands", 1, CALL(vexAndS(a, d, unsigned(s), t)), REF(return a & wrap(dp, s))},
    {"vexOrS", "vexors", 1, CALL(vexOrS(a, d, unsigned(s), t)), REF(return a | wrap(dp, s))},
    {"vexXorS", "vexxors", 1, CALL(vexXorS(a, d, unsigned(s), t)), REF(return wrap(dp, a ^ s))},
    {"vexNot", "vexxors", 1, CALL(vexNot(a, d, t)), REF(return wrap(dp, ~a))},
    {"vexLShiftS", "vexlshs", 1, CALL(vexLShiftS(a, d, unsigned(s), t)),
     REF(return uint32_t(s) >= unsigned(vt::depthBits(dp)) ? 0 : wrap(dp, int64_t(uint64_t(a) << uint32_t(s))))},
    {"vexRShiftS", "vexshfts", 1, CALL(vexRShiftS(a, d, unsigned(s), t)),  // logical, or the sign fills in
     REF(const uint32_t n = uint32_t(s);
         return isSigned(dp) ? a >> std::min(n, 63u) : n >= unsigned(vt::depthBits(dp)) ? 0 : a >> n)},
    {"vexThreshold", "vexthres", 1, CALL(vexThreshold(a, d, int(s), t)),
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

int coiOf(const VexImage* im) { return im->roi ? im->roi->coi : 0; }
// Untiled images of equal geometry and buffer size, each wholly selected:
// the buffers are processed as one run, row padding included.
bool wholeBuffer(const std::vector<VexImage*>& im) {
    for (VexImage* i : im) {
        const VexROI* r = i->roi;
        const bool covers = !r || (r->xOffset == 0 && r->yOffset == 0 && r->width >= i->width &&
                                   r->height >= i->height && (r->coi == 0 || (r->coi == 1 && i->nChannels == 1)));
        if (i->tileInfo || !covers || i->height != im[0]->height || i->width != im[0]->width ||
            i->dataSize != im[0]->dataSize)
            return false;
    }
    return true;
}
// The whole buffer as one row of one-channel samples.
VexImage flat(const VexImage* im) {
    VexImage f = *im;
    f.roi = nullptr;
    f.nChannels = f.height = 1;
    f.dataOrder = VEX_DATA_ORDER_PIXEL;
    f.width = int(int64_t(im->dataSize) * 8 / vt::depthBits(im->depth));
    return f;
}

// Writes the expected result of sources `src` (pre-call copies) into
// `expect` (a pre-call copy of the destination). Returns the text of the
// failing dTile check, or "" when the call should succeed.
std::string reference(const Op& o, const std::vector<VexImage*>& src, VexImage* expect, int64_t s, int flag,
                      const int* tile) {
    std::vector<VexImage*> all = src;
    all.push_back(expect);
    std::vector<vt::Clip> r;
    int w = INT32_MAX, h = INT32_MAX;
    for (VexImage* im : all) {
        r.push_back(vt::clipOf(im));
        w = std::min(w, r.back().w), h = std::min(h, r.back().h);
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
        std::vector<VexImage> f;
        for (VexImage* im : all) f.push_back(flat(im));
        for (int k = 0; k < f.back().width; ++k) {
            const int64_t b = f.size() > 2 ? vt::sample(&f[1], k, 0, 1) : 0;
            vt::setSample(&f.back(), k, 0, 1, o.ref(depth, vt::sample(&f[0], k, 0, 1), b, s, flag));
        }
        return "";
    }
    const vt::Clip& d = r.back();
    const int dCoi = coiOf(expect);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 1; c <= (dCoi ? 1 : expect->nChannels); ++c) {
                int64_t v[2] = {0, 0};
                for (size_t i = 0; i < src.size(); ++i)
                    v[i] = vt::sample(src[i], r[i].x + dx + x, r[i].y + dy + y, coiOf(src[i]) ? coiOf(src[i]) : c);
                vt::setSample(expect, d.x + dx + x, d.y + dy + y, dCoi ? dCoi : c,
                              wrap(depth, o.ref(depth, v[0], v[1], s, flag)));
            }
    return "";
}

// Scalars at and around every depth's limits, shift counts around every width.
const int64_t kScalars[] = {0, 1, -1, 2, -10, 100, 127, 128, -128, -129, 255, 256, -256, 0x1F0, 32767, 32768,
                            -32769, 65535, 65536, 0x18000, INT32_MAX, INT32_MIN, INT32_MIN + 1, INT32_MAX - 1,
                            0x7FFF0000, -1000000, 0x80000000, 0xFFFFFFFF};
const int64_t kShifts[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 24, 25, 31, 32, 33, 40, 0xFFFFFFFF};
bool shifts(const Op& o) { return std::string(o.name).find("Shift") != std::string::npos; }

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
    const int channels = d.hasRoi && d.roi.coi ? 1 : d.nChannels;
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
    const std::string name = o.name;
    std::mt19937 rng(1234 + GetParam());
    // How often the matrix reached each path; every one must be reached.
    enum { kWhole, kTiledDst, kTiledSrc, kSelector, kRefusedSelector, kInPlace, kMixedCoi, kPaths };
    int reached[kPaths] = {};
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
        // The copy cases go through vexCopy, which also wants equal origins.
        if (name == "vexAbs" || name == "vexLShiftS") sl[0].origin = dl.origin;
        auto dst = vt::makeImage(dl, rng());
        std::vector<std::unique_ptr<vt::ImageBase>> srcs;
        std::vector<VexImage*> in, before, every;
        for (auto& l : sl) srcs.push_back(vt::makeImage(l, rng()));
        for (auto& s : srcs) in.push_back(s->get());
        if (rng() % 8 == 0) in[0] = dst->get();  // in place
        const int64_t s = shifts(o) ? kShifts[rng() % std::size(kShifts)]
                          : rng() % 4 ? kScalars[rng() % std::size(kScalars)] : int32_t(rng());
        const int flag = o.flag ? int(rng() % 2) : 0;
        int tileSel[2];
        const int* tile = nullptr;
        if (dl.tiled && rng() % 3 == 0) {
            auto* t = static_cast<vt::TiledImage*>(dst.get());
            tileSel[0] = int(rng() % (t->tilesX() + 2)) - 1;  // one tile beyond each edge too
            tileSel[1] = int(rng() % (t->tilesY() + 2)) - 1;
            tile = tileSel;
        }
        std::vector<std::unique_ptr<vt::ImageBase>> copies;
        for (size_t i = 0; i < in.size(); ++i) {
            copies.push_back(vt::cloneOf(in[i] == dst->get() ? *dst : *srcs[i]));
            before.push_back(copies.back()->get());
        }
        auto expect = vt::cloneOf(*dst);
        const std::string failure = reference(o, before, expect->get(), s, flag, tile);
        SCOPED_TRACE(name + " trial " + std::to_string(trial) + " s=" + std::to_string(s) + " flag=" +
                     std::to_string(flag) + " dst " + vt::describe(dl) + " src " + vt::describe(sl[0]) +
                     (o.nSrc > 1 ? " | " + vt::describe(sl[1]) : "") + (in[0] == dst->get() ? " in place" : "") +
                     (tile ? " tile " + std::to_string(tile[0]) + "," + std::to_string(tile[1]) : ""));
        every = in;
        every.push_back(dst->get());
        bool coi = false, plain = false, anyTiled = false;
        for (VexImage* im : every) {
            (im->roi && im->roi->coi ? coi : plain) = true;
            anyTiled = anyTiled || im->tileInfo;
        }
        const bool path[kPaths] = {wholeBuffer(every), dl.tiled, in[0]->tileInfo != nullptr, tile != nullptr,
                                   !failure.empty(), in[0] == dst->get(), coi && plain};
        for (int p = 0; p < kPaths; ++p) reached[p] += path[p];
        std::vector<VexROI> rois;  // the callers' records stay as they were
        for (VexImage* im : every) rois.push_back(im->roi ? *im->roi : VexROI{});
        ReportLog log;
        vexSetErrStatus(VEX_StsOk);
        o.call(in[0], o.nSrc > 1 ? in[1] : nullptr, dst->get(), s, flag, tile);
        const unsigned bits = unsigned(vt::depthBits(dl.depth));
        const bool copy =
            (name == "vexAbs" && !isSigned(dl.depth)) || (name == "vexLShiftS" && bits == 1 && s == 0);
        const bool clears = name == "vexLShiftS" && uint32_t(s) >= bits;
        EXPECT_EQ(vt::diffSamples(dst->get(), expect->get()), "");
        if (!failure.empty()) {
            // vexCopy skips a tile outside the region silently; the others
            // report it, vexLShiftS through vexAndS with a trail entry.
            ASSERT_EQ(log.size(), copy ? 0u : clears ? 2u : 1u);
            if (copy) continue;
            EXPECT_EQ(log[0].context, failure);
            EXPECT_EQ(log[0].funcName, clears ? "vexAndS" : name == "vexNot" ? "vexXorS" : name);
            EXPECT_EQ(log[log.size() - 1].status, clears ? VEX_StsBackTrace : VEX_StsBadArg);
            continue;
        }
        ASSERT_EQ(log.size(), 0u) << log[0].funcName << ": " << log[0].context;
        EXPECT_TRUE(anyTiled || dst->bytes() == expect->bytes()) << "bytes outside the samples";
        for (size_t i = 0; i < every.size(); ++i)
            EXPECT_EQ(std::memcmp(every[i]->roi ? every[i]->roi : &rois[i], &rois[i], sizeof(VexROI)), 0) << i;
        srcs.push_back(std::move(dst));
        for (auto& im : srcs) EXPECT_EQ(vt::tileFaults(im.get()), "");
    }
    vexSetErrStatus(VEX_StsOk);
    for (int p = 0; p < kPaths; ++p) EXPECT_GT(reached[p], 0) << "path " << p << " never taken";
}
INSTANTIATE_TEST_SUITE_P(PixelWise, Matrix, ::testing::Range(0, int(std::size(kOps))),
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(kOps[i.param].name); });

// ------------------------------------------------------------ exact values

// One row per image, the samples repeated to at least 37 (vector body and
// tail alike); returns the destination's first n.
V apply(const Op& o, unsigned depth, const V& a, const V& b, int64_t s, int flag) {
    const int n = int(a.size()), len = std::max(n, 37);
    vt::Image A(depth, 1, 1, len), B(depth, 1, 1, len), D(depth, 1, 1, len);
    for (int x = 0; x < len; ++x) {
        A.setSample(x, 0, 1, a[x % n]);
        B.setSample(x, 0, 1, b.empty() ? 0 : b[x % n]);
    }
    ReportLog log;
    o.call(A.get(), B.get(), D.get(), s, flag, nullptr);
    EXPECT_EQ(log.size(), 0u);
    V out;
    for (int x = 0; x < len; ++x) out.push_back(D.sample(x, 0, 1));
    for (int x = n; x < len; ++x) EXPECT_EQ(out[x], out[x % n]) << "sample " << x;
    return V(out.begin(), out.begin() + n);
}

// Every member on every pair of 1- and 8-bit samples and of boundary values
// of the wider depths, with boundary scalars and shift counts, against the
// reference.
TEST(Exact, LimitPairsMatchTheReference) {
    for (unsigned depth : vt::kDepths) {
        const int64_t lo = vt::depthMin(depth), hi = vt::depthMax(depth);
        V v, a, b, scalars(std::begin(kShifts), std::end(kShifts));
        if (vt::depthBits(depth) <= 8)
            for (int64_t x = lo; x <= hi; ++x) v.push_back(x);
        else
            for (int64_t x : V{lo, lo + 1, lo / 2, -1, 0, 1, 2, 181, 256, hi / 2, hi / 2 + 1, hi - 1, hi})
                v.push_back(std::clamp(x, lo, hi));
        for (int64_t x : v)
            for (int64_t y : v) a.push_back(x), b.push_back(y);
        for (int64_t s : V{INT32_MIN, lo - hi - 1, -hi, -1, 2, hi, hi - lo + 1, INT32_MAX, 0x80000000})
            scalars.push_back(s);
        for (const Op& o : kOps)
            for (int flag = 0; flag <= int(o.flag) && !(o.no1U && is1U(depth)); ++flag)
                for (int64_t s : o.nSrc == 2 ? V{0} : scalars) {
                    const V& in = o.nSrc == 2 ? a : v;
                    const V out = apply(o, depth, in, o.nSrc == 2 ? b : V{}, s, flag);
                    for (size_t i = 0; i < out.size(); ++i) {
                        const int64_t bi = o.nSrc == 2 ? b[i] : 0;
                        ASSERT_EQ(out[i], o.ref(depth, in[i], bi, s, flag))
                            << o.name << " " << vt::depthName(depth) << " " << in[i] << ", " << bi << " s " << s
                            << " flag " << flag;
                    }
                }
    }
}

// Runs of 16 MiB and more are written with streaming stores from the first
// line boundary on, in place too; a tile walk writing that much streams its
// short pieces a line at a time into an untiled destination whose rows start
// off a line boundary (walks into tiles: test_traversal.cpp). The results
// are the rule's, and nothing outside the region changes.
TEST(Exact, LongRunsAndTiledWalks) {
    const int h = 4100, w = 4100;  // rows 1.. start 4100 bytes in: not on a line boundary
    vt::Image A(VEX_DEPTH_8U, 1, h, w), B(VEX_DEPTH_8U, 1, h, w), D(VEX_DEPTH_8U, 1, h, w), F(VEX_DEPTH_8U, 1, h, w);
    vt::TiledImage T(VEX_DEPTH_8U, 1, h, w, 200, 64);
    A.fillPattern(1), T.fillPattern(1), B.fillPattern(2);
    for (vt::Image* im : {&A, &B, &D}) im->setRoi(0, 0, 1, h - 1, w);
    ReportLog log;
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    const auto a = A.bytes(), b = B.bytes(), d = D.bytes();
    for (size_t i = 0; i < d.size(); ++i)
        ASSERT_EQ(d[i], i < size_t(w) ? vt::kSentinel : std::min(a[i] + b[i], 255)) << i;
    B.setRoi(0, 0, 0, h, w), F.setRoi(0, 3, 1, h, w);
    vexAdd(T.get(), B.get(), F.get(), nullptr);
    for (int y = 0; y < h; y += 37)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(F.sample(x, y, 1), x < 3 || y < 1 ? vt::kSentinel
                                                         : std::min<int64_t>(T.sample(x - 3, y - 1, 1) + B.sample(x - 3, y - 1, 1), 255))
                << x << "," << y;
    // Tile to tile in a call of 16 MB or more: the tiles' back-to-back rows
    // are streamed; a region starting inside a tile leaves the rest alone.
    vt::TiledImage C(VEX_DEPTH_8U, 1, h, w, 200, 64), E(VEX_DEPTH_8U, 1, h, w, 200, 64);
    vexCopy(T.get(), C.get(), nullptr);
    EXPECT_EQ(C.bytes(), T.bytes());
    E.setRoi(0, 1, 0, h, w - 1), T.setRoi(0, 1, 0, h, w - 1);
    vexCopy(T.get(), E.get(), nullptr);
    T.setRoi(0, 0, 0, h, w);
    for (int y = 0; y < h; y += 41)
        for (int x = 0; x < w; ++x) ASSERT_EQ(E.sample(x, y, 1), x < 1 ? vt::kSentinel : T.sample(x, y, 1)) << x << "," << y;
    vt::Image S(VEX_DEPTH_16S, 1, 2048, 4100), U(VEX_DEPTH_16S, 1, 2048, 4100);
    S.fillPattern(3);
    const vt::Image R = S.clone();
    vexSubtractS(S.get(), S.get(), 1000, 1, nullptr);  // in place, value - src
    vexSubtractS(S.get(), U.get(), 1000, 1, nullptr);  // and back
    for (int y = 0; y < 2048; y += 7)
        for (int x = 0; x < 4100; ++x)
            ASSERT_EQ(U.sample(x, y, 1), sat(VEX_DEPTH_16S, 1000 - sat(VEX_DEPTH_16S, 1000 - R.sample(x, y, 1))));
    EXPECT_EQ(log.size(), 0u);
}

// ------------------------------------------------------------ tile walk

TEST(TileWalk, CallsInBandsAndPieces) {
    // Destination 20 x 10 in 8 x 8 tiles; source A in 16 x 16 tiles with
    // its ROI at column 4, so the two tilings cut the bands differently.
    vt::TiledImage A(VEX_DEPTH_8U, 1, 10, 24, 16, 16), D(VEX_DEPTH_8U, 1, 10, 20, 8, 8);
    vt::Image B(VEX_DEPTH_8U, 1, 10, 20);
    A.setRoi(0, 4, 0, 10, 20);
    ReportLog log;
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    using C = std::vector<vt::TileCall>;
    EXPECT_EQ(A.calls(), (C{{0, 0, 1}, {0, 0, 4}, {1, 0, 1}, {1, 0, 4},  // rows 8 and 9: still tile row 0
                            {0, 0, 1}, {0, 0, 4}, {1, 0, 1}, {1, 0, 4}}));
    EXPECT_EQ(D.calls(), (C{{0, 0, 2}, {0, 0, 4}, {1, 0, 2}, {1, 0, 4}, {2, 0, 2}, {2, 0, 4},
                            {0, 1, 2}, {0, 1, 4}, {1, 1, 2}, {1, 1, 4}, {2, 1, 2}, {2, 1, 4}}));
    // A region that starts past the image: no tile is requested.
    A.clearCalls();
    D.clearCalls();
    A.setRoi(0, 30, 0, 5, 5);
    vexAdd(A.get(), B.get(), D.get(), nullptr);
    EXPECT_TRUE(A.calls().empty() && D.calls().empty());
    EXPECT_EQ(log.size(), 0u);
}

// A tile store whose callback never clears tileData on release.
std::vector<char> g_keptTile(64 * 8);
void keepTileData(const VexImage* image, int, int, int mode) {
    if (mode != VEX_TILE_RELEASE) image->tileInfo->tileData = g_keptTile.data();
}

// A failure stops the walk at once; the pieces before it stay written.
TEST(TileWalk, FailureTexts) {
    const struct {
        const char* op;
        int image;      // refused: 0 the (first) source, 1 the second, 2 the destination; 3 keeps tileData
        int tileX;      // the refused tile column (-1 any)
        int writtenTo;  // columns written before the failure
        const char* text;
    } cases[] = {
        {"vexSubtract", 0, 1, 16, "(srcImageA->tileInfo->tileData == ((void*)(0)))"},
        {"vexMultiply", 1, 1, 8, "(srcImageB->tileInfo->tileData == ((void*)(0)))"},
        {"vexAdd", 2, 1, 8, "(dstImage->tileInfo->tileData == ((void*)(0)))"},
        {"vexLShiftS", 2, -1, 0, "(dstImage->tileInfo->tileData == ((void*)(0)))"},
        {"vexSubtractS", 3, 0, 0, "(dstImage->tileInfo->tileData != ((void*)(0)))"},
        {"vexRShiftS", 0, -1, 0, "(srcImage->tileInfo->tileData == ((void *)0))"},
        {"vexRShiftS", 2, 2, 16, "(dstImage->tileInfo->tileData == ((void *)0))"},
        {"vexRShiftS", 3, 0, 0, "(dstImage->tileInfo->tileData != ((void *)0))"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op + std::string(" ") + c.text);
        const Op& o = op(c.op);
        // Source A in 16 x 8 tiles, B and the destination in 8 x 8.
        vt::TiledImage A(VEX_DEPTH_16U, 1, 8, 32, 16, 8), B(VEX_DEPTH_16U, 1, 8, 32, 8, 8),
            D(VEX_DEPTH_16U, 1, 8, 32, 8, 8);
        A.fillPattern(8);
        B.fillPattern(9);
        const vt::TiledImage before = D.clone();
        if (c.image < 3)
            (c.image == 0 ? A : c.image == 1 ? B : D)
                .refuse(c.tileX, -1, c.image == 2 ? VEX_TILE_GET_WRITE : VEX_TILE_GET_READ);
        VexImage* kept = vexCreateImageHeader(1, 0, VEX_DEPTH_16U, "GRAY", "GRAY", 0, 0, 4, 8, 32, nullptr,
                                              nullptr, vexCreateTileInfo(keepTileData, 1, 8, 8));
        ReportLog log;
        o.call(A.get(), B.get(), c.image == 3 ? kept : D.get(), 1, 1, nullptr);  // operands swapped
        vexDeallocate(kept, VEX_IMAGE_HEADER | VEX_IMAGE_TILE);
        vexSetErrStatus(VEX_StsOk);
        vt::expectOneReport(log, VEX_StsBadArg, c.op, o.file, c.text);
        for (int x = 0; x < 32 && c.image < 3; ++x) {
            const int64_t written = o.ref(VEX_DEPTH_16U, A.sample(x, 7, 1), B.sample(x, 7, 1), 1, 1);
            EXPECT_EQ(D.sample(x, 7, 1), x < c.writtenTo ? written : before.sample(x, 7, 1)) << x;
        }
    }
}

// ------------------------------------------------------------ checks

// Every member's checks in order, under its own function and source name:
// everything is spoilt at first and one thing mended after each call, so
// each call meets the next check. The texts of the two-source members, then
// of the one-source ones (null: the call passes). The destination is never
// written.
TEST(Checks, TextsInOrder) {
    const char* const steps[][2] = {
        {"Image align is invalid", "Image align is invalid"},  // every header spoilt
        {"Image origin is invalid", "Image data order is invalid"},
        {"Image data order is invalid", "Image data order is invalid"},
        {"(srcImageA->depth != dstImage->depth)", "(srcImage->depth != dstImage->depth)"},
        {"(srcImageB->depth != dstImage->depth)", "(srcImage->dataOrder != dstImage->dataOrder)"},
        {"(srcImageA->dataOrder != dstImage->dataOrder)", "(srcImage->dataOrder != dstImage->dataOrder)"},
        {"(srcImageB->dataOrder != dstImage->dataOrder)", "(nChSrc != nChDst)"},
        {"(nChSrcA != nChDst)", "(nChSrc != nChDst)"},
        {"(nChSrcB != nChDst)", nullptr},
    };
    for (const Op& o : kOps) {
        if (o.no1U) continue;  // the threshold has its own checks
        SCOPED_TRACE(o.name);
        vt::Image A(VEX_DEPTH_8S, 3, 4, 4), B(VEX_DEPTH_8S, 3, 4, 4), D(VEX_DEPTH_8U, 3, 4, 4);
        VexImage *a = A.get(), *b = B.get(), *d = D.get();
        D.fillPattern(9);
        A.setRoi(1, 0, 0, 4, 4);  // one channel each against the destination's three
        B.setRoi(2, 0, 0, 4, 4);
        a->align = 5, b->origin = 7, d->dataOrder = 5;  // the depths and data orders differ too
        const std::function<void()> mend[] = {
            [&] { a->align = 4; }, [&] { b->origin = 0; }, [&] { d->dataOrder = 1; },
            [&] { a->depth = VEX_DEPTH_8U; }, [&] { b->depth = VEX_DEPTH_8U; },
            [&] { a->dataOrder = 1; }, [&] { b->dataOrder = 1; },
            [&] { A.setRoi(0, 0, 0, 4, 4); }, [&] { B.setRoi(0, 0, 0, 4, 4); }};
        for (size_t i = 0; i < std::size(steps); ++i) {
            if (const char* text = steps[i][o.nSrc == 2 ? 0 : 1])
                vt::expectRejected([&] { o.call(a, b, d, 1, 0, nullptr); }, &D, VEX_StsBadArg,
                                   std::string(o.name) == "vexNot" ? "vexXorS" : o.name, o.file, text);
            mend[i]();
        }
        // No member checks origins, but the copy vexAbs makes of an unsigned depth does.
        a->origin = VEX_ORIGIN_BL;
        ReportLog log;
        o.call(a, b, d, 1, 0, nullptr);
        ASSERT_EQ(log.size(), std::string(o.name) == "vexAbs" ? 2u : 0u);
        EXPECT_TRUE(log.size() == 0 || (log[0].funcName == "vexCopy" && log[1].status == VEX_StsBackTrace &&
                                        log[1].funcName == "vexAbs" && log[1].file == "vexabs"));
        vexSetErrStatus(VEX_StsOk);
    }
}

}  // namespace
