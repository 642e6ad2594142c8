// Fuzz target for readPng (libspng underneath): what it accepts must have the
// size its header announces, within the pixel limit, and every byte of it.
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
    if (!picture) return 0;
    // IHDR is always the first chunk: signature, length, type, then the sides.
    tplforge::ByteReader in(file);
    in.skip(16);
    const auto width = in.u32be(), height = in.u32be();
    if (!width || !height || picture->width != *width || picture->height != *height) std::abort();
    if (picture->empty() || std::uint64_t{picture->width} * picture->height > tplforge::kMaxPngPixels) std::abort();
    if (picture->rgba.size() != std::size_t{picture->width} * picture->height * 4) std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pngFuzzOne(data, size);
}
#endif
