#include <algorithm>
#include <bit>

#include "tplforge/bytes.h"
#include "tplforge/tpl.h"

namespace tplforge {

std::string describe(TplWriteError error) {
    switch (error) {
        case TplWriteError::NoTextures: return "no textures to write";
        case TplWriteError::EmptyPicture: return "a picture has no pixels";
        case TplWriteError::SideTooLarge: return "a side is larger than 32767 pixels";
        case TplWriteError::FileTooLarge: return "the textures do not fit in a TPL file (2 GiB)";
        case TplWriteError::TooManyLevels: return "more mipmap levels than the picture or the console allows";
        case TplWriteError::TooManyTextures: return "more than 32767 textures";
        case TplWriteError::UnknownFormat: return "a texture format code GX does not define";
        case TplWriteError::BadDataStart: return "the texture data must start at a multiple of 32 after the headers";
        case TplWriteError::NoSuchLevel: return "no such texture or level in the file being written";
        case TplWriteError::NotPaletted: return "a palette for a texture whose format takes none";
        case TplWriteError::BadPaletteSize: return "a palette with no entries or more than its format indexes";
    }
    return "unknown error";
}

namespace {

constexpr std::uint64_t alignUp(std::uint64_t n) { return (n + 31) / 32 * 32; }

}  // namespace

Expected<TplWriter, TplWriteError> TplWriter::plan(std::span<const TextureLayout> textures, const Options& options) {
    const std::size_t n = textures.size();
    if (n == 0) return fail(TplWriteError::NoTextures);
    if (n > kMaxTextures) return fail(TplWriteError::TooManyTextures);  // readers take no more
    std::size_t palettes = 0;
    std::uint64_t paletteRoom = 0;  // entries go after the texels; the largest each format holds
    for (const TextureLayout& t : textures) {
        if (!formatInfo(static_cast<std::uint32_t>(t.format))) return fail(TplWriteError::UnknownFormat);
        if (t.width == 0 || t.height == 0) return fail(TplWriteError::EmptyPicture);
        if (t.width > kMaxSide || t.height > kMaxSide) return fail(TplWriteError::SideTooLarge);
        if (t.levels == 0 || t.levels > kMaxLevels || t.levels > levelsToOne(t.width, t.height))
            return fail(TplWriteError::TooManyLevels);
        if (t.maxLod) {
            TplImageHeader header;
            header.width = static_cast<std::uint16_t>(t.width);
            header.height = static_cast<std::uint16_t>(t.height);
            header.maxLod = *t.maxLod;
            if (levelsHeld(header) != t.levels) return fail(TplWriteError::TooManyLevels);
        }
        palettes += isPaletteFormat(t.format) ? 1 : 0;
        paletteRoom += alignUp(2 * std::uint64_t{formatInfo(t.format).maxPaletteEntries});
    }

    const std::uint64_t headers = kTplFileHeaderSize + (kTplTableEntrySize + kImageHeaderSize) * std::uint64_t{n} +
                                  kPaletteHeaderSize * palettes;
    std::uint64_t offset = alignUp(headers);
    if (options.dataStart) {
        if (*options.dataStart % 32 != 0 || *options.dataStart < headers) return fail(TplWriteError::BadDataStart);
        offset = *options.dataStart;
    }

    TplWriter w;
    w.placed_.resize(n);
    std::uint32_t paletteHeader = static_cast<std::uint32_t>(12 + (8 + kImageHeaderSize) * n);
    for (std::size_t k = 0; k < n; ++k) {
        const TextureLayout& t = textures[k];
        Placed& p = w.placed_[k];
        p.maxEntries = formatInfo(t.format).maxPaletteEntries;
        for (unsigned level = 0; level < t.levels; ++level) {
            const std::uint64_t size = levelBytes(t.format, levelSide(t.width, level), levelSide(t.height, level));
            p.levelOffsets.push_back(offset);
            p.levelSizes.push_back(size);
            offset += size;
        }
        offset = alignUp(offset);
        if (isPaletteFormat(t.format)) {
            p.paletteHeader = paletteHeader;
            paletteHeader += kPaletteHeaderSize;
        }
        if (offset + paletteRoom > kMaxFileSize) return fail(TplWriteError::FileTooLarge);
    }

    // Room for the palettes too, so that adding them does not copy the file.
    ByteWriter out(static_cast<std::size_t>(offset + paletteRoom));
    out.append(kTplMagic);
    out.u32be(static_cast<std::uint32_t>(n));
    out.u32be(12);
    for (std::size_t k = 0; k < n; ++k) {
        out.u32be(static_cast<std::uint32_t>(12 + 8 * n + kImageHeaderSize * k));
        out.u32be(w.placed_[k].paletteHeader);
    }
    for (std::size_t k = 0; k < n; ++k) {
        const TextureLayout& t = textures[k];
        out.u16be(static_cast<std::uint16_t>(t.height));
        out.u16be(static_cast<std::uint16_t>(t.width));
        out.u32be(static_cast<std::uint32_t>(t.format));
        out.u32be(static_cast<std::uint32_t>(w.placed_[k].levelOffsets[0]));
        out.u32be(static_cast<std::uint32_t>(t.sampler.wrapS));
        out.u32be(static_cast<std::uint32_t>(t.sampler.wrapT));
        out.u32be(static_cast<std::uint32_t>(t.sampler.minFilter));
        out.u32be(static_cast<std::uint32_t>(t.sampler.magFilter));
        out.u32be(std::bit_cast<std::uint32_t>(t.sampler.lodBias));
        out.u8(t.sampler.edgeLod);
        out.u8(t.sampler.minLod);
        out.u8(t.maxLod.value_or(static_cast<std::uint8_t>(t.levels - 1)));
        out.u8(t.unpacked);
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (w.placed_[k].paletteHeader == 0) continue;
        out.u16be(0);  // entry count, set with the entries
        out.u8(textures[k].paletteUnpacked);
        out.u8(textures[k].palettePadding);
        out.u32be(static_cast<std::uint32_t>(textures[k].paletteFormat));
        out.u32be(0);  // entries' offset, set with them
    }
    out.zeros(static_cast<std::size_t>(offset) - out.size());
    w.file_ = out.take();
    return w;
}

Expected<std::span<std::uint8_t>, TplWriteError> TplWriter::level(std::size_t texture, unsigned level) {
    if (texture >= placed_.size() || level >= placed_[texture].levelOffsets.size())
        return fail(TplWriteError::NoSuchLevel);
    const Placed& p = placed_[texture];
    return std::span(file_).subspan(static_cast<std::size_t>(p.levelOffsets[level]),
                                    static_cast<std::size_t>(p.levelSizes[level]));
}

Expected<void, TplWriteError> TplWriter::setPalette(std::size_t texture, std::span<const std::uint16_t> entries) {
    if (texture >= placed_.size()) return fail(TplWriteError::NoSuchLevel);
    const Placed& p = placed_[texture];
    if (p.paletteHeader == 0) return fail(TplWriteError::NotPaletted);
    if (entries.empty() || entries.size() > p.maxEntries) return fail(TplWriteError::BadPaletteSize);
    ByteWriter out(std::move(file_));
    const std::size_t at = out.size();
    for (const std::uint16_t entry : entries) out.u16be(entry);
    out.zeros(static_cast<std::size_t>(alignUp(out.size())) - out.size());
    // The palette header was laid out by plan(), so both fields are there.
    out.u16beAt(p.paletteHeader, static_cast<std::uint16_t>(entries.size()));
    out.u32beAt(p.paletteHeader + 8, static_cast<std::uint32_t>(at));
    const bool placed = out.ok();
    file_ = out.take();
    if (!placed) return fail(TplWriteError::NoSuchLevel);
    return {};
}

}  // namespace tplforge
