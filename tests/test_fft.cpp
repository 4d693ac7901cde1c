// vexRealFft2D and vexCcsFft2D against a plain double-precision DFT written
// here: rows then columns (forward) or columns then rows (back), each by its
// defining sum, packed into the CCS layout. Compared over sizes (powers of
// two and others, even and odd, in both directions), depths, data orders,
// regions, channels of interest, alpha, both engines, directions and
// scaling; with sentinels around what may be written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "transform/ownfft.h"
#include "vextest.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- reference

// Packed real spectrum of x with exponent sign s by direct sums.
std::vector<double> refRealForward(const std::vector<double>& x, int s) {
    const int n = static_cast<int>(x.size());
    std::vector<double> out(n);
    for (int k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (int j = 0; j < n; ++j) {
            const double a = 2 * kPi * double((int64_t(j) * k) % n) / n;
            re += x[j] * std::cos(a);
            im += s * x[j] * std::sin(a);
        }
        if (k == 0) out[0] = re;
        else if (2 * k == n) out[n - 1] = re;
        else out[2 * k - 1] = re, out[2 * k] = im;
    }
    return out;
}

// The real sequence sum_k X_k e^(s 2 pi i jk/n) of a packed spectrum.
std::vector<double> refRealInverse(const std::vector<double>& p, int s) {
    const int n = static_cast<int>(p.size());
    std::vector<double> xr(n, 0.0), xi(n, 0.0);  // the full spectrum
    xr[0] = p[0];
    for (int k = 1; 2 * k < n; ++k) {
        xr[k] = p[2 * k - 1], xi[k] = p[2 * k];
        xr[n - k] = p[2 * k - 1], xi[n - k] = -p[2 * k];
    }
    if (n % 2 == 0 && n > 1) xr[n / 2] = p[n - 1];
    std::vector<double> out(n);
    for (int j = 0; j < n; ++j) {
        double acc = 0;
        for (int k = 0; k < n; ++k) {
            const double a = 2 * kPi * double((int64_t(j) * k) % n) / n;
            acc += xr[k] * std::cos(a) - xi[k] * s * std::sin(a);
        }
        out[j] = acc;
    }
    return out;
}

void refComplex(std::vector<double>& re, std::vector<double>& im, int s) {
    const int n = static_cast<int>(re.size());
    std::vector<double> r(n), i(n);
    for (int k = 0; k < n; ++k) {
        double ar = 0, ai = 0;
        for (int j = 0; j < n; ++j) {
            const double a = s * 2 * kPi * double((int64_t(j) * k) % n) / n;
            ar += re[j] * std::cos(a) - im[j] * std::sin(a);
            ai += re[j] * std::sin(a) + im[j] * std::cos(a);
        }
        r[k] = ar, i[k] = ai;
    }
    re = r, im = i;
}

// The W x H array a (row-major) through the two-dimensional transform.
void refTransform2D(std::vector<double>& a, int h, int w, bool toCcs, int s) {
    auto rows = [&]() {
        if (w == 1) return;
        for (int y = 0; y < h; ++y) {
            std::vector<double> r(a.begin() + y * w, a.begin() + (y + 1) * w);
            r = toCcs ? refRealForward(r, s) : refRealInverse(r, s);
            std::copy(r.begin(), r.end(), a.begin() + y * w);
        }
    };
    auto columns = [&]() {
        if (h == 1) return;
        std::vector<int> realCols = {0};
        if (w % 2 == 0 && w > 1) realCols.push_back(w - 1);
        for (int x : realCols) {
            std::vector<double> c(h);
            for (int y = 0; y < h; ++y) c[y] = a[y * w + x];
            c = toCcs ? refRealForward(c, s) : refRealInverse(c, s);
            for (int y = 0; y < h; ++y) a[y * w + x] = c[y];
        }
        for (int k = 1; k <= (w + 1) / 2 - 1; ++k) {
            std::vector<double> re(h), im(h);
            for (int y = 0; y < h; ++y) re[y] = a[y * w + 2 * k - 1], im[y] = a[y * w + 2 * k];
            refComplex(re, im, s);
            for (int y = 0; y < h; ++y) a[y * w + 2 * k - 1] = re[y], a[y * w + 2 * k] = im[y];
        }
    };
    if (toCcs) rows(), columns();
    else columns(), rows();
}

// The truncating, saturating writer.
int64_t truncSat(double r, unsigned depth) {
    const double lo = double(vt::depthMin(depth)), hi = double(vt::depthMax(depth));
    if (r <= lo) return vt::depthMin(depth);
    if (r >= hi) return vt::depthMax(depth);
    return static_cast<int64_t>(std::trunc(r));
}

// ---------------------------------------------------------------- matrix

struct Case {
    bool toCcs;  // vexRealFft2D (true) or vexCcsFft2D
    int flags;
    unsigned srcDepth, dstDepth;
    int nChannels, alpha, order;
    int height, width;
    bool roi;
    VexROI srcRoi, dstRoi;  // when roi
    int valueRange;         // samples in [-range, range] (clamped to the depth)
};

void runCase(const Case& c, uint32_t key) {
    char desc[256];
    std::snprintf(desc, sizeof desc, "%s flags=0x%x %s->%s ch=%d alpha=%d order=%d HxW=%dx%d roi=%d src(%d,%d %dx%d coi %d) dst(%d,%d %dx%d) range=%d",
                  c.toCcs ? "real->ccs" : "ccs->real", c.flags, vt::depthName(c.srcDepth), vt::depthName(c.dstDepth), c.nChannels,
                  c.alpha, c.order, c.height, c.width, c.roi, c.srcRoi.xOffset, c.srcRoi.yOffset, c.srcRoi.height, c.srcRoi.width,
                  c.srcRoi.coi, c.dstRoi.xOffset, c.dstRoi.yOffset, c.dstRoi.height, c.dstRoi.width, c.valueRange);
    SCOPED_TRACE(desc);
    vt::Image src(c.srcDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * (key & 1));
    vt::Image dst(c.dstDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * ((key >> 1) & 1));
    src.get()->alphaChannel = dst.get()->alphaChannel = c.alpha;
    std::mt19937 rng(key);
    std::uniform_int_distribution<int64_t> dist(std::max<int64_t>(vt::depthMin(c.srcDepth), -c.valueRange),
                                                std::min<int64_t>(vt::depthMax(c.srcDepth), c.valueRange));
    for (int ch = 1; ch <= c.nChannels; ++ch)
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) src.setSample(x, y, ch, dist(rng));
    dst.fillSentinel();
    if (c.roi) {
        src.setRoi(c.srcRoi.coi, c.srcRoi.xOffset, c.srcRoi.yOffset, c.srcRoi.height, c.srcRoi.width);
        dst.setRoi(c.dstRoi.coi, c.dstRoi.xOffset, c.dstRoi.yOffset, c.dstRoi.height, c.dstRoi.width);
    }
    const vt::Image before = dst.clone();
    {
        vt::ReportLog log;
        if (c.toCcs) vexRealFft2D(src.get(), dst.get(), c.flags, nullptr);
        else vexCcsFft2D(src.get(), dst.get(), c.flags, nullptr);
        ASSERT_EQ(log.size(), 0u) << log[0].context;
    }
    // The rectangle and the channels.
    int x0 = 0, y0 = 0, w = c.width, h = c.height, coi = 0;
    if (c.roi) {
        x0 = std::max(c.srcRoi.xOffset, c.dstRoi.xOffset);
        y0 = std::max(c.srcRoi.yOffset, c.dstRoi.yOffset);
        w = std::min(c.srcRoi.xOffset + c.srcRoi.width, c.dstRoi.xOffset + c.dstRoi.width) - x0;
        h = std::min(c.srcRoi.yOffset + c.srcRoi.height, c.dstRoi.yOffset + c.dstRoi.height) - y0;
        coi = c.srcRoi.coi;
    }
    const int sign = (c.flags & 1) ? -1 : 1;
    const bool scaled = (c.flags & 2) && !(c.flags & 4);
    const double scale = scaled ? 1.0 / (double(w) * h) : 1.0;
    const bool integer = (c.flags & 0x10) || (!(c.flags & 0x20) && int64_t(w) * h < 129);
    for (int ch = 1; ch <= c.nChannels; ++ch) {
        const bool done = (coi == 0 || coi == ch) && (ch != c.alpha || (c.flags & 8));
        std::vector<double> a(size_t(w) * h);
        double mass = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                a[y * w + x] = double(src.sample(x0 + x, y0 + y, ch));
                mass += std::fabs(a[y * w + x]);
            }
        refTransform2D(a, h, w, c.toCcs, sign);
        double tol = 2e-6 * mass * (2 + std::log2(double(std::max(w, h)))) * scale + 1e-9;
        if (integer) tol += (1.5 * std::max(w, h) + 1) * scale;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                const int64_t got = dst.sample(x, y, ch);
                if (!inside || !done) {
                    ASSERT_EQ(got, before.sample(x, y, ch)) << "written outside at " << x << "," << y << " ch " << ch;
                    continue;
                }
                const double r = a[(y - y0) * w + (x - x0)] * scale;
                const int64_t lo2 = truncSat(r - tol, c.dstDepth), hi2 = truncSat(r + tol, c.dstDepth);
                ASSERT_TRUE(got >= lo2 && got <= hi2)
                    << "at " << x << "," << y << " ch " << ch << ": got " << got << ", exact " << r
                    << " tol " << tol;
            }
    }
    // Row padding and the other bytes of the buffer beyond the samples: the
    // samples are restored in a copy, which must then equal the old bytes.
    vt::Image back = dst.clone();
    for (int k = 0; k < c.nChannels * c.height * c.width; ++k)
        back.setSample(k % c.width, k / c.width % c.height, k / (c.width * c.height) + 1,
                       before.sample(k % c.width, k / c.width % c.height, k / (c.width * c.height) + 1));
    EXPECT_EQ(back.bytes(), before.bytes());
}

const unsigned kIntDepths[] = {VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

// Every size pair in both directions, both engines, scaled or not; then
// random depths, orders, regions, channels of interest, alpha and flags.
TEST(Fft, MatchesTheReference) {
    const int sizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 32, 33, 64};
    uint32_t key = 1;
    for (int h : sizes)
        for (int w : sizes)
            for (int k = 0; k < 10 && (h > 1 || w > 1); ++k) {
                const int flags[] = {0x21, 0x22, 0x26, 0x11, 0x12};
                runCase(Case{k < 5, flags[k % 5], VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, 0, h, w, false, {}, {}, 300}, key++);
                if (HasFatalFailure()) return;
            }
    std::mt19937 rng(77);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const int kSizes[] = {2, 3, 4, 5, 8, 9, 16, 20, 31, 32};
    for (int iter = 0; iter < 600; ++iter) {
        Case c{};
        const int dir[] = {0x1, 0x2, 0x6}, eng[] = {0, 0x10, 0x20};
        c.toCcs = pick(2);
        c.flags = dir[pick(3)] | eng[pick(3)] | (pick(3) == 0 ? 0x8 : 0) | (pick(4) == 0 ? 0x100 : 0);
        c.srcDepth = kIntDepths[pick(5)], c.dstDepth = kIntDepths[pick(5)];
        c.nChannels = 1 + pick(4);
        c.alpha = pick(2) ? pick(c.nChannels + 1) : 0;
        c.order = pick(2);
        c.height = kSizes[pick(10)], c.width = kSizes[pick(10)];
        c.valueRange = pick(3) == 0 ? 2000000000 : (pick(2) ? 100 : 30000);
        // The integer engine saturates its 32-bit working rows; keep its sums in range.
        if (!(c.flags & 0x20) && c.valueRange > 30000) c.valueRange = 30000;
        c.roi = pick(3) != 0;
        if (c.roi) {
            auto roi = [&](VexROI& r) {
                r.xOffset = pick(c.width / 2 + 1), r.yOffset = pick(c.height / 2 + 1);
                r.width = 1 + pick(c.width - r.xOffset), r.height = 1 + pick(c.height - r.yOffset);
            };
            // Overlapping regions with at least two columns or two rows.
            auto overlap = [&](int VexROI::*off, int VexROI::*len) {
                return std::min(c.srcRoi.*off + c.srcRoi.*len, c.dstRoi.*off + c.dstRoi.*len) - std::max(c.srcRoi.*off, c.dstRoi.*off);
            };
            roi(c.srcRoi);
            int tries = 0, ox = 0, oy = 0;
            do roi(c.dstRoi), ox = overlap(&VexROI::xOffset, &VexROI::width), oy = overlap(&VexROI::yOffset, &VexROI::height);
            while (++tries < 100 && (ox < 1 || oy < 1 || (ox < 2 && oy < 2)));
            if (tries == 100) c.srcRoi = c.dstRoi = {0, 0, 0, c.height, c.width};
            c.srcRoi.coi = c.dstRoi.coi = pick(2) ? 1 + pick(c.nChannels) : 0;
            if (c.srcRoi.coi && c.srcRoi.coi == c.alpha && !(c.flags & 8)) c.srcRoi.coi = c.dstRoi.coi = 0;
        }
        if (c.nChannels == 1 && c.alpha == 1 && !(c.flags & 8)) c.alpha = 0;
        runCase(c, 1000 + iter);
        if (HasFatalFailure()) return;
    }
    vexRealFft2D(nullptr, nullptr, 0x80, nullptr);
}

// ---------------------------------------------------------------- worked values

TEST(Fft, ConstantFourByFourAndBack) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4), ccs(VEX_DEPTH_16S, 1, 4, 4), back(VEX_DEPTH_8U, 1, 4, 4);
    for (int k = 0; k < 16; ++k) src.setSample(k % 4, k / 4, 1, 10);
    vt::ReportLog log;
    vexRealFft2D(src.get(), ccs.get(), 0x21, nullptr);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(ccs.sample(k % 4, k / 4, 1), k ? 0 : 160);
    vexCcsFft2D(ccs.get(), back.get(), 0x22, nullptr);
    EXPECT_EQ(vt::diffSamples(src.get(), back.get()), "");
    EXPECT_EQ(log.size(), 0u);
}

TEST(Fft, RowLayoutsOfFiveAndSix) {
    // x = 100, 200, ...: X0; Re X1, Im X1; Re X2, Im X2; (W = 6) Re X3.
    const std::vector<double> six = {2100, -300, 519.615242, -300, 173.205081, -300};
    const std::vector<double> five = {1500, -250, 344.095480, -250, 81.229924};
    for (const auto* want : {&five, &six}) {
        const int w = int(want->size());
        vt::Image src(VEX_DEPTH_16S, 1, 1, w), dst(VEX_DEPTH_32S, 1, 1, w);
        for (int x = 0; x < w; ++x) src.setSample(x, 0, 1, 100 * (x + 1));
        // The integer engine rounds the row to the nearest integers.
        vexRealFft2D(src.get(), dst.get(), 0x11, nullptr);
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(dst.sample(x, 0, 1), std::lround((*want)[x])) << "W=" << w << " x=" << x;
        // The floating-point engine cuts the fraction off (an exact -300 may
        // come out as -299.99998 and be written as -299).
        vexRealFft2D(src.get(), dst.get(), 0x21, nullptr);
        for (int x = 0; x < w; ++x) {
            const double r = (*want)[x];
            const int64_t got = dst.sample(x, 0, 1);
            EXPECT_TRUE(got == int64_t(std::trunc(r)) || (r == std::round(r) && std::llabs(got - int64_t(r)) <= 1))
                << "W=" << w << " x=" << x << " got " << got;
        }
        // The inverse exponent conjugates the spectrum.
        vexRealFft2D(src.get(), dst.get(), 0x16, nullptr);
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(dst.sample(x, 0, 1), (x > 0 && x % 2 == 0 && x != 5 ? -1 : 1) * std::lround((*want)[x]));
    }
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Fft, WritersTruncate) {
    // 1x3 spectra (29, 0, 0) and (-11, 0, 0), scaled by 1/3: 9.67 and -3.67.
    for (int engine : {0x10, 0x20}) {
        vt::Image src(VEX_DEPTH_16S, 1, 1, 3), u8(VEX_DEPTH_8U, 1, 1, 3), s8(VEX_DEPTH_8S, 1, 1, 3);
        src.setSample(0, 0, 1, 29), src.setSample(1, 0, 1, 0), src.setSample(2, 0, 1, 0);
        vexCcsFft2D(src.get(), u8.get(), 0x2 | engine, nullptr);
        src.setSample(0, 0, 1, -11);
        vexCcsFft2D(src.get(), s8.get(), 0x2 | engine, nullptr);
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(u8.sample(x, 0, 1), 9);
            EXPECT_EQ(s8.sample(x, 0, 1), -3);
        }
    }
}

// ---------------------------------------------------------------- flags, tables, threads

TEST(Fft, ReuseTakesThePreviousSetup) {
    vt::Image src(VEX_DEPTH_8U, 1, 16, 16), dst(VEX_DEPTH_32S, 1, 16, 16), ref(VEX_DEPTH_32S, 1, 16, 16);
    src.fillPattern(5);
    src.setRoi(0, 4, 4, 8, 8), ref.setRoi(0, 4, 4, 8, 8);
    ref.fillSentinel(), dst.fillSentinel();
    vexRealFft2D(src.get(), ref.get(), 0x21, nullptr);
    // The setup: whole images, forward, float engine.
    src.setRoi(0, 0, 0, 16, 16);
    vexRealFft2D(src.get(), dst.get(), 0x21, nullptr);
    // Another region, the same images: only the region is read again from
    // the headers; the depth and engine come from the setup.
    dst.fillSentinel();
    src.setRoi(0, 4, 4, 8, 8), dst.setRoi(0, 4, 4, 8, 8);
    dst.get()->depth = VEX_DEPTH_16U;
    vexRealFft2D(src.get(), dst.get(), 0x40 | 0x10, nullptr);
    dst.get()->depth = VEX_DEPTH_32S;
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
    EXPECT_EQ(vt::diffSamples(dst.get(), ref.get()), "");
    // A thread without a previous call has nothing to reuse.
    std::thread([&] {
        vt::ReportLog log;
        vexRealFft2D(src.get(), dst.get(), 0x40, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, "Error in input data");
        vexSetErrStatus(VEX_StsOk);
    }).join();
    // Headers that no longer describe the recorded images are refused.
    vt::Image other(VEX_DEPTH_32S, 1, 16, 16);
    vt::ReportLog log;
    vexRealFft2D(src.get(), other.get(), 0x40, nullptr);
    EXPECT_EQ(log.contexts(), std::vector<std::string>{"Error in input data"});
    vexSetErrStatus(VEX_StsOk);
}

TEST(Fft, TablesKeptFreedAndRebuilt) {
    vt::Image src(VEX_DEPTH_8U, 1, 16, 12), dst(VEX_DEPTH_32S, 1, 16, 12);
    src.fillPattern(9);
    vexRealFft2D(src.get(), dst.get(), 0x21, nullptr);
    EXPECT_EQ(vex::ownFftTableCount(), 0);
    const auto first = dst.bytes();
    vexRealFft2D(src.get(), dst.get(), 0x121, nullptr);
    EXPECT_GT(vex::ownFftTableCount(), 0);
    vexRealFft2D(src.get(), dst.get(), 0x121, nullptr);
    EXPECT_EQ(dst.bytes(), first);
    vexCcsFft2D(nullptr, nullptr, 0x80, nullptr);
    EXPECT_EQ(vex::ownFftTableCount(), 0);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Fft, ConcurrentTransformsOfDifferentLengths) {
    struct Job { int h, w, flags; std::vector<uint8_t> expected; };
    std::vector<Job> jobs = {{64, 64, 0x21, {}}, {48, 30, 0x121, {}}, {17, 128, 0x21, {}}, {32, 5, 0x122, {}}};
    auto run = [](const Job& j) {
        vt::Image src(VEX_DEPTH_16S, 2, j.h, j.w), dst(VEX_DEPTH_32S, 2, j.h, j.w);
        src.fillPattern(uint32_t(j.h * 1000 + j.w));
        dst.fillSentinel();
        if (j.flags & 2) vexCcsFft2D(src.get(), dst.get(), j.flags, nullptr);
        else vexRealFft2D(src.get(), dst.get(), j.flags, nullptr);
        return dst.bytes();
    };
    for (Job& j : jobs) j.expected = run(j);
    vexRealFft2D(nullptr, nullptr, 0x80, nullptr);
    std::vector<int> mismatches(jobs.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < jobs.size(); ++t)
        threads.emplace_back([&, t] {
            for (int rep = 0; rep < 40; ++rep)
                if (run(jobs[t]) != jobs[t].expected) ++mismatches[t];
            vexRealFft2D(nullptr, nullptr, 0x80, nullptr);
        });
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < jobs.size(); ++t) EXPECT_EQ(mismatches[t], 0) << "job " << t;
}

// ---------------------------------------------------------------- checks

TEST(Fft, ChecksAndTexts) {
    vt::Image src(VEX_DEPTH_8U, 1, 8, 8), dst(VEX_DEPTH_16S, 1, 8, 8);
    src.fillPattern(3);
    dst.fillPattern(4);
    const auto before = dst.bytes();
    VexMapping map{0, 0};
    VexImage* s = src.get();
    VexImage* d = dst.get();
    struct Step { std::function<void()> call; std::vector<std::string> texts; };
    // A call with one field changed for its duration.
    auto with = [](auto* field, auto value, std::function<void()> call) {
        return [=] { const auto keep = *field; *field = value, call(), *field = keep; };
    };
    auto real = [&](int f, VexImage* a, VexImage* b, const void* m = nullptr) { return [=] { vexRealFft2D(a, b, f, m); }; };
    auto rois = [&](VexROI r0, VexROI r1, std::function<void()> call) {
        return [=, &src, &dst] {
            src.setRoi(r0.coi, r0.xOffset, r0.yOffset, r0.height, r0.width), dst.setRoi(r1.coi, r1.xOffset, r1.yOffset, r1.height, r1.width);
            call();
        };
    };
    const std::string bad = "Error in input data", none = "No calculations! Looking input data!";
    const std::vector<Step> steps = {
        {real(0x21, nullptr, nullptr), {"srcImage==0", "dstImage==0"}},
        {real(0x21, s, nullptr), {"dstImage==0"}},
        {real(0x80, nullptr, nullptr), {}},
        {with(&s->imageData, (char*)nullptr, real(0x21, s, d)), {"srcImage->imageData==0"}},
        {real(0x21, s, d, &map), {"(map!=((void*)(0)))"}},
        {real(0x3, s, d), {bad}},
        {real(0x0, s, d), {bad}},
        {real(0x31, s, d), {bad}},
        {with(&d->depth, VEX_DEPTH_1U, real(0x21, s, d)), {bad}},
        {with(&s->alphaChannel, 1, real(0x21, s, d)), {bad}},
        {with(&s->align, 5, real(0x21, s, d)), {bad}},
        {rois({0, 0, 0, 4, 4}, {0, 4, 4, 4, 4}, real(0x21, s, d)), {none}},
        {rois({1, 0, 0, 4, 4}, {0, 0, 0, 4, 4}, real(0x21, s, d)), {bad}},
        {rois({0, 3, 3, 1, 1}, {0, 0, 0, 8, 8}, real(0x21, s, d)), {none}},
        {rois({0, 0, 0, 8, 8}, {0, 0, 0, 8, 8}, with(&s->alphaChannel, 1, with(&d->alphaChannel, 1, real(0x21, s, d)))), {none}},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        vt::ReportLog log;
        steps[i].call();
        EXPECT_EQ(log.contexts(), steps[i].texts);
        for (size_t k = 0; k < log.size(); ++k)
            EXPECT_TRUE(log[k].status == VEX_StsBadArg && log[k].funcName == "vexRealFft2D" && log[k].file == "vexfft2d");
        EXPECT_EQ(dst.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
    // The CCS direction names itself; a negative status stops a call early.
    {
        vt::ReportLog log;
        vexCcsFft2D(s, nullptr, 0x22, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].funcName, "vexCcsFft2D");
        EXPECT_EQ(log[0].context, "dstImage==0");
        log.clear();
        src.setRoi(0, 0, 0, 8, 8), dst.setRoi(0, 0, 0, 8, 8);
        vexCcsFft2D(s, d, 0x22, nullptr);  // status still negative
        EXPECT_EQ(log.size(), 0u);
        EXPECT_EQ(dst.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
    // Tiled images have no pixel data in memory.
    vt::TiledImage tiled(VEX_DEPTH_8U, 1, 8, 8, 4, 4);
    vt::ReportLog log;
    vexRealFft2D(tiled.get(), d, 0x21, nullptr);
    EXPECT_EQ(log.contexts(), std::vector<std::string>{"srcImage->imageData==0"});
    vexSetErrStatus(VEX_StsOk);
}

// The lane kernels agree with the reference for lengths up to 1024 (each
// lane a different sequence).
TEST(Fft, KernelsLengthsUpTo1024) {
    using vex::kFftLanes;
    for (int n : {2, 4, 8, 16, 64, 128, 256, 512, 1024, 10, 100, 127}) {
        SCOPED_TRACE(n);
        std::vector<float> in(size_t(n) * kFftLanes), out(in.size()), scratch(2 * in.size());
        std::mt19937 rng(n);
        std::uniform_real_distribution<float> u(-1, 1);
        for (float& v : in) v = u(rng);
        for (int sign : {-1, 1}) {
            ASSERT_TRUE(vex::ownRealForward<float>(in.data(), out.data(), scratch.data(), n, sign));
            for (int l = 0; l < kFftLanes; l += 5) {
                std::vector<double> x(n);
                for (int j = 0; j < n; ++j) x[j] = in[j * kFftLanes + l];
                const auto want = refRealForward(x, sign);
                for (int j = 0; j < n; ++j) ASSERT_NEAR(out[j * kFftLanes + l], want[j], 2e-5 * n) << j;
                const auto back = refRealInverse(want, sign);
                std::vector<float> packed(in.size()), real(in.size());
                for (int j = 0; j < n; ++j)
                    for (int m = 0; m < kFftLanes; ++m) packed[j * kFftLanes + m] = float(want[j]);
                ASSERT_TRUE(vex::ownRealInverse<float>(packed.data(), real.data(), scratch.data(), n, sign));
                for (int j = 0; j < n; ++j) ASSERT_NEAR(real[j * kFftLanes + l], back[j], 2e-5 * n * n) << j;
            }
        }
    }
    vex::ownFftFreeTables();
}

}  // namespace
