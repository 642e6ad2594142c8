// TextureFile on a Yaz0 archive of real textures laid out as a game lays one:
// what a path lists, and a replacement that changes one texture and no other byte.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "support/containers.h"
#include "support/scratch.h"
#include "tplforge/tplforge.h"

namespace tplforge {
namespace {

using testing::fileBytes;

const std::filesystem::path kData = TPLFORGE_API_DATA;
const std::filesystem::path kReal = TPLFORGE_REAL_DATA;
const std::filesystem::path kCodecData = TPLFORGE_CODEC_DATA;
const std::filesystem::path kPathSeeds = TPLFORGE_PATH_SEEDS;

using Bytes = std::vector<std::uint8_t>;

// Every member of a Yaz0 U8 archive by path.
std::map<std::string, Bytes> membersOf(std::span<const std::uint8_t> szs) {
    const auto u8 = yaz0Decompress(szs);
    EXPECT_TRUE(u8.ok());
    if (!u8) return {};
    const auto archive = parseU8(*u8);
    EXPECT_TRUE(archive.ok());
    std::map<std::string, Bytes> out;
    if (!archive) return out;
    for (const ArchiveEntry& e : archive->files) {
        const auto bytes = std::span(*u8).subspan(e.offset, e.size);
        out[e.path] = Bytes(bytes.begin(), bytes.end());
    }
    return out;
}

TextureEdit edit(std::string texture, Image picture) {
    TextureEdit e;
    e.texture = std::move(texture);
    e.picture = std::move(picture);
    return e;
}

std::string archivePath() { return (kData / "menu.szs").string(); }

TEST(TextureFile, PathsListWhatIsBelowThem) {
    struct Case {
        std::string inner;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"", {"bg/mud.tpl/1", "bg/sky.tpl/1", "timg/lighter.tpl/1", "timg/logo.tpl/1"}},
        {"timg", {"timg/lighter.tpl/1", "timg/logo.tpl/1"}},
        {"TIMG/Logo.tpl", {"timg/logo.tpl/1"}},
        {"timg/logo.tpl/1", {"timg/logo.tpl/1"}},
    };
    for (const Case& c : cases) {
        const auto file = TextureFile::open(c.inner.empty() ? archivePath() : archivePath() + '/' + c.inner);
        ASSERT_TRUE(file.ok()) << c.inner << ": " << describe(file.error());
        std::vector<std::string> paths;
        for (const TextureRef& t : file->textures()) paths.push_back(t.path());
        std::sort(paths.begin(), paths.end());
        EXPECT_EQ(paths, c.paths) << c.inner;
        EXPECT_EQ(file->diskPath(), archivePath());
    }
}

// Dolphin's names through the archive are those of the files on their own,
// sampled as each kind of file says.
TEST(TextureFile, TexturesKnowTheirDolphinNames) {
    const struct {
        std::string path;
        DolphinMipmaps mipmaps;
        std::string name;
        std::size_t levels;
    } cases[] = {
        {archivePath() + "/bg/sky.tpl", DolphinMipmaps::File, "tex1_128x128_3c3ac08a41775d7d_14", 0},
        {archivePath() + "/timg/logo.tpl/1", DolphinMipmaps::File, "tex1_64x32_7e0594a679b59943_5", 0},
        {archivePath() + "/timg/lighter.tpl", DolphinMipmaps::Yes, "tex1_330x247_m_e2b345596176087b_5", 0},
        {(kCodecData / "formats/rgba8-mip.tpl").string(), DolphinMipmaps::File, "tex1_16x8_m_0ab9d8f35ad15be6_6", 2},
        {(kCodecData / "formats/rgba8-mip.tpl").string(), DolphinMipmaps::No, "tex1_16x8_0ab9d8f35ad15be6_6", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto file = TextureFile::open(c.path);
        ASSERT_TRUE(file.ok()) << describe(file.error());
        ASSERT_EQ(file->textures().size(), 1u);
        const auto name = file->textures()[0].dolphin(c.mipmaps);
        ASSERT_TRUE(name.ok()) << describe(name.error());
        EXPECT_EQ(name->name, c.name);
        EXPECT_EQ(name->levels.size(), c.levels);
    }
    // TEX0 stores no filter: its levels stand for one.
    const auto brres = TextureFile::open((kCodecData / "containers/textures.brres").string());
    ASSERT_TRUE(brres.ok());
    for (const TextureRef& t : brres->textures()) {
        const auto name = t.dolphin();
        ASSERT_TRUE(name.ok()) << t.name;
        EXPECT_EQ(name->name.find("_m_") != std::string::npos, t.view.levels.size() > 1) << name->name;
    }
}

TEST(TextureFile, ArchiveTexturesDecodeAsTheFilesOnTheirOwn) {
    const auto file = TextureFile::open(archivePath());
    ASSERT_TRUE(file.ok());
    const std::map<std::string, std::string> sources = {{"bg/mud.tpl", "first_work-mud.tpl"},
                                                        {"bg/sky.tpl", "first_work-sky.tpl"},
                                                        {"timg/lighter.tpl", "sevendays-lighter.tpl"},
                                                        {"timg/logo.tpl", "sevendays-logo.tpl"}};
    ASSERT_EQ(file->textures().size(), sources.size());
    for (const TextureRef& t : file->textures()) {
        const auto alone = TextureFile::open((kReal / sources.at(t.member)).string());
        ASSERT_TRUE(alone.ok()) << t.member;
        ASSERT_EQ(alone->textures().size(), 1u);
        const TextureRef& own = alone->textures()[0];
        EXPECT_EQ(t.stored(), own.stored()) << t.member;
        EXPECT_EQ(t.decode(0).value(), own.decode(0).value()) << t.member;
        ASSERT_TRUE(t.settings && own.settings);
        EXPECT_EQ(t.settings->sampler, own.settings->sampler);
    }
}

TEST(TextureFile, ReplacingOneTextureChangesThatMemberAlone) {
    const auto file = TextureFile::open(archivePath() + "/timg/logo.tpl");
    ASSERT_TRUE(file.ok());
    Image picture = file->textures()[0].decode(0).value();
    for (std::size_t i = 0; i < picture.rgba.size() / 3; i += 4) picture.rgba[i] ^= 0xFF;

    const TextureEdit change = edit("", picture);
    const auto edited = file->replace(std::span(&change, 1));
    ASSERT_TRUE(edited.ok()) << describe(edited.error());
    EXPECT_EQ(edited->changed, 1u);

    // The member is what the same replacement makes of the TPL on its own.
    const auto alone = TextureFile::open((kReal / "sevendays-logo.tpl").string());
    ASSERT_TRUE(alone.ok());
    const auto aloneEdited = alone->replace(std::span(&change, 1));
    ASSERT_TRUE(aloneEdited.ok());

    const auto before = membersOf(file->bytes());
    const auto after = membersOf(edited->file);
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [path, bytes] : before) {
        if (path == "timg/logo.tpl") {
            EXPECT_NE(after.at(path), bytes);
            EXPECT_EQ(after.at(path), aloneEdited->file);
        } else {
            EXPECT_EQ(after.at(path), bytes) << path;
        }
    }
}

TEST(TextureFile, APictureOfWhatIsThereKeepsEveryByte) {
    const auto file = TextureFile::open(archivePath());
    ASSERT_TRUE(file.ok());
    std::vector<TextureEdit> edits;
    for (const TextureRef& t : file->textures()) edits.push_back(edit(t.path(), t.decode(0).value()));
    const auto edited = file->replace(edits);
    ASSERT_TRUE(edited.ok()) << describe(edited.error());
    EXPECT_EQ(edited->changed, 0u);
    EXPECT_EQ(edited->notes.size(), edits.size());
    EXPECT_TRUE(std::equal(edited->file.begin(), edited->file.end(), file->bytes().begin(), file->bytes().end()));
}

// A TEX0 of a palette format inside an archive is read with the PLT0 beside it,
// and replaced together with it.
TEST(TextureFile, Tex0AndPlt0InsideAnArchiveGoTogether) {
    const auto tex0 = fileBytes((kCodecData / "containers/face.tex0").string());
    const auto plt0 = fileBytes((kCodecData / "containers/face.plt0").string());
    const auto logo = fileBytes((kReal / "sevendays-logo.tpl").string());
    const NewMember members[] = {{"face.tex0", tex0}, {"face.plt0", plt0}, {"logo.tpl", logo}};
    auto u8 = buildU8(members);
    ASSERT_TRUE(u8.ok());
    const auto file = TextureFile::fromBytes(*u8, "pair.arc");
    ASSERT_TRUE(file.ok()) << describe(file.error());
    EXPECT_TRUE(file->damaged().empty());
    ASSERT_EQ(file->textures().size(), 2u);
    const auto alone = TextureFile::fromBytes(tex0, "face.tex0", {}, plt0);
    ASSERT_TRUE(alone.ok()) << describe(alone.error());
    const auto face = file->find("face.tex0/face");
    ASSERT_TRUE(face.ok());
    EXPECT_EQ((*face)->stored(), alone->textures()[0].stored());

    // Two colours the palette does not hold: a new palette, written into the PLT0 member.
    Image picture = (*face)->decode(0).value();
    for (std::size_t i = 0; i < 8; i += 4) picture.rgba[i] = static_cast<std::uint8_t>(17 + i);
    const TextureEdit change = edit("face.tex0/face", picture);
    const auto edited = file->replace(std::span(&change, 1));
    ASSERT_TRUE(edited.ok()) << describe(edited.error());
    EXPECT_TRUE(edited->plt0.empty());
    const TextureEdit aloneChange = edit("", picture);
    const auto aloneEdited = alone->replace(std::span(&aloneChange, 1));
    ASSERT_TRUE(aloneEdited.ok()) << describe(aloneEdited.error());

    const auto archive = parseU8(edited->file);
    ASSERT_TRUE(archive.ok());
    std::map<std::string, Bytes> after;
    for (const ArchiveEntry& e : archive->files) {
        const auto bytes = std::span(edited->file).subspan(e.offset, e.size);
        after[e.path] = Bytes(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(after.at("face.tex0"), aloneEdited->file);
    EXPECT_EQ(after.at("face.plt0"), aloneEdited->plt0);
    EXPECT_NE(after.at("face.plt0"), plt0);
    EXPECT_EQ(after.at("logo.tpl"), logo);
}

// Edits in several members put back in one go: each member as its own
// replacement makes it, and the whole file as the edits made one after another
// (every layer wrapped once, to the same bytes).
TEST(TextureFile, EditsInSeveralMembersGoBackTogether) {
    const auto file = TextureFile::open(archivePath());
    ASSERT_TRUE(file.ok());
    std::vector<TextureEdit> edits;
    for (const std::string path : {"bg/sky.tpl/1", "timg/logo.tpl/1"}) {
        Image picture = file->find(path).value()->decode(0).value();
        for (std::size_t i = 0; i < picture.rgba.size() / 2; i += 4) picture.rgba[i] ^= 0x5A;
        edits.push_back(edit(path, picture));
    }
    const auto together = file->replace(edits);
    ASSERT_TRUE(together.ok()) << describe(together.error());
    EXPECT_EQ(together->changed, 2u);

    Bytes oneByOne(file->bytes().begin(), file->bytes().end());
    for (const TextureEdit& e : edits) {
        const auto step = TextureFile::fromBytes(oneByOne, "menu.szs");
        ASSERT_TRUE(step.ok());
        const auto stepped = step->replace(std::span(&e, 1));
        ASSERT_TRUE(stepped.ok()) << describe(stepped.error());
        oneByOne = stepped->file;
    }
    EXPECT_EQ(together->file, oneByOne);
    const auto before = membersOf(file->bytes()), after = membersOf(together->file);
    EXPECT_EQ(after.at("bg/mud.tpl"), before.at("bg/mud.tpl"));
    EXPECT_EQ(after.at("timg/lighter.tpl"), before.at("timg/lighter.tpl"));
    EXPECT_NE(after.at("bg/sky.tpl"), before.at("bg/sky.tpl"));

    // One member and another inside it, or one twice, cannot both be the change.
    const Bytes some = {1, 2, 3};
    const MemberChange twice[] = {{"bg/sky.tpl", some}, {"BG/Sky.tpl", some}};
    const auto refused = replaceMembers(file->bytes(), "menu.szs", twice);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().fault, ArchiveFault::ChangedTwice);
}

// keepGoing: a texture its container cannot take is listed and left as it
// was; the others are put in. Without it the whole replacement fails.
TEST(TextureFile, KeepGoingLeavesRefusedTexturesAsTheyWere) {
    const auto scene = TextureFile::open((kPathSeeds / "seed-scene.arc").string());
    ASSERT_TRUE(scene.ok()) << describe(scene.error());
    const TextureRef& model = *scene->find("model.bmd/2").value();
    const TextureRef& face = *scene->find("face.bti/1").value();
    Image wider(model.view.width * 2, model.view.height);
    for (std::size_t i = 0; i < wider.rgba.size(); ++i) wider.rgba[i] = static_cast<std::uint8_t>(i * 13);
    Image faceEdit = face.decode(0).value();
    std::fill_n(faceEdit.rgba.begin(), 8, std::uint8_t{0xFF});
    const std::vector<TextureEdit> edits = {edit("model.bmd/2", wider), edit("face.bti/1", faceEdit)};

    const auto strict = scene->replace(edits);
    ASSERT_FALSE(strict.ok());
    EXPECT_EQ(strict.error().code, ErrorCode::Refused);

    EditOptions options;
    options.keepGoing = true;
    const auto kept = scene->replace(edits, options);
    ASSERT_TRUE(kept.ok()) << describe(kept.error());
    ASSERT_EQ(kept->refused.size(), 1u);
    EXPECT_EQ(kept->refused[0].texture, "model.bmd/2");
    EXPECT_EQ(describe(kept->refused[0].error), "this file takes a texture of the same format, size, levels and palette size only");
    EXPECT_EQ(kept->changed, 1u);
    const auto after = TextureFile::fromBytes(kept->file, "seed-scene.arc");
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->find("model.bmd/2").value()->stored(), model.stored());
    EXPECT_EQ(after->find("face.bti/1").value()->decode(0).value(), faceEdit);
}

// A TPL texture given no picture keeps its texels and takes the header asked for.
TEST(TextureFile, HeaderFieldsChangeWithoutAPicture) {
    const auto file = TextureFile::open(archivePath() + "/timg/logo.tpl");
    ASSERT_TRUE(file.ok());
    const TextureRef& logo = file->textures()[0];
    TextureEdit change;
    change.texture = logo.path();
    TextureSettings header = *logo.settings;
    header.sampler.wrapS = WrapMode::Mirror;
    header.sampler.lodBias = 1.5f;
    header.unpacked = 7;
    change.changes.header = header;
    const auto edited = file->replace(std::span(&change, 1));
    ASSERT_TRUE(edited.ok()) << describe(edited.error());
    EXPECT_EQ(edited->changed, 1u);
    const auto tpl = membersOf(edited->file).at("timg/logo.tpl");
    const auto after = TextureFile::fromBytes(tpl, "logo.tpl");
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->textures()[0].stored(), logo.stored());
    EXPECT_EQ(after->textures()[0].settings->sampler, header.sampler);
    EXPECT_EQ(after->textures()[0].settings->unpacked, 7);
    // Only the header's bytes differ: the layout stays.
    const auto before = membersOf(file->bytes()).at("timg/logo.tpl");
    ASSERT_EQ(tpl.size(), before.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < tpl.size(); ++i) differ += tpl[i] != before[i];
    EXPECT_GT(differ, 0u);
    EXPECT_LE(differ, 8u);

    // Without a header to change, an empty picture is still refused; other kinds take none.
    const auto scene = TextureFile::open((kPathSeeds / "seed-scene.arc").string());
    ASSERT_TRUE(scene.ok());
    TextureEdit bti;
    bti.texture = "face.bti/1";
    bti.changes.wrapS = WrapMode::Repeat;
    const auto refused = scene->replace(std::span(&bti, 1));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::BadPicture);
}

// A palette texture of any container keeps its palette when the picture shows
// only its colours: the texels alone change.
TEST(TextureFile, PalettesStayWhenTheColoursFit) {
    const auto brres = TextureFile::open((kCodecData / "containers/textures.brres").string());
    ASSERT_TRUE(brres.ok()) << describe(brres.error());
    const TextureRef& pal = *brres->find("pal").value();
    const Image shown = pal.decode(0).value();
    Image flipped(shown.width, shown.height);
    for (std::uint32_t y = 0; y < shown.height; ++y)
        std::copy_n(&shown.rgba[4 * y * shown.width], 4 * shown.width, &flipped.rgba[4 * (shown.height - 1 - y) * shown.width]);
    ASSERT_NE(flipped, shown);
    const TextureEdit change = edit("pal", flipped);
    const auto edited = brres->replace(std::span(&change, 1));
    ASSERT_TRUE(edited.ok()) << describe(edited.error());
    const auto after = TextureFile::fromBytes(edited->file, "textures.brres");
    ASSERT_TRUE(after.ok());
    const TextureRef& now = *after->find("pal").value();
    EXPECT_EQ(now.stored().palette, pal.stored().palette);
    EXPECT_EQ(now.decode(0).value(), flipped);
}

// Members that hold no texture are listed with none, not as damaged: a model
// drawn without textures, a BRRES of models alone.
TEST(TextureFile, MembersWithoutTexturesHoldNone) {
    testing::Hand j3d;
    j3d.text("J3D2bmd3").u32(0x20).u32(0).fill(16);
    const auto brres = writeBrres(std::span<const NamedTexture>{});
    ASSERT_TRUE(brres.ok());
    const auto logo = fileBytes((kReal / "sevendays-logo.tpl").string());
    const NewMember members[] = {{"map/collision.bmd", j3d.b}, {"map/map_model.brres", *brres}, {"logo.tpl", logo}};
    const auto u8 = buildU8(members);
    ASSERT_TRUE(u8.ok());
    const auto file = TextureFile::fromBytes(yaz0Compress(*u8).value(), "course.szs");
    ASSERT_TRUE(file.ok()) << describe(file.error());
    EXPECT_TRUE(file->damaged().empty());
    ASSERT_EQ(file->textures().size(), 1u);
    EXPECT_EQ(file->textures()[0].path(), "logo.tpl/1");
    const auto model = TextureFile::fromBytes(*u8, "course.arc", "map/collision.bmd");
    ASSERT_TRUE(model.ok()) << describe(model.error());
    EXPECT_TRUE(model->textures().empty());
}

// A TPL texture whose mipmaps run past the end is listed as damaged; the others
// are still read, as decode has always written them.
TEST(TextureFile, ATextureThatDoesNotReadLeavesTheOthersListed) {
    Bytes tpl(0xC0, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) tpl[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    const auto image = [&](std::size_t at, std::uint32_t data, std::uint8_t maxLod) {
        put32(at, 0x00040004);  // 4 x 4
        put32(at + 4, 4);       // RGB565
        put32(at + 8, data);
        tpl[at + 34] = maxLod;
    };
    put32(0, 0x0020AF30);
    put32(4, 2);
    put32(8, 12);
    put32(12, 0x20);
    put32(20, 0x48);
    image(0x20, 0x80, 0);
    image(0x48, 0xA0, 2);  // three levels, where the file holds one
    const auto file = TextureFile::fromBytes(tpl, "two.tpl");
    ASSERT_TRUE(file.ok()) << describe(file.error());
    ASSERT_EQ(file->textures().size(), 1u);
    EXPECT_EQ(file->textures()[0].number, 1u);
    ASSERT_EQ(file->damaged().size(), 1u);
    EXPECT_EQ(describe(file->damaged()[0].error), "two.tpl: texture 2: mipmap levels run past the end of the file");
    const auto named = TextureFile::fromBytes(tpl, "two.tpl", "2");
    ASSERT_FALSE(named.ok());
    EXPECT_EQ(named.error().code, ErrorCode::Damaged);
}

TEST(TextureFile, RefusalsSayWhatAndWhere) {
    const auto file = TextureFile::open(archivePath());
    ASSERT_TRUE(file.ok());
    const Image small(4, 4);
    struct Case {
        std::vector<TextureEdit> edits;
        ErrorCode code;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{edit("", small)}, ErrorCode::AmbiguousTexture, "menu.szs: holds several textures"},
        {{edit("timg/nothing.tpl/1", small)}, ErrorCode::NoSuchTexture,
         "menu.szs: no texture named timg/nothing.tpl/1"},
        {{edit("bg/sky.tpl/1", small), edit("bg/sky.tpl/1", small)},
         ErrorCode::NamedTwice, "texture 1 is named twice"},
        {{edit("bg/sky.tpl/1", Image())}, ErrorCode::BadPicture, "picture: the picture is empty"},
    };
    for (const Case& c : cases) {
        const auto edited = file->replace(c.edits);
        ASSERT_FALSE(edited.ok()) << c.line;
        EXPECT_EQ(edited.error().code, c.code) << c.line;
        EXPECT_NE(describe(edited.error()).find(c.line), std::string::npos) << describe(edited.error());
    }
    const std::pair<std::string, std::string> opens[] = {
        {archivePath() + "/timg/none.tpl", "none.tpl"},
        {(kData / "missing.szs").string(), "cannot read"},
    };
    for (const auto& [path, line] : opens) {
        const auto opened = TextureFile::open(path);
        ASSERT_FALSE(opened.ok()) << path;
        EXPECT_NE(describe(opened.error()).find(line), std::string::npos) << describe(opened.error());
    }
}

}  // namespace
}  // namespace tplforge
