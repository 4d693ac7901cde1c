// Many threads at once: every thread calls operations of every family on its
// own images, with its own error mode and its own report function, provokes
// its own failures, and must see exactly its own statuses and reports and
// exactly the results one thread alone computes. Kernels, colour twists and
// lookup tables made once are read by all threads together; the FFT and DCT
// tables are the calling thread's own, so threads transform different sizes
// at the same time; the jitter tables of the bit reduction are process-wide,
// so jittered calls run under the test's lock, as a caller must arrange.
// Built with -DVEXLIB_TSAN=ON this test is the ThreadSanitizer check.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vextest.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2;

// ---------------------------------------------------------------- reports
// One report function per thread; each writes only its own log and notes a
// call that arrives on a thread other than its owner.
struct Rec {
    int status;
    std::string func;
    bool operator==(const Rec& o) const { return status == o.status && func == o.func; }
};
struct ThreadLog {
    std::vector<Rec> recs;
    int foreign = 0;
};
ThreadLog g_logs[kThreads];
thread_local int t_index = -1;

template <int N>
int reportTo(int status, const char* funcName, const char*, const char*, int) {
    if (t_index != N) ++g_logs[N].foreign;
    g_logs[N].recs.push_back({status, funcName ? funcName : ""});
    return status;
}
template <size_t... I>
constexpr std::array<VexErrorReport*, sizeof...(I)> reporters(std::index_sequence<I...>) {
    return {reportTo<int(I)>...};
}
const auto kReporters = reporters(std::make_index_sequence<kThreads>());

// ---------------------------------------------------------------- shared records
// Made once before the threads start and only read while they run.
struct Shared {
    const signed char k3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1}, k5[5] = {1, -4, 6, -4, 1};
    const int twistData[16] = {2, 1, 0, 3, 0, 2, 1, -7, 1, 0, 2, 9, 0, 0, 0, 4};
    VexConvKernel* kernel = vexCreateConvKernel(3, 3, 1, 1, k3, 4);
    VexConvKernel* kx = vexCreateConvKernel(1, 5, 2, 0, k5, 0);
    VexConvKernel* ky = vexCreateConvKernel(5, 1, 0, 2, k5, 2);
    VexColorTwist* twist = vexCreateColorTwist(twistData, 2);
    int keys[3] = {0, 100, 256}, values[3] = {10, 200, 0}, factors[3] = {1, 0, 0};
    VexLUT lut{3, keys, values, factors, 1};
    VexLUT* luts[3] = {&lut, &lut, &lut};
    ~Shared() {
        for (VexConvKernel* k : {kernel, kx, ky}) vexDeleteConvKernel(k);
        vexDeleteColorTwist(twist);
    }
};
Shared* g_shared = nullptr;
std::mutex g_jitterLock;

// ---------------------------------------------------------------- cases
vt::Image pat(unsigned depth, int ch, int h, int w, uint32_t key) {
    vt::Image im(depth, ch, h, w);
    im.fillPattern(key);
    return im;
}

// Breaks a header for the length of a call (a channel count no image may
// have) and mends it afterwards, so the image can be read and released.
struct Broken {
    VexImage* h;
    int saved;
    Broken(VexImage* image, bool on) : h(on ? image : nullptr), saved(image->nChannels) {
        if (h) h->nChannels = 0;
    }
    ~Broken() {
        if (h) h->nChannels = saved;
    }
};

constexpr int kH = 24, kW = 32;
using Bytes = std::vector<uint8_t>;
void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Calls `call` with the header of `d` broken when `br`; returns d's bytes.
template <class F>
Bytes into(vt::ImageBase& d, bool br, F call) {
    { Broken x(d.get(), br); call(); }
    return d.bytes();
}
// The common shape: a pattern-filled h x w source of depth sd (key), a
// destination of depth dd, `call(src, dst)`.
template <class F>
Bytes unary(unsigned sd, unsigned dd, int ch, uint32_t key, bool br, F call, int h = kH, int w = kW) {
    vt::Image a = pat(sd, ch, h, w, key), d(dd, ch, h, w);
    return into(d, br, [&] { call(a.get(), d.get()); });
}
template <class F>
Bytes binary(unsigned depth, int ch, uint32_t keyA, uint32_t keyB, bool br, F call, int w = kW) {
    vt::Image a = pat(depth, ch, kH, w, keyA), b = pat(depth, ch, kH, w, keyB), d(depth, ch, kH, w);
    return into(d, br, [&] { call(a.get(), b.get(), d.get()); });
}

// A case builds its own images (size from `variant`), runs one operation
// (its destination header broken when `broken`) and returns the bytes the
// operation may have written.
struct Case {
    const char* name;
    std::function<Bytes(int variant, bool broken)> run;
};

constexpr unsigned k1U = VEX_DEPTH_1U, k8U = VEX_DEPTH_8U, k8S = VEX_DEPTH_8S, k16U = VEX_DEPTH_16U,
                   k16S = VEX_DEPTH_16S, k32S = VEX_DEPTH_32S;
using Im = VexImage*;

const std::vector<Case>& cases() {
    static const std::vector<Case> list = {
        // Arithmetic and logic.
        {"vexAdd", [](int v, bool br) { return binary(k8U, 3, 1, 2, br, [](Im a, Im b, Im d) { vexAdd(a, b, d, nullptr); }, kW + v); }},
        {"vexSubtract", [](int v, bool br) { return binary(k16S, 2, 3 + v, 4, br, [](Im a, Im b, Im d) { vexSubtract(a, b, d, 1, nullptr); }); }},
        {"vexMultiplyS", [](int v, bool br) { return unary(k16U, k16U, 1, 5 + v, br, [v](Im a, Im d) { vexMultiplyS(a, d, 3 + v, nullptr); }); }},
        {"vexXorS", [](int v, bool br) { return unary(k32S, k32S, 1, 6, br, [v](Im a, Im d) { vexXorS(a, d, 0x5A5A + v, nullptr); }); }},
        {"vexRShiftS", [](int v, bool br) { return unary(k8S, k8S, 3, 7, br, [v](Im a, Im d) { vexRShiftS(a, d, 1 + v, nullptr); }); }},
        {"vexThreshold", [](int v, bool br) { return unary(k8U, k8U, 1, 8, br, [v](Im a, Im d) { vexThreshold(a, d, 100 + v, nullptr); }); }},
        // Tiled images: the caller's tile callback on every thread.
        {"vexAdd", [](int v, bool br) {
             vt::TiledImage a(k8U, 3, kH, kW, 8, 8), b(k8U, 3, kH, kW, 8, 8), d(k8U, 3, kH, kW, 8 + 8 * v, 8);
             a.fillPattern(9), b.fillPattern(10);
             return into(d, br, [&] { vexAdd(a.get(), b.get(), d.get(), nullptr); });
         }},
        // Data movement.
        {"vexCopy", [](int v, bool br) {
             vt::Image a = pat(k16U, 3, kH, kW, 11), d(k16U, 3, kH, kW);
             a.setRoi(0, 2 + v, 3, 10, 12);
             return into(d, br, [&] { vexCopy(a.get(), d.get(), nullptr); });
         }},
        {"vexMirror", [](int v, bool br) { return unary(k8U, k8U, 3, 12, br, [v](Im a, Im d) { vexMirror(a, d, v - 1, nullptr); }); }},
        {"vexSet", [](int v, bool br) {
             vt::Image d(k8U, 3, kH, kW);
             d.setRoi(0, 1, 1, 5, 7 + v);
             return into(d, br, [&] { vexSet(d.get(), 77, nullptr); });
         }},
        // Conversion.
        {"vexConvert", [](int v, bool br) { return unary(k8U, k16S, 3, 13, br, [v](Im a, Im d) { vexConvert(a, d, v, nullptr); }); }},
        {"vexBitonalToGray", [](int v, bool br) {
             return unary(k1U, k8U, 1, 14, br, [v](Im a, Im d) { vexBitonalToGray(a, d, 20 + v, 200, nullptr); });
         }},
        // Colour.
        {"vexRGB2HSV", [](int v, bool br) {
             return unary(k8U, k8U, 3, 15, br, [](Im a, Im d) {
                 std::memcpy(a->colorSpace, "RGB", 4), std::memcpy(a->channelSeq, "RGB", 4);
                 vexRGB2HSV(a, d, nullptr);
             }, kH, kW + v);
         }},
        {"vexReduceBits", [](int v, bool br) {
             return unary(k16U, k8U, 3, 16, br, [v](Im a, Im d) { vexReduceBits(a, d, 0, v ? 1 : 4, 4, nullptr); });
         }},
        // The jitter tables are the process's: the caller keeps these calls
        // apart, and fixes rand's state to compare results.
        {"vexReduceBits", [](int v, bool br) {
             std::lock_guard<std::mutex> lock(g_jitterLock);
             std::srand(7u + unsigned(v));
             return unary(k16U, k8U, 1, 17, br, [](Im a, Im d) { vexReduceBits(a, d, 3, 1, 3, nullptr); });
         }},
        {"vexApplyColorTwist", [](int v, bool br) {
             return unary(k8U, k8U, 3, 18 + v, br, [](Im a, Im d) { vexApplyColorTwist(a, d, g_shared->twist, 5, nullptr); });
         }},
        // Alpha.
        {"vexMultiplyScale", [](int v, bool br) {
             return binary(k8U, 4, 19, 20 + v, br, [](Im a, Im b, Im d) { vexMultiplyScale(a, b, d, nullptr); });
         }},
        {"vexAlphaCompositeC", [](int v, bool br) {
             return binary(k8U, 4, 21, 22, br, [v](Im a, Im b, Im d) { vexAlphaCompositeC(a, b, d, v, 200, 90, 0, 0, nullptr); });
         }},
        {"vexPreMultiplyAlpha", [](int v, bool br) {
             vt::Image d = pat(k16U, 4, kH, kW, 23);
             return into(d, br, [&] { vexPreMultiplyAlpha(d.get(), 1000 + v, nullptr); });
         }},
        // Statistics: the stretch tables are shared and read-only; a
        // histogram is written into the thread's own records.
        {"vexComputeHisto", [](int v, bool br) {
             vt::Image a = pat(k8U, 3, kH, kW, 24 + v);
             int keys[3][5], values[3][5];
             VexLUT rec[3];
             VexLUT* p[3];
             for (int c = 0; c < 3; ++c) {
                 for (int j = 0; j < 5; ++j) keys[c][j] = 64 * j, values[c][j] = -1;
                 rec[c] = VexLUT{5, keys[c], values[c], nullptr, 0}, p[c] = &rec[c];
             }
             { Broken x(a.get(), br); vexComputeHisto(a.get(), p, nullptr); }
             return Bytes(reinterpret_cast<uint8_t*>(values), reinterpret_cast<uint8_t*>(values) + sizeof values);
         }},
        {"vexContrastStretch", [](int v, bool br) {
             return unary(k8U, k8U, 3, 25 + v, br, [](Im a, Im d) { vexContrastStretch(a, d, g_shared->luts, nullptr); });
         }},
        {"vexNorm", [](int v, bool br) {
             vt::Image a = pat(k16S, 3, kH, kW, 26), b = pat(k16S, 3, kH, kW, 27 + v);
             double n;
             { Broken x(b.get(), br); n = vexNorm(a.get(), b.get(), VEX_NORM_L2); }
             return Bytes(reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + sizeof n);
         }},
        // Filters: one kernel record for all threads.
        {"vexConvolve2D", [](int v, bool br) {
             return unary(k8U, k8U, 3, 28 + v, br, [](Im a, Im d) { vexConvolve2D(a, d, &g_shared->kernel, 1, 0, nullptr); });
         }},
        {"vexConvolveSep2D", [](int v, bool br) {
             return unary(k16S, k16S, 1, 29 + v, br, [](Im a, Im d) { vexConvolveSep2D(a, d, g_shared->kx, g_shared->ky); });
         }},
        {"vexBlur", [](int v, bool br) { return unary(k8U, k8U, 3, 30, br, [v](Im a, Im d) { vexBlur(a, d, 3 + 2 * v, 5, 1, 2); }); }},
        {"vexMedianFilter", [](int v, bool br) {
             return unary(k8U, k8U, 1, 31, br, [v](Im a, Im d) { vexMedianFilter(a, d, 3, 3 + 2 * v, 1, 1, nullptr); });
         }},
        // Morphology.
        {"vexErode", [](int v, bool br) { return unary(k8U, k8U, 3, 32, br, [v](Im a, Im d) { vexErode(a, d, 1 + v, nullptr); }); }},
        {"vexOpen", [](int v, bool br) { return unary(k16U, k16U, 1, 33, br, [v](Im a, Im d) { vexOpen(a, d, 1 + v, nullptr); }); }},
        // Geometry.
        {"vexZoom", [](int v, bool br) {
             vt::Image a = pat(k8U, 3, kH / 2, kW / 2, 34), d(k8U, 3, kH, kW);
             return into(d, br, [&] { vexZoom(a.get(), d.get(), 2, 1, 2, 1, v + 1, nullptr); });
         }},
        {"vexDecimate", [](int v, bool br) {
             vt::Image a = pat(k8U, 3, kH, kW, 35), d(k8U, 3, kH / 2, kW / 2);
             return into(d, br, [&] { vexDecimate(a.get(), d.get(), 1, 2, 1, 2, v + 1, nullptr); });
         }},
        {"vexRotate", [](int v, bool br) {
             return unary(k8U, k8U, 3, 36, br, [v](Im a, Im d) { vexRotate(a, d, 3000 + 1500 * v, 5, 3, 1, nullptr); });
         }},
        // Transforms: each thread keeps its own tables; threads of the two
        // variants transform different sizes at the same time, and the
        // setup kept by one call is reused by the next on the same thread.
        {"vexRealFft2D", [](int v, bool br) {
             vt::Image a = pat(k8U, 1, v ? 16 : 8, v ? 32 : 12, 37), d(k32S, 1, v ? 16 : 8, v ? 32 : 12);
             Bytes out = into(d, br, [&] { vexRealFft2D(a.get(), d.get(), VEX_FFT_FORWARD | VEX_FFT_FLOAT | VEX_FFT_KEEP, nullptr); });
             if (!br) {  // the kept setup, same images
                 d.fillSentinel();
                 vexRealFft2D(a.get(), d.get(), VEX_FFT_FORWARD | VEX_FFT_FLOAT | VEX_FFT_REUSE, nullptr);
                 append(out, d.bytes());
             }
             return out;
         }},
        {"vexCcsFft2D", [](int v, bool br) {
             return unary(k16S, k32S, 1, 38, br, [](Im a, Im d) { vexCcsFft2D(a, d, VEX_FFT_INVERSE | VEX_FFT_INTEGER, nullptr); },
                          v ? 8 : 16, v ? 16 : 10);
         }},
        {"vexDCT2D", [](int v, bool br) {
             return unary(k8U, k16S, 1, 39, br, [](Im a, Im d) { vexDCT2D(a, d, VEX_DCT_FORWARD); }, v ? 16 : 8, v ? 8 : 24);
         }},
    };
    return list;
}

// What one thread alone gets for a call: its bytes and its reports.
struct Outcome {
    Bytes bytes;
    int status = 0;
    std::vector<Rec> recs;
};

Outcome runOne(const Case& c, int variant, bool broken, int logIndex) {
    ThreadLog& log = g_logs[logIndex];
    const size_t before = log.recs.size();
    vexSetErrStatus(VEX_StsOk);
    Outcome o;
    o.bytes = c.run(variant, broken);
    o.status = vexGetErrStatus();
    o.recs.assign(log.recs.begin() + long(before), log.recs.end());
    return o;
}

TEST(Threads, EveryFamilyOnEightThreadsSeesOnlyItsOwnResultsAndReports) {
    Shared shared;
    g_shared = &shared;
    ASSERT_TRUE(shared.kernel && shared.kx && shared.ky && shared.twist);
    const std::vector<Case>& list = cases();
    // One thread alone first: every call succeeds whole, and every broken
    // call fails with the operation's own report.
    std::vector<Outcome> ref[2][2];  // [variant][broken]
    {
        std::thread solo([&] {
            t_index = 0;
            vexSetErrMode(VEX_ErrModeParent);
            vexRedirectError(kReporters[0]);
            for (int v = 0; v < 2; ++v)
                for (int br = 0; br < 2; ++br)
                    for (const Case& c : list) ref[v][br].push_back(runOne(c, v, br != 0, 0));
            vexRealFft2D(nullptr, nullptr, VEX_FFT_FREE, nullptr);
            vexDCT2D(nullptr, nullptr, VEX_DCT_FREE);
        });
        solo.join();
    }
    for (int v = 0; v < 2; ++v)
        for (size_t i = 0; i < list.size(); ++i) {
            const Outcome &ok = ref[v][0][i], &bad = ref[v][1][i];
            SCOPED_TRACE(std::string(list[i].name) + " variant " + std::to_string(v));
            EXPECT_TRUE(ok.status == VEX_StsOk && ok.recs.empty() && !ok.bytes.empty());
            ASSERT_FALSE(bad.recs.empty());
            EXPECT_TRUE(bad.status == VEX_StsBadArg && bad.recs[0] == (Rec{VEX_StsBadArg, list[i].name}));
            EXPECT_NE(ok.bytes, bad.bytes) << "written through a broken header";
        }
    if (HasFailure()) return;
    g_logs[0] = ThreadLog{};

    // Then eight threads together, each starting at another case.
    std::atomic<int> ready{0};
    std::vector<std::string> failures[kThreads];
    const VexContext* contexts[kThreads] = {};
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t)
        pool.emplace_back([&, t] {
            t_index = t;
            const int mode = t % 3 == 2 ? VEX_ErrModeSilent : VEX_ErrModeParent;
            vexSetErrMode(mode);
            vexRedirectError(kReporters[size_t(t)]);
            contexts[t] = vexUndContext();
            const char* text = vexErrorStr(1000 + t);
            const std::string ownText = "Unknown status code " + std::to_string(1000 + t);
            const int variant = t % 2;
            std::vector<std::string>& fail = failures[t];
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            size_t expectedReports = 0;
            for (int round = 0; round < kRounds; ++round)
                for (size_t k = 0; k < list.size(); ++k) {
                    const size_t i = (k + size_t(t) * 3) % list.size();
                    for (int br = 0; br < 2; ++br) {
                        const Outcome got = runOne(list[i], variant, br != 0, t);
                        const Outcome& want = ref[variant][br][i];
                        const std::string what = std::string(list[i].name) + (br ? " (broken)" : "") +
                                                 " round " + std::to_string(round);
                        if (got.bytes != want.bytes) fail.push_back(what + ": other bytes than alone");
                        if (got.status != want.status)
                            fail.push_back(what + ": status " + std::to_string(got.status));
                        if (got.recs != want.recs) fail.push_back(what + ": other reports than alone");
                        expectedReports += want.recs.size();
                    }
                }
            if (vexGetErrMode() != mode) fail.push_back("error mode changed");
            if (vexRedirectError(nullptr) != kReporters[size_t(t)]) fail.push_back("report function changed");
            if (ownText != text) fail.push_back("error text now reads " + std::string(text));
            if (g_logs[t].recs.size() != expectedReports)
                fail.push_back("reports: " + std::to_string(g_logs[t].recs.size()) + " instead of " +
                               std::to_string(expectedReports));
            vexRealFft2D(nullptr, nullptr, VEX_FFT_FREE, nullptr);
            vexDCT2D(nullptr, nullptr, VEX_DCT_FREE);
        });
    for (std::thread& th : pool) th.join();

    std::set<const VexContext*> distinct;
    for (int t = 0; t < kThreads; ++t) {
        distinct.insert(contexts[t]);
        EXPECT_EQ(g_logs[t].foreign, 0) << "thread " << t << " got another thread's reports";
        for (size_t i = 0; i < failures[t].size() && i < 10; ++i)
            ADD_FAILURE() << "thread " << t << ": " << failures[t][i];
        EXPECT_TRUE(failures[t].empty()) << failures[t].size() << " differences on thread " << t;
    }
    EXPECT_EQ(distinct.size(), size_t(kThreads)) << "threads share a context";
    g_shared = nullptr;
}

// Two threads transform different lengths at once, each meeting more DCT
// lengths than a thread keeps (its set is dropped and rebuilt as it goes)
// and freeing its FFT tables after every call: the tables are each thread's
// own, so both get the bytes a thread alone gets.
TEST(Threads, TransformTablesOfDifferentLengthsAtOnce) {
    using Sizes = std::vector<std::pair<int, int>>;
    const Sizes sizes[2] = {{{5, 6}, {7, 9}, {10, 11}, {12, 13}, {16, 8}},
                            {{14, 15}, {17, 18}, {19, 20}, {32, 21}, {8, 24}}};
    auto run = [](const Sizes& list) {
        Bytes out;
        for (auto [h, w] : list) {
            vt::Image a = pat(k8U, 1, h, w, uint32_t(h * 100 + w)), d(k16S, 1, h, w), f(k32S, 1, h, w);
            vexDCT2D(a.get(), d.get(), VEX_DCT_FORWARD);
            vexRealFft2D(a.get(), f.get(), VEX_FFT_FORWARD | VEX_FFT_FLOAT, nullptr);
            append(out, d.bytes()), append(out, f.bytes());
        }
        return out;
    };
    Bytes alone[2];
    for (int t = 0; t < 2; ++t) std::thread([&, t] { alone[t] = run(sizes[t]); }).join();
    std::atomic<int> ready{0};
    int mismatches[2] = {0, 0};
    std::vector<std::thread> pair;
    for (int t = 0; t < 2; ++t)
        pair.emplace_back([&, t] {
            for (++ready; ready.load() < 2;) std::this_thread::yield();
            for (int round = 0; round < 1000; ++round) mismatches[t] += run(sizes[t]) != alone[t];
        });
    for (std::thread& th : pair) th.join();
    EXPECT_EQ(mismatches[0] + mismatches[1], 0);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

}  // namespace
