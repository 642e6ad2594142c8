// Fuzz target for the TPL reader: every input goes through parseTpl and, when it
// is accepted, every RGB565 / RGB5A3 texture is decoded.
//
// Besides crashes it checks two promises of the reader: a file that parseTpl
// accepts never fails to decode for bounds reasons, and a texture whose sides are
// multiples of 4 re-encodes to exactly the bytes it was read from (decode→encode
// is the identity on texel words).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_entry.h"
#include "tpl/tpl_file.h"

namespace {

// No decoded channel is ever 1 (the smallest non-zero one is 5), so no decoded
// pixel equals this colour and it keys no texel when re-encoding.
constexpr tplforge::ColourValue kNeverDecoded = tplforge::rgb(1, 1, 1);

void require(bool condition) {
    if (!condition) std::abort();
}

void checkReencodes(std::span<const std::uint8_t> file, const tplforge::TplImage& image,
                    const tplforge::DecodedTexture& texture) {
    using tplforge::TextureFormat;
    if (image.width % 4 != 0 || image.height % 4 != 0) return;
    const auto format = static_cast<TextureFormat>(image.format);
    // Alpha texels may come in several colours, and opaque texels may share their
    // colour: no single alpha colour need reproduce such a texture.
    if (format == TextureFormat::RGB5A3 && texture.alphaTexels > 0) return;
    const auto encoded = tplforge::encodeTexture(texture.raster, format, kNeverDecoded);
    const auto original = file.subspan(image.dataOffset, encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) require(encoded[i] == original[i]);
}

}  // namespace

int tplFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto info = tplforge::parseTpl(file);
    if (!info) return 0;
    require(info->images.size() == tplforge::tplImageCount(file));
    for (const tplforge::TplImage& image : info->images) {
        const auto format = static_cast<tplforge::TextureFormat>(image.format);
        if (format != tplforge::TextureFormat::RGB565 && format != tplforge::TextureFormat::RGB5A3) continue;
        const auto texture = tplforge::decodeTexture(file, image);
        require(texture.ok());
        require(texture->raster.width == image.width && texture->raster.height == image.height);
        require(texture->raster.pixels.size() == std::size_t{image.width} * image.height);
        checkReencodes(file, image, *texture);
    }
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tplFuzzOne(data, size);
}
#endif
