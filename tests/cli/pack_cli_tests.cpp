// export-pack and import-pack on a game folder laid out as games are: the same
// TPL in two archives, a lone TPL, a J3D model and a BTI in a RARC, a file of no
// texture kind. A pack exported and imported unchanged writes nothing; repainted
// pictures change those textures alone, in every file that holds them; --size
// pack keeps a larger picture where the file can take it; bad pack files are
// one line each.
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/scratch.h"
#include "tplforge/archive.h"
#include "tplforge/png.h"
#include "tplforge/texture_file.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::fileBytes;

struct Outcome {
    int status = -1;
    std::string out, err;
    [[nodiscard]] std::size_t linesWith(const std::string& text) const {
        std::size_t n = 0;
        for (std::size_t at = 0; at < err.size();) {
            const std::size_t end = std::min(err.find('\n', at), err.size());
            if (err.substr(at, end - at).find(text) != std::string::npos) ++n;
            at = end + 1;
        }
        return n;
    }
};

// A one-texture RGB5A3 TPL, every texel opaque 5-5-5 so that its picture comes back exact.
Bytes tinyTpl(std::uint8_t seed, std::uint32_t width, std::uint32_t height) {
    TextureLayout layout;
    layout.format = Format::RGB5A3;
    layout.width = width;
    layout.height = height;
    auto writer = TplWriter::plan(std::span(&layout, 1));
    EXPECT_TRUE(writer);
    const std::span<std::uint8_t> level = *writer->level(0, 0);
    for (std::size_t i = 0; i < level.size(); ++i) level[i] = static_cast<std::uint8_t>(i % 2 ? seed + i : 0x80 | (i & 0x7F));
    return std::move(*writer).finish();
}

Bytes u8Of(std::initializer_list<std::pair<std::string, Bytes>> members) {
    std::vector<NewMember> list;
    for (const auto& [path, bytes] : members) list.push_back({path, bytes});
    return buildU8(list).value();
}

// Every member of a U8, Yaz0 or not, by path.
std::map<std::string, Bytes> membersOf(const Bytes& file) {
    const Bytes u8 = detectKind(file) == FileKind::Yaz0 ? yaz0Decompress(file).value() : file;
    std::map<std::string, Bytes> out;
    const auto archive = parseU8(u8);
    EXPECT_TRUE(archive);
    if (!archive) return out;
    for (const ArchiveEntry& e : archive->files) {
        const auto bytes = std::span(u8).subspan(e.offset, e.size);
        out[e.path] = Bytes(bytes.begin(), bytes.end());
    }
    return out;
}

// Inverting a channel of 5 bits widened by replication gives another such value:
// RGB5A3 and I8 hold the result exactly.
Image inverted(Image picture) {
    for (std::size_t i = 0; i < picture.rgba.size(); ++i)
        if (i % 4 != 3) picture.rgba[i] = static_cast<std::uint8_t>(255 - picture.rgba[i]);
    return picture;
}

// Each pixel as a 2 × 2 block.
Image doubled(const Image& picture) {
    Image out(picture.width * 2, picture.height * 2);
    for (std::uint32_t y = 0; y < out.height; ++y)
        for (std::uint32_t x = 0; x < out.width; ++x)
            std::copy_n(picture.row(y / 2).begin() + 4 * (x / 2), 4, out.row(y).begin() + 4 * x);
    return out;
}

class PackCli : public ::testing::Test, protected testing::ScratchDir {
protected:
    Outcome run(const std::string& args) const {
        const std::string command = "cd '" + dir.string() + "' && '" TPLFORGE_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        const Bytes out = fileBytes(path("out.txt")), err = fileBytes(path("err.txt"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
    }
    void write(const std::string& name, const Bytes& bytes) const {
        fs::create_directories(fs::path(path(name)).parent_path());
        testing::writeBytes(path(name), bytes);
    }
    void writePicture(const std::string& name, const Image& picture) const {
        write(name, writePng(picture, PngChannels::Rgba).value());
    }
    Image picture(const std::string& name) const {
        auto read = readPng(fileBytes(path(name)));
        return read ? std::move(read).value() : Image{};
    }

    void game() const {
        const Bytes shared = tinyTpl(3, 8, 8);
        write("game/a.szs", yaz0Compress(u8Of({{"arc/timg/shared.tpl", shared},
                                               {"arc/timg/only_a.tpl", tinyTpl(5, 16, 8)},
                                               {"arc/readme.txt", Bytes(40, 'a')}}))
                                .value());
        write("game/sub/b.arc", u8Of({{"x/shared.tpl", shared}, {"x/other.tpl", tinyTpl(9, 4, 4)}}));
        write("game/lone.tpl", tinyTpl(11, 4, 4));
        write("game/scene.arc", fileBytes(TPLFORGE_PATH_SEEDS "/seed-scene.arc"));
        write("game/notes.txt", Bytes(100, 'n'));
    }
    // The first texture's Dolphin name and a copy of it, below what the path names.
    std::string nameOf(const std::string& inner, std::size_t k = 0) const {
        const auto file = TextureFile::open(path(inner));
        EXPECT_TRUE(file) << inner;
        if (!file || file->textures().size() <= k) return {};
        const auto name = file->textures()[k].dolphin();
        return name ? name->name : std::string();
    }
    Image decoded(const std::string& inner, unsigned level = 0, std::size_t k = 0) const {
        const auto file = TextureFile::open(path(inner));
        EXPECT_TRUE(file) << inner;
        if (!file || file->textures().size() <= k) return {};
        auto picture = file->textures()[k].decode(level);
        return picture ? std::move(picture).value() : Image{};
    }
    std::set<std::string> filesIn(const std::string& folder) const {
        std::set<std::string> out;
        if (!fs::exists(path(folder))) return out;
        for (const auto& e : fs::recursive_directory_iterator(path(folder)))
            if (e.is_regular_file()) out.insert(fs::relative(e.path(), path(folder)).generic_string());
        return out;
    }
    std::map<std::string, Bytes> snapshot(const std::string& folder) const {
        std::map<std::string, Bytes> out;
        for (const std::string& f : filesIn(folder)) out[f] = fileBytes(path(folder + "/" + f));
        return out;
    }
};

TEST_F(PackCli, AnUnchangedPackWritesNothing) {
    game();
    const Outcome exported = run("export-pack game -o pack --mipmaps");
    ASSERT_EQ(exported.status, 0) << exported.err;
    // 9 textures, the shared TPL's twice and two J3D headers of one image: 7 names.
    EXPECT_EQ(exported.out, "export-pack: 9 textures in 4 files, 7 pictures written to pack (2 names seen before, written "
                            "once); 1 file skipped (no textures)\n");
    const std::set<std::string> names = filesIn("pack");
    EXPECT_EQ(names.size(), 7u);
    for (const char* inner : {"game/a.szs/arc/timg/shared.tpl", "game/sub/b.arc/x/other.tpl", "game/lone.tpl",
                                     "game/scene.arc/face.bti", "game/scene.arc/model.bmd"})
        EXPECT_TRUE(names.count(nameOf(inner) + ".png")) << inner;
    // As Dolphin dumps them: RGBA, the console's view.
    const std::string lone = "pack/" + nameOf("game/lone.tpl") + ".png";
    EXPECT_EQ(picture(lone), decoded("game/lone.tpl"));

    const auto before = snapshot("game");
    const Outcome imported = run("import-pack pack game -d out");
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out.rfind("import-pack: nothing changed; no file written", 0), 0u) << imported.out;
    EXPECT_FALSE(fs::exists(path("out")));
    const Outcome inPlace = run("import-pack pack game --in-place");
    EXPECT_EQ(inPlace.status, 0) << inPlace.err;
    EXPECT_EQ(snapshot("game"), before);

    // --by-file mirrors files and members, and takes the same pack back.
    ASSERT_EQ(run("export-pack game/a.szs game/lone.tpl -o mirrored --by-file").status, 0);
    EXPECT_EQ(filesIn("mirrored"),
              (std::set<std::string>{"a.szs/arc/timg/shared.tpl/" + nameOf("game/a.szs/arc/timg/shared.tpl") + ".png",
                                     "a.szs/arc/timg/only_a.tpl/" + nameOf("game/a.szs/arc/timg/only_a.tpl") + ".png",
                                     "lone.tpl/" + nameOf("game/lone.tpl") + ".png"}));
    EXPECT_EQ(run("import-pack mirrored game -d out").status, 0);
    EXPECT_FALSE(fs::exists(path("out")));
}

// A damaged file, and a damaged member of an archive: one line each, every
// other texture written, exit status 1.
TEST_F(PackCli, ExportWritesWhatItCanAndNamesWhatItCannot) {
    game();
    Bytes badTpl = tinyTpl(21, 4, 4);
    badTpl.resize(40);  // the image header's data offset now points past the end
    write("game/c.arc", u8Of({{"ok.tpl", tinyTpl(23, 4, 4)}, {"bad.tpl", badTpl}}));
    write("game/broken.szs", Bytes{'Y', 'a', 'z', '0', 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 1, 2});
    const Outcome r = run("export-pack game -o pack -j 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.linesWith("game/broken.szs"), 1u) << r.err;
    EXPECT_EQ(r.linesWith("c.arc/bad.tpl"), 1u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_TRUE(fs::exists(path("pack/" + nameOf("game/c.arc/ok.tpl") + ".png")));
    EXPECT_EQ(filesIn("pack").size(), 8u);
    EXPECT_NE(r.out.find("10 textures in 5 files, 8 pictures"), std::string::npos) << r.out;
}

TEST_F(PackCli, RepaintedPicturesChangeThoseTexturesInEveryFileAndNothingElse) {
    game();
    ASSERT_EQ(run("export-pack game -o pack").status, 0);
    // The shared TPL repainted at its size; only_a twice as large, under its
    // wildcard name (any 16 x 8 RGB5A3 texture: it alone is one).
    const std::string shared = nameOf("game/a.szs/arc/timg/shared.tpl"), onlyA = nameOf("game/a.szs/arc/timg/only_a.tpl");
    const Image sharedNew = inverted(picture("pack/" + shared + ".png"));
    const Image onlyANew = inverted(picture("pack/" + onlyA + ".png"));
    ASSERT_FALSE(sharedNew.empty());
    ASSERT_FALSE(onlyANew.empty());
    writePicture("pack/" + shared + ".png", sharedNew);
    fs::remove(path("pack/" + onlyA + ".png"));
    writePicture("pack/sub/tex1_16x8_$_5.png", doubled(onlyANew));
    writePicture("pack/tex1_4x4_0123456789abcdef_5.png", Image(4, 4));

    const auto before = snapshot("game");
    const Outcome r = run("import-pack pack game -d out -v");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesIn("out"), (std::set<std::string>{"a.szs", "sub/b.arc"}));
    EXPECT_NE(r.out.find("out/a.szs: 2 textures replaced\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("out/sub/b.arc: 1 texture replaced\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("import-pack: 3 textures replaced in 2 files"), std::string::npos) << r.out;
    EXPECT_EQ(r.linesWith("1 pack picture matched no texture"), 1u) << r.err;
    EXPECT_EQ(r.linesWith("tex1_4x4_0123456789abcdef_5.png"), 1u) << r.err;
    EXPECT_EQ(r.linesWith("1 pack picture matched several textures"), 1u) << r.err;
    EXPECT_EQ(r.linesWith("game/sub/b.arc/x/shared.tpl/1"), 1u) << r.err;
    EXPECT_EQ(snapshot("game"), before);

    // Those members alone changed, in both archives, each keeping its header.
    auto wasA = membersOf(before.at("a.szs")), nowA = membersOf(fileBytes(path("out/a.szs")));
    auto wasB = membersOf(before.at("sub/b.arc")), nowB = membersOf(fileBytes(path("out/sub/b.arc")));
    EXPECT_EQ(nowA.at("arc/timg/shared.tpl"), nowB.at("x/shared.tpl"));
    for (const char* member : {"arc/timg/shared.tpl", "arc/timg/only_a.tpl"}) {
        EXPECT_NE(nowA.at(member), wasA.at(member)) << member;
        EXPECT_EQ(nowA.at(member).size(), wasA.at(member).size()) << member;
        nowA.erase(member), wasA.erase(member);
    }
    nowB.erase("x/shared.tpl"), wasB.erase("x/shared.tpl");
    EXPECT_EQ(nowA, wasA);
    EXPECT_EQ(nowB, wasB);
    EXPECT_EQ(decoded("out/a.szs/arc/timg/shared.tpl"), sharedNew);
    EXPECT_EQ(decoded("out/sub/b.arc/x/shared.tpl"), sharedNew);
    EXPECT_EQ(decoded("out/a.szs/arc/timg/only_a.tpl"), onlyANew);

    // In place, the same bytes land on the files themselves.
    const Outcome inPlace = run("import-pack pack game --in-place");
    ASSERT_EQ(inPlace.status, 0) << inPlace.err;
    auto after = snapshot("game");
    EXPECT_EQ(after.at("a.szs"), fileBytes(path("out/a.szs")));
    EXPECT_EQ(after.at("sub/b.arc"), fileBytes(path("out/sub/b.arc")));
    after.erase("a.szs"), after.erase("sub/b.arc");
    auto unchanged = before;
    unchanged.erase("a.szs"), unchanged.erase("sub/b.arc");
    EXPECT_EQ(after, unchanged);
}

TEST_F(PackCli, PackSizeIsKeptWhereTheFileTakesIt) {
    game();
    ASSERT_EQ(run("export-pack game -o pack").status, 0);
    const std::string lone = nameOf("game/lone.tpl"), grey = nameOf("game/scene.arc/model.bmd", 1);
    ASSERT_EQ(grey, "tex1_8x4_10597a1ba620f17b_1");
    const Image loneSmall = inverted(picture("pack/" + lone + ".png"));
    const Image loneNew = doubled(loneSmall);
    const Image greySmall = inverted(picture("pack/" + grey + ".png"));
    writePicture("pack/" + lone + ".png", loneNew);
    writePicture("pack/" + grey + ".png", doubled(greySmall));

    const Outcome r = run("import-pack pack game/lone.tpl game/scene.arc -d out --size pack");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesIn("out"), (std::set<std::string>{"lone.tpl", "scene.arc"}));
    // The TPL takes the pack's 8 x 8.
    const Image lonePicture = decoded("out/lone.tpl");
    EXPECT_EQ(lonePicture.width, 8u);
    EXPECT_EQ(lonePicture, loneNew);
    // The model keeps its 8 x 4, scaled down, and says so once.
    EXPECT_EQ(r.linesWith("J3D textures keep their size (8 x 4)"), 1u) << r.err;
    const Image greyPicture = decoded("out/scene.arc/model.bmd", 0, 1);
    ASSERT_EQ(greyPicture.width, 8u);
    ASSERT_EQ(greyPicture.height, 4u);
    for (std::size_t i = 0; i < greyPicture.rgba.size(); i += 4) EXPECT_EQ(greyPicture.rgba[i], greySmall.rgba[i]) << i;

    // By default every picture is scaled to its texture.
    fs::remove_all(path("out"));
    ASSERT_EQ(run("import-pack pack game/lone.tpl -d out").status, 0);
    EXPECT_EQ(decoded("out/lone.tpl"), loneSmall);
}

TEST_F(PackCli, BadPackFilesAreOneLineEachAndTheRestIsDone) {
    game();
    write("game/mip.tpl", fileBytes(TPLFORGE_FORMATS_DATA "/rgba8-mip.tpl"));
    ASSERT_EQ(run("export-pack game -o pack --mipmaps").status, 0);
    const std::string mip = nameOf("game/mip.tpl"), lone = nameOf("game/lone.tpl");
    const std::string shared = nameOf("game/a.szs/arc/timg/shared.tpl");
    ASSERT_EQ(mip, "tex1_16x8_m_0ab9d8f35ad15be6_6");
    ASSERT_TRUE(fs::exists(path("pack/" + mip + "_mip2.png")));

    writePicture("pack/tex1_garbage.png", Image(4, 4));
    writePicture("pack/" + mip + "_mip1.png", Image(6, 4));
    const Image mipNew = inverted(picture("pack/" + mip + ".png"));
    writePicture("pack/" + mip + ".png", mipNew);
    write("pack/" + lone + ".png", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    writePicture("pack/" + shared + ".png", inverted(picture("pack/" + shared + ".png")));

    const Outcome r = run("import-pack pack game -d out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.linesWith("tex1_garbage.png: bad pack name"), 1u) << r.err;
    EXPECT_EQ(r.linesWith(mip + "_mip1.png: 6 x 4 where level 1 must be 8 x 4"), 1u) << r.err;
    EXPECT_EQ(r.linesWith(lone + ".png: not a picture"), 1u) << r.err;
    // The rest are notes (the shared TPL's picture matched two textures).
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') - r.linesWith("import-pack: note:"), 3u) << r.err;
    EXPECT_EQ(filesIn("out"), (std::set<std::string>{"a.szs", "sub/b.arc", "mip.tpl"}));
    // The levels from the bad one on are made from the level above, as for a picture without levels.
    EXPECT_EQ(decoded("out/mip.tpl"), mipNew);
    EXPECT_EQ(decoded("out/mip.tpl", 1), halveImage(mipNew));
    EXPECT_EQ(decoded("out/mip.tpl", 2), halveImage(halveImage(mipNew)));

    // Usage: one of -d and --in-place.
    EXPECT_EQ(run("import-pack pack game").status, 2);
    EXPECT_EQ(run("import-pack pack game -d out --in-place").status, 2);
}

}  // namespace
}  // namespace tplforge
