#include <bit>

#include "codec/bytes.h"
#include "tplforge/tpl.h"

namespace tplforge {

std::string_view describe(TplWriteError error) {
    switch (error) {
        case TplWriteError::NoTextures: return "no textures to write";
        case TplWriteError::EmptyPicture: return "a picture has no pixels";
        case TplWriteError::SideNotMultipleOf4: return "width and height must be multiples of 4";
        case TplWriteError::SideTooLarge: return "a side is larger than 32767 pixels";
        case TplWriteError::FileTooLarge: return "the textures do not fit in a TPL file (2 GiB)";
        case TplWriteError::TooManyLevels: return "more mipmap levels than the picture or the console allows";
        case TplWriteError::TooManyTextures: return "more than 32767 textures";
    }
    return "unknown error";
}

namespace {

constexpr std::uint64_t alignUp(std::uint64_t n) { return (n + 31) / 32 * 32; }

bool isPaletteFormat(Format f) { return formatInfo(f).maxPaletteEntries > 0; }

}  // namespace

Expected<TplWriter, TplWriteError> TplWriter::plan(std::span<const TextureLayout> textures, Padding padding) {
    const std::size_t n = textures.size();
    if (n == 0) return fail(TplWriteError::NoTextures);
    if (n > 0x7FFF) return fail(TplWriteError::TooManyTextures);  // readers take no more
    std::size_t palettes = 0;
    std::uint64_t paletteRoom = 0;  // entries go after the texels; the largest each format holds
    for (const TextureLayout& t : textures) {
        if (t.width == 0 || t.height == 0) return fail(TplWriteError::EmptyPicture);
        if (t.width > kMaxSide || t.height > kMaxSide) return fail(TplWriteError::SideTooLarge);
        const unsigned toOne = static_cast<unsigned>(std::bit_width(std::max(t.width, t.height)));
        if (t.levels == 0 || t.levels > kMaxLevels || t.levels > toOne) return fail(TplWriteError::TooManyLevels);
        palettes += isPaletteFormat(t.format) ? 1 : 0;
        paletteRoom += alignUp(2 * std::uint64_t{formatInfo(t.format).maxPaletteEntries});
    }

    const std::uint64_t headers = 12 + (8 + kImageHeaderSize) * std::uint64_t{n} + kPaletteHeaderSize * palettes;
    std::uint64_t offset = padding == Padding::Aligned ? alignUp(headers) : (headers / 32 + 1) * 32;

    TplWriter w;
    w.placed_.resize(n);
    std::uint32_t paletteHeader = static_cast<std::uint32_t>(12 + (8 + kImageHeaderSize) * n);
    for (std::size_t k = 0; k < n; ++k) {
        const TextureLayout& t = textures[k];
        Placed& p = w.placed_[k];
        p.dataOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, kMaxFileSize));
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
        out.u32be(w.placed_[k].dataOffset);
        out.u32be(t.sampler.wrapS);
        out.u32be(t.sampler.wrapT);
        out.u32be(t.sampler.minFilter);
        out.u32be(t.sampler.magFilter);
        out.u32be(std::bit_cast<std::uint32_t>(t.sampler.lodBias));
        out.u8(t.sampler.edgeLod);
        out.u8(t.sampler.minLod);
        out.u8(static_cast<std::uint8_t>(t.levels - 1));
        out.u8(0);  // unpacked
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (w.placed_[k].paletteHeader == 0) continue;
        out.u16be(0);  // entry count, set with the entries
        out.u8(0);     // unpacked
        out.u8(0);
        out.u32be(static_cast<std::uint32_t>(textures[k].paletteFormat));
        out.u32be(0);  // entries' offset, set with them
    }
    out.zeros(static_cast<std::size_t>(offset) - out.size());
    w.file_ = out.take();
    return w;
}

std::span<std::uint8_t> TplWriter::level(std::size_t texture, unsigned level) {
    const Placed& p = placed_.at(texture);
    return std::span(file_).subspan(static_cast<std::size_t>(p.levelOffsets.at(level)),
                                    static_cast<std::size_t>(p.levelSizes.at(level)));
}

void TplWriter::setPalette(std::size_t texture, std::span<const std::uint16_t> entries) {
    const Placed& p = placed_.at(texture);
    if (p.paletteHeader == 0) return;
    ByteWriter out(std::move(file_));
    const std::size_t at = out.size();
    for (const std::uint16_t entry : entries) out.u16be(entry);
    out.zeros(static_cast<std::size_t>(alignUp(out.size())) - out.size());
    out.u16beAt(p.paletteHeader, static_cast<std::uint16_t>(entries.size()));
    out.u32beAt(p.paletteHeader + 8, static_cast<std::uint32_t>(at));
    file_ = out.take();
}

}  // namespace tplforge
