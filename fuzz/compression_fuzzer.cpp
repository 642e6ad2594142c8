// Fuzz targets for the Yaz0 and LZ77 readers and writers. An input is read as a
// stream; what it decompresses to, and the input itself as plain data, must come
// back unchanged through every compressor. Only their first 256 bytes go through
// the compressors, which under the sanitizer cost many times what the reader
// does; long distances are the unit tests' job.
#include <algorithm>
#include <span>
#include <vector>

#include "fuzz_entry.h"
#include "tplforge/compression.h"

namespace {

using namespace tplforge;

constexpr std::size_t kRoundTrip = 256;

std::span<const std::uint8_t> head(std::span<const std::uint8_t> v) { return v.first(std::min(v.size(), kRoundTrip)); }

void yaz0RoundTrips(std::span<const std::uint8_t> data) {
    for (const Yaz0Mode mode : {Yaz0Mode::Nintendo, Yaz0Mode::Smallest}) {
        Yaz0Options options;
        options.mode = mode;
        const auto file = yaz0Compress(data, options);
        fuzzRequire(file.ok());
        const auto back = yaz0Decompress(*file);
        fuzzRequire(back.ok() && std::equal(back->begin(), back->end(), data.begin(), data.end()));
    }
}

void lz77RoundTrips(std::span<const std::uint8_t> data) {
    const auto stream = lz77Compress(data);
    fuzzRequire(stream.ok());
    const auto back = lz77Decompress(*stream);
    fuzzRequire(back.ok() && std::equal(back->begin(), back->end(), data.begin(), data.end()));
}

}  // namespace

int yaz0FuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto out = yaz0Decompress(input);
    if (out) {
        fuzzRequire(out->size() == *yaz0Size(input));
        yaz0RoundTrips(head(*out));
    }
    yaz0RoundTrips(head(input));
    return 0;
}

int lz77FuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto out = lz77Decompress(input);
    if (out) lz77RoundTrips(head(*out));
    lz77RoundTrips(head(input));
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
#if defined(TPLFORGE_FUZZ_LZ77)
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return lz77FuzzOne(data, size); }
#else
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return yaz0FuzzOne(data, size); }
#endif
#endif
