// Editing TPL files: a texture's stored bytes taken out as they are, pictures
// encoded to take a texture's place, and a file rebuilt with some textures
// replaced and every other byte kept.
#pragma once

#include <string>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/image.h"
#include "tplforge/texture.h"
#include "tplforge/texture_data.h"
#include "tplforge/tpl.h"

namespace tplforge {

// A texture's bytes exactly as the file stores them: the texels of every level,
// padding texels of partial blocks included, and the palette's entries in order.
[[nodiscard]] TPLFORGE_API Expected<TextureData, TplError> storedTexture(std::span<const std::uint8_t> file,
                                                                       const TplImageHeader& image);

// --- Encoding a texture anew -----------------------------------------------------

struct EditSettings {
    EncodeOptions encode;  // encode.paletteEntries bounds a palette chosen anew
    unsigned levels = 1;
    // A palette to keep: when every pixel of the pictures given has the colour of
    // one of these entries, they stay as they are, in their order, and only the
    // indices are chosen. Its format is encode.paletteFormat.
    std::span<const std::uint16_t> keepPalette;
};

enum class PaletteOutcome {
    None,     // the format takes no palette
    Kept,     // the palette asked to be kept
    Chosen,   // a new one, holding every colour of the pictures given
    Merged,   // a new one, with fewer entries than the pictures have colours
};

struct EditedTexture {
    TextureData data;
    PaletteOutcome palette = PaletteOutcome::None;
};

// pictures[0] is level 0; pictures[l] a hand-made level l of levelSide() sides,
// used as given, or null: made from the level above, as encodeTextureData makes
// them. Without hand-made levels or a palette to keep, the bytes are those of
// encodeTextureData.
[[nodiscard]] TPLFORGE_API Expected<EditedTexture, CodecError> encodeEdited(std::span<const Image* const> pictures,
                                                                           const EditSettings& settings);

// --- Rebuilding a file -------------------------------------------------------------

// The settings a texture of a file has.
[[nodiscard]] TPLFORGE_API TextureSettings settingsOf(const TplImageHeader& image,
                                                      std::span<const std::uint8_t> file);

struct TextureReplacement {
    std::size_t texture = 0;  // its place in the file, from 0
    const TextureData* data = nullptr;
    TextureSettings settings;
};

enum class TplEditError {
    BadSource,          // the file is not one parseTpl takes
    NoSuchTexture,      // a replacement for a texture the file does not have
    ReplacedTwice,      // two replacements for one texture
    BadTextureData,     // texels or palette that do not match the texture's format, sides and levels
    BadMaxLod,          // a max LOD that gives other levels than the texture holds
    UnreadableTexture,  // a texture kept from the file whose levels or palette cannot be read
    TooLarge,           // more than a TPL file holds
};
[[nodiscard]] TPLFORGE_API std::string describe(TplEditError error);

struct RebuiltTpl {
    std::vector<std::uint8_t> bytes;
    bool inPlace = false;  // the file's layout was kept
};

// The file with some textures replaced. When every replaced texture keeps its
// sides, its texel bytes and its palette's room, and shares no bytes with any
// other, the file is kept byte for byte but for the replaced textures' texels,
// palette entries and header fields (palette entries left over are zeroed).
// Otherwise it is laid out afresh as TplWriter lays files out, every texture
// in its place and with its header fields, the others' bytes as they were.
[[nodiscard]] TPLFORGE_API Expected<RebuiltTpl, TplEditError> rebuildTpl(
    std::span<const std::uint8_t> file, std::span<const TextureReplacement> replacements);

struct StoredTexture {
    const TextureData* data = nullptr;
    TextureSettings settings;
};

// A new file of these textures in this order, laid out as TplWriter lays files out.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, TplEditError> writeTpl(
    std::span<const StoredTexture> textures);

}  // namespace tplforge
