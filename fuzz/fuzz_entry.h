// The fuzz targets' bodies, callable without libFuzzer: the corpus replay test
// links the targets into one program, where each LLVMFuzzerTestOneInput would clash.
#pragma once

#include <cstddef>
#include <cstdint>

int tplFuzzOne(const std::uint8_t* data, std::size_t size);
int tgaFuzzOne(const std::uint8_t* data, std::size_t size);
int pngFuzzOne(const std::uint8_t* data, std::size_t size);
// readPng against libspng, over the same corpus as pngFuzzOne.
int pngDiffFuzzOne(const std::uint8_t* data, std::size_t size);
int manifestFuzzOne(const std::uint8_t* data, std::size_t size);

// The picture loader's target needs Qt, so its replay is a program of its own.
void pictureFuzzSetUp(int* argc, char*** argv);
int pictureFuzzOne(const std::uint8_t* data, std::size_t size);
