// Aligned memory blocks and the version record.
#include <cstdint>
#include <cstdlib>

#include "ownframe.h"

namespace {

// Test-only bookkeeping of the calling thread's blocks, off unless a test
// switches it on (ownAllocTrack): which blocks are held and their sizes,
// the bytes held, and the most held at once.
struct OwnAllocTable {
    static constexpr int kSlots = 1024;
    void* block[kSlots];
    int64_t size[kSlots];
    int64_t held, peak;
};
thread_local OwnAllocTable* tTrack = nullptr;

void ownTrackAlloc(void* block, int64_t size) {
    OwnAllocTable* t = tTrack;
    if (!t || !block) return;
    for (int k = 0; k < OwnAllocTable::kSlots; ++k)
        if (!t->block[k]) {
            t->block[k] = block;
            t->size[k] = size;
            t->held += size;
            if (t->held > t->peak) t->peak = t->held;
            return;
        }
}

void ownTrackFree(void* block) {
    OwnAllocTable* t = tTrack;
    if (!t) return;
    for (int k = 0; k < OwnAllocTable::kSlots; ++k)
        if (t->block[k] == block) {
            t->block[k] = nullptr;
            t->held -= t->size[k];
            return;
        }
}

// Every block starts at a multiple of 8 at least one pointer above the raw
// heap block; the raw address sits in the word just below the data. The 20
// spare bytes cover that word and the worst-case rounding.
//
// A negative length is refused with null instead of wrapping around to a
// tiny request: the byte count is formed in 64-bit arithmetic.
void* ownAlloc(int length, unsigned elementSize) {
    if (length < 0) return nullptr;
    const unsigned long long bytes = static_cast<unsigned long long>(length) * elementSize + 20u;
    if (bytes > 0xFFFFFFFFull) return nullptr;
    char* raw = static_cast<char*>(std::malloc(static_cast<size_t>(bytes)));
    if (!raw) return nullptr;
    uintptr_t data = (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + 7u) & ~uintptr_t(7);
    reinterpret_cast<void**>(data)[-1] = raw;
    ownTrackAlloc(reinterpret_cast<void*>(data), int64_t(length) * elementSize);
    return reinterpret_cast<void*>(data);
}

const VexLibVersion kVersion = {
    1, 3, 3, "vexlib.dll", "v1.0 Beta 3", "[1.03.03, 06/30/97]", "Jul  7 1997", "DLL",
};

}  // namespace

extern "C" {

VEXAPI void* vexMalloc(int length) { return ownAlloc(length, 1); }
VEXAPI short* vexwMalloc(int length) { return static_cast<short*>(ownAlloc(length, 2)); }
VEXAPI int* vexiMalloc(int length) { return static_cast<int*>(ownAlloc(length, 4)); }
VEXAPI float* vexsMalloc(int length) { return static_cast<float*>(ownAlloc(length, 4)); }
VEXAPI double* vexdMalloc(int length) { return static_cast<double*>(ownAlloc(length, 8)); }

VEXAPI void vexFree(void* ptr) {
    if (!ptr) return;
    ownTrackFree(ptr);
    std::free(static_cast<void**>(ptr)[-1]);
}

VEXAPI const VexLibVersion* vexGetLibVersion(void) { return &kVersion; }

}  // extern "C"

namespace vex {

void ownAllocTrack(bool on) {
    std::free(tTrack);
    tTrack = on ? static_cast<OwnAllocTable*>(std::calloc(1, sizeof(OwnAllocTable))) : nullptr;
}

int64_t ownAllocPeak() { return tTrack ? tTrack->peak : -1; }

}  // namespace vex
