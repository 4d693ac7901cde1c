// Colour twist: a fixed-point affine transform of the first three channels
// of each pixel, with an offset and saturation to the depth's range.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/ownrect.h"

using namespace vex;

namespace {

const char kTwistFile[] = "vextwist";
const char kDstTile[] = "(dstImage->tileInfo->tileData == NULL)";
const char kSrcTile[] = "(srcImage->tileInfo->tileData == NULL)";

struct OwnTwist {
    double a[3][4];  // scaled coefficients
    int64_t offset;
    int64_t maxValue;
};

// An untiled buffer (image or tile) and where pixel (0, 0) of it lies.
struct OwnView {
    char* data;
    int64_t step, planeSize;
};

OwnView ownImageView(const VexImage* image, char* data, int width, int height, int x, int y) {
    const int64_t step = ownRowStep(width, image->depth, image->nChannels, image->dataOrder, image->align);
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    const int64_t px = int64_t(x) * ownElemSize(image->depth) * (plane ? 1 : image->nChannels);
    return OwnView{data + step * y + px, step, step * height};
}

template <class T>
void ownTwistRect(const VexImage* src, const OwnView& s, const VexImage* dst, const OwnView& d,
                  int rows, int cols, const OwnTwist& tw) {
    const bool plane = src->dataOrder == VEX_DATA_ORDER_PLANE;
    const int sInc = plane ? 1 : src->nChannels, dInc = plane ? 1 : dst->nChannels;
    const int64_t sComp = plane ? s.planeSize : int64_t(sizeof(T));
    const int64_t dComp = plane ? d.planeSize : int64_t(sizeof(T));
    const double M = double(tw.maxValue);
    for (int y = 0; y < rows; ++y) {
        const T* s0 = reinterpret_cast<const T*>(s.data + s.step * y);
        const T* s1 = reinterpret_cast<const T*>(s.data + s.step * y + sComp);
        const T* s2 = reinterpret_cast<const T*>(s.data + s.step * y + 2 * sComp);
        T* out[3];
        for (int r = 0; r < 3; ++r) out[r] = reinterpret_cast<T*>(d.data + d.step * y + r * dComp);
        for (int64_t i = 0; i < cols; ++i) {
            const double c0 = s0[i * sInc], c1 = s1[i * sInc], c2 = s2[i * sInc];
            T res[3];
            for (int r = 0; r < 3; ++r) {
                const double v = tw.a[r][0] * c0 + tw.a[r][1] * c1 + tw.a[r][2] * c2 + tw.a[r][3];
                const int64_t t = int64_t(std::min(M, std::max(0.0, v)));
                res[r] = T(std::min(tw.maxValue, std::max<int64_t>(0, t + tw.offset)));
            }
            for (int r = 0; r < 3; ++r) out[r][i * dInc] = res[r];
        }
    }
}

void ownTwistRun(const VexImage* src, const OwnView& s, const VexImage* dst, const OwnView& d,
                 int rows, int cols, const OwnTwist& tw) {
    if (src->depth == VEX_DEPTH_8U)
        ownTwistRect<uint8_t>(src, s, dst, d, rows, cols, tw);
    else
        ownTwistRect<uint16_t>(src, s, dst, d, rows, cols, tw);
}

// Runs the twist from the source rectangle (x, y, w, h) into the view `d`
// (its pixel (0, 0) matching (x, y)); a tiled source is read tile by tile.
bool ownTwistFrom(const OwnSite& site, const VexImage* src, int x, int y, int w, int h,
                  const VexImage* dst, const OwnView& d, const OwnTwist& tw) {
    if (!src->tileInfo) {
        ownTwistRun(src, ownImageView(src, src->imageData, src->width, src->height, x, y), dst, d, h,
                    w, tw);
        return true;
    }
    const int tw_ = src->tileInfo->width, th = src->tileInfo->height;
    const bool plane = dst->dataOrder == VEX_DATA_ORDER_PLANE;
    const int64_t dpx = int64_t(ownElemSize(dst->depth)) * (plane ? 1 : dst->nChannels);
    for (int ty = y / th; ty <= (y + h - 1) / th; ++ty)
        for (int tx = x / tw_; tx <= (x + w - 1) / tw_; ++tx) {
            const int x0 = std::max(x, tx * tw_), x1 = std::min(x + w, (tx + 1) * tw_);
            const int y0 = std::max(y, ty * th), y1 = std::min(y + h, (ty + 1) * th);
            char* data = ownRequestTile(site, src, tx, ty, VEX_TILE_GET_READ, kSrcTile, __LINE__);
            if (!data) return false;
            const OwnView s = ownImageView(src, data, tw_, th, x0 - tx * tw_, y0 - ty * th);
            const OwnView dd{d.data + d.step * (y0 - y) + dpx * (x0 - x), d.step, d.planeSize};
            ownTwistRun(src, s, dst, dd, y1 - y0, x1 - x0, tw);
            ownReleaseTile(src, tx, ty, data);
        }
    return true;
}

}  // namespace

extern "C" {

VEXAPI VexColorTwist* vexCreateColorTwist(const int* data, int scalingValue) {
    if (!data || scalingValue < 0 || scalingValue > 31) {
        vexError(VEX_StsBadArg, "vexCreateColorTwist", "bad_argument", kTwistFile, __LINE__);
        return nullptr;
    }
    VexColorTwist* t = static_cast<VexColorTwist*>(vexMalloc(int(sizeof(VexColorTwist))));
    if (!t) {
        vexError(VEX_StsNoMem, "vexCreateColorTwist", "out_of_memory", kTwistFile, __LINE__);
        return nullptr;
    }
    std::memcpy(t->data, data, sizeof t->data);
    t->scalingValue = scalingValue;
    return t;
}

VEXAPI void vexSetColorTwist(VexColorTwist* cTwist, const int* data, int scalingValue) {
    const OwnSite site{"vexSetColorTwist", kTwistFile};
    OWN_CHECK(site, cTwist == nullptr, "cTwist==0");
    OWN_CHECK(site, data == nullptr, "(data == 0)");
    OWN_CHECK(site, scalingValue < 0, "(scalingValue < 0)");
    OWN_CHECK(site, scalingValue > 31, "(scalingValue > 31)");
    std::memcpy(cTwist->data, data, sizeof cTwist->data);
    cTwist->scalingValue = scalingValue;
}

VEXAPI void vexDeleteColorTwist(VexColorTwist* cTwist) { vexFree(cTwist); }

VEXAPI void vexApplyColorTwist(VexImage* srcImage, VexImage* dstImage, const VexColorTwist* cTwist,
                               int offset, const VexMapping* mapping) {
    const OwnSite site{"vexApplyColorTwist", kTwistFile};
    OWN_CHECK_HEADER(site, srcImage);
    OWN_CHECK_HEADER(site, dstImage);
    OWN_CHECK(site, cTwist == nullptr, "cTwist==0");
    OWN_CHECK(site, srcImage->nChannels < 3, "(srcImage->nChannels < 3)");
    OWN_CHECK(site, (srcImage->alphaChannel != 0) && (srcImage->nChannels < 4),
              "((srcImage->alphaChannel != 0) && (srcImage->nChannels < 4))");
    OWN_CHECK(site, (srcImage->alphaChannel != 0) && (srcImage->alphaChannel < srcImage->nChannels),
              "((srcImage->alphaChannel != 0) && (srcImage->alphaChannel < srcImage->nChannels))");
    OWN_CHECK(site, dstImage->nChannels < 3, "(dstImage->nChannels < 3)");
    OWN_CHECK(site, (dstImage->alphaChannel != 0) && (dstImage->nChannels < 4),
              "((dstImage->alphaChannel != 0) && (dstImage->nChannels < 4))");
    OWN_CHECK(site, (dstImage->alphaChannel != 0) && (dstImage->alphaChannel < dstImage->nChannels),
              "((dstImage->alphaChannel != 0) && (dstImage->alphaChannel < dstImage->nChannels))");
    OWN_CHECK(site, srcImage->depth != dstImage->depth, "(srcImage->depth != dstImage->depth)");
    OWN_CHECK(site, (srcImage->depth != 8) && (srcImage->depth != 16),
              "((srcImage->depth != 8) && (srcImage->depth != 16))");
    OWN_CHECK(site, srcImage->dataOrder != dstImage->dataOrder,
              "(srcImage->dataOrder != dstImage->dataOrder)");
    OWN_CHECK(site, srcImage->origin != dstImage->origin, "(srcImage->origin != dstImage->origin)");

    OwnTwist tw;
    const double scale = std::ldexp(1.0, -cTwist->scalingValue);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) tw.a[r][c] = double(cTwist->data[4 * r + c]) * scale;
    tw.offset = offset;
    tw.maxValue = srcImage->depth == VEX_DEPTH_8U ? 255 : 65535;

    int sx, sy, scols, srows, dx, dy, dcols, drows;
    ownClipRegion(srcImage, &sx, &sy, &scols, &srows);
    ownClipRegion(dstImage, &dx, &dy, &dcols, &drows);
    const int rows = std::min(srows, drows), cols = std::min(scols, dcols);
    if (rows <= 0 || cols <= 0) return;

    if (!dstImage->tileInfo) {
        const OwnView d = ownImageView(dstImage, dstImage->imageData, dstImage->width,
                                       dstImage->height, dx, dy);
        ownTwistFrom(site, srcImage, sx, sy, cols, rows, dstImage, d, tw);
        return;
    }
    const int tw_ = dstImage->tileInfo->width, th = dstImage->tileInfo->height;
    int tx0 = dx / tw_, tx1 = (dx + cols - 1) / tw_, ty0 = dy / th, ty1 = (dy + rows - 1) / th;
    if (mapping) {
        const int64_t mx = mapping->xDst, my = mapping->yDst;
        const int64_t colStart = mx - mx % tw_, rowStart = my - my % th;
        OWN_CHECK(site, colStart + tw_ <= dx || colStart >= int64_t(dx) + cols,
                  "(((Mapping->xDst - Mapping->xDst % width_tile_d + width_tile_d) <= coord_X_dst) || "
                  "((Mapping->xDst - Mapping->xDst % width_tile_d) >= max_X))");
        OWN_CHECK(site, rowStart + th <= dy || rowStart >= int64_t(dy) + rows,
                  "(((Mapping->yDst - Mapping->yDst % height_tile_d + height_tile_d) <= coord_Y_dst) || "
                  "((Mapping->yDst - Mapping->yDst % height_tile_d) >= max_Y))");
        tx0 = tx1 = int(colStart / tw_);
        ty0 = ty1 = int(rowStart / th);
    }
    for (int ty = ty0; ty <= ty1; ++ty)
        for (int tx = tx0; tx <= tx1; ++tx) {
            const int x0 = std::max(dx, tx * tw_), x1 = std::min(dx + cols, (tx + 1) * tw_);
            const int y0 = std::max(dy, ty * th), y1 = std::min(dy + rows, (ty + 1) * th);
            char* data = ownRequestTile(site, dstImage, tx, ty, VEX_TILE_GET_WRITE, kDstTile, __LINE__);
            if (!data) return;
            const OwnView d = ownImageView(dstImage, data, tw_, th, x0 - tx * tw_, y0 - ty * th);
            const bool ok = ownTwistFrom(site, srcImage, sx + x0 - dx, sy + y0 - dy, x1 - x0,
                                         y1 - y0, dstImage, d, tw);
            ownReleaseTile(dstImage, tx, ty, data);
            if (!ok) return;
        }
}

}  // extern "C"
