// The tplforge window's own texture rules, for the window and for
// `tplforge-cli --window`, kept byte for byte: its files must read and write as
// they always have. Built on the public codec, which follows the console.
//
// RGB565 and RGB5A3 only. Encoding reduces each channel by truncation: a 5-bit
// field is v·31/255 and a 6-bit field v·63/255, rounded down, so only 255 reaches
// the top value. An RGB5A3 pixel of exactly the alpha colour is written with
// bit 15 clear and the same 5-5-5 fields: a colour key, not a 3-bit alpha.
// Decoding returns, for each field, the smallest 8-bit value that the encoder
// maps back to the same field (ceil(f·255/31), ceil(f·255/63)); decode→encode is
// then the identity on every word, and white FFFF reads back as 255, 255, 255.
// Every picture with transparency is drawn over the surface grey first, and
// files are laid out with the texel data at the first multiple of 32 above the
// headers.
//
//   RGB565:            RRRRRGGG GGGBBBBB
//   RGB5A3 opaque:     1RRRRRGG GGGBBBBB
//   RGB5A3 alpha key:  0RRRRRGG GGGBBBBB
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tplforge/bmp.h"
#include "tplforge/expected.h"
#include "tplforge/image.h"
#include "tplforge/tpl.h"
#include "window_rules/window_raster.h"

namespace tplforge::window_rules {

// --- Texels ----------------------------------------------------------------------

constexpr std::uint32_t to5(std::uint32_t v) { return v * 31 / 255; }
constexpr std::uint32_t to6(std::uint32_t v) { return v * 63 / 255; }
constexpr std::uint32_t from5(std::uint32_t f) { return (f * 255 + 30) / 31; }
constexpr std::uint32_t from6(std::uint32_t f) { return (f * 255 + 62) / 63; }

constexpr std::uint16_t encodeRgb565(ColourValue c) {
    return static_cast<std::uint16_t>((to5(redOf(c)) << 11) | (to6(greenOf(c)) << 5) | to5(blueOf(c)));
}

// Full-value comparison with the alpha colour, before any reduction: a pixel that
// differs from it only in bits the reduction drops is still opaque.
constexpr std::uint16_t encodeRgb5a3(ColourValue c, ColourValue alphaColour) {
    const std::uint32_t fields = (to5(redOf(c)) << 10) | (to5(greenOf(c)) << 5) | to5(blueOf(c));
    return static_cast<std::uint16_t>(c == alphaColour ? fields : (fields | 0x8000u));
}

constexpr ColourValue decodeRgb565(std::uint16_t w) {
    return rgb(from5(w >> 11), from6((w >> 5) & 0x3F), from5(w & 0x1F));
}

// Bit 15 is not looked at: set or clear, the low 15 bits are 5-5-5 colour.
constexpr ColourValue decodeRgb5a3(std::uint16_t w) {
    return rgb(from5((w >> 10) & 0x1F), from5((w >> 5) & 0x1F), from5(w & 0x1F));
}

constexpr bool isAlphaTexel(std::uint16_t w) { return (w & 0x8000u) == 0; }

// --- Files -----------------------------------------------------------------------

struct Texture {
    const WindowRaster* raster = nullptr;
    bool rgb5a3 = false;
    ColourValue alphaColour = kWhite;  // RGB5A3 only
};

enum class WriteError {
    NoTextures,
    EmptyPicture,
    SideNotMultipleOf4,
    SideTooLarge,  // beyond 32767
    FileTooLarge,  // beyond 2 GiB
};
[[nodiscard]] std::string_view describe(WriteError error);

// Texel data of a raster whose sides are multiples of 4, in 4 × 4 tiles
// (levelBytes of its sides).
[[nodiscard]] Expected<void, WriteError> encodeTexture(const Texture& texture, std::span<std::uint8_t> out);

// The whole file, the textures in order.
[[nodiscard]] Expected<std::vector<std::uint8_t>, WriteError> buildTpl(std::span<const Texture> textures);

struct DecodedTexture {
    WindowRaster raster;
    std::size_t alphaTexels = 0;           // RGB5A3 texels with bit 15 clear
    ColourValue lastAlphaColour = kBlack;  // colour of the last of them, in file order
};

// Decodes an RGB565 or RGB5A3 texture of a file that parseTpl accepted. Sizes
// that are not multiples of 4 are walked in whole tiles; texels outside the
// picture are dropped (an alpha texel there still counts).
[[nodiscard]] Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file,
                                                               const TplImageHeader& image);

// --- Pictures --------------------------------------------------------------------

// The picture drawn over the surface grey by its alpha.
[[nodiscard]] WindowRaster overSurface(const Image& picture);
// And back, opaque.
[[nodiscard]] Image opaqueImage(const WindowRaster& raster);

// A 24-bit bitmap of the raster.
[[nodiscard]] Expected<std::vector<std::uint8_t>, BmpError> encodeBmp24(const WindowRaster& picture);

}  // namespace tplforge::window_rules
