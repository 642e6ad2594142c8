// Palette choice: the exact path, canonical order, grey and alpha handling, where
// dithering may act, quality floors that a weaker clustering would miss, and mapping
// a smaller mipmap level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>

#include "codec/gx/quantize.h"
#include "codec/gx/texel.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;
using palette::Quality;
using texel::Rgba;
constexpr auto IA8 = PaletteFormat::IA8, RGB565 = PaletteFormat::RGB565, RGB5A3 = PaletteFormat::RGB5A3;

Image make(std::uint32_t w, std::uint32_t h, const std::function<Rgba(std::uint32_t, std::uint32_t)>& at) {
    Image picture(w, h);
    for (std::uint32_t i = 0; i < w * h; ++i) {
        const Rgba c = at(i % w, i / w);
        std::copy_n(std::array{c.r, c.g, c.b, c.a}.begin(), 4, &picture.rgba[4 * i]);
    }
    return picture;
}

Rgba pixel(const Image& p, std::size_t i) {
    return {p.rgba[4 * i], p.rgba[4 * i + 1], p.rgba[4 * i + 2], p.rgba[4 * i + 3]};
}

// Smooth colour waves, like a blurred photo, within lo..hi on every channel.
Rgba wave(std::uint32_t x, std::uint32_t y, double lo = 0, double hi = 255) {
    const auto at = [&](double t) { return static_cast<std::uint8_t>(lo + (hi - lo) * (0.5 + 0.5 * std::sin(t))); };
    return {at(x * 0.11 + y * 0.05), at(y * 0.13 - x * 0.03 + 1), at((x + y) * 0.07 + 2), 255};
}
Image waves(std::uint32_t w, std::uint32_t h) { return make(w, h, [](auto x, auto y) { return wave(x, y); }); }

// Random colours (noise when `distinct` is 0), or that many whose words all differ, each
// twice with the second row reversed.
Image randomColours(PaletteFormat format, std::uint32_t w, std::uint32_t distinct = 0) {
    std::mt19937 rng(42);
    std::set<std::uint16_t> seen;
    std::vector<Rgba> colours;
    while (colours.size() < (distinct ? distinct : w * w)) {
        const std::uint32_t v = rng();
        const auto alpha = std::uint8_t(distinct ? v >> 24 : 255);
        const Rgba c{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), alpha};
        if (!distinct || seen.insert(texel::encodeEntry(format, c)).second) colours.push_back(c);
    }
    if (!distinct) return make(w, w, [&](auto x, auto y) { return colours[y * w + x]; });
    return make(distinct, 2, [&](auto x, auto y) { return colours[y == 0 ? x : distinct - 1 - x]; });
}

struct Result {
    palette::Palette palette;
    std::vector<std::uint16_t> indices;
    std::uint16_t word(std::size_t i) const { return palette.entries[indices[i]]; }
    Rgba shown(std::size_t i) const { return texel::decodeEntry(palette.format, word(i)); }
};

Result run(const Image& picture, const palette::Options& options) {
    Result r{{}, std::vector<std::uint16_t>(std::size_t{picture.width} * picture.height)};
    r.palette = palette::quantize(picture, options, r.indices);
    return r;
}

// Ascending (so no word twice), every entry used, within the limit.
void expectCanonical(const Result& r, std::size_t maxEntries) {
    const auto& e = r.palette.entries;
    EXPECT_LE(e.size(), maxEntries);
    EXPECT_EQ(std::adjacent_find(e.begin(), e.end(), std::greater_equal<>()), e.end());
    std::vector<bool> used(e.size());
    for (const std::uint16_t i : r.indices) used.at(i) = true;
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
}

// Over R, G, B; with 4 channels the colour is premultiplied and alpha counts too, so
// that colour nobody sees is no error.
double squaredError(Rgba a, Rgba b, int channels = 3) {
    const double ka = channels == 4 ? a.a / 255.0 : 1, kb = channels == 4 ? b.a / 255.0 : 1;
    const double d[4] = {a.r * ka - b.r * kb, a.g * ka - b.g * kb, a.b * ka - b.b * kb, double(a.a) - b.a};
    return std::inner_product(d, d + channels, d, 0.0);
}

double psnr(const Image& picture, const Result& r, int channels = 3) {
    double sum = 0;
    for (std::size_t i = 0; i < r.indices.size(); ++i) sum += squaredError(pixel(picture, i), r.shown(i), channels);
    return 10 * std::log10(255.0 * 255.0 * channels * static_cast<double>(r.indices.size()) / sum);
}

TEST(Quantize, KeepsEveryWordThatFitsAndMergesOnePairForOneTooMany) {
    struct Row { PaletteFormat format; std::size_t maxEntries; std::uint32_t colours; bool dither; };
    const Row rows[] = {{RGB5A3, 256, 256, true}, {RGB565, 16, 16, true},  {IA8, 256, 256, false},
                        {RGB5A3, 16384, 9000, false}, {RGB5A3, 256, 257, true}, {RGB565, 16, 17, false}};
    for (const Row& row : rows) {
        const Image picture = randomColours(row.format, 0, row.colours);
        const Result r = run(picture, {row.format, row.maxEntries, row.dither, Quality::Normal});
        expectCanonical(r, row.maxEntries);
        EXPECT_EQ(r.palette.entries.size(), std::min<std::size_t>(row.colours, row.maxEntries));
        std::size_t moved = 0;
        for (std::size_t i = 0; i < r.indices.size(); ++i)
            moved += r.word(i) != texel::encodeEntry(row.format, pixel(picture, i));
        EXPECT_LE(moved, row.colours <= row.maxEntries ? 0u : 4u) << row.colours;  // or one merged pair
    }
}

TEST(Quantize, SameFileWhateverThePixelOrderRunOrRoundTrip) {
    const Image picture = waves(48, 40);
    std::vector<std::size_t> order(std::size_t{48} * 40);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    const Image shuffled = make(48, 40, [&](auto x, auto y) { return pixel(picture, order[y * 48 + x]); });
    for (const PaletteFormat format : {RGB565, RGB5A3}) {
        for (const std::size_t maxEntries : {16, 256}) {
            for (const bool dither : {false, true}) {
                const palette::Options options{format, maxEntries, dither, Quality::Normal};
                const Result r = run(picture, options), again = run(picture, options);
                expectCanonical(r, maxEntries);
                EXPECT_EQ(again.palette.entries, r.palette.entries);
                EXPECT_EQ(again.indices, r.indices);
                if (!dither) {
                    const Result s = run(shuffled, options);
                    EXPECT_EQ(s.palette.entries, r.palette.entries);
                    for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(s.indices[i], r.indices[order[i]]);
                }
                // Decoding and encoding again must give the same file.
                const Result back = run(make(48, 40, [&](auto x, auto y) { return r.shown(y * 48 + x); }), options);
                EXPECT_EQ(back.palette.entries, r.palette.entries);
                EXPECT_EQ(back.indices, r.indices);
            }
        }
    }
}

TEST(Quantize, Ia8KeepsIntensityAndAlphaOnly) {
    // Thousands of hues but at most 256 intensities: an exact fit once hue is dropped.
    const auto byte = [](auto v) { return static_cast<std::uint8_t>(v); };
    const Image hues = make(64, 64, [&](auto x, auto y) { return Rgba{byte(x * 4), byte(y * 4), byte(x * y), 255}; });
    const Result exact = run(hues, {IA8, 256, false, Quality::Normal});
    for (std::size_t i = 0; i < 64 * 64; ++i) ASSERT_EQ(exact.word(i), texel::encodeIa8(pixel(hues, i)));
    // Intensity across, alpha down: 4096 words into 16 entries needs both axes.
    const Image plane = make(64, 64, [&](auto x, auto y) {
        return Rgba{byte(x * 4), byte(x * 4), byte(x * 4), byte(y * 4)};
    });
    const Result r = run(plane, {IA8, 16, false, Quality::Normal});
    expectCanonical(r, 16);
    EXPECT_GE(psnr(plane, r, 4), 26.4);
}

TEST(Quantize, TransparentAndOpaqueOfOneColourStayApart) {
    const Rgba red{200, 30, 30, 255}, clear{200, 30, 30, 0};
    const Image picture = make(64, 64, [&](auto x, auto y) { return x < 48 ? wave(x, y) : y < 32 ? red : clear; });
    for (const std::size_t maxEntries : {16, 256}) {
        const Result r = run(picture, {RGB5A3, maxEntries, false, Quality::Normal});
        EXPECT_EQ(r.shown(63 * 64 + 60).a, 0) << maxEntries;
        EXPECT_EQ(r.shown(60).a, 255) << maxEntries;
        EXPECT_LE(squaredError(r.shown(60), red), 3 * 16 * 16) << maxEntries;
    }
}

// What the eye sees from afar: the error of 5 × 5 averages over columns x0..x1.
double blurredError(const Image& picture, const Result& result, std::uint32_t x0, std::uint32_t x1) {
    double sum = 0;
    for (std::uint32_t y = 2; y + 2 < picture.height; ++y) {
        for (std::uint32_t x = x0 + 2; x + 2 < x1; ++x) {
            std::array<double, 3> d{};
            for (std::uint32_t k = 0; k < 25; ++k) {
                const std::size_t at = (y + k / 5 - 2) * picture.width + x + k % 5 - 2;
                const Rgba o = pixel(picture, at), s = result.shown(at);
                d[0] += s.r - o.r, d[1] += s.g - o.g, d[2] += s.b - o.b;
            }
            sum += std::abs(d[0]) + std::abs(d[1]) + std::abs(d[2]);
        }
    }
    return sum;
}

TEST(Quantize, DitheringChangesOnlyPixelsThatDoNotFit) {
    // Left half: the cube's corners, flat and heavy enough to own entries, so every
    // colour on the right lies inside the palette's hull; right half: mid-range waves.
    const Image picture = make(64, 64, [&](auto x, auto y) {
        const auto corner = [&](unsigned bit) { return std::uint8_t((y / 8) >> bit & 1 ? 255 : 0); };
        return x < 32 ? Rgba{corner(0), corner(1), corner(2), 255} : wave(x, y, 64, 192);
    });
    for (const PaletteFormat format : {RGB565, RGB5A3}) {
        const Result plain = run(picture, {format, 16, false, Quality::Normal});
        const Result dithered = run(picture, {format, 16, true, Quality::Normal});
        std::size_t kept = 0;
        for (std::size_t i = 0; i < dithered.indices.size(); ++i) {
            const std::uint16_t own = texel::encodeEntry(format, pixel(picture, i));
            if (!std::binary_search(dithered.palette.entries.begin(), dithered.palette.entries.end(), own)) continue;
            ++kept;
            ASSERT_EQ(dithered.word(i), own) << i;
            ASSERT_EQ(plain.word(i), own) << i;
        }
        EXPECT_GE(kept, std::size_t{32} * 64);
        // Where colours do not fit, dithering is there to keep the local average.
        EXPECT_LT(blurredError(picture, dithered, 32, 64), 0.65 * blurredError(picture, plain, 32, 64));
    }
}

TEST(Quantize, QualityFloors) {
    // On the waves median cut alone gives 18.29 and 28.69 dB, and on the noise 38.96 dB
    // with 45 entries lost to colliding words: the k-means passes must keep their gain.
    const Image smooth = waves(64, 64), noise = randomColours(RGB5A3, 256);
    struct Row { const Image& picture; PaletteFormat format; std::size_t maxEntries; Quality quality; double floor; };
    const Row rows[] = {
        {smooth, RGB565, 16, Quality::Fast, 18.45},  {smooth, RGB565, 16, Quality::Normal, 18.55},
        {smooth, RGB565, 16, Quality::Best, 18.58},  {smooth, RGB5A3, 16, Quality::Normal, 18.55},
        {smooth, RGB565, 256, Quality::Fast, 28.75}, {smooth, RGB565, 256, Quality::Normal, 28.8},
        {smooth, RGB565, 256, Quality::Best, 28.81}, {smooth, RGB5A3, 256, Quality::Normal, 28.79},
        {noise, RGB5A3, 16384, Quality::Normal, 38.98},
    };
    for (const Row& row : rows) {
        const Result r = run(row.picture, {row.format, row.maxEntries, false, row.quality});
        expectCanonical(r, row.maxEntries);
        EXPECT_GE(psnr(row.picture, r), row.floor) << row.maxEntries << " entries, quality " << int(row.quality);
        EXPECT_TRUE(&row.picture != &noise || r.palette.entries.size() >= 16350u) << r.palette.entries.size();
    }
}

TEST(Quantize, MapsAHalfSizeLevelOntoThePalette) {
    const Image full = waves(64, 64), half = halveImage(full);
    for (const std::size_t maxEntries : {16, 256}) {
        for (const bool dither : {false, true}) {
            const Result r = run(full, {RGB565, maxEntries, dither, Quality::Normal});
            Result level{r.palette, std::vector<std::uint16_t>(32 * 32)};
            palette::mapToPalette(half, r.palette, dither, level.indices);
            for (const std::uint16_t i : level.indices) ASSERT_LT(i, r.palette.entries.size());
            EXPECT_GE(psnr(half, level), psnr(full, r) - 1.5) << maxEntries << " " << dither;
        }
    }
    // A level made of the palette's own colours maps onto exactly those entries.
    const Result r = run(full, {RGB5A3, 256, false, Quality::Normal});
    const auto n = static_cast<std::uint32_t>(r.palette.entries.size());
    std::vector<std::uint16_t> indices(n), want(n);
    std::iota(want.begin(), want.end(), 0);
    const Image own = make(n, 1, [&](auto x, auto) { return texel::decodeRgb5a3(r.palette.entries[x]); });
    palette::mapToPalette(own, r.palette, true, indices);
    EXPECT_EQ(indices, want);
}

TEST(Quantize, RejectsWhatCannotBeDone) {
    const Image picture = waves(4, 4);
    std::vector<std::uint16_t> few(15), enough(16);
    EXPECT_THROW(palette::quantize(picture, {}, few), std::invalid_argument);
    EXPECT_THROW(palette::quantize(picture, {RGB5A3, 0}, enough), std::invalid_argument);
    EXPECT_THROW(palette::quantize(picture, {RGB5A3, 16385}, enough), std::invalid_argument);
    EXPECT_THROW(palette::mapToPalette(picture, {RGB5A3, {}}, false, enough), std::invalid_argument);
    EXPECT_THROW(palette::mapToPalette(picture, {RGB5A3, {0x8000}}, false, few), std::invalid_argument);
    EXPECT_TRUE(palette::quantize(Image(0, 0), {}, {}).entries.empty());
}

}  // namespace
