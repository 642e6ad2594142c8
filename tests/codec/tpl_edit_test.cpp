// Taking textures out of a file and putting others in: stored bytes exactly as
// the file has them, rebuilds that change the replaced texture alone (in the
// file's own layout when it fits, afresh when not), palettes kept when the
// colours fit, and hand-made mipmaps used as given.
#include <gtest/gtest.h>

#include <map>

#include "support/tpl_files.h"
#include "tplforge/tpl_edit.h"

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;

Image pattern(std::uint32_t w, std::uint32_t h, unsigned seed) {
    Image image(w, h);
    for (std::size_t i = 0; i < image.rgba.size(); ++i)
        image.rgba[i] = static_cast<std::uint8_t>((i * 2654435761u + seed * 40503u) >> 11);
    return image;
}

// A picture of these colours only (0xRRGGBBAA), in a repeating order.
Image paintedWith(std::uint32_t w, std::uint32_t h, const std::vector<std::uint32_t>& colours) {
    Image image(w, h);
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
        const std::uint32_t c = colours[(i * 7 + i / w) % colours.size()];
        for (int k = 0; k < 4; ++k) image.rgba[4 * i + k] = static_cast<std::uint8_t>(c >> (24 - 8 * k));
    }
    return image;
}

std::vector<TextureData> storedAll(const Bytes& file) {
    std::vector<TextureData> out;
    const auto info = parseTpl(file);
    if (!info) return out;
    for (const TplImageHeader& image : info->images) out.push_back(storedTexture(file, image).value());
    return out;
}

Image decoded(const TextureData& data, unsigned level = 0) {
    TextureView view;
    view.format = data.format;
    view.width = data.width;
    view.height = data.height;
    std::size_t at = 0;
    for (unsigned l = 0; l < data.levels; ++l) {
        const auto size = levelBytes(data.format, levelSide(data.width, l), levelSide(data.height, l));
        view.levels.push_back(std::span(data.texels).subspan(at, size));
        at += size;
    }
    ByteWriter words;
    for (const std::uint16_t e : data.palette) words.u16be(e);
    if (!data.palette.empty())
        view.palette = PaletteView{data.paletteFormat, static_cast<std::uint32_t>(data.palette.size()), words.data()};
    return decodeLevel(view, level).value();
}

// The bytes of the hand-laid file, read back exactly: every byte at each
// texture's offsets, padding texels and all, and the palette words in order.
TEST(TplEdit, StoredTexturesAreTheFileBytes) {
    const Bytes file = testing::oddLayoutTpl();
    const auto stored = storedAll(file);
    ASSERT_EQ(stored.size(), 3u);
    const std::tuple<std::size_t, std::size_t, unsigned> places[] = {{224, 128, 1}, {384, 224, 2}, {640, 128, 1}};
    for (std::size_t k = 0; k < 3; ++k) {
        const auto& [offset, size, levels] = places[k];
        EXPECT_EQ(stored[k].levels, levels) << k;
        EXPECT_EQ(stored[k].texels, Bytes(file.begin() + offset, file.begin() + offset + size)) << k;
    }
    ASSERT_EQ(stored[0].palette.size(), 16u);
    for (std::size_t e = 0; e < 16; ++e)
        EXPECT_EQ(stored[0].palette[e], testing::patternByte(64 + 2 * e) << 8 | testing::patternByte(65 + 2 * e)) << e;
    const TextureSettings s = settingsOf(parseTpl(file)->images[1], file);
    EXPECT_EQ(s.sampler.wrapS, WrapMode::Repeat);
    EXPECT_EQ(s.sampler.lodBias, 0.5f);
    EXPECT_EQ(s.maxLod, 1);
}

// Replacing textures by their own bytes and settings changes nothing, in place;
// so does replacing nothing.
TEST(TplEdit, ReplacingByTheSameBytesKeepsTheFile) {
    const Bytes file = testing::oddLayoutTpl();
    const auto stored = storedAll(file);
    const auto headers = parseTpl(file).value();
    std::vector<TextureReplacement> all;
    for (std::size_t k = 0; k < stored.size(); ++k) all.push_back({k, &stored[k], settingsOf(headers.images[k], file)});
    for (const std::size_t count : {0u, 1u, 3u}) {
        const auto rebuilt = rebuildTpl(file, std::span(all).first(count));
        ASSERT_TRUE(rebuilt) << count;
        EXPECT_TRUE(rebuilt->inPlace);
        EXPECT_EQ(rebuilt->bytes, file) << count;
    }
}

// One texture replaced by a picture: in place when it keeps its size (only its
// own texels and changed header fields differ), afresh when it does not (every
// other texture's bytes and settings as they were); either way it decodes to
// what encodeTextureData gives.
TEST(TplEdit, OneReplacedTextureChangesAloneInPlaceOrAfresh) {
    const Bytes file = testing::oddLayoutTpl();
    const auto stored = storedAll(file);
    const auto headers = parseTpl(file).value();
    struct Row {
        std::size_t texture;
        Format format;
        std::uint32_t w, h;
        unsigned levels;
        bool inPlace;
    };
    const Row rows[] = {
        {1, Format::RGB5A3, 9, 6, 2, true}, {1, Format::RGB565, 9, 6, 2, true},  // same bytes, another format
        {2, Format::CMPR, 12, 12, 1, true}, {2, Format::CMPR, 16, 12, 1, false},  // another size
        {1, Format::RGB5A3, 9, 6, 1, false}, {0, Format::C4, 13, 10, 1, true},    // a palette of no more entries
        {0, Format::C8, 13, 10, 1, false},                                       // a larger palette
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.texture) + " " + std::string(formatName(row.format)) + " " +
                     std::to_string(row.w));
        const Image picture = pattern(row.w, row.h, 3);
        EncodeOptions options;
        options.format = row.format;
        options.paletteFormat = PaletteFormat::IA8;
        options.paletteEntries = 16;
        const TextureData data = encodeTextureData(picture, options, row.levels).value();
        TextureSettings settings = settingsOf(headers.images[row.texture], file);
        settings.sampler.wrapT = WrapMode::Clamp;
        if (row.levels != stored[row.texture].levels) settings.maxLod.reset();
        const TextureReplacement r{row.texture, &data, settings};
        const auto rebuilt = rebuildTpl(file, std::span(&r, 1));
        ASSERT_TRUE(rebuilt) << describe(rebuilt.error());
        EXPECT_EQ(rebuilt->inPlace, row.inPlace);
        const auto after = storedAll(rebuilt->bytes);
        const auto afterHeaders = parseTpl(rebuilt->bytes).value();
        ASSERT_EQ(after.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            const TextureSettings s = settingsOf(afterHeaders.images[k], rebuilt->bytes);
            if (k == row.texture) {
                EXPECT_EQ(after[k], data);
                EXPECT_EQ(s.sampler, settings.sampler);
            } else {
                EXPECT_EQ(after[k], stored[k]) << k;
                EXPECT_EQ(s.sampler, settingsOf(headers.images[k], file).sampler) << k;
                EXPECT_EQ(s.maxLod, settingsOf(headers.images[k], file).maxLod) << k;
            }
        }
        if (!row.inPlace) continue;
        // Only the texture's texels, palette and header fields that changed.
        const TplImageHeader& h = headers.images[row.texture];
        for (std::size_t i = 0; i < file.size(); ++i) {
            const bool texels = i >= h.dataOffset && i < h.dataOffset + data.texels.size();
            const bool palette = row.texture == 0 && ((i >= 36 && i < 48) || (i >= 64 && i < 96));
            const bool fields = i >= h.headerOffset + 4 && i < h.headerOffset + 8;  // format
            const bool wrapT = i >= h.headerOffset + 16 && i < h.headerOffset + 20;
            if (!texels && !palette && !fields && !wrapT) {
                ASSERT_EQ(rebuilt->bytes[i], file[i]) << "byte " << i;
            }
        }
    }
}

// Two table entries naming one header share every byte: a replacement of one
// cannot be made in place, and the other keeps its bytes in the new layout.
TEST(TplEdit, SharedBytesAreLaidOutAfresh) {
    const testing::HandLaidTexture t = testing::laidOut(Format::I8, 8, 4, 32, 96);
    Bytes file = testing::handLaidTpl(128, {t, t});
    const auto stored = storedAll(file);
    EncodeOptions i8;
    i8.format = Format::I8;
    const TextureData data = encodeTextureData(pattern(8, 4, 1), i8, 1).value();
    const TextureReplacement r{0, &data, settingsOf(parseTpl(file)->images[0], file)};
    const auto rebuilt = rebuildTpl(file, std::span(&r, 1));
    ASSERT_TRUE(rebuilt);
    EXPECT_FALSE(rebuilt->inPlace);
    const auto after = storedAll(rebuilt->bytes);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], data);
    EXPECT_EQ(after[1], stored[1]);
}

TEST(TplEdit, RefusesWhatCannotBeWritten) {
    const Bytes file = testing::oddLayoutTpl();
    const auto stored = storedAll(file);
    TextureData shortTexels = stored[2];
    shortTexels.texels.pop_back();
    TextureData noPalette = stored[0];
    noPalette.palette.clear();
    TextureSettings tooManyLods;
    tooManyLods.maxLod = 3;  // 12 x 12 CMPR holds one level here
    const std::vector<std::pair<std::vector<TextureReplacement>, TplEditError>> rows = {
        {{{3, &stored[2], {}}}, TplEditError::NoSuchTexture},
        {{{2, &stored[2], {}}, {2, &stored[2], {}}}, TplEditError::ReplacedTwice},
        {{{2, &shortTexels, {}}}, TplEditError::BadTextureData},
        {{{0, &noPalette, {}}}, TplEditError::BadTextureData},
        {{{2, nullptr, {}}}, TplEditError::BadTextureData},
        {{{2, &stored[2], tooManyLods}}, TplEditError::BadMaxLod},
    };
    for (const auto& [replacements, error] : rows) {
        const auto rebuilt = rebuildTpl(file, replacements);
        ASSERT_FALSE(rebuilt) << describe(error);
        EXPECT_EQ(rebuilt.error(), error) << describe(rebuilt.error());
    }
    EXPECT_EQ(rebuildTpl(Bytes{1, 2, 3}, {}).error(), TplEditError::BadSource);
}

// A palette texture edited with colours its palette shows keeps the palette,
// entries and order, duplicates and an RGB5A3 entry of alpha 7 included; a
// colour it lacks makes a new one, within the entry count asked for.
TEST(TplEdit, PaletteKeptWhenTheColoursFit) {
    // Entry 3 repeats entry 1; entry 4 is alpha 7 with 4-bit colour.
    const std::vector<std::uint16_t> palette = {0xFC00, 0x83E0, 0x801F, 0x83E0, 0x7F0F, 0x3A5F};
    const std::vector<std::uint32_t> shown = {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFF00FFFF, 0xAA55FF6D};
    struct Row {
        std::vector<std::uint32_t> colours;
        std::uint32_t entries;
        PaletteOutcome outcome;
    };
    const Row rows[] = {
        {shown, 0, PaletteOutcome::Kept},
        {{0xFF0000FF, 0xFF00FFFF}, 0, PaletteOutcome::Kept},
        {{0xFF0000FF, 0x123456FF, 0x0000FFFF}, 0, PaletteOutcome::Chosen},
        {{0xFF0000FF, 0x123456FF, 0x0000FFFF}, 2, PaletteOutcome::Merged},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.colours.size());
        const Image picture = paintedWith(10, 6, row.colours);
        EditSettings settings;
        settings.encode.format = Format::C8;
        settings.encode.paletteEntries = row.entries;
        settings.keepPalette = palette;
        const Image* levels[] = {&picture};
        const auto edited = encodeEdited(levels, settings);
        ASSERT_TRUE(edited);
        EXPECT_EQ(edited->palette, row.outcome);
        if (row.outcome == PaletteOutcome::Kept) {
            EXPECT_EQ(edited->data.palette, palette);
            EXPECT_EQ(decoded(edited->data), picture);
        } else {
            EXPECT_LE(edited->data.palette.size(), row.entries == 0 ? 256 : row.entries);
            EXPECT_EQ(edited->data, encodeTextureData(picture, settings.encode, 1).value());
        }
    }
}

// Hand-made levels land as given (lossless formats exactly), levels after them
// are made from them, and without any the bytes are those of encodeTextureData.
TEST(TplEdit, HandMadeMipmapsAreUsedAsGiven) {
    const Image top = pattern(16, 8, 1), own1 = pattern(8, 4, 2);
    const Image few = paintedWith(16, 8, {0x102030FF, 0x405060FF}), fewOwn1 = paintedWith(8, 4, {0xA0B0C0FF});
    struct Row {
        Format format;
        const Image* level0;
        const Image* level1;
    };
    const Row rows[] = {{Format::RGBA8, &top, &own1}, {Format::RGB565, &top, &own1}, {Format::IA8, &top, &own1},
                        {Format::C8, &few, &fewOwn1}, {Format::C14X2, &few, &fewOwn1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(formatName(row.format));
        EditSettings settings;
        settings.encode.format = row.format;
        settings.levels = 3;
        const Image* given[] = {row.level0, row.level1};
        const auto edited = encodeEdited(given, settings);
        ASSERT_TRUE(edited);
        // What the format holds of a picture, as the encoder leaves it.
        const auto held = [&](const Image& picture) {
            return decoded(encodeTextureData(picture, settings.encode, 1).value());
        };
        EXPECT_EQ(decoded(edited->data, 0), held(*row.level0));
        EXPECT_EQ(decoded(edited->data, 1), held(*row.level1));
        if (!isPaletteFormat(row.format)) {
            EXPECT_EQ(decoded(edited->data, 2), held(halveImage(*row.level1)));
        }
        const Image* alone[] = {row.level0, nullptr};
        EXPECT_EQ(encodeEdited(alone, settings)->data, encodeTextureData(*row.level0, settings.encode, 3).value());
    }
    const Image wrongSize = pattern(8, 8, 3);
    const Image* wrong[] = {&top, &wrongSize};
    EditSettings settings;
    settings.levels = 2;
    EXPECT_EQ(encodeEdited(wrong, settings).error(), CodecError::WrongPictureSize);
}

}  // namespace
}  // namespace tplforge
