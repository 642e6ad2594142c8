// Differential fuzz target: readPng against libspng on the same bytes. Both give
// the same pixels, or both refuse the file.
//
// libspng is asked to read as far as readPng does (every chunk up to IEND) and
// with CRCs checked. It also judges the ancillary chunks that carry no pixels
// (text, gamma, times ...), which readPng skips unread; it is given the file with
// those chunks left out, so that only what the pixels depend on is compared.
// Where libspng stops reading sooner (a stream that holds more than the rows, or
// lacks its checksum; a file cut inside IEND), its reading counts as a refusal.
//
// Random changes to a PNG nearly always break a chunk's CRC, and both readers
// refuse it at once. The mutator below mostly makes the CRCs right again after
// changing the file, and often changes the rows inside the zlib stream and
// compresses them anew, so that the filters, depths and palettes are compared.
#include <libdeflate.h>
#include <spng.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "tplforge/bytes.h"
#include "fuzz_entry.h"
#include "tplforge/png.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 18;

// An 8-bit RGB key colour with a sample above 255: libspng matches its low
// bytes, while readPng lets it match nothing, as libspng itself does with a grey
// key out of range.
bool keyOutOfRange(std::span<const std::uint8_t> header, std::span<const std::uint8_t> chunk) {
    if (std::memcmp(&header[4], "IHDR", 4) != 0 || header.size() < 12 + 13 || header[16] != 8 || header[17] != 2)
        return false;
    if (std::memcmp(&chunk[4], "tRNS", 4) != 0 || chunk.size() != 12 + 6) return false;
    return chunk[8] != 0 || chunk[10] != 0 || chunk[12] != 0;
}

// The file without the whole ancillary chunks other than tRNS, nor such keys,
// or as it is when its chunks cannot be walked to the end. A chunk that splits
// the image data stays: both readers are to judge the gap.
Bytes withoutSkippedChunks(std::span<const std::uint8_t> file) {
    tplforge::ByteReader in(file);
    if (!in.skip(8)) return Bytes(file.begin(), file.end());
    std::vector<std::span<const std::uint8_t>> chunks;
    std::size_t firstData = SIZE_MAX, lastData = 0;
    while (in.remaining() > 0) {
        const std::size_t at = in.position();
        const auto length = in.u32be();
        const auto rest = length && *length <= 0x7FFFFFFF ? in.bytes(std::size_t{*length} + 8) : std::nullopt;
        if (!rest) return Bytes(file.begin(), file.end());
        chunks.push_back(file.subspan(at, std::size_t{*length} + 12));
        if (std::memcmp(&chunks.back()[4], "IDAT", 4) == 0)
            firstData = std::min(firstData, chunks.size() - 1), lastData = chunks.size() - 1;
        if (std::memcmp(&chunks.back()[4], "IEND", 4) == 0) break;
    }
    Bytes out(file.begin(), file.begin() + 8);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const auto chunk = chunks[i];
        const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, &chunk[4], chunk.size() - 8));
        const std::uint32_t stored = std::uint32_t{chunk[chunk.size() - 4]} << 24 | chunk[chunk.size() - 3] << 16 |
                                     chunk[chunk.size() - 2] << 8 | chunk[chunk.size() - 1];
        // a damaged chunk stays, for libspng to refuse as readPng does
        // the first chunk stays whatever it is, for both to judge whether it is IHDR
        const bool skipped = i > 0 && crc == stored && !(i > firstData && i < lastData) &&
                             (((chunk[4] & 0x20) != 0 && std::memcmp(&chunk[4], "tRNS", 4) != 0) ||
                              keyOutOfRange(chunks[0], chunk));
        if (!skipped) out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// readPng insists on a whole IEND chunk; libspng stops reading once it has seen
// IEND's type.
bool hasWholeEnd(const Bytes& file) {
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t n = std::size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (std::memcmp(&file[at + 4], "IEND", 4) == 0) return true;
        at += 12 + n;
    }
    return false;
}

// readPng refuses a zlib stream that is not exactly the rows, checksum included;
// libspng reads as far as the rows take it and stops.
std::size_t filteredSize(const spng_ihdr& h) {
    const unsigned channels = h.color_type == 2 ? 3 : h.color_type == 4 ? 2 : h.color_type == 6 ? 4 : 1;
    const auto rowBytes = [&](std::uint64_t w) { return (w * channels * h.bit_depth + 7) / 8; };
    if (h.interlace_method == 0) return (rowBytes(h.width) + 1) * h.height;
    static constexpr std::uint32_t kX[] = {0, 4, 0, 2, 0, 1, 0}, kY[] = {0, 0, 4, 0, 2, 0, 1};
    static constexpr std::uint32_t kDx[] = {8, 8, 4, 4, 2, 2, 1}, kDy[] = {8, 8, 8, 4, 4, 2, 2};
    std::size_t size = 0;
    for (int p = 0; p < 7; ++p) {
        const std::uint64_t w = h.width > kX[p] ? (h.width - kX[p] + kDx[p] - 1) / kDx[p] : 0;
        const std::uint64_t rows = h.height > kY[p] ? (h.height - kY[p] + kDy[p] - 1) / kDy[p] : 0;
        if (w > 0) size += (rowBytes(w) + 1) * rows;
    }
    return size;
}

bool streamIsNot(const Bytes& file, std::size_t size) {
    Bytes stream;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t n = std::size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) stream.insert(stream.end(), &file[at + 8], &file[at + 8 + n]);
        at += 12 + n;
    }
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    Bytes out(size + 1);
    std::size_t got = 0;
    const auto status = libdeflate_zlib_decompress(d, stream.data(), stream.size(), out.data(), out.size(), &got);
    libdeflate_free_decompressor(d);
    return status != LIBDEFLATE_SUCCESS || got != size;
}

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

// libspng's RGBA, 16-bit samples rounded to 8 as readPng rounds them; empty
// when it refuses the file.
Bytes spngPixels(const Bytes& file) {
    std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(0));
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    spng_set_chunk_limits(ctx.get(), std::size_t{1} << 26, std::size_t{1} << 26);
    spng_set_png_buffer(ctx.get(), file.data(), file.size());
    spng_ihdr h{};
    if (spng_get_ihdr(ctx.get(), &h) != 0) return {};
    if (std::uint64_t{h.width} * h.height > tplforge::kMaxPicturePixels) return {};
    std::size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA16, &size) != 0) return {};
    std::vector<std::uint16_t> wide(size / 2);
    if (spng_decode_image(ctx.get(), wide.data(), size, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS) != 0) return {};
    if (spng_decode_chunks(ctx.get()) != 0 || !hasWholeEnd(file) || streamIsNot(file, filteredSize(h))) return {};
    Bytes out(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) out[i] = static_cast<std::uint8_t>((wide[i] * 255u + 32767u) / 65535u);
    return out;
}

}  // namespace

int pngDiffFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    // Large pictures are the plain target's; here they would only slow each run.
    tplforge::ByteReader in(file);
    in.skip(16);
    const auto width = in.u32be(), height = in.u32be();
    if (width && height && std::uint64_t{*width} * *height > kMostPixels) return 0;
    const auto ours = tplforge::readPng(file);
    const Bytes theirs = tplforge::isPng(file) ? spngPixels(withoutSkippedChunks(file)) : Bytes{};
    if (ours.ok() != !theirs.empty()) std::abort();
    if (ours && ours->rgba != theirs) std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

struct Chunk {
    std::size_t at, length;  // of the whole chunk, and of its data
};

// The chunks as far as they can be walked.
std::vector<Chunk> chunksOf(std::span<const std::uint8_t> file) {
    std::vector<Chunk> chunks;
    tplforge::ByteReader in(file);
    if (!in.skip(8)) return chunks;
    while (in.remaining() >= 12) {
        const std::size_t at = in.position();
        const auto length = in.u32be();
        if (!length || !in.skip(4) || !in.skip(*length) || !in.skip(4)) break;
        chunks.push_back({at, *length});
    }
    return chunks;
}

void fixCrcs(std::span<std::uint8_t> file) {
    for (const Chunk& c : chunksOf(file)) {
        const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, &file[c.at + 4], c.length + 4));
        for (int k = 0; k < 4; ++k) file[c.at + 8 + c.length + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    }
}

void putChunk(Bytes& out, const char* type, std::span<const std::uint8_t> data) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(data.size() >> (24 - 8 * k)));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), 4, 0);  // CRC, made right after
}

// The rows of the zlib stream changed and compressed again, in IDAT chunks of a
// random size in place of the old ones; empty when the stream does not inflate.
Bytes withRowsChanged(std::span<const std::uint8_t> file, std::size_t maxSize, std::minstd_rand& rng) {
    const auto chunks = chunksOf(file);
    Bytes stream;
    for (const Chunk& c : chunks)
        if (std::memcmp(&file[c.at + 4], "IDAT", 4) == 0) stream.insert(stream.end(), &file[c.at + 8], &file[c.at + 8 + c.length]);
    // Kept from call to call: made anew, they cost more than the rest of the run.
    static Bytes rows(maxSize * 1032 + 64);
    static libdeflate_decompressor* const d = libdeflate_alloc_decompressor();
    static libdeflate_compressor* const compressors[] = {libdeflate_alloc_compressor(0), libdeflate_alloc_compressor(1),
                                                         libdeflate_alloc_compressor(6), libdeflate_alloc_compressor(12)};
    std::size_t got = 0;
    if (rows.size() < 64 ||
        libdeflate_zlib_decompress(d, stream.data(), stream.size(), rows.data(), rows.size() - 64, &got) !=
            LIBDEFLATE_SUCCESS ||
        got == 0)
        return {};
    const std::size_t changed = LLVMFuzzerMutate(rows.data(), got, got + 64);
    libdeflate_compressor* const c = compressors[rng() % 4];
    Bytes packed(libdeflate_zlib_compress_bound(c, changed));
    packed.resize(libdeflate_zlib_compress(c, rows.data(), changed, packed.data(), packed.size()));

    Bytes out(file.begin(), file.begin() + 8);
    bool written = false;
    for (const Chunk& ch : chunks) {
        const auto whole = file.subspan(ch.at, ch.length + 12);
        if (std::memcmp(&whole[4], "IDAT", 4) != 0) {
            out.insert(out.end(), whole.begin(), whole.end());
            continue;
        }
        if (written) continue;
        written = true;
        const std::size_t piece = 1 + rng() % (packed.size() + 1);
        for (std::size_t at = 0; at < packed.size(); at += piece)
            putChunk(out, "IDAT", std::span(packed).subspan(at, std::min(piece, packed.size() - at)));
    }
    if (out.size() > maxSize) return {};
    return out;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned seed) {
    std::minstd_rand rng(seed);
    const unsigned choice = rng() % 8;
    if (choice >= 4) {
        const Bytes changed = withRowsChanged(std::span(data, size), maxSize, rng);
        if (!changed.empty()) {
            std::memcpy(data, changed.data(), changed.size());
            fixCrcs(std::span(data, changed.size()));
            return changed.size();
        }
    }
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (choice != 0) fixCrcs(std::span(data, size));  // now and then a CRC stays wrong
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pngDiffFuzzOne(data, size);
}
#endif
