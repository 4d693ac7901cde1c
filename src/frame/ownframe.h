// Internal frame services shared by every subsystem.
#pragma once

#include <cstdint>

#include "vexlib.h"

struct VexContext {
    int             status;
    int             mode;
    VexErrorReport* report;
    char            errorText[80];
};

namespace vex {

// The calling thread's context; ends the process when none can be had.
VexContext* ownContext();

// Test-only accounting of vexMalloc blocks on the calling thread, off by
// default and not exported. ownAllocTrack(true) starts counting from zero
// (false stops); ownAllocPeak gives the most bytes held at once since the
// start (up to 1024 blocks are followed), or -1 when not counting.
void ownAllocTrack(bool on);
int64_t ownAllocPeak();

// A vexMalloc block released on scope exit, for an operation's temporaries.
// The elements start on a 64-byte line (vexMalloc itself promises only 8
// bytes), so vector pieces at multiples of their own size never straddle two
// lines, and 32 bytes of slack follow the last element for vector reads
// running past it.
class OwnBlock {
 public:
    OwnBlock() = default;
    ~OwnBlock() { vexFree(p_); }
    OwnBlock(const OwnBlock&) = delete;
    OwnBlock& operator=(const OwnBlock&) = delete;
    // Allocates `count` elements of T (at least one), releasing what the
    // block held; null when the size does not fit or the allocation fails.
    template <class T>
    T* alloc(int64_t count) {
        release();
        constexpr int64_t kExtra = 32 + 63;
        if (count < 0 || count > (int64_t(INT32_MAX) - kExtra) / int64_t(sizeof(T))) return nullptr;
        const int64_t bytes = (count > 0 ? count : 1) * int64_t(sizeof(T)) + kExtra;
        if (bytes > INT32_MAX) return nullptr;
        p_ = vexMalloc(static_cast<int>(bytes));
        if (p_) data_ = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(p_) + 63) & ~uintptr_t(63));
        return static_cast<T*>(data_);
    }
    // Frees the elements now rather than on scope exit.
    void release() {
        vexFree(p_);
        p_ = data_ = nullptr;
    }
    // The elements of the last allocation (null before one or after a failure).
    template <class T>
    T* as() const {
        return static_cast<T*>(data_);
    }

 private:
    void* p_ = nullptr;
    void* data_ = nullptr;
};

// Scratch memory of one call: on the stack when `bytes` fits in N, else a
// block; released on scope exit. Null (from `as`) when the block cannot be
// had.
template <int N>
class OwnScratch {
 public:
    explicit OwnScratch(int64_t bytes) : p_(bytes <= N ? stack_ : heap_.alloc<char>(bytes)) {}
    template <class T>
    T* as() const {
        return reinterpret_cast<T*>(p_);
    }

 private:
    alignas(64) char stack_[N];
    OwnBlock heap_;
    char* p_;
};

}  // namespace vex
