// The manifest `decode --manifest` writes beside the pictures and `build` reads:
// the source files' digests, and for every texture where it lives, its header
// fields, encoding settings and one picture a level with the digests of its
// pixels and file. Version 1 holds the textures of one TPL; version 2 those of
// any container, archive or folder. JSON, meant to be read and edited by hand
// (docs/manifest.md).
// Reading and writing text only: no files are touched here, so the fuzz target
// can take it whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/file_kind.h"
#include "tplforge/sha256.h"
#include "tplforge/tpl.h"

namespace tplforge {
struct TextureRef;
}

namespace tplforge::cli {

inline constexpr int kManifestVersion = 1;
inline constexpr int kTreeManifestVersion = 2;

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

// --- Version 2 ---------------------------------------------------------------------

// A texture of any container, where it lives in its file. TPL textures record
// every field of version 1 (the offsets aside); the others their sides, format,
// palette, levels, encoding settings and pictures.
struct TreeTexture {
    std::string member;   // through every archive and wrapper, "" for the file itself
    FileKind container = FileKind::Tpl;
    std::string texture;  // its name, or its number where textures are numbered
    ManifestTexture settings;

    // member/texture, as TextureRef::path() gives it.
    [[nodiscard]] std::string path() const { return member.empty() ? texture : member + '/' + texture; }
};

struct SourceFile {
    std::string path;  // relative to the manifest's folder
    std::uint64_t size = 0;
    Digest digest{};
    std::vector<TreeTexture> textures;
};

struct TreeManifest {
    std::string source;         // what decode was given, relative to the manifest's folder
    bool folder = false;        // a folder: its files are written at their paths below it
    std::uint64_t skipped = 0;  // its files that hold no texture, for a person reading it
    std::vector<SourceFile> files;
};

using AnyManifest = std::variant<Manifest, TreeManifest>;

// What a version-2 manifest records of a texture as it is stored, its pictures aside.
[[nodiscard]] ManifestTexture recordOf(const TextureRef& texture);

[[nodiscard]] std::string writeManifest(const Manifest& manifest);
[[nodiscard]] std::string writeManifest(const TreeManifest& manifest);

// Either version. Everything is checked: unknown keys, names and numbers out of
// range are refused. The reason is one English line that names the file,
// texture and key.
[[nodiscard]] Expected<AnyManifest, std::string> readManifest(std::string_view text);

// Where a file of a version-2 manifest is written below an output folder: its
// path below the source folder, or its name; nothing when that would leave the folder.
[[nodiscard]] std::optional<std::string> outputPathOf(const TreeManifest& manifest, const SourceFile& file);

}  // namespace tplforge::cli
