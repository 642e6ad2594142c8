#include "codec/window_rules.h"

#include <algorithm>

#include "codec/window_texel.h"

namespace tplforge::window_rules {

namespace {

template <bool Rgb5a3>
void encodeTiles(const Raster& raster, ColourValue alphaColour, std::span<std::uint8_t> out) {
    std::size_t p = 0;
    for (int ty = 0; ty < raster.height; ty += 4) {
        for (int tx = 0; tx < raster.width; tx += 4) {
            for (int y = 0; y < 4; ++y) {
                const ColourValue* row = raster.row(ty + y) + tx;
                for (int x = 0; x < 4; ++x) {
                    const std::uint16_t w = Rgb5a3 ? encodeRgb5a3(row[x], alphaColour) : encodeRgb565(row[x]);
                    out[p] = static_cast<std::uint8_t>(w >> 8);
                    out[p + 1] = static_cast<std::uint8_t>(w);
                    p += 2;
                }
            }
        }
    }
}

// Every word's colour, looked up whole: one load a texel instead of three field
// lookups and the shifts to join them. 256 KiB and 128 KiB, built on first use.
template <bool Rgb5a3>
const std::vector<ColourValue>& colourTable() {
    static const std::vector<ColourValue> table = [] {
        std::vector<ColourValue> t(Rgb5a3 ? 0x8000 : 0x10000);
        for (std::size_t w = 0; w < t.size(); ++w)
            t[w] = Rgb5a3 ? decodeRgb5a3(static_cast<std::uint16_t>(w)) : decodeRgb565(static_cast<std::uint16_t>(w));
        return t;
    }();
    return table;
}

// Alpha texels are counted without a branch: they lie scattered through a
// picture, and a mispredicted branch per texel costs more than the decode itself.
template <bool Rgb5a3>
void decodeTiles(std::span<const std::uint8_t> data, DecodedTexture& out) {
    Raster& raster = out.raster;
    const int width = raster.width, height = raster.height;
    const std::span<const ColourValue> colours = colourTable<Rgb5a3>();
    constexpr std::uint16_t kIndexMask = Rgb5a3 ? 0x7FFF : 0xFFFF;
    std::size_t alphaTexels = 0;
    std::uint16_t lastAlpha = 0;
    std::size_t t = 0;
    for (int y0 = 0; y0 < height; y0 += 4) {
        const int rows = std::min(4, height - y0);
        for (int x0 = 0; x0 < width; x0 += 4) {
            const int cols = std::min(4, width - x0);
            const auto tile = data.subspan(t, 32);
            t += 32;
            for (int r = 0; r < 4; ++r) {
                std::uint16_t w[4];
                for (int c = 0; c < 4; ++c)
                    w[c] = static_cast<std::uint16_t>((tile[8 * r + 2 * c] << 8) | tile[8 * r + 2 * c + 1]);
                if constexpr (Rgb5a3) {
                    for (const std::uint16_t word : w) {
                        const bool alpha = isAlphaTexel(word);
                        alphaTexels += alpha;
                        lastAlpha = alpha ? word : lastAlpha;
                    }
                }
                if (r >= rows) continue;
                ColourValue* row = raster.row(y0 + r) + x0;
                if (cols == 4) {
                    for (int c = 0; c < 4; ++c) row[c] = colours[w[c] & kIndexMask];
                } else {
                    for (int c = 0; c < cols; ++c) row[c] = colours[w[c] & kIndexMask];
                }
            }
        }
    }
    out.alphaTexels = alphaTexels;
    if (alphaTexels > 0) out.lastAlphaColour = decodeRgb5a3(lastAlpha);
}

}  // namespace

void encodeTexture(const Texture& texture, std::span<std::uint8_t> out) {
    if (texture.rgb5a3)
        encodeTiles<true>(*texture.raster, texture.alphaColour, out);
    else
        encodeTiles<false>(*texture.raster, texture.alphaColour, out);
}

Expected<std::vector<std::uint8_t>, TplWriteError> buildTpl(std::span<const Texture> textures) {
    std::vector<TextureLayout> layouts;
    for (const Texture& t : textures) {
        const int w = t.raster->width, h = t.raster->height;
        if (w % 4 != 0 || h % 4 != 0) return fail(TplWriteError::SideNotMultipleOf4);
        if (static_cast<std::uint32_t>(w) > kMaxSide || static_cast<std::uint32_t>(h) > kMaxSide)
            return fail(TplWriteError::SideTooLarge);
        TextureLayout layout;
        layout.format = t.rgb5a3 ? Format::RGB5A3 : Format::RGB565;
        layout.width = static_cast<std::uint32_t>(w);
        layout.height = static_cast<std::uint32_t>(h);
        layouts.push_back(layout);
    }
    auto writer = TplWriter::plan(layouts, TplWriter::Padding::AfterHeaders);
    if (!writer) return fail(writer.error());
    for (std::size_t k = 0; k < textures.size(); ++k) encodeTexture(textures[k], writer->level(k, 0));
    return std::move(*writer).finish();
}

Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file, const TplImage& image) {
    const bool rgb5a3 = image.format == static_cast<std::uint32_t>(Format::RGB5A3);
    if (!rgb5a3 && image.format != static_cast<std::uint32_t>(Format::RGB565)) return fail(TplError::UnsupportedFormat);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
        return fail(TplError::BadSize);
    const std::uint64_t size = levelBytes(image.format, image.width, image.height);
    if (std::uint64_t{image.dataOffset} + size > file.size()) return fail(TplError::DataOutOfBounds);

    const auto data = file.subspan(image.dataOffset, static_cast<std::size_t>(size));
    DecodedTexture out;
    out.raster = Raster(image.width, image.height);
    if (rgb5a3)
        decodeTiles<true>(data, out);
    else
        decodeTiles<false>(data, out);
    return out;
}

Raster overSurface(const Image& picture) {
    Raster raster(static_cast<int>(picture.width), static_cast<int>(picture.height));
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto in = picture.row(y);
        ColourValue* out = raster.row(static_cast<int>(y));
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = &in[4 * x];
            out[x] = p[3] == 255 ? rgb(p[0], p[1], p[2]) : blendOver(p[0], p[1], p[2], p[3]);
        }
    }
    return raster;
}

}  // namespace tplforge::window_rules
