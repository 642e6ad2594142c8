// Conversions straight between a row of blocks and the picture rows it covers,
// for the formats whose conversion is too heavy to afford a copy of the texels
// into block order first (texel_runs.h does that for the others).
// Each step loads whole blocks or whole row pieces, converts them in vector
// registers and stores whole row pieces or whole blocks: nothing goes through
// memory in between.
//
// Every set of kernels gives, texel for texel, what the per-texel functions of
// texel.h give; tests hold each set to them.
#pragma once

#include <cstddef>
#include <cstdint>


namespace tplforge::block_rows {

// rows[r] is the first texel of row r of the block row; `blocks` whole blocks
// side by side, their texel data one after another at `data`.
using Encode = void (*)(const std::uint32_t* const rows[4], std::size_t blocks, std::uint8_t* data);
using Decode = void (*)(const std::uint8_t* data, std::size_t blocks, std::uint32_t* const rows[4]);
// Palette look-ups: `table` holds an RGBA texel for every index the format can
// hold; C4 blocks are 8 × 8, C8 8 × 4, C14X2 4 × 4, and rows as many.
using LookUp = void (*)(const std::uint8_t* data, std::size_t blocks, const std::uint32_t* table,
                        std::uint32_t* const* rows);

struct Kernels {
    // The console's formats: RGBA texels as texel_runs.h has them.
    Encode encodeRgb565, encodeRgb5a3, encodeRgba8;
    Decode decodeRgb565, decodeRgb5a3, decodeRgba8;
    LookUp lookUpC4, lookUpC8, lookUpC14x2;
};

// Vector width in bytes: 16 runs on every x86-64, 32 needs AVX2, 64 AVX-512.
bool runs(unsigned width);
const Kernels& kernels(unsigned width);
// The widest this processor runs (16 when built with TPLFORGE_BASELINE_ONLY).
const Kernels& kernels();

}  // namespace tplforge::block_rows
