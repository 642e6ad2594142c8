// build: a manifest and its pictures back into its files. Version 1, a TPL: a
// texture whose pictures and settings are as decode wrote them keeps the
// source's bytes; an edited one is encoded with its settings; the source's
// layout stays when every texture keeps its size. Version 2: build_tree.cpp.
#include <filesystem>

#include "build.h"
#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "manifest.h"
#include "picture_input.h"
#include "tplforge/tpl_edit.h"

namespace tplforge::cli {

namespace {

namespace fs = std::filesystem;

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

}  // namespace

TextureSettings headerOf(const ManifestTexture& t) {
    TextureSettings s;
    s.sampler = t.sampler;
    TplImageHeader header;
    header.width = static_cast<std::uint16_t>(t.width);
    header.height = static_cast<std::uint16_t>(t.height);
    header.maxLod = t.maxLod;
    if (levelsHeld(header) == t.levels) s.maxLod = t.maxLod;
    s.unpacked = t.unpacked;
    s.paletteUnpacked = t.paletteUnpacked;
    s.palettePadding = t.palettePadding;
    return s;
}

namespace {

bool sameSettings(const TextureSettings& a, const TextureSettings& b) {
    return a.sampler == b.sampler && a.maxLod == b.maxLod && a.unpacked == b.unpacked &&
           a.paletteUnpacked == b.paletteUnpacked && a.palettePadding == b.palettePadding;
}

// The texels and palette the manifest asks for are those the source stores.
bool sameStorage(const ManifestTexture& t, const TextureData& stored) {
    if (t.width != stored.width || t.height != stored.height || t.format != stored.format || t.levels != stored.levels)
        return false;
    return !isPaletteFormat(t.format) ||
           (t.paletteFormat == stored.paletteFormat && t.paletteEntries == stored.palette.size());
}

// What became of one texture.
struct Outcome {
    bool keep = false;                  // the source's texture, untouched
    std::optional<TextureData> data;    // otherwise its bytes
    TextureSettings settings;
    std::string error, note;
};

class ManifestBuilder {
public:
    ManifestBuilder(const BuildRequest& request, const std::string& path, Manifest manifest, JobOutput& out,
                    unsigned threads)
        : request_(request), path_(path), out_(out), threads_(threads), base_(fs::path(path).parent_path()),
          manifest_(std::move(manifest)) {}

    void run() {
        if (!findSource()) return;
        if (request_.inPlace && !source_)
            return refuse("--in-place writes back the source the manifest was made from, and that is not there");
        const std::string sourceName = safeFileName(fs::path(manifest_.sourceFile).filename().string());
        const std::string target = request_.inPlace        ? sourcePath_
                                   : request_.output.empty() ? (fs::path(request_.folder) / sourceName).string()
                                                             : request_.output;

        const std::size_t n = manifest_.textures.size();
        std::vector<Outcome> outcomes(n);
        const unsigned perTexture = std::max(1u, threads_ / static_cast<unsigned>(std::min<std::size_t>(threads_, n)));
        forEachOnThreads(n, threads_, [&](std::size_t k) { outcomes[k] = texture(k, perTexture); });
        for (std::size_t k = 0; k < n; ++k) {
            const std::string where = "texture " + std::to_string(k + 1) + ": ";
            if (!outcomes[k].error.empty()) return refuse(where + outcomes[k].error);
            if (!outcomes[k].note.empty()) note(where + outcomes[k].note);
        }

        Expected<std::vector<std::uint8_t>, TplEditError> file = fail(TplEditError::BadSource);
        if (source_) {
            std::vector<TextureReplacement> replacements;
            for (std::size_t k = 0; k < n; ++k)
                if (!outcomes[k].keep) replacements.push_back({k, &*outcomes[k].data, outcomes[k].settings});
            auto rebuilt = rebuildTpl(sourceBytes(), replacements);
            if (rebuilt) file = std::move(rebuilt->bytes);
            else file = fail(rebuilt.error());
        } else {
            std::vector<StoredTexture> textures;
            for (const Outcome& o : outcomes) textures.push_back({&*o.data, o.settings});
            file = writeTpl(textures);
        }
        if (!file) return refuse(std::string(describe(file.error())));
        // -d and --in-place write only what changed.
        if ((!request_.folder.empty() || request_.inPlace) && source_ &&
            std::equal(file->begin(), file->end(), sourceBytes().begin(), sourceBytes().end())) {
            out_.out += shown(path_) + ": nothing changed; nothing written\n";
            return;
        }
        if (!request_.folder.empty()) {
            std::error_code ec;
            fs::create_directories(request_.folder, ec);
            if (ec) return refuse("cannot create folder " + request_.folder + ": " + ec.message());
        }
        if (const auto written = writeInto(target, *file); !written) {
            out_.err += shown(target + ": " + written.error()) + '\n';
            out_.failed = true;
        }
    }

    // OUT may name a member of an archive that is there (menu.szs/arc/timg/x.tpl):
    // the archive is written back with that member alone changed.
    static Expected<void, std::string> writeInto(const std::string& target, std::span<const std::uint8_t> tpl) {
        std::error_code ec;
        if (fs::exists(target, ec) || fs::path(target).parent_path().empty() || fs::is_directory(fs::path(target).parent_path(), ec))
            return writeOutput(target, tpl);
        auto archive = openSource(target);
        if (!archive) return writeOutput(target, tpl);
        const Member& m = archive->located.member;
        if (m.path.empty() || !archive->located.rest.empty() || m.kind != FileKind::Tpl)
            return fail(std::string("names no TPL member of an archive"));
        auto rebuilt = replaceMember(archive->file.bytes(), fs::path(archive->outer).filename().string(), m.path, tpl);
        if (!rebuilt) return fail(describe(rebuilt.error()));
        return writeOutput(archive->outer, *rebuilt);
    }

private:
    void refuse(const std::string& why) {
        out_.err += shown(path_ + ": " + why) + "; nothing written\n";
        out_.failed = true;
    }
    void note(const std::string& what) { out_.err += shown(path_ + ": note: " + what) + '\n'; }
    fs::path beside(const std::string& file) const { return base_ / file; }

    // The source beside the manifest or where it was, when it is still the file
    // the manifest was made from; without it every texture comes from its pictures.
    bool findSource() {
        const std::string name = manifest_.sourceFile;
        for (const fs::path& candidate : {beside(fs::path(name).filename().string()), beside(manifest_.sourcePath)}) {
            // A source inside an archive is a member's path through it.
            auto input = openSource(candidate.string());
            if (!input || !input->located.rest.empty() || !input->folder.empty()) continue;
            const auto bytes = input->located.member.bytes;
            auto headers = parseTpl(bytes);
            if (bytes.size() != manifest_.sourceSize || sha256(bytes) != manifest_.sourceDigest || !headers) {
                if (request_.strict) {
                    refuse("source " + candidate.string() + " is not the file the manifest was made from (its SHA-256 "
                           "differs) (--strict)");
                    return false;
                }
                note("source " + candidate.string() + " is not the file the manifest was made from (its SHA-256 "
                     "differs): every texture is encoded from its pictures");
                return true;
            }
            if (headers->images.size() != manifest_.textures.size()) {
                note("the manifest lists " + std::to_string(manifest_.textures.size()) + " textures, its source " +
                     std::to_string(headers->images.size()) + ": every texture is encoded from its pictures");
                return true;
            }
            source_.emplace(std::move(input).value());
            sourcePath_ = candidate.string();
            headers_ = std::move(headers).value();
            return true;
        }
        note("source " + name + " not found: every texture is encoded from its pictures");
        return true;
    }

    // Whether a picture shows what it showed when decode wrote it: by the file's
    // digest, which needs no decoding, else by its pixels'.
    bool unchanged(const ManifestPicture& p, std::span<const std::uint8_t> bytes, const Image* decoded) const {
        if (p.fileDigest && sha256(bytes) == *p.fileDigest) return true;
        return decoded && p.pixels && pixelDigest(*decoded) == *p.pixels;
    }

    Outcome texture(std::size_t k, unsigned threads) const {
        const ManifestTexture& t = manifest_.textures[k];
        Outcome o;
        o.settings = headerOf(t);
        std::optional<TextureData> stored;
        if (source_) {
            auto read = storedTexture(sourceBytes(), headers_.images[k]);
            if (read) stored = std::move(read).value();
        }
        // Every picture named must be there; those past the levels are not used.
        const std::size_t given = std::min<std::size_t>(t.pictures.size(), t.levels);
        std::vector<std::optional<InputFile>> files(given);
        for (std::size_t l = 0; l < given; ++l) {
            if (!t.pictures[l]) continue;
            auto file = openInput(beside(t.pictures[l]->file).string());
            if (!file) {
                o.error = "picture " + t.pictures[l]->file + ": " + file.error();
                return o;
            }
            files[l].emplace(std::move(file).value());
        }
        bool same = stored && sameStorage(t, *stored) && given == t.levels;
        for (std::size_t l = 0; same && l < given; ++l)
            same = t.pictures[l] && t.pictures[l]->fileDigest && unchanged(*t.pictures[l], files[l]->bytes(), nullptr);

        std::vector<Image> pictures(given);
        if (!same) {
            for (std::size_t l = 0; l < given; ++l) {
                if (!t.pictures[l]) continue;
                const std::string& name = t.pictures[l]->file;
                auto picture = readInputPicture(beside(name).string(), Backdrop::keepAlpha());
                if (!picture) {
                    o.error = "picture " + name + ": " + picture.error();
                    return o;
                }
                pictures[l] = std::move(picture).value();
                const auto l32 = static_cast<unsigned>(l);
                const std::uint32_t w = levelSide(t.width, l32), h = levelSide(t.height, l32);
                if (pictures[l].width != w || pictures[l].height != h) {
                    o.error = "picture " + name + " is " + sizeText(pictures[l].width, pictures[l].height) + ", level " +
                              std::to_string(l) + " is " + sizeText(w, h);
                    return o;
                }
            }
            same = stored && sameStorage(t, *stored) && given == t.levels;
            for (std::size_t l = 0; same && l < given; ++l)
                same = t.pictures[l] && unchanged(*t.pictures[l], files[l]->bytes(), &pictures[l]);
        }
        if (same) {
            o.keep = sameSettings(o.settings, settingsOf(headers_.images[k], sourceBytes()));
            if (!o.keep) o.data = std::move(*stored);
            return o;
        }

        EditSettings settings;
        settings.encode.format = t.format;
        settings.encode.paletteFormat = t.paletteFormat;
        settings.encode.paletteEntries = t.paletteEntries;
        settings.encode.quality = t.quality;
        settings.encode.dither = t.dither;
        settings.encode.threads = threads;
        settings.levels = t.levels;
        if (stored && isPaletteFormat(t.format) && stored->format == t.format &&
            stored->paletteFormat == t.paletteFormat && stored->palette.size() == t.paletteEntries)
            settings.keepPalette = stored->palette;
        std::vector<const Image*> levels;
        for (std::size_t l = 0; l < given; ++l) levels.push_back(t.pictures[l] ? &pictures[l] : nullptr);
        auto edited = encodeEdited(levels, settings);
        if (!edited) {
            o.error = std::string(describe(edited.error()));
            return o;
        }
        if (edited->palette == PaletteOutcome::Merged) {
            const std::string what = "its pictures have more colours than its " +
                                     std::to_string(paletteEntryLimit(settings.encode)) + " palette entries hold";
            if (request_.strict) {
                o.error = what + " (--strict)";
                return o;
            }
            o.note = what + "; the nearest were merged";
        }
        o.data = std::move(edited->data);
        return o;
    }

    const BuildRequest& request_;
    const std::string& path_;
    JobOutput& out_;
    unsigned threads_;
    fs::path base_;
    Manifest manifest_;
    std::optional<Source> source_;
    std::string sourcePath_;
    std::span<const std::uint8_t> sourceBytes() const { return source_->located.member.bytes; }
    TplHeaders headers_;
};

}  // namespace

namespace {

// One manifest of either version, read and built.
void buildOne(const BuildRequest& request, const std::string& path, JobOutput& out, unsigned threads, bool alone) {
    auto input = openInput(path);
    if (!input) {
        out.err += path + ": " + input.error() + "; nothing written\n";
        out.failed = true;
        return;
    }
    const auto bytes = input->bytes();
    auto manifest = readManifest(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!manifest) {
        out.err += path + ": " + manifest.error() + "; nothing written\n";
        out.failed = true;
        return;
    }
    if (auto* tree = std::get_if<TreeManifest>(&*manifest))
        return buildTree(request, path, std::move(*tree), out, threads, alone);
    ManifestBuilder(request, path, std::get<Manifest>(std::move(*manifest)), out, threads).run();
}

}  // namespace

int runBuild(const BuildRequest& request) {
    const std::size_t n = request.manifests.size();
    // One manifest alone shows the progress of its own files.
    if (n == 1) {
        JobOutput out;
        buildOne(request, request.manifests[0], out, request.run.jobs, true);
        std::fputs(out.out.c_str(), stdout);
        std::fflush(stdout);
        std::fputs(out.err.c_str(), stderr);
        return out.failed ? kInputFailed : kSuccess;
    }
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(request.run.jobs, n));
    const unsigned perManifest = std::max(1u, request.run.jobs / std::max(1u, workers));
    const auto earlier = sameNameAsEarlier(request.manifests);
    const bool failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        if (earlier[i] != kNoEarlier) return sameNameRefused(request.manifests[i], request.manifests[earlier[i]], out);
        buildOne(request, request.manifests[i], out, perManifest, false);
    });
    return failed ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
