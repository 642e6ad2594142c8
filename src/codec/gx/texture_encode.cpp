// Encoding every GX format from RGBA: the picture's texels are gathered into
// block order a chunk at a time (edge texels repeated where a partial block
// reaches past the picture) and converted as one run, or, for the formats whose
// conversion costs most, converted straight from the rows a block row at a time.
#include <algorithm>
#include <string_view>

#include "codec/gx/block_order.h"
#include "codec/gx/block_rows.h"
#include "codec/gx/cmpr.h"
#include "codec/gx/quantize.h"
#include "codec/gx/texel_runs.h"
#include "codec/gx/texture_encode.h"
#include "tplforge/texture.h"

namespace tplforge {

namespace {

using EncodeRun = void (*)(const std::uint32_t*, std::size_t, std::uint8_t*);

template <std::uint32_t BW, std::uint32_t BH>
void encodeWith(const PixelRows& picture, std::size_t blockBytes, std::span<std::uint8_t> out, EncodeRun run) {
    blocks::fromRows<BW, BH, std::uint32_t>(picture.rgba.data(), std::size_t{picture.width} * 4, picture.width,
                                            picture.height, blockBytes, out.data(), run);
}

void encodeByBlockRows(const PixelRows& picture, std::size_t blockBytes, std::span<std::uint8_t> out,
                       block_rows::Encode run) {
    blocks::fromBlockRows(picture.rgba.data(), std::size_t{picture.width} * 4, picture.width, picture.height,
                          blockBytes, out.data(), run);
}

}  // namespace

std::string describe(CodecError error) {
    switch (error) {
        case CodecError::UnknownFormat: return "a texture format code GX does not define";
        case CodecError::WrongDataSize: return "the texel data is not the size of the picture in whole blocks";
        case CodecError::WrongPictureSize: return "the pixels are not the size of the picture, or the picture is empty";
        case CodecError::NeedsPalette: return "a palette format needs its palette";
        case CodecError::NotPaletteFormat: return "indices or a palette for a format that takes none";
        case CodecError::IndexOutOfRange: return "an index past the entries of the palette";
        case CodecError::NoSuchLevel: return "the texture has no such level";
        case CodecError::TooManyLevels: return "more mipmap levels than the picture or the console allows";
        case CodecError::SideTooLarge: return "a side is larger than 32767 pixels";
    }
    return "unknown error";
}

namespace {

bool knownFormat(Format format) { return formatInfo(static_cast<std::uint32_t>(format)).has_value(); }

bool pictureFits(const Image& picture) {
    return !picture.empty() && picture.rgba.size() == std::size_t{picture.width} * picture.height * 4;
}

}  // namespace

void encodeChecked(const PixelRows& picture, const EncodeOptions& options, std::span<std::uint8_t> out) {
    const std::size_t blockBytes = formatInfo(options.format).blockBytes;
    switch (options.format) {
        case Format::I4: return encodeWith<8, 8>(picture, blockBytes, out, runs::encodeI4);
        case Format::I8: return encodeWith<8, 4>(picture, blockBytes, out, runs::encodeI8);
        case Format::IA4: return encodeWith<8, 4>(picture, blockBytes, out, runs::encodeIa4);
        case Format::IA8: return encodeWith<4, 4>(picture, blockBytes, out, runs::encodeIa8);
        case Format::RGB565: return encodeByBlockRows(picture, blockBytes, out, block_rows::kernels().encodeRgb565);
        case Format::RGB5A3: return encodeByBlockRows(picture, blockBytes, out, block_rows::kernels().encodeRgb5a3);
        case Format::RGBA8: return encodeByBlockRows(picture, blockBytes, out, block_rows::kernels().encodeRgba8);
        case Format::CMPR:
            return cmpr::encodeLevel(picture.rgba, picture.width, picture.height, options.quality, options.threads,
                                     out);
        case Format::C4:
        case Format::C8:
        case Format::C14X2: break;  // refused by the callers
    }
}

namespace {

PixelRows pixelsOf(const Image& picture) { return {picture.rgba, picture.width, picture.height}; }

void packChecked(Format format, std::span<const std::uint16_t> indices, std::uint32_t width, std::uint32_t height,
                 std::span<std::uint8_t> out) {
    const auto* rows = reinterpret_cast<const std::uint8_t*>(indices.data());
    const std::size_t stride = std::size_t{width} * 2;
    const std::size_t blockBytes = formatInfo(format).blockBytes;
    switch (format) {
        case Format::C4:
            return blocks::fromRows<8, 8, std::uint16_t>(rows, stride, width, height, blockBytes, out.data(), runs::packC4);
        case Format::C8:
            return blocks::fromRows<8, 4, std::uint16_t>(rows, stride, width, height, blockBytes, out.data(), runs::packC8);
        case Format::C14X2:
            return blocks::fromRows<4, 4, std::uint16_t>(rows, stride, width, height, blockBytes, out.data(),
                                                         runs::packC14x2);
        default: break;
    }
}

}  // namespace

std::uint32_t paletteEntryLimit(const EncodeOptions& options) {
    const std::uint32_t most = formatInfo(options.format).maxPaletteEntries;
    return options.paletteEntries == 0 ? most : std::min(most, options.paletteEntries);
}

namespace {

Expected<void, CodecError> checkLevels(const TextureInput& t) {
    if (!t.picture || !pictureFits(*t.picture)) return fail(CodecError::WrongPictureSize);
    if (!knownFormat(t.options.format)) return fail(CodecError::UnknownFormat);
    if (t.picture->width > kMaxSide || t.picture->height > kMaxSide) return fail(CodecError::SideTooLarge);
    if (t.levels == 0 || t.levels > kMaxLevels || t.levels > levelsToOne(t.picture->width, t.picture->height))
        return fail(CodecError::TooManyLevels);
    return {};
}

// Levels of one texture from `firstLevel` on, each written where `levelOut(l)`
// says, and its palette handed to `setPalette`.
template <class LevelOut, class SetPalette>
void encodeLevels(const TextureInput& t, unsigned firstLevel, LevelOut levelOut, SetPalette setPalette) {
    const FormatInfo info = formatInfo(t.options.format);
    if (info.maxPaletteEntries > 0) firstLevel = 0;
    // One palette serves every level: chosen for the picture, the smaller levels
    // are mapped onto it.
    palette::Palette colours;
    std::vector<std::uint16_t> indices;
    Image halved;
    const Image* level = t.picture;
    for (unsigned l = 0; l < t.levels; ++l) {
        if (l > 0) {
            halved = halveImage(*level);
            level = &halved;
        }
        if (l < firstLevel) continue;
        const std::span<std::uint8_t> out = levelOut(l);
        if (info.maxPaletteEntries == 0) {
            encodeChecked(pixelsOf(*level), t.options, out);
            continue;
        }
        indices.resize(std::size_t{level->width} * level->height);
        if (l == 0) {
            const palette::Options options{t.options.paletteFormat, paletteEntryLimit(t.options), t.options.dither,
                                           t.options.quality};
            colours = palette::quantize(*level, options, indices);
        } else {
            palette::mapToPalette(*level, colours, t.options.dither, indices);
        }
        packChecked(t.options.format, indices, level->width, level->height, out);
    }
    if (info.maxPaletteEntries > 0) setPalette(colours.entries);
}

}  // namespace

Expected<void, CodecError> encodeTexels(const Image& picture, const EncodeOptions& options,
                                        std::span<std::uint8_t> out) {
    if (!knownFormat(options.format)) return fail(CodecError::UnknownFormat);
    if (isPaletteFormat(options.format)) return fail(CodecError::NeedsPalette);
    if (!pictureFits(picture)) return fail(CodecError::WrongPictureSize);
    if (out.size() != levelBytes(options.format, picture.width, picture.height)) return fail(CodecError::WrongDataSize);
    encodeChecked(pixelsOf(picture), options, out);
    return {};
}

Expected<void, CodecError> packIndices(Format format, std::span<const std::uint16_t> indices, std::uint32_t width,
                                       std::uint32_t height, std::span<std::uint8_t> out) {
    if (!knownFormat(format)) return fail(CodecError::UnknownFormat);
    const std::uint32_t entries = formatInfo(format).maxPaletteEntries;
    if (entries == 0) return fail(CodecError::NotPaletteFormat);
    if (width == 0 || height == 0 || indices.size() != std::size_t{width} * height)
        return fail(CodecError::WrongPictureSize);
    if (out.size() != levelBytes(format, width, height)) return fail(CodecError::WrongDataSize);
    for (const std::uint16_t i : indices)
        if (i >= entries) return fail(CodecError::IndexOutOfRange);
    packChecked(format, indices, width, height, out);
    return {};
}

Expected<TplWriter, TplWriteError> planTpl(std::span<const TextureInput> textures) {
    std::vector<TextureLayout> layouts;
    layouts.reserve(textures.size());
    for (const TextureInput& t : textures) {
        if (!t.picture || t.picture->empty()) return fail(TplWriteError::EmptyPicture);
        TextureLayout& layout = layouts.emplace_back();
        layout.format = t.options.format;
        layout.width = t.picture->width;
        layout.height = t.picture->height;
        layout.levels = t.levels;
        layout.paletteFormat = t.options.paletteFormat;
        layout.sampler = t.sampler;
    }
    return TplWriter::plan(layouts);
}

Expected<void, CodecError> encodeTexture(TplWriter& writer, std::size_t k, const TextureInput& t,
                                         unsigned firstLevel) {
    if (auto checked = checkLevels(t); !checked) return checked;
    // The writer was planned for this texture: its levels are there, or the
    // caller asks for another texture than it planned.
    for (unsigned l = 0; l < t.levels; ++l) {
        const auto out = writer.level(k, l);
        if (!out || out->size() != levelBytes(t.options.format, levelSide(t.picture->width, l),
                                              levelSide(t.picture->height, l)))
            return fail(CodecError::NoSuchLevel);
    }
    encodeLevels(
        t, firstLevel, [&](unsigned l) { return *writer.level(k, l); },
        [&](std::span<const std::uint16_t> entries) { (void)writer.setPalette(k, entries); });
    return {};
}

Expected<std::vector<std::uint8_t>, TplWriteError> encodeTpl(std::span<const TextureInput> textures) {
    for (const TextureInput& t : textures)
        if (auto checked = checkLevels(t); !checked) {
            switch (checked.error()) {
                case CodecError::UnknownFormat: return fail(TplWriteError::UnknownFormat);
                case CodecError::TooManyLevels: return fail(TplWriteError::TooManyLevels);
                case CodecError::SideTooLarge: return fail(TplWriteError::SideTooLarge);
                default: return fail(TplWriteError::EmptyPicture);
            }
        }
    auto writer = planTpl(textures);
    if (!writer) return fail(writer.error());
    for (std::size_t k = 0; k < textures.size(); ++k) (void)encodeTexture(*writer, k, textures[k]);
    return std::move(*writer).finish();
}

Expected<TextureData, CodecError> encodeTextureData(const Image& picture, const EncodeOptions& options,
                                                    unsigned levels) {
    const TextureInput input{&picture, options, levels, {}};
    if (auto checked = checkLevels(input); !checked) return fail(checked.error());
    TextureData data;
    data.format = options.format;
    data.width = picture.width;
    data.height = picture.height;
    data.levels = levels;
    if (isPaletteFormat(options.format)) data.paletteFormat = options.paletteFormat;
    std::vector<std::size_t> starts;
    std::size_t total = 0;
    for (unsigned l = 0; l < levels; ++l) {
        starts.push_back(total);
        total += static_cast<std::size_t>(
            levelBytes(options.format, levelSide(picture.width, l), levelSide(picture.height, l)));
    }
    starts.push_back(total);
    data.texels.resize(total);
    encodeLevels(
        input, 0, [&](unsigned l) { return std::span(data.texels).subspan(starts[l], starts[l + 1] - starts[l]); },
        [&](std::span<const std::uint16_t> entries) { data.palette.assign(entries.begin(), entries.end()); });
    return data;
}

}  // namespace tplforge
