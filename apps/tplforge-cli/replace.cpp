// replace: pictures put in place of some textures of a TPL file or of any other
// container, also inside archives, each with the settings that texture has
// unless the command line changes them; every other texture, member and layer
// keeps its bytes.
#include <bit>
#include <algorithm>
#include <optional>
#include <filesystem>
#include <set>

#include "cli.h"
#include "files.h"
#include "picture_input.h"
#include "tplforge/containers.h"
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

// A picture that shows what the texture shows already, with nothing typed to
// change, leaves the texture as it was: encoding it again would remake
// hand-made mipmaps and lossy texels nobody edited.
bool showsTheSame(const TextureView& view, const Image& picture, const SettingChanges& c) {
    if (c.format || c.paletteFormat || c.paletteEntries || c.mipmaps || c.mipmapsAuto || c.wrapS || c.wrapT ||
        c.minFilter || c.magFilter || c.quality || c.dither)
        return false;
    if (picture.width != view.width || picture.height != view.height) return false;
    auto now = decodeLevel(view, 0);
    if (!now) return false;
    keepHeldChannels(*now, view.format);
    return now->rgba == picture.rgba;
}

void noteKept(const std::string& picture, const std::string& texture) {
    std::fprintf(stderr, "%s: note: shows what texture %s holds already; it is kept as it is\n", picture.c_str(),
                 shown(texture).c_str());
}

// One line for stderr: "where: why; nothing written".
struct Refusal {
    std::string where, why;
};

using Bytes = std::vector<std::uint8_t>;

// The picture encoded with the settings; a palette that had to merge colours
// is a note, or a refusal with --strict.
Expected<TextureData, Refusal> encodePicture(const Image& picture, const EditSettings& settings, const std::string& name,
                                             bool strict) {
    const Image* levels[] = {&picture};
    auto edited = encodeEdited(levels, settings);
    if (!edited) return fail(Refusal{name, std::string(describe(edited.error()))});
    if (edited->palette == PaletteOutcome::Merged) {
        const std::string what =
            "more colours than " + std::to_string(paletteEntryLimit(settings.encode)) + " palette entries hold";
        if (strict) return fail(Refusal{name, what + " (--strict)"});
        std::fprintf(stderr, "%s: note: %s; the nearest were merged\n", name.c_str(), what.c_str());
    }
    return std::move(edited->data);
}

// The TPL with the replacements put in (textures numbered from 1).
Expected<Bytes, Refusal> replaceInTpl(std::span<const std::uint8_t> bytes, const std::string& file,
                                      const std::vector<Replacement>& replacementsTyped, const ReplaceRequest& request) {
    const auto refuse = [](const std::string& where, const std::string& why) { return fail(Refusal{where, why}); };
    const auto headers = parseTpl(bytes);
    if (!headers) return refuse(file, std::string(describe(headers.error())));
    const std::size_t n = headers->images.size();

    std::set<std::size_t> seen;
    for (const Replacement& r : replacementsTyped) {
        if (r.texture < 1 || r.texture > n)
            return refuse(file, "texture " + std::to_string(r.texture) + ": the file has " + std::to_string(n) +
                                    (n == 1 ? " texture" : " textures"));
        if (!seen.insert(r.texture).second) return refuse(file, "texture " + std::to_string(r.texture) + " is named twice");
    }

    std::vector<Job> jobs(replacementsTyped.size());
    std::vector<TextureReplacement> replacements;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Replacement& r = replacementsTyped[i];
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
        if (const auto view = textureView(bytes, image); view && showsTheSame(*view, job.picture, r.changes)) {
            noteKept(r.picture, std::to_string(r.texture));
            continue;
        }
        if (job.picture.width != image.width || job.picture.height != image.height)
            std::fprintf(stderr, "%s: note: %s where texture %zu was %s; the file is laid out afresh\n",
                         r.picture.c_str(), sizeText(job.picture.width, job.picture.height).c_str(), r.texture,
                         sizeText(image.width, image.height).c_str());
        const EditSettings settings = editSettings(*stored, r.changes, job.picture, request.run.jobs);
        auto edited = encodePicture(job.picture, settings, r.picture, request.strict);
        if (!edited) return fail(edited.error());
        job.data = std::move(edited).value();
        job.settings = headerSettings(settingsOf(image, bytes), r.changes, settings.levels, stored->levels);
        replacements.push_back({k, &job.data, job.settings});
    }
    auto rebuilt = rebuildTpl(bytes, replacements);
    if (!rebuilt) return refuse(file, std::string(describe(rebuilt.error())));
    return std::move(rebuilt->bytes);
}

// Any other container: each texture encoded with its own format, levels and
// palette, unless typed otherwise, and put in by the container's own rules.
// `palettes` gets the PLT0 a standalone TEX0 of a palette format needs beside it.
Expected<Bytes, Refusal> replaceInContainer(const Member& m, std::span<const std::uint8_t> palette, const std::string& file,
                                            const std::vector<Replacement>& typed, const ReplaceRequest& request,
                                            Bytes& plt0) {
    const auto refuse = [](const std::string& where, const std::string& why) { return fail(Refusal{where, why}); };
    auto entries = readTextures(m.bytes, m.kind, palette);
    if (!entries) return refuse(file, describe(entries.error()));
    const std::size_t n = entries->size();
    Bytes current(m.bytes.begin(), m.bytes.end());
    std::set<std::size_t> seen;
    for (const Replacement& r : typed) {
        if (r.texture < 1 || r.texture > n)
            return refuse(file, "texture " + std::to_string(r.texture) + ": the file has " + std::to_string(n) +
                                    (n == 1 ? " texture" : " textures"));
        if (!seen.insert(r.texture).second) return refuse(file, "texture " + std::to_string(r.texture) + " is named twice");
        const SettingChanges& c = r.changes;
        if (c.wrapS || c.wrapT || c.minFilter || c.magFilter)
            return refuse(file, "--wrap and --filter change the sampler of TPL textures only; " +
                                    std::string(kindName(m.kind)) + " textures keep theirs");
    }
    for (const Replacement& r : typed) {
        const TextureEntry& entry = (*entries)[r.texture - 1];
        const std::string where = file + ": texture " + entry.name;
        const TextureData stored = storedData(entry.view);
        auto picture = readInputPicture(r.picture, Backdrop::keepAlpha());
        if (!picture) return refuse(r.picture, picture.error());
        if (r.changes.keyColour) applyKeyColour(*picture, *r.changes.keyColour);
        if (showsTheSame(entry.view, *picture, r.changes)) {
            noteKept(r.picture, entry.name);
            continue;
        }
        const EditSettings settings = editSettings(stored, r.changes, *picture, request.run.jobs);
        auto edited = encodePicture(*picture, settings, r.picture, request.strict);
        if (!edited) return fail(edited.error());
        auto replaced = replaceTexture(current, m.kind, entry.name, *edited);
        if (!replaced) return refuse(file, describe(replaced.error()));  // which names the texture
        current = std::move(replaced).value();
        // Model headers that share one image all show the new one.
        for (const TextureEntry& other : *entries)
            if (&other != &entry && !other.view.levels.empty() && !entry.view.levels.empty() &&
                other.view.levels[0].data() == entry.view.levels[0].data())
                std::fprintf(stderr, "%s: note: texture %s shares its image, and shows the new one too\n",
                             shown(where).c_str(), shown(other.name).c_str());
        if (m.kind == FileKind::Tex0 && isPaletteFormat(edited->format)) {
            auto pair = writeTex0(*edited, entry.name);
            if (!pair) return refuse(where, describe(pair.error()));
            plt0 = std::move(pair->plt0);
        }
    }
    return current;
}

// The names of a file's textures in order ("1", "2", … where they are
// numbered), or nothing when it does not read.
std::optional<std::vector<std::string>> textureNames(const Member& m, bool tpl, std::span<const std::uint8_t> palette) {
    std::vector<std::string> names;
    if (tpl) {
        const auto headers = parseTpl(m.bytes);
        if (!headers) return std::nullopt;
        for (std::size_t k = 1; k <= headers->images.size(); ++k) names.push_back(std::to_string(k));
    } else {
        const auto entries = readTextures(m.bytes, m.kind, palette);
        if (!entries) return std::nullopt;
        for (const TextureEntry& e : *entries) names.push_back(e.name);
    }
    return names;
}

}  // namespace

int runReplace(const ReplaceRequest& request) {
    const std::string& file = request.file;
    const auto refuse = [&](const std::string& where, const std::string& why) {
        std::fprintf(stderr, "%s: %s; nothing written\n", shown(where).c_str(), shown(why).c_str());
        return kInputFailed;
    };
    auto source = openSource(file);
    if (!source) return refuse(file, source.error());
    const Member& m = source->located.member;
    const std::string& rest = source->located.rest;
    const bool tpl = m.kind == FileKind::Tpl || (m.kind == FileKind::Unknown && m.path.empty() && rest.empty());
    if (!tpl && !holdsTextures(m.kind))
        return refuse(file, "holds no textures (" + std::string(kindName(m.kind)) + "); name a member that does");

    // K left out: the texture the path names, or the only one. A file that does
    // not read is left to the replacement, which says why.
    std::vector<Replacement> replacements = request.replacements;
    if (replacements.size() == 1 && replacements[0].texture == 0) {
        std::size_t k = 1;
        if (const auto names = textureNames(m, tpl, source->paletteBytes())) {
            const auto named = std::find(names->begin(), names->end(), rest);
            if (!rest.empty() && named == names->end()) return refuse(file, "no texture named " + rest);
            if (rest.empty() && names->size() != 1)
                return refuse(file, "holds several textures; give the number K of the one to replace");
            k = rest.empty() ? 1 : static_cast<std::size_t>(named - names->begin()) + 1;
        }
        replacements[0].texture = k;
    } else if (!rest.empty()) {
        return refuse(file, "names one texture already; give no K");
    }

    Bytes plt0;
    auto replaced = tpl ? replaceInTpl(m.bytes, file, replacements, request)
                        : replaceInContainer(m, source->paletteBytes(), file, replacements, request, plt0);
    if (!replaced) return refuse(replaced.error().where, replaced.error().why);

    const std::span<const std::uint8_t> outer = source->file.bytes();
    Bytes written;
    if (m.path.empty() && m.bytes.data() == outer.data() && m.bytes.size() == outer.size()) {
        written = std::move(replaced).value();
    } else {
        auto rebuilt = replaceMember(outer, std::filesystem::path(source->outer).filename().string(), m.path, *replaced);
        if (!rebuilt) return refuse(file, describe(rebuilt.error()));
        written = std::move(rebuilt).value();
    }
    const std::string target = request.output.empty() ? source->outer : request.output;
    if (!plt0.empty()) {
        const std::string palettePath = palettePathFor(target);
        const auto besideNow = source->paletteBytes();
        if (!request.output.empty() || !std::equal(plt0.begin(), plt0.end(), besideNow.begin(), besideNow.end()))
            if (const auto saved = writeOutput(palettePath, plt0); !saved) return refuse(palettePath, saved.error());
    }
    if (const auto saved = writeOutput(target, written); !saved) return refuse(target, saved.error());
    return kSuccess;
}

}  // namespace tplforge::cli
