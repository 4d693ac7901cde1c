// Per-thread context, status texts, vexError, the three report functions,
// aligned memory and the version record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "vexlib.h"
#include "vextest.h"

namespace {

using testing::ExitedWithCode;
using Text = testing::Matcher<const std::string&>;  // exact stderr of a child

// Saves and restores the calling thread's status, mode and report function.
struct FrameState {
    int status = vexGetErrStatus(), mode = vexGetErrMode();
    VexErrorReport* report = vexRedirectError(nullptr);
    FrameState() { vexRedirectError(report); }
    ~FrameState() {
        vexSetErrStatus(status);
        vexSetErrMode(mode);
        vexRedirectError(report);
    }
};

int returns77(int, const char*, const char*, const char*, int) { return 77; }

TEST(Frame, EachThreadHasItsOwnContext) {
    FrameState keep;
    vexSetErrMode(VEX_ErrModeSilent);
    vexSetErrStatus(VEX_StsInternal);
    vexRedirectError(vexNulDevReport);

    struct Seen {
        int status0, mode0;
        VexErrorReport* report0;
        int status, mode;
        VexErrorReport* report;
        std::string text;
        VexContext* context;
        size_t reports;
    };
    std::atomic<int> ready{0};
    auto worker = [&](int mode, int status, VexErrorReport* fn, int unknown, Seen* seen) {
        seen->status0 = vexGetErrStatus();
        seen->mode0 = vexGetErrMode();
        seen->report0 = vexRedirectError(fn);
        vexSetErrMode(mode);
        vexSetErrStatus(status);
        const char* text = vexErrorStr(unknown);
        {
            vt::ReportLog log(mode);
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();  // both threads have set theirs
            vexError(status, "worker", "own report", "thread", unknown);
            seen->reports = log.size();
        }
        seen->text = text;
        seen->context = vexUndContext();
        seen->status = vexGetErrStatus();
        seen->mode = vexGetErrMode();
        seen->report = vexRedirectError(nullptr);
    };
    Seen a{}, b{};
    std::thread ta(worker, VEX_ErrModeParent, VEX_StsBadArg, vexStdErrReport, 5, &a);
    std::thread tb(worker, 7, VEX_StsNoMem, returns77, -12, &b);
    ta.join();
    tb.join();

    for (const Seen* s : {&a, &b}) {
        EXPECT_EQ(s->status0, VEX_StsOk);
        EXPECT_EQ(s->mode0, VEX_ErrModeLeaf);
        EXPECT_EQ(s->report0, vexGuiBoxReport);
        EXPECT_EQ(s->reports, 1u);
        EXPECT_NE(s->context, vexUndContext());
    }
    EXPECT_NE(a.context, b.context);
    EXPECT_EQ(a.status, VEX_StsBadArg);
    EXPECT_EQ(a.mode, VEX_ErrModeParent);
    EXPECT_EQ(a.report, vexStdErrReport);
    EXPECT_EQ(a.text, "Unknown status code 5");
    EXPECT_EQ(b.status, VEX_StsNoMem);
    EXPECT_EQ(b.mode, 7);
    EXPECT_EQ(b.report, returns77);
    EXPECT_EQ(b.text, "Unknown error code -12");
    // The main thread kept what it set.
    EXPECT_EQ(vexGetErrStatus(), VEX_StsInternal);
    EXPECT_EQ(vexGetErrMode(), VEX_ErrModeSilent);
    EXPECT_EQ(vexRedirectError(vexNulDevReport), vexNulDevReport);
}

TEST(Frame, StatusTexts) {
    const char* const kTexts[] = {"No Error",      "Backtrace",     "Unknown error",
                                  "Internal error (bad state)",     "Out of memory",
                                  "Bad argument",  "Unsupported function",
                                  "Iteration convergence failed",   "Autotrace call"};
    for (int i = 0; i <= 8; ++i) EXPECT_STREQ(vexErrorStr(-i), kTexts[i]) << -i;

    const struct {
        int status;
        const char* text;
    } kUnknown[] = {{1, "Unknown status code 1"},
                    {5, "Unknown status code 5"},
                    {-9, "Unknown error code -9"},
                    {-12, "Unknown error code -12"},
                    {INT_MAX, "Unknown status code 2147483647"},
                    {INT_MIN, "Unknown error code -2147483648"}};
    for (const auto& u : kUnknown) EXPECT_STREQ(vexErrorStr(u.status), u.text);
    // One buffer per thread, overwritten by the next unknown code.
    const char* first = vexErrorStr(5);
    const char* second = vexErrorStr(-9);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "Unknown error code -9");
}

TEST(Frame, ErrorRecordsStatusAndCallsReport) {
    FrameState keep;
    vt::ReportLog log;
    vexSetErrStatus(VEX_StsBadArg);
    EXPECT_EQ(vexError(VEX_StsOk, "f", "c", "x", 1), 0);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    EXPECT_EQ(log.size(), 0u);

    EXPECT_EQ(vexError(VEX_StsNoMem, "vexAdd", "(a != b)", "vexadd", 42), VEX_StsNoMem);
    EXPECT_EQ(vexError(VEX_StsBackTrace, "vexAbs", "", "vexabs", 7), VEX_StsBackTrace);
    EXPECT_EQ(vexError(VEX_StsAutoTrace, "user", "note", "app", 3), VEX_StsAutoTrace);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsNoMem) << "trail entries must not overwrite the status";
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].status, VEX_StsNoMem);
    EXPECT_EQ(log[0].funcName, "vexAdd");
    EXPECT_EQ(log[0].context, "(a != b)");
    EXPECT_EQ(log[0].file, "vexadd");
    EXPECT_EQ(log[0].line, 42);
    EXPECT_EQ(log[1].status, VEX_StsBackTrace);
    EXPECT_EQ(log[2].status, VEX_StsAutoTrace);

    for (int status : {3, -6, -100}) {
        vexError(status, "f", "c", "x", 1);
        EXPECT_EQ(vexGetErrStatus(), status);
    }
    // vexError returns what the report function returns.
    vexRedirectError(returns77);
    EXPECT_EQ(vexError(VEX_StsError, "f", "c", "x", 1), 77);
}

TEST(Frame, RedirectNullInstallsMessageBox) {
    FrameState keep;
    vexRedirectError(vexStdErrReport);
    EXPECT_EQ(vexRedirectError(nullptr), vexStdErrReport);
    EXPECT_EQ(vexRedirectError(vexNulDevReport), vexGuiBoxReport);
    vexSetErrMode(12345);
    EXPECT_EQ(vexGetErrMode(), 12345);
}

struct StdErrCase {
    int status;
    const char *func, *context, *file;
    int line;
    const char* text;
};

TEST(Frame, StdErrReportText) {
    FrameState keep;
    vexSetErrMode(VEX_ErrModeParent);
    vexSetErrStatus(VEX_StsNoMem);  // the text names the status argument, not this
    const StdErrCase kCases[] = {
        {-5, "vexAdd", "srcImage==0", "vexadd", 42,
         "\nVEX Library Error: Bad argument \n\tin function [vexadd:42]:vexAdd(): srcImage==0\n"},
        {-1, "vexAbs", "", "vexabs", 7, "\tcalled from [vexabs:7]:vexAbs(): \n"},
        {-8, "user", "note", "app.c", 3, "\tcalled from [app.c:3]:user(note)\n"},
        {-5, "f", "c", nullptr, 0, "\nVEX Library Error: Bad argument \n\tin function:f(): c\n"},
        {-5, "f", "c", nullptr, 9,
         "\nVEX Library Error: Bad argument \n\tin function [<unknown>:9]:f(): c\n"},
        {-5, "f", "c", "x", 0, "\nVEX Library Error: Bad argument \n\tin function [x:0]:f(): c\n"},
        {-5, "f", nullptr, "x", 1, "\nVEX Library Error: Bad argument \n\tin function [x:1]:f\n"},
        {-8, "f", nullptr, "x", 1, "\tcalled from [x:1]:f\n"},
        {-2, nullptr, "c", "x", 1,
         "\nVEX Library Error: Unknown error \n\tin function [x:1]:<unknown>(): c\n"},
        {3, "f", "c", "x", 1,
         "\nVEX Library Error: Unknown status code 3 \n\tin function [x:1]:f(): c\n"},
    };
    for (const auto& k : kCases) {
        int result = 0;
        const std::string out = vt::captureStderr(
            [&] { result = vexStdErrReport(k.status, k.func, k.context, k.file, k.line); });
        EXPECT_EQ(out, k.text);
        EXPECT_EQ(result, k.status);
    }
}

TEST(Frame, SilentModeReportsNothing) {
    FrameState keep;
    vexSetErrMode(VEX_ErrModeSilent);
    for (VexErrorReport* fn : {vexStdErrReport, vexNulDevReport, vexGuiBoxReport}) {
        vexRedirectError(fn);
        int result = 0;
        EXPECT_EQ(vt::captureStderr([&] { result = vexError(VEX_StsBadArg, "f", "c", "x", 1); }), "");
        EXPECT_EQ(result, VEX_StsBadArg);
        EXPECT_EQ(vexGetErrStatus(), VEX_StsBadArg);
        EXPECT_EQ(vt::captureStderr([&] { result = fn(VEX_StsBackTrace, "f", "c", "x", 1); }), "");
        EXPECT_EQ(result, VEX_StsBackTrace);
    }
}

// ---------------------------------------------------------------------------
// Leaf-mode termination, in child processes.

TEST(FrameDeathTest, LeafStdErrReportTerminates) {
    EXPECT_EXIT(
        {
            vexSetErrMode(VEX_ErrModeLeaf);
            vexStdErrReport(VEX_StsBadArg, "vexSet", "(image->depth == 1)", "vexSCE", 12);
        },
        ExitedWithCode(1),
        Text("\nVEX Library Error: Bad argument \n\tin function [vexSCE:12]:vexSet(): "
             "(image->depth == 1)\nVEX Library Error\nErrMode=VEX_ErrModeLeaf\n"
             "terminating the application"));
}

TEST(FrameDeathTest, LeafNulDevReportTerminatesSilently) {
    EXPECT_EXIT(
        {
            vexSetErrMode(VEX_ErrModeLeaf);
            vexRedirectError(vexNulDevReport);
            vexError(VEX_StsNoMem, "f", "c", "x", 1);
        },
        ExitedWithCode(1), Text(""));
}

// The message box substitute asks on the controlling terminal; a child in a
// new session has none, so every box takes its first (default) button.
void detachFromTerminal() {
    if (::setsid() < 0) std::_Exit(90);
}

TEST(FrameDeathTest, GuiBoxLeafAnswersYesAndTerminates) {
    EXPECT_EXIT(
        {
            detachFromTerminal();
            vexSetErrMode(VEX_ErrModeLeaf);
            vexSetErrStatus(VEX_StsNoMem);
            vexGuiBoxReport(VEX_StsBackTrace, "vexAbs", "", "vexabs", 9);
        },
        ExitedWithCode(1),
        Text("[VEX Library Error: Out of memory]\ncalled from [vexabs:9]:vexAbs():\n"
             "\n\nErrMode=VEX_ErrorModeLeaf\n\nTerminate the application?\n"
             "VEX Library:\nterminating the application\n"));
}

TEST(FrameDeathTest, GuiBoxParentAnswersOkAndContinues) {
    EXPECT_EXIT(
        {
            detachFromTerminal();
            vexSetErrMode(VEX_ErrModeParent);
            vexSetErrStatus(VEX_StsBadArg);
            bool ok = vexGuiBoxReport(VEX_StsBadArg, "vexAdd", "srcImage==0", "vexadd", 42) ==
                      VEX_StsBadArg;
            ok &= vexGuiBoxReport(VEX_StsAutoTrace, "user", "note", "app", 3) == VEX_StsAutoTrace;
            ok &= vexGuiBoxReport(VEX_StsError, nullptr, nullptr, nullptr, -4) == VEX_StsError;
            vexSetErrStatus(3);
            ok &= vexGuiBoxReport(VEX_StsBackTrace, "g", "h", "y", 1) == VEX_StsBackTrace;
            std::fflush(stderr);
            std::_Exit(ok ? 0 : 2);
        },
        ExitedWithCode(0),
        Text("[VEX Library Error: Bad argument]\nin function [vexadd:42]:vexAdd():\nsrcImage==0"
             "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?\n"
             "[VEX Library Error: Bad argument]\ncalled from [app:3]:\nuser(note)"
             "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?\n"
             "[VEX Library Error: Bad argument]\nin function [:0]:<unknown>():\n"
             "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?\n"
             "[VEX Library Error: Unknown status code 3]\ncalled from [y:1]:g():\nh"
             "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?\n"));
}

TEST(FrameDeathTest, GuiBoxOtherModesShowNothing) {
    EXPECT_EXIT(
        {
            detachFromTerminal();
            bool ok = true;
            for (int mode : {VEX_ErrModeSilent, 7, -1}) {
                vexSetErrMode(mode);
                ok &= vexGuiBoxReport(VEX_StsBadArg, "f", "c", "x", 1) == VEX_StsBadArg;
            }
            std::fflush(stderr);
            std::_Exit(ok ? 0 : 2);
        },
        ExitedWithCode(0), Text(""));
}

// ---------------------------------------------------------------------------
// Memory and version.

TEST(Frame, AllocationAlignmentAndRawWord) {
    using Alloc = void* (*)(int);
    const struct {
        Alloc fn;
        int elem;
    } kAllocs[] = {
        {[](int n) -> void* { return vexMalloc(n); }, 1},
        {[](int n) -> void* { return vexwMalloc(n); }, 2},
        {[](int n) -> void* { return vexiMalloc(n); }, 4},
        {[](int n) -> void* { return vexsMalloc(n); }, 4},
        {[](int n) -> void* { return vexdMalloc(n); }, 8},
    };
    vexSetErrStatus(VEX_StsOk);
    for (const auto& a : kAllocs) {
        for (int n : {0, 1, 2, 3, 5, 7, 8, 13, 64, 1000, 4097}) {
            void* p = a.fn(n);
            ASSERT_NE(p, nullptr) << n;
            const auto addr = reinterpret_cast<uintptr_t>(p);
            EXPECT_EQ(addr % 8, 0u);
            // The raw block's address sits just below; the data starts at the
            // lowest multiple of 8 at least one pointer above it.
            const auto raw = reinterpret_cast<uintptr_t>(static_cast<void**>(p)[-1]);
            EXPECT_EQ(addr, (raw + sizeof(void*) + 7) & ~uintptr_t(7)) << n;
            std::memset(p, 0x5A, size_t(n) * a.elem);  // the whole block is usable
            vexFree(p);
        }
        EXPECT_EQ(a.fn(-1), nullptr);
        EXPECT_EQ(a.fn(INT_MIN), nullptr);
    }
    vexFree(nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Frame, VersionRecord) {
    const VexLibVersion* v = vexGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, vexGetLibVersion());
    EXPECT_EQ(v->majorVersion, 1);
    EXPECT_EQ(v->minorVersion, 3);
    EXPECT_EQ(v->buildNumber, 3);
    EXPECT_STREQ(v->fileName, "vexlib.dll");
    EXPECT_STREQ(v->versionText, "v1.0 Beta 3");
    EXPECT_STREQ(v->releaseStamp, "[1.03.03, 06/30/97]");
    EXPECT_STREQ(v->compileDate, "Jul  7 1997");
    EXPECT_STREQ(v->linkage, "DLL");
}

}  // namespace
