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

using vt::Clip;
using vt::channelsOf;
using vt::clipOf;
using vt::uniform;

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


// Counts of every value of channel c in the image's region.
std::vector<int64_t> countValues(const VexImage* im, int c, int histSize) {
    std::vector<int64_t> h(size_t(histSize), 0);
    const Clip r = clipOf(im);
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) ++h[size_t(vt::sample(im, x, y, c))];
    return h;
}
// The bins a record holds: its values but the last.
std::vector<int> bins(const std::vector<int>& values) { return std::vector<int>(values.begin(), values.end() - 1); }
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

std::vector<VexLUT*> pointers(std::vector<Lut>& luts) {
    std::vector<VexLUT*> p;
    for (Lut& l : luts) p.push_back(&l.rec);
    return p;
}

// ------------------------------------------------------------------ matrix

// Counting over 1U, 8U and 16U layouts (tiles, ROIs past the edges, COIs);
// stretch and equalisation between paired layouts, their tables applied by
// the reference, the equalised histogram stored back.
TEST(Histo, MatchesReference) {
    std::mt19937 rng(71);
    vt::LayoutLimits lim;
    lim.roiOutside = true;
    int ran = 0;
    for (int iter = 0; iter < 900; ++iter) {
        const int op = iter % 3;  // count, stretch, equalise
        lim.depths = op == 0 ? std::vector<unsigned>{VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_8U, VEX_DEPTH_16U}
                             : std::vector<unsigned>{VEX_DEPTH_8U, VEX_DEPTH_8U, VEX_DEPTH_16U};
        vt::Layout ls, ld;
        vt::pairLayouts(rng, lim, &ls, &ld, false);
        if (iter % 30 == 1) ls.width = ld.width = ls.roi.width = ld.roi.width = 300 + iter;  // long stretched rows
        const bool self = iter % 6 == 4;  // stretched in place: the destination is the source's twin
        if (self) ld = ls;
        SCOPED_TRACE("case " + std::to_string(iter) + ": " + vt::describe(ls) + (self ? " in place" : " -> " + vt::describe(ld)));
        const uint32_t dstKey = self ? 7u + iter : 300u + iter;
        auto src = vt::makeImage(ls, 7u + iter), dst = vt::makeImage(ld, dstKey), expect = vt::makeImage(ld, dstKey);
        const int M = ls.depth == VEX_DEPTH_1U ? 2 : ls.depth == VEX_DEPTH_8U ? 256 : 65536;
        std::vector<Lut> luts;
        for (int c = 0; c < std::max(ls.nChannels, ld.nChannels); ++c) luts.push_back(randomLut(rng, M));
        for (Lut& l : luts) l.value.back() = 12345, l.rec.interpolate |= op == 0;
        std::vector<VexLUT*> p = pointers(luts);
        const std::vector<int> cs = channelsOf(src->get()), cd = channelsOf(dst->get());
        auto has = [](const std::vector<int>& v, int c) { return std::find(v.begin(), v.end(), c) != v.end(); };
        for (int c = 1; c <= int(p.size()) && cs.size() == 1; ++c)  // with a COI only its records are read
            if (!has(cs, c) && (op == 0 || !has(cd, c))) p[size_t(c - 1)] = nullptr;
        vt::ReportLog log;
        if (op == 0) {
            vexComputeHisto(src->get(), p.data(), nullptr);
            ASSERT_EQ(log.size(), 0u);
            for (int c = 1; c <= ls.nChannels; ++c) {
                const Lut& lut = luts[size_t(c - 1)];
                const bool counted = has(cs, c);
                if (counted) { EXPECT_EQ(bins(lut.value), binned(countValues(src->get(), c, M), lut.key)); }
                EXPECT_EQ(lut.value.back(), 12345);
                EXPECT_EQ(lut.rec.interpolate, counted ? 0 : 1) << "channel " << c;  // other records untouched
            }
            if (auto* t = dynamic_cast<vt::TiledImage*>(src.get())) {  // each tile selected in turn: together the whole
                std::vector<std::vector<int>> whole, sum;
                for (const Lut& l : luts) whole.push_back(l.value), sum.push_back(std::vector<int>(l.value.size(), 0));
                for (int k = 0; k < t->tilesX() * t->tilesY(); ++k) {
                    const int tile[2] = {k % t->tilesX(), k / t->tilesX()};
                    vexComputeHisto(src->get(), p.data(), tile);
                    for (size_t c = 0; c < luts.size(); ++c)
                        for (size_t i = 0; i + 1 < luts[c].value.size(); ++i) sum[c][i] += luts[c].value[i];
                }
                for (int c : cs) EXPECT_EQ(bins(sum[size_t(c - 1)]), bins(whole[size_t(c - 1)])) << "channel " << c;
                EXPECT_EQ(vt::tileFaults(t), "");
            }
            continue;
        }
        std::vector<std::vector<int64_t>> tables;
        std::vector<std::vector<int>> wantValues;
        bool zero = false;
        if (op == 2 && uniform(rng, 0, 1)) vexComputeHisto(src->get(), p.data(), nullptr);  // realistic counts
        for (size_t k = 0; k < cs.size(); ++k) {
            const VexLUT& l = luts[size_t(cs[k] - 1)].rec;
            if (op == 1) {
                tables.push_back(stretchTable(l, M));
                continue;
            }
            const Equalised e = equalise(l, M);
            zero = zero || e.total == 0;
            tables.push_back(e.table);
            std::vector<int64_t> h(size_t(M), 0);
            for (int v = 0; v < M; ++v) h[size_t(e.table[size_t(v)])] += e.density[size_t(v)];
            wantValues.push_back(binned(h, luts[size_t(cd[k] - 1)].key));
        }
        if (zero) continue;
        applyTables(src->get(), expect->get(), tables);
        if (op == 1) vexContrastStretch((self ? dst : src)->get(), dst->get(), p.data(), nullptr);
        else vexHistoEqualize(src->get(), dst->get(), p.data(), nullptr);
        ASSERT_EQ(log.size(), 0u);
        ASSERT_EQ(dst->bytes(), expect->bytes()) << vt::diffSamples(dst->get(), expect->get());
        for (size_t k = 0; k < wantValues.size(); ++k) {
            const Lut& l = luts[size_t(cd[k] - 1)];
            EXPECT_EQ(bins(l.value), wantValues[k]);
        }
        ++ran;
    }
    EXPECT_GT(ran, 500);
}

// ------------------------------------------------------------------ checks

// Every text in its order: the record checks under each operation, the
// header and mapping checks, the zero histogram, an undelivered tile; the
// destination untouched; a sticky status stops every call silently.
TEST(Histo, ChecksInOrder) {
    vt::Image src(VEX_DEPTH_8U, 1, 4, 4), dst(VEX_DEPTH_8U, 1, 4, 4), s8(VEX_DEPTH_8S, 1, 4, 4), s32(VEX_DEPTH_32S, 1, 4, 4),
        three(VEX_DEPTH_8U, 3, 4, 4), badAlign(VEX_DEPTH_8U, 1, 4, 4), d16(VEX_DEPTH_16U, 1, 4, 4, VEX_DATA_ORDER_PLANE, 4, VEX_ORIGIN_BL);
    src.fillPattern(1), dst.fillPattern(2), three.fillPattern(3);
    badAlign.get()->align = 3;
    vt::TiledImage tiled(VEX_DEPTH_8U, 1, 16, 16, 8, 8);
    tiled.refuse(1, 0, VEX_TILE_GET_READ);
    vt::Image big(VEX_DEPTH_8U, 1, 16, 16);
    const auto before = dst.bytes(), beforeThree = three.bytes();
    const char* const kOps[] = {"vexComputeHisto", "vexContrastStretch", "vexHistoEqualize"};
    auto call = [&](int op, VexImage* s, VexImage* d, VexLUT** p) {
        if (op == 0) vexComputeHisto(s, p, nullptr);
        if (op == 1) vexContrastStretch(s, d, p, nullptr);
        if (op == 2) vexHistoEqualize(s, d, p, nullptr);
    };
    struct Case { int op; std::vector<int> key; int num; int nulls; VexImage *s, *d; std::vector<std::string> texts; bool noLut; };
    std::vector<Case> cases;
    for (int op = 0; op < 3; ++op) {
        VexImage* s = src.get();
        VexImage* d = dst.get();
        cases.push_back({op, {0, 256}, 2, 0, s, d, {"lut[k]==0"}, true});
        cases.push_back({op, {0, 256}, 2, 3, s, d, {"lut[k]->key==0"}, false});
        cases.push_back({op, {0, 256}, 2, 2, s, d, {"lut[k]->value==0"}, false});
        cases.push_back({op, {-1, 300}, 1, 0, s, d, {"lut[k]->num < 2"}, false});
        cases.push_back({op, {-1, 300}, 2, 0, s, d, {"lut[k]->key[0] < 0"}, false});
        cases.push_back({op, {0, 257}, 2, 0, s, d, {"lut[k]->key[lut[k]->num-1] > histSize"}, false});
        cases.push_back({op, {0, 20, 10, 256}, 4, 0, s, d, {"lut[k]->key[i] > lut[k]->key[i+1]"}, false});
        if (op == 0) continue;
        // Depth, order and origin each reported, then the source depth and lut.
        cases.push_back({op, {0, 256}, 2, 0, s32.get(), d16.get(), {"srcImage->depth != dstImage->depth",
                         "srcImage->dataOrder != dstImage->dataOrder", "srcImage->origin != dstImage->origin",
                         "srcImage->depth != VEX_DEPTH_8U && srcImage->depth != VEX_DEPTH_16U", "lut==0"}, true});
        cases.push_back({op, {0, 256}, 2, 0, s, three.get(), {}, false});  // channel counts differ: nothing done
        cases.push_back({op, {0, 256}, 2, 0, tiled.get(), big.get(), {"Error get tile to read", ""}, false});
    }
    cases.push_back({0, {0, 256}, 2, 0, s8.get(), nullptr, {"lut==0", "srcImage->depth & VEX_DEPTH_SIGN"}, true});
    cases.push_back({0, {0, 256}, 2, 0, badAlign.get(), nullptr, {"Image align is invalid"}, true});  // a bad header ends the call
    cases.push_back({1, {0, 256}, 2, 4, src.get(), dst.get(), {"lut[k]->factor==0"}, false});
    cases.push_back({2, {0, 100, 256}, 3, 5, src.get(), dst.get(), {"All values in histogram are zeroes"}, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(kOps[c.op]) + ": " + (c.texts.empty() ? "silent" : c.texts[0]));
        Lut l(c.key, std::vector<int>(c.key.size(), c.nulls == 5 ? 0 : 1), {}, c.nulls == 4);
        l.rec.num = c.num;
        if (c.nulls == 3) l.rec.key = nullptr;
        if (c.nulls == 2 || c.nulls == 3) l.rec.value = nullptr;
        if (c.nulls == 4) l.rec.factor = nullptr;
        VexLUT* p = &l.rec;
        VexLUT* none = nullptr;
        vt::ReportLog log;
        call(c.op, c.s, c.d, c.noLut ? (c.texts.size() == 1 && c.texts[0] == "lut[k]==0" ? &none : nullptr) : &p);
        ASSERT_EQ(log.size(), c.texts.size());
        for (size_t k = 0; k < log.size(); ++k) {
            EXPECT_EQ(log[k].context.substr(0, c.texts[k].size()), c.texts[k]);
            const bool tile = c.texts[0] == "Error get tile to read";
            EXPECT_EQ(log[k].funcName, tile && k == 0 ? "vexMap" : kOps[c.op]);
            EXPECT_EQ(log[k].status, tile ? (k ? VEX_StsBackTrace : VEX_StsError) : c.texts[0][0] == 'A' && c.op == 2 ? VEX_StsInternal : VEX_StsBadArg);
            EXPECT_EQ(log[k].file, c.texts[k].rfind("Image", 0) ? "vexHist" : log[k].file);
        }
        EXPECT_EQ(dst.bytes(), before);
        EXPECT_EQ(three.bytes(), beforeThree);
        EXPECT_EQ(tiled.outstanding(), 0);
        vexSetErrStatus(0);
    }
    Lut l({0, 128, 256}, {5, 6, 7});
    VexLUT* p = &l.rec;
    vt::ReportLog log;
    vexSetErrStatus(VEX_StsError);
    for (int op = 0; op < 3; ++op) call(op, src.get(), dst.get(), &p);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(l.value, (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(dst.bytes(), before);
    EXPECT_EQ(vexGetErrStatus(), VEX_StsError);
    vexSetErrStatus(0);
    vexComputeHisto(src.get(), &p, nullptr);
    EXPECT_EQ(l.value[0] + l.value[1], 16);
}

}  // namespace
