// vex: command-line front end of vexlib.
//
//   vex demo [OUTDIR]            run a sample pipeline on a built-in pattern
//   vex info FILE...             describe files as VexImage headers
//   vex <operation> FILES [OPTIONS]
//
// Every command is one entry of kCommands below (name, summary, arguments,
// function); adding an operation means adding one entry.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imageio.h"
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

// Joins the lines of a multi-line report (the header check pads each line
// with blanks) into one line.
std::string oneLine(const char* text) {
    std::string out, line;
    auto flush = [&]() {
        size_t b = line.find_first_not_of(" \t\r");
        size_t e = line.find_last_not_of(" \t\r");
        if (b != std::string::npos) {
            if (!out.empty()) out += "; ";
            out += line.substr(b, e - b + 1);
        }
        line.clear();
    };
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '\n') flush();
        else line += *p;
    }
    flush();
    return out;
}

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

enum class Kind { Int, UInt, Rect, Size, Depth, Count, Text, Flag };

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
    // (shapes: convert)

    // (shapes: color)

    // (shapes: alpha)

    // (shapes: stats)

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

    // (commands: color)

    // (commands: alpha)

    // (commands: stats)

    // (commands: filter)
    {"convolve", "conv", "vexConvolve2D",
     "convolve with integer kernels, several merged by --method", Shape::Unary,
     {{"kernel", nullptr, Kind::Text, nullptr,
       "a preset (sobel-x, sobel-y, laplace, sharpen, gauss3, gauss5) or RxC:v,v,...[/shift] "
       "(anchor at the centre); several joined by +, e.g. sobel-x+sobel-y"},
      {"method", "combineMethod", Kind::Int, "0",
       "0 sum, 1 sum of squares, 2 root of the sum of squares, 3 maximum, 4 minimum"}},
     [](Call& c) {
         // Comma-separated integers in [-128, 127] (this command's own parser).
         auto numbers = [](const std::string& text, std::vector<long long>* out) {
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
         };
         auto bad = [](const std::string& cmd, const std::string& msg) { throw ToolError(kExitUsage, cmd + ": " + msg); };
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
                     bad("convolve", "bad kernel '" + one + "': expected a preset or RxC:v,v,...[/shift]");
                 k.rows = rows, k.cols = cols, k.shift = 0;
                 std::string body = one.substr(size_t(used));
                 const size_t slash = body.find('/');
                 std::vector<long long> vals;
                 if (slash != std::string::npos) {
                     if (!numbers(body.substr(slash + 1), &vals) || vals.size() != 1 || vals[0] < 0 || vals[0] > 31)
                         bad("convolve", "bad kernel shift in '" + one + "': expected 0 to 31");
                     k.shift = int(vals[0]);
                     body.resize(slash);
                 }
                 if (!numbers(body, &vals) || vals.size() != size_t(rows) * size_t(cols))
                     bad("convolve", "bad kernel '" + one + "': expected " + std::to_string(rows * cols) +
                                         " entries from -128 to 127");
                 for (long long v : vals) k.v.push_back(static_cast<signed char>(v));
             }
             texts.push_back(k);
         }
         if (texts.size() > 100) bad("convolve", "at most 100 kernels");
         std::vector<VexConvKernel*> kernels;
         for (const KernelText& k : texts)
             kernels.push_back(vexCreateConvKernel(k.rows, k.cols, (k.cols - 1) / 2, (k.rows - 1) / 2, k.v.data(), k.shift));
         vexConvolve2D(c.src[0], c.dst[0], kernels.data(), int(kernels.size()), c.i("method"), nullptr);
         for (VexConvKernel* k : kernels) vexDeleteConvKernel(k);
     }},
    {"sepconv", nullptr, "vexConvolveSep2D",
     "separable integer convolution: a row kernel across, a column kernel down, one shift at the end",
     Shape::Unary,
     {{"xkernel", nullptr, Kind::Text, nullptr, "row kernel entries, e.g. 1,2,1"},
      {"ykernel", nullptr, Kind::Text, nullptr, "column kernel entries, e.g. 1,2,1"},
      {"xanchor", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"yanchor", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"},
      {"xshift", nullptr, Kind::Int, "0", "right shift counted for the row kernel"},
      {"yshift", nullptr, Kind::Int, "0", "right shift counted for the column kernel"}},
     [](Call& c) {
         // Comma-separated integers in [-128, 127] (this command's own parser).
         auto numbers = [](const std::string& text, std::vector<long long>* out) {
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
         };
         auto bad = [](const std::string& cmd, const std::string& msg) { throw ToolError(kExitUsage, cmd + ": " + msg); };
         auto entries = [&](const std::string& name, const std::string& text) {
             std::vector<signed char> v;
             std::vector<long long> vals;
             if (!numbers(text, &vals) || vals.size() > 255)
                 bad("sepconv", "bad --" + name + " '" + text + "': expected entries from -128 to 127 like 1,2,1");
             for (long long x : vals) v.push_back(static_cast<signed char>(x));
             return v;
         };
         const std::vector<signed char> xv = entries("xkernel", c.args->values.at("xkernel"));
         const std::vector<signed char> yv = entries("ykernel", c.args->values.at("ykernel"));
         const int nx = int(xv.size()), ny = int(yv.size());
         const int ax = c.i("xanchor") < 0 ? (nx - 1) / 2 : c.i("xanchor");
         const int ay = c.i("yanchor") < 0 ? (ny - 1) / 2 : c.i("yanchor");
         if (ax >= nx || ay >= ny) bad("sepconv", "an anchor lies inside its kernel");
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
    {"max", "maxfilter", "vexMaxFilter", "largest sample of a rows x cols window", Shape::Unary,
     {{"rows", "nRows", Kind::Int, "3", "window rows"},
      {"cols", "nCols", Kind::Int, "3", "window columns"},
      {"anchorX", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"anchorY", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"}},
     [](Call& c) {
         const int r = c.i("rows"), w = c.i("cols");
         vexMaxFilter(c.src[0], c.dst[0], r, w, c.i("anchorX") < 0 && w > 0 ? (w - 1) / 2 : c.i("anchorX"),
                      c.i("anchorY") < 0 && r > 0 ? (r - 1) / 2 : c.i("anchorY"), nullptr);
     }},
    {"min", "minfilter", "vexMinFilter", "smallest sample of a rows x cols window", Shape::Unary,
     {{"rows", "nRows", Kind::Int, "3", "window rows"},
      {"cols", "nCols", Kind::Int, "3", "window columns"},
      {"anchorX", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"anchorY", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"}},
     [](Call& c) {
         const int r = c.i("rows"), w = c.i("cols");
         vexMinFilter(c.src[0], c.dst[0], r, w, c.i("anchorX") < 0 && w > 0 ? (w - 1) / 2 : c.i("anchorX"),
                      c.i("anchorY") < 0 && r > 0 ? (r - 1) / 2 : c.i("anchorY"), nullptr);
     }},
    {"median", nullptr, "vexMedianFilter", "median (rank n/2+1) of a rows x cols window", Shape::Unary,
     {{"rows", "nRows", Kind::Int, "3", "window rows"},
      {"cols", "nCols", Kind::Int, "3", "window columns"},
      {"anchorX", nullptr, Kind::Int, "-1", "anchor column (-1: the centre)"},
      {"anchorY", nullptr, Kind::Int, "-1", "anchor row (-1: the centre)"}},
     [](Call& c) {
         const int r = c.i("rows"), w = c.i("cols");
         vexMedianFilter(c.src[0], c.dst[0], r, w, c.i("anchorX") < 0 && w > 0 ? (w - 1) / 2 : c.i("anchorX"),
                         c.i("anchorY") < 0 && r > 0 ? (r - 1) / 2 : c.i("anchorY"), nullptr);
     }},

    // (commands: morph)

    // (commands: geom)

    // (commands: transform)
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
                 "Options are written --name VALUE or --name=VALUE; integers may be decimal or 0x hex.\n\n%s",
                 kExitCodesText);
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
        case Kind::Flag: return "";
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
        case Kind::Flag:
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

int runOperation(const Command& cmd, const Args& a) {
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

        // (run shapes: color)

        // (run shapes: alpha)

        // (run shapes: stats)

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

    const double ms = timedCall([&]() { cmd.op(call); });
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
    const Args a = parseArgs(*cmd, argc, argv, 2);
    switch (cmd->shape) {
        case Shape::Info: return runInfo(*cmd, a);
        case Shape::Demo: return runDemoCommand(*cmd, a);
        default: return runOperation(*cmd, a);
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
