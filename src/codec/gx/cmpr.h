// CMPR, GX's compressed colour format: 8 × 8 blocks of four 4 × 4 sub-blocks, each
// two RGB565 endpoints (big-endian) and sixteen 2-bit indices, the leftmost texel of
// a row in the top bits. The console blends at 3/8 – 5/8 and its three-colour mode
// keeps the average colour under the transparent index, so PC DXT1 tools fit the
// wrong palette; this encoder fits the console's one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tplforge/format.h"

namespace tplforge::cmpr {

// Fast: one principal-axis fit, polished against the exact decode.
// Normal: that, then a search of orderings near it wherever error is left, and a
// three-colour try.
// Best: every ordering along up to three axes in both modes and a hill climb, then
// a search of all endpoint pairs that ends at the least error any sub-block can have
// (or, on a very busy sub-block, at a work limit): 0.007 dB over the climb on the
// photo for four times the time.
using tplforge::Quality;

// One CMPR level of width × height (data = levelBytes(Format::CMPR, w, h) bytes) into
// RGBA8 rows (rgba.size() == w*h*4), as the console's texture unit shows it.
// Throws std::invalid_argument when a span has the wrong size.
void decodeLevel(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                 std::span<std::uint8_t> rgba);

// RGBA8 rows → one CMPR level in GX block order and byte order, blocks spread over
// `threads` threads (0: one per core). Alpha below 128 becomes the transparent index.
// The result depends on neither the thread count nor the machine's vector unit.
// Throws std::invalid_argument when a span has the wrong size.
void encodeLevel(std::span<const std::uint8_t> rgba, std::uint32_t width, std::uint32_t height,
                 Quality quality, unsigned threads, std::span<std::uint8_t> out);

// Best's exhaustive search alone, for the tests to check against brute force: the
// least squared error over R, G and B under 10922 that one sub-block of 4 × 4 RGBA8
// texels can have with endpoint fields drawn from `fields` (bit f of fields[c]: field
// f of red, green, blue), and its 8 bytes in `out`; 10922 when no palette comes under.
int searchSubBlock(std::span<const std::uint8_t> rgba, const std::array<std::uint64_t, 3>& fields,
                   std::span<std::uint8_t> out);

// Peak signal-to-noise ratio in dB of two RGBA8 pictures of the same size over R, G
// and B (alpha ignored): MSE over the three channels of every pixel. Infinity when equal.
double rgbPsnr(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace tplforge::cmpr
