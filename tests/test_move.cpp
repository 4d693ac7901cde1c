// vexCopy, vexSet, vexExchange and vexMirror against plain per-sample loops
// over random layouts, tiled and untiled, with every byte outside the
// destination region (row padding, other channels, tile margins) checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;

struct StatusReset {
    StatusReset() { vexSetErrStatus(VEX_StsOk); }
    ~StatusReset() { vexSetErrStatus(VEX_StsOk); }
};

int pick(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

ImagePtr cloneOf(const vt::ImageBase& im) {
    if (auto* t = dynamic_cast<const vt::TiledImage*>(&im)) return ImagePtr(new vt::TiledImage(t->clone()));
    return ImagePtr(new vt::Image(static_cast<const vt::Image&>(im).clone()));
}
vt::TiledImage* tiledOf(const vt::ImageBase& im) {
    return dynamic_cast<vt::TiledImage*>(const_cast<vt::ImageBase*>(&im));
}

// ---------------------------------------------------------------------------
// The reference: regions clipped to their images, paired at their corners.

struct Region {
    int x = 0, y = 0, cols = 0, rows = 0;
    std::vector<int> ch;  // channels to move, 1-based
};

void clip(int pos, int len, int size, int* start, int* n) {
    const int64_t lo = std::max(pos, 0), hi = std::min<int64_t>(int64_t(pos) + len, size);
    *start = static_cast<int>(std::min<int64_t>(lo, size));
    *n = hi > lo ? static_cast<int>(hi - lo) : 0;
}

Region regionOf(const VexImage* im) {
    Region r;
    const VexROI* roi = im->roi;
    clip(roi ? roi->xOffset : 0, roi ? roi->width : im->width, im->width, &r.x, &r.cols);
    clip(roi ? roi->yOffset : 0, roi ? roi->height : im->height, im->height, &r.y, &r.rows);
    if (roi && roi->coi) r.ch = {roi->coi};
    else for (int c = 1; c <= im->nChannels; ++c) r.ch.push_back(c);
    return r;
}

// Whether destination pixel (x, y) lies in the tile the selector names.
bool selected(const VexImage* d, const int* sel, int x, int y) {
    return !sel || (x / d->tileInfo->width == sel[0] && y / d->tileInfo->height == sel[1]);
}

// Calls fn(rs, rd, si, sj, i, j) for each pixel (i, j) of the common part of
// two regions, inside the selected tile, with its source pixel (si, sj)
// flipped by `axis` (kNoFlip: not flipped).
constexpr int kNoFlip = 1 << 8;
void forPairs(const VexImage* s, const VexImage* d, const int* sel,
              const std::function<void(const Region&, const Region&, int, int, int, int)>& fn,
              int axis = kNoFlip) {
    const Region rs = regionOf(s), rd = regionOf(d);
    if (rs.ch.size() != rd.ch.size()) return;
    const int rows = std::min(rs.rows, rd.rows), cols = std::min(rs.cols, rd.cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            if (!selected(d, sel, rd.x + j, rd.y + i)) continue;
            const int si = axis == 0 || axis == -1 ? rows - 1 - i : i;
            const int sj = axis == 1 || axis == -1 ? cols - 1 - j : j;
            fn(rs, rd, si, sj, i, j);
        }
}

void refCopy(const VexImage* s, VexImage* d, const int* sel, int axis = kNoFlip) {
    forPairs(s, d, sel, [&](const Region& rs, const Region& rd, int si, int sj, int i, int j) {
        for (size_t k = 0; k < rs.ch.size(); ++k)
            vt::setSample(d, rd.x + j, rd.y + i, rd.ch[k], vt::sample(s, rs.x + sj, rs.y + si, rs.ch[k]));
    }, axis);
}

void refExchange(VexImage* a, VexImage* b, const int* sel) {
    forPairs(a, b, sel, [&](const Region& ra, const Region& rb, int, int, int i, int j) {
        for (size_t k = 0; k < ra.ch.size(); ++k) {
            const int64_t va = vt::sample(a, ra.x + j, ra.y + i, ra.ch[k]);
            vt::setSample(a, ra.x + j, ra.y + i, ra.ch[k], vt::sample(b, rb.x + j, rb.y + i, rb.ch[k]));
            vt::setSample(b, rb.x + j, rb.y + i, rb.ch[k], va);
        }
    });
}

int64_t limitFill(unsigned depth, int v) {
    if (depth == VEX_DEPTH_32S) return v;
    return std::clamp<int64_t>(v, vt::depthMin(depth), vt::depthMax(depth));
}

void refSet(VexImage* d, int value, const int* sel) {
    const Region r = regionOf(d);
    for (int i = 0; i < r.rows; ++i)
        for (int j = 0; j < r.cols; ++j)
            if (selected(d, sel, r.x + j, r.y + i))
                for (int c : r.ch) vt::setSample(d, r.x + j, r.y + i, c, limitFill(d->depth, value));
}

// ---------------------------------------------------------------------------
// Random layouts.

vt::Layout makeLayout(std::mt19937& rng, unsigned depth, int n, int order, int origin, bool tiled) {
    static const int kSizes[] = {1, 3, 7, 8, 9, 15, 17, 33};
    static const int kTiles[3][2] = {{8, 8}, {16, 8}, {64, 64}};
    vt::Layout l;
    const int t = pick(rng, 0, 2);
    l.depth = depth, l.nChannels = n, l.order = order, l.origin = origin, l.tiled = tiled;
    l.align = pick(rng, 0, 1) ? 8 : 4;
    l.height = pick(rng, 0, 1) ? kSizes[pick(rng, 0, 7)] : pick(rng, 1, 40);
    l.width = pick(rng, 0, 1) ? kSizes[pick(rng, 0, 7)] : pick(rng, 1, 40);
    l.tileWidth = kTiles[t][0], l.tileHeight = kTiles[t][1];
    if ((l.hasRoi = pick(rng, 0, 2) != 0)) {  // offsets past the image now and then
        VexROI& r = l.roi;
        r.xOffset = pick(rng, 0, 19) ? pick(rng, 0, l.width - 1) : l.width + pick(rng, 0, 3);
        r.yOffset = pick(rng, 0, 19) ? pick(rng, 0, l.height - 1) : l.height + pick(rng, 0, 3);
        r.width = pick(rng, 1, std::max(1, l.width - r.xOffset) + (pick(rng, 0, 2) ? 0 : 6));
        r.height = pick(rng, 1, std::max(1, l.height - r.yOffset) + (pick(rng, 0, 2) ? 0 : 6));
    }
    return l;
}

void setCoi(vt::Layout& l, int coi) {
    if (!l.hasRoi) l.roi = VexROI{0, 0, 0, l.height, l.width};
    l.hasRoi = true;
    l.roi.coi = coi;
}

struct Pair {
    vt::Layout la, lb;
    ImagePtr a, b;
};

// Two compatible images (same depth, order unless `mixOrder`, same origin);
// tiling cycles through none, b, a, both. With `sameCoi` both channels of
// interest are equal (mirror); otherwise they may differ or mismatch.
Pair makePair(std::mt19937& rng, int trial, bool sameCoi, bool mixOrder = false) {
    const unsigned depth = vt::kDepths[trial % 6];
    const int tiling = (trial / 6) % 4, order = pick(rng, 0, 1), origin = pick(rng, 0, 1);
    const int n = depth == VEX_DEPTH_1U ? 1 : pick(rng, 1, 4);
    Pair p;
    p.la = makeLayout(rng, depth, n, order, origin, tiling >= 2);
    p.lb = makeLayout(rng, depth, n, mixOrder && pick(rng, 0, 1) ? 1 - order : order, origin,
                      tiling % 2 == 1);
    const int kind = pick(rng, 0, 5);
    if (kind >= 3) {
        if (!sameCoi && depth != VEX_DEPTH_1U && pick(rng, 0, 1)) p.lb.nChannels = pick(rng, 1, 4);
        const int ca = pick(rng, 1, p.la.nChannels);
        setCoi(p.la, ca);
        setCoi(p.lb, sameCoi ? ca : pick(rng, 1, p.lb.nChannels));
    } else if (kind == 2 && !sameCoi) {
        setCoi(pick(rng, 0, 1) ? p.la : p.lb, 1);  // one channel against all of them
    }
    p.a = vt::makeImage(p.la, 1000 + trial);
    p.b = vt::makeImage(p.lb, 2000 + trial);
    return p;
}

// A selector for a tiled destination d written from s (the common size):
// null, the first, a middle or the last tile of the range, or one past it.
const int* chooseTile(std::mt19937& rng, const VexImage* s, const VexImage* d, std::array<int, 2>* buf) {
    const Region r = regionOf(d);
    const int cols = std::min(regionOf(s).cols, r.cols), rows = std::min(regionOf(s).rows, r.rows);
    if (!d->tileInfo || cols <= 0 || rows <= 0 || pick(rng, 0, 1)) return nullptr;
    const int tw = d->tileInfo->width, th = d->tileInfo->height;
    const int x0 = r.x / tw, y0 = r.y / th, x1 = (r.x + cols - 1) / tw, y1 = (r.y + rows - 1) / th;
    switch (pick(rng, 0, 3)) {
        case 0: *buf = {x0, y0}; break;
        case 1: *buf = {(x0 + x1 + 1) / 2, (y0 + y1) / 2}; break;
        case 2: *buf = {x1, y1}; break;
        default: *buf = {x1 + 1, pick(rng, y0, y1)}; break;
    }
    return buf->data();
}

// Modes the callback saw on an image (one bit per mode).
int modesSeen(const vt::ImageBase& im) {
    int m = 0;
    if (auto* t = tiledOf(im))
        for (const auto& c : t->calls()) m |= c.mode;
    return m;
}

// The images of one call: their ROI records (pointer and contents) must come
// back as the caller set them, and every tile got must have been released
// with its own buffer.
struct Watch {
    using Fields = std::tuple<int, int, int, int, int>;
    std::vector<const vt::ImageBase*> images;
    std::vector<std::pair<VexROI*, Fields>> rois;
    static Fields fields(const VexROI* r) {
        return r ? Fields{r->coi, r->xOffset, r->yOffset, r->height, r->width} : Fields{};
    }
    Watch(std::initializer_list<const vt::ImageBase*> ims) : images(ims) {
        for (auto* im : images) rois.push_back({im->get()->roi, fields(im->get()->roi)});
    }
    void expectRestored() const {
        for (size_t i = 0; i < images.size(); ++i) {
            const VexROI* r = images[i]->get()->roi;
            EXPECT_EQ(r, rois[i].first) << "roi pointer of image " << i;
            EXPECT_EQ(fields(r), rois[i].second) << "roi of image " << i;
            if (auto* t = tiledOf(*images[i])) {
                EXPECT_EQ(std::make_tuple(t->outstanding(), t->releaseMismatches(), t->badCalls()),
                          std::make_tuple(0, 0, 0)) << "tiles of image " << i;
            }
        }
    }
};

std::string traceOf(const Pair& p, const int* sel) {
    std::string s = "a: " + vt::describe(p.la) + " | b: " + vt::describe(p.lb);
    if (sel) s += " | tile " + std::to_string(sel[0]) + "," + std::to_string(sel[1]);
    return s;
}

// ---------------------------------------------------------------------------
// Matrices: every call is checked against the reference on a clone, byte
// for byte (padding, other channels and tile margins included).

TEST(Copy, MatchesReferenceOverRandomLayouts) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(101);
    for (int trial = 0; trial < 2400 && !HasFailure(); ++trial) {
        Pair p = makePair(rng, trial, false);
        VexImage *src = p.a->get(), *dst = p.b->get();
        std::array<int, 2> buf;
        const int* sel = chooseTile(rng, src, dst, &buf);
        SCOPED_TRACE(traceOf(p, sel));
        ImagePtr want = cloneOf(*p.b);
        refCopy(src, want->get(), sel);
        const std::vector<uint8_t> srcBytes = p.a->bytes();
        Watch watch{p.a.get(), p.b.get()};
        vexCopy(src, dst, sel);
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(p.b->bytes(), want->bytes()) << vt::diffSamples(dst, want->get());
        EXPECT_EQ(p.a->bytes(), srcBytes);
        watch.expectRestored();
        EXPECT_EQ(modesSeen(*p.a) & VEX_TILE_GET_WRITE, 0);
        EXPECT_EQ(modesSeen(*p.b) & VEX_TILE_GET_READ, 0);
    }
}

TEST(Set, MatchesReferenceOverRandomLayouts) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(202);
    const int kValues[] = {INT_MIN, INT_MAX, -1, 0, 1, 255, 256, -129, 65535, 65536, -32769};
    for (int trial = 0; trial < 1500 && !HasFailure(); ++trial) {
        Pair p = makePair(rng, trial, false);
        VexImage* im = p.b->get();
        const int value = pick(rng, 0, 1) ? kValues[pick(rng, 0, 10)] : pick(rng, -70000, 70000);
        std::array<int, 2> buf;
        const int* sel = chooseTile(rng, im, im, &buf);
        SCOPED_TRACE(traceOf(p, sel) + " | value " + std::to_string(value));
        ImagePtr want = cloneOf(*p.b);
        refSet(want->get(), value, sel);
        Watch watch{p.b.get()};
        vexSet(im, value, sel);
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(p.b->bytes(), want->bytes()) << vt::diffSamples(im, want->get());
        watch.expectRestored();
        EXPECT_EQ(modesSeen(*p.b) & VEX_TILE_GET_READ, 0);
    }
}

TEST(Exchange, MatchesReferenceAndTwiceRestores) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(303);
    for (int trial = 0; trial < 2000 && !HasFailure(); ++trial) {
        Pair p = makePair(rng, trial, false);
        VexImage *a = p.a->get(), *b = p.b->get();
        std::array<int, 2> buf;
        const int* sel = chooseTile(rng, a, b, &buf);
        SCOPED_TRACE(traceOf(p, sel));
        ImagePtr wantA = cloneOf(*p.a), wantB = cloneOf(*p.b);
        const std::vector<uint8_t> bytesA = p.a->bytes(), bytesB = p.b->bytes();
        refExchange(wantA->get(), wantB->get(), sel);
        Watch watch{p.a.get(), p.b.get()};
        vexExchange(a, b, sel);
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(p.a->bytes(), wantA->bytes()) << vt::diffSamples(a, wantA->get());
        EXPECT_EQ(p.b->bytes(), wantB->bytes()) << vt::diffSamples(b, wantB->get());
        watch.expectRestored();
        // Both images are written: one tiled image's tiles are got for
        // writing; with both tiled, a's are gathered (read) and written.
        EXPECT_EQ(modesSeen(*p.b) & VEX_TILE_GET_READ, 0);
        if (!p.lb.tiled) {
            EXPECT_EQ(modesSeen(*p.a) & VEX_TILE_GET_READ, 0);
        }
        vexExchange(a, b, sel);
        EXPECT_EQ(p.a->bytes(), bytesA);
        EXPECT_EQ(p.b->bytes(), bytesB);
        watch.expectRestored();
    }
}

TEST(Mirror, MatchesReferenceOverRandomLayouts) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(404);
    for (int trial = 0; trial < 2400 && !HasFailure(); ++trial) {
        Pair p = makePair(rng, trial, true, true);  // orders may differ
        const bool inPlace = pick(rng, 0, 3) == 0;
        vt::ImageBase& dstImage = inPlace ? *p.a : *p.b;
        VexImage *src = p.a->get(), *dst = dstImage.get();
        const int axis = pick(rng, -1, 1);
        std::array<int, 2> buf;
        const int* sel = chooseTile(rng, src, dst, &buf);
        SCOPED_TRACE(traceOf(p, sel) + " | axis " + std::to_string(axis) + (inPlace ? " in place" : ""));
        ImagePtr snapshot = cloneOf(*p.a), want = cloneOf(dstImage);
        refCopy(snapshot->get(), want->get(), sel, axis);
        Watch watch{p.a.get(), p.b.get()};
        vexMirror(src, dst, axis, sel);
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(dstImage.bytes(), want->bytes()) << vt::diffSamples(dst, want->get());
        watch.expectRestored();
        if (!inPlace) {
            EXPECT_EQ(p.a->bytes(), snapshot->bytes());
            EXPECT_EQ(modesSeen(*p.a) & VEX_TILE_GET_WRITE, 0);
        }
    }
}

// The same operation on untiled images and on tiled ones holding the same
// samples gives the same samples; and one call per tile selector, over every
// tile (and one row and column past them), gives the same bytes as one call
// without a selector.
TEST(TileInvariance, TiledEqualsUntiledAndTilesCompose) {
    StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(505);
    using Op = void (*)(VexImage*, VexImage*, const int*);
    const Op ops[] = {
        [](VexImage* a, VexImage* b, const int* t) { vexCopy(a, b, t); },
        [](VexImage*, VexImage* b, const int* t) { vexSet(b, -77, t); },
        [](VexImage* a, VexImage* b, const int* t) { vexExchange(a, b, t); },
        [](VexImage* a, VexImage* b, const int* t) { vexMirror(a, b, -1, t); },
        [](VexImage* a, VexImage* b, const int* t) { vexMirror(a, b, 0, t); },
    };
    const int kTiles[3][2] = {{8, 8}, {16, 8}, {64, 64}};
    for (int trial = 0; trial < 600 && !HasFailure(); ++trial) {
        const int op = trial % 5;
        Pair p = makePair(rng, (trial / 5) % 6, op >= 3, op >= 3);  // every depth
        p.la.tiled = p.lb.tiled = false;
        const uint32_t keyA = 1000 + trial, keyB = 2000 + trial;
        for (const auto& ts : kTiles)
            for (int which = 1; which <= 3; ++which) {  // b, a, both tiled
                vt::Layout la = p.la, lb = p.lb;
                la.tiled = which >= 2;
                lb.tiled = which != 2;
                la.tileWidth = lb.tileWidth = ts[0];
                la.tileHeight = lb.tileHeight = ts[1];
                SCOPED_TRACE("op " + std::to_string(op) + " a: " + vt::describe(la) + " | b: " + vt::describe(lb));
                ImagePtr a = vt::makeImage(la, keyA), b = vt::makeImage(lb, keyB);
                ImagePtr ua = vt::makeImage(p.la, keyA), ub = vt::makeImage(p.lb, keyB);
                ImagePtr ta = cloneOf(*a), tb = cloneOf(*b);
                ops[op](ua->get(), ub->get(), nullptr);
                ops[op](a->get(), b->get(), nullptr);
                EXPECT_EQ(vt::diffSamples(a->get(), ua->get()), "");
                EXPECT_EQ(vt::diffSamples(b->get(), ub->get()), "");
                if (!lb.tiled) continue;
                for (int ty = 0; ty <= tiledOf(*tb)->tilesY(); ++ty)
                    for (int tx = 0; tx <= tiledOf(*tb)->tilesX(); ++tx) {
                        const int sel[2] = {tx, ty};
                        ops[op](ta->get(), tb->get(), sel);
                    }
                EXPECT_EQ(tb->bytes(), b->bytes());
                if (op < 3) {
                    EXPECT_EQ(ta->bytes(), a->bytes());
                }
                EXPECT_EQ(log.size(), 0u);
                Watch{ta.get(), tb.get()}.expectRestored();
            }
    }
}

// ---------------------------------------------------------------------------
// Specific cases.

TEST(Copy, ChannelCountsMustAgree) {
    StatusReset reset;
    vt::ReportLog log;
    vt::Image a(VEX_DEPTH_8U, 3, 4, 5), b(VEX_DEPTH_8U, 3, 4, 5);
    a.fillPattern(1);
    b.fillPattern(2);
    b.setRoi(2, 0, 0, 4, 5);
    const std::vector<uint8_t> before = b.bytes(), beforeA = a.bytes();
    vexCopy(a.get(), b.get(), nullptr);  // 3 channels against 1: nothing
    vexCopy(b.get(), a.get(), nullptr);
    EXPECT_TRUE(b.bytes() == before && a.bytes() == beforeA);
    EXPECT_EQ(std::make_tuple(log.size(), vexGetErrStatus()), std::make_tuple(size_t(0), VEX_StsOk));

    a.setRoi(2, 0, 0, 4, 5);  // channel 2 of each: only that channel moves
    vexCopy(a.get(), b.get(), nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(std::make_tuple(b.sample(x, y, 1), b.sample(x, y, 2), b.sample(x, y, 3)),
                      std::make_tuple(vt::patternValue(2, x, y, 1, VEX_DEPTH_8U), a.sample(x, y, 2),
                                      vt::patternValue(2, x, y, 3, VEX_DEPTH_8U)));
}

TEST(Copy, IncompatibleImagesAndStickyStatus) {
    StatusReset reset;
    vt::ReportLog log;
    vt::Image a(VEX_DEPTH_8U, 1, 4, 5), b(VEX_DEPTH_16U, 1, 4, 5, VEX_DATA_ORDER_PIXEL, 4, VEX_ORIGIN_BL);
    vt::Image c(VEX_DEPTH_8U, 1, 4, 5);
    a.fillPattern(1);
    const std::vector<uint8_t> before = b.bytes(), beforeC = c.bytes();
    vexCopy(a.get(), b.get(), nullptr);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].context, "srcImage->depth != dstImage->depth");
    EXPECT_EQ(log[1].context, "srcImage->origin != dstImage->origin");
    for (const auto& r : log.reports()) EXPECT_EQ(std::make_tuple(r.status, r.funcName), std::make_tuple(VEX_StsBadArg, std::string("vexCopy")));
    EXPECT_EQ(b.bytes(), before);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsBadArg);

    vexCopy(a.get(), c.get(), nullptr);  // status still negative: nothing happens
    EXPECT_EQ(c.bytes(), beforeC);
    EXPECT_EQ(log.size(), 2u);
    vexSetErrStatus(VEX_StsOk);
    vexCopy(a.get(), c.get(), nullptr);
    EXPECT_EQ(vt::diffSamples(a.get(), c.get()), "");
}

TEST(Copy, CallbackOrderOverThreeByTwoTiles) {
    StatusReset reset;
    vt::ReportLog log;
    vt::Image src(VEX_DEPTH_8U, 1, 30, 40);
    vt::TiledImage dst(VEX_DEPTH_8U, 1, 40, 60, 16, 16);
    src.fillPattern(3);
    src.setRoi(0, 1, 2, 25, 35);
    dst.setRoi(0, 10, 5, 20, 30);  // columns 10..39, rows 5..24: tiles 0..2 x 0..1
    VexROI* callerRoi = src.get()->roi;
    ImagePtr want = cloneOf(dst);
    refCopy(src.get(), want->get(), nullptr);
    vexCopy(src.get(), dst.get(), nullptr);
    std::vector<vt::TileCall> calls;
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 3; ++tx) {
            calls.push_back({tx, ty, VEX_TILE_GET_WRITE});
            calls.push_back({tx, ty, VEX_TILE_RELEASE});
        }
    EXPECT_EQ(dst.calls(), calls);
    EXPECT_EQ(dst.bytes(), want->bytes());
    EXPECT_EQ(src.get()->roi, callerRoi);
    EXPECT_EQ(log.size(), 0u);
}

TEST(Set, LimitsTheValueAndKeepsOtherBits) {
    StatusReset reset;
    const std::tuple<unsigned, int, int64_t> cases[] = {
        {VEX_DEPTH_8U, 300, 255}, {VEX_DEPTH_16U, -5, 0}, {VEX_DEPTH_1U, 7, 1},
        {VEX_DEPTH_8S, 200, 127}, {VEX_DEPTH_16S, -40000, -32768}, {VEX_DEPTH_32S, INT_MIN, INT_MIN}};
    for (const auto& [depth, value, written] : cases) {
        vt::Image image(depth, 1, 3, 11);
        vexSet(image.get(), value, nullptr);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x) ASSERT_EQ(image.sample(x, y, 1), written) << vt::depthName(depth);
    }
    // 1U, ROI xOffset 3 width 10: bits 3..12 of each row, no others.
    vt::Image bits(VEX_DEPTH_1U, 1, 3, 20);  // rows of 4 bytes
    bits.setRoi(0, 3, 0, 3, 10);
    bits.fillSentinel(0x00);
    vexSet(bits.get(), 1, nullptr);
    EXPECT_EQ(bits.bytes(), (std::vector<uint8_t>{0x1F, 0xF8, 0, 0, 0x1F, 0xF8, 0, 0, 0x1F, 0xF8, 0, 0}));
    bits.fillSentinel(0xFF);
    vexSet(bits.get(), 0, nullptr);
    EXPECT_EQ(bits.bytes(), (std::vector<uint8_t>{0xE0, 0x07, 0xFF, 0xFF, 0xE0, 0x07, 0xFF, 0xFF,
                                                  0xE0, 0x07, 0xFF, 0xFF}));
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// A tile the callback refuses: the report, the status, nothing left
// outstanding, every roi pointer the caller's, earlier tiles written.
TEST(TiledPaths, RefusedTile) {
    struct Case {
        const char* name;
        bool aTiled, bTiled;
        char refused;  // 'a' or 'b'
        int modes;
        const char* func;
        const char* text;
        std::function<void(VexImage*, VexImage*)> run;
    };
    const auto copy = [](VexImage* a, VexImage* b) { vexCopy(a, b, nullptr); };
    const auto exchange = [](VexImage* a, VexImage* b) { vexExchange(a, b, nullptr); };
    const Case cases[] = {
        {"copy into tiles", false, true, 'b', VEX_TILE_GET_WRITE, "vexCopy", "Error get tile to write", copy},
        {"copy from tiles", true, false, 'a', VEX_TILE_GET_READ, "vexCopy", "Error get tile to read", copy},
        {"copy both tiled", true, true, 'a', VEX_TILE_GET_READ, "vexCopy", "Error get tile to read", copy},
        {"set", false, true, 'b', VEX_TILE_GET_WRITE, "vexSet", "Error get tile to write",
         [](VexImage*, VexImage* b) { vexSet(b, 5, nullptr); }},
        {"exchange, a tiled", true, false, 'a', VEX_TILE_GET_WRITE, "vexExchange", "Error get tile to read", exchange},
        {"exchange, b tiled", false, true, 'b', VEX_TILE_GET_WRITE, "vexExchange", "Error get tile to write", exchange},
        {"exchange, both", true, true, 'b', VEX_TILE_GET_WRITE, "vexExchange", "Error get tile to write", exchange},
        {"mirror into tiles", false, true, 'b', VEX_TILE_GET_WRITE, "vexMirror", "Error get tile to write",
         [](VexImage* a, VexImage* b) { vexMirror(a, b, 1, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StatusReset reset;
        vt::ReportLog log;
        auto make = [](bool tiled, uint32_t key) {
            ImagePtr im = tiled ? ImagePtr(new vt::TiledImage(VEX_DEPTH_16U, 3, 24, 32, 16, 8))
                                : ImagePtr(new vt::Image(VEX_DEPTH_16U, 3, 24, 32));
            im->fillPattern(key);
            im->setRoi(0, 4, 2, 20, 26);
            return im;
        };
        ImagePtr a = make(c.aTiled, 1), b = make(c.bTiled, 2);
        tiledOf(c.refused == 'a' ? *a : *b)->refuse(1, 0, c.modes);
        Watch watch{a.get(), b.get()};
        ImagePtr wantB = cloneOf(*b);
        const bool firstTileOnly = &c == &cases[0];  // tile (0, 0) done before (1, 0) is refused
        const int firstTile[2] = {0, 0};
        if (firstTileOnly) refCopy(a->get(), wantB->get(), firstTile);
        c.run(a->get(), b->get());
        EXPECT_EQ(vexGetErrStatus(), VEX_StsError);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(std::make_tuple(log[0].status, log[0].funcName, log[0].context),
                  std::make_tuple(VEX_StsError, std::string(c.func), std::string(c.text)));
        watch.expectRestored();
        if (firstTileOnly) {
            EXPECT_EQ(b->bytes(), wantB->bytes());
        }
    }
}

TEST(Mirror, ChecksInOrder) {
    StatusReset reset;
    vt::ReportLog log;
    vt::Image a(VEX_DEPTH_8U, 3, 4, 5), b(VEX_DEPTH_8U, 3, 4, 5), deep(VEX_DEPTH_16U, 1, 4, 5),
        gray(VEX_DEPTH_8U, 1, 4, 5);
    const std::vector<uint8_t> before = b.bytes();
    struct Case {
        VexImage *s, *d;
        int axis;
        const char* text;
    } cases[] = {{a.get(), deep.get(), 0, "(srcImage->depth!=dstImage->depth)"},  // channels differ too
                 {a.get(), gray.get(), 0, "(srcImage->nChannels!=dstImage->nChannels)"},
                 {a.get(), b.get(), 2, "((flipAxis>1)||(flipAxis<-1))"},
                 {a.get(), b.get(), -2, "((flipAxis>1)||(flipAxis<-1))"}};
    for (const Case& c : cases) {
        log.clear();
        vexSetErrStatus(VEX_StsOk);
        vexMirror(c.s, c.d, c.axis, nullptr);
        ASSERT_EQ(log.size(), 1u) << c.text;
        EXPECT_EQ(std::make_tuple(log[0].status, log[0].funcName, log[0].context),
                  std::make_tuple(VEX_StsBadArg, std::string("vexMirror"), std::string(c.text)));
    }
    log.clear();
    a.setRoi(1, 0, 0, 4, 5);
    vexMirror(a.get(), b.get(), 2, nullptr);  // the axis is checked before the channels of interest
    vexMirror(a.get(), b.get(), 1, nullptr);
    EXPECT_EQ(log.contexts(), (std::vector<std::string>{"((flipAxis>1)||(flipAxis<-1))", "(coiSrc!=coiDst)"}));
    EXPECT_EQ(b.bytes(), before);
}

TEST(Mirror, SmallCases) {
    StatusReset reset;
    vt::ReportLog log;
    auto rows = [](const vt::Image& im) {
        std::vector<int64_t> v;
        for (int y = 0; y < im.height(); ++y)
            for (int x = 0; x < im.width(); ++x) v.push_back(im.sample(x, y, 1));
        return v;
    };
    auto image = [](int h, int w) {
        vt::Image im(VEX_DEPTH_8U, 1, h, w);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) im.setSample(x, y, 1, 10 * y + x);
        return im;
    };
    vt::Image r = image(1, 4);
    vexMirror(r.get(), r.get(), 1, nullptr);
    EXPECT_EQ(rows(r), (std::vector<int64_t>{3, 2, 1, 0}));
    vt::Image q = image(2, 2);
    vexMirror(q.get(), q.get(), -1, nullptr);
    EXPECT_EQ(rows(q), (std::vector<int64_t>{11, 10, 1, 0}));
    vt::Image odd = image(3, 3);  // in place, odd row count
    vexMirror(odd.get(), odd.get(), 0, nullptr);
    EXPECT_EQ(rows(odd), (std::vector<int64_t>{20, 21, 22, 10, 11, 12, 0, 1, 2}));
    vexMirror(odd.get(), odd.get(), 0, nullptr);
    vexMirror(odd.get(), odd.get(), -1, nullptr);
    EXPECT_EQ(rows(odd), (std::vector<int64_t>{22, 21, 20, 12, 11, 10, 2, 1, 0}));

    // Three channels in pixel order: pixels move whole, channel order kept.
    vt::Image bgr(VEX_DEPTH_8U, 3, 1, 3), out(VEX_DEPTH_8U, 3, 1, 3);
    for (int x = 0; x < 3; ++x)
        for (int c = 1; c <= 3; ++c) bgr.setSample(x, 0, c, 10 * x + c);
    vexMirror(bgr.get(), out.get(), 1, nullptr);
    for (int x = 0; x < 3; ++x)
        for (int c = 1; c <= 3; ++c) EXPECT_EQ(out.sample(x, 0, c), 10 * (2 - x) + c);

    // Source 10 x 10 into a 4 x 6 destination region: the source's top-left
    // 4 rows x 6 columns, flipped within themselves.
    vt::Image big = image(10, 10), small(VEX_DEPTH_8U, 1, 8, 9);
    small.setRoi(0, 2, 1, 4, 6);
    vexMirror(big.get(), small.get(), -1, nullptr);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 6; ++j) EXPECT_EQ(small.sample(2 + j, 1 + i, 1), 10 * (3 - i) + (5 - j));
    EXPECT_EQ(small.sample(1, 1, 1), vt::kSentinel);
    EXPECT_EQ(small.sample(8, 1, 1), vt::kSentinel);
    EXPECT_EQ(log.size(), 0u);
}

}  // namespace
