// The encoders of texture_encode.cpp on rows that need not belong to an Image,
// for the block-row encoder, which hands them a band of a picture still being read.
#pragma once

#include <cstdint>
#include <span>

#include "tplforge/texture.h"

namespace tplforge {

// RGBA rows from the top, no padding.
struct PixelRows {
    std::span<const std::uint8_t> rgba;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// A format that takes no palette, sizes already checked.
void encodeChecked(const PixelRows& picture, const EncodeOptions& options, std::span<std::uint8_t> out);

}  // namespace tplforge
