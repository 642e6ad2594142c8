// Paths through archives and wrappers: opening a member, putting new bytes in its
// place with every layer above wrapped again, and listing every member that
// holds textures. Wrappers read: Yaz0, IMET (disc and channel banners), IMD5,
// LZ77 type 0x10; archives: U8 and RARC.
#include <algorithm>
#include <cstring>
#include <set>

#include "codec/compression/lz_parse.h"
#include "tplforge/bytes.h"
#include "tplforge/archive.h"
#include "tplforge/md5.h"

namespace tplforge {

std::string describe(const ArchiveError& e) {
    const std::string n = std::to_string(e.item);
    std::string text;
    switch (e.fault) {
        case ArchiveFault::Truncated: text = "archive is shorter than its header"; break;
        case ArchiveFault::Decompression: text = std::string(describe(e.compression)); break;
        case ArchiveFault::U8NodeTablePastEnd: text = "U8 node table runs past the end of the archive"; break;
        case ArchiveFault::U8RootNotFolder: text = "U8 node 0 is not a folder holding the others"; break;
        case ArchiveFault::U8StringTablePastEnd: text = "U8 string table runs past the end of the archive"; break;
        case ArchiveFault::U8NamePastStringTable: text = "U8 node " + n + " has its name past the string table"; break;
        case ArchiveFault::U8DataPastEnd: text = "U8 node " + n + " runs past the end of the archive"; break;
        case ArchiveFault::U8FolderLoop: text = "U8 folder node " + n + " ends before itself or past its parent"; break;
        case ArchiveFault::RarcTablePastEnd: text = "RARC folder, entry or string table runs past the end"; break;
        case ArchiveFault::RarcNamePastStringTable: text = "RARC entry " + n + " has its name past the string table"; break;
        case ArchiveFault::RarcDataPastEnd: text = "RARC entry " + n + " runs past the end of the archive"; break;
        case ArchiveFault::RarcEntriesPastTable: text = "RARC folder " + n + " lists entries past the entry table"; break;
        case ArchiveFault::RarcFolderLoop:
            text = "RARC entry " + n + " points outside the folder table or back at a folder (a loop)";
            break;
        case ArchiveFault::RarcTablesOverlap:
            text = "RARC tables overlap each other or its data: a member can only be replaced by one of the same size";
            break;
        case ArchiveFault::PathTooLong: text = "member " + n + " has a path longer than any archive holds"; break;
        case ArchiveFault::ImetTooShort: text = "banner's IMET block runs past the end of the file"; break;
        case ArchiveFault::Imd5PastEnd: text = "IMD5 part announces more bytes than it holds"; break;
        case ArchiveFault::NoSuchMember: return "no member named " + e.member;
        case ArchiveFault::IsAFolder: return e.member + " is a folder; name a file in it";
        case ArchiveFault::NotAnArchive: text = "holds no members (not an archive)"; break;
        case ArchiveFault::NotReadable: text = "not an archive, banner or texture file"; break;
        case ArchiveFault::TooDeep: text = "archives nested too deep"; break;
        case ArchiveFault::OverBudget: text = "archive expands to more bytes than are decompressed at once"; break;
        case ArchiveFault::TooLargeToWrite:
            text = "rebuilt archive would not fit its 32-bit offsets, or its shared members grow it too far";
            break;
    }
    // The faults of one layer name it; these are met in several.
    const bool shared = e.fault == ArchiveFault::Truncated || e.fault == ArchiveFault::Decompression ||
                        e.fault == ArchiveFault::PathTooLong;
    if (shared && e.kind != FileKind::Unknown) text = std::string(kindName(e.kind)) + ": " + text;
    return e.member.empty() ? text : e.member + ": " + text;
}

namespace {

using Bytes = std::span<const std::uint8_t>;
using Storage = std::shared_ptr<const std::vector<std::uint8_t>>;

constexpr std::size_t kImd5Header = 32;
constexpr std::size_t kImetBlock = 0x600;
constexpr std::size_t kImetDigest = 0x5F0;

bool sameBytes(Bytes a, Bytes b) { return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()); }

std::string join(std::string_view a, std::string_view b) {
    if (a.empty()) return std::string(b);
    if (b.empty()) return std::string(a);
    return std::string(a) + '/' + std::string(b);
}

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    const auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return low(x) == low(y); });
}

// Leading '/', empty parts and "." parts dropped.
std::string normalise(std::string_view path) {
    std::string out;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") out = join(out, part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return out;
}

struct Context {
    const PathLimits& limits;
    std::uint64_t decompressed = 0;
};

ArchiveError at(ArchiveError e, std::string_view where) {
    if (e.member.empty()) e.member = std::string(where);
    return e;
}
ArchiveError fault(ArchiveFault f, std::string_view where, FileKind kind = FileKind::Unknown) {
    return {f, 0, {}, std::string(where), kind};
}
ArchiveError compression(CompressionError c, std::string_view where, FileKind kind) {
    return {ArchiveFault::Decompression, 0, c, std::string(where), kind};
}

// One wrapper taken off.
struct Layer {
    Bytes inner;
    Storage storage;       // when decompressed
    std::size_t streamEnd = 0;  // Yaz0: bytes the stream took, header included
    std::size_t innerAt = 0;    // IMD5, IMET: where the payload starts
};

std::size_t imetStart(Bytes bytes) {  // of the hashed block
    return bytes.size() >= 0x84 && std::memcmp(bytes.subspan(0x40, 4).data(), "IMET", 4) == 0 ? 0 : 0x40;
}

Expected<Layer, ArchiveError> unwrap(FileKind kind, Bytes bytes, std::string_view where, Context& ctx) {
    const auto budget = [&](std::uint64_t size) {
        ctx.decompressed += size;
        return ctx.decompressed <= ctx.limits.maxDecompressed;
    };
    switch (kind) {
        case FileKind::Yaz0: {
            const auto size = yaz0Size(bytes);
            if (!size) return fail(compression(size.error(), where, kind));
            if (!budget(*size)) return fail(fault(ArchiveFault::OverBudget, where));
            auto out = std::make_shared<std::vector<std::uint8_t>>(*size);
            const auto end = lz::yaz0DecodeInto(bytes, *out);
            if (!end) return fail(compression(end.error(), where, kind));
            return Layer{*out, out, *end, 0};
        }
        case FileKind::Lz77: {
            const Bytes stream = bytes.subspan(4);
            ByteReader r(stream);
            r.skip(1);
            const auto size = r.u24le();
            if (!size) return fail(compression(CompressionError::TooShort, where, kind));
            if (!budget(*size)) return fail(fault(ArchiveFault::OverBudget, where));
            auto out = lz77Decompress(stream);
            if (!out) return fail(compression(out.error(), where, kind));
            auto kept = std::make_shared<const std::vector<std::uint8_t>>(std::move(out).value());
            return Layer{*kept, kept, 0, 4};
        }
        case FileKind::Imd5: {
            ByteReader r(bytes);
            r.skip(4);
            const auto size = r.u32be();
            if (!size || bytes.size() < kImd5Header) return fail(fault(ArchiveFault::Truncated, where, kind));
            const auto payload = sliceAt(bytes, kImd5Header, *size);
            if (!payload) return fail(fault(ArchiveFault::Imd5PastEnd, where));
            return Layer{*payload, nullptr, 0, kImd5Header};
        }
        case FileKind::Imet: {
            const std::size_t start = imetStart(bytes);
            ByteReader r(bytes);
            r.seek(start + 0x44);
            const auto length = r.u32be();
            if (!length || *length < kImetBlock || start + std::uint64_t{*length} > bytes.size())
                return fail(fault(ArchiveFault::ImetTooShort, where));
            const std::size_t u8At = start + *length;
            return Layer{bytes.subspan(u8At), nullptr, 0, u8At};
        }
        default: break;
    }
    return fail(fault(ArchiveFault::NotAnArchive, where));
}

// The size an IMET records for a part: without its IMD5 header, after LZ77.
std::uint32_t partSize(Bytes part) {
    if (part.size() < kImd5Header || std::memcmp(part.data(), "IMD5", 4) != 0)
        return static_cast<std::uint32_t>(part.size());
    ByteReader r(part);
    r.skip(4);
    const std::uint32_t size = *r.u32be();
    const Bytes payload = part.subspan(kImd5Header);
    if (payload.size() >= 8 && std::memcmp(payload.data(), "LZ77", 4) == 0 && payload[4] == 0x10) {
        ByteReader z(payload.subspan(5));
        return *z.u24le();
    }
    return size;
}

struct AnyArchive {
    std::optional<U8Archive> u8;
    std::optional<RarcArchive> rarc;
    const std::vector<ArchiveEntry>& files() const { return u8 ? u8->files : rarc->files; }
};

Expected<AnyArchive, ArchiveError> openArchive(FileKind kind, Bytes bytes, std::string_view where) {
    AnyArchive a;
    if (kind == FileKind::U8) {
        auto u8 = parseU8(bytes);
        if (!u8) return fail(at(u8.error(), where));
        a.u8 = std::move(u8).value();
    } else {
        auto rarc = parseRarc(bytes);
        if (!rarc) return fail(at(rarc.error(), where));
        a.rarc = std::move(rarc).value();
    }
    return a;
}

Expected<std::vector<std::uint8_t>, ArchiveError> rebuild(const AnyArchive& a, const MemberBytes& change,
                                                         std::string_view where) {
    auto out = a.u8 ? rebuildU8(*a.u8, std::span(&change, 1)) : rebuildRarc(*a.rarc, std::span(&change, 1));
    if (!out) return fail(at(out.error(), where));
    return out;
}

// The file member a path starts with, and the rest of the path below it.
Expected<std::pair<const ArchiveEntry*, std::string_view>, ArchiveError> find(const AnyArchive& a,
                                                                             std::string_view path,
                                                                             std::string_view where) {
    const ArchiveEntry* below = nullptr;
    bool folder = false;
    for (const ArchiveEntry& f : a.files()) {
        const std::string_view p = f.path;
        if (p.size() > path.size()) {
            if (p[path.size()] == '/' && sameName(p.substr(0, path.size()), path)) folder = true;
            continue;
        }
        if (!sameName(p, path.substr(0, p.size()))) continue;
        if (p.size() == path.size()) return std::pair{&f, std::string_view{}};
        if (path[p.size()] == '/' && !below) below = &f;
    }
    if (below) return std::pair{below, path.substr(below->path.size() + 1)};
    return fail(fault(folder ? ArchiveFault::IsAFolder : ArchiveFault::NoSuchMember, join(where, path)));
}

Bytes dataOf(Bytes archive, const ArchiveEntry& f) {
    return archive.subspan(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.size));
}

Expected<Located, ArchiveError> locate(Member current, std::string_view name, std::string_view rest, Context& ctx,
                                       unsigned depth) {
    if (depth > ctx.limits.maxDepth) return fail(fault(ArchiveFault::TooDeep, current.path));
    current.kind = detectKind(current.bytes, name);
    if (isWrapper(current.kind)) {
        auto layer = unwrap(current.kind, current.bytes, current.path, ctx);
        if (!layer) return fail(layer.error());
        current.bytes = layer->inner;
        if (layer->storage) current.storage = layer->storage;
        return locate(std::move(current), name, rest, ctx, depth + 1);
    }
    if (rest.empty()) return Located{std::move(current), {}};
    if (!isArchive(current.kind)) return Located{std::move(current), std::string(rest)};
    const auto archive = openArchive(current.kind, current.bytes, current.path);
    if (!archive) return fail(archive.error());
    const auto found = find(*archive, rest, current.path);
    if (!found) return fail(found.error());
    const ArchiveEntry& entry = *found->first;
    Member child{join(current.path, entry.path), FileKind::Unknown, dataOf(current.bytes, entry), current.storage};
    return locate(std::move(child), entry.name(), found->second, ctx, depth + 1);
}

Expected<std::vector<std::uint8_t>, ArchiveError> rewrap(FileKind kind, Bytes outer, const Layer& layer,
                                                        const std::vector<std::uint8_t>& inner,
                                                        std::string_view where, const ReplaceOptions& options) {
    switch (kind) {
        case FileKind::Yaz0: {
            Yaz0Options yaz0 = options.yaz0;
            std::copy(outer.begin() + 8, outer.begin() + 16, yaz0.reserved);
            // Padding after the stream, as Super Mario Galaxy's files have, is kept.
            yaz0.padTo = layer.streamEnd < outer.size() && outer.size() % 32 == 0 ? 32 : 1;
            auto out = yaz0Compress(inner, yaz0);
            if (!out) return fail(compression(out.error(), where, kind));
            return std::move(out).value();
        }
        case FileKind::Lz77: {
            auto stream = lz77Compress(inner);
            if (!stream) return fail(compression(stream.error(), where, kind));
            ByteWriter out(stream->size() + 8);
            out.append(outer.first(4));
            out.append(*stream);
            out.alignTo(4);
            return out.take();
        }
        case FileKind::Imd5: {
            ByteWriter out(inner.size() + kImd5Header);
            out.append(outer.first(4));
            out.u32be(static_cast<std::uint32_t>(inner.size()));
            out.append(outer.subspan(8, 8));
            out.append(md5(inner));
            out.append(inner);
            out.append(outer.subspan(kImd5Header + layer.inner.size()));
            return out.take();
        }
        case FileKind::Imet: {
            ByteWriter out(std::vector<std::uint8_t>(outer.begin(), outer.begin() + static_cast<std::ptrdiff_t>(layer.innerAt)));
            const std::size_t start = imetStart(outer);
            const auto before = parseU8(layer.inner);
            const auto after = parseU8(inner);
            if (before && after) {
                const char* parts[3] = {"icon.bin", "banner.bin", "sound.bin"};
                for (unsigned k = 0; k < 3; ++k) {
                    const auto named = [&](const U8Archive& a) -> const ArchiveEntry* {
                        for (const ArchiveEntry& f : a.files)
                            if (sameName(f.name(), parts[k])) return &f;
                        return nullptr;
                    };
                    const ArchiveEntry* was = named(*before);
                    const ArchiveEntry* now = named(*after);
                    if (was && now && !sameBytes(dataOf(layer.inner, *was), dataOf(inner, *now)))
                        out.u32beAt(start + 0x4C + 4 * k, partSize(dataOf(inner, *now)));
                }
            }
            std::vector<std::uint8_t>& bytes = out.data();
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start + kImetDigest), 16, 0);
            const Md5Digest digest = md5(std::span(bytes).subspan(start, kImetBlock));
            out.bytesAt(start + kImetDigest, digest);
            out.append(inner);
            if (!out.ok()) return fail(fault(ArchiveFault::TooLargeToWrite, where));
            return out.take();
        }
        default: break;
    }
    return fail(fault(ArchiveFault::NotAnArchive, where));
}

Expected<std::vector<std::uint8_t>, ArchiveError> replaceIn(Bytes bytes, std::string_view name, std::string_view where,
                                                           std::string_view rest, Bytes replacement, Context& ctx,
                                                           const ReplaceOptions& options, unsigned depth) {
    if (depth > ctx.limits.maxDepth) return fail(fault(ArchiveFault::TooDeep, where));
    const FileKind kind = detectKind(bytes, name);
    if (isWrapper(kind)) {
        const auto layer = unwrap(kind, bytes, where, ctx);
        if (!layer) return fail(layer.error());
        auto inner = replaceIn(layer->inner, name, where, rest, replacement, ctx, options, depth + 1);
        if (!inner) return inner;
        if (sameBytes(*inner, layer->inner)) return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
        return rewrap(kind, bytes, *layer, *inner, where, options);
    }
    if (rest.empty()) return std::vector<std::uint8_t>(replacement.begin(), replacement.end());
    if (!isArchive(kind)) return fail(fault(ArchiveFault::NotAnArchive, where));
    const auto archive = openArchive(kind, bytes, where);
    if (!archive) return fail(archive.error());
    const auto found = find(*archive, rest, where);
    if (!found) return fail(found.error());
    const ArchiveEntry& entry = *found->first;
    const Bytes old = dataOf(bytes, entry);
    auto member = replaceIn(old, entry.name(), join(where, entry.path), found->second, replacement, ctx, options,
                            depth + 1);
    if (!member) return member;
    if (sameBytes(*member, old)) return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    return rebuild(*archive, {entry.index, *member}, where);
}

// Returns a failure only for the outer file (`top`); members' go to `visit`.
Expected<void, ArchiveError> walk(Member current, std::string_view name, Context& ctx, unsigned depth, bool top,
                                  const std::function<void(FoundMember&&)>& visit) {
    const auto report = [&](ArchiveError e) -> Expected<void, ArchiveError> {
        if (top) return fail(std::move(e));
        visit({std::move(current), std::move(e)});
        return {};
    };
    if (depth > ctx.limits.maxDepth) return report(fault(ArchiveFault::TooDeep, current.path));
    current.kind = detectKind(current.bytes, name);
    if (isWrapper(current.kind)) {
        auto layer = unwrap(current.kind, current.bytes, current.path, ctx);
        if (!layer) return report(layer.error());
        current.bytes = layer->inner;
        if (layer->storage) current.storage = layer->storage;
        return walk(std::move(current), name, ctx, depth + 1, top, visit);
    }
    if (isArchive(current.kind)) {
        const auto archive = openArchive(current.kind, current.bytes, current.path);
        if (!archive) return report(archive.error());
        // Members a path cannot name are left out: those without a name, and
        // those behind an earlier one of the same path (a lookup finds the first).
        std::set<std::string> seen;
        for (const ArchiveEntry& f : archive->files()) {
            if (f.name().empty() || !seen.insert(folded(f.path)).second) continue;
            Member child{join(current.path, f.path), FileKind::Unknown, dataOf(current.bytes, f), current.storage};
            const auto done = walk(std::move(child), f.name(), ctx, depth + 1, false, visit);
            (void)done;  // members report through visit
        }
        return {};
    }
    if (holdsTextures(current.kind)) {
        visit({std::move(current), std::nullopt});
        return {};
    }
    if (top) return fail(fault(ArchiveFault::NotReadable, current.path));
    return {};
}

}  // namespace

Expected<Located, ArchiveError> openPath(std::span<const std::uint8_t> file, std::string_view fileName,
                                         std::string_view path, const PathLimits& limits) {
    Context ctx{limits};
    const std::string clean = normalise(path);
    return locate(Member{{}, FileKind::Unknown, file, nullptr}, fileName, clean, ctx, 0);
}

Expected<std::vector<std::uint8_t>, ArchiveError> replaceMember(std::span<const std::uint8_t> file,
                                                                std::string_view fileName,
                                                                std::string_view memberPath,
                                                                std::span<const std::uint8_t> bytes,
                                                                const ReplaceOptions& options) {
    Context ctx{options.limits};
    const std::string clean = normalise(memberPath);
    return replaceIn(file, fileName, {}, clean, bytes, ctx, options, 0);
}

Expected<void, ArchiveError> walkTextureMembers(std::span<const std::uint8_t> file, std::string_view fileName,
                                                const std::function<void(FoundMember&&)>& visit,
                                                const PathLimits& limits) {
    Context ctx{limits};
    return walk(Member{{}, FileKind::Unknown, file, nullptr}, fileName, ctx, 0, true, visit);
}

}  // namespace tplforge
