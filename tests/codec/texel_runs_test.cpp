// The vector paths of every texel format against the per-texel functions of
// texel.h and window_texel.h, placed by a walk written straight from the block
// layout: every 16-bit word and every byte, and random pictures of sizes that
// leave partial blocks and cross the chunks the fast paths work in.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "codec/texel.h"
#include "codec/window_rules.h"
#include "codec/window_texel.h"
#include "tplforge/texture.h"

namespace tplforge {
namespace {

using texel::Rgba;

// Where texel (x, y) of a picture `width` wide lies in the texel data: the byte
// offset of its block and its place inside the block.
struct Place {
    std::size_t block;
    std::uint32_t index;
};
Place placeOf(Format format, std::uint32_t width, std::uint32_t x, std::uint32_t y) {
    const FormatInfo info = formatInfo(format);
    const std::uint32_t across = (width + info.blockWidth - 1) / info.blockWidth;
    const std::size_t block = std::size_t{y / info.blockHeight} * across + x / info.blockWidth;
    return {block * info.blockBytes, (y % info.blockHeight) * info.blockWidth + x % info.blockWidth};
}

std::uint16_t wordAt(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

Rgba pixelOf(const Image& picture, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = &picture.rgba[(std::size_t{y} * picture.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

// One texel decoded as the console reads it.
Rgba referenceTexel(Format format, const std::uint8_t* block, std::uint32_t t, const std::vector<Rgba>& palette) {
    const auto grey = [](std::uint8_t i, std::uint8_t a) { return Rgba{i, i, i, a}; };
    const std::uint8_t nibble = t % 2 == 0 ? block[t / 2] >> 4 : block[t / 2] & 15;
    switch (format) {
        case Format::I4: return grey(texel::widen4(nibble), texel::widen4(nibble));
        case Format::I8: return grey(block[t], block[t]);
        case Format::IA4: return grey(texel::widen4(block[t] & 15), texel::widen4(block[t] >> 4));
        case Format::IA8: return texel::decodeIa8(wordAt(block + 2 * t));
        case Format::RGB565: return texel::decodeRgb565(wordAt(block + 2 * t));
        case Format::RGB5A3: return texel::decodeRgb5a3(wordAt(block + 2 * t));
        case Format::RGBA8: return {block[2 * t + 1], block[32 + 2 * t], block[33 + 2 * t], block[2 * t]};
        case Format::C4: return palette[nibble];
        case Format::C8: return palette[block[t]];
        case Format::C14X2: return palette[wordAt(block + 2 * t) & 0x3FFF];
        case Format::CMPR: break;
    }
    return {};
}

// One texel written as the per-texel encoders write it.
void referenceEncode(Format format, Rgba c, std::uint8_t* block, std::uint32_t t) {
    const std::uint8_t i = texel::intensity(c.r, c.g, c.b);
    const auto putWord = [&](std::uint16_t w) {
        block[2 * t] = static_cast<std::uint8_t>(w >> 8);
        block[2 * t + 1] = static_cast<std::uint8_t>(w);
    };
    switch (format) {
        case Format::I4:
            block[t / 2] |= static_cast<std::uint8_t>(texel::reduce<4>(i) << (t % 2 == 0 ? 4 : 0));
            break;
        case Format::I8: block[t] = i; break;
        case Format::IA4: block[t] = static_cast<std::uint8_t>(texel::reduce<4>(c.a) << 4 | texel::reduce<4>(i)); break;
        case Format::IA8: putWord(texel::encodeIa8(c)); break;
        case Format::RGB565: putWord(texel::encodeRgb565(c)); break;
        case Format::RGB5A3: putWord(texel::encodeRgb5a3(c)); break;
        case Format::RGBA8:
            block[2 * t] = c.a;
            block[2 * t + 1] = c.r;
            block[32 + 2 * t] = c.g;
            block[33 + 2 * t] = c.b;
            break;
        default: break;
    }
}

// Every texel of the padded picture, the edge repeated into partial blocks.
std::vector<std::uint8_t> referenceEncode(Format format, const Image& picture) {
    const FormatInfo info = formatInfo(format);
    std::vector<std::uint8_t> out(levelBytes(format, picture.width, picture.height), 0);
    const std::uint32_t paddedW = (picture.width + info.blockWidth - 1) / info.blockWidth * info.blockWidth;
    const std::uint32_t paddedH = (picture.height + info.blockHeight - 1) / info.blockHeight * info.blockHeight;
    for (std::uint32_t y = 0; y < paddedH; ++y)
        for (std::uint32_t x = 0; x < paddedW; ++x) {
            const Place p = placeOf(format, picture.width, x, y);
            referenceEncode(format, pixelOf(picture, std::min(x, picture.width - 1), std::min(y, picture.height - 1)),
                            &out[p.block], p.index);
        }
    return out;
}

Image referenceDecode(Format format, std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                      const std::vector<Rgba>& palette = {}) {
    Image image(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const Place p = placeOf(format, width, x, y);
            const Rgba c = referenceTexel(format, &data[p.block], p.index, palette);
            std::uint8_t* out = &image.rgba[(std::size_t{y} * width + x) * 4];
            out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
        }
    return image;
}

// Random colours, each channel now and then at 0 or 255 where rounding and the
// RGB5A3 forms change.
Image randomPicture(std::uint32_t width, std::uint32_t height, unsigned seed) {
    Image image(width, height);
    std::mt19937 rng(seed);
    for (std::uint8_t& v : image.rgba) {
        const std::uint32_t r = rng();
        v = r % 8 == 0 ? 255 : r % 8 == 1 ? 0 : static_cast<std::uint8_t>(r >> 8);
    }
    return image;
}

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> bytes(n);
    std::mt19937 rng(seed);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

const Format kDirectFormats[] = {Format::I4,     Format::I8,     Format::IA4,  Format::IA8,
                                 Format::RGB565, Format::RGB5A3, Format::RGBA8};
const Format kPaletteFormats[] = {Format::C4, Format::C8, Format::C14X2};

// Sizes with partial blocks on either side, single texels, and rows wider than
// one chunk of blocks (1024 texels) in every block shape.
struct Size {
    std::uint32_t width, height;
};
const Size kSizes[] = {{1, 1}, {3, 5}, {8, 8}, {7, 9}, {13, 4}, {33, 17}, {64, 3}, {300, 11}, {1030, 9}};

TEST(TexelRuns, EveryWordAndByteDecodesAsThePerTexelFunctions) {
    // 65536 words make a 256 × 256 picture of a 16-bit format and four of an
    // 8-bit one, 131072 nibbles one of I4 or C4: each value turns up at least once.
    for (const Format format : kDirectFormats) {
        SCOPED_TRACE(formatName(static_cast<std::uint32_t>(format)));
        const std::uint32_t bits = formatInfo(format).bitsPerTexel;
        const std::uint32_t width = 256, height = bits == 32 ? 128 : bits == 16 ? 256 : 512;
        std::vector<std::uint8_t> data(levelBytes(format, width, height));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(bits == 16 ? (i % 2 == 0 ? i / 512 : i / 2) : i);
        Image got(width, height);
        decodeTexels(format, data, width, height, nullptr, got.rgba);
        EXPECT_EQ(got, referenceDecode(format, data, width, height));
    }
}

TEST(TexelRuns, RandomPicturesEncodeAndDecodeAsThePerTexelFunctions) {
    unsigned seed = 1;
    for (const Format format : kDirectFormats)
        for (const Size size : kSizes) {
            SCOPED_TRACE(std::string(formatName(static_cast<std::uint32_t>(format))) + " " +
                         std::to_string(size.width) + "x" + std::to_string(size.height));
            const Image picture = randomPicture(size.width, size.height, ++seed);
            EncodeOptions options;
            options.format = format;
            // Stale bytes in the output must all be overwritten.
            std::vector<std::uint8_t> got(levelBytes(format, size.width, size.height), 0xA5);
            encodeTexels(picture, options, got);
            EXPECT_EQ(got, referenceEncode(format, picture));

            const std::vector<std::uint8_t> data = randomBytes(got.size(), ++seed);
            Image decoded(size.width, size.height);
            decodeTexels(format, data, size.width, size.height, nullptr, decoded.rgba);
            EXPECT_EQ(decoded, referenceDecode(format, data, size.width, size.height));
        }
}

TEST(TexelRuns, PaletteIndicesPackAndDecodeAsTheBlockLayout) {
    unsigned seed = 100;
    for (const Format format : kPaletteFormats)
        for (const Size size : kSizes) {
            SCOPED_TRACE(std::string(formatName(static_cast<std::uint32_t>(format))) + " " +
                         std::to_string(size.width) + "x" + std::to_string(size.height));
            const std::uint32_t entries = formatInfo(format).maxPaletteEntries;
            std::mt19937 rng(++seed);
            std::vector<std::uint16_t> indices(std::size_t{size.width} * size.height);
            for (std::uint16_t& i : indices) i = static_cast<std::uint16_t>(rng() % entries);

            std::vector<std::uint8_t> got(levelBytes(format, size.width, size.height), 0);
            packIndices(format, indices, size.width, size.height, got);
            // The reference packs each index of the padded picture by hand.
            std::vector<std::uint8_t> want(got.size(), 0);
            const FormatInfo info = formatInfo(format);
            for (std::uint32_t y = 0; y < (size.height + info.blockHeight - 1) / info.blockHeight * info.blockHeight; ++y)
                for (std::uint32_t x = 0; x < (size.width + info.blockWidth - 1) / info.blockWidth * info.blockWidth; ++x) {
                    const Place p = placeOf(format, size.width, x, y);
                    const std::uint16_t index =
                        indices[std::size_t{std::min(y, size.height - 1)} * size.width + std::min(x, size.width - 1)];
                    std::uint8_t* block = &want[p.block];
                    if (format == Format::C4)
                        block[p.index / 2] |= static_cast<std::uint8_t>(index << (p.index % 2 == 0 ? 4 : 0));
                    else if (format == Format::C8)
                        block[p.index] = static_cast<std::uint8_t>(index);
                    else
                        block[2 * p.index] = static_cast<std::uint8_t>(index >> 8), block[2 * p.index + 1] = static_cast<std::uint8_t>(index);
                }
            EXPECT_EQ(got, want);

            // Random data holds C14X2 indices past the palette and stray top bits.
            const std::vector<std::uint8_t> data = randomBytes(got.size(), ++seed);
            const std::vector<std::uint8_t> words = randomBytes(2 * entries, ++seed);
            const PaletteView palette{PaletteFormat::RGB5A3, entries - entries / 4, words};
            std::vector<Rgba> colours(entries, Rgba{0, 0, 0, 0});
            for (std::uint32_t i = 0; i < palette.entryCount; ++i)
                colours[i] = texel::decodeRgb5a3(wordAt(&words[2 * i]));
            Image decoded(size.width, size.height);
            decodeTexels(format, data, size.width, size.height, &palette, decoded.rgba);
            EXPECT_EQ(decoded, referenceDecode(format, data, size.width, size.height, colours));
        }
}

// The window's rules: 4 × 4 tiles of 16-bit words, read and written by the
// functions of window_texel.h.
Raster randomRaster(int width, int height, ColourValue key, unsigned seed) {
    Raster raster(width, height);
    std::mt19937 rng(seed);
    for (ColourValue& c : raster.pixels) c = rng() % 5 == 0 ? key : rng() & 0xFFFFFF;
    return raster;
}

TEST(TexelRuns, WindowRulesMatchTheirPerTexelFunctions) {
    const struct {
        int width, height;
    } sizes[] = {{4, 4}, {12, 8}, {1028, 8}, {256, 256}};
    const ColourValue key = rgb(12, 200, 77);
    unsigned seed = 200;
    for (const bool rgb5a3 : {false, true})
        for (const auto size : sizes) {
            SCOPED_TRACE(std::to_string(rgb5a3) + " " + std::to_string(size.width) + "x" + std::to_string(size.height));
            const Raster raster = randomRaster(size.width, size.height, key, ++seed);
            std::vector<std::uint8_t> got(std::size_t{2} * raster.pixels.size(), 0xA5), want(got.size());
            window_rules::encodeTexture({&raster, rgb5a3, key}, got);
            for (int y = 0; y < size.height; ++y)
                for (int x = 0; x < size.width; ++x) {
                    const ColourValue c = raster.at(x, y);
                    const std::uint16_t w = rgb5a3 ? window_rules::encodeRgb5a3(c, key) : window_rules::encodeRgb565(c);
                    const Place p = placeOf(Format::RGB565, static_cast<std::uint32_t>(size.width), x, y);
                    want[p.block + 2 * p.index] = static_cast<std::uint8_t>(w >> 8);
                    want[p.block + 2 * p.index + 1] = static_cast<std::uint8_t>(w);
                }
            EXPECT_EQ(got, want);
        }
}

// A file of one texture whose words run through every 16-bit value, read at a
// size that leaves texels outside the picture; the last of them is an alpha
// texel that the picture does not show but the count and last colour take in.
TEST(TexelRuns, WindowDecodeReadsEveryWordAndCountsAlphaTexelsOutsideThePicture) {
    for (const bool rgb5a3 : {false, true}) {
        SCOPED_TRACE(rgb5a3);
        const Raster blank(256, 260, 0);
        const window_rules::Texture texture{&blank, rgb5a3, kWhite};
        std::vector<std::uint8_t> file = window_rules::buildTpl(std::span(&texture, 1)).value();
        auto info = parseTpl(file).value();
        TplImage image = info.images[0];
        std::uint8_t* data = &file[image.dataOffset];
        const std::size_t words = 256 * 260;
        for (std::size_t i = 0; i < words; ++i) {
            const auto w = static_cast<std::uint16_t>(i < 65536 ? (i * 40503) & 0xFFFF : 0x8000 | i);
            data[2 * i] = static_cast<std::uint8_t>(w >> 8);
            data[2 * i + 1] = static_cast<std::uint8_t>(w);
        }
        data[2 * (words - 1)] = 0x12;  // bit 15 clear, in the tiles below row 257
        data[2 * (words - 1) + 1] = 0x34;
        image.height = 257;

        const auto got = window_rules::decodeTexture(file, image);
        ASSERT_TRUE(got);
        std::size_t alphaTexels = 0;
        for (std::size_t i = 0; i < words; ++i) alphaTexels += window_rules::isAlphaTexel(wordAt(data + 2 * i));
        EXPECT_EQ(got->alphaTexels, rgb5a3 ? alphaTexels : 0u);
        EXPECT_EQ(got->lastAlphaColour, rgb5a3 ? window_rules::decodeRgb5a3(0x1234) : kBlack);
        int wrong = 0;
        for (std::uint32_t y = 0; y < 257; ++y)
            for (std::uint32_t x = 0; x < 256; ++x) {
                const Place p = placeOf(Format::RGB565, 256, x, y);
                const std::uint16_t w = wordAt(data + p.block + 2 * p.index);
                const ColourValue want = rgb5a3 ? window_rules::decodeRgb5a3(w) : window_rules::decodeRgb565(w);
                wrong += got->raster.at(static_cast<int>(x), static_cast<int>(y)) != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(TexelRuns, OverSurfaceBlendsEveryAlphaAsBlendOver) {
    // Every alpha with every channel value, on a picture 256 wide.
    Image picture(256, 256);
    for (std::uint32_t a = 0; a < 256; ++a)
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint8_t* p = &picture.rgba[(a * 256 + v) * 4];
            p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(255 - v),
            p[2] = static_cast<std::uint8_t>(v * 7), p[3] = static_cast<std::uint8_t>(a);
        }
    const Raster got = window_rules::overSurface(picture);
    int wrong = 0;
    for (std::uint32_t y = 0; y < 256; ++y)
        for (std::uint32_t x = 0; x < 256; ++x) {
            const Rgba c = pixelOf(picture, x, y);
            const ColourValue want = c.a == 255 ? rgb(c.r, c.g, c.b) : blendOver(c.r, c.g, c.b, c.a);
            wrong += got.at(static_cast<int>(x), static_cast<int>(y)) != want;
        }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tplforge
