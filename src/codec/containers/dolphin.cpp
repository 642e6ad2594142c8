// Dolphin's texture names, from the bytes as stored: level 0 padded to whole
// blocks, and for palette formats the palette entries its indices reach.
#include "tplforge/dolphin.h"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "tplforge/bytes.h"

namespace tplforge {

namespace {

std::string hex16(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 15];
    return out;
}

std::uint64_t xxh64(std::span<const std::uint8_t> bytes) { return XXH64(bytes.data(), bytes.size(), 0); }

struct IndexRange {
    std::uint32_t first = 0xFFFF;
    std::uint32_t last = 0;
    void take(std::uint32_t index) {
        first = std::min(first, index);
        last = std::max(last, index);
    }
};

// The lowest and highest index level 0 holds, as Dolphin scans them.
IndexRange indexRange(Format format, std::span<const std::uint8_t> base) {
    IndexRange range;
    ByteReader in(base);
    switch (format) {
        case Format::C4:
            while (const auto b = in.u8()) {
                range.take(*b >> 4);
                range.take(*b & 15u);
            }
            break;
        case Format::C8:
            // Dolphin lets 255 raise the top only straight after 254 has set it.
            while (const auto b = in.u8()) {
                range.first = std::min<std::uint32_t>(range.first, *b);
                if (*b != 255 || range.last == 254) range.last = std::max<std::uint32_t>(range.last, *b);
            }
            break;
        default:
            // C14X2: Dolphin reads the high byte of each texel only.
            while (const auto w = in.u16be()) range.take((*w >> 8 & 0x3Fu) << 8);
            break;
    }
    return range;
}

// Entries first … last as stored, zeros where the file holds no more.
std::vector<std::uint8_t> paletteBytes(const PaletteView& palette, const DolphinPaletteRange& range) {
    std::vector<std::uint8_t> out(2 * std::size_t{range.last - range.first + 1}, 0);
    if (range.first < range.stored) {
        const std::uint32_t end = std::min(range.last + 1, range.stored);
        if (const auto held = sliceAt(palette.words, 2 * std::uint64_t{range.first}, 2 * std::uint64_t{end - range.first}))
            std::copy(held->begin(), held->end(), out.begin());
    }
    return out;
}

// Levels past 0 that a sampler filtering between levels reaches.
unsigned furtherLevels(const TextureView& texture, const DolphinSampling& sampling) {
    auto reach = static_cast<unsigned>(std::bit_width(std::max({texture.width, texture.height, 1u}))) - 1;
    if (sampling.maxLod) {
        const float lod = std::isnan(*sampling.maxLod) ? 0.0f : std::max(0.0f, *sampling.maxLod);
        if (lod < static_cast<float>(reach)) reach = static_cast<unsigned>(std::ceil(lod));
    }
    const auto stored = static_cast<unsigned>(texture.levels.size());
    return std::min(reach, stored > 0 ? stored - 1 : 0);
}

}  // namespace

DolphinSampling dolphinSampling(const Sampler& sampler, std::optional<float> maxLod) {
    const auto filter = static_cast<std::uint32_t>(sampler.minFilter);
    return {filter >= static_cast<std::uint32_t>(TextureFilter::NearMipNear) &&
                filter <= static_cast<std::uint32_t>(TextureFilter::LinMipLin),
            maxLod};
}

DolphinSampling dolphinSampling(const TextureView& texture) { return {texture.levels.size() > 1, std::nullopt}; }

std::string describe(DolphinError error) {
    switch (error) {
        case DolphinError::UnknownFormat: return "format code GX does not define";
        case DolphinError::LevelTooShort: return "level 0 is shorter than its whole blocks";
        case DolphinError::MissingPalette: return "palette format without a palette";
        case DolphinError::NoPaletteRange:
            return "every C8 index is 255, for which Dolphin reads past the palette: no name to give";
    }
    return "unknown error";
}

std::string dolphinNote(const DolphinName& name) {
    if (!name.palette || !name.palette->pastEnd()) return {};
    const DolphinPaletteRange& p = *name.palette;
    return "palette indices " + std::to_string(p.first) + "-" + std::to_string(p.last) + " run past the " +
           std::to_string(p.stored) + " entries stored; hashed with zeros there, as the console's memory is unknown";
}

Expected<DolphinName, DolphinError> dolphinName(const TextureView& texture, const DolphinSampling& sampling,
                                                DolphinMipmaps mipmaps) {
    const auto code = static_cast<std::uint32_t>(texture.format);
    if (!formatInfo(code)) return fail(DolphinError::UnknownFormat);
    if (texture.levels.empty()) return fail(DolphinError::LevelTooShort);
    const auto base = sliceAt(texture.levels[0], 0, levelBytes(code, texture.width, texture.height));
    if (!base) return fail(DolphinError::LevelTooShort);

    const bool mip = mipmaps == DolphinMipmaps::Yes || (mipmaps == DolphinMipmaps::File && sampling.mipFilter);
    DolphinName out;
    out.name = "tex1_" + std::to_string(texture.width) + "x" + std::to_string(texture.height) + (mip ? "_m_" : "_") +
               hex16(xxh64(*base)) + "_";
    if (isPaletteFormat(texture.format)) {
        if (!texture.palette) return fail(DolphinError::MissingPalette);
        const IndexRange range = indexRange(texture.format, *base);
        if (range.first > range.last) return fail(DolphinError::NoPaletteRange);
        const PaletteView& palette = *texture.palette;
        const auto stored = static_cast<std::uint32_t>(std::min<std::size_t>(palette.entryCount, palette.words.size() / 2));
        out.palette = DolphinPaletteRange{range.first, range.last, stored};
        out.name += hex16(xxh64(paletteBytes(palette, *out.palette))) + "_";
    }
    out.name += std::to_string(code);
    const unsigned further = mip ? furtherLevels(texture, sampling) : 0;
    for (unsigned k = 1; k <= further; ++k) out.levels.push_back(out.name + "_mip" + std::to_string(k));
    return out;
}

}  // namespace tplforge
