// The filter engine's source preparation: the image itself, or the
// rectangle the windows reach gathered out of a tiled or in-place source,
// or the rows of a tiled source read a tile row at a time.
#include "filter/ownfilter.h"
#include "image/ownstream.h"

namespace vex {

const char kFilterNoMem[] = "Allocation failure";

int64_t ownFilterSourceBytes(const VexImage* image, int64_t w, int64_t h) {
    return w <= INT32_MAX && h <= INT32_MAX ? ownDataSize(static_cast<int>(h), static_cast<int>(w), image->depth,
                                                           image->nChannels, image->dataOrder, image->align)
                                            : -1;
}

bool ownFilterSource(const OwnSite& site, const VexImage* image, int64_t x0, int64_t y0,
                     int64_t x1, int64_t y1, bool gather, OwnFilterSrc* s, char* into) {
    s->site = &site;
    s->image = image;
    if (!gather) {
        s->data = *image;
        s->step = ownImageStep(image);
        s->planeSize = s->step * image->height;
        return true;
    }
    // The rectangle in the image's layout, its border samples synthesised by
    // the gatherer, which asks a tiled image only for the tiles it reads.
    const int64_t w = x1 - x0, h = y1 - y0;
    const int64_t size = ownFilterSourceBytes(image, w, h);
    char* data = into ? into : s->pixels.alloc<char>(size);
    if (!data) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return false;
    }
    if (image->depth == VEX_DEPTH_1U) std::memset(data, 0, static_cast<size_t>(size));
    s->data = ownRectHeader(image, data, static_cast<int>(w), static_cast<int>(h));
    s->gathered = true;
    s->x = x0;
    s->y = y0;
    s->step = ownImageStep(&s->data);
    s->planeSize = s->step * h;
    return ownGatherRect(site, image, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(w),
                         static_cast<int>(h), data, 0, s->step, s->planeSize);
}

namespace {
// Rows ahead of the one copied whose lines are prefetched.
constexpr int64_t kPrefetchRows = 3;
// Rows ahead of a viewed one whose lines its reader prefetches step by step
// (blur 5x5, 3 channels, 256-pixel tiles: 1 row 14.2-14.9 ms, 2 rows
// 14.2-15.1, 3 rows 14.4-15.1, 6 rows 14.6-15.5, none 17.4).
constexpr int64_t kViewAhead = 2;

// A short run of bytes in 32-byte steps (the last one overlapping the one
// before), so that the copies of several runs overlap one another, where a
// library call per run waits on its own loads.
inline void ownCopyRun(char* d, const char* s, int64_t bytes) {
    if (bytes < 32) {
        std::memcpy(d, s, static_cast<size_t>(bytes));
        return;
    }
    for (int64_t q = 0; q + 32 < bytes; q += 32) std::memcpy(d + q, s + q, 32);
    std::memcpy(d + bytes - 32, s + bytes - 32, 32);
}
}  // namespace

bool OwnTileRows::init(const OwnSite& site, const VexImage* image, int64_t x0, int len, int64_t y0,
                       int64_t rows) {
    release();
    site_ = &site;
    im_ = image;
    x0_ = x0, len_ = len, y0_ = y0, y1_ = y0 + rows;
    px_ = ownElemSize(image->depth) * image->nChannels;
    tw_ = image->tileInfo->width, th_ = image->tileInfo->height;
    tstep_ = ownRowStep(tw_, image->depth, image->nChannels, image->dataOrder, image->align);
    const int64_t W = image->width;
    ia_ = static_cast<int>(std::min(std::max<int64_t>(x0, 0), W));
    ib_ = static_cast<int>(std::min(std::max<int64_t>(x0 + len, 0), W));
    if (ib_ <= ia_) {  // no column inside: the whole row is a side
        left_ = len, right_ = 0;
        nt_ = 0;
    } else {
        left_ = static_cast<int>(ia_ - x0), right_ = static_cast<int>(x0 + len - ib_);
        tx0_ = ia_ / tw_;
        nt_ = (ib_ - 1) / tw_ - tx0_ + 1;
    }
    sideStep_ = (left_ + right_) * px_;
    held_ = heldBlock_.alloc<char*>(nt_);
    side_ = above_ = below_ = nullptr;
    reach_ = -1;
    heldTy_ = -1;
    failed_ = false;
    if (!held_) vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
    return held_ != nullptr;
}

void OwnTileRows::release() {
    if (heldTy_ >= 0) ownReleaseTileRow(im_, tx0_, tx0_ + nt_ - 1, heldTy_, held_);
    heldTy_ = -1;
}

// The side columns of all rows inside the image, gathered at once.
bool OwnTileRows::sides() {
    release();  // they may come from tiles held
    const int64_t r0 = std::max<int64_t>(y0_, 0), n = std::min<int64_t>(y1_, im_->height) - r0;
    side_ = sideBlock_.alloc<char>(sideStep_ * n);
    if (!side_) {
        vexError(VEX_StsNoMem, site_->func, kFilterNoMem, site_->file, __LINE__);
        return false;
    }
    const int y = static_cast<int>(r0), h = static_cast<int>(n);
    if ((left_ && !ownGatherRect(*site_, im_, static_cast<int>(x0_), y, left_, h, side_, 0, sideStep_, 0)) ||
        (right_ && !ownGatherRect(*site_, im_, ib_, y, right_, h, side_ + left_ * px_, 0, sideStep_, 0))) {
        side_ = nullptr;
        return false;
    }
    sideY_ = r0;
    return true;
}

// A row above or below the image: those on its side gathered at once.
bool OwnTileRows::outside(int64_t yy, char* to) {
    const bool top = yy < 0;
    const int64_t r0 = top ? y0_ : std::max<int64_t>(im_->height, y0_), r1 = top ? std::min<int64_t>(0, y1_) : y1_;
    const int64_t step = int64_t(len_) * px_;
    char*& rows = top ? above_ : below_;
    if (!rows) {
        release();
        char* data = (top ? aboveBlock_ : belowBlock_).alloc<char>(step * (r1 - r0));
        if (!data) {
            vexError(VEX_StsNoMem, site_->func, kFilterNoMem, site_->file, __LINE__);
            return false;
        }
        if (!ownGatherRect(*site_, im_, static_cast<int>(x0_), static_cast<int>(r0), len_, static_cast<int>(r1 - r0),
                           data, 0, step, 0))
            return false;
        rows = data;
    }
    std::memcpy(to, rows + (yy - r0) * step, static_cast<size_t>(step));
    return true;
}

bool OwnTileRows::row(int64_t yy, char* to) {
    if (failed_) return false;  // reported once
    bool ok;
    if (yy < y0_ || yy >= y1_) {  // not a row the reader was set up for: gathered alone
        release();
        ok = ownGatherRect(*site_, im_, static_cast<int>(x0_), static_cast<int>(yy), len_, 1, to, 0,
                           int64_t(len_) * px_, 0);
    } else {
        ok = yy < 0 || yy >= im_->height ? outside(yy, to) : inside(yy, to);
    }
    if (!ok) failed_ = true;
    return !failed_;
}

// Row yy inside the image: its side columns gathered and its tile row held.
bool OwnTileRows::enter(int64_t yy) {
    const int64_t ty = yy / th_;
    if (sideStep_ && !side_ && !sides()) return false;
    if (nt_ && ty != heldTy_) {
        release();
        if (!ownGetTileRow(*site_, im_, tx0_, tx0_ + nt_ - 1, static_cast<int>(ty), held_)) return false;
        heldTy_ = static_cast<int>(ty);
    }
    return true;
}

bool OwnTileRows::inside(int64_t yy, char* to) {
    if (!enter(yy)) return false;
    const int64_t ty = yy / th_;
    if (sideStep_) {
        const char* s = side_ + (yy - sideY_) * sideStep_;
        if (left_) std::memcpy(to, s, static_cast<size_t>(left_ * px_));
        if (right_) std::memcpy(to + (ib_ - x0_) * px_, s + left_ * px_, static_cast<size_t>(right_ * px_));
    }
    const int64_t ly = yy - ty * th_;
    const bool ahead = ly + kPrefetchRows < th_ && yy + kPrefetchRows < im_->height;
    for (int k = 0; k < nt_; ++k) {
        const int64_t tx = tx0_ + k, a = std::max<int64_t>(ia_, tx * tw_), b = std::min<int64_t>(ib_, (tx + 1) * tw_);
        const char* from = held_[k] + ly * tstep_ + (a - tx * tw_) * px_;
        const int64_t bytes = (b - a) * px_;
        ownCopyRun(to + (a - x0_) * px_, from, bytes);
        if (ahead)
            ownPrefetchRow(from + kPrefetchRows * tstep_, bytes);
    }
    return true;
}

// The pieces of a row inside the image, the seams around their joins (the
// reach on either side, joined where they meet), and the regions a view
// hands out: the seams and every piece not wholly inside one. A stretch of
// at most the reach that crosses a join lies in that join's seam, any
// other in one piece; with the regions sorted by their starts, their ends
// rise too (a piece left out of the seams is at least two reaches long).
bool OwnTileRows::layout(int64_t reach) {
    const int64_t n = int64_t(len_) * px_;
    const int np = (left_ ? 1 : 0) + nt_ + (right_ ? 1 : 0);
    // Pieces, regions and their pieces, seam fragments, piece pointers, seam bounds.
    const int64_t bytes = int64_t(np) * (sizeof(Piece) + 2 * (sizeof(OwnRowRegion) + sizeof(int)) + 2 * sizeof(Frag) +
                                         sizeof(char*) + 2 * sizeof(int64_t)) + 8 * 64;
    char* at = layoutBlock_.alloc<char>(bytes);
    if (!at) {
        vexError(VEX_StsNoMem, site_->func, kFilterNoMem, site_->file, __LINE__);
        return false;
    }
    auto take = [&at](int64_t size) {
        char* p = at;
        at += (size + 63) & ~int64_t(63);
        return p;
    };
    pieces_ = reinterpret_cast<Piece*>(take(np * int64_t(sizeof(Piece))));
    regions_ = reinterpret_cast<OwnRowRegion*>(take(2 * np * int64_t(sizeof(OwnRowRegion))));
    regionPiece_ = reinterpret_cast<int*>(take(2 * np * int64_t(sizeof(int))));
    frags_ = reinterpret_cast<Frag*>(take(2 * np * int64_t(sizeof(Frag))));
    piecePtr_ = reinterpret_cast<const char**>(take(np * int64_t(sizeof(char*))));
    int64_t* zb = reinterpret_cast<int64_t*>(take(np * int64_t(sizeof(int64_t))));
    int64_t* ze = reinterpret_cast<int64_t*>(take(np * int64_t(sizeof(int64_t))));
    nPieces_ = 0;
    if (left_) pieces_[nPieces_++] = Piece{0, left_ * px_, 0, -1};
    for (int k = 0; k < nt_; ++k) {
        const int64_t tx = tx0_ + k, a = std::max<int64_t>(ia_, tx * tw_), b = std::min<int64_t>(ib_, (tx + 1) * tw_);
        pieces_[nPieces_++] = Piece{(a - x0_) * px_, (b - x0_) * px_, (a - tx * tw_) * px_, k};
    }
    if (right_) pieces_[nPieces_++] = Piece{(ib_ - x0_) * px_, n, left_ * px_, nt_};
    // Seams: the joins' reaches, joined where they overlap.
    int nz = 0;
    for (int i = 1; i < nPieces_; ++i) {
        const int64_t c = pieces_[i].begin, z0 = std::max<int64_t>(0, c - reach), z1 = std::min(n, c + reach);
        if (nz && z0 < ze[nz - 1]) ze[nz - 1] = z1;
        else zb[nz] = z0, ze[nz++] = z1;
    }
    int64_t seamBytes = 0;
    for (int z = 0; z < nz; ++z) seamBytes += ze[z] - zb[z];
    seams_ = seamBlock_.alloc<char>(seamBytes);
    if (!seams_) {
        vexError(VEX_StsNoMem, site_->func, kFilterNoMem, site_->file, __LINE__);
        return false;
    }
    // Fragments of each seam, and the regions in order of their starts.
    nFrags_ = nRegions_ = 0;
    int i = 0, zi = 0;  // first piece not yet placed as a region; the first seam not ending before it
    int64_t to = 0;
    auto placePieces = [&](int64_t before) {  // the pieces starting before `before` not inside a seam
        for (; i < nPieces_ && pieces_[i].begin < before; ++i) {
            const Piece& p = pieces_[i];
            while (zi < nz && ze[zi] < p.end) ++zi;
            if (zi < nz && zb[zi] <= p.begin) continue;  // inside that seam
            regions_[nRegions_] = OwnRowRegion{nullptr, p.begin, p.end};
            regionPiece_[nRegions_++] = i;
        }
    };
    int first = 0;  // first piece that may overlap the seam
    for (int z = 0; z < nz; ++z) {
        placePieces(zb[z] + 1);
        regions_[nRegions_] = OwnRowRegion{seams_ + to, zb[z], ze[z]};
        regionPiece_[nRegions_++] = -1;
        while (pieces_[first].end <= zb[z]) ++first;
        for (int k = first; k < nPieces_ && pieces_[k].begin < ze[z]; ++k) {
            const int64_t a = std::max(zb[z], pieces_[k].begin), b = std::min(ze[z], pieces_[k].end);
            frags_[nFrags_++] = Frag{to + (a - zb[z]), a - pieces_[k].begin, b - a, k};
        }
        to += ze[z] - zb[z];
    }
    placePieces(n);
    reach_ = reach;
    return true;
}

bool OwnTileRows::view(int64_t yy, int64_t reach, char* to, OwnRowView* v) {
    if (failed_) return false;
    if (yy < y0_ || yy >= y1_ || yy < 0 || yy >= im_->height) {  // not in tiles: copied
        if (!row(yy, to)) return false;
        whole_ = OwnRowRegion{to, 0, int64_t(len_) * px_};
        v->r = &whole_;
        v->count = 1;
        return true;
    }
    if ((reach != reach_ && !layout(reach)) || !enter(yy)) {
        failed_ = true;
        return false;
    }
    const int64_t ty = yy / th_, ly = yy - ty * th_;
    const char* side = side_ ? side_ + (yy - sideY_) * sideStep_ : nullptr;
    const int64_t ahead = ly + kViewAhead < th_ && yy + kViewAhead < im_->height ? kViewAhead * tstep_ : 0;
    for (int i = 0; i < nPieces_; ++i) {
        const Piece& p = pieces_[i];
        piecePtr_[i] = p.tile < 0 || p.tile >= nt_ ? side + p.off : held_[p.tile] + ly * tstep_ + p.off;
    }
    for (int f = 0; f < nFrags_; ++f) {
        const Frag& g = frags_[f];
        const char* from = piecePtr_[g.piece] + g.from;
        ownCopyRun(seams_ + g.to, from, g.len);
        const int t = pieces_[g.piece].tile;
        if (ahead && t >= 0 && t < nt_)
            for (int64_t off = 0; off < g.len + 63; off += 64) __builtin_prefetch(from + ahead + std::min(off, g.len - 1));
    }
    for (int r = 0; r < nRegions_; ++r)
        if (regionPiece_[r] >= 0) {
            const int t = pieces_[regionPiece_[r]].tile;
            regions_[r].at = piecePtr_[regionPiece_[r]];
            regions_[r].ahead = t >= 0 && t < nt_ ? ahead : 0;
        }
    v->r = regions_;
    v->count = nRegions_;
    return true;
}

}  // namespace vex
