// CMPR on the 1024 × 1024 photo: decode, encode at each quality on 1 and 2 threads,
// and two DXT1 encoders of the same 4 × 4 blocks as the floor to beat. Counters:
// Mpx/s, and PSNR over R, G, B of the console's decode against the photo. The DXT1
// peers are scored decoded the PC way (1/3 – 2/3, squish's decoder), as they are
// meant to be read; "PSNR_console" is the same blocks repacked for GX and decoded
// as the console would, which shows what fitting the wrong blend costs.
// Wall time throughout, since the threaded encodes work off the calling thread too.
#include <benchmark/benchmark.h>
#include <spng.h>
#include <squish.h>
#include <stb_dxt.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/gx/cmpr.h"
#include "tplforge/format.h"

namespace {

using namespace tplforge;

struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

Picture readPng(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw std::runtime_error("cannot open " + path);
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_file(ctx, file);
    Picture picture;
    spng_ihdr ihdr{};
    std::size_t size = 0;
    int err = spng_get_ihdr(ctx, &ihdr);
    if (!err) err = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    if (!err) {
        picture.width = ihdr.width, picture.height = ihdr.height;
        picture.rgba.resize(size);
        err = spng_decode_image(ctx, picture.rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    }
    spng_ctx_free(ctx);
    std::fclose(file);
    if (err) throw std::runtime_error(path + ": " + spng_strerror(err));
    return picture;
}

const Picture& photo() {
    static const Picture picture = readPng(TPLFORGE_BENCH_DATA "/photo-1024.png");
    return picture;
}

double pixels() { return double(photo().width) * photo().height; }

void rates(benchmark::State& state, double psnr) {
    state.counters["Mpx/s"] = benchmark::Counter(pixels() * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["PSNR"] = psnr;
}

void BM_CmprEncode(benchmark::State& state) {
    const Picture& in = photo();
    const auto quality = static_cast<cmpr::Quality>(state.range(0));
    const auto threads = static_cast<unsigned>(state.range(1));
    std::vector<std::uint8_t> out(levelBytes(Format::CMPR, in.width, in.height));
    for (auto _ : state) {
        cmpr::encodeLevel(in.rgba, in.width, in.height, quality, threads, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    std::vector<std::uint8_t> back(in.rgba.size());
    cmpr::decodeLevel(out, in.width, in.height, back);
    rates(state, cmpr::rgbPsnr(in.rgba, back));
}

void BM_CmprDecode(benchmark::State& state) {
    const Picture& in = photo();
    std::vector<std::uint8_t> data(levelBytes(Format::CMPR, in.width, in.height));
    cmpr::encodeLevel(in.rgba, in.width, in.height, cmpr::Quality::Fast, 2, data);
    std::vector<std::uint8_t> back(in.rgba.size());
    for (auto _ : state) {
        cmpr::decodeLevel(data, in.width, in.height, back);
        benchmark::DoNotOptimize(back.data());
        benchmark::ClobberMemory();
    }
    rates(state, cmpr::rgbPsnr(in.rgba, back));
}

// DXT1 blocks in raster order of 4 × 4 blocks, as squish lays them out.
std::vector<std::uint8_t> dxt1Blocks(const Picture& in, int squishFlags, bool useStb) {
    const std::uint32_t across = in.width / 4, down = in.height / 4;
    std::vector<std::uint8_t> blocks(std::size_t{across} * down * 8);
    if (!useStb) {
        squish::CompressImage(in.rgba.data(), int(in.width), int(in.height), blocks.data(), squishFlags);
        return blocks;
    }
    std::uint8_t texels[64];
    for (std::uint32_t by = 0; by < down; ++by)
        for (std::uint32_t bx = 0; bx < across; ++bx) {
            for (int y = 0; y < 4; ++y)
                std::memcpy(texels + 16 * y, &in.rgba[((std::size_t{by} * 4 + y) * in.width + bx * 4) * 4], 16);
            stb_compress_dxt_block(&blocks[(std::size_t{by} * across + bx) * 8], texels, 0, STB_DXT_HIGHQUAL);
        }
    return blocks;
}

// The same DXT1 blocks as a GX CMPR level: words byte-swapped, row fields reversed.
double consolePsnr(const Picture& in, const std::vector<std::uint8_t>& blocks) {
    const std::uint32_t across = in.width / 4;
    std::vector<std::uint8_t> gx(levelBytes(Format::CMPR, in.width, in.height));
    for (std::size_t b = 0; b < blocks.size() / 8; ++b) {
        const std::size_t bx = b % across, by = b / across;
        std::uint8_t* sub = &gx[((by / 2) * (across / 2) + bx / 2) * 32 + ((by & 1) * 2 + (bx & 1)) * 8];
        const std::uint8_t* pc = &blocks[b * 8];
        sub[0] = pc[1], sub[1] = pc[0], sub[2] = pc[3], sub[3] = pc[2];
        for (int r = 0; r < 4; ++r) {
            const std::uint8_t v = pc[4 + r];
            sub[4 + r] = static_cast<std::uint8_t>((v & 3) << 6 | ((v >> 2) & 3) << 4 | ((v >> 4) & 3) << 2 | v >> 6);
        }
    }
    std::vector<std::uint8_t> back(in.rgba.size());
    cmpr::decodeLevel(gx, in.width, in.height, back);
    return cmpr::rgbPsnr(in.rgba, back);
}

void peer(benchmark::State& state, int squishFlags, bool useStb) {
    const Picture& in = photo();
    std::vector<std::uint8_t> blocks;
    for (auto _ : state) {
        blocks = dxt1Blocks(in, squishFlags, useStb);
        benchmark::DoNotOptimize(blocks.data());
    }
    std::vector<std::uint8_t> back(in.rgba.size());
    squish::DecompressImage(back.data(), int(in.width), int(in.height), blocks.data(), squish::kDxt1);
    rates(state, cmpr::rgbPsnr(in.rgba, back));
    state.counters["PSNR_console"] = consolePsnr(in, blocks);
}

void BM_StbDxtHighQuality(benchmark::State& state) { peer(state, 0, true); }
void BM_SquishRangeFit(benchmark::State& state) { peer(state, squish::kDxt1 | squish::kColourRangeFit, false); }

void qualities(benchmark::internal::Benchmark* b) {
    b->ArgNames({"quality", "threads"});
    for (int q = 0; q < 3; ++q)
        for (int t = 1; t <= 2; ++t) b->Args({q, t});
}

}  // namespace

BENCHMARK(BM_CmprDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CmprEncode)->Apply(qualities)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbDxtHighQuality)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SquishRangeFit)->Unit(benchmark::kMillisecond)->UseRealTime();
