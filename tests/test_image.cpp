// Image headers: creation, allocation and release; header validation and its
// messages; the argument-check helpers; ROI, tiling and border records; the
// border rule for pixels, rows and columns on untiled and tiled images.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "image/ownimage.h"
#include "vexlib.h"
#include "filterref.h"
#include "vextest.h"

namespace {

using std::make_tuple;

VexImage* header(int nChannels, unsigned depth, int order, int align, int height, int width,
                 const char* space = "RGBA", const char* seq = "BGRA") {
    return vexCreateImageHeader(nChannels, 0, int(depth), space, seq, order, 0, align, height, width,
                                nullptr, nullptr, nullptr);
}
VexImage* gray(int height, int width, int align = 4) { return header(1, VEX_DEPTH_8U, 0, align, height, width); }
int bufferSize(int height, int width, unsigned depth, int nChannels, int order, int align) {
    return vt::rowStep(width, depth, nChannels, order, align) * height * (order ? nChannels : 1);
}

struct HeaderArgs {
    int nChannels = 3, alpha = 0, depth = VEX_DEPTH_8U;
    const char *colorSpace = "RGB", *channelSeq = "BGR";
    int order = VEX_DATA_ORDER_PIXEL, origin = VEX_ORIGIN_TL, align = 4, height = 4, width = 5;
    VexImage* create(VexROI* roi = nullptr, void* user = nullptr, VexTileInfo* tile = nullptr) const {
        return vexCreateImageHeader(nChannels, alpha, depth, colorSpace, channelSeq, order, origin,
                                    align, height, width, roi, user, tile);
    }
};

// One field changed from a valid header: refused, or accepted with its row
// step and size by the row rule; then the fields a header stores.
TEST(ImageHeader, CreationChecksAndStoresFields) {
    using A = HeaderArgs;
    const std::tuple<int A::*, int, bool> kCases[] = {
        {&A::nChannels, 0, false}, {&A::alpha, -1, false}, {&A::alpha, 4, false}, {&A::depth, 32, false},
        {&A::depth, 0, false}, {&A::depth, int(VEX_DEPTH_SIGN | 1u), false}, {&A::order, 2, false},
        {&A::order, -1, false}, {&A::origin, 2, false}, {&A::align, 2, false}, {&A::align, 16, false},
        {&A::height, -1, false}, {&A::width, -1, false}, {&A::alpha, 3, true}, {&A::width, 0, true},
        {&A::height, 0, true}, {&A::order, 1, true}, {&A::origin, 1, true}, {&A::align, 8, true}};
    for (const auto& [field, value, ok] : kCases) {
        A a;
        a.*field = value;
        VexImage* image = a.create();
        ASSERT_EQ(image != nullptr, ok) << value;
        if (!image) continue;
        EXPECT_EQ(make_tuple(image->widthStep, image->dataSize),
                  make_tuple(vt::rowStep(a.width, a.depth, a.nChannels, a.order, a.align),
                             bufferSize(a.height, a.width, a.depth, a.nChannels, a.order, a.align))) << value;
        vexDeallocateHeader(image);
    }
    A a;
    a.colorSpace = nullptr;
    EXPECT_EQ(a.create(), nullptr);
    a.colorSpace = "Y", a.channelSeq = nullptr;
    EXPECT_EQ(a.create(), nullptr);

    VexROI roi = {1, 0, 0, 1, 1};
    VexTileInfo tile = {};
    int user = 0;
    a.colorSpace = "RGBA", a.channelSeq = "BGRA", a.nChannels = 4, a.alpha = 4;
    a.height = 7, a.width = 9, a.origin = VEX_ORIGIN_BL;
    VexImage* image = a.create(&roi, &user, &tile);
    ASSERT_NE(image, nullptr);
    const VexImage& i = *image;
    EXPECT_EQ(make_tuple(i.headerSize, i.headerId, i.nChannels, i.alphaChannel, i.depth, i.origin, i.height,
                         i.width, i.widthStep, i.dataSize),
              make_tuple(int(sizeof(VexImage)), 0, 4, 4, VEX_DEPTH_8U, 1, 7, 9, 36, 252));
    EXPECT_EQ(std::string(i.colorSpace, 4) + std::string(i.channelSeq, 4), "RGBABGRA");
    EXPECT_EQ(make_tuple(i.roi, i.userData, i.tileInfo), make_tuple(&roi, (void*)&user, &tile));
    EXPECT_EQ(make_tuple(i.maskImage, i.imageData, i.dataBlock),
              make_tuple((VexImage*)nullptr, (char*)nullptr, (char*)nullptr));
    for (int s = 0; s < 4; ++s) EXPECT_EQ(i.borderMode[s] | i.borderValue[s], 0);
    vexDeallocateHeader(image);
    image = header(1, VEX_DEPTH_8U, 0, 4, 1, 1, "Y", "");  // short names padded, not overread
    EXPECT_EQ(std::string(image->colorSpace, 4) + std::string(image->channelSeq, 4), std::string("Y\0\0\0\0\0\0\0", 8));
    vexDeallocateHeader(image);
}

// Worked examples, then every depth, order, alignment, channel count and
// width against the rule "row bytes rounded up to align".
TEST(ImageHeader, RowStepAndDataSize) {
    const std::tuple<unsigned, int, int, int, int, int, int> kCases[] = {  // height 2
        {VEX_DEPTH_8U, 3, 0, 4, 5, 16, 32}, {VEX_DEPTH_8U, 3, 1, 4, 5, 8, 48},
        {VEX_DEPTH_1U, 1, 0, 4, 33, 8, 16}, {VEX_DEPTH_16U, 3, 1, 8, 5, 16, 96}};
    for (const auto& [depth, nch, order, align, width, step, size] : kCases)
        EXPECT_EQ(make_tuple(vt::rowStep(width, depth, nch, order, align), bufferSize(2, width, depth, nch, order, align)),
                  make_tuple(step, size));
    for (unsigned depth : vt::kDepths)
        for (int order : {0, 1})
            for (int align : {4, 8})
                for (int nch = 1; nch <= (depth == VEX_DEPTH_1U ? 1 : 4); ++nch)
                    for (int width = 0; width <= 40; ++width) {
                        VexImage* image = header(nch, depth, order, align, 3, width);
                        ASSERT_NE(image, nullptr);
                        EXPECT_EQ(make_tuple(image->widthStep, image->dataSize),
                                  make_tuple(vt::rowStep(width, depth, nch, order, align),
                                             bufferSize(3, width, depth, nch, order, align)));
                        vexDeallocateHeader(image);
                    }
}

TEST(ImageAllocate, FillAlignmentAndRefusal) {
    const struct {
        unsigned depth;
        int fill;
        uint8_t word[4];  // memory order
    } kFills[] = {
        {VEX_DEPTH_8U, 0x1ff, {0xff, 0xff, 0xff, 0xff}},    {VEX_DEPTH_8S, -2, {0xfe, 0xfe, 0xfe, 0xfe}},
        {VEX_DEPTH_1U, 2, {0, 0, 0, 0}},                      {VEX_DEPTH_1U, 3, {0xff, 0xff, 0xff, 0xff}},
        {VEX_DEPTH_16U, 0x12345, {0x45, 0x23, 0x45, 0x23}}, {VEX_DEPTH_16S, 0x8001, {0x01, 0x80, 0x01, 0x80}},
        {VEX_DEPTH_32S, 0x01020304, {4, 3, 2, 1}},           {VEX_DEPTH_32S, -2, {0xfe, 0xff, 0xff, 0xff}}};
    for (const auto& k : kFills)
        for (int order : {0, 1}) {  // every byte: all planes and row padding
            VexImage* image = header(k.depth == VEX_DEPTH_1U ? 1 : 3, k.depth, order, 8, 3, 5);
            vexAllocateImage(image, k.fill);
            ASSERT_TRUE(image && image->imageData);
            const auto* p = reinterpret_cast<const uint8_t*>(image->imageData);
            int wrong = 0;
            for (int i = 0; i < image->dataSize; ++i) wrong += p[i] != k.word[i % 4];
            EXPECT_EQ(wrong, 0) << vt::depthName(k.depth) << " fill " << k.fill << " order " << order;
            vexDeallocate(image, VEX_IMAGE_ALL);
        }
    // -1 leaves a fresh large block as the heap gave it, not all 0xff.
    VexImage* image = header(1, VEX_DEPTH_32S, 0, 4, 300, 300);
    vexAllocateImage(image, -1);
    const auto* p = reinterpret_cast<const uint8_t*>(image->imageData);
    EXPECT_FALSE(std::all_of(p, p + image->dataSize, [](uint8_t b) { return b == 0xff; }));
    vexDeallocate(image, VEX_IMAGE_ALL);

    for (int align : {4, 8})
        for (int width = 1; width < 40; width += 3) {
            image = gray(2, width, align);
            image->widthStep = 999, image->dataSize = 1;  // recomputed
            vexAllocateImage(image, 0);
            ASSERT_NE(image->dataBlock, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(image->imageData) % unsigned(align), 0u);
            EXPECT_GE(image->imageData, image->dataBlock);
            const int step = vt::rowStep(width, VEX_DEPTH_8U, 1, 0, align);
            EXPECT_EQ(make_tuple(image->widthStep, image->dataSize), make_tuple(step, 2 * step));
            vexDeallocateImage(image);  // keeps the sizes, clears both pointers
            EXPECT_EQ(make_tuple(image->imageData, image->dataBlock, image->dataSize),
                      make_tuple((char*)nullptr, (char*)nullptr, 2 * step));
            vexDeallocateHeader(image);
        }
    vexAllocateImage(nullptr, 0);
    image = gray(2, 2);
    image->nChannels = 0, image->dataSize = 8;
    vexAllocateImage(image, 0);
    EXPECT_EQ(make_tuple(image->imageData, image->dataSize, image->dataBlock),
              make_tuple((char*)nullptr, 0, (char*)nullptr));
    image->nChannels = 1;  // a bad header is not released by vexDeallocateImage
    vexAllocateImage(image, 0);
    char* block = image->dataBlock;
    image->align = 3;
    vexDeallocateImage(image);
    EXPECT_EQ(image->dataBlock, block);
    image->align = 4;
    vexDeallocate(image, VEX_IMAGE_ALL);
}

// Every flag combination releases exactly its parts of an image with a ROI, a
// tiling record, a buffer and a mask that has all of these and a mask of its
// own. The rest is released here: a part released twice or never shows up
// under the sanitizers.
TEST(ImageDeallocate, EveryFlagCombination) {
    auto make = [](int h, int w) {
        VexImage* i = gray(h, w);
        vexAllocateImage(i, 0);
        return i;
    };
    for (int flags = 0; flags <= VEX_IMAGE_ALL; ++flags) {
        VexImage *image = make(3, 5), *mask = make(3, 5), *maskMask = make(1, 1);
        mask->roi = vexCreateROI(0, 1, 1, 1, 1);
        mask->tileInfo = vexCreateTileInfo(nullptr, 2, 8, 8);
        mask->maskImage = maskMask;
        image->maskImage = mask;
        VexROI* roi = image->roi = vexCreateROI(1, 0, 0, 2, 2);
        VexTileInfo* tile = image->tileInfo = vexCreateTileInfo(nullptr, 1, 8, 8);
        char* block = image->dataBlock;
        vexDeallocate(image, flags);
        if (!(flags & VEX_IMAGE_HEADER)) {
            const bool data = flags & VEX_IMAGE_DATA;
            EXPECT_EQ(make_tuple(!image->roi, !image->maskImage, !image->tileInfo, !image->imageData, !image->dataBlock),
                      make_tuple(bool(flags & VEX_IMAGE_ROI), bool(flags & VEX_IMAGE_MASK),
                                 bool(flags & VEX_IMAGE_TILE), data, data)) << flags;
            vexDeallocate(image, VEX_IMAGE_ALL);
        } else {
            if (!(flags & VEX_IMAGE_ROI)) vexDeleteROI(roi);
            if (!(flags & VEX_IMAGE_MASK)) vexDeallocate(mask, 15);
            if (!(flags & VEX_IMAGE_TILE)) vexDeleteTileInfo(tile);
            if (!(flags & VEX_IMAGE_DATA)) std::free(block);
        }
        vexDeallocate(maskMask, VEX_IMAGE_ALL);  // never the library's to release
    }
    vexDeallocate(nullptr, VEX_IMAGE_ALL);
    VexImage* image = gray(2, 4);  // a buffer attached by hand is not released
    char buffer[8];
    image->imageData = buffer;
    vexDeallocate(image, VEX_IMAGE_DATA);
    EXPECT_EQ(image->imageData, buffer);
    vexDeallocate(image, VEX_IMAGE_HEADER);
}

// ---------------------------------------------------------------------------
// Header validation.

const std::pair<int, const char*> kMessageLines[] = {  // in listing order
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

std::string expectedMessage(int bits) {  // each line padded to 70 characters
    std::string text;
    for (const auto& [bit, line] : kMessageLines)
        if (bits & bit) text += std::string(line) + std::string(70 - std::strlen(line), ' ') + "\n";
    return text;
}

std::string message(int bits) {
    char* text = vex::ownHeaderMessage(bits);
    std::string out = text ? text : "<null>";
    vex::ownFreeHeaderMessage(text);
    return out;
}

void noCallBack(const VexImage*, int, int, int) {}

// A valid header to change: an untiled 3-channel 8U image 5 wide and 4 high
// with a ROI, or its tiled form (tile 16 x 8, dataSize and widthStep 0).
struct Probe {
    vt::Image owner{VEX_DEPTH_8U, 3, 4, 5};
    VexImage h;
    VexROI roi = {1, 1, 1, 2, 2};
    VexTileInfo tile = {noCallBack, 0, nullptr, 16, 8};
    explicit Probe(bool tiled = false) : h(*owner.get()) {
        h.roi = &roi;
        if (tiled) h.imageData = nullptr, h.tileInfo = &tile, h.dataSize = 0, h.widthStep = 0;
    }
};

TEST(ImageValidate, EachBitAlone) {
    const struct {
        const char* name;
        bool tiled;
        void (*change)(Probe&);
        int bits;
    } kCases[] = {
        {"valid", false, [](Probe&) {}, 0}, {"valid tiled, dataSize 0", true, [](Probe&) {}, 0},
        {"roi xOffset == width", false, [](Probe& p) { p.roi.xOffset = 5, p.roi.width = 1; }, 0},
        {"roi far outside", false, [](Probe& p) { p.roi.xOffset = 50, p.roi.yOffset = 40; }, 0},
        {"no data", false, [](Probe& p) { p.h.imageData = nullptr; }, 2},
        {"data and tiles", true, [](Probe& p) { p.h.imageData = p.owner.get()->imageData; }, 2},
        {"dataSize 0", false, [](Probe& p) { p.h.dataSize = 0; }, 4},
        {"dataSize one short", false, [](Probe& p) { --p.h.dataSize; }, 4},
        {"height 0", false, [](Probe& p) { p.h.height = 0; }, 4},
        {"width -1", true, [](Probe& p) { p.h.width = -1; }, 4},
        {"widthStep 0", false, [](Probe& p) { p.h.widthStep = 0; }, 16},
        {"nChannels 0", false, [](Probe& p) { p.h.nChannels = 0, p.roi.coi = 0; }, 32},
        {"1U with 3 channels", false, [](Probe& p) { p.h.depth = VEX_DEPTH_1U; }, 64},
        {"depth 32", false, [](Probe& p) { p.h.depth = 32; }, 128},
        {"depth signed 1", false, [](Probe& p) { p.h.depth = VEX_DEPTH_SIGN | 1u; }, 128},
        {"alpha -1", false, [](Probe& p) { p.h.alphaChannel = -1; }, 256},
        {"alpha 4", false, [](Probe& p) { p.h.alphaChannel = 4; }, 256},
        {"order 2", false, [](Probe& p) { p.h.dataOrder = 2; }, 512},
        {"origin -1", false, [](Probe& p) { p.h.origin = -1; }, 1024},
        {"align 2", false, [](Probe& p) { p.h.align = 2; }, 2048},
        {"callback null", true, [](Probe& p) { p.tile.callBack = nullptr; }, 4096},
        {"tile width 12", true, [](Probe& p) { p.tile.width = 12; }, 8192},
        {"tile height 0", true, [](Probe& p) { p.tile.height = 0; }, 8192},
        {"tile width -8", true, [](Probe& p) { p.tile.width = -8; }, 8192},
        {"coi 4", false, [](Probe& p) { p.roi.coi = 4; }, 16384},
        {"coi -1", false, [](Probe& p) { p.roi.coi = -1; }, 16384},
        {"roi width 0", false, [](Probe& p) { p.roi.width = 0; }, 32768},
        {"roi height -1", false, [](Probe& p) { p.roi.height = -1; }, 32768},
        {"roi yOffset -1", false, [](Probe& p) { p.roi.yOffset = -1; }, 8},
        {"roi xOffset -1, width 0", false, [](Probe& p) { p.roi.xOffset = -1, p.roi.width = 0; }, 32768 | 8},
        {"no data, dataSize 0", false, [](Probe& p) { p.h.imageData = nullptr, p.h.dataSize = 0; }, 2 | 4},
    };
    for (const auto& k : kCases) {
        Probe p(k.tiled);
        k.change(p);
        EXPECT_EQ(vexBadImageHeader(&p.h), k.bits) << k.name;
    }
    EXPECT_EQ(vexBadImageHeader(nullptr), VEX_BAD_HEADER_NULL);
}

TEST(ImageValidate, MessageLinesInTableOrder) {
    EXPECT_EQ(vex::ownHeaderMessage(0), nullptr);
    for (const auto& [bit, line] : kMessageLines) EXPECT_EQ(message(bit), expectedMessage(bit));
    EXPECT_EQ(message(VEX_BAD_HEADER_NULL).size(), 71u);
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {  // all bits, then random sets
        const int bits = i ? int(rng() & 0xffff) : 0xffff;
        EXPECT_EQ(message(bits), expectedMessage(bits)) << bits;
    }
    EXPECT_EQ(message(1 << 16), "Bad status: unknown error");
    EXPECT_EQ(message(int(0x80000000u)), "Bad status: unknown error");
    EXPECT_EQ(message((1 << 20) | VEX_BAD_HEADER_ALIGN), expectedMessage(VEX_BAD_HEADER_ALIGN));
}

const vex::OwnSite kSite = {"vexAdd", "vexadd"};

TEST(ImageValidate, HeaderCheckReportsTheMessage) {
    vt::ReportLog log;
    vexSetErrStatus(VEX_StsOk);
    Probe good, bad;
    EXPECT_TRUE(vex::ownHeaderOk(kSite, &good.h, 10));
    EXPECT_EQ(make_tuple(log.size(), vexGetErrStatus()), make_tuple(size_t(0), VEX_StsOk));
    bad.h.align = 2, bad.h.alphaChannel = 9;
    EXPECT_FALSE(vex::ownHeaderOk(kSite, &bad.h, 123));
    EXPECT_FALSE(vex::ownHeaderOk(kSite, nullptr, 124));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(std::tie(log[0].status, log[0].funcName, log[0].file, log[0].line, log[0].context),
              make_tuple(VEX_StsBadArg, "vexAdd", "vexadd", 123,
                         expectedMessage(VEX_BAD_HEADER_ALIGN | VEX_BAD_HEADER_ALPHA)));
    EXPECT_EQ(log[1].context, expectedMessage(VEX_BAD_HEADER_NULL));
    EXPECT_EQ(vexGetErrStatus(), VEX_StsBadArg);
}

TEST(ImageValidate, FieldSequenceStopsAtFirstFailure) {
    vt::ReportLog log;
    const struct {
        const char* name;
        bool null, tiled;
        void (*change)(Probe&);
        const char* text;  // null: passes
    } kCases[] = {
        {"dstImage", true, false, [](Probe&) {}, "dstImage==0"},
        {"srcImage", false, false, [](Probe& p) { p.h.align = 2, p.roi.xOffset = 9; },
         "vexBadImageHeader(srcImage) != 0"},
        {"srcImageA", false, false, [](Probe& p) { p.roi.xOffset = 5, p.roi.yOffset = 4; },
         "srcImageA->roi->xOffset >= srcImageA->width"},
        {"image", false, true, [](Probe& p) { p.roi.yOffset = 7; }, "image->roi->yOffset >= image->height"},
        {"srcImage", false, false, [](Probe&) {}, nullptr},
        {"srcImage", false, true, [](Probe& p) { p.roi.xOffset = 4, p.roi.yOffset = 3; }, nullptr},
        {"srcImage", false, false, [](Probe& p) { p.h.roi = nullptr; }, nullptr},
    };
    for (const auto& k : kCases) {
        Probe p(k.tiled);
        k.change(p);
        log.clear();
        EXPECT_EQ(vex::ownImageFieldsOk(kSite, k.null ? nullptr : &p.h, k.name, 77), !k.text) << k.name;
        ASSERT_EQ(log.size(), k.text ? 1u : 0u) << k.name;
        if (k.text) {
            EXPECT_EQ(std::tie(log[0].context, log[0].status, log[0].funcName, log[0].file, log[0].line),
                      make_tuple(k.text, VEX_StsBadArg, "vexAdd", "vexadd", 77));
        }
    }
}

TEST(ImageValidate, CompatibilityReportsEachDifference) {
    vt::ReportLog log;
    const char* const kTexts[] = {"srcImage->depth != dstImage->depth", "srcImage->dataOrder != dstImage->dataOrder",
                                  "srcImage->origin != dstImage->origin"};
    for (int diff = 0; diff < 8; ++diff) {
        Probe a, b;
        if (diff & 1) b.h.depth = VEX_DEPTH_16S;
        if (diff & 2) b.h.dataOrder = VEX_DATA_ORDER_PLANE;
        if (diff & 4) b.h.origin = VEX_ORIGIN_BL;
        log.clear();
        vex::ownCheckCompatible(kSite, &a.h, &b.h, "srcImage", "dstImage", 5);
        std::vector<std::string> expected;
        for (int i = 0; i < 3; ++i)
            if (diff & (1 << i)) expected.push_back(kTexts[i]);
        EXPECT_EQ(log.contexts(), expected) << diff;
        for (const auto& r : log.reports()) EXPECT_EQ(r.status, VEX_StsBadArg);
    }
}

// ---------------------------------------------------------------------------
// ROI, tiling and border records.

TEST(ImageRecords, RoiTileInfoAndBorderSides) {
    VexROI* roi = vexCreateROI(2, 10, 20, 30, 40);
    VexTileInfo* t = vexCreateTileInfo(noCallBack, 9, 16, 24);
    ASSERT_TRUE(roi && t);
    auto fields = [&] { return make_tuple(roi->coi, roi->xOffset, roi->yOffset, roi->height, roi->width); };
    auto tileFields = [&] { return make_tuple(t->callBack, t->id, (void*)t->tileData, t->width, t->height); };
    EXPECT_EQ(fields(), make_tuple(2, 10, 20, 30, 40));
    EXPECT_EQ(tileFields(), make_tuple(&noCallBack, 9, nullptr, 16, 24));
    vexSetROI(roi, -1, -2, -3, -4, -5);  // stored unchecked
    char buffer[4];
    t->tileData = buffer;  // reset by the set function
    vexSetTileInfo(t, nullptr, 3, 8, 40);
    EXPECT_EQ(fields(), make_tuple(-1, -2, -3, -4, -5));
    EXPECT_EQ(tileFields(), make_tuple((VexTileCallBack*)nullptr, 3, nullptr, 8, 40));
    vexSetROI(nullptr, 0, 0, 0, 1, 1), vexSetTileInfo(nullptr, noCallBack, 0, 8, 8);
    vexDeleteROI(roi), vexDeleteROI(nullptr), vexDeleteTileInfo(t), vexDeleteTileInfo(nullptr);

    VexImage* h = gray(2, 2);
    for (int sides = 0; sides < 256; sides += (sides < 16 ? 1 : 16)) {
        for (int s = 0; s < 4; ++s) h->borderMode[s] = 10 + s, h->borderValue[s] = 20 + s;
        vexSetBorderMode(h, VEX_BORDER_WRAP, sides, 7);
        for (int s = 0; s < 4; ++s) {
            const bool set = sides >> s & 1;
            EXPECT_EQ(make_tuple(h->borderMode[s], h->borderValue[s]),
                      make_tuple(set ? VEX_BORDER_WRAP : 10 + s, set ? 7 : 20 + s)) << sides << " " << s;
        }
    }
    vexDeallocateHeader(h);
    vexSetBorderMode(nullptr, 1, VEX_SIDE_ALL, 0);
}

// ---------------------------------------------------------------------------
// The border rule.

// Element i of a run in the image's depth (1U packed MSB first).
int64_t runElement(const std::vector<uint8_t>& run, unsigned depth, int i) {
    const int bits = vt::depthBits(depth);
    if (bits == 1) return (run[size_t(i) >> 3] >> (7 - (i & 7))) & 1;
    uint32_t v = 0;
    std::memcpy(&v, &run[size_t(i) * (bits / 8)], size_t(bits / 8));
    return bits == 32 ? int64_t(int32_t(v)) : int64_t(v);
}

// On random layouts, each side gets each mode once over four rotations, plus
// one uniform set per mode. Every point in a band of twice the image size
// around it reads as the reference says (8- and 16-bit samples zero-extended);
// on a tiled image the callback sees exactly (get, release) of the tile read,
// and nothing for a constant. Rows and columns of every length read what the
// per-pixel rule reads, and nothing is written past the run.
TEST(ImageBorder, PixelsRowsAndColumnsFollowTheRule) {
    std::mt19937 rng(2024);
    vt::LayoutLimits limits;
    limits.maxSize = 12, limits.roi = false;
    for (int iter = 0; iter < 30; ++iter) {
        vt::Layout layout = vt::randomLayout(rng, limits);
        if (iter < 2) layout.tiled = true, layout.tileWidth = 8, layout.tileHeight = 8;
        if (iter % 5 == 2) layout.depth = VEX_DEPTH_1U, layout.nChannels = 1;
        SCOPED_TRACE(vt::describe(layout));
        auto image = vt::makeImage(layout, 100 + iter);
        VexImage* h = image->get();
        auto* tiled = dynamic_cast<vt::TiledImage*>(image.get());
        const int w = h->width, ht = h->height, bits = vt::depthBits(h->depth);
        const int64_t mask = bits < 32 ? (int64_t(1) << bits) - 1 : -1;
        for (int combo = 0; combo < 8; ++combo) {
            for (int s = 0; s < 4; ++s)
                h->borderMode[s] = combo < 4 ? (s + combo) % 4 : combo - 4, h->borderValue[s] = -1000 * (s + 1) - combo;
            for (int y = -ht - 3; y < 2 * ht + 3; ++y)
                for (int x = -w - 3; x < 2 * w + 3; ++x)
                    for (int c = 1; c <= h->nChannels; ++c) {
                        const int slot = y < 0 ? 0 : y >= ht ? 1 : x < 0 ? 2 : x >= w ? 3 : -1;
                        const int mode = slot < 0 ? VEX_BORDER_REPLICATE : h->borderMode[slot];
                        const int mx = int(fref::mapCoord(x, w, mode)), my = int(fref::mapCoord(y, ht, mode));
                        const int64_t want = mode == VEX_BORDER_CONSTANT ? h->borderValue[slot]
                                                                         : vt::sample(h, mx, my, c) & mask;
                        if (tiled) tiled->clearCalls();
                        int got = 12345;
                        ASSERT_TRUE(vex::ownGetBorderPixel(h, x, y, c, &got));
                        ASSERT_EQ(got, want) << "x " << x << " y " << y << " c " << c << " combo " << combo;
                        if (!tiled) continue;
                        std::vector<vt::TileCall> calls;
                        if (mode != VEX_BORDER_CONSTANT) {
                            const int tx = mx / layout.tileWidth, ty = my / layout.tileHeight;
                            calls = {{tx, ty, VEX_TILE_GET_READ}, {tx, ty, VEX_TILE_RELEASE}};
                        }
                        ASSERT_EQ(tiled->calls(), calls) << "x " << x << " y " << y;
                    }
            if (combo % 3) continue;  // runs under three of the sets
            for (bool column : {false, true})
                for (int n : {1, 7, 8, 9, 3 * (column ? ht : w) + 5})
                    for (int start = -(column ? ht : w) - 2; start <= 2 * (column ? ht : w); start += 3) {
                        const int c = 1 + (start & 0xffff) % h->nChannels, fixed = start % ((column ? w : ht) + 4) - 2;
                        const int x = column ? fixed : start, y = column ? start : fixed;
                        const size_t used = (size_t(n) * bits + 7) / 8;
                        std::vector<uint8_t> run(used + 8, vt::kSentinel);
                        ASSERT_TRUE(column ? vex::ownGetBorderColumn(h, x, y, c, n, run.data())
                                           : vex::ownGetBorderRow(h, x, y, c, n, run.data()));
                        for (int i = 0; i < n; ++i) {
                            int v;
                            ASSERT_TRUE(vex::ownGetBorderPixel(h, x + (column ? 0 : i), y + (column ? i : 0), c, &v));
                            ASSERT_EQ(runElement(run, h->depth, i), v & mask)
                                << (column ? "column" : "row") << " x " << x << " y " << y << " i " << i;
                        }
                        for (size_t b = used; b < run.size(); ++b) ASSERT_EQ(run[b], vt::kSentinel);
                    }
        }
        EXPECT_EQ(vt::tileFaults(tiled), "");
    }
}

// Modes outside the table read inside the image (checked by the sanitizers);
// a refused tile fails the pixel, row and column reads that need it.
TEST(ImageBorder, OddModesAndRefusedTiles) {
    vt::Image image(VEX_DEPTH_16S, 2, 3, 4);
    image.fillPattern(5);
    for (int mode : {4, 5, 6, 7, -1, 1000}) {
        vexSetBorderMode(image.get(), mode, VEX_SIDE_ALL, 3);
        for (int y = -9; y < 12; ++y)
            for (int x = -9, v; x < 13; ++x) EXPECT_TRUE(vex::ownGetBorderPixel(image.get(), x, y, 2, &v));
    }
    vt::TiledImage tiles(VEX_DEPTH_8U, 1, 16, 24, 8, 8);
    VexImage* h = tiles.get();
    vexSetBorderMode(h, VEX_BORDER_REPLICATE, VEX_SIDE_ALL, 0);
    tiles.refuse(2, 1, VEX_TILE_GET_READ);
    int v = 0;
    std::vector<uint8_t> run(32, 0);
    EXPECT_FALSE(vex::ownGetBorderPixel(h, 17, 9, 1, &v));
    EXPECT_FALSE(vex::ownGetBorderPixel(h, 30, 20, 1, &v));  // corner maps into tile (2, 1)
    EXPECT_TRUE(vex::ownGetBorderPixel(h, 15, 9, 1, &v));
    EXPECT_FALSE(vex::ownGetBorderRow(h, 10, 8, 1, 8, run.data()));
    EXPECT_FALSE(vex::ownGetBorderColumn(h, 20, 0, 1, 10, run.data()));
    EXPECT_TRUE(vex::ownGetBorderColumn(h, 10, -3, 1, 20, run.data()));
    EXPECT_EQ(vt::tileFaults(&tiles), "");
}

// The test pattern reaches both ends of every depth's range, which the
// saturation tests of other families rely on.
TEST(ImageSupport, PatternReachesTheExtremes) {
    for (unsigned depth : vt::kDepths) {
        vt::Image image(depth, 1, 8, 8);
        image.fillPattern(1);
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (int i = 0; i < 64; ++i) lo = std::min(lo, image.sample(i % 8, i / 8, 1)), hi = std::max(hi, image.sample(i % 8, i / 8, 1));
        EXPECT_EQ(make_tuple(lo, hi), make_tuple(vt::depthMin(depth), vt::depthMax(depth))) << vt::depthName(depth);
    }
}

}  // namespace
