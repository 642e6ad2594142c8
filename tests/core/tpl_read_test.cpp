// Reading TPL files: the header check, what the reader takes from each field, the
// tile walk over any size, and the refusal of every file it cannot read safely.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/tpl_test_helpers.h"
#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge {
namespace {

using namespace tpltest;

std::vector<std::uint16_t> repeated(std::uint16_t word, std::size_t count) {
    return std::vector<std::uint16_t>(count, word);
}

// Distinct words 0x1000, 0x1001, … in file order.
std::vector<std::uint16_t> counting(std::size_t count) {
    std::vector<std::uint16_t> words(count);
    for (std::size_t i = 0; i < count; ++i) words[i] = static_cast<std::uint16_t>(0x1000 + i);
    return words;
}

TEST(TplRead, ReadsBackTheFieldsTheWriterWrote) {
    const Raster a(8, 4, kWhite), b(4, 12, kBlack);
    const TextureInput inputs[] = {{&a, TextureFormat::RGB565, kWhite}, {&b, TextureFormat::RGB5A3, kBlack}};
    const Bytes file = buildFile(inputs);
    const auto info = parseTpl(file);
    ASSERT_TRUE(info.ok()) << describe(info.error());
    EXPECT_EQ(info->fileSize, file.size());
    ASSERT_EQ(info->images.size(), 2u);
    const TplImage& first = info->images[0];
    const TplImage& second = info->images[1];
    EXPECT_EQ(first.headerOffset, 28u);
    EXPECT_EQ(second.headerOffset, 64u);
    EXPECT_EQ(first.width, 8);
    EXPECT_EQ(first.height, 4);
    EXPECT_EQ(second.width, 4);
    EXPECT_EQ(second.height, 12);
    EXPECT_EQ(first.format, 4u);
    EXPECT_EQ(second.format, 5u);
    EXPECT_EQ(first.dataOffset, 128u);
    EXPECT_EQ(second.dataOffset, 192u);
    EXPECT_EQ(first.minFilter, 1u);
    EXPECT_EQ(second.magFilter, 1u);

    const auto texture = decodeTexture(file, second);
    ASSERT_TRUE(texture.ok());
    EXPECT_EQ(texture->raster, b);
    EXPECT_EQ(texture->alphaTexels, 48u);
}

TEST(TplRead, SignatureIsTheMagicAndByte11) {
    const Raster r(4, 4);
    const TextureInput inputs[] = {{&r, TextureFormat::RGB565, kWhite}};
    const Bytes valid = buildFile(inputs);
    struct Case {
        std::size_t at;
        std::uint8_t value;
        bool accepted;
    };
    const Case cases[] = {
        {0, 0x01, false}, {1, 0x21, false}, {2, 0xAE, false}, {3, 0x31, false}, {11, 0x0D, false},
        {11, 0x00, false}, {8, 0xFF, true}, {9, 0xFF, true}, {10, 0xFF, true},
    };
    for (const Case& c : cases) {
        Bytes file = valid;
        file[c.at] = c.value;
        SCOPED_TRACE(::testing::Message() << "byte " << c.at << " = " << int{c.value});
        EXPECT_EQ(hasTplSignature(file), c.accepted);
        const auto info = parseTpl(file);
        EXPECT_EQ(info.ok(), c.accepted);
        if (!c.accepted && !info.ok()) {
            EXPECT_EQ(info.error(), TplError::BadSignature);
        }
    }
}

struct WordCase {
    std::uint32_t format;
    std::uint16_t word;
    ColourValue colour;
    bool alpha;
};

TEST(TplRead, DecodesEdgeWordsOfBothFormats) {
    const WordCase cases[] = {
        {4, 0xF800, rgb(255, 0, 0), false}, {4, 0xFFFF, kWhite, false},        {4, 0x07E0, rgb(0, 255, 0), false},
        {4, 0x001F, rgb(0, 0, 255), false}, {4, 0x0000, kBlack, false},        {4, 0x7FFF, rgb(124, 255, 255), false},
        {5, 0xFFFF, kWhite, false},         {5, 0x7FFF, kWhite, true},         {5, 0x8000, kBlack, false},
        {5, 0x0000, kBlack, true},          {5, 0x7C00, rgb(255, 0, 0), true}, {5, 0x83E0, rgb(0, 255, 0), false},
    };
    for (const WordCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << " word " << std::hex << c.word);
        const Bytes file = oneTexture({.format = c.format}, repeated(c.word, 16));
        const auto info = parseTpl(file);
        ASSERT_TRUE(info.ok());
        const auto texture = decodeTexture(file, info->images[0]);
        ASSERT_TRUE(texture.ok());
        EXPECT_EQ(texture->raster, Raster(4, 4, c.colour));
        EXPECT_EQ(texture->alphaTexels, c.alpha ? 16u : 0u);
        if (c.alpha) {
            EXPECT_EQ(texture->lastAlphaColour, c.colour);
        }
    }
}

TEST(TplRead, DecodesEveryWordAsTheTexelFunctionsDo) {
    // 256 × 256: every 16-bit word once, in file order.
    std::vector<std::uint16_t> words(0x10000);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint16_t>(i);
    for (const std::uint32_t format : {4u, 5u}) {
        SCOPED_TRACE(::testing::Message() << "format " << format);
        const Bytes file = oneTexture({.height = 256, .width = 256, .format = format}, words);
        const auto texture = decodeTexture(file, parseTpl(file)->images[0]);
        ASSERT_TRUE(texture.ok());
        int mismatches = 0;
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::size_t tile = i / 16, x = 4 * (tile % 64) + i % 4, y = 4 * (tile / 64) + (i % 16) / 4;
            const auto w = static_cast<std::uint16_t>(i);
            const ColourValue expected = format == 4 ? texel::decodeRgb565(w) : texel::decodeRgb5a3(w);
            if (texture->raster.at(static_cast<int>(x), static_cast<int>(y)) != expected && ++mismatches <= 5)
                ADD_FAILURE() << "word " << std::hex << i;
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(texture->alphaTexels, format == 5 ? 0x8000u : 0u);
        if (format == 5) {
            EXPECT_EQ(texture->lastAlphaColour, kWhite);  // 7FFF, the last word with bit 15 clear
        }
    }
}

TEST(TplRead, LastAlphaColourIsTheLastInFileOrder) {
    // 8 × 4: pixel (1, 3) is texel 13 of the first tile, pixel (6, 0) texel 2 of
    // the second. Row by row (6, 0) comes first; in the file it comes last.
    std::vector<std::uint16_t> words = repeated(0x801F, 32);
    words[13] = 0x7C00;       // red, keyed
    words[16 + 2] = 0x03E0;   // green, keyed
    const Bytes file = oneTexture({.height = 4, .width = 8, .format = 5}, words);
    const auto texture = decodeTexture(file, parseTpl(file)->images[0]);
    ASSERT_TRUE(texture.ok());
    EXPECT_EQ(texture->alphaTexels, 2u);
    EXPECT_EQ(texture->lastAlphaColour, rgb(0, 255, 0));
    EXPECT_EQ(texture->raster.at(1, 3), rgb(255, 0, 0));
    EXPECT_EQ(texture->raster.at(6, 0), rgb(0, 255, 0));
    EXPECT_EQ(texture->raster.at(0, 0), rgb(0, 0, 255));
}

struct OddSize {
    std::uint32_t width, height;
    std::size_t dataBytes;  // whole tiles
};

TEST(TplRead, SizesThatAreNotMultiplesOf4AreWalkedInWholeTiles) {
    const OddSize sizes[] = {{6, 6, 128}, {1, 1, 32}, {3, 5, 64}, {5, 3, 64}, {7, 2, 64}, {9, 4, 96}, {4, 9, 96}, {4, 4, 32}};
    for (const OddSize& s : sizes) {
        SCOPED_TRACE(::testing::Message() << s.width << "x" << s.height);
        const Bytes file = oneTexture({.height = s.height, .width = s.width, .format = 4}, counting(s.dataBytes / 2));
        ASSERT_EQ(file.size(), 64 + s.dataBytes);
        const auto info = parseTpl(file);
        ASSERT_TRUE(info.ok()) << describe(info.error());
        const auto texture = decodeTexture(file, info->images[0]);
        ASSERT_TRUE(texture.ok());
        ASSERT_EQ(texture->raster.width, static_cast<int>(s.width));
        ASSERT_EQ(texture->raster.height, static_cast<int>(s.height));
        const std::size_t tilesAcross = (s.width + 3) / 4;
        for (std::uint32_t y = 0; y < s.height; ++y)
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const std::size_t texel = 16 * ((y / 4) * tilesAcross + x / 4) + 4 * (y % 4) + x % 4;
                EXPECT_EQ(texture->raster.at(static_cast<int>(x), static_cast<int>(y)),
                          texel::decodeRgb565(static_cast<std::uint16_t>(0x1000 + texel)))
                    << "pixel " << x << "," << y;
            }

        // One byte less and the last tile is incomplete.
        const Bytes shortFile(file.begin(), file.end() - 1);
        const auto refused = parseTpl(shortFile);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error(), TplError::DataOutOfBounds);
        const auto notDecoded = decodeTexture(shortFile, info->images[0]);
        ASSERT_FALSE(notDecoded.ok());
        EXPECT_EQ(notDecoded.error(), TplError::DataOutOfBounds);
    }
}

TEST(TplRead, TexelsOutsideThePictureAreReadButNotDrawn) {
    // 6 × 6: the second tile's column 3 lies at x = 7 and the third tile's row 3
    // at y = 7, both outside the picture.
    std::vector<std::uint16_t> words = repeated(0x801F, 64);
    words[16 + 3] = 0x7C00;
    words[32 + 12] = 0x03E0;
    const Bytes file = oneTexture({.height = 6, .width = 6, .format = 5}, words);
    const auto texture = decodeTexture(file, parseTpl(file)->images[0]);
    ASSERT_TRUE(texture.ok());
    EXPECT_EQ(texture->raster, Raster(6, 6, rgb(0, 0, 255)));
    EXPECT_EQ(texture->alphaTexels, 2u);
    EXPECT_EQ(texture->lastAlphaColour, rgb(0, 255, 0));
}

TEST(TplRead, HeadersAndDataMayLieAtAnyOffset) {
    struct Placement {
        std::size_t headerAt, dataAt;
    };
    const Placement placements[] = {{20, 64}, {21, 101}, {20, 57}, {120, 20}, {33, 69}};
    const std::vector<std::uint16_t> words = counting(16);
    for (const Placement& p : placements) {
        SCOPED_TRACE(::testing::Message() << "header " << p.headerAt << ", data " << p.dataAt);
        const Bytes file = oneTexture({.format = 4}, words, p.headerAt, p.dataAt);
        const auto info = parseTpl(file);
        ASSERT_TRUE(info.ok()) << describe(info.error());
        EXPECT_EQ(info->images[0].dataOffset, p.dataAt);
        const auto texture = decodeTexture(file, info->images[0]);
        ASSERT_TRUE(texture.ok());
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(texture->raster.at(i % 4, i / 4), texel::decodeRgb565(static_cast<std::uint16_t>(0x1000 + i)));
    }
}

TEST(TplRead, UnusedFieldsNeverCauseARefusal) {
    HeaderFields odd;
    odd.format = 5;
    odd.wrapS = 0xFFFFFFFF;
    odd.wrapT = 0x80000002;
    odd.minFilter = 0x80000000;
    odd.magFilter = 7;
    odd.lodBias = 0xBF800000;  // -1.0
    odd.edgeLod = 0xFF;
    odd.minLod = 0x80;
    odd.maxLod = 0xFF;
    odd.unpacked = 0x01;
    Bytes file = oneTexture(odd, repeated(0xFC00, 16));
    put32(file, 16, 0xFFFFFFFF);  // palette offset
    file[8] = file[9] = file[10] = 0xFF;  // rest of the table offset

    const auto info = parseTpl(file);
    ASSERT_TRUE(info.ok()) << describe(info.error());
    const TplImage& image = info->images[0];
    EXPECT_EQ(image.paletteOffset, 0xFFFFFFFFu);
    EXPECT_EQ(image.wrapS, odd.wrapS);
    EXPECT_EQ(image.wrapT, odd.wrapT);
    EXPECT_EQ(image.minFilter, odd.minFilter);
    EXPECT_EQ(image.magFilter, odd.magFilter);
    EXPECT_EQ(image.lodBias, odd.lodBias);
    EXPECT_EQ(image.edgeLod, odd.edgeLod);
    EXPECT_EQ(image.minLod, odd.minLod);
    EXPECT_EQ(image.maxLod, odd.maxLod);
    EXPECT_EQ(image.unpacked, odd.unpacked);
    const auto texture = decodeTexture(file, image);
    ASSERT_TRUE(texture.ok());
    EXPECT_EQ(texture->raster, Raster(4, 4, rgb(255, 0, 0)));
}

struct Refusal {
    const char* name;
    Bytes file;
    TplError error;
};

Bytes withField32(Bytes file, std::size_t at, std::uint32_t value) {
    put32(file, at, value);
    return file;
}
Bytes withField16(Bytes file, std::size_t at, std::uint32_t value) {
    put16(file, at, value);
    return file;
}
Bytes cut(const Bytes& file, std::size_t length) { return Bytes(file.begin(), file.begin() + length); }

TEST(TplRead, RefusesFilesItCannotReadSafely) {
    const Bytes valid = oneTexture({.format = 4}, repeated(0xF800, 16));  // header at 20, data at 64
    ASSERT_EQ(valid.size(), 96u);
    // A second image, valid on its own, after a faulty first one and the other way round.
    const std::uint32_t twoHeaders[] = {28, 64};
    Bytes two = tplHead(twoHeaders);
    putImageHeader(two, 28, {.format = 4, .dataOffset = 128});
    putImageHeader(two, 64, {.format = 5, .dataOffset = 160});
    two.resize(192);
    ASSERT_TRUE(parseTpl(two).ok());

    const Refusal cases[] = {
        {"empty", {}, TplError::TooShort},
        {"11 bytes", cut(valid, 11), TplError::TooShort},
        {"wrong magic", withField32(valid, 0, 0x0020AF31), TplError::BadSignature},
        {"table offset 13", withField32(valid, 8, 13), TplError::BadSignature},
        {"count 0", withField32(valid, 4, 0), TplError::NoTextures},
        {"count 32768", withField32(valid, 4, 0x8000), TplError::CountOutOfRange},
        {"count with top bit", withField32(valid, 4, 0x80000001), TplError::CountOutOfRange},
        {"count 11 in 96 bytes", withField32(valid, 4, 11), TplError::TableOutOfBounds},
        {"table cut", cut(valid, 19), TplError::TableOutOfBounds},
        {"header offset top bit", withField32(valid, 12, 0x80000014), TplError::OffsetOutOfRange},
        {"header offset all ones", withField32(valid, 12, 0xFFFFFFFF), TplError::OffsetOutOfRange},
        {"header offset 2^31-1", withField32(valid, 12, 0x7FFFFFFF), TplError::HeaderOutOfBounds},
        {"header runs past end", withField32(valid, 12, 61), TplError::HeaderOutOfBounds},
        {"header cut", cut(valid, 55), TplError::HeaderOutOfBounds},
        {"height 0", withField16(valid, 20, 0), TplError::BadSize},
        {"width 0", withField16(valid, 22, 0), TplError::BadSize},
        {"height 32768", withField16(valid, 20, 0x8000), TplError::BadSize},
        {"width 65535", withField16(valid, 22, 0xFFFF), TplError::BadSize},
        {"data offset top bit", withField32(valid, 28, 0x80000040), TplError::OffsetOutOfRange},
        {"data offset 2^31-1", withField32(valid, 28, 0x7FFFFFFF), TplError::DataOutOfBounds},
        {"data offset at end", withField32(valid, 28, 96), TplError::DataOutOfBounds},
        {"data one byte short", cut(valid, 95), TplError::DataOutOfBounds},
        {"8x4 texture in 4x4 data", withField16(valid, 22, 8), TplError::DataOutOfBounds},
        {"RGBA8 needs 64 bytes", withField32(valid, 24, 6), TplError::DataOutOfBounds},
        {"second header out of range", withField32(two, 20, 0x80000000), TplError::OffsetOutOfRange},
        {"second texture's data short", cut(two, 191), TplError::DataOutOfBounds},
        {"first texture's width bad", withField16(two, 30, 0), TplError::BadSize},
    };
    for (const Refusal& c : cases) {
        const auto info = parseTpl(c.file);
        ASSERT_FALSE(info.ok()) << c.name;
        EXPECT_EQ(info.error(), c.error) << c.name << ": " << describe(info.error());
    }
}

TEST(TplRead, LargestSizesAndCountStillRead) {
    // 32767 × 1 and 1 × 32767 need 8192 tiles each.
    for (const auto& [width, height] : {std::pair{32767u, 1u}, std::pair{1u, 32767u}}) {
        Bytes file = oneTexture({.height = height, .width = width, .format = 5}, repeated(0xFFFF, 8192 * 16));
        const auto info = parseTpl(file);
        ASSERT_TRUE(info.ok()) << describe(info.error());
        const auto texture = decodeTexture(file, info->images[0]);
        ASSERT_TRUE(texture.ok());
        EXPECT_EQ(texture->raster, Raster(static_cast<int>(width), static_cast<int>(height), kWhite));
    }

    // 32767 table entries, all pointing at one image header behind the table.
    const std::uint32_t headerAt = 12 + 8 * 32767;
    const std::vector<std::uint32_t> offsets(32767, headerAt);
    Bytes file = tplHead(offsets);
    putImageHeader(file, headerAt, {.format = 4, .dataOffset = headerAt + 36});
    file.resize(headerAt + 36 + 32);
    const auto info = parseTpl(file);
    ASSERT_TRUE(info.ok()) << describe(info.error());
    EXPECT_EQ(info->images.size(), 32767u);
}

TEST(TplRead, DecodeRefusesWhatItCannotDraw) {
    const Bytes file = oneTexture({.format = 4}, repeated(0, 32));  // 64 bytes of data
    const TplImage base = parseTpl(file)->images[0];
    struct Case {
        const char* name;
        TplImage image;
        TplError error;
    };
    auto with = [&](auto change) {
        TplImage image = base;
        change(image);
        return image;
    };
    const Case cases[] = {
        {"CMPR", with([](TplImage& i) { i.format = 14; }), TplError::UnsupportedFormat},
        {"RGBA8", with([](TplImage& i) { i.format = 6; }), TplError::UnsupportedFormat},
        {"code 0xFFFFFFFF", with([](TplImage& i) { i.format = 0xFFFFFFFF; }), TplError::UnsupportedFormat},
        {"code 0x80000004", with([](TplImage& i) { i.format = 0x80000004; }), TplError::UnsupportedFormat},
        {"width 0", with([](TplImage& i) { i.width = 0; }), TplError::BadSize},
        {"height 40000", with([](TplImage& i) { i.height = 40000; }), TplError::BadSize},
        {"data past end", with([](TplImage& i) { i.dataOffset = 97; }), TplError::DataOutOfBounds},
        {"data far past end", with([](TplImage& i) { i.dataOffset = 0xFFFFFFF0; }), TplError::DataOutOfBounds},
        {"too wide for the data", with([](TplImage& i) { i.width = 12; }), TplError::DataOutOfBounds},
    };
    for (const Case& c : cases) {
        const auto texture = decodeTexture(file, c.image);
        ASSERT_FALSE(texture.ok()) << c.name;
        EXPECT_EQ(texture.error(), c.error) << c.name;
    }
    // Files with other formats still parse: the import reports them per texture.
    const Bytes cmpr = oneTexture({.height = 8, .width = 8, .format = 14}, repeated(0, 16));
    const auto info = parseTpl(cmpr);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(decodeTexture(cmpr, info->images[0]).error(), TplError::UnsupportedFormat);
}

// Every prefix of a small valid file is refused, with the error of the first
// structure it cuts, and decoding with the full file's headers never reads past it.
TEST(TplRead, EveryTruncationIsRefused) {
    const Raster a(8, 4, rgb(10, 20, 30)), b(4, 4, kWhite);
    const TextureInput inputs[] = {{&a, TextureFormat::RGB565, kWhite}, {&b, TextureFormat::RGB5A3, kWhite}};
    const Bytes file = buildFile(inputs);
    ASSERT_EQ(file.size(), 224u);
    const auto full = parseTpl(file);
    ASSERT_TRUE(full.ok());

    for (std::size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE(::testing::Message() << length << " bytes");
        const Bytes prefix = cut(file, length);
        const auto info = parseTpl(prefix);
        ASSERT_FALSE(info.ok());
        const TplError expected = length < 12   ? TplError::TooShort
                                  : length < 28 ? TplError::TableOutOfBounds
                                  : length < 64 ? TplError::HeaderOutOfBounds
                                                : TplError::DataOutOfBounds;
        EXPECT_EQ(info.error(), expected);

        for (const TplImage& image : full->images) {
            const auto texture = decodeTexture(prefix, image);
            const bool fits = image.dataOffset + 2u * image.width * image.height <= length;
            EXPECT_EQ(texture.ok(), fits) << "texture at " << image.dataOffset;
            if (!fits && !texture.ok()) {
                EXPECT_EQ(texture.error(), TplError::DataOutOfBounds);
            }
        }
    }
}

}  // namespace
}  // namespace tplforge
