// Morphology with the 3x3 square: erosion (minimum), dilation (maximum),
// opening (erosion then dilation) and closing (dilation then erosion).
//
// One row engine serves all four. It is handed the operation as a pair of
// operators (one for a single pixel from its nine samples, one for a run of
// pixels over three rows), so erosion and dilation share all traversal,
// buffering and border code.
//
// The frame: before the first pass the engine saves, from the source image,
// the one-sample ring just outside the working rectangle (the row above, the
// row below, the columns left and right, corners included). Inside the
// source image these are real pixels, also outside its ROI; beyond the image
// the border-extended readers supply them by the source's border modes and
// constants. Every pass sees this same saved ring around the rectangle, so a
// second pass of an ROI inside a larger image still reads the untouched
// source pixels around it.
//
// Each pass sees three input rows (above, the row, below), each with the
// ring samples at both ends. Where the output may overlap the input (in
// place, and every pass after the first) an input row is copied into the
// engine's buffers before the output row that overlaps it is written, so the
// destination may be the source image; a first pass into another image reads
// the rows where they lie.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "image/ownmove.h"
#include "image/ownsimd.h"

namespace vex {
namespace {

enum class OwnMorphKind { Erode, Dilate, Open, Close };

// ---------------------------------------------------------------------------
// The operators. Samples of 1U rows are held as bytes 0/1 in the engine's
// buffers; their operators work on the packed 9-bit neighbourhood mask (bit 8
// the top-left sample, bit 0 the bottom-right one).

template <class T>
struct OwnMinOp {
    static T pick(T a, T b) { return a < b ? a : b; }
};
template <class T>
struct OwnMaxOp {
    static T pick(T a, T b) { return a > b ? a : b; }
};

// Vertical then horizontal pick over a run: v[e] = op of the three rows,
// out[k] = op(v[k - px], v[k], v[k + px]) for k in [px, n - px).
template <class T, class Op>
inline void ownPickRunT(const T* __restrict a, const T* __restrict b, const T* __restrict c,
                        T* __restrict v, T* __restrict out, int n, int px) {
    for (int e = 0; e < n; ++e) v[e] = Op::pick(Op::pick(a[e], b[e]), c[e]);
    for (int k = px; k < n - px; ++k) out[k] = Op::pick(Op::pick(v[k - px], v[k]), v[k + px]);
}

OWN_CLONES void ownMinRun(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint8_t* v,
                          uint8_t* out, int n, int px) {
    ownPickRunT<uint8_t, OwnMinOp<uint8_t>>(a, b, c, v, out, n, px);
}
OWN_CLONES void ownMaxRun(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint8_t* v,
                          uint8_t* out, int n, int px) {
    ownPickRunT<uint8_t, OwnMaxOp<uint8_t>>(a, b, c, v, out, n, px);
}
OWN_CLONES void ownMinRun(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* v,
                          uint16_t* out, int n, int px) {
    ownPickRunT<uint16_t, OwnMinOp<uint16_t>>(a, b, c, v, out, n, px);
}
OWN_CLONES void ownMaxRun(const uint16_t* a, const uint16_t* b, const uint16_t* c, uint16_t* v,
                          uint16_t* out, int n, int px) {
    ownPickRunT<uint16_t, OwnMaxOp<uint16_t>>(a, b, c, v, out, n, px);
}

// Erosion and dilation of 8U and 16U samples.
template <class T, bool kErode>
struct OwnRankPair {
    using Op = typename std::conditional<kErode, OwnMinOp<T>, OwnMaxOp<T>>::type;
    static T pixel(const T* nine) {
        T r = nine[0];
        for (int i = 1; i < 9; ++i) r = Op::pick(r, nine[i]);
        return r;
    }
    static void run(const T* a, const T* b, const T* c, T* v, T* out, int n, int px) {
        if (kErode)
            ownMinRun(a, b, c, v, out, n, px);
        else
            ownMaxRun(a, b, c, v, out, n, px);
    }
};

// Erosion and dilation of 1U samples by their 9-bit masks: erosion keeps a
// pixel only when the mask is 511 (all nine set), dilation sets it when any
// bit is set.
template <bool kErode>
struct OwnMaskPair {
    static uint8_t decide(unsigned mask) { return kErode ? mask == 511u : mask != 0u; }
    static uint8_t pixel(const uint8_t* nine) {
        unsigned mask = 0;
        for (int i = 0; i < 9; ++i) mask = (mask << 1) | (nine[i] & 1u);
        return decide(mask);
    }
    static void run(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint8_t*, uint8_t* out,
                    int n, int) {
        // The mask slides one column at a time: three columns of three bits.
        auto column = [&](int e) { return unsigned(a[e] << 2 | b[e] << 1 | c[e]); };
        unsigned mask = column(0) << 3 | column(1);
        for (int k = 1; k < n - 1; ++k) {
            mask = ((mask << 3) | column(k + 1)) & 511u;
            out[k] = decide(mask);
        }
    }
};

// ---------------------------------------------------------------------------
// Lanes: where one group of interleaved samples lives in an image. A group is
// every channel of a pixel-order image (px = nChannels samples per pixel,
// contiguous), or one channel (px = 1) stepping by `stride` elements.

struct OwnMorphLane {
    char* base;      // first element of the region (1U: byte of the first bit)
    int64_t step;    // bytes between rows
    int stride;      // elements between consecutive samples
    int bit;         // 1U: bit of the first pixel, 0 = MSB
};

template <class T>
void ownLoadRow(const OwnMorphLane& l, int y, T* dst, int n) {
    const char* row = l.base + l.step * y;
    if (l.bit >= 0) {  // 1U
        const auto* p = reinterpret_cast<const unsigned char*>(row);
        for (int i = 0; i < n; ++i) {
            const int64_t b = l.bit + int64_t(i) * l.stride;
            dst[i] = T((p[b >> 3] >> (7 - (b & 7))) & 1);
        }
        return;
    }
    const T* s = reinterpret_cast<const T*>(row);
    if (l.stride == 1) {
        std::memcpy(dst, s, size_t(n) * sizeof(T));
        return;
    }
    for (int i = 0; i < n; ++i) dst[i] = s[int64_t(i) * l.stride];
}

template <class T>
void ownStoreRow(const OwnMorphLane& l, int y, const T* src, int n) {
    char* row = l.base + l.step * y;
    if (l.bit >= 0) {  // 1U
        auto* p = reinterpret_cast<unsigned char*>(row);
        for (int i = 0; i < n; ++i) {
            const int64_t b = l.bit + int64_t(i) * l.stride;
            const unsigned char m = static_cast<unsigned char>(0x80u >> (b & 7));
            if (src[i])
                p[b >> 3] |= m;
            else
                p[b >> 3] &= static_cast<unsigned char>(~m);
        }
        return;
    }
    T* d = reinterpret_cast<T*>(row);
    if (l.stride == 1) {
        std::memcpy(d, src, size_t(n) * sizeof(T));
        return;
    }
    for (int i = 0; i < n; ++i) d[int64_t(i) * l.stride] = src[i];
}

// The saved ring of one group: rows of W + 2 pixels above and below
// (corners included), columns of H pixels left and right; px samples each.
template <class T>
struct OwnRing {
    T* top;
    T* bottom;
    T* left;
    T* right;
};

// Working memory of one group: ring, three input rows, the vertical scratch
// and an output row, carved from one vexMalloc block.
template <class T>
struct OwnMorphBuffers {
    void* block = nullptr;
    OwnRing<T> ring{};
    T* rows[3]{};
    T* scratch = nullptr;
    T* out = nullptr;
    unsigned char* fetch = nullptr;  // one border run in the image's depth

    bool allocate(int W, int H, int px) {
        const int64_t rowLen = int64_t(W + 2) * px;
        const int64_t colLen = int64_t(H) * px;
        const int64_t elems = 2 * rowLen + 2 * colLen + 3 * rowLen + 2 * rowLen;
        const int64_t fetchBytes = (int64_t(std::max(W, H)) + 2) * 4 + 8;
        const int64_t bytes = elems * int64_t(sizeof(T)) + fetchBytes + 64;
        if (bytes > INT32_MAX) return false;
        block = vexMalloc(static_cast<int>(bytes));
        if (!block) return false;
        T* p = static_cast<T*>(block);
        ring.top = p, p += rowLen;
        ring.bottom = p, p += rowLen;
        ring.left = p, p += colLen;
        ring.right = p, p += colLen;
        for (T*& r : rows) r = p, p += rowLen;
        scratch = p, p += rowLen;
        out = p, p += rowLen;
        fetch = reinterpret_cast<unsigned char*>(p);
        return true;
    }
    ~OwnMorphBuffers() { vexFree(block); }
};

// Reads sample i of a border run in the image's depth.
inline int ownRunSample(const unsigned char* run, unsigned depth, int i) {
    if (depth == VEX_DEPTH_1U) return (run[i >> 3] >> (7 - (i & 7))) & 1;
    if (ownElemSize(depth) == 2) {
        uint16_t v;
        std::memcpy(&v, run + 2 * i, 2);
        return v;
    }
    return run[i];
}

// Fetches the ring of channels c0 .. c0 + px - 1 (1-based) around the
// rectangle (x, y, W, H) of `src` through the border-extended readers.
// False when a tile of a tiled source was not delivered.
template <class T>
bool ownFetchRing(const VexImage* src, int x, int y, int W, int H, int c0, int px,
                  OwnMorphBuffers<T>& b) {
    for (int k = 0; k < px; ++k) {
        const int c = c0 + k;
        auto spread = [&](T* dst, int n) {
            for (int i = 0; i < n; ++i) dst[int64_t(i) * px + k] = T(ownRunSample(b.fetch, src->depth, i));
        };
        if (!ownGetBorderRow(src, x - 1, y - 1, c, W + 2, b.fetch)) return false;
        spread(b.ring.top, W + 2);
        if (!ownGetBorderRow(src, x - 1, y + H, c, W + 2, b.fetch)) return false;
        spread(b.ring.bottom, W + 2);
        if (!ownGetBorderColumn(src, x - 1, y, c, H, b.fetch)) return false;
        spread(b.ring.left, H);
        if (!ownGetBorderColumn(src, x + W, y, c, H, b.fetch)) return false;
        spread(b.ring.right, H);
    }
    return true;
}

// One pass: out = Pair(in) over W x H pixels of px samples each, with the
// saved ring as the neighbourhood of the edge pixels.
// One input row as a pass sees it: its pixels and its two ring samples.
template <class T>
struct OwnRowView {
    const T* mid;    // pixel 0 (px samples per pixel)
    const T* left;   // the pixel left of it
    const T* right;  // the pixel right of pixel W - 1
};

// One pass: out = Pair(in) over W x H pixels of px samples each, with the
// saved ring as the neighbourhood of the edge pixels. When the input is a
// run of samples that the output cannot overlap (a first pass into another
// image), rows are read where they lie; otherwise (in place, and every
// further pass) each input row is copied into the engine's buffers before
// the output row that overlaps it is written.
template <class T, class Pair>
void ownMorphPass(const OwnMorphLane& in, const OwnMorphLane& out, int W, int H, int px,
                  OwnMorphBuffers<T>& b) {
    const int n = W * px;  // samples of one row without the ring
    const bool direct = in.bit < 0 && in.stride == 1 && in.base != out.base;
    const bool outDirect = out.bit < 0 && out.stride == 1;
    auto ringRow = [&](const T* r) { return OwnRowView<T>{r + px, r, r + int64_t(W + 1) * px}; };
    auto view = [&](T* buffer, int yy) {
        if (yy < 0) return ringRow(b.ring.top);
        if (yy >= H) return ringRow(b.ring.bottom);
        const T* left = b.ring.left + int64_t(yy) * px;
        const T* right = b.ring.right + int64_t(yy) * px;
        if (direct) return OwnRowView<T>{reinterpret_cast<const T*>(in.base + in.step * yy), left, right};
        ownLoadRow(in, yy, buffer, n);
        return OwnRowView<T>{buffer, left, right};
    };
    T* buffers[3] = {b.rows[0], b.rows[1], b.rows[2]};
    OwnRowView<T> rows[3] = {view(buffers[0], -1), view(buffers[1], 0), view(buffers[2], 1)};
    T nine[9];
    for (int y = 0; y < H; ++y) {
        T* o = outDirect ? reinterpret_cast<T*>(out.base + out.step * y) : b.out;
        if (W > 2) Pair::run(rows[0].mid, rows[1].mid, rows[2].mid, b.scratch, o, n, px);
        // The first and last pixels from their nine samples.
        for (int x : {0, W - 1}) {
            for (int k = 0; k < px; ++k) {
                int i = 0;
                for (const OwnRowView<T>& r : rows)
                    for (int col = x - 1; col <= x + 1; ++col)
                        nine[i++] = col < 0 ? r.left[k] : col >= W ? r.right[k] : r.mid[int64_t(col) * px + k];
                o[int64_t(x) * px + k] = Pair::pixel(nine);
            }
            if (W == 1) break;
        }
        if (!outDirect) ownStoreRow(out, y, b.out, n);
        T* t = buffers[0];
        buffers[0] = buffers[1], buffers[1] = buffers[2], buffers[2] = t;
        rows[0] = rows[1], rows[1] = rows[2];
        rows[2] = view(buffers[2], y + 2);
    }
}

// A group's passes: the first reads `src`, every further one the output.
template <class T, class Erode, class Dilate>
bool ownMorphGroup(const VexImage* ringImage, int rx, int ry, int c0, const OwnMorphLane& src,
                   const OwnMorphLane& out, int W, int H, int px, OwnMorphKind kind,
                   int nIterations, bool* tileFailed) {
    OwnMorphBuffers<T> b;
    if (!b.allocate(W, H, px)) {
        vexSetErrStatus(VEX_StsNoMem);  // read by the caller
        return false;
    }
    if (!ownFetchRing(ringImage, rx, ry, W, H, c0, px, b)) {
        *tileFailed = true;
        return false;
    }
    const OwnMorphLane* in = &src;
    auto pass = [&](bool erode) {
        if (erode)
            ownMorphPass<T, Erode>(*in, out, W, H, px, b);
        else
            ownMorphPass<T, Dilate>(*in, out, W, H, px, b);
        in = &out;
    };
    for (int64_t k = 0; k < nIterations; ++k) {
        switch (kind) {
            case OwnMorphKind::Erode: pass(true); break;
            case OwnMorphKind::Dilate: pass(false); break;
            case OwnMorphKind::Open: pass(true), pass(false); break;
            case OwnMorphKind::Close: pass(false), pass(true); break;
        }
    }
    return true;
}

int ownMorphChannels(const VexImage* image) {
    return image->roi && image->roi->coi > 0 ? 1 : image->nChannels;
}

// The lane of region `r` for group `g` (plane order: one group per plane).
OwnMorphLane ownGroupLane(const OwnRegion& r, unsigned depth, int g) {
    OwnMorphLane l{r.first, r.step, 1, depth == VEX_DEPTH_1U ? r.bitOffset : -1};
    if (r.plane)
        l.base += r.planeSize * g;
    else if (r.coi > 0)
        l.stride = r.nChannels;
    return l;
}

// True when the two untiled images share memory in a way the row buffers do
// not cover: any overlap other than the very same region of the same layout.
bool ownNeedsSnapshot(const VexImage* src, const VexImage* dst, const OwnRegion& rs,
                      const OwnRegion& rd) {
    const char* s0 = src->imageData;
    const char* d0 = dst->imageData;
    const bool overlap = s0 < d0 + dst->dataSize && d0 < s0 + src->dataSize;
    if (!overlap) return false;
    const bool same = s0 == d0 && rs.first == rd.first && rs.bitOffset == rd.bitOffset &&
                      rs.step == rd.step && rs.planeSize == rd.planeSize &&
                      rs.nChannels == rd.nChannels && rs.coi == rd.coi && rs.plane == rd.plane;
    return !same;
}

void ownCopyBackBody(VexImage* src, VexImage* dst, void*) {
    OwnRegion rs, rd;
    ownGetRegion(src, &rs);
    ownGetRegion(dst, &rd);
    ownCopyRegion(rs, rd, std::min(rs.rows, rd.rows), std::min(rs.cols, rd.cols), dst->depth);
}

void ownMorph(const OwnSite& site, OwnMorphKind kind, VexImage* srcImage, VexImage* dstImage,
              int nIterations, const VexMapping* mapping) {
    OWN_CHECK(site, srcImage == nullptr, "Null SRC image header");
    OWN_CHECK(site, dstImage == nullptr, "Null DST image header");
    OWN_CHECK(site, (srcImage->imageData != nullptr) == (srcImage->tileInfo != nullptr),
              "Specify exactly SRC image mode (non-tile/tile)");
    OWN_CHECK(site, (dstImage->imageData != nullptr) == (dstImage->tileInfo != nullptr),
              "Specify exactly DST image mode (non-tile/tile)");
    const VexTileInfo* st = srcImage->tileInfo;
    const VexTileInfo* dt = dstImage->tileInfo;
    OWN_CHECK(site, st && (!st->callBack || st->width < 1 || st->height < 1),
              "Illegal SRC tile info contents");
    OWN_CHECK(site, dt && (!dt->callBack || dt->width < 1 || dt->height < 1),
              "Illegal DST tile info contents");
    OWN_CHECK(site, nIterations <= 0, "Illegal number of of iterations");
    OWN_CHECK(site, mapping != nullptr, "Mapping must be NULL");
    OWN_CHECK(site, vexBadImageHeader(srcImage) != 0, "Illegal SRC image header contents");
    OWN_CHECK(site, vexBadImageHeader(dstImage) != 0, "Illegal DST image header contents");
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "SRC and DST depth are not compatible");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "SRC and DST order are not compatible");
    OWN_CHECK(site, srcImage->origin != dstImage->origin, "SRC and DST orign are not compatible");
    const int channels = ownMorphChannels(srcImage);
    OWN_CHECK(site, channels != ownMorphChannels(dstImage),
              "SRC and DST number of channels are not compatible");

    int sx, sy, scols, srows, dx, dy, dcols, drows;
    ownClipRegion(srcImage, &sx, &sy, &scols, &srows);
    ownClipRegion(dstImage, &dx, &dy, &dcols, &drows);
    const int W = std::min(scols, dcols), H = std::min(srows, drows);
    vexSetErrStatus(VEX_StsOk);
    if (W <= 0 || H <= 0) {
        vexSetErrStatus(VEX_StsOk);
        return;
    }
    const unsigned depth = srcImage->depth;
    const bool supported = depth == VEX_DEPTH_8U || depth == VEX_DEPTH_16U ||
                           (depth == VEX_DEPTH_1U && channels == 1);
    if (!supported) return;  // nothing to do for the other depths

    // Untiled views of the rectangles: the source read in place unless it is
    // tiled or shares memory with the destination in another arrangement
    // (then a snapshot of its rectangle is gathered first); the destination
    // written in place unless tiled (then a buffer copied into the tiles at
    // the end).
    const int srcCoi = ownCoi(srcImage), dstCoi = ownCoi(dstImage);
    VexROI srcRoi{srcCoi, sx, sy, H, W}, dstRoi{dstCoi, dx, dy, H, W};
    VexImage srcView = *srcImage, dstView = *dstImage;
    srcView.roi = &srcRoi;
    dstView.roi = &dstRoi;
    OwnRegion rs, rd;
    char* snapshot = nullptr;
    char* outBuffer = nullptr;
    struct Free {
        char** p;
        ~Free() { vexFree(*p); }
    } freeSnap{&snapshot}, freeOut{&outBuffer};
    bool gather = srcImage->tileInfo != nullptr;
    if (!gather && !dstImage->tileInfo) {
        ownGetRegion(&srcView, &rs);
        ownGetRegion(&dstView, &rd);
        gather = ownNeedsSnapshot(srcImage, dstImage, rs, rd);
    }
    if (gather) {
        int step = 0;
        snapshot = ownGetRect(site, srcImage, sx, sy, W, H, &step);
        if (!snapshot) return;  // reported by the gathering
        srcView = ownRectHeader(srcImage, snapshot, W, H);
        srcRoi = VexROI{srcCoi, 0, 0, H, W};
        srcView.roi = &srcRoi;
    }
    if (dstImage->tileInfo) {
        const int64_t size = ownDataSize(H, W, depth, dstImage->nChannels, dstImage->dataOrder,
                                         dstImage->align);
        outBuffer = size <= INT32_MAX - 64 ? static_cast<char*>(vexMalloc(int(size))) : nullptr;
        if (!outBuffer) {
            vexError(VEX_StsNoMem, site.func, "Not enough memory", site.file, __LINE__);
            return;
        }
        std::memset(outBuffer, 0, size_t(size));
        dstView = ownRectHeader(dstImage, outBuffer, W, H);
        dstRoi = VexROI{dstCoi, 0, 0, H, W};
        dstView.roi = &dstRoi;
    }
    ownGetRegion(&srcView, &rs);
    ownGetRegion(&dstView, &rd);

    // Groups: all channels of a pixel-order image together, else one
    // channel (the channel of interest, or each plane in turn).
    const bool interleaved = srcImage->dataOrder == VEX_DATA_ORDER_PIXEL && srcCoi == 0;
    const int px = interleaved ? srcImage->nChannels : 1;
    const int groups = interleaved ? 1 : channels;
    bool tileFailed = false, ok = true;
    for (int g = 0; g < groups && ok; ++g) {
        const OwnMorphLane in = ownGroupLane(rs, depth, g);
        const OwnMorphLane out = ownGroupLane(rd, depth, g);
        const int c0 = srcCoi > 0 ? srcCoi : 1 + g;
        if (depth == VEX_DEPTH_8U)
            ok = ownMorphGroup<uint8_t, OwnRankPair<uint8_t, true>, OwnRankPair<uint8_t, false>>(
                srcImage, sx, sy, c0, in, out, W, H, px, kind, nIterations, &tileFailed);
        else if (depth == VEX_DEPTH_16U)
            ok = ownMorphGroup<uint16_t, OwnRankPair<uint16_t, true>, OwnRankPair<uint16_t, false>>(
                srcImage, sx, sy, c0, in, out, W, H, px, kind, nIterations, &tileFailed);
        else
            ok = ownMorphGroup<uint8_t, OwnMaskPair<true>, OwnMaskPair<false>>(
                srcImage, sx, sy, c0, in, out, W, H, px, kind, nIterations, &tileFailed);
    }
    if (tileFailed) {
        vexError(VEX_StsError, site.func, kErrTileRead, site.file, __LINE__);
        return;
    }
    if (vexGetErrStatus() != 0) {
        vexError(VEX_StsNoMem, site.func, "Not enough memory", site.file, __LINE__);
        return;
    }
    if (dstImage->tileInfo) {
        ownWalkPair(site, &dstView, dstImage, nullptr, ownCopyBackBody, nullptr);
        if (vexGetErrStatus() < 0) return;  // a tile not delivered, reported
    }
    vexSetErrStatus(VEX_StsOk);
}

const OwnSite kErode{"vexErode", "vexErode"};
const OwnSite kDilate{"vexDilate", "vexDilate"};
const OwnSite kOpen{"vexOpen", "vexOpen"};
const OwnSite kClose{"vexClose", "vexClose"};

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" {

VEXAPI void vexErode(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping) {
    ownMorph(kErode, OwnMorphKind::Erode, srcImage, dstImage, nIterations, mapping);
}

VEXAPI void vexDilate(VexImage* srcImage, VexImage* dstImage, int nIterations,
                      const VexMapping* mapping) {
    ownMorph(kDilate, OwnMorphKind::Dilate, srcImage, dstImage, nIterations, mapping);
}

VEXAPI void vexOpen(VexImage* srcImage, VexImage* dstImage, int nIterations,
                    const VexMapping* mapping) {
    ownMorph(kOpen, OwnMorphKind::Open, srcImage, dstImage, nIterations, mapping);
}

VEXAPI void vexClose(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping) {
    ownMorph(kClose, OwnMorphKind::Close, srcImage, dstImage, nIterations, mapping);
}

}  // extern "C"
