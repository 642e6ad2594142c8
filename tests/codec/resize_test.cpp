// resizeImage: whole and partial pixels averaged in linear light, weighted by
// alpha, for ratios halveImage cannot take; halvings are halveImage itself.
#include <gtest/gtest.h>

#include <cmath>

#include "tplforge/texture.h"

namespace tplforge {
namespace {

using Pixel = std::array<std::uint8_t, 4>;

Image rowOf(std::initializer_list<Pixel> pixels, std::uint32_t height = 1) {
    Image out(static_cast<std::uint32_t>(pixels.size()), height);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::size_t x = 0;
        for (const Pixel& p : pixels) std::copy(p.begin(), p.end(), out.row(y).begin() + 4 * x++);
    }
    return out;
}

Pixel at(const Image& image, std::uint32_t x, std::uint32_t y) {
    Pixel p;
    std::copy_n(image.row(y).begin() + 4 * x, 4, p.begin());
    return p;
}

// An 8-bit sRGB value of a linear-light level.
std::uint8_t srgb(double linear) {
    const double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<std::uint8_t>(std::lround(c * 255));
}

constexpr Pixel kWhite{255, 255, 255, 255}, kBlack{0, 0, 0, 255}, kBlue{0, 0, 255, 255}, kClearRed{255, 0, 0, 0};

TEST(Resize, AveragesTheAreaEachPixelCovers) {
    const std::uint8_t third = srgb(1.0 / 3), twoThirds = srgb(2.0 / 3), half = srgb(0.5);
    const struct {
        const char* what;
        Image in;
        std::uint32_t width, height;
        std::vector<Pixel> row;  // the first row of the result
    } cases[] = {
        {"a third, in linear light", rowOf({kWhite, kBlack, kBlack}), 1, 1, {{third, third, third, 255}}},
        {"a transparent pixel lends no colour", rowOf({kClearRed, kBlue, kBlue}), 1, 1, {{0, 0, 255, 170}}},
        {"three to two: a pixel and a half each", rowOf({kWhite, kBlack, kBlack}), 2, 1,
         {{twoThirds, twoThirds, twoThirds, 255}, kBlack}},
        {"two to three: the middle one halves both", rowOf({kWhite, kBlack}), 3, 1, {kWhite, {half, half, half, 255}, kBlack}},
        {"doubled: each pixel twice", rowOf({kWhite, kBlue}), 4, 1, {kWhite, kWhite, kBlue, kBlue}},
        {"one side halved, not the other", rowOf({kWhite, kBlack}, 3), 1, 3, {{half, half, half, 255}}},
        {"all transparent keeps the plain average", rowOf({{255, 255, 255, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}), 1, 1,
         {{third, third, third, 0}}},
        {"alpha averages by area", rowOf({{9, 9, 9, 255}, {9, 9, 9, 0}}), 1, 1, {{9, 9, 9, 128}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Image out = resizeImage(c.in, c.width, c.height);
        ASSERT_EQ(out.width, c.width);
        ASSERT_EQ(out.height, c.height);
        for (std::uint32_t x = 0; x < c.row.size(); ++x) EXPECT_EQ(at(out, x, 0), c.row[x]) << "pixel " << x;
        // Every row of a picture whose rows are alike comes out alike.
        for (std::uint32_t y = 1; y < out.height; ++y)
            EXPECT_TRUE(std::equal(out.row(y).begin(), out.row(y).end(), out.row(0).begin())) << "row " << y;
    }
}

TEST(Resize, BlocksOfTheRatioComeBackExactly) {
    // 9 × 6 of 3 × 3 blocks, one colour each, to 3 × 2.
    const Pixel colours[6] = {{10, 20, 30, 255}, {200, 100, 0, 255}, {0, 255, 0, 128},
                              {77, 77, 77, 255}, {1, 2, 3, 4},       {250, 250, 250, 255}};
    Image in(9, 6);
    for (std::uint32_t y = 0; y < 6; ++y)
        for (std::uint32_t x = 0; x < 9; ++x) {
            const Pixel& p = colours[(y / 3) * 3 + x / 3];
            std::copy(p.begin(), p.end(), in.row(y).begin() + 4 * x);
        }
    const Image out = resizeImage(in, 3, 2);
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 3; ++x) EXPECT_EQ(at(out, x, y), colours[y * 3 + x]) << x << "," << y;
    // And back up: each block again.
    EXPECT_EQ(resizeImage(out, 9, 6), in);
}

TEST(Resize, HalvingsAreHalveImageAndTheSameSizeIsACopy) {
    Image in(16, 8);
    for (std::size_t i = 0; i < in.rgba.size(); ++i) in.rgba[i] = static_cast<std::uint8_t>(i * 37 + (i >> 5));
    EXPECT_EQ(resizeImage(in, 8, 4), halveImage(in));
    EXPECT_EQ(resizeImage(in, 2, 1), halveImage(halveImage(halveImage(in))));
    EXPECT_EQ(resizeImage(in, 16, 8), in);
    EXPECT_TRUE(resizeImage(in, 0, 4).empty());
}

}  // namespace
}  // namespace tplforge
