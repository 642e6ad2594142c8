#include <filesystem>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include "commands.h"
#include "common/file_io.h"
#include "imageio/bmp.h"
#include "platform/qt/picture_loader.h"
#include "tpl/tpl_file.h"

namespace tplforge::cli {

namespace {

std::vector<std::uint8_t> encodePng(const Raster& raster) {
    const QImage image = imageFromRaster(raster).convertToFormat(QImage::Format_RGB888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return {data, data + bytes.size()};
}

// <stem>.png for a lone texture, <stem>.<k>.png otherwise, k being the texture's
// place in the file so that names stay stable when some textures are skipped.
std::filesystem::path outputPath(const DecodeRequest& request, std::size_t index, std::size_t count) {
    std::string name = std::filesystem::path(request.file).stem().string();
    if (count > 1) name += "." + std::to_string(index + 1);
    name += request.bmp ? ".bmp" : ".png";
    return std::filesystem::path(request.folder) / name;
}

}  // namespace

int runDecode(const DecodeRequest& request) {
    const auto input = readTplInput(request.file);
    if (!input) return kInputFailed;
    const std::span<const std::uint8_t> file(input->bytes);
    const TplInfo& info = input->info;

    std::error_code ec;
    std::filesystem::create_directories(request.folder, ec);
    if (ec) {
        std::cerr << request.folder << ": cannot create folder: " << ec.message() << '\n';
        return kInputFailed;
    }

    int status = kSuccess;
    const std::size_t count = info.images.size();
    for (std::size_t k = 0; k < count; ++k) {
        const TplImage& image = info.images[k];
        auto texture = decodeTexture(file, image);
        if (!texture) {
            std::cerr << request.file << ": texture " << k + 1 << ": ";
            if (texture.error() == TplError::UnsupportedFormat)
                std::cerr << "format " << formatName(image.format) << " (" << image.format
                          << ") is not supported; skipped\n";
            else
                std::cerr << describe(texture.error()) << "; skipped\n";
            status = kInputFailed;
            continue;
        }
        const std::vector<std::uint8_t> out =
            request.bmp ? encodeBmp24(texture->raster) : encodePng(texture->raster);
        const std::string path = outputPath(request, k, count).string();
        const std::error_code writeError =
            out.empty() ? std::make_error_code(std::errc::io_error) : writeFileAtomically(path, out);
        if (writeError) {
            std::cerr << path << ": cannot write: " << writeError.message() << '\n';
            status = kInputFailed;
        }
    }
    return status;
}

}  // namespace tplforge::cli
