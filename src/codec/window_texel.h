// The window's texel rules, kept byte for byte: its files must read and write as
// they always have.
//
// Encoding reduces each channel by truncation: a 5-bit field is v·31/255 and a
// 6-bit field v·63/255, rounded down, so only 255 reaches the top value.
// Decoding returns, for each field, the smallest 8-bit value that the encoder maps
// back to the same field (ceil(f·255/31), ceil(f·255/63)); decode→encode is then the
// identity on every word, and white FFFF reads back as 255, 255, 255.
//
//   RGB565:            RRRRRGGG GGGBBBBB
//   RGB5A3 opaque:     1RRRRRGG GGGBBBBB
//   RGB5A3 alpha key:  0RRRRRGG GGGBBBBB   (same 5-5-5 fields; the pixel was the
//                                           slot's alpha colour)
#pragma once

#include <array>
#include <cstdint>

#include "codec/raster.h"

namespace tplforge::window_rules {

constexpr std::uint32_t to5(std::uint32_t v) { return v * 31 / 255; }
constexpr std::uint32_t to6(std::uint32_t v) { return v * 63 / 255; }
constexpr std::uint32_t from5(std::uint32_t f) { return (f * 255 + 30) / 31; }
constexpr std::uint32_t from6(std::uint32_t f) { return (f * 255 + 62) / 63; }

namespace detail {
template <int Bits>
constexpr auto reduceTable() {
    std::array<std::uint8_t, 256> t{};
    for (std::uint32_t v = 0; v < 256; ++v) t[v] = static_cast<std::uint8_t>(Bits == 5 ? to5(v) : to6(v));
    return t;
}
template <int Bits>
constexpr auto expandTable() {
    std::array<std::uint8_t, (1u << Bits)> t{};
    for (std::uint32_t f = 0; f < (1u << Bits); ++f) t[f] = static_cast<std::uint8_t>(Bits == 5 ? from5(f) : from6(f));
    return t;
}
inline constexpr auto kReduce5 = reduceTable<5>();
inline constexpr auto kReduce6 = reduceTable<6>();
inline constexpr auto kExpand5 = expandTable<5>();
inline constexpr auto kExpand6 = expandTable<6>();
}  // namespace detail

constexpr std::uint16_t encodeRgb565(ColourValue c) {
    return static_cast<std::uint16_t>((detail::kReduce5[redOf(c)] << 11) | (detail::kReduce6[greenOf(c)] << 5) |
                                      detail::kReduce5[blueOf(c)]);
}

// Full-value comparison with the alpha colour, before any reduction: a pixel that
// differs from it only in bits the reduction drops is still opaque.
constexpr std::uint16_t encodeRgb5a3(ColourValue c, ColourValue alphaColour) {
    const std::uint32_t fields =
        (detail::kReduce5[redOf(c)] << 10) | (detail::kReduce5[greenOf(c)] << 5) | detail::kReduce5[blueOf(c)];
    return static_cast<std::uint16_t>(c == alphaColour ? fields : (fields | 0x8000u));
}

constexpr ColourValue decodeRgb565(std::uint16_t w) {
    return rgb(detail::kExpand5[w >> 11], detail::kExpand6[(w >> 5) & 0x3F], detail::kExpand5[w & 0x1F]);
}

// Bit 15 is not looked at: set or clear, the low 15 bits are 5-5-5 colour.
constexpr ColourValue decodeRgb5a3(std::uint16_t w) {
    return rgb(detail::kExpand5[(w >> 10) & 0x1F], detail::kExpand5[(w >> 5) & 0x1F], detail::kExpand5[w & 0x1F]);
}

constexpr bool isAlphaTexel(std::uint16_t w) { return (w & 0x8000u) == 0; }

}  // namespace tplforge::window_rules
