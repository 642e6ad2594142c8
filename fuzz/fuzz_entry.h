// The fuzz targets' bodies, callable without libFuzzer: the corpus replay test
// links both targets into one program, where each LLVMFuzzerTestOneInput would clash.
#pragma once

#include <cstddef>
#include <cstdint>

int tplFuzzOne(const std::uint8_t* data, std::size_t size);
int tgaFuzzOne(const std::uint8_t* data, std::size_t size);
