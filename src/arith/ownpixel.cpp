// The pixel-wise kernel frame and tile walk.
#include "arith/ownpixel.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "image/ownrect.h"

namespace vex {

uint32_t ownPattern(unsigned depth, uint32_t value) {
    switch (depth) {
        case VEX_DEPTH_1U:
            return (value & 1u) ? 0xFFFFFFFFu : 0u;
        case VEX_DEPTH_8U:
        case VEX_DEPTH_8S:
            return (value & 0xFFu) * 0x01010101u;
        case VEX_DEPTH_16U:
        case VEX_DEPTH_16S:
            return (value & 0xFFFFu) * 0x00010001u;
        default:
            return value;
    }
}

namespace {

constexpr int kMaxImages = 3;

// Runs the depth's row kernel over the common rectangle of the images'
// regions (each image anchored at its own region corner). Returns false
// only when a piece check of kPixelPieceChecks failed.
bool ownPixelKernel(const OwnPixelOp& op, VexImage* const* img, int count,
                    const OwnPixelArgs& args, int64_t callBytes = 0) {
    VexImage* dst = img[count - 1];
    const int depthIndex = ownDepthIndex(dst->depth);
    const OwnRowFn fn = depthIndex >= 0 ? op.rows[depthIndex] : nullptr;
    OwnRegionOffset r[kMaxImages] = {};
    bool located = true;
    for (int i = 0; i < count; ++i) located = ownRegionOffset(img[i], &r[i]) && located;
    if (op.flags & kPixelPieceChecks) {
        if (ownFail(op.site, !located, "The fields of ROI has error", __LINE__)) return false;
        if (ownFail(op.site, r[0].channels != r[count - 1].channels,
                    "The mismath of number channels", __LINE__))
            return false;
    }
    if (!fn) return true;

    const bool bits = dst->depth == VEX_DEPTH_1U;
    const int esize = ownElemSize(dst->depth);
    OwnRun run{};
    run.callBytes = callBytes;

    // Whole-buffer case: equal, ROI-less (or whole-covering) untiled images
    // are one run of dataSize bytes, row padding included.
    bool whole = true;
    for (int i = 0; i + 1 < count; ++i) whole = whole && ownSameLayout(img[i], dst);
    if (whole) {
        // dataSize may be larger than the layout needs (a hand-built header);
        // the bytes beyond the layout of any image are not its pixels and
        // may not even be its buffer, so the run stops there.
        int64_t bytes = dst->dataSize;
        for (int i = 0; i < count; ++i)
            bytes = std::min(bytes, ownDataSize(img[i]->height, img[i]->width, img[i]->depth,
                                                img[i]->nChannels, img[i]->dataOrder,
                                                img[i]->align));
        if (bits || (op.flags & kPixelWholeWords)) bytes = bytes / 4 * 4;
        for (int i = 0; i + 1 < count; ++i) {
            run.src[i] = img[i]->imageData;
            run.srcInc[i] = 1;
        }
        run.dst = dst->imageData;
        run.dstInc = 1;
        run.n = bits ? bytes * 8 : bytes / esize;
        fn(run, args);
        return true;
    }
    if (!located) return true;

    int rows = INT_MAX, cols = INT_MAX;
    for (int i = 0; i < count; ++i) {
        rows = std::min(rows, r[i].rows);
        cols = std::min(cols, r[i].cols);
    }
    // Channels processed: equal for all images once the checks passed.
    const int channels = r[count - 1].channels;
    const bool plane = dst->dataOrder == VEX_DATA_ORDER_PLANE;

    // Mixed channel selection (some images pick one channel by a non-zero
    // coi, others are one-channel images without one) is processed, not
    // skipped: every image walks its samples with its own step, nChannels
    // for a coi in pixel order and 1 otherwise. The uniform cases are the
    // special cases of the same rule.
    char* base[kMaxImages] = {};
    int64_t step[kMaxImages] = {}, planeSize[kMaxImages] = {}, inc[kMaxImages] = {};
    bool backToBack = true;
    for (int i = 0; i < count; ++i) {
        const VexImage* image = img[i];
        const bool coi = image->roi && image->roi->coi != 0;
        base[i] = image->imageData + r[i].offset;
        step[i] = ownImageStep(image);
        planeSize[i] = step[i] * image->height;
        inc[i] = (!plane && coi) ? image->nChannels : 1;
        // Rows back to back: the piece spans whole rows with no padding.
        if (bits)
            backToBack = backToBack && r[i].bitOffset == 0 && r[i].cols == cols &&
                         int64_t(cols) == step[i] * 8;
        else
            backToBack = backToBack && r[i].cols == cols && r[i].rowBytes == step[i];
    }
    int64_t perRow = plane ? cols : int64_t(cols) * channels;
    int nRows = rows;
    if (backToBack) {
        perRow *= rows;
        nRows = 1;
    }
    const int planes = plane ? channels : 1;
    const int nSrc = count - 1;
    run.n = perRow;
    run.dstInc = inc[nSrc];
    run.dstBit = r[nSrc].bitOffset;
    for (int i = 0; i < nSrc; ++i) {
        run.srcInc[i] = inc[i];
        run.srcBit[i] = r[i].bitOffset;
    }
    // Short rows far apart (a tile-sized piece of a large untiled image):
    // the rows a few ahead are asked for (see ownRunPrefetch).
    const int64_t rowBytesAll = bits ? (perRow + 7) / 8 : perRow * esize;
    if (nRows > 1 && rowBytesAll <= 4096) {
        // A destination whose runs are streamed (see ownStreamRun) is not
        // asked for: a line brought into the cache would only be evicted
        // again by the streaming store.
        bool streamed = callBytes >= kStreamBytes && !bits && run.dstInc == 1;
        for (int i = 0; i < nSrc; ++i) streamed = streamed && run.srcInc[i] == 1;
        run.ahead = 6;
        run.aheadCount = nSrc + !streamed;
        run.aheadBytes = rowBytesAll;
    }
    // One call per plane: the kernel runs the rows itself.
    run.rows = nRows;
    for (int i = 0; i < nSrc; ++i) run.srcStep[i] = step[i];
    run.dstStep = step[nSrc];
    for (int p = 0; p < planes; ++p) {
        for (int i = 0; i < nSrc; ++i) run.src[i] = base[i] + p * planeSize[i];
        run.dst = base[nSrc] + p * planeSize[nSrc];
        fn(run, args);
    }
    return true;
}

// ------------------------------------------------------------------ walk

const char* const kNames2[] = {"srcImage", "dstImage"};
const char* const kNames3[] = {"srcImageA", "srcImageB", "dstImage"};

struct OwnWalkImage {
    VexImage* image;  // the caller's header
    VexImage copy;    // private header: one tile, or the untiled image
    VexROI roi;       // private ROI: the current piece, with the image's coi
    const char* name;
    bool tiled;
    int mode;    // request mode: read for sources, write for the destination
    int x0, y0;  // working start in image coordinates
    int tw, th;  // tile size
    int tx, ty;  // current tile
    char* data;  // current tile buffer
};

void ownWalkReport(const OwnPixelOp& op, const OwnWalkImage& w, bool missing, int line) {
    char text[96];
    const char* format = (op.flags & kPixelSpacedNull) ? "(%s->tileInfo->tileData %s ((void *)0))"
                                                       : "(%s->tileInfo->tileData %s ((void*)(0)))";
    std::snprintf(text, sizeof text, format, w.name, missing ? "==" : "!=");
    ownFail(op.site, true, text, line);
}

bool ownWalkRequest(const OwnPixelOp& op, OwnWalkImage& w) {
    VexTileInfo* info = w.image->tileInfo;
    info->callBack(w.image, w.tx, w.ty, w.mode);
    w.data = info->tileData;
    if (!w.data) {
        ownWalkReport(op, w, true, __LINE__);
        return false;
    }
    w.copy.imageData = w.data;
    return true;
}

// The buffer goes back in tileData for the release; the callback is
// expected to clear it when it takes the tile back.
bool ownWalkRelease(const OwnPixelOp& op, OwnWalkImage& w) {
    ownStoreFence();
    VexTileInfo* info = w.image->tileInfo;
    info->tileData = w.data;
    info->callBack(w.image, w.tx, w.ty, VEX_TILE_RELEASE);
    w.data = nullptr;
    if (info->tileData) {
        ownWalkReport(op, w, false, __LINE__);
        return false;
    }
    return true;
}

void ownPixelWalk(const OwnPixelOp& op, VexImage* const* images, int count, const int* tile,
                  const OwnPixelArgs& args) {
    OwnWalkImage w[kMaxImages] = {};
    int64_t width = INT_MAX, height = INT_MAX;
    for (int i = 0; i < count; ++i) {
        OwnWalkImage& m = w[i];
        m.image = images[i];
        m.name = (count == 2 ? kNames2 : kNames3)[i];
        m.tiled = m.image->tileInfo != nullptr;
        m.mode = i + 1 == count ? VEX_TILE_GET_WRITE : VEX_TILE_GET_READ;
        m.roi = VexROI{m.image->roi ? m.image->roi->coi : 0, 0, 0, 0, 0};
        m.data = nullptr;
        OwnRegion g;
        ownGetRegion(m.image, &g);
        m.x0 = g.x;
        m.y0 = g.y;
        width = std::min<int64_t>(width, g.cols);
        height = std::min<int64_t>(height, g.rows);
        if (m.tiled) {
            m.copy = ownTileHeader(m.image);
            m.copy.dataSize =
                static_cast<int>(ownDataSize(m.copy.height, m.copy.width, m.copy.depth,
                                             m.copy.nChannels, m.copy.dataOrder, m.copy.align));
            m.tw = m.copy.width;
            m.th = m.copy.height;
        } else {
            m.copy = *m.image;
            m.tw = m.th = 0;
        }
        m.copy.roi = &m.roi;
    }

    // One destination tile: the dTile checks, then every image's rectangle
    // is cut by the same amounts as the destination's.
    OwnWalkImage& d = w[count - 1];
    if (tile && d.tiled) {
        const int64_t tBegX = int64_t(tile[0]) * d.tw, tEndX = tBegX + d.tw;
        const int64_t tBegY = int64_t(tile[1]) * d.th, tEndY = tBegY + d.th;
        const int64_t rBegX = d.x0, rEndX = rBegX + width;
        const int64_t rBegY = d.y0, rEndY = rBegY + height;
        OWN_CHECK(op.site, tBegX > rEndX, "(dTile.begX > dRoi.endX)");
        OWN_CHECK(op.site, tBegY > rEndY, "(dTile.begY > dRoi.endY)");
        OWN_CHECK(op.site, tEndX < rBegX, "(dTile.endX < dRoi.begX)");
        OWN_CHECK(op.site, tEndY < rBegY, "(dTile.endY < dRoi.begY)");
        if (rBegX < tBegX) {
            const int64_t delta = tBegX - rBegX;
            for (int i = 0; i < count; ++i) w[i].x0 += static_cast<int>(delta);
            width -= delta;
        }
        if (rEndX > tEndX) width -= rEndX - tEndX;
        if (rBegY < tBegY) {
            const int64_t delta = tBegY - rBegY;
            for (int i = 0; i < count; ++i) w[i].y0 += static_cast<int>(delta);
            height -= delta;
        }
        if (rEndY > tEndY) height -= rEndY - tEndY;
    }
    if (width <= 0 || height <= 0) return;

    VexImage* pieces[kMaxImages];
    for (int i = 0; i < count; ++i) pieces[i] = &w[i].copy;
    // What the whole walk writes, so that its pieces are stored as one long
    // run of the untiled images would be.
    const VexImage* dstImage = d.image;
    const int64_t callBytes =
        (dstImage->depth == VEX_DEPTH_1U ? (width + 7) / 8 : width * ownElemSize(dstImage->depth)) *
        height * ownPixelChannels(dstImage);

    // Bands of rows, top to bottom; within a band, pieces left to right.
    for (int64_t rowsDone = 0; rowsDone < height;) {
        int64_t band = height - rowsDone;
        for (int i = 0; i < count; ++i) {
            OwnWalkImage& m = w[i];
            if (!m.tiled) continue;
            const int64_t y = m.y0 + rowsDone;
            m.tx = m.x0 / m.tw;
            m.ty = static_cast<int>(y / m.th);
            if (!ownWalkRequest(op, m)) return;
            band = std::min<int64_t>(band, int64_t(m.ty + 1) * m.th - y);
        }
        for (int64_t colsDone = 0; colsDone < width;) {
            int64_t piece = width - colsDone;
            for (int i = 0; i < count; ++i) {
                OwnWalkImage& m = w[i];
                if (!m.tiled) continue;
                const int64_t x = m.x0 + colsDone;
                if (x >= int64_t(m.tx + 1) * m.tw) {
                    if (!ownWalkRelease(op, m)) return;
                    ++m.tx;
                    if (!ownWalkRequest(op, m)) return;
                }
                piece = std::min<int64_t>(piece, int64_t(m.tx + 1) * m.tw - x);
            }
            for (int i = 0; i < count; ++i) {
                OwnWalkImage& m = w[i];
                const int64_t x = m.x0 + colsDone, y = m.y0 + rowsDone;
                m.roi.xOffset = static_cast<int>(m.tiled ? x - int64_t(m.tx) * m.tw : x);
                m.roi.yOffset = static_cast<int>(m.tiled ? y - int64_t(m.ty) * m.th : y);
                m.roi.width = static_cast<int>(piece);
                m.roi.height = static_cast<int>(band);
            }
            if (!ownPixelKernel(op, pieces, count, args, callBytes)) return;
            colsDone += piece;
        }
        for (int i = 0; i < count; ++i)
            if (w[i].tiled && !ownWalkRelease(op, w[i])) return;
        rowsDone += band;
    }
}

}  // namespace

bool ownPixelChecks1(const OwnSite& site, const VexImage* srcImage, const VexImage* dstImage) {
    return ownHeaderOk(site, srcImage, __LINE__) && ownHeaderOk(site, dstImage, __LINE__) &&
           !ownFail(site, srcImage->depth != dstImage->depth,
                    "(srcImage->depth != dstImage->depth)", __LINE__) &&
           !ownFail(site, srcImage->dataOrder != dstImage->dataOrder,
                    "(srcImage->dataOrder != dstImage->dataOrder)", __LINE__) &&
           !ownFail(site, ownPixelChannels(srcImage) != ownPixelChannels(dstImage),
                    "(nChSrc != nChDst)", __LINE__);
}

bool ownPixelChecks2(const OwnSite& site, const VexImage* srcImageA, const VexImage* srcImageB,
                     const VexImage* dstImage) {
    if (!ownHeaderOk(site, srcImageA, __LINE__) || !ownHeaderOk(site, srcImageB, __LINE__) ||
        !ownHeaderOk(site, dstImage, __LINE__))
        return false;
    const int nChSrcA = ownPixelChannels(srcImageA), nChSrcB = ownPixelChannels(srcImageB);
    const int nChDst = ownPixelChannels(dstImage);
    return !ownFail(site, srcImageA->depth != dstImage->depth,
                    "(srcImageA->depth != dstImage->depth)", __LINE__) &&
           !ownFail(site, srcImageB->depth != dstImage->depth,
                    "(srcImageB->depth != dstImage->depth)", __LINE__) &&
           !ownFail(site, srcImageA->dataOrder != dstImage->dataOrder,
                    "(srcImageA->dataOrder != dstImage->dataOrder)", __LINE__) &&
           !ownFail(site, srcImageB->dataOrder != dstImage->dataOrder,
                    "(srcImageB->dataOrder != dstImage->dataOrder)", __LINE__) &&
           !ownFail(site, nChSrcA != nChDst, "(nChSrcA != nChDst)", __LINE__) &&
           !ownFail(site, nChSrcB != nChDst, "(nChSrcB != nChDst)", __LINE__);
}

void ownPixel(const OwnPixelOp& op, VexImage* const* images, int count, const int* tile,
              const OwnPixelArgs& args) {
    bool tiled = false;
    for (int i = 0; i < count; ++i) tiled = tiled || images[i]->tileInfo != nullptr;
    if (!tiled)
        ownPixelKernel(op, images, count, args);
    else
        ownPixelWalk(op, images, count, tile, args);
    ownStoreFence();  // the walk's streamed stores, also on an early exit
}

}  // namespace vex
