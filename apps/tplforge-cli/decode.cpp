#include <filesystem>

#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "manifest.h"
#include "tplforge/bmp.h"
#include "tplforge/png.h"
#include "tplforge/sha256.h"
#include "tplforge/tpl_edit.h"
#include "tplforge/window_rules.h"

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

// The pixels a picture file of the format keeps: a grey picture has no alpha of
// its own (the console samples the intensity as alpha too).
void keepHeldChannels(Image& picture, Format format) {
    if (channelsOf(format) != PngChannels::Grey) return;
    for (std::size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = 255;
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

    template <class E>
    void write(const std::string& path, const Expected<std::vector<std::uint8_t>, E>& bytes) {
        if (!bytes) {
            out.err += path + ": cannot write: " + std::string(describe(bytes.error())) + '\n';
            out.failed = true;
            return;
        }
        if (const auto written = writeOutput(path, *bytes); !written) {
            out.err += path + ": " + written.error() + '\n';
            out.failed = true;
        }
    }

    void writePicture(const std::string& path, const Image& picture, PngChannels channels) {
        if (request.bmp)
            write(path, encodeBmp(picture));
        else
            write(path, writePng(picture, channels, request.pngLevel));
    }

    // Every level of every texture as a PNG, and the manifest that build reads
    // back: written last, so that it names only pictures that are there.
    void runManifest(std::span<const std::uint8_t> data, const TplHeaders& info) {
        namespace fs = std::filesystem;
        const std::size_t count = info.images.size();
        std::vector<TextureView> views;
        for (std::size_t k = 0; k < count; ++k) {
            auto view = textureView(data, info.images[k]);
            if (!view)
                return fail("texture " + std::to_string(k + 1) + ": " + std::string(describe(view.error())) +
                            "; no manifest written");
            views.push_back(std::move(view).value());
        }
        Manifest manifest;
        const fs::path source(file);
        manifest.sourceFile = source.filename().string();
        std::error_code ec;
        const fs::path relative = fs::weakly_canonical(source, ec).lexically_relative(fs::weakly_canonical(request.folder, ec));
        manifest.sourcePath = relative.empty() ? fs::absolute(source, ec).string() : relative.string();
        manifest.sourceSize = data.size();
        manifest.sourceDigest = sha256(data);
        for (std::size_t k = 0; k < count; ++k) {
            const TplImageHeader& image = info.images[k];
            const TextureView& view = views[k];
            ManifestTexture t;
            t.width = image.width;
            t.height = image.height;
            t.format = view.format;
            if (view.palette) {
                t.paletteFormat = view.palette->format;
                t.paletteEntries = view.palette->entryCount;
                const TextureSettings kept = settingsOf(image, data);
                t.paletteUnpacked = kept.paletteUnpacked;
                t.palettePadding = kept.palettePadding;
                t.paletteHeaderOffset = image.paletteHeaderOffset;
                t.paletteDataOffset = static_cast<std::uint32_t>(view.palette->words.data() - data.data());
            }
            t.levels = static_cast<unsigned>(view.levels.size());
            t.maxLod = image.maxLod;
            t.unpacked = image.unpacked;
            t.sampler = image.sampler;
            t.headerOffset = image.headerOffset;
            t.dataOffset = image.dataOffset;
            for (unsigned level = 0; level < t.levels; ++level) {
                auto picture = decodeLevel(view, level);
                if (!picture) return fail("texture " + std::to_string(k + 1) + ": " + std::string(describe(picture.error())));
                keepHeldChannels(*picture, view.format);
                const std::string path = outputPath(k, count, level);
                const auto png = writePng(*picture, channelsOf(view.format), request.pngLevel);
                write(path, png);
                if (!png || out.failed) return;
                t.pictures.push_back(ManifestPicture{fs::path(path).filename().string(), pixelDigest(*picture), sha256(*png)});
            }
            manifest.textures.push_back(std::move(t));
        }
        const std::string text = writeManifest(manifest);
        const std::string path = (fs::path(request.folder) / fs::path(file).stem()).string() + ".json";
        if (const auto written = writeOutput(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            !written) {
            out.err += path + ": " + written.error() + '\n';
            out.failed = true;
        }
    }

    void run() {
        auto input = openInput(file);
        if (!input) return fail(input.error());
        const std::span<const std::uint8_t> data = input->bytes();
        auto info = parseTpl(data);
        if (!info) return fail(std::string(describe(info.error())));
        if (request.manifest) return runManifest(data, *info);
        const std::size_t count = info->images.size();
        for (std::size_t k = 0; k < count; ++k) {
            const TplImageHeader& image = info->images[k];
            const std::string texture = "texture " + std::to_string(k + 1) + ": ";
            if (request.window) {
                auto decoded = window_rules::decodeTexture(data, image);
                if (!decoded) {
                    fail(texture + "format " + std::string(formatName(image.format)) + " (" +
                         std::to_string(image.format) + ") is not read by the window; skipped");
                    continue;
                }
                const std::string path = outputPath(k, count, 0);
                if (request.bmp)
                    write(path, window_rules::encodeBmp24(decoded->raster));
                else
                    write(path, writePng(window_rules::opaqueImage(decoded->raster), PngChannels::Rgb, request.pngLevel));
                continue;
            }
            auto view = textureView(data, image);
            if (!view) {
                fail(texture + std::string(describe(view.error())) + "; skipped");
                continue;
            }
            const unsigned levels = request.mipmaps ? static_cast<unsigned>(view->levels.size()) : 1;
            for (unsigned level = 0; level < levels; ++level) {
                auto picture = decodeLevel(*view, level);
                if (!picture) {
                    fail(texture + std::string(describe(picture.error())) + "; skipped");
                    break;
                }
                writePicture(outputPath(k, count, level), *picture, channelsOf(view->format));
            }
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
