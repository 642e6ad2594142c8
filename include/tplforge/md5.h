// MD5 (RFC 1321), for the digests Wii banners carry.
#pragma once

#include "tplforge/export.h"

#include <array>
#include <cstdint>
#include <span>

namespace tplforge {

using Md5Digest = std::array<std::uint8_t, 16>;

[[nodiscard]] TPLFORGE_API Md5Digest md5(std::span<const std::uint8_t> data);

}  // namespace tplforge
