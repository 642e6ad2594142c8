#include "picture_input.h"

#include <algorithm>
#include <cctype>

#include "tplforge/file_io.h"
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

void applyKeyColour(Image& picture, ColourValue key) {
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        std::uint8_t* p = &picture.rgba[i];
        if (rgb(p[0], p[1], p[2]) == key) p[3] = 0;
    }
}

Expected<Image, std::string> readInputPicture(const std::string& path, Backdrop backdrop, const RowsDecoded& onRows) {
    // Mapped: a picture for the reader process is then read once, by that process.
    const auto file = mapWholeFile(path);
    if (!file) return fail("cannot read: " + file.error().message());
    const std::span<const std::uint8_t> bytes = file->bytes();
    if (isTargaPath(path)) {
        auto tga = readTarga(bytes);
        if (!tga) return fail(std::string(describe(tga.error())));
        return std::move(tga).value();
    }
    if (isPng(bytes)) {
        auto png = readPng(bytes, onRows);
        if (!png) return fail(std::string(describe(png.error())));
        return std::move(png).value();
    }
    auto picture = readPictureInProcess(path, backdrop);
    if (!picture) {
        const ReaderFailure& why = picture.error();
        return fail(std::string(describe(why.error)) + (why.detail.empty() ? "" : " (" + why.detail + ")"));
    }
    return std::move(picture).value();
}

}  // namespace tplforge::cli
