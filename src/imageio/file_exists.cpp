#include "imageio/file_exists.h"

#include <cstdio>
#include <filesystem>

namespace tplforge {

bool fileExists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

}  // namespace tplforge
