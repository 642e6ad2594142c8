// The picture every codec reads and writes: 8-bit RGBA, row after row from the
// top, no padding. Byte 4 × (y × width + x) is red, then green, blue and alpha
// (255 is opaque). Colour is straight, not premultiplied by alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tplforge {

// The most pixels a picture read from a file may have (256 MiB decoded); every
// reader refuses more as too large.
inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 26;

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;

    Image() = default;
    Image(std::uint32_t w, std::uint32_t h) : width(w), height(h), rgba(std::size_t{w} * h * 4) {}

    bool empty() const { return width == 0 || height == 0; }
    std::size_t stride() const { return std::size_t{width} * 4; }
    std::span<std::uint8_t> row(std::uint32_t y) { return std::span(rgba).subspan(y * stride(), stride()); }
    std::span<const std::uint8_t> row(std::uint32_t y) const {
        return std::span(rgba).subspan(y * stride(), stride());
    }

    bool operator==(const Image&) const = default;
};

}  // namespace tplforge
