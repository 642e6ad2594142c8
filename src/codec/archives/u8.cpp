// U8 archives. Reads: the 32-byte header (magic 55 AA 38 2D, node table offset,
// size of nodes and names, data offset, 16 bytes of filler), 12-byte nodes (type,
// 24-bit name offset, data offset or parent, size or "next"), NUL-terminated
// names; any folder layout whose "next" indices nest. Writes: the same archive
// with members replaced, everything else kept; new archives laid out as the
// game's own or as banner parts.
#include <algorithm>
#include <map>

#include "codec/archives/relay.h"
#include "tplforge/bytes.h"
#include "tplforge/archive.h"

namespace tplforge {

namespace {

constexpr std::uint8_t kU8Magic[4] = {0x55, 0xAA, 0x38, 0x2D};
constexpr std::size_t kHeader = 32;
constexpr std::size_t kNode = 12;

ArchiveError error(ArchiveFault fault, std::uint32_t item = 0) { return {fault, item, {}, {}, FileKind::U8}; }

struct Node {
    bool folder = false;
    std::uint32_t name = 0;
    std::uint32_t word1 = 0;  // data offset, or parent
    std::uint32_t word2 = 0;  // size, or one past the folder's last node
};

}  // namespace

std::string_view ArchiveEntry::name() const {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

Expected<U8Archive, ArchiveError> parseU8(std::span<const std::uint8_t> archive) {
    ByteReader h(archive);
    if (!h.has(kHeader)) return fail(error(ArchiveFault::Truncated));
    h.skip(4);
    const std::uint32_t nodeOffset = *h.u32be();
    const std::uint32_t metaSize = *h.u32be();
    const auto root = sliceAt(archive, nodeOffset, kNode);
    if (!root) return fail(error(ArchiveFault::U8NodeTablePastEnd));
    ByteReader r(*root);
    const std::uint8_t rootType = *r.u8();
    r.skip(7);
    const std::uint32_t count = *r.u32be();
    if (rootType == 0 || count == 0) return fail(error(ArchiveFault::U8RootNotFolder));
    const auto table = sliceAt(archive, nodeOffset, std::uint64_t{count} * kNode);
    if (!table) return fail(error(ArchiveFault::U8NodeTablePastEnd));
    const std::uint64_t stringsStart = std::uint64_t{nodeOffset} + std::uint64_t{count} * kNode;
    const std::uint64_t stringsEnd = std::uint64_t{nodeOffset} + metaSize;
    if (stringsEnd < stringsStart || stringsEnd > archive.size()) return fail(error(ArchiveFault::U8StringTablePastEnd));
    const std::span<const std::uint8_t> strings = archive.subspan(static_cast<std::size_t>(stringsStart),
                                                                  static_cast<std::size_t>(stringsEnd - stringsStart));

    // Every node checked before anything is built from them.
    ByteReader t(*table);
    std::vector<Node> nodes(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Node& n = nodes[i];
        n.folder = *t.u8() != 0;
        n.name = *t.u24be();
        n.word1 = *t.u32be();
        n.word2 = *t.u32be();
        if (n.name >= strings.size() ||
            std::find(strings.begin() + n.name, strings.end(), 0) == strings.end())
            return fail(error(ArchiveFault::U8NamePastStringTable, i));
        if (!n.folder && std::uint64_t{n.word1} + n.word2 > archive.size())
            return fail(error(ArchiveFault::U8DataPastEnd, i));
    }

    U8Archive out;
    out.bytes = archive;
    out.nodeOffset = nodeOffset;
    out.nodeCount = count;
    out.stringsEnd = stringsEnd;
    // Folders open on the way down: where each ends, and the path before it.
    struct Open {
        std::uint32_t end;
        std::size_t pathLength;
    };
    std::vector<Open> open{{count, 0}};
    std::string path;
    std::uint64_t pathBytes = 0;
    const std::uint64_t pathBudget = 16 * std::uint64_t{archive.size()} + (1 << 20);
    for (std::uint32_t i = 1; i < count; ++i) {
        while (i >= open.back().end) {
            path.resize(open.back().pathLength);
            open.pop_back();
        }
        const Node& n = nodes[i];
        const auto name = std::string_view(reinterpret_cast<const char*>(strings.data()) + n.name);
        if (n.folder) {
            if (n.word2 <= i || n.word2 > open.back().end) return fail(error(ArchiveFault::U8FolderLoop, i));
            open.push_back({n.word2, path.size()});
            if (name != ".") {
                if (!path.empty()) path += '/';
                path += name.substr(0, kMaxPath + 1);
                if (path.size() > kMaxPath) return fail(error(ArchiveFault::PathTooLong, i));
            }
            continue;
        }
        std::string file = path;
        if (!file.empty()) file += '/';
        file += name;
        pathBytes += file.size();
        if (file.size() > kMaxPath || pathBytes > pathBudget) return fail(error(ArchiveFault::PathTooLong, i));
        out.files.push_back({std::move(file), i, n.word1, n.word2});
    }
    return out;
}

Expected<std::vector<std::uint8_t>, ArchiveError> rebuildU8(const U8Archive& archive,
                                                            std::span<const MemberBytes> replaced) {
    const auto changes = relay::realChanges(archive.bytes, archive.files, replaced);
    if (changes.empty()) return std::vector<std::uint8_t>(archive.bytes.begin(), archive.bytes.end());

    std::vector<relay::Piece> pieces;
    pieces.reserve(archive.files.size());
    std::uint64_t start = archive.bytes.size();
    for (const ArchiveEntry& f : archive.files) {
        const auto it = changes.find(f.index);
        const auto bytes = it != changes.end()
                               ? it->second
                               : archive.bytes.subspan(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.size));
        pieces.push_back({f.offset, f.size, bytes, 0});
        if (f.size > 0 || !bytes.empty()) start = std::min(start, f.offset);
    }
    // Members placed among the header, nodes or names cannot move without them:
    // the data then starts afresh after the names.
    bool afresh = false;
    for (const relay::Piece& p : pieces)
        if ((p.size > 0 || !p.bytes.empty()) && p.offset < archive.stringsEnd) afresh = true;
    if (afresh) start = archive.stringsEnd;
    const auto region = relay::layOut(archive.bytes, start, pieces, afresh);
    if (!region) return fail(error(ArchiveFault::TooLargeToWrite));

    ByteWriter out(std::vector<std::uint8_t>(archive.bytes.begin(), archive.bytes.begin() + static_cast<std::ptrdiff_t>(start)));
    out.append(*region);
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const relay::Piece& p = pieces[k];
        if (p.newOffset + p.bytes.size() > 0xFFFFFFFFu) return fail(error(ArchiveFault::TooLargeToWrite));
        const std::size_t node = archive.nodeOffset + kNode * archive.files[k].index;
        out.u32beAt(node + 4, static_cast<std::uint32_t>(p.newOffset));
        out.u32beAt(node + 8, static_cast<std::uint32_t>(p.bytes.size()));
    }
    if (afresh && !pieces.empty()) out.u32beAt(12, static_cast<std::uint32_t>(relay::alignUp(start, 32)));
    if (!out.ok()) return fail(error(ArchiveFault::TooLargeToWrite));
    return out.take();
}

namespace {

// Upper-case folding, as the game's archives are sorted ('_' after the letters).
bool foldedLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto up = [](char c) { return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c); };
        return up(x) < up(y);
    });
}

struct Tree {
    std::string name;
    const NewMember* file = nullptr;  // null: a folder
    std::vector<Tree> children;
};

Tree& childFolder(Tree& parent, std::string_view name) {
    for (Tree& c : parent.children)
        if (!c.file && c.name == name) return c;
    parent.children.push_back({std::string(name), nullptr, {}});
    return parent.children.back();
}

void sortTree(Tree& t) {
    std::stable_sort(t.children.begin(), t.children.end(), [](const Tree& a, const Tree& b) {
        if ((a.file != nullptr) != (b.file != nullptr)) return a.file != nullptr;
        return foldedLess(a.name, b.name);
    });
    for (Tree& c : t.children) sortTree(c);
}

struct Flat {
    const Tree* tree;
    std::uint32_t parent;
    std::uint32_t next = 0;
};

void flatten(const Tree& t, std::uint32_t parent, std::vector<Flat>& out) {
    const auto self = static_cast<std::uint32_t>(out.size());
    out.push_back({&t, parent});
    for (const Tree& c : t.children) flatten(c, self, out);
    out[self].next = static_cast<std::uint32_t>(out.size());
}

}  // namespace

Expected<std::vector<std::uint8_t>, ArchiveError> buildU8(std::span<const NewMember> members, const U8Layout& layout) {
    Tree root;
    Tree* top = &root;
    if (layout.dotFolder) top = &childFolder(root, ".");
    for (const NewMember& m : members) {
        if (m.path.size() > kMaxPath) return fail(error(ArchiveFault::PathTooLong));
        Tree* at = top;
        std::string_view path = m.path;
        for (auto slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/')) {
            if (slash > 0) at = &childFolder(*at, path.substr(0, slash));
            path.remove_prefix(slash + 1);
        }
        at->children.push_back({std::string(path), &m, {}});
    }
    if (layout.sorted) sortTree(*top);

    std::vector<Flat> flat;
    flatten(root, 0, flat);
    ByteWriter names;
    std::vector<std::uint32_t> nameAt;
    for (const Flat& f : flat) {
        nameAt.push_back(static_cast<std::uint32_t>(names.size()));
        for (char c : f.tree->name) names.u8(static_cast<std::uint8_t>(c));
        names.u8(0);
    }
    const std::uint64_t metaSize = kNode * flat.size() + names.size();
    const std::uint64_t dataStart = relay::alignUp(0x20 + metaSize, 32);
    std::uint64_t at = dataStart;
    std::vector<std::uint64_t> offsets(flat.size(), 0);
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (!flat[i].tree->file) continue;
        at = relay::alignUp(at, 32);
        offsets[i] = at;
        at += flat[i].tree->file->bytes.size();
    }
    if (at > 0xFFFFFFFFu || names.size() > 0xFFFFFF) return fail(error(ArchiveFault::TooLargeToWrite));

    ByteWriter out(static_cast<std::size_t>(at));
    out.append(kU8Magic);
    out.u32be(0x20);
    out.u32be(static_cast<std::uint32_t>(metaSize));
    out.u32be(static_cast<std::uint32_t>(dataStart));
    for (int i = 0; i < 16; ++i) out.u8(layout.filler);
    for (std::size_t i = 0; i < flat.size(); ++i) {
        const Flat& f = flat[i];
        out.u8(f.tree->file ? 0 : 1);
        out.u24be(nameAt[i]);
        if (f.tree->file) {
            out.u32be(static_cast<std::uint32_t>(offsets[i]));
            out.u32be(static_cast<std::uint32_t>(f.tree->file->bytes.size()));
        } else {
            out.u32be(f.parent);
            out.u32be(f.next);
        }
    }
    out.append(names.data());
    out.zeros(static_cast<std::size_t>(dataStart - out.size()));
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (!flat[i].tree->file) continue;
        out.zeros(static_cast<std::size_t>(offsets[i] - out.size()));
        out.append(flat[i].tree->file->bytes);
    }
    if (!out.ok()) return fail(error(ArchiveFault::TooLargeToWrite));
    return out.take();
}

}  // namespace tplforge
