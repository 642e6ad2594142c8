#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "common/file_io.h"
#include "imageio/targa.h"
#include "platform/platform.h"
#include "platform/qt/picture_loader.h"
#include "tpl/tpl_file.h"

namespace tplforge::cli {

bool isTargaPath(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".tga";
}

bool needsGuiApplication(const std::string& path) {
    std::error_code ec;
    if (isTargaPath(path) || !std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    std::array<char, 44> head{};
    in.read(head.data(), head.size());
    const std::vector<std::uint8_t> bytes(head.begin(), head.begin() + in.gcount());
    return isEnhancedMetafile(bytes);
}

namespace {

std::optional<Raster> loadImage(const std::string& path) {
    if (isTargaPath(path)) {
        auto tga = VBLoadTga(path);
        if (tga) return std::move(tga).value();
        std::cerr << path << ": " << describe(tga.error()) << '\n';
        return std::nullopt;
    }
    auto picture = loadPictureFile(path);
    if (picture) return std::move(picture).value();
    std::cerr << path << ": " << describe(picture.error()) << '\n';
    return std::nullopt;
}

// Every image is checked before anything is written, and every bad one is named,
// so one run reports all that needs fixing.
bool fitsTexture(const std::string& path, const Raster& raster) {
    const bool tooLarge = static_cast<std::uint32_t>(raster.width) > kMaxSide ||
                          static_cast<std::uint32_t>(raster.height) > kMaxSide;
    if (raster.width % 4 != 0 || raster.height % 4 != 0) {
        std::cerr << path << ": size " << raster.width << " x " << raster.height
                  << " is not a multiple of 4 in both directions\n";
        return false;
    }
    if (tooLarge) {
        std::cerr << path << ": size " << raster.width << " x " << raster.height << " is larger than "
                  << kMaxSide << " pixels on a side\n";
        return false;
    }
    return true;
}

}  // namespace

int runEncode(const EncodeRequest& request) {
    std::vector<Raster> rasters;
    rasters.reserve(request.images.size());
    bool allGood = true;
    for (const EncodeItem& item : request.images) {
        auto raster = loadImage(item.path);
        if (!raster || !fitsTexture(item.path, *raster)) {
            allGood = false;
            continue;
        }
        rasters.push_back(std::move(*raster));
    }
    if (!allGood) {
        std::cerr << request.output << ": not written\n";
        return kInputFailed;
    }

    std::vector<TextureInput> textures;
    textures.reserve(rasters.size());
    for (std::size_t i = 0; i < rasters.size(); ++i)
        textures.push_back({&rasters[i], request.images[i].format, request.images[i].alphaColour});
    auto file = buildTpl(textures);
    if (!file) {
        std::cerr << request.output << ": " << describe(file.error()) << "; not written\n";
        return kInputFailed;
    }
    if (const std::error_code ec = writeFileAtomically(request.output, *file)) {
        std::cerr << request.output << ": cannot write: " << ec.message() << '\n';
        return kInputFailed;
    }
    return kSuccess;
}

}  // namespace tplforge::cli
