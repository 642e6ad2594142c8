// One TPL per GX format against the console's decoding of it, every level: the
// generic golden test. On a mismatch the decoded picture is written beside the
// test's working folder and named in the failure.
#include "support/scratch.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace tplforge {
namespace {

const std::filesystem::path kData = std::filesystem::path(TPLFORGE_TEST_DATA) / "formats";

// I4 and I8 pictures are grey: the intensity is all they hold, and the console
// samples it as alpha too.
bool greyFormat(Format f) { return f == Format::I4 || f == Format::I8; }

std::string firstDifference(const Image& got, const Image& want, bool grey) {
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + ", expected " +
               std::to_string(want.width) + "x" + std::to_string(want.height);
    for (std::size_t i = 0; i < got.rgba.size(); ++i) {
        const bool alpha = i % 4 == 3;
        const std::uint8_t expected = grey && alpha ? got.rgba[i - 3] : want.rgba[i];
        if (got.rgba[i] != expected)
            return "pixel (" + std::to_string(i / 4 % got.width) + ", " + std::to_string(i / 4 / got.width) +
                   ") channel " + std::to_string(i % 4) + " is " + std::to_string(got.rgba[i]) + ", expected " +
                   std::to_string(expected);
    }
    return {};
}

TEST(Golden, EveryFormatDecodesAsTheConsoleShowsIt) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kData)) {
        if (entry.path().extension() != ".tpl") continue;
        ++files;
        const std::string stem = entry.path().stem().string();
        SCOPED_TRACE(stem);
        const auto bytes = testing::fileBytes(entry.path().string());
        const auto info = parseTpl(bytes);
        ASSERT_TRUE(info) << describe(info.error());
        ASSERT_EQ(info->images.size(), 1u);
        const auto view = textureView(bytes, info->images[0]);
        ASSERT_TRUE(view) << describe(view.error());
        for (unsigned level = 0; level < view->levels.size(); ++level) {
            const std::string name = stem + (level > 0 ? ".mip" + std::to_string(level) : "") + ".png";
            const auto want = readPng(testing::fileBytes((kData / name).string()));
            ASSERT_TRUE(want) << name;
            const Image got = decodeLevel(*view, level);
            const std::string difference = firstDifference(got, *want, greyFormat(view->format));
            if (!difference.empty()) {
                const std::string written = "got-" + name;
                writeFileAtomically(written, writePng(got, PngChannels::Rgba).value());
                ADD_FAILURE() << name << ": " << difference << " (decoded picture written to " << written << ")";
            }
        }
    }
    EXPECT_EQ(files, 12);
}

}  // namespace
}  // namespace tplforge
