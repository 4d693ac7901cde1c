// The filter engine's source preparation: the image itself, or the
// rectangle the windows reach gathered out of a tiled or in-place source.
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

}  // namespace vex
