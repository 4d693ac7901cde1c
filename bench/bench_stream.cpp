// Images larger than memory, and the cost of the tile callback itself.
//
// Google Benchmark cases (the default): a 4096x4096 8U image handed out as
// 256x256 tiles by a trivial callback (every tile its own block of memory),
// against the same image untiled, for copy, add, threshold and blur 5x5:
//     tiled-<op>/8u_c1/vex  versus  untiled-<op>/8u_c1/vex
// and the blur with only the source (tiledsrc-) or only the destination
// (tileddst-) tiled, and of a 3-channel image (tiled-blur5x5/8u_c3 versus
// untiled-blur5x5/8u_c3). Each tiled case also reports `vs_untiled`, its
// CPU time against the untiled call's, both measured in the same rounds.
//
// Streaming (bench_stream --stream N [--threads T] [--tiles W] [--map-writes]
// [--page-cache-writes] [--small-pages] [--dir D]):
// writes an N x N 8U PGM with the vex tool's make-huge generator (with
// --small-pages: then again in 4 KiB writes, see rewriteInSmallPieces), streams
// it through blur 5x5 and then threshold, file to file through the tile
// store, and reports wall time, CPU time, throughput and the peak resident
// memory (getrusage; CPU time split into user and system); bands are
// written past the page cache unless --page-cache-writes; then the same as
// one fused pass (threshold applied to
// each blurred tile before its release; compared with the two-pass file);
// then runs the same two operations in memory on a
// 4096x4096 image (and on an N x N one when that takes at most 1.5 GB)
// and prints the throughput ratios. The streamed jobs
// declare their reach (5 rows for the blur, 0 for the threshold), so the
// library gets untiled windows of the files. The files are removed
// at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "benchutil.h"
#include "stream.h"
#include "tilestore.h"

namespace {

// ------------------------------------------------------------ in-memory tiles

// A tiled copy of an untiled image: tile (i, j) is the block
// tiles[(j * tilesX + i) * tileBytes], in the tile layout of the header.
struct MemTiled {
    VexImage header{};
    VexTileInfo info{};
    std::vector<char> tiles;
    int tilesX = 0, tilesY = 0;
    int64_t tileStep = 0, tileBytes = 0;
};

void memCallback(const VexImage* image, int x, int y, int mode) {
    auto* t = static_cast<MemTiled*>(image->userData);
    if (mode == VEX_TILE_RELEASE) {
        image->tileInfo->tileData = nullptr;
        return;
    }
    image->tileInfo->tileData =
        x >= 0 && y >= 0 && x < t->tilesX && y < t->tilesY ? t->tiles.data() + (int64_t(y) * t->tilesX + x) * t->tileBytes
                                                            : nullptr;
}

void makeTiled(const VexImage* src, int tw, int th, MemTiled* t) {
    t->header = *src;
    t->header.imageData = nullptr;
    t->header.dataBlock = nullptr;
    t->header.roi = nullptr;
    t->header.userData = t;
    vexSetTileInfo(&t->info, memCallback, 0, tw, th);
    t->header.tileInfo = &t->info;
    t->tilesX = (src->width + tw - 1) / tw;
    t->tilesY = (src->height + th - 1) / th;
    t->tileStep = (int64_t(tw) * src->nChannels + 3) / 4 * 4;  // 8U
    t->tileBytes = t->tileStep * th;
    t->tiles.assign(size_t(t->tileBytes * t->tilesX * t->tilesY), 0);
    for (int y = 0; y < src->height; ++y)
        for (int i = 0; i < t->tilesX; ++i) {
            const int x0 = i * tw, n = std::min(tw, src->width - x0) * src->nChannels;
            char* tile = t->tiles.data() + (int64_t(y / th) * t->tilesX + i) * t->tileBytes;
            std::memcpy(tile + int64_t(y % th) * t->tileStep, src->imageData + int64_t(y) * src->widthStep + x0 * src->nChannels,
                        size_t(n));
        }
}

constexpr int kSize = 4096, kTile = 256;

double threadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// `tiled` says which images are held as tiles: the sources, the destination or both.
// A tiled case also runs the untiled call on the same images between its
// own calls (outside the timed part) and reports the ratio of the two
// calls' CPU times (`vs_untiled`): measured side by side, it does not move
// with the pages a separate case's images get or with what else runs on
// the machine at a different moment.
enum class Tiles { kNone, kSources, kDestination, kAll };
using ImageOp = void (*)(VexImage*, VexImage*, VexImage*);
// `whole`: the untiled call to compare with, when it is not `op` itself.
template <class Op>
void runOp(benchmark::State& state, Tiles tiles, Op op, int nChannels = 1, ImageOp whole = nullptr) {
    auto a = vexbench::makeImage(kSize, kSize, nChannels, VEX_DEPTH_8U, 1);
    auto b = vexbench::makeImage(kSize, kSize, nChannels, VEX_DEPTH_8U, 2);
    auto d = vexbench::makeImage(kSize, kSize, nChannels, VEX_DEPTH_8U, 3);
    MemTiled ta, tb, td;
    VexImage *pa = a.get(), *pb = b.get(), *pd = d.get();
    if (tiles == Tiles::kSources || tiles == Tiles::kAll) {
        makeTiled(pa, kTile, kTile, &ta);
        makeTiled(pb, kTile, kTile, &tb);
        pa = &ta.header, pb = &tb.header;
    }
    if (tiles == Tiles::kDestination || tiles == Tiles::kAll) {
        makeTiled(pd, kTile, kTile, &td);
        pd = &td.header;
    }
    vexSetErrStatus(VEX_StsOk);
    if (tiles == Tiles::kNone) {
        for (auto _ : state) op(pa, pb, pd);
    } else {
        double tiledMs = 0, untiledMs = 0;
        for (auto _ : state) {
            state.PauseTiming();
            const double t0 = threadCpuMs();
            if (whole) whole(a.get(), b.get(), d.get());
            else op(a.get(), b.get(), d.get());
            untiledMs += threadCpuMs() - t0;
            state.ResumeTiming();
            const double t1 = threadCpuMs();
            op(pa, pb, pd);
            tiledMs += threadCpuMs() - t1;
        }
        if (untiledMs > 0) state.counters["vs_untiled"] = tiledMs / untiledMs;
    }
    vexbench::checkStatus(state);
    state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
}

void registerAll() {
    struct Case {
        const char* name;
        void (*fn)(VexImage*, VexImage*, VexImage*);
    };
    static const Case kCases[] = {
        {"copy", [](VexImage* a, VexImage*, VexImage* d) { vexCopy(a, d, nullptr); }},
        {"add", [](VexImage* a, VexImage* b, VexImage* d) { vexAdd(a, b, d, nullptr); }},
        {"threshold", [](VexImage* a, VexImage*, VexImage* d) { vexThreshold(a, d, 128, nullptr); }},
        {"blur5x5", [](VexImage* a, VexImage*, VexImage* d) { vexBlur(a, d, 5, 5, 2, 2); }},
    };
    // Blur one destination tile per call (ROIs on both images), the way the
    // streamed runs call it: each call gathers only its tile and margins.
    vexbench::add("tiled-blur5x5-pertile", "8u_c1", "vex", [](benchmark::State& s) {
        runOp(s, Tiles::kAll, [](VexImage* a, VexImage*, VexImage* d) {
            for (int ty = 0; ty < kSize / kTile; ++ty)
                for (int tx = 0; tx < kSize / kTile; ++tx) {
                    VexROI r{0, tx * kTile, ty * kTile, kTile, kTile};
                    a->roi = &r;
                    d->roi = &r;
                    vexBlur(a, d, 5, 5, 2, 2);
                }
            a->roi = nullptr;
            d->roi = nullptr;
        }, 1, [](VexImage* a, VexImage*, VexImage* d) { vexBlur(a, d, 5, 5, 2, 2); });
    });
    for (const Case& c : kCases)
        for (bool tiled : {false, true}) {
            const auto fn = c.fn;
            const Tiles tiles = tiled ? Tiles::kAll : Tiles::kNone;
            vexbench::add(std::string(tiled ? "tiled-" : "untiled-") + c.name, "8u_c1", "vex",
                          [fn, tiles](benchmark::State& s) { runOp(s, tiles, fn); });
        }
    // The blur with only the source or only the destination tiled, and of a
    // 3-channel image (pixel order) untiled and with both images tiled.
    const auto blur = kCases[3].fn;
    for (bool tiled : {false, true})
        vexbench::add(std::string(tiled ? "tiled-" : "untiled-") + "blur5x5", "8u_c3", "vex",
                      [blur, tiled](benchmark::State& s) { runOp(s, tiled ? Tiles::kAll : Tiles::kNone, blur, 3); });
    vexbench::add("tiledsrc-blur5x5", "8u_c1", "vex", [blur](benchmark::State& s) { runOp(s, Tiles::kSources, blur); });
    vexbench::add("tileddst-blur5x5", "8u_c1", "vex",
                  [blur](benchmark::State& s) { runOp(s, Tiles::kDestination, blur); });
}

// ------------------------------------------------------------ streaming

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "CPU 1.23 s (user 0.45 + system 0.78)" for the time between two readings.
std::string cpuText(const vextool::CpuTimes& a, const vextool::CpuTimes& b) {
    char text[96];
    std::snprintf(text, sizeof text, "CPU %.2f s (user %.2f + system %.2f)", b.total() - a.total(), b.user - a.user,
                  b.system - a.system);
    return text;
}

// Writes the file again in 4 KiB writes: its pages in the page cache are
// then 4 KiB each, as for a file written by a program that writes in small
// pieces (make-huge writes 4 MiB blocks, which the page cache keeps whole).
bool rewriteInSmallPieces(const std::string& path) {
    const std::string tmp = path + ".small";
    FILE* a = std::fopen(path.c_str(), "rb");
    const int b = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buf(4096);
    bool ok = a && b >= 0;
    for (size_t got; ok && (got = std::fread(buf.data(), 1, buf.size(), a)) > 0;)
        ok = ::write(b, buf.data(), got) == ssize_t(got);
    if (a) std::fclose(a);
    if (b >= 0) ok = ::close(b) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

int runStreaming(int n, int threads, int tile, bool mapWrites, bool direct, bool smallPages, const std::string& dir) {
    using namespace vextool;
    const std::string in = dir + "/stream-in.pgm", mid = dir + "/stream-blur.pgm", out = dir + "/stream-out.pgm";
    makeHugeImage(in, n, n, 1, VEX_DEPTH_8U, false);
    if (smallPages && !rewriteInSmallPieces(in)) {
        std::fprintf(stderr, "bench_stream: cannot rewrite %s\n", in.c_str());
        return 1;
    }
    StreamOptions opt;
    opt.tileW = opt.tileH = tile;
    opt.threads = threads;
    opt.mapWrites = mapWrites;
    opt.directWrites = direct;
    StreamJob blur;
    blur.name = "blur";
    blur.inputs = {in};
    blur.output = mid;
    blur.reach = 5;
    blur.run = [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) { vexBlur(s[0], d, 5, 5, 2, 2); };
    StreamJob thr;
    thr.name = "threshold";
    thr.inputs = {mid};
    thr.output = out;
    thr.reach = 0;
    thr.run = [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) {
        vexThreshold(s[0], d, 128, nullptr);
    };
    const double w0 = now();
    const CpuTimes t0 = cpuTimes();
    runStream(blur, opt);
    const double w1 = now();
    const CpuTimes t1 = cpuTimes();
    runStream(thr, opt);
    const double w2 = now();
    const CpuTimes t2 = cpuTimes();
    const double c0 = t0.total(), c2 = t2.total();
    const double peakMB = double(peakResidentBytes()) / (1 << 20);
    const double px = double(n) * n;
    std::printf("streamed %dx%d 8U%s, tiles %dx%d, %d thread(s), %s writes: blur 5x5 %.2f s (%s), threshold %.2f s (%s)\n",
                n, n, smallPages ? " (source in 4 KiB pages)" : "", tile, tile, threads, direct ? "direct" : "page-cache",
                w1 - w0, cpuText(t0, t1).c_str(), w2 - w1, cpuText(t1, t2).c_str());
    std::printf("  blur+threshold: wall %.2f s = %.1f MPix/s; %s = %.1f MPix per CPU-second; peak resident %.1f MB\n",
                w2 - w0, px / (w2 - w0) / 1e6, cpuText(t0, t2).c_str(), px / (c2 - c0) / 1e6, peakMB);
    // Fused: one pass, the threshold applied in place to each blurred
    // destination tile before it goes back to the store.
    StreamJob fused = blur;
    const std::string fusedOut = dir + "/stream-fused.pgm";
    fused.output = fusedOut;
    fused.run = [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) {
        vexBlur(s[0], d, 5, 5, 2, 2);
        if (vexGetErrStatus() >= 0) vexThreshold(d, d, 128, nullptr);
    };
    const double w3 = now();
    const CpuTimes t3 = cpuTimes();
    runStream(fused, opt);
    const double w4 = now();
    const CpuTimes t4 = cpuTimes();
    const double c3 = t3.total(), c4 = t4.total();
    std::printf("  fused blur+threshold (one pass): wall %.2f s = %.1f MPix/s; %s = %.1f MPix per CPU-second; "
                "peak resident %.1f MB\n",
                w4 - w3, px / (w4 - w3) / 1e6, cpuText(t3, t4).c_str(), px / (c4 - c3) / 1e6,
                double(peakResidentBytes()) / (1 << 20));
    // The fused result must be the two-pass result.
    {
        FILE* a = std::fopen(out.c_str(), "rb");
        FILE* b = std::fopen(fusedOut.c_str(), "rb");
        std::vector<char> x(1 << 20), y(1 << 20);
        bool same = a && b;
        while (same) {
            const size_t na = std::fread(x.data(), 1, x.size(), a), nb = std::fread(y.data(), 1, y.size(), b);
            same = na == nb && std::memcmp(x.data(), y.data(), na) == 0;
            if (na == 0) break;
        }
        if (a) std::fclose(a);
        if (b) std::fclose(b);
        std::printf("  fused result %s the two-pass result\n", same ? "equals" : "DIFFERS FROM");
    }
    ::unlink(fusedOut.c_str());
    ::unlink(in.c_str());
    ::unlink(mid.c_str());
    ::unlink(out.c_str());

    // In memory: 4096x4096, best of 20 (a call takes a few milliseconds,
    // so a few runs of it move with whatever else the machine does); and
    // the streamed size itself, best of 2, when its three images (3 n^2
    // bytes) take at most 1.5 GB.
    std::vector<int> sizes = {kSize};
    if (n != kSize && 3.0 * n * n <= 1.5e9) sizes.push_back(n);
    for (int m : sizes) {
        auto src = vexbench::makeImage(m, m, 1, VEX_DEPTH_8U, 1);
        auto tmp = vexbench::makeImage(m, m, 1, VEX_DEPTH_8U, 2);
        auto dst = vexbench::makeImage(m, m, 1, VEX_DEPTH_8U, 3);
        double bestW = 1e30, bestC = 1e30;
        for (int r = 0; r < (m == kSize ? 20 : 2); ++r) {
            const double a = now(), b = cpuSeconds();
            vexBlur(src.get(), tmp.get(), 5, 5, 2, 2);
            vexThreshold(tmp.get(), dst.get(), 128, nullptr);
            bestW = std::min(bestW, now() - a);
            bestC = std::min(bestC, cpuSeconds() - b);
        }
        const double mpx = double(m) * m;
        std::printf("in memory %dx%d: blur+threshold wall %.4f s = %.1f MPix/s; CPU %.4f s = %.1f MPix per CPU-second\n",
                    m, m, bestW, mpx / bestW / 1e6, bestC, mpx / bestC / 1e6);
        std::printf("  ratio in-memory / streamed throughput: two passes wall %.2f, CPU %.2f; fused wall %.2f, CPU %.2f\n",
                    (mpx / bestW) / (px / (w2 - w0)), (mpx / bestC) / (px / (c2 - c0)),
                    (mpx / bestW) / (px / (w4 - w3)), (mpx / bestC) / (px / (c4 - c3)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int n = 0, threads = 1, tile = 512;
    bool mapWrites = false, direct = true, smallPages = false;
    std::string dir = ".";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--map-writes")) mapWrites = true;
        if (!std::strcmp(argv[i], "--page-cache-writes")) direct = false;
        if (!std::strcmp(argv[i], "--small-pages")) smallPages = true;
    }
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--stream")) n = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--tiles")) tile = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--dir")) dir = argv[++i];
    }
    if (n > 0) {
        try {
            return runStreaming(n, threads, tile, mapWrites, direct, smallPages, dir);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_stream: %s\n", e.what());
            return 1;
        }
    }
    registerAll();
    return vexbench::runMain(argc, argv);
}
