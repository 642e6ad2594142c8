// The TPL files the writer produces: header block, padding, offsets, file size and
// the tile order of the texture data.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge {
namespace {

using enum TextureFormat;

// Pixel (x, y) of texture k encodes to this word, so a word's place in the file
// tells which pixel was read there. Odd textures are RGB5A3, even ones RGB565.
std::uint16_t word(std::size_t k, int x, int y) {
    return static_cast<std::uint16_t>((k % 2 ? 0x8000 : 0) | (k << 12) | (y << 4) | x);
}

// The whole file, byte for byte, for one to five textures.
TEST(TplLayout, HeaderBlockOffsetsTilesAndFileSize) {
    struct Shape {
        std::vector<std::pair<int, int>> sizes;
        std::uint32_t blockLength;
        std::vector<std::uint32_t> headerOffsets, dataOffsets;
        std::size_t fileSize;
    };
    const Shape shapes[] = {
        {{{4, 4}}, 64, {20}, {64}, 96},
        {{{8, 4}, {4, 4}}, 128, {28, 64}, {128, 192}, 224},
        {{{4, 4}, {4, 4}, {4, 4}}, 160, {36, 72, 108}, {160, 192, 224}, 256},
        {{{4, 4}, {8, 8}, {4, 4}, {4, 12}}, 192, {44, 80, 116, 152}, {192, 224, 352, 384}, 480},
        {{{4, 4}, {8, 8}, {4, 4}, {4, 8}, {12, 4}}, 256, {52, 88, 124, 160, 196}, {256, 288, 416, 448, 512}, 608},
    };
    for (const Shape& shape : shapes) {
        const std::size_t n = shape.sizes.size();
        SCOPED_TRACE(::testing::Message() << n << " textures");
        EXPECT_EQ(headerBlockLength(n), shape.blockLength);
        std::vector<Raster> rasters(n);
        std::vector<TextureInput> inputs;
        for (std::size_t k = 0; k < n; ++k) {
            Raster& r = rasters[k] = Raster(shape.sizes[k].first, shape.sizes[k].second);
            for (int y = 0; y < r.height; ++y)
                for (int x = 0; x < r.width; ++x)
                    r.at(x, y) = k % 2 ? texel::decodeRgb5a3(word(k, x, y)) : texel::decodeRgb565(word(k, x, y));
            inputs.push_back({&r, k % 2 ? RGB5A3 : RGB565, kWhite});
        }
        const std::vector<std::uint8_t> file = buildTpl(inputs).value();
        ASSERT_EQ(file.size(), shape.fileSize);

        ByteWriter expected;
        for (const std::uint32_t field : {0x0020AF30u, static_cast<std::uint32_t>(n), 12u}) expected.u32be(field);
        for (std::size_t k = 0; k < n; ++k)
            for (const std::uint32_t field : {shape.headerOffsets[k], 0u}) expected.u32be(field);  // no palette
        // Size, format, data offset, wrap S and T, min and mag filter, LOD bias, the four LOD bytes.
        for (std::size_t k = 0; k < n; ++k)
            for (const std::uint32_t field : {static_cast<std::uint32_t>(rasters[k].height << 16 | rasters[k].width),
                                              k % 2 ? 5u : 4u, shape.dataOffsets[k], 0u, 0u, 1u, 1u, 0u, 0u})
                expected.u32be(field);
        expected.zeros(shape.blockLength - expected.size());
        // Tiles row by row, and within a tile its pixels row by row, high byte first.
        for (std::size_t k = 0; k < n; ++k)
            for (int ty = 0; ty < rasters[k].height; ty += 4)
                for (int tx = 0; tx < rasters[k].width; tx += 4)
                    for (int y = ty; y < ty + 4; ++y)
                        for (int x = tx; x < tx + 4; ++x) expected.u16be(word(k, x, y));
        EXPECT_EQ(file, expected.data());
    }
}

TEST(TplLayout, WriterRefusals) {
    const Raster good(4, 4), width6(6, 4), huge(32768, 4), big(1024, 1024);
    const std::pair<std::vector<TextureInput>, TplWriteError> cases[] = {
        {{}, TplWriteError::NoTextures},
        {{{&good, RGB565, kWhite}, {&width6, RGB5A3, kWhite}}, TplWriteError::SideNotMultipleOf4},
        {{{&huge, RGB565, kWhite}}, TplWriteError::SideTooLarge},
        {{{&good, CMPR, kWhite}}, TplWriteError::UnsupportedFormat},
        // 1024 references to one 1024 × 1024 picture: 2 GiB of data, beyond what is read back.
        {std::vector<TextureInput>(1024, {&big, RGB565, kWhite}), TplWriteError::FileTooLarge},
    };
    for (const auto& [inputs, error] : cases) EXPECT_EQ(buildTpl(inputs).error(), error) << describe(error);
}

}  // namespace
}  // namespace tplforge
