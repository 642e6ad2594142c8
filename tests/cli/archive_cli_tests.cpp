// info, decode, replace and encode on archives and texture containers, run as a
// user runs them on the nested files of the path fuzz corpus and the container
// test files: what each lists and writes, damaged files refused in one line
// that leaves everything as it was, member names that would leave the output
// folder, and replace round trips that change one member alone.
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "support/containers.h"
#include "support/scratch.h"
#include "tplforge/archive.h"
#include "tplforge/containers.h"
#include "tplforge/md5.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"
#include "tplforge/tpl.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::fileBytes;
using testing::Hand;

struct Outcome {
    int status = -1;
    std::string out, err;
    [[nodiscard]] std::size_t errLines() const { return static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n')); }
};

const fs::path kSeeds = TPLFORGE_PATH_SEEDS;
const fs::path kContainers = TPLFORGE_CONTAINER_DATA;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes u8Of(std::initializer_list<std::pair<std::string, Bytes>> members, U8Layout layout = U8Layout::game()) {
    std::vector<NewMember> list;
    for (const auto& [path, bytes] : members) list.push_back({path, bytes});
    auto out = buildU8(list, layout);
    EXPECT_TRUE(out);
    return out ? *out : Bytes{};
}

Bytes szs(const Bytes& data) { return yaz0Compress(data).value(); }

// A one-texture RGB5A3 TPL, every texel opaque 5-5-5 so that a picture of it comes back exact.
Bytes tinyTpl(std::uint8_t seed, std::uint32_t side = 4) {
    TextureLayout layout;
    layout.format = Format::RGB5A3;
    layout.width = layout.height = side;
    auto writer = TplWriter::plan(std::span(&layout, 1));
    EXPECT_TRUE(writer);
    const std::span<std::uint8_t> level = *writer->level(0, 0);
    for (std::size_t i = 0; i < level.size(); ++i) level[i] = static_cast<std::uint8_t>(i % 2 ? seed + i : 0x80 | i);
    return std::move(*writer).finish();
}

// A U8 of nodes as given: node 0 the root, names as typed (even ones no tool would write).
struct Node {
    bool folder = false;
    std::string name;
    Bytes data;             // files
    std::uint32_t parent = 0, next = 0;  // folders
};
Bytes handU8(const std::vector<Node>& nodes) {
    std::string names;
    std::vector<std::uint32_t> nameAt;
    for (const Node& n : nodes) {
        nameAt.push_back(static_cast<std::uint32_t>(names.size()));
        names += n.name + '\0';
    }
    const auto tableSize = static_cast<std::uint32_t>(12 * nodes.size() + names.size());
    std::uint32_t dataAt = (0x20 + tableSize + 31) / 32 * 32;
    Hand h;
    h.u32(0x55AA382D).u32(0x20).u32(tableSize).u32(dataAt).fill(16);
    std::vector<std::uint32_t> offsets;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const Node& n = nodes[i];
        offsets.push_back(dataAt);
        h.u8(n.folder ? 1 : 0).u24(nameAt[i]);
        if (n.folder) {
            h.u32(n.parent).u32(i == 0 ? static_cast<std::uint32_t>(nodes.size()) : n.next);
        } else {
            h.u32(dataAt).u32(static_cast<std::uint32_t>(n.data.size()));
            dataAt = (dataAt + static_cast<std::uint32_t>(n.data.size()) + 31) / 32 * 32;
        }
    }
    h.text(names);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (!nodes[i].folder) h.to(offsets[i]).bytes(nodes[i].data);
    return h.b;
}

// opening.bnr holding one part, meta/banner.bin: 64 zeros, IMET and its hashed block, the U8.
Bytes bannerWith(const Bytes& part, std::uint32_t bannerSize) {
    Hand h;
    h.fill(0x40).text("IMET").u32(0x600).u32(3).u32(0).u32(bannerSize).u32(0).to(0x600);
    const Md5Digest d = md5(h.b);
    std::copy(d.begin(), d.end(), h.b.begin() + 0x5F0);
    return h.bytes(u8Of({{"meta/banner.bin", part}}, U8Layout::banner())).b;
}
Bytes imd5(const Bytes& body) {
    const Md5Digest digest = md5(body);
    Hand h;
    h.text("IMD5").u32(static_cast<std::uint32_t>(body.size())).fill(8);
    h.b.insert(h.b.end(), digest.begin(), digest.end());
    return h.bytes(body).b;
}

Bytes patched(Bytes b, std::size_t at, std::uint32_t v) { return Hand{std::move(b)}.set32(at, v).b; }

class ArchiveCli : public ::testing::Test, protected testing::ScratchDir {
protected:
    Outcome run(const std::string& args) const {
        const std::string command = "cd '" + dir.string() + "' && '" TPLFORGE_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        const Bytes out = fileBytes(path("out.txt")), err = fileBytes(path("err.txt"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
    }
    void write(const std::string& name, const Bytes& bytes) const { testing::writeBytes(path(name), bytes); }
    void copyIn(const fs::path& from, const std::string& name) const { write(name, fileBytes(from.string())); }
    void seeds() const {
        for (const char* name : {"seed-menu.szs", "seed-opening.bnr", "seed-scene.arc"}) copyIn(kSeeds / name, name);
        for (const char* name : {"textures.brres", "face.tex0", "face.plt0", "c8-mip.bti", "game.u8"})
            copyIn(kContainers / name, name);
    }
    Image picture(const std::string& name) const {
        auto read = readPng(fileBytes(path(name)));
        return read ? std::move(read).value() : Image{};
    }
    // Every file below `folder`, relative to it.
    std::set<std::string> filesIn(const std::string& folder) const {
        std::set<std::string> out;
        if (!fs::exists(path(folder))) return out;
        for (const auto& e : fs::recursive_directory_iterator(path(folder)))
            if (e.is_regular_file()) out.insert(fs::relative(e.path(), path(folder)).string());
        return out;
    }
};

// What info --json lists, member by member: path, kind and each texture's
// name or number, sides, format and levels; a path can name one member or
// texture, or go through archives into a container.
TEST_F(ArchiveCli, InfoListsEveryTextureMemberThroughNestedArchives) {
    seeds();
    using Texture = std::tuple<std::string, unsigned, unsigned, std::string, unsigned>;
    struct Case {
        std::string path;
        std::vector<std::pair<std::string, std::vector<Texture>>> members;  // "" for the file itself
    };
    const std::vector<Texture> modelTextures = {
        {"grass", 16, 16, "CMPR", 2}, {"lm_0", 8, 8, "RGB5A3", 1}, {"pal", 8, 8, "C4", 1}};
    const std::vector<Case> cases = {
        {"seed-menu.szs",
         {{"arc/timg/x.tpl", {{"1", 8, 4, "RGB5A3", 1}}},
          {"race/course.szs/inner.tpl", {{"1", 4, 4, "RGB5A3", 1}}},
          {"race/model.brres", {{"grass", 8, 8, "CMPR", 1}, {"lm_0", 4, 4, "RGB5A3", 1}, {"pal", 8, 8, "C4", 1}}}}},
        {"seed-opening.bnr",
         {{"meta/icon.bin/arc/timg/icon.tpl", {{"1", 4, 4, "RGB5A3", 1}}},
          {"meta/banner.bin/arc/timg/x.tpl", {{"1", 8, 4, "RGB5A3", 1}}}}},
        {"seed-menu.szs/race/course.szs", {{"inner.tpl", {{"1", 4, 4, "RGB5A3", 1}}}}},
        {"seed-menu.szs/race/model.brres/lm_0", {{"", {{"lm_0", 4, 4, "RGB5A3", 1}}}}},
        {"seed-menu.szs/arc/timg/x.tpl", {{"", {{"1", 8, 4, "RGB5A3", 1}}}}},
        {"seed-scene.arc/face.bti", {{"", {{"1", 8, 8, "RGB5A3", 2}}}}},
        {"textures.brres", {{"", modelTextures}}},
        {"face.tex0", {{"", {{"face", 8, 4, "C8", 1}}}}},
        {"game.u8", {}},  // members, none of them textures
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Outcome r = run("info --json " + c.path);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto j = nlohmann::json::parse(r.out);
        EXPECT_EQ(j["file"], c.path);
        const bool archive = c.members.empty() || c.members.front().first != "";
        const auto& members = archive ? j["members"] : nlohmann::json::array({j});
        ASSERT_EQ(members.size(), c.members.size()) << r.out;
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (archive) {
                EXPECT_EQ(members[m]["path"], c.members[m].first);
            }
            const auto& textures = members[m]["textures"];
            ASSERT_EQ(textures.size(), c.members[m].second.size()) << r.out;
            for (std::size_t t = 0; t < textures.size(); ++t) {
                const auto& [name, w, h, format, levels] = c.members[m].second[t];
                const auto& got = textures[t];
                EXPECT_EQ(got.contains("name") ? got["name"].get<std::string>() : std::to_string(got["index"].get<int>()), name);
                EXPECT_EQ(got["width"], w);
                EXPECT_EQ(got["height"], h);
                EXPECT_EQ(got["format"], format);
                EXPECT_EQ(got["levels"], levels);
            }
        }
    }
    // As text: every member and texture by name, with the palette.
    const Outcome text = run("info seed-menu.szs");
    for (const char* line : {"kind: Yaz0\nmembers: 3\n", "member: race/course.szs/inner.tpl\nkind: TPL\n",
                             "\ntexture pal\n", "palette:        RGB565 (1), 16 entries"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
}

// decode mirrors every archive under DIR/<stem>/; containers of named or
// numbered textures become folders; a lone file writes as before. The same
// pictures on one thread or several, each what the library decodes.
TEST_F(ArchiveCli, DecodeMirrorsArchivesAndFoldsContainers) {
    seeds();
    const std::set<std::string> want = {
        "seed-menu/arc/timg/x.png", "seed-menu/race/course.szs/inner.png", "seed-menu/race/model/grass.png",
        "seed-menu/race/model/lm_0.png", "seed-menu/race/model/pal.png",
        "seed-opening/meta/icon.bin/arc/timg/icon.png", "seed-opening/meta/banner.bin/arc/timg/x.png",
        "seed-scene/face.png", "seed-scene/model/1.png", "seed-scene/model/2.png", "seed-scene/model/3.png",
        "textures/grass.png", "textures/lm_0.png", "textures/pal.png", "face.png", "c8-mip.png"};
    const std::string inputs = " seed-menu.szs seed-opening.bnr seed-scene.arc textures.brres face.tex0 c8-mip.bti game.u8";
    for (const char* jobs : {"1", "3"}) {
        const Outcome r = run(std::string("decode -j ") + jobs + inputs + " -o j" + jobs);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(filesIn(std::string("j") + jobs), want);
    }
    for (const std::string& name : want)
        EXPECT_EQ(fileBytes(path("j1/" + name)), fileBytes(path("j3/" + name))) << name;

    const Bytes brres = fileBytes((kContainers / "textures.brres").string());
    const auto textures = readTextures(brres, FileKind::Brres);
    ASSERT_TRUE(textures && textures->size() == 3);
    for (const TextureEntry& t : *textures)
        EXPECT_EQ(picture("j1/textures/" + t.name + ".png").rgba, decodeLevel(t.view, 0).value().rgba) << t.name;

    // One texture by its path: the very file decoding the whole writes for it.
    ASSERT_EQ(run("decode seed-menu.szs/race/model.brres/pal seed-scene.arc/model.bmd/2 textures.brres/grass --mipmaps -o one").status, 0);
    EXPECT_EQ(filesIn("one"), (std::set<std::string>{"model/pal.png", "model/2.png", "textures/grass.png",
                                                      "textures/grass.mip1.png"}));
    EXPECT_EQ(fileBytes(path("one/model/pal.png")), fileBytes(path("j1/seed-menu/race/model/pal.png")));
}

// Names come from the archive: a member or texture whose path would climb out
// of DIR, or start at the root, is refused with a line; the others are written.
TEST_F(ArchiveCli, MemberNamesThatWouldLeaveTheFolderAreRefused) {
    const Bytes tpl = tinyTpl(1);
    const TextureData rgb = testing::textureData(Format::RGB5A3, 4, 4);
    struct Case {
        const char* what;
        Bytes file;
        const char* refused;  // in the line on stderr
    };
    const Case cases[] = {
        {"a folder named ..", handU8({{true, "", {}, 0, 4}, {false, "ok.tpl", tpl}, {true, "..", {}, 0, 4}, {false, "up.tpl", tpl}}),
         "\"../up.tpl\" would be written outside"},
        {"a name that climbs", handU8({{true, "", {}, 0, 3}, {false, "ok.tpl", tpl}, {false, "../../up.tpl", tpl}}),
         "\"../../up.tpl\" would be written outside"},
        {"a name from the root", handU8({{true, "", {}, 0, 3}, {false, "ok.tpl", tpl}, {false, "/tmp/up.tpl", tpl}}),
         "would be written outside"},
        {"a texture name that climbs",
         u8Of({{"ok.tpl", tpl}, {"m.brres", writeBrres(std::vector<NamedTexture>{{"../../../up", &rgb}}).value()}}),
         "texture name \"../../../up\" is not a file name here"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write("evil.arc", c.file);
        fs::remove_all(path("deep"));
        const Outcome r = run("decode evil.arc -o deep/er/out");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errLines(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.refused), std::string::npos) << r.err;
        EXPECT_EQ(filesIn("deep"), std::set<std::string>{"er/out/evil/ok.png"});
        EXPECT_FALSE(fs::exists(path("up.png")) || fs::exists(path("deep/up.png")) || fs::exists("/tmp/up.png") ||
                     fs::exists(path("deep/er/up.png")) || fs::exists(path("deep/up")));
    }
}

// Member and texture names are the archive's: their control bytes reach the
// terminal only as \xNN, in listings, errors and notes alike, and file names
// only as '_'; JSON keeps the names exactly.
TEST_F(ArchiveCli, ControlBytesInNamesAreEscapedOnScreenAndReplacedInFileNames) {
    const TextureData rgb = testing::textureData(Format::RGB5A3, 4, 4);
    const std::string title = "\x1b]0;title\x07", red = "arc/\x1b[31mred\x07.tpl", del = "t\x01img/del\x7f.tpl",
                      bad = "bad\x1b[2J.tpl";
    const std::vector<NamedTexture> textures = {{title, &rgb}, {"x\x01", &rgb}, {"x_", &rgb}};
    const Bytes brres = writeBrres(textures).value();
    const Bytes tpl = tinyTpl(1);
    const Bytes truncated(tpl.begin(), tpl.begin() + 12);
    write("names.arc", u8Of({{red, tpl}, {del, tinyTpl(2)}, {"m.brres", brres}, {bad, truncated}}));
    const auto clean = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c != 0x7F); });
    };

    const Outcome info = run("info names.arc");
    const Outcome json = run("info --json names.arc");
    const Outcome decode = run("decode names.arc -o out");
    for (const Outcome* r : {&info, &json, &decode}) {
        EXPECT_TRUE(clean(r->out)) << r->out;
        EXPECT_TRUE(clean(r->err)) << r->err;
    }
    EXPECT_EQ(info.status, 1);
    for (const char* shown : {"member: arc/\\x1b[31mred\\x07.tpl\n", "member: t\\x01img/del\\x7f.tpl\n",
                              "texture \\x1b]0;title\\x07\n", "texture x\\x01\n", "problem: bad\\x1b[2J.tpl: "})
        EXPECT_NE(info.out.find(shown), std::string::npos) << shown << "\n" << info.out;
    EXPECT_EQ(info.errLines(), 1u) << info.err;
    EXPECT_EQ(info.err.rfind("names.arc: bad\\x1b[2J.tpl: ", 0), 0u) << info.err;

    std::set<std::string> listed;
    std::size_t titleK = 0;  // from 1
    const auto j = nlohmann::json::parse(json.out);
    for (const auto& member : j["members"]) {
        listed.insert(member["path"].get<std::string>());
        if (member["path"] != "m.brres") continue;
        for (std::size_t k = 0; k < member["textures"].size(); ++k) {
            listed.insert(member["textures"][k]["name"].get<std::string>());
            if (member["textures"][k]["name"] == title) titleK = k + 1;
        }
    }
    EXPECT_EQ(listed, (std::set<std::string>{red, del, "m.brres", bad, title, "x\x01", "x_"}));

    // "x\x01" and "x_" would both be x_.png: the second is refused.
    EXPECT_EQ(decode.status, 1);
    EXPECT_EQ(decode.errLines(), 2u) << decode.err;
    EXPECT_NE(decode.err.find("names.arc: bad\\x1b[2J.tpl: "), std::string::npos) << decode.err;
    EXPECT_NE(decode.err.find("makes the file name of an earlier texture"), std::string::npos) << decode.err;
    EXPECT_EQ(filesIn("out"), (std::set<std::string>{"names/arc/_[31mred_.png", "names/t_img/del_.png",
                                                     "names/m/_]0;title_.png", "names/m/x_.png"}));
    // A note names the texture.
    const Outcome kept =
        run("replace names.arc/m.brres " + std::to_string(titleK) + " 'out/names/m/_]0;title_.png' -o copy.arc");
    EXPECT_TRUE(clean(kept.err)) << kept.err;
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_NE(kept.err.find("shows what texture \\x1b]0;title\\x07 holds already"), std::string::npos) << kept.err;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        EXPECT_TRUE(clean(e.path().string())) << e.path();
}

// Every damaged file: info, decode and replace each end with 1 and one line,
// decode writes no picture and replace leaves the file byte for byte.
TEST_F(ArchiveCli, DamagedFilesAreRefusedInOneLineAndNothingIsWritten) {
    write("p.png", writePng(Image(4, 4), PngChannels::Rgba).value());
    const Bytes example = u8Of({{"arc/a.tpl", tinyTpl(1)}}, {false, true, 0});
    const Bytes overrun = patched(szs(bytesOf("abcabcabcabcX")), 4, 10);
    // An LZ77 part announcing 10 bytes whose reference of 9 at 3 runs past them.
    Bytes lz = bytesOf("LZ77");
    for (int b : std::initializer_list<int>{0x10, 10, 0, 0, 0x10, 'a', 'b', 'c', 0x60, 0x02, 'X', 0}) lz.push_back(static_cast<std::uint8_t>(b));
    const TextureData c4 = testing::textureData(Format::C4, 8, 8, 1, 1, 16);
    const Bytes brres = writeBrres(std::vector<NamedTexture>{{"pal", &c4}}).value();
    // The root group's first entry is the Textures folder; its group's first entry the TEX0.
    const std::uint32_t texturesGroup = 0x18 + testing::be32(brres, 0x18 + 8 + 16 + 12);
    Bytes noPalette = brres;
    noPalette[0x18 + testing::be32(brres, 0x18 + 8 + 32 + 8)] = 'X';  // "Palettes(NW4R)" renamed
    const std::uint32_t tex0 = texturesGroup + testing::be32(brres, texturesGroup + 8 + 16 + 12);
    const Bytes bti = writeBti(testing::textureData(Format::RGB565, 8, 8), {}).value();
    // A model whose one TEX1 header puts its 8 x 8 CMPR image where the file ends.
    Hand model;
    model.text("J3D2bmd3").u32(0x60).u32(1).text("SVR3").fill(12, 0xFF);
    model.text("TEX1").u32(0x40).u16(1).u16(0xFFFF).u32(0x20).u32(0).to(0x40);
    model.u8(14).u8(0).u16(8).u16(8).fill(10).u8(0).u8(0).u8(0).u8(0).u8(1).u8(1).u8(0).u8(0).u8(1).u8(0).u16(0).u32(0x20);
    struct Case {
        const char* what;
        std::string name;
        Bytes file;
        std::string member;  // the path replace is given
        const char* line;
    };
    const Case cases[] = {
        {"truncated archive", "a.arc", Bytes(example.begin(), example.begin() + 20), "arc/a.tpl",
         "U8: archive is shorter than its header"},
        {"U8 member past the end", "a.arc", patched(example, 0x40, 0x10000), "arc/a.tpl", "U8 node 2 runs past the end"},
        {"node table past the end", "a.arc", patched(example, 0x28, 400), "arc/a.tpl", "node table runs past the end"},
        {"name past the string table", "a.arc", patched(example, 0x38, 0x40), "arc/a.tpl", "name past the string table"},
        {"member loop", "a.arc", patched(example, 0x34, 1), "arc/a.tpl", "ends before itself or past its parent"},
        {"Yaz0 past its size", "a.szs", overrun, "", "runs past its announced size"},
        {"Yaz0 member past its size", "a.arc", u8Of({{"bad.szs", overrun}}), "bad.szs", "runs past its announced size"},
        {"LZ77 past its size", "opening.bnr", bannerWith(imd5(lz), 10), "meta/banner.bin", "runs past its announced size"},
        {"BRRES entry outside", "a.brres", patched(brres, texturesGroup + 8 + 16 + 12, 0x100000), "",
         "points outside the file"},
        {"TEX0 without its PLT0 in a BRRES", "a.brres", noPalette, "", "has no PLT0"},
        {"TEX0 of an unknown format in a BRRES", "a.brres", patched(brres, tex0 + 0x20, 7), "",
         "a.brres: BRRES: pal: unknown texel format code"},
        {"BTI data past the end", "a.bti", Bytes(bti.begin(), bti.end() - 1), "",
         "a.bti: BTI: texture data runs past the end of the file"},
        {"BTI named so, of no format", "a.bti", bytesOf("not a texture, though named as one"), "",
         "a.bti: BTI: unknown texel format code"},
        {"J3D image past the end", "a.bmd", model.b, "", "a.bmd: J3D: texture 1: texture data runs past the end of the file"},
        {"TEX0 without its PLT0 beside it", "face.tex0", fileBytes((kContainers / "face.tex0").string()), "", "has no PLT0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != "p.png") fs::remove_all(e.path());
        write(c.name, c.file);
        const std::string target = c.name + (c.member.empty() ? "" : "/" + c.member);
        for (const std::string& args : {"info " + target, "info --json " + c.name, "decode " + c.name + " -o out",
                                        "decode -j 2 " + target + " -o out", "replace " + target + " 1 p.png",
                                        "replace " + target + " 1 p.png -o new.bin"}) {
            const Outcome r = run(args);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.errLines(), 1u) << args << ": " << r.err;
            EXPECT_NE(r.err.find(c.line), std::string::npos) << args << ": " << r.err;
            EXPECT_EQ(fileBytes(path(c.name)), c.file) << args;
        }
        EXPECT_EQ(filesIn("out"), std::set<std::string>{});
        EXPECT_FALSE(fs::exists(path("new.bin")) || fs::exists(path("face.plt0")));
    }
}

// replace given the picture decode wrote gives back the very file, compressed
// layers included, through -o and in place.
TEST_F(ArchiveCli, ReplacingWithTheDecodedPictureKeepsEveryByte) {
    seeds();
    const std::pair<const char*, const char*> cases[] = {  // the path, the picture decode wrote for it
        {"seed-menu.szs/arc/timg/x.tpl", "seed-menu/arc/timg/x.png"},
        {"seed-menu.szs/race/course.szs/inner.tpl", "seed-menu/race/course.szs/inner.png"},
        {"seed-menu.szs/race/model.brres/lm_0", "seed-menu/race/model/lm_0.png"},
        {"seed-menu.szs/race/model.brres/pal", "seed-menu/race/model/pal.png"},
        {"seed-opening.bnr/meta/banner.bin/arc/timg/x.tpl", "seed-opening/meta/banner.bin/arc/timg/x.png"},
        {"textures.brres/pal", "textures/pal.png"},
        {"face.tex0", "face.png"},
        // Hand-made mipmaps, which an encode would make again.
        {"c8-mip.bti", "c8-mip.png"},
        {"seed-scene.arc/face.bti", "seed-scene/face.png"},
    };
    ASSERT_EQ(run("decode seed-menu.szs seed-opening.bnr seed-scene.arc textures.brres face.tex0 c8-mip.bti -o d").status, 0);
    for (const auto& [where, png] : cases) {
        SCOPED_TRACE(where);
        const std::string outer = std::string(where).substr(0, std::string(where).find('/'));
        const Bytes before = fileBytes(path(outer));
        const Outcome copy = run(std::string("replace ") + where + " d/" + png + " -o copy.bin");
        ASSERT_EQ(copy.status, 0) << copy.err;
        EXPECT_EQ(fileBytes(path("copy.bin")), before);
        const Outcome inPlace = run(std::string("replace ") + where + " d/" + png);
        ASSERT_EQ(inPlace.status, 0) << inPlace.err;
        EXPECT_EQ(fileBytes(path(outer)), before);
    }
    EXPECT_EQ(fileBytes(path("face.plt0")), fileBytes((kContainers / "face.plt0").string()));
}

// Members of a U8 as bytes, by path.
std::map<std::string, Bytes> membersOf(const Bytes& archive) {
    std::map<std::string, Bytes> out;
    const auto parsed = parseU8(archive);
    EXPECT_TRUE(parsed);
    if (parsed)
        for (const ArchiveEntry& e : parsed->files)
            out[e.path] = Bytes(archive.begin() + static_cast<std::ptrdiff_t>(e.offset),
                                archive.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
    return out;
}

// A changed picture changes its member alone: the decompressed archive holds
// every other member byte for byte, and the new texture decodes to the picture.
TEST_F(ArchiveCli, ReplacingWithAChangedPictureChangesOnlyThatMember) {
    seeds();
    ASSERT_EQ(run("decode seed-menu.szs seed-opening.bnr -o d").status, 0);
    struct Case {
        std::string path, png, changedMember;
    };
    const Case cases[] = {
        {"seed-menu.szs/arc/timg/x.tpl", "d/seed-menu/arc/timg/x.png", "arc/timg/x.tpl"},
        {"seed-menu.szs/race/model.brres/lm_0", "d/seed-menu/race/model/lm_0.png", "race/model.brres"},
        {"seed-menu.szs/race/course.szs/inner.tpl", "d/seed-menu/race/course.szs/inner.png", "race/course.szs"},
    };
    const Bytes before = yaz0Decompress(fileBytes(path("seed-menu.szs"))).value();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Image edited = picture(c.png);
        ASSERT_GT(edited.rgba.size(), 4u);
        std::copy_n("\xff\x00\x00\xff", 4, edited.rgba.begin());  // opaque red: RGB5A3 holds it exactly
        write("edited.png", writePng(edited, PngChannels::Rgba).value());
        const Outcome r = run("replace " + c.path + " edited.png -o new.szs");
        ASSERT_EQ(r.status, 0) << r.err;
        const auto after = yaz0Decompress(fileBytes(path("new.szs")));
        ASSERT_TRUE(after);
        auto was = membersOf(before), now = membersOf(*after);
        ASSERT_EQ(now.size(), was.size());
        EXPECT_NE(now[c.changedMember], was[c.changedMember]);
        now.erase(c.changedMember), was.erase(c.changedMember);
        EXPECT_EQ(now, was);
        ASSERT_EQ(run("decode new.szs -o back").status, 0);
        const std::string decoded = "back/new/" + c.png.substr(std::string("d/seed-menu/").size());
        EXPECT_EQ(picture(decoded).rgba, edited.rgba);
        fs::remove_all(path("back"));
    }

    // Through IMET, IMD5 and LZ77: the banner changes, the icon stays.
    Image banner = picture("d/seed-opening/meta/banner.bin/arc/timg/x.png");
    ASSERT_GT(banner.rgba.size(), 4u);
    std::copy_n("\x00\xff\x00\xff", 4, banner.rgba.begin());
    write("banner.png", writePng(banner, PngChannels::Rgba).value());
    ASSERT_EQ(run("replace seed-opening.bnr/meta/banner.bin/arc/timg/x.tpl banner.png -o new.bnr").status, 0);
    ASSERT_EQ(run("decode new.bnr -o back").status, 0);
    EXPECT_EQ(picture("back/new/meta/banner.bin/arc/timg/x.png").rgba, banner.rgba);
    EXPECT_EQ(fileBytes(path("back/new/meta/icon.bin/arc/timg/icon.png")),
              fileBytes(path("d/seed-opening/meta/icon.bin/arc/timg/icon.png")));
    const Outcome info = run("info new.bnr");
    EXPECT_EQ(info.status, 0) << info.err;
}

// decode --manifest and build through an archive: the manifest finds its
// source inside it, and build -o naming the member writes the archive back,
// unchanged when nothing was edited, with that member alone changed otherwise.
TEST_F(ArchiveCli, ManifestAndBuildThroughAnArchive) {
    seeds();
    const Bytes original = fileBytes(path("seed-menu.szs"));
    const std::string member = "seed-menu.szs/arc/timg/x.tpl";
    ASSERT_EQ(run("decode --manifest " + member + " -o m").status, 0);
    const Outcome same = run("build m/x.json -o " + member);
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_TRUE(same.err.empty()) << same.err;  // the source was found and matched
    EXPECT_EQ(fileBytes(path("seed-menu.szs")), original);

    Image edited = picture("m/x.png");
    ASSERT_GT(edited.rgba.size(), 4u);
    std::copy_n("\xff\x00\x00\xff", 4, edited.rgba.begin());
    write("m/x.png", writePng(edited, PngChannels::Rgba).value());
    const Outcome built = run("build m/x.json -o " + member);
    ASSERT_EQ(built.status, 0) << built.err;
    auto was = membersOf(yaz0Decompress(original).value());
    auto now = membersOf(yaz0Decompress(fileBytes(path("seed-menu.szs"))).value());
    ASSERT_EQ(now.size(), was.size());
    EXPECT_NE(now["arc/timg/x.tpl"], was["arc/timg/x.tpl"]);
    now.erase("arc/timg/x.tpl"), was.erase("arc/timg/x.tpl");
    EXPECT_EQ(now, was);
    ASSERT_EQ(run("decode " + member + " -o back").status, 0);
    EXPECT_EQ(picture("back/x.png").rgba, edited.rgba);

    // Not a TPL member: refused, the archive as it was.
    const Bytes edited_archive = fileBytes(path("seed-menu.szs"));
    const Outcome wrong = run("build m/x.json -o seed-menu.szs/race/model.brres");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(fileBytes(path("seed-menu.szs")), edited_archive);
    EXPECT_EQ(run("decode --manifest seed-menu.szs/race/model.brres -o m2").status, 1);
}

// Which texture replace takes when K is left out, and what it refuses.
TEST_F(ArchiveCli, ReplaceNamesItsTextureByPathOrNumber) {
    seeds();
    ASSERT_EQ(run("decode textures.brres seed-scene.arc -o .").status, 0);
    const std::string files[] = {"textures.brres", "seed-scene.arc", "seed-menu.szs"};
    std::map<std::string, Bytes> before;
    for (const std::string& f : files) before[f] = fileBytes(path(f));
    const std::tuple<std::string, int, const char*> cases[] = {  // arguments, status, in the line on stderr
        {"replace textures.brres textures/lm_0.png", 1, "holds several textures; give the number K"},
        {"replace textures.brres/none textures/lm_0.png", 1, "no texture named none"},
        {"replace textures.brres/lm_0 2 textures/lm_0.png", 1, "names one texture already; give no K"},
        {"replace textures.brres 4 textures/lm_0.png", 1, "texture 4: the file has 3 textures"},
        {"replace textures.brres 2 --wrap repeat textures/lm_0.png", 1, "--wrap and --filter change the sampler of TPL textures only"},
        {"replace seed-menu.szs 1 textures/lm_0.png", 1, "holds no textures (U8)"},
        {"replace seed-menu.szs/arc textures/lm_0.png", 1, "arc is a folder"},
        // A model takes a texture of its own shape only: 8 x 4 where texture 1 is 8 x 8.
        {"replace seed-scene.arc/model.bmd 1 seed-scene/model/2.png", 1,
         "seed-scene.arc/model.bmd: texture 1: this file takes a texture of the same format, size"},
        {"replace textures.brres 2 textures/lm_0.png -o same.brres", 0, ""},
    };
    for (const auto& [args, status, line] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, status) << args << ": " << r.err;
        EXPECT_NE(r.err.find(line), std::string::npos) << args << ": " << r.err;
        EXPECT_LE(r.errLines(), 1u) << args << ": " << r.err;
        for (const std::string& f : files) EXPECT_EQ(fileBytes(path(f)), before[f]) << args << ": " << f;
    }
    EXPECT_EQ(fileBytes(path("same.brres")), before["textures.brres"]);

    // Model headers 1 and 3 share one image: replacing one shows in both, and says so.
    Image edited = picture("seed-scene/model/1.png");
    ASSERT_GT(edited.rgba.size(), 4u);
    std::fill_n(edited.rgba.begin(), 16, 255);
    write("edited.png", writePng(edited, PngChannels::Rgba).value());
    const Outcome shared = run("replace seed-scene.arc/model.bmd/1 edited.png -o new.arc");
    ASSERT_EQ(shared.status, 0) << shared.err;
    EXPECT_NE(shared.err.find("note: texture 3 shares its image"), std::string::npos) << shared.err;
    ASSERT_EQ(run("decode new.arc -o back").status, 0);
    EXPECT_EQ(fileBytes(path("back/new/model/1.png")), fileBytes(path("back/new/model/3.png")));
    EXPECT_NE(picture("back/new/model/1.png").rgba, picture("seed-scene/model/1.png").rgba);
    EXPECT_EQ(fileBytes(path("back/new/model/2.png")), fileBytes(path("seed-scene/model/2.png")));
    EXPECT_EQ(fileBytes(path("back/new/face.png")), fileBytes(path("seed-scene/face.png")));
}

// encode writes a BTI or a TEX0 (with its PLT0 beside) by the output's name;
// decoded, each gives the picture back, and the BTI keeps the sampler typed.
TEST_F(ArchiveCli, EncodeWritesBtiAndTex0) {
    Image p(8, 8);  // eight opaque colours of full channels: every format here holds them exactly
    for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
        const std::size_t colour = (i / 4 * 5 + i / 32) % 8;
        for (int c = 0; c < 3; ++c) p.rgba[i + c] = colour >> c & 1 ? 255 : 0;
        p.rgba[i + 3] = 255;
    }
    write("p.png", writePng(p, PngChannels::Rgba).value());
    struct Case {
        const char* args;
        std::set<std::string> written;
        const char* format;
    };
    const Case cases[] = {
        {"-f c8 p.png -o t.TEX0", {"t.TEX0", "t.plt0"}, "C8"},
        {"-f rgb565 p.png -o t.tex0", {"t.tex0"}, "RGB565"},
        {"-f rgb5a3 --wrap repeat,mirror --mipmaps 1 p.png -o t.bti", {"t.bti"}, "RGB5A3"},  // last: looked at below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        for (const char* name : {"t.bti", "t.tex0", "t.TEX0", "t.plt0", "t.png"}) fs::remove(path(name));
        const Outcome r = run(std::string("encode ") + c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& name : c.written) EXPECT_TRUE(fs::exists(path(name))) << name;
        const std::string file = *c.written.begin();
        const auto j = nlohmann::json::parse(run("info --json " + file).out, nullptr, false);
        ASSERT_FALSE(j.is_discarded());
        EXPECT_EQ(j["textures"][0]["format"], c.format);
        ASSERT_EQ(run("decode " + file).status, 0);
        EXPECT_EQ(picture("t.png").rgba, p.rgba);
    }
    const Bytes btiFile = fileBytes(path("t.bti"));
    const auto read = readTextures(btiFile, FileKind::Bti);
    ASSERT_TRUE(read && read->size() == 1 && (*read)[0].sampler);
    EXPECT_EQ((*read)[0].sampler->wrapS, WrapMode::Repeat);
    EXPECT_EQ((*read)[0].sampler->wrapT, WrapMode::Mirror);
    EXPECT_EQ((*read)[0].view.levels.size(), 2u);
    for (const char* args : {"encode p.png p.png -o two.bti", "encode --window p.png -o w.tex0"}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(fs::exists(path("two.bti")) || fs::exists(path("w.tex0"))) << args;
    }
}

// A C8 TPL of 8 × 4 texels all `index`, `entries` palette entries.
Bytes c8Tpl(std::uint8_t index, std::size_t entries) {
    TextureLayout layout;
    layout.format = Format::C8;
    layout.width = 8;
    layout.height = 4;
    auto writer = TplWriter::plan(std::span(&layout, 1));
    EXPECT_TRUE(writer);
    const std::span<std::uint8_t> level = *writer->level(0, 0);
    std::fill(level.begin(), level.end(), index);
    const std::vector<std::uint16_t> palette(entries, 0x8421);
    EXPECT_TRUE(writer->setPalette(0, palette));
    return std::move(*writer).finish();
}

// Dolphin's names: each texture of a TPL, a BTI and a BRRES inside a Yaz0 U8
// has the name info gives the file on its own (the worked examples' among
// them), --dolphin-mipmaps reaches through, and a texture Dolphin cannot name
// has a note instead.
TEST_F(ArchiveCli, InfoGivesDolphinNamesThroughArchivesAsForLoneFiles) {
    seeds();
    const fs::path formats = fs::path(TPLFORGE_TEST_DATA) / "formats";
    copyIn(formats / "c8-rgb565.tpl", "c8.tpl");
    copyIn(formats / "rgba8-mip.tpl", "mip.tpl");
    const std::vector<std::pair<std::string, std::string>> members = {
        {"a/c8.tpl", "c8.tpl"}, {"a/mip.tpl", "mip.tpl"}, {"c8-mip.bti", "c8-mip.bti"},
        {"m/textures.brres", "textures.brres"}};
    write("pack.szs", szs(u8Of({{"a/c8.tpl", fileBytes(path("c8.tpl"))},
                                {"a/mip.tpl", fileBytes(path("mip.tpl"))},
                                {"c8-mip.bti", fileBytes(path("c8-mip.bti"))},
                                {"m/textures.brres", fileBytes(path("textures.brres"))}})));
    // Member path → the dolphin names of its textures, and of their mips.
    using Names = std::map<std::string, std::vector<std::pair<nlohmann::json, nlohmann::json>>>;
    const auto namesIn = [&](const std::string& options) {
        const Outcome r = run("info --json " + options + " pack.szs");
        EXPECT_EQ(r.status, 0) << r.err;
        const auto j = nlohmann::json::parse(r.out);
        Names out;
        for (const auto& m : j["members"])
            for (const auto& t : m["textures"]) out[m["path"]].push_back({t["dolphin"], t["dolphin_mips"]});
        return out;
    };
    const Names archived = namesIn("");
    ASSERT_EQ(archived.size(), members.size());
    for (const auto& [member, lone] : members) {
        SCOPED_TRACE(member);
        const Outcome r = run("info --json " + lone);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto j = nlohmann::json::parse(r.out);
        std::vector<std::pair<nlohmann::json, nlohmann::json>> want;
        for (const auto& t : j["textures"]) want.push_back({t["dolphin"], t["dolphin_mips"]});
        EXPECT_EQ(archived.at(member), want);
        for (const auto& [name, mips] : want)
            EXPECT_TRUE(name.is_string() && name.get<std::string>().starts_with("tex1_")) << name;
    }
    const nlohmann::json noMips = nlohmann::json::array();
    const std::string mip = "tex1_16x8_m_0ab9d8f35ad15be6_6";
    EXPECT_EQ(archived.at("a/c8.tpl").at(0).first, "tex1_20x10_0f5e0356e159c113_fd045fc67c7d4038_9");
    EXPECT_EQ(archived.at("a/mip.tpl").at(0).first, mip);
    EXPECT_EQ(archived.at("a/mip.tpl").at(0).second, nlohmann::json::array({mip + "_mip1", mip + "_mip2"}));

    const Names off = namesIn("--dolphin-mipmaps no");
    EXPECT_EQ(off.at("a/mip.tpl").at(0).first, "tex1_16x8_0ab9d8f35ad15be6_6");
    EXPECT_EQ(off.at("a/mip.tpl").at(0).second, noMips);
    const Names on = namesIn("--dolphin-mipmaps yes");
    EXPECT_EQ(on.at("a/c8.tpl").at(0).first, "tex1_20x10_m_0f5e0356e159c113_fd045fc67c7d4038_9");
    EXPECT_EQ(run("info --dolphin-mipmaps maybe c8.tpl").status, 2);

    // Text: the name on its own line, the mips after it.
    const Outcome text = run("info mip.tpl");
    EXPECT_NE(text.out.find("  dolphin:        " + mip + "\n  dolphin mips:   _mip1 to _mip2\n"), std::string::npos)
        << text.out;

    // Every index 255: no name, a note; indices past the entries: a name and a note.
    write("white.tpl", c8Tpl(255, 256));
    write("short.tpl", c8Tpl(9, 4));
    const Outcome white = run("info --json white.tpl short.tpl");
    ASSERT_EQ(white.status, 0) << white.err;
    const auto files = nlohmann::json::parse(white.out);
    const auto& none = files[0]["textures"][0];
    EXPECT_TRUE(none["dolphin"].is_null());
    EXPECT_NE(none.value("dolphin_note", "").find("255"), std::string::npos) << none;
    const auto& past = files[1]["textures"][0];
    EXPECT_TRUE(past["dolphin"].is_string()) << past;
    EXPECT_NE(past.value("dolphin_note", "").find("past the 4 entries"), std::string::npos) << past;
    const Outcome whiteText = run("info white.tpl");
    EXPECT_EQ(whiteText.out.find("  dolphin:  "), std::string::npos) << whiteText.out;
    EXPECT_NE(whiteText.out.find("  dolphin note:   every C8 index is 255"), std::string::npos) << whiteText.out;
}

}  // namespace
}  // namespace tplforge
