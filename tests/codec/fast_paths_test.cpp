// Every fast path against one per-texel reference, built from texel.h and the
// window's per-texel rules and placed by the block layout: the block-row kernels
// at every vector width this processor runs (the codec uses only the widest),
// then the codec's entry points, which add the texel runs and the moves of
// block_order.h, and the window's own encoder and decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <span>
#include <vector>

#include "codec/gx/block_rows.h"
#include "codec/gx/texel.h"
#include "codec/gx/texel_runs.h"
#include "tplforge/texture.h"
#include "window_rules/window_rules.h"

namespace tplforge {
namespace {

using block_rows::Kernels;

using texel::packed;
using texel::unpacked;

// The console's reading of a format, or the window's rules on RGB565 or RGB5A3 blocks.
struct Codec {
    Format format;
    bool window = false;
};

// Texel t of a block: RGBA, a colour value by the window's rules, or a palette index.
std::uint32_t readTexel(const Codec& c, const std::uint8_t* b, std::uint32_t t) {
    const auto word = [&] { return static_cast<std::uint16_t>(b[2 * t] << 8 | b[2 * t + 1]); };
    const auto grey = [](std::uint8_t i, std::uint8_t a) { return packed({i, i, i, a}); };
    const std::uint32_t nibble = t % 2 ? b[t / 2] & 15u : b[t / 2] >> 4u;
    if (c.window)
        return c.format == Format::RGB565 ? window_rules::decodeRgb565(word()) : window_rules::decodeRgb5a3(word());
    switch (c.format) {
        case Format::I4: return grey(texel::widen4(nibble), texel::widen4(nibble));
        case Format::I8: return grey(b[t], b[t]);
        case Format::IA4: return grey(texel::widen4(b[t] & 15u), texel::widen4(b[t] >> 4u));
        case Format::IA8: return packed(texel::decodeIa8(word()));
        case Format::RGB565: return packed(texel::decodeRgb565(word()));
        case Format::RGB5A3: return packed(texel::decodeRgb5a3(word()));
        case Format::RGBA8: return packed({b[2 * t + 1], b[32 + 2 * t], b[33 + 2 * t], b[2 * t]});
        case Format::C4: return nibble;
        case Format::C8: return b[t];
        case Format::C14X2: return word() & 0x3FFFu;
        case Format::CMPR: break;
    }
    return 0;
}

// Texel t written into a block, the bits beside it kept. RGBA8 blocks hold the 16
// (alpha, red) pairs, then the (green, blue) pairs.
void writeTexel(const Codec& c, std::uint32_t v, ColourValue key, std::uint8_t* b, std::uint32_t t) {
    const auto putWord = [&](std::uint32_t w) {
        b[2 * t] = static_cast<std::uint8_t>(w >> 8), b[2 * t + 1] = static_cast<std::uint8_t>(w);
    };
    const texel::Rgba p = unpacked(v);
    const std::uint32_t i = texel::intensity(p.r, p.g, p.b), shift = t % 2 ? 0 : 4;
    if (c.window)
        return putWord(c.format == Format::RGB565 ? window_rules::encodeRgb565(v) : window_rules::encodeRgb5a3(v, key));
    switch (c.format) {
        case Format::I4: v = texel::reduce<4>(i); [[fallthrough]];
        case Format::C4: b[t / 2] = static_cast<std::uint8_t>((b[t / 2] & (0xF0u >> shift)) | v << shift); break;
        case Format::I8: b[t] = static_cast<std::uint8_t>(i); break;
        case Format::IA4: b[t] = texel::encodeIa4(p); break;
        case Format::IA8: putWord(texel::encodeIa8(p)); break;
        case Format::RGB565: putWord(texel::encodeRgb565(p)); break;
        case Format::RGB5A3: putWord(texel::encodeRgb5a3(p)); break;
        case Format::RGBA8: b[2 * t] = p.a, b[2 * t + 1] = p.r, b[32 + 2 * t] = p.g, b[33 + 2 * t] = p.b; break;
        case Format::C8: b[t] = static_cast<std::uint8_t>(v); break;
        case Format::C14X2: putWord(v); break;
        case Format::CMPR: break;
    }
}

// A fast path one way: encoding reads the texels and writes the data, decoding
// does the reverse and gives its count of alpha texels.
using Path = std::function<std::size_t(std::uint8_t* data, std::uint32_t* texels)>;

// Both ways of one codec against the reference on a picture `w` × `h` held
// `stride` texels a row. Random texels, each channel now and then 0 or 255 where
// rounding and the RGB5A3 forms turn, a fifth the key and the first off it in a
// bit the reduction drops; partial blocks repeat the last column and row. The data to decode runs through
// the words from a random one: 65536 of them hold every word and every byte. A
// guard byte follows the data, and a guard texel each row (where stride > w) and
// the last.
void check(const Codec& c, std::uint32_t w, std::uint32_t h, std::size_t stride, const Path& encode,
           const Path& decode, const std::uint32_t* table, ColourValue key, std::mt19937& rng) {
    const FormatInfo info = formatInfo(c.format);
    const std::uint32_t across = (w + info.blockWidth - 1) / info.blockWidth;
    const std::uint32_t down = (h + info.blockHeight - 1) / info.blockHeight;
    const auto block = [&](std::uint8_t* data, std::uint32_t x, std::uint32_t y) {
        return data + (std::size_t{y / info.blockHeight} * across + x / info.blockWidth) * info.blockBytes;
    };
    const auto index = [&](std::uint32_t x, std::uint32_t y) {
        return y % info.blockHeight * info.blockWidth + x % info.blockWidth;
    };
    std::vector<std::uint8_t> got(levelBytes(c.format, w, h) + 1, 0xA5), want = got;
    std::vector<std::uint32_t> texels(stride * h + 1);
    if (encode) {
        for (std::uint32_t& t : texels) {
            for (int channel = 0; channel < 4; ++channel) {
                const std::uint32_t v = rng();
                t = t << 8 | (v % 8 == 0 ? 255 : v % 8 == 1 ? 0 : v >> 24);
            }
            t = rng() % 5 == 0 ? key : c.window ? t & 0xFFFFFF : t;
            if (info.maxPaletteEntries) t %= info.maxPaletteEntries;
        }
        if (!info.maxPaletteEntries) texels[0] = key ^ 1;
        encode(got.data(), texels.data());
        for (std::uint32_t y = 0; y < down * info.blockHeight; ++y)
            for (std::uint32_t x = 0; x < across * info.blockWidth; ++x)
                writeTexel(c, texels[std::min(y, h - 1) * stride + std::min(x, w - 1)], key, block(want.data(), x, y),
                           index(x, y));
        EXPECT_EQ(got, want) << "encoding";
    }
    const std::uint32_t start = rng();
    std::size_t wantAlphaTexels = 0;
    for (std::size_t i = 0; i + 1 < got.size(); i += 2) {
        const auto word = static_cast<std::uint16_t>((start + i / 2) * 40503);  // odd: 65536 in a row differ
        got[i] = static_cast<std::uint8_t>(word >> 8), got[i + 1] = static_cast<std::uint8_t>(word);
        wantAlphaTexels += c.window && c.format == Format::RGB5A3 && window_rules::isAlphaTexel(word);
    }
    std::vector<std::uint32_t> decoded(texels.size(), 0xDEADBEEF), wanted = decoded;
    EXPECT_EQ(decode(got.data(), decoded.data()), wantAlphaTexels);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t v = readTexel(c, block(got.data(), x, y), index(x, y));
            wanted[y * stride + x] = table ? table[v] : v;
        }
    EXPECT_EQ(decoded, wanted) << "decoding";
}

// The kernels, called alike.
struct Args {
    std::uint8_t* data;
    std::size_t blocks;
    std::uint32_t* const* rows;
    const std::uint32_t* table;
    ColourValue key;
};
std::size_t call(block_rows::Encode f, const Args& a) { return f(a.rows, a.blocks, a.data), 0; }
std::size_t call(block_rows::Decode f, const Args& a) { return f(a.data, a.blocks, a.rows), 0; }
std::size_t call(block_rows::LookUp f, const Args& a) { return f(a.data, a.blocks, a.table, a.rows), 0; }
template <auto Kernel>
std::size_t run(const Kernels& k, const Args& a) {
    return call(k.*Kernel, a);
}
using KernelRun = std::size_t (*)(const Kernels&, const Args&);

const struct {
    Codec codec;
    KernelRun encode, decode;
} kKernels[] = {
    {{Format::RGB565}, run<&Kernels::encodeRgb565>, run<&Kernels::decodeRgb565>},
    {{Format::RGB5A3}, run<&Kernels::encodeRgb5a3>, run<&Kernels::decodeRgb5a3>},
    {{Format::RGBA8}, run<&Kernels::encodeRgba8>, run<&Kernels::decodeRgba8>},
    {{Format::C4}, nullptr, run<&Kernels::lookUpC4>},
    {{Format::C8}, nullptr, run<&Kernels::lookUpC8>},
    {{Format::C14X2}, nullptr, run<&Kernels::lookUpC14x2>},
};

// One block row: every remainder after the last whole step, and 65536 words.
TEST(FastPaths, BlockRowKernelsAtEveryWidth) {
    const std::size_t blockCounts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 33, 4096};
    const ColourValue keys[] = {rgb(12, 200, 77), kWhite, kBlack};
    std::mt19937 rng(1);
    unsigned widest = 0;
    for (const unsigned width : {16u, 32u, 64u}) {
        if (!block_rows::runs(width)) continue;
        widest = width;
        for (const auto& k : kKernels)
            for (const std::size_t blocks : blockCounts) {
                SCOPED_TRACE(::testing::Message() << formatName(static_cast<std::uint32_t>(k.codec.format))
                                                  << (k.codec.window ? " window" : "") << " at " << width
                                                  << " bytes, " << blocks << " blocks");
                const FormatInfo info = formatInfo(k.codec.format);
                const auto w = static_cast<std::uint32_t>(info.blockWidth * blocks);
                const ColourValue key = keys[blocks % 3];
                std::vector<std::uint32_t> table(info.maxPaletteEntries);
                for (std::uint32_t& t : table) t = rng();
                const auto path = [&](KernelRun kernel) -> Path {
                    if (!kernel) return nullptr;
                    return [&, kernel](std::uint8_t* data, std::uint32_t* texels) {
                        std::vector<std::uint32_t*> rows;
                        for (std::uint32_t r = 0; r < info.blockHeight; ++r) rows.push_back(texels + r * (w + 1));
                        return kernel(block_rows::kernels(width), {data, blocks, rows.data(), table.data(), key});
                    };
                };
                check(k.codec, w, info.blockHeight, w + 1, path(k.encode), path(k.decode),
                      table.empty() ? nullptr : table.data(), key, rng);
            }
    }
    EXPECT_TRUE(block_rows::runs(16));
    EXPECT_EQ(&block_rows::kernels(), &block_rows::kernels(widest));
}

TEST(FastPaths, EveryFormatThroughTheCodec) {
    // Partial blocks either side, single texels, rows wider than a chunk (1024
    // texels) in every block shape, and 65536 texels.
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1},   {3, 5},    {8, 8},     {7, 9},    {13, 4},
                                                             {33, 17}, {64, 3},   {300, 11},  {1030, 9}, {256, 256}};
    std::mt19937 rng(2);
    for (const Format format : {Format::I4, Format::I8, Format::IA4, Format::IA8, Format::RGB565, Format::RGB5A3,
                                Format::RGBA8, Format::C4, Format::C8, Format::C14X2})
        for (const auto& [w, h] : sizes) {
            SCOPED_TRACE(::testing::Message() << formatName(static_cast<std::uint32_t>(format)) << " " << w << "x"
                                              << h);
            const std::uint32_t entries = formatInfo(format).maxPaletteEntries;
            const std::size_t bytes = levelBytes(format, w, h);
            // The file's palette is short: indices past it, C14X2's top bits among
            // them, read transparent black.
            std::vector<std::uint8_t> words(2 * entries);
            for (std::uint8_t& b : words) b = static_cast<std::uint8_t>(rng());
            const PaletteView palette{PaletteFormat::RGB5A3, entries - entries / 4, words};
            std::vector<std::uint32_t> table(entries, 0);
            for (std::uint32_t i = 0; i < palette.entryCount; ++i)
                table[i] =
                    packed(texel::decodeRgb5a3(static_cast<std::uint16_t>(words[2 * i] << 8 | words[2 * i + 1])));
            const Path encode = [&](std::uint8_t* data, std::uint32_t* texels) -> std::size_t {
                if (entries) {
                    const std::vector<std::uint16_t> indices(texels, texels + std::size_t{w} * h);
                    EXPECT_TRUE(packIndices(format, indices, w, h, {data, bytes}).ok());
                    return 0;
                }
                Image picture(w, h);
                std::memcpy(picture.rgba.data(), texels, picture.rgba.size());
                EncodeOptions options;
                options.format = format;
                EXPECT_TRUE(encodeTexels(picture, options, {data, bytes}).ok());
                return 0;
            };
            const Path decode = [&](std::uint8_t* data, std::uint32_t* texels) -> std::size_t {
                EXPECT_TRUE(decodeTexels(format, {data, bytes}, w, h, entries ? &palette : nullptr,
                                         {reinterpret_cast<std::uint8_t*>(texels), std::size_t{w} * h * 4})
                                .ok());
                return 0;
            };
            check({format}, w, h, w, encode, decode, entries ? table.data() : nullptr, rgb(12, 200, 77), rng);
        }
}

// The window's RGB565 and RGB5A3 through its own entry points: encoding takes
// sides that are multiples of 4, decoding any side, in whole tiles.
TEST(FastPaths, TheWindowsRules) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{4, 4}, {8, 12}, {36, 4}, {1028, 8}, {256, 256}};
    const std::pair<std::uint32_t, std::uint32_t> oddSizes[] = {{1, 1}, {3, 5}, {13, 7}, {33, 17}};
    const ColourValue keys[] = {rgb(12, 200, 77), kWhite, kBlack};
    std::mt19937 rng(3);
    for (const Format format : {Format::RGB565, Format::RGB5A3})
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& [w, h] : pass == 0 ? std::span<const std::pair<std::uint32_t, std::uint32_t>>(sizes) : std::span<const std::pair<std::uint32_t, std::uint32_t>>(oddSizes)) {
                SCOPED_TRACE(::testing::Message() << formatName(format) << " " << w << "x" << h);
                const ColourValue key = keys[(w + h) % 3];
                const std::size_t bytes = levelBytes(format, w, h);
                const auto asRaster = [&](const std::uint32_t* texels) {
                    WindowRaster raster(static_cast<int>(w), static_cast<int>(h));
                    std::copy(texels, texels + std::size_t{w} * h, raster.pixels.begin());
                    return raster;
                };
                const Path encode = [&](std::uint8_t* data, std::uint32_t* texels) -> std::size_t {
                    const WindowRaster raster = asRaster(texels);
                    EXPECT_TRUE(window_rules::encodeTexture({&raster, format == Format::RGB5A3, key}, {data, bytes}).ok());
                    return 0;
                };
                const Path decode = [&](std::uint8_t* data, std::uint32_t* texels) -> std::size_t {
                    TplImageHeader header;
                    header.width = static_cast<std::uint16_t>(w);
                    header.height = static_cast<std::uint16_t>(h);
                    header.format = static_cast<std::uint32_t>(format);
                    const auto decoded = window_rules::decodeTexture({data, bytes}, header);
                    EXPECT_TRUE(decoded.ok());
                    if (!decoded) return 0;
                    std::copy(decoded->raster.pixels.begin(), decoded->raster.pixels.end(), texels);
                    return decoded->alphaTexels;
                };
                check({format, true}, w, h, w, pass == 0 ? encode : nullptr, decode, nullptr, key, rng);
            }
}

// IA4's run rounds a float quotient where the reference divides integers.
TEST(FastPaths, Ia4RunOnEveryGreyAndAlpha) {
    std::vector<std::uint32_t> texels(65536);
    for (std::uint32_t k = 0; k < texels.size(); ++k) texels[k] = (k & 0xFF) * 0x010101u | (k >> 8) << 24;
    std::vector<std::uint8_t> got(texels.size());
    runs::encodeIa4(texels.data(), texels.size(), got.data());
    int wrong = 0;
    for (std::uint32_t k = 0; k < texels.size(); ++k) wrong += got[k] != texel::encodeIa4(k & 0xFF, k >> 8);
    EXPECT_EQ(wrong, 0);
}

TEST(FastPaths, OverSurfaceBlendsEveryAlphaAsBlendOver) {
    Image picture(256, 256);  // every alpha with every channel value
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        const std::size_t v = i / 4 % 256;
        const std::uint8_t rgba[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v),
                                      static_cast<std::uint8_t>(v * 7), static_cast<std::uint8_t>(i / 1024)};
        std::memcpy(&picture.rgba[i], rgba, 4);
    }
    const WindowRaster got = window_rules::overSurface(picture);
    int wrong = 0;
    for (std::size_t i = 0; i < got.pixels.size(); ++i) {
        const std::uint8_t* p = &picture.rgba[4 * i];
        wrong += got.pixels[i] != blendOver(p[0], p[1], p[2], p[3]);
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tplforge
