// BTI headers, standalone and in the TEX1 section of J3D models.
#pragma once

#include "codec/containers/common.h"

namespace tplforge::containers {

inline constexpr std::size_t kBtiHeader = 32;

struct BtiHeader {
    std::uint8_t format = 0;
    std::uint8_t alpha = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t wrapS = 0;
    std::uint8_t wrapT = 0;
    std::uint8_t paletteFlag = 0;
    std::uint8_t paletteFormat = 0;
    std::uint16_t paletteCount = 0;
    std::uint32_t paletteOffset = 0;
    std::uint8_t mipmaps = 0;
    std::uint8_t edgeLod = 0;
    std::uint8_t biasClamp = 0;
    std::uint8_t maxAnisotropy = 0;
    std::uint8_t minFilter = 0;
    std::uint8_t magFilter = 0;
    std::int8_t minLod = 0;  // × 8
    std::int8_t maxLod = 0;  // × 8
    std::uint8_t images = 0;
    std::uint8_t unused = 0;
    std::int16_t lodBias = 0;  // × 100
    std::uint32_t dataOffset = 0;
};

// The header at `at`, or nothing when fewer than 32 bytes are left.
std::optional<BtiHeader> readBtiHeader(Bytes file, std::size_t at);

// A standalone BTI's header passes the checks and its data lies in the file.
bool looksLikeBti(Bytes file);

Expected<std::vector<TextureEntry>, ContainerError> btiTextures(Bytes file);
Expected<std::vector<std::uint8_t>, ContainerError> replaceBti(Bytes file, const TextureData& data);
Expected<std::vector<std::uint8_t>, ContainerError> writeBtiFile(const TextureData& data, const BtiSettings& settings);

Expected<std::vector<TextureEntry>, ContainerError> j3dTextures(Bytes file);
Expected<std::vector<std::uint8_t>, ContainerError> replaceJ3d(Bytes file, std::uint32_t number, const TextureData& data);

}  // namespace tplforge::containers
