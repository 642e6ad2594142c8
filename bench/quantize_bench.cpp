// Palette quantizing of the 1024 × 1024 photo: time, and PSNR of what the console
// would show against the unquantised picture (R, G and B over all pixels).
//   palette: 1 RGB565, 2 RGB5A3 (the palette header's codes); quality: 0 Fast, 1 Normal, 2 Best
#include <benchmark/benchmark.h>
#include <spng.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "codec/gx/quantize.h"
#include "codec/gx/texel.h"

namespace {

using namespace tplforge;

std::optional<Image> loadPng(const std::filesystem::path& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return std::nullopt;
    const std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ihdr header{};
    std::size_t size = 0;
    if (!ctx || spng_set_png_file(ctx.get(), file.get()) != 0 || spng_get_ihdr(ctx.get(), &header) != 0 ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0)
        return std::nullopt;
    Image picture(header.width, header.height);
    if (size != picture.rgba.size() ||
        spng_decode_image(ctx.get(), picture.rgba.data(), size, SPNG_FMT_RGBA8, 0) != 0)
        return std::nullopt;
    return picture;
}

const std::optional<Image>& photo() {
    static const std::optional<Image> picture =
        loadPng(std::filesystem::path(__FILE__).parent_path() / "data" / "photo-1024.png");
    return picture;
}

double psnr(const Image& picture, const palette::Palette& palette, const std::vector<std::uint16_t>& indices) {
    double sum = 0;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const texel::Rgba shown = texel::decodeEntry(palette.format, palette.entries[indices[i]]);
        const std::uint8_t* p = &picture.rgba[4 * i];
        const double dr = p[0] - shown.r, dg = p[1] - shown.g, db = p[2] - shown.b;
        sum += dr * dr + dg * dg + db * db;
    }
    const double mse = sum / (3.0 * static_cast<double>(indices.size()));
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

void BM_Quantize(benchmark::State& state) {
    if (!photo()) {
        state.SkipWithError("bench/data/photo-1024.png could not be read");
        return;
    }
    const Image& picture = *photo();
    const palette::Options options{static_cast<PaletteFormat>(state.range(1)), static_cast<std::size_t>(state.range(0)),
                                   state.range(2) != 0, static_cast<palette::Quality>(state.range(3))};
    std::vector<std::uint16_t> indices(std::size_t{picture.width} * picture.height);
    palette::Palette result;
    for (auto _ : state) {
        result = palette::quantize(picture, options, indices);
        benchmark::DoNotOptimize(indices.data());
    }
    state.counters["PSNR_dB"] = psnr(picture, result, indices);
    state.counters["entries"] = static_cast<double>(result.entries.size());
}

BENCHMARK(BM_Quantize)
    ->ArgNames({"entries", "palette", "dither", "quality"})
    ->ArgsProduct({{16, 256}, {1, 2}, {0, 1}, {1}})
    ->ArgsProduct({{256}, {1}, {0}, {0, 2}})
    ->ArgsProduct({{16384}, {2}, {0, 1}, {1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
