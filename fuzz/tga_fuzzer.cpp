// Fuzz target for the Targa reader: any bytes go through readTarga; what it
// accepts must be a picture of the size it reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_entry.h"
#include "tplforge/targa.h"

int tgaFuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto picture = tplforge::readTarga(std::span<const std::uint8_t>(data, size));
    if (!picture) return 0;
    if (picture->empty() || picture->rgba.size() != std::size_t{picture->width} * picture->height * 4) std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tgaFuzzOne(data, size);
}
#endif
