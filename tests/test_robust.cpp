// Bad input never crashes the library: every operation gets headers with one
// field broken (sizes, depth, layout codes, ROI, tiling, buffer), sharing
// images or not, and must either run within its buffers or report and leave
// the destination untouched. Run under the sanitizer build this is a fuzz
// replay: any overrun is an AddressSanitizer report.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using Call = std::function<void(VexImage** im, int value, const int* tile)>;
struct Op {
    const char* name;
    int images;  // the last one is written
    Call call;
};

const std::vector<Op>& ops() {
    static const std::vector<Op> list = {
        {"vexCopy", 2, [](VexImage** i, int, const int* t) { vexCopy(i[0], i[1], t); }},
        {"vexSet", 1, [](VexImage** i, int v, const int* t) { vexSet(i[0], v, t); }},
        {"vexExchange", 2, [](VexImage** i, int, const int* t) { vexExchange(i[0], i[1], t); }},
        {"vexMirror", 2, [](VexImage** i, int v, const int* t) { vexMirror(i[0], i[1], v % 3 - 1, t); }},
        {"vexAdd", 3, [](VexImage** i, int, const int* t) { vexAdd(i[0], i[1], i[2], t); }},
        {"vexAddS", 2, [](VexImage** i, int v, const int* t) { vexAddS(i[0], i[1], v, t); }},
        {"vexSubtract", 3, [](VexImage** i, int v, const int* t) { vexSubtract(i[0], i[1], i[2], v & 1, t); }},
        {"vexSubtractS", 2, [](VexImage** i, int v, const int* t) { vexSubtractS(i[0], i[1], v, v & 1, t); }},
        {"vexMultiply", 3, [](VexImage** i, int, const int* t) { vexMultiply(i[0], i[1], i[2], t); }},
        {"vexMultiplyS", 2, [](VexImage** i, int v, const int* t) { vexMultiplyS(i[0], i[1], unsigned(v), t); }},
        {"vexSquare", 2, [](VexImage** i, int, const int* t) { vexSquare(i[0], i[1], t); }},
        {"vexAbs", 2, [](VexImage** i, int, const int* t) { vexAbs(i[0], i[1], t); }},
        {"vexAnd", 3, [](VexImage** i, int, const int* t) { vexAnd(i[0], i[1], i[2], t); }},
        {"vexOr", 3, [](VexImage** i, int, const int* t) { vexOr(i[0], i[1], i[2], t); }},
        {"vexXor", 3, [](VexImage** i, int, const int* t) { vexXor(i[0], i[1], i[2], t); }},
        {"vexAndS", 2, [](VexImage** i, int v, const int* t) { vexAndS(i[0], i[1], unsigned(v), t); }},
        {"vexOrS", 2, [](VexImage** i, int v, const int* t) { vexOrS(i[0], i[1], unsigned(v), t); }},
        {"vexXorS", 2, [](VexImage** i, int v, const int* t) { vexXorS(i[0], i[1], unsigned(v), t); }},
        {"vexNot", 2, [](VexImage** i, int, const int* t) { vexNot(i[0], i[1], t); }},
        {"vexLShiftS", 2, [](VexImage** i, int v, const int* t) { vexLShiftS(i[0], i[1], unsigned(v) % 40, t); }},
        {"vexRShiftS", 2, [](VexImage** i, int v, const int* t) { vexRShiftS(i[0], i[1], unsigned(v) % 40, t); }},
        {"vexThreshold", 2, [](VexImage** i, int v, const int* t) { vexThreshold(i[0], i[1], v, t); }},
    };
    return list;
}

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Breaks one field of a header. The ROI is replaced by a local record so the
// image's own stays intact; the caller restores the whole header afterwards.
std::string breakHeader(std::mt19937& rng, VexImage* im, VexROI* local, VexTileInfo* fakeTiles) {
    static const int kHuge[] = {INT_MAX, INT_MIN, 1 << 30, -1, 0};
    const int huge = kHuge[pick(rng, 0, 4)];
    if (im->roi) *local = *im->roi;
    else *local = VexROI{0, 0, 0, im->height, im->width};
    switch (pick(rng, 0, 17)) {
        // A tile's size follows from the header, so a tiled header can only be
        // broken in ways the checks see; an untiled one may also claim more
        // than its buffer holds.
        case 0: im->nChannels = pick(rng, -1, im->tileInfo ? 0 : 6); return "nChannels";
        case 1: im->depth = pick(rng, 0, 1) ? 32u : (pick(rng, 0, 1) && !im->tileInfo ? VEX_DEPTH_32S : 7u); return "depth";
        case 2: im->dataOrder = pick(rng, 2, 3); return "dataOrder";
        case 3: im->origin = -1; return "origin";
        case 4: im->align = pick(rng, 0, 1) ? 2 : 16; return "align";
        case 5: im->width += pick(rng, -3, 40); return "width";
        case 6: im->height += pick(rng, -3, 40); return "height";
        case 7: im->dataSize = pick(rng, -8, 0) + (im->tileInfo ? 0 : im->dataSize / 2); return "dataSize";
        case 8: im->widthStep = pick(rng, -4, 0); return "widthStep";
        case 9: im->alphaChannel = pick(rng, 0, 1) ? -1 : im->nChannels + 1; return "alphaChannel";
        case 10: local->coi = pick(rng, 0, 1) ? -1 : im->nChannels + pick(rng, 1, 3); im->roi = local; return "coi";
        case 11: local->xOffset = huge; im->roi = local; return "roi x";
        case 12: local->yOffset = huge; im->roi = local; return "roi y";
        case 13: local->width = huge; local->height = kHuge[pick(rng, 0, 4)]; im->roi = local; return "roi size";
        case 14:
            if (im->tileInfo) { im->imageData = im->dataBlock ? im->dataBlock : reinterpret_cast<char*>(local); return "data and tiles"; }
            im->imageData = nullptr;
            return "no data";
        case 15:
            if (!im->tileInfo) { im->tileInfo = fakeTiles; return "data and tiles"; }
            *fakeTiles = *im->tileInfo;
            fakeTiles->width = pick(rng, 0, 1) ? 12 : pick(rng, -8, 0);
            im->tileInfo = fakeTiles;
            return "tile size";
        case 16:
            if (!im->tileInfo) { im->borderMode[pick(rng, 0, 3)] = pick(rng, -5, 9); return "border"; }
            *fakeTiles = *im->tileInfo;
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
        const Op& op = ops()[size_t(pick(rng, 0, int(ops().size()) - 1))];
        std::vector<std::unique_ptr<vt::ImageBase>> owned;
        VexImage* im[3] = {nullptr, nullptr, nullptr};
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
        // Break one field of one image (or none), remembering every header.
        VexImage* orig[3] = {im[0], im[1], im[2]};
        VexImage saved[3];
        for (int k = 0; k < op.images; ++k) saved[k] = *im[k];
        VexImage* dst = orig[op.images - 1];
        vt::ImageBase* dstOwner = nullptr;
        for (auto& o : owned)
            if (o->get() == dst) dstOwner = o.get();
        const std::vector<uint8_t> before = dstOwner ? dstOwner->bytes() : std::vector<uint8_t>();
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
            if (log.size() > 0 && log[0].status == VEX_StsBadArg &&
                log[0].context.find("tileData") == std::string::npos && dstOwner) {
                EXPECT_EQ(before, dstOwner->bytes())
                    << op.name << " wrote after rejecting (" << broken << "): " << log[0].context;
            }
        }
        // The pixel-wise walk stops at a failed tile without releasing what it
        // holds; the data-movement walks release every tile they got.
        const std::string name = op.name;
        const bool releasesOnFailure = name == "vexCopy" || name == "vexSet" ||
                                       name == "vexExchange" || name == "vexMirror";
        for (auto& o : owned)
            if (auto* t = dynamic_cast<vt::TiledImage*>(o.get()); t && releasesOnFailure) {
                ASSERT_EQ(0, t->outstanding()) << op.name << " (" << broken << ")";
            }
    }
    vexSetErrStatus(VEX_StsOk);
}

}  // namespace
