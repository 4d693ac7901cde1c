// Histograms, contrast stretch and equalisation against plain reference
// computations over depths, orders, channels, ROIs and tiles; the record
// checks and the other checks with their texts; the sticky status.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// A record with its own storage.
struct Lut {
    std::vector<int> key, value, factor;
    VexLUT rec{};
    Lut(std::vector<int> k, std::vector<int> v, std::vector<int> f = {}, int interpolate = 0)
        : key(std::move(k)), value(std::move(v)), factor(std::move(f)) {
        if (factor.empty()) factor.assign(key.size(), 0);
        rec = VexLUT{int(key.size()), key.data(), value.data(), factor.data(), interpolate};
    }
};

Lut randomLut(std::mt19937& rng, int histSize) {
    const int num = uniform(rng, 2, 6);
    std::vector<int> key(num), value(num), factor(num);
    for (int& k : key) k = uniform(rng, 0, 3) == 0 ? (uniform(rng, 0, 1) ? 0 : histSize) : uniform(rng, 0, histSize);
    std::sort(key.begin(), key.end());
    for (int& v : value) v = uniform(rng, -70000, 70000);
    for (int& f : factor) f = uniform(rng, -300, 300);
    return Lut(key, value, factor, uniform(rng, 0, 1));
}

struct Clip {
    int x = 0, y = 0, w = 0, h = 0;
};
Clip clipOf(const VexImage* im) {
    Clip r{0, 0, im->width, im->height};
    if (const VexROI* roi = im->roi) {
        r.x = roi->xOffset, r.y = roi->yOffset;
        r.w = std::max(0, std::min(roi->width, im->width - r.x));
        r.h = std::max(0, std::min(roi->height, im->height - r.y));
    }
    return r;
}
std::vector<int> channelsOf(const VexImage* im) {
    if (im->roi && im->roi->coi > 0) return {im->roi->coi};
    std::vector<int> all;
    for (int c = 1; c <= im->nChannels; ++c) all.push_back(c);
    return all;
}

// Counts of every value of channel c in the image's region.
std::vector<int64_t> countValues(const VexImage* im, int c, int histSize) {
    std::vector<int64_t> h(size_t(histSize), 0);
    const Clip r = clipOf(im);
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) ++h[size_t(vt::sample(im, x, y, c))];
    return h;
}
std::vector<int> binned(const std::vector<int64_t>& h, const std::vector<int>& key) {
    std::vector<int> v;
    for (size_t i = 0; i + 1 < key.size(); ++i) {
        int64_t s = 0;
        for (int k = key[i]; k < key[i + 1]; ++k) s += h[size_t(k)];
        v.push_back(int(s));
    }
    return v;
}

// Applies per-channel tables to the paired regions of src and expect.
void applyTables(const VexImage* src, VexImage* expect, const std::vector<std::vector<int64_t>>& tables) {
    const Clip s = clipOf(src), d = clipOf(expect);
    const int w = std::min(s.w, d.w), h = std::min(s.h, d.h);
    const std::vector<int> cs = channelsOf(src), cd = channelsOf(expect);
    for (size_t k = 0; k < cs.size(); ++k)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                vt::setSample(expect, d.x + x, d.y + y, cd[k], tables[k][size_t(vt::sample(src, s.x + x, s.y + y, cs[k]))]);
}

// The stretch table as the records define it.
std::vector<int64_t> stretchTable(const VexLUT& l, int M) {
    std::vector<int64_t> t(static_cast<size_t>(M));
    int j = -1;
    for (int v = 0; v < M; ++v) {
        if (v < l.key[0]) {
            t[size_t(v)] = v;
            continue;
        }
        if (j + 1 < l.num && v == l.key[j + 1]) ++j;
        int64_t r = l.value[j];
        if (l.interpolate) r += int64_t(v - l.key[j]) * l.factor[j];
        t[size_t(v)] = int64_t(uint64_t(r) & uint64_t(M - 1));
    }
    return t;
}

// The equalisation steps: density, cumulative sum, table.
struct Equalised {
    std::vector<int64_t> density, table;
    int64_t total = 0;
};
Equalised equalise(const VexLUT& l, int M) {
    Equalised e;
    e.density.assign(size_t(M), 0);
    int64_t level = 0;
    for (int i = 1; i < l.num; ++i) {
        const int64_t w = int64_t(l.key[i]) - l.key[i - 1], c = l.value[i - 1];
        if (w < 2) {
            if (level < M) e.density[size_t(level)] = c;
            ++level;
        } else {
            for (int64_t v = level; v <= l.key[i] - 2; ++v) e.density[size_t(v)] = c / w;
            e.density[size_t(l.key[i] - 1)] = c % w;
            level = l.key[i];
        }
    }
    for (int64_t v = level; v < M; ++v) e.density[size_t(v)] = 0;
    std::vector<int64_t> cum(static_cast<size_t>(M));
    int64_t exact = 0;
    for (int v = 0; v < M; ++v) exact += e.density[size_t(v)], cum[size_t(v)] = exact;
    e.total = exact;
    e.table.assign(size_t(M), 0);
    if (e.total != 0)
        for (int v = 0; v < M; ++v)
            e.table[size_t(v)] = int64_t(uint64_t(int64_t(__int128(cum[size_t(v)]) * (M - 1) / e.total)) & uint64_t(M - 1));
    return e;
}

// Random source and destination layouts whose processed channel counts agree.
void pairLayouts(std::mt19937& rng, const vt::LayoutLimits& lim, vt::Layout* ls, vt::Layout* ld) {
    *ls = vt::randomLayout(rng, lim);
    *ld = vt::randomLayout(rng, lim);
    ld->depth = ls->depth, ld->order = ls->order, ld->origin = ls->origin;
    const int sc = ls->hasRoi && ls->roi.coi > 0 ? 1 : ls->nChannels;
    if (sc == 1) {
        if (ld->nChannels > 1) {
            if (!ld->hasRoi) ld->hasRoi = true, ld->roi = {0, 0, 0, ld->height, ld->width};
            ld->roi.coi = uniform(rng, 1, ld->nChannels);
        }
    } else {
        ld->nChannels = ls->nChannels;
        if (ld->hasRoi) ld->roi.coi = 0;
    }
}

std::vector<VexLUT*> pointers(std::vector<Lut>& luts) {
    std::vector<VexLUT*> p;
    for (Lut& l : luts) p.push_back(&l.rec);
    return p;
}

// ------------------------------------------------------------------ counting

TEST(Histo, CountsMatchReference) {
    std::mt19937 rng(71);
    vt::LayoutLimits lim;
    lim.depths = {VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    lim.roiOutside = true;
    for (int iter = 0; iter < 300; ++iter) {
        const vt::Layout l = vt::randomLayout(rng, lim);
        SCOPED_TRACE("case " + std::to_string(iter) + ": " + vt::describe(l));
        auto im = vt::makeImage(l, 5u + iter);
        const int histSize = l.depth == VEX_DEPTH_1U ? 2 : l.depth == VEX_DEPTH_8U ? 256 : 65536;
        std::vector<Lut> luts;
        for (int c = 0; c < l.nChannels; ++c) {
            luts.push_back(randomLut(rng, histSize));
            luts.back().rec.interpolate = 1;
            luts.back().value.back() = 12345;
        }
        std::vector<VexLUT*> p = pointers(luts);
        vt::ReportLog log;
        vexComputeHisto(im->get(), p.data(), nullptr);
        ASSERT_EQ(log.size(), 0u);
        const std::vector<int> cs = channelsOf(im->get());
        for (int c : cs) {
            const Lut& lut = luts[size_t(c - 1)];
            const std::vector<int> want = binned(countValues(im->get(), c, histSize), lut.key);
            EXPECT_EQ(std::vector<int>(lut.value.begin(), lut.value.end() - 1), want) << "channel " << c;
            EXPECT_EQ(lut.value.back(), 12345);
            EXPECT_EQ(lut.rec.interpolate, 0);
        }
        if (cs.size() == 1 && l.nChannels > 1)  // other records untouched
            for (int c = 1; c <= l.nChannels; ++c)
                if (c != cs[0]) {
                    EXPECT_EQ(luts[size_t(c - 1)].rec.interpolate, 1);
                }
    }
}

TEST(Histo, KeysSplitAtHalf) {
    vt::Image im(VEX_DEPTH_8U, 1, 4, 8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) im.setSample(x, y, 1, (x * 37 + y * 11) % 256);
    Lut l({0, 128, 256}, {0, 0, -7});
    VexLUT* p = &l.rec;
    vexComputeHisto(im.get(), &p, nullptr);
    int below = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) below += im.sample(x, y, 1) < 128;
    EXPECT_EQ(l.value[0], below);
    EXPECT_EQ(l.value[1], 32 - below);
    EXPECT_EQ(l.value[2], -7);
}

// Each tile selected in turn counts its own part; together the whole region.
TEST(Histo, TileSelectorCountsOneTile) {
    vt::TiledImage im(VEX_DEPTH_8U, 2, 37, 29, 16, 8);
    im.fillPattern(4);
    im.setRoi(0, 3, 5, 30, 20);
    Lut whole({0, 64, 128, 200, 256}, {0, 0, 0, 0, 0}), part({0, 64, 128, 200, 256}, {0, 0, 0, 0, 0});
    Lut whole2 = whole, part2 = part;
    whole2.rec = VexLUT{5, whole2.key.data(), whole2.value.data(), whole2.factor.data(), 0};
    part2.rec = VexLUT{5, part2.key.data(), part2.value.data(), part2.factor.data(), 0};
    VexLUT* w[2] = {&whole.rec, &whole2.rec};
    VexLUT* p[2] = {&part.rec, &part2.rec};
    vexComputeHisto(im.get(), w, nullptr);
    std::vector<int> sum(4, 0), sum2(4, 0);
    for (int ty = 0; ty < 5; ++ty)
        for (int tx = 0; tx < 2; ++tx) {
            const int tile[2] = {tx, ty};
            vexComputeHisto(im.get(), p, tile);
            for (int i = 0; i < 4; ++i) sum[size_t(i)] += part.value[size_t(i)], sum2[size_t(i)] += part2.value[size_t(i)];
        }
    EXPECT_EQ(sum, std::vector<int>(whole.value.begin(), whole.value.end() - 1));
    EXPECT_EQ(sum2, std::vector<int>(whole2.value.begin(), whole2.value.end() - 1));
    EXPECT_EQ(im.outstanding(), 0);
}

// ------------------------------------------------------------------ mapping

TEST(Histo, StretchMatchesReference) {
    std::mt19937 rng(72);
    vt::LayoutLimits lim;
    lim.depths = {VEX_DEPTH_8U, VEX_DEPTH_16U};
    lim.roiOutside = true;
    for (int iter = 0; iter < 300; ++iter) {
        vt::Layout ls, ld;
        pairLayouts(rng, lim, &ls, &ld);
        SCOPED_TRACE("case " + std::to_string(iter) + ": " + vt::describe(ls) + " -> " + vt::describe(ld));
        auto src = vt::makeImage(ls, 7u + iter), dst = vt::makeImage(ld, 300u + iter), expect = vt::makeImage(ld, 300u + iter);
        const int M = ls.depth == VEX_DEPTH_8U ? 256 : 65536;
        std::vector<Lut> luts;
        for (int c = 0; c < ls.nChannels; ++c) luts.push_back(randomLut(rng, M));
        std::vector<VexLUT*> p = pointers(luts);
        std::vector<std::vector<int64_t>> tables;
        for (int c : channelsOf(src->get())) tables.push_back(stretchTable(luts[size_t(c - 1)].rec, M));
        applyTables(src->get(), expect->get(), tables);
        vt::ReportLog log;
        vexContrastStretch(src->get(), dst->get(), p.data(), nullptr);
        ASSERT_EQ(log.size(), 0u);
        ASSERT_EQ(dst->bytes(), expect->bytes()) << vt::diffSamples(dst->get(), expect->get());
    }
}

// Long rows of every level through a random table, in place too.
TEST(Histo, StretchLongRows) {
    std::mt19937 rng(74);
    for (int width : {31, 32, 33, 64, 95, 517, 4099}) {
        vt::Image src(VEX_DEPTH_8U, 1, 3, width), dst(VEX_DEPTH_8U, 1, 3, width);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) src.setSample(x, y, 1, (x * 7 + y * 101 + x / 256) & 255);
        std::vector<int> keys(257), values(257);
        for (int v = 0; v <= 256; ++v) keys[size_t(v)] = v, values[size_t(v)] = uniform(rng, 0, 255);
        Lut l(keys, values);
        VexLUT* p = &l.rec;
        vt::Image inPlace = src.clone();
        vexContrastStretch(src.get(), dst.get(), &p, nullptr);
        vexContrastStretch(inPlace.get(), inPlace.get(), &p, nullptr);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(dst.sample(x, y, 1), values[size_t(src.sample(x, y, 1))]) << width << " " << x;
                ASSERT_EQ(inPlace.sample(x, y, 1), dst.sample(x, y, 1));
            }
    }
}

TEST(Histo, StretchWorkedSegments) {
    vt::Image src(VEX_DEPTH_8U, 1, 1, 256), dst(VEX_DEPTH_8U, 1, 1, 256);
    for (int x = 0; x < 256; ++x) src.setSample(x, 0, 1, x);
    Lut flatLut({64, 192}, {0, 255});
    VexLUT* p = &flatLut.rec;
    vexContrastStretch(src.get(), dst.get(), &p, nullptr);
    for (int x = 0; x < 256; ++x) ASSERT_EQ(dst.sample(x, 0, 1), x < 64 ? x : x < 192 ? 0 : 255) << x;
    Lut linear({64, 192}, {0, 255}, {2, 0}, 1);
    p = &linear.rec;
    vexContrastStretch(src.get(), dst.get(), &p, nullptr);
    EXPECT_EQ(dst.sample(100, 0, 1), 72);
}

TEST(Histo, CoiUsesItsOwnRecordOnly) {
    vt::Image src(VEX_DEPTH_8U, 3, 4, 5), dst(VEX_DEPTH_8U, 3, 4, 5);
    src.fillPattern(1), dst.fillPattern(2);
    src.setRoi(2, 0, 0, 4, 5);
    dst.setRoi(2, 0, 0, 4, 5);
    Lut l1({0, 256}, {9, 0}), l0({0, 256}, {1, 0});
    VexLUT* p[3] = {nullptr, &l1.rec, nullptr};  // only lut[1] may be read
    vt::ReportLog log;
    vexContrastStretch(src.get(), dst.get(), p, nullptr);
    EXPECT_EQ(log.size(), 0u);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.sample(x, y, 2), 9);
}

TEST(Histo, EqualizeMatchesReference) {
    std::mt19937 rng(73);
    vt::LayoutLimits lim;
    lim.depths = {VEX_DEPTH_8U, VEX_DEPTH_8U, VEX_DEPTH_16U};
    lim.roiOutside = true;
    int ran = 0;
    for (int iter = 0; iter < 300; ++iter) {
        vt::Layout ls, ld;
        pairLayouts(rng, lim, &ls, &ld);
        SCOPED_TRACE("case " + std::to_string(iter) + ": " + vt::describe(ls) + " -> " + vt::describe(ld));
        auto src = vt::makeImage(ls, 9u + iter), dst = vt::makeImage(ld, 500u + iter), expect = vt::makeImage(ld, 500u + iter);
        const int M = ls.depth == VEX_DEPTH_8U ? 256 : 65536;
        const int nLuts = std::max(ls.nChannels, ld.nChannels);
        std::vector<Lut> luts;
        for (int c = 0; c < nLuts; ++c) luts.push_back(randomLut(rng, M));
        std::vector<VexLUT*> p = pointers(luts);
        // Realistic counts half the time: the source's own histogram.
        if (uniform(rng, 0, 1)) {
            vexComputeHisto(src->get(), p.data(), nullptr);
            ASSERT_EQ(vexGetErrStatus(), 0);
        }
        const std::vector<int> cs = channelsOf(src->get()), cd = channelsOf(dst->get());
        std::vector<Equalised> eq;
        std::vector<std::vector<int64_t>> tables;
        bool zero = false;
        for (int c : cs) {
            eq.push_back(equalise(luts[size_t(c - 1)].rec, M));
            zero = zero || eq.back().total == 0;
            tables.push_back(eq.back().table);
        }
        if (zero) continue;
        applyTables(src->get(), expect->get(), tables);
        std::vector<std::vector<int>> wantValues;
        for (size_t k = 0; k < cs.size(); ++k) {
            std::vector<int64_t> h(size_t(M), 0);
            for (int v = 0; v < M; ++v) h[size_t(eq[k].table[size_t(v)])] += eq[k].density[size_t(v)];
            wantValues.push_back(binned(h, luts[size_t(cd[k] - 1)].key));
        }
        vt::ReportLog log;
        vexHistoEqualize(src->get(), dst->get(), p.data(), nullptr);
        ASSERT_EQ(log.size(), 0u);
        ASSERT_EQ(dst->bytes(), expect->bytes()) << vt::diffSamples(dst->get(), expect->get());
        for (size_t k = 0; k < cs.size(); ++k) {
            const Lut& l = luts[size_t(cd[k] - 1)];
            EXPECT_EQ(std::vector<int>(l.value.begin(), l.value.end() - 1), wantValues[k]);
        }
        ++ran;
    }
    EXPECT_GT(ran, 200);
}

// A dark image equalised spreads over the whole range, monotonically.
TEST(Histo, EqualizeSpreadsADarkImage) {
    vt::Image src(VEX_DEPTH_8U, 1, 16, 16), dst(VEX_DEPTH_8U, 1, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) src.setSample(x, y, 1, (x + 16 * y) / 8);  // 0..31
    std::vector<int> keys(257);
    for (int i = 0; i <= 256; ++i) keys[size_t(i)] = i;
    Lut l(keys, std::vector<int>(257, 0));
    VexLUT* p = &l.rec;
    vexComputeHisto(src.get(), &p, nullptr);
    vexHistoEqualize(src.get(), dst.get(), &p, nullptr);
    EXPECT_EQ(vexGetErrStatus(), 0);
    EXPECT_EQ(dst.sample(15, 15, 1), 255);
    for (int i = 1; i < 256; ++i)
        EXPECT_LE(dst.sample((i - 1) % 16, (i - 1) / 16, 1), dst.sample(i % 16, i / 16, 1));
    EXPECT_GT(dst.sample(8, 8, 1), 100);
    // The stored histogram counts the mapped levels: 8 pixels on each of 32 levels.
    int used = 0;
    for (int v = 0; v < 256; ++v) used += l.value[size_t(v)] != 0;
    EXPECT_EQ(used, 32);
}

// ------------------------------------------------------------------ checks

TEST(Histo, RecordChecksInOrder) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4), dst(VEX_DEPTH_8U, 1, 4, 4);
    src.fillPattern(1), dst.fillPattern(2);
    const auto before = dst.bytes();
    struct Case {
        std::vector<int> key;
        int num;
        bool nullKey, nullValue;
        const char* text;
    };
    const Case cases[] = {
        {{0, 256}, 2, true, true, "lut[k]->key==0"},
        {{0, 256}, 2, false, true, "lut[k]->value==0"},
        {{-1, 300}, 1, false, false, "lut[k]->num < 2"},
        {{-1, 300}, 2, false, false, "lut[k]->key[0] < 0"},
        {{0, 257}, 2, false, false, "lut[k]->key[lut[k]->num-1] > histSize"},
        {{0, 20, 10, 256}, 4, false, false, "lut[k]->key[i] > lut[k]->key[i+1]"},
    };
    for (int op = 0; op < 3; ++op) {
        const char* name = op == 0 ? "vexComputeHisto" : op == 1 ? "vexContrastStretch" : "vexHistoEqualize";
        auto call = [&](VexLUT** p) {
            if (op == 0) vexComputeHisto(src.get(), p, nullptr);
            if (op == 1) vexContrastStretch(src.get(), dst.get(), p, nullptr);
            if (op == 2) vexHistoEqualize(src.get(), dst.get(), p, nullptr);
        };
        {
            VexLUT* none = nullptr;
            vt::ReportLog log;
            call(&none);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].context, "lut[k]==0");
            vexSetErrStatus(0);
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(name) + ": " + c.text);
            Lut l(c.key, std::vector<int>(c.key.size(), 1));
            l.rec.num = c.num;
            if (c.nullKey) l.rec.key = nullptr;
            if (c.nullValue) l.rec.value = nullptr;
            VexLUT* p = &l.rec;
            vt::ReportLog log;
            call(&p);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].context, c.text);
            EXPECT_EQ(log[0].status, VEX_StsBadArg);
            EXPECT_EQ(log[0].funcName, name);
            EXPECT_EQ(log[0].file, "vexHist");
            EXPECT_EQ(dst.bytes(), before);
            vexSetErrStatus(0);
        }
    }
}

TEST(Histo, ComputeChecksReportBothThenStop) {
    vt::Image s8(VEX_DEPTH_8S, 1, 4, 4);
    {
        vt::ReportLog log;
        vexComputeHisto(s8.get(), nullptr, nullptr);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].context, "lut==0");
        EXPECT_EQ(log[1].context, "srcImage->depth & VEX_DEPTH_SIGN");
        EXPECT_EQ(log[1].file, "vexHist");
    }
    vt::Image u8(VEX_DEPTH_8U, 1, 4, 4);
    u8.get()->align = 3;
    {
        vt::ReportLog log;
        vexComputeHisto(u8.get(), nullptr, nullptr);
        ASSERT_EQ(log.size(), 1u);  // a bad header ends the call
        EXPECT_EQ(log[0].context.rfind("Image align is invalid", 0), 0u);
    }
    vexSetErrStatus(0);
}

TEST(Histo, StickyStatusStopsTheCall) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4), dst(VEX_DEPTH_8U, 1, 4, 4);
    src.fillPattern(1), dst.fillPattern(2);
    const auto before = dst.bytes();
    Lut l({0, 128, 256}, {5, 6, 7});
    VexLUT* p = &l.rec;
    vt::ReportLog log;
    vexSetErrStatus(VEX_StsError);
    vexComputeHisto(src.get(), &p, nullptr);
    vexContrastStretch(src.get(), dst.get(), &p, nullptr);
    vexHistoEqualize(src.get(), dst.get(), &p, nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(l.value, (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(dst.bytes(), before);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsError);
    vexSetErrStatus(0);
    vexComputeHisto(src.get(), &p, nullptr);
    EXPECT_EQ(l.value[0] + l.value[1], 16);
}

TEST(Histo, MappingChecksInOrder) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4);
    Lut l({0, 256}, {1, 1});
    VexLUT* p = &l.rec;
    for (int op = 0; op < 2; ++op) {
        auto call = [&](VexImage* s, VexImage* d, VexLUT** q) {
            if (op == 0)
                vexContrastStretch(s, d, q, nullptr);
            else
                vexHistoEqualize(s, d, q, nullptr);
        };
        {  // depth, order and origin each reported, then the source depth and lut
            vt::Image d(VEX_DEPTH_16U, 1, 4, 4, VEX_DATA_ORDER_PLANE, 4, VEX_ORIGIN_BL);
            vt::Image s32(VEX_DEPTH_32S, 1, 4, 4);
            vt::ReportLog log;
            call(s32.get(), d.get(), nullptr);
            EXPECT_EQ(log.contexts(), (std::vector<std::string>{
                                          "srcImage->depth != dstImage->depth",
                                          "srcImage->dataOrder != dstImage->dataOrder",
                                          "srcImage->origin != dstImage->origin",
                                          "srcImage->depth != VEX_DEPTH_8U && srcImage->depth != VEX_DEPTH_16U",
                                          "lut==0"}));
            vexSetErrStatus(0);
        }
        {  // different channel counts: nothing done, nothing reported
            vt::Image d(VEX_DEPTH_8U, 3, 4, 4);
            d.fillPattern(3);
            const auto before = d.bytes();
            vt::ReportLog log;
            call(src.get(), d.get(), &p);
            EXPECT_EQ(log.size(), 0u);
            EXPECT_EQ(d.bytes(), before);
        }
    }
    {  // a linear segment without slopes
        vt::Image d(VEX_DEPTH_8U, 1, 4, 4);
        Lut lin({0, 256}, {1, 1}, {}, 1);
        lin.rec.factor = nullptr;
        VexLUT* q = &lin.rec;
        vt::ReportLog log;
        vexContrastStretch(src.get(), d.get(), &q, nullptr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].context, "lut[k]->factor==0");
        vexSetErrStatus(0);
    }
}

TEST(Histo, AllZeroHistogramIsReported) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4), dst(VEX_DEPTH_8U, 1, 4, 4);
    src.fillPattern(1), dst.fillPattern(2);
    const auto before = dst.bytes();
    Lut l({0, 100, 256}, {0, 0, 0});
    VexLUT* p = &l.rec;
    vt::ReportLog log;
    vexHistoEqualize(src.get(), dst.get(), &p, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].context, "All values in histogram are zeroes");
    EXPECT_EQ(log[0].status, VEX_StsInternal);
    EXPECT_EQ(dst.bytes(), before);
    vexSetErrStatus(0);
}

TEST(Histo, UndeliveredTileReportedUnderMap) {
    vt::TiledImage src(VEX_DEPTH_8U, 1, 16, 16, 8, 8);
    vt::Image dst(VEX_DEPTH_8U, 1, 16, 16);
    src.fillPattern(1);
    src.refuse(1, 0, VEX_TILE_GET_READ);
    Lut l({0, 256}, {3, 0});
    VexLUT* p = &l.rec;
    vt::ReportLog log;
    vexContrastStretch(src.get(), dst.get(), &p, nullptr);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].context, "Error get tile to read");
    EXPECT_EQ(log[0].funcName, "vexMap");
    EXPECT_EQ(log[0].status, VEX_StsError);
    EXPECT_EQ(log[1].status, VEX_StsBackTrace);
    EXPECT_EQ(log[1].funcName, "vexContrastStretch");
    EXPECT_EQ(src.outstanding(), 0);
    vexSetErrStatus(0);
}

}  // namespace
