// Separable convolution in 32-bit integers: a vertical pass with Ykernel
// over the window rows, a horizontal pass with Xkernel, one arithmetic shift
// by the two kernels' nShiftR together, then a clamp to the destination
// depth. nRows + nCols multiplications per sample.
//
// Sums wrap modulo 2^32 as 32-bit integer arithmetic does (only 32S data
// with large kernels can reach that). When the largest possible sum of a
// pass fits in 16 bits, 8-bit data is summed in 16-bit lanes, which gives
// the same integers twice as fast. Each nShiftR counts as a shift of 0..31
// (its low five bits); a total above 31 shifts like 31 (every bit is then
// the sign).
//
// Rows that lie inside the image with the whole window are read in place;
// only rows whose window leaves the image are copied with the synthesised
// samples (the filter engine does both).
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

using namespace vex;

namespace {

const OwnSite kSep{"vexConvolveSep2D", "vexcsep2"};

template <class A>
inline A ownWrapMulAdd(A acc, int w, A s) {
    if constexpr (sizeof(A) == 4)
        return A(uint32_t(acc) + uint32_t(w) * uint32_t(s));
    else
        return A(acc + A(w) * s);
}

template <class T, class A>
OWN_CLONES void ownSepVertical(A* __restrict v, int64_t n, const T* __restrict s, int w, bool first) {
    if (first)
        for (int64_t i = 0; i < n; ++i) v[i] = ownWrapMulAdd(A(0), w, A(s[i]));
    else
        for (int64_t i = 0; i < n; ++i) v[i] = ownWrapMulAdd(v[i], w, A(s[i]));
}

template <class AV, class A>
OWN_CLONES void ownSepHorizontal(A* __restrict acc, int64_t n, const AV* __restrict v, int w, bool first) {
    if (first)
        for (int64_t i = 0; i < n; ++i) acc[i] = ownWrapMulAdd(A(0), w, A(v[i]));
    else
        for (int64_t i = 0; i < n; ++i) acc[i] = ownWrapMulAdd(acc[i], w, A(v[i]));
}

template <int DK, class A>
OWN_CLONES void ownSepStore(typename OwnDepthT<DK>::T* __restrict o, const A* __restrict acc, int64_t n,
                            int shift) {
    using D = typename OwnDepthT<DK>::T;
    for (int64_t i = 0; i < n; ++i) {
        const int32_t s = int32_t(acc[i]) >> shift;
        o[i] = D(std::min<int32_t>(std::max<int32_t>(s, int32_t(OwnDepthT<DK>::lo)), int32_t(OwnDepthT<DK>::hi)));
    }
}

struct SepPlan {
    const signed char* x;
    int nx;
    const signed char* y;
    int ny;
    int shift;
};

template <int DK, class AV, class A>
void ownSepRun(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch) {
    using T = typename OwnDepthT<DK>::T;
    ownFilterRun<T, T>(kSep, src, dst, win, ch, nullptr, [&](OwnRows<T>& in, OwnOut<T>& out) {
        const int L = in.lanes();
        const int64_t n = in.samples(), m = int64_t(out.width()) * L;
        OwnBlock vb, ab;
        AV* v = vb.alloc<AV>(n);
        A* acc = ab.alloc<A>(m);
        if (!v || !acc || !in.reserve(1)) {
            vexError(VEX_StsNoMem, kSep.func, kFilterNoMem, kSep.file, __LINE__);
            return false;
        }
        for (int r = 0; r < out.rows(); ++r) {
            bool first = true;
            for (int j = 0; j < p.ny; ++j) {
                if (p.y[j] == 0) continue;
                ownSepVertical<T, AV>(v, n, in.get(int64_t(r) + j), p.y[j], first);
                first = false;
            }
            if (first) std::fill(v, v + n, AV(0));
            first = true;
            for (int c = 0; c < p.nx; ++c) {
                if (p.x[c] == 0) continue;
                ownSepHorizontal<AV, A>(acc, m, v + int64_t(c) * L, p.x[c], first);
                first = false;
            }
            if (first) std::fill(acc, acc + m, A(0));
            ownSepStore<DK, A>(out.row(r), acc, m, p.shift);
            out.commit(r);
        }
        return true;
    });
}

template <int DK>
void ownSepDepth(const SepPlan& p, VexImage* src, VexImage* dst, const OwnWindow& win, const OwnChannels& ch) {
    int64_t sy = 0, sx = 0;
    for (int j = 0; j < p.ny; ++j) sy += p.y[j] < 0 ? -p.y[j] : p.y[j];
    for (int c = 0; c < p.nx; ++c) sx += p.x[c] < 0 ? -p.x[c] : p.x[c];
    // 16-bit lanes wherever the pass's largest sum fits them.
    const bool v16 = DK <= kD8S && ownMaxAbs(DK) * sy <= 32767;
    if (v16 && ownMaxAbs(DK) * sy * sx <= 32767)
        ownSepRun<DK, int16_t, int16_t>(p, src, dst, win, ch);
    else if (v16)
        ownSepRun<DK, int16_t, int32_t>(p, src, dst, win, ch);
    else
        ownSepRun<DK, int32_t, int32_t>(p, src, dst, win, ch);
}

}  // namespace

extern "C" VEXAPI void vexConvolveSep2D(VexImage* srcImage, VexImage* dstImage,
                                        const VexConvKernel* Xkernel, const VexConvKernel* Ykernel) {
    const OwnSite& site = kSep;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    ownFail(site, Xkernel == nullptr, "Xkernel==0", __LINE__);
    ownFail(site, Ykernel == nullptr, "Ykernel==0", __LINE__);
    if (vexGetErrStatus() < 0 || !Xkernel || !Ykernel) return;
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    ownFail(site, srcImage->depth != dstImage->depth, "srcImage->depth != dstImage->depth", __LINE__);
    ownFail(site, srcImage->origin != dstImage->origin, "srcImage->origin != dstImage->origin", __LINE__);
    ownFail(site, srcImage->dataOrder != dstImage->dataOrder, "srcImage->dataOrder != dstImage->dataOrder",
            __LINE__);
    ownFail(site, srcImage->nChannels != dstImage->nChannels, "srcImage->nChannels != dstImage->nChannels",
            __LINE__);
    ownFail(site, (srcImage->nChannels > 1 && sc != 0 && dc == 0) || (dc != 0 && sc == 0),
            "nChannels in srcImage ROI != nChannels in dstImage ROI", __LINE__);
    ownFail(site, Xkernel->nCols < 1, "Xkernel->nCols <= 0", __LINE__);
    ownFail(site, Ykernel->nRows < 1, "Ykernel->nRows <= 0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    // Checks of this library beyond those: kernels must hold their entries.
    OWN_CHECK(site, Xkernel->values == nullptr, "Xkernel->values==0");
    OWN_CHECK(site, Ykernel->values == nullptr, "Ykernel->values==0");

    const int dk = ownDepthIndex(dstImage->depth);
    // Channels: the smaller count; with a channel of interest on either
    // side, that one channel (each side's own, or the one side's on both).
    OwnChannels ch{std::min(srcImage->nChannels, dstImage->nChannels), 0, 0};
    if (sc || dc) ch = OwnChannels{1, (sc ? sc : dc) - 1, (dc ? dc : sc) - 1};
    if (ch.src0 >= srcImage->nChannels || ch.dst0 >= dstImage->nChannels) return;
    const SepPlan p{Xkernel->values, Xkernel->nCols, Ykernel->values, Ykernel->nRows,
                    std::min(31, (Xkernel->nShiftR & 31) + (Ykernel->nShiftR & 31))};
    const OwnWindow win{-int64_t(Xkernel->anchorX), -int64_t(Ykernel->anchorY), Xkernel->nCols, Ykernel->nRows};
    switch (dk) {
        case kD1U: ownSepDepth<kD1U>(p, srcImage, dstImage, win, ch); break;
        case kD8U: ownSepDepth<kD8U>(p, srcImage, dstImage, win, ch); break;
        case kD8S: ownSepDepth<kD8S>(p, srcImage, dstImage, win, ch); break;
        case kD16U: ownSepDepth<kD16U>(p, srcImage, dstImage, win, ch); break;
        case kD16S: ownSepDepth<kD16S>(p, srcImage, dstImage, win, ch); break;
        case kD32S: ownSepDepth<kD32S>(p, srcImage, dstImage, win, ch); break;
        default: break;
    }
}
