// "Leer imagen", "Leer TGA" and "Salvar imagen" through the scripted platform.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "support/command_fixture.h"

namespace tplforge::testing {
namespace {

using Import = CommandTest;
using Export = CommandTest;

// A bottom-up uncompressed 24-bit Targa file.
std::vector<std::uint8_t> tga24(const Raster& r) {
    std::vector<std::uint8_t> f = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(r.width), 0,
                                   static_cast<std::uint8_t>(r.height), 0, 24, 0};
    for (int y = r.height - 1; y >= 0; --y)
        for (int x = 0; x < r.width; ++x)
            for (int shift : {16, 8, 0}) f.push_back(static_cast<std::uint8_t>(r.at(x, y) >> shift));
    return f;
}

TEST_F(Import, PictureAndTargaGoToTheSelectedSlotOnly) {
    writeBytes(path("p.tga"), tga24(patternRaster(7, 5, 4)));
    for (int slot : {3, 4, 5}) {
        const Picture before1 = model.slot(1).picture;
        h.selectSlot(slot);
        h.chooseRgb5a3();
        const FormatTag tag = model.slot(slot).tag;
        const Raster picture = patternRaster(slot == 4 ? 7 : 10, slot == 4 ? 5 : 6, static_cast<unsigned>(slot));
        if (slot == 4) {
            fake.openAnswers.push_back(path("p.tga"));
            h.readTarga();
            EXPECT_EQ(fake.openRequests.back().filter, "Imagenes TGA|*.tga");
        } else {
            loadIntoSelected(picture);
        }
        EXPECT_EQ(fake.openRequests.back().title, "Abrir imagen.");
        EXPECT_EQ(*model.slot(slot).picture, picture);
        EXPECT_EQ(*model.preview(), picture);
        EXPECT_EQ(*model.surface().assignedPicture(), picture);  // what "Salvar imagen" saves
        EXPECT_EQ(model.widthLabel().text + "x" + model.heightLabel().text,
                  std::to_string(picture.width) + "x" + std::to_string(picture.height));
        EXPECT_EQ(model.slot(slot).tag, tag);
        EXPECT_EQ(model.slot(1).picture, before1);
    }
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Import, CancelAndUnreadableFilesChangeNothing) {
    loadIntoSlot(2, patternRaster(130, 97));
    h.tickWidthCheck();
    const Picture slot2 = model.slot(2).picture, surface = model.surface().snapshot();
    const SizeLabel ancho = model.widthLabel();
    fake.pictures.insert_or_assign("broken.bmp", Expected<Raster, PictureError>(fail(PictureError::Corrupt)));
    writeBytes(path("bad.tga"), {0, 0, 2, 0, 0});
    ASSERT_EQ(::mkfifo(path("pipe.tga").c_str(), 0600), 0);  // reading it would block
    h.readPicture();      // cancelled
    h.readTarga();  // cancelled
    fake.openAnswers = {"broken.bmp", "missing.bmp", path("missing.tga"), path("bad.tga"), path("pipe.tga")};
    h.readPicture();
    h.readPicture();
    h.readTarga();
    h.readTarga();
    h.readTarga();
    EXPECT_EQ(model.slot(2).picture, slot2);
    EXPECT_EQ(model.surface().snapshot(), surface);
    EXPECT_EQ(model.widthLabel(), ancho);
    EXPECT_TRUE(model.widthCheckRunning());
    ASSERT_EQ(fake.messages.size(), 5u);
    for (const auto& m : fake.messages) {
        EXPECT_EQ(m.title, "Error");
        EXPECT_EQ(m.icon, MessageIcon::Critical);
    }
    EXPECT_NE(fake.messages[0].text.find("broken.bmp"), std::string::npos);
}

TEST_F(Export, TargetPathRules) {
    struct Case {
        std::string typed, existing, written;
    };
    const Case cases[] = {{"foto", "", "foto.bmp"},     {"foto.bmp", "", "foto.bmp"}, {"foto.BMP", "", "foto.BMP.bmp"},
                          {"a.bmp", "a.bmp", "a.bmp"}, {"b.png", "b.png", "b.png"},   {"noext", "noext", "noext"},
                          {"c", "c.bmp", "c.bmp"},     {"bm", "", "bm.bmp"}};
    for (const Case& c : cases) {
        if (!c.existing.empty()) writeBytes(path(c.existing), {1, 2, 3});
        fake.saveAnswers.push_back(path(c.typed));
        h.savePicture();
        EXPECT_EQ(fake.calls.back(), "savePicture:" + path(c.written)) << c.typed;
        EXPECT_EQ(fileBytes(path(c.written)).size(), 54u + 400 * 260 * 3) << c.typed;
    }
    EXPECT_EQ(fake.saveRequests.back().filter, "Mapas de bits|*.bmp");
    EXPECT_EQ(fake.saveRequests.back().title, "Guardar imagen.");
    h.savePicture();  // cancelled: nothing written
    EXPECT_EQ(fake.calls.back(), "save");
    EXPECT_TRUE(fake.messages.empty());

    h.selectSlot(2);  // empty: refused before the dialog
    h.savePicture();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "Tienes que tener cargada una imagen.");
    EXPECT_EQ(fake.calls.back(), "message");
}

TEST_F(Export, FailedSaveSaysSo) {
    std::filesystem::create_directories(path("taken.bmp/inside"));
    fake.saveAnswers = {path("missing-folder/x"), path("taken.bmp")};
    h.savePicture();
    h.savePicture();
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].title, "Error");
    EXPECT_TRUE(std::filesystem::is_directory(path("taken.bmp/inside")));
}

}  // namespace
}  // namespace tplforge::testing
