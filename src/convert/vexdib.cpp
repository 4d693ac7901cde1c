// Device-independent bitmaps: vexTranslateDIB (a new image sharing or
// copying a DIB's pixels), vexConvertFromDIB (a DIB into an existing image)
// and vexConvertToDIB (an image into an existing DIB, with fixed or
// median-cut palettes and optional dithering of 16-bit images).
//
// Choices of this library:
//  - Tiled images are refused ("(image->tileInfo != NULL)"): these
//    operations read and write imageData directly.
//  - A zero colour mask of a VEX_BI_BITFIELDS DIB is refused ("dib colour
//    mask is zero"; for 16 bits the mask's low 16 bits count) by all three
//    functions, after the checks they share with every DIB.
//  - A pixel index beyond the colour table reads as 0 0 0 0: only the table
//    the header declares is read.
//  - vexConvertToDIB chooses its reader, adapter and writer, and so reports
//    an unsupported layout, channel order or bit count, before it writes
//    anything, the palette included.
//  - Its indexed writers search the first min(table length, 2^biBitCount)
//    entries, so the stored index always fits its bits.
//  - With paletteConversion 2 the DIB must have room for 2^biBitCount table
//    entries: the median-cut table and biClrUsed move the pixel rows.
#include <cstring>

#include "convert/owndib.h"
#include "convert/owndibrow.h"
#include "image/ownstream.h"

using namespace vex;

namespace {

const OwnSite kTranslate{"vexTranslateDIB", "vexdib"};
const OwnSite kFromDib{"vexConvertFromDIB", "vexdib"};
const OwnSite kToDib{"vexConvertToDIB", "vexdib"};

const char kTiledText[] = "(image->tileInfo != NULL)";
const char kMaskText[] = "dib colour mask is zero";

// A failure without a message of its own: VEX_StsInternal with an empty
// text, unless the thread's status is already negative.
void ownInternal(const OwnSite& site, int line) {
    if (vexGetErrStatus() >= 0) vexError(VEX_StsInternal, site.func, "", site.file, line);
}

// The colour table as records, entries beyond the table zero.
void ownLoadPalette(const VexBitmapInfoHeader* dib, uint32_t pal[256]) {
    std::memset(pal, 0, 256 * 4);
    const int64_t n = ownDibTableLength(dib);
    if (dib->biBitCount > 8) return;
    const int64_t take = n < (int64_t(1) << dib->biBitCount) ? n : (int64_t(1) << dib->biBitCount);
    std::memcpy(pal, ownDibTable(dib), size_t(take) * 4);
}

// Channel c of stored row `row` of an untiled image (stride recomputed from
// the header's geometry).
struct OwnRows {
    uint8_t* base;
    int64_t step, planeSize;
    int es, n;
    bool plane;
    explicit OwnRows(const VexImage* image)
        : base(reinterpret_cast<uint8_t*>(image->imageData)),
          step(ownImageStep(image)),
          planeSize(ownImageStep(image) * image->height),
          es(image->depth == VEX_DEPTH_16U ? 2 : 1),
          n(image->nChannels),
          plane(image->dataOrder == VEX_DATA_ORDER_PLANE && image->nChannels > 1) {}
    void at(int64_t row, uint8_t* ch[4]) const {
        uint8_t* r = base + row * step;
        for (int c = 0; c < n && c < 4; ++c) ch[c] = r + (plane ? c * planeSize : int64_t(c) * es);
    }
};

}  // namespace

extern "C" {

VEXAPI void vexConvertFromDIB(const VexBitmapInfoHeader* dib, VexImage* image) {
    const OwnSite& site = kFromDib;
    OWN_CHECK_HEADER(site, image);
    OWN_CHECK(site, dib == nullptr, "dib==0");
    OWN_CHECK(site, dib->biSize != sizeof(VexBitmapInfoHeader), "(dib->biSize != sizeof(BITMAPINFOHEADER))");
    OWN_CHECK(site, dib->biPlanes != 1, "(dib->biPlanes != 1)");
    OWN_CHECK(site, dib->biCompression != 0 && dib->biCompression != 3,
              "(dib->biCompression != 0) && (dib->biCompression != 3)");
    const int64_t rows = dib->biHeight < 0 ? -int64_t(dib->biHeight) : int64_t(dib->biHeight);
    OWN_CHECK(site, image->width < dib->biWidth || image->height < rows, "image size is too small");
    if (!ownDibBitCountOk(dib->biBitCount)) return ownInternal(site, __LINE__);
    const OwnDibOrder order = ownDibOrder(image);
    OWN_CHECK(site, order == OwnDibOrder::kNone, "image->channelSeq unsupport");
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    OwnFromRowFn row = ownFromDibRow(dib->biBitCount, order, image->nChannels, image->depth, plane);
    if (!row) return ownInternal(site, __LINE__);
    OWN_CHECK(site, image->tileInfo != nullptr, kTiledText);

    OwnDibCtx k{};
    ownLoadPalette(dib, k.pal);
    if (dib->biBitCount == 16 || dib->biBitCount == 32) {
        OWN_CHECK(site, !ownDibFields(dib, k.f), kMaskText);
    }
    int copyBytes = 0;
    if (OwnFromRowFn fast = ownFromDibFast(dib->biBitCount, order, image->nChannels, image->depth, plane, k, &copyBytes))
        row = fast;
    const int64_t cols = dib->biWidth > 0 ? dib->biWidth : 0;
    const int64_t stride = ownDibStride(cols, dib->biBitCount);
    const uint8_t* pixels = ownDibPixels(dib);
    const bool dibUp = dib->biHeight > 0, imageUp = image->origin == VEX_ORIGIN_BL;
    const bool stream = copyBytes > 0 && rows * cols * copyBytes >= kStreamBytes;
    const OwnRows dst(image);
    uint8_t* ch[4] = {};
    // Picture row r (from the top): the DIB's and the image's stored rows.
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* s = pixels + (dibUp ? rows - 1 - r : r) * stride;
        dst.at(imageUp ? image->height - 1 - r : r, ch);
        if (stream)
            ownStreamCopy(reinterpret_cast<char*>(ch[0]), reinterpret_cast<const char*>(s), cols * copyBytes);
        else
            row(s, ch, cols, k);
    }
    if (stream) ownStoreFence();
}

VEXAPI VexImage* vexTranslateDIB(VexBitmapInfoHeader* dib, int* cloneData) {
    const OwnSite& site = kTranslate;
    if (ownFail(site, dib == nullptr, "(dib == ((void *)0))", __LINE__)) return nullptr;
    if (ownFail(site, cloneData == nullptr, "(cloneData == ((void *)0))", __LINE__)) return nullptr;
    if (ownFail(site, dib->biSize != sizeof(VexBitmapInfoHeader), "(dib->biSize != sizeof(BITMAPINFOHEADER))", __LINE__))
        return nullptr;
    if (ownFail(site, dib->biPlanes != 1, "(dib->biPlanes != 1)", __LINE__)) return nullptr;
    if (ownFail(site, dib->biCompression != 0 && dib->biCompression != 3,
                "(dib->biCompression != 0) && (dib->biCompression != 3)", __LINE__))
        return nullptr;
    const int bits = dib->biBitCount;
    if (ownFail(site, !ownDibBitCountOk(bits), "Bad dib->biBitCount", __LINE__)) return nullptr;
    if (bits == 16 || bits == 32) {
        OwnDibField f[4];
        if (ownFail(site, !ownDibFields(dib, f), kMaskText, __LINE__)) return nullptr;
    }

    const bool ramp = ownDibGrayRamp(dib);
    int nChannels = 3, alpha = 0, share = 0;
    unsigned depth = VEX_DEPTH_8U;
    const char* space = "RGB";
    const char* seq = "BGR";
    switch (bits) {
        case 1: share = ramp; depth = ramp ? VEX_DEPTH_1U : VEX_DEPTH_8U; break;
        case 4: break;
        case 8: share = ramp; break;
        case 24: share = 1; break;
        case 32: nChannels = 4, alpha = 4, share = dib->biCompression == VEX_BI_RGB; break;
        default: break;
    }
    if (ramp) nChannels = 1;
    if (nChannels == 1) space = "GRAY", seq = "G";
    if (nChannels == 4) space = "RGBA", seq = "BGRA";
    *cloneData = share;

    const int64_t rows = dib->biHeight < 0 ? -int64_t(dib->biHeight) : int64_t(dib->biHeight);
    VexImage* image = nullptr;
    if (rows <= 0x7FFFFFFF)
        image = vexCreateImageHeader(nChannels, alpha, int(depth), space, seq,
                                     share ? VEX_DATA_ORDER_PIXEL : VEX_DATA_ORDER_PLANE,
                                     dib->biHeight >= 0 ? VEX_ORIGIN_BL : VEX_ORIGIN_TL, share ? 4 : 8,
                                     int(rows), dib->biWidth, nullptr, nullptr, nullptr);
    if (ownFail(site, image == nullptr, "Create image header is failed", __LINE__)) return nullptr;
    if (share) {
        image->widthStep = int(ownDibStride(dib->biWidth, bits));
        image->dataSize = image->widthStep * image->height;
        image->imageData = reinterpret_cast<char*>(ownDibPixels(dib));
        return image;
    }
    vexAllocateImage(image, -1);
    if (ownFail(site, image->imageData == nullptr, "Allocate memory for VEX image data is failed", __LINE__)) {
        vexDeallocate(image, VEX_IMAGE_HEADER);
        return nullptr;
    }
    vexConvertFromDIB(dib, image);
    if (OWN_TRAIL(site)) {
        vexDeallocate(image, VEX_IMAGE_ALL);
        return nullptr;
    }
    return image;
}

VEXAPI void vexConvertToDIB(VexImage* image, VexBitmapInfoHeader* dib, int dither, int paletteConversion) {
    const OwnSite& site = kToDib;
    OWN_CHECK_HEADER(site, image);
    OWN_CHECK(site, dib == nullptr, "dib==0");
    OWN_CHECK(site, image->nChannels <= 0 || image->nChannels > 4, "(image->nChannels <= 0 || image->nChannels > 4)");
    OWN_CHECK(site, image->depth & 0x80000000u, "(image->depth & 0x80000000)");
    OWN_CHECK(site, image->alphaChannel != 0 && image->alphaChannel != 4,
              "(image->alphaChannel != 0 && image->alphaChannel != 4)");
    if (image->alphaChannel) {
        OWN_CHECK(site, image->nChannels != 4, "(image->nChannels != 4)");
    } else {
        OWN_CHECK(site, image->nChannels != 3 && image->nChannels != 1, "(image->nChannels != 3 && image->nChannels != 1)");
    }
    OWN_CHECK(site, image->width != dib->biWidth || image->height != dib->biHeight,
              "(image->width != dib->biWidth || image->height != dib->biHeight)");
    OWN_CHECK(site, dib->biSize != sizeof(VexBitmapInfoHeader), "(dib->biSize != sizeof(BITMAPINFOHEADER))");
    OWN_CHECK(site, dib->biPlanes != 1, "(dib->biPlanes != 1)");
    OWN_CHECK(site, dib->biCompression != 0 && dib->biCompression != 3,
              "(dib->biCompression != 0) && (dib->biCompression != 3)");
    OWN_CHECK(site, dither != 8 && dither != 1, "(dither != 8 && dither != 1)");
    OWN_CHECK(site, paletteConversion != 0 && paletteConversion != 1 && paletteConversion != 2,
              "(paletteConversion != 0 && paletteConversion != 1 && paletteConversion != 2)");
    OWN_CHECK(site, image->tileInfo != nullptr, kTiledText);

    // Reader, adapter and writer, chosen before anything is written. A 16U
    // image dithered to 8 bits is read as the 8U temporary.
    const bool reduce = dither == 8 && image->depth == VEX_DEPTH_16U;
    const unsigned readDepth = reduce ? VEX_DEPTH_8U : image->depth;
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    const int bits = dib->biBitCount;
    bool grayKeys = false;
    if (!ownToDibRow(image->nChannels, readDepth, plane, OwnDibOrder::kKeep, 24, &grayKeys))
        return ownInternal(site, __LINE__);
    const OwnDibOrder order = ownDibOrder(image);
    OWN_CHECK(site, order == OwnDibOrder::kNone, "image->channelSeq unsupport");
    OWN_CHECK(site, !ownDibBitCountOk(bits), "dib-<biBitCount is bad");
    OwnToRowFn row = ownToDibRow(image->nChannels, readDepth, plane, order, bits, &grayKeys);
    if (!row) return ownInternal(site, __LINE__);
    OwnDibCtx k{};
    if (bits == 16 || bits == 32) {
        OWN_CHECK(site, !ownDibFields(dib, k.f), kMaskText);
    }

    // Palette.
    auto* table = reinterpret_cast<VexRGBQuad*>(ownDibTable(dib));
    if (bits < 16) {
        if (paletteConversion == 1) {
            ownDibFixedTable(table, ownDibTableLength(dib), image->nChannels == 1);
        } else if (paletteConversion == 2) {
            const int n = ownMedianCut(image, bits, table);
            OWN_CHECK(site, n < 0, "create medcut palette error");
            dib->biClrUsed = unsigned(n);
        }
    }

    // 16U with dither 8: Stucki error diffusion into an 8U temporary.
    VexImage* tmp = nullptr;
    VexImage* src = image;
    if (reduce) {
        tmp = vexCreateImageHeader(image->nChannels, image->alphaChannel, int(VEX_DEPTH_8U), image->colorSpace,
                                   image->channelSeq, image->dataOrder, image->origin, image->align,
                                   image->height, image->width, nullptr, nullptr, nullptr);
        if (tmp) vexAllocateImage(tmp, -1);
        if (!tmp || !tmp->imageData) {
            if (tmp) vexDeallocate(tmp, VEX_IMAGE_HEADER);
            return ownInternal(site, __LINE__);
        }
        VexROI* roi = image->roi;
        image->roi = nullptr;
        vexReduceBits(image, tmp, 0, 8, 1, nullptr);
        image->roi = roi;
        if (OWN_TRAIL(site)) {
            vexDeallocate(tmp, VEX_IMAGE_ALL);
            return;
        }
        src = tmp;
    }

    OwnNearest nearest;
    if (bits <= 8) {
        const int64_t len = ownDibTableLength(dib);
        const int n = int(len < (int64_t(1) << bits) ? len : (int64_t(1) << bits));
        if (n < 1 || !nearest.init(table, n, grayKeys, int64_t(image->height) * image->width)) {
            if (tmp) vexDeallocate(tmp, VEX_IMAGE_ALL);
            if (n < 1) return ownInternal(site, __LINE__);
            vexError(VEX_StsNoMem, site.func, "", site.file, __LINE__);
            return;
        }
        k.nearest = &nearest;
    }

    const bool standardMasks = bits == 32 && k.f[0].mask == 0xFFu && k.f[1].mask == 0xFF00u &&
                               k.f[2].mask == 0xFF0000u && k.f[3].mask == 0xFF000000u;
    int copyBytes = 0;
    if (OwnToRowFn fast = ownToDibFast(image->nChannels, readDepth, plane, order, bits, standardMasks, &nearest, &copyBytes))
        row = fast;

    const int64_t rows = image->height, cols = image->width;
    const int64_t stride = ownDibStride(cols, bits);
    uint8_t* pixels = ownDibPixels(dib);
    const bool imageUp = src->origin == VEX_ORIGIN_BL;
    const bool stream = copyBytes > 0 && rows * cols * copyBytes >= kStreamBytes;
    const OwnRows from(src);
    uint8_t* ch[4] = {};
    // Picture row r from the top: the DIB (bottom-up) stores it last first.
    for (int64_t r = 0; r < rows; ++r) {
        from.at(imageUp ? rows - 1 - r : r, ch);
        uint8_t* d = pixels + (rows - 1 - r) * stride;
        if (stream)
            ownStreamCopy(reinterpret_cast<char*>(d), reinterpret_cast<const char*>(ch[0]), cols * copyBytes);
        else
            row(ch, d, cols, k);
    }
    if (stream) ownStoreFence();
    if (tmp) vexDeallocate(tmp, VEX_IMAGE_ALL);
}

}  // extern "C"
