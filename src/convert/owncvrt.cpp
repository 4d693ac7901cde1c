// Depth conversion kernels and the whole-image walk of vexConvert and
// vexBitonalToGray.
#include "owncvrt.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "arith/ownpixel.h"
#include "frame/ownframe.h"
#include "image/ownrect.h"
#include "image/ownsimd.h"

namespace vex {

const char kCvtNoDstTile[] = "(dstImage->tileInfo->tileData == NULL)";
const char kCvtNoSrcTile[] = "(srcImage->tileInfo->tileData == NULL)";

namespace {

// ---------------------------------------------------------------------------
// The value rule of one depth pair. Nothing saturates: widening re-centres
// between signed and unsigned ranges, narrowing selects bits.
//   - equal or greater width: unsigned to signed subtracts half the source
//     range, signed to unsigned adds it, equal signedness extends;
//   - 16U to 8 bits: the high byte (Mode 1, scaling) or the low byte (Mode 0,
//     truncation), less 128 for 8S;
//   - signed to narrower: Mode 1 divides by 2^s rounding toward zero; Mode 0
//     keeps the sign and the low b bits (b = destination bits - 1); an
//     unsigned destination then adds half its range.
template <class S, class D, int Mode>
struct OwnCvtRule {
    static constexpr int kSrcBits = int(sizeof(S)) * 8;
    static constexpr int kDstBits = int(sizeof(D)) * 8;
    static constexpr bool kSrcSigned = std::is_signed<S>::value;
    static constexpr bool kDstSigned = std::is_signed<D>::value;

    static inline D apply(S v) {
        if constexpr (kDstBits >= kSrcBits) {
            if constexpr (!kSrcSigned && kDstSigned)
                return D(int32_t(v) - (int32_t(1) << (kSrcBits - 1)));
            else if constexpr (kSrcSigned && !kDstSigned)
                return D(int32_t(v) + (int32_t(1) << (kSrcBits - 1)));
            else
                return D(v);
        } else if constexpr (!kSrcSigned) {
            const uint32_t r = Mode ? uint32_t(v) >> 8 : uint32_t(v) & 0xFFu;
            if constexpr (kDstSigned)
                return D(int32_t(r) - 128);
            else
                return D(r);
        } else {
            constexpr int kShift = kSrcBits - kDstBits;
            constexpr int32_t kLow = (int32_t(1) << (kDstBits - 1)) - 1;
            const int32_t x = int32_t(v);
            const int32_t sign = x >> 31;  // 0 or -1
            int32_t r;
            if constexpr (Mode)
                r = (x + (sign & ((int32_t(1) << kShift) - 1))) >> kShift;
            else
                r = (x & kLow) | (sign & ~kLow);
            if constexpr (kDstSigned)
                return D(r);
            else
                return D(r + kLow + 1);
        }
    }
};

// Contiguous runs: the loop the vectoriser turns into widening and packing
// instructions (AVX2 in the clone that has it). Long runs (a whole image
// without row padding) are written past the cache (ownStreamRun).
template <class R, class S, class D>
OWN_CLONES void ownCvtContig(const S* __restrict s, D* __restrict d, int64_t n) {
    ownStreamRun(d, n, [&](int64_t i) { return R::apply(s[i]); });
}

// n elements, each side stepping by its own increment (in elements).
template <class S, class D, int Mode>
void ownCvtRun(const void* sv, int64_t sInc, void* dv, int64_t dInc, int64_t n) {
    using R = OwnCvtRule<S, D, Mode>;
    const S* s = static_cast<const S*>(sv);
    D* d = static_cast<D*>(dv);
    if (sInc == 1 && dInc == 1) {
        ownCvtContig<R>(s, d, n);
        return;
    }
    for (int64_t i = 0; i < n; ++i) d[i * dInc] = R::apply(s[i * sInc]);
}

// Pixel by pixel, all channels of a pixel before the next pixel.
template <class S, class D, int Mode>
void ownCvtPixels(const char* s, int sPix, int64_t sChan, char* d, int dPix, int64_t dChan,
                  int nCh, int64_t cols) {
    using R = OwnCvtRule<S, D, Mode>;
    for (int64_t j = 0; j < cols; ++j) {
        const char* sp = s + j * sPix * int64_t(sizeof(S));
        char* dp = d + j * dPix * int64_t(sizeof(D));
        for (int k = 0; k < nCh; ++k) {
            S v;
            std::memcpy(&v, sp + k * sChan, sizeof v);
            const D r = R::apply(v);
            std::memcpy(dp + k * dChan, &r, sizeof r);
        }
    }
}

struct OwnCvtFns {
    void (*run)(const void* s, int64_t sInc, void* d, int64_t dInc, int64_t n);
    void (*pixels)(const char* s, int sPix, int64_t sChan, char* d, int dPix, int64_t dChan,
                   int nCh, int64_t cols);
};

template <class S, class D, int Mode>
constexpr OwnCvtFns ownCvtFns() {
    return {ownCvtRun<S, D, Mode>, ownCvtPixels<S, D, Mode>};
}

// [mode][source depth][destination depth], dense depth indices; 1U has no
// entries (it has kernels of its own below).
#define OWN_CVT_ROW(S, M)                                                                     \
    {                                                                                         \
        OwnCvtFns{}, ownCvtFns<S, uint8_t, M>(), ownCvtFns<S, int8_t, M>(),                   \
            ownCvtFns<S, uint16_t, M>(), ownCvtFns<S, int16_t, M>(), ownCvtFns<S, int32_t, M>() \
    }
#define OWN_CVT_MODE(M)                                                                    \
    {                                                                                      \
        {}, OWN_CVT_ROW(uint8_t, M), OWN_CVT_ROW(int8_t, M), OWN_CVT_ROW(uint16_t, M),     \
            OWN_CVT_ROW(int16_t, M), OWN_CVT_ROW(int32_t, M)                               \
    }
const OwnCvtFns kCvt[2][kDepthCount][kDepthCount] = {OWN_CVT_MODE(0), OWN_CVT_MODE(1)};
#undef OWN_CVT_MODE
#undef OWN_CVT_ROW
static_assert(sizeof kCvt[0] / sizeof kCvt[0][0] == kDepthCount, "one row per source depth");
static_assert(sizeof kCvt[0][0] / sizeof kCvt[0][0][0] == kDepthCount,
              "one entry per destination depth");

const int kElemSize[kDepthCount] = {1, 1, 1, 2, 2, 4};

// The loop orders: the result does not depend on them, the speed does.
// Interleaved rows read with a stride are fast while a source row stays
// small; past that, pixel by pixel keeps the reads sequential.
constexpr int64_t kPixelToPlaneRowBytes = 16000;
constexpr int64_t kPlaneToPixelBufferBytes = 40000;

void ownCvtGeneral(const OwnCvtJob& job, const OwnCvtSide& s, const OwnCvtSide& d, int rows,
                   int cols) {
    const OwnCvtFns& f = kCvt[job.mode][job.srcDepth][job.dstDepth];
    const int nCh = job.nChannels;
    const int64_t ss = kElemSize[job.srcDepth], ds = kElemSize[job.dstDepth];
    if ((!s.plane && !d.plane) || nCh == 1) {
        const int64_t n = int64_t(cols) * nCh;
        if (s.rowStep == n * ss && d.rowStep == n * ds) {
            f.run(s.base, 1, d.base, 1, n * rows);  // rows without padding: one run
            return;
        }
        for (int r = 0; r < rows; ++r) f.run(s.base + r * s.rowStep, 1, d.base + r * d.rowStep, 1, n);
        return;
    }
    if (s.plane && d.plane) {
        for (int k = 0; k < nCh; ++k)
            for (int r = 0; r < rows; ++r)
                f.run(s.base + k * s.chanStep + r * s.rowStep, 1,
                      d.base + k * d.chanStep + r * d.rowStep, 1, cols);
        return;
    }
    const bool channelsFirst =
        s.plane ? s.bufSize < kPlaneToPixelBufferBytes : s.bufStep < kPixelToPlaneRowBytes;
    for (int r = 0; r < rows; ++r) {
        const char* sr = s.base + r * s.rowStep;
        char* dr = d.base + r * d.rowStep;
        if (!channelsFirst) {
            f.pixels(sr, s.pixStride, s.chanStep, dr, d.pixStride, d.chanStep, nCh, cols);
            continue;
        }
        for (int k = 0; k < nCh; ++k)
            f.run(sr + k * s.chanStep, s.pixStride, dr + k * d.chanStep, d.pixStride, cols);
    }
}

// ---------------------------------------------------------------------------
// 1U rows.

inline void ownPutBit(uint8_t* d, int64_t index, bool one) {
    const uint8_t mask = uint8_t(0x80u >> (index & 7));
    uint8_t& b = d[index >> 3];
    b = one ? uint8_t(b | mask) : uint8_t(b & ~mask);
}
inline bool ownGetBit(const uint8_t* s, int64_t index) {
    return (s[index >> 3] >> (7 - (index & 7))) & 1;
}

// Whole destination bytes: eight samples each, the first in the MSB.
// A sample is 1 when greater than zero (for unsigned depths: non-zero).
template <class S>
OWN_CLONES void ownPackBytes(const S* __restrict s, int64_t inc, uint8_t* __restrict d,
                             int64_t bytes) {
    if (inc == 1) {
        for (int64_t b = 0; b < bytes; ++b) {
            const S* p = s + b * 8;
            unsigned v = 0;
            for (int j = 0; j < 8; ++j) v |= unsigned(p[j] > 0) << (7 - j);
            d[b] = uint8_t(v);
        }
        return;
    }
    for (int64_t b = 0; b < bytes; ++b) {
        const S* p = s + b * 8 * inc;
        unsigned v = 0;
        for (int j = 0; j < 8; ++j) v |= unsigned(p[j * inc] > 0) << (7 - j);
        d[b] = uint8_t(v);
    }
}

// n samples (stepping by inc elements) into n bits from bit index `bit`;
// every bit is set or cleared on its own, so the other bits of the end
// bytes keep their contents.
template <class S>
void ownToBits(const char* sv, int64_t inc, uint8_t* d, int bit, int64_t n) {
    const S* s = reinterpret_cast<const S*>(sv);
    int64_t j = 0;
    for (; j < n && ((bit + j) & 7) != 0; ++j) ownPutBit(d, bit + j, s[j * inc] > 0);
    const int64_t bytes = (n - j) / 8;
    ownPackBytes(s + j * inc, inc, d + ((bit + j) >> 3), bytes);
    j += bytes * 8;
    for (; j < n; ++j) ownPutBit(d, bit + j, s[j * inc] > 0);
}

using OwnToBitsFn = void (*)(const char*, int64_t, uint8_t*, int, int64_t);
const OwnToBitsFn kToBits[] = {nullptr, ownToBits<uint8_t>, ownToBits<int8_t>,
                               ownToBits<uint16_t>, ownToBits<int16_t>, ownToBits<int32_t>};
static_assert(sizeof kToBits / sizeof kToBits[0] == kDepthCount, "one kernel per depth");

// Bits expanded: every channel of pixel j gets `one` or `zero`.
template <class D>
OWN_CLONES void ownExpandRun(const uint8_t* __restrict s, int bit, D* __restrict d, int64_t n,
                             D zero, D one) {
    if (bit == 0) {
        const int64_t whole = n / 8;
        for (int64_t b = 0; b < whole; ++b) {
            const unsigned v = s[b];
            for (int j = 0; j < 8; ++j) d[b * 8 + j] = (v >> (7 - j)) & 1 ? one : zero;
        }
        for (int64_t j = whole * 8; j < n; ++j) d[j] = ownGetBit(s, j) ? one : zero;
        return;
    }
    for (int64_t j = 0; j < n; ++j) d[j] = ownGetBit(s, bit + j) ? one : zero;
}

template <class D>
void ownFromBits(const uint8_t* s, int bit, char* dv, bool plane, int pix, int64_t chan, int nCh,
                 int64_t n, int32_t zero, int32_t one) {
    const D z = D(zero), o = D(one);
    if (nCh == 1 || plane) {
        // One channel, or plane order: a contiguous run per channel.
        for (int k = 0; k < nCh; ++k)
            ownExpandRun(s, bit, reinterpret_cast<D*>(dv + k * chan), n, z, o);
        return;
    }
    D* d = reinterpret_cast<D*>(dv);
    for (int64_t j = 0; j < n; ++j) {
        const D v = ownGetBit(s, bit + j) ? o : z;
        for (int k = 0; k < nCh; ++k) d[j * pix + k] = v;
    }
}

using OwnFromBitsFn = void (*)(const uint8_t*, int, char*, bool, int, int64_t, int, int64_t,
                               int32_t, int32_t);
const OwnFromBitsFn kFromBits[] = {nullptr, ownFromBits<uint8_t>, ownFromBits<int8_t>,
                                   ownFromBits<uint16_t>, ownFromBits<int16_t>,
                                   ownFromBits<int32_t>};
static_assert(sizeof kFromBits / sizeof kFromBits[0] == kDepthCount, "one kernel per depth");

}  // namespace

void ownCvtRect(const OwnCvtJob& job, const OwnCvtSide& s, const OwnCvtSide& d, int rows,
                int cols) {
    if (rows <= 0 || cols <= 0) return;
    switch (job.kind) {
        case OwnCvtKind::kGeneral:
            ownCvtGeneral(job, s, d, rows, cols);
            return;
        case OwnCvtKind::kToBits: {
            const OwnToBitsFn f = kToBits[job.srcDepth];
            const char* first = s.base + job.channel * s.chanStep;
            for (int r = 0; r < rows; ++r)
                f(first + r * s.rowStep, s.pixStride,
                  reinterpret_cast<uint8_t*>(d.base + r * d.rowStep), d.bit, cols);
            return;
        }
        case OwnCvtKind::kBitCopy: {
            // Rows are copied as whole bytes, padding bits of the last byte
            // included; a run starting inside a byte moves bit by bit.
            const bool bytes = s.bit == 0 && d.bit == 0;
            for (int r = 0; r < rows; ++r) {
                const auto* sr = reinterpret_cast<const unsigned char*>(s.base + r * s.rowStep);
                auto* dr = reinterpret_cast<unsigned char*>(d.base + r * d.rowStep);
                if (bytes)
                    std::memmove(dr, sr, size_t((int64_t(cols) + 7) / 8));
                else
                    ownCopyBits(sr, s.bit, dr, d.bit, cols);
            }
            return;
        }
        case OwnCvtKind::kFromBits: {
            const OwnFromBitsFn f = kFromBits[job.dstDepth];
            for (int r = 0; r < rows; ++r)
                f(reinterpret_cast<const uint8_t*>(s.base + r * s.rowStep), s.bit,
                  d.base + r * d.rowStep, d.plane, d.pixStride, d.chanStep, job.nChannels, cols,
                  job.zero, job.one);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// The walk.

namespace {

// One image during the walk. An untiled image is one tile covering it.
struct OwnCvtImage {
    const VexImage* image;
    bool tiled;
    int64_t tw, th;     // tile size
    int64_t step;       // row stride of a tile (of the image when untiled)
    int64_t size;       // bytes of a tile buffer
    char* data;         // the held tile's buffer
    int64_t tx, ty;     // the held tile (-1: none)
    const char* noTile;  // report when the callback delivers nothing
    int mode;            // VEX_TILE_GET_READ or VEX_TILE_GET_WRITE

    OwnCvtImage(const VexImage* im, char* buffer, int getMode, const char* missing)
        : image(im), tiled(im->tileInfo != nullptr), data(nullptr), tx(-1), ty(-1),
          noTile(missing), mode(getMode) {
        tw = tiled ? im->tileInfo->width : im->width;
        th = tiled ? im->tileInfo->height : im->height;
        step = ownRowStep(int(tw), im->depth, im->nChannels, im->dataOrder, im->align);
        size = ownDataSize(int(th), int(tw), im->depth, im->nChannels, im->dataOrder, im->align);
        if (!tiled) {
            data = buffer;
            tx = ty = 0;
        }
    }

    // Makes tile (x, y) the held one: the previous is released first.
    // False (with the report) when the callback does not deliver it.
    bool hold(const OwnSite& site, int64_t x, int64_t y) {
        if (!tiled || (x == tx && y == ty)) return true;
        if (data) ownReleaseTile(image, int(tx), int(ty), data);
        VexTileInfo* info = image->tileInfo;
        info->tileData = nullptr;
        info->callBack(image, int(x), int(y), mode);
        data = info->tileData;
        tx = x;
        ty = y;
        if (!data) {
            vexError(VEX_StsBadArg, site.func, noTile, site.file, __LINE__);
            return false;
        }
        return true;
    }

    void release() {
        if (tiled && data) ownReleaseTile(image, int(tx), int(ty), data);
        data = nullptr;
    }

    // The side of a rectangle at (col, row) of the held tile.
    OwnCvtSide side(int64_t col, int64_t row, bool up) const {
        OwnCvtSide r;
        const unsigned depth = image->depth;
        r.plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
        r.bufStep = step;
        r.bufSize = size;
        r.rowStep = up ? -step : step;
        char* rowStart = data + row * step;
        r.bit = 0;
        if (depth == VEX_DEPTH_1U) {
            r.base = rowStart + (col >> 3);
            r.bit = int(col & 7);
            r.chanStep = 0;
            r.pixStride = 1;
        } else if (r.plane) {
            const int es = ownElemSize(depth);
            r.base = rowStart + col * es;
            r.chanStep = step * th;
            r.pixStride = 1;
        } else {
            const int es = ownElemSize(depth);
            r.base = rowStart + col * image->nChannels * es;
            r.chanStep = es;
            r.pixStride = image->nChannels;
        }
        return r;
    }
};

bool ownOverlap(const VexImage* a, const VexImage* b) {
    const int64_t na = ownDataSize(a->height, a->width, a->depth, a->nChannels, a->dataOrder, a->align);
    const int64_t nb = ownDataSize(b->height, b->width, b->depth, b->nChannels, b->dataOrder, b->align);
    const uintptr_t pa = reinterpret_cast<uintptr_t>(a->imageData);
    const uintptr_t pb = reinterpret_cast<uintptr_t>(b->imageData);
    return pa < pb + uintptr_t(nb) && pb < pa + uintptr_t(na);
}

}  // namespace

void ownCvtWalk(const OwnSite& site, const OwnCvtJob& job, const VexImage* src,
                const VexImage* dst, const VexMapping* mapping) {
    const int64_t W = dst->width, H = dst->height;
    const bool flip = src->origin != dst->origin;

    // Overlapping untiled buffers: the source is read from a copy, so that
    // rows written first never feed rows converted later.
    char* srcData = src->imageData;
    OwnBlock copyBlock;
    if (!src->tileInfo && !dst->tileInfo && ownOverlap(src, dst)) {
        const int64_t n = ownDataSize(src->height, src->width, src->depth, src->nChannels,
                                      src->dataOrder, src->align);
        char* copy = copyBlock.alloc<char>(n);
        if (!copy) {
            vexError(VEX_StsNoMem, site.func, "Out of memory", site.file, __LINE__);
            return;
        }
        std::memcpy(copy, src->imageData, size_t(n));
        srcData = copy;
    }

    OwnCvtImage s(src, srcData, VEX_TILE_GET_READ, kCvtNoSrcTile);
    OwnCvtImage d(dst, dst->imageData, VEX_TILE_GET_WRITE, kCvtNoDstTile);

    // The work area: the whole image, or the mapped destination tile.
    int64_t x0 = 0, x1 = W, y0 = 0, y1 = H;
    int sel[2];
    if (ownMappingTile(dst, mapping, true, sel)) {
        x0 = sel[0] * d.tw;
        y0 = sel[1] * d.th;
        x1 = std::min(x0 + d.tw, W);
        y1 = std::min(y0 + d.th, H);
        x0 = std::max<int64_t>(x0, 0);
        y0 = std::max<int64_t>(y0, 0);
    }

    bool ok = true;
    for (int64_t y = y0; ok && y < y1;) {
        const int64_t sy = flip ? H - 1 - y : y;
        const int64_t dty = y / d.th, sty = sy / s.th;
        const int64_t dRows = (dty + 1) * d.th - y;
        const int64_t sRows = flip ? sy - sty * s.th + 1 : (sty + 1) * s.th - sy;
        const int64_t h = std::min({dRows, sRows, y1 - y});
        for (int64_t x = x0; x < x1;) {
            const int64_t dtx = x / d.tw, stx = x / s.tw;
            if (!d.hold(site, dtx, dty) || !s.hold(site, stx, sty)) {
                ok = false;
                break;
            }
            const int64_t w = std::min({(dtx + 1) * d.tw - x, (stx + 1) * s.tw - x, x1 - x});
            ownCvtRect(job, s.side(x - stx * s.tw, sy - sty * s.th, flip),
                       d.side(x - dtx * d.tw, y - dty * d.th, false), int(h), int(w));
            x += w;
        }
        y += h;
    }
    // A missing tile ends the call at once: nothing more is handed back.
    if (ok) {
        d.release();
        s.release();
    }
}

}  // namespace vex
