// The manifest `decode --manifest` writes beside the pictures and `build` reads:
// the source file's digest, and for every texture its header fields, encoding
// settings and one picture a level with the digests of its pixels and file.
// JSON, versioned, meant to be read and edited by hand (docs/manifest.md).
// Reading and writing text only: no files are touched here, so the fuzz target
// can take it whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/sha256.h"
#include "tplforge/tpl.h"

namespace tplforge::cli {

inline constexpr int kManifestVersion = 1;

struct ManifestPicture {
    std::string file;  // relative to the manifest's folder
    std::optional<Digest> pixels;      // pixelDigest of the picture as decoded
    std::optional<Digest> fileDigest;  // of the picture file's bytes: unchanged without decoding it
};

struct ManifestTexture {
    std::uint32_t width = 0, height = 0;
    Format format = Format::RGB565;
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;  // palette formats only
    std::uint32_t paletteEntries = 0;                     // 0: as many as the format indexes
    std::uint8_t paletteUnpacked = 0, palettePadding = 0;
    unsigned levels = 1;
    std::uint8_t maxLod = 0;  // written as recorded while it gives `levels`, else levels − 1
    std::uint8_t unpacked = 0;
    Sampler sampler;
    Quality quality = Quality::Normal;
    bool dither = false;
    // One a level from level 0; a missing or null one is made from the level above.
    std::vector<std::optional<ManifestPicture>> pictures;
    // Where the source had them, for a person reading the manifest.
    std::uint32_t headerOffset = 0, dataOffset = 0, paletteHeaderOffset = 0, paletteDataOffset = 0;
};

struct Manifest {
    std::string sourceFile;  // its name
    std::string sourcePath;  // relative to the manifest's folder
    std::uint64_t sourceSize = 0;
    Digest sourceDigest{};
    std::vector<ManifestTexture> textures;
};

[[nodiscard]] std::string writeManifest(const Manifest& manifest);

// Everything is checked: unknown keys, names and numbers out of range are
// refused. The reason is one English line that names the texture and key.
[[nodiscard]] Expected<Manifest, std::string> readManifest(std::string_view text);

}  // namespace tplforge::cli
