// Fuzz target for the Targa reader: any bytes go through VBLoadTga; what it
// accepts must be a raster of the size it reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_entry.h"
#include "imageio/targa.h"

int tgaFuzzOne(const std::uint8_t* data, std::size_t size) {
    const auto raster = tplforge::VBLoadTga(std::span<const std::uint8_t>(data, size));
    if (!raster) return 0;
    if (raster->width <= 0 || raster->height <= 0 ||
        raster->pixels.size() != static_cast<std::size_t>(raster->width) * static_cast<std::size_t>(raster->height))
        std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tgaFuzzOne(data, size);
}
#endif
