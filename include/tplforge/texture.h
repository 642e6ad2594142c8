// Texels of every GX format, both ways, as the console's texture unit sees them:
// fields widen by bit replication, RGB5A3 with bit 15 clear is 3-bit alpha and
// 4-bit colour, CMPR blends at 3/8 and 5/8. Encoding takes the texel nearest the
// pixel (RGB5A3 the nearer of its two forms; IA4 its intensity and alpha together,
// for what shows after blending), so a picture of texels a format holds comes back
// texel for texel, for every format but CMPR (and palettes asked to hold more
// colours than they can).
#pragma once

#include <string>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/format.h"
#include "tplforge/image.h"
#include "tplforge/texture_data.h"
#include "tplforge/tpl.h"

namespace tplforge {

// What a texel-level call refuses: the sizes it was handed, or a format it does
// not take.
enum class CodecError {
    UnknownFormat,      // a format code GX does not define
    WrongDataSize,      // texel data not levelBytes(format, width, height) bytes
    WrongPictureSize,   // pixels not width × height × 4 bytes, or an empty picture
    NeedsPalette,       // a palette format without its palette (decoding) or through encodeTexels
    NotPaletteFormat,   // indices or a palette for a format that has none
    IndexOutOfRange,    // an index the palette does not hold
    NoSuchLevel,        // a level the texture does not have
    TooManyLevels,      // more levels than the picture or the console allows
    SideTooLarge,       // a side beyond kMaxSide
};
[[nodiscard]] TPLFORGE_API std::string describe(CodecError error);

// --- Decoding ------------------------------------------------------------------

// One picture's texel data (levelBytes(format, width, height) bytes) into
// width × height RGBA rows. Palette formats need the palette; indices past its
// entries come out transparent black.
[[nodiscard]] TPLFORGE_API Expected<void, CodecError> decodeTexels(Format format, std::span<const std::uint8_t> data,
                                                                   std::uint32_t width, std::uint32_t height,
                                                                   const PaletteView* palette,
                                                                   std::span<std::uint8_t> rgba);

// Level `level` of a checked texture.
[[nodiscard]] TPLFORGE_API Expected<Image, CodecError> decodeLevel(const TextureView& texture, unsigned level);

// --- Encoding ------------------------------------------------------------------

struct EncodeOptions {
    Format format = Format::RGB5A3;
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;  // C4, C8, C14X2
    Quality quality = Quality::Normal;                    // CMPR and palettes
    bool dither = false;                                  // palettes
    unsigned threads = 0;                                 // 0: every core
    // The most entries a new palette may have; 0 or more than the format
    // indexes: as many as it indexes.
    std::uint32_t paletteEntries = 0;
};

// The most entries a new palette of these options may have.
[[nodiscard]] TPLFORGE_API std::uint32_t paletteEntryLimit(const EncodeOptions& options);

// Texels of a format that takes no palette, written into `out`
// (levelBytes(format, width, height) bytes). Texels of partial blocks beyond the
// picture repeat its last column and row.
[[nodiscard]] TPLFORGE_API Expected<void, CodecError> encodeTexels(const Image& picture, const EncodeOptions& options,
                                                                   std::span<std::uint8_t> out);

// Palette indices (one a pixel, row-major) packed as C4, C8 or C14X2 texels.
[[nodiscard]] TPLFORGE_API Expected<void, CodecError> packIndices(Format format,
                                                                  std::span<const std::uint16_t> indices,
                                                                  std::uint32_t width, std::uint32_t height,
                                                                  std::span<std::uint8_t> out);

struct TextureInput {
    const Image* picture = nullptr;
    EncodeOptions options;
    unsigned levels = 1;  // level 0 included
    Sampler sampler;
};

// A whole TPL file: each picture's levels (made by halveImage) and palette,
// encoded straight into the file.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, TplWriteError> encodeTpl(
    std::span<const TextureInput> textures);

// The same in steps, for a caller that writes some texels itself (say, level 0
// while its picture is still being read, through BlockRowEncoder): the file laid
// out for the textures, then texture k's levels from `firstLevel` on (palette
// formats: always all).
[[nodiscard]] TPLFORGE_API Expected<TplWriter, TplWriteError> planTpl(std::span<const TextureInput> textures);
[[nodiscard]] TPLFORGE_API Expected<void, CodecError> encodeTexture(TplWriter& writer, std::size_t k,
                                                                    const TextureInput& texture,
                                                                    unsigned firstLevel = 0);

// One texture's levels and palette on their own, for a file of another kind or
// for a texture put in place of another.
[[nodiscard]] TPLFORGE_API Expected<TextureData, CodecError> encodeTextureData(const Image& picture,
                                                                              const EncodeOptions& options,
                                                                              unsigned levels);

// Encodes one level of a format that takes no palette a row of blocks at a time,
// as the picture's rows arrive from a reader (see RowsDecoded in png.h), on
// `threads` threads (0: every core) that wait for the rows they need. The bytes
// are those encodeTexels writes for the whole picture.
class TPLFORGE_API BlockRowEncoder {
public:
    // `out` is levelBytes(format, width, height) bytes and must outlive the encoder.
    [[nodiscard]] static Expected<BlockRowEncoder, CodecError> start(const EncodeOptions& options, std::uint32_t width,
                                                                     std::uint32_t height, std::span<std::uint8_t> out);
    BlockRowEncoder(BlockRowEncoder&&) noexcept;
    BlockRowEncoder& operator=(BlockRowEncoder&&) noexcept;
    ~BlockRowEncoder();  // abandons what is left and waits for the threads

    // The first `rows` rows of `picture` are complete and stay where they are
    // until finish() or abandon(). 0 rows: the picture is about to go.
    void rowsArrived(const Image& picture, std::uint32_t rows);
    // Every row has arrived: encodes what is left (this thread helps) and waits.
    [[nodiscard]] Expected<void, CodecError> finish();
    // The picture broke off: the threads stop, and no row is read after this.
    void abandon();

private:
    struct State;
    explicit BlockRowEncoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// --- Mipmaps -------------------------------------------------------------------

// The next level: each pixel is the 2 × 2 box of the one above, averaged in
// linear light and weighted by alpha, so transparent pixels lend no colour.
[[nodiscard]] TPLFORGE_API Image halveImage(const Image& picture);

// The picture at another size by the same rule: each pixel the average of the
// area of the picture it covers (parts of pixels where the ratio is not whole),
// in linear light, weighted by alpha. Halving both sides k times is halveImage
// k times. Sides of 0 give an empty picture.
[[nodiscard]] TPLFORGE_API Image resizeImage(const Image& picture, std::uint32_t width, std::uint32_t height);

}  // namespace tplforge
