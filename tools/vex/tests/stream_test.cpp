// Streamed runs against in-memory runs: the same operation on the same
// pixels, once on an untiled image and once file to file through the tile
// store, must give the same bytes; for every border mode across tile edges,
// tile sizes that do not divide the image, 1 and 2 threads, 8U and 16U, one
// and three channels, rows that can be used in place (width 104) or not
// (width 93), and every way of streaming: untiled windows, small tiles with
// eviction, band tiles (mapped sources), band tiles with mapped writes,
// bands written past the page cache or through it. Also: broken input files
// and unwritable outputs fail in one line and leave nothing under the
// output's name.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imageio.h"
#include "stream.h"
#include "tilestore.h"
#include "vexlib.h"

using namespace vextool;

namespace {

int g_failed = 0, g_checks = 0;

void expect(bool ok, const std::string& what) {
    ++g_checks;
    if (!ok) {
        ++g_failed;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

std::string g_dir;

std::string path(const std::string& name) { return g_dir + "/" + name; }

bool exists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

// No file of the directory starts with `prefix` (no temporary left over).
bool nothingStartingWith(const std::string& prefix) {
    DIR* d = ::opendir(g_dir.c_str());
    bool none = true;
    while (dirent* e = ::readdir(d))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) none = false;
    ::closedir(d);
    return none;
}

int bytesOf(unsigned depth) { return depth == VEX_DEPTH_16U || depth == VEX_DEPTH_16S ? 2 : depth == VEX_DEPTH_32S ? 4 : 1; }

// An untiled image, pixel order, rows aligned to 4 bytes.
VexImage* newImage(int h, int w, int ch, unsigned depth) {
    VexImage* img = vexCreateImageHeader(ch, 0, int(depth), ch == 3 ? "RGB" : "GRAY", ch == 3 ? "RGB" : "GRAY",
                                         VEX_DATA_ORDER_PIXEL, VEX_ORIGIN_TL, 4, h, w, nullptr, nullptr, nullptr);
    vexAllocateImage(img, 0);
    return img;
}

VexImage* randomImage(int h, int w, int ch, unsigned depth, std::mt19937& rng) {
    VexImage* img = newImage(h, w, ch, depth);
    for (int64_t i = 0; i < int64_t(img->dataSize); ++i) img->imageData[i] = char(rng() & 0xff);
    return img;
}

VexImage* cloneOf(const VexImage* s) {
    VexImage* d = newImage(s->height, s->width, s->nChannels, s->depth);
    std::memcpy(d->imageData, s->imageData, size_t(s->dataSize));
    return d;
}

void writeFile(const std::string& p, const std::string& bytes) {
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string readFile(const std::string& p) {
    std::string all;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) all.append(buf, n);
        std::fclose(f);
    }
    return all;
}

// Writes the pixels of `img` as a VEXRAW file.
void writeRaw(const VexImage* img, const std::string& p) {
    FileLayout l;
    std::string err;
    newFileLayout(p, img->width, img->height, img->nChannels, img->depth, &l, &err);
    std::string bytes = fileHeaderText(l);
    for (int y = 0; y < img->height; ++y) bytes.append(img->imageData + int64_t(y) * img->widthStep, size_t(l.rowBytes()));
    writeFile(p, bytes);
}

// Compares the pixel rows of a streamed result with an untiled image.
bool sameAsFile(const VexImage* img, const std::string& p) {
    const std::string all = readFile(p);
    const int64_t row = int64_t(img->width) * img->nChannels * bytesOf(img->depth);
    const int64_t data = row * img->height;
    if (int64_t(all.size()) < data) return false;
    const char* px = all.data() + (int64_t(all.size()) - data);
    for (int y = 0; y < img->height; ++y)
        if (std::memcmp(px + y * row, img->imageData + int64_t(y) * img->widthStep, size_t(row)) != 0) return false;
    return true;
}

// A run of a job: its report, or the failure's message and exit code.
struct Outcome {
    StreamReport report;
    std::string error;
    int code = 0;
};
Outcome run(const StreamJob& job, const StreamOptions& opt) {
    Outcome o;
    try {
        o.report = runStream(job, opt);
    } catch (const ToolError& e) {
        o.error = e.what(), o.code = e.code;
    }
    return o;
}

struct Op {
    const char* name;
    int mirror;  // 2: not a mirror
    int reach;   // source rows above and below a pixel that it reads
    std::function<void(VexImage* src, VexImage* dst)> fn;
};

enum class Path { Windows, Tiles, BandTiles, MappedWrites };
const char* const kPathNames[] = {"windows", "tiles", "band tiles", "mapped writes"};

void runCase(const Op& op, const VexImage* in, int mode, int tw, int th, int threads, const StreamRegion& region,
             Path way) {
    const std::string src = path("in.vxr"), out = path("out.vxr");
    writeRaw(in, src);
    // In memory: the source with the border mode, the destination a copy.
    VexImage* s = cloneOf(in);
    VexImage* d = cloneOf(in);
    vexSetBorderMode(s, mode, VEX_SIDE_ALL, 77);
    if (region.hasRect || region.coi) {
        s->roi = vexCreateROI(region.coi, region.x, region.y, region.h, region.w);
        d->roi = vexCreateROI(region.coi, region.x, region.y, region.h, region.w);
    }
    vexSetErrStatus(VEX_StsOk);
    op.fn(s, d);
    const bool memOk = vexGetErrStatus() >= 0;
    // Streamed.
    StreamJob job;
    job.name = op.name;
    job.inputs = {src};
    job.output = out;
    job.src = job.dst = region;
    job.mirrorAxis = op.mirror;
    // A wrapping border reads the far end of the image: no reach.
    job.reach = way == Path::Windows && mode != VEX_BORDER_WRAP ? op.reach : -1;
    job.run = [&](const std::vector<VexImage*>& ss, VexImage* dd, const StreamPiece&) {
        vexSetBorderMode(ss[0], mode, VEX_SIDE_ALL, 77);
        op.fn(ss[0], dd);
    };
    StreamOptions opt;
    opt.tileW = tw, opt.tileH = th, opt.threads = threads;
    // Tiles: a few tiles in the cache, so eviction and write-back happen.
    opt.cacheBytes = way == Path::Tiles ? 1 << 16 : 1 << 22;
    opt.bands = way != Path::Tiles;
    opt.mapWrites = way == Path::MappedWrites;
    const Outcome o = run(job, opt);
    const std::string& error = o.error;
    const StreamReport& report = o.report;
    char what[200];
    std::snprintf(what, sizeof what, "%s %dx%dx%d depth %u border %d tiles %dx%d threads %d roi %d, %s", op.name,
                  in->height, in->width, in->nChannels, in->depth, mode, tw, th, threads, int(region.hasRect),
                  kPathNames[int(way)]);
    expect(memOk && error.empty(), std::string(what) + ": " + error);
    // Windows are used when asked for; rows 104 pixels wide are used in
    // place, rows of 93 (not a multiple of 4 bytes) are copied.
    expect(report.windows == (job.reach >= 0), std::string(what) + ": windows not as asked");
    expect(report.inPlace == (job.reach >= 0 && in->width % 4 == 0 ? 1 : 0),
           std::string(what) + ": rows in place " + std::to_string(report.inPlace));
    expect(error.empty() && sameAsFile(d, out), std::string(what) + ": streamed bytes differ from in-memory");
    vexDeallocate(s, VEX_IMAGE_ALL);
    vexDeallocate(d, VEX_IMAGE_ALL);
}

// A job of one input file whose pieces `run` computes.
StreamJob oneInputJob(const char* name, const std::string& input, const std::string& output, int reach,
                      decltype(StreamJob::run) run) {
    StreamJob job;
    job.name = name;
    job.inputs = {input};
    job.output = output;
    job.reach = reach;
    job.run = std::move(run);
    return job;
}

StreamJob copyJob(const std::string& input, const std::string& output) {
    return oneInputJob("copy", input, output, -1,
                       [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) { vexCopy(s[0], d, nullptr); });
}

// Runs a job that must fail with `code` and a one-line message holding
// `needle` (equal to it with `exact`); no output is created under the
// final name (one there before stays) and no temporary is left.
void expectFailure(const std::string& what, const StreamJob& job, const std::string& needle, int code,
                   bool exact = false, int threads = 1) {
    StreamOptions opt;
    opt.tileW = opt.tileH = 16, opt.threads = threads;
    const bool existed = exists(job.output);
    const Outcome o = run(job, opt);
    const std::string& msg = o.error;
    expect(o.code == code, what + ": exit code " + std::to_string(o.code) + " (" + msg + ")");
    expect(exact ? msg == needle : msg.find(needle) != std::string::npos,
           what + ": message '" + msg + "' lacks '" + needle + "'");
    expect(msg.find('\n') == std::string::npos, what + ": the message is one line");
    expect(existed || !exists(job.output), what + ": an output was created");
    const std::string base = job.output.substr(job.output.rfind('/') + 1);
    expect(nothingStartingWith(base + ".part"), what + ": a temporary file was left");
}

// The test directory's file system takes O_DIRECT.
bool directWorksHere() {
    const int probe = ::open(path("probe").c_str(), O_WRONLY | O_CREAT | O_DIRECT, 0644);
    if (probe >= 0) ::close(probe);
    return probe >= 0;
}

// Takes a file out of the page cache; false if it could not.
bool evict(const std::string& p) {
    const int fd = ::open(p.c_str(), O_RDONLY);
    const bool ok = fd >= 0 && ::fsync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

// The share of a file's pages in the page cache (-1 if unknown).
double cachedShare(const std::string& p) {
    const int fd = ::open(p.c_str(), O_RDONLY);
    const off_t size = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : 0;
    void* m = size > 0 ? ::mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (fd >= 0) ::close(fd);
    if (m == MAP_FAILED) return -1;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE)), pages = (size_t(size) + page - 1) / page;
    std::vector<unsigned char> in(pages);
    double share = -1;
    if (::mincore(m, size_t(size), in.data()) == 0) {
        size_t n = 0;
        for (unsigned char c : in) n += c & 1;
        share = double(n) / double(pages);
    }
    ::munmap(m, size_t(size));
    return share;
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/vex-stream-test-XXXXXX";
    if (!::mkdtemp(tmpl)) return 2;
    g_dir = tmpl;
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(vexNulDevReport);
    std::mt19937 rng(12345);

    const std::vector<Op> ops = {
        {"blur", 2, 5, [](VexImage* s, VexImage* d) { vexBlur(s, d, 5, 5, 2, 2); }},
        {"blur-anchor", 2, 3, [](VexImage* s, VexImage* d) { vexBlur(s, d, 3, 7, 0, 2); }},
        {"median", 2, 5, [](VexImage* s, VexImage* d) { vexMedianFilter(s, d, 5, 3, 1, 2, nullptr); }},
        {"max", 2, 3, [](VexImage* s, VexImage* d) { vexMaxFilter(s, d, 3, 3, 1, 1, nullptr); }},
        {"threshold", 2, 0, [](VexImage* s, VexImage* d) { vexThreshold(s, d, 100, nullptr); }},
        {"adds", 2, 0, [](VexImage* s, VexImage* d) { vexAddS(s, d, 40, nullptr); }},
        {"mirror0", 0, 0, [](VexImage* s, VexImage* d) { vexMirror(s, d, 0, nullptr); }},
        {"mirror1", 1, 0, [](VexImage* s, VexImage* d) { vexMirror(s, d, 1, nullptr); }},
        {"mirror-1", -1, 0, [](VexImage* s, VexImage* d) { vexMirror(s, d, -1, nullptr); }},
    };
    const int tiles[][2] = {{8, 8}, {24, 40}, {56, 16}, {512, 512}};
    StreamRegion whole;
    StreamRegion roi;
    roi.hasRect = true, roi.x = 13, roi.y = 7, roi.w = 61, roi.h = 40;
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_16U})
        for (int ch : {1, 3})
            for (const auto& size : {std::make_pair(71, 93), std::make_pair(45, 104)}) {
                VexImage* in = randomImage(size.first, size.second, ch, depth, rng);
                for (const Op& op : ops)
                    for (int mode = 0; mode < 4; ++mode)
                        for (const auto& t : tiles)
                            for (int threads : {1, 2})
                                for (Path path : {Path::Windows, Path::Tiles, Path::BandTiles, Path::MappedWrites}) {
                                    const bool filter = op.reach > 0;
                                    if (!filter && mode > 0) continue;  // border modes matter to the filters only
                                    if (threads == 1 && (path == Path::BandTiles || path == Path::MappedWrites)) continue;
                                    runCase(op, in, mode, t[0], t[1], threads, whole, path);
                                    if (mode == 2 && threads == 2) runCase(op, in, mode, t[0], t[1], threads, roi, path);
                                }
                vexDeallocate(in, VEX_IMAGE_ALL);
            }

    // A 16-bit PGM streamed to PGM keeps its big-endian samples, through
    // tiles and through (copied) windows.
    for (int reach : {-1, 0}) {
        const std::string p = path("wide.pgm"), q = path("wide-out.pgm");
        writeFile(p, std::string("P5\n# a comment\n3 2\n65535\n") + std::string("\0\3\1\0\xff\xfe\0\0\x12\x34\xff\xff", 12));
        const StreamJob job = oneInputJob("addS", p, q, reach, [](const std::vector<VexImage*>& s, VexImage* d,
                                                                   const StreamPiece&) { vexAddS(s[0], d, 1, nullptr); });
        StreamOptions opt;
        opt.tileW = opt.tileH = 8;
        runStream(job, opt);
        expect(readFile(q) == std::string("P5\n3 2\n65535\n") + std::string("\0\4\1\1\xff\xff\0\1\x12\x35\xff\xff", 12),
               "16-bit PGM: big-endian samples read and written, reach " + std::to_string(reach));
    }

    // Bands long enough for whole pages in their middle: written past the
    // page cache where the file system takes O_DIRECT (the partial pages at
    // band ends through it), and read past it from a source that is not in
    // the page cache; the same bytes either way. A PGM header puts
    // the rows at an odd offset; the 16-bit raw rows are swapped in place.
    {
        const bool directHere = directWorksHere();
        struct Shape {
            const char* out;
            int ch;
            unsigned depth;
        };
        // Refused: direct transfers asked for, but the file system refuses
        // each (simulated): the page cache takes over, same bytes.
        enum Way { kDirect, kBuffered, kRefused };
        for (const Shape& sh : {Shape{"long.pgm", 1, VEX_DEPTH_8U}, Shape{"long.vxr", 3, VEX_DEPTH_16U}})
            for (int threads : {1, 3})
                for (Way way : {kDirect, kBuffered, kRefused}) {
                    const bool direct = way == kDirect;
                    VexImage* in = randomImage(301, 1000, sh.ch, sh.depth, rng);
                    const std::string src = path("long-in.vxr"), out = path(sh.out);
                    writeRaw(in, src);
                    // The source leaves the page cache: read past it too.
                    const bool evicted = evict(src);
                    VexImage* want = cloneOf(in);
                    vexBlur(in, want, 5, 3, 2, 1);
                    vexThreshold(want, want, 100, nullptr);
                    const StreamJob job = oneInputJob("blur", src, out, 5,
                                                      [](const std::vector<VexImage*>& ss, VexImage* dd, const StreamPiece&) {
                                                          vexBlur(ss[0], dd, 5, 3, 2, 1);
                                                          vexThreshold(dd, dd, 100, nullptr);
                                                      });
                    StreamOptions opt;
                    opt.tileW = 64, opt.tileH = 24;
                    opt.threads = threads;
                    opt.directWrites = opt.directReads = way != kBuffered;
                    TileStore::refuseDirectTransfers(way == kRefused);
                    const Outcome o = run(job, opt);
                    TileStore::refuseDirectTransfers(false);
                    const std::string& error = o.error;
                    const StreamReport& report = o.report;
                    const char* const wayName[] = {" direct", " buffered", " direct refused"};
                    const std::string what = std::string(sh.out) + " threads " + std::to_string(threads) + wayName[way] + ": ";
                    expect(error.empty() && sameAsFile(want, out), what + "streamed bytes differ from in-memory " + error);
                    expect(direct && directHere ? report.directBytes > 0 : report.directBytes == 0,
                           what + std::to_string(report.directBytes) + " bytes written directly");
                    expect(direct && directHere && evicted ? report.directReadBytes > 0 && report.inPlace == 0
                                                           : report.directReadBytes == 0,
                           what + std::to_string(report.directReadBytes) + " bytes read directly");
                    if (way == kRefused && directHere && evicted)
                        expect(report.inPlace == 0, what + "a source read past the page cache was mapped instead");
                    vexDeallocate(in, VEX_IMAGE_ALL);
                    vexDeallocate(want, VEX_IMAGE_ALL);
                }
    }

    // A source partly in the page cache: used in place when most of its
    // pages are there, else read past the page cache; the same bytes either
    // way. The file has more pages than the store looks at, and the part in
    // the page cache is its first quarter or all but its first quarter.
    {
        VexImage* in = randomImage(3000, 1000, 3, VEX_DEPTH_8U, rng);
        const std::string src = path("part-in.vxr"), out = path("part-out.vxr");
        writeRaw(in, src);
        VexImage* want = cloneOf(in);
        vexBlur(in, want, 3, 3, 1, 1);
        for (bool most : {false, true}) {
            bool evicted = evict(src);
            const int fd = ::open(src.c_str(), O_RDONLY);
            const off_t size = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : 0;
            const off_t a = most ? size / 4 : 0, b = most ? size : size / 4;
            std::vector<char> buf(size_t(b - a));
            evicted = evicted && fd >= 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM) == 0 &&
                      ::pread(fd, buf.data(), buf.size(), a) == ssize_t(buf.size());
            if (fd >= 0) ::close(fd);
            const double share = cachedShare(src);
            const StreamJob job = oneInputJob("blur", src, out, 3,
                                              [](const std::vector<VexImage*>& ss, VexImage* dd, const StreamPiece&) {
                                                  vexBlur(ss[0], dd, 3, 3, 1, 1);
                                              });
            StreamOptions opt;
            opt.tileW = 64, opt.tileH = 24;
            const Outcome o = run(job, opt);
            const std::string what = std::string("source ") + std::to_string(int(share * 100)) + " % in the page cache: ";
            expect(o.error.empty() && sameAsFile(want, out), what + "streamed bytes differ from in-memory " + o.error);
            if (evicted && (share < 0.4 || share > 0.6))
                expect(o.report.inPlace == (share > 0.5 || !directWorksHere() ? 1 : 0),
                       what + "used in place: " + std::to_string(o.report.inPlace));
        }
        vexDeallocate(in, VEX_IMAGE_ALL);
        vexDeallocate(want, VEX_IMAGE_ALL);
    }

    // A source cut short while it is streamed (after it was opened): the
    // rows beyond its new end are reported as such, whichever way they are
    // read. Through the mapping they must not even be touched (the process
    // would die of SIGBUS).
    {
        struct Case {
            const char* name;
            int width, reach;
            bool bands, evict;
        };
        for (const Case& c : {Case{"in place", 1000, 5, true, false}, Case{"copied rows", 999, 5, true, false},
                              Case{"read directly", 1000, 5, true, true}, Case{"tiles", 1000, -1, false, false},
                              Case{"band tiles", 1000, -1, true, false}}) {
            VexImage* in = randomImage(301, c.width, 1, VEX_DEPTH_8U, rng);
            const std::string src = path("shrinking.vxr");
            writeRaw(in, src);
            vexDeallocate(in, VEX_IMAGE_ALL);
            if (c.evict) evict(src);
            FileLayout l;
            std::string err;
            newFileLayout(src, c.width, 301, 1, VEX_DEPTH_8U, &l, &err);
            bool cut = false;
            const StreamJob job = oneInputJob(
                "blur", src, path("shrunk-out.vxr"), c.reach,
                [&](const std::vector<VexImage*>& ss, VexImage* dd, const StreamPiece&) {
                    // The first piece cuts the file at the page boundary
                    // before row 90: inside the page-aligned middle of a
                    // band's rows (read past the page cache, the read ends
                    // there).
                    if (!cut) cut = ::truncate(src.c_str(), off_t((l.dataOffset + 90 * l.rowBytes()) / 4096 * 4096)) == 0;
                    vexBlur(ss[0], dd, 5, 5, 2, 2);
                });
            StreamOptions opt;
            opt.tileW = 64, opt.tileH = 24;
            opt.bands = c.bands;
            const Outcome o = run(job, opt);
            const std::string what = std::string("cut short while read, ") + c.name;
            expect(cut, what + ": the file was not cut");
            expect(o.code == kExitIO && o.error == "blur: '" + src + "' is cut short",
                   what + ": " + std::to_string(o.code) + " " + o.error);
            expect(!exists(job.output), what + ": an output was left");
        }
    }

    // Broken inputs and unwritable outputs.
    {
        VexImage* in = randomImage(40, 50, 1, VEX_DEPTH_8U, rng);
        writeRaw(in, path("good.vxr"));
        vexDeallocate(in, VEX_IMAGE_ALL);
        const std::string good = readFile(path("good.vxr"));
        writeFile(path("short.vxr"), good.substr(0, good.size() - 100));  // cut short
        writeFile(path("bad.pgm"), "P5\n50 forty\n255\n");
        writeFile(path("depth.vxr"), "VEXRAW 4 4 1 12U\n");
        writeFile(path("keep.vxr"), "old");
        ::mkdir(path("isdir.vxr").c_str(), 0755);  // the rename fails, the temporary goes
        expectFailure("cut short", copyJob(path("short.vxr"), path("o1.vxr")), "is cut short", kExitIO);
        expectFailure("bad header", copyJob(path("bad.pgm"), path("o2.pgm")), "has a bad header", kExitIO);
        expectFailure("bad depth", copyJob(path("depth.vxr"), path("o3.vxr")), "unknown depth '12U'", kExitIO);
        expectFailure("not an image", copyJob(path("o4.vxr"), path("o5.vxr")), "cannot open", kExitIO);
        expectFailure("missing directory", copyJob(path("good.vxr"), path("nodir/out.vxr")),
                      "No such file or directory", kExitIO);
        expectFailure("output is a directory", copyJob(path("good.vxr"), path("isdir.vxr")), "cannot write", kExitIO);
        expectFailure("failed run over an existing file", copyJob(path("short.vxr"), path("keep.vxr")), "cut short",
                      kExitIO);
        expect(readFile(path("keep.vxr")) == "old", "failed run: the old output is untouched");
        expectFailure("shape the format cannot hold", copyJob(path("good.vxr"), path("o6.ppm")), "holds 3 channel",
                      kExitUsage);
        // A library failure on a worker thread is that thread's report, and
        // leaves the main thread's status alone.
        StreamJob job = copyJob(path("good.vxr"), path("o7.vxr"));
        job.name = "blur";
        job.run = [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) { vexBlur(s[0], d, 3, 3, -1, 1); };
        expectFailure("worker failure", job, "vexBlur: Bad argument: (anchorX<0||anchorY<0)", kExitLibrary, true, 2);
        expect(vexGetErrStatus() >= 0, "worker failures leave the main thread's status alone");
        // A wrapping top border with a declared reach: refused.
        job.output = path("o8.vxr");
        job.reach = 3;
        job.run = [](const std::vector<VexImage*>& s, VexImage* d, const StreamPiece&) {
            vexSetBorderMode(s[0], VEX_BORDER_WRAP, VEX_SIDE_TOP, 0);
            vexBlur(s[0], d, 3, 3, 1, 1);
        };
        expectFailure("wrapping border through windows", job,
                      "blur: a wrapping top or bottom border needs the whole image (give the job no reach)", kExitUsage,
                      true, 2);
    }

    std::string cleanup = "rm -rf '" + g_dir + "'";
    if (std::system(cleanup.c_str()) != 0) std::printf("note: could not remove %s\n", g_dir.c_str());
    std::printf("%d checks, %d failed\n", g_checks, g_failed);
    return g_failed ? 1 : 0;
}
