// Runs the built tplforge-cli in a scratch folder on pictures and TPL files the
// tests make, and checks what it writes, says and returns.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tplforge/file_io.h"
#include "codec/window_rules.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes bytesOf(const fs::path& path) {
    auto read = readWholeFile(path.string());
    return read ? std::move(read).value() : Bytes{};
}

// Every pixel differs; the corners carry alpha ramps where `alpha` is set.
Image pattern(std::uint32_t w, std::uint32_t h, unsigned seed, bool alpha = false) {
    Image image(w, h);
    for (std::uint32_t i = 0; i < w * h; ++i) {
        std::uint8_t* p = &image.rgba[4 * i];
        const std::uint32_t v = i * 2654435761u + seed * 40503u;
        p[0] = static_cast<std::uint8_t>(v >> 8);
        p[1] = static_cast<std::uint8_t>(v >> 16);
        p[2] = static_cast<std::uint8_t>(v >> 24);
        p[3] = alpha ? static_cast<std::uint8_t>(i * 37) : 255;
    }
    return image;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tplforge-cli-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }
    void write(const std::string& name, const Bytes& bytes) const { ASSERT_FALSE(writeFileAtomically(path(name).string(), bytes)); }
    void writePicture(const std::string& name, const Image& image) const { write(name, writePng(image, PngChannels::Rgba)); }

    Outcome run(const std::string& args) const {
        const std::string command = "cd '" + dir_.string() + "' && '" TPLFORGE_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(path("out.txt")), slurp(path("err.txt"))};
    }

    fs::path dir_;
};

TEST_F(Cli, EveryLosslessFormatSurvivesEncodeDecodeEncode) {
    writePicture("a.png", pattern(37, 21, 1, true));  // partial blocks in every format
    const char* const formats[] = {"i4", "i8", "ia4", "ia8", "rgb565", "rgb5a3", "rgba8",
                                   "c4 --palette ia8", "c8 --palette rgb565", "c14x2 --palette rgb5a3"};
    for (const std::string f : formats) {
        SCOPED_TRACE(f);
        ASSERT_EQ(run("encode -f " + f + " a.png -o first.tpl").status, 0);
        ASSERT_EQ(run("decode first.tpl -o dec").status, 0);
        ASSERT_EQ(run("encode -f " + f + " dec/first.png -o second.tpl").status, 0) << slurp(path("err.txt"));
        EXPECT_EQ(bytesOf(path("first.tpl")), bytesOf(path("second.tpl")));
    }
}

// The decoded picture keeps only the channels the format holds.
TEST_F(Cli, DecodedPngColourTypeFollowsTheFormat) {
    writePicture("a.png", pattern(8, 8, 2, true));
    const std::pair<const char*, int> cases[] = {{"i4", 0}, {"i8", 0}, {"ia4", 4}, {"ia8", 4},
                                                 {"rgb565", 2}, {"rgb5a3", 6}, {"rgba8", 6}, {"c8", 6}};
    for (const auto& [format, colourType] : cases) {
        ASSERT_EQ(run(std::string("encode -f ") + format + " a.png -o t.tpl").status, 0) << format;
        ASSERT_EQ(run("decode t.tpl").status, 0) << format;
        const Bytes png = bytesOf(path("t.png"));
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[25], colourType) << format;  // the IHDR colour type byte
    }
}

TEST_F(Cli, MipmapsAreWrittenListedAndDecoded) {
    writePicture("m.png", pattern(64, 32, 3));
    ASSERT_EQ(run("encode -f rgba8 --mipmaps auto --wrap repeat,mirror --filter near m.png -f cmpr --mipmaps 2 m.png "
                  "-o m.tpl").status, 0);
    const auto info = nlohmann::json::parse(run("info m.tpl --json").out);
    ASSERT_EQ(info["textures"].size(), 2u);
    const auto& t0 = info["textures"][0];
    // 64 x 32 down to 8 x 4, where a 4 x 4 block still fits.
    EXPECT_EQ(t0["levels"], 4);
    EXPECT_EQ(t0["max_lod"], 3);
    EXPECT_EQ(t0["wrap_s"], 1);
    EXPECT_EQ(t0["wrap_t"], 2);
    EXPECT_EQ(t0["min_filter"], 2);  // near, and nearest between levels
    EXPECT_EQ(t0["mag_filter"], 0);
    EXPECT_EQ(info["textures"][1]["levels"], 3);
    ASSERT_EQ(run("decode m.tpl --mipmaps").status, 0);
    for (const char* name : {"m.1.png", "m.1.mip1.png", "m.1.mip3.png", "m.2.mip2.png"})
        EXPECT_TRUE(fs::exists(path(name))) << name;
    EXPECT_FALSE(fs::exists(path("m.2.mip3.png")));
}

TEST_F(Cli, KeyColourBecomesTransparent) {
    Image picture = pattern(4, 4, 4);
    for (int i : {0, 5}) std::copy_n("\x12\x34\x56\xff", 4, &picture.rgba[4 * i]);
    writePicture("k.png", picture);
    ASSERT_EQ(run("encode -f rgba8 -a 123456 k.png -o k.tpl").status, 0);
    ASSERT_EQ(run("decode k.tpl").status, 0);
    const auto decoded = readPng(bytesOf(path("k.png")));
    ASSERT_TRUE(decoded);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(decoded->rgba[4 * i + 3], i == 0 || i == 5 ? 0 : 255) << i;
}

// --window writes what the window's rules write, and reads as the window does.
TEST_F(Cli, WindowRulesOnBothSides) {
    const Image a = pattern(8, 4, 5, true), b = pattern(4, 8, 6);
    writePicture("a.png", a);
    writePicture("b.png", b);
    ASSERT_EQ(run("encode --window -f rgb5a3 -a 00ff00 a.png -f rgb565 b.png -o w.tpl").status, 0);
    const Raster ra = window_rules::overSurface(a), rb = window_rules::overSurface(b);
    const window_rules::Texture textures[] = {{&ra, true, rgb(0, 255, 0)}, {&rb, false, kWhite}};
    EXPECT_EQ(bytesOf(path("w.tpl")), window_rules::buildTpl(textures).value());

    ASSERT_EQ(run("decode --window w.tpl").status, 0);
    const auto file = bytesOf(path("w.tpl"));
    const auto decoded = readPng(bytesOf(path("w.1.png")));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(window_rules::overSurface(*decoded), window_rules::decodeTexture(file, parseTpl(file)->images[0])->raster);
}

TEST_F(Cli, InfoListsPalettesAndLevelsAsTextAndJson) {
    writePicture("p.png", pattern(16, 8, 7, true));
    ASSERT_EQ(run("encode -f c4 --palette ia8 p.png -f rgb5a3 p.png -o p.tpl").status, 0);
    const Outcome text = run("info p.tpl");
    for (const char* line : {"textures: 2", "format:         C4 (8)", "palette:        IA8 (0), 16 entries",
                             "format:         RGB5A3 (5)", "levels:         1"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    const auto json = nlohmann::json::parse(run("info p.tpl p.tpl --json").out);
    ASSERT_TRUE(json.is_array());
    EXPECT_EQ(json[1]["textures"][0]["palette_format"], "IA8");
    EXPECT_EQ(json[1]["textures"][0]["palette_entries"], 16);
    EXPECT_EQ(json[1]["textures"][1].count("palette_format"), 0u);
}

// Many files at once: each is on its own, the messages come in input order, and
// one bad input does not stop the others.
TEST_F(Cli, EachFileOnItsOwnInInputOrder) {
    std::string names;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "p" + std::to_string(i) + (i == 4 ? ".bad.png" : ".png");
        if (i == 4)
            write(name, Bytes{'n', 'o', 'p', 'e'});
        else
            writePicture(name, pattern(8, 8, static_cast<unsigned>(i)));
        names += " " + name;
    }
    writePicture("big.png", pattern(1028, 4, 9));
    const Outcome r = run("encode --each -j 2 -f rgb5a3" + names + " big.png -d out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("p4.bad.png: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("big.png: warning: 1028 x 4 is larger than the console's texture limit"), std::string::npos);
    EXPECT_LT(r.err.find("p4.bad.png"), r.err.find("big.png"));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(fs::exists(path("out/p" + std::to_string(i) + ".tpl")), i != 4) << i;

    const Outcome decoded = run("decode -j 2 out/p0.tpl nothing.tpl out/p1.tpl -o back");
    EXPECT_EQ(decoded.status, 1);
    EXPECT_TRUE(fs::exists(path("back/p0.png")) && fs::exists(path("back/p1.png")));
    EXPECT_NE(decoded.err.find("nothing.tpl: cannot read"), std::string::npos) << decoded.err;
}

// Usage errors end with 2, unreadable or refused inputs with 1 and the file named;
// either way nothing is written and an existing output stays as it was.
TEST_F(Cli, FailuresWriteNothing) {
    writePicture("good.png", pattern(4, 4, 0));
    writePicture("odd.png", pattern(6, 4, 1));
    for (const char* junk : {"junk.png", "junk.tga", "junk.tpl", "out.tpl"}) write(junk, Bytes{'n', 'o', 't'});
    const std::tuple<const char*, int, const char*> cases[] = {  // arguments, status, the file named
        {"", 2, ""}, {"encode good.png", 2, ""}, {"encode -o x.tpl", 2, ""}, {"decode --bmp", 2, ""},
        {"encode -f cmpr --window good.png -o x.tpl", 2, ""}, {"encode --window --mipmaps 2 good.png -o x.tpl", 2, ""},
        {"encode -a fff good.png -o x.tpl", 2, ""}, {"encode -f rgb9 good.png -o x.tpl", 2, ""},
        {"encode good.png -f rgb5a3 -o x.tpl", 2, ""},  // -f with no picture after it
        {"encode --each good.png -o x.tpl", 2, ""}, {"encode --wrap sideways good.png -o x.tpl", 2, ""},
        {"encode --window good.png odd.png -o out.tpl", 1, "odd.png: size 6 x 4"}, {"decode none.tpl", 1, "none.tpl"},
        {"encode good.png none.tga -o x.tpl", 1, "none.tga"}, {"encode junk.png -o x.tpl", 1, "junk.png"},
        {"encode junk.tga -o x.tpl", 1, "junk.tga"}, {"decode junk.png", 1, "junk.png"},
        {"info junk.tpl --json", 1, "junk.tpl"},
    };
    const auto before = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename() != "out.txt" && e.path().filename() != "err.txt") names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto files = before();
    for (const auto& [args, status, named] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_TRUE(r.out.empty() && !r.err.empty() && r.err.find(named) != std::string::npos) << args << ": " << r.err;
    }
    EXPECT_EQ(before(), files);
    EXPECT_EQ(slurp(path("out.tpl")), "not");
}

}  // namespace
}  // namespace tplforge
