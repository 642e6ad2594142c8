// Small helpers shared by the TPL tests: big-endian peeks and pokes on a byte
// vector, and a builder for hand-made files that the writer would never produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/raster.h"
#include "tpl/tpl_file.h"

namespace tplforge::tpltest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 8) | b[at + 1];
}
inline std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
    return (be16(b, at) << 16) | be16(b, at + 2);
}

// Writes big-endian values at any offset, growing the buffer with zeros.
inline void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v >> 16);
    put16(b, at + 2, v & 0xFFFF);
}

// File header and image table for `headerOffsets.size()` images.
inline Bytes tplHead(std::span<const std::uint32_t> headerOffsets) {
    Bytes b = {0x00, 0x20, 0xAF, 0x30};
    put32(b, 4, static_cast<std::uint32_t>(headerOffsets.size()));
    put32(b, 8, 12);
    for (std::size_t k = 0; k < headerOffsets.size(); ++k) put32(b, 12 + 8 * k, headerOffsets[k]);
    return b;
}

// The fields of an image header the reader uses; the others stay as given.
struct HeaderFields {
    std::uint32_t height = 4, width = 4, format = 4, dataOffset = 0;
    std::uint32_t wrapS = 0, wrapT = 0, minFilter = 1, magFilter = 1, lodBias = 0;
    std::uint8_t edgeLod = 0, minLod = 0, maxLod = 0, unpacked = 0;
};

inline void putImageHeader(Bytes& b, std::size_t at, const HeaderFields& h) {
    put16(b, at, h.height);
    put16(b, at + 2, h.width);
    put32(b, at + 4, h.format);
    put32(b, at + 8, h.dataOffset);
    put32(b, at + 12, h.wrapS);
    put32(b, at + 16, h.wrapT);
    put32(b, at + 20, h.minFilter);
    put32(b, at + 24, h.magFilter);
    put32(b, at + 28, h.lodBias);
    put16(b, at + 32, (std::uint32_t{h.edgeLod} << 8) | h.minLod);
    put16(b, at + 34, (std::uint32_t{h.maxLod} << 8) | h.unpacked);
}

// A one-texture file: header at `headerAt`, texel words at `dataAt` (the file ends
// with the last word).
inline Bytes oneTexture(HeaderFields h, std::span<const std::uint16_t> words, std::size_t headerAt = 20,
                        std::size_t dataAt = 64) {
    const std::uint32_t offsets[] = {static_cast<std::uint32_t>(headerAt)};
    Bytes b = tplHead(offsets);
    h.dataOffset = static_cast<std::uint32_t>(dataAt);
    putImageHeader(b, headerAt, h);
    if (b.size() < dataAt) b.resize(dataAt);
    for (std::size_t i = 0; i < words.size(); ++i) put16(b, dataAt + 2 * i, words[i]);
    return b;
}

inline Bytes buildFile(std::span<const TextureInput> textures) {
    auto file = buildTpl(textures);
    return file ? std::move(file.value()) : Bytes{};
}

}  // namespace tplforge::tpltest
