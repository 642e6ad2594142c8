// Texel packing: the encoder's truncating reduction and the identity decode→encode
// on every 16-bit word.
#include "codec/window_texel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <utility>

namespace tplforge {
namespace {

TEST(Texel, EncoderTable) {
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

// For RGB5A3 a word with bit 15 clear is encoded against its own decoded colour,
// one with it set against a colour no word decodes to (no channel decodes to 1).
TEST(Texel, EveryWordSurvivesDecodeThenEncode) {
    int bad565 = 0, bad5a3 = 0;
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        const ColourValue c = window_rules::decodeRgb5a3(word);
        bad565 += window_rules::encodeRgb565(window_rules::decodeRgb565(word)) != word;
        bad5a3 += window_rules::encodeRgb5a3(c, window_rules::isAlphaTexel(word) ? c : rgb(1, 1, 1)) != word;
    }
    EXPECT_EQ(std::pair(bad565, bad5a3), std::pair(0, 0));
}

}  // namespace
}  // namespace tplforge
