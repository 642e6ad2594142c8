#include "codec/gx/texel_runs.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/gx/texel.h"

// Each run is built for the x86-64 baseline, for AVX2 and for AVX-512 (x86-64-v4,
// twice the texels an instruction again); the loader picks the widest the
// processor runs when the program starts. The loops are kept plain
// (no branch on a texel, no table) so that both builds come out as vector code;
// CMake compiles this file with the vectoriser's full cost model. Defining
// TPLFORGE_BASELINE_ONLY builds the baseline alone, to test it on any machine.
#if defined(__x86_64__) && defined(__has_attribute) && !defined(TPLFORGE_BASELINE_ONLY)
#if __has_attribute(target_clones)
#define TPLFORGE_RUN __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#endif
#endif
#ifndef TPLFORGE_RUN
#define TPLFORGE_RUN
#endif

static_assert(std::endian::native == std::endian::little, "RGBA texels are read as little-endian words");

namespace tplforge::runs {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;

// The division by 255 of texel.h as a multiply, an add and a shift that stay
// within 16 bits; checked below for every input. It takes and gives 16-bit
// values so that vector code works in 16-bit lanes.
template <u16 Mul, u16 Add, int Shift>
constexpr u16 scale(u16 v) {
    return static_cast<u16>(static_cast<u16>(v * Mul + Add) >> Shift);
}
constexpr u16 round4(u16 v) { return scale<15, 135, 8>(v); }

template <class Fast, class Exact>
constexpr bool agree(u32 count, Fast fast, Exact exact) {
    for (u32 v = 0; v < count; ++v)
        if (u32{fast(static_cast<u16>(v))} != u32{exact(v)}) return false;
    return true;
}
static_assert(agree(256, round4, texel::reduce<4>));

constexpr u32 alpha(u32 p) { return p >> 24; }
constexpr u32 grey(u32 p) { return texel::intensity(p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF); }

// IA4's choice as texel.h makes it, but for its integer division: the intensity
// for alpha field j is g·a / 289j rounded, which a float quotient rounds alike,
// as a quotient of integers below 2^24 with a divisor below 4336 lies at least
// 1/8670 from a half, far more than the quotient's rounding error. Both errors
// stay below 2^27. Inlined, or the clones below would call it texel by texel.
[[gnu::always_inline]] constexpr u32 ia4Texel(u32 grey, u32 alpha) {
    using i32 = std::int32_t;  // signed and 32 bits throughout, as the vectoriser wants it
    const auto g = static_cast<i32>(grey), a = static_cast<i32>(alpha);
    const i32 ga = g * a, low = a * 241 >> 12, high = std::min(low + 1, 15);  // a / 17 and the field above
    const auto intensity = [&](i32 j) {
        const auto i = static_cast<i32>(static_cast<float>(ga) / static_cast<float>(289 * std::max(j, 1)) + 0.5f);
        return j == 0 ? (g * 15 + 135) >> 8 : std::min(i, 15);  // round4 where nothing shows
    };
    const auto error = [&](i32 i, i32 j) {
        const i32 shown = 289 * i * j - ga, off = 17 * j - a;
        return 3 * shown * shown + 65025 * off * off;
    };
    const i32 i0 = intensity(low), i1 = intensity(high);
    return static_cast<u32>(error(i1, high) < error(i0, low) ? high << 4 | i1 : low << 4 | i0);
}

using texel::widen4;
constexpr u32 greyTexel(u32 i, u32 a) { return i * 0x010101u | a << 24; }

// 16-bit texels are big-endian in the file.
inline void putWord(u8* out, std::size_t i, u32 w) {
    out[2 * i] = static_cast<u8>(w >> 8);
    out[2 * i + 1] = static_cast<u8>(w);
}

}  // namespace

TPLFORGE_RUN void encodeI4(const u32* texels, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n / 2; ++i)
        out[i] = static_cast<u8>(round4(grey(texels[2 * i])) << 4 | round4(grey(texels[2 * i + 1])));
}

TPLFORGE_RUN void encodeI8(const u32* texels, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<u8>(grey(texels[i]));
}

TPLFORGE_RUN void encodeIa4(const u32* texels, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<u8>(ia4Texel(grey(texels[i]), alpha(texels[i])));
}

TPLFORGE_RUN void encodeIa8(const u32* texels, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n; ++i) putWord(out, i, alpha(texels[i]) << 8 | grey(texels[i]));
}

TPLFORGE_RUN void decodeI4(const u8* in, std::size_t n, u32* texels) {
    for (std::size_t i = 0; i < n / 2; ++i) {
        const u32 hi = widen4(in[i] >> 4), lo = widen4(in[i] & 15u);
        texels[2 * i] = greyTexel(hi, hi);
        texels[2 * i + 1] = greyTexel(lo, lo);
    }
}

TPLFORGE_RUN void decodeI8(const u8* in, std::size_t n, u32* texels) {
    for (std::size_t i = 0; i < n; ++i) texels[i] = in[i] * 0x01010101u;
}

TPLFORGE_RUN void decodeIa4(const u8* in, std::size_t n, u32* texels) {
    for (std::size_t i = 0; i < n; ++i) texels[i] = greyTexel(widen4(in[i] & 15u), widen4(in[i] >> 4));
}

TPLFORGE_RUN void decodeIa8(const u8* in, std::size_t n, u32* texels) {
    for (std::size_t i = 0; i < n; ++i) texels[i] = greyTexel(in[2 * i + 1], in[2 * i]);
}

TPLFORGE_RUN void packC4(const u16* indices, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n / 2; ++i)
        out[i] = static_cast<u8>((indices[2 * i] & 15u) << 4 | (indices[2 * i + 1] & 15u));
}

TPLFORGE_RUN void packC8(const u16* indices, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<u8>(indices[i]);
}

TPLFORGE_RUN void packC14x2(const u16* indices, std::size_t n, u8* out) {
    for (std::size_t i = 0; i < n; ++i) putWord(out, i, indices[i] & 0x3FFFu);
}

}  // namespace tplforge::runs
