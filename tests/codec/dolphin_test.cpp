// Dolphin's texture names: the worked examples, whose names were checked against
// the emulator's own, over the fixture files; the palette range rules on
// hand-made textures, whose hashes were computed with python3-xxhash; "_m" and
// the mip level names.
#include <filesystem>

#include "support/scratch.h"
#include "tplforge/containers.h"
#include "tplforge/dolphin.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kData = TPLFORGE_TEST_DATA;

// The first texture of a TPL, sampled as its header says.
Expected<DolphinName, DolphinError> nameOfTpl(const fs::path& path, DolphinMipmaps mipmaps = DolphinMipmaps::File) {
    const Bytes bytes = testing::fileBytes(path.string());
    const auto info = parseTpl(bytes);
    EXPECT_TRUE(info) << path;
    if (!info) return fail(DolphinError::LevelTooShort);
    const TplImageHeader& image = info->images.at(0);
    const auto view = textureView(bytes, image);
    EXPECT_TRUE(view) << path;
    if (!view) return fail(DolphinError::LevelTooShort);
    return dolphinName(*view, dolphinSampling(image.sampler, static_cast<float>(image.maxLod)), mipmaps);
}

TEST(Dolphin, WorkedExamplesNameTheFixturesAsTheEmulatorDoes) {
    const fs::path real = kData / ".." / ".." / "cli" / "data" / "real";
    const struct {
        fs::path file;
        std::string name;
        std::size_t mips;
    } cases[] = {
        {kData / "formats/i4.tpl", "tex1_13x10_8c93038fac4c6f5d_0", 0},
        {kData / "formats/i8.tpl", "tex1_20x6_510eb9aacaea594f_1", 0},
        {kData / "formats/ia4.tpl", "tex1_12x7_c6887b6ee5fb0192_2", 0},
        {kData / "formats/ia8.tpl", "tex1_10x9_a023690b8743a44b_3", 0},
        {kData / "formats/rgb565.tpl", "tex1_16x8_7c8eb95ddec71ab2_4", 0},
        {kData / "formats/rgb5a3.tpl", "tex1_14x10_ccf1e34c68383234_5", 0},
        {kData / "formats/rgba8.tpl", "tex1_11x7_58619b3644f8cbae_6", 0},
        {kData / "formats/rgba8-mip.tpl", "tex1_16x8_m_0ab9d8f35ad15be6_6", 2},
        {kData / "formats/c4-ia8.tpl", "tex1_24x12_fd719638940734bd_c5e2fef93d12d479_8", 0},
        {kData / "formats/c8-rgb565.tpl", "tex1_20x10_0f5e0356e159c113_fd045fc67c7d4038_9", 0},
        {kData / "formats/c14x2-rgb5a3.tpl", "tex1_24x18_c2647324d59f9f26_bab56ed899f1c2e2_10", 0},
        {kData / "formats/cmpr.tpl", "tex1_20x12_1288451437a557e7_14", 0},
        {real / "first_work-sky.tpl", "tex1_128x128_3c3ac08a41775d7d_14", 0},
        {real / "sevendays-logo.tpl", "tex1_64x32_7e0594a679b59943_5", 0},
        {real / "sevendays-lighter.tpl", "tex1_330x247_e2b345596176087b_5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        const auto got = nameOfTpl(c.file);
        ASSERT_TRUE(got) << describe(got.error());
        EXPECT_EQ(got->name, c.name);
        std::vector<std::string> mips;
        for (std::size_t k = 1; k <= c.mips; ++k) mips.push_back(c.name + "_mip" + std::to_string(k));
        EXPECT_EQ(got->levels, mips);
        EXPECT_EQ(dolphinNote(*got), "");
    }
}

// A one-level texture over `texels`, its palette of `entries` 16-bit words.
struct Hand {
    Bytes texels;
    Bytes words;
    TextureView view;
    Hand(Format format, std::uint32_t width, std::uint32_t height, Bytes t, const std::vector<std::uint16_t>& entries)
        : texels(std::move(t)) {
        for (const std::uint16_t e : entries) {
            words.push_back(static_cast<std::uint8_t>(e >> 8));
            words.push_back(static_cast<std::uint8_t>(e));
        }
        view.format = format;
        view.width = width;
        view.height = height;
        view.levels = {texels};
        if (!entries.empty())
            view.palette = PaletteView{PaletteFormat::RGB5A3, static_cast<std::uint32_t>(entries.size()), words};
    }
    Hand(const Hand&) = delete;  // the view points into this one's bytes
};

std::vector<std::uint16_t> entries(std::size_t count, std::uint16_t (*entry)(std::size_t)) {
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(entry(i));
    return out;
}

Bytes filled(std::size_t size, std::uint8_t fill, std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
    Bytes out(size, fill);
    for (const auto& [i, v] : at) out[i] = v;
    return out;
}

// Each palette rule with the range it gives and, where a python oracle was
// run, the whole name.
TEST(Dolphin, PaletteRangeFollowsEachFormatsIndexRule) {
    const auto pal16 = entries(16, [](std::size_t i) { return static_cast<std::uint16_t>(0x8000 | i * 0x0421); });
    const auto pal256 = entries(256, [](std::size_t i) { return static_cast<std::uint16_t>(i * 257 ^ 0x1234); });
    const auto pal700 = entries(700, [](std::size_t i) { return static_cast<std::uint16_t>(i * 3); });
    const std::vector<std::uint16_t> pal4 = {0x1111, 0x2222, 0x3333, 0x4444};
    // Every texel 0x01FF (256 by the rule; 511 if the low byte counted), one 0xC2AA (512).
    Bytes c14x2;
    for (int i = 0; i < 16; ++i) c14x2.insert(c14x2.end(), {0x01, 0xFF});
    c14x2[6] = 0xC2;
    c14x2[7] = 0xAA;
    const struct {
        const char* what;
        Format format;
        std::uint32_t width, height;
        Bytes texels;
        std::vector<std::uint16_t> palette;
        std::uint32_t first, last;
        std::string name;  // empty: the range alone is checked
    } cases[] = {
        // The low end from a high nibble, the top from a low one.
        {"C4 both nibbles", Format::C4, 8, 8, filled(32, 0x55, {{5, 0x27}, {20, 0x5B}}), pal16, 2, 11,
         "tex1_8x8_fdcf6bd7c8fda41d_6b5d903829c26b92_8"},
        {"C8 255 before any 254 does not count", Format::C8, 8, 4, filled(32, 5, {{0, 255}, {3, 3}, {9, 7}}), pal256, 3,
         7, "tex1_8x4_bb6a0e248ab821d0_0c1568dbdeb4c0c9_9"},
        {"C8 255 straight after 254 counts", Format::C8, 8, 4, filled(32, 5, {{0, 254}, {1, 255}}), pal256, 5, 255, ""},
        {"C8 255 later, top still 254, counts", Format::C8, 8, 4, filled(32, 5, {{0, 254}, {1, 100}, {2, 255}}), pal256,
         5, 255, ""},
        {"C8 255 before the 254", Format::C8, 8, 4, filled(32, 5, {{0, 255}, {5, 254}}), pal256, 5, 254, ""},
        {"C14X2 high byte only", Format::C14X2, 4, 4, c14x2, pal700, 256, 512,
         "tex1_4x4_5adc7960795b4ec7_aac8d2c9f801f4bc_10"},
        {"C4 range past the stored entries", Format::C4, 8, 8, filled(32, 0, {{7, 0x09}}), pal4, 0, 9,
         "tex1_8x8_0f23c61da7fb625e_4d9a3a4acd5e65e4_8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Hand hand(c.format, c.width, c.height, c.texels, c.palette);
        const auto got = dolphinName(hand.view, {});
        ASSERT_TRUE(got) << describe(got.error());
        ASSERT_TRUE(got->palette);
        EXPECT_EQ(got->palette->first, c.first);
        EXPECT_EQ(got->palette->last, c.last);
        EXPECT_EQ(got->palette->stored, c.palette.size());
        if (!c.name.empty()) {
            EXPECT_EQ(got->name, c.name);
        }
        const bool past = c.last >= c.palette.size();
        EXPECT_EQ(got->palette->pastEnd(), past);
        EXPECT_EQ(dolphinNote(*got).empty(), !past) << dolphinNote(*got);
    }
}

TEST(Dolphin, TexturesWithoutANameAreRefused) {
    const auto pal256 = entries(256, [](std::size_t i) { return static_cast<std::uint16_t>(i); });
    const Hand all255(Format::C8, 8, 4, Bytes(32, 255), pal256);
    const auto refused = dolphinName(all255.view, {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), DolphinError::NoPaletteRange);

    Hand noPalette(Format::C8, 8, 4, Bytes(32, 1), {});
    ASSERT_FALSE(dolphinName(noPalette.view, {}));
    EXPECT_EQ(dolphinName(noPalette.view, {}).error(), DolphinError::MissingPalette);

    // 13 × 10 I4 takes 16 × 16 texels of whole blocks: 128 bytes, not 65.
    Hand shortLevel(Format::I4, 13, 10, Bytes(127, 0), {});
    ASSERT_FALSE(dolphinName(shortLevel.view, {}));
    EXPECT_EQ(dolphinName(shortLevel.view, {}).error(), DolphinError::LevelTooShort);
    shortLevel.texels.push_back(0);
    shortLevel.view.levels = {shortLevel.texels};
    EXPECT_TRUE(dolphinName(shortLevel.view, {}));
}

TEST(Dolphin, MipmapMarkFollowsTheMinFilterOrTheOverride) {
    for (std::uint32_t filter = 0; filter <= 5; ++filter) {
        Sampler s;
        s.minFilter = static_cast<TextureFilter>(filter);
        EXPECT_EQ(dolphinSampling(s).mipFilter, filter >= 2) << "min filter " << filter;
    }
    const Hand one(Format::I8, 8, 4, Bytes(32, 0x40), {});
    const auto hasMark = [](const Expected<DolphinName, DolphinError>& n) {
        return n && n->name.find("_m_") != std::string::npos;
    };
    const DolphinSampling mip{true, std::nullopt}, plain{false, std::nullopt};
    EXPECT_TRUE(hasMark(dolphinName(one.view, mip)));  // with one level all the same
    EXPECT_FALSE(hasMark(dolphinName(one.view, plain)));
    EXPECT_TRUE(hasMark(dolphinName(one.view, plain, DolphinMipmaps::Yes)));
    EXPECT_FALSE(hasMark(dolphinName(one.view, mip, DolphinMipmaps::No)));
    // The mark alone differs: the hash is of the same bytes.
    std::string marked = dolphinName(one.view, mip)->name;
    marked.erase(marked.find("_m_"), 2);
    EXPECT_EQ(marked, dolphinName(one.view, plain)->name);

    // Forced off, the fixture's levels are not reached either.
    const auto off = nameOfTpl(kData / "formats/rgba8-mip.tpl", DolphinMipmaps::No);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->name, "tex1_16x8_0ab9d8f35ad15be6_6");
    EXPECT_TRUE(off->levels.empty());

    // TEX0 has no filter: more than one level stands for one.
    const Bytes brres = testing::fileBytes((kData / "containers/textures.brres").string());
    const auto textures = readTextures(brres, FileKind::Brres);
    ASSERT_TRUE(textures);
    for (const TextureEntry& e : *textures) {
        SCOPED_TRACE(e.name);
        const auto got = dolphinName(e.view, dolphinSampling(e.view));
        ASSERT_TRUE(got) << describe(got.error());
        EXPECT_EQ(hasMark(got), e.view.levels.size() > 1);
        EXPECT_EQ(got->levels.size(), e.view.levels.size() - 1);
    }
}

// Level names stop at the first of: the levels stored, floor(log2(max side)),
// ceil(max LOD).
TEST(Dolphin, MipLevelNamesStopWhereTheSamplerOrTheTextureDoes) {
    const Bytes block(64, 0x11);
    const struct {
        std::uint32_t width, height;
        std::size_t stored;
        std::optional<float> maxLod;
        std::size_t mips;
    } cases[] = {
        {16, 8, 3, std::nullopt, 2}, {16, 8, 3, 2.0f, 2}, {16, 8, 3, 1.0f, 1}, {16, 8, 3, 0.5f, 1},
        {16, 8, 3, 0.0f, 0},         {16, 8, 1, std::nullopt, 0}, {4, 4, 6, std::nullopt, 2},
        {5, 3, 6, 10.0f, 2},         {1, 1, 2, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.stored) +
                     " levels, max LOD " + (c.maxLod ? std::to_string(*c.maxLod) : "unset"));
        Hand hand(Format::RGBA8, c.width, c.height,
                  Bytes(static_cast<std::size_t>(levelBytes(Format::RGBA8, c.width, c.height)), 0x22), {});
        for (std::size_t k = 1; k < c.stored; ++k) hand.view.levels.push_back(block);
        const auto got = dolphinName(hand.view, {true, c.maxLod});
        ASSERT_TRUE(got);
        ASSERT_EQ(got->levels.size(), c.mips);
        for (std::size_t k = 0; k < c.mips; ++k) EXPECT_EQ(got->levels[k], got->name + "_mip" + std::to_string(k + 1));
    }
}

constexpr char kTex[] = "fd719638940734bd", kPal[] = "c5e2fef93d12d479";

// Pack file names as packs hold them, taken apart or refused with the reason.
TEST(DolphinPack, NamesAreTakenApartOrRefused) {
    const std::string t = kTex, p = kPal;
    const struct {
        std::string stem;
        std::optional<PackNameError> error;
        std::uint32_t width = 0, height = 0;
        bool mip = false;
        std::string texture{}, palette{};
        std::uint32_t format = 0;
        bool arb = false;
        unsigned level = 0;
        std::string key{};
    } cases[] = {
        {"tex1_64x32_7e0594a679b59943_5", {}, 64, 32, false, "7e0594a679b59943", "", 5, false, 0,
         "tex1_64x32_7e0594a679b59943_5"},
        {"tex1_16x8_m_0ab9d8f35ad15be6_6_mip2", {}, 16, 8, true, "0ab9d8f35ad15be6", "", 6, false, 2,
         "tex1_16x8_m_0ab9d8f35ad15be6_6"},
        {"tex1_24x12_" + t + "_" + p + "_8_arb_mip1", {}, 24, 12, false, t, p, 8, true, 1, "tex1_24x12_" + t + "_" + p + "_8"},
        {"tex1_24x12_" + t + "_" + p + "_8_arb", {}, 24, 12, false, t, p, 8, true, 0, "tex1_24x12_" + t + "_" + p + "_8"},
        {"tex1_24x12_$_" + p + "_9", {}, 24, 12, false, "$", p, 9, false, 0, "tex1_24x12_$_" + p + "_9"},
        {"tex1_24x12_m_" + t + "_$_10_mip3", {}, 24, 12, true, t, "$", 10, false, 3, "tex1_24x12_m_" + t + "_$_10"},
        {"tex1_330x247_$_14", {}, 330, 247, false, "$", "", 14, false, 0, "tex1_330x247_$_14"},
        {"tex2_64x32_" + t + "_5", PackNameError::NotTex1},
        {"tex1", PackNameError::NotTex1},
        {"texture", PackNameError::NotTex1},
        {"tex1_garbage", PackNameError::BadSize},
        {"tex1_64_" + t + "_5", PackNameError::BadSize},
        {"tex1_0x32_" + t + "_5", PackNameError::BadSize},
        {"tex1_064x32_" + t + "_5", PackNameError::BadSize},
        {"tex1_64x-32_" + t + "_5", PackNameError::BadSize},
        {"tex1_99999x32_" + t + "_5", PackNameError::BadSize},
        {"tex1_64x32_7E0594A679B59943_5", PackNameError::BadHash},
        {"tex1_64x32_7e0594a679b5994_5", PackNameError::BadHash},
        {"tex1_64x32_" + t + "_7", PackNameError::BadFormat},
        {"tex1_64x32_" + t + "_05", PackNameError::BadFormat},
        {"tex1_64x32_" + t + "_" + p + "_5", PackNameError::WrongParts},
        {"tex1_64x32_" + t + "_9", PackNameError::WrongParts},
        {"tex1_64x32_" + t, PackNameError::WrongParts},
        {"tex1_64x32_m_" + t + "_" + p + "_9_1", PackNameError::WrongParts},
        {"tex1_64x32_$_$_9", PackNameError::BothWildcards},
        {"tex1_64x32_" + t + "_5_mip0", PackNameError::BadLevel},
        {"tex1_64x32_" + t + "_5_mipx", PackNameError::BadLevel},
        {"tex1_64x32_" + t + "_5_mip", PackNameError::BadLevel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stem);
        const auto got = parsePackName(c.stem);
        if (c.error) {
            ASSERT_FALSE(got);
            EXPECT_EQ(got.error(), *c.error) << describe(got.error());
            continue;
        }
        ASSERT_TRUE(got) << describe(got.error());
        EXPECT_EQ(got->width, c.width);
        EXPECT_EQ(got->height, c.height);
        EXPECT_EQ(got->mipFilter, c.mip);
        EXPECT_EQ(got->textureHash, c.texture);
        EXPECT_EQ(got->paletteHash, c.palette);
        EXPECT_EQ(got->format, c.format);
        EXPECT_EQ(got->arbitrary, c.arb);
        EXPECT_EQ(got->level, c.level);
        EXPECT_EQ(got->key(), c.key);
    }
}

DolphinName named(const std::string& name) { return DolphinName{name, {}, {}}; }

TEST(DolphinPack, LookUpNamesComeInDolphinsOrder) {
    const std::string t = kTex, p = kPal;
    const struct {
        std::string name;
        std::vector<std::string> order;
    } cases[] = {
        {"tex1_24x12_" + t + "_" + p + "_8",
         {"tex1_24x12_" + t + "_" + p + "_8", "tex1_24x12_" + t + "_$_8", "tex1_24x12_$_" + p + "_8"}},
        {"tex1_24x12_m_" + t + "_" + p + "_10",
         {"tex1_24x12_m_" + t + "_" + p + "_10", "tex1_24x12_m_" + t + "_$_10", "tex1_24x12_m_$_" + p + "_10"}},
        {"tex1_16x8_m_0ab9d8f35ad15be6_6", {"tex1_16x8_m_0ab9d8f35ad15be6_6", "tex1_16x8_m_$_6"}},
        {"tex1_13x10_8c93038fac4c6f5d_0", {"tex1_13x10_8c93038fac4c6f5d_0", "tex1_13x10_$_0"}},
    };
    for (const auto& c : cases) EXPECT_EQ(dolphinLookUpNames(named(c.name)), c.order) << c.name;
}

// Which pack picture a texture gets: the exact name before either wildcard,
// any palette before any texture, and nothing across sizes, formats or "_m".
TEST(DolphinPack, TexturesFindTheFirstPictureTheirNamesReach) {
    const std::string a(16, 'a'), b(16, 'b'), c(16, 'c'), d(16, 'd');
    const auto parsed = [](const std::string& stem) {
        auto n = parsePackName(stem);
        EXPECT_TRUE(n) << stem;
        return n ? *n : DolphinPackName{};
    };
    const std::vector<std::vector<std::string>> packs = {
        {"tex1_24x12_" + a + "_" + b + "_8", "tex1_24x12_" + a + "_$_8", "tex1_24x12_$_" + b + "_8", "tex1_16x8_$_6"},
        {"tex1_24x12_$_" + b + "_8", "tex1_24x12_" + a + "_$_8_arb"},
    };
    const struct {
        std::size_t pack;
        std::string texture;
        std::optional<std::size_t> picture;  // its place in the pack
    } cases[] = {
        {0, "tex1_24x12_" + a + "_" + b + "_8", 0},
        {0, "tex1_24x12_" + a + "_" + c + "_8", 1},
        {0, "tex1_24x12_" + d + "_" + b + "_8", 2},
        {0, "tex1_24x12_" + d + "_" + c + "_8", {}},
        {0, "tex1_24x12_m_" + a + "_" + b + "_8", {}},
        {0, "tex1_24x24_" + a + "_" + b + "_8", {}},
        {0, "tex1_24x12_" + a + "_" + b + "_9", {}},
        {0, "tex1_16x8_" + d + "_6", 3},
        {0, "tex1_16x8_" + d + "_5", {}},
        {0, "tex1_16x8_m_" + d + "_6", {}},
        {1, "tex1_24x12_" + a + "_" + b + "_8", 1},
        {1, "tex1_24x12_" + c + "_" + b + "_8", 0},
    };
    std::vector<DolphinPackIndex> indexes(packs.size());
    for (std::size_t k = 0; k < packs.size(); ++k)
        for (std::size_t i = 0; i < packs[k].size(); ++i) EXPECT_TRUE(indexes[k].add(parsed(packs[k][i]), i));
    for (const auto& c : cases) EXPECT_EQ(indexes[c.pack].find(named(c.texture)), c.picture) << c.texture;

    // "_arb" and a level do not make another picture of the same name.
    EXPECT_FALSE(indexes[1].add(parsed("tex1_24x12_" + a + "_$_8"), 9));
    EXPECT_FALSE(indexes[0].add(parsed("tex1_16x8_$_6_mip1"), 9));
    EXPECT_EQ(indexes[0].size(), 4u);
}

}  // namespace
}  // namespace tplforge
