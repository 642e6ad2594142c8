// make_browse_layout: files for timing and showing tplforge-browse.
//   make_browse_layout archive OUT.szs N [--side S] PICTURE.png...
//     a Yaz0-compressed U8 of N TPL members under arc/timg/ (one texture each)
//   make_browse_layout folder DIR N [--side S] PICTURE.png...
//     N TPL files in DIR
// Member k holds picture k (cycling), halved until its sides are at most S
// (default 128), in a format cycling through RGB5A3, CMPR, C8, RGBA8, IA8, I8,
// with every level down to 8 pixels.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/archive.h"
#include "tplforge/compression.h"
#include "tplforge/file_io.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;
namespace fs = std::filesystem;

constexpr Format kFormats[] = {Format::RGB5A3, Format::CMPR, Format::C8, Format::RGBA8, Format::IA8, Format::I8};

int usage() {
    std::fputs("usage: make_browse_layout archive OUT.szs N [--side S] PICTURE.png...\n"
               "       make_browse_layout folder DIR N [--side S] PICTURE.png...\n",
               stderr);
    return 2;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Picture {
    std::string stem;
    Image image;
};

std::vector<std::uint8_t> tplOf(const Picture& picture, std::size_t k) {
    TextureInput input;
    input.picture = &picture.image;
    input.options.format = kFormats[k % std::size(kFormats)];
    input.options.threads = 1;
    unsigned levels = 1;
    while (levels < levelsPossible(input.options.format, picture.image.width, picture.image.height) &&
           levelSide(std::min(picture.image.width, picture.image.height), levels) >= 8)
        ++levels;
    input.levels = levels;
    if (levels > 1) input.sampler.minFilter = TextureFilter::LinMipLin;
    auto file = encodeTpl(std::span(&input, 1));
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", picture.stem.c_str(), describe(file.error()).c_str());
        std::exit(1);
    }
    return std::move(file).value();
}

std::string nameOf(const Picture& picture, std::size_t k) {
    char number[16];
    std::snprintf(number, sizeof number, "%04zu", k);
    return picture.stem + "_" + number + "_" +
           lower(formatName(static_cast<std::uint32_t>(kFormats[k % std::size(kFormats)]))) + ".tpl";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return usage();
    const std::string mode = argv[1], out = argv[2];
    const std::size_t count = std::strtoull(argv[3], nullptr, 10);
    std::uint32_t side = 128;
    std::vector<Picture> pictures;
    for (int i = 4; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--side" && i + 1 < argc) {
            side = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            continue;
        }
        auto bytes = readWholeFile(argv[i]);
        auto image = bytes ? readPng(*bytes) : Expected<Image, PngError>(fail(PngError::NotPng));
        if (!image) {
            std::fprintf(stderr, "%s: not a PNG this reads\n", argv[i]);
            return 1;
        }
        pictures.push_back({fs::path(argv[i]).stem().string(), std::move(image).value()});
    }
    if (pictures.empty() || count == 0) return usage();
    for (Picture& p : pictures)
        while (p.image.width > side || p.image.height > side) p.image = halveImage(p.image);

    if (mode == "folder") {
        fs::create_directories(out);
        for (std::size_t k = 0; k < count; ++k) {
            const Picture& p = pictures[k % pictures.size()];
            if (!writeFileAtomically((fs::path(out) / nameOf(p, k)).string(), tplOf(p, k), Flush::WhenReplacing)) return 1;
        }
        return 0;
    }
    if (mode != "archive") return usage();
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<NewMember> members;
    for (std::size_t k = 0; k < count; ++k) files.push_back(tplOf(pictures[k % pictures.size()], k));
    for (std::size_t k = 0; k < count; ++k) members.push_back({"arc/timg/" + nameOf(pictures[k % pictures.size()], k), files[k]});
    auto u8 = buildU8(members);
    if (!u8) return 1;
    auto compressed = yaz0Compress(*u8);
    if (!compressed || !writeFileAtomically(out, *compressed)) return 1;
    return 0;
}
