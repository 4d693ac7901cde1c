// vexRealFft2D and vexCcsFft2D: the two-dimensional discrete Fourier
// transform of a real image into the packed complex-conjugate-symmetric
// (CCS) layout, and back.
//
// Per channel, the working rectangle is read into a working array (single
// precision for the floating-point engine, 32-bit integers for the integer
// engine), transformed along rows and along columns with the lane-batched
// kernels of ownfft, optionally scaled, and written through a truncating,
// saturating row writer.
//
// Decisions:
// - The cached tables and the remembered setup (flag 0x40) are kept per
//   thread, not per process. Two threads may transform at the same time with
//   any lengths and get the results they would get alone; the library still
//   takes no lock. Flag 0x80 frees the calling thread's tables, and 0x40
//   reuses the setup of the calling thread's previous call; a thread without
//   one gets "Error in input data", and so does a call whose headers no
//   longer point at the recorded pixel buffers or sizes.
// - The integer engine keeps its working rows in 32-bit integers: each
//   one-dimensional transform is computed in double precision and its result
//   rounded to the nearest integer (saturated to the 32-bit range) when it is
//   stored back. Scaling and the final conversion truncate, as in the
//   floating-point engine.
// - The channel of interest is 1-based; 0 selects every channel.
// - Tiled images are refused in the setup ("Error in input data").
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "frame/ownframe.h"
#include "image/ownimage.h"
#include "image/ownsimd.h"
#include "transform/ownfft.h"
#include "vexlib.h"

using namespace vex;

namespace {

constexpr int L = kFftLanes;
const char kFile[] = "vexfft2d";
const char kBadInput[] = "Error in input data";
const char kNothing[] = "No calculations! Looking input data!";

// Where one image's samples are.
struct Geometry {
    char* data = nullptr;
    int height = 0, width = 0, step = 0, nChannels = 0, order = 0, alpha = 0;
    unsigned depth = 0;
    // Address of sample (x, y) of channel c (0-based) and the byte distance
    // to the next sample of the row.
    char* at(int x, int y, int c) const {
        const int es = ownElemSize(depth);
        if (order == VEX_DATA_ORDER_PIXEL)
            return data + static_cast<int64_t>(y) * step + (static_cast<int64_t>(x) * nChannels + c) * es;
        return data + (static_cast<int64_t>(c) * height + y) * step + static_cast<int64_t>(x) * es;
    }
    int sampleStride() const { return order == VEX_DATA_ORDER_PIXEL ? nChannels : 1; }
};

using ReadFloat = void (*)(const char* p, int stride, int count, float* out);
using ReadInt = void (*)(const char* p, int stride, int count, int32_t* out);
using WriteFloat = void (*)(const float* in, double scale, bool scaled, char* p, int stride, int count);
using WriteInt = void (*)(const int32_t* in, double scale, bool scaled, char* p, int stride, int count);

template <class S, class W>
void readRow(const char* p, int stride, int count, W* out) {
    const S* s = reinterpret_cast<const S*>(p);
    if (stride == 1) {
        for (int i = 0; i < count; ++i) out[i] = static_cast<W>(s[i]);
        return;
    }
    for (int i = 0; i < count; ++i) out[i] = static_cast<W>(s[static_cast<int64_t>(i) * stride]);
}

// Truncation towards zero with the depth's saturation.
template <class D> struct Range;
// lo: the minimum (R <= lo gives it); top: the largest value written (for
// 32S, R >= 2147483648.0 gives 2147483647, as every R in between does).
template <> struct Range<uint8_t> { static constexpr double lo = 0, top = 255.0; };
template <> struct Range<int8_t> { static constexpr double lo = -128.0, top = 127.0; };
template <> struct Range<uint16_t> { static constexpr double lo = 0, top = 65535.0; };
template <> struct Range<int16_t> { static constexpr double lo = -32768.0, top = 32767.0; };
template <> struct Range<int32_t> { static constexpr double lo = -2147483648.0, top = 2147483647.0; };

// Cuts the fraction off after saturating; every clamped value fits an
// int32_t, so the conversion vectorises.
template <class D>
inline D convert(double r) {
    r = r != r ? 0.0 : r;
    r = r < Range<D>::lo ? Range<D>::lo : r;
    r = r > Range<D>::top ? Range<D>::top : r;
    return static_cast<D>(static_cast<int32_t>(r));
}

// The same for an unscaled single-precision value, in single precision: the
// depth limits are exact floats except 2147483647, and every float from
// 2^31 up gives 2147483647 as the rule asks.
template <class D>
inline D convertFloat(float r) {
    r = r != r ? 0.0f : r;
    const float lo = static_cast<float>(Range<D>::lo);
    const float top = sizeof(D) == 4 ? 2147483520.0f : static_cast<float>(Range<D>::top);
    const float c = r < lo ? lo : (r > top ? top : r);
    int32_t v = static_cast<int32_t>(c);
    if (sizeof(D) == 4) v = r >= 2147483648.0f ? INT32_MAX : v;
    return static_cast<D>(v);
}

template <class D, class W>
__attribute__((always_inline)) inline void writeRowBody(const W* in, double scale, bool scaled, char* p,
                                                        int stride, int count) {
    D* d = reinterpret_cast<D*>(p);
    if (std::is_same<W, float>::value && !scaled && stride == 1) {
        for (int i = 0; i < count; ++i) d[i] = convertFloat<D>(static_cast<float>(in[i]));
        return;
    }
    const double f = scaled ? scale : 1.0;
    if (stride == 1) {
        for (int i = 0; i < count; ++i) d[i] = convert<D>(static_cast<double>(in[i]) * f);
        return;
    }
    for (int i = 0; i < count; ++i) d[static_cast<int64_t>(i) * stride] = convert<D>(static_cast<double>(in[i]) * f);
}

template <class D, class W>
void writeRow(const W* in, double scale, bool scaled, char* p, int stride, int count) {
    writeRowBody<D, W>(in, scale, scaled, p, stride, count);
}
// The floating-point engine's writers, compiled for AVX2 as well.
#define OWN_FLOAT_WRITER(name, D)                                                           \
    OWN_CLONES void name(const float* in, double scale, bool scaled, char* p, int stride, \
                         int count) {                                                     \
        writeRowBody<D, float>(in, scale, scaled, p, stride, count);                      \
    }
OWN_FLOAT_WRITER(writeFloat8U, uint8_t)
OWN_FLOAT_WRITER(writeFloat8S, int8_t)
OWN_FLOAT_WRITER(writeFloat16U, uint16_t)
OWN_FLOAT_WRITER(writeFloat16S, int16_t)
OWN_FLOAT_WRITER(writeFloat32S, int32_t)
#undef OWN_FLOAT_WRITER

template <class W>
struct Converters {
    using Read = void (*)(const char*, int, int, W*);
    using Write = void (*)(const W*, double, bool, char*, int, int);
    static Read reader(int depthIndex) {
        switch (depthIndex) {
            case kD8U: return readRow<uint8_t, W>;
            case kD8S: return readRow<int8_t, W>;
            case kD16U: return readRow<uint16_t, W>;
            case kD16S: return readRow<int16_t, W>;
            case kD32S: return readRow<int32_t, W>;
            default: return nullptr;
        }
    }
    static Write writer(int depthIndex) {
        switch (depthIndex) {
            case kD8U: return writeRow<uint8_t, W>;
            case kD8S: return writeRow<int8_t, W>;
            case kD16U: return writeRow<uint16_t, W>;
            case kD16S: return writeRow<int16_t, W>;
            case kD32S: return writeRow<int32_t, W>;
            default: return nullptr;
        }
    }
};

// The setup of the calling thread's last call (flag 0x40 reuses it).
struct Setup {
    bool valid = false;
    bool integer = false;  // engine
    int sign = -1;
    bool scaled = false;
    double scale = 1.0;    // set per call from the rectangle
    Geometry src, dst;
    ReadFloat readF = nullptr;
    WriteFloat writeF = nullptr;
    ReadInt readI = nullptr;
    WriteInt writeI = nullptr;
};
thread_local Setup t_setup;

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The image's region (or the whole image); false when it leaves the image.
bool regionOf(const VexImage* image, int height, int width, Rect* r, int* coi) {
    const VexROI* roi = image->roi;
    if (!roi) {
        *r = {0, 0, width, height};
        *coi = 0;
        return true;
    }
    *r = {roi->xOffset, roi->yOffset, roi->width, roi->height};
    *coi = roi->coi;
    return roi->xOffset >= 0 && roi->yOffset >= 0 && roi->width >= 0 && roi->height >= 0 &&
           static_cast<int64_t>(roi->xOffset) + roi->width <= width &&
           static_cast<int64_t>(roi->yOffset) + roi->height <= height;
}

Rect intersect(const Rect& a, const Rect& b) {
    Rect r;
    r.x = a.x > b.x ? a.x : b.x;
    r.y = a.y > b.y ? a.y : b.y;
    const int64_t xe = std::min<int64_t>(static_cast<int64_t>(a.x) + a.w, static_cast<int64_t>(b.x) + b.w);
    const int64_t ye = std::min<int64_t>(static_cast<int64_t>(a.y) + a.h, static_cast<int64_t>(b.y) + b.h);
    r.w = xe > r.x ? static_cast<int>(xe - r.x) : 0;
    r.h = ye > r.y ? static_cast<int>(ye - r.y) : 0;
    return r;
}

// Geometry of a validated header.
Geometry geometryOf(const VexImage* image) {
    Geometry g;
    g.data = image->imageData;
    g.height = image->height;
    g.width = image->width;
    g.step = ownImageStep(image);
    g.nChannels = image->nChannels;
    g.order = image->dataOrder;
    g.alpha = image->alphaChannel;
    g.depth = image->depth;
    return g;
}

// ---------------------------------------------------------------------------
// Working storage of one call: the rectangle of one channel, one row, and
// the lane batches of the one-dimensional kernels.
template <class W, class C>
struct Work {
    W* data = nullptr;
    W* row = nullptr;    // kFftLanes rows of the rectangle's width
    C* lanes = nullptr;  // in, out, scratch (2x): 4 * maxLen * L
    int w = 0, h = 0, maxLen = 0;
    int ws = 0;  // row stride in elements: the width plus one cache line, so
                 // that rows a power of two apart do not share cache sets
    bool allocate(int width, int height) {
        w = width;
        h = height;
        ws = w + 64 / static_cast<int>(sizeof(W));
        maxLen = w > h ? w : h;
        const int64_t cells = static_cast<int64_t>(ws) * h;
        const int64_t laneCells = static_cast<int64_t>(4) * maxLen * L;
        if (cells * static_cast<int64_t>(sizeof(W)) > 0x7FFFFFF0 ||
            static_cast<int64_t>(L) * ws * static_cast<int64_t>(sizeof(W)) > 0x7FFFFFF0 ||
            laneCells * static_cast<int64_t>(sizeof(C)) > 0x7FFFFFF0)
            return false;
        data = dataBlock.alloc<W>(cells);
        row = rowBlock.alloc<W>(static_cast<int64_t>(L) * ws);
        lanes = laneBlock.alloc<C>(laneCells);
        return data && row && lanes;
    }
    OwnBlock dataBlock, rowBlock, laneBlock;
    W* rowOf(int y) { return data + static_cast<int64_t>(y) * ws; }
    W* bufRow(int l) { return row + static_cast<int64_t>(l) * ws; }
    C* in() { return lanes; }
    C* out() { return lanes + static_cast<size_t>(maxLen) * L; }
    C* scratch() { return lanes + static_cast<size_t>(2) * maxLen * L; }
};

template <class W, class C> inline C toCompute(W v) { return static_cast<C>(v); }
template <class W, class C> inline W toWork(C v);
template <> inline float toWork<float, float>(float v) { return v; }
template <> inline int32_t toWork<int32_t, double>(double v) {
    if (!(v > -2147483648.5)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.5) return INT32_MAX;
    return static_cast<int32_t>(std::nearbyint(v));
}

// Sequences of length n, sequence l starting at base[l] with its elements
// `stride` apart, to and from a lane batch (natural order when rev is null,
// else element j at rev[j]); lanes from count on are zero.
template <class W, class C>
void gather(C* batch, W* const* base, int count, int n, int64_t stride, const int* rev = nullptr) {
    for (int j = 0; j < n; ++j) {
        C* b = batch + static_cast<size_t>(rev ? rev[j] : j) * L;
        for (int l = 0; l < count; ++l) b[l] = toCompute<W, C>(base[l][j * stride]);
        for (int l = count; l < L; ++l) b[l] = C(0);
    }
}
template <class W, class C>
void scatter(const C* batch, W* const* base, int count, int n, int64_t stride) {
    for (int j = 0; j < n; ++j) {
        const C* b = batch + static_cast<size_t>(j) * L;
        for (int l = 0; l < count; ++l) base[l][j * stride] = toWork<W, C>(b[l]);
    }
}

struct Plan {
    Rect rect;
    bool forward2D;  // true: real -> CCS; false: CCS -> real
    bool channels[64 + 1];
    int nChannels;
};

// Sixteen complex column pairs of single-precision working rows to split
// re/im lanes (row j to lane element rev[j], or j) and back, 32 values per
// row through vector shuffles.
typedef float OwnV8f __attribute__((vector_size(32), aligned(4)));
typedef int OwnV8i __attribute__((vector_size(32)));
#if defined(__clang__)
#define OWN_EVEN(a, b) __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14)
#define OWN_ODD(a, b) __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15)
#define OWN_LOW(a, b) __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11)
#define OWN_HIGH(a, b) __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15)
#else
#define OWN_EVEN(a, b) __builtin_shuffle(a, b, OwnV8i{0, 2, 4, 6, 8, 10, 12, 14})
#define OWN_ODD(a, b) __builtin_shuffle(a, b, OwnV8i{1, 3, 5, 7, 9, 11, 13, 15})
#define OWN_LOW(a, b) __builtin_shuffle(a, b, OwnV8i{0, 8, 1, 9, 2, 10, 3, 11})
#define OWN_HIGH(a, b) __builtin_shuffle(a, b, OwnV8i{4, 12, 5, 13, 6, 14, 7, 15})
#endif
static_assert(L == 16, "the pair shuffles move sixteen lanes");

OWN_CLONES void gatherPairs16(const float* base, int64_t step, int h, const int* rev, float* re, float* im) {
    for (int j = 0; j < h; ++j) {
        const OwnV8f* src = reinterpret_cast<const OwnV8f*>(base + j * step);
        const size_t at = static_cast<size_t>(rev ? rev[j] : j) * L;
        OwnV8f* dr = reinterpret_cast<OwnV8f*>(re + at);
        OwnV8f* di = reinterpret_cast<OwnV8f*>(im + at);
        const OwnV8f a = src[0], b = src[1], c = src[2], d = src[3];
        dr[0] = OWN_EVEN(a, b);
        dr[1] = OWN_EVEN(c, d);
        di[0] = OWN_ODD(a, b);
        di[1] = OWN_ODD(c, d);
    }
}
OWN_CLONES void scatterPairs16(float* base, int64_t step, int h, const float* re, const float* im) {
    for (int j = 0; j < h; ++j) {
        OwnV8f* dst = reinterpret_cast<OwnV8f*>(base + j * step);
        const OwnV8f* sr = reinterpret_cast<const OwnV8f*>(re + static_cast<size_t>(j) * L);
        const OwnV8f* si = reinterpret_cast<const OwnV8f*>(im + static_cast<size_t>(j) * L);
        dst[0] = OWN_LOW(sr[0], si[0]);
        dst[1] = OWN_HIGH(sr[0], si[0]);
        dst[2] = OWN_LOW(sr[1], si[1]);
        dst[3] = OWN_HIGH(sr[1], si[1]);
    }
}

#if defined(__clang__)
#define OWN_S(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define OWN_S(a, b, ...) __builtin_shuffle(a, b, OwnV8i{__VA_ARGS__})
#endif
// c[k][i] = r[i][k]: an 8x8 transpose in three rounds of shuffles.
__attribute__((always_inline)) inline void transpose8(const OwnV8f* r, OwnV8f* c) {
    OwnV8f a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = OWN_S(r[i], r[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        a[i + 1] = OWN_S(r[i], r[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    for (int i = 0; i < 8; i += 4) {
        b[i] = OWN_S(a[i], a[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        b[i + 1] = OWN_S(a[i], a[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        b[i + 2] = OWN_S(a[i + 1], a[i + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        b[i + 3] = OWN_S(a[i + 1], a[i + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int k = 0; k < 4; ++k) {
        c[k] = OWN_S(b[k], b[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        c[k + 4] = OWN_S(b[k], b[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}
#undef OWN_S

// Sixteen single-precision rows of a power-of-two width w >= 8 into the
// lanes of a real transform: sample 2m of row l to zr[rev[m]], lane l, and
// sample 2m + 1 to zi. Eight rows by eight samples are transposed at a time.
OWN_CLONES void rowsToLanes16(const float* const* rows, int w, const int* rev, float* zr, float* zi) {
    for (int l0 = 0; l0 < L; l0 += 8) {
        for (int j0 = 0; j0 < w; j0 += 8) {
            OwnV8f r[8], c[8];
            for (int i = 0; i < 8; ++i) r[i] = *reinterpret_cast<const OwnV8f*>(rows[l0 + i] + j0);
            transpose8(r, c);
            // c[k]: sample j0 + k of rows l0 .. l0 + 7.
            for (int k = 0; k < 8; k += 2) {
                const size_t at = static_cast<size_t>(rev[(j0 + k) / 2]) * L + l0;
                *reinterpret_cast<OwnV8f*>(zr + at) = c[k];
                *reinterpret_cast<OwnV8f*>(zi + at) = c[k + 1];
            }
        }
    }
}

// A natural-order lane batch of length n (a multiple of 8) out to sixteen
// single-precision rows.
OWN_CLONES void lanesToRows16(const float* batch, int n, float* const* rows) {
    for (int l0 = 0; l0 < L; l0 += 8) {
        for (int j0 = 0; j0 < n; j0 += 8) {
            OwnV8f r[8], c[8];
            for (int k = 0; k < 8; ++k)
                r[k] = *reinterpret_cast<const OwnV8f*>(batch + static_cast<size_t>(j0 + k) * L + l0);
            transpose8(r, c);
            for (int i = 0; i < 8; ++i) *reinterpret_cast<OwnV8f*>(rows[l0 + i] + j0) = c[i];
        }
    }
}

// Forward rows: source rows of channel c straight into the lanes (even and
// odd samples at their bit-reversed places for a power-of-two width), the
// packed spectra into the working rows.
template <class W, class C>
bool rowsForward(Work<W, C>& wk, const Setup& s, const Plan& p, int c,
                 typename Converters<W>::Read read) {
    const int srcStride = s.src.sampleStride();
    if (wk.w == 1) {
        for (int y = 0; y < wk.h; ++y) read(s.src.at(p.rect.x, p.rect.y + y, c), srcStride, 1, wk.rowOf(y));
        return true;
    }
    const bool fast = ownIsPow2(wk.w);
    const int half = wk.w / 2;
    const OwnFftTable* th = fast ? ownFftTable(half) : nullptr;
    if (fast && !th) return false;
    C* zr = wk.scratch();
    C* zi = zr + static_cast<size_t>(half) * L;
    const W* rows[L];
    for (int l = 0; l < L; ++l) rows[l] = wk.bufRow(l);
    for (int y0 = 0; y0 < wk.h; y0 += L) {
        const int count = wk.h - y0 < L ? wk.h - y0 : L;
        if (count < L) std::memset(static_cast<void*>(fast ? zr : wk.in()), 0, sizeof(C) * wk.w * L);
        for (int l = 0; l < count; ++l)
            read(s.src.at(p.rect.x, p.rect.y + y0 + l, c), srcStride, wk.w, wk.bufRow(l));
        // One batch element (all lanes) at a time: whole cache lines written.
        if (fast && std::is_same<W, float>::value && std::is_same<C, float>::value && count == L && wk.w >= 8) {
            rowsToLanes16(reinterpret_cast<const float* const*>(rows), wk.w, th->rev, reinterpret_cast<float*>(zr),
                          reinterpret_cast<float*>(zi));
        } else if (fast) {
            for (int m = 0; m < half; ++m) {
                C* dr = zr + static_cast<size_t>(th->rev[m]) * L;
                C* di = zi + static_cast<size_t>(th->rev[m]) * L;
                for (int l = 0; l < count; ++l) {
                    dr[l] = toCompute<W, C>(rows[l][2 * m]);
                    di[l] = toCompute<W, C>(rows[l][2 * m + 1]);
                }
            }
        } else {
            for (int j = 0; j < wk.w; ++j) {
                C* b = wk.in() + static_cast<size_t>(j) * L;
                for (int l = 0; l < count; ++l) b[l] = toCompute<W, C>(rows[l][j]);
            }
        }
        const bool ok = fast ? ownRealForwardPermuted<C>(zr, zi, wk.out(), wk.w, s.sign)
                             : ownRealForward<C>(wk.in(), wk.out(), wk.scratch(), wk.w, s.sign);
        if (!ok) return false;
        W* base[L];
        for (int l = 0; l < count; ++l) base[l] = wk.rowOf(y0 + l);
        if (std::is_same<W, float>::value && std::is_same<C, float>::value && count == L && wk.w % 8 == 0)
            lanesToRows16(reinterpret_cast<const float*>(wk.out()), wk.w, reinterpret_cast<float* const*>(base));
        else
            scatter(wk.out(), base, count, wk.w, 1);
    }
    return true;
}

// Inverse rows: packed working rows to real rows, written to the
// destination (scaled, truncated, saturated) as each block is done.
template <class W, class C>
bool rowsInverse(Work<W, C>& wk, const Setup& s, const Plan& p, int c,
                 typename Converters<W>::Write write, double scale) {
    const int dstStride = s.dst.sampleStride();
    if (wk.w == 1) {
        for (int y = 0; y < wk.h; ++y)
            write(wk.rowOf(y), scale, s.scaled, s.dst.at(p.rect.x, p.rect.y + y, c), dstStride, 1);
        return true;
    }
    W* base[L];
    for (int y0 = 0; y0 < wk.h; y0 += L) {
        const int count = wk.h - y0 < L ? wk.h - y0 : L;
        for (int l = 0; l < count; ++l) base[l] = wk.rowOf(y0 + l);
        gather(wk.in(), base, count, wk.w, 1);
        if (!ownRealInverse<C>(wk.in(), wk.out(), wk.scratch(), wk.w, s.sign)) return false;
        W* rows[L];
        for (int l = 0; l < count; ++l) rows[l] = wk.bufRow(l);
        scatter(wk.out(), rows, count, wk.w, 1);
        for (int l = 0; l < count; ++l)
            write(rows[l], scale, s.scaled, s.dst.at(p.rect.x, p.rect.y + y0 + l, c), dstStride, wk.w);
    }
    return true;
}

// Column transforms of the rectangle: the real columns (0 and, for even
// widths, the last) and the complex column pairs (2k-1, 2k), the pairs
// kFftLanes at a time so that the pass streams through a narrow strip.
template <class W, class C>
bool columnPass(Work<W, C>& wk, bool forward, int sign) {
    if (wk.h == 1) return true;
    W* base[L];
    int count = 0;
    base[count++] = wk.data;
    if (wk.w % 2 == 0 && wk.w > 1) base[count++] = wk.data + (wk.w - 1);
    gather(wk.in(), base, count, wk.h, wk.ws);
    const bool ok = forward ? ownRealForward<C>(wk.in(), wk.out(), wk.scratch(), wk.h, sign)
                            : ownRealInverse<C>(wk.in(), wk.out(), wk.scratch(), wk.h, sign);
    if (!ok) return false;
    scatter(wk.out(), base, count, wk.h, wk.ws);
    const int pairs = (wk.w + 1) / 2 - 1;
    const bool fast = ownIsPow2(wk.h);
    const OwnFftTable* t = fast ? ownFftTable(wk.h) : nullptr;
    if (fast && !t) return false;
    C* re = wk.in();
    C* im = wk.out();
    for (int k0 = 1; k0 <= pairs; k0 += L) {
        count = pairs - k0 + 1 < L ? pairs - k0 + 1 : L;
        // Re and Im of pair k0 + l are the samples 2l and 2l + 1 from
        // column 2 k0 - 1 on.
        constexpr bool kShuffle = std::is_same<W, float>::value && std::is_same<C, float>::value;
        if (kShuffle && count == L)
            gatherPairs16(reinterpret_cast<const float*>(wk.rowOf(0) + (2 * k0 - 1)), wk.ws, wk.h,
                          fast ? t->rev : nullptr, reinterpret_cast<float*>(re), reinterpret_cast<float*>(im));
        else
        for (int j = 0; j < wk.h; ++j) {
            const W* src = wk.rowOf(j) + (2 * k0 - 1);
            const size_t at = static_cast<size_t>(fast ? t->rev[j] : j) * L;
            C* dr = re + at;
            C* di = im + at;
            if (count == L) {
                for (int l = 0; l < L; ++l) {
                    dr[l] = toCompute<W, C>(src[2 * l]);
                    di[l] = toCompute<W, C>(src[2 * l + 1]);
                }
            } else {
                for (int l = 0; l < count; ++l) {
                    dr[l] = toCompute<W, C>(src[2 * l]);
                    di[l] = toCompute<W, C>(src[2 * l + 1]);
                }
                for (int l = count; l < L; ++l) dr[l] = di[l] = C(0);
            }
        }
        const bool done = fast ? ownComplexPermuted<C>(re, im, wk.h, sign)
                               : ownComplex<C>(re, im, wk.scratch(), wk.h, sign);
        if (!done) return false;
        if (kShuffle && count == L) {
            scatterPairs16(reinterpret_cast<float*>(wk.rowOf(0) + (2 * k0 - 1)), wk.ws, wk.h,
                           reinterpret_cast<const float*>(re), reinterpret_cast<const float*>(im));
            continue;
        }
        for (int j = 0; j < wk.h; ++j) {
            W* dst = wk.rowOf(j) + (2 * k0 - 1);
            const C* sr = re + static_cast<size_t>(j) * L;
            const C* si = im + static_cast<size_t>(j) * L;
            for (int l = 0; l < count; ++l) {
                dst[2 * l] = toWork<W, C>(sr[l]);
                dst[2 * l + 1] = toWork<W, C>(si[l]);
            }
        }
    }
    return true;
}

// Builds every table the transform of a w x h rectangle needs, so that a
// shortage shows before anything is written.
bool tablesFor(int w, int h) {
    for (int n : {w, h}) {
        if (n < 2) continue;
        if (!ownFftTable(n)) return false;
        if (ownIsPow2(n) && !ownFftTable(n / 2)) return false;
    }
    return true;
}

template <class W, class C>
bool runEngine(const Setup& s, const Plan& p, typename Converters<W>::Read read,
               typename Converters<W>::Write write) {
    Work<W, C> wk;
    if (!wk.allocate(p.rect.w, p.rect.h) || !tablesFor(p.rect.w, p.rect.h)) return false;
    const double scale = 1.0 / (static_cast<double>(p.rect.w) * p.rect.h);
    const int srcStride = s.src.sampleStride(), dstStride = s.dst.sampleStride();
    for (int c = 0; c < p.nChannels; ++c) {
        if (!p.channels[c]) continue;
        if (p.forward2D) {
            if (!rowsForward(wk, s, p, c, read)) return false;
            if (!columnPass(wk, true, s.sign)) return false;
            for (int y = 0; y < p.rect.h; ++y)
                write(wk.rowOf(y), scale, s.scaled, s.dst.at(p.rect.x, p.rect.y + y, c), dstStride, p.rect.w);
        } else {
            for (int y = 0; y < p.rect.h; ++y)
                read(s.src.at(p.rect.x, p.rect.y + y, c), srcStride, p.rect.w, wk.rowOf(y));
            if (!columnPass(wk, false, s.sign)) return false;
            if (!rowsInverse(wk, s, p, c, write, scale)) return false;
        }
    }
    return true;
}

bool runTransform(const Setup& s, const Plan& p) {
    if (s.integer) return runEngine<int32_t, double>(s, p, s.readI, s.writeI);
    return runEngine<float, float>(s, p, s.readF, s.writeF);
}

bool validDepth(unsigned depth) {
    const int d = ownDepthIndex(depth);
    return d > kD1U;
}

// The setup step; false when the headers or flags are refused.
bool makeSetup(const VexImage* src, const VexImage* dst, int flags, Setup* s) {
    if (vexBadImageHeader(src) != 0 || vexBadImageHeader(dst) != 0) return false;
    if (src->tileInfo || dst->tileInfo) return false;
    const bool fwd = flags & 0x1, inv = flags & 0x2;
    if (fwd == inv) return false;
    if ((flags & 0x10) && (flags & 0x20)) return false;
    if (src->nChannels != dst->nChannels || src->nChannels < 1) return false;
    if (src->alphaChannel != dst->alphaChannel || src->alphaChannel > src->nChannels ||
        src->alphaChannel < 0)
        return false;
    if (!validDepth(src->depth) || !validDepth(dst->depth)) return false;
    for (const VexImage* im : {src, dst})
        if (im->dataOrder != VEX_DATA_ORDER_PIXEL && im->dataOrder != VEX_DATA_ORDER_PLANE) return false;
    Setup n;
    n.src = geometryOf(src);
    n.dst = geometryOf(dst);
    n.sign = fwd ? -1 : +1;
    n.scaled = inv && !(flags & 0x4);
    if (flags & 0x10) {
        n.integer = true;
    } else if (flags & 0x20) {
        n.integer = false;
    } else {
        Rect a, b;
        int ca, cb;
        regionOf(src, src->height, src->width, &a, &ca);
        regionOf(dst, dst->height, dst->width, &b, &cb);
        const Rect r = intersect(a, b);
        n.integer = static_cast<int64_t>(r.w) * r.h < 129;
    }
    n.readF = Converters<float>::reader(ownDepthIndex(src->depth));
    switch (ownDepthIndex(dst->depth)) {
        case kD8U: n.writeF = writeFloat8U; break;
        case kD8S: n.writeF = writeFloat8S; break;
        case kD16U: n.writeF = writeFloat16U; break;
        case kD16S: n.writeF = writeFloat16S; break;
        default: n.writeF = writeFloat32S; break;
    }
    n.readI = Converters<int32_t>::reader(ownDepthIndex(src->depth));
    n.writeI = Converters<int32_t>::writer(ownDepthIndex(dst->depth));
    n.valid = true;
    *s = n;
    return true;
}

void fft2D(const char* func, bool forward2D, VexImage* srcImage, VexImage* dstImage, int flags,
           const void* map) {
    const OwnSite site{func, kFile};
    if (flags & 0x80) {
        ownFftFreeTables();
        return;
    }
    // Unless kept, the tables go at the end of the call, whatever happened.
    struct Release {
        bool keep;
        ~Release() {
            if (!keep) ownFftFreeTables();
        }
    } release{(flags & 0x100) != 0};
    ownFail(site, srcImage == nullptr, "srcImage==0", __LINE__);
    ownFail(site, dstImage == nullptr, "dstImage==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    ownFail(site, srcImage->imageData == nullptr, "srcImage->imageData==0", __LINE__);
    ownFail(site, dstImage->imageData == nullptr, "dstImage->imageData==0", __LINE__);
    if (vexGetErrStatus() < 0) return;
    OWN_CHECK(site, map != nullptr, "(map!=((void*)(0)))");

    if (!(flags & 0x40)) {
        Setup s;
        OWN_CHECK(site, !makeSetup(srcImage, dstImage, flags, &s), kBadInput);
        t_setup = s;
    } else {
        // The headers given must still describe the recorded images: the
        // same pixel buffers and sizes (a stale setup is never followed into
        // memory that is no longer the caller's images).
        const Setup& r = t_setup;
        OWN_CHECK(site,
                  !r.valid || srcImage->imageData != r.src.data || dstImage->imageData != r.dst.data ||
                      srcImage->width != r.src.width || srcImage->height != r.src.height ||
                      dstImage->width != r.dst.width || dstImage->height != r.dst.height,
                  kBadInput);
    }
    Setup& s = t_setup;

    // The region: both regions inside their images, equal channels of
    // interest; the rectangle is their intersection.
    Rect a, b;
    int coiA = 0, coiB = 0;
    const bool inA = regionOf(srcImage, s.src.height, s.src.width, &a, &coiA);
    const bool inB = regionOf(dstImage, s.dst.height, s.dst.width, &b, &coiB);
    OWN_CHECK(site, !inA || !inB || coiA != coiB || coiA < 0 || coiA > s.src.nChannels, kBadInput);
    Plan p;
    p.rect = intersect(a, b);
    p.forward2D = forward2D;
    p.nChannels = s.src.nChannels;
    int selected = 0;
    for (int c = 0; c < p.nChannels && c <= 64; ++c) {
        const bool alpha = s.src.alpha == c + 1 && !(flags & 0x8);
        p.channels[c] = (coiA == 0 || coiA == c + 1) && !alpha;
        selected += p.channels[c];
    }
    OWN_CHECK(site, p.nChannels > 64, kBadInput);
    OWN_CHECK(site, p.rect.w == 0 || p.rect.h == 0 || selected == 0 || (p.rect.w < 2 && p.rect.h < 2),
              kNothing);

    if (!runTransform(s, p)) {
        // Once more with freshly built tables.
        ownFftFreeTables();
        OWN_CHECK(site, !runTransform(s, p), kBadInput);
    }
}

}  // namespace

extern "C" VEXAPI void vexRealFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map) {
    fft2D("vexRealFft2D", true, srcImage, dstImage, flags, map);
}

extern "C" VEXAPI void vexCcsFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map) {
    fft2D("vexCcsFft2D", false, srcImage, dstImage, flags, map);
}
