// `vex demo`: a built-in colour test pattern run through every implemented
// operation family, one PNG per step.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "imageio.h"
#include "vexplot.h"
#include "vexcli.h"
#include "vexlib.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb_easy_font.h>
#pragma GCC diagnostic pop

namespace vextool {
namespace {

// ------------------------------------------------------------ the pattern

uint8_t clamp8(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

uint8_t* pixelAt(VexImage* img, int x, int y) {
    return reinterpret_cast<uint8_t*>(img->imageData) + static_cast<size_t>(y) * img->widthStep +
           static_cast<size_t>(x) * img->nChannels;
}

void fillRect(VexImage* img, int x0, int y0, int x1, int y1, const uint8_t rgb[3]) {
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    x1 = std::min(img->width, x1);
    y1 = std::min(img->height, y1);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) std::memcpy(pixelAt(img, x, y), rgb, 3);
}

// Draws text with the built-in quad font, each font unit `scale` pixels.
void drawText(VexImage* img, int x, int y, int scale, const char* text, const uint8_t rgb[3]) {
    std::vector<char> buf(text, text + std::strlen(text) + 1);
    std::vector<char> vertices(400 * buf.size() + 1024);
    const int quads = stb_easy_font_print(0, 0, buf.data(), nullptr, vertices.data(),
                                          static_cast<int>(vertices.size()));
    for (int q = 0; q < quads; ++q) {
        float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
        for (int v = 0; v < 4; ++v) {
            float pos[2];
            std::memcpy(pos, vertices.data() + (q * 4 + v) * 16, sizeof pos);
            minX = std::min(minX, pos[0]);
            maxX = std::max(maxX, pos[0]);
            minY = std::min(minY, pos[1]);
            maxY = std::max(maxY, pos[1]);
        }
        fillRect(img, x + static_cast<int>(std::lround(minX * scale)), y + static_cast<int>(std::lround(minY * scale)),
                 x + static_cast<int>(std::lround(maxX * scale)), y + static_cast<int>(std::lround(maxY * scale)), rgb);
    }
}

// A small xorshift generator with a fixed key, so every run draws the same
// noise.
struct Rng {
    uint32_t state = 0x9E3779B9u;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// RGB test pattern: a gray ramp, colour bars, a colour gradient field with a
// checkerboard and a zone-plate disc, lines of text, and a noisy gradient
// band at the bottom. Nothing in it is symmetric, so every flip shows.
ImagePtr makePattern(int height, int width) {
    ImagePtr img = makeImage(height, width, 3, VEX_DEPTH_8U, 0);
    VexImage* p = img.get();
    const int band1 = height / 8, band2 = height / 4, band3 = height * 3 / 4;

    // Gray ramp, left to right.
    for (int y = 0; y < band1; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t v = clamp8(x * 255 / std::max(1, width - 1));
            uint8_t* px = pixelAt(p, x, y);
            px[0] = px[1] = px[2] = v;
        }
    // Colour bars.
    static const uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                        {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    for (int b = 0; b < 8; ++b) fillRect(p, b * width / 8, band1, (b + 1) * width / 8, band2, kBars[b]);

    // Gradient field: red grows to the right, green downwards, blue along the
    // anti-diagonal.
    for (int y = band2; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = pixelAt(p, x, y);
            px[0] = clamp8(x * 255 / std::max(1, width - 1));
            px[1] = clamp8((y - band2) * 255 / std::max(1, height - band2 - 1));
            px[2] = clamp8(255 - (x + y) * 255 / std::max(1, width + height - 2));
        }
    // Checkerboard with sharp edges in the left quarter.
    const int cell = std::max(2, height / 48);
    for (int y = band2 + cell; y < band3 - cell; ++y)
        for (int x = cell; x < width / 4; ++x) {
            const bool on = ((x / cell) + (y / cell)) % 2 == 0;
            uint8_t* px = pixelAt(p, x, y);
            px[0] = px[1] = px[2] = on ? 240 : 16;
        }
    // Zone plate: rings of rising frequency, fine detail that aliases when
    // the image is decimated.
    const double cx = width * 0.75, cy = (band2 + band3) / 2.0, radius = (band3 - band2) * 0.45;
    for (int y = band2; y < band3; ++y)
        for (int x = width / 2; x < width; ++x) {
            const double dx = x - cx, dy = y - cy, r2 = dx * dx + dy * dy;
            if (r2 > radius * radius) continue;
            const double v = 127.5 + 127.5 * std::cos(r2 * 3.14159265358979 / (2.0 * radius));
            uint8_t* px = pixelAt(p, x, y);
            px[0] = clamp8(static_cast<int>(v));
            px[1] = clamp8(static_cast<int>(v * 0.8 + 20));
            px[2] = clamp8(static_cast<int>(255 - v));
        }
    // Text, with a shadow.
    const int scale = std::max(1, height / 128);
    static const uint8_t kWhite[3] = {255, 255, 255}, kBlack[3] = {0, 0, 0}, kYellow[3] = {255, 230, 0};
    const int tx = width / 4 + 2 * scale, ty = band2 + 4 * scale;
    const char* lines[] = {"VEXLIB", "test pattern", "0123456789", "ABC abc +-*/"};
    for (int i = 0; i < 4; ++i) {
        const int y = ty + i * 12 * scale;
        if (y + 10 * scale >= band3) break;
        drawText(p, tx + scale, y + scale, scale, lines[i], kBlack);
        drawText(p, tx, y, scale, lines[i], i == 0 ? kYellow : kWhite);
    }
    // Noise on the bottom band.
    Rng rng;
    for (int y = band3; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = pixelAt(p, x, y);
            for (int c = 0; c < 3; ++c) px[c] = clamp8(px[c] + static_cast<int>(rng.next() % 81) - 40);
        }
    return img;
}

// One-channel luma of an RGB image (integer weights summing to 256).
ImagePtr makeGray(const VexImage* rgb) {
    ImagePtr g = makeImage(rgb->height, rgb->width, 1, VEX_DEPTH_8U, 0);
    for (int y = 0; y < rgb->height; ++y)
        for (int x = 0; x < rgb->width; ++x) {
            const uint8_t* s = reinterpret_cast<const uint8_t*>(rgb->imageData) + static_cast<size_t>(y) * rgb->widthStep + x * 3;
            g->imageData[static_cast<size_t>(y) * g->widthStep + x] =
                static_cast<char>((77 * s[0] + 150 * s[1] + 29 * s[2]) >> 8);
        }
    return g;
}

// The same luma widened to 16 bits (v * 257 spans 0..65535).
ImagePtr makeGray16(const VexImage* gray) {
    ImagePtr g = makeImage(gray->height, gray->width, 1, VEX_DEPTH_16U, 0);
    for (int y = 0; y < gray->height; ++y) {
        const uint8_t* s = reinterpret_cast<const uint8_t*>(gray->imageData) + static_cast<size_t>(y) * gray->widthStep;
        uint16_t* d = reinterpret_cast<uint16_t*>(g->imageData + static_cast<size_t>(y) * g->widthStep);
        for (int x = 0; x < gray->width; ++x) d[x] = static_cast<uint16_t>(s[x] * 257);
    }
    return g;
}

// A 3-channel mask: `inside` in a disc in the middle, `outside` elsewhere.
ImagePtr makeDiscMask(int height, int width, uint8_t inside, uint8_t outside) {
    ImagePtr m = makeImage(height, width, 3, VEX_DEPTH_8U, outside);
    const double cx = width / 2.0, cy = height / 2.0, r = std::min(width, height) * 0.4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) std::memset(pixelAt(m.get(), x, y), inside, 3);
    return m;
}

// ------------------------------------------------------------ the pipeline

// Attaches a ROI for the lifetime of the scope (outside the timed call).
struct RoiScope {
    VexImage* img;
    RoiScope(VexImage* image, int coi, int x, int y, int width, int height) : img(image) {
        setRoi(img, coi, x, y, width, height);
    }
    ~RoiScope() { clearRoi(img); }
    RoiScope(const RoiScope&) = delete;
    RoiScope& operator=(const RoiScope&) = delete;
};

struct Output {
    const VexImage* image;
    const char* name;
};

class Demo {
public:
    explicit Demo(std::filesystem::path dir) : dir_(std::move(dir)) {}

    void header() {
        std::printf("%-3s %-10s %-58s %10s  %s\n", "#", "family", "operation", "time", "file");
    }

    // Writes images that no library call produced (the inputs).
    void input(const char* what, const std::vector<Output>& outs) {
        const std::string files = save(outs);
        std::printf("%02d  %-10s %-58s %10s  %s\n", step_, "input", what, "-", files.c_str());
        ++step_;
    }

    // Runs one library call, times it, writes its results.
    template <class F>
    void run(const char* family, const std::string& what, const std::vector<Output>& outs, F&& call) {
        try {
            const double ms = timedCall(std::forward<F>(call));
            const std::string files = save(outs);
            std::printf("%02d  %-10s %-58s %7.3f ms  %s\n", step_, family, what.c_str(), ms, files.c_str());
        } catch (const ToolError& e) {
            if (e.code != kExitLibrary) throw;
            std::printf("%02d  %-10s %-58s %10s  FAILED: %s\n", step_, family, what.c_str(), "-", e.what());
            ++failures_;
        }
        ++step_;
    }

    int failures() const { return failures_; }

private:
    std::string save(const std::vector<Output>& outs) {
        std::string files;
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%02d-", step_);
        for (const Output& o : outs) {
            const std::string name = std::string(prefix) + o.name + ".png";
            saveImage(o.image, (dir_ / name).string());
            files += (files.empty() ? "" : " ") + name;
        }
        return files;
    }

    std::filesystem::path dir_;
    int step_ = 0;
    int failures_ = 0;
};

}  // namespace

int runDemo(const std::string& outDir, int height, int width) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) throw ToolError(kExitIO, "cannot create directory '" + outDir + "': " + ec.message());

    const ImagePtr pattern = makePattern(height, width);
    const ImagePtr gray = makeGray(pattern.get());
    const ImagePtr gray16 = makeGray16(gray.get());
    VexImage* const src = pattern.get();
    const int H = height, W = width;
    auto fresh = [&](int fill) { return makeImage(H, W, 3, VEX_DEPTH_8U, fill); };
    auto same = [&](const VexImage* img) { return cloneImage(img); };
    char what[160];

    std::printf("vex demo: %dx%d test pattern, results in %s\n", H, W, outDir.c_str());
    Demo d(outDir);
    d.header();
    d.input("built-in pattern: RGB 8U, its luma (gray 8U) and gray 16U",
            {{src, "pattern-rgb"}, {gray.get(), "pattern-gray"}, {gray16.get(), "pattern-gray16"}});

    // ---- data movement: copy, set, exchange (ROI and COI)
    ImagePtr copyAll = fresh(0);
    d.run("move", "vexCopy: whole image", {{copyAll.get(), "copy"}},
          [&] { vexCopy(src, copyAll.get(), nullptr); });

    ImagePtr canvas = fresh(0);
    d.run("move", "vexSet: whole image to 128", {{canvas.get(), "set-gray128"}},
          [&] { vexSet(canvas.get(), 128, nullptr); });

    std::snprintf(what, sizeof what, "vexCopy: ROI %dx%d at (0,%d) into (%d,%d) of the gray image", H / 2, W / 2,
                  H / 4, W / 2, H / 2);
    {
        RoiScope r0(src, 0, 0, H / 4, W / 2, H / 2);
        RoiScope r1(canvas.get(), 0, W / 2, H / 2, W / 2, H / 2);
        d.run("move", what, {{canvas.get(), "copy-roi-into-gray"}}, [&] { vexCopy(src, canvas.get(), nullptr); });
    }

    ImagePtr redOnly = fresh(0);
    {
        RoiScope r0(src, 1, 0, 0, W, H);
        RoiScope r1(redOnly.get(), 1, 0, 0, W, H);
        d.run("move", "vexCopy: COI 1 (red) only, into a black image", {{redOnly.get(), "copy-coi1-red-only"}}, [&] { vexCopy(src, redOnly.get(), nullptr); });
    }

    ImagePtr whiteBox = same(src);
    std::snprintf(what, sizeof what, "vexSet: ROI %dx%d at (%d,%d) to 255", H / 4, W / 4, W / 8, H / 2);
    {
        RoiScope r0(whiteBox.get(), 0, W / 8, H / 2, W / 4, H / 4);
        d.run("move", what, {{whiteBox.get(), "set-roi-white-box"}}, [&] { vexSet(whiteBox.get(), 255, nullptr); });
    }

    ImagePtr noBlue = same(src);
    {
        RoiScope r0(noBlue.get(), 3, 0, 0, W, H);
        d.run("move", "vexSet: COI 3 (blue) to 0, whole image", {{noBlue.get(), "set-coi3-blue-zero"}}, [&] { vexSet(noBlue.get(), 0, nullptr); });
    }

    // ---- mirror on each axis, and in place on a region
    ImagePtr flip0 = fresh(0), flip1 = fresh(0), flipBoth = fresh(0);
    d.run("mirror", "vexMirror: flipAxis 0 (rows reversed, upside down)", {{flip0.get(), "mirror-flipAxis0-rows"}},
          [&] { vexMirror(src, flip0.get(), 0, nullptr); });
    d.run("mirror", "vexMirror: flipAxis 1 (columns reversed, left-right)",
          {{flip1.get(), "mirror-flipAxis1-columns"}}, [&] { vexMirror(src, flip1.get(), 1, nullptr); });
    d.run("mirror", "vexMirror: flipAxis -1 (both, a half turn)", {{flipBoth.get(), "mirror-flipAxis-1-both"}},
          [&] { vexMirror(src, flipBoth.get(), -1, nullptr); });
    ImagePtr inPlace = same(src);
    std::snprintf(what, sizeof what, "vexMirror: in place, flipAxis 1 on ROI %dx%d at (%d,%d)", H / 2, W / 2, W / 4,
                  H / 4);
    {
        RoiScope r0(inPlace.get(), 0, W / 4, H / 4, W / 2, H / 2);
        d.run("mirror", what, {{inPlace.get(), "mirror-inplace-roi"}}, [&] { vexMirror(inPlace.get(), inPlace.get(), 1, nullptr); });
    }

    ImagePtr exA = same(src), exB = same(flipBoth.get());
    std::snprintf(what, sizeof what, "vexExchange: left halves of the pattern and its half turn");
    {
        RoiScope r0(exA.get(), 0, 0, 0, W / 2, H);
        RoiScope r1(exB.get(), 0, 0, 0, W / 2, H);
        d.run("move", what, {{exA.get(), "exchange-a"}, {exB.get(), "exchange-b"}}, [&] { vexExchange(exA.get(), exB.get(), nullptr); });
    }

    // ---- arithmetic, with scalars and images
    auto arith = [&](const char* what2, const char* name, auto call) {
        ImagePtr o = fresh(0);
        d.run("arith", what2, {{o.get(), name}}, [&] { call(o.get()); });
    };
    arith("vexAddS: +80 (brighter, saturates at 255)", "adds-plus80",
          [&](VexImage* o) { vexAddS(src, o, 80, nullptr); });
    arith("vexAddS: -80 (darker, saturates at 0)", "adds-minus80",
          [&](VexImage* o) { vexAddS(src, o, -80, nullptr); });
    arith("vexSubtractS: 255 - src (swapOperands 1: the negative)", "subs-swap-255-negative",
          [&](VexImage* o) { vexSubtractS(src, o, 255, 1, nullptr); });
    arith("vexAdd: pattern + its half turn", "add-pattern-plus-halfturn",
          [&](VexImage* o) { vexAdd(src, flipBoth.get(), o, nullptr); });
    arith("vexSubtract: pattern - its left-right mirror", "sub-pattern-minus-mirror",
          [&](VexImage* o) { vexSubtract(src, flip1.get(), o, 0, nullptr); });
    arith("vexSubtract: mirror - pattern (swapOperands 1)", "sub-swap-mirror-minus-pattern",
          [&](VexImage* o) { vexSubtract(src, flip1.get(), o, 1, nullptr); });
    arith("vexMultiplyS: x2 (contrast, saturates)", "muls-times2",
          [&](VexImage* o) { vexMultiplyS(src, o, 2u, nullptr); });
    const ImagePtr mask01 = makeDiscMask(H, W, 1, 0);
    arith("vexMultiply: by a 0/1 disc mask", "mul-by-disc-mask",
          [&](VexImage* o) { vexMultiply(src, mask01.get(), o, nullptr); });
    arith("vexSquare: src x src (saturates at 255)", "square",
          [&](VexImage* o) { vexSquare(src, o, nullptr); });
    arith("vexAbs: on 8U a plain copy", "abs", [&](VexImage* o) { vexAbs(src, o, nullptr); });
    {
        ImagePtr g = same(src);
        std::snprintf(what, sizeof what, "vexAddS: +100 on COI 2 (green) in ROI %dx%d at (%d,%d)", H / 2, W / 2, W / 4,
                      H / 4);
        {
            RoiScope r0(src, 2, W / 4, H / 4, W / 2, H / 2);
            RoiScope r1(g.get(), 2, W / 4, H / 4, W / 2, H / 2);
            d.run("arith", what, {{g.get(), "adds-coi2-green-roi"}}, [&] { vexAddS(src, g.get(), 100, nullptr); });
        }
    }

    // ---- logic and shifts
    const ImagePtr mask255 = makeDiscMask(H, W, 255, 0);
    auto logic = [&](const char* what2, const char* name, auto call) {
        ImagePtr o = fresh(0);
        d.run("logic", what2, {{o.get(), name}}, [&] { call(o.get()); });
    };
    logic("vexAndS: 0xE0 (keep the top 3 bits: posterize)", "ands-0xE0",
          [&](VexImage* o) { vexAndS(src, o, 0xE0u, nullptr); });
    logic("vexOrS: 0x1F (set the low 5 bits)", "ors-0x1F", [&](VexImage* o) { vexOrS(src, o, 0x1Fu, nullptr); });
    logic("vexXorS: 0x80 (flip the top bit)", "xors-0x80", [&](VexImage* o) { vexXorS(src, o, 0x80u, nullptr); });
    logic("vexNot: invert", "not", [&](VexImage* o) { vexNot(src, o, nullptr); });
    logic("vexAnd: pattern AND 0/255 disc mask (cut out)", "and-disc-mask",
          [&](VexImage* o) { vexAnd(src, mask255.get(), o, nullptr); });
    logic("vexOr: pattern OR 0/255 disc mask (white disc)", "or-disc-mask",
          [&](VexImage* o) { vexOr(src, mask255.get(), o, nullptr); });
    logic("vexXor: pattern XOR its left-right mirror", "xor-pattern-mirror",
          [&](VexImage* o) { vexXor(src, flip1.get(), o, nullptr); });
    ImagePtr shifted = fresh(0), posterized = fresh(0);
    d.run("shift", "vexRShiftS: >> 3 (dark: 0..31)", {{shifted.get(), "rshift-3"}},
          [&] { vexRShiftS(src, shifted.get(), 3u, nullptr); });
    d.run("shift", "vexLShiftS: << 3 of the previous (posterized to 32 levels)", {{posterized.get(), "lshift-3-of-rshift"}},
          [&] { vexLShiftS(shifted.get(), posterized.get(), 3u, nullptr); });
    {
        ImagePtr o = fresh(0);
        d.run("shift", "vexLShiftS: << 1 (the top bit is lost: bright areas wrap)", {{o.get(), "lshift-1"}},
              [&] { vexLShiftS(src, o.get(), 1u, nullptr); });
    }

    // ---- threshold
    ImagePtr bin = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
    d.run("threshold", "vexThreshold: gray < 128 -> 0, else 255", {{bin.get(), "threshold-gray-128"}},
          [&] { vexThreshold(gray.get(), bin.get(), 128, nullptr); });
    ImagePtr binRgb = fresh(0);
    d.run("threshold", "vexThreshold: each RGB channel at 100", {{binRgb.get(), "threshold-rgb-100"}},
          [&] { vexThreshold(src, binRgb.get(), 100, nullptr); });
    ImagePtr binCoi = same(src);
    {
        RoiScope r0(src, 1, 0, 0, W, H);
        RoiScope r1(binCoi.get(), 1, 0, 0, W, H);
        d.run("threshold", "vexThreshold: COI 1 (red) at 128, green and blue kept",
              {{binCoi.get(), "threshold-coi1-red"}}, [&] { vexThreshold(src, binCoi.get(), 128, nullptr); });
    }

    // ---- 16-bit samples
    ImagePtr g16 = makeImage(H, W, 1, VEX_DEPTH_16U, 0);
    d.run("16U", "vexRShiftS: gray 16U >> 4", {{g16.get(), "gray16-rshift-4"}},
          [&] { vexRShiftS(gray16.get(), g16.get(), 4u, nullptr); });
    ImagePtr g16b = makeImage(H, W, 1, VEX_DEPTH_16U, 0);
    d.run("16U", "vexAddS: gray 16U + 20000 (saturates at 65535)", {{g16b.get(), "gray16-adds-20000"}},
          [&] { vexAddS(gray16.get(), g16b.get(), 20000, nullptr); });
    ImagePtr g16c = makeImage(H, W, 1, VEX_DEPTH_16U, 0);
    d.run("16U", "vexThreshold: gray 16U at 32768", {{g16c.get(), "gray16-threshold-32768"}},
          [&] { vexThreshold(gray16.get(), g16c.get(), 32768, nullptr); });

    // ---- (demo: convert)
    // Depth conversion never saturates: widening keeps the value, narrowing
    // keeps the high byte (mode 1, scaling) or the low byte (mode 0).
    ImagePtr wide8 = makeImage(H, W, 1, VEX_DEPTH_16U, 0);
    d.run("convert", "vexConvert: gray 8U -> 16U (value kept: near black)",
          {{wide8.get(), "convert-gray-8u-to-16u"}}, [&] { vexConvert(gray.get(), wide8.get(), 1, nullptr); });
    ImagePtr high = makeImage(H, W, 1, VEX_DEPTH_8U, 0), low = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
    d.run("convert", "vexConvert: 16U -> 8U, mode 1: the high byte",
          {{high.get(), "convert-16u-to-8u-scale"}}, [&] { vexConvert(g16b.get(), high.get(), 1, nullptr); });
    d.run("convert", "vexConvert: 16U -> 8U, mode 0: the low byte (wraps)",
          {{low.get(), "convert-16u-to-8u-truncate"}}, [&] { vexConvert(g16b.get(), low.get(), 0, nullptr); });
    // Depth, data order and origin in one pass, and back: the same picture.
    VexImage* planes = vexCreateImageHeader(3, 0, int(VEX_DEPTH_16S), "RGB", "RGB", VEX_DATA_ORDER_PLANE,
                                            VEX_ORIGIN_BL, 8, H, W, nullptr, nullptr, nullptr);
    if (planes) vexAllocateImage(planes, 0);
    if (!planes || !planes->imageData) throw ToolError(kExitIO, "demo: cannot make a 16S plane-order image");
    const ImagePtr planes16s(planes);
    d.run("convert", "vexConvert: RGB 8U pixel TL -> 16S plane BL", {},
          [&] { vexConvert(src, planes16s.get(), 1, nullptr); });
    ImagePtr back = fresh(0);
    d.run("convert", "vexConvert: that 16S plane BL -> 8U pixel TL, mode 0",
          {{back.get(), "convert-16s-planes-back-to-rgb"}}, [&] { vexConvert(planes16s.get(), back.get(), 0, nullptr); });
    // One bit per pixel: the thresholded gray reduced to 1U, then expanded.
    ImagePtr bits = makeImage(H, W, 1, VEX_DEPTH_1U, 0), tones = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
    d.run("convert", "vexConvert: threshold result -> 1U (non-zero is 1)", {},
          [&] { vexConvert(bin.get(), bits.get(), 0, nullptr); });
    d.run("convert", "vexBitonalToGray: 1U -> 8U, 0 bits 40, 1 bits 220", {{tones.get(), "bitonal-40-220"}},
          [&] { vexBitonalToGray(bits.get(), tones.get(), 40, 220, nullptr); });

    // Bitmaps: the pattern as an 8-bit median-cut DIB and as a 4-bit DIB with
    // the standard 16 colours, each read back, side by side.
    {
        auto makeDib = [](int bits, int h, int w) {
            const size_t stride = static_cast<size_t>((w * bits + 31) / 32 * 4);
            std::vector<uint8_t> buf(40 + 4 * (size_t(1) << bits) + stride * static_cast<size_t>(h));
            VexBitmapInfoHeader hd{};
            hd.biSize = 40, hd.biWidth = w, hd.biHeight = h, hd.biPlanes = 1, hd.biBitCount = uint16_t(bits);
            std::memcpy(buf.data(), &hd, sizeof hd);
            return buf;
        };
        std::vector<uint8_t> dib8 = makeDib(8, H, W), dib4 = makeDib(4, H, W);
        auto* h8 = reinterpret_cast<VexBitmapInfoHeader*>(dib8.data());
        auto* h4 = reinterpret_cast<VexBitmapInfoHeader*>(dib4.data());
        d.run("convert", "vexConvertToDIB: 8-bit DIB, median-cut table of 256", {},
              [&] { vexConvertToDIB(src, h8, 1, 2); });
        d.run("convert", "vexConvertToDIB: 4-bit DIB, the standard 16 colours", {},
              [&] { vexConvertToDIB(src, h4, 1, 1); });
        ImagePtr back8 = fresh(0), back4 = fresh(0), pair = makeImage(H, 2 * W, 3, VEX_DEPTH_8U, 0);
        d.run("convert", "vexConvertFromDIB: both back to RGB (left 8-bit, right 4-bit)",
              {{pair.get(), "dib-mediancut8-fixed4"}}, [&] {
                  vexConvertFromDIB(h8, back8.get());
                  vexConvertFromDIB(h4, back4.get());
                  for (int y = 0; y < H; ++y) {
                      char* row = pair->imageData + static_cast<size_t>(y) * pair->widthStep;
                      std::memcpy(row, back8->imageData + static_cast<size_t>(y) * back8->widthStep, size_t(W) * 3);
                      std::memcpy(row + size_t(W) * 3, back4->imageData + static_cast<size_t>(y) * back4->widthStep,
                                  size_t(W) * 3);
                  }
              });
    }

    // ---- (demo: color)
    {
        // Colour models: HSV and HLS there and back, gray and colour from gray.
        ImagePtr hsv = fresh(0), hsvBack = fresh(0), hls = fresh(0), hlsBack = fresh(0);
        d.run("color", "vexRGB2HSV: H (half degrees), S, V shown as R, G, B", {{hsv.get(), "color-hsv"}},
              [&] { vexRGB2HSV(src, hsv.get(), nullptr); });
        d.run("color", "vexHSV2RGB: the HSV image back to RGB", {{hsvBack.get(), "color-hsv-back"}},
              [&] { vexHSV2RGB(hsv.get(), hsvBack.get(), nullptr); });
        d.run("color", "vexRGB2HLS: H, L, S shown as R, G, B", {{hls.get(), "color-hls"}},
              [&] { vexRGB2HLS(src, hls.get(), nullptr); });
        d.run("color", "vexHLS2RGB: the HLS image back to RGB", {{hlsBack.get(), "color-hls-back"}},
              [&] { vexHLS2RGB(hls.get(), hlsBack.get(), nullptr); });
        ImagePtr luma = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("color", "vexColorToGray: (54R + 183G + 18B) >> 8", {{luma.get(), "color-gray"}},
              [&] { vexColorToGray(src, luma.get(), nullptr); });
        ImagePtr tinted = fresh(0);
        d.run("color", "vexGrayToColor: gray x (1.0, 0.8, 0.55), a warm tint", {{tinted.get(), "color-from-gray"}},
              [&] { vexGrayToColor(luma.get(), tinted.get(), 1.0f, 0.8f, 0.55f, nullptr); });

        // Bit reduction: gray 16U to two levels by Floyd-Steinberg, then to
        // one bit per pixel (shown expanded to black and white).
        ImagePtr two = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("color", "vexReduceBits: gray 16U -> 8U, Floyd-Steinberg, 2 levels", {{two.get(), "reduce-fs-2levels"}},
              [&] { vexReduceBits(gray16.get(), two.get(), 0, 2, 0, nullptr); });
        ImagePtr bits(vexCreateImageHeader(1, 0, VEX_DEPTH_1U, "GRAY", "GRAY", VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL,
                                           4, H, W, nullptr, nullptr, nullptr));
        if (!bits) throw ToolError(kExitIO, "out of memory for a 1-bit image");
        vexAllocateImage(bits.get(), 0);
        ImagePtr shown = fresh(0);
        d.run("color", "vexReduceBits: 8U -> 1U (> 127), shown via vexGrayToColor", {{shown.get(), "reduce-fs-1bit"}},
              [&] {
                  vexReduceBits(two.get(), bits.get(), 0, 1, 0, nullptr);
                  vexGrayToColor(bits.get(), shown.get(), 1.0f, 1.0f, 1.0f, nullptr);
              });
        ImagePtr ordered = makeImage(H, W, 1, VEX_DEPTH_8U, 0), jjn = makeImage(H, W, 1, VEX_DEPTH_8U, 0),
                 jitter = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("color", "vexReduceBits: ordered 4x4 dither, 4 levels (quantShift 2)", {{ordered.get(), "reduce-ordered"}},
              [&] { vexReduceBits(gray16.get(), ordered.get(), 0, 16, 2, nullptr); });
        d.run("color", "vexReduceBits: Jarvis-Judice-Ninke, 4 levels", {{jjn.get(), "reduce-jjn"}},
              [&] { vexReduceBits(gray16.get(), jjn.get(), 0, 4, 2, nullptr); });
        d.run("color", "vexReduceBits: jitter 4 steps, no dithering", {{jitter.get(), "reduce-jitter4"}},
              [&] { vexReduceBits(gray16.get(), jitter.get(), 4, 1, 0, nullptr); });

        // Colour twist: sepia in 1/1024 units.
        const int sepia[16] = {402, 787, 194, 0, 357, 702, 172, 0, 279, 547, 134, 0, 0, 0, 0, 0};
        VexColorTwist* twist = vexCreateColorTwist(sepia, 10);
        ImagePtr toned = fresh(0);
        d.run("color", "vexApplyColorTwist: sepia matrix (scalingValue 10)", {{toned.get(), "twist-sepia"}},
              [&] { vexApplyColorTwist(src, toned.get(), twist, 0, nullptr); });
        vexDeleteColorTwist(twist);
    }

    // ---- (demo: alpha)
    {
        // A sprite of half the pattern's size: colour rings inside a disc whose
        // opacity falls off towards its rim, transparent outside.
        const int sh = H / 2, sw = W / 2;
        ImagePtr sprite = makeImage(sh, sw, 4, VEX_DEPTH_8U, 0);
        const double scx = sw / 2.0, scy = sh / 2.0, sr = std::min(sw, sh) * 0.48;
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const double r = std::sqrt((x - scx) * (x - scx) + (y - scy) * (y - scy)) / sr;
                uint8_t* px = pixelAt(sprite.get(), x, y);
                const int ring = static_cast<int>(r * 6);
                px[0] = ring % 3 == 0 ? 255 : 40;
                px[1] = ring % 3 == 1 ? 255 : 60;
                px[2] = ring % 3 == 2 ? 255 : 30;
                px[3] = r >= 1 ? 0 : clamp8(static_cast<int>(255 * std::min(1.0, 1.6 * (1 - r))));
            }
        // The background: the pattern with an opacity that is full on the
        // left half and falls to a quarter on the right.
        ImagePtr background = makeImage(H, W, 4, VEX_DEPTH_8U, 0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint8_t* px = pixelAt(background.get(), x, y);
                std::memcpy(px, pixelAt(src, x, y), 3);
                px[3] = x < W / 2 ? 255 : clamp8(255 - (x - W / 2) * 191 / std::max(1, W - W / 2 - 1));
            }
        d.input("RGBA sprite and the pattern as RGBA background (alpha falling to the right)",
                {{sprite.get(), "alpha-sprite-rgba"}, {background.get(), "alpha-background-rgba"}});
        static const char* const kOperators[] = {"over", "in", "out", "atop", "xor", "plus"};
        for (int type = 0; type < 6; ++type) {
            ImagePtr o = same(background.get());
            std::snprintf(what, sizeof what, "vexAlphaComposite: sprite %s pattern at (%d,%d), plain result",
                          kOperators[type], W / 4, H / 4);
            char name[64];
            std::snprintf(name, sizeof name, "composite-%s", kOperators[type]);
            RoiScope r0(background.get(), 0, W / 4, H / 4, sw, sh);
            RoiScope r1(o.get(), 0, W / 4, H / 4, sw, sh);
            d.run("alpha", what, {{o.get(), name}}, [&] {
                vexAlphaComposite(sprite.get(), background.get(), o.get(), type, nullptr, nullptr, nullptr, 0, 1,
                                  nullptr);
            });
        }
        ImagePtr premul = same(sprite.get());
        d.run("alpha", "vexPreMultiplyAlpha: the sprite's colours times its alpha", {{premul.get(), "premultiply-sprite"}},
              [&] { vexPreMultiplyAlpha(premul.get(), -1, nullptr); });
        ImagePtr half = fresh(0);
        d.run("alpha", "vexMultiplySScale: pattern x 128/255 (half brightness)", {{half.get(), "mulscale-half"}},
              [&] { vexMultiplySScale(src, half.get(), 128, nullptr); });
        ImagePtr ramp = fresh(0), shaded = fresh(0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) std::memset(pixelAt(ramp.get(), x, y), clamp8(y * 255 / std::max(1, H - 1)), 3);
        d.run("alpha", "vexMultiplyScale: pattern x a vertical ramp (255 keeps)", {{shaded.get(), "mulscale-ramp"}},
              [&] { vexMultiplyScale(src, ramp.get(), shaded.get(), nullptr); });
    }

    // ---- (demo: stats)
    // A dark version of the luma (levels 0..63), its histogram, equalised
    // and stretched back to the full range, with before/after histograms.
    {
        ImagePtr dark = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("stats", "vexRShiftS: gray >> 2, a dark image (levels 0..63)", {{dark.get(), "gray-dark"}},
              [&] { vexRShiftS(gray.get(), dark.get(), 2u, nullptr); });
        std::vector<int> keys(257);
        for (int v = 0; v <= 256; ++v) keys[static_cast<size_t>(v)] = v;
        std::vector<int> counts(257, 0);
        VexLUT rec{257, keys.data(), counts.data(), nullptr, 0};
        VexLUT* lut = &rec;
        // Draws the records' current counts into `chart`.
        auto drawCounts = [&](VexImage* chart) {
            const ImagePtr p = plotHistogram({{counts.begin(), counts.end() - 1}}, H, W);
            std::memcpy(chart->imageData, p->imageData, static_cast<size_t>(p->dataSize));
        };
        ImagePtr plotBefore = makeImage(H, W, 3, VEX_DEPTH_8U, 0);
        d.run("stats", "vexComputeHisto: 256 bins of the dark image, drawn as a chart",
              {{plotBefore.get(), "histogram-dark"}}, [&] {
                  vexComputeHisto(dark.get(), &lut, nullptr);
                  drawCounts(plotBefore.get());
              });
        ImagePtr equalized = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        ImagePtr plotAfter = makeImage(H, W, 3, VEX_DEPTH_8U, 0);
        d.run("stats", "vexHistoEqualize: the dark image; the records get the new histogram",
              {{equalized.get(), "equalized"}, {plotAfter.get(), "histogram-equalized"}}, [&] {
                  vexHistoEqualize(dark.get(), equalized.get(), &lut, nullptr);
                  drawCounts(plotAfter.get());
              });
        ImagePtr stretched = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        std::vector<int> sKeys = {0, 64, 256}, sValues = {0, 255, 0}, sFactors = {4, 0, 0};
        VexLUT stretchRec{3, sKeys.data(), sValues.data(), sFactors.data(), 1};
        VexLUT* stretchLut = &stretchRec;
        d.run("stats", "vexContrastStretch: 0..63 -> 0..252 (slope 4), 64.. -> 255",
              {{stretched.get(), "stretch-dark"}},
              [&] { vexContrastStretch(dark.get(), stretched.get(), &stretchLut, nullptr); });
        double l2 = 0;
        d.run("stats", "vexNorm: relative L2 of equalized against stretched", {}, [&] {
            l2 = vexNorm(equalized.get(), stretched.get(), VEX_NORM_RELATIVE | VEX_NORM_L2);
        });
        std::printf("    relative L2 norm: %.6f\n", l2);
    }

    // ---- (demo: filter)
    {
        // Edge magnitude: Sobel x and y merged as the root of the sum of squares.
        const signed char sx[9] = {-1, 0, 1, -2, 0, 2, -1, 0, 1}, sy[9] = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
        VexConvKernel* sobel[2] = {vexCreateConvKernel(3, 3, 1, 1, sx, 0), vexCreateConvKernel(3, 3, 1, 1, sy, 0)};
        ImagePtr edges = same(gray.get());
        vexSetBorderMode(gray.get(), VEX_BORDER_REPLICATE, 15, 0);
        d.run("filter", "vexConvolve2D: Sobel x and y, combine 2 (edge magnitude)", {{edges.get(), "conv-sobel-magnitude"}},
              [&] { vexConvolve2D(gray.get(), edges.get(), sobel, 2, 2, nullptr); });
        vexDeleteConvKernel(sobel[0]);
        vexDeleteConvKernel(sobel[1]);
        const signed char g[3] = {1, 2, 1};
        VexConvKernel* gx = vexCreateConvKernel(1, 3, 1, 0, g, 2);
        VexConvKernel* gy = vexCreateConvKernel(3, 1, 0, 1, g, 2);
        ImagePtr smooth = same(src);
        vexSetBorderMode(src, VEX_BORDER_REFLECT, 15, 0);
        d.run("filter", "vexConvolveSep2D: 1 2 1 across and down, shift 4", {{smooth.get(), "sepconv-121"}},
              [&] { vexConvolveSep2D(src, smooth.get(), gx, gy); });
        vexDeleteConvKernel(gx);
        vexDeleteConvKernel(gy);

        // Salt and pepper on 6% of the pixels, then medians.
        ImagePtr noisy = same(src);
        uint32_t state = 12345u;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                state = state * 1664525u + 1013904223u;
                const uint32_t r = state >> 24;
                if (r < 8) std::memset(pixelAt(noisy.get(), x, y), r < 4 ? 0 : 255, 3);
            }
        vexSetBorderMode(noisy.get(), VEX_BORDER_REPLICATE, 15, 0);
        d.input("the RGB pattern with salt-and-pepper noise on 6% of the pixels", {{noisy.get(), "noisy-salt-pepper"}});
        ImagePtr med3 = same(src), med5 = same(src);
        d.run("filter", "vexMedianFilter: 3x3 of the noisy pattern", {{med3.get(), "median-3x3-denoised"}},
              [&] { vexMedianFilter(noisy.get(), med3.get(), 3, 3, 1, 1, nullptr); });
        d.run("filter", "vexMedianFilter: 5x5 of the noisy pattern", {{med5.get(), "median-5x5-denoised"}},
              [&] { vexMedianFilter(noisy.get(), med5.get(), 5, 5, 2, 2, nullptr); });

        // Box blur at three window sizes.
        for (int k : {3, 9, 25}) {
            ImagePtr blurred = same(src);
            std::snprintf(what, sizeof what, "vexBlur: %dx%d window, reflected border", k, k);
            const std::string name = "blur-" + std::to_string(k) + "x" + std::to_string(k);
            d.run("filter", what, {{blurred.get(), name.c_str()}},
                  [&] { vexBlur(src, blurred.get(), k, k, k / 2, k / 2); });
        }
        ImagePtr dil = same(gray.get()), ero = same(gray.get());
        d.run("filter", "vexMaxFilter: 7x7 of the gray image", {{dil.get(), "max-7x7"}},
              [&] { vexMaxFilter(gray.get(), dil.get(), 7, 7, 3, 3, nullptr); });
        d.run("filter", "vexMinFilter: 7x7 of the gray image", {{ero.get(), "min-7x7"}},
              [&] { vexMinFilter(gray.get(), ero.get(), 7, 7, 3, 3, nullptr); });
        vexSetBorderMode(src, VEX_BORDER_CONSTANT, 15, 0);
        vexSetBorderMode(gray.get(), VEX_BORDER_CONSTANT, 15, 0);
    }

    // ---- (demo: morph)
    // The luma sprinkled with bright and dark specks: opening removes the
    // bright ones, closing the dark ones; larger shapes keep their outline.
    {
        ImagePtr specks = cloneImage(gray.get());
        Rng rng;
        for (int k = 0; k < H * W / 150; ++k) {
            const int x = static_cast<int>(rng.next() % static_cast<uint32_t>(W));
            const int y = static_cast<int>(rng.next() % static_cast<uint32_t>(H));
            specks->imageData[static_cast<size_t>(y) * specks->widthStep + x] = static_cast<char>(k % 2 ? 255 : 0);
        }
        d.input("gray with single-pixel bright and dark specks", {{specks.get(), "gray-specks"}});
        struct Step {
            void (*fn)(VexImage*, VexImage*, int, const VexMapping*);
            const char* what;
            const char* name;
        };
        const Step steps[] = {
            {vexErode, "vexErode: 3x3 minimum (bright specks vanish, dark ones grow)", "erode"},
            {vexDilate, "vexDilate: 3x3 maximum (dark specks vanish, bright ones grow)", "dilate"},
            {vexOpen, "vexOpen: erosion then dilation, removes the bright specks", "open"},
            {vexClose, "vexClose: dilation then erosion, removes the dark specks", "close"},
        };
        for (const Step& st : steps) {
            ImagePtr out = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
            d.run("morph", st.what, {{out.get(), st.name}}, [&] { st.fn(specks.get(), out.get(), 1, nullptr); });
        }
        ImagePtr both = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        vexSetBorderMode(specks.get(), VEX_BORDER_REPLICATE, VEX_SIDE_ALL, 0);
        d.run("morph", "vexOpen then vexClose (replicated border): both kinds removed", {{both.get(), "open-close"}},
              [&] {
                  vexOpen(specks.get(), both.get(), 1, nullptr);
                  vexClose(both.get(), both.get(), 1, nullptr);
              });
    }

    // ---- (demo: geom)
    {
        // A detail around the text and the checkerboard edge, zoomed x3 with
        // each interpolation into three panels of one image.
        const int dw = std::max(4, W / 6), dh = std::max(4, H / 6), dx = W / 4 - dw / 4, dy = H / 4;
        ImagePtr panels = makeImage(3 * dh, 9 * dw + 2 * 4, 3, VEX_DEPTH_8U, 255);
        RoiScope r0(src, 0, dx, dy, dw, dh);
        static const char* kNames[] = {"nearest neighbour", "linear", "cubic"};
        for (int k = 0; k < 3; ++k) {
            RoiScope r1(panels.get(), 0, k * (3 * dw + 4), 0, 3 * dw, 3 * dh);
            std::snprintf(what, sizeof what, "vexZoom: x3 of a %dx%d detail, %s (panel %d of 3)", dh, dw,
                          kNames[k], k + 1);
            // The image is written once, with its three panels.
            std::vector<Output> outs;
            if (k == 2) outs.push_back({panels.get(), "zoom-x3-nn-linear-cubic"});
            d.run("geom", what, outs, [&] { vexZoom(src, panels.get(), 3, 1, 3, 1, k, nullptr); });
        }
    }
    {
        ImagePtr rotated = fresh(0);
        d.run("geom", "vexRotate: 30 degrees about the centre, linear (corners black)",
              {{rotated.get(), "rotate-30-linear"}},
              [&] { vexRotate(src, rotated.get(), 3000, (W - 1) / 2, (H - 1) / 2, VEX_INTER_LINEAR, nullptr); });
        ImagePtr quarter = fresh(0);
        d.run("geom", "vexRotate: 90 degrees about the centre, exact (uncovered parts black)",
              {{quarter.get(), "rotate-90-exact"}},
              [&] { vexRotate(src, quarter.get(), 9000, (W - 1) / 2, (H - 1) / 2, VEX_INTER_NN, nullptr); });
        ImagePtr small = makeImage(H * 2 / 3, W * 2 / 3, 3, VEX_DEPTH_8U, 0);
        d.run("geom", "vexDecimate: 2/3 in both directions, linear (the zone plate aliases)",
              {{small.get(), "decimate-2-3-linear"}},
              [&] { vexDecimate(src, small.get(), 2, 3, 2, 3, VEX_INTER_LINEAR, nullptr); });
        ImagePtr smallCubic = makeImage(H * 2 / 3, W * 2 / 3, 3, VEX_DEPTH_8U, 0);
        d.run("geom", "vexDecimate: 2/3 in both directions, cubic", {{smallCubic.get(), "decimate-2-3-cubic"}},
              [&] { vexDecimate(src, smallCubic.get(), 2, 3, 2, 3, VEX_INTER_CUBIC, nullptr); });
    }

    // ---- (demo: transform)
    {
        // Work images of signed depths for spectra and coefficients.
        auto work = [&](unsigned depth) {
            ImagePtr img(vexCreateImageHeader(1, 0, int(depth), "GRAY", "G", VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, 4, H,
                                              W, nullptr, nullptr, nullptr));
            if (!img) throw ToolError(kExitIO, "cannot create a work image");
            vexAllocateImage(img.get(), 0);
            if (!img->imageData) throw ToolError(kExitIO, "out of memory for a work image");
            return img;
        };
        auto s32 = [](VexImage* img, int x, int y) -> int32_t& {
            return reinterpret_cast<int32_t*>(img->imageData + size_t(y) * img->widthStep)[x];
        };
        auto s16 = [](VexImage* img, int x, int y) -> int16_t& {
            return reinterpret_cast<int16_t*>(img->imageData + size_t(y) * img->widthStep)[x];
        };
        // Frequencies (u, v) held at CCS position (x, y).
        auto freq = [&](int x, int y, int* u, int* v) {
            const bool realColumn = x == 0 || (W % 2 == 0 && x == W - 1);
            *u = x == 0 ? 0 : (realColumn ? W / 2 : (x + 1) / 2);
            *v = realColumn ? (y + 1) / 2 : std::min(y, H - y);
        };
        // Centred log-magnitude view of a 32S CCS spectrum.
        auto spectrumView = [&](VexImage* ccs) {
            auto packed = [&](int x, int k, double* re, double* im) {
                int sign = 1;
                if (2 * k > H) k = H - k, sign = -1;
                if (k == 0) *re = s32(ccs, x, 0), *im = 0;
                else if (2 * k == H) *re = s32(ccs, x, H - 1), *im = 0;
                else *re = s32(ccs, x, 2 * k - 1), *im = sign * s32(ccs, x, 2 * k);
            };
            std::vector<double> mag(size_t(W) * H);
            double top = 0;
            for (int v = 0; v < H; ++v)
                for (int u = 0; u < W; ++u) {
                    int uu = u, vv = v;
                    double sign = 1, re = 0, im = 0;
                    if (2 * u > W) uu = W - u, vv = (H - v) % H, sign = -1;
                    if (uu == 0) packed(0, vv, &re, &im);
                    else if (2 * uu == W) packed(W - 1, vv, &re, &im);
                    else re = s32(ccs, 2 * uu - 1, vv), im = s32(ccs, 2 * uu, vv);
                    im *= sign;
                    mag[size_t(v) * W + u] = std::log1p(std::sqrt(re * re + im * im));
                    top = std::max(top, mag[size_t(v) * W + u]);
                }
            ImagePtr view = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const int u = (x + W - W / 2) % W, v = (y + H - H / 2) % H;
                    pixelAt(view.get(), x, y)[0] = clamp8(int(std::lround(255.0 * mag[size_t(v) * W + u] / top)));
                }
            return view;
        };
        ImagePtr ccs = work(VEX_DEPTH_32S);
        ImagePtr specView, lowView;
        d.run("transform", "vexRealFft2D: spectrum of the gray pattern (centred log magnitude)",
              {}, [&] { vexRealFft2D(gray.get(), ccs.get(), 0x21, nullptr); });
        specView = spectrumView(ccs.get());
        d.input("the spectrum, centred, log magnitude", {{specView.get(), "fft-spectrum"}});
        // Low-pass: coefficients beyond an eighth of the band are zeroed.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                int u, v;
                freq(x, y, &u, &v);
                const double r = double(u) * u / (double(W) * W) + double(v) * v / (double(H) * H);
                if (r > 1.0 / 64) s32(ccs.get(), x, y) = 0;
            }
        lowView = spectrumView(ccs.get());
        d.input("the spectrum with frequencies beyond 1/8 zeroed", {{lowView.get(), "fft-spectrum-lowpass"}});
        ImagePtr low = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("transform", "vexCcsFft2D: inverse of the zeroed spectrum (low-pass)", {{low.get(), "fft-lowpass"}},
              [&] { vexCcsFft2D(ccs.get(), low.get(), 0x22, nullptr); });
        // DCT: coefficients, then only the lowest quarter in each direction kept.
        ImagePtr coef = work(VEX_DEPTH_16S);
        ImagePtr coefView = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("transform", "vexDCT2D: forward DCT of the gray pattern", {},
              [&] { vexDCT2D(gray.get(), coef.get(), VEX_DCT_FORWARD); });
        double top = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) top = std::max(top, std::log1p(std::abs(double(s16(coef.get(), x, y)))));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                pixelAt(coefView.get(), x, y)[0] =
                    clamp8(int(std::lround(255.0 * std::log1p(std::abs(double(s16(coef.get(), x, y)))) / top)));
                if (x >= W / 4 || y >= H / 4) s16(coef.get(), x, y) = 0;
            }
        d.input("DCT coefficients, log magnitude (low frequencies top left)", {{coefView.get(), "dct-coefficients"}});
        ImagePtr dctLow = makeImage(H, W, 1, VEX_DEPTH_8U, 0);
        d.run("transform", "vexDCT2D: inverse of the lowest quarter of the coefficients", {{dctLow.get(), "dct-lowpass"}},
              [&] { vexDCT2D(coef.get(), dctLow.get(), VEX_DCT_INVERSE); });
    }

    if (d.failures()) {
        std::fprintf(stderr, "vex: demo: %d step(s) failed\n", d.failures());
        return kExitLibrary;
    }
    return kExitOk;
}

}  // namespace vextool
