#include <algorithm>
#include <bit>

#include "tplforge/bytes.h"
#include "tplforge/tpl.h"

namespace tplforge {

std::string describe(TplError error) {
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
        case TplError::UnsupportedFormat: return "unknown texture format code";
        case TplError::MissingPalette: return "palette format without a palette header";
        case TplError::PaletteOutOfBounds: return "palette header or entries run past the end of the file";
        case TplError::BadPalette: return "palette has an unknown entry format or no entries";
        case TplError::LevelsOutOfBounds: return "mipmap levels run past the end of the file";
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

namespace {
constexpr std::uint32_t kMaxOffset = 0x7FFFFFFF;
}

Expected<TplHeaders, TplError> parseTpl(std::span<const std::uint8_t> file) {
    if (file.size() < 12) return fail(TplError::TooShort);
    if (!hasTplSignature(file)) return fail(TplError::BadSignature);
    const std::uint32_t count = tplImageCount(file);
    if (count == 0) return fail(TplError::NoTextures);
    if (count > 0x7FFF) return fail(TplError::CountOutOfRange);
    if (12 + 8 * std::uint64_t{count} > file.size()) return fail(TplError::TableOutOfBounds);

    TplHeaders info;
    info.fileSize = file.size();
    info.images.resize(count);
    ByteReader table(file);
    table.seek(12);
    std::uint64_t announced = 0;
    for (TplImageHeader& image : info.images) {
        image.headerOffset = *table.u32be();
        image.paletteHeaderOffset = *table.u32be();
        if (image.headerOffset > kMaxOffset) return fail(TplError::OffsetOutOfRange);

        ByteReader h(file);
        if (!h.seek(image.headerOffset) || !h.has(kImageHeaderSize)) return fail(TplError::HeaderOutOfBounds);
        image.height = *h.u16be();
        image.width = *h.u16be();
        image.format = *h.u32be();
        image.dataOffset = *h.u32be();
        Sampler& s = image.sampler;
        s.wrapS = static_cast<WrapMode>(*h.u32be());
        s.wrapT = static_cast<WrapMode>(*h.u32be());
        s.minFilter = static_cast<TextureFilter>(*h.u32be());
        s.magFilter = static_cast<TextureFilter>(*h.u32be());
        s.lodBias = std::bit_cast<float>(*h.u32be());
        s.edgeLod = *h.u8();
        s.minLod = *h.u8();
        image.maxLod = *h.u8();
        image.unpacked = *h.u8();

        if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
            return fail(TplError::BadSize);
        if (image.dataOffset > kMaxOffset) return fail(TplError::OffsetOutOfRange);
        const std::uint64_t size = levelBytes(image.format, image.width, image.height);
        if (image.dataOffset + size > file.size()) return fail(TplError::DataOutOfBounds);
        // Textures sharing one block of data would let a small file ask for many
        // large pictures; together they may not announce more than the file holds.
        announced += size;
        if (announced > file.size()) return fail(TplError::DataOutOfBounds);
    }
    return info;
}

unsigned levelsHeld(const TplImageHeader& image) {
    if (image.maxLod == 0) return 1;
    return std::min({unsigned{image.maxLod} + 1, kMaxLevels, levelsToOne(image.width, image.height)});
}

Expected<TextureView, TplError> textureView(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    const auto info = formatInfo(image.format);
    if (!info) return fail(TplError::UnsupportedFormat);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
        return fail(TplError::BadSize);

    TextureView view;
    view.format = info->format;
    view.width = image.width;
    view.height = image.height;
    std::uint64_t offset = image.dataOffset;
    const unsigned levels = levelsHeld(image);
    for (unsigned k = 0; k < levels; ++k) {
        const std::uint64_t size = levelBytes(image.format, levelSide(image.width, k), levelSide(image.height, k));
        if (offset + size > file.size()) return fail(k == 0 ? TplError::DataOutOfBounds : TplError::LevelsOutOfBounds);
        view.levels.push_back(file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size)));
        offset += size;
    }

    if (info->maxPaletteEntries == 0) return view;
    if (image.paletteHeaderOffset == 0) return fail(TplError::MissingPalette);
    if (image.paletteHeaderOffset > kMaxOffset) return fail(TplError::OffsetOutOfRange);
    ByteReader h(file);
    if (!h.seek(image.paletteHeaderOffset) || !h.has(kPaletteHeaderSize)) return fail(TplError::PaletteOutOfBounds);
    const std::uint16_t count = *h.u16be();
    h.skip(2);  // unpacked flag, padding
    const std::uint32_t format = *h.u32be();
    const std::uint32_t dataOffset = *h.u32be();
    if (format > static_cast<std::uint32_t>(PaletteFormat::RGB5A3) || count == 0) return fail(TplError::BadPalette);
    if (dataOffset > kMaxOffset) return fail(TplError::OffsetOutOfRange);
    if (std::uint64_t{dataOffset} + 2u * count > file.size()) return fail(TplError::PaletteOutOfBounds);
    view.palette = PaletteView{static_cast<PaletteFormat>(format), count, file.subspan(dataOffset, 2u * count)};
    return view;
}

}  // namespace tplforge
