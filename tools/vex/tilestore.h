// A tile store: an image file of any size seen by the library as a tiled
// VexImage. The library's tile callback gets tiles from the store (modes 1
// and 2) and hands them back (mode 4); the store reads tile rows out of the
// file with pread, keeps a bounded cache of tiles (least recently used
// first out), and writes a tile that was got for writing back to the file
// when it leaves the cache or at flush().
//
// Files: binary PGM (P5) and PPM (P6) of 8 or 16 bits (16-bit samples are
// big-endian in the file, native in the tiles), and the tool's raw format,
// a one-line text header followed by the pixels row after row, pixel order,
// native byte order, no row padding:
//     VEXRAW <width> <height> <channels> <depth>\n       (depth 8U 8S 16U 16S 32S)
//
// Band layout: tiles as wide as the image (the tile width rounded up to a
// multiple of 8). When such a tile's rows are the file's rows (8-bit
// samples, or wider ones at an aligned offset, native byte order, and the
// tile row stride equal to the file's row length), a source tile is a
// pointer into a read-only mapping of the file: nothing is copied, and a
// tile that leaves the cache gives its pages back (MADV_DONTNEED), so the
// resident size stays within the cache bound. A destination band is written
// back with one pwrite of whole rows, or, with mapped writes, is a pointer
// into a shared writable mapping of the pre-allocated file. With direct
// writes, the page-aligned middle of such a write goes from the caller's
// buffer to the disk (O_DIRECT) instead of through the page cache: copying
// into the page cache is most of the kernel's time otherwise.
//
// The store may be used by several threads at once: one lock guards the
// cache and the file (reads and writes of one store are serialised).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <string>
#include <unordered_map>
#include <vector>

#include "vexlib.h"

namespace vextool {

// "8U", "16U", ... for a depth code; "?" for any other number.
const char* depthName(unsigned depth);

enum class FileFormat { Raw, Pgm, Ppm };

// Where the pixels of an image file lie.
struct FileLayout {
    FileFormat format = FileFormat::Raw;
    int width = 0, height = 0, channels = 1;
    unsigned depth = VEX_DEPTH_8U;
    int maxval = 255;        // PGM/PPM only
    int64_t dataOffset = 0;  // first pixel byte
    int sampleBytes = 1;
    bool swap16 = false;     // 16-bit samples stored big-endian
    int64_t rowBytes() const { return int64_t(width) * channels * sampleBytes; }
    int64_t dataBytes() const { return rowBytes() * height; }
};

// Reads the header of an image file; on failure returns false and a
// one-line reason in *err.
bool readFileLayout(int fd, const std::string& path, FileLayout* out, std::string* err);
// A layout for a new file; the format from the name (.pgm, .ppm, else raw).
// False with a reason when the format cannot hold the shape.
bool newFileLayout(const std::string& path, int width, int height, int channels, unsigned depth,
                   FileLayout* out, std::string* err);
// The header text of a layout (dataOffset is its length).
std::string fileHeaderText(const FileLayout& l);
// Byte order change of n 16-bit samples.
void swapBytes16(char* p, int64_t n);

class TileStore {
 public:
    ~TileStore();
    TileStore(const TileStore&) = delete;
    TileStore& operator=(const TileStore&) = delete;

    // How the file is cut into tiles: tiles of tileW x tileH, or with
    // `bands` tiles of the image's width (rounded up to a multiple of 8) and
    // tileH rows when such a band takes at most a quarter of the cache.
    // `mapWrites`: a new file's band tiles are pointers into a shared
    // mapping of the file (pre-allocated) instead of buffers written back.
    struct Shape {
        int tileW = 512, tileH = 512;
        int64_t cacheBytes = int64_t(128) << 20;
        bool bands = false;      // also: map a source whose rows can be used in place
        bool mapWrites = false;
        // A new file's whole-row writes bypass the page cache where they
        // can (see writeRows); silently off where the file system refuses.
        bool directWrites = false;
        // A source mostly not in the page cache is not mapped; its rows are
        // read past the page cache where they can (see readRows). Filling
        // the page cache costs more CPU time than the reads themselves.
        bool directReads = false;
    };
    // Buffers for readRows/writeRows are best placed at the offset of their
    // first byte in the file modulo kIoAlign: the kernel then copies between
    // equally aligned addresses, and direct writes need page-aligned memory.
    static constexpr int64_t kIoAlign = 4096;
    // Opens an existing file for reading.
    static std::unique_ptr<TileStore> openRead(const std::string& path, const Shape& shape, std::string* err);
    // Creates `path` (truncating it) with the layout's header and room for
    // its pixels, which start at zero.
    static std::unique_ptr<TileStore> create(const std::string& path, FileLayout layout, const Shape& shape,
                                             std::string* err);

    const FileLayout& layout() const { return layout_; }
    int tileW() const { return tileW_; }
    int tileH() const { return tileH_; }
    int tilesX() const { return tilesX_; }
    int tilesY() const { return tilesY_; }
    int64_t tileBytes() const { return tileStep_ * tileH_; }
    int64_t tileStep() const { return tileStep_; }

    // A tile buffer, held until release(); null when the file could not be
    // read (error() says why). `write`: the caller will change it.
    char* acquire(int tx, int ty, bool write);
    void release(int tx, int ty, const char* data);
    // Writes every changed tile back and syncs nothing else; false on an
    // I/O error.
    bool flush();
    // Tile row ty will not be used again: its changed tiles are written back
    // now (whole rows) and its tiles leave the cache. False on an I/O error.
    bool retireRow(int ty);
    // Every pixel of a new file will be written before its tile is released:
    // tiles never written need not be cleared first.
    void setWholeWrite(bool on) { wholeWrite_ = on; }
    // The file is mapped and its rows can be used in place.
    bool mapped() const { return mapping_ != nullptr; }

    // Whole rows, for callers that hand the library untiled windows of the
    // file. The library's row stride of the image's width (align 4):
    int64_t windowStep() const { return (layout_.rowBytes() + 3) / 4 * 4; }
    // Where row y starts in the file.
    int64_t rowOffset(int64_t y) const { return layout_.dataOffset + y * layout_.rowBytes(); }
    // Row y inside the mapping (rows y.. follow at windowStep()), or null
    // when the file is not mapped.
    char* rowsInPlace(int64_t y) const;
    // Copies `rows` rows from row y on into `data` (row stride windowStep())
    // in native byte order (the page-aligned middle of a whole-row read
    // straight from the disk for a store reading directly, when `data` is
    // placed as kIoAlign says); false on an I/O error (error() says why).
    bool readRows(int64_t y, int rows, char* data);
    // Writes `rows` rows of `data` (row stride windowStep()) to the file
    // from row y on, in one write when the strides agree (its page-aligned
    // middle direct to the disk, when the store writes directly and `data`
    // is placed as kIoAlign says). Byte-swapped formats swap `data` in
    // place. False on an I/O error.
    bool writeRows(int64_t y, int rows, char* data);
    // Rows [y0, y1) of the mapping are about to be read (they are mapped
    // now), and `ahead` rows after them next (read from the disk meanwhile).
    // False when the rows cannot be had (error() says why: the file has
    // been cut short since it was opened, or cannot be read): they must not
    // be touched.
    bool willReadRows(int64_t y0, int64_t y1, int64_t ahead);
    // Rows [y0, y1) of the mapping are not needed now: their pages leave
    // the resident set (they are read again from the page cache if used).
    void dropRows(int64_t y0, int64_t y1);
    // The first I/O failure, or "".
    std::string error() const;
    bool failed() const;

    // For tests: from now on every transfer past the page cache is refused
    // the way a file system without O_DIRECT refuses it (EINVAL), so that
    // the way back to the page cache can be checked where O_DIRECT works.
    static void refuseDirectTransfers(bool on);

    // Copies the pixel bytes of `from` (same layout) into this store's file.
    bool copyPixelsFrom(const TileStore& from);

    // A tiled header over this store with its own tiling record (one per
    // thread: the library writes tileData and swaps roi during a call).
    // Free with freeHeader().
    VexImage* newHeader() const;
    static void freeHeader(VexImage* image);

    // Counters for reports.
    int64_t tileReads() const { return reads_; }
    int64_t tileWrites() const { return writes_; }
    int64_t peakTiles() const { return peakTiles_; }
    // Bytes read or written past the page cache so far.
    int64_t directBytes() const { return directBytes_; }

 private:
    TileStore() = default;
    struct Entry {
        int tx = 0, ty = 0;
        char* data = nullptr;
        int pins = 0;
        bool dirty = false;
        bool inMap = false;  // data points into the mapping
        std::list<Entry*>::iterator lru;  // valid when pins == 0
    };
    int64_t key(int tx, int ty) const { return int64_t(ty) * tilesX_ + tx; }
    bool readTile(Entry* e);
    bool readRun(const std::vector<Entry*>& run);
    bool writeRun(int ty, int tx0, int tx1);
    bool evictOne();
    void drop(Entry* e);
    void fail(const std::string& what);
    char* newBuffer();
    void setShape(const Shape& shape);
    bool mapFile(bool write);
    void dropRange(const char* a, const char* b);
    char* mappedTile(int ty) const;
    bool transferRows(int64_t y, int rows, char* data, bool write);
    void swapRows(char* data, int rows) const;
    bool transferSpan(char* p, int64_t n, int64_t off, bool write);
    bool populate(const char* a, const char* b, const char* c) const;
    void mappedReadFailed();  // records why pages of the mapping could not be had
    double residentShare() const;  // of the mapped file's pages in the page cache (sampled)

    std::string path_;
    int fd_ = -1;
    int directFd_ = -1;                  // the file opened with O_DIRECT, or -1
    std::atomic<bool> directOk_{false};  // off for good after the first refusal
    std::atomic<int64_t> directBytes_{0};
    bool writable_ = false;
    bool fresh_ = false;  // created here: tiles never written read as zeros
    bool wholeWrite_ = false;
    char* mapping_ = nullptr;  // the whole file, when tiles point into it
    int64_t mapLen_ = 0;
    FileLayout layout_;
    int tileW_ = 0, tileH_ = 0, tilesX_ = 0, tilesY_ = 0;
    int64_t tileStep_ = 0;
    size_t capacity_ = 0;  // tiles kept when unpinned
    int id_ = -1;
    mutable std::mutex mu_;
    std::unordered_map<int64_t, Entry*> map_;
    std::list<Entry*> lru_;  // unpinned entries, least recent first
    std::vector<char*> spare_;
    std::vector<uint8_t> written_;  // fresh files: tile ever written
    std::vector<char> rowBuf_;
    std::string error_;
    int64_t reads_ = 0, writes_ = 0, peakTiles_ = 0;
};

// The callback the library calls for every store-backed header.
void tileStoreCallback(const VexImage* image, int xIndex, int yIndex, int mode);

}  // namespace vextool
