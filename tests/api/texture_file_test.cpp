// TextureFile on a Yaz0 archive of real textures laid out as a game lays one:
// what a path lists, and a replacement that changes one texture and no other byte.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "support/scratch.h"
#include "tplforge/tplforge.h"

namespace tplforge {
namespace {

using testing::fileBytes;

const std::filesystem::path kData = TPLFORGE_API_DATA;
const std::filesystem::path kReal = TPLFORGE_REAL_DATA;
const std::filesystem::path kCodecData = TPLFORGE_CODEC_DATA;

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
