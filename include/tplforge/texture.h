// Texels of every GX format, both ways, as the console's texture unit sees them:
// fields widen by bit replication, RGB5A3 with bit 15 clear is 3-bit alpha and
// 4-bit colour, CMPR blends at 3/8 and 5/8. Encoding takes the texel nearest the
// pixel (RGB5A3 the nearer of its two forms; IA4 its intensity and alpha together,
// for what shows after blending), so a picture of texels a format holds comes back
// texel for texel, for every format but CMPR (and palettes asked to hold more
// colours than they can).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/format.h"
#include "tplforge/image.h"
#include "tplforge/tpl.h"

namespace tplforge {

// --- Decoding ------------------------------------------------------------------

// One picture's texel data (levelBytes(format, width, height) bytes) into
// width × height RGBA rows. Palette formats need the palette; indices past its
// entries come out transparent black.
void decodeTexels(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                  const PaletteView* palette, std::span<std::uint8_t> rgba);

// Level `level` of a checked texture.
Image decodeLevel(const TextureView& texture, unsigned level);

// --- Encoding ------------------------------------------------------------------

struct EncodeOptions {
    Format format = Format::RGB5A3;
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;  // C4, C8, C14X2
    Quality quality = Quality::Normal;                    // CMPR and palettes
    bool dither = false;                                  // palettes
    unsigned threads = 0;                                 // 0: every core
};

// Texels of a non-palette format for the picture, written into `out`
// (levelBytes(format, width, height) bytes). Texels of partial blocks beyond the
// picture repeat its last column and row.
void encodeTexels(const Image& picture, const EncodeOptions& options, std::span<std::uint8_t> out);

// Palette indices (one a pixel, row-major) packed as C4, C8 or C14X2 texels.
void packIndices(Format format, std::span<const std::uint16_t> indices, std::uint32_t width, std::uint32_t height,
                 std::span<std::uint8_t> out);

struct TextureInput {
    const Image* picture = nullptr;
    EncodeOptions options;
    unsigned levels = 1;  // mipmap levels including the picture itself
    Sampler sampler;
};

// A whole TPL file: each picture's levels (made by halveImage) and palette,
// encoded straight into the file.
Expected<std::vector<std::uint8_t>, TplWriteError> encodeTpl(std::span<const TextureInput> textures);

// The same in steps, for a caller that writes some texels itself (say, level 0
// while its picture is still being read): the file laid out for the textures,
// then texture k's levels from `firstLevel` on (palette formats: always all).
Expected<TplWriter, TplWriteError> planTpl(std::span<const TextureInput> textures);
void encodeTexture(TplWriter& writer, std::size_t k, const TextureInput& texture, unsigned firstLevel = 0);

// --- Mipmaps -------------------------------------------------------------------

// Levels a picture can have in a format, the first included: each halves the one
// before, and they stop before a side would fall below one block.
unsigned fullLevelCount(Format format, std::uint32_t width, std::uint32_t height);

// The next level: each pixel is the 2 × 2 box of the one above, averaged in
// linear light and weighted by alpha, so transparent pixels lend no colour.
Image halveImage(const Image& picture);

}  // namespace tplforge
