// CMPR against the worked examples, and the encoder's promises: exact where 565
// allows, 1-bit alpha, partial blocks, the same bytes on any thread count, a
// quality floor per level, and Best's search as good as brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "codec/gx/cmpr.h"
#include "codec/gx/texel.h"
#include "tplforge/format.h"

namespace {

using namespace tplforge;
using cmpr::Quality;
using texel::Rgba;
using Bytes = std::vector<std::uint8_t>;

constexpr Quality kQualities[] = {Quality::Fast, Quality::Normal, Quality::Best};

Bytes decode(const Bytes& level, std::uint32_t w, std::uint32_t h) {
    Bytes rgba(std::size_t{w} * h * 4);
    cmpr::decodeLevel(level, w, h, rgba);
    return rgba;
}

Bytes encode(const Bytes& rgba, std::uint32_t w, std::uint32_t h, Quality q, unsigned threads = 1) {
    Bytes level(levelBytes(Format::CMPR, w, h));
    cmpr::encodeLevel(rgba, w, h, q, threads, level);
    return level;
}

template <class Texel>
Bytes picture(std::uint32_t w, std::uint32_t h, Texel texel) {
    Bytes rgba;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const Rgba c = texel(x, y);
            rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
        }
    return rgba;
}

// A smooth colour field with a hard diagonal edge and a band of fine stripes, so
// that flat, gradient and busy sub-blocks all count.
Bytes synthetic(std::uint32_t w, std::uint32_t h) {
    return picture(w, h, [&](std::uint32_t x, std::uint32_t y) {
        const double u = double(x) / w, v = double(y) / h;
        double r = 40 + 180 * u, g = 200 - 120 * v + 30 * std::sin(7 * u + 3 * v), b = 90 + 100 * u * v;
        if (x + y > w) r = 250 - r / 2, b = 255 - b;
        if (y > h / 2 && y < h / 2 + 6) g += (x % 3) * 25;
        const auto channel = [](double c) { return static_cast<std::uint8_t>(std::clamp(c, 0.0, 255.0)); };
        return Rgba{channel(r), channel(g), channel(b), 255};
    });
}

TEST(Cmpr, DecodesTheWorkedSubBlocksInEachPosition) {
    // Endpoints, then indices 0, 1, 2, 3 along every row; the rest of the block is
    // zero, which reads opaque black.
    const std::pair<std::array<std::uint8_t, 4>, std::array<Rgba, 4>> cases[] = {
        {{0xF8, 0x00, 0x00, 0x1F}, {{{255, 0, 0, 255}, {0, 0, 255, 255}, {159, 0, 95, 255}, {95, 0, 159, 255}}}},
        {{0x00, 0x1F, 0xF8, 0x00}, {{{0, 0, 255, 255}, {255, 0, 0, 255}, {127, 0, 127, 255}, {127, 0, 127, 0}}}},
    };
    for (const auto& [ends, row] : cases)
        for (std::uint32_t s = 0; s < 4; ++s) {
            Bytes level(32, 0);
            std::copy(ends.begin(), ends.end(), level.begin() + 8 * s);
            std::fill_n(level.begin() + 8 * s + 4, 4, 0x1B);
            const std::uint32_t x0 = s % 2 * 4, y0 = s / 2 * 4;
            EXPECT_EQ(decode(level, 8, 8), picture(8, 8, [&](std::uint32_t x, std::uint32_t y) {
                          return x - x0 < 4 && y - y0 < 4 ? row[x - x0] : Rgba{};
                      })) << "sub-block " << s << " of " << int(ends[0]);
        }
}

// Sub-blocks of one 565 colour, or two in any pattern, come back exact. Flat
// colours between the steps land on a blend: within 2 with four colours, within 3
// with three (whose only blend is the coarser average).
TEST(Cmpr, SubBlocksComeBackExactOrWithinABlend) {
    std::vector<std::pair<Bytes, int>> cases;  // a sub-block, and how far a channel may stray
    const std::uint16_t words[] = {0x0000, 0xFFFF, 0x1CE7, 0xF800, 0x07E0, 0x8410, 0x8411};
    for (const std::uint16_t a : words)
        for (const std::uint16_t b : words)
            // Which texels take the second colour; 0 is a flat sub-block.
            for (const unsigned mask : {0x0000u, 0x0001u, 0x00FFu, 0x5A5Au, 0x7FFFu})
                cases.emplace_back(picture(4, 4, [&](std::uint32_t x, std::uint32_t y) {
                                       return texel::decodeRgb565(mask >> (4 * y + x) & 1 ? b : a);
                                   }), 0);
    for (const bool transparent : {false, true})
        for (int v = 0; v < 256; ++v)
            cases.emplace_back(picture(4, 4, [&](std::uint32_t x, std::uint32_t y) {
                                   const bool hole = transparent && x == 1 && y == 1;
                                   return Rgba{std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v * 7),
                                               std::uint8_t(hole ? 0 : 255)};
                               }), transparent ? 3 : 2);
    for (std::size_t k = 0; k < cases.size(); ++k)
        for (const Quality q : kQualities) {
            const auto& [rgba, tolerance] = cases[k];
            const Bytes back = decode(encode(rgba, 4, 4, q), 4, 4);
            for (int i = 0; i < 64; ++i)  // a transparent texel's colour is free
                ASSERT_LE(std::abs(back[i] - rgba[i]), i % 4 == 3 ? 0 : rgba[i | 3] ? tolerance : 255)
                    << "case " << k << " quality " << int(q) << " byte " << i;
        }
}

TEST(Cmpr, RefusesBuffersOfTheWrongSize) {
    Bytes rgba(13 * 7 * 4), level(levelBytes(Format::CMPR, 13, 7));
    Bytes shortLevel(level.size() - 1), shortRgba(rgba.size() - 4);
    EXPECT_THROW(cmpr::encodeLevel(rgba, 13, 7, Quality::Fast, 1, shortLevel), std::invalid_argument);
    EXPECT_THROW(cmpr::encodeLevel(shortRgba, 13, 7, Quality::Fast, 1, level), std::invalid_argument);
    EXPECT_THROW(cmpr::decodeLevel(shortLevel, 13, 7, rgba), std::invalid_argument);
    EXPECT_THROW(cmpr::decodeLevel(level, 13, 7, shortRgba), std::invalid_argument);
}

// Partial blocks keep their shape, and the padding texels, which the encoder never
// sees, must not pull the fit: every sub-block holds two 565 colours inside the
// picture, so any pull shows as a texel that is not exact.
TEST(Cmpr, PartialBlocksFitOnlyTheirRealTexels) {
    for (const auto& [w, h] : {std::pair(1u, 1u), {3u, 5u}, {13u, 7u}, {9u, 9u}, {20u, 12u}, {4u, 17u}}) {
        const Bytes rgba = picture(w, h, [](std::uint32_t x, std::uint32_t y) {
            return texel::decodeRgb565((x * 3 + y) % 4 == 0 ? 0xC3F0 : 0x1CE7);
        });
        for (const Quality q : kQualities)
            EXPECT_EQ(decode(encode(rgba, w, h, q), w, h), rgba) << w << "x" << h << " quality " << int(q);
    }
}

// Alpha below half turns transparent and the rest opaque, on scattered texels, a
// whole sub-block and either side of the threshold; and the bytes do not depend on
// the thread count.
TEST(Cmpr, OneBitAlphaAndTheSameBytesOnAnyThreadCount) {
    const std::uint32_t w = 67, h = 45;
    Bytes rgba = synthetic(w, h);
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i)
        if (i % 11 == 0) rgba[4 * i + 3] = static_cast<std::uint8_t>(i * 37 % 256);
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 4; x < 8; ++x) rgba[(y * w + x) * 4 + 3] = 0;
    rgba[3] = 127, rgba[7] = 128;
    for (const Quality q : kQualities) {
        const Bytes one = encode(rgba, w, h, q), back = decode(one, w, h);
        for (std::size_t i = 3; i < back.size(); i += 4)
            ASSERT_EQ(int(back[i]), rgba[i] < 128 ? 0 : 255) << "texel " << i / 4 << " quality " << int(q);
        for (const unsigned threads : {2u, 3u, 8u, 0u})
            EXPECT_EQ(encode(rgba, w, h, q, threads), one) << "quality " << int(q) << ", " << threads << " threads";
    }
}

// Floors a little under what each level reaches today, so a weaker fit fails; and
// each level at least as good as the one below, which Normal guarantees over Fast
// sub-block by sub-block (it continues Fast's own polish).
TEST(Cmpr, QualityFloorsOnASyntheticPicture) {
    const std::uint32_t w = 96, h = 64;
    const Bytes rgba = synthetic(w, h);
    const double floors[] = {42.10, 42.28, 43.10};  // measured 42.15, 42.33, 43.13
    double previous = 0;
    for (int q = 0; q < 3; ++q) {
        const double psnr = cmpr::rgbPsnr(rgba, decode(encode(rgba, w, h, kQualities[q]), w, h));
        EXPECT_GE(psnr, floors[q]) << "quality " << q;
        EXPECT_GE(psnr, previous) << "quality " << q;
        previous = psnr;
    }
}

// Best's exhaustive search against brute force over every pair of words built from
// a few allowed fields per channel, scored through the decoder alone: the palette
// of each pair is read back from a decoded sub-block, and a transparent texel needs
// an entry of alpha 0.
struct SearchCase {
    const char* name;
    int base[3];
    int step[3];     // per texel index, a gradient
    int jitter;      // ± uniform noise
    std::uint16_t transparent;  // bit i: texel i has alpha 0
};

int bruteForce(const Bytes& texels, const std::array<std::uint64_t, 3>& fields) {
    std::vector<std::uint16_t> words;
    for (int r = 0; r < 32; ++r)
        for (int g = 0; g < 64; ++g)
            for (int b = 0; b < 32; ++b)
                if ((fields[0] >> r & 1) && (fields[1] >> g & 1) && (fields[2] >> b & 1))
                    words.push_back(static_cast<std::uint16_t>(r << 11 | g << 5 | b));
    int best = INT_MAX;
    for (std::uint16_t w0 : words)
        for (std::uint16_t w1 : words) {
            Bytes level(32, 0);
            level[0] = w0 >> 8, level[1] = w0 & 0xFF, level[2] = w1 >> 8, level[3] = w1 & 0xFF;
            level[4] = 0x1B;  // indices 0, 1, 2, 3 along the first row
            const Bytes palette = decode(level, 4, 1);
            int error = 0;
            for (int i = 0; i < 16 && error < best; ++i) {
                const std::uint8_t* t = &texels[4 * i];
                int least = INT_MAX;
                for (int k = 0; k < 4; ++k) {
                    const std::uint8_t* p = &palette[4 * k];
                    if ((t[3] < 128) != (p[3] == 0)) continue;
                    int d = 0;
                    for (int ch = 0; ch < 3 && t[3] >= 128; ++ch) d += (t[ch] - p[ch]) * (t[ch] - p[ch]);
                    least = std::min(least, d);
                }
                error = least == INT_MAX ? INT_MAX : error + least;
            }
            best = std::min(best, error);
        }
    return best;
}

TEST(Cmpr, ExhaustiveSearchFindsTheLeastErrorOfAnyAllowedPair) {
    const SearchCase cases[] = {
        {"flat", {100, 150, 200}, {0, 0, 0}, 0, 0},
        {"gradient", {20, 60, 200}, {9, 5, -7}, 0, 0},
        {"noisy gradient", {60, 30, 90}, {4, 8, 2}, 12, 0},
        {"noise", {128, 128, 128}, {0, 0, 0}, 30, 0},
        {"green only", {70, 10, 240}, {0, 11, 0}, 3, 0},
        {"gradient with holes", {200, 100, 30}, {-6, 3, 8}, 4, 0x8421},
        {"one opaque texel", {33, 66, 99}, {1, 2, 3}, 0, 0xFFFE},
        // Red 0, 128 and then 255: only three colours' midpoint comes near 128.
        {"midtone", {0, 90, 40}, {128, 0, 0}, 0, 0},
    };
    std::mt19937 random(7);
    for (const SearchCase& c : cases)
        for (int trial = 0; trial < 3; ++trial) {
            Bytes texels(64);
            int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
            for (int i = 0; i < 16; ++i) {
                const bool clear = c.transparent >> i & 1;
                texels[4 * i + 3] = clear ? 0 : 255;
                for (int ch = 0; ch < 3; ++ch) {
                    const int noise = c.jitter ? int(random() % (2 * c.jitter + 1)) - c.jitter : 0;
                    const int v = std::clamp(c.base[ch] + c.step[ch] * i + noise, 0, 255);
                    texels[4 * i + ch] = static_cast<std::uint8_t>(v);
                    if (!clear) lo[ch] = std::min(lo[ch], v), hi[ch] = std::max(hi[ch], v);
                }
            }
            // Five fields a channel: those nearest the texels' extremes, and others
            // from a little beyond; about 15 000 word pairs for the brute force.
            std::array<std::uint64_t, 3> fields{};
            for (int ch = 0; ch < 3; ++ch) {
                const int top = ch == 1 ? 63 : 31;
                for (int end : {lo[ch], hi[ch]}) fields[ch] |= std::uint64_t{1} << ((end * top + 127) / 255);
                const int from = std::max(0, lo[ch] * top / 255 - 2), to = std::min(top, hi[ch] * top / 255 + 2);
                while (std::popcount(fields[ch]) < std::min(5, to - from + 1))
                    fields[ch] |= std::uint64_t{1} << (from + int(random() % unsigned(to - from + 1)));
            }
            const int expected = bruteForce(texels, fields);
            ASSERT_LT(expected, 10922) << c.name << ": the case must stay within the search's range";
            Bytes level(8);
            EXPECT_EQ(cmpr::searchSubBlock(texels, fields, level), expected) << c.name << " trial " << trial;
            // The bytes show what was claimed, transparent texels included.
            level.resize(32);
            const Bytes back = decode(level, 4, 4);
            int error = 0;
            for (int i = 0; i < 64; ++i) {
                if (i % 4 == 3) EXPECT_EQ(back[i] == 0, texels[i] == 0) << c.name << " alpha of texel " << i / 4;
                else if (texels[i | 3] != 0) error += (back[i] - texels[i]) * (back[i] - texels[i]);
            }
            EXPECT_EQ(error, expected) << c.name << " trial " << trial;
        }
}

TEST(Cmpr, PsnrOverColourOnly) {
    const Bytes a = {10, 20, 30, 255, 0, 0, 0, 0};
    Bytes b = a;
    EXPECT_TRUE(std::isinf(cmpr::rgbPsnr(a, b)));
    b[7] = 255;  // alpha does not count
    EXPECT_TRUE(std::isinf(cmpr::rgbPsnr(a, b)));
    b[0] = 13;  // MSE 9 / 6 over the six colour samples
    EXPECT_NEAR(cmpr::rgbPsnr(a, b), 10 * std::log10(255.0 * 255.0 / 1.5), 1e-9);
}

}  // namespace
