// "Leer imagen", "Leer TGA", "Salvar imagen" and where "Guardar TPL" writes,
// through the scripted platform.
#include <sys/stat.h>

#include <set>

#include "support/command_fixture.h"

namespace tplforge::testing {
namespace {

using Import = CommandTest;
using Save = CommandTest;

TEST_F(Import, PictureAndTargaGoToTheSelectedSlotOnly) {
    for (const int slot : {3, 4}) {  // slot 4 through "Leer TGA"
        h.selectSlot(slot);
        h.chooseRgb5a3();
        const FormatTag tag = model.slot(slot).tag;
        std::vector<SharedRaster> before;
        for (int i = 1; i <= kSlotCount; ++i) before.push_back(model.slot(i).picture);
        const WindowRaster picture = patternRaster(3 + slot, 5, static_cast<unsigned>(slot));
        if (slot == 4) {
            // Uncompressed 24-bit, rows top-down.
            std::vector<std::uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 5, 0, 24, 0x20};
            for (const ColourValue c : picture.pixels)
                tga.insert(tga.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
            writeBytes(path("p.tga"), tga);
            fake.openAnswers.push_back(path("p.tga"));
            h.readTarga();
        } else {
            loadIntoSelected(picture);
        }
        EXPECT_EQ(*model.slot(slot).picture, picture);
        EXPECT_EQ(*model.preview(), picture);
        EXPECT_EQ(*model.surface().assignedPicture(), picture);  // what "Salvar imagen" saves
        EXPECT_EQ(model.widthLabel().text + "x" + model.heightLabel().text, std::to_string(3 + slot) + "x5");
        EXPECT_EQ(model.slot(slot).tag, tag);
        for (int i = 1; i <= kSlotCount; ++i) EXPECT_TRUE(i == slot || model.slot(i).picture == before[i - 1]) << i;
    }
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Import, CancelAndUnreadableFilesChangeNothing) {
    loadIntoSlot(2, patternRaster(130, 97));
    h.tickWidthCheck();
    const SharedRaster slot2 = model.slot(2).picture, surface = model.surface().snapshot();
    const SizeLabel ancho = model.widthLabel();
    fake.pictures.insert_or_assign("broken.bmp", fail(PictureError::Corrupt));
    writeBytes(path("bad.tga"), {0, 0, 2, 0, 0});
    ASSERT_EQ(::mkfifo(path("pipe.tga").c_str(), 0600), 0);  // reading it would block
    h.readPicture();  // cancelled
    h.readTarga();    // cancelled
    fake.openAnswers = {"broken.bmp", "missing.bmp", path("missing.tga"), path("bad.tga"), path("pipe.tga")};
    for (int i = 0; i < 5; ++i) i < 2 ? h.readPicture() : h.readTarga();
    EXPECT_EQ(model.slot(2).picture, slot2);
    EXPECT_EQ(model.surface().snapshot(), surface);
    EXPECT_EQ(model.widthLabel(), ancho);
    EXPECT_TRUE(model.widthCheckRunning());
    ASSERT_EQ(fake.messages.size(), 5u);
    for (const auto& m : fake.messages)
        EXPECT_EQ(std::pair(m.title, m.icon), std::pair(std::string("Error"), MessageIcon::Critical));
    EXPECT_NE(fake.messages[0].text.find("broken.bmp"), std::string::npos);
}

// "Salvar imagen" adds ".bmp" and "Guardar TPL" ".tpl" unless the name typed ends
// so in lower case or names a file that exists; a replaced file keeps nothing of
// its bytes but keeps its permissions, and no temporary file is left. What cannot
// be written gets an Error box.
TEST_F(Save, TargetPathRules) {
    constexpr bool bmp = false, tpl = true;
    const std::string longest(251, 'n');  // with ".tpl", the 255 bytes a name may have
    const std::tuple<bool, std::string, std::string, std::string> rows[] = {  // typed, existing ("/": a folder), written
        {bmp, "foto", "", "foto.bmp"}, {bmp, "foto.bmp", "", "foto.bmp"}, {bmp, "foto.BMP", "", "foto.BMP.bmp"},
        {bmp, "a.bmp", "a.bmp", "a.bmp"}, {bmp, "b.png", "b.png", "b.png"}, {bmp, "noext", "noext", "noext"},
        {bmp, "c", "c.bmp", "c.bmp"}, {bmp, "bm", "", "bm.bmp"}, {tpl, "new", "", "new.tpl"},
        {tpl, "upper.TPL", "", "upper.TPL.tpl"}, {tpl, "plain.tpl", "", "plain.tpl"}, {tpl, "old", "old.tpl", "old.tpl"},
        {tpl, "keep.dat", "keep.dat", "keep.dat"}, {tpl, "ab", "", "ab.tpl"}, {tpl, longest, "", longest + ".tpl"},
        {bmp, "missing-folder/x", "", ""}, {bmp, "taken.bmp", "taken.bmp/", ""}, {tpl, "taken.tpl", "taken.tpl/", ""}};
    std::set<std::string> names;
    for (const auto& [isTpl, typed, existing, written] : rows) {
        constexpr auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
        if (existing.ends_with('/')) {
            std::filesystem::create_directories(path(existing + "inside"));
        } else if (!existing.empty()) {
            writeBytes(path(existing), std::vector<std::uint8_t>(500000, 0xAB));
            std::filesystem::permissions(path(existing), mode);
        }
        const std::size_t boxes = fake.messages.size();
        fake.saveAnswers.push_back(path(typed));
        isTpl ? h.saveTpl() : h.savePicture();
        h.selectSlot(1);  // "Guardar TPL" leaves the last slot selected, here an empty one
        names.insert({existing.substr(0, existing.find('/')), written});
        if (written.empty()) {
            EXPECT_EQ(fake.messages.size(), boxes + 1) << typed;
            EXPECT_EQ(fake.messages.back().title, "Error");
            EXPECT_TRUE(existing.empty() || std::filesystem::is_directory(path(existing + "inside")));
            continue;
        }
        EXPECT_EQ(fileBytes(path(written)).size(), isTpl ? 64u + 2 * 400 * 260 : 54u + 3 * 400 * 260) << typed;
        EXPECT_EQ(fake.messages.size(), boxes) << typed;
        EXPECT_TRUE(existing.empty() ||
                    (std::filesystem::status(path(existing)).permissions() & std::filesystem::perms::all) == mode);
    }
    names.erase("");
    std::set<std::string> seen;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) seen.insert(entry.path().filename());
    EXPECT_EQ(seen, names);

    h.savePicture();  // cancelled: nothing written, nothing said
    EXPECT_EQ(fake.calls.back(), "save");
    h.selectSlot(2);  // empty: refused before the dialog
    h.savePicture();
    EXPECT_EQ(fake.calls.back(), "message");
    EXPECT_EQ(fake.messages.back().text, "Tienes que tener cargada una imagen.");
}

}  // namespace
}  // namespace tplforge::testing
