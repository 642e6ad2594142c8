// Texture containers other than TPL, and TPL beside them: every texture of a
// file listed by name or number with a view into its bytes, one texture
// replaced with the rest of the file kept, and new standalone files written.
//
// Kinds and how their textures are named:
// - TPL: numbered 1 … n, in image table order (read here; replaced by the TPL writer).
// - BTI: one texture, "1".
// - J3D model (.bmd, .bdl): numbered 1 … n by TEX1 header, as names repeat. Headers
//   that share one image show as textures whose level 0 starts at the same byte;
//   replacing one of them replaces the image for all of them.
// - BRRES: each TEX0 of the Textures(NW4R) folder by its name, with the PLT0 of the
//   same name in Palettes(NW4R) for palette formats.
// - TEX0 on its own: its stored name; a palette format takes the PLT0 file beside it.
// - WIBN save banner: "1" the 192 × 64 banner, "2" … the 48 × 48 icons.
// - GameCube BNR: one 96 × 32 RGB5A3 picture, "1".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/export.h"
#include "tplforge/archive.h"
#include "tplforge/expected.h"
#include "tplforge/file_kind.h"
#include "tplforge/texture_data.h"
#include "tplforge/tpl.h"

namespace tplforge {

enum class ContainerFault {
    TooShort,             // shorter than its header
    WrongSize,            // a banner of a size its kind never has
    Tpl,                  // the TPL reader refused it (see `tpl`)
    BadFormat,            // unknown texel format code (item: texture number)
    BadSize,              // width or height 0 or too large
    BadLevels,            // image count 0 or beyond the console's 11
    DataPastEnd,          // texture data runs past the end
    BadPalette,           // unknown palette format, no entries or more than the format takes
    PalettePastEnd,
    MissingPalette,       // a TEX0 of a palette format without its PLT0 (`name`)
    J3dSectionPastEnd,    // a J3D section runs past the end (item: section number)
    J3dNoTextures,        // no TEX1 section
    J3dHeadersPastEnd,    // the TEX1 header array runs past the end
    BrresNoRoot,          // no "root" section where the header says
    BrresGroupPastEnd,    // an index group runs past the end
    BrresEntryOutside,    // a group entry points outside the file, or a folder's outside the root (item: entry)
    BrresNamePastEnd,     // a name lies in the root, runs past the end or is longer than kMaxPath (item: entry)
    BadSubfile,           // a TEX0 or PLT0 runs past the end or is of a version not read (`name`)
    NoSuchTexture,        // `name`
    ShapeMustStay,        // this kind replaces in place only: same format, size, levels and palette
    BadTextureData,       // the bytes given do not fit their own format, size and levels
    NotReplaceable,       // this kind's textures are not replaced here (TPL, PLT0)
    TooLarge,             // the new file would not fit its fields
    CannotRewrite,        // its names lie over its subfiles, and the new file would not read (`name`)
    BadSampler,           // a standalone BTI's wrap or filter code is none the console has (0-2, 0-5)
    DataInHeader,         // a standalone BTI's texture data starts inside its header
};

struct ContainerError {
    ContainerFault fault = ContainerFault::TooShort;
    std::uint32_t item = 0;
    std::string name;
    TplError tpl = TplError::TooShort;
    FileKind kind = FileKind::Unknown;  // what readTextures read the file as
};
// One line, as "texture 3: CMPR data runs past the end of the file"; a file
// readTextures refused is named by its kind first where the line does not name
// it already: "BTI: texture data runs past the end of the file".
[[nodiscard]] TPLFORGE_API std::string describe(const ContainerError& error);

// --- Reading ---------------------------------------------------------------------

struct TextureEntry {
    std::string name;        // its name, or its number ("1", "2", …) where textures are numbered
    std::string storedName;  // a numbered texture's name in the file, where it has one (J3D)
    TextureView view;        // into the container's bytes
    std::optional<Sampler> sampler;  // TPL and BTI; the others keep theirs in materials or have none
};

// `palette` is the PLT0 file beside a standalone TEX0 of a palette format.
[[nodiscard]] TPLFORGE_API Expected<std::vector<TextureEntry>, ContainerError> readTextures(std::span<const std::uint8_t> file, FileKind kind,
                                                                 std::span<const std::uint8_t> palette = {});

// The bytes a texture holds, as a replacement would give them.
[[nodiscard]] TPLFORGE_API TextureData storedData(const TextureView& view);

// --- Replacing -------------------------------------------------------------------

// The container with texture `name` (as readTextures names it) holding `data`;
// byte for byte the same file when `data` is what it holds.
// - BTI: in place when format, sides, levels and palette size stay; otherwise
//   the file is laid out again (header kept but for those fields, data at 0x20,
//   the palette after it).
// - J3D, WIBN, BNR: in place only (ShapeMustStay otherwise).
// - BRRES: the TEX0 (and its PLT0, rewritten with it; added when a palette
//   format first needs one) in place when the new bytes fit the old ones. If not,
//   a file of textures and palettes alone is laid out again (folders and entries
//   in stored order, index groups rebuilt, every subfile 32-aligned, names sorted,
//   padding to 128); a file with models or animations keeps every other byte
//   where it was and takes the grown subfile at its end, as models point into the
//   name table by offsets that would otherwise move. A new palette there grows
//   the index groups, and everything after them moves by a multiple of 32.
// - TEX0 on its own: the TEX0 file (name and version kept); a palette format's
//   PLT0 is written beside it with writeTex0(data, name).plt0.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ContainerError> replaceTexture(std::span<const std::uint8_t> file, FileKind kind,
                                                                   std::string_view name, const TextureData& data);

// --- Writing new files -----------------------------------------------------------

enum class BtiAlpha : std::uint8_t { Opaque = 0, CutOut = 1, Translucent = 2 };
// From level 0 as the console shows it: every alpha 255, only 0 and 255, or more.
[[nodiscard]] TPLFORGE_API BtiAlpha btiAlphaOf(const TextureData& data);

struct BtiSettings {
    Sampler sampler;                // wrap, filters, LOD bias, edge LOD, min LOD
    std::optional<BtiAlpha> alpha;  // worked out from the texels when not given
};
// A standalone BTI: the 32-byte header, the levels from 0x20, the palette after them.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ContainerError> writeBti(const TextureData& data, const BtiSettings& settings);

// A standalone TEX0 (version 3, BRRES offset 0, its name after it as BRRES names
// are stored) and, for a palette format, a standalone PLT0 of the same name to
// keep beside it. The same pair inside one BRRES: writeBrres.
struct Tex0Files {
    std::vector<std::uint8_t> tex0;
    std::vector<std::uint8_t> plt0;  // empty without a palette
};
[[nodiscard]] TPLFORGE_API Expected<Tex0Files, ContainerError> writeTex0(const TextureData& data, std::string_view name);

struct NamedTexture {
    std::string name;
    const TextureData* data = nullptr;
};
// A BRRES of textures (and their palettes), laid out as replaceTexture lays one out again.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ContainerError> writeBrres(std::span<const NamedTexture> textures);

}  // namespace tplforge
