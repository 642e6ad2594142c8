// The TPL texture container: writing files of RGB565 / RGB5A3 textures and
// reading the header and texture data of any TPL file.
//
// Written layout: file header (magic 00 20 AF 30, image count, table offset 12),
// the image table, one 36-byte image header per texture, zero padding up to the
// next multiple of 32 bytes above the headers, then each texture's tiles in turn.
// The padding keeps every data offset 32-byte aligned, as GX and the homebrew
// loaders that hand TPL data to it expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/expected.h"
#include "common/raster.h"
#include "tpl/texture_format.h"

namespace tplforge {

inline constexpr std::uint8_t kTplMagic[4] = {0x00, 0x20, 0xAF, 0x30};
inline constexpr std::size_t kImageHeaderSize = 36;
// Sides and offsets are held in signed 16- and 32-bit fields when a file is read,
// so larger ones are refused, and never written: every file written reads back.
inline constexpr std::uint32_t kMaxSide = 32767;
inline constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;

// Offset of the first texture's data for a file of n textures.
std::uint32_t headerBlockLength(std::size_t n);

// --- Writing -------------------------------------------------------------------

// Texture data of a raster whose sides are multiples of 4, in 4 × 4 tiles,
// written into `out` (2 × width × height bytes).
void encodeTextureInto(const Raster& raster, TextureFormat format, ColourValue alphaColour,
                       std::span<std::uint8_t> out);
std::vector<std::uint8_t> encodeTexture(const Raster& raster, TextureFormat format, ColourValue alphaColour);

struct TextureInput {
    const Raster* raster;
    TextureFormat format;       // RGB565 or RGB5A3
    ColourValue alphaColour;    // used by RGB5A3 only
};

enum class TplWriteError { NoTextures, SideNotMultipleOf4, SideTooLarge, FileTooLarge, UnsupportedFormat };
std::string_view describe(TplWriteError error);

// The whole file for these textures, in order.
Expected<std::vector<std::uint8_t>, TplWriteError> buildTpl(std::span<const TextureInput> textures);

// --- Reading -------------------------------------------------------------------

struct TplImage {
    std::uint32_t headerOffset = 0;
    std::uint32_t paletteOffset = 0;
    std::uint16_t height = 0;
    std::uint16_t width = 0;
    std::uint32_t format = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t wrapS = 0;
    std::uint32_t wrapT = 0;
    std::uint32_t minFilter = 0;
    std::uint32_t magFilter = 0;
    std::uint32_t lodBias = 0;  // raw bits of a 32-bit float
    std::uint8_t edgeLod = 0;
    std::uint8_t minLod = 0;
    std::uint8_t maxLod = 0;
    std::uint8_t unpacked = 0;
};

struct TplInfo {
    std::uint64_t fileSize = 0;
    std::vector<TplImage> images;
};

enum class TplError {
    TooShort,            // fewer bytes than a file header
    BadSignature,        // magic or image table offset wrong
    NoTextures,          // image count 0
    CountOutOfRange,     // image count beyond what the reader holds
    TableOutOfBounds,    // image table runs past the end
    OffsetOutOfRange,    // an offset field with its top bit set
    HeaderOutOfBounds,   // an image header runs past the end
    BadSize,             // width or height 0 or beyond 32767
    DataOutOfBounds,     // texture data runs past the end, or more is announced than the file holds
    UnsupportedFormat,   // not RGB565 or RGB5A3 (decoding only)
};
std::string_view describe(TplError error);

// Magic bytes 0..3 and byte 11 (low byte of the image table offset, always 12).
bool hasTplSignature(std::span<const std::uint8_t> file);
// The image count field, for a file with a signature.
std::uint32_t tplImageCount(std::span<const std::uint8_t> file);

// Checks every offset, count and size against the file before anything is read
// from where it points; fields the reader does not use never make it refuse.
Expected<TplInfo, TplError> parseTpl(std::span<const std::uint8_t> file);

struct DecodedTexture {
    Raster raster;
    std::size_t alphaTexels = 0;          // RGB5A3 texels with bit 15 clear
    ColourValue lastAlphaColour = kBlack; // colour of the last of them, in file order
};

// Decodes one texture of a file that parseTpl accepted. Sizes that are not
// multiples of 4 are walked in whole tiles; texels outside the picture are dropped.
Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file, const TplImage& image);

}  // namespace tplforge
