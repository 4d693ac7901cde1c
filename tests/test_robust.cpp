// Bad input never crashes the library: every operation gets headers with one
// field broken (sizes, depth, layout codes, ROI, tiling, buffer), sharing
// images or not, and must either run within its buffers or report and leave
// the destination untouched. Under the sanitizer build any overrun is an
// AddressSanitizer report.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

// A mapping pixel when `on`, else none (the record lasts until the next pick).
const VexMapping* mapIf(const void* on, int x, int y) {
    thread_local VexMapping m;
    m = VexMapping{x, y};
    return on ? &m : nullptr;
}
// The pixel of the picked tile (a tile index pair), scaled and shifted.
const VexMapping* mapTile(const int* t, int scale = 1, int dx = 0, int dy = 0) {
    return mapIf(t, t ? t[0] * scale + dx : 0, t ? t[1] * scale + dy : 0);
}

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
    {"vexConvert", 2, [](VexImage** i, int v, const int* t) { vexConvert(i[0], i[1], v % 3, mapTile(t, 8, 3, 5)); }},
    {"vexBitonalToGray", 2, [](VexImage** i, int v, const int* t) { vexBitonalToGray(i[0], i[1], v % 300, v >> 8, mapTile(t, 8)); }},
    // The DIB functions with the image as given and a DIB of its size (as far
    // as the header declares one) in a buffer of exactly the declared bytes.
    {"vexConvertToDIB", 1, [](VexImage** i, int v, const int*) {
         static const int kBits[] = {1, 4, 8, 16, 24, 32};
         const int bits = kBits[unsigned(v) % 6];
         const bool sized = i[0] && i[0]->width > 0 && i[0]->height > 0 && i[0]->width < 4096 && i[0]->height < 4096;
         const int w = sized ? i[0]->width : 3, h = sized ? i[0]->height : 2;
         const size_t stride = size_t((w * bits + 31) / 32 * 4);
         std::vector<uint8_t> dib(40 + 4 * 256 + stride * size_t(h));
         VexBitmapInfoHeader hd{40, w, h, 1, uint16_t(bits), 0, 0, 0, 0, 0, 0};
         std::memcpy(dib.data(), &hd, 40);
         vexConvertToDIB(i[0], reinterpret_cast<VexBitmapInfoHeader*>(dib.data()), (v >> 4) & 1 ? 8 : 1, int(unsigned(v) >> 5) % 3);
     }},
    {"vexConvertFromDIB", 1, [](VexImage** i, int v, const int*) {
         static const int kBits[] = {1, 4, 8, 16, 24, 32};
         const unsigned u = unsigned(v);
         const int bits = kBits[u % 6], w = 1 + int(u >> 4) % 9, h = 1 + int(u >> 8) % 7;
         const size_t stride = size_t((w * bits + 31) / 32 * 4);
         std::vector<uint8_t> dib(40 + (bits <= 8 ? 4u << bits : 0) + stride * size_t(h), uint8_t(v));
         VexBitmapInfoHeader hd{40, w, (v & 0x1000) ? -h : h, 1, uint16_t(bits), 0, 0, 0, 0, 0, 0};
         std::memcpy(dib.data(), &hd, 40);
         vexConvertFromDIB(reinterpret_cast<VexBitmapInfoHeader*>(dib.data()), i[0]);
     }},

    // (ops: color)
    {"vexColorToGray", 2, [](VexImage** i, int, const int* t) { vexColorToGray(i[0], i[1], mapTile(t)); }},
    {"vexGrayToColor", 2, [](VexImage** i, int v, const int* t) {
         vexGrayToColor(i[0], i[1], float(v % 7) / 3, 0.5f, float(v & 3), mapTile(t));
     }},
    {"vexRGB2HSV", 2, [](VexImage** i, int, const int* t) { vexRGB2HSV(i[0], i[1], mapTile(t)); }},
    {"vexHLS2RGB", 2, [](VexImage** i, int, const int* t) {
         if (i[0]) std::memcpy(i[0]->colorSpace, "HLS", 3);
         vexHLS2RGB(i[0], i[1], mapTile(t));
     }},
    {"vexReduceBits", 2, [](VexImage** i, int v, const int* t) {
         static const int kDither[] = {1, 2, 4, 8, 16, 5};
         vexReduceBits(i[0], i[1], (v & 15) % 10 - 1, kDither[unsigned(v >> 4) % 6], (v >> 8) % 24 - 4, mapTile(t));
     }},
    {"vexApplyColorTwist", 2, [](VexImage** i, int v, const int* t) {
         const int data[16] = {v >> 8, 3 << 10, -(1 << 9), v, 1 << 10, 0, 0, -v, 0, 7, 1 << 12, 1000};
         VexColorTwist* tw = vexCreateColorTwist(data, 10);
         vexApplyColorTwist(i[0], i[1], tw, v % 512, mapTile(t, 8));
         vexDeleteColorTwist(tw);
     }},

    // (ops: alpha)
    // The scalar picks the alpha channels, the alpha images, the modes and a
    // mapping pixel; sources take alpha channels as their last channel.
    {"vexMultiplyScale", 3, [](VexImage** i, int v, const int* t) { vexMultiplyScale(i[0], i[1], i[2], mapIf(t, v & 63, (v >> 6) & 63)); }},
    {"vexMultiplySScale", 2, [](VexImage** i, int v, const int* t) {
         vexMultiplySScale(i[0], i[1], unsigned(v), mapIf(t, v & 63, (v >> 6) & 63));
     }},
    {"vexPreMultiplyAlpha", 1, [](VexImage** i, int v, const int* t) {
         if (i[0] && (v & 1)) i[0]->alphaChannel = i[0]->nChannels;
         vexPreMultiplyAlpha(i[0], v % 70000, mapIf(t, (v >> 1) & 63, (v >> 7) & 63));
     }},
    {"vexAlphaComposite", 5, [](VexImage** i, int v, const int* t) {
         for (int k : {0, 1, 4})
             if (i[k] && (v >> k & 1)) i[k]->alphaChannel = i[k]->nChannels;
         vexAlphaComposite(i[0], i[1], i[4], (v >> 5) % 7, (v & 4) ? i[2] : nullptr, (v & 8) ? i[3] : nullptr,
                           nullptr, (v >> 8) & 1, (v >> 9) & 1, mapIf(t, (v >> 12) & 63, (v >> 18) & 63));
     }},
    {"vexAlphaCompositeC", 3, [](VexImage** i, int v, const int* t) {
         for (int k = 0; k < 3; ++k)
             if (i[k] && (v >> k & 1)) i[k]->alphaChannel = i[k]->nChannels;
         vexAlphaCompositeC(i[0], i[1], i[2], (v >> 3) % 6, (v >> 6) % 400 - 100, (v >> 15) % 400 - 100,
                            (v >> 24) & 1, (v >> 25) & 1, nullptr);
         (void)t;
     }},

    // (ops: stats)
#define VT_LUTS(v)                                                                              \
    static int keys[3][4] = {{0, 1, 2, 2}, {0, 100, 255, 256}, {0, 300, 65535, 65536}};         \
    static int values[8][4], factors[4] = {1, -2, 3, 0};                                        \
    VexLUT rec[8];                                                                              \
    VexLUT* luts[8];                                                                            \
    for (int k = 0; k < 8; ++k)                                                                 \
        rec[k] = VexLUT{(v & 1) ? 4 : 3, keys[unsigned(v >> 1) % 3], values[k], factors, (v >> 3) & 1}, \
        luts[k] = (v & 0x70) == 0x70 && k == 1 ? nullptr : &rec[k];
    {"vexComputeHisto", 1, [](VexImage** i, int v, const int* t) { VT_LUTS(v) vexComputeHisto(i[0], luts, t); }},
    {"vexContrastStretch", 2, [](VexImage** i, int v, const int* t) { VT_LUTS(v) vexContrastStretch(i[0], i[1], luts, t); }},
    {"vexHistoEqualize", 2, [](VexImage** i, int v, const int* t) {
         VT_LUTS(v)
         vexComputeHisto(i[0], luts, nullptr);
         vexSetErrStatus(VEX_StsOk);
         vexHistoEqualize(i[0], i[1], luts, t);
     }},
    {"vexNorm", 2, [](VexImage** i, int v, const int*) { (void)vexNorm(i[0], (v & 16) ? nullptr : i[1], v & 15); }},
#undef VT_LUTS

    // (ops: filter)
    {"vexConvolve2D", 2, [](VexImage** i, int v, const int*) {
         const signed char e[15] = {1, -1, 0, 2, -128, 127, 1, 1, 1, 3, 0, -2, 5, 1, 1};
         VexConvKernel* k[2] = {vexCreateConvKernel(3, 5, 4, 1, e, 1), vexCreateConvKernel(1, 3, 0, 0, e, 0)};
         vexConvolve2D(i[0], i[1], k, 1 + (v & 1), (v >> 1) % 5, mapIf(v & 8 ? i : nullptr, v & 15, (v >> 4) & 15));
         vexDeleteConvKernel(k[0]);
         vexDeleteConvKernel(k[1]);
     }},
    {"vexConvolveSep2D", 2, [](VexImage** i, int v, const int*) {
         const signed char e[5] = {1, 4, 6, 4, 1};
         VexConvKernel* kx = vexCreateConvKernel(1, 5, 2 + (v & 3), 0, e, 4);
         VexConvKernel* ky = vexCreateConvKernel(5, 1, 0, 4, e, 4);
         vexConvolveSep2D(i[0], i[1], kx, ky);
         if (kx) vexDeleteConvKernel(kx);
         if (ky) vexDeleteConvKernel(ky);
     }},
    {"vexBlur", 2, [](VexImage** i, int v, const int*) { vexBlur(i[0], i[1], 1 + (v & 3), 5, v & 7, 2); }},
    {"vexMaxFilter", 2, [](VexImage** i, int v, const int*) { vexMaxFilter(i[0], i[1], 5, 3, 1, v & 3, nullptr); }},
    {"vexMinFilter", 2, [](VexImage** i, int v, const int*) { vexMinFilter(i[0], i[1], 2, 6, v & 3, 1, nullptr); }},
    {"vexMedianFilter", 2, [](VexImage** i, int v, const int*) { vexMedianFilter(i[0], i[1], 3, 3, 1, 1, mapIf(v & 1 ? i : nullptr, v & 31, 3)); }},

    // (ops: morph)
#define VT_MORPH(f) {#f, 2, [](VexImage** i, int v, const int*) { f(i[0], i[1], (v & 3) - 1, mapIf(v & 4 ? i : nullptr, 0, 0)); }}
    VT_MORPH(vexErode), VT_MORPH(vexDilate), VT_MORPH(vexOpen), VT_MORPH(vexClose),
#undef VT_MORPH

    // (ops: geom)
    {"vexZoom", 2, [](VexImage** i, int v, const int* t) {
         vexZoom(i[0], i[1], 1 + (v & 7), 1 + (v >> 3 & 3), 2 + (v >> 5 & 1), 1, v % 4, reinterpret_cast<const VexMapping*>(t));
     }},
    {"vexDecimate", 2, [](VexImage** i, int v, const int* t) {
         vexDecimate(i[0], i[1], 1 + (v & 1), 2 + (v >> 1 & 7), 1, 1 + (v >> 4 & 3), v % 4, reinterpret_cast<const VexMapping*>(t));
     }},
    {"vexRotate", 2, [](VexImage** i, int v, const int* t) {
         vexRotate(i[0], i[1], v & 1 ? 9000 * (v >> 1 & 3) : int(unsigned(v) * 37u), v % 29, v % 31, v % 4,
                   reinterpret_cast<const VexMapping*>(t));
     }},

    // (ops: transform)
    {"vexRealFft2D", 2, [](VexImage** i, int v, const int*) { vexRealFft2D(i[0], i[1], v & 0x1FF, nullptr); }},
    {"vexCcsFft2D", 2, [](VexImage** i, int v, const int*) { vexCcsFft2D(i[0], i[1], v & 0x1FF, nullptr); }},
    {"vexDCT2D", 2, [](VexImage** i, int v, const int*) { vexDCT2D(i[0], i[1], v & 0xF); }},
};


// Breaks one field of a header (or none). A broken ROI is a local record, so
// the image's own stays intact; the caller restores the whole header after.
// A tile's size follows from the header, so a tiled header is only broken in
// ways the checks see; an untiled one may also claim more than its buffer.
std::string breakHeader(std::mt19937& rng, VexImage* im, VexROI* local, VexTileInfo* fakeTiles) {
    static const int kHuge[] = {INT_MAX, INT_MIN, 1 << 30, -1, 0};
    const int huge = kHuge[vt::uniform(rng, 0, 4)];
    const bool tiled = im->tileInfo != nullptr;
    *local = im->roi ? *im->roi : VexROI{0, 0, 0, im->height, im->width};
    if (tiled) *fakeTiles = *im->tileInfo;
    switch (vt::uniform(rng, 0, 17)) {
        case 0: im->nChannels = vt::uniform(rng, -1, tiled ? 0 : 6); return "nChannels";
        case 1: im->depth = vt::uniform(rng, 0, 1) ? 32u : (vt::uniform(rng, 0, 1) && !tiled ? VEX_DEPTH_32S : 7u); return "depth";
        case 2: im->dataOrder = vt::uniform(rng, 2, 3); return "dataOrder";
        case 3: im->origin = -1; return "origin";
        case 4: im->align = vt::uniform(rng, 0, 1) ? 2 : 16; return "align";
        case 5: im->width += vt::uniform(rng, -3, 40); return "width";
        case 6: im->height += vt::uniform(rng, -3, 40); return "height";
        case 7: im->dataSize = vt::uniform(rng, -8, 0) + (tiled ? 0 : im->dataSize / 2); return "dataSize";
        case 8: im->widthStep = vt::uniform(rng, -4, 0); return "widthStep";
        case 9: im->alphaChannel = vt::uniform(rng, 0, 1) ? -1 : im->nChannels + 1; return "alphaChannel";
        case 10: local->coi = vt::uniform(rng, 0, 1) ? -1 : im->nChannels + vt::uniform(rng, 1, 3); im->roi = local; return "coi";
        case 11: local->xOffset = huge; im->roi = local; return "roi x";
        case 12: local->yOffset = huge; im->roi = local; return "roi y";
        case 13: local->width = huge, local->height = kHuge[vt::uniform(rng, 0, 4)]; im->roi = local; return "roi size";
        case 14:
            im->imageData = !tiled ? nullptr : im->dataBlock ? im->dataBlock : reinterpret_cast<char*>(local);
            return tiled ? "data and tiles" : "no data";
        case 15:
            fakeTiles->width = vt::uniform(rng, 0, 1) ? 12 : vt::uniform(rng, -8, 0);
            im->tileInfo = fakeTiles;  // untiled: both data and tiles
            return "tile size";
        case 16:
            if (!tiled) { im->borderMode[vt::uniform(rng, 0, 3)] = vt::uniform(rng, -5, 9); return "border"; }
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
        const Op& op = kOps[vt::uniform(rng, 0, int(std::size(kOps)) - 1)];
        std::vector<std::unique_ptr<vt::ImageBase>> owned;
        VexImage* im[5] = {};
        const vt::Layout base = vt::randomLayout(rng, limits);
        for (int k = 0; k < op.images; ++k) {
            if (k > 0 && vt::uniform(rng, 0, 4) == 0) {  // the same image twice
                im[k] = im[k - 1];
                continue;
            }
            vt::Layout l = vt::uniform(rng, 0, 2) ? base : vt::randomLayout(rng, limits);
            if (vt::uniform(rng, 0, 1)) l.depth = base.depth, l.nChannels = l.depth == VEX_DEPTH_1U ? 1 : l.nChannels;
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
        const int victim = vt::uniform(rng, 0, op.images);
        if (victim < op.images) broken = breakHeader(rng, im[victim], &local, &fakeTiles);
        if (vt::uniform(rng, 0, 9) == 0) im[vt::uniform(rng, 0, op.images - 1)] = nullptr, broken += " null";
        const int tile[2] = {vt::uniform(rng, -1, 3), vt::uniform(rng, -1, 3)};
        {
            vt::ReportLog log;
            vexSetErrStatus(VEX_StsOk);
            op.call(im, vt::uniform(rng, INT_MIN, INT_MAX), vt::uniform(rng, 0, 1) ? tile : nullptr);
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
