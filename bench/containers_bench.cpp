// Archives of real size: Yaz0 both ways (each compressor mode, and the ratio it
// reaches) on a U8 of the project's own textures, about 2 MiB of TPLs made from
// the format fixtures at several sizes, beside a memcpy of the same bytes; LZ77
// on a banner-sized part; and every texture of a 100-member .szs decoded,
// beside decoding the same TPLs without the archive around them. Bytes are the
// decompressed bytes, so bytes_per_second reads as MB/s of archive.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tplforge/archive.h"
#include "tplforge/containers.h"
#include "tplforge/file_io.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;

const std::filesystem::path kFixtures = std::filesystem::path(TPLFORGE_BENCH_DATA) / ".." / ".." / "tests" / "codec" /
                                        "data" / "formats";

// Bilinear, so that an upscaled fixture has gradients as textures do, not blocks.
Image resized(const Image& in, std::uint32_t w, std::uint32_t h) {
    Image out(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const float fx = std::max(0.0f, (x + 0.5f) * in.width / w - 0.5f);
            const float fy = std::max(0.0f, (y + 0.5f) * in.height / h - 0.5f);
            const std::uint32_t x0 = std::min(static_cast<std::uint32_t>(fx), in.width - 1);
            const std::uint32_t y0 = std::min(static_cast<std::uint32_t>(fy), in.height - 1);
            const std::uint32_t x1 = std::min(x0 + 1, in.width - 1), y1 = std::min(y0 + 1, in.height - 1);
            const float ax = fx - x0, ay = fy - y0;
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](std::uint32_t px, std::uint32_t py) { return in.rgba[(py * in.width + px) * 4 + c]; };
                const float top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
                const float bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
                out.rgba[(y * w + x) * 4 + c] = static_cast<std::uint8_t>(top * (1 - ay) + bottom * ay + 0.5f);
            }
        }
    return out;
}

struct Fixture {
    std::string name;
    Format format;
    Image picture;
};

std::vector<Fixture> fixtures() {
    std::vector<Fixture> out;
    for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() != ".png" || stem.find('.') != std::string::npos) continue;
        const auto format = formatFromName(stem.substr(0, stem.find('-')));
        const auto picture = readPng(*readWholeFile(entry.path().string()));
        if (format && picture) out.push_back({stem, *format, *picture});
    }
    std::sort(out.begin(), out.end(), [](const Fixture& a, const Fixture& b) { return a.name < b.name; });
    return out;
}

std::vector<std::uint8_t> tplOf(const Fixture& f, std::uint32_t side, bool mipmaps) {
    const Image picture = resized(f.picture, side, std::max<std::uint32_t>(4, side * f.picture.height / f.picture.width / 4 * 4));
    TextureInput input;
    input.picture = &picture;
    input.options.format = f.format;
    input.options.paletteFormat = PaletteFormat::RGB5A3;
    input.options.threads = 1;
    input.levels = mipmaps ? levelsPossible(f.format, picture.width, picture.height) : 1;
    return *encodeTpl(std::span(&input, 1));
}

struct Archive {
    std::vector<std::vector<std::uint8_t>> tpls;
    std::vector<std::uint8_t> u8;
};

Archive archiveOf(std::size_t count, std::size_t bytes, std::initializer_list<std::uint32_t> sides) {
    static const std::vector<Fixture> all = fixtures();
    Archive a;
    std::vector<NewMember> members;
    std::size_t total = 0;
    for (std::size_t round = 0; a.tpls.size() < count && total < bytes; ++round)
        for (const std::uint32_t side : sides)
            for (const Fixture& f : all) {
                if (a.tpls.size() >= count || total >= bytes) break;
                a.tpls.push_back(tplOf(f, side, (round + side) % 2 == 0));
                total += a.tpls.back().size();
            }
    for (std::size_t k = 0; k < a.tpls.size(); ++k)
        members.push_back({"timg/t" + std::to_string(k) + ".tpl", a.tpls[k]});
    a.u8 = *buildU8(members);
    return a;
}

const Archive& twoMiB() {
    static const Archive a = archiveOf(100000, std::size_t{2} << 20, {64, 128, 256, 512});
    return a;
}

std::vector<std::uint8_t> compressed(const std::vector<std::uint8_t>& data, Yaz0Mode mode) {
    Yaz0Options options;
    options.mode = mode;
    return *yaz0Compress(data, options);
}

void BM_Memcpy2MiB(benchmark::State& state) {
    const auto& data = twoMiB().u8;
    std::vector<std::uint8_t> copy(data.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), data.data(), data.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Memcpy2MiB);

void BM_Yaz0Compress(benchmark::State& state, Yaz0Mode mode) {
    const auto& data = twoMiB().u8;
    std::size_t size = 0;
    for (auto _ : state) {
        const auto out = compressed(data, mode);
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
    state.counters["archive_bytes"] = static_cast<double>(data.size());
    state.counters["compressed_bytes"] = static_cast<double>(size);
    state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(data.size());
}
BENCHMARK_CAPTURE(BM_Yaz0Compress, nintendo, Yaz0Mode::Nintendo)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Yaz0Compress, smallest, Yaz0Mode::Smallest)->Unit(benchmark::kMillisecond);

void BM_Yaz0Decompress(benchmark::State& state) {
    const auto& data = twoMiB().u8;
    const auto file = compressed(data, Yaz0Mode::Nintendo);
    std::vector<std::uint8_t> out(data.size());
    for (auto _ : state) {
        const auto done = yaz0DecompressInto(file, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(done.ok());
        benchmark::ClobberMemory();
    }
    if (out != data) state.SkipWithError("decompressed bytes differ");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Yaz0Decompress);

// A banner part: about 300 KiB of banner textures.
const std::vector<std::uint8_t>& bannerPart() {
    static const std::vector<std::uint8_t> part = archiveOf(100000, 300 << 10, {64, 128}).u8;
    return part;
}

void BM_Lz77Compress(benchmark::State& state) {
    const auto& data = bannerPart();
    std::size_t size = 0;
    for (auto _ : state) {
        const auto out = lz77Compress(data);
        size = out->size();
        benchmark::DoNotOptimize(out->data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
    state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(data.size());
}
BENCHMARK(BM_Lz77Compress)->Unit(benchmark::kMillisecond);

void BM_Lz77Decompress(benchmark::State& state) {
    const auto& data = bannerPart();
    const auto stream = *lz77Compress(data);
    for (auto _ : state) {
        const auto out = lz77Decompress(stream);
        benchmark::DoNotOptimize(out->data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_Lz77Decompress);

const Archive& hundred() {
    static const Archive a = archiveOf(100, ~std::size_t{0}, {32, 64, 128});
    return a;
}

// Every level of every texture to RGBA; returns the pixels made.
std::size_t decodeAll(std::span<const std::uint8_t> tpl) {
    std::size_t pixels = 0;
    const auto textures = readTextures(tpl, FileKind::Tpl);
    if (!textures) return 0;
    for (const TextureEntry& t : *textures)
        for (unsigned level = 0; level < t.view.levels.size(); ++level) {
            const auto picture = decodeLevel(t.view, level);
            if (!picture) continue;
            pixels += picture->rgba.size() / 4;
            benchmark::DoNotOptimize(picture->rgba.data());
        }
    return pixels;
}

void BM_DecodeArchiveOf100(benchmark::State& state) {
    const auto file = compressed(hundred().u8, Yaz0Mode::Nintendo);
    std::size_t pixels = 0;
    for (auto _ : state) {
        pixels = 0;
        const auto walked = walkTextureMembers(file, "menu.szs", [&](FoundMember&& m) { pixels += decodeAll(m.member.bytes); });
        benchmark::DoNotOptimize(walked.ok());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(hundred().u8.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pixels));
    state.counters["szs_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_DecodeArchiveOf100)->Unit(benchmark::kMillisecond);

void BM_DecodeSameTexturesAlone(benchmark::State& state) {
    std::size_t pixels = 0;
    for (auto _ : state) {
        pixels = 0;
        for (const auto& tpl : hundred().tpls) pixels += decodeAll(tpl);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(hundred().u8.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pixels));
}
BENCHMARK(BM_DecodeSameTexturesAlone)->Unit(benchmark::kMillisecond);

}  // namespace
