// Per-thread context, status, error modes and the three report functions.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../platform/ownplatform.h"
#include "ownframe.h"

namespace {

const VexContext kContextTemplate = {VEX_StsOk, VEX_ErrModeLeaf, vexGuiBoxReport, {0}};

const char* const kStatusText[] = {
    "No Error",                      //  0
    "Backtrace",                     // -1
    "Unknown error",                 // -2
    "Internal error (bad state)",    // -3
    "Out of memory",                 // -4
    "Bad argument",                  // -5
    "Unsupported function",          // -6
    "Iteration convergence failed",  // -7
    "Autotrace call",                // -8
};

void ownDetachThread(void* ctx) { std::free(ctx); }

// Thread attach: a zero-filled context initialised from the template. On
// allocation failure the slot stays empty and the next fetch is fatal.
VexContext* ownAttachThread() {
    auto* ctx = static_cast<VexContext*>(std::calloc(1, sizeof(VexContext)));
    if (!ctx) return nullptr;
    std::memcpy(ctx, &kContextTemplate, sizeof(VexContext));
    vex::platform::ownTlsSetValue(ctx);
    return ctx;
}

[[noreturn]] void ownBadContext() {
    using namespace vex::platform;
    ownMessageBox("pVexContext", "NULL", Buttons::Ok);
    ownFatalAppExit("VEX Library error:\nBad VEX Context\nTerminating the application");
}

[[noreturn]] void ownTerminate() {
    vex::platform::ownFatalAppExit("VEX Library:\nterminating the application");
}

// Process attach and detach. The loader runs these once per load.
__attribute__((constructor)) void ownProcessAttach() {
    vex::platform::ownTlsSetDetach(ownDetachThread);
    ownAttachThread();
}

__attribute__((destructor)) void ownProcessDetach() {
    std::free(vex::platform::ownTlsTakeValue());
}

}  // namespace

namespace vex {

VexContext* ownContext() {
    auto* ctx = static_cast<VexContext*>(platform::ownTlsGetValue());
    if (ctx) return ctx;
    ctx = ownAttachThread();
    if (!ctx) ownBadContext();
    return ctx;
}

}  // namespace vex

using vex::ownContext;

extern "C" {

VEXAPI int vexGetErrStatus(void) { return ownContext()->status; }
VEXAPI void vexSetErrStatus(int status) { ownContext()->status = status; }
VEXAPI int vexGetErrMode(void) { return ownContext()->mode; }
VEXAPI void vexSetErrMode(int mode) { ownContext()->mode = mode; }

VEXAPI VexErrorReport* vexRedirectError(VexErrorReport* fn) {
    VexContext* ctx = ownContext();
    VexErrorReport* previous = ctx->report;
    ctx->report = fn ? fn : vexGuiBoxReport;
    return previous;
}

VEXAPI int vexError(int status, const char* funcName, const char* context, const char* file,
                    int line) {
    VexContext* ctx = ownContext();
    if (status != VEX_StsBackTrace && status != VEX_StsAutoTrace) ctx->status = status;
    if (status == VEX_StsOk) return 0;
    return ctx->report(status, funcName, context, file, line);
}

VEXAPI const char* vexErrorStr(int status) {
    if (status <= 0 && status >= -8) return kStatusText[-status];
    VexContext* ctx = ownContext();
    std::snprintf(ctx->errorText, sizeof ctx->errorText, "Unknown %s code %d",
                  status < 0 ? "error" : "status", status);
    return ctx->errorText;
}

VEXAPI VexContext* vexUndContext(void) { return ownContext(); }

VEXAPI int vexGuiBoxReport(int status, const char* funcName, const char* context, const char* file,
                           int line) {
    using namespace vex::platform;
    const int mode = ownContext()->mode;
    if (mode == VEX_ErrModeSilent) return status;
    if (!funcName) funcName = "<unknown>";
    if (!context) context = "";
    if (!file) file = "";
    if (line < 0) line = 0;

    const char* suffix = mode == VEX_ErrModeLeaf
                             ? "\n\nErrMode=VEX_ErrorModeLeaf\n\nTerminate the application?"
                         : mode == VEX_ErrModeParent ? "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?"
                                                     : "";
    const char* format = status == VEX_StsBackTrace   ? "called from [%s:%d]:%s():\n%s%s"
                         : status == VEX_StsAutoTrace ? "called from [%s:%d]:\n%s(%s)%s"
                                                      : "in function [%s:%d]:%s():\n%s%s";
    const size_t size = std::strlen(context) + std::strlen(file) + std::strlen(funcName) + 200;
    auto* body = static_cast<char*>(vexMalloc(static_cast<int>(size)));
    if (!body) return status;
    std::snprintf(body, size, format, file, line, funcName, context, suffix);

    char caption[128];
    std::snprintf(caption, sizeof caption, "VEX Library Error: %s", vexErrorStr(vexGetErrStatus()));

    bool terminate = false;
    if (mode == VEX_ErrModeParent)
        terminate = ownMessageBox(body, caption, Buttons::OkCancel) == Answer::Cancel;
    else if (mode == VEX_ErrModeLeaf)
        terminate = ownMessageBox(body, caption, Buttons::YesNo) == Answer::Yes;
    vexFree(body);
    if (terminate) ownTerminate();
    return status;
}

// When file is null but line is positive, the file part prints as "<unknown>".
VEXAPI int vexStdErrReport(int status, const char* funcName, const char* context, const char* file,
                           int line) {
    const int mode = ownContext()->mode;
    if (mode == VEX_ErrModeSilent) return status;
    const bool trace = status == VEX_StsBackTrace || status == VEX_StsAutoTrace;
    if (trace)
        std::fputs("\tcalled from", stderr);
    else
        std::fprintf(stderr, "\nVEX Library Error: %s \n\tin function", vexErrorStr(status));
    if (line > 0 || file) std::fprintf(stderr, " [%s:%d]", file ? file : "<unknown>", line);
    std::fprintf(stderr, ":%s", funcName ? funcName : "<unknown>");
    if (context) std::fprintf(stderr, status == VEX_StsAutoTrace ? "(%s)" : "(): %s", context);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    if (mode == VEX_ErrModeLeaf) {
        std::fputs("VEX Library Error\nErrMode=VEX_ErrModeLeaf\nterminating the application", stderr);
        std::fflush(stderr);
        std::exit(1);
    }
    return status;
}

VEXAPI int vexNulDevReport(int status, const char*, const char*, const char*, int) {
    if (ownContext()->mode == VEX_ErrModeLeaf) std::exit(1);
    return status;
}

}  // extern "C"
