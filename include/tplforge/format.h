// The GX texture formats. The enum values are the codes a TPL image header stores.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tplforge {

enum class Format : std::uint32_t {
    I4 = 0,
    I8 = 1,
    IA4 = 2,
    IA8 = 3,
    RGB565 = 4,
    RGB5A3 = 5,
    RGBA8 = 6,
    C4 = 8,
    C8 = 9,
    C14X2 = 10,
    CMPR = 14,
};

// How hard CMPR and palette encoding try, from quick to thorough.
enum class Quality { Fast, Normal, Best };

// Palette entry formats, as a palette header stores them.
enum class PaletteFormat : std::uint32_t { IA8 = 0, RGB565 = 1, RGB5A3 = 2 };

struct FormatInfo {
    Format format;
    std::string_view name;     // upper case, as in "RGB5A3"
    std::uint32_t blockWidth;  // texels
    std::uint32_t blockHeight;
    std::uint32_t blockBytes;  // 32, but 64 for RGBA8, whose block holds two 32-byte halves
    std::uint32_t bitsPerTexel;
    std::uint32_t maxPaletteEntries;  // 0: not a palette format
};

// Facts for a format code, or nothing for a code GX does not define.
std::optional<FormatInfo> formatInfo(std::uint32_t code);
inline FormatInfo formatInfo(Format f) { return *formatInfo(static_cast<std::uint32_t>(f)); }

// "I4", "CMPR", ...; "unknown" for an undefined code.
std::string_view formatName(std::uint32_t code);
std::string_view paletteFormatName(std::uint32_t code);

// A lower-case or upper-case name back to its format.
std::optional<Format> formatFromName(std::string_view name);
std::optional<PaletteFormat> paletteFormatFromName(std::string_view name);

// Bytes of one picture of width × height in whole blocks. Undefined codes are
// sized as the smallest real format (4 bits in 8 × 8 blocks).
std::uint64_t levelBytes(std::uint32_t code, std::uint32_t width, std::uint32_t height);
inline std::uint64_t levelBytes(Format f, std::uint32_t width, std::uint32_t height) {
    return levelBytes(static_cast<std::uint32_t>(f), width, height);
}

// Side of mipmap level k: halved k times, never below 1.
constexpr std::uint32_t levelSide(std::uint32_t side, unsigned level) {
    const std::uint32_t s = level >= 32 ? 0 : side >> level;
    return s == 0 ? 1 : s;
}

}  // namespace tplforge
