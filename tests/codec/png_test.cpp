// readPng on files made by writePng and then damaged: each row names the fault.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstdlib>

#include "tplforge/png.h"

namespace tplforge {
namespace {

// The IHDR chunk with a new width and height and its CRC made right again, so
// that only the sides can be what the reader refuses.
std::vector<std::uint8_t> withSides(std::vector<std::uint8_t> file, std::uint32_t width, std::uint32_t height) {
    const auto put = [&file](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    };
    put(16, width);
    put(20, height);
    std::uint32_t crc = 0xFFFFFFFF;  // over the chunk type and data, bytes 12 to 28
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= file[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    put(29, ~crc);
    return file;
}

TEST(Png, ReadsWhatItWroteAndNamesEachFault) {
    Image picture(5, 3);
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) picture.rgba[i] = static_cast<std::uint8_t>(i * 37);
    const auto file = writePng(picture, PngChannels::Rgba).value();
    const auto read = readPng(file);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, picture);

    const std::pair<std::vector<std::uint8_t>, PngError> rows[] = {
        {{}, PngError::NotPng},
        {std::vector<std::uint8_t>(file.begin() + 1, file.end()), PngError::NotPng},
        {std::vector<std::uint8_t>(file.begin(), file.end() - 20), PngError::Corrupt},
        // 8192 × 8192 RGBA is allowed, but not from a file of a hundred bytes.
        {withSides(file, 8192, 8192), PngError::Corrupt},
        {withSides(file, 8193, 8192), PngError::TooLarge},
    };
    for (const auto& [bytes, error] : rows) {
        const auto result = readPng(bytes);
        ASSERT_FALSE(result.ok()) << bytes.size();
        EXPECT_EQ(result.error(), error) << bytes.size();
    }
}

// 16-bit channels, rounded to 8, read alike from plain and interlaced files: each
// pass of an interlaced file fills only its own columns of a row.
TEST(Png, SixteenBitChannelsPlainAndInterlaced) {
    constexpr std::uint32_t w = 13, h = 11;
    std::vector<std::uint16_t> samples(std::size_t{w} * h * 4);  // libspng swaps them into the file's order
    Image expected(w, h);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint16_t>(i * 7919 + 1234);
        expected.rgba[i] = static_cast<std::uint8_t>((samples[i] * 255u + 32767u) / 65535u);
    }
    for (const std::uint8_t interlace : {0, 1}) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_ihdr ihdr{w, h, 16, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, interlace};
        spng_set_ihdr(ctx, &ihdr);
        ASSERT_EQ(spng_encode_image(ctx, samples.data(), samples.size() * 2, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
        std::size_t size = 0;
        int error = 0;
        auto* bytes = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
        spng_ctx_free(ctx);
        ASSERT_NE(bytes, nullptr);
        const std::vector<std::uint8_t> file(bytes, bytes + size);
        std::free(bytes);
        ASSERT_EQ(file.at(28), interlace);  // IHDR's interlace method
        const auto read = readPng(file);
        ASSERT_TRUE(read.ok()) << int{interlace};
        EXPECT_EQ(*read, expected) << int{interlace};
    }
}

}  // namespace
}  // namespace tplforge
