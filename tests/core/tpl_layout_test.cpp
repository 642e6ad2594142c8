// The TPL files the writer produces: header block, image table, image headers,
// padding, data offsets and the tile order of the texture data.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/tpl_test_helpers.h"
#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge {
namespace {

using namespace tpltest;

struct Size {
    int width, height;
};

// Index of the first byte where the two differ, if any.
std::optional<std::size_t> firstDifference(const Bytes& a, const Bytes& b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) return i;
    if (a.size() != b.size()) return std::min(a.size(), b.size());
    return std::nullopt;
}

TEST(TplLayout, HeaderBlockIsPaddedToTheNextMultipleOf32) {
    const std::pair<std::size_t, std::uint32_t> rows[] = {{1, 64}, {2, 128}, {3, 160}, {4, 192}, {5, 256}};
    for (const auto& [n, length] : rows) EXPECT_EQ(headerBlockLength(n), length) << n << " textures";
}

// Every byte of the header block for one to five textures, of assorted sizes and
// both formats, against the fields as the layout defines them.
TEST(TplLayout, HeaderBlockByteByByte) {
    const Size sizes[] = {{8, 4}, {4, 12}, {16, 8}, {4, 4}, {12, 20}};
    const TextureFormat formats[] = {TextureFormat::RGB565, TextureFormat::RGB5A3, TextureFormat::RGB5A3,
                                     TextureFormat::RGB565, TextureFormat::RGB5A3};
    const std::uint32_t blockLength[] = {64, 128, 160, 192, 256};
    std::vector<Raster> rasters;
    for (const Size& s : sizes) rasters.emplace_back(s.width, s.height, rgb(10, 200, 30));

    for (std::size_t n = 1; n <= 5; ++n) {
        SCOPED_TRACE(::testing::Message() << n << " textures");
        std::vector<TextureInput> inputs;
        for (std::size_t k = 0; k < n; ++k) inputs.push_back({&rasters[k], formats[k], kWhite});
        const Bytes file = buildFile(inputs);

        const std::uint32_t length = blockLength[n - 1];
        Bytes expected = {0x00, 0x20, 0xAF, 0x30};
        put32(expected, 4, static_cast<std::uint32_t>(n));
        put32(expected, 8, 12);
        std::uint32_t dataOffset = length;
        for (std::size_t k = 0; k < n; ++k) {
            const auto h = static_cast<std::uint32_t>(12 + 8 * n + 36 * k);
            put32(expected, 12 + 8 * k, h);
            put32(expected, 16 + 8 * k, 0);
            put16(expected, h, static_cast<std::uint32_t>(sizes[k].height));
            put16(expected, h + 2, static_cast<std::uint32_t>(sizes[k].width));
            put32(expected, h + 4, formats[k] == TextureFormat::RGB565 ? 4 : 5);
            put32(expected, h + 8, dataOffset);
            put32(expected, h + 12, 0);  // wrap S
            put32(expected, h + 16, 0);  // wrap T
            put32(expected, h + 20, 1);  // min filter
            put32(expected, h + 24, 1);  // mag filter
            put32(expected, h + 28, 0);  // LOD bias
            put32(expected, h + 32, 0);  // edge LOD, min LOD, max LOD, unpacked
            dataOffset += static_cast<std::uint32_t>(2 * sizes[k].width * sizes[k].height);
        }
        expected.resize(length);  // zero padding

        ASSERT_EQ(file.size(), dataOffset);
        const Bytes block(file.begin(), file.begin() + length);
        const auto diff = firstDifference(block, expected);
        EXPECT_FALSE(diff.has_value()) << "first difference at byte " << diff.value_or(0);
    }
}

struct FileShape {
    const char* name;
    std::vector<Size> sizes;
    std::vector<std::uint32_t> headerOffsets;
    std::vector<std::uint32_t> dataOffsets;
    std::size_t fileSize;
};

TEST(TplLayout, OffsetsAndSizesOfWholeFiles) {
    const FileShape shapes[] = {
        {"one 4x4", {{4, 4}}, {20}, {64}, 96},
        {"two 4x4", {{4, 4}, {4, 4}}, {28, 64}, {128, 160}, 192},
        {"8x4 and 4x4", {{8, 4}, {4, 4}}, {28, 64}, {128, 192}, 224},
        {"three 4x4", {{4, 4}, {4, 4}, {4, 4}}, {36, 72, 108}, {160, 192, 224}, 256},
        {"five", {{4, 4}, {8, 8}, {4, 4}, {4, 8}, {4, 4}}, {52, 88, 124, 160, 196}, {256, 288, 416, 448, 512}, 544},
    };
    for (const FileShape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::vector<Raster> rasters;
        for (const Size& s : shape.sizes) rasters.emplace_back(s.width, s.height, rgb(1, 2, 3));
        std::vector<TextureInput> inputs;
        for (const Raster& r : rasters) inputs.push_back({&r, TextureFormat::RGB565, kWhite});
        const Bytes file = buildFile(inputs);

        ASSERT_EQ(file.size(), shape.fileSize);
        const std::size_t n = shape.sizes.size();
        const std::size_t headersEnd = 12 + 44 * n;
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_EQ(be32(file, 12 + 8 * k), shape.headerOffsets[k]) << "texture " << k;
            EXPECT_EQ(be32(file, shape.headerOffsets[k] + 8), shape.dataOffsets[k]) << "texture " << k;
        }
        for (std::size_t i = headersEnd; i < shape.dataOffsets[0]; ++i) EXPECT_EQ(file[i], 0) << "padding " << i;
    }
}

TEST(TplLayout, WordsAreStoredHighByteFirst) {
    const Raster red(4, 4, rgb(255, 0, 0));
    const TextureInput inputs[] = {{&red, TextureFormat::RGB565, kWhite}};
    const Bytes file = buildFile(inputs);
    ASSERT_EQ(file.size(), 96u);
    for (std::size_t i = 64; i < 96; i += 2) {
        EXPECT_EQ(file[i], 0xF8);
        EXPECT_EQ(file[i + 1], 0x00);
    }
}

// A raster whose every pixel encodes to its own word, so each word's place in the
// data tells which pixel was read there.
Raster numberedRaster(int width, int height) {
    Raster raster(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raster.at(x, y) = texel::decodeRgb565(static_cast<std::uint16_t>(0x1000 + 256 * y + x));
    return raster;
}

TEST(TplLayout, TilesRowByRowAndPixelsRowByRowWithinATile) {
    const Size sizes[] = {{4, 4}, {8, 4}, {4, 8}, {12, 8}, {8, 12}};
    for (const Size& s : sizes) {
        SCOPED_TRACE(::testing::Message() << s.width << "x" << s.height);
        const Raster raster = numberedRaster(s.width, s.height);
        const Bytes data = encodeTexture(raster, TextureFormat::RGB565, kWhite);
        ASSERT_EQ(data.size(), 2u * s.width * s.height);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                const std::size_t tile = static_cast<std::size_t>((y / 4) * (s.width / 4) + x / 4);
                const std::size_t at = 32 * tile + 8 * (y % 4) + 2 * (x % 4);
                EXPECT_EQ(be16(data, at), 0x1000u + 256 * y + x) << "pixel " << x << "," << y;
            }
    }
    // First word of the fifth texel, second tile across, second tile down.
    const Bytes four = encodeTexture(numberedRaster(4, 4), TextureFormat::RGB565, kWhite);
    EXPECT_EQ(be16(four, 8), 0x1100u);  // fifth word: pixel (0, 1)
    const Bytes wide = encodeTexture(numberedRaster(8, 4), TextureFormat::RGB565, kWhite);
    EXPECT_EQ(be16(wide, 32), 0x1004u);  // second tile starts at column 4
    const Bytes tall = encodeTexture(numberedRaster(4, 8), TextureFormat::RGB565, kWhite);
    EXPECT_EQ(be16(tall, 32), 0x1400u);  // second tile starts at row 4
}

TEST(TplLayout, AlphaColourKeysRgb5a3OnlyAndEveryTexture) {
    Raster raster(4, 4, rgb(0, 0, 255));
    raster.at(2, 1) = rgb(200, 100, 50);
    const Bytes rgb565 = encodeTexture(raster, TextureFormat::RGB565, rgb(200, 100, 50));
    EXPECT_EQ(be16(rgb565, 8 + 4), 0xC306u);
    const Bytes rgb5a3 = encodeTexture(raster, TextureFormat::RGB5A3, rgb(200, 100, 50));
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(be16(rgb5a3, 2 * i), i == 6 ? 0x6186u : 0x801Fu) << i;

    // Two textures, each with its own alpha colour.
    const Raster blue(4, 4, rgb(0, 0, 255));
    const TextureInput inputs[] = {{&blue, TextureFormat::RGB5A3, kWhite}, {&blue, TextureFormat::RGB5A3, rgb(0, 0, 255)}};
    const Bytes file = buildFile(inputs);
    ASSERT_EQ(file.size(), 192u);
    EXPECT_EQ(be16(file, 128), 0x801Fu);
    EXPECT_EQ(be16(file, 160), 0x001Fu);
}

TEST(TplLayout, WriterRefusals) {
    const Raster good(4, 4);
    const Raster width6(6, 4), height6(4, 6), huge(65536, 4);
    struct Case {
        const char* name;
        std::vector<TextureInput> inputs;
        TplWriteError error;
    };
    const Case cases[] = {
        {"no textures", {}, TplWriteError::NoTextures},
        {"width 6", {{&good, TextureFormat::RGB565, kWhite}, {&width6, TextureFormat::RGB565, kWhite}},
         TplWriteError::SideNotMultipleOf4},
        {"height 6", {{&height6, TextureFormat::RGB5A3, kWhite}}, TplWriteError::SideNotMultipleOf4},
        {"width 65536", {{&huge, TextureFormat::RGB565, kWhite}}, TplWriteError::SideTooLarge},
        {"CMPR", {{&good, TextureFormat::CMPR, kWhite}}, TplWriteError::UnsupportedFormat},
    };
    for (const Case& c : cases) {
        const auto file = buildTpl(c.inputs);
        ASSERT_FALSE(file.ok()) << c.name;
        EXPECT_EQ(file.error(), c.error) << c.name;
    }
}

TEST(TplLayout, FilesBeyondFourGibibytesAreRefusedBeforeAnythingIsWritten) {
    // 2048 references to one 1024 × 1024 picture: 4 GiB of texture data.
    const Raster big(1024, 1024);
    const std::vector<TextureInput> inputs(2048, TextureInput{&big, TextureFormat::RGB565, kWhite});
    const auto file = buildTpl(inputs);
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error(), TplWriteError::FileTooLarge);
}

}  // namespace
}  // namespace tplforge
