// BRRES files. Reads: the 16-byte header, the root section's index group of
// folders and each folder's index group, every name and offset checked against
// the file. Writes: TEX0 and PLT0 replaced in place, or the file laid out again
// (textures and palettes alone) or grown at its end (files with other subfiles),
// index groups rebuilt wherever an entry is added; new files of textures.
#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <set>

#include "tplforge/bytes.h"
#include "codec/containers/brres.h"

namespace tplforge::containers {

namespace {

constexpr std::size_t kGroupEntry = 16;

bool foldedEqual(std::string_view a, std::string_view b) {
    const auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return low(x) == low(y); });
}

// Entries must point into [lo, hi): the root's folders at groups inside it,
// folders' entries at subfiles after it; names lie after it too.
Expected<std::vector<BrresEntry>, ContainerError> readGroup(Bytes file, std::uint64_t at, const std::string& where,
                                                           std::uint64_t lo, std::uint64_t hi, std::uint64_t namesFrom) {
    const auto head = sliceAt(file, at, 8);
    if (!head) return fail(error(ContainerFault::BrresGroupPastEnd, 0, where));
    ByteReader h(*head);
    h.skip(4);
    const std::uint32_t count = *h.u32be();
    const auto table = sliceAt(file, at + 8, (std::uint64_t{count} + 1) * kGroupEntry);
    if (!table) return fail(error(ContainerFault::BrresGroupPastEnd, 0, where));
    std::vector<BrresEntry> out;
    out.reserve(count);
    ByteReader r(*table);
    r.skip(kGroupEntry);
    for (std::uint32_t i = 1; i <= count; ++i) {
        r.skip(8);
        const std::uint64_t nameAt = at + *r.u32be();
        const std::uint64_t dataAt = at + *r.u32be();
        if (dataAt < lo || dataAt >= hi) return fail(error(ContainerFault::BrresEntryOutside, i, where));
        auto name = nameAt >= namesFrom + 4 ? brresName(file, nameAt) : std::nullopt;
        if (!name) return fail(error(ContainerFault::BrresNamePastEnd, i, where));
        out.push_back({std::move(*name), nameAt, dataAt, at + 8 + kGroupEntry * i});
    }
    return out;
}

unsigned highestBit(std::uint8_t x) { return x == 0 ? 0 : static_cast<unsigned>(std::bit_width(x)) - 1; }

bool bitOf(std::string_view name, std::uint16_t id) {
    const std::size_t c = id >> 3;
    return c < name.size() && (static_cast<std::uint8_t>(name[c]) >> (id & 7) & 1) != 0;
}

std::uint16_t difference(std::string_view old, std::string_view now) {
    if (old.size() < now.size())
        return static_cast<std::uint16_t>((now.size() - 1) << 3 | highestBit(static_cast<std::uint8_t>(now.back())));
    for (std::size_t k = now.size(); k-- > 0;)
        if (old[k] != now[k])
            return static_cast<std::uint16_t>(k << 3 | highestBit(static_cast<std::uint8_t>(old[k] ^ now[k])));
    return 0xFFFF;
}

// Where everything of a BRRES is to go: names and subfiles by absolute offset.
struct Placed {
    std::string name;
    std::uint64_t nameAt = 0;
    std::uint64_t dataAt = 0;
};
struct PlacedFolder {
    Placed self;  // dataAt: its group, set by writeRoot
    std::vector<Placed> entries;
};

const std::string& nameOf(const PlacedFolder& f) { return f.self.name; }
const std::string& nameOf(const NewFolder& f) { return f.name; }

std::uint64_t groupSize(std::size_t entries) { return 8 + kGroupEntry * (entries + 1); }

std::uint64_t rootSize(const std::vector<PlacedFolder>& folders) {
    std::uint64_t size = 8 + groupSize(folders.size());
    for (const PlacedFolder& f : folders) size += groupSize(f.entries.size());
    return size;
}

void writeGroup(ByteWriter& out, const std::vector<Placed>& entries) {
    const std::uint64_t at = out.size();
    std::vector<std::string> names;
    for (const Placed& e : entries) names.push_back(e.name);
    const std::vector<DictNode> dict = buildDict(names);
    out.u32be(static_cast<std::uint32_t>(groupSize(entries.size())));
    out.u32be(static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < dict.size(); ++i) {
        out.u16be(dict[i].id);
        out.u16be(0);
        out.u16be(dict[i].left);
        out.u16be(dict[i].right);
        out.u32be(i == 0 ? 0 : static_cast<std::uint32_t>(entries[i - 1].nameAt - at));
        out.u32be(i == 0 ? 0 : static_cast<std::uint32_t>(entries[i - 1].dataAt - at));
    }
}

// The root section at out.size(): "root", its size, the group of folders, then
// each folder's group.
void writeRoot(ByteWriter& out, std::vector<PlacedFolder>& folders) {
    const std::uint64_t rootAt = out.size();
    std::uint64_t at = rootAt + 8 + groupSize(folders.size());
    for (PlacedFolder& f : folders) {
        f.self.dataAt = at;
        at += groupSize(f.entries.size());
    }
    out.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("root"), 4));
    out.u32be(static_cast<std::uint32_t>(rootSize(folders)));
    std::vector<Placed> selves;
    for (const PlacedFolder& f : folders) selves.push_back(f.self);
    writeGroup(out, selves);
    for (const PlacedFolder& f : folders) writeGroup(out, f.entries);
}

// Sets a placed subfile's offsets back to the BRRES and to its name.
void placeSubfile(ByteWriter& out, std::uint64_t at, std::uint64_t nameAt) {
    const std::size_t field = nameField(std::span<const std::uint8_t>(out.data()).subspan(static_cast<std::size_t>(at)));
    out.u32beAt(static_cast<std::size_t>(at + 0x0C), static_cast<std::uint32_t>(-static_cast<std::int64_t>(at)));
    out.u32beAt(static_cast<std::size_t>(at + field), static_cast<std::uint32_t>(nameAt - at));
}

void appendName(ByteWriter& out, std::string_view name) {
    out.u32be(static_cast<std::uint32_t>(name.size()));
    for (char c : name) out.u8(static_cast<std::uint8_t>(c));
    out.u8(0);
    out.alignTo(4);
}

std::optional<std::uint32_t> subfileSize(Bytes file, std::uint64_t at) {
    ByteReader r(file);
    if (!r.seek(static_cast<std::size_t>(at)) || !r.skip(4)) return std::nullopt;
    const auto size = r.u32be();
    if (!size || *size < 8 || !sliceAt(file, at, *size)) return std::nullopt;
    return size;
}

bool isTextureOrPalette(Bytes file, std::uint64_t at) {
    const auto magic = sliceAt(file, at, 4);
    return magic && (std::memcmp(magic->data(), "TEX0", 4) == 0 || std::memcmp(magic->data(), "PLT0", 4) == 0);
}

}  // namespace

const BrresFolder* Brres::folder(std::string_view name) const {
    for (const BrresFolder& f : folders)
        if (f.self.name == name) return &f;
    return nullptr;
}

Expected<Brres, ContainerError> parseBrres(Bytes file) {
    ByteReader h(file);
    if (!h.has(16)) return fail(error(ContainerFault::TooShort));
    h.seek(12);
    const std::uint16_t rootAt = *h.u16be();
    const auto rootHead = sliceAt(file, rootAt, 8);
    if (!rootHead || std::memcmp(rootHead->data(), "root", 4) != 0) return fail(error(ContainerFault::BrresNoRoot));
    ByteReader r(*rootHead);
    r.skip(4);
    const std::uint64_t rootEnd = std::uint64_t{rootAt} + *r.u32be();
    if (rootEnd > file.size()) return fail(error(ContainerFault::BrresNoRoot));
    auto folders = readGroup(file, rootAt + 8, "root", rootAt + 8, rootEnd, rootEnd);
    if (!folders) return fail(folders.error());
    Brres out;
    out.bytes = file;
    out.rootEnd = rootEnd;
    for (BrresEntry& f : *folders) {
        auto entries = readGroup(file, f.dataAt, f.name, rootEnd, file.size(), rootEnd);
        if (!entries) return fail(entries.error());
        out.folders.push_back({std::move(f), std::move(entries).value()});
    }
    // Names lie apart from the subfiles' headers, which a rewrite changes.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> headers;
    for (const BrresFolder& f : out.folders)
        for (const BrresEntry& e : f.entries)
            headers.push_back({e.dataAt, e.dataAt + (isTextureOrPalette(file, e.dataAt) ? kSubfileHeader : 0x10)});
    std::sort(headers.begin(), headers.end());
    const auto onHeader = [&](const BrresEntry& e) {
        const std::uint64_t from = e.nameAt - 4, to = e.nameAt + e.name.size() + 1;
        auto it = std::upper_bound(headers.begin(), headers.end(), std::pair{to, std::uint64_t{0}});
        // Headers are at most 0x40 long: only those starting shortly before can reach in.
        for (; it != headers.begin(); --it) {
            const auto& h = *(it - 1);
            if (h.first + kSubfileHeader <= from) break;
            if (h.first < to && from < h.second) return true;
        }
        return false;
    };
    for (const BrresFolder& f : out.folders) {
        if (onHeader(f.self)) return fail(error(ContainerFault::BrresNamePastEnd, 0, f.self.name));
        for (std::size_t i = 0; i < f.entries.size(); ++i)
            if (onHeader(f.entries[i])) return fail(error(ContainerFault::BrresNamePastEnd, static_cast<std::uint32_t>(i + 1), f.self.name));
    }
    return out;
}

std::vector<DictNode> buildDict(const std::vector<std::string>& names) {
    std::vector<DictNode> node(names.size() + 1);
    const auto label = [&](std::size_t i) { return i == 0 ? std::string_view{} : std::string_view(names[i - 1]); };
    for (std::size_t i = 1; i < node.size(); ++i) {
        const std::string_view name = label(i);
        DictNode& e = node[i];
        e.id = difference({}, name);
        e.left = e.right = static_cast<std::uint16_t>(i);
        std::size_t prev = 0;
        std::size_t ci = node[0].left;
        bool right = false;
        while (e.id <= node[ci].id && node[ci].id < node[prev].id) {
            if (e.id == node[ci].id) {
                e.id = difference(label(ci), name);
                if (bitOf(label(ci), e.id)) {
                    e.left = static_cast<std::uint16_t>(i);
                    e.right = static_cast<std::uint16_t>(ci);
                } else {
                    e.left = static_cast<std::uint16_t>(ci);
                    e.right = static_cast<std::uint16_t>(i);
                }
            }
            prev = ci;
            right = bitOf(name, node[ci].id);
            ci = right ? node[ci].right : node[ci].left;
        }
        if (label(ci).size() == name.size() && bitOf(label(ci), e.id))
            e.right = static_cast<std::uint16_t>(ci);
        else
            e.left = static_cast<std::uint16_t>(ci);
        if (right)
            node[prev].right = static_cast<std::uint16_t>(i);
        else
            node[prev].left = static_cast<std::uint16_t>(i);
    }
    return node;
}

Expected<std::vector<std::uint8_t>, ContainerError> layOutBrres(const std::vector<NewFolder>& folders) {
    std::vector<PlacedFolder> placed;
    for (const NewFolder& f : folders) {
        PlacedFolder p{{f.name, 0, 0}, {}};
        for (const NewSubfile& e : f.entries) p.entries.push_back({e.name, 0, 0});
        placed.push_back(std::move(p));
    }
    // Subfiles 32-aligned after the root, then the names, sorted, then zeros to 128.
    std::uint64_t at = alignUp(0x10 + rootSize(placed), 32);
    std::size_t subfiles = 0;
    for (std::size_t k = 0; k < folders.size(); ++k)
        for (std::size_t i = 0; i < folders[k].entries.size(); ++i) {
            at = alignUp(at, 32);
            placed[k].entries[i].dataAt = at;
            at += folders[k].entries[i].bytes.size();
            ++subfiles;
        }
    std::set<std::string> unique;
    for (const NewFolder& f : folders) {
        unique.insert(f.name);
        for (const NewSubfile& e : f.entries) unique.insert(e.name);
    }
    const std::uint64_t namesAt = alignUp(at, 4);
    std::map<std::string, std::uint64_t> nameAt;
    at = namesAt;
    for (const std::string& name : unique) {
        nameAt[name] = at + 4;
        at += alignUp(4 + name.size() + 1, 4);
    }
    const std::uint64_t size = alignUp(at, 128);
    if (size > 0x7FFFFFFF || subfiles + 1 > 0xFFFF) return fail(error(ContainerFault::TooLarge));
    for (PlacedFolder& f : placed) {
        f.self.nameAt = nameAt[f.self.name];
        for (Placed& e : f.entries) e.nameAt = nameAt[e.name];
    }

    ByteWriter out(static_cast<std::size_t>(size));
    out.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("bres\xFE\xFF\0\0"), 8));
    out.u32be(static_cast<std::uint32_t>(size));
    out.u16be(0x10);
    out.u16be(static_cast<std::uint16_t>(subfiles + 1));
    writeRoot(out, placed);
    for (std::size_t k = 0; k < folders.size(); ++k)
        for (std::size_t i = 0; i < folders[k].entries.size(); ++i) {
            const Placed& p = placed[k].entries[i];
            out.zeros(static_cast<std::size_t>(p.dataAt - out.size()));
            out.append(folders[k].entries[i].bytes);
            placeSubfile(out, p.dataAt, p.nameAt);
        }
    out.zeros(static_cast<std::size_t>(namesAt - out.size()));
    for (const std::string& name : unique) appendName(out, name);
    out.zeros(static_cast<std::size_t>(size - out.size()));
    if (!out.ok()) return fail(error(ContainerFault::TooLarge));
    return out.take();
}

Expected<std::vector<TextureEntry>, ContainerError> brresTextures(Bytes file) {
    const auto brres = parseBrres(file);
    if (!brres) return fail(brres.error());
    std::vector<TextureEntry> out;
    const BrresFolder* textures = brres->folder(kTextures);
    if (!textures) return out;
    const BrresFolder* palettes = brres->folder(kPalettes);
    for (const BrresEntry& e : textures->entries) {
        const auto h = readTex0(file, e.dataAt);
        if (!h) return fail(error(ContainerFault::BadSubfile, 0, e.name));
        std::optional<std::uint64_t> paletteAt;
        if (palettes)
            for (const BrresEntry& p : palettes->entries)
                if (!paletteAt && p.name == e.name) paletteAt = p.dataAt;
        auto view = tex0View(file, e.dataAt, *h, file, paletteAt, e.name);
        if (!view) return fail(view.error());
        out.push_back({e.name, {}, std::move(view).value(), std::nullopt});
    }
    return out;
}

namespace {

struct Target {
    const BrresEntry* texture = nullptr;
    Tex0Header tex0;
    std::uint64_t texRoom = 0;  // bytes it may fill: its size, unless something else starts first
    const BrresEntry* palette = nullptr;  // the PLT0 of the same name, if any
    std::optional<Plt0Header> plt0;
    std::uint64_t paletteRoom = 0;
};

// A subfile's size as far as it does not run into the next thing the file holds.
std::uint64_t roomAt(const Brres& brres, std::uint64_t at, std::uint64_t size) {
    std::uint64_t next = brres.bytes.size();
    const auto consider = [&](std::uint64_t start) {
        if (start > at) next = std::min(next, start);
    };
    consider(brres.rootEnd);
    for (const BrresFolder& f : brres.folders) {
        consider(f.self.dataAt);
        consider(f.self.nameAt - 4);
        for (const BrresEntry& e : f.entries) {
            consider(e.dataAt);
            consider(e.nameAt - 4);
        }
    }
    return std::min(size, next - at);
}

// Writes a TEX0's header fields and texels over the old ones, the rest of its
// room zero; `base` is where the subfile starts.
void patchTex0(ByteWriter& out, std::uint64_t base, const Tex0Header& h, std::uint64_t room, const TextureData& data) {
    const auto at = static_cast<std::size_t>(base);
    const std::size_t s = h.shift;
    const std::uint64_t size = h.dataOffset + data.texels.size();
    if (size != h.size) out.u32beAt(at + 4, static_cast<std::uint32_t>(size));
    out.u32beAt(at + 0x18 + s, data.palette.empty() ? 0 : 1);
    out.u16beAt(at + 0x1C + s, static_cast<std::uint16_t>(data.width));
    out.u16beAt(at + 0x1E + s, static_cast<std::uint16_t>(data.height));
    out.u32beAt(at + 0x20 + s, static_cast<std::uint32_t>(data.format));
    if (data.levels != h.images) {
        out.u32beAt(at + 0x24 + s, data.levels);
        out.u32beAt(at + 0x2C + s, std::bit_cast<std::uint32_t>(static_cast<float>(data.levels - 1)));
    }
    out.bytesAt(at + h.dataOffset, data.texels);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(room - size), 0);
    out.bytesAt(static_cast<std::size_t>(at + size), zeros);
}

void patchPlt0(ByteWriter& out, std::uint64_t base, const Plt0Header& h, std::uint64_t room, const TextureData& data) {
    const auto at = static_cast<std::size_t>(base);
    const std::uint64_t size = h.dataOffset + 2 * data.palette.size();
    if (size != h.size) out.u32beAt(at + 4, static_cast<std::uint32_t>(size));
    out.u32beAt(at + 0x18, static_cast<std::uint32_t>(data.paletteFormat));
    out.u16beAt(at + 0x1C, static_cast<std::uint16_t>(data.palette.size()));
    for (std::size_t i = 0; i < data.palette.size(); ++i)
        out.u16beAt(at + h.dataOffset + 2 * i, data.palette[i]);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(room - size), 0);
    out.bytesAt(static_cast<std::size_t>(at + size), zeros);
}

std::uint32_t newVersion(std::uint32_t old) { return old == 1 ? 1 : 3; }

// A palettes folder goes after the textures, as the folder lists of peer tools have it.
template <class Folder>
void insertPalettes(std::vector<Folder>& folders, Folder palettes) {
    const auto textures = std::find_if(folders.begin(), folders.end(), [](const Folder& f) { return nameOf(f) == kTextures; });
    folders.insert(textures == folders.end() ? textures : textures + 1, std::move(palettes));
}
PlacedFolder& findPalettes(std::vector<PlacedFolder>& folders) {
    return *std::find_if(folders.begin(), folders.end(), [](const PlacedFolder& f) { return f.self.name == kPalettes; });
}

Expected<std::vector<std::uint8_t>, ContainerError> layOutAgain(const Brres& brres, const Target& t,
                                                               const TextureData& data) {
    std::vector<NewFolder> folders;
    for (const BrresFolder& f : brres.folders) {
        NewFolder folder{f.self.name, {}};
        for (const BrresEntry& e : f.entries) {
            std::vector<std::uint8_t> bytes;
            if (&e == t.texture) {
                bytes = tex0Subfile(data, newVersion(t.tex0.version));
            } else if (&e == t.palette && !data.palette.empty()) {
                bytes = plt0Subfile(data, t.plt0 ? newVersion(t.plt0->version) : newVersion(t.tex0.version));
            } else {
                const auto size = subfileSize(brres.bytes, e.dataAt);
                if (!size) return fail(error(ContainerFault::BadSubfile, 0, e.name));
                const auto from = brres.bytes.subspan(static_cast<std::size_t>(e.dataAt), *size);
                bytes.assign(from.begin(), from.end());
            }
            folder.entries.push_back({e.name, std::move(bytes)});
        }
        folders.push_back(std::move(folder));
    }
    if (!data.palette.empty() && !t.palette) {
        if (!brres.folder(kPalettes)) insertPalettes(folders, NewFolder{kPalettes, {}});
        std::find_if(folders.begin(), folders.end(), [](const NewFolder& f) { return f.name == kPalettes; })
            ->entries.push_back({t.texture->name, plt0Subfile(data, newVersion(t.tex0.version))});
    }
    return layOutBrres(folders);
}

// Every other byte stays where it was; what no longer fits goes to the end.
Expected<std::vector<std::uint8_t>, ContainerError> growAtEnd(const Brres& brres, const Target& t,
                                                             const TextureData& data, bool texFits, bool paletteFits) {
    const Bytes file = brres.bytes;
    const bool addEntry = !data.palette.empty() && !t.palette;
    const BrresFolder* palettes = brres.folder(kPalettes);
    std::vector<PlacedFolder> folders;
    for (const BrresFolder& f : brres.folders) {
        PlacedFolder p{{f.self.name, f.self.nameAt, f.self.dataAt}, {}};
        for (const BrresEntry& e : f.entries) p.entries.push_back({e.name, e.nameAt, e.dataAt});
        folders.push_back(std::move(p));
    }

    ByteWriter out(file.size() + data.texels.size() + 512);
    std::uint64_t shift = 0;
    std::uint64_t rootAt = 0;
    {
        ByteReader h(file);
        h.seek(12);
        rootAt = *h.u16be();
    }
    if (addEntry) {
        // The groups grow: everything after them moves by a multiple of 32.
        std::vector<PlacedFolder> grown = folders;
        if (!palettes) insertPalettes(grown, {{kPalettes, 0, 0}, {}});
        findPalettes(grown).entries.push_back({t.texture->name, 0, 0});
        const std::uint64_t grownEnd = rootAt + rootSize(grown);
        shift = grownEnd > brres.rootEnd ? alignUp(grownEnd - brres.rootEnd, 32) : 0;
    }
    out.append(file.first(static_cast<std::size_t>(brres.rootEnd)));
    out.zeros(static_cast<std::size_t>(shift));
    out.append(file.subspan(static_cast<std::size_t>(brres.rootEnd)));
    const auto moved = [&](std::uint64_t at) { return at >= brres.rootEnd ? at + shift : at; };
    if (shift > 0)
        for (PlacedFolder& f : folders) {
            f.self.nameAt = moved(f.self.nameAt);
            for (Placed& e : f.entries) {
                e.nameAt = moved(e.nameAt);
                e.dataAt = moved(e.dataAt);
                if (e.dataAt + 0x10 <= out.size())
                    out.u32beAt(static_cast<std::size_t>(e.dataAt + 0x0C),
                                static_cast<std::uint32_t>(-static_cast<std::int64_t>(e.dataAt)));
            }
        }

    // Entries by folder and place, as the parsed file and `folders` both hold them.
    const auto placeOf = [&](const BrresEntry* entry) {
        for (std::size_t k = 0; k < brres.folders.size(); ++k)
            for (std::size_t i = 0; i < brres.folders[k].entries.size(); ++i)
                if (&brres.folders[k].entries[i] == entry) return std::pair{k, i};
        return std::pair{std::size_t{0}, std::size_t{0}};
    };
    const auto [tk, ti] = placeOf(t.texture);
    // The old bytes are cleared, unless another entry shares them.
    const auto zeroOld = [&](std::uint64_t at, std::uint64_t size) {
        std::size_t users = 0;
        for (const PlacedFolder& f : folders)
            for (const Placed& e : f.entries) users += e.dataAt == at;
        if (users == 1)
            out.bytesAt(static_cast<std::size_t>(at), std::vector<std::uint8_t>(static_cast<std::size_t>(size), 0));
    };
    const auto append = [&](const std::vector<std::uint8_t>& subfile, std::uint64_t nameAt) {
        out.alignTo(32);
        const std::uint64_t at = out.size();
        out.append(subfile);
        placeSubfile(out, at, nameAt);
        return at;
    };

    const std::uint64_t textureName = folders[tk].entries[ti].nameAt;
    if (texFits) {
        patchTex0(out, folders[tk].entries[ti].dataAt, t.tex0, t.texRoom, data);
    } else {
        zeroOld(folders[tk].entries[ti].dataAt, t.texRoom);
        folders[tk].entries[ti].dataAt = append(tex0Subfile(data, newVersion(t.tex0.version)), textureName);
    }
    if (!data.palette.empty()) {
        const std::uint32_t version = t.plt0 ? newVersion(t.plt0->version) : newVersion(t.tex0.version);
        if (t.palette) {
            const auto [pk, pi] = placeOf(t.palette);
            Placed& palette = folders[pk].entries[pi];
            if (paletteFits) {
                patchPlt0(out, palette.dataAt, *t.plt0, t.paletteRoom, data);
            } else {
                zeroOld(palette.dataAt, t.paletteRoom);
                palette.dataAt = append(plt0Subfile(data, version), textureName);
            }
        } else {
            if (!palettes) {
                out.alignTo(4);
                const std::uint64_t folderName = out.size() + 4;
                appendName(out, kPalettes);
                insertPalettes(folders, {{kPalettes, folderName, 0}, {}});
            }
            const std::uint64_t at = append(plt0Subfile(data, version), textureName);
            findPalettes(folders).entries.push_back({t.texture->name, textureName, at});
        }
    }
    out.zeros(static_cast<std::size_t>(alignUp(out.size(), 128) - out.size()));
    if (out.size() > 0x7FFFFFFF) return fail(error(ContainerFault::TooLarge));
    out.u32beAt(8, static_cast<std::uint32_t>(out.size()));

    if (addEntry) {
        ByteReader h(file);
        h.seek(14);
        out.u16beAt(14, static_cast<std::uint16_t>(*h.u16be() + 1));
        ByteWriter root;
        root.zeros(static_cast<std::size_t>(rootAt));
        writeRoot(root, folders);
        out.bytesAt(static_cast<std::size_t>(rootAt), std::span(root.data()).subspan(static_cast<std::size_t>(rootAt)));
    } else {
        // Entries keep their places in the groups; only moved subfiles' offsets change.
        for (std::size_t k = 0; k < brres.folders.size(); ++k)
            for (std::size_t i = 0; i < brres.folders[k].entries.size(); ++i) {
                const BrresEntry& e = brres.folders[k].entries[i];
                const std::uint64_t group = brres.folders[k].self.dataAt;
                out.u32beAt(static_cast<std::size_t>(e.entryAt + 12),
                            static_cast<std::uint32_t>(folders[k].entries[i].dataAt - group));
            }
    }
    if (!out.ok()) return fail(error(ContainerFault::TooLarge));
    return out.take();
}

Expected<std::vector<std::uint8_t>, ContainerError> rewriteBrres(Bytes file, std::string_view name,
                                                                 const TextureData& data) {
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (data.width > 1024 || data.height > 1024) return fail(error(ContainerFault::TooLarge));
    const auto brres = parseBrres(file);
    if (!brres) return fail(brres.error());
    const BrresFolder* textures = brres->folder(kTextures);
    Target t;
    // The first of that name, as the listing names them; ignoring case if none.
    if (textures) {
        for (const BrresEntry& e : textures->entries)
            if (!t.texture && e.name == name) t.texture = &e;
        for (const BrresEntry& e : textures->entries)
            if (!t.texture && foldedEqual(e.name, name)) t.texture = &e;
    }
    if (!t.texture) return fail(error(ContainerFault::NoSuchTexture, 0, std::string(name)));
    const auto tex0 = readTex0(file, t.texture->dataAt);
    if (!tex0) return fail(error(ContainerFault::BadSubfile, 0, t.texture->name));
    t.tex0 = *tex0;
    if (const BrresFolder* palettes = brres->folder(kPalettes))
        for (const BrresEntry& e : palettes->entries)
            if (!t.palette && e.name == t.texture->name) t.palette = &e;
    // A PLT0 that does not read matters only where a palette is wanted.
    if (t.palette) t.plt0 = readPlt0(file, t.palette->dataAt);
    if (t.palette && !t.plt0 && !data.palette.empty()) return fail(error(ContainerFault::BadSubfile, 0, t.palette->name));

    t.texRoom = roomAt(*brres, t.texture->dataAt, t.tex0.size);
    if (t.plt0) t.paletteRoom = roomAt(*brres, t.palette->dataAt, t.plt0->size);
    const auto view = tex0View(file, t.texture->dataAt, t.tex0, file,
                               t.palette ? std::optional(t.palette->dataAt) : std::nullopt, t.texture->name);
    if (view && storedData(*view) == data) return std::vector<std::uint8_t>(file.begin(), file.end());
    const bool texFits = t.tex0.dataOffset >= kSubfileHeader &&
                         std::uint64_t{t.tex0.dataOffset} + data.texels.size() <= t.texRoom;
    const bool paletteFits = data.palette.empty() ||
                             (t.plt0 && t.plt0->dataOffset >= kSubfileHeader &&
                              std::uint64_t{t.plt0->dataOffset} + 2 * data.palette.size() <= t.paletteRoom);
    if (view && sameShape(*view, data) && texFits && paletteFits) {
        std::vector<std::uint8_t> out(file.begin(), file.end());
        overwrite(out, file, *view, data);
        return out;
    }
    if (texFits && paletteFits) {
        ByteWriter out(std::vector<std::uint8_t>(file.begin(), file.end()));
        patchTex0(out, t.texture->dataAt, t.tex0, t.texRoom, data);
        if (!data.palette.empty()) patchPlt0(out, t.palette->dataAt, *t.plt0, t.paletteRoom, data);
        if (!out.ok()) return fail(error(ContainerFault::TooLarge));
        return out.take();
    }
    bool onlyTextures = true;
    for (const BrresFolder& f : brres->folders)
        for (const BrresEntry& e : f.entries)
            if (!isTextureOrPalette(file, e.dataAt)) onlyTextures = false;
    if (onlyTextures) return layOutAgain(*brres, t, data);
    return growAtEnd(*brres, t, data, texFits, paletteFits);
}

}  // namespace

// A file whose names lie over its subfiles (no tool lays one out so, but a
// file may be made so) can come out unreadable once a subfile moves or grows:
// it is refused rather than written.
Expected<std::vector<std::uint8_t>, ContainerError> replaceBrres(Bytes file, std::string_view name,
                                                                 const TextureData& data) {
    auto out = rewriteBrres(file, name, data);
    if (out && !brresTextures(*out)) return fail(error(ContainerFault::CannotRewrite, 0, std::string(name)));
    return out;
}

}  // namespace tplforge::containers
