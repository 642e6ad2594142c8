// Fuzz target for the texture containers with headers of their own (BRRES with
// TEX0 and PLT0, BTI, J3D models, standalone TEX0). Every texture listed decodes
// at its size; put back as it is, it gives the same file; replaced by a larger
// texture of another format, the file still reads and holds it in its place.
#include <span>
#include <vector>

#include "fuzz_entry.h"
#include "tplforge/containers.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;

TextureData larger(const TextureView& view) {
    TextureData d;
    d.format = view.palette ? Format::RGB5A3 : Format::C4;
    d.width = view.width * 2 > 1024 ? view.width : view.width * 2;
    d.height = view.height;
    d.texels.assign(static_cast<std::size_t>(levelBytes(d.format, d.width, d.height)), 0x11);
    if (d.format == Format::C4) d.palette = {0x1234, 0x5678};
    return d;
}

void check(std::span<const std::uint8_t> input, FileKind kind) {
    const auto textures = readTextures(input, kind);
    if (!textures) return;
    for (std::size_t k = 0; k < textures->size(); ++k) {
        const TextureEntry& t = (*textures)[k];
        for (unsigned level = 0; level < t.view.levels.size(); ++level) {
            const auto picture = decodeLevel(t.view, level);
            fuzzRequire(picture.ok() && picture->width == levelSide(t.view.width, level));
        }
        // Names may repeat; a name finds its first texture.
        bool first = true;
        for (std::size_t j = 0; j < k; ++j) first = first && (*textures)[j].name != t.name;
        if (!first || kind == FileKind::Tex0) continue;
        const auto same = replaceTexture(input, kind, t.name, storedData(t.view));
        fuzzRequire(same.ok() && std::equal(same->begin(), same->end(), input.begin(), input.end()));
        if (kind != FileKind::Brres) continue;
        const TextureData other = larger(t.view);
        const auto out = replaceTexture(input, kind, t.name, other);
        if (!out) continue;  // a file too large to grow
        // The texture keeps its place in the listing. (Not always its name: in a
        // file whose names overlap a subfile's header, moving that subfile
        // rewrites them.)
        const auto again = readTextures(*out, kind);
        fuzzRequire(again.ok() && again->size() == textures->size());
        fuzzRequire(storedData((*again)[k].view) == other);
    }
}

}  // namespace

int brresFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check(input, FileKind::Brres);
    check(input, FileKind::Tex0);
    return 0;
}

int btiFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check(input, FileKind::Bti);
    check(input, FileKind::J3d);
    check(input, FileKind::Wibn);
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
#if defined(TPLFORGE_FUZZ_BTI)
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return btiFuzzOne(data, size); }
#else
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return brresFuzzOne(data, size); }
#endif
#endif
