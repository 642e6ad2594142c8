// Reads the first texture of a TPL file and writes it again as CMPR with mipmaps.
#include <tplforge/file_io.h>
#include <tplforge/texture.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    auto bytes = tplforge::readWholeFile(argv[1]);
    if (!bytes) return 1;
    auto headers = tplforge::parseTpl(*bytes);
    if (!headers) return 1;
    auto texture = tplforge::textureView(*bytes, headers->images[0]);
    if (!texture) return 1;
    auto picture = tplforge::decodeLevel(*texture, 0);
    if (!picture) return 1;

    tplforge::TextureInput input{.picture = &*picture, .options = {.format = tplforge::Format::CMPR}, .levels = 3};
    auto file = tplforge::encodeTpl(std::span(&input, 1));
    return file && tplforge::writeFileAtomically(argv[2], *file) ? 0 : 1;
}
