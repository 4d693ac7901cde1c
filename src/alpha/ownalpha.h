// The alpha family: scaled multiplication, premultiplied alpha and alpha
// compositing of 8U and 16U samples that stand for fractions of the depth's
// maximum M (255 or 65535).
//
// What the five operations share:
//   - the field-by-field header checks (OWN_CHECK_FIELDS) and the COI rules
//     between a source and the destination;
//   - Scale, the rounded quotient t / M by shift and add;
//   - per-image channel descriptors, so every image is read and written
//     through its own channel, pixel and row steps (data orders may differ);
//   - the block tiling: the working rectangle is cut on the tile grid of one
//     reference image, and each block goes through a tile cache that hands
//     the kernel an untiled header per image.
#pragma once

#include <cstdint>

#include "frame/ownframe.h"
#include "image/ownimage.h"

namespace vex {

// Every report of the family names this source.
constexpr const char* kAlphaFile = "vexalpha";
// The one text of a failed tile fetch.
extern const char kErrTilingCallBack[];  // "ERROR in Tiling callBack"

// ---------------------------------------------------------------- Scale

// The nearest integer to t / M for a product t of two samples of the depth
// (formed in unsigned 32-bit arithmetic). Never above M.
inline uint32_t ownScale8(uint32_t t) { return (t + (t >> 8) + 1) >> 8; }
inline uint32_t ownScale16(uint32_t t) { return (t + (t >> 16) + 1) >> 16; }
template <class T>
inline uint32_t ownScale(uint32_t t) {
    if constexpr (sizeof(T) == 1)
        return ownScale8(t);
    else
        return ownScale16(t);
}
template <class T>
constexpr uint32_t kAlphaMax = sizeof(T) == 1 ? 255u : 65535u;

// ---------------------------------------------------------------- checks

// The COI rules between a source and the destination, with the source's
// own name in the texts: a source selecting a channel needs a destination
// with a ROI; a destination selecting one needs a source that selects one.
// Reports the first failure under `site`; true when all pass.
bool ownAlphaCoiOk(const OwnSite& site, const VexImage* src, const VexImage* dst,
                   const char* srcName, const char* dstName, int line);
#define OWN_CHECK_COI(site, src, dst, srcName, dstName) \
    if (!::vex::ownAlphaCoiOk((site), (src), (dst), (srcName), (dstName), __LINE__)) return

// Reports `format` with `name` substituted (every %1$s) when `failed`.
bool ownFailNamed(const OwnSite& site, bool failed, const char* format, const char* name,
                  int line);
#define OWN_CHECK_NAMED(site, failed, format, name) \
    if (::vex::ownFailNamed((site), (failed), (format), (name), __LINE__)) return

// True when the image has a ROI selecting one channel.
inline bool ownSelectsChannel(const VexImage* image) {
    return image->roi && image->roi->coi > 0;
}

// ---------------------------------------------------------------- descriptors

// One image seen from the first pixel of a block: channel c (1-based) of
// pixel (x, y) of the block lies at first + y * rowStep + (c - 1) * chanStep
// + x * pixStep elements.
struct OwnChannels {
    char* first;
    int64_t rowStep;   // bytes
    int64_t chanStep;  // bytes: one element in pixel order, a plane in plane order
    int pixStep;       // elements: nChannels in pixel order, 1 in plane order
    int nChannels;
    bool plane;

    template <class T>
    T* at(int y, int c) const {
        return reinterpret_cast<T*>(first + y * rowStep + (c - 1) * chanStep);
    }
};
// The descriptor of an untiled image at pixel (x, y) of its own coordinates.
OwnChannels ownChannelsAt(const VexImage* image, int x, int y);

// ---------------------------------------------------------------- tiling

// Up to six images take part in one call; a block hands each an untiled
// header and the block's top-left pixel in that header.
constexpr int kAlphaMaxImages = 6;

struct OwnAlphaBlock {
    const VexImage* view[kAlphaMaxImages];
    int x[kAlphaMaxImages], y[kAlphaMaxImages];
    int width, height;
    OwnChannels channels(int i) const { return ownChannelsAt(view[i], x[i], y[i]); }
};

using OwnAlphaKernel = void (*)(const OwnAlphaBlock& block, const void* ctx);

// The images of a call in reference order (the destination first), with the
// tile mode each is opened with (1 read, 2 write). A null image takes no
// part. Computes the working rectangle (the smallest ROI size, each cut to
// its image, and never above 99999), runs the kernel once when no image is
// tiled, else block by block on the reference image's tile grid through a
// tile cache; with `mapping` and a tiled destination only the block of the
// tile holding (xDst, yDst). A tile that is not delivered is reported with
// VEX_StsError "ERROR in Tiling callBack" under `site`.
void ownAlphaRun(const OwnSite& site, VexImage* const* images, const int* modes, int count,
                 const VexMapping* mapping, OwnAlphaKernel kernel, const void* ctx);

// The tile cache of one call. Registering the same header twice gives the
// same entry (opened for writing when either registration writes), so an
// image in two roles is fetched once. A block is set, each entry's header
// got (at most one fetch per block), then the block released: single tiles
// go back with mode 4, blocks spanning tiles were copied into a temporary of
// the reference tile size and are written back first in write mode.
class OwnTileCache {
public:
    OwnTileCache(int tileWidth, int tileHeight) : tileW_(tileWidth), tileH_(tileHeight) {}
    ~OwnTileCache() { dismantle(); }
    OwnTileCache(const OwnTileCache&) = delete;
    OwnTileCache& operator=(const OwnTileCache&) = delete;

    int add(VexImage* image, int mode);
    // The block in working-rectangle coordinates; each image is shifted by
    // its own ROI offset.
    void setBlock(int x, int y, int width, int height);
    // The header of entry i for the current block, with *x, *y the block's
    // corner in it; null when a tile was not delivered (the cache is then
    // marked failed).
    const VexImage* get(int i, int* x, int* y);
    void release();
    // Releases what is still held and frees the temporaries. True when no
    // fetch ever failed.
    bool dismantle();
    // A temporary could not be allocated (the failure is then not the
    // callback's).
    bool outOfMemory() const { return noMem_; }

private:
    struct Held {
        int tx, ty;
        char* data;
    };
    struct Entry {
        VexImage* image = nullptr;
        int mode = 0;
        int roiX = 0, roiY = 0;
        bool fetched = false;
        VexImage view{};
        VexROI roi{};
        int viewX = 0, viewY = 0;
        // Tiles held for the current block; more than one when it spans.
        Held one{};
        Held* held = &one;
        int heldCount = 0, heldCapacity = 1;
        OwnBlock heldBlock;  // holds `held` once it outgrows `one`
        bool spanning = false;
        char* temp = nullptr;  // the spanning block's pixels, in tempBlock
        OwnBlock tempBlock;
        int tempStep = 0;
    };
    bool fetch(Entry& e);
    void releaseEntry(Entry& e);
    // Copies the part of tile h covered by the block between the tile and
    // the temporary (toTile: back into the tile).
    void copySpan(Entry& e, const Held& h, bool toTile);

    Entry entries_[kAlphaMaxImages];
    int count_ = 0;
    int tileW_, tileH_;
    int bx_ = 0, by_ = 0, bw_ = 0, bh_ = 0;
    bool failed_ = false, noMem_ = false;
};

}  // namespace vex

namespace vex {

// ---------------------------------------------------------------- run kernels
// n samples, each image stepping by its own increment (elements). The
// tables hold the 8U kernel first, then the 16U one.

// d = Scale(a x b).
using OwnScaleRun = void (*)(const void* a, int ia, const void* b, int ib, void* d, int id, int n);
extern const OwnScaleRun kScaleRun[2];
// d = Scale(a x v), v at most M.
using OwnScaleSRun = void (*)(const void* a, int ia, uint32_t v, void* d, int id, int n);
extern const OwnScaleSRun kScaleSRun[2];
// In place: d = Scale(d x v), v at most M.
using OwnScaleSInPlace = void (*)(void* d, int id, uint32_t v, int n);
extern const OwnScaleSInPlace kScaleSInPlace[2];
// In place: d = Scale(d x al), al another channel of the same pixels.
using OwnScaleByRun = void (*)(void* d, int id, const void* al, int ial, int n);
extern const OwnScaleByRun kScaleByRun[2];
// n pixels of four 8U channels, alpha last: the colours premultiplied in place.
void ownPremultiplyRGBA8(uint8_t* p, int n);

// Compositing, one colour channel: d = op(A, B) with the opacities a and b
// (contiguous rows of n samples). Indexed [depth][compositeType][premulAlpha]
// [divideMode].
using OwnCompositeRun = void (*)(const void* A, int iA, const void* B, int iB, const void* a,
                                 const void* b, void* d, int id, int n);
extern const OwnCompositeRun kCompositeRun[2][6][2][2];
// The result opacity from a and b, [depth][compositeType][divideMode].
using OwnOpacityRun = void (*)(const void* a, const void* b, void* d, int id, int n);
extern const OwnOpacityRun kOpacityRun[2][6][2];
// Whole pixels of four 8U channels with the opacities in channel 4 of A and
// B and the result opacity into channel 4 of d (integer form), or channel 4
// of d kept: [compositeType][premulAlpha][keep]. With `stream` the results
// bypass the cache.
using OwnCompositeRGBA8 = void (*)(const uint8_t* A, const uint8_t* B, uint8_t* d, int n, bool stream);
extern const OwnCompositeRGBA8 kCompositeRGBA8[6][2][2];

// The rounding of the floating form: to the nearest integer, ties to even,
// in single precision (the value plus 2^23 stored as a float, its 23 low
// mantissa bits taken). For 0 <= x < 2^23.
uint32_t ownRoundFloat(double x);

}  // namespace vex
