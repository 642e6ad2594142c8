// U8 and RARC archives, the banner wrappers and paths through all of them:
// the worked U8 example, files laid out as the game's and by hand as real tools
// do, rebuilds that keep every other byte, and one table of refusals.
#include "support/containers.h"
#include "tplforge/archive.h"
#include "tplforge/containers.h"
#include "tplforge/md5.h"
#include "tplforge/tpl.h"

namespace tplforge {
namespace {

using namespace std::literals;
using testing::be16;
using testing::be32;
using testing::bytesOf;
using testing::ByteVector;
using testing::Hand;

// A one-texture RGB5A3 TPL whose texels depend on `seed`.
ByteVector tinyTpl(std::uint8_t seed, std::uint32_t side = 4) {
    TextureLayout layout;
    layout.format = Format::RGB5A3;
    layout.width = layout.height = side;
    auto writer = TplWriter::plan(std::span(&layout, 1));
    EXPECT_TRUE(writer);
    auto level = writer->level(0, 0);
    EXPECT_TRUE(level);
    for (std::size_t i = 0; i < level->size(); ++i) (*level)[i] = static_cast<std::uint8_t>(seed + i);
    return std::move(*writer).finish();
}

ByteVector u8Of(std::initializer_list<std::pair<std::string, ByteVector>> members, U8Layout layout = U8Layout::game()) {
    std::vector<NewMember> list;
    for (const auto& [path, bytes] : members) list.push_back({path, bytes});
    auto out = buildU8(list, layout);
    EXPECT_TRUE(out);
    return out ? *out : ByteVector{};
}

ByteVector szs(const ByteVector& data, Yaz0Mode mode = Yaz0Mode::Nintendo) {
    Yaz0Options options;
    options.mode = mode;
    return *yaz0Compress(data, options);
}

ByteVector bytesIn(const Member& m) { return ByteVector(m.bytes.begin(), m.bytes.end()); }

TEST(U8, WorkedExampleIsWrittenByteForByteAndReadBack) {
    // The 101-byte archive: root, folder "arc", file "arc/a.bin" holding "hello".
    Hand want;
    want.u8(0x55).u8(0xAA).u8(0x38).u8(0x2D).u32(0x20).u32(0x2F).u32(0x60).fill(16);
    want.u8(1).u24(0).u32(0).u32(3);
    want.u8(1).u24(1).u32(0).u32(3);
    want.u8(0).u24(5).u32(0x60).u32(5);
    want.cstr("").cstr("arc").cstr("a.bin").to(0x60).text("hello");
    ASSERT_EQ(want.b.size(), 101u);
    EXPECT_EQ(u8Of({{"arc/a.bin", bytesOf("hello")}}, {false, true, 0}), want.b);

    const auto archive = parseU8(want.b);
    ASSERT_TRUE(archive) << describe(archive.error());
    ASSERT_EQ(archive->files.size(), 1u);
    EXPECT_EQ(archive->files[0].path, "arc/a.bin");
    EXPECT_EQ(archive->files[0].index, 2u);
    EXPECT_EQ(archive->files[0].offset, 0x60u);
    EXPECT_EQ(archive->files[0].size, 5u);
}

// Each node: type, name offset, word 1, word 2.
struct NodeFields {
    std::uint32_t type, name, word1, word2;
};
std::vector<NodeFields> nodesOf(const ByteVector& u8) {
    std::vector<NodeFields> out;
    const std::uint32_t count = be32(u8, 0x28);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = 0x20 + 12 * i;
        out.push_back({u8[at], be32(u8, at) & 0xFFFFFF, be32(u8, at + 4), be32(u8, at + 8)});
    }
    return out;
}
std::string nameOf(const ByteVector& u8, const NodeFields& n) {
    return std::string(reinterpret_cast<const char*>(u8.data()) + 0x20 + 12 * be32(u8, 0x28) + n.name);
}

TEST(U8, GameLayoutGoldenFileHasTheFieldsOfTheGamesArchives) {
    const ByteVector lap = bytesOf("lap texture"), bike = bytesOf("bike"), bike2 = bytesOf("bike, lighter"),
                     layout = ByteVector(40, 7), top = bytesOf("top");
    const ByteVector file = u8Of({{"timg/st_ld_bike.tpl", bike},
                                  {"timg/tt_lap.tpl", lap},
                                  {"blyt/race.brlyt", layout},
                                  {"timg/st_ldf_bike.tpl", bike2},
                                  {"Top.bin", top}});
    testing::expectGolden("game.u8", file);

    EXPECT_EQ(be32(file, 0), 0x55AA382Du);
    EXPECT_EQ(be32(file, 4), 0x20u);
    const auto nodes = nodesOf(file);
    std::uint32_t names = 0;
    for (const NodeFields& n : nodes) names += static_cast<std::uint32_t>(nameOf(file, n).size()) + 1;
    EXPECT_EQ(be32(file, 8), 12 * nodes.size() + names) << "field 8: nodes and names, no padding";
    EXPECT_EQ(be32(file, 12), (0x20 + be32(file, 8) + 31) / 32 * 32);
    EXPECT_EQ(ByteVector(file.begin() + 16, file.begin() + 32), ByteVector(16, 0xCC));

    // Root, ".", then files before folders, each sorted folded to upper case
    // ("st_ldf" before "st_ld_": '_' sorts after the letters).
    std::vector<std::string> order;
    for (const NodeFields& n : nodes) order.push_back(nameOf(file, n));
    EXPECT_EQ(order, (std::vector<std::string>{"", ".", "Top.bin", "blyt", "race.brlyt", "timg", "st_ldf_bike.tpl",
                                               "st_ld_bike.tpl", "tt_lap.tpl"}));
    EXPECT_EQ(nodes[0].type, 1u);
    EXPECT_EQ(nodes[0].word2, nodes.size());
    EXPECT_EQ(nodes[1].word1, 0u);   // "." in the root
    EXPECT_EQ(nodes[5].word1, 1u);   // "timg" in "."
    EXPECT_EQ(nodes[5].word2, 9u);
    EXPECT_EQ(nodes[3].word2, 5u);   // "blyt" ends before "timg"

    // Data in node order from field 12, every file 32-aligned, the gaps zero,
    // the archive ending with the last file.
    std::uint32_t end = be32(file, 12);
    for (const NodeFields& n : nodes) {
        if (n.type != 0) continue;
        EXPECT_EQ(n.word1, (end + 31) / 32 * 32);
        EXPECT_EQ(ByteVector(file.begin() + end, file.begin() + n.word1), ByteVector(n.word1 - end, 0));
        end = n.word1 + n.word2;
    }
    EXPECT_EQ(end, file.size());

    const auto archive = parseU8(file);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->files[0].path, "Top.bin");
    EXPECT_EQ(archive->files[4].path, "timg/tt_lap.tpl");
}

// As community tools write them: no ".", folders before files, data not in
// node order, gaps past the alignment, an extra folder level, padding at the end.
ByteVector handMadeU8() {
    Hand h;
    h.u8(0x55).u8(0xAA).u8(0x38).u8(0x2D).u32(0x20).u32(6 * 12 + 30).u32(0xA0).fill(16, 0xCC);
    h.u8(1).u24(0).u32(0).u32(6);          // root
    h.u8(1).u24(1).u32(0).u32(5);          // arc
    h.u8(1).u24(5).u32(1).u32(4);          // arc/timg
    h.u8(0).u24(10).u32(0xE0).u32(9);      // arc/timg/b.tpl
    h.u8(0).u24(16).u32(0xA0).u32(33);     // arc/a.bin (sits first in the data)
    h.u8(0).u24(22).u32(0x120).u32(3);     // top.txt, 32 bytes past where it could be
    h.cstr("").cstr("arc").cstr("timg").cstr("b.tpl").cstr("a.bin").cstr("top.txt");
    h.to(0xA0, 0).fill(33, 0xA1).to(0xE0).fill(9, 0xB2).to(0x120).text("top").to(0x140);
    return h.b;
}

TEST(U8, HandMadeArchiveRebuildsUnchangedAndMovesOnlyWhatFollowsAResizedMember) {
    const ByteVector file = handMadeU8();
    const auto archive = parseU8(file);
    ASSERT_TRUE(archive) << describe(archive.error());
    ASSERT_EQ(archive->files.size(), 3u);
    EXPECT_EQ(archive->files[0].path, "arc/timg/b.tpl");
    EXPECT_EQ(archive->files[1].path, "arc/a.bin");
    EXPECT_EQ(archive->files[2].path, "top.txt");

    const auto same = rebuildU8(*archive, {});
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, file);

    struct Case {
        std::size_t size;
        std::uint32_t bAt, topAt, end;
    };
    // a.bin (first in the data) grows or shrinks; b.tpl follows at the next 32,
    // top.txt keeps its 32 extra bytes of gap, the end its padding to 32.
    for (const Case c : {Case{33, 0xE0, 0x120, 0x140}, Case{70, 0x100, 0x140, 0x160}, Case{1, 0xC0, 0x100, 0x120}}) {
        const ByteVector bigger(c.size, 0x5A);
        const MemberBytes change{archive->files[1].index, bigger};
        const auto out = rebuildU8(*archive, std::span(&change, 1));
        ASSERT_TRUE(out);
        const auto again = parseU8(*out);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->files[0].offset, c.bAt);
        EXPECT_EQ(again->files[2].offset, c.topAt);
        EXPECT_EQ(out->size(), c.end);
        // Header, nodes and names as they were but for the moved offsets and the size.
        ByteVector head(file.begin(), file.begin() + 0xA0);
        for (const ArchiveEntry& e : again->files) {
            const std::size_t node = 0x20 + 12 * e.index;
            std::copy(out->begin() + static_cast<std::ptrdiff_t>(node + 4), out->begin() + static_cast<std::ptrdiff_t>(node + 12),
                      head.begin() + static_cast<std::ptrdiff_t>(node + 4));
        }
        EXPECT_EQ(ByteVector(out->begin(), out->begin() + 0xA0), head);
        const auto dataOf = [](const ByteVector& f, const ArchiveEntry& e) {
            return ByteVector(f.begin() + static_cast<std::ptrdiff_t>(e.offset),
                              f.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
        };
        EXPECT_EQ(dataOf(*out, again->files[0]), dataOf(file, archive->files[0]));
        EXPECT_EQ(dataOf(*out, again->files[1]), bigger);
        EXPECT_EQ(dataOf(*out, again->files[2]), dataOf(file, archive->files[2]));
    }
}

TEST(U8, ArchivesThatBreakTheirOwnTablesAreRefused) {
    const ByteVector good = u8Of({{"arc/a.bin", bytesOf("hello")}}, {false, true, 0});
    struct Case {
        const char* what;
        std::size_t at;  // a 32-bit field set to `value`, or the file cut to `at` when value is kCut
        std::uint32_t value;
        ArchiveFault fault;
        std::uint32_t item;
    };
    constexpr std::uint32_t kCut = 0xFFFFFFFF;
    const Case cases[] = {
        {"truncated header", 20, kCut, ArchiveFault::Truncated, 0},
        {"node table offset past the end", 4, 0x1000, ArchiveFault::U8NodeTablePastEnd, 0},
        {"node count past the end", 0x28, 400, ArchiveFault::U8NodeTablePastEnd, 0},
        {"root a file", 0x20, 0x00000000, ArchiveFault::U8RootNotFolder, 0},
        {"string table past the end", 8, 0x2F00, ArchiveFault::U8StringTablePastEnd, 0},
        {"name offset past the string table", 0x38, 0x00000040, ArchiveFault::U8NamePastStringTable, 2},
        {"file data past the end", 0x40, 6, ArchiveFault::U8DataPastEnd, 2},
        {"file offset past the end", 0x3C, 0x1000, ArchiveFault::U8DataPastEnd, 2},
        {"folder ending before itself (a loop)", 0x34, 1, ArchiveFault::U8FolderLoop, 1},
        {"folder ending past its parent", 0x34, 4, ArchiveFault::U8FolderLoop, 1},
        {"archive cut inside the data", 0x62, kCut, ArchiveFault::U8DataPastEnd, 2},
    };
    for (const Case& c : cases) {
        ByteVector bad = good;
        if (c.value == kCut)
            bad.resize(c.at);
        else
            Hand{bad}.set32(c.at, c.value).b.swap(bad);
        const auto out = parseU8(bad);
        ASSERT_FALSE(out) << c.what;
        EXPECT_EQ(out.error().fault, c.fault) << c.what << ": " << describe(out.error());
        EXPECT_EQ(out.error().item, c.item) << c.what;
    }
    // Paths longer than any archive holds are refused both ways.
    const std::string folder(kMaxPath, 'f');
    EXPECT_EQ(buildU8(std::vector<NewMember>{{folder + "/a", {}}}).error().fault, ArchiveFault::PathTooLong);
    Hand deep;
    deep.u8(0x55).u8(0xAA).u8(0x38).u8(0x2D).u32(0x20).u32(36 + kMaxPath + 3).u32(0).fill(16);
    deep.u8(1).u24(0).u32(0).u32(3).u8(1).u24(1).u32(0).u32(3).u8(0).u24(0).u32(0).u32(0);
    deep.cstr("").cstr(folder).cstr("");
    const auto tooLong = parseU8(deep.b);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().fault, ArchiveFault::PathTooLong);

    EXPECT_EQ(describe(ArchiveError{ArchiveFault::U8DataPastEnd, 7, {}, "menu.szs/arc"}),
              "menu.szs/arc: U8 node 7 runs past the end of the archive");
}

// A RARC by hand: root "scene" holding a.bti and folder "sub" with b.bin; every
// folder lists "." and "..".
ByteVector handMadeRarc(std::uint32_t subFolderIndex = 1) {
    Hand names;
    names.cstr(".").cstr("..").cstr("scene").cstr("a.bti").cstr("sub").cstr("b.bin");
    // offsets: "."=0 ".."=2 scene=5 a.bti=11 sub=17 b.bin=21
    names.to(32);
    Hand h;
    h.text("RARC").u32(0).u32(0x20).u32(0).u32(0).u32(0).u32(0).u32(0);
    const std::uint32_t folders = 0x20, entries = 0x40, strings = entries + 6 * 20;
    const std::uint32_t data = strings + 32;
    h.u32(2).u32(folders).u32(6).u32(entries).u32(32).u32(strings).u16(6).u8(0).fill(5);
    h.text("ROOT").u32(5).u16(0).u16(3).u32(0);
    h.text("SUB ").u32(17).u16(0).u16(3).u32(3);
    h.u16(0).u16(0).u8(0x01).u8(0).u16(11).u32(0).u32(40).u32(0);        // a.bti
    h.u16(0xFFFF).u16(0).u8(0x02).u8(0).u16(17).u32(subFolderIndex).u32(0x10).u32(0);  // sub
    h.u16(0xFFFF).u16(0).u8(0x02).u8(0).u16(0).u32(0).u32(0x10).u32(0);  // .
    h.u16(1).u16(0).u8(0x01).u8(0).u16(21).u32(64).u32(7).u32(0);         // sub/b.bin
    h.u16(0xFFFF).u16(0).u8(0x02).u8(0).u16(0).u32(1).u32(0x10).u32(0);  // .
    h.u16(0xFFFF).u16(0).u8(0x02).u8(0).u16(2).u32(0).u32(0x10).u32(0);  // ..
    h.bytes(names.b);
    h.fill(40, 0xA0).to(0x20 + data + 64).fill(7, 0xB0).to(0x20 + data + 96);
    h.set32(4, static_cast<std::uint32_t>(h.b.size())).set32(12, data);
    const std::uint32_t dataLength = static_cast<std::uint32_t>(h.b.size()) - 0x20 - data;
    h.set32(16, dataLength).set32(20, dataLength);
    return h.b;
}

TEST(Rarc, ListsFromTheRootReplacesInPlaceOrLaysTheDataOutAgain) {
    const ByteVector file = handMadeRarc();
    const auto archive = parseRarc(file);
    ASSERT_TRUE(archive) << describe(archive.error());
    ASSERT_EQ(archive->files.size(), 2u);
    EXPECT_EQ(archive->files[0].path, "a.bti");  // the root's name left out
    EXPECT_EQ(archive->files[1].path, "sub/b.bin");
    EXPECT_EQ(archive->files[1].size, 7u);

    // Same size: in place, nothing else touched.
    const ByteVector same(7, 0x11);
    const MemberBytes inPlace{archive->files[1].index, same};
    const auto out = rebuildRarc(*archive, std::span(&inPlace, 1));
    ASSERT_TRUE(out);
    ByteVector expected = file;
    std::copy(same.begin(), same.end(), expected.begin() + static_cast<std::ptrdiff_t>(archive->files[1].offset));
    EXPECT_EQ(*out, expected);

    // Longer: b.bin moves to the next 32 after a.bti; sizes in the header follow.
    const ByteVector longer(50, 0x22);
    const MemberBytes grown{archive->files[0].index, longer};
    const auto relaid = rebuildRarc(*archive, std::span(&grown, 1));
    ASSERT_TRUE(relaid);
    const auto again = parseRarc(*relaid);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->files[1].offset - again->dataStart, 64u);
    EXPECT_EQ(ByteVector(relaid->begin() + static_cast<std::ptrdiff_t>(again->files[0].offset),
                         relaid->begin() + static_cast<std::ptrdiff_t>(again->files[0].offset + 50)),
              longer);
    const ByteVector grownMore(70, 0x33);
    const MemberBytes moved{archive->files[0].index, grownMore};
    const auto relaid2 = rebuildRarc(*archive, std::span(&moved, 1));
    ASSERT_TRUE(relaid2);
    const auto again2 = parseRarc(*relaid2);
    ASSERT_TRUE(again2);
    EXPECT_EQ(again2->files[1].offset - again2->dataStart, 96u);
    EXPECT_EQ(ByteVector(relaid2->begin() + static_cast<std::ptrdiff_t>(again2->files[1].offset),
                         relaid2->begin() + static_cast<std::ptrdiff_t>(again2->files[1].offset + 7)),
              ByteVector(7, 0xB0));
    EXPECT_EQ(be32(*relaid2, 4), relaid2->size());
    EXPECT_EQ(be32(*relaid2, 16), relaid2->size() - again2->dataStart);
    EXPECT_EQ(be32(*relaid2, 20), relaid2->size() - again2->dataStart);
    EXPECT_EQ(be32(*relaid2, 24), 0u);

    // A folder entry pointing back at the root is a loop; one past the table too.
    for (std::uint32_t bad : {0u, 2u}) {
        const auto loop = parseRarc(handMadeRarc(bad));
        ASSERT_FALSE(loop);
        EXPECT_EQ(loop.error().fault, ArchiveFault::RarcFolderLoop);
        EXPECT_EQ(loop.error().item, 1u);
    }
}

TEST(FileKind, ToldByContentNotByName) {
    const ByteVector bti = [] {
        Hand h;
        h.u8(5).u8(0).u16(4).u16(4).u8(0).u8(0).u8(0).u8(0).u16(0).u32(0).u8(0).u8(0).u8(0).u8(0).u8(1).u8(1);
        h.u8(0).u8(0).u8(1).u8(0).u16(0).u32(0x20).fill(32, 0x80);
        return h.b;
    }();
    struct Case {
        ByteVector bytes;
        const char* name;
        FileKind kind;
    };
    const Case cases[] = {
        {bytesOf("Yaz0\0\0\0\0"sv), "x.arc", FileKind::Yaz0},
        {bytesOf("Yaz1\0\0\0\0"sv), "", FileKind::Yaz0},
        {bytesOf({0x55, 0xAA, 0x38, 0x2D}), "x.bin", FileKind::U8},
        {bytesOf("RARC"), "x.arc", FileKind::Rarc},
        {Hand{}.fill(0x40).text("IMET").fill(8).b, "opening.bnr", FileKind::Imet},
        {Hand{}.fill(0x80).text("IMET").fill(8).b, "00000000.app", FileKind::Imet},
        {bytesOf("IMD5"), "banner.bin", FileKind::Imd5},
        {bytesOf("LZ77\x10"), "", FileKind::Lz77},
        {bytesOf("LZ77\x11"), "", FileKind::Unknown},
        {bytesOf("WIBN"), "banner.bin", FileKind::Wibn},
        {bytesOf("BNR1"), "opening.bnr", FileKind::Bnr},
        {bytesOf("BNR2"), "", FileKind::Bnr},
        {bytesOf("J3D2bmd3"), "a.bmd", FileKind::J3d},
        {bytesOf("J3D2bdl4"), "a.bdl", FileKind::J3d},
        {bytesOf("bres\xFE\xFF"), "a.brres", FileKind::Brres},
        {bytesOf("TEX0"), "", FileKind::Tex0},
        {bytesOf("PLT0"), "", FileKind::Plt0},
        {bytesOf({0x00, 0x20, 0xAF, 0x30}), "x.bti", FileKind::Tpl},
        {bti, "tex/Face.BTI", FileKind::Bti},
        {bti, "face.bin", FileKind::Unknown},
        {ByteVector(bti.begin(), bti.end() - 1), "face.bti", FileKind::Unknown},
    };
    for (const Case& c : cases) EXPECT_EQ(detectKind(c.bytes, c.name), c.kind) << c.name << " " << kindName(c.kind);
}

// menu.szs: Yaz0 around a U8 holding a TPL, a texture-less file, a BRRES-like
// member and another .szs holding a TPL.
struct Nested {
    ByteVector tpl = tinyTpl(1), innerTpl = tinyTpl(2, 8);
    ByteVector innerArchive = u8Of({{"timg/inner.tpl", innerTpl}, {"notes.txt", bytesOf("not a texture")}});
    ByteVector brres = bytesOf("bres\xFE\xFF\0\0"sv);
    ByteVector outerU8 = u8Of({{"arc/timg/x.tpl", tpl},
                               {"arc/blyt/x.brlyt", bytesOf("RLYT")},
                               {"race/model.brres", brres},
                               {"race/course.szs", szs(innerArchive, Yaz0Mode::Smallest)}});
    ByteVector file = szs(outerU8, Yaz0Mode::Smallest);
};

TEST(Paths, NameMembersThroughArchivesAndCompressionAnyCase) {
    const Nested n;
    struct Case {
        const char* path;
        const char* member;
        FileKind kind;
        const ByteVector* bytes;
        const char* rest;
    };
    const Case cases[] = {
        {"arc/timg/x.tpl", "arc/timg/x.tpl", FileKind::Tpl, &n.tpl, ""},
        {"/ARC/TIMG/X.TPL", "arc/timg/x.tpl", FileKind::Tpl, &n.tpl, ""},
        {"./arc//timg/x.tpl", "arc/timg/x.tpl", FileKind::Tpl, &n.tpl, ""},
        {"race/course.szs/timg/inner.tpl", "race/course.szs/timg/inner.tpl", FileKind::Tpl, &n.innerTpl, ""},
        {"race/course.szs", "race/course.szs", FileKind::U8, &n.innerArchive, ""},
        {"race/model.brres/grass", "race/model.brres", FileKind::Brres, &n.brres, "grass"},
        {"", "", FileKind::U8, &n.outerU8, ""},
    };
    for (const Case& c : cases) {
        const auto located = openPath(n.file, "menu.szs", c.path);
        ASSERT_TRUE(located) << c.path << ": " << describe(located.error());
        EXPECT_EQ(located->member.path, c.member);
        EXPECT_EQ(located->member.kind, c.kind) << c.path;
        EXPECT_EQ(bytesIn(located->member), *c.bytes) << c.path;
        EXPECT_EQ(located->rest, c.rest);
    }
    const std::pair<const char*, ArchiveError> refused[] = {
        {"arc/timg/y.tpl", {ArchiveFault::NoSuchMember, 0, {}, "arc/timg/y.tpl"}},
        {"arc/timg", {ArchiveFault::IsAFolder, 0, {}, "arc/timg"}},
        {"race/course.szs/none", {ArchiveFault::NoSuchMember, 0, {}, "race/course.szs/none"}},
    };
    for (const auto& [path, error] : refused) {
        const auto located = openPath(n.file, "menu.szs", path);
        ASSERT_FALSE(located) << path;
        EXPECT_EQ(describe(located.error()), describe(error));
    }
}

TEST(Paths, ReplacingAMemberChangesOnlyItAndKeepsUntouchedCompressedBytes) {
    const Nested n;
    // Nothing changed: the very same file, though Nintendo's rule would compress it otherwise.
    const auto same = replaceMember(n.file, "menu.szs", "race/course.szs/timg/inner.tpl", n.innerTpl);
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, n.file);

    const ByteVector newTpl = tinyTpl(9, 16);  // larger than the old one
    const auto out = replaceMember(n.file, "menu.szs", "race/course.szs/timg/inner.tpl", newTpl);
    ASSERT_TRUE(out) << describe(out.error());
    const auto outerU8 = yaz0Decompress(*out);
    ASSERT_TRUE(outerU8);
    EXPECT_EQ(*out, szs(*outerU8)) << "recompressed by the Nintendo rule";
    const auto before = parseU8(n.outerU8);
    const auto after = parseU8(*outerU8);
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->files.size(), before->files.size());
    for (std::size_t k = 0; k < after->files.size(); ++k) {
        const auto& a = after->files[k];
        const auto& b = before->files[k];
        EXPECT_EQ(a.path, b.path);
        const ByteVector now(outerU8->begin() + static_cast<std::ptrdiff_t>(a.offset),
                             outerU8->begin() + static_cast<std::ptrdiff_t>(a.offset + a.size));
        const ByteVector was(n.outerU8.begin() + static_cast<std::ptrdiff_t>(b.offset),
                             n.outerU8.begin() + static_cast<std::ptrdiff_t>(b.offset + b.size));
        if (a.path == "race/course.szs") {
            const auto inner = yaz0Decompress(now);
            ASSERT_TRUE(inner);
            const auto located = openPath(*inner, "course", "timg/inner.tpl");
            ASSERT_TRUE(located);
            EXPECT_EQ(bytesIn(located->member), newTpl);
            EXPECT_EQ(bytesIn(openPath(*inner, "course", "notes.txt")->member), bytesOf("not a texture"));
        } else {
            EXPECT_EQ(now, was) << a.path;
        }
    }
    const auto below = replaceMember(n.file, "menu.szs", "race/model.brres/grass", newTpl);
    ASSERT_FALSE(below);
    EXPECT_EQ(below.error().fault, ArchiveFault::NotAnArchive);
}

// opening.bnr as a disc holds it: 64 zeros, IMET, a U8 of meta/ holding IMD5
// parts, banner.bin and icon.bin LZ77-compressed U8 archives of arc/.
struct Banner {
    ByteVector bannerTpl = tinyTpl(3, 8), iconTpl = tinyTpl(4);
    static ByteVector part(const ByteVector& payload, bool lz77) {
        ByteVector body = payload;
        if (lz77) {
            body = bytesOf("LZ77");
            const auto stream = lz77Compress(payload);
            body.insert(body.end(), stream->begin(), stream->end());
            while (body.size() % 4) body.push_back(0);
        }
        const Md5Digest digest = md5(body);
        Hand h;
        h.text("IMD5").u32(static_cast<std::uint32_t>(body.size())).fill(8);
        h.b.insert(h.b.end(), digest.begin(), digest.end());
        return h.bytes(body).b;
    }
    ByteVector bannerU8 = u8Of({{"arc/blyt/banner.brlyt", bytesOf("RLYT")}, {"arc/timg/x.tpl", bannerTpl}},
                               U8Layout::banner());
    ByteVector iconU8 = u8Of({{"arc/timg/icon.tpl", iconTpl}}, U8Layout::banner());
    ByteVector sound = part(bytesOf("BNS sound"), false);
    ByteVector meta = u8Of({{"meta/icon.bin", part(iconU8, true)}, {"meta/banner.bin", part(bannerU8, true)},
                            {"meta/sound.bin", sound}},
                           U8Layout::banner());
    static ByteVector withImet(const ByteVector& meta, std::size_t icon, std::size_t banner) {
        Hand h;
        h.fill(0x40).text("IMET").u32(0x600).u32(3).u32(static_cast<std::uint32_t>(icon))
            .u32(static_cast<std::uint32_t>(banner)).u32(9).u32(0);
        for (char c : "Banner"sv) h.u16(static_cast<std::uint8_t>(c));
        h.to(0x600);
        const Md5Digest d = md5(h.b);
        std::copy(d.begin(), d.end(), h.b.begin() + 0x5F0);
        return h.bytes(meta).b;
    }
    ByteVector file = withImet(meta, iconU8.size(), bannerU8.size());
};

TEST(Paths, BannerTexturesAreReachedAndReplacedWithEveryDigestAndSizeRedone) {
    const Banner b;
    const auto located = openPath(b.file, "opening.bnr", "meta/banner.bin/arc/timg/x.tpl");
    ASSERT_TRUE(located) << describe(located.error());
    EXPECT_EQ(bytesIn(located->member), b.bannerTpl);

    const ByteVector newTpl = tinyTpl(5, 16);
    const auto out = replaceMember(b.file, "opening.bnr", located->member.path, newTpl);
    ASSERT_TRUE(out) << describe(out.error());
    const ByteVector& f = *out;
    // IMET: the block's digest with its own 16 bytes zeroed; banner size follows.
    ByteVector block(f.begin(), f.begin() + 0x600);
    std::fill(block.begin() + 0x5F0, block.end(), 0);
    const Md5Digest imet = md5(block);
    EXPECT_TRUE(std::equal(imet.begin(), imet.end(), f.begin() + 0x5F0));
    EXPECT_EQ(be32(f, 0x4C), b.iconU8.size());
    EXPECT_EQ(be32(f, 0x54), 9u);
    const ByteVector meta(f.begin() + 0x600, f.end());
    const auto parts = parseU8(meta);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->files[1].path, "meta/banner.bin");
    const ByteVector part(meta.begin() + static_cast<std::ptrdiff_t>(parts->files[1].offset),
                          meta.begin() + static_cast<std::ptrdiff_t>(parts->files[1].offset + parts->files[1].size));
    EXPECT_EQ(testing::textAt(part, 0, 4), "IMD5");
    EXPECT_EQ(be32(part, 4), part.size() - 32);
    EXPECT_EQ(part.size() % 4, 0u);
    const Md5Digest digest = md5(std::span(part).subspan(32));
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), part.begin() + 16));
    const auto bannerU8 = lz77Decompress(std::span(part).subspan(36));
    ASSERT_TRUE(bannerU8);
    EXPECT_EQ(be32(f, 0x50), bannerU8->size());
    EXPECT_EQ(bytesIn(openPath(*bannerU8, "", "arc/timg/x.tpl")->member), newTpl);
    EXPECT_EQ(bytesIn(openPath(*bannerU8, "", "arc/blyt/banner.brlyt")->member), bytesOf("RLYT"));
    const auto before = parseU8(b.meta);
    ASSERT_TRUE(before);
    for (const std::size_t k : {0u, 2u}) {  // icon.bin and sound.bin untouched
        const ArchiveEntry& was = before->files[k];
        EXPECT_EQ(ByteVector(meta.begin() + static_cast<std::ptrdiff_t>(parts->files[k].offset),
                             meta.begin() + static_cast<std::ptrdiff_t>(parts->files[k].offset + parts->files[k].size)),
                  ByteVector(b.meta.begin() + static_cast<std::ptrdiff_t>(was.offset),
                             b.meta.begin() + static_cast<std::ptrdiff_t>(was.offset + was.size)));
    }
}

TEST(Paths, WalkListsEveryTextureMemberAndReportsDamagedOnesWithoutStopping) {
    const Nested n;
    ByteVector broken = szs(tinyTpl(7));
    broken.resize(broken.size() - 6);
    const ByteVector file = u8Of({{"a.tpl", n.tpl}, {"bad.szs", broken}, {"menu.szs", n.file}, {"z.brres", n.brres}});
    std::vector<std::string> found, damaged;
    const auto walked = walkTextureMembers(file, "all.arc", [&](FoundMember&& m) {
        (m.error ? damaged : found).push_back(m.member.path + " " + std::string(kindName(m.member.kind)));
    });
    ASSERT_TRUE(walked);
    EXPECT_EQ(found, (std::vector<std::string>{"a.tpl TPL", "menu.szs/arc/timg/x.tpl TPL",
                                               "menu.szs/race/course.szs/timg/inner.tpl TPL",
                                               "menu.szs/race/model.brres BRRES", "z.brres BRRES"}));
    EXPECT_EQ(damaged, (std::vector<std::string>{"bad.szs Yaz0"}));

    const Banner b;
    found.clear();
    ASSERT_TRUE(walkTextureMembers(b.file, "opening.bnr", [&](FoundMember&& m) { found.push_back(m.member.path); }));
    EXPECT_EQ(found, (std::vector<std::string>{"meta/icon.bin/arc/timg/icon.tpl", "meta/banner.bin/arc/timg/x.tpl"}));

    // A member behind an earlier one of the same path is not listed: no path reaches it.
    found.clear();
    const ByteVector twice = u8Of({{"a.tpl", n.tpl}, {"A.TPL", tinyTpl(8)}}, {false, false, 0});
    ASSERT_TRUE(walkTextureMembers(twice, "x.arc", [&](FoundMember&& m) { found.push_back(bytesIn(m.member) == n.tpl ? "first" : "second"); }));
    EXPECT_EQ(found, std::vector<std::string>{"first"});

    // A texture file walks as itself; a file of no kind, or a broken archive, fails.
    found.clear();
    ASSERT_TRUE(walkTextureMembers(n.tpl, "x.tpl", [&](FoundMember&& m) { found.push_back(m.member.path); }));
    EXPECT_EQ(found, std::vector<std::string>{""});
    const auto none = walkTextureMembers(bytesOf("plain text"), "a.txt", [](FoundMember&&) {});
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().fault, ArchiveFault::NotReadable);
}

TEST(Paths, NestingAndExpansionAreBounded) {
    // Forty members all pointing at one stream that expands 90 times.
    const ByteVector stream = szs(ByteVector(90000, 0));
    Hand h;
    const std::uint32_t count = 41;
    h.u8(0x55).u8(0xAA).u8(0x38).u8(0x2D).u32(0x20).u32(count * 12 + 1 + 4 * (count - 1)).u32(0x400).fill(16);
    h.u8(1).u24(0).u32(0).u32(count);
    for (std::uint32_t i = 1; i < count; ++i)
        h.u8(0).u24(1 + 4 * (i - 1)).u32(0x400).u32(static_cast<std::uint32_t>(stream.size()));
    h.cstr("");
    for (std::uint32_t i = 1; i < count; ++i) h.u8('m').u8('0' + i / 10).u8('0' + i % 10).u8(0);
    h.to(0x400).bytes(stream);
    PathLimits limits;
    limits.maxDecompressed = 1 << 20;
    std::size_t over = 0, fine = 0;
    ASSERT_TRUE(walkTextureMembers(h.b, "bomb.arc", [&](FoundMember&& m) {
        if (m.error && m.error->fault == ArchiveFault::OverBudget) ++over;
        else ++fine;
    }, limits));
    EXPECT_EQ(fine, 0u);  // zeros hold no textures: only refusals come back
    EXPECT_EQ(over, 40u - (1 << 20) / 90000);

    ByteVector deep = tinyTpl(1);
    for (int i = 0; i < 4; ++i) deep = szs(deep);
    limits.maxDepth = 3;
    const auto located = openPath(deep, "x", "", limits);
    ASSERT_FALSE(located);
    EXPECT_EQ(located.error().fault, ArchiveFault::TooDeep);
    limits.maxDepth = 4;
    EXPECT_TRUE(openPath(deep, "x", "", limits));
}

// The first problem met opening a file as `info` does: every member holding
// textures, and every texture of each; one line.
std::string firstProblem(const ByteVector& file, std::string_view name) {
    std::string problem;
    const auto walked = walkTextureMembers(file, name, [&](FoundMember&& m) {
        if (!problem.empty()) return;
        if (m.error) {
            problem = describe(*m.error);
            return;
        }
        const auto textures = readTextures(m.member.bytes, m.member.kind);
        if (!textures) problem = (m.member.path.empty() ? "" : m.member.path + ": ") + describe(textures.error());
    });
    return walked ? problem : describe(walked.error());
}

TEST(Refusals, EveryDamagedFileGivesOneLine) {
    const auto patched = [](ByteVector b, std::size_t at, std::uint32_t v) { return Hand{std::move(b)}.set32(at, v).b; };
    const ByteVector example = u8Of({{"arc/a.tpl", tinyTpl(1)}}, {false, true, 0});
    const ByteVector overrun = patched(szs(bytesOf("abcabcabcabcX")), 4, 10);
    // The worked LZ77 stream announcing 10 bytes: its reference of 9 at 3 runs past.
    ByteVector stream = bytesOf("LZ77");
    for (std::uint8_t b : bytesOf({0x10, 10, 0, 0, 0x10, 'a', 'b', 'c', 0x60, 0x02, 'X', 0})) stream.push_back(b);
    const ByteVector lzShort = Banner::withImet(u8Of({{"meta/banner.bin", Banner::part(stream, false)}}, U8Layout::banner()), 0, 10);
    const TextureData c4 = testing::textureData(Format::C4, 8, 8, 1, 1, 16);
    const ByteVector brres = *writeBrres(std::vector<NamedTexture>{{"pal", &c4}});
    const std::uint32_t textures = 0x18 + be32(brres, 0x18 + 8 + 16 + 12);
    ByteVector noPalette = brres;
    noPalette[0x18 + be32(brres, 0x18 + 8 + 32 + 8)] = 'X';  // "Palettes(NW4R)" renamed
    const ByteVector rarc = handMadeRarc();
    struct Case {
        const char* what;
        ByteVector file;
        const char* name;
        std::string line;
    };
    const Case cases[] = {
        {"truncated archive", ByteVector(example.begin(), example.begin() + 20), "a.arc", "U8: archive is shorter than its header"},
        {"node table past the end", patched(example, 0x28, 400), "a.arc", "U8 node table runs past the end of the archive"},
        {"name past the string table", patched(example, 0x38, 0x40), "a.arc", "U8 node 2 has its name past the string table"},
        {"member data past the end", patched(example, 0x40, 0x10000), "a.arc", "U8 node 2 runs past the end of the archive"},
        {"member loop", patched(example, 0x34, 1), "a.arc", "U8 folder node 1 ends before itself or past its parent"},
        {"RARC folder loop", handMadeRarc(0), "x.arc",
         "RARC entry 1 points outside the folder table or back at a folder (a loop)"},
        {"Yaz0 past its size", overrun, "x.szs", "Yaz0: compressed stream runs past its announced size"},
        {"Yaz0 member past its size", u8Of({{"ok.tpl", tinyTpl(2)}, {"bad.szs", overrun}}), "a.arc",
         "bad.szs: Yaz0: compressed stream runs past its announced size"},
        {"LZ77 past its size", lzShort, "opening.bnr", "meta/banner.bin: LZ77: compressed stream runs past its announced size"},
        {"BRRES entry outside", patched(brres, textures + 8 + 16 + 12, 0x100000), "a.brres",
         "Textures(NW4R): BRRES group entry 1 points outside the file or its section"},
        {"TEX0 without its PLT0", noPalette, "a.brres", "BRRES: pal: TEX0 of a palette format has no PLT0 of its name"},
        {"TEX0 of an unknown format", patched(brres, textures + be32(brres, textures + 8 + 16 + 12) + 0x20, 7), "a.brres",
         "BRRES: pal: unknown texel format code"},
        {"RARC cut in its header", ByteVector(rarc.begin(), rarc.begin() + 20), "x.arc", "RARC: archive is shorter than its header"},
        {"save banner of no size it has", Hand{}.text("WIBN").to(100).b, "banner.bin",
         "WIBN: banner is of a size its kind never has (save banners: 24736 bytes or more, GameCube: 6496 or 8096)"},
        {"no kind at all", bytesOf("just text"), "a.txt", "not an archive, banner or texture file"},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.file, c.name), c.line) << c.what;
    EXPECT_EQ(firstProblem(example, "a.arc"), "") << "the undamaged file";
}

}  // namespace
}  // namespace tplforge
