// RARC archives (GameCube, Super Mario Galaxy). Reads: the 32-byte header (magic,
// file size, info block offset, data offset from the info block, data sizes), the
// info block (folder, entry and string tables, offsets from the info block),
// 16-byte folders and 20-byte entries, from the root folder down. Writes: the same
// archive with members replaced, in place when their size is kept.
#include <algorithm>
#include <map>

#include "codec/archives/relay.h"
#include "tplforge/bytes.h"
#include "tplforge/archive.h"

namespace tplforge {

namespace {

constexpr std::size_t kHeader = 32;
constexpr std::size_t kInfo = 32;
constexpr std::size_t kFolder = 16;
constexpr std::size_t kEntry = 20;

ArchiveError error(ArchiveFault fault, std::uint32_t item = 0) { return {fault, item, {}, {}, FileKind::Rarc}; }

std::optional<std::string_view> nameIn(std::span<const std::uint8_t> strings, std::uint32_t offset) {
    if (offset >= strings.size()) return std::nullopt;
    const auto end = std::find(strings.begin() + offset, strings.end(), 0);
    if (end == strings.end()) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(strings.data()) + offset,
                            static_cast<std::size_t>(end - strings.begin()) - offset);
}

}  // namespace

Expected<RarcArchive, ArchiveError> parseRarc(std::span<const std::uint8_t> archive) {
    ByteReader h(archive);
    if (!h.has(kHeader)) return fail(error(ArchiveFault::Truncated));
    h.skip(8);
    const std::uint32_t infoOffset = *h.u32be();
    const std::uint32_t dataOffset = *h.u32be();
    const auto info = sliceAt(archive, infoOffset, kInfo);
    if (!info) return fail(error(ArchiveFault::Truncated));
    ByteReader r(*info);
    const std::uint32_t folderCount = *r.u32be();
    const std::uint32_t folderTable = *r.u32be();
    const std::uint32_t entryCount = *r.u32be();
    const std::uint32_t entryTable = *r.u32be();
    const std::uint32_t stringSize = *r.u32be();
    const std::uint32_t stringTable = *r.u32be();
    const std::uint64_t base = infoOffset;
    const auto folders = sliceAt(archive, base + folderTable, std::uint64_t{folderCount} * kFolder);
    const auto entries = sliceAt(archive, base + entryTable, std::uint64_t{entryCount} * kEntry);
    const auto strings = sliceAt(archive, base + stringTable, stringSize);
    if (!folders || !entries || !strings || folderCount == 0) return fail(error(ArchiveFault::RarcTablePastEnd));
    const std::uint64_t dataStart = base + dataOffset;
    if (dataStart > archive.size()) return fail(error(ArchiveFault::RarcDataPastEnd));

    RarcArchive out;
    out.bytes = archive;
    out.entryTable = base + entryTable;
    out.dataStart = dataStart;
    // Entries are rewritten when the data moves; names or folders among them would change too.
    const std::pair<std::uint64_t, std::uint64_t> tables[3] = {{base + folderTable, folders->size()},
                                                               {base + entryTable, entries->size()},
                                                               {base + stringTable, strings->size()}};
    // Nor may they lie over the info block, whose counts the entries would overwrite.
    if (dataStart < base + kInfo) out.tablesApart = false;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto [at, size] = tables[i];
        if (at + size > dataStart || (size > 0 && at < base + kInfo)) out.tablesApart = false;
        for (std::size_t j = i + 1; j < 3; ++j)  // two tables may start at one place
            if (at < tables[j].first + tables[j].second && tables[j].first < at + size) out.tablesApart = false;
    }
    std::vector<bool> seen(folderCount, false);
    struct Pending {
        std::uint32_t folder;
        std::string path;
    };
    // Depth first, children in stored order: a stack taken from the back.
    std::vector<Pending> stack{{0, {}}};
    std::uint64_t pathBytes = 0;
    const std::uint64_t pathBudget = 16 * std::uint64_t{archive.size()} + (1 << 20);
    seen[0] = true;
    while (!stack.empty()) {
        Pending at = std::move(stack.back());
        stack.pop_back();
        ByteReader f(folders->subspan(std::size_t{at.folder} * kFolder, kFolder));
        f.skip(10);
        const std::uint16_t count = *f.u16be();
        const std::uint32_t first = *f.u32be();
        if (std::uint64_t{first} + count > entryCount) return fail(error(ArchiveFault::RarcEntriesPastTable, at.folder));
        std::vector<Pending> below;
        for (std::uint32_t e = first; e < first + count; ++e) {
            ByteReader en(entries->subspan(std::size_t{e} * kEntry, kEntry));
            en.skip(4);
            const std::uint8_t flags = *en.u8();
            en.skip(1);
            const std::uint16_t nameOffset = *en.u16be();
            const std::uint32_t word = *en.u32be();
            const std::uint32_t size = *en.u32be();
            const auto name = nameIn(*strings, nameOffset);
            if (!name) return fail(error(ArchiveFault::RarcNamePastStringTable, e));
            if (*name == "." || *name == "..") continue;
            std::string path = at.path.empty() ? std::string(*name) : at.path + '/' + std::string(*name);
            pathBytes += path.size();
            if (path.size() > kMaxPath || pathBytes > pathBudget) return fail(error(ArchiveFault::PathTooLong, e));
            if (flags & 0x02) {
                if (word >= folderCount || seen[word]) return fail(error(ArchiveFault::RarcFolderLoop, e));
                seen[word] = true;
                below.push_back({word, std::move(path)});
                continue;
            }
            if (dataStart + word + size > archive.size()) return fail(error(ArchiveFault::RarcDataPastEnd, e));
            out.files.push_back({std::move(path), e, dataStart + word, size});
        }
        for (auto it = below.rbegin(); it != below.rend(); ++it) stack.push_back(std::move(*it));
    }
    return out;
}

Expected<std::vector<std::uint8_t>, ArchiveError> rebuildRarc(const RarcArchive& archive,
                                                              std::span<const MemberBytes> replaced) {
    const auto changes = relay::realChanges(archive.bytes, archive.files, replaced);
    if (changes.empty()) return std::vector<std::uint8_t>(archive.bytes.begin(), archive.bytes.end());
    bool sameSizes = true;
    for (const ArchiveEntry& f : archive.files) {
        const auto it = changes.find(f.index);
        if (it != changes.end() && it->second.size() != f.size) sameSizes = false;
    }
    ByteWriter out(std::vector<std::uint8_t>(archive.bytes.begin(), archive.bytes.end()));
    if (sameSizes) {
        for (const ArchiveEntry& f : archive.files) {
            const auto it = changes.find(f.index);
            if (it != changes.end()) out.bytesAt(static_cast<std::size_t>(f.offset), it->second);
        }
        if (!out.ok()) return fail(error(ArchiveFault::TooLargeToWrite));
        return out.take();
    }

    if (!archive.tablesApart) return fail(error(ArchiveFault::RarcTablesOverlap));
    const auto oldData = archive.bytes.subspan(static_cast<std::size_t>(archive.dataStart));
    std::vector<relay::Piece> pieces;
    for (const ArchiveEntry& f : archive.files) {
        const auto it = changes.find(f.index);
        const auto bytes = it != changes.end() ? it->second
                                               : archive.bytes.subspan(static_cast<std::size_t>(f.offset),
                                                                       static_cast<std::size_t>(f.size));
        pieces.push_back({f.offset - archive.dataStart, f.size, bytes, 0});
    }
    const auto laidOut = relay::layOut(oldData, 0, pieces);
    if (!laidOut) return fail(error(ArchiveFault::TooLargeToWrite));
    const std::vector<std::uint8_t>& data = *laidOut;
    if (archive.dataStart + data.size() > 0xFFFFFFFFu) return fail(error(ArchiveFault::TooLargeToWrite));
    std::vector<std::uint8_t>& bytes = out.data();
    bytes.resize(static_cast<std::size_t>(archive.dataStart));
    bytes.insert(bytes.end(), data.begin(), data.end());
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const std::size_t entry = static_cast<std::size_t>(archive.entryTable) + kEntry * archive.files[k].index;
        out.u32beAt(entry + 8, static_cast<std::uint32_t>(pieces[k].newOffset));
        out.u32beAt(entry + 12, static_cast<std::uint32_t>(pieces[k].bytes.size()));
    }
    out.u32beAt(4, static_cast<std::uint32_t>(bytes.size()));
    ByteReader h(archive.bytes);
    h.skip(16);
    for (std::size_t at = 16; at < 28; at += 4)
        if (*h.u32be() == oldData.size()) out.u32beAt(at, static_cast<std::uint32_t>(data.size()));
    if (!out.ok()) return fail(error(ArchiveFault::TooLargeToWrite));
    return out.take();
}

}  // namespace tplforge
