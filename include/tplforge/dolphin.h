// The names the Dolphin emulator gives a texture when it dumps it and when it
// looks for a custom one in a texture pack:
//   tex1_{W}x{H}[_m]_{texel hash}[_{palette hash}]_{format code}
// Both hashes are XXH64 (seed 0) over the bytes as the console holds them, so
// they are computed from a game's files without running the game.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/tpl.h"

namespace tplforge {

// How a texture is sampled, as far as its file tells.
struct DolphinSampling {
    // The min filter chooses between levels (codes 2 to 5). A file with no
    // filter of its own (TEX0) counts as filtering when it stores more than one level.
    bool mipFilter = false;
    // The sampler's max LOD; unset: every level stored can be reached.
    std::optional<float> maxLod;
};

[[nodiscard]] TPLFORGE_API DolphinSampling dolphinSampling(const Sampler& sampler,
                                                           std::optional<float> maxLod = std::nullopt);
// For a texture whose file stores no sampler (TEX0, banners).
[[nodiscard]] TPLFORGE_API DolphinSampling dolphinSampling(const TextureView& texture);

// Whether "_m" is in the name: as the file says, or forced for a game whose
// sampler at run time differs from its files.
enum class DolphinMipmaps { File, Yes, No };

// The palette entries the palette hash covers.
struct DolphinPaletteRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;    // inclusive
    std::uint32_t stored = 0;  // entries the file holds
    // The console would read past them; the hash takes zeros there.
    [[nodiscard]] bool pastEnd() const { return last >= stored; }
};

struct DolphinName {
    std::string name;  // without extension: NAME.png is level 0
    // NAME_mip1, NAME_mip2, …: the further levels a dump writes, those the sampler
    // reaches and the file stores.
    std::vector<std::string> levels;
    std::optional<DolphinPaletteRange> palette;  // palette formats
};

enum class DolphinError {
    UnknownFormat,    // a format code GX does not define
    LevelTooShort,    // level 0 holds fewer bytes than its whole blocks
    MissingPalette,   // a palette format without its palette
    NoPaletteRange,   // C8 whose every index is 255: Dolphin reads past any palette
};
[[nodiscard]] TPLFORGE_API std::string describe(DolphinError error);

// A one-line warning about a name that was computed on a guess (a palette
// range past the stored entries); empty when there is none.
[[nodiscard]] TPLFORGE_API std::string dolphinNote(const DolphinName& name);

[[nodiscard]] TPLFORGE_API Expected<DolphinName, DolphinError> dolphinName(const TextureView& texture,
                                                                           const DolphinSampling& sampling,
                                                                           DolphinMipmaps mipmaps = DolphinMipmaps::File);

// --- Texture packs -----------------------------------------------------------------

// A pack picture's file name taken apart. Either hash may be "$", Dolphin's
// wildcard, but not both.
struct DolphinPackName {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool mipFilter = false;    // "_m"
    std::string textureHash;   // 16 lowercase hex digits, or "$": any texture
    std::string paletteHash;   // C4, C8, C14X2: 16 lowercase hex digits, or "$"; "" for the others
    std::uint32_t format = 0;  // the GX code
    bool arbitrary = false;    // "_arb", which the look-up ignores
    unsigned level = 0;        // N of "_mipN": a hand-made level of the pack picture; 0 the picture
    // What a texture's name is compared with: no "_arb", no "_mipN".
    [[nodiscard]] TPLFORGE_API std::string key() const;
};

enum class PackNameError {
    NotTex1,         // does not start with "tex1_"
    BadSize,         // not {W}x{H} in decimal, each from 1 to kMaxSide
    BadHash,         // a hash that is neither 16 lowercase hex digits nor "$"
    BadFormat,       // a format code GX does not define
    WrongParts,      // parts missing or left over (a palette hash for a format without a palette, or none for one with)
    BothWildcards,   // "$" for both hashes, which Dolphin never looks up
    BadLevel,        // "_mip" without a level number from 1
};
[[nodiscard]] TPLFORGE_API std::string describe(PackNameError error);

// `stem`: a pack file's name without its extension, "tex1_64x32_m_7e0594a679b59943_5_arb_mip1".
[[nodiscard]] TPLFORGE_API Expected<DolphinPackName, PackNameError> parsePackName(std::string_view stem);

// The names Dolphin looks a texture up by in a pack, in its order: the exact
// name; for palette formats any palette, then any texture with that palette
// range; for the others any texture of that size and format.
[[nodiscard]] TPLFORGE_API std::vector<std::string> dolphinLookUpNames(const DolphinName& name);

// Pack pictures by the name they answer to, found for a texture as Dolphin finds them.
class TPLFORGE_API DolphinPackIndex {
public:
    // false when a picture of that key was added before (the earlier one stays).
    bool add(const DolphinPackName& name, std::size_t value);
    // The value of the first look-up name the pack holds.
    [[nodiscard]] std::optional<std::size_t> find(const DolphinName& name) const;
    [[nodiscard]] std::size_t size() const { return keys_.size(); }

private:
    std::unordered_map<std::string, std::size_t> keys_;
};

}  // namespace tplforge
