#include <filesystem>

#include "cli.h"
#include "tplforge/file_io.h"
#include "codec/window_rules.h"
#include "jobs.h"
#include "tplforge/bmp.h"
#include "tplforge/png.h"

namespace tplforge::cli {

namespace {

// What a picture of the format holds: I4 and I8 are intensity alone (the console
// also samples it as alpha), IA4 and IA8 intensity and alpha, RGB565 colour.
PngChannels channelsOf(Format format) {
    switch (format) {
        case Format::I4:
        case Format::I8: return PngChannels::Grey;
        case Format::IA4:
        case Format::IA8: return PngChannels::GreyAlpha;
        case Format::RGB565: return PngChannels::Rgb;
        default: return PngChannels::Rgba;
    }
}

struct FileDecoder {
    const DecodeRequest& request;
    const std::string& file;
    JobOutput& out;

    void fail(const std::string& what) {
        out.err += file + ": " + what + '\n';
        out.failed = true;
    }

    // <stem>.png for a lone texture, <stem>.<k>.png otherwise, k being the
    // texture's place in the file so that names stay stable when some are skipped.
    std::string outputPath(std::size_t index, std::size_t count, unsigned level) const {
        std::string name = std::filesystem::path(file).stem().string();
        if (count > 1) name += "." + std::to_string(index + 1);
        if (level > 0) name += ".mip" + std::to_string(level);
        name += request.bmp ? ".bmp" : ".png";
        return (std::filesystem::path(request.folder) / name).string();
    }

    void write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        // Pictures written are made again by running the command again; only a
        // file they replace is worth a flush to the disk.
        const std::error_code ec = bytes.empty() ? std::make_error_code(std::errc::io_error)
                                                 : writeFileAtomically(path, bytes, Flush::WhenReplacing);
        if (ec) {
            out.err += path + ": cannot write: " + ec.message() + '\n';
            out.failed = true;
        }
    }

    void writePngFile(const std::string& path, const Image& picture, PngChannels channels) {
        const auto png = writePng(picture, channels, request.pngLevel);
        if (png) return write(path, *png);
        out.err += path + ": cannot write: " + std::string(describe(png.error())) + '\n';
        out.failed = true;
    }

    void writePicture(const std::string& path, const Image& picture, PngChannels channels) {
        if (request.bmp) return write(path, encodeBmp(picture));
        writePngFile(path, picture, channels);
    }

    void run() {
        auto mapped = mapWholeFile(file);
        if (!mapped) return fail("cannot read: " + mapped.error().message());
        const std::span<const std::uint8_t> data = mapped->bytes();
        auto info = parseTpl(data);
        if (!info) return fail(std::string(describe(info.error())));
        const std::size_t count = info->images.size();
        for (std::size_t k = 0; k < count; ++k) {
            const TplImage& image = info->images[k];
            const std::string texture = "texture " + std::to_string(k + 1) + ": ";
            if (request.window) {
                auto decoded = window_rules::decodeTexture(data, image);
                if (!decoded) {
                    fail(texture + "format " + std::string(formatName(image.format)) + " (" +
                         std::to_string(image.format) + ") is not read by the window; skipped");
                    continue;
                }
                const std::string path = outputPath(k, count, 0);
                if (request.bmp) write(path, window_rules::encodeBmp24(decoded->raster));
                else writePngFile(path, window_rules::opaqueImage(decoded->raster), PngChannels::Rgb);
                continue;
            }
            auto view = textureView(data, image);
            if (!view) {
                fail(texture + std::string(describe(view.error())) + "; skipped");
                continue;
            }
            const unsigned levels = request.mipmaps ? static_cast<unsigned>(view->levels.size()) : 1;
            for (unsigned level = 0; level < levels; ++level)
                writePicture(outputPath(k, count, level), decodeLevel(*view, level), channelsOf(view->format));
        }
    }
};

}  // namespace

int runDecode(const DecodeRequest& request) {
    std::error_code ec;
    std::filesystem::create_directories(request.folder, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.folder.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    const auto earlier = sameNameAsEarlier(request.files);
    const bool failed = runJobs(request.files.size(), request.run.jobs, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        if (earlier[i] != kNoEarlier) return sameNameRefused(request.files[i], request.files[earlier[i]], out);
        FileDecoder{request, request.files[i], out}.run();
    });
    return failed ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
