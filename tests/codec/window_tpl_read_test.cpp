// Reading TPL files: decoded colours, the whole-tile walk, what the reader takes and
// the refusal of every file it cannot read safely.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/window_rules.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint16_t>;
using enum TplError;

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
                  std::tuple(Raster(4, 4, colour), alpha ? 16u : 0u, alpha ? colour : kBlack))
            << "format " << format << " word " << std::hex << word;
    }
    // Header and data at odd offsets, junk in every field the reader does not use.
    Bytes file = patched(oneTexture(4, 4, 5, Words(16, 0xFC00), 21, 65), {{8, 0xFFFFFF0C}, {16, 0xFFFFFFFF}});
    std::fill(file.begin() + 33, file.begin() + 57, 0xFF);  // sampling fields: top bits, LOD bias < 0
    EXPECT_EQ(readFirst(file).value().raster, Raster(4, 4, rgb(255, 0, 0)));
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
    Raster expected(6, 6, rgb(0, 0, 255));
    expected.at(1, 3) = rgb(255, 0, 0);
    expected.at(5, 0) = rgb(0, 255, 0);
    const window_rules::DecodedTexture t = readFirst(file).value();
    EXPECT_EQ(std::tuple(t.raster, t.alphaTexels, t.lastAlphaColour), std::tuple(expected, 3u, kWhite));
    EXPECT_EQ(readFirst(Bytes(file.begin(), file.end() - 1)).error(), DataOutOfBounds);
    EXPECT_EQ(readFirst(oneTexture(32767, 1, 4, Words(8192 * 16, 0xFFFF))).value().raster, Raster(32767, 1, kWhite));
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
