// The neighbourhood-filter engine shared by the convolutions, the blur and
// the rank filters.
//
// An operation describes its window (the source columns and rows one output
// pixel reads, relative to that pixel) and supplies a row body. The engine
//  - clips and pairs the regions (smaller width and height of the two),
//  - prepares the source: the image itself, or, for an in-place call, the
//    rectangle the windows reach gathered with ownGatherRect, or, for a
//    tiled source, such a rectangle band by band (a source tile is
//    requested by at most three bands),
//  - hands the body bordered source rows (OwnRows): samples of one working
//    channel, or of all channels interleaved, for the output columns plus
//    the window margins. Rows lying inside the image with no margin to
//    synthesise are handed out in place, without a copy; every other row
//    of an untiled image is gathered, border samples included, by one
//    ownGatherRect call into the reader's row slot,
//  - takes output rows from the body (OwnOut) straight into the destination
//    where its layout allows, else through a row buffer (channel of
//    interest, 1-bit packing),
//  - walks the destination's tiles (mode 2, then 4), or only the one a
//    mapping selects; a walk over all of them (not in place) runs the body
//    on full-width bands of whole tile rows in a band buffer copied into
//    the tiles one at a time. There a tiled source (pixel order or one
//    channel, not 1-bit) is not gathered band by band: each row the body
//    asks for is assembled out of the source tiles of its tile row, held
//    while the rows of that tile row are read (OwnTileRows).
#pragma once

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include "frame/ownframe.h"
#include "image/ownmove.h"
#include "image/ownrect.h"
#include "image/ownstream.h"

namespace vex {

extern const char kFilterNoMem[];  // "Allocation failure"

// Set by a test hook (ownAvx2Only, not exported): the filters' 8-bit
// kernels stop at AVX2 on a machine with AVX-512, so that tests there check
// both forms. Results are the same either way.
extern std::atomic<bool> gOwnAvx2Only;
// Likewise (ownNoVbmi): the AVX-512 kernels leave out the VBMI byte
// permutation where the processor has it.
extern std::atomic<bool> gOwnNoVbmi;

// The source as the engine reads it: the untiled image itself, or the
// rectangle of it that the reader needs, gathered with its border samples.
struct OwnFilterSrc {
    const OwnSite* site = nullptr;
    const VexImage* image = nullptr;  // the caller's header: size, border modes
    VexImage data{};                  // untiled pixels: the image or the gathered rectangle
    bool gathered = false;            // data is the rectangle from image pixel (x, y)
    // A tiled image whose readers assemble their rows themselves out of its
    // tiles (OwnTileRows): pixel order or one channel, not 1-bit.
    bool rolling = false;
    int64_t x = 0, y = 0;
    int64_t step = 0, planeSize = 0;
    mutable bool failed = false;  // a bordered row could not be gathered (reported)
    OwnBlock pixels;
};

// Prepares `s` for reading image columns [x0, x1) and rows [y0, y1) (the
// bounds may lie outside the image). With `gather` that rectangle is copied
// out of the image (through the tile callback for a tiled image), the
// samples outside the image synthesised by its border modes. False after a
// reported failure. With `into` the rectangle goes there (room for
// ownFilterSourceBytes of it) instead of into a block of its own.
bool ownFilterSource(const OwnSite& site, const VexImage* image, int64_t x0, int64_t y0,
                     int64_t x1, int64_t y1, bool gather, OwnFilterSrc* s, char* into = nullptr);
// Bytes of a gathered w x h rectangle of `image`; -1 beyond 32-bit sizes.
int64_t ownFilterSourceBytes(const VexImage* image, int64_t w, int64_t h);

// Per depth: the engine's sample type, the depth's range, and the largest
// magnitude of a sample.
template <int K>
struct OwnDepthT;
template <>
struct OwnDepthT<kD1U> {
    using T = uint8_t;
    static constexpr int64_t lo = 0, hi = 1;
};
template <>
struct OwnDepthT<kD8U> {
    using T = uint8_t;
    static constexpr int64_t lo = 0, hi = 255;
};
template <>
struct OwnDepthT<kD8S> {
    using T = int8_t;
    static constexpr int64_t lo = -128, hi = 127;
};
template <>
struct OwnDepthT<kD16U> {
    using T = uint16_t;
    static constexpr int64_t lo = 0, hi = 65535;
};
template <>
struct OwnDepthT<kD16S> {
    using T = int16_t;
    static constexpr int64_t lo = -32768, hi = 32767;
};
template <>
struct OwnDepthT<kD32S> {
    using T = int32_t;
    static constexpr int64_t lo = INT32_MIN, hi = INT32_MAX;
};
inline int64_t ownMaxAbs(int k) {
    static const int64_t m[kDepthCount] = {1, 255, 128, 65535, 32768, int64_t(1) << 31};
    return m[k];
}

// A row as stretches of memory: bytes [begin, end) of the row start at `at`.
struct OwnRowRegion {
    const char* at;
    int64_t begin, end;
    int64_t ahead = 0;  // bytes from `at` to the same bytes of a row further down, worth prefetching (0: none)
};
// A row read where it lies: its regions, sorted by `begin` with their ends
// rising, are such that every stretch of at most the reach the view was
// made for lies whole in one of them.
struct OwnRowView {
    const OwnRowRegion* r = nullptr;
    int count = 0;
    // Samples [j, j + need) of the row (need at most the reach), contiguous.
    // `cur` is the region found last (0 at first): successive calls of one
    // cursor ask for stretches whose ends do not fall.
    template <class T>
    const T* at(int64_t j, int64_t need, int& cur) const {
        const int64_t e = (j + need) * int64_t(sizeof(T));
        while (e > r[cur].end) ++cur;
        return reinterpret_cast<const T*>(r[cur].at + (j * int64_t(sizeof(T)) - r[cur].begin));
    }
};

// Bordered rows of a tiled image (pixel order or one channel, not 1-bit),
// assembled one at a time as a reader walks down them: the tiles of the
// tile row being read are held, requested once as the reading enters that
// row and released as it leaves (or when the reader ends); the columns
// beyond the image's left and right edges are gathered for all the rows at
// once, and the rows beyond its top or bottom edge likewise, on first use.
// While a row is copied out of the held tiles, the same row a few rows
// further down is prefetched, so that the reading of memory overlaps the
// work on the rows before it.
//
// A row may also be read where it lies (view): the pieces of the held tiles
// and of the side columns as they are, and around each seam between two
// pieces the bytes within the reach on either side copied together into a
// small buffer, so that a stretch of at most the reach is always
// contiguous somewhere. Each piece of a tile carries the distance to the
// same bytes a few rows further down, which its reader prefetches step by
// step as it goes (the lines so asked for a few at a time, not a row's
// worth in one burst).
class OwnTileRows {
 public:
    OwnTileRows() = default;
    ~OwnTileRows() { release(); }
    OwnTileRows(const OwnTileRows&) = delete;
    OwnTileRows& operator=(const OwnTileRows&) = delete;
    // Image columns [x0, x0 + len) of image rows [y0, y0 + rows).
    bool init(const OwnSite& site, const VexImage* image, int64_t x0, int len, int64_t y0, int64_t rows);
    // Image row yy into `to` (len pixels); false after a reported failure
    // (then for every later row too, reported once).
    bool row(int64_t yy, char* to);
    // Image row yy as a view for stretches of at most `reach` bytes, valid
    // until the next row; rows that do not lie in held tiles are copied
    // into `to` (len pixels) first. False as row().
    bool view(int64_t yy, int64_t reach, char* to, OwnRowView* v);

 private:
    // A piece of a row inside the image: the left side columns (tile -1),
    // the columns of held tile `tile`, or the right side columns (tile nt_).
    struct Piece {
        int64_t begin, end, off;  // bytes of the row; offset in its side row or tile row
        int tile;
    };
    // Bytes [from, from + len) of piece `piece` go to byte `to` of the seams.
    struct Frag {
        int64_t to, from, len;
        int piece;
    };
    void release();
    bool enter(int64_t yy);
    bool layout(int64_t reach);
    bool sides();
    bool outside(int64_t yy, char* to);
    bool inside(int64_t yy, char* to);
    const OwnSite* site_ = nullptr;
    const VexImage* im_ = nullptr;
    int64_t x0_ = 0, y0_ = 0, y1_ = 0, px_ = 0, tstep_ = 0;
    int len_ = 0, ia_ = 0, ib_ = 0, left_ = 0, right_ = 0, tw_ = 1, th_ = 1;
    int tx0_ = 0, nt_ = 0, heldTy_ = -1;
    bool failed_ = false;
    char** held_ = nullptr;
    char* side_ = nullptr;  // side columns of the rows inside the image from sideY_, sideStep_ bytes apart
    int64_t sideY_ = 0, sideStep_ = 0;
    char* above_ = nullptr;  // rows [y0_, 0) and [H, y1_) once gathered
    char* below_ = nullptr;
    OwnBlock heldBlock_, sideBlock_, aboveBlock_, belowBlock_;
    // The view's layout for reach_: pieces, regions (region i is piece
    // regionPiece_[i], or a seam when that is -1), seam fragments, and the
    // seams' buffer.
    int64_t reach_ = -1;
    int nPieces_ = 0, nRegions_ = 0, nFrags_ = 0;
    Piece* pieces_ = nullptr;
    OwnRowRegion* regions_ = nullptr;
    int* regionPiece_ = nullptr;
    Frag* frags_ = nullptr;
    const char** piecePtr_ = nullptr;
    char* seams_ = nullptr;
    OwnRowRegion whole_{};  // a row copied
    OwnBlock layoutBlock_, seamBlock_;
};

// Geometry of the bordered rows of one pass.
struct OwnRowGeom {
    int64_t x0;  // image column of the first sample of a row
    int64_t y0;  // image row of window row 0
    int len;     // pixels per bordered row
    int lanes;   // samples per pixel: the channels processed together, or 1
    int ch;      // absolute channel (0-based) of lane 0
    int64_t rows = INT64_MAX;  // window rows the reader may ask for
};

template <class T>
class OwnRows {
 public:
    OwnRows(const OwnFilterSrc& s, const OwnRowGeom& g) : s_(s), g_(g) {}
    // Pixels [offset, offset + len) of the rows of `whole` (a vertical
    // strip), with its own row store.
    OwnRows(const OwnRows& whole, int64_t offset, int len)
        : s_(whole.s_), g_{whole.g_.x0 + offset, whole.g_.y0, len, whole.g_.lanes, whole.g_.ch, whole.g_.rows} {}
    int len() const { return g_.len; }
    int lanes() const { return g_.lanes; }
    int64_t samples() const { return int64_t(g_.len) * g_.lanes; }
    // Every row inside the image is read in place, margins included.
    bool inPlace() const {
        return s_.gathered || s_.rolling || (g_.x0 >= 0 && g_.x0 + g_.len <= s_.image->width);
    }
    // Room for `k` rows kept at once (the most recent ones are reused).
    bool reserve(int k) {
        k_ = std::max(1, k);
        buf_ = bufBlock_.alloc<T>(samples() * k_);
        tags_ = tagBlock_.alloc<int64_t>(k_);
        ptrs_ = ptrBlock_.alloc<const T*>(k_);
        if (!buf_ || !tags_ || !ptrs_) return false;
        // Bordered rows are gathered into `raw_` first when their samples
        // are not in the image's own layout (all channels of a pixel, or
        // bits), and when they are short: then kBand rows at once, so that
        // the narrow side strips of a row pay for one gather per band.
        const VexImage& d = s_.data;
        raw_ = nullptr;
        rawY_ = INT64_MIN;
        if (s_.rolling) {
            // Rows assembled in the image's pixel layout, one per row slot.
            rawStep_ = ownRowStep(g_.len, d.depth, d.nChannels, VEX_DATA_ORDER_PIXEL, 8);
            raw_ = rawBlock_.alloc<char>(rawStep_ * k_);
            if (!raw_ || !tiles_.init(*s_.site, s_.image, g_.x0, g_.len, g_.y0, g_.rows)) return false;
        } else if (!s_.gathered) {
            const bool plane = d.dataOrder == VEX_DATA_ORDER_PLANE;
            rawStep_ = ownRowStep(g_.len, d.depth, plane ? 1 : d.nChannels, VEX_DATA_ORDER_PIXEL, 8);
            rawRows_ = rawStep_ * kBand <= kBandBytes ? kBand : 1;
            if (rawRows_ > 1 || d.depth == VEX_DEPTH_1U || (!plane && g_.lanes != d.nChannels)) {
                raw_ = rawBlock_.alloc<char>(rawStep_ * rawRows_);
                if (!raw_) return false;
            }
        }
        for (int i = 0; i < k_; ++i) tags_[i] = INT64_MIN;
        return true;
    }
    // Window row i (image row y0 + i), valid until k further distinct rows
    // were asked for.
    const T* get(int64_t i) {
        const int slot = slotOf(i);
        if (tags_[slot] != i) {
            ptrs_[slot] = fetch(g_.y0 + i, buf_ + samples() * slot);
            tags_[slot] = i;
        }
        return ptrs_[slot];
    }
    // Window row i for reading in stretches of at most `reach` samples,
    // valid until the next row is asked for: a rolling source's row of
    // several interleaved channels where it lies in the held tiles (see
    // OwnTileRows::view), any other row as get(i) gives it, in one piece.
    // One channel keeps the copy (blur 5x5 of 4096x4096 8U in 256x256
    // tiles, both tiled: 1 channel 6.0-6.4 ms viewed against 5.6-5.8
    // copied; 2 channels 10.0 against 11.1, 3 channels 14.2-15.0 against
    // 16.8-18.3, 4 channels 17.0-17.3 against 20.6).
    OwnRowView view(int64_t i, int64_t reach) {
        const VexImage& d = s_.data;
        if (s_.rolling && g_.lanes > 1 && d.dataOrder != VEX_DATA_ORDER_PLANE && g_.lanes == d.nChannels &&
            g_.ch == 0) {
            const int slot = slotOf(i);
            char* to = raw_ + rawStep_ * slot;
            tags_[slot] = INT64_MIN;  // the slot may be overwritten
            OwnRowView v;
            if (tiles_.view(g_.y0 + i, reach * int64_t(sizeof(T)), to, &v)) return v;
        }
        one_ = OwnRowRegion{reinterpret_cast<const char*>(get(i)), 0, samples() * int64_t(sizeof(T)), 0};
        return OwnRowView{&one_, 1};
    }

 private:
    static constexpr int kBand = 16, kBandBytes = 8192;
    // The slot of window row i (rows before the first count back from k_).
    int slotOf(int64_t i) const { return static_cast<int>(((i % k_) + k_) % k_); }
    const T* fetch(int64_t yy, T* buf);
    const OwnFilterSrc& s_;
    OwnRowGeom g_;
    int k_ = 0;
    T* buf_ = nullptr;
    char* raw_ = nullptr;   // gathered rows [rawY_, rawY_ + rawRows_), rawStep_ bytes apart
    int64_t rawY_ = INT64_MIN, rawStep_ = 0;
    int rawRows_ = 1;
    int64_t* tags_ = nullptr;
    const T** ptrs_ = nullptr;
    OwnBlock bufBlock_, rawBlock_, tagBlock_, ptrBlock_;
    OwnTileRows tiles_;  // a rolling source's rows
    OwnRowRegion one_{};  // a row viewed in one piece
};

// The rows of `whole` whose window reaches past the image's left or right
// edge (so that OwnRows would copy every row with its synthesised samples),
// viewed as three regions: the columns [a, a + w) in place, and each margin
// from a bordered copy that runs on `reach` samples into the middle, so
// that every stretch of at most the reach lies whole in one region. Only
// the margins are copied, a few samples per row, and a sweep runs over the
// whole row at once instead of once per piece (blur 31x31 of 4096x4096 8U,
// 3 channels: the two margin pieces swept on their own cost 13 % of the
// call). Rows above or below the image come through the middle strip's
// bordered copy.
template <class T>
class OwnSplitRows {
 public:
    OwnSplitRows(const OwnRows<T>& whole, int a, int w, int64_t reach)
        : q_(static_cast<int>((reach + whole.lanes() - 1) / whole.lanes())),
          fits_(a >= 0 && w >= q_ && int64_t(a) + w <= whole.len()),
          left_(whole, 0, fits_ ? a + q_ : 0),
          mid_(whole, a, fits_ ? w : 0),
          right_(whole, int64_t(a) + w - q_, fits_ ? whole.len() - (a + w - q_) : 0) {
        const int64_t px = int64_t(whole.lanes()) * int64_t(sizeof(T));
        r_[0] = OwnRowRegion{nullptr, 0, (int64_t(a) + q_) * px};
        r_[1] = OwnRowRegion{nullptr, int64_t(a) * px, (int64_t(a) + w) * px};
        r_[2] = OwnRowRegion{nullptr, (int64_t(a) + w - q_) * px, int64_t(whole.len()) * px};
    }
    // False when the middle is narrower than the reach (then the caller
    // reads the rows otherwise).
    bool fits() const { return fits_; }
    int lanes() const { return mid_.lanes(); }
    bool reserve() { return left_.reserve(1) && mid_.reserve(1) && right_.reserve(1); }
    // Window row i, valid until the next row is asked for.
    OwnRowView view(int64_t i, int64_t) {
        r_[0].at = reinterpret_cast<const char*>(left_.get(i));
        r_[1].at = reinterpret_cast<const char*>(mid_.get(i));
        r_[2].at = reinterpret_cast<const char*>(right_.get(i));
        return OwnRowView{r_, 3};
    }

 private:
    int q_;  // pixels each margin's copy runs on into the middle
    bool fits_;
    OwnRows<T> left_, mid_, right_;
    OwnRowRegion r_[3];
};

template <class T>
const T* OwnRows<T>::fetch(int64_t yy, T* buf) {
    const VexImage* im = s_.image;
    const VexImage& d = s_.data;
    const bool bits = d.depth == VEX_DEPTH_1U;
    const bool plane = d.dataOrder == VEX_DATA_ORDER_PLANE;
    const int L = g_.lanes;
    const int pix = plane ? 1 : d.nChannels;  // elements between pixels
    const int chOff = plane ? 0 : g_.ch;      // element of lane 0 within a pixel
    const char* row;
    int64_t c0;  // column of the row's first sample in `row`
    if (s_.rolling) {
        const int64_t i = yy - g_.y0;
        char* to = raw_ + rawStep_ * slotOf(i);
        if (!tiles_.row(yy, to)) {
            s_.failed = true;  // reported; the engine stops after this pass
            std::fill(buf, buf + samples(), T(0));
            return buf;
        }
        row = to;
        c0 = 0;
        if (!bits && (L == pix || pix == 1)) return reinterpret_cast<const T*>(row) + chOff;
    } else if (s_.gathered || (yy >= 0 && yy < im->height && g_.x0 >= 0 && g_.x0 + g_.len <= im->width)) {
        row = d.imageData + (yy - s_.y) * s_.step + (plane ? s_.planeSize * g_.ch : 0);
        c0 = g_.x0 - s_.x;
        if (!bits && (L == pix || pix == 1)) return reinterpret_cast<const T*>(row) + c0 * pix + chOff;
    } else {
        // A row beyond the image, or reaching beyond its left or right
        // edge: gathered with its border samples, straight into the row
        // slot when the slot has the image's layout and the row is long,
        // else with the rows after it into `raw_` (a plane of a plane-order
        // image is gathered as an image of its own).
        if (!raw_ || yy < rawY_ || yy >= rawY_ + rawRows_) {
            VexImage view = d;
            if (plane) {
                view.imageData += s_.planeSize * g_.ch;
                view.nChannels = 1;
            }
            const int n = static_cast<int>(std::min<int64_t>(rawRows_, int64_t(INT32_MAX) - yy + 1));
            char* to = raw_ ? raw_ : reinterpret_cast<char*>(buf);
            rawY_ = INT64_MIN;
            if (!ownGatherRect(*s_.site, &view, static_cast<int>(g_.x0), static_cast<int>(yy), g_.len, n, to, 0,
                               rawStep_, 0)) {
                s_.failed = true;  // the engine stops after this pass
                std::fill(buf, buf + samples(), T(0));
                return buf;
            }
            if (!raw_) return buf;
            rawY_ = yy;
        }
        row = raw_ + (yy - rawY_) * rawStep_;
        c0 = 0;
        if (!bits && (L == pix || pix == 1)) {
            std::copy_n(reinterpret_cast<const T*>(row) + chOff, samples(), buf);
            return buf;
        }
    }
    if (bits) {
        const auto* p = reinterpret_cast<const uint8_t*>(row);
        for (int64_t x = 0; x < g_.len; ++x)
            for (int l = 0; l < L; ++l) {
                const int64_t bit = (c0 + x) * pix + chOff + l;
                buf[x * L + l] = T((p[bit >> 3] >> (7 - (bit & 7))) & 1);
            }
    } else if (L == 1) {
        const T* p = reinterpret_cast<const T*>(row) + c0 * pix + chOff;
        for (int64_t x = 0; x < g_.len; ++x) buf[x] = p[x * pix];
    } else {
        const T* p = reinterpret_cast<const T*>(row) + c0 * pix + chOff;
        for (int64_t x = 0; x < g_.len; ++x)
            for (int l = 0; l < L; ++l) buf[x * L + l] = p[x * pix + l];
    }
    return buf;
}

// Output rows of one pass into the destination region.
// Output rows that lie in one row of destination tiles held for writing
// (all channels of a pixel-order image, or its one channel; not 1-bit):
// sample v of a row (v counted from the region's left edge) lies in tile
// (v + skip) / frag of `tiles`, at sample (v + skip) % frag of that tile's
// row y0 + r.
struct OwnOutTiles {
    char** tiles;   // the held tiles, left to right
    int64_t frag;   // samples of a tile row
    int64_t skip;   // samples of the first tile left of the region
    int64_t tstep;  // bytes between tile rows
    int64_t y0;     // tile row of output row 0
};

template <class D>
class OwnOut {
 public:
    OwnOut(VexImage* dst, int width, int rows, int lanes, int ch, const OwnOutTiles* tiles = nullptr)
        : w_(width), h_(rows), lanes_(lanes), tiles_(tiles) {
        OwnRegion r;
        ownGetRegion(dst, &r);
        bits_ = dst->depth == VEX_DEPTH_1U;
        step_ = r.step;
        plane_ = r.plane;
        const int c0 = r.coi > 0 ? r.coi - 1 : 0;
        pix_ = plane_ ? 1 : r.nChannels;
        if (bits_) {
            first_ = r.first;
            bit0_ = r.bitOffset + (plane_ ? 0 : (ch - c0));
        } else {
            first_ = r.first + (plane_ ? r.planeSize * (ch - c0) : int64_t(ch - c0) * int64_t(sizeof(D)));
        }
        direct_ = !tiles_ && !bits_ && (lanes_ == pix_ || pix_ == 1);
    }
    bool init() { return direct_ || (buf_ = block_.alloc<D>(int64_t(w_) * lanes_)) != nullptr; }
    int width() const { return w_; }
    int rows() const { return h_; }
    // Rows go straight into the destination: any part of a row may be
    // written at any time, and commit() does nothing.
    bool direct() const { return direct_; }
    // Rows go into held destination tiles: a body that writes parts of rows
    // puts them there through at() or put(); row() and commit() take whole
    // rows through a buffer.
    bool fragmented() const { return tiles_ != nullptr; }
    // Samples of a tile row (fragmented).
    int64_t fragment() const { return tiles_->frag; }
    // Sample v of output row r in its tile; `end` receives the first sample
    // (of the row) past that tile (fragmented).
    D* at(int r, int64_t v, int64_t* end) const {
        const int64_t u = v + tiles_->skip, k = u / tiles_->frag;
        *end = (k + 1) * tiles_->frag - tiles_->skip;
        return reinterpret_cast<D*>(tiles_->tiles[k] + (tiles_->y0 + r) * tiles_->tstep) + (u - k * tiles_->frag);
    }
    // n samples from s as samples v, v + 1, ... of output row r (fragmented).
    void put(int r, int64_t v, const D* s, int64_t n) const {
        while (n > 0) {
            int64_t end;
            D* d = at(r, v, &end);
            const int64_t k = std::min(n, end - v);
            std::memcpy(d, s, size_t(k) * sizeof(D));
            v += k, s += k, n -= k;
        }
    }
    // Buffer for output row r: width * lanes samples.
    D* row(int r) { return direct_ ? reinterpret_cast<D*>(first_ + step_ * r) : buf_; }
    void commit(int r) {
        if (direct_) return;
        if (tiles_) {
            put(r, 0, buf_, int64_t(w_) * lanes_);
            return;
        }
        char* row = first_ + step_ * r;
        if (bits_) {
            auto* p = reinterpret_cast<uint8_t*>(row);
            for (int64_t x = 0; x < int64_t(w_) * lanes_; ++x) {
                const int64_t px = x / lanes_, l = x % lanes_;
                const int64_t bit = bit0_ + px * pix_ + l;
                const uint8_t m = uint8_t(0x80u >> (bit & 7));
                if (buf_[x]) p[bit >> 3] |= m;
                else p[bit >> 3] &= uint8_t(~m);
            }
            return;
        }
        D* p = reinterpret_cast<D*>(row);
        for (int x = 0; x < w_; ++x)
            for (int l = 0; l < lanes_; ++l) p[int64_t(x) * pix_ + l] = buf_[int64_t(x) * lanes_ + l];
    }

 private:
    int w_, h_, lanes_;
    const OwnOutTiles* tiles_;
    bool bits_ = false, plane_ = false, direct_ = false;
    char* first_ = nullptr;
    int64_t step_ = 0, bit0_ = 0;
    int pix_ = 1;
    D* buf_ = nullptr;
    OwnBlock block_;
};

// Runs a body over output columns [x0, x0 + w), writing from column x0 of
// each output row. On a destination that takes parts of rows the columns
// go in three pieces: the outputs whose nCols window columns (the first at
// x - ax) all lie inside the source region, whose rows are then read in
// place rather than copied with synthesised margins, and those left and
// right of them. Outputs do not depend on the pieces. A fragmented
// destination takes parts of rows too: the pieces then write through at()
// and put().
//
// Each piece has a State of its own: prepare(state, rows, x0, w) readies it
// (false when it failed, reported), then run(state, rows, x0, w, r0, r1)
// writes output rows [r0, r1). The pieces take turns by bands of `band`
// output rows (a multiple of any number of rows a body works at once), so
// that the narrow side pieces find the lines of their rows, source and
// destination, still cached from the middle piece instead of fetching them
// again one line a row in a sweep of their own (4096x4096 8U, 3x3 median:
// the side pieces took 15 % of the call after a whole middle piece).
template <class State, class T, class D, class Prepare, class Run>
bool ownFilterBands(OwnRows<T>& in, const OwnOut<D>& out, int nCols, int64_t ax, int band, Prepare&& prepare,
                    Run&& run) {
    const int W = out.width(), H = out.rows(), inner = W - nCols + 1;
    if (!(out.direct() || out.fragmented()) || inner <= 0 || ax >= W || in.inPlace()) {
        State state;
        return prepare(state, in, 0, W) && run(state, in, 0, W, 0, H);
    }
    const int left = static_cast<int>(ax), right = std::min(W, left + inner);
    const int cuts[3][2] = {{left, right}, {0, left}, {right, W}};
    std::optional<OwnRows<T>> parts[3];
    State states[3];
    for (int i = 0; i < 3; ++i) {
        if (cuts[i][1] <= cuts[i][0]) continue;
        parts[i].emplace(in, cuts[i][0], cuts[i][1] - cuts[i][0] + nCols - 1);
        if (!prepare(states[i], *parts[i], cuts[i][0], cuts[i][1] - cuts[i][0])) return false;
    }
    for (int r0 = 0; r0 < H; r0 += band)
        for (int i = 0; i < 3; ++i)
            if (parts[i] && !run(states[i], *parts[i], cuts[i][0], cuts[i][1] - cuts[i][0], r0,
                                 static_cast<int>(std::min<int64_t>(int64_t(r0) + band, H))))
                return false;
    return true;
}
// One piece after the other, each over all rows: piece(rows, x0, w).
template <class T, class D, class Piece>
bool ownFilterPieces(OwnRows<T>& in, const OwnOut<D>& out, int nCols, int64_t ax, Piece&& piece) {
    struct None {};
    return ownFilterBands<None>(
        in, out, nCols, ax, std::max(1, out.rows()), [](None&, OwnRows<T>&, int, int) { return true; },
        [&](None&, OwnRows<T>& part, int x0, int w, int, int) { return piece(part, x0, w); });
}

// The window: output pixel (x, y) reads columns x + dx0 .. x + dx0 + spanX - 1
// and rows y + dy0 .. y + dy0 + spanY - 1.
struct OwnWindow {
    int64_t dx0, dy0, spanX, spanY;
};
// Working channels: channel k (0-based) of n reads source channel src0 + k
// and writes destination channel dst0 + k.
struct OwnChannels {
    int n, src0, dst0;
};

// The walk over all tiles of a tiled destination (not written in place)
// by full-width bands: whole tile rows of the destination, together at
// least `bandRows` high, are filtered into one untiled band buffer, reused
// for every band, which is then copied into the band's tiles, each
// requested for writing once and released before the next, in the order of
// ownForTiles. The body thus sees rows as long as the region instead of a
// tile's width. A tiled source (`bands`) is gathered once per band, into
// the same block as the band buffer (`sourceBytes(rows)` bytes for a band
// of that many rows); else the rows come from `whole`. False when the band
// walk does not apply (one tile column, a block above kFilterBandMax, or
// the channels written being some but not all of several), the caller then
// walking tile by tile; true when it ran, failures included (reported).
//
// With `held` (a body that writes parts of rows through OwnOut::at and
// put, all channels of a pixel-order image or its one channel, not
// 1-bit), when every band is one tile row, there is no band buffer: the
// band's row of tiles is requested for writing (left to right) before the
// body runs, the body writes its rows straight into them, and they are
// released in reverse order. The writes into the destination then go on
// while the body computes, as they do into an untiled image, instead of in
// a copy of their own after it.
constexpr int64_t kFilterBandMax = int64_t(16) << 20;
template <class Bytes, class Prepare, class Piece>
bool ownFilterTileRows(const OwnSite& site, VexImage* dst, const OwnTileRange& t, const OwnChannels& ch,
                       bool bands, int bandRows, bool held, const OwnFilterSrc& whole, Bytes&& sourceBytes,
                       Prepare&& prepare, Piece&& piece) {
    // The channels the body writes, as the copy's channel of interest.
    const int coi = ch.n == dst->nChannels ? 0 : ch.n == 1 ? ch.dst0 + 1 : -1;
    if (t.txCount < 2 || coi < 0) return false;
    // Held tiles: each tile row a band of its own, when tiles are as high
    // as a band must be (a first tile row cut by the region may be lower).
    held = held && dst->tileInfo->height >= bandRows && dst->depth != VEX_DEPTH_1U &&
           (dst->nChannels == 1 || (coi == 0 && dst->dataOrder == VEX_DATA_ORDER_PIXEL));
    // The band starting at tile row i ends before tile row end(i).
    auto end = [&](int i) {
        if (held) return i + 1;
        int rows = 0;
        while (i < t.tyCount && rows < bandRows) rows += ownTilePiece(t, 0, i++).h;
        return i;
    };
    int most = 0;  // rows of the highest band
    for (int i = 0; i < t.tyCount; i = end(i)) {
        const OwnTilePiece last = ownTilePiece(t, 0, end(i) - 1);
        most = std::max(most, last.ry + last.h - ownTilePiece(t, 0, i).ry);
    }
    const int W = t.cols;
    const int64_t outBytes =
        held ? 0 : (ownDataSize(most, W, dst->depth, dst->nChannels, dst->dataOrder, dst->align) + 63) & ~63;
    const int64_t inBytes = bands ? sourceBytes(most) : 0;
    if (inBytes < 0 || outBytes + inBytes > kFilterBandMax) return false;
    OwnBlock block, heldBlock;
    char* data = block.alloc<char>(std::max<int64_t>(outBytes + inBytes, 64));
    char** tiles = held ? heldBlock.alloc<char*>(t.txCount) : nullptr;
    if (!data || (held && !tiles)) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return true;
    }
    if (dst->depth == VEX_DEPTH_1U) std::memset(data, 0, static_cast<size_t>(outBytes));
    VexImage band = ownRectHeader(dst, data, W, most);
    const int64_t pix = dst->dataOrder == VEX_DATA_ORDER_PIXEL ? dst->nChannels : 1;
    OwnOutTiles out{tiles, int64_t(dst->tileInfo->width) * pix, 0, ownTileHeader(dst).widthStep, 0};
    // What the call writes: from kStreamBytes on, the band goes into its
    // tiles past the cache.
    const int64_t callBytes = int64_t(W) * t.rows * (coi ? 1 : dst->nChannels) * ownElemSize(dst->depth);
    OwnFilterSrc banded;
    for (int i = 0; i < t.tyCount;) {
        const int k = end(i), b0 = ownTilePiece(t, 0, i).ry;
        const OwnTilePiece last = ownTilePiece(t, 0, k - 1);
        const int b1 = last.ry + last.h;
        if (bands && !prepare(&banded, b0, b1, true, data + outBytes)) return true;
        VexROI rows{coi, 0, 0, b1 - b0, W};
        band.roi = &rows;
        if (held) {
            const OwnTilePiece first = ownTilePiece(t, 0, i);
            if (!ownGetTileRow(site, dst, first.tx, first.tx + t.txCount - 1, first.ty, tiles, nullptr,
                               VEX_TILE_GET_WRITE))
                return true;
            out.skip = int64_t(first.x) * pix;
            out.y0 = first.y;
            const bool ok = piece(bands ? banded : whole, &band, 0, b0, W, b1 - b0, &out);
            ownStoreFence();
            ownReleaseTileRow(dst, first.tx, first.tx + t.txCount - 1, first.ty, tiles);
            if (!ok) return true;
            i = k;
            continue;
        }
        if (!piece(bands ? banded : whole, &band, 0, b0, W, b1 - b0, nullptr)) return true;
        for (; i < k; ++i)
            for (int j = 0; j < t.txCount; ++j) {
                const OwnTilePiece p = ownTilePiece(t, j, i);
                VexROI from{coi, p.rx, p.ry - b0, p.h, p.w};
                band.roi = &from;
                const bool ok = ownOnTile(site, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, coi, [&](VexImage& view) {
                    OwnRegion a, b;
                    ownGetRegion(&band, &a);
                    ownGetRegion(&view, &b);
                    ownCopyRegion(a, b, p.h, p.w, dst->depth, callBytes);
                    return true;
                });
                if (!ok) return true;
            }
    }
    return true;
}

// Runs `body(OwnRows<T>&, OwnOut<D>&)` over the paired regions (or the one
// destination tile `tile` names). The body reports its own failures and
// returns false to stop.
//
// With `parts` the body writes parts of rows through OwnOut::at and put
// when the out is fragmented (see ownFilterTileRows); other bodies get
// whole rows only.
template <class T, class D, class Body>
void ownFilterRun(const OwnSite& site, VexImage* src, VexImage* dst, const OwnWindow& win,
                  const OwnChannels& ch, const int* tile, Body&& body, bool parts = false) {
    int sx, sy, sw, sh, dx, dy, dw, dh;
    ownClipRegion(src, &sx, &sy, &sw, &sh);
    ownClipRegion(dst, &dx, &dy, &dw, &dh);
    const int W = std::min(sw, dw), H = std::min(sh, dh);
    if (W <= 0 || H <= 0 || ch.n <= 0) return;
    // Rows and columns the windows reach must be 32-bit coordinates.
    if (win.spanX < 1 || win.spanY < 1 || int64_t(W) + win.spanX > INT32_MAX / 8 ||
        int64_t(sx) + win.dx0 + W + win.spanX > INT32_MAX || int64_t(sy) + win.dy0 + H + win.spanY > INT32_MAX ||
        int64_t(sx) + win.dx0 < -INT32_MAX || int64_t(sy) + win.dy0 < -INT32_MAX) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return;
    }
    const bool together = ch.n > 1 && src->depth != VEX_DEPTH_1U && dst->depth != VEX_DEPTH_1U &&
                          src->dataOrder == VEX_DATA_ORDER_PIXEL &&
                          dst->dataOrder == VEX_DATA_ORDER_PIXEL && ch.n == src->nChannels &&
                          ch.n == dst->nChannels;
    // Output rows [r0, r1) of the region read source rows from here.
    auto prepare = [&](OwnFilterSrc* s, int r0, int r1, bool gather, char* into = nullptr) {
        return ownFilterSource(site, src, sx + win.dx0, sy + win.dy0 + r0, sx + win.dx0 + W - 1 + win.spanX,
                               sy + win.dy0 + r1 - 1 + win.spanY, gather, s, into);
    };
    auto piece = [&](const OwnFilterSrc& s, VexImage* d, int ox, int oy, int pw, int ph,
                     const OwnOutTiles* tiles = nullptr) -> bool {
        const int passes = together ? 1 : ch.n;
        for (int k = 0; k < passes; ++k) {
            OwnRowGeom g{sx + ox + win.dx0, sy + oy + win.dy0, static_cast<int>(pw + win.spanX - 1),
                         together ? ch.n : 1, ch.src0 + k, ph - 1 + win.spanY};
            OwnRows<T> in(s, g);
            OwnOut<D> out(d, pw, ph, g.lanes, ch.dst0 + k, tiles);
            if (!out.init()) {
                vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
                return false;
            }
            if (!body(in, out) || s.failed) return false;
        }
        return true;
    };
    // A tiled source (not written in place) is gathered band by band: a
    // band of output rows at least a source tile and a window high, with
    // the rows its windows reach, in a buffer of the band's size that stays
    // in the cache while the band is filtered. A source tile is requested
    // by at most three bands (each band is at least one tile high and the
    // window reaches less than a band beyond it).
    const bool bands = src->tileInfo && src != dst;
    const int bandRows =
        bands ? static_cast<int>(std::max<int64_t>({int64_t(src->tileInfo->height), win.spanY, 128})) : H;
    OwnFilterSrc whole;
    if (!bands && !prepare(&whole, 0, H, src->tileInfo || src == dst)) return;
    if (!dst->tileInfo) {
        if (!bands) {
            piece(whole, dst, 0, 0, W, H);
            return;
        }
        const int coi = ownCoi(dst);
        for (int r0 = 0; r0 < H; r0 += bandRows) {
            const int r1 = static_cast<int>(std::min<int64_t>(H, int64_t(r0) + bandRows));
            OwnFilterSrc s;
            if (!prepare(&s, r0, r1, true)) return;
            VexImage band = *dst;
            VexROI roi{coi, dx, dy + r0, r1 - r0, W};
            band.roi = &roi;
            if (!piece(s, &band, 0, r0, W, r1 - r0)) return;
        }
        return;
    }
    OwnTileRange t;
    if (!ownPairTileRange(src, dst, &t)) return;
    // Bands of a tile row or more: as a tiled source's bands, else at least
    // a window and 128 rows high.
    const int tileRows = bands ? bandRows : static_cast<int>(std::max<int64_t>(win.spanY, 128));
    auto sourceBytes = [&](int rows) { return ownFilterSourceBytes(src, W - 1 + win.spanX, rows - 1 + win.spanY); };
    // The band walk reads a tiled source a tile row at a time (OwnTileRows)
    // while the body runs, instead of a whole band of source rows gathered
    // before it.
    OwnFilterSrc rolling;
    if (bands && src->depth != VEX_DEPTH_1U && (src->dataOrder == VEX_DATA_ORDER_PIXEL || src->nChannels == 1)) {
        ownFilterSource(site, src, 0, 0, 0, 0, false, &rolling);
        rolling.rolling = true;
    }
    // Rows written straight into the held tiles take the samples of a pixel
    // in one pass (or the image's one channel).
    const bool held = parts && (together || dst->nChannels == 1);
    if (!tile && src != dst &&
        ownFilterTileRows(site, dst, t, ch, bands && !rolling.rolling, tileRows, held,
                          rolling.rolling ? rolling : whole, sourceBytes, prepare, piece))
        return;
    OwnFilterSrc banded;
    int b0 = 0, b1 = 0;  // output rows the band in `banded` serves
    ownForTiles(t, tile, [&](int j, int i) {
        const OwnTilePiece p = ownTilePiece(t, j, i);
        if (bands && (p.ry < b0 || p.ry + p.h > b1)) {
            b0 = p.ry;
            b1 = p.ry + p.h;
            while (b1 - b0 < bandRows && b1 < H) b1 += t.tileH;
            b1 = std::min(b1, H);
            if (!prepare(&banded, b0, b1, true)) return false;
        }
        const OwnFilterSrc& s = bands ? banded : whole;
        return ownOnTile(site, dst, p, VEX_TILE_GET_WRITE, kErrTileWrite, ownCoi(dst),
                         [&](VexImage& view) { return piece(s, &view, p.rx, p.ry, p.w, p.h); });
    });
}

}  // namespace vex
