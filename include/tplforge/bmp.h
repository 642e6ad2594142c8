// Windows bitmap output: BITMAPINFOHEADER with 24 bits a pixel for opaque
// pictures, BITMAPV4HEADER with 32-bit BGRA and an alpha mask for pictures with
// transparency; bottom-up rows padded to 4 bytes, and fixed resolution fields
// (2835 pixels a metre, 72 dpi) so that the same picture always gives the same file.
#pragma once

#include <cstdint>
#include <vector>

#include "tplforge/image.h"

namespace tplforge {

std::vector<std::uint8_t> encodeBmp(const Image& picture);

}  // namespace tplforge
