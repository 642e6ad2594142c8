#include "tplforge/format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <string>

#include "tplforge/version.h"

namespace tplforge {

namespace {

constexpr std::array<FormatInfo, 11> kFormats{{
    {Format::I4, "I4", 8, 8, 32, 4, 0},
    {Format::I8, "I8", 8, 4, 32, 8, 0},
    {Format::IA4, "IA4", 8, 4, 32, 8, 0},
    {Format::IA8, "IA8", 4, 4, 32, 16, 0},
    {Format::RGB565, "RGB565", 4, 4, 32, 16, 0},
    {Format::RGB5A3, "RGB5A3", 4, 4, 32, 16, 0},
    {Format::RGBA8, "RGBA8", 4, 4, 64, 32, 0},
    {Format::C4, "C4", 8, 8, 32, 4, 16},
    {Format::C8, "C8", 8, 4, 32, 8, 256},
    {Format::C14X2, "C14X2", 4, 4, 32, 16, 16384},
    {Format::CMPR, "CMPR", 8, 8, 32, 4, 0},
}};

constexpr std::array<std::string_view, 3> kPaletteNames{"IA8", "RGB565", "RGB5A3"};
constexpr std::array<std::string_view, 3> kWrapNames{"clamp", "repeat", "mirror"};
constexpr std::array<std::string_view, 6> kFilterNames{"near",         "linear",       "near_mip_near",
                                                       "lin_mip_near", "near_mip_lin", "lin_mip_lin"};

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

template <std::size_t N>
std::string_view nameIn(const std::array<std::string_view, N>& names, std::uint32_t code) {
    return code < N ? names[code] : "unknown";
}

template <class Enum, std::size_t N>
std::optional<Enum> findName(const std::array<std::string_view, N>& names, std::string_view name) {
    for (std::size_t i = 0; i < N; ++i)
        if (sameName(names[i], name)) return static_cast<Enum>(i);
    return std::nullopt;
}

}  // namespace

std::string_view version() { return TPLFORGE_VERSION_STRING; }

FormatInfo formatInfo(Format format) { return formatInfo(static_cast<std::uint32_t>(format)).value_or(kFormats[0]); }

std::optional<FormatInfo> formatInfo(std::uint32_t code) {
    for (const FormatInfo& info : kFormats)
        if (static_cast<std::uint32_t>(info.format) == code) return info;
    return std::nullopt;
}

std::string_view formatName(std::uint32_t code) {
    const auto info = formatInfo(code);
    return info ? info->name : "unknown";
}

std::string_view paletteFormatName(std::uint32_t code) { return nameIn(kPaletteNames, code); }
std::string_view wrapModeName(WrapMode mode) { return nameIn(kWrapNames, static_cast<std::uint32_t>(mode)); }
std::string_view filterName(TextureFilter filter) { return nameIn(kFilterNames, static_cast<std::uint32_t>(filter)); }

std::optional<Format> formatFromName(std::string_view name) {
    for (const FormatInfo& info : kFormats)
        if (sameName(info.name, name)) return info.format;
    return std::nullopt;
}

std::optional<PaletteFormat> paletteFormatFromName(std::string_view name) {
    return findName<PaletteFormat>(kPaletteNames, name);
}
std::optional<WrapMode> wrapModeFromName(std::string_view name) { return findName<WrapMode>(kWrapNames, name); }
std::optional<TextureFilter> filterFromName(std::string_view name) {
    return findName<TextureFilter>(kFilterNames, name);
}

std::uint64_t levelBytes(std::uint32_t code, std::uint32_t width, std::uint32_t height) {
    const FormatInfo info = formatInfo(code).value_or(kFormats[0]);
    const std::uint64_t across = (std::uint64_t{width} + info.blockWidth - 1) / info.blockWidth;
    const std::uint64_t down = (std::uint64_t{height} + info.blockHeight - 1) / info.blockHeight;
    return across * down * info.blockBytes;
}

unsigned levelsToOne(std::uint32_t width, std::uint32_t height) {
    return static_cast<unsigned>(std::bit_width(std::max(width, height)));
}

unsigned levelsPossible(Format format, std::uint32_t width, std::uint32_t height) {
    const FormatInfo info = formatInfo(format);
    unsigned levels = 1;
    while (levels < kMaxLevels && (width >> levels) >= info.blockWidth && (height >> levels) >= info.blockHeight)
        ++levels;
    return levels;
}

std::uint64_t chainBytes(Format format, std::uint32_t width, std::uint32_t height, unsigned levels) {
    std::uint64_t total = 0;
    for (unsigned k = 0; k < levels; ++k) total += levelBytes(format, levelSide(width, k), levelSide(height, k));
    return total;
}

}  // namespace tplforge
