#include "commands/file_exists.h"

#include <cstdio>
#include <filesystem>

namespace tplforge {

bool fileExists(const std::string& path) {
    if (path.empty()) return false;
    // Only regular files: opening a pipe or a device to test it could block.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

}  // namespace tplforge
