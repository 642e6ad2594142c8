// Fuzz target for readPng: what it accepts must have the size its header
// announces, within the pixel limit, and every byte of it; read again with the
// row callback it must give the same picture, rows told of only ever growing,
// ending on every row (or on 0 when it fails after telling of some).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tplforge/bytes.h"
#include "fuzz_entry.h"
#include "tplforge/png.h"

int pngFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto picture = tplforge::readPng(file);
    std::uint32_t last = 0, calls = 0;
    bool shrank = false;
    const auto told = tplforge::readPng(file, [&](const tplforge::Image&, std::uint32_t rows) {
        shrank = shrank || (rows < last && rows != 0);
        last = rows;
        ++calls;
    });
    if (picture.ok() != told.ok() || shrank) std::abort();
    if (!picture) {
        if (picture.error() != told.error() || (calls > 0 && last != 0)) std::abort();
        return 0;
    }
    if (*picture != *told || last != picture->height) std::abort();
    // IHDR is always the first chunk: signature, length, type, then the sides.
    tplforge::ByteReader in(file);
    in.skip(16);
    const auto width = in.u32be(), height = in.u32be();
    if (!width || !height || picture->width != *width || picture->height != *height) std::abort();
    if (picture->empty() || std::uint64_t{picture->width} * picture->height > tplforge::kMaxPicturePixels) std::abort();
    if (picture->rgba.size() != std::size_t{picture->width} * picture->height * 4) std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pngFuzzOne(data, size);
}
#endif
