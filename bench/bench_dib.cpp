// Bitmaps: vexConvertFromDIB and vexConvertToDIB on 4096x4096 pictures, 24-bit
// and 8-bit indexed DIBs, against a memcpy of the larger side's bytes (the
// image's or the DIB's pixel rows). Median cut: vexConvertToDIB with the
// median-cut table minus the same call with that table given (palette 0),
// against a plain implementation of the same rule written here (impl
// "plain"; its time is in the console output). Single-threaded.
#include <cstring>
#include <vector>

#include "benchutil.h"

namespace {

constexpr int kSize = 4096;

struct Dib {
    std::vector<uint8_t> bytes;
    VexBitmapInfoHeader* h() { return reinterpret_cast<VexBitmapInfoHeader*>(bytes.data()); }
    uint8_t* table() { return bytes.data() + 40; }
    size_t rowBytes() const { return size_t((kSize * bitCount + 31) / 32 * 4) * kSize; }
    int bitCount = 24;
};

Dib makeDib(int bits, uint32_t key) {
    Dib d;
    d.bitCount = bits;
    const size_t table = bits <= 8 ? size_t(4) << bits : 0;
    d.bytes.resize(40 + table + d.rowBytes());
    vexbench::fillRandom(d.bytes.data(), d.bytes.size(), key);
    VexBitmapInfoHeader h{};
    h.biSize = 40, h.biWidth = kSize, h.biHeight = kSize, h.biPlanes = 1, h.biBitCount = uint16_t(bits);
    std::memcpy(d.bytes.data(), &h, 40);
    return d;
}

vexbench::Image makeSeq(int nChannels, const char* seq, uint32_t key) {
    vexbench::Image img = vexbench::makeImage(kSize, kSize, nChannels, VEX_DEPTH_8U, key);
    std::memset(img->channelSeq, 0, 4);
    std::memcpy(img->channelSeq, seq, std::strlen(seq));
    return img;
}

// A picture with a photo's spread of colours: smooth gradients plus noise.
void fillPhoto(VexImage* img) {
    for (int y = 0; y < img->height; ++y) {
        uint8_t* row = reinterpret_cast<uint8_t*>(img->imageData) + size_t(y) * img->widthStep;
        uint32_t s = 0x9E3779B9u ^ uint32_t(y);
        for (int x = 0; x < img->width; ++x) {
            s ^= s << 13, s ^= s >> 17, s ^= s << 5;
            row[3 * x] = uint8_t((x >> 4) + (s & 15));
            row[3 * x + 1] = uint8_t((y >> 4) + (s >> 8 & 15));
            row[3 * x + 2] = uint8_t(((x + y) >> 5) + (s >> 16 & 31));
        }
    }
}

void memcpyBytes(benchmark::State& st, size_t n) {
    std::vector<uint8_t> a(n, 1), b(n, 2);
    for (auto _ : st) {
        std::memcpy(b.data(), a.data(), n);
        benchmark::ClobberMemory();
    }
    vexbench::setBytes(st, n);
}

// ------------------------------------------------------------ plain median cut
struct PlainBox { int lo[3], hi[3]; long count; };

void plainShrink(const std::vector<uint32_t>& h, PlainBox& b) {
    int lo[3] = {64, 64, 64}, hi[3] = {-1, -1, -1};
    long n = 0;
    for (int i = b.lo[0]; i <= b.hi[0]; ++i)
        for (int j = b.lo[1]; j <= b.hi[1]; ++j)
            for (int k = b.lo[2]; k <= b.hi[2]; ++k)
                if (uint32_t c = h[size_t(i * 4096 + j * 64 + k)]) {
                    n += c;
                    const int v[3] = {i, j, k};
                    for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
                }
    for (int a = 0; a < 3; ++a) b.lo[a] = lo[a], b.hi[a] = hi[a];
    b.count = n;
}

// The same rule as the library's: 64^3 histogram of the top six bits, boxes
// split in passes at the count's median along the longest axis, the
// count-weighted mean of each box.
int plainMedianCut(const VexImage* img, int K, uint8_t* table) {
    std::vector<uint32_t> h(64 * 64 * 64, 0);
    for (int y = 0; y < img->height; ++y) {
        const uint8_t* row = reinterpret_cast<const uint8_t*>(img->imageData) + size_t(y) * img->widthStep;
        for (int x = 0; x < img->width; ++x) ++h[size_t((row[3 * x] >> 2) * 4096 + (row[3 * x + 1] >> 2) * 64 + (row[3 * x + 2] >> 2))];
    }
    std::vector<PlainBox> boxes(1, PlainBox{{0, 0, 0}, {63, 63, 63}, 0});
    plainShrink(h, boxes[0]);
    auto one = [](const PlainBox& b) { return b.lo[0] == b.hi[0] && b.lo[1] == b.hi[1] && b.lo[2] == b.hi[2]; };
    while (int(boxes.size()) < K) {
        const size_t start = boxes.size();
        bool any = false;
        for (size_t i = 0; i < start && int(boxes.size()) < K; ++i) {
            if (one(boxes[i])) continue;
            any = true;
            PlainBox b = boxes[i];
            int axis = 2;
            for (int a : {1, 0})
                if (b.hi[a] - b.lo[a] > b.hi[axis] - b.lo[axis]) axis = a;
            long slice[64] = {};
            for (int i2 = b.lo[0]; i2 <= b.hi[0]; ++i2)
                for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                    for (int k = b.lo[2]; k <= b.hi[2]; ++k) {
                        const int v[3] = {i2, j, k};
                        slice[v[axis]] += h[size_t(i2 * 4096 + j * 64 + k)];
                    }
            long run = 0;
            int cut = b.lo[axis];
            for (int l = b.lo[axis]; l <= b.hi[axis]; ++l) {
                const long prev = run;
                run += slice[l];
                if (2 * run > b.count) {
                    cut = l;
                    if (l > b.lo[axis] && std::labs(2 * prev - b.count) < std::labs(2 * run - b.count)) cut = l - 1;
                    break;
                }
            }
            PlainBox p1 = b, p2 = b;
            p1.hi[axis] = cut, p2.lo[axis] = cut + 1;
            plainShrink(h, p1);
            plainShrink(h, p2);
            boxes[i] = p1;
            boxes.push_back(p2);
        }
        if (!any) break;
    }
    for (size_t n = 0; n < boxes.size(); ++n) {
        const PlainBox& b = boxes[n];
        uint64_t s[3] = {0, 0, 0}, c = 0;
        for (int i = b.lo[0]; i <= b.hi[0]; ++i)
            for (int j = b.lo[1]; j <= b.hi[1]; ++j)
                for (int k = b.lo[2]; k <= b.hi[2]; ++k) {
                    const uint64_t v = h[size_t(i * 4096 + j * 64 + k)];
                    c += v, s[0] += v * i, s[1] += v * j, s[2] += v * k;
                }
        for (int a = 0; a < 3; ++a) table[4 * n + a] = uint8_t(c ? s[a] / c * 4 : 0);
        table[4 * n + 3] = 0;
    }
    return int(boxes.size());
}

void registerAll() {
    using vexbench::add;
    // From DIB.
    add("fromdib24", "bgr_8u_c3", "vex", [](benchmark::State& st) {
        Dib d = makeDib(24, 1);
        auto img = makeSeq(3, "BGR", 2);
        for (auto _ : st) {
            vexConvertFromDIB(d.h(), img.get());
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, d.rowBytes());
    });
    add("fromdib24", "bgr_8u_c3", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });
    add("fromdib24", "rgb_8u_c3", "vex", [](benchmark::State& st) {
        Dib d = makeDib(24, 1);
        auto img = makeSeq(3, "RGB", 2);
        for (auto _ : st) {
            vexConvertFromDIB(d.h(), img.get());
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, d.rowBytes());
    });
    add("fromdib24", "rgb_8u_c3", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });
    add("fromdib8", "palette_8u_c3", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 3);
        auto img = makeSeq(3, "RGB", 2);
        for (auto _ : st) {
            vexConvertFromDIB(d.h(), img.get());
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(img.get()));
    });
    add("fromdib8", "palette_8u_c3", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });
    add("fromdib8", "ramp_8u_c1", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 3);
        for (int i = 0; i < 256; ++i) std::memset(d.table() + 4 * i, i, 3);
        auto img = makeSeq(1, "G", 2);
        for (auto _ : st) {
            vexConvertFromDIB(d.h(), img.get());
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(img.get()));
    });
    add("fromdib8", "ramp_8u_c1", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize); });

    // To DIB.
    add("todib24", "rgb_8u_c3", "vex", [](benchmark::State& st) {
        Dib d = makeDib(24, 1);
        auto img = makeSeq(3, "RGB", 2);
        for (auto _ : st) {
            vexConvertToDIB(img.get(), d.h(), 1, 0);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, d.rowBytes());
    });
    add("todib24", "rgb_8u_c3", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });
    add("todib8", "gray_8u_c1_fixed", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 1);
        auto img = makeSeq(1, "G", 2);
        for (auto _ : st) {
            vexConvertToDIB(img.get(), d.h(), 1, 1);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, d.rowBytes());
    });
    add("todib8", "gray_8u_c1_fixed", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize); });
    add("todib8", "photo_8u_c3_cube", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 1);
        auto img = makeSeq(3, "BGR", 2);
        fillPhoto(img.get());
        for (auto _ : st) {
            vexConvertToDIB(img.get(), d.h(), 1, 1);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(img.get()));
    });
    add("todib8", "photo_8u_c3_cube", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });
    add("todib8", "noise_8u_c3_cube", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 1);
        auto img = makeSeq(3, "BGR", 2);
        for (auto _ : st) {
            vexConvertToDIB(img.get(), d.h(), 1, 1);
            benchmark::ClobberMemory();
        }
        if (vexbench::checkStatus(st)) vexbench::setBytes(st, vexbench::bytesOf(img.get()));
    });
    add("todib8", "noise_8u_c3_cube", "memcpy", [](benchmark::State& st) { memcpyBytes(st, size_t(kSize) * kSize * 3); });

    // Median cut of the photo-like picture, 256 entries: the whole call, the
    // call with that table given, and the plain rule.
    add("mediancut", "photo_8u_c3_call", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 1);
        auto img = makeSeq(3, "BGR", 2);
        fillPhoto(img.get());
        for (auto _ : st) {
            d.h()->biClrUsed = 0;
            vexConvertToDIB(img.get(), d.h(), 1, 2);
            benchmark::ClobberMemory();
        }
        vexbench::checkStatus(st);
    });
    add("mediancut", "photo_8u_c3_tablegiven", "vex", [](benchmark::State& st) {
        Dib d = makeDib(8, 1);
        auto img = makeSeq(3, "BGR", 2);
        fillPhoto(img.get());
        vexConvertToDIB(img.get(), d.h(), 1, 2);
        for (auto _ : st) {
            vexConvertToDIB(img.get(), d.h(), 1, 0);
            benchmark::ClobberMemory();
        }
        vexbench::checkStatus(st);
    });
    add("mediancut", "photo_8u_c3_rule", "plain", [](benchmark::State& st) {
        auto img = makeSeq(3, "BGR", 2);
        fillPhoto(img.get());
        uint8_t table[1024];
        Dib d = makeDib(8, 1);
        vexConvertToDIB(img.get(), d.h(), 1, 2);
        const int n = plainMedianCut(img.get(), 256, table);
        if (n != int(d.h()->biClrUsed) || std::memcmp(table, d.table(), size_t(4 * n)) != 0)
            st.SkipWithError("the plain median cut and the library's disagree");
        for (auto _ : st) {
            benchmark::DoNotOptimize(plainMedianCut(img.get(), 256, table));
            benchmark::ClobberMemory();
        }
    });
}

const bool kRegistered = (registerAll(), true);

}  // namespace

VEX_BENCH_MAIN()
