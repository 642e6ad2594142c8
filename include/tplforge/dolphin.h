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

}  // namespace tplforge
