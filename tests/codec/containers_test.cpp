// Texture containers: files our writers make, checked field by field against
// the layouts games use; hand-made files as models and tools lay them out; the
// index-group rule against its worked example and its search; replacements
// that keep every other byte; and one table of refusals.
#include <bit>
#include <random>

#include "codec/containers/brres.h"
#include "support/containers.h"
#include "tplforge/containers.h"

namespace tplforge {
namespace {

using namespace std::literals;
using testing::be16;
using testing::be32;
using testing::ByteVector;
using testing::Hand;
using testing::textAt;
using testing::textureData;

ByteVector texels(const TextureView& view) { return storedData(view).texels; }

TEST(Bti, GoldenFileHasTheHeaderFieldsAndLayoutOfStandaloneFiles) {
    const TextureData c8 = textureData(Format::C8, 8, 8, 3, 4, 16, PaletteFormat::IA8);
    BtiSettings settings;
    settings.sampler.wrapS = WrapMode::Repeat;
    settings.sampler.wrapT = WrapMode::Mirror;
    settings.sampler.minFilter = TextureFilter::LinMipLin;
    settings.sampler.magFilter = TextureFilter::Linear;
    settings.sampler.lodBias = 0.5f;
    settings.alpha = BtiAlpha::CutOut;
    const auto file = writeBti(c8, settings);
    ASSERT_TRUE(file) << describe(file.error());
    testing::expectGolden("c8-mip.bti", *file);

    const ByteVector& f = *file;
    const std::uint32_t data = static_cast<std::uint32_t>(c8.texels.size());
    EXPECT_EQ(data, 64u + 32 + 32) << "8 x 8, then 4 x 4 and 2 x 2 in whole 8 x 4 blocks";
    const std::pair<std::size_t, std::uint32_t> bytes[] = {
        {0x00, 9}, {0x01, 1}, {0x06, 1}, {0x07, 2}, {0x08, 1}, {0x09, 0}, {0x10, 1}, {0x11, 0},
        {0x14, 5}, {0x15, 1}, {0x16, 0}, {0x17, 16}, {0x18, 3}, {0x19, 0}};
    for (const auto& [at, value] : bytes) EXPECT_EQ(f[at], value) << "byte " << at;
    EXPECT_EQ(be16(f, 0x02), 8u);
    EXPECT_EQ(be16(f, 0x04), 8u);
    EXPECT_EQ(be16(f, 0x0A), 16u);
    EXPECT_EQ(be32(f, 0x0C), 32 + data);  // palette right after the images
    EXPECT_EQ(be16(f, 0x1A), 50u);        // LOD bias × 100
    EXPECT_EQ(be32(f, 0x1C), 0x20u);
    EXPECT_EQ(f.size(), 32 + data + 2 * 16);
    EXPECT_EQ(ByteVector(f.begin() + 32, f.begin() + 32 + data), c8.texels);

    const auto textures = readTextures(f, FileKind::Bti);
    ASSERT_TRUE(textures) << describe(textures.error());
    ASSERT_EQ(textures->size(), 1u);
    EXPECT_EQ(storedData((*textures)[0].view), c8);
    ASSERT_TRUE((*textures)[0].sampler);
    EXPECT_EQ((*textures)[0].sampler->wrapT, WrapMode::Mirror);
    EXPECT_FLOAT_EQ((*textures)[0].sampler->lodBias, 0.5f);

    // The same shape goes in place; another is laid out again, the rest of the header kept.
    EXPECT_EQ(*replaceTexture(f, FileKind::Bti, "1", c8), f);
    const TextureData other = textureData(Format::RGB5A3, 16, 4, 1, 9);
    const auto replaced = replaceTexture(f, FileKind::Bti, "1", other);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->size(), 32 + other.texels.size());
    EXPECT_EQ((*replaced)[0x07], 2u);
    EXPECT_EQ((*replaced)[0x08], 0u);
    EXPECT_EQ(be32(*replaced, 0x0C), 0u);
    EXPECT_EQ((*replaced)[0x17], 0u);
    EXPECT_EQ(storedData(readTextures(*replaced, FileKind::Bti)->at(0).view), other);
}

TEST(Bti, AlphaUseComesFromTheTexelsAsTheConsoleShowsThem) {
    TextureData d = textureData(Format::RGB5A3, 4, 4);
    const auto fill = [&](std::uint16_t word, std::uint16_t first) {
        for (std::size_t i = 0; i < d.texels.size(); i += 2) {
            const std::uint16_t w = i == 0 ? first : word;
            d.texels[i] = static_cast<std::uint8_t>(w >> 8), d.texels[i + 1] = static_cast<std::uint8_t>(w);
        }
    };
    fill(0xFFFF, 0xFFFF);
    EXPECT_EQ(btiAlphaOf(d), BtiAlpha::Opaque);
    fill(0xFFFF, 0x0FFF);  // 3-bit alpha 0
    EXPECT_EQ(btiAlphaOf(d), BtiAlpha::CutOut);
    fill(0xFFFF, 0x7FFF);  // 3-bit alpha 7: reads as 255
    EXPECT_EQ(btiAlphaOf(d), BtiAlpha::Opaque);
    fill(0x0FFF, 0x3FFF);
    EXPECT_EQ(btiAlphaOf(d), BtiAlpha::Translucent);
    EXPECT_EQ(btiAlphaOf(textureData(Format::RGB565, 4, 4)), BtiAlpha::Opaque);
}

// A model as J3D files lay it out: header, an INF1 section, then TEX1 with three
// headers of which the first and third share one image.
ByteVector j3dModel() {
    const TextureData a = textureData(Format::CMPR, 8, 8, 1, 1), b = textureData(Format::I8, 8, 4, 1, 2);
    Hand h;
    h.text("J3D2bmd3").u32(0).u32(2).text("SVR3").fill(12, 0xFF);
    h.text("INF1").u32(0x20).fill(0x18, 0);
    const std::size_t tex1 = h.b.size();
    h.text("TEX1").u32(0).u16(3).u16(0xFFFF).u32(0x20).u32(0);
    h.text("This is padding data to align").b.resize(tex1 + 0x20);  // the text cut where the headers start
    const std::size_t headers = h.b.size(), images = headers + 3 * 32 + 0x20;  // data after the names
    const std::uint32_t offsetA = static_cast<std::uint32_t>(images), offsetB = offsetA + 32;
    const auto header = [&](std::uint8_t format, std::uint16_t w, std::uint16_t hgt, std::size_t at, std::uint32_t data) {
        h.u8(format).u8(0).u16(w).u16(hgt).u8(1).u8(1).u8(0).u8(0).u16(0).u32(offsetA - static_cast<std::uint32_t>(at));
        h.u8(0).u8(0).u8(0).u8(0).u8(1).u8(1).u8(0).u8(0).u8(1).u8(0).u16(0).u32(data - static_cast<std::uint32_t>(at));
    };
    header(14, 8, 8, headers, offsetA);
    header(1, 8, 4, headers + 32, offsetB);
    header(14, 8, 8, headers + 64, offsetA);
    const std::size_t names = h.b.size();
    h.set32(tex1 + 0x10, static_cast<std::uint32_t>(names - tex1));
    h.u16(3).u16(0xFFFF).u16(0).u16(16).u16(0).u16(21).u16(0).u16(26).cstr("face").cstr("body").cstr("face");
    h.to(images).bytes(a.texels).bytes(b.texels).to(images + 96);
    h.set32(tex1 + 4, static_cast<std::uint32_t>(h.b.size() - tex1)).set32(8, static_cast<std::uint32_t>(h.b.size()));
    return h.b;
}

TEST(J3d, TexturesAreNumberedByHeaderAndSharedImagesChangeTogether) {
    const ByteVector model = j3dModel();
    ASSERT_EQ(detectKind(model, "a.bmd"), FileKind::J3d);
    const auto textures = readTextures(model, FileKind::J3d);
    ASSERT_TRUE(textures) << describe(textures.error());
    ASSERT_EQ(textures->size(), 3u);
    EXPECT_EQ((*textures)[1].name, "2");
    EXPECT_EQ((*textures)[2].storedName, "face");
    EXPECT_EQ((*textures)[1].view.format, Format::I8);
    EXPECT_EQ(texels((*textures)[1].view), textureData(Format::I8, 8, 4, 1, 2).texels);
    EXPECT_EQ((*textures)[0].view.levels[0].data(), (*textures)[2].view.levels[0].data());

    const TextureData fresh = textureData(Format::CMPR, 8, 8, 1, 7);
    const auto out = replaceTexture(model, FileKind::J3d, "3", fresh);
    ASSERT_TRUE(out) << describe(out.error());
    const auto after = readTextures(*out, FileKind::J3d);
    EXPECT_EQ(texels((*after)[0].view), fresh.texels);  // shares the image
    EXPECT_EQ(texels((*after)[1].view), texels((*textures)[1].view));
    EXPECT_EQ(out->size(), model.size());

    const auto other = replaceTexture(model, FileKind::J3d, "2", textureData(Format::I8, 16, 4));
    ASSERT_FALSE(other);
    EXPECT_EQ(other.error().fault, ContainerFault::ShapeMustStay);
    EXPECT_EQ(describe(other.error()), "texture 2: this file takes a texture of the same format, size, levels and palette size only");
}

// The search of CONTAINERS.md: how the game finds a name in an index group.
bool found(const std::vector<containers::DictNode>& nodes, const std::vector<std::string>& names, const std::string& name) {
    const auto bit = [&](std::uint16_t id) {
        const std::size_t c = id >> 3;
        return c < name.size() && (static_cast<std::uint8_t>(name[c]) >> (id & 7) & 1);
    };
    std::size_t prev = 0, cur = nodes[0].left;
    while (nodes[cur].id < nodes[prev].id) {
        prev = cur;
        cur = bit(nodes[cur].id) ? nodes[cur].right : nodes[cur].left;
    }
    return cur > 0 && names[cur - 1] == name;
}

TEST(Brres, IndexGroupsAreBuiltAsTheGamesAndEveryNameIsFound) {
    const std::vector<std::string> kuribo{"kuribo", "lm_0", "lm_1"};
    const auto nodes = containers::buildDict(kuribo);
    const std::array<std::array<std::uint16_t, 3>, 4> want{{{0xFFFF, 1, 0}, {0x2E, 2, 1}, {0x1D, 0, 3}, {0x18, 2, 3}}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(nodes[i].id, want[i][0]) << i;
        EXPECT_EQ(nodes[i].left, want[i][1]) << i;
        EXPECT_EQ(nodes[i].right, want[i][2]) << i;
    }
    // Overlapping names (prefixes, equal lengths) in many orders.
    std::mt19937 rng(5);
    const std::string letters = "ab_0";
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> names;
        while (names.size() < 1 + rng() % 12) {
            std::string n;
            for (unsigned k = 1 + rng() % 5; k > 0; --k) n += letters[rng() % letters.size()];
            if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
        }
        const auto dict = containers::buildDict(names);
        for (const std::string& n : names) EXPECT_TRUE(found(dict, names, n)) << n;
    }
}

struct ThreeTextures {
    TextureData grass = textureData(Format::CMPR, 16, 16, 2, 3);
    TextureData lm0 = textureData(Format::RGB5A3, 8, 8, 1, 5);
    TextureData pal = textureData(Format::C4, 8, 8, 1, 6, 16, PaletteFormat::RGB565);
    std::vector<NamedTexture> list() const { return {{"grass", &grass}, {"lm_0", &lm0}, {"pal", &pal}}; }
    ByteVector file() const { return *writeBrres(list()); }
};

// Group at `at`: each entry's name and absolute data offset.
std::vector<std::pair<std::string, std::uint32_t>> group(const ByteVector& f, std::uint32_t at) {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    const std::uint32_t n = be32(f, at + 4);
    EXPECT_EQ(be32(f, at), 8 + 16 * (n + 1));
    EXPECT_EQ(be16(f, at + 8), 0xFFFFu);
    for (std::uint32_t i = 1; i <= n; ++i) {
        const std::uint32_t e = at + 8 + 16 * i;
        const std::uint32_t name = at + be32(f, e + 8);
        out.push_back({textAt(f, name, be32(f, name - 4)), at + be32(f, e + 12)});
    }
    return out;
}

TEST(Brres, GoldenFileHasTheLayoutOfTheGamesFiles) {
    const ThreeTextures t;
    const ByteVector f = t.file();
    testing::expectGolden("textures.brres", f);

    EXPECT_EQ(textAt(f, 0, 4), "bres");
    EXPECT_EQ(be16(f, 4), 0xFEFFu);
    EXPECT_EQ(be32(f, 8), f.size());
    EXPECT_EQ(f.size() % 128, 0u);
    EXPECT_EQ(be16(f, 12), 0x10u);
    EXPECT_EQ(be16(f, 14), 5u);  // root + 3 TEX0 + 1 PLT0
    EXPECT_EQ(textAt(f, 0x10, 4), "root");
    const auto folders = group(f, 0x18);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].first, "Textures(NW4R)");
    EXPECT_EQ(folders[1].first, "Palettes(NW4R)");
    const auto textures = group(f, folders[0].second), palettes = group(f, folders[1].second);
    EXPECT_EQ(0x10 + be32(f, 0x14), folders[1].second + 8 + 16 * 2) << "root size runs to the end of the last group";

    std::uint32_t lastEnd = 0;
    for (const auto& [name, at] : textures) {
        SCOPED_TRACE(name);
        const TextureData& d = name == "grass" ? t.grass : name == "lm_0" ? t.lm0 : t.pal;
        EXPECT_EQ(at % 32, 0u);
        EXPECT_EQ(textAt(f, at, 4), "TEX0");
        EXPECT_EQ(be32(f, at + 4), 0x40 + d.texels.size());
        EXPECT_EQ(be32(f, at + 8), 3u);
        EXPECT_EQ(static_cast<std::int32_t>(be32(f, at + 0x0C)), -static_cast<std::int32_t>(at));
        EXPECT_EQ(be32(f, at + 0x10), 0x40u);
        EXPECT_EQ(textAt(f, at + be32(f, at + 0x14), name.size() + 1), name + '\0');
        EXPECT_EQ(be32(f, at + 0x18), d.palette.empty() ? 0u : 1u);
        EXPECT_EQ(be16(f, at + 0x1C), d.width);
        EXPECT_EQ(be16(f, at + 0x1E), d.height);
        EXPECT_EQ(be32(f, at + 0x20), static_cast<std::uint32_t>(d.format));
        EXPECT_EQ(be32(f, at + 0x24), d.levels);
        EXPECT_EQ(be32(f, at + 0x28), 0u);
        EXPECT_EQ(std::bit_cast<float>(be32(f, at + 0x2C)), static_cast<float>(d.levels - 1));
        EXPECT_EQ(ByteVector(f.begin() + at + 0x40, f.begin() + at + 0x40 + d.texels.size()), d.texels);
        lastEnd = std::max<std::uint32_t>(lastEnd, at + be32(f, at + 4));
    }
    ASSERT_EQ(palettes.size(), 1u);
    const std::uint32_t plt = palettes[0].second;
    EXPECT_EQ(palettes[0].first, "pal");
    EXPECT_EQ(plt % 32, 0u);
    EXPECT_EQ(textAt(f, plt, 4), "PLT0");
    EXPECT_EQ(be32(f, plt + 4), 0x40u + 32);
    EXPECT_EQ(be32(f, plt + 0x10), 0x40u);
    EXPECT_EQ(be32(f, plt + 0x18), 1u);  // RGB565
    EXPECT_EQ(be16(f, plt + 0x1C), 16u);
    EXPECT_EQ(be16(f, plt + 0x40 + 2), t.pal.palette[1]);
    lastEnd = std::max<std::uint32_t>(lastEnd, plt + be32(f, plt + 4));

    // Names after the last subfile, once each, sorted by byte value, padded to 4.
    std::vector<std::string> names;
    for (std::uint32_t at = (lastEnd + 3) / 4 * 4; at + 4 <= f.size() && be32(f, at) != 0;) {
        const std::uint32_t n = be32(f, at);
        names.push_back(textAt(f, at + 4, n));
        EXPECT_EQ(f[at + 4 + n], 0);
        at += (4 + n + 1 + 3) / 4 * 4;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Palettes(NW4R)", "Textures(NW4R)", "grass", "lm_0", "pal"}));

    const auto read = readTextures(f, FileKind::Brres);
    ASSERT_TRUE(read) << describe(read.error());
    ASSERT_EQ(read->size(), 3u);
    EXPECT_EQ((*read)[2].name, "pal");
    EXPECT_EQ(storedData((*read)[2].view), t.pal);
    EXPECT_EQ(storedData((*read)[0].view), t.grass);
}

TEST(Brres, ReplacingFitsInPlaceOrLaysOutAFileOfTexturesAgain) {
    const ThreeTextures t;
    const ByteVector f = t.file();
    EXPECT_EQ(*replaceTexture(f, FileKind::Brres, "pal", t.pal), f);
    EXPECT_EQ(*replaceTexture(f, FileKind::Brres, "LM_0", t.lm0), f) << "names compared ignoring case when no exact one";

    // Same bytes, other format: in place, the header fields follow.
    TextureData rgb565 = t.lm0;
    rgb565.format = Format::RGB565;
    const auto inPlace = replaceTexture(f, FileKind::Brres, "lm_0", rgb565);
    ASSERT_TRUE(inPlace);
    ASSERT_EQ(inPlace->size(), f.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < f.size(); ++i) differing += f[i] != (*inPlace)[i];
    EXPECT_EQ(differing, 1u) << "only the format code";

    // Larger: laid out again exactly as the writer lays out the new set.
    const TextureData big = textureData(Format::RGB5A3, 16, 16, 2, 8);
    ThreeTextures grown = t;
    grown.lm0 = big;
    EXPECT_EQ(*replaceTexture(f, FileKind::Brres, "lm_0", big), grown.file());

    // A palette format where there was none: the PLT0 joins the palettes folder.
    const TextureData c8 = textureData(Format::C8, 8, 8, 1, 2, 40, PaletteFormat::RGB5A3);
    const auto paletted = replaceTexture(f, FileKind::Brres, "lm_0", c8);
    ASSERT_TRUE(paletted) << describe(paletted.error());
    const auto read = readTextures(*paletted, FileKind::Brres);
    ASSERT_TRUE(read) << describe(read.error());
    EXPECT_EQ(storedData((*read)[1].view), c8);
    EXPECT_EQ(storedData((*read)[0].view), t.grass);
    EXPECT_EQ(storedData((*read)[2].view), t.pal);
    const auto folders = group(*paletted, 0x18);
    const auto palettes = group(*paletted, folders[1].second);
    ASSERT_EQ(palettes.size(), 2u);
    EXPECT_EQ(palettes[1].first, "lm_0");
    EXPECT_EQ(be16(*paletted, 14), 6u);
}

// As Mario Kart Wii's files are: a model, then textures (the worked example's
// kuribo, lm_0, lm_1), names sorted after the last subfile, zeros to 128.
struct ModelFile {
    TextureData kuribo = textureData(Format::CMPR, 8, 8, 1, 1), lm0 = textureData(Format::I4, 8, 8, 1, 2),
                lm1 = textureData(Format::IA8, 4, 4, 1, 3);
    ByteVector mdl0;
    ByteVector file;
    std::uint32_t mdl0At = 0, namesAt = 0;
    ModelFile() {
        const std::vector<std::string> sorted{"3DModels(NW4R)", "Textures(NW4R)", "kuribo", "lm_0", "lm_1"};
        const std::uint32_t root = 0x10, rootGroup = root + 8, models = rootGroup + 8 + 16 * 3,
                            textures = models + 8 + 16 * 2, rootEnd = textures + 8 + 16 * 4;
        mdl0At = (rootEnd + 31) / 32 * 32;
        const std::uint32_t tex[3] = {mdl0At + 0x60, mdl0At + 0x60 + 0x40 + 32, mdl0At + 0x60 + 2 * 0x40 + 64};
        namesAt = tex[2] + 0x40 + 32;
        std::map<std::string, std::uint32_t> nameAt;
        std::uint32_t at = namesAt;
        for (const std::string& n : sorted) nameAt[n] = at + 4, at += (4 + static_cast<std::uint32_t>(n.size()) + 1 + 3) / 4 * 4;
        const std::uint32_t size = (at + 127) / 128 * 128;

        Hand h;
        h.text("bres").u16(0xFEFF).u16(0).u32(size).u16(0x10).u16(5);
        h.text("root").u32(rootEnd - root);
        const auto entry = [&](std::uint16_t id, std::uint16_t l, std::uint16_t r, std::uint32_t g, const std::string& n,
                               std::uint32_t data) { h.u16(id).u16(0).u16(l).u16(r).u32(nameAt[n] - g).u32(data - g); };
        const auto rootDict = containers::buildDict({"3DModels(NW4R)", "Textures(NW4R)"});
        h.u32(8 + 16 * 3).u32(2).u16(0xFFFF).u16(0).u16(rootDict[0].left).u16(rootDict[0].right).u32(0).u32(0);
        entry(rootDict[1].id, rootDict[1].left, rootDict[1].right, rootGroup, "3DModels(NW4R)", models);
        entry(rootDict[2].id, rootDict[2].left, rootDict[2].right, rootGroup, "Textures(NW4R)", textures);
        h.u32(8 + 16 * 2).u32(1).u16(0xFFFF).u16(0).u16(1).u16(0).u32(0).u32(0);
        entry(0x2E, 0, 1, models, "kuribo", mdl0At);
        h.u32(8 + 16 * 4).u32(3).u16(0xFFFF).u16(0).u16(1).u16(0).u32(0).u32(0);
        entry(0x2E, 2, 1, textures, "kuribo", tex[0]);
        entry(0x1D, 0, 3, textures, "lm_0", tex[1]);
        entry(0x18, 2, 3, textures, "lm_1", tex[2]);
        // The model: a header and a name pointer of its own into the name table.
        h.to(mdl0At).text("MDL0").u32(0x60).u32(11).u32(-mdl0At).u32(0).u32(nameAt["kuribo"] - mdl0At);
        h.u32(nameAt["lm_1"] - (mdl0At + 0x18)).fill(0x60 - 0x1C, 0x4D);
        mdl0.assign(h.b.begin() + mdl0At, h.b.end());
        const TextureData* data[3] = {&kuribo, &lm0, &lm1};
        const char* names[3] = {"kuribo", "lm_0", "lm_1"};
        for (int k = 0; k < 3; ++k) {
            h.to(tex[k]).text("TEX0").u32(0x40 + static_cast<std::uint32_t>(data[k]->texels.size())).u32(3).u32(-tex[k]);
            h.u32(0x40).u32(nameAt[names[k]] - tex[k]).u32(0).u16(data[k]->width).u16(data[k]->height);
            h.u32(static_cast<std::uint32_t>(data[k]->format)).u32(1).u32(0).u32(0).fill(16).bytes(data[k]->texels);
        }
        h.to(namesAt);
        for (const std::string& n : sorted) h.u32(static_cast<std::uint32_t>(n.size())).cstr(n).to((h.b.size() + 3) / 4 * 4);
        h.to(size);
        file = h.b;
    }
};

TEST(Brres, AFileWithModelsKeepsEveryOtherByteWhereItWas) {
    const ModelFile m;
    const auto read = readTextures(m.file, FileKind::Brres);
    ASSERT_TRUE(read) << describe(read.error());
    ASSERT_EQ(read->size(), 3u);
    EXPECT_EQ(storedData((*read)[2].view), m.lm1);

    // lm_1 grows: it moves to the end; the model and the names stay.
    const TextureData big = textureData(Format::IA8, 8, 8, 1, 4);
    const auto grown = replaceTexture(m.file, FileKind::Brres, "lm_1", big);
    ASSERT_TRUE(grown) << describe(grown.error());
    const ByteVector& g = *grown;
    EXPECT_EQ(ByteVector(g.begin() + m.mdl0At, g.begin() + m.mdl0At + 0x60), m.mdl0);
    EXPECT_EQ(ByteVector(g.begin() + m.namesAt, g.begin() + m.file.size()),
              ByteVector(m.file.begin() + m.namesAt, m.file.end()));
    EXPECT_EQ(g.size() % 128, 0u);
    EXPECT_EQ(be32(g, 8), g.size());
    const auto after = readTextures(g, FileKind::Brres);
    ASSERT_TRUE(after) << describe(after.error());
    EXPECT_EQ(storedData((*after)[2].view), big);
    EXPECT_EQ(storedData((*after)[0].view), m.kuribo);
    const auto textures = group(g, group(g, 0x18)[1].second);
    const std::uint32_t at = textures[2].second;
    EXPECT_GE(at, m.file.size());
    EXPECT_EQ(at % 32, 0u);
    EXPECT_EQ(static_cast<std::int32_t>(be32(g, at + 0x0C)), -static_cast<std::int32_t>(at));
    EXPECT_EQ(textAt(g, at + be32(g, at + 0x14), 5), "lm_1"s + '\0');

    // kuribo becomes C4: the groups take a palettes folder and everything after
    // them moves by a multiple of 32, the model with its names.
    const TextureData c4 = textureData(Format::C4, 8, 8, 1, 5, 16, PaletteFormat::IA8);
    const auto paletted = replaceTexture(m.file, FileKind::Brres, "kuribo", c4);
    ASSERT_TRUE(paletted) << describe(paletted.error());
    const ByteVector& p = *paletted;
    const auto folders = group(p, 0x18);
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[2].first, "Palettes(NW4R)");
    const std::uint32_t model = group(p, folders[0].second)[0].second;
    EXPECT_EQ((model - m.mdl0At) % 32, 0u);
    EXPECT_GT(model, m.mdl0At);
    ByteVector mdl0(p.begin() + model, p.begin() + model + 0x60);
    EXPECT_EQ(static_cast<std::int32_t>(be32(mdl0, 0x0C)), -static_cast<std::int32_t>(model));
    std::copy(m.mdl0.begin() + 0x0C, m.mdl0.begin() + 0x10, mdl0.begin() + 0x0C);
    EXPECT_EQ(mdl0, m.mdl0) << "only its offset back to the file start changes";
    EXPECT_EQ(textAt(p, model + be32(p, model + 0x18) + 0x18, 4), "lm_1") << "its own name pointer still lands";
    const auto again = readTextures(p, FileKind::Brres);
    ASSERT_TRUE(again) << describe(again.error());
    EXPECT_EQ(storedData((*again)[0].view), c4);
    EXPECT_EQ(storedData((*again)[1].view), m.lm0);
    EXPECT_EQ(be16(p, 14), 6u);
}

TEST(Tex0, WorkedHeaderAndSizesReadAsStored) {
    Hand h;
    h.u32(0x54455830).u32(0x840).u32(3).u32(0xFFFF9FE0).u32(0x40).u32(0x1B88).u32(0).u16(0x40).u16(0x40);
    h.u32(0x0E).u32(1).fill(0x840 - h.b.size(), 0x33);
    const auto header = containers::readTex0(h.b, 0);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, 0x840u);
    EXPECT_EQ(header->version, 3u);
    EXPECT_EQ(header->dataOffset, 0x40u);
    EXPECT_EQ(header->nameOffset, 0x1B88u);
    EXPECT_EQ(header->width, 64u);
    EXPECT_EQ(header->format, 14u);
    const auto view = containers::tex0View(h.b, 0, *header, {}, std::nullopt, "lm_0");
    ASSERT_TRUE(view);
    ASSERT_EQ(view->levels.size(), 1u);
    EXPECT_EQ(view->levels[0].size(), 0x800u);

    // Version 2: the name and the fields after it sit 4 further on.
    Hand v2;
    v2.text("TEX0").u32(0x40 + 32).u32(2).u32(0).u32(0).u32(0x40).u32(0).u32(0).u16(8).u16(4).u32(1).u32(1).to(0x60, 7);
    const auto h2 = containers::readTex0(v2.b, 0);
    ASSERT_TRUE(h2);
    EXPECT_EQ(h2->width, 8u);
    EXPECT_EQ(h2->height, 4u);
    EXPECT_EQ(h2->format, 1u);
    EXPECT_EQ(h2->dataOffset, 0x40u);

    const auto miti = containers::tex0Subfile(textureData(Format::CMPR, 256, 256, 3), 3);
    EXPECT_EQ(be32(miti, 4), 0xA840u);
}

TEST(Tex0, StandaloneGoldenFilesKeepTheirNameAfterThemAndThePaletteBeside) {
    const TextureData c8 = textureData(Format::C8, 8, 4, 1, 3, 5, PaletteFormat::RGB5A3);
    const auto files = writeTex0(c8, "face");
    ASSERT_TRUE(files);
    testing::expectGolden("face.tex0", files->tex0);
    testing::expectGolden("face.plt0", files->plt0);
    const ByteVector& t = files->tex0;
    EXPECT_EQ(be32(t, 4), 0x40u + 32);
    EXPECT_EQ(be32(t, 0x0C), 0u);
    EXPECT_EQ(be32(t, 0x14), 0x60u + 4);
    EXPECT_EQ(be32(t, 0x60), 4u);
    EXPECT_EQ(textAt(t, 0x64, 5), "face"s + '\0');
    EXPECT_EQ(t.size(), 0x6Cu);
    const ByteVector& p = files->plt0;
    EXPECT_EQ(be32(p, 4), 0x40u + 10);
    EXPECT_EQ(be32(p, 0x18), 2u);
    EXPECT_EQ(be16(p, 0x1C), 5u);
    EXPECT_EQ(be32(p, 0x14), 0x4Au + 2 + 4);  // name after the subfile, its length 4-aligned before it
    EXPECT_EQ(textAt(p, be32(p, 0x14), 4), "face");

    const auto read = readTextures(t, FileKind::Tex0, p);
    ASSERT_TRUE(read) << describe(read.error());
    EXPECT_EQ((*read)[0].name, "face");
    EXPECT_EQ(storedData((*read)[0].view), c8);
    EXPECT_EQ(*replaceTexture(t, FileKind::Tex0, "face", c8), t);
    const TextureData other = textureData(Format::RGBA8, 4, 4);
    const auto replaced = replaceTexture(t, FileKind::Tex0, "face", other);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(*replaced, writeTex0(other, "face")->tex0);
}

TEST(Banners, SaveBannersAndGameCubeBannersHoldRgb5a3PicturesAtFixedPlaces) {
    ByteVector wibn = Hand{}.text("WIBN").to(24736 + 3 * 4608 + 100, 0x42).b;
    const auto textures = readTextures(wibn, FileKind::Wibn);
    ASSERT_TRUE(textures);
    ASSERT_EQ(textures->size(), 4u);
    EXPECT_EQ((*textures)[0].view.width, 192u);
    EXPECT_EQ((*textures)[0].view.levels[0].data(), wibn.data() + 160);
    EXPECT_EQ((*textures)[3].view.width, 48u);
    EXPECT_EQ((*textures)[3].view.levels[0].data(), wibn.data() + 24736 + 2 * 4608);
    EXPECT_EQ(readTextures(ByteVector(49152, 0), FileKind::Wibn)->size(), 6u);  // floor((49152 − 24736) / 4608) icons

    const TextureData icon = textureData(Format::RGB5A3, 48, 48, 1, 9);
    const auto out = replaceTexture(wibn, FileKind::Wibn, "3", icon);
    ASSERT_TRUE(out);
    EXPECT_EQ(ByteVector(out->begin() + 24736 + 4608, out->begin() + 24736 + 2 * 4608), icon.texels);
    EXPECT_EQ(ByteVector(out->begin(), out->begin() + 24736 + 4608), ByteVector(wibn.begin(), wibn.begin() + 24736 + 4608));
    EXPECT_EQ(replaceTexture(wibn, FileKind::Wibn, "1", icon).error().fault, ContainerFault::ShapeMustStay);

    for (const auto& [magic, size] : {std::pair{"BNR1", 6496u}, std::pair{"BNR2", 8096u}}) {
        const ByteVector bnr = Hand{}.text(magic).to(size, 0x80).b;
        const auto one = readTextures(bnr, FileKind::Bnr);
        ASSERT_TRUE(one);
        ASSERT_EQ(one->size(), 1u);
        EXPECT_EQ((*one)[0].view.width, 96u);
        EXPECT_EQ((*one)[0].view.height, 32u);
        EXPECT_EQ((*one)[0].view.levels[0].data(), bnr.data() + 0x20);
        EXPECT_EQ((*one)[0].view.levels[0].size(), 6144u);
        const auto wrong = readTextures(Hand{}.text(magic).to(size + 4).b, FileKind::Bnr);
        ASSERT_FALSE(wrong);
        EXPECT_EQ(wrong.error().fault, ContainerFault::WrongSize);
    }
}

TEST(Containers, FilesThatBreakTheirOwnFieldsAreRefused) {
    const ThreeTextures t;
    const ByteVector brres = t.file();
    const auto folders = group(brres, 0x18);
    const std::uint32_t textures = folders[0].second, palettes = folders[1].second;
    const std::uint32_t lm0 = group(brres, textures)[1].second;
    const ByteVector bti = *writeBti(textureData(Format::RGB565, 8, 8), {});
    const ByteVector model = j3dModel();
    struct Case {
        const char* what;
        const ByteVector* file;
        FileKind kind;
        std::size_t at;  // a 32-bit field set to `value`; kCut cuts the file at `at`
        std::uint32_t value;
        ContainerFault fault;
    };
    constexpr std::uint32_t kCut = 0xFFFFFFFF;
    const Case cases[] = {
        {"BRRES cut in its header", &brres, FileKind::Brres, 10, kCut, ContainerFault::TooShort},
        {"BRRES root elsewhere", &brres, FileKind::Brres, 12, 0x00200000, ContainerFault::BrresNoRoot},
        {"BRRES group past the end", &brres, FileKind::Brres, textures + 4, 0x10000, ContainerFault::BrresGroupPastEnd},
        {"BRRES folder pointing outside", &brres, FileKind::Brres, 0x18 + 8 + 16 + 12, 0x10000, ContainerFault::BrresEntryOutside},
        {"BRRES entry pointing outside", &brres, FileKind::Brres, textures + 8 + 32 + 12, 0x100000, ContainerFault::BrresEntryOutside},
        {"BRRES entry pointing into the groups", &brres, FileKind::Brres, textures + 8 + 32 + 12, 0, ContainerFault::BrresEntryOutside},
        {"BRRES name past the end", &brres, FileKind::Brres, textures + 8 + 32 + 8, 0x100000, ContainerFault::BrresNamePastEnd},
        {"PLT0 name past the end", &brres, FileKind::Brres, palettes + 8 + 16 + 8, 0x7FFFFFFF, ContainerFault::BrresNamePastEnd},
        {"TEX0 data past its size", &brres, FileKind::Brres, lm0 + 4, 0x60, ContainerFault::DataPastEnd},
        {"TEX0 past the end of the file", &brres, FileKind::Brres, lm0 + 4, 0x100000, ContainerFault::BadSubfile},
        {"TEX0 of an unknown format", &brres, FileKind::Brres, lm0 + 0x20, 7, ContainerFault::BadFormat},
        {"BTI data past the end", &bti, FileKind::Bti, 0x1C, 0x40, ContainerFault::DataPastEnd},
        {"BTI without levels", &bti, FileKind::Bti, 0x18, 0, ContainerFault::BadLevels},
        {"BTI data inside its header", &bti, FileKind::Bti, 0x1C, 0x10, ContainerFault::DataInHeader},
        {"BTI wrap code the console lacks", &bti, FileKind::Bti, 0x04, 0x00080300, ContainerFault::BadSampler},
        {"BTI filter code the console lacks", &bti, FileKind::Bti, 0x14, 0x01060000, ContainerFault::BadSampler},
        {"J3D section past the end", &model, FileKind::J3d, 0x24, 0x10000, ContainerFault::J3dSectionPastEnd},
        {"J3D headers past the end", &model, FileKind::J3d, 0x40 + 0x0C, 0x10000, ContainerFault::J3dHeadersPastEnd},
        {"save banner too short", &bti, FileKind::Wibn, 0, 0x5749424E, ContainerFault::WrongSize},
    };
    for (const Case& c : cases) {
        ByteVector bad = *c.file;
        if (c.value == kCut)
            bad.resize(c.at);
        else
            Hand{bad}.set32(c.at, c.value).b.swap(bad);
        const auto out = readTextures(bad, c.kind);
        ASSERT_FALSE(out) << c.what;
        EXPECT_EQ(out.error().fault, c.fault) << c.what << ": " << describe(out.error());
        // BTI has no magic: a .bti that is refused is never taken for one.
        if (c.kind == FileKind::Bti) {
            EXPECT_EQ(detectKind(bad, "x.bti"), FileKind::Unknown) << c.what;
        }
    }
    EXPECT_EQ(detectKind(bti, "x.bti"), FileKind::Bti);

    // The palettes folder renamed: the C4 texture has no PLT0 of its name.
    ByteVector unlinked = brres;
    const std::uint32_t palName = 0x18 + be32(brres, 0x18 + 8 + 32 + 8);
    unlinked[palName] = 'X';
    const auto missing = readTextures(unlinked, FileKind::Brres);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().fault, ContainerFault::MissingPalette);
    EXPECT_EQ(describe(missing.error()), "BRRES: pal: TEX0 of a palette format has no PLT0 of its name");
    const auto alone = readTextures(writeTex0(t.pal, "pal")->tex0, FileKind::Tex0);
    ASSERT_FALSE(alone);
    EXPECT_EQ(alone.error().fault, ContainerFault::MissingPalette);
}

}  // namespace
}  // namespace tplforge
