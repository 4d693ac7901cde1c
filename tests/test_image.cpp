// Image header creation, allocation and release; header validation and its
// messages; the argument-check helpers; ROI, tiling and border records; the
// per-pixel border rule on untiled and tiled images.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "image/ownimage.h"
#include "vexlib.h"
#include "vextest.h"

namespace {

using vt::ReportLog;

struct HeaderArgs {
    int nChannels = 3, alpha = 0, depth = VEX_DEPTH_8U;
    const char *colorSpace = "RGB", *channelSeq = "BGR";
    int order = VEX_DATA_ORDER_PIXEL, origin = VEX_ORIGIN_TL, align = 4, height = 4, width = 5;
    VexImage* create(VexROI* roi = nullptr, void* user = nullptr,
                     VexTileInfo* tile = nullptr) const {
        return vexCreateImageHeader(nChannels, alpha, depth, colorSpace, channelSeq, order, origin,
                                    align, height, width, roi, user, tile);
    }
};

TEST(ImageHeader, CreationRejectsEachInvalidField) {
    const std::vector<std::pair<const char*, std::function<void(HeaderArgs&)>>> kBad = {
        {"null colorSpace", [](HeaderArgs& a) { a.colorSpace = nullptr; }},
        {"null channelSeq", [](HeaderArgs& a) { a.channelSeq = nullptr; }},
        {"nChannels 0", [](HeaderArgs& a) { a.nChannels = 0; }},
        {"alpha -1", [](HeaderArgs& a) { a.alpha = -1; }},
        {"alpha > nChannels", [](HeaderArgs& a) { a.alpha = 4; }},
        {"depth 32", [](HeaderArgs& a) { a.depth = 32; }},
        {"depth 0", [](HeaderArgs& a) { a.depth = 0; }},
        {"depth signed 1", [](HeaderArgs& a) { a.depth = int(VEX_DEPTH_SIGN | 1u); }},
        {"order 2", [](HeaderArgs& a) { a.order = 2; }},
        {"order -1", [](HeaderArgs& a) { a.order = -1; }},
        {"origin 2", [](HeaderArgs& a) { a.origin = 2; }},
        {"align 2", [](HeaderArgs& a) { a.align = 2; }},
        {"align 16", [](HeaderArgs& a) { a.align = 16; }},
        {"height -1", [](HeaderArgs& a) { a.height = -1; }},
        {"width -1", [](HeaderArgs& a) { a.width = -1; }},
    };
    for (const auto& [name, mutate] : kBad) {
        HeaderArgs a;
        mutate(a);
        EXPECT_EQ(a.create(), nullptr) << name;
    }
    const std::vector<std::function<void(HeaderArgs&)>> kGood = {
        [](HeaderArgs&) {},
        [](HeaderArgs& a) { a.alpha = 3; },
        [](HeaderArgs& a) { a.width = 0; },
        [](HeaderArgs& a) { a.height = 0; },
        [](HeaderArgs& a) { a.origin = VEX_ORIGIN_BL, a.align = 8, a.order = VEX_DATA_ORDER_PLANE; },
        [](HeaderArgs& a) { a.colorSpace = "Y", a.channelSeq = ""; },
    };
    for (size_t i = 0; i < kGood.size(); ++i) {
        HeaderArgs a;
        kGood[i](a);
        VexImage* image = a.create();
        ASSERT_NE(image, nullptr) << i;
        if (a.width == 0 || a.height == 0) {
            EXPECT_EQ(image->dataSize, 0);
        }
        vexDeallocateHeader(image);
    }
}

TEST(ImageHeader, CreationStoresFields) {
    VexROI roi = {1, 0, 0, 1, 1};
    VexTileInfo tile = {};
    int user = 0;
    HeaderArgs a;
    a.colorSpace = "RGBA", a.channelSeq = "BGRA", a.nChannels = 4, a.alpha = 4;
    a.height = 7, a.width = 9, a.origin = VEX_ORIGIN_BL;
    VexImage* image = a.create(&roi, &user, &tile);
    ASSERT_NE(image, nullptr);
    const VexImage& i = *image;
    EXPECT_EQ(std::make_tuple(i.headerSize, i.headerId, i.nChannels, i.alphaChannel, i.depth,
                              i.origin, i.height, i.width, i.widthStep),
              std::make_tuple(int(sizeof(VexImage)), 0, 4, 4, VEX_DEPTH_8U, 1, 7, 9, 36));
    EXPECT_EQ(std::string(i.colorSpace, 4) + std::string(i.channelSeq, 4), "RGBABGRA");
    EXPECT_EQ(std::make_tuple(i.roi, i.userData, i.tileInfo), std::make_tuple(&roi, (void*)&user, &tile));
    EXPECT_EQ(std::make_tuple(i.maskImage, i.imageData, i.dataBlock),
              std::make_tuple((VexImage*)nullptr, (char*)nullptr, (char*)nullptr));
    for (int s = 0; s < 4; ++s) EXPECT_EQ(i.borderMode[s] | i.borderValue[s], 0);
    vexDeallocateHeader(image);
}

TEST(ImageHeader, RowStepAndDataSize) {
    const struct {
        unsigned depth;
        int nChannels, order, align, width, height, step, size;
    } kCases[] = {
        {VEX_DEPTH_8U, 3, VEX_DATA_ORDER_PIXEL, 4, 5, 7, 16, 16 * 7},
        {VEX_DEPTH_8U, 3, VEX_DATA_ORDER_PLANE, 4, 5, 7, 8, 24 * 7},
        {VEX_DEPTH_1U, 1, VEX_DATA_ORDER_PIXEL, 4, 33, 2, 8, 16},
        {VEX_DEPTH_16U, 3, VEX_DATA_ORDER_PLANE, 8, 5, 2, 16, 96},
        {VEX_DEPTH_8S, 1, VEX_DATA_ORDER_PIXEL, 4, 0, 5, 0, 0},
    };
    for (const auto& k : kCases) {
        VexImage* image = vexCreateImageHeader(k.nChannels, 0, int(k.depth), "RGB", "BGR", k.order,
                                               0, k.align, k.height, k.width, nullptr, nullptr,
                                               nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->widthStep, k.step) << vt::depthName(k.depth) << " w" << k.width;
        EXPECT_EQ(image->dataSize, k.size) << vt::depthName(k.depth) << " w" << k.width;
        vexDeallocateHeader(image);
    }
    // The whole matrix against the rule "row bytes rounded up to align".
    for (unsigned depth : vt::kDepths)
        for (int order : {0, 1})
            for (int align : {4, 8})
                for (int nch = 1; nch <= (depth == VEX_DEPTH_1U ? 1 : 4); ++nch)
                    for (int width = 0; width <= 40; ++width) {
                        VexImage* image = vexCreateImageHeader(nch, 0, int(depth), "RGBA", "BGRA",
                                                               order, 0, align, 3, width, nullptr,
                                                               nullptr, nullptr);
                        ASSERT_NE(image, nullptr);
                        EXPECT_EQ(image->widthStep, vt::rowStep(width, depth, nch, order, align));
                        EXPECT_EQ(image->dataSize,
                                  vt::bufferSize(3, width, depth, nch, order, align));
                        vexDeallocateHeader(image);
                    }
}

TEST(ImageAllocate, FillPatternsCoverWholeBuffer) {
    const struct {
        unsigned depth;
        int fill;
        uint8_t word[4];  // memory order
    } kCases[] = {
        {VEX_DEPTH_8U, 0x1ff, {0xff, 0xff, 0xff, 0xff}},
        {VEX_DEPTH_8S, -2, {0xfe, 0xfe, 0xfe, 0xfe}},
        {VEX_DEPTH_1U, 2, {0, 0, 0, 0}},
        {VEX_DEPTH_1U, 3, {0xff, 0xff, 0xff, 0xff}},
        {VEX_DEPTH_16U, 0x12345, {0x45, 0x23, 0x45, 0x23}},
        {VEX_DEPTH_16S, 0x8001, {0x01, 0x80, 0x01, 0x80}},
        {VEX_DEPTH_32S, 0x01020304, {0x04, 0x03, 0x02, 0x01}},
        {VEX_DEPTH_32S, -2, {0xfe, 0xff, 0xff, 0xff}},
    };
    for (const auto& k : kCases)
        for (int order : {0, 1}) {
            const int nch = k.depth == VEX_DEPTH_1U ? 1 : 3;
            VexImage* image = vexCreateImageHeader(nch, 0, int(k.depth), "RGB", "BGR", order, 0, 8,
                                                   3, 5, nullptr, nullptr, nullptr);
            ASSERT_NE(image, nullptr);
            vexAllocateImage(image, k.fill);
            ASSERT_NE(image->imageData, nullptr);
            const auto* p = reinterpret_cast<const uint8_t*>(image->imageData);
            int wrong = 0;
            for (int i = 0; i < image->dataSize; ++i) wrong += p[i] != k.word[i % 4];
            EXPECT_EQ(wrong, 0) << vt::depthName(k.depth) << " fill " << k.fill;
            vexDeallocate(image, VEX_IMAGE_ALL);
        }
    // -1 leaves the buffer as the heap gave it: a fresh large block is not
    // all 0xff, which filling with the pattern of -1 would give.
    VexImage* image = vexCreateImageHeader(1, 0, int(VEX_DEPTH_32S), "G", "G", 0, 0, 4, 300, 300,
                                           nullptr, nullptr, nullptr);
    vexAllocateImage(image, -1);
    ASSERT_NE(image->imageData, nullptr);
    const auto* p = reinterpret_cast<const uint8_t*>(image->imageData);
    bool allOnes = true;
    for (int i = 0; i < image->dataSize && allOnes; ++i) allOnes = p[i] == 0xff;
    EXPECT_FALSE(allOnes);
    vexDeallocate(image, VEX_IMAGE_ALL);
}

TEST(ImageAllocate, AlignmentRecomputationAndRefusal) {
    for (int align : {4, 8})
        for (int width = 1; width < 40; width += 3) {
            VexImage* image = vexCreateImageHeader(1, 0, int(VEX_DEPTH_8U), "G", "G", 0, 0, align,
                                                   2, width, nullptr, nullptr, nullptr);
            image->widthStep = 999;
            image->dataSize = 1;
            vexAllocateImage(image, 0);
            ASSERT_NE(image->dataBlock, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(image->imageData) % unsigned(align), 0u);
            EXPECT_GE(image->imageData, image->dataBlock);
            EXPECT_EQ(image->widthStep, vt::rowStep(width, VEX_DEPTH_8U, 1, 0, align));
            EXPECT_EQ(image->dataSize, 2 * image->widthStep);
            // Release keeps the sizes and clears both pointers.
            vexDeallocateImage(image);
            EXPECT_EQ(image->imageData, nullptr);
            EXPECT_EQ(image->dataBlock, nullptr);
            EXPECT_EQ(image->dataSize, 2 * image->widthStep);
            vexDeallocateHeader(image);
        }
    vexAllocateImage(nullptr, 0);
    VexImage* image = vexCreateImageHeader(1, 0, int(VEX_DEPTH_8U), "G", "G", 0, 0, 4, 2, 2,
                                           nullptr, nullptr, nullptr);
    image->nChannels = 0;
    image->dataSize = 8;
    vexAllocateImage(image, 0);
    EXPECT_EQ(image->imageData, nullptr);
    EXPECT_EQ(image->dataSize, 0);
    EXPECT_EQ(image->dataBlock, nullptr);
    // A bad header is not released by vexDeallocateImage.
    image->nChannels = 1;
    vexAllocateImage(image, 0);
    char* block = image->dataBlock;
    image->align = 3;
    vexDeallocateImage(image);
    EXPECT_EQ(image->dataBlock, block);
    image->align = 4;
    vexDeallocate(image, VEX_IMAGE_ALL);
}

// Builds an image with every attachment: ROI, tiling record, buffer, and a
// mask image that has its own ROI, tiling record, buffer and mask.
struct Attached {
    VexImage *image, *mask, *maskMask;
    VexROI* roi;
    VexTileInfo* tile;
    char* block;
    Attached() {
        auto make = [](int h, int w) {
            VexImage* i = vexCreateImageHeader(1, 0, int(VEX_DEPTH_8U), "G", "G", 0, 0, 4, h, w,
                                               nullptr, nullptr, nullptr);
            vexAllocateImage(i, 0);
            return i;
        };
        image = make(3, 5);
        mask = make(3, 5);
        maskMask = make(1, 1);
        mask->roi = vexCreateROI(0, 1, 1, 1, 1);
        mask->tileInfo = vexCreateTileInfo(nullptr, 2, 8, 8);
        mask->maskImage = maskMask;
        image->maskImage = mask;
        image->roi = roi = vexCreateROI(1, 0, 0, 2, 2);
        image->tileInfo = tile = vexCreateTileInfo(nullptr, 1, 8, 8);
        block = image->dataBlock;
    }
};

// Every flag combination releases exactly its parts: the rest is released
// here, so a part released twice or never shows up under the sanitizers.
TEST(ImageDeallocate, EveryFlagCombination) {
    for (int flags = 0; flags <= VEX_IMAGE_ALL; ++flags) {
        Attached a;
        vexDeallocate(a.image, flags);
        if (!(flags & VEX_IMAGE_HEADER)) {
            EXPECT_EQ(a.image->roi == nullptr, bool(flags & VEX_IMAGE_ROI)) << flags;
            EXPECT_EQ(a.image->maskImage == nullptr, bool(flags & VEX_IMAGE_MASK)) << flags;
            EXPECT_EQ(a.image->tileInfo == nullptr, bool(flags & VEX_IMAGE_TILE)) << flags;
            EXPECT_EQ(a.image->imageData == nullptr, bool(flags & VEX_IMAGE_DATA)) << flags;
            EXPECT_EQ(a.image->dataBlock == nullptr, bool(flags & VEX_IMAGE_DATA)) << flags;
            vexDeallocate(a.image, VEX_IMAGE_ALL);
        } else {
            if (!(flags & VEX_IMAGE_ROI)) vexDeleteROI(a.roi);
            if (!(flags & VEX_IMAGE_MASK)) vexDeallocate(a.mask, 15);
            if (!(flags & VEX_IMAGE_TILE)) vexDeleteTileInfo(a.tile);
            if (!(flags & VEX_IMAGE_DATA)) std::free(a.block);
        }
        vexDeallocate(a.maskMask, VEX_IMAGE_ALL);  // never the library's to release
    }
    vexDeallocate(nullptr, VEX_IMAGE_ALL);
}

TEST(ImageDeallocate, HandAttachedBufferIsNotReleased) {
    VexImage* image = vexCreateImageHeader(1, 0, int(VEX_DEPTH_8U), "G", "G", 0, 0, 4, 2, 4,
                                           nullptr, nullptr, nullptr);
    char buffer[8];
    image->imageData = buffer;
    vexDeallocate(image, VEX_IMAGE_DATA);
    EXPECT_EQ(image->imageData, buffer);
    vexDeallocate(image, VEX_IMAGE_HEADER);
}

// ---------------------------------------------------------------------------
// Header validation.

// The message lines in listing order.
const std::pair<int, const char*> kMessageLines[] = {
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

std::string expectedMessage(int bits) {
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

// A valid header to mutate: an untiled 3-channel 8U image with a ROI, or its
// tiled form (tile 16 x 8, dataSize and widthStep 0).
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
        void (*mutate)(Probe&);
        int bits;
    } kCases[] = {
        {"valid", false, [](Probe&) {}, 0},
        {"valid tiled, dataSize 0", true, [](Probe&) {}, 0},
        {"roi xOffset == width", false, [](Probe& p) { p.roi.xOffset = 5, p.roi.width = 1; }, 0},
        {"roi far outside", false, [](Probe& p) { p.roi.xOffset = 50, p.roi.yOffset = 40; }, 0},
        {"no data", false, [](Probe& p) { p.h.imageData = nullptr; }, 2},
        {"data and tiles", true, [](Probe& p) { p.h.imageData = p.owner.get()->imageData; }, 2},
        {"dataSize 0", false, [](Probe& p) { p.h.dataSize = 0; }, 4},
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
        {"roi xOffset -1, width 0", false, [](Probe& p) { p.roi.xOffset = -1, p.roi.width = 0; },
         32768 | 8},
        {"no data, dataSize 0", false, [](Probe& p) { p.h.imageData = nullptr, p.h.dataSize = 0; },
         2 | 4},
    };
    for (const auto& k : kCases) {
        Probe p(k.tiled);
        k.mutate(p);
        EXPECT_EQ(vexBadImageHeader(&p.h), k.bits) << k.name;
    }
    EXPECT_EQ(vexBadImageHeader(nullptr), VEX_BAD_HEADER_NULL);
}

TEST(ImageValidate, MessageLinesInTableOrder) {
    EXPECT_EQ(vex::ownHeaderMessage(0), nullptr);
    for (const auto& [bit, line] : kMessageLines) {
        ASSERT_LE(std::strlen(line), 70u);
        EXPECT_EQ(message(bit), expectedMessage(bit));
        EXPECT_EQ(message(bit).size(), 71u);
    }
    EXPECT_EQ(message(VEX_BAD_HEADER_DATA | VEX_BAD_HEADER_SIZE),
              expectedMessage(VEX_BAD_HEADER_DATA) + expectedMessage(VEX_BAD_HEADER_SIZE));
    // Bit 8 is listed last.
    EXPECT_EQ(message(VEX_BAD_HEADER_ROI_OFFSET | VEX_BAD_HEADER_ROI_SIZE),
              expectedMessage(VEX_BAD_HEADER_ROI_SIZE) + expectedMessage(VEX_BAD_HEADER_ROI_OFFSET));
    EXPECT_EQ(message(0xffff), expectedMessage(0xffff));
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        const int bits = int(rng() & 0xffff);
        EXPECT_EQ(message(bits), expectedMessage(bits)) << bits;
    }
    EXPECT_EQ(message(1 << 16), "Bad status: unknown error");
    EXPECT_EQ(message(int(0x80000000u)), "Bad status: unknown error");
    EXPECT_EQ(message((1 << 20) | VEX_BAD_HEADER_ALIGN), expectedMessage(VEX_BAD_HEADER_ALIGN));
}

const vex::OwnSite kSite = {"vexAdd", "vexadd"};

TEST(ImageValidate, HeaderCheckReportsTheMessage) {
    ReportLog log;
    vexSetErrStatus(VEX_StsOk);
    Probe good;
    EXPECT_TRUE(vex::ownHeaderOk(kSite, &good.h, 10));
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);

    Probe bad;
    bad.h.align = 2, bad.h.alphaChannel = 9;
    EXPECT_FALSE(vex::ownHeaderOk(kSite, &bad.h, 123));
    EXPECT_FALSE(vex::ownHeaderOk(kSite, nullptr, 124));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].status, VEX_StsBadArg);
    EXPECT_EQ(log[0].funcName, "vexAdd");
    EXPECT_EQ(log[0].file, "vexadd");
    EXPECT_EQ(log[0].line, 123);
    EXPECT_EQ(log[0].context, expectedMessage(VEX_BAD_HEADER_ALIGN | VEX_BAD_HEADER_ALPHA));
    EXPECT_EQ(log[1].context, expectedMessage(VEX_BAD_HEADER_NULL));
    EXPECT_EQ(vexGetErrStatus(), VEX_StsBadArg);
}

TEST(ImageValidate, FieldSequenceStopsAtFirstFailure) {
    ReportLog log;
    const struct {
        const char* name;
        bool null, tiled;
        void (*mutate)(Probe&);
        const char* text;  // null: passes
    } kCases[] = {
        {"dstImage", true, false, [](Probe&) {}, "dstImage==0"},
        {"srcImage", false, false, [](Probe& p) { p.h.align = 2, p.roi.xOffset = 9; },
         "vexBadImageHeader(srcImage) != 0"},
        {"srcImageA", false, false, [](Probe& p) { p.roi.xOffset = 5, p.roi.yOffset = 4; },
         "srcImageA->roi->xOffset >= srcImageA->width"},
        {"image", false, true, [](Probe& p) { p.roi.yOffset = 7; },
         "image->roi->yOffset >= image->height"},
        {"srcImage", false, false, [](Probe&) {}, nullptr},
        {"srcImage", false, true, [](Probe& p) { p.roi.xOffset = 4, p.roi.yOffset = 3; }, nullptr},
        {"srcImage", false, false, [](Probe& p) { p.h.roi = nullptr; }, nullptr},
    };
    for (const auto& k : kCases) {
        Probe p(k.tiled);
        k.mutate(p);
        log.clear();
        const bool ok = vex::ownImageFieldsOk(kSite, k.null ? nullptr : &p.h, k.name, 77);
        EXPECT_EQ(ok, k.text == nullptr) << k.name;
        ASSERT_EQ(log.size(), k.text ? 1u : 0u) << k.name;
        if (!k.text) continue;
        EXPECT_EQ(log[0].context, k.text);
        EXPECT_EQ(log[0].status, VEX_StsBadArg);
        EXPECT_EQ(log[0].funcName, "vexAdd");
        EXPECT_EQ(log[0].file, "vexadd");
        EXPECT_EQ(log[0].line, 77);
    }
}

TEST(ImageValidate, CompatibilityReportsEachDifference) {
    ReportLog log;
    const char* const kTexts[] = {"srcImage->depth != dstImage->depth",
                                  "srcImage->dataOrder != dstImage->dataOrder",
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

TEST(ImageRecords, RoiAndTileInfo) {
    auto fields = [](const VexROI* r) {
        return std::make_tuple(r->coi, r->xOffset, r->yOffset, r->height, r->width);
    };
    VexROI* roi = vexCreateROI(2, 10, 20, 30, 40);
    ASSERT_NE(roi, nullptr);
    EXPECT_EQ(fields(roi), std::make_tuple(2, 10, 20, 30, 40));
    vexSetROI(roi, -1, -2, -3, -4, -5);  // stored unchecked
    EXPECT_EQ(fields(roi), std::make_tuple(-1, -2, -3, -4, -5));
    vexSetROI(nullptr, 0, 0, 0, 1, 1);
    vexDeleteROI(roi);
    vexDeleteROI(nullptr);

    auto tileFields = [](const VexTileInfo* t) {
        return std::make_tuple(t->callBack, t->id, t->tileData, t->width, t->height);
    };
    VexTileInfo* tile = vexCreateTileInfo(noCallBack, 9, 16, 24);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tileFields(tile), std::make_tuple(&noCallBack, 9, (char*)nullptr, 16, 24));
    char buffer[4];
    tile->tileData = buffer;  // reset by the set function
    vexSetTileInfo(tile, nullptr, 3, 8, 40);
    EXPECT_EQ(tileFields(tile), std::make_tuple((VexTileCallBack*)nullptr, 3, (char*)nullptr, 8, 40));
    vexSetTileInfo(nullptr, noCallBack, 0, 8, 8);
    vexDeleteTileInfo(tile);
    vexDeleteTileInfo(nullptr);
}

TEST(ImageRecords, BorderModeSetsOnlySelectedSides) {
    vt::Image image(VEX_DEPTH_8U, 1, 2, 2);
    VexImage* h = image.get();
    for (int sides = 0; sides < 256; sides += (sides < 16 ? 1 : 16)) {
        for (int s = 0; s < 4; ++s) h->borderMode[s] = 10 + s, h->borderValue[s] = 20 + s;
        vexSetBorderMode(h, VEX_BORDER_WRAP, sides, 7);
        for (int s = 0; s < 4; ++s) {
            const bool set = sides & (1 << s);
            EXPECT_EQ(h->borderMode[s], set ? VEX_BORDER_WRAP : 10 + s) << sides << " " << s;
            EXPECT_EQ(h->borderValue[s], set ? 7 : 20 + s) << sides << " " << s;
        }
    }
    vexSetBorderMode(nullptr, 1, VEX_SIDE_ALL, 0);
}

// ---------------------------------------------------------------------------
// The border rule.

// Reference coordinate mapping: the identity inside [0, n) for every mode.
int refCoord(int p, int n, int mode) {
    switch (mode) {
        case VEX_BORDER_REFLECT: {  // period 2n, the edge pixel repeated
            const int m = ((p % (2 * n)) + 2 * n) % (2 * n);
            return m < n ? m : 2 * n - 1 - m;
        }
        case VEX_BORDER_WRAP: return ((p % n) + n) % n;
        default: return p < 0 ? 0 : p >= n ? n - 1 : p;
    }
}

// What ownGetPixel yields: 8- and 16-bit samples zero-extended.
int64_t rawSample(const VexImage* image, int x, int y, int c) {
    const int64_t v = vt::sample(image, x, y, c);
    const int bits = vt::depthBits(image->depth);
    return bits < 32 ? v & ((int64_t(1) << bits) - 1) : v;
}

// The governing side of a point outside (-1 inside), and the expected value.
int sideSlot(const VexImage* im, int x, int y) {
    return y < 0 ? 0 : y >= im->height ? 1 : x < 0 ? 2 : x >= im->width ? 3 : -1;
}

TEST(ImageBorder, CoordinateMappingExamples) {
    const int w = 5;
    EXPECT_EQ(vex::ownBorderCoord(-1, w, VEX_BORDER_REFLECT), 0);
    EXPECT_EQ(vex::ownBorderCoord(-2, w, VEX_BORDER_REFLECT), 1);
    EXPECT_EQ(vex::ownBorderCoord(-w, w, VEX_BORDER_REFLECT), w - 1);
    EXPECT_EQ(vex::ownBorderCoord(-w - 1, w, VEX_BORDER_REFLECT), w - 1);
    EXPECT_EQ(vex::ownBorderCoord(w, w, VEX_BORDER_REFLECT), w - 1);
    EXPECT_EQ(vex::ownBorderCoord(w + 2, w, VEX_BORDER_WRAP), 2);
    EXPECT_EQ(vex::ownBorderCoord(-1, w, VEX_BORDER_WRAP), w - 1);
    for (int n : {1, 2, 3, 5, 8})
        for (int mode : {VEX_BORDER_REPLICATE, VEX_BORDER_REFLECT, VEX_BORDER_WRAP})
            for (int p = -4 * n - 1; p < 5 * n + 1; ++p)
                EXPECT_EQ(vex::ownBorderCoord(p, n, mode), refCoord(p, n, mode))
                    << "p " << p << " n " << n << " mode " << mode;
}

// Each side gets each mode once over the rotations, plus one uniform set per
// mode; every point in a band of twice the image size around it is read and
// compared with the reference, and on tiled images the callback must see
// exactly (1, 4) for the tile of the pixel read (nothing for a constant).
TEST(ImageBorder, BorderPixelMatchesRuleOnEveryLayout) {
    std::mt19937 rng(2024);
    vt::LayoutLimits limits;
    limits.maxSize = 12, limits.roi = false;
    for (int iter = 0; iter < 24; ++iter) {
        vt::Layout layout = vt::randomLayout(rng, limits);
        if (iter < 2) layout.tiled = true, layout.tileWidth = 8, layout.tileHeight = 8;
        SCOPED_TRACE(vt::describe(layout));
        auto image = vt::makeImage(layout, 100 + iter);
        VexImage* h = image->get();
        auto* tiled = dynamic_cast<vt::TiledImage*>(image.get());
        for (int combo = 0; combo < 8; ++combo) {
            for (int s = 0; s < 4; ++s) {
                h->borderMode[s] = combo < 4 ? (s + combo) % 4 : combo - 4;
                h->borderValue[s] = -1000 * (s + 1) - combo;
            }
            for (int y = -h->height - 3; y < 2 * h->height + 3; ++y)
                for (int x = -h->width - 3; x < 2 * h->width + 3; ++x)
                    for (int c = 1; c <= h->nChannels; ++c) {
                        const int slot = sideSlot(h, x, y);
                        const int mode = slot < 0 ? VEX_BORDER_REPLICATE : h->borderMode[slot];
                        const int mx = refCoord(x, h->width, mode), my = refCoord(y, h->height, mode);
                        const int64_t want = mode == VEX_BORDER_CONSTANT ? h->borderValue[slot]
                                                                         : rawSample(h, mx, my, c);
                        if (tiled) tiled->clearCalls();
                        int got = 12345;
                        ASSERT_TRUE(vex::ownGetBorderPixel(h, x, y, c, &got));
                        ASSERT_EQ(got, want) << "x " << x << " y " << y << " c " << c << " combo "
                                             << combo;
                        if (!tiled) continue;
                        std::vector<vt::TileCall> calls;
                        if (mode != VEX_BORDER_CONSTANT) {
                            const int tx = mx / layout.tileWidth, ty = my / layout.tileHeight;
                            calls = {{tx, ty, VEX_TILE_GET_READ}, {tx, ty, VEX_TILE_RELEASE}};
                        }
                        ASSERT_EQ(tiled->calls(), calls) << "x " << x << " y " << y;
                    }
        }
        if (tiled) {
            EXPECT_EQ(tiled->releaseMismatches(), 0);
            EXPECT_EQ(tiled->badCalls(), 0);
            EXPECT_EQ(tiled->outstanding(), 0);
        }
    }
}

TEST(ImageBorder, ModesOutsideTheTableStayInside) {
    vt::Image image(VEX_DEPTH_16S, 2, 3, 4);
    image.fillPattern(5);
    VexImage* h = image.get();
    for (int mode : {4, 5, 6, 7, -1, 1000}) {
        vexSetBorderMode(h, mode, VEX_SIDE_ALL, 3);
        for (int y = -9; y < 12; ++y)
            for (int x = -9; x < 13; ++x) {
                int v;
                EXPECT_TRUE(vex::ownGetBorderPixel(h, x, y, 2, &v));
            }
    }
}

TEST(ImageBorder, RefusedTileFailsTheRead) {
    vt::TiledImage image(VEX_DEPTH_8U, 1, 16, 24, 8, 8);
    image.fillPattern(9);
    VexImage* h = image.get();
    vexSetBorderMode(h, VEX_BORDER_REPLICATE, VEX_SIDE_ALL, 0);
    image.refuse(2, 1, VEX_TILE_GET_READ);
    int v = 0;
    EXPECT_FALSE(vex::ownGetBorderPixel(h, 17, 9, 1, &v));
    EXPECT_FALSE(vex::ownGetBorderPixel(h, 30, 20, 1, &v));  // corner maps into tile (2, 1)
    EXPECT_TRUE(vex::ownGetBorderPixel(h, 15, 9, 1, &v));
    EXPECT_EQ(image.outstanding(), 0);
    EXPECT_EQ(image.badCalls(), 0);
    std::vector<uint8_t> run(32, 0);
    EXPECT_FALSE(vex::ownGetBorderRow(h, 10, 8, 1, 8, run.data()));
    EXPECT_FALSE(vex::ownGetBorderColumn(h, 20, 0, 1, 10, run.data()));
    EXPECT_TRUE(vex::ownGetBorderColumn(h, 10, -3, 1, 20, run.data()));
}

// Unpacks element i of a run in the image's depth (1U packed MSB first).
int64_t runElement(const std::vector<uint8_t>& run, unsigned depth, int i) {
    switch (vt::depthBits(depth)) {
        case 1: return (run[size_t(i) >> 3] >> (7 - (i & 7))) & 1;
        case 8: return run[size_t(i)];
        case 16: return run[2 * size_t(i)] | run[2 * size_t(i) + 1] << 8;
        default: {
            uint32_t v;
            std::memcpy(&v, &run[4 * size_t(i)], 4);
            return v;
        }
    }
}

TEST(ImageBorder, RowsAndColumnsMatchPerPixelRule) {
    std::mt19937 rng(7);
    vt::LayoutLimits limits;
    limits.maxSize = 11, limits.roi = false;
    for (int iter = 0; iter < 30; ++iter) {
        vt::Layout layout = vt::randomLayout(rng, limits);
        if (iter < 6) layout.depth = VEX_DEPTH_1U, layout.nChannels = 1;
        SCOPED_TRACE(vt::describe(layout));
        auto image = vt::makeImage(layout, 300 + iter);
        VexImage* h = image->get();
        const int w = h->width, ht = h->height, bits = vt::depthBits(h->depth);
        for (int s = 0; s < 4; ++s) h->borderMode[s] = (s + iter) % 4, h->borderValue[s] = 0x1357 * (s + 1);
        for (bool column : {false, true})
            for (int n : {1, 7, 8, 9, 3 * (column ? ht : w) + 5})
                for (int start = -(column ? ht : w) - 2; start <= 2 * (column ? ht : w); start += 3) {
                    const int c = 1 + (start & 0xffff) % h->nChannels;
                    const int fixed = column ? (start % (w + 4)) - 2 : (start % (ht + 4)) - 2;
                    const int x = column ? fixed : start, y = column ? start : fixed;
                    const size_t used = (size_t(n) * bits + 7) / 8;
                    std::vector<uint8_t> run(used + 8, vt::kSentinel);
                    const bool ok = column ? vex::ownGetBorderColumn(h, x, y, c, n, run.data())
                                           : vex::ownGetBorderRow(h, x, y, c, n, run.data());
                    ASSERT_TRUE(ok);
                    for (int i = 0; i < n; ++i) {
                        int v;
                        ASSERT_TRUE(vex::ownGetBorderPixel(h, x + (column ? 0 : i),
                                                           y + (column ? i : 0), c, &v));
                        const int64_t want = bits < 32 ? v & ((int64_t(1) << bits) - 1) : uint32_t(v);
                        ASSERT_EQ(runElement(run, h->depth, i), want)
                            << (column ? "column" : "row") << " x " << x << " y " << y << " i " << i;
                    }
                    for (size_t b = used; b < run.size(); ++b) ASSERT_EQ(run[b], vt::kSentinel);
                }
    }
}


// The test-support store agrees with an untiled image and its pattern
// reaches both ends of every depth's range.
TEST(ImageSupport, TileStoreAndPattern) {
    vt::Image flat(VEX_DEPTH_16S, 3, 13, 21, VEX_DATA_ORDER_PLANE, 8);
    vt::TiledImage tiled(VEX_DEPTH_16S, 3, 13, 21, 8, 16, VEX_DATA_ORDER_PLANE, 8);
    flat.fillPattern(3);
    tiled.fillPattern(3);
    EXPECT_EQ(vt::diffSamples(flat.get(), tiled.get()), "");
    tiled.setSample(20, 12, 2, tiled.sample(20, 12, 2) ^ 1);
    EXPECT_NE(vt::diffSamples(flat.get(), tiled.get()), "");
    EXPECT_TRUE(tiled.calls().empty());
    for (unsigned depth : vt::kDepths) {
        vt::Image image(depth, 1, 8, 8);
        image.fillPattern(1);
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                lo = std::min(lo, image.sample(x, y, 1));
                hi = std::max(hi, image.sample(x, y, 1));
            }
        EXPECT_EQ(lo, vt::depthMin(depth)) << vt::depthName(depth);
        EXPECT_EQ(hi, vt::depthMax(depth)) << vt::depthName(depth);
    }
}

}  // namespace
