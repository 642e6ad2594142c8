// Edits a modder makes to a picture, for the tests that put pictures back.
#pragma once

#include <algorithm>
#include <cstdint>

#include "tplforge/image.h"

namespace tplforge::testing {

// Every colour channel inverted, alpha kept. Inverting a channel of 5 bits
// widened by replication gives another such value: RGB5A3 and I8 hold the
// result exactly.
inline Image inverted(Image picture) {
    for (std::size_t i = 0; i < picture.rgba.size(); ++i)
        if (i % 4 != 3) picture.rgba[i] = static_cast<std::uint8_t>(255 - picture.rgba[i]);
    return picture;
}

// Left and right swapped: the same colours, so a palette that held them still does.
inline Image mirrored(const Image& in) {
    Image out(in.width, in.height);
    for (std::uint32_t y = 0; y < in.height; ++y)
        for (std::uint32_t x = 0; x < in.width; ++x)
            std::copy_n(&in.rgba[4 * (y * in.width + x)], 4, &out.rgba[4 * (y * in.width + in.width - 1 - x)]);
    return out;
}

}  // namespace tplforge::testing
