// Stores past the cache: long results are written with non-temporal
// stores from small aligned temporaries, so that a destination the next
// call does not read costs no read of its lines. Shared by the pixel-wise
// kernels, the mirror, compositing and the copies into tiles.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vex {

// Asks for the lines of the `bytes` bytes from p, and one line more (a row
// that does not start on a line covers one more), for reading or, with
// kWrite, for writing: the rows some way ahead in a walk over rows a page
// or more apart, which the hardware prefetcher does not follow. Addresses
// are worked out as integers, so a guessed row that lies in no buffer
// costs only the fetch.
template <bool kWrite = false>
__attribute__((always_inline)) inline void ownPrefetchRow(const void* p, int64_t bytes) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    for (int64_t b = 0; b < bytes + 63; b += 64) __builtin_prefetch(reinterpret_cast<const void*>(a + uintptr_t(b)), kWrite);
}

// Runs of at least this many destination bytes are written past the cache
// with non-temporal stores: the images of such a call do not stay cached for
// the next one anyway, and the stores then cost no read of the destination
// line. Smaller runs keep ordinary stores, which leave the result cached.
constexpr int64_t kStreamBytes = int64_t(16) << 20;
// Results are computed a chunk of eight lines at a time into a temporary and
// then streamed. All loads of a chunk thus precede its stores: a destination
// that trails a source by a line or two modulo 4 KiB would otherwise make
// each load wait on the pending store it seems to alias (measured: twice
// the time of ordinary stores).
constexpr int kStreamChunk = 512;

#if defined(__SSE2__)
// The same address, unknown to the compiler: reads through it are not
// served from the registers that filled the temporary, so they stay
// ordered with the streaming stores before and after them. Otherwise the
// compiler may keep a chunk's values in registers and schedule the stores
// of several lines interleaved (it did: sixteen bytes of one line, then of
// another), and a line whose parts arrive far apart leaves the
// write-combining buffer in pieces (vexAnd of 4096x4096 8U: 5.7 ms
// streamed so against 1.5 ms with the lines in order).
template <class T>
__attribute__((always_inline)) inline const T* ownOpaque(const T* p) {
    __asm__("" : "+r"(p));
    return p;
}
// `bytes` (a multiple of 64) from an aligned temporary to aligned memory,
// line after line.
__attribute__((always_inline)) inline void ownStreamChunk(void* dst, const void* chunk, int bytes) {
    const __m128i* s = ownOpaque(static_cast<const __m128i*>(chunk));
    __m128i* d = static_cast<__m128i*>(dst);
#pragma GCC unroll 32
    for (int k = 0; k < bytes / 16; ++k) _mm_stream_si128(d + k, _mm_load_si128(s + k));
}
// Elements before d reaches a line boundary, or -1 when the run is not
// streamed (short, or not element-aligned).
template <class T>
inline int64_t ownStreamHead(const T* d, int64_t n, int64_t callBytes = 0) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(d);
    if (std::max(n * int64_t(sizeof(T)), callBytes) < kStreamBytes || address % sizeof(T) != 0)
        return -1;
    return int64_t((64 - address % 64) % 64 / sizeof(T));
}
#endif

// n bytes from src to dst, the whole lines of dst stored past the cache
// (the part of its first and last line that dst shares with other bytes
// stored normally, as a line written partly each way costs more than
// streaming saves). Overlapping runs are moved as memmove does. The loads
// of a line precede its streamed stores, so a destination a few bytes above
// the source modulo 4 KiB does not stall them.
inline void ownStreamCopy(char* dst, const char* src, int64_t n) {
    if (dst == src || n <= 0) return;
    if (dst < src + n && src < dst + n) {
        std::memmove(dst, src, size_t(n));
        return;
    }
#if defined(__SSE2__)
    const int64_t head = std::min<int64_t>(n, int64_t((64 - reinterpret_cast<uintptr_t>(dst) % 64) % 64));
    std::memcpy(dst, src, size_t(head));
    int64_t i = head;
    for (; i + 64 <= n; i += 64) {
        const __m128i* s = reinterpret_cast<const __m128i*>(src + i);
        __m128i* d = reinterpret_cast<__m128i*>(dst + i);
        const __m128i a = _mm_loadu_si128(s), b = _mm_loadu_si128(s + 1), c = _mm_loadu_si128(s + 2),
                      e = _mm_loadu_si128(s + 3);
        _mm_stream_si128(d, a);
        _mm_stream_si128(d + 1, b);
        _mm_stream_si128(d + 2, c);
        _mm_stream_si128(d + 3, e);
    }
    std::memcpy(dst + i, src + i, size_t(n - i));
#else
    std::memcpy(dst, src, size_t(n));
#endif
}
// Orders the streamed stores of a walk before a tile goes back to its owner
// (and before the walk returns).
inline void ownStoreFence() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

#if defined(__SSE2__)
// Rows of at most this many bytes lying back to back in the destination are
// streamed through a staging buffer of one page (ownStreamJoined): the
// line carried over and the line read past the end fit beside the row.
constexpr int64_t kStageBytes = 4096 - 128;

// `rows` destination rows of n elements lying back to back from d (a tile
// of a tiled destination), in a call that is streamed: row(y, out) computes
// row y into out. Each row goes into a staging buffer at its offset within
// its line, the whole lines are streamed from there, and the part of the
// last line carries over to the next row, so lines split between two rows
// are streamed whole too. Only the first and the last line of the block,
// which it may share with bytes that are not its own, are stored normally.
// Stored normally, every split line (a quarter of the lines of a 256-byte
// tile row starting 16 bytes past a line) costs a read from memory. All
// loads of a row precede its stores, as in ownStreamRun's chunks. The
// buffer is one aligned page: the rows' stores into it are off a vector
// boundary whenever the destination is, and a store split across two pages
// made the whole walk four times slower (measured with the buffer at the
// last 256 bytes of a page). As many rows as the page holds are computed
// before their lines are streamed, so that the streaming loads find the
// rows' stores done rather than waiting to be forwarded from them (and a
// group's stores into the destination stay within its own rows, which an
// operation in place relies on).
template <class T, class Row>
__attribute__((always_inline)) inline void ownStreamJoined(T* d, int64_t n, int64_t rows, Row row) {
    alignas(4096) unsigned char stage[4096];
    const int64_t bytes = n * int64_t(sizeof(T));
    const int64_t group = std::max<int64_t>(1, kStageBytes / bytes);
    int64_t fill = int64_t(reinterpret_cast<uintptr_t>(d) % 64);  // bytes of the line before d
    int64_t own = fill;  // first byte of the current line that is the block's
    unsigned char* line = reinterpret_cast<unsigned char*>(d) - fill;
    for (int64_t y = 0; y < rows;) {
        const int64_t k = std::min(group, rows - y);
        for (int64_t j = 0; j < k; ++j) row(y + j, reinterpret_cast<T*>(stage + fill + j * bytes));
        y += k;
        const int64_t end = fill + k * bytes, whole = end / 64 * 64;
        int64_t done = 0;
        if (own && whole) {
            std::memcpy(line + own, stage + own, size_t(64 - own));
            own = 0;
            done = 64;
        }
        for (; done < whole; done += 64) ownStreamChunk(line + done, stage + done, 64);
        if (whole) {
            std::memcpy(stage, stage + whole, 64);
            line += whole;
        }
        fill = end - whole;
    }
    std::memcpy(line + own, stage + own, size_t(std::max<int64_t>(fill - own, 0)));
}

// `rows` destination rows of n elements lying back to back from d, in a call
// that is streamed, when d and every row start lie on a 16-byte boundary (a
// tile from an allocator). start(y) runs before row y; fill(i, k, out)
// computes elements i to i + k - 1 of that row into out, a line-sized
// aligned temporary (k = 64 / sizeof(T) but at a row's end), whose 16-byte
// parts go straight to the destination, streamed: no row is written into a
// page-sized buffer and read back a line later, and a line split
// between two rows is streamed by the two rows' consecutive stores. Only
// the parts in the block's first and last line, which it may share with
// bytes that are not its own, are stored normally.
template <class T, class Start, class Fill>
__attribute__((always_inline)) inline void ownStreamAligned(T* d, int64_t n, int64_t rows, Start start,
                                                            Fill fill) {
    constexpr int64_t kLine = 64 / sizeof(T), kPart = 16 / sizeof(T);
    const int64_t bytes = n * int64_t(sizeof(T));
    const uintptr_t address = reinterpret_cast<uintptr_t>(d);
    // Block offsets of the first whole line and of the end of the last one.
    const int64_t lo = int64_t((64 - address % 64) % 64);
    const int64_t hi = int64_t((address + uintptr_t(rows * bytes)) / 64 * 64 - address);
    for (int64_t y = 0; y < rows; ++y) {
        start(y);
        const int64_t offset = y * bytes;
        // Elements of the row that are streamed: i0 to i1 - 1.
        const int64_t i0 = std::clamp<int64_t>(lo - offset, 0, bytes) / int64_t(sizeof(T));
        const int64_t i1 = std::clamp<int64_t>(hi - offset, 0, bytes) / int64_t(sizeof(T));
        const bool all = i0 == 0 && i1 == n;
        __m128i* out = reinterpret_cast<__m128i*>(d + y * n);
        auto put = [&](int64_t i, __m128i v) {
            if (all || (i >= i0 && i < i1))
                _mm_stream_si128(out + i / kPart, v);
            else
                _mm_store_si128(out + i / kPart, v);
        };
        alignas(64) T chunk[kLine];
        const __m128i* parts = ownOpaque(reinterpret_cast<const __m128i*>(chunk));
        int64_t i = 0;
        for (; i + kLine <= n; i += kLine) {
            fill(i, kLine, chunk);
            for (int k = 0; k < 4; ++k) put(i + k * kPart, _mm_load_si128(parts + k));
        }
        if (i < n) {
            fill(i, n - i, chunk);
            for (int k = 0; i + k * kPart < n; ++k) put(i + k * kPart, _mm_load_si128(parts + k));
        }
    }
}

// Whether ownStreamAligned takes rows of n elements from d.
template <class T>
inline bool ownStreamAlignedFits(const T* d, int64_t n) {
    return reinterpret_cast<uintptr_t>(d) % 16 == 0 && n * int64_t(sizeof(T)) % 16 == 0;
}
#endif

}  // namespace vex
