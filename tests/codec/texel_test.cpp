// Texel words of the GX formats against the worked examples of the format notes,
// the window's truncating encoder against its table, and the round trip every
// lossless format promises: reduce(widen(f)) == f.
#include <gtest/gtest.h>

#include "tplforge/window_rules.h"
#include "texel.h"

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

// In RGB5A3 alpha 7 with 4-bit colour reads as opaque, and the GX encoder writes
// that opaque. The window's encoder takes a word with bit 15 clear against its own
// decoded colour, one with it set against a colour no word decodes to (no channel
// decodes to 1).
TEST(Texel, EveryWordSurvivesDecodeThenEncode) {
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        ASSERT_EQ(encodeRgb565(decodeRgb565(word)), word);
        ASSERT_EQ(encodeIa8(decodeIa8(word)), word);
        ASSERT_TRUE((word & 0xF000) == 0x7000 || encodeRgb5a3(decodeRgb5a3(word)) == word) << std::hex << w;
        const ColourValue c = window_rules::decodeRgb5a3(word);
        ASSERT_EQ(window_rules::encodeRgb565(window_rules::decodeRgb565(word)), word);
        ASSERT_EQ(window_rules::encodeRgb5a3(c, window_rules::isAlphaTexel(word) ? c : rgb(1, 1, 1)), word) << std::hex << w;
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

TEST(Texel, Rgb5a3TakesTheOpaqueFormWhereAlphaRoundsToFull) {
    EXPECT_EQ(encodeRgb5a3({255, 0, 0, 237}), 0xFC00);
    EXPECT_EQ(encodeRgb5a3({255, 0, 0, 236}) >> 12, 6);
    EXPECT_EQ(encodeRgb5a3({0, 0, 0, 0}), 0x0000);
}

}  // namespace
}  // namespace tplforge
