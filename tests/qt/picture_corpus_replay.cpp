// Replays the picture fuzz corpus (argv[1]) through the picture fuzz target's
// entry point, in this process. A file named reader-crash-* crashes or hangs a
// third-party decoder: it is why the programs read pictures in a separate
// process, so it goes through tplforge-picture (argv[2]) and must come back as
// a clean refusal.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "../fuzz/fuzz_entry.h"
#include "tplforge/file_io.h"
#include "platform/picture_process.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PICTURE_CORPUS_DIR TPLFORGE_PICTURE\n", argv[0]);
        return 2;
    }
    pictureFuzzSetUp(&argc, &argv);
    std::vector<fs::path> files;  // in name order, so a failure names the same file every run
    for (const auto& entry : fs::directory_iterator(argv[1])) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    int passed = 0, failed = files.empty() ? 1 : 0;  // an empty corpus would prove nothing
    const tplforge::PictureReader reader{argv[2], std::chrono::seconds(20)};
    for (const fs::path& file : files) {
        std::fprintf(stderr, "%s\n", file.c_str());
        if (file.filename().string().rfind("reader-crash-", 0) == 0) {
            for (const auto backdrop : {tplforge::Backdrop::KeepAlpha, tplforge::Backdrop::Surface}) {
                const auto picture = tplforge::readPictureInProcess(file.string(), backdrop, reader);
                if (picture.ok()) {
                    std::fprintf(stderr, "  read, but it was expected to fail\n");
                    ++failed;
                } else {
                    std::fprintf(stderr, "  %s (%s)\n", std::string(describe(picture.error().error)).c_str(),
                                 picture.error().detail.c_str());
                    ++passed;
                }
            }
            continue;
        }
        const auto bytes = tplforge::readWholeFile(file.string());
        if (!bytes) {
            ++failed;
            continue;
        }
        pictureFuzzOne(bytes->data(), bytes->size());
        ++passed;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
