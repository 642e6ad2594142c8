// Decoding every GX format to RGBA: the texel data of a chunk of blocks is
// converted as one run, then its texels are placed in the picture's rows; the
// formats whose conversion costs most, and the palettes, go straight to the rows
// a block row at a time.
#include <algorithm>
#include <array>

#include "codec/gx/block_order.h"
#include "codec/gx/block_rows.h"
#include "codec/gx/cmpr.h"
#include "codec/gx/texel.h"
#include "codec/gx/texel_runs.h"
#include "tplforge/texture.h"

namespace tplforge {

namespace {

std::uint16_t word(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// The palette as RGBA words, as many as the format can index; entries the file
// does not hold stay transparent black.
std::vector<std::uint32_t> paletteTable(Format format, const PaletteView* palette) {
    std::vector<std::uint32_t> table(formatInfo(format).maxPaletteEntries, 0);
    if (!palette) return table;
    const std::size_t n = std::min<std::size_t>(palette->entryCount, table.size());
    for (std::size_t i = 0; i < n; ++i)
        table[i] = texel::packed(texel::decodeEntry(palette->format, word(&palette->words[2 * i])));
    return table;
}

using DecodeRun = void (*)(const std::uint8_t*, std::size_t, std::uint32_t*);

template <std::uint32_t BW, std::uint32_t BH>
void decodeWith(std::span<const std::uint8_t> data, std::size_t blockBytes, std::uint32_t width, std::uint32_t height,
                std::span<std::uint8_t> rgba, DecodeRun run) {
    blocks::toRows<BW, BH, std::uint32_t>(data.data(), blockBytes, width, height, rgba.data(), std::size_t{width} * 4,
                                          run);
}

void decodeByBlockRows(std::span<const std::uint8_t> data, std::size_t blockBytes, std::uint32_t width,
                       std::uint32_t height, std::span<std::uint8_t> rgba, block_rows::Decode run) {
    blocks::toBlockRows<4, 4>(data.data(), blockBytes, width, height, rgba.data(), std::size_t{width} * 4, run);
}

// A look-up a texel, straight into the rows.
template <std::uint32_t BW, std::uint32_t BH>
void decodeIndexed(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                   const PaletteView* palette, std::span<std::uint8_t> rgba, block_rows::LookUp lookUp) {
    const std::vector<std::uint32_t> colours = paletteTable(format, palette);
    const std::uint32_t* table = colours.data();
    const auto run = [table, lookUp](const std::uint8_t* in, std::size_t blocks, std::uint32_t* const* rows) {
        lookUp(in, blocks, table, rows);
    };
    blocks::toBlockRows<BW, BH>(data.data(), formatInfo(format).blockBytes, width, height, rgba.data(),
                                std::size_t{width} * 4, run);
}

void decodeChecked(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                   const PaletteView* palette, std::span<std::uint8_t> rgba);

}  // namespace

Expected<void, CodecError> decodeTexels(Format format, std::span<const std::uint8_t> data, std::uint32_t width,
                                        std::uint32_t height, const PaletteView* palette,
                                        std::span<std::uint8_t> rgba) {
    const auto info = formatInfo(static_cast<std::uint32_t>(format));
    if (!info) return fail(CodecError::UnknownFormat);
    if (width == 0 || height == 0 || rgba.size() != std::size_t{width} * height * 4)
        return fail(CodecError::WrongPictureSize);
    if (data.size() != levelBytes(format, width, height)) return fail(CodecError::WrongDataSize);
    if (info->maxPaletteEntries > 0 && !palette) return fail(CodecError::NeedsPalette);
    if (info->maxPaletteEntries == 0 && palette) return fail(CodecError::NotPaletteFormat);
    if (palette && palette->words.size() < std::size_t{palette->entryCount} * 2) return fail(CodecError::WrongDataSize);
    decodeChecked(format, data, width, height, palette, rgba);
    return {};
}

Expected<Image, CodecError> decodeLevel(const TextureView& texture, unsigned level) {
    if (level >= texture.levels.size()) return fail(CodecError::NoSuchLevel);
    Image image(levelSide(texture.width, level), levelSide(texture.height, level));
    auto done = decodeTexels(texture.format, texture.levels[level], image.width, image.height,
                             texture.palette ? &*texture.palette : nullptr, image.rgba);
    if (!done) return fail(done.error());
    return image;
}

namespace {

void decodeChecked(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                   const PaletteView* palette, std::span<std::uint8_t> rgba) {
    const std::size_t blockBytes = formatInfo(format).blockBytes;
    switch (format) {
        case Format::I4: return decodeWith<8, 8>(data, blockBytes, width, height, rgba, runs::decodeI4);
        case Format::I8: return decodeWith<8, 4>(data, blockBytes, width, height, rgba, runs::decodeI8);
        case Format::IA4: return decodeWith<8, 4>(data, blockBytes, width, height, rgba, runs::decodeIa4);
        case Format::IA8: return decodeWith<4, 4>(data, blockBytes, width, height, rgba, runs::decodeIa8);
        case Format::RGB565:
            return decodeByBlockRows(data, blockBytes, width, height, rgba, block_rows::kernels().decodeRgb565);
        case Format::RGB5A3:
            return decodeByBlockRows(data, blockBytes, width, height, rgba, block_rows::kernels().decodeRgb5a3);
        case Format::RGBA8:
            return decodeByBlockRows(data, blockBytes, width, height, rgba, block_rows::kernels().decodeRgba8);
        case Format::C4:
            return decodeIndexed<8, 8>(format, data, width, height, palette, rgba, block_rows::kernels().lookUpC4);
        case Format::C8:
            return decodeIndexed<8, 4>(format, data, width, height, palette, rgba, block_rows::kernels().lookUpC8);
        case Format::C14X2:
            return decodeIndexed<4, 4>(format, data, width, height, palette, rgba, block_rows::kernels().lookUpC14x2);
        case Format::CMPR: return cmpr::decodeLevel(data, width, height, rgba);
    }
}

}  // namespace

}  // namespace tplforge
