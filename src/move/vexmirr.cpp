// Mirror: a region flipped about the horizontal axis, the vertical axis or both.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "arith/ownpixel.h"
#include "frame/ownframe.h"
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
// Two rows that do not overlap trade places reversed: a[j] <-> b[w - 1 - j],
// in one pass over both (no row buffer).
template <class T>
void ownSwapReverse1T(T* __restrict a, T* __restrict b, int w) {
    T* last = b + w - 1;
    for (int j = 0; j < w; ++j) {
        const T t = a[j];
        a[j] = last[-j];
        last[-j] = t;
    }
}
OWN_CLONES void ownSwapReverse1(uint8_t* a, uint8_t* b, int w) { ownSwapReverse1T(a, b, w); }
OWN_CLONES void ownSwapReverse1(uint16_t* a, uint16_t* b, int w) { ownSwapReverse1T(a, b, w); }
OWN_CLONES void ownSwapReverse1(uint32_t* a, uint32_t* b, int w) { ownSwapReverse1T(a, b, w); }
// The same for rows of one-sample pixels of any depth but 1U.
void ownSwapReverseRow(unsigned depth, char* a, char* b, int w) {
    switch (ownElemSize(depth)) {
        case 1: ownSwapReverse1(reinterpret_cast<uint8_t*>(a), reinterpret_cast<uint8_t*>(b), w); break;
        case 2: ownSwapReverse1(reinterpret_cast<uint16_t*>(a), reinterpret_cast<uint16_t*>(b), w); break;
        default: ownSwapReverse1(reinterpret_cast<uint32_t*>(a), reinterpret_cast<uint32_t*>(b), w); break;
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

// Single bytes reversed with the destination's whole 64-byte lines written
// past the cache (see kStreamBytes): a large destination then costs no read
// of its lines, which matters most where it is written in short pieces a
// page apart, as a tile's part of an untiled image is. A row that starts
// off a line boundary is stored normally, and the bytes after its last whole
// line too: no line is written partly by streaming stores and partly by
// ordinary ones. (Measured into tile buffers whose rows start 16 bytes past
// a line boundary: with 32-byte streamed blocks from the first 32-byte
// boundary up to 14 times the untiled flip's time; with whole lines streamed
// 1.9 to 2.9; stored normally 1.4 to 1.5. Into tile buffers on line
// boundaries, streamed 0.95, stored normally 1.3.) The caller fences.
#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
__attribute__((target("avx2"))) void ownReverse1StreamAvx2(const uint8_t* s, uint8_t* d, int w) {
    if (reinterpret_cast<uintptr_t>(d) % 64 != 0) {
        ownReverse1(s, d, w);
        return;
    }
    const __m256i rev = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15,
                                         14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    int j = 0;
    for (; j + 64 <= w; j += 64)
        for (int half = 0; half < 64; half += 32) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + w - 32 - j - half));
            v = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, rev), 0x4E);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(d + j + half), v);
        }
    ownReverse1(s, d + j, w - j);  // the first w - j source bytes
}
using OwnRev1Fn = void (*)(const uint8_t*, uint8_t*, int);
const OwnRev1Fn kReverse1Stream = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ownReverse1StreamAvx2
                                          : static_cast<OwnRev1Fn>(ownReverse1);
}();
void ownReverse1Stream(const uint8_t* s, uint8_t* d, int w) { kReverse1Stream(s, d, w); }
#else
void ownReverse1Stream(const uint8_t* s, uint8_t* d, int w) { ownReverse1(s, d, w); }
#endif
OWN_CLONES void ownReverse3(const uint32_t* s, uint32_t* d, int w) { ownReverse3T(s, d, w); }

#if defined(__SSE2__)
// h rows of w elements flipped into rows lying back to back from d (a tile
// of a streamed call), d and the row length on 16-byte boundaries:
// destination row y is source row y (or h - 1 - y when rowsReversed),
// reversed when kReverse (rows of single samples). Each line-sized piece of
// a destination row is taken from the source into a temporary and streamed
// (ownStreamAligned), so no destination line is read and the lines split
// between two rows are streamed whole; source rows a page or more apart are
// asked for eight rows ahead. (Stored normally, every line of the tile
// costs a read; streamed row by row, the split lines are written partly
// streamed and partly not. Into 256-byte tile rows from a 4096-byte-wide
// source, flip 1 took 1.3 times the untiled one with the rows asked for
// four ahead, 1.7 to 1.8 with two, and 0.95 to 1.07 with six to sixteen.)
template <bool kReverse, class T>
__attribute__((always_inline)) inline void ownFlipRowsStreamedT(const char* s, int64_t sStep,
                                                                bool rowsReversed, T* d, int w,
                                                                int h) {
    constexpr int64_t kLine = 64 / sizeof(T);
    constexpr int kAhead = 8;
    const int64_t rowBytes = int64_t(w) * int64_t(sizeof(T));
    const bool ahead = sStep >= 2048 && rowBytes <= 2048;
    // The current source row's last element (reversed) or first one.
    const T* from = nullptr;
    ownStreamAligned(
        d, w, h,
        [&](int64_t y) __attribute__((always_inline)) {
            const int64_t sy = rowsReversed ? h - 1 - y : y;
            if (ahead && y + kAhead < h) {
                ownPrefetchRow(s + sStep * (rowsReversed ? sy - kAhead : sy + kAhead), rowBytes);
            }
            from = reinterpret_cast<const T*>(s + sStep * sy) + (kReverse ? w - 1 : 0);
        },
        [&](int64_t i, int64_t k, T* __restrict out) __attribute__((always_inline)) {
            const T* __restrict in = kReverse ? from - i : from + i;
            if (k == kLine) {
                for (int64_t t = 0; t < kLine; ++t) out[t] = kReverse ? in[-t] : in[t];
            } else {
                for (int64_t t = 0; t < k; ++t) out[t] = kReverse ? in[-t] : in[t];
            }
        });
}
template <class T>
__attribute__((always_inline)) inline void ownFlipRowsStreamedT(const char* s, int64_t sStep,
                                                                bool rowsReversed,
                                                                bool colsReversed, T* d, int w,
                                                                int h) {
    if (colsReversed)
        ownFlipRowsStreamedT<true>(s, sStep, rowsReversed, d, w, h);
    else
        ownFlipRowsStreamedT<false>(s, sStep, rowsReversed, d, w, h);
}
OWN_CLONES void ownFlipRowsStreamed(const char* s, int64_t sStep, bool rowsReversed,
                                    bool colsReversed, uint8_t* d, int w, int h) {
    ownFlipRowsStreamedT(s, sStep, rowsReversed, colsReversed, d, w, h);
}
OWN_CLONES void ownFlipRowsStreamed(const char* s, int64_t sStep, bool rowsReversed,
                                    bool colsReversed, uint16_t* d, int w, int h) {
    ownFlipRowsStreamedT(s, sStep, rowsReversed, colsReversed, d, w, h);
}
OWN_CLONES void ownFlipRowsStreamed(const char* s, int64_t sStep, bool rowsReversed,
                                    bool colsReversed, uint32_t* d, int w, int h) {
    ownFlipRowsStreamedT(s, sStep, rowsReversed, colsReversed, d, w, h);
}
// The same for any depth but 1U, w counting elements; the caller fences.
void ownFlipRowsStreamedRow(unsigned depth, const char* s, int64_t sStep, bool rowsReversed,
                            bool colsReversed, char* d, int w, int h) {
    switch (ownElemSize(depth)) {
        case 1:
            ownFlipRowsStreamed(s, sStep, rowsReversed, colsReversed, reinterpret_cast<uint8_t*>(d), w, h);
            break;
        case 2:
            ownFlipRowsStreamed(s, sStep, rowsReversed, colsReversed, reinterpret_cast<uint16_t*>(d), w, h);
            break;
        default:
            ownFlipRowsStreamed(s, sStep, rowsReversed, colsReversed, reinterpret_cast<uint32_t*>(d), w, h);
            break;
    }
}
#endif

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
void ownMoveRowT(const char* s, int sps, char* d, int dps, int w, int pe, bool reverse,
                 bool stream) {
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
        if (sizeof(T) == 1 && stream)
            ownReverse1Stream(reinterpret_cast<const uint8_t*>(s), reinterpret_cast<uint8_t*>(d), w);
        else
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

// One lane row from s to d, reversed or not; `stream` lets a reversed row of
// single bytes be written past the cache.
void ownMoveRow(unsigned depth, const char* s, int sbit, int sps, char* d, int dbit, int dps,
                int w, int pe, bool reverse, bool stream = false) {
    switch (ownElemSize(depth) * (depth == VEX_DEPTH_1U ? 0 : 1)) {
        case 0:
            ownMoveBits(reinterpret_cast<const unsigned char*>(s), sbit,
                        reinterpret_cast<unsigned char*>(d), dbit, w, reverse);
            break;
        case 1: ownMoveRowT<uint8_t>(s, sps, d, dps, w, pe, reverse, stream); break;
        case 2: ownMoveRowT<uint16_t>(s, sps, d, dps, w, pe, reverse, stream); break;
        default: ownMoveRowT<uint32_t>(s, sps, d, dps, w, pe, reverse, stream); break;
    }
}

// The flip of an h x w region of src into the same-sized region of dst.
// `stream`: the call writes enough (kStreamBytes) that its reversed rows go
// past the cache; the caller fences.
void ownFlip(const OwnRegion& rs, const OwnRegion& rd, int h, int w, int flipAxis,
             unsigned depth, bool stream = false) {
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
            // Short source rows far apart (a tile's part of a large image)
            // are asked for a few rows ahead: the hardware prefetcher does
            // not follow rows that start a page or more apart.
            // The destination's rows likewise, for writing.
            const int64_t rowBytes = ownElemSize(depth) * int64_t(w) * ls.pixStride;
            // Flipped both ways, rows lying back to back on both sides (a
            // whole tile, an image without row padding) are one row
            // reversed: one stream down the source and one up the
            // destination, which the hardware prefetcher follows, instead
            // of short rows taken from both ends.
            if (rowsReversed && colsReversed && depth != VEX_DEPTH_1U &&
                ls.pixStride == ls.perPixel && ld.pixStride == ld.perPixel &&
                ls.step == rowBytes && ld.step == rowBytes && int64_t(w) * h <= INT32_MAX) {
                ownMoveRow(depth, sl, 0, ls.pixStride, dl, 0, ld.pixStride, w * h, ls.perPixel,
                           true, stream);
                continue;
            }
#if defined(__SSE2__)
            // Into a tile of a streamed call: reversed rows of single
            // samples, or whole rows in reverse order.
            const bool rowsStreamed =
                colsReversed ? ls.perPixel == 1 && ls.pixStride == 1 && ld.pixStride == 1
                             : ls.pixStride == ls.perPixel && ld.pixStride == ld.perPixel;
            if (stream && rowsStreamed && depth != VEX_DEPTH_1U && h > 1 && ld.step == rowBytes &&
                rowBytes <= 2048 && ownStreamAlignedFits(dl, rowBytes)) {
                ownFlipRowsStreamedRow(depth, sl, ls.step, rowsReversed, colsReversed, dl,
                                       w * ls.perPixel, h);
                continue;
            }
#endif
            const bool prefetchSrc = ls.step >= 2048 && rowBytes <= 2048 && h > 1;
            const bool prefetchDst = ld.step >= 2048 && rowBytes <= 2048 && h > 1 &&
                                     !(stream && colsReversed);
            auto ahead = [&](int si) {
                if (si < 0 || si >= h) return;
                if (prefetchSrc) ownPrefetchRow(sl + ls.step * si, rowBytes);
                // The row that source row si is written to.
                if (prefetchDst) ownPrefetchRow<true>(dl + ld.step * (rowsReversed ? h - 1 - si : si), rowBytes);
            };
            constexpr int kAhead = 4;
            auto move = [&](int si, int di) {
                ownMoveRow(depth, sl + ls.step * si, ls.bit, ls.pixStride, dl + ld.step * di,
                           ld.bit, ld.pixStride, w, ls.perPixel, colsReversed, stream);
            };
            if (!rowsReversed) {
                for (int i = 0; i < h; ++i) {
                    ahead(i + kAhead);
                    move(i, i);
                }
                continue;
            }
            const bool wholeRows = !colsReversed && ls.pixStride == ls.perPixel &&
                                   ld.pixStride == ld.perPixel && depth != VEX_DEPTH_1U;
            const size_t bytes = size_t(w) * ls.perPixel * ownElemSize(depth);
            // Short rows back to back on both sides (whole tiles): the
            // destination written front to back from the source read back
            // to front, two streams instead of four short ones. (Long rows
            // keep the crossing order, measured faster for them.)
            if (wholeRows && bytes <= 1024 && ls.step == int64_t(bytes) &&
                ld.step == int64_t(bytes)) {
                for (int i = 0; i < h; ++i)
                    std::memcpy(dl + ld.step * i, sl + ls.step * (h - 1 - i), bytes);
                continue;
            }
            for (int i = 0; i < h / 2; ++i) {
                if (wholeRows) {
                    ownCrossRows(sl + ls.step * (h - 1 - i), sl + ls.step * i, dl + ld.step * i,
                                 dl + ld.step * (h - 1 - i), bytes);
                    continue;
                }
                ahead(h - 1 - i - kAhead);
                ahead(i + kAhead);
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
    OwnBlock tmpBlock;
    char* tmp = tmpBlock.alloc<char>(rowBytes);
    if (!tmp) {
        vexError(VEX_StsNoMem, kMirror.func, "Out of memory", kMirror.file, __LINE__);
        return;
    }
    for (int k = 0; k < ls.lanes; ++k) {
        char* lane = ls.base + ls.laneStride * k;
        auto row = [&](int i) { return lane + ls.step * i; };
        const int pairs = rowsReversed ? (h + 1) / 2 : h;
        // Single samples reversed: two rows trade places in one pass, and a
        // row reversed onto itself trades its two halves (the middle sample
        // of an odd width stays).
        const bool single = colsReversed && depth != VEX_DEPTH_1U && pe == 1 && ls.pixStride == 1;
        const int64_t half = int64_t(w - w / 2) * ownElemSize(depth);
        for (int i = 0; i < pairs; ++i) {
            const int j = rowsReversed ? h - 1 - i : i;
            if (single) {
                if (j != i)
                    ownSwapReverseRow(depth, row(i), row(j), w);
                else
                    ownSwapReverseRow(depth, row(i), row(i) + half, w / 2);
                continue;
            }
            ownMoveRow(depth, row(i), ls.bit, ls.pixStride, tmp, 0, pe, w, pe, false);
            if (j != i) ownMoveRow(depth, row(j), ls.bit, ls.pixStride, row(i), ls.bit,
                                   ls.pixStride, w, pe, colsReversed);
            ownMoveRow(depth, tmp, 0, pe, row(j), ls.bit, ls.pixStride, w, pe, colsReversed);
        }
    }
}

// Whether a flip of rows x cols pixels into dst writes enough to go past
// the cache (see kStreamBytes).
bool ownFlipStreams(const VexImage* dst, int rows, int cols) {
    return int64_t(rows) * cols * dst->nChannels * ownElemSize(dst->depth) >= kStreamBytes;
}

// Untiled images: the common h x w part of both regions.
void ownFlipImages(const VexImage* src, const VexImage* dst, int rows, int cols, int flipAxis,
                   bool stream = false) {
    OwnRegion rs, rd;
    ownGetRegion(src, &rs);
    ownGetRegion(dst, &rd);
    ownFlip(rs, rd, std::min({rows, rs.rows, rd.rows}), std::min({cols, rs.cols, rd.cols}),
            flipAxis, dst->depth, stream);
    if (stream) ownStoreFence();
}

// A region moved by dx columns and dy rows (pixels move whole: every
// channel in pixel order, one element per plane row in plane order).
OwnRegion ownShift(OwnRegion r, int dx, int dy, unsigned depth) {
    const int64_t elems = int64_t(dx) * (r.plane ? 1 : r.nChannels);
    if (depth == VEX_DEPTH_1U) {
        const int64_t bit = r.bitOffset + elems;
        r.first += (bit >> 3) + r.step * dy;
        r.bitOffset = static_cast<int>(bit & 7);
    } else {
        r.first += elems * ownElemSize(depth) + r.step * dy;
    }
    r.x += dx;
    r.y += dy;
    return r;
}

// The region of the piece (x, y, w, h) of a tile buffer, channel `coi`.
OwnRegion ownTileRegion(const VexImage* image, char* data, int coi, int x, int y, int w, int h) {
    VexROI local{coi, x, y, h, w};
    const VexImage view = ownTileView(image, &local, data);
    OwnRegion r;
    ownGetRegion(&view, &r);
    return r;
}

// Where a sub-rectangle (offset ox, oy; size w x h) of an rw x rh
// rectangle lands when the rectangle is flipped.
inline int ownMirrorX(int flipAxis, int rw, int ox, int w) { return flipAxis != 0 ? rw - ox - w : ox; }
inline int ownMirrorY(int flipAxis, int rh, int oy, int h) { return flipAxis != 1 ? rh - oy - h : oy; }

// Reads the rectangle (x, y, w, h) of a tiled image a tile row at a time, as
// a gathered rectangle is read: every tile of the row requested left to
// right, then released in reverse order. For each tile row, fn(parts, px,
// pw, count, oy, ph) receives the regions of the row's parts in channel
// `coi`, their column offsets and widths within the rectangle, and the
// row's offset and height. False when a tile was not delivered.
template <class Fn>
bool ownForTileRows(const VexImage* image, int coi, int x, int y, int w, int h, Fn fn) {
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    const int tx0 = x / tw, tx1 = (x + w - 1) / tw, ty0 = y / th, ty1 = (y + h - 1) / th;
    const int n = tx1 - tx0 + 1;
    struct Part {
        char* data;
        OwnRegion region;
        int px, pw;
    };
    Part stackParts[16];
    Part* parts = n <= 16 ? stackParts : static_cast<Part*>(vexMalloc(int(sizeof(Part)) * n));
    if (!parts) {
        vexError(VEX_StsNoMem, kMirror.func, "Out of memory", kMirror.file, __LINE__);
        return false;
    }
    OwnRegion* regions = nullptr;
    OwnRegion stackRegions[16];
    int* offsets = nullptr;
    int stackInts[32];
    if (n <= 16) {
        regions = stackRegions;
        offsets = stackInts;
    } else {
        regions = static_cast<OwnRegion*>(vexMalloc(int(sizeof(OwnRegion)) * n));
        offsets = static_cast<int*>(vexMalloc(int(sizeof(int)) * 2 * n));
    }
    bool ok = regions && offsets;
    if (!ok) vexError(VEX_StsNoMem, kMirror.func, "Out of memory", kMirror.file, __LINE__);
    for (int ty = ty0; ty <= ty1 && ok; ++ty) {
        int got = 0;
        for (; got < n; ++got) {
            parts[got].data = ownRequestTile(kMirror, image, tx0 + got, ty, VEX_TILE_GET_READ,
                                             kErrTileRead, __LINE__);
            if (!parts[got].data) {
                ok = false;
                break;
            }
        }
        if (ok) {
            const int y0 = std::max(y, ty * th), y1 = std::min(y + h, (ty + 1) * th);
            for (int k = 0; k < n; ++k) {
                const int tx = tx0 + k;
                const int x0 = std::max(x, tx * tw), x1 = std::min(x + w, (tx + 1) * tw);
                regions[k] = ownTileRegion(image, parts[k].data, coi, x0 - tx * tw, y0 - ty * th,
                                           x1 - x0, y1 - y0);
                offsets[k] = x0 - x;
                offsets[n + k] = x1 - x0;
            }
            fn(regions, offsets, offsets + n, n, y0 - y, y1 - y0);
        }
        for (int k = got - 1; k >= 0; --k) ownReleaseTile(image, tx0 + k, ty, parts[k].data);
    }
    if (parts != stackParts) vexFree(parts);
    if (regions != stackRegions) vexFree(regions);
    if (offsets != stackInts) vexFree(offsets);
    return ok;
}

// The destination tiled, the source untiled (not the same header): for each
// destination tile, the source rectangle that maps onto the tile's part of
// the region is flipped into it.
void ownFlipIntoTiles(VexImage* src, int sx, int sy, VexImage* dst, const OwnTileRange& t,
                      const int* tile, int flipAxis) {
    VexROI srcRoi{ownCoi(src), 0, 0, 0, 0};
    OwnRoiGuard guard(src);
    const bool stream = !tile && ownFlipStreams(dst, t.rows, t.cols);
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        return ownOnTile(kMirror, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dst),
                         [&](VexImage& view) {
            const int x = ownMirrorX(flipAxis, t.cols, p.rx, p.w);
            const int y = ownMirrorY(flipAxis, t.rows, p.ry, p.h);
            srcRoi = VexROI{srcRoi.coi, sx + x, sy + y, p.h, p.w};
            src->roi = &srcRoi;
            ownFlipImages(src, &view, p.h, p.w, flipAxis, stream);
            return true;
        });
    });
}

// The source tiled, the destination untiled: the source region is read a
// tile row at a time (as a gathered rectangle is read) and each tile's part
// is flipped straight into the destination. (Writing the destination a few
// whole rows at a time across the row of tiles was measured slower than
// whole parts: the short row pieces alternate between many pages.)
void ownFlipFromTiles(VexImage* src, int sx, int sy, VexImage* dst, int rows, int cols,
                      int flipAxis) {
    OwnRegion rd;
    ownGetRegion(dst, &rd);
    const unsigned depth = dst->depth;
    const bool stream = ownFlipStreams(dst, rows, cols);
    ownForTileRows(src, ownCoi(src), sx, sy, cols, rows,
                   [&](const OwnRegion* parts, const int* px, const int* pw, int n, int oy, int ph) {
        const int dy = ownMirrorY(flipAxis, rows, oy, ph);
        for (int q = 0; q < n; ++q)
            ownFlip(parts[q], ownShift(rd, ownMirrorX(flipAxis, cols, px[q], pw[q]), dy, depth), ph,
                    pw[q], flipAxis, depth, stream);
    });
    ownStoreFence();
}

// Both tiled, different headers: each destination tile is got for writing,
// and the tiles of the source rectangle that maps onto it are read row by
// row and flipped straight into the tile. At most one destination tile and
// one row of source tiles are held. The rows are stored normally: streamed
// (as a mixed flip of this size is), the flip into tile buffers whose rows
// start 16 bytes past a line boundary measured up to seven times slower in
// some runs.
void ownFlipTileToTile(VexImage* src, int sx, int sy, VexImage* dst, const OwnTileRange& t,
                       const int* tile, int flipAxis) {
    const unsigned depth = dst->depth;
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        return ownOnTile(kMirror, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dst),
                         [&](VexImage& view) {
            OwnRegion rd;
            ownGetRegion(&view, &rd);
            const int x = ownMirrorX(flipAxis, t.cols, p.rx, p.w);
            const int y = ownMirrorY(flipAxis, t.rows, p.ry, p.h);
            return ownForTileRows(src, ownCoi(src), sx + x, sy + y, p.w, p.h,
                                  [&](const OwnRegion* parts, const int* px, const int* pw, int n,
                                      int oy, int ph) {
                for (int q = 0; q < n; ++q)
                    ownFlip(parts[q],
                            ownShift(rd, ownMirrorX(flipAxis, p.w, px[q], pw[q]),
                                     ownMirrorY(flipAxis, p.h, oy, ph), depth),
                            ph, pw[q], flipAxis, depth);
            });
        });
    });
}

// Swaps the h x w regions a and b, flipped: pixel (i, j) of a trades places
// with the pixel of b that the flip maps it to. The regions do not overlap.
// `tmp` holds one lane row.
void ownSwapFlip(const OwnRegion& a, const OwnRegion& b, int h, int w, int flipAxis,
                 unsigned depth, char* tmp) {
    if (h <= 0 || w <= 0) return;
    const OwnMirrorLanes la = ownMirrorLanes(a, depth, false), lb = ownMirrorLanes(b, depth, false);
    const bool rowsReversed = flipAxis != 1, colsReversed = flipAxis != 0;
    const int pe = la.perPixel;
    for (int k = 0; k < la.lanes; ++k) {
        char* laneA = la.base + la.laneStride * k;
        char* laneB = lb.base + lb.laneStride * k;
        // Single samples reversed: each pair of rows in one pass; flipped
        // both ways, rows lying back to back on both sides (whole tiles) are
        // one pair of rows.
        const bool single = colsReversed && depth != VEX_DEPTH_1U && pe == 1 && la.pixStride == 1 &&
                            lb.pixStride == 1;
        const int64_t rowBytes = int64_t(w) * ownElemSize(depth);
        if (single && rowsReversed && la.step == rowBytes && lb.step == rowBytes &&
            int64_t(w) * h <= INT32_MAX) {
            ownSwapReverseRow(depth, laneA, laneB, w * h);
            continue;
        }
        for (int i = 0; i < h; ++i) {
            char* rowA = laneA + la.step * i;
            char* rowB = laneB + lb.step * (rowsReversed ? h - 1 - i : i);
            if (single) {
                ownSwapReverseRow(depth, rowA, rowB, w);
                continue;
            }
            ownMoveRow(depth, rowA, la.bit, la.pixStride, tmp, 0, pe, w, pe, false);
            ownMoveRow(depth, rowB, lb.bit, lb.pixStride, rowA, la.bit, la.pixStride, w, pe,
                       colsReversed);
            ownMoveRow(depth, tmp, 0, pe, rowB, lb.bit, lb.pixStride, w, pe, colsReversed);
        }
    }
}

// A rectangle in region coordinates, [x0, x1) x [y0, y1).
struct OwnBox {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};
OwnBox ownMirrorBox(const OwnBox& b, int flipAxis, int cols, int rows) {
    OwnBox m = b;
    if (flipAxis != 0) m.x0 = cols - b.x1, m.x1 = cols - b.x0;
    if (flipAxis != 1) m.y0 = rows - b.y1, m.y1 = rows - b.y0;
    return m;
}
OwnBox ownMeet(const OwnBox& a, const OwnBox& b) {
    return OwnBox{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1),
                  std::min(a.y1, b.y1)};
}

// In place on a tiled image, the whole region: every pixel trades places
// with its mirror pixel once. The pixels that come first in the region
// (the left half for flip 1, the top half for flip 0 and -1, plus the left
// half of an odd middle row for flip -1) are taken tile by tile in walk
// order; each such tile is got for writing and, one at a time, each tile
// holding their mirror pixels (the same tile when the mirror lies in it),
// and the two parts are swapped through one row buffer. At most two tiles
// are held.
void ownFlipTilesInPlace(VexImage* image, const OwnTileRange& t, int flipAxis) {
    const unsigned depth = image->depth;
    const int coi = ownCoi(image);
    const int rows = t.rows, cols = t.cols, tw = t.tileW, th = t.tileH;
    const int64_t rowBytes = int64_t(tw) * image->nChannels * ownElemSize(depth) + 8;
    OwnBlock tmpBlock;
    char* tmp = tmpBlock.alloc<char>(rowBytes);
    if (!tmp) {
        vexError(VEX_StsNoMem, kMirror.func, "Out of memory", kMirror.file, __LINE__);
        return;
    }
    // The pixels taken first: one box, or two for flip -1 with an odd row count.
    OwnBox halves[2] = {{0, 0, cols, rows / 2}, {0, rows / 2, cols / 2, rows / 2 + 1}};
    int nHalves = flipAxis == -1 && (rows & 1) ? 2 : 1;
    if (flipAxis == 1) halves[0] = OwnBox{0, 0, cols / 2, rows};
    ownForTiles(t, nullptr, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        const OwnBox piece{p.rx, p.ry, p.rx + p.w, p.ry + p.h};
        OwnBox first[2];
        int count = 0;
        for (int k = 0; k < nHalves; ++k) {
            first[count] = ownMeet(piece, halves[k]);
            if (!first[count].empty()) ++count;
        }
        if (!count) return true;
        char* data = ownRequestTile(kMirror, image, p.tx, p.ty, VEX_TILE_GET_WRITE, kErrTileWrite,
                                    __LINE__);
        if (!data) return false;
        bool ok = true;
        for (int k = 0; k < count && ok; ++k) {
            const OwnBox m = ownMirrorBox(first[k], flipAxis, cols, rows);
            const int qx0 = (t.x0 + m.x0) / tw, qx1 = (t.x0 + m.x1 - 1) / tw;
            const int qy0 = (t.y0 + m.y0) / th, qy1 = (t.y0 + m.y1 - 1) / th;
            for (int qy = qy0; qy <= qy1 && ok; ++qy)
                for (int qx = qx0; qx <= qx1 && ok; ++qx) {
                    const OwnBox tileBox{qx * tw - t.x0, qy * th - t.y0, (qx + 1) * tw - t.x0,
                                         (qy + 1) * th - t.y0};
                    const OwnBox mq = ownMeet(m, tileBox);
                    if (mq.empty()) continue;
                    const OwnBox rq = ownMirrorBox(mq, flipAxis, cols, rows);
                    const bool same = qx == p.tx && qy == p.ty;
                    char* other = same ? data
                                       : ownRequestTile(kMirror, image, qx, qy, VEX_TILE_GET_WRITE,
                                                        kErrTileWrite, __LINE__);
                    if (!other) {
                        ok = false;
                        break;
                    }
                    const int w = rq.x1 - rq.x0, h = rq.y1 - rq.y0;
                    ownSwapFlip(ownTileRegion(image, data, coi, t.x0 + rq.x0 - p.tx * tw,
                                              t.y0 + rq.y0 - p.ty * th, w, h),
                                ownTileRegion(image, other, coi, t.x0 + mq.x0 - qx * tw,
                                              t.y0 + mq.y0 - qy * th, w, h),
                                h, w, flipAxis, depth, tmp);
                    if (!same) ownReleaseTile(image, qx, qy, other);
                }
        }
        ownReleaseTile(image, p.tx, p.ty, data);
        return ok;
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
    if (!dstImage->tileInfo) {
        ownFlipFromTiles(srcImage, sx, sy, dstImage, rows, cols, flipAxis);
        return;
    }
    OwnTileRange t;
    if (!ownPairTileRange(srcImage, dstImage, &t)) return;
    if (srcImage != dstImage) {
        if (srcImage->tileInfo)
            ownFlipTileToTile(srcImage, sx, sy, dstImage, t, tile, flipAxis);
        else
            ownFlipIntoTiles(srcImage, sx, sy, dstImage, t, tile, flipAxis);
        return;
    }
    // In place on a tiled image. Flipping tile by tile would read tiles that
    // earlier tiles already overwrote: the whole region trades mirror pairs.
    if (!tile) {
        ownFlipTilesInPlace(dstImage, t, flipAxis);
        return;
    }
    // One tile: the rectangle that maps onto it (which may overlap it) is
    // gathered before the tile is written.
    int j, i;
    if (!ownSelectTile(t, tile, &j, &i)) return;
    const OwnTilePiece p = ownTilePiece(t, j, i);
    int step = 0;
    char* rect = ownGetRect(kMirror, srcImage, sx + ownMirrorX(flipAxis, cols, p.rx, p.w),
                            sy + ownMirrorY(flipAxis, rows, p.ry, p.h), p.w, p.h, &step);
    if (!rect) return;
    VexImage gathered = ownRectHeader(srcImage, rect, p.w, p.h);
    VexROI gatheredRoi{ownCoi(srcImage), 0, 0, p.h, p.w};
    gathered.roi = &gatheredRoi;
    ownOnTile(kMirror, dstImage, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dstImage),
              [&](VexImage& view) {
                  ownFlipImages(&gathered, &view, p.h, p.w, flipAxis);
                  return true;
              });
    vexFree(rect);
}
