// Row kernels of the DIB conversions and the nearest-entry search. See
// owndibrow.h.
#include "convert/owndibrow.h"

#include <cstring>
#include <new>

#include "image/ownsimd.h"

namespace vex {

// ---------------------------------------------------------------------------
// Nearest entry.

bool OwnNearest::init(const VexRGBQuad* table, int n, bool grayKeys, int64_t pixels) {
    n_ = n;
    for (int i = 0; i < n; ++i) {
        pal_[i][0] = table[i].rgbRed;
        pal_[i][1] = table[i].rgbGreen;
        pal_[i][2] = table[i].rgbBlue;
    }
    lastKey_ = 0xFFFFFFFFu;
    product_ = false;
    if (grayKeys) {
        for (int v = 0; v < 256; ++v) grayLut_[v] = uint8_t(brute(v, v, v));
        return true;
    }
    if (initProduct()) return true;
    try {
        cellStart_.assign(32768, -1);
        pool_.clear();
        pool_.reserve(32768);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (pixels >= (int64_t(1) << 20)) {
        try {
            full_.resize(size_t(1) << 24);
            filled_.assign(512, 0);
        } catch (const std::bad_alloc&) {
            full_.clear();  // the search per colour alone
            filled_.clear();
        }
    }
    return true;
}

// Finds the blue and green periods of a product table, checks every entry
// against them and fills each channel's level -> index part.
bool OwnNearest::initProduct() {
    const int n = n_;
    int nb = 1;  // blues: entries before red or green first change
    while (nb < n && pal_[nb][0] == pal_[0][0] && pal_[nb][1] == pal_[0][1]) ++nb;
    int ngb = nb;  // greens x blues: entries before red first changes
    while (ngb < n && pal_[ngb][0] == pal_[0][0]) ++ngb;
    if (ngb % nb != 0 || n % ngb != 0) return false;
    const int count[3] = {nb, ngb / nb, n / ngb};  // blue, green, red
    const int weight[3] = {1, nb, ngb};
    for (int i = 0; i < n; ++i) {
        if (pal_[i][2] != pal_[i % nb][2] || pal_[i][1] != pal_[i % ngb / nb * nb][1] ||
            pal_[i][0] != pal_[i / ngb * ngb][0])
            return false;
    }
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            int best = 0, bestD = 1 << 30;
            for (int j = 0; j < count[c]; ++j) {
                const int d = v - pal_[j * weight[c]][2 - c];
                if (d * d < bestD) bestD = d * d, best = j;
            }
            axis_[c][v] = uint8_t(best * weight[c]);
        }
    }
    // Thresholds: t[c][k] is the highest level whose position is at most k.
    // Level 0 counts none: position 0 is nearest at its own level, so a
    // position that never falls is 0 from level 0 up to there.
    stepsOk_ = count[0] <= 8 && count[1] <= 8 && count[2] <= 8;
    for (int c = 0; c < 3 && stepsOk_; ++c) {
        steps_.weight[c] = uint8_t(weight[c]);
        for (int k = 0; k < 7; ++k) steps_.t[c][k] = 255;
        for (int v = 0; v < 256; ++v) {
            const int pos = axis_[c][v] / weight[c];
            if (v > 0 && axis_[c][v] < axis_[c][v - 1]) stepsOk_ = false;
            for (int k = pos; k < 7; ++k) steps_.t[c][k] = uint8_t(v);
        }
    }
    product_ = true;
    return true;
}

int OwnNearest::brute(int r, int g, int b) const {
    int best = 0, bestD = 1 << 30;
    for (int i = 0; i < n_; ++i) {
        const int dr = r - pal_[i][0], dg = g - pal_[i][1], db = b - pal_[i][2];
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestD) bestD = d, best = i;
    }
    return best;
}

// Candidates of the 8 x 8 x 8 block holding (r, g, b), built on first use:
// entries whose nearest possible distance to the block does not exceed the
// smallest farthest distance over all entries. Returns the list's start in
// pool_ (its count - 1, then the indices), or -1 without memory.
int32_t OwnNearest::candidates(int r, int g, int b) {
    const int cell = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
    int32_t start = cellStart_[size_t(cell)];
    if (start >= 0) return start;
    const int lo[3] = {r & ~7, g & ~7, b & ~7};
    int minMax = 1 << 30;
    int near[256];
    for (int i = 0; i < n_; ++i) {
        int dMin = 0, dMax = 0;
        for (int a = 0; a < 3; ++a) {
            const int p = pal_[i][a], l = lo[a], h = lo[a] + 7;
            const int in = p < l ? l - p : p > h ? p - h : 0;
            const int out = p - l > h - p ? p - l : h - p;
            dMin += in * in;
            dMax += out * out;
        }
        near[i] = dMin;
        if (dMax < minMax) minMax = dMax;
    }
    start = int32_t(pool_.size());
    int count = 0;
    try {
        pool_.push_back(0);
        for (int i = 0; i < n_; ++i)
            if (near[i] <= minMax) pool_.push_back(uint8_t(i)), ++count;
    } catch (const std::bad_alloc&) {
        pool_.resize(size_t(start));
        return -1;
    }
    pool_[size_t(start)] = uint8_t(count - 1);
    cellStart_[size_t(cell)] = start;
    return start;
}

// Nearest among the candidates at `start` (or among all entries for -1).
int OwnNearest::nearest(int32_t start, int r, int g, int b) const {
    if (start < 0) return brute(r, g, b);
    const uint8_t* list = pool_.data() + start;
    const int count = list[0] + 1;
    int best = list[1], bestD = 1 << 30;
    for (int k = 1; k <= count; ++k) {
        const int i = list[k];
        const int dr = r - pal_[i][0], dg = g - pal_[i][1], db = b - pal_[i][2];
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestD) bestD = d, best = i;
    }
    return best;
}

uint8_t OwnNearest::search(uint32_t bgr) {
    if (bgr == lastKey_) return lastIdx_;
    const int b = int(bgr & 0xFF), g = int((bgr >> 8) & 0xFF), r = int((bgr >> 16) & 0xFF);
    lastKey_ = bgr;
    return lastIdx_ = uint8_t(nearest(candidates(r, g, b), r, g, b));
}

// Every colour of the block of `cell` into full_ (block-major, then red,
// green, blue within the block).
void OwnNearest::fillBlock(uint32_t cell) {
    const int r0 = int(cell >> 10) << 3, g0 = int(cell >> 5 & 31) << 3, b0 = int(cell & 31) << 3;
    const int32_t start = candidates(r0, g0, b0);
    uint8_t* out = full_.data() + size_t(cell) * 512;
    for (int r = r0; r < r0 + 8; ++r)
        for (int g = g0; g < g0 + 8; ++g)
            for (int b = b0; b < b0 + 8; ++b) *out++ = uint8_t(nearest(start, r, g, b));
    filled_[cell >> 6] |= uint64_t(1) << (cell & 63);
}

namespace {

inline uint32_t ownLoad16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t ownLoad32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint32_t ownFieldByte(uint32_t v, const OwnDibField& f) {
    return ((((v & f.mask) >> f.shift) >> f.down) << f.up) & 0xFFu;
}

// ------------------------------------------------------------ DIB readers
struct RdIdx1 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx& k) {
        return k.pal[(s[x >> 3] >> (7 - (x & 7))) & 1];
    }
};
struct RdIdx4 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx& k) {
        return k.pal[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
    }
};
struct RdIdx8 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx& k) { return k.pal[s[x]]; }
};
struct Rd16 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx& k) {
        const uint32_t v = ownLoad16(s + 2 * x);
        return ownFieldByte(v, k.f[0]) | ownFieldByte(v, k.f[1]) << 8 | ownFieldByte(v, k.f[2]) << 16;
    }
};
struct Rd24 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx&) {
        return uint32_t(s[3 * x]) | uint32_t(s[3 * x + 1]) << 8 | uint32_t(s[3 * x + 2]) << 16;
    }
};
struct Rd32 {
    static uint32_t get(const uint8_t* s, int64_t x, const OwnDibCtx& k) {
        const uint32_t v = ownLoad32(s + 4 * x);
        return ownFieldByte(v, k.f[0]) | ownFieldByte(v, k.f[1]) << 8 | ownFieldByte(v, k.f[2]) << 16 |
               ownFieldByte(v, k.f[3]) << 24;
    }
};

// ------------------------------------------------------------ adapters
struct AdKeep {
    static uint32_t run(uint32_t r) { return r; }
};
struct AdSwap {
    static uint32_t run(uint32_t r) { return (r & 0xFF00FF00u) | (r >> 16 & 0xFFu) | (r & 0xFFu) << 16; }
};
// DIB to image: the gray level (77 R + 151 G + 28 B) >> 8 into byte 2.
struct AdGrayIn {
    static uint32_t run(uint32_t r) {
        const uint32_t g = (77 * (r >> 16 & 0xFF) + 151 * (r >> 8 & 0xFF) + 28 * (r & 0xFF)) >> 8;
        return (r & 0xFF00FFFFu) | g << 16;
    }
};
// Image to DIB: byte 2 into bytes 0 and 1, byte 3 cleared.
struct AdGrayOut {
    static uint32_t run(uint32_t r) {
        const uint32_t v = r >> 16 & 0xFF;
        return v | v << 8 | v << 16;
    }
};

// ------------------------------------------------------------ image writers
struct WrBits {  // (1, 1U)
    static void put(uint8_t* const* ch, int64_t x, uint32_t r) {
        const uint8_t m = uint8_t(0x80u >> (x & 7));
        uint8_t& b = ch[0][x >> 3];
        b = (r >> 16 & 0xFF) > 127 ? uint8_t(b | m) : uint8_t(b & ~m);
    }
};
template <int N, bool Wide, bool Plane>
struct WrSamples {  // N channels from bytes 2 (one channel) or 0..N-1
    static constexpr int64_t kEs = Wide ? 2 : 1;
    static constexpr int64_t kStep = Plane ? kEs : N * kEs;
    static void put(uint8_t* const* ch, int64_t x, uint32_t r) {
        if (N == 1) {
            store(ch[0] + x * kStep, r >> 16 & 0xFF);
            return;
        }
        for (int c = 0; c < N; ++c) store(ch[c] + x * kStep, r >> (8 * c) & 0xFF);
    }
    static void store(uint8_t* p, uint32_t v) {
        if (Wide) p[0] = 0, p[1] = uint8_t(v);
        else p[0] = uint8_t(v);
    }
};

template <class R, class A, class W>
OWN_CLONES void ownFromRow(const uint8_t* dib, uint8_t* const* ch, int64_t n, const OwnDibCtx& k) {
    for (int64_t x = 0; x < n; ++x) W::put(ch, x, A::run(R::get(dib, x, k)));
}

// ------------------------------------------------------------ image readers
struct RdBits {
    static uint32_t get(const uint8_t* const* ch, int64_t x) {
        return (ch[0][x >> 3] >> (7 - (x & 7)) & 1) ? 0xFFFFFFu : 0u;
    }
};
template <int N, bool Wide, bool Plane>
struct RdSamples {
    static constexpr int64_t kEs = Wide ? 2 : 1;
    static constexpr int64_t kStep = Plane ? kEs : N * kEs;
    static constexpr int kHi = Wide ? 1 : 0;
    static uint32_t get(const uint8_t* const* ch, int64_t x) {
        if (N == 1) {
            const uint32_t v = ch[0][x * kStep + kHi];
            return v | v << 8 | v << 16;
        }
        uint32_t r = 0;
        for (int c = 0; c < N; ++c) r |= uint32_t(ch[c][x * kStep + kHi]) << (8 * c);
        return r;
    }
};

// ------------------------------------------------------------ DIB writers
template <int Bits, bool Gray>
struct WrIndex {
    static void put(uint8_t* d, int64_t x, uint32_t r, OwnDibCtx& k) {
        const uint32_t i = Gray ? k.nearest->gray(r >> 16 & 0xFF) : k.nearest->colour(r & 0xFFFFFFu);
        if (Bits == 8) {
            d[x] = uint8_t(i);
        } else if (Bits == 4) {
            const int sh = (x & 1) ? 0 : 4;
            d[x >> 1] = uint8_t((d[x >> 1] & ~(0xF << sh)) | (i & 15) << sh);
        } else {
            const uint8_t m = uint8_t(0x80u >> (x & 7));
            d[x >> 3] = i ? uint8_t(d[x >> 3] | m) : uint8_t(d[x >> 3] & ~m);
        }
    }
};
inline uint32_t ownPack16(uint32_t byte, const OwnDibField& f) {
    // Narrowed (or widened) to the field's width, placed under its mask.
    const uint32_t v = f.width <= 8 ? byte >> (8 - f.width) : byte << (f.width - 8);
    return (v << f.shift) & f.mask;
}
struct Wr16 {
    static void put(uint8_t* d, int64_t x, uint32_t r, OwnDibCtx& k) {
        const uint32_t v = ownPack16(r & 0xFF, k.f[0]) | ownPack16(r >> 8 & 0xFF, k.f[1]) |
                           ownPack16(r >> 16 & 0xFF, k.f[2]);
        d[2 * x] = uint8_t(v);
        d[2 * x + 1] = uint8_t(v >> 8);
    }
};
struct Wr24 {
    static void put(uint8_t* d, int64_t x, uint32_t r, OwnDibCtx&) {
        d[3 * x] = uint8_t(r);
        d[3 * x + 1] = uint8_t(r >> 8);
        d[3 * x + 2] = uint8_t(r >> 16);
    }
};
struct Wr32 {
    static void put(uint8_t* d, int64_t x, uint32_t r, OwnDibCtx& k) {
        // Each byte shifted to its field and masked, without width scaling.
        uint32_t v = 0;
        for (int c = 0; c < 4; ++c) v |= ((r >> (8 * c) & 0xFF) << k.f[c].shift) & k.f[c].mask;
        std::memcpy(d + 4 * x, &v, 4);
    }
};

template <class R, class A, class W>
OWN_CLONES void ownToRow(const uint8_t* const* ch, uint8_t* dib, int64_t n, OwnDibCtx& k) {
    for (int64_t x = 0; x < n; ++x) W::put(dib, x, A::run(R::get(ch, x)), k);
}

// ------------------------------------------------------------ tables
// Index of a (channels, depth, order) image layout: 0 (1, 1U), 1 (1, 8U),
// 2 (1, 16U), then 3 + 4 x plane + 2 x (four channels) + (16U).
constexpr int kLayouts = 11;
int ownLayout(int nChannels, unsigned depth, bool plane) {
    if (nChannels == 1) return depth == VEX_DEPTH_1U ? 0 : depth == VEX_DEPTH_8U ? 1 : depth == VEX_DEPTH_16U ? 2 : -1;
    if ((nChannels != 3 && nChannels != 4) || (depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U)) return -1;
    return 3 + (plane ? 4 : 0) + (nChannels == 4 ? 2 : 0) + (depth == VEX_DEPTH_16U ? 1 : 0);
}

template <class R, class A>
constexpr OwnFromRowFn kFromWriters[kLayouts] = {
    ownFromRow<R, A, WrBits>,
    ownFromRow<R, A, WrSamples<1, false, false>>,
    ownFromRow<R, A, WrSamples<1, true, false>>,
    ownFromRow<R, A, WrSamples<3, false, false>>,
    ownFromRow<R, A, WrSamples<3, true, false>>,
    ownFromRow<R, A, WrSamples<4, false, false>>,
    ownFromRow<R, A, WrSamples<4, true, false>>,
    ownFromRow<R, A, WrSamples<3, false, true>>,
    ownFromRow<R, A, WrSamples<3, true, true>>,
    ownFromRow<R, A, WrSamples<4, false, true>>,
    ownFromRow<R, A, WrSamples<4, true, true>>,
};

template <class R>
const OwnFromRowFn* ownFromAdapters(OwnDibOrder order) {
    switch (order) {
        case OwnDibOrder::kGray: return kFromWriters<R, AdGrayIn>;
        case OwnDibOrder::kKeep: return kFromWriters<R, AdKeep>;
        case OwnDibOrder::kSwap: return kFromWriters<R, AdSwap>;
        default: return nullptr;
    }
}

template <class R, class W>
OwnToRowFn ownToAdapt(OwnDibOrder order) {
    switch (order) {
        case OwnDibOrder::kGray: return ownToRow<R, AdGrayOut, W>;
        case OwnDibOrder::kKeep: return ownToRow<R, AdKeep, W>;
        case OwnDibOrder::kSwap: return ownToRow<R, AdSwap, W>;
        default: return nullptr;
    }
}

template <class W>
OwnToRowFn ownToReaders(int layout, OwnDibOrder order) {
    // One-channel records are gray whatever the adapter.
    switch (layout) {
        case 0: return ownToRow<RdBits, AdKeep, W>;
        case 1: return ownToRow<RdSamples<1, false, false>, AdKeep, W>;
        case 2: return ownToRow<RdSamples<1, true, false>, AdKeep, W>;
        default: break;
    }
    switch (layout) {
        case 3: return ownToAdapt<RdSamples<3, false, false>, W>(order);
        case 4: return ownToAdapt<RdSamples<3, true, false>, W>(order);
        case 5: return ownToAdapt<RdSamples<4, false, false>, W>(order);
        case 6: return ownToAdapt<RdSamples<4, true, false>, W>(order);
        case 7: return ownToAdapt<RdSamples<3, false, true>, W>(order);
        case 8: return ownToAdapt<RdSamples<3, true, true>, W>(order);
        case 9: return ownToAdapt<RdSamples<4, false, true>, W>(order);
        case 10: return ownToAdapt<RdSamples<4, true, true>, W>(order);
        default: return nullptr;
    }
}

}  // namespace

OwnFromRowFn ownFromDibRow(int bits, OwnDibOrder order, int nChannels, unsigned depth, bool plane) {
    const int layout = ownLayout(nChannels, depth, plane && nChannels > 1);
    if (layout < 0) return nullptr;
    const OwnFromRowFn* t = nullptr;
    switch (bits) {
        case 1: t = ownFromAdapters<RdIdx1>(order); break;
        case 4: t = ownFromAdapters<RdIdx4>(order); break;
        case 8: t = ownFromAdapters<RdIdx8>(order); break;
        case 16: t = ownFromAdapters<Rd16>(order); break;
        case 24: t = ownFromAdapters<Rd24>(order); break;
        case 32: t = ownFromAdapters<Rd32>(order); break;
        default: return nullptr;
    }
    return t ? t[layout] : nullptr;
}

OwnToRowFn ownToDibRow(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                       bool* grayKeys) {
    const int layout = ownLayout(nChannels, depth, plane && nChannels > 1);
    if (layout < 0 || order == OwnDibOrder::kNone) return nullptr;
    const bool gray = layout <= 2 || order == OwnDibOrder::kGray;
    *grayKeys = gray;
    switch (bits) {
        case 1: return gray ? ownToReaders<WrIndex<1, true>>(layout, order) : ownToReaders<WrIndex<1, false>>(layout, order);
        case 4: return gray ? ownToReaders<WrIndex<4, true>>(layout, order) : ownToReaders<WrIndex<4, false>>(layout, order);
        case 8: return gray ? ownToReaders<WrIndex<8, true>>(layout, order) : ownToReaders<WrIndex<8, false>>(layout, order);
        case 16: return ownToReaders<Wr16>(layout, order);
        case 24: return ownToReaders<Wr24>(layout, order);
        case 32: return ownToReaders<Wr32>(layout, order);
        default: return nullptr;
    }
}


// ---------------------------------------------------------------------------
// Fast paths.
namespace {

bool ownIdentity(const uint8_t* lut) {
    for (int i = 0; i < 256; ++i)
        if (lut[i] != i) return false;
    return true;
}
void ownCopy1(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx&) { std::memmove(ch[0], s, size_t(n)); }
void ownCopy1Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx&) { std::memmove(d, ch[0], size_t(n)); }
void ownIdx8Gray(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx& k) {
    uint8_t* d = ch[0];
    for (int64_t x = 0; x < n; ++x) d[x] = k.lut8[s[x]];
}
void ownIdx8Bgr(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx& k) {
    uint8_t* d = ch[0];
    int64_t x = 0;
    for (; x + 1 < n; ++x) std::memcpy(d + 3 * x, &k.pal[s[x]], 4);  // the 4th byte is overwritten next
    for (; x < n; ++x) std::memcpy(d + 3 * x, &k.pal[s[x]], 3);
}
void ownIdx8Bgra(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx& k) {
    uint8_t* d = ch[0];
    for (int64_t x = 0; x < n; ++x) std::memcpy(d + 4 * x, &k.pal[s[x]], 4);
}
// Copies may run in place: an image made by vexTranslateDIB shares the DIB's rows.
void ownCopy3(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx&) { std::memmove(ch[0], s, size_t(3 * n)); }
void ownCopy4(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx&) { std::memmove(ch[0], s, size_t(4 * n)); }
void ownSwap3Same(uint8_t* d, int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        const uint8_t t = d[3 * x];
        d[3 * x] = d[3 * x + 2];
        d[3 * x + 2] = t;
    }
}
OWN_CLONES void ownSwap3Apart(const uint8_t* __restrict s, uint8_t* __restrict d, int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
    }
}
void ownSwap3(const uint8_t* s, uint8_t* d, int64_t n) {
    if (s == d) ownSwap3Same(d, n);
    else ownSwap3Apart(s, d, n);
}
// Whole words: exact in place too.
OWN_CLONES void ownSwap4(const uint8_t* s, uint8_t* d, int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        uint32_t v;
        std::memcpy(&v, s + 4 * x, 4);
        v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
        std::memcpy(d + 4 * x, &v, 4);
    }
}
void ownSwap3In(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx&) { ownSwap3(s, ch[0], n); }
void ownSwap4In(const uint8_t* s, uint8_t* const* ch, int64_t n, const OwnDibCtx&) { ownSwap4(s, ch[0], n); }
void ownCopy3Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx&) { std::memmove(d, ch[0], size_t(3 * n)); }
void ownCopy4Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx&) { std::memmove(d, ch[0], size_t(4 * n)); }
void ownSwap3Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx&) { ownSwap3(ch[0], d, n); }
void ownSwap4Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx&) { ownSwap4(ch[0], d, n); }
void ownGray8Out(const uint8_t* const* ch, uint8_t* d, int64_t n, OwnDibCtx& k) {
    const uint8_t* lut = k.nearest->grayTable();
    const uint8_t* s = ch[0];
    for (int64_t x = 0; x < n; ++x) d[x] = lut[s[x]];
}

// 8-bit indices from a product table (OwnNearest::axis): one lookup per
// channel. N is the pixel step of the channels (1: plane order); Swap reads
// blue from channel 2 and red from channel 0 (RGB orders).
template <int N, bool Swap>
OWN_CLONES void ownProduct8(const uint8_t* const* ch, uint8_t* __restrict d, int64_t n, OwnDibCtx& k) {
    const uint8_t* aBlue = k.nearest->axis(0);
    const uint8_t* aGreen = k.nearest->axis(1);
    const uint8_t* aRed = k.nearest->axis(2);
    const uint8_t* blue = ch[Swap ? 2 : 0];
    const uint8_t* green = ch[1];
    const uint8_t* red = ch[Swap ? 0 : 2];
    for (int64_t x = 0; x < n; ++x)
        d[x] = uint8_t(aBlue[blue[N * x]] + aGreen[green[N * x]] + aRed[red[N * x]]);
}

// The same indices by counting thresholds (OwnNearest::steps): compares
// and adds that vectorise, where the lookups above do not.
template <int N, bool Swap>
OWN_CLONES void ownSteps8(const uint8_t* const* ch, uint8_t* __restrict d, int64_t n, OwnDibCtx& k) {
    const OwnNearest::Steps& st = *k.nearest->steps();
    uint8_t tb[7], tg[7], tr[7];
    for (int j = 0; j < 7; ++j) tb[j] = st.t[0][j], tg[j] = st.t[1][j], tr[j] = st.t[2][j];
    const uint8_t wg = st.weight[1], wr = st.weight[2];
    const uint8_t* blue = ch[Swap ? 2 : 0];
    const uint8_t* green = ch[1];
    const uint8_t* red = ch[Swap ? 0 : 2];
    for (int64_t x = 0; x < n; ++x) {
        const uint8_t b = blue[N * x], g = green[N * x], r = red[N * x];
        uint8_t cb = 0, cg = 0, cr = 0;
#pragma GCC unroll 7
        for (int j = 0; j < 7; ++j) cb = uint8_t(cb + (b > tb[j]));
#pragma GCC unroll 7
        for (int j = 0; j < 7; ++j) cg = uint8_t(cg + (g > tg[j]));
#pragma GCC unroll 7
        for (int j = 0; j < 7; ++j) cr = uint8_t(cr + (r > tr[j]));
        d[x] = uint8_t(cb + cg * wg + cr * wr);
    }
}

uint32_t ownAdapt(uint32_t r, OwnDibOrder order) {
    switch (order) {
        case OwnDibOrder::kGray: return AdGrayIn::run(r);
        case OwnDibOrder::kSwap: return AdSwap::run(r);
        default: return r;
    }
}

}  // namespace

OwnFromRowFn ownFromDibFast(int bits, OwnDibOrder order, int nChannels, unsigned depth, bool plane,
                            OwnDibCtx& k, int* copyBytes) {
    *copyBytes = 0;
    if (order == OwnDibOrder::kNone) return nullptr;
    const int layout = ownLayout(nChannels, depth, plane && nChannels > 1);
    if (layout < 0) return nullptr;
    if (bits == 8) {
        // The adapter applied to the table once: reader and adapter in one lookup.
        for (uint32_t& e : k.pal) e = ownAdapt(e, order);
        for (int i = 0; i < 256; ++i) k.lut8[i] = uint8_t(k.pal[i] >> 16);
        if (layout == 1 && ownIdentity(k.lut8)) return *copyBytes = 1, ownCopy1;
        if (layout == 1) return ownIdx8Gray;
        if (layout == 3) return ownIdx8Bgr;
        if (layout == 5) return ownIdx8Bgra;
        return kFromWriters<RdIdx8, AdKeep>[layout];
    }
    const bool standard32 = k.f[0].mask == 0xFFu && k.f[1].mask == 0xFF00u && k.f[2].mask == 0xFF0000u &&
                            k.f[3].mask == 0xFF000000u;
    const bool keep = order == OwnDibOrder::kKeep, swap = order == OwnDibOrder::kSwap;
    if (bits == 24 && layout == 3 && keep) return *copyBytes = 3, ownCopy3;
    if (bits == 24 && layout == 3 && swap) return ownSwap3In;
    if (bits == 32 && standard32 && layout == 5 && keep) return *copyBytes = 4, ownCopy4;
    if (bits == 32 && standard32 && layout == 5 && swap) return ownSwap4In;
    return nullptr;
}

OwnToRowFn ownToDibFast(int nChannels, unsigned depth, bool plane, OwnDibOrder order, int bits,
                        bool standardMasks, const OwnNearest* nearest, int* copyBytes) {
    *copyBytes = 0;
    const int layout = ownLayout(nChannels, depth, plane && nChannels > 1);
    if (layout == 1 && bits == 8 && ownIdentity(nearest->grayTable())) return *copyBytes = 1, ownCopy1Out;
    if (layout == 1 && bits == 8) return ownGray8Out;
    if (bits == 8 && nearest->steps() && order != OwnDibOrder::kGray) {
        const bool swap = order == OwnDibOrder::kSwap;
        switch (layout) {
            case 3: return swap ? ownSteps8<3, true> : ownSteps8<3, false>;
            case 5: return swap ? ownSteps8<4, true> : ownSteps8<4, false>;
            case 7:
            case 9: return swap ? ownSteps8<1, true> : ownSteps8<1, false>;
            default: break;
        }
    }
    if (bits == 8 && nearest->axis(0) && order != OwnDibOrder::kGray) {
        const bool swap = order == OwnDibOrder::kSwap;
        switch (layout) {
            case 3: return swap ? ownProduct8<3, true> : ownProduct8<3, false>;
            case 5: return swap ? ownProduct8<4, true> : ownProduct8<4, false>;
            case 7:
            case 9: return swap ? ownProduct8<1, true> : ownProduct8<1, false>;
            default: break;
        }
    }
    const bool keep = order == OwnDibOrder::kKeep, swap = order == OwnDibOrder::kSwap;
    if (layout == 3 && bits == 24 && keep) return *copyBytes = 3, ownCopy3Out;
    if (layout == 3 && bits == 24 && swap) return ownSwap3Out;
    if (layout == 5 && bits == 32 && standardMasks && keep) return *copyBytes = 4, ownCopy4Out;
    if (layout == 5 && bits == 32 && standardMasks && swap) return ownSwap4Out;
    return nullptr;
}

}  // namespace vex
