// One texture's stored bytes, whatever kind of file holds it (TPL, BTI, TEX0 and
// PLT0, banners): what a writer puts in place of a texture, and what it keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "tplforge/format.h"

namespace tplforge {

struct TextureData {
    Format format = Format::RGB565;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned levels = 1;  // level 0 included
    // Every level back to back from level 0, each padded to whole blocks
    // (levelBytes of its sides), as the console loads them.
    std::vector<std::uint8_t> texels;
    // C4, C8 and C14X2 only: the entry format and the entries, in file order.
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;
    std::vector<std::uint16_t> palette;

    bool operator==(const TextureData&) const = default;
};

}  // namespace tplforge
