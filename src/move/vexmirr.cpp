// Mirror: a region flipped about the horizontal axis, the vertical axis or both.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include "image/ownmove.h"
#include "image/ownsimd.h"

namespace vex {
namespace {

const OwnSite kMirror{"vexMirror", "vexmirr"};

// A region's samples as lanes whose pixels move whole: in pixel order without
// a channel of interest one lane with nChannels elements per pixel, otherwise
// one lane per processed channel (so that pixel and plane order can meet).
struct OwnMirrorLanes {
    char* base;
    int64_t step;
    int64_t laneStride;
    int lanes;
    int pixStride;  // elements between pixels
    int perPixel;   // elements moved together
    int bit;        // 1U bit offset
};

OwnMirrorLanes ownMirrorLanes(const OwnRegion& r, unsigned depth, bool perChannel) {
    OwnMirrorLanes l{r.first, r.step, 0, 1, 1, 1, r.bitOffset};
    if (depth == VEX_DEPTH_1U) return l;
    if (r.plane) {
        l.lanes = r.channels;
        l.laneStride = r.planeSize;
    } else if (r.coi > 0) {
        l.pixStride = r.nChannels;
    } else if (perChannel) {
        l.lanes = r.nChannels;
        l.laneStride = ownElemSize(depth);
        l.pixStride = r.nChannels;
    } else {
        l.pixStride = l.perPixel = r.nChannels;
    }
    return l;
}

// Reversed rows of single samples and of three-sample pixels, the cases
// that dominate; written for the vectoriser.
template <class T>
void ownReverse1T(const T* __restrict src, T* __restrict dst, int w) {
    const T* last = src + w - 1;
    for (int j = 0; j < w; ++j) dst[j] = last[-j];
}
template <class T>
void ownReverse3T(const T* __restrict src, T* __restrict dst, int w) {
    const T* last = src + int64_t(w - 1) * 3;
    for (int j = 0; j < w; ++j) {
        dst[3 * j] = last[-3 * j];
        dst[3 * j + 1] = last[-3 * j + 1];
        dst[3 * j + 2] = last[-3 * j + 2];
    }
}
OWN_CLONES void ownReverse1(const uint8_t* s, uint8_t* d, int w) { ownReverse1T(s, d, w); }
OWN_CLONES void ownReverse1(const uint16_t* s, uint16_t* d, int w) { ownReverse1T(s, d, w); }
OWN_CLONES void ownReverse1(const uint32_t* s, uint32_t* d, int w) { ownReverse1T(s, d, w); }
OWN_CLONES void ownReverse3Plain(const uint8_t* s, uint8_t* d, int w) { ownReverse3T(s, d, w); }

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
// Three-byte pixels reversed sixteen at a time: the 48 bytes of 16 source
// pixels are three vectors, and each output vector gathers its bytes from
// them with byte shuffles. The masks are computed once.
struct OwnRev3Masks {
    alignas(16) uint8_t m[3][3][16];  // [output vector][input vector][lane]
    OwnRev3Masks() {
        for (int v = 0; v < 3; ++v)
            for (int u = 0; u < 3; ++u)
                for (int lane = 0; lane < 16; ++lane) {
                    const int o = 16 * v + lane, i = 45 - 3 * (o / 3) + o % 3;
                    m[v][u][lane] = uint8_t(i / 16 == u ? i % 16 : 0x80);
                }
    }
};
const OwnRev3Masks kRev3;

__attribute__((target("ssse3"))) void ownReverse3Shuffle(const uint8_t* s, uint8_t* d, int w) {
    const __m128i* m = reinterpret_cast<const __m128i*>(kRev3.m);
    int j = 0;
    for (; j + 16 <= w; j += 16) {
        const uint8_t* src = s + 3 * int64_t(w - 16 - j);
        __m128i in[3];
        for (int u = 0; u < 3; ++u)
            in[u] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * u));
        __m128i* dst = reinterpret_cast<__m128i*>(d + 3 * int64_t(j));
        for (int v = 0; v < 3; ++v) {
            __m128i out = _mm_shuffle_epi8(in[0], _mm_load_si128(m + 3 * v));
            out = _mm_or_si128(out, _mm_shuffle_epi8(in[1], _mm_load_si128(m + 3 * v + 1)));
            out = _mm_or_si128(out, _mm_shuffle_epi8(in[2], _mm_load_si128(m + 3 * v + 2)));
            _mm_storeu_si128(dst + v, out);
        }
    }
    ownReverse3T(s, d + 3 * int64_t(j), w - j);  // the first w - j source pixels
}

using OwnRev3Fn = void (*)(const uint8_t*, uint8_t*, int);
// Chosen once, when the library is loaded.
const OwnRev3Fn kReverse3Bytes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? ownReverse3Shuffle : ownReverse3Plain;
}();
void ownReverse3(const uint8_t* s, uint8_t* d, int w) { kReverse3Bytes(s, d, w); }
#else
void ownReverse3(const uint8_t* s, uint8_t* d, int w) { ownReverse3Plain(s, d, w); }
#endif
OWN_CLONES void ownReverse3(const uint16_t* s, uint16_t* d, int w) { ownReverse3T(s, d, w); }
OWN_CLONES void ownReverse3(const uint32_t* s, uint32_t* d, int w) { ownReverse3T(s, d, w); }

// Two rows copied crosswise in one pass: a -> da and b -> db. The loop must
// stay one loop (not two memcpy calls): the four interleaved streams are
// what makes it fast.
OWN_CLONES __attribute__((optimize("no-tree-loop-distribute-patterns"))) void ownCrossRows(const char* __restrict a, const char* __restrict b,
                             char* __restrict da, char* __restrict db, size_t n) {
    for (size_t k = 0; k < n; ++k) {
        da[k] = a[k];
        db[k] = b[k];
    }
}

template <class T>
void ownMoveRowT(const char* s, int sps, char* d, int dps, int w, int pe, bool reverse) {
    const T* __restrict src = reinterpret_cast<const T*>(s);
    T* __restrict dst = reinterpret_cast<T*>(d);
    if (!reverse) {
        if (sps == pe && dps == pe) {
            std::memcpy(dst, src, size_t(w) * pe * sizeof(T));
            return;
        }
        for (int j = 0; j < w; ++j)
            for (int e = 0; e < pe; ++e) dst[int64_t(j) * dps + e] = src[int64_t(j) * sps + e];
        return;
    }
    if (pe == 1 && sps == 1 && dps == 1) {
        ownReverse1(src, dst, w);
        return;
    }
    if (pe == 3 && sps == 3 && dps == 3) {
        ownReverse3(src, dst, w);
        return;
    }
    for (int j = 0; j < w; ++j)
        for (int e = 0; e < pe; ++e)
            dst[int64_t(j) * dps + e] = src[int64_t(w - 1 - j) * sps + e];
}

void ownMoveBits(const unsigned char* s, int sb, unsigned char* d, int db, int w, bool reverse) {
    if (!reverse) {
        ownCopyBits(s, sb, d, db, w);
        return;
    }
    for (int j = 0; j < w; ++j) {
        const int64_t p = sb + int64_t(w - 1 - j), q = db + int64_t(j);
        const int bit = (s[p >> 3] >> (7 - (p & 7))) & 1;
        const unsigned char mask = static_cast<unsigned char>(0x80u >> (q & 7));
        d[q >> 3] = static_cast<unsigned char>(bit ? (d[q >> 3] | mask) : (d[q >> 3] & ~mask));
    }
}

// One lane row from s to d, reversed or not.
void ownMoveRow(unsigned depth, const char* s, int sbit, int sps, char* d, int dbit, int dps,
                int w, int pe, bool reverse) {
    switch (ownElemSize(depth) * (depth == VEX_DEPTH_1U ? 0 : 1)) {
        case 0:
            ownMoveBits(reinterpret_cast<const unsigned char*>(s), sbit,
                        reinterpret_cast<unsigned char*>(d), dbit, w, reverse);
            break;
        case 1: ownMoveRowT<uint8_t>(s, sps, d, dps, w, pe, reverse); break;
        case 2: ownMoveRowT<uint16_t>(s, sps, d, dps, w, pe, reverse); break;
        default: ownMoveRowT<uint32_t>(s, sps, d, dps, w, pe, reverse); break;
    }
}

// The flip of an h x w region of src into the same-sized region of dst.
void ownFlip(const OwnRegion& rs, const OwnRegion& rd, int h, int w, int flipAxis,
             unsigned depth) {
    if (h <= 0 || w <= 0) return;
    const bool perChannel = rs.plane != rd.plane;
    const OwnMirrorLanes ls = ownMirrorLanes(rs, depth, perChannel);
    const OwnMirrorLanes ld = ownMirrorLanes(rd, depth, perChannel);
    const bool rowsReversed = flipAxis != 1, colsReversed = flipAxis != 0;
    const bool inPlace = rs.first == rd.first && rs.step == rd.step;

    if (!inPlace) {
        for (int k = 0; k < ls.lanes; ++k) {
            const char* sl = ls.base + ls.laneStride * k;
            char* dl = ld.base + ld.laneStride * k;
            // Reversed rows are taken from both ends at once, which keeps
            // both streams of the prefetcher busy.
            auto move = [&](int si, int di) {
                ownMoveRow(depth, sl + ls.step * si, ls.bit, ls.pixStride, dl + ld.step * di,
                           ld.bit, ld.pixStride, w, ls.perPixel, colsReversed);
            };
            if (!rowsReversed) {
                for (int i = 0; i < h; ++i) move(i, i);
                continue;
            }
            const bool wholeRows = !colsReversed && ls.pixStride == ls.perPixel &&
                                   ld.pixStride == ld.perPixel && depth != VEX_DEPTH_1U;
            const size_t bytes = size_t(w) * ls.perPixel * ownElemSize(depth);
            for (int i = 0; i < h / 2; ++i) {
                if (wholeRows) {
                    ownCrossRows(sl + ls.step * (h - 1 - i), sl + ls.step * i, dl + ld.step * i,
                                 dl + ld.step * (h - 1 - i), bytes);
                    continue;
                }
                move(h - 1 - i, i);
                move(i, h - 1 - i);
            }
            if (h & 1) move(h / 2, h / 2);
        }
        return;
    }
    // In place: one row buffer; rows swapped in pairs, or reversed one by one.
    const int pe = ls.perPixel;
    const int64_t rowBytes = depth == VEX_DEPTH_1U ? (w + 7) / 8 : int64_t(w) * pe * ownElemSize(depth);
    char* tmp = rowBytes <= INT32_MAX ? static_cast<char*>(vexMalloc(static_cast<int>(rowBytes)))
                                      : nullptr;
    if (!tmp) {
        vexError(VEX_StsNoMem, kMirror.func, "Out of memory", kMirror.file, __LINE__);
        return;
    }
    for (int k = 0; k < ls.lanes; ++k) {
        char* lane = ls.base + ls.laneStride * k;
        auto row = [&](int i) { return lane + ls.step * i; };
        const int pairs = rowsReversed ? (h + 1) / 2 : h;
        for (int i = 0; i < pairs; ++i) {
            const int j = rowsReversed ? h - 1 - i : i;
            ownMoveRow(depth, row(i), ls.bit, ls.pixStride, tmp, 0, pe, w, pe, false);
            if (j != i) ownMoveRow(depth, row(j), ls.bit, ls.pixStride, row(i), ls.bit,
                                   ls.pixStride, w, pe, colsReversed);
            ownMoveRow(depth, tmp, 0, pe, row(j), ls.bit, ls.pixStride, w, pe, colsReversed);
        }
    }
    vexFree(tmp);
}

// Untiled images: the common h x w part of both regions.
void ownFlipImages(const VexImage* src, const VexImage* dst, int rows, int cols, int flipAxis) {
    OwnRegion rs, rd;
    ownGetRegion(src, &rs);
    ownGetRegion(dst, &rd);
    ownFlip(rs, rd, std::min({rows, rs.rows, rd.rows}), std::min({cols, rs.cols, rd.cols}),
            flipAxis, dst->depth);
}

// The destination tiled: for each of its tiles, the source rectangle that
// maps onto the tile's part of the region is flipped into it. The source is
// an untiled image (possibly a gathered copy) whose region is `sx, sy`.
void ownFlipIntoTiles(VexImage* src, int sx, int sy, VexImage* dst, const OwnTileRange& t,
                      const int* tile, int flipAxis) {
    const bool rowsReversed = flipAxis != 1, colsReversed = flipAxis != 0;
    VexROI srcRoi{ownCoi(src), 0, 0, 0, 0};
    OwnRoiGuard guard(src);
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        return ownOnTile(kMirror, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dst),
                         [&](VexImage& view) {
            const int x = colsReversed ? t.cols - p.rx - p.w : p.rx;
            const int y = rowsReversed ? t.rows - p.ry - p.h : p.ry;
            srcRoi = VexROI{srcRoi.coi, sx + x, sy + y, p.h, p.w};
            src->roi = &srcRoi;
            ownFlipImages(src, &view, p.h, p.w, flipAxis);
            return true;
        });
    });
}

}  // namespace
}  // namespace vex

using namespace vex;

extern "C" VEXAPI void vexMirror(VexImage* srcImage, VexImage* dstImage, int flipAxis,
                                 const int* tile) {
    OWN_CHECK_HEADER(kMirror, srcImage);
    OWN_CHECK_HEADER(kMirror, dstImage);
    OWN_CHECK(kMirror, srcImage->depth != dstImage->depth, "(srcImage->depth!=dstImage->depth)");
    OWN_CHECK(kMirror, srcImage->nChannels != dstImage->nChannels,
              "(srcImage->nChannels!=dstImage->nChannels)");
    OWN_CHECK(kMirror, flipAxis > 1 || flipAxis < -1, "((flipAxis>1)||(flipAxis<-1))");
    OWN_CHECK(kMirror, ownCoi(srcImage) != ownCoi(dstImage), "(coiSrc!=coiDst)");

    int sx, sy, scols, srows, dx, dy, dcols, drows;
    ownClipRegion(srcImage, &sx, &sy, &scols, &srows);
    ownClipRegion(dstImage, &dx, &dy, &dcols, &drows);
    const int rows = std::min(srows, drows), cols = std::min(scols, dcols);
    if (rows <= 0 || cols <= 0) return;

    if (!srcImage->tileInfo && !dstImage->tileInfo) {
        ownFlipImages(srcImage, dstImage, rows, cols, flipAxis);
        return;
    }
    // A tiled source, or a source that is also the tiled destination, is
    // gathered first: flipping tile by tile in place would read tiles that
    // earlier tiles already overwrote.
    VexImage gathered{};
    VexROI gatheredRoi{ownCoi(srcImage), 0, 0, rows, cols};
    VexImage* src = srcImage;
    char* rect = nullptr;
    if (srcImage->tileInfo || srcImage == dstImage) {
        int step = 0;
        rect = ownGetRect(kMirror, srcImage, sx, sy, cols, rows, &step);
        if (!rect) return;
        gathered = ownRectHeader(srcImage, rect, cols, rows);
        gathered.roi = &gatheredRoi;
        src = &gathered;
        sx = sy = 0;
    }
    if (!dstImage->tileInfo) {
        ownFlipImages(src, dstImage, rows, cols, flipAxis);
    } else {
        OwnTileRange t;
        if (ownPairTileRange(src, dstImage, &t)) ownFlipIntoTiles(src, sx, sy, dstImage, t, tile, flipAxis);
    }
    vexFree(rect);
}
