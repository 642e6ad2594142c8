// Replays a folder of fuzz inputs, so that every crasher and odd file found so far
// stays fixed: a file that still crashes takes the process down and fails the test.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tplforge/file_io.h"

// `one(file)` for each file in name order (a failure names the same file every
// run), its name printed first; returns how many failed. An empty or missing
// folder fails too: it would prove nothing.
template <typename One>
int replayFolder(const std::filesystem::path& folder, One one) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    int failed = files.empty() ? 1 : 0;
    for (const auto& file : files) {
        std::fprintf(stderr, "%s\n", file.c_str());
        failed += one(file) ? 0 : 1;
    }
    std::printf("%s: %zu files, %d failed\n", folder.c_str(), files.size(), failed);
    return failed;
}

// Runs a fuzz target's body on the file's bytes; false when it cannot be read.
inline bool fuzzFile(const std::filesystem::path& file, int (*target)(const std::uint8_t*, std::size_t)) {
    const auto bytes = tplforge::readWholeFile(file.string());
    if (bytes) target(bytes->data(), bytes->size());
    return bytes.ok();
}
