// Texel words of the GX formats against the worked examples of the format notes,
// the window's truncating encoder against its table, the round trip every
// lossless format promises (reduce(widen(f)) == f), and the encoders' choices:
// intensity, RGB5A3's form, IA4's two fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "window_rules/window_rules.h"
#include "codec/gx/texel.h"

namespace tplforge {
namespace {

using namespace texel;

TEST(Texel, WideningTable) {
    const std::tuple<std::uint8_t (*)(std::uint32_t), int, std::uint32_t, std::uint8_t> rows[] = {
        {widen3, 3, 1, 36}, {widen3, 3, 3, 109}, {widen3, 3, 7, 255}, {widen4, 4, 9, 153}, {widen5, 5, 1, 8},
        {widen5, 5, 3, 24}, {widen5, 5, 16, 132}, {widen5, 5, 31, 255}, {widen6, 6, 1, 4}, {widen6, 6, 39, 158},
        {widen6, 6, 63, 255}};
    for (const auto& [widen, bits, field, value] : rows) EXPECT_EQ(widen(field), value) << bits << "-bit " << field;
}

TEST(Texel, WordExamples) {
    struct Row { const char* what; Rgba got; Rgba want; };
    const Row rows[] = {
        {"IA8 40C8", decodeIa8(0x40C8), {200, 200, 200, 64}},
        {"RGB565 1CE7", decodeRgb565(0x1CE7), {24, 158, 57, 255}},
        {"RGB5A3 FC00", decodeRgb5a3(0xFC00), {255, 0, 0, 255}},
        {"RGB5A3 3A5F", decodeRgb5a3(0x3A5F), {170, 85, 255, 109}},
        {"IA8 entry 80FF", decodeEntry(PaletteFormat::IA8, 0x80FF), {255, 255, 255, 128}},
        {"RGB5A3 entry 2F0F", decodeEntry(PaletteFormat::RGB5A3, 0x2F0F), {255, 0, 255, 73}},
    };
    for (const Row& r : rows) EXPECT_EQ(r.got, r.want) << r.what;
}

// RGB5A3 words of alpha 7 show opaque texels with 4-bit colour; where every
// channel is 0 or 15 the opaque form shows the same texel, and the encoder takes
// that one: those eight words alone come back as another word, showing the same.
// The window's encoder takes a word with bit 15 clear against its own decoded
// colour, one with it set against a colour no word decodes to (no channel decodes to 1).
TEST(Texel, EveryWordSurvivesDecodeThenEncode) {
    std::vector<std::uint16_t> moved;
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        ASSERT_EQ(encodeRgb565(decodeRgb565(word)), word);
        ASSERT_EQ(encodeIa8(decodeIa8(word)), word);
        const std::uint16_t again = encodeRgb5a3(decodeRgb5a3(word));
        ASSERT_EQ(decodeRgb5a3(again), decodeRgb5a3(word)) << std::hex << w;
        if (again != word) moved.push_back(word);
        const ColourValue c = window_rules::decodeRgb5a3(word);
        ASSERT_EQ(window_rules::encodeRgb565(window_rules::decodeRgb565(word)), word);
        ASSERT_EQ(window_rules::encodeRgb5a3(c, window_rules::isAlphaTexel(word) ? c : rgb(1, 1, 1)), word) << std::hex << w;
    }
    EXPECT_EQ(moved, (std::vector<std::uint16_t>{0x7000, 0x700F, 0x70F0, 0x70FF, 0x7F00, 0x7F0F, 0x7FF0, 0x7FFF}));
    for (std::uint32_t v = 0; v < 256; ++v) {
        const auto grey = static_cast<std::uint8_t>(v);
        ASSERT_EQ(intensity(grey, grey, grey), grey);
        ASSERT_EQ(encodeIa4(decodeIa4(grey)), grey) << v;
    }
}

TEST(WindowTexel, EncoderTable) {
    // Red, green, blue; RGB565; RGB5A3 against an alpha colour one off in each channel (for
    // black it reduces to the same fields, and the pixel must still come out opaque); RGB5A3 keyed.
    const std::uint16_t rows[][6] = {
        {255, 255, 255, 0xFFFF, 0xFFFF, 0x7FFF}, {254, 254, 254, 0xF7DE, 0xFBDE, 0x7BDE},
        {0, 0, 0, 0x0000, 0x8000, 0x0000},       {8, 8, 8, 0x0020, 0x8000, 0x0000},
        {128, 128, 128, 0x7BEF, 0xBDEF, 0x3DEF}, {255, 0, 0, 0xF800, 0xFC00, 0x7C00},
        {0, 255, 0, 0x07E0, 0x83E0, 0x03E0},     {0, 0, 255, 0x001F, 0x801F, 0x001F},
        {200, 100, 50, 0xC306, 0xE186, 0x6186},
    };
    for (const auto& [r, g, b, rgb565, opaque, keyed] : rows) {
        const ColourValue c = rgb(r, g, b);
        EXPECT_EQ(std::tuple(window_rules::encodeRgb565(c), window_rules::encodeRgb5a3(c, c ^ 0x010101), window_rules::encodeRgb5a3(c, c)),
                  std::tuple(rgb565, opaque, keyed)) << r << "," << g << "," << b;
    }
}

// The form whose texel lies nearer the pixel over RGBA, the opaque one on a tie.
TEST(Texel, Rgb5a3TakesTheNearerForm) {
    const std::pair<Rgba, std::uint16_t> rows[] = {
        {{17, 34, 51, 255}, 0x7123},     // only 4-bit colour holds it
        {{136, 136, 136, 240}, 0x7888},  // alpha 7 and opaque show the same alpha
        {{16, 32, 48, 255}, 0x8886},     // 5-bit colour is nearer
        {{255, 255, 255, 255}, 0xFFFF},  // both forms hold it
        {{255, 0, 0, 237}, 0xFC00},      // alpha 219 and 255 are both 18 off: a tie
        {{255, 0, 0, 236}, 0x6F00},      // nearer alpha 6
        {{8, 8, 8, 236}, 0x8421},        // nearer alpha 6, but 4-bit colour loses more
        {{250, 5, 130, 250}, 0xF830},    {{100, 50, 200, 128}, 0x463C},
        {{0, 0, 0, 0}, 0x0000},          {{90, 200, 10, 0}, 0x05C1},  // transparent colour kept
    };
    for (const auto& [pixel, word] : rows)
        EXPECT_EQ(encodeRgb5a3(pixel), word) << +pixel.r << "," << +pixel.g << "," << +pixel.b << "," << +pixel.a;
}

// 0.299 R + 0.587 G + 0.114 B rounded, halves up; 256ths were off by one on these.
TEST(Texel, IntensityRoundsTheRec601Sum) {
    const std::pair<Rgba, std::uint8_t> rows[] = {
        {{255, 0, 0}, 76},    // 76.245
        {{0, 255, 0}, 150},   // 149.685
        {{0, 55, 161}, 51},   // 50.639
        {{0, 12, 4}, 8},      // 7.5
        {{0, 0, 255}, 29},    // 29.07
        {{255, 255, 0}, 226}, // 225.93
    };
    for (const auto& [c, i] : rows) EXPECT_EQ(intensity(c), i) << +c.r << "," << +c.g << "," << +c.b;
}

// IA4 against every one of its 256 texels, premultiplied grey three times and
// alpha, for every grey and alpha; and where the joint choice moves off the
// nearest fields.
TEST(Texel, Ia4ChoosesBothFieldsForWhatShows) {
    const auto error = [](std::uint32_t g, std::uint32_t a, std::uint32_t texel) {
        const double i = (texel & 15) * 17.0, alpha = (texel >> 4) * 17.0;
        const double shown = (i * alpha - double(g) * a) / 255, d = alpha - a;
        return 3 * shown * shown + d * d;
    };
    for (std::uint32_t a = 0; a < 256; ++a)
        for (std::uint32_t g = 0; g < 256; ++g) {
            const std::uint8_t got = encodeIa4(g, a);
            double least = 1e300;
            for (std::uint32_t t = 0; t < 256; ++t) least = std::min(least, error(g, a, t));
            ASSERT_LE(error(g, a, got), least + 1e-9) << "grey " << g << " alpha " << a;
        }
    const std::tuple<std::uint32_t, std::uint32_t, std::uint8_t> rows[] = {
        {255, 25, 0x2B},  // alpha 34 shows 255 · 25 best with intensity 187
        {255, 255, 0xFF}, {200, 0, 0x0C},  // nothing shows: the nearest intensity
        {128, 128, 0x87}, {40, 10, 0x11},  // the nearest fields: 0x88, 0x12
    };
    for (const auto& [g, a, texel] : rows) EXPECT_EQ(encodeIa4(g, a), texel) << g << " " << a;
}

}  // namespace
}  // namespace tplforge
