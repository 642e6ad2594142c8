#include <algorithm>
#include <filesystem>

#include "files.h"
#include "packs.h"
#include "tplforge/file_io.h"
#include "tplforge/file_kind.h"

namespace tplforge::cli {

namespace fs = std::filesystem;

namespace {

bool mayHoldTextures(FileKind kind) { return holdsTextures(kind) || isArchive(kind) || isWrapper(kind); }

void walkFolder(const std::string& root, GameFiles& out) {
    const auto found = filesBelow(root);
    if (!found) return out.problems.push_back(root + ": " + found.error());
    for (const std::string& relative : *found) {
        const fs::path path = fs::path(root) / relative;
        const auto mapped = mapWholeFile(path.string());
        if (!mapped) {
            out.problems.push_back(path.string() + ": cannot read: " + mapped.error().message());
            continue;
        }
        if (!mayHoldTextures(detectKind(mapped->bytes(), path.filename().string()))) {
            ++out.skipped;
            continue;
        }
        out.files.push_back({path.string(), relative});
    }
}

}  // namespace

GameFiles gameFilesBelow(const std::vector<std::string>& paths) {
    GameFiles out;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (fs::is_directory(path, ec))
            walkFolder(path, out);
        else
            out.files.push_back({path, {}});
    }
    return out;
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string outputName(const GameFile& file, const TextureFile& opened) {
    return file.relative.empty() ? fs::path(opened.diskPath()).filename().string() : file.relative;
}

std::optional<TextureFile> openGameFile(const GameFile& game, JobOutput& out) {
    auto file = TextureFile::open(game.path);
    if (!file) {
        out.err += describe(file.error()) + '\n';
        out.failed = true;
        return std::nullopt;
    }
    for (const DamagedMember& d : file->damaged()) {
        out.err += describe(d.error) + '\n';
        out.failed = true;
    }
    return std::move(file).value();
}

}  // namespace tplforge::cli
