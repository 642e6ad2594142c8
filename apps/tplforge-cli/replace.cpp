// replace: pictures put in place of some textures of a TPL file, each with the
// settings that texture has unless the command line changes them; every other
// texture keeps its bytes.
#include <bit>
#include <set>

#include "cli.h"
#include "files.h"
#include "picture_input.h"
#include "tplforge/tpl_edit.h"

namespace tplforge::cli {

namespace {

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

struct Job {
    Image picture;
    TextureData data;
    TextureSettings settings;
};

// The texture's own settings with what was typed for it.
EditSettings editSettings(const TextureData& stored, const SettingChanges& c, const Image& picture, unsigned threads) {
    EditSettings s;
    EncodeOptions& e = s.encode;
    e.format = c.format.value_or(stored.format);
    e.paletteFormat = c.paletteFormat.value_or(stored.paletteFormat);
    const bool samePalette = e.format == stored.format && e.paletteFormat == stored.paletteFormat;
    e.paletteEntries = c.paletteEntries.value_or(samePalette ? static_cast<std::uint32_t>(stored.palette.size()) : 0);
    e.quality = c.quality.value_or(Quality::Normal);
    e.dither = c.dither.value_or(false);
    e.threads = threads;
    const unsigned most = levelsPossible(e.format, picture.width, picture.height);
    if (c.mipmapsAuto) s.levels = most;
    else if (c.mipmaps) s.levels = std::min(1 + *c.mipmaps, most);
    else s.levels = std::min({stored.levels, kMaxLevels, levelsToOne(picture.width, picture.height)});
    if (isPaletteFormat(e.format) && samePalette && !c.paletteEntries) s.keepPalette = stored.palette;
    return s;
}

TextureSettings headerSettings(const TextureSettings& own, const SettingChanges& c, unsigned levels,
                               unsigned storedLevels) {
    TextureSettings s = own;
    if (levels != storedLevels) s.maxLod.reset();
    Sampler& sampler = s.sampler;
    sampler.wrapS = c.wrapS.value_or(sampler.wrapS);
    sampler.wrapT = c.wrapT.value_or(sampler.wrapT);
    // As encode does: plain near and linear also filter between levels, typed
    // or kept from a texture that had none.
    if (c.minFilter || (levels > 1 && storedLevels == 1)) {
        TextureFilter f = c.minFilter.value_or(sampler.minFilter);
        if (levels > 1 && f == TextureFilter::Near) f = TextureFilter::NearMipNear;
        if (levels > 1 && f == TextureFilter::Linear) f = TextureFilter::LinMipLin;
        sampler.minFilter = f;
    }
    sampler.magFilter = c.magFilter.value_or(sampler.magFilter);
    return s;
}

}  // namespace

int runReplace(const ReplaceRequest& request) {
    const std::string& file = request.file;
    const std::string target = request.output.empty() ? file : request.output;
    const auto refuse = [&](const std::string& where, const std::string& why) {
        std::fprintf(stderr, "%s: %s; nothing written\n", where.c_str(), why.c_str());
        return kInputFailed;
    };
    auto input = openInput(file);
    if (!input) return refuse(file, input.error());
    const auto bytes = input->bytes();
    const auto headers = parseTpl(bytes);
    if (!headers) return refuse(file, std::string(describe(headers.error())));
    const std::size_t n = headers->images.size();

    std::set<std::size_t> seen;
    for (const Replacement& r : request.replacements) {
        if (r.texture < 1 || r.texture > n)
            return refuse(file, "texture " + std::to_string(r.texture) + ": the file has " + std::to_string(n) +
                                    (n == 1 ? " texture" : " textures"));
        if (!seen.insert(r.texture).second) return refuse(file, "texture " + std::to_string(r.texture) + " is named twice");
    }

    std::vector<Job> jobs(request.replacements.size());
    std::vector<TextureReplacement> replacements;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Replacement& r = request.replacements[i];
        const std::size_t k = r.texture - 1;
        const TplImageHeader& image = headers->images[k];
        const std::string where = file + ": texture " + std::to_string(r.texture);
        auto stored = storedTexture(bytes, image);
        if (!stored) return refuse(where, std::string(describe(stored.error())));
        auto picture = readInputPicture(r.picture, Backdrop::keepAlpha());
        if (!picture) return refuse(r.picture, picture.error());
        Job& job = jobs[i];
        job.picture = std::move(picture).value();
        if (r.changes.keyColour) applyKeyColour(job.picture, *r.changes.keyColour);
        if (job.picture.width != image.width || job.picture.height != image.height)
            std::fprintf(stderr, "%s: note: %s where texture %zu was %s; the file is laid out afresh\n",
                         r.picture.c_str(), sizeText(job.picture.width, job.picture.height).c_str(), r.texture,
                         sizeText(image.width, image.height).c_str());
        const EditSettings settings = editSettings(*stored, r.changes, job.picture, request.run.jobs);
        const Image* levels[] = {&job.picture};
        auto edited = encodeEdited(levels, settings);
        if (!edited) return refuse(r.picture, std::string(describe(edited.error())));
        if (edited->palette == PaletteOutcome::Merged) {
            const std::string what = "more colours than " + std::to_string(paletteEntryLimit(settings.encode)) +
                                     " palette entries hold";
            if (request.strict) return refuse(r.picture, what + " (--strict)");
            std::fprintf(stderr, "%s: note: %s; the nearest were merged\n", r.picture.c_str(), what.c_str());
        }
        job.data = std::move(edited->data);
        job.settings = headerSettings(settingsOf(image, bytes), r.changes, settings.levels, stored->levels);
        replacements.push_back({k, &job.data, job.settings});
    }
    const auto rebuilt = rebuildTpl(bytes, replacements);
    if (!rebuilt) return refuse(file, std::string(describe(rebuilt.error())));
    if (const auto written = writeOutput(target, rebuilt->bytes); !written)
        return refuse(target, written.error());
    return kSuccess;
}

}  // namespace tplforge::cli
