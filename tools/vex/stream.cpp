// Streamed runs (stream.h): the destination is cut into bands of one tile
// row; N threads take the bands in order, and each computes its band in one
// call on untiled windows of the files when the job's reach is known, else
// tile by tile through its own tiled headers over the shared tile stores.
//
// Every thread has its own library context (status, error mode, report
// function): the library keeps them per thread, so a failure on one thread
// is seen, and reported, by that thread alone. Each thread also has its own
// headers and tiling records, since a call writes the record's tileData and
// swaps the header's roi pointer while it runs.
#include "stream.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "imageio.h"
#include "tilestore.h"

namespace vextool {

// Joins the lines of a multi-line report (the header check pads each line
// with blanks) into one line.
std::string oneLine(const char* text) {
    std::string out, line;
    auto flush = [&]() {
        const size_t b = line.find_first_not_of(" \t\r"), e = line.find_last_not_of(" \t\r");
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

namespace {

// ------------------------------------------------------------ per-thread errors

struct ThreadReport {
    bool set = false;
    int status = 0;
    std::string func, context, trail;
};
thread_local ThreadReport t_report;


int threadReport(int status, const char* func, const char* context, const char*, int) {
    if (status == VEX_StsBackTrace || status == VEX_StsAutoTrace) {
        t_report.trail += std::string(" (called from ") + (func ? func : "<unknown>") + ")";
    } else if (!t_report.set) {
        t_report.set = true;
        t_report.status = status;
        t_report.func = func ? func : "<unknown>";
        t_report.context = oneLine(context);
    }
    return status;
}

// The thread's failure as one line.
std::string threadFailure() {
    if (!t_report.set) return std::string("library status: ") + vexErrorStr(vexGetErrStatus());
    std::string msg = t_report.func + ": " + vexErrorStr(t_report.status);
    if (!t_report.context.empty()) msg += ": " + t_report.context;
    return msg + t_report.trail;
}

// ------------------------------------------------------------ geometry

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

// A region cut to an image of width x height, as the library clips ROIs.
Box clipRegion(const StreamRegion& r, int width, int height) {
    Box b{0, 0, width, height};
    if (!r.hasRect) return b;
    int64_t x0 = r.x, y0 = r.y, x1 = int64_t(r.x) + r.w, y1 = int64_t(r.y) + r.h;
    x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, width), y1 = std::min<int64_t>(y1, height);
    if (x1 <= x0 || y1 <= y0) return Box{0, 0, 0, 0};
    return Box{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

bool stderrIsTerminal() { return ::isatty(2) == 1; }

// A buffer for the rows of a band: 2 MiB aligned and asked to be backed by
// huge pages before its first touch, so that the computation and the
// kernel's pinning of it for direct transfers walk 512 times fewer pages.
struct BandBuffer {
    std::unique_ptr<char, void (*)(void*)> data{nullptr, std::free};
    size_t size = 0;
};

// Room for n bytes in `buf`, at an address with the alignment of the file
// offset `off` within TileStore::kIoAlign bytes (kept to whole samples):
// the kernel then copies between the buffer and the page cache on equally
// aligned addresses, which costs about half of a misaligned copy, and the
// page-aligned middle of a band can be transferred directly. Null when
// memory runs out.
char* coAligned(BandBuffer& buf, int64_t n, int64_t off, int sampleBytes) {
    const int64_t align = TileStore::kIoAlign;
    const size_t need = size_t(n + 2 * align), huge = size_t(2) << 20;
    if (need > buf.size) {
        const size_t size = (need + huge - 1) / huge * huge;
        buf.data.reset(static_cast<char*>(std::aligned_alloc(huge, size)));
        buf.size = buf.data ? size : 0;
        if (!buf.data) return nullptr;
        ::madvise(buf.data.get(), size, MADV_HUGEPAGE);
    }
    int64_t skew = off % align;
    if (skew % sampleBytes) skew = 0;
    return buf.data.get() + skew;
}

// Writes a worker's bands on one helper thread, one band at a time, while
// the worker computes the next. One thread for the whole run: starting one
// per band took 4 % of a fused blur and threshold's CPU time (`perf`).
class BandWriter {
 public:
    BandWriter() = default;
    BandWriter(const BandWriter&) = delete;
    BandWriter& operator=(const BandWriter&) = delete;
    ~BandWriter() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mu_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    // Waits for the band being written; false if a write since the last
    // call failed.
    bool settle() {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return !busy_; });
        const bool ok = ok_;
        ok_ = true;
        return ok;
    }
    // Hands a write over (call settle() first); false when no thread can
    // be started, and the caller writes the band itself.
    bool post(std::function<bool()> job) {
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { loop(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            job_ = std::move(job);
            busy_ = true;
        }
        cv_.notify_all();
        return true;
    }

 private:
    void loop() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            cv_.wait(lock, [&] { return busy_ || quit_; });
            if (!busy_) return;
            lock.unlock();
            const bool ok = job_();
            lock.lock();
            ok_ = ok_ && ok;
            busy_ = false;
            cv_.notify_all();
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::function<bool()> job_;
    bool busy_ = false, quit_ = false, ok_ = true;
    std::thread thread_;
};

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

CpuTimes cpuTimes() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return CpuTimes{double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) / 1e6,
                    double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) / 1e6};
}

double cpuSeconds() { return cpuTimes().total(); }

int64_t peakResidentBytes() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return int64_t(ru.ru_maxrss) * 1024;  // kilobytes on Linux
}

void parseTileSize(const std::string& cmd, const std::string& text, int* w, int* h) {
    long long a = 0, b = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%lldx%lld%c", &a, &b, &tail) != 2 || a <= 0 || b <= 0 || a % 8 || b % 8 ||
        a > 65536 || b > 65536)
        throw ToolError(kExitUsage, cmd + ": bad value '" + text +
                                        "' for --tiles: expected WxH, tile width and height multiples of 8 up to 65536");
    *w = int(a), *h = int(b);
}

StreamReport runStream(const StreamJob& job, const StreamOptions& opt) {
    const auto t0 = std::chrono::steady_clock::now();
    const CpuTimes cpu0 = cpuTimes();
    const std::string& cmd = job.name;
    auto ioFail = [&](const std::string& text) { throw ToolError(kExitIO, cmd + ": " + text); };
    const size_t nStores = job.inputs.size() + 1;
    const int64_t dstCache = opt.cacheBytes / 4;
    const int64_t srcCache = (opt.cacheBytes - dstCache) / int64_t(std::max<size_t>(nStores - 1, 1));

    std::string err;
    TileStore::Shape shape;
    shape.tileW = opt.tileW, shape.tileH = opt.tileH;
    // Bands need pieces that lie in one tile row of the destination: every
    // job but the mapped ones (convert), which name a destination tile.
    shape.bands = opt.bands && job.roiPieces;
    shape.cacheBytes = srcCache;
    shape.directReads = opt.directReads;
    std::vector<std::unique_ptr<TileStore>> srcs;
    for (const std::string& path : job.inputs) {
        srcs.push_back(TileStore::openRead(path, shape, &err));
        if (!srcs.back()) ioFail(err);
    }
    std::unique_ptr<TileStore> baseOwned;
    const TileStore* base = srcs[0].get();
    if (!job.base.empty()) {
        TileStore::Shape baseShape = shape;
        baseShape.bands = false;
        baseShape.cacheBytes = 0;
        baseShape.directReads = false;
        baseOwned = TileStore::openRead(job.base, baseShape, &err);
        if (!baseOwned) ioFail(err);
        base = baseOwned.get();
    }
    const FileLayout& bl = base->layout();
    const int dstW = bl.width, dstH = bl.height;
    const int dstCh = job.dstChannels ? job.dstChannels : srcs[0]->layout().channels;
    const unsigned dstDepth = job.dstDepth ? job.dstDepth : srcs[0]->layout().depth;
    FileLayout dl;
    if (!newFileLayout(job.output, dstW, dstH, dstCh, dstDepth, &dl, &err)) throw ToolError(kExitUsage, cmd + ": " + err);

    // Working rectangle: the common size of the clipped regions.
    Box dbox = clipRegion(job.dst, dstW, dstH);
    Box sbox = clipRegion(job.src, srcs[0]->layout().width, srcs[0]->layout().height);
    for (const auto& s : srcs) {
        const Box b = clipRegion(job.src, s->layout().width, s->layout().height);
        sbox.w = std::min(sbox.w, b.w), sbox.h = std::min(sbox.h, b.h);
    }
    const int W = std::min(sbox.w, dbox.w), H = std::min(sbox.h, dbox.h);

    // The destination keeps the base's pixels wherever the operation does not
    // write: start from them unless every pixel is written.
    const bool whole = job.mirrorAxis == 2 && !job.roiPieces ? job.base.empty()
                                                             : (W == dstW && H == dstH && job.dst.coi == 0 &&
                                                                job.src.coi == 0 && job.base.empty());
    if (!whole && (bl.width != dl.width || bl.height != dl.height || bl.channels != dl.channels ||
                   bl.depth != dl.depth))
        throw ToolError(kExitUsage, cmd + ": the destination starts from '" + (job.base.empty() ? job.inputs[0] : job.base) +
                                        "', which must have its size, channels and depth");

    const std::string tmp = job.output + ".part" + std::to_string(::getpid());
    TileStore::Shape dstShape = shape;
    dstShape.cacheBytes = dstCache;
    dstShape.mapWrites = opt.mapWrites;
    dstShape.directWrites = opt.directWrites;
    std::unique_ptr<TileStore> dst = TileStore::create(tmp, dl, dstShape, &err);
    if (!dst) ioFail(replaceAll(err, tmp, job.output));
    dst->setWholeWrite(whole);
    auto discard = [&]() {
        dst.reset();
        ::unlink(tmp.c_str());
    };
    if (!whole && !dst->copyPixelsFrom(*base)) {
        err = dst->error();
        discard();
        ioFail(replaceAll(err, tmp, job.output));
    }

    // Bands: the destination tile rows that meet the working rectangle.
    const int ty0 = H > 0 ? dbox.y / opt.tileH : 0, ty1 = H > 0 ? (dbox.y + H - 1) / opt.tileH + 1 : 0;
    const int tx0 = W > 0 ? dbox.x / opt.tileW : 0, tx1 = W > 0 ? (dbox.x + W - 1) / opt.tileW + 1 : 0;
    const int64_t totalTiles = int64_t(ty1 - ty0) * (tx1 - tx0);
    auto pieceOf = [&](int tx, int ty) {
        StreamPiece p;
        p.tx = tx, p.ty = ty;
        const int x0 = std::max(dbox.x, tx * opt.tileW), x1 = std::min(dbox.x + W, (tx + 1) * opt.tileW);
        const int y0 = std::max(dbox.y, ty * opt.tileH), y1 = std::min(dbox.y + H, (ty + 1) * opt.tileH);
        p.x = x0, p.y = y0, p.w = x1 - x0, p.h = y1 - y0;
        const int ox = x0 - dbox.x, oy = y0 - dbox.y;
        const bool flipRows = job.mirrorAxis == 0 || job.mirrorAxis == -1;
        const bool flipCols = job.mirrorAxis == 1 || job.mirrorAxis == -1;
        p.sx = sbox.x + (flipCols ? W - ox - p.w : ox);
        p.sy = sbox.y + (flipRows ? H - oy - p.h : oy);
        return p;
    };

    std::atomic<int> nextBand{ty0};
    std::atomic<int64_t> tilesDone{0}, pixelsDone{0};
    std::atomic<bool> stop{false};
    std::mutex failMu;
    std::string failText;
    int failCode = kExitOk;
    std::mutex doneMu;
    std::condition_variable doneCv;
    int running = 0;

    // Untiled windows: the job's reach is known, and a band's windows fit
    // in a quarter of the cache per thread and in the library's sizes.
    const int nThreads = std::max(1, std::min(opt.threads, std::max(ty1 - ty0, 1)));
    bool windows = opt.windows && opt.bands && job.roiPieces && job.reach >= 0 && W > 0 && H > 0;
    bool overlapWrites = false;
    if (windows) {
        const int64_t rows = int64_t(opt.tileH) + 2 * int64_t(job.reach);
        int64_t bytes = int64_t(opt.tileH) * dst->windowStep();
        for (const auto& s : srcs) {
            const int64_t one = std::min<int64_t>(rows, s->layout().height) * s->windowStep();
            if (one > INT32_MAX / 2) windows = false;
            bytes += one;  // copied, or resident pages of the mapping
        }
        if (int64_t(opt.tileH) * dst->windowStep() > INT32_MAX / 2 || bytes * nThreads > opt.cacheBytes)
            windows = false;
        // A second destination band per thread, when it fits too: a band is
        // written (past the page cache the write waits for the disk) while
        // the next one is computed.
        overlapWrites = windows && (bytes + int64_t(opt.tileH) * dst->windowStep()) * nThreads <= opt.cacheBytes;
    }

    // One band through windows: the sources' rows (in place or copied), the
    // destination rows in a buffer written back in one piece; with
    // overlapped writes, two such buffers taken in turn, the band before
    // being written by a helper thread meanwhile.
    struct Windows {
        std::vector<VexImage*> src;
        std::vector<BandBuffer> srcBuf;
        std::vector<VexROI> srcRoi;
        VexImage* dst = nullptr;
        BandBuffer dstBuf[2];
        int next = 0;
        VexROI dstRoi{};
        BandWriter writer;  // declared after the buffers: ends first
        bool settle() { return writer.settle(); }
    };
    auto windowOf = [](const TileStore& s) {
        VexImage* h = s.newHeader();
        if (h) {
            vexDeleteTileInfo(h->tileInfo);
            h->tileInfo = nullptr;
            h->widthStep = int(s.windowStep());
        }
        return h;
    };
    auto point = [](VexImage* h, char* data, int rows) {
        h->imageData = data;
        h->height = rows;
        h->dataSize = int(rows * int64_t(h->widthStep));
    };
    auto outOfMemory = [&]() {
        std::lock_guard<std::mutex> lock(failMu);
        if (failText.empty()) failText = cmd + ": out of memory for a band", failCode = kExitIO;
        return false;
    };
    auto runBand = [&](Windows& w, int ty) {
        const StreamPiece first = pieceOf(tx0, ty);
        for (size_t k = 0; k < srcs.size(); ++k) {
            TileStore& s = *srcs[k];
            const int y0 = std::max(0, first.sy - job.reach);
            const int y1 = int(std::min<int64_t>(s.layout().height, int64_t(first.sy) + first.h + job.reach));
            char* rows = s.rowsInPlace(y0);
            if (rows && !s.willReadRows(y0, y1, y1 - y0)) return false;
            if (!rows) {
                rows = coAligned(w.srcBuf[k], (y1 - y0) * s.windowStep(), s.rowOffset(y0), s.layout().sampleBytes);
                if (!rows) return outOfMemory();
                if (!s.readRows(y0, y1 - y0, rows)) return false;
            }
            point(w.src[k], rows, y1 - y0);
            w.srcRoi[k] = VexROI{job.src.coi, 0, first.sy - y0, first.h, 0};
            w.src[k]->roi = &w.srcRoi[k];
        }
        const int dy0 = first.y, rows = first.h;
        char* band =
            coAligned(w.dstBuf[w.next], rows * dst->windowStep(), dst->rowOffset(dy0), dst->layout().sampleBytes);
        if (!band) return outOfMemory();
        point(w.dst, band, rows);
        if (!whole && !dst->readRows(dy0, rows, band)) return false;
        w.dst->roi = &w.dstRoi;
        // One call for the band's whole width: cutting it at tile edges
        // only adds calls (each with its row setup), measured 25 % more
        // user time for a blur 5x5 and threshold in 512-pixel pieces.
        {
            StreamPiece p = first;
            const StreamPiece last = pieceOf(tx1 - 1, ty);
            p.w = last.x + last.w - first.x;
            p.sx = std::min(first.sx, last.sx);  // mirrored columns: the last piece starts leftmost
            w.dstRoi = VexROI{job.dst.coi, p.x, 0, p.h, p.w};
            for (VexROI& r : w.srcRoi) r.xOffset = p.sx, r.width = p.w;
            job.run(w.src, w.dst, p);
            if (vexGetErrStatus() < 0) return true;
            // A wrapping top or bottom border reads the far end of the image,
            // which a window that does not span it lacks.
            for (size_t k = 0; k < srcs.size(); ++k) {
                const VexImage* h = w.src[k];
                if ((h->borderMode[0] == VEX_BORDER_WRAP || h->borderMode[1] == VEX_BORDER_WRAP) &&
                    job.reach > 0 && h->height != srcs[k]->layout().height) {
                    std::lock_guard<std::mutex> lock(failMu);
                    if (failText.empty())
                        failText = cmd + ": a wrapping top or bottom border needs the whole image (give the job no reach)",
                        failCode = kExitUsage;
                    stop = true;
                    return true;
                }
            }
            tilesDone += tx1 - tx0;
            pixelsDone += int64_t(p.w) * p.h;
        }
        for (size_t k = 0; k < srcs.size(); ++k) {
            const int y0 = std::max(0, first.sy - job.reach);
            srcs[k]->dropRows(y0, int64_t(first.sy) + first.h + job.reach);
        }
        if (!overlapWrites) return dst->writeRows(dy0, rows, band);
        if (!w.settle()) return false;
        TileStore* out = dst.get();
        if (!w.writer.post([out, dy0, rows, band] { return out->writeRows(dy0, rows, band); }))
            return out->writeRows(dy0, rows, band);  // no thread to spare: write it now
        w.next ^= 1;
        return true;
    };

    auto worker = [&]() {
        vexSetErrMode(VEX_ErrModeParent);
        vexRedirectError(threadReport);
        vexSetErrStatus(VEX_StsOk);
        t_report = ThreadReport();
        std::vector<VexImage*> sh;
        VexImage* dh = nullptr;
        Windows win;
        if (windows) {
            for (const auto& s : srcs) win.src.push_back(windowOf(*s));
            win.srcBuf.resize(srcs.size());
            win.srcRoi.resize(srcs.size());
            win.dst = windowOf(*dst);
            dh = win.dst;
            sh = win.src;
        } else {
            for (const auto& s : srcs) sh.push_back(s->newHeader());
            dh = dst->newHeader();
        }
        VexROI sroi{}, droi{};
        bool ok = dh != nullptr;
        for (VexImage* h : sh) ok = ok && h;
        if (!ok) {
            std::lock_guard<std::mutex> lock(failMu);
            if (failText.empty()) failText = cmd + ": out of memory for image headers", failCode = kExitIO;
            stop = true;
        }
        auto libraryFailed = [&]() {
            if (vexGetErrStatus() >= 0) return false;
            std::lock_guard<std::mutex> lock(failMu);
            if (failText.empty()) failText = threadFailure(), failCode = kExitLibrary;
            stop = true;
            return true;
        };
        while (ok && !stop) {
            const int ty = nextBand++;
            if (ty >= ty1) break;
            if (windows) {
                if (!runBand(win, ty)) stop = true;
                libraryFailed();
                continue;
            }
            for (int tx = tx0; tx < tx1 && !stop; ++tx) {
                const StreamPiece p = pieceOf(tx, ty);
                if (job.roiPieces) {
                    droi = VexROI{job.dst.coi, p.x, p.y, p.h, p.w};
                    sroi = VexROI{job.src.coi, p.sx, p.sy, p.h, p.w};
                    dh->roi = &droi;
                    for (VexImage* h : sh) h->roi = &sroi;
                } else {
                    droi = VexROI{job.dst.coi, 0, 0, dh->height, dh->width};
                    sroi = VexROI{job.src.coi, 0, 0, sh[0]->height, sh[0]->width};
                    dh->roi = job.dst.coi ? &droi : nullptr;
                    for (VexImage* h : sh) h->roi = job.src.coi ? &sroi : nullptr;
                }
                job.run(sh, dh, p);
                if (libraryFailed()) break;
                ++tilesDone;
                pixelsDone += int64_t(p.w) * p.h;
            }
            // The band's destination tiles are complete: write them now, in
            // whole rows, and free their room.
            if (!stop && !dst->retireRow(ty)) stop = true;
        }
        if (!win.settle()) stop = true;
        if (dh) dh->roi = nullptr;
        for (VexImage* h : sh)
            if (h) h->roi = nullptr;
        for (VexImage* h : sh) TileStore::freeHeader(h);
        TileStore::freeHeader(dh);
        std::lock_guard<std::mutex> lock(doneMu);
        --running;
        doneCv.notify_all();
    };

    std::vector<std::thread> pool;
    running = nThreads;
    for (int i = 0; i < nThreads; ++i) pool.emplace_back(worker);

    // Progress on a terminal only.
    const bool progress = stderrIsTerminal();
    bool printed = false;
    {
        std::unique_lock<std::mutex> lock(doneMu);
        while (running > 0) {
            doneCv.wait_for(lock, std::chrono::milliseconds(250));
            if (progress && running > 0) {
                const double s = secondsSince(t0);
                std::fprintf(stderr, "\rvex %s: tiles %lld/%lld, %.1f MPix/s   ", cmd.c_str(),
                             static_cast<long long>(tilesDone.load()), static_cast<long long>(totalTiles),
                             s > 0 ? double(pixelsDone.load()) / s / 1e6 : 0.0);
                printed = true;
            }
        }
    }
    for (std::thread& t : pool) t.join();
    if (printed) std::fprintf(stderr, "\n");

    // A store's I/O failure explains a tile the library did not get.
    for (const auto& s : srcs)
        if (s->failed()) failText = cmd + ": " + s->error(), failCode = kExitIO;
    if (dst->failed()) failText = cmd + ": " + replaceAll(dst->error(), tmp, job.output), failCode = kExitIO;
    if (!failText.empty()) {
        discard();
        throw ToolError(failCode, failText);
    }
    if (!dst->flush()) {
        err = dst->error();
        discard();
        ioFail(replaceAll(err, tmp, job.output));
    }
    const int64_t reads = [&] {
        int64_t n = 0;
        for (const auto& s : srcs) n += s->tileReads();
        return n;
    }();
    const int64_t writes = dst->tileWrites();
    const int64_t direct = dst->directBytes();
    dst.reset();
    if (std::rename(tmp.c_str(), job.output.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(tmp.c_str());
        ioFail("cannot write '" + job.output + "': " + why);
    }
    StreamReport report;
    report.windows = windows;
    report.directBytes = direct;
    for (const auto& s : srcs) report.directReadBytes += s->directBytes();
    for (const auto& s : srcs) report.inPlace += windows && s->mapped();
    if (opt.time) {
        const double s = secondsSince(t0);
        const std::string how =
            windows ? "untiled windows, " + std::to_string(report.inPlace) + " of " + std::to_string(srcs.size()) +
                          " source(s) used in place"
                    : std::to_string(reads) + " tile reads, " + std::to_string(writes) + " tile writes";
        const CpuTimes cpu = cpuTimes();
        std::printf("%s: streamed %dx%d (height x width) in %.3f s (CPU %.3f s user + %.3f s system), %.1f MPix/s, "
                    "%d thread%s, tiles %dx%d, %s, %.1f MB written and %.1f MB read past the page cache, "
                    "peak resident memory %.1f MB\n",
                    cmd.c_str(), H, W, s, cpu.user - cpu0.user, cpu.system - cpu0.system,
                    s > 0 ? double(int64_t(W) * H) / s / 1e6 : 0.0, nThreads, nThreads == 1 ? "" : "s", opt.tileW,
                    opt.tileH, how.c_str(), double(direct) / (1 << 20), double(report.directReadBytes) / (1 << 20),
                    double(peakResidentBytes()) / (1 << 20));
    }
    return report;
}

// ------------------------------------------------------------ make-huge

void makeHugeImage(const std::string& output, int height, int width, int channels, unsigned depth, bool time) {
    const auto t0 = std::chrono::steady_clock::now();
    FileLayout l;
    std::string err;
    if (!newFileLayout(output, width, height, channels, depth, &l, &err)) throw ToolError(kExitUsage, "make-huge: " + err);
    if (depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U)
        throw ToolError(kExitUsage, "make-huge: --depth must be 8U or 16U");
    const std::string tmp = output + ".part" + std::to_string(::getpid());
    // The store creates the file; rows are then written in order.
    TileStore::Shape shape;
    shape.tileW = shape.tileH = 8;
    shape.cacheBytes = 0;
    std::unique_ptr<TileStore> store = TileStore::create(tmp, l, shape, &err);
    if (!store) throw ToolError(kExitIO, "make-huge: " + replaceAll(err, tmp, output));
    store.reset();
    FILE* f = std::fopen(tmp.c_str(), "r+b");
    if (!f) {
        const std::string why = std::strerror(errno);
        ::unlink(tmp.c_str());
        throw ToolError(kExitIO, "make-huge: cannot write '" + output + "': " + why);
    }
    // The file goes out in writes of 4 MiB at multiples of 4 MiB (the
    // header written again through the same buffer): the page cache then
    // holds it in large blocks, which a streamed run maps at a small
    // fraction of the cost of 4 KiB pages (a 400 MB source mapped and given
    // back band by band: 3 to 6 ms of CPU instead of 50), for as long as
    // the kernel keeps them whole (measured: not an hour).
    std::vector<char> chunk(size_t(4) << 20);
    const std::string head = fileHeaderText(l);
    bool ok = std::setvbuf(f, chunk.data(), _IOFBF, chunk.size()) == 0 &&
              std::fwrite(head.data(), 1, head.size(), f) == head.size();
    std::vector<char> row(size_t(l.rowBytes()));
    const bool progress = stderrIsTerminal();
    auto last = std::chrono::steady_clock::now();
    for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Diagonal gradient, 64-pixel squares and hashed noise.
            uint32_t hsh = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u;
            hsh ^= hsh >> 15;
            hsh *= 0x2C1B3C6Du;
            hsh ^= hsh >> 12;
            const int sq = ((x >> 6) ^ (y >> 6)) & 1;
            for (int c = 0; c < channels; ++c) {
                const int v = ((x + y + c * 85) & 255) / 2 + sq * 96 + int((hsh >> (c * 5)) & 31);
                const int s = std::min(v, 255);
                const size_t i = size_t(x) * channels + c;
                if (depth == VEX_DEPTH_8U) {
                    row[i] = char(s);
                } else {
                    const int w = s * 257;  // big-endian for PGM/PPM, native for raw
                    if (l.swap16) row[2 * i] = char(w >> 8), row[2 * i + 1] = char(w & 255);
                    else {
                        const uint16_t u = uint16_t(w);
                        std::memcpy(&row[2 * i], &u, 2);
                    }
                }
            }
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
        if (progress && secondsSince(last) > 0.25) {
            last = std::chrono::steady_clock::now();
            std::fprintf(stderr, "\rvex make-huge: rows %d/%d   ", y + 1, height);
        }
    }
    if (progress) std::fprintf(stderr, "\n");
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed || std::rename(tmp.c_str(), output.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(tmp.c_str());
        throw ToolError(kExitIO, "make-huge: cannot write '" + output + "': " + why);
    }
    if (time) {
        const double s = secondsSince(t0);
        std::printf("make-huge: %dx%d (height x width) in %.3f s, peak resident memory %.1f MB\n", height, width, s,
                    double(peakResidentBytes()) / (1 << 20));
    }
}

}  // namespace vextool
