// Windows bitmap output: 24 bits a pixel, BITMAPINFOHEADER, bottom-up rows padded
// to 4 bytes, and fixed resolution fields (2835 pixels a metre, 72 dpi) so that the
// same picture always gives the same file.
#pragma once

#include <cstdint>
#include <vector>

#include "common/raster.h"

namespace tplforge {

std::vector<std::uint8_t> encodeBmp24(const Raster& picture);

}  // namespace tplforge
