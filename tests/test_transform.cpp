// vexRealFft2D, vexCcsFft2D and vexDCT2D against plain double-precision
// transforms written here from their defining sums: the Fourier transform
// rows then columns (forward) or columns then rows (back), packed into the
// CCS layout; the orthonormal DCT-II / DCT-III along rows, then columns.
// Compared over sizes (powers of two and others, even and odd, single rows
// and columns), depths, data orders, regions, channels of interest, alpha,
// both FFT engines, directions and scaling; with sentinels around what may be
// written. Then worked numbers for the writers' rounding and saturation, the
// kept and reused setups, and every check text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "transform/ownfft.h"
#include "vextest.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- Fourier reference

// X_k = sum_j x_j e^(s 2 pi i jk/n) by direct sums, in place.
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

// The packed spectrum of a real x: X0; Re X1, Im X1; ...; Re X(n/2) when n is even.
std::vector<double> refRealForward(const std::vector<double>& x, int s) {
    const int n = static_cast<int>(x.size());
    std::vector<double> re = x, im(n, 0.0), out(n);
    refComplex(re, im, s);
    out[0] = re[0];
    for (int k = 1; 2 * k < n; ++k) out[2 * k - 1] = re[k], out[2 * k] = im[k];
    if (n % 2 == 0 && n > 1) out[n - 1] = re[n / 2];
    return out;
}

// The real sequence of a packed spectrum (its conjugate-symmetric whole).
std::vector<double> refRealInverse(const std::vector<double>& p, int s) {
    const int n = static_cast<int>(p.size());
    std::vector<double> re(n, 0.0), im(n, 0.0);
    re[0] = p[0];
    for (int k = 1; 2 * k < n; ++k) {
        re[k] = p[2 * k - 1], im[k] = p[2 * k];
        re[n - k] = p[2 * k - 1], im[n - k] = -p[2 * k];
    }
    if (n % 2 == 0 && n > 1) re[n / 2] = p[n - 1];
    refComplex(re, im, s);
    return re;
}

// The W x H array a (row-major) through the two-dimensional transform.
void refFourier2D(std::vector<double>& a, int h, int w, bool toCcs, int s) {
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

// ---------------------------------------------------------------- cosine reference

// F(v,u) = c(v) c(u) / sqrt(MN) sum f(y,x) cos(pi(2x+1)u/2N) cos(pi(2y+1)v/2M)
// (c(0) = 1, c(k) = sqrt2), or its inverse, on an M x N row-major array.
void refDct(std::vector<double>& f, int m, int n, bool forward) {
    auto c = [](int k) { return k ? std::sqrt(2.0) : 1.0; };
    auto oneD = [&](std::vector<double>& v, int len) {
        std::vector<double> out(len, 0.0);
        for (int a = 0; a < len; ++a)
            for (int b = 0; b < len; ++b) {
                const int k = forward ? a : b, i = forward ? b : a;  // frequency, sample
                out[a] += v[b] * c(k) / std::sqrt(double(len)) * std::cos(kPi * (2 * i + 1) * k / (2.0 * len));
            }
        v = out;
    };
    for (int y = 0; y < m; ++y) {
        std::vector<double> r(f.begin() + y * n, f.begin() + (y + 1) * n);
        oneD(r, n);
        std::copy(r.begin(), r.end(), f.begin() + y * n);
    }
    for (int x = 0; x < n; ++x) {
        std::vector<double> col(m);
        for (int y = 0; y < m; ++y) col[y] = f[y * n + x];
        oneD(col, m);
        for (int y = 0; y < m; ++y) f[y * n + x] = col[y];
    }
}

// The writers: saturating; the FFT truncates, the DCT rounds to nearest, ties to even.
int64_t writeSat(double r, unsigned depth, bool round) {
    const double lo = double(vt::depthMin(depth)), hi = double(vt::depthMax(depth));
    if (r <= lo) return vt::depthMin(depth);
    if (r >= hi) return vt::depthMax(depth);
    return int64_t(round ? std::nearbyint(r) : std::trunc(r));
}

// ---------------------------------------------------------------- matrix

enum Op { kRealToCcs, kCcsToReal, kDct };
const char* const kOpName[] = {"real->ccs", "ccs->real", "dct"};
void transform(Op op, const vt::Image& src, vt::Image& dst, int flags) {
    if (op == kRealToCcs) vexRealFft2D(src.get(), dst.get(), flags, nullptr);
    if (op == kCcsToReal) vexCcsFft2D(src.get(), dst.get(), flags, nullptr);
    if (op == kDct) vexDCT2D(src.get(), dst.get(), flags);
}
const unsigned kIntDepths[] = {VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

struct Case {
    Op op;
    int flags;
    unsigned srcDepth, dstDepth;
    int nChannels, alpha, order, height, width;
    bool roi;
    VexROI srcRoi, dstRoi;  // when roi
    int range;              // samples in [-range, range] (clamped to the depth)
};

void runCase(const Case& c, uint32_t key) {
    char desc[256];
    std::snprintf(desc, sizeof desc, "%s flags=0x%x %s->%s ch=%d alpha=%d order=%d HxW=%dx%d roi=%d src(%d,%d %dx%d coi %d) dst(%d,%d %dx%d) range=%d",
                  kOpName[c.op], c.flags, vt::depthName(c.srcDepth), vt::depthName(c.dstDepth), c.nChannels, c.alpha, c.order,
                  c.height, c.width, c.roi, c.srcRoi.xOffset, c.srcRoi.yOffset, c.srcRoi.height, c.srcRoi.width, c.srcRoi.coi,
                  c.dstRoi.xOffset, c.dstRoi.yOffset, c.dstRoi.height, c.dstRoi.width, c.range);
    SCOPED_TRACE(desc);
    vt::Image src(c.srcDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * (key & 1));
    vt::Image dst(c.dstDepth, c.nChannels, c.height, c.width, c.order, 4 + 4 * ((key >> 1) & 1));
    src.get()->alphaChannel = dst.get()->alphaChannel = c.alpha;
    std::mt19937 rng(key);
    std::uniform_int_distribution<int64_t> dist(std::max<int64_t>(vt::depthMin(c.srcDepth), -c.range),
                                                std::min<int64_t>(vt::depthMax(c.srcDepth), c.range));
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
        transform(c.op, src, dst, c.flags);
        ASSERT_EQ(log.size(), 0u) << log[0].context;
    }
    // The region read (sx, sy, m x n) and the part of it written at (dx, dy):
    // the FFT pairs the two regions, the DCT reads the source region whole
    // and clips what it writes to the destination region.
    int sx = 0, sy = 0, m = c.height, n = c.width, coi = 0;
    if (c.roi && c.op == kDct) {
        sx = c.srcRoi.xOffset, sy = c.srcRoi.yOffset, m = c.srcRoi.height, n = c.srcRoi.width;
    } else if (c.roi) {
        sx = std::max(c.srcRoi.xOffset, c.dstRoi.xOffset);
        sy = std::max(c.srcRoi.yOffset, c.dstRoi.yOffset);
        n = std::min(c.srcRoi.xOffset + c.srcRoi.width, c.dstRoi.xOffset + c.dstRoi.width) - sx;
        m = std::min(c.srcRoi.yOffset + c.srcRoi.height, c.dstRoi.yOffset + c.dstRoi.height) - sy;
    }
    int dx = sx, dy = sy, om = m, on = n;
    if (c.roi) coi = c.srcRoi.coi;
    if (c.roi && c.op == kDct)
        dx = c.dstRoi.xOffset, dy = c.dstRoi.yOffset, om = std::min(m, c.dstRoi.height), on = std::min(n, c.dstRoi.width);
    const int sign = (c.flags & VEX_FFT_FORWARD) ? -1 : 1;
    const bool scaled = c.op != kDct && (c.flags & VEX_FFT_INVERSE) && !(c.flags & VEX_FFT_NOSCALE);
    const double scale = scaled ? 1.0 / (double(n) * m) : 1.0;
    const bool integer = c.op != kDct && ((c.flags & VEX_FFT_INTEGER) || (!(c.flags & VEX_FFT_FLOAT) && int64_t(n) * m < 129));
    const int alphaFlag = c.op == kDct ? VEX_DCT_PROCESS_ALPHA : VEX_FFT_ALPHA;
    for (int ch = 1; ch <= c.nChannels; ++ch) {
        const bool done = (coi == 0 || coi == ch) && (ch != c.alpha || (c.flags & alphaFlag));
        std::vector<double> a(size_t(m) * n);
        double mass = 0;
        for (int y = 0; y < m; ++y)
            for (int x = 0; x < n; ++x) mass += std::fabs(a[y * n + x] = double(src.sample(sx + x, sy + y, ch)));
        double tol;
        if (c.op == kDct) {
            refDct(a, m, n, c.flags & VEX_DCT_FORWARD);
            tol = 4e-6 * mass / std::sqrt(double(m) * n) * (2 + std::log2(double(std::max(m, n)))) + 1e-9;
        } else {
            refFourier2D(a, m, n, c.op == kRealToCcs, sign);
            tol = 2e-6 * mass * (2 + std::log2(double(std::max(n, m)))) * scale + 1e-9;
            if (integer) tol += (1.5 * std::max(n, m) + 1) * scale;
        }
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = done && x >= dx && x < dx + on && y >= dy && y < dy + om;
                const int64_t got = dst.sample(x, y, ch);
                if (!inside) {
                    ASSERT_EQ(got, before.sample(x, y, ch)) << "written outside at " << x << "," << y << " ch " << ch;
                    continue;
                }
                const double r = a[(y - dy) * n + (x - dx)] * scale;
                const bool round = c.op == kDct;
                ASSERT_TRUE(got >= writeSat(r - tol, c.dstDepth, round) && got <= writeSat(r + tol, c.dstDepth, round))
                    << "at " << x << "," << y << " ch " << ch << ": got " << got << ", exact " << r << " tol " << tol;
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

// Depths, channels, alpha and order drawn at random.
Case randomCase(std::mt19937& rng, Op op) {
    auto pick = [&](int k) { return int(rng() % unsigned(k)); };
    Case c{};
    c.op = op;
    c.srcDepth = kIntDepths[pick(5)], c.dstDepth = kIntDepths[pick(5)];
    c.nChannels = 1 + pick(4);
    c.alpha = pick(2) ? pick(c.nChannels + 1) : 0;
    c.order = pick(2);
    return c;
}

// Every size pair in both directions, both engines, scaled or not; then
// random depths, orders, regions, channels of interest, alpha and flags.
TEST(Fft, MatchesTheReference) {
    const int sizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 32, 33, 64};
    uint32_t key = 1;
    for (int h : sizes)
        for (int w : sizes)
            for (int k = 0; k < 10 && (h > 1 || w > 1); ++k) {
                const int flags[] = {0x21, 0x22, 0x26, 0x11, 0x12};
                runCase(Case{k < 5 ? kRealToCcs : kCcsToReal, flags[k % 5], VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, 0, h, w, false, {}, {}, 300}, key++);
                if (HasFatalFailure()) return;
            }
    std::mt19937 rng(77);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const int kSizes[] = {2, 3, 4, 5, 8, 9, 16, 20, 31, 32};
    for (int iter = 0; iter < 600; ++iter) {
        Case c = randomCase(rng, pick(2) ? kRealToCcs : kCcsToReal);
        const int dir[] = {0x1, 0x2, 0x6}, eng[] = {0, 0x10, 0x20};
        c.flags = dir[pick(3)] | eng[pick(3)] | (pick(3) == 0 ? 0x8 : 0) | (pick(4) == 0 ? 0x100 : 0);
        c.height = kSizes[pick(10)], c.width = kSizes[pick(10)];
        c.range = pick(3) == 0 ? 2000000000 : (pick(2) ? 100 : 30000);
        // The integer engine saturates its 32-bit working rows; keep its sums in range.
        if (!(c.flags & 0x20) && c.range > 30000) c.range = 30000;
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
    vexRealFft2D(nullptr, nullptr, VEX_FFT_FREE, nullptr);
}

// Every size pair (long power-of-two rows and columns among them) on plain
// images, then random depths, orders, regions (often 8x8, which takes the
// dedicated path), channels of interest and alpha.
TEST(Dct, MatchesTheReference) {
    const int sizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 16, 17, 32};
    uint32_t key = 1;
    for (int m : sizes)
        for (int n : sizes)
            for (int flags : {1, 2}) {
                runCase(Case{kDct, flags, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, VEX_DATA_ORDER_PIXEL, m, n, false, {}, {}, 3000}, key++);
                if (HasFatalFailure()) return;
            }
    for (auto [m, n] : {std::pair{1, 256}, {128, 2}, {64, 64}, {3, 128}})
        for (int flags : {1, 2}) runCase(Case{kDct, flags, flags == 1 ? VEX_DEPTH_8U : VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 0, 0, m, n, false, {}, {}, 255}, key++);
    std::mt19937 rng(99);
    auto pick = [&](int k) { return int(rng() % unsigned(k)); };
    const int kSizes[] = {1, 2, 5, 8, 8, 8, 11, 16, 24};
    for (int iter = 0; iter < 500; ++iter) {
        Case c = randomCase(rng, kDct);
        c.flags = (pick(2) ? 1 : 2) | (pick(2) ? 4 : 0);
        c.height = kSizes[pick(9)] + (pick(2) ? 0 : pick(4));
        c.width = kSizes[pick(9)] + (pick(2) ? 0 : pick(4));
        c.range = pick(4) == 0 ? 2000000000 : (pick(2) ? 300 : 40000);
        c.roi = pick(3) != 0;
        if (c.roi) {
            VexROI& r = c.srcRoi;
            auto roi = [&](int h, int w) {
                r.height = 1 + pick(h), r.width = 1 + pick(w);
                r.xOffset = pick(c.width - r.width + 1), r.yOffset = pick(c.height - r.height + 1);
            };
            roi(c.height, c.width);
            // Often an 8x8 region, which takes the dedicated path.
            if (pick(3) == 0 && c.height >= 8 && c.width >= 8)
                roi(1, 1), r.height = r.width = 8, r.xOffset = pick(c.width - 7), r.yOffset = pick(c.height - 7);
            // The destination region: as large, or smaller (clipped), anywhere.
            VexROI& d = c.dstRoi;
            d.height = pick(3) ? r.height : 1 + pick(r.height);
            d.width = pick(3) ? r.width : 1 + pick(r.width);
            d.xOffset = pick(c.width - d.width + 1), d.yOffset = pick(c.height - d.height + 1);
            r.coi = d.coi = pick(2) ? 1 + pick(c.nChannels) : 0;
        }
        runCase(c, 5000 + iter);
        if (HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------- worked values

// Numbers worked by hand: the writers' rounding (truncation for the FFT,
// ties to even for the DCT) and saturation, which the matrix's tolerance
// cannot see. `out` lists the first samples; with `rest` the others equal
// its last entry.
TEST(Transform, WorkedValues) {
    struct Worked {
        Op op;
        int flags;
        unsigned sd, dd;
        int h, w;
        std::function<int64_t(int, int)> in;
        std::vector<int64_t> out;
        bool rest;
    };
    auto all = [](int64_t v) { return [v](int, int) { return v; }; };
    auto first = [](int64_t v) { return [v](int x, int y) { return x + y ? 0 : v; }; };
    auto ramp = [](int x, int) { return 100 * (x + 1); };
    const Worked kCases[] = {
        {kRealToCcs, 0x21, VEX_DEPTH_8U, VEX_DEPTH_16S, 4, 4, all(10), {160, 0}, true},
        {kCcsToReal, 0x22, VEX_DEPTH_16S, VEX_DEPTH_8U, 4, 4, first(160), {10}, true},
        // Spectra (29, 0, 0) and (-11, 0, 0) scaled by 1/3: 9.67 and -3.67.
        {kCcsToReal, 0x12, VEX_DEPTH_16S, VEX_DEPTH_8U, 1, 3, first(29), {9}, true},
        {kCcsToReal, 0x22, VEX_DEPTH_16S, VEX_DEPTH_8U, 1, 3, first(29), {9}, true},
        {kCcsToReal, 0x12, VEX_DEPTH_16S, VEX_DEPTH_8S, 1, 3, first(-11), {-3}, true},
        {kCcsToReal, 0x22, VEX_DEPTH_16S, VEX_DEPTH_8S, 1, 3, first(-11), {-3}, true},
        {kDct, VEX_DCT_FORWARD, VEX_DEPTH_8U, VEX_DEPTH_16S, 8, 8, all(100), {800, 0}, true},
        {kDct, VEX_DCT_INVERSE, VEX_DEPTH_16S, VEX_DEPTH_8U, 8, 8, first(800), {100}, true},
        {kDct, VEX_DCT_FORWARD, VEX_DEPTH_8U, VEX_DEPTH_16S, 7, 5, all(10), {59, 0}, true},  // 10 sqrt(35) = 59.16
        // Into 8U: 800 and 724.9 saturate to 255, -254.6 to 0; 170.09; the other rows 0.
        {kDct, VEX_DCT_FORWARD, VEX_DEPTH_8U, VEX_DEPTH_8U, 8, 8, [](int x, int) { return x < 4 ? 200 : 0; },
         {255, 255, 0, 0, 0, 170, 0, 0, 0}, true},
        // Inverse 1x2 of (3, 0): 2.12 each; forward 1x4 of (1,1,1,2): 2.5 -> 2, of (1,1,1,4): 3.5 -> 4.
        {kDct, VEX_DCT_INVERSE, VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 2, first(3), {2, 2}, false},
        {kDct, VEX_DCT_FORWARD, VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 4, [](int x, int) { return x == 3 ? 2 : 1; }, {2}, false},
        {kDct, VEX_DCT_FORWARD, VEX_DEPTH_16S, VEX_DEPTH_16S, 1, 4, [](int x, int) { return x == 3 ? 4 : 1; }, {4}, false},
        // Rows of 100, 200, ...: X0; Re X1, Im X1; Re X2, Im X2; (W = 6) Re X3. The integer engine rounds
        // (519.6, 173.2; 344.1, 81.2); the inverse exponent conjugates the spectrum.
        {kRealToCcs, 0x11, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 6, ramp, {2100, -300, 520, -300, 173, -300}, false},
        {kRealToCcs, 0x16, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 6, ramp, {2100, -300, -520, -300, -173, -300}, false},
        {kRealToCcs, 0x11, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 5, ramp, {1500, -250, 344, -250, 81}, false},
        {kRealToCcs, 0x16, VEX_DEPTH_16S, VEX_DEPTH_32S, 1, 5, ramp, {1500, -250, -344, -250, -81}, false},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const Worked& c = kCases[i];
        SCOPED_TRACE(i);
        vt::Image src(c.sd, 1, c.h, c.w), dst(c.dd, 1, c.h, c.w);
        for (int k = 0; k < c.h * c.w; ++k) src.setSample(k % c.w, k / c.w, 1, c.in(k % c.w, k / c.w));
        vt::ReportLog log;
        transform(c.op, src, dst, c.flags);
        EXPECT_EQ(log.size(), 0u);
        for (int k = 0; k < (c.rest ? c.h * c.w : int(c.out.size())); ++k)
            EXPECT_EQ(dst.sample(k % c.w, k / c.w, 1), c.out[std::min(size_t(k), c.out.size() - 1)]) << "sample " << k;
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

// ---------------------------------------------------------------- checks

TEST(Fft, ChecksAndTexts) {
    vt::Image src(VEX_DEPTH_8U, 1, 8, 8), dst(VEX_DEPTH_16S, 1, 8, 8);
    vt::TiledImage tiled(VEX_DEPTH_8U, 1, 8, 8, 4, 4);
    src.fillPattern(3);
    dst.fillPattern(4);
    VexMapping map{0, 0};
    VexImage* s = src.get();
    VexImage* d = dst.get();
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
    vt::expectSteps("vexRealFft2D", "vexfft2d", {
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
        {real(0x21, tiled.get(), d), {"srcImage->imageData==0"}},  // tiled images have no pixel data in memory
        {[&] { vexSetErrStatus(VEX_StsBadArg), vexCcsFft2D(s, d, 0x22, nullptr); }, {}},  // a negative status stops the call
        {[&] { vexCcsFft2D(s, nullptr, 0x22, nullptr); }, {"dstImage==0"}, "vexCcsFft2D"},  // the CCS direction names itself
    }, &dst);
}

TEST(Dct, ChecksAndSilentCalls) {
    vt::Image src(VEX_DEPTH_8U, 1, 8, 8), dst(VEX_DEPTH_16S, 1, 8, 8), three(VEX_DEPTH_8U, 3, 8, 8),
        wide(VEX_DEPTH_8U, 1, 8, 9), plane(VEX_DEPTH_8U, 1, 8, 8, VEX_DATA_ORDER_PLANE),
        bits(VEX_DEPTH_1U, 1, 8, 8);
    src.fillPattern(1);
    dst.fillPattern(2);
    VexImage *s = src.get(), *d = dst.get();
    const std::string bad = "Images are not compatible";
    vt::expectSteps("vexDCT2D", "vexdct2d", {
        {[&] { vexDCT2D(nullptr, nullptr, 1); }, {"src==0", "dst==0"}},
        {[&] { vexDCT2D(s, nullptr, 1); }, {"dst==0"}},
        {[&] { vexDCT2D(nullptr, d, 1); }, {"src==0"}},
        {[&] { vexDCT2D(nullptr, nullptr, VEX_DCT_FREE); }, {}},
        {[&] { vexDCT2D(d, d, 1); }, {bad}},
        {[&] { vexDCT2D(three.get(), d, 1); }, {bad}},
        {[&] { vexDCT2D(wide.get(), d, 1); }, {bad}},
        {[&] { vexDCT2D(plane.get(), d, 1); }, {bad}},
        {[&] { src.setRoi(0, 0, 0, 8, 8), vexDCT2D(s, d, 1); }, {bad}},
        {[&] { dst.setRoi(0, 4, 4, 8, 8), vexDCT2D(s, d, 1); }, {bad}},  // leaves the image
        {[&] { dst.setRoi(0, 0, 0, 8, 8), vexDCT2D(s, d, 3); }, {}},
        {[&] { vexDCT2D(s, d, 0); }, {}},
        {[&] { bits.setRoi(0, 0, 0, 8, 8), vexDCT2D(bits.get(), d, 1); }, {bad}},
        {[&] { vexSetErrStatus(VEX_StsBadArg), vexDCT2D(s, d, 1); }, {}},  // a negative status stops the call
    }, &dst);
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
