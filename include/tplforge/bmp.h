// Windows bitmap output: BITMAPINFOHEADER with 24 bits a pixel for opaque
// pictures, BITMAPV4HEADER with 32-bit BGRA and an alpha mask for pictures with
// transparency; bottom-up rows padded to 4 bytes, and fixed resolution fields
// (2835 pixels a metre, 72 dpi) so that the same picture always gives the same file.
#pragma once

#include <string>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/image.h"

namespace tplforge {

enum class BmpError {
    EmptyPicture,  // no pixels, or fewer bytes than its sides say
    TooLarge,      // the file would pass the 4 GiB its size fields hold
};
[[nodiscard]] TPLFORGE_API std::string describe(BmpError error);

[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, BmpError> encodeBmp(const Image& picture);

}  // namespace tplforge
