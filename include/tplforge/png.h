// PNG: any PNG in, 8-bit RGBA out (16-bit channels rounded to the nearest 8-bit
// value, palettes and transparency chunks expanded); and out, 8-bit, with the
// channels a picture needs.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/format.h"
#include "tplforge/image.h"

namespace tplforge {

enum class PngError {
    NotPng,    // no PNG signature
    TooLarge,  // more pixels than a picture may hold
    Corrupt,   // damaged or cut short
    Empty,     // a picture without pixels to write
};
[[nodiscard]] TPLFORGE_API std::string describe(PngError error);

[[nodiscard]] TPLFORGE_API bool isPng(std::span<const std::uint8_t> bytes);
// Told how many rows from the top are complete as they arrive (every row of an
// interlaced file at the end), so an encoder can start on them while the rest
// is still being read. Should reading fail after that, it is told 0 rows before
// the picture goes.
using RowsDecoded = std::function<void(const Image& picture, std::uint32_t rows)>;

[[nodiscard]] TPLFORGE_API Expected<Image, PngError> readPng(std::span<const std::uint8_t> file, const RowsDecoded& onRows = nullptr);

// What the written file keeps of each pixel: grey is the red channel.
enum class PngChannels { Grey = 1, GreyAlpha = 2, Rgb = 3, Rgba = 4 };

// The channels a texture of the format is written with: I4 and I8 are intensity
// alone (the console also samples it as alpha), IA4 and IA8 intensity and
// alpha, RGB565 colour; the rest colour and alpha.
[[nodiscard]] TPLFORGE_API PngChannels pngChannelsOf(Format format);

// level: 0 (stored) to 9 (smallest), as zlib counts them, mapped onto libdeflate's
// 0 to 12 (deflateLevelOf). Up to four bands of rows are compressed on every
// core and joined into one stream; the file does not depend on the number of
// cores. At the default, decoded textures come out smaller than zlib's level 4
// wrote them, in under a fifth of the time, but for grainy I8 and RGBA8 ones (up
// to 6 % larger: there zlib's filtered strategy does better than any libdeflate
// level under 10). bench/png_bench.cpp and bench/whole-process have the figures.
inline constexpr int kDefaultPngLevel = 4;
// The libdeflate level a PNG level is written with.
[[nodiscard]] TPLFORGE_API int deflateLevelOf(int pngLevel);
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, PngError> writePng(const Image& picture,
                                                                                  PngChannels channels,
                                                                                  int level = kDefaultPngLevel);

}  // namespace tplforge
