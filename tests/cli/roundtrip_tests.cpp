// decode --manifest, build and replace, run as a user runs them: files of other
// tools come back byte for byte, an edit changes its own texture alone, and
// every refusal is one line that leaves the files as they were.
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "support/scratch.h"
#include "support/tpl_files.h"
#include "tplforge/png.h"
#include "tplforge/tpl_edit.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::ordered_json;
using testing::fileBytes;

// The value, or an empty one that every check of it fails.
template <class T, class E>
T orEmpty(Expected<T, E> result) {
    return result ? std::move(result).value() : T{};
}

struct Outcome {
    int status = -1;
    std::string err;
};

class RoundTrip : public ::testing::Test, protected testing::ScratchDir {
protected:
    Outcome run(const std::string& args) const {
        const std::string command = "cd '" + dir.string() + "' && '" TPLFORGE_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        const Bytes err = fileBytes(path("err.txt"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {err.begin(), err.end()}};
    }
    void write(const std::string& name, const Bytes& bytes) const { testing::writeBytes(path(name), bytes); }
    Image picture(const std::string& name) const { return orEmpty(readPng(fileBytes(path(name)))); }
    void writePicture(const std::string& name, const Image& image) const {
        write(name, writePng(image, PngChannels::Rgba).value());
    }
    Json manifest(const std::string& name) const { return Json::parse(std::ifstream(path(name)), nullptr, false); }
    void writeManifest(const std::string& name, const Json& j) const { std::ofstream(path(name)) << j.dump(1); }
};

std::vector<TextureData> storedAll(const Bytes& file) {
    std::vector<TextureData> out;
    if (const auto info = parseTpl(file))
        for (const TplImageHeader& image : info->images) out.push_back(orEmpty(storedTexture(file, image)));
    return out;
}

// Every level of every texture as the console shows it.
std::vector<Image> consoleView(const Bytes& file) {
    std::vector<Image> out;
    if (const auto info = parseTpl(file))
        for (const TplImageHeader& image : info->images)
            if (const auto view = textureView(file, image))
                for (unsigned l = 0; l < view->levels.size(); ++l) out.push_back(orEmpty(decodeLevel(*view, l)));
    return out;
}

// Every TPL the tests hold, and hand-laid ones of every format with padding
// texels, gaps and tails of a pattern or of zeros.
std::vector<std::pair<std::string, Bytes>> everyFile() {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* folder : {TPLFORGE_FORMATS_DATA, TPLFORGE_REAL_DATA})
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".tpl")
                files.emplace_back(entry.path().filename().string(), fileBytes(entry.path().string()));
    for (const Format f : {Format::I4, Format::I8, Format::IA4, Format::IA8, Format::RGB565, Format::RGB5A3,
                           Format::RGBA8, Format::C4, Format::C8, Format::C14X2, Format::CMPR})
        for (const bool zeros : {false, true})
            files.emplace_back("own-" + std::string(formatName(f)) + (zeros ? "-zeros" : "") + ".tpl",
                               testing::oneFormatTpl(f, zeros));
    files.emplace_back("own-odd-layout.tpl", testing::oddLayoutTpl());
    return files;
}

TEST_F(RoundTrip, DecodeThenBuildGivesTheSameFile) {
    const auto files = everyFile();
    ASSERT_EQ(files.size(), 12u + 4u + 23u);
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(bytes.empty());
        write(name, bytes);
        const std::string stem = fs::path(name).stem().string();
        const Outcome decoded = run("decode --manifest " + name + " -o m");
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        const Outcome built = run("build m/" + stem + ".json -o back.tpl");
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_TRUE(built.err.empty()) << built.err;
        EXPECT_EQ(fileBytes(path("back.tpl")), bytes);
        fs::remove_all(path("m"));
    }
}

// A picture given for a level of a texture of the odd layout, and how build
// must encode it.
struct Edit {
    std::size_t texture;  // from 0
    Format format;        // the texture's settings, with which encode must write the edited picture
    PaletteFormat palette;
    std::uint32_t entries;
    unsigned levels;
    bool sameColours;  // mirrored: only colours the picture had, so a palette is kept
};

Image mirrored(const Image& in) {
    Image out(in.width, in.height);
    for (std::uint32_t y = 0; y < in.height; ++y)
        for (std::uint32_t x = 0; x < in.width; ++x)
            std::copy_n(&in.rgba[4 * (y * in.width + x)], 4, &out.rgba[4 * (y * in.width + in.width - 1 - x)]);
    return out;
}

Image inverted(Image in) {
    for (std::size_t i = 0; i < in.rgba.size(); ++i)
        if (i % 4 != 3) in.rgba[i] = static_cast<std::uint8_t>(255 - in.rgba[i]);
    return in;
}

// Every texture replaced by the picture decode wrote for it: the file comes back
// byte for byte, hand-made mipmaps, CMPR blocks and foreign padding included.
TEST_F(RoundTrip, ReplacingWithItsOwnPictureKeepsTheFile) {
    for (const auto& [name, bytes] : everyFile()) {
        SCOPED_TRACE(name);
        write(name, bytes);
        const std::string stem = fs::path(name).stem().string();
        ASSERT_EQ(run("decode " + name + " -o p").status, 0);
        const std::size_t n = parseTpl(bytes)->images.size();
        std::string pairs;
        for (std::size_t k = 1; k <= n; ++k)
            pairs += " " + std::to_string(k) + " p/" + stem + (n == 1 ? "" : "." + std::to_string(k)) + ".png";
        const Outcome r = run("replace " + name + pairs + " -o back.tpl");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("kept as it is"), std::string::npos) << r.err;
        EXPECT_EQ(fileBytes(path("back.tpl")), bytes);
        // Typing a setting asks for the texture to be encoded again.
        const Outcome typed = run("replace " + name + " 1 --quality best p/" + stem + (n == 1 ? "" : ".1") +
                                  ".png -o typed.tpl");
        ASSERT_EQ(typed.status, 0) << typed.err;
        EXPECT_EQ(typed.err.find("kept as it is"), std::string::npos) << typed.err;
        fs::remove_all(path("p"));
    }
}

// One picture edited: its texture is what encode makes of it with the
// texture's settings (or keeps its palette when the colours are its own), every
// other texture keeps its bytes; replace writes the same file.
TEST_F(RoundTrip, OneEditChangesOneTexture) {
    const Bytes original = testing::oddLayoutTpl();
    write("odd.tpl", original);
    const auto before = storedAll(original);
    const Edit edits[] = {
        {0, Format::C4, PaletteFormat::IA8, 16, 1, true},
        {0, Format::C4, PaletteFormat::IA8, 16, 1, false},
        {1, Format::RGB5A3, PaletteFormat::RGB5A3, 0, 2, false},
        {2, Format::CMPR, PaletteFormat::RGB5A3, 0, 1, false},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(std::to_string(e.texture) + (e.sameColours ? " mirrored" : " inverted"));
        ASSERT_EQ(run("decode --manifest odd.tpl -o m").status, 0);
        const std::string name = "m/odd." + std::to_string(e.texture + 1) + ".png";
        const Image edited = e.sameColours ? mirrored(picture(name)) : inverted(picture(name));
        writePicture(name, edited);
        writePicture("edited.png", edited);
        Json m = manifest("m/odd.json");
        auto& pictures = m["textures"][e.texture]["pictures"];
        for (std::size_t l = 1; l < pictures.size(); ++l) pictures[l] = nullptr;  // made again from the edit
        writeManifest("m/odd.json", m);
        const Outcome built = run("build m/odd.json -o built.tpl");
        ASSERT_EQ(built.status, 0) << built.err;
        const Bytes file = fileBytes(path("built.tpl"));
        const auto after = storedAll(file);
        ASSERT_EQ(after.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k)
            if (k != e.texture) {
                EXPECT_EQ(after[k], before[k]) << k;
            }
        if (e.sameColours) {
            EXPECT_EQ(after[e.texture].palette, before[e.texture].palette);
            EXPECT_EQ(consoleView(file)[0], edited);
        } else {
            EncodeOptions options;
            options.format = e.format, options.paletteFormat = e.palette, options.paletteEntries = e.entries;
            EXPECT_EQ(after[e.texture], encodeTextureData(edited, options, e.levels).value());
        }
        EXPECT_EQ(parseTpl(file)->images[1].sampler, parseTpl(original)->images[1].sampler);
        const Outcome replaced = run("replace odd.tpl " + std::to_string(e.texture + 1) + " edited.png -o replaced.tpl");
        ASSERT_EQ(replaced.status, 0) << replaced.err;
        EXPECT_EQ(fileBytes(path("replaced.tpl")), file);
        fs::remove_all(path("m"));
    }
}

// A hand-made mipmap lands as given: a lossless format keeps every pixel of it,
// and the levels that were not edited keep theirs.
TEST_F(RoundTrip, HandMadeMipmapLandsAsGiven) {
    for (const char* format : {"rgba8", "ia8", "rgb5a3"}) {
        SCOPED_TRACE(format);
        Image top(16, 16);
        for (std::size_t i = 0; i < top.rgba.size(); ++i) top.rgba[i] = static_cast<std::uint8_t>(i * 37 % 256 | 0x88);
        writePicture("top.png", top);
        ASSERT_EQ(run(std::string("encode -f ") + format + " --mipmaps 2 top.png -o t.tpl").status, 0);
        ASSERT_EQ(run("decode --manifest t.tpl -o m").status, 0);
        const Image mip1 = inverted(picture("m/t.mip1.png"));
        writePicture("m/t.mip1.png", mip1);
        ASSERT_EQ(run("build m/t.json -o built.tpl").status, 0);
        const auto before = consoleView(fileBytes(path("t.tpl"))), after = consoleView(fileBytes(path("built.tpl")));
        ASSERT_EQ(after.size(), 3u);
        EXPECT_EQ(after[0], before[0]);
        EXPECT_EQ(after[1], mip1);
        EXPECT_EQ(after[2], before[2]);
        fs::remove_all(path("m"));
    }
}

// Whether RGB5A3 can hold an opaque colour of 4-bit channels that 5 bits cannot
// (17 = 0x11): the form of 3-bit alpha 7 holds it, and an encoder that picks the
// nearest form per texel writes it so.
bool encoderKeepsAlpha7Texels() {
    Image grey(4, 4);
    for (std::size_t i = 0; i < grey.rgba.size(); ++i) grey.rgba[i] = i % 4 == 3 ? 255 : 17;
    EncodeOptions options;
    options.format = Format::RGB5A3;
    std::vector<std::uint8_t> texels(32);
    if (!encodeTexels(grey, options, texels)) return false;
    Image back(4, 4);
    return decodeTexels(Format::RGB5A3, texels, 4, 4, nullptr, back.rgba).ok() && back == grey;
}

// An opaque colour no 5-bit field shows: it can only have come from a texel
// of 3-bit alpha 7.
bool onlyAlpha7Shows(const std::uint8_t* p) {
    if (p[3] != 255) return false;
    for (int c = 0; c < 3; ++c)
        if (((p[c] * 31 + 127) / 255 << 3 | (p[c] * 31 + 127) / 255 >> 2) != p[c]) return true;
    return false;
}

// Without the source every texture comes from its pictures and settings: each
// format that is not lossy shows the same, and the headers' fields are the same.
// Texels of RGB5A3 (and RGB5A3 palettes) stored with alpha 7 depend on an encoder
// that writes that form; until it does, those pixels alone are left out.
TEST_F(RoundTrip, WithoutTheSourceLosslessFormatsShowTheSame) {
    const bool alpha7 = encoderKeepsAlpha7Texels();
    std::size_t files = 0;
    for (const auto& [name, bytes] : everyFile()) {
        const auto info = parseTpl(bytes);
        ASSERT_TRUE(info);
        if (std::any_of(info->images.begin(), info->images.end(),
                        [](const TplImageHeader& h) { return h.format == static_cast<std::uint32_t>(Format::CMPR); }))
            continue;
        // Garbage indices past a palette's entries show as clear black, which a new palette need not keep.
        if (name == "own-C8.tpl" || name == "own-C14X2.tpl") continue;
        SCOPED_TRACE(name);
        ++files;
        write(name, bytes);
        ASSERT_EQ(run("decode --manifest " + name + " -o m").status, 0);
        fs::remove(path(name));
        const Outcome built = run("build m/" + fs::path(name).stem().string() + ".json -o back.tpl");
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_NE(built.err.find("not found: every texture is encoded from its pictures"), std::string::npos);
        const Bytes back = fileBytes(path("back.tpl"));
        const auto want = consoleView(bytes), got = consoleView(back);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t l = 0; l < want.size(); ++l) {
            ASSERT_EQ(got[l].width, want[l].width);
            std::size_t differ = 0;
            for (std::size_t i = 0; i < want[l].rgba.size(); i += 4)
                if (!std::equal(&want[l].rgba[i], &want[l].rgba[i] + 4, &got[l].rgba[i]) &&
                    (alpha7 || !onlyAlpha7Shows(&want[l].rgba[i])))
                    ++differ;
            EXPECT_EQ(differ, 0u) << "level " << l;
        }
        for (std::size_t k = 0; k < info->images.size(); ++k) {
            const auto a = settingsOf(info->images[k], bytes), b = settingsOf(parseTpl(back)->images[k], back);
            EXPECT_TRUE(a.sampler == b.sampler && a.maxLod == b.maxLod && a.unpacked == b.unpacked) << k;
        }
        fs::remove_all(path("m"));
    }
    EXPECT_GE(files, 20u);
}

// Each refusal: exit 1, one line naming the file, nothing written or changed.
TEST_F(RoundTrip, RefusalsAreOneLineAndWriteNothing) {
    write("odd.tpl", testing::oddLayoutTpl());
    ASSERT_EQ(run("decode --manifest odd.tpl -o m").status, 0);
    const Json good = manifest("m/odd.json");
    write("other.tpl", testing::oneFormatTpl(Format::I8, false));
    Image many(13, 10);
    for (std::size_t i = 0; i < many.rgba.size(); ++i) many.rgba[i] = static_cast<std::uint8_t>(i * 97);
    writePicture("many.png", many);
    writePicture("small.png", Image(4, 4));
    write("bad.json", Bytes{'{', 'x'});
    const auto variant = [&](const std::string& name, auto change) {
        Json m = good;
        change(m);
        writeManifest("m/" + name, m);
    };
    variant("missing.json", [](Json& m) { m["textures"][1]["pictures"][0]["file"] = "gone.png"; });
    variant("size.json", [](Json& m) { m["textures"][2]["pictures"][0]["file"] = "../small.png"; });
    variant("key.json", [](Json& m) { m["textures"][0]["wrapS"] = "clamp"; });
    variant("version.json", [](Json& m) { m["tplforge_manifest"] = 3; });
    variant("moved.json", [](Json& m) { m["source"]["file"] = "other.tpl"; m["source"]["path"] = "../other.tpl"; });
    variant("colours.json", [](Json& m) { m["textures"][0]["pictures"][0]["file"] = "../many.png"; });
    const std::pair<const char*, const char*> rows[] = {
        {"build bad.json -o x.tpl", "bad.json: not valid JSON; nothing written"},
        {"build m/missing.json -o x.tpl", "texture 2: picture gone.png: cannot read: No such file or directory"},
        {"build m/size.json -o x.tpl", "texture 3: picture ../small.png is 4 x 4, level 0 is 12 x 12"},
        {"build m/key.json -o x.tpl", "texture 1: unknown key 'wrapS'"},
        {"build m/version.json -o x.tpl", "manifest version 3 is not one this tplforge-cli reads"},
        {"build --strict m/moved.json -o x.tpl", "is not the file the manifest was made from"},
        {"build --strict m/colours.json -o x.tpl", "texture 1: its pictures have more colours than its 16 palette"},
        {"replace --strict odd.tpl 1 many.png", "many.png: more colours than 16 palette entries hold (--strict)"},
        {"replace odd.tpl 4 many.png", "odd.tpl: texture 4: the file has 3 textures"},
        {"replace odd.tpl 2 gone.png", "gone.png: cannot read"},
        {"replace odd.tpl 1 many.png 1 many.png", "texture 1 is named twice"},
    };
    const auto listing = [&] {
        std::map<std::string, Bytes> files;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename() != "err.txt" && e.path().filename() != "out.txt")
                files[e.path().string()] = fileBytes(e.path().string());
        return files;
    };
    const auto files = listing();
    for (const auto& [args, line] : rows) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
        EXPECT_NE(r.err.find(line), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_EQ(listing(), files);
    // Not strict: a changed source is left aside with a note, and the pictures are encoded.
    const Outcome moved = run("build m/moved.json -o x.tpl");
    EXPECT_EQ(moved.status, 0);
    EXPECT_NE(moved.err.find("note: source"), std::string::npos) << moved.err;
    const auto view = consoleView(fileBytes(path("x.tpl")));
    ASSERT_EQ(view.size(), 4u);  // the RGB5A3 texture has two levels
    EXPECT_EQ(view[0], consoleView(testing::oddLayoutTpl())[0]);
}

// replace keeps a texture's own settings but those typed between K and PICTURE;
// levels made for a texture without them filter between levels.
TEST_F(RoundTrip, ReplaceTakesTheTexturesOwnSettingsUnlessTyped) {
    Image picture(16, 16);
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) picture.rgba[i] = static_cast<std::uint8_t>(i * 13);
    writePicture("p.png", picture);
    ASSERT_EQ(run("encode -f rgb5a3 --wrap repeat,mirror --filter near p.png -f c8 p.png -o two.tpl").status, 0);
    const Bytes before = fileBytes(path("two.tpl"));
    const Outcome r = run("replace two.tpl 1 -f cmpr --mipmaps auto p.png -o out.tpl");
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes after = fileBytes(path("out.tpl"));
    const TplImageHeader h = parseTpl(after)->images[0];
    EXPECT_EQ(h.format, static_cast<std::uint32_t>(Format::CMPR));
    EXPECT_EQ(levelsHeld(h), 2u);  // 16 and 8: CMPR's blocks are 8 x 8
    const Sampler own = parseTpl(before)->images[0].sampler;
    EXPECT_EQ(h.sampler.wrapS, own.wrapS);
    EXPECT_EQ(h.sampler.wrapT, own.wrapT);
    EXPECT_EQ(h.sampler.minFilter, TextureFilter::NearMipNear);
    EXPECT_EQ(storedAll(after)[1], storedAll(before)[1]);
}

// Many manifests at once: messages in input order, a bad one stops no other.
TEST_F(RoundTrip, ManyManifestsEachOnTheirOwn) {
    std::string names;
    for (const char* stem : {"a", "b", "c"}) {
        write(std::string(stem) + ".tpl", testing::oneFormatTpl(Format::RGB565, false));
        names += std::string(" ") + stem + ".tpl";
    }
    ASSERT_EQ(run("decode --manifest -j 2 -o m" + names).status, 0);
    write("m/b.json", Bytes{'[', ']'});
    const Outcome r = run("build -j 2 m/a.json m/b.json m/c.json -d out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("m/b.json: must be an object; nothing written"), std::string::npos) << r.err;
    // -d writes only what changed: nothing here.
    const Bytes said = fileBytes(path("out.txt"));
    const std::string out(said.begin(), said.end());
    EXPECT_NE(out.find("m/a.json: nothing changed; nothing written"), std::string::npos) << out;
    EXPECT_NE(out.find("m/c.json: nothing changed; nothing written"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(path("out/a.tpl")));
    EXPECT_FALSE(fs::exists(path("out/c.tpl")));
    EXPECT_FALSE(fs::exists(path("out/b.tpl")));
    // An edited picture: that file alone.
    Image edited = picture("m/a.png");
    ASSERT_FALSE(edited.empty());
    edited.rgba[0] ^= 0xF8;
    writePicture("m/a.png", edited);
    ASSERT_EQ(run("build m/a.json m/c.json -d out").status, 0);
    EXPECT_TRUE(fs::exists(path("out/a.tpl")));
    EXPECT_NE(fileBytes(path("out/a.tpl")), fileBytes(path("a.tpl")));
    EXPECT_FALSE(fs::exists(path("out/c.tpl")));
}

}  // namespace
}  // namespace tplforge
