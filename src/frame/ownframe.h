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

}  // namespace vex
