// Decoding every GX format to RGBA: the texel data of a chunk of blocks is
// converted as one run, then its texels are placed in the picture's rows.
#include <algorithm>
#include <array>

#include "codec/block_order.h"
#include "codec/texel.h"
#include "codec/texel_runs.h"
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

// A CMPR sub-block: two RGB565 words, then a byte a row with the leftmost texel
// in the top two bits.
void decodeCmprSubBlock(const std::uint8_t* in, std::uint8_t* out, std::size_t stride, int cols, int rows) {
    const std::uint16_t w0 = word(in), w1 = word(in + 2);
    const Rgba c0 = texel::decodeRgb565(w0), c1 = texel::decodeRgb565(w1);
    std::array<Rgba, 4> palette{c0, c1};
    if (w0 > w1) {
        palette[2] = {static_cast<std::uint8_t>((5 * c0.r + 3 * c1.r) >> 3),
                      static_cast<std::uint8_t>((5 * c0.g + 3 * c1.g) >> 3),
                      static_cast<std::uint8_t>((5 * c0.b + 3 * c1.b) >> 3), 255};
        palette[3] = {static_cast<std::uint8_t>((3 * c0.r + 5 * c1.r) >> 3),
                      static_cast<std::uint8_t>((3 * c0.g + 5 * c1.g) >> 3),
                      static_cast<std::uint8_t>((3 * c0.b + 5 * c1.b) >> 3), 255};
    } else {
        palette[2] = {static_cast<std::uint8_t>((c0.r + c1.r) >> 1), static_cast<std::uint8_t>((c0.g + c1.g) >> 1),
                      static_cast<std::uint8_t>((c0.b + c1.b) >> 1), 255};
        palette[3] = palette[2];
        palette[3].a = 0;
    }
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t bits = in[4 + r];
        for (int c = 0; c < cols; ++c) put(out + r * stride + 4 * c, palette[(bits >> (6 - 2 * c)) & 3]);
    }
}

void decodeCmpr(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                std::span<std::uint8_t> rgba) {
    const std::size_t stride = std::size_t{width} * 4;
    std::size_t at = 0;
    for (std::uint32_t by = 0; by < height; by += 8) {
        for (std::uint32_t bx = 0; bx < width; bx += 8) {
            for (std::uint32_t s = 0; s < 4; ++s, at += 8) {
                const std::uint32_t x = bx + 4 * (s & 1), y = by + 4 * (s >> 1);
                if (x >= width || y >= height) continue;
                const int cols = static_cast<int>(std::min<std::uint32_t>(4, width - x));
                const int rows = static_cast<int>(std::min<std::uint32_t>(4, height - y));
                decodeCmprSubBlock(&data[at], &rgba[y * stride + 4 * x], stride, cols, rows);
            }
        }
    }
}

using DecodeRun = void (*)(const std::uint8_t*, std::size_t, std::uint32_t*);
using UnpackRun = void (*)(const std::uint8_t*, std::size_t, std::uint16_t*);

template <std::uint32_t BW, std::uint32_t BH>
void decodeWith(std::span<const std::uint8_t> data, std::size_t blockBytes, std::uint32_t width, std::uint32_t height,
                std::span<std::uint8_t> rgba, DecodeRun run) {
    blocks::toRows<BW, BH, std::uint32_t>(data.data(), blockBytes, width, height, rgba.data(), std::size_t{width} * 4,
                                          run);
}

// Indices first, then a look-up a texel: the palette, as RGBA words.
template <std::uint32_t BW, std::uint32_t BH>
void decodeIndexed(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                   const PaletteView* palette, std::span<std::uint8_t> rgba, UnpackRun unpack) {
    std::vector<std::uint32_t> colours;
    for (const Rgba c : paletteColours(format, palette))
        colours.push_back(std::uint32_t{c.r} | std::uint32_t{c.g} << 8 | std::uint32_t{c.b} << 16 |
                          std::uint32_t{c.a} << 24);
    const std::uint32_t* table = colours.data();
    const auto lookUp = [table, unpack](const std::uint8_t* in, std::size_t n, std::uint32_t* texels) {
        std::uint16_t indices[blocks::kChunkTexels];
        unpack(in, n, indices);
        for (std::size_t i = 0; i < n; ++i) texels[i] = table[indices[i]];
    };
    blocks::toRows<BW, BH, std::uint32_t>(data.data(), formatInfo(format).blockBytes, width, height, rgba.data(),
                                          std::size_t{width} * 4, lookUp);
}

}  // namespace

void decodeTexels(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                  const PaletteView* palette, std::span<std::uint8_t> rgba) {
    const std::size_t blockBytes = formatInfo(format).blockBytes;
    switch (format) {
        case Format::I4: return decodeWith<8, 8>(data, blockBytes, width, height, rgba, runs::decodeI4);
        case Format::I8: return decodeWith<8, 4>(data, blockBytes, width, height, rgba, runs::decodeI8);
        case Format::IA4: return decodeWith<8, 4>(data, blockBytes, width, height, rgba, runs::decodeIa4);
        case Format::IA8: return decodeWith<4, 4>(data, blockBytes, width, height, rgba, runs::decodeIa8);
        case Format::RGB565: return decodeWith<4, 4>(data, blockBytes, width, height, rgba, runs::decodeRgb565);
        case Format::RGB5A3: return decodeWith<4, 4>(data, blockBytes, width, height, rgba, runs::decodeRgb5a3);
        case Format::RGBA8: return decodeWith<4, 4>(data, blockBytes, width, height, rgba, runs::decodeRgba8);
        case Format::C4: return decodeIndexed<8, 8>(format, data, width, height, palette, rgba, runs::unpackC4);
        case Format::C8: return decodeIndexed<8, 4>(format, data, width, height, palette, rgba, runs::unpackC8);
        case Format::C14X2: return decodeIndexed<4, 4>(format, data, width, height, palette, rgba, runs::unpackC14x2);
        case Format::CMPR: return decodeCmpr(data, width, height, rgba);
    }
}

Image decodeLevel(const TextureView& texture, unsigned level) {
    Image image(levelSide(texture.width, level), levelSide(texture.height, level));
    decodeTexels(texture.format, texture.levels.at(level), image.width, image.height,
                 texture.palette ? &*texture.palette : nullptr, image.rgba);
    return image;
}

}  // namespace tplforge
