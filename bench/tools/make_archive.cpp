// A Yaz0 U8 archive of every file below a folder, laid out as a game's own
// archives are, for the round-trip benchmarks:
//   make_archive OUT.szs FOLDER
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tplforge/archive.h"
#include "tplforge/compression.h"
#include "tplforge/file_io.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_archive OUT.szs FOLDER\n");
        return 2;
    }
    std::vector<std::string> paths;
    std::vector<std::vector<std::uint8_t>> contents;
    for (const auto& e : fs::recursive_directory_iterator(argv[2])) {
        if (!e.is_regular_file()) continue;
        auto bytes = tplforge::readWholeFile(e.path().string());
        if (!bytes) return 1;
        paths.push_back(fs::relative(e.path(), argv[2]).generic_string());
        contents.push_back(std::move(bytes).value());
    }
    std::vector<tplforge::NewMember> members;
    for (std::size_t i = 0; i < paths.size(); ++i) members.push_back({paths[i], contents[i]});
    const auto u8 = tplforge::buildU8(members);
    if (!u8) return 1;
    const auto szs = tplforge::yaz0Compress(*u8);
    if (!szs) return 1;
    return tplforge::writeFileAtomically(argv[1], *szs) ? 0 : 1;
}
