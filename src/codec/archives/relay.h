// Laying out an archive's data again when members change size: what U8 and RARC
// rebuilds share.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "tplforge/archive.h"

namespace tplforge::relay {

struct Piece {
    std::uint64_t offset = 0;  // where it was, from the region's base
    std::uint64_t size = 0;
    std::span<const std::uint8_t> bytes;  // what it holds now
    std::uint64_t newOffset = 0;           // set by layOut
};

// Lays out the pieces from `start` (a base-relative offset at or before the
// first piece) in the order they were stored: each keeps the alignment all of
// them had (up to 32) and any gap it had beyond that; gaps of unchanged length
// keep their bytes, others are zero. Bytes after the last piece keep their
// length, or are redone as padding to the alignment the old end had. Pieces
// that overlap are laid out one after another in their given order instead,
// each at the next multiple of 32, and so are all when `afresh`. `old` holds the region as it was, from the
// base. Returns the region from `start`; the pieces get their new offsets.
// Nothing when copies of shared members would grow the region many times over.
std::optional<std::vector<std::uint8_t>> layOut(std::span<const std::uint8_t> old, std::uint64_t start,
                                                std::vector<Piece>& pieces, bool afresh = false);

// The replacements by member index, less those that give a member what it
// holds already (they change nothing, so the archive can stay as it is) and
// those for no member.
std::map<std::uint32_t, std::span<const std::uint8_t>> realChanges(std::span<const std::uint8_t> archive,
                                                                   std::span<const ArchiveEntry> files,
                                                                   std::span<const MemberBytes> replaced);

constexpr std::uint64_t alignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

}  // namespace tplforge::relay
