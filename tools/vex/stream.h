// Streamed runs of vex operations: images of any size, read and written
// through tile stores (tilestore.h) tile by tile, on one or more threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vexlib.h"

namespace vextool {

// How a run is cut and carried out.
struct StreamOptions {
    int tileW = 512, tileH = 512;  // multiples of 8
    int threads = 1;
    int64_t cacheBytes = int64_t(128) << 20;  // tiles kept, over all stores
    // The files are read and written in bands of the image's width and the
    // tile height (the library is still called once per tile); sources
    // whose rows can be used in place are mapped, not read.
    bool bands = true;
    // Jobs with a known reach run on untiled windows (see StreamJob::reach);
    // off: always through the tile callback.
    bool windows = true;
    // Destination bands are pointers into a shared mapping of the new file
    // (when its rows allow) instead of buffers written back with pwrite.
    bool mapWrites = false;
    // The page-aligned middle of each written band goes to the disk with
    // O_DIRECT, past the page cache (where the file system allows).
    bool directWrites = true;
    // Sources mostly not in the page cache are read the same way instead of
    // being mapped.
    bool directReads = true;
    bool time = false;                        // print time, throughput, peak memory
};

// Parses "WxH" (tile width x height, positive multiples of 8); throws
// ToolError(kExitUsage) naming `cmd` otherwise.
// The lines of a report's text (the header check pads each one with blanks)
// joined into one line, "; " between them.
std::string oneLine(const char* text);

void parseTileSize(const std::string& cmd, const std::string& text, int* w, int* h);

// A user's region of one side: an optional rectangle and a channel.
struct StreamRegion {
    bool hasRect = false;
    int x = 0, y = 0, w = 0, h = 0;
    int coi = 0;
};

// One destination piece: a rectangle inside one destination tile (through
// the tile callback) or a band's whole working width (through untiled
// windows; tx is then the band's first tile), and where the matching source
// rectangle starts.
struct StreamPiece {
    int tx = 0, ty = 0;        // destination tile
    int x = 0, y = 0, w = 0, h = 0;  // destination rectangle
    int sx = 0, sy = 0;        // source rectangle origin (same size)
};

struct StreamJob {
    std::string name;                 // command name, for messages
    std::vector<std::string> inputs;  // source files
    std::string output;               // destination file (written under a temporary name, then renamed)
    std::string base;                 // file the destination starts from ("" = the first input)
    int dstChannels = 0;              // 0: as the first input
    unsigned dstDepth = 0;            // 0: as the first input
    StreamRegion src, dst;
    int mirrorAxis = 2;  // 0, 1 or -1: the source rectangle of a piece is mirrored within the region
    // Set the pieces' ROIs on the headers (region-restricted operations);
    // otherwise the headers keep no ROI (or only a channel of interest) and
    // `run` restricts itself to piece.tx, piece.ty (tile selector or mapping).
    bool roiPieces = true;
    // Source rows above and below a destination pixel that the operation
    // reads: 0 for pixel-wise operations and mirrors, the window or kernel
    // height (or more) for filters; -1 when unknown, and for filters that set
    // a wrapping top or bottom border (it reads the far end of the image:
    // such a run stops with a usage error). Known, the library gets
    // untiled windows of the files (band plus these rows, clipped to the
    // image): rows in place in a mapping, or copied; unknown, it reads the
    // files through the tile callback.
    int reach = -1;
    // Computes one piece on this thread's headers. Failures go through the
    // library's error context of the calling thread.
    std::function<void(const std::vector<VexImage*>& src, VexImage* dst, const StreamPiece& piece)> run;
};

// How a run went, for reports and tests.
struct StreamReport {
    bool windows = false;  // the library got untiled windows (else tiles)
    int inPlace = 0;       // sources used in place through a mapping
    int64_t directBytes = 0;      // destination bytes written past the page cache
    int64_t directReadBytes = 0;  // source bytes read past it
};

// Runs a job; throws ToolError with a one-line message on failure (the
// destination file is then left as it was).
StreamReport runStream(const StreamJob& job, const StreamOptions& opt);

// Writes a synthetic test image of any size row by row (a pattern of
// gradients, squares and noise). `output` picks the format as for streamed
// results (.pgm, .ppm, else raw).
void makeHugeImage(const std::string& output, int height, int width, int channels, unsigned depth,
                   bool time);

// Peak resident memory of the process so far, in bytes (getrusage).
int64_t peakResidentBytes();
// User and system time of the process so far, in seconds (getrusage).
struct CpuTimes {
    double user = 0, system = 0;
    double total() const { return user + system; }
};
CpuTimes cpuTimes();
double cpuSeconds();

}  // namespace vextool
