// PNG through libspng: any PNG in, 8-bit RGBA out (16-bit channels rounded to
// the nearest 8-bit value, palettes and transparency chunks expanded); and out,
// with the channels a picture needs.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/image.h"

namespace tplforge {

inline constexpr std::uint64_t kMaxPngPixels = kMaxPicturePixels;

enum class PngError {
    NotPng,        // no PNG signature
    TooLarge,      // more pixels than a picture may hold, or a file too large to write
    Corrupt,       // damaged or cut short
    WriteFailed,   // the encoder refused the picture
};
[[nodiscard]] TPLFORGE_API std::string_view describe(PngError error);

[[nodiscard]] TPLFORGE_API bool isPng(std::span<const std::uint8_t> bytes);
// Told how many rows from the top are complete as they arrive (every row of an
// interlaced file at the end), so an encoder can start on them while the rest
// is still being read. Should reading fail after that, it is told 0 rows before
// the picture goes.
using RowsDecoded = std::function<void(const Image& picture, std::uint32_t rows)>;

[[nodiscard]] TPLFORGE_API Expected<Image, PngError> readPng(std::span<const std::uint8_t> file, const RowsDecoded& onRows = nullptr);

// What the written file keeps of each pixel: grey is the red channel.
enum class PngChannels { Grey = 1, GreyAlpha = 2, Rgb = 3, Rgba = 4 };

// level: zlib's 0 (store) to 9 (smallest). 4 rather than zlib's usual 6: on
// decoded photo-like textures it writes files 0 to 5 % larger in half the time
// or less (bench/png-levels has the figures).
inline constexpr int kDefaultPngLevel = 4;
// Row filters the encoder picks from, row by row, as libspng's filter choice
// mask: all five. One fixed filter is faster still, but which one wins depends
// on the picture, and the wrong one cost over a quarter more bytes on a smooth photo.
inline constexpr int kDefaultPngFilters = 248;
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, PngError> writePng(const Image& picture,
                                                                               PngChannels channels,
                                                                               int level = kDefaultPngLevel);

}  // namespace tplforge
