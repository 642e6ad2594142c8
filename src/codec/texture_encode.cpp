// Encoding every GX format from RGBA: the picture's texels are gathered into
// block order a chunk at a time (edge texels repeated where a partial block
// reaches past the picture) and converted as one run, or, for the formats whose
// conversion costs most, converted straight from the rows a block row at a time.
#include <algorithm>

#include "codec/block_order.h"
#include "codec/block_rows.h"
#include "codec/cmpr.h"
#include "codec/quantize.h"
#include "codec/texel_runs.h"
#include "tplforge/texture.h"

namespace tplforge {

namespace {

using EncodeRun = void (*)(const std::uint32_t*, std::size_t, std::uint8_t*);

template <std::uint32_t BW, std::uint32_t BH>
void encodeWith(const Image& picture, std::size_t blockBytes, std::span<std::uint8_t> out, EncodeRun run) {
    blocks::fromRows<BW, BH, std::uint32_t>(picture.rgba.data(), picture.stride(), picture.width, picture.height,
                                            blockBytes, out.data(), run);
}

void encodeByBlockRows(const Image& picture, std::size_t blockBytes, std::span<std::uint8_t> out,
                       block_rows::Encode run) {
    blocks::fromBlockRows(picture.rgba.data(), picture.stride(), picture.width, picture.height, blockBytes,
                          out.data(), run);
}

}  // namespace

void encodeTexels(const Image& picture, const EncodeOptions& options, std::span<std::uint8_t> out) {
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
            return cmpr::encodeLevel(picture.rgba, picture.width, picture.height, options.quality,
                                     options.threads, out);
        case Format::C4:
        case Format::C8:
        case Format::C14X2: break;  // indices need a palette first: see encodeTpl
    }
}

void packIndices(Format format, std::span<const std::uint16_t> indices, std::uint32_t width, std::uint32_t height,
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

unsigned fullLevelCount(Format format, std::uint32_t width, std::uint32_t height) {
    const FormatInfo info = formatInfo(format);
    unsigned levels = 1;
    while (levels < kMaxLevels && (width >> levels) >= info.blockWidth && (height >> levels) >= info.blockHeight)
        ++levels;
    return levels;
}

Expected<TplWriter, TplWriteError> planTpl(std::span<const TextureInput> textures) {
    std::vector<TextureLayout> layouts;
    layouts.reserve(textures.size());
    for (const TextureInput& t : textures) {
        if (!t.picture || t.picture->empty()) return fail(TplWriteError::EmptyPicture);
        layouts.push_back({t.options.format, t.picture->width, t.picture->height, t.levels, t.options.paletteFormat,
                           t.sampler});
    }
    return TplWriter::plan(layouts);
}

void encodeTexture(TplWriter& writer, std::size_t k, const TextureInput& t, unsigned firstLevel) {
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
        const auto out = writer.level(k, l);
        if (info.maxPaletteEntries == 0) {
            encodeTexels(*level, t.options, out);
            continue;
        }
        indices.resize(std::size_t{level->width} * level->height);
        if (l == 0) {
            const palette::Options options{t.options.paletteFormat, info.maxPaletteEntries, t.options.dither,
                                           t.options.quality};
            colours = palette::quantize(*level, options, indices);
        } else {
            palette::mapToPalette(*level, colours, t.options.dither, indices);
        }
        packIndices(t.options.format, indices, level->width, level->height, out);
    }
    if (info.maxPaletteEntries > 0) writer.setPalette(k, colours.entries);
}

Expected<std::vector<std::uint8_t>, TplWriteError> encodeTpl(std::span<const TextureInput> textures) {
    auto writer = planTpl(textures);
    if (!writer) return fail(writer.error());
    for (std::size_t k = 0; k < textures.size(); ++k) encodeTexture(*writer, k, textures[k]);
    return std::move(*writer).finish();
}

}  // namespace tplforge
