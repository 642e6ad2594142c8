// make_archive OUT.szs FILE...: a Yaz0 U8 archive with each FILE as
// arc/timg/<its name>, laid out as the games' own archives are.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tplforge/archive.h"
#include "tplforge/compression.h"
#include "tplforge/file_io.h"

int main(int argc, char** argv) {
    using namespace tplforge;
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_archive OUT.szs FILE...\n");
        return 2;
    }
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<NewMember> members;
    for (int i = 2; i < argc; ++i) {
        auto bytes = readWholeFile(argv[i]);
        if (!bytes) {
            std::fprintf(stderr, "%s: %s\n", argv[i], bytes.error().message().c_str());
            return 1;
        }
        files.push_back(std::move(bytes).value());
    }
    for (int i = 2; i < argc; ++i)
        members.push_back({"arc/timg/" + std::filesystem::path(argv[i]).filename().string(), files[static_cast<std::size_t>(i - 2)]});
    const auto u8 = buildU8(members);
    if (u8)
        if (const auto szs = yaz0Compress(*u8); szs && writeFileAtomically(argv[1], *szs)) return 0;
    std::fprintf(stderr, "%s: cannot write the archive\n", argv[1]);
    return 1;
}
