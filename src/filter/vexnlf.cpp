// Rank filters: maximum, minimum and median of an nRows x nCols window.
// The three fronts share one engine, which takes the operation as a mode
// (0 maximum, 1 minimum, 2 median) and picks the routine for the depth
// from a table indexed by the mode.
//
// Maximum and minimum are separable. On 8-bit samples of at most four
// lanes with windows of at most 8x8 (AVX2), four output rows at a time take
// the extremes of the window rows down the columns, each window row read
// once per 32 samples, then across each row in at most three steps of a
// vector and its shifted self (2, 4, then all columns). Otherwise, across
// a row the window extreme comes from doubling: extremes over 2, 4, 8, ...
// samples, then two of the largest power-of-two span cover any window, so
// a row costs about log2(nCols) passes. Down the columns, short windows combine their rows
// directly; from five rows on, the rows are taken in blocks of nRows
// (van Herk / Gil-Werman): a block's suffix extremes and a running prefix
// extreme of the next block give every window in three passes per row.
//
// The 8-bit median (and the 1-bit one, on samples 0 and 1) keeps a
// histogram per column of the window rows, as running counts in 16 coarse
// and 16x16 fine bins; moving down a row adds one sample to each column
// and removes one. Along a row the window's running counts gain the
// entering column's and lose the leaving one's; the median's coarse bin is
// the first whose count reaches the rank, its fine value likewise within
// the bin. The cost per pixel does not depend on the window size. Wide rows
// are worked in vertical strips whose column histograms stay in the
// second-level cache. With byte counters and AVX2 the coarse level is
// worked 32 outputs at a time from transposed column counts (see
// ownCoarseColumns), and groups of 32 outputs whose medians share a band
// of four bins take the fine level without picking a bin per output.
// With AVX2, windows of at most 16 columns and 255 samples on a destination
// written in place go another way (ownmedianscan.h): a table of the
// window's count of every value for every output column of a strip, one
// 32-byte step per entering and leaving sample, and per group of 32
// outputs one walk up the values from the smallest median of the row
// before.
// A 3x3 window of any depth takes a shorter road: each column's three
// samples sorted, then the median of the largest low, the middle median
// and the smallest high of three neighbouring columns.
//
// The 5x5, 7x7 and 9x9 medians of 8-bit samples with AVX2 go by
// compare-exchange networks on 32 samples at a time instead
// (ownranknet.h): each column sorted once for two output rows,
// neighbouring columns merged in pairs, the median selected from the
// pairs and the last column.
//
// Small windows (3x3 median, maximum and minimum up to 8x8) on a
// destination taken row part by row part read the rows inside the source
// image in place and copy only the margins the border modes synthesise.
//
// The 16- and 32-bit medians keep the window's samples sorted; moving one
// pixel merges the entering column into the sorted samples and drops the
// leaving one: linear in the window's sample count per pixel.
//
// The median is the sample of rank floor(n/2)+1 of the n window samples.
#include <array>
#include <utility>

#include "filter/ownfilter.h"
#include "image/ownsimd.h"
#include "image/ownstream.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_RANK_AVX2 1
#define OWN_AVX2 __attribute__((target("avx2")))
#endif

using namespace vex;

namespace {

const OwnSite kMaxSite{"vexMaxFilter", "vexnlf"};
const OwnSite kMinSite{"vexMinFilter", "vexnlf"};
const OwnSite kMedianSite{"vexMedianFilter", "vexnlf"};

#if OWN_RANK_AVX2
// Chosen once, when the library is loaded.
const bool kRankAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
OWN_AVX2 inline __m256i ownMin8(__m256i x, __m256i y) { return _mm256_min_epu8(x, y); }
OWN_AVX2 inline __m256i ownMax8(__m256i x, __m256i y) { return _mm256_max_epu8(x, y); }
// 32 samples, XORed with `flip` (0x80 in every byte orders signed bytes as
// unsigned ones).
OWN_AVX2 inline __m256i ownLoadX(const uint8_t* p, __m256i flip) {
    return _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), flip);
}
// Bytes K .. K + 31 of the 64 bytes lo:hi (0 <= K < 32).
template <int K>
OWN_AVX2 inline __m256i ownShift64(__m256i lo, __m256i hi) {
    if constexpr (K == 0) {
        return lo;
    } else {
        const __m256i mid = _mm256_permute2x128_si256(lo, hi, 0x21);
        if constexpr (K == 16) return mid;
        else if constexpr (K < 16) return _mm256_alignr_epi8(mid, lo, K);
        else return _mm256_alignr_epi8(hi, mid, K - 16);
    }
}
#endif

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

#if OWN_RANK_AVX2
// Windows of at most 8 rows and 8 columns on 8-bit samples of at most four
// lanes, R = min(4, nRows) output rows at a time. Down the columns, each of
// the K + R - 1 window rows is read once per step of 32 samples: with
// T[i] the extreme of window rows i .. K-1 (a chain up from the rows all R
// outputs share) and P[i] that of rows K .. K+i-1, output row i takes T[i]
// with P[i]. Signed samples are compared as signed bytes and kept with the
// sign bit flipped (the order of unsigned bytes) until they are stored.
// Across a row, the window's N columns come in at most three steps, each
// the extreme of a vector and of itself shifted by s samples: s = L gives
// the extremes of 2 neighbours, then s = 2L of 4 (or s = L of 3), then the
// shift that completes N. The shifted vector comes from the vector and the
// next one (a lane permute and a byte alignment, no second load), and the
// steps run one vector apart as a pipeline.
template <bool kMax, bool kSigned = false>
OWN_AVX2 inline __m256i ownPick8(__m256i x, __m256i y) {
    if constexpr (kSigned) return kMax ? _mm256_max_epi8(x, y) : _mm256_min_epi8(x, y);
    return kMax ? ownMax8(x, y) : ownMin8(x, y);
}
// Output rows 0 .. R-1 of the window rows rows[0 .. K+R-2] over n >= 32
// samples into v[0 .. R-1]; the last vector starts at n - 32 and may overlap
// the one before (same results, written again).
template <bool kMax, bool kSigned, int K>
OWN_AVX2 void ownExtremeDown8(uint8_t* const* v, const uint8_t* const* rows, int64_t n) {
    constexpr int R = K < 4 ? K : 4;
    const uint8_t* p[K + R - 1];
    for (int j = 0; j < K + R - 1; ++j) p[j] = rows[j];
    uint8_t* o[R];
    for (int j = 0; j < R; ++j) o[j] = v[j];
    const __m256i f = _mm256_set1_epi8(char(kSigned ? 0x80 : 0));
    const int64_t last = n - 32;
    for (int64_t i = 0;; i = std::min(i + 32, last)) {
        __m256i x[K + R - 1];
#pragma GCC unroll 11
        for (int j = 0; j < K + R - 1; ++j) x[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[j] + i));
        __m256i t[R];
        t[R - 1] = x[R - 1];
#pragma GCC unroll 8
        for (int j = R; j < K; ++j) t[R - 1] = ownPick8<kMax, kSigned>(t[R - 1], x[j]);
#pragma GCC unroll 4
        for (int j = R - 2; j >= 0; --j) t[j] = ownPick8<kMax, kSigned>(t[j + 1], x[j]);
        __m256i q = x[K];
#pragma GCC unroll 4
        for (int j = 1; j < R; ++j) {
            if (j > 1) q = ownPick8<kMax, kSigned>(q, x[K + j - 1]);
            t[j] = ownPick8<kMax, kSigned>(t[j], q);
        }
#pragma GCC unroll 4
        for (int j = 0; j < R; ++j)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o[j] + i), kSigned ? _mm256_xor_si256(t[j], f) : t[j]);
        if (i == last) break;
    }
}
template <bool kMax, bool kSigned>
OWN_AVX2 void ownExtremeDown8K(int k, uint8_t* const* v, const uint8_t* const* rows, int64_t n) {
    switch (k) {
        case 2: return ownExtremeDown8<kMax, kSigned, 2>(v, rows, n);
        case 3: return ownExtremeDown8<kMax, kSigned, 3>(v, rows, n);
        case 4: return ownExtremeDown8<kMax, kSigned, 4>(v, rows, n);
        case 5: return ownExtremeDown8<kMax, kSigned, 5>(v, rows, n);
        case 6: return ownExtremeDown8<kMax, kSigned, 6>(v, rows, n);
        case 7: return ownExtremeDown8<kMax, kSigned, 7>(v, rows, n);
        default: return ownExtremeDown8<kMax, kSigned, 8>(v, rows, n);
    }
}
// The extreme of x and of x shifted by S samples (S from 1 to 16), whose
// samples past the end of x come from `next`.
template <bool kMax, int S>
OWN_AVX2 inline __m256i ownStep8(__m256i x, __m256i next) {
    return ownPick8<kMax>(x, ownShift64<S>(x, next));
}
// The steps of shifts A, B, C (0: no step) as a pipeline: takes in the
// vector at v and gives back, flipped by `flip`, the output vector as many
// vectors before it as there are steps; s[i] holds the vector step i took
// in last.
template <bool kMax, int A, int B, int C>
OWN_AVX2 inline __m256i ownAdvance8(__m256i* s, const uint8_t* v, __m256i flip) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v));
    if constexpr (A > 0) {
        const __m256i y = ownStep8<kMax, A>(s[0], x);
        s[0] = x, x = y;
    }
    if constexpr (B > 0) {
        const __m256i y = ownStep8<kMax, B>(s[1], x);
        s[1] = x, x = y;
    }
    if constexpr (C > 0) {
        const __m256i y = ownStep8<kMax, C>(s[2], x);
        s[2] = x, x = y;
    }
    return _mm256_xor_si256(x, flip);
}
// m outputs of a row from its column extremes v (readable 128 bytes past
// m); a last part vector goes through a copy.
template <bool kMax, int A, int B, int C>
OWN_AVX2 void ownExtremeAcross8(uint8_t* o, const uint8_t* v, int64_t m, __m256i flip) {
    // ownAdvance8 takes in vector t of v and gives back output vector t - lag.
    constexpr int lag = (A > 0) + (B > 0) + (C > 0);
    __m256i s[3] = {flip, flip, flip};
    for (int t = 0; t < lag; ++t) ownAdvance8<kMax, A, B, C>(s, v + 32 * t, flip);
    const int64_t whole = m / 32;
    for (int64_t j = 0; j < whole; ++j)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32 * j),
                            ownAdvance8<kMax, A, B, C>(s, v + 32 * (j + lag), flip));
    if (m > 32 * whole) {
        alignas(32) uint8_t tail[32];
        const __m256i x = ownAdvance8<kMax, A, B, C>(s, v + 32 * (whole + lag), flip);
        _mm256_store_si256(reinterpret_cast<__m256i*>(tail), x);
        std::memcpy(o + 32 * whole, tail, size_t(m - 32 * whole));
    }
}
template <bool kMax, int L>
OWN_AVX2 void ownExtremeAcross8N(int nC, uint8_t* o, const uint8_t* v, int64_t m, __m256i flip) {
    switch (nC) {
        case 1: return ownExtremeAcross8<kMax, 0, 0, 0>(o, v, m, flip);
        case 2: return ownExtremeAcross8<kMax, L, 0, 0>(o, v, m, flip);
        case 3: return ownExtremeAcross8<kMax, L, L, 0>(o, v, m, flip);
        case 4: return ownExtremeAcross8<kMax, L, 2 * L, 0>(o, v, m, flip);
        case 5: return ownExtremeAcross8<kMax, L, 2 * L, L>(o, v, m, flip);
        case 6: return ownExtremeAcross8<kMax, L, 2 * L, 2 * L>(o, v, m, flip);
        case 7: return ownExtremeAcross8<kMax, L, 2 * L, 3 * L>(o, v, m, flip);
        default: return ownExtremeAcross8<kMax, L, 2 * L, 4 * L>(o, v, m, flip);
    }
}
template <bool kMax>
OWN_AVX2 void ownExtremeAcross8L(int nC, int L, uint8_t* o, const uint8_t* v, int64_t m, uint8_t flip) {
    const __m256i f = _mm256_set1_epi8(char(flip));
    switch (L) {
        case 1: return ownExtremeAcross8N<kMax, 1>(nC, o, v, m, f);
        case 2: return ownExtremeAcross8N<kMax, 2>(nC, o, v, m, f);
        case 3: return ownExtremeAcross8N<kMax, 3>(nC, o, v, m, f);
        default: return ownExtremeAcross8N<kMax, 4>(nC, o, v, m, f);
    }
}
#endif

template <class T, bool kMax>
bool ownExtremeRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes(), k = a.nRows;
    const int64_t n = in.samples(), m = int64_t(out.width()) * L;
#if OWN_RANK_AVX2
    if (sizeof(T) == 1 && kRankAvx2 && k >= 2 && k <= 8 && a.nCols <= 8 && L <= 4) {
        const int R = std::min(4, k), nC = a.nCols;
        // A piece's column extremes of the R output rows, each readable 128
        // bytes past its end (zeros, used by no output). Rows under 32
        // samples are copied into slots of 32 (zeros past the row), a slot
        // per window row kept. rows[0 .. have) are window rows r .. r +
        // have - 1 of the next pass.
        struct Piece {
            OwnBlock vb;
            uint8_t* v[4];
            uint8_t* slots;
            const uint8_t* rows[11];
            int have = 0;
        };
        const int kept = k + R - 1;
        auto prepare = [&](Piece& p, OwnRows<T>& part, int, int) {
            const int64_t pn = part.samples(), vn = pn + 128;
            auto* vbuf = p.vb.template alloc<uint8_t>(R * vn + (pn < 32 ? 32 * kept : 0));
            if (!vbuf || !part.reserve(kept)) {
                vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
                return false;
            }
            for (int i = 0; i < R; ++i) {
                p.v[i] = vbuf + vn * i;
                std::memset(p.v[i] + pn, 0, 128);
            }
            p.slots = vbuf + R * vn;
            if (pn < 32) std::memset(p.slots, 0, size_t(32 * kept));
            return true;
        };
        // Bands of 48 rows: whole passes of R = 2, 3 or 4 rows.
        return ownFilterBands<Piece>(in, out, nC, -a.win.dx0, 48, prepare, [&](Piece& p, OwnRows<T>& part, int x0,
                                                                              int w, int rb, int re) {
            const int64_t pn = part.samples(), pm = int64_t(w) * L;
            const uint8_t** rows = p.rows;
            for (int r = rb; r < re; r += R) {
                const int h = std::min(R, out.rows() - r);
                for (int j = p.have; j < k + h - 1; ++j) {
                    rows[j] = reinterpret_cast<const uint8_t*>(part.get(int64_t(r) + j));
                    if (pn < 32) {
                        uint8_t* slot = p.slots + 32 * ((r + j) % kept);
                        std::memcpy(slot, rows[j], size_t(pn));
                        rows[j] = slot;
                    }
                }
                for (int j = k + h - 1; j < kept; ++j) rows[j] = rows[k + h - 2];  // outputs past the last
                const int64_t vm = std::max<int64_t>(pn, 32);
                if (std::is_signed_v<T>) ownExtremeDown8K<kMax, true>(k, p.v, rows, vm);
                else ownExtremeDown8K<kMax, false>(k, p.v, rows, vm);
                for (int i = 0; i < h; ++i) {
                    ownExtremeAcross8L<kMax>(nC, L, reinterpret_cast<uint8_t*>(out.row(r + i) + int64_t(x0) * L),
                                             p.v[i], pm, std::is_signed_v<T> ? 0x80 : 0);
                    out.commit(r + i);
                }
                for (int j = 0; j < k - 1; ++j) rows[j] = rows[j + R];
                p.have = k - 1;
            }
            return true;
        });
    }
#endif
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
//
// Every column of the window rows keeps its counts as running counts: the
// coarse counter k holds the column's samples whose bin (value / 16) is at
// most k, and the fine counter 16k + j those of bin k whose low four bits
// are at most j. A sample entering or leaving a column adds or removes one
// step pattern of 16 counters twice (coarse, and its bin's fine counters),
// and the window's running counts are plain sums of its columns' running
// counts, so a search never forms them. Counters of type C: bytes while no
// count of the window can pass 255, else 16 bits.
template <class T>
inline int ownBin(T v) {
    return std::is_signed_v<T> ? (int(uint8_t(v)) ^ 0x80) : int(uint8_t(v));
}

// kStep[j][i] = 1 for i >= j: the running counts of one sample at j.
template <class C>
struct OwnStep {
    C v[16][16];
    constexpr OwnStep() : v() {
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i) v[j][i] = C(i >= j ? 1 : 0);
    }
};
template <class C>
constexpr OwnStep<C> kStep{};

// The coarse level of 8-bit medians with byte counters and AVX2, 32
// outputs at a time (see ownCoarseColumns): buffers of one strip.
struct OwnCoarsePlanes {
    uint8_t* col;   // 15 planes of column counts, ps apart
    uint8_t* lev;   // doubling sums of one plane (up to 7 levels), ps apart
    uint8_t* at;    // fine update offsets of the row's samples (4 rows, ps apart)
    uint8_t* win;   // 15 rows of window counts, ms apart
    uint8_t* bins;  // the median's bin per output sample
    uint8_t* rest;  // rank - 1 - (the window's count below the bin) per output sample
    uint8_t* band;    // per 32 output samples: the first bin of their band, 255 for none
    uint8_t* bounds;  // per output sample: rank bounds of the band's four bins
    int64_t ps, ms;
    int lo, hi;  // the planes the next row sums
};

// Column counters of n samples, one column per sample (256 fine and 16
// coarse counters each): row `enter` comes in and, when not null, row
// `leave` goes out.
template <class T, class C>
void ownColumnsMovePlain(C* __restrict fine, C* __restrict coarse, const T* enter, const T* leave, int64_t n) {
    for (int64_t e = 0; e < n; ++e) {
        const int a = ownBin(enter[e]);
        C* f = fine + e * 256 + (a & 0xF0);
        C* c = coarse + e * 16;
        for (int i = 0; i < 16; ++i) f[i] = C(f[i] + kStep<C>.v[a & 15][i]);
        for (int i = 0; i < 16; ++i) c[i] = C(c[i] + kStep<C>.v[a >> 4][i]);
        if (leave) {
            const int d = ownBin(leave[e]);
            C* g = fine + e * 256 + (d & 0xF0);
            for (int i = 0; i < 16; ++i) g[i] = C(g[i] - kStep<C>.v[d & 15][i]);
            for (int i = 0; i < 16; ++i) c[i] = C(c[i] - kStep<C>.v[d >> 4][i]);
        }
    }
}

// The first of 16 running counts that reaches `rank`.
template <class C>
inline int ownFirstReaching(const C* run, int64_t rank) {
    int b = 0;
    while (run[b] < rank) ++b;
    return b;
}

// One output row of one lane: `cf`/`cc` point at the lane's first column,
// columns lie L samples apart. The window's coarse running counts follow
// every step; the median's bin is the first whose count reaches the rank,
// and the bin's fine running counts are summed from the window's columns.
template <class T, class C>
void ownMedianHistRowPlain(T* o, int L, const C* cf, const C* cc, int W, int nC, int64_t rank) {
    const int64_t fs = int64_t(L) * 256, cs = int64_t(L) * 16;
    int64_t kc[16] = {}, kf[16];
    for (int c = 0; c < nC; ++c)
        for (int i = 0; i < 16; ++i) kc[i] += cc[c * cs + i];
    for (int x = 0; x < W; ++x) {
        if (x > 0)
            for (int i = 0; i < 16; ++i) kc[i] += cc[(int64_t(x) + nC - 1) * cs + i] - cc[(int64_t(x) - 1) * cs + i];
        const int b = ownFirstReaching(kc, rank);
        const int64_t below = b > 0 ? kc[b - 1] : 0;
        std::fill(kf, kf + 16, below);
        for (int c = 0; c < nC; ++c)
            for (int i = 0; i < 16; ++i) kf[i] += cf[(int64_t(x) + c) * fs + 16 * b + i];
        const int v = 16 * b + ownFirstReaching(kf, rank);
        o[int64_t(x) * L] = std::is_signed_v<T> ? T(int8_t(uint8_t(v ^ 0x80))) : T(v);
    }
}

#if OWN_RANK_AVX2
// The same row with AVX2. Both searches count the running counts of one
// register that stay below the rank. The window's fine running counts are
// kept for a band of four coarse bins (64 counters) that follows every step
// (the entering column's band added, the leaving one's subtracted); when
// the median's bin leaves the band, the band is moved to it and summed
// afresh from the window's columns.

// Running counts at most rank - 1: a prefix of the lanes (the last count,
// n, is never among them).
OWN_AVX2 inline int ownBelow8(__m128i run, __m128i rankM1) {
    const unsigned m = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(run, rankM1), run)));
    return __builtin_ctz(~m);
}
OWN_AVX2 inline int ownBelow16(__m256i run, __m256i rankM1) {
    const unsigned m = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_min_epu16(run, rankM1), run)));
    return __builtin_ctz(~m) >> 1;
}
template <class C>
OWN_AVX2 inline __m256i ownLoad(const C* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
template <class C>
OWN_AVX2 inline __m256i ownAdd(__m256i a, __m256i b) {
    return sizeof(C) == 1 ? _mm256_add_epi8(a, b) : _mm256_add_epi16(a, b);
}
template <class C>
OWN_AVX2 inline __m256i ownSub(__m256i a, __m256i b) {
    return sizeof(C) == 1 ? _mm256_sub_epi8(a, b) : _mm256_sub_epi16(a, b);
}

// 16 counters of type C: one xmm register of bytes or one ymm of words.
template <class C>
struct OwnCount16;
template <>
struct OwnCount16<uint8_t> {
    using V = __m128i;
    OWN_AVX2 static V zero() { return _mm_setzero_si128(); }
    OWN_AVX2 static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    OWN_AVX2 static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    OWN_AVX2 static V add(V a, V b) { return _mm_add_epi8(a, b); }
    OWN_AVX2 static V sub(V a, V b) { return _mm_sub_epi8(a, b); }
    OWN_AVX2 static V all(int v) { return _mm_set1_epi8(char(v)); }
    OWN_AVX2 static int below(V run, V rankM1) { return ownBelow8(run, rankM1); }
    // Running count b - 1 in every lane (0 for b = 0).
    OWN_AVX2 static V before(V run, int b) { return _mm_shuffle_epi8(run, _mm_set1_epi8(char(b - 1))); }
};
template <>
struct OwnCount16<uint16_t> {
    using V = __m256i;
    OWN_AVX2 static V zero() { return _mm256_setzero_si256(); }
    OWN_AVX2 static V load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    OWN_AVX2 static void store(uint16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    OWN_AVX2 static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    OWN_AVX2 static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    OWN_AVX2 static V all(int v) { return _mm256_set1_epi16(short(v)); }
    OWN_AVX2 static int below(V run, V rankM1) { return ownBelow16(run, rankM1); }
    OWN_AVX2 static V before(V run, int b) {
        alignas(32) uint16_t r[17];
        r[0] = 0;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + 1), run);
        return _mm256_set1_epi16(short(r[b]));
    }
};

// Column counters as in ownColumnsMovePlain, for `count` columns whose
// samples lie `L` apart (and their counters 256 L and 16 L apart).
template <class T, class C>
OWN_AVX2 inline void ownColumnsMoveAvx2(C* fine, C* coarse, const T* enter, const T* leave, int64_t count, int L) {
    using K = OwnCount16<C>;
    const C(*step)[16] = kStep<C>.v;
    for (int64_t e = 0; e < count; ++e) {
        const int a = ownBin(enter[e * L]);
        C* f = fine + e * L * 256 + (a & 0xF0);
        C* c = coarse + e * L * 16;
        typename K::V cv = K::add(K::load(c), K::load(step[a >> 4]));
        K::store(f, K::add(K::load(f), K::load(step[a & 15])));
        if (leave) {
            const int d = ownBin(leave[e * L]);
            C* g = fine + e * L * 256 + (d & 0xF0);
            cv = K::sub(cv, K::load(step[d >> 4]));
            K::store(g, K::sub(K::load(g), K::load(step[d & 15])));
        }
        K::store(c, cv);
    }
}

// One output row of one lane.
template <class T, class C>
OWN_AVX2 void ownMedianHistRowAvx2(T* o, int L, const C* cf, const C* cc, int W, int nC, int rank) {
    using K = OwnCount16<C>;
    constexpr int kPer = 32 / int(sizeof(C));  // counters per register
    constexpr int kRegs = 64 / kPer;           // registers per band
    const int64_t fs = int64_t(L) * 256, cs = int64_t(L) * 16;
    alignas(32) C band[64];
    __m256i k[kRegs] = {};
    int s = -16;  // the band's first bin; none yet
    typename K::V kc = K::zero();
    for (int c = 0; c < nC; ++c) kc = K::add(kc, K::load(cc + c * cs));
    const uint8_t flip = std::is_signed_v<T> ? 0x80 : 0;
    const typename K::V rk = K::all(rank - 1);
    for (int x = 0;;) {
        const int b = K::below(kc, rk);
        if (b < s || b >= s + 4) {
            s = std::min(std::max(b - 1, 0), 12);
            for (int i = 0; i < kRegs; ++i) k[i] = _mm256_setzero_si256();
            for (int c = 0; c < nC; ++c) {
                const C* p = cf + (int64_t(x) + c) * fs + 16 * s;
                for (int i = 0; i < kRegs; ++i) k[i] = ownAdd<C>(k[i], ownLoad(p + i * kPer));
            }
        }
        typename K::V fine;
        if constexpr (sizeof(C) == 1) {
            // Bin b - s of the band: register (b - s) / 2, half (b - s) % 2.
            const int j = b - s;
            const __m256i reg = _mm256_blendv_epi8(k[0], k[1], _mm256_set1_epi8(char(-(j >> 1))));
            const __m256i half = _mm256_add_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32((j & 1) * 4));
            fine = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(reg, half));
        } else {
            for (int i = 0; i < kRegs; ++i) _mm256_store_si256(reinterpret_cast<__m256i*>(band + i * kPer), k[i]);
            fine = K::load(band + 16 * (b - s));
        }
        const typename K::V run = K::add(K::before(kc, b), fine);
        o[int64_t(x) * L] = T(uint8_t((b << 4 | K::below(run, rk)) ^ flip));
        if (++x == W) break;
        const int64_t in = int64_t(x) + nC - 1, out = int64_t(x) - 1;
        kc = K::sub(K::add(kc, K::load(cc + in * cs)), K::load(cc + out * cs));
        const C* pin = cf + in * fs + 16 * s;
        const C* pout = cf + out * fs + 16 * s;
        for (int i = 0; i < kRegs; ++i) k[i] = ownSub<C>(ownAdd<C>(k[i], ownLoad(pin + i * kPer)), ownLoad(pout + i * kPer));
    }
}

#include "filter/ownranknet.h"

// The next whole vector of 32 after the one at s, for [0, n) with n >= 32:
// the last one starts at n - 32 and may overlap the one before (same
// results, written again); n once done.
inline int64_t ownNextVector(int64_t s, int64_t n) { return s == n - 32 ? n : std::min(s + 32, n - 32); }

// The K x K median (K = 5, 7, 9) of 8-bit samples (signed ones with the
// sign bit flipped around the comparisons) by networks, for rows of at
// least 32 samples. Two output rows at a time sort their columns of K (the
// K - 1 window rows they share once); then, for each output row,
// neighbouring columns are merged in pairs and each window's median is
// selected from its K / 2 pairs and its last column. A row pair is worked
// in pieces of kPiece outputs so that the planes of sorted columns and
// pairs stay in the first-level cache.
template <int K, class T>
OWN_AVX2 bool ownMedianNetRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    using Net = OwnRankNet<K>;
    constexpr int64_t kPiece = 512;
    const int L = in.lanes(), H = out.rows();
    const int64_t m = int64_t(out.width()) * L;
    const int64_t stride = (kPiece + (K - 1) * L + 31) / 32 * 32;
    OwnBlock pb, ob;
    uint8_t* planes = pb.alloc<uint8_t>(4 * K * stride);  // sorted columns of the two rows, then pairs
    uint8_t* own = out.direct() ? nullptr : ob.alloc<uint8_t>(2 * m);
    if (!planes || (!out.direct() && !own) || !in.reserve(K + 1)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    uint8_t* cols[2] = {planes, planes + K * stride};
    uint8_t* pairs = planes + 2 * K * stride;
    const __m256i flip = _mm256_set1_epi8(std::is_signed_v<T> ? char(0x80) : 0);
    const uint8_t* rows[K + 1];
    for (int r = 0; r < H; r += 2) {
        const bool two = r + 1 < H;
        for (int j = 0; j <= K; ++j)
            rows[j] = reinterpret_cast<const uint8_t*>(in.get(int64_t(r) + (j < K || two ? j : K - 1)));
        uint8_t* dst[2] = {own ? own : reinterpret_cast<uint8_t*>(out.row(r)),
                           own ? own + m : two ? reinterpret_cast<uint8_t*>(out.row(r + 1)) : nullptr};
        for (int64_t o = 0; o < m; o += kPiece) {
            // Outputs [x0, x0 + len); a last piece under one vector starts earlier.
            const int64_t len = std::max<int64_t>(std::min(kPiece, m - o), 32), x0 = std::min(o, m - len);
            for (int64_t s = 0, n = len + (K - 1) * L; s < n; s = ownNextVector(s, n))
                Net::sortColumns(cols[0] + s, cols[1] + s, rows, x0 + s, stride, flip);
            for (int h = 0; h < (two ? 2 : 1); ++h) {
                const uint8_t* c = cols[h];
                for (int64_t s = 0, n = len + (K - 3) * L; s < n; s = ownNextVector(s, n))
                    Net::mergeColumns(pairs + s, c + s, stride, L);
                uint8_t* d = dst[h] + x0;
                for (int64_t s = 0; s < len; s = ownNextVector(s, len))
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + s),
                                        _mm256_xor_si256(Net::median(pairs + s, c + s, stride, L), flip));
            }
        }
        for (int h = 0; h < (two ? 2 : 1); ++h) {
            if (own) std::memcpy(out.row(r + h), own + h * m, size_t(m));
            out.commit(r + h);
        }
    }
    return true;
}

// ---- Coarse counts of 32 outputs at a time (byte counters, AVX2).
//
// The columns' coarse running counts are kept transposed: plane k holds,
// for every column, the count of its samples whose bin is at most k
// (k = 0 .. 14), one byte per column, so a row step updates 32 columns of
// a plane with two compares. A window's count of plane k is the sum of nC
// columns L apart, formed by doubling (sums of 2, 4, 8, ... columns, then
// the sums the binary digits of nC name). The median's bin is the number
// of planes whose window count stays below the rank, the count below the
// bin the largest of those counts. Only the planes around the bins of the
// row before are summed: planes under the range count as below the rank in
// every output, those over it as reaching it, which holds when the range's
// first plane is below the rank in every output and its last plane reaches
// it; a side where it does not widens by two planes and the row's bins are
// taken again.
//
// The fine level stays per output: the fine running counts of a band of
// four bins (two registers) follow the row and are summed afresh from the
// columns when the median's bin leaves the band; the bin's 16 counts are
// picked from the band and compared with the rank left within the bin.

// Plane k's count moves by the entering sample's [bin <= k] less the
// leaving one's. A sample XORed with `flip` is, as a signed byte, at most
// 16 k - 113 exactly when its bin is at most k.
//
// On the way, the offsets the fine update takes for each sample go to
// `at` (rows ps apart: the entering sample's bin times 16 and low four
// bits times 16, then the leaving sample's).
template <bool kLeave>
OWN_AVX2 void ownCoarseColumns(uint8_t* col, uint8_t* at, int64_t ps, const uint8_t* enter, const uint8_t* leave,
                               int64_t n, uint8_t flip) {
    const __m256i f = _mm256_set1_epi8(char(flip)), high = _mm256_set1_epi8(char(0xF0));
    const __m256i sign = _mm256_set1_epi8(char(0x80));
    alignas(32) uint8_t lastIn[32] = {}, lastOut[32] = {};
    for (int64_t i = 0; i < n; i += 32) {
        // The row's last samples from a copy: the lanes past its end
        // count in the planes' padding, which no output reads.
        const uint8_t *in = enter + i, *out = kLeave ? leave + i : nullptr;
        if (i + 32 > n) {
            std::memcpy(lastIn, in, size_t(n - i));
            in = lastIn;
            if (kLeave) {
                std::memcpy(lastOut, out, size_t(n - i));
                out = lastOut;
            }
        }
        const __m256i e = ownLoadX(in, f);
        const __m256i d = kLeave ? ownLoadX(out, f) : _mm256_setzero_si256();
        for (int h = 0; h < (kLeave ? 2 : 1); ++h) {
            const __m256i v = _mm256_xor_si256(h ? d : e, sign);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 2 * h * ps + i), _mm256_and_si256(v, high));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + (2 * h + 1) * ps + i),
                                _mm256_and_si256(_mm256_slli_epi16(v, 4), high));
        }
        for (int k = 0; k < 15; ++k) {
            uint8_t* p = col + k * ps + i;
            __m256i t = _mm256_set1_epi8(char(16 * k - 113));
            // Kept as a register: the compiler would rewrite some compares
            // with constants as a minimum and an equality (two operations).
            asm("" : "+x"(t));
            // -1 where a sample's bin is above k: the entering one's mask
            // less the leaving one's is the change; without a leaving
            // sample, the change is the mask plus one.
            const __m256i delta = kLeave ? _mm256_sub_epi8(_mm256_cmpgt_epi8(e, t), _mm256_cmpgt_epi8(d, t))
                                         : _mm256_sub_epi8(_mm256_setzero_si256(),
                                                           _mm256_cmpgt_epi8(_mm256_set1_epi8(char(16 * k - 112)), e));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_add_epi8(ownLoad(p), delta));
        }
    }
}

// Window counts of plane k for the m outputs (rows of n >= m >= 32
// columns) into window row k. Whole vectors: past the row's end the
// buffers' padding gives counts no output uses.
OWN_AVX2 void ownCoarseWindow(const OwnCoarsePlanes& P, int k, int64_t n, int64_t m, int nC, int L) {
    const uint8_t* lev[8];
    lev[0] = P.col + k * P.ps;
    int q = 0;
    for (; (2 << q) <= nC; ++q) {
        // Sums of 2^(q+1) columns, for the first n - (2^(q+1) - 1) L.
        const int64_t len = n - ((int64_t(2) << q) - 1) * L, sh = (int64_t(1) << q) * L;
        uint8_t* o = P.lev + q * P.ps;
        const uint8_t* x = lev[q];
        for (int64_t s = 0; s < len; s += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + s),
                                _mm256_add_epi8(ownLoad(x + s), ownLoad(x + s + sh)));
        lev[q + 1] = o;
    }
    const uint8_t* part[8];
    int parts = 0;
    int64_t off = 0;
    for (int b = q; b >= 0; --b)
        if (nC >> b & 1) {
            part[parts++] = lev[b] + off;
            off += (int64_t(1) << b) * L;
        }
    uint8_t* w = P.win + k * P.ms;
#define OWN_AT(t) ownLoad(part[t] + s)
#define OWN_PUT(v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(w + s), v)
    switch (parts) {
        case 1:
            for (int64_t s = 0; s < m; s += 32) OWN_PUT(OWN_AT(0));
            break;
        case 2:
            for (int64_t s = 0; s < m; s += 32) OWN_PUT(_mm256_add_epi8(OWN_AT(0), OWN_AT(1)));
            break;
        case 3:
            for (int64_t s = 0; s < m; s += 32)
                OWN_PUT(_mm256_add_epi8(_mm256_add_epi8(OWN_AT(0), OWN_AT(1)), OWN_AT(2)));
            break;
        case 4:
            for (int64_t s = 0; s < m; s += 32)
                OWN_PUT(_mm256_add_epi8(_mm256_add_epi8(OWN_AT(0), OWN_AT(1)), _mm256_add_epi8(OWN_AT(2), OWN_AT(3))));
            break;
        default:
            for (int64_t s = 0; s < m; s += 32) {
                __m256i acc = OWN_AT(0);
                for (int t = 1; t < parts; ++t) acc = _mm256_add_epi8(acc, OWN_AT(t));
                OWN_PUT(acc);
            }
    }
#undef OWN_AT
#undef OWN_PUT
}

// The smallest byte of v.
OWN_AVX2 inline int ownMinByte(__m256i v) {
    __m128i x = _mm_min_epu8(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    x = _mm_min_epu8(x, _mm_srli_si128(x, 8));
    x = _mm_min_epu8(x, _mm_srli_si128(x, 4));
    x = _mm_min_epu8(x, _mm_srli_si128(x, 2));
    x = _mm_min_epu8(x, _mm_srli_si128(x, 1));
    return _mm_cvtsi128_si32(x) & 0xFF;
}

// Bins and ranks left within the bin of the m outputs from window rows
// lo .. hi, with the smallest and largest bin. Returns 0, or 1 when some
// output's bin lies below lo + 1 (lo > 0), plus 2 when some bin lies above
// hi (hi < 14): there the rows outside the range matter.
//
// Every 32 output samples whose bins all lie in one band of four bins
// (first bin s, s <= 12) get s in `band` and, for each sample, the rank
// bounds of the band's four bins (`bounds`, four bytes): 255 for a bin
// below the median's (all of its values lie below the median), the rank
// left plus one for the median's bin, 0 above. A value of the band lies
// below the median exactly when its fine running count is under its bin's
// bound, so the median is 16 s plus the number of such values. Other
// groups get 255 in `band`.
OWN_AVX2 int ownCoarseBins(const OwnCoarsePlanes& P, int64_t m, int lo, int hi, int rank, int& bmin, int& bmax) {
    const __m256i rm1 = _mm256_set1_epi8(char(rank - 1)), zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_cmpeq_epi8(zero, zero);
    const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                          22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    __m256i badLow = zero, badHigh = zero, mn = _mm256_set1_epi8(15), mx = zero;
    int last = -1;  // the band of the group before, -1 for none
    for (int64_t s = 0; s < m; s += 32) {
        // Lanes past the row's end take no part.
        const __m256i valid = _mm256_cmpgt_epi8(_mm256_set1_epi8(char(std::min<int64_t>(m - s, 32))), lane);
        __m256i b = _mm256_set1_epi8(char(lo)), below = zero, under = zero;
        for (int k = lo; k <= hi; ++k) {
            const __m256i w = ownLoad(P.win + k * P.ms + s);
            under = _mm256_cmpeq_epi8(_mm256_subs_epu8(w, rm1), zero);  // count below the rank
            if (k == lo && lo > 0) badLow = _mm256_or_si256(badLow, _mm256_andnot_si256(under, valid));
            b = _mm256_sub_epi8(b, under);
            below = _mm256_max_epu8(below, _mm256_and_si256(w, under));
        }
        if (hi < 14) badHigh = _mm256_or_si256(badHigh, _mm256_and_si256(under, valid));
        const __m256i rest = _mm256_sub_epi8(rm1, below);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(P.bins + s), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(P.rest + s), rest);
        const __m256i bLow = _mm256_or_si256(b, _mm256_andnot_si256(valid, ones)), bHigh = _mm256_and_si256(b, valid);
        mn = _mm256_min_epu8(mn, bLow);
        mx = _mm256_max_epu8(mx, bHigh);
        // The group before's band when it holds these bins too (moving the
        // band costs a sum over the window's columns), else the band from
        // the smallest bin.
        const int gLow = ownMinByte(bLow), gHigh = 255 - ownMinByte(_mm256_xor_si256(bHigh, ones));
        const int cLow = last >= 0 && gLow >= last && gHigh <= last + 3 ? last : std::min(gLow, 12);
        const bool banded = gHigh <= cLow + 3;
        P.band[s >> 5] = uint8_t(banded ? cLow : 255);
        last = banded ? cLow : -1;
        if (!banded) continue;
        // Bounds of bins t = 0 .. 3 of the band, as four bytes per sample.
        const __m256i j = _mm256_sub_epi8(b, _mm256_set1_epi8(char(cLow))), r1 = _mm256_sub_epi8(rest, ones);
        __m256i t4[4];
        for (int t = 0; t < 4; ++t) {
            const __m256i tv = _mm256_set1_epi8(char(t));
            t4[t] = _mm256_or_si256(_mm256_cmpgt_epi8(j, tv), _mm256_and_si256(_mm256_cmpeq_epi8(j, tv), r1));
        }
        const __m256i lo01 = _mm256_unpacklo_epi8(t4[0], t4[1]), hi01 = _mm256_unpackhi_epi8(t4[0], t4[1]);
        const __m256i lo23 = _mm256_unpacklo_epi8(t4[2], t4[3]), hi23 = _mm256_unpackhi_epi8(t4[2], t4[3]);
        const __m256i q0 = _mm256_unpacklo_epi16(lo01, lo23), q1 = _mm256_unpackhi_epi16(lo01, lo23);
        const __m256i q2 = _mm256_unpacklo_epi16(hi01, hi23), q3 = _mm256_unpackhi_epi16(hi01, hi23);
        __m256i* d = reinterpret_cast<__m256i*>(P.bounds + 4 * s);
        _mm256_storeu_si256(d, _mm256_permute2x128_si256(q0, q1, 0x20));
        _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(q2, q3, 0x20));
        _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(q0, q1, 0x31));
        _mm256_storeu_si256(d + 3, _mm256_permute2x128_si256(q2, q3, 0x31));
    }
    bmin = ownMinByte(mn);
    bmax = 255 - ownMinByte(_mm256_xor_si256(mx, ones));
    return (_mm256_testz_si256(badLow, badLow) ? 0 : 1) | (_mm256_testz_si256(badHigh, badHigh) ? 0 : 2);
}

// One 16-byte step pattern added to (kSub: subtracted from) the counters
// at p.
template <bool kSub>
OWN_AVX2 inline void ownStep16(uint8_t* p, const uint8_t* step) {
    __m128i* f = reinterpret_cast<__m128i*>(p);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(step));
    _mm_storeu_si128(f, kSub ? _mm_sub_epi8(_mm_loadu_si128(f), v) : _mm_add_epi8(_mm_loadu_si128(f), v));
}

// Rows of the fine column counters (all of a sample's lanes, counters 256
// apart) and the coarse planes: row `enter` comes in and, unless null,
// row `leave` goes out.
template <class T>
OWN_AVX2 void ownBandColumns(uint8_t* fine, OwnCoarsePlanes& P, const T* enter, const T* leave, int64_t n) {
    const uint8_t flip = std::is_signed_v<T> ? 0 : 0x80;
    auto u = [](const T* p) { return reinterpret_cast<const uint8_t*>(p); };
    const uint8_t* step = &kStep<uint8_t>.v[0][0];
    const uint8_t *hi = P.at, *lo = P.at + P.ps;
    uint8_t* p = fine;
    if (!leave) {
        ownCoarseColumns<false>(P.col, P.at, P.ps, u(enter), nullptr, n, flip);
#pragma GCC unroll 2
        for (int64_t e = 0; e < n; ++e, p += 256) ownStep16<false>(p + hi[e], step + lo[e]);
        return;
    }
    ownCoarseColumns<true>(P.col, P.at, P.ps, u(enter), u(leave), n, flip);
    const uint8_t *hiOut = P.at + 2 * P.ps, *loOut = P.at + 3 * P.ps;
#pragma GCC unroll 2
    for (int64_t e = 0; e < n; ++e, p += 256) {
        ownStep16<false>(p + hi[e], step + lo[e]);
        ownStep16<true>(p + hiOut[e], step + loOut[e]);
    }
}

// The band's window counts summed afresh from the nC columns from p on
// (fs apart), and moved on by one column (the column after the last one
// is padding).
OWN_AVX2 inline void ownBandSum(__m256i& k0, __m256i& k1, const uint8_t* p, int64_t fs, int nC) {
    k0 = k1 = _mm256_setzero_si256();
    for (int c = 0; c < nC; ++c, p += fs) {
        k0 = _mm256_add_epi8(k0, ownLoad(p));
        k1 = _mm256_add_epi8(k1, ownLoad(p + 32));
    }
}
OWN_AVX2 inline void ownBandStep(__m256i& k0, __m256i& k1, const uint8_t* p, int64_t fs, int nC) {
    const uint8_t* in = p + int64_t(nC) * fs;
    k0 = _mm256_sub_epi8(_mm256_add_epi8(k0, ownLoad(in)), ownLoad(p));
    k1 = _mm256_sub_epi8(_mm256_add_epi8(k1, ownLoad(in + 32)), ownLoad(p + 32));
}

// One output row of lane l (of L) from its bins, ranks left and band
// bounds and the fine column counters (`cf` at the lane's first column,
// columns L samples apart). The window's fine running counts of the band
// (bins s .. s + 3, two registers) follow the row. A group of 32 samples
// with a band of its own moves the band there and counts the band's values
// under their bounds; otherwise each output whose bin leaves the band
// moves the band (s = bin - 1 within 0 .. 12) and its bin's counts are
// picked from the band. Moving the band sums it afresh from the columns.
template <class T>
OWN_AVX2 void ownMedianBandRow(T* o, int l, int L, const uint8_t* cf, const OwnCoarsePlanes& P, int W, int nC) {
    // Bin j of the band: register j / 2 (a blend mask), half j % 2 (the
    // dwords a permute takes).
    struct Pick {
        alignas(32) int32_t mask[8], idx[8];
    };
    static constexpr Pick kPick[4] = {{{0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 0, 1, 2, 3}},
                                      {{0, 0, 0, 0, 0, 0, 0, 0}, {4, 5, 6, 7, 4, 5, 6, 7}},
                                      {{-1, -1, -1, -1, -1, -1, -1, -1}, {0, 1, 2, 3, 0, 1, 2, 3}},
                                      {{-1, -1, -1, -1, -1, -1, -1, -1}, {4, 5, 6, 7, 4, 5, 6, 7}}};
    const int64_t fs = int64_t(L) * 256;
    const uint8_t flip = std::is_signed_v<T> ? 0x80 : 0;
    // Bounds of bins 0 and 1 (2 and 3) of the band to the two halves.
    const __m256i spread01 = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                              1, 1, 1, 1, 1, 1, 1);
    const __m256i spread23 = _mm256_add_epi8(spread01, _mm256_set1_epi8(2));
    __m256i k0 = _mm256_setzero_si256(), k1 = k0;
    int s = -16;  // the band's first bin; none yet
    // k / L for 0 <= k < 2^10 as (k * inv) >> 16, without a division per group.
    const int64_t inv = (65535 + L) / L;
    const int64_t groups = (int64_t(W) * L + 31) >> 5;
    for (int x = 0; x < W;) {
        const int64_t i0 = int64_t(x) * L + l, group = i0 >> 5;
        int end = int(std::min<int64_t>(W, x + (((group + 1) * 32 - i0 + L - 1) * inv >> 16)));
        const int band = P.band[group];
        if (band != 255) {
            // The following groups of the same band run on in one loop.
            int64_t next = group + 1;
            while (next < groups && P.band[next] == band) ++next;
            if (next > group + 1) end = int(std::min<int64_t>(W, (next * 32 - l + L - 1) / L));
            if (band != s) ownBandSum(k0, k1, cf + int64_t(x) * fs + 16 * (s = band), fs, nC);
            const int base = 16 * s + 64;
            const uint8_t* bp = P.bounds + 4 * (int64_t(x) * L + l);
            const uint8_t* cp = cf + int64_t(x) * fs + 16 * s;
            T* op = o + int64_t(x) * L + l;
#pragma GCC unroll 2
            for (; x < end; ++x, bp += 4 * L, cp += fs, op += L) {
                int32_t packed;
                std::memcpy(&packed, bp, 4);
                const __m256i bound = _mm256_set1_epi32(packed);
                const __m256i u0 = _mm256_shuffle_epi8(bound, spread01), u1 = _mm256_shuffle_epi8(bound, spread23);
                // Counts at or over their bound.
                const unsigned g0 = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(k0, u0), k0)));
                const unsigned g1 = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(k1, u1), k1)));
                *op = T(uint8_t((base - __builtin_popcount(g0) - __builtin_popcount(g1)) ^ flip));
                ownBandStep(k0, k1, cp, fs, nC);
            }
            continue;
        }
        for (; x < end; ++x) {
            const int64_t i = int64_t(x) * L + l;
            const int b = P.bins[i];
            if (unsigned(b - s) > 3u)
                ownBandSum(k0, k1, cf + int64_t(x) * fs + 16 * (s = std::min(std::max(b - 1, 0), 12)), fs, nC);
            const Pick& pk = kPick[b - s];
            const __m256i reg =
                _mm256_blendv_epi8(k0, k1, _mm256_load_si256(reinterpret_cast<const __m256i*>(pk.mask)));
            const __m128i fine = _mm256_castsi256_si128(
                _mm256_permutevar8x32_epi32(reg, _mm256_load_si256(reinterpret_cast<const __m256i*>(pk.idx))));
            const int v = b << 4 | ownBelow8(fine, _mm_set1_epi8(char(P.rest[i])));
            o[i] = T(uint8_t(v ^ flip));
            ownBandStep(k0, k1, cf + int64_t(x) * fs + 16 * s, fs, nC);
        }
    }
}

// One step of the strip: the rows move in the counters, then the window
// rows of the planes in the range (all of them when the range does not
// hold), then each lane's row.
template <class T>
OWN_AVX2 void ownMedianBandStep(T* o, int L, uint8_t* fine, OwnCoarsePlanes& P, const T* enter, const T* leave,
                                int64_t n, int W, int nC, int rank) {
    ownBandColumns<T>(fine, P, enter, leave, n);
    const int64_t m = int64_t(W) * L;
    int bmin = 0, bmax = 15, lo = P.lo, hi = P.hi;
    for (int k = lo; k <= hi; ++k) ownCoarseWindow(P, k, n, m, nC, L);
    // A side where the range does not hold widens by two planes.
    for (int miss; (miss = ownCoarseBins(P, m, lo, hi, rank, bmin, bmax)) != 0;) {
        const int wideLo = miss & 1 ? std::max(lo - 2, 0) : lo, wideHi = miss & 2 ? std::min(hi + 2, 14) : hi;
        for (int k = wideLo; k < lo; ++k) ownCoarseWindow(P, k, n, m, nC, L);
        for (int k = hi + 1; k <= wideHi; ++k) ownCoarseWindow(P, k, n, m, nC, L);
        lo = wideLo, hi = wideHi;
    }
    // Next row: the planes of this row's bins (bin b needs planes b - 1 and b).
    P.lo = std::max(bmin - 1, 0);
    P.hi = std::min(bmax, 14);
    for (int l = 0; l < L; ++l) ownMedianBandRow<T>(o, l, L, fine + int64_t(l) * 256, P, W, nC);
}
#endif

// Row `enter` comes into the column counters and row `leave` (unless null)
// goes out; then one output row (all lanes) from the counters.
template <class T, class C>
void ownMedianHistStep(T* o, int L, C* fine, C* coarse, OwnCoarsePlanes* planes, const T* enter, const T* leave,
                       int64_t n, int W, int nC, int64_t rank) {
#if OWN_RANK_AVX2
    if constexpr (sizeof(C) == 1)
        if (planes) return ownMedianBandStep<T>(o, L, fine, *planes, enter, leave, n, W, nC, int(rank));
    if (kRankAvx2) {
        ownColumnsMoveAvx2<T, C>(fine, coarse, enter, leave, n, 1);
        for (int l = 0; l < L; ++l)
            ownMedianHistRowAvx2<T, C>(o + l, L, fine + int64_t(l) * 256, coarse + int64_t(l) * 16, W, nC, int(rank));
        return;
    }
#endif
    ownColumnsMovePlain<T, C>(fine, coarse, enter, leave, n);
    for (int l = 0; l < L; ++l)
        ownMedianHistRowPlain<T, C>(o + l, L, fine + int64_t(l) * 256, coarse + int64_t(l) * 16, W, nC, rank);
}

// The histograms of one vertical strip of the window rows (`in`, output
// columns [0, W) written from o + 0 on in each row `row(r)` returns).
template <class T, class C, class RowOf, class Commit>
bool ownMedianHistStrip(const RankArgs& a, OwnRows<T>& in, int W, int H, C* fine, C* coarse, OwnCoarsePlanes* planes,
                        RowOf rowOf, Commit commit) {
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
    if (planes) {
        std::memset(planes->col, 0, size_t(planes->ps) * 15);
        planes->lo = 0, planes->hi = 14;
    } else {
        std::memset(coarse, 0, size_t(n) * 16 * sizeof(C));
    }
    for (int j = 0; j + 1 < nR; ++j) {
#if OWN_RANK_AVX2
        if constexpr (sizeof(C) == 1)
            if (planes) {
                ownBandColumns<T>(fine, *planes, in.get(j), nullptr, n);
                continue;
            }
#endif
        ownColumnsMovePlain<T, C>(fine, coarse, in.get(j), nullptr, n);
    }
    for (int r = 0; r < H; ++r) {
        const T* enter = in.get(int64_t(r) + nR - 1);
        ownMedianHistStep<T, C>(rowOf(r), L, fine, coarse, planes, enter, r > 0 ? in.get(int64_t(r) - 1) : nullptr,
                                n, W, nC, rank);
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
        // Strips of equal width (none narrower than half of one).
        const int count = (W + strip - 1) / strip;
        strip = (W + count - 1) / count;
    }
    OwnBlock fb, cb, pb;
    const int64_t n = (int64_t(strip) + nC - 1) * L;
    // One column more than the strip's: padding the band's last step reads.
    C* fine = fb.alloc<C>((n + L) * 256);
    C* coarse = cb.alloc<C>(n * 16);
    if (!fine || !coarse) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    std::memset(fine, 0, size_t(n + L) * 256 * sizeof(C));
    // Byte counters with AVX2 on rows of at least 32 output samples: the
    // coarse level 32 outputs at a time.
    [[maybe_unused]] OwnCoarsePlanes planes{};  // filled only with AVX2
    OwnCoarsePlanes* pl = nullptr;
#if OWN_RANK_AVX2
    if (sizeof(C) == 1 && kRankAvx2 && int64_t(W) * L >= 32) {
        planes.ps = (n + 63) / 32 * 32;
        planes.ms = (int64_t(strip) * L + 63) / 32 * 32;
        const int64_t bytes = 26 * planes.ps + 21 * planes.ms + planes.ms / 32;
        uint8_t* p = pb.alloc<uint8_t>(bytes);
        if (!p) {
            vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
            return false;
        }
        std::memset(p, 0, size_t(bytes));
        planes.col = p;
        planes.lev = p + 15 * planes.ps;
        planes.at = p + 22 * planes.ps;
        planes.win = p + 26 * planes.ps;
        planes.bins = planes.win + 15 * planes.ms;
        planes.rest = planes.bins + planes.ms;
        planes.bounds = planes.rest + planes.ms;
        planes.band = planes.bounds + 4 * planes.ms;
        pl = &planes;
    }
#endif
    if (strip == W)
        return ownMedianHistStrip<T, C>(a, in, W, H, fine, coarse, pl, [&](int r) { return out.row(r); },
                                        [&](int r) { out.commit(r); });
    for (int x0 = 0; x0 < W; x0 += strip) {
        const int w = std::min(strip, W - x0);
        OwnRows<T> part(in, x0, w + nC - 1);
        if (!ownMedianHistStrip<T, C>(a, part, w, H, fine, coarse, pl,
                                      [&](int r) { return out.row(r) + int64_t(x0) * L; }, [](int) {}))
            return false;
    }
    return true;
}

#if OWN_RANK_AVX2
#include "filter/ownmedianscan.h"

// The routine of each window width 1 .. 16, in the AVX2 or AVX-512 form.
template <class T, bool kWide, int... N>
constexpr std::array<bool (*)(const RankArgs&, OwnRows<T>&, OwnOut<T>&), sizeof...(N)> ownScanTable(
    std::integer_sequence<int, N...>) {
    return {ownMedianScanRows<T, N + 1, kWide>...};
}
template <class T, bool kWide>
constexpr auto kScanRows = ownScanTable<T, kWide>(std::make_integer_sequence<int, 16>{});
// Chosen once, when the library is loaded.
const bool kScan512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}();
#endif

template <class T>
bool ownMedian8Rows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
#if OWN_RANK_AVX2
    if (kRankAvx2 && a.nRows == a.nCols && int64_t(out.width()) * in.lanes() >= 32) {
        switch (a.nRows) {
            case 5: return ownMedianNetRows<5, T>(a, in, out);
            case 7: return ownMedianNetRows<7, T>(a, in, out);
            case 9: return ownMedianNetRows<9, T>(a, in, out);
            default: break;
        }
    }
    // Windows up to 16 columns wide and 255 samples, written straight into
    // the destination: window counts per output column.
    if (kRankAvx2 && out.direct() && in.lanes() <= 4 && a.nCols <= 16 && int64_t(a.nRows) * a.nCols <= 255)
        return (kScan512 && !gOwnAvx2Only.load(std::memory_order_relaxed) ? kScanRows<T, true>
                                                                           : kScanRows<T, false>)[size_t(a.nCols - 1)](
            a, in, out);
#endif
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
// One output row from window rows a, b, c (m outputs, neighbours L apart):
// every column is sorted where it is used, so the row is one pass without
// buffers, branch-free min/max across the row.
template <class T>
OWN_CLONES void ownMedian3x3Row(T* __restrict o, const T* __restrict a, const T* __restrict b,
                                const T* __restrict c, int64_t m, int L) {
    for (int64_t i = 0; i < m; ++i) {
        T lo[3], mid[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            const int64_t j = i + k * L;
            const T mn = std::min(a[j], b[j]), mx = std::max(a[j], b[j]);
            const T t = std::max(mn, c[j]);
            lo[k] = std::min(mn, c[j]);
            mid[k] = std::min(mx, t);
            hi[k] = std::max(mx, t);
        }
        const T maxLo = std::max(std::max(lo[0], lo[1]), lo[2]);
        const T minHi = std::min(std::min(hi[0], hi[1]), hi[2]);
        o[i] = ownMed3(maxLo, ownMed3(mid[0], mid[1], mid[2]), minHi);
    }
}
#if OWN_RANK_AVX2
// The median of three neighbouring columns, gathered column by column:
// the largest of their lows, the smallest of their highs and the median of
// their middles (the first two middles kept sorted until the third comes).
struct OwnMedian3Cols {
    __m256i maxLo, minHi, midLo, midHi;
    // Column k (0, 1, 2 in turn): its sorted pair (l <= h) and third sample z.
    OWN_AVX2 void add(int k, __m256i l, __m256i h, __m256i z) {
        const __m256i t = ownMax8(l, z), lo = ownMin8(l, z), mid = ownMin8(h, t), hi = ownMax8(h, t);
        if (k == 0) {
            maxLo = lo, minHi = hi, midLo = mid;
        } else {
            maxLo = ownMax8(maxLo, lo), minHi = ownMin8(minHi, hi);
            if (k == 1) midHi = ownMax8(midLo, mid), midLo = ownMin8(midLo, mid);
            else midLo = ownMax8(midLo, ownMin8(midHi, mid));  // the middles' median
        }
    }
    // The median, stored (flipped back).
    OWN_AVX2 void put(uint8_t* o, __m256i flip) const {
        const __m256i r = ownMax8(ownMin8(maxLo, midLo), ownMin8(ownMax8(maxLo, midLo), minHi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_xor_si256(r, flip));
    }
};
// 32 outputs of a row from i, with AVX2 for 8-bit samples (unsigned, or
// signed with the sign bit flipped around the comparisons).
OWN_AVX2 __attribute__((always_inline)) inline void ownMedian3x3Step(uint8_t* o, const uint8_t* a, const uint8_t* b, const uint8_t* c, int64_t i,
                                      int L, __m256i flip) {
    OwnMedian3Cols m{};  // (zeros: every member is set by column 0 first)
    for (int k = 0; k < 3; ++k) {
        const int64_t j = i + int64_t(k) * L;
        const __m256i x = ownLoadX(a + j, flip), y = ownLoadX(b + j, flip);
        m.add(k, ownMin8(x, y), ownMax8(x, y), ownLoadX(c + j, flip));
    }
    m.put(o + i, flip);
}
// 32 outputs of two rows from i: rows a, b, c give o0, rows b, c, d give
// o1, the columns' sorted pairs of b and c shared. All loads come before
// the stores, and the registers hold both rows' running extremes.
OWN_AVX2 __attribute__((always_inline)) inline void ownMedian3x3Step2(uint8_t* o0, uint8_t* o1, const uint8_t* a, const uint8_t* b,
                                       const uint8_t* c, const uint8_t* d, int64_t i, int L, __m256i flip) {
    OwnMedian3Cols m0{}, m1{};
    for (int k = 0; k < 3; ++k) {
        const int64_t j = i + int64_t(k) * L;
        const __m256i y = ownLoadX(b + j, flip), z = ownLoadX(c + j, flip);
        const __m256i l = ownMin8(y, z), h = ownMax8(y, z);
        m0.add(k, l, h, ownLoadX(a + j, flip));
        m1.add(k, l, h, ownLoadX(d + j, flip));
    }
    m0.put(o0 + i, flip);
    m1.put(o1 + i, flip);
}
// The row 32 outputs per step.
template <bool kSigned>
OWN_AVX2 void ownMedian3x3Row8(uint8_t* o, const uint8_t* a, const uint8_t* b, const uint8_t* c, int64_t m, int L) {
    const __m256i flip = _mm256_set1_epi8(kSigned ? char(0x80) : 0);
    // Rows under 32 samples (the one-column side pieces) go through one
    // step on copies: sample by sample, the compares branch on random data
    // and such a row cost about a hundred times as much per output.
    if (m < 32) {
        // m < 32 holds at least one pixel, so L < 32: a step reads below 2L + 32.
        alignas(32) uint8_t ta[96] = {}, tb[96] = {}, tc[96] = {}, to[32];
        const size_t n = size_t(m + 2 * int64_t(L));
        std::memcpy(ta, a, n);
        std::memcpy(tb, b, n);
        std::memcpy(tc, c, n);
        ownMedian3x3Step(to, ta, tb, tc, 0, L, flip);
        std::memcpy(o, to, size_t(m));
        return;
    }
    // Whole vectors; the last one starts at m - 32 and may overlap the one
    // before (same results, written again).
    const int64_t last = m - 32;
    for (int64_t i = 0; i < m; i = i == last ? m : std::min(i + 32, last)) ownMedian3x3Step(o, a, b, c, i, L, flip);
}
// Two rows (m >= 32), as ownMedian3x3Row8. The two rows of the next pass
// are fetched ahead as the pass goes, guessed at the distance between the
// last two rows (a wrong guess only costs the fetch). 4096x4096 8U, 3
// channels: 8.2 ms a row at a time, 6.5 ms two rows, 5.7 ms with the rows
// fetched ahead. One channel stays near 2.5 ms whichever way (it moves
// 16.7 MB in and out at about the machine's memory speed).
template <bool kSigned>
OWN_AVX2 void ownMedian3x3Rows8(uint8_t* o0, uint8_t* o1, const uint8_t* a, const uint8_t* b, const uint8_t* c,
                                const uint8_t* d, int64_t m, int L) {
    const __m256i flip = _mm256_set1_epi8(kSigned ? char(0x80) : 0);
    const int64_t last = m - 32;
    const uintptr_t apart = uintptr_t(d) - uintptr_t(c), next = uintptr_t(d) + apart;
    for (int64_t i = 0; i < m; i = i == last ? m : std::min(i + 32, last)) {
        __builtin_prefetch(reinterpret_cast<const void*>(next + uintptr_t(i)));
        __builtin_prefetch(reinterpret_cast<const void*>(next + apart + uintptr_t(i)));
        ownMedian3x3Step2(o0, o1, a, b, c, d, i, L, flip);
    }
}
#endif

template <class T>
bool ownMedian3x3Rows(const RankArgs& a, OwnRows<T>& whole, OwnOut<T>& out) {
    const int L = whole.lanes();
    struct None {};
    auto prepare = [&](None&, OwnRows<T>& in, int, int) {
        if (in.reserve(4)) return true;
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    };
    return ownFilterBands<None>(whole, out, a.nCols, -a.win.dx0, 32, prepare, [&](None&, OwnRows<T>& in, int x0,
                                                                                  int w, int rb, int re) {
        const int64_t m = int64_t(w) * L;
        for (int r = rb; r < re; ++r) {
            T* o = out.row(r) + int64_t(x0) * L;
            const T *r0 = in.get(r), *r1 = in.get(int64_t(r) + 1), *r2 = in.get(int64_t(r) + 2);
#if OWN_RANK_AVX2
            if constexpr (sizeof(T) == 1) {
                if (kRankAvx2) {
                    auto u = [](const T* p) { return reinterpret_cast<const uint8_t*>(p); };
                    auto v = [](T* p) { return reinterpret_cast<uint8_t*>(p); };
                    // Rows of several lanes written straight into the
                    // destination go two at a time (ownMedian3x3Rows8).
                    if (L > 1 && out.direct() && m >= 32 && r + 1 < re) {
                        const T* r3 = in.get(int64_t(r) + 3);
                        ownMedian3x3Rows8<std::is_signed_v<T>>(v(o), v(out.row(r + 1) + int64_t(x0) * L), u(r0), u(r1),
                                                               u(r2), u(r3), m, L);
                        ++r;
                        continue;
                    }
                    ownMedian3x3Row8<std::is_signed_v<T>>(v(o), u(r0), u(r1), u(r2), m, L);
                    out.commit(r);
                    continue;
                }
            }
#endif
            ownMedian3x3Row<T>(o, r0, r1, r2, m, L);
            out.commit(r);
        }
        return true;
    });
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
