// export-pack: every texture below the paths as Dolphin dumps it, NAME.png (and
// NAME_mipN.png), so a pack can be made from the game's files without running it.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unordered_set>

#include "files.h"
#include "jobs.h"
#include "packs.h"
#include "tplforge/png.h"

namespace tplforge::cli {

namespace fs = std::filesystem;

namespace {

struct Exporter {
    explicit Exporter(const ExportPackRequest& r) : request(r) {}

    const ExportPackRequest& request;
    std::mutex mutex;
    std::unordered_set<std::string> claimed;  // pictures written or being written
    std::atomic<std::size_t> textures{0}, written{0}, levels{0}, repeats{0}, files{0}, empty{0};

    // A name seen before in the same folder shows the same texels: the first one is written.
    bool claim(const std::string& path) {
        std::lock_guard lock(mutex);
        return claimed.insert(path).second;
    }

    bool writePicture(const fs::path& path, const Image& picture, std::string& err) {
        // Dolphin dumps every texture as RGBA, grey formats with their intensity as alpha.
        const auto png = writePng(picture, PngChannels::Rgba);
        if (!png) {
            err += path.string() + ": cannot write: " + describe(png.error()) + '\n';
            return false;
        }
        if (const auto done = writeOutput(path.string(), *png); !done) {
            err += path.string() + ": " + done.error() + '\n';
            return false;
        }
        return true;
    }

    // One texture's pictures; false when one could not be made or written.
    bool exportTexture(const TextureFile& file, const TextureRef& t, const fs::path& base, std::string& err) {
        const std::string label = file.diskPath() + (t.member.empty() ? "" : "/" + t.member) + ": texture " + t.name;
        ++textures;
        const auto name = t.dolphin(request.dolphinMipmaps);
        if (!name) {
            err += label + ": note: no Dolphin name: " + describe(name.error()) + "; not written\n";
            return true;
        }
        if (const std::string note = dolphinNote(*name); !note.empty()) err += label + ": note: " + note + '\n';
        fs::path folder = base;
        if (request.byFile && !t.member.empty()) {
            const auto parts = safeParts(t.member);
            if (!parts) {
                err += label + ": member \"" + t.member + "\" would be written outside " + request.pack + "; skipped\n";
                return false;
            }
            for (const std::string& part : *parts) folder /= part;
        }
        if (!claim((folder / name->name).string())) {
            ++repeats;
            return true;
        }
        std::error_code ec;
        fs::create_directories(folder, ec);
        const unsigned count = request.mipmaps ? static_cast<unsigned>(name->levels.size()) + 1 : 1;
        for (unsigned level = 0; level < count; ++level) {
            const auto picture = t.decode(level);
            if (!picture) {
                err += label + ": " + describe(picture.error()) + '\n';
                return false;
            }
            const std::string stem = level == 0 ? name->name : name->levels[level - 1];
            if (!writePicture(folder / (stem + ".png"), *picture, err)) return false;
            ++(level == 0 ? written : levels);
        }
        return true;
    }

    void exportFile(const GameFile& game, unsigned threads, JobOutput& out) {
        auto file = openGameFile(game, out);
        if (!file) return;
        const auto all = file->textures();
        if (all.empty()) {
            if (file->damaged().empty()) ++empty;
            return;
        }
        ++files;
        fs::path base = request.pack;
        if (request.byFile) base /= outputName(game, *file);
        std::vector<std::string> errs(all.size());
        std::vector<char> failed(all.size(), 0);
        forEachOnThreads(all.size(), threads,
                         [&](std::size_t i) { failed[i] = !exportTexture(*file, all[i], base, errs[i]); });
        for (std::size_t i = 0; i < all.size(); ++i) {
            out.err += errs[i];
            out.failed = out.failed || failed[i];
        }
    }
};

}  // namespace

int runExportPack(const ExportPackRequest& request) {
    std::error_code ec;
    fs::create_directories(request.pack, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.pack.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    const GameFiles games = gameFilesBelow(request.paths);
    for (const std::string& line : games.problems) std::fprintf(stderr, "%s\n", line.c_str());
    Exporter exporter(request);
    // Several files spread over the threads; the textures of one over those it has.
    const std::size_t n = games.files.size();
    const unsigned workers = static_cast<unsigned>(std::clamp<std::size_t>(n, 1, request.run.jobs));
    const unsigned perFile = std::max(1u, request.run.jobs / workers);
    const bool failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        exporter.exportFile(games.files[i], perFile, out);
    });
    std::string summary = "export-pack: " + plural(exporter.textures, "texture", "textures") + " in " +
                          plural(exporter.files, "file", "files") + ", " +
                          plural(exporter.written, "picture", "pictures") + " written to " + request.pack;
    if (exporter.levels > 0) summary += " with " + plural(exporter.levels, "mip level", "mip levels");
    if (exporter.repeats > 0) summary += " (" + plural(exporter.repeats, "name", "names") + " seen before, written once)";
    const std::size_t skipped = games.skipped + exporter.empty;
    if (skipped > 0) summary += "; " + plural(skipped, "file", "files") + " skipped (no textures)";
    summary += '\n';
    std::fputs(summary.c_str(), stdout);
    return failed || !games.problems.empty() ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
