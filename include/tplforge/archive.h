// Archives (U8, RARC) as lists of named members, the wrappers around them (Yaz0,
// and the Wii banner's IMET, IMD5 and LZ77), and one way to name a member
// anywhere: a path that runs through archives inside archives, through any
// wrappers on the way.
//
// Paths are the members' names joined with '/', compared ignoring ASCII case as
// the console's own lookup does. A U8 folder named "." and a RARC's root folder
// are left out: `arc/timg/x.tpl`, `meta/banner.bin/arc/timg/x.tpl`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/export.h"
#include "tplforge/compression.h"
#include "tplforge/expected.h"
#include "tplforge/file_kind.h"

namespace tplforge {

// --- Errors ----------------------------------------------------------------------

enum class ArchiveFault {
    Truncated,              // shorter than its header
    Decompression,          // a Yaz0 or LZ77 stream is damaged (see `compression`)
    U8NodeTablePastEnd,     // the node table runs past the end
    U8RootNotFolder,        // node 0 is not a folder, or counts no nodes
    U8StringTablePastEnd,   // the string table runs past the end
    U8NamePastStringTable,  // a node's name starts or runs past the string table
    U8DataPastEnd,          // a file node's data runs past the end
    U8FolderLoop,           // a folder ends before itself or past its parent (its "next")
    RarcTablePastEnd,       // a folder, entry or string table runs past the end
    RarcNamePastStringTable,
    RarcDataPastEnd,
    RarcEntriesPastTable,   // a folder lists entries past the entry table (item: the folder)
    RarcFolderLoop,         // a folder entry points outside the table or back at a folder seen
    RarcTablesOverlap,      // tables overlap each other or the data: members can only keep their size
    PathTooLong,            // a member's path is longer than kMaxPath, or all of them far longer than the archive
    ImetTooShort,           // the hashed block runs past the end
    Imd5PastEnd,            // the size an IMD5 header announces runs past the end
    NoSuchMember,           // nothing of that name (`member` holds the path looked for)
    IsAFolder,              // the path names a folder, not a file
    NotAnArchive,           // the path goes on below a file that holds no members
    NotReadable,            // the outer file is of no kind read here
    TooDeep,                // wrappers and archives nested deeper than the limit
    OverBudget,             // more bytes decompressed than the limit allows
    TooLargeToWrite,        // an offset of the rebuilt archive does not fit its field, or copies of shared members grow it too far
};

struct ArchiveError {
    ArchiveFault fault = ArchiveFault::Truncated;
    std::uint32_t item = 0;  // the node, entry or folder number, where one applies
    CompressionError compression = CompressionError::TooShort;  // for Decompression
    std::string member;      // where it happened: a member's path, "" for the file itself
    FileKind kind = FileKind::Unknown;  // the layer refused: U8, RARC, Yaz0, LZ77, IMD5
};
// One line, as "arc/x.szs: U8 node 7 runs past the end of the archive"; a
// refusal that does not name its layer has it first: "arc/x.szs: Yaz0: compressed
// stream ends before its announced size".
[[nodiscard]] TPLFORGE_API std::string describe(const ArchiveError& error);

// --- Archives --------------------------------------------------------------------

// Real paths are short; names that share their characters could otherwise
// make a small archive list gigabytes of paths.
inline constexpr std::size_t kMaxPath = 1024;

// A file member of an archive.
struct ArchiveEntry {
    std::string path;          // inside this archive
    std::uint32_t index = 0;   // U8 node or RARC entry number
    std::uint64_t offset = 0;  // of its data, from the start of the archive
    std::uint64_t size = 0;
    [[nodiscard]] TPLFORGE_API std::string_view name() const;  // the last part of the path
};

// A U8 archive: header, node table (node 0 the root folder), string table, data.
// Reads any that pass the checks; node order and every field are kept as stored.
struct U8Archive {
    std::span<const std::uint8_t> bytes;
    std::uint32_t nodeOffset = 0;
    std::uint32_t nodeCount = 0;
    std::uint64_t stringsEnd = 0;
    std::vector<ArchiveEntry> files;  // node order
};
[[nodiscard]] TPLFORGE_API Expected<U8Archive, ArchiveError> parseU8(std::span<const std::uint8_t> archive);

// New bytes for one member, by its index (ArchiveEntry::index).
struct MemberBytes {
    std::uint32_t index = 0;
    std::span<const std::uint8_t> bytes;
};

// The archive with those members replaced. Every other byte stays: header, nodes,
// names, every other member, the filler between; members after a resized one
// move by as much as keeps their alignment (32 in every archive seen) and the gap
// they had beyond it. An archive whose members share or overlap data is laid
// out again instead, each member at the next multiple of 32.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ArchiveError> rebuildU8(const U8Archive& archive,
                                                            std::span<const MemberBytes> replaced);

struct NewMember {
    std::string path;  // folders made as the path asks
    std::span<const std::uint8_t> bytes;
};
// How a new U8 is laid out. Either way node 0 is the root, folders list their
// files and folders depth first, names follow the nodes in node order, the data
// starts at the first multiple of 32 after the names and each file at the next
// multiple of 32 after the one before, the gaps zero.
struct U8Layout {
    bool dotFolder = true;     // everything inside a folder "." below the root
    bool sorted = true;        // in each folder files first, then folders, each by name folded to upper case
    std::uint8_t filler = 0xCC;  // the 16 header bytes after the data offset
    // As Mario Kart Wii's archives are.
    static U8Layout game() { return {}; }
    // As banner parts are: no ".", members in the order given, zero filler.
    static U8Layout banner() { return {false, false, 0}; }
};
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ArchiveError> buildU8(std::span<const NewMember> members,
                                                          const U8Layout& layout = U8Layout::game());

// A RARC archive: header, info block, folders, entries, names, data. Folders are
// walked from the root; the "." and ".." entries of each are skipped.
struct RarcArchive {
    std::span<const std::uint8_t> bytes;
    std::uint64_t entryTable = 0;  // absolute offsets
    std::uint64_t dataStart = 0;
    bool tablesApart = true;       // folder, entry and string tables apart from each other and before the data
    std::vector<ArchiveEntry> files;  // folder by folder from the root, entries in stored order
};
[[nodiscard]] TPLFORGE_API Expected<RarcArchive, ArchiveError> parseRarc(std::span<const std::uint8_t> archive);
// Members of the same size are written in place; otherwise the data is laid out
// again as rebuildU8 does, entries' offsets and sizes and the header's file size
// follow, and a header size word that held the length of the data holds the new one.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ArchiveError> rebuildRarc(const RarcArchive& archive,
                                                              std::span<const MemberBytes> replaced);

// --- Paths through archives -------------------------------------------------------

// A member's bytes with every wrapper taken off. They lie in the caller's file,
// or in `storage` when a layer on the way was decompressed.
struct Member {
    std::string path;  // as stored, "" for the file itself
    FileKind kind = FileKind::Unknown;  // of `bytes`
    std::span<const std::uint8_t> bytes;
    std::shared_ptr<const std::vector<std::uint8_t>> storage;
};

struct PathLimits {
    unsigned maxDepth = 16;  // wrappers and archives, one inside the other
    // Bytes decompressed in one call, all layers and members together: a small
    // archive of members that all point at one stream cannot ask for terabytes.
    std::uint64_t maxDecompressed = std::uint64_t{2} << 30;
};

// What a path names: the member it runs to, and what is left of it below a
// member that is no archive (a texture's name in a BRRES, a number in a model).
struct Located {
    Member member;
    std::string rest;
};
// `fileName` is the outer file's name (BTI is told by name). The path may name
// the file itself (""), any member, or go on below a member into its textures.
[[nodiscard]] TPLFORGE_API Expected<Located, ArchiveError> openPath(std::span<const std::uint8_t> file, std::string_view fileName,
                                         std::string_view path, const PathLimits& limits = {});

struct ReplaceOptions {
    Yaz0Options yaz0;  // mode for layers recompressed; the padding of each layer is kept
    PathLimits limits;
};
// The outer file with the member at `memberPath` (as Located::member.path gives
// it) holding `bytes` (unwrapped, as openPath gave them). Every layer on the way
// up is wrapped again: Yaz0 recompressed, LZ77 recompressed and its IMD5 size and
// MD5 redone, the IMET's size of that part and its MD5 redone, archives rebuilt
// with that member alone changed. A layer whose content comes out unchanged is
// kept byte for byte, compressed bytes included.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, ArchiveError> replaceMember(std::span<const std::uint8_t> file,
                                                                std::string_view fileName,
                                                                std::string_view memberPath,
                                                                std::span<const std::uint8_t> bytes,
                                                                const ReplaceOptions& options = {});

// Every member that holds textures (holdsTextures), archives inside archives
// opened, in stored order (left out: members without a name, and those behind
// an earlier member of the same path, as no path names them); the file itself
// when it is a texture container. A
// damaged member is handed over with its error, and the walk goes on. Fails only
// when the outer file cannot be read as anything.
struct FoundMember {
    Member member;
    std::optional<ArchiveError> error;
};
[[nodiscard]] TPLFORGE_API Expected<void, ArchiveError> walkTextureMembers(std::span<const std::uint8_t> file, std::string_view fileName,
                                                const std::function<void(FoundMember&&)>& visit,
                                                const PathLimits& limits = {});

}  // namespace tplforge
