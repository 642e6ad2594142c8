// The window's own texture rules, for the window and for `tplforge-cli --window`:
// RGB565 and RGB5A3 only, channels reduced by truncation, an RGB5A3 pixel of
// exactly the alpha colour written with bit 15 clear and the same 5-5-5 fields,
// fields read back as the smallest value that truncates to them, and every picture
// with transparency drawn over the surface grey first. Files are laid out with the
// header block padded to the next multiple of 32 above the headers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/raster.h"
#include "tplforge/expected.h"
#include "tplforge/image.h"
#include "tplforge/tpl.h"

namespace tplforge::window_rules {

struct Texture {
    const Raster* raster = nullptr;
    bool rgb5a3 = false;
    ColourValue alphaColour = kWhite;  // RGB5A3 only
};

// Texel data of a raster whose sides are multiples of 4, in 4 × 4 tiles.
void encodeTexture(const Texture& texture, std::span<std::uint8_t> out);

// The whole file: sides must be multiples of 4.
Expected<std::vector<std::uint8_t>, TplWriteError> buildTpl(std::span<const Texture> textures);

struct DecodedTexture {
    Raster raster;
    std::size_t alphaTexels = 0;           // RGB5A3 texels with bit 15 clear
    ColourValue lastAlphaColour = kBlack;  // colour of the last of them, in file order
};

// Decodes an RGB565 or RGB5A3 texture of a file that parseTpl accepted. Sizes
// that are not multiples of 4 are walked in whole tiles; texels outside the
// picture are dropped (an alpha texel there still counts).
Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file, const TplImage& image);

// The picture drawn over the surface grey by its alpha.
Raster overSurface(const Image& picture);
// And back, opaque.
Image opaqueImage(const Raster& raster);

// A 24-bit bitmap of the raster.
std::vector<std::uint8_t> encodeBmp24(const Raster& picture);

}  // namespace tplforge::window_rules
