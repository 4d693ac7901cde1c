// Shared pieces of the vex command-line program: routing of library errors,
// timed library calls, ROI helpers, and the demo entry point.
#pragma once

#include <chrono>
#include <string>

#include "imageio.h"
#include "vexlib.h"

namespace vextool {

// Routes the library's reports to the program's own report function in
// VEX_ErrModeParent, so a failure never blocks on a question and never ends
// the process from inside the library.
void installReportHandler();

// Clears the thread's status and the captured report before a call.
void resetLibraryStatus();

// After a call: throws ToolError(kExitLibrary) with a one-line text
// ("vexAdd: Bad argument: (nChSrcB != nChDst)") when the status is negative.
void checkLibraryStatus();

// Runs one library call and returns its wall time in milliseconds; throws
// as checkLibraryStatus does.
template <class F>
double timedCall(F&& f) {
    resetLibraryStatus();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    checkLibraryStatus();
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// Attaches a fresh ROI record to `img` (replacing any previous one).
// width/height <= 0 mean "to the image's edge".
void setRoi(VexImage* img, int coi, int x, int y, int width, int height);
// Removes and frees the ROI record of `img`.
void clearRoi(VexImage* img);

// `vex demo`: writes the sample pipeline's results into `outDir`.
// Returns the exit code.
int runDemo(const std::string& outDir, int height, int width);

}  // namespace vextool
