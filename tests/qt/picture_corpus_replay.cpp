// Replays the picture fuzz corpus (argv[1]) through the picture fuzz target's
// entry point, in this process. A file named reader-crash-* crashes or hangs a
// third-party decoder: it is why the programs read pictures in a separate
// process, so it goes through tplforge-picture (argv[2]) and must come back as
// a clean refusal.
#include "../fuzz/fuzz_entry.h"
#include "../support/replay.h"
#include "picture_reader/picture_reader.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PICTURE_CORPUS_DIR TPLFORGE_PICTURE\n", argv[0]);
        return 2;
    }
    pictureFuzzSetUp(&argc, &argv);
    const tplforge::PictureReader reader{argv[2], std::chrono::seconds(20)};
    const int failed = replayFolder(argv[1], [&](const std::filesystem::path& file) {
        if (!file.filename().string().starts_with("reader-crash-")) return fuzzFile(file, pictureFuzzOne);
        bool refused = true;
        for (const auto backdrop : {tplforge::Backdrop::keepAlpha(), tplforge::Backdrop::over(0xF0F0F0)}) {
            const auto picture = tplforge::readPictureInProcess(file.string(), backdrop, reader);
            refused = refused && !picture.ok() && picture.error().error != tplforge::PictureError::ReaderMissing;
            if (picture.ok())
                std::fprintf(stderr, "  read, but it was expected to fail\n");
            else
                std::fprintf(stderr, "  %s (%s)\n", std::string(describe(picture.error().error)).c_str(),
                             picture.error().detail.c_str());
        }
        return refused;
    });
    return failed == 0 ? 0 : 1;
}
