// Internal frame services shared by every subsystem.
#pragma once

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

}  // namespace vex
