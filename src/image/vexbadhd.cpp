// Header validation and the argument-check pattern shared by all operations.
#include <cstdio>
#include <cstring>

#include "ownimage.h"

namespace vex {

namespace {

struct OwnHeaderBit {
    int bit;
    const char* text;
};

// Listing order of the messages (bit 8 last). Each line is padded to 70
// characters when the message is built.
const OwnHeaderBit kHeaderBits[] = {
    {VEX_BAD_HEADER_NULL, "Image header is null"},
    {VEX_BAD_HEADER_DATA, "Image data and tileinfo is either null or not null"},
    {VEX_BAD_HEADER_SIZE, "Image size is invalid"},
    {VEX_BAD_HEADER_STEP, "Image widthStep is invalid"},
    {VEX_BAD_HEADER_CHANNELS, "Image channel's number is less one"},
    {VEX_BAD_HEADER_1U_CHANNELS, "For image depth 1U channel's number is not equal one"},
    {VEX_BAD_HEADER_DEPTH, "Image depth is invalid"},
    {VEX_BAD_HEADER_ALPHA, "Image alpha channel's number is less zero or is more channel's number"},
    {VEX_BAD_HEADER_ORDER, "Image data order is invalid"},
    {VEX_BAD_HEADER_ORIGIN, "Image origin is invalid"},
    {VEX_BAD_HEADER_ALIGN, "Image align is invalid"},
    {VEX_BAD_HEADER_CALLBACK, "Callback is null"},
    {VEX_BAD_HEADER_TILE_SIZE, "Tile size is invalid"},
    {VEX_BAD_HEADER_COI, "COI is less zero or is more image channel's number"},
    {VEX_BAD_HEADER_ROI_SIZE, "ROI size is invalid"},
    {VEX_BAD_HEADER_ROI_OFFSET, "ROI offset is invalid"},
};
constexpr int kLineWidth = 70;

char kUnknownText[] = "Bad status: unknown error";
char kNoMemText[] = "Out of memory";

}  // namespace

char* ownHeaderMessage(int bits) {
    if (bits == 0) return nullptr;
    int total = 0;
    for (const auto& entry : kHeaderBits)
        if (bits & entry.bit) total += kLineWidth + 1;
    if (total == 0) return kUnknownText;
    char* text = static_cast<char*>(vexMalloc(total + 1));
    if (!text) return kNoMemText;
    char* out = text;
    for (const auto& entry : kHeaderBits) {
        if (!(bits & entry.bit)) continue;
        out += std::snprintf(out, kLineWidth + 2, "%-70s\n", entry.text);
    }
    *out = '\0';
    return text;
}

void ownFreeHeaderMessage(char* text) {
    if (text && text != kUnknownText && text != kNoMemText) vexFree(text);
}

bool ownHeaderOk(const OwnSite& site, const VexImage* image, int line) {
    const int bits = vexBadImageHeader(image);
    if (bits == 0) return true;
    char* text = ownHeaderMessage(bits);
    vexError(VEX_StsBadArg, site.func, text, site.file, line);
    ownFreeHeaderMessage(text);
    return false;
}

namespace {

// One step of the field-by-field sequence: a condition and its text, with
// %s standing for the argument's name.
struct OwnFieldCheck {
    enum When { kAlways, kWithRoi, kTiled } when;
    bool (*failed)(const VexImage*);
    const char* format;
};

const OwnFieldCheck kFieldChecks[] = {
    {OwnFieldCheck::kAlways, [](const VexImage* i) { return vexBadImageHeader(i) != 0; },
     "vexBadImageHeader(%s) != 0"},
    {OwnFieldCheck::kAlways, [](const VexImage* i) { return i->width <= 0; }, "%s->width <= 0"},
    {OwnFieldCheck::kAlways, [](const VexImage* i) { return i->height <= 0; }, "%s->height <= 0"},
    {OwnFieldCheck::kAlways, [](const VexImage* i) { return i->nChannels <= 0; },
     "%s->nChannels <= 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->width <= 0; },
     "%s->roi->width <= 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->height <= 0; },
     "%s->roi->height <= 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->xOffset < 0; },
     "%s->roi->xOffset < 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->yOffset < 0; },
     "%s->roi->yOffset < 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->xOffset >= i->width; },
     "%1$s->roi->xOffset >= %1$s->width"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->yOffset >= i->height; },
     "%1$s->roi->yOffset >= %1$s->height"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->coi < 0; },
     "%s->roi->coi < 0"},
    {OwnFieldCheck::kWithRoi, [](const VexImage* i) { return i->roi->coi > i->nChannels; },
     "%1$s->roi->coi > %1$s->nChannels"},
    {OwnFieldCheck::kAlways,
     [](const VexImage* i) { return i->imageData == nullptr && i->tileInfo == nullptr; },
     "%1$s->imageData == ((void*)(0)) && %1$s->tileInfo == ((void*)(0))"},
    {OwnFieldCheck::kAlways,
     [](const VexImage* i) { return i->imageData != nullptr && i->tileInfo != nullptr; },
     "%1$s->imageData != ((void*)(0)) && %1$s->tileInfo != ((void*)(0))"},
    {OwnFieldCheck::kTiled, [](const VexImage* i) { return i->tileInfo->callBack == nullptr; },
     "%s->tileInfo->callBack==0"},
    {OwnFieldCheck::kTiled, [](const VexImage* i) { return i->tileInfo->width <= 0; },
     "%s->tileInfo->width <= 0"},
    {OwnFieldCheck::kTiled, [](const VexImage* i) { return i->tileInfo->height <= 0; },
     "%s->tileInfo->height <= 0"},
};

}  // namespace

bool ownImageFieldsOk(const OwnSite& site, const VexImage* image, const char* name, int line) {
    char text[160];
    if (!image) {
        std::snprintf(text, sizeof text, "%s==0", name);
        ownFail(site, true, text, line);
        return false;
    }
    for (const auto& check : kFieldChecks) {
        if (check.when == OwnFieldCheck::kWithRoi && !image->roi) continue;
        if (check.when == OwnFieldCheck::kTiled && !image->tileInfo) continue;
        if (check.failed(image)) {
            std::snprintf(text, sizeof text, check.format, name);
            ownFail(site, true, text, line);
            return false;
        }
    }
    return true;
}

void ownCheckCompatible(const OwnSite& site, const VexImage* a, const VexImage* b,
                        const char* nameA, const char* nameB, int line) {
    char text[160];
    auto check = [&](bool failed, const char* field) {
        if (!failed) return;
        std::snprintf(text, sizeof text, "%s->%s != %s->%s", nameA, field, nameB, field);
        ownFail(site, true, text, line);
    };
    check(a->depth != b->depth, "depth");
    check(a->dataOrder != b->dataOrder, "dataOrder");
    check(a->origin != b->origin, "origin");
}

}  // namespace vex

using namespace vex;

extern "C" VEXAPI int vexBadImageHeader(const VexImage* image) {
    if (!image) return VEX_BAD_HEADER_NULL;
    int bits = 0;
    const VexTileInfo* tiles = image->tileInfo;
    if ((image->imageData == nullptr) == (tiles == nullptr)) bits |= VEX_BAD_HEADER_DATA;
    if ((image->dataSize <= 0 && !tiles) || image->height <= 0 || image->width <= 0)
        bits |= VEX_BAD_HEADER_SIZE;
    // A buffer smaller than its declared layout would be overrun by every
    // operation; it counts as an invalid size too.
    else if (!tiles && ownDepthIndex(image->depth) >= 0 && image->nChannels > 0 &&
             (image->align == 4 || image->align == 8) &&
             (image->dataOrder == 0 || image->dataOrder == 1) &&
             image->dataSize < ownDataSize(image->height, image->width, image->depth,
                                           image->nChannels, image->dataOrder, image->align))
        bits |= VEX_BAD_HEADER_SIZE;
    if (image->widthStep <= 0 && !tiles) bits |= VEX_BAD_HEADER_STEP;
    if (image->nChannels <= 0) bits |= VEX_BAD_HEADER_CHANNELS;
    if (image->depth == VEX_DEPTH_1U && image->nChannels != 1) bits |= VEX_BAD_HEADER_1U_CHANNELS;
    if (ownDepthIndex(image->depth) < 0) bits |= VEX_BAD_HEADER_DEPTH;
    if (image->alphaChannel < 0 || image->alphaChannel > image->nChannels)
        bits |= VEX_BAD_HEADER_ALPHA;
    if (image->dataOrder != 0 && image->dataOrder != 1) bits |= VEX_BAD_HEADER_ORDER;
    if (image->origin != 0 && image->origin != 1) bits |= VEX_BAD_HEADER_ORIGIN;
    if (image->align != 4 && image->align != 8) bits |= VEX_BAD_HEADER_ALIGN;
    if (tiles && !tiles->callBack) bits |= VEX_BAD_HEADER_CALLBACK;
    if (tiles && (tiles->width <= 0 || tiles->height <= 0 || tiles->width % 8 != 0 ||
                  tiles->height % 8 != 0))
        bits |= VEX_BAD_HEADER_TILE_SIZE;
    if (const VexROI* roi = image->roi) {
        if (roi->coi < 0 || roi->coi > image->nChannels) bits |= VEX_BAD_HEADER_COI;
        if (roi->height <= 0 || roi->width <= 0) bits |= VEX_BAD_HEADER_ROI_SIZE;
        if (roi->xOffset < 0 || roi->yOffset < 0) bits |= VEX_BAD_HEADER_ROI_OFFSET;
    }
    return bits;
}
