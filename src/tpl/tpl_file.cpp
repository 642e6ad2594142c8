#include "tpl/tpl_file.h"

#include <algorithm>
#include <vector>

#include "common/bytes.h"
#include "tpl/texel.h"

namespace tplforge {

std::uint32_t headerBlockLength(std::size_t n) {
    const std::uint64_t s = 12 + 44 * std::uint64_t{n};
    return static_cast<std::uint32_t>((s / 32 + 1) * 32);
}

namespace {

template <TextureFormat F>
void encodeTiles(const Raster& raster, ColourValue alphaColour, std::span<std::uint8_t> out) {
    std::size_t p = 0;
    for (int ty = 0; ty < raster.height; ty += 4) {
        for (int tx = 0; tx < raster.width; tx += 4) {
            for (int y = 0; y < 4; ++y) {
                const ColourValue* row = raster.row(ty + y) + tx;
                for (int x = 0; x < 4; ++x) {
                    std::uint16_t w;
                    if constexpr (F == TextureFormat::RGB565)
                        w = texel::encodeRgb565(row[x]);
                    else
                        w = texel::encodeRgb5a3(row[x], alphaColour);
                    out[p] = static_cast<std::uint8_t>(w >> 8);
                    out[p + 1] = static_cast<std::uint8_t>(w);
                    p += 2;
                }
            }
        }
    }
}

}  // namespace

void encodeTextureInto(const Raster& raster, TextureFormat format, ColourValue alphaColour,
                       std::span<std::uint8_t> out) {
    if (format == TextureFormat::RGB565)
        encodeTiles<TextureFormat::RGB565>(raster, alphaColour, out);
    else
        encodeTiles<TextureFormat::RGB5A3>(raster, alphaColour, out);
}

std::vector<std::uint8_t> encodeTexture(const Raster& raster, TextureFormat format, ColourValue alphaColour) {
    std::vector<std::uint8_t> out(2 * static_cast<std::size_t>(raster.width) * raster.height);
    encodeTextureInto(raster, format, alphaColour, out);
    return out;
}

std::string_view describe(TplWriteError error) {
    switch (error) {
        case TplWriteError::NoTextures: return "no textures to write";
        case TplWriteError::SideNotMultipleOf4: return "width and height must be multiples of 4";
        case TplWriteError::SideTooLarge: return "a side is larger than 32767 pixels";
        case TplWriteError::FileTooLarge: return "the textures do not fit in a TPL file (2 GiB)";
        case TplWriteError::UnsupportedFormat: return "only RGB565 and RGB5A3 can be written";
    }
    return "unknown error";
}

Expected<std::vector<std::uint8_t>, TplWriteError> buildTpl(std::span<const TextureInput> textures) {
    const std::size_t n = textures.size();
    if (n == 0) return fail(TplWriteError::NoTextures);
    const std::uint32_t headerBlock = headerBlockLength(n);
    std::uint64_t total = headerBlock;
    for (const TextureInput& t : textures) {
        if (t.format != TextureFormat::RGB565 && t.format != TextureFormat::RGB5A3)
            return fail(TplWriteError::UnsupportedFormat);
        const int w = t.raster->width, h = t.raster->height;
        if (w % 4 != 0 || h % 4 != 0) return fail(TplWriteError::SideNotMultipleOf4);
        if (static_cast<std::uint32_t>(w) > kMaxSide || static_cast<std::uint32_t>(h) > kMaxSide)
            return fail(TplWriteError::SideTooLarge);
        total += 2 * std::uint64_t(w) * std::uint64_t(h);
    }
    if (total > kMaxFileSize) return fail(TplWriteError::FileTooLarge);

    ByteWriter out(static_cast<std::size_t>(total));
    out.append(kTplMagic);
    out.u32be(static_cast<std::uint32_t>(n));
    out.u32be(12);
    for (std::size_t k = 0; k < n; ++k) {
        out.u32be(static_cast<std::uint32_t>(12 + 8 * n + kImageHeaderSize * k));
        out.u32be(0);  // no palette
    }
    std::uint32_t dataOffset = headerBlock;
    for (const TextureInput& t : textures) {
        out.u16be(static_cast<std::uint16_t>(t.raster->height));
        out.u16be(static_cast<std::uint16_t>(t.raster->width));
        out.u32be(static_cast<std::uint32_t>(t.format));
        out.u32be(dataOffset);
        out.u32be(0);  // wrap S: clamp
        out.u32be(0);  // wrap T: clamp
        out.u32be(1);  // min filter: linear
        out.u32be(1);  // mag filter: linear
        out.u32be(0);  // LOD bias 0.0
        out.zeros(4);  // edge LOD, min LOD, max LOD, unpacked
        dataOffset += static_cast<std::uint32_t>(2 * std::uint64_t(t.raster->width) * std::uint64_t(t.raster->height));
    }
    out.zeros(headerBlock - out.size());
    for (const TextureInput& t : textures) {
        const std::size_t at = out.size();
        out.zeros(2 * static_cast<std::size_t>(t.raster->width) * t.raster->height);
        encodeTextureInto(*t.raster, t.format, t.alphaColour, std::span(out.data()).subspan(at));
    }
    return out.take();
}

std::string_view describe(TplError error) {
    switch (error) {
        case TplError::TooShort: return "file is shorter than a TPL header";
        case TplError::BadSignature: return "not a TPL file (wrong magic bytes or image table offset)";
        case TplError::NoTextures: return "file holds no textures (image count 0)";
        case TplError::CountOutOfRange: return "image count is out of range";
        case TplError::TableOutOfBounds: return "image table runs past the end of the file";
        case TplError::OffsetOutOfRange: return "an offset is out of range";
        case TplError::HeaderOutOfBounds: return "an image header runs past the end of the file";
        case TplError::BadSize: return "a texture's width or height is 0 or larger than 32767";
        case TplError::DataOutOfBounds: return "texture data runs past the end of the file";
        case TplError::UnsupportedFormat: return "texture format is not RGB565 or RGB5A3";
    }
    return "unknown error";
}

bool hasTplSignature(std::span<const std::uint8_t> file) {
    return file.size() >= 12 && std::equal(std::begin(kTplMagic), std::end(kTplMagic), file.begin()) &&
           file[11] == 0x0C;
}

std::uint32_t tplImageCount(std::span<const std::uint8_t> file) {
    ByteReader r(file);
    r.seek(4);
    return r.u32be().value_or(0);
}

Expected<TplInfo, TplError> parseTpl(std::span<const std::uint8_t> file) {
    if (file.size() < 12) return fail(TplError::TooShort);
    if (!hasTplSignature(file)) return fail(TplError::BadSignature);
    const std::uint32_t count = tplImageCount(file);
    if (count == 0) return fail(TplError::NoTextures);
    if (count > 0x7FFF) return fail(TplError::CountOutOfRange);
    if (12 + 8 * std::uint64_t{count} > file.size()) return fail(TplError::TableOutOfBounds);

    TplInfo info;
    info.fileSize = file.size();
    info.images.resize(count);
    ByteReader table(file);
    table.seek(12);
    std::uint64_t announced = 0;
    for (TplImage& image : info.images) {
        image.headerOffset = *table.u32be();
        image.paletteOffset = *table.u32be();
        if (image.headerOffset > 0x7FFFFFFF) return fail(TplError::OffsetOutOfRange);

        ByteReader h(file);
        if (!h.seek(image.headerOffset) || !h.has(kImageHeaderSize)) return fail(TplError::HeaderOutOfBounds);
        image.height = *h.u16be();
        image.width = *h.u16be();
        image.format = *h.u32be();
        image.dataOffset = *h.u32be();
        image.wrapS = *h.u32be();
        image.wrapT = *h.u32be();
        image.minFilter = *h.u32be();
        image.magFilter = *h.u32be();
        image.lodBias = *h.u32be();
        image.edgeLod = *h.u8();
        image.minLod = *h.u8();
        image.maxLod = *h.u8();
        image.unpacked = *h.u8();

        if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
            return fail(TplError::BadSize);
        if (image.dataOffset > 0x7FFFFFFF) return fail(TplError::OffsetOutOfRange);
        const std::uint64_t size = textureDataSize(image.format, image.width, image.height);
        if (image.dataOffset + size > file.size()) return fail(TplError::DataOutOfBounds);
        // Textures sharing one block of data would let a small file ask for many
        // large pictures; together they may not announce more than the file holds.
        announced += size;
        if (announced > file.size()) return fail(TplError::DataOutOfBounds);
    }
    return info;
}

namespace {

// Every word's colour, looked up whole: one load a texel instead of three field
// lookups and the shifts to join them. 256 KiB and 128 KiB, built on first use.
template <TextureFormat F>
const std::vector<ColourValue>& colourTable() {
    static const std::vector<ColourValue> table = [] {
        std::vector<ColourValue> t(F == TextureFormat::RGB565 ? 0x10000 : 0x8000);
        for (std::size_t w = 0; w < t.size(); ++w)
            t[w] = F == TextureFormat::RGB565 ? texel::decodeRgb565(static_cast<std::uint16_t>(w))
                                              : texel::decodeRgb5a3(static_cast<std::uint16_t>(w));
        return t;
    }();
    return table;
}

// Walks whole 4 × 4 tiles in file order. Edge tiles of sizes that are not multiples
// of 4 carry texels that are read (an alpha texel there still counts) but never
// drawn. Alpha texels are counted without a branch: they lie scattered through a
// picture, and a mispredicted branch per texel costs more than the decode itself.
template <TextureFormat F>
void decodeTiles(std::span<const std::uint8_t> data, DecodedTexture& out) {
    Raster& raster = out.raster;
    const int width = raster.width, height = raster.height;
    const std::span<const ColourValue> colours = colourTable<F>();
    constexpr std::uint16_t kIndexMask = F == TextureFormat::RGB565 ? 0xFFFF : 0x7FFF;
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
                if constexpr (F == TextureFormat::RGB5A3) {
                    for (const std::uint16_t word : w) {
                        const bool alpha = texel::isAlphaTexel(word);
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
    if (alphaTexels > 0) out.lastAlphaColour = texel::decodeRgb5a3(lastAlpha);
}

}  // namespace

Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file, const TplImage& image) {
    const auto format = static_cast<TextureFormat>(image.format);
    if (format != TextureFormat::RGB565 && format != TextureFormat::RGB5A3) return fail(TplError::UnsupportedFormat);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
        return fail(TplError::BadSize);
    const std::uint64_t size = textureDataSize(image.format, image.width, image.height);
    if (std::uint64_t{image.dataOffset} + size > file.size()) return fail(TplError::DataOutOfBounds);

    const auto data = file.subspan(image.dataOffset, static_cast<std::size_t>(size));
    DecodedTexture out;
    out.raster = Raster(image.width, image.height);
    if (format == TextureFormat::RGB565)
        decodeTiles<TextureFormat::RGB565>(data, out);
    else
        decodeTiles<TextureFormat::RGB5A3>(data, out);
    return out;
}

}  // namespace tplforge
