// Texel codec throughput on a 1024 × 1024 picture, each format both ways, with a
// plain copy of the same 4 MiB RGBA raster in the same run as the floor. Items
// are pixels, so Google Benchmark's items_per_second reads as pixels a second;
// bench/codec-table turns a JSON run into Mpx/s and the ratio to the copy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "window_rules/window_raster.h"
#include "window_rules/window_rules.h"
#include "tplforge/texture.h"
#include "tplforge/tpl.h"

namespace {

using namespace tplforge;

constexpr std::uint32_t kSide = 1024;
constexpr std::int64_t kPixels = std::int64_t{kSide} * kSide;

// Random colours; the bottom half has random alpha so that both RGB5A3 forms
// turn up, the top half is opaque as most textures are.
const Image& picture() {
    static const Image image = [] {
        Image im(kSide, kSide);
        std::mt19937 rng(1234);
        for (std::size_t i = 0; i < im.rgba.size(); i += 4) {
            const std::uint32_t v = rng();
            im.rgba[i] = static_cast<std::uint8_t>(v);
            im.rgba[i + 1] = static_cast<std::uint8_t>(v >> 8);
            im.rgba[i + 2] = static_cast<std::uint8_t>(v >> 16);
            im.rgba[i + 3] = i < im.rgba.size() / 2 ? 255 : static_cast<std::uint8_t>(v >> 24);
        }
        return im;
    }();
    return image;
}

// The window's pictures: random colours with a sprinkling of the alpha colour,
// so the RGB5A3 key goes both ways.
const WindowRaster& raster() {
    static const WindowRaster r = [] {
        WindowRaster out(static_cast<int>(kSide), static_cast<int>(kSide));
        std::mt19937 rng(99);
        for (ColourValue& c : out.pixels) c = (rng() % 8 == 0) ? kWhite : (rng() & 0xFFFFFF);
        return out;
    }();
    return r;
}

void countPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * kPixels * 4);
}

void BM_Memcpy(benchmark::State& state) {
    const Image& in = picture();
    std::vector<std::uint8_t> copy(in.rgba.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), in.rgba.data(), in.rgba.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}
BENCHMARK(BM_Memcpy);

void BM_Encode(benchmark::State& state, Format format) {
    EncodeOptions options;
    options.format = format;
    std::vector<std::uint8_t> out(levelBytes(format, kSide, kSide));
    for (auto _ : state) {
        if (!encodeTexels(picture(), options, out)) return state.SkipWithError("encode refused");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

void BM_Decode(benchmark::State& state, Format format) {
    EncodeOptions options;
    options.format = format;
    std::vector<std::uint8_t> data(levelBytes(format, kSide, kSide));
    if (!encodeTexels(picture(), options, data)) return state.SkipWithError("encode refused");
    std::vector<std::uint8_t> rgba(picture().rgba.size());
    for (auto _ : state) {
        if (!decodeTexels(format, data, kSide, kSide, nullptr, rgba)) return state.SkipWithError("decode refused");
        benchmark::DoNotOptimize(rgba.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

std::vector<std::uint16_t> randomIndices(std::uint32_t entries) {
    std::vector<std::uint16_t> indices(kPixels);
    std::mt19937 rng(7);
    for (std::uint16_t& i : indices) i = static_cast<std::uint16_t>(rng() % entries);
    return indices;
}

void BM_PackIndices(benchmark::State& state, Format format) {
    const std::vector<std::uint16_t> indices = randomIndices(formatInfo(format).maxPaletteEntries);
    std::vector<std::uint8_t> out(levelBytes(format, kSide, kSide));
    for (auto _ : state) {
        // packIndices fills bytes that start at zero, as a new file's do.
        std::memset(out.data(), 0, out.size());
        if (!packIndices(format, indices, kSide, kSide, out)) return state.SkipWithError("pack refused");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

void BM_DecodePalette(benchmark::State& state, Format format) {
    const std::uint32_t entries = formatInfo(format).maxPaletteEntries;
    const std::vector<std::uint16_t> indices = randomIndices(entries);
    std::vector<std::uint8_t> data(levelBytes(format, kSide, kSide));
    if (!packIndices(format, indices, kSide, kSide, data)) return state.SkipWithError("pack refused");
    std::vector<std::uint8_t> words(2 * entries);
    std::mt19937 rng(11);
    for (std::uint8_t& b : words) b = static_cast<std::uint8_t>(rng());
    const PaletteView palette{PaletteFormat::RGB5A3, entries, words};
    std::vector<std::uint8_t> rgba(picture().rgba.size());
    for (auto _ : state) {
        if (!decodeTexels(format, data, kSide, kSide, &palette, rgba)) return state.SkipWithError("decode refused");
        benchmark::DoNotOptimize(rgba.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

void BM_WindowEncode(benchmark::State& state, bool rgb5a3) {
    const window_rules::Texture texture{&raster(), rgb5a3, kWhite};
    std::vector<std::uint8_t> out(2 * static_cast<std::size_t>(kPixels));
    for (auto _ : state) {
        if (!window_rules::encodeTexture(texture, out)) return state.SkipWithError("encode refused");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

// Through the public entry point, which hands back a new raster each time.
void BM_WindowDecode(benchmark::State& state, bool rgb5a3) {
    const window_rules::Texture texture{&raster(), rgb5a3, kWhite};
    const std::vector<std::uint8_t> file = window_rules::buildTpl(std::span(&texture, 1)).value();
    const TplImageHeader image = parseTpl(file)->images.at(0);
    for (auto _ : state) {
        auto decoded = window_rules::decodeTexture(file, image);
        benchmark::DoNotOptimize(decoded->raster.pixels.data());
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

BENCHMARK_CAPTURE(BM_Encode, I4, Format::I4);
BENCHMARK_CAPTURE(BM_Decode, I4, Format::I4);
BENCHMARK_CAPTURE(BM_Encode, I8, Format::I8);
BENCHMARK_CAPTURE(BM_Decode, I8, Format::I8);
BENCHMARK_CAPTURE(BM_Encode, IA4, Format::IA4);
BENCHMARK_CAPTURE(BM_Decode, IA4, Format::IA4);
BENCHMARK_CAPTURE(BM_Encode, IA8, Format::IA8);
BENCHMARK_CAPTURE(BM_Decode, IA8, Format::IA8);
BENCHMARK_CAPTURE(BM_Encode, RGB565, Format::RGB565);
BENCHMARK_CAPTURE(BM_Decode, RGB565, Format::RGB565);
BENCHMARK_CAPTURE(BM_Encode, RGB5A3, Format::RGB5A3);
BENCHMARK_CAPTURE(BM_Decode, RGB5A3, Format::RGB5A3);
BENCHMARK_CAPTURE(BM_Encode, RGBA8, Format::RGBA8);
BENCHMARK_CAPTURE(BM_Decode, RGBA8, Format::RGBA8);
BENCHMARK_CAPTURE(BM_PackIndices, C4, Format::C4);
BENCHMARK_CAPTURE(BM_DecodePalette, C4, Format::C4);
BENCHMARK_CAPTURE(BM_PackIndices, C8, Format::C8);
BENCHMARK_CAPTURE(BM_DecodePalette, C8, Format::C8);
BENCHMARK_CAPTURE(BM_PackIndices, C14X2, Format::C14X2);
BENCHMARK_CAPTURE(BM_DecodePalette, C14X2, Format::C14X2);
BENCHMARK_CAPTURE(BM_WindowEncode, RGB565, false);
BENCHMARK_CAPTURE(BM_WindowDecode, RGB565, false);
BENCHMARK_CAPTURE(BM_WindowEncode, RGB5A3, true);
BENCHMARK_CAPTURE(BM_WindowDecode, RGB5A3, true);

}  // namespace
