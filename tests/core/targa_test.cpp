#include "imageio/targa.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/bytes.h"
#include "common/file_io.h"

namespace tplforge {

void PrintTo(TargaError error, std::ostream* os) { *os << describe(error); }

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr ColourValue kRed = rgb(255, 0, 0);
constexpr ColourValue kGreen = rgb(0, 255, 0);
constexpr ColourValue kBlue = rgb(0, 0, 255);

// A Targa file assembled field by field; the ID length comes from `id`.
struct Tga {
    std::uint8_t mapType = 0;
    std::uint8_t type = 2;
    std::uint16_t mapFirst = 0;
    std::uint16_t mapLength = 0;
    std::uint8_t mapEntrySize = 0;
    std::uint16_t xOrigin = 0;
    std::uint16_t yOrigin = 0;
    std::uint16_t width = 1;
    std::uint16_t height = 1;
    std::uint8_t depth = 24;
    std::uint8_t descriptor = 0;
    Bytes id = {};
    Bytes map = {};
    Bytes pixels = {};

    Bytes bytes() const {
        ByteWriter w;
        w.u8(static_cast<std::uint8_t>(id.size()));
        w.u8(mapType);
        w.u8(type);
        w.u16le(mapFirst);
        w.u16le(mapLength);
        w.u8(mapEntrySize);
        w.u16le(xOrigin);
        w.u16le(yOrigin);
        w.u16le(width);
        w.u16le(height);
        w.u8(depth);
        w.u8(descriptor);
        w.append(id);
        w.append(map);
        w.append(pixels);
        return w.take();
    }
};

Bytes withoutLast(Bytes b, std::size_t n) {
    b.resize(b.size() - n);
    return b;
}

// The 256-entry 24-bit map of the classic 8-bit files: entry i is blue i, green
// 255 - i, red i ^ 0x55, except entry 1, which holds the bytes 10 20 30.
Bytes classicMap() {
    Bytes map;
    for (int i = 0; i < 256; ++i) {
        map.push_back(static_cast<std::uint8_t>(i));
        map.push_back(static_cast<std::uint8_t>(255 - i));
        map.push_back(static_cast<std::uint8_t>(i ^ 0x55));
    }
    map[3] = 0x10;
    map[4] = 0x20;
    map[5] = 0x30;
    return map;
}

// The classic 2 × 2 picture: red, green in the first stored row; blue, white next.
const Bytes kFourBgr = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF};

struct ReadCase {
    std::string name;
    Bytes file;
    int width;
    int height;
    std::vector<ColourValue> topRowFirst;
};

std::vector<ReadCase> readCases() {
    std::vector<ReadCase> cases;
    auto add = [&](std::string name, const Tga& tga, int w, int h, std::vector<ColourValue> expected) {
        cases.push_back({std::move(name), tga.bytes(), w, h, std::move(expected)});
    };

    add("Bgr24BottomRowStoredFirst", {.width = 2, .height = 2, .pixels = kFourBgr}, 2, 2,
        {kBlue, kWhite, kRed, kGreen});
    add("Mapped8With256EntryMap",
        {.mapType = 1, .type = 1, .mapLength = 256, .mapEntrySize = 24, .width = 3, .depth = 8,
         .map = classicMap(), .pixels = {1, 0, 200}},
        3, 1, {rgb(0x30, 0x20, 0x10), rgb(0x55, 255, 0), rgb(200 ^ 0x55, 55, 200)});

    add("ImageIdIsSkipped", {.id = {'h', 'e', 'l', 'l', 'o'}, .pixels = {1, 2, 3}}, 1, 1, {rgb(3, 2, 1)});
    add("TopLeftOrigin", {.width = 2, .height = 2, .descriptor = 0x20, .pixels = kFourBgr}, 2, 2,
        {kRed, kGreen, kBlue, kWhite});
    add("BottomRightOrigin", {.width = 2, .height = 2, .descriptor = 0x10, .pixels = kFourBgr}, 2, 2,
        {kWhite, kBlue, kGreen, kRed});
    add("TopRightOrigin", {.width = 2, .height = 2, .descriptor = 0x30, .pixels = kFourBgr}, 2, 2,
        {kGreen, kRed, kWhite, kBlue});
    add("OriginFieldsDoNotCrop",
        {.xOrigin = 4, .yOrigin = 1, .width = 5, .height = 2,
         .pixels = {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0, 6, 0, 0, 7, 0, 0, 8, 0, 0, 9, 0, 0, 10}},
        5, 2, {rgb(6, 0, 0), rgb(7, 0, 0), rgb(8, 0, 0), rgb(9, 0, 0), rgb(10, 0, 0), rgb(1, 0, 0), rgb(2, 0, 0),
               rgb(3, 0, 0), rgb(4, 0, 0), rgb(5, 0, 0)});

    // 5-5-5 words: red, green, blue, r3 g17 b29 (0x0E3D), and grey 16 with the attribute bit.
    const Bytes words = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x3D, 0x0E, 0x10, 0xC2};
    const std::vector<ColourValue> wordColours = {kRed, kGreen, kBlue, rgb(24, 140, 239), rgb(132, 132, 132)};
    add("Rgb555Depth16", {.width = 5, .depth = 16, .pixels = words}, 5, 1, wordColours);
    add("Rgb555Depth15", {.width = 5, .depth = 15, .pixels = words}, 5, 1, wordColours);

    add("Bgra32BlendsOverSurface",
        {.width = 3, .depth = 32, .pixels = {0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 255, 128}}, 3, 1,
        {kRed, kSurfaceColour, rgb(248, 120, 120)});
    add("Grey8", {.type = 3, .width = 3, .depth = 8, .pixels = {0x00, 0x40, 0xFF}}, 3, 1,
        {kBlack, rgb(0x40, 0x40, 0x40), kWhite});

    add("MapWithFirstIndexAnd16BitEntries",
        {.mapType = 1, .type = 1, .mapFirst = 2, .mapLength = 2, .mapEntrySize = 16, .width = 3, .depth = 8,
         .map = {0x00, 0x7C, 0x3D, 0x0E}, .pixels = {3, 2, 3}},
        3, 1, {rgb(24, 140, 239), kRed, rgb(24, 140, 239)});
    add("MapWith15BitEntries",
        {.mapType = 1, .type = 1, .mapLength = 1, .mapEntrySize = 15, .depth = 8, .map = {0x3D, 0x8E},
         .pixels = {0}},
        1, 1, {rgb(24, 140, 239)});
    add("MapWith32BitEntriesBlends",
        {.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 32, .width = 2, .depth = 8,
         .map = {10, 20, 30, 255, 0, 0, 255, 0}, .pixels = {0, 1}},
        2, 1, {rgb(30, 20, 10), kSurfaceColour});
    add("MapInTrueColourFileIsSkipped",
        {.mapType = 1, .mapLength = 3, .mapEntrySize = 24, .map = {9, 9, 9, 9, 9, 9, 9, 9, 9}, .pixels = {1, 2, 3}},
        1, 1, {rgb(3, 2, 1)});
    add("MapInGreyFileIsSkipped",
        {.mapType = 1, .type = 3, .mapLength = 1, .mapEntrySize = 32, .depth = 8, .map = {9, 9, 9, 9},
         .pixels = {0x11}},
        1, 1, {rgb(0x11, 0x11, 0x11)});

    // Run-length: 0x80 | (n - 1) repeats one pixel n times, n - 1 takes n raw pixels.
    add("RleTrueColourRunCrossesRows",
        {.type = 10, .width = 3, .height = 2,
         .pixels = {0x01, 0, 0, 1, 0, 0, 2, 0x82, 0, 0, 255, 0x00, 255, 255, 255}},
        3, 2, {kRed, kRed, kWhite, rgb(1, 0, 0), rgb(2, 0, 0), kRed});
    add("RleTrueColourRawCrossesRows",
        {.type = 10, .width = 3, .height = 2,
         .pixels = {0x80, 0, 0, 1, 0x03, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0x00, 0, 0, 6}},
        3, 2, {rgb(4, 0, 0), rgb(5, 0, 0), rgb(6, 0, 0), rgb(1, 0, 0), rgb(2, 0, 0), rgb(3, 0, 0)});
    add("RleColourMapped",
        {.mapType = 1, .type = 9, .mapLength = 2, .mapEntrySize = 24, .width = 4, .depth = 8,
         .map = {0, 0, 0, 0x10, 0x20, 0x30}, .pixels = {0x82, 1, 0x00, 0}},
        4, 1, {rgb(0x30, 0x20, 0x10), rgb(0x30, 0x20, 0x10), rgb(0x30, 0x20, 0x10), kBlack});
    add("RleGreyTopLeft",
        {.type = 11, .width = 2, .height = 2, .depth = 8, .descriptor = 0x20, .pixels = {0x01, 0x10, 0x20, 0x81, 0x30}},
        2, 2, {rgb(0x10, 0x10, 0x10), rgb(0x20, 0x20, 0x20), rgb(0x30, 0x30, 0x30), rgb(0x30, 0x30, 0x30)});
    add("Rle16Bit",
        {.type = 10, .width = 2, .depth = 16, .pixels = {0x81, 0x3D, 0x0E}}, 2, 1,
        {rgb(24, 140, 239), rgb(24, 140, 239)});
    add("Rle32Bit", {.type = 10, .width = 3, .depth = 32, .pixels = {0x81, 0, 0, 255, 0, 0x00, 1, 2, 3, 255}}, 3,
        1, {kSurfaceColour, kSurfaceColour, rgb(3, 2, 1)});
    add("RlePacketPastLastPixelIsClipped", {.type = 10, .width = 2, .pixels = {0x83, 7, 8, 9}}, 2, 1,
        {rgb(9, 8, 7), rgb(9, 8, 7)});
    return cases;
}

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class TargaRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TargaRead, DecodesTopRowFirst) {
    const ReadCase& c = GetParam();
    const auto result = VBLoadTga(std::span<const std::uint8_t>(c.file));
    ASSERT_TRUE(result) << describe(result.error());
    EXPECT_EQ(result->width, c.width);
    EXPECT_EQ(result->height, c.height);
    EXPECT_EQ(result->pixels, c.topRowFirst);
}

INSTANTIATE_TEST_SUITE_P(Targa, TargaRead, ::testing::ValuesIn(readCases()),
                         [](const auto& info) { return info.param.name; });

struct RefusalCase {
    std::string name;
    Bytes file;
    TargaError error;
};

std::vector<RefusalCase> refusalCases() {
    const Tga twoByTwo{.width = 2, .height = 2, .pixels = kFourBgr};
    const Tga mapped{.mapType = 1, .type = 1, .mapLength = 256, .mapEntrySize = 24, .width = 2, .depth = 8,
                     .map = classicMap(), .pixels = {0, 1}};
    const Bytes header = Tga{}.bytes();
    return {
        {"EmptyFile", {}, TargaError::TooShort},
        {"HeaderOneByteShort", Bytes(header.begin(), header.begin() + 17), TargaError::TooShort},
        {"TypeNoImage", Tga{.type = 0}.bytes(), TargaError::UnsupportedType},
        {"Type4", Tga{.type = 4, .pixels = {1, 2, 3}}.bytes(), TargaError::UnsupportedType},
        {"Type8", Tga{.type = 8, .pixels = {1, 2, 3}}.bytes(), TargaError::UnsupportedType},
        {"TypeHuffman32", Tga{.type = 32, .pixels = {1, 2, 3}}.bytes(), TargaError::UnsupportedType},
        {"TrueColourDepth8", Tga{.depth = 8, .pixels = {1}}.bytes(), TargaError::UnsupportedDepth},
        {"TrueColourDepth31", Tga{.depth = 31, .pixels = {1, 2, 3, 4}}.bytes(), TargaError::UnsupportedDepth},
        {"GreyDepth16", Tga{.type = 3, .depth = 16, .pixels = {1, 2}}.bytes(), TargaError::UnsupportedDepth},
        {"MappedDepth16", Tga{.mapType = 1, .type = 1, .mapLength = 1, .mapEntrySize = 24, .depth = 16,
                              .map = {1, 2, 3}, .pixels = {0, 0}}.bytes(),
         TargaError::UnsupportedDepth},
        {"MappedWithoutMap", Tga{.type = 1, .depth = 8, .pixels = {0}}.bytes(), TargaError::BadColourMap},
        {"MapLengthZero", Tga{.mapType = 1, .type = 1, .mapEntrySize = 24, .depth = 8, .pixels = {0}}.bytes(),
         TargaError::BadColourMap},
        {"MapEntrySize8", Tga{.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 8, .depth = 8,
                              .map = {0, 1}, .pixels = {0}}.bytes(),
         TargaError::BadColourMap},
        {"MapTypeTwo", Tga{.mapType = 2, .pixels = {1, 2, 3}}.bytes(), TargaError::BadColourMap},
        {"IndexPastMap", Tga{.mapType = 1, .type = 1, .mapLength = 2, .mapEntrySize = 24, .width = 2, .depth = 8,
                             .map = {1, 2, 3, 4, 5, 6}, .pixels = {1, 2}}.bytes(),
         TargaError::BadColourMap},
        {"IndexBelowFirstEntry", Tga{.mapType = 1, .type = 1, .mapFirst = 5, .mapLength = 2, .mapEntrySize = 24,
                                     .depth = 8, .map = {1, 2, 3, 4, 5, 6}, .pixels = {4}}.bytes(),
         TargaError::BadColourMap},
        {"RleIndexPastMap", Tga{.mapType = 1, .type = 9, .mapLength = 2, .mapEntrySize = 24, .width = 3,
                                .depth = 8, .map = {1, 2, 3, 4, 5, 6}, .pixels = {0x01, 0, 1, 0x80, 7}}.bytes(),
         TargaError::BadColourMap},
        {"ZeroWidth", Tga{.width = 0, .height = 4}.bytes(), TargaError::EmptyImage},
        {"ZeroHeight", Tga{.width = 4, .height = 0}.bytes(), TargaError::EmptyImage},
        {"IdFieldCutShort", withoutLast(Tga{.id = Bytes(10, 'x')}.bytes(), 7), TargaError::Truncated},
        {"ColourMapCutShort", withoutLast(mapped.bytes(), 3), TargaError::Truncated},
        {"PixelsOneByteShort", withoutLast(twoByTwo.bytes(), 1), TargaError::Truncated},
        {"RleStreamEndsInRawPacket",
         Tga{.type = 10, .width = 2, .height = 2, .pixels = {0x81, 0, 0, 255, 0x01, 1, 2, 3, 4}}.bytes(),
         TargaError::Truncated},
        {"RleStreamEndsBeforeLastRow",
         Tga{.type = 11, .width = 128, .height = 2, .depth = 8, .pixels = {0xFF, 1, 0x00, 2}}.bytes(),
         TargaError::Truncated},
        // Both would need gigabytes of raster; they must be refused from the file size alone.
        {"HugeRawImageInTinyFile", Tga{.width = 65535, .height = 65535, .pixels = {1, 2, 3}}.bytes(),
         TargaError::Truncated},
        {"HugeRleImageInTinyFile", Tga{.type = 10, .width = 65535, .height = 65535, .pixels = {0xFF, 1, 2, 3}}.bytes(),
         TargaError::Truncated},
    };
}

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class TargaRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(TargaRefusal, NamesTheFault) {
    const RefusalCase& c = GetParam();
    const auto result = VBLoadTga(std::span<const std::uint8_t>(c.file));
    ASSERT_FALSE(result) << "decoded a " << result->width << " x " << result->height << " picture";
    EXPECT_EQ(result.error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(Targa, TargaRefusal, ::testing::ValuesIn(refusalCases()),
                         [](const auto& info) { return info.param.name; });

TEST(TargaMessages, EveryErrorHasItsOwnTextInBothLanguages) {
    const TargaError all[] = {TargaError::CannotOpen,   TargaError::TooShort,     TargaError::UnsupportedType,
                              TargaError::UnsupportedDepth, TargaError::BadColourMap, TargaError::EmptyImage,
                              TargaError::Truncated};
    std::set<std::string_view> english;
    std::set<std::string_view> spanish;
    for (TargaError e : all) {
        EXPECT_FALSE(describe(e).empty());
        EXPECT_FALSE(describeSpanish(e).empty());
        english.insert(describe(e));
        spanish.insert(describeSpanish(e));
    }
    EXPECT_EQ(english.size(), std::size(all));
    EXPECT_EQ(spanish.size(), std::size(all));
}

TEST(TargaFile, ReadsFromPathAndRefusesMissingFiles) {
    const auto dir = std::filesystem::temp_directory_path() / ("targa_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "picture.tga").string();
    const Bytes file = Tga{.width = 2, .height = 2, .pixels = kFourBgr}.bytes();
    ASSERT_FALSE(writeFileAtomically(path, file));

    const auto fromPath = VBLoadTga(path);
    const auto missing = VBLoadTga((dir / "absent.tga").string());
    const auto folder = VBLoadTga(dir.string());
    std::filesystem::remove_all(dir);

    ASSERT_TRUE(fromPath) << describe(fromPath.error());
    EXPECT_EQ(fromPath->pixels, (std::vector<ColourValue>{kBlue, kWhite, kRed, kGreen}));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), TargaError::CannotOpen);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error(), TargaError::CannotOpen);
}

}  // namespace
}  // namespace tplforge
