// The fuzz targets' bodies, callable without libFuzzer: the corpus replay test
// links the targets into one program, where each LLVMFuzzerTestOneInput would clash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A promise of the code under test that did not hold: says where, then stops
// as a crash does, so that the fuzzer keeps the input.
inline void fuzzRequire(bool condition, int line = __builtin_LINE(), const char* file = __builtin_FILE()) {
    if (condition) return;
    std::fprintf(stderr, "%s:%d: promise broken\n", file, line);
    std::abort();
}

int tplFuzzOne(const std::uint8_t* data, std::size_t size);
int tgaFuzzOne(const std::uint8_t* data, std::size_t size);
int pngFuzzOne(const std::uint8_t* data, std::size_t size);
// readPng against libspng, over the same corpus as pngFuzzOne.
int pngDiffFuzzOne(const std::uint8_t* data, std::size_t size);
int manifestFuzzOne(const std::uint8_t* data, std::size_t size);
int yaz0FuzzOne(const std::uint8_t* data, std::size_t size);
int lz77FuzzOne(const std::uint8_t* data, std::size_t size);
int u8FuzzOne(const std::uint8_t* data, std::size_t size);
int brresFuzzOne(const std::uint8_t* data, std::size_t size);
int btiFuzzOne(const std::uint8_t* data, std::size_t size);
int pathFuzzOne(const std::uint8_t* data, std::size_t size);

// The picture loader's target needs Qt, so its replay is a program of its own.
void pictureFuzzSetUp(int* argc, char*** argv);
int pictureFuzzOne(const std::uint8_t* data, std::size_t size);
