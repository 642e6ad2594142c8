// decode --manifest and build on whole archives and a whole game folder, run as
// a modder runs them: every file comes back byte for byte, build -d writes
// exactly the files whose pictures were edited and in each only those
// textures change, sizes a container cannot hold are refused while the rest is
// written, and refusals write nothing.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "support/archive_files.h"
#include "support/cli_run.h"
#include "support/edits.h"
#include "support/scratch.h"
#include "tplforge/containers.h"
#include "tplforge/png.h"
#include "tplforge/texture_file.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::ordered_json;
using testing::fileBytes;
using testing::Hand;
using testing::inverted;
using testing::mirrored;
using testing::szs;
using testing::u8Of;

const fs::path kSeeds = TPLFORGE_PATH_SEEDS;
const fs::path kCodec = TPLFORGE_CODEC_DATA;
const fs::path kReal = TPLFORGE_REAL_DATA;
const fs::path kMenu = TPLFORGE_MENU_ARCHIVE;

using Outcome = testing::CliOutcome;

// Textures of every palette format in one BRRES, as a model's texture file holds them.
Bytes paletteBrres() {
    static const TextureData c4 = testing::textureData(Format::C4, 8, 8, 1, 3, 16, PaletteFormat::IA8);
    static const TextureData c8 = testing::textureData(Format::C8, 16, 8, 2, 5, 200, PaletteFormat::RGB565);
    static const TextureData c14 = testing::textureData(Format::C14X2, 4, 4, 1, 7, 300, PaletteFormat::RGB5A3);
    static const TextureData rgb = testing::textureData(Format::RGB5A3, 8, 8, 1, 9);
    const NamedTexture textures[] = {{"c4", &c4}, {"c8", &c8}, {"c14", &c14}, {"plain", &rgb}};
    return writeBrres(textures).value();
}

// A GameCube opening.bnr of exactly its size: the 96 × 32 RGB5A3 picture at 0x20.
Bytes gameCubeBanner() {
    Hand h;
    h.text("BNR1").to(0x20);
    for (std::size_t i = 0; i < 96 * 32; ++i) h.u16(0x8000 | (i * 37 & 0x7FFF));
    return h.to(0x1960).b;
}

// A Wii save's banner.bin: the 192 × 64 banner at 160, then one 48 × 48 icon.
Bytes saveBanner() {
    Hand h;
    h.text("WIBN").to(160);
    for (std::size_t i = 0; i < 192 * 64 + 48 * 48; ++i) h.u16(0x8000 | (i * 53 & 0x7FFF));
    return h.b;
}

class Tree : public ::testing::Test, protected testing::ScratchDir {
protected:
    Outcome run(const std::string& args) const { return testing::runCli(TPLFORGE_CLI_PATH, dir, args); }
    void write(const std::string& name, const Bytes& bytes) const {
        fs::create_directories(fs::path(path(name)).parent_path());
        testing::writeBytes(path(name), bytes);
    }
    Image picture(const std::string& name) const {
        auto read = readPng(fileBytes(path(name)));
        return read ? std::move(read).value() : Image{};
    }
    void writePicture(const std::string& name, const Image& image) const {
        write(name, writePng(image, PngChannels::Rgba).value());
    }
    // Every file below `folder` with its bytes, by path relative to it.
    std::map<std::string, Bytes> filesIn(const std::string& folder) const {
        std::map<std::string, Bytes> out;
        if (!fs::exists(path(folder))) return out;
        for (const auto& e : fs::recursive_directory_iterator(path(folder)))
            if (e.is_regular_file()) out[fs::relative(e.path(), path(folder)).generic_string()] = fileBytes(e.path().string());
        return out;
    }

    // An extracted game's files/: archives of every kind nested as games nest
    // them, texture files on their own, and files of no texture kind.
    void game() const {
        const auto seed = [](const char* name) { return fileBytes((kSeeds / name).string()); };
        const auto codec = [](const std::string& name) { return fileBytes((kCodec / name).string()); };
        write("game/files/Scene/menu.szs", fileBytes(kMenu.string()));
        write("game/files/Scene/seed-menu.szs", seed("seed-menu.szs"));
        write("game/files/opening.bnr", seed("seed-opening.bnr"));
        write("game/files/Stage/scene.arc", seed("seed-scene.arc"));
        // A course: models without textures, a TEX0 with its PLT0, a Yaz0 of no archive.
        testing::Hand noTex1;
        noTex1.text("J3D2bmd3").u32(0x20).u32(0).fill(16);
        write("game/files/Race/course.szs",
              szs(u8Of({{"course/map_model.brres", writeBrres(std::span<const NamedTexture>{}).value()},
                        {"course/collision.bmd", noTex1.b},
                        {"course/course.brres", paletteBrres()},
                        {"course/face.tex0", codec("containers/face.tex0")},
                        {"course/face.plt0", codec("containers/face.plt0")},
                        {"course/data.bin", szs(testing::bytesOf("no archive at all, compressed"))}})));
        write("game/files/misc/textures.brres", codec("containers/textures.brres"));
        write("game/files/misc/face.tex0", codec("containers/face.tex0"));
        write("game/files/misc/face.plt0", codec("containers/face.plt0"));
        write("game/files/misc/c8-mip.bti", codec("containers/c8-mip.bti"));
        write("game/files/misc/game.u8", codec("containers/game.u8"));
        write("game/files/misc/opening.bnr", gameCubeBanner());
        write("game/files/save/banner.bin", saveBanner());
        write("game/files/readme.txt", testing::bytesOf("not a texture\n"));
        write("game/files/empty", {});
        for (const fs::path& folder : {kCodec / "formats", kReal})
            for (const auto& e : fs::directory_iterator(folder))
                if (e.path().extension() == ".tpl")
                    write("game/files/tpl/" + e.path().filename().string(), fileBytes(e.path().string()));
    }
};

// Every texture of a file, by path, as stored.
std::map<std::string, TextureData> texturesOf(const Bytes& file, const std::string& name, const Bytes& palette = {}) {
    std::map<std::string, TextureData> out;
    const auto opened = TextureFile::fromBytes(file, name, {}, palette);
    EXPECT_TRUE(opened) << name << ": " << (opened ? "" : describe(opened.error()));
    if (opened)
        for (const TextureRef& t : opened->textures()) out[t.path()] = t.stored();
    return out;
}

// Opaque colours of 5-bit channels, which RGB5A3 holds exactly.
Image exactPicture(std::uint32_t w, std::uint32_t h, unsigned seed) {
    Image p(w, h);
    for (std::size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = i % 4 == 3 ? 255 : static_cast<std::uint8_t>((i * seed * 7 + i / 4) % 32 * 8);
    for (std::size_t i = 0; i < p.rgba.size(); ++i) if (i % 4 != 3) p.rgba[i] |= p.rgba[i] >> 5;
    return p;
}

TEST_F(Tree, EveryFileComesBackByteForByte) {
    game();
    const auto before = filesIn("game");
    ASSERT_EQ(before.size(), 30u);
    // Each file on its own: its manifest, then the file it builds.
    for (const auto& [name, bytes] : before) {
        const std::string kind = fs::path(name).extension().string();
        if (kind == ".txt" || kind == ".plt0" || kind == ".u8" || fs::path(name).filename() == "empty") continue;
        SCOPED_TRACE(name);
        fs::remove_all(path("m"));
        const Outcome decoded = run("decode --manifest game/" + name + " -o m");
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        const Outcome built = run("build m/" + fs::path(name).stem().string() + ".json -o back");
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(fileBytes(path("back")), bytes);
    }

    // The whole folder, on one thread and on three: the same pictures and manifest.
    for (const char* jobs : {"1", "3"}) {
        const Outcome r = run(std::string("decode --manifest -j ") + jobs + " game/files -o w" + jobs);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("game/files: note: 4 files hold no texture; left out"), std::string::npos) << r.err;
    }
    EXPECT_EQ(filesIn("w1"), filesIn("w3"));
    const Json manifest = Json::parse(fileBytes(path("w1/files.json")));
    EXPECT_EQ(manifest["tplforge_manifest"], 2);
    EXPECT_EQ(manifest["source"]["path"], "../game/files");
    EXPECT_EQ(manifest["source"]["skipped"], 4);
    std::set<std::string> listed;
    for (const auto& f : manifest["files"]) listed.insert(f["path"].get<std::string>());
    EXPECT_TRUE(listed.contains("../game/files/Race/course.szs") && listed.contains("../game/files/misc/opening.bnr") &&
                listed.contains("../game/files/tpl/cmpr.tpl"))
        << manifest["files"].size();
    EXPECT_EQ(listed.size(), before.size() - 4);  // all but game.u8, the PLT0, readme and empty
    // Decoded as a course holds them: pictures below its own name, none for the models without textures.
    const auto pictures = filesIn("w1/files/Race");
    EXPECT_EQ(pictures.size(), 6u);  // c4, c8 and its mipmap, c14, plain, face
    EXPECT_TRUE(pictures.contains("course.szs/course/course/c8.mip1.png") && pictures.contains("course.szs/course/face.png"));

    for (const char* mode : {"-d patch", "--in-place"}) {
        SCOPED_TRACE(mode);
        const Outcome built = run(std::string("build w1/files.json ") + mode);
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(built.out, "w1/files.json: nothing changed; nothing written\n");
        EXPECT_TRUE(built.err.empty()) << built.err;
    }
    EXPECT_FALSE(fs::exists(path("patch")));
    EXPECT_EQ(filesIn("game"), before);
    EXPECT_EQ(Json::parse(fileBytes(path("w1/files.json"))), manifest);

    // Decoded into a folder inside it, again: the pictures of the first run are no source.
    for (int round = 0; round < 2; ++round) {
        const Outcome inside = run("decode --manifest game/files -o game/files/work");
        ASSERT_EQ(inside.status, 0) << inside.err;
        EXPECT_NE(inside.err.find("note: 4 files hold no texture"), std::string::npos) << inside.err;
    }
}

// Pictures edited in several archives of one tree: build -d writes exactly those
// files, and in each only the edited textures change, as encode with their
// settings makes them; --in-place changes the same files to the same bytes and
// leaves a manifest that has nothing more to build.
TEST_F(Tree, EditsInSeveralArchivesWriteExactlyThoseFiles) {
    game();
    ASSERT_EQ(run("decode --manifest game/files -o w").status, 0);
    const auto before = filesIn("game");
    const std::string menu = "w/files/Scene/menu.szs/", course = "w/files/Race/course.szs/course/";

    // A real RGB5A3 texture of a TPL in a Yaz0 U8: any new colours.
    const Image logo = inverted(picture(menu + "timg/logo.png"));
    writePicture(menu + "timg/logo.png", logo);
    // A C8 texture with mipmaps in a BRRES, mirrored: its own colours, so its palette stays.
    const Image c8 = mirrored(picture(course + "course/c8.png"));
    writePicture(course + "course/c8.png", c8);
    // A TEX0 of a palette format beside its PLT0 inside the archive: new colours, a new palette.
    const Image face = inverted(picture(course + "face.png"));
    writePicture(course + "face.png", face);
    // The banner's TPL through IMET, U8, IMD5 and LZ77.
    const Image banner = exactPicture(8, 4, 3);
    writePicture("w/files/opening.bnr/meta/banner.bin/arc/timg/x.png", banner);
    // A hand-made mipmap alone, of a BTI in a RARC.
    const Image mip = exactPicture(4, 4, 5);
    writePicture("w/files/Stage/scene.arc/face.mip1.png", mip);

    const Outcome built = run("build w/files.json -d patch");
    ASSERT_EQ(built.status, 0) << built.err;
    const auto patch = filesIn("patch");
    ASSERT_EQ(patch.size(), 4u) << built.out;
    const std::map<std::string, std::set<std::string>> edited = {
        {"Scene/menu.szs", {"timg/logo.tpl/1"}},
        {"Race/course.szs", {"course/course.brres/c8", "course/face.tex0/face"}},
        {"opening.bnr", {"meta/banner.bin/arc/timg/x.tpl/1"}},
        {"Stage/scene.arc", {"face.bti/1"}}};
    for (const auto& [file, textures] : edited) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(patch.contains(file));
        const auto was = texturesOf(before.at("files/" + file), file), now = texturesOf(patch.at(file), file);
        ASSERT_EQ(now.size(), was.size());
        for (const auto& [texture, stored] : was) {
            if (textures.contains(texture)) {
                EXPECT_NE(now.at(texture), stored) << texture;
            } else {
                EXPECT_EQ(now.at(texture), stored) << texture;
            }
        }
    }
    // Members no edit touched keep every byte, compressed or not.
    const auto members = [](const Bytes& szsFile) {
        std::map<std::string, Bytes> out;
        const Bytes u8 = yaz0Decompress(szsFile).value();
        const auto archive = parseU8(u8);
        EXPECT_TRUE(archive);
        if (!archive) return out;
        for (const ArchiveEntry& e : archive->files)
            out[e.path] = Bytes(u8.begin() + static_cast<std::ptrdiff_t>(e.offset), u8.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
        return out;
    };
    auto was = members(before.at("files/Race/course.szs")), now = members(patch.at("Race/course.szs"));
    for (const char* changed : {"course/course.brres", "course/face.tex0", "course/face.plt0"}) {
        EXPECT_NE(now.at(changed), was.at(changed)) << changed;
        now.erase(changed), was.erase(changed);
    }
    EXPECT_EQ(now, was);

    // Each edited texture is what encode makes of its picture with its settings.
    const auto logoNow = texturesOf(patch.at("Scene/menu.szs"), "menu.szs").at("timg/logo.tpl/1");
    EncodeOptions rgb5a3;
    rgb5a3.format = Format::RGB5A3;
    EXPECT_EQ(logoNow, encodeTextureData(logo, rgb5a3, 1).value());
    const auto courseNow = texturesOf(patch.at("Race/course.szs"), "course.szs");
    const auto courseWas = texturesOf(before.at("files/Race/course.szs"), "course.szs");
    const TextureData& c8Now = courseNow.at("course/course.brres/c8");
    EXPECT_EQ(c8Now.palette, courseWas.at("course/course.brres/c8").palette);
    EXPECT_EQ(c8Now.levels, 2u);
    const auto shown = [](const TextureData& d, unsigned level) {
        const auto file = writeTex0(d, "t").value();
        return TextureFile::fromBytes(file.tex0, "t.tex0", {}, file.plt0).value().textures()[0].decode(level).value();
    };
    EXPECT_EQ(shown(c8Now, 0), c8);
    EncodeOptions c8Options;
    c8Options.format = Format::C8;
    c8Options.paletteFormat = courseWas.at("course/face.tex0/face").paletteFormat;
    c8Options.paletteEntries = static_cast<std::uint32_t>(courseWas.at("course/face.tex0/face").palette.size());
    EXPECT_EQ(courseNow.at("course/face.tex0/face"), encodeTextureData(face, c8Options, 1).value());
    EXPECT_EQ(shown(texturesOf(patch.at("opening.bnr"), "opening.bnr").at("meta/banner.bin/arc/timg/x.tpl/1"), 0), banner);
    const auto btiNow = texturesOf(patch.at("Stage/scene.arc"), "scene.arc").at("face.bti/1");
    const auto btiWas = texturesOf(before.at("files/Stage/scene.arc"), "scene.arc").at("face.bti/1");
    EXPECT_EQ(shown(btiNow, 0), shown(btiWas, 0));
    EXPECT_EQ(shown(btiNow, 1), mip);

    // In place: the same files, the same bytes; then nothing is left to build.
    const Outcome inPlace = run("build w/files.json --in-place");
    ASSERT_EQ(inPlace.status, 0) << inPlace.err;
    const auto after = filesIn("game");
    for (const auto& [name, bytes] : before) {
        const std::string file = name.substr(std::string("files/").size());
        EXPECT_EQ(after.at(name), patch.contains(file) ? patch.at(file) : bytes) << name;
    }
    const Outcome again = run("build w/files.json -d again");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "w/files.json: nothing changed; nothing written\n");
    EXPECT_FALSE(fs::exists(path("again")));
}

// Pictures of another size: taken where the container holds any (TPL, BRRES
// TEX0, BTI and TEX0 on their own), refused in one line where it holds its
// textures in place (J3D, banners) while the rest of the build is written.
TEST_F(Tree, OtherSizesWhereTheContainerTakesThem) {
    game();
    ASSERT_EQ(run("decode --manifest game/files -o w").status, 0);
    const auto before = filesIn("game");
    const std::map<std::string, std::pair<std::string, std::string>> taken = {  // picture: file, texture
        {"w/files/tpl/rgba8.png", {"tpl/rgba8.tpl", "1"}},
        {"w/files/misc/textures/lm_0.png", {"misc/textures.brres", "lm_0"}},
        {"w/files/misc/c8-mip.png", {"misc/c8-mip.bti", "1"}},
        {"w/files/misc/face.png", {"misc/face.tex0", "face"}},
        {"w/files/Stage/scene.arc/face.png", {"Stage/scene.arc", "face.bti/1"}},
    };
    unsigned seed = 1;
    std::map<std::string, Image> pictures;
    for (const auto& [name, where] : taken) {
        const Image was = picture(name);
        pictures[name] = exactPicture(was.width * 2, was.height + 4, ++seed);
        writePicture(name, pictures[name]);
    }
    // Held in place: a model's texture, the GameCube banner, a save banner's icon.
    const Image model = picture("w/files/Stage/scene.arc/model/2.png");
    writePicture("w/files/Stage/scene.arc/model/2.png", exactPicture(model.width * 2, model.height * 2, 9));
    writePicture("w/files/misc/opening.png", exactPicture(48, 48, 11));
    writePicture("w/files/save/banner/2.png", exactPicture(64, 64, 13));

    const Outcome r = run("build w/files.json -d patch");
    EXPECT_EQ(r.status, 1);
    // Three refusals; the notes say which palettes merged colours and which TPL was laid out afresh.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
    std::size_t refusals = 0;
    for (std::size_t at = 0; (at = r.err.find("; left as it was\n", at)) != std::string::npos; ++at) ++refusals;
    EXPECT_EQ(refusals, 3u) << r.err;
    for (const char* line : {"w/files.json: ../game/files/Stage/scene.arc: texture model.bmd/2: this file takes a texture of the same format, size, levels and palette size only; left as it was",
                             "w/files.json: ../game/files/misc/opening.bnr: texture 1: this file takes a texture of the same format",
                             "w/files.json: ../game/files/save/banner.bin: texture 2: this file takes a texture of the same format"})
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    const auto patch = filesIn("patch");
    EXPECT_EQ(patch.size(), 6u);  // the five files that take their picture, and the TEX0's new PLT0
    for (const auto& [name, where] : taken) {
        const auto& [file, texture] = where;
        SCOPED_TRACE(file);
        ASSERT_TRUE(patch.contains(file));
        const Bytes palette = patch.contains("misc/face.plt0") && file == "misc/face.tex0" ? patch.at("misc/face.plt0") : Bytes{};
        const auto opened = TextureFile::fromBytes(patch.at(file), fs::path(file).filename().string(), {}, palette);
        ASSERT_TRUE(opened) << describe(opened.error());
        const auto found = opened->find(texture);
        ASSERT_TRUE(found);
        const Image shown = (*found)->decode(0).value();
        EXPECT_EQ(shown.width, pictures[name].width);
        if ((*found)->view.format == Format::RGB5A3 || (*found)->view.format == Format::RGBA8) {
            EXPECT_EQ(shown, pictures[name]);
        }
    }
    // The model keeps its texture in the archive that was written for the BTI.
    EXPECT_EQ(texturesOf(patch.at("Stage/scene.arc"), "scene.arc").at("model.bmd/2"),
              texturesOf(before.at("files/Stage/scene.arc"), "scene.arc").at("model.bmd/2"));
    EXPECT_EQ(filesIn("game"), before);
}

// Each refusal: exit 1, one line, no file written, every source as it was,
// with -d and with --in-place alike.
TEST_F(Tree, RefusalsWriteNothing) {
    game();
    ASSERT_EQ(run("decode --manifest game/files -o w").status, 0);
    const Json good = Json::parse(fileBytes(path("w/files.json")));
    // One real edit, so that every refusal below stops a build that would write.
    writePicture("w/files/Scene/menu.szs/timg/logo.png", inverted(picture("w/files/Scene/menu.szs/timg/logo.png")));
    const auto fileAt = [&](const Json& m, const std::string& p) -> std::size_t {
        for (std::size_t k = 0; k < m["files"].size(); ++k)
            if (m["files"][k]["path"] == p) return k;
        ADD_FAILURE() << p;
        return 0;
    };
    const std::size_t menuAt = fileAt(good, "../game/files/Scene/menu.szs");
    const auto variant = [&](const std::string& name, auto change) {
        Json m = good;
        change(m);
        write("w/" + name, testing::bytesOf(m.dump(1)));
    };
    variant("key.json", [&](Json& m) { m["files"][menuAt]["textures"][0]["wrapS"] = "clamp"; });
    variant("outside.json", [&](Json& m) { m["files"][menuAt]["path"] = "../game/menu.szs"; });
    variant("sampler.json", [&](Json& m) { m["files"][fileAt(m, "../game/files/misc/c8-mip.bti")]["textures"][0]["wrap_s"] = "repeat"; });
    variant("missing.json", [&](Json& m) { m["files"][menuAt]["textures"][3]["pictures"][0]["file"] = "gone.png"; });
    variant("gone.json", [&](Json& m) { m["files"][menuAt]["path"] = "../game/files/Scene/gone.szs"; });
    variant("twice.json", [&](Json& m) { m["files"][menuAt]["textures"][1] = m["files"][menuAt]["textures"][0]; });
    write("w/bad.json", testing::bytesOf("{\"tplforge_manifest\": 2,"));
    const std::pair<std::string, std::string> rows[] = {
        {"build w/bad.json", "w/bad.json: not valid JSON; nothing written"},
        {"build w/key.json", "Scene/menu.szs: texture bg/mud.tpl/1: unknown key 'wrapS'; nothing written"},
        {"build w/outside.json", "../game/menu.szs: lies outside the source folder ../game/files; nothing written"},
        {"build w/sampler.json", "texture 1: unknown key 'wrap_s'; nothing written"},
        {"build w/missing.json", "texture timg/logo.tpl/1: picture gone.png: cannot read: No such file or directory; nothing written"},
        {"build w/gone.json", "../game/files/Scene/gone.szs: cannot read: No such file or directory; nothing written"},
        {"build w/twice.json", "texture bg/mud.tpl/1: listed twice; nothing written"},
    };
    const auto sources = filesIn("game");
    for (const char* mode : {" -d patch", " --in-place"})
        for (const auto& [args, line] : rows) {
            const Outcome r = run(args + mode);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.errLines(), 1u) << args << ": " << r.err;
            EXPECT_NE(r.err.find(line), std::string::npos) << args << ": " << r.err;
        }
    EXPECT_FALSE(fs::exists(path("patch")));
    EXPECT_EQ(filesIn("game"), sources);

    // The source changed since decode: refused, whichever build.
    Bytes changed = sources.at("files/Scene/menu.szs");
    changed.push_back(0);
    write("game/files/Scene/menu.szs", changed);
    for (const char* mode : {" -d patch", " --in-place"}) {
        const Outcome r = run(std::string("build w/files.json") + mode);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errLines(), 1u) << r.err;
        EXPECT_NE(r.err.find("../game/files/Scene/menu.szs: is not the file the manifest was made from (its SHA-256 differs)"),
                  std::string::npos) << r.err;
    }
    write("game/files/Scene/menu.szs", sources.at("files/Scene/menu.szs"));

    // A model's texture of another size, the only edit: refused, nothing written.
    ASSERT_EQ(run("decode --manifest game/files -o w").status, 0);
    const Image model = picture("w/files/Stage/scene.arc/model/1.png");
    writePicture("w/files/Stage/scene.arc/model/1.png", exactPicture(model.width, model.height * 2, 3));
    for (const char* mode : {" -d patch", " --in-place"}) {
        const Outcome r = run(std::string("build w/files.json") + mode);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errLines(), 1u) << r.err;
        EXPECT_NE(r.err.find("texture model.bmd/1: this file takes a texture of the same format"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "w/files.json: nothing changed; nothing written\n");
    }
    EXPECT_FALSE(fs::exists(path("patch")));
    EXPECT_EQ(filesIn("game"), sources);
    // -o names one file; a folder's manifest has many.
    const Outcome one = run("build w/files.json -o one.szs");
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find("-o writes one file"), std::string::npos) << one.err;
}

// What a course and a folder inside an archive show: members without textures
// listed with none, the TEX0 read with its PLT0, a folder path taken by info,
// decode and --manifest alike.
TEST_F(Tree, MembersWithoutTexturesAndFolderPaths) {
    game();
    const Outcome info = run("info --json game/files/Race/course.szs");
    ASSERT_EQ(info.status, 0) << info.err;
    std::map<std::string, std::size_t> listed;
    const auto course = nlohmann::json::parse(info.out);
    for (const auto& m : course["members"]) listed[m["path"]] = m["textures"].size();
    EXPECT_EQ(listed, (std::map<std::string, std::size_t>{{"course/map_model.brres", 0}, {"course/collision.bmd", 0},
                                                           {"course/course.brres", 4}, {"course/face.tex0", 1}}));
    const Outcome decoded = run("decode game/files/Race/course.szs -o d");
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_TRUE(decoded.err.empty()) << decoded.err;

    const Outcome folder = run("info --json game/files/Race/course.szs/course");
    ASSERT_EQ(folder.status, 0) << folder.err;
    EXPECT_EQ(nlohmann::json::parse(folder.out)["members"].size(), 4u);
    ASSERT_EQ(run("decode --manifest game/files/Scene/seed-menu.szs/race -o f").status, 0);
    std::set<std::string> pictures;
    for (const auto& [name, bytes] : filesIn("f")) pictures.insert(name);
    EXPECT_EQ(pictures, (std::set<std::string>{"race.json", "race/course.szs/inner.png", "race/model/grass.png",
                                               "race/model/lm_0.png", "race/model/pal.png"}));
    const Outcome built = run("build f/race.json -o back.szs");
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(fileBytes(path("back.szs")), fileBytes(path("game/files/Scene/seed-menu.szs")));
}

}  // namespace
}  // namespace tplforge
