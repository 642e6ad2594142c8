#include "codec/archives/relay.h"

#include <algorithm>
#include <numeric>

namespace tplforge::relay {

namespace {

std::uint64_t alignmentOf(std::uint64_t v) {
    std::uint64_t a = 32;
    while (a > 1 && v % a != 0) a /= 2;
    return a;
}

void copyOrZero(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> old, std::uint64_t oldAt,
                std::uint64_t oldLength, std::uint64_t newLength) {
    if (newLength == oldLength && oldAt + oldLength <= old.size()) {
        const auto from = old.subspan(static_cast<std::size_t>(oldAt), static_cast<std::size_t>(oldLength));
        out.insert(out.end(), from.begin(), from.end());
    } else {
        out.insert(out.end(), static_cast<std::size_t>(newLength), 0);
    }
}

}  // namespace

std::map<std::uint32_t, std::span<const std::uint8_t>> realChanges(std::span<const std::uint8_t> archive,
                                                                   std::span<const ArchiveEntry> files,
                                                                   std::span<const MemberBytes> replaced) {
    std::map<std::uint32_t, std::span<const std::uint8_t>> changes;
    for (const MemberBytes& m : replaced) changes[m.index] = m.bytes;
    std::erase_if(changes, [&](const auto& change) {
        for (const ArchiveEntry& f : files)
            if (f.index == change.first) {
                const auto now = archive.subspan(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.size));
                return std::equal(now.begin(), now.end(), change.second.begin(), change.second.end());
            }
        return true;
    });
    return changes;
}

std::optional<std::vector<std::uint8_t>> layOut(std::span<const std::uint8_t> old, std::uint64_t start,
                                                std::vector<Piece>& pieces, bool afresh) {
    std::vector<std::size_t> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return pieces[a].offset < pieces[b].offset;
    });
    // Members that were and stay empty hold no bytes to keep apart; they move
    // with what is before them.
    const auto occupies = [](const Piece& p) { return p.size > 0 || !p.bytes.empty(); };
    bool overlap = afresh;
    std::uint64_t end = start;
    for (std::size_t k : order) {
        if (!occupies(pieces[k])) continue;
        if (pieces[k].offset < end) overlap = true;
        end = std::max(end, pieces[k].offset + pieces[k].size);
    }

    std::vector<std::uint8_t> out;
    if (overlap) {
        // Members sharing bytes each get a copy of their own, within reason.
        std::uint64_t total = 0;
        for (const Piece& p : pieces) total += alignUp(p.bytes.size(), 32);
        if (total > 4 * std::uint64_t{old.size()} + (std::uint64_t{1} << 24)) return std::nullopt;
        std::uint64_t at = alignUp(start, 32);
        out.resize(static_cast<std::size_t>(at - start), 0);
        for (Piece& p : pieces) {
            p.newOffset = at;
            out.insert(out.end(), p.bytes.begin(), p.bytes.end());
            at += p.bytes.size();
            const std::uint64_t next = alignUp(at, 32);
            out.resize(static_cast<std::size_t>(next - start), 0);
            at = next;
        }
        return out;
    }

    std::uint64_t alignment = 32;
    for (const Piece& p : pieces)
        if (occupies(p)) alignment = std::min(alignment, alignmentOf(p.offset));
    std::uint64_t oldEnd = start;
    std::uint64_t newEnd = start;
    for (std::size_t k : order) {
        Piece& p = pieces[k];
        if (!occupies(p)) {
            // After the last member it keeps its distance; inside one it stays in bounds.
            p.newOffset = p.offset >= oldEnd ? p.offset - oldEnd + newEnd : std::min(p.offset, newEnd);
            continue;
        }
        const std::uint64_t oldGap = p.offset - oldEnd;
        const std::uint64_t beyond = oldGap - std::min(oldGap, alignUp(oldEnd, alignment) - oldEnd);
        p.newOffset = alignUp(newEnd, alignment) + beyond;
        copyOrZero(out, old, oldEnd, oldGap, p.newOffset - newEnd);
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
        oldEnd = p.offset + p.size;
        newEnd = p.newOffset + p.bytes.size();
    }
    // What follows the last member: padding to the alignment the end had, or
    // whatever else it was, kept.
    const std::uint64_t tail = old.size() > oldEnd ? old.size() - oldEnd : 0;
    const std::uint64_t endAlignment = alignmentOf(old.size());
    const bool padding = tail < endAlignment && alignUp(oldEnd, endAlignment) == old.size();
    const std::uint64_t newTail = padding ? alignUp(newEnd, endAlignment) - newEnd : tail;
    copyOrZero(out, old, oldEnd, tail, newTail);
    // An empty member that lay at the very end stays there when the end's
    // padding shrinks: an offset past the data would not read.
    for (Piece& p : pieces)
        if (!occupies(p)) p.newOffset = std::min<std::uint64_t>(p.newOffset, start + out.size());
    return out;
}

}  // namespace tplforge::relay
