// Integer convolution kernels and the general 2-D convolution with one to
// one hundred kernels.
//
// Working precision is float for 1-bit and 8-bit destinations and double
// for wider ones. A kernel's sum is formed in integers whenever every
// partial sum is an integer the working type holds exactly (the largest
// sample magnitude times the sum of the entry magnitudes stays within 2^24
// for float, 2^53 for double): the result is then the very value the
// floating-point sum gives, at integer speed (16-bit lanes for 8-bit
// samples when it fits in them). Other kernels are summed in the working
// type, term by term in row-major order.
//
// The source comes through the filter engine as bordered rows; for every
// output row each non-zero entry is applied across a chunk of the row (so
// the partial sums stay in the first-level cache), entries 1 and -1 by
// addition and subtraction.
#include <cmath>

#include "filter/ownfilter.h"
#include "image/ownsimd.h"

using namespace vex;

namespace {

const OwnSite kCreate{"vexCreateConvKernel", "vexcnv2d"};
const OwnSite kGet{"vexGetConvKernel", "vexcnv2d"};
const OwnSite kDelete{"vexDeleteConvKernel", "vexcnv2d"};
const OwnSite kConv{"vexConvolve2D", "vexcnv2d"};

bool ownBadKernel(const VexConvKernel* k) {
    return k->nRows < 1 || k->nCols < 1 || k->anchorX < 0 || k->anchorY < 0 ||
           k->nRows <= k->anchorY || k->nCols <= k->anchorX;
}

struct ConvEntry {
    int r, c, v;
};
struct ConvKernelPlan {
    int64_t offX, offY;  // kernel origin inside the common window
    int first, count;    // its non-zero entries in the plan's list
    int shift;
    int64_t magnitude;   // sum of |entry|
};
struct ConvPlan {
    ConvKernelPlan k[100];
    int nk = 0;
    const ConvEntry* entries = nullptr;
    int method = 0;
    int64_t spanY = 1;
};

enum ConvAcc { kAcc16, kAcc32, kAcc64, kAccFloat };

template <int DK>
inline typename OwnDepthT<DK>::T ownStoreInt(int64_t v) {
    using D = typename OwnDepthT<DK>::T;
    if constexpr (DK == kD1U) return D(v >= 1);  // an integer R is >= 0.5 from 1 up
    else return D(std::min<int64_t>(std::max<int64_t>(v, OwnDepthT<DK>::lo), OwnDepthT<DK>::hi));
}

template <int DK, class Wt>
inline typename OwnDepthT<DK>::T ownStoreReal(Wt r) {
    using D = typename OwnDepthT<DK>::T;
    if constexpr (DK == kD1U) {
        return D(r >= Wt(0.5));
    } else {
        if (!(r >= Wt(OwnDepthT<DK>::lo))) return D(OwnDepthT<DK>::lo);
        if (r >= Wt(OwnDepthT<DK>::hi)) return D(OwnDepthT<DK>::hi);
        return D(static_cast<int64_t>(std::nearbyint(r)));
    }
}

// The rounded, shifted sum: nearest integer (ties to even) as a signed
// 32-bit value (saturated), shifted right arithmetically.
template <class Wt>
inline Wt ownShiftReal(Wt s, int shift) {
    const Wt r = std::nearbyint(s);
    const int32_t i = r >= Wt(2147483647.0) ? INT32_MAX : r < Wt(-2147483648.0) ? INT32_MIN : int32_t(r);
    return Wt(i >> shift);
}
inline int64_t ownShiftInt(int64_t s, int shift) {
    const int32_t i = int32_t(std::min<int64_t>(std::max<int64_t>(s, INT32_MIN), INT32_MAX));
    return i >> shift;
}

// Integer sums straight to the destination: shifted, then limited to the
// depth's range (a sum that fits 32 bits needs no rounding or saturation
// before the shift).
template <int DK, class A>
OWN_CLONES void ownConvStoreInt(typename OwnDepthT<DK>::T* __restrict o, const A* __restrict acc, int n, int shift) {
    using D = typename OwnDepthT<DK>::T;
    if constexpr (sizeof(A) <= 4) {
        for (int i = 0; i < n; ++i) {
            const int32_t v = int32_t(acc[i]) >> shift;
            if constexpr (DK == kD1U) o[i] = D(v >= 1);
            else o[i] = D(std::min<int32_t>(std::max<int32_t>(v, int32_t(OwnDepthT<DK>::lo)), int32_t(OwnDepthT<DK>::hi)));
        }
    } else {
        for (int i = 0; i < n; ++i) o[i] = ownStoreInt<DK>(shift ? ownShiftInt(int64_t(acc[i]), shift) : int64_t(acc[i]));
    }
}

// acc[0, n) = sum of entries * samples of one kernel for a chunk of a row.
template <class T, class A>
OWN_CLONES void ownConvAccumulate(A* __restrict acc, int n, const ConvEntry* e, int count,
                                  const T* const* rows) {
    for (int i = 0; i < n; ++i) acc[i] = A(0);
    for (int q = 0; q < count; ++q) {
        const T* __restrict s = rows[q];
        const int v = e[q].v;
        if (v == 1) {
            for (int i = 0; i < n; ++i) acc[i] = A(acc[i] + A(s[i]));
        } else if (v == -1) {
            for (int i = 0; i < n; ++i) acc[i] = A(acc[i] - A(s[i]));
        } else {
            const A w = A(v);
            for (int i = 0; i < n; ++i) acc[i] = A(acc[i] + w * A(s[i]));
        }
    }
}

template <class T, int DK, class Wt, class A>
bool ownConvRows(const ConvPlan& p, OwnRows<T>& in, OwnOut<typename OwnDepthT<DK>::T>& out) {
    using D = typename OwnDepthT<DK>::T;
    constexpr int kChunk = 1024;
    const int L = in.lanes();
    const int64_t m = int64_t(out.width()) * L;
    OwnBlock accBlock, rBlock, rowBlock;
    A* acc = accBlock.alloc<A>(kChunk);
    Wt* R = rBlock.alloc<Wt>(kChunk);
    int maxCount = 1;
    for (int k = 0; k < p.nk; ++k) maxCount = std::max(maxCount, p.k[k].count);
    const T** rows = rowBlock.alloc<const T*>(maxCount);
    if (!acc || !R || !rows || !in.reserve(static_cast<int>(std::min<int64_t>(p.spanY + 1, 256)))) {
        vexError(VEX_StsNoMem, kConv.func, kFilterNoMem, kConv.file, __LINE__);
        return false;
    }
    const bool integral = !std::is_floating_point_v<A>;
    const bool fast = integral && p.nk == 1 && p.method != 1 && p.method != 2;
    for (int r = 0; r < out.rows(); ++r) {
        D* o = out.row(r);
        for (int64_t c0 = 0; c0 < m; c0 += kChunk) {
            const int n = static_cast<int>(std::min<int64_t>(kChunk, m - c0));
            for (int k = p.nk - 1; k >= 0; --k) {
                const ConvKernelPlan& kp = p.k[k];
                const ConvEntry* e = p.entries + kp.first;
                for (int q = 0; q < kp.count; ++q)
                    rows[q] = in.get(r + kp.offY + e[q].r) + (kp.offX + e[q].c) * L + c0;
                // Rows come from a ring that may reuse a slot: fetch them all
                // first only when they cannot collide.
                if (p.spanY + 1 > 256) {
                    for (int i = 0; i < n; ++i) acc[i] = A(0);
                    for (int q = 0; q < kp.count; ++q) {
                        const T* s = in.get(r + kp.offY + e[q].r) + (kp.offX + e[q].c) * L + c0;
                        for (int i = 0; i < n; ++i) acc[i] = A(acc[i] + A(e[q].v) * A(s[i]));
                    }
                } else {
                    ownConvAccumulate<T, A>(acc, n, e, kp.count, rows);
                }
                if (fast) {
                    if constexpr (!std::is_floating_point_v<A>) ownConvStoreInt<DK, A>(o + c0, acc, n, kp.shift);
                    continue;
                }
                const bool first = k == p.nk - 1;
                for (int i = 0; i < n; ++i) {
                    Wt s = Wt(acc[i]);
                    if (kp.shift) s = ownShiftReal(s, kp.shift);
                    switch (p.method) {
                        case 0: R[i] = first ? s : R[i] + s; break;
                        case 1:
                        case 2: R[i] = first ? s * s : R[i] + s * s; break;
                        case 3: R[i] = first || R[i] <= s ? s : R[i]; break;
                        default: R[i] = first || R[i] >= s ? s : R[i]; break;
                    }
                }
            }
            if (fast) continue;
            for (int i = 0; i < n; ++i) o[c0 + i] = ownStoreReal<DK, Wt>(p.method == 2 ? std::sqrt(R[i]) : R[i]);
        }
        out.commit(r);
    }
    return true;
}

template <int TK, int DK>
void ownConvRun(const ConvPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win,
                const OwnChannels& ch, const int* tile) {
    using T = typename OwnDepthT<TK>::T;
    using D = typename OwnDepthT<DK>::T;
    using Wt = std::conditional_t<(DK <= kD8S), float, double>;
    int64_t magnitude = 0;
    for (int k = 0; k < p.nk; ++k) magnitude = std::max(magnitude, p.k[k].magnitude);
    const int64_t bound = magnitude * ownMaxAbs(TK);
    const int64_t exact = std::is_same_v<Wt, float> ? (int64_t(1) << 24) : (int64_t(1) << 53);
    const ConvAcc acc = bound > exact ? kAccFloat
                        : bound <= 32767 && sizeof(T) == 1 ? kAcc16
                        : bound <= INT32_MAX ? kAcc32
                                             : kAcc64;
    auto run = [&](auto accTag) {
        using A = decltype(accTag);
        ownFilterRun<T, D>(kConv, src, dst, win, ch, tile, [&](OwnRows<T>& in, OwnOut<D>& out) {
            return ownConvRows<T, DK, Wt, A>(p, in, out);
        });
    };
    switch (acc) {
        case kAcc16:
            if constexpr (sizeof(T) == 1) run(int16_t());
            break;
        case kAcc32: run(int32_t()); break;
        case kAcc64:
            if constexpr (sizeof(T) > 1) run(int64_t());
            break;
        default: run(Wt()); break;
    }
}

// The depth pairs: the destination no earlier than the source in the order
// 1U, 8U, 8S, 16U, 16S, 32S; a source sample as wide as the destination's
// is read with the destination's signedness.
void ownConvDispatch(int sk, int dk, const ConvPlan& p, VexImage* src, VexImage* dst,
                     const OwnWindow& win, const OwnChannels& ch, const int* tile) {
    const int tk = sk != kD1U && ownDepthBits(src->depth) == ownDepthBits(dst->depth) ? dk : sk;
#define OWN_PAIR(T_, D_) \
    if (tk == T_ && dk == D_) return ownConvRun<T_, D_>(p, src, dst, win, ch, tile)
    OWN_PAIR(kD1U, kD1U);
    OWN_PAIR(kD1U, kD8U);
    OWN_PAIR(kD8U, kD8U);
    OWN_PAIR(kD1U, kD8S);
    OWN_PAIR(kD8S, kD8S);
    OWN_PAIR(kD1U, kD16U);
    OWN_PAIR(kD8U, kD16U);
    OWN_PAIR(kD8S, kD16U);
    OWN_PAIR(kD16U, kD16U);
    OWN_PAIR(kD1U, kD16S);
    OWN_PAIR(kD8U, kD16S);
    OWN_PAIR(kD8S, kD16S);
    OWN_PAIR(kD16S, kD16S);
    OWN_PAIR(kD1U, kD32S);
    OWN_PAIR(kD8U, kD32S);
    OWN_PAIR(kD8S, kD32S);
    OWN_PAIR(kD16U, kD32S);
    OWN_PAIR(kD16S, kD32S);
    OWN_PAIR(kD32S, kD32S);
#undef OWN_PAIR
}

// Working channels of one side: nChannels less an alpha channel, or 1 with
// a channel of interest.
int ownConvChannels(const VexImage* image) {
    if (ownCoi(image) != 0) return 1;
    return image->nChannels - (image->alphaChannel ? 1 : 0);
}

}  // namespace

extern "C" VEXAPI VexConvKernel* vexCreateConvKernel(int nRows, int nCols, int anchorX, int anchorY,
                                                     const signed char* values, int nShiftR) {
    const OwnSite& site = kCreate;
    if (ownFail(site, values == nullptr, "(values == 0)", __LINE__)) return nullptr;
    if (ownFail(site, nRows <= 0 || nCols <= 0, "(nRows<=0 || nCols<=0)", __LINE__)) return nullptr;
    if (ownFail(site, anchorX < 0 || anchorY < 0 || nRows <= anchorY || nCols <= anchorX,
                "(anchorX<0 ||anchorY<0 ||nRows<=anchorY || nCols<=anchorX)", __LINE__))
        return nullptr;
    auto* k = static_cast<VexConvKernel*>(vexMalloc(static_cast<int>(sizeof(VexConvKernel))));
    if (!k) {
        vexError(VEX_StsNoMem, site.func, "Allocation failure", site.file, __LINE__);
        return nullptr;
    }
    const int64_t n = int64_t(nRows) * nCols;
    k->values = n <= INT32_MAX - 64 ? static_cast<signed char*>(vexMalloc(static_cast<int>(n))) : nullptr;
    if (!k->values) {
        vexFree(k);
        vexError(VEX_StsNoMem, site.func, "Allocation failure", site.file, __LINE__);
        return nullptr;
    }
    k->nRows = nRows;
    k->nCols = nCols;
    k->anchorX = anchorX;
    k->anchorY = anchorY;
    k->nShiftR = nShiftR;
    for (int64_t i = 0; i < n; ++i) k->values[i] = values[i];
    return k;
}

extern "C" VEXAPI void vexGetConvKernel(const VexConvKernel* kernel, int* nRows, int* nCols,
                                        int* anchorX, int* anchorY, signed char** values,
                                        int* nShiftR) {
    const OwnSite& site = kGet;
    OWN_CHECK(site, kernel == nullptr, "kernel==0");
    OWN_CHECK(site, ownBadKernel(kernel), "ownBadKernel(kernel)");
    ownFail(site, nRows == nullptr, "nRows==0", __LINE__);
    ownFail(site, nCols == nullptr, "nCols==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    ownFail(site, anchorX == nullptr, "anchorX==0", __LINE__);
    ownFail(site, anchorY == nullptr, "anchorY==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    OWN_CHECK(site, values == nullptr, "values==0");
    OWN_CHECK(site, nShiftR == nullptr, "nShiftR==0");
    *nRows = kernel->nRows;
    *nCols = kernel->nCols;
    *anchorX = kernel->anchorX;
    *anchorY = kernel->anchorY;
    *nShiftR = kernel->nShiftR;
    if (kernel->values && *values)
        std::memcpy(*values, kernel->values, size_t(int64_t(kernel->nRows) * kernel->nCols));
}

extern "C" VEXAPI void vexDeleteConvKernel(VexConvKernel* kernel) {
    const OwnSite& site = kDelete;
    OWN_CHECK(site, kernel == nullptr, "kernel==0");
    OWN_CHECK(site, kernel->values == nullptr, "kernel->values==0");
    vexFree(kernel->values);
    vexFree(kernel);
}

extern "C" VEXAPI void vexConvolve2D(VexImage* srcImage, VexImage* dstImage, VexConvKernel** kernel,
                                     int nKernels, int combineMethod, const VexMapping* mapping) {
    const OwnSite& site = kConv;
    ownFail(site, srcImage == nullptr, "srcImage==0", __LINE__);
    ownFail(site, dstImage == nullptr, "dstImage==0", __LINE__);
    if (vexGetErrStatus() < 0 || !srcImage || !dstImage) return;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, kernel == nullptr, "kernel==0");
    OWN_CHECK(site, nKernels <= 0 || nKernels > 100, "(nKernels<=0 || nKernels>100)");
    OWN_CHECK(site, combineMethod < 0 || combineMethod > 4,
              "( combineMethod != 0 && combineMethod != 1 && combineMethod != 2 && combineMethod != 3 && combineMethod != 4)");
    for (int i = 0; i < nKernels; ++i) {
        OWN_CHECK(site, kernel[i] == nullptr, "kernel[i]==0");
        OWN_CHECK(site, ownBadKernel(kernel[i]), "ownBadKernel(kernel[i])");
    }
    if (mapping)
        OWN_CHECK(site,
                  mapping->xDst < 0 || mapping->xDst > dstImage->width - 1 || mapping->yDst < 0 ||
                      mapping->yDst > dstImage->height - 1,
                  "( mapping->xDst < 0 || mapping->xDst > dstImage->width-1 || mapping->yDst < 0 || mapping->yDst > dstImage->height-1)");

    const int sk = ownDepthIndex(srcImage->depth), dk = ownDepthIndex(dstImage->depth);
    if (sk < 0 || dk < 0 || dk < sk) return;  // not a depth pair: nothing to do, nothing said
    OWN_CHECK(site, ownConvChannels(srcImage) != ownConvChannels(dstImage), "Uncompatible images");
    // A kernel without entries has nothing to convolve with.
    for (int i = 0; i < nKernels; ++i) OWN_CHECK(site, kernel[i]->values == nullptr, "kernel[i]->values==0");

    // The common window: the largest margins over all kernels.
    int64_t left = 0, top = 0, right = 0, bottom = 0, entries = 0;
    for (int i = 0; i < nKernels; ++i) {
        const VexConvKernel* k = kernel[i];
        left = std::max<int64_t>(left, k->anchorX);
        top = std::max<int64_t>(top, k->anchorY);
        right = std::max<int64_t>(right, int64_t(k->nCols) - k->anchorX - 1);
        bottom = std::max<int64_t>(bottom, int64_t(k->nRows) - k->anchorY - 1);
        for (int64_t j = 0; j < int64_t(k->nRows) * k->nCols; ++j) entries += k->values[j] != 0;
    }
    OwnBlock entryBlock;
    auto* list = entryBlock.alloc<ConvEntry>(entries);
    if (!list) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return;
    }
    ConvPlan plan;
    plan.nk = nKernels;
    plan.method = combineMethod;
    plan.entries = list;
    plan.spanY = top + bottom + 1;
    int used = 0;
    for (int i = 0; i < nKernels; ++i) {
        const VexConvKernel* k = kernel[i];
        ConvKernelPlan& kp = plan.k[i];
        kp.offX = left - k->anchorX;
        kp.offY = top - k->anchorY;
        kp.first = used;
        kp.shift = k->nShiftR & 31;
        kp.magnitude = 0;
        for (int r = 0; r < k->nRows; ++r)
            for (int c = 0; c < k->nCols; ++c) {
                const int v = k->values[int64_t(r) * k->nCols + c];
                if (v == 0) continue;
                list[used++] = ConvEntry{r, c, v};
                kp.magnitude += v < 0 ? -v : v;
            }
        kp.count = used - kp.first;
    }
    const OwnWindow win{-left, -top, left + right + 1, top + bottom + 1};
    const int n = ownConvChannels(srcImage);
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    const OwnChannels ch{n, sc ? sc - 1 : 0, dc ? dc - 1 : 0};
    int tileSel[2];
    const int* tile = ownMappingTile(dstImage, mapping, true, tileSel);
    ownConvDispatch(sk, dk, plan, srcImage, dstImage, win, ch, tile);
}
