// Per-thread context, status texts, vexError, the three report functions,
// aligned memory and the version record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "vexlib.h"
#include "vextest.h"

namespace {

// The calling thread's status cleared, and its mode and report function
// restored, when a test ends.
struct FrameState {
    vt::StatusReset status;
    vt::ReportLog log;
};

int returns77(int, const char*, const char*, const char*, int) { return 77; }

// Two threads start from the defaults, set their own state concurrently and
// see only their own; the main thread keeps what it set.
TEST(Frame, EachThreadHasItsOwnContext) {
    FrameState keep;
    vexSetErrMode(VEX_ErrModeSilent), vexSetErrStatus(VEX_StsInternal);
    vexRedirectError(vexNulDevReport);
    struct Seen {
        int status0, mode0, status, mode;
        VexErrorReport *report0, *report;
        std::string text;
        VexContext* context;
        size_t reports;
    } a{}, b{};
    std::atomic<int> ready{0};
    auto worker = [&](int mode, int status, VexErrorReport* fn, int unknown, Seen* s) {
        s->status0 = vexGetErrStatus(), s->mode0 = vexGetErrMode();
        s->report0 = vexRedirectError(fn);
        vexSetErrMode(mode), vexSetErrStatus(status);
        const char* text = vexErrorStr(unknown);
        {
            vt::ReportLog log(mode);
            ++ready;
            while (ready.load() < 2) std::this_thread::yield();  // both have set theirs
            vexError(status, "worker", "own report", "thread", unknown);
            s->reports = log.size();
        }
        s->text = text, s->context = vexUndContext();
        s->status = vexGetErrStatus(), s->mode = vexGetErrMode();
        s->report = vexRedirectError(nullptr);
    };
    std::thread ta(worker, VEX_ErrModeParent, VEX_StsBadArg, vexStdErrReport, 5, &a);
    std::thread tb(worker, 7, VEX_StsNoMem, returns77, -12, &b);
    ta.join(), tb.join();
    for (const Seen* s : {&a, &b}) {
        EXPECT_EQ(std::make_tuple(s->status0, s->mode0, s->report0, s->reports),
                  std::make_tuple(VEX_StsOk, VEX_ErrModeLeaf, &vexGuiBoxReport, size_t(1)));
        EXPECT_NE(s->context, vexUndContext());
    }
    EXPECT_NE(a.context, b.context);
    EXPECT_EQ(std::make_tuple(a.status, a.mode, a.report, a.text),
              std::make_tuple(VEX_StsBadArg, VEX_ErrModeParent, &vexStdErrReport,
                              std::string("Unknown status code 5")));
    EXPECT_EQ(std::make_tuple(b.status, b.mode, b.report, b.text),
              std::make_tuple(VEX_StsNoMem, 7, &returns77, std::string("Unknown error code -12")));
    EXPECT_EQ(vexGetErrStatus(), VEX_StsInternal);
    EXPECT_EQ(vexGetErrMode(), VEX_ErrModeSilent);
    EXPECT_EQ(vexRedirectError(nullptr), vexNulDevReport);  // and null installs the box
    EXPECT_EQ(vexRedirectError(vexNulDevReport), vexGuiBoxReport);
}

TEST(Frame, StatusTexts) {
    const char* const kTexts[] = {"No Error", "Backtrace", "Unknown error",
                                  "Internal error (bad state)", "Out of memory", "Bad argument",
                                  "Unsupported function", "Iteration convergence failed",
                                  "Autotrace call"};
    for (int i = 0; i <= 8; ++i) EXPECT_STREQ(vexErrorStr(-i), kTexts[i]) << -i;
    const std::pair<int, const char*> kUnknown[] = {
        {1, "Unknown status code 1"}, {-9, "Unknown error code -9"},
        {INT_MAX, "Unknown status code 2147483647"}, {INT_MIN, "Unknown error code -2147483648"}};
    for (const auto& [status, text] : kUnknown) EXPECT_STREQ(vexErrorStr(status), text);
    // One buffer per thread, overwritten by the next unknown code.
    const char* first = vexErrorStr(5);
    EXPECT_EQ(vexErrorStr(-9), first);
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
    EXPECT_EQ(std::tie(log[0].status, log[0].funcName, log[0].context, log[0].file, log[0].line),
              std::make_tuple(VEX_StsNoMem, "vexAdd", "(a != b)", "vexadd", 42));
    EXPECT_EQ(log[1].status, VEX_StsBackTrace);
    EXPECT_EQ(log[2].status, VEX_StsAutoTrace);
    for (int status : {3, -6, -100}) {
        vexError(status, "f", "c", "x", 1);
        EXPECT_EQ(vexGetErrStatus(), status);
    }
    vexRedirectError(returns77);  // vexError returns what the report function returns
    EXPECT_EQ(vexError(VEX_StsError, "f", "c", "x", 1), 77);
    vexSetErrMode(12345);  // stored unchecked
    EXPECT_EQ(vexGetErrMode(), 12345);
}

TEST(Frame, StdErrReportText) {
    FrameState keep;
    vexSetErrMode(VEX_ErrModeParent);
    vexSetErrStatus(VEX_StsNoMem);  // the text names the status argument, not this
    const std::string E = "\nVEX Library Error: Bad argument \n\tin function";
    const std::pair<std::tuple<int, const char*, const char*, const char*, int>, std::string> kCases[] = {
        {{-5, "vexAdd", "srcImage==0", "vexadd", 42}, E + " [vexadd:42]:vexAdd(): srcImage==0\n"},
        {{-1, "vexAbs", "", "vexabs", 7}, "\tcalled from [vexabs:7]:vexAbs(): \n"},
        {{-8, "user", "note", "app.c", 3}, "\tcalled from [app.c:3]:user(note)\n"},
        {{-5, "f", "c", nullptr, 0}, E + ":f(): c\n"},
        {{-5, "f", "c", nullptr, 9}, E + " [<unknown>:9]:f(): c\n"},
        {{-5, "f", "c", "x", 0}, E + " [x:0]:f(): c\n"},
        {{-5, "f", nullptr, "x", 1}, E + " [x:1]:f\n"},
        {{-8, "f", nullptr, "x", 1}, "\tcalled from [x:1]:f\n"},
        {{-2, nullptr, "c", "x", 1}, "\nVEX Library Error: Unknown error \n\tin function [x:1]:<unknown>(): c\n"},
        {{3, "f", "c", "x", 1}, "\nVEX Library Error: Unknown status code 3 \n\tin function [x:1]:f(): c\n"},
    };
    for (const auto& [args, text] : kCases) {
        int result = 0;
        EXPECT_EQ(vt::captureStderr([&, &args = args] { result = std::apply(vexStdErrReport, args); }), text);
        EXPECT_EQ(result, std::get<0>(args));
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

// The report functions that may end the process, each in a child. The message
// box substitute asks on the controlling terminal; a child in a new session
// has none, so every box takes its first (default) button.
TEST(FrameDeathTest, ReportsThatTerminateOrContinue) {
    const std::string box = "\n\nErrMode=VEX_ErrorModeParent\n\nContinue?\n";
    const struct {
        const char* name;
        std::function<void()> child;
        int code;
        std::string text;
    } kCases[] = {
        {"stderr, Leaf", [] {
             vexSetErrMode(VEX_ErrModeLeaf);
             vexStdErrReport(VEX_StsBadArg, "vexSet", "(image->depth == 1)", "vexSCE", 12);
         }, 1, "\nVEX Library Error: Bad argument \n\tin function [vexSCE:12]:vexSet(): "
               "(image->depth == 1)\nVEX Library Error\nErrMode=VEX_ErrModeLeaf\n"
               "terminating the application"},
        {"null device, Leaf", [] {
             vexSetErrMode(VEX_ErrModeLeaf);
             vexRedirectError(vexNulDevReport);
             vexError(VEX_StsNoMem, "f", "c", "x", 1);
         }, 1, ""},
        {"box, Leaf: Yes terminates", [] {
             vexSetErrMode(VEX_ErrModeLeaf), vexSetErrStatus(VEX_StsNoMem);
             vexGuiBoxReport(VEX_StsBackTrace, "vexAbs", "", "vexabs", 9);
         }, 1, "[VEX Library Error: Out of memory]\ncalled from [vexabs:9]:vexAbs():\n"
               "\n\nErrMode=VEX_ErrorModeLeaf\n\nTerminate the application?\n"
               "VEX Library:\nterminating the application\n"},
        {"box, Parent: OK continues; other modes show nothing", [] {
             vexSetErrMode(VEX_ErrModeParent), vexSetErrStatus(VEX_StsBadArg);
             bool ok = vexGuiBoxReport(VEX_StsBadArg, "vexAdd", "srcImage==0", "vexadd", 42) == VEX_StsBadArg;
             ok &= vexGuiBoxReport(VEX_StsAutoTrace, "user", "note", "app", 3) == VEX_StsAutoTrace;
             ok &= vexGuiBoxReport(VEX_StsError, nullptr, nullptr, nullptr, -4) == VEX_StsError;
             vexSetErrStatus(3);
             ok &= vexGuiBoxReport(VEX_StsBackTrace, "g", "h", "y", 1) == VEX_StsBackTrace;
             for (int mode : {VEX_ErrModeSilent, 7, -1}) {
                 vexSetErrMode(mode);
                 ok &= vexGuiBoxReport(VEX_StsBadArg, "f", "c", "x", 1) == VEX_StsBadArg;
             }
             std::fflush(stderr);
             std::_Exit(ok ? 0 : 2);
         }, 0, "[VEX Library Error: Bad argument]\nin function [vexadd:42]:vexAdd():\nsrcImage==0" + box +
               "[VEX Library Error: Bad argument]\ncalled from [app:3]:\nuser(note)" + box +
               "[VEX Library Error: Bad argument]\nin function [:0]:<unknown>():\n" + box +
               "[VEX Library Error: Unknown status code 3]\ncalled from [y:1]:g():\nh" + box},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.name);
        EXPECT_EXIT(
            {
                if (::setsid() < 0) std::_Exit(90);
                k.child();
            },
            testing::ExitedWithCode(k.code), testing::Eq(k.text));
    }
}

TEST(Frame, AllocationAlignmentAndRawWord) {
    const std::pair<void* (*)(int), int> kAllocs[] = {
        {vexMalloc, 1}, {[](int n) -> void* { return vexwMalloc(n); }, 2}, {[](int n) -> void* { return vexiMalloc(n); }, 4},
        {[](int n) -> void* { return vexsMalloc(n); }, 4}, {[](int n) -> void* { return vexdMalloc(n); }, 8}};
    vexSetErrStatus(VEX_StsOk);
    for (const auto& [alloc, elem] : kAllocs) {
        for (int n : {0, 1, 3, 7, 8, 13, 1000, 4097}) {
            void* p = alloc(n);
            ASSERT_NE(p, nullptr) << n;
            // The data starts at the lowest multiple of 8 at least one pointer
            // above the raw block, whose address sits in the word just below.
            const auto addr = reinterpret_cast<uintptr_t>(p);
            const auto raw = reinterpret_cast<uintptr_t>(static_cast<void**>(p)[-1]);
            EXPECT_EQ(addr, (raw + sizeof(void*) + 7) & ~uintptr_t(7)) << n;
            std::memset(p, 0x5A, size_t(n) * elem);  // the whole block is usable
            vexFree(p);
        }
        EXPECT_EQ(alloc(-1), nullptr);
        EXPECT_EQ(alloc(INT_MIN), nullptr);
    }
    vexFree(nullptr);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Frame, VersionRecord) {
    const VexLibVersion* v = vexGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, vexGetLibVersion());
    EXPECT_EQ(std::make_tuple(v->majorVersion, v->minorVersion, v->buildNumber, std::string(v->fileName),
                              std::string(v->versionText), std::string(v->releaseStamp),
                              std::string(v->compileDate), std::string(v->linkage)),
              std::make_tuple(1, 3, 3, "vexlib.dll", "v1.0 Beta 3", "[1.03.03, 06/30/97]", "Jul  7 1997", "DLL"));
}

}  // namespace
