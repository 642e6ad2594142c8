// The TPL texture container: reading any TPL file's headers, every texture's
// levels and palette, and laying out new files.
//
// Every number in a TPL file is big-endian. The file header (magic 00 20 AF 30,
// image count, image table offset) is followed by the image table, one entry per
// image: the offset of its 36-byte image header and of its 12-byte palette header
// (0: none). Texel and palette data start at multiples of 32, as GX loads them.
// Readers follow the offsets and assume no order.
#pragma once

#include <string>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/format.h"

namespace tplforge {

inline constexpr std::uint8_t kTplMagic[4] = {0x00, 0x20, 0xAF, 0x30};
inline constexpr std::size_t kTplFileHeaderSize = 12;
inline constexpr std::size_t kTplTableEntrySize = 8;
inline constexpr std::size_t kImageHeaderSize = 36;
inline constexpr std::size_t kPaletteHeaderSize = 12;
// Sides and offsets are held in signed 16- and 32-bit fields when a file is read,
// so larger ones are refused, and never written: every file written reads back.
inline constexpr std::uint32_t kMaxSide = 32767;
inline constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;
inline constexpr std::size_t kMaxTextures = 0x7FFF;
// The console's texture unit takes sides up to 1024.
inline constexpr std::uint32_t kConsoleMaxSide = 1024;

// How a texture is sampled, as an image header stores it (max LOD follows from
// the levels a texture holds).
struct Sampler {
    WrapMode wrapS = WrapMode::Clamp;
    WrapMode wrapT = WrapMode::Clamp;
    TextureFilter minFilter = TextureFilter::Linear;
    TextureFilter magFilter = TextureFilter::Linear;
    float lodBias = 0;
    std::uint8_t edgeLod = 0;
    std::uint8_t minLod = 0;

    bool operator==(const Sampler&) const = default;
};

// What a texture's header holds besides its sides, format and offsets.
struct TextureSettings {
    Sampler sampler;
    std::optional<std::uint8_t> maxLod;  // unset: levels − 1; set, it must give the texture's levels
    std::uint8_t unpacked = 0;
    std::uint8_t paletteUnpacked = 0;
    std::uint8_t palettePadding = 0;
};

// --- Reading -------------------------------------------------------------------

// One image header as stored, with its table entry.
struct TplImageHeader {
    std::uint32_t headerOffset = 0;
    std::uint32_t paletteHeaderOffset = 0;  // 0: none
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t format = 0;  // the code as stored; formatInfo() says whether GX defines it
    std::uint32_t dataOffset = 0;
    Sampler sampler;
    std::uint8_t maxLod = 0;
    std::uint8_t unpacked = 0;
};

struct TplHeaders {
    std::uint64_t fileSize = 0;
    std::vector<TplImageHeader> images;
};

enum class TplError {
    TooShort,             // fewer bytes than a file header
    BadSignature,         // magic or image table offset wrong
    NoTextures,           // image count 0
    CountOutOfRange,      // image count beyond what the reader holds
    TableOutOfBounds,     // image table runs past the end
    OffsetOutOfRange,     // an offset field with its top bit set
    HeaderOutOfBounds,    // an image header runs past the end
    BadSize,              // width or height 0 or beyond 32767
    DataOutOfBounds,      // texture data runs past the end, or more is announced than the file holds
    UnsupportedFormat,    // a format code GX does not define
    MissingPalette,       // a palette format without a palette header
    PaletteOutOfBounds,   // palette header or entries run past the end
    BadPalette,           // unknown palette format or no entries
    LevelsOutOfBounds,    // the mipmap chain runs past the end
};
[[nodiscard]] TPLFORGE_API std::string describe(TplError error);

// Magic bytes 0..3 and byte 11 (low byte of the image table offset, always 12).
[[nodiscard]] TPLFORGE_API bool hasTplSignature(std::span<const std::uint8_t> file);
// The image count field, for a file with a signature.
[[nodiscard]] TPLFORGE_API std::uint32_t tplImageCount(std::span<const std::uint8_t> file);

// Checks the file header, the image table, every image header and the first
// level's data against the file before anything is read from where they point.
// Palettes and mipmap chains are checked by textureView.
[[nodiscard]] TPLFORGE_API Expected<TplHeaders, TplError> parseTpl(std::span<const std::uint8_t> file);

// How many levels an image holds: with max LOD 0 one, else max LOD + 1, clamped
// to the console's 11 and stopping at 1 × 1.
[[nodiscard]] TPLFORGE_API unsigned levelsHeld(const TplImageHeader& image);

struct PaletteView {
    PaletteFormat format = PaletteFormat::RGB5A3;
    std::uint32_t entryCount = 0;
    std::span<const std::uint8_t> words;  // entryCount big-endian 16-bit words
};

// A texture as the console loads it: every level and the palette, each checked
// to lie inside the file. The spans point into the file.
struct TextureView {
    Format format = Format::RGB565;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::span<const std::uint8_t>> levels;  // level 0 first
    std::optional<PaletteView> palette;
};
[[nodiscard]] TPLFORGE_API Expected<TextureView, TplError> textureView(std::span<const std::uint8_t> file,
                                                                       const TplImageHeader& image);

// --- Writing -------------------------------------------------------------------

// What one texture of a new file occupies.
struct TextureLayout {
    Format format = Format::RGB565;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned levels = 1;
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;  // palette formats only
    Sampler sampler;
    // Header bytes kept from a file that was read: its max LOD (unset: levels − 1;
    // set, it must give the same levels) and the unpacked bytes of both headers
    // and the palette header's padding byte.
    std::optional<std::uint8_t> maxLod;
    std::uint8_t unpacked = 0;
    std::uint8_t paletteUnpacked = 0;
    std::uint8_t palettePadding = 0;
};

enum class TplWriteError {
    NoTextures,
    EmptyPicture,
    SideTooLarge,
    FileTooLarge,
    TooManyLevels,
    TooManyTextures,
    UnknownFormat,     // a format code GX does not define
    BadDataStart,      // a data start that is not a multiple of 32 at or after the headers
    NoSuchLevel,       // a texture or level the file was not planned with
    NotPaletted,       // a palette for a texture whose format takes none
    BadPaletteSize,    // no entries, or more than the format indexes
};
[[nodiscard]] TPLFORGE_API std::string describe(TplWriteError error);

// Lays out a file: file header, image table, image headers, palette headers,
// zeros up to the data start, each texture's levels back to back, each texture
// starting at a multiple of 32, then each palette's entries (added by
// setPalette, 32-aligned). The caller writes the texels straight into the file
// through level().
class TPLFORGE_API TplWriter {
public:
    struct Options {
        // Where the first texel goes: a multiple of 32 at or after the headers.
        // Unset: the first multiple of 32 at or after them.
        std::optional<std::uint32_t> dataStart;
    };

    [[nodiscard]] static Expected<TplWriter, TplWriteError> plan(std::span<const TextureLayout> textures,
                                                                 const Options& options);
    [[nodiscard]] static Expected<TplWriter, TplWriteError> plan(std::span<const TextureLayout> textures) {
        return plan(textures, Options{});
    }

    [[nodiscard]] std::size_t textureCount() const { return placed_.size(); }
    // The bytes of one level, to be written by the caller.
    [[nodiscard]] Expected<std::span<std::uint8_t>, TplWriteError> level(std::size_t texture, unsigned level);
    // Appends the entries after everything written so far and points the
    // texture's palette header at them.
    [[nodiscard]] Expected<void, TplWriteError> setPalette(std::size_t texture, std::span<const std::uint16_t> entries);
    [[nodiscard]] std::vector<std::uint8_t> finish() && { return std::move(file_); }

private:
    struct Placed {
        std::uint32_t paletteHeader = 0;  // 0: none
        std::uint32_t maxEntries = 0;
        std::vector<std::uint64_t> levelOffsets;
        std::vector<std::uint64_t> levelSizes;
    };
    std::vector<std::uint8_t> file_;
    std::vector<Placed> placed_;
};

}  // namespace tplforge
