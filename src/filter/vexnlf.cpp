// Rank filters: maximum, minimum and median of an nRows x nCols window.
// The three fronts share one engine, which takes the operation as a mode
// (0 maximum, 1 minimum, 2 median) and picks the routine for the depth
// from a table indexed by the mode.
//
// Maximum and minimum are separable. Across a row the window extreme comes
// from doubling: extremes over 2, 4, 8, ... samples, then two of the
// largest power-of-two span cover any window, so a row costs about
// log2(nCols) passes. Down the columns, short windows combine their rows
// directly; from five rows on, the rows are taken in blocks of nRows
// (van Herk / Gil-Werman): a block's suffix extremes and a running prefix
// extreme of the next block give every window in three passes per row.
//
// The 8-bit median (and the 1-bit one, on samples 0 and 1) keeps a
// histogram per column of the window rows; moving down a row adds one
// sample to each column histogram and removes one. Along a row the window's
// 16-bin coarse histogram gains the entering column's and loses the leaving
// one; the median's coarse bin is found by counting up, and only that bin's
// 16 fine counters are brought up to date (from the columns passed since
// their last use) and counted up. The cost per pixel does not depend on
// the window size. A 3x3 window of any depth takes a shorter road: each
// column's three samples sorted, then the median of the largest low, the
// middle median and the smallest high of three neighbouring columns.
//
// The 16- and 32-bit medians keep the window's samples sorted; moving one
// pixel merges the entering column into the sorted samples and drops the
// leaving one: linear in the window's sample count per pixel.
//
// The median is the sample of rank floor(n/2)+1 of the n window samples.
#include "filter/ownfilter.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_RANK_AVX2 1
#endif

using namespace vex;

namespace {

const OwnSite kMaxSite{"vexMaxFilter", "vexnlf"};
const OwnSite kMinSite{"vexMinFilter", "vexnlf"};
const OwnSite kMedianSite{"vexMedianFilter", "vexnlf"};

struct RankArgs {
    const OwnSite* site;
    int nRows, nCols;
    OwnWindow win;
    OwnChannels ch;
    const int* tile;
};

template <class T, bool kMax>
OWN_CLONES void ownExtremeInto(T* __restrict a, const T* __restrict b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) a[i] = kMax ? std::max(a[i], b[i]) : std::min(a[i], b[i]);
}
template <class T, bool kMax>
OWN_CLONES void ownExtremeOf(T* __restrict o, const T* __restrict a, const T* __restrict b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) o[i] = kMax ? std::max(a[i], b[i]) : std::min(a[i], b[i]);
}

// Horizontal window extremes of one bordered row into h[0, m).
template <class T, bool kMax>
void ownExtremeRow(T* h, T* tmp, const T* row, int64_t n, int64_t m, int nCols, int L) {
    if (nCols == 1) {
        std::memcpy(h, row, size_t(m) * sizeof(T));
        return;
    }
    // The first doubling reads the row itself.
    int64_t valid = n - L;
    ownExtremeOf<T, kMax>(tmp, row, row + L, valid);
    int64_t p = 2;
    while (2 * p <= nCols) {
        valid -= p * L;
        ownExtremeInto<T, kMax>(tmp, tmp + p * L, valid);
        p *= 2;
    }
    ownExtremeOf<T, kMax>(h, tmp, tmp + (nCols - p) * L, m);
}

template <class T, bool kMax>
bool ownExtremeRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes(), k = a.nRows;
    const int64_t n = in.samples(), m = int64_t(out.width()) * L;
    const bool blocks = k >= 5;
    const int slots = blocks ? 2 * k : k;
    OwnBlock hb, tb, sb, pb, tagb;
    T* hring = hb.alloc<T>(m * slots);
    T* tmp = tb.alloc<T>(n);
    T* suffix = blocks ? sb.alloc<T>(m * k) : nullptr;
    T* prefix = blocks ? pb.alloc<T>(m) : nullptr;
    int64_t* tags = tagb.alloc<int64_t>(slots);
    if (!hring || !tmp || !tags || (blocks && (!suffix || !prefix)) || !in.reserve(1)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    for (int i = 0; i < slots; ++i) tags[i] = -1;
    auto h = [&](int64_t i) -> const T* {
        const int slot = static_cast<int>(i % slots);
        T* p = hring + m * slot;
        if (tags[slot] != i) {
            ownExtremeRow<T, kMax>(p, tmp, in.get(i), n, m, a.nCols, L);
            tags[slot] = i;
        }
        return p;
    };
    const int H = out.rows();
    if (!blocks) {
        for (int r = 0; r < H; ++r) {
            T* o = out.row(r);
            std::memcpy(o, h(r), size_t(m) * sizeof(T));
            for (int j = 1; j < k; ++j) ownExtremeInto<T, kMax>(o, h(int64_t(r) + j), m);
            out.commit(r);
        }
        return true;
    }
    for (int r0 = 0; r0 < H; r0 += k) {
        // suffix[j] = extreme of rows r0+j .. r0+k-1
        std::memcpy(suffix + m * (k - 1), h(int64_t(r0) + k - 1), size_t(m) * sizeof(T));
        for (int j = k - 2; j >= 0; --j) ownExtremeOf<T, kMax>(suffix + m * j, h(int64_t(r0) + j), suffix + m * (j + 1), m);
        T* o = out.row(r0);
        std::memcpy(o, suffix, size_t(m) * sizeof(T));
        out.commit(r0);
        for (int j = 1; j < k && r0 + j < H; ++j) {
            // prefix = extreme of rows r0+k .. r0+k+j-1
            if (j == 1) std::memcpy(prefix, h(int64_t(r0) + k), size_t(m) * sizeof(T));
            else ownExtremeInto<T, kMax>(prefix, h(int64_t(r0) + k + j - 1), m);
            ownExtremeOf<T, kMax>(out.row(r0 + j), suffix + m * j, prefix, m);
            out.commit(r0 + j);
        }
    }
    return true;
}

// ---- 8-bit (and 1-bit) median by column histograms.
template <class T>
inline int ownBin(T v) {
    return std::is_signed_v<T> ? (int(uint8_t(v)) ^ 0x80) : int(uint8_t(v));
}

// The first of 16 counters at which the running count reaches `rank`;
// *below receives the count before it. The counters' total must reach rank.
inline int ownFindRank(const uint16_t* h, int64_t rank, int64_t* below) {
    int64_t cum = 0;
    int b = 0;
    while (cum + h[b] < rank) cum += h[b++];
    *below = cum;
    return b;
}

template <class C>
OWN_CLONES void ownCoarseStep(uint16_t* __restrict kc, const C* __restrict in, const C* __restrict out) {
    for (int b = 0; b < 16; ++b) kc[b] = uint16_t(kc[b] + in[b] - out[b]);
}
template <class C>
OWN_CLONES void ownFineAdd(uint16_t* __restrict kf, const C* __restrict in) {
    for (int b = 0; b < 16; ++b) kf[b] = uint16_t(kf[b] + in[b]);
}

// One output row of one lane of the histogram median, by the counters
// alone: the window's coarse counters follow every step; a coarse bin's 16
// fine counters are brought up to date only when the median falls into that
// bin (from the columns passed since their last use, or afresh from the
// window's columns when that is shorter). `cf`/`cc` point at the lane's
// first column; columns lie `L` samples apart.
template <class T, class C>
void ownMedianHistRowPlain(T* o, int L, const C* cf, const C* cc, int W, int nC, int64_t rank) {
    alignas(32) uint16_t kc[16];
    alignas(32) uint16_t kf[16][16];
    int64_t stamp[16];
    const int64_t fs = int64_t(L) * 256, cs = int64_t(L) * 16;  // strides between columns
    std::fill(kc, kc + 16, uint16_t(0));
    for (int c = 0; c < nC; ++c)
        for (int b = 0; b < 16; ++b) kc[b] = uint16_t(kc[b] + cc[c * cs + b]);
    for (int b = 0; b < 16; ++b) stamp[b] = INT64_MIN;
    for (int x = 0; x < W; ++x) {
        if (x > 0) ownCoarseStep<C>(kc, cc + (int64_t(x) + nC - 1) * cs, cc + (int64_t(x) - 1) * cs);
        int64_t cum = 0;
        const int b = ownFindRank(kc, rank, &cum);
        uint16_t* f = kf[b];
        if (stamp[b] < int64_t(x) - nC) {
            std::fill(f, f + 16, uint16_t(0));
            for (int c = 0; c < nC; ++c) ownFineAdd<C>(f, cf + (int64_t(x) + c) * fs + b * 16);
        } else {
            for (int64_t t = stamp[b] + 1; t <= x; ++t) {
                const C* pin = cf + (t + nC - 1) * fs + b * 16;
                const C* pout = cf + (t - 1) * fs + b * 16;
                for (int k = 0; k < 16; ++k) f[k] = uint16_t(f[k] + pin[k] - pout[k]);
            }
        }
        stamp[b] = x;
        int64_t finer = 0;
        const int v = ownFindRank(f, rank - cum, &finer) + b * 16;
        o[int64_t(x) * L] = std::is_signed_v<T> ? T(int8_t(uint8_t(v ^ 0x80))) : T(v);
    }
}

#if OWN_RANK_AVX2
// The same row with AVX2, without a branch per pixel: the window's 256 fine
// counters all follow every step (one add and one subtract of the entering
// and leaving column per vector), and both searches form the running counts
// of 16 counters in one register and count the lanes still below the rank.
// Byte counters when the window holds at most 255 samples, 16-bit ones
// otherwise; the counts wrap nowhere since no count exceeds n.
#define OWN_AVX2 __attribute__((target("avx2")))
OWN_AVX2 inline __m128i ownRunning8(__m128i v) {
    v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
    return _mm_add_epi8(v, _mm_slli_si128(v, 8));
}
OWN_AVX2 inline __m256i ownRunning16(__m256i v) {
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
    __m256i low = _mm256_permute2x128_si256(v, v, 0x08);  // (0, low half)
    low = _mm256_shufflehi_epi16(low, 0xFF);
    return _mm256_add_epi16(v, _mm256_unpackhi_epi64(low, low));
}
// Lanes whose running count is at most rank - 1 (they form a prefix; the
// last running count, n, is never among them).
OWN_AVX2 inline int ownBelow8(__m128i run, __m128i rankM1) {
    const unsigned m = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(run, rankM1), run)));
    return __builtin_ctz(~m);
}
OWN_AVX2 inline int ownBelow16(__m256i run, __m256i rankM1) {
    const unsigned m = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_min_epu16(run, rankM1), run)));
    return __builtin_ctz(~m) >> 1;
}

OWN_AVX2 void ownMedianHistRow8(uint8_t* o, int L, const uint8_t* cf, const uint8_t* cc, int W, int nC, int rank,
                                uint8_t flip) {
    const int64_t fs = int64_t(L) * 256, cs = int64_t(L) * 16;
    alignas(32) uint8_t kf[256];
    __m128i kc = _mm_setzero_si128();
    for (int i = 0; i < 256; i += 32) _mm256_store_si256(reinterpret_cast<__m256i*>(kf + i), _mm256_setzero_si256());
    for (int c = 0; c < nC; ++c) {
        kc = _mm_add_epi8(kc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cc + c * cs)));
        for (int i = 0; i < 256; i += 32) {
            __m256i* k = reinterpret_cast<__m256i*>(kf + i);
            _mm256_store_si256(k, _mm256_add_epi8(_mm256_load_si256(k),
                                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cf + c * fs + i))));
        }
    }
    const __m128i rk = _mm_set1_epi8(char(rank - 1));
    for (int x = 0;;) {
        const __m128i run = ownRunning8(kc);
        const int b = ownBelow8(run, rk);
        const __m128i cum = _mm_shuffle_epi8(run, _mm_set1_epi8(char(b - 1)));  // 0 for b = 0
        const __m128i fine = _mm_load_si128(reinterpret_cast<const __m128i*>(kf + 16 * b));
        const int f = ownBelow8(_mm_add_epi8(ownRunning8(fine), cum), rk);
        o[int64_t(x) * L] = uint8_t((b << 4 | f) ^ flip);
        if (++x == W) break;
        const uint8_t* in = cf + (int64_t(x) + nC - 1) * fs;
        const uint8_t* out = cf + (int64_t(x) - 1) * fs;
        kc = _mm_add_epi8(kc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cc + (int64_t(x) + nC - 1) * cs)));
        kc = _mm_sub_epi8(kc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cc + (int64_t(x) - 1) * cs)));
        for (int i = 0; i < 256; i += 32) {
            __m256i* k = reinterpret_cast<__m256i*>(kf + i);
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + i));
            _mm256_store_si256(k, _mm256_sub_epi8(_mm256_add_epi8(_mm256_load_si256(k), a), d));
        }
    }
}

OWN_AVX2 void ownMedianHistRow16(uint8_t* o, int L, const uint16_t* cf, const uint16_t* cc, int W, int nC, int rank,
                                 uint8_t flip) {
    const int64_t fs = int64_t(L) * 256, cs = int64_t(L) * 16;
    alignas(32) uint16_t kf[256];
    alignas(32) uint16_t run16[16];
    __m256i kc = _mm256_setzero_si256();
    for (int i = 0; i < 256; i += 16) _mm256_store_si256(reinterpret_cast<__m256i*>(kf + i), _mm256_setzero_si256());
    for (int c = 0; c < nC; ++c) {
        kc = _mm256_add_epi16(kc, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cc + c * cs)));
        for (int i = 0; i < 256; i += 16) {
            __m256i* k = reinterpret_cast<__m256i*>(kf + i);
            _mm256_store_si256(k, _mm256_add_epi16(_mm256_load_si256(k),
                                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cf + c * fs + i))));
        }
    }
    const __m256i rk = _mm256_set1_epi16(short(rank - 1));
    for (int x = 0;;) {
        const __m256i run = ownRunning16(kc);
        const int b = ownBelow16(run, rk);
        _mm256_store_si256(reinterpret_cast<__m256i*>(run16), run);
        const __m256i cum = _mm256_set1_epi16(short(b > 0 ? run16[b - 1] : 0));
        const __m256i fine = _mm256_load_si256(reinterpret_cast<const __m256i*>(kf + 16 * b));
        const int f = ownBelow16(_mm256_add_epi16(ownRunning16(fine), cum), rk);
        o[int64_t(x) * L] = uint8_t((b << 4 | f) ^ flip);
        if (++x == W) break;
        const uint16_t* in = cf + (int64_t(x) + nC - 1) * fs;
        const uint16_t* out = cf + (int64_t(x) - 1) * fs;
        kc = _mm256_add_epi16(kc, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cc + (int64_t(x) + nC - 1) * cs)));
        kc = _mm256_sub_epi16(kc, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cc + (int64_t(x) - 1) * cs)));
        for (int i = 0; i < 256; i += 16) {
            __m256i* k = reinterpret_cast<__m256i*>(kf + i);
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + i));
            _mm256_store_si256(k, _mm256_sub_epi16(_mm256_add_epi16(_mm256_load_si256(k), a), d));
        }
    }
}
#undef OWN_AVX2

// Chosen once, when the library is loaded.
const bool kRankAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

// One output row of one lane from the column counters.
template <class T, class C>
void ownMedianHistRow(T* o, int L, const C* cf, const C* cc, int W, int nC, int64_t rank) {
#if OWN_RANK_AVX2
    if (kRankAvx2) {
        const uint8_t flip = std::is_signed_v<T> ? 0x80 : 0;
        auto* ob = reinterpret_cast<uint8_t*>(o);
        if constexpr (std::is_same_v<C, uint8_t>) ownMedianHistRow8(ob, L, cf, cc, W, nC, int(rank), flip);
        else ownMedianHistRow16(ob, L, cf, cc, W, nC, int(rank), flip);
        return;
    }
#endif
    ownMedianHistRowPlain<T, C>(o, L, cf, cc, W, nC, rank);
}

// The histograms of one vertical strip of the window rows (`in`, output
// columns [0, W) written from o + 0 on in each row `row(r)` returns).
template <class T, class C, class RowOf, class Commit>
bool ownMedianHistStrip(const RankArgs& a, OwnRows<T>& in, int W, int H, C* fine, C* coarse, RowOf rowOf,
                        Commit commit) {
    const int L = in.lanes();
    const int64_t n = in.samples();
    const int nR = a.nRows, nC = a.nCols;
    const int64_t rank = int64_t(nR) * nC / 2 + 1;
    // The entering and the leaving row are held at once: their distance
    // nR must not be a multiple of the row store's size.
    int keep = 2;
    while (nR % keep == 0) ++keep;
    if (!in.reserve(keep)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    std::memset(fine, 0, size_t(n) * 256 * sizeof(C));
    std::memset(coarse, 0, size_t(n) * 16 * sizeof(C));
    auto addRow = [&](const T* row) {
        for (int64_t e = 0; e < n; ++e) {
            const int b = ownBin(row[e]);
            fine[e * 256 + b] = C(fine[e * 256 + b] + 1);
            coarse[e * 16 + (b >> 4)] = C(coarse[e * 16 + (b >> 4)] + 1);
        }
    };
    // One row enters and one leaves, in one sweep over the columns.
    auto moveRow = [&](const T* enter, const T* leave) {
        for (int64_t e = 0; e < n; ++e) {
            const int b = ownBin(enter[e]), c = ownBin(leave[e]);
            fine[e * 256 + b] = C(fine[e * 256 + b] + 1);
            coarse[e * 16 + (b >> 4)] = C(coarse[e * 16 + (b >> 4)] + 1);
            fine[e * 256 + c] = C(fine[e * 256 + c] - 1);
            coarse[e * 16 + (c >> 4)] = C(coarse[e * 16 + (c >> 4)] - 1);
        }
    };
    for (int j = 0; j < nR; ++j) addRow(in.get(j));
    for (int r = 0; r < H; ++r) {
        if (r > 0) {
            const T* enter = in.get(int64_t(r) + nR - 1);
            moveRow(enter, in.get(int64_t(r) - 1));
        }
        T* o = rowOf(r);
        for (int l = 0; l < L; ++l)
            ownMedianHistRow<T, C>(o + l, L, fine + int64_t(l) * 256, coarse + int64_t(l) * 16, W, nC, rank);
        commit(r);
    }
    return true;
}

// The column histograms of a whole row would leave the cache (256 counters
// per sample), so a destination written in place is worked in vertical
// strips whose histograms stay within about 256 KiB; every strip walks
// all rows. Outputs do not depend on the strip width.
template <class T, class C>
bool ownMedianHistRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes(), nC = a.nCols, W = out.width(), H = out.rows();
    const int64_t perPixel = int64_t(L) * 272 * int64_t(sizeof(C));
    int strip = W;
    if (out.direct()) {
        const int64_t fit = (int64_t(256) << 10) / perPixel - (nC - 1);
        strip = static_cast<int>(std::min<int64_t>(W, std::max<int64_t>(fit, 256)));
    }
    OwnBlock fb, cb;
    const int64_t n = (int64_t(strip) + nC - 1) * L;
    C* fine = fb.alloc<C>(n * 256);
    C* coarse = cb.alloc<C>(n * 16);
    if (!fine || !coarse) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    if (strip == W)
        return ownMedianHistStrip<T, C>(a, in, W, H, fine, coarse, [&](int r) { return out.row(r); },
                                        [&](int r) { out.commit(r); });
    for (int x0 = 0; x0 < W; x0 += strip) {
        const int w = std::min(strip, W - x0);
        OwnRows<T> part(in, x0, w + nC - 1);
        if (!ownMedianHistStrip<T, C>(a, part, w, H, fine, coarse,
                                      [&](int r) { return out.row(r) + int64_t(x0) * L; }, [](int) {}))
            return false;
    }
    return true;
}

template <class T>
bool ownMedian8Rows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    // Byte counters while no count, not even the window's, can pass 255.
    if (int64_t(a.nRows) * a.nCols <= 255) return ownMedianHistRows<T, uint8_t>(a, in, out);
    return ownMedianHistRows<T, uint16_t>(a, in, out);
}

// ---- 3x3 median of any depth: each column's three samples sorted, then
// the median of the largest low, the median middle and the smallest high
// of three neighbouring columns. Branch-free min/max across whole rows.
template <class T>
inline T ownMed3(T a, T b, T c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}
template <class T>
OWN_CLONES void ownSort3Columns(T* __restrict lo, T* __restrict mid, T* __restrict hi, const T* __restrict a,
                                const T* __restrict b, const T* __restrict c, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const T mn = std::min(a[i], b[i]), mx = std::max(a[i], b[i]);
        const T t = std::max(mn, c[i]);
        lo[i] = std::min(mn, c[i]);
        mid[i] = std::min(mx, t);
        hi[i] = std::max(mx, t);
    }
}
template <class T>
OWN_CLONES void ownMedian3Combine(T* __restrict o, const T* __restrict lo, const T* __restrict mid,
                                  const T* __restrict hi, int64_t m, int L) {
    for (int64_t i = 0; i < m; ++i) {
        const T maxLo = std::max(std::max(lo[i], lo[i + L]), lo[i + 2 * L]);
        const T minHi = std::min(std::min(hi[i], hi[i + L]), hi[i + 2 * L]);
        o[i] = ownMed3(maxLo, ownMed3(mid[i], mid[i + L], mid[i + 2 * L]), minHi);
    }
}
template <class T>
bool ownMedian3x3Rows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes();
    const int64_t n = in.samples(), m = int64_t(out.width()) * L;
    OwnBlock b;
    T* lo = b.alloc<T>(3 * n);
    if (!lo || !in.reserve(4)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    T* mid = lo + n;
    T* hi = mid + n;
    for (int r = 0; r < out.rows(); ++r) {
        ownSort3Columns<T>(lo, mid, hi, in.get(r), in.get(int64_t(r) + 1), in.get(int64_t(r) + 2), n);
        ownMedian3Combine<T>(out.row(r), lo, mid, hi, m, L);
        out.commit(r);
    }
    return true;
}

// ---- 16- and 32-bit median by a sorted window.
template <class T>
bool ownMedianSortRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes();
    const int64_t n = in.samples();
    const int nR = a.nRows, nC = a.nCols;
    const int64_t count = int64_t(nR) * nC;
    const int64_t rank = count / 2 + 1;
    OwnBlock rb, sb, tb, cb;
    T* rows = rb.alloc<T>(n * nR);        // the window rows of the current output row
    T* sorted = sb.alloc<T>(count);
    T* merged = tb.alloc<T>(count);
    T* cols = cb.alloc<T>(2 * int64_t(nR));  // leaving and entering columns
    if (!rows || !sorted || !merged || !cols || !in.reserve(1)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    for (int r = 0; r < out.rows(); ++r) {
        // Row r + j of the window lives in slot (r + j) % nR.
        if (r == 0)
            for (int j = 0; j < nR; ++j) std::memcpy(rows + n * j, in.get(j), size_t(n) * sizeof(T));
        else
            std::memcpy(rows + n * ((r + nR - 1) % nR), in.get(int64_t(r) + nR - 1), size_t(n) * sizeof(T));
        T* o = out.row(r);
        for (int l = 0; l < L; ++l) {
            int64_t q = 0;
            for (int j = 0; j < nR; ++j)
                for (int c = 0; c < nC; ++c) sorted[q++] = rows[n * j + int64_t(c) * L + l];
            std::sort(sorted, sorted + count);
            o[l] = sorted[rank - 1];
            for (int x = 1; x < out.width(); ++x) {
                T* leave = cols;
                T* enter = cols + nR;
                for (int j = 0; j < nR; ++j) {
                    leave[j] = rows[n * j + int64_t(x - 1) * L + l];
                    enter[j] = rows[n * j + (int64_t(x) + nC - 1) * L + l];
                }
                std::sort(leave, leave + nR);
                std::sort(enter, enter + nR);
                // merged = sorted minus leave, plus enter
                int64_t i = 0, li = 0, ei = 0, w = 0;
                while (i < count || ei < nR) {
                    if (i < count && li < nR && sorted[i] == leave[li]) {
                        ++i, ++li;
                        continue;
                    }
                    if (ei < nR && (i >= count || enter[ei] < sorted[i])) merged[w++] = enter[ei++];
                    else merged[w++] = sorted[i++];
                }
                std::swap(sorted, merged);
                o[int64_t(x) * L + l] = sorted[rank - 1];
            }
        }
        out.commit(r);
    }
    return true;
}

template <int DK>
void ownRankDepth(int mode, const RankArgs& a, VexImage* src, VexImage* dst) {
    using T = typename OwnDepthT<DK>::T;
    using Body = bool (*)(const RankArgs&, OwnRows<T>&, OwnOut<T>&);
    Body median = ownMedianSortRows<T>;
    if constexpr (sizeof(T) == 1)
        if (int64_t(a.nRows) * a.nCols <= 65535) median = ownMedian8Rows<T>;
    if (a.nRows == 3 && a.nCols == 3) median = ownMedian3x3Rows<T>;
    // The routine of each mode: 0 maximum, 1 minimum, 2 median.
    const Body table[3] = {ownExtremeRows<T, true>, ownExtremeRows<T, false>, median};
    const Body body = table[mode];
    ownFilterRun<T, T>(*a.site, src, dst, a.win, a.ch, a.tile,
                       [&](OwnRows<T>& in, OwnOut<T>& out) { return body(a, in, out); });
}

void ownRankFilter(int mode, VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                   int anchorY, const VexMapping* mapping) {
    static const OwnSite* const kSites[3] = {&kMaxSite, &kMinSite, &kMedianSite};
    const OwnSite& site = *kSites[mode];
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, anchorX >= nCols || anchorX < 0, "(anchorX>=nCols)||(anchorX<0)");
    OWN_CHECK(site, anchorY >= nRows || anchorY < 0, "(anchorY>=nRows)||(anchorY<0)");
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "srcImage->depth!=dstImage->depth");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder, "srcImage->dataOrder!=dstImage->dataOrder");
    const int sc = ownCoi(srcImage), dc = ownCoi(dstImage);
    ownFail(site, sc > srcImage->nChannels, "Interst Channel of input Image more number of channels.",
            __LINE__);
    ownFail(site, dc > dstImage->nChannels, "Interst Channel of output Image more number of channels.",
            __LINE__);
    const int ns = sc ? 1 : srcImage->nChannels, nd = dc ? 1 : dstImage->nChannels;
    ownFail(site, ns != nd, "Number of interset channel input and output Image is not equal.", __LINE__);
    if (vexGetErrStatus() < 0) return;

    int tileSel[2];
    RankArgs a{&site, nRows, nCols,
               OwnWindow{-int64_t(anchorX), -int64_t(anchorY), nCols, nRows},
               OwnChannels{ns, sc ? sc - 1 : 0, dc ? dc - 1 : 0},
               ownMappingTile(dstImage, mapping, true, tileSel)};
    switch (ownDepthIndex(srcImage->depth)) {
        case kD1U: ownRankDepth<kD1U>(mode, a, srcImage, dstImage); break;
        case kD8U: ownRankDepth<kD8U>(mode, a, srcImage, dstImage); break;
        case kD8S: ownRankDepth<kD8S>(mode, a, srcImage, dstImage); break;
        case kD16U: ownRankDepth<kD16U>(mode, a, srcImage, dstImage); break;
        case kD16S: ownRankDepth<kD16S>(mode, a, srcImage, dstImage); break;
        case kD32S: ownRankDepth<kD32S>(mode, a, srcImage, dstImage); break;
        default: break;
    }
}

}  // namespace

extern "C" VEXAPI void vexMaxFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols,
                                    int anchorX, int anchorY, const VexMapping* mapping) {
    ownRankFilter(0, srcImage, dstImage, nRows, nCols, anchorX, anchorY, mapping);
}

extern "C" VEXAPI void vexMinFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols,
                                    int anchorX, int anchorY, const VexMapping* mapping) {
    ownRankFilter(1, srcImage, dstImage, nRows, nCols, anchorX, anchorY, mapping);
}

extern "C" VEXAPI void vexMedianFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols,
                                       int anchorX, int anchorY, const VexMapping* mapping) {
    ownRankFilter(2, srcImage, dstImage, nRows, nCols, anchorX, anchorY, mapping);
}
