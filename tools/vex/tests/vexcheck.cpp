// vexcheck: the reference side of the vex end-to-end tests.
//
//   vexcheck gen FILE H W C BITS KEY    write a pseudo-random test image
//                                       (8 bits: .png or .jpg; 16 bits: .pgm/.ppm;
//                                       KEY 0: all zeros)
//   vexcheck size FILE H W C BITS       decode FILE, check its shape
//   vexcheck same FILE1 FILE2           decode both, require equal samples
//   vexcheck expect OP FILES... [--name VALUE | --name=VALUE | --flag | name=VALUE]
//                                       run OP through the library directly on
//                                       the inputs and compare with the output
//                                       file(s) vex wrote; the options are read
//                                       here, by their vex names (changed=0: the
//                                       output may equal the first input)
//
// It decodes files with stb_image only (never with the program's own
// reader) and builds its VexImage headers itself, so a mistake in the
// program's file handling or option plumbing shows as a difference.
// Exit status: 0 pass, 1 mismatch or failure (with a message on stderr).
#include <stb_image.h>
#include <stb_image_write.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vexlib.h"

namespace {

[[noreturn]] void fail(const std::string& msg) {
    std::fprintf(stderr, "vexcheck: %s\n", msg.c_str());
    std::exit(1);
}

struct Deleter {
    void operator()(VexImage* img) const { vexDeallocate(img, VEX_IMAGE_ALL); }
};
using Image = std::unique_ptr<VexImage, Deleter>;

Image create(int h, int w, int c, int bits) {
    const char* seq[5] = {"", "G\0\0", "GA\0", "RGB", "RGBA"};
    const char* space[5] = {"", "GRAY", "GRAY", "RGB", "RGBA"};
    const int alpha = (c == 2 || c == 4) ? c : 0;
    VexImage* img = vexCreateImageHeader(c, alpha, bits == 16 ? VEX_DEPTH_16U : VEX_DEPTH_8U, space[c], seq[c],
                                         VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, 4, h, w, nullptr, nullptr, nullptr);
    if (!img) fail("cannot create a header");
    vexAllocateImage(img, 0);
    if (!img->imageData) fail("cannot allocate an image");
    return Image(img);
}

int rowBytes(const VexImage* img) { return img->width * img->nChannels * (img->depth == VEX_DEPTH_16U ? 2 : 1); }

Image decode(const std::string& path) {
    int w, h, c;
    const bool wide = stbi_is_16_bit(path.c_str()) != 0;
    void* data = wide ? static_cast<void*>(stbi_load_16(path.c_str(), &w, &h, &c, 0))
                      : static_cast<void*>(stbi_load(path.c_str(), &w, &h, &c, 0));
    if (!data) fail("cannot decode '" + path + "': " + (stbi_failure_reason() ? stbi_failure_reason() : "?"));
    Image img = create(h, w, c, wide ? 16 : 8);
    const int rb = rowBytes(img.get());
    for (int y = 0; y < h; ++y)
        std::memcpy(img->imageData + static_cast<size_t>(y) * img->widthStep, static_cast<char*>(data) + static_cast<size_t>(y) * rb, rb);
    stbi_image_free(data);
    // 16-bit PGM/PPM samples are big-endian; stb hands them over as stored.
    char magic[2] = {0, 0};
    if (FILE* f = wide ? std::fopen(path.c_str(), "rb") : nullptr) {
        if (std::fread(magic, 1, 2, f) != 2) magic[0] = 0;
        std::fclose(f);
    }
    if (magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6'))
        for (int y = 0; y < h; ++y) {
            unsigned char* row = reinterpret_cast<unsigned char*>(img->imageData) + static_cast<size_t>(y) * img->widthStep;
            for (int i = 0; i < rb; i += 2) std::swap(row[i], row[i + 1]);
        }
    return img;
}

Image clone(const VexImage* src) {
    Image img = create(src->height, src->width, src->nChannels, src->depth == VEX_DEPTH_16U ? 16 : 8);
    std::memcpy(img->imageData, src->imageData, static_cast<size_t>(src->dataSize));
    return img;
}

// Number of differing sample bytes (rows only, padding ignored); -1 when
// the shapes differ.
long differences(const VexImage* a, const VexImage* b) {
    if (a->height != b->height || a->width != b->width || a->nChannels != b->nChannels || a->depth != b->depth)
        return -1;
    long n = 0;
    const int rb = rowBytes(a);
    for (int y = 0; y < a->height; ++y) {
        const char* pa = a->imageData + static_cast<size_t>(y) * a->widthStep;
        const char* pb = b->imageData + static_cast<size_t>(y) * b->widthStep;
        for (int i = 0; i < rb; ++i) n += pa[i] != pb[i];
    }
    return n;
}

std::string shape(const VexImage* img) {
    return std::to_string(img->height) + "x" + std::to_string(img->width) + "x" + std::to_string(img->nChannels) +
           (img->depth == VEX_DEPTH_16U ? " 16-bit" : " 8-bit");
}

// -------------------------------------------------------------- gen

int cmdGen(int argc, char** argv) {
    if (argc != 8) fail("usage: gen FILE H W C BITS KEY");
    const std::string path = argv[2];
    const int h = std::atoi(argv[3]), w = std::atoi(argv[4]), c = std::atoi(argv[5]), bits = std::atoi(argv[6]);
    // KEY 0 writes an all-zero image; any other key a pseudo-random one.
    const bool zero = std::strtoul(argv[7], nullptr, 0) == 0;
    uint32_t state = static_cast<uint32_t>(std::strtoul(argv[7], nullptr, 0)) | 1u;
    auto next = [&]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const size_t n = static_cast<size_t>(h) * w * c;
    if (bits == 8) {
        // Half smooth ramps, half noise, so thresholds and shifts have work.
        std::vector<unsigned char> px(n);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < c; ++k) {
                    const size_t i = (static_cast<size_t>(y) * w + x) * c + k;
                    px[i] = zero ? 0
                          : (x < w / 2) ? static_cast<unsigned char>((x * 7 + y * 3 + k * 50) & 0xFF)
                                        : static_cast<unsigned char>(next() >> 24);
                }
        const bool jpeg = path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
        const int ok = jpeg ? stbi_write_jpg(path.c_str(), w, h, c, px.data(), 90)
                            : stbi_write_png(path.c_str(), w, h, c, px.data(), w * c);
        if (!ok) fail("cannot write " + path);
        return 0;
    }
    if (bits != 16 || (c != 1 && c != 3)) fail("16-bit images are written as PGM (1 channel) or PPM (3)");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("cannot write " + path);
    std::fprintf(f, "P%c\n%d %d\n65535\n", c == 1 ? '5' : '6', w, h);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = zero ? 0 : next() >> 16;
        const unsigned char be[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v & 0xFF)};
        std::fwrite(be, 1, 2, f);
    }
    std::fclose(f);
    return 0;
}

// -------------------------------------------------------------- size, same

int cmdSize(int argc, char** argv) {
    if (argc != 7) fail("usage: size FILE H W C BITS");
    Image img = decode(argv[2]);
    const std::string want = std::string(argv[3]) + "x" + argv[4] + "x" + argv[5] + " " + argv[6] + "-bit";
    if (shape(img.get()) != want) fail(std::string(argv[2]) + ": decoded " + shape(img.get()) + ", expected " + want);
    return 0;
}

int cmdSame(int argc, char** argv) {
    if (argc != 4) fail("usage: same FILE1 FILE2");
    Image a = decode(argv[2]), b = decode(argv[3]);
    const long d = differences(a.get(), b.get());
    if (d != 0)
        fail(std::string(argv[2]) + " and " + argv[3] +
             (d < 0 ? " differ in shape: " + shape(a.get()) + " vs " + shape(b.get())
                    : " differ in " + std::to_string(d) + " sample bytes"));
    return 0;
}

// -------------------------------------------------------------- expect

struct Options {
    std::map<std::string, std::string> kv;
    bool has(const std::string& k) const { return kv.count(k) != 0; }
    long long num(const std::string& k, long long def = 0) const {
        auto it = kv.find(k);
        return it == kv.end() ? def : std::strtoll(it->second.c_str(), nullptr, 0);
    }
};

void attachRoi(VexImage* img, const Options& o, const char* side) {
    const std::string roiKey = std::string(side) + "-roi", coiKey = std::string(side) + "-coi";
    const std::string rect = o.has(roiKey) ? o.kv.at(roiKey) : (o.has("roi") ? o.kv.at("roi") : "");
    const int coi = static_cast<int>(o.has(coiKey) ? o.num(coiKey) : o.num("coi"));
    if (rect.empty() && coi == 0) return;
    int x = 0, y = 0, w = img->width, h = img->height;
    if (!rect.empty() && std::sscanf(rect.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) != 4) fail("bad roi " + rect);
    img->roi = vexCreateROI(coi, x, y, h, w);
}

// Input and output files of an operation.
int inputsOf(const std::string& op) {
    for (const char* two : {"exchange", "add", "sub", "mul", "and", "or", "xor", "composite", "mulscale"})
        if (op == two) return 2;
    return 1;
}

int reportCount = 0;
int countingReport(int status, const char*, const char* context, const char*, int) {
    ++reportCount;
    std::fprintf(stderr, "vexcheck: library report %d: %s\n", status, context ? context : "");
    return status;
}

int cmdExpect(int argc, char** argv) {
    if (argc < 3) fail("usage: expect OP FILES... [key=value...]");
    const std::string op = argv[2];
    const int nIn = inputsOf(op), nOut = op == "exchange" ? 2 : 1;
    std::vector<std::string> files;
    Options o;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        const bool dashed = arg.compare(0, 2, "--") == 0;
        if (dashed) arg.erase(0, 2);
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) o.kv[arg.substr(0, eq)] = arg.substr(eq + 1);
        else if (!dashed) files.push_back(arg);
        else o.kv[arg] = i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0 ? argv[++i] : "1";
    }
    if (static_cast<int>(files.size()) != nIn + nOut)
        fail(op + " takes " + std::to_string(nIn) + " input and " + std::to_string(nOut) + " output files");
    // Interpolations by name, angles in degrees unless --hundredths.
    static const char* const kInterp[] = {"nn", "linear", "cubic"};
    for (int k = 0; k < 3; ++k)
        if (o.has("interp") && o.kv.at("interp") == kInterp[k]) o.kv["interp"] = std::to_string(k);
    if (o.has("angle") && !o.has("hundredths"))
        o.kv["angle"] = std::to_string(std::llround(std::strtod(o.kv.at("angle").c_str(), nullptr) * 100));

    std::vector<Image> in;
    for (int k = 0; k < nIn; ++k) in.push_back(decode(files[k]));
    std::vector<Image> dst;
    if (op == "exchange") {
        dst.push_back(clone(in[0].get()));
        dst.push_back(clone(in[1].get()));
        attachRoi(dst[0].get(), o, "src");
        attachRoi(dst[1].get(), o, "dst");
    } else {
        dst.push_back(o.has("base") ? decode(o.kv.at("base")) : clone(in[0].get()));
        if (op != "set")
            for (Image& s : in) attachRoi(s.get(), o, "src");
        attachRoi(dst[0].get(), o, "dst");
    }

    VexImage* a = in[0].get();
    VexImage* b = in.size() > 1 ? in[1].get() : nullptr;
    VexImage* d = dst[0].get();
    const int value = static_cast<int>(o.num("value"));
    const unsigned uvalue = static_cast<unsigned>(o.num("value") & 0xFFFFFFFFLL);
    const int swap = static_cast<int>(o.num("swapOperands"));
    const unsigned shift = static_cast<unsigned>(o.num("shift"));

    // Geometric transforms make their destination: zeros of the shape of the
    // output file. Factors are U/L, the interpolation a code, the angle in
    // hundredths, the centre defaults to the middle pixel.
    int gU = 1, gL = 1, gyU = 1, gyL = 1;
    if (op == "zoom" || op == "decimate" || op == "rotate") {
        Image shapeOf = decode(files[1]);
        Image made = create(shapeOf->height, shapeOf->width, a->nChannels, a->depth == VEX_DEPTH_16U ? 16 : 8);
        attachRoi(made.get(), o, "dst");
        dst[0] = std::move(made);
        d = dst[0].get();
        if (o.has("factor") && std::sscanf(o.kv.at("factor").c_str(), "%d/%d", &gU, &gL) != 2) fail("bad factor");
        gyU = gU, gyL = gL;
        if (o.has("yfactor") && std::sscanf(o.kv.at("yfactor").c_str(), "%d/%d", &gyU, &gyL) != 2) fail("bad yfactor");
    }
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(countingReport);
    vexSetErrStatus(VEX_StsOk);
    if (op == "copy") vexCopy(a, d, nullptr);
    else if (op == "set") vexSet(d, static_cast<int>(o.num("fillValue")), nullptr);
    else if (op == "exchange") vexExchange(d, dst[1].get(), nullptr);
    else if (op == "mirror") vexMirror(a, d, static_cast<int>(o.num("flipAxis")), nullptr);
    else if (op == "add") vexAdd(a, b, d, nullptr);
    else if (op == "adds") vexAddS(a, d, value, nullptr);
    else if (op == "sub") vexSubtract(a, b, d, swap, nullptr);
    else if (op == "subs") vexSubtractS(a, d, value, swap, nullptr);
    else if (op == "mul") vexMultiply(a, b, d, nullptr);
    else if (op == "muls") vexMultiplyS(a, d, uvalue, nullptr);
    else if (op == "square") vexSquare(a, d, nullptr);
    else if (op == "abs") vexAbs(a, d, nullptr);
    else if (op == "and") vexAnd(a, b, d, nullptr);
    else if (op == "or") vexOr(a, b, d, nullptr);
    else if (op == "xor") vexXor(a, b, d, nullptr);
    else if (op == "ands") vexAndS(a, d, uvalue, nullptr);
    else if (op == "ors") vexOrS(a, d, uvalue, nullptr);
    else if (op == "xors") vexXorS(a, d, uvalue, nullptr);
    else if (op == "not") vexNot(a, d, nullptr);
    else if (op == "lshift") vexLShiftS(a, d, shift, nullptr);
    else if (op == "rshift") vexRShiftS(a, d, shift, nullptr);
    else if (op == "threshold") vexThreshold(a, d, static_cast<int>(o.num("threshold")), nullptr);
    else if (op == "gray") {
        dst[0] = create(a->height, a->width, 1, 8);
        d = dst[0].get();
        vexColorToGray(a, d, nullptr);
    } else if (op == "color") {
        dst[0] = create(a->height, a->width, 3, a->depth == VEX_DEPTH_16U ? 16 : 8);
        d = dst[0].get();
        auto w = [&](const char* k) { return o.has(k) ? std::strtof(o.kv.at(k).c_str(), nullptr) : 0.0f; };
        vexGrayToColor(a, d, w("red"), w("green"), w("blue"), nullptr);
    } else if (op == "hsv") vexRGB2HSV(a, d, nullptr);
    else if (op == "hls") vexRGB2HLS(a, d, nullptr);
    else if (op == "hsv2rgb" || op == "hls2rgb") {
        const char* model = op == "hsv2rgb" ? "HSV" : "HLS";
        std::memcpy(a->colorSpace, model, 3);
        std::memcpy(a->channelSeq, model, 3);
        if (op == "hsv2rgb") vexHSV2RGB(a, d, nullptr);
        else vexHLS2RGB(a, d, nullptr);
    }
    else if (op == "composite") {
        static const char* const names[] = {"over", "in", "out", "atop", "xor", "plus"};
        int type = 0;
        for (int k = 0; k < 6; ++k)
            if (o.has("op") && o.kv.at("op") == names[k]) type = k;
        if (o.has("alphaA") || o.has("alphaB"))
            vexAlphaCompositeC(a, b, d, type, static_cast<int>(o.num("alphaA", -1)), static_cast<int>(o.num("alphaB", -1)),
                               static_cast<int>(o.num("premulAlpha")), static_cast<int>(o.num("divideMode")), nullptr);
        else
            vexAlphaComposite(a, b, d, type, nullptr, nullptr, nullptr, static_cast<int>(o.num("premulAlpha")),
                              static_cast<int>(o.num("divideMode")), nullptr);
    } else if (op == "premultiply") vexPreMultiplyAlpha(d, static_cast<int>(o.num("alphaValue", -1)), nullptr);
    else if (op == "mulscale") vexMultiplyScale(a, b, d, nullptr);
    else if (op == "mulscales") vexMultiplySScale(a, d, uvalue, nullptr);
    else if (op == "erode" || op == "dilate" || op == "open" || op == "close") {
        vexSetBorderMode(a, static_cast<int>(o.num("border")), VEX_SIDE_ALL, static_cast<int>(o.num("border-value")));
        const int n = static_cast<int>(o.num("iterations", 1));
        if (op == "erode") vexErode(a, d, n, nullptr);
        if (op == "dilate") vexDilate(a, d, n, nullptr);
        if (op == "open") vexOpen(a, d, n, nullptr);
        if (op == "close") vexClose(a, d, n, nullptr);
    } else if (op == "stretch" || op == "equalize") {
        // One key per level: the records hold the whole table (stretch) or
        // the whole histogram (equalize).
        const int M = a->depth == VEX_DEPTH_16U ? 65536 : 256;
        const long long lo = o.num("low"), hi = o.num("high");
        std::vector<int> keys(size_t(M) + 1);
        std::vector<std::vector<int>> values(4, std::vector<int>(size_t(M) + 1, 0));
        VexLUT recs[4];
        VexLUT* ptrs[4];
        for (int v = 0; v <= M; ++v) {
            keys[size_t(v)] = v;
            if (op == "stretch")
                values[0][size_t(v)] = int(v <= lo ? 0 : v >= hi ? M - 1 : ((v - lo) * (M - 1) + (hi - lo) / 2) / (hi - lo));
        }
        for (int k = 0; k < 4; ++k) {
            recs[k] = VexLUT{M + 1, keys.data(), values[op == "stretch" ? 0 : size_t(k)].data(), nullptr, 0};
            ptrs[k] = &recs[k];
        }
        if (op == "stretch") {
            vexContrastStretch(a, d, ptrs, nullptr);
        } else {
            vexComputeHisto(a, ptrs, nullptr);
            vexHistoEqualize(a, d, ptrs, nullptr);
        }
    }
    else if (op == "zoom") vexZoom(a, d, gU, gL, gyU, gyL, static_cast<int>(o.num("interp", 1)), nullptr);
    else if (op == "decimate") vexDecimate(a, d, gU, gL, gyU, gyL, static_cast<int>(o.num("interp", 1)), nullptr);
    else if (op == "rotate")
        vexRotate(a, d, static_cast<int>(o.num("angle")), static_cast<int>(o.num("xShift", (a->width - 1) / 2)),
                  static_cast<int>(o.num("yShift", (a->height - 1) / 2)), static_cast<int>(o.num("interp", 1)), nullptr);
    // Neighbourhood filters: kernels written out here independently of the program.
    else if (op == "convolve" || op == "sepconv") {
        auto entries = [](const std::string& text) {
            std::vector<signed char> v;
            for (const char* p = text.c_str(); *p;) {
                char* end = nullptr;
                v.push_back(static_cast<signed char>(std::strtol(p, &end, 10)));
                p = *end ? end + 1 : end;
            }
            return v;
        };
        std::vector<VexConvKernel*> ks;
        if (op == "convolve") {
            const std::map<std::string, std::string> presets = {
                {"sobel-x", "3x3:-1,0,1,-2,0,2,-1,0,1"}, {"sobel-y", "3x3:-1,-2,-1,0,0,0,1,2,1"},
                {"laplace", "3x3:0,1,0,1,-4,1,0,1,0"},   {"sharpen", "3x3:0,-1,0,-1,5,-1,0,-1,0"},
                {"gauss3", "3x3:1,2,1,2,4,2,1,2,1/4"},
                {"gauss5", "5x5:1,4,6,4,1,4,16,24,16,4,6,24,36,24,6,4,16,24,16,4,1,4,6,4,1/8"}};
            std::string all = o.kv.at("kernel") + "+";
            for (size_t at = 0, plus; (plus = all.find('+', at)) != std::string::npos; at = plus + 1) {
                std::string one = all.substr(at, plus - at);
                if (presets.count(one)) one = presets.at(one);
                int rows = 0, cols = 0, shift = 0;
                std::sscanf(one.c_str(), "%dx%d", &rows, &cols);
                const size_t slash = one.find('/');
                if (slash != std::string::npos) shift = std::atoi(one.c_str() + slash + 1);
                const std::string body = one.substr(one.find(':') + 1, slash == std::string::npos ? std::string::npos : slash - one.find(':') - 1);
                ks.push_back(vexCreateConvKernel(rows, cols, (cols - 1) / 2, (rows - 1) / 2, entries(body).data(), shift));
            }
            vexConvolve2D(a, d, ks.data(), static_cast<int>(ks.size()), static_cast<int>(o.num("method")), nullptr);
        } else {
            const std::vector<signed char> x = entries(o.kv.at("xkernel")), y = entries(o.kv.at("ykernel"));
            const int nx = static_cast<int>(x.size()), ny = static_cast<int>(y.size());
            ks.push_back(vexCreateConvKernel(1, nx, static_cast<int>(o.num("xanchor", (nx - 1) / 2)), 0, x.data(),
                                             static_cast<int>(o.num("xshift"))));
            ks.push_back(vexCreateConvKernel(ny, 1, 0, static_cast<int>(o.num("yanchor", (ny - 1) / 2)), y.data(),
                                             static_cast<int>(o.num("yshift"))));
            vexConvolveSep2D(a, d, ks[0], ks[1]);
        }
        for (VexConvKernel* k : ks) vexDeleteConvKernel(k);
    } else if (op == "blur" || op == "max" || op == "min" || op == "median") {
        if (o.has("border")) vexSetBorderMode(a, static_cast<int>(o.num("border")), 15, 0);
        const int r = static_cast<int>(o.num("rows", 3)), c = static_cast<int>(o.num("cols", 3));
        const int ax = static_cast<int>(o.num("anchorX", (c - 1) / 2)), ay = static_cast<int>(o.num("anchorY", (r - 1) / 2));
        if (op == "blur") vexBlur(a, d, r, c, ax, ay);
        else if (op == "max") vexMaxFilter(a, d, r, c, ax, ay, nullptr);
        else if (op == "min") vexMinFilter(a, d, r, c, ax, ay, nullptr);
        else vexMedianFilter(a, d, r, c, ax, ay, nullptr);
    }
    else if (op == "fft" || op == "dct") {
        // Spectra and coefficients live in 16S images; files hold them + 32768.
        const bool inv = o.num("inverse") != 0;
        const int h = a->height, w = a->width, c = a->nChannels;
        Image work(vexCreateImageHeader(c, a->alphaChannel, static_cast<int>(VEX_DEPTH_16S), "", "",
                                        VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, 4, h, w, nullptr, nullptr, nullptr));
        vexAllocateImage(work.get(), 0);
        auto s16 = [&](VexImage* im, int y) { return reinterpret_cast<int16_t*>(im->imageData + size_t(y) * im->widthStep); };
        auto u16 = [&](VexImage* im, int y) { return reinterpret_cast<uint16_t*>(im->imageData + size_t(y) * im->widthStep); };
        if (inv) {
            for (int y = 0; y < h; ++y)
                for (int i = 0; i < w * c; ++i) s16(work.get(), y)[i] = static_cast<int16_t>(u16(a, y)[i] - 32768);
            dst[0] = create(h, w, c, 8);
            if (op == "fft") vexCcsFft2D(work.get(), dst[0].get(), 0x22, nullptr);
            else vexDCT2D(work.get(), dst[0].get(), VEX_DCT_INVERSE);
        } else {
            if (op == "fft") vexRealFft2D(a, work.get(), o.has("flags") ? static_cast<int>(o.num("flags")) : 0x21, nullptr);
            else vexDCT2D(a, work.get(), VEX_DCT_FORWARD);
            dst[0] = create(h, w, c, 16);
            for (int y = 0; y < h; ++y)
                for (int i = 0; i < w * c; ++i) u16(dst[0].get(), y)[i] = static_cast<uint16_t>(s16(work.get(), y)[i] + 32768);
        }
    } else {
        fail("unknown operation " + op);
    }
    if (vexGetErrStatus() < 0 || reportCount) fail("the library reported an error for " + op);

    for (int k = 0; k < nOut; ++k) {
        const std::string& outPath = files[nIn + k];
        Image got = decode(outPath);
        const long diff = differences(dst[k].get(), got.get());
        if (diff != 0)
            fail(op + ": " + outPath +
                 (diff < 0 ? " has shape " + shape(got.get()) + ", expected " + shape(dst[k].get())
                           : " differs from the direct library call in " + std::to_string(diff) + " sample bytes"));
        // The operation must have altered its first input (unless changed=0),
        // so an output that merely equals the input cannot pass unnoticed.
        if (o.num("changed", 1) && k == 0) {
            Image first = decode(files[0]);
            if (differences(first.get(), got.get()) == 0) fail(op + ": " + outPath + " equals its input");
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) fail("usage: vexcheck gen|size|same|expect ...");
    const std::string cmd = argv[1];
    if (cmd == "gen") return cmdGen(argc, argv);
    if (cmd == "size") return cmdSize(argc, argv);
    if (cmd == "same") return cmdSame(argc, argv);
    if (cmd == "expect") return cmdExpect(argc, argv);
    fail("unknown command " + cmd);
}
