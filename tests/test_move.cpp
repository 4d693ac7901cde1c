// vexCopy, vexSet, vexExchange and vexMirror against plain per-sample loops
// over random layouts, tiled and untiled, with every byte outside the
// destination region (row padding, other channels, tile margins) checked;
// then tile invariance, the argument checks and refused tiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;



vt::TiledImage* tiledOf(const vt::ImageBase& im) { return dynamic_cast<vt::TiledImage*>(const_cast<vt::ImageBase*>(&im)); }

// ---------------------------------------------------------------------------
// The reference: regions clipped to their images, paired at their corners.

// The rectangle (ROI clipped to the image) and the channels moved in an image.
struct Region : vt::Clip {
    std::vector<int> ch;
    explicit Region(const VexImage* im) : vt::Clip(vt::clipOf(im)), ch(vt::channelsOf(im)) {}
};

// Calls fn(rs, rd, si, sj, i, j) for each pixel (i, j) of the common part of
// two regions that lies in the tile `sel` of d (any tile when null), with
// its source pixel (si, sj) flipped by `axis` (kNoFlip: not flipped).
constexpr int kNoFlip = 1 << 8;
void forPairs(const VexImage* s, const VexImage* d, const int* sel,
              const std::function<void(const Region&, const Region&, int, int, int, int)>& fn, int axis = kNoFlip) {
    const Region rs(s), rd(d);
    if (rs.ch.size() != rd.ch.size()) return;
    const int rows = std::min(rs.h, rd.h), cols = std::min(rs.w, rd.w);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            if (!sel || ((rd.x + j) / d->tileInfo->width == sel[0] && (rd.y + i) / d->tileInfo->height == sel[1]))
                fn(rs, rd, axis == 0 || axis == -1 ? rows - 1 - i : i, axis == 1 || axis == -1 ? cols - 1 - j : j, i, j);
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

void refSet(VexImage* d, int value, const int* sel) {
    const unsigned depth = d->depth;
    const int64_t v = depth == VEX_DEPTH_32S ? value : std::clamp<int64_t>(value, vt::depthMin(depth), vt::depthMax(depth));
    forPairs(d, d, sel, [&](const Region&, const Region& r, int, int, int i, int j) {
        for (int c : r.ch) vt::setSample(d, r.x + j, r.y + i, c, v);
    });
}

// One call on (a, b): set fills b; mirror writes b, or a when in place.
enum { kCopy, kSet, kExchange, kMirror };
struct Call {
    int op, value = 0, axis = 0;
    bool inPlace = false;
    std::string name() const {
        return std::string(op == kCopy ? "copy" : op == kSet ? "set" : op == kExchange ? "exchange" : "mirror") +
               " value " + std::to_string(value) + " axis " + std::to_string(axis) + (inPlace ? " in place" : "");
    }
};
void run(const Call& c, VexImage* a, VexImage* b, const int* sel) {
    switch (c.op) {
        case kCopy: return vexCopy(a, b, sel);
        case kSet: return vexSet(b, c.value, sel);
        case kExchange: return vexExchange(a, b, sel);
        default: return vexMirror(a, c.inPlace ? a : b, c.axis, sel);
    }
}

// ---------------------------------------------------------------------------
// Random layouts: sizes that favour tails, widths up to 56, tiles of 8 to 64,
// ROIs that may end, or now and then start, past the image.

vt::Layout makeLayout(std::mt19937& rng, unsigned depth, int n, int order, int origin, bool tiled) {
    vt::LayoutLimits limits;
    limits.maxSize = 56, limits.coi = false, limits.roiOutside = true;
    vt::Layout l = vt::randomLayout(rng, limits);
    l.depth = depth, l.nChannels = n, l.order = order, l.origin = origin, l.tiled = tiled;
    if (tiled && vt::uniform(rng, 0, 7) == 0) {  // many small tiles, the region starting inside one
        l.height = std::max(l.height, vt::uniform(rng, 20, 64)), l.width = std::max(l.width, vt::uniform(rng, 20, 64));
        l.tileWidth = 8 * vt::uniform(rng, 1, 2), l.tileHeight = 8 * vt::uniform(rng, 1, 2);
    }
    if (l.hasRoi && vt::uniform(rng, 0, 19) == 0) l.roi.xOffset = l.width + vt::uniform(rng, 0, 3);
    if (l.hasRoi && vt::uniform(rng, 0, 19) == 0) l.roi.yOffset = l.height + vt::uniform(rng, 0, 3);
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
    uint32_t keyA, keyB;  // pattern keys
};

// Two compatible images (same depth, order unless `mixOrder`, same origin);
// tiling cycles through none, b, a, both. With `sameCoi` both channels of
// interest are equal (mirror); otherwise they may differ or mismatch. `rgb`
// asks for three-channel 8-bit pixel order (the mirror's byte-shuffle path).
Pair makePair(std::mt19937& rng, int trial, bool sameCoi, bool mixOrder, bool rgb = false) {
    const unsigned depth = rgb ? (trial % 2 ? VEX_DEPTH_8U : VEX_DEPTH_8S) : vt::kDepths[trial % 6];
    const int tiling = (trial / 6) % 4, order = rgb ? 0 : vt::uniform(rng, 0, 1), origin = vt::uniform(rng, 0, 1);
    const int n = rgb ? 3 : depth == VEX_DEPTH_1U ? 1 : vt::uniform(rng, 1, 4);
    Pair p;
    p.la = makeLayout(rng, depth, n, order, origin, tiling >= 2);
    p.lb = makeLayout(rng, depth, n, mixOrder && !rgb && vt::uniform(rng, 0, 1) ? 1 - order : order, origin, tiling % 2 == 1);
    const int kind = vt::uniform(rng, 0, 5);
    if (kind >= 3) {
        if (!sameCoi && depth != VEX_DEPTH_1U && vt::uniform(rng, 0, 1)) p.lb.nChannels = vt::uniform(rng, 1, 4);
        const int ca = vt::uniform(rng, 1, p.la.nChannels);
        setCoi(p.la, ca);
        setCoi(p.lb, sameCoi ? ca : vt::uniform(rng, 1, p.lb.nChannels));
    } else if (kind == 2 && !sameCoi) {
        setCoi(vt::uniform(rng, 0, 1) ? p.la : p.lb, 1);  // one channel against all of them
    }
    if (p.la.hasRoi && p.lb.hasRoi && vt::uniform(rng, 0, 2) == 0) p.lb.roi.xOffset = p.la.roi.xOffset;  // equal bit offsets
    if (p.la.tiled && p.lb.tiled && trial % 3 == 0) {  // one grid: each piece of b pairs with one tile of a
        p.lb.tileWidth = p.la.tileWidth, p.lb.tileHeight = p.la.tileHeight;
        const VexROI none{0, 0, 0, 0, 0}, &ra = p.la.hasRoi ? p.la.roi : none;
        if (!p.lb.hasRoi) p.lb.roi = VexROI{0, 0, 0, p.lb.height, p.lb.width};
        p.lb.hasRoi = true;
        p.lb.roi.xOffset = ra.xOffset % p.la.tileWidth + p.la.tileWidth * vt::uniform(rng, 0, 1);
        p.lb.roi.yOffset = ra.yOffset % p.la.tileHeight + p.la.tileHeight * vt::uniform(rng, 0, 1);
    }
    p.keyA = 1000 + trial, p.keyB = 2000 + trial;
    p.a = vt::makeImage(p.la, p.keyA), p.b = vt::makeImage(p.lb, p.keyB);
    return p;
}

// A selector for a tiled destination d written from s (the common size):
// null, or any tile of the range (the first, a middle or the last tile
// column and row), or a column past it.
const int* chooseTile(std::mt19937& rng, const VexImage* s, const VexImage* d, std::array<int, 2>* buf) {
    const Region r(d);
    const int cols = std::min(Region(s).w, r.w), rows = std::min(Region(s).h, r.h);
    if (!d->tileInfo || cols <= 0 || rows <= 0 || vt::uniform(rng, 0, 1)) return nullptr;
    const int tw = d->tileInfo->width, th = d->tileInfo->height;
    *buf = {vt::uniform(rng, r.x / tw, (r.x + cols - 1) / tw + 1), vt::uniform(rng, r.y / th, (r.y + rows - 1) / th)};
    return buf->data();
}

// The images of one call: their roi pointers and records come back as the
// caller set them, and every tile got was released with its own buffer.
struct Watch {
    using Fields = std::tuple<VexROI*, int, int, int, int, int>;
    std::vector<std::pair<const vt::ImageBase*, Fields>> images;
    static Fields fields(VexROI* r) { return r ? Fields{r, r->coi, r->xOffset, r->yOffset, r->height, r->width} : Fields{}; }
    Watch(std::initializer_list<const vt::ImageBase*> ims) {
        for (auto* im : ims) images.push_back({im, fields(im->get()->roi)});
    }
    void expectRestored() const {
        for (const auto& [im, roi] : images) {
            EXPECT_EQ(fields(im->get()->roi), roi);
            if (auto* t = tiledOf(*im)) {
                EXPECT_EQ(std::make_tuple(t->outstanding(), t->releaseMismatches(), t->badCalls()), std::make_tuple(0, 0, 0));
            }
        }
    }
};

// Calls on an image walked tile by tile: each tile got with `mode` and
// released, tile rows outer, columns left to right.
void expectWalk(const vt::TiledImage& im, int mode) {
    const std::vector<vt::TileCall>& c = im.calls();
    ASSERT_EQ(c.size() % 2, 0u);
    for (size_t k = 0; k < c.size(); k += 2) {
        EXPECT_EQ(c[k], (vt::TileCall{c[k].xIndex, c[k].yIndex, mode})) << k;
        EXPECT_EQ(c[k + 1], (vt::TileCall{c[k].xIndex, c[k].yIndex, VEX_TILE_RELEASE})) << k;
        if (k) {
            EXPECT_LT(std::make_pair(c[k - 2].yIndex, c[k - 2].xIndex), std::make_pair(c[k].yIndex, c[k].xIndex));
        }
    }
}

// The most tiles held at once.
int maxHeld(const vt::TiledImage& im) {
    int held = 0, most = 0;
    for (const vt::TileCall& c : im.calls()) most = std::max(most, held += c.mode == VEX_TILE_RELEASE ? -1 : 1);
    return most;
}

// ---------------------------------------------------------------------------
// Every call against the reference on clones, byte for byte (padding, other
// channels and tile margins included), with its tile calls. Tile invariance
// besides: the call on untiled images holding the same samples gives the
// same samples, and one call per tile selector, over every tile and one row
// and column around them, gives the bytes of one call without.
TEST(Move, MatchesReferenceAndTilesCompose) {
    vt::StatusReset reset;
    vt::ReportLog log;
    std::mt19937 rng(101);
    const int kValues[] = {INT_MIN, INT_MAX, -1, 0, 1, 255, 256, -129, 65535, 65536, -32769};
    const int kTrials[] = {2400, 1500, 2000, 3200};
    int reached[2] = {};  // exchanges of two tiled images, gathered and tile to tile
    for (int op = kCopy; op <= kMirror; ++op)
        for (int trial = 0; trial < kTrials[op] && !HasFailure(); ++trial) {
            const bool rgb = op == kMirror && trial % 4 == 3;
            Pair p = makePair(rng, rgb ? trial / 4 : trial, op == kMirror, op == kMirror, rgb);
            const Call c{op, vt::uniform(rng, 0, 1) ? kValues[vt::uniform(rng, 0, 10)] : vt::uniform(rng, -70000, 70000), vt::uniform(rng, -1, 1),
                         op == kMirror && vt::uniform(rng, 0, 3) == 0};
            std::array<int, 2> buf;
            const int* sel = chooseTile(rng, (op == kSet ? p.b : p.a)->get(), (c.inPlace ? p.a : p.b)->get(), &buf);
            SCOPED_TRACE(c.name() + " | a: " + vt::describe(p.la) + " | b: " + vt::describe(p.lb) +
                         (sel ? " | tile " + std::to_string(sel[0]) + "," + std::to_string(sel[1]) : ""));
            ImagePtr origA = vt::cloneOf(*p.a), origB = vt::cloneOf(*p.b), wantA = vt::cloneOf(*p.a), wantB = vt::cloneOf(*p.b);
            switch (op) {
                case kCopy: refCopy(origA->get(), wantB->get(), sel); break;
                case kSet: refSet(wantB->get(), c.value, sel); break;
                case kExchange: refExchange(wantA->get(), wantB->get(), sel); break;
                default: refCopy(origA->get(), (c.inPlace ? wantA : wantB)->get(), sel, c.axis); break;
            }
            Watch watch{p.a.get(), p.b.get()};
            run(c, p.a->get(), p.b->get(), sel);
            EXPECT_EQ(log.size(), 0u);
            EXPECT_EQ(p.a->bytes(), wantA->bytes()) << vt::diffSamples(p.a->get(), wantA->get());
            EXPECT_EQ(p.b->bytes(), wantB->bytes()) << vt::diffSamples(p.b->get(), wantB->get());
            watch.expectRestored();
            // Walked tile by tile: a tiled destination, else the tiled source
            // of a copy (read) or an exchange (written). A source read whole
            // is never got for writing.
            const vt::TiledImage *ta = tiledOf(*p.a), *tb = tiledOf(*p.b);
            if (tb && !c.inPlace) expectWalk(*tb, VEX_TILE_GET_WRITE);
            if (ta && !tb && (op == kCopy || op == kExchange)) expectWalk(*ta, op == kCopy ? 1 : 2);
            if (ta && (op == kCopy || (op == kMirror && !c.inPlace))) {
                for (const vt::TileCall& k : ta->calls()) EXPECT_NE(k.mode, VEX_TILE_GET_WRITE) << k;
            }
            // A mirror source is read in rows of tiles, each tile once when
            // the destination is untiled; in place, mirror pairs are traded
            // holding at most two tiles, each got for writing (a selected
            // tile reads its mirror rectangle first).
            if (ta && op == kMirror && !c.inPlace) vt::expectReadRows(*ta, !tb);
            // An exchange on one grid: each tile of a read, handed back, then
            // swapped in place with b's piece.
            const VexTileInfo *ga = ta ? p.a->get()->tileInfo : nullptr, *gb = tb ? p.b->get()->tileInfo : nullptr;
            const Region ra(p.a->get()), rb(p.b->get());
            const bool oneGrid = ga && gb && op == kExchange && ga->width == gb->width && ga->height == gb->height &&
                                 ra.x % ga->width == rb.x % ga->width && ra.y % ga->height == rb.y % ga->height;
            for (size_t k = 0; oneGrid && k < ta->calls().size(); k += 4) {
                const vt::TileCall& first = ta->calls()[k];
                EXPECT_EQ(std::vector<vt::TileCall>(ta->calls().begin() + k, ta->calls().begin() + std::min(k + 4, ta->calls().size())),
                          (std::vector<vt::TileCall>{{first.xIndex, first.yIndex, 1}, {first.xIndex, first.yIndex, 4},
                                                     {first.xIndex, first.yIndex, 2}, {first.xIndex, first.yIndex, 4}}));
            }
            reached[oneGrid] += ta && tb && op == kExchange;
            if (ta && c.inPlace) {
                EXPECT_LE(maxHeld(*ta), 2);
                for (const vt::TileCall& k : ta->calls()) EXPECT_TRUE(sel || k.mode != VEX_TILE_GET_READ) << k;
            }
            if (!sel && !c.inPlace && (ta || tb)) {
                vt::Layout la = p.la, lb = p.lb;
                la.tiled = lb.tiled = false;
                ImagePtr ua = vt::makeImage(la, p.keyA), ub = vt::makeImage(lb, p.keyB);
                run(c, ua->get(), ub->get(), nullptr);
                EXPECT_EQ(vt::diffSamples(p.a->get(), ua->get()) + vt::diffSamples(p.b->get(), ub->get()), "");
                Watch parts{origA.get(), origB.get()};
                for (int ty = -1; tb && ty <= tb->tilesY(); ++ty)
                    for (int tx = -1; tx <= tb->tilesX(); ++tx) {
                        const int part[2] = {tx, ty};
                        run(c, origA->get(), origB->get(), part);
                    }
                if (tb) {
                    EXPECT_EQ(origB->bytes(), p.b->bytes());
                    EXPECT_EQ(origA->bytes(), p.a->bytes());
                }
                EXPECT_EQ(log.size(), 0u);
                parts.expectRestored();
            }
            if (op == kExchange) {  // twice restores both
                run(c, p.a->get(), p.b->get(), sel);
                EXPECT_EQ(p.a->bytes(), vt::makeImage(p.la, p.keyA)->bytes());
                EXPECT_EQ(p.b->bytes(), vt::makeImage(p.lb, p.keyB)->bytes());
            }
        }
    EXPECT_GT(reached[0] * reached[1], 0);
}

// Argument checks: every failure reported in order with VEX_StsBadArg under
// the operation's name and its literal text, nothing written. The status is
// left negative, and a copy does nothing until it is reset.
TEST(Move, ChecksReportInOrderAndWriteNothing) {
    vt::StatusReset reset;
    vt::ReportLog log;
    vt::Image a(VEX_DEPTH_8U, 3, 4, 5), b(VEX_DEPTH_8U, 3, 4, 5), gray(VEX_DEPTH_8U, 1, 4, 5),
        planes(VEX_DEPTH_8U, 3, 4, 5, VEX_DATA_ORDER_PLANE), coi1(VEX_DEPTH_8U, 3, 4, 5),
        deep(VEX_DEPTH_16U, 1, 4, 5, VEX_DATA_ORDER_PIXEL, 4, VEX_ORIGIN_BL);
    vt::Image* all[] = {&a, &b, &gray, &planes, &coi1, &deep};
    std::vector<std::vector<uint8_t>> before;
    for (auto* im : all) {
        im->fillPattern(uint32_t(before.size()));
        before.push_back(im->bytes());
    }
    coi1.setRoi(1, 0, 0, 4, 5);
    const std::string depth = "srcImage->depth != dstImage->depth", order = "srcImage->dataOrder != dstImage->dataOrder",
                      origin = "srcImage->origin != dstImage->origin", axis = "((flipAxis>1)||(flipAxis<-1))";
    const std::tuple<std::function<void()>, std::string, std::vector<std::string>> cases[] = {
        {[&] { vexCopy(a.get(), deep.get(), nullptr); }, "vexCopy", {depth, origin}},
        {[&] { vexCopy(planes.get(), b.get(), nullptr); }, "vexCopy", {order}},
        {[&] { vexExchange(deep.get(), planes.get(), nullptr); }, "vexExchange", {depth, order, origin}},
        {[&] { vexMirror(a.get(), deep.get(), 0, nullptr); }, "vexMirror", {"(srcImage->depth!=dstImage->depth)"}},
        {[&] { vexMirror(a.get(), gray.get(), 0, nullptr); }, "vexMirror", {"(srcImage->nChannels!=dstImage->nChannels)"}},
        {[&] { vexMirror(coi1.get(), b.get(), 2, nullptr); }, "vexMirror", {axis}},  // before the channels of interest
        {[&] { vexMirror(a.get(), b.get(), -2, nullptr); }, "vexMirror", {axis}},
        {[&] { vexMirror(coi1.get(), b.get(), 1, nullptr); }, "vexMirror", {"(coiSrc!=coiDst)"}},
    };
    for (const auto& [call, func, texts] : cases) {
        SCOPED_TRACE(texts[0]);
        log.clear();
        vexSetErrStatus(VEX_StsOk);
        call();
        EXPECT_EQ(log.contexts(), texts);
        for (const auto& r : log.reports()) EXPECT_EQ(std::make_tuple(r.status, r.funcName), std::make_tuple(VEX_StsBadArg, func));
        EXPECT_EQ(vexGetErrStatus(), VEX_StsBadArg);
        for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(all[k]->bytes(), before[k]) << "image " << k;
    }
    log.clear();
    vexCopy(a.get(), b.get(), nullptr);  // the status is still negative
    EXPECT_EQ(std::make_tuple(b.bytes(), log.size()), std::make_tuple(before[1], size_t(0)));
    vexSetErrStatus(VEX_StsOk);
    vexCopy(a.get(), b.get(), nullptr);
    EXPECT_EQ(vt::diffSamples(a.get(), b.get()), "");
}

// A tile the callback refuses (tile (1, 0) of a or b; a and b tiled as the
// bits of `tiled` say): the report, the status, nothing left outstanding,
// every roi pointer the caller's, and the tile before it written.
TEST(Move, RefusedTile) {
    const char *kRead = "Error get tile to read", *kWrite = "Error get tile to write";
    const struct {
        int tiled;
        char refused;
        const char *func, *text;
        Call call;
    } cases[] = {
        {2, 'b', "vexCopy", kWrite, {kCopy}},        {1, 'a', "vexCopy", kRead, {kCopy}},
        {3, 'a', "vexCopy", kRead, {kCopy}},         {2, 'b', "vexSet", kWrite, {kSet, 5}},
        {1, 'a', "vexExchange", kRead, {kExchange}}, {2, 'b', "vexExchange", kWrite, {kExchange}},
        {3, 'b', "vexExchange", kWrite, {kExchange}}, {3, 'a', "vexExchange", kRead, {kExchange}},
        {2, 'b', "vexMirror", kWrite, {kMirror, 0, 1}}, {1, 'a', "vexMirror", kRead, {kMirror, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call.name() + " tiled " + std::to_string(c.tiled) + " refused " + c.refused);
        vt::StatusReset reset;
        vt::ReportLog log;
        vt::Layout l;  // 16U x3, 24 x 32 in tiles of 16 x 8, ROI from (4, 2), 20 x 26
        l.depth = VEX_DEPTH_16U, l.nChannels = 3, l.height = 24, l.width = 32, l.tileWidth = 16, l.hasRoi = true;
        l.roi = VexROI{0, 4, 2, 20, 26};
        l.tiled = c.tiled & 1;
        ImagePtr a = vt::makeImage(l, 1);
        l.tiled = c.tiled & 2;
        ImagePtr b = vt::makeImage(l, 2), wantB = vt::cloneOf(*b);
        tiledOf(c.refused == 'a' ? *a : *b)->refuse(1, 0, VEX_TILE_GET_READ | VEX_TILE_GET_WRITE);
        Watch watch{a.get(), b.get()};
        const int firstTile[2] = {0, 0};
        const bool copyIntoTiles = &c == &cases[0];
        if (copyIntoTiles) refCopy(a->get(), wantB->get(), firstTile);
        run(c.call, a->get(), b->get(), nullptr);
        EXPECT_EQ(vexGetErrStatus(), VEX_StsError);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(std::make_tuple(log[0].status, log[0].funcName, log[0].context),
                  std::make_tuple(VEX_StsError, std::string(c.func), std::string(c.text)));
        watch.expectRestored();
        if (copyIntoTiles) {
            EXPECT_EQ(b->bytes(), wantB->bytes());
        }
    }
}

}  // namespace

// Mirrors that write more than the cache-sized threshold between every
// tiled/untiled pairing (tile grids differing when both are tiled): long
// reversed rows take the streamed path where one side is untiled, and tile
// rows on 16-byte boundaries (208 bytes in 8U and 16U, 192 bytes of
// three-channel 8U pixels for the flip about the horizontal axis) are flipped straight into the tile a line
// at a time. Regions offset by an odd amount so that the destination's
// pieces start off any vector boundary, and the first and last tile columns
// hold pieces narrower than the tile; every 37th row checked whole, and the
// last.
TEST(Move, LongMirrorsEveryPairing) {
    vt::StatusReset reset;
    vt::ReportLog log;
    const int h = 4100;
    enum Kind { kUntiled, kTiles200, kTiles128, kTiles208 };
    const struct {
        const char* name;
        Kind src, dst;
        unsigned depth;
        int channels, w;
    } cases[] = {
        {"tiled to untiled", kTiles200, kUntiled, VEX_DEPTH_8U, 1, 4100},
        {"untiled to tiled", kUntiled, kTiles200, VEX_DEPTH_8U, 1, 4100},
        {"tiled to tiled", kTiles200, kTiles128, VEX_DEPTH_8U, 1, 4100},
        {"untiled to 16-byte tile rows", kUntiled, kTiles208, VEX_DEPTH_8U, 1, 4100},
        {"untiled to 16-byte tile rows, 16U", kUntiled, kTiles208, VEX_DEPTH_16U, 1, 2052},
        {"untiled to 16-byte tile rows, 3 channels", kUntiled, kTiles208, VEX_DEPTH_8U, 3, 1400},
    };
    for (const auto& c : cases) {
        const int w = c.w, bytesPerPixel = c.channels * (c.depth == VEX_DEPTH_16U ? 2 : 1);
        auto make = [&](Kind kind) -> std::unique_ptr<vt::ImageBase> {
            switch (kind) {
                case kUntiled: return std::make_unique<vt::Image>(c.depth, c.channels, h, w);
                case kTiles200: return std::make_unique<vt::TiledImage>(c.depth, c.channels, h, w, 200, 64);
                case kTiles128: return std::make_unique<vt::TiledImage>(c.depth, c.channels, h, w, 128, 96);
                default:
                    return std::make_unique<vt::TiledImage>(c.depth, c.channels, h, w,
                                                            c.channels == 3 ? 64 : 208 / bytesPerPixel, 64);
            }
        };
        for (int axis : {1, -1, 0}) {
            if (c.channels > 1 && axis != 0) continue;
            SCOPED_TRACE(std::string(c.name) + " axis " + std::to_string(axis));
            std::unique_ptr<vt::ImageBase> srcImage = make(c.src), dstImage = make(c.dst);
            vt::ImageBase& src = *srcImage;
            vt::ImageBase& dst = *dstImage;
            src.fillPattern(5);
            dst.fillSentinel();
            src.setRoi(0, 1, 0, h, w);
            dst.setRoi(0, 3, 1, h, w);
            vexMirror(src.get(), dst.get(), axis, nullptr);
            const int rows = h - 1, cols = w - 3;
            const int64_t sentinel = c.depth == VEX_DEPTH_16U ? 0xA5A5 : vt::kSentinel;
            auto check = [&](int i) {
                const int si = axis != 1 ? rows - 1 - i : i;
                for (int j = 0; j < w; ++j) {
                    const int sj = axis != 0 ? cols - 1 - (j - 3) : j - 3;
                    for (int ch = 1; ch <= c.channels; ++ch)
                        ASSERT_EQ(dst.sample(j, i + 1, ch), j < 3 ? sentinel : src.sample(1 + sj, si, ch))
                            << j << "," << i << " channel " << ch;
                }
            };
            for (int x = 0; x < w; ++x) ASSERT_EQ(dst.sample(x, 0, 1), sentinel) << x;
            for (int i = 0; i < rows; i += 37) check(i);
            check(rows - 1);
        }
    }
    EXPECT_EQ(log.size(), 0u);
}

// Copies whose untiled side has rows a page or more apart and whose tile
// parts are short (rows asked for ahead), in both orders, one channel of
// interest or all: every byte against the reference.
TEST(Move, WideRowsThroughTiles) {
    vt::StatusReset reset;
    vt::ReportLog log;
    for (int order : {VEX_DATA_ORDER_PIXEL, VEX_DATA_ORDER_PLANE})
        for (int coi : {0, 2})
            for (int intoTiles = 0; intoTiles < 2; ++intoTiles) {
                SCOPED_TRACE("order " + std::to_string(order) + " coi " + std::to_string(coi) +
                             (intoTiles ? " into tiles" : " out of tiles"));
                vt::Layout l;
                l.depth = VEX_DEPTH_16U, l.nChannels = 3, l.order = order, l.height = 45, l.width = 1100;
                l.tileWidth = 40, l.tileHeight = 16, l.hasRoi = true;
                l.roi = VexROI{coi, 5, 3, 40, 1090};
                l.tiled = !intoTiles;
                ImagePtr a = vt::makeImage(l, 1);
                l.roi = VexROI{coi, 9, 2, 41, 1091};
                l.tiled = intoTiles;
                ImagePtr b = vt::makeImage(l, 2), want = vt::cloneOf(*b);
                refCopy(a->get(), want->get(), nullptr);
                vexCopy(a->get(), b->get(), nullptr);
                EXPECT_EQ(b->bytes(), want->bytes()) << vt::diffSamples(b->get(), want->get());
            }
    EXPECT_EQ(log.size(), 0u);
}
