// What `tplforge-cli info --json` and Python's info() say of a TPL texture: one
// list of named values, in the order they are shown, so that every front end
// names and computes them alike.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/dolphin.h"
#include "tplforge/export.h"
#include "tplforge/tpl.h"

namespace tplforge {

// One named value: null, a whole number, a float as the file stores it, a
// text, or a list of texts.
struct InfoField {
    enum class Kind { Null, Number, Float, Text, Texts };
    std::string_view key;
    Kind kind = Kind::Null;
    std::uint64_t number = 0;
    float real = 0;
    std::string text;
    std::vector<std::string> texts;
};

// Texture `number` (from 1) of a TPL file: sides, format, offsets, levels,
// palette, sampler, the emulator's name and, where its levels or palette cannot
// be read, the problem.
[[nodiscard]] TPLFORGE_API std::vector<InfoField> tplTextureInfo(std::span<const std::uint8_t> file,
                                                                 const TplImageHeader& image, std::size_t number,
                                                                 DolphinMipmaps mipmaps = DolphinMipmaps::File);

}  // namespace tplforge
