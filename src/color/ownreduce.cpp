// Bit reduction: the plain reduction by arithmetic shift, the jittered
// reduction driven by three process-wide random tables, and dithering of a
// reduced block by error diffusion (Floyd-Steinberg, Jarvis-Judice-Ninke,
// Stucki) or by a 4 x 4 ordered matrix.
//
// Choices of this library:
//  - An error share that would carry a sample past the depth's maximum
//    leaves it at the maximum, and an ordered-dither step that would pass
//    the maximum (a value in the last, partial grid cell) stops there too.
//    Errors are never negative (q <= v), so no lower limit is needed.
//  - The ordered matrix entries 0, 15, ..., 225 are sixteenths of 240, and
//    each stands for the middle of its sixteenth of the grid cell: a sample
//    is raised when (v - q) * 480 exceeds (2 * entry + 15) * S (16U entries
//    are the 8U ones times 257 and compare with 257 times the left side).
//    The sixteen thresholds so lie evenly across the cell, and the mean
//    brightness is kept.
//  - The jitter applies to values below the source maximum minus the jitter
//    step; higher values are reduced unchanged.
//  - Values are dithered per channel: the channel of interest when the
//    destination has one, only the first channel of a gray image (channelSeq
//    beginning with 'G'), else the first three channels; an alpha channel
//    beyond them is reduced but not dithered.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "color/owncolor.h"
#include "frame/ownframe.h"
#include "image/ownsimd.h"

namespace vex {

namespace {

// The process-wide jitter tables. Calls with a non-zero jitter refill them
// from rand(); such calls must not overlap.
double gFraction1[1024];
double gFraction2[1024];
int gIndex[1024];

}  // namespace

void ownFillJitterTables() {
    for (double& f : gFraction1) f = double(std::rand() % 1024) / 1024.0;
    for (double& f : gFraction2) f = double(std::rand() % 1024) / 1024.0;
    for (int& p : gIndex) p = std::rand() % 1024;
}
const double* ownJitterFractions() { return gFraction1; }
const int* ownJitterIndices() { return gIndex; }
const double* ownJitterFractions2() { return gFraction2; }

int ownDitherStep(unsigned dstDepth, int quantShift) {
    const int bits = dstDepth == VEX_DEPTH_16U ? 16 : 8;
    const int maxValue = dstDepth == VEX_DEPTH_16U ? 65535 : 255;
    if (quantShift < 0) quantShift = 0;
    if (quantShift > bits) quantShift = bits / 2;
    return std::max(1, maxValue >> quantShift);
}

bool ownReducePair(unsigned s, unsigned d) {
    return (s == VEX_DEPTH_32S && (d == VEX_DEPTH_16U || d == VEX_DEPTH_8U)) ||
           (s == VEX_DEPTH_16U && d == VEX_DEPTH_8U) || (s == VEX_DEPTH_8U && d == VEX_DEPTH_1U);
}

namespace {

// ---------------------------------------------------------------------------
// Plain reduction of n samples (inc elements apart on each side).

template <class S, class D, int Shift>
void ownShiftRunT(const S* __restrict s, int64_t si, D* __restrict d, int64_t di, int64_t n) {
    if (si == 1 && di == 1) {
        for (int64_t i = 0; i < n; ++i) d[i] = D(s[i] >> Shift);
        return;
    }
    for (int64_t i = 0; i < n; ++i) d[i * di] = D(s[i * si] >> Shift);
}
OWN_CLONES void ownReduce32to16(const int32_t* s, int64_t si, uint16_t* d, int64_t di, int64_t n) {
    ownShiftRunT<int32_t, uint16_t, 15>(s, si, d, di, n);
}
OWN_CLONES void ownReduce32to8(const int32_t* s, int64_t si, uint8_t* d, int64_t di, int64_t n) {
    ownShiftRunT<int32_t, uint8_t, 23>(s, si, d, di, n);
}
OWN_CLONES void ownReduce16to8(const uint16_t* s, int64_t si, uint8_t* d, int64_t di, int64_t n) {
    ownShiftRunT<uint16_t, uint8_t, 8>(s, si, d, di, n);
}
// 8U to 1U: bit i of the row (most significant first) set when the sample
// exceeds 127; bits past n keep their values.
void ownReduce8to1(const uint8_t* s, int64_t si, uint8_t* d, int64_t n) {
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        unsigned byte = 0;
        for (int b = 0; b < 8; ++b) byte |= unsigned(s[(i + b) * si] > 127) << (7 - b);
        d[i >> 3] = uint8_t(byte);
    }
    for (; i < n; ++i) {
        const uint8_t bit = uint8_t(0x80u >> (i & 7));
        if (s[i * si] > 127)
            d[i >> 3] |= bit;
        else
            d[i >> 3] &= uint8_t(~bit);
    }
}

void ownReduceRun(unsigned sd, unsigned dd, const char* s, int64_t si, char* d, int64_t di, int64_t n) {
    if (sd == VEX_DEPTH_32S && dd == VEX_DEPTH_16U)
        ownReduce32to16(reinterpret_cast<const int32_t*>(s), si, reinterpret_cast<uint16_t*>(d), di, n);
    else if (sd == VEX_DEPTH_32S)
        ownReduce32to8(reinterpret_cast<const int32_t*>(s), si, reinterpret_cast<uint8_t*>(d), di, n);
    else if (sd == VEX_DEPTH_16U)
        ownReduce16to8(reinterpret_cast<const uint16_t*>(s), si, reinterpret_cast<uint8_t*>(d), di, n);
    else
        ownReduce8to1(reinterpret_cast<const uint8_t*>(s), si, reinterpret_cast<uint8_t*>(d), n);
}

// ---------------------------------------------------------------------------
// Jittered reduction of one lane row: sample x of row y (both counted from
// the block's corner).

struct OwnJitterPair {
    int64_t step;     // jitter step S
    int64_t srcMax;   // source maximum
    int shift;        // plain reduction shift (-1: to 1 bit)
};

OwnJitterPair ownJitterPair(unsigned sd, unsigned dd) {
    if (sd == VEX_DEPTH_32S && dd == VEX_DEPTH_16U) return {65536, 2147483647, 15};
    if (sd == VEX_DEPTH_32S) return {16777216, 2147483647, 23};
    if (sd == VEX_DEPTH_16U) return {256, 65535, 8};
    return {16, 255, -1};
}

template <class S>
void ownJitterRow(const OwnJitterPair& jp, int J, const S* s, int64_t si, char* d, int64_t di,
                  unsigned dd, int64_t n, int64_t y) {
    const int64_t S_ = jp.step;
    const int64_t pY = gIndex[y & 1023];
    for (int64_t x = 0; x < n; ++x) {
        int64_t v = s[x * si];
        if (v < jp.srcMax - S_) {
            const double r1 = gFraction1[(x + 4 * y + gIndex[x & 1023]) & 1023];
            const double r2 = gFraction1[(y + 4 * x + pY) & 1023];
            const int64_t m = v >= 0 ? v % S_ : -((-v) % S_);
            if (m <= int64_t(9.0 * r1)) v += S_;
            const int64_t moved = v + (int64_t(2.0 * J * r2 + 0.5) - J) * S_;
            if (moved >= 0 && moved <= jp.srcMax) v = moved;
        }
        if (jp.shift < 0) {
            uint8_t* row = reinterpret_cast<uint8_t*>(d);
            const uint8_t bit = uint8_t(0x80u >> (x & 7));
            if (v > 127)
                row[x >> 3] |= bit;
            else
                row[x >> 3] &= uint8_t(~bit);
        } else if (dd == VEX_DEPTH_16U) {
            reinterpret_cast<uint16_t*>(d)[x * di] = uint16_t(v >> jp.shift);
        } else {
            reinterpret_cast<uint8_t*>(d)[x * di] = uint8_t(v >> jp.shift);
        }
    }
}

// ---------------------------------------------------------------------------
// Dithering.

const int kOrdered[16] = {0, 120, 30, 150, 180, 60, 210, 90, 45, 165, 15, 135, 225, 105, 195, 75};

struct OwnDiffusion {
    int right[2];
    int next[5];
    int after[5];
    int shift;
    int rows;  // rows reached below the current one
};

OwnDiffusion ownDiffusion(int type, bool wide) {
    switch (type) {
        case 2: return {{7, 0}, {0, 3, 5, 1, 0}, {0, 0, 0, 0, 0}, 4, 1};
        case 4:
            return wide ? OwnDiffusion{{9557, 6826}, {4095, 6826, 9557, 6826, 4095},
                                       {1365, 4095, 6826, 4095, 1365}, 16, 2}
                        : OwnDiffusion{{37, 26}, {15, 26, 37, 26, 15}, {5, 15, 26, 15, 5}, 8, 2};
        default:
            return wide ? OwnDiffusion{{12482, 6241}, {3120, 6241, 12482, 6241, 3120},
                                       {1560, 3120, 6241, 3120, 1560}, 16, 2}
                        : OwnDiffusion{{48, 24}, {12, 24, 48, 24, 12}, {6, 12, 24, 12, 6}, 8, 2};
    }
}

// Error diffusion with the shares of the rows below kept in two error rows
// (two columns of margin on each side). Every share is non-negative, so
// adding them up and limiting once equals limiting after each addition.
template <class T>
bool ownDiffuse(char* first, int64_t step, int inc, int rows, int cols, const OwnDiffusion& w,
                int gridStep, int maxValue) {
    const int64_t width = int64_t(cols) + 4;
    OwnBlock errBlock;
    int* err = errBlock.alloc<int>(width * 3);
    if (!err) return false;
    std::memset(err, 0, size_t(width * 3 * 4));
    int* rowErr[3] = {err + 2, err + width + 2, err + 2 * width + 2};
    // floor(v / S) as (v * m) >> 32 with m = ceil(2^32 / S): exact for v < 2^16.
    const uint64_t m = ((uint64_t(1) << 32) + uint64_t(gridStep) - 1) / uint64_t(gridStep);
    for (int y = 0; y < rows; ++y) {
        T* p = reinterpret_cast<T*>(first + step * y);
        int* cur = rowErr[0];
        int* nxt = rowErr[1];
        int* aft = rowErr[2];
        int carry1 = 0, carry2 = 0;  // shares for x + 1 and x + 2 on this row
        for (int x = 0; x < cols; ++x) {
            const int v = std::min(maxValue, int(p[int64_t(x) * inc]) + cur[x] + carry1);
            const int q = int((uint64_t(v) * m) >> 32) * gridStep;
            const int e = v - q;
            p[int64_t(x) * inc] = T(q);
            carry1 = carry2 + ((e * w.right[0]) >> w.shift);
            carry2 = (e * w.right[1]) >> w.shift;
            for (int k = 0; k < 5; ++k) {
                const int xx = x + k - 2;
                if (xx < 0 || xx >= cols) continue;
                nxt[xx] += (e * w.next[k]) >> w.shift;
                if (w.rows > 1) aft[xx] += (e * w.after[k]) >> w.shift;
            }
        }
        std::memset(cur - 2, 0, size_t(width * 4));
        rowErr[0] = nxt, rowErr[1] = aft, rowErr[2] = cur;
    }
    return true;
}

template <class T>
void ownOrdered(char* first, int64_t step, int inc, int rows, int cols, int gridStep, int maxValue,
                int elemScale, int elemBase, int entryScale) {
    for (int y = 0; y < rows; ++y) {
        T* p = reinterpret_cast<T*>(first + step * y);
        for (int x = 0; x < cols; ++x) {
            const int v = p[int64_t(x) * inc];
            const int q = v / gridStep * gridStep;
            const int64_t e = int64_t(elemScale) * x + elemBase;
            const int64_t entry = int64_t(kOrdered[(e & 3) * 4 + (y & 3)]) * entryScale;
            const bool raise = int64_t(v - q) * 480 * entryScale > (2 * entry + 15 * entryScale) * gridStep;
            p[int64_t(x) * inc] = T(raise ? std::min(maxValue, q + gridStep) : q);
        }
    }
}

}  // namespace

bool ownDitherLane(unsigned depth, char* first, int64_t step, int inc, int rows, int cols,
                   int ditherType, int gridStep, int elemScale, int elemBase) {
    const bool wide = depth == VEX_DEPTH_16U;
    const int maxValue = wide ? 65535 : 255;
    if (ditherType == 16) {
        if (wide)
            ownOrdered<uint16_t>(first, step, inc, rows, cols, gridStep, maxValue, elemScale, elemBase, 257);
        else
            ownOrdered<uint8_t>(first, step, inc, rows, cols, gridStep, maxValue, elemScale, elemBase, 1);
        return true;
    }
    const OwnDiffusion w = ownDiffusion(ditherType, wide);
    if (wide) return ownDiffuse<uint16_t>(first, step, inc, rows, cols, w, gridStep, maxValue);
    return ownDiffuse<uint8_t>(first, step, inc, rows, cols, w, gridStep, maxValue);
}

namespace {

// One channel of a block: the offset of its first element from the row
// start, its element stride, and the element index of column 0 within its
// row (scale and base for the ordered matrix).
struct OwnLane {
    int64_t offset;
    int inc;
    int elemScale, elemBase;
};

OwnLane ownLane(const VexImage* like, const OwnColorBlock& b, int c) {
    if (like->dataOrder == VEX_DATA_ORDER_PLANE) return OwnLane{b.planeSize * c, 1, 1, 0};
    return OwnLane{int64_t(c) * ownElemSize(like->depth), like->nChannels, like->nChannels, c};
}

}  // namespace

bool ownReduceBlock(const VexImage* src, const OwnColorBlock& s, const VexImage* dst, const OwnColorBlock& d,
                    int rows, int cols, void* ctx) {
    const OwnReduceArgs& a = *static_cast<const OwnReduceArgs*>(ctx);
    const unsigned sd = src->depth, dd = dst->depth;
    // Channels: the channel of interest of each image, or all of them.
    const int sc = src->roi && src->roi->coi > 0 ? src->roi->coi - 1 : 0;
    const int dc = dst->roi && dst->roi->coi > 0 ? dst->roi->coi - 1 : 0;
    const int lanesN = ownEffectiveChannels(dst);
    const bool splane = src->dataOrder == VEX_DATA_ORDER_PLANE;
    auto sl = [&](int k) { return ownLane(src, s, sc + k); };
    auto dl = [&](int k) { return ownLane(dst, d, dc + k); };
    auto srow = [&](int k, int y) { return s.data + s.step * y + sl(k).offset; };
    auto drow = [&](int k, int y) { return d.data + d.step * y + dl(k).offset; };
    if (a.jitter == 0) {
        // All channels of a pixel-order row form one run.
        const bool whole = !splane && lanesN == src->nChannels && lanesN == dst->nChannels && lanesN > 1;
        for (int y = 0; y < rows; ++y) {
            if (whole) {
                ownReduceRun(sd, dd, srow(0, y), 1, drow(0, y), 1, int64_t(cols) * lanesN);
                continue;
            }
            for (int k = 0; k < lanesN; ++k)
                ownReduceRun(sd, dd, srow(k, y), sl(k).inc, drow(k, y), dl(k).inc, cols);
        }
    } else {
        const OwnJitterPair jp = ownJitterPair(sd, dd);
        for (int y = 0; y < rows; ++y)
            for (int k = 0; k < lanesN; ++k) {
                const char* sp = srow(k, y);
                char* dp = drow(k, y);
                if (sd == VEX_DEPTH_32S)
                    ownJitterRow(jp, a.jitter, reinterpret_cast<const int32_t*>(sp), sl(k).inc, dp, dl(k).inc, dd, cols, y);
                else if (sd == VEX_DEPTH_16U)
                    ownJitterRow(jp, a.jitter, reinterpret_cast<const uint16_t*>(sp), sl(k).inc, dp, dl(k).inc, dd, cols, y);
                else
                    ownJitterRow(jp, a.jitter, reinterpret_cast<const uint8_t*>(sp), sl(k).inc, dp, dl(k).inc, dd, cols, y);
            }
    }
    if (a.dither != 1) {
        int count = lanesN;
        if (lanesN > 1) count = dst->channelSeq[0] == 'G' ? 1 : std::min(3, lanesN);
        for (int k = 0; k < count; ++k) {
            const OwnLane l = dl(k);
            if (!ownDitherLane(dd, d.data + l.offset, d.step, l.inc, rows, cols, a.dither, a.step,
                               l.elemScale, l.elemBase)) {
                vexError(VEX_StsNoMem, "own_dither_rect", "Out of memory", kColorShared, __LINE__);
                return false;
            }
        }
    }
    return true;
}

}  // namespace vex
