// The Targa reader.
//
// Reads image types 1 (colour-mapped, 8-bit indices), 2 (true colour 15/16/24/32
// bits), 3 (8-bit grey) and their run-length-encoded forms 9, 10 and 11; colour
// maps of any length and first index with 15-, 16-, 24- or 32-bit entries; the image
// ID field is skipped and both origin bits of the descriptor are honoured. 32-bit
// pixels keep their alpha when the descriptor declares alpha bits. Anything else
// is refused before a single pixel is produced.
#pragma once

#include <string>
#include <cstdint>
#include <span>
#include <string_view>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/image.h"

namespace tplforge {

enum class TargaError {
    TooShort,          // fewer than 18 header bytes
    UnsupportedType,   // an image type other than 1, 2, 3, 9, 10, 11
    UnsupportedDepth,  // a pixel depth the type does not allow
    BadColourMap,      // missing or malformed colour map, or an index outside it
    EmptyImage,        // width or height 0
    Truncated,         // the file ends before the pixels it announces
    TooLarge,          // more pixels than a picture may hold
};

[[nodiscard]] TPLFORGE_API std::string describe(TargaError error);

// Decodes a whole Targa file held in memory (top row first).
[[nodiscard]] TPLFORGE_API Expected<Image, TargaError> readTarga(std::span<const std::uint8_t> file);

}  // namespace tplforge
