// vex: command-line front end of vexlib.
//
//   vex demo [OUTDIR]            run a sample pipeline on a built-in pattern
//   vex info FILE...             describe files as VexImage headers
//   vex <operation> FILES [OPTIONS]
//
// Every command is one entry of kCommands below (name, summary, arguments,
// function); adding an operation means adding one entry.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imageio.h"
#include "stream.h"
#include "tilestore.h"
#include "vexplot.h"
#include "vexcli.h"
#include "vexlib.h"

namespace vextool {
namespace {

// ------------------------------------------------------------ library errors

// The first report of a failing call and the trail entries that follow it.
struct CapturedReport {
    bool set = false;
    int status = 0;
    std::string funcName;
    std::string context;
    std::string trail;  // " (called from vexAbs)" ...
};
CapturedReport g_report;


int toolReport(int status, const char* funcName, const char* context, const char* /*file*/,
               int /*line*/) {
    if (status == VEX_StsBackTrace || status == VEX_StsAutoTrace) {
        g_report.trail += std::string(" (called from ") + (funcName ? funcName : "<unknown>") + ")";
        return status;
    }
    if (!g_report.set) {
        g_report.set = true;
        g_report.status = status;
        g_report.funcName = funcName ? funcName : "<unknown>";
        g_report.context = oneLine(context);
    }
    return status;
}

}  // namespace

void installReportHandler() {
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(toolReport);
}

void resetLibraryStatus() {
    vexSetErrStatus(VEX_StsOk);
    g_report = CapturedReport();
}

void checkLibraryStatus() {
    const int status = vexGetErrStatus();
    if (status >= 0) return;
    std::string msg;
    if (g_report.set) {
        msg = g_report.funcName + ": " + vexErrorStr(g_report.status);
        if (!g_report.context.empty()) msg += ": " + g_report.context;
        msg += g_report.trail;
    } else {
        msg = std::string("library status: ") + vexErrorStr(status);
    }
    throw ToolError(kExitLibrary, msg);
}

void setRoi(VexImage* img, int coi, int x, int y, int width, int height) {
    clearRoi(img);
    if (width <= 0) width = img->width - x;
    if (height <= 0) height = img->height - y;
    img->roi = vexCreateROI(coi, x, y, height, width);
    if (!img->roi) throw ToolError(kExitIO, "out of memory for a ROI record");
}

void clearRoi(VexImage* img) {
    if (img && img->roi) {
        vexDeleteROI(img->roi);
        img->roi = nullptr;
    }
}

namespace {

// ------------------------------------------------------------ options

// Text is a file name, Word any other text the command itself parses.
enum class Kind { Int, UInt, Rect, Size, Depth, Count, Text, Word, Flag, Tiles };

struct Opt {
    const char* name;
    const char* alias;   // another accepted name, or nullptr
    Kind kind;
    const char* defVal;  // nullptr: required
    const char* help;
};

// Arrangement of the positional files.
enum class Shape {
    Unary,     // IN OUT
    Binary,    // A B OUT
    Fill,      // FILE, or IN OUT (a new image with --size)
    Exchange,  // A B OUTA OUTB
    Derived,   // IN OUT: the operation makes its destination (Call::newDst)
    Demo,      // [OUTDIR]
    Info,      // FILE...
    MakeHuge,  // OUT: a synthetic image of any size, written row by row
    // (shapes: convert)
    Bitmap,    // IN OUT: the operation writes OUT (a BMP) itself

    // (shapes: color)

    // (shapes: alpha)

    // (shapes: stats)
    Measure,   // IN [B]: the operation prints what it measures; no output file

    // (shapes: filter)

    // (shapes: morph)

    // (shapes: geom)

    // (shapes: transform)

};

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

struct Args {
    std::vector<std::string> files;
    std::map<std::string, std::string> values;  // canonical option name -> text
};

struct Call;
using OpFn = void (*)(Call&);

struct Command {
    const char* name;
    const char* alias;    // or nullptr
    const char* libName;  // library function it runs, or nullptr
    const char* summary;
    Shape shape;
    std::vector<Opt> opts;
    OpFn op;              // for the operation shapes
};

// Options every image operation accepts.
const std::vector<Opt> kCommonOpts = {
    {"roi", nullptr, Kind::Rect, "", "region x,y,w,h (column, row, width, height) of every image"},
    {"src-roi", nullptr, Kind::Rect, "", "region of the source images (exchange: of A); overrides --roi"},
    {"dst-roi", nullptr, Kind::Rect, "", "region of the destination (exchange: of B); overrides --roi"},
    {"coi", nullptr, Kind::Count, "0", "channel of interest of every image, 1-based; 0 = all channels"},
    {"src-coi", nullptr, Kind::Count, "", "channel of interest of the sources (exchange: of A)"},
    {"dst-coi", nullptr, Kind::Count, "", "channel of interest of the destination (exchange: of B)"},
    {"base", nullptr, Kind::Text, "", "image file the destination starts from (default: the first input)"},
    {"time", nullptr, Kind::Flag, "", "print the wall time of the library call"},
    {"tiles", nullptr, Kind::Tiles, "", "stream PGM/PPM/.vxr files of any size through tiles of WxH pixels "
                                       "(multiples of 8); copy, mirror, pixel-wise, threshold, convert and filters"},
    {"threads", nullptr, Kind::Count, "", "with --tiles: threads sharing the bands of tiles (default 1)"},
    {"cache", nullptr, Kind::Count, "", "with --tiles: megabytes of tiles kept in memory (default 128)"},
};

// The images of one operation call and its parsed option values.
struct Call {
    std::vector<VexImage*> src;
    std::vector<VexImage*> dst;
    const Args* args = nullptr;
    std::vector<ImagePtr>* owned = nullptr;
    // Shape::Derived: keeps `img` as the next destination, with the
    // destination region the options ask for.
    [[maybe_unused]] VexImage* newDst(ImagePtr img);
    long long number(const char* name) const;
    int i(const char* name) const { return static_cast<int>(number(name)); }
    unsigned u(const char* name) const { return static_cast<unsigned>(number(name) & 0xFFFFFFFFLL); }
};

// zoom and decimate: factors "U/L" and the interpolation by name (a bad
// value is a usage error); the new image is the source region times the
// factors unless --size gives its size.
void runResample(Call& c, const char* cmd, const char* example,
                 void (*op)(VexImage*, VexImage*, int, int, int, int, int, const VexMapping*)) {
    auto ratio = [&](const char* name, int* u, int* l) {
        const std::string& t = c.args->values.at(name);
        char tail;
        if (std::sscanf(t.c_str(), "%d/%d%c", u, l, &tail) != 2)
            throw ToolError(kExitUsage, std::string(cmd) + ": bad value '" + t + "' for --" + name + ": expected U/L, e.g. " + example);
    };
    int xU, xL, yU, yL, interp = -1;
    ratio("factor", &xU, &xL);
    yU = xU, yL = xL;
    if (c.args->values.count("yfactor")) ratio("yfactor", &yU, &yL);
    const std::string in = c.args->values.at("interp");
    interp = in == "nn" ? 0 : in == "linear" ? 1 : in == "cubic" ? 2 : -1;
    char more;
    if (interp < 0 && std::sscanf(in.c_str(), "%d%c", &interp, &more) != 1) throw ToolError(kExitUsage, std::string(cmd) + ": bad value '" + in + "' for --interp: expected nn, linear or cubic");
    const VexImage* s = c.src[0];
    const VexROI* r = s->roi;
    const long long w = r && r->width < s->width - r->xOffset ? r->width : s->width - (r ? r->xOffset : 0);
    const long long h = r && r->height < s->height - r->yOffset ? r->height : s->height - (r ? r->yOffset : 0);
    // The default size is kept between 1 and 32768 so that bad factors
    // still reach the library's own checks.
    auto limit = [](long long v) { return static_cast<int>(v < 1 ? 1 : v > 32768 ? 32768 : v); };
    int dh = limit(yL > 0 ? h * yU / yL : h), dw = limit(xL > 0 ? w * xU / xL : w);
    if (c.args->values.count("size")) std::sscanf(c.args->values.at("size").c_str(), "%dx%d", &dh, &dw);
    c.newDst(makeImage(dh, dw, s->nChannels, s->depth, 0));
    op(c.src[0], c.dst[0], xU, xL, yU, yL, interp, nullptr);
}

// erode, dilate, open, close: the source's border mode on every side, then
// the operation repeated --iterations times.
const std::vector<Opt> kMorphOpts = {
    {"iterations", nullptr, Kind::Count, "1", "number of passes (at least 1)"},
    {"border", nullptr, Kind::Int, "0", "border mode of the source, every side: 0 constant, 1 replicate, 2 reflect, 3 wrap"},
    {"border-value", nullptr, Kind::Int, "0", "constant of the constant border mode"}};

void runMorph(Call& c, void (*op)(VexImage*, VexImage*, int, const VexMapping*)) {
    vexSetBorderMode(c.src[0], c.i("border"), VEX_SIDE_ALL, c.i("border-value"));
    op(c.src[0], c.dst[0], c.i("iterations"), nullptr);
}

// The rank filters: a rows x cols window whose anchor defaults to its centre.
const std::vector<Opt> kRankOpts = {
    {"rows", "nRows", Kind::Int, "3", "window rows"},
    {"cols", "nCols", Kind::Int, "3", "window columns"},
    {"anchorX", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
    {"anchorY", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"}};

void runRank(Call& c, void (*op)(VexImage*, VexImage*, int, int, int, int, const VexMapping*)) {
    const int r = c.i("rows"), w = c.i("cols");
    op(c.src[0], c.dst[0], r, w, c.i("anchorX") < 0 && w > 0 ? (w - 1) / 2 : c.i("anchorX"),
       c.i("anchorY") < 0 && r > 0 ? (r - 1) / 2 : c.i("anchorY"), nullptr);
}

// Kernel entries: comma-separated integers in [-128, 127]; false on
// anything else.
bool kernelNumbers(const std::string& text, std::vector<long long>* out) {
    out->clear();
    const char* p = text.c_str();
    while (true) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(p, &end, 0);
        if (end == p || errno != 0 || v < -128 || v > 127) return false;
        out->push_back(v);
        if (*end == '\0') return true;
        if (*end != ',') return false;
        p = end + 1;
    }
}

[[noreturn]] void badKernel(const std::string& cmd, const std::string& msg) {
    throw ToolError(kExitUsage, cmd + ": " + msg);
}

// ------------------------------------------------------------ the commands

// Library calls take nullptr for the tile selector: the program's images
// are untiled.
const std::vector<Command> kCommands = {
    {"demo", nullptr, nullptr,
     "run a sample pipeline on a built-in test pattern and write PNG files into OUTDIR (default ./vex-demo)",
     Shape::Demo,
     {{"size", nullptr, Kind::Size, "384x512", "pattern size HxW"}},
     nullptr},
    {"info", nullptr, nullptr, "describe image files as VexImage headers", Shape::Info, {}, nullptr},
    {"make-huge", nullptr, nullptr,
     "write a synthetic test image of any size row by row (PGM, PPM or .vxr by the extension), for "
     "streamed runs with --tiles",
     Shape::MakeHuge,
     {{"size", nullptr, Kind::Size, nullptr, "image size HxW"},
      {"channels", nullptr, Kind::Count, "", "channels: 1 (default; .ppm: 3) to 4"},
      {"depth", nullptr, Kind::Depth, "8U", "8U or 16U"},
      {"time", nullptr, Kind::Flag, "", "print the time and peak resident memory"}},
     nullptr},

    // data movement
    {"copy", nullptr, "vexCopy", "copy the source region into the destination region", Shape::Unary, {},
     [](Call& c) { vexCopy(c.src[0], c.dst[0], nullptr); }},
    {"set", nullptr, "vexSet",
     "fill the image region with a value (writes into FILE, or IN -> OUT; --size makes a new image)",
     Shape::Fill,
     {{"fillValue", "value", Kind::Int, nullptr, "fill value, limited to the depth's range"},
      {"size", nullptr, Kind::Size, "", "make a new image of HxW instead of reading one"},
      {"channels", nullptr, Kind::Count, "1", "channels of a new image (1-4)"},
      {"depth", nullptr, Kind::Depth, "8U", "depth of a new image: 8U or 16U"}},
     [](Call& c) { vexSet(c.dst[0], c.i("fillValue"), nullptr); }},
    {"exchange", nullptr, "vexExchange", "swap the regions of two images; writes both", Shape::Exchange, {},
     [](Call& c) { vexExchange(c.dst[0], c.dst[1], nullptr); }},
    {"mirror", nullptr, "vexMirror", "flip the region: 0 rows reversed, 1 columns reversed, -1 both",
     Shape::Unary,
     {{"flipAxis", "axis", Kind::Int, nullptr, "0 (about the horizontal axis), 1 (vertical), -1 (both)"}},
     [](Call& c) { vexMirror(c.src[0], c.dst[0], c.i("flipAxis"), nullptr); }},

    // arithmetic
    {"add", nullptr, "vexAdd", "saturating A + B", Shape::Binary, {},
     [](Call& c) { vexAdd(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"adds", nullptr, "vexAddS", "saturating src + value", Shape::Unary,
     {{"value", nullptr, Kind::Int, nullptr, "signed 32-bit value"}},
     [](Call& c) { vexAddS(c.src[0], c.dst[0], c.i("value"), nullptr); }},
    {"sub", "subtract", "vexSubtract", "saturating A - B (B - A with --swapOperands 1)", Shape::Binary,
     {{"swapOperands", nullptr, Kind::Int, "0", "non-zero: B - A"}},
     [](Call& c) { vexSubtract(c.src[0], c.src[1], c.dst[0], c.i("swapOperands"), nullptr); }},
    {"subs", nullptr, "vexSubtractS", "saturating src - value (value - src with --swapOperands 1)",
     Shape::Unary,
     {{"value", nullptr, Kind::Int, nullptr, "signed 32-bit value"},
      {"swapOperands", nullptr, Kind::Int, "0", "non-zero: value - src"}},
     [](Call& c) { vexSubtractS(c.src[0], c.dst[0], c.i("value"), c.i("swapOperands"), nullptr); }},
    {"mul", "multiply", "vexMultiply", "saturating A x B", Shape::Binary, {},
     [](Call& c) { vexMultiply(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"muls", nullptr, "vexMultiplyS", "saturating src x value", Shape::Unary,
     {{"value", nullptr, Kind::UInt, nullptr, "unsigned 32-bit value (a negative number wraps)"}},
     [](Call& c) { vexMultiplyS(c.src[0], c.dst[0], c.u("value"), nullptr); }},
    {"square", "sqr", "vexSquare", "saturating src x src", Shape::Unary, {},
     [](Call& c) { vexSquare(c.src[0], c.dst[0], nullptr); }},
    {"abs", nullptr, "vexAbs", "absolute value (a copy for unsigned depths)", Shape::Unary, {},
     [](Call& c) { vexAbs(c.src[0], c.dst[0], nullptr); }},

    // logic and shifts
    {"and", nullptr, "vexAnd", "bitwise A AND B", Shape::Binary, {},
     [](Call& c) { vexAnd(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"or", nullptr, "vexOr", "bitwise A OR B", Shape::Binary, {},
     [](Call& c) { vexOr(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"xor", nullptr, "vexXor", "bitwise A XOR B", Shape::Binary, {},
     [](Call& c) { vexXor(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"ands", nullptr, "vexAndS", "bitwise src AND value", Shape::Unary,
     {{"value", nullptr, Kind::UInt, nullptr, "pattern; only the low bits of the depth's width count"}},
     [](Call& c) { vexAndS(c.src[0], c.dst[0], c.u("value"), nullptr); }},
    {"ors", nullptr, "vexOrS", "bitwise src OR value", Shape::Unary,
     {{"value", nullptr, Kind::UInt, nullptr, "pattern; only the low bits of the depth's width count"}},
     [](Call& c) { vexOrS(c.src[0], c.dst[0], c.u("value"), nullptr); }},
    {"xors", nullptr, "vexXorS", "bitwise src XOR value", Shape::Unary,
     {{"value", nullptr, Kind::UInt, nullptr, "pattern; only the low bits of the depth's width count"}},
     [](Call& c) { vexXorS(c.src[0], c.dst[0], c.u("value"), nullptr); }},
    {"not", nullptr, "vexNot", "bitwise NOT src", Shape::Unary, {},
     [](Call& c) { vexNot(c.src[0], c.dst[0], nullptr); }},
    {"lshift", nullptr, "vexLShiftS", "shift samples left; bits shifted out are lost", Shape::Unary,
     {{"shift", nullptr, Kind::UInt, nullptr, "shift count"}},
     [](Call& c) { vexLShiftS(c.src[0], c.dst[0], c.u("shift"), nullptr); }},
    {"rshift", nullptr, "vexRShiftS", "shift samples right", Shape::Unary,
     {{"shift", nullptr, Kind::UInt, nullptr, "shift count"}},
     [](Call& c) { vexRShiftS(c.src[0], c.dst[0], c.u("shift"), nullptr); }},

    // point operations
    {"threshold", nullptr, "vexThreshold",
     "samples below the threshold become the depth's minimum, the others its maximum", Shape::Unary,
     {{"threshold", nullptr, Kind::Int, nullptr, "signed 32-bit threshold"}},
     [](Call& c) { vexThreshold(c.src[0], c.dst[0], c.i("threshold"), nullptr); }},

    // (commands: convert)
    {"convert", nullptr, "vexConvert",
     "copy into a new image of another depth, data order or origin (no saturation: signed and "
     "unsigned ranges are re-centred, narrowing keeps the high bits with --mode 1, the low bits "
     "with --mode 0; to 1U, samples of the --src-coi channel greater than zero become 1). A "
     "result the file formats cannot hold is written as the same picture: 8S, 16S, 32S "
     "re-centred into 8U/16U (32S by truncation to 16 bits, exact for values from a file), 1U as 0/255, plane order and a "
     "bottom-left origin as pixel order, top-left (--time then includes that step)",
     Shape::Derived,
     {{"depth", "to", Kind::Word, "", "destination depth: 1U, 8U, 8S, 16U, 16S or 32S (default: the source's)"},
      {"mode", "ConvertMode", Kind::Int, "1", "1 scaling, 0 truncation; read only when narrowing"},
      {"order", nullptr, Kind::Word, "pixel", "destination data order: pixel or plane"},
      {"origin", nullptr, Kind::Word, "tl", "destination origin: tl (top-left) or bl (bottom-left)"}},
     [](Call& c) {
         const VexImage* s = c.src[0];
         const std::string depthText = c.args->values.count("depth") ? c.args->values.at("depth") : "";
         const unsigned depth = depthText.empty() ? s->depth : parseDepth(depthText);
         const std::string order = c.args->values.at("order"), origin = c.args->values.at("origin");
         if (!depth) throw ToolError(kExitUsage, "convert: bad value '" + depthText + "' for --depth: expected 1U, 8U, 8S, 16U, 16S or 32S");
         if (order != "pixel" && order != "plane") throw ToolError(kExitUsage, "convert: bad value '" + order + "' for --order: expected pixel or plane");
         if (origin != "tl" && origin != "bl") throw ToolError(kExitUsage, "convert: bad value '" + origin + "' for --origin: expected tl or bl");
         const int nCh = depth == VEX_DEPTH_1U ? 1 : s->nChannels;
         VexImage* d = vexCreateImageHeader(nCh, 0, int(depth), nCh >= 3 ? "RGB" : "GRAY", nCh >= 3 ? "RGB" : "GRAY",
                                            order == "plane" ? VEX_DATA_ORDER_PLANE : VEX_DATA_ORDER_PIXEL,
                                            origin == "bl" ? VEX_ORIGIN_BL : VEX_ORIGIN_TL, 4, s->height, s->width,
                                            nullptr, nullptr, nullptr);
         if (d) vexAllocateImage(d, 0);
         if (!d || !d->imageData) throw ToolError(kExitIO, "out of memory for the destination");
         d = c.newDst(ImagePtr(d));
         vexConvert(c.src[0], d, c.i("mode"), nullptr);
         // A result the writers cannot take becomes an 8U/16U pixel-order picture.
         const bool writable = (depth == VEX_DEPTH_8U || depth == VEX_DEPTH_16U) && order == "pixel" && origin == "tl";
         if (writable || vexGetErrStatus() < 0) return;
         const bool wide = depth == VEX_DEPTH_16U || depth == VEX_DEPTH_16S || depth == VEX_DEPTH_32S;
         ImagePtr view = makeImage(d->height, d->width, nCh, wide ? VEX_DEPTH_16U : VEX_DEPTH_8U, 0);
         if (depth == VEX_DEPTH_1U) vexBitonalToGray(d, view.get(), 0, 255, nullptr);
         else vexConvert(d, view.get(), 0, nullptr);
         c.owned->push_back(std::move(view));
         c.dst.back() = c.owned->back().get();
     }},
    {"bitonal", nullptr, "vexBitonalToGray",
     "expand a 1-bit image into gray levels: --zero where a bit is 0, --one where it is 1, in every "
     "channel. The input is first made 1-bit by vexConvert: samples of channel --src-coi (default 1) "
     "greater than zero become 1 (run vex threshold first to choose the cut). 8S, 16S and 32S "
     "results are written re-centred into 8U/16U (32S truncated to 16 bits)",
     Shape::Derived,
     {{"zero", "ZeroScale", Kind::Int, "0", "value for 0 bits, within the destination depth's range"},
      {"one", "OneScale", Kind::Int, "255", "value for 1 bits, within the destination depth's range"},
      {"depth", "to", Kind::Word, "8U", "destination depth: 8U, 8S, 16U, 16S or 32S"},
      {"channels", nullptr, Kind::Count, "1", "destination channels (1-4)"}},
     [](Call& c) {
         VexImage* s = c.src[0];
         const std::string depthText = c.args->values.at("depth");
         const unsigned depth = parseDepth(depthText);
         const int nCh = c.i("channels");
         if (!depth) throw ToolError(kExitUsage, "bitonal: bad value '" + depthText + "' for --depth: expected 8U, 8S, 16U, 16S or 32S");
         if (depth == VEX_DEPTH_1U && nCh != 1) throw ToolError(kExitUsage, "bitonal: a 1U image has one channel");
         if (nCh < 1 || nCh > 4) throw ToolError(kExitUsage, "bitonal: --channels must lie between 1 and 4");
         ImagePtr bits = makeImage(s->height, s->width, 1, VEX_DEPTH_1U, 0);
         VexROI pick{1, 0, 0, s->height, s->width};
         VexROI* own = s->roi;
         if (s->nChannels > 1 && (!own || own->coi == 0)) s->roi = &pick;
         vexConvert(s, bits.get(), 0, nullptr);
         s->roi = own;
         if (vexGetErrStatus() < 0) return;
         VexImage* d = vexCreateImageHeader(nCh, 0, int(depth), nCh >= 3 ? "RGB" : "GRAY", nCh >= 3 ? "RGB" : "GRAY",
                                            VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, 4, s->height, s->width, nullptr,
                                            nullptr, nullptr);
         if (d) vexAllocateImage(d, 0);
         if (!d || !d->imageData) throw ToolError(kExitIO, "out of memory for the destination");
         d = c.newDst(ImagePtr(d));
         vexBitonalToGray(bits.get(), d, c.i("zero"), c.i("one"), nullptr);
         if (depth == VEX_DEPTH_8U || depth == VEX_DEPTH_16U || vexGetErrStatus() < 0) return;
         ImagePtr view = makeImage(d->height, d->width, nCh, depth == VEX_DEPTH_8S ? VEX_DEPTH_8U : VEX_DEPTH_16U, 0);
         vexConvert(d, view.get(), 0, nullptr);
         c.owned->push_back(std::move(view));
         c.dst.back() = c.owned->back().get();
     }},

    {"tobmp", nullptr, "vexConvertToDIB",
     "write IN as a BMP of 1, 4, 8, 16, 24 or 32 bits per pixel; indexed files take a median-cut or a fixed "
     "table and each pixel its nearest entry (BMP files are read through vexTranslateDIB and "
     "vexConvertFromDIB by every command)",
     Shape::Bitmap,
     {{"bits", nullptr, Kind::Count, "0", "bits per pixel: 1, 4, 8, 16, 24 or 32 (0: 8 for gray, 24 for RGB, 32 for RGBA)"},
      {"palette", nullptr, Kind::Word, "mediancut", "table of 1-, 4- and 8-bit files: mediancut or fixed"},
      {"dither", nullptr, Kind::Word, "none", "16-bit samples: none (the high byte) or stucki (error diffusion)"},
      {"bitfields", nullptr, Kind::Flag, "", "16 bits: 5-6-5 masks instead of 5-5-5; 32 bits: explicit masks"},
      {"topdown", nullptr, Kind::Flag, "", "store the rows top-down (negative height)"}},
     [](Call& c) {
         BmpOptions o;
         o.bits = c.i("bits");
         const std::string palette = c.args->values.at("palette"), dither = c.args->values.at("dither");
         if (o.bits != 0 && o.bits != 1 && o.bits != 4 && o.bits != 8 && o.bits != 16 && o.bits != 24 && o.bits != 32)
             throw ToolError(kExitUsage, "tobmp: --bits must be 1, 4, 8, 16, 24 or 32");
         if (palette != "mediancut" && palette != "fixed")
             throw ToolError(kExitUsage, "tobmp: bad value '" + palette + "' for --palette: expected mediancut or fixed");
         if (dither != "none" && dither != "stucki")
             throw ToolError(kExitUsage, "tobmp: bad value '" + dither + "' for --dither: expected none or stucki");
         o.palette = palette == "fixed" ? 1 : 2;
         o.dither = dither == "stucki" ? 8 : 1;
         o.bitfields = c.args->values.count("bitfields") != 0;
         o.topDown = c.args->values.count("topdown") != 0;
         saveBmp(c.src[0], c.args->files[1], o);
     }},

    // (commands: color)
    {"gray", nullptr, "vexColorToGray", "RGB to one gray channel, (54R + 183G + 18B) >> 8 on 8-bit samples",
     Shape::Derived,
     {{"depth", nullptr, Kind::Depth, "8U", "depth of the gray result: 8U or 16U"}},
     [](Call& c) {
         VexImage* s = c.src[0];
         VexImage* d = c.newDst(makeImage(s->height, s->width, 1, parseDepth(c.args->values.at("depth")), 0));
         vexColorToGray(s, d, nullptr);
     }},
    {"color", nullptr, "vexGrayToColor",
     "one gray channel to RGB, each channel gray x its weight (all weights 0: 0.21, 0.71, 0.07)", Shape::Derived,
     {{"red", nullptr, Kind::Word, "0", "red weight (a decimal number)"},
      {"green", nullptr, Kind::Word, "0", "green weight"},
      {"blue", nullptr, Kind::Word, "0", "blue weight"}},
     [](Call& c) {
         auto weight = [&](const char* name) {
             const std::string& t = c.args->values.at(name);
             char* end = nullptr;
             const float v = std::strtof(t.c_str(), &end);
             if (end == t.c_str() || *end != '\0')
                 throw ToolError(kExitUsage, std::string("color: --") + name + " expects a number, got '" + t + "'");
             return v;
         };
         const float r = weight("red"), g = weight("green"), b = weight("blue");
         VexImage* s = c.src[0];
         VexImage* d = c.newDst(makeImage(s->height, s->width, 3, s->depth, 0));
         vexGrayToColor(s, d, r, g, b, nullptr);
     }},
    {"hsv", nullptr, "vexRGB2HSV", "RGB to HSV (8-bit hue in half degrees); H, S, V are written as R, G, B",
     Shape::Unary, {}, [](Call& c) { vexRGB2HSV(c.src[0], c.dst[0], nullptr); }},
    {"hsv2rgb", nullptr, "vexHSV2RGB", "HSV (as written by vex hsv) back to RGB", Shape::Unary, {},
     [](Call& c) {
         std::memcpy(c.src[0]->colorSpace, "HSV", 3);
         std::memcpy(c.src[0]->channelSeq, "HSV", 3);
         vexHSV2RGB(c.src[0], c.dst[0], nullptr);
     }},
    {"hls", nullptr, "vexRGB2HLS", "RGB to HLS; H, L, S are written as R, G, B", Shape::Unary, {},
     [](Call& c) { vexRGB2HLS(c.src[0], c.dst[0], nullptr); }},
    {"hls2rgb", nullptr, "vexHLS2RGB", "HLS (as written by vex hls) back to RGB", Shape::Unary, {},
     [](Call& c) {
         std::memcpy(c.src[0]->colorSpace, "HLS", 3);
         std::memcpy(c.src[0]->channelSeq, "HLS", 3);
         vexHLS2RGB(c.src[0], c.dst[0], nullptr);
     }},
    {"reduce", nullptr, "vexReduceBits",
     "reduce 16-bit samples to 8 bits on a grid of step 255 >> quantShift, with dithering or jitter "
     "(8-bit inputs are first widened to 16 bits, v x 257)",
     Shape::Derived,
     {{"dither", nullptr, Kind::Word, "none", "none, fs (Floyd-Steinberg), jjn (Jarvis-Judice-Ninke), stucki, "
                                              "ordered (4x4 matrix) or jitter (random jitter, no dithering)"},
      {"quantShift", "quant", Kind::Int, "0", "grid step = 255 >> quantShift (0: two levels, 0 and 255)"},
      {"jitterType", "jitter", Kind::Int, "", "jitter amplitude 0..8 in grid steps of the reduction "
                                              "(default 4 with --dither jitter, else 0)"}},
     [](Call& c) {
         const std::string& name = c.args->values.at("dither");
         int dither = 0;
         if (name == "none") dither = 1;
         else if (name == "fs") dither = 2;
         else if (name == "jjn") dither = 4;
         else if (name == "stucki") dither = 8;
         else if (name == "ordered") dither = 16;
         else if (name == "jitter") dither = 1;
         else throw ToolError(kExitUsage, "reduce: --dither expects none, fs, jjn, stucki, ordered or jitter, got '" + name + "'");
         int jitter = name == "jitter" ? 4 : 0;
         if (c.args->values.count("jitterType")) jitter = c.i("jitterType");
         VexImage* s = c.src[0];
         ImagePtr wide;
         if (s->depth == VEX_DEPTH_8U) {
             wide = makeImage(s->height, s->width, s->nChannels, VEX_DEPTH_16U, 0);
             for (int y = 0; y < s->height; ++y) {
                 const uint8_t* in = reinterpret_cast<const uint8_t*>(s->imageData) + size_t(y) * s->widthStep;
                 uint16_t* out = reinterpret_cast<uint16_t*>(wide->imageData + size_t(y) * wide->widthStep);
                 for (int x = 0; x < s->width * s->nChannels; ++x) out[x] = uint16_t(in[x] * 257);
             }
             std::memcpy(wide->colorSpace, s->colorSpace, 4);
             std::memcpy(wide->channelSeq, s->channelSeq, 4);
             s = wide.get();
         }
         VexImage* d = c.newDst(makeImage(s->height, s->width, s->nChannels, VEX_DEPTH_8U, 0));
         std::memcpy(d->channelSeq, s->channelSeq, 4);
         vexReduceBits(s, d, jitter, dither, c.i("quantShift"), nullptr);
     }},
    {"twist", nullptr, "vexApplyColorTwist",
     "3x4 colour matrix on the first three channels: out_r = m[r][0] c0 + m[r][1] c1 + m[r][2] c2 + m[r][3], "
     "then + offset, saturated",
     Shape::Unary,
     {{"matrix", nullptr, Kind::Word, "", "twelve numbers a,b,c,d,e,f,g,h,i,j,k,l (three rows of four)"},
      {"preset", nullptr, Kind::Word, "", "sepia, gray, swaprb (exchange channels 0 and 2) or invert"},
      {"scalingValue", "scale", Kind::Int, "10", "fixed-point bits of the matrix (0..31)"},
      {"offset", nullptr, Kind::Int, "0", "added to every result before saturation"}},
     [](Call& c) {
         const bool hasMatrix = c.args->values.count("matrix") != 0, hasPreset = c.args->values.count("preset") != 0;
         if (hasMatrix == hasPreset) throw ToolError(kExitUsage, "twist: give exactly one of --matrix and --preset");
         double m[12] = {};
         if (hasPreset) {
             static const struct { const char* name; double m[12]; } kPresets[] = {
                 {"sepia", {0.393, 0.769, 0.189, 0, 0.349, 0.686, 0.168, 0, 0.272, 0.534, 0.131, 0}},
                 {"gray", {0.2126, 0.7152, 0.0722, 0, 0.2126, 0.7152, 0.0722, 0, 0.2126, 0.7152, 0.0722, 0}},
                 {"swaprb", {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0}},
                 {"invert", {-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0}},
             };
             const std::string& name = c.args->values.at("preset");
             bool found = false;
             for (const auto& p : kPresets)
                 if (name == p.name) std::memcpy(m, p.m, sizeof m), found = true;
             if (!found) throw ToolError(kExitUsage, "twist: unknown preset '" + name + "' (sepia, gray, swaprb, invert)");
             if (name == "invert")  // max - c: the additive term is the depth's maximum
                 m[3] = m[7] = m[11] = c.src[0]->depth == VEX_DEPTH_16U ? 65535 : 255;
         } else {
             const std::string& t = c.args->values.at("matrix");
             const char* p = t.c_str();
             for (int k = 0; k < 12; ++k) {
                 char* end = nullptr;
                 m[k] = std::strtod(p, &end);
                 if (end == p || (k < 11 && *end != ',') || (k == 11 && *end != '\0'))
                     throw ToolError(kExitUsage, "twist: --matrix expects twelve comma-separated numbers");
                 p = end + 1;
             }
         }
         const int scaling = c.i("scalingValue");
         int data[16] = {};
         for (int k = 0; k < 12; ++k) {
             const double v = std::ldexp(m[k], scaling >= 0 && scaling <= 31 ? scaling : 0);
             if (!(v > -2147483648.0 && v < 2147483647.0))
                 throw ToolError(kExitUsage, "twist: a matrix value does not fit the fixed-point range");
             data[k] = int(std::lround(v));
         }
         VexColorTwist* twist = vexCreateColorTwist(data, scaling);
         if (!twist) return;  // the library has reported why
         vexApplyColorTwist(c.src[0], c.dst[0], twist, c.i("offset"), nullptr);
         vexDeleteColorTwist(twist);
     }},

    // (commands: alpha)
    {"composite", nullptr, "vexAlphaComposite",
     "composite A onto B by an operator, the opacities from their alpha channels (or constants)", Shape::Binary,
     {{"op", "operator", Kind::Word, "over", "operator: over, in, out, atop, xor or plus"},
      {"premulAlpha", nullptr, Kind::Int, "0", "1: the colours are already premultiplied by their alpha"},
      {"divideMode", nullptr, Kind::Int, "0", "1: the colour divided by the result opacity (floating point)"},
      {"alphaA", nullptr, Kind::Int, "", "constant opacity of A (runs vexAlphaCompositeC; negative: A's alpha)"},
      {"alphaB", nullptr, Kind::Int, "", "constant opacity of B (with --alphaA; negative: B's alpha)"}},
     [](Call& c) {
         static const char* const kNames[] = {"over", "in", "out", "atop", "xor", "plus"};
         const std::string& name = c.args->values.at("op");
         int type = -1;
         for (int k = 0; k < 6; ++k)
             if (name == kNames[k]) type = k;
         if (type < 0)
             throw ToolError(kExitUsage, "composite: unknown operator '" + name +
                                             "' (over, in, out, atop, xor or plus)");
         const bool constant = c.args->values.count("alphaA") || c.args->values.count("alphaB");
         if (constant)
             vexAlphaCompositeC(c.src[0], c.src[1], c.dst[0], type,
                                c.args->values.count("alphaA") ? c.i("alphaA") : -1,
                                c.args->values.count("alphaB") ? c.i("alphaB") : -1, c.i("premulAlpha"),
                                c.i("divideMode"), nullptr);
         else
             vexAlphaComposite(c.src[0], c.src[1], c.dst[0], type, nullptr, nullptr, nullptr, c.i("premulAlpha"),
                               c.i("divideMode"), nullptr);
     }},
    {"premultiply", "premul", "vexPreMultiplyAlpha",
     "multiply the colour channels by the alpha channel, or by a constant alpha that then fills it",
     Shape::Unary,
     {{"alphaValue", "alpha", Kind::Int, "-1", "negative: each pixel's own alpha; else a constant (above M: M)"}},
     [](Call& c) { vexPreMultiplyAlpha(c.dst[0], c.i("alphaValue"), nullptr); }},
    {"mulscale", nullptr, "vexMultiplyScale", "A x B with samples as fractions of the maximum (255 x 255 = 255)",
     Shape::Binary, {}, [](Call& c) { vexMultiplyScale(c.src[0], c.src[1], c.dst[0], nullptr); }},
    {"mulscales", nullptr, "vexMultiplySScale", "src x value with samples as fractions of the maximum",
     Shape::Unary,
     {{"value", nullptr, Kind::UInt, nullptr, "factor as a sample value (above the maximum acts as the maximum)"}},
     [](Call& c) { vexMultiplySScale(c.src[0], c.dst[0], c.u("value"), nullptr); }},

    // (commands: stats)
    {"histogram", "histo", "vexComputeHisto",
     "print the histogram of the region per channel, in equal bins over the depth's range", Shape::Measure,
     {{"bins", nullptr, Kind::Count, "16", "number of equal bins (1 to 256 for 8U, to 65536 for 16U)"},
      {"plot", nullptr, Kind::Text, "", "also draw the histogram as a bar chart into this PNG file"}},
     [](Call& c) {
         if (c.src.size() != 1) throw ToolError(kExitUsage, "histogram: expected one input file (see vex histogram --help)");
         VexImage* s = c.src[0];
         const long long M = s->depth == VEX_DEPTH_16U ? 65536 : 256;
         const long long bins = c.number("bins");
         if (bins < 1 || bins > M)
             throw ToolError(kExitUsage, "histogram: --bins must lie between 1 and " + std::to_string(M));
         std::vector<int> keys(static_cast<size_t>(bins + 1));
         for (long long i = 0; i <= bins; ++i) keys[static_cast<size_t>(i)] = static_cast<int>(i * M / bins);
         const int nch = s->nChannels;
         std::vector<std::vector<int>> values(static_cast<size_t>(nch), std::vector<int>(keys.size(), 0));
         std::vector<VexLUT> recs(static_cast<size_t>(nch));
         std::vector<VexLUT*> ptrs;
         for (int k = 0; k < nch; ++k) {
             recs[static_cast<size_t>(k)] = VexLUT{static_cast<int>(keys.size()), keys.data(),
                                                   values[static_cast<size_t>(k)].data(), nullptr, 0};
             ptrs.push_back(&recs[static_cast<size_t>(k)]);
         }
         vexComputeHisto(s, ptrs.data(), nullptr);
         checkLibraryStatus();
         const int coi = s->roi ? s->roi->coi : 0;
         std::vector<std::vector<long long>> plotted;
         for (int k = 0; k < nch; ++k) {
             if (coi && k != coi - 1) continue;
             std::printf("channel %d\n", k + 1);
             plotted.emplace_back();
             for (long long i = 0; i < bins; ++i) {
                 const int count = values[static_cast<size_t>(k)][static_cast<size_t>(i)];
                 std::printf("  %5d..%-5d %d\n", keys[static_cast<size_t>(i)], keys[static_cast<size_t>(i + 1)] - 1, count);
                 plotted.back().push_back(count);
             }
         }
         if (c.args->values.count("plot"))
             saveImage(plotHistogram(plotted, 160 * static_cast<int>(plotted.size()), 512).get(), c.args->values.at("plot"));
     }},
    {"stretch", nullptr, "vexContrastStretch",
     "map [low, high] linearly onto the depth's full range; below low becomes 0, above high the maximum",
     Shape::Unary,
     {{"low", nullptr, Kind::Int, nullptr, "input level that becomes 0"},
      {"high", nullptr, Kind::Int, nullptr, "input level that becomes the maximum (255 or 65535)"}},
     [](Call& c) {
         VexImage* s = c.src[0];
         const long long M = s->depth == VEX_DEPTH_16U ? 65536 : 256;
         const long long lo = c.number("low"), hi = c.number("high");
         if (lo < 0 || hi >= M || lo >= hi)
             throw ToolError(kExitUsage, "stretch: need 0 <= --low < --high <= " + std::to_string(M - 1));
         // One constant segment per level: the record holds the whole table.
         std::vector<int> keys(static_cast<size_t>(M + 1)), values(static_cast<size_t>(M + 1), 0);
         for (long long v = 0; v <= M; ++v) {
             keys[static_cast<size_t>(v)] = static_cast<int>(v);
             const long long out = v <= lo ? 0 : v >= hi ? M - 1 : ((v - lo) * (M - 1) + (hi - lo) / 2) / (hi - lo);
             values[static_cast<size_t>(v)] = static_cast<int>(out);
         }
         VexLUT rec{static_cast<int>(M + 1), keys.data(), values.data(), nullptr, 0};
         std::vector<VexLUT*> ptrs(static_cast<size_t>(s->nChannels), &rec);
         vexContrastStretch(s, c.dst[0], ptrs.data(), nullptr);
     }},
    {"equalize", "equalise", "vexHistoEqualize",
     "equalise each channel from its own histogram (counted with vexComputeHisto)", Shape::Unary, {},
     [](Call& c) {
         VexImage* s = c.src[0];
         const int M = s->depth == VEX_DEPTH_16U ? 65536 : 256;
         std::vector<int> keys(static_cast<size_t>(M + 1));
         for (int v = 0; v <= M; ++v) keys[static_cast<size_t>(v)] = v;
         const size_t nch = static_cast<size_t>(std::max(s->nChannels, c.dst[0]->nChannels));
         std::vector<std::vector<int>> values(nch, std::vector<int>(keys.size(), 0));
         std::vector<VexLUT> recs(nch);
         std::vector<VexLUT*> ptrs;
         for (size_t k = 0; k < nch; ++k) {
             recs[k] = VexLUT{M + 1, keys.data(), values[k].data(), nullptr, 0};
             ptrs.push_back(&recs[k]);
         }
         vexComputeHisto(s, ptrs.data(), nullptr);
         checkLibraryStatus();
         vexHistoEqualize(s, c.dst[0], ptrs.data(), nullptr);
     }},
    {"norm", nullptr, "vexNorm",
     "print the norm of IN, or of IN - B; the relative types divide by the norm of B", Shape::Measure,
     {{"type", nullptr, Kind::Int, "4",
       "1 maximum, 2 L1, 4 L2; 9, 10, 12 the same relative to B"}},
     [](Call& c) {
         const int type = c.i("type");
         if ((type & 8) && c.src.size() < 2)
             throw ToolError(kExitUsage, "norm: the relative types need a second image B");
         const double v = vexNorm(c.src[0], c.src.size() > 1 ? c.src[1] : nullptr, type);
         checkLibraryStatus();
         std::printf("%.17g\n", v);
     }},

    // (commands: filter)
    {"convolve", "conv", "vexConvolve2D",
     "convolve with integer kernels, several merged by --method", Shape::Unary,
     {{"kernel", nullptr, Kind::Word, nullptr,
       "a preset (sobel-x, sobel-y, laplace, sharpen, gauss3, gauss5) or RxC:v,v,...[/shift] "
       "(anchor at the centre); several joined by +, e.g. sobel-x+sobel-y"},
      {"method", "combineMethod", Kind::Int, "0",
       "0 sum, 1 sum of squares, 2 root of the sum of squares, 3 maximum, 4 minimum"}},
     [](Call& c) {
         // Kernels as text: presets or rows x columns of entries, row by row.
         struct KernelText {
             int rows, cols, shift;
             std::vector<signed char> v;
         };
         auto preset = [](const std::string& name, KernelText* k) {
             static const std::map<std::string, KernelText> kPresets = {
                 {"sobel-x", {3, 3, 0, {-1, 0, 1, -2, 0, 2, -1, 0, 1}}},
                 {"sobel-y", {3, 3, 0, {-1, -2, -1, 0, 0, 0, 1, 2, 1}}},
                 {"laplace", {3, 3, 0, {0, 1, 0, 1, -4, 1, 0, 1, 0}}},
                 {"sharpen", {3, 3, 0, {0, -1, 0, -1, 5, -1, 0, -1, 0}}},
                 {"gauss3", {3, 3, 4, {1, 2, 1, 2, 4, 2, 1, 2, 1}}},
                 {"gauss5", {5, 5, 8, {1, 4, 6, 4, 1, 4, 16, 24, 16, 4, 6, 24, 36, 24, 6,
                                      4, 16, 24, 16, 4, 1, 4, 6, 4, 1}}},
             };
             auto it = kPresets.find(name);
             if (it == kPresets.end()) return false;
             *k = it->second;
             return true;
         };
         std::vector<KernelText> texts;
         const std::string text = c.args->values.at("kernel");
         for (size_t start = 0; start <= text.size();) {
             size_t plus = text.find('+', start);
             if (plus == std::string::npos) plus = text.size();
             const std::string one = text.substr(start, plus - start);
             start = plus + 1;
             KernelText k{};
             if (!preset(one, &k)) {
                 int rows = 0, cols = 0, used = 0;
                 if (std::sscanf(one.c_str(), "%dx%d:%n", &rows, &cols, &used) != 2 || used == 0 || rows < 1 ||
                     cols < 1 || rows > 64 || cols > 64)
                     badKernel("convolve", "bad kernel '" + one + "': expected a preset or RxC:v,v,...[/shift]");
                 k.rows = rows, k.cols = cols, k.shift = 0;
                 std::string body = one.substr(size_t(used));
                 const size_t slash = body.find('/');
                 std::vector<long long> vals;
                 if (slash != std::string::npos) {
                     if (!kernelNumbers(body.substr(slash + 1), &vals) || vals.size() != 1 || vals[0] < 0 || vals[0] > 31)
                         badKernel("convolve", "bad kernel shift in '" + one + "': expected 0 to 31");
                     k.shift = int(vals[0]);
                     body.resize(slash);
                 }
                 if (!kernelNumbers(body, &vals) || vals.size() != size_t(rows) * size_t(cols))
                     badKernel("convolve", "bad kernel '" + one + "': expected " + std::to_string(rows * cols) +
                                         " entries from -128 to 127");
                 for (long long v : vals) k.v.push_back(static_cast<signed char>(v));
             }
             texts.push_back(k);
         }
         if (texts.size() > 100) badKernel("convolve", "at most 100 kernels");
         std::vector<VexConvKernel*> kernels;
         for (const KernelText& k : texts)
             kernels.push_back(vexCreateConvKernel(k.rows, k.cols, (k.cols - 1) / 2, (k.rows - 1) / 2, k.v.data(), k.shift));
         vexConvolve2D(c.src[0], c.dst[0], kernels.data(), int(kernels.size()), c.i("method"), nullptr);
         for (VexConvKernel* k : kernels) vexDeleteConvKernel(k);
     }},
    {"sepconv", nullptr, "vexConvolveSep2D",
     "separable integer convolution: a row kernel across, a column kernel down, one shift at the end",
     Shape::Unary,
     {{"xkernel", nullptr, Kind::Word, nullptr, "row kernel entries, e.g. 1,2,1"},
      {"ykernel", nullptr, Kind::Word, nullptr, "column kernel entries, e.g. 1,2,1"},
      {"xanchor", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"yanchor", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"},
      {"xshift", nullptr, Kind::Int, "0", "right shift counted for the row kernel"},
      {"yshift", nullptr, Kind::Int, "0", "right shift counted for the column kernel"}},
     [](Call& c) {
         auto entries = [&](const std::string& name, const std::string& text) {
             std::vector<signed char> v;
             std::vector<long long> vals;
             if (!kernelNumbers(text, &vals) || vals.size() > 255)
                 badKernel("sepconv", "bad --" + name + " '" + text + "': expected entries from -128 to 127 like 1,2,1");
             for (long long x : vals) v.push_back(static_cast<signed char>(x));
             return v;
         };
         const std::vector<signed char> xv = entries("xkernel", c.args->values.at("xkernel"));
         const std::vector<signed char> yv = entries("ykernel", c.args->values.at("ykernel"));
         const int nx = int(xv.size()), ny = int(yv.size());
         const int ax = c.i("xanchor") < 0 ? (nx - 1) / 2 : c.i("xanchor");
         const int ay = c.i("yanchor") < 0 ? (ny - 1) / 2 : c.i("yanchor");
         if (ax >= nx || ay >= ny) badKernel("sepconv", "an anchor lies inside its kernel");
         VexConvKernel* kx = vexCreateConvKernel(1, nx, ax, 0, xv.data(), c.i("xshift"));
         VexConvKernel* ky = vexCreateConvKernel(ny, 1, 0, ay, yv.data(), c.i("yshift"));
         vexConvolveSep2D(c.src[0], c.dst[0], kx, ky);
         vexDeleteConvKernel(kx);
         vexDeleteConvKernel(ky);
     }},
    {"blur", nullptr, "vexBlur", "mean of a rows x cols window (fraction cut off)", Shape::Unary,
     {{"rows", "nRows", Kind::Int, "3", "window rows"},
      {"cols", "nCols", Kind::Int, "3", "window columns"},
      {"anchorX", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"anchorY", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"}},
     [](Call& c) {
         const int r = c.i("rows"), w = c.i("cols");
         vexBlur(c.src[0], c.dst[0], r, w, c.i("anchorX") < 0 && w > 0 ? (w - 1) / 2 : c.i("anchorX"),
                 c.i("anchorY") < 0 && r > 0 ? (r - 1) / 2 : c.i("anchorY"));
     }},
    {"max", "maxfilter", "vexMaxFilter", "largest sample of a rows x cols window", Shape::Unary, kRankOpts,
     [](Call& c) { runRank(c, vexMaxFilter); }},
    {"min", "minfilter", "vexMinFilter", "smallest sample of a rows x cols window", Shape::Unary, kRankOpts,
     [](Call& c) { runRank(c, vexMinFilter); }},
    {"median", nullptr, "vexMedianFilter", "median (rank n/2+1) of a rows x cols window", Shape::Unary, kRankOpts,
     [](Call& c) { runRank(c, vexMedianFilter); }},

    // (commands: morph)
    {"erode", nullptr, "vexErode", "minimum of each 3x3 neighbourhood, repeated --iterations times", Shape::Unary,
     kMorphOpts, [](Call& c) { runMorph(c, vexErode); }},
    {"dilate", nullptr, "vexDilate", "maximum of each 3x3 neighbourhood, repeated --iterations times", Shape::Unary,
     kMorphOpts, [](Call& c) { runMorph(c, vexDilate); }},
    {"open", nullptr, "vexOpen", "erosion then dilation (removes bright specks), repeated --iterations times", Shape::Unary,
     kMorphOpts, [](Call& c) { runMorph(c, vexOpen); }},
    {"close", nullptr, "vexClose", "dilation then erosion (fills dark specks), repeated --iterations times", Shape::Unary,
     kMorphOpts, [](Call& c) { runMorph(c, vexClose); }},

    // (commands: geom)
    {"zoom", nullptr, "vexZoom",
     "enlarge the source region by the factor U/L (U >= L) into a new image (floating point)", Shape::Derived,
     {{"factor", nullptr, Kind::Word, nullptr, "U/L for both directions, e.g. 3/1 or 5/2 (give it as text U/L)"},
      {"yfactor", nullptr, Kind::Word, "", "vertical U/L when it differs from --factor"},
      {"interp", nullptr, Kind::Word, "linear", "nn, linear or cubic (or the code 0, 1, 2)"},
      {"size", nullptr, Kind::Size, "", "destination HxW (default: the source region times the factor)"}},
     [](Call& c) { runResample(c, "zoom", "3/2", vexZoom); }},
    {"decimate", nullptr, "vexDecimate",
     "shrink the source region by the factor U/L (U <= L) into a new image (8-bit fixed point)", Shape::Derived,
     {{"factor", nullptr, Kind::Word, nullptr, "U/L for both directions, e.g. 2/3 or 1/2 (give it as text U/L)"},
      {"yfactor", nullptr, Kind::Word, "", "vertical U/L when it differs from --factor"},
      {"interp", nullptr, Kind::Word, "linear", "nn, linear or cubic (or the code 0, 1, 2)"},
      {"size", nullptr, Kind::Size, "", "destination HxW (default: the source region times the factor)"}},
     [](Call& c) { runResample(c, "decimate", "2/3", vexDecimate); }},
    {"rotate", nullptr, "vexRotate",
     "rotate the image about a centre (positive angles turn the picture counter-clockwise); outside is black",
     Shape::Derived,
     {{"angle", nullptr, Kind::Word, nullptr, "degrees, e.g. 30 or -12.5 (hundredths of a degree with --hundredths)"},
      {"hundredths", nullptr, Kind::Flag, "", "read --angle as an integer in hundredths of a degree"},
      {"interp", nullptr, Kind::Word, "linear", "nn, linear or cubic (or the code 0, 1, 2)"},
      {"xShift", "cx", Kind::Int, "", "centre column in the source image (default: the middle column)"},
      {"yShift", "cy", Kind::Int, "", "centre row in the source image (default: the middle row)"},
      {"size", nullptr, Kind::Size, "", "destination HxW (default: the source's size)"}},
     [](Call& c) {
         const std::string at = c.args->values.at("angle");
         long long hundredths = 0;
         char* end = nullptr;
         errno = 0;
         if (c.args->values.count("hundredths")) {
             hundredths = std::strtoll(at.c_str(), &end, 10);
             if (at.empty() || *end != '\0' || errno || hundredths < INT_MIN || hundredths > INT_MAX)
                 throw ToolError(kExitUsage, "rotate: bad value '" + at + "' for --angle: expected an integer with --hundredths");
         } else {
             const double deg = std::strtod(at.c_str(), &end);
             if (at.empty() || *end != '\0' || !(deg > -2e7 && deg < 2e7))
                 throw ToolError(kExitUsage, "rotate: bad value '" + at + "' for --angle: expected degrees, e.g. 30 or 12.5");
             hundredths = static_cast<long long>(deg * 100.0 + (deg < 0 ? -0.5 : 0.5));
         }
         const std::string in = c.args->values.at("interp");
         int interp = in == "nn" ? 0 : in == "linear" ? 1 : in == "cubic" ? 2 : -1;
         char more;
         if (interp < 0 && std::sscanf(in.c_str(), "%d%c", &interp, &more) != 1) throw ToolError(kExitUsage, "rotate: bad value '" + in + "' for --interp: expected nn, linear or cubic");
         const VexImage* s = c.src[0];
         const int xS = c.args->values.count("xShift") ? c.i("xShift") : (s->width - 1) / 2;
         const int yS = c.args->values.count("yShift") ? c.i("yShift") : (s->height - 1) / 2;
         int dh = s->height, dw = s->width;
         if (c.args->values.count("size")) std::sscanf(c.args->values.at("size").c_str(), "%dx%d", &dh, &dw);
         c.newDst(makeImage(dh, dw, s->nChannels, s->depth, 0));
         vexRotate(c.src[0], c.dst[0], static_cast<int>(hundredths), xS, yS, interp, nullptr);
     }},

    // (commands: transform)
    // Spectra travel in 16-bit PNG files: a signed sample s is stored as
    // s + 32768. The transforms themselves run on 16S / 32S images.
    {"fft", nullptr, "vexRealFft2D",
     "two-dimensional FFT: IN becomes its packed CCS spectrum (16S, stored +32768 in a 16-bit PNG); with "
     "--inverse, IN is such a spectrum and OUT the real image (vexCcsFft2D); --spectrum also writes the "
     "centred log-magnitude spectrum of the whole image as a viewable 8-bit image",
     Shape::Derived,
     {{"flags", nullptr, Kind::Int, "0", "library flags; 0: 0x21 (forward), 0x22 with --inverse"},
      {"inverse", nullptr, Kind::Flag, "", "CCS spectrum in, real image out"},
      {"depth", nullptr, Kind::Depth, "8U", "depth of the real image written by --inverse"},
      {"spectrum", nullptr, Kind::Text, "", "also write the centred log-magnitude spectrum to this file"}},
     [](Call& c) {
         VexImage* s = c.src[0];
         const int H = s->height, W = s->width, C = s->nChannels;
         const bool inverse = c.args->values.count("inverse") != 0;
         const int flags = c.i("flags") ? c.i("flags") : (inverse ? 0x22 : 0x21);
         auto signedImage = [&](unsigned depth, const VexROI* roi) {
             ImagePtr img(vexCreateImageHeader(C, s->alphaChannel, int(depth), "", "", VEX_DATA_ORDER_PIXEL,
                                               VEX_ORIGIN_TL, 4, H, W, nullptr, nullptr, nullptr));
             if (!img) throw ToolError(kExitIO, "cannot create a work image");
             vexAllocateImage(img.get(), 0);
             if (!img->imageData) throw ToolError(kExitIO, "out of memory for a work image");
             if (roi) setRoi(img.get(), roi->coi, roi->xOffset, roi->yOffset, roi->width, roi->height);
             return img;
         };
         auto row = [](VexImage* img, int y) { return img->imageData + size_t(y) * img->widthStep; };
         if (inverse) {
             ImagePtr ccs = signedImage(VEX_DEPTH_16S, s->roi);
             for (int y = 0; y < H; ++y)
                 for (int i = 0; i < W * C; ++i)
                     reinterpret_cast<int16_t*>(row(ccs.get(), y))[i] =
                         int16_t(int(reinterpret_cast<uint16_t*>(row(s, y))[i]) - 32768);
             const unsigned depth = parseDepth(c.args->values.at("depth"));
             VexImage* d = c.newDst(makeImage(H, W, C, depth, 0));
             vexCcsFft2D(ccs.get(), d, flags, nullptr);
             return;
         }
         VexImage* d = c.newDst(makeImage(H, W, C, VEX_DEPTH_16U, 32768));
         ImagePtr ccs = signedImage(VEX_DEPTH_16S, d->roi);
         vexRealFft2D(s, ccs.get(), flags, nullptr);
         if (vexGetErrStatus() < 0) return;
         for (int y = 0; y < H; ++y)
             for (int i = 0; i < W * C; ++i)
                 reinterpret_cast<uint16_t*>(row(d, y))[i] =
                     uint16_t(reinterpret_cast<int16_t*>(row(ccs.get(), y))[i] + 32768);
         if (!c.args->values.count("spectrum")) return;
         // The centred log-magnitude spectrum of the whole image, from a 32S CCS.
         ImagePtr wide = signedImage(VEX_DEPTH_32S, nullptr);
         VexROI* keep = s->roi;
         s->roi = nullptr;
         vexRealFft2D(s, wide.get(), flags, nullptr);
         s->roi = keep;
         if (vexGetErrStatus() < 0) return;
         ImagePtr view = makeImage(H, W, C, VEX_DEPTH_8U, 255);
         for (int ch = 0; ch < C; ++ch) {
             if (ch + 1 == s->alphaChannel) continue;
             auto at = [&](int x, int y) { return double(reinterpret_cast<int32_t*>(row(wide.get(), y))[x * C + ch]); };
             // Packed real spectrum of column x, frequency k (conjugate half by symmetry).
             auto packed = [&](int x, int k, double* re, double* im) {
                 int sign = 1;
                 if (2 * k > H) k = H - k, sign = -1;
                 if (k == 0) *re = at(x, 0), *im = 0;
                 else if (2 * k == H) *re = at(x, H - 1), *im = 0;
                 else *re = at(x, 2 * k - 1), *im = sign * at(x, 2 * k);
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
                     else re = at(2 * uu - 1, vv), im = at(2 * uu, vv);
                     im *= sign;
                     const double m = __builtin_log(1.0 + __builtin_sqrt(re * re + im * im));
                     mag[size_t(v) * W + u] = m;
                     if (m > top) top = m;
                 }
             for (int y = 0; y < H; ++y)
                 for (int x = 0; x < W; ++x) {
                     const int u = (x + W - W / 2) % W, v = (y + H - H / 2) % H;
                     const double m = top > 0 ? mag[size_t(v) * W + u] / top : 0;
                     reinterpret_cast<uint8_t*>(row(view.get(), y))[x * C + ch] = uint8_t(int(m * 255.0 + 0.5));
                 }
         }
         saveImage(view.get(), c.args->values.at("spectrum"));
     }},
    {"dct", nullptr, "vexDCT2D",
     "orthonormal two-dimensional DCT of each channel: OUT holds the coefficients (16S, stored +32768 in a "
     "16-bit PNG); with --inverse, IN holds such coefficients and OUT the image",
     Shape::Derived,
     {{"inverse", nullptr, Kind::Flag, "", "coefficients in, image out"},
      {"alpha", nullptr, Kind::Flag, "", "transform the alpha channel too"},
      {"depth", nullptr, Kind::Depth, "8U", "depth of the image written by --inverse"}},
     [](Call& c) {
         VexImage* s = c.src[0];
         const int H = s->height, W = s->width, C = s->nChannels;
         const bool inverse = c.args->values.count("inverse") != 0;
         const int flags = (inverse ? VEX_DCT_INVERSE : VEX_DCT_FORWARD) |
                           (c.args->values.count("alpha") ? VEX_DCT_PROCESS_ALPHA : 0);
         auto row = [](VexImage* img, int y) { return img->imageData + size_t(y) * img->widthStep; };
         ImagePtr coef(vexCreateImageHeader(C, s->alphaChannel, int(VEX_DEPTH_16S), "", "", VEX_DATA_ORDER_PIXEL,
                                            VEX_ORIGIN_TL, 4, H, W, nullptr, nullptr, nullptr));
         if (!coef) throw ToolError(kExitIO, "cannot create a work image");
         vexAllocateImage(coef.get(), 0);
         if (!coef->imageData) throw ToolError(kExitIO, "out of memory for a work image");
         if (inverse) {
             for (int y = 0; y < H; ++y)
                 for (int i = 0; i < W * C; ++i)
                     reinterpret_cast<int16_t*>(row(coef.get(), y))[i] =
                         int16_t(int(reinterpret_cast<uint16_t*>(row(s, y))[i]) - 32768);
             if (s->roi) setRoi(coef.get(), s->roi->coi, s->roi->xOffset, s->roi->yOffset, s->roi->width, s->roi->height);
             VexImage* d = c.newDst(makeImage(H, W, C, parseDepth(c.args->values.at("depth")), 0));
             vexDCT2D(coef.get(), d, flags);
             return;
         }
         VexImage* d = c.newDst(makeImage(H, W, C, VEX_DEPTH_16U, 32768));
         if (d->roi) setRoi(coef.get(), d->roi->coi, d->roi->xOffset, d->roi->yOffset, d->roi->width, d->roi->height);
         vexDCT2D(s, coef.get(), flags);
         for (int y = 0; y < H; ++y)
             for (int i = 0; i < W * C; ++i)
                 reinterpret_cast<uint16_t*>(row(d, y))[i] =
                     uint16_t(reinterpret_cast<int16_t*>(row(coef.get(), y))[i] + 32768);
     }},
};

bool isOperation(const Command& cmd) { return cmd.op != nullptr; }

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name || (c.alias && name == c.alias)) return &c;
    return nullptr;
}

// All options a command accepts, its own first.
std::vector<Opt> optionsOf(const Command& cmd) {
    std::vector<Opt> all = cmd.opts;
    if (isOperation(cmd)) all.insert(all.end(), kCommonOpts.begin(), kCommonOpts.end());
    return all;
}

const char* positionalText(Shape s) {
    switch (s) {
        case Shape::Unary: return "IN OUT";
        case Shape::Binary: return "A B OUT";
        case Shape::Fill: return "FILE | IN OUT";
        case Shape::Exchange: return "A B OUTA OUTB";
        case Shape::Derived: return "IN OUT";
        case Shape::Demo: return "[OUTDIR]";
        case Shape::Info: return "FILE...";
        case Shape::MakeHuge: return "OUT";
        case Shape::Measure: return "IN [B]";
        case Shape::Bitmap: return "IN OUT.bmp";
    }
    return "";
}

// ------------------------------------------------------------ help

const char* kExitCodesText =
    "Exit codes:\n"
    "  0  success\n"
    "  1  library error (the status text and the failed condition are printed)\n"
    "  2  usage error (unknown command or option, missing or bad option value)\n"
    "  3  I/O error (unreadable or unwritable file, unsupported format)\n";

std::string stepNamesText();

void printGlobalHelp(FILE* out) {
    std::fprintf(out,
                 "vex: command-line front end of vexlib\n\n"
                 "Usage:\n"
                 "  vex COMMAND ARGS [OPTIONS]\n"
                 "  vex COMMAND --help      options of one command\n"
                 "  vex --version\n\n"
                 "Commands:\n");
    for (const Command& c : kCommands) {
        std::string name = c.name;
        if (c.alias) name += std::string(" (") + c.alias + ")";
        std::fprintf(out, "  %-20s %-14s %s\n", name.c_str(), c.libName ? c.libName : "", c.summary);
    }
    std::fprintf(out,
                 "\nImage operations take their images as files: 8-bit PNG, BMP, JPEG, PGM/PPM or\n"
                 "16-bit PNG/PGM in; PNG (8 or 16 bit) or BMP (8 bit) out, by the extension.\n"
                 "The destination starts as a copy of the first input (or of --base), so pixels\n"
                 "outside the region or channel of interest keep their values.\n"
                 "Options are written --name VALUE or --name=VALUE; integers may be decimal or 0x hex.\n\n"
                 "Pipelines: an operation with one destination may be followed by pixel-wise steps,\n"
                 "  vex blur IN OUT --rows 5 --cols 5 --then threshold --threshold 128 [--then ...]\n"
                 "each step running in place on the result (its region and channel of interest), as\n"
                 "the commands one after the other would, but in one pass (with --tiles: tile by tile).\n"
                 "Steps: %s.\n\n%s",
                 stepNamesText().c_str(), kExitCodesText);
}

const char* metavar(Kind k) {
    switch (k) {
        case Kind::Int:
        case Kind::UInt:
        case Kind::Count: return " N";
        case Kind::Rect: return " X,Y,W,H";
        case Kind::Size: return " HxW";
        case Kind::Depth: return " 8U|16U";
        case Kind::Text: return " FILE";
        case Kind::Word: return " VALUE";
        case Kind::Flag: return "";
        case Kind::Tiles: return " WxH";
    }
    return "";
}

void printCommandHelp(const Command& c, FILE* out) {
    std::fprintf(out, "Usage: vex %s %s [OPTIONS]\n", c.name, positionalText(c.shape));
    if (c.alias) std::fprintf(out, "Also: vex %s\n", c.alias);
    std::fprintf(out, "\n%s", c.summary);
    if (c.libName) std::fprintf(out, " (%s)", c.libName);
    std::fprintf(out, "\n");
    const std::vector<Opt> all = optionsOf(c);
    if (!all.empty()) std::fprintf(out, "\nOptions:\n");
    for (const Opt& o : all) {
        std::string name = std::string("--") + o.name;
        if (o.alias) name += std::string(", --") + o.alias;
        name += metavar(o.kind);
        std::string tail;
        if (!o.defVal) tail = " (required)";
        else if (*o.defVal) tail = std::string(" (default ") + o.defVal + ")";
        std::fprintf(out, "  %-30s %s%s\n", name.c_str(), o.help, tail.c_str());
    }
    if (c.shape == Shape::Exchange)
        std::fprintf(out, "\nA becomes OUTA and B becomes OUTB, each with the other's region swapped in.\n");
    if (c.shape == Shape::Unary || c.shape == Shape::Binary)
        std::fprintf(out, "  %-30s %s\n", "--then CMD [OPTIONS]",
                     ("then run a pixel-wise step on the result in place (" + stepNamesText() + "); repeatable")
                         .c_str());
    std::fprintf(out, "\n%s", kExitCodesText);
}

// ------------------------------------------------------------ parsing

[[noreturn]] void usage(const std::string& cmd, const std::string& msg) {
    throw ToolError(kExitUsage, (cmd.empty() ? "" : cmd + ": ") + msg);
}

bool parseInteger(const std::string& text, long long lo, long long hi, long long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// Splits "a,b,c,d" (or "HxW") into integers.
bool parseList(const std::string& text, char sep, size_t count, std::vector<long long>* out) {
    out->clear();
    size_t start = 0;
    while (true) {
        size_t pos = text.find(sep, start);
        long long v;
        if (!parseInteger(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start),
                          INT_MIN, INT_MAX, &v))
            return false;
        out->push_back(v);
        if (pos == std::string::npos) break;
        start = pos + 1;
    }
    return out->size() == count;
}

// Checks one option value by its kind; returns the expectation text on failure.
const char* checkValue(const Opt& o, const std::string& v) {
    long long n;
    std::vector<long long> list;
    switch (o.kind) {
        case Kind::Int:
            return parseInteger(v, INT_MIN, INT_MAX, &n) ? nullptr : "a signed 32-bit integer";
        case Kind::UInt:
            return parseInteger(v, INT_MIN, 0xFFFFFFFFLL, &n) ? nullptr : "an unsigned 32-bit integer";
        case Kind::Count:
            return parseInteger(v, 0, INT_MAX, &n) ? nullptr : "a non-negative integer";
        case Kind::Rect:
            if (!parseList(v, ',', 4, &list)) return "x,y,w,h (four integers)";
            return list[0] >= 0 && list[1] >= 0 && list[2] > 0 && list[3] > 0
                       ? nullptr
                       : "x,y,w,h with x, y >= 0 and w, h > 0";
        case Kind::Size:
            if (!parseList(v, 'x', 2, &list)) return "HxW (height x width, e.g. 480x640)";
            return list[0] > 0 && list[1] > 0 ? nullptr : "HxW with positive height and width";
        case Kind::Depth: {
            const unsigned d = parseDepth(v);
            return d == VEX_DEPTH_8U || d == VEX_DEPTH_16U ? nullptr : "8U or 16U";
        }
        case Kind::Text:
            return v.empty() ? "a file name" : nullptr;
        case Kind::Word:
            return v.empty() ? "a value" : nullptr;
        case Kind::Flag:
        case Kind::Tiles:  // checked where it is used (parseTileSize)
            return nullptr;
    }
    return nullptr;
}

Args parseArgs(const Command& cmd, int argc, char** argv, int first) {
    const std::vector<Opt> all = optionsOf(cmd);
    Args a;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::string name = arg.substr(2), value;
            bool inlineValue = false;
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                inlineValue = true;
            }
            const Opt* opt = nullptr;
            for (const Opt& o : all)
                if (name == o.name || (o.alias && name == o.alias)) opt = &o;
            if (!opt) usage(cmd.name, "unknown option --" + name + " (see vex " + cmd.name + " --help)");
            if (opt->kind == Kind::Flag) {
                if (inlineValue) usage(cmd.name, "option --" + name + " takes no value");
                value = "1";
            } else if (!inlineValue) {
                if (i + 1 >= argc) usage(cmd.name, "option --" + name + " needs a value");
                value = argv[++i];
            }
            if (const char* expect = checkValue(*opt, value))
                usage(cmd.name, "bad value '" + value + "' for --" + name + ": expected " + expect);
            if (a.values.count(opt->name)) usage(cmd.name, "option --" + name + " given twice");
            a.values[opt->name] = value;
        } else if (arg == "-" || arg.empty() || arg[0] != '-' || (arg.size() > 1 && isdigit(arg[1]))) {
            a.files.push_back(arg);
        } else {
            usage(cmd.name, "unknown option " + arg + " (see vex " + cmd.name + " --help)");
        }
    }
    for (const Opt& o : all) {
        if (a.values.count(o.name)) continue;
        if (!o.defVal) usage(cmd.name, std::string("missing required option --") + o.name);
        if (*o.defVal) a.values[o.name] = o.defVal;
    }
    return a;
}

long long Call::number(const char* name) const {
    long long v = 0;
    parseInteger(args->values.at(name), INT_MIN, 0xFFFFFFFFLL, &v);
    return v;
}

bool has(const Args& a, const char* name) { return a.values.count(name) != 0; }
void applyRegion(VexImage* img, const Args& a, const char* side);

const char* optDefault(const Command& cmd, const char* name) {
    for (const Opt& o : cmd.opts)
        if (std::strcmp(o.name, name) == 0) return o.defVal ? o.defVal : "";
    return "";
}

Rect rectOf(const Args& a, const char* name) {
    std::vector<long long> l;
    parseList(a.values.at(name), ',', 4, &l);
    Rect r;
    r.x = static_cast<int>(l[0]);
    r.y = static_cast<int>(l[1]);
    r.w = static_cast<int>(l[2]);
    r.h = static_cast<int>(l[3]);
    return r;
}

void sizeOf(const Args& a, const char* name, int* height, int* width) {
    std::vector<long long> l;
    parseList(a.values.at(name), 'x', 2, &l);
    *height = static_cast<int>(l[0]);
    *width = static_cast<int>(l[1]);
}

int countOf(const Args& a, const char* name) { return std::atoi(a.values.at(name).c_str()); }

// Attaches the ROI the options ask for, by side ("src" or "dst").
void applyRegion(VexImage* img, const Args& a, const char* side) {
    const std::string roiName = std::string(side) + "-roi";
    const std::string coiName = std::string(side) + "-coi";
    const bool hasRect = has(a, roiName.c_str()) || has(a, "roi");
    const int coi = has(a, coiName.c_str()) ? countOf(a, coiName.c_str()) : countOf(a, "coi");
    if (!hasRect && coi == 0) return;
    Rect r;
    if (hasRect) r = rectOf(a, has(a, roiName.c_str()) ? roiName.c_str() : "roi");
    if (hasRect) setRoi(img, coi, r.x, r.y, r.w, r.h);
    else setRoi(img, coi, 0, 0, img->width, img->height);
}

VexImage* Call::newDst(ImagePtr img) {
    owned->push_back(std::move(img));
    VexImage* d = owned->back().get();
    applyRegion(d, *args, "dst");
    dst.push_back(d);
    return d;
}

void expectFiles(const Command& cmd, const Args& a, size_t lo, size_t hi) {
    if (a.files.size() < lo || a.files.size() > hi)
        usage(cmd.name, std::string("expected ") + positionalText(cmd.shape) + ", got " +
                            std::to_string(a.files.size()) + " file argument(s) (see vex " + cmd.name +
                            " --help)");
}

// ------------------------------------------------------------ commands

int runInfo(const Command& cmd, const Args& a) {
    expectFiles(cmd, a, 1, 1000000);
    for (const std::string& path : a.files) {
        ImagePtr img = loadImage(path);
        const VexImage* h = img.get();
        const std::string fmt = sniffFormat(path);
        std::printf("%s: %s, %dx%d (height x width), %d channel%s, %s\n", path.c_str(),
                    fmt.empty() ? "image" : fmt.c_str(), h->height, h->width, h->nChannels,
                    h->nChannels == 1 ? "" : "s", depthName(h->depth));
        std::printf("  %-13s %d\n", "height", h->height);
        std::printf("  %-13s %d\n", "width", h->width);
        std::printf("  %-13s %d\n", "nChannels", h->nChannels);
        std::printf("  %-13s %d\n", "alphaChannel", h->alphaChannel);
        std::printf("  %-13s %s (0x%x)\n", "depth", depthName(h->depth), h->depth);
        std::printf("  %-13s %.4s\n", "colorSpace", h->colorSpace);
        std::printf("  %-13s %.4s\n", "channelSeq", h->channelSeq);
        std::printf("  %-13s %s (%d)\n", "dataOrder", h->dataOrder == VEX_DATA_ORDER_PIXEL ? "pixel" : "plane",
                    h->dataOrder);
        std::printf("  %-13s %s (%d)\n", "origin", h->origin == VEX_ORIGIN_TL ? "top-left" : "bottom-left",
                    h->origin);
        std::printf("  %-13s %d\n", "align", h->align);
        std::printf("  %-13s %d\n", "widthStep", h->widthStep);
        std::printf("  %-13s %d\n", "dataSize", h->dataSize);
    }
    return kExitOk;
}

int runDemoCommand(const Command& cmd, const Args& a) {
    expectFiles(cmd, a, 0, 1);
    int height, width;
    sizeOf(a, "size", &height, &width);
    if (height < 16 || width < 16 || height > 8192 || width > 8192)
        usage(cmd.name, "--size must lie between 16x16 and 8192x8192");
    return runDemo(a.files.empty() ? "vex-demo" : a.files[0], height, width);
}

// ------------------------------------------------------------ streamed runs

// Commands that stream with --tiles: the region-restricted ones run on one
// destination tile at a time through ROIs; convert through its mapping.
bool streams(const Command& cmd) {
    static const char* const kNames[] = {"copy", "mirror", "add", "adds", "sub", "subs", "mul", "muls", "square",
                                         "abs", "and", "or", "xor", "ands", "ors", "xors", "not", "lshift",
                                         "rshift", "threshold", "convert", "blur", "max", "min", "median",
                                         "convolve", "sepconv"};
    for (const char* n : kNames)
        if (std::strcmp(cmd.name, n) == 0) return true;
    return false;
}

StreamRegion streamRegion(const Args& a, const char* side) {
    const std::string roiName = std::string(side) + "-roi", coiName = std::string(side) + "-coi";
    StreamRegion r;
    r.coi = has(a, coiName.c_str()) ? countOf(a, coiName.c_str()) : countOf(a, "coi");
    if (has(a, roiName.c_str()) || has(a, "roi")) {
        const Rect b = rectOf(a, has(a, roiName.c_str()) ? roiName.c_str() : "roi");
        r.hasRect = true, r.x = b.x, r.y = b.y, r.w = b.w, r.h = b.h;
    }
    return r;
}

// ------------------------------------------------------------ --then steps

// Pixel-wise commands that may follow an operation after --then: each runs
// in place on the destination (its region and channel of interest), so a
// pipeline is one pass over the pixels, also when streamed.
const char* const kStepNames[] = {"threshold", "adds", "subs", "muls", "square", "abs", "not",
                                  "ands", "ors", "xors", "lshift", "rshift"};

struct Step {
    const Command* cmd = nullptr;
    Args args;
};

std::string stepNamesText() {
    std::string t;
    for (const char* n : kStepNames) t += (t.empty() ? "" : ", ") + std::string(n);
    return t;
}

// Runs the steps on `dst` in place, in order, while the status is not negative.
void runSteps(const std::vector<Step>& steps, VexImage* dst) {
    for (const Step& st : steps) {
        if (vexGetErrStatus() < 0) return;
        Call c;
        c.args = &st.args;
        c.src.push_back(dst);
        c.dst.push_back(dst);
        st.cmd->op(c);
    }
}

// Parses "--then CMD [OPTIONS]" segments from argv[first] on.
std::vector<Step> parseSteps(const Command& head, int argc, char** argv, int first) {
    std::vector<Step> steps;
    if (first < argc && head.shape != Shape::Unary && head.shape != Shape::Binary)
        usage(head.name, "--then follows only operations with one destination image");
    for (int i = first; i < argc;) {
        int end = i + 1;
        while (end < argc && std::strcmp(argv[end], "--then") != 0) ++end;
        if (i + 1 >= end) usage(head.name, "--then needs a command (" + stepNamesText() + ")");
        const std::string name = argv[i + 1];
        bool allowed = false;
        for (const char* n : kStepNames) allowed = allowed || name == n;
        const Command* c = findCommand(name);
        if (!allowed || !c)
            usage(head.name, "'" + name + "' cannot follow --then (pixel-wise steps: " + stepNamesText() + ")");
        Step st;
        st.cmd = c;
        st.args = parseArgs(*c, end, argv, i + 2);
        if (!st.args.files.empty()) usage(c->name, "a step after --then takes no files ('" + st.args.files[0] + "')");
        for (const char* o : {"roi", "src-roi", "dst-roi", "src-coi", "dst-coi", "base", "time", "tiles", "threads", "cache"})
            if (has(st.args, o)) usage(c->name, std::string("--") + o + " after --then: give it to the first command");
        if (has(st.args, "coi") && st.args.values.at("coi") != "0")
            usage(c->name, "--coi after --then: give it to the first command");
        steps.push_back(std::move(st));
        i = end;
    }
    return steps;
}

// Rows of source above and below a destination pixel that a streamed
// command reads, at most: the window height of the rank filters and the
// blur, the longest kernel the kernel parsers accept, 0 for the others.
int streamReach(const Command& cmd, const Args& a) {
    if (std::strcmp(cmd.name, "convolve") == 0) return 64;
    if (std::strcmp(cmd.name, "sepconv") == 0) return 255;
    for (const char* n : {"blur", "max", "min", "median"})
        if (std::strcmp(cmd.name, n) == 0) {
            Call c;
            c.args = &a;
            return int(std::max(0LL, std::min(c.number("rows"), 1LL << 24)));
        }
    return 0;
}

int runStreamed(const Command& cmd, const Args& a, const std::vector<Step>& steps) {
    if (!streams(cmd)) usage(cmd.name, "--tiles is not available for this command (see the README on streaming)");
    StreamOptions opt;
    parseTileSize(cmd.name, a.values.at("tiles"), &opt.tileW, &opt.tileH);
    if (has(a, "threads")) opt.threads = std::max(1, std::min(countOf(a, "threads"), 64));
    if (has(a, "cache")) opt.cacheBytes = int64_t(std::max(1, countOf(a, "cache"))) << 20;
    opt.time = has(a, "time");
    StreamJob job;
    job.name = cmd.name;
    const size_t nIn = cmd.shape == Shape::Binary ? 2 : 1;
    expectFiles(cmd, a, nIn + 1, nIn + 1);
    job.inputs.assign(a.files.begin(), a.files.begin() + long(nIn));
    job.output = a.files[nIn];
    if (has(a, "base")) job.base = a.values.at("base");
    job.src = streamRegion(a, "src");
    job.dst = streamRegion(a, "dst");
    if (std::strcmp(cmd.name, "convert") == 0) {
        if (has(a, "base")) usage(cmd.name, "--base does not apply to convert");
        if (!steps.empty()) usage(cmd.name, "--then does not apply to a streamed convert");
        if (a.values.at("order") != "pixel" || a.values.at("origin") != "tl")
            usage(cmd.name, "streamed results are pixel order with a top-left origin");
        const std::string depthText = has(a, "depth") ? a.values.at("depth") : "";
        job.dstDepth = depthText.empty() ? 0 : parseDepth(depthText);
        if (!depthText.empty() && (job.dstDepth == 0 || job.dstDepth == VEX_DEPTH_1U))
            usage(cmd.name, "bad value '" + depthText + "' for --depth: streamed results are 8U, 8S, 16U, 16S or 32S");
        job.roiPieces = false;
        const int mode = int(std::strtol(a.values.at("mode").c_str(), nullptr, 0));
        job.run = [mode](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece& p) {
            const VexMapping m{p.x, p.y};
            vexConvert(s[0], d, mode, &m);
        };
    } else {
        if (std::strcmp(cmd.name, "mirror") == 0) {
            const long axis = std::strtol(a.values.at("flipAxis").c_str(), nullptr, 0);
            if (axis == 0 || axis == 1 || axis == -1) job.mirrorAxis = int(axis);
        }
        job.reach = streamReach(cmd, a);
        job.run = [&cmd, &a, &steps](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) {
            std::vector<ImagePtr> none;
            Call call;
            call.args = &a;
            call.owned = &none;
            call.src = s;
            call.dst.push_back(d);
            cmd.op(call);
            runSteps(steps, d);
        };
    }
    runStream(job, opt);
    return kExitOk;
}

int runOperation(const Command& cmd, const Args& a, const std::vector<Step>& steps) {
    if (has(a, "tiles")) return runStreamed(cmd, a, steps);
    for (const char* o : {"threads", "cache"})
        if (has(a, o)) usage(cmd.name, std::string("--") + o + " applies only with --tiles");
    std::vector<ImagePtr> owned;
    Call call;
    call.args = &a;
    call.owned = &owned;
    std::vector<std::string> outputs;

    auto load = [&](const std::string& path) {
        owned.push_back(loadImage(path));
        return owned.back().get();
    };
    auto startFrom = [&](const VexImage* first) {
        if (has(a, "base")) {
            owned.push_back(loadImage(a.values.at("base")));
        } else {
            owned.push_back(cloneImage(first));
        }
        return owned.back().get();
    };

    switch (cmd.shape) {
        case Shape::Unary:
            expectFiles(cmd, a, 2, 2);
            call.src.push_back(load(a.files[0]));
            call.dst.push_back(startFrom(call.src[0]));
            outputs.push_back(a.files[1]);
            break;
        case Shape::Binary:
            expectFiles(cmd, a, 3, 3);
            call.src.push_back(load(a.files[0]));
            call.src.push_back(load(a.files[1]));
            call.dst.push_back(startFrom(call.src[0]));
            outputs.push_back(a.files[2]);
            break;
        case Shape::Fill:
            if (has(a, "size")) {
                expectFiles(cmd, a, 1, 1);
                int height, width;
                sizeOf(a, "size", &height, &width);
                owned.push_back(makeImage(height, width, countOf(a, "channels"), parseDepth(a.values.at("depth")), 0));
                call.dst.push_back(owned.back().get());
                outputs.push_back(a.files[0]);
            } else {
                expectFiles(cmd, a, 1, 2);
                if (has(a, "base")) usage(cmd.name, "--base does not apply to set");
                for (const char* o : {"channels", "depth"})
                    if (a.values.at(o) != std::string(optDefault(cmd, o)))
                        usage(cmd.name, std::string("--") + o + " applies only with --size");
                call.dst.push_back(load(a.files[0]));
                outputs.push_back(a.files.back());
            }
            break;
        case Shape::Derived:
            expectFiles(cmd, a, 2, 2);
            if (has(a, "base")) usage(cmd.name, std::string("--base does not apply to ") + cmd.name);
            call.src.push_back(load(a.files[0]));
            outputs.push_back(a.files[1]);
            break;
        // (run shapes: convert)
        case Shape::Bitmap:
            expectFiles(cmd, a, 2, 2);
            if (has(a, "base")) usage(cmd.name, std::string("--base does not apply to ") + cmd.name);
            call.src.push_back(load(a.files[0]));
            break;

        // (run shapes: color)

        // (run shapes: alpha)

        // (run shapes: stats)
        case Shape::Measure:
            expectFiles(cmd, a, 1, 2);
            if (has(a, "base")) usage(cmd.name, std::string("--base does not apply to ") + cmd.name);
            for (const std::string& f : a.files) call.src.push_back(load(f));
            break;

        // (run shapes: filter)

        // (run shapes: morph)

        // (run shapes: geom)

        // (run shapes: transform)

        case Shape::Exchange:
            expectFiles(cmd, a, 4, 4);
            if (has(a, "base")) usage(cmd.name, "--base does not apply to exchange");
            call.dst.push_back(load(a.files[0]));
            call.dst.push_back(load(a.files[1]));
            outputs.push_back(a.files[2]);
            outputs.push_back(a.files[3]);
            break;
        default:
            return kExitUsage;
    }

    // Regions: sources take --src-*, destinations --dst-* (exchange: A, B).
    for (VexImage* s : call.src) applyRegion(s, a, "src");
    if (cmd.shape == Shape::Exchange) {
        applyRegion(call.dst[0], a, "src");
        applyRegion(call.dst[1], a, "dst");
    } else {
        for (VexImage* d : call.dst) applyRegion(d, a, "dst");
    }

    const double ms = timedCall([&]() {
        cmd.op(call);
        if (!steps.empty()) runSteps(steps, call.dst[0]);
    });
    if (has(a, "time")) std::printf("%s: %.3f ms\n", cmd.libName, ms);

    for (size_t k = 0; k < outputs.size(); ++k) {
        clearRoi(call.dst[k]);
        saveImage(call.dst[k], outputs[k]);
    }
    return kExitOk;
}

int dispatch(int argc, char** argv) {
    if (argc < 2) usage("", "no command given (see vex --help)");
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        if (first == "help" && argc > 2) {
            const Command* c = findCommand(argv[2]);
            if (!c) usage("", std::string("unknown command '") + argv[2] + "' (see vex --help)");
            printCommandHelp(*c, stdout);
            return kExitOk;
        }
        printGlobalHelp(stdout);
        return kExitOk;
    }
    if (first == "--version") {
        const VexLibVersion* v = vexGetLibVersion();
        std::printf("vex, using vexlib %s\n", v && v->versionText ? v->versionText : "(unknown version)");
        return kExitOk;
    }
    const Command* cmd = findCommand(first);
    if (!cmd) usage("", "unknown command '" + first + "' (see vex --help)");
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printCommandHelp(*cmd, stdout);
            return kExitOk;
        }
    }
    int headEnd = 2;
    while (headEnd < argc && std::strcmp(argv[headEnd], "--then") != 0) ++headEnd;
    const Args a = parseArgs(*cmd, headEnd, argv, 2);
    const std::vector<Step> steps = parseSteps(*cmd, argc, argv, headEnd);
    switch (cmd->shape) {
        case Shape::Info: return runInfo(*cmd, a);
        case Shape::Demo: return runDemoCommand(*cmd, a);
        case Shape::MakeHuge: {
            expectFiles(*cmd, a, 1, 1);
            int height, width;
            sizeOf(a, "size", &height, &width);
            const std::string& out = a.files[0];
            const bool ppm = out.size() >= 4 && (out.compare(out.size() - 4, 4, ".ppm") == 0 ||
                                                 out.compare(out.size() - 4, 4, ".PPM") == 0);
            const int channels = has(a, "channels") ? countOf(a, "channels") : ppm ? 3 : 1;
            makeHugeImage(out, height, width, channels, parseDepth(a.values.at("depth")), has(a, "time"));
            return kExitOk;
        }
        default: return runOperation(*cmd, a, steps);
    }
}

}  // namespace
}  // namespace vextool

int main(int argc, char** argv) {
    using namespace vextool;
    installReportHandler();
    try {
        return dispatch(argc, argv);
    } catch (const ToolError& e) {
        std::fprintf(stderr, "vex: %s\n", e.what());
        return e.code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vex: %s\n", e.what());
        return kExitIO;
    }
}
