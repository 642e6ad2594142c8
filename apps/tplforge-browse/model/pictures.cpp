#include "model/pictures.h"

#include <QImage>
#include <QString>

#include <filesystem>
#include <system_error>

#include "tplforge/file_io.h"
#include "tplforge/png.h"
#include "tplforge/targa.h"

namespace tplforge::browse {

namespace fs = std::filesystem;

namespace {

bool foldered(FileKind kind) { return kind == FileKind::Brres || kind == FileKind::J3d || kind == FileKind::Wibn; }

bool endsWithTga(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".tga" || ext == ".targa";
}

}  // namespace

Expected<Image, std::string> readPicture(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return fail(bytes.error().message());
    if (isPng(*bytes)) {
        auto picture = readPng(*bytes);
        if (!picture) return fail(describe(picture.error()));
        return std::move(picture).value();
    }
    if (endsWithTga(path)) {
        auto picture = readTarga(*bytes);
        if (!picture) return fail(describe(picture.error()));
        return std::move(picture).value();
    }
    QImage image;
    if (!image.loadFromData(bytes->data(), static_cast<int>(bytes->size())))
        return fail(std::string("not a picture Qt can read"));
    image = image.convertToFormat(QImage::Format_RGBA8888);
    Image picture(static_cast<std::uint32_t>(image.width()), static_cast<std::uint32_t>(image.height()));
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const uchar* line = image.constScanLine(static_cast<int>(y));
        std::copy(line, line + picture.stride(), picture.row(y).begin());
    }
    return picture;
}

std::string exportPath(const std::string& folder, const Source& source, std::size_t k, unsigned level) {
    const auto textures = source.current->textures();
    const TextureRef& t = textures[k];
    fs::path base = fs::path(folder);
    std::string stem = fs::path(source.diskPath).stem().string();
    if (!t.member.empty()) {
        // Members mirror their archive below a folder named after the file.
        base /= stem;
        const fs::path member(t.member);
        if (member.has_parent_path()) base /= member.parent_path();
        stem = member.stem().string();
    }
    std::size_t count = 0;
    for (const TextureRef& other : textures) count += other.member == t.member ? 1 : 0;
    std::string name = stem;
    if (foldered(t.container)) {
        base /= stem;
        name = t.name;
    } else if (count > 1) {
        name += "." + std::to_string(t.number);
    }
    if (level > 0) name += ".mip" + std::to_string(level);
    return (base / (name + ".png")).string();
}

Expected<std::vector<std::string>, std::string> exportTexture(const std::string& folder, const Source& source,
                                                              std::size_t k) {
    std::vector<std::string> written;
    const TextureRef& t = source.current->textures()[k];
    for (unsigned level = 0; level < t.view.levels.size(); ++level) {
        auto picture = t.decode(level);
        if (!picture) return fail(t.path() + ": " + describe(picture.error()));
        auto png = writePng(*picture, pngChannelsOf(t.view.format));
        if (!png) return fail(t.path() + ": " + describe(png.error()));
        const std::string path = exportPath(folder, source, k, level);
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (const auto saved = writeFileAtomically(path, *png, Flush::WhenReplacing); !saved)
            return fail(path + ": " + saved.error().message());
        written.push_back(path);
    }
    return written;
}

}  // namespace tplforge::browse
