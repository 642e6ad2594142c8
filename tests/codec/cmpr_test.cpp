// CMPR against the worked examples and the console-decoded fixture, and the
// encoder's promises: exact where 565 allows, 1-bit alpha, partial blocks, the same
// bytes on any thread count, and a quality floor per level.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cmpr.h"
#include "texel.h"
#include "tplforge/format.h"

namespace {

using namespace tplforge;
using cmpr::Quality;
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

// A smooth colour field with a hard diagonal edge and a band of fine stripes, so
// that flat, gradient and busy sub-blocks all count.
Bytes synthetic(std::uint32_t w, std::uint32_t h) {
    Bytes rgba(std::size_t{w} * h * 4);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* p = &rgba[(std::size_t{y} * w + x) * 4];
            const double u = double(x) / w, v = double(y) / h;
            double r = 40 + 180 * u, g = 200 - 120 * v + 30 * std::sin(7 * u + 3 * v), b = 90 + 100 * u * v;
            if (x + y > w) r = 250 - r / 2, b = 255 - b;
            if (y > h / 2 && y < h / 2 + 6) g += (x % 3) * 25;
            p[0] = static_cast<std::uint8_t>(std::clamp(r, 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(g, 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(std::clamp(b, 0.0, 255.0));
            p[3] = 255;
        }
    return rgba;
}

TEST(Cmpr, DecodesTheWorkedSubBlocksInEachPosition) {
    struct Row {
        std::array<std::uint8_t, 8> sub;
        std::array<std::array<std::uint8_t, 4>, 4> row;  // the four texels of every row
    };
    const Row rows[] = {
        {{0xF8, 0x00, 0x00, 0x1F, 0x1B, 0x1B, 0x1B, 0x1B},
         {{{255, 0, 0, 255}, {0, 0, 255, 255}, {159, 0, 95, 255}, {95, 0, 159, 255}}}},
        {{0x00, 0x1F, 0xF8, 0x00, 0x1B, 0x1B, 0x1B, 0x1B},
         {{{0, 0, 255, 255}, {255, 0, 0, 255}, {127, 0, 127, 255}, {127, 0, 127, 0}}}},
    };
    for (const Row& r : rows)
        for (int s = 0; s < 4; ++s) {
            Bytes level(32, 0);
            std::copy(r.sub.begin(), r.sub.end(), level.begin() + 8 * s);
            const Bytes rgba = decode(level, 8, 8);
            const std::uint32_t x0 = (s & 1) * 4, y0 = (s >> 1) * 4;
            for (std::uint32_t y = 0; y < 4; ++y)
                for (std::uint32_t x = 0; x < 4; ++x) {
                    const std::uint8_t* p = &rgba[((y0 + y) * 8 + x0 + x) * 4];
                    EXPECT_EQ(Bytes(p, p + 4), Bytes(r.row[x].begin(), r.row[x].end()))
                        << "sub-block " << s << " texel " << x << "," << y << " of " << int(r.sub[0]);
                }
        }
}

TEST(Cmpr, SubBlocksOfOneOrTwo565ColoursComeBackExact) {
    using texel::Rgba;
    const Rgba colours[] = {texel::decodeRgb565(0x0000), texel::decodeRgb565(0xFFFF), texel::decodeRgb565(0x1CE7),
                            texel::decodeRgb565(0xF800), texel::decodeRgb565(0x07E0), texel::decodeRgb565(0x8410),
                            texel::decodeRgb565(0x8411)};
    // Masks of which texels take the second colour; 0 is a flat sub-block.
    const std::uint16_t patterns[] = {0x0000, 0x0001, 0x00FF, 0x5A5A, 0x7FFF};
    for (const Rgba& a : colours)
        for (const Rgba& b : colours)
            for (std::uint16_t mask : patterns) {
                Bytes rgba(16 * 4);
                for (int i = 0; i < 16; ++i) {
                    const Rgba c = (mask >> i & 1) ? b : a;
                    rgba[4 * i] = c.r, rgba[4 * i + 1] = c.g, rgba[4 * i + 2] = c.b, rgba[4 * i + 3] = 255;
                }
                for (Quality q : kQualities)
                    ASSERT_EQ(decode(encode(rgba, 4, 4, q), 4, 4), rgba)
                        << "quality " << int(q) << " mask " << mask << " colours " << int(a.r) << "," << int(a.g) << ","
                        << int(a.b) << " / " << int(b.r) << "," << int(b.g) << "," << int(b.b);
            }
}

// Flat colours between the 565 steps land on a blend: within 2 with four colours,
// within 3 with three (whose only blend is the coarser average).
TEST(Cmpr, FlatSubBlocksOfAnyColourComeClose) {
    for (int transparent = 0; transparent < 2; ++transparent)
        for (int v = 0; v < 256; ++v) {
            const std::uint8_t colour[3] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v),
                                            static_cast<std::uint8_t>(v * 7 % 256)};
            Bytes rgba(16 * 4);
            for (int i = 0; i < 16; ++i) {
                std::copy(colour, colour + 3, &rgba[4 * i]);
                rgba[4 * i + 3] = (transparent && i == 5) ? 0 : 255;
            }
            const Bytes back = decode(encode(rgba, 4, 4, Quality::Fast), 4, 4);
            for (int i = 0; i < 16; ++i) {
                if (transparent && i == 5) continue;
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_LE(std::abs(int(back[4 * i + ch]) - colour[ch]), transparent ? 3 : 2)
                        << "value " << v << " channel " << ch << (transparent ? " (three colours)" : "");
            }
        }
}

TEST(Cmpr, AlphaBelowHalfBecomesTransparentAndTheRestOpaque) {
    const std::uint32_t w = 12, h = 9;
    Bytes rgba = synthetic(w, h);
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) rgba[4 * i + 3] = static_cast<std::uint8_t>(i * 37 % 256);
    // Whole sub-blocks transparent, and edge values either side of the threshold.
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 4; x < 8; ++x) rgba[(y * w + x) * 4 + 3] = 0;
    rgba[3] = 127, rgba[7] = 128;
    for (Quality q : kQualities) {
        const Bytes back = decode(encode(rgba, w, h, q), w, h);
        for (std::size_t i = 0; i < std::size_t{w} * h; ++i)
            ASSERT_EQ(int(back[4 * i + 3]), rgba[4 * i + 3] < 128 ? 0 : 255) << "texel " << i << " quality " << int(q);
    }
}

// Partial blocks: odd sizes keep their shape, and the padding texels, which the
// encoder never sees, must not pull the fit. Every sub-block here holds two 565
// colours inside the picture, so any pull shows as a texel that is not exact.
TEST(Cmpr, PartialBlocksFitOnlyTheirRealTexels) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {3, 5}, {13, 7}, {9, 9}, {20, 12}, {4, 17}};
    const texel::Rgba a = texel::decodeRgb565(0x1CE7), b = texel::decodeRgb565(0xC3F0);
    for (auto [w, h] : sizes) {
        Bytes rgba(std::size_t{w} * h * 4);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                const texel::Rgba c = (x * 3 + y) % 4 == 0 ? b : a;
                std::uint8_t* p = &rgba[(std::size_t{y} * w + x) * 4];
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
            }
        for (Quality q : kQualities) {
            const Bytes level = encode(rgba, w, h, q);
            ASSERT_EQ(level.size(), levelBytes(Format::CMPR, w, h));
            EXPECT_EQ(decode(level, w, h), rgba) << w << "x" << h << " quality " << int(q);
        }
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

TEST(Cmpr, SameBytesWhateverTheThreadCount) {
    const std::uint32_t w = 67, h = 45;
    Bytes rgba = synthetic(w, h);
    for (std::size_t i = 0; i < std::size_t{w} * h; i += 11) rgba[4 * i + 3] = 0;
    for (Quality q : kQualities) {
        const Bytes one = encode(rgba, w, h, q, 1);
        for (unsigned threads : {1u, 2u, 3u, 8u, 0u})
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
            for (int i = 0; i < 16; ++i)
                for (int ch = 0; ch < 4; ++ch) {
                    if (ch == 3) {
                        texels[4 * i + 3] = (c.transparent >> i & 1) ? 0 : 255;
                        continue;
                    }
                    const int noise = c.jitter ? int(random() % (2 * c.jitter + 1)) - c.jitter : 0;
                    const int v = std::clamp(c.base[ch] + c.step[ch] * i + noise, 0, 255);
                    texels[4 * i + ch] = static_cast<std::uint8_t>(v);
                    if (!(c.transparent >> i & 1)) lo[ch] = std::min(lo[ch], v), hi[ch] = std::max(hi[ch], v);
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
            Bytes sub(8);
            EXPECT_EQ(cmpr::searchSubBlock(texels, fields, sub), expected) << c.name << " trial " << trial;
            // The bytes show what was claimed, transparent texels included.
            Bytes level(32, 0);
            std::copy(sub.begin(), sub.end(), level.begin());
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
