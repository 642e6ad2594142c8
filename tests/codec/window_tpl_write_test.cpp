// The TPL files the writer produces: header block, padding, offsets, file size and
// the tile order of the texture data; the refusal of every prefix of them, and
// decode → encode giving them back.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "codec/bytes.h"
#include "codec/window_texel.h"
#include "codec/window_rules.h"

namespace tplforge {
namespace {

// The window writes these two formats only.
constexpr bool RGB565 = false, RGB5A3 = true;
using enum TplError;

// Odd textures are RGB5A3, even ones RGB565. Pixel (x, y) of texture k encodes to a
// word that tells which pixel was read there; pixel (0, 0) of texture 1 has the alpha colour.
TEST(TplLayout, WholeFileTruncationsAndDecodeEncode) {
    // Per texture: width, height, header offset, data offset. The first data offset is the next
    // multiple of 32 above the headers.
    const std::vector<std::array<std::uint32_t, 4>> files[] = {
        {{4, 4, 20, 64}},
        {{8, 4, 28, 128}, {4, 4, 64, 192}},
        {{4, 4, 36, 160}, {4, 4, 72, 192}, {4, 4, 108, 224}},
        {{4, 4, 44, 192}, {8, 8, 80, 224}, {4, 4, 116, 352}, {4, 12, 152, 384}},
        {{4, 4, 52, 256}, {8, 8, 88, 288}, {4, 4, 124, 416}, {4, 8, 160, 448}, {12, 4, 196, 512}},
    };
    for (const auto& textures : files) {
        const std::size_t n = textures.size();
        SCOPED_TRACE(::testing::Message() << n << " textures");
        std::vector<Raster> rasters(n);
        std::vector<window_rules::Texture> inputs;
        ByteWriter expected, tiles;
        for (const std::uint32_t field : {0x0020AF30u, static_cast<std::uint32_t>(n), 12u}) expected.u32be(field);
        for (std::size_t k = 0; k < n; ++k) {
            for (const std::uint32_t field : {textures[k][2], 0u}) expected.u32be(field);  // no palette
            Raster& r = rasters[k] = Raster(static_cast<int>(textures[k][0]), static_cast<int>(textures[k][1]));
            inputs.push_back({&r, k % 2 ? RGB5A3 : RGB565, k == 1 ? window_rules::decodeRgb5a3(0x1000) : kWhite});
            // Tiles row by row, and within a tile its pixels row by row, high byte first.
            for (int i = 0, across = r.width / 4; i < r.width * r.height; ++i) {
                const int x = i / 16 % across * 4 + i % 4, y = i / 16 / across * 4 + i % 16 / 4;
                const bool opaque = k % 2 && (k != 1 || x || y);
                const auto word = static_cast<std::uint16_t>((opaque ? 0x8000 : 0) | k << 12 | y << 4 | x);
                r.at(x, y) = k % 2 ? window_rules::decodeRgb5a3(word) : window_rules::decodeRgb565(word);
                tiles.u16be(word);
            }
        }
        // Size, format, data offset, wrap S and T, min and mag filter, LOD bias, the four LOD bytes.
        for (std::size_t k = 0; k < n; ++k)
            for (const std::uint32_t field : {textures[k][1] << 16 | textures[k][0], k % 2 ? 5u : 4u, textures[k][3],
                                              0u, 0u, 1u, 1u, 0u, 0u})
                expected.u32be(field);
        expected.zeros(textures[0][3] - expected.size());
        expected.append(tiles.data());
        const std::vector<std::uint8_t> file = window_rules::buildTpl(inputs).value();
        ASSERT_EQ(file, expected.data());

        // Each prefix is refused with the error of the first structure it cuts, and decoding
        // with the whole file's headers never reads past it.
        const TplInfo whole = parseTpl(file).value();
        const std::uint32_t header = textures[0][2];
        for (std::size_t length = 0; length < file.size(); ++length) {
            const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + length);
            EXPECT_EQ(parseTpl(prefix).error(), length < 12           ? TooShort
                                                : length < header      ? TableOutOfBounds
                                                : length < header + 36 ? HeaderOutOfBounds
                                                                       : DataOutOfBounds) << length << " bytes";
            for (const TplImage& t : whole.images)
                EXPECT_EQ(window_rules::decodeTexture(prefix, t).ok(), t.dataOffset + 2u * t.width * t.height <= length);
        }
        for (std::size_t k = 0; k < n; ++k) {
            window_rules::DecodedTexture decoded = window_rules::decodeTexture(file, whole.images[k]).value();
            rasters[k] = std::move(decoded.raster);
            // A texture without alpha texels is encoded against a colour none decodes to.
            inputs[k].alphaColour = decoded.alphaTexels ? decoded.lastAlphaColour : rgb(1, 1, 1);
        }
        EXPECT_EQ(window_rules::buildTpl(inputs).value(), file);
    }
}

TEST(TplLayout, WriterRefusals) {
    using enum TplWriteError;
    const Raster good(4, 4), width6(6, 4), huge(32768, 4), big(1024, 1024);
    const std::pair<std::vector<window_rules::Texture>, TplWriteError> cases[] = {
        {{}, NoTextures}, {{{&huge, RGB565, kWhite}}, SideTooLarge},
        {{{&good, RGB565, kWhite}, {&width6, RGB5A3, kWhite}}, SideNotMultipleOf4},
        // 1024 references to one 1024 × 1024 picture: 2 GiB of data, beyond what is read back.
        {std::vector<window_rules::Texture>(1024, {&big, RGB565, kWhite}), FileTooLarge},
    };
    for (const auto& [inputs, error] : cases) EXPECT_EQ(window_rules::buildTpl(inputs).error(), error) << describe(error);
}

}  // namespace
}  // namespace tplforge
