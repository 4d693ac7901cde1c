// Fuzz target: the input picks an operation and describes its images (depth,
// channels, order, align, size, ROI and COI, tiling, one broken field), its
// scalar and its tile selector. Buffers and tiles are allocated at exactly
// their declared sizes, so any read or write past them is a sanitizer
// report; every destination byte is read afterwards.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "vexlib.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n, at = 0;
    uint8_t byte() { return at < n ? p[at++] : 0; }
    int small(int lo, int hi) { return lo + byte() % (hi - lo + 1); }
    int32_t word() {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = v << 8 | byte();
        return int32_t(v);
    }
};

const unsigned kDepths[] = {VEX_DEPTH_1U,  VEX_DEPTH_8U,  VEX_DEPTH_8S,
                            VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

// One tile store per tiled image, found through tileInfo->id.
struct TileStore {
    int tilesX = 0, tilesY = 0, bytes = 0;
    std::vector<char*> tiles;
};
std::vector<TileStore*> g_stores;

void tileCallback(const VexImage* image, int x, int y, int mode) {
    TileStore* s = g_stores[size_t(image->tileInfo->id)];
    if (mode == VEX_TILE_RELEASE) {
        image->tileInfo->tileData = nullptr;
        return;
    }
    const bool inside = x >= 0 && y >= 0 && x < s->tilesX && y < s->tilesY;
    image->tileInfo->tileData = inside ? s->tiles[size_t(y * s->tilesX + x)] : nullptr;
}

struct Img {
    VexImage* h = nullptr;
    VexROI roi{};
    VexTileInfo info{};
    char* data = nullptr;
    TileStore store;
};

void makeImage(Input& in, Img& im, unsigned depth) {
    const int ch = depth == VEX_DEPTH_1U ? 1 : in.small(1, 4);
    im.h = vexCreateImageHeader(ch, 0, int(depth), "FUZZ", "FUZZ", in.small(0, 1), 0,
                                in.byte() & 1 ? 8 : 4, in.small(1, 24), in.small(1, 24), nullptr,
                                nullptr, nullptr);
    if (!im.h) return;
    if (in.byte() % 3 == 0) {  // tiled
        const int tw = 8 * in.small(1, 3), th = 8 * in.small(1, 3);
        VexImage* tile = vexCreateImageHeader(ch, 0, int(depth), "FUZZ", "FUZZ", im.h->dataOrder,
                                              0, im.h->align, th, tw, nullptr, nullptr, nullptr);
        im.store.tilesX = (im.h->width + tw - 1) / tw;
        im.store.tilesY = (im.h->height + th - 1) / th;
        im.store.bytes = tile->dataSize;
        vexDeallocate(tile, VEX_IMAGE_HEADER);
        for (int k = 0; k < im.store.tilesX * im.store.tilesY; ++k)
            im.store.tiles.push_back(static_cast<char*>(calloc(size_t(im.store.bytes), 1)));
        im.info = VexTileInfo{tileCallback, int(g_stores.size()), nullptr, tw, th};
        g_stores.push_back(&im.store);
        im.h->tileInfo = &im.info;
    } else {
        im.data = static_cast<char*>(malloc(size_t(im.h->dataSize)));
        memset(im.data, in.byte(), size_t(im.h->dataSize));
        im.h->imageData = im.data;
    }
    if (in.byte() & 1) {
        im.roi = VexROI{in.small(-1, 4), in.small(-2, 30), in.small(-2, 30), in.small(-1, 30),
                        in.small(-1, 30)};
        im.h->roi = &im.roi;
    }
    for (int s = 0; s < 4; ++s) vexSetBorderMode(im.h, in.small(-1, 5), 1 << s, in.word());
}

// Breaks one field. Fields that would make a tiled header claim more than
// its tiles hold are left alone: tiles are the caller's to size.
void breakField(Input& in, VexImage* h) {
    const bool tiled = h->tileInfo != nullptr;
    switch (in.byte() % 12) {
        case 0: h->nChannels = tiled ? in.small(-2, 0) : in.small(-2, 6); break;
        case 1: h->depth = tiled ? 7u : unsigned(in.word()); break;
        case 2: h->dataOrder = tiled ? in.small(2, 3) : in.small(-1, 3); break;
        case 3: h->align = tiled ? in.small(0, 3) : in.small(0, 16); break;
        case 4: if (!tiled) h->width += in.small(-3, 9); break;
        case 5: if (!tiled) h->height += in.small(-3, 9); break;
        case 6: h->dataSize = in.word(); break;
        case 7: h->widthStep = in.small(-4, 0); break;
        case 8: h->alphaChannel = in.small(-2, 6); break;
        case 9: if (tiled) h->tileInfo->width = in.small(-8, 12); else h->imageData = nullptr; break;
        case 10: if (tiled) h->tileInfo->callBack = nullptr; break;
        default: break;
    }
}

void release(Img& im) {
    for (char* t : im.store.tiles) free(t);
    free(im.data);
    if (im.h) vexDeallocate(im.h, VEX_IMAGE_HEADER);
}

int silent(int status, const char*, const char*, const char*, int) { return status; }

// The operations: how many images each takes (the last is written) and the
// call, given the images, a scalar and the tile selector. Operations that
// take more arguments draw them from the input.
struct Op {
    int images;
    void (*call)(VexImage** h, int32_t v, const int* tile, Input& in);
};
#define FZ_OP2(f) {2, [](VexImage** h, int32_t, const int* t, Input&) { f(h[0], h[1], t); }}
#define FZ_OP3(f) {3, [](VexImage** h, int32_t, const int* t, Input&) { f(h[0], h[1], h[2], t); }}
#define FZ_OPS(f, T) {2, [](VexImage** h, int32_t v, const int* t, Input&) { f(h[0], h[1], T(v), t); }}
const Op kOps[] = {
    FZ_OP2(vexCopy),
    {1, [](VexImage** h, int32_t v, const int* t, Input&) { vexSet(h[0], v, t); }},
    FZ_OP2(vexExchange),
    {2, [](VexImage** h, int32_t v, const int* t, Input&) { vexMirror(h[0], h[1], v % 3, t); }},
    FZ_OP3(vexAdd),
    FZ_OPS(vexAddS, int),
    {3, [](VexImage** h, int32_t v, const int* t, Input&) { vexSubtract(h[0], h[1], h[2], v & 1, t); }},
    {2, [](VexImage** h, int32_t v, const int* t, Input&) { vexSubtractS(h[0], h[1], v, v & 2, t); }},
    FZ_OP3(vexMultiply),
    FZ_OPS(vexMultiplyS, unsigned),
    FZ_OP2(vexSquare),
    FZ_OP2(vexAbs),
    FZ_OP3(vexAnd),
    FZ_OP3(vexOr),
    FZ_OP3(vexXor),
    FZ_OPS(vexAndS, unsigned),
    FZ_OPS(vexOrS, unsigned),
    FZ_OPS(vexXorS, unsigned),
    FZ_OP2(vexNot),
    {2, [](VexImage** h, int32_t v, const int* t, Input&) { vexLShiftS(h[0], h[1], unsigned(v) % 40, t); }},
    {2, [](VexImage** h, int32_t v, const int* t, Input&) { vexRShiftS(h[0], h[1], unsigned(v) % 40, t); }},
    FZ_OPS(vexThreshold, int),
    // The header check and the status texts on whatever the input left.
    {1, [](VexImage** h, int32_t v, const int*, Input&) {
         (void)vexBadImageHeader(h[0]);
         volatile size_t n = std::strlen(vexErrorStr(v));
         (void)n;
     }},
    // Headers, regions and tiling records made by the library from any
    // fields, then allocated, filled and released.
    {1, [](VexImage**, int32_t v, const int*, Input& in) {
         VexROI* roi = in.byte() & 1 ? vexCreateROI(in.small(-1, 5), in.small(-3, 40), in.small(-3, 40),
                                                    in.small(-3, 40), in.small(-3, 40))
                                     : nullptr;
         if (roi && (in.byte() & 1))
             vexSetROI(roi, in.small(-1, 5), in.small(-3, 40), in.small(-3, 40), in.small(-3, 40), in.small(-3, 40));
         const int depth = in.byte() & 1 ? int(kDepths[in.byte() % 6]) : in.word();
         VexImage* im = vexCreateImageHeader(in.small(-1, 6), in.small(-1, 6), depth, "RGBA", "BGRA",
                                             in.small(-1, 2), in.small(-1, 2), in.small(0, 9), in.small(-2, 40),
                                             in.small(-2, 40), roi, nullptr, nullptr);
         VexTileInfo* ti = vexCreateTileInfo(in.byte() & 1 ? tileCallback : nullptr, in.small(-1, 3),
                                             in.small(-9, 40), in.small(-9, 40));
         if (ti) {
             vexSetTileInfo(ti, nullptr, v, in.small(-9, 40), in.small(-9, 40));
             vexDeleteTileInfo(ti);
         }
         if (im) {
             vexAllocateImage(im, v);
             if (im->imageData) vexSet(im, v, nullptr);
             vexDeallocate(im, VEX_IMAGE_ALL);
         } else if (roi) {
             vexDeleteROI(roi);
         }
     }},
    // Colour twists refilled after creation; kernels read back.
    {2, [](VexImage** h, int32_t v, const int*, Input& in) {
         int data[16];
         for (int& d : data) d = in.word() >> in.small(0, 31);
         VexColorTwist* tw = vexCreateColorTwist(data, in.small(0, 31));
         for (int& d : data) d = in.word() >> in.small(0, 31);
         vexSetColorTwist(in.byte() % 8 ? tw : nullptr, in.byte() % 8 ? data : nullptr, in.small(-2, 33));
         vexApplyColorTwist(h[0], h[1], tw, v, nullptr);
         vexDeleteColorTwist(tw);
     }},
    {1, [](VexImage**, int32_t v, const int*, Input& in) {
         signed char e[25];
         for (signed char& x : e) x = static_cast<signed char>(in.byte());
         const int rows = in.small(-1, 5), cols = in.small(-1, 5);
         VexConvKernel* k = vexCreateConvKernel(rows, cols, in.small(-1, 5), in.small(-1, 5), e, in.small(-2, 33));
         int r = 0, c = 0, ax = 0, ay = 0, sh = 0;
         signed char* values = nullptr;
         const int mask = v & 0x3F;
         vexGetConvKernel(k, mask & 1 ? nullptr : &r, mask & 2 ? nullptr : &c, mask & 4 ? nullptr : &ax,
                          mask & 8 ? nullptr : &ay, mask & 16 ? nullptr : &values, mask & 32 ? nullptr : &sh);
         volatile int sum = 0;
         if (k && values && vexGetErrStatus() >= 0)
             for (int i = 0; i < r * c; ++i) sum = sum + values[i];
         if (k) vexDeleteConvKernel(k);
     }},

    // (ops: convert)
    {2, [](VexImage** h, int32_t v, const int* t, Input&) {
         const VexMapping m{t ? t[0] * 8 + (v & 7) : 0, t ? t[1] * 8 + (v >> 3 & 7) : 0};
         vexConvert(h[0], h[1], v % 3, t ? &m : nullptr);
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         const VexMapping m{t ? t[0] * 8 : 0, t ? t[1] * 8 : 0};
         vexBitonalToGray(h[0], h[1], v, in.word() >> in.small(0, 31), t ? &m : nullptr);
     }},

    // (ops: color)
    // Colour models: the source's model is set from the input so that the
    // conversions run as often as they refuse.
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         static const char* const kModels[] = {"RGB", "HSV", "HLS", "GRA"};
         if (h[0]) std::memcpy(h[0]->colorSpace, kModels[in.byte() % 4], 3);
         if (h[0] && in.byte() & 1) std::memcpy(h[0]->channelSeq, in.byte() & 1 ? "RGB" : "HLS", 3);
         const VexMapping m{t ? t[0] : 0, t ? t[1] : 0};
         const VexMapping* mp = t ? &m : nullptr;
         switch (unsigned(v) % 6) {
             case 0: vexColorToGray(h[0], h[1], mp); break;
             case 1: vexGrayToColor(h[0], h[1], float(in.small(-2, 4)) / 2, float(in.small(0, 2)), 0.25f, mp); break;
             case 2: vexRGB2HSV(h[0], h[1], mp); break;
             case 3: vexHSV2RGB(h[0], h[1], mp); break;
             case 4: vexRGB2HLS(h[0], h[1], mp); break;
             default: vexHLS2RGB(h[0], h[1], mp); break;
         }
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         static const int kDither[] = {1, 2, 4, 8, 16, 3};
         const VexMapping m{t ? t[0] : 0, t ? t[1] : 0};
         vexReduceBits(h[0], h[1], in.small(-1, 9), kDither[in.byte() % 6], v % 24 - 4, t ? &m : nullptr);
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         int data[16];
         for (int& d : data) d = in.word() >> in.small(0, 31);
         VexColorTwist* tw = vexCreateColorTwist(data, in.small(-1, 32));
         const VexMapping m{t ? t[0] * 8 + in.small(0, 7) : 0, t ? t[1] * 8 : 0};
         vexApplyColorTwist(h[0], h[1], in.byte() % 8 ? tw : nullptr, v, t ? &m : nullptr);
         vexDeleteColorTwist(tw);
     }},

    // (ops: alpha)
    {3, [](VexImage** h, int32_t v, const int* t, Input&) {
         const VexMapping m{v & 63, (v >> 6) & 63};
         vexMultiplyScale(h[0], h[1], h[2], t ? &m : nullptr);
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input&) {
         const VexMapping m{v & 63, (v >> 6) & 63};
         vexMultiplySScale(h[0], h[1], unsigned(v), t ? &m : nullptr);
     }},
    {1, [](VexImage** h, int32_t v, const int* t, Input& in) {
         if (h[0] && (in.byte() & 1)) h[0]->alphaChannel = h[0]->nChannels;
         const VexMapping m{in.small(-8, 70), in.small(-8, 70)};
         vexPreMultiplyAlpha(h[0], v % 70000, t ? &m : nullptr);
     }},
    {5, [](VexImage** h, int32_t v, const int* t, Input& in) {
         const int flags = in.byte();
         for (int k : {0, 1, 4})
             if (h[k] && (flags >> k & 1)) h[k]->alphaChannel = h[k]->nChannels;
         VexImage* alphaDst = (flags & 8) && h[3] != h[4] ? h[3] : nullptr;
         const VexMapping m{in.small(-8, 70), in.small(-8, 70)};
         vexAlphaComposite(h[0], h[1], h[4], in.small(-1, 6), (flags & 4) ? h[2] : nullptr,
                           (flags & 16) ? h[3] : nullptr, alphaDst, in.small(0, 2), in.small(0, 2), t ? &m : nullptr);
         (void)v;
     }},
    {3, [](VexImage** h, int32_t v, const int* t, Input& in) {
         for (int k = 0; k < 3; ++k)
             if (h[k] && (v >> k & 1)) h[k]->alphaChannel = h[k]->nChannels;
         const VexMapping m{in.small(-8, 70), in.small(-8, 70)};
         vexAlphaCompositeC(h[0], h[1], h[2], in.small(0, 6), in.small(-2, 300), in.small(-2, 300), in.small(0, 1),
                            in.small(0, 1), t ? &m : nullptr);
     }},

    // (ops: stats)
    // Records drawn from the input: key count, keys (sorted or not, some
    // beyond the histogram), values, slopes, interpolation; sometimes null.
#define FZ_LUTS                                                                   \
    int keys[8][6], values[8][6], factors[6];                                     \
    VexLUT rec[8];                                                                \
    VexLUT* luts[8];                                                              \
    for (int k = 0; k < 8; ++k) {                                                 \
        const int num = in.small(-1, 6);                                          \
        for (int j = 0; j < 6; ++j)                                               \
            keys[k][j] = in.small(0, 3) == 0 ? in.word() : in.small(0, 255) * 257 / (in.small(0, 1) ? 257 : 1); \
        for (int j = 0; j < 6; ++j) values[k][j] = in.word(), factors[j] = in.small(-9, 9); \
        rec[k] = VexLUT{num, keys[k], values[k], factors, in.small(0, 1)};        \
        luts[k] = in.small(0, 15) == 0 ? nullptr : &rec[k];                       \
    }
    {1, [](VexImage** h, int32_t, const int* t, Input& in) { FZ_LUTS vexComputeHisto(h[0], luts, t); }},
    {2, [](VexImage** h, int32_t, const int* t, Input& in) { FZ_LUTS vexContrastStretch(h[0], h[1], luts, t); }},
    {2, [](VexImage** h, int32_t, const int* t, Input& in) { FZ_LUTS vexHistoEqualize(h[0], h[1], luts, t); }},
    {2, [](VexImage** h, int32_t v, const int*, Input&) { (void)vexNorm(h[0], (v & 16) ? nullptr : h[1], v & 15); }},
#undef FZ_LUTS

    // (ops: filter)
    {2, [](VexImage** h, int32_t v, const int*, Input& in) {
         // One to three kernels with sizes, anchors and shifts from the input
         // (some refused at creation, then passed on as null).
         VexConvKernel* k[3] = {};
         const int n = in.small(1, 3);
         for (int i = 0; i < n; ++i) {
             signed char e[25];
             for (signed char& x : e) x = static_cast<signed char>(in.byte());
             const int rows = in.small(0, 5), cols = in.small(0, 5);
             k[i] = vexCreateConvKernel(rows, cols, in.small(-1, cols), in.small(-1, rows), e, in.small(-2, 40));
         }
         const VexMapping map{in.small(-2, 40), in.small(-2, 40)};
         vexConvolve2D(h[0], h[1], k, n, in.small(-1, 5), v & 1 ? &map : nullptr);
         for (VexConvKernel* x : k)
             if (x) vexDeleteConvKernel(x);
     }},
    {2, [](VexImage** h, int32_t, const int*, Input& in) {
         // Hand-made records: anchors and shifts unchecked by the operation.
         signed char e[2][25];
         for (auto& row : e)
             for (signed char& x : row) x = static_cast<signed char>(in.byte());
         VexConvKernel kx{in.small(-1, 5), in.small(-1, 5), in.small(-8, 8), in.small(-8, 8), in.small(-40, 40), e[0]};
         VexConvKernel ky{in.small(-1, 5), in.small(-1, 5), in.small(-8, 8), in.small(-8, 8), in.small(-40, 40), e[1]};
         vexConvolveSep2D(h[0], h[1], in.small(0, 7) ? &kx : nullptr, in.small(0, 7) ? &ky : nullptr);
     }},
    {2, [](VexImage** h, int32_t, const int*, Input& in) {
         vexBlur(h[0], h[1], in.small(-1, 7), in.small(-1, 7), in.small(-1, 9), in.small(-1, 9));
     }},
    {2, [](VexImage** h, int32_t v, const int*, Input& in) {
         const VexMapping map{in.small(-2, 40), in.small(-2, 40)};
         using Rank = void (*)(VexImage*, VexImage*, int, int, int, int, const VexMapping*);
         static const Rank kRank[3] = {vexMaxFilter, vexMinFilter, vexMedianFilter};
         kRank[unsigned(v) % 3](h[0], h[1], in.small(-1, 7), in.small(-1, 7), in.small(-1, 7), in.small(-1, 7),
                                v & 4 ? &map : nullptr);
     }},

    // (ops: morph)
#define FZ_MORPH(f) {2, [](VexImage** h, int32_t v, const int*, Input&) { \
        const VexMapping m{0, 0};                                         \
        f(h[0], h[1], (v & 3) - 1, (v & 4) ? &m : nullptr);               \
    }}
    FZ_MORPH(vexErode), FZ_MORPH(vexDilate), FZ_MORPH(vexOpen), FZ_MORPH(vexClose),
#undef FZ_MORPH

    // (ops: geom)
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         const int xU = in.small(-1, 6), xL = in.small(-1, 4), yU = in.small(-1, 6), yL = in.small(-1, 4);
         vexZoom(h[0], h[1], xU, xL, yU, yL, v % 4, reinterpret_cast<const VexMapping*>(t));
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         const int xU = in.small(-1, 4), xL = in.small(-1, 9), yU = in.small(-1, 4), yL = in.small(-1, 9);
         vexDecimate(h[0], h[1], xU, xL, yU, yL, v % 4, reinterpret_cast<const VexMapping*>(t));
     }},
    {2, [](VexImage** h, int32_t v, const int* t, Input& in) {
         const int angle = v & 1 ? 9000 * in.small(-4, 4) : v;
         const int xS = in.small(-30, 30), yS = in.small(-30, 30);
         vexRotate(h[0], h[1], angle, xS, yS, in.small(-1, 3), reinterpret_cast<const VexMapping*>(t));
     }},

    // (ops: transform)
    {2, [](VexImage** h, int32_t v, const int*, Input&) { vexRealFft2D(h[0], h[1], v & 0x1FF, nullptr); }},
    {2, [](VexImage** h, int32_t v, const int*, Input&) { vexCcsFft2D(h[0], h[1], v & 0x1FF, nullptr); }},
    {2, [](VexImage** h, int32_t v, const int*, Input&) { vexDCT2D(h[0], h[1], v & 0xF); }},
};
constexpr int kOpCount = int(sizeof kOps / sizeof kOps[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(silent);
    vexSetErrStatus(VEX_StsOk);
    Input in{data, size};
    // FUZZ_OPS=FIRST-LAST keeps a run to a range of kOps entries (one
    // family at a time): inputs that pick another entry are refused, so the
    // inputs such a run keeps pick the same entry in any other run.
    static const std::pair<int, int> range = [] {
        int lo = 0, hi = kOpCount - 1;
        if (const char* r = getenv("FUZZ_OPS")) {
            if (sscanf(r, "%d-%d", &lo, &hi) != 2 || lo < 0 || hi >= kOpCount || lo > hi) lo = 0, hi = kOpCount - 1;
        }
        return std::make_pair(lo, hi);
    }();
    const int op = in.byte() % kOpCount;
    if (op < range.first || op > range.second) return -1;
    const int count = kOps[op].images;
    constexpr int kMaxImages = 5;
    Img images[kMaxImages];
    VexImage* h[kMaxImages] = {};
    const unsigned depth = kDepths[in.byte() % 6];
    for (int k = 0; k < count; ++k) {
        if (k > 0 && in.byte() % 5 == 0) {  // the same image again
            h[k] = h[k - 1];
            continue;
        }
        makeImage(in, images[k], in.byte() % 4 ? depth : kDepths[in.byte() % 6]);
        h[k] = images[k].h;
    }
    VexImage saved[kMaxImages] = {};
    for (int k = 0; k < count; ++k)
        if (h[k]) saved[k] = *h[k];
    const int victim = in.byte() % 4;
    if (victim < count && h[victim]) breakField(in, h[victim]);
    const int32_t v = in.word();
    const int sel[2] = {in.small(-1, 3), in.small(-1, 3)};
    const int* tile = in.byte() & 1 ? sel : nullptr;
    if (getenv("FUZZ_TRACE")) {
        fprintf(stderr, "op %d count %d victim %d v %d tile %s %d %d\n", op, count, victim, v, tile ? "yes" : "no", sel[0], sel[1]);
        for (int k = 0; k < count; ++k) if (h[k]) fprintf(stderr, " im%d d=%x ch=%d ord=%d al=%d %dx%d tiled=%d tw=%d th=%d roi=%d (%d,%d,%d,%d,%d) ds=%d bm=%d,%d,%d,%d\n", k, h[k]->depth, h[k]->nChannels, h[k]->dataOrder, h[k]->align, h[k]->height, h[k]->width, h[k]->tileInfo != 0, h[k]->tileInfo ? h[k]->tileInfo->width : 0, h[k]->tileInfo ? h[k]->tileInfo->height : 0, h[k]->roi != 0, h[k]->roi ? h[k]->roi->coi : 0, h[k]->roi ? h[k]->roi->xOffset : 0, h[k]->roi ? h[k]->roi->yOffset : 0, h[k]->roi ? h[k]->roi->height : 0, h[k]->roi ? h[k]->roi->width : 0, h[k]->dataSize, h[k]->borderMode[0], h[k]->borderMode[1], h[k]->borderMode[2], h[k]->borderMode[3]);
    }
    kOps[op].call(h, v, tile, in);
    for (int k = count - 1; k >= 0; --k)
        if (h[k]) *h[k] = saved[k];
    // Read every byte the operation may have written.
    volatile unsigned sum = 0;
    for (auto& im : images) {
        if (im.data) for (int i = 0; i < im.h->dataSize; ++i) sum = sum + uint8_t(im.data[i]);
        for (char* t : im.store.tiles)
            for (int i = 0; i < im.store.bytes; ++i) sum = sum + uint8_t(t[i]);
    }
    for (auto& im : images) release(im);
    g_stores.clear();
    return 0;
}
