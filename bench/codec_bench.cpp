// Texture codec and Targa reader throughput on a 1024 × 1024 picture, with a plain
// copy of the same 4 MiB raster as the yardstick. Items are pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "codec/bytes.h"
#include "codec/raster.h"
#include "tplforge/targa.h"
#include "tpl/tpl_file.h"

namespace {

using namespace tplforge;

constexpr int kSide = 1024;
constexpr std::int64_t kPixels = std::int64_t{kSide} * kSide;

// Random colours with a sprinkling of the alpha colour, so the RGB5A3 key test
// goes both ways.
Raster noise() {
    Raster raster(kSide, kSide);
    std::mt19937 rng(1234);
    for (ColourValue& c : raster.pixels) c = (rng() % 8 == 0) ? kWhite : (rng() & 0xFFFFFF);
    return raster;
}

const Raster& picture() {
    static const Raster raster = noise();
    return raster;
}

void encode(benchmark::State& state, TextureFormat format) {
    const Raster& raster = picture();
    std::vector<std::uint8_t> out(2 * static_cast<std::size_t>(kPixels));
    for (auto _ : state) {
        encodeTextureInto(raster, format, kWhite, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * kPixels * 4);
}

void decode(benchmark::State& state, TextureFormat format) {
    const TextureInput input{&picture(), format, kWhite};
    const std::vector<std::uint8_t> file = buildTpl(std::span(&input, 1)).value();
    const TplImage image = parseTpl(file)->images.at(0);
    for (auto _ : state) {
        auto texture = decodeTexture(file, image);
        benchmark::DoNotOptimize(texture->raster.pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * kPixels * 4);
}

void BM_EncodeRgb565(benchmark::State& state) { encode(state, TextureFormat::RGB565); }
void BM_EncodeRgb5a3(benchmark::State& state) { encode(state, TextureFormat::RGB5A3); }
void BM_DecodeRgb565(benchmark::State& state) { decode(state, TextureFormat::RGB565); }
void BM_DecodeRgb5a3(benchmark::State& state) { decode(state, TextureFormat::RGB5A3); }

// An uncompressed 24-bit, bottom-up Targa of the benchmark picture.
std::vector<std::uint8_t> targa24() {
    const Raster& raster = picture();
    ByteWriter out(18 + 3 * static_cast<std::size_t>(kPixels));
    out.u8(0);   // no image ID
    out.u8(0);   // no colour map
    out.u8(2);   // uncompressed true colour
    out.zeros(5);
    out.u16le(0);
    out.u16le(0);
    out.u16le(kSide);
    out.u16le(kSide);
    out.u8(24);
    out.u8(0);   // bottom-left origin
    for (int y = kSide - 1; y >= 0; --y)
        for (int x = 0; x < kSide; ++x) {
            const ColourValue c = raster.at(x, y);
            out.u8(static_cast<std::uint8_t>(blueOf(c)));
            out.u8(static_cast<std::uint8_t>(greenOf(c)));
            out.u8(static_cast<std::uint8_t>(redOf(c)));
        }
    return out.take();
}

void BM_ReadTarga24(benchmark::State& state) {
    const std::vector<std::uint8_t> file = targa24();
    for (auto _ : state) {
        auto raster = VBLoadTga(std::span<const std::uint8_t>(file));
        if (!raster) {
            state.SkipWithError("VBLoadTga refused the file");
            break;
        }
        benchmark::DoNotOptimize(raster->pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void BM_MemcpyRaster(benchmark::State& state) {
    const Raster& raster = picture();
    std::vector<ColourValue> copy(raster.pixels.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), raster.pixels.data(), raster.pixels.size() * sizeof(ColourValue));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * kPixels * 4);
}

}  // namespace

BENCHMARK(BM_EncodeRgb565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRgb5a3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRgb565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRgb5a3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTarga24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyRaster)->Unit(benchmark::kMillisecond);
