// A scratch folder per GoogleTest test, and whole files in and out of it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tplforge/file_io.h"

namespace tplforge::testing {

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(writeFileAtomically(path, bytes)) << path;
}
inline std::vector<std::uint8_t> fileBytes(const std::string& path) {  // empty when unreadable
    auto read = readWholeFile(path);
    return read ? *read : std::vector<std::uint8_t>{};
}

// Named after the test (and process: two test programs may run at once), made
// empty at the start and removed at the end.
struct ScratchDir {
    std::filesystem::path dir;
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = "tplforge-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name();
        std::replace(leaf.begin(), leaf.end(), '/', '_');  // parameterised names
        dir = std::filesystem::temp_directory_path() / leaf;
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

}  // namespace tplforge::testing
