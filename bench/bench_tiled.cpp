// Tiled images against untiled ones: vexCopy, vexExchange, vexAdd,
// vexThreshold and vexMirror on 4096x4096 8U one-channel images, once with
// every image untiled and once with 256x256 tiles (all images tiled, or
// mixed: only the sources or only the destination tiled). The tile callback
// is trivial: it hands out pointers into tile buffers made ready before the
// timing (blocks of the benchmark pool, so the tiled and the untiled run of
// a case use the same pages), so the figures show what the library's tiled
// paths cost.
// Single-threaded throughout; the summary prints tiled/untiled ratios.
// The add-order row runs no library code: it times the tile walk's memory
// order against one pass with a plain loop (see registerPattern).
#include <cstring>
#include <sys/resource.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "benchutil.h"

namespace {

constexpr int kSize = 4096;
constexpr int kTile = 256;

// ------------------------------------------------------------ tile stores

// One buffer per image, tiles one after another (row-major tile order),
// each laid out as an untiled kTile x kTile image.
struct TileStore {
    unsigned char* data = nullptr;  // 16 bytes past a 64-byte line, as a std::vector's would be
    int tilesX = 0, tilesY = 0;
    size_t tileBytes = 0;
};

std::vector<TileStore*>& stores() {
    static std::vector<TileStore*> s;
    return s;
}

void tileCallback(const VexImage* image, int xIndex, int yIndex, int mode) {
    VexTileInfo* info = image->tileInfo;
    if (mode == VEX_TILE_RELEASE) {
        info->tileData = nullptr;
        return;
    }
    const TileStore* s = stores()[static_cast<size_t>(info->id)];
    if (xIndex < 0 || yIndex < 0 || xIndex >= s->tilesX || yIndex >= s->tilesY) {
        info->tileData = nullptr;
        return;
    }
    info->tileData = reinterpret_cast<char*>(s->data) + (size_t(yIndex) * s->tilesX + xIndex) * s->tileBytes;
}

// A tiled 8U one-channel image with random content.
struct Tiled {
    VexImage* image = nullptr;
    TileStore store;
    explicit Tiled(uint32_t key) {
        image = vexCreateImageHeader(1, 0, VEX_DEPTH_8U, "GRAY", "G\0\0", VEX_DATA_ORDER_PIXEL,
                                     VEX_ORIGIN_TL, 4, kSize, kSize, nullptr, nullptr, nullptr);
        store.tilesX = (kSize + kTile - 1) / kTile;
        store.tilesY = (kSize + kTile - 1) / kTile;
        store.tileBytes = size_t(kTile) * kTile;
        const size_t n = store.tileBytes * store.tilesX * store.tilesY;
        // A block of the benchmark pool (the images are made inside a case).
        store.data = static_cast<unsigned char*>(vexbench::pooledBlock(n + 16)) + 16;
        vexbench::fillRandom(store.data, n, key);
        image->tileInfo = vexCreateTileInfo(tileCallback, static_cast<int>(stores().size()), kTile, kTile);
        stores().push_back(&store);
    }
    ~Tiled() {
        vexDeleteTileInfo(image->tileInfo);
        image->tileInfo = nullptr;
        vexDeallocateHeader(image);
    }
    Tiled(const Tiled&) = delete;
    Tiled& operator=(const Tiled&) = delete;
};

// An image of either kind behind one pointer.
struct Any {
    vexbench::Image plain;
    std::unique_ptr<Tiled> tiled;
    Any(bool isTiled, uint32_t key) {
        if (isTiled)
            tiled.reset(new Tiled(key));
        else
            plain = vexbench::makeImage(kSize, kSize, 1, VEX_DEPTH_8U, key);
    }
    VexImage* get() const { return tiled ? tiled->image : plain.get(); }
};

// ------------------------------------------------------------ cases

enum Op { kCopy, kExchange, kAdd, kThreshold, kMirror1, kMirror0, kMirrorBoth };
const char* const kOpNames[] = {"copy", "exchange", "add", "threshold", "mirror1", "mirror0", "mirror-1"};

// Which images are tiled: sources, destination.
struct Tiling {
    const char* name;
    bool src, dst;
};

void call(Op op, VexImage* a, VexImage* b, VexImage* d) {
    switch (op) {
        case kCopy: vexCopy(a, d, nullptr); break;
        case kExchange: vexExchange(a, d, nullptr); break;
        case kAdd: vexAdd(a, b, d, nullptr); break;
        case kThreshold: vexThreshold(a, d, 128, nullptr); break;
        case kMirror1: vexMirror(a, d, 1, nullptr); break;
        case kMirror0: vexMirror(a, d, 0, nullptr); break;
        case kMirrorBoth: vexMirror(a, d, -1, nullptr); break;
    }
}

// Page faults of the process so far: the timed calls should take none (every
// buffer is written before the timing), which the "faults" counter (per
// call) shows.
long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

void registerCase(Op op, const Tiling& t, bool inPlace) {
    const std::string kase = inPlace ? std::string("in-place") : t.name;
    for (int tiledRun = 0; tiledRun < 2; ++tiledRun) {
        const bool srcTiled = tiledRun && t.src, dstTiled = tiledRun && t.dst;
        vexbench::add(kOpNames[op], kase, tiledRun ? "tiled" : "untiled",
                      [=](benchmark::State& st) {
                          Any a(srcTiled, 1), b(srcTiled, 2), d(dstTiled, 3);
                          VexImage* dst = inPlace ? a.get() : d.get();
                          call(op, a.get(), b.get(), dst);  // warm up
                          const long faults = minorFaults();
                          for (auto _ : st) {
                              call(op, a.get(), b.get(), dst);
                              benchmark::ClobberMemory();
                          }
                          st.counters["faults"] = benchmark::Counter(double(minorFaults() - faults),
                                                                     benchmark::Counter::kAvgIterations);
                          if (vexbench::checkStatus(st)) vexbench::setBytes(st, size_t(kSize) * kSize);
                      });
    }
}

void registerAll() {
    const Tiling all{"all", true, true}, srcOnly{"src-tiled", true, false}, dstOnly{"dst-tiled", false, true};
    for (Op op : {kCopy, kExchange, kAdd, kThreshold, kMirror1, kMirror0, kMirrorBoth}) {
        registerCase(op, all, false);
        if (op == kExchange || op == kMirror0 || op == kMirrorBoth) continue;
        registerCase(op, srcOnly, false);
        registerCase(op, dstOnly, false);
    }
    registerCase(kMirror1, all, true);
    registerCase(kMirrorBoth, all, true);
}

// The memory order alone, without the library: a saturating add of two
// untiled 4096x4096 8U buffers written past the cache (as the library
// writes a call of this size), once in one pass and once in the tile walk's
// order into 256x256 tile buffers (tile rows top to bottom, tiles left to
// right, 256-byte source pieces a page apart, the rows six ahead asked
// for). Its ratio is what that order costs the memory system by itself.
#if defined(__SSE2__)
void addStream(const unsigned char* a, const unsigned char* b, unsigned char* d, size_t n) {
    for (size_t i = 0; i < n; i += 16) {
        const __m128i x = _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), x);
    }
}

void registerPattern() {
    for (int tiledRun = 0; tiledRun < 2; ++tiledRun)
        vexbench::add("add-order", "dst-tiled", tiledRun ? "tiled" : "untiled", [=](benchmark::State& st) {
            const size_t bytes = size_t(kSize) * kSize;
            // Blocks of the benchmark pool (page-aligned; a case always gets them).
            auto* pa = static_cast<unsigned char*>(vexbench::pooledBlock(bytes));
            auto* pb = static_cast<unsigned char*>(vexbench::pooledBlock(bytes));
            auto* pd = static_cast<unsigned char*>(vexbench::pooledBlock(bytes));
            vexbench::fillRandom(pa, bytes, 1);
            vexbench::fillRandom(pb, bytes, 2);
            auto pass = [&] {
                if (!tiledRun) {
                    addStream(pa, pb, pd, bytes);
                } else {
                    for (int ty = 0; ty < kSize / kTile; ++ty)
                        for (int tx = 0; tx < kSize / kTile; ++tx) {
                            const size_t first = size_t(ty) * kTile * kSize + size_t(tx) * kTile;
                            unsigned char* tileBuf = pd + (size_t(ty) * (kSize / kTile) + tx) * kTile * kTile;
                            for (int y = 0; y < kTile; ++y) {
                                if (y + 6 < kTile)
                                    for (int k = 0; k < kTile; k += 64) {
                                        __builtin_prefetch(pa + first + size_t(y + 6) * kSize + k);
                                        __builtin_prefetch(pb + first + size_t(y + 6) * kSize + k);
                                    }
                                addStream(pa + first + size_t(y) * kSize, pb + first + size_t(y) * kSize,
                                          tileBuf + size_t(y) * kTile, kTile);
                            }
                        }
                }
                _mm_sfence();
            };
            pass();  // warm up
            for (auto _ : st) {
                pass();
                benchmark::ClobberMemory();
            }
            vexbench::setBytes(st, bytes);
        });
}
#else
void registerPattern() {}
#endif

const bool kRegistered = (registerAll(), registerPattern(), true);

// CPU time per call as well as real time: other work on a shared machine
// stretches the real time of whichever case it happens to overlap.
class Reporter : public vexbench::CollectingReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        vexbench::CollectingReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            const double seconds = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
            const vexbench::Key k = vexbench::splitName(r.run_name.function_name);
            cpu_[k.family + "/" + k.kase][k.impl].push_back(seconds * 1e6);
        }
    }
    double cpuMicros(const std::string& row, const std::string& impl) const {
        auto it = cpu_.find(row);
        if (it == cpu_.end()) return -1;
        auto jt = it->second.find(impl);
        if (jt == it->second.end() || jt->second.empty()) return -1;
        std::vector<double> v = jt->second;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }

    // Untiled and tiled time per row (medians over repetitions) and ratios.
    void printRatios() const {
        std::printf("\nSummary (microseconds per call, medians; tiled/untiled, target <= 1.3)\n");
        std::printf("%-22s %10s %10s %7s   %10s %10s %7s\n", "op/case", "real untl", "real tiled",
                    "ratio", "cpu untl", "cpu tiled", "ratio");
        for (const std::string& row : vexbench::rowOrder()) {
            const double u = micros(row, "untiled"), t = micros(row, "tiled");
            const double cu = cpuMicros(row, "untiled"), ct = cpuMicros(row, "tiled");
            if (u < 0 || t < 0) continue;
            std::printf("%-22s %10.1f %10.1f %7.2f   %10.1f %10.1f %7.2f\n", row.c_str(), u, t, t / u,
                        cu, ct, ct / cu);
        }
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
    vexbench::quietLibrary();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
