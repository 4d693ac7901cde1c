// Image files <-> VexImage. See imageio.h.
#include "imageio.h"
#include "tilestore.h"
#include "vexcli.h"

#include <png.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vextool {
namespace {

// Channel names per channel count; each literal holds at least 4 bytes
// because the header copies exactly 4.
struct ChannelNames {
    const char* colorSpace;
    const char* channelSeq;
    int alphaChannel;
};
const ChannelNames kChannelNames[5] = {
    {"", "", 0},
    {"GRAY", "G\0\0", 0},
    {"GRAY", "GA\0", 2},
    {"RGB", "RGB", 0},
    {"RGBA", "RGBA", 4},
};

// Header plus buffer, or null; never throws (used inside the libpng
// setjmp region too).
VexImage* tryMakeImage(int height, int width, int nChannels, unsigned depth, int fillValue) {
    if (nChannels < 1 || nChannels > 4) return nullptr;
    const ChannelNames& names = kChannelNames[nChannels];
    VexImage* img = vexCreateImageHeader(nChannels, names.alphaChannel, static_cast<int>(depth),
                                         names.colorSpace, names.channelSeq, VEX_DATA_ORDER_PIXEL,
                                         VEX_ORIGIN_TL, 4, height, width, nullptr, nullptr, nullptr);
    if (!img) return nullptr;
    vexAllocateImage(img, fillValue);
    if (!img->imageData) {
        vexDeallocate(img, VEX_IMAGE_ALL);
        return nullptr;
    }
    return img;
}

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The file must exist, be a regular file and be readable.
void checkReadable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw ToolError(kExitIO, "cannot read '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw ToolError(kExitIO, "cannot read '" + path + "': is a directory");
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw ToolError(kExitIO, "cannot read '" + path + "': " + std::strerror(errno));
    std::fclose(f);
    if (st.st_size == 0) throw ToolError(kExitIO, "cannot read '" + path + "': file is empty");
}

// ------------------------------------------------------------ libpng, 16 bit

struct PngIoState {
    char message[256];
    jmp_buf* jump;
};

void pngError(png_structp png, png_const_charp msg) {
    auto* st = static_cast<PngIoState*>(png_get_error_ptr(png));
    std::snprintf(st->message, sizeof st->message, "%s", msg ? msg : "libpng error");
    longjmp(png_jmpbuf(png), 1);
}
void pngWarning(png_structp, png_const_charp) {}

// Reads a PNG whose samples are 16 bits wide into a 16U image. Only plain
// pointers live across setjmp; they are released on both paths.
ImagePtr loadPng16(const std::string& path) {
    PngIoState st{};
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) throw ToolError(kExitIO, "cannot read '" + path + "': " + std::strerror(errno));
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(png ? &png : nullptr, nullptr, nullptr);
        std::fclose(fp);
        throw ToolError(kExitIO, "cannot read '" + path + "': out of memory in libpng");
    }
    VexImage* volatile img = nullptr;
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(fp);
        vexFree(rows);
        if (img) vexDeallocate(img, VEX_IMAGE_ALL);
        throw ToolError(kExitIO, "cannot decode '" + path + "': corrupt PNG (" + st.message + ")");
    }
    png_init_io(png, fp);
    png_read_info(png, info);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_swap(png);  // PNG stores 16-bit samples big-endian
    png_read_update_info(png, info);
    const int width = static_cast<int>(png_get_image_width(png, info));
    const int height = static_cast<int>(png_get_image_height(png, info));
    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 16 || channels < 1 || channels > 4) {
        std::snprintf(st.message, sizeof st.message, "unexpected layout: %d channels of %d bits",
                      channels, png_get_bit_depth(png, info));
        longjmp(png_jmpbuf(png), 1);
    }
    img = tryMakeImage(height, width, channels, VEX_DEPTH_16U, -1);
    if (!img) {
        std::snprintf(st.message, sizeof st.message, "out of memory");
        longjmp(png_jmpbuf(png), 1);
    }
    rows = static_cast<png_bytep*>(vexMalloc(static_cast<int>(sizeof(png_bytep)) * height));
    if (!rows) {
        std::snprintf(st.message, sizeof st.message, "out of memory");
        longjmp(png_jmpbuf(png), 1);
    }
    for (int y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(img->imageData + static_cast<size_t>(y) * img->widthStep);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(fp);
    vexFree(rows);
    return ImagePtr(img);
}

void savePng16(const VexImage* img, const std::string& path) {
    PngIoState st{};
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) throw ToolError(kExitIO, "cannot write '" + path + "': " + std::strerror(errno));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &st, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(png ? &png : nullptr, nullptr);
        std::fclose(fp);
        throw ToolError(kExitIO, "cannot write '" + path + "': out of memory in libpng");
    }
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(fp);
        vexFree(rows);
        throw ToolError(kExitIO, "cannot write '" + path + "': " + st.message);
    }
    static const int kColorType[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                      PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    png_init_io(png, fp);
    png_set_IHDR(png, info, static_cast<png_uint_32>(img->width), static_cast<png_uint_32>(img->height),
                 16, kColorType[img->nChannels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_swap(png);
    rows = static_cast<png_bytep*>(vexMalloc(static_cast<int>(sizeof(png_bytep)) * img->height));
    if (!rows) {
        std::snprintf(st.message, sizeof st.message, "out of memory");
        longjmp(png_jmpbuf(png), 1);
    }
    for (int y = 0; y < img->height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(img->imageData + static_cast<size_t>(y) * img->widthStep);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    vexFree(rows);
    if (std::fclose(fp) != 0)
        throw ToolError(kExitIO, "cannot write '" + path + "': " + std::strerror(errno));
}

}  // namespace

// ---------------------------------------------------------------- helpers


unsigned parseDepth(const std::string& text) {
    std::string t = text;
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t == "1U") return VEX_DEPTH_1U;
    if (t == "8U") return VEX_DEPTH_8U;
    if (t == "8S") return VEX_DEPTH_8S;
    if (t == "16U") return VEX_DEPTH_16U;
    if (t == "16S") return VEX_DEPTH_16S;
    if (t == "32S") return VEX_DEPTH_32S;
    return 0;
}

ImagePtr makeImage(int height, int width, int nChannels, unsigned depth, int fillValue) {
    if (nChannels < 1 || nChannels > 4)
        throw ToolError(kExitUsage, "images have 1 to 4 channels, not " + std::to_string(nChannels));
    if (height < 1 || width < 1)
        throw ToolError(kExitUsage, "image size " + std::to_string(height) + "x" + std::to_string(width) +
                                        " is empty");
    VexImage* raw = tryMakeImage(height, width, nChannels, depth, fillValue);
    if (!raw)
        throw ToolError(kExitIO, "cannot make a " + std::to_string(height) + "x" + std::to_string(width) +
                                     " image of " + std::to_string(nChannels) + " channels, depth " +
                                     depthName(depth) + " (header refused or out of memory)");
    return ImagePtr(raw);
}

ImagePtr cloneImage(const VexImage* src) {
    ImagePtr img = makeImage(src->height, src->width, src->nChannels, src->depth, -1);
    std::memcpy(img->imageData, src->imageData, static_cast<size_t>(src->dataSize));
    return img;
}

std::string sniffFormat(const std::string& path) {
    unsigned char b[16] = {0};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "";
    const size_t n = std::fread(b, 1, sizeof b, f);
    std::fclose(f);
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return "PNG";
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "JPEG";
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return "BMP";
    if (n >= 4 && std::memcmp(b, "GIF8", 4) == 0) return "GIF";
    if (n >= 4 && std::memcmp(b, "8BPS", 4) == 0) return "PSD";
    if (n >= 2 && b[0] == 'P' && (b[1] == '5' || b[1] == '6')) return b[1] == '5' ? "PGM" : "PPM";
    if (lowerExtension(path) == ".tga") return "TGA";
    return "";
}

// 16-bit binary PGM/PPM: the samples are big-endian in the file. Read
// through the tile store, which the streamed runs use, so that a file gives
// the same pixels in memory and streamed.
ImagePtr loadPnm16(const std::string& path) {
    TileStore::Shape shape;
    shape.tileW = shape.tileH = 8;
    shape.cacheBytes = 0;
    std::string err;
    std::unique_ptr<TileStore> store = TileStore::openRead(path, shape, &err);
    if (!store) throw ToolError(kExitIO, err);
    const FileLayout& l = store->layout();
    ImagePtr img = makeImage(l.height, l.width, l.channels, l.depth, -1);
    for (int y = 0; y < l.height; ++y)
        if (!store->readRows(y, 1, img->imageData + int64_t(y) * img->widthStep)) throw ToolError(kExitIO, store->error());
    return img;
}

ImagePtr loadImage(const std::string& path) {
    checkReadable(path);
    const std::string format = sniffFormat(path);
    if (format.empty()) {
        int w, h, n;
        // stb also recognises some formats without a magic number (TGA).
        if (!stbi_info(path.c_str(), &w, &h, &n))
            throw ToolError(kExitIO, "unsupported image format in '" + path +
                                         "' (readable: PNG, BMP, JPEG, PGM/PPM, TGA, GIF)");
    }
    if (format == "BMP") return loadBmp(path);
    const bool wide = stbi_is_16_bit(path.c_str()) != 0;
    if (wide && format == "PNG") return loadPng16(path);
    if (wide && (format == "PGM" || format == "PPM")) return loadPnm16(path);

    int w = 0, h = 0, n = 0;
    void* data = wide ? static_cast<void*>(stbi_load_16(path.c_str(), &w, &h, &n, 0))
                      : static_cast<void*>(stbi_load(path.c_str(), &w, &h, &n, 0));
    if (!data) {
        const char* why = stbi_failure_reason();
        throw ToolError(kExitIO, "cannot decode '" + path + "': corrupt or unsupported " +
                                     (format.empty() ? std::string("image") : format) + " file (" +
                                     (why ? why : "unknown reason") + ")");
    }
    try {
        ImagePtr img = makeImage(h, w, n, wide ? VEX_DEPTH_16U : VEX_DEPTH_8U, -1);
        const size_t rowBytes = static_cast<size_t>(w) * n * (wide ? 2 : 1);
        for (int y = 0; y < h; ++y)
            std::memcpy(img->imageData + static_cast<size_t>(y) * img->widthStep,
                        static_cast<const char*>(data) + y * rowBytes, rowBytes);
        stbi_image_free(data);
        return img;
    } catch (...) {
        stbi_image_free(data);
        throw;
    }
}

void saveImage(const VexImage* img, const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext != ".png" && ext != ".bmp")
        throw ToolError(kExitIO, "unsupported output format '" + (ext.empty() ? std::string("(none)") : ext) +
                                     "' for '" + path + "' (write .png or .bmp)");
    if (!img || !img->imageData || img->tileInfo || img->dataOrder != VEX_DATA_ORDER_PIXEL ||
        img->nChannels < 1 || img->nChannels > 4 ||
        (img->depth != VEX_DEPTH_8U && img->depth != VEX_DEPTH_16U))
        throw ToolError(kExitIO, "cannot write '" + path + "': only untiled pixel-order 8U or 16U images "
                                                            "of 1 to 4 channels can be written");
    if (ext == ".bmp") {
        if (img->depth == VEX_DEPTH_16U)
            throw ToolError(kExitIO, "cannot write '" + path + "': BMP holds 8-bit samples; write a 16U image as .png "
                                                                "(or reduce it with vex tobmp)");
        saveBmp(img, path, BmpOptions());
        return;
    }
    if (img->depth == VEX_DEPTH_16U) {
        savePng16(img, path);
        return;
    }
    errno = 0;
    const int ok = stbi_write_png(path.c_str(), img->width, img->height, img->nChannels, img->imageData,
                                  img->widthStep);
    if (!ok)
        throw ToolError(kExitIO, "cannot write '" + path + "'" +
                                     (errno ? std::string(": ") + std::strerror(errno) : std::string()));
}

// ---------------------------------------------------------------- BMP

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + size_t(k)] = uint8_t(v >> (8 * k));
}

// The DIB part of a BMP file in one buffer: the 40-byte header, its colour
// table or masks, the pixel rows. Later header versions (52 to 124 bytes)
// keep their first 40 bytes; their masks follow those 40 bytes in the file
// either way.
std::vector<uint8_t> readDib(const std::string& path) {
    std::vector<uint8_t> file;
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) throw ToolError(kExitIO, "cannot read '" + path + "': " + std::strerror(errno));
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) file.insert(file.end(), chunk, chunk + n);
        std::fclose(f);
    }
    auto bad = [&](const std::string& why) { return ToolError(kExitIO, "cannot decode '" + path + "': " + why); };
    if (file.size() < 18 || file[0] != 'B' || file[1] != 'M') throw bad("truncated BMP (no file header)");
    const uint32_t offBits = le32(file, 10), headerSize = le32(file, 14);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        throw bad("BMP header of " + std::to_string(headerSize) + " bytes (readable: 40, 52, 56, 108, 124)");
    if (file.size() < 14 + size_t(headerSize)) throw bad("truncated BMP (header)");
    VexBitmapInfoHeader h;
    std::memcpy(&h, file.data() + 14, sizeof h);
    const int bits = h.biBitCount;
    int64_t table = 0;
    if (bits == 1 || bits == 4 || bits == 8) table = h.biClrUsed ? int64_t(h.biClrUsed) : int64_t(1) << bits;
    else if ((bits == 16 || bits == 32) && h.biCompression == VEX_BI_BITFIELDS) table = 3;
    const int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    const int64_t stride = h.biWidth > 0 ? ((int64_t(h.biWidth) * bits + 31) & ~int64_t(31)) / 8 : 0;
    const int64_t tableAt = 14 + 40 + (table == 3 && bits > 8 ? 0 : int64_t(headerSize) - 40);
    const int64_t size = int64_t(file.size());
    if (table > size || tableAt + 4 * table > size) throw bad("truncated BMP (colour table)");
    if (stride > 0 && rows > (size - int64_t(offBits)) / stride) throw bad("truncated BMP (pixel rows)");
    if (int64_t(offBits) > size) throw bad("truncated BMP (pixel rows)");
    std::vector<uint8_t> dib(size_t(40 + 4 * table + stride * rows));
    std::memcpy(dib.data(), &h, 40);
    put32(dib, 0, uint32_t(h.biSize == headerSize ? 40 : h.biSize));
    std::memcpy(dib.data() + 40, file.data() + tableAt, size_t(4 * table));
    std::memcpy(dib.data() + 40 + 4 * table, file.data() + offBits, size_t(stride * rows));
    return dib;
}

}  // namespace

ImagePtr loadBmp(const std::string& path) {
    std::vector<uint8_t> bytes = readDib(path);
    auto* dib = reinterpret_cast<VexBitmapInfoHeader*>(bytes.data());
    // The library tells the shape (a gray ramp, colour, colour and alpha).
    resetLibraryStatus();
    int shared = 0;
    VexImage* probe = vexTranslateDIB(dib, &shared);
    checkLibraryStatus();
    const int nChannels = probe->nChannels;
    vexDeallocate(probe, VEX_IMAGE_ALL);
    ImagePtr img = makeImage(std::abs(dib->biHeight), dib->biWidth, nChannels, VEX_DEPTH_8U, 0);
    resetLibraryStatus();
    vexConvertFromDIB(dib, img.get());
    checkLibraryStatus();
    if (nChannels == 4) {
        bool anyAlpha = false;
        for (int y = 0; y < img->height && !anyAlpha; ++y)
            for (int x = 0; x < img->width; ++x)
                if (img->imageData[size_t(y) * img->widthStep + size_t(x) * 4 + 3]) anyAlpha = true;
        if (!anyAlpha)
            for (int y = 0; y < img->height; ++y)
                for (int x = 0; x < img->width; ++x) img->imageData[size_t(y) * img->widthStep + size_t(x) * 4 + 3] = char(255);
    }
    return img;
}

void saveBmp(const VexImage* img, const std::string& path, const BmpOptions& options) {
    if (!img || !img->imageData || img->tileInfo || img->dataOrder != VEX_DATA_ORDER_PIXEL || img->nChannels < 1 ||
        img->nChannels > 4 || (img->depth != VEX_DEPTH_8U && img->depth != VEX_DEPTH_16U))
        throw ToolError(kExitIO, "cannot write '" + path + "': only untiled pixel-order 8U or 16U images "
                                                            "of 1 to 4 channels can be written");
    // Gray and alpha: the gray channel alone.
    ImagePtr grayOnly;
    if (img->nChannels == 2) {
        grayOnly = makeImage(img->height, img->width, 1, img->depth, 0);
        const int es = img->depth == VEX_DEPTH_16U ? 2 : 1;
        for (int y = 0; y < img->height; ++y)
            for (int x = 0; x < img->width; ++x)
                std::memcpy(grayOnly->imageData + size_t(y) * grayOnly->widthStep + size_t(x) * es,
                            img->imageData + size_t(y) * img->widthStep + size_t(x) * 2 * es, size_t(es));
        img = grayOnly.get();
    }
    const int bits = options.bits ? options.bits : img->nChannels == 1 ? 8 : img->nChannels == 3 ? 24 : 32;
    const bool masks = options.bitfields && (bits == 16 || bits == 32);
    const int64_t table = bits <= 8 ? int64_t(1) << bits : masks ? 3 : 0;
    const int64_t stride = ((int64_t(img->width) * bits + 31) & ~int64_t(31)) / 8;
    std::vector<uint8_t> dib(size_t(40 + 4 * table + stride * img->height));
    VexBitmapInfoHeader h{};
    h.biSize = 40, h.biWidth = img->width, h.biHeight = img->height, h.biPlanes = 1;
    h.biBitCount = uint16_t(bits), h.biCompression = masks ? VEX_BI_BITFIELDS : VEX_BI_RGB;
    h.biSizeImage = uint32_t(stride * img->height);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 2835;  // 72 dots per inch
    std::memcpy(dib.data(), &h, 40);
    if (masks) {
        const uint32_t m16[3] = {0xF800, 0x07E0, 0x001F}, m32[3] = {0xFF0000, 0xFF00, 0xFF};
        for (int k = 0; k < 3; ++k) put32(dib, size_t(40 + 4 * k), bits == 16 ? m16[k] : m32[k]);
    }
    auto* hdr = reinterpret_cast<VexBitmapInfoHeader*>(dib.data());
    // A file holds the samples in their channel order, whatever model they
    // are in (HSV, HLS, ...): name them as the file's own channels.
    VexImage view = *img;
    if (view.nChannels >= 1 && view.nChannels <= 4)
        std::memcpy(view.channelSeq, kChannelNames[view.nChannels].channelSeq, 4);
    resetLibraryStatus();
    vexConvertToDIB(&view, hdr, options.dither, options.palette);
    checkLibraryStatus();
    // The table may have shrunk (median cut): the rows follow what it holds.
    const int64_t used = bits <= 8 ? (hdr->biClrUsed ? int64_t(hdr->biClrUsed) : table) : table;
    const int64_t rowsAt = 40 + 4 * used, rowBytes = stride * img->height;
    std::vector<uint8_t> file(size_t(14 + rowsAt + rowBytes));
    file[0] = 'B', file[1] = 'M';
    put32(file, 2, uint32_t(file.size()));
    put32(file, 10, uint32_t(14 + rowsAt));
    std::memcpy(file.data() + 14, dib.data(), size_t(rowsAt));
    const uint8_t* rows = dib.data() + rowsAt;
    if (options.topDown) {
        put32(file, 14 + 8, uint32_t(-img->height));
        for (int y = 0; y < img->height; ++y)
            std::memcpy(file.data() + 14 + rowsAt + y * stride, rows + (img->height - 1 - y) * stride, size_t(stride));
    } else {
        std::memcpy(file.data() + 14 + rowsAt, rows, size_t(rowBytes));
    }
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw ToolError(kExitIO, "cannot write '" + path + "': " + std::strerror(errno));
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (std::fclose(f) != 0 || !ok)
        throw ToolError(kExitIO, "cannot write '" + path + "'" + (errno ? std::string(": ") + std::strerror(errno) : std::string()));
}

}  // namespace vextool
