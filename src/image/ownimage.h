// Internal image-model services: depth tables, row strides, the header
// checks every operation runs, and per-pixel access with border rules.
#pragma once

#include <cstdint>

#include "vexlib.h"

namespace vex {

// ---------------------------------------------------------------------------
// Depths. Kernel tables are indexed by the dense depth index below, never by
// the raw code with its sign flag.
enum OwnDepth : int { kD1U = 0, kD8U, kD8S, kD16U, kD16S, kD32S, kDepthCount };

// Dense index of a depth code, or -1 for an invalid code.
inline int ownDepthIndex(unsigned depth) {
    switch (depth) {
        case VEX_DEPTH_1U: return kD1U;
        case VEX_DEPTH_8U: return kD8U;
        case VEX_DEPTH_8S: return kD8S;
        case VEX_DEPTH_16U: return kD16U;
        case VEX_DEPTH_16S: return kD16S;
        case VEX_DEPTH_32S: return kD32S;
        default: return -1;
    }
}
inline int ownDepthBits(unsigned depth) { return static_cast<int>(depth & ~VEX_DEPTH_SIGN); }
// Bytes per element (1U counts as 1: its element index is a bit index).
inline int ownElemSize(unsigned depth) {
    int b = ownDepthBits(depth);
    return b <= 8 ? 1 : b / 8;
}
// Smallest and largest value of a depth.
int64_t ownDepthMin(unsigned depth);
int64_t ownDepthMax(unsigned depth);

// ---------------------------------------------------------------------------
// Row stride: bytes of one row of `width` pixels rounded up to `align`.
// In pixel order a row holds all channels; in plane order one channel.
int64_t ownRowStep(int width, unsigned depth, int nChannels, int dataOrder, int align);
inline int ownImageStep(const VexImage* image) {
    return static_cast<int>(ownRowStep(image->width, image->depth, image->nChannels,
                                       image->dataOrder, image->align));
}
// Bytes of a whole buffer for the given geometry (all planes).
int64_t ownDataSize(int height, int width, unsigned depth, int nChannels, int dataOrder, int align);

// Creation check: true when the header's layout fields are usable.
bool ownCheckHeader(const VexImage* image);

// Message for a vexBadImageHeader bit set: null for 0, a vexMalloc'ed text
// (release with ownFreeHeaderMessage), or one of two constant texts.
char* ownHeaderMessage(int bits);
void ownFreeHeaderMessage(char* text);

// Untiled header describing one tile of a tiled image.
VexImage ownTileHeader(const VexImage* image);

// ---------------------------------------------------------------------------
// The argument-check pattern. Every operation names itself once and then
// reports each failed check with the literal text of the condition.
struct OwnSite {
    const char* func;  // exported name, e.g. "vexAdd"
    const char* file;  // source name, e.g. "vexadd"
};

// Header check: a bad header is reported with its multi-line message.
// Returns true when the header is good.
bool ownHeaderOk(const OwnSite& site, const VexImage* image, int line);

// Reports `text` with VEX_StsBadArg when `failed`; returns `failed`.
inline bool ownFail(const OwnSite& site, bool failed, const char* text, int line) {
    if (failed) vexError(VEX_StsBadArg, site.func, text, site.file, line);
    return failed;
}

// The field-by-field sequence (null pointer, vexBadImageHeader, sizes, ROI,
// buffer/tiling, callback and tile size), with the argument's own name in
// every text. Stops at the first failure; returns true when all pass.
bool ownImageFieldsOk(const OwnSite& site, const VexImage* image, const char* name, int line);

// Compatibility of two images: depth, data order and origin, each difference
// reported on its own. The caller reads vexGetErrStatus() afterwards.
void ownCheckCompatible(const OwnSite& site, const VexImage* a, const VexImage* b,
                        const char* nameA, const char* nameB, int line);

// After a call into another exported operation: when it failed, adds this
// operation to the trail (VEX_StsBackTrace, empty message). Evaluates to
// true when the status is negative.
inline bool ownTrail(const OwnSite& site, int line) {
    if (vexGetErrStatus() >= 0) return false;
    vexError(VEX_StsBackTrace, site.func, "", site.file, line);
    return true;
}
#define OWN_TRAIL(site) ::vex::ownTrail((site), __LINE__)

#define OWN_CHECK_HEADER(site, image) \
    if (!::vex::ownHeaderOk((site), (image), __LINE__)) return
#define OWN_CHECK(site, failed, text) \
    if (::vex::ownFail((site), (failed), (text), __LINE__)) return
#define OWN_CHECK_FIELDS(site, image, name) \
    if (!::vex::ownImageFieldsOk((site), (image), (name), __LINE__)) return

// ---------------------------------------------------------------------------
// Per-pixel access (channel c is 1-based).
int ownGetPixel(const VexImage* image, int x, int y, int c);       // untiled
void ownSetPixel(VexImage* image, int x, int y, int c, int value);  // untiled
// Untiled: direct read. Tiled: the tile is requested (mode 1), read, released.
// Returns false when the tile callback does not deliver the tile.
bool ownGetTiledPixel(const VexImage* image, int x, int y, int c, int* value);

// Side bits of a point: VEX_SIDE_* for each side it lies beyond.
int ownClassifyPoint(const VexImage* image, int x, int y);
// Maps a coordinate beyond an edge into [0, size) by a border mode.
int ownBorderCoord(int p, int size, int mode);
// The border rule: a pixel inside or outside the image.
bool ownGetBorderPixel(const VexImage* image, int x, int y, int c, int* value);
// n pixels of channel c from (x, y) rightwards / downwards, by the border
// rule, into `dst` in the image's depth (1U packed, first pixel in the MSB).
bool ownGetBorderRow(const VexImage* image, int x, int y, int c, int n, void* dst);
bool ownGetBorderColumn(const VexImage* image, int x, int y, int c, int n, void* dst);

}  // namespace vex
