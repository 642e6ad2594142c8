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
    if (format == Format::C4) {
        std::uint8_t lo = 0xFF, hi = 0;
        for (const std::uint8_t b : base) {
            lo = std::min(lo, b);
            hi = std::max(hi, b);
        }
        // Bytes order by their high nibble; the low ones come from any byte.
        std::uint8_t lowLo = 15, lowHi = 0;
        for (const std::uint8_t b : base) {
            lowLo = std::min<std::uint8_t>(lowLo, b & 15u);
            lowHi = std::max<std::uint8_t>(lowHi, b & 15u);
        }
        if (!base.empty()) range = {std::min<std::uint32_t>(lo >> 4, lowLo), std::max<std::uint32_t>(hi >> 4, lowHi)};
        return range;
    }
    if (format == Format::C8) {
        std::uint8_t lo = 0xFF, hi = 0;  // hi: of the bytes other than 255
        for (const std::uint8_t b : base) {
            lo = std::min(lo, b);
            hi = std::max<std::uint8_t>(hi, b == 255 ? 0 : b);
        }
        range.first = base.empty() ? range.first : lo;
        range.last = hi;
        // Dolphin lets 255 raise the top only once 254 has set it: a 255 after the first 254.
        if (hi == 254) {
            const auto first254 = std::find(base.begin(), base.end(), std::uint8_t{254});
            if (std::find(first254, base.end(), std::uint8_t{255}) != base.end()) range.last = 255;
        }
        return range;
    }
    // C14X2: Dolphin reads the high byte of each texel only.
    ByteReader in(base);
    while (const auto w = in.u16be()) range.take((*w >> 8 & 0x3Fu) << 8);
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

// --- Texture packs -----------------------------------------------------------------

namespace {

std::vector<std::string_view> splitParts(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const auto cut = text.find('_', start);
        parts.push_back(text.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
        if (cut == std::string_view::npos) return parts;
        start = cut + 1;
    }
}

// Decimal as Dolphin writes it: no sign, no leading zero.
std::optional<std::uint32_t> decimal(std::string_view text, std::uint32_t most) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > most) return std::nullopt;
    return value;
}

bool isHashOrWildcard(std::string_view text) {
    if (text == "$") return true;
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

std::string DolphinPackName::key() const {
    std::string out = "tex1_" + std::to_string(width) + "x" + std::to_string(height) + (mipFilter ? "_m_" : "_") + textureHash + "_";
    if (!paletteHash.empty()) out += paletteHash + "_";
    return out + std::to_string(format);
}

std::string describe(PackNameError error) {
    switch (error) {
        case PackNameError::NotTex1: return "not a Dolphin texture name (tex1_...)";
        case PackNameError::BadSize: return "the size is not WxH in decimal";
        case PackNameError::BadHash: return "a hash is not 16 lowercase hex digits or $";
        case PackNameError::BadFormat: return "the format is not a GX format code";
        case PackNameError::WrongParts: return "parts are missing or left over for its format";
        case PackNameError::BothWildcards: return "both hashes are $, which Dolphin never looks up";
        case PackNameError::BadLevel: return "_mip is not followed by a level from 1";
    }
    return "unknown error";
}

Expected<DolphinPackName, PackNameError> parsePackName(std::string_view stem) {
    auto parts = splitParts(stem);
    if (parts.size() < 2 || parts[0] != "tex1") return fail(PackNameError::NotTex1);
    DolphinPackName out;
    const auto x = parts[1].find('x');
    if (x == std::string_view::npos) return fail(PackNameError::BadSize);
    const auto w = decimal(parts[1].substr(0, x), kMaxSide), h = decimal(parts[1].substr(x + 1), kMaxSide);
    if (!w || !h || *w == 0 || *h == 0) return fail(PackNameError::BadSize);
    out.width = *w;
    out.height = *h;
    std::size_t first = 2;
    if (parts.size() > first && parts[first] == "m") {
        out.mipFilter = true;
        ++first;
    }
    std::size_t end = parts.size();
    if (end > first && parts[end - 1].starts_with("mip")) {
        const auto level = decimal(parts[end - 1].substr(3), kMaxLevels);
        if (!level || *level == 0) return fail(PackNameError::BadLevel);
        out.level = *level;
        --end;
    }
    if (end > first && parts[end - 1] == "arb") {
        out.arbitrary = true;
        --end;
    }
    if (end - first < 2 || end - first > 3) return fail(PackNameError::WrongParts);
    const auto code = decimal(parts[end - 1], 255);
    if (!code || !formatInfo(*code)) return fail(PackNameError::BadFormat);
    out.format = *code;
    const bool palette = isPaletteFormat(static_cast<Format>(*code));
    if (end - first != (palette ? 3u : 2u)) return fail(PackNameError::WrongParts);
    for (std::size_t i = first; i + 1 < end; ++i)
        if (!isHashOrWildcard(parts[i])) return fail(PackNameError::BadHash);
    out.textureHash = std::string(parts[first]);
    if (palette) {
        out.paletteHash = std::string(parts[first + 1]);
        if (out.textureHash == "$" && out.paletteHash == "$") return fail(PackNameError::BothWildcards);
    }
    return out;
}

std::vector<std::string> dolphinLookUpNames(const DolphinName& name) {
    auto parsed = parsePackName(name.name);
    if (!parsed || parsed->textureHash == "$" || parsed->paletteHash == "$") return {name.name};
    std::vector<std::string> out{parsed->key()};
    if (parsed->paletteHash.empty()) {
        parsed->textureHash = "$";
        out.push_back(parsed->key());
        return out;
    }
    DolphinPackName anyPalette = *parsed;
    anyPalette.paletteHash = "$";
    out.push_back(anyPalette.key());
    parsed->textureHash = "$";
    out.push_back(parsed->key());
    return out;
}

bool DolphinPackIndex::add(const DolphinPackName& name, std::size_t value) {
    return keys_.try_emplace(name.key(), value).second;
}

std::optional<std::size_t> DolphinPackIndex::find(const DolphinName& name) const {
    for (const std::string& key : dolphinLookUpNames(name))
        if (const auto found = keys_.find(key); found != keys_.end()) return found->second;
    return std::nullopt;
}

}  // namespace tplforge
