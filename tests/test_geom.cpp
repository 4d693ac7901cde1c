// vexZoom, vexDecimate and vexRotate against plain per-pixel formulas over
// random layouts (depths, orders, ROIs and COIs, tiled and untiled, with
// the whole store compared so that nothing outside the processed rectangle
// changes); tile invariance and the mapping; worked numbers; every check.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vextest.h"

namespace {

using ImagePtr = std::unique_ptr<vt::ImageBase>;

// ---------------------------------------------------------------------------
// Reference pieces.

double idx(double v) { return std::nearbyint(v + 0.00001 - 0.5); }
int64_t clampTo(const VexImage* im, double v) {
    return std::clamp<int64_t>(int64_t(v), vt::depthMin(im->depth), vt::depthMax(im->depth));
}

// Destination pixel (X, Y) lies in the tile the mapping names (any without one).
bool inMapped(const VexImage* d, const VexMapping* m, int X, int Y) {
    if (!m || !d->tileInfo) return true;
    auto tileOf = [](int p, int s) { return p >= 0 ? p / s : -1 - (-1 - p) / s; };
    return X / d->tileInfo->width == tileOf(m->xDst, d->tileInfo->width) &&
           Y / d->tileInfo->height == tileOf(m->yDst, d->tileInfo->height);
}

bool supportedUnsigned(unsigned depth) {
    return depth == VEX_DEPTH_1U || depth == VEX_DEPTH_8U || depth == VEX_DEPTH_16U;
}

int zoomExtent(int d, int s, double step) {
    if (idx((d - 1) * step) <= s - 1) return d;
    return int(std::ceil(s / step)) - 1;  // the closed form of the rule
}

double newton(double p0, double p1, double p2, double p3, double d) {
    const double d1 = p1 - p0, d2 = p2 - 2.0 * p1 + p0, d3 = p3 - 3.0 * p2 + 3.0 * p1 - p0;
    return p0 + (1.0 + d) * (d1 + d * 0.5 * (d2 + (d - 1.0) * (1.0 / 3.0) * d3));
}

void refZoom(const VexImage* s, VexImage* d, int xU, int xL, int yU, int yL, int interp,
             const VexMapping* map) {
    if (!supportedUnsigned(s->depth)) return;
    const vt::Clip rs = vt::clipOf(s), rd = vt::clipOf(d);
    const std::vector<int> cs = vt::channelsOf(s), cd = vt::channelsOf(d);
    const size_t n = std::min(cs.size(), cd.size());
    if (rs.w <= 0 || rs.h <= 0) return;
    if (s->depth == VEX_DEPTH_1U || rs.w < 2 || rs.h < 2) interp = VEX_INTER_NN;
    if (interp == VEX_INTER_CUBIC && (rs.w < 4 || rs.h < 4)) interp = VEX_INTER_LINEAR;
    const double stepX = double(xL) / xU, stepY = double(yL) / yU;
    const int W = zoomExtent(rd.w, rs.w, stepX), H = zoomExtent(rd.h, rs.h, stepY);
    for (size_t k = 0; k < n; ++k) {
        auto S = [&](int x, int y) { return double(vt::sample(s, rs.x + x, rs.y + y, cs[k])); };
        for (int i = 0; i < H; ++i)
            for (int j = 0; j < W; ++j) {
                if (!inMapped(d, map, rd.x + j, rd.y + i)) continue;
                const double sx = j * stepX, sy = i * stepY;
                int64_t v;
                if (interp == VEX_INTER_NN) {
                    const int64_t fx = int64_t(idx(stepX * 16384)), fy = int64_t(idx(stepY * 16384));
                    v = int64_t(S(int((j * fx) >> 14), int((i * fy) >> 14)));
                } else if (interp == VEX_INTER_LINEAR) {
                    int ix = int(idx(sx)), iy = int(idx(sy));
                    if (ix == rs.w - 1) --ix;
                    if (iy == rs.h - 1) --iy;
                    const float fx = float(sx - ix);
                    auto h = [&](int r) {
                        const float a = float(S(ix, r)), b = float(S(ix + 1, r));
                        return double((b - a) * fx + a);
                    };
                    v = clampTo(d, idx(h(iy) + (h(iy + 1) - h(iy)) * (sy - iy)));
                } else {
                    auto centre = [](double p, int size) {
                        int c = int(idx(p));
                        if (c == 0) c = 1;
                        else if (c == size - 1) c -= 2;
                        else if (c == size - 2) c -= 1;
                        return c;
                    };
                    const int ix = centre(sx, rs.w), iy = centre(sy, rs.h);
                    double h[4];
                    for (int t = 0; t < 4; ++t) {
                        const int r = iy - 1 + t;
                        h[t] = float(newton(S(ix - 1, r), S(ix, r), S(ix + 1, r), S(ix + 2, r), sx - ix));
                    }
                    v = clampTo(d, idx(newton(h[0], h[1], h[2], h[3], sy - iy)));
                }
                vt::setSample(d, rd.x + j, rd.y + i, cd[k], v);
            }
    }
}

void refDecimate(const VexImage* s, VexImage* d, int xU, int xL, int yU, int yL, int interp,
                 const VexMapping* map) {
    const vt::Clip rs = vt::clipOf(s), rd = vt::clipOf(d);
    const std::vector<int> cs = vt::channelsOf(s), cd = vt::channelsOf(d);
    const size_t n = std::min(cs.size(), cd.size());
    const int W = int(std::min<int64_t>(rd.w, int64_t(rs.w) * xU / xL));
    const int H = int(std::min<int64_t>(rd.h, int64_t(rs.h) * yU / yL));
    if (s->depth == VEX_DEPTH_1U || s->width < 4 || s->height < 4 || (xL % xU == 0 && yL % yU == 0))
        interp = VEX_INTER_NN;
    const int stepX = 256 * xL / xU, stepY = 256 * yL / yU;
    const int startX = interp == VEX_INTER_NN && xL % xU ? 128 : 0;
    const int startY = interp == VEX_INTER_NN && yL % yU ? 128 : 0;
    auto cubic6 = [](int64_t p0, int64_t p1, int64_t p2, int64_t p3, int64_t t) {
        const int64_t t2 = (t * t) >> 8, t3 = (t * t * t) >> 16;
        return 6 * p1 + (((-2 * p0 - 3 * p1 + 6 * p2 - p3) * t) >> 8) + (((3 * p0 - 6 * p1 + 3 * p2) * t2) >> 8) +
               (((-p0 + 3 * p1 - 3 * p2 + p3) * t3) >> 8);
    };
    for (size_t k = 0; k < n; ++k) {
        auto S = [&](int x, int y) {
            x = std::clamp(x, 0, rs.w - 1), y = std::clamp(y, 0, rs.h - 1);
            return vt::sample(s, rs.x + x, rs.y + y, cs[k]);
        };
        for (int i = 0; i < H; ++i)
            for (int j = 0; j < W; ++j) {
                if (!inMapped(d, map, rd.x + j, rd.y + i)) continue;
                const int cx = startX + j * stepX, cy = startY + i * stepY;
                const int ix = cx >> 8, iy = cy >> 8, fx = cx & 255, fy = cy & 255;
                int64_t v;
                if (interp == VEX_INTER_NN) {
                    v = S(ix, iy);
                } else if (interp == VEX_INTER_LINEAR) {
                    const int64_t sum = ((256 - fx) * S(ix, iy) + fx * S(ix + 1, iy)) * (256 - fy) +
                                        ((256 - fx) * S(ix, iy + 1) + fx * S(ix + 1, iy + 1)) * fy;
                    v = ((sum >> 15) + 1) >> 1;
                } else {
                    int64_t r[4];
                    for (int t = 0; t < 4; ++t)
                        r[t] = cubic6(S(ix - 1, iy - 1 + t), S(ix, iy - 1 + t), S(ix + 1, iy - 1 + t),
                                      S(ix + 2, iy - 1 + t), fx);
                    v = clampTo(d, double(cubic6(r[0], r[1], r[2], r[3], fy) / 36));
                }
                vt::setSample(d, rd.x + j, rd.y + i, cd[k], v);
            }
    }
}

void cubicWeights(double d, double w[4]) {
    w[0] = -d / 3 + d * d / 2 - d * d * d / 6;
    w[1] = 1 - d / 2 - d * d + d * d * d / 2;
    w[2] = d + d * d / 2 - d * d * d / 2;
    w[3] = -d / 6 + d * d * d / 6;
}

// Rotation in memory coordinates (the origin conversion done by the caller).
void refRotateTL(const VexImage* s, VexImage* d, int a, int xS, int yS, int interp,
                 const VexMapping* map) {
    const vt::Clip rs = vt::clipOf(s), rd = vt::clipOf(d);
    const std::vector<int> cs = vt::channelsOf(s), cd = vt::channelsOf(d);
    const size_t n = std::min(cs.size(), cd.size());
    const int W = std::min(rs.w, rd.w), H = std::min(rs.h, rd.h);
    const int w = s->width, h = s->height;
    if (s->depth == VEX_DEPTH_1U || w == 1 || h == 1) interp = VEX_INTER_NN;
    if (interp == VEX_INTER_CUBIC && (w < 4 || h < 4)) interp = VEX_INTER_LINEAR;
    const double th = a * 0.01 * (1.0 / 180.0) * M_PI, c = std::cos(th), sn = std::sin(th);
    double tx = xS - c * xS + sn * yS, ty = yS - sn * xS - c * yS;
    if (interp == VEX_INTER_NN) tx += 0.5, ty += 0.5;
    for (size_t k = 0; k < n; ++k) {
        auto S = [&](int x, int y) { return double(vt::sample(s, x, y, cs[k])); };
        for (int i = 0; i < H; ++i)
            for (int j = 0; j < W; ++j) {
                if (!inMapped(d, map, rd.x + j, rd.y + i)) continue;
                const int x = rs.x + j, y = rs.y + i;
                int64_t v = 0;
                if (a == 9000 || a == 18000 || a == 27000) {
                    const int X = a == 9000 ? xS + yS - y : a == 18000 ? 2 * xS - x : y + xS - yS;
                    const int Y = a == 9000 ? x - xS + yS : a == 18000 ? 2 * yS - y : xS + yS - x;
                    if (X >= 0 && X < w && Y >= 0 && Y < h) {
                        v = int64_t(S(X, Y));
                    } else {  // set with vexSet: every channel of the region
                        for (int c : cd) vt::setSample(d, rd.x + j, rd.y + i, c, 0);
                        continue;
                    }
                } else {
                    const double px = c * x - sn * y + tx, py = sn * x + c * y + ty;
                    if (interp == VEX_INTER_NN) {
                        const int X = px > -0.00001 ? int(idx(px)) : -1, Y = py > -0.00001 ? int(idx(py)) : -1;
                        if (X >= 0 && X < w && Y >= 0 && Y < h) v = int64_t(S(X, Y));
                    } else if (px > -0.00001 && px <= w - 1 && py > -0.00001 && py <= h - 1) {
                        int ix = int(idx(px)), iy = int(idx(py));
                        double val;
                        if (interp == VEX_INTER_LINEAR) {
                            if (ix == w - 1) --ix;
                            if (iy == h - 1) --iy;
                            const double fx = px - ix, fy = py - iy;
                            const double top = S(ix, iy) + (S(ix + 1, iy) - S(ix, iy)) * fx;
                            const double bottom = S(ix, iy + 1) + (S(ix + 1, iy + 1) - S(ix, iy + 1)) * fx;
                            val = top + (bottom - top) * fy;
                        } else {
                            ix = std::clamp(ix, 1, w - 3), iy = std::clamp(iy, 1, h - 3);
                            double wx[4], wy[4];
                            cubicWeights(px - ix, wx), cubicWeights(py - iy, wy);
                            val = 0;
                            for (int r = 0; r < 4; ++r)
                                for (int q = 0; q < 4; ++q) val += wy[r] * wx[q] * S(ix - 1 + q, iy - 1 + r);
                        }
                        v = clampTo(d, std::nearbyint(val + 0.00001));
                    }
                }
                vt::setSample(d, rd.x + j, rd.y + i, cd[k], v);
            }
    }
}

// ---------------------------------------------------------------------------
// The matrix: random layout pairs (depths, channels, orders, origins,
// aligns, sizes with tails, ROIs and COIs, tiled and untiled, mappings),
// the library against the reference on the whole store.

using OpFn = std::function<void(VexImage*, VexImage*, const VexMapping*)>;

void expectMatches(std::mt19937& rng, const std::vector<unsigned>& depths, int maxSrc, int maxDst,
                   uint32_t key, const OpFn& op, const OpFn& ref, const std::string& what, int maxChannels = 4) {
    vt::LayoutLimits lim;
    lim.depths = depths, lim.maxSize = maxSrc, lim.maxChannels = maxChannels;
    vt::Layout ls = vt::randomLayout(rng, lim);
    lim.depths = {ls.depth}, lim.maxSize = maxDst;
    vt::Layout ld = vt::randomLayout(rng, lim);
    ld.order = ls.order, ld.origin = ls.origin;
    if (vt::uniform(rng, 0, 2) && ls.depth != VEX_DEPTH_1U) {  // mostly equal channel counts
        ld.nChannels = ls.nChannels;
        if (ld.hasRoi) ld.roi.coi = ls.hasRoi && ls.roi.coi ? vt::uniform(rng, 1, ld.nChannels) : 0;
    }
    ImagePtr src = vt::makeImage(ls, key), dst = vt::makeImage(ld, key + 1);
    const std::string text = what + " " + vt::describe(ls) + " -> " + vt::describe(ld);
    VexMapping m{vt::uniform(rng, 0, dst->width() - 1), vt::uniform(rng, 0, dst->height() - 1)};
    const VexMapping* map = key % 4 == 0 ? &m : nullptr;
    vt::StatusReset reset;
    ImagePtr expect = vt::cloneOf(*dst), got = vt::cloneOf(*dst);
    ref(src->get(), expect->get(), map);
    op(src->get(), got->get(), map);
    ASSERT_EQ(vexGetErrStatus(), VEX_StsOk) << text;
    ASSERT_EQ(vt::diffSamples(expect->get(), got->get()), "") << text;
    ASSERT_EQ(expect->bytes(), got->bytes()) << text << " (bytes outside the samples)";
    ASSERT_EQ(src->get()->origin, ls.origin) << text;
    ASSERT_EQ(got->get()->origin, ld.origin) << text;
    for (vt::ImageBase* im : {src.get(), got.get()}) ASSERT_EQ(vt::tileFaults(im), "") << text;
}

const std::vector<unsigned> kUnsigned{VEX_DEPTH_1U, VEX_DEPTH_8U, VEX_DEPTH_16U};

std::string ratio(int u, int l, int v, int k, int interp) {
    return std::to_string(u) + "/" + std::to_string(l) + " " + std::to_string(v) + "/" + std::to_string(k) +
           " interp " + std::to_string(interp);
}

// Signed depths are passed over silently (the reference writes nothing and
// the status must stay clear); 1:1 copies, narrow sources that downgrade
// the interpolation and the doubled-column and integer paths all come up.
TEST(Zoom, MatchesReferenceOverLayouts) {
    std::mt19937 rng(901);
    for (int n = 0; n < 600; ++n) {
        std::vector<unsigned> depths = kUnsigned;
        if (n % 25 == 0) depths = {VEX_DEPTH_8S, VEX_DEPTH_16S, VEX_DEPTH_32S};
        int xL = vt::uniform(rng, 1, 4), yL = vt::uniform(rng, 1, 4), xU = xL * vt::uniform(rng, 1, 3) + vt::uniform(rng, 0, 2),
            yU = yL * vt::uniform(rng, 1, 3) + vt::uniform(rng, 0, 2);
        const int interp = n % 3;
        if (n % 11 == 0)  // fractions of up to 6 bits: the widest integer rows
            xU = 1 << vt::uniform(rng, 4, 6), yU = 1 << vt::uniform(rng, 4, 6), xL = vt::uniform(rng, 1, 3), yL = vt::uniform(rng, 1, 3);
        expectMatches(rng, depths, n % 5 ? 24 : 64, n % 5 ? 48 : 128, 7 * n,
                      [&](VexImage* s, VexImage* d, const VexMapping* m) { vexZoom(s, d, xU, xL, yU, yL, interp, m); },
                      [&](VexImage* s, VexImage* d, const VexMapping* m) { refZoom(s, d, xU, xL, yU, yL, interp, m); },
                      "zoom " + ratio(xU, xL, yU, yL, interp), n % 5 ? 4 : 1);
    }
}

TEST(Decimate, MatchesReferenceOverLayouts) {
    std::mt19937 rng(902);
    for (int n = 0; n < 500; ++n) {
        const int xU = vt::uniform(rng, 1, 4), yU = vt::uniform(rng, 1, 4), xL = xU * vt::uniform(rng, 1, 3) + vt::uniform(rng, 0, 2),
                  yL = yU * vt::uniform(rng, 1, 3) + vt::uniform(rng, 0, 2), interp = n % 3;
        expectMatches(rng, kUnsigned, 48, 24, 11 * n,
                      [&](VexImage* s, VexImage* d, const VexMapping* m) { vexDecimate(s, d, xU, xL, yU, yL, interp, m); },
                      [&](VexImage* s, VexImage* d, const VexMapping* m) { refDecimate(s, d, xU, xL, yU, yL, interp, m); },
                      "decimate " + ratio(xU, xL, yU, yL, interp));
    }
}

// Right angles, 45 degrees, bottom-left origins (the mirrored centre and
// the reversed angle, the origin fields restored), 2-pixel-high sources
// whose cubic runs linear; every seventh case one channel, 80 pixels at
// most, for the vector rows.
TEST(Rotate, MatchesReferenceOverLayouts) {
    std::mt19937 rng(903);
    const int kAngles[] = {9000, 18000, 27000, -9000, 3000, 4500, 12345, 33333, 1};
    for (int n = 0; n < 700; ++n) {
        const int angle = n % 2 ? kAngles[n / 2 % 9] : vt::uniform(rng, -72000, 72000);
        const int size = n % 7 ? 32 : 80, xS = vt::uniform(rng, -4, size + 4), yS = vt::uniform(rng, -4, size + 4);
        const int interp = n % 3;
        if (angle % 36000 == 0) continue;  // the copy has its own test
        expectMatches(rng, kUnsigned, size, size, 13 * n,
                      [&](VexImage* s, VexImage* d, const VexMapping* m) { vexRotate(s, d, angle, xS, yS, interp, m); },
                      [&](VexImage* s, VexImage* d, const VexMapping* m) {
                          int a = (angle % 36000 + 36000) % 36000, y = yS;
                          if (s->origin == VEX_ORIGIN_BL) a = 36000 - a, y = s->height - 1 - yS;
                          refRotateTL(s, d, a, xS, y, interp, m);
                      },
                      "rotate " + std::to_string(angle) + " about " + std::to_string(xS) + "," + std::to_string(yS) +
                          " interp " + std::to_string(interp),
                      n % 7 ? 4 : 1);
    }
}

// ---------------------------------------------------------------------------
// Worked numbers.

// Linear and cubic rotation results are rounded after adding 0.00001. Every
// row alternates 10 and 11, and a turn of 60 degrees about (0, 0) puts
// destination column j of row 0 at x = j / 2: odd columns fall halfway
// between a 10 and an 11, linear and cubic alike (the cubic weights at 0.5
// are -1/16, 9/16, 9/16, -1/16), in the vector rows too. 10.5 + 0.00001
// gives 11 where rounding 10.5 alone, to even, would give 10.
TEST(Rotate, HalfwayResultsRoundUp) {
    vt::StatusReset reset;
    for (unsigned depth : {VEX_DEPTH_8U, VEX_DEPTH_16U})
        for (int interp : {VEX_INTER_LINEAR, VEX_INTER_CUBIC}) {
            vt::Image s(depth, 1, 48, 64), d(depth, 1, 48, 64);
            for (int k = 0; k < 48 * 64; ++k) s.setSample(k % 64, k / 64, 1, 10 + k % 2);
            vexRotate(s.get(), d.get(), 6000, 0, 0, interp, nullptr);
            for (int j = 3; j < 50; j += 2) EXPECT_EQ(d.sample(j, 0, 1), 11) << vt::depthName(depth) << " " << interp << " " << j;
        }
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// Whole turns copy (the matrix leaves them out).
TEST(Rotate, WholeTurnsCopy) {
    vt::StatusReset reset;
    vt::Image s(VEX_DEPTH_8U, 3, 12, 12);
    s.fillPattern(8);
    for (int angle : {0, 36000, -36000, 72000}) {
        vt::Image d(VEX_DEPTH_8U, 3, 12, 12);
        vexRotate(s.get(), d.get(), angle, 3, 4, VEX_INTER_CUBIC, nullptr);
        EXPECT_EQ(vt::diffSamples(s.get(), d.get()), "") << angle;
    }
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

TEST(Rotate, ZeroAngleHandsTheMappingToTheCopyAsATile) {
    vt::StatusReset reset;
    vt::Image s(VEX_DEPTH_8U, 1, 32, 32);
    s.fillPattern(2);
    vt::TiledImage d(VEX_DEPTH_8U, 1, 32, 32, 16, 16);
    d.fillPattern(3);
    vt::TiledImage before = d.clone();
    VexMapping tileColumnRow{1, 0};  // read as tile (1, 0), not as pixel (1, 0)
    vexRotate(s.get(), d.get(), 0, 0, 0, VEX_INTER_NN, &tileColumnRow);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(d.sample(x, y, 1), x >= 16 && y < 16 ? s.sample(x, y, 1) : before.sample(x, y, 1))
                << x << "," << y;
}

// Centres near the ends of the int range (the right-angle maps in 64 bits).
TEST(Rotate, FarCentresGiveBlackImages) {
    vt::StatusReset reset;
    const int far[][2] = {{INT_MAX - 5, INT_MAX - 7}, {INT_MIN + 5, INT_MIN + 7}, {INT_MAX, INT_MIN}};
    for (int angle : {9000, 18000, 27000, 4500})
        for (const auto& c : far) {
            vt::Image s(VEX_DEPTH_8U, 1, 9, 9), d(VEX_DEPTH_8U, 1, 9, 9);
            s.fillPattern(3), d.fillPattern(4);
            vexRotate(s.get(), d.get(), angle, c[0], c[1], VEX_INTER_LINEAR, nullptr);
            for (int k = 0; k < 81; ++k) ASSERT_EQ(d.sample(k % 9, k / 9, 1), 0) << angle << " " << c[0] << "," << c[1];
        }
    EXPECT_EQ(vexGetErrStatus(), VEX_StsOk);
}

// ---------------------------------------------------------------------------
// Checks: every text with its status, the destination untouched.

void expectReports(const std::function<void(VexImage*, VexImage*)>& call, vt::ImageBase& s, vt::ImageBase& d,
                   const std::vector<std::string>& texts, const std::string& what) {
    vt::StatusReset reset;
    vt::ReportLog log;
    const auto before = d.bytes();
    call(s.get(), d.get());
    EXPECT_EQ(log.contexts(), texts) << what;
    for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].status, VEX_StsBadArg) << what;
    if (!texts.empty()) EXPECT_EQ(d.bytes(), before) << what;
    else EXPECT_NE(d.bytes(), before) << what << " (the call runs)";
}

TEST(Geom, ArgumentChecks) {
    const std::string zi =
        "interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR && interpolate != VEX_INTER_CUBIC";
    vt::Image s(VEX_DEPTH_8U, 1, 8, 8), d(VEX_DEPTH_8U, 1, 8, 8), s16(VEX_DEPTH_16U, 1, 8, 8),
        sp(VEX_DEPTH_8U, 1, 8, 8, VEX_DATA_ORDER_PLANE), sbl(VEX_DEPTH_8U, 1, 8, 8, VEX_DATA_ORDER_PIXEL, 4, VEX_ORIGIN_BL),
        s8s(VEX_DEPTH_8S, 1, 8, 8), d8s(VEX_DEPTH_8S, 1, 8, 8), s32(VEX_DEPTH_32S, 1, 8, 8), d32(VEX_DEPTH_32S, 1, 8, 8);
    s.fillPattern(1), d.fillPattern(2);
    using Call = std::function<void(VexImage*, VexImage*)>;
    auto zoom = [](int u, int l, int v, int k, int in) -> Call {
        return [=](VexImage* a, VexImage* b) { vexZoom(a, b, u, l, v, k, in, nullptr); };
    };
    auto decimate = [](int u, int l, int v, int k, int in) -> Call {
        return [=](VexImage* a, VexImage* b) { vexDecimate(a, b, u, l, v, k, in, nullptr); };
    };
    auto rotate = [](int in) -> Call { return [=](VexImage* a, VexImage* b) { vexRotate(a, b, 100, 0, 0, in, nullptr); }; };
    struct Case {
        const char* what;
        Call call;
        vt::Image* src;
        vt::Image* dst;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"zoom interp", zoom(2, 1, 2, 1, 3), &s, &d, {zi}},
        {"zoom factors", zoom(0, 1, 1, -1, 0), &s, &d, {"xU <= 0 || xL <= 0", "yU <= 0 || yL <= 0", "xU < xL || yU < yL"}},
        {"zoom shrink", zoom(1, 2, 2, 1, -1), &s, &d, {zi, "xU < xL || yU < yL"}},
        {"zoom depth", zoom(2, 1, 2, 1, 0), &s16, &d, {"srcImage->depth != dstImage->depth"}},
        {"zoom order", zoom(2, 1, 2, 1, 0), &sp, &d, {"srcImage->dataOrder != dstImage->dataOrder"}},
        {"zoom ignores origins", zoom(2, 1, 2, 1, 0), &sbl, &d, {}},
        {"decimate all", decimate(0, 0, 0, 0, 5), &s, &d,
         {"interpolate != VEX_INTER_NN, VEX_INTER_LINEAR or VEX_INTER_CUBIC", "xU <= 0", "xL <= 0", "yU <= 0", "yL <= 0"}},
        {"decimate xU 0", decimate(0, 2, 1, 1, 0), &s, &d, {"xU <= 0"}},
        {"decimate grow", decimate(3, 2, 2, 1, 0), &s, &d, {"xU > xL", "yU > yL"}},
        {"decimate depth", decimate(1, 2, 1, 2, 0), &s16, &d, {"srcImage->depth != dstImage->depth"}},
        {"decimate origin", decimate(1, 2, 1, 2, 0), &sbl, &d, {"srcImage->origin != dstImage->origin"}},
        {"decimate order", decimate(1, 2, 1, 2, 0), &sp, &d, {"srcImage->dataOrder != dstImage->dataOrder"}},
        {"decimate 8S", decimate(1, 2, 1, 2, 0), &s8s, &d8s, {"srcImage->depth is wrong"}},
        {"decimate 32S", decimate(1, 2, 1, 2, 0), &s32, &d32, {"srcImage->depth is wrong"}},
        {"rotate interp", rotate(7), &s, &d, {zi}},
        {"rotate depth", rotate(0), &s16, &d, {"srcImage->depth != dstImage->depth"}},
        {"rotate order", rotate(0), &sp, &d, {"srcImage->dataOrder != dstImage->dataOrder"}},
        {"rotate origin (twice)", rotate(0), &sbl, &d,
         {"srcImage->origin != dstImage->origin", "srcImage->origin != dstImage->origin"}},
        {"rotate signed", rotate(0), &s8s, &d8s, {"srcImage->depth & VEX_DEPTH_SIGN"}},
    };
    for (const Case& c : cases) expectReports(c.call, *c.src, *c.dst, c.texts, c.what);

    // Bad headers report the header message and stop.
    const char* null = "Image header is null";
    vt::expectRejected([&] { vexZoom(nullptr, d.get(), 2, 1, 2, 1, 0, nullptr); }, &d, VEX_StsBadArg, "vexZoom", "vexZoom", null);
    vt::expectRejected([&] { vexDecimate(s.get(), nullptr, 1, 2, 1, 2, 0, nullptr); }, nullptr, VEX_StsBadArg, "vexDecimate", "vexdecim", null);
    vt::expectRejected([&] { vexRotate(nullptr, nullptr, 100, 0, 0, 0, nullptr); }, nullptr, VEX_StsBadArg, "vexRotate", "vexRotat", null);
}

TEST(Geom, RefusedTilesAreReported) {
    struct Op {
        std::function<void(VexImage*, VexImage*)> call;
        int status;
        std::string dstText, srcText;
    };
    const Op ops[] = {
        {[](VexImage* s, VexImage* d) { vexZoom(s, d, 3, 2, 3, 2, 1, nullptr); }, VEX_StsError,
         "Error get tile to write", "Error get tile to read"},
        {[](VexImage* s, VexImage* d) { vexDecimate(s, d, 2, 3, 2, 3, 1, nullptr); }, VEX_StsInternal,
         "dstImage->tileInfo->callBack crash", "srcImage->tileInfo->callBack crash"},
        {[](VexImage* s, VexImage* d) { vexRotate(s, d, 1000, 8, 8, 1, nullptr); }, VEX_StsError,
         "Error get tile to write", "Error get tile to read"},
        {[](VexImage* s, VexImage* d) { vexRotate(s, d, 9000, 8, 8, 1, nullptr); }, VEX_StsError,
         "Error get tile to write", "Error get tile to read"},
    };
    for (const Op& op : ops) {
        for (int side = 0; side < 2; ++side) {
            vt::StatusReset reset;
            vt::TiledImage s(VEX_DEPTH_8U, 1, 24, 24, 8, 8), d(VEX_DEPTH_8U, 1, 24, 24, 8, 8);
            s.fillPattern(1), d.fillPattern(2);
            (side ? s : d).refuse(-1, -1, side ? VEX_TILE_GET_READ : VEX_TILE_GET_WRITE);
            vt::ReportLog log;
            const auto before = d.bytes();
            op.call(s.get(), d.get());
            ASSERT_GE(log.size(), 1u);
            EXPECT_EQ(log[0].status, op.status);
            EXPECT_EQ(log[0].context, side ? op.srcText : op.dstText);
            EXPECT_EQ(d.bytes(), before) << log[0].funcName << " side " << side;
            EXPECT_EQ(s.outstanding() + d.outstanding(), 0);
        }
    }
}

TEST(Geom, MappingOutsideTheProcessedTilesDoesNothing) {
    vt::StatusReset reset;
    vt::Image s(VEX_DEPTH_8U, 1, 8, 8);
    s.fillPattern(3);
    vt::TiledImage d(VEX_DEPTH_8U, 1, 64, 64, 8, 8);
    d.fillPattern(4);
    const auto before = d.bytes();
    VexMapping far{60, 60};  // zoom x2 of 8 writes 15 x 15 pixels
    vexZoom(s.get(), d.get(), 2, 1, 2, 1, 1, &far);
    vexDecimate(s.get(), d.get(), 1, 1, 1, 1, 1, &far);
    EXPECT_EQ(d.bytes(), before);
    EXPECT_EQ(d.calls().size(), 0u);
    VexMapping near{9, 1};  // only tile (1, 0)
    vexZoom(s.get(), d.get(), 2, 1, 2, 1, 1, &near);
    ASSERT_EQ(d.calls().size(), 2u);
    EXPECT_EQ(d.calls()[0], (vt::TileCall{1, 0, VEX_TILE_GET_WRITE}));
}

}  // namespace
