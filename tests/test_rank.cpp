// vexMaxFilter, vexMinFilter and vexMedianFilter against a sort of every
// window (samples by the border rule), over random layouts, windows,
// anchors, border modes, ROIs, channels of interest and tilings; the median
// rank; in-place calls; the mapping; every check text.
#include <functional>

#include "filterref.h"

namespace vex {
void ownAvx2Only(bool on);  // test hook: the AVX2 kernels even where AVX-512 is there
}  // namespace vex

namespace {

using vt::uniform;

// The kernel forms a machine with AVX-512 has, widest first; an 8-bit
// median's result is the same in each.
const char* const kForms[] = {"widest kernels", "AVX2 kernels"};
void useForm(int f) { vex::ownAvx2Only(f == 1); }

using RankFn = void (*)(VexImage*, VexImage*, int, int, int, int, const VexMapping*);
const RankFn kFns[3] = {vexMaxFilter, vexMinFilter, vexMedianFilter};
const char* const kNames[3] = {"vexMaxFilter", "vexMinFilter", "vexMedianFilter"};

int64_t refRank(int mode, const VexImage* src, int nR, int nC, int ax, int ay, int x, int y, int c) {
    std::vector<int64_t> w;
    for (int r = 0; r < nR; ++r)
        for (int cc = 0; cc < nC; ++cc) w.push_back(fref::borderSample(src, int64_t(x) - ax + cc, int64_t(y) - ay + r, c));
    std::sort(w.begin(), w.end());
    if (mode == 0) return w.back();
    if (mode == 1) return w.front();
    return w[w.size() / 2];  // rank floor(n/2) + 1, 1-based
}

const unsigned kD[6] = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_8S, VEX_DEPTH_16U, VEX_DEPTH_16S, VEX_DEPTH_32S};

void runMatrix(int mode, uint32_t key, int iterations, int maxSide, bool exactSide = false) {
    std::mt19937 rng(key);
    for (int iter = 0; iter < iterations; ++iter) {
        const unsigned depth = kD[uniform(rng, 0, 5)];
        const int ch = depth == VEX_DEPTH_1U ? 1 : uniform(rng, 1, 3);
        vt::Layout ls = fref::layoutWith(rng, depth, ch), ld = fref::layoutWith(rng, depth, ch);
        ld.order = ls.order;
        const bool coi = ch > 1 && uniform(rng, 0, 2) == 0;
        if (coi) {
            ls.hasRoi = ld.hasRoi = true;
            if (ls.roi.width == 0) ls.roi = VexROI{0, 0, 0, ls.height, ls.width};
            if (ld.roi.width == 0) ld.roi = VexROI{0, 0, 0, ld.height, ld.width};
            ls.roi.coi = uniform(rng, 1, ch), ld.roi.coi = uniform(rng, 1, ch);
        }
        auto src = vt::makeImage(ls, rng());
        auto dst = vt::makeImage(ld, rng());
        VexImage *s = src->get(), *d = dst->get();
        fref::randomBorders(rng, s);
        const int nR = exactSide ? maxSide : uniform(rng, 1, maxSide), nC = exactSide ? maxSide : uniform(rng, 1, maxSide);
        const int ax = uniform(rng, 0, nC - 1), ay = uniform(rng, 0, nR - 1);
        SCOPED_TRACE(std::string(kNames[mode]) + " src " + vt::describe(ls) + " / dst " + vt::describe(ld) + " window " +
                     std::to_string(nR) + "x" + std::to_string(nC) + " anchor " + std::to_string(ax) + "," +
                     std::to_string(ay) + " iter " + std::to_string(iter));
        std::vector<int64_t> want = fref::samples(d);
        const vt::Clip sr = vt::clipOf(s), dr = vt::clipOf(d);
        const int W = std::min(sr.w, dr.w), H = std::min(sr.h, dr.h);
        const int n = coi ? 1 : ch;
        const int s0 = coi ? ls.roi.coi - 1 : 0, d0 = coi ? ld.roi.coi - 1 : 0;
        for (int k = 0; k < n; ++k)
            for (int j = 0; j < H; ++j)
                for (int i = 0; i < W; ++i)
                    want[fref::indexOf(d, dr.x + i, dr.y + j, d0 + k + 1)] =
                        refRank(mode, s, nR, nC, ax, ay, sr.x + i, sr.y + j, s0 + k + 1);
        vt::ReportLog log;
        kFns[mode](s, d, nR, nC, ax, ay, nullptr);
        ASSERT_EQ(log.size(), 0u) << log[0].context;
        ASSERT_EQ(fref::firstDiff(d, fref::samples(d), want), "");
    }
}

TEST(RankFilters, MaxMatchesSortedWindows) { runMatrix(0, 11, 300, 9); }
TEST(RankFilters, MinMatchesSortedWindows) { runMatrix(1, 12, 300, 9); }
TEST(RankFilters, MedianMatchesSortedWindows) { runMatrix(2, 13, 400, 7); }
TEST(RankFilters, LargeWindowsMatchSortedWindows) {
    for (int mode = 0; mode < 3; ++mode) runMatrix(mode, 20 + mode, 25, 19);
}

// The 3x3 median has a routine of its own for every depth.
TEST(RankFilters, Median3x3MatchesSortedWindows) { runMatrix(2, 14, 200, 3, true); }

// One call on a source and destination with ROIs on both sides (and a
// channel of interest `coi`, 0 for all), border modes differing per side,
// every output against the sorted window.
// `fill`, when given, sets every source sample (x, y, channel 1..ch).
void checkWide(int mode, unsigned depth, int ch, int nR, int nC, int ax, int ay, int H, int W, uint32_t key,
               int coi = 0, const std::function<int64_t(int, int, int)>& fill = nullptr) {
    vt::Image s(depth, ch, H + 3, W + 5), d(depth, ch, H + 2, W + 1);
    s.fillPattern(key);
    if (fill)
        for (int y = 0; y < H + 3; ++y)
            for (int x = 0; x < W + 5; ++x)
                for (int c = 1; c <= ch; ++c) s.setSample(x, y, c, fill(x, y, c));
    d.fillPattern(5);
    s.setRoi(coi, 3, 2, H, W + 1);
    d.setRoi(coi, 1, 1, H, W);
    for (int side = 0; side < 4; ++side) vexSetBorderMode(s.get(), (side + key) % 4, 1 << side, 40 * side + 3);
    const auto before = fref::samples(d.get());
    vt::ReportLog log;
    kFns[mode](s.get(), d.get(), nR, nC, ax, ay, nullptr);
    ASSERT_EQ(log.size(), 0u);
    std::vector<int64_t> want = before;
    for (int c = coi ? coi : 1; c <= (coi ? coi : ch); ++c)
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                want[fref::indexOf(d.get(), 1 + x, 1 + y, c)] = refRank(mode, s.get(), nR, nC, ax, ay, 3 + x, 2 + y, c);
    ASSERT_EQ(fref::firstDiff(d.get(), fref::samples(d.get()), want), "")
        << kNames[mode] << " " << nR << "x" << nC << " anchor " << ax << "," << ay << " c" << ch << " w" << W;
}

// Windows of more than 255 samples (16-bit counters) and more than 255
// rows, far larger than the region.
TEST(RankFilters, MedianOfVeryLargeWindows) {
    vexSetErrStatus(VEX_StsOk);
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S}) {
        checkWide(2, depth, 1, 200, 170, 170 / 3, 100, 5, 6, 41);
        checkWide(2, depth, 1, 300, 120, 40, 150, 5, 6, 42);
    }
}

// Rows wide enough that the histogram median works in several vertical
// strips (8- and 16-bit column counters); the samples at a strip's edges
// are the ones a fault would hit.
TEST(RankFilters, WideMediansMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    struct Case {
        unsigned depth;
        int ch, nR, nC, H, W;
    };
    const Case cases[] = {{VEX_DEPTH_8U, 1, 7, 7, 9, 2300},   {VEX_DEPTH_8U, 3, 5, 9, 6, 1400},
                          {VEX_DEPTH_8S, 3, 9, 4, 5, 1100},   {VEX_DEPTH_8U, 1, 260, 3, 4, 1700},
                          {VEX_DEPTH_8S, 1, 15, 15, 17, 1300}};
    for (const Case& k : cases) checkWide(2, k.depth, k.ch, k.nR, k.nC, k.nC / 2, k.nR / 3, k.H, k.W, k.W + k.nR);
}

// The vector paths of the 8-bit routines (32 or 64 samples a step, the
// rest sample by sample; rows read in place between copied margins): widths
// around the vector size, every window width up to 8 and wider than the
// region, anchors at both ends.
TEST(RankFilters, VectorRowsMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    const int windows[][2] = {{3, 3}, {7, 7}, {8, 8}, {2, 5}, {7, 1}, {1, 7}, {5, 5}, {9, 9},
                              {3, 40}, {6, 75}, {4, 2}, {3, 4}, {2, 6}};
    uint32_t key = 1;
    for (int mode = 0; mode < 3; ++mode)
        for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
            for (int ch : {1, 3})
                for (int W : {31, 33, 70, 100})
                    for (const auto& w : windows) {
                        const int nR = w[0], nC = w[1];
                        const int ax = key % 2 ? nC - 1 : 0, ay = key % 3 ? nR / 2 : nR - 1;
                        checkWide(mode, depth, ch, nR, nC, ax, ay, 5, W, key++);
                        if (HasFatalFailure()) return;
                    }
}

// The 8-bit maximum and minimum of windows up to 8x8 (four output rows a
// pass, whole vectors shifted across a row): every window size with every
// lane count up to four (five goes the general way), row counts that leave
// one to three rows for the last pass, widths around one to four vectors;
// rows the destination takes through a row buffer (one channel of three).
TEST(RankFilters, ExtremeRowsMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    uint32_t key = 7;
    for (int mode = 0; mode < 2; ++mode)
        for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
            for (int ch = 1; ch <= 5; ++ch)
                for (int W : {1, 9, 32, 63, 64, 65, 97, 130})
                    for (int H : {1, 2, 3, 4, 6, 7, 9}) {
                        const int nR = 2 + key % 7, nC = 1 + (key / 7) % 8;
                        checkWide(mode, depth, ch, nR, nC, key % nC, (key / 3) % nR, H, W, key);
                        if (HasFatalFailure()) return;
                        ++key;
                    }
    for (int W : {40, 129}) {
        checkWide(0, VEX_DEPTH_8U, 3, 7, 7, 3, 3, 6, W, key++, 2);
        checkWide(1, VEX_DEPTH_8S, 3, 5, 8, 7, 0, 7, W, key++, 3);
    }
}

// Whole images whose windows reach past every edge, taller than the bands
// in which the middle and the two side pieces take turns (32 rows for the
// 3x3 median, 48 for the maximum and minimum up to 8x8), last band partial:
// 3x3 medians, and extremes of windows taking two, three and four rows a
// pass, of one and three channels.
TEST(RankFilters, SidePiecesByBandsMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    const int jobs[][3] = {{2, 3, 3}, {0, 7, 7}, {1, 3, 5}, {0, 2, 8}, {1, 4, 3}};
    uint32_t key = 11;
    for (const auto& j : jobs)
        for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
            for (int ch : {1, 3}) {
                const int mode = j[0], nR = j[1], nC = j[2], H = 97 + int(key % 3), W = 40 + int(key % 5) * 9;
                const int ax = int(key % nC), ay = int((key / 3) % nR);
                vt::Image s(depth, ch, H, W), d(depth, ch, H, W);
                s.fillPattern(key);
                d.fillPattern(5);
                for (int side = 0; side < 4; ++side) vexSetBorderMode(s.get(), (side + key) % 4, 1 << side, 9 * side + 2);
                std::vector<int64_t> want = fref::samples(d.get());
                for (int c = 1; c <= ch; ++c)
                    for (int y = 0; y < H; ++y)
                        for (int x = 0; x < W; ++x)
                            want[fref::indexOf(d.get(), x, y, c)] = refRank(mode, s.get(), nR, nC, ax, ay, x, y, c);
                vt::ReportLog log;
                kFns[mode](s.get(), d.get(), nR, nC, ax, ay, nullptr);
                ASSERT_EQ(log.size(), 0u);
                ASSERT_EQ(fref::firstDiff(d.get(), fref::samples(d.get()), want), "")
                    << kNames[mode] << " " << nR << "x" << nC << " anchor " << ax << "," << ay << " c" << ch << " "
                    << H << "x" << W;
                ++key;
            }
}

// The 5x5, 7x7 and 9x9 medians' own routine: random layouts (tiles,
// channels of interest, plane order) and, on rows with ROIs on both sides
// and every border mode, widths around the vector and piece sizes and one,
// two or three output rows (row pairs and a single last row); rows the
// destination takes through a row buffer (one channel of three, 1-bit
// samples).
TEST(RankFilters, MedianNetworksMatchSortedWindows) {
    uint32_t key = 3;
    for (int k : {5, 7, 9}) {
        runMatrix(2, 15 + k, 60, k, true);
        for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
            for (int ch : {1, 3})
                for (int W : {10, 11, 31, 32, 33, 171, 511, 512, 513, 700})
                    for (int H : {1, 2, 3}) {
                        checkWide(2, depth, ch, k, k, key % k, (key / k) % k, H, W, key);
                        if (HasFatalFailure()) return;
                        key += 5;
                    }
        for (int W : {33, 520}) {
            checkWide(2, VEX_DEPTH_8U, 3, k, k, k / 2, k / 2, 3, W, key++, 2);
            checkWide(2, VEX_DEPTH_8S, 3, k, k, 0, k - 1, 4, W, key++, 3);
            checkWide(2, VEX_DEPTH_1U, 1, k, k, k - 1, 1, 3, W, key++);
        }
    }
}

// The histogram median with AVX2 (byte counters, rows of 32 output
// samples or more): the coarse level 32 outputs at a time, summed only
// around the bins of the row before; groups of 32 outputs whose medians
// share a band of four bins, and groups that do not. Widths around the
// vector size, windows up to 255 samples, one to three output rows, random
// samples (medians near the middle) and images whose medians jump between
// distant bins from column to column and row to row.
TEST(RankFilters, HistogramMediansMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    const int windows[][2] = {{15, 15}, {11, 13}, {6, 6}, {3, 20}, {17, 15}, {1, 33}, {40, 2}};
    uint32_t key = 7;
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
        for (int ch : {1, 3})
            for (int W : {10, 11, 31, 32, 33, 63, 64, 65, 100})
                for (const auto& w : windows) {
                    checkWide(2, depth, ch, w[0], w[1], key % w[1], (key / 3) % w[0], 1 + key % 3, W, key);
                    if (HasFatalFailure()) return;
                    ++key;
                }
    // Stripes of dark and bright columns, a ramp down the rows and noise:
    // neighbouring medians lie bins apart and the bins' range moves.
    const std::function<int64_t(int, int, int)> fills[] = {
        [](int x, int y, int c) { return int64_t((x / 9 + c) % 2 ? 250 - 6 * y : 7 * y + (x * 13 + c * 29) % 40); },
        [](int x, int y, int c) { return int64_t((x * x + 3 * y * y + 50 * c) % 256); },
        [](int x, int y, int c) { return int64_t(y < 12 ? (x * 37 + c) % 256 : (x / 4 % 3) * 100 + y % 7); },
    };
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_8S})
        for (int ch : {1, 3})
            for (size_t f = 0; f < 3; ++f) {
                checkWide(2, depth, ch, 15, 15, 7, 7, 30, 140, key++, 0, fills[f]);
                checkWide(2, depth, ch, 9, 21, 20, 0, 25, 77, key++, 0, fills[f]);
                if (HasFatalFailure()) return;
            }
    // Wide rows in several strips, a channel of interest, 1-bit samples,
    // random layouts with tiles.
    checkWide(2, VEX_DEPTH_8U, 3, 15, 15, 7, 7, 6, 700, key++, 0, fills[0]);
    checkWide(2, VEX_DEPTH_8U, 1, 13, 15, 2, 12, 5, 2100, key++, 0, fills[1]);
    checkWide(2, VEX_DEPTH_8S, 3, 15, 15, 14, 0, 4, 90, key++, 2);
    checkWide(2, VEX_DEPTH_1U, 1, 15, 15, 7, 7, 4, 130, key++);
    // 255 samples: the longest doubling of columns, and one column.
    checkWide(2, VEX_DEPTH_8U, 1, 1, 255, 200, 0, 2, 40, key++, 0, fills[1]);
    checkWide(2, VEX_DEPTH_8S, 3, 255, 1, 0, 130, 3, 33, key++, 0, fills[2]);
    runMatrix(2, 40, 40, 15, true);
}

// The 8-bit median by window counts per output column (windows up to 16
// columns and 255 samples), in each kernel form: every window width, with
// the most rows that fit and with few; widths around the groups of 32 and
// 64 outputs and the strips of 128 (strips of one to four groups, which
// walk together); one to four channels; rows past a block of 32; images
// whose medians fall far from one row to the next and rise far (a walk
// that starts far below its smallest median), and medians near the top
// of the values (walks that end alone).
TEST(RankFilters, ColumnCountMediansMatchSortedWindows) {
    vexSetErrStatus(VEX_StsOk);
    const std::function<int64_t(int, int, int)> fall = [](int x, int y, int c) {
        return int64_t(y % 20 < 10 ? 200 + (x * 7 + c) % 50 : (x * 11 + y + c) % 60);
    };
    const std::function<int64_t(int, int, int)> top = [](int x, int y, int c) {
        return int64_t(y % 9 < 4 ? 255 - (x * 5 + y + c) % 7 : 240 + (x * 3 + c) % 16);
    };
    const int widths[] = {1, 31, 33, 95, 127, 129, 257}, heights[] = {1, 3, 34, 40};
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(kForms[form]);
        useForm(form);
        for (int nC = 1; nC <= 16; ++nC)
            for (int i = 0; i < 4; ++i) {
                const int nR = i == 1 ? 1 + nC % 5 : 255 / nC, W = widths[(nC + i) % 7], ch = 1 + (nC + i) % 4;
                const unsigned depth = i == 1 ? VEX_DEPTH_8S : VEX_DEPTH_8U;
                checkWide(2, depth, ch, nR, nC, (nC * 5 + i) % nC, (nR * 3 + i) % nR, heights[(nC + 2 * i) % 4], W,
                          uint32_t(100 + 3 * nC + i), 0, i == 2 ? fall : i == 3 ? top : nullptr);
                if (HasFatalFailure()) break;
            }
        useForm(0);
        if (HasFatalFailure()) return;
    }
}

TEST(RankFilters, MedianRankAndIsolatedPixel) {
    vexSetErrStatus(VEX_StsOk);
    // 2x2 window of 1, 2, 3, 4: rank 3 gives 3.
    vt::Image s(VEX_DEPTH_8U, 1, 2, 2), d(VEX_DEPTH_8U, 1, 2, 2);
    s.setSample(0, 0, 1, 1), s.setSample(1, 0, 1, 2), s.setSample(0, 1, 1, 3), s.setSample(1, 1, 1, 4);
    d.setRoi(0, 0, 0, 1, 1);
    s.setRoi(0, 0, 0, 1, 1);
    vexMedianFilter(s.get(), d.get(), 2, 2, 0, 0, nullptr);
    EXPECT_EQ(d.sample(0, 0, 1), 3);
    // An isolated bright pixel is removed by a 3x3 median.
    vt::Image a(VEX_DEPTH_8U, 1, 5, 5), b(VEX_DEPTH_8U, 1, 5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) a.setSample(x, y, 1, 20);
    a.setSample(2, 2, 1, 255);
    vexSetBorderMode(a.get(), VEX_BORDER_REPLICATE, 15, 0);
    vexMedianFilter(a.get(), b.get(), 3, 3, 1, 1, nullptr);
    EXPECT_EQ(fref::samples(b.get()), std::vector<int64_t>(25, 20));
    // A 1x1 window copies; the maximum next to a constant-0 border of an 8S image of -5 is 0.
    vt::Image m(VEX_DEPTH_8S, 1, 3, 3), md(VEX_DEPTH_8S, 1, 3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) m.setSample(x, y, 1, -5);
    vexMaxFilter(m.get(), md.get(), 1, 1, 0, 0, nullptr);
    EXPECT_EQ(fref::samples(md.get()), std::vector<int64_t>(9, -5));
    vexSetBorderMode(m.get(), VEX_BORDER_REPLICATE, VEX_SIDE_TOP | VEX_SIDE_BOTTOM | VEX_SIDE_RIGHT, 0);
    vexMaxFilter(m.get(), md.get(), 1, 3, 1, 0, nullptr);
    EXPECT_EQ(md.sample(0, 1, 1), 0);
    EXPECT_EQ(md.sample(1, 1, 1), -5);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// In place equals a separate destination; tiled equals untiled; the
// mapping computes only the tile holding its pixel.
TEST(RankFilters, InPlaceTiledAndMapping) {
    vexSetErrStatus(VEX_StsOk);
    std::mt19937 rng(8);
    for (int iter = 0; iter < 60; ++iter) {
        const int mode = iter % 3;
        const unsigned depth = kD[uniform(rng, 0, 5)];
        const int H = uniform(rng, 9, 40), W = uniform(rng, 9, 40);
        vt::Image a(depth, 1, H, W), b(depth, 1, H, W), sep(depth, 1, H, W);
        vt::TiledImage ts(depth, 1, H, W, 8 * uniform(rng, 1, 3), 8 * uniform(rng, 1, 3));
        vt::TiledImage td(depth, 1, H, W, 8 * uniform(rng, 1, 3), 8 * uniform(rng, 1, 3));
        for (vt::ImageBase* im : std::initializer_list<vt::ImageBase*>{&a, &b, &ts}) {
            im->fillPattern(17);
            for (int side = 0; side < 4; ++side) vexSetBorderMode(im->get(), (iter + side) % 4, 1 << side, 77);
        }
        sep.fillPattern(3);
        td.fillPattern(3);
        const int nR = uniform(rng, 1, 6), nC = uniform(rng, 1, 6);
        const int ax = uniform(rng, 0, nC - 1), ay = uniform(rng, 0, nR - 1);
        kFns[mode](a.get(), sep.get(), nR, nC, ax, ay, nullptr);
        kFns[mode](b.get(), b.get(), nR, nC, ax, ay, nullptr);
        kFns[mode](ts.get(), td.get(), nR, nC, ax, ay, nullptr);
        ASSERT_EQ(vexGetErrStatus(), VEX_StsOk);
        ASSERT_EQ(fref::firstDiff(b.get(), fref::samples(b.get()), fref::samples(sep.get())), "") << iter;
        ASSERT_EQ(fref::firstDiff(td.get(), fref::samples(td.get()), fref::samples(sep.get())), "") << iter;
        EXPECT_EQ(ts.outstanding(), 0);
        EXPECT_EQ(td.outstanding(), 0);
        // Mapping: only the tile holding (x, y) changes.
        vt::TiledImage tm(depth, 1, H, W, 8, 8);
        tm.fillPattern(3);
        const int mx = uniform(rng, 0, W - 1), my = uniform(rng, 0, H - 1);
        const VexMapping map{mx, my};
        const auto before = fref::samples(tm.get());
        kFns[mode](a.get(), tm.get(), nR, nC, ax, ay, &map);
        const auto after = fref::samples(tm.get()), full = fref::samples(sep.get());
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool in = x / 8 == mx / 8 && y / 8 == my / 8;
                const size_t i = fref::indexOf(tm.get(), x, y, 1);
                ASSERT_EQ(after[i], in ? full[i] : before[i]) << x << "," << y;
            }
    }
}

TEST(RankFilters, ChecksInOrder) {
    vexSetErrStatus(VEX_StsOk);
    for (int mode = 0; mode < 3; ++mode) {
        vt::Image s(VEX_DEPTH_8U, 3, 4, 4), d(VEX_DEPTH_8U, 3, 4, 4), s16(VEX_DEPTH_16U, 3, 4, 4);
        vt::Image plane(VEX_DEPTH_8U, 3, 4, 4, VEX_DATA_ORDER_PLANE), one(VEX_DEPTH_8U, 1, 4, 4);
        d.fillPattern(4);
        const auto before = d.bytes();
        const RankFn f = kFns[mode];
        vt::expectSteps(kNames[mode], "vexnlf", {
            {[&] { f(s.get(), d.get(), 3, 3, 3, 1, nullptr); }, {"(anchorX>=nCols)||(anchorX<0)"}},
            {[&] { f(s.get(), d.get(), 3, 3, -1, 1, nullptr); }, {"(anchorX>=nCols)||(anchorX<0)"}},
            {[&] { f(s.get(), d.get(), 3, 0, 0, 1, nullptr); }, {"(anchorX>=nCols)||(anchorX<0)"}},
            {[&] { f(s.get(), d.get(), 3, 3, 1, 3, nullptr); }, {"(anchorY>=nRows)||(anchorY<0)"}},
            {[&] { f(s.get(), d.get(), 3, 3, 1, -2, nullptr); }, {"(anchorY>=nRows)||(anchorY<0)"}},
            {[&] { f(s16.get(), d.get(), 3, 3, 1, 1, nullptr); }, {"srcImage->depth!=dstImage->depth"}},
            {[&] { f(plane.get(), d.get(), 3, 3, 1, 1, nullptr); }, {"srcImage->dataOrder!=dstImage->dataOrder"}},
            {[&] { f(s.get(), one.get(), 3, 3, 1, 1, nullptr); },
             {"Number of interset channel input and output Image is not equal."}},
        }, &d);
        // A channel of interest beyond the channels: the header check, which
        // runs first, already refuses it with its own message.
        s.setRoi(4, 0, 0, 4, 4);
        vt::ReportLog log;
        f(s.get(), d.get(), 3, 3, 1, 1, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context.rfind("COI is less zero or is more image channel's number", 0), 0u);
        EXPECT_EQ(log[0].funcName, kNames[mode]);
        EXPECT_EQ(d.bytes(), before);
        vexSetErrStatus(VEX_StsOk);
    }
}

}  // namespace
