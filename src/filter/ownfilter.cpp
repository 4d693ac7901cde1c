// The filter engine's source preparation: the image itself, or the
// rectangle the windows reach gathered out of a tiled or in-place source,
// or the rows of a tiled source read a tile row at a time.
#include "filter/ownfilter.h"

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

bool OwnTileRows::inside(int64_t yy, char* to) {
    const int64_t ty = yy / th_;
    if (sideStep_ && !side_ && !sides()) return false;
    if (nt_ && ty != heldTy_) {
        release();
        if (!ownGetTileRow(*site_, im_, tx0_, tx0_ + nt_ - 1, static_cast<int>(ty), held_)) return false;
        heldTy_ = static_cast<int>(ty);
    }
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
        // In 32-byte steps the copies of the row's pieces overlap one
        // another, where a library call per piece waits on its own loads.
        char* d = to + (a - x0_) * px_;
        int64_t q = 0;
        for (; q + 32 <= bytes; q += 32) std::memcpy(d + q, from + q, 32);
        if (q < bytes) std::memcpy(d + q, from + q, static_cast<size_t>(bytes - q));
        if (ahead)
            for (int64_t off = 0; off < bytes; off += 64) __builtin_prefetch(from + kPrefetchRows * tstep_ + off);
    }
    return true;
}

}  // namespace vex
