// TPL files under the window's rules. Written: header block, padding, offsets,
// file size and the tile order of the texture data, the refusal of every prefix,
// and decode → encode giving them back. Read: decoded colours, the whole-tile
// walk, and the refusal of every file the reader cannot read safely.
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "tplforge/bytes.h"
#include "window_rules/window_rules.h"
#include "window_rules/window_rules.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint16_t>;
using enum TplError;
// The window writes these two formats only.
constexpr bool RGB565 = false, RGB5A3 = true;

// Odd textures are RGB5A3, even ones RGB565. Pixel (x, y) of texture k encodes to a
// word that tells which pixel was read there; pixel (0, 0) of texture 1 has the alpha colour.
TEST(TplLayout, WholeFileTruncationsAndDecodeEncode) {
    // Per texture: width, height, header offset, data offset. The first data offset is the next
    // multiple of 32 above the headers.
    const std::vector<std::array<std::uint32_t, 4>> files[] = {
        {{4, 4, 20, 64}},
        {{8, 4, 28, 128}, {4, 4, 64, 192}},
        {{4, 4, 36, 160}, {4, 4, 72, 192}, {4, 4, 108, 224}},
        {{4, 4, 44, 192}, {8, 8, 80, 224}, {4, 4, 116, 352}, {4, 12, 152, 384}},
        {{4, 4, 52, 256}, {8, 8, 88, 288}, {4, 4, 124, 416}, {4, 8, 160, 448}, {12, 4, 196, 512}},
    };
    for (const auto& textures : files) {
        const std::size_t n = textures.size();
        SCOPED_TRACE(::testing::Message() << n << " textures");
        std::vector<WindowRaster> rasters(n);
        std::vector<window_rules::Texture> inputs;
        ByteWriter expected, tiles;
        for (const std::uint32_t field : {0x0020AF30u, static_cast<std::uint32_t>(n), 12u}) expected.u32be(field);
        for (std::size_t k = 0; k < n; ++k) {
            for (const std::uint32_t field : {textures[k][2], 0u}) expected.u32be(field);  // no palette
            WindowRaster& r = rasters[k] = WindowRaster(static_cast<int>(textures[k][0]), static_cast<int>(textures[k][1]));
            inputs.push_back({&r, k % 2 ? RGB5A3 : RGB565, k == 1 ? window_rules::decodeRgb5a3(0x1000) : kWhite});
            // Tiles row by row, and within a tile its pixels row by row, high byte first.
            for (int i = 0, across = r.width / 4; i < r.width * r.height; ++i) {
                const int x = i / 16 % across * 4 + i % 4, y = i / 16 / across * 4 + i % 16 / 4;
                const bool opaque = k % 2 && (k != 1 || x || y);
                const auto word = static_cast<std::uint16_t>((opaque ? 0x8000 : 0) | k << 12 | y << 4 | x);
                r.at(x, y) = k % 2 ? window_rules::decodeRgb5a3(word) : window_rules::decodeRgb565(word);
                tiles.u16be(word);
            }
        }
        // Size, format, data offset, wrap S and T, min and mag filter, LOD bias, the four LOD bytes.
        for (std::size_t k = 0; k < n; ++k)
            for (const std::uint32_t field : {textures[k][1] << 16 | textures[k][0], k % 2 ? 5u : 4u, textures[k][3],
                                              0u, 0u, 1u, 1u, 0u, 0u})
                expected.u32be(field);
        expected.zeros(textures[0][3] - expected.size());
        expected.append(tiles.data());
        const Bytes file = window_rules::buildTpl(inputs).value();
        ASSERT_EQ(file, expected.data());

        // Each prefix is refused with the error of the first structure it cuts, and decoding
        // with the whole file's headers never reads past it.
        const TplHeaders whole = parseTpl(file).value();
        const std::uint32_t header = textures[0][2];
        for (std::size_t length = 0; length < file.size(); ++length) {
            const Bytes prefix(file.begin(), file.begin() + length);
            EXPECT_EQ(parseTpl(prefix).error(), length < 12           ? TooShort
                                                : length < header      ? TableOutOfBounds
                                                : length < header + 36 ? HeaderOutOfBounds
                                                                       : DataOutOfBounds) << length << " bytes";
            for (const TplImageHeader& t : whole.images)
                EXPECT_EQ(window_rules::decodeTexture(prefix, t).ok(), t.dataOffset + 2u * t.width * t.height <= length);
        }
        for (std::size_t k = 0; k < n; ++k) {
            window_rules::DecodedTexture decoded = window_rules::decodeTexture(file, whole.images[k]).value();
            rasters[k] = std::move(decoded.raster);
            // A texture without alpha texels is encoded against a colour none decodes to.
            inputs[k].alphaColour = decoded.alphaTexels ? decoded.lastAlphaColour : rgb(1, 1, 1);
        }
        EXPECT_EQ(window_rules::buildTpl(inputs).value(), file);
    }
}

TEST(TplLayout, WriterRefusals) {
    using enum window_rules::WriteError;
    const WindowRaster good(4, 4), width6(6, 4), huge(32768, 4), big(1024, 1024);
    const std::pair<std::vector<window_rules::Texture>, window_rules::WriteError> cases[] = {
        {{}, NoTextures}, {{{&huge, RGB565, kWhite}}, SideTooLarge},
        {{{&good, RGB565, kWhite}, {&width6, RGB5A3, kWhite}}, SideNotMultipleOf4},
        // 1024 references to one 1024 × 1024 picture: 2 GiB of data, beyond what is read back.
        {std::vector<window_rules::Texture>(1024, {&big, RGB565, kWhite}), FileTooLarge},
    };
    for (const auto& [inputs, error] : cases)
        EXPECT_EQ(window_rules::buildTpl(inputs).error(), error) << window_rules::describe(error);
}

// Big-endian 32-bit fields poked into a copy, growing it with zeros as needed.
Bytes patched(Bytes b, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields) {
    for (const auto& [at, v] : fields) {
        b.resize(std::max(b.size(), at + 4));
        for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
    return b;
}

// One texture, its header at `header`, its texel words from `data` on; unused fields zero.
Bytes oneTexture(std::uint32_t width, std::uint32_t height, std::uint32_t format, const Words& words,
                 std::uint32_t header = 20, std::uint32_t data = 64) {
    Bytes b = patched({}, {{0, 0x0020AF30}, {4, 1}, {8, 12}, {12, header}, {header, height << 16 | width},
                           {header + 4, format}, {header + 8, data}, {data - 4, 0}});
    for (const std::uint16_t w : words)
        for (const int shift : {8, 0}) b.push_back(static_cast<std::uint8_t>(w >> shift));
    return b;
}

// The file's first texture, or the first refusal on the way to it.
Expected<window_rules::DecodedTexture, TplError> readFirst(const Bytes& file) {
    const auto info = parseTpl(file);
    if (!info) return fail(info.error());
    return window_rules::decodeTexture(file, info->images[0]);
}

TEST(TplRead, DecodedColoursAlphaTexelsOddOffsetsAndUnusedFields) {
    // Format, word, colour, whether it is an alpha texel.
    const std::tuple<std::uint32_t, std::uint16_t, ColourValue, bool> cases[] = {
        {4, 0xFFFF, kWhite, false}, {4, 0x0821, rgb(9, 5, 9), false}, {5, 0x0821, rgb(17, 9, 9), true},
        {5, 0xFFFF, kWhite, false}, {5, 0x7FFF, kWhite, true},         {5, 0x8000, kBlack, false},
    };
    for (const auto& [format, word, colour, alpha] : cases) {
        const window_rules::DecodedTexture t = readFirst(oneTexture(4, 4, format, Words(16, word))).value();
        EXPECT_EQ(std::tuple(t.raster, t.alphaTexels, t.lastAlphaColour),
                  std::tuple(WindowRaster(4, 4, colour), alpha ? 16u : 0u, alpha ? colour : kBlack))
            << "format " << format << " word " << std::hex << word;
    }
    // Header and data at odd offsets, junk in every field the reader does not use.
    Bytes file = patched(oneTexture(4, 4, 5, Words(16, 0xFC00), 21, 65), {{8, 0xFFFFFF0C}, {16, 0xFFFFFFFF}});
    std::fill(file.begin() + 33, file.begin() + 57, 0xFF);  // sampling fields: top bits, LOD bias < 0
    EXPECT_EQ(readFirst(file).value().raster, WindowRaster(4, 4, rgb(255, 0, 0)));
}

// 6 × 6 is four whole tiles, 32767 × 1 (the largest side) 8192; texels outside the
// picture are read (an alpha texel there still counts and sets the alpha colour) but not drawn.
TEST(TplRead, WholeTiles) {
    Words words(64, 0x801F);
    words[13] = 0x7C00;       // (1, 3), red, alpha: first in file order
    words[16 + 1] = 0x03E0;   // (5, 0), green, alpha: first row by row
    words[16 + 2] = 0xFC00;   // (6, 0), outside
    words[32 + 12] = 0x7FFF;  // (0, 7), outside, the last alpha texel
    const Bytes file = oneTexture(6, 6, 5, words);
    WindowRaster expected(6, 6, rgb(0, 0, 255));
    expected.at(1, 3) = rgb(255, 0, 0);
    expected.at(5, 0) = rgb(0, 255, 0);
    const window_rules::DecodedTexture t = readFirst(file).value();
    EXPECT_EQ(std::tuple(t.raster, t.alphaTexels, t.lastAlphaColour), std::tuple(expected, 3u, kWhite));
    EXPECT_EQ(readFirst(Bytes(file.begin(), file.end() - 1)).error(), DataOutOfBounds);
    EXPECT_EQ(readFirst(oneTexture(32767, 1, 4, Words(8192 * 16, 0xFFFF))).value().raster, WindowRaster(32767, 1, kWhite));
}

TEST(TplRead, RefusesFilesItCannotReadSafely) {
    const Bytes valid = oneTexture(4, 4, 4, Words(16, 0xF800));  // header at 20, data at 64, 96 bytes
    const std::pair<Bytes, TplError> cases[] = {
        // Two 8 × 8 textures, headers at 28 and 64, in 192 bytes, both with their data at 64: each
        // fits, but together they announce 256 bytes.
        {patched(valid, {{4, 2}, {12, 28}, {20, 64}, {28, 0x00080008}, {32, 4}, {36, 64}, {64, 0x00080008}, {68, 4},
                         {72, 64}, {188, 0}}), DataOutOfBounds},
        {patched(valid, {{4, 0}}), NoTextures}, {patched(valid, {{4, 0x8000}}), CountOutOfRange},
        {patched(valid, {{4, 11}}), TableOutOfBounds},                 // 11 table entries need 100 bytes
        {patched(valid, {{12, 0x80000014}}), OffsetOutOfRange},        // header offset, top bit
        {patched(valid, {{12, 0x7FFFFFFF}}), HeaderOutOfBounds},
        {patched(valid, {{12, 61}}), HeaderOutOfBounds},               // header runs past the end
        {patched(valid, {{20, 0x00040000}}), BadSize},                 // width 0
        {patched(valid, {{20, 0x80000004}}), BadSize},                 // height 32768
        {patched(valid, {{28, 0x80000040}}), OffsetOutOfRange},        // data offset, top bit
        {patched(valid, {{28, 0x7FFFFFFF}}), DataOutOfBounds},
        {patched(valid, {{24, 6}}), DataOutOfBounds},                  // RGBA8 needs 64 bytes
        {patched(valid, {{24, 14}}), UnsupportedFormat},               // CMPR: its 32 bytes are there
        {patched(valid, {{24, 0x80000004}}), UnsupportedFormat},       // no format; RGB565 in the low bits
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto read = readFirst(cases[row].first);
        EXPECT_EQ(read ? std::optional<TplError>() : read.error(), cases[row].second) << "row " << row;
    }
}

}  // namespace
}  // namespace tplforge
