// GX texture formats as stored in a TPL image header (the values are the on-disk
// codes). Only RGB565 and RGB5A3 are encoded and decoded here; the others are
// known so that files holding them can be listed and their data bounds checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tplforge {

enum class TextureFormat : std::uint32_t {
    I4 = 0,
    I8 = 1,
    IA4 = 2,
    IA8 = 3,
    RGB565 = 4,
    RGB5A3 = 5,
    RGBA8 = 6,
    C4 = 8,
    C8 = 9,
    C14X2 = 10,
    CMPR = 14,
};

struct FormatInfo {
    std::string_view name;
    int blockWidth;   // texels per block, across
    int blockHeight;  // texels per block, down
    int blockBytes;   // every GX block is 32 bytes, but RGBA8 keeps two of them per 4 × 4 tile
};

// Facts for a known format code, or nothing for a code GX does not define.
std::optional<FormatInfo> formatInfo(std::uint32_t code);

// Bytes of texture data that a width × height texture in format `code` occupies,
// counting whole blocks. Codes that GX does not define are sized as the smallest
// real format (4 bits a texel in 8 × 8 blocks), so bounds checks stay meaningful.
std::uint64_t textureDataSize(std::uint32_t code, std::uint32_t width, std::uint32_t height);

std::string_view formatName(std::uint32_t code);

}  // namespace tplforge
