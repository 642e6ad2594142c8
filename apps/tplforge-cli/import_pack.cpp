// import-pack: a finished Dolphin texture pack put into the game's own files,
// each picture in place of every texture whose name finds it, as the emulator
// would have shown it; every texture keeps its own format, palette, levels and
// sampler, and nothing else in the files changes.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "files.h"
#include "jobs.h"
#include "packs.h"
#include "tplforge/containers.h"
#include "tplforge/file_io.h"
#include "tplforge/png.h"

namespace tplforge::cli {

namespace fs = std::filesystem;

namespace {

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }
std::string sizeText(const Image& image) { return sizeText(image.width, image.height); }

bool endsWithNoCase(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                                                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// One pack picture and its hand-made levels, read when a texture first needs it
// and let go once the last file that needs it is done.
struct PackPicture {
    std::string key;
    std::string path;                        // level 0; "" when only levels were found
    std::map<unsigned, std::string> levelPaths;
    std::vector<std::string> matches;        // textures that found it, in file order
    std::mutex mutex;
    std::size_t uses = 0;                    // files still to use it
    bool read = false;
    bool readable = false;
    Image picture;
    std::vector<Image> levels;               // each half the one above
    std::vector<std::string> problems;

    // The picture, or nullptr when it cannot be used.
    const PackPicture* acquire() {
        std::lock_guard lock(mutex);
        if (!read) load();
        return readable ? this : nullptr;
    }
    void release() {
        std::lock_guard lock(mutex);
        if (uses > 0 && --uses == 0) {
            picture = Image{};
            levels.clear();
        }
    }

private:
    std::optional<Image> readPicture(const std::string& file) {
        const auto bytes = readWholeFile(file);
        if (!bytes) {
            problems.push_back(file + ": cannot read: " + bytes.error().message());
            return std::nullopt;
        }
        auto png = readPng(*bytes);
        if (!png) {
            problems.push_back(file + ": not a picture: " + describe(png.error()));
            return std::nullopt;
        }
        return std::move(png).value();
    }

    void load() {
        read = true;
        auto level0 = readPicture(path);
        if (!level0) return;
        picture = std::move(*level0);
        readable = true;
        const Image* above = &picture;
        for (const auto& [level, file] : levelPaths) {
            if (level != levels.size() + 1) {
                problems.push_back(file + ": level " + std::to_string(level) + " without level " +
                                   std::to_string(levels.size() + 1) + "; it and the levels after it are not used");
                break;
            }
            auto next = readPicture(file);
            if (!next) break;
            const std::uint32_t w = std::max(1u, above->width / 2), h = std::max(1u, above->height / 2);
            if (next->width != w || next->height != h) {
                problems.push_back(file + ": " + sizeText(*next) + " where level " + std::to_string(level) + " must be " +
                                   sizeText(w, h) + ", half of the level above; it and the levels after it are not used");
                break;
            }
            levels.push_back(std::move(*next));
            above = &levels.back();
        }
    }
};

struct Pack {
    std::vector<std::unique_ptr<PackPicture>> pictures;
    DolphinPackIndex index;
    std::vector<std::string> problems;  // names that are not Dolphin's, pictures named twice, stray levels
    std::size_t dds = 0;
};

Pack readPack(const std::string& folder) {
    Pack pack;
    const auto listed = filesBelow(folder);
    if (!listed) pack.problems.push_back(folder + ": " + listed.error());
    const std::vector<std::string> none;
    std::unordered_map<std::string, std::size_t> byKey;
    for (const std::string& relative : listed ? *listed : none) {
        const fs::path path = fs::path(folder) / relative;
        const std::string name = path.filename().string();
        if (!name.starts_with("tex1_")) continue;
        if (endsWithNoCase(name, ".dds")) ++pack.dds;
        if (!endsWithNoCase(name, ".png")) continue;
        const auto parsed = parsePackName(path.stem().string());
        if (!parsed) {
            pack.problems.push_back(path.string() + ": bad pack name: " + describe(parsed.error()) + "; not used");
            continue;
        }
        const auto [at, isNew] = byKey.try_emplace(parsed->key(), pack.pictures.size());
        if (isNew) {
            pack.pictures.push_back(std::make_unique<PackPicture>());
            pack.pictures.back()->key = parsed->key();
        }
        PackPicture& picture = *pack.pictures[at->second];
        std::string& slot = parsed->level == 0 ? picture.path : picture.levelPaths[parsed->level];
        if (!slot.empty()) {
            pack.problems.push_back(path.string() + ": " + slot + " has the same name; it is used, this one not");
            continue;
        }
        slot = path.string();
    }
    for (std::size_t i = 0; i < pack.pictures.size(); ++i) {
        const PackPicture& p = *pack.pictures[i];
        if (p.path.empty()) {
            pack.problems.push_back(p.levelPaths.begin()->second + ": no " + p.key + ".png above it; not used");
            continue;
        }
        pack.index.add(*parsePackName(p.key), i);
    }
    return pack;
}

// What one file's textures found in the pack.
struct FilePlan {
    std::string disk;    // the file on disk, as a canonical path
    std::string output;  // its path below -d OUT
    std::vector<std::pair<std::size_t, std::size_t>> matches;  // texture, picture
    std::vector<std::string> labels;
    bool refused = false;
};

// Whether the texture's container takes a texture of another size: asked of
// the library with a texture of that size, whose texels do not matter.
bool takesOtherSize(const TextureFile& file, const TextureRef& t, std::uint32_t width, std::uint32_t height) {
    if (t.container == FileKind::Tpl) return true;
    const auto member = openPath(file.bytes(), fs::path(file.diskPath()).filename().string(), t.member);
    if (!member) return true;
    TextureData probe = t.stored();
    probe.width = width;
    probe.height = height;
    probe.levels = std::min(probe.levels, levelsToOne(width, height));
    probe.texels.assign(chainBytes(probe.format, width, height, probe.levels), 0);
    const auto replaced = replaceTexture(member->member.bytes, member->member.kind, t.name, probe);
    return replaced || replaced.error().fault != ContainerFault::ShapeMustStay;
}

struct Importer {
    explicit Importer(const ImportPackRequest& r, Pack& p) : request(r), pack(p) {}

    const ImportPackRequest& request;
    Pack& pack;
    std::atomic<std::size_t> replaced{0}, filesWritten{0}, withTextures{0}, empty{0};

    void plan(const GameFile& game, FilePlan& plan, JobOutput& out) {
        auto file = openGameFile(game, out);
        if (!file) return;
        if (!file->textures().empty()) ++withTextures;
        else if (file->damaged().empty()) ++empty;
        std::error_code ec;
        plan.disk = fs::weakly_canonical(file->diskPath(), ec).string();
        plan.output = outputName(game, *file);
        // Model headers that share one image are one texture to replace.
        std::set<const std::uint8_t*> images;
        for (std::size_t i = 0; i < file->textures().size(); ++i) {
            const TextureRef& t = file->textures()[i];
            const auto name = t.dolphin(request.dolphinMipmaps);
            if (!name) continue;
            const auto found = pack.index.find(*name);
            if (!found) continue;
            if (!t.view.levels.empty() && !images.insert(t.view.levels[0].data()).second) continue;
            plan.matches.emplace_back(i, *found);
            plan.labels.push_back(file->diskPath() + "/" + t.path());
        }
    }

    // The edit for one texture, or nothing when the pack shows what it holds already.
    std::optional<TextureEdit> editFor(const TextureFile& file, const TextureRef& t, const PackPicture& p,
                                       const std::string& label, std::string& err) {
        const Image& source = p.picture;
        const bool otherSize = source.width != t.view.width || source.height != t.view.height;
        bool packSize = false;
        if (otherSize && request.size == PackSize::Pack) {
            packSize = takesOtherSize(file, t, source.width, source.height);
            if (!packSize)
                err += label + ": note: " + std::string(kindName(t.container)) + " textures keep their size (" +
                       sizeText(t.view.width, t.view.height) + "); " + p.path + " (" + sizeText(source) +
                       ") was scaled to it\n";
        }
        TextureEdit edit;
        edit.texture = t.path();
        edit.pictureName = p.path;
        edit.picture = packSize ? source : resizeImage(source, t.view.width, t.view.height);
        const auto stored = static_cast<unsigned>(t.view.levels.size());
        for (unsigned k = 1; k <= p.levels.size(); ++k) {
            const Image& level = p.levels[k - 1];
            if (packSize) {
                edit.levels.push_back(level);
            } else if (k < stored) {
                edit.levels.push_back(resizeImage(level, std::max(1u, t.view.width >> k), std::max(1u, t.view.height >> k)));
            }
        }
        keepHeldChannels(edit.picture, t.view.format);
        for (Image& level : edit.levels) keepHeldChannels(level, t.view.format);
        if (!packSize && showsTheSame(t, edit)) return std::nullopt;
        return edit;
    }

    // Every level given is what the texture shows now.
    static bool showsTheSame(const TextureRef& t, const TextureEdit& edit) {
        const auto levels = std::min<std::size_t>(edit.levels.size() + 1, t.view.levels.size());
        for (unsigned k = 0; k < levels; ++k) {
            auto now = t.decode(k);
            if (!now) return false;
            keepHeldChannels(*now, t.view.format);
            if (*now != (k == 0 ? edit.picture : edit.levels[k - 1])) return false;
        }
        return true;
    }

    void apply(const GameFile& game, const FilePlan& plan, unsigned threads, JobOutput& out) {
        auto file = TextureFile::open(game.path);
        std::set<std::size_t> used;
        for (const auto& [texture, picture] : plan.matches) used.insert(picture);
        const auto releaseAll = [&] {
            for (const std::size_t p : used) pack.pictures[p]->release();
        };
        if (!file) {
            out.err += describe(file.error()) + '\n';
            out.failed = true;
            return releaseAll();
        }
        std::vector<TextureEdit> edits;
        for (std::size_t m = 0; m < plan.matches.size(); ++m) {
            const auto [texture, picture] = plan.matches[m];
            const PackPicture* p = pack.pictures[picture]->acquire();
            if (!p || texture >= file->textures().size()) continue;
            if (auto edit = editFor(*file, file->textures()[texture], *p, plan.labels[m], out.err))
                edits.push_back(std::move(*edit));
        }
        if (edits.empty()) return releaseAll();
        EditOptions options;
        options.threads = threads;
        auto result = file->replace(edits, options);
        releaseAll();
        if (!result) {
            out.err += describe(result.error()) + "; " + file->diskPath() + " is not written\n";
            out.failed = true;
            return;
        }
        for (const Note& note : result->notes) out.err += note.where + ": note: " + note.text + '\n';
        const auto before = file->bytes();
        if (result->plt0.empty() && std::equal(result->file.begin(), result->file.end(), before.begin(), before.end())) return;
        const fs::path target = request.inPlace ? fs::path(file->diskPath()) : fs::path(request.folder) / plan.output;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (const auto done = writeOutput(target.string(), result->file); !done) {
            out.err += target.string() + ": " + done.error() + '\n';
            out.failed = true;
            return;
        }
        if (!result->plt0.empty()) {
            const std::string plt0 = fs::path(target).replace_extension(".plt0").string();
            if (const auto done = writeOutput(plt0, result->plt0); !done) {
                out.err += plt0 + ": " + done.error() + '\n';
                out.failed = true;
            }
        }
        replaced += result->changed;
        ++filesWritten;
        out.out += target.string() + ": " + plural(result->changed, "texture", "textures") + " replaced\n";
    }
};

}  // namespace

int runImportPack(const ImportPackRequest& request) {
    if (std::error_code ec; !fs::is_directory(request.pack, ec)) {
        std::fprintf(stderr, "%s: not a folder\n", request.pack.c_str());
        return kInputFailed;
    }
    Pack pack = readPack(request.pack);
    bool failed = !pack.problems.empty();
    for (const std::string& line : pack.problems) std::fprintf(stderr, "%s\n", line.c_str());
    if (pack.dds > 0)
        std::fprintf(stderr, "%s: note: %s not read; only PNG pack pictures are\n", request.pack.c_str(),
                     plural(pack.dds, "DDS picture", "DDS pictures").c_str());
    const GameFiles games = gameFilesBelow(request.paths);
    for (const std::string& line : games.problems) std::fprintf(stderr, "%s\n", line.c_str());
    failed = failed || !games.problems.empty();

    Importer importer(request, pack);
    const std::size_t n = games.files.size();
    const unsigned workers = static_cast<unsigned>(std::clamp<std::size_t>(n, 1, request.run.jobs));
    std::vector<FilePlan> plans(n);
    failed = runJobs(n, workers, !request.run.quiet,
                     [&](std::size_t i, JobOutput& out) { importer.plan(games.files[i], plans[i], out); }) ||
             failed;

    // A file named twice, or two that would land on one output, is edited once.
    std::map<std::string, std::size_t> disks, outputs;
    for (std::size_t i = 0; i < n; ++i) {
        FilePlan& plan = plans[i];
        if (plan.matches.empty()) continue;
        const auto disk = disks.try_emplace(plan.disk, i);
        const auto output = request.inPlace ? disk : outputs.try_emplace(plan.output, i);
        if (!disk.second || !output.second) {
            const std::size_t first = disk.second ? output.first->second : disk.first->second;
            std::fprintf(stderr, "%s: %s %s; edited once\n", games.files[i].path.c_str(),
                         disk.second ? "would be written to the same file as" : "is the same file as",
                         games.files[first].path.c_str());
            plan.refused = true;
            continue;
        }
        for (std::size_t m = 0; m < plan.matches.size(); ++m) pack.pictures[plan.matches[m].second]->matches.push_back(plan.labels[m]);
        std::set<std::size_t> used;
        for (const auto& match : plan.matches) used.insert(match.second);
        for (const std::size_t p : used) ++pack.pictures[p]->uses;
    }

    std::vector<std::size_t> todo;
    for (std::size_t i = 0; i < n; ++i)
        if (!plans[i].refused && !plans[i].matches.empty()) todo.push_back(i);
    const unsigned applyWorkers = static_cast<unsigned>(std::clamp<std::size_t>(todo.size(), 1, request.run.jobs));
    failed = runJobs(todo.size(), applyWorkers, !request.run.quiet,
                     [&](std::size_t k, JobOutput& out) {
                         importer.apply(games.files[todo[k]], plans[todo[k]],
                                        std::max(1u, request.run.jobs / applyWorkers), out);
                     }) ||
             failed;

    std::vector<const PackPicture*> unmatched, several;
    for (const auto& p : pack.pictures) {
        for (const std::string& line : p->problems) std::fprintf(stderr, "%s\n", line.c_str());
        failed = failed || !p->problems.empty();
        if (p->path.empty()) continue;
        if (p->matches.empty()) unmatched.push_back(p.get());
        if (p->matches.size() > 1) several.push_back(p.get());
    }
    if (!unmatched.empty()) {
        std::fprintf(stderr, "import-pack: note: %s matched no texture%s\n",
                     plural(unmatched.size(), "pack picture", "pack pictures").c_str(),
                     request.verbose ? ":" : " (-v lists them)");
        if (request.verbose)
            for (const PackPicture* p : unmatched) std::fprintf(stderr, "  %s\n", p->path.c_str());
    }
    if (!several.empty()) {
        std::fprintf(stderr, "import-pack: note: %s matched several textures each%s\n",
                     plural(several.size(), "pack picture", "pack pictures").c_str(),
                     request.verbose ? ":" : " (-v lists them)");
        if (request.verbose)
            for (const PackPicture* p : several) {
                std::fprintf(stderr, "  %s:\n", p->path.c_str());
                for (const std::string& label : p->matches) std::fprintf(stderr, "    %s\n", label.c_str());
            }
    }
    const std::size_t skipped = games.skipped + importer.empty;
    std::string summary = "import-pack: ";
    if (importer.filesWritten == 0) {
        summary += "nothing changed; no file written";
    } else {
        summary += plural(importer.replaced, "texture", "textures") + " replaced in " +
                   plural(importer.filesWritten, "file", "files") +
                   (request.inPlace ? " in place" : ", written below " + request.folder);
    }
    summary += "; " + plural(pack.index.size(), "pack picture", "pack pictures") + ", " +
               plural(importer.withTextures, "game file", "game files") + " with textures";
    if (skipped > 0) summary += ", " + plural(skipped, "file", "files") + " skipped (no textures)";
    std::printf("%s\n", summary.c_str());
    return failed ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
