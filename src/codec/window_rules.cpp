#include "codec/window_rules.h"

#include "codec/block_order.h"
#include "codec/block_rows.h"
#include "codec/texel_runs.h"
#include "codec/window_texel.h"

namespace tplforge::window_rules {

namespace {

const std::uint8_t* bytesOf(const Raster& raster) { return reinterpret_cast<const std::uint8_t*>(raster.pixels.data()); }
std::uint8_t* bytesOf(Raster& raster) { return reinterpret_cast<std::uint8_t*>(raster.pixels.data()); }
std::size_t strideOf(const Raster& raster) { return static_cast<std::size_t>(raster.width) * sizeof(ColourValue); }

// The last alpha texel of the data, texels outside the picture too, as the
// window finds it: searched from the end, which is short whenever there are any.
void findLastAlphaTexel(std::span<const std::uint8_t> data, DecodedTexture& out) {
    if (out.alphaTexels == 0) return;
    for (std::size_t i = data.size() / 2; i-- > 0;) {
        const auto word = static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
        if (isAlphaTexel(word)) {
            out.lastAlphaColour = decodeRgb5a3(word);
            return;
        }
    }
}

}  // namespace

void encodeTexture(const Texture& texture, std::span<std::uint8_t> out) {
    const Raster& raster = *texture.raster;
    const auto width = static_cast<std::uint32_t>(raster.width), height = static_cast<std::uint32_t>(raster.height);
    const block_rows::Kernels& kernels = block_rows::kernels();
    if (texture.rgb5a3) {
        const ColourValue key = texture.alphaColour;
        blocks::fromBlockRows(bytesOf(raster), strideOf(raster), width, height, 32, out.data(),
                              [&](const ColourValue* const rows[4], std::size_t blocks, std::uint8_t* o) {
                                  kernels.encodeWindowRgb5a3(rows, blocks, key, o);
                              });
    } else {
        blocks::fromBlockRows(bytesOf(raster), strideOf(raster), width, height, 32, out.data(),
                              kernels.encodeWindowRgb565);
    }
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
    // Every pixel is decoded over, so the raster starts unset. Alpha texels are
    // counted over every block, those reaching outside the picture too, as the
    // window counts them.
    DecodedTexture out;
    out.raster = Raster::unset(static_cast<int>(image.width), static_cast<int>(image.height));
    const block_rows::Kernels& kernels = block_rows::kernels();
    std::uint8_t* rows = bytesOf(out.raster);
    if (rgb5a3) {
        const auto run = [&](const std::uint8_t* in, std::size_t blocks, ColourValue* const rowsOfBlocks[4]) {
            out.alphaTexels += kernels.decodeWindowRgb5a3(in, blocks, rowsOfBlocks);
        };
        blocks::toBlockRows<4, 4>(data.data(), 32, image.width, image.height, rows, strideOf(out.raster), run);
        findLastAlphaTexel(data, out);
    } else {
        blocks::toBlockRows<4, 4>(data.data(), 32, image.width, image.height, rows, strideOf(out.raster),
                                  kernels.decodeWindowRgb565);
    }
    return out;
}

Raster overSurface(const Image& picture) {
    Raster raster = Raster::unset(static_cast<int>(picture.width), static_cast<int>(picture.height));
    runs::overSurface(picture.rgba.data(), raster.pixels.size(), raster.pixels.data());
    return raster;
}

Image opaqueImage(const Raster& raster) {
    Image image(static_cast<std::uint32_t>(raster.width), static_cast<std::uint32_t>(raster.height));
    for (std::size_t i = 0; i < raster.pixels.size(); ++i) {
        const ColourValue c = raster.pixels[i];
        std::uint8_t* p = &image.rgba[4 * i];
        p[0] = static_cast<std::uint8_t>(redOf(c));
        p[1] = static_cast<std::uint8_t>(greenOf(c));
        p[2] = static_cast<std::uint8_t>(blueOf(c));
        p[3] = 255;
    }
    return image;
}

}  // namespace tplforge::window_rules
