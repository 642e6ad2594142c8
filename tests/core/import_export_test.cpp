// "Leer imagen", "Leer TGA" and "Salvar imagen" through the scripted platform.
#include <gtest/gtest.h>

#include <fstream>

#include "common/file_io.h"
#include "imageio/file_exists.h"
#include "support/handler_fixture.h"

namespace tplforge::testing {
namespace {

using Import = HandlerTest;
using Export = HandlerTest;

struct Snapshot {
    std::array<Picture, 5> pictures;
    Picture surface, preview;
    SizeLabel ancho, alto;
    int selected;
    bool operator==(const Snapshot&) const = default;
};

Snapshot take(const SlotModel& m) {
    Snapshot s{{}, m.surface().snapshot(), m.preview(), m.ancho(), m.alto(), m.selectedSlot()};
    for (int i = 1; i <= 5; ++i) s.pictures[static_cast<std::size_t>(i - 1)] = m.slot(i).picture;
    return s;
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A bottom-up uncompressed 24-bit Targa file.
std::vector<std::uint8_t> tga24(const Raster& r) {
    std::vector<std::uint8_t> f(18, 0);
    f[2] = 2;
    f[12] = static_cast<std::uint8_t>(r.width);
    f[13] = static_cast<std::uint8_t>(r.width >> 8);
    f[14] = static_cast<std::uint8_t>(r.height);
    f[15] = static_cast<std::uint8_t>(r.height >> 8);
    f[16] = 24;
    for (int y = r.height - 1; y >= 0; --y)
        for (int x = 0; x < r.width; ++x) {
            const ColourValue c = r.at(x, y);
            f.insert(f.end(), {static_cast<std::uint8_t>(blueOf(c)), static_cast<std::uint8_t>(greenOf(c)),
                               static_cast<std::uint8_t>(redOf(c))});
        }
    return f;
}

TEST_F(Import, PictureGoesToTheSelectedSlotOnly) {
    for (int slot : {3, 5}) {
        const Snapshot before = take(model);
        h.selectSlot(slot);
        h.Option2();
        const FormatTag tag = model.slot(slot).tag;
        const Raster picture = patternRaster(10, 6, static_cast<unsigned>(slot));
        loadIntoSelected(picture);
        EXPECT_EQ(*model.slot(slot).picture, picture);
        EXPECT_EQ(*model.preview(), picture);
        EXPECT_EQ(model.surface().assignedPicture()->width, 10);
        EXPECT_EQ(model.ancho().text, "10");
        EXPECT_EQ(model.alto().text, "6");
        EXPECT_EQ(model.slot(slot).tag, tag);
        for (int i = 1; i <= 5; ++i) {
            if (i == slot) continue;
            EXPECT_EQ(model.slot(i).picture, before.pictures[static_cast<std::size_t>(i - 1)]);
        }
    }
    EXPECT_TRUE(fake.messages.empty());
    ASSERT_FALSE(fake.openRequests.empty());
    EXPECT_EQ(fake.openRequests[0].title, "Abrir imagen.");
    EXPECT_EQ(fake.openRequests[0].fileName, "");
    EXPECT_EQ(fake.openRequests[0].filter,
              "todas las imagenes soportadas|*.bmp;*.dib;*.gif;*.jpg;*.wmf;*.emf;*.ico;*.cur|Mapa de bits|*.bmp;*.dib|"
              "Imagenes gif|*.gif|Imagenes jpg|*.jpg|Metaarchivos|*.wmf;*.emf|Iconos|*.ico;*.cur|"
              "Todos los archivos|*.*");
}

TEST_F(Import, CancelAndFailuresChangeNothing) {
    loadIntoSlot(2, patternRaster(130, 97));
    h.Timer1();  // hidden, running
    const Snapshot before = take(model);
    const bool running = model.widthCheckRunning();

    h.Cmd2();  // cancelled
    h.Command2();  // cancelled
    fake.pictures.insert_or_assign("broken.bmp", Expected<Raster, PictureError>(fail(PictureError::Corrupt)));
    fake.openAnswers = {"broken.bmp", "missing.bmp", path("missing.tga"), path("bad.tga")};
    writeBytes(path("bad.tga"), {0, 0, 2, 0, 0});  // shorter than a header
    h.Cmd2();
    h.Cmd2();
    h.Command2();
    h.Command2();

    EXPECT_EQ(take(model), before);
    EXPECT_EQ(model.widthCheckRunning(), running);
    ASSERT_EQ(fake.messages.size(), 4u);
    for (const auto& m : fake.messages) {
        EXPECT_EQ(m.title, "Error");
        EXPECT_EQ(m.icon, MessageIcon::Critical);
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
    EXPECT_NE(fake.messages[0].text.find("broken.bmp"), std::string::npos);
}

TEST_F(Import, TargaGoesToTheSelectedSlotAndBecomesTheSurfacePicture) {
    h.selectSlot(4);
    h.Option2();
    const FormatTag tag = model.slot(4).tag;
    const Raster picture = patternRaster(7, 5);
    writeBytes(path("p.tga"), tga24(picture));
    fake.openAnswers.push_back(path("p.tga"));
    h.Command2();
    ASSERT_TRUE(model.surface().hasPicture());
    EXPECT_EQ(*model.surface().assignedPicture(), picture);
    EXPECT_EQ(*model.slot(4).picture, picture);
    EXPECT_EQ(*model.preview(), picture);
    EXPECT_EQ(model.ancho().text, "7");
    EXPECT_EQ(model.alto().text, "5");
    EXPECT_EQ(model.slot(4).tag, tag);
    EXPECT_EQ(fake.openRequests.back().filter, "Imagenes TGA|*.tga");
    EXPECT_EQ(fake.openRequests.back().title, "Abrir imagen.");

    // Saving it writes exactly the decoded pixels.
    fake.saveAnswers.push_back(path("out"));
    h.Command5();
    ASSERT_EQ(fake.calls.back(), "savePicture:" + path("out.bmp"));
    EXPECT_TRUE(fileExists(path("out.bmp")));
}

TEST_F(Export, NoPictureRefusesBeforeTheDialog) {
    h.Command3();
    h.Command5();
    h.selectSlot(2);
    h.Command5();
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text, "Tienes que tener cargada una imagen.");
    EXPECT_EQ(fake.messages[0].title, "Error");
    EXPECT_TRUE(fake.saveRequests.empty());
}

TEST_F(Export, TargetPathRules) {
    struct Case {
        std::string typed;
        std::vector<std::string> existing;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"foto", {}, "foto.bmp"},
        {"foto.bmp", {}, "foto.bmp"},
        {"foto.BMP", {}, "foto.BMP.bmp"},
        {"a.bmp", {"a.bmp"}, "a.bmp"},
        {"b.png", {"b.png"}, "b.png"},
        {"noext", {"noext"}, "noext"},
        {"c", {"c.bmp"}, "c.bmp"},
        {"bm", {}, "bm.bmp"},
    };
    for (const Case& c : cases) {
        for (const auto& e : c.existing) writeBytes(path(e), {1, 2, 3});
        fake.saveAnswers.push_back(path(c.typed));
        h.Command5();
        EXPECT_EQ(fake.calls.back(), "savePicture:" + path(c.written)) << c.typed;
        auto bytes = readWholeFile(path(c.written));
        ASSERT_TRUE(bytes.ok());
        EXPECT_EQ((*bytes)[0], 'B') << c.typed;
        EXPECT_EQ(fake.saveRequests.back().filter, "Mapas de bits|*.bmp");
        EXPECT_EQ(fake.saveRequests.back().title, "Guardar imagen.");
    }
    fake.saveAnswers.clear();
    h.Command5();  // cancelled: nothing written
    EXPECT_EQ(fake.calls.back(), "save");
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Export, FailedSaveKeepsTheOldFileAndSaysSo) {
    fake.saveAnswers.push_back(path("missing-folder/x.bmp"));
    h.Command5();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].title, "Error");
    EXPECT_EQ(fake.messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(fileExists(path("missing-folder/x.bmp")));
}

}  // namespace
}  // namespace tplforge::testing
