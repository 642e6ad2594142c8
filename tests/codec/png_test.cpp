// readPng on files made by writePng and then damaged: each row names the fault.
#include <gtest/gtest.h>

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
    const auto file = writePng(picture, PngChannels::Rgba);
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

}  // namespace
}  // namespace tplforge
