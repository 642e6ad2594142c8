#include "imageio/bmp.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace tplforge {
namespace {

struct BmpHeaders {
    std::uint8_t magic0, magic1;
    std::uint32_t fileSize, reserved, pixelOffset;
    std::uint32_t infoSize, width, height;
    std::uint16_t planes, bitsPerPixel;
    std::uint32_t compression, imageSize, xPixelsPerMetre, yPixelsPerMetre, coloursUsed, importantColours;
};

std::optional<BmpHeaders> readHeaders(ByteReader& in) {
    if (!in.has(54)) return std::nullopt;
    return BmpHeaders{*in.u8(),    *in.u8(),    *in.u32le(), *in.u32le(), *in.u32le(), *in.u32le(),
                      *in.u32le(), *in.u32le(), *in.u16le(), *in.u16le(), *in.u32le(), *in.u32le(),
                      *in.u32le(), *in.u32le(), *in.u32le(), *in.u32le()};
}

// An independent reader for exactly the form the writer promises; any deviation
// (a wrong size field, non-zero padding, a short file) makes it give up.
std::optional<Raster> decodeBmp24(const std::vector<std::uint8_t>& file) {
    ByteReader in(file);
    const auto h = readHeaders(in);
    if (!h || h->magic0 != 'B' || h->magic1 != 'M' || h->bitsPerPixel != 24 || h->compression != 0) return std::nullopt;
    if (h->fileSize != file.size() || !in.seek(h->pixelOffset)) return std::nullopt;
    const std::size_t stride = (h->width * 3 + 3) / 4 * 4;
    if (h->imageSize != stride * h->height) return std::nullopt;
    Raster out(static_cast<int>(h->width), static_cast<int>(h->height));
    for (int y = out.height - 1; y >= 0; --y) {
        for (int x = 0; x < out.width; ++x) {
            const auto b = in.u8(), g = in.u8(), r = in.u8();
            if (!r) return std::nullopt;
            out.at(x, y) = rgb(*r, *g, *b);
        }
        for (std::size_t pad = h->width * 3; pad < stride; ++pad) {
            if (in.u8() != std::uint8_t{0}) return std::nullopt;
        }
    }
    if (in.remaining() != 0) return std::nullopt;
    return out;
}

Raster pattern(int w, int h) {
    Raster r(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.at(x, y) = rgb(static_cast<std::uint32_t>(x * 40 + 1) & 0xFF, static_cast<std::uint32_t>(y * 50 + 2) & 0xFF,
                             static_cast<std::uint32_t>((x ^ y) * 30 + 3) & 0xFF);
    return r;
}

TEST(BmpHeader, HoldsTheFixedFields) {
    const auto file = encodeBmp24(pattern(3, 2));
    ByteReader in(file);
    const auto h = readHeaders(in);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->magic0, 'B');
    EXPECT_EQ(h->magic1, 'M');
    EXPECT_EQ(h->fileSize, 54u + 2 * 12);
    EXPECT_EQ(h->reserved, 0u);
    EXPECT_EQ(h->pixelOffset, 54u);
    EXPECT_EQ(h->infoSize, 40u);
    EXPECT_EQ(h->width, 3u);
    EXPECT_EQ(h->height, 2u);
    EXPECT_EQ(h->planes, 1u);
    EXPECT_EQ(h->bitsPerPixel, 24u);
    EXPECT_EQ(h->compression, 0u);
    EXPECT_EQ(h->imageSize, 2u * 12);
    EXPECT_EQ(h->xPixelsPerMetre, 2835u);
    EXPECT_EQ(h->yPixelsPerMetre, 2835u);
    EXPECT_EQ(h->coloursUsed, 0u);
    EXPECT_EQ(h->importantColours, 0u);
    EXPECT_EQ(file.size(), h->fileSize);
}

struct PaddingCase {
    int width;
    std::uint32_t stride;
};

class BmpRowPadding : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(BmpRowPadding, PadsEachRowToFourBytes) {
    const PaddingCase c = GetParam();
    const auto file = encodeBmp24(pattern(c.width, 3));
    ByteReader in(file);
    const auto h = readHeaders(in);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->imageSize, 3 * c.stride);
    EXPECT_EQ(file.size(), 54 + 3 * c.stride);
    const auto decoded = decodeBmp24(file);
    ASSERT_TRUE(decoded) << "padding or size fields are wrong";
    EXPECT_EQ(*decoded, pattern(c.width, 3));
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpRowPadding,
                         ::testing::Values(PaddingCase{1, 4}, PaddingCase{2, 8}, PaddingCase{3, 12},
                                           PaddingCase{4, 12}, PaddingCase{5, 16}),
                         [](const auto& info) { return "Width" + std::to_string(info.param.width); });

TEST(BmpPixels, BottomRowFirstInBlueGreenRedOrder) {
    Raster picture(2, 2);
    picture.at(0, 0) = rgb(1, 2, 3);
    picture.at(1, 0) = rgb(4, 5, 6);
    picture.at(0, 1) = rgb(7, 8, 9);
    picture.at(1, 1) = rgb(10, 11, 12);
    const auto file = encodeBmp24(picture);
    ASSERT_EQ(file.size(), 54u + 16);
    const std::vector<std::uint8_t> pixels(file.begin() + 54, file.end());
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
}

TEST(BmpRoundTrip, DecodesBackToThePicture) {
    for (const auto& [w, h] : {std::pair{1, 1}, {7, 3}, {4, 4}, {13, 9}, {64, 1}, {1, 64}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        const Raster picture = pattern(w, h);
        const auto decoded = decodeBmp24(encodeBmp24(picture));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, picture);
    }
}

}  // namespace
}  // namespace tplforge
