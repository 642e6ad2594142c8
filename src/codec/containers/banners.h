// Save banners (WIBN) and GameCube banners (BNR1, BNR2).
#pragma once

#include "codec/containers/common.h"

namespace tplforge::containers {

Expected<std::vector<TextureEntry>, ContainerError> bannerTextures(Bytes file, FileKind kind);
Expected<std::vector<std::uint8_t>, ContainerError> replaceBanner(Bytes file, FileKind kind, std::uint32_t number,
                                                                  const TextureData& data);

}  // namespace tplforge::containers
