#include "imageio/targa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;
using enum TargaError;

constexpr ColourValue kRed = rgb(255, 0, 0), kGreen = rgb(0, 255, 0), kBlue = rgb(0, 0, 255);
constexpr ColourValue kOddWord = rgb(24, 140, 239);  // 5-5-5 word 0x0E3D: fields 3, 17, 29

// A Targa file assembled field by field; the ID length comes from `id`.
struct Tga {
    std::uint8_t mapType = 0, type = 2;
    std::uint16_t mapFirst = 0, mapLength = 0;
    std::uint8_t mapEntrySize = 0;
    std::uint16_t xOrigin = 0, yOrigin = 0, width = 1, height = 1;
    std::uint8_t depth = 24, descriptor = 0;
    Bytes id = {}, map = {}, pixels = {};

    Bytes bytes(std::size_t cutShort = 0) const {
        ByteWriter w;
        for (const std::uint8_t field : {static_cast<std::uint8_t>(id.size()), mapType, type}) w.u8(field);
        for (const std::uint16_t field : {mapFirst, mapLength}) w.u16le(field);
        w.u8(mapEntrySize);
        for (const std::uint16_t field : {xOrigin, yOrigin, width, height}) w.u16le(field);
        for (const std::uint8_t field : {depth, descriptor}) w.u8(field);
        for (const Bytes* part : {&id, &map, &pixels}) w.append(*part);
        w.data().resize(w.size() - cutShort);
        return w.take();
    }
};

// Stored bottom row first: red, green, then blue, white.
const Bytes kBgr = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF};

TEST(Targa, ReadsEveryVariant) {
    const Bytes map = {0, 0, 0, 0x10, 0x20, 0x30};  // entry 1 is 10 20 30: blue, green, red
    const ColourValue entry1 = rgb(0x30, 0x20, 0x10), grey1 = rgb(1, 1, 1), grey2 = rgb(2, 2, 2);
    // 5-5-5 words: red, green, blue, kOddWord, and grey 16 with the attribute bit set.
    const Bytes words = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x3D, 0x0E, 0x10, 0xC2};
    const std::vector<ColourValue> wordColours = {kRed, kGreen, kBlue, kOddWord, rgb(132, 132, 132)};
    struct Case {
        const char* name;
        Tga tga;
        std::vector<ColourValue> topRowFirst;
    };
    const Case cases[] = {
        {"24-bit", {.width = 2, .height = 2, .pixels = kBgr}, {kBlue, kWhite, kRed, kGreen}},
        {"8-bit with a 24-bit map", {.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 24, .width = 3,
         .depth = 8, .map = map, .pixels = {1, 0, 1}}, {entry1, kBlack, entry1}},
        {"ID field skipped", {.id = {'h', 'i'}, .pixels = {1, 2, 3}}, {rgb(3, 2, 1)}},
        {"top-left", {.width = 2, .height = 2, .descriptor = 0x20, .pixels = kBgr}, {kRed, kGreen, kBlue, kWhite}},
        {"origins do not crop; right to left", {.xOrigin = 4, .yOrigin = 1, .width = 2, .height = 2,
         .descriptor = 0x10, .pixels = kBgr}, {kWhite, kBlue, kGreen, kRed}},
        {"16-bit", {.width = 5, .depth = 16, .pixels = words}, wordColours},
        {"15-bit", {.width = 5, .depth = 15, .pixels = words}, wordColours},
        {"32-bit over the surface", {.width = 3, .depth = 32, .descriptor = 8,
         .pixels = {0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 255, 128}}, {kRed, kSurfaceColour, rgb(248, 120, 120)}},
        {"32-bit without alpha bits", {.width = 2, .depth = 32, .pixels = {0, 0, 255, 0, 1, 2, 3, 128}},
         {kRed, rgb(3, 2, 1)}},
        {"grey", {.type = 3, .width = 3, .depth = 8, .pixels = {0x00, 0x01, 0xFF}}, {kBlack, grey1, kWhite}},
        {"map from 2, 16-bit entries", {.mapType = 1, .type = 1, .mapFirst = 2, .mapLength = 2, .mapEntrySize = 16,
         .width = 3, .depth = 8, .map = {0x00, 0x7C, 0x3D, 0x0E}, .pixels = {3, 2, 3}}, {kOddWord, kRed, kOddWord}},
        {"map with 32-bit entries", {.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 32, .width = 2,
         .depth = 8, .descriptor = 8, .map = {10, 20, 30, 255, 0, 0, 255, 0}, .pixels = {0, 1}}, {rgb(30, 20, 10), kSurfaceColour}},
        // Run-length: 0x80 | (n - 1) repeats one pixel n times, n - 1 takes n raw pixels.
        {"RLE 24-bit, run crossing rows", {.type = 10, .width = 2, .height = 2,
         .pixels = {0x00, 0, 0, 255, 0x81, 0, 255, 0, 0x00, 255, 0, 0}}, {kGreen, kBlue, kRed, kGreen}},
        {"RLE mapped", {.mapType = 1, .type = 9, .mapLength = 2, .mapEntrySize = 24, .width = 4, .depth = 8,
         .map = map, .pixels = {0x82, 1, 0x00, 0}}, {entry1, entry1, entry1, kBlack}},
        {"RLE grey, raw packet crossing rows", {.type = 11, .width = 2, .height = 2, .depth = 8,
         .pixels = {0x02, 1, 1, 2, 0x80, 1}}, {grey2, grey1, grey1, grey1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = VBLoadTga(c.tga.bytes());
        ASSERT_TRUE(result) << describe(result.error());
        EXPECT_EQ(std::pair(result->width, result->height), (std::pair<int, int>(c.tga.width, c.tga.height)));
        EXPECT_EQ(result->pixels, c.topRowFirst);
    }
}

TEST(Targa, RefusesBeforeProducingAPixel) {
    const Tga mapped{.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 24, .width = 2, .depth = 8,
                     .map = {1, 2, 3, 4, 5, 6}, .pixels = {0, 1}};
    Tga indexPastMap = mapped, entrySize8 = mapped, rleIndex = mapped;
    indexPastMap.pixels = {1, 2};
    entrySize8.mapEntrySize = 8;
    rleIndex.type = 9;
    rleIndex.pixels = {0x00, 1, 0x80, 2};
    const std::pair<Bytes, TargaError> cases[] = {
        {Bytes(17, 0), TooShort},
        {Tga{.type = 4, .pixels = {1, 2, 3}}.bytes(), UnsupportedType},
        {Tga{.depth = 8, .pixels = {1}}.bytes(), UnsupportedDepth},
        {Tga{.type = 1, .depth = 8, .pixels = {0}}.bytes(), BadColourMap},  // no map
        {entrySize8.bytes(), BadColourMap},
        {indexPastMap.bytes(), BadColourMap},
        {rleIndex.bytes(), BadColourMap},
        {Tga{.width = 0, .height = 4}.bytes(), EmptyImage},
        {mapped.bytes(3), Truncated},  // inside the colour map
        {mapped.bytes(1), Truncated},
        {Tga{.type = 10, .width = 2, .height = 2, .pixels = {0x81, 0, 0, 255, 0x01, 1, 2, 3, 4}}.bytes(), Truncated},
        // 65535 × 65535 pixels announced in a 21-byte file.
        {Tga{.width = 65535, .height = 65535, .pixels = {1, 2, 3}}.bytes(), Truncated},
        // Run-length grey: enough bytes for the packets, but more pixels than a picture may hold.
        {Tga{.type = 11, .width = 8192, .height = 8193, .depth = 8, .pixels = Bytes(1100000, 0xFF)}.bytes(), TooLarge},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto result = VBLoadTga(cases[row].first);
        ASSERT_FALSE(result) << "row " << row;
        EXPECT_EQ(result.error(), cases[row].second) << "row " << row << ": " << describe(result.error());
    }
}

}  // namespace
}  // namespace tplforge
