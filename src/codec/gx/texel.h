// Texel fields as the console's texture unit widens them, and the encoder's way
// back. Widening repeats a field's bits from the top until 8 bits are filled:
//   3 bits abc    -> abcabcab        5 bits abcde  -> abcdeabc
//   4 bits abcd   -> abcdabcd        6 bits abcdef -> abcdefab
// Reducing rounds to the nearest field, (v * max + 127) / 255: for every 8-bit v
// the field whose widened value lies nearest v, so it gives back the field of
// every widened value (truncation would not: 5-bit 8 -> 0).
//
//   IA8     AAAAAAAA IIIIIIII
//   RGB565  RRRRRGGG GGGBBBBB
//   RGB5A3  1RRRRRGG GGGBBBBB  opaque
//           0AAARRRR GGGGBBBB  3-bit alpha, 4-bit colour
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "tplforge/format.h"

namespace tplforge::texel {

using tplforge::PaletteFormat;

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

// A texel as one little-endian word of a picture's RGBA bytes.
constexpr std::uint32_t packed(Rgba c) {
    return std::uint32_t{c.r} | std::uint32_t{c.g} << 8 | std::uint32_t{c.b} << 16 | std::uint32_t{c.a} << 24;
}
constexpr Rgba unpacked(std::uint32_t p) {
    return {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p >> 16),
            static_cast<std::uint8_t>(p >> 24)};
}

constexpr std::uint8_t widen3(std::uint32_t f) { return static_cast<std::uint8_t>((f << 5) | (f << 2) | (f >> 1)); }
constexpr std::uint8_t widen4(std::uint32_t f) { return static_cast<std::uint8_t>(f * 17); }
constexpr std::uint8_t widen5(std::uint32_t f) { return static_cast<std::uint8_t>((f << 3) | (f >> 2)); }
constexpr std::uint8_t widen6(std::uint32_t f) { return static_cast<std::uint8_t>((f << 2) | (f >> 4)); }

template <int Bits>
constexpr std::uint32_t reduce(std::uint32_t v) {
    constexpr std::uint32_t max = (1u << Bits) - 1;
    return (v * max + 127) / 255;
}

// Intensity of a colour: Rec. 601 luma, 0.299 R + 0.587 G + 0.114 B, rounded to
// the nearest (halves up). In thousandths the sum is exact, so every colour rounds
// as the real sum does, and a grey is its own intensity.
constexpr std::uint8_t intensity(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}
constexpr std::uint8_t intensity(Rgba c) { return intensity(c.r, c.g, c.b); }

// Squared distance over red, green, blue and alpha as they are.
constexpr std::uint32_t distance2(Rgba p, Rgba q) {
    const auto d2 = [](int x, int y) { return static_cast<std::uint32_t>((x - y) * (x - y)); };
    return d2(p.r, q.r) + d2(p.g, q.g) + d2(p.b, q.b) + d2(p.a, q.a);
}

constexpr Rgba decodeIa4(std::uint8_t t) {
    const std::uint8_t i = widen4(t & 15u);
    return {i, i, i, widen4(t >> 4u)};
}

constexpr Rgba decodeIa8(std::uint16_t w) {
    const auto i = static_cast<std::uint8_t>(w & 0xFF);
    return {i, i, i, static_cast<std::uint8_t>(w >> 8)};
}

constexpr Rgba decodeRgb565(std::uint16_t w) {
    return {widen5(w >> 11), widen6((w >> 5) & 0x3F), widen5(w & 0x1F), 255};
}

constexpr Rgba decodeRgb5a3(std::uint16_t w) {
    if (w & 0x8000) return {widen5((w >> 10) & 0x1F), widen5((w >> 5) & 0x1F), widen5(w & 0x1F), 255};
    return {widen4((w >> 8) & 0xF), widen4((w >> 4) & 0xF), widen4(w & 0xF), widen3((w >> 12) & 7)};
}

// With 8 bits of alpha the alpha is kept and the nearest intensity is also the
// least error after blending, so IA8 needs no joint choice.
constexpr std::uint16_t encodeIa8(Rgba c) { return static_cast<std::uint16_t>((c.a << 8) | intensity(c)); }

// IA4 of grey g at alpha a, both fields chosen together. With alpha a a texel adds
// g·a to what shows, so where alpha is low an intensity that brings g·a nearer
// beats the one nearest g. The error is that of premultiplied red, green and blue
// (the grey three times) and alpha, times 255²; only the alpha fields either side
// of a can win, as any other costs more alpha than intensity gains back. At alpha
// 0 nothing shows, and the nearest intensity keeps what decoding gave.
constexpr std::uint8_t encodeIa4(std::uint32_t g, std::uint32_t a) {
    std::uint64_t least = ~std::uint64_t{0};
    std::uint32_t best = 0;
    const std::uint32_t below = a / 17;
    for (std::uint32_t j = below; j <= below + 1 && j < 16; ++j) {
        const std::uint32_t i = j == 0 ? reduce<4>(g) : std::min(15u, (2 * g * a + 289 * j) / (578 * j));
        const std::int64_t shown = std::int64_t{289} * i * j - std::int64_t{g} * a, alpha = std::int64_t{17} * j - a;
        const auto error = static_cast<std::uint64_t>(3 * shown * shown + 65025 * alpha * alpha);
        if (error < least) least = error, best = j << 4 | i;
    }
    return static_cast<std::uint8_t>(best);
}
constexpr std::uint8_t encodeIa4(Rgba c) { return encodeIa4(intensity(c), c.a); }

constexpr std::uint16_t encodeRgb565(Rgba c) {
    return static_cast<std::uint16_t>((reduce<5>(c.r) << 11) | (reduce<6>(c.g) << 5) | reduce<5>(c.b));
}

// Rounding each field gives the nearest texel of each form (alpha 7 reads as opaque
// with 4-bit colour, so the forms overlap at the top); of the two, the one nearer
// the pixel wins, the opaque one on a tie. Nearness is of RGBA as it is, not
// premultiplied: decoding gives back the colour of transparent texels too, and a
// texel any word shows must encode to a word that shows it.
constexpr std::uint16_t encodeRgb5a3(Rgba c) {
    const auto opaque =
        static_cast<std::uint16_t>(0x8000 | (reduce<5>(c.r) << 10) | (reduce<5>(c.g) << 5) | reduce<5>(c.b));
    const auto clear = static_cast<std::uint16_t>((reduce<3>(c.a) << 12) | (reduce<4>(c.r) << 8) |
                                                  (reduce<4>(c.g) << 4) | reduce<4>(c.b));
    return distance2(decodeRgb5a3(opaque), c) <= distance2(decodeRgb5a3(clear), c) ? opaque : clear;
}

constexpr Rgba decodeEntry(PaletteFormat f, std::uint16_t w) {
    switch (f) {
        case PaletteFormat::IA8: return decodeIa8(w);
        case PaletteFormat::RGB565: return decodeRgb565(w);
        case PaletteFormat::RGB5A3: return decodeRgb5a3(w);
    }
    return {};
}

constexpr std::uint16_t encodeEntry(PaletteFormat f, Rgba c) {
    switch (f) {
        case PaletteFormat::IA8: return encodeIa8(c);
        case PaletteFormat::RGB565: return encodeRgb565(c);
        case PaletteFormat::RGB5A3: return encodeRgb5a3(c);
    }
    return 0;
}

}  // namespace tplforge::texel
