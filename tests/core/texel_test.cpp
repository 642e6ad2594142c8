// Texel packing: the encoder's truncating reduction, the decoder's smallest-value
// expansion, and the identity decode→encode on every 16-bit word.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tpl/texel.h"

namespace tplforge {
namespace {

struct EncodeRow {
    std::uint32_t r, g, b;
    std::uint16_t rgb565, rgb5a3Opaque, rgb5a3Keyed;
};

// Keyed: the pixel equals the alpha colour.
constexpr EncodeRow kEncodeRows[] = {
    {255, 255, 255, 0xFFFF, 0xFFFF, 0x7FFF},
    {254, 254, 254, 0xF7DE, 0xFBDE, 0x7BDE},
    {0, 0, 0, 0x0000, 0x8000, 0x0000},
    {8, 8, 8, 0x0020, 0x8000, 0x0000},
    {128, 128, 128, 0x7BEF, 0xBDEF, 0x3DEF},
    {255, 0, 0, 0xF800, 0xFC00, 0x7C00},
    {0, 255, 0, 0x07E0, 0x83E0, 0x03E0},
    {0, 0, 255, 0x001F, 0x801F, 0x001F},
    {200, 100, 50, 0xC306, 0xE186, 0x6186},
};

TEST(TexelEncode, KnownPixelsGiveTheirWords) {
    for (const EncodeRow& row : kEncodeRows) {
        SCOPED_TRACE(::testing::Message() << "pixel " << row.r << "," << row.g << "," << row.b);
        const ColourValue c = rgb(row.r, row.g, row.b);
        const ColourValue other = c ^ 0x010101;  // any colour but c
        EXPECT_EQ(texel::encodeRgb565(c), row.rgb565);
        EXPECT_EQ(texel::encodeRgb5a3(c, other), row.rgb5a3Opaque);
        EXPECT_EQ(texel::encodeRgb5a3(c, c), row.rgb5a3Keyed);
    }
}

TEST(TexelEncode, FiveBitFieldStepsUpWhereTruncationSays) {
    const std::vector<std::uint32_t> expected = {9,   17,  25,  33,  42,  50,  58,  66,  75,  83,  91,
                                                 99,  107, 116, 124, 132, 140, 149, 157, 165, 173, 181,
                                                 190, 198, 206, 214, 223, 231, 239, 247, 255};
    std::vector<std::uint32_t> steps;
    for (std::uint32_t v = 1; v < 256; ++v) {
        const std::uint32_t before = texel::encodeRgb565(rgb(v - 1, 0, 0)) >> 11;
        const std::uint32_t after = texel::encodeRgb565(rgb(v, 0, 0)) >> 11;
        if (after != before) {
            EXPECT_EQ(after, before + 1) << "at " << v;
            steps.push_back(v);
        }
    }
    EXPECT_EQ(steps, expected);
}

TEST(TexelEncode, OnlyFullIntensityReachesTheTopField) {
    // Truncation, not rounding: 254 stays below the top of both field widths.
    EXPECT_EQ(texel::encodeRgb565(rgb(254, 254, 254)) & 0xF800, 0xF000);
    EXPECT_EQ((texel::encodeRgb565(rgb(0, 254, 0)) >> 5) & 0x3F, 62);
    EXPECT_EQ((texel::encodeRgb565(rgb(0, 255, 0)) >> 5) & 0x3F, 63);
}

TEST(TexelEncode, KeyIsTheFullColourNotTheReducedOne) {
    struct Case {
        ColourValue pixel, alphaColour;
        std::uint16_t word;
    };
    const Case cases[] = {
        {rgb(250, 255, 255), kWhite, 0xFBFF},             // reduces to a different colour: opaque
        {rgb(251, 251, 251), rgb(250, 250, 250), 0xFBDE},  // same 5-5-5 fields, still opaque
        {rgb(250, 250, 250), rgb(250, 250, 250), 0x7BDE},
        {rgb(0, 0, 1), kBlack, 0x8000},
        {kBlack, kBlack, 0x0000},
    };
    for (const Case& c : cases) EXPECT_EQ(texel::encodeRgb5a3(c.pixel, c.alphaColour), c.word);
}

TEST(TexelDecode, EdgeWords) {
    struct Case {
        std::uint16_t word;
        ColourValue rgb565, rgb5a3;
    };
    const Case cases[] = {
        {0xFFFF, kWhite, kWhite},
        {0x7FFF, rgb(124, 255, 255), kWhite},
        {0x07E0, rgb(0, 255, 0), rgb(9, 255, 0)},
        {0x001F, rgb(0, 0, 255), rgb(0, 0, 255)},
        {0xF800, rgb(255, 0, 0), rgb(247, 0, 0)},
        {0x8000, rgb(132, 0, 0), kBlack},
        {0x0000, kBlack, kBlack},
        {0x0821, rgb(9, 5, 9), rgb(17, 9, 9)},  // fields of 1 and 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.word);
        EXPECT_EQ(texel::decodeRgb565(c.word), c.rgb565);
        EXPECT_EQ(texel::decodeRgb5a3(c.word), c.rgb5a3);
    }
    EXPECT_TRUE(texel::isAlphaTexel(0x7FFF));
    EXPECT_TRUE(texel::isAlphaTexel(0x0000));
    EXPECT_FALSE(texel::isAlphaTexel(0x8000));
    EXPECT_FALSE(texel::isAlphaTexel(0xFFFF));
}

// Each decoded channel is the smallest 8-bit value the encoder maps to that field.
TEST(TexelDecode, ChannelsAreTheSmallestValueOfTheirField) {
    for (std::uint16_t f = 0; f < 32; ++f) {
        const std::uint32_t v = redOf(texel::decodeRgb565(static_cast<std::uint16_t>(f << 11)));
        EXPECT_EQ(texel::encodeRgb565(rgb(v, 0, 0)) >> 11, f);
        if (f > 0) {
            EXPECT_LT(texel::encodeRgb565(rgb(v - 1, 0, 0)) >> 11, f) << "field " << f;
        }
    }
    for (std::uint16_t f = 0; f < 64; ++f) {
        const std::uint32_t v = greenOf(texel::decodeRgb565(static_cast<std::uint16_t>(f << 5)));
        EXPECT_EQ((texel::encodeRgb565(rgb(0, v, 0)) >> 5) & 0x3F, f);
        if (f > 0) {
            EXPECT_LT((texel::encodeRgb565(rgb(0, v - 1, 0)) >> 5) & 0x3F, f) << "field " << f;
        }
    }
}

TEST(TexelRoundTrip, EveryRgb565WordSurvivesDecodeAndEncode) {
    int mismatches = 0;
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        if (texel::encodeRgb565(texel::decodeRgb565(word)) != word && ++mismatches <= 5)
            ADD_FAILURE() << "word " << std::hex << w;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(TexelRoundTrip, EveryRgb5a3WordSurvivesDecodeAndEncode) {
    // Alpha texels come back keyed when their own colour is the alpha colour;
    // opaque ones with a colour no decoded pixel can have.
    const ColourValue neverDecoded = rgb(1, 1, 1);
    int mismatches = 0;
    for (std::uint32_t w = 0; w < 0x10000; ++w) {
        const auto word = static_cast<std::uint16_t>(w);
        const ColourValue c = texel::decodeRgb5a3(word);
        const ColourValue alphaColour = texel::isAlphaTexel(word) ? c : neverDecoded;
        if (texel::encodeRgb5a3(c, alphaColour) != word && ++mismatches <= 5)
            ADD_FAILURE() << "word " << std::hex << w;
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace tplforge
