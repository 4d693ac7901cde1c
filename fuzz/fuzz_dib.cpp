// Fuzz target of the DIB functions, the family that parses untrusted bytes.
// The input's first bytes pick the function and an image layout; the next 40
// are the bitmap header as they come (any biSize, bit count, compression,
// table length, size), the rest the table and pixel rows. The DIB lives in a
// buffer of exactly the size its header declares (capped), so any read or
// write past the table or the rows is a sanitizer report; every byte the
// library wrote is read afterwards.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vexlib.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n, at = 0;
    uint8_t byte() { return at < n ? p[at++] : 0; }
};

volatile unsigned g_sink;

void readAll(const void* data, size_t size) {
    unsigned s = 0;
    for (size_t i = 0; i < size; ++i) s += static_cast<const uint8_t*>(data)[i];
    g_sink = s;
}

constexpr int64_t kCap = int64_t(1) << 22;

// Bytes the header declares: 40 (or biSize), the table, the rows. -1 when
// above the cap or negative.
int64_t declaredSize(const VexBitmapInfoHeader& h, bool roomForTable) {
    const int bits = h.biBitCount;
    int64_t table = 0;
    if (bits == 1 || bits == 4 || bits == 8) {
        table = h.biClrUsed ? int64_t(h.biClrUsed) : int64_t(1) << bits;
        if (roomForTable && table < (int64_t(1) << bits)) table = int64_t(1) << bits;
    } else if ((bits == 16 || bits == 32) && h.biCompression == 3) {
        table = 3;
    }
    const int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    const int64_t stride = h.biWidth > 0 ? ((int64_t(h.biWidth) * bits + 31) & ~int64_t(31)) / 8 : 0;
    const int64_t head = h.biSize > 40 ? int64_t(h.biSize) : 40;
    if (table > kCap || rows > kCap || stride > kCap) return -1;
    const int64_t size = head + 4 * table + stride * rows;
    return size > kCap ? -1 : size;
}

const char* const kSeqs[] = {"G", "GRAY", "BGR", "BGRA", "RGB", "RGBA", "GA", "HSV"};
const unsigned kDepths[] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U, VEX_DEPTH_8S, VEX_DEPTH_32S};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(vexNulDevReport);
    vexSetErrStatus(VEX_StsOk);

    const int op = in.byte() % 3;
    const unsigned depth = kDepths[in.byte() % 5];
    const int nCh = 1 + in.byte() % 4;
    const int alpha = in.byte() % 5;
    const char* seq = kSeqs[in.byte() % 8];
    const int order = in.byte() & 1, origin = in.byte() & 1, align = in.byte() & 1 ? 8 : 4;
    const int dither = (in.byte() & 1) ? 8 : (in.byte() % 3);
    const int palette = in.byte() % 4;
    int ih = 1 + in.byte() % 48, iw = 1 + in.byte() % 48;

    VexBitmapInfoHeader h;
    uint8_t head[40];
    for (uint8_t& b : head) b = in.byte();
    std::memcpy(&h, head, 40);
    // Mostly plausible headers, so that the conversions run too.
    const uint8_t tweak = in.byte();
    if (tweak & 1) h.biSize = 40;
    if (tweak & 2) h.biPlanes = 1;
    if (tweak & 4) {
        static const uint16_t kBits[] = {1, 4, 8, 16, 24, 32};
        h.biBitCount = kBits[(tweak >> 4) % 6];
    }
    if (tweak & 8) h.biCompression = (tweak & 0x40) ? 3 : 0;
    if (op == 2 && (tweak & 0x80)) h.biWidth = iw, h.biHeight = ih;
    else if (tweak & 0x80) h.biWidth %= 64, h.biHeight %= 64, h.biClrUsed %= 300;

    const int64_t bytes = declaredSize(h, op == 2 && palette == 2);
    if (bytes < 40) return 0;
    std::unique_ptr<uint8_t[]> dib(new uint8_t[size_t(bytes)]);
    std::memset(dib.get(), 0, size_t(bytes));
    std::memcpy(dib.get(), &h, 40);
    for (int64_t i = 40; i < bytes && in.at < in.n; ++i) dib[size_t(i)] = in.byte();
    auto* hdr = reinterpret_cast<VexBitmapInfoHeader*>(dib.get());

    if (op == 0) {
        int clone = -1;
        VexImage* img = vexTranslateDIB(hdr, &clone);
        if (img) {
            readAll(img->imageData, size_t(img->dataSize));
            vexDeallocate(img, VEX_IMAGE_ALL);
        }
        return 0;
    }
    VexImage* img = vexCreateImageHeader(depth == VEX_DEPTH_1U ? 1 : nCh, alpha, int(depth), "RGB", seq, order,
                                         origin, align, ih, iw, nullptr, nullptr, nullptr);
    if (!img) return 0;
    std::unique_ptr<char[]> buffer(new char[size_t(img->dataSize)]);
    for (int i = 0; i < img->dataSize; ++i) buffer[size_t(i)] = char(in.byte() ^ i);
    img->imageData = buffer.get();
    if (op == 1) {
        vexConvertFromDIB(hdr, img);
        readAll(img->imageData, size_t(img->dataSize));
    } else {
        vexConvertToDIB(img, hdr, dither, palette);
        readAll(dib.get(), size_t(bytes));
    }
    img->imageData = nullptr;
    vexDeallocate(img, VEX_IMAGE_ALL);
    return 0;
}
