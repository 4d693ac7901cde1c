// Histograms and lookup mapping through VexLUT records, one record per
// channel: vexComputeHisto counts samples into the records' bins,
// vexContrastStretch maps samples through the piecewise function the records
// define, vexHistoEqualize equalises from the histogram the records hold and
// stores the equalised histogram back. The two mapping operations build one
// table per processed channel and apply it with the shared, internal table
// application ownMap (reported as "vexMap").
#include <algorithm>
#include <cstring>

#include "frame/ownframe.h"
#include "image/ownrect.h"
#include "image/ownsimd.h"

#if defined(__x86_64__) && !defined(VEXLIB_PORTABLE)
#include <immintrin.h>
#define OWN_MAP_SHUFFLE 1
#endif

namespace vex {
namespace {

const OwnSite kComputeHisto{"vexComputeHisto", "vexHist"};
const OwnSite kStretch{"vexContrastStretch", "vexHist"};
const OwnSite kEqualize{"vexHistoEqualize", "vexHist"};
const OwnSite kMap{"vexMap", "vexHist"};

int ownChannelsOf(const VexImage* image) { return ownCoi(image) > 0 ? 1 : image->nChannels; }
// Record index of processed channel k.
int ownLutIndex(const VexImage* image, int k) { return ownCoi(image) > 0 ? ownCoi(image) - 1 : k; }

// The record checks of one channel, in order; each failure ends the call.
bool ownLutOk(const OwnSite& site, VexLUT* const* lut, int k, int64_t histSize) {
    const VexLUT* l = lut[k];
    if (ownFail(site, l == nullptr, "lut[k]==0", __LINE__)) return false;
    if (ownFail(site, l->key == nullptr, "lut[k]->key==0", __LINE__)) return false;
    if (ownFail(site, l->value == nullptr, "lut[k]->value==0", __LINE__)) return false;
    if (ownFail(site, l->num < 2, "lut[k]->num < 2", __LINE__)) return false;
    if (ownFail(site, l->key[0] < 0, "lut[k]->key[0] < 0", __LINE__)) return false;
    if (ownFail(site, l->key[l->num - 1] > histSize, "lut[k]->key[lut[k]->num-1] > histSize",
                __LINE__))
        return false;
    for (int i = 0; i + 1 < l->num; ++i)
        if (ownFail(site, l->key[i] > l->key[i + 1], "lut[k]->key[i] > lut[k]->key[i+1]", __LINE__))
            return false;
    return true;
}

bool ownLutsOk(const OwnSite& site, VexLUT* const* lut, const VexImage* image, int64_t histSize) {
    for (int k = 0; k < ownChannelsOf(image); ++k)
        if (!ownLutOk(site, lut, ownLutIndex(image, k), histSize)) return false;
    return true;
}

// One processed channel of an untiled region: first sample and the element
// step between samples of a row.
struct OwnChannelRun {
    char* base;
    int stride;
};
OwnChannelRun ownChannelRun(const OwnRegion& r, unsigned depth, int k) {
    if (r.plane) return {r.first + r.planeSize * k, 1};
    if (r.coi > 0) return {r.first, r.nChannels};
    return {r.first + int64_t(k) * ownElemSize(depth), r.nChannels};
}

// ---------------------------------------------------------------------------
// Counting.

// 8-bit samples counted into four sub-histograms in rotation, so that
// repeated values do not wait on each other's stores.
void ownCount8(const uint8_t* s, int n, uint32_t* h) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {  // one word read per eight samples
        uint64_t w;
        std::memcpy(&w, s + i, 8);
        ++h[w & 0xFF];
        ++h[256 + ((w >> 8) & 0xFF)];
        ++h[512 + ((w >> 16) & 0xFF)];
        ++h[768 + ((w >> 24) & 0xFF)];
        ++h[(w >> 32) & 0xFF];
        ++h[256 + ((w >> 40) & 0xFF)];
        ++h[512 + ((w >> 48) & 0xFF)];
        ++h[768 + (w >> 56)];
    }
    for (; i < n; ++i) ++h[s[i]];
}

struct OwnCountCtx {
    uint32_t* counters;  // per processed channel: histSize entries (8U: four sub-histograms)
    int perChannel;      // entries per channel
};

void ownCountRegion(const VexImage* image, OwnCountCtx* ctx) {
    OwnRegion r;
    ownGetRegion(image, &r);
    if (r.rows <= 0 || r.cols <= 0) return;
    const unsigned depth = image->depth;
    if (depth == VEX_DEPTH_1U) {
        uint32_t* h = ctx->counters;
        for (int y = 0; y < r.rows; ++y) {
            const auto* p = reinterpret_cast<const unsigned char*>(r.first + r.step * y);
            int ones = 0;
            for (int i = 0; i < r.cols; ++i) {
                const int b = r.bitOffset + i;
                ones += (p[b >> 3] >> (7 - (b & 7))) & 1;
            }
            h[1] += uint32_t(ones);
            h[0] += uint32_t(r.cols - ones);
        }
        return;
    }
    const bool interleaved = !r.plane && r.coi == 0 && r.nChannels > 1;
    for (int y = 0; y < r.rows; ++y) {
        if (interleaved) {
            // All channels of a pixel-order row, each into its own counters.
            const int n = r.nChannels;
            for (int c = 0; c < n; ++c) {
                uint32_t* h = ctx->counters + int64_t(c) * ctx->perChannel;
                if (depth == VEX_DEPTH_8U) {
                    const auto* s = reinterpret_cast<const uint8_t*>(r.first + r.step * y) + c;
                    for (int x = 0; x < r.cols; ++x) ++h[s[int64_t(x) * n]];
                } else {
                    const auto* s = reinterpret_cast<const uint16_t*>(r.first + r.step * y) + c;
                    for (int x = 0; x < r.cols; ++x) ++h[s[int64_t(x) * n]];
                }
            }
            continue;
        }
        for (int k = 0; k < r.channels; ++k) {
            const OwnChannelRun run = ownChannelRun(r, depth, k);
            uint32_t* h = ctx->counters + int64_t(k) * ctx->perChannel;
            const char* row = run.base + r.step * y;
            if (depth == VEX_DEPTH_8U) {
                const auto* s = reinterpret_cast<const uint8_t*>(row);
                if (run.stride == 1)
                    ownCount8(s, r.cols, h);
                else
                    for (int x = 0; x < r.cols; ++x) ++h[s[int64_t(x) * run.stride]];
            } else {
                const auto* s = reinterpret_cast<const uint16_t*>(row);
                for (int x = 0; x < r.cols; ++x) ++h[s[int64_t(x) * run.stride]];
            }
        }
    }
}

// Runs `fn(untiled view)` over the image's region: directly, or tile by tile
// (read mode) for a tiled image, limited to the selected tile.
template <class Fn>
void ownReadWalk(const OwnSite& site, const VexImage* image, const int* tile, Fn fn) {
    if (!image->tileInfo) {
        fn(image);
        return;
    }
    OwnTileRange t;
    if (!ownTileRange(image, &t)) return;
    ownForTiles(t, tile, [&](int j, int i) {
        return ownOnTile(site, image, ownTilePiece(t, j, i), VEX_TILE_GET_READ, kErrTileRead,
                         ownCoi(image), [&](VexImage& view) {
                             fn(&view);
                             return true;
                         });
    });
}

// value[i] = the sum of counts key[i] .. key[i+1] - 1, for i < num - 1.
template <class C>
void ownBinCounts(VexLUT* l, const C* counts) {
    for (int i = 0; i + 1 < l->num; ++i) {
        int64_t sum = 0;
        for (int v = l->key[i]; v < l->key[i + 1]; ++v) sum += int64_t(counts[v]);
        l->value[i] = static_cast<int>(sum);
    }
}

// ---------------------------------------------------------------------------
// Table application.

struct OwnMapCtx {
    const void* tables;  // per processed channel: 256 bytes (8U) or 65536 words (16U)
};

template <class T>
inline void ownMapRun1T(const T* s, T* d, int n, const T* tab) {  // s may be d
    int i = 0;
    for (; i + 4 <= n; i += 4) {  // four values per step
        const T a = tab[s[i]], b = tab[s[i + 1]], c = tab[s[i + 2]], e = tab[s[i + 3]];
        d[i] = a, d[i + 1] = b, d[i + 2] = c, d[i + 3] = e;
    }
    for (; i < n; ++i) d[i] = tab[s[i]];
}
// 8-bit rows: eight samples are read as one word, looked up one by one and
// stored as one word.
void ownMapRun1Words(const uint8_t* s, uint8_t* d, int n, const uint8_t* tab) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t in;
        std::memcpy(&in, s + i, 8);
        uint64_t out = 0;
        for (int k = 0; k < 8; ++k) out |= uint64_t(tab[(in >> (8 * k)) & 0xFF]) << (8 * k);
        std::memcpy(d + i, &out, 8);
    }
    ownMapRun1T(s + i, d + i, n - i, tab);
}
#if OWN_MAP_SHUFFLE
// 8-bit rows, 32 samples per step: the table as sixteen 16-entry pieces, one
// per high nibble. For piece h the index v - 16h, raised by 0x70 with
// saturation, keeps bit 7 clear exactly when v's high nibble is h, so the
// byte shuffle looks the sample up in that piece and yields 0 for the rest;
// the sixteen results are or-ed together.
__attribute__((target("avx2"))) void ownMapRun1Shuffle(const uint8_t* s, uint8_t* d, int n,
                                                       const uint8_t* tab) {
    __m256i pieces[16];
    for (int h = 0; h < 16; ++h)
        pieces[h] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tab + 16 * h)));
    const __m256i sixteen = _mm256_set1_epi8(16), raise = _mm256_set1_epi8(0x70);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        __m256i out = _mm256_setzero_si256();
        for (int h = 0; h < 16; ++h) {
            out = _mm256_or_si256(out, _mm256_shuffle_epi8(pieces[h], _mm256_adds_epu8(idx, raise)));
            idx = _mm256_sub_epi8(idx, sixteen);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), out);
    }
    ownMapRun1Words(s + i, d + i, n - i, tab);
}
using OwnMap8Fn = void (*)(const uint8_t*, uint8_t*, int, const uint8_t*);
// Chosen once, when the library is loaded.
const OwnMap8Fn kMap8 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ownMapRun1Shuffle : ownMapRun1Words;
}();
void ownMapRun1(const uint8_t* s, uint8_t* d, int n, const uint8_t* tab) { kMap8(s, d, n, tab); }
#else
void ownMapRun1(const uint8_t* s, uint8_t* d, int n, const uint8_t* tab) { ownMapRun1Words(s, d, n, tab); }
#endif
void ownMapRun1(const uint16_t* s, uint16_t* d, int n, const uint16_t* tab) {
    ownMapRun1T(s, d, n, tab);
}

template <class T>
void ownMapRows(const OwnRegion& rs, const OwnRegion& rd, int rows, int cols, unsigned depth,
                const T* tables) {
    constexpr int kSize = sizeof(T) == 1 ? 256 : 65536;
    const bool interleaved = !rs.plane && rs.coi == 0 && rd.coi == 0 && rs.nChannels > 1 &&
                             rs.nChannels == rd.nChannels;
    for (int y = 0; y < rows; ++y) {
        if (interleaved) {
            // The channels' tables in rotation along the row.
            const int n = rs.nChannels;
            const T* s = reinterpret_cast<const T*>(rs.first + rs.step * y);
            T* d = reinterpret_cast<T*>(rd.first + rd.step * y);
            for (int x = 0; x < cols; ++x)
                for (int c = 0; c < n; ++c) {
                    const int64_t e = int64_t(x) * n + c;
                    d[e] = tables[int64_t(c) * kSize + s[e]];
                }
            continue;
        }
        for (int k = 0; k < rs.channels; ++k) {
            const OwnChannelRun a = ownChannelRun(rs, depth, k), b = ownChannelRun(rd, depth, k);
            const T* s = reinterpret_cast<const T*>(a.base + rs.step * y);
            T* d = reinterpret_cast<T*>(b.base + rd.step * y);
            const T* tab = tables + int64_t(k) * kSize;
            if (a.stride == 1 && b.stride == 1) {
                ownMapRun1(s, d, cols, tab);
            } else {
                for (int x = 0; x < cols; ++x)
                    d[int64_t(x) * b.stride] = tab[s[int64_t(x) * a.stride]];
            }
        }
    }
}

void ownMapBody(VexImage* src, VexImage* dst, void* ctx) {
    OwnRegion rs, rd;
    ownGetRegion(src, &rs);
    ownGetRegion(dst, &rd);
    if (rs.channels != rd.channels) return;
    const int rows = std::min(rs.rows, rd.rows), cols = std::min(rs.cols, rd.cols);
    if (rows <= 0 || cols <= 0) return;
    const void* tables = static_cast<OwnMapCtx*>(ctx)->tables;
    if (src->depth == VEX_DEPTH_8U)
        ownMapRows(rs, rd, rows, cols, src->depth, static_cast<const uint8_t*>(tables));
    else
        ownMapRows(rs, rd, rows, cols, src->depth, static_cast<const uint16_t*>(tables));
}

// Writes table_k[v] for every processed sample v of the source into the
// destination, over both regions and their tiles.
void ownMap(VexImage* src, VexImage* dst, const void* tables, const int* tile) {
    OwnMapCtx ctx{tables};
    ownWalkPair(kMap, src, dst, tile, ownMapBody, &ctx);
}

// The checks both mapping operations share. Returns the histogram size
// (256 or 65536), or 0 when the call ends.
int64_t ownMappingChecks(const OwnSite& site, VexImage* src, VexImage* dst, VexLUT** lut) {
    if (!ownHeaderOk(site, src, __LINE__)) return 0;
    if (!ownHeaderOk(site, dst, __LINE__)) return 0;
    ownCheckCompatible(site, src, dst, "srcImage", "dstImage", __LINE__);
    ownFail(site, src->depth != VEX_DEPTH_8U && src->depth != VEX_DEPTH_16U,
            "srcImage->depth != VEX_DEPTH_8U && srcImage->depth != VEX_DEPTH_16U", __LINE__);
    ownFail(site, lut == nullptr, "lut==0", __LINE__);
    if (vexGetErrStatus() < 0) return 0;
    if (ownChannelsOf(src) != ownChannelsOf(dst)) return 0;  // nothing to do, nothing reported
    const int64_t histSize = int64_t(1) << ownDepthBits(src->depth);
    if (!ownLutsOk(site, lut, src, histSize)) return 0;
    return histSize;
}

template <class T>
void ownStretchTable(const VexLUT* l, T* tab, int M) {
    const int k0 = std::min(l->key[0], M);
    for (int v = 0; v < k0; ++v) tab[v] = T(v);
    int j = -1;
    for (int v = l->key[0]; v < M; ++v) {
        if (j + 1 <= l->num - 1 && v == l->key[j + 1]) ++j;  // at most one step per value
        int64_t r = l->value[j];
        if (l->interpolate) r += int64_t(v - l->key[j]) * l->factor[j];
        tab[v] = T(uint64_t(r));  // kept to the depth's width, not clamped
    }
}

}  // namespace
}  // namespace vex

namespace vex {

// Test hook (not exported): 8-bit table look-up by one named path, 0 the
// word-wise loop, 1 the byte shuffles (AVX2); a path this build or machine
// lacks runs the word-wise loop. Every path must give the same bytes.
void ownMap8Path(const uint8_t* s, uint8_t* d, int n, const uint8_t* tab, int path) {
#if OWN_MAP_SHUFFLE
    if (path == 1 && __builtin_cpu_supports("avx2")) return ownMapRun1Shuffle(s, d, n, tab);
#endif
    (void)path;
    ownMapRun1Words(s, d, n, tab);
}

}  // namespace vex

using namespace vex;

extern "C" {

VEXAPI void vexComputeHisto(VexImage* srcImage, VexLUT** lut, const int* tile) {
    const OwnSite& site = kComputeHisto;
    OWN_CHECK_HEADER(site, srcImage);
    ownFail(site, lut == nullptr, "lut==0", __LINE__);
    ownFail(site, (srcImage->depth & VEX_DEPTH_SIGN) != 0, "srcImage->depth & VEX_DEPTH_SIGN",
            __LINE__);
    if (vexGetErrStatus() < 0) return;
    const int64_t histSize = srcImage->depth == VEX_DEPTH_1U   ? 2
                             : srcImage->depth == VEX_DEPTH_8U ? 256
                                                               : 65536;
    if (!ownLutsOk(site, lut, srcImage, histSize)) return;
    const int channels = ownChannelsOf(srcImage);
    const int perChannel = int(histSize) * (srcImage->depth == VEX_DEPTH_8U ? 4 : 1);
    OwnBlock counters;
    if (!counters.alloc<uint32_t>(int64_t(channels) * perChannel)) {
        vexError(VEX_StsNoMem, site.func, "", site.file, __LINE__);
        return;
    }
    OwnCountCtx ctx{counters.as<uint32_t>(), perChannel};
    std::memset(ctx.counters, 0, size_t(channels) * size_t(perChannel) * sizeof(uint32_t));
    ownReadWalk(site, srcImage, tile, [&](const VexImage* view) { ownCountRegion(view, &ctx); });
    if (vexGetErrStatus() < 0) {
        vexError(VEX_StsBackTrace, site.func, "", site.file, __LINE__);
        return;
    }
    for (int k = 0; k < channels; ++k) {
        uint32_t* h = ctx.counters + int64_t(k) * perChannel;
        if (srcImage->depth == VEX_DEPTH_8U)  // merge the sub-histograms
            for (int v = 0; v < 256; ++v) h[v] += h[256 + v] + h[512 + v] + h[768 + v];
        VexLUT* l = lut[ownLutIndex(srcImage, k)];
        ownBinCounts(l, h);
        l->interpolate = 0;
    }
}

VEXAPI void vexContrastStretch(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                               const int* tile) {
    const OwnSite& site = kStretch;
    const int64_t M = ownMappingChecks(site, srcImage, dstImage, lut);
    if (M == 0) return;
    const int channels = ownChannelsOf(srcImage);
    // A linear segment needs its slopes.
    for (int k = 0; k < channels; ++k) {
        const VexLUT* l = lut[ownLutIndex(srcImage, k)];
        OWN_CHECK(site, l->interpolate && l->factor == nullptr, "lut[k]->factor==0");
    }
    const int esize = ownElemSize(srcImage->depth);
    OwnBlock tables;
    if (!tables.alloc<uint8_t>(int64_t(channels) * M * esize)) {
        vexError(VEX_StsNoMem, site.func, "", site.file, __LINE__);
        return;
    }
    for (int k = 0; k < channels; ++k) {
        const VexLUT* l = lut[ownLutIndex(srcImage, k)];
        if (esize == 1)
            ownStretchTable(l, tables.as<uint8_t>() + k * M, int(M));
        else
            ownStretchTable(l, tables.as<uint16_t>() + k * M, int(M));
    }
    ownMap(srcImage, dstImage, tables.as<void>(), tile);
    OWN_TRAIL(site);
}

VEXAPI void vexHistoEqualize(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                             const int* tile) {
    const OwnSite& site = kEqualize;
    const int64_t M = ownMappingChecks(site, srcImage, dstImage, lut);
    if (M == 0) return;
    // The destination's records receive the equalised histogram; when its
    // channel of interest names other records than the source's, they are
    // checked too.
    if (!ownLutsOk(site, lut, dstImage, M)) return;
    const int channels = ownChannelsOf(srcImage);
    const int esize = ownElemSize(srcImage->depth);
    OwnBlock tables, cumulative;
    if (!tables.alloc<uint8_t>(int64_t(channels) * M * esize) || !cumulative.alloc<int64_t>(int64_t(channels) * M)) {
        vexError(VEX_StsNoMem, site.func, "", site.file, __LINE__);
        return;
    }
    for (int k = 0; k < channels; ++k) {
        const VexLUT* l = lut[ownLutIndex(srcImage, k)];
        int64_t* d = cumulative.as<int64_t>() + k * M;
        // Density: each bin's count spread over its levels, the remainder on
        // the bin's last level; a bin narrower than two levels puts its count
        // on the running level. (Keys equal to their predecessor advance the
        // running level although their bin is empty.)
        std::fill(d, d + M, int64_t(0));
        int64_t level = 0;
        for (int i = 1; i < l->num; ++i) {
            const int64_t w = int64_t(l->key[i]) - l->key[i - 1];
            const int64_t c = l->value[i - 1];
            if (w < 2) {
                if (level < M) d[level] = c;
                ++level;
            } else {
                for (int64_t v = level; v <= l->key[i] - 2; ++v) d[v] = c / w;
                d[l->key[i] - 1] = c % w;
                level = l->key[i];
            }
        }
        for (int64_t v = level; v < M; ++v) d[v] = 0;
        // Cumulative sum in place, then the table.
        for (int64_t v = 1; v < M; ++v) d[v] += d[v - 1];
        const int64_t total = d[M - 1];
        if (total == 0) {
            vexError(VEX_StsInternal, site.func, "All values in histogram are zeroes", site.file,
                     __LINE__);
            return;
        }
        for (int64_t v = 0; v < M; ++v) {
            const __int128 q = __int128(d[v]) * (M - 1) / total;
            if (esize == 1)
                tables.as<uint8_t>()[k * M + v] = uint8_t(uint64_t(q));
            else
                tables.as<uint16_t>()[k * M + v] = uint16_t(uint64_t(q));
        }
    }
    ownMap(srcImage, dstImage, tables.as<void>(), tile);
    if (OWN_TRAIL(site)) return;
    // The equalised histogram: each level's density moves to its mapped level.
    OwnBlock counts;
    if (!counts.alloc<int64_t>(M)) {
        vexError(VEX_StsNoMem, site.func, "", site.file, __LINE__);
        return;
    }
    for (int k = 0; k < channels; ++k) {
        int64_t* h = counts.as<int64_t>();
        std::fill(h, h + M, int64_t(0));
        const int64_t* d = cumulative.as<int64_t>() + k * M;
        for (int64_t v = 0; v < M; ++v) {
            const int64_t density = v == 0 ? d[0] : d[v] - d[v - 1];
            const int64_t to = esize == 1 ? tables.as<uint8_t>()[k * M + v]
                                          : tables.as<uint16_t>()[k * M + v];
            h[to] += density;
        }
        ownBinCounts(lut[ownLutIndex(dstImage, k)], h);
    }
}

}  // extern "C"
