// Box blur: the mean of an nRows x nCols window by running sums. Every
// column keeps the sum of its nRows window samples (one add and one
// subtract per sample and row); along a row the window sum gains the
// entering column sum and loses the leaving one. The cost per sample does
// not depend on the window size.
//
// The mean is the window sum times the single-precision weight
// 1/(nRows*nCols), cut off towards zero (a float-to-integer conversion
// truncates in C++, whatever the rounding mode), then limited to the
// depth's range.
//
// Decisions of this library:
//  - nRows or nCols 0 pass the checks; such a window has no mean, so the
//    call writes nothing and reports nothing.
//  - Depths 8U, 8S, 16U, 16S and 32S are blurred; signed data gets signed
//    sums. Sums are 32-bit where the window cannot overflow them, else
//    64-bit.
//  - Channels follow the separable convolution: the smaller channel count,
//    or the one channel of interest (each side's own, or one side's on both).
//  - The working parameters live in the call, not in process-wide
//    variables, so calls on different threads do not disturb each other.
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace vex;

namespace {

const OwnSite kBlurSite{"vexBlur", "vexBlur"};

template <class S, class T>
OWN_CLONES void ownColumnAdd(S* __restrict sum, const T* __restrict s, int64_t n) {
    for (int64_t i = 0; i < n; ++i) sum[i] = S(sum[i] + S(s[i]));
}
template <class S, class T>
OWN_CLONES void ownColumnSub(S* __restrict sum, const T* __restrict s, int64_t n) {
    for (int64_t i = 0; i < n; ++i) sum[i] = S(sum[i] - S(s[i]));
}

// Window sums along one row of column sums: d[e] = entering - leaving
// column sum, then a running sum per lane (the only serial step), then the
// conversion of all sums at once.
template <class S, class H>
OWN_CLONES void ownBlurDiff(H* __restrict d, const S* __restrict in, const S* __restrict out, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = H(in[i]) - H(out[i]);
}
template <int DK, class H>
OWN_CLONES void ownBlurConvert(typename OwnDepthT<DK>::T* __restrict o, const H* __restrict ws, int64_t n, float w) {
    using T = typename OwnDepthT<DK>::T;
    for (int64_t i = 0; i < n; ++i) {
        float f = float(ws[i]) * w;
        f = std::min(std::max(f, float(OwnDepthT<DK>::lo)), float(OwnDepthT<DK>::hi));
        if constexpr (DK == kD32S)
            o[i] = f >= 2147483647.0f ? T(INT32_MAX) : T(static_cast<int64_t>(f));
        else
            o[i] = T(static_cast<int32_t>(f));
    }
}

// Narrow windows: each window sum added up directly from its column sums,
// all columns at once (no serial step).
template <class S, class H>
OWN_CLONES void ownBlurDirect(H* __restrict ws, const S* __restrict sum, int64_t m, int lanes, int nCols) {
    for (int64_t i = 0; i < m; ++i) ws[i] = H(sum[i]);
    for (int c = 1; c < nCols; ++c) {
        const S* __restrict s = sum + int64_t(c) * lanes;
        for (int64_t i = 0; i < m; ++i) ws[i] = H(ws[i] + H(s[i]));
    }
}

// Single-channel rows of 32-bit window sums: q[i] = column sums 0 .. i-1
// added up, four at a time in a register (in-register running sum plus the
// carry of the previous four), wrapping modulo 2^32; a window sum is then
// q[x + nCols] - q[x], exact because it fits in 32 bits.
template <class S>
void ownBlurPrefix(uint32_t* q, const S* s, int64_t n) {
    int64_t i = 0;
    uint32_t c = 0;
    q[0] = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    __m128i carry = z;
    for (; i + 4 <= n; i += 4) {
        __m128i v;
        if constexpr (sizeof(S) == 2) {
            v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
            v = std::is_signed_v<S> ? _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16) : _mm_unpacklo_epi16(v, z);
        } else {
            v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        }
        v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi32(v, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i + 1), v);
        carry = _mm_shuffle_epi32(v, 0xFF);
    }
    c = q[i];
#endif
    for (; i < n; ++i) q[i + 1] = c = c + uint32_t(int32_t(s[i]));
}
template <class H>
OWN_CLONES void ownBlurWindows(H* __restrict ws, const uint32_t* __restrict q, int64_t m, int nCols) {
    for (int64_t i = 0; i < m; ++i) ws[i] = H(int32_t(q[i + nCols] - q[i]));
}

template <int DK, class S, class H>
void ownBlurRow(typename OwnDepthT<DK>::T* o, const S* sum, H* ws, uint32_t* q, int width, int lanes, int nCols,
                float w) {
    const int64_t m = int64_t(width) * lanes;
    if (nCols <= 8) {
        ownBlurDirect<S, H>(ws, sum, m, lanes, nCols);
        ownBlurConvert<DK, H>(o, ws, m, w);
        return;
    }
    if constexpr (sizeof(H) == 4 && sizeof(S) <= 4) {
        if (lanes == 1) {
            ownBlurPrefix<S>(q, sum, m + nCols - 1);
            ownBlurWindows<H>(ws, q, m, nCols);
            ownBlurConvert<DK, H>(o, ws, m, w);
            return;
        }
    }
    for (int l = 0; l < lanes; ++l) {
        H acc = 0;
        for (int c = 0; c < nCols; ++c) acc += H(sum[int64_t(c) * lanes + l]);
        ws[l] = acc;
    }
    // The running sums stay in registers (a loop through memory would wait
    // on every store): each step adds the entering column sum and takes
    // off the leaving one.
    const S* enter = sum + int64_t(nCols) * lanes;
    auto scan = [&](auto lanesTag) {
        constexpr int K = decltype(lanesTag)::value;
        H acc[K];
        for (int l = 0; l < K; ++l) acc[l] = ws[l];
        for (int64_t e = K; e < m; e += K)
            for (int l = 0; l < K; ++l) ws[e + l] = acc[l] = acc[l] + H(enter[e + l - K]) - H(sum[e + l - K]);
    };
    switch (lanes) {
        case 1: scan(std::integral_constant<int, 1>()); break;
        case 2: scan(std::integral_constant<int, 2>()); break;
        case 3: scan(std::integral_constant<int, 3>()); break;
        case 4: scan(std::integral_constant<int, 4>()); break;
        default:
            // ws[e] (e >= lanes) first holds the difference, then the running sum.
            ownBlurDiff<S, H>(ws + lanes, enter, sum, m - lanes);
            for (int64_t e = lanes; e < m; ++e) ws[e] += ws[e - lanes];
            break;
    }
    ownBlurConvert<DK, H>(o, ws, m, w);
}

template <int DK, class S, class H>
void ownBlurRun(VexImage* src, VexImage* dst, int nRows, int nCols, const OwnWindow& win,
                const OwnChannels& ch, float w) {
    using T = typename OwnDepthT<DK>::T;
    ownFilterRun<T, T>(kBlurSite, src, dst, win, ch, nullptr, [&](OwnRows<T>& in, OwnOut<T>& out) {
        const int64_t n = in.samples();
        OwnBlock sb, wb, qb;
        S* sum = sb.alloc<S>(n);
        H* ws = wb.alloc<H>(int64_t(out.width()) * in.lanes());
        uint32_t* q = qb.alloc<uint32_t>(in.lanes() == 1 && nCols > 8 ? n + 1 : 1);
        if (!sum || !ws || !q || !in.reserve(std::min(nRows + 1, 64))) {
            vexError(VEX_StsNoMem, kBlurSite.func, kFilterNoMem, kBlurSite.file, __LINE__);
            return false;
        }
        std::fill(sum, sum + n, S(0));
        for (int j = 0; j < nRows; ++j) ownColumnAdd(sum, in.get(j), n);
        for (int r = 0; r < out.rows(); ++r) {
            if (r > 0) {
                ownColumnAdd(sum, in.get(int64_t(r) + nRows - 1), n);
                ownColumnSub(sum, in.get(int64_t(r) - 1), n);
            }
            ownBlurRow<DK, S, H>(out.row(r), sum, ws, q, out.width(), in.lanes(), nCols, w);
            out.commit(r);
        }
        return true;
    });
}

template <int DK>
void ownBlurDepth(VexImage* src, VexImage* dst, int nRows, int nCols, const OwnWindow& win,
                  const OwnChannels& ch, float w) {
    const int64_t m = ownMaxAbs(DK);
    const bool col32 = m * nRows <= INT32_MAX;
    const bool acc32 = m * nRows * int64_t(nCols) <= INT32_MAX;
    if (DK == kD8U && m * nRows <= 65535 && acc32) ownBlurRun<DK, uint16_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (DK == kD8S && m * nRows <= 32767 && acc32) ownBlurRun<DK, int16_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (col32 && acc32) ownBlurRun<DK, int32_t, int32_t>(src, dst, nRows, nCols, win, ch, w);
    else if (col32) ownBlurRun<DK, int32_t, int64_t>(src, dst, nRows, nCols, win, ch, w);
    else ownBlurRun<DK, int64_t, int64_t>(src, dst, nRows, nCols, win, ch, w);
}

}  // namespace

extern "C" VEXAPI void vexBlur(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                               int anchorY) {
    const OwnSite& site = kBlurSite;
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth!=dstImage->depth)");
    OWN_CHECK(site, srcImage->depth == VEX_DEPTH_1U, "(srcImage->depth==1)");
    OWN_CHECK(site, nRows < 0 || nCols < 0, "(nRows<0||nCols<0)");
    OWN_CHECK(site, anchorX < 0 || anchorY < 0, "(anchorX<0||anchorY<0)");
    if (nRows == 0 || nCols == 0) return;  // no window, no mean: nothing written

    const float w = 1.0f / float(int64_t(nRows) * nCols);
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    OwnChannels ch{std::min(srcImage->nChannels, dstImage->nChannels), 0, 0};
    if (sc || dc) ch = OwnChannels{1, (sc ? sc : dc) - 1, (dc ? dc : sc) - 1};
    if (ch.src0 >= srcImage->nChannels || ch.dst0 >= dstImage->nChannels) return;
    const OwnWindow win{-int64_t(anchorX), -int64_t(anchorY), nCols, nRows};
    switch (ownDepthIndex(dstImage->depth)) {
        case kD8U: ownBlurDepth<kD8U>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD8S: ownBlurDepth<kD8S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD16U: ownBlurDepth<kD16U>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD16S: ownBlurDepth<kD16S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        case kD32S: ownBlurDepth<kD32S>(srcImage, dstImage, nRows, nCols, win, ch, w); break;
        default: break;
    }
}
