// Replays the fuzz corpus (argv[1]/tpl and argv[1]/tga) through the fuzz targets'
// entry points, so every crasher and odd file found so far stays fixed. A file
// that still crashes takes the process down with it and fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/fuzz_entry.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files in name order, so that a failure names the same file on every run.
std::vector<fs::path> filesUnder(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR  (with subfolders tpl/ and tga/)\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    struct Kind {
        const char* name;
        int (*run)(const std::uint8_t*, std::size_t);
    };
    int failed = 0;
    int passed = 0;
    for (const Kind kind : {Kind{"tpl", tplFuzzOne}, Kind{"tga", tgaFuzzOne}}) {
        const auto files = filesUnder(root / kind.name);
        if (files.empty()) {
            std::fprintf(stderr, "no %s corpus files under %s\n", kind.name, (root / kind.name).c_str());
            ++failed;
            continue;
        }
        for (const fs::path& file : files) {
            const auto bytes = readAll(file);
            std::fprintf(stderr, "%s\n", file.c_str());
            kind.run(bytes.data(), bytes.size());
        }
        passed += static_cast<int>(files.size());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
