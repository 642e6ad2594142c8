// "Guardar TPL" and "Leer TPL" through the scripted platform, and the promise that
// reading a file this tool wrote and saving it again gives the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "common/bytes.h"
#include "common/file_io.h"
#include "format/format_selection.h"
#include "support/handler_fixture.h"
#include "tpl/texel.h"
#include "tpl/tpl_file.h"

namespace tplforge::testing {
namespace {

using Save = HandlerTest;
using Read = HandlerTest;

std::vector<std::uint8_t> fileBytes(const std::string& p) {
    auto r = readWholeFile(p);
    return r ? *r : std::vector<std::uint8_t>{};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t be32(const std::vector<std::uint8_t>& f, std::size_t at) {
    ByteReader r(f);
    r.seek(at);
    return r.u32be().value_or(0xDEADBEEF);
}

void emptyAllSlots(HandlerTest& t, Handlers& h) {
    for (int i = 1; i <= 5; ++i) {
        h.selectSlot(i);
        h.Command3();
    }
    (void)t;
}

TEST_F(Save, NothingExportableSaysSoAndEndsOnSlotFive) {
    emptyAllSlots(*this, h);
    loadIntoSlot(2, patternRaster(30, 30));  // not a multiple of 4
    h.Command1();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "No hay imagenes para añadir.");
    EXPECT_EQ(fake.messages[0].title, "Error");
    EXPECT_EQ(fake.messages[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(fake.saveRequests.empty());
    EXPECT_EQ(model.selectedSlot(), 5);
}

TEST_F(Save, SlotsPassedOverAndOffsets) {
    emptyAllSlots(*this, h);
    loadIntoSlot(1, patternRaster(8, 8, 1));
    loadIntoSlot(2, patternRaster(30, 30, 2));
    loadIntoSlot(3, patternRaster(4, 4, 3));
    h.selectSlot(3);
    h.Option2();
    fake.saveAnswers.push_back(path("two"));
    h.Command1();
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(fake.saveRequests.at(0).filter, "Texturas TPL|*.tpl");
    EXPECT_EQ(fake.saveRequests.at(0).title, "Guardar archivo.");
    const auto f = fileBytes(path("two.tpl"));
    ASSERT_EQ(f.size(), 128u + 128 + 32);
    EXPECT_EQ(be32(f, 4), 2u);
    EXPECT_EQ(be32(f, 12), 28u);
    EXPECT_EQ(be32(f, 20), 64u);
    EXPECT_EQ(be32(f, 28 + 4), 4u);    // slot 1, RGB565
    EXPECT_EQ(be32(f, 28 + 8), 128u);
    EXPECT_EQ(be32(f, 64 + 4), 5u);    // slot 3, RGB5A3
    EXPECT_EQ(be32(f, 64 + 8), 256u);
    EXPECT_EQ(model.selectedSlot(), 5);
}

TEST_F(Save, FiveSlotsInSlotOrderWithEachSlotsFormat) {
    std::vector<Raster> pictures;
    for (int i = 1; i <= 5; ++i) {
        pictures.push_back(patternRaster(4 * i, 8, static_cast<unsigned>(i)));
        loadIntoSlot(i, pictures.back());
        if (i % 2 == 0) {
            h.Option2();
            fake.pointerColour = pictures.back().at(1, 1);
            h.Image6();
        }
    }
    fake.saveAnswers.push_back(path("five.tpl"));
    h.Command1();
    std::vector<TextureInput> expected;
    for (int i = 1; i <= 5; ++i) {
        const Raster& p = pictures[static_cast<std::size_t>(i - 1)];
        expected.push_back({&p, i % 2 == 0 ? TextureFormat::RGB5A3 : TextureFormat::RGB565,
                            i % 2 == 0 ? p.at(1, 1) : kWhite});
    }
    EXPECT_EQ(fileBytes(path("five.tpl")), *buildTpl(expected));
    EXPECT_EQ(model.selectedSlot(), 5);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
}

TEST_F(Save, TargetPathRules) {
    struct Case {
        std::string typed;
        std::vector<std::string> existing;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"new", {}, "new.tpl"},
        {"upper.TPL", {}, "upper.TPL.tpl"},
        {"plain.tpl", {}, "plain.tpl"},
        {"old", {"old.tpl"}, "old.tpl"},      // replaced, nothing of it kept
        {"keep.dat", {"keep.dat"}, "keep.dat"},
        {"ab", {}, "ab.tpl"},
    };
    for (const Case& c : cases) {
        for (const auto& e : c.existing) writeBytes(path(e), std::vector<std::uint8_t>(5000, 0xAB));
        fake.saveAnswers.push_back(path(c.typed));
        h.Command1();
        const auto f = fileBytes(path(c.written));
        EXPECT_EQ(f.size(), 64u + 2 * 400 * 260) << c.typed;
        EXPECT_TRUE(hasTplSignature(f)) << c.typed;
    }
    EXPECT_FALSE(std::filesystem::exists(path("old")));
}

TEST_F(Save, CancelWritesNothing) {
    h.Command1();
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 0);
    EXPECT_EQ(model.selectedSlot(), 5);
}

TEST_F(Save, FailedWriteKeepsWhatWasThere) {
    std::filesystem::create_directories(path("taken.tpl/inside"));
    fake.saveAnswers.push_back(path("taken.tpl"));  // a folder cannot be replaced by a file
    h.Command1();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].title, "Error");
    EXPECT_TRUE(std::filesystem::is_directory(path("taken.tpl/inside")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temp file left
}

// --- Leer TPL ---

struct ImportState {
    std::array<Picture, 5> pictures;
    std::array<FormatTag, 5> tags;
    Picture preview, surface;
    ColourValue alpha;
    int selected;
    bool operator==(const ImportState&) const = default;
};

ImportState state(const SlotModel& m) {
    ImportState s{{}, {}, m.preview(), m.surface().snapshot(), m.alphaColour(), m.selectedSlot()};
    for (int i = 1; i <= 5; ++i) {
        s.pictures[static_cast<std::size_t>(i - 1)] = m.slot(i).picture;
        s.tags[static_cast<std::size_t>(i - 1)] = m.slot(i).tag;
    }
    return s;
}

std::vector<std::uint8_t> oneTexture(const Raster& r, TextureFormat f, ColourValue alpha = kWhite) {
    const TextureInput in{&r, f, alpha};
    return *buildTpl(std::span(&in, 1));
}

TEST_F(Read, RefusalsBeforeTheQuestionChangeNothing) {
    loadIntoSlot(2, patternRaster(8, 8));
    const ImportState before = state(model);
    auto good = oneTexture(patternRaster(4, 4), TextureFormat::RGB565);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto badMagic = good;
    badMagic[2] = 0xAE;
    auto badByte11 = good;
    badByte11[11] = 0x0D;
    auto shortData = good;
    shortData.resize(good.size() - 1);
    auto hugeOffset = good;
    hugeOffset[12] = 0x80;
    auto zeroWidth = good;
    zeroWidth[20 + 2] = zeroWidth[20 + 3] = 0;
    cases = {{"magic", badMagic}, {"byte11", badByte11}, {"short", shortData},
             {"offset", hugeOffset}, {"width0", zeroWidth}, {"tiny", {0x00, 0x20, 0xAF}}};
    for (const Case& c : cases) {
        writeBytes(path(c.name), c.bytes);
        fake.openAnswers.push_back(path(c.name));
    }
    fake.openAnswers.push_back(path("does-not-exist.tpl"));
    for (std::size_t i = 0; i <= cases.size(); ++i) h.Command4();
    ASSERT_EQ(fake.messages.size(), cases.size() + 1);
    for (const auto& m : fake.messages) {
        EXPECT_EQ(m.text, "Archivo de texturas tpl no valido.");
        EXPECT_EQ(m.title, "Error");
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
    EXPECT_EQ(state(model), before);
    EXPECT_EQ(fake.openRequests.back().filter, "Texturas TPL|*.tpl");
    EXPECT_EQ(fake.openRequests.back().title, "Abrir textura TPL.");
}

TEST_F(Read, BytesEightToTenAreNotLookedAt) {
    auto f = oneTexture(solidRaster(4, 4, 0x0000F8), TextureFormat::RGB565);
    f[8] = 0x12;
    f[9] = 0x34;
    f[10] = 0x56;
    writeBytes(path("ok.tpl"), f);
    fake.openAnswers.push_back(path("ok.tpl"));
    h.Command4();
    ASSERT_EQ(fake.messages.size(), 1u);  // only the question
    EXPECT_EQ(fake.messages[0].title, "Información");
}

TEST_F(Read, AnsweringNoChangesNothing) {
    loadIntoSlot(3, patternRaster(8, 8));
    const ImportState before = state(model);
    writeBytes(path("a.tpl"), oneTexture(patternRaster(4, 4), TextureFormat::RGB5A3, 0));
    fake.openAnswers.push_back(path("a.tpl"));
    fake.messageAnswers.push_back(MessageAnswer::No);
    h.Command4();
    ASSERT_EQ(fake.messages.size(), 1u);
    const auto& q = fake.messages[0];
    EXPECT_EQ(q.text, "Para trabajar con TPL, es necesario borrar el buffer de imagenes.\r\n¿Desea continuar?");
    EXPECT_EQ(q.title, "Información");
    EXPECT_EQ(q.icon, MessageIcon::None);
    EXPECT_EQ(q.buttons, MessageButtons::YesNo);
    EXPECT_EQ(q.defaultButton, MessageAnswer::Yes);
    EXPECT_EQ(state(model), before);
}

TEST_F(Read, CountZeroOrAboveFiveEmptiesSlotsThenSays) {
    struct Case {
        std::uint8_t count;
        const char* text;
    };
    for (const Case& c : {Case{0, "No hay texturas por leer."},
                          Case{6, "Lo siento pero solo soporto 5 texturas como maximo."}}) {
        loadIntoSlot(3, patternRaster(8, 8));
        auto f = oneTexture(patternRaster(4, 4), TextureFormat::RGB565);
        f[7] = c.count;
        writeBytes(path("n.tpl"), f);
        fake.openAnswers.push_back(path("n.tpl"));
        fake.messages.clear();
        h.Command4();
        ASSERT_EQ(fake.messages.size(), 2u);
        EXPECT_EQ(fake.messages[1].text, c.text);
        EXPECT_EQ(fake.messages[1].title, "Error");
        for (int i = 1; i <= 5; ++i) EXPECT_TRUE(model.slotIsEmpty(i));
        EXPECT_EQ(model.selectedSlot(), 1);
        EXPECT_EQ(model.preview(), nullptr);
        EXPECT_FALSE(model.surface().hasPicture());
    }
}

TEST_F(Read, OneRedTextureFillsSlotOne) {
    loadIntoSlot(4, patternRaster(8, 8));
    std::vector<std::uint8_t> f = oneTexture(solidRaster(4, 4, 0xFF), TextureFormat::RGB565);
    ASSERT_EQ(f[64], 0xF8);
    ASSERT_EQ(f[65], 0x00);
    writeBytes(path("red.tpl"), f);
    fake.openAnswers.push_back(path("red.tpl"));
    h.Command4();
    ASSERT_FALSE(model.slotIsEmpty(1));
    EXPECT_EQ(*model.slot(1).picture, solidRaster(4, 4, 0xFF));  // red decodes to 255
    for (int i = 2; i <= 5; ++i) EXPECT_TRUE(model.slotIsEmpty(i));
    EXPECT_EQ(model.selectedSlot(), 1);
    EXPECT_EQ(model.ancho().text, "4");
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
}

// A three-texture file whose second texture is CMPR.
std::vector<std::uint8_t> withCmprInTheMiddle() {
    Raster a = patternRaster(4, 4, 1), b(8, 8), c = patternRaster(8, 4, 3);
    std::vector<TextureInput> in = {{&a, TextureFormat::RGB565, 0}, {&b, TextureFormat::RGB565, 0},
                                    {&c, TextureFormat::RGB5A3, 0}};
    auto f = *buildTpl(in);
    f[12 + 8 * 3 + 36 + 7] = 14;  // 8 × 8 CMPR takes 32 bytes; the RGB565 data is longer, so it fits
    return f;
}

TEST_F(Read, UnsupportedFormatWarnsAndLeavesABlankPicture) {
    writeBytes(path("mixed.tpl"), withCmprInTheMiddle());
    fake.openAnswers.push_back(path("mixed.tpl"));
    h.Command4();
    ASSERT_EQ(fake.messages.size(), 2u);
    const auto& warn = fake.messages[1];
    EXPECT_EQ(warn.text, "La textura numero: 2 tiene una paleta no soportada.\r\nSe seguira cargando la demás texturas.");
    EXPECT_EQ(warn.title, "Atención");
    EXPECT_EQ(warn.icon, MessageIcon::Exclamation);
    EXPECT_EQ(warn.buttons, MessageButtons::Ok);
    ASSERT_FALSE(model.slotIsEmpty(2));
    EXPECT_EQ(*model.slot(2).picture, Raster(8, 8, kSurfaceColour));
    EXPECT_EQ(model.slot(2).tag, FormatTag{});  // left alone
    Raster expected1 = patternRaster(4, 4, 1);
    for (ColourValue& c : expected1.pixels) c = texel::decodeRgb565(texel::encodeRgb565(c));
    EXPECT_EQ(*model.slot(1).picture, expected1);
    EXPECT_EQ(model.slot(3).picture->width, 8);
    EXPECT_EQ(model.slot(3).tag.mode, BackgroundMode::Opaque);
    EXPECT_TRUE(model.slotIsEmpty(4));
}

TEST_F(Read, OddSizesAreReadInWholeTiles) {
    // 6 × 6 RGB565: four tiles, 128 bytes; texels outside the picture are dropped.
    std::vector<std::uint8_t> f = oneTexture(Raster(8, 8, 0), TextureFormat::RGB565);
    f[20] = 0;
    f[21] = 6;
    f[22] = 0;
    f[23] = 6;
    for (std::size_t i = 0; i < 128; i += 2) {
        f[64 + i] = 0xF8;  // red everywhere...
        f[65 + i] = 0x00;
    }
    f[64 + 32 + 2 * 2] = 0x00;  // ...but texel (2, 0) of tile (1, 0): image x = 6, outside
    f[64 + 32 + 2 * 2 + 1] = 0x1F;
    writeBytes(path("odd.tpl"), f);
    fake.openAnswers.push_back(path("odd.tpl"));
    h.Command4();
    ASSERT_FALSE(model.slotIsEmpty(1));
    EXPECT_EQ(*model.slot(1).picture, solidRaster(6, 6, 0xFF));
    EXPECT_EQ(model.ancho().text, "6");
}

TEST_F(Read, EachTextureTagsItsOwnSlot) {
    // Texture 1 RGB5A3 without alpha texels, texture 2 RGB5A3 with green alpha texels, texture 3 RGB565.
    Raster a = solidRaster(4, 4, 0x0000FF), b = patternRaster(4, 4, 7), c = patternRaster(4, 4, 8);
    b.at(0, 0) = b.at(3, 3) = 0x00FF00;
    std::vector<TextureInput> in = {{&a, TextureFormat::RGB5A3, 0x123456},
                                    {&b, TextureFormat::RGB5A3, 0x00FF00},
                                    {&c, TextureFormat::RGB565, 0}};
    writeBytes(path("tags.tpl"), *buildTpl(in));
    h.selectSlot(5);
    h.Option2();  // slot 5's tag must survive
    const FormatTag tag5 = model.slot(5).tag;
    h.selectSlot(1);
    fake.openAnswers.push_back(path("tags.tpl"));
    h.Command4();
    EXPECT_EQ(model.slot(2).tag, rgb5a3Tag(0x00FF00));
    EXPECT_EQ(model.slot(3).tag.mode, BackgroundMode::Transparent);
    EXPECT_EQ(model.slot(1).tag.mode, BackgroundMode::Opaque);
    EXPECT_EQ(model.slot(1).tag.background, TagColour::of(kWhite));  // white was free in texture 1
    EXPECT_EQ(model.slot(5).tag, tag5);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
    EXPECT_EQ(model.alphaColour(), kWhite);  // slot 1 selected at the end
}

TEST_F(Read, LastAlphaTexelSetsTheAlphaColourWhenSlotOneIsRGB565) {
    Raster a = patternRaster(4, 4, 1), b = patternRaster(4, 4, 2);
    b.at(1, 0) = 0xFF0000;
    std::vector<TextureInput> in = {{&a, TextureFormat::RGB565, 0}, {&b, TextureFormat::RGB5A3, 0xFF0000}};
    writeBytes(path("alpha.tpl"), *buildTpl(in));
    fake.openAnswers.push_back(path("alpha.tpl"));
    h.Command4();
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    EXPECT_EQ(model.alphaColour(), 0xFF0000u);
}

// --- Read then save ---

TEST_F(Read, ReadThenSaveWritesTheSameFile) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        const int n = 1 + static_cast<int>(rng() % 5);
        std::vector<Raster> rasters;
        std::vector<TextureInput> in;
        ColourValue pickBefore = rng() & 0xFFFFFF;
        rasters.reserve(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            const int w = 4 * (1 + static_cast<int>(rng() % 6)), h4 = 4 * (1 + static_cast<int>(rng() % 6));
            Raster r = patternRaster(w, h4, rng());
            const bool rgb5a3 = rng() % 2 == 0;
            ColourValue alpha = rng() & 0xFFFFFF;
            if (rgb5a3 && rng() % 3 != 0) {
                // Some pixels carry the alpha colour; no opaque pixel shares its 5-5-5 fields.
                const std::uint16_t key = texel::encodeRgb5a3(alpha, alpha);
                for (ColourValue& c : r.pixels)
                    if ((texel::encodeRgb5a3(c, alpha) & 0x7FFF) == key) c ^= 0x808080;
                for (int i = 0; i < 3; ++i) r.pixels[rng() % r.pixels.size()] = alpha;
            } else if (rgb5a3 && rng() % 2 == 0) {
                alpha = r.pixels[0];  // alpha colour present, but only as itself
                const std::uint16_t key = texel::encodeRgb5a3(alpha, alpha);
                for (ColourValue& c : r.pixels)
                    if (c != alpha && (texel::encodeRgb5a3(c, alpha) & 0x7FFF) == key) c ^= 0x808080;
            } else if (rgb5a3) {
                // No alpha texels, and the alpha colour current before the import is one a texel decodes to.
                pickBefore = texel::decodeRgb5a3(texel::encodeRgb5a3(r.pixels[1], ~0u));
            }
            rasters.push_back(std::move(r));
            in.push_back({&rasters.back(), rgb5a3 ? TextureFormat::RGB5A3 : TextureFormat::RGB565, alpha});
        }
        const auto original = *buildTpl(in);
        writeBytes(path("in.tpl"), original);
        fake.pointerColour = pickBefore;
        h.Image6();  // any current alpha colour before the import
        fake.openAnswers.push_back(path("in.tpl"));
        h.Command4();
        fake.saveAnswers.push_back(path("out.tpl"));
        h.Command1();
        ASSERT_EQ(fileBytes(path("out.tpl")), original) << "round " << round << ", " << n << " textures";
    }
}

}  // namespace
}  // namespace tplforge::testing
