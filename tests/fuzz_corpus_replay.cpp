// Replays the fuzz corpus (argv[1]/tpl, tga, png, manifest and the archive and
// container kinds) through the fuzz targets' entry points.
#include "../fuzz/fuzz_entry.h"
#include "support/replay.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR  (with a subfolder for each kind: tpl/, tga/, png/, u8/, ...)\n",
                     argv[0]);
        return 2;
    }
    int failed = 0;
    // Both PNG targets share one corpus.
    for (const auto& [kind, target] : {std::pair{"tpl", &tplFuzzOne}, {"tga", tgaFuzzOne}, {"png", pngFuzzOne},
                                       {"png", pngDiffFuzzOne}, {"manifest", manifestFuzzOne}, {"yaz0", yaz0FuzzOne},
                                       {"lz77", lz77FuzzOne}, {"u8", u8FuzzOne}, {"brres", brresFuzzOne},
                                       {"bti", btiFuzzOne}, {"path", pathFuzzOne}})
        failed += replayFolder(std::filesystem::path(argv[1]) / kind,
                               [&](const auto& file) { return fuzzFile(file, target); });
    return failed == 0 ? 0 : 1;
}
