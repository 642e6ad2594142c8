// Moves texels between a picture's rows and the block order of texel data, a
// chunk of blocks at a time, so that the conversion of texel_runs.h runs over a
// short contiguous array that stays in the first-level cache. The copies are of
// whole block rows, 16 or 32 bytes at a time, fixed at compile time. At the end,
// fromBlockRows and toBlockRows hand the rows themselves to the kernels of
// block_rows.h, which need no copy, and deal with the picture's edges for them.
//
// Blocks run left to right, then top to bottom; inside a block texels run left
// to right, then top to bottom.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tplforge::blocks {

// Texels held between the two steps: 1024 of them, 4 KiB of RGBA words.
inline constexpr std::size_t kChunkTexels = 1024;

// Texels of the picture (rows `stride` bytes apart, each texel sizeof(T) bytes)
// gathered block by block, then handed to convert(texels, count, out) with the
// texel data of those blocks at `out`. Texels of partial blocks beyond the
// picture repeat its last column and row.
template <std::uint32_t BW, std::uint32_t BH, class T, class Convert>
void fromRows(const std::uint8_t* rows, std::size_t stride, std::uint32_t width, std::uint32_t height,
              std::size_t blockBytes, std::uint8_t* out, Convert convert) {
    constexpr std::uint32_t kBlockTexels = BW * BH;
    constexpr std::uint32_t kChunkBlocks = kChunkTexels / kBlockTexels;
    alignas(64) T chunk[kChunkTexels];
    const std::uint32_t blocksAcross = (width + BW - 1) / BW;
    for (std::uint32_t by = 0; by < height; by += BH) {
        const std::uint8_t* row[BH];
        for (std::uint32_t r = 0; r < BH; ++r) row[r] = rows + std::min(by + r, height - 1) * stride;
        for (std::uint32_t first = 0; first < blocksAcross; first += kChunkBlocks) {
            const std::uint32_t count = std::min(kChunkBlocks, blocksAcross - first);
            for (std::uint32_t b = 0; b < count; ++b) {
                const std::uint32_t x = (first + b) * BW;
                T* block = chunk + b * kBlockTexels;
                if (x + BW <= width) {
                    for (std::uint32_t r = 0; r < BH; ++r) std::memcpy(block + r * BW, row[r] + x * sizeof(T), BW * sizeof(T));
                    continue;
                }
                const std::uint32_t cols = width - x;
                for (std::uint32_t r = 0; r < BH; ++r)
                    for (std::uint32_t c = 0; c < BW; ++c)
                        std::memcpy(block + r * BW + c, row[r] + (x + std::min(c, cols - 1)) * sizeof(T), sizeof(T));
            }
            convert(chunk, std::size_t{count} * kBlockTexels, out);
            out += std::size_t{count} * blockBytes;
        }
    }
}

// The way back: convert(data, count, texels) turns the texel data of `count`
// texels (whole blocks) into texels, which are then placed in the picture's rows;
// texels of partial blocks beyond the picture are dropped.
template <std::uint32_t BW, std::uint32_t BH, class T, class Convert>
void toRows(const std::uint8_t* data, std::size_t blockBytes, std::uint32_t width, std::uint32_t height,
            std::uint8_t* rows, std::size_t stride, Convert convert) {
    constexpr std::uint32_t kBlockTexels = BW * BH;
    constexpr std::uint32_t kChunkBlocks = kChunkTexels / kBlockTexels;
    alignas(64) T chunk[kChunkTexels];
    const std::uint32_t blocksAcross = (width + BW - 1) / BW;
    for (std::uint32_t by = 0; by < height; by += BH) {
        const std::uint32_t rowCount = std::min(BH, height - by);
        std::uint8_t* row = rows + by * stride;
        for (std::uint32_t first = 0; first < blocksAcross; first += kChunkBlocks) {
            const std::uint32_t count = std::min(kChunkBlocks, blocksAcross - first);
            convert(data, std::size_t{count} * kBlockTexels, chunk);
            data += std::size_t{count} * blockBytes;
            for (std::uint32_t b = 0; b < count; ++b) {
                const std::uint32_t x = (first + b) * BW;
                const T* block = chunk + b * kBlockTexels;
                if (x + BW <= width && rowCount == BH) {
                    for (std::uint32_t r = 0; r < BH; ++r)
                        std::memcpy(row + r * stride + x * sizeof(T), block + r * BW, BW * sizeof(T));
                    continue;
                }
                const std::uint32_t cols = std::min(BW, width - x);
                for (std::uint32_t r = 0; r < rowCount; ++r)
                    std::memcpy(row + r * stride + x * sizeof(T), block + r * BW, cols * sizeof(T));
            }
        }
    }
}

// For the kernels of block_rows.h, which convert a whole row of 4 × 4 blocks of
// 32-bit texels at once: run(rows, blocks, data) with rows[0..3] the four rows
// the blocks cover. Rows past the bottom repeat the last one; a partial block on
// the right goes on its own, from a copy that repeats the last column.
template <class Run>
void fromBlockRows(const std::uint8_t* rows, std::size_t stride, std::uint32_t width, std::uint32_t height,
                   std::size_t blockBytes, std::uint8_t* out, Run run) {
    const std::uint32_t whole = width / 4;
    for (std::uint32_t by = 0; by < height; by += 4) {
        const std::uint32_t* row[4];
        for (std::uint32_t r = 0; r < 4; ++r)
            row[r] = reinterpret_cast<const std::uint32_t*>(rows + std::min(by + r, height - 1) * stride);
        run(row, whole, out);
        out += whole * blockBytes;
        if (whole * 4 == width) continue;
        std::uint32_t edge[4][4];
        for (std::uint32_t r = 0; r < 4; ++r)
            for (std::uint32_t c = 0; c < 4; ++c)
                std::memcpy(&edge[r][c], row[r] + std::min(whole * 4 + c, width - 1), 4);
        const std::uint32_t* edgeRow[4] = {edge[0], edge[1], edge[2], edge[3]};
        run(edgeRow, 1, out);
        out += blockBytes;
    }
}

// The way back: run(data, blocks, rows) writes whole BW × BH blocks of 32-bit
// texels into rows[0..BH-1]. Block rows that reach past the bottom, and a
// partial block on the right, are decoded aside and only the texels inside the
// picture copied.
template <std::uint32_t BW, std::uint32_t BH, class Run>
void toBlockRows(const std::uint8_t* data, std::size_t blockBytes, std::uint32_t width, std::uint32_t height,
                 std::uint8_t* rows, std::size_t stride, Run run) {
    const std::uint32_t whole = width / BW, across = (width + BW - 1) / BW;
    std::vector<std::uint32_t> aside;
    for (std::uint32_t by = 0; by < height; by += BH, data += across * blockBytes) {
        const std::uint32_t rowCount = std::min(BH, height - by);
        std::uint8_t* first = rows + by * stride;
        std::uint32_t* row[BH];
        if (rowCount < BH) {
            aside.resize(std::size_t{across} * BW * BH);
            for (std::uint32_t r = 0; r < BH; ++r) row[r] = aside.data() + std::size_t{r} * across * BW;
            run(data, across, row);
            for (std::uint32_t r = 0; r < rowCount; ++r) std::memcpy(first + r * stride, row[r], width * 4);
            continue;
        }
        for (std::uint32_t r = 0; r < BH; ++r) row[r] = reinterpret_cast<std::uint32_t*>(first + r * stride);
        run(data, whole, row);
        if (whole == across) continue;
        std::uint32_t edge[BH][BW];
        std::uint32_t* edgeRow[BH];
        for (std::uint32_t r = 0; r < BH; ++r) edgeRow[r] = edge[r];
        run(data + whole * blockBytes, 1, edgeRow);
        for (std::uint32_t r = 0; r < BH; ++r) std::memcpy(row[r] + whole * BW, edge[r], (width - whole * BW) * 4);
    }
}

}  // namespace tplforge::blocks
