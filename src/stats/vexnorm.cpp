// vexNorm: the maximum, L1 or L2 norm of one image or of the difference of
// two, absolute or relative to the second image.
//
// A norm is one read of the images. The sums are exact integers (the
// absolute differences of any depth fit the unsigned type of the depth's
// width; 8- and 16-bit sums run in 32-bit lanes over chunks short enough
// never to overflow, the totals in 64 and 128 bits) and become double once,
// at the end: the result is the exactly rounded value of the sum, which a
// running double sum only approximates on very large images.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "image/ownrect.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_NORM_SAD 1
#endif

namespace vex {
namespace {

const OwnSite kNorm{"vexNorm", "vexnorm"};

constexpr double kFloatMax = 3.4028234663852886e38;   // largest single-precision value
constexpr double kFloatMin = 1.1754943508222875e-38;  // smallest normal single-precision value

using u128 = unsigned __int128;

// The measures of one pass: of the difference (or of A alone) and of B.
struct OwnNormSums {
    uint64_t maxD = 0, maxB = 0;
    uint64_t l1D = 0, l1B = 0;
    u128 l2D = 0, l2B = 0;
};

enum OwnNormKind { kInf = 1, kL1 = 2, kL2 = 4 };

// |a - b| (or |a|) in the unsigned type of the sample's width: exact, since
// the difference of two samples of one depth never exceeds that range.
template <class T, class U = typename std::make_unsigned<T>::type>
__attribute__((always_inline)) inline U ownAbsDiff(T a, T b) {
    return a > b ? U(U(a) - U(b)) : U(U(b) - U(a));
}
template <class T, class U = typename std::make_unsigned<T>::type>
__attribute__((always_inline)) inline U ownAbs(T a) {
    return a < 0 ? U(U(0) - U(a)) : U(a);
}

constexpr int64_t kChunk = 32768;  // 32-bit lane sums of 8/16-bit values stay exact

// One contiguous run of n samples of A (and B) into the sums. The loops are
// kept plain for the vectoriser.
template <class T>
__attribute__((always_inline)) inline void ownNormRunT(const T* __restrict a,
                                                       const T* __restrict b, int64_t n, int kind,
                                                       bool withB, bool relative,
                                                       OwnNormSums* s) {
    using U = typename std::make_unsigned<T>::type;
    using Acc1 = typename std::conditional<sizeof(T) <= 2, uint32_t, uint64_t>::type;
    using Acc2 = typename std::conditional<sizeof(T) == 1, uint32_t, uint64_t>::type;
    auto diff = [&](int64_t i) { return withB ? ownAbsDiff(a[i], b[i]) : ownAbs(a[i]); };
    for (int64_t c0 = 0; c0 < n; c0 += kChunk) {
        const int64_t m = std::min(kChunk, n - c0);
        const T* pa = a + c0;
        const T* pb = withB ? b + c0 : nullptr;
        switch (kind) {
            case kInf: {
                U mx = 0;
                if (withB)
                    for (int64_t i = 0; i < m; ++i) mx = std::max(mx, ownAbsDiff(pa[i], pb[i]));
                else
                    for (int64_t i = 0; i < m; ++i) mx = std::max(mx, ownAbs(pa[i]));
                s->maxD = std::max<uint64_t>(s->maxD, mx);
                if (relative) {
                    U mb = 0;
                    for (int64_t i = 0; i < m; ++i) mb = std::max(mb, ownAbs(pb[i]));
                    s->maxB = std::max<uint64_t>(s->maxB, mb);
                }
                break;
            }
            case kL1: {
                Acc1 acc = 0;
                if (withB)
                    for (int64_t i = 0; i < m; ++i) acc += Acc1(ownAbsDiff(pa[i], pb[i]));
                else
                    for (int64_t i = 0; i < m; ++i) acc += Acc1(ownAbs(pa[i]));
                s->l1D += acc;
                if (relative) {
                    Acc1 accB = 0;
                    for (int64_t i = 0; i < m; ++i) accB += Acc1(ownAbs(pb[i]));
                    s->l1B += accB;
                }
                break;
            }
            default: {
                if (sizeof(T) == 4) {  // squares up to 2^64 - 2^33 + 1: 128-bit sums
                    for (int64_t i = 0; i < m; ++i) {
                        const uint64_t d = diff(c0 + i);
                        s->l2D += u128(d * d);
                    }
                    if (relative)
                        for (int64_t i = 0; i < m; ++i) {
                            const uint64_t d = ownAbs(pb[i]);
                            s->l2B += u128(d * d);
                        }
                    break;
                }
                Acc2 acc = 0;
                if (withB)
                    for (int64_t i = 0; i < m; ++i) {
                        const Acc2 d = ownAbsDiff(pa[i], pb[i]);
                        acc += d * d;
                    }
                else
                    for (int64_t i = 0; i < m; ++i) {
                        const Acc2 d = ownAbs(pa[i]);
                        acc += d * d;
                    }
                s->l2D += acc;
                if (relative) {
                    Acc2 accB = 0;
                    for (int64_t i = 0; i < m; ++i) {
                        const Acc2 d = ownAbs(pb[i]);
                        accB += d * d;
                    }
                    s->l2B += accB;
                }
                break;
            }
        }
    }
}

using OwnNormRunFn = void (*)(const void*, const void*, int64_t, int, bool, bool, OwnNormSums*);

#define OWN_NORM_RUN(name, T)                                                              \
    OWN_CLONES void name(const void* a, const void* b, int64_t n, int kind, bool withB,  \
                         bool relative, OwnNormSums* s) {                                  \
        ownNormRunT(static_cast<const T*>(a), static_cast<const T*>(b), n, kind, withB,    \
                    relative, s);                                                          \
    }
OWN_NORM_RUN(ownNormRun8uPlain, uint8_t)
OWN_NORM_RUN(ownNormRun8s, int8_t)
OWN_NORM_RUN(ownNormRun16u, uint16_t)
OWN_NORM_RUN(ownNormRun16s, int16_t)
OWN_NORM_RUN(ownNormRun32s, int32_t)
#undef OWN_NORM_RUN

#if OWN_NORM_SAD
// The L1 sum of 8-bit samples (or of their absolute differences) by sums of
// absolute differences: 32 (AVX2) or 16 (SSE2) bytes per instruction into
// 64-bit lanes, so nothing can overflow. Exact, like the plain loops.
uint64_t ownSadTail(const uint8_t* a, const uint8_t* b, int64_t i, int64_t n, uint64_t s) {
    for (; i < n; ++i) s += b ? unsigned(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]) : a[i];
    return s;
}
__attribute__((target("avx2"))) uint64_t ownSad8Avx2(const uint8_t* a, const uint8_t* b, int64_t n) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i acc0 = zero, acc1 = zero;
    int64_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 32));
        const __m256i b0 = b ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i)) : zero;
        const __m256i b1 = b ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 32)) : zero;
        acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(a0, b0));
        acc1 = _mm256_add_epi64(acc1, _mm256_sad_epu8(a1, b1));
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(acc0, acc1));
    return ownSadTail(a, b, i, n, lanes[0] + lanes[1] + lanes[2] + lanes[3]);
}
uint64_t ownSad8Sse2(const uint8_t* a, const uint8_t* b, int64_t n) {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero, acc1 = zero;
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16));
        const __m128i b0 = b ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)) : zero;
        const __m128i b1 = b ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 16)) : zero;
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(a0, b0));
        acc1 = _mm_add_epi64(acc1, _mm_sad_epu8(a1, b1));
    }
    alignas(16) uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
    return ownSadTail(a, b, i, n, lanes[0] + lanes[1]);
}
using OwnSadFn = uint64_t (*)(const uint8_t*, const uint8_t*, int64_t);
// Chosen once, when the library is loaded.
const OwnSadFn kSad8 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ownSad8Avx2 : ownSad8Sse2;
}();
#endif

void ownNormRun8u(const void* a, const void* b, int64_t n, int kind, bool withB, bool relative,
                  OwnNormSums* s) {
#if OWN_NORM_SAD
    if (kind == kL1) {
        const auto* pa = static_cast<const uint8_t*>(a);
        const auto* pb = static_cast<const uint8_t*>(b);
        s->l1D += kSad8(pa, withB ? pb : nullptr, n);
        if (relative) s->l1B += kSad8(pb, nullptr, n);
        return;
    }
#endif
    ownNormRun8uPlain(a, b, n, kind, withB, relative, s);
}

// Indexed by the dense depth index; 1U has its own bit counting.
const OwnNormRunFn kNormRun[] = {nullptr,       ownNormRun8u,  ownNormRun8s,
                                 ownNormRun16u, ownNormRun16s, ownNormRun32s};
static_assert(sizeof kNormRun / sizeof kNormRun[0] == kDepthCount, "one kernel per depth");

// One processed channel of a region: first element and element step.
struct OwnNormLane {
    const char* base;
    int stride;
};
OwnNormLane ownNormLane(const OwnRegion& r, int esize, int k) {
    if (r.plane) return {r.first + r.planeSize * k, 1};
    if (r.coi > 0) return {r.first, r.nChannels};
    return {r.first + int64_t(k) * esize, r.nChannels};
}

// Gathers n strided samples into a contiguous buffer.
void ownGatherLane(const char* src, int stride, int esize, int64_t n, char* dst) {
    for (int64_t i = 0; i < n; ++i)
        std::memcpy(dst + i * esize, src + i * stride * esize, size_t(esize));
}

void ownNormRegions(const OwnRegion& ra, const OwnRegion* rb, int rows, int cols, unsigned depth,
                    int kind, bool relative, OwnNormSums* s) {
    const int esize = ownElemSize(depth);
    const OwnNormRunFn run = kNormRun[ownDepthIndex(depth)];
    const bool withB = rb != nullptr;
    // Pixel order with all channels on both sides: each row is one run.
    const bool interleaved = !ra.plane && ra.coi == 0 &&
                             (!rb || (!rb->plane && rb->coi == 0 && rb->nChannels == ra.nChannels));
    if (interleaved) {
        const int64_t n = int64_t(cols) * ra.nChannels;
        const int64_t bytes = n * esize;
        // Whole buffers without padding: one run.
        if (ra.step == bytes && (!rb || rb->step == bytes)) {
            run(ra.first, rb ? rb->first : nullptr, n * rows, kind, withB, relative, s);
            return;
        }
        for (int y = 0; y < rows; ++y)
            run(ra.first + ra.step * y, rb ? rb->first + rb->step * y : nullptr, n, kind, withB,
                relative, s);
        return;
    }
    constexpr int kPiece = 1024;
    alignas(64) char bufA[kPiece * 4], bufB[kPiece * 4];
    for (int k = 0; k < ra.channels; ++k) {
        const OwnNormLane la = ownNormLane(ra, esize, k);
        const OwnNormLane lb = rb ? ownNormLane(*rb, esize, k) : OwnNormLane{nullptr, 1};
        for (int y = 0; y < rows; ++y) {
            const char* pa = la.base + ra.step * y;
            const char* pb = rb ? lb.base + rb->step * y : nullptr;
            if (la.stride == 1 && lb.stride == 1) {
                run(pa, pb, cols, kind, withB, relative, s);
                continue;
            }
            for (int x = 0; x < cols; x += kPiece) {
                const int m = std::min(kPiece, cols - x);
                ownGatherLane(pa + int64_t(x) * la.stride * esize, la.stride, esize, m, bufA);
                if (pb) ownGatherLane(pb + int64_t(x) * lb.stride * esize, lb.stride, esize, m, bufB);
                run(bufA, pb ? bufB : nullptr, m, kind, withB, relative, s);
            }
        }
    }
}

// 1U: set bits of A (or of A xor B) and of B.
void ownNormBits(const OwnRegion& ra, const OwnRegion* rb, int rows, int cols, bool relative,
                 OwnNormSums* s) {
    auto bit = [](const OwnRegion& r, int y, int x) {
        const auto* p = reinterpret_cast<const unsigned char*>(r.first + r.step * y);
        const int b = r.bitOffset + x;
        return (p[b >> 3] >> (7 - (b & 7))) & 1;
    };
    uint64_t ones = 0, onesB = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int a = bit(ra, y, x);
            const int b = rb ? bit(*rb, y, x) : 0;
            ones += unsigned(a ^ b);
            onesB += unsigned(b);
        }
    s->l1D = ones;
    s->l2D = ones;
    s->maxD = ones != 0;
    if (relative) {
        s->l1B = onesB;
        s->l2B = onesB;
        s->maxB = onesB != 0;
    }
}

// An untiled stand-in for a tiled image: its working rectangle gathered.
struct OwnGathered {
    char* data = nullptr;
    VexImage header{};
    VexROI roi{};
    ~OwnGathered() { vexFree(data); }
};

bool ownGatherImage(VexImage* image, int rows, int cols, OwnGathered* g, VexImage** use) {
    if (!image->tileInfo) {
        *use = image;
        return true;
    }
    int x, y, c, r;
    ownClipRegion(image, &x, &y, &c, &r);
    int step = 0;
    g->data = ownGetRect(kNorm, image, x, y, cols, rows, &step);
    if (!g->data) return false;
    g->header = ownRectHeader(image, g->data, cols, rows);
    g->roi = VexROI{ownCoi(image), 0, 0, rows, cols};
    g->header.roi = &g->roi;
    *use = &g->header;
    return true;
}

double ownNorm(VexImage* srcImageA, VexImage* srcImageB, int normType) {
    const OwnSite& site = kNorm;
    const int kind = normType & 7;
    const bool relative = (normType & 8) != 0;
    if (ownFail(site,
                normType != 1 && normType != 2 && normType != 4 && normType != 9 &&
                    normType != 10 && normType != 12,
                "normType unknown", __LINE__))
        return 0.0;
    if (!ownHeaderOk(site, srcImageA, __LINE__)) return 0.0;
    if (srcImageB) {
        if (!ownHeaderOk(site, srcImageB, __LINE__)) return 0.0;
        if (ownFail(site, srcImageA->depth != srcImageB->depth,
                    "(srcImageA->depth!=srcImageB->depth)", __LINE__))
            return 0.0;
        if (ownFail(site, ownCoi(srcImageA) != ownCoi(srcImageB), "(coiA!=coiB)", __LINE__))
            return 0.0;
        // Images are read each by its own layout, so data orders may differ;
        // all channels of images with different channel counts cannot pair.
        if (ownFail(site, ownCoi(srcImageA) == 0 && srcImageA->nChannels != srcImageB->nChannels,
                    "(srcImageA->nChannels!=srcImageB->nChannels)", __LINE__))
            return 0.0;
    }
    if (relative && !srcImageB) return -1.0;

    int x, y, cols, rows;
    ownClipRegion(srcImageA, &x, &y, &cols, &rows);
    if (srcImageB) {
        int bx, by, bcols, brows;
        ownClipRegion(srcImageB, &bx, &by, &bcols, &brows);
        cols = std::min(cols, bcols);
        rows = std::min(rows, brows);
    }
    OwnNormSums s;
    if (rows > 0 && cols > 0) {
        OwnGathered ga, gb;
        VexImage *a = nullptr, *b = nullptr;
        if (!ownGatherImage(srcImageA, rows, cols, &ga, &a)) return -1.0;
        if (srcImageB && !ownGatherImage(srcImageB, rows, cols, &gb, &b)) return -1.0;
        OwnRegion ra, rb;
        ownGetRegion(a, &ra);
        if (b) ownGetRegion(b, &rb);
        if (a->depth == VEX_DEPTH_1U)
            ownNormBits(ra, b ? &rb : nullptr, rows, cols, relative, &s);
        else
            ownNormRegions(ra, b ? &rb : nullptr, rows, cols, a->depth, kind, relative, &s);
    }

    auto measure = [&](uint64_t mx, uint64_t l1, u128 l2) {
        switch (kind) {
            case kInf: return double(mx);
            case kL1: return double(l1);
            default: return std::sqrt(double(l2));
        }
    };
    double num = std::min(measure(s.maxD, s.l1D, s.l2D), kFloatMax);
    if (!relative) return num;
    double den = measure(s.maxB, s.l1B, s.l2B);
    if (den < kFloatMin) den += kFloatMin;
    const double q = num / den;
    return kind == kL2 && q > kFloatMax ? kFloatMax : q;
}

}  // namespace
}  // namespace vex

namespace vex {

// Test hook (not exported): the 8-bit L1 sum by one named path, 0 the plain
// loop, 1 SSE2, 2 AVX2; a path this build or machine lacks runs the plain
// loop. Every path must give the same sum.
uint64_t ownSad8Path(const uint8_t* a, const uint8_t* b, int64_t n, int path) {
#if OWN_NORM_SAD
    if (path == 1) return ownSad8Sse2(a, b, n);
    if (path == 2 && __builtin_cpu_supports("avx2")) return ownSad8Avx2(a, b, n);
#endif
    (void)path;
    OwnNormSums s;
    ownNormRun8uPlain(a, b, n, kL1, b != nullptr, false, &s);
    return s.l1D;
}

}  // namespace vex

extern "C" VEXAPI double vexNorm(VexImage* srcImageA, VexImage* srcImageB, int normType) {
    return vex::ownNorm(srcImageA, srcImageB, normType);
}
