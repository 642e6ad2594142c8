// Encoding every GX format from RGBA, one block row at a time: the walk hands
// each format the picture's texels of one row of a block (edge texels repeated
// where a partial block reaches past the picture) and it writes that row's bytes.
#include <algorithm>
#include <array>
#include <thread>

#include "codec/cmpr.h"
#include "codec/quantize.h"
#include "codec/texel.h"
#include "tplforge/texture.h"

namespace tplforge {

namespace {

texel::Rgba at(const std::uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

std::uint8_t grey(const std::uint8_t* p) { return texel::intensity(p[0], p[1], p[2]); }

void putWord(std::uint8_t* out, std::uint16_t w) {
    out[0] = static_cast<std::uint8_t>(w >> 8);
    out[1] = static_cast<std::uint8_t>(w);
}

// Calls encodeRow(texels, block, r) for every row of every block in file order;
// texels points at blockWidth RGBA texels of the picture.
template <class EncodeRow>
void walk(const FormatInfo& info, const Image& picture, std::span<std::uint8_t> out, EncodeRow encodeRow) {
    const std::uint32_t width = picture.width, height = picture.height;
    std::array<std::uint8_t, 8 * 4> scratch{};
    std::size_t at = 0;
    for (std::uint32_t by = 0; by < height; by += info.blockHeight) {
        for (std::uint32_t bx = 0; bx < width; bx += info.blockWidth, at += info.blockBytes) {
            std::uint8_t* block = &out[at];
            const std::uint32_t cols = std::min(info.blockWidth, width - bx);
            for (std::uint32_t r = 0; r < info.blockHeight; ++r) {
                const std::uint32_t y = std::min(by + r, height - 1);
                const std::uint8_t* row = &picture.rgba[y * picture.stride() + 4 * bx];
                if (cols < info.blockWidth) {
                    for (std::uint32_t c = 0; c < info.blockWidth; ++c)
                        std::copy_n(row + 4 * std::min(c, cols - 1), 4, &scratch[4 * c]);
                    row = scratch.data();
                }
                encodeRow(row, block, r);
            }
        }
    }
}

cmpr::Quality cmprQuality(Quality q) {
    switch (q) {
        case Quality::Fast: return cmpr::Quality::Fast;
        case Quality::Normal: return cmpr::Quality::Normal;
        case Quality::Best: return cmpr::Quality::Best;
    }
    return cmpr::Quality::Normal;
}

palette::Quality paletteQuality(Quality q) {
    switch (q) {
        case Quality::Fast: return palette::Quality::Fast;
        case Quality::Normal: return palette::Quality::Normal;
        case Quality::Best: return palette::Quality::Best;
    }
    return palette::Quality::Normal;
}

}  // namespace

void encodeTexels(const Image& picture, const EncodeOptions& options, std::span<std::uint8_t> out) {
    const FormatInfo info = formatInfo(options.format);
    switch (options.format) {
        case Format::I4:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 4; ++i)
                    b[4 * r + i] = static_cast<std::uint8_t>((texel::reduce<4>(grey(t + 8 * i)) << 4) |
                                                             texel::reduce<4>(grey(t + 8 * i + 4)));
            });
        case Format::I8:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 8; ++i) b[8 * r + i] = grey(t + 4 * i);
            });
        case Format::IA4:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 8; ++i)
                    b[8 * r + i] = static_cast<std::uint8_t>((texel::reduce<4>(t[4 * i + 3]) << 4) |
                                                             texel::reduce<4>(grey(t + 4 * i)));
            });
        case Format::IA8:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 4; ++i) {
                    b[8 * r + 2 * i] = t[4 * i + 3];
                    b[8 * r + 2 * i + 1] = grey(t + 4 * i);
                }
            });
        case Format::RGB565:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 4; ++i) putWord(b + 8 * r + 2 * i, texel::encodeRgb565(at(t + 4 * i)));
            });
        case Format::RGB5A3:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (int i = 0; i < 4; ++i) putWord(b + 8 * r + 2 * i, texel::encodeRgb5a3(at(t + 4 * i)));
            });
        case Format::RGBA8:
            return walk(info, picture, out, [](const std::uint8_t* t, std::uint8_t* b, std::uint32_t r) {
                for (std::uint32_t i = 0; i < 4; ++i) {
                    std::uint8_t* ar = b + 2 * (4 * r + i);
                    ar[0] = t[4 * i + 3];
                    ar[1] = t[4 * i];
                    ar[32] = t[4 * i + 1];
                    ar[33] = t[4 * i + 2];
                }
            });
        case Format::CMPR:
            return cmpr::encodeLevel(picture.rgba, picture.width, picture.height, cmprQuality(options.quality),
                                     options.threads, out);
        case Format::C4:
        case Format::C8:
        case Format::C14X2: break;  // indices need a palette first: see encodeTpl
    }
}

void packIndices(Format format, std::span<const std::uint16_t> indices, std::uint32_t width, std::uint32_t height,
                 std::span<std::uint8_t> out) {
    const FormatInfo info = formatInfo(format);
    std::array<std::uint16_t, 8> row{};
    std::size_t at = 0;
    for (std::uint32_t by = 0; by < height; by += info.blockHeight) {
        for (std::uint32_t bx = 0; bx < width; bx += info.blockWidth, at += info.blockBytes) {
            for (std::uint32_t r = 0; r < info.blockHeight; ++r) {
                const std::uint16_t* source = &indices[std::size_t{std::min(by + r, height - 1)} * width];
                for (std::uint32_t c = 0; c < info.blockWidth; ++c) row[c] = source[std::min(bx + c, width - 1)];
                std::uint8_t* o = &out[at + r * info.blockWidth * info.bitsPerTexel / 8];
                if (format == Format::C4) {
                    for (std::uint32_t c = 0; c < 8; c += 2)
                        o[c / 2] = static_cast<std::uint8_t>(((row[c] & 15) << 4) | (row[c + 1] & 15));
                } else if (format == Format::C8) {
                    for (std::uint32_t c = 0; c < 8; ++c) o[c] = static_cast<std::uint8_t>(row[c]);
                } else {
                    for (std::uint32_t c = 0; c < 4; ++c) putWord(o + 2 * c, row[c] & 0x3FFF);
                }
            }
        }
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
        const FormatInfo info = formatInfo(t.options.format);
        // One palette serves every level: chosen for the picture, the smaller
        // levels are mapped onto it.
        palette::Palette colours;
        std::vector<std::uint16_t> indices;
        Image halved;
        const Image* level = t.picture;
        for (unsigned l = 0; l < t.levels; ++l) {
            if (l > 0) {
                halved = halveImage(*level);
                level = &halved;
            }
            const auto out = writer->level(k, l);
            if (info.maxPaletteEntries == 0) {
                encodeTexels(*level, t.options, out);
                continue;
            }
            indices.resize(std::size_t{level->width} * level->height);
            if (l == 0) {
                const palette::Options options{t.options.paletteFormat, info.maxPaletteEntries, t.options.dither,
                                               paletteQuality(t.options.quality)};
                colours = palette::quantize(*level, options, indices);
            } else {
                palette::mapToPalette(*level, colours, t.options.dither, indices);
            }
            packIndices(t.options.format, indices, level->width, level->height, out);
        }
        if (info.maxPaletteEntries > 0) writer->setPalette(k, colours.entries);
    }
    return std::move(*writer).finish();
}

}  // namespace tplforge
