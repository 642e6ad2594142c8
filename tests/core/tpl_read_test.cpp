// Reading TPL files: decoded colours, the whole-tile walk, the refusal of every file
// the reader cannot read safely, and encode → decode → encode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint16_t>;

// Big-endian pokes on a copy, growing it with zeros as needed.
Bytes with16(Bytes b, std::size_t at, std::uint32_t v) {
    b.resize(std::max(b.size(), at + 2));
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
    return b;
}
Bytes with32(Bytes b, std::size_t at, std::uint32_t v) { return with16(with16(std::move(b), at, v >> 16), at + 2, v); }
Bytes cut(const Bytes& b, std::size_t length) { return Bytes(b.begin(), b.begin() + length); }

// Header at 20, texel words from 64 to the end of the file, sampling fields zero.
Bytes oneTexture(std::uint32_t width, std::uint32_t height, std::uint32_t format, const Words& words) {
    Bytes b = with32(with32(with32({0x00, 0x20, 0xAF, 0x30}, 4, 1), 8, 12), 12, 20);
    b = with32(with32(with16(with16(b, 20, height), 22, width), 24, format), 28, 64);
    for (std::size_t i = 0; i < words.size(); ++i) b = with16(std::move(b), 64 + 2 * i, words[i]);
    return b;
}

DecodedTexture decodeOnly(const Bytes& file) { return decodeTexture(file, parseTpl(file).value().images[0]).value(); }

TEST(TplRead, DecodedColoursAndAlphaTexels) {
    struct Case {
        std::uint32_t format;
        std::uint16_t word;
        ColourValue colour;
        bool alpha;
    };
    const Case cases[] = {
        {4, 0xFFFF, kWhite, false},       {4, 0x07E0, rgb(0, 255, 0), false}, {4, 0x001F, rgb(0, 0, 255), false},
        {4, 0x0821, rgb(9, 5, 9), false}, {5, 0xFFFF, kWhite, false},         {5, 0x7FFF, kWhite, true},
        {5, 0x8000, kBlack, false},       {5, 0x0000, kBlack, true},          {5, 0x0821, rgb(17, 9, 9), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << " word " << std::hex << c.word);
        const DecodedTexture texture = decodeOnly(oneTexture(4, 4, c.format, Words(16, c.word)));
        EXPECT_EQ(texture.raster, Raster(4, 4, c.colour));
        EXPECT_EQ(texture.alphaTexels, c.alpha ? 16u : 0u);
        EXPECT_EQ(texture.lastAlphaColour, c.alpha ? c.colour : kBlack);
    }
}

// 6 × 6 is four whole tiles; texels outside the picture are read (an alpha texel
// there still counts and sets the alpha colour) but not drawn.
TEST(TplRead, SixBySixIsFourWholeTiles) {
    Words words(64, 0x801F);
    words[13] = 0x7C00;       // (1, 3), red, alpha: first in file order
    words[16 + 1] = 0x03E0;   // (5, 0), green, alpha: first row by row
    words[16 + 2] = 0xFC00;   // (6, 0), outside
    words[32 + 12] = 0x7FFF;  // (0, 7), outside, the last alpha texel
    const Bytes file = oneTexture(6, 6, 5, words);
    const DecodedTexture texture = decodeOnly(file);
    Raster expected(6, 6, rgb(0, 0, 255));
    expected.at(1, 3) = rgb(255, 0, 0);
    expected.at(5, 0) = rgb(0, 255, 0);
    EXPECT_EQ(texture.raster, expected);
    EXPECT_EQ(texture.alphaTexels, 3u);
    EXPECT_EQ(texture.lastAlphaColour, kWhite);
    EXPECT_EQ(parseTpl(cut(file, file.size() - 1)).error(), TplError::DataOutOfBounds);
}

// What the decoder takes: headers and data at odd offsets, junk in every field it
// does not use, the largest side; and which formats it refuses.
TEST(TplRead, OddOffsetsUnusedFieldsLargestSideAndOtherFormats) {
    Bytes file = oneTexture(4, 4, 5, Words(16, 0xFC00));
    file.insert(file.begin() + 20, 0xFF);  // header at 21, data at 65
    file = with32(with32(std::move(file), 12, 21), 21 + 8, 65);
    std::fill(file.begin() + 8, file.begin() + 11, 0xFF);   // rest of the table offset
    std::fill(file.begin() + 16, file.begin() + 20, 0xFF);  // palette offset
    std::fill(file.begin() + 33, file.begin() + 57, 0xFF);  // sampling fields: top bits, LOD bias < 0
    EXPECT_EQ(decodeOnly(file).raster, Raster(4, 4, rgb(255, 0, 0)));
    EXPECT_EQ(decodeOnly(oneTexture(32767, 1, 4, Words(8192 * 16, 0xFFFF))).raster, Raster(32767, 1, kWhite));
    TplImage image = parseTpl(file).value().images[0];
    for (const std::uint32_t format : {6u, 14u, 0xFFFFFFFFu, 0x80000004u}) {
        image.format = format;
        EXPECT_EQ(decodeTexture(file, image).error(), TplError::UnsupportedFormat) << format;
    }
}

TEST(TplRead, RefusesFilesItCannotReadSafely) {
    const Bytes valid = oneTexture(4, 4, 4, Words(16, 0xF800));  // header at 20, data at 64, 96 bytes
    // Two 4 × 4 textures (headers at 28 and 64, 192 bytes) both announced as 8 × 8 at offset 64: each
    // fits, but together they announce 256 bytes of data.
    const Raster four(4, 4);
    const TextureInput two[] = {{&four, TextureFormat::RGB565, 0}, {&four, TextureFormat::RGB565, 0}};
    Bytes shared = buildTpl(two).value();
    for (const std::size_t h : {28u, 64u}) shared = with32(with32(shared, h, 0x00080008), h + 8, 64);
    const std::pair<Bytes, TplError> cases[] = {
        {shared, TplError::DataOutOfBounds},
        {with32(valid, 4, 0), TplError::NoTextures},                   // count 0
        {with32(valid, 4, 0x8000), TplError::CountOutOfRange},         // count 32768
        {with32(valid, 4, 11), TplError::TableOutOfBounds},            // count 11 in 96 bytes
        {with32(valid, 12, 0x80000014), TplError::OffsetOutOfRange},   // header offset top bit
        {with32(valid, 12, 0x7FFFFFFF), TplError::HeaderOutOfBounds},  // header offset 2^31-1
        {with32(valid, 12, 61), TplError::HeaderOutOfBounds},          // header runs past end
        {with16(valid, 22, 0), TplError::BadSize},                     // width 0
        {with16(valid, 20, 0x8000), TplError::BadSize},                // height 32768
        {with32(valid, 28, 0x80000040), TplError::OffsetOutOfRange},   // data offset top bit
        {with32(valid, 28, 0x7FFFFFFF), TplError::DataOutOfBounds},    // data offset 2^31-1
        {with32(valid, 24, 6), TplError::DataOutOfBounds},             // RGBA8 needs 64 bytes
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto info = parseTpl(cases[row].first);
        EXPECT_EQ(info.ok() ? std::optional<TplError>() : info.error(), cases[row].second) << "row " << row;
    }
}

// Every prefix of a small valid file is refused with the error of the first
// structure it cuts, and decoding with the full file's headers never reads past it.
TEST(TplRead, EveryTruncationIsRefused) {
    const Raster a(8, 4, rgb(10, 20, 30)), b(4, 4, kWhite);
    const TextureInput inputs[] = {{&a, TextureFormat::RGB565, kWhite}, {&b, TextureFormat::RGB5A3, kWhite}};
    const Bytes file = buildTpl(inputs).value();
    ASSERT_EQ(file.size(), 224u);
    const TplInfo full = parseTpl(file).value();
    for (std::size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE(::testing::Message() << length << " bytes");
        const Bytes prefix = cut(file, length);
        const TplError expected = length < 12   ? TplError::TooShort
                                  : length < 28 ? TplError::TableOutOfBounds
                                  : length < 64 ? TplError::HeaderOutOfBounds
                                                : TplError::DataOutOfBounds;
        EXPECT_EQ(parseTpl(prefix).error(), expected);
        for (const TplImage& image : full.images)
            EXPECT_EQ(decodeTexture(prefix, image).ok(), image.dataOffset + 2u * image.width * image.height <= length);
    }
}

// Random files; in RGB5A3 textures some pixels take the alpha colour, and those
// that share its 5-5-5 fields become it (no file could tell the two apart).
TEST(TplRoundTrip, EncodeDecodeEncodeGivesTheSameFile) {
    constexpr ColourValue kNeverDecoded = rgb(1, 1, 1);  // no decoded channel is 1
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        std::vector<Raster> rasters(1 + rng() % 5);
        std::vector<TextureInput> inputs, again;
        for (Raster& r : rasters) {
            r = Raster(4 * static_cast<int>(1 + rng() % 16), 4 * static_cast<int>(1 + rng() % 16));
            for (ColourValue& c : r.pixels) c = rng() & 0xFFFFFF;
            const TextureFormat format = rng() % 2 ? TextureFormat::RGB565 : TextureFormat::RGB5A3;
            ColourValue alpha = kNeverDecoded;
            if (format == TextureFormat::RGB5A3 && rng() % 4 != 0) {
                alpha = r.pixels[rng() % r.pixels.size()];
                const std::uint16_t key = texel::encodeRgb5a3(alpha, alpha);
                for (ColourValue& c : r.pixels)
                    if (rng() % 5 == 0 || (texel::encodeRgb5a3(c, alpha) & 0x7FFF) == key) c = alpha;
            }
            inputs.push_back({&r, format, alpha});
        }
        const Bytes first = buildTpl(inputs).value();
        const TplInfo info = parseTpl(first).value();
        std::vector<DecodedTexture> decoded(rasters.size());
        for (std::size_t k = 0; k < decoded.size(); ++k) {
            decoded[k] = decodeTexture(first, info.images.at(k)).value();
            again.push_back({&decoded[k].raster, inputs[k].format,
                             decoded[k].alphaTexels ? decoded[k].lastAlphaColour : kNeverDecoded});
        }
        EXPECT_TRUE(buildTpl(again).value() == first);
    }
}

}  // namespace
}  // namespace tplforge
