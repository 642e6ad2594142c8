#include "window_rules/window_rules.h"

#include <algorithm>
#include <cstring>

#include "tplforge/bmp.h"
#include "tplforge/format.h"

namespace tplforge::window_rules {

namespace {

// The truncations and the smallest-value expansions as multiplies and shifts
// that vectorise, exact over their whole range (checked here).
constexpr std::uint32_t fast5(std::uint32_t v) { return (v * 31 * 0x8081u) >> 23; }
constexpr std::uint32_t fast6(std::uint32_t v) { return (v * 63 * 0x8081u) >> 23; }
constexpr std::uint32_t fastFrom5(std::uint32_t f) { return (f * 1053 + 123) >> 7; }
constexpr std::uint32_t fastFrom6(std::uint32_t f) { return (f * 259 + 63) >> 6; }
constexpr bool exact() {
    for (std::uint32_t v = 0; v < 256; ++v)
        if (fast5(v) != to5(v) || fast6(v) != to6(v)) return false;
    for (std::uint32_t f = 0; f < 64; ++f)
        if ((f < 32 && fastFrom5(f) != from5(f)) || fastFrom6(f) != from6(f)) return false;
    return true;
}
static_assert(exact());

constexpr std::uint16_t bigEndian(std::uint32_t w) {
    return static_cast<std::uint16_t>((w >> 8 & 0xFF) | (w << 8 & 0xFF00));
}

// Each row is converted whole into its big-endian words, then its tiles' rows of
// four texels (8 bytes) are put where the tiles sit: sides are multiples of 4.
template <class Word>
void encodeRows(const WindowRaster& raster, std::span<std::uint8_t> out, Word word) {
    const auto width = static_cast<std::size_t>(raster.width);
    const std::size_t tiles = width / 4;
    std::vector<std::uint16_t> words(width);
    for (int y = 0; y < raster.height; ++y) {
        const ColourValue* in = raster.row(y);
        for (std::size_t x = 0; x < width; ++x) words[x] = bigEndian(word(in[x]));
        std::uint8_t* tileRow = out.data() + (static_cast<std::size_t>(y) / 4) * tiles * 32 + (y % 4) * 8;
        for (std::size_t t = 0; t < tiles; ++t) std::memcpy(tileRow + 32 * t, &words[4 * t], 8);
    }
}

std::uint16_t wordAt(std::span<const std::uint8_t> data, std::size_t i) {
    return static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
}

// Whole tiles are walked and the texels outside the picture dropped.
template <class Colour>
void decodeRows(std::span<const std::uint8_t> data, WindowRaster& raster, Colour colour) {
    const auto width = static_cast<std::size_t>(raster.width);
    const std::size_t tiles = (width + 3) / 4;
    std::vector<std::uint16_t> words(tiles * 4);
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* tileRow = data.data() + (static_cast<std::size_t>(y) / 4) * tiles * 32 + (y % 4) * 8;
        for (std::size_t t = 0; t < tiles; ++t) std::memcpy(&words[4 * t], tileRow + 32 * t, 8);
        ColourValue* row = raster.row(y);
        for (std::size_t x = 0; x < width; ++x) row[x] = colour(bigEndian(words[x]));
    }
}

}  // namespace

std::string_view describe(WriteError error) {
    switch (error) {
        case WriteError::NoTextures: return "no textures to write";
        case WriteError::EmptyPicture: return "a picture has no pixels";
        case WriteError::SideNotMultipleOf4: return "width and height must be multiples of 4";
        case WriteError::SideTooLarge: return "a side is larger than 32767 pixels";
        case WriteError::FileTooLarge: return "the textures do not fit in a TPL file (2 GiB)";
    }
    return "unknown error";
}

Expected<void, WriteError> encodeTexture(const Texture& texture, std::span<std::uint8_t> out) {
    if (!texture.raster || texture.raster->width <= 0 || texture.raster->height <= 0)
        return fail(WriteError::EmptyPicture);
    const WindowRaster& raster = *texture.raster;
    if (raster.width % 4 != 0 || raster.height % 4 != 0) return fail(WriteError::SideNotMultipleOf4);
    if (out.size() != static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height) * 2)
        return fail(WriteError::EmptyPicture);
    if (texture.rgb5a3) {
        const ColourValue key = texture.alphaColour;
        encodeRows(raster, out, [key](ColourValue c) {
            const std::uint32_t fields = fast5(redOf(c)) << 10 | fast5(greenOf(c)) << 5 | fast5(blueOf(c));
            return c == key ? fields : fields | 0x8000u;
        });
    } else {
        encodeRows(raster, out,
                   [](ColourValue c) { return fast5(redOf(c)) << 11 | fast6(greenOf(c)) << 5 | fast5(blueOf(c)); });
    }
    return {};
}

Expected<std::vector<std::uint8_t>, WriteError> buildTpl(std::span<const Texture> textures) {
    if (textures.empty()) return fail(WriteError::NoTextures);
    std::vector<TextureLayout> layouts;
    for (const Texture& t : textures) {
        if (!t.raster || t.raster->width <= 0 || t.raster->height <= 0) return fail(WriteError::EmptyPicture);
        const int w = t.raster->width, h = t.raster->height;
        if (w % 4 != 0 || h % 4 != 0) return fail(WriteError::SideNotMultipleOf4);
        if (static_cast<std::uint32_t>(w) > kMaxSide || static_cast<std::uint32_t>(h) > kMaxSide)
            return fail(WriteError::SideTooLarge);
        TextureLayout layout;
        layout.format = t.rgb5a3 ? Format::RGB5A3 : Format::RGB565;
        layout.width = static_cast<std::uint32_t>(w);
        layout.height = static_cast<std::uint32_t>(h);
        layouts.push_back(layout);
    }
    // The data starts at the first multiple of 32 above the headers, even when
    // they end on one.
    const std::size_t headers = kTplFileHeaderSize + (kTplTableEntrySize + kImageHeaderSize) * textures.size();
    const auto dataStart = static_cast<std::uint32_t>((headers / 32 + 1) * 32);
    auto writer = TplWriter::plan(layouts, {.dataStart = dataStart});
    if (!writer)
        return fail(writer.error() == TplWriteError::FileTooLarge ? WriteError::FileTooLarge : WriteError::EmptyPicture);
    for (std::size_t k = 0; k < textures.size(); ++k)
        if (auto done = encodeTexture(textures[k], *writer->level(k, 0)); !done) return fail(done.error());
    return std::move(*writer).finish();
}

Expected<DecodedTexture, TplError> decodeTexture(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    const bool rgb5a3 = image.format == static_cast<std::uint32_t>(Format::RGB5A3);
    if (!rgb5a3 && image.format != static_cast<std::uint32_t>(Format::RGB565)) return fail(TplError::UnsupportedFormat);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide)
        return fail(TplError::BadSize);
    const std::uint64_t size = levelBytes(image.format, image.width, image.height);
    if (std::uint64_t{image.dataOffset} + size > file.size()) return fail(TplError::DataOutOfBounds);

    const auto data = file.subspan(image.dataOffset, static_cast<std::size_t>(size));
    // Every pixel is decoded over, so the raster starts unset.
    DecodedTexture out;
    out.raster = WindowRaster::unset(image.width, image.height);
    if (!rgb5a3) {
        decodeRows(data, out.raster, [](std::uint32_t w) {
            return rgb(fastFrom5(w >> 11), fastFrom6((w >> 5) & 0x3F), fastFrom5(w & 0x1F));
        });
        return out;
    }
    decodeRows(data, out.raster, [](std::uint32_t w) {
        return rgb(fastFrom5((w >> 10) & 0x1F), fastFrom5((w >> 5) & 0x1F), fastFrom5(w & 0x1F));
    });
    // Alpha texels are counted over every tile, those reaching outside the
    // picture too, and the last of them in the data gives the alpha colour.
    const std::size_t words = data.size() / 2;
    for (std::size_t i = 0; i < words; ++i) out.alphaTexels += isAlphaTexel(wordAt(data, i));
    for (std::size_t i = words; out.alphaTexels > 0 && i-- > 0;) {
        if (isAlphaTexel(wordAt(data, i))) {
            out.lastAlphaColour = decodeRgb5a3(wordAt(data, i));
            break;
        }
    }
    return out;
}

WindowRaster overSurface(const Image& picture) {
    WindowRaster raster = WindowRaster::unset(static_cast<int>(picture.width), static_cast<int>(picture.height));
    const std::uint8_t* p = picture.rgba.data();
    // An opaque pixel blends to its own colour, so every pixel takes the same path.
    for (std::size_t i = 0; i < raster.pixels.size(); ++i, p += 4) raster.pixels[i] = blendOver(p[0], p[1], p[2], p[3]);
    return raster;
}

Image opaqueImage(const WindowRaster& raster) {
    Image image(static_cast<std::uint32_t>(raster.width), static_cast<std::uint32_t>(raster.height));
    for (std::size_t i = 0; i < raster.pixels.size(); ++i) {
        const ColourValue c = raster.pixels[i];
        std::uint8_t* p = &image.rgba[4 * i];
        p[0] = static_cast<std::uint8_t>(redOf(c));
        p[1] = static_cast<std::uint8_t>(greenOf(c));
        p[2] = static_cast<std::uint8_t>(blueOf(c));
        p[3] = 255;
    }
    return image;
}

Expected<std::vector<std::uint8_t>, BmpError> encodeBmp24(const WindowRaster& picture) {
    // An opaque picture is written with 24 bits a pixel.
    return encodeBmp(opaqueImage(picture));
}

}  // namespace tplforge::window_rules
