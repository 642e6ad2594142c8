// SHA-256 (FIPS 180-4), for the digests a manifest keeps: of a source file, of
// a picture file, and of a picture's pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tplforge/export.h"
#include "tplforge/image.h"

namespace tplforge {

using Digest = std::array<std::uint8_t, 32>;

// Fed in pieces of any size; finish() pads and gives the digest once.
class TPLFORGE_API Sha256 {
public:
    void update(std::span<const std::uint8_t> bytes);
    [[nodiscard]] Digest finish();

private:
    std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingBytes_ = 0;
    std::uint64_t length_ = 0;  // bytes fed so far
};

[[nodiscard]] TPLFORGE_API Digest sha256(std::span<const std::uint8_t> bytes);

// The digest of what a picture shows, whatever file holds it: width and height
// as big-endian 32-bit numbers, then the RGBA rows.
[[nodiscard]] TPLFORGE_API Digest pixelDigest(const Image& picture);

// 64 lower-case hex digits, and back (either case; nothing for anything else).
[[nodiscard]] TPLFORGE_API std::string hexText(const Digest& digest);
[[nodiscard]] TPLFORGE_API std::optional<Digest> digestFromHex(std::string_view text);

}  // namespace tplforge
