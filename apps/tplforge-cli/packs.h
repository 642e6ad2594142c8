// Texture packs of the Dolphin emulator: every texture of a game's files written
// as the pictures a dump holds, and a finished pack put back into those files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "jobs.h"

namespace tplforge::cli {

struct ExportPackRequest {
    std::vector<std::string> paths;
    std::string pack;
    bool mipmaps = false;  // also NAME_mipN.png for the levels the name lists
    bool byFile = false;   // PACK/<file>/<member>/NAME.png instead of one flat folder
    DolphinMipmaps dolphinMipmaps = DolphinMipmaps::File;
    RunOptions run;
};

// What a pack picture of another size than its texture becomes.
enum class PackSize { Game, Pack };

struct ImportPackRequest {
    std::string pack;
    std::vector<std::string> paths;
    std::string folder;  // -d: changed files below it, at their paths relative to PATH
    bool inPlace = false;
    PackSize size = PackSize::Game;
    DolphinMipmaps dolphinMipmaps = DolphinMipmaps::File;
    bool verbose = false;
    RunOptions run;
};

int runExportPack(const ExportPackRequest& request);
int runImportPack(const ImportPackRequest& request);

// A game file to open, from a path typed or found in a folder typed.
struct GameFile {
    std::string path;      // a file on disk, or a path running into one
    std::string relative;  // below a folder typed: its path there; "" for a path typed
};

struct GameFiles {
    std::vector<GameFile> files;
    std::size_t skipped = 0;            // files in folders of no kind that holds textures
    std::vector<std::string> problems;  // one line each: folders and files that could not be read
};

// Paths as typed, and every file below a folder typed (recursively, in name
// order) whose first bytes say it holds textures or may: containers, archives
// and compressed files.
[[nodiscard]] GameFiles gameFilesBelow(const std::vector<std::string>& paths);

// Where the outputs of a game file go below a folder: its path below the folder
// typed, or the name of its file on disk.
[[nodiscard]] std::string outputName(const GameFile& file, const TextureFile& opened);

// The game file opened, each of its damaged members a line in `out`; nothing,
// with the reason in `out`, when it does not open.
[[nodiscard]] std::optional<TextureFile> openGameFile(const GameFile& game, JobOutput& out);

// "1 file", "2 files".
[[nodiscard]] std::string plural(std::size_t n, const char* one, const char* many);

}  // namespace tplforge::cli
