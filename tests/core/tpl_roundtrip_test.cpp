// Whole files through the writer and the reader: encode → decode → encode must
// reproduce the file byte for byte, and a picture made of decodable colours must
// come back unchanged.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/tpl_test_helpers.h"
#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge {
namespace {

using namespace tpltest;

// No decoded channel is 1, so no decoded pixel has this colour.
constexpr ColourValue kNeverDecoded = rgb(1, 1, 1);

std::uint32_t fields555(ColourValue c) { return texel::encodeRgb5a3(c, kNeverDecoded) & 0x7FFF; }

struct Texture {
    Raster raster;
    TextureFormat format;
    ColourValue alphaColour;
    std::size_t keyed = 0;  // pixels equal to the alpha colour
};

// A random picture; for RGB5A3 some pixels take the alpha colour, and no other
// pixel shares its 5-5-5 colour (such a pixel would read back as keyed too, and
// no file could tell the two apart).
Texture randomTexture(std::mt19937& rng) {
    std::uniform_int_distribution<int> side(1, 16);
    Texture t{Raster(4 * side(rng), 4 * side(rng)), rng() % 2 ? TextureFormat::RGB565 : TextureFormat::RGB5A3,
              kNeverDecoded};
    for (ColourValue& c : t.raster.pixels) c = rng() & 0xFFFFFF;
    if (t.format == TextureFormat::RGB5A3 && rng() % 4 != 0) {
        t.alphaColour = t.raster.pixels[rng() % t.raster.pixels.size()];
        for (ColourValue& c : t.raster.pixels) {
            if (rng() % 5 == 0) c = t.alphaColour;
            while (c != t.alphaColour && fields555(c) == fields555(t.alphaColour)) c = rng() & 0xFFFFFF;
            if (c == t.alphaColour) ++t.keyed;
        }
    }
    return t;
}

TEST(TplRoundTrip, RandomFilesSurviveDecodeAndReencode) {
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        std::vector<Texture> textures;
        const std::size_t n = 1 + rng() % 5;
        for (std::size_t k = 0; k < n; ++k) textures.push_back(randomTexture(rng));
        std::vector<TextureInput> inputs;
        for (const Texture& t : textures) inputs.push_back({&t.raster, t.format, t.alphaColour});
        const Bytes first = buildFile(inputs);
        ASSERT_FALSE(first.empty());

        const auto info = parseTpl(first);
        ASSERT_TRUE(info.ok()) << describe(info.error());
        ASSERT_EQ(info->images.size(), n);
        std::vector<Texture> decoded;
        for (std::size_t k = 0; k < n; ++k) {
            auto texture = decodeTexture(first, info->images[k]);
            ASSERT_TRUE(texture.ok());
            EXPECT_EQ(texture->alphaTexels, textures[k].keyed) << "texture " << k;
            const ColourValue alphaColour = texture->alphaTexels > 0 ? texture->lastAlphaColour : kNeverDecoded;
            decoded.push_back({std::move(texture->raster), textures[k].format, alphaColour});
        }
        std::vector<TextureInput> again;
        for (const Texture& t : decoded) again.push_back({&t.raster, t.format, t.alphaColour});
        const Bytes second = buildFile(again);
        EXPECT_TRUE(second == first);
    }
}

TEST(TplRoundTrip, DecodableColoursComeBackUnchanged) {
    std::mt19937 rng(7);
    for (const TextureFormat format : {TextureFormat::RGB565, TextureFormat::RGB5A3}) {
        Raster raster(32, 20);
        for (ColourValue& c : raster.pixels) {
            const auto word = static_cast<std::uint16_t>(rng());
            c = format == TextureFormat::RGB565 ? texel::decodeRgb565(word) : texel::decodeRgb5a3(word);
        }
        const ColourValue alphaColour = raster.pixels[17];
        const TextureInput inputs[] = {{&raster, format, alphaColour}};
        const Bytes file = buildFile(inputs);
        const auto info = parseTpl(file);
        ASSERT_TRUE(info.ok());
        const auto texture = decodeTexture(file, info->images[0]);
        ASSERT_TRUE(texture.ok());
        EXPECT_TRUE(texture->raster == raster) << "format " << static_cast<int>(format);
    }
}

}  // namespace
}  // namespace tplforge
