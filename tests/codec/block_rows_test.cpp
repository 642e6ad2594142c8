// The block-row kernels at every vector width this processor runs (the codec
// itself uses only the widest), against the per-texel functions of texel.h and
// window_texel.h placed by the block layout: block counts that leave every
// remainder after the last whole step, and texels beside the rows that must stay
// untouched.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/block_rows.h"
#include "codec/texel.h"
#include "codec/window_texel.h"

namespace tplforge {
namespace {

using block_rows::Kernels;

const unsigned kWidths[] = {16, 32, 64};
const std::size_t kBlockCounts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 33};
constexpr std::uint32_t kGuard = 0xDEADBEEF;

std::uint32_t packed(texel::Rgba c) {
    return std::uint32_t{c.r} | std::uint32_t{c.g} << 8 | std::uint32_t{c.b} << 16 | std::uint32_t{c.a} << 24;
}
texel::Rgba unpacked(std::uint32_t p) {
    return {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p >> 16),
            static_cast<std::uint8_t>(p >> 24)};
}

// The rows of `blocks` blocks, each followed by a guard texel.
struct Rows {
    std::size_t stride;
    std::vector<std::uint32_t> texels;
    explicit Rows(std::size_t blocks, std::size_t blockWidth = 4, std::size_t blockHeight = 4)
        : stride(blockWidth * blocks + 1), texels(blockHeight * stride, kGuard) {}
    std::uint32_t& at(std::size_t r, std::size_t x) { return texels[r * stride + x]; }
    std::uint32_t* row(std::size_t r) { return texels.data() + r * stride; }
};

// Texel t of block b lies in row t / 4, column 4b + t % 4.
std::uint32_t& texelOf(Rows& rows, std::size_t b, int t) { return rows.at(t / 4, 4 * b + t % 4); }

// Random texels, each channel now and then 0 or 255, where rounding and the
// RGB5A3 forms turn; a fifth of them the key.
Rows randomRows(std::size_t blocks, std::uint32_t key, unsigned seed) {
    Rows rows(blocks);
    std::mt19937 rng(seed);
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t x = 0; x < 4 * blocks; ++x) {
            std::uint32_t p = 0;
            for (int c = 0; c < 4; ++c) {
                const std::uint32_t v = rng();
                p |= (v % 8 == 0 ? 255 : v % 8 == 1 ? 0 : (v >> 8) & 0xFF) << (8 * c);
            }
            rows.at(r, x) = rng() % 5 == 0 ? key : p;
        }
    return rows;
}

struct WordKernel {
    const char* name;
    block_rows::Encode Kernels::*encode;
    block_rows::Decode Kernels::*decode;
    std::uint16_t (*word)(std::uint32_t texel);
    std::uint32_t (*texel)(std::uint16_t word);
    std::uint32_t texelMask;  // what of a texel the format keeps
};

const WordKernel kWordKernels[] = {
    {"RGB565", &Kernels::encodeRgb565, &Kernels::decodeRgb565,
     [](std::uint32_t p) { return texel::encodeRgb565(unpacked(p)); },
     [](std::uint16_t w) { return packed(texel::decodeRgb565(w)); }, 0xFFFFFFFF},
    {"RGB5A3", &Kernels::encodeRgb5a3, &Kernels::decodeRgb5a3,
     [](std::uint32_t p) { return texel::encodeRgb5a3(unpacked(p)); },
     [](std::uint16_t w) { return packed(texel::decodeRgb5a3(w)); }, 0xFFFFFFFF},
    {"window RGB565", &Kernels::encodeWindowRgb565, &Kernels::decodeWindowRgb565,
     [](std::uint32_t c) { return window_rules::encodeRgb565(c); },
     [](std::uint16_t w) { return window_rules::decodeRgb565(w); }, 0xFFFFFF},
};

std::string nameOf(const char* kernel, unsigned width, std::size_t blocks) {
    return std::string(kernel) + " at " + std::to_string(width) + " bytes, " + std::to_string(blocks) + " blocks";
}

std::uint16_t wordAt(const std::vector<std::uint8_t>& data, std::size_t i) {
    return static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
}

TEST(BlockRows, WordFormatsEncodeAsThePerTexelFunctions) {
    const std::uint32_t key = rgb(12, 200, 77);
    unsigned seed = 1;
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        const Kernels& kernels = block_rows::kernels(width);
        for (const WordKernel& k : kWordKernels)
            for (const std::size_t blocks : kBlockCounts) {
                SCOPED_TRACE(nameOf(k.name, width, blocks));
                Rows rows = randomRows(blocks, key, ++seed);
                for (std::uint32_t& t : rows.texels) t &= k.texelMask;
                const std::uint32_t* row[4] = {rows.row(0), rows.row(1), rows.row(2), rows.row(3)};
                // One byte past the blocks must stay as it was.
                std::vector<std::uint8_t> got(32 * blocks + 1, 0xA5), want(got.size(), 0xA5);
                (kernels.*k.encode)(row, blocks, got.data());
                for (std::size_t b = 0; b < blocks; ++b)
                    for (int t = 0; t < 16; ++t) {
                        const std::uint16_t w = k.word(texelOf(rows, b, t));
                        want[32 * b + 2 * t] = static_cast<std::uint8_t>(w >> 8);
                        want[32 * b + 2 * t + 1] = static_cast<std::uint8_t>(w);
                    }
                EXPECT_EQ(got, want);
            }
    }
}

// The window's RGB5A3 keys on the whole colour value, the alpha colour.
TEST(BlockRows, WindowRgb5a3EncodesAsItsPerTexelFunction) {
    unsigned seed = 50;
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        const Kernels& kernels = block_rows::kernels(width);
        for (const std::uint32_t key : {rgb(12, 200, 77), kWhite, kBlack})
            for (const std::size_t blocks : kBlockCounts) {
                SCOPED_TRACE(nameOf("window RGB5A3", width, blocks) + " key " + std::to_string(key));
                Rows rows = randomRows(blocks, key, ++seed);
                for (std::uint32_t& t : rows.texels) t &= 0xFFFFFF;
                // Colours one step off the key in a bit the reduction drops stay opaque.
                rows.at(0, 0) = key ^ 1;
                const std::uint32_t* row[4] = {rows.row(0), rows.row(1), rows.row(2), rows.row(3)};
                std::vector<std::uint8_t> got(32 * blocks + 1, 0xA5), want(got.size(), 0xA5);
                kernels.encodeWindowRgb5a3(row, blocks, key, got.data());
                for (std::size_t b = 0; b < blocks; ++b)
                    for (int t = 0; t < 16; ++t) {
                        const std::uint16_t w = window_rules::encodeRgb5a3(texelOf(rows, b, t), key);
                        want[32 * b + 2 * t] = static_cast<std::uint8_t>(w >> 8);
                        want[32 * b + 2 * t + 1] = static_cast<std::uint8_t>(w);
                    }
                EXPECT_EQ(got, want);
            }
    }
}

// Every 16-bit word, then random words in every block count.
std::vector<std::vector<std::uint8_t>> wordData() {
    std::vector<std::vector<std::uint8_t>> all;
    std::vector<std::uint8_t> every(2 * 65536);
    for (std::size_t i = 0; i < 65536; ++i) {
        const auto w = static_cast<std::uint16_t>(i * 40503);  // odd: every word once, neighbours unalike
        every[2 * i] = static_cast<std::uint8_t>(w >> 8);
        every[2 * i + 1] = static_cast<std::uint8_t>(w);
    }
    all.push_back(every);
    std::mt19937 rng(7);
    for (const std::size_t blocks : kBlockCounts) {
        std::vector<std::uint8_t> data(32 * blocks);
        for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(rng());
        all.push_back(data);
    }
    return all;
}

TEST(BlockRows, WordFormatsDecodeAsThePerTexelFunctions) {
    const auto data = wordData();
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        const Kernels& kernels = block_rows::kernels(width);
        for (const WordKernel& k : kWordKernels)
            for (const std::vector<std::uint8_t>& in : data) {
                const std::size_t blocks = in.size() / 32;
                SCOPED_TRACE(nameOf(k.name, width, blocks));
                Rows got(blocks), want(blocks);
                std::uint32_t* row[4] = {got.row(0), got.row(1), got.row(2), got.row(3)};
                (kernels.*k.decode)(in.data(), blocks, row);
                for (std::size_t b = 0; b < blocks; ++b)
                    for (int t = 0; t < 16; ++t) texelOf(want, b, t) = k.texel(wordAt(in, 16 * b + t));
                EXPECT_EQ(got.texels, want.texels);
            }
    }
}

TEST(BlockRows, WindowRgb5a3DecodesAndCountsAlphaTexels) {
    const auto data = wordData();
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        for (const std::vector<std::uint8_t>& in : data) {
            const std::size_t blocks = in.size() / 32;
            SCOPED_TRACE(nameOf("window RGB5A3", width, blocks));
            Rows got(blocks), want(blocks);
            std::uint32_t* row[4] = {got.row(0), got.row(1), got.row(2), got.row(3)};
            const std::size_t count = block_rows::kernels(width).decodeWindowRgb5a3(in.data(), blocks, row);
            std::size_t wantCount = 0;
            for (std::size_t b = 0; b < blocks; ++b)
                for (int t = 0; t < 16; ++t) {
                    const std::uint16_t w = wordAt(in, 16 * b + t);
                    texelOf(want, b, t) = window_rules::decodeRgb5a3(w);
                    wantCount += window_rules::isAlphaTexel(w);
                }
            EXPECT_EQ(got.texels, want.texels);
            EXPECT_EQ(count, wantCount);
        }
    }
}

// RGBA8: (alpha, red) pairs of the 16 texels, then (green, blue) pairs.
TEST(BlockRows, Rgba8MovesEveryByteToItsPlace) {
    unsigned seed = 300;
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        const Kernels& kernels = block_rows::kernels(width);
        for (const std::size_t blocks : kBlockCounts) {
            SCOPED_TRACE(nameOf("RGBA8", width, blocks));
            Rows rows = randomRows(blocks, 0, ++seed);
            const std::uint32_t* row[4] = {rows.row(0), rows.row(1), rows.row(2), rows.row(3)};
            std::vector<std::uint8_t> got(64 * blocks + 1, 0xA5), want(got.size(), 0xA5);
            kernels.encodeRgba8(row, blocks, got.data());
            for (std::size_t b = 0; b < blocks; ++b)
                for (int t = 0; t < 16; ++t) {
                    const texel::Rgba c = unpacked(texelOf(rows, b, t));
                    std::uint8_t* block = &want[64 * b];
                    block[2 * t] = c.a, block[2 * t + 1] = c.r, block[32 + 2 * t] = c.g, block[33 + 2 * t] = c.b;
                }
            EXPECT_EQ(got, want);

            Rows back(blocks);
            std::uint32_t* backRow[4] = {back.row(0), back.row(1), back.row(2), back.row(3)};
            kernels.decodeRgba8(want.data(), blocks, backRow);
            EXPECT_EQ(back.texels, rows.texels);
        }
    }
}

// Random indices, C14X2's two stray top bits among them, into a table of as many
// random colours as the format can index.
struct PaletteKernel {
    const char* name;
    block_rows::LookUp Kernels::*lookUp;
    std::size_t blockWidth, blockHeight, entries;
    std::uint32_t (*index)(const std::uint8_t* block, std::size_t t);
};

const PaletteKernel kPaletteKernels[] = {
    {"C4", &Kernels::lookUpC4, 8, 8, 16,
     [](const std::uint8_t* block, std::size_t t) { return t % 2 == 0 ? block[t / 2] >> 4 : block[t / 2] & 15u; }},
    {"C8", &Kernels::lookUpC8, 8, 4, 256,
     [](const std::uint8_t* block, std::size_t t) { return std::uint32_t{block[t]}; }},
    {"C14X2", &Kernels::lookUpC14x2, 4, 4, 16384,
     [](const std::uint8_t* block, std::size_t t) { return (block[2 * t] << 8 | block[2 * t + 1]) & 0x3FFFu; }},
};

TEST(BlockRows, PaletteTexelsAreLookedUpByTheBlockLayout) {
    std::mt19937 rng(400);
    for (const unsigned width : kWidths) {
        if (!block_rows::runs(width)) continue;
        for (const PaletteKernel& k : kPaletteKernels)
            for (const std::size_t blocks : kBlockCounts) {
                SCOPED_TRACE(nameOf(k.name, width, blocks));
                std::vector<std::uint32_t> table(k.entries);
                for (std::uint32_t& c : table) c = rng();
                std::vector<std::uint8_t> data(32 * blocks);
                for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(rng());
                Rows got(blocks, k.blockWidth, k.blockHeight), want(blocks, k.blockWidth, k.blockHeight);
                std::vector<std::uint32_t*> row;
                for (std::size_t r = 0; r < k.blockHeight; ++r) row.push_back(got.row(r));
                (block_rows::kernels(width).*k.lookUp)(data.data(), blocks, table.data(), row.data());
                for (std::size_t b = 0; b < blocks; ++b)
                    for (std::size_t t = 0; t < k.blockWidth * k.blockHeight; ++t)
                        want.at(t / k.blockWidth, k.blockWidth * b + t % k.blockWidth) =
                            table[k.index(&data[32 * b], t)];
                EXPECT_EQ(got.texels, want.texels);
            }
    }
}

TEST(BlockRows, TheWidestIsTheOneTheCodecUses) {
    unsigned widest = 16;
    for (const unsigned width : kWidths)
        if (block_rows::runs(width)) widest = width;
    EXPECT_EQ(&block_rows::kernels(), &block_rows::kernels(widest));
    EXPECT_TRUE(block_rows::runs(16));
}

}  // namespace
}  // namespace tplforge
