// The pixel-wise frame shared by the arithmetic, logic, shift and threshold
// operations: the kernel that lays one piece of each image out as runs of
// samples, the tile walk that cuts tiled images into such pieces, and the
// row templates that turn a per-sample rule (ownrules.h) into a row kernel.
//
// An operation file holds only its checks and its table of row kernels,
// indexed by ownDepthIndex of the destination depth.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/ownimage.h"
#include "image/ownsimd.h"
#include "image/ownstream.h"

namespace vex {

// Parameters of one call, read by the rules' constructors.
struct OwnPixelArgs {
    int64_t value = 0;     // signed scalar (vexAddS, vexSubtractS, threshold)
    uint32_t uvalue = 0;   // unsigned scalar (vexMultiplyS)
    uint32_t pattern = 0;  // bit pattern of the logical scalar operations
    unsigned shift = 0;    // shift count
};

// One run of n samples in each image. Sources come first; unused source
// slots are null. inc is the sample step in elements (1 = contiguous); for
// 1U, bit is the bit index of the first sample in its byte (0 = MSB).
struct OwnRun {
    const void* src[2];
    int64_t srcInc[2];
    int srcBit[2];
    void* dst;
    int64_t dstInc;
    int dstBit;
    int64_t n;
    // Destination bytes the whole call writes, when it is cut into many runs
    // (a tile walk); 0 otherwise. Runs of a call that writes at least
    // kStreamBytes are streamed like one long run; the walk then fences the
    // stores itself (ownStoreFence) before it hands a tile back.
    int64_t callBytes = 0;
    // `rows` runs of n samples each; row k of an image starts its step
    // (bytes) after row k - 1. One call covers a whole piece of a tile walk.
    int64_t rows = 1;
    int64_t srcStep[2] = {0, 0};
    int64_t dstStep = 0;
    // Rows far apart: the first `aheadCount` images (sources first, then
    // the destination) have aheadBytes of the row `ahead` rows further on
    // asked for before each row is processed (0: nothing is asked for).
    int ahead = 0;
    int aheadCount = 0;
    int64_t aheadBytes = 0;
};

// The start of row y of image i of a run (i == 2 names the destination).
inline const char* ownRunRowAt(const OwnRun& r, int i, int64_t y) {
    return i < 2 ? static_cast<const char*>(r.src[i]) + y * r.srcStep[i]
                 : static_cast<const char*>(r.dst) + y * r.dstStep;
}

// Asks for the row `ahead` rows after y of the run's first aheadCount
// images: the hardware prefetcher does not follow rows that start a page or
// more apart (a tile-sized piece of a large untiled image).
__attribute__((always_inline)) inline void ownRunPrefetch(const OwnRun& r, int nSrc, int64_t y) {
    if (!r.ahead || y + r.ahead >= r.rows) return;
    for (int k = 0; k < r.aheadCount; ++k) {
        const char* p = ownRunRowAt(r, k < nSrc ? k : 2, y + r.ahead);
        ownPrefetchRow(p, r.aheadBytes);
    }
}

// The destination rows of the run lie back to back (see ownStreamJoined).
inline bool ownRunJoined(const OwnRun& r, size_t esize) {
    return r.rows > 1 && r.dstStep == r.n * int64_t(esize);
}

using OwnRowFn = void (*)(const OwnRun& run, const OwnPixelArgs& args);

// Channels an image takes part with: 1 with a non-zero coi, else nChannels.
inline int ownPixelChannels(const VexImage* image) {
    return image->roi && image->roi->coi != 0 ? 1 : image->nChannels;
}

enum OwnPixelFlags : unsigned {
    kPixelNone = 0,
    // Tile-walk texts written "((void *)0)" instead of "((void*)(0))".
    kPixelSpacedNull = 1,
    // The kernel locates both pieces and compares their channel counts
    // itself, reporting "The fields of ROI has error" and "The mismath of
    // number channels" (the threshold's checks).
    kPixelPieceChecks = 2,
    // Whole-buffer case as 32-bit words (dataSize / 4 of them).
    kPixelWholeWords = 4,
};

struct OwnPixelOp {
    OwnSite site;
    const OwnRowFn* rows;  // kDepthCount entries
    unsigned flags;
};

// The argument checks of the one-source members (srcImage, dstImage) and of
// the two-source members (srcImageA, srcImageB, dstImage), in their order:
// the headers, depths, data orders, then the channel counts. Each failure is
// reported under `site`; true when all pass.
bool ownPixelChecks1(const OwnSite& site, const VexImage* srcImage, const VexImage* dstImage);
bool ownPixelChecks2(const OwnSite& site, const VexImage* srcImageA, const VexImage* srcImageB,
                     const VexImage* dstImage);

// Runs an operation whose argument checks have passed, on two images
// (srcImage, dstImage) or three (srcImageA, srcImageB, dstImage); the
// destination is the last. Untiled images go to the kernel at once; with
// any tiled image the pixel-wise tile walk cuts the work into pieces,
// restricted to one destination tile by a non-null `tile` when the
// destination is tiled (after the four dTile checks).
void ownPixel(const OwnPixelOp& op, VexImage* const* images, int count, const int* tile,
              const OwnPixelArgs& args);

inline void ownPixel2(const OwnPixelOp& op, VexImage* src, VexImage* dst, const int* tile,
                      const OwnPixelArgs& args = OwnPixelArgs()) {
    VexImage* images[2] = {src, dst};
    ownPixel(op, images, 2, tile, args);
}
inline void ownPixel3(const OwnPixelOp& op, VexImage* a, VexImage* b, VexImage* dst,
                      const int* tile, const OwnPixelArgs& args = OwnPixelArgs()) {
    VexImage* images[3] = {a, b, dst};
    ownPixel(op, images, 3, tile, args);
}

// The scalar pattern of the logical operations for a depth: 1U all bits
// equal to bit 0 of value, 8-bit the low byte four times, 16-bit the low
// half twice, 32-bit the value itself.
uint32_t ownPattern(unsigned depth, uint32_t value);

// ------------------------------------------------------------ row templates

// One contiguous run: d[i] = at(i) for i < n, with the results of long runs
// (or of the runs of a call writing at least kStreamBytes in all) streamed
// past the cache in chunks (see kStreamBytes). `at` reads only the inputs at
// index i.
template <class T, class At>
__attribute__((always_inline)) inline void ownStreamRun(T* __restrict d, int64_t n, At at,
                                                        int64_t callBytes = 0) {
    int64_t i = 0;
#if defined(__SSE2__)
    const int64_t head = ownStreamHead(d, n, callBytes);
    if (head >= 0) {
        constexpr int kCount = kStreamChunk / sizeof(T);
        for (; i < std::min(head, n); ++i) d[i] = at(i);
        for (; i + kCount <= n; i += kCount) {
            alignas(64) T chunk[kCount];
            for (int k = 0; k < kCount; ++k) chunk[k] = at(i + k);
            ownStreamChunk(d + i, chunk, kStreamChunk);
        }
        // The whole lines left, a line at a time: all of a short run, such
        // as a row of a tile, so that a tile walk streams too.
        constexpr int kLine = 64 / sizeof(T);
        for (; i + kLine <= n; i += kLine) {
            alignas(64) T chunk[kLine];
            for (int k = 0; k < kLine; ++k) chunk[k] = at(i + k);
            ownStreamChunk(d + i, chunk, 64);
        }
        // A walk fences once per tile it hands back (ownStoreFence), not
        // once per run.
        if (!callBytes) _mm_sfence();
    }
#endif
    for (; i < n; ++i) d[i] = at(i);
}

// Contiguous rows of one or two sources (kSources). Sources and
// destination may be the same buffer (an operation in place): each result
// depends only on the inputs at its own index, which are loaded before it
// is stored, so exact aliasing is safe. The row loop runs inside the clone,
// one call per piece.
template <int kSources, class Op>
__attribute__((always_inline)) inline void ownRunRows(const OwnRun& r, const Op& op) {
    using T = typename Op::Sample;
    auto at = [&op](const T* __restrict a, const T* __restrict b, int64_t i) {
        if constexpr (kSources == 2)
            return op(a[i], b[i]);
        else
            return op(a[i]);
    };
    auto source = [](const OwnRun& q, int k, int64_t y) {
        return k < kSources ? reinterpret_cast<const T*>(ownRunRowAt(q, k, y)) : nullptr;
    };
#if defined(__SSE2__)
    if (ownRunJoined(r, sizeof(T)) && ownStreamAlignedFits(static_cast<T*>(r.dst), r.n) &&
        ownStreamHead(static_cast<T*>(r.dst), r.n, r.callBytes) >= 0) {
        const OwnRun q = r;
        const T* __restrict a = nullptr;
        const T* __restrict b = nullptr;
        ownStreamAligned(
            static_cast<T*>(q.dst), q.n, q.rows,
            [&](int64_t y) {
                ownRunPrefetch(q, kSources, y);
                a = source(q, 0, y);
                b = source(q, 1, y);
            },
            [&](int64_t i, int64_t k, T* __restrict out) {
                for (int64_t j = 0; j < k; ++j) out[j] = at(a, b, i + j);
            });
        return;
    }
    if (ownRunJoined(r, sizeof(T)) && r.n * int64_t(sizeof(T)) <= kStageBytes &&
        ownStreamHead(static_cast<T*>(r.dst), r.n, r.callBytes) >= 0) {
        // A copy of the run: the stores into the staging buffer (bytes)
        // could otherwise alias its fields, which would then be read again
        // for every row.
        const OwnRun q = r;
        ownStreamJoined(static_cast<T*>(q.dst), q.n, q.rows, [&](int64_t y, T* __restrict out) {
            ownRunPrefetch(q, kSources, y);
            const T* __restrict a = source(q, 0, y);
            const T* __restrict b = source(q, 1, y);
            for (int64_t i = 0; i < q.n; ++i) out[i] = at(a, b, i);
        });
        return;
    }
#endif
    for (int64_t y = 0; y < r.rows; ++y) {
        ownRunPrefetch(r, kSources, y);
        const T* __restrict a = source(r, 0, y);
        const T* __restrict b = source(r, 1, y);
        T* __restrict d = reinterpret_cast<T*>(const_cast<char*>(ownRunRowAt(r, 2, y)));
        ownStreamRun(d, r.n, [&](int64_t i) { return at(a, b, i); }, r.callBytes);
    }
}

template <class Op>
OWN_CLONES void ownBinaryRun(const OwnRun& r, const Op op) {
    ownRunRows<2>(r, op);
}

template <class Op>
OWN_CLONES void ownUnaryRun(const OwnRun& r, const Op op) {
    ownRunRows<1>(r, op);
}

// One contiguous run of n samples (the whole-byte middle of a 1U row).
template <class Op>
inline void ownBinaryBytes(const typename Op::Sample* a, const typename Op::Sample* b,
                           typename Op::Sample* d, int64_t n, const Op& op) {
    OwnRun r{};
    r.src[0] = a;
    r.src[1] = b;
    r.dst = d;
    r.n = n;
    ownBinaryRun(r, op);
}
template <class Op>
inline void ownUnaryBytes(const typename Op::Sample* a, typename Op::Sample* d, int64_t n,
                          const Op& op) {
    OwnRun r{};
    r.src[0] = a;
    r.dst = d;
    r.n = n;
    ownUnaryRun(r, op);
}

template <class Op>
void ownBinaryRow(const OwnRun& r, const OwnPixelArgs& args) {
    using T = typename Op::Sample;
    const Op op(args);
    if (r.srcInc[0] == 1 && r.srcInc[1] == 1 && r.dstInc == 1) {
        ownBinaryRun(r, op);
        return;
    }
    for (int64_t y = 0; y < r.rows; ++y) {
        ownRunPrefetch(r, 2, y);
        const T* a = reinterpret_cast<const T*>(ownRunRowAt(r, 0, y));
        const T* b = reinterpret_cast<const T*>(ownRunRowAt(r, 1, y));
        T* d = reinterpret_cast<T*>(const_cast<char*>(ownRunRowAt(r, 2, y)));
        for (int64_t i = 0; i < r.n; ++i) d[i * r.dstInc] = op(a[i * r.srcInc[0]], b[i * r.srcInc[1]]);
    }
}

template <class Op>
void ownUnaryRow(const OwnRun& r, const OwnPixelArgs& args) {
    using T = typename Op::Sample;
    const Op op(args);
    if (r.srcInc[0] == 1 && r.dstInc == 1) {
        ownUnaryRun(r, op);
        return;
    }
    for (int64_t y = 0; y < r.rows; ++y) {
        ownRunPrefetch(r, 1, y);
        const T* a = reinterpret_cast<const T*>(ownRunRowAt(r, 0, y));
        T* d = reinterpret_cast<T*>(const_cast<char*>(ownRunRowAt(r, 2, y)));
        for (int64_t i = 0; i < r.n; ++i) d[i * r.dstInc] = op(a[i * r.srcInc[0]]);
    }
}

// ---------------------------------------------------------------- 1U rows
// n bits from each image's own bit offset. Byte rules apply to the bits in
// place, so when all offsets agree the middle of the run is whole bytes;
// otherwise each destination byte gathers the matching bits of the sources.

// k bits (1..8) starting at bit index `bit` of p, left-aligned in a byte.
inline uint8_t ownTakeBits(const uint8_t* p, int64_t bit, int k) {
    const int64_t i = bit >> 3;
    const int sh = static_cast<int>(bit & 7);
    unsigned v = unsigned(p[i]) << 8;
    if (sh + k > 8) v |= p[i + 1];
    return uint8_t(((v << sh) >> 8) & (0xFFu << (8 - k)));
}

// Bits lo..lo+k-1 of a byte (bit 0 = MSB).
inline uint8_t ownBitMask(int lo, int k) {
    return uint8_t((0xFFu >> lo) & (0xFFu << (8 - lo - k)));
}

template <class F>
inline void ownBitWalk(const OwnRun& r, int nSrc, F f) {
    const int b1 = nSrc > 1 ? r.srcBit[1] : r.srcBit[0];
    const bool aligned = r.srcBit[0] == r.dstBit && b1 == r.dstBit;
    for (int64_t y = 0; y < r.rows; ++y) {
        ownRunPrefetch(r, nSrc, y);
        const uint8_t* s0 = reinterpret_cast<const uint8_t*>(ownRunRowAt(r, 0, y));
        const uint8_t* s1 =
            nSrc > 1 ? reinterpret_cast<const uint8_t*>(ownRunRowAt(r, 1, y)) : s0;
        uint8_t* d = reinterpret_cast<uint8_t*>(const_cast<char*>(ownRunRowAt(r, 2, y)));
        int64_t done = 0;
        while (done < r.n) {
            const int64_t pos = r.dstBit + done;
            const int64_t byte = pos >> 3;
            const int lo = static_cast<int>(pos & 7);
            if (aligned && lo == 0 && r.n - done >= 8) {
                const int64_t whole = (r.n - done) >> 3;
                f.bytes(s0 + byte, s1 + byte, d + byte, whole);
                done += whole * 8;
                continue;
            }
            const int k = static_cast<int>(std::min<int64_t>(8 - lo, r.n - done));
            const uint8_t va = uint8_t(ownTakeBits(s0, r.srcBit[0] + done, k) >> lo);
            const uint8_t vb = uint8_t(ownTakeBits(s1, b1 + done, k) >> lo);
            const uint8_t m = ownBitMask(lo, k);
            d[byte] = uint8_t((d[byte] & ~m) | (f.one(va, vb) & m));
            done += k;
        }
    }
}

template <class Op>
void ownBitBinaryRow(const OwnRun& r, const OwnPixelArgs& args) {
    struct {
        Op op;
        void bytes(const uint8_t* a, const uint8_t* b, uint8_t* d, int64_t n) const {
            ownBinaryBytes(a, b, d, n, op);
        }
        uint8_t one(uint8_t a, uint8_t b) const { return op(a, b); }
    } f{Op(args)};
    ownBitWalk(r, 2, f);
}

template <class Op>
void ownBitUnaryRow(const OwnRun& r, const OwnPixelArgs& args) {
    struct {
        Op op;
        void bytes(const uint8_t* a, const uint8_t*, uint8_t* d, int64_t n) const {
            ownUnaryBytes(a, d, n, op);
        }
        uint8_t one(uint8_t a, uint8_t) const { return op(a); }
    } f{Op(args)};
    ownBitWalk(r, 1, f);
}

}  // namespace vex
