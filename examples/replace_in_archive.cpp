// replace_in_archive ARCHIVE MEMBER PICTURE OUT: the texture of one member of an
// archive (any depth, any wrappers) replaced by a PNG or Targa picture, encoded
// with that texture's own settings; every other byte of the archive kept.
#include <cstdio>
#include <string>

#include <tplforge/tplforge.h>

using namespace tplforge;

static int failed(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 5) return failed("usage: replace_in_archive ARCHIVE MEMBER PICTURE OUT");
    auto file = TextureFile::open(std::string(argv[1]) + '/' + argv[2]);
    if (!file) return failed(describe(file.error()));

    auto bytes = readWholeFile(argv[3]);
    if (!bytes) return failed(std::string(argv[3]) + ": " + bytes.error().message());
    TextureEdit edit;  // no texture named: the member's only one
    if (isPng(*bytes)) {
        auto png = readPng(*bytes);
        if (!png) return failed(std::string(argv[3]) + ": " + describe(png.error()));
        edit.picture = std::move(*png);
    } else {
        auto tga = readTarga(*bytes);
        if (!tga) return failed(std::string(argv[3]) + ": " + describe(tga.error()));
        edit.picture = std::move(*tga);
    }

    auto edited = file->replace({&edit, 1});
    if (!edited) return failed(describe(edited.error()));
    if (auto written = writeFileAtomically(argv[4], edited->file); !written)
        return failed(std::string(argv[4]) + ": " + written.error().message());
    return 0;
}
