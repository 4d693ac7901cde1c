// Bad input never crashes the library: every operation gets headers with one
// field broken (sizes, depth, layout codes, ROI, tiling, buffer), sharing
// images or not, and must either run within its buffers or report and leave
// the destination untouched. Under the sanitizer build any overrun is an
// AddressSanitizer report.
#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

struct Op {
    const char* name;
    int images;  // the last one is written
    void (*call)(VexImage** im, int value, const int* tile);
};

// Operations by signature; the first four move data.
#define VT_OP2(f) {#f, 2, [](VexImage** i, int, const int* t) { f(i[0], i[1], t); }}
#define VT_OP3(f) {#f, 3, [](VexImage** i, int, const int* t) { f(i[0], i[1], i[2], t); }}
#define VT_OPS(f, T) {#f, 2, [](VexImage** i, int v, const int* t) { f(i[0], i[1], T(v), t); }}
const Op kOps[] = {
    VT_OP2(vexCopy),
    {"vexSet", 1, [](VexImage** i, int v, const int* t) { vexSet(i[0], v, t); }},
    VT_OP2(vexExchange),
    {"vexMirror", 2, [](VexImage** i, int v, const int* t) { vexMirror(i[0], i[1], v % 3 - 1, t); }},
    VT_OP3(vexAdd), VT_OP3(vexMultiply), VT_OP3(vexAnd), VT_OP3(vexOr), VT_OP3(vexXor),
    VT_OP2(vexSquare), VT_OP2(vexAbs), VT_OP2(vexNot),
    VT_OPS(vexAddS, int), VT_OPS(vexThreshold, int), VT_OPS(vexMultiplyS, unsigned),
    VT_OPS(vexAndS, unsigned), VT_OPS(vexOrS, unsigned), VT_OPS(vexXorS, unsigned),
    {"vexSubtract", 3, [](VexImage** i, int v, const int* t) { vexSubtract(i[0], i[1], i[2], v & 1, t); }},
    {"vexSubtractS", 2, [](VexImage** i, int v, const int* t) { vexSubtractS(i[0], i[1], v, v & 1, t); }},
    {"vexLShiftS", 2, [](VexImage** i, int v, const int* t) { vexLShiftS(i[0], i[1], unsigned(v) % 40, t); }},
    {"vexRShiftS", 2, [](VexImage** i, int v, const int* t) { vexRShiftS(i[0], i[1], unsigned(v) % 40, t); }},
    // (ops: convert)

    // (ops: color)

    // (ops: alpha)

    // (ops: stats)

    // (ops: filter)

    // (ops: morph)

    // (ops: geom)

    // (ops: transform)
    {"vexRealFft2D", 2, [](VexImage** i, int v, const int*) { vexRealFft2D(i[0], i[1], v & 0x1FF, nullptr); }},
    {"vexCcsFft2D", 2, [](VexImage** i, int v, const int*) { vexCcsFft2D(i[0], i[1], v & 0x1FF, nullptr); }},
    {"vexDCT2D", 2, [](VexImage** i, int v, const int*) { vexDCT2D(i[0], i[1], v & 0xF); }},
};

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Breaks one field of a header (or none). A broken ROI is a local record, so
// the image's own stays intact; the caller restores the whole header after.
// A tile's size follows from the header, so a tiled header is only broken in
// ways the checks see; an untiled one may also claim more than its buffer.
std::string breakHeader(std::mt19937& rng, VexImage* im, VexROI* local, VexTileInfo* fakeTiles) {
    static const int kHuge[] = {INT_MAX, INT_MIN, 1 << 30, -1, 0};
    const int huge = kHuge[pick(rng, 0, 4)];
    const bool tiled = im->tileInfo != nullptr;
    *local = im->roi ? *im->roi : VexROI{0, 0, 0, im->height, im->width};
    if (tiled) *fakeTiles = *im->tileInfo;
    switch (pick(rng, 0, 17)) {
        case 0: im->nChannels = pick(rng, -1, tiled ? 0 : 6); return "nChannels";
        case 1: im->depth = pick(rng, 0, 1) ? 32u : (pick(rng, 0, 1) && !tiled ? VEX_DEPTH_32S : 7u); return "depth";
        case 2: im->dataOrder = pick(rng, 2, 3); return "dataOrder";
        case 3: im->origin = -1; return "origin";
        case 4: im->align = pick(rng, 0, 1) ? 2 : 16; return "align";
        case 5: im->width += pick(rng, -3, 40); return "width";
        case 6: im->height += pick(rng, -3, 40); return "height";
        case 7: im->dataSize = pick(rng, -8, 0) + (tiled ? 0 : im->dataSize / 2); return "dataSize";
        case 8: im->widthStep = pick(rng, -4, 0); return "widthStep";
        case 9: im->alphaChannel = pick(rng, 0, 1) ? -1 : im->nChannels + 1; return "alphaChannel";
        case 10: local->coi = pick(rng, 0, 1) ? -1 : im->nChannels + pick(rng, 1, 3); im->roi = local; return "coi";
        case 11: local->xOffset = huge; im->roi = local; return "roi x";
        case 12: local->yOffset = huge; im->roi = local; return "roi y";
        case 13: local->width = huge, local->height = kHuge[pick(rng, 0, 4)]; im->roi = local; return "roi size";
        case 14:
            im->imageData = !tiled ? nullptr : im->dataBlock ? im->dataBlock : reinterpret_cast<char*>(local);
            return tiled ? "data and tiles" : "no data";
        case 15:
            fakeTiles->width = pick(rng, 0, 1) ? 12 : pick(rng, -8, 0);
            im->tileInfo = fakeTiles;  // untiled: both data and tiles
            return "tile size";
        case 16:
            if (!tiled) { im->borderMode[pick(rng, 0, 3)] = pick(rng, -5, 9); return "border"; }
            fakeTiles->callBack = nullptr;
            im->tileInfo = fakeTiles;
            return "callback";
        default: return "";
    }
}

TEST(Robustness, BrokenHeadersNeverOverrunAndLeaveTheDestinationAlone) {
    std::mt19937 rng(20261207u);
    vt::LayoutLimits limits;
    limits.maxSize = 24;
    limits.roiOutside = true;
    for (int iter = 0; iter < 20000; ++iter) {
        const Op& op = kOps[pick(rng, 0, int(std::size(kOps)) - 1)];
        std::vector<std::unique_ptr<vt::ImageBase>> owned;
        VexImage* im[5] = {};
        const vt::Layout base = vt::randomLayout(rng, limits);
        for (int k = 0; k < op.images; ++k) {
            if (k > 0 && pick(rng, 0, 4) == 0) {  // the same image twice
                im[k] = im[k - 1];
                continue;
            }
            vt::Layout l = pick(rng, 0, 2) ? base : vt::randomLayout(rng, limits);
            if (pick(rng, 0, 1)) l.depth = base.depth, l.nChannels = l.depth == VEX_DEPTH_1U ? 1 : l.nChannels;
            owned.push_back(vt::makeImage(l, uint32_t(iter * 3 + k)));
            im[k] = owned.back()->get();
        }
        VexImage* orig[5] = {im[0], im[1], im[2], im[3], im[4]};
        VexImage saved[5];
        for (int k = 0; k < op.images; ++k) saved[k] = *im[k];
        vt::ImageBase* dst = nullptr;
        for (auto& o : owned)
            if (o->get() == orig[op.images - 1]) dst = o.get();
        const std::vector<uint8_t> before = dst ? dst->bytes() : std::vector<uint8_t>();
        VexROI local{};
        VexTileInfo fakeTiles{};
        std::string broken;
        const int victim = pick(rng, 0, op.images);
        if (victim < op.images) broken = breakHeader(rng, im[victim], &local, &fakeTiles);
        if (pick(rng, 0, 9) == 0) im[pick(rng, 0, op.images - 1)] = nullptr, broken += " null";
        const int tile[2] = {pick(rng, -1, 3), pick(rng, -1, 3)};
        {
            vt::ReportLog log;
            vexSetErrStatus(VEX_StsOk);
            op.call(im, pick(rng, INT_MIN, INT_MAX), pick(rng, 0, 1) ? tile : nullptr);
            for (int k = op.images - 1; k >= 0; --k) *orig[k] = saved[k];
            if (log.size() > 0 && log[0].status == VEX_StsBadArg && log[0].context.find("tileData") == std::string::npos && dst) {
                EXPECT_EQ(before, dst->bytes()) << op.name << " wrote after rejecting (" << broken << "): " << log[0].context;
            }
        }
        // The pixel-wise walk stops at a failed tile without releasing what it
        // holds; the data-movement walks release every tile they got.
        if (&op - kOps < 4)
            for (auto& o : owned)
                if (auto* t = dynamic_cast<vt::TiledImage*>(o.get())) {
                    ASSERT_EQ(0, t->outstanding()) << op.name << " (" << broken << ")";
                }
    }
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
