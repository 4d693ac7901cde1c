// Convolution kernels, vexConvolve2D, vexConvolveSep2D and vexBlur against
// references written plainly here (the border rule sample by sample, sums in
// the order and precision the operations define), in one matrix over the
// three operations, random layouts, depth pairs, kernels, anchors, windows,
// border modes, ROIs and channels of interest, rows long enough for the
// vector steps, in-place calls and tilings; tile requests; the worked
// numbers; every check text.
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "filterref.h"

namespace vex {
void ownAvx2Only(bool on);  // test hook: the AVX2 kernels even where AVX-512 is there
void ownNoVbmi(bool on);    // test hook: the AVX-512 kernels without the VBMI permutation
}  // namespace vex

namespace {
// The kernel forms a machine with AVX-512 has, widest first; an 8-bit
// filter's result is the same in each.
const char* const kForms[] = {"widest kernels", "AVX-512 kernels without VBMI", "AVX2 kernels"};
void useForm(int f) {
    vex::ownNoVbmi(f == 1);
    vex::ownAvx2Only(f == 2);
}

using vt::uniform;

struct KDesc {
    int nRows = 1, nCols = 1, ax = 0, ay = 0, shift = 0;
    std::vector<signed char> v;
};

struct Kernels {
    std::vector<VexConvKernel*> k;
    explicit Kernels(const std::vector<KDesc>& descs) {
        for (const KDesc& s : descs) k.push_back(vexCreateConvKernel(s.nRows, s.nCols, s.ax, s.ay, s.v.data(), s.shift));
    }
    ~Kernels() {
        for (VexConvKernel* p : k) vexDeleteConvKernel(p);
    }
};

KDesc randomKernel(std::mt19937& rng, int maxSide) {
    KDesc s;
    s.nRows = uniform(rng, 1, maxSide);
    s.nCols = uniform(rng, 1, maxSide);
    s.ax = uniform(rng, 0, s.nCols - 1);
    s.ay = uniform(rng, 0, s.nRows - 1);
    s.shift = uniform(rng, 0, 4) == 0 ? uniform(rng, 0, 40) : 0;
    for (int i = 0; i < s.nRows * s.nCols; ++i) {
        const int kind = uniform(rng, 0, 5);
        s.v.push_back(static_cast<signed char>(kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? -1 : uniform(rng, -128, 127)));
    }
    return s;
}

// A source sample as the convolution reads it: as wide as the destination's
// samples, it takes the destination's signedness.
int64_t convRead(const VexImage* src, unsigned dstDepth, int64_t x, int64_t y, int c) {
    int64_t v = fref::borderSample(src, x, y, c);
    if (src->depth != VEX_DEPTH_1U && vt::depthBits(src->depth) == vt::depthBits(dstDepth)) {
        if (vt::depthBits(dstDepth) == 8) v = vt::depthSigned(dstDepth) ? int64_t(int8_t(uint8_t(v))) : (v & 0xFF);
        if (vt::depthBits(dstDepth) == 16) v = vt::depthSigned(dstDepth) ? int64_t(int16_t(uint16_t(v))) : (v & 0xFFFF);
    }
    return v;
}

template <class F>
int64_t refConv(const VexImage* src, unsigned dstDepth, const std::vector<KDesc>& ks, int method, int64_t x,
                int64_t y, int c) {
    F R = 0;
    for (int k = int(ks.size()) - 1; k >= 0; --k) {
        const KDesc& s = ks[size_t(k)];
        F S = 0;
        for (int r = 0; r < s.nRows; ++r)
            for (int cc = 0; cc < s.nCols; ++cc) {
                const int v = s.v[size_t(r * s.nCols + cc)];
                if (v != 0) S = S + F(v) * F(convRead(src, dstDepth, x - s.ax + cc, y - s.ay + r, c));
            }
        if (s.shift & 31) {
            const F n = std::nearbyint(S);
            const int32_t i = n >= F(2147483647.0) ? INT32_MAX : n < F(-2147483648.0) ? INT32_MIN : int32_t(n);
            S = F(i >> (s.shift & 31));
        }
        const bool first = k == int(ks.size()) - 1;
        switch (method) {
            case 0: R = first ? S : R + S; break;
            case 1:
            case 2: R = first ? S * S : R + S * S; break;
            case 3: R = first || R <= S ? S : R; break;
            default: R = first || R >= S ? S : R; break;
        }
    }
    if (method == 2) R = std::sqrt(R);
    if (dstDepth == VEX_DEPTH_1U) return R >= F(0.5) ? 1 : 0;
    const int64_t lo = vt::depthMin(dstDepth), hi = vt::depthMax(dstDepth);
    if (R < F(lo)) return lo;
    if (R >= F(hi)) return hi;
    return int64_t(std::nearbyint(R));
}

int64_t refSep(const VexImage* src, const KDesc& X, const KDesc& Y, int x, int y, int c) {
    uint32_t S = 0;
    for (int cc = 0; cc < X.nCols; ++cc) {
        uint32_t V = 0;
        for (int r = 0; r < Y.nRows; ++r)
            V += uint32_t(int32_t(Y.v[size_t(r)])) *
                 uint32_t(int32_t(fref::borderSample(src, int64_t(x) - X.ax + cc, int64_t(y) - Y.ay + r, c)));
        S += uint32_t(int32_t(X.v[size_t(cc)])) * V;
    }
    const int shift = std::min(31, (X.shift & 31) + (Y.shift & 31));
    return fref::clampTo(int32_t(S) >> shift, src->depth);
}

int64_t refBlur(const VexImage* src, int nR, int nC, int ax, int ay, int x, int y, int c) {
    int64_t sum = 0;
    for (int r = 0; r < nR; ++r)
        for (int cc = 0; cc < nC; ++cc) sum += fref::borderSample(src, int64_t(x) - ax + cc, int64_t(y) - ay + r, c);
    const float w = 1.0f / float(nR * nC);
    const float f = float(sum) * w;
    const int64_t lo = vt::depthMin(src->depth), hi = vt::depthMax(src->depth);
    if (f >= float(hi)) return hi;
    if (f <= float(lo)) return lo;
    return int64_t(f);
}

const unsigned kD[6] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

// One call of one of the three operations with random arguments.
enum Op { kConv, kSep, kBlur };
struct Job {
    Op op;
    std::vector<KDesc> ks;  // conv: the kernels; sep: X then Y
    int method = 0, nR = 1, nC = 1, ax = 0, ay = 0;
    std::string text() const {
        const char* names[] = {"conv", "sep", "blur"};
        return std::string(names[op]) + " kernels " + std::to_string(ks.size()) + " method " +
               std::to_string(method) + " window " + std::to_string(nR) + "x" + std::to_string(nC);
    }
};
Job randomJob(std::mt19937& rng, Op op) {
    Job j{op, {}};
    if (op == kConv) {
        const int nk = uniform(rng, 0, 2) ? 1 : uniform(rng, 2, 3), side = uniform(rng, 0, 20) == 0 ? 25 : 5;
        for (int k = 0; k < nk; ++k) {
            j.ks.push_back(randomKernel(rng, side));
            if (side == 25) std::fill(j.ks.back().v.begin(), j.ks.back().v.end(), static_cast<signed char>(127));
        }
        j.method = uniform(rng, 0, 4);
    } else if (op == kSep) {
        j.ks = {randomKernel(rng, 9), randomKernel(rng, 9)};
        if (uniform(rng, 0, 15) == 0) {  // taller than a row store keeps, small taps: 16-bit sums
            j.ks[1] = randomKernel(rng, 80);
            for (signed char& t : j.ks[1].v) t = static_cast<signed char>(uniform(rng, -1, 1));
        }
        if (uniform(rng, 0, 2) == 0) j.ks[0].v.assign(j.ks[0].v.size(), static_cast<signed char>(uniform(rng, -128, 127)));
        // Small vertical taps (8-bit sums in 16 bits, twice them too) and
        // horizontal taps mirrored: symmetric, antisymmetric (middle zero)
        // or left as drawn.
        if (uniform(rng, 0, 1)) {
            for (signed char& t : j.ks[1].v) t = static_cast<signed char>(uniform(rng, -7, 7));
            std::vector<signed char>& x = j.ks[0].v;
            const int mirror = uniform(rng, 0, 2), n = int(x.size());
            for (int c = 0; c < n / 2 && mirror; ++c)
                x[size_t(n - 1 - c)] = static_cast<signed char>(mirror == 1 ? x[size_t(c)] : -x[size_t(c)]);
            if (mirror == 2 && n % 2) x[size_t(n / 2)] = 0;
        }
    } else {
        // Windows whose sums need 16 or 32 bits, anchors inside and beside the window.
        const int sides[] = {1, 2, 3, 4, 5, 7, 9, 15, 16, 17, 23, 31, 33, 40, 64, 65};
        j.nR = sides[uniform(rng, 0, 15)], j.nC = sides[uniform(rng, 0, 15)];
        j.ax = uniform(rng, 0, uniform(rng, 0, 1) ? j.nC - 1 : 11), j.ay = uniform(rng, 0, uniform(rng, 0, 1) ? j.nR - 1 : 11);
    }
    return j;
}
void runJob(const Job& j, VexImage* s, VexImage* d) {
    Kernels kern(j.ks);
    if (j.op == kConv) vexConvolve2D(s, d, kern.k.data(), int(kern.k.size()), j.method, nullptr);
    else if (j.op == kSep) vexConvolveSep2D(s, d, kern.k[0], kern.k[1]);
    else vexBlur(s, d, j.nR, j.nC, j.ax, j.ay);
}

// The destination snapshot `before` with the paired working rectangle
// replaced by the reference, over the channels the operation works on.
std::vector<int64_t> expected(const Job& j, const VexImage* src, const VexImage* dst, std::vector<int64_t> before) {
    const int sc = src->roi ? src->roi->coi : 0, dc = dst->roi ? dst->roi->coi : 0;
    int n, s0, d0;
    if (j.op == kConv) {  // each side its own count (alpha excluded) or its channel of interest
        n = sc ? 1 : src->nChannels - (src->alphaChannel ? 1 : 0);
        s0 = sc ? sc - 1 : 0, d0 = dc ? dc - 1 : 0;
    } else {  // the smaller count, or one channel: each side's own, or one side's on both
        n = sc || dc ? 1 : std::min(src->nChannels, dst->nChannels);
        s0 = sc ? sc - 1 : dc ? dc - 1 : 0, d0 = dc ? dc - 1 : sc ? sc - 1 : 0;
    }
    const bool floatWork = dst->depth == VEX_DEPTH_1U || vt::depthBits(dst->depth) == 8;
    const vt::Clip s = vt::clipOf(src), d = vt::clipOf(dst);
    for (int k = 0; k < n; ++k)
        for (int y = 0; y < std::min(s.h, d.h); ++y)
            for (int x = 0; x < std::min(s.w, d.w); ++x) {
                const int X = s.x + x, Y = s.y + y, c = s0 + k + 1;
                int64_t v;
                if (j.op == kSep) v = refSep(src, j.ks[0], j.ks[1], X, Y, c);
                else if (j.op == kBlur) v = refBlur(src, j.nR, j.nC, j.ax, j.ay, X, Y, c);
                else if (floatWork) v = refConv<float>(src, dst->depth, j.ks, j.method, X, Y, c);
                else v = refConv<double>(src, dst->depth, j.ks, j.method, X, Y, c);
                before[fref::indexOf(dst, d.x + x, d.y + y, d0 + k + 1)] = v;
            }
    return before;
}

// A random source/destination pair: small images of any layout (ROIs
// reaching past the edges, tilings, channels of interest), or long rows of
// one to four interleaved channels.
struct Pair {
    std::unique_ptr<vt::ImageBase> src, dst;
    std::string text;
};
Pair randomPair(std::mt19937& rng, unsigned sd, unsigned dd, bool sameOrder, bool coi, bool longRows) {
    const int ch = (sd == VEX_DEPTH_1U || dd == VEX_DEPTH_1U) ? 1 : uniform(rng, 1, longRows ? 4 : 3);
    vt::Layout ls = fref::layoutWith(rng, sd, ch), ld = fref::layoutWith(rng, dd, ch);
    if (longRows) {
        ls = vt::Layout{}, ls.depth = sd, ls.nChannels = ch, ls.width = uniform(rng, 40, 160), ls.height = uniform(rng, 2, 6);
        ld = ls, ld.depth = dd;
    }
    if (sameOrder) ld.order = ls.order, ld.origin = ls.origin;
    if (coi && ch > 1) {
        ls.hasRoi = ld.hasRoi = true;
        if (ls.roi.width == 0) ls.roi = VexROI{0, 0, 0, ls.height, ls.width};
        if (ld.roi.width == 0) ld.roi = VexROI{0, 0, 0, ld.height, ld.width};
        ls.roi.coi = uniform(rng, 1, ch);
        ld.roi.coi = uniform(rng, 1, ch);
    }
    Pair p;
    p.src = vt::makeImage(ls, rng());
    p.dst = vt::makeImage(ld, rng());
    fref::randomBorders(rng, p.src->get());
    p.text = "src " + vt::describe(ls) + " / dst " + vt::describe(ld);
    return p;
}

TEST(Filters, MatchReferenceOverLayoutsKernelsWindowsAndBorders) {
    std::mt19937 rng(2024);
    for (int iter = 0; iter < 1800; ++iter) {
        const Op op = Op(iter % 3);
        const bool longRows = iter % 5 == 0, inPlace = !longRows && iter % 7 == 1;
        // Half the separable jobs on 8-bit data, which has the most kernels.
        const int si = op == kSep && uniform(rng, 0, 1) ? uniform(rng, 1, 2) : uniform(rng, op == kBlur ? 1 : 0, 5);
        const int di = op == kConv ? uniform(rng, si, 5) : si;
        Pair p = randomPair(rng, kD[si], kD[di], op == kSep || inPlace, !inPlace && uniform(rng, 0, 3) == 0, longRows);
        VexImage *s = p.src->get(), *d = inPlace ? s : p.dst->get();
        if (op == kConv && s->nChannels > 1 && !s->roi && !inPlace && uniform(rng, 0, 3) == 0)
            s->alphaChannel = d->alphaChannel = s->nChannels;
        Job job = randomJob(rng, op);
        if (op == kBlur && !longRows && uniform(rng, 0, 2) == 0) {  // windows whole images away, or several images long
            const bool wide = uniform(rng, 0, 1);
            job.nC = wide ? uniform(rng, 1, 4 * s->width) : uniform(rng, 1, 3);
            job.nR = wide ? uniform(rng, 1, 3) : uniform(rng, 1, 4 * s->height);
            job.ax = uniform(rng, 0, 5 * s->width), job.ay = uniform(rng, 0, 5 * s->height);
        }
        SCOPED_TRACE(p.text + " " + job.text() + " anchor " + std::to_string(job.ax) + "," + std::to_string(job.ay) +
                     (inPlace ? " in place" : "") + " iter " + std::to_string(iter));
        const auto want = expected(job, s, d, fref::samples(d));
        vt::ReportLog log;
        // Every other separable or blur job on the AVX2 kernels where wider ones exist.
        vex::ownAvx2Only(op != kConv && iter / 3 % 2);
        runJob(job, s, d);
        vex::ownAvx2Only(false);
        ASSERT_EQ(log.size(), 0u) << log[0].context;
        ASSERT_EQ(fref::firstDiff(d, fref::samples(d), want), "");
    }
}

// Tiled and untiled copies of the same images give the same destination,
// whatever the tile sizes, border modes,
// image heights (several bands), channels, channels of interest and ROIs
// (a destination's starting inside a tile); a source tile is requested at
// most three times, once when one band covers the image, and only tiles
// holding needed pixels (a walk over a tiled destination's tile rows reads
// the source a tile row at a time and gathers the samples beyond each of
// the image's four edges apart: up to five times as often); each
// destination tile the region touches is requested for writing once and
// released before the next is requested.
// Each destination tile is requested for writing once and released, tiles
// held together being released in reverse order of their requests (a row
// of tiles written straight, or one tile at a time). Returns the tiles.
std::set<std::pair<int, int>> writtenOnce(const std::vector<vt::TileCall>& calls) {
    std::set<std::pair<int, int>> written;
    std::vector<vt::TileCall> held;
    for (const vt::TileCall& c : calls) {
        if (c.mode == VEX_TILE_GET_WRITE) {
            EXPECT_TRUE(written.insert({c.xIndex, c.yIndex}).second);
            held.push_back(c);
            continue;
        }
        EXPECT_EQ(c.mode, VEX_TILE_RELEASE);
        if (held.empty()) {
            ADD_FAILURE() << "release of a tile not held";
            continue;
        }
        EXPECT_EQ(std::make_pair(c.xIndex, c.yIndex), std::make_pair(held.back().xIndex, held.back().yIndex));
        held.pop_back();
    }
    EXPECT_TRUE(held.empty());
    return written;
}

TEST(Filters, TiledEqualsUntiledWithBoundedTileRequests) {
    std::mt19937 rng(5);
    for (int iter = 0; iter < 120; ++iter) {
        const Op op = Op(iter % 3);
        const unsigned depth = kD[uniform(rng, op == kBlur ? 1 : 0, 5)];
        const int nc = depth == VEX_DEPTH_1U || iter % 3 ? 1 : 3;
        const int H = iter % 4 < 2 ? uniform(rng, 130, 300) : uniform(rng, 20, 60), W = uniform(rng, 20, 60);
        const int tw = 8 * uniform(rng, 1, 5), th = 8 * uniform(rng, 1, 5);
        vt::TiledImage ts(depth, nc, H, W, tw, th);
        std::unique_ptr<vt::ImageBase> td;  // a tiled or an untiled destination
        if (iter % 2)  // tiles as high as a band (rows written straight into them) or lower
            td = std::make_unique<vt::TiledImage>(depth, nc, H, W, 8 * uniform(rng, 1, 5),
                                                  iter % 4 == 1 ? 128 : 8 * uniform(rng, 1, 3));
        else td = std::make_unique<vt::Image>(depth, nc, H, W);
        vt::Image us(depth, nc, H, W), ud(depth, nc, H, W);
        ts.fillPattern(9), us.fillPattern(9), td->fillPattern(4), ud.fillPattern(4);
        for (int side = 0; side < 4; ++side) {
            const int mode = uniform(rng, 0, 3), value = uniform(rng, -5, 300);
            vexSetBorderMode(ts.get(), mode, 1 << side, value);
            vexSetBorderMode(us.get(), mode, 1 << side, value);
        }
        const int coi = nc > 1 && uniform(rng, 0, 1) ? uniform(rng, 1, nc) : 0;
        const int rx = uniform(rng, 0, W - 4), ry = uniform(rng, 0, H > 128 ? 9 : H - 4);
        const int rw = uniform(rng, 1, W - rx), rh = H > 128 ? H - ry - uniform(rng, 0, 9) : uniform(rng, 1, H - ry);
        ts.setRoi(coi, rx, ry, rh, rw), us.setRoi(coi, rx, ry, rh, rw);
        if (coi || uniform(rng, 0, 1)) {
            const int dx = uniform(rng, 0, 5), dy = uniform(rng, 0, 5), dc = coi ? uniform(rng, 1, nc) : 0;
            td->setRoi(dc, dx, dy, H - dy, W - dx), ud.setRoi(dc, dx, dy, H - dy, W - dx);
        }
        Job job = randomJob(rng, op);
        if (op == kConv) job.ks = {randomKernel(rng, 7)};
        SCOPED_TRACE(job.text() + " height " + std::to_string(H) + " channels " + std::to_string(nc) + " coi " +
                     std::to_string(coi) + " iter " + std::to_string(iter));
        ts.clearCalls();
        runJob(job, ts.get(), td->get());
        runJob(job, us.get(), ud.get());
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        ASSERT_EQ(fref::firstDiff(ud.get(), fref::samples(td->get()), fref::samples(ud.get())), "");
        std::map<std::pair<int, int>, int> reads;
        for (const vt::TileCall& c : ts.calls())
            if (c.mode == VEX_TILE_GET_READ) ++reads[{c.xIndex, c.yIndex}];
        for (const auto& [tileIndex, count] : reads) EXPECT_LE(count, (rh <= 128 ? 1 : 3) * (iter % 2 ? 5 : 1));
        EXPECT_EQ(ts.outstanding(), 0);
        if (iter % 2) {
            const auto* tt = static_cast<vt::TiledImage*>(td.get());
            EXPECT_FALSE(writtenOnce(tt->calls()).empty());
            EXPECT_EQ(tt->outstanding(), 0);
        }
    }
}

// Rows long enough for the blur's vector sweeps, both images tiled: every
// border mode, 1 to 4 channels, a channel of interest, source tiles of odd
// widths (narrower than the window, so that the copied seams between row
// pieces join up, and wider than a destination tile), regions starting
// inside a tile and whole images whose windows reach past all four edges,
// narrow and wide windows, destination tiles lower than a band (copied
// into) and as high (written straight, their rows whole vector steps or
// not): the same bytes as untiled. The source tiles read are those the
// windows reach, each at most five times; each destination tile is
// requested for writing once. A source tile that is not delivered stops
// the call with its report, before the band it serves reaches the
// destination where that is copied, and with every tile handed back.
TEST(Blur, WideTiledImagesMatchUntiledAndStopAtARefusedTile) {
    struct Window {
        int rows, cols, ax, ay;
    };
    // The third window's sums pass 16 bits (32-bit window sums).
    const Window windows[] = {{5, 7, 4, 1}, {3, 31, 30, 2}, {9, 31, 30, 6}};
    const int W = 1100;
    int iter = 0;
    for (int mode = 0; mode < 4; ++mode)
        for (int nc = 1; nc <= 4; ++nc)
            for (int tw : {8, 56, 296}) {
                const Window& win = windows[iter % 2 ? 1 + iter / 2 % 2 : 0];
                const bool whole = ++iter % 3 == 0;
                const int coi = nc == 3 && mode % 2 ? 2 : 0, th = tw == 56 ? 24 : 8;
                // Destination tiles: 40x16, or 128 high and 40, 64 or 96 wide.
                const int dth = iter % 2 ? 16 : 128, dtw = dth == 16 ? 40 : 32 * (iter % 3) + 40 - 8 * (iter % 3 > 0);
                const int H = dth == 16 ? 100 : 180;
                vt::TiledImage ts(VEX_DEPTH_8U, nc, H, W, tw, th), td(VEX_DEPTH_8U, nc, H, W, dtw, dth);
                vt::Image us(VEX_DEPTH_8U, nc, H, W), ud(VEX_DEPTH_8U, nc, H, W);
                ts.fillPattern(3), us.fillPattern(3), td.fillPattern(8), ud.fillPattern(8);
                vexSetBorderMode(ts.get(), mode, 15, 77);
                vexSetBorderMode(us.get(), mode, 15, 77);
                const int rx = whole ? 0 : 13, ry = whole ? 0 : 5, rw = whole ? W : W - 20, rh = whole ? H : H - 9;
                ts.setRoi(coi, rx, ry, rh, rw), us.setRoi(coi, rx, ry, rh, rw);
                td.setRoi(coi, 3, 1, H - 1, W - 3), ud.setRoi(coi, 3, 1, H - 1, W - 3);
                SCOPED_TRACE("mode " + std::to_string(mode) + " channels " + std::to_string(nc) + " tile width " +
                             std::to_string(tw) + " window " + std::to_string(win.rows) + "x" +
                             std::to_string(win.cols) + " whole " +
                             std::to_string(whole));
                ts.clearCalls(), td.clearCalls();
                vexBlur(ts.get(), td.get(), win.rows, win.cols, win.ax, win.ay);
                vexBlur(us.get(), ud.get(), win.rows, win.cols, win.ax, win.ay);
                ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
                ASSERT_EQ(fref::firstDiff(ud.get(), fref::samples(td.get()), fref::samples(ud.get())), "");
                std::map<std::pair<int, int>, int> reads;
                for (const vt::TileCall& c : ts.calls())
                    if (c.mode == VEX_TILE_GET_READ) ++reads[{c.xIndex, c.yIndex}];
                // The windows of the (paired) region reach these image columns and rows.
                const int w = std::min(rw, W - 3), h = std::min(rh, H - 1);
                const int x0 = std::max(0, rx - win.ax), x1 = std::min(W, rx + w + win.cols - 1 - win.ax);
                const int y0 = std::max(0, ry - win.ay), y1 = std::min(H, ry + h + win.rows - 1 - win.ay);
                const size_t reached = size_t((x1 - 1) / tw - x0 / tw + 1) * size_t((y1 - 1) / th - y0 / th + 1);
                if (mode == VEX_BORDER_WRAP)  // the opposite edge's tiles too
                    EXPECT_TRUE(reads.size() >= reached && reads.size() <= size_t((W + tw - 1) / tw) * ((H + th - 1) / th));
                else
                    EXPECT_EQ(reads.size(), reached);
                for (const auto& [tileIndex, count] : reads) EXPECT_LE(count, 5);
                EXPECT_EQ(writtenOnce(td.calls()).size(), size_t((3 + w - 1) / dtw + 1) * size_t((1 + h - 1) / dth + 1));
                EXPECT_TRUE(ts.outstanding() == 0 && td.outstanding() == 0);
            }
    for (int nc : {1, 3})  // rows copied, rows read in place
        for (int dth : {16, 128}) {
            vt::TiledImage ts(VEX_DEPTH_8U, nc, 100, 1100, 56, 24), td(VEX_DEPTH_8U, nc, 100, 1100, 64, dth);
            ts.fillPattern(3), td.fillPattern(8);
            ts.refuse(2, 3, VEX_TILE_GET_READ);
            vt::expectRejected([&] { vexBlur(ts.get(), td.get(), 5, 5, 2, 2); }, dth == 16 ? &td : nullptr,
                               VEX_StsError, "vexBlur", "vexBlur", "Error get tile to read");
            EXPECT_TRUE(ts.outstanding() == 0 && td.outstanding() == 0);
        }
}

// A wrap border reaches the opposite edge: only the strips it needs are read.
TEST(Convolve2D, WrapBorderOfTiledSourceReadsOnlyTheStripsItNeeds) {
    vt::TiledImage src(VEX_DEPTH_8U, 1, 64, 64, 8, 8);
    vt::Image dst(VEX_DEPTH_8U, 1, 64, 64);
    src.fillPattern(3);
    vexSetBorderMode(src.get(), VEX_BORDER_WRAP, 15, 0);
    src.setRoi(0, 0, 0, 8, 8);  // the top-left tile; the 3x3 window wraps left and up
    std::vector<KDesc> ks{KDesc{3, 3, 1, 1, 0, std::vector<signed char>(9, 1)}};
    Kernels kern(ks);
    src.clearCalls();
    vexConvolve2D(src.get(), dst.get(), kern.k.data(), 1, 0, nullptr);
    std::set<std::pair<int, int>> read;
    for (const vt::TileCall& c : src.calls())
        if (c.mode == VEX_TILE_GET_READ) read.insert({c.xIndex, c.yIndex});
    const std::set<std::pair<int, int>> want{{0, 0}, {1, 0}, {7, 0}, {0, 1}, {1, 1}, {7, 1}, {0, 7}, {1, 7}, {7, 7}};
    EXPECT_EQ(read, want);
    // The mapping reads as a destination pixel: only the tile holding it is computed.
    src.setRoi(0, 0, 0, 64, 64);
    vt::TiledImage tdst(VEX_DEPTH_8U, 1, 64, 64, 16, 16);
    tdst.fillPattern(1);
    const VexMapping m{20, 40};
    vexConvolve2D(src.get(), tdst.get(), kern.k.data(), 1, 0, &m);
    std::vector<vt::TileCall> writes;
    for (const vt::TileCall& c : tdst.calls())
        if (c.mode != VEX_TILE_GET_READ) writes.push_back(c);
    EXPECT_EQ(writes, (std::vector<vt::TileCall>{{1, 2, 2}, {1, 2, 4}}));
}

// The first destination sample of `call` on one-row images, the source
// holding `samples`, both with a ROI of their first pixel.
int64_t firstSample(unsigned sd, unsigned dd, std::vector<int> samples,
                    const std::function<void(VexImage*, VexImage*)>& call) {
    vt::Image s(sd, 1, 1, int(samples.size())), d(dd, 1, 1, int(samples.size()));
    d.fillPattern(3);
    for (size_t i = 0; i < samples.size(); ++i) s.setSample(int(i), 0, 1, samples[i]);
    s.setRoi(0, 0, 0, 1, 1), d.setRoi(0, 0, 0, 1, 1);
    call(s.get(), d.get());
    return d.sample(0, 0, 1);
}
int64_t convOne(unsigned sd, unsigned dd, std::vector<int> samples, std::vector<KDesc> ks, int method) {
    Kernels kern(ks);
    return firstSample(sd, dd, samples, [&](VexImage* s, VexImage* d) {
        vexConvolve2D(s, d, kern.k.data(), int(ks.size()), method, nullptr);
    });
}
KDesc row(std::vector<signed char> v, int shift = 0, int ax = 0) { return KDesc{1, int(v.size()), ax, 0, shift, v}; }
KDesc col(std::vector<signed char> v, int shift = 0, int ay = 0) { return KDesc{int(v.size()), 1, 0, ay, shift, v}; }

TEST(Convolve2D, WorkedNumbers) {
    const unsigned U8 = VEX_DEPTH_8U, S8 = VEX_DEPTH_8S;
    EXPECT_EQ(convOne(S8, S8, {-5}, {row({1}, 2)}, 0), -2);  // -5 >> 2, towards minus infinity
    // sqrt(127^2 + 12^2) = 127.56: 127 in 8S; -128 - 0.4 gives -128.
    EXPECT_EQ(convOne(S8, S8, {127, 12}, {row({1}), row({0, 1})}, 2), 127);
    EXPECT_EQ(convOne(S8, S8, {-128}, {row({1})}, 0), -128);
    // 1U: R of 1 gives 1, 0 and negative give 0.
    EXPECT_EQ(convOne(VEX_DEPTH_1U, VEX_DEPTH_1U, {1, 1}, {row({1, -1}), row({1})}, 0), 1);
    EXPECT_EQ(convOne(VEX_DEPTH_1U, VEX_DEPTH_1U, {1, 1}, {row({1, -1})}, 0), 0);
    EXPECT_EQ(convOne(U8, VEX_DEPTH_1U, {0, 1}, {row({0, -1})}, 0), 0);
    // sqrt(65535^2 + 162^2) = 65535.2: 65535.
    EXPECT_EQ(convOne(VEX_DEPTH_16U, VEX_DEPTH_16U, {65535, 162}, {row({1}), row({0, 1})}, 2), 65535);
    // Maximum of -3 and -7: -3, stored as 0 in 8U and -3 in 8S; the minimum too in 8U.
    EXPECT_EQ(convOne(S8, S8, {1}, {row({-3}), row({-7})}, 3), -3);
    EXPECT_EQ(convOne(S8, VEX_DEPTH_16S, {1}, {row({-3}), row({-7})}, 3), -3);
    EXPECT_EQ(convOne(U8, U8, {1}, {row({-3}), row({-7})}, 3), 0);
    EXPECT_EQ(convOne(U8, U8, {1}, {row({-3}), row({-7})}, 4), 0);
    // Methods 1 and 2 square even one kernel's sum.
    EXPECT_EQ(convOne(U8, VEX_DEPTH_16U, {9}, {row({-1})}, 1), 81);
    EXPECT_EQ(convOne(U8, VEX_DEPTH_16U, {9}, {row({-1})}, 2), 9);
    // A gradient pair and the same pair with both signs flipped.
    EXPECT_EQ(convOne(U8, U8, {10, 40}, {row({-1, 1}), row({1, 0})}, 2),
              convOne(U8, U8, {10, 40}, {row({1, -1}), row({-1, 0})}, 2));
    EXPECT_EQ(convOne(U8, S8, {200}, {row({1})}, 0), -56);  // 8U read as 8S for an 8S destination
    EXPECT_EQ(convOne(U8, VEX_DEPTH_32S, {2, 3}, {row({-128, 127})}, 0), -256 + 381);  // both extremes accepted

    // A 3x3 box on a constant 4x4 image of 10, default border (constant 0).
    vt::Image s(U8, 1, 4, 4), d(U8, 1, 4, 4);
    std::memset(s.get()->imageData, 10, size_t(s.get()->dataSize));
    Kernels box({KDesc{3, 3, 1, 1, 0, std::vector<signed char>(9, 1)}});
    vexConvolve2D(s.get(), d.get(), box.k.data(), 1, 0, nullptr);
    EXPECT_EQ(std::make_tuple(d.sample(0, 0, 1), d.sample(1, 0, 1), d.sample(1, 1, 1)), std::make_tuple(40, 60, 90));

    // A 16U source with an 8U destination: nothing written, nothing said.
    vt::Image s16(VEX_DEPTH_16U, 1, 4, 4);
    s16.fillPattern(1);
    const auto before = d.bytes();
    vt::ReportLog log;
    vexConvolve2D(s16.get(), d.get(), box.k.data(), 1, 0, nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(d.bytes(), before);
}

using vt::Step;
using vt::expectSteps;

TEST(ConvKernel, CreateGetDeleteAndTheirTexts) {
    const signed char v[6] = {-128, 127, 0, 1, -1, 5};
    const std::string anchors = "(anchorX<0 ||anchorY<0 ||nRows<=anchorY || nCols<=anchorX)";
    auto create = [&](int r, int c, int ax, int ay, const signed char* p) {
        return [=] { EXPECT_EQ(vexCreateConvKernel(r, c, ax, ay, p, 0), nullptr); };
    };
    expectSteps("vexCreateConvKernel", "vexcnv2d",
                {{create(2, 3, 0, 0, nullptr), {"(values == 0)"}}, {create(0, 3, 0, 0, v), {"(nRows<=0 || nCols<=0)"}},
                 {create(2, -1, 0, 0, v), {"(nRows<=0 || nCols<=0)"}}, {create(2, 3, 3, 0, v), {anchors}},
                 {create(2, 3, 0, 2, v), {anchors}}, {create(2, 3, -1, 0, v), {anchors}}});
    VexConvKernel* k = vexCreateConvKernel(2, 3, 2, 1, v, 7);
    ASSERT_NE(k, nullptr);
    int r = 0, c = 0, ax = 0, ay = 0, sh = 0;
    signed char got[6] = {};
    signed char* gp = got;
    vexGetConvKernel(k, &r, &c, &ax, &ay, &gp, &sh);
    EXPECT_EQ(std::make_tuple(r, c, ax, ay, sh), std::make_tuple(2, 3, 2, 1, 7));
    EXPECT_EQ(std::vector<signed char>(got, got + 6), std::vector<signed char>(v, v + 6));
    EXPECT_EQ(gp, got);
    VexConvKernel bad = *k;
    bad.anchorY = 2;
    signed char* saved = k->values;
    expectSteps("vexGetConvKernel", "vexcnv2d",
                {{[&] { vexGetConvKernel(nullptr, &r, &c, &ax, &ay, &gp, &sh); }, {"kernel==0"}},
                 {[&] { vexGetConvKernel(&bad, &r, &c, &ax, &ay, &gp, &sh); }, {"ownBadKernel(kernel)"}},
                 {[&] { vexGetConvKernel(k, nullptr, nullptr, nullptr, nullptr, &gp, &sh); }, {"nRows==0", "nCols==0"}},
                 {[&] { vexGetConvKernel(k, &r, &c, nullptr, nullptr, &gp, &sh); }, {"anchorX==0", "anchorY==0"}},
                 {[&] { vexGetConvKernel(k, &r, &c, &ax, &ay, nullptr, &sh); }, {"values==0"}},
                 {[&] { vexGetConvKernel(k, &r, &c, &ax, &ay, &gp, nullptr); }, {"nShiftR==0"}}});
    expectSteps("vexDeleteConvKernel", "vexcnv2d",
                {{[&] { vexDeleteConvKernel(nullptr); }, {"kernel==0"}},
                 {[&] { k->values = nullptr, vexDeleteConvKernel(k), k->values = saved; }, {"kernel->values==0"}}});
    vexDeleteConvKernel(k);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Convolve2D, ChecksInOrderLeaveTheDestinationAlone) {
    vt::Image s(VEX_DEPTH_8U, 3, 4, 8), d(VEX_DEPTH_8U, 3, 4, 8), one(VEX_DEPTH_8U, 1, 4, 8);
    d.fillPattern(5);
    const auto before = d.bytes();
    Kernels good({row({1, 2, 1})});
    std::vector<VexConvKernel*> many(101, good.k[0]);
    VexConvKernel bad = *good.k[0];
    bad.anchorX = 3;
    VexConvKernel* withBad[2] = {good.k[0], &bad};
    VexConvKernel* withNull[2] = {good.k[0], nullptr};
    const VexMapping outside{8, 0};
    auto conv = [&](VexImage* a, VexImage* b, VexConvKernel** k, int n, int m, const VexMapping* map) {
        return [=] { vexConvolve2D(a, b, k, n, m, map); };
    };
    VexImage *S = s.get(), *D = d.get();
    VexConvKernel** g = good.k.data();
    expectSteps("vexConvolve2D", "vexcnv2d",
                {{conv(nullptr, nullptr, g, 1, 0, nullptr), {"srcImage==0", "dstImage==0"}},
                 {conv(S, D, nullptr, 1, 0, nullptr), {"kernel==0"}},
                 {conv(S, D, g, 0, 0, nullptr), {"(nKernels<=0 || nKernels>100)"}},
                 {conv(S, D, many.data(), 101, 0, nullptr), {"(nKernels<=0 || nKernels>100)"}},
                 {conv(S, D, g, 1, 5, nullptr),
                  {"( combineMethod != 0 && combineMethod != 1 && combineMethod != 2 && combineMethod != 3 && "
                   "combineMethod != 4)"}},
                 {conv(S, D, withNull, 2, 0, nullptr), {"kernel[i]==0"}},
                 {conv(S, D, withBad, 2, 0, nullptr), {"ownBadKernel(kernel[i])"}},
                 {conv(S, D, g, 1, 0, &outside),
                  {"( mapping->xDst < 0 || mapping->xDst > dstImage->width-1 || mapping->yDst < 0 || "
                   "mapping->yDst > dstImage->height-1)"}},
                 {conv(S, one.get(), g, 1, 0, nullptr), {"Uncompatible images"}}});
    EXPECT_EQ(d.bytes(), before);
    s.get()->align = 5;  // a bad header is reported with its message
    vt::expectRejected([&] { vexConvolve2D(S, D, g, 1, 0, nullptr); }, &d, VEX_StsBadArg, "vexConvolve2D", "vexcnv2d",
                       "Image align is invalid");
    s.get()->align = 4;
    vt::ReportLog log;  // 100 kernels are accepted
    std::vector<VexConvKernel*> hundred(100, good.k[0]);
    vexConvolve2D(S, D, hundred.data(), 100, 0, nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_NE(d.bytes(), before);
}

TEST(ConvolveSep2D, WorkedNumbersAndChecks) {
    // 1 2 1 by 1 2 1, shifts 2 and 2, on a constant 100: 1600 >> 4 = 100.
    vt::Image s(VEX_DEPTH_8U, 1, 5, 5), d(VEX_DEPTH_8U, 1, 5, 5);
    std::memset(s.get()->imageData, 100, size_t(s.get()->dataSize));
    vexSetBorderMode(s.get(), VEX_BORDER_REPLICATE, 15, 0);
    Kernels kern({row({1, 2, 1}, 2, 1), col({1, 2, 1}, 2, 1)});
    vexConvolveSep2D(s.get(), d.get(), kern.k[0], kern.k[1]);
    EXPECT_EQ(fref::samples(d.get()), std::vector<int64_t>(25, 100));
    // -5 >> 1 = -3 in 8S; clamped to 0 in 8U; above 255 gives 255.
    auto one = [](unsigned depth, int v, KDesc x) {
        Kernels k({x, row({1})});
        return firstSample(depth, depth, {v}, [&](VexImage* a, VexImage* b) { vexConvolveSep2D(a, b, k.k[0], k.k[1]); });
    };
    EXPECT_EQ(one(VEX_DEPTH_8S, -5, row({1}, 1)), -3);
    EXPECT_EQ(one(VEX_DEPTH_8U, 200, row({-1}, 1)), 0);
    EXPECT_EQ(one(VEX_DEPTH_8U, 200, row({2})), 255);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);

    // Both null kernels; then the cumulative checks in their order.
    vt::Image s3(VEX_DEPTH_16S, 3, 4, 4), d1(VEX_DEPTH_8U, 1, 4, 4), a3(VEX_DEPTH_8U, 3, 4, 4), b3(VEX_DEPTH_8U, 3, 4, 4);
    d1.get()->origin = VEX_ORIGIN_BL;
    d1.get()->dataOrder = VEX_DATA_ORDER_PLANE;
    a3.setRoi(2, 0, 0, 4, 4);
    const auto before = d1.bytes();
    VexConvKernel x0 = *kern.k[0], y0 = *kern.k[1];
    x0.nCols = 0, y0.nRows = 0;
    expectSteps("vexConvolveSep2D", "vexcsep2",
                {{[&] { vexConvolveSep2D(s3.get(), d1.get(), nullptr, nullptr); }, {"Xkernel==0", "Ykernel==0"}},
                 {[&] { vexConvolveSep2D(s3.get(), d1.get(), &x0, &y0); },
                  {"srcImage->depth != dstImage->depth", "srcImage->origin != dstImage->origin",
                   "srcImage->dataOrder != dstImage->dataOrder", "srcImage->nChannels != dstImage->nChannels",
                   "Xkernel->nCols <= 0", "Ykernel->nRows <= 0"}},
                 {[&] { vexConvolveSep2D(a3.get(), b3.get(), kern.k[0], kern.k[1]); },
                  {"nChannels in srcImage ROI != nChannels in dstImage ROI"}}});
    EXPECT_EQ(d1.bytes(), before);
}

// 8-bit images with long rows of one and three channels, whose window sums
// fall at exact multiples of the area (constant bands) and between (random
// samples): the integer scaling of 16-bit window sums against the float one;
// window sums past 16 bits that move down across multiples of 2^16 both
// ways (band edges, then random rows below the brightest band).
TEST(Blur, LargeEightBitImagesMatchReference) {
    std::mt19937 rng(77);
    const int windows[][2] = {{15, 15}, {16, 16}, {3, 3}, {11, 7}, {1, 2}, {31, 31}, {9, 40}};
    for (int iter = 0; iter < 14; ++iter) {
        const auto& win = windows[iter / 2];
        const bool wide = win[0] * win[1] > 257;  // smaller images: the reference sums every window
        // Rows of at least 1024 samples take the rows-first sweep, shorter
        // ones the column sums: the windows take the two in turn.
        const int ch = iter % 2 ? 3 : 1, H = wide ? 70 : 120;
        const int W = (iter / 2) % 2 ? (ch == 3 ? 350 : 1030) : wide ? 100 : 240;
        vt::Image s(VEX_DEPTH_8U, ch, H, W), d(VEX_DEPTH_8U, ch, H, W);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                for (int c = 1; c <= ch; ++c) s.setSample(x, y, c, y < 60 ? (y / 20) * 127 : uniform(rng, 0, 255));
        fref::randomBorders(rng, s.get());
        d.fillPattern(3);
        Job job{kBlur, {}};
        job.nR = win[0], job.nC = win[1], job.ax = uniform(rng, 0, win[1] - 1), job.ay = uniform(rng, 0, win[0] - 1);
        SCOPED_TRACE(job.text() + " channels " + std::to_string(ch));
        const auto want = expected(job, s.get(), d.get(), fref::samples(d.get()));
        for (int form = 0; form < 3; ++form) {
            SCOPED_TRACE(kForms[form]);
            d.fillPattern(3);
            useForm(form);
            runJob(job, s.get(), d.get());
            useForm(0);
            ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
            ASSERT_EQ(fref::firstDiff(d.get(), fref::samples(d.get()), want), "");
        }
    }
}

// Every window sum 0..255*R*N of R x N windows: the first window row climbs
// one step per pixel (each entering sample one above the leaving one), the
// other R - 1 rows hold v, so that v = 0..255 covers every sum. 1 x N for
// every N whose sums fit 16 bits, then areas past 16 bits with an exact
// 32-bit integer scaling (303), without one but with the exact product cut
// off (961), and with neither (282). The mean is the float scaling cut off
// towards zero.
TEST(Blur, EveryWindowSumOfEveryArea) {
    std::vector<std::pair<int, int>> windows;
    for (int N = 2; N <= 257; ++N) windows.push_back({1, N});
    windows.insert(windows.end(), {{3, 101}, {31, 31}, {2, 141}, {2, 200}});
    for (const auto& [R, N] : windows) {
        const int W = 255 * N + 1;
        vt::Image s(VEX_DEPTH_8U, 1, R, W + N - 1), d(VEX_DEPTH_8U, 1, 1, W);
        s.setRoi(0, 0, 0, 1, W);
        const float w = 1.0f / float(R * N);
        for (int v = 0; v < (R > 1 ? 256 : 1); ++v) {
            std::memset(s.get()->imageData, v, size_t(s.get()->dataSize));
            for (int x = 0; x < W + N - 1; ++x) s.setSample(x, 0, 1, x < N ? 0 : s.sample(x - N, 0, 1) + 1);
            const int64_t base = int64_t(R - 1) * N * v;
            for (int form = 0; form < 3; ++form) {
                useForm(form);
                vexBlur(s.get(), d.get(), R, N, 0, 0);
                useForm(0);
                for (int x = 0; x < W; ++x)
                    ASSERT_EQ(d.sample(x, 0, 1), int64_t(static_cast<int32_t>(float(base + x) * w)))
                        << R << "x" << N << " sum " << base + x << " " << kForms[form];
            }
        }
    }
}

TEST(Blur, TruncationZeroSizesAndChecks) {
    // 3x3 on a constant 10: 90 * 0.111111119 = 10.0000007, cut to 10.
    vt::Image s(VEX_DEPTH_8U, 1, 6, 6), d(VEX_DEPTH_8U, 1, 6, 6);
    std::memset(s.get()->imageData, 10, size_t(s.get()->dataSize));
    vexSetBorderMode(s.get(), VEX_BORDER_REFLECT, 15, 0);
    vexBlur(s.get(), d.get(), 3, 3, 1, 1);
    EXPECT_EQ(fref::samples(d.get()), std::vector<int64_t>(36, 10));
    // 7 * (1/3) in single precision is 2.3333335: 2; signed data towards zero: -7/3 gives -2.
    auto mean3 = [](unsigned depth, std::vector<int> v) {
        return firstSample(depth, depth, v, [](VexImage* a, VexImage* b) { vexBlur(a, b, 1, 3, 0, 0); });
    };
    EXPECT_EQ(mean3(VEX_DEPTH_8U, {1, 2, 4}), 2);
    EXPECT_EQ(mean3(VEX_DEPTH_8S, {-1, -2, -4}), -2);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);

    d.fillPattern(8);
    const auto before = d.bytes();
    vt::Image bits(VEX_DEPTH_1U, 1, 6, 6), bitsD(VEX_DEPTH_1U, 1, 6, 6), s16(VEX_DEPTH_16U, 1, 6, 6);
    auto blur = [&](VexImage* a, VexImage* b, int r, int c, int ax, int ay) { return [=] { vexBlur(a, b, r, c, ax, ay); }; };
    expectSteps("vexBlur", "vexBlur",
                {{blur(s16.get(), d.get(), 3, 3, 1, 1), {"(srcImage->depth!=dstImage->depth)"}},
                 {blur(bits.get(), bitsD.get(), 3, 3, 1, 1), {"(srcImage->depth==1)"}},
                 {blur(s.get(), d.get(), -1, 3, 1, 1), {"(nRows<0||nCols<0)"}},
                 {blur(s.get(), d.get(), 3, -3, 1, 1), {"(nRows<0||nCols<0)"}},
                 {blur(s.get(), d.get(), 3, 3, -1, 1), {"(anchorX<0||anchorY<0)"}},
                 {blur(s.get(), d.get(), 3, 3, 1, -1), {"(anchorX<0||anchorY<0)"}},
                 // Zero sizes pass the checks and write nothing.
                 {blur(s.get(), d.get(), 0, 3, 0, 0), {}},
                 {blur(s.get(), d.get(), 3, 0, 0, 0), {}}});
    EXPECT_EQ(d.bytes(), before);
}

}  // namespace
