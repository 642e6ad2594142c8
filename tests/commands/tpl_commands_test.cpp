// "Guardar TPL" and "Leer TPL" through the scripted platform, and the promise that
// reading a file this tool wrote and saving it again gives the same bytes.
#include <random>

#include "window_rules/window_rules.h"
#include "slots/format_tags.h"
#include "support/command_fixture.h"

namespace tplforge::testing {
namespace {

using Save = CommandTest;

class Read : public CommandTest {
protected:
    void readTplFile(const std::vector<std::uint8_t>& file) {  // through "Leer TPL"
        writeBytes(path("in.tpl"), file);
        fake.openAnswers.push_back(path("in.tpl"));
        h.readTpl();
    }
};

TEST_F(Save, SlotsPassedOverOrNothingToSave) {
    for (int i = 1; i <= kSlotCount; ++i) { h.selectSlot(i); h.clearPicture(); }
    loadIntoSlot(2, patternRaster(30, 30, 2));  // not a multiple of 4: passed over
    h.saveTpl();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "No hay imagenes para añadir.");
    EXPECT_TRUE(fake.saveRequests.empty());
    EXPECT_EQ(model.selectedSlot(), 5);

    const WindowRaster one = patternRaster(8, 8, 1), three = patternRaster(4, 4, 3);
    loadIntoSlot(1, one);
    loadIntoSlot(3, three);
    h.chooseRgb5a3();
    fake.saveAnswers.push_back(path("two"));
    h.saveTpl();
    // Slot 1 as texture 0 in RGB565, slot 3 as texture 1 in RGB5A3 on the white alpha colour.
    const window_rules::Texture expected[] = {{&one, false, 0}, {&three, true, kWhite}};
    EXPECT_EQ(fileBytes(path("two.tpl")), *window_rules::buildTpl(expected));
    EXPECT_EQ(model.selectedSlot(), 5);
}

// --- Leer TPL ---

// Everything a refused or declined import must leave as it was.
auto importState(const SlotModel& m) {
    std::vector<std::pair<SharedRaster, FormatTag>> slots;
    for (int i = 1; i <= 5; ++i) slots.emplace_back(m.slot(i).picture, m.slot(i).tag);
    return std::tuple(slots, m.preview(), m.surface().snapshot(), m.alphaColour(), m.selectedSlot());
}

std::vector<std::uint8_t> oneTexture(const WindowRaster& r, bool rgb5a3, ColourValue alpha = kWhite) {
    const window_rules::Texture in{&r, rgb5a3, alpha};
    return *window_rules::buildTpl(std::span(&in, 1));
}

TEST_F(Read, RefusalsAndNoChangeNothing) {
    loadIntoSlot(2, patternRaster(8, 8));
    h.chooseRgb5a3();
    const auto before = importState(model);
    // (offset, byte) patches that each make a good file unusable; -1 cuts the last byte, 22 zeroes the width
    const std::pair<int, std::uint8_t> patches[] = {{2, 0xAE}, {11, 0x0D}, {-1, 0}, {12, 0x80}, {22, 0}, {28, 0x80}};
    for (const auto& [at, byte] : patches) {
        auto f = oneTexture(patternRaster(4, 4), false);
        if (at < 0) f.pop_back();
        else f[static_cast<std::size_t>(at)] = byte;
        if (at == 22) f[23] = 0;
        readTplFile(f);
    }
    fake.openAnswers.push_back(path("does-not-exist.tpl"));
    h.readTpl();
    ASSERT_EQ(fake.messages.size(), std::size(patches) + 1);
    for (const auto& m : fake.messages) EXPECT_EQ(m.text + m.title, "Archivo de texturas tpl no valido.Error");

    auto odd = oneTexture(patternRaster(4, 4), false);
    odd[8] = odd[10] = 0x12;  // bytes 8 to 10 are not looked at
    fake.messageAnswers.push_back(MessageAnswer::No);
    fake.messages.clear();
    readTplFile(odd);
    ASSERT_EQ(fake.messages.size(), 1u);
    const auto& q = fake.messages[0];
    EXPECT_EQ(std::tuple(q.text, q.title, q.icon, q.buttons, q.defaultButton),
              std::tuple("Para trabajar con TPL, es necesario borrar el buffer de imagenes.\r\n¿Desea continuar?",
                         "Información", MessageIcon::None, MessageButtons::YesNo, MessageAnswer::Yes));
    EXPECT_EQ(importState(model), before);
}

TEST_F(Read, CountZeroOrAboveFiveEmptiesSlotsThenSays) {
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0, "No hay texturas por leer."}, {6, "Lo siento pero solo soporto 5 texturas como maximo."}};
    for (const auto& [count, text] : cases) {
        loadIntoSlot(3, patternRaster(8, 8));
        auto f = oneTexture(patternRaster(4, 4), false);
        f[7] = count;
        fake.messages.clear();
        readTplFile(f);
        ASSERT_EQ(fake.messages.size(), 2u);
        EXPECT_EQ(fake.messages[1].text, text);
        for (int i = 1; i <= 5; ++i) EXPECT_TRUE(model.slotIsEmpty(i));
        EXPECT_EQ(model.selectedSlot(), 1);
        EXPECT_EQ(model.preview(), nullptr);
        EXPECT_FALSE(model.surface().hasPicture());
    }
}

TEST_F(Read, UnsupportedFormatWarnsAndLeavesABlankPicture) {
    WindowRaster a = patternRaster(4, 4, 1), b(8, 8), c = patternRaster(8, 4, 3);
    const window_rules::Texture in[] = {{&a, false, 0}, {&b, false, 0}, {&c, true, 0}};
    auto f = *window_rules::buildTpl(in);
    f[12 + 8 * 3 + 36 + 7] = 14;  // texture 2 becomes CMPR; its 128 bytes of data cover what CMPR needs
    readTplFile(f);
    ASSERT_EQ(fake.messages.size(), 2u);
    const auto& warn = fake.messages[1];
    EXPECT_EQ(std::tuple(warn.text, warn.title, warn.icon),
              std::tuple("La textura numero: 2 tiene una paleta no soportada.\r\nSe seguira cargando la demás texturas.",
                         "Atención", MessageIcon::Exclamation));
    EXPECT_EQ(*model.slot(2).picture, WindowRaster(8, 8, kSurfaceColour));
    EXPECT_EQ(model.slot(2).tag, FormatTag{});  // left alone
    for (ColourValue& p : a.pixels) p = window_rules::decodeRgb565(window_rules::encodeRgb565(p));
    EXPECT_EQ(*model.slot(1).picture, a);
    EXPECT_EQ(model.slot(3).picture->width, 8);
    EXPECT_TRUE(model.slotIsEmpty(4));
}

TEST_F(Read, EachTextureTagsItsOwnSlot) {
    // Texture 1 RGB5A3 without alpha texels, 2 RGB5A3 with green alpha texels, 3 RGB565.
    WindowRaster a(4, 4, 0x0000FF), b = patternRaster(4, 4, 7), c = patternRaster(4, 4, 8);
    b.at(0, 0) = b.at(3, 3) = 0x00FF00;
    std::vector<window_rules::Texture> in = {{&a, true, 0x123456}, {&b, true, 0x00FF00}, {&c, false, 0}};
    h.selectSlot(5);
    h.chooseRgb5a3();  // slot 5's tag must survive
    const FormatTag tag5 = model.slot(5).tag;
    readTplFile(*window_rules::buildTpl(in));
    EXPECT_EQ(model.slot(1).tag, rgb5a3Tag(kWhite));  // white was free in texture 1
    EXPECT_EQ(model.slot(2).tag, rgb5a3Tag(0x00FF00));
    EXPECT_EQ(model.slot(3).tag.mode, BackgroundMode::Transparent);
    EXPECT_EQ(model.slot(5).tag, tag5);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
    EXPECT_EQ(model.alphaColour(), kWhite);  // slot 1's, selected at the end
    std::swap(in[0], in[2]);  // the same with texture 1 RGB565
    readTplFile(*window_rules::buildTpl(in));
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    EXPECT_EQ(model.alphaColour(), 0x00FF00u);  // the last alpha texel's colour
    EXPECT_EQ(model.slot(3).tag, rgb5a3Tag(0x00FF00));  // the current alpha colour, absent from texture 3
}

// --- Read then save ---

TEST_F(Read, ReadThenSaveWritesTheSameFile) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        const int n = 1 + static_cast<int>(rng() % 5);
        std::vector<WindowRaster> rasters;
        std::vector<window_rules::Texture> in;
        rasters.reserve(5);
        ColourValue before = rng() & 0xFFFFFF;  // the alpha colour current before the import
        for (int k = 0; k < n; ++k) {
            WindowRaster r = patternRaster(4 + 4 * static_cast<int>(rng() % 6), 4 + 4 * static_cast<int>(rng() % 6), rng());
            const unsigned kind = rng() % 4;  // RGB565, or RGB5A3 with alpha texels, without, or with a taken colour
            ColourValue alpha = kind == 1 ? r.pixels[0] : rng() & 0xFFFFFF;
            if (kind == 1) {
                // No opaque pixel may share the alpha colour's 5-5-5 fields (the picture cannot tell them apart).
                const std::uint16_t key = window_rules::encodeRgb5a3(alpha, alpha);
                for (ColourValue& c : r.pixels)
                    if (c != alpha && (window_rules::encodeRgb5a3(c, alpha) & 0x7FFF) == key) c ^= 0x808080;
            } else if (kind == 3) {
                before = window_rules::decodeRgb5a3(window_rules::encodeRgb5a3(r.pixels[1], ~0u));
            }
            rasters.push_back(std::move(r));
            in.push_back({&rasters.back(), kind != 0, alpha});
        }
        const auto original = *window_rules::buildTpl(in);
        fake.pointerColour = before;
        h.pickAlphaColour();
        readTplFile(original);
        fake.saveAnswers.push_back(path("out.tpl"));
        h.saveTpl();
        ASSERT_EQ(fileBytes(path("out.tpl")), original) << "round " << round << ", " << n << " textures";
    }
}

}  // namespace
}  // namespace tplforge::testing
