// PNG on the 1024 × 1024 photo (8-bit RGB, 21 IDAT chunks, zlib level 6), in one
// run with its floors. Items are pixels (Mpx/s).
//   decode: readPng; libspng to RGBA with and without its CRC checks; the
//     photo's zlib stream alone inflated by ISA-L, libdeflate and zlib; a copy of
//     the 4 MiB of RGBA; the CRC-32 of the file and the Adler-32 of the stream.
//   CMPR fast of the photo on two threads: after reading it, and while reading it
//     (block rows encoded on a second thread as they come out of readPng).
//   encode: writePng at each level and libspng at zlib's levels, both with every
//     filter to choose from, of the photo as RGB; the counter "bytes" is the file size.
#include <benchmark/benchmark.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "codec/gx/cmpr.h"
#include "tplforge/format.h"
#include "tplforge/png.h"

namespace {

using namespace tplforge;
using Bytes = std::vector<std::uint8_t>;

const Bytes& photoFile() {
    static const Bytes file = [] {
        std::ifstream in(TPLFORGE_BENCH_DATA "/photo-1024.png", std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.empty()) throw std::runtime_error("cannot read photo-1024.png");
        return bytes;
    }();
    return file;
}

const Image& photo() {
    static const Image image = readPng(photoFile()).value();
    return image;
}

// The IDAT chunks' data, one after the other: the zlib stream.
const Bytes& photoStream() {
    static const Bytes stream = [] {
        const Bytes& f = photoFile();
        Bytes out;
        for (std::size_t at = 8; at + 12 <= f.size();) {
            const std::size_t n = std::size_t{f[at]} << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
            if (std::memcmp(&f[at + 4], "IDAT", 4) == 0) out.insert(out.end(), &f[at + 8], &f[at + 8 + n]);
            at += 12 + n;
        }
        return out;
    }();
    return stream;
}

std::size_t filteredSize() { return std::size_t{photo().height} * (3 * photo().width + 1); }

void perPixel(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * std::int64_t{photo().width} * photo().height);
}

void BM_PngDecode(benchmark::State& state) {
    for (auto _ : state) {
        auto image = readPng(photoFile());
        benchmark::DoNotOptimize(image->rgba.data());
    }
    perPixel(state);
}
BENCHMARK(BM_PngDecode);

void BM_PngDecodeLibspng(benchmark::State& state, bool crc) {
    Bytes out(photo().rgba.size());
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(crc ? 0 : SPNG_CTX_IGNORE_ADLER32);
        if (!crc) spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
        spng_set_png_buffer(ctx, photoFile().data(), photoFile().size());
        if (spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            state.SkipWithError("libspng refused the photo");
        spng_ctx_free(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(state);
}
BENCHMARK_CAPTURE(BM_PngDecodeLibspng, checked, true);
BENCHMARK_CAPTURE(BM_PngDecodeLibspng, unchecked, false);

void BM_InflateIsal(benchmark::State& state) {
    Bytes out(filteredSize());
    auto s = std::make_unique<inflate_state>();
    for (auto _ : state) {
        isal_inflate_init(s.get());
        s->crc_flag = ISAL_ZLIB;
        s->next_in = const_cast<std::uint8_t*>(photoStream().data());
        s->avail_in = static_cast<std::uint32_t>(photoStream().size());
        s->next_out = out.data();
        s->avail_out = static_cast<std::uint32_t>(out.size());
        if (isal_inflate(s.get()) != ISAL_DECOMP_OK || s->total_out != out.size()) state.SkipWithError("ISA-L");
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(state);
}
BENCHMARK(BM_InflateIsal);

void BM_InflateLibdeflate(benchmark::State& state) {
    Bytes out(filteredSize());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        if (libdeflate_zlib_decompress(d, photoStream().data(), photoStream().size(), out.data(), out.size(),
                                       nullptr) != LIBDEFLATE_SUCCESS)
            state.SkipWithError("libdeflate");
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    perPixel(state);
}
BENCHMARK(BM_InflateLibdeflate);

void BM_InflateZlib(benchmark::State& state) {
    Bytes out(filteredSize());
    for (auto _ : state) {
        uLongf size = out.size();
        if (uncompress(out.data(), &size, photoStream().data(), photoStream().size()) != Z_OK)
            state.SkipWithError("zlib");
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(state);
}
BENCHMARK(BM_InflateZlib);

void BM_MemcpyRgba(benchmark::State& state) {
    Bytes copy(photo().rgba.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), photo().rgba.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    perPixel(state);
}
BENCHMARK(BM_MemcpyRgba);

void BM_Crc32OfFile(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(libdeflate_crc32(0, photoFile().data(), photoFile().size()));
    perPixel(state);
}
BENCHMARK(BM_Crc32OfFile);

void BM_Adler32OfStream(benchmark::State& state) {
    Bytes rows(filteredSize());
    for (auto _ : state) benchmark::DoNotOptimize(libdeflate_adler32(1, rows.data(), rows.size()));
    perPixel(state);
}
BENCHMARK(BM_Adler32OfStream);

// CMPR fast on two threads, after the whole picture is read or while it is.
void BM_CmprAfterReading(benchmark::State& state) {
    Bytes out(levelBytes(Format::CMPR, 1024, 1024));
    for (auto _ : state) {
        const auto image = readPng(photoFile());
        cmpr::encodeLevel(image->rgba, image->width, image->height, Quality::Fast, 2, out);
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(state);
}
BENCHMARK(BM_CmprAfterReading)->UseRealTime();

void BM_CmprWhileReading(benchmark::State& state) {
    Bytes out(levelBytes(Format::CMPR, 1024, 1024));
    const std::size_t blockRowBytes = levelBytes(Format::CMPR, 1024, 8);
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable arrived;
        std::uint32_t ready = 0;
        // The buffer, not the Image: readPng hands the picture on by moving it.
        std::span<const std::uint8_t> rgba;
        std::atomic<std::uint32_t> next{0};
        const auto encodeRows = [&](bool waitForRows) {
            for (std::uint32_t r; (r = next.fetch_add(1)) < 128;) {
                if (waitForRows) {
                    std::unique_lock lock(mutex);
                    arrived.wait(lock, [&] { return ready >= 8 * r + 8; });
                }
                const auto rows = rgba.subspan(r * 8 * 4096, 8 * 4096);
                cmpr::encodeLevel(rows, 1024, 8, Quality::Fast, 1,
                                  std::span(out).subspan(r * blockRowBytes, blockRowBytes));
            }
        };
        std::jthread helper;
        const auto image = readPng(photoFile(), [&](const Image& im, std::uint32_t rows) {
            {
                std::lock_guard lock(mutex);
                rgba = im.rgba;
                ready = rows;
            }
            arrived.notify_all();
            if (!helper.joinable()) helper = std::jthread([&] { encodeRows(true); });
        });
        encodeRows(false);
        if (helper.joinable()) helper.join();
        benchmark::DoNotOptimize(image->rgba.data());
        benchmark::DoNotOptimize(out.data());
    }
    perPixel(state);
}
BENCHMARK(BM_CmprWhileReading)->UseRealTime();

void BM_PngEncode(benchmark::State& state) {
    const int level = static_cast<int>(state.range(0));
    std::size_t size = 0;
    for (auto _ : state) {
        const auto file = writePng(photo(), PngChannels::Rgb, level);
        size = file->size();
        benchmark::DoNotOptimize(file->data());
    }
    state.counters["bytes"] = static_cast<double>(size);
    perPixel(state);
}
BENCHMARK(BM_PngEncode)->DenseRange(0, 9);

void BM_PngEncodeLibspng(benchmark::State& state) {
    const int level = static_cast<int>(state.range(0));
    Bytes rgb;
    for (std::size_t i = 0; i < photo().rgba.size(); i += 4) rgb.insert(rgb.end(), &photo().rgba[i], &photo().rgba[i + 3]);
    std::size_t size = 0;
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
        spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL);
        spng_ihdr ihdr{photo().width, photo().height, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
        spng_set_ihdr(ctx, &ihdr);
        if (spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0)
            state.SkipWithError("libspng");
        int error = 0;
        void* bytes = spng_get_png_buffer(ctx, &size, &error);
        spng_ctx_free(ctx);
        std::free(bytes);
    }
    state.counters["bytes"] = static_cast<double>(size);
    perPixel(state);
}
BENCHMARK(BM_PngEncodeLibspng)->Arg(1)->Arg(3)->Arg(4)->Arg(6)->Arg(9);

}  // namespace
