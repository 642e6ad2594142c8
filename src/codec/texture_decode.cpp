// Decoding every GX format to RGBA, one block row at a time: each format turns
// the bytes of one row of a block into RGBA texels, and one walk places them.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/cmpr.h"
#include "codec/texel.h"
#include "tplforge/texture.h"

namespace tplforge {

namespace {

using texel::Rgba;

void put(std::uint8_t* out, Rgba c) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

void putGrey(std::uint8_t* out, std::uint8_t i, std::uint8_t a) {
    out[0] = out[1] = out[2] = i;
    out[3] = a;
}

std::uint16_t word(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// The palette as RGBA, as large as the format can index; entries the file does
// not hold stay transparent black.
std::vector<Rgba> paletteColours(Format format, const PaletteView* palette) {
    std::vector<Rgba> colours(formatInfo(format).maxPaletteEntries, Rgba{0, 0, 0, 0});
    if (!palette) return colours;
    const std::size_t n = std::min<std::size_t>(palette->entryCount, colours.size());
    for (std::size_t i = 0; i < n; ++i)
        colours[i] = texel::decodeEntry(palette->format, word(&palette->words[2 * i]));
    return colours;
}

// Walks the blocks in file order; `decodeRow(block, r, out)` writes the
// block's row r as blockWidth RGBA texels. Rows and columns of partial blocks
// beyond the picture are decoded into scratch and dropped.
template <class DecodeRow>
void walk(const FormatInfo& info, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
          std::span<std::uint8_t> rgba, DecodeRow decodeRow) {
    const std::size_t stride = std::size_t{width} * 4;
    std::array<std::uint8_t, 8 * 4> scratch{};
    std::size_t at = 0;
    for (std::uint32_t by = 0; by < height; by += info.blockHeight) {
        const std::uint32_t rows = std::min(info.blockHeight, height - by);
        for (std::uint32_t bx = 0; bx < width; bx += info.blockWidth, at += info.blockBytes) {
            const std::uint8_t* block = &data[at];
            const std::uint32_t cols = std::min(info.blockWidth, width - bx);
            for (std::uint32_t r = 0; r < rows; ++r) {
                std::uint8_t* out = &rgba[(by + r) * stride + 4 * bx];
                if (cols == info.blockWidth) {
                    decodeRow(block, r, out);
                } else {
                    decodeRow(block, r, scratch.data());
                    std::memcpy(out, scratch.data(), 4 * cols);
                }
            }
        }
    }
}

}  // namespace

void decodeTexels(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                  const PaletteView* palette, std::span<std::uint8_t> rgba) {
    const FormatInfo info = formatInfo(format);
    switch (format) {
        case Format::I4:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) {
                    const std::uint8_t hi = texel::widen4(b[4 * r + i] >> 4), lo = texel::widen4(b[4 * r + i] & 15);
                    putGrey(o + 8 * i, hi, hi);
                    putGrey(o + 8 * i + 4, lo, lo);
                }
            });
        case Format::I8:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 8; ++i) putGrey(o + 4 * i, b[8 * r + i], b[8 * r + i]);
            });
        case Format::IA4:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 8; ++i)
                    putGrey(o + 4 * i, texel::widen4(b[8 * r + i] & 15), texel::widen4(b[8 * r + i] >> 4));
            });
        case Format::IA8:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) putGrey(o + 4 * i, b[8 * r + 2 * i + 1], b[8 * r + 2 * i]);
            });
        case Format::RGB565:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) put(o + 4 * i, texel::decodeRgb565(word(b + 8 * r + 2 * i)));
            });
        case Format::RGB5A3:
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) put(o + 4 * i, texel::decodeRgb5a3(word(b + 8 * r + 2 * i)));
            });
        case Format::RGBA8:
            // Bytes 0..31 hold (alpha, red) pairs, bytes 32..63 (green, blue), in texel order.
            return walk(info, data, width, height, rgba, [](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (std::uint32_t i = 0; i < 4; ++i) {
                    const std::uint8_t* ar = b + 2 * (4 * r + i);
                    put(o + 4 * i, {ar[1], ar[32], ar[33], ar[0]});
                }
            });
        case Format::C4: {
            const auto colours = paletteColours(format, palette);
            return walk(info, data, width, height, rgba, [&](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) {
                    put(o + 8 * i, colours[b[4 * r + i] >> 4]);
                    put(o + 8 * i + 4, colours[b[4 * r + i] & 15]);
                }
            });
        }
        case Format::C8: {
            const auto colours = paletteColours(format, palette);
            return walk(info, data, width, height, rgba, [&](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 8; ++i) put(o + 4 * i, colours[b[8 * r + i]]);
            });
        }
        case Format::C14X2: {
            const auto colours = paletteColours(format, palette);
            return walk(info, data, width, height, rgba, [&](const std::uint8_t* b, std::uint32_t r, std::uint8_t* o) {
                for (int i = 0; i < 4; ++i) put(o + 4 * i, colours[word(b + 8 * r + 2 * i) & 0x3FFF]);
            });
        }
        case Format::CMPR: return cmpr::decodeLevel(data, width, height, rgba);
    }
}

Image decodeLevel(const TextureView& texture, unsigned level) {
    Image image(levelSide(texture.width, level), levelSide(texture.height, level));
    decodeTexels(texture.format, texture.levels.at(level), image.width, image.height,
                 texture.palette ? &*texture.palette : nullptr, image.rgba);
    return image;
}

}  // namespace tplforge
