// Texels converted a run at a time: `n` texels that lie one after another in a
// file's block order, so that every conversion is a plain loop over arrays that
// the compiler turns into vector code. block_order.h moves texels between the
// picture's rows and that order. Each function gives, texel for texel, what the
// per-texel functions of texel.h give; those stay the reference the tests hold
// these to. RGB565, RGB5A3 and RGBA8 cost too much to
// convert apart from the move: block_rows.h does both at once for them.
//
// RGBA texels are 32-bit words as the bytes of an Image lie in memory on a
// little-endian machine: r | g << 8 | b << 16 | a << 24. `n` is a multiple of 16.
#pragma once

#include <cstddef>
#include <cstdint>


// Hidden by name: the processor-choice resolvers of the multi-target builds are
// emitted visible otherwise, even where everything else is hidden.
#pragma GCC visibility push(hidden)
namespace tplforge::runs {

// --- The console's formats ----------------------------------------------------

void encodeI4(const std::uint32_t* texels, std::size_t n, std::uint8_t* out);
void encodeI8(const std::uint32_t* texels, std::size_t n, std::uint8_t* out);
void encodeIa4(const std::uint32_t* texels, std::size_t n, std::uint8_t* out);
void encodeIa8(const std::uint32_t* texels, std::size_t n, std::uint8_t* out);

void decodeI4(const std::uint8_t* in, std::size_t n, std::uint32_t* texels);
void decodeI8(const std::uint8_t* in, std::size_t n, std::uint32_t* texels);
void decodeIa4(const std::uint8_t* in, std::size_t n, std::uint32_t* texels);
void decodeIa8(const std::uint8_t* in, std::size_t n, std::uint32_t* texels);

// Palette indices as C4, C8 and C14X2 texels (C14X2 drops the top two bits).
void packC4(const std::uint16_t* indices, std::size_t n, std::uint8_t* out);
void packC8(const std::uint16_t* indices, std::size_t n, std::uint8_t* out);
void packC14x2(const std::uint16_t* indices, std::size_t n, std::uint8_t* out);

}  // namespace tplforge::runs
#pragma GCC visibility pop
