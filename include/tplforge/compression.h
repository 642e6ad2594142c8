// Yaz0 (the Wii's and GameCube's archive compression) and LZ77 type 0x10 (the
// banner parts), both ways.
//
// Reading: the whole stream is checked against the size its header announces: a
// stream that would write past it, reach back before the start or end early is
// refused, and nothing beyond the announced size is allocated (which is itself
// bounded by what the stream's length could possibly expand to).
#pragma once

#include <string>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tplforge/export.h"
#include "tplforge/expected.h"

namespace tplforge {

// The largest decompressed size accepted, whatever a header announces.
inline constexpr std::uint64_t kMaxDecompressedSize = std::uint64_t{256} << 20;
inline constexpr std::size_t kYaz0HeaderSize = 16;

enum class CompressionError {
    TooShort,             // shorter than the header
    BadMagic,             // not the stream kind asked for
    TooLarge,             // announces more than the ceiling, or than its bytes could expand to
    EndsEarly,            // the stream ends before the announced size is reached
    DistanceBeforeStart,  // a back-reference reaches before the first byte
    PastAnnouncedSize,    // a back-reference runs past the announced size
};
[[nodiscard]] TPLFORGE_API std::string describe(CompressionError error);

// --- Yaz0 ------------------------------------------------------------------------

// How the compressor chooses its references. Nintendo is the default: a game
// archive rebuilt keeps its stream (and a changed one differs from it little,
// so patches of it stay small), at several times the speed of Smallest, which
// saves well under 1 % (bench/containers_bench.cpp).
enum class Yaz0Mode {
    // The rule Nintendo's own files were compressed by, reproduced byte for byte:
    // a game archive rebuilt unchanged gives back its original stream.
    Nintendo,
    // The fewest bits (optimal parse): about 1 % smaller, slower.
    Smallest,
};

// The announced size of a Yaz0 file; fails as yaz0Decompress would on the header.
[[nodiscard]] TPLFORGE_API Expected<std::uint32_t, CompressionError> yaz0Size(std::span<const std::uint8_t> file);
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, CompressionError> yaz0Decompress(std::span<const std::uint8_t> file);
// Into a buffer of exactly yaz0Size bytes.
[[nodiscard]] TPLFORGE_API Expected<void, CompressionError> yaz0DecompressInto(std::span<const std::uint8_t> file, std::span<std::uint8_t> out);

struct Yaz0Options {
    Yaz0Mode mode = Yaz0Mode::Nintendo;
    // Header bytes 8..15: zero in every GameCube and Wii file.
    std::uint8_t reserved[8] = {};
    // Zeros after the stream up to a multiple of this (1: none; Super Mario
    // Galaxy pads to 32).
    std::uint32_t padTo = 1;
};
// Fails (TooLarge) for more than kMaxDecompressedSize bytes, which no reader here
// would take back.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, CompressionError> yaz0Compress(std::span<const std::uint8_t> data,
                                                                   const Yaz0Options& options = {});

// --- LZ77 type 0x10 ---------------------------------------------------------------

// A stream starting with byte 0x10 and a 24-bit little-endian size (no "LZ77"
// magic: that belongs to the banner part around it).
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, CompressionError> lz77Decompress(std::span<const std::uint8_t> stream);
// Optimal parse. Never refers one byte back: the banner streams Nintendo made hold
// no such reference, so some reader of theirs may not expect one.
// Fails (TooLarge) beyond the 24-bit size field.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, CompressionError> lz77Compress(std::span<const std::uint8_t> data);
inline constexpr std::size_t kLz77MaxSize = 0xFFFFFF;

}  // namespace tplforge
