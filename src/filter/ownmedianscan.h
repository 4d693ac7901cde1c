// 8-bit medians of windows up to 16 columns wide and 255 samples by window
// counts per output column (AVX2); included by vexnlf.cpp in its AVX2 part.
//
// A vertical strip of up to kScanStrip output columns keeps, for every
// value v and every output column x, the count of the window's samples
// equal to v: a table of 256 rows (values) of bytes (columns), so that one
// 32-byte load gives a value's counts for 32 neighbouring outputs. A sample
// entering or leaving the window rows adds or subtracts 1 in the nC columns
// whose windows hold it: one 32-byte step at a 16-byte aligned position
// (samples of equal value side by side then meet at the same address).
//
// Each group of 32 outputs keeps t, the smallest of its medians in the row
// before, and for every output the count of its window samples below t,
// moved on from row to row by the entering and leaving samples below t
// (compares, summed over nC columns by doubling). The row's medians come
// from one walk up the values from t (from a few values lower, and further
// down while some output's count below the start exceeds rank - 1): an
// output's running count stays below its rank exactly for the values under
// its median, so the median is the start plus the number of such values.
// A walk costs the spread of the group's medians: on random bytes with a
// 15x15 window 24 values on average, on smooth images a few. The groups of
// a strip walk side by side in one loop, to the end of the longest walk.
// With AVX-512 (BW) a group is 64 outputs (ownWalkRow512); the rest is the
// AVX2 code either way.
//
// Each channel has its own table and works from planar copies of its
// samples (signed ones with the sign bit flipped, the order of unsigned
// bytes) in a ring of rows; the channels take turns by blocks of rows.

constexpr int kScanStrip = 128;  // output columns of a strip (groups of 32)
constexpr int kScanBack = 3;     // values below t a walk starts from

// Lane x of the result: d[x] + ... + d[x + NC - 1] of the 64 bytes d = lo:hi
// (1 <= NC <= 16), by sums of 2, 4 and 8 neighbours.
template <int NC>
OWN_AVX2 inline __m256i ownWindowSum(__m256i l1, __m256i h1) {
    const __m256i z = _mm256_setzero_si256();
    const __m256i l2 = _mm256_add_epi8(l1, ownShift64<1>(l1, h1)), h2 = _mm256_add_epi8(h1, ownShift64<1>(h1, z));
    const __m256i l4 = _mm256_add_epi8(l2, ownShift64<2>(l2, h2)), h4 = _mm256_add_epi8(h2, ownShift64<2>(h2, z));
    const __m256i l8 = _mm256_add_epi8(l4, ownShift64<4>(l4, h4));
    if constexpr (NC == 16) {
        const __m256i h8 = _mm256_add_epi8(h4, ownShift64<4>(h4, z));
        return _mm256_add_epi8(l8, ownShift64<8>(l8, h8));
    } else {
        constexpr int o4 = NC & 8, o2 = o4 + (NC & 4), o1 = o2 + (NC & 2);
        __m256i acc = (NC & 8) ? l8 : z;
        if constexpr ((NC & 4) != 0) acc = _mm256_add_epi8(acc, ownShift64<o4>(l4, h4));
        if constexpr ((NC & 2) != 0) acc = _mm256_add_epi8(acc, ownShift64<o2>(l2, h2));
        if constexpr ((NC & 1) != 0) acc = _mm256_add_epi8(acc, ownShift64<o1>(l1, h1));
        return acc;
    }
}

// Where the steps of `count` samples go, as offsets from 32 bytes before
// the table: the sample's value times P plus its column's step start.
// Input column c lies in the windows of outputs c - NC + 1 .. c; its step
// covers 32 bytes from the 16-byte aligned position at or below c - NC + 1.
// With a leaving row, a column whose entering and leaving samples are equal
// has both steps sent to the spare row kScanSpare (they cancel), so that
// the two steps of a column never meet in the counts.
constexpr int kScanSpare = 260;
template <int NC>
OWN_AVX2 inline void ownScanOffsets(uint16_t* in, uint16_t* out, const uint8_t* enter, const uint8_t* leave,
                                    int count, int64_t P) {
    const __m256i p = _mm256_set1_epi16(short(P)), mask = _mm256_set1_epi16(~15), sixteen = _mm256_set1_epi16(16);
    const __m256i spare = _mm256_set1_epi16(short(kScanSpare * P));
    const __m256i lane = _mm256_setr_epi16(17 - NC, 18 - NC, 19 - NC, 20 - NC, 21 - NC, 22 - NC, 23 - NC, 24 - NC,
                                           25 - NC, 26 - NC, 27 - NC, 28 - NC, 29 - NC, 30 - NC, 31 - NC, 32 - NC);
    for (int c = 0; c < count; c += 16) {
        const __m256i at = _mm256_add_epi16(_mm256_and_si256(_mm256_add_epi16(_mm256_set1_epi16(short(c)), lane), mask),
                                            sixteen);
        const __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(enter + c)));
        __m256i o = _mm256_add_epi16(_mm256_mullo_epi16(v, p), at);
        if (leave) {
            const __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leave + c)));
            const __m256i eq = _mm256_cmpeq_epi16(u, v), s = _mm256_add_epi16(spare, at);
            o = _mm256_blendv_epi8(o, s, eq);
            const __m256i q = _mm256_blendv_epi8(_mm256_add_epi16(_mm256_mullo_epi16(u, p), at), s, eq);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), q);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(in + c), o);
    }
}

// The leaving steps' offsets follow the entering ones' at this distance
// in one array, so that a batch's offsets come from one register with
// displacements: with two arrays, the batch of five columns ran out of
// registers and kept its column counter in memory, a store more per ten
// steps (15x15 of 4096x4096: 1 channel 1-2.5 % faster, 3 channels even).
constexpr int kScanOut = kScanStrip + 32;

// The steps' routines below are always inlined: left to the compiler's
// budget, the batch of four columns became a call per column once the
// file around them grew (15x15 of 4096x4096, 1 channel: 5 % slower).
#define OWN_SCAN_INLINE OWN_AVX2 __attribute__((always_inline)) inline

// B columns 32 apart from column c: their entering steps added at the
// offsets io[c + 32 b] from `base` and, with kLeave, their leaving steps
// subtracted at the offsets io[kScanOut + c + 32 b], all loads before all
// stores.
template <int B, bool kLeave>
OWN_SCAN_INLINE void ownScanBatch(uint8_t* base, const uint16_t* io, int c, __m256i step) {
    constexpr int N = kLeave ? 2 * B : B;
    __m256i* p[N];
    __m256i x[N];
    for (int b = 0; b < B; ++b) {
        p[b] = reinterpret_cast<__m256i*>(base + io[c + 32 * b]);
        if constexpr (kLeave) p[B + b] = reinterpret_cast<__m256i*>(base + io[kScanOut + c + 32 * b]);
    }
    for (int b = 0; b < N; ++b) x[b] = _mm256_loadu_si256(p[b]);
    for (int b = 0; b < N; ++b) _mm256_storeu_si256(p[b], b >= B ? _mm256_sub_epi8(x[b], step) : _mm256_add_epi8(x[b], step));
}
// Columns [c0, c1) with batches of B: the step of column c has its ones
// from byte (c - NC + 1) mod 16 on.
template <int NC, int B, bool kLeave>
OWN_SCAN_INLINE void ownScanRange(uint8_t* base, const uint8_t* pat, const uint16_t* io, int c0, int c1) {
    for (int c = c0; c < c1; ++c) {
        const __m256i step = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pat + 32 - ((c + 17 - NC) & 15)));
        ownScanBatch<B, kLeave>(base, io, c, step);
    }
}
// The first columns have B = ceil(count / 32) in their batch, the rest B - 1.
template <int NC, int B, bool kLeave>
OWN_SCAN_INLINE void ownScanRanges(uint8_t* base, const uint8_t* pat, const uint16_t* io, int count) {
    const int split = count - 32 * (B - 1);
    ownScanRange<NC, B, kLeave>(base, pat, io, 0, split);
    if constexpr (B > 1) ownScanRange<NC, B - 1, kLeave>(base, pat, io, split, 32);
}
template <int NC, bool kLeave>
OWN_SCAN_INLINE void ownScanAll(uint8_t* base, const uint8_t* pat, const uint16_t* io, int count) {
    static_assert(kScanStrip + 15 <= 5 * 32, "batches of at most five columns");
    switch ((count + 31) / 32) {
        case 1: return ownScanRanges<NC, 1, kLeave>(base, pat, io, count);
        case 2: return ownScanRanges<NC, 2, kLeave>(base, pat, io, count);
        case 3: return ownScanRanges<NC, 3, kLeave>(base, pat, io, count);
        case 4: return ownScanRanges<NC, 4, kLeave>(base, pat, io, count);
        default: return ownScanRanges<NC, 5, kLeave>(base, pat, io, count);
    }
}

// The table's counts of the strip's `count` input columns (at most
// kScanStrip + 15): row `enter` (planar, unsigned order) comes in and,
// unless null, row `leave` goes out. Columns 32 apart (whose steps never
// meet) go as one batch, their entering and leaving steps together, all
// loads before all stores, so that no load waits for the store before it.
template <int NC>
OWN_SCAN_INLINE void ownScanColumns(uint8_t* tab, int64_t P, const uint8_t* pat, const uint8_t* enter,
                                    const uint8_t* leave, int count) {
    alignas(32) uint16_t io[2 * kScanOut];
    ownScanOffsets<NC>(io, io + kScanOut, enter, leave, count, P);
    if (!leave) return ownScanAll<NC, false>(tab - 32, pat, io, count);
    ownScanAll<NC, true>(tab - 32, pat, io, count);
}

// Running counts at most rank - 1 (r1): -1 per byte.
OWN_AVX2 inline __m256i ownUnder(__m256i x, __m256i r1) { return _mm256_cmpeq_epi8(_mm256_max_epu8(x, r1), r1); }

// One group's walk up the values: from s, `rest` is the rank less the
// running count, held at 0 (saturating), above 0 exactly for the values
// under an output's median; res counts them from s on; run[i] keeps the
// rest after value s + i.
struct OwnWalk {
    const uint8_t* base;
    int s;
    unsigned valid;
    __m256i c, rest, res;
    __m256i* run;
};

// The start of a group's walk: a few values below t, and further down
// while some output's count below the start exceeds rank - 1.
OWN_AVX2 inline OwnWalk ownWalkStart(const uint8_t* base, int64_t P, unsigned valid, int t, __m256i below, __m256i r1,
                                     __m256i* run) {
    int s = std::max(t - kScanBack, 0);
    __m256i c = below;
    for (int v = s; v < t; ++v) c = _mm256_sub_epi8(c, ownLoad(base + v * P));
    while (s > 0 && (unsigned(_mm256_movemask_epi8(ownUnder(c, r1))) & valid) != valid)
        c = _mm256_sub_epi8(c, ownLoad(base + --s * P));
    const __m256i rank = _mm256_add_epi8(r1, _mm256_set1_epi8(1));
    return {base, s, valid, c, _mm256_subs_epu8(rank, c), _mm256_set1_epi8(char(s)), run};
}

// Values s + k .. s + k + 3 of the walk.
OWN_AVX2 inline void ownWalk4(OwnWalk& g, int k, int64_t P) {
    const __m256i one = _mm256_set1_epi8(1);
    const uint8_t* at = g.base + (g.s + k) * P;
    const __m256i a1 = _mm256_subs_epu8(g.rest, ownLoad(at)), a2 = _mm256_subs_epu8(a1, ownLoad(at + P));
    const __m256i a3 = _mm256_subs_epu8(a2, ownLoad(at + 2 * P)), a4 = _mm256_subs_epu8(a3, ownLoad(at + 3 * P));
    g.rest = a4;
    g.run[k] = a1, g.run[k + 1] = a2, g.run[k + 2] = a3, g.run[k + 3] = a4;
    g.res = _mm256_add_epi8(g.res, _mm256_add_epi8(_mm256_add_epi8(_mm256_min_epu8(a1, one), _mm256_min_epu8(a2, one)),
                                                   _mm256_add_epi8(_mm256_min_epu8(a3, one), _mm256_min_epu8(a4, one))));
}
// The outputs of the group still short of their median, as bits.
OWN_AVX2 inline unsigned ownWalkOpen(const OwnWalk& g) {
    return ~unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g.rest, _mm256_setzero_si256()))) & g.valid;
}
// The walk from s + k to its end (past the last median, 255 at most, the
// table's rows 256 .. 259 are zero; the bound on s + k only keeps the
// walk inside the table).
OWN_AVX2 inline void ownWalkOn(OwnWalk& g, int k, int64_t P) {
    for (;; k += 4) {
        ownWalk4(g, k, P);
        if (!ownWalkOpen(g) || g.s + k >= 252) break;
    }
}
// N groups' walks side by side until all of them are done: one loop end
// to mispredict for the strip's row instead of one per group, and N
// independent chains of saturating subtractions. A group done before the
// others walks on through values above its medians (its rest stays 0 and
// adds nothing). Near the top of the table each open group finishes alone.
template <int N>
OWN_AVX2 inline void ownWalkTogether(OwnWalk* g, int64_t P) {
    for (int k = 0;; k += 4) {
        unsigned open = 0;
        bool high = false;
        for (int i = 0; i < N; ++i) {
            ownWalk4(g[i], k, P);
            open |= ownWalkOpen(g[i]);
            high |= g[i].s + k >= 252;
        }
        if (!open) return;
        if (high) {
            for (int i = 0; i < N; ++i)
                if (ownWalkOpen(g[i]) && g[i].s + k < 252) ownWalkOn(g[i], k + 4, P);
            return;
        }
    }
}
// The group's medians to med, and for the next row t (the smallest of
// them) and the count below it per output.
OWN_AVX2 inline void ownWalkEnd(const OwnWalk& g, uint8_t* med, int& t, __m256i& below, __m256i r1) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(med), g.res);
    // The smallest median: lanes past the last real one count as 255.
    const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                          22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i real = _mm256_cmpgt_epi8(_mm256_set1_epi8(char(__builtin_popcount(g.valid))), lane);
    const int lo = ownMinByte(_mm256_or_si256(g.res, _mm256_andnot_si256(real, _mm256_set1_epi8(-1))));
    const __m256i rank = _mm256_add_epi8(r1, _mm256_set1_epi8(1));
    t = lo;
    below = lo > g.s ? _mm256_sub_epi8(rank, g.run[lo - g.s - 1]) : g.c;
}

// -1 per sample of the 32 at p at or above tv.
OWN_AVX2 inline __m256i ownAtOrAbove(const uint8_t* p, __m256i tv) {
    return _mm256_cmpeq_epi8(_mm256_subs_epu8(tv, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))),
                             _mm256_setzero_si256());
}

// The medians m of the group from output xg (unsigned order) to o, as
// samples of type T.
template <class T>
OWN_AVX2 inline void ownScanEmit(T* o, int xg, int w, const uint8_t* m, __m256i flip) {
    const int nv = std::min(32, w - xg);
    const __m256i v = _mm256_xor_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(m)), flip);
    if (nv == 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + xg), v);
    } else {
        alignas(32) uint8_t last[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(last), v);
        std::memcpy(o + xg, last, size_t(nv));
    }
}

// ---- The walks with AVX-512 (BW): groups of 64 outputs. The table and
// its steps are as above (a step is still one 32-byte add, from the AVX2
// code); the walks take 64 outputs a step and two groups cover a strip,
// with their state in registers (32 of them). Rows 192 bytes apart, each
// group's 64 counts on one cache line, were not faster than the 160 bytes
// of the AVX2 form (15x15 of 4096x4096, 1 channel, +1..3 %), which leave
// every other row's counts across two lines.
#define OWN_SCAN_512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))
// (GCC 12's intrinsics that leave lanes undefined trip its uninitialised
// warnings when inlined here.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

struct OwnWalk512 {
    const uint8_t* base;
    int s;
    __m512i c, rest, res;
    __m512i* run;
};

OWN_SCAN_512 inline __m512i ownLoad512(const uint8_t* p) { return _mm512_loadu_si512(p); }

// As ownWalkStart; the lanes past the last real output (not in `valid`)
// start with rest 0, so that they never keep a walk open.
OWN_SCAN_512 inline OwnWalk512 ownWalkStart512(const uint8_t* base, int64_t P, __mmask64 valid, int t, __m512i below,
                                               __m512i r1, __m512i* run) {
    int s = std::max(t - kScanBack, 0);
    __m512i c = below;
    for (int v = s; v < t; ++v) c = _mm512_sub_epi8(c, ownLoad512(base + v * P));
    while (s > 0 && (_mm512_cmpgt_epu8_mask(c, r1) & valid) != 0) c = _mm512_sub_epi8(c, ownLoad512(base + --s * P));
    const __m512i rank = _mm512_add_epi8(r1, _mm512_set1_epi8(1));
    return {base, s, c, _mm512_maskz_subs_epu8(valid, rank, c), _mm512_set1_epi8(char(s)), run};
}

// Values s + k .. s + k + 3 of a group's walk from rest `r`; the last rest.
// Only the first kScanRun512 rests are kept in run: the smallest median
// (where the next row's count below t comes from) lies within them but for
// jumps, and a 64-byte store per value and group is a store cycle more on
// a processor that splits them (15x15, 1 channel: 1-4 % faster than
// keeping them all). A jump sums the count again (ownWalkEnd512).
constexpr int kScanRun512 = 8;
template <bool kRun>
OWN_SCAN_512 inline __m512i ownWalk4x512(const uint8_t* at, int64_t P, __m512i r, __m512i* run, __m512i& res) {
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i a1 = _mm512_subs_epu8(r, ownLoad512(at)), a2 = _mm512_subs_epu8(a1, ownLoad512(at + P));
    const __m512i a3 = _mm512_subs_epu8(a2, ownLoad512(at + 2 * P)), a4 = _mm512_subs_epu8(a3, ownLoad512(at + 3 * P));
    if constexpr (kRun) {
        _mm512_storeu_si512(run, a1), _mm512_storeu_si512(run + 1, a2);
        _mm512_storeu_si512(run + 2, a3), _mm512_storeu_si512(run + 3, a4);
    }
    res = _mm512_add_epi8(res, _mm512_add_epi8(_mm512_add_epi8(_mm512_min_epu8(a1, one), _mm512_min_epu8(a2, one)),
                                               _mm512_add_epi8(_mm512_min_epu8(a3, one), _mm512_min_epu8(a4, one))));
    return a4;
}
// One group's walk from s + k on, alone, to its end (see ownWalkOn).
OWN_SCAN_512 inline void ownWalkOn512(OwnWalk512& g, int k, int64_t P) {
    for (;; k += 4) {
        g.rest = k < kScanRun512 ? ownWalk4x512<true>(g.base + (g.s + k) * P, P, g.rest, g.run + k, g.res)
                                 : ownWalk4x512<false>(g.base + (g.s + k) * P, P, g.rest, g.run + k, g.res);
        if (_mm512_test_epi8_mask(g.rest, g.rest) == 0 || g.s + k >= 252) break;
    }
}
// N groups' walks side by side, as ownWalkTogether; the walks' state stays
// in registers for the loop.
template <int N>
OWN_SCAN_512 inline void ownWalkTogether512(OwnWalk512* g, int64_t P) {
    const uint8_t* at[N];
    __m512i* run[N];
    __m512i rest[N], res[N];
    int top = 0;  // the highest start
    for (int i = 0; i < N; ++i) {
        at[i] = g[i].base + g[i].s * P, run[i] = g[i].run, rest[i] = g[i].rest, res[i] = g[i].res;
        top = std::max(top, g[i].s);
    }
    for (int k = 0;; k += 4) {
        __m512i any = _mm512_setzero_si512();
        for (int i = 0; i < N; ++i) {
            rest[i] = k < kScanRun512 ? ownWalk4x512<true>(at[i] + k * P, P, rest[i], run[i] + k, res[i])
                                      : ownWalk4x512<false>(at[i] + k * P, P, rest[i], run[i] + k, res[i]);
            any = _mm512_or_si512(any, rest[i]);
        }
        if (_mm512_test_epi8_mask(any, any) == 0) break;
        if (top + k >= 252) {
            for (int i = 0; i < N; ++i) {
                g[i].rest = rest[i], g[i].res = res[i];
                if (_mm512_test_epi8_mask(rest[i], rest[i]) != 0 && g[i].s + k < 252) ownWalkOn512(g[i], k + 4, P);
            }
            return;
        }
    }
    for (int i = 0; i < N; ++i) g[i].rest = rest[i], g[i].res = res[i];
}
// As ownWalkEnd, for 64 outputs.
OWN_SCAN_512 inline void ownWalkEnd512(const OwnWalk512& g, int64_t P, __mmask64 valid, uint8_t* med, int& t,
                                       __m512i& below, __m512i r1) {
    _mm512_storeu_si512(med, g.res);
    const __m512i m = _mm512_mask_blend_epi8(valid, _mm512_set1_epi8(-1), g.res);
    const int lo = ownMinByte(_mm256_min_epu8(_mm512_castsi512_si256(m), _mm512_extracti64x4_epi64(m, 1)));
    const __m512i rank = _mm512_add_epi8(r1, _mm512_set1_epi8(1));
    t = lo;
    const int d = lo - g.s - 1;
    if (d < 0) {
        below = g.c;
    } else if (d < kScanRun512) {
        below = _mm512_sub_epi8(rank, _mm512_loadu_si512(g.run + d));
    } else {
        __m512i c = g.c;
        for (int v = g.s; v < lo; ++v) c = _mm512_add_epi8(c, ownLoad512(g.base + v * P));
        below = c;
    }
}

// The walks of a strip's row in groups of 64 outputs: t and below as in
// ownScanRow (t per group of 64, below per 32 outputs), the medians to
// med[0, w).
OWN_SCAN_512 __attribute__((noinline)) void ownWalkRow512(const uint8_t* tab, int64_t P, int w, int* t,
                                                            __m256i* below, __m256i r1h, __m256i* runs, uint8_t* med) {
    const __m512i r1 = _mm512_broadcast_i64x4(r1h);
    const int nG = (w + 63) / 64;
    auto valid = [&](int g) { return w - 64 * g >= 64 ? ~__mmask64(0) : (__mmask64(1) << (w - 64 * g)) - 1; };
    __m512i* run = reinterpret_cast<__m512i*>(runs);
    OwnWalk512 walks[kScanStrip / 64];
    for (int g = 0; g < nG; ++g)
        walks[g] = ownWalkStart512(tab + 64 * g, P, valid(g), t[g], _mm512_loadu_si512(below + 2 * g), r1, run + 264 * g);
    static_assert(kScanStrip / 64 == 2, "up to two groups walk together");
    if (nG == 2) ownWalkTogether512<2>(walks, P);
    else ownWalkTogether512<1>(walks, P);
    for (int g = 0; g < nG; ++g) {
        __m512i b;
        ownWalkEnd512(walks[g], P, valid(g), med + 64 * g, t[g], b, r1);
        _mm512_storeu_si512(below + 2 * g, b);
    }
}
#pragma GCC diagnostic pop

// One output row of one channel: the table moves by the ring rows `enter`
// and `leave` (null for the first row), then every group's medians go to
// o[0, w) (samples of type T, in their own order).
template <class T, int NC, bool kWide>
OWN_AVX2 void ownScanRow(T* o, int w, uint8_t* tab, int64_t P, const uint8_t* pat, const uint8_t* enter,
                         const uint8_t* leave, int* t, __m256i* below, __m256i r1, __m256i* run) {
    ownScanColumns<NC>(tab, P, pat, enter, leave, w + NC - 1);
    const __m256i flip = _mm256_set1_epi8(std::is_signed_v<T> ? char(0x80) : 0);
    const int nG = (w + 31) / 32;
    if (leave)
        for (int g = 0, xg = 0; g < nG; ++g, xg += 32) {
            const int tg = t[kWide ? g / 2 : g];
            if (tg == 0) continue;
            // -1 per sample at or above t: the entering samples' less the
            // leaving ones' is the change of the count below t.
            const __m256i tv = _mm256_set1_epi8(char(tg));
            const __m256i lo = _mm256_sub_epi8(ownAtOrAbove(enter + xg, tv), ownAtOrAbove(leave + xg, tv));
            const __m256i hi = _mm256_sub_epi8(ownAtOrAbove(enter + xg + 32, tv), ownAtOrAbove(leave + xg + 32, tv));
            below[g] = _mm256_add_epi8(below[g], ownWindowSum<NC>(lo, hi));
        }
    alignas(64) uint8_t med[kScanStrip];
    if constexpr (kWide) {
        ownWalkRow512(tab, P, w, t, below, r1, run, med);
    } else {
        auto valid = [&](int g) { return w - 32 * g >= 32 ? ~0u : (1u << (w - 32 * g)) - 1; };
        OwnWalk walks[kScanStrip / 32];
        for (int g = 0; g < nG; ++g)
            walks[g] = ownWalkStart(tab + 32 * g, P, valid(g), t[g], below[g], r1, run + 264 * g);
        static_assert(kScanStrip / 32 == 4, "up to four groups walk together");
        switch (nG) {
            case 4: ownWalkTogether<4>(walks, P); break;
            case 3: ownWalkTogether<3>(walks, P); break;
            case 2: ownWalkTogether<2>(walks, P); break;
            default: ownWalkTogether<1>(walks, P); break;
        }
        for (int g = 0; g < nG; ++g) ownWalkEnd(walks[g], med + 32 * g, t[g], below[g], r1);
    }
    for (int g = 0; g < nG; ++g) ownScanEmit(o, 32 * g, w, med + 32 * g, flip);
}

// Byte j of the 48 at p for j = 3 i + l, i < 16, as 16 bytes (kSplit3[l]),
// and back: byte j of 48 from channel j % 3, pixel j / 3 (kJoin3[k][l] for
// the k-th 16 of them).
struct OwnShuffle3 {
    alignas(16) int8_t split[3][3][16];  // [channel][input 16][byte]
    alignas(16) int8_t join[3][3][16];   // [output 16][channel][byte]
    constexpr OwnShuffle3() : split(), join() {
        for (int l = 0; l < 3; ++l)
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 16; ++i) {
                    const int j = 3 * i + l;
                    split[l][k][i] = int8_t(j / 16 == k ? j % 16 : -1);
                    const int q = 16 * k + i;  // output byte q of 48
                    join[k][l][i] = int8_t(q % 3 == l ? q / 3 : -1);
                }
    }
};
constexpr OwnShuffle3 kShuffle3{};

OWN_AVX2 inline __m128i ownLoad16(const void* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Samples [0, count) of channels 0 .. 2 of a three-lane row into planar
// rows d[0 .. 2], XORed with `flip`.
OWN_AVX2 inline void ownSplit3(uint8_t* const* d, const uint8_t* s, int count, uint8_t flip) {
    const __m128i f = _mm_set1_epi8(char(flip));
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = ownLoad16(s + 3 * i), b = ownLoad16(s + 3 * i + 16), c = ownLoad16(s + 3 * i + 32);
        for (int l = 0; l < 3; ++l) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, ownLoad16(kShuffle3.split[l][0])),
                                                        _mm_shuffle_epi8(b, ownLoad16(kShuffle3.split[l][1]))),
                                           _mm_shuffle_epi8(c, ownLoad16(kShuffle3.split[l][2])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d[l] + i), _mm_xor_si128(v, f));
        }
    }
    for (; i < count; ++i)
        for (int l = 0; l < 3; ++l) d[l][i] = uint8_t(s[3 * i + l] ^ flip);
}

// Planar rows m[0 .. 2] of w samples into the three-lane row o.
OWN_AVX2 inline void ownJoin3(uint8_t* o, const uint8_t* const* m, int w) {
    int i = 0;
    for (; i + 16 <= w; i += 16) {
        const __m128i c0 = ownLoad16(m[0] + i), c1 = ownLoad16(m[1] + i), c2 = ownLoad16(m[2] + i);
        for (int k = 0; k < 3; ++k) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(c0, ownLoad16(kShuffle3.join[k][0])),
                                                        _mm_shuffle_epi8(c1, ownLoad16(kShuffle3.join[k][1]))),
                                           _mm_shuffle_epi8(c2, ownLoad16(kShuffle3.join[k][2])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 3 * i + 16 * k), v);
        }
    }
    for (; i < w; ++i)
        for (int l = 0; l < 3; ++l) o[3 * i + l] = m[l][i];
}

// The rows of a strip are worked in blocks of kScanBlock, each channel in
// turn with its own table, so that the block's rows stay in the cache; with
// more than one channel the medians go through planar rows of the block.
constexpr int kScanBlock = 32;

template <class T, int NC, bool kWide>
OWN_AVX2 bool ownMedianScanRows(const RankArgs& a, OwnRows<T>& in, OwnOut<T>& out) {
    const int L = in.lanes(), W = out.width(), H = out.rows(), nR = a.nRows;
    const int rank = nR * NC / 2 + 1;
    const int64_t P = kScanStrip + 32;                            // table row: outputs, then the steps' overhang
    const int64_t ts = (kScanSpare + 1) * P + 64;                 // a table and the 32 bytes before it
    const int64_t rs = (kScanStrip + NC - 1 + 64 + 31) / 32 * 32;  // ring row: a group's 64 compared samples
    const int ringRows = nR + kScanBlock + 1;
    constexpr int kGroups = kScanStrip / 32;
    OwnBlock tb, rb, wb, sb, mb;
    uint8_t* tabs = tb.alloc<uint8_t>(ts * L);
    uint8_t* ring = rb.alloc<uint8_t>(rs * ringRows * L);
    __m256i* run = wb.alloc<__m256i>(264 * (kScanStrip / 32));
    __m256i* below = sb.alloc<__m256i>(kGroups * L);
    T* meds = L > 1 ? mb.alloc<T>(int64_t(kScanBlock) * L * kScanStrip) : nullptr;
    if (!tabs || !ring || !run || !below || (L > 1 && !meds)) {
        vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
        return false;
    }
    std::memset(ring, 0, size_t(rs * ringRows * L));
    const uint8_t flip = std::is_signed_v<T> ? 0x80 : 0;
    alignas(32) uint8_t pat[64] = {};
    for (int i = 0; i < NC; ++i) pat[32 + i] = 1;
    const __m256i r1v = _mm256_set1_epi8(char(rank - 1));
    int t[4 * kGroups];  // up to four channels
    auto tab = [&](int l) { return tabs + ts * l + 32; };
    auto ringRow = [&](int l, int64_t i) { return ring + (int64_t(l) * ringRows + i % ringRows) * rs; };
    auto medRow = [&](int l, int i) { return meds + (int64_t(i) * L + l) * kScanStrip; };
    for (int x0 = 0; x0 < W; x0 += kScanStrip) {
        const int w = std::min(kScanStrip, W - x0), count = w + NC - 1;
        OwnRows<T> part(in, x0, count);
        if (!part.reserve(1)) {
            vexError(VEX_StsNoMem, a.site->func, kFilterNoMem, a.site->file, __LINE__);
            return false;
        }
        // Window row i into the channels' ring rows.
        const uint8_t* src[kScanBlock];  // the block's input rows
        auto planar = [&](int64_t i) {
            const uint8_t* s = reinterpret_cast<const uint8_t*>(part.get(i));
            src[i % kScanBlock] = s;
            if (L == 1) {
                uint8_t* p = ringRow(0, i);
                for (int c = 0; c < count; ++c) p[c] = uint8_t(s[c] ^ flip);
                return;
            }
            if (L == 3) {
                uint8_t* const d[3] = {ringRow(0, i), ringRow(1, i), ringRow(2, i)};
                ownSplit3(d, s, count, flip);
                return;
            }
            for (int l = 0; l < L; ++l) {
                uint8_t* p = ringRow(l, i);
                for (int c = 0; c < count; ++c) p[c] = uint8_t(s[int64_t(c) * L + l] ^ flip);
            }
        };
        std::memset(tabs, 0, size_t(ts * L));
        for (int j = 0; j + 1 < nR; ++j) {
            planar(j);
            for (int l = 0; l < L; ++l) ownScanColumns<NC>(tab(l), P, pat, ringRow(l, j), nullptr, count);
        }
        std::fill(t, t + 4 * kGroups, 0);
        for (int g = 0; g < kGroups * L; ++g) below[g] = _mm256_setzero_si256();
        for (int r0 = 0; r0 < H; r0 += kScanBlock) {
            const int r1 = std::min(H, r0 + kScanBlock);
            for (int r = r0; r < r1; ++r) planar(int64_t(r) + nR - 1);
            // The next block's input rows are fetched ahead while this one
            // is worked, at the distance of the last two rows read (rows
            // read in place are a row step apart; a wrong guess only costs
            // the fetch): each row of a strip starts in another page, where
            // the hardware's own prefetch stops.
            const int64_t bytes = int64_t(count) * L * int64_t(sizeof(T));
            auto at = [&](int64_t i) { return uintptr_t(src[i % kScanBlock]); };
            const uintptr_t ahead =
                r1 - r0 >= 2 ? (at(int64_t(r1) + nR - 2) - at(int64_t(r1) + nR - 3)) * uintptr_t(kScanBlock) : 0;
            for (int l = 0; l < L; ++l)
                for (int r = r0; r < r1; ++r) {
                    if (l == 0 && r1 < H) {
                        ownPrefetchRow(reinterpret_cast<const void*>(at(int64_t(r) + nR - 1) + ahead), bytes);
                        // The destination's rows likewise, for writing:
                        // each strip's row of medians lies in another page
                        // too, and a store that waits for its line holds up
                        // the table's stores behind it (15x15 of 4096x4096:
                        // 1 channel 12 %, 3 channels 5-7 % faster).
                        if (r + kScanBlock < H)
                            ownPrefetchRow<true>(out.row(r + kScanBlock) + int64_t(x0) * L,
                                                 int64_t(w) * L * int64_t(sizeof(T)));
                    }
                    T* o = L == 1 ? out.row(r) + x0 : medRow(l, r - r0);
                    const uint8_t* enter = ringRow(l, int64_t(r) + nR - 1);
                    const uint8_t* leave = r > 0 ? ringRow(l, int64_t(r) - 1) : nullptr;
                    ownScanRow<T, NC, kWide>(o, w, tab(l), P, pat, enter, leave, t + kGroups * l,
                                             below + kGroups * l, r1v, run);
                }
            if (L == 1) continue;
            for (int r = r0; r < r1; ++r) {
                T* o = out.row(r) + int64_t(x0) * L;
                if (L == 3) {
                    const uint8_t* const m[3] = {reinterpret_cast<const uint8_t*>(medRow(0, r - r0)),
                                                 reinterpret_cast<const uint8_t*>(medRow(1, r - r0)),
                                                 reinterpret_cast<const uint8_t*>(medRow(2, r - r0))};
                    ownJoin3(reinterpret_cast<uint8_t*>(o), m, w);
                    continue;
                }
                for (int l = 0; l < L; ++l) {
                    const T* m = medRow(l, r - r0);
                    for (int i = 0; i < w; ++i) o[int64_t(i) * L + l] = m[i];
                }
            }
        }
    }
    return true;
}
