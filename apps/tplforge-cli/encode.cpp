#include <bit>
#include <cctype>
#include <filesystem>
#include <optional>

#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "picture_input.h"
#include "tplforge/containers.h"
#include "tplforge/file_io.h"
#include "tplforge/tpl_edit.h"
#include "window_rules/window_rules.h"

namespace tplforge::cli {

namespace {

// Errors of either set of rules, as the one line the user reads.
template <class E>
Expected<std::vector<std::uint8_t>, std::string> described(Expected<std::vector<std::uint8_t>, E> result) {
    if (!result) return fail(std::string(describe(result.error())));
    return std::move(result).value();
}

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// Sampler filters: plain "near" and "linear" also pick between levels when the
// texture has them.
TextureFilter minFilterFor(const PictureSettings& s, unsigned levels) {
    return mipmapFilter(s.minFilter.value_or(TextureFilter::Linear), levels);
}

TextureInput textureFor(const PictureSettings& s, const Image& picture, unsigned threads, JobOutput& out) {
    TextureInput t;
    t.picture = &picture;
    t.options = s.encode;
    t.options.threads = threads;
    const unsigned most = levelsPossible(s.encode.format, picture.width, picture.height);
    t.levels = s.mipmapsAuto ? most : std::min(1 + s.mipmaps, most);
    t.sampler.wrapS = s.wrapS;
    t.sampler.wrapT = s.wrapT;
    t.sampler.minFilter = minFilterFor(s, t.levels);
    t.sampler.magFilter = s.magFilter.value_or(TextureFilter::Linear);
    if (picture.width > kConsoleMaxSide || picture.height > kConsoleMaxSide)
        out.err += s.path + ": warning: " + sizeText(picture.width, picture.height) +
                   " is larger than the console's texture limit of 1024 x 1024\n";
    if (t.levels > 1 && (!std::has_single_bit(picture.width) || !std::has_single_bit(picture.height)))
        out.err += s.path + ": warning: the console samples mipmaps only of textures whose sides are powers of two\n";
    return t;
}

// The window keys by colour after drawing over the surface, so no key here
// under --window; pictures that need the reader process come drawn over the
// surface by it, exactly as the window gets them.
bool load(const PictureSettings& s, Image& picture, JobOutput& out, bool window = false) {
    auto read = readInputPicture(s.path, window ? Backdrop::over(rrggbbOf(kSurfaceColour)) : Backdrop::keepAlpha());
    if (!read) {
        out.err += s.path + ": " + read.error() + '\n';
        out.failed = true;
        return false;
    }
    picture = std::move(read).value();
    if (!window && s.keyColour) applyKeyColour(picture, *s.keyColour);
    return true;
}

bool save(const std::string& path, std::span<const std::uint8_t> bytes, JobOutput& out) {
    if (const auto written = writeOutput(path, bytes); !written) {
        out.err += path + ": " + written.error() + '\n';
        out.failed = true;
        return false;
    }
    return true;
}

bool fitsWindow(const std::string& path, const WindowRaster& raster, JobOutput& out) {
    const auto w = static_cast<std::uint32_t>(raster.width), h = static_cast<std::uint32_t>(raster.height);
    if (w % 4 != 0 || h % 4 != 0) {
        out.err += path + ": size " + sizeText(w, h) + " is not a multiple of 4 in both directions\n";
    } else if (w > kMaxSide || h > kMaxSide) {
        out.err += path + ": size " + sizeText(w, h) + " is larger than 32767 pixels on a side\n";
    } else {
        return true;
    }
    out.failed = true;
    return false;
}

// The window's own encoding of every picture into one file.
int encodeAsWindow(const EncodeRequest& request) {
    const std::size_t n = request.pictures.size();
    std::vector<WindowRaster> rasters(n);
    const bool failed = runJobs(n, request.run.jobs, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        Image picture;
        if (!load(request.pictures[i], picture, out, true)) return;
        rasters[i] = window_rules::overSurface(picture);
        fitsWindow(request.pictures[i].path, rasters[i], out);
    });
    if (failed) {
        std::fprintf(stderr, "%s: not written\n", request.output.c_str());
        return kInputFailed;
    }
    std::vector<window_rules::Texture> textures;
    for (std::size_t i = 0; i < n; ++i) {
        const PictureSettings& s = request.pictures[i];
        textures.push_back({&rasters[i], s.encode.format == Format::RGB5A3, s.keyColour.value_or(kWhite)});
    }
    auto file = window_rules::buildTpl(textures);
    JobOutput out;
    if (!file) {
        std::fprintf(stderr, "%s: %s; not written\n", request.output.c_str(), std::string(describe(file.error())).c_str());
        return kInputFailed;
    }
    if (!save(request.output, *file, out)) std::fputs(out.err.c_str(), stderr);
    return out.failed ? kInputFailed : kSuccess;
}


// A lone picture of a format without a palette is encoded a row of blocks at a
// time on the other cores while it is still being read (a PNG reports its rows
// as they arrive); for CMPR, whose encoding costs most, the run then costs
// little more than the reading. The bytes are those encodeTpl writes.
int encodeWhileReading(const PictureSettings& settings, unsigned threads, const std::string& output) {
    JobOutput out;
    TextureInput texture;
    std::optional<TplWriter> writer;
    std::optional<BlockRowEncoder> encoder;
    std::optional<TplWriteError> planError;
    auto read = readInputPicture(settings.path, Backdrop::keepAlpha(), [&](const Image& picture, std::uint32_t rows) {
        if (rows == 0) {  // the picture broke off and is about to go
            if (encoder) encoder->abandon();
            return;
        }
        if (!writer && !planError) {
            texture = textureFor(settings, picture, threads, out);
            auto planned = planTpl(std::span(&texture, 1));
            if (!planned) {
                planError = planned.error();
                return;
            }
            writer.emplace(std::move(planned).value());
            auto started = BlockRowEncoder::start(texture.options, picture.width, picture.height, *writer->level(0, 0));
            if (started) encoder.emplace(std::move(started).value());
        }
        if (encoder) encoder->rowsArrived(picture, rows);
    });
    std::fputs(out.err.c_str(), stderr);
    if (!read) {
        encoder.reset();
        std::fprintf(stderr, "%s: %s\n%s: not written\n", settings.path.c_str(), read.error().c_str(), output.c_str());
        return kInputFailed;
    }
    const Image picture = std::move(read).value();
    if (!writer && !planError) {  // not a PNG: it came whole
        texture = textureFor(settings, picture, threads, out);
        std::fputs(out.err.c_str(), stderr);
        auto planned = planTpl(std::span(&texture, 1));
        if (planned) writer.emplace(std::move(planned).value());
        else planError = planned.error();
    }
    if (planError) {
        std::fprintf(stderr, "%s: %s; not written\n", output.c_str(), std::string(describe(*planError)).c_str());
        return kInputFailed;
    }
    texture.picture = &picture;
    // Level 0 was encoded as the rows came, when they came; the rest from the picture.
    unsigned firstLevel = 0;
    if (encoder) {
        encoder->rowsArrived(picture, picture.height);
        firstLevel = encoder->finish() ? 1 : 0;
    }
    if (const auto encoded = encodeTexture(*writer, 0, texture, firstLevel); !encoded) {
        std::fprintf(stderr, "%s: %s; not written\n", output.c_str(), std::string(describe(encoded.error())).c_str());
        return kInputFailed;
    }
    const auto file = std::move(*writer).finish();
    JobOutput saved;
    if (!save(output, file, saved)) std::fputs(saved.err.c_str(), stderr);
    return saved.failed ? kInputFailed : kSuccess;
}

int encodeOneFile(const EncodeRequest& request) {
    const std::size_t n = request.pictures.size();
    const unsigned threads = request.run.jobs;
    const PictureSettings& first = request.pictures.front();
    if (n == 1 && threads > 1 && first.encode.format == Format::CMPR && !first.keyColour)
        return encodeWhileReading(first, threads, request.output);
    std::vector<Image> pictures(n);
    std::vector<TextureInput> textures(n);
    const bool failed = runJobs(n, threads, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        if (load(request.pictures[i], pictures[i], out))
            textures[i] = textureFor(request.pictures[i], pictures[i], threads, out);
    });
    if (failed) {
        std::fprintf(stderr, "%s: not written\n", request.output.c_str());
        return kInputFailed;
    }
    auto file = encodeTpl(textures);
    if (!file) {
        std::fprintf(stderr, "%s: %s; not written\n", request.output.c_str(), std::string(describe(file.error())).c_str());
        return kInputFailed;
    }
    JobOutput out;
    if (!save(request.output, *file, out)) std::fputs(out.err.c_str(), stderr);
    return out.failed ? kInputFailed : kSuccess;
}

// A standalone BTI (sampler from the options) or TEX0, and for a palette
// format the PLT0 beside the TEX0 as <stem>.plt0; the TEX0 is named after the stem.
int encodeOtherKind(const EncodeRequest& request, OutputKind kind) {
    const PictureSettings& s = request.pictures.front();
    JobOutput out;
    Image picture;
    const auto give = [&] {
        std::fputs(out.err.c_str(), stderr);
        return out.failed ? kInputFailed : kSuccess;
    };
    if (!load(s, picture, out)) {
        out.err += request.output + ": not written\n";
        return give();
    }
    const TextureInput texture = textureFor(s, picture, request.run.jobs, out);
    EditSettings settings;
    settings.encode = texture.options;
    settings.levels = texture.levels;
    const Image* levels[] = {&picture};
    auto edited = encodeEdited(levels, settings);
    const auto refuse = [&](const std::string& why) {
        out.err += request.output + ": " + why + "; not written\n";
        out.failed = true;
        return give();
    };
    if (!edited) return refuse(std::string(describe(edited.error())));
    if (kind == OutputKind::Bti) {
        const auto bti = writeBti(edited->data, BtiSettings{texture.sampler, std::nullopt});
        if (!bti) return refuse(describe(bti.error()));
        save(request.output, *bti, out);
        return give();
    }
    const std::string stem = std::filesystem::path(request.output).stem().string();
    const auto pair = writeTex0(edited->data, stem);
    if (!pair) return refuse(describe(pair.error()));
    if (!pair->plt0.empty() && !save(palettePathBeside(request.output), pair->plt0, out)) return give();
    save(request.output, pair->tex0, out);
    return give();
}

// One file a picture, each on its own: a bad picture is reported and the others
// are still written.
int encodeEach(const EncodeRequest& request) {
    std::error_code ec;
    std::filesystem::create_directories(request.eachFolder, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.eachFolder.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    const std::size_t n = request.pictures.size();
    const unsigned threads = request.run.jobs;
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(threads, n));
    const unsigned perPicture = std::max(1u, threads / std::max(1u, workers));
    std::vector<std::string> paths;
    for (const PictureSettings& s : request.pictures) paths.push_back(s.path);
    const auto earlier = sameNameAsEarlier(paths);
    const bool failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        const PictureSettings& s = request.pictures[i];
        if (earlier[i] != kNoEarlier) return sameNameRefused(s.path, paths[earlier[i]], out);
        const std::string target =
            (std::filesystem::path(request.eachFolder) / std::filesystem::path(s.path).stem()).string() + ".tpl";
        Image picture;
        if (!load(s, picture, out, request.window)) return;
        Expected<std::vector<std::uint8_t>, std::string> file = fail(std::string());
        if (request.window) {
            const WindowRaster raster = window_rules::overSurface(picture);
            if (!fitsWindow(s.path, raster, out)) return;
            const window_rules::Texture texture{&raster, s.encode.format == Format::RGB5A3, s.keyColour.value_or(kWhite)};
            file = described(window_rules::buildTpl(std::span(&texture, 1)));
        } else {
            const TextureInput texture = textureFor(s, picture, perPicture, out);
            file = described(encodeTpl(std::span(&texture, 1)));
        }
        if (!file) {
            out.err += s.path + ": " + file.error() + '\n';
            out.failed = true;
            return;
        }
        save(target, *file, out);
    });
    return failed ? kInputFailed : kSuccess;
}

}  // namespace

OutputKind outputKindOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".bti" ? OutputKind::Bti : extension == ".tex0" ? OutputKind::Tex0 : OutputKind::Tpl;
}

int runEncode(const EncodeRequest& request) {
    if (request.each) return encodeEach(request);
    if (const OutputKind kind = outputKindOf(request.output); kind != OutputKind::Tpl) return encodeOtherKind(request, kind);
    return request.window ? encodeAsWindow(request) : encodeOneFile(request);
}

}  // namespace tplforge::cli
