// What naming a texture for Dolphin costs: XXH64 over level 0 (the bulk of it)
// beside memcpy of the same bytes, at sizes from a small icon to a 1024 × 1024
// RGBA8 level; and dolphinName itself, plain and with a C8 palette's index scan.
// bytes_per_second reads as MB/s of texels.
#include <benchmark/benchmark.h>
#include <xxhash.h>

#include <cstring>
#include <vector>

#include "tplforge/dolphin.h"

namespace {

using namespace tplforge;

std::vector<std::uint8_t> texels(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    return out;
}

void BM_Xxh64(benchmark::State& state) {
    const auto data = texels(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(XXH64(data.data(), data.size(), 0));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Xxh64)->Arg(4 << 10)->Arg(64 << 10)->Arg(4 << 20);

void BM_MemcpySameBytes(benchmark::State& state) {
    const auto data = texels(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> copy(data.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), data.data(), data.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemcpySameBytes)->Arg(4 << 10)->Arg(64 << 10)->Arg(4 << 20);

void BM_DolphinName(benchmark::State& state, Format format, std::uint32_t side) {
    const auto data = texels(levelBytes(format, side, side));
    std::vector<std::uint8_t> words(512);
    TextureView view;
    view.format = format;
    view.width = view.height = side;
    view.levels = {data};
    if (isPaletteFormat(format)) view.palette = PaletteView{PaletteFormat::RGB5A3, 256, words};
    for (auto _ : state) benchmark::DoNotOptimize(dolphinName(view, {}));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK_CAPTURE(BM_DolphinName, rgba8_1024, Format::RGBA8, 1024);
BENCHMARK_CAPTURE(BM_DolphinName, c8_1024, Format::C8, 1024);
BENCHMARK_CAPTURE(BM_DolphinName, cmpr_64, Format::CMPR, 64);

}  // namespace
