#include "vextest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace vt {

const unsigned kDepths[6] = {VEX_DEPTH_1U,  VEX_DEPTH_8U,  VEX_DEPTH_8S,
                             VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

int depthBits(unsigned depth) { return static_cast<int>(depth & ~VEX_DEPTH_SIGN); }
bool depthSigned(unsigned depth) { return (depth & VEX_DEPTH_SIGN) != 0; }
int64_t depthMin(unsigned depth) { return depthSigned(depth) ? -(int64_t(1) << (depthBits(depth) - 1)) : 0; }
int64_t depthMax(unsigned depth) { return (int64_t(1) << (depthBits(depth) - depthSigned(depth))) - 1; }
const char* depthName(unsigned depth) {
    static const char* const kNames[] = {"1U", "8U", "8S", "16U", "16S", "32S"};
    for (int i = 0; i < 6; ++i)
        if (depth == kDepths[i]) return kNames[i];
    return "?";
}

int rowStep(int width, unsigned depth, int nChannels, int order, int align) {
    const int64_t elements = int64_t(width) * (order == VEX_DATA_ORDER_PIXEL ? nChannels : 1);
    const int64_t bytes = (elements * depthBits(depth) + 7) / 8;
    return static_cast<int>((bytes + align - 1) / align * align);
}

// The tile store and its registry: the callback finds a store by tileInfo->id.
struct TiledImage::Store {
    struct Refusal {
        int x, y, modes;
    };
    int id = 0, tileW = 0, tileH = 0, nx = 0, ny = 0;
    std::vector<std::vector<uint8_t>> tiles;  // row-major by tile index
    std::vector<int> held;                    // gets not yet released, per tile
    std::vector<TileCall> calls;
    std::vector<Refusal> refusals;
    int mismatches = 0, bad = 0;

    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < nx && y < ny; }
    size_t index(int x, int y) const { return size_t(y) * nx + x; }
};

namespace {

std::mutex g_storesLock;
std::map<int, TiledImage::Store*> g_stores;
int g_nextId = 7000;

TiledImage::Store* findStore(const VexImage* image) {
    if (!image || !image->tileInfo) return nullptr;
    std::lock_guard<std::mutex> lock(g_storesLock);
    auto it = g_stores.find(image->tileInfo->id);
    return it == g_stores.end() ? nullptr : it->second;
}

void tileCallBack(const VexImage* image, int x, int y, int mode) {
    TiledImage::Store* s = findStore(image);
    if (!s) return void(ADD_FAILURE() << "tile callback for an image without a tile store");
    VexTileInfo* info = image->tileInfo;
    s->calls.push_back({x, y, mode});
    const bool inside = s->inside(x, y);
    if (mode == VEX_TILE_GET_READ || mode == VEX_TILE_GET_WRITE) {
        info->tileData = nullptr;
        if (!inside) return void(++s->bad);
        for (const auto& r : s->refusals)
            if ((r.x < 0 || r.x == x) && (r.y < 0 || r.y == y) && (r.modes & mode)) return;
        info->tileData = reinterpret_cast<char*>(s->tiles[s->index(x, y)].data());
        ++s->held[s->index(x, y)];
    } else if (mode == VEX_TILE_RELEASE && inside && s->held[s->index(x, y)] > 0) {
        --s->held[s->index(x, y)];
        if (info->tileData != reinterpret_cast<char*>(s->tiles[s->index(x, y)].data()))
            ++s->mismatches;
        info->tileData = nullptr;
    } else {
        ++s->bad;
        if (mode == VEX_TILE_RELEASE) info->tileData = nullptr;
    }
}

// Address of the element holding (x, y, c) and, for 1U, the bit inside that byte.
uint8_t* element(const VexImage* image, int x, int y, int c, int* bit) {
    if (!image || x < 0 || y < 0 || x >= image->width || y >= image->height || c < 1 ||
        c > image->nChannels) {
        std::ostringstream os;
        os << "sample (" << x << ", " << y << ", " << c << ") outside the image";
        throw std::out_of_range(os.str());
    }
    // The buffer holding the pixel, its size and the pixel's place in it.
    uint8_t* base = reinterpret_cast<uint8_t*>(image->imageData);
    int w = image->width, h = image->height;
    if (image->tileInfo) {
        TiledImage::Store* s = findStore(image);
        if (!s) throw std::out_of_range("tiled image without a vt tile store");
        const int tx = x / s->tileW, ty = y / s->tileH;
        base = s->tiles[s->index(tx, ty)].data(), w = s->tileW, h = s->tileH;
        x -= tx * s->tileW, y -= ty * s->tileH;
    } else if (!base) {
        throw std::out_of_range("image without data");
    }
    const bool plane = image->dataOrder == VEX_DATA_ORDER_PLANE;
    const int64_t step = rowStep(w, image->depth, image->nChannels, image->dataOrder, image->align);
    uint8_t* row = base + step * y + (plane ? step * h * (c - 1) : 0);
    const int64_t i = plane ? x : int64_t(x) * image->nChannels + (c - 1);
    const int bits = depthBits(image->depth);
    *bit = bits == 1 ? 7 - static_cast<int>(i % 8) : 0;
    return bits == 1 ? row + i / 8 : row + i * (bits / 8);
}

uint64_t mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int64_t patternValue(uint32_t key, int x, int y, int c, unsigned depth) {
    const uint64_t h = mix(mix(mix(mix(key) ^ uint32_t(x)) ^ uint32_t(y)) ^ uint32_t(c));
    const int64_t lo = depthMin(depth), hi = depthMax(depth);
    if (depthBits(depth) == 1) return (h >> 20) & 1;
    switch (h & 15) {
        case 0: return lo;
        case 1: return hi;
        case 2: return depthSigned(depth) ? -1 : 0;
        case 3: return lo + 1;
        case 4: return hi - 1;
        case 5: return depthSigned(depth) ? 0 : 1;
        default: return lo + int64_t((h >> 8) % uint64_t(hi - lo + 1));
    }
}

// A header of the given layout with colour names fitting the channel count.
VexImage* makeHeader(unsigned depth, int nChannels, int height, int width, int order, int align,
                     int origin, VexTileInfo* tiles) {
    static const char* const kSpace[] = {"GRAY", "GA", "RGB", "RGBA"};
    static const char* const kSeq[] = {"GRAY", "GA", "BGR", "BGRA"};
    const int i = std::clamp(nChannels, 1, 4) - 1;
    return vexCreateImageHeader(nChannels, 0, static_cast<int>(depth), kSpace[i], kSeq[i], order, origin,
                                align, height, width, nullptr, nullptr, tiles);
}

// Alpha channel, border fields and ROI of `from`, onto a fresh copy.
void copyExtras(const VexImage* from, VexImage* to) {
    to->alphaChannel = from->alphaChannel;
    std::memcpy(to->borderMode, from->borderMode, sizeof to->borderMode);
    std::memcpy(to->borderValue, from->borderValue, sizeof to->borderValue);
    if (const VexROI* r = from->roi)
        to->roi = vexCreateROI(r->coi, r->xOffset, r->yOffset, r->height, r->width);
}

}  // namespace

int64_t sample(const VexImage* image, int x, int y, int c) {
    int bit;
    const uint8_t* p = element(image, x, y, c, &bit);
    const int bits = depthBits(image->depth);
    if (bits == 1) return (*p >> bit) & 1;
    uint32_t v = 0;  // little-endian: low bytes first
    std::memcpy(&v, p, size_t(bits / 8));
    const int64_t sign = depthSigned(image->depth) ? int64_t(1) << (bits - 1) : 0;
    return (int64_t(v) ^ sign) - sign;
}

void setSample(VexImage* image, int x, int y, int c, int64_t value) {
    int bit;
    uint8_t* p = element(image, x, y, c, &bit);
    const int bits = depthBits(image->depth);
    if (bits == 1) {
        *p = static_cast<uint8_t>((value & 1) ? (*p | (1u << bit)) : (*p & ~(1u << bit)));
    } else {
        const uint32_t v = static_cast<uint32_t>(value);
        std::memcpy(p, &v, size_t(bits / 8));
    }
}

std::string diffSamples(const VexImage* a, const VexImage* b) {
    std::ostringstream os;
    if (a->width != b->width || a->height != b->height || a->nChannels != b->nChannels) {
        os << "geometry differs: " << a->width << "x" << a->height << "x" << a->nChannels
           << " vs " << b->width << "x" << b->height << "x" << b->nChannels;
        return os.str();
    }
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width; ++x)
            for (int c = 1; c <= a->nChannels; ++c) {
                const int64_t va = sample(a, x, y, c), vb = sample(b, x, y, c);
                if (va != vb) {
                    os << "sample (x " << x << ", y " << y << ", c " << c << "): " << va
                       << " vs " << vb;
                    return os.str();
                }
            }
    return {};
}

// ---------------------------------------------------------------------------
// Images.

ImageBase::~ImageBase() {
    if (image_)
        vexDeallocate(image_, VEX_IMAGE_HEADER | VEX_IMAGE_DATA | VEX_IMAGE_ROI | VEX_IMAGE_TILE);
}

void ImageBase::setRoi(int coi, int x, int y, int height, int width) {
    if (image_->roi)
        vexSetROI(image_->roi, coi, x, y, height, width);
    else
        image_->roi = vexCreateROI(coi, x, y, height, width);
}


void ImageBase::fillPattern(uint32_t key) {
    for (int y = 0; y < height(); ++y)
        for (int x = 0; x < width(); ++x)
            for (int c = 1; c <= channels(); ++c)
                setSample(x, y, c, patternValue(key, x, y, c, depth()));
}

Image::Image(unsigned depth, int nChannels, int height, int width, int order, int align,
             int origin) {
    image_ = makeHeader(depth, nChannels, height, width, order, align, origin, nullptr);
    if (!image_) throw std::invalid_argument("vt::Image: header refused");
    vexAllocateImage(image_, -1);
    if (!image_->imageData) throw std::runtime_error("vt::Image: allocation failed");
    fillSentinel();
}

void Image::fillSentinel(uint8_t byte) {
    std::memset(image_->imageData, byte, static_cast<size_t>(image_->dataSize));
}

std::vector<uint8_t> Image::bytes() const {
    const auto* p = reinterpret_cast<const uint8_t*>(image_->imageData);
    return std::vector<uint8_t>(p, p + image_->dataSize);
}

Image Image::clone() const {
    Image copy(depth(), channels(), height(), width(), image_->dataOrder, image_->align,
               image_->origin);
    std::memcpy(copy.image_->imageData, image_->imageData, static_cast<size_t>(image_->dataSize));
    copyExtras(image_, copy.image_);
    return copy;
}

std::ostream& operator<<(std::ostream& os, const TileCall& call) {
    return os << "(" << call.xIndex << ", " << call.yIndex << ", " << call.mode << ")";
}

TiledImage::TiledImage(unsigned depth, int nChannels, int height, int width, int tileWidth,
                       int tileHeight, int order, int align, int origin)
    : store_(new Store) {
    if (tileWidth <= 0 || tileHeight <= 0 || width < 0 || height < 0)
        throw std::invalid_argument("vt::TiledImage: bad geometry");
    Store& s = *store_;
    {
        std::lock_guard<std::mutex> lock(g_storesLock);
        s.id = g_nextId++;
        g_stores[s.id] = store_.get();
    }
    s.tileW = tileWidth, s.tileH = tileHeight;
    s.nx = (width + tileWidth - 1) / tileWidth, s.ny = (height + tileHeight - 1) / tileHeight;
    const size_t tileBytes = size_t(rowStep(tileWidth, depth, nChannels, order, align)) *
                             tileHeight * (order == VEX_DATA_ORDER_PLANE ? nChannels : 1);
    s.tiles.assign(size_t(s.nx) * s.ny, std::vector<uint8_t>(tileBytes, kSentinel));
    s.held.assign(s.tiles.size(), 0);
    VexTileInfo* info = vexCreateTileInfo(tileCallBack, s.id, tileWidth, tileHeight);
    image_ = makeHeader(depth, nChannels, height, width, order, align, origin, info);
    if (!image_) {
        vexDeleteTileInfo(info);
        throw std::invalid_argument("vt::TiledImage: header refused");
    }
}

TiledImage::TiledImage(TiledImage&& other) noexcept
    : ImageBase(std::move(other)), store_(std::move(other.store_)) {}

TiledImage::~TiledImage() {
    if (!store_) return;
    std::lock_guard<std::mutex> lock(g_storesLock);
    g_stores.erase(store_->id);
}

void TiledImage::fillSentinel(uint8_t byte) {
    for (auto& t : store_->tiles) std::fill(t.begin(), t.end(), byte);
}

std::vector<uint8_t> TiledImage::bytes() const {
    std::vector<uint8_t> all;
    for (const auto& t : store_->tiles) all.insert(all.end(), t.begin(), t.end());
    return all;
}

TiledImage TiledImage::clone() const {
    TiledImage copy(depth(), channels(), height(), width(), store_->tileW, store_->tileH,
                    image_->dataOrder, image_->align, image_->origin);
    copy.store_->tiles = store_->tiles;
    copyExtras(image_, copy.image_);
    return copy;
}

int TiledImage::tilesX() const { return store_->nx; }
int TiledImage::tilesY() const { return store_->ny; }
const std::vector<TileCall>& TiledImage::calls() const { return store_->calls; }
void TiledImage::clearCalls() { store_->calls.clear(); }
int TiledImage::releaseMismatches() const { return store_->mismatches; }
int TiledImage::badCalls() const { return store_->bad; }
int TiledImage::outstanding() const {
    int n = 0;
    for (int h : store_->held) n += h;
    return n;
}
void TiledImage::refuse(int xIndex, int yIndex, int modes) {
    store_->refusals.push_back({xIndex, yIndex, modes});
}

std::string tileFaults(const ImageBase* image) {
    const auto* t = dynamic_cast<const TiledImage*>(image);
    if (!t || (t->outstanding() == 0 && t->releaseMismatches() == 0 && t->badCalls() == 0)) return "";
    return std::to_string(t->outstanding()) + " outstanding, " + std::to_string(t->releaseMismatches()) +
           " foreign releases, " + std::to_string(t->badCalls()) + " bad calls";
}

void expectReadRows(const TiledImage& image, bool once) {
    const std::vector<TileCall>& calls = image.calls();
    std::map<std::pair<int, int>, int> reads;
    for (size_t k = 0; k < calls.size();) {
        std::vector<TileCall> got;
        for (; k < calls.size() && calls[k].mode == VEX_TILE_GET_READ; ++k) got.push_back(calls[k]);
        ASSERT_FALSE(got.empty()) << "call " << k << " is " << calls[k];
        for (size_t g = 0; g < got.size(); ++g) {
            EXPECT_TRUE(!once || ++reads[std::make_pair(got[g].xIndex, got[g].yIndex)] == 1) << got[g];
            EXPECT_TRUE(!g || (got[g].yIndex == got[0].yIndex && got[g].xIndex > got[g - 1].xIndex)) << got[g];
        }
        for (size_t g = got.size(); g-- > 0; ++k) {
            ASSERT_LT(k, calls.size());
            EXPECT_EQ(calls[k], (TileCall{got[g].xIndex, got[g].yIndex, VEX_TILE_RELEASE}));
        }
    }
    EXPECT_EQ(tileFaults(&image), "");
}

// ---------------------------------------------------------------------------
// Report capture.

namespace {
thread_local ReportLog* t_log = nullptr;
}

ReportLog::ReportLog(int mode) : outer_(t_log) {
    t_log = this;
    previousReport_ = vexRedirectError(&ReportLog::record);
    previousMode_ = vexGetErrMode();
    vexSetErrMode(mode);
}

ReportLog::~ReportLog() { vexSetErrMode(previousMode_), vexRedirectError(previousReport_), t_log = outer_; }

int ReportLog::record(int status, const char* funcName, const char* context, const char* file,
                      int line) {
    if (t_log)
        t_log->reports_.push_back(
            {status, funcName ? funcName : "", context ? context : "", file ? file : "", line});
    return status;
}

std::vector<std::string> ReportLog::contexts() const {
    std::vector<std::string> out;
    for (const auto& r : reports_) out.push_back(r.context);
    return out;
}

std::string captureStderr(const std::function<void()>& fn) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> tmp(std::tmpfile(), std::fclose);
    if (!tmp) throw std::runtime_error("captureStderr: no temporary file");
    std::fflush(stderr);
    struct Redirect {  // restores file descriptor 2 however fn ends
        int saved;
        ~Redirect() { std::fflush(stderr), ::dup2(saved, 2), ::close(saved); }
    } redirect{::dup(2)};
    ::dup2(::fileno(tmp.get()), 2);
    fn();
    std::fflush(stderr);
    std::string text;
    std::rewind(tmp.get());
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, tmp.get())) > 0;) text.append(buf, n);
    return text;
}

// ---------------------------------------------------------------------------
// Layouts.

Layout randomLayout(std::mt19937& rng, const LayoutLimits& limits) {
    auto uniform = [&](int lo, int hi) { return vt::uniform(rng, lo, hi); };
    auto size = [&] {
        static const int kTails[] = {1, 3, 7, 8, 9, 15, 17, 33};
        const int v = uniform(0, 1) ? kTails[uniform(0, 7)] : uniform(1, limits.maxSize);
        return std::min(v, limits.maxSize);
    };
    Layout l;
    l.depth = limits.depths.at(size_t(uniform(0, int(limits.depths.size()) - 1)));
    l.nChannels = l.depth == VEX_DEPTH_1U ? 1 : uniform(1, limits.maxChannels);
    // Comma-separated draws happen left to right.
    l.order = uniform(0, 1), l.align = uniform(0, 1) ? 8 : 4, l.origin = uniform(0, 1);
    l.height = size(), l.width = size();
    if (limits.tiled && uniform(0, 1)) {
        static const int kTiles[] = {8, 8, 16, 24, 64};
        l.tiled = true, l.tileWidth = kTiles[uniform(0, 4)], l.tileHeight = kTiles[uniform(0, 4)];
    }
    if (limits.roi && uniform(0, 2) != 0) {
        VexROI& r = l.roi;
        l.hasRoi = true, r.xOffset = uniform(0, l.width - 1), r.yOffset = uniform(0, l.height - 1);
        r.width = uniform(1, l.width - r.xOffset), r.height = uniform(1, l.height - r.yOffset);
        if (limits.roiOutside && uniform(0, 2) == 0) r.width += uniform(1, 9), r.height += uniform(0, 9);
        r.coi = limits.coi && uniform(0, 1) ? uniform(1, l.nChannels) : 0;
    }
    return l;
}

std::string describe(const Layout& l) {
    std::ostringstream os;
    os << depthName(l.depth) << " x" << l.nChannels
       << (l.order == VEX_DATA_ORDER_PLANE ? " plane" : " pixel") << " align" << l.align
       << (l.origin == VEX_ORIGIN_BL ? " BL" : " TL") << " h" << l.height << " w" << l.width;
    if (l.tiled) os << " tiles " << l.tileWidth << "x" << l.tileHeight;
    if (l.hasRoi)
        os << " roi(coi " << l.roi.coi << ", x " << l.roi.xOffset << ", y " << l.roi.yOffset
           << ", h " << l.roi.height << ", w " << l.roi.width << ")";
    return os.str();
}

std::unique_ptr<ImageBase> makeImage(const Layout& l, uint32_t key) {
    std::unique_ptr<ImageBase> image(
        l.tiled ? static_cast<ImageBase*>(new TiledImage(l.depth, l.nChannels, l.height, l.width, l.tileWidth,
                                                         l.tileHeight, l.order, l.align, l.origin))
                : new Image(l.depth, l.nChannels, l.height, l.width, l.order, l.align, l.origin));
    image->fillPattern(key);
    if (l.hasRoi) image->setRoi(l.roi.coi, l.roi.xOffset, l.roi.yOffset, l.roi.height, l.roi.width);
    return image;
}

Clip clipOf(const VexImage* image) {
    Clip r{0, 0, image->width, image->height};
    if (!image->roi) return r;
    auto cut = [](int pos, int len, int size, int* start, int* n) {
        const int64_t lo = std::max(pos, 0), hi = std::min<int64_t>(int64_t(pos) + len, size);
        *start = int(std::min<int64_t>(lo, size));
        *n = hi > lo ? int(hi - lo) : 0;
    };
    cut(image->roi->xOffset, image->roi->width, image->width, &r.x, &r.w);
    cut(image->roi->yOffset, image->roi->height, image->height, &r.y, &r.h);
    return r;
}

std::vector<int> channelsOf(const VexImage* image) {
    if (image->roi && image->roi->coi > 0) return {image->roi->coi};
    std::vector<int> all;
    for (int c = 1; c <= image->nChannels; ++c) all.push_back(c);
    return all;
}

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

void pairLayouts(std::mt19937& rng, const LayoutLimits& limits, Layout* src, Layout* dst, bool sameChannels) {
    *src = randomLayout(rng, limits);
    *dst = randomLayout(rng, limits);
    dst->depth = src->depth, dst->order = src->order, dst->origin = src->origin;
    if (sameChannels) dst->nChannels = src->nChannels;
    const int processed = src->hasRoi && src->roi.coi > 0 ? 1 : src->nChannels;
    if (processed == 1 && dst->nChannels > 1) {
        if (!dst->hasRoi) dst->hasRoi = true, dst->roi = {0, 0, 0, dst->height, dst->width};
        dst->roi.coi = uniform(rng, 1, dst->nChannels);
    } else {
        if (processed > 1) dst->nChannels = src->nChannels;
        dst->roi.coi = 0;
    }
}

void expectOneReport(const ReportLog& log, int status, const std::string& funcName, const std::string& file,
                     std::string text) {
    ASSERT_EQ(log.size(), 1u);
    if (text.compare(0, 5, "Image") == 0) text.resize(70, ' '), text += "\n";
    EXPECT_EQ(log[0].context, text);
    EXPECT_EQ(log[0].status, status);
    EXPECT_EQ(log[0].funcName, funcName);
    EXPECT_EQ(log[0].file, file);
}

std::unique_ptr<ImageBase> cloneOf(const ImageBase& image) {
    if (auto* t = dynamic_cast<const TiledImage*>(&image)) return std::make_unique<TiledImage>(t->clone());
    return std::make_unique<Image>(dynamic_cast<const Image&>(image).clone());
}

void expectRejected(const std::function<void()>& call, const ImageBase* dst, int status, const std::string& funcName,
                    const std::string& file, const std::string& text) {
    SCOPED_TRACE(text);
    const std::vector<uint8_t> before = dst ? dst->bytes() : std::vector<uint8_t>();
    {
        ReportLog log;
        call();
        expectOneReport(log, status, funcName, file, text);
    }
    if (dst) EXPECT_EQ(dst->bytes(), before);
    vexSetErrStatus(VEX_StsOk);
}

void expectSteps(const char* func, const char* file, const std::vector<Step>& steps, const ImageBase* dst) {
    const std::vector<uint8_t> before = dst ? dst->bytes() : std::vector<uint8_t>();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(std::string(func) + " step " + std::to_string(i));
        ReportLog log;
        steps[i].call();
        EXPECT_EQ(log.contexts(), steps[i].texts);
        for (const Report& r : log.reports())
            EXPECT_EQ(std::make_tuple(r.status, r.funcName, r.file),
                      std::make_tuple(int(VEX_StsBadArg), std::string(steps[i].func ? steps[i].func : func), std::string(file)));
        if (dst) EXPECT_EQ(dst->bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
}

}  // namespace vt
