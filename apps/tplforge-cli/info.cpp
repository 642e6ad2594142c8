#include <bit>
#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "cli.h"
#include "files.h"
#include "jobs.h"

namespace tplforge::cli {

namespace {

using Json = nlohmann::ordered_json;

// GX sampler values, named for people; the JSON keeps the numbers.
std::string wrapNameOf(WrapMode mode) { return std::string(wrapModeName(mode)); }
std::string filterNameOf(TextureFilter filter) { return std::string(filterName(filter)); }
std::uint32_t code(WrapMode mode) { return static_cast<std::uint32_t>(mode); }
std::uint32_t code(TextureFilter filter) { return static_cast<std::uint32_t>(filter); }

std::string named(const std::string& name, std::uint32_t value) { return name + " (" + std::to_string(value) + ")"; }

float lodBias(const TplImageHeader& image) { return image.sampler.lodBias; }

// The shortest text that reads back as the same float.
std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// What a texture's palette and levels are, or why they cannot be read.
struct Extra {
    std::optional<TextureView> view;
    std::string problem;
};

Extra extraOf(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    auto view = textureView(file, image);
    if (!view) return {std::nullopt, std::string(describe(view.error()))};
    return {std::move(view).value(), {}};
}

std::string text(const std::string& file, std::span<const std::uint8_t> bytes, const TplHeaders& info) {
    std::string out = "file: " + file + "\nsize: " + std::to_string(info.fileSize) +
                      " bytes\ntextures: " + std::to_string(info.images.size()) + '\n';
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        const TplImageHeader& t = info.images[k];
        const Extra extra = extraOf(bytes, t);
        out += "\ntexture " + std::to_string(k + 1) + '\n';
        out += "  size:           " + std::to_string(t.width) + " x " + std::to_string(t.height) + '\n';
        out += "  format:         " + named(std::string(formatName(t.format)), t.format) + '\n';
        out += "  data offset:    " + std::to_string(t.dataOffset) + '\n';
        out += "  levels:         " + std::to_string(levelsHeld(t)) + '\n';
        if (t.paletteHeaderOffset != 0 || (extra.view && extra.view->palette)) {
            out += "  palette header: " + std::to_string(t.paletteHeaderOffset) + '\n';
            if (extra.view && extra.view->palette) {
                const PaletteView& p = *extra.view->palette;
                out += "  palette:        " +
                       named(std::string(paletteFormatName(static_cast<std::uint32_t>(p.format))),
                             static_cast<std::uint32_t>(p.format)) +
                       ", " + std::to_string(p.entryCount) + " entries\n";
            }
        }
        const Sampler& s = t.sampler;
        out += "  wrap s / t:     " + named(wrapNameOf(s.wrapS), code(s.wrapS)) + " / " +
               named(wrapNameOf(s.wrapT), code(s.wrapT)) + '\n';
        out += "  min / mag:      " + named(filterNameOf(s.minFilter), code(s.minFilter)) + " / " +
               named(filterNameOf(s.magFilter), code(s.magFilter)) + '\n';
        out += "  lod bias:       " + floatText(lodBias(t)) + '\n';
        out += "  edge lod:       " + std::to_string(s.edgeLod) + '\n';
        out += "  min / max lod:  " + std::to_string(s.minLod) + " / " + std::to_string(t.maxLod) + '\n';
        if (!extra.problem.empty()) out += "  problem:        " + extra.problem + '\n';
    }
    return out;
}

Json json(const std::string& file, std::span<const std::uint8_t> bytes, const TplHeaders& info) {
    Json textures = Json::array();
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        const TplImageHeader& t = info.images[k];
        const Extra extra = extraOf(bytes, t);
        Json j;
        j["index"] = k + 1;
        j["width"] = t.width;
        j["height"] = t.height;
        j["format"] = formatName(t.format);
        j["code"] = t.format;
        j["offset"] = t.dataOffset;
        j["levels"] = levelsHeld(t);
        j["palette"] = t.paletteHeaderOffset;
        if (extra.view && extra.view->palette) {
            const PaletteView& p = *extra.view->palette;
            j["palette_format"] = paletteFormatName(static_cast<std::uint32_t>(p.format));
            j["palette_code"] = static_cast<std::uint32_t>(p.format);
            j["palette_entries"] = p.entryCount;
        }
        j["wrap_s"] = code(t.sampler.wrapS);
        j["wrap_t"] = code(t.sampler.wrapT);
        j["min_filter"] = code(t.sampler.minFilter);
        j["mag_filter"] = code(t.sampler.magFilter);
        const float bias = lodBias(t);
        j["lod_bias"] = std::isfinite(bias) ? Json(bias) : Json(nullptr);
        j["edge_lod"] = t.sampler.edgeLod;
        j["min_lod"] = t.sampler.minLod;
        j["max_lod"] = t.maxLod;
        if (!extra.problem.empty()) j["problem"] = extra.problem;
        textures.push_back(std::move(j));
    }
    Json j;
    j["file"] = file;
    j["size"] = info.fileSize;
    j["textures"] = std::move(textures);
    return j;
}

std::string dump(const Json& j) {
    // File names are bytes: ones that are not UTF-8 are shown with U+FFFD rather than refused.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

int runInfo(const InfoRequest& request) {
    const std::size_t n = request.files.size();
    const bool array = request.json && n > 1;
    if (array) std::fputs("[", stdout);
    const unsigned threads = request.run.jobs;
    const bool failed = runJobs(n, threads, false, [&](std::size_t i, JobOutput& out) {
        const std::string& file = request.files[i];
        const std::string separator = array && i > 0 ? ",\n" : "";
        // In a JSON array every file keeps its place, a failed one as its error.
        auto refuse = [&](const std::string& reason) {
            out.err = file + ": " + reason + '\n';
            out.failed = true;
            if (array) out.out = separator + dump(Json{{"file", file}, {"error", reason}});
        };
        auto input = openInput(file);
        if (!input) return refuse(input.error());
        const std::span<const std::uint8_t> bytes = input->bytes();
        auto info = parseTpl(bytes);
        if (!info) return refuse(std::string(describe(info.error())));
        if (request.json)
            out.out = separator + dump(json(file, bytes, *info)) + (array ? "" : "\n");
        else
            out.out = (i > 0 ? "\n" : "") + text(file, bytes, *info);
    });
    if (array) std::fputs("]\n", stdout);
    std::fflush(stdout);
    return failed || std::ferror(stdout) ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
