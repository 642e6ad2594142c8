#include "picture_input.h"

#include <algorithm>
#include <cctype>

#include "tplforge/file_io.h"
#include "platform/qt/picture_loader.h"
#include "tplforge/png.h"
#include "tplforge/targa.h"

namespace tplforge::cli {

bool isTargaPath(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".tga";
}

Expected<Image, std::string> readInputPicture(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return fail("cannot read: " + bytes.error().message());
    if (isTargaPath(path)) {
        auto tga = readTarga(std::span<const std::uint8_t>(*bytes));
        if (!tga) return fail(std::string(describe(tga.error())));
        return std::move(tga).value();
    }
    if (isPng(*bytes)) {
        auto png = readPng(*bytes);
        if (!png) return fail(std::string(describe(png.error())));
        return std::move(png).value();
    }
    auto picture = loadPictureBytes(*bytes);
    if (!picture) return fail(std::string(describe(picture.error())));
    Image image(static_cast<std::uint32_t>(picture->width), static_cast<std::uint32_t>(picture->height));
    for (std::size_t i = 0; i < picture->pixels.size(); ++i) {
        const ColourValue c = picture->pixels[i];
        image.rgba[4 * i] = static_cast<std::uint8_t>(redOf(c));
        image.rgba[4 * i + 1] = static_cast<std::uint8_t>(greenOf(c));
        image.rgba[4 * i + 2] = static_cast<std::uint8_t>(blueOf(c));
        image.rgba[4 * i + 3] = 255;
    }
    return image;
}

}  // namespace tplforge::cli
