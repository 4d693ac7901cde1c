// Image files <-> VexImage for the vex command-line program.
//
// Files are read through stb_image (PNG, JPEG, PGM/PPM, TGA, GIF first
// frame), 16-bit PNG through libpng and BMP through the library's own DIB
// functions (1-, 4-, 8-, 16-, 24- and 32-bit, either row direction). They become
// untiled pixel-order VexImages, top-left origin, align 4, of depth 8U or
// 16U with 1 (gray), 2 (gray+alpha), 3 (RGB) or 4 (RGBA) channels.
// Output goes to PNG (8- or 16-bit) or BMP (vexConvertToDIB), chosen by the
// extension.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "vexlib.h"

namespace vextool {

// Exit codes of the program (also listed in `vex --help`).
enum ExitCode { kExitOk = 0, kExitLibrary = 1, kExitUsage = 2, kExitIO = 3 };

// A failure the program reports in one line and exits with `code`.
struct ToolError : std::runtime_error {
    int code;
    ToolError(int c, const std::string& what) : std::runtime_error(what), code(c) {}
};

// Owns a VexImage header, its pixel buffer and its ROI record.
struct ImageDeleter {
    void operator()(VexImage* img) const { vexDeallocate(img, VEX_IMAGE_ALL); }
};
using ImagePtr = std::unique_ptr<VexImage, ImageDeleter>;

// Creates an allocated untiled pixel-order image, align 4, filled with
// `fillValue` (-1: left unfilled). depth is VEX_DEPTH_8U or VEX_DEPTH_16U.
// Throws ToolError(kExitUsage) for a shape the header rules refuse.
ImagePtr makeImage(int height, int width, int nChannels, unsigned depth, int fillValue);

// A new image of the same shape and contents as `src`.
ImagePtr cloneImage(const VexImage* src);

// Reads a file. Throws ToolError(kExitIO) naming the problem.
ImagePtr loadImage(const std::string& path);

// Writes a file; the format comes from the extension (.png or .bmp).
// Throws ToolError(kExitIO) naming the problem.
void saveImage(const VexImage* img, const std::string& path);

// How a BMP file is written (vexConvertToDIB's arguments and the file's
// row direction).
struct BmpOptions {
    int bits = 0;           // 1, 4, 8, 16, 24 or 32; 0: 8 (gray), 24 or 32 by channels
    int palette = 2;        // 1 fixed table, 2 median cut (1-, 4- and 8-bit files)
    int dither = 1;         // 1 high byte of 16U samples, 8 Stucki dithering
    bool bitfields = false; // 16 bits: 5-6-5 masks; 32 bits: explicit 8-8-8 masks
    bool topDown = false;   // rows stored top-down (negative height)
};

// Writes an untiled pixel-order 8U or 16U image of 1, 2 (the gray channel
// is written), 3 or 4 channels as a BMP. Throws ToolError: kExitLibrary
// with the library's report, kExitIO for the file.
void saveBmp(const VexImage* img, const std::string& path, const BmpOptions& options);

// Reads a BMP file through vexTranslateDIB and vexConvertFromDIB: gray-ramp
// tables give one channel, 32-bit files four (RGBA; a 32-bit file whose
// alpha bytes are all zero is opaque), others three. Throws ToolError
// (kExitIO for a truncated or malformed file, kExitLibrary when the library
// refuses the header).
ImagePtr loadBmp(const std::string& path);

// Name of the file format the content of `path` has ("PNG", "JPEG", ...),
// or "" when it is not recognised.
std::string sniffFormat(const std::string& path);

// Parses "8U"/"16U"/"8S"/"16S"/"32S"/"1U" (case-insensitive); 0 when unknown.
unsigned parseDepth(const std::string& text);

}  // namespace vextool
