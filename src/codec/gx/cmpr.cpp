#include "codec/gx/cmpr.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "codec/support/parallel.h"
#include "codec/gx/texel.h"

namespace tplforge::cmpr {

namespace {

constexpr std::size_t kBlockBytes = 32;
constexpr int kMax[3] = {31, 63, 31};

constexpr int widenField(int channel, int field) {
    return channel == 1 ? texel::widen6(static_cast<std::uint32_t>(field))
                        : texel::widen5(static_cast<std::uint32_t>(field));
}

// Widened value of every field, per channel (red and blue 5 bits, green 6).
constexpr auto kWiden = [] {
    std::array<std::array<std::uint8_t, 64>, 3> t{};
    for (int ch = 0; ch < 3; ++ch)
        for (int f = 0; f <= kMax[ch]; ++f) t[ch][f] = static_cast<std::uint8_t>(widenField(ch, f));
    return t;
}();

// GCC vector types: one lane a texel. Kept inside functions, never passed by value,
// so the calling convention is the same whatever the target.
using F32x16 = float __attribute__((vector_size(64)));
using I32x16 = std::int32_t __attribute__((vector_size(64)));

void checkSizes(std::size_t rgbaBytes, std::size_t dataBytes, std::uint32_t width, std::uint32_t height) {
    if (rgbaBytes != std::size_t{width} * height * 4)
        throw std::invalid_argument("CMPR: RGBA buffer does not match the picture size");
    if (dataBytes != levelBytes(Format::CMPR, width, height))
        throw std::invalid_argument("CMPR: level buffer does not match the picture size");
}

// A sub-block's palette in one of two modes. Four: c0 > c1, palette c0, c1 and
// the 5:3 and 3:5 blends. Three: c0 <= c1, palette c0, c1, their average, and
// index 3 transparent.
enum class Mode { Four, Three };

inline int blendA(Mode mode, int a, int b) { return mode == Mode::Four ? (5 * a + 3 * b) >> 3 : (a + b) >> 1; }
inline int blendB(Mode mode, int a, int b) { return mode == Mode::Four ? (3 * a + 5 * b) >> 3 : (a + b) >> 1; }

// One channel of the palette from endpoint fields a and b, as the console
// computes it (entry 3 of Three repeats entry 2: ties keep index 2).
inline void channelPalette(Mode mode, int ch, int a, int b, int q[4]) {
    q[0] = kWiden[ch][a];
    q[1] = kWiden[ch][b];
    q[2] = blendA(mode, q[0], q[1]);
    q[3] = blendB(mode, q[0], q[1]);
}

// ---------------------------------------------------------------------------
// Decoding

struct Palette {
    std::uint8_t rgba[4][4];
};

inline Palette palette(const std::uint8_t* sub) {
    const std::uint32_t w0 = (sub[0] << 8) | sub[1];
    const std::uint32_t w1 = (sub[2] << 8) | sub[3];
    const Mode mode = w0 > w1 ? Mode::Four : Mode::Three;
    const int a[3] = {int(w0 >> 11), int(w0 >> 5 & 63), int(w0 & 31)};
    const int b[3] = {int(w1 >> 11), int(w1 >> 5 & 63), int(w1 & 31)};
    Palette p{};
    for (int ch = 0; ch < 3; ++ch) {
        int q[4];
        channelPalette(mode, ch, a[ch], b[ch], q);
        for (int i = 0; i < 4; ++i) p.rgba[i][ch] = static_cast<std::uint8_t>(q[i]);
    }
    p.rgba[0][3] = p.rgba[1][3] = p.rgba[2][3] = 255;
    p.rgba[3][3] = mode == Mode::Four ? 255 : 0;
    return p;
}

// ---------------------------------------------------------------------------
// Encoding
//
// A sub-block is fitted in either mode. Both palettes are symmetric in the
// endpoints, so fits ignore the order and packing swaps endpoints and indices to
// get the words' order right.

// Texels as float lanes, one array a channel, so the per-texel loops vectorise.
// A weight of 0 marks padding and transparent texels, whose colour must not pull
// the fit; their lanes hold the mean colour so axis and range maths stay tame.
struct SubBlock {
    alignas(64) float c[3][16];  // whole numbers 0..255: every sum below is exact
    alignas(64) float w[16];
    std::uint32_t transparent = 0;  // bit i: texel i has alpha < 128
    int counted = 0;                // texels of weight 1
};

inline void load(const SubBlock& sb, F32x16& r, F32x16& g, F32x16& b, F32x16& w) {
    std::memcpy(&r, sb.c[0], sizeof r);
    std::memcpy(&g, sb.c[1], sizeof g);
    std::memcpy(&b, sb.c[2], sizeof b);
    std::memcpy(&w, sb.w, sizeof w);
}

// Lanes of a where the mask is set, else of b; plain bit operations, which every
// vector unit has (a ?: on mixed lane types falls back to scalar code on SSE2).
inline void select(F32x16& into, const I32x16& mask, const F32x16& a) {
    into = (F32x16)(((I32x16)a & mask) | ((I32x16)into & ~mask));
}

// Lane sum in a fixed order, so every target adds the same way.
inline float hsum(const F32x16& v) {
    using F32x4 = float __attribute__((vector_size(16)));
    F32x4 q[4];
    std::memcpy(q, &v, sizeof q);
    const F32x4 s = (q[0] + q[1]) + (q[2] + q[3]);
    return (s[0] + s[1]) + (s[2] + s[3]);
}

struct Fit {
    std::array<int, 3> e0{}, e1{};  // endpoint fields: 5, 6, 5 bits
    alignas(64) std::int32_t idx[16]{};
    int error = INT_MAX;  // exact squared error over the counted texels
};

// Blend weights in eighths of c0 and c1 for indices 0..3.
constexpr int kAlpha[2][4] = {{8, 0, 5, 3}, {8, 0, 4, 0}};
constexpr int kBeta[2][4] = {{0, 8, 3, 5}, {0, 8, 4, 0}};

// Exact palette of a fit, per channel.
inline void paletteOf(Mode mode, const Fit& fit, int p[3][4]) {
    for (int ch = 0; ch < 3; ++ch) channelPalette(mode, ch, fit.e0[ch], fit.e1[ch], p[ch]);
}

// Nearest palette entry for every texel and the exact error that gives. Sixteen
// float lanes hold the integer maths exactly (every sum stays below 2^24) and map
// onto whatever vector unit the target has, down to plain SSE2.
inline void assign(const SubBlock& sb, Mode mode, Fit& fit) {
    int p[3][4];
    paletteOf(mode, fit, p);
    F32x16 r, g, b, w;
    load(sb, r, g, b, w);
    F32x16 best = r - float(p[0][0]), dg = g - float(p[1][0]), db = b - float(p[2][0]);
    best = best * best + dg * dg + db * db;
    I32x16 which = {};
    for (int k = 1; k < 4; ++k) {
        const F32x16 dr = r - float(p[0][k]);
        const F32x16 dgk = g - float(p[1][k]), dbk = b - float(p[2][k]);
        const F32x16 d = dr * dr + dgk * dgk + dbk * dbk;
        const I32x16 closer = d < best;
        select(best, closer, d);
        which = (closer & k) | (~closer & which);
    }
    std::memcpy(fit.idx, &which, sizeof which);
    const float error = hsum(best * w);
    if (mode == Mode::Three)
        for (int i = 0; i < 16; ++i)
            if (sb.transparent >> i & 1) fit.idx[i] = 3;
    fit.error = static_cast<int>(error);
}

// Best endpoints for the fit's indices. With the indices fixed the error splits into
// one term per channel, each depending only on that channel's two fields, so every
// channel is searched on its own around the least-squares solution, scored with the
// console's integer blends. The current fields stay unless something beats them,
// so refine-then-assign never makes a fit worse.
inline void refine(const SubBlock& sb, Mode mode, int radius, Fit& fit) {
    int n[4] = {};
    int s[3][4] = {};
    for (int i = 0; i < 16; ++i) {
        if (sb.w[i] == 0) continue;
        const int k = fit.idx[i];
        ++n[k];
        s[0][k] += static_cast<int>(sb.c[0][i]);
        s[1][k] += static_cast<int>(sb.c[1][i]);
        s[2][k] += static_cast<int>(sb.c[2][i]);
    }
    const int m = mode == Mode::Four ? 0 : 1;
    int aa = 0, bb = 0, ab = 0;
    for (int k = 0; k < 4; ++k) {
        aa += n[k] * kAlpha[m][k] * kAlpha[m][k];
        bb += n[k] * kBeta[m][k] * kBeta[m][k];
        ab += n[k] * kAlpha[m][k] * kBeta[m][k];
    }
    const int det = aa * bb - ab * ab;
    const int total = n[0] + n[1] + n[2] + n[3];

    for (int ch = 0; ch < 3; ++ch) {
        float a, b;
        if (det > 0) {
            int ax = 0, bx = 0;
            for (int k = 0; k < 4; ++k) {
                ax += kAlpha[m][k] * s[ch][k];
                bx += kBeta[m][k] * s[ch][k];
            }
            const float scale = 8.0f / float(det);
            a = float(bb * ax - ab * bx) * scale;
            b = float(aa * bx - ab * ax) * scale;
        } else {
            a = b = total ? float(s[ch][0] + s[ch][1] + s[ch][2] + s[ch][3]) / float(total) : 0.0f;
        }
        const int max = kMax[ch];
        const float toField = float(max) / 255.0f;
        int ca = static_cast<int>(std::clamp(a, 0.0f, 255.0f) * toField + 0.5f);
        int cb = static_cast<int>(std::clamp(b, 0.0f, 255.0f) * toField + 0.5f);
        int loA = std::max(ca - radius, 0), hiA = std::min(ca + radius, max);
        int loB = std::max(cb - radius, 0), hiB = std::min(cb + radius, max);
        if (radius == 0) {
            // Just the fields either side of the least-squares value: on the photo
            // this finds the same fields as radius 1 with less than half the tries.
            ca = static_cast<int>(std::clamp(a, 0.0f, 255.0f) * toField);
            cb = static_cast<int>(std::clamp(b, 0.0f, 255.0f) * toField);
            loA = ca, hiA = std::min(ca + 1, max), loB = cb, hiB = std::min(cb + 1, max);
        }

        const std::uint8_t* widen = kWiden[ch].data();
        const int* sc = s[ch];
        auto cost = [&](int fa, int fb) {
            const int pa = widen[fa], pb = widen[fb];
            const int p2 = blendA(mode, pa, pb), p3 = blendB(mode, pa, pb);
            return pa * (n[0] * pa - 2 * sc[0]) + pb * (n[1] * pb - 2 * sc[1]) + p2 * (n[2] * p2 - 2 * sc[2]) +
                   p3 * (n[3] * p3 - 2 * sc[3]);
        };
        int bestA = fit.e0[ch], bestB = fit.e1[ch];
        int best = cost(bestA, bestB);
        for (int fa = loA; fa <= hiA; ++fa)
            for (int fb = loB; fb <= hiB; ++fb) {
                const int c = cost(fa, fb);
                if (c < best) best = c, bestA = fa, bestB = fb;
            }
        fit.e0[ch] = bestA;
        fit.e1[ch] = bestB;
    }
}

// Alternates refine and assign until the exact error stops falling.
inline void polish(const SubBlock& sb, Mode mode, int radius, int rounds, Fit& fit) {
    for (int r = 0; r < rounds; ++r) {
        Fit next = fit;
        refine(sb, mode, radius, next);
        assign(sb, mode, next);
        if (next.error >= fit.error) return;
        fit = next;
    }
}

// Per channel and mode, the field pair whose first blend comes closest to each 8-bit
// value: a sub-block of one colour is then matched to within a step or so, better
// than any single endpoint, with every texel on index 2.
struct SingleColour {
    std::uint8_t a[3][2][256];
    std::uint8_t b[3][2][256];
};

SingleColour makeSingleColour() {
    SingleColour t{};
    for (int ch = 0; ch < 3; ++ch)
        for (int m = 0; m < 2; ++m) {
            const Mode mode = m == 0 ? Mode::Four : Mode::Three;
            int from[256];
            std::fill(std::begin(from), std::end(from), -1);
            // Prefer the pair with the closest endpoints among exact hits: it is the
            // least sensitive choice and keeps the table deterministic.
            for (int fa = 0; fa <= kMax[ch]; ++fa)
                for (int fb = 0; fb <= kMax[ch]; ++fb) {
                    const int v = blendA(mode, widenField(ch, fa), widenField(ch, fb));
                    const int prev = from[v];
                    if (prev < 0 || std::abs(fa - fb) < std::abs(prev / 64 - prev % 64)) from[v] = fa * 64 + fb;
                }
            for (int v = 0; v < 256; ++v) {
                int pick = -1;
                for (int d = 0; pick < 0; ++d) {
                    if (v - d >= 0 && from[v - d] >= 0) pick = from[v - d];
                    else if (v + d < 256 && from[v + d] >= 0) pick = from[v + d];
                }
                t.a[ch][m][v] = static_cast<std::uint8_t>(pick / 64);
                t.b[ch][m][v] = static_cast<std::uint8_t>(pick % 64);
            }
        }
    return t;
}

const SingleColour& singleColour() {
    static const SingleColour table = makeSingleColour();
    return table;
}

inline bool uniform(const SubBlock& sb, int first) {
    for (int i = 0; i < 16; ++i)
        if (sb.w[i] != 0 && (sb.c[0][i] != sb.c[0][first] || sb.c[1][i] != sb.c[1][first] || sb.c[2][i] != sb.c[2][first]))
            return false;
    return true;
}

inline Fit singleColourFit(const SubBlock& sb, Mode mode, int first) {
    const SingleColour& t = singleColour();
    const int m = mode == Mode::Four ? 0 : 1;
    Fit fit;
    for (int ch = 0; ch < 3; ++ch) {
        const auto v = static_cast<int>(sb.c[ch][first]);
        fit.e0[ch] = t.a[ch][m][v];
        fit.e1[ch] = t.b[ch][m][v];
    }
    assign(sb, mode, fit);
    return fit;
}

struct Axis {
    float mean[3];
    float dir[3];
};

// Principal axis of the counted texels by power iteration on their covariance.
// Padding and transparent lanes hold the mean and weigh 0, so plain lane sums do.
inline Axis principalAxis(const SubBlock& sb) {
    F32x16 r, g, b, w;
    load(sb, r, g, b, w);
    const F32x16 wr = w * r, wg = w * g, wb = w * b;
    const float total[9] = {hsum(wr),     hsum(wg),     hsum(wb),     hsum(wr * r), hsum(wr * g),
                            hsum(wr * b), hsum(wg * g), hsum(wg * b), hsum(wb * b)};
    Axis axis{};
    const float n = float(sb.counted);
    for (int ch = 0; ch < 3; ++ch) axis.mean[ch] = total[ch] / n;
    const float cov[6] = {total[3] - total[0] * axis.mean[0], total[4] - total[0] * axis.mean[1],
                          total[5] - total[0] * axis.mean[2], total[6] - total[1] * axis.mean[1],
                          total[7] - total[1] * axis.mean[2], total[8] - total[2] * axis.mean[2]};
    // Start from the covariance row of the widest channel: never orthogonal to the
    // principal axis unless the texels are all one colour.
    float v[3];
    if (cov[0] >= cov[3] && cov[0] >= cov[5]) v[0] = cov[0], v[1] = cov[1], v[2] = cov[2];
    else if (cov[3] >= cov[5]) v[0] = cov[1], v[1] = cov[3], v[2] = cov[4];
    else v[0] = cov[2], v[1] = cov[4], v[2] = cov[5];
    for (int it = 0; it < 4; ++it) {
        const float x = cov[0] * v[0] + cov[1] * v[1] + cov[2] * v[2];
        const float y = cov[1] * v[0] + cov[3] * v[1] + cov[4] * v[2];
        const float z = cov[2] * v[0] + cov[4] * v[1] + cov[5] * v[2];
        const float len = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
        if (!(len > 0)) break;
        v[0] = x / len, v[1] = y / len, v[2] = z / len;
    }
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int ch = 0; ch < 3; ++ch) axis.dir[ch] = len > 0 ? v[ch] / len : 0.57735f;
    return axis;
}

// Indices from where each texel falls between the extremes along the axis, then polished.
inline Fit rangeFit(const SubBlock& sb, Mode mode, const Axis& axis, int radius, int rounds) {
    F32x16 r, g, b;
    F32x16 w;
    load(sb, r, g, b, w);
    // Relative to the mean, so the mean colour of uncounted lanes sits inside the range.
    const F32x16 t = (r - axis.mean[0]) * axis.dir[0] + (g - axis.mean[1]) * axis.dir[1] + (b - axis.mean[2]) * axis.dir[2];
    float lo = 0, hi = 0;
    for (int i = 0; i < 16; ++i) lo = std::min(lo, t[i]), hi = std::max(hi, t[i]);
    const float scale = hi > lo ? 1.0f / (hi - lo) : 0.0f;
    const F32x16 u = (t - lo) * scale;
    const I32x16 one = I32x16{} + 1;
    I32x16 idx;
    if (mode == Mode::Four) idx = (u < 0.1875f) ? I32x16{} : (u < 0.5f) ? one * 2 : (u < 0.8125f) ? one * 3 : one;
    else idx = (u < 0.25f) ? I32x16{} : (u < 0.75f) ? one * 2 : one;
    Fit fit;
    std::memcpy(fit.idx, &idx, sizeof idx);
    // Start the endpoints at the quantised extremes so the first refine has a sane incumbent.
    for (int ch = 0; ch < 3; ++ch) {
        const float a = std::clamp(axis.mean[ch] + lo * axis.dir[ch], 0.0f, 255.0f);
        const float c = std::clamp(axis.mean[ch] + hi * axis.dir[ch], 0.0f, 255.0f);
        fit.e0[ch] = static_cast<int>(a * float(kMax[ch]) / 255.0f + 0.5f);
        fit.e1[ch] = static_cast<int>(c * float(kMax[ch]) / 255.0f + 0.5f);
    }
    polish(sb, mode, radius, rounds, fit);
    return fit;
}

// Cluster fit: texels sorted along the axis, every split of that order into runs on
// index 0, 2, 3, 1 (Four) or 0, 2, 1 (Three) scored by its least-squares residual, and
// the `keep` best splits polished against the exact decode.
struct Candidate {
    float score;
    std::uint8_t cut[3];
};

inline Fit clusterFit(const SubBlock& sb, Mode mode, const Axis& axis, int keep, int radius, int rounds,
                      const Fit* near = nullptr, int window = 16) {
    int order[16];
    float key[16];
    int m = 0;
    for (int i = 0; i < 16; ++i) {
        if (sb.w[i] == 0) continue;
        key[m] = sb.c[0][i] * axis.dir[0] + sb.c[1][i] * axis.dir[1] + sb.c[2][i] * axis.dir[2];
        order[m++] = i;
    }
    for (int i = 1; i < m; ++i)  // insertion sort: stable, so ties order by texel
        for (int j = i; j > 0 && key[j - 1] > key[j]; --j) std::swap(key[j - 1], key[j]), std::swap(order[j - 1], order[j]);

    float prefix[17][3];
    prefix[0][0] = prefix[0][1] = prefix[0][2] = 0;
    for (int j = 0; j < m; ++j)
        for (int ch = 0; ch < 3; ++ch) prefix[j + 1][ch] = prefix[j][ch] + sb.c[ch][order[j]];

    constexpr int kKeepMax = 8;
    Candidate best[kKeepMax];
    keep = std::min(keep, kKeepMax);
    int held = 0;
    auto offer = [&](float score, int i, int j, int k) {
        if (held == keep && score <= best[held - 1].score) return;
        int at = held < keep ? held++ : held - 1;
        while (at > 0 && best[at - 1].score < score) best[at] = best[at - 1], --at;
        best[at] = {score, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j), static_cast<std::uint8_t>(k)}};
    };

    // Cuts of the fit to search around, from how many texels each index holds.
    int centre[3] = {0, m, m};
    if (near) {
        int count[4] = {};
        for (int i = 0; i < 16; ++i)
            if (sb.w[i] != 0) ++count[near->idx[i]];
        centre[0] = count[0], centre[1] = count[0] + count[2], centre[2] = centre[1] + count[3];
    } else {
        window = 16;
    }
    auto from = [&](int c, int floor) { return std::max(floor, centre[c] - window); };
    auto to = [&](int c) { return std::min(m, centre[c] + window); };

    const float* total = prefix[m];
    if (mode == Mode::Four) {
        // Runs [0,i) on c0, [i,j) on 5:3, [j,k) on 3:5, [k,m) on c1.
        for (int i = from(0, 0); i <= to(0); ++i)
            for (int j = from(1, i); j <= to(1); ++j)
                for (int k = from(2, j); k <= to(2); ++k) {
                    const float n0 = float(i), n2 = float(j - i), n3 = float(k - j), n1 = float(m - k);
                    const float aa = n0 + (25.f / 64) * n2 + (9.f / 64) * n3;
                    const float bb = n1 + (9.f / 64) * n2 + (25.f / 64) * n3;
                    const float ab = (15.f / 64) * (n2 + n3);
                    const float det = aa * bb - ab * ab;
                    if (det < 1e-4f) continue;
                    float score = 0;
                    for (int ch = 0; ch < 3; ++ch) {
                        const float x0 = prefix[i][ch], x2 = prefix[j][ch] - prefix[i][ch];
                        const float x3 = prefix[k][ch] - prefix[j][ch], x1 = total[ch] - prefix[k][ch];
                        const float ax = x0 + 0.625f * x2 + 0.375f * x3;
                        const float bx = x1 + 0.375f * x2 + 0.625f * x3;
                        score += bb * ax * ax - 2 * ab * ax * bx + aa * bx * bx;
                    }
                    offer(score / det, i, j, k);
                }
    } else {
        // Runs [0,i) on c0, [i,j) on the average, [j,m) on c1.
        for (int i = from(0, 0); i <= to(0); ++i)
            for (int j = from(1, i); j <= to(1); ++j) {
                const float n0 = float(i), n2 = float(j - i), n1 = float(m - j);
                const float aa = n0 + 0.25f * n2, bb = n1 + 0.25f * n2, ab = 0.25f * n2;
                const float det = aa * bb - ab * ab;
                if (det < 1e-4f) continue;
                float score = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const float x0 = prefix[i][ch], x2 = prefix[j][ch] - prefix[i][ch], x1 = total[ch] - prefix[j][ch];
                    const float ax = x0 + 0.5f * x2, bx = x1 + 0.5f * x2;
                    score += bb * ax * ax - 2 * ab * ax * bx + aa * bx * bx;
                }
                offer(score / det, i, j, m);
            }
    }

    Fit winner;
    for (int c = 0; c < held; ++c) {
        Fit fit;
        const int i = best[c].cut[0], j = best[c].cut[1], k = best[c].cut[2];
        for (int p = 0; p < m; ++p) {
            int idx = p < i ? 0 : p < j ? 2 : p < k ? 3 : 1;
            if (mode == Mode::Three && idx == 3) idx = 1;
            fit.idx[order[p]] = idx;
        }
        // The incumbent endpoints must be something: the first refine replaces them.
        fit.e0 = fit.e1 = {0, 0, 0};
        refine(sb, mode, radius, fit);
        assign(sb, mode, fit);
        polish(sb, mode, radius, rounds, fit);
        if (fit.error < winner.error) winner = fit;
    }
    return winner;
}

inline Axis axisOf(const Fit& fit, const Axis& previous) {
    Axis axis = previous;
    float d[3], len = 0;
    for (int ch = 0; ch < 3; ++ch) {
        d[ch] = float(widenField(ch, fit.e1[ch]) - widenField(ch, fit.e0[ch]));
        len += d[ch] * d[ch];
    }
    if (len > 0)
        for (int ch = 0; ch < 3; ++ch) axis.dir[ch] = d[ch] / std::sqrt(len);
    return axis;
}

// Hill climb over single-field steps, each judged by a full exact reassignment:
// escapes the points where refine and assign each think the other is optimal.
inline void jiggle(const SubBlock& sb, Mode mode, Fit& fit) {
    for (bool improved = true; improved;) {
        improved = false;
        for (int ch = 0; ch < 3; ++ch)
            for (int da = -1; da <= 1; ++da)
                for (int db = -1; db <= 1; ++db) {
                    if (!da && !db) continue;
                    Fit next = fit;
                    next.e0[ch] += da;
                    next.e1[ch] += db;
                    if (next.e0[ch] < 0 || next.e0[ch] > kMax[ch] || next.e1[ch] < 0 || next.e1[ch] > kMax[ch]) continue;
                    assign(sb, mode, next);
                    if (next.error < fit.error) fit = next, improved = true;
                }
    }
}

// ---------------------------------------------------------------------------
// Exact search, for Best
//
// Branch and bound over the endpoint fields for the least error a mode can reach.
// Whatever the palette, a texel costs at least the sum over channels of its distance
// to that channel's nearest entry, so a field pair scored on its channel alone bounds
// every palette built on it. Channels are fixed one at a time, each one's pairs in
// order of that score, and a branch ends once its bound reaches the best error found.

// Endpoint fields the search may use, per channel (bit f: field f). The tests narrow
// them so that brute force can check the search.
using FieldMask = std::array<std::uint64_t, 3>;
constexpr FieldMask kAllFields = {0xFFFFFFFFull, ~0ull, 0xFFFFFFFFull};

// Sixteen 16-bit lanes, one a texel: twice the lanes of float per vector register.
// Distances are capped at kCap so that three channels add without overflow. A texel
// whose capped cost differs from its true one costs at least kCap either way, so
// while the bound is at most kCap every comparison with it comes out as with the
// true costs, and the search stays exact.
using I16x16 = std::int16_t __attribute__((vector_size(32)));
constexpr int kCap = 10922;  // 3 · kCap <= INT16_MAX

// Palettes a search may score. Work grows steeply with the error left: the photo's
// hardest sub-block needs a million, and a picture of noisy sub-blocks could need
// that everywhere. At this budget the photo loses 0.0002 dB to the full search and
// no sub-block takes much over a millisecond. Past it the search keeps the best
// palette it met.
constexpr long kBudget = 1 << 16;

// Lanes hold at most 32767, so two of them still add in 16 bits; after that,
// 32-bit lanes. Integer sums, so any order gives the same result.
inline int lanesum(const I16x16& v) {
    using U16x8 = std::uint16_t __attribute__((vector_size(16)));
    using U32x4 = std::uint32_t __attribute__((vector_size(16)));
    U16x8 half[2];
    std::memcpy(half, &v, sizeof half);
    const U16x8 h = half[0] + half[1];
    U32x4 s;
    std::memcpy(&s, &h, sizeof s);
    s = (s & 0xFFFF) + (s >> 16);
    s += __builtin_shufflevector(s, s, 2, 3, 0, 1);
    s += __builtin_shufflevector(s, s, 1, 0, 3, 2);
    return static_cast<int>(s[0]);
}

inline void lowerInto(I16x16& m, const I16x16& d) { m = d < m ? d : m; }

// Capped squared distance of every texel to every 8-bit value, per channel; 0 on lanes
// that do not count, so sums need no weights.
// Also, per channel and value v, the squared distances to v of the texels below it
// and of those above: an endpoint pair must at least pay those beyond its two ends.
struct Distances {
    alignas(32) std::int16_t d[3][256][16];
    int below[3][256], above[3][256];
};

inline void fillDistances(const SubBlock& sb, Distances& out) {
    F32x16 w;
    std::memcpy(&w, sb.w, sizeof w);
    const I16x16 counted = __builtin_convertvector(w, I16x16) != 0;
    // Constants as whole vectors: a scalar in ?: makes GCC go lane by lane.
    const I16x16 zero{}, one = zero + 1, far = zero + 105, cap = zero + kCap;
    for (int ch = 0; ch < 3; ++ch) {
        F32x16 c;
        std::memcpy(&c, sb.c[ch], sizeof c);
        const I16x16 x = __builtin_convertvector(c, I16x16);
        I16x16 value = zero;
        for (int v = 0; v < 256; ++v, value += one) {
            // Capping the distance at 105 first keeps its square within 16 bits
            // while still past kCap (104² < kCap < 105²).
            I16x16 d = x - value;
            const I16x16 negated = zero - d;
            d = d < negated ? negated : d;
            d = d < far ? d : far;
            d = d * d;
            d = (d < cap ? d : cap) & counted;
            std::memcpy(out.d[ch][v], &d, sizeof d);
        }
        // Running count, sum and sum of squares of the texels passed.
        int n = 0, sum = 0, squares = 0, counts[256] = {};
        for (int i = 0; i < 16; ++i)
            if (sb.w[i] != 0) ++counts[static_cast<int>(sb.c[ch][i])];
        for (int v = 0; v < 256; ++v) {
            out.below[ch][v] = n * v * v - 2 * v * sum + squares;
            n += counts[v], sum += counts[v] * v, squares += counts[v] * v * v;
        }
        n = sum = squares = 0;
        for (int v = 255; v >= 0; --v) {
            out.above[ch][v] = n * v * v - 2 * v * sum + squares;
            n += counts[v], sum += counts[v] * v, squares += counts[v] * v * v;
        }
    }
}

// Field pairs of one channel that may still beat the bound, as score << 12 | a << 6 | b,
// ascending: the score fits 20 bits (16 texels · 255²), the fields 6 bits each.
struct PairList {
    int count = 0;
    std::uint32_t key[64 * 64];
    std::uint8_t palette[64 * 64][4];  // of each key, worked out once
};

// The exact search's tables, made only by the threads that search: as static
// thread-local storage their 320 KiB were zeroed at the start of every program.
struct SearchScratch {
    Distances dist;
    int score[3][64 * 64];
    PairList lists[3];
};

SearchScratch& searchScratch() {
    static thread_local std::unique_ptr<SearchScratch> scratch;
    if (!scratch) scratch = std::make_unique<SearchScratch>();
    return *scratch;
}


// Replaces `fit` when some palette of `mode` with allowed fields beats its error;
// otherwise leaves it alone. Three-colour palettes leave entry 3 transparent, but
// channelPalette gives it entry 2's colour, so taking the least of four entries
// serves both modes. The mode is a template argument so that the blends inline.
template <Mode mode>
void exactFit(const SubBlock& sb, SearchScratch& scratch, const FieldMask& allowed, Fit& fit) {
    const Distances& dist = scratch.dist;
    if (fit.error == 0 || fit.error > kCap) return;
    int bound = fit.error;
    // Widest channel first: its pairs part the texels most, so the later channels'
    // bounds start tight. On the photo this halves the work of fewest-pairs-first.
    int order[3] = {0, 1, 2};
    float range[3];
    for (int ch = 0; ch < 3; ++ch) {
        float lo = 255, hi = 0;
        for (int i = 0; i < 16; ++i)
            if (sb.w[i] != 0) lo = std::min(lo, sb.c[ch][i]), hi = std::max(hi, sb.c[ch][i]);
        range[ch] = hi - lo;
    }
    std::stable_sort(order, order + 3, [&](int x, int y) { return range[x] > range[y]; });

    // Each channel's own score for every pair; the palette is the same set of
    // colours either way round, so a <= b is enough.
    auto& score = scratch.score;
    int least[3], settled = 0;
    for (const int ch : order) {
        // Room left by the least scores of the channels already done.
        const int room = bound - settled;
        least[ch] = INT_MAX;
        for (int a = 0; a <= kMax[ch]; ++a) {
            if (!(allowed[ch] >> a & 1)) continue;
            for (int b = a; b <= kMax[ch]; ++b) {
                if (!(allowed[ch] >> b & 1)) continue;
                int q[4];
                channelPalette(mode, ch, a, b, q);
                // Cheap first: the texels beyond the ends. Pairs skipped here score
                // at least the room, so they would not make the lists below, and
                // `least` only matters while it is under the room.
                if (dist.below[ch][q[0]] + dist.above[ch][q[1]] >= room) {
                    score[ch][a * 64 + b] = INT_MAX;
                    continue;
                }
                I16x16 m, d;
                std::memcpy(&m, dist.d[ch][q[0]], sizeof m);
                for (int k = 1; k < 4; ++k) {
                    std::memcpy(&d, dist.d[ch][q[k]], sizeof d);
                    lowerInto(m, d);
                }
                const int s = lanesum(m);
                score[ch][a * 64 + b] = s;
                least[ch] = std::min(least[ch], s);
            }
        }
        if (least[ch] >= room) return;
        settled += least[ch];
    }

    auto& lists = scratch.lists;
    for (int ch = 0; ch < 3; ++ch) {
        const int limit = bound - (least[0] + least[1] + least[2] - least[ch]);
        PairList& list = lists[ch];
        list.count = 0;
        for (int a = 0; a <= kMax[ch]; ++a) {
            if (!(allowed[ch] >> a & 1)) continue;
            for (int b = a; b <= kMax[ch]; ++b) {
                if (!(allowed[ch] >> b & 1)) continue;
                const int s = score[ch][a * 64 + b];
                if (s >= limit) continue;
                const auto key = static_cast<std::uint32_t>(s) << 12;
                list.key[list.count++] = key | static_cast<std::uint32_t>(a << 6 | b);
                if (a != b) list.key[list.count++] = key | static_cast<std::uint32_t>(b << 6 | a);
            }
        }
        if (list.count == 0) return;
        std::sort(list.key, list.key + list.count);
        for (int i = 0; i < list.count; ++i) {
            int q[4];
            channelPalette(mode, ch, list.key[i] >> 6 & 63, list.key[i] & 63, q);
            for (int k = 0; k < 4; ++k) list.palette[i][k] = static_cast<std::uint8_t>(q[k]);
        }
    }

    const int c1 = order[0], c2 = order[1], c3 = order[2];
    const PairList &l1 = lists[c1], &l2 = lists[c2], &l3 = lists[c3];
    std::uint32_t found[3] = {};
    bool improved = false;
    long work = 0;
    for (int i1 = 0; i1 < l1.count && work < kBudget; ++i1) {
        const std::uint32_t k1 = l1.key[i1];
        const int a1 = k1 >> 6 & 63, b1 = k1 & 63;
        // Swapping the endpoints of all three channels gives the same colours.
        if (a1 > b1) continue;
        const int s1 = static_cast<int>(k1 >> 12);
        if (s1 + least[c2] + least[c3] >= bound) break;
        I16x16 d1[4];
        for (int k = 0; k < 4; ++k) std::memcpy(&d1[k], dist.d[c1][l1.palette[i1][k]], sizeof d1[k]);
        for (int i2 = 0; i2 < l2.count && work < kBudget; ++i2) {
            const std::uint32_t k2 = l2.key[i2];
            if (s1 + static_cast<int>(k2 >> 12) + least[c3] >= bound) break;
            I16x16 d12[4], y;
            for (int k = 0; k < 4; ++k) {
                std::memcpy(&y, dist.d[c2][l2.palette[i2][k]], sizeof y);
                d12[k] = d1[k] + y;
            }
            I16x16 m = d12[0];
            for (int k = 1; k < 4; ++k) lowerInto(m, d12[k]);
            ++work;
            const int s12 = lanesum(m);
            if (s12 + least[c3] >= bound) continue;
            for (int i3 = 0; i3 < l3.count; ++i3) {
                const std::uint32_t k3 = l3.key[i3];
                if (s12 + static_cast<int>(k3 >> 12) >= bound) break;
                const std::uint8_t* q3 = l3.palette[i3];
                I16x16 total, z;
                std::memcpy(&z, dist.d[c3][q3[0]], sizeof z);
                total = d12[0] + z;
                for (int k = 1; k < 4; ++k) {
                    std::memcpy(&z, dist.d[c3][q3[k]], sizeof z);
                    lowerInto(total, d12[k] + z);
                }
                ++work;
                const int error = lanesum(total);
                if (error < bound) {
                    bound = error;
                    found[c1] = k1, found[c2] = k2, found[c3] = k3;
                    improved = true;
                }
            }
        }
    }
    if (improved) {
        Fit next;
        for (int ch = 0; ch < 3; ++ch) next.e0[ch] = found[ch] >> 6 & 63, next.e1[ch] = found[ch] & 63;
        assign(sb, mode, next);
        fit = next;
    }
}

// The exact search in both modes (Three only when some texel is transparent),
// starting from `fit` in `mode`.
inline void exactSearch(const SubBlock& sb, const FieldMask& allowed, Fit& fit, Mode& mode) {
    if (fit.error == 0) return;
    SearchScratch& scratch = searchScratch();
    fillDistances(sb, scratch.dist);
    // The fit's own mode first: what it gains tightens the other's bound.
    const bool four = mode == Mode::Four;
    if (four) exactFit<Mode::Four>(sb, scratch, allowed, fit);
    else exactFit<Mode::Three>(sb, scratch, allowed, fit);
    if (sb.transparent) return;
    Fit other = fit;
    if (four) exactFit<Mode::Three>(sb, scratch, allowed, other);
    else exactFit<Mode::Four>(sb, scratch, allowed, other);
    if (other.error < fit.error) fit = other, mode = four ? Mode::Three : Mode::Four;
}

// Sub-blocks whose exact squared error (summed over R, G, B) Normal still finds
// worth an ordering search after the range fit: nearly all of a photo's, none of a
// flat or two-colour picture's.
constexpr int kNormalRetryError = 192;

// What the fits of both modes share: the first counted texel, whether all are
// one colour, and if not their principal axis.
struct Shape {
    int first = 0;
    bool uniform = false;
    Axis axis{};
};

inline Shape shapeOf(const SubBlock& sb) {
    Shape s;
    while (sb.w[s.first] == 0) ++s.first;
    s.uniform = uniform(sb, s.first);
    if (!s.uniform) s.axis = principalAxis(sb);
    return s;
}

inline Fit fitMode(const SubBlock& sb, const Shape& shape, Mode mode, Quality quality) {
    if (shape.uniform) return singleColourFit(sb, mode, shape.first);
    const Axis& axis = shape.axis;
    switch (quality) {
        case Quality::Fast: return rangeFit(sb, mode, axis, 0, 2);
        case Quality::Normal: {
            Fit fit = rangeFit(sb, mode, axis, 0, 4);
            if (fit.error > kNormalRetryError) {
                // Splits within two texels of the range fit's own hold nearly all of
                // the full search's gain for a sixth of its cost.
                const Fit other = clusterFit(sb, mode, axis, 2, 0, 4, &fit, 2);
                if (other.error < fit.error) fit = other;
            }
            return fit;
        }
        case Quality::Best: {
            Fit fit = rangeFit(sb, mode, axis, 1, 8);
            Axis along = axis;
            // Re-sorting along the best fit's own endpoints finds splits the first
            // axis hides.
            for (int round = 0; round < 3; ++round) {
                const Fit other = clusterFit(sb, mode, along, 8, 1, 8);
                if (other.error >= fit.error && round > 0) break;
                if (other.error < fit.error) fit = other;
                along = axisOf(fit, along);
            }
            jiggle(sb, mode, fit);
            return fit;
        }
    }
    return {};
}

inline void pack(const Fit& fit, Mode mode, std::uint8_t* out) {
    auto word = [](const std::array<int, 3>& f) { return static_cast<std::uint32_t>((f[0] << 11) | (f[1] << 5) | f[2]); };
    std::uint32_t w0 = word(fit.e0), w1 = word(fit.e1);
    int flip = 0, keep = 3;  // index i is written as (i & keep) ^ flip, for i < 2 in Three
    if (mode == Mode::Four) {
        if (w0 < w1) std::swap(w0, w1), flip = 1;
        else if (w0 == w1) keep = 0;  // all entries one colour, and equal words read as Three
    } else if (w0 > w1) {
        std::swap(w0, w1), flip = 1;
    }
    out[0] = static_cast<std::uint8_t>(w0 >> 8);
    out[1] = static_cast<std::uint8_t>(w0);
    out[2] = static_cast<std::uint8_t>(w1 >> 8);
    out[3] = static_cast<std::uint8_t>(w1);
    for (int row = 0; row < 4; ++row) {
        int bits = 0;
        for (int col = 0; col < 4; ++col) {
            const int i = fit.idx[4 * row + col] & keep;
            bits = bits << 2 | (mode == Mode::Three && i >= 2 ? i : i ^ flip);
        }
        out[4 + row] = static_cast<std::uint8_t>(bits);
    }
}

// The sub-block at x0, y0; lanes outside the picture or transparent weigh 0.
// Always inlined: as a call it costs Fast nearly 1 % more instructions.
[[gnu::always_inline]] inline void loadSubBlock(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                                                std::uint32_t x0, std::uint32_t y0, SubBlock& sb) {
    const std::uint32_t cols = x0 < width ? std::min(4u, width - x0) : 0;
    const std::uint32_t rows = y0 < height ? std::min(4u, height - y0) : 0;
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 4; ++x) {
            const int i = static_cast<int>(y * 4 + x);
            const bool inside = x < cols && y < rows;
            const std::uint8_t* px = inside ? rgba + (std::size_t{y0 + y} * width + x0 + x) * 4 : nullptr;
            const bool opaque = inside && px[3] >= 128;
            if (inside && !opaque) sb.transparent |= 1u << i;
            for (int ch = 0; ch < 3; ++ch) sb.c[ch][i] = opaque ? px[ch] : 0;
            sb.w[i] = opaque ? 1.0f : 0.0f;
            sb.counted += opaque;
        }
    if (sb.counted > 0 && sb.counted < 16) {
        float mean[3];
        for (int ch = 0; ch < 3; ++ch) {
            F32x16 v;
            std::memcpy(&v, sb.c[ch], sizeof v);
            mean[ch] = std::nearbyint(hsum(v) / float(sb.counted));
        }
        for (int i = 0; i < 16; ++i)
            if (sb.w[i] == 0)
                for (int ch = 0; ch < 3; ++ch) sb.c[ch][i] = mean[ch];
    }
}

inline void encodeSubBlock(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint32_t x0,
                           std::uint32_t y0, Quality quality, std::uint8_t* out) {
    SubBlock sb;
    loadSubBlock(rgba, width, height, x0, y0, sb);
    if (sb.counted == 0) {
        // Nothing to show: all transparent (index 3 of Three), or all padding.
        std::memset(out, 0, 8);
        const std::uint32_t rows = y0 < height ? std::min(4u, height - y0) : 0;
        if (sb.transparent)
            for (std::uint32_t row = 0; row < rows; ++row) out[4 + row] = 0xFF;
        return;
    }

    const Shape shape = shapeOf(sb);
    if (sb.transparent) {
        Fit fit = fitMode(sb, shape, Mode::Three, quality);
        Mode mode = Mode::Three;
        if (quality == Quality::Best) exactSearch(sb, kAllFields, fit, mode);  // stays Three
        pack(fit, Mode::Three, out);
        return;
    }
    Fit fit = fitMode(sb, shape, Mode::Four, quality);
    Mode mode = Mode::Four;
    // Three colours beat four on few photo blocks (a hundredth of a dB), but on
    // drawn pictures with a midtone between two colours they can.
    if (quality != Quality::Fast && fit.error > 0) {
        const Fit three = quality == Quality::Best
                              ? fitMode(sb, shape, Mode::Three, quality)
                              : rangeFit(sb, Mode::Three, shape.uniform ? principalAxis(sb) : shape.axis, 0, 4);
        if (three.error < fit.error) fit = three, mode = Mode::Three;
    }
    // The fits above leave the search a tight bound to prune with.
    if (quality == Quality::Best) exactSearch(sb, kAllFields, fit, mode);
    // A constant mode lets pack fold its mode tests away, as Fast always did.
    if (mode == Mode::Four) pack(fit, Mode::Four, out);
    else pack(fit, Mode::Three, out);
}

void encodeBlockRows(
    const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, Quality quality, std::size_t firstRow,
    std::size_t endRow, std::uint8_t* out) {
    const std::uint32_t across = (width + 7) / 8;
    for (std::size_t by = firstRow; by < endRow; ++by)
        for (std::uint32_t bx = 0; bx < across; ++bx) {
            std::uint8_t* block = out + (by * across + bx) * kBlockBytes;
            const auto x = bx * 8, y = static_cast<std::uint32_t>(by * 8);
            encodeSubBlock(rgba, width, height, x, y, quality, block);
            encodeSubBlock(rgba, width, height, x + 4, y, quality, block + 8);
            encodeSubBlock(rgba, width, height, x, y + 4, quality, block + 16);
            encodeSubBlock(rgba, width, height, x + 4, y + 4, quality, block + 24);
        }
}

}  // namespace

void decodeLevel(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                 std::span<std::uint8_t> rgba) {
    checkSizes(rgba.size(), data.size(), width, height);
    const std::uint32_t across = (width + 7) / 8, down = (height + 7) / 8;
    const std::uint8_t* block = data.data();
    for (std::uint32_t by = 0; by < down; ++by)
        for (std::uint32_t bx = 0; bx < across; ++bx, block += kBlockBytes)
            for (std::uint32_t s = 0; s < 4; ++s) {
                const std::uint32_t x0 = bx * 8 + (s & 1) * 4, y0 = by * 8 + (s >> 1) * 4;
                if (x0 >= width || y0 >= height) continue;
                const std::uint8_t* sub = block + 8 * s;
                const Palette p = palette(sub);
                const std::uint32_t cols = std::min(4u, width - x0), rows = std::min(4u, height - y0);
                for (std::uint32_t r = 0; r < rows; ++r) {
                    std::uint8_t* dst = rgba.data() + (std::size_t{y0 + r} * width + x0) * 4;
                    const std::uint32_t bits = sub[4 + r];
                    if (cols == 4) {
                        std::memcpy(dst, p.rgba[bits >> 6], 4);
                        std::memcpy(dst + 4, p.rgba[(bits >> 4) & 3], 4);
                        std::memcpy(dst + 8, p.rgba[(bits >> 2) & 3], 4);
                        std::memcpy(dst + 12, p.rgba[bits & 3], 4);
                    } else {
                        for (std::uint32_t c = 0; c < cols; ++c) std::memcpy(dst + 4 * c, p.rgba[(bits >> (6 - 2 * c)) & 3], 4);
                    }
                }
            }
}

void encodeLevel(std::span<const std::uint8_t> rgba, std::uint32_t width, std::uint32_t height, Quality quality,
                 unsigned threads, std::span<std::uint8_t> out) {
    checkSizes(rgba.size(), out.size(), width, height);
    singleColour();  // built once, before the threads race for it
    const std::size_t down = (height + 7) / 8;
    parallelFor(down, threads, 1, [&](std::size_t first, std::size_t end) {
        encodeBlockRows(rgba.data(), width, height, quality, first, end, out.data());
    });
}

int searchSubBlock(std::span<const std::uint8_t> rgba, const std::array<std::uint64_t, 3>& fields,
                   std::span<std::uint8_t> out) {
    if (rgba.size() != 64 || out.size() != 8)
        throw std::invalid_argument("CMPR search: one sub-block in, 8 bytes out");
    SubBlock sb;
    loadSubBlock(rgba.data(), 4, 4, 0, 0, sb);
    if (sb.counted == 0) throw std::invalid_argument("CMPR search: no opaque texel to fit");
    Fit fit;
    fit.error = kCap;
    Mode mode = sb.transparent ? Mode::Three : Mode::Four;
    exactSearch(sb, fields, fit, mode);
    pack(fit, mode, out.data());
    return fit.error;
}

double rgbPsnr(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size() || a.size() % 4 != 0) throw std::invalid_argument("PSNR: pictures differ in size");
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.size(); i += 4)
        for (std::size_t ch = 0; ch < 3; ++ch) {
            const int d = int(a[i + ch]) - int(b[i + ch]);
            sum += std::uint64_t(d * d);
        }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    const double mse = double(sum) / double(a.size() / 4 * 3);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace tplforge::cmpr
