// The filter engine's source preparation: border coordinates and the
// compact copy of what a window can reach in a tiled or in-place source.
#include "filter/ownfilter.h"

#include "image/ownmove.h"

namespace vex {

const char kFilterNoMem[] = "Allocation failure";

int64_t ownFilterCoord(int64_t p, int64_t size, int mode) {
    if (p >= 0 && p < size) return p;
    // The image's border rule (ownBorderCoord) decides; a window may reach
    // beyond the 32-bit range, so p is first brought within one size of the
    // image without changing where the rule maps it: reflect repeats with
    // period 2*size and wrap with period size, replicate only sees the side.
    int64_t q;
    if ((mode & 3) == VEX_BORDER_REFLECT || (mode & 3) == VEX_BORDER_WRAP) {
        q = p % (2 * size);
        if (q < 0) q += 2 * size;
        if (q >= size) q -= 2 * size;
    } else {
        q = p < 0 ? -1 : size;
    }
    return ownBorderCoord(static_cast<int>(q), static_cast<int>(size), mode);
}

namespace {

// The all-channel region of `cols` x `rows` pixels at (x, y) of an untiled header.
OwnRegion ownRegionOf(const VexImage* image, int x, int y, int cols, int rows) {
    VexImage tmp = *image;
    VexROI roi{0, x, y, rows, cols};
    tmp.roi = &roi;
    tmp.tileInfo = nullptr;
    OwnRegion r;
    ownGetRegion(&tmp, &r);
    return r;
}

// Marks in need[0, size) the coordinates that [lo, hi) reaches: the inside
// part itself and, for each border mode in `modes` (bit m: mode m), the
// coordinates the outside parts map to. [*first, *last) bounds the marks
// (empty when first == last), so that later sweeps skip the rest.
void ownMarkNeeded(unsigned char* need, int64_t size, int64_t lo, int64_t hi, unsigned modes, int* first,
                   int* last) {
    int64_t f = size, l = 0;
    auto mark = [&](int64_t p) {
        need[p] = 1;
        f = std::min(f, p), l = std::max(l, p + 1);
    };
    const int64_t a = std::max<int64_t>(lo, 0), b = std::min<int64_t>(hi, size);
    if (b > a) {
        std::memset(need + a, 1, static_cast<size_t>(b - a));
        f = a, l = b;
    }
    const int64_t outside = std::max<int64_t>(0, std::min<int64_t>(hi, 0) - lo) +
                            std::max<int64_t>(0, hi - std::max<int64_t>(lo, size));
    for (int m = 1; m < 4; ++m) {
        if (!(modes & (1u << m)) || outside == 0) continue;
        if (m == VEX_BORDER_REPLICATE) {
            if (lo < 0) mark(0);
            if (hi > size) mark(size - 1);
            continue;
        }
        if (outside >= 2 * size) {
            std::memset(need, 1, static_cast<size_t>(size));  // a whole period is reached
            f = 0, l = size;
            continue;
        }
        for (int64_t p = lo; p < std::min<int64_t>(hi, 0); ++p) mark(ownFilterCoord(p, size, m));
        for (int64_t p = std::max<int64_t>(lo, size); p < hi; ++p) mark(ownFilterCoord(p, size, m));
    }
    *first = static_cast<int>(std::min(f, l));
    *last = static_cast<int>(l);
}

// Turns the marks in [first, last) into the coordinate map (-1 where not
// needed; entries outside the span are never read); returns the count.
int ownMapNeeded(const unsigned char* need, int first, int last, int* map) {
    int n = 0;
    for (int p = first; p < last; ++p) map[p] = need[p] ? n++ : -1;
    return n;
}

// Calls fn(lo, hi) for each run of needed coordinates inside [a, b).
template <class Fn>
void ownRuns(const int* map, int a, int b, Fn fn) {
    for (int p = a; p < b;) {
        if (map[p] < 0) {
            ++p;
            continue;
        }
        int q = p + 1;
        while (q < b && map[q] >= 0) ++q;
        fn(p, q);
        p = q;
    }
}

}  // namespace

bool ownFilterSource(const OwnSite& site, const VexImage* image, int64_t x0, int64_t y0,
                     int64_t x1, int64_t y1, bool gather, OwnFilterSrc* s) {
    s->image = image;
    if (!gather) {
        s->data = *image;
        s->step = ownImageStep(image);
        s->planeSize = s->step * image->height;
        return true;
    }
    const int W = image->width, H = image->height;
    const int* mode = image->borderMode;
    // Which modes map columns: left/right on rows inside the image, top or
    // bottom on rows beyond it (the corners follow the row's side).
    const bool rowsInside = std::max<int64_t>(y0, 0) < std::min<int64_t>(y1, H);
    unsigned colModes = 0, rowModes = 0;
    if (rowsInside) {
        if (x0 < 0) colModes |= 1u << (mode[2] & 3);
        if (x1 > W) colModes |= 1u << (mode[3] & 3);
    }
    if (y0 < 0) colModes |= 1u << (mode[0] & 3), rowModes |= 1u << (mode[0] & 3);
    if (y1 > H) colModes |= 1u << (mode[1] & 3), rowModes |= 1u << (mode[1] & 3);

    int* maps = s->maps.alloc<int>(int64_t(W) + H);
    OwnBlock needBlock;
    auto* need = needBlock.alloc<unsigned char>(std::max(W, H));
    if (!maps || !need) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return false;
    }
    int* mapX = maps;
    int* mapY = maps + W;
    int xf, xl, yf, yl;  // spans of the needed columns and rows
    std::memset(need, 0, static_cast<size_t>(std::max(W, H)));
    ownMarkNeeded(need, W, x0, x1, colModes, &xf, &xl);
    const int cw = ownMapNeeded(need, xf, xl, mapX);
    std::memset(need, 0, static_cast<size_t>(std::max(W, H)));
    ownMarkNeeded(need, H, y0, y1, rowModes, &yf, &yl);
    const int chh = ownMapNeeded(need, yf, yl, mapY);
    s->mapX = mapX;
    s->mapY = mapY;

    const int64_t size = ownDataSize(std::max(chh, 1), std::max(cw, 1), image->depth,
                                     image->nChannels, image->dataOrder, image->align);
    char* data = s->pixels.alloc<char>(size);
    if (!data) {
        vexError(VEX_StsNoMem, site.func, kFilterNoMem, site.file, __LINE__);
        return false;
    }
    // Every sample a reader reaches is copied below; only rows of bits keep
    // neighbours of the copied bits in their bytes, so those start defined.
    if (image->depth == VEX_DEPTH_1U || cw == 0 || chh == 0) std::memset(data, 0, static_cast<size_t>(size));
    s->data = ownRectHeader(image, data, std::max(cw, 1), std::max(chh, 1));
    s->step = ownImageStep(&s->data);
    s->planeSize = s->step * s->data.height;
    if (cw == 0 || chh == 0) return true;  // every sample is a border constant

    const VexImage* out = &s->data;
    if (!image->tileInfo) {
        ownRuns(mapY, yf, yl, [&](int ra, int rb) {
            ownRuns(mapX, xf, xl, [&](int ca, int cb) {
                ownCopyRegion(ownRegionOf(image, ca, ra, cb - ca, rb - ra),
                              ownRegionOf(out, mapX[ca], mapY[ra], cb - ca, rb - ra), rb - ra,
                              cb - ca, image->depth);
            });
        });
        return true;
    }
    // Tiled: every tile holding a needed pixel is requested once per call of
    // this function; only the spans of needed rows and columns are swept.
    const int tw = image->tileInfo->width, th = image->tileInfo->height;
    VexImage view = ownTileHeader(image);
    for (int ty = yf / th; ty * int64_t(th) < yl; ++ty) {
        const int r0 = std::max(ty * th, yf), r1 = static_cast<int>(std::min<int64_t>(int64_t(ty) * th + th, yl));
        bool anyRow = false;
        for (int r = r0; r < r1 && !anyRow; ++r) anyRow = mapY[r] >= 0;
        if (!anyRow) continue;
        for (int tx = xf / tw; tx * int64_t(tw) < xl; ++tx) {
            const int c0 = std::max(tx * tw, xf), c1 = static_cast<int>(std::min<int64_t>(int64_t(tx) * tw + tw, xl));
            bool anyCol = false;
            for (int c = c0; c < c1 && !anyCol; ++c) anyCol = mapX[c] >= 0;
            if (!anyCol) continue;
            char* tileData =
                ownRequestTile(site, image, tx, ty, VEX_TILE_GET_READ, kErrTileRead, __LINE__);
            if (!tileData) return false;
            view.imageData = tileData;
            ownRuns(mapY, r0, r1, [&](int ra, int rb) {
                ownRuns(mapX, c0, c1, [&](int ca, int cb) {
                    ownCopyRegion(ownRegionOf(&view, ca - tx * tw, ra - ty * th, cb - ca, rb - ra),
                                  ownRegionOf(out, mapX[ca], mapY[ra], cb - ca, rb - ra), rb - ra,
                                  cb - ca, image->depth);
                });
            });
            ownReleaseTile(image, tx, ty, tileData);
        }
    }
    return true;
}

}  // namespace vex
