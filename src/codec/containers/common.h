// What the texture containers share: views over stored levels, checks on the
// bytes a replacement brings, and their errors.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "tplforge/containers.h"

namespace tplforge::containers {

using Bytes = std::span<const std::uint8_t>;

inline ContainerError error(ContainerFault fault, std::uint32_t item = 0, std::string name = {}) {
    return {fault, item, std::move(name), TplError::TooShort};
}

// Levels a texture of `images` stored images holds: at most 11, stopping at 1 × 1.
unsigned storedLevels(std::uint32_t width, std::uint32_t height, std::uint32_t images);

// Bytes of `levels` levels back to back.

// The levels from `at`, each checked to lie in `file`.
std::optional<TextureView> levelsAt(Bytes file, std::uint64_t at, Format format, std::uint32_t width,
                                    std::uint32_t height, unsigned levels);

// Checks that the bytes fit their own description: a known format, sides of
// 1 … 32767, 1 … 11 levels no smaller than 1 × 1, texels of exactly that
// size, and a palette only for palette formats, of 1 … the format's entries.
bool consistent(const TextureData& data);

// Same format, sides, levels and palette size and format: fits where `view` is.
bool sameShape(const TextureView& view, const TextureData& data);

// Writes `data`'s texels over the view's levels and its entries over the view's
// palette (same shape); `file` is the mutable copy the view points into.
void overwrite(std::vector<std::uint8_t>& file, Bytes original, const TextureView& view, const TextureData& data);

constexpr std::uint64_t alignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

}  // namespace tplforge::containers
