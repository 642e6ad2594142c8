// Palettes for C4, C8 and C14X2: choosing at most 16, 256 or 16384 entry words for a
// picture and one index per pixel.
//
// A picture whose pixels encode to few enough distinct words keeps them all, so
// nothing is lost and decoding then encoding again gives the same file. Otherwise
// the words are clustered (median cut, then k-means) over premultiplied sRGB with alpha
// as a fourth axis, judged by the colours the console shows for the chosen words.
//
// Palettes are canonical: only words some index uses, each once, in ascending order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tplforge/format.h"
#include "tplforge/image.h"

namespace tplforge::palette {

using tplforge::Quality;

struct Options {
    PaletteFormat format = PaletteFormat::RGB5A3;
    std::size_t maxEntries = 256;  // 16, 256 or 16384; anything from 1 to 16384 works
    bool dither = false;           // Floyd–Steinberg, only when the picture does not fit
    Quality quality = Quality::Normal;
};

struct Palette {
    PaletteFormat format = PaletteFormat::RGB565;
    std::vector<std::uint16_t> entries;  // the words as stored (big-endian is the writer's job)
};

// Chooses a palette for the picture and writes one index per pixel (row-major).
// Throws std::invalid_argument unless indices.size() == width × height and
// 1 <= maxEntries <= 16384.
Palette quantize(const Image& picture, const Options& options, std::span<std::uint16_t> indices);

// Maps a further picture (a smaller mipmap level) onto an existing palette. A pixel
// whose word the palette holds takes that entry. Throws std::invalid_argument when
// indices.size() != width × height, or when the palette is empty and the picture is not.
void mapToPalette(const Image& picture, const Palette& palette, bool dither, std::span<std::uint16_t> indices);

}  // namespace tplforge::palette
