#include "tplforge/targa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "tplforge/bytes.h"
#include "window_rules/window_rules.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;
using enum TargaError;

constexpr ColourValue kRed = rgb(255, 0, 0), kGreen = rgb(0, 255, 0), kBlue = rgb(0, 0, 255);
// 5-5-5 word 0x0E3D (fields 3, 17, 29), and entry 1 of the maps made by mapped().
constexpr ColourValue kOddWord = rgb(24, 140, 239), kEntry1 = rgb(0x30, 0x20, 0x10);

// A Targa file assembled field by field; the ID length comes from `id`.
struct Tga {
    std::uint8_t mapType = 0, type = 2, mapEntrySize = 0, depth = 24, descriptor = 0;
    std::uint16_t mapFirst = 0, mapLength = 0, xOrigin = 0, yOrigin = 0, width = 1, height = 1;
    Bytes id = {}, map = {}, pixels = {};

    Bytes bytes() const {
        ByteWriter w;
        for (const std::uint8_t field : {static_cast<std::uint8_t>(id.size()), mapType, type}) w.u8(field);
        for (const std::uint16_t field : {mapFirst, mapLength}) w.u16le(field);
        w.u8(mapEntrySize);
        for (const std::uint16_t field : {xOrigin, yOrigin, width, height}) w.u16le(field);
        for (const std::uint8_t field : {depth, descriptor}) w.u8(field);
        for (const Bytes* part : {&id, &map, &pixels}) w.append(*part);
        return w.take();
    }
};

// One row of 8-bit indices into a map of two entries; with 24-bit entries, entry 1 is
// 10 20 30 (blue, green, red).
Tga mapped(std::uint8_t type, std::uint16_t width, const Bytes& pixels, std::uint8_t entrySize = 24) {
    return {.mapType = 1, .type = type, .mapEntrySize = entrySize, .depth = 8, .mapLength = 2, .width = width,
            .map = {0, 0, 0, 0x10, 0x20, 0x30}, .pixels = pixels};
}

TEST(Targa, ReadsEveryVariant) {
    // Stored bottom row first: red, green, then blue, white.
    const Bytes bgr = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    const Bytes bgra = {0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 255, 128};  // red at full, no and half coverage
    // 5-5-5 words: red, green, blue, kOddWord, and grey 16 with the attribute bit set.
    const Bytes words = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x3D, 0x0E, 0x10, 0xC2};
    // Name, file, pixels top row first.
    const std::tuple<const char*, Tga, RasterPixels> cases[] = {
        {"24-bit", {.width = 2, .height = 2, .pixels = bgr}, {kBlue, kWhite, kRed, kGreen}},
        {"8-bit with a 24-bit map", mapped(1, 3, {1, 0, 1}), {kEntry1, kBlack, kEntry1}},
        {"ID field skipped", {.id = {'h', 'i'}, .pixels = {1, 2, 3}}, {rgb(3, 2, 1)}},
        {"top-left", {.descriptor = 0x20, .width = 2, .height = 2, .pixels = bgr}, {kRed, kGreen, kBlue, kWhite}},
        {"origins do not crop; right to left", {.descriptor = 0x10, .xOrigin = 4, .yOrigin = 1, .width = 2,
         .height = 2, .pixels = bgr}, {kWhite, kBlue, kGreen, kRed}},
        {"16-bit", {.depth = 16, .width = 5, .pixels = words}, {kRed, kGreen, kBlue, kOddWord, rgb(132, 132, 132)}},
        {"15-bit", {.depth = 15, .width = 5, .pixels = words}, {kRed, kGreen, kBlue, kOddWord, rgb(132, 132, 132)}},
        {"32-bit", {.depth = 32, .descriptor = 8, .width = 3, .pixels = bgra},
         {kRed, kSurfaceColour, rgb(248, 120, 120)}},
        {"32-bit without alpha bits", {.depth = 32, .width = 3, .pixels = bgra}, {kRed, kRed, kRed}},
        {"grey", {.type = 3, .depth = 8, .width = 3, .pixels = {0x00, 0x01, 0xFF}}, {kBlack, rgb(1, 1, 1), kWhite}},
        {"map from 2, 16-bit entries", {.mapType = 1, .type = 1, .mapEntrySize = 16, .depth = 8, .mapFirst = 2,
         .mapLength = 2, .width = 3, .map = {0x00, 0x7C, 0x3D, 0x0E}, .pixels = {3, 2, 3}}, {kOddWord, kRed, kOddWord}},
        {"32-bit map", {.mapType = 1, .type = 1, .mapEntrySize = 32, .depth = 8, .descriptor = 8, .mapLength = 2,
         .width = 2, .map = {10, 20, 30, 255, 0, 0, 255, 0}, .pixels = {0, 1}}, {rgb(30, 20, 10), kSurfaceColour}},
        // Run-length: 0x80 | (n - 1) repeats one pixel n times, n - 1 takes n raw pixels.
        {"RLE 24-bit, run crossing rows", {.type = 10, .width = 2, .height = 2,
         .pixels = {0x00, 0, 0, 255, 0x81, 0, 255, 0, 0x00, 255, 0, 0}}, {kGreen, kBlue, kRed, kGreen}},
        {"RLE mapped", mapped(9, 4, {0x82, 1, 0x00, 0}), {kEntry1, kEntry1, kEntry1, kBlack}},
        {"RLE grey, raw packet crossing rows", {.type = 11, .depth = 8, .width = 2, .height = 2,
         .pixels = {0x02, 1, 1, 2, 0x80, 1}}, {rgb(2, 2, 2), rgb(1, 1, 1), rgb(1, 1, 1), rgb(1, 1, 1)}},
    };
    for (const auto& [name, tga, want] : cases) {
        const auto got = readTarga(tga.bytes());
        ASSERT_TRUE(got) << name << ": " << describe(got.error());
        // Seen as the window shows it: alpha drawn over the surface grey.
        const WindowRaster shown = window_rules::overSurface(*got);
        EXPECT_EQ(std::tuple(shown.width, shown.height, shown.pixels), std::tuple(tga.width, tga.height, want)) << name;
    }
}

TEST(Targa, RefusesBeforeProducingAPixel) {
    const std::tuple<Bytes, TargaError> cases[] = {
        {Bytes(17, 0), TooShort}, {Tga{.type = 4, .pixels = {1, 2, 3}}.bytes(), UnsupportedType},
        {Tga{.depth = 8, .pixels = {1}}.bytes(), UnsupportedDepth}, {Tga{.width = 0, .height = 4}.bytes(), EmptyImage},
        {Tga{.type = 1, .depth = 8, .pixels = {0}}.bytes(), BadColourMap},  // no map
        {mapped(1, 2, {0, 1}, 8).bytes(), BadColourMap},                    // 8-bit entries
        // Index 2, raw and run-length.
        {mapped(1, 2, {1, 2}).bytes(), BadColourMap}, {mapped(9, 2, {0x00, 1, 0x80, 2}).bytes(), BadColourMap},
        // 6 of the colour map's 8 bytes; 1 of 2 indices.
        {mapped(1, 2, {}, 32).bytes(), Truncated}, {mapped(1, 2, {0}).bytes(), Truncated},
        {Tga{.type = 10, .width = 2, .height = 2, .pixels = {0x81, 0, 0, 255, 0x01, 1, 2, 3, 4}}.bytes(), Truncated},
        // 65535 × 65535 pixels announced in a 21-byte file.
        {Tga{.width = 65535, .height = 65535, .pixels = {1, 2, 3}}.bytes(), Truncated},
        // Run-length grey: enough bytes for the packets, but more pixels than a picture may hold.
        {Tga{.type = 11, .depth = 8, .width = 8192, .height = 8193, .pixels = Bytes(1100000, 0xFF)}.bytes(), TooLarge},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto got = readTarga(std::get<0>(cases[row]));
        ASSERT_FALSE(got) << "row " << row;
        EXPECT_EQ(got.error(), std::get<1>(cases[row])) << "row " << row << ": " << describe(got.error());
    }
}

}  // namespace
}  // namespace tplforge
