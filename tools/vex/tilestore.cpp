// The tile store behind streamed vex runs (see tilestore.h).
#include "tilestore.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace vextool {

const char* depthName(unsigned depth) {
    switch (depth) {
        case VEX_DEPTH_1U: return "1U";
        case VEX_DEPTH_8U: return "8U";
        case VEX_DEPTH_8S: return "8S";
        case VEX_DEPTH_16U: return "16U";
        case VEX_DEPTH_16S: return "16S";
        case VEX_DEPTH_32S: return "32S";
        default: return "?";
    }
}

namespace {

// ------------------------------------------------------------ registry

// The tiling record's id names the store (the library never reads it).
std::mutex g_registryMu;
std::vector<TileStore*> g_registry;

int registerStore(TileStore* s) {
    std::lock_guard<std::mutex> lock(g_registryMu);
    for (size_t i = 0; i < g_registry.size(); ++i)
        if (!g_registry[i]) {
            g_registry[i] = s;
            return int(i);
        }
    g_registry.push_back(s);
    return int(g_registry.size() - 1);
}

void unregisterStore(int id) {
    std::lock_guard<std::mutex> lock(g_registryMu);
    if (id >= 0 && size_t(id) < g_registry.size()) g_registry[size_t(id)] = nullptr;
}

TileStore* findStore(int id) {
    std::lock_guard<std::mutex> lock(g_registryMu);
    return id >= 0 && size_t(id) < g_registry.size() ? g_registry[size_t(id)] : nullptr;
}

// ------------------------------------------------------------ file I/O

std::atomic<bool> g_refuseDirect{false};  // see TileStore::refuseDirectTransfers

// Whole-range pread/pwrite; false with errno (0 for a short file).
bool readAll(int fd, char* p, int64_t n, int64_t off) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, size_t(n), off);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        p += got, n -= got, off += got;
    }
    return true;
}

bool writeAll(int fd, const char* p, int64_t n, int64_t off) {
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, p, size_t(n), off);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put, n -= put, off += put;
    }
    return true;
}

// The same for scattered buffers (one image row spread over the tiles of a
// run): preadv/pwritev, continued after a partial transfer.
bool transferVec(int fd, std::vector<iovec>& v, int64_t off, bool write) {
    size_t first = 0;
    while (first < v.size()) {
        const int n = int(std::min<size_t>(v.size() - first, 1024));
        const ssize_t got = write ? ::pwritev(fd, v.data() + first, n, off) : ::preadv(fd, v.data() + first, n, off);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = write ? EIO : 0;
            return false;
        }
        off += got;
        size_t left = size_t(got);
        while (first < v.size() && left >= v[first].iov_len) left -= v[first++].iov_len;
        if (left) {
            v[first].iov_base = static_cast<char*>(v[first].iov_base) + left;
            v[first].iov_len -= left;
        }
    }
    return true;
}

std::string ioText(const char* verb, const std::string& path) {
    if (errno == 0) return "'" + path + "' is cut short";
    return std::string("cannot ") + verb + " '" + path + "': " + std::strerror(errno);
}

int depthBytes(unsigned depth) {
    switch (depth) {
        case VEX_DEPTH_8U:
        case VEX_DEPTH_8S: return 1;
        case VEX_DEPTH_16U:
        case VEX_DEPTH_16S: return 2;
        case VEX_DEPTH_32S: return 4;
        default: return 0;
    }
}


// Header tokens: whitespace-separated words, '#' comments to the end of a
// line (PGM/PPM). Reads from a small buffer of the file's start.
struct HeaderReader {
    const char* p;
    const char* end;
    bool pnm;
    bool word(std::string* out) {
        out->clear();
        while (p < end) {
            if (pnm && *p == '#') {
                while (p < end && *p != '\n') ++p;
            } else if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') {
                ++p;
            } else {
                break;
            }
        }
        while (p < end && !(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || (pnm && *p == '#')))
            *out += *p++;
        return !out->empty() && p < end;
    }
    bool number(long long lo, long long hi, long long* v) {
        std::string w;
        if (!word(&w) || w.size() > 12) return false;
        for (char c : w)
            if (c < '0' || c > '9') return false;
        *v = std::atoll(w.c_str());
        return *v >= lo && *v <= hi;
    }
};

}  // namespace

void swapBytes16(char* p, int64_t n) {
    for (int64_t i = 0; i < n; ++i) std::swap(p[2 * i], p[2 * i + 1]);
}

bool readFileLayout(int fd, const std::string& path, FileLayout* out, std::string* err) {
    char buf[512];
    ssize_t got;
    do got = ::pread(fd, buf, sizeof buf, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        *err = ioText("read", path);
        return false;
    }
    FileLayout l;
    HeaderReader r{buf, buf + got, false};
    std::string magic;
    long long w = 0, h = 0, c = 0, maxval = 0;
    const std::string bad = "'" + path + "' has a bad header: ";
    if (got >= 2 && buf[0] == 'P' && (buf[1] == '5' || buf[1] == '6')) {
        r.pnm = true;
        r.word(&magic);
        l.format = buf[1] == '5' ? FileFormat::Pgm : FileFormat::Ppm;
        l.channels = buf[1] == '5' ? 1 : 3;
        if (!r.number(1, INT32_MAX, &w) || !r.number(1, INT32_MAX, &h) || !r.number(1, 65535, &maxval)) {
            *err = bad + "expected width, height and a maximum value of 1 to 65535";
            return false;
        }
        // Exactly one whitespace byte ends the header.
        l.maxval = int(maxval);
        l.depth = maxval > 255 ? VEX_DEPTH_16U : VEX_DEPTH_8U;
        l.swap16 = maxval > 255;
    } else if (got >= 6 && std::memcmp(buf, "VEXRAW", 6) == 0) {
        r.word(&magic);
        std::string d;
        if (magic != "VEXRAW" || !r.number(1, INT32_MAX, &w) || !r.number(1, INT32_MAX, &h) ||
            !r.number(1, 4, &c) || !r.word(&d)) {
            *err = bad + "expected VEXRAW WIDTH HEIGHT CHANNELS DEPTH";
            return false;
        }
        l.format = FileFormat::Raw;
        l.channels = int(c);
        l.depth = 0;
        for (unsigned k : {VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S})
            if (d == depthName(k)) l.depth = k;
        if (!l.depth) {
            *err = bad + "unknown depth '" + d + "' (8U, 8S, 16U, 16S or 32S)";
            return false;
        }
        if (*r.p != '\n') {
            *err = bad + "the header line does not end after the depth";
            return false;
        }
    } else {
        *err = "'" + path + "' is not a binary PGM/PPM or VEXRAW file";
        return false;
    }
    if (r.p >= r.end) {
        *err = bad + "it ends inside the header";
        return false;
    }
    l.width = int(w);
    l.height = int(h);
    l.sampleBytes = depthBytes(l.depth);
    l.dataOffset = (r.p - buf) + 1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *err = ioText("examine", path);
        return false;
    }
    if (int64_t(st.st_size) < l.dataOffset + l.dataBytes()) {
        *err = "'" + path + "' is cut short: " + std::to_string(l.width) + "x" + std::to_string(l.height) +
               " pixels need " + std::to_string(l.dataOffset + l.dataBytes()) + " bytes, the file has " +
               std::to_string(int64_t(st.st_size));
        return false;
    }
    *out = l;
    return true;
}

bool newFileLayout(const std::string& path, int width, int height, int channels, unsigned depth,
                   FileLayout* out, std::string* err) {
    auto ends = [&](const char* ext) {
        const size_t n = std::strlen(ext);
        if (path.size() < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != ext[i]) return false;
        return true;
    };
    FileLayout l;
    l.width = width, l.height = height, l.channels = channels, l.depth = depth;
    l.sampleBytes = depthBytes(depth);
    if (!l.sampleBytes || channels < 1 || channels > 4) {
        *err = "'" + path + "': streamed images have 1 to 4 channels of depth 8U, 8S, 16U, 16S or 32S";
        return false;
    }
    if (ends(".pgm") || ends(".ppm")) {
        l.format = ends(".pgm") ? FileFormat::Pgm : FileFormat::Ppm;
        const int want = l.format == FileFormat::Pgm ? 1 : 3;
        if (channels != want || (depth != VEX_DEPTH_8U && depth != VEX_DEPTH_16U)) {
            *err = "'" + path + "': a " + (want == 1 ? "PGM" : "PPM") + " file holds " + (want == 1 ? "1" : "3") +
                   " channel(s) of 8U or 16U, not " + std::to_string(channels) + " of " + depthName(depth) +
                   " (write a .vxr file instead)";
            return false;
        }
        l.maxval = depth == VEX_DEPTH_16U ? 65535 : 255;
        l.swap16 = depth == VEX_DEPTH_16U;
    } else {
        l.format = FileFormat::Raw;
    }
    l.dataOffset = int64_t(fileHeaderText(l).size());
    *out = l;
    return true;
}

std::string fileHeaderText(const FileLayout& l) {
    char buf[160];
    if (l.format == FileFormat::Raw)
        std::snprintf(buf, sizeof buf, "VEXRAW %d %d %d %s\n", l.width, l.height, l.channels, depthName(l.depth));
    else
        std::snprintf(buf, sizeof buf, "P%c\n%d %d\n%d\n", l.format == FileFormat::Pgm ? '5' : '6', l.width, l.height,
                      l.maxval);
    return buf;
}

// ------------------------------------------------------------ the store

namespace {

std::unique_ptr<TileStore> failOpen(std::string* err, const std::string& text) {
    *err = text;
    return nullptr;
}

// Tiles read together on a miss, at most.
constexpr int kReadRun = 16;

size_t capacityFor(int64_t cacheBytes, int64_t tileBytes) {
    return size_t(std::max<int64_t>(4, cacheBytes / std::max<int64_t>(tileBytes, 1)));
}

}  // namespace

void TileStore::refuseDirectTransfers(bool on) { g_refuseDirect = on; }

void TileStore::setShape(const Shape& shape) {
    const FileLayout& l = layout_;
    const int64_t px = int64_t(l.channels) * l.sampleBytes;
    tileW_ = shape.tileW, tileH_ = shape.tileH;
    if (shape.bands) {
        const int64_t bandW = (int64_t(l.width) + 7) / 8 * 8;
        const int64_t bandStep = (bandW * px + 3) / 4 * 4;
        if (bandW <= INT32_MAX / 2 && bandStep * tileH_ <= shape.cacheBytes / 4) tileW_ = int(bandW);
    }
    tilesX_ = int((int64_t(l.width) + tileW_ - 1) / tileW_);
    tilesY_ = int((int64_t(l.height) + tileH_ - 1) / tileH_);
    tileStep_ = (int64_t(tileW_) * px + 3) / 4 * 4;
    capacity_ = capacityFor(shape.cacheBytes, tileBytes());
}

// Maps the file when a tile's rows are the file's rows: tiles as wide as
// the image, no row padding, samples in native order at aligned addresses.
bool TileStore::mapFile(bool write) {
    const FileLayout& l = layout_;
    if (windowStep() != l.rowBytes() || l.swap16 || l.dataOffset % l.sampleBytes != 0) return false;
    if (write && (tileW_ != l.width || tileStep_ != l.rowBytes())) return false;
    // A new file has its blocks (create): no write fault can fail for want
    // of disk space.
    mapLen_ = l.dataOffset + l.dataBytes();
    void* p = ::mmap(nullptr, size_t(mapLen_), write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        mapLen_ = 0;
        return false;
    }
    mapping_ = static_cast<char*>(p);
    ::madvise(mapping_, size_t(mapLen_), MADV_SEQUENTIAL);
    return true;
}

// The tile of tile row ty inside the mapping; null for a last row that
// reaches beyond the image (its rows beyond the file are not mapped).
char* TileStore::mappedTile(int ty) const {
    if (!mapping_ || tileW_ != layout_.width || (int64_t(ty) + 1) * tileH_ > layout_.height) return nullptr;
    return mapping_ + layout_.dataOffset + int64_t(ty) * tileH_ * layout_.rowBytes();
}

std::unique_ptr<TileStore> TileStore::openRead(const std::string& path, const Shape& shape, std::string* err) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failOpen(err, ioText("open", path));
    FileLayout l;
    if (!readFileLayout(fd, path, &l, err)) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<TileStore> s(new TileStore());
    s->path_ = path;
    s->fd_ = fd;
    s->layout_ = l;
    s->setShape(shape);
    if (shape.bands) s->mapFile(false);
    if (shape.directReads && s->mapping_ && s->residentShare() < 0.5) {
        // Mostly on the disk, not in the page cache: rows read past it into
        // the caller's buffers cost less than filling the page cache (see
        // directReads), so the rows are copied, not used in place.
        s->directFd_ = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        if (s->directFd_ >= 0) {
            ::munmap(s->mapping_, size_t(s->mapLen_));
            s->mapping_ = nullptr, s->mapLen_ = 0;
            s->directOk_ = true;
        }
    }
    s->id_ = registerStore(s.get());
    return s;
}

std::unique_ptr<TileStore> TileStore::create(const std::string& path, FileLayout l, const Shape& shape,
                                             std::string* err) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return failOpen(err, ioText("create", path));
    const std::string head = fileHeaderText(l);
    l.dataOffset = int64_t(head.size());
    errno = 0;
    if (!writeAll(fd, head.data(), int64_t(head.size()), 0) || ::ftruncate(fd, l.dataOffset + l.dataBytes()) != 0) {
        if (errno == 0) errno = EIO;
        std::string text = ioText("write", path);
        ::close(fd);
        ::unlink(path.c_str());
        return failOpen(err, text);
    }
    // Blocks for the whole file now: no write can then fail for want of
    // space, and writes into allocated blocks cost less.
    const int alloc = ::posix_fallocate(fd, 0, l.dataOffset + l.dataBytes());
    if (alloc == ENOSPC || alloc == EFBIG) {
        errno = alloc;
        std::string text = ioText("write", path);
        ::close(fd);
        ::unlink(path.c_str());
        return failOpen(err, text);
    }
    std::unique_ptr<TileStore> s(new TileStore());
    s->path_ = path;
    s->fd_ = fd;
    s->writable_ = true;
    s->fresh_ = true;
    s->layout_ = l;
    s->setShape(shape);
    if (shape.bands && shape.mapWrites && alloc == 0) s->mapFile(true);
    if (shape.directWrites && !s->mapping_) {
        // A second descriptor for writes that bypass the page cache; file
        // systems without O_DIRECT refuse it here or at the first write.
        s->directFd_ = ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
        s->directOk_ = s->directFd_ >= 0;
    }
    s->written_.assign(size_t(s->tilesX_) * size_t(s->tilesY_), 0);
    s->id_ = registerStore(s.get());
    return s;
}

TileStore::~TileStore() {
    unregisterStore(id_);
    for (auto& kv : map_) {
        if (!kv.second->inMap) std::free(kv.second->data);
        delete kv.second;
    }
    for (char* p : spare_) std::free(p);
    if (mapping_) ::munmap(mapping_, size_t(mapLen_));
    if (fd_ >= 0) ::close(fd_);
    if (directFd_ >= 0) ::close(directFd_);
}

void TileStore::fail(const std::string& what) {
    if (error_.empty()) error_ = what;
}

std::string TileStore::error() const {
    std::lock_guard<std::mutex> lock(mu_);
    return error_;
}

bool TileStore::failed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return !error_.empty();
}

char* TileStore::newBuffer() {
    if (!spare_.empty()) {
        char* p = spare_.back();
        spare_.pop_back();
        return p;
    }
    // 64-byte aligned, a whole number of 64-byte lines.
    const size_t n = size_t((tileBytes() + 63) / 64 * 64);
    return static_cast<char*>(std::aligned_alloc(64, n));
}

// Reads consecutive tiles of one tile row with one pread per image row;
// the parts beyond the image are zero.
bool TileStore::readRun(const std::vector<Entry*>& run) {
    if (run.size() == 1) return readTile(run[0]);
    const FileLayout& l = layout_;
    const int64_t px = int64_t(l.channels) * l.sampleBytes;
    const int ty = run[0]->ty;
    const int64_t x0 = int64_t(run[0]->tx) * tileW_;
    const int64_t cols = std::min<int64_t>(int64_t(run.size()) * tileW_, l.width - x0);
    const int64_t bytes = cols * px;
    if (int64_t(rowBuf_.size()) < bytes) rowBuf_.resize(size_t(bytes));
    std::vector<iovec> vec;
    for (int r = 0; r < tileH_; ++r) {
        const int64_t y = int64_t(ty) * tileH_ + r;
        if (y < l.height && !l.swap16) {
            // Straight into the tiles' rows.
            vec.clear();
            int64_t done = 0;
            for (Entry* e : run) {
                char* row = e->data + int64_t(r) * tileStep_;
                const int64_t n = std::max<int64_t>(0, std::min<int64_t>(int64_t(tileW_) * px, bytes - done));
                if (n > 0) vec.push_back(iovec{row, size_t(n)});
                if (n < tileStep_) std::memset(row + n, 0, size_t(tileStep_ - n));
                done += n;
            }
            errno = 0;
            if (!transferVec(fd_, vec, l.dataOffset + y * l.rowBytes() + x0 * px, false)) {
                fail(ioText("read", path_));
                return false;
            }
            continue;
        }
        if (y < l.height) {
            errno = 0;
            if (!readAll(fd_, rowBuf_.data(), bytes, l.dataOffset + y * l.rowBytes() + x0 * px)) {
                fail(ioText("read", path_));
                return false;
            }
            if (l.swap16) swapBytes16(rowBuf_.data(), bytes / 2);
        }
        int64_t done = 0;
        for (Entry* e : run) {
            char* row = e->data + int64_t(r) * tileStep_;
            const int64_t n = y < l.height ? std::max<int64_t>(0, std::min<int64_t>(int64_t(tileW_) * px, bytes - done)) : 0;
            std::memcpy(row, rowBuf_.data() + done, size_t(n));
            if (n < tileStep_) std::memset(row + n, 0, size_t(tileStep_ - n));
            done += n;
        }
    }
    reads_ += int64_t(run.size());
    return true;
}

// Reads one tile; the parts beyond the image are zero. A tile whose rows
// are whole file rows is read with one pread.
bool TileStore::readTile(Entry* e) {
    const FileLayout& l = layout_;
    const int64_t px = int64_t(l.channels) * l.sampleBytes;
    const int64_t x0 = int64_t(e->tx) * tileW_;
    const int64_t cols = std::min<int64_t>(tileW_, l.width - x0);
    const int64_t used = cols * px;
    const bool zero = fresh_ && !written_[size_t(key(e->tx, e->ty))];
    if (zero && wholeWrite_) {
        ++reads_;
        return true;  // every pixel is written before the tile goes back
    }
    const int64_t y0 = int64_t(e->ty) * tileH_;
    const int rows = int(std::max<int64_t>(0, std::min<int64_t>(tileH_, l.height - y0)));
    int r = 0;
    if (!zero && tileStep_ == l.rowBytes() && rows > 0) {
        errno = 0;
        if (!readAll(fd_, e->data, rows * tileStep_, l.dataOffset + y0 * l.rowBytes())) {
            fail(ioText("read", path_));
            return false;
        }
        if (l.swap16) swapBytes16(e->data, rows * tileStep_ / 2);
        r = rows;
    }
    for (; r < tileH_; ++r) {
        char* row = e->data + int64_t(r) * tileStep_;
        const int64_t y = y0 + r;
        if (y >= l.height || zero) {
            std::memset(row, 0, size_t(tileStep_));
            continue;
        }
        errno = 0;
        if (!readAll(fd_, row, used, l.dataOffset + y * l.rowBytes() + x0 * px)) {
            fail(ioText("read", path_));
            return false;
        }
        if (l.swap16) swapBytes16(row, used / 2);
        if (used < tileStep_) std::memset(row + used, 0, size_t(tileStep_ - used));
    }
    ++reads_;
    return true;
}

// Writes the tiles [tx0, tx1) of tile row ty (all cached) with one pwrite
// per image row.
bool TileStore::writeRun(int ty, int tx0, int tx1) {
    const FileLayout& l = layout_;
    const int64_t px = int64_t(l.channels) * l.sampleBytes;
    const int64_t x0 = int64_t(tx0) * tileW_;
    const int64_t cols = std::min<int64_t>(int64_t(tx1 - tx0) * tileW_, l.width - x0);
    const int64_t bytes = cols * px;
    if (int64_t(rowBuf_.size()) < bytes) rowBuf_.resize(size_t(bytes));
    std::vector<Entry*> run;
    for (int tx = tx0; tx < tx1; ++tx) run.push_back(map_.at(key(tx, ty)));
    const int rows = int(std::min<int64_t>(tileH_, l.height - int64_t(ty) * tileH_));
    int r = 0;
    if (run.size() == 1 && tileStep_ == l.rowBytes() && !l.swap16) {
        // The tile's rows are whole file rows: one write.
        errno = 0;
        if (!writeAll(fd_, run[0]->data, rows * tileStep_, l.dataOffset + int64_t(ty) * tileH_ * l.rowBytes())) {
            if (errno == 0) errno = EIO;
            fail(ioText("write", path_));
            return false;
        }
        r = rows;
    }
    std::vector<iovec> vec;
    for (; r < rows; ++r) {
        const int64_t y = int64_t(ty) * tileH_ + r;
        if (!l.swap16) {
            // Straight from the tiles' rows.
            vec.clear();
            int64_t done = 0;
            for (Entry* e : run) {
                const int64_t n = std::min<int64_t>(int64_t(tileW_) * px, bytes - done);
                vec.push_back(iovec{e->data + int64_t(r) * tileStep_, size_t(n)});
                done += n;
            }
            errno = 0;
            if (!transferVec(fd_, vec, l.dataOffset + y * l.rowBytes() + x0 * px, true)) {
                if (errno == 0) errno = EIO;
                fail(ioText("write", path_));
                return false;
            }
            continue;
        }
        int64_t done = 0;
        for (Entry* e : run) {
            const int64_t n = std::min<int64_t>(int64_t(tileW_) * px, bytes - done);
            std::memcpy(rowBuf_.data() + done, e->data + int64_t(r) * tileStep_, size_t(n));
            done += n;
        }
        swapBytes16(rowBuf_.data(), bytes / 2);
        errno = 0;
        if (!writeAll(fd_, rowBuf_.data(), bytes, l.dataOffset + y * l.rowBytes() + x0 * px)) {
            if (errno == 0) errno = EIO;
            fail(ioText("write", path_));
            return false;
        }
    }
    for (Entry* e : run) {
        e->dirty = false;
        if (fresh_) written_[size_t(key(e->tx, e->ty))] = 1;
        ++writes_;
    }
    return true;
}

// Takes an unpinned tile out of the cache: a buffer goes to the spares; a
// tile inside the mapping gives back the pages that lie wholly inside it.
void TileStore::drop(Entry* e) {
    lru_.erase(e->lru);
    map_.erase(key(e->tx, e->ty));
    if (e->inMap) {
        dropRange(e->data, e->data + int64_t(tileH_) * tileStep_);
    } else {
        spare_.push_back(e->data);
    }
    delete e;
}

// The pages wholly inside [a, b) of the mapping leave the resident set.
void TileStore::dropRange(const char* a, const char* b) {
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(a) + page - 1) / page * page;
    const uintptr_t last = reinterpret_cast<uintptr_t>(b) / page * page;
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

char* TileStore::rowsInPlace(int64_t y) const {
    return mapping_ && y >= 0 && y <= layout_.height ? mapping_ + layout_.dataOffset + y * layout_.rowBytes() : nullptr;
}

void TileStore::dropRows(int64_t y0, int64_t y1) {
    y0 = std::max<int64_t>(y0, 0), y1 = std::min<int64_t>(y1, layout_.height);
    if (mapping_ && y1 > y0) dropRange(rowsInPlace(y0), rowsInPlace(y1));
}

double TileStore::residentShare() const {
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t pages = (mapLen_ + page - 1) / page;
    if (!mapping_ || pages == 0) return 1;
    // At most 1024 pages, evenly spread: asking for every page of a 400 MB
    // file took 4 % of the CPU time of a fused blur and threshold of it.
    const int64_t samples = std::min<int64_t>(pages, 1024);
    int64_t resident = 0;
    for (int64_t i = 0; i < samples; ++i) {
        unsigned char in = 0;
        if (::mincore(mapping_ + i * pages / samples * page, size_t(page), &in) != 0) return 1;
        resident += in & 1;
    }
    return double(resident) / double(samples);
}

bool TileStore::willReadRows(int64_t y0, int64_t y1, int64_t ahead) {
    y0 = std::max<int64_t>(y0, 0), y1 = std::min<int64_t>(y1, layout_.height);
    if (!mapping_ || y1 <= y0) return true;
    if (populate(rowsInPlace(y0), rowsInPlace(y1), rowsInPlace(std::min<int64_t>(y1 + ahead, layout_.height))))
        return true;
    std::lock_guard<std::mutex> lock(mu_);
    mappedReadFailed();
    return false;
}

void TileStore::mappedReadFailed() {
    // The pages could not be mapped: the file is shorter than its pixels
    // now, or (whole) its blocks cannot be read.
    struct stat st {};
    const bool shorter = ::fstat(fd_, &st) == 0 && int64_t(st.st_size) < layout_.dataOffset + layout_.dataBytes();
    errno = shorter ? 0 : EIO;
    fail(ioText("read", path_));
}

// Maps the pages of [a, b) of the mapping now and asks for [b, c) to be
// read from the disk meanwhile. False when pages of [a, b) cannot be had
// (they lie beyond the file's end: it shrank after it was opened; or their
// blocks cannot be read): touching them would kill the process (SIGBUS).
bool TileStore::populate(const char* a, const char* b, const char* c) const {
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    auto advise = [&](const char* from, const char* to, int advice) {
        const uintptr_t first = reinterpret_cast<uintptr_t>(from) / page * page;
        const uintptr_t last = reinterpret_cast<uintptr_t>(to);
        return last <= first || ::madvise(reinterpret_cast<void*>(first), last - first, advice) == 0;
    };
    // The band's page-table entries in one call: a source that is not in
    // the page cache is otherwise read by faults that each wait for the
    // disk (measured: twice the CPU time and wall time of this).
#ifdef MADV_POPULATE_READ
    if (!advise(a, b, MADV_POPULATE_READ) && errno == EFAULT) return false;
#endif
    advise(b, c, MADV_WILLNEED);
    return true;
}

// Rows [y, y + rows) between `data` (rows windowStep() apart) and the file,
// as they lie in the file (no byte swapping): one span when the rows are
// contiguous, else row by row. False after recording the error.
bool TileStore::transferRows(int64_t y, int rows, char* data, bool write) {
    const FileLayout& l = layout_;
    const int64_t step = windowStep(), n = l.rowBytes();
    errno = 0;
    bool ok = true;
    if (step == n) {
        ok = transferSpan(data, rows * n, l.dataOffset + y * n, write);
    } else {
        for (int r = 0; ok && r < rows; ++r) {
            char* row = data + r * step;
            const int64_t at = l.dataOffset + (y + r) * n;
            ok = write ? writeAll(fd_, row, n, at) : readAll(fd_, row, n, at);
        }
    }
    if (!ok) {
        // A read that finds the file cut short leaves errno 0 (the message
        // says so); a write has no such case.
        if (write && errno == 0) errno = EIO;
        std::lock_guard<std::mutex> lock(mu_);
        fail(ioText(write ? "write" : "read", path_));
    }
    return ok;
}

// Byte-swapped formats: the rows between file order and native order.
void TileStore::swapRows(char* data, int rows) const {
    if (!layout_.swap16) return;
    const int64_t step = windowStep(), n = layout_.rowBytes();
    for (int r = 0; r < rows; ++r) swapBytes16(data + r * step, n / 2);
}

bool TileStore::readRows(int64_t y, int rows, char* data) {
    if (!transferRows(y, rows, data, false)) return false;
    swapRows(data, rows);
    return true;
}

bool TileStore::writeRows(int64_t y, int rows, char* data) {
    swapRows(data, rows);
    return transferRows(y, rows, data, true);
}

// Reads or writes n bytes of p at file offset off. With direct transfers on
// and p placed like the file (p + k page-aligned where off + k is), the
// pages wholly inside the range go straight between p and the disk and
// only the partial pages at its ends through the page cache (those pages
// are never transferred directly, so the two paths do not meet). False
// with errno on failure (0: the file is cut short).
bool TileStore::transferSpan(char* p, int64_t n, int64_t off, bool write) {
    auto cached = [&](char* q, int64_t len, int64_t at) {
        return write ? writeAll(fd_, q, len, at) : readAll(fd_, q, len, at);
    };
    const int64_t a = (off + kIoAlign - 1) / kIoAlign * kIoAlign, b = (off + n) / kIoAlign * kIoAlign;
    if (!directOk_ || b <= a || (reinterpret_cast<uintptr_t>(p) + uintptr_t(a - off)) % kIoAlign != 0)
        return cached(p, n, off);
    if (!cached(p, a - off, off)) return false;
    for (int64_t at = a; at < b;) {
        errno = EINVAL;
        const ssize_t got = g_refuseDirect ? -1
                            : write        ? ::pwrite(directFd_, p + (at - off), size_t(b - at), at)
                                           : ::pread(directFd_, p + (at - off), size_t(b - at), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EINVAL) {
            // Alignment this file system does not take: the page cache from
            // here on, for this transfer and every later one.
            directOk_ = false;
            if (!cached(p + (at - off), b - at, at)) return false;
            break;
        }
        if (got <= 0) {
            if (got == 0) errno = write ? EIO : 0;
            return false;
        }
        at += got;
        directBytes_ += got;
    }
    return cached(p + (b - off), off + n - b, b);
}

// Drops the least recently used unpinned tile; a changed one is written
// first, together with the changed unpinned tiles next to it in its row.
bool TileStore::evictOne() {
    Entry* v = lru_.front();
    if (v->dirty) {
        auto writableAt = [&](int tx) {
            auto it = map_.find(key(tx, v->ty));
            return tx >= 0 && tx < tilesX_ && it != map_.end() && it->second->dirty && it->second->pins == 0;
        };
        int a = v->tx, b = v->tx + 1;
        while (writableAt(a - 1)) --a;
        while (writableAt(b)) ++b;
        if (!writeRun(v->ty, a, b)) return false;
    }
    drop(v);
    return true;
}

bool TileStore::retireRow(int ty) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!error_.empty()) return false;
    if (ty < 0 || ty >= tilesY_) return true;
    for (int tx = 0; tx < tilesX_;) {
        auto it = map_.find(key(tx, ty));
        if (it == map_.end() || it->second->pins > 0) {
            ++tx;
            continue;
        }
        int b = tx + 1;
        for (;; ++b) {
            auto next = b < tilesX_ ? map_.find(key(b, ty)) : map_.end();
            if (next == map_.end() || next->second->pins > 0 || next->second->dirty != it->second->dirty) break;
        }
        if (it->second->dirty && !writeRun(ty, tx, b)) return false;
        for (int x = tx; x < b; ++x) drop(map_.at(key(x, ty)));
        tx = b;
    }
    return true;
}

char* TileStore::acquire(int tx, int ty, bool write) {
    std::lock_guard<std::mutex> lock(mu_);
    if (tx < 0 || ty < 0 || tx >= tilesX_ || ty >= tilesY_ || (write && !writable_) || !error_.empty())
        return nullptr;
    auto it = map_.find(key(tx, ty));
    Entry* e;
    if (it != map_.end()) {
        e = it->second;
        if (e->pins++ == 0) lru_.erase(e->lru);
    } else {
        while (map_.size() >= capacity_ && !lru_.empty())
            if (!evictOne()) return nullptr;
        if (char* p = mappedTile(ty)) {
            const char* end = p + int64_t(tileH_) * tileStep_;
            if (!populate(p, end, end)) {
                mappedReadFailed();
                return nullptr;
            }
            e = new Entry();
            e->tx = tx, e->ty = ty;
            e->data = p;
            e->inMap = true;
            e->pins = 1;
            map_[key(tx, ty)] = e;
            peakTiles_ = std::max<int64_t>(peakTiles_, int64_t(map_.size()));
            return e->data;  // written in place: never dirty
        }
        // Read ahead: the uncached tiles to the right in the same tile row,
        // as far as free room allows, with one read per image row.
        int end = tx + 1;
        if (!fresh_)
            while (end < tilesX_ && end - tx < kReadRun && map_.size() + size_t(end - tx) < capacity_ &&
                   map_.find(key(end, ty)) == map_.end())
                ++end;
        std::vector<Entry*> run;
        for (int x = tx; x < end; ++x) {
            Entry* n = new Entry();
            n->tx = x, n->ty = ty;
            n->data = newBuffer();
            if (!n->data) {
                delete n;
                break;
            }
            run.push_back(n);
        }
        if (run.empty()) {
            fail("out of memory for a tile");
            return nullptr;
        }
        if (!readRun(run)) {
            for (Entry* n : run) {
                spare_.push_back(n->data);
                delete n;
            }
            return nullptr;
        }
        e = run[0];
        e->pins = 1;
        for (Entry* n : run) map_[key(n->tx, n->ty)] = n;
        for (size_t i = 1; i < run.size(); ++i) run[i]->lru = lru_.insert(lru_.end(), run[i]);
        peakTiles_ = std::max<int64_t>(peakTiles_, int64_t(map_.size()));
    }
    if (write && !e->inMap) e->dirty = true;
    return e->data;
}

void TileStore::release(int tx, int ty, const char* data) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = map_.find(key(tx, ty));
    if (it == map_.end() || it->second->data != data || it->second->pins <= 0) return;
    Entry* e = it->second;
    if (--e->pins == 0) e->lru = lru_.insert(lru_.end(), e);
}

bool TileStore::flush() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!error_.empty()) return false;
    std::map<int64_t, Entry*> dirty;  // in file order
    for (auto& kv : map_)
        if (kv.second->dirty) dirty[kv.first] = kv.second;
    for (auto it = dirty.begin(); it != dirty.end();) {
        const int ty = it->second->ty, a = it->second->tx;
        int b = a + 1;
        auto next = std::next(it);
        while (next != dirty.end() && next->second->ty == ty && next->second->tx == b) ++b, ++next;
        if (!writeRun(ty, a, b)) return false;
        it = next;
    }
    return true;
}

bool TileStore::copyPixelsFrom(const TileStore& from) {
    std::lock_guard<std::mutex> lock(mu_);
    const int64_t total = layout_.dataBytes();
    std::vector<char> buf(size_t(std::min<int64_t>(total, int64_t(4) << 20)));
    for (int64_t done = 0; done < total;) {
        const int64_t n = std::min<int64_t>(int64_t(buf.size()), total - done);
        errno = 0;
        if (!readAll(from.fd_, buf.data(), n, from.layout_.dataOffset + done)) {
            fail(ioText("read", from.path_));
            return false;
        }
        if (layout_.swap16 != from.layout_.swap16) swapBytes16(buf.data(), n / 2);
        errno = 0;
        if (!writeAll(fd_, buf.data(), n, layout_.dataOffset + done)) {
            if (errno == 0) errno = EIO;
            fail(ioText("write", path_));
            return false;
        }
        done += n;
    }
    fresh_ = false;
    return true;
}

VexImage* TileStore::newHeader() const {
    auto* h = static_cast<VexImage*>(std::calloc(1, sizeof(VexImage)));
    if (!h) return nullptr;
    h->headerSize = int(sizeof(VexImage));
    h->nChannels = layout_.channels;
    h->depth = layout_.depth;
    std::memcpy(h->colorSpace, layout_.channels >= 3 ? "RGB" : "GRAY", 4);
    std::memcpy(h->channelSeq, layout_.channels >= 3 ? "RGB" : "GRAY", 4);
    if (layout_.channels == 4) h->alphaChannel = 4;
    h->dataOrder = VEX_DATA_ORDER_PIXEL;
    h->origin = VEX_ORIGIN_TL;
    h->align = 4;
    h->height = layout_.height;
    h->width = layout_.width;
    const int64_t step = (layout_.rowBytes() + 3) / 4 * 4;
    h->widthStep = step <= INT32_MAX ? int(step) : 0;
    h->tileInfo = vexCreateTileInfo(tileStoreCallback, id_, tileW_, tileH_);
    if (!h->tileInfo) {
        std::free(h);
        return nullptr;
    }
    vexSetBorderMode(h, VEX_BORDER_CONSTANT, VEX_SIDE_ALL, 0);
    return h;
}

void TileStore::freeHeader(VexImage* image) {
    if (!image) return;
    vexDeleteROI(image->roi);
    vexDeleteTileInfo(image->tileInfo);
    std::free(image);
}

void tileStoreCallback(const VexImage* image, int xIndex, int yIndex, int mode) {
    VexTileInfo* info = image ? image->tileInfo : nullptr;
    if (!info) return;
    TileStore* s = findStore(info->id);
    if (mode == VEX_TILE_GET_READ || mode == VEX_TILE_GET_WRITE) {
        info->tileData = s ? s->acquire(xIndex, yIndex, mode == VEX_TILE_GET_WRITE) : nullptr;
    } else if (mode == VEX_TILE_RELEASE && s) {
        s->release(xIndex, yIndex, info->tileData);
        info->tileData = nullptr;  // the pixel-wise operations expect no tile outstanding between calls
    }
}

}  // namespace vextool
