// Test support shared by every test family: images of any layout, an
// in-memory tile store behind a recording callback, report capture, random
// layouts. Geometry comes height before width, as in the library; samples are
// addressed (x, y) in memory row order, channel c 1-based.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vexlib.h"

namespace vt {

// Depth facts and the row rule, written here independently of the library.
extern const unsigned kDepths[6];  // 1U, 8U, 8S, 16U, 16S, 32S
int depthBits(unsigned depth);
bool depthSigned(unsigned depth);
int64_t depthMin(unsigned depth);
int64_t depthMax(unsigned depth);
const char* depthName(unsigned depth);  // "8U", ...; "?" for an invalid code
// Bytes of one row (pixel order: all channels; plane order: one) rounded up to `align`.
int rowStep(int width, unsigned depth, int nChannels, int order, int align);

// Samples of any layout (1U MSB first, signed depths sign-extended); a
// vt::TiledImage is read in its store without the callback. Throws
// std::out_of_range outside the image.
int64_t sample(const VexImage* image, int x, int y, int c);
void setSample(VexImage* image, int x, int y, int c, int64_t value);  // low bits stored
// Empty when every sample is equal, else the first difference.
std::string diffSamples(const VexImage* a, const VexImage* b);

constexpr uint8_t kSentinel = 0xA5;

// Images own their header, ROI and tiling record, never a mask attached by a test.
class ImageBase {
 public:
    ImageBase(const ImageBase&) = delete;
    ImageBase& operator=(const ImageBase&) = delete;
    virtual ~ImageBase();

    VexImage* get() const { return image_; }
    int width() const { return image_->width; }
    int height() const { return image_->height; }
    int channels() const { return image_->nChannels; }
    unsigned depth() const { return image_->depth; }

    void setRoi(int coi, int x, int y, int height, int width);  // attaches or updates
    int64_t sample(int x, int y, int c) const { return vt::sample(image_, x, y, c); }
    void setSample(int x, int y, int c, int64_t v) { vt::setSample(image_, x, y, c, v); }
    // Every sample (ROI ignored) pseudo-random over the depth's range, the
    // extremes (min, max, 0 or -1, min+1, max-1) frequent.
    void fillPattern(uint32_t key);
    // Every byte of the store: row padding, unused planes and tile margins too.
    virtual void fillSentinel(uint8_t byte = kSentinel) = 0;
    virtual std::vector<uint8_t> bytes() const = 0;  // tiles concatenated row by row

 protected:
    ImageBase() = default;
    ImageBase(ImageBase&& other) noexcept : image_(other.image_) { other.image_ = nullptr; }
    VexImage* image_ = nullptr;
};

// Untiled image from vexCreateImageHeader + vexAllocateImage, filled with the sentinel.
class Image : public ImageBase {
 public:
    Image(unsigned depth, int nChannels, int height, int width,
          int order = VEX_DATA_ORDER_PIXEL, int align = 4, int origin = VEX_ORIGIN_TL);
    Image(Image&&) noexcept = default;
    void fillSentinel(uint8_t byte = kSentinel) override;
    std::vector<uint8_t> bytes() const override;
    Image clone() const;  // same layout, bytes, border fields and ROI
};

struct TileCall {
    int xIndex, yIndex, mode;
    bool operator==(const TileCall& o) const {
        return xIndex == o.xIndex && yIndex == o.yIndex && mode == o.mode;
    }
};
std::ostream& operator<<(std::ostream& os, const TileCall& call);

// Tiled image over an in-memory store of one buffer per tile, each laid out
// as an untiled image of the tile size. The callback (found through
// tileInfo->id) records every call; modes 1 and 2 hand out the tile's buffer
// (null when refused or outside); mode 4 counts a mismatch when tileData is
// not that buffer, then sets it to null.
class TiledImage : public ImageBase {
 public:
    TiledImage(unsigned depth, int nChannels, int height, int width, int tileWidth,
               int tileHeight, int order = VEX_DATA_ORDER_PIXEL, int align = 4,
               int origin = VEX_ORIGIN_TL);
    TiledImage(TiledImage&&) noexcept;
    ~TiledImage() override;
    void fillSentinel(uint8_t byte = kSentinel) override;
    std::vector<uint8_t> bytes() const override;
    TiledImage clone() const;  // same layout and tile contents; fresh call log

    int tilesX() const;
    int tilesY() const;
    const std::vector<TileCall>& calls() const;
    void clearCalls();
    int releaseMismatches() const;  // mode-4 calls with a foreign tileData
    int badCalls() const;           // unknown mode, indices outside, release without get
    int outstanding() const;        // tiles got and not yet released
    // Refuse tile (xIndex, yIndex) (-1 = any) in the modes of the mask `modes`.
    void refuse(int xIndex, int yIndex, int modes);

    struct Store;

 private:
    std::unique_ptr<Store> store_;
};

// Empty for an untiled image or a clean tile store (nothing outstanding,
// every release with its own buffer, no bad call), else what is wrong.
std::string tileFaults(const ImageBase* image);

// Reads a row of tiles at a time: a row's tiles requested left to right, then
// released in reverse; with `once`, no tile read twice. Nothing left
// outstanding, every release with its own buffer, no bad call.
void expectReadRows(const TiledImage& image, bool once = false);

struct Report {
    int status;
    std::string funcName, context, file;  // null recorded as ""
    int line;
};

// On the calling thread, records every report (returning its status) and sets
// the error mode until destroyed; the status is left alone. The innermost of
// nested logs records.
class ReportLog {
 public:
    explicit ReportLog(int mode = VEX_ErrModeParent);
    ~ReportLog();
    ReportLog(const ReportLog&) = delete;
    ReportLog& operator=(const ReportLog&) = delete;

    const std::vector<Report>& reports() const { return reports_; }
    size_t size() const { return reports_.size(); }
    const Report& operator[](size_t i) const { return reports_.at(i); }
    std::vector<std::string> contexts() const;
    void clear() { reports_.clear(); }
    static int record(int status, const char* funcName, const char* context, const char* file,
                      int line);

 private:
    std::vector<Report> reports_;
    ReportLog* outer_;
    VexErrorReport* previousReport_;
    int previousMode_;
};

// What fn wrote to file descriptor 2.
std::string captureStderr(const std::function<void()>& fn);

// Random layouts for matrix tests.
struct Layout {
    unsigned depth = VEX_DEPTH_8U;
    int nChannels = 1, order = VEX_DATA_ORDER_PIXEL, align = 4, origin = VEX_ORIGIN_TL;
    int height = 1, width = 1;
    bool tiled = false, hasRoi = false;
    int tileWidth = 8, tileHeight = 8;
    VexROI roi = {0, 0, 0, 0, 0};  // coi, xOffset, yOffset, height, width
};

struct LayoutLimits {
    std::vector<unsigned> depths{kDepths, kDepths + 6};
    int maxChannels = 4;
    int maxSize = 40;         // largest height and width
    bool tiled = true;        // may pick a tiled image
    bool roi = true;          // may attach a ROI
    bool coi = true;          // a ROI may select one channel
    bool roiOutside = false;  // a ROI may reach past the right or bottom edge
};

// Depth, channels (1 for 1U), order, align, origin, a size favouring tails
// (1, 3, 7, 8, 9, 15, 17, 33), tiles of 8 to 64, a ROI and COI, all from `rng`.
Layout randomLayout(std::mt19937& rng, const LayoutLimits& limits = {});
std::string describe(const Layout& layout);
// A vt::Image or vt::TiledImage of that layout, pattern-filled with `key`, ROI attached.
std::unique_ptr<ImageBase> makeImage(const Layout& layout, uint32_t key);

// The rectangle an operation processes in one image: its ROI cut to the
// image (a start outside moved to the nearest edge, the size then empty or
// shortened), or the whole image; and the channels (the COI alone, or all).
struct Clip { int x = 0, y = 0, w = 0, h = 0; };
Clip clipOf(const VexImage* image);
std::vector<int> channelsOf(const VexImage* image);
// Uniform in [lo, hi].
int uniform(std::mt19937& rng, int lo, int hi);

// A source and a destination layout an operation pairs: the same depth, order
// and origin; a source processing one channel meets a destination channel
// chosen by its COI, else both have the same channel count and no COI. With
// `sameChannels` the destination always has the source's channel count.
void pairLayouts(std::mt19937& rng, const LayoutLimits& limits, Layout* src, Layout* dst, bool sameChannels);

// A copy of an image of either kind: same layout, bytes, border fields and ROI.
std::unique_ptr<ImageBase> cloneOf(const ImageBase& image);

// The calling thread's status cleared on entry and on exit of a scope.
struct StatusReset {
    StatusReset() { vexSetErrStatus(VEX_StsOk); }
    ~StatusReset() { vexSetErrStatus(VEX_StsOk); }
};

// The call logged exactly one report, with this status, function, file and
// text; a header check's text (it starts with "Image") is expected padded to
// 70 columns and ended by a newline, as the header check writes it.
void expectOneReport(const ReportLog& log, int status, const std::string& funcName, const std::string& file,
                     std::string text);

// One check per step: each call under a fresh report log gives exactly its
// texts in order, each with VEX_StsBadArg from the step's function (`func`
// when it names none) in `file`; the bytes of `dst` (when given) stay as
// before; the status is cleared after each step.
struct Step {
    std::function<void()> call;
    std::vector<std::string> texts;
    const char* func = nullptr;
};
void expectSteps(const char* func, const char* file, const std::vector<Step>& steps, const ImageBase* dst = nullptr);

// `call` under a report log: exactly one report as expectOneReport checks it,
// the bytes of `dst` (when given) as before the call; the status cleared after.
void expectRejected(const std::function<void()>& call, const ImageBase* dst, int status, const std::string& funcName,
                    const std::string& file, const std::string& text);

}  // namespace vt
