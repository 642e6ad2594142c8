// Fuzz target for the TPL reader: every input goes through parseTpl and, when it
// is accepted, every texture through textureView, every level of every format is
// decoded, and RGB565 / RGB5A3 textures through the window's reader as well.
//
// Besides crashes it checks promises of the readers: a texture that textureView
// accepts decodes at the size it announces, and a texture of a lossless format
// whose sides are whole blocks encodes back to exactly the bytes it was read from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "window_rules/window_rules.h"
#include "fuzz_entry.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;

void require(bool condition) {
    if (!condition) std::abort();
}

bool losslessTexels(Format f) {
    return f == Format::I4 || f == Format::I8 || f == Format::IA4 || f == Format::IA8 || f == Format::RGB565 ||
           f == Format::RGB5A3 || f == Format::RGBA8;
}

void checkReencodes(const TextureView& view, const Image& level0) {
    const FormatInfo info = formatInfo(view.format);
    if (!losslessTexels(view.format) || view.width % info.blockWidth != 0 || view.height % info.blockHeight != 0)
        return;
    std::vector<std::uint8_t> encoded(view.levels[0].size());
    EncodeOptions options;
    options.format = view.format;
    require(encodeTexels(level0, options, encoded).ok());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        std::uint8_t original = view.levels[0][i];
        // A 3-bit alpha of 7 reads as opaque, which the encoder writes in the opaque form.
        if (view.format == Format::RGB5A3 && i % 2 == 0 && (original & 0xF0) == 0x70) continue;
        if (view.format == Format::RGB5A3 && i % 2 == 1 && (view.levels[0][i - 1] & 0xF0) == 0x70) continue;
        require(encoded[i] == original);
    }
}

}  // namespace

int tplFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto info = parseTpl(file);
    if (!info) return 0;
    require(info->images.size() == tplImageCount(file));
    for (const TplImageHeader& image : info->images) {
        const auto format = static_cast<Format>(image.format);
        if (format == Format::RGB565 || format == Format::RGB5A3) {
            const auto texture = window_rules::decodeTexture(file, image);
            require(texture.ok());
            require(texture->raster.width == image.width && texture->raster.height == image.height);
        }
        const auto view = textureView(file, image);
        if (!view) continue;
        require(view->levels.size() == levelsHeld(image));
        for (unsigned level = 0; level < view->levels.size(); ++level) {
            const auto decoded = decodeLevel(*view, level);
            require(decoded.ok());
            const Image& picture = *decoded;
            require(picture.width == levelSide(image.width, level) && picture.height == levelSide(image.height, level));
            if (level == 0) checkReencodes(*view, picture);
        }
    }
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tplFuzzOne(data, size);
}
#endif
