// Replays the fuzz corpus (argv[1]/tpl, tga and png) through the fuzz targets'
// entry points, so every crasher and odd file found so far stays fixed. A file
// that still crashes takes the process down with it and fails the test.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "../fuzz/fuzz_entry.h"
#include "tplforge/file_io.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR  (with subfolders tpl/, tga/ and png/)\n", argv[0]);
        return 2;
    }
    struct Kind {
        const char* name;
        int (*run)(const std::uint8_t*, std::size_t);
    };
    int passed = 0, failed = 0;
    for (const Kind kind : {Kind{"tpl", tplFuzzOne}, Kind{"tga", tgaFuzzOne}, Kind{"png", pngFuzzOne}}) {
        std::vector<fs::path> files;  // in name order, so a failure names the same file every run
        if (fs::is_directory(fs::path(argv[1]) / kind.name))
            for (const auto& entry : fs::directory_iterator(fs::path(argv[1]) / kind.name))
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        if (files.empty()) ++failed;  // an empty corpus would prove nothing
        for (const fs::path& file : files) {
            std::fprintf(stderr, "%s\n", file.c_str());
            const auto bytes = tplforge::readWholeFile(file.string());
            if (!bytes) {
                ++failed;
                continue;
            }
            kind.run(bytes->data(), bytes->size());
            ++passed;
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
