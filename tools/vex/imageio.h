// Image files <-> VexImage for the vex command-line program.
//
// Files are read through stb_image (PNG, BMP, JPEG, PGM/PPM, TGA, GIF first
// frame) and 16-bit PNG through libpng. They become
// untiled pixel-order VexImages, top-left origin, align 4, of depth 8U or
// 16U with 1 (gray), 2 (gray+alpha), 3 (RGB) or 4 (RGBA) channels.
// Output goes to PNG (8- or 16-bit) or BMP (8-bit), chosen by the extension.
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

// Name of the file format the content of `path` has ("PNG", "JPEG", ...),
// or "" when it is not recognised.
std::string sniffFormat(const std::string& path);

// "8U", "16U", ... for a depth code.
const char* depthName(unsigned depth);

// Parses "8U"/"16U"/"8S"/"16S"/"32S"/"1U" (case-insensitive); 0 when unknown.
unsigned parseDepth(const std::string& text);

}  // namespace vextool
