#include "ownmove.h"
#include "ownsimd.h"
#include "ownstream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vex {

// ---------------------------------------------------------------------------
// Bit runs (1U rows). Bit 0 of a byte is its most significant bit.

namespace {

inline unsigned ownGetBits(const unsigned char* s, int64_t p, int k) {
    const int64_t b = p >> 3;
    const int o = static_cast<int>(p & 7);
    unsigned v = unsigned(s[b]) << 8;
    if (o + k > 8) v |= s[b + 1];
    return (v >> (16 - o - k)) & ((1u << k) - 1u);
}

inline void ownPutBits(unsigned char* d, int64_t p, int k, unsigned v) {
    const int64_t b = p >> 3;
    const int o = static_cast<int>(p & 7);
    if (o + k <= 8) {
        const unsigned shift = 8 - o - k;
        const unsigned mask = ((1u << k) - 1u) << shift;
        d[b] = static_cast<unsigned char>((d[b] & ~mask) | ((v << shift) & mask));
        return;
    }
    const int k1 = 8 - o, k2 = k - k1;
    ownPutBits(d, p, k1, v >> k2);
    ownPutBits(d, p + k1, k2, v & ((1u << k2) - 1u));
}

}  // namespace

void ownCopyBits(const unsigned char* src, int srcBit, unsigned char* dst, int dstBit, int64_t n) {
    if (n <= 0) return;
    if (srcBit == dstBit) {
        int64_t done = 0;
        if (dstBit) {
            const int k = static_cast<int>(std::min<int64_t>(8 - dstBit, n));
            ownPutBits(dst, dstBit, k, ownGetBits(src, srcBit, k));
            done = k;
        }
        const int64_t bytes = (n - done) >> 3;
        if (bytes > 0) std::memcpy(dst + ((dstBit + done) >> 3), src + ((srcBit + done) >> 3),
                                   static_cast<size_t>(bytes));
        done += bytes * 8;
        if (done < n)
            ownPutBits(dst, dstBit + done, static_cast<int>(n - done),
                       ownGetBits(src, srcBit + done, static_cast<int>(n - done)));
        return;
    }
    int64_t done = 0;
    while (done < n) {
        const int64_t q = dstBit + done;
        const int k = static_cast<int>(std::min<int64_t>(8 - (q & 7), n - done));
        ownPutBits(dst, q, k, ownGetBits(src, srcBit + done, k));
        done += k;
    }
}

void ownFillBits(unsigned char* dst, int dstBit, int64_t n, bool ones) {
    int64_t done = 0;
    const unsigned all = ones ? 0xFFu : 0u;
    while (done < n && ((dstBit + done) & 7)) {
        const int k = static_cast<int>(std::min<int64_t>(8 - ((dstBit + done) & 7), n - done));
        ownPutBits(dst, dstBit + done, k, all);
        done += k;
    }
    const int64_t bytes = (n - done) >> 3;
    if (bytes > 0) std::memset(dst + ((dstBit + done) >> 3), int(all), static_cast<size_t>(bytes));
    done += bytes * 8;
    if (done < n) ownPutBits(dst, dstBit + done, static_cast<int>(n - done), all);
}

void ownSwapBits(unsigned char* a, int aBit, unsigned char* b, int bBit, int64_t n) {
    int64_t done = 0;
    while (done < n) {
        const int64_t q = aBit + done;
        const int k = static_cast<int>(std::min<int64_t>(8 - (q & 7), n - done));
        const unsigned va = ownGetBits(a, q, k), vb = ownGetBits(b, bBit + done, k);
        ownPutBits(a, q, k, vb);
        ownPutBits(b, bBit + done, k, va);
        done += k;
    }
}

// ---------------------------------------------------------------------------
// Lanes.

OwnLanes ownLanes(const OwnRegion& r, int cols) {
    OwnLanes l;
    l.base = r.first;
    l.step = r.step;
    l.bitOffset = r.bitOffset;
    if (r.plane) {
        l.lanes = r.channels;
        l.laneStride = r.planeSize;
        l.samples = cols;
        l.pixStride = 1;
    } else if (r.coi > 0) {
        l.lanes = 1;
        l.laneStride = 0;
        l.samples = cols;
        l.pixStride = r.nChannels;
    } else {
        l.lanes = 1;
        l.laneStride = 0;
        l.samples = cols * r.nChannels;
        l.pixStride = 1;
    }
    return l;
}

namespace {

template <class T>
void ownStridedCopy(const char* s, int ss, char* d, int ds, int n) {
    const T* __restrict src = reinterpret_cast<const T*>(s);
    T* __restrict dst = reinterpret_cast<T*>(d);
    for (int i = 0; i < n; ++i) dst[int64_t(i) * ds] = src[int64_t(i) * ss];
}

template <class T>
void ownStridedSwap(char* a, int as, char* b, int bs, int n) {
    T* pa = reinterpret_cast<T*>(a);
    T* pb = reinterpret_cast<T*>(b);
    for (int i = 0; i < n; ++i) std::swap(pa[int64_t(i) * as], pb[int64_t(i) * bs]);
}

OWN_CLONES void ownFillRun(uint16_t* dst, int n, uint16_t v) {
    for (int i = 0; i < n; ++i) dst[i] = v;
}
OWN_CLONES void ownFillRun(uint32_t* dst, int n, uint32_t v) {
    for (int i = 0; i < n; ++i) dst[i] = v;
}
void ownFillRun(uint8_t* dst, int n, uint8_t v) { std::memset(dst, v, size_t(n)); }

template <class T>
void ownStridedFill(char* d, int ds, int n, T v) {
    T* dst = reinterpret_cast<T*>(d);
    if (ds == 1) {
        ownFillRun(dst, n, v);
    } else {
        for (int i = 0; i < n; ++i) dst[int64_t(i) * ds] = v;
    }
}

// A large block in cache-sized pieces: the C library switches to streaming
// stores for very large copies, which are slower here than ordinary stores
// when the destination is read again soon.
void ownCopyBlock(char* dst, const char* src, size_t n) {
    constexpr size_t kPiece = size_t(1) << 16;
    for (size_t done = 0; done < n; done += kPiece)
        std::memcpy(dst + done, src + done, std::min(kPiece, n - done));
}

// Walks the matching lane rows of two regions.
template <class RowFn>
void ownForLaneRows(const OwnLanes& a, const OwnLanes& b, int rows, RowFn fn) {
    for (int k = 0; k < a.lanes; ++k) {
        char* pa = a.base + a.laneStride * k;
        char* pb = b.base + b.laneStride * k;
        for (int y = 0; y < rows; ++y) fn(pa + a.step * y, pb + b.step * y);
    }
}

}  // namespace

void ownCopyRegion(const OwnRegion& s, const OwnRegion& d, int rows, int cols, unsigned depth,
                   int64_t callBytes) {
    if (rows <= 0 || cols <= 0) return;
    const OwnLanes ls = ownLanes(s, cols), ld = ownLanes(d, cols);
    if (depth == VEX_DEPTH_1U) {
        ownForLaneRows(ls, ld, rows, [&](char* ps, char* pd) {
            ownCopyBits(reinterpret_cast<unsigned char*>(ps), ls.bitOffset,
                        reinterpret_cast<unsigned char*>(pd), ld.bitOffset, cols);
        });
        return;
    }
    const int esize = ownElemSize(depth);
    if (ls.pixStride == 1 && ld.pixStride == 1) {
        const size_t bytes = size_t(ls.samples) * esize;
        // Rows back to back in both images: one block per lane.
        if (ls.step == ld.step && int64_t(bytes) == ls.step) {
            for (int k = 0; k < ls.lanes; ++k)
                ownCopyBlock(ld.base + ld.laneStride * k, ls.base + ls.laneStride * k,
                             bytes * size_t(rows));
            return;
        }
        // Short rows a page or more apart (a tile's part of a large untiled
        // image): the hardware prefetcher does not follow them, so the rows
        // eight ahead are asked for, the destination's for writing. (Into
        // 256-byte tile rows from a 4096-byte-wide source, eight rows took
        // 0.85 to 1.01 of the time with four; out of tiles no difference.)
        const bool aheadSrc = rows > 1 && bytes <= 2048 && ls.step >= 2048;
        const bool aheadDst = rows > 1 && bytes <= 2048 && ld.step >= 2048;
        constexpr int kAhead = 8;
        // Row y + kAhead of a lane: the source's when aheadSrc, the
        // destination's (for writing) when `dst`.
        auto ahead = [&](const char* ps, char* pd, int64_t y, bool dst) __attribute__((always_inline)) {
            if (y + kAhead >= rows) return;
            if (aheadSrc) ownPrefetchRow(ps + ls.step * (y + kAhead), int64_t(bytes));
            if (dst) ownPrefetchRow<true>(pd + ld.step * (y + kAhead), int64_t(bytes));
        };
#if defined(__SSE2__)
        // Into a tile of a large call: its rows lie back to back and are
        // streamed whole lines at a time (ownStreamJoined).
        if (rows > 1 && int64_t(bytes) == ld.step && int64_t(bytes) <= kStageBytes &&
            ownStreamHead(ld.base, int64_t(bytes), callBytes) >= 0) {
            for (int k = 0; k < ls.lanes; ++k) {
                const char* ps = ls.base + ls.laneStride * k;
                char* pd = ld.base + ld.laneStride * k;
                if (ownStreamAlignedFits(pd, int64_t(bytes))) {
                    const char* row = nullptr;
                    ownStreamAligned(
                        pd, int64_t(bytes), rows,
                        [&](int64_t y) __attribute__((always_inline)) {
                            ahead(ps, pd, y, false);
                            row = ps + ls.step * y;
                        },
                        [&](int64_t i, int64_t n, char* out) __attribute__((always_inline)) {
                            if (n == 64)
                                std::memcpy(out, row + i, 64);
                            else
                                std::memcpy(out, row + i, size_t(n));
                        });
                    continue;
                }
                ownStreamJoined(pd, int64_t(bytes), rows, [&](int64_t y, char* out) {
                    ahead(ps, pd, y, false);
                    std::memcpy(out, ps + ls.step * y, bytes);
                });
            }
            ownStoreFence();
            return;
        }
#endif
        if (aheadSrc || aheadDst) {
            for (int k = 0; k < ls.lanes; ++k) {
                const char* ps = ls.base + ls.laneStride * k;
                char* pd = ld.base + ld.laneStride * k;
                for (int y = 0; y < rows; ++y) {
                    ahead(ps, pd, y, aheadDst);
                    std::memcpy(pd + ld.step * y, ps + ls.step * y, bytes);
                }
            }
            return;
        }
        ownForLaneRows(ls, ld, rows, [&](char* ps, char* pd) { std::memcpy(pd, ps, bytes); });
        return;
    }
    ownForLaneRows(ls, ld, rows, [&](char* ps, char* pd) {
        switch (esize) {
            case 1: ownStridedCopy<uint8_t>(ps, ls.pixStride, pd, ld.pixStride, ls.samples); break;
            case 2: ownStridedCopy<uint16_t>(ps, ls.pixStride, pd, ld.pixStride, ls.samples); break;
            default: ownStridedCopy<uint32_t>(ps, ls.pixStride, pd, ld.pixStride, ls.samples); break;
        }
    });
}

void ownSwapRegion(const OwnRegion& a, const OwnRegion& b, int rows, int cols, unsigned depth) {
    if (rows <= 0 || cols <= 0) return;
    const OwnLanes la = ownLanes(a, cols), lb = ownLanes(b, cols);
    if (depth == VEX_DEPTH_1U) {
        ownForLaneRows(la, lb, rows, [&](char* pa, char* pb) {
            ownSwapBits(reinterpret_cast<unsigned char*>(pa), la.bitOffset,
                        reinterpret_cast<unsigned char*>(pb), lb.bitOffset, cols);
        });
        return;
    }
    const int esize = ownElemSize(depth);
    ownForLaneRows(la, lb, rows, [&](char* pa, char* pb) {
        switch (esize) {
            case 1: ownStridedSwap<uint8_t>(pa, la.pixStride, pb, lb.pixStride, la.samples); break;
            case 2: ownStridedSwap<uint16_t>(pa, la.pixStride, pb, lb.pixStride, la.samples); break;
            default: ownStridedSwap<uint32_t>(pa, la.pixStride, pb, lb.pixStride, la.samples); break;
        }
    });
}

void ownFillRegion(const OwnRegion& d, int rows, int cols, unsigned depth, int value) {
    if (rows <= 0 || cols <= 0) return;
    const OwnLanes ld = ownLanes(d, cols);
    // Rows back to back (contiguous lanes without padding): one run per lane.
    int samples = ld.samples;
    if (ld.pixStride == 1 && depth != VEX_DEPTH_1U &&
        int64_t(samples) * ownElemSize(depth) == ld.step) {
        samples = static_cast<int>(std::min<int64_t>(int64_t(samples) * rows, INT32_MAX));
        if (int64_t(samples) == int64_t(ld.samples) * rows) rows = 1;
        else samples = ld.samples;
    }
    for (int k = 0; k < ld.lanes; ++k) {
        char* lane = ld.base + ld.laneStride * k;
        for (int y = 0; y < rows; ++y) {
            char* row = lane + ld.step * y;
            switch (ownDepthBits(depth)) {
                case 1:
                    ownFillBits(reinterpret_cast<unsigned char*>(row), ld.bitOffset, cols, value & 1);
                    break;
                case 8: ownStridedFill<uint8_t>(row, ld.pixStride, samples, uint8_t(value)); break;
                case 16: ownStridedFill<uint16_t>(row, ld.pixStride, samples, uint16_t(value)); break;
                default: ownStridedFill<uint32_t>(row, ld.pixStride, samples, uint32_t(value)); break;
            }
        }
    }
}

}  // namespace vex
