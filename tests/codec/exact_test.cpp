// A picture made only of texels a format holds comes back texel for texel: texel
// data holding every value of the format, or random values, or every entry of a
// palette, is decoded into a picture, which is encoded as a whole TPL and decoded
// again. Where the format is not a palette the texel data must come back too, but
// for the eight RGB5A3 words whose texel the opaque form also shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "codec/gx/texel.h"
#include "tplforge/texture.h"
#include "tplforge/tpl.h"

namespace tplforge {
namespace {

// Words of distinct RGB5A3 texels, every other one of 3-bit alpha 7.
std::vector<std::uint16_t> rgb5a3Words(std::size_t n, std::mt19937& rng) {
    std::vector<std::uint16_t> words;
    std::set<std::uint32_t> seen;
    while (words.size() < n) {
        auto w = static_cast<std::uint16_t>(rng());
        if (words.size() % 2) w = static_cast<std::uint16_t>((w & 0x0FFF) | 0x7000);
        if (seen.insert(texel::packed(texel::decodeRgb5a3(w))).second) words.push_back(w);
    }
    return words;
}

// Words of distinct texels of any palette format.
std::vector<std::uint16_t> entryWords(PaletteFormat format, std::size_t n, std::mt19937& rng) {
    if (format == PaletteFormat::RGB5A3) return rgb5a3Words(n, rng);
    std::vector<std::uint16_t> words;
    std::set<std::uint16_t> seen;
    while (words.size() < n)
        if (const auto w = static_cast<std::uint16_t>(rng()); seen.insert(w).second) words.push_back(w);
    return words;
}

// 3-bit alpha 7 with every channel 0 or 15: the opaque form shows the same texel.
bool opaqueFormShowsToo(std::uint16_t w) {
    const auto full = [](unsigned field) { return field == 0 || field == 15; };
    return w >> 12 == 7 && full(w >> 8 & 15u) && full(w >> 4 & 15u) && full(w & 15u);
}

enum class Fill { EveryValue, Rgb5a3Words, RandomBytes };

// Texel data holding one value a texel, in file order.
std::vector<std::uint8_t> texelData(const FormatInfo& info, std::uint32_t side,
                                    const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> data(levelBytes(info.format, side, side));
    const std::uint32_t mask = info.bitsPerTexel < 32 ? (1u << info.bitsPerTexel) - 1 : ~0u;
    for (std::size_t k = 0; k < values.size(); ++k) {
        const std::uint32_t v = values[k] & mask;
        if (info.bitsPerTexel == 4) data[k / 2] = static_cast<std::uint8_t>(data[k / 2] | v << (k % 2 ? 0 : 4));
        if (info.bitsPerTexel == 8) data[k] = static_cast<std::uint8_t>(v);
        if (info.bitsPerTexel == 16)
            data[2 * k] = static_cast<std::uint8_t>(v >> 8), data[2 * k + 1] = static_cast<std::uint8_t>(v);
    }
    return data;
}

Image decoded(std::span<const std::uint8_t> file) {
    const auto tpl = parseTpl(file);
    if (!tpl) return Image(0, 0);
    const auto view = textureView(file, tpl->images[0]);
    if (!view) return Image(0, 0);
    auto picture = decodeLevel(*view, 0);
    return picture ? std::move(picture).value() : Image(0, 0);
}

TEST(Exact, PicturesAFormatHoldsComeBackTexelForTexel) {
    constexpr auto IA8 = PaletteFormat::IA8, RGB565 = PaletteFormat::RGB565, RGB5A3 = PaletteFormat::RGB5A3;
    const struct {
        Format format;
        std::uint32_t side;
        Fill fill;
        PaletteFormat palette = RGB5A3;
    } rows[] = {
        {Format::I4, 32, Fill::EveryValue},         {Format::I8, 32, Fill::EveryValue},
        {Format::IA4, 32, Fill::EveryValue},        {Format::IA8, 256, Fill::EveryValue},
        {Format::RGB565, 256, Fill::EveryValue},    {Format::RGB5A3, 256, Fill::EveryValue},
        {Format::RGB5A3, 32, Fill::Rgb5a3Words},    {Format::RGBA8, 32, Fill::RandomBytes},
        {Format::C4, 32, Fill::EveryValue},         {Format::C8, 32, Fill::EveryValue},
        {Format::C14X2, 32, Fill::EveryValue},      {Format::C8, 32, Fill::EveryValue, IA8},
        {Format::C4, 32, Fill::EveryValue, RGB565},
    };
    std::mt19937 rng(13);
    for (const auto& row : rows) {
        const FormatInfo info = formatInfo(row.format);
        SCOPED_TRACE(::testing::Message()
                     << info.name << " " << row.side << " fill " << int(row.fill) << " palette " << int(row.palette));
        const std::size_t texels = std::size_t{row.side} * row.side;
        // Palettes: every entry used, as many entries as the format or the picture allows.
        const std::size_t entries = std::min<std::size_t>(info.maxPaletteEntries, texels);
        std::vector<std::uint32_t> values(texels);
        for (std::size_t k = 0; k < texels; ++k)
            values[k] = static_cast<std::uint32_t>(entries ? k % entries : k);
        if (entries) std::shuffle(values.begin(), values.end(), rng);
        if (row.fill == Fill::Rgb5a3Words) {
            const auto words = rgb5a3Words(texels, rng);
            values.assign(words.begin(), words.end());
        }
        std::vector<std::uint8_t> data = texelData(info, row.side, values);
        if (row.fill == Fill::RandomBytes)
            std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(rng()); });
        std::vector<std::uint8_t> table;
        for (const std::uint16_t w : entryWords(row.palette, entries, rng))
            table.insert(table.end(), {static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)});
        const PaletteView palette{row.palette, static_cast<std::uint32_t>(entries), table};

        Image picture(row.side, row.side);
        ASSERT_TRUE(decodeTexels(row.format, data, row.side, row.side,
                                 formatInfo(row.format).maxPaletteEntries ? &palette : nullptr, picture.rgba));
        TextureInput input{&picture, {}, 1, {}};
        input.options.format = row.format;
        input.options.paletteFormat = row.palette;
        const auto file = encodeTpl({&input, 1});
        ASSERT_TRUE(file);
        const Image back = decoded(*file);
        ASSERT_EQ(back.rgba.size(), picture.rgba.size());
        std::size_t changed = 0;
        for (std::size_t i = 0; i < picture.rgba.size(); i += 4)
            changed += !std::equal(&picture.rgba[i], &picture.rgba[i + 4], &back.rgba[i]);
        EXPECT_EQ(changed, 0u) << "of " << texels;
        if (entries) continue;
        // The data itself, a 16-bit word or two texels at a time.
        const auto texture = textureView(*file, parseTpl(*file)->images[0]);
        const auto got = texture->levels[0];
        ASSERT_EQ(got.size(), data.size());
        std::size_t moved = 0, ambiguous = 0;
        for (std::size_t i = 0; i < data.size(); i += 2) {
            moved += got[i] != data[i] || got[i + 1] != data[i + 1];
            ambiguous += row.format == Format::RGB5A3 &&
                         opaqueFormShowsToo(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]));
        }
        EXPECT_EQ(moved, ambiguous);
        if (row.format == Format::RGB5A3 && row.fill == Fill::EveryValue) {
            EXPECT_EQ(ambiguous, 8u);
        }
    }
}

}  // namespace
}  // namespace tplforge
