// build of a version-2 manifest: each source file with the textures whose
// pictures or settings changed put back through TextureFile, every other byte
// kept. What changed is told by content, never by file times: a picture's file
// digest, else its pixels'. Only files whose bytes come out different are
// written; a refusal of the manifest, a source or a picture writes nothing at all.
#include <algorithm>
#include <filesystem>

#include "build.h"
#include "files.h"
#include "picture_input.h"
#include "tplforge/png.h"
#include "tplforge/sha256.h"

namespace tplforge::cli {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

bool sameHeader(const TextureSettings& a, const TextureSettings& b) {
    return a.sampler == b.sampler && a.maxLod == b.maxLod && a.unpacked == b.unpacked &&
           a.paletteUnpacked == b.paletteUnpacked && a.palettePadding == b.palettePadding;
}

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// One level's picture as the build finds it.
struct Level {
    const ManifestPicture* named = nullptr;  // none: made from the level above
    bool changed = false;
    Digest fileDigest{};
    std::optional<Image> image;  // read when it had to be
};

// A texture handed to TextureFile::replace, with what --in-place records of it.
struct Edited {
    std::size_t texture = 0;   // in the manifest's file
    std::vector<Level> levels;
    unsigned firstChanged = 0;  // levels from here on that did not change were made anew
};

// What became of one file.
struct FileOutcome {
    std::string fatal;  // a reason to write nothing at all
    Bytes bytes;        // the file as rebuilt
    Bytes plt0;         // a standalone TEX0's palette, when the rebuild made one
    bool changed = false;
    bool plt0Changed = false;
    std::size_t textures = 0;  // textures whose bytes changed
    bool refused = false;      // some textures were left as they were
    std::vector<Edited> edited;
    std::vector<std::string> refusedTextures;
};

class TreeBuilder {
public:
    TreeBuilder(const BuildRequest& request, const std::string& path, TreeManifest manifest, unsigned threads)
        : request_(request), path_(path), manifest_(std::move(manifest)), base_(fs::path(path).parent_path()),
          threads_(threads) {}

    void run(JobOutput& out, bool alone) {
        const std::size_t n = manifest_.files.size();
        if (!request_.output.empty() && manifest_.folder)
            return refuse(out, "-o writes one file, and this manifest is of the folder " + manifest_.source +
                                   "; give -d DIR or --in-place");
        std::vector<FileOutcome> outcomes(n);
        const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(threads_, std::max<std::size_t>(n, 1)));
        const unsigned perFile = std::max(1u, threads_ / std::max(1u, workers));
        const auto job = [&](std::size_t i, JobOutput& o) {
            outcomes[i] = file(i, perFile, o);
            if (!outcomes[i].fatal.empty()) refuse(o, outcomes[i].fatal);
        };
        if (alone) {
            if (runJobs(n, workers, !request_.run.quiet, job)) out.failed = true;
        } else {
            std::vector<JobOutput> outputs(n);
            forEachOnThreads(n, workers, [&](std::size_t i) { job(i, outputs[i]); });
            for (const JobOutput& o : outputs) {
                out.out += o.out;
                out.err += o.err;
                out.failed = out.failed || o.failed;
            }
        }
        if (std::any_of(outcomes.begin(), outcomes.end(), [](const FileOutcome& o) { return !o.fatal.empty(); })) return;
        write(outcomes, out);
    }

private:
    void refuse(JobOutput& out, const std::string& why) const {
        out.err += path_ + ": " + why + "; nothing written\n";
        out.failed = true;
    }
    fs::path beside(const std::string& name) const { return (base_ / name).lexically_normal(); }

    // Every picture of one file's textures read and told changed or not, then the
    // source opened and the changed textures replaced.
    FileOutcome file(std::size_t index, unsigned threads, JobOutput& out) const {
        const SourceFile& source = manifest_.files[index];
        FileOutcome o;
        const auto fatal = [&](const std::string& why) {
            o.fatal = source.path + ": " + why;
            return std::move(o);
        };
        const std::size_t n = source.textures.size();
        std::vector<std::vector<Level>> levels(n);
        for (std::size_t k = 0; k < n; ++k) {
            const TreeTexture& t = source.textures[k];
            const ManifestTexture& s = t.settings;
            levels[k].resize(s.levels);
            for (unsigned l = 0; l < s.levels; ++l) {
                Level& level = levels[k][l];
                if (l >= s.pictures.size() || !s.pictures[l]) {
                    level.changed = true;
                    continue;
                }
                level.named = &*s.pictures[l];
                const std::string where = "texture " + t.path() + ": picture " + level.named->file + ": ";
                auto bytes = openInput(beside(level.named->file).string());
                if (!bytes) return fatal(where + bytes.error());
                level.fileDigest = sha256(bytes->bytes());
                if (level.named->fileDigest && *level.named->fileDigest == level.fileDigest) continue;
                auto image = readInputPicture(beside(level.named->file).string(), Backdrop::keepAlpha());
                if (!image) return fatal(where + image.error());
                level.changed = !level.named->pixels || pixelDigest(*image) != *level.named->pixels;
                level.image = std::move(image).value();
            }
        }

        auto opened = TextureFile::open(beside(source.path).string());
        if (!opened) {
            Error e = opened.error();
            e.where.clear();
            return fatal(describe(e));
        }
        const TextureFile& f = *opened;
        std::vector<TextureEdit> edits;
        for (std::size_t k = 0; k < n; ++k) {
            const TreeTexture& t = source.textures[k];
            const ManifestTexture& s = t.settings;
            auto found = f.find(t.path());
            if (!found || (*found)->path() != t.path())
                return fatal("texture " + t.path() + ": the source holds no such texture (it changed since decode)");
            const TextureRef& ref = **found;
            if (ref.container != t.container)
                return fatal("texture " + t.path() + ": is a texture of a " + std::string(kindName(ref.container)) +
                             " where the manifest says " + std::string(kindName(t.container)));
            const TextureData stored = ref.stored();
            SettingChanges c;
            if (s.format != stored.format) c.format = s.format;
            if (isPaletteFormat(s.format)) {
                if (!isPaletteFormat(stored.format) || s.paletteFormat != stored.paletteFormat) c.paletteFormat = s.paletteFormat;
                if (s.paletteEntries != stored.palette.size()) c.paletteEntries = s.paletteEntries;
            }
            if (s.levels != stored.levels) c.mipmaps = s.levels - 1;
            const bool reshaped = c.format || c.paletteFormat || c.paletteEntries || c.mipmaps;
            bool header = false;
            if (t.container == FileKind::Tpl) {
                c.header = headerOf(s);
                header = !sameHeader(*c.header, *ref.settings);
            }
            std::vector<Level>& own = levels[k];
            const auto first = static_cast<unsigned>(
                std::find_if(own.begin(), own.end(), [](const Level& l) { return l.changed; }) - own.begin());
            if (first == s.levels && !reshaped && !header) continue;

            const std::string at = source.path + ": texture " + t.path() + ": ";
            const auto refuseTexture = [&](const std::string& why) {
                out.err += path_ + ": " + at + why + "; left as it was\n";
                o.refused = true;
                o.refusedTextures.push_back(t.path());
            };
            if (first > 0 && (s.width != stored.width || s.height != stored.height)) {
                refuseTexture("'width' and 'height' say " + sizeText(s.width, s.height) + ", the texture is " +
                              sizeText(stored.width, stored.height) + "; a texture takes the size of its level 0 picture");
                continue;
            }
            if (first == s.levels && !reshaped) {  // header fields alone: the texels stay
                TextureEdit edit;
                edit.texture = t.path();
                edit.changes.header = c.header;
                edits.push_back(std::move(edit));
                o.edited.push_back({k, std::move(own), first});
                continue;
            }
            // The pictures of the levels down to the first that changed are used as they
            // are; below it, those edited are hand-made levels and the others made anew.
            bool readable = true;
            const auto picture = [&](Level& level) -> Image {
                if (!level.image) {
                    auto image = readInputPicture(beside(level.named->file).string(), Backdrop::keepAlpha());
                    if (!image) {
                        o.fatal = source.path + ": texture " + t.path() + ": picture " + level.named->file + ": " + image.error();
                        readable = false;
                        return {};
                    }
                    level.image = std::move(image).value();
                }
                return *level.image;
            };
            TextureEdit edit;
            edit.texture = t.path();
            edit.pictureName = own[0].named->file;
            edit.picture = picture(own[0]);
            std::string wrongSize;
            for (unsigned l = 1; l < s.levels && readable; ++l) {
                Level& level = own[l];
                Image image;
                if (level.named && (l < first || level.changed)) image = picture(level);
                const std::uint32_t w = levelSide(edit.picture.width, l), h = levelSide(edit.picture.height, l);
                if (!image.empty() && (image.width != w || image.height != h) && wrongSize.empty())
                    wrongSize = "picture " + level.named->file + " is " + sizeText(image.width, image.height) + ", level " +
                                std::to_string(l) + " of a " + sizeText(edit.picture.width, edit.picture.height) +
                                " picture is " + sizeText(w, h);
                edit.levels.push_back(std::move(image));
            }
            if (!readable) return o;
            if (!wrongSize.empty()) {
                refuseTexture(wrongSize);
                continue;
            }
            while (!edit.levels.empty() && edit.levels.back().empty()) edit.levels.pop_back();
            c.quality = s.quality;
            c.dither = s.dither;
            edit.changes = c;
            edits.push_back(std::move(edit));
            o.edited.push_back({k, std::move(own), first});
        }
        if (edits.empty() && request_.output.empty()) return o;
        if (!edits.empty() && (f.bytes().size() != source.size || sha256(f.bytes()) != source.digest))
            return fatal("is not the file the manifest was made from (its SHA-256 differs); decode it again");

        EditOptions options;
        options.keepGoing = true;
        options.strict = request_.strict;
        options.threads = threads;
        auto result = f.replace(edits, options);
        if (!result) return fatal(describe(result.error()));
        for (const Note& note : result->notes)
            out.err += path_ + ": " + source.path + ": note: " + note.where + ": " + note.text + '\n';
        for (const Refusal& r : result->refused) {
            out.err += path_ + ": " + source.path + ": texture " + r.texture + ": " + describe(r.error) + "; left as it was\n";
            o.refused = true;
            o.refusedTextures.push_back(r.texture);
        }
        o.textures = result->changed;
        o.changed = !sameBytes(result->file, f.bytes());
        o.plt0Changed = !result->plt0.empty() && !sameBytes(result->plt0, f.paletteBytes());
        o.bytes = std::move(result->file);
        o.plt0 = std::move(result->plt0);
        return o;
    }

    // Only the files that changed (with -o the one file, changed or not), then
    // with --in-place the manifest, which now describes them.
    void write(std::vector<FileOutcome>& outcomes, JobOutput& out) {
        std::size_t written = 0;
        bool rerecorded = false;
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            FileOutcome& o = outcomes[i];
            SourceFile& source = manifest_.files[i];
            out.failed = out.failed || o.refused;
            std::string target;
            if (!request_.output.empty()) target = request_.output;
            else if (!o.changed && !o.plt0Changed) continue;
            else if (request_.inPlace) target = beside(source.path).string();
            else target = (fs::path(request_.folder) / *outputPathOf(manifest_, source)).string();
            std::error_code ec;
            if (fs::path(target).has_parent_path()) fs::create_directories(fs::path(target).parent_path(), ec);
            if (const auto saved = writeOutput(target, o.bytes); !saved) {
                out.err += target + ": " + saved.error() + '\n';
                out.failed = true;
                continue;
            }
            if (o.plt0Changed || (!request_.output.empty() && !o.plt0.empty())) {
                const std::string palette = palettePathBeside(target);
                if (const auto saved = writeOutput(palette, o.plt0); !saved) {
                    out.err += palette + ": " + saved.error() + '\n';
                    out.failed = true;
                }
            }
            ++written;
            out.out += target + ": " + std::to_string(o.textures) + (o.textures == 1 ? " texture" : " textures") +
                       " changed\n";
            if (request_.inPlace) rerecorded = record(source, o, out) || rerecorded;
        }
        if (written == 0) out.out += path_ + ": nothing changed; nothing written\n";
        if (!rerecorded) return;
        const std::string text = writeManifest(manifest_);
        if (const auto saved = writeOutput(path_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            !saved) {
            out.err += path_ + ": " + saved.error() + '\n';
            out.failed = true;
        }
    }

    // After --in-place, the manifest's entry of a file describes it as written:
    // its digest, and each edited texture's settings and pictures. Levels made
    // anew get pictures of what they now hold, under the names they had.
    bool record(SourceFile& source, const FileOutcome& o, JobOutput& out) const {
        auto now = TextureFile::fromBytes(o.bytes, fs::path(source.path).filename().string(), {}, o.plt0);
        if (!now) return false;
        source.size = o.bytes.size();
        source.digest = sha256(o.bytes);
        for (const Edited& e : o.edited) {
            TreeTexture& t = source.textures[e.texture];
            if (std::find(o.refusedTextures.begin(), o.refusedTextures.end(), t.path()) != o.refusedTextures.end()) continue;
            const auto found = now->find(t.path());
            if (!found) continue;
            const TextureRef& ref = **found;
            ManifestTexture kept = std::move(t.settings);
            t.settings = recordOf(ref);
            t.settings.quality = kept.quality;
            t.settings.dither = kept.dither;
            const std::string first = kept.pictures.empty() || !kept.pictures[0] ? std::string() : kept.pictures[0]->file;
            for (unsigned l = 0; l < t.settings.levels; ++l) {
                const Level* level = l < e.levels.size() ? &e.levels[l] : nullptr;
                if (level && level->named && (l < e.firstChanged || level->changed)) {
                    ManifestPicture p = *level->named;
                    p.fileDigest = level->fileDigest;
                    if (level->image) p.pixels = pixelDigest(*level->image);
                    t.settings.pictures.push_back(std::move(p));
                    continue;
                }
                // Made anew: a picture of it, where decode would have put it.
                std::string name = l < kept.pictures.size() && kept.pictures[l] ? kept.pictures[l]->file : std::string();
                if (name.empty() && !first.empty()) {
                    const fs::path top(first);
                    name = (top.parent_path() / (top.stem().string() + ".mip" + std::to_string(l) + top.extension().string()))
                               .generic_string();
                }
                auto picture = ref.decode(l);
                if (name.empty() || !picture) {
                    t.settings.pictures.emplace_back();
                    continue;
                }
                keepHeldChannels(*picture, ref.view.format);
                const auto png = writePng(*picture, pngChannelsOf(ref.view.format), kDefaultPngLevel);
                const auto saved = png ? writeOutput(beside(name).string(), *png) : Expected<void, std::string>(fail(std::string("cannot encode")));
                if (!saved) {
                    out.err += beside(name).string() + ": " + saved.error() + '\n';
                    t.settings.pictures.emplace_back();
                    continue;
                }
                t.settings.pictures.push_back(ManifestPicture{name, pixelDigest(*picture), sha256(*png)});
            }
        }
        return true;
    }

    const BuildRequest& request_;
    std::string path_;
    TreeManifest manifest_;
    fs::path base_;
    unsigned threads_;
};

}  // namespace

void buildTree(const BuildRequest& request, const std::string& path, TreeManifest manifest, JobOutput& out,
               unsigned threads, bool alone) {
    TreeBuilder(request, path, std::move(manifest), threads).run(out, alone);
}

}  // namespace tplforge::cli
