// Row work of the PNG reader and writer: the five row filters both ways, and the
// widening of a row of any 8-bit-or-less PNG kind to RGBA.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tplforge::png {

enum class Filter : std::uint8_t { None, Sub, Up, Average, Paeth };
inline constexpr unsigned kFilterCount = 5;

// Reverses one row's filter. `above` is the row above as it was before filtering
// (zeros for the first row); `bpp` is bytes per pixel, 1 for depths below 8.
// `out` must not overlap `in` or `above`.
void unfilterRow(Filter filter, const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* out, std::size_t n,
                 unsigned bpp);

// Filters one row with whichever filter leaves the most zeros and smallest
// differences (see signedSize in the source), writing the filter byte then the
// row: n + 1 bytes.
void filterRow(const std::uint8_t* row, const std::uint8_t* above, std::uint8_t* out, std::size_t n, unsigned bpp);

// One filter, for files written with a fixed filter.
void filterRowWith(Filter filter, const std::uint8_t* row, const std::uint8_t* above, std::uint8_t* out, std::size_t n,
                   unsigned bpp);

// unfilterRow for 8-bit RGB read straight into RGBA (opaque): `above` and `out`
// are RGBA rows of `width` pixels, `in` is 3 × width bytes.
void unfilterRgbToRgba(Filter filter, const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* out,
                       std::size_t width);
// Pixels of an RGBA row equal to the key colour (tRNS) get alpha 0.
void keyRgba(std::uint8_t* rgba, std::size_t width, std::uint32_t keyRgb);

// Widening of unfiltered rows to RGBA, `width` pixels.
void greyAlphaToRgba(const std::uint8_t* in, std::uint8_t* out, std::size_t width);
// Samples of `depth` bits (1, 2, 4 or 8, most significant first) through a table
// of 256 RGBA words: palettes, and grey with its scaling and key built in.
void lookUpRgba(const std::uint8_t* in, std::uint8_t* out, std::size_t width, unsigned depth, const std::uint32_t* table);

}  // namespace tplforge::png
