// Runs the built tplforge-cli in a scratch folder on pictures and TPL files the
// tests make, and checks what it writes, says and returns; for pictures that only
// the reader process reads, also against what the window's "Guardar TPL" writes.
#include <sys/wait.h>

#include <set>
#include <span>

#include <nlohmann/json.hpp>

#include "window_rules/window_rules.h"
#include "commands/commands.h"
#include "support/pictures.h"
#include "support/scratch.h"
#include "support/scripted_qt_platform.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::fileBytes;

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Every pixel differs, and so does alpha where `alpha` is set.
Image pattern(std::uint32_t w, std::uint32_t h, unsigned seed, bool alpha = false) {
    Image image(w, h);
    for (std::uint32_t i = 0; i < w * h; ++i) {
        const std::uint32_t v = i * 2654435761u + seed * 40503u;
        for (int c = 0; c < 3; ++c) image.rgba[4 * i + c] = static_cast<std::uint8_t>(v >> (8 + 8 * c));
        image.rgba[4 * i + 3] = alpha ? static_cast<std::uint8_t>(i * 37) : 255;
    }
    return image;
}

// A picture given as straight RGBA, 0xRRGGBBAA a pixel.
Image rgbaImage(std::uint32_t width, std::uint32_t height, std::initializer_list<std::uint32_t> pixels) {
    Image image(width, height);
    std::size_t i = 0;
    for (std::uint32_t p : pixels)
        for (int shift : {24, 16, 8, 0}) image.rgba[i++] = static_cast<std::uint8_t>(p >> shift);
    return image;
}

// 4 × 4, every alpha from clear to opaque; full channels only, so that an icon
// reader's premultiplying cannot round them.
const Image kAlphaPicture = rgbaImage(4, 4, {0xFF0000FF, 0x00FF0080, 0x0000FF00, 0xFFFFFF40, 0x00000000, 0xFF00FFFF,
                                             0x00FFFFC0, 0xFFFF0001, 0xFF0000FE, 0x00FF0000, 0x0000FF80, 0xFFFFFFFF,
                                             0x000000FF, 0xFF00FF20, 0x00FFFF00, 0xFFFF00FF});

// A 32-bit bitmap with an alpha mask (version 5 header), rows top-down.
Bytes alphaBitmap(const Image& image) {
    ByteWriter out;
    const auto pixelBytes = static_cast<std::uint32_t>(image.rgba.size());
    out.u8('B'), out.u8('M'), out.u32le(14 + 124 + pixelBytes), out.u32le(0), out.u32le(14 + 124);
    out.u32le(124), out.u32le(image.width), out.u32le(static_cast<std::uint32_t>(-std::int32_t(image.height)));
    out.u16le(1), out.u16le(32), out.u32le(3), out.u32le(pixelBytes), out.u32le(2835), out.u32le(2835);
    out.u32le(0), out.u32le(0);
    for (std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) out.u32le(mask);
    out.u32le(0x73524742);  // sRGB
    out.zeros(36 + 12);
    out.u32le(4), out.zeros(12);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
        for (int c : {2, 1, 0, 3}) out.u8(image.rgba[i + c]);
    return out.take();
}

// A 40 × 20 enhanced metafile holding one ellipse in a solid C81E3C brush, whose edges
// the renderer draws half-covered.
const QByteArray kEllipse = testing::littleEndian<std::uint32_t>({
    1, 88, 0, 0, 39, 19, 0, 0, 1084, 555, 0x464D4520, 0x10000, 168, 5, 2, 0, 0, 0, 1024, 768, 271, 203,  // header
    39, 24, 1, 0, 0x3C1EC8, 0, 37, 12, 1,                  // solid brush, selected
    42, 24, 3, 3, 37, 17, 14, 20, 0, 16, 20});             // ellipse, end of file

class Cli : public ::testing::Test, protected testing::ScratchDir {
protected:
    void write(const std::string& name, const Bytes& bytes) const { testing::writeBytes(path(name), bytes); }
    void writePicture(const std::string& name, const Image& image) const { write(name, writePng(image, PngChannels::Rgba).value()); }
    // Pictures only the reader process reads, each with transparency, and a PNG.
    void writeReaderPictures() const {
        const QByteArray icon = testing::encoded(QImage(kAlphaPicture.rgba.data(), 4, 4, QImage::Format_RGBA8888), "ico");
        write("alpha.bmp", alphaBitmap(kAlphaPicture));
        write("clear.gif", testing::bytesOf(testing::kClearGif));
        write("alpha.ico", testing::bytesOf(icon));
        write("alpha.cur", testing::bytesOf(testing::asCursor(icon)));
        write("ellipse.emf", testing::bytesOf(kEllipse));
        writePicture("alpha.png", kAlphaPicture);
    }

    Outcome run(const std::string& args, const std::string& environment = "") const {
        const std::string command =
            "cd '" + dir.string() + "' && " + environment + " '" TPLFORGE_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        const Bytes out = fileBytes(path("out.txt")), err = fileBytes(path("err.txt"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
    }
};

// Each format through encode, decode and encode again gives the same file, and
// the decoded picture keeps only the channels the format holds.
TEST_F(Cli, EveryLosslessFormatSurvivesEncodeDecodeEncode) {
    writePicture("a.png", pattern(37, 21, 1, true));  // partial blocks in every format
    const std::pair<const char*, int> formats[] = {  // the PNG colour type decoding writes
        {"i4", 0}, {"i8", 0}, {"ia4", 4}, {"ia8", 4}, {"rgb565", 2}, {"rgb5a3", 6}, {"rgba8", 6},
        {"c4 --palette ia8", 6}, {"c8 --palette rgb565", 6}, {"c14x2 --palette rgb5a3", 6}};
    for (const auto& [format, colourType] : formats) {
        SCOPED_TRACE(format);
        ASSERT_EQ(run(std::string("encode -f ") + format + " a.png -o first.tpl").status, 0);
        ASSERT_EQ(run("decode first.tpl -o dec").status, 0);
        const Bytes png = fileBytes(path("dec/first.png"));
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[25], colourType);  // the IHDR colour type byte
        ASSERT_EQ(run(std::string("encode -f ") + format + " dec/first.png -o second.tpl").status, 0);
        EXPECT_EQ(fileBytes(path("first.tpl")), fileBytes(path("second.tpl")));
    }
}

// Mipmaps, sampling modes and palettes: written, listed as text and as JSON (one
// array entry a file), and decoded level by level.
TEST_F(Cli, MipmapsAndPalettesAreWrittenListedAndDecoded) {
    writePicture("m.png", pattern(64, 32, 3, true));
    ASSERT_EQ(run("encode -f rgba8 --mipmaps auto --wrap repeat,mirror --filter near m.png -f cmpr --mipmaps 2 m.png "
                  "-f c4 --palette ia8 m.png -f rgb5a3 m.png -o m.tpl").status, 0);
    const auto json = nlohmann::json::parse(run("info m.tpl m.tpl --json").out);
    ASSERT_TRUE(json.is_array());
    const auto& t = json[1]["textures"];
    ASSERT_EQ(t.size(), 4u);
    // 64 x 32 down to 8 x 4, where a 4 x 4 block still fits.
    EXPECT_EQ(t[0]["levels"], 4);
    EXPECT_EQ(t[0]["max_lod"], 3);
    EXPECT_EQ(t[0]["wrap_s"], 1);
    EXPECT_EQ(t[0]["wrap_t"], 2);
    EXPECT_EQ(t[0]["min_filter"], 2);  // near, and nearest between levels
    EXPECT_EQ(t[0]["mag_filter"], 0);
    EXPECT_EQ(t[1]["levels"], 3);
    EXPECT_EQ(t[2]["palette_format"], "IA8");
    EXPECT_EQ(t[2]["palette_entries"], 16);
    EXPECT_EQ(t[3].count("palette_format"), 0u);
    const Outcome text = run("info m.tpl");
    for (const char* line : {"textures: 4", "format:         C4 (8)", "palette:        IA8 (0), 16 entries",
                             "format:         RGB5A3 (5)", "levels:         4"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    ASSERT_EQ(run("decode m.tpl --mipmaps").status, 0);
    for (const char* name : {"m.1.png", "m.1.mip1.png", "m.1.mip3.png", "m.2.mip2.png", "m.3.png"})
        EXPECT_TRUE(fs::exists(path(name))) << name;
    EXPECT_FALSE(fs::exists(path("m.2.mip3.png")));
}

// Through a lossless RGBA8 texture and back, every pixel as the file has it (clear
// ones by their alpha alone): a key colour made clear, and the alpha of pictures
// that the reader process reads.
TEST_F(Cli, Rgba8KeepsAlphaAndTheKeyColour) {
    Image keyed = pattern(4, 4, 4);
    for (int i : {0, 5}) std::copy_n("\x12\x34\x56\xff", 4, &keyed.rgba[4 * i]);
    writePicture("k.png", keyed);
    for (int i : {0, 5}) keyed.rgba[4 * i + 3] = 0;
    writeReaderPictures();
    const Image clearGif = rgbaImage(3, 2, {0xC80A14FF, 0x0AC81EFF, 0x141EC8FF, 0, 0xC80A14FF, 0x0AC81EFF});
    for (const auto& [file, expected] : {std::pair{"-a 123456 k.png", keyed}, {"alpha.bmp", kAlphaPicture},
                                         {"clear.gif", clearGif}, {"alpha.ico", kAlphaPicture},
                                         {"alpha.cur", kAlphaPicture}}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(run(std::string("encode -f rgba8 ") + file + " -o t.tpl").status, 0);
        ASSERT_EQ(run("decode t.tpl -o kept").status, 0);
        const auto picture = readPng(fileBytes(path("kept/t.png")));
        ASSERT_TRUE(picture && picture->width == expected.width && picture->height == expected.height);
        for (std::size_t i = 0; i < expected.rgba.size(); i += 4) {
            const auto seen = std::span(picture->rgba).subspan(i, 4), want = std::span(expected.rgba).subspan(i, 4);
            EXPECT_TRUE(want[3] == 0 ? seen[3] == 0 : std::equal(want.begin(), want.end(), seen.begin())) << i / 4;
        }
    }
}

// The window loads each picture the reader process reads, and a PNG, into its own
// slot, some RGB5A3 with the white alpha colour, the last with the colour inside
// its ellipse, and saves; --window with the same formats and alpha colours writes
// the same bytes. The metafile is drawn over the surface, not blended onto it
// afterwards: its half-covered edges would differ. Read back with --window, each
// texture is what the window shows.
TEST_F(Cli, WindowRulesOnBothSides) {
    writeReaderPictures();
    const char* files[] = {"alpha.bmp", "alpha.cur", "alpha.ico", "alpha.png", "ellipse.emf"};  // sides of 4
    struct : testing::ScriptedQtPlatform {
        std::vector<std::string> messages;
        MessageAnswer showMessage(const MessageBoxRequest& request) override {
            messages.push_back(request.text);
            return MessageAnswer::Ok;
        }
        ColourValue colourUnderPointer() override { return rgb(200, 30, 60); }
    } platform;
    SlotModel model;
    Commands commands(model, platform);
    platform.setPictureReader({TPLFORGE_PICTURE_READER_PATH});
    model.startUp(std::make_shared<const WindowRaster>(8, 8));
    std::string args = "encode --window";
    for (int slot = 1; slot <= 5; ++slot) {
        commands.selectSlot(slot);
        platform.openAnswers = {path(files[slot - 1])};
        commands.readPicture();
        slot % 2 ? commands.chooseRgb5a3() : commands.chooseRgb565();
        if (slot == 5) commands.pickAlphaColour();
        args += std::string(slot % 2 ? " -f rgb5a3 " : " -f rgb565 ") + (slot == 5 ? "-a c81e3c " : "") + files[slot - 1];
    }
    platform.saveAnswers = {path("window.tpl")};
    commands.saveTpl();
    ASSERT_TRUE(platform.messages.empty()) << platform.messages[0];
    for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(model.slotIsEmpty(slot)) << slot;
    const Outcome cli = run(args + " -o cli.tpl");
    ASSERT_EQ(cli.status, 0) << cli.err;
    const Bytes file = fileBytes(path("cli.tpl"));
    EXPECT_EQ(fileBytes(path("window.tpl")), file);

    ASSERT_EQ(run("decode --window cli.tpl").status, 0);
    for (int k = 1; k <= 5; ++k) {
        const auto decoded = readPng(fileBytes(path("cli." + std::to_string(k) + ".png")));
        ASSERT_TRUE(decoded) << k;
        EXPECT_EQ(window_rules::overSurface(*decoded),
                  window_rules::decodeTexture(file, parseTpl(file)->images[k - 1])->raster);
    }
}

// A lone CMPR picture is encoded on other threads while it is still being read:
// the same bytes as one thread writes, partial block rows and mipmaps included,
// and a picture that breaks off halfway writes nothing.
TEST_F(Cli, CmprWhileReadingWritesWhatOneThreadWrites) {
    writePicture("c.png", pattern(100, 45, 5, true));
    for (const char* mipmaps : {"", " --mipmaps auto"}) {
        SCOPED_TRACE(mipmaps);
        for (const char* jobs : {"1", "2"})
            ASSERT_EQ(run(std::string("encode -f cmpr") + mipmaps + " -j " + jobs + " c.png -o j" + jobs + ".tpl").status, 0);
        EXPECT_EQ(fileBytes(path("j1.tpl")), fileBytes(path("j2.tpl")));
    }
    Bytes cut = writePng(pattern(256, 256, 6), PngChannels::Rgba).value();
    cut.resize(cut.size() / 2);
    write("cut.png", cut);
    const Outcome r = run("encode -f cmpr -j 2 cut.png -o cut.tpl");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cut.png: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("cut.tpl")));
}

// Many files at once: each is on its own, the messages come in input order, one
// bad input does not stop the others, and one named as an earlier is refused
// rather than racing it for the same output.
TEST_F(Cli, EachFileOnItsOwnInInputOrder) {
    std::string names;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "p" + std::to_string(i) + (i == 4 ? ".bad.png" : ".png");
        i == 4 ? write(name, Bytes{'n', 'o', 'p', 'e'}) : writePicture(name, pattern(8, 8, static_cast<unsigned>(i)));
        names += " " + name;
    }
    writePicture("big.png", pattern(1028, 4, 9));
    const Outcome r = run("encode --each -j 2 -f rgb5a3" + names + " big.png ./p2.png -d out", "umask 027 &&");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("p4.bad.png: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("./p2.png: its output would replace that of p2.png; not written"), std::string::npos);
    EXPECT_NE(r.err.find("big.png: warning: 1028 x 4 is larger than the console's texture limit"), std::string::npos);
    EXPECT_LT(r.err.find("p4.bad.png"), r.err.find("big.png"));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(fs::exists(path("out/p" + std::to_string(i) + ".tpl")), i != 4) << i;
    for (const auto& written : fs::directory_iterator(path("out")))  // new files as the umask has them
        EXPECT_EQ(written.status().permissions(), fs::perms(0640)) << written.path();

    const Outcome decoded = run("decode -j 2 out/p0.tpl nothing.tpl out/p1.tpl out/./p1.tpl -o back");
    EXPECT_EQ(decoded.status, 1);
    EXPECT_TRUE(fs::exists(path("back/p0.png")) && fs::exists(path("back/p1.png")));
    EXPECT_NE(decoded.err.find("nothing.tpl: cannot read"), std::string::npos) << decoded.err;
    EXPECT_NE(decoded.err.find("out/./p1.tpl: its output would replace"), std::string::npos) << decoded.err;
}

// Usage errors end with 2, unreadable or refused inputs with 1 and the file named
// (a reader that crashes too); either way nothing is written and an existing
// output stays as it was.
TEST_F(Cli, FailuresWriteNothing) {
    writePicture("good.png", pattern(4, 4, 0));
    writePicture("odd.png", pattern(6, 4, 1));
    for (const char* junk : {"junk.png", "junk.tga", "junk.tpl", "out.tpl", "abort.bmp"}) write(junk, Bytes{'n', 'o', 't'});
    const std::tuple<const char*, int, const char*> cases[] = {  // arguments, status, the file named
        {"", 2, ""}, {"encode good.png", 2, ""}, {"encode -o x.tpl", 2, ""}, {"decode --bmp", 2, ""},
        {"encode -f cmpr --window good.png -o x.tpl", 2, ""}, {"encode --window --mipmaps 2 good.png -o x.tpl", 2, ""},
        {"encode -a fff good.png -o x.tpl", 2, ""}, {"encode -f rgb9 good.png -o x.tpl", 2, ""},
        {"encode good.png -f rgb5a3 -o x.tpl", 2, ""},  // -f with no picture after it
        {"encode --each good.png -o x.tpl", 2, ""}, {"encode --wrap sideways good.png -o x.tpl", 2, ""},
        {"encode --window good.png odd.png -o out.tpl", 1, "odd.png: size 6 x 4"}, {"decode none.tpl", 1, "none.tpl"},
        {"encode good.png none.tga -o x.tpl", 1, "none.tga: cannot read: No such file or directory\nx.tpl: not written"},
        {"encode junk.png -o x.tpl", 1, "junk.png"}, {"encode junk.tga -o x.tpl", 1, "junk.tga"},
        {"decode junk.png", 1, "junk.png"}, {"info junk.tpl --json", 1, "junk.tpl"},
    };
    const auto listing = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        names.erase("out.txt"), names.erase("err.txt");
        return names;
    };
    const auto files = listing();
    const auto refused = [&](const std::string& args, int status, const std::string& named, const std::string& env) {
        const Outcome r = run(args, env);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_TRUE(r.out.empty() && !r.err.empty() && r.err.find(named) != std::string::npos) << args << ": " << r.err;
    };
    for (const auto& [args, status, named] : cases) refused(args, status, named, "");
    refused("encode good.png abort.bmp -o x.tpl", 1,
            "abort.bmp: the picture reader failed on this file (it crashed (signal 6",
            std::string(kPictureProgramVariable) + "=" FAKE_PICTURE_READER);
    EXPECT_EQ(listing(), files);
    EXPECT_EQ(fileBytes(path("out.tpl")), (Bytes{'n', 'o', 't'}));
}

}  // namespace
}  // namespace tplforge
