// Shared machinery of the geometric transforms (zoom, decimation, rotation):
// pixel views in a coordinate system of the operation's choice, the walk over
// the processed destination rectangle (whole, or tile by tile), and the
// source gathered for each destination piece when it must be.
#pragma once

#include <cmath>
#include <cstdint>

#include "frame/ownframe.h"
#include "image/ownrect.h"

namespace vex {

// An untiled buffer seen in a coordinate system chosen by the operation:
// the pixel at `data` has coordinates (x0, y0).
struct OwnPix {
    char* data;      // first processed channel of pixel (x0, y0); null: nothing readable
    int bit;         // 1U: bit index of (x0, y0) in its byte (0 = MSB)
    int64_t step;    // bytes between rows
    int64_t plane;   // bytes between planes (plane order)
    int ps;          // elements between pixels
    int x0, y0;
    int cols;        // columns readable from x0 on (the buffer's width there)

    template <class T>
    const T* row(int y) const {
        return reinterpret_cast<const T*>(data + step * (y - y0));
    }
    template <class T>
    T* rowW(int y) const {
        return reinterpret_cast<T*>(data + step * (y - y0));
    }
};

// A rectangle: in the processed destination rectangle (pieces) or in the
// source's coordinate system (what a piece reads).
struct OwnRect {
    int x, y, w, h;
};

// How the channels of a call are laid out: `lanes` planes (plane order) of
// `nc` interleaved channels each.
struct OwnLanesGeo {
    int lanes;
    int nc;
};

// The index rounding of the floating-point transforms: v + 0.00001 - 0.5
// rounded to the nearest integer, ties to even (the floor of v + 0.00001
// for ordinary values). The rounding constant keeps the loops vectorisable:
// for |t| < 2^51, (t + 1.5 * 2^52) - 1.5 * 2^52 is t rounded to nearest even.
inline double ownRoundEven(double t) {
    const double k = 6755399441055744.0;
    return std::fabs(t) < 2251799813685248.0 ? (t + k) - k : t;
}
inline double ownIdxD(double v) { return ownRoundEven(v + 0.00001 - 0.5); }
inline int ownIdx(double v) {
    const double r = ownIdxD(v);
    return r >= 2147483647.0 ? INT32_MAX : r <= -2147483648.0 ? INT32_MIN : static_cast<int>(r);
}

// How a call reports a destination or source tile the callback does not
// deliver. A null `srcText` gathers sources with ownGetRect (its own texts).
struct OwnGeoFail {
    int dstStatus;
    const char* dstText;
    int srcStatus;
    const char* srcText;
};

// Fills an OwnPix for the untiled header `image` whose pixel (ox, oy) gets
// coordinates (x0, y0); `coi` selects the first channel.
OwnPix ownPixAt(const VexImage* image, int coi, int ox, int oy, int x0, int y0, OwnRegion* r);

// A rectangle fully inside a (possibly tiled) image, gathered into a
// vexMalloc'ed buffer laid out as ownGetRect lays it out. Tiles that are
// not delivered are reported with (status, text); null on failure.
char* ownGeoGather(const OwnSite& site, const VexImage* image, int x, int y, int w, int h,
                   int status, const char* text);

// Requests a destination tile for writing, reporting (status, text) when it
// is not delivered.
char* ownGeoRequest(const OwnSite& site, const VexImage* image, int tx, int ty, int status,
                    const char* text);

void ownGeoNoMem(const OwnSite& site, int line);

// Temporary arrays of one call, each its own block, freed together.
class OwnTemp {
 public:
    // Null when the size does not fit, the allocation fails or the call
    // already holds its most blocks.
    template <class T>
    T* get(int64_t count) {
        return n_ == kMax ? nullptr : block_[n_++].alloc<T>(count);
    }

 private:
    static constexpr int kMax = 16;
    OwnBlock block_[kMax];
    int n_ = 0;
};

// The walk. The processed rectangle is W x H pixels at (dx, dy) of the
// destination. Without destination tiling it is one piece; with it, each
// destination tile's part is a piece (only the one `tile` names, when not
// null). For each piece, the source is read in place (an untiled source
// that is not the destination), or the rectangle `need(piece)` (in source
// coordinates, origin at (ox, oy) of the source image, already clipped to
// the image) is gathered. Then `fn(src, dst, piece, lanes)` writes the
// piece: `src` in source coordinates, `dst` with the piece's corner at
// (piece.x, piece.y). An empty `need` gives a null src.data.
template <class Need, class Fn>
void ownGeoWalk(const OwnSite& site, VexImage* src, VexImage* dst, int ox, int oy, int dx, int dy,
                int W, int H, const int* tile, const OwnGeoFail& fail, Need need, Fn fn) {
    if (W <= 0 || H <= 0) return;
    const int scoi = ownCoi(src), dcoi = ownCoi(dst);
    const bool gather = src->tileInfo || src == dst ||
                        (src->imageData && src->imageData == dst->imageData);

    // The source for one piece; `buf` receives a gathered buffer to free.
    auto source = [&](const OwnRect& piece, char** buf, OwnPix* s, OwnRegion* rs) -> bool {
        *buf = nullptr;
        if (!gather) {
            *s = ownPixAt(src, scoi, ox, oy, 0, 0, rs);
            return true;
        }
        const OwnRect r = need(piece);
        if (r.w <= 0 || r.h <= 0) {
            *s = ownPixAt(src, scoi, 0, 0, 0, 0, rs);  // channel counts only
            s->data = nullptr;
            return true;
        }
        int step = 0;
        char* b = fail.srcText ? ownGeoGather(site, src, ox + r.x, oy + r.y, r.w, r.h,
                                              fail.srcStatus, fail.srcText)
                               : ownGetRect(site, src, ox + r.x, oy + r.y, r.w, r.h, &step);
        if (!b) return false;
        if (vexGetErrStatus() < 0) {
            vexFree(b);
            return false;
        }
        VexImage h = ownRectHeader(src, b, r.w, r.h);
        *s = ownPixAt(&h, scoi, 0, 0, r.x, r.y, rs);
        *buf = b;
        return true;
    };
    auto lanesOf = [](const OwnRegion& rs, const OwnRegion& rd) {
        const int ch = rs.channels < rd.channels ? rs.channels : rd.channels;
        return rd.plane ? OwnLanesGeo{ch, 1} : OwnLanesGeo{1, ch};
    };

    if (!dst->tileInfo) {
        const OwnRect piece{0, 0, W, H};
        char* buf;
        OwnPix s;
        OwnRegion rs, rd;
        if (!source(piece, &buf, &s, &rs)) return;
        const OwnPix d = ownPixAt(dst, dcoi, dx, dy, 0, 0, &rd);
        fn(s, d, piece, lanesOf(rs, rd));
        vexFree(buf);
        return;
    }
    OwnTileRange t;
    {
        OwnRoiGuard guard(dst);
        VexROI local{dcoi, dx, dy, H, W};
        dst->roi = &local;
        if (!ownTileRange(dst, &t)) return;
    }
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        const OwnRect piece{p.rx, p.ry, p.w, p.h};
        char* buf;
        OwnPix s;
        OwnRegion rs, rd;
        if (!source(piece, &buf, &s, &rs)) return false;
        char* data = ownGeoRequest(site, dst, p.tx, p.ty, fail.dstStatus, fail.dstText);
        if (!data) {
            vexFree(buf);
            return false;
        }
        VexROI local{dcoi, p.x, p.y, p.h, p.w};
        VexImage view = ownTileView(dst, &local, data);
        const OwnPix d = ownPixAt(&view, dcoi, p.x, p.y, p.rx, p.ry, &rd);
        fn(s, d, piece, lanesOf(rs, rd));
        ownReleaseTile(dst, p.tx, p.ty, data);
        vexFree(buf);
        return true;
    });
}

// Bits of 1U rows (MSB first).
inline int ownGetBit(const char* base, int64_t index) {
    return (static_cast<unsigned char>(base[index >> 3]) >> (7 - (index & 7))) & 1;
}
inline void ownPutBit(char* base, int64_t index, int v) {
    unsigned char& b = reinterpret_cast<unsigned char&>(base[index >> 3]);
    const unsigned char m = static_cast<unsigned char>(0x80u >> (index & 7));
    b = static_cast<unsigned char>(v ? (b | m) : (b & ~m));
}

}  // namespace vex
