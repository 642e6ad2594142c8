// The GX texture formats and sampler settings. Every enum value is the code a
// file stores; a value read from a file may be one no enumerator names, and is
// kept as it was read.
//
// Level counts always include level 0, the picture itself: a texture with two
// mipmaps has three levels.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "tplforge/export.h"

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

// Palette entry formats, as a palette header stores them.
enum class PaletteFormat : std::uint32_t { IA8 = 0, RGB565 = 1, RGB5A3 = 2 };

// How texture coordinates outside 0..1 are taken, per direction.
enum class WrapMode : std::uint32_t { Clamp = 0, Repeat = 1, Mirror = 2 };

// Minification takes every filter; magnification only Near and Linear. The
// *Mip* filters also choose between mipmap levels.
enum class TextureFilter : std::uint32_t {
    Near = 0,
    Linear = 1,
    NearMipNear = 2,
    LinMipNear = 3,
    NearMipLin = 4,
    LinMipLin = 5,
};

// How hard CMPR and palette encoding try, from quick to thorough.
enum class Quality { Fast, Normal, Best };

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
[[nodiscard]] TPLFORGE_API std::optional<FormatInfo> formatInfo(std::uint32_t code);
// A defined format's facts (for a code no enumerator names: those of I4).
[[nodiscard]] TPLFORGE_API FormatInfo formatInfo(Format format);
[[nodiscard]] inline bool isPaletteFormat(Format format) { return formatInfo(format).maxPaletteEntries > 0; }

// Names as a person types them: "I4", "CMPR"; "clamp", "lin_mip_lin". Names of
// codes no enumerator holds are "unknown". Reading a name ignores case.
[[nodiscard]] TPLFORGE_API std::string_view formatName(std::uint32_t code);
[[nodiscard]] TPLFORGE_API std::string_view paletteFormatName(std::uint32_t code);
[[nodiscard]] TPLFORGE_API std::string_view wrapModeName(WrapMode mode);
[[nodiscard]] TPLFORGE_API std::string_view filterName(TextureFilter filter);
[[nodiscard]] inline std::string_view formatName(Format f) { return formatName(static_cast<std::uint32_t>(f)); }
[[nodiscard]] inline std::string_view paletteFormatName(PaletteFormat f) {
    return paletteFormatName(static_cast<std::uint32_t>(f));
}
[[nodiscard]] TPLFORGE_API std::optional<Format> formatFromName(std::string_view name);
[[nodiscard]] TPLFORGE_API std::optional<PaletteFormat> paletteFormatFromName(std::string_view name);
[[nodiscard]] TPLFORGE_API std::optional<WrapMode> wrapModeFromName(std::string_view name);
[[nodiscard]] TPLFORGE_API std::optional<TextureFilter> filterFromName(std::string_view name);

// Bytes of one picture of width × height in whole blocks. Undefined codes are
// sized as the smallest real format (4 bits in 8 × 8 blocks).
[[nodiscard]] TPLFORGE_API std::uint64_t levelBytes(std::uint32_t code, std::uint32_t width, std::uint32_t height);
[[nodiscard]] inline std::uint64_t levelBytes(Format f, std::uint32_t width, std::uint32_t height) {
    return levelBytes(static_cast<std::uint32_t>(f), width, height);
}

// Side of level k: halved k times, never below 1.
[[nodiscard]] constexpr std::uint32_t levelSide(std::uint32_t side, unsigned level) {
    const std::uint32_t s = level >= 32 ? 0 : side >> level;
    return s == 0 ? 1 : s;
}

// The console's limit on levels: LODs are clamped to 0..10.
inline constexpr unsigned kMaxLevels = 11;

// Levels down to 1 × 1: the most any chain of a picture holds.
[[nodiscard]] TPLFORGE_API unsigned levelsToOne(std::uint32_t width, std::uint32_t height);

// Levels a picture can usefully have in a format: each halves the one before,
// and they stop before a side would fall below one block (and at kMaxLevels).
[[nodiscard]] TPLFORGE_API unsigned levelsPossible(Format format, std::uint32_t width, std::uint32_t height);

// Bytes of levels 0 .. levels − 1 back to back.
[[nodiscard]] TPLFORGE_API std::uint64_t chainBytes(Format format, std::uint32_t width, std::uint32_t height,
                                                    unsigned levels);

}  // namespace tplforge
