// readPng against libspng on every kind of PNG and every row filter, writePng
// round trips, and a table of damaged and hostile files with what each gives.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "codec/pictures/deflate_parts.h"
#include "tplforge/png.h"

// The largest block asked of the heap while `gWatching` is set: a refused bomb
// must not have allocated the pixels it announced.
namespace {
std::atomic<bool> gWatching{false};
std::atomic<std::size_t> gLargest{0};
}  // namespace

// GCC takes the malloc below for the pair of the free in delete, and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// Every form that pairs with a plain delete, so that none meets the sanitizer's own.
namespace {
void* watched(std::size_t size) noexcept {
    if (gWatching && size > gLargest) gLargest = size;
    return std::malloc(size ? size : 1);
}
}  // namespace
void* operator new(std::size_t size) {
    if (void* p = watched(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = watched(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return watched(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return watched(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace tplforge {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t crc32(const Bytes& bytes, std::size_t from, std::size_t to) {
    return static_cast<std::uint32_t>(libdeflate_crc32(0, bytes.data() + from, to - from));
}

void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (24 - 8 * i)));
}

struct Chunk {
    std::string type;
    Bytes data;
};

// A PNG file of exactly these chunks, each with its CRC right.
Bytes pngOf(const std::vector<Chunk>& chunks) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const Chunk& c : chunks) {
        put32(out, static_cast<std::uint32_t>(c.data.size()));
        const std::size_t typeAt = out.size();
        out.insert(out.end(), c.type.begin(), c.type.end());
        out.insert(out.end(), c.data.begin(), c.data.end());
        put32(out, crc32(out, typeAt, out.size()));
    }
    return out;
}

Bytes ihdr(std::uint32_t w, std::uint32_t h, int depth, int colourType, int interlace = 0, int compression = 0,
           int filter = 0) {
    Bytes d;
    put32(d, w);
    put32(d, h);
    for (int v : {depth, colourType, compression, filter, interlace}) d.push_back(static_cast<std::uint8_t>(v));
    return d;
}

Bytes zlibOf(const Bytes& raw, int level = 6) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    Bytes out(libdeflate_zlib_compress_bound(c, raw.size()));
    out.resize(libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

Bytes inflated(const Bytes& zlib, std::size_t size) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    Bytes out(size);
    std::size_t got = 0;
    const auto status = libdeflate_zlib_decompress(d, zlib.data(), zlib.size(), out.data(), size, &got);
    libdeflate_free_decompressor(d);
    out.resize(status == LIBDEFLATE_SUCCESS ? got : 0);
    return out;
}

// The chunks of a file, in order (CRCs not looked at).
std::vector<Chunk> chunksOf(const Bytes& file) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t n = std::uint32_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        chunks.push_back({std::string(file.begin() + at + 4, file.begin() + at + 8),
                          Bytes(file.begin() + at + 8, file.begin() + at + 8 + n)});
        at += 12 + n;
    }
    return chunks;
}

Bytes idatOf(const std::vector<Chunk>& chunks) {
    Bytes all;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") all.insert(all.end(), c.data.begin(), c.data.end());
    return all;
}

// Filters of the format, as plain as they can be written, for files made here.
Bytes filteredRows(const Bytes& raw, std::size_t rowBytes, unsigned bpp, int filter) {
    Bytes out;
    const Bytes zeros(rowBytes);
    for (std::size_t y = 0; y * rowBytes < raw.size(); ++y) {
        const std::uint8_t* row = &raw[y * rowBytes];
        const std::uint8_t* up = y ? row - rowBytes : zeros.data();
        out.push_back(static_cast<std::uint8_t>(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predicted[] = {0, a, b, (a + b) / 2, paeth};
            out.push_back(static_cast<std::uint8_t>(row[i] - predicted[filter]));
        }
    }
    return out;
}

// libspng's own reading of a file, as readPng gives it: 8-bit RGBA, 16-bit
// samples rounded to the nearest 8-bit value. Empty when libspng refuses it.
Bytes spngPixels(const Bytes& file) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    spng_ihdr h{};
    Bytes out;
    if (spng_get_ihdr(ctx, &h) == 0) {
        std::vector<std::uint16_t> wide(std::size_t{h.width} * h.height * 4);
        if (spng_decode_image(ctx, wide.data(), wide.size() * 2, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS) == 0)
            for (const std::uint16_t v : wide) out.push_back(static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u));
    }
    spng_ctx_free(ctx);
    return out;
}

struct Kind {
    int colourType, depth;
    bool transparency;
};

constexpr Kind kKinds[] = {
    {0, 1, false}, {0, 2, true},  {0, 4, false}, {0, 8, false}, {0, 8, true},  {0, 16, false}, {0, 16, true},
    {2, 8, false}, {2, 8, true},  {2, 16, true}, {3, 1, false}, {3, 2, true},  {3, 4, false},  {3, 8, true},
    {4, 8, false}, {4, 16, false}, {6, 8, false}, {6, 16, false},
};

// A file of this kind written by libspng: random samples (every palette index
// in use), a key colour that some pixels hit, rows filtered as libspng likes.
Bytes spngFile(const Kind& kind, std::uint32_t w, std::uint32_t h, int interlace, std::uint32_t seed) {
    const int channels = kind.colourType == 2 ? 3 : kind.colourType == 4 ? 2 : kind.colourType == 6 ? 4 : 1;
    const std::size_t rowBytes = (std::size_t{w} * channels * kind.depth + 7) / 8;
    std::mt19937 rng(seed);
    // Few sample values, so that the key colour turns up.
    Bytes raw(rowBytes * h);
    for (auto& b : raw) b = static_cast<std::uint8_t>(rng() % 2 ? 0x00 : rng());
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{w, h, static_cast<std::uint8_t>(kind.depth), static_cast<std::uint8_t>(kind.colourType), 0, 0,
                   static_cast<std::uint8_t>(interlace)};
    spng_set_ihdr(ctx, &ihdr);
    if (kind.colourType == 3) {
        spng_plte plte{};
        plte.n_entries = 1u << kind.depth;
        for (std::uint32_t i = 0; i < plte.n_entries; ++i)
            plte.entries[i] = {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                               static_cast<std::uint8_t>(rng()), 255};
        spng_set_plte(ctx, &plte);
    }
    if (kind.transparency) {
        spng_trns trns{};
        if (kind.colourType == 3) {
            trns.n_type3_entries = (1u << kind.depth) / 2 + 1;
            for (std::uint32_t i = 0; i < trns.n_type3_entries; ++i) trns.type3_alpha[i] = static_cast<std::uint8_t>(rng());
        }
        // Samples are 0 half the time: the key colour 0 is met.
        spng_set_trns(ctx, &trns);
    }
    const int status = spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t size = 0;
    int error = 0;
    auto* bytes = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
    spng_ctx_free(ctx);
    Bytes file;
    if (status == 0 && bytes) file.assign(bytes, bytes + size);
    std::free(bytes);
    return file;
}

// The same pixels with every row filtered by `filter` and the stream cut into
// IDAT chunks of `idatSize` bytes.
Bytes refiltered(const Bytes& file, const Kind& kind, int filter, std::size_t idatSize) {
    auto chunks = chunksOf(file);
    const Bytes& h = chunks.at(0).data;
    const std::uint32_t w = std::uint32_t{h[0]} << 24 | h[1] << 16 | h[2] << 8 | h[3];
    const std::uint32_t rows = std::uint32_t{h[4]} << 24 | h[5] << 16 | h[6] << 8 | h[7];
    const int channels = kind.colourType == 2 ? 3 : kind.colourType == 4 ? 2 : kind.colourType == 6 ? 4 : 1;
    const std::size_t rowBytes = (std::size_t{w} * channels * kind.depth + 7) / 8;
    const unsigned bpp = std::max(1, channels * kind.depth / 8);
    const Bytes stream = inflated(idatOf(chunks), (rowBytes + 1) * rows);
    Bytes raw;
    for (std::size_t y = 0; y < rows; ++y) {
        Bytes row(stream.begin() + y * (rowBytes + 1) + 1, stream.begin() + (y + 1) * (rowBytes + 1));
        // undo libspng's filter with the plain reference, row by row
        const std::uint8_t type = stream[y * (rowBytes + 1)];
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = y ? raw[(y - 1) * rowBytes + i] : 0,
                      c = y && i >= bpp ? raw[(y - 1) * rowBytes + i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            row[i] = static_cast<std::uint8_t>(row[i] + predicted[type]);
        }
        raw.insert(raw.end(), row.begin(), row.end());
    }
    const Bytes z = zlibOf(filteredRows(raw, rowBytes, bpp, filter));
    std::vector<Chunk> out;
    for (const Chunk& c : chunks) {
        if (c.type == "IDAT") continue;
        if (c.type == "IEND")
            for (std::size_t at = 0; at < z.size(); at += idatSize)
                out.push_back({"IDAT", Bytes(z.begin() + at, z.begin() + std::min(z.size(), at + idatSize))});
        out.push_back(c);
    }
    return pngOf(out);
}

TEST(Png, EveryKindAndFilterReadsAsLibspngReadsIt) {
    int files = 0;
    for (const Kind& kind : kKinds) {
        const std::string name = "type " + std::to_string(kind.colourType) + " depth " + std::to_string(kind.depth) +
                                 (kind.transparency ? " tRNS" : "");
        for (const auto& [w, h] : {std::pair{13u, 11u}, {1u, 3u}, {67u, 9u}}) {
            for (int interlace : {0, 1}) {
                const Bytes file = spngFile(kind, w, h, interlace, w * 31 + h + static_cast<unsigned>(interlace));
                ASSERT_FALSE(file.empty()) << name;
                std::vector<Bytes> variants = {file};
                if (!interlace)  // each filter on every row, the stream over many chunks
                    for (int filter = 0; filter < 5; ++filter) variants.push_back(refiltered(file, kind, filter, 7));
                for (std::size_t v = 0; v < variants.size(); ++v) {
                    const Bytes want = spngPixels(variants[v]);
                    ASSERT_EQ(want.size(), std::size_t{w} * h * 4) << name << " variant " << v;
                    const auto got = readPng(variants[v]);
                    ASSERT_TRUE(got) << name << " " << w << "x" << h << " interlace " << interlace << " variant " << v;
                    EXPECT_EQ(got->rgba, want) << name << " " << w << "x" << h << " interlace " << interlace
                                               << " variant " << v;
                    ++files;
                }
            }
        }
    }
    EXPECT_EQ(files, 18 * 3 * 7);
}

// The variants made above really hold the filter they are named for.
TEST(Png, RefilteredFilesUseTheFilterAsked) {
    const Kind kind{2, 8, false};
    const Bytes file = spngFile(kind, 8, 4, 0, 5);
    for (int filter = 0; filter < 5; ++filter) {
        const Bytes stream = inflated(idatOf(chunksOf(refiltered(file, kind, filter, 3))), 4 * 25);
        ASSERT_EQ(stream.size(), 100u);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(stream[y * 25], filter);
    }
}

Image patterned(std::uint32_t w, std::uint32_t h, int pattern) {
    Image picture(w, h);
    std::mt19937 rng(static_cast<unsigned>(pattern));
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                std::uint8_t& v = picture.rgba[(std::size_t{y} * w + x) * 4 + c];
                switch (pattern) {
                    case 0: v = static_cast<std::uint8_t>(rng()); break;                      // noise
                    case 1: v = static_cast<std::uint8_t>(x * 3 + y * (c + 1) + c * 50); break; // ramps
                    default: v = c == 3 ? 200 : 17; break;                                     // flat
                }
            }
    return picture;
}

TEST(Png, WriterRoundTripsEveryChannelChoiceAndLevel) {
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (const auto& [w, h] : {std::pair{1u, 1u}, {37u, 19u}, {300u, 70u}}) {
            const Image picture = patterned(w, h, pattern);
            for (const PngChannels channels :
                 {PngChannels::Grey, PngChannels::GreyAlpha, PngChannels::Rgb, PngChannels::Rgba}) {
                Image want = picture;
                for (std::size_t i = 0; i < want.rgba.size(); i += 4) {
                    std::uint8_t* p = &want.rgba[i];
                    if (channels == PngChannels::Grey || channels == PngChannels::GreyAlpha) p[1] = p[2] = p[0];
                    if (channels == PngChannels::Grey || channels == PngChannels::Rgb) p[3] = 255;
                }
                for (const int level : {0, 1, kDefaultPngLevel, 9}) {
                    const std::string name = "pattern " + std::to_string(pattern) + " " + std::to_string(w) + "x" +
                                             std::to_string(h) + " channels " +
                                             std::to_string(static_cast<int>(channels)) + " level " +
                                             std::to_string(level);
                    const auto file = writePng(picture, channels, level);
                    ASSERT_TRUE(file) << name;
                    const auto read = readPng(*file);
                    ASSERT_TRUE(read) << name;
                    EXPECT_EQ(*read, want) << name;
                    EXPECT_EQ(spngPixels(*file), want.rgba) << name;
                    // the file says what it holds: 8-bit, the colour type of the channels
                    const Bytes header = chunksOf(*file).at(0).data;
                    const int colourType[] = {0, 0, 4, 2, 6};
                    EXPECT_EQ(header.at(8), 8) << name;
                    EXPECT_EQ(header.at(9), colourType[static_cast<int>(channels)]) << name;
                }
            }
        }
    }
}

// A picture of several bands (each compressed apart): noise that deflate stores,
// ramps it codes, at every kind of level; it reads back as written, by libspng too.
TEST(Png, PicturesOfManyBandsReadAsOneStream) {
    Image picture = patterned(600, 330, 1);
    const Image noise = patterned(600, 330, 0);
    std::copy(noise.rgba.begin(), noise.rgba.begin() + 600 * 4 * 100, picture.rgba.begin() + 600 * 4 * 150);
    for (const int level : {0, 1, kDefaultPngLevel}) {
        const auto file = writePng(picture, PngChannels::Rgba, level);
        ASSERT_TRUE(file) << level;
        EXPECT_EQ(readPng(*file).value(), picture) << level;
        EXPECT_EQ(spngPixels(*file), picture.rgba) << level;
    }
}

// A stream left open, then any other stream, inflates to both inputs in turn:
// stored, fixed-code and dynamic blocks, one block or many, empty input too.
TEST(Png, DeflateStreamsLeftOpenTakeAnotherAfterThem) {
    const auto raw = [](const Bytes& in, int level) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        Bytes out(libdeflate_deflate_compress_bound(c, in.size()));
        out.resize(libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size()));
        libdeflate_free_compressor(c);
        return out;
    };
    const Image ramps = patterned(300, 400, 1), noise = patterned(64, 64, 0);
    const Bytes tiny{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
    const std::pair<Bytes, int> cases[] = {
        {{}, 6}, {tiny, 6}, {tiny, 0}, {noise.rgba, 1}, {ramps.rgba, 1}, {ramps.rgba, 6}, {ramps.rgba, 12}};
    for (const auto& [first, level] : cases)
        for (const auto& [second, secondLevel] : {cases[1], cases[3], cases[5]}) {
            Bytes stream = raw(first, level);
            ASSERT_TRUE(deflate::leaveOpen(stream)) << first.size() << " at " << level;
            const Bytes after = raw(second, secondLevel);
            stream.insert(stream.end(), after.begin(), after.end());
            Bytes want = first;
            want.insert(want.end(), second.begin(), second.end());
            libdeflate_decompressor* d = libdeflate_alloc_decompressor();
            Bytes got(want.size() + 1);
            std::size_t size = 0;
            EXPECT_EQ(libdeflate_deflate_decompress(d, stream.data(), stream.size(), got.data(), got.size(), &size),
                      LIBDEFLATE_SUCCESS);
            libdeflate_free_decompressor(d);
            got.resize(size);
            EXPECT_EQ(got, want) << first.size() << " at " << level << ", then " << second.size();
        }
    // Streams that do not read are refused and left as they were.
    const Bytes whole = raw(ramps.rgba, 6);
    for (const Bytes& bad : {Bytes(whole.begin(), whole.end() - 40), Bytes{0x07}, Bytes{0x00, 0x05, 0x00, 0x00, 0x00},
                             Bytes{}}) {
        Bytes copy = bad;
        EXPECT_FALSE(deflate::leaveOpen(copy)) << bad.size();
        EXPECT_EQ(copy, bad);
    }
}

TEST(Png, HigherLevelsWriteNoLargerFilesAndStoredIsStored) {
    const Image picture = patterned(256, 64, 1);
    std::size_t previous = SIZE_MAX;
    for (int level = 0; level <= 9; level += 3) {
        const auto file = writePng(picture, PngChannels::Rgba, level);
        ASSERT_TRUE(file);
        EXPECT_LE(file->size(), previous) << level;
        previous = file->size();
    }
    // level 0 holds every byte of the rows (plus one filter byte a row)
    EXPECT_GT(writePng(picture, PngChannels::Rgba, 0)->size(), 256u * 64 * 4 + 64);
    EXPECT_FALSE(writePng(Image{}, PngChannels::Rgba).ok());
}

// Rows are told of top to bottom as they are finished, the last call names every
// row, and a file found damaged after some were told of is followed by a 0.
TEST(Png, RowsAreToldOfAsTheyArriveAndWithdrawnOnFailure) {
    const Image picture = patterned(200, 300, 0);
    const Bytes file = writePng(picture, PngChannels::Rgb, 1).value();
    std::vector<std::uint32_t> told;
    bool rowsFinal = true;
    const auto read = readPng(file, [&](const Image& image, std::uint32_t rows) {
        told.push_back(rows);
        for (std::uint32_t y = 0; y < rows; ++y)
            for (std::uint32_t x = 0; x < 200; ++x)
                rowsFinal = rowsFinal && std::equal(&image.row(y)[4 * x], &image.row(y)[4 * x] + 3,
                                                    &picture.row(y)[4 * x]);
    });
    ASSERT_TRUE(read);
    ASSERT_GT(told.size(), 2u);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back(), 300u);
    EXPECT_TRUE(rowsFinal);

    // Row 200 of an unknown filter, found only once the rows above it are out.
    auto chunks = chunksOf(file);
    Bytes rows = inflated(idatOf(chunks), 300 * 601);
    ASSERT_EQ(rows.size(), 300u * 601);
    rows[200 * 601] = 7;
    const Bytes cut = pngOf({chunks.front(), {"IDAT", zlibOf(rows)}, {"IEND", {}}});
    told.clear();
    const auto broken = readPng(cut, [&](const Image&, std::uint32_t rows) { told.push_back(rows); });
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error(), PngError::Corrupt);
    ASSERT_GE(told.size(), 2u);
    EXPECT_GT(told.front(), 0u);
    EXPECT_EQ(told.back(), 0u);
}

TEST(Png, DamagedAndHostileFilesAreRefusedBeforeTheirPixelsAreAllocated) {
    // A good 16 × 8 RGB file to spoil: rows of None filters.
    Bytes raw(16 * 8 * 3);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes rows = filteredRows(raw, 48, 3, 0);
    const Bytes z = zlibOf(rows);
    const Chunk header{"IHDR", ihdr(16, 8, 8, 2)}, end{"IEND", {}}, idat{"IDAT", z};
    const Bytes good = pngOf({header, idat, end});
    ASSERT_TRUE(readPng(good));

    const auto flipped = [](Bytes b, std::size_t at) { return b[at] ^= 0x40, b; };
    const auto cutAt = [](Bytes b, std::size_t size) { return b.resize(size), b; };
    Bytes badAdler = z;
    badAdler.back() ^= 1;
    Bytes badFilter = rows;
    badFilter[49 * 5] = 5;
    Bytes withDictionary = z;  // FDICT set, the header check kept right
    withDictionary[1] = 0x20;
    withDictionary[1] = static_cast<std::uint8_t>(withDictionary[1] + (31 - (withDictionary[0] * 256 + 0x20) % 31));
    const Bytes zeros(1 << 22);  // 4 MiB of zeros inflate from a few KiB
    Bytes palette(3 * 4);
    // Rows of the right size for a 16 × 8 file of 8-bit samples, `channels` a pixel.
    const auto rowsOf = [](int channels) { return Chunk{"IDAT", zlibOf(Bytes(8 * (1 + 16 * channels)))}; };

    struct Row {
        const char* what;
        Bytes file;
        PngError error;
    };
    const Row table[] = {
        {"empty", {}, PngError::NotPng},
        {"signature cut", Bytes(good.begin(), good.begin() + 7), PngError::NotPng},
        {"signature only", Bytes(good.begin(), good.begin() + 8), PngError::Corrupt},
        {"IHDR CRC wrong", flipped(good, 8 + 8 + 3), PngError::Corrupt},
        {"IDAT CRC wrong", flipped(good, 8 + 25 + 8 + 5), PngError::Corrupt},
        {"IEND CRC wrong", flipped(good, good.size() - 1), PngError::Corrupt},
        {"Adler-32 wrong", pngOf({header, {"IDAT", badAdler}, end}), PngError::Corrupt},
        {"cut in IDAT", cutAt(good, 8 + 25 + 20), PngError::Corrupt},
        {"cut before IEND", cutAt(good, good.size() - 12), PngError::Corrupt},
        {"IDAT stream cut short", pngOf({header, {"IDAT", Bytes(z.begin(), z.end() - 9)}, end}), PngError::Corrupt},
        {"IDAT one row short", pngOf({header, {"IDAT", zlibOf(Bytes(rows.begin(), rows.end() - 49))}, end}),
         PngError::Corrupt},
        {"IDAT a byte long", pngOf({header, {"IDAT", zlibOf([&] { Bytes r = rows; r.push_back(0); return r; }())}, end}),
         PngError::Corrupt},
        {"IDAT inflating to 4 MiB", pngOf({header, {"IDAT", zlibOf(zeros, 1)}, end}), PngError::Corrupt},
        {"zlib preset dictionary", pngOf({header, {"IDAT", withDictionary}, end}), PngError::Corrupt},
        {"filter type 5", pngOf({header, {"IDAT", zlibOf(badFilter)}, end}), PngError::Corrupt},
        {"no IDAT", pngOf({header, end}), PngError::Corrupt},
        {"no IEND", pngOf({header, idat}), PngError::Corrupt},
        {"IEND with data", pngOf({header, idat, {"IEND", {0}}}), PngError::Corrupt},
        {"IDAT split by a chunk", pngOf({header, {"IDAT", Bytes(z.begin(), z.begin() + 10)}, {"tEXt", {'a', 0, 'b'}},
                                         {"IDAT", Bytes(z.begin() + 10, z.end())}, end}),
         PngError::Corrupt},
        {"unknown critical chunk", pngOf({header, {"ABCD", {}}, idat, end}), PngError::Corrupt},
        {"IHDR not first", pngOf({{"tEXt", {'a', 0}}, header, idat, end}), PngError::Corrupt},
        {"IHDR twice", pngOf({header, header, idat, end}), PngError::Corrupt},
        {"IHDR 12 bytes", pngOf({{"IHDR", Bytes(header.data.begin(), header.data.end() - 1)}, idat, end}),
         PngError::Corrupt},
        {"width 0", pngOf({{"IHDR", ihdr(0, 8, 8, 2)}, idat, end}), PngError::Corrupt},
        {"height 2^31", pngOf({{"IHDR", ihdr(16, 0x80000000u, 8, 2)}, idat, end}), PngError::Corrupt},
        {"RGB of 4 bits", pngOf({{"IHDR", ihdr(16, 8, 4, 2)}, idat, end}), PngError::Corrupt},
        {"palette of 16 bits", pngOf({{"IHDR", ihdr(16, 8, 16, 3)}, idat, end}), PngError::Corrupt},
        {"grey of 3 bits", pngOf({{"IHDR", ihdr(16, 8, 3, 0)}, idat, end}), PngError::Corrupt},
        {"colour type 5", pngOf({{"IHDR", ihdr(16, 8, 8, 5)}, idat, end}), PngError::Corrupt},
        {"compression 1", pngOf({{"IHDR", ihdr(16, 8, 8, 2, 0, 1)}, idat, end}), PngError::Corrupt},
        {"filter method 1", pngOf({{"IHDR", ihdr(16, 8, 8, 2, 0, 0, 1)}, idat, end}), PngError::Corrupt},
        {"interlace 2", pngOf({{"IHDR", ihdr(16, 8, 8, 2, 2)}, idat, end}), PngError::Corrupt},
        {"palette file without PLTE", pngOf({{"IHDR", ihdr(16, 8, 8, 3)}, rowsOf(1), end}), PngError::Corrupt},
        {"PLTE of 4 entries for 1 bit",
         pngOf({{"IHDR", ihdr(16, 8, 1, 3)}, {"PLTE", palette}, {"IDAT", zlibOf(Bytes(8 * 3))}, end}),
         PngError::Corrupt},
        {"PLTE not whole entries", pngOf({{"IHDR", ihdr(16, 8, 8, 3)}, {"PLTE", {1, 2}}, rowsOf(1), end}),
         PngError::Corrupt},
        {"PLTE empty after the image", pngOf({header, idat, {"PLTE", {}}, end}), PngError::Corrupt},
        {"PLTE after tRNS", pngOf({{"IHDR", ihdr(16, 8, 8, 3)}, {"PLTE", palette}, {"tRNS", {1}}, {"PLTE", palette},
                                   rowsOf(1), end}),
         PngError::Corrupt},
        {"chunk length 2^31", [&] { Bytes b = good; b[33] = 0x80; return b; }(), PngError::Corrupt},
        // within the pixel limit, but no file of this size holds 8192 × 8192 pixels
        {"8192 x 8192 from 70 bytes", pngOf({{"IHDR", ihdr(8192, 8192, 8, 6)}, idat, end}), PngError::Corrupt},
        {"8192 x 8192 16-bit interlaced", pngOf({{"IHDR", ihdr(8192, 8192, 16, 6, 1)}, idat, end}), PngError::Corrupt},
        {"8193 x 8192", pngOf({{"IHDR", ihdr(8193, 8192, 8, 6)}, idat, end}), PngError::TooLarge},
        {"2^31 - 1 square", pngOf({{"IHDR", ihdr(0x7FFFFFFF, 0x7FFFFFFF, 1, 0)}, idat, end}), PngError::TooLarge},
    };
    // The same files made right are read: each row above differs by its fault alone.
    const Bytes fine[] = {pngOf({{"IHDR", ihdr(16, 8, 8, 3)}, {"PLTE", palette}, {"tRNS", Bytes(4)}, rowsOf(1), end}),
                          pngOf({{"IHDR", ihdr(16, 8, 8, 3)}, {"PLTE", palette}, {"PLTE", palette}, rowsOf(1), end}),
                          pngOf({header, idat, {"PLTE", palette}, end})};
    for (const Bytes& file : fine) EXPECT_TRUE(readPng(file).ok());
    for (const Row& row : table) {
        gLargest = 0;
        gWatching = true;
        const auto result = readPng(row.file);
        gWatching = false;
        ASSERT_FALSE(result.ok()) << row.what;
        EXPECT_EQ(result.error(), row.error) << row.what;
        // an inflater's state and a row or two, never the pixels announced
        EXPECT_LT(gLargest.load(), std::size_t{1} << 20) << row.what;
    }
}

// Chunks the pixels do not need are skipped, wherever they are: a suggested
// palette in an RGB or grey file, and a tRNS chunk that cannot apply (as libspng
// reads such files). Where several palettes come before the image, the last counts.
TEST(Png, ChunksThatCannotApplyAreSkipped) {
    const Bytes z = zlibOf(filteredRows({0, 1, 2, 3}, 4, 1, 4));
    const Bytes palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    const Bytes other = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const auto rgba = [](const Bytes& p, std::initializer_list<std::uint8_t> alpha) {
        Bytes out;
        auto a = alpha.begin();
        for (std::size_t i = 0; i < 4; ++i) out.insert(out.end(), {p[3 * i], p[3 * i + 1], p[3 * i + 2], *a++});
        return out;
    };
    const Chunk indexed{"IHDR", ihdr(4, 1, 8, 3)}, grey{"IHDR", ihdr(4, 1, 8, 0)}, idat{"IDAT", z}, end{"IEND", {}};
    const Bytes greys = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
    const struct {
        const char* what;
        Bytes file, want;
    } table[] = {
        {"ancillary chunks around the image",
         pngOf({indexed, {"gAMA", {0, 0, 0xB1, 0x8F}}, {"PLTE", palette}, {"tEXt", {'k', 0, 'v'}}, idat,
                {"zzZz", Bytes(3)}, end}),
         rgba(palette, {255, 255, 255, 255})},
        {"tRNS used", pngOf({indexed, {"PLTE", palette}, {"tRNS", {9, 8}}, idat, end}), rgba(palette, {9, 8, 255, 255})},
        {"tRNS longer than PLTE", pngOf({indexed, {"PLTE", palette}, {"tRNS", Bytes(5)}, idat, end}),
         rgba(palette, {255, 255, 255, 255})},
        {"tRNS before PLTE, then one after", pngOf({indexed, {"tRNS", {1}}, {"PLTE", palette}, {"tRNS", {2}}, idat, end}),
         rgba(palette, {2, 255, 255, 255})},
        {"second tRNS", pngOf({indexed, {"PLTE", palette}, {"tRNS", {3}}, {"tRNS", {4, 4}}, idat, end}),
         rgba(palette, {3, 255, 255, 255})},
        {"tRNS after the image", pngOf({indexed, {"PLTE", palette}, idat, {"tRNS", {5}}, end}),
         rgba(palette, {255, 255, 255, 255})},
        {"two palettes", pngOf({indexed, {"PLTE", other}, {"PLTE", palette}, idat, end}),
         rgba(palette, {255, 255, 255, 255})},
        {"palette after the image", pngOf({indexed, {"PLTE", palette}, idat, {"PLTE", other}, end}),
         rgba(palette, {255, 255, 255, 255})},
        {"palette in a grey file", pngOf({grey, {"PLTE", palette}, idat, end}), rgba(greys, {255, 255, 255, 255})},
        {"grey key", pngOf({grey, {"tRNS", {0, 2}}, idat, end}), rgba(greys, {255, 255, 0, 255})},
        {"grey key of RGB's size", pngOf({grey, {"tRNS", Bytes(6)}, idat, end}), rgba(greys, {255, 255, 255, 255})},
    };
    for (const auto& row : table) {
        const auto read = readPng(row.file);
        ASSERT_TRUE(read) << row.what;
        EXPECT_EQ(read->rgba, row.want) << row.what;
        EXPECT_EQ(spngPixels(row.file), row.want) << row.what;
    }
}

}  // namespace
}  // namespace tplforge
