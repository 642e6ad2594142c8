// The match finding and parsing that Yaz0 and LZ77 share: both copy 3 or more
// bytes from 1 … 4096 bytes back, and differ only in the longest copy and in how
// items are coded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tplforge/compression.h"

namespace tplforge::lz {

inline constexpr std::uint32_t kMinMatch = 3;
inline constexpr std::uint32_t kWindow = 4096;

struct Limits {
    std::uint32_t maxLength = 273;
    std::uint32_t minDistance = 1;
};

struct Match {
    std::uint32_t length = 0;  // 0: none of kMinMatch or more
    std::uint32_t distance = 0;
};

// Hash chains over every position, kept for one window. Ask for positions in
// increasing order (each at most once more than the one before).
class MatchFinder {
public:
    MatchFinder(std::span<const std::uint8_t> data, Limits limits);

    // The longest match at `pos` of at most `limit` bytes (and never past the
    // data); among equally long ones the nearest.
    Match nearest(std::size_t pos, std::uint32_t limit);
    // The same, but among equally long ones the one furthest back.
    Match furthest(std::size_t pos, std::uint32_t limit);

private:
    void insertUpTo(std::size_t pos);
    std::uint32_t hashAt(std::size_t pos) const;
    std::uint32_t matchLength(std::size_t from, std::size_t at, std::uint32_t limit) const;

    std::span<const std::uint8_t> data_;
    Limits limits_;
    unsigned hashBits_;
    std::size_t inserted_ = 0;
    std::vector<std::int32_t> head_;
    std::vector<std::int32_t> previous_;  // a ring over the last two windows
    std::vector<std::int32_t> candidates_;
};

// An item of a parse: a literal when length is 0.
struct Item {
    std::uint32_t length = 0;
    std::uint32_t distance = 0;
};

// Bits an item costs, flag bit included.
struct Costs {
    std::uint32_t literal = 9;
    std::uint32_t shortMax = 17;  // longest reference of the short form
    std::uint32_t shortCost = 17;
    std::uint32_t longCost = 25;  // references longer than shortMax
};

// The parse of fewest bits, worked out a megabyte at a time (a reference does not
// cross from one into the next; the finder still looks back across). `emit` gets
// every item in order.
template <class Emit>
void optimalParse(std::span<const std::uint8_t> data, Limits limits, Costs costs, Emit&& emit);

// Implementation of optimalParse over one chunk; `items` gets the chunk's items.
void optimalChunk(MatchFinder& finder, std::size_t begin, std::size_t end, Limits limits, Costs costs,
                  std::vector<Item>& items);

template <class Emit>
void optimalParse(std::span<const std::uint8_t> data, Limits limits, Costs costs, Emit&& emit) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    MatchFinder finder(data, limits);
    std::vector<Item> items;
    for (std::size_t begin = 0; begin < data.size(); begin += kChunk) {
        const std::size_t end = begin + kChunk < data.size() ? begin + kChunk : data.size();
        items.clear();
        optimalChunk(finder, begin, end, limits, costs, items);
        for (const Item& item : items) emit(item);
    }
}

}  // namespace tplforge::lz

namespace tplforge::lz {

// Copies `length` bytes from `distance` back in `out` (distance ≤ at, at + length
// ≤ out.size()), as the decoders of both formats copy: byte by byte in effect, so
// that an overlap repeats what was just written.
void copyBack(std::span<std::uint8_t> out, std::size_t at, std::size_t distance, std::size_t length);
// The same when at + length + 8 ≤ out.size(): whole words, the last one running
// into bytes written next.
void copyWithRoom(std::span<std::uint8_t> out, std::size_t at, std::size_t distance, std::size_t length);

// Decodes a Yaz0 file into `out` (its announced size) and tells how many bytes of
// the file the stream took, header included: what follows is padding.
Expected<std::size_t, CompressionError> yaz0DecodeInto(std::span<const std::uint8_t> file, std::span<std::uint8_t> out);

}  // namespace tplforge::lz
