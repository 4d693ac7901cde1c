// Aligned memory blocks and the version record.
#include <cstdint>
#include <cstdlib>

#include "ownframe.h"

namespace {

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
    std::free(static_cast<void**>(ptr)[-1]);
}

VEXAPI const VexLibVersion* vexGetLibVersion(void) { return &kVersion; }

}  // extern "C"
