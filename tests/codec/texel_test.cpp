// Texel words against the worked examples of the format notes, and the round
// trip every lossless format promises: reduce(widen(f)) == f.
#include <gtest/gtest.h>

#include "texel.h"

using namespace tplforge::texel;

TEST(Texel, WideningTable) {
    struct Row { int bits; std::uint32_t field; std::uint8_t value; };
    const Row rows[] = {{3, 1, 36}, {3, 3, 109}, {3, 7, 255}, {4, 9, 153}, {5, 1, 8},  {5, 3, 24},
                        {5, 16, 132}, {5, 31, 255}, {6, 1, 4}, {6, 39, 158}, {6, 63, 255}};
    for (const Row& r : rows) {
        const std::uint8_t got = r.bits == 3 ? widen3(r.field)
                                 : r.bits == 4 ? widen4(r.field)
                                 : r.bits == 5 ? widen5(r.field)
                                               : widen6(r.field);
        EXPECT_EQ(got, r.value) << r.bits << "-bit " << r.field;
    }
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

TEST(Texel, EveryWordSurvivesDecodeThenEncode) {
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        ASSERT_EQ(encodeRgb565(decodeRgb565(word)), word);
        ASSERT_EQ(encodeIa8(decodeIa8(word)), word);
        // Alpha 7 with 4-bit colour reads as opaque; the encoder writes that opaque.
        if ((word & 0xF000) != 0x7000) {
            ASSERT_EQ(encodeRgb5a3(decodeRgb5a3(word)), word) << std::hex << w;
        }
    }
}

TEST(Texel, Rgb5a3TakesTheOpaqueFormWhereAlphaRoundsToFull) {
    EXPECT_EQ(encodeRgb5a3({255, 0, 0, 237}), 0xFC00);
    EXPECT_EQ(encodeRgb5a3({255, 0, 0, 236}) >> 12, 6);
    EXPECT_EQ(encodeRgb5a3({0, 0, 0, 0}), 0x0000);
}
