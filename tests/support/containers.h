// Helpers for the archive and container tests: bytes written by hand, texture
// bytes of any shape, and golden files compared byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/scratch.h"
#include "tplforge/format.h"
#include "tplforge/texture_data.h"

namespace tplforge::testing {

using ByteVector = std::vector<std::uint8_t>;

// A file written field by field, as a hand-made fixture.
struct Hand {
    ByteVector b;
    Hand& u8(std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v)); return *this; }
    Hand& u16(std::uint32_t v) { return u8(v >> 8).u8(v); }
    Hand& u24(std::uint32_t v) { return u8(v >> 16).u8(v >> 8).u8(v); }
    Hand& u32(std::uint32_t v) { return u16(v >> 16).u16(v); }
    Hand& text(std::string_view s) { for (char c : s) u8(static_cast<std::uint8_t>(c)); return *this; }
    Hand& cstr(std::string_view s) { return text(s).u8(0); }
    Hand& fill(std::size_t n, std::uint8_t v = 0) { b.insert(b.end(), n, v); return *this; }
    Hand& to(std::size_t at, std::uint8_t v = 0) { if (b.size() < at) fill(at - b.size(), v); return *this; }
    Hand& bytes(const ByteVector& v) { b.insert(b.end(), v.begin(), v.end()); return *this; }
    Hand& set32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        return *this;
    }
};

inline ByteVector bytesOf(std::string_view s) { return ByteVector(s.begin(), s.end()); }
inline ByteVector bytesOf(std::initializer_list<int> v) {
    ByteVector out;
    for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
    return out;
}

inline std::uint32_t be32(const ByteVector& b, std::size_t at) {
    return std::uint32_t{b.at(at)} << 24 | std::uint32_t{b.at(at + 1)} << 16 | std::uint32_t{b.at(at + 2)} << 8 | b.at(at + 3);
}
inline std::uint32_t be16(const ByteVector& b, std::size_t at) { return std::uint32_t{b.at(at)} << 8 | b.at(at + 1); }
inline std::string textAt(const ByteVector& b, std::size_t at, std::size_t n) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Texture bytes of the shape asked for, each byte from `seed` and its place.
inline TextureData textureData(Format format, std::uint32_t w, std::uint32_t h, unsigned levels = 1,
                               std::uint8_t seed = 1, std::size_t paletteEntries = 0,
                               PaletteFormat pf = PaletteFormat::RGB5A3) {
    TextureData d;
    d.format = format;
    d.width = w;
    d.height = h;
    d.levels = levels;
    std::uint64_t size = 0;
    for (unsigned k = 0; k < levels; ++k) size += levelBytes(format, levelSide(w, k), levelSide(h, k));
    for (std::uint64_t i = 0; i < size; ++i) d.texels.push_back(static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 5));
    if (paletteEntries > 0) {
        // Indices past the entries are never written.
        for (auto& t : d.texels)
            t = format == Format::C4 ? static_cast<std::uint8_t>((t % paletteEntries) << 4 | (t >> 4) % paletteEntries)
                                     : static_cast<std::uint8_t>(t % paletteEntries);
        if (format == Format::C14X2)
            for (std::size_t i = 0; i < d.texels.size(); i += 2) d.texels[i] = 0;
        d.paletteFormat = pf;
        for (std::size_t i = 0; i < paletteEntries; ++i) d.palette.push_back(static_cast<std::uint16_t>(seed * 1000 + i * 77));
    }
    return d;
}

inline const std::filesystem::path kContainerData = std::filesystem::path(TPLFORGE_TEST_DATA) / "containers";

// The bytes against tests/codec/data/containers/<name>; on a mismatch they are
// written beside the test as got-<name> and the failure says so.
inline void expectGolden(const std::string& name, const ByteVector& got) {
    const ByteVector want = fileBytes((kContainerData / name).string());
    if (got == want) return;
    if (!writeFileAtomically("got-" + name, got)) ADD_FAILURE() << "got-" << name << " could not be written";
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    ADD_FAILURE() << name << ": " << got.size() << " bytes, golden file " << want.size() << ", first difference at "
                  << at << " (written to got-" << name << ")";
}

}  // namespace tplforge::testing
