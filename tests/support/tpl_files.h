// TPL files laid out by hand, the way other tools lay theirs out: headers and
// data at chosen offsets, palettes before the image headers, gaps, and every
// byte that is not a header field (padding texels, gaps, the tail) filled with
// a pattern no encoder writes.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "tplforge/bytes.h"
#include "tplforge/tpl.h"

namespace tplforge::testing {

struct HandLaidTexture {
    Format format = Format::RGB565;
    std::uint16_t width = 0, height = 0;
    std::uint32_t header = 0, data = 0;  // offsets
    std::uint8_t maxLod = 0;
    std::uint32_t paletteHeader = 0, paletteData = 0;  // 0: none
    std::uint16_t entries = 0;
    PaletteFormat paletteFormat = PaletteFormat::RGB5A3;
    Sampler sampler = {WrapMode::Repeat, WrapMode::Mirror, TextureFilter::Near, TextureFilter::Linear, 0.5f, 1, 0};
};

inline HandLaidTexture laidOut(Format format, std::uint16_t width, std::uint16_t height, std::uint32_t header,
                               std::uint32_t data, std::uint8_t maxLod = 0) {
    HandLaidTexture t;
    t.format = format, t.width = width, t.height = height, t.header = header, t.data = data, t.maxLod = maxLod;
    return t;
}

inline std::uint8_t patternByte(std::size_t i) { return static_cast<std::uint8_t>(i * 151 + 7); }

// `zeros`: every byte but the headers' is 0 instead of the pattern.
inline std::vector<std::uint8_t> handLaidTpl(std::size_t size, const std::vector<HandLaidTexture>& textures,
                                             bool zeros = false) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size && !zeros; ++i) bytes[i] = patternByte(i);
    ByteWriter out(std::move(bytes));
    out.u32beAt(0, 0x0020AF30);
    out.u32beAt(4, static_cast<std::uint32_t>(textures.size()));
    out.u32beAt(8, 12);
    for (std::size_t k = 0; k < textures.size(); ++k) {
        const HandLaidTexture& t = textures[k];
        const std::size_t h = t.header;
        out.u32beAt(12 + 8 * k, t.header);
        out.u32beAt(16 + 8 * k, t.paletteHeader);
        out.u16beAt(h, t.height);
        out.u16beAt(h + 2, t.width);
        out.u32beAt(h + 4, static_cast<std::uint32_t>(t.format));
        out.u32beAt(h + 8, t.data);
        out.u32beAt(h + 12, static_cast<std::uint32_t>(t.sampler.wrapS));
        out.u32beAt(h + 16, static_cast<std::uint32_t>(t.sampler.wrapT));
        out.u32beAt(h + 20, static_cast<std::uint32_t>(t.sampler.minFilter));
        out.u32beAt(h + 24, static_cast<std::uint32_t>(t.sampler.magFilter));
        out.u32beAt(h + 28, std::bit_cast<std::uint32_t>(t.sampler.lodBias));
        for (const auto& [at, v] : {std::pair{h + 32, t.sampler.edgeLod}, {h + 33, t.sampler.minLod}, {h + 34, t.maxLod},
                                   {h + 35, std::uint8_t{0}}})
            out.u8At(at, v);
        if (t.paletteHeader != 0) {
            out.u16beAt(t.paletteHeader, t.entries);
            out.u8At(t.paletteHeader + 2, 0);
            out.u8At(t.paletteHeader + 3, 0);
            out.u32beAt(t.paletteHeader + 4, static_cast<std::uint32_t>(t.paletteFormat));
            out.u32beAt(t.paletteHeader + 8, t.paletteData);
        }
    }
    if (!out.ok()) return {};  // a layout that does not fit its size: no file, and every check of it fails
    return out.take();
}

// Three textures as another tool might leave them: a C4 texture whose IA8
// palette (header and entries) comes before the image headers, with partial
// blocks on both sides; a gap; RGB5A3 with a mipmap smaller than a block; CMPR
// with partial blocks; bytes after the last texture.
inline std::vector<std::uint8_t> oddLayoutTpl() {
    HandLaidTexture c4 = laidOut(Format::C4, 13, 10, 100, 224);
    c4.paletteHeader = 36, c4.paletteData = 64, c4.entries = 16, c4.paletteFormat = PaletteFormat::IA8;
    return handLaidTpl(784, {c4, laidOut(Format::RGB5A3, 9, 6, 136, 384, 1), laidOut(Format::CMPR, 12, 12, 172, 640)});
}

// One texture of `format` of 13 × 10 (partial blocks in every format) and two
// mipmaps, a palette of 16 or 10 entries before the image
// header where the format takes one.
inline std::vector<std::uint8_t> oneFormatTpl(Format format, bool zeros) {
    HandLaidTexture t = laidOut(format, 13, 10, 64, 128, 2);
    if (formatInfo(format).maxPaletteEntries > 0) {
        t.paletteHeader = 20, t.paletteData = 32, t.entries = format == Format::C4 ? 16 : 10;
        t.paletteFormat = format == Format::C8 ? PaletteFormat::RGB565 : PaletteFormat::RGB5A3;
    }
    return handLaidTpl(128 + chainBytes(format, 13, 10, 3) + 8, {t}, zeros);
}

}  // namespace tplforge::testing
