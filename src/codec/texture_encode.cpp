// Encoding every GX format from RGBA: the picture's texels are gathered into
// block order a chunk at a time (edge texels repeated where a partial block
// reaches past the picture) and converted as one run.
#include <algorithm>

#include "codec/block_order.h"
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

}  // namespace

void encodeTexels(const Image& picture, const EncodeOptions& options, std::span<std::uint8_t> out) {
    const std::size_t blockBytes = formatInfo(options.format).blockBytes;
    switch (options.format) {
        case Format::I4: return encodeWith<8, 8>(picture, blockBytes, out, runs::encodeI4);
        case Format::I8: return encodeWith<8, 4>(picture, blockBytes, out, runs::encodeI8);
        case Format::IA4: return encodeWith<8, 4>(picture, blockBytes, out, runs::encodeIa4);
        case Format::IA8: return encodeWith<4, 4>(picture, blockBytes, out, runs::encodeIa8);
        case Format::RGB565: return encodeWith<4, 4>(picture, blockBytes, out, runs::encodeRgb565);
        case Format::RGB5A3: return encodeWith<4, 4>(picture, blockBytes, out, runs::encodeRgb5a3);
        case Format::RGBA8: return encodeWith<4, 4>(picture, blockBytes, out, runs::encodeRgba8);
        case Format::CMPR:
        case Format::C4:
        case Format::C8:
        case Format::C14X2: break;  // not texel-by-texel: see encodeTpl
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

Expected<std::vector<std::uint8_t>, TplWriteError> encodeTpl(std::span<const TextureInput> textures) {
    std::vector<TextureLayout> layouts;
    layouts.reserve(textures.size());
    for (const TextureInput& t : textures) {
        if (!t.picture || t.picture->empty()) return fail(TplWriteError::EmptyPicture);
        layouts.push_back({t.options.format, t.picture->width, t.picture->height, t.levels, t.options.paletteFormat,
                           t.sampler});
    }
    auto writer = TplWriter::plan(layouts);
    if (!writer) return fail(writer.error());

    for (std::size_t k = 0; k < textures.size(); ++k) {
        const TextureInput& t = textures[k];
        Image halved;
        const Image* level = t.picture;
        for (unsigned l = 0; l < t.levels; ++l) {
            if (l > 0) {
                halved = halveImage(*level);
                level = &halved;
            }
            encodeTexels(*level, t.options, writer->level(k, l));
        }
    }
    return std::move(*writer).finish();
}

}  // namespace tplforge
