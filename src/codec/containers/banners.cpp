// Pictures at fixed places. Reads and writes in place: a Wii save's banner.bin
// ("WIBN": the 192 × 64 banner at 160, then 48 × 48 icons every 4608 bytes from
// 24736) and a GameCube opening.bnr ("BNR1" or "BNR2": one 96 × 32 picture at
// 0x20, files of exactly 6496 or 8096 bytes). All RGB5A3, one level.
#include <cstring>

#include "codec/containers/banners.h"

namespace tplforge::containers {

namespace {

constexpr std::size_t kWibnBanner = 160;
constexpr std::size_t kWibnIcons = 24736;
constexpr std::size_t kWibnIcon = 4608;
constexpr unsigned kWibnMaxIcons = 8;
constexpr std::size_t kBnrPicture = 0x20;
constexpr std::size_t kBnr1Size = 0x1960;
constexpr std::size_t kBnr2Size = 0x1FA0;

struct Place {
    std::size_t at;
    std::uint32_t width;
    std::uint32_t height;
};

Expected<std::vector<Place>, ContainerError> places(Bytes file, FileKind kind) {
    std::vector<Place> out;
    if (kind == FileKind::Wibn) {
        if (file.size() < kWibnIcons) return fail(error(ContainerFault::WrongSize));
        out.push_back({kWibnBanner, 192, 64});
        const std::size_t icons = std::min<std::size_t>(kWibnMaxIcons, (file.size() - kWibnIcons) / kWibnIcon);
        for (std::size_t k = 0; k < icons; ++k) out.push_back({kWibnIcons + k * kWibnIcon, 48, 48});
        return out;
    }
    const bool bnr1 = std::memcmp(file.data(), "BNR1", 4) == 0;
    if (file.size() != (bnr1 ? kBnr1Size : kBnr2Size)) return fail(error(ContainerFault::WrongSize));
    out.push_back({kBnrPicture, 96, 32});
    return out;
}

}  // namespace

Expected<std::vector<TextureEntry>, ContainerError> bannerTextures(Bytes file, FileKind kind) {
    const auto where = places(file, kind);
    if (!where) return fail(where.error());
    std::vector<TextureEntry> out;
    for (std::size_t k = 0; k < where->size(); ++k) {
        const Place& p = (*where)[k];
        auto view = levelsAt(file, p.at, Format::RGB5A3, p.width, p.height, 1);
        out.push_back({std::to_string(k + 1), {}, std::move(view).value(), std::nullopt});
    }
    return out;
}

Expected<std::vector<std::uint8_t>, ContainerError> replaceBanner(Bytes file, FileKind kind, std::uint32_t number,
                                                                  const TextureData& data) {
    const auto textures = bannerTextures(file, kind);
    if (!textures) return fail(textures.error());
    if (number == 0 || number > textures->size()) return fail(error(ContainerFault::NoSuchTexture, number));
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    const TextureView& view = (*textures)[number - 1].view;
    if (!sameShape(view, data)) return fail(error(ContainerFault::ShapeMustStay, number));
    std::vector<std::uint8_t> out(file.begin(), file.end());
    overwrite(out, file, view, data);
    return out;
}

}  // namespace tplforge::containers
