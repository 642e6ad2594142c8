// PNG in and out.
//
// Reading: every colour type and bit depth, plain or interlaced. Our own reader
// takes the usual kinds (depths 1 to 8, not interlaced): chunks walked on the
// checked byte reader with every CRC checked, the zlib stream inflated by ISA-L
// across the IDAT chunks where they lie (Adler-32 checked), straight into a
// buffer of exactly the size IHDR announces, and rows unfiltered and widened to
// RGBA in bands as they come out. 16-bit and interlaced files, rare in what
// people make textures from, are checked the same way, stream included, and then
// handed to libspng.
//
// Writing: 8-bit grey, grey and alpha, RGB or RGBA; one filter a row, chosen by
// the smallest sum of the filtered bytes; compressed by libdeflate in one go.
#include "tplforge/png.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "codec/bytes.h"
#include "codec/png_rows.h"

static_assert(std::endian::native == std::endian::little, "RGBA words are built little-endian");

namespace tplforge {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;

constexpr u8 kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr u32 kMaxChunkLength = 0x7FFFFFFF;
// Deflate inflates to at most 1032 times its size, so a small file cannot hold
// the pixels a forged header claims: refused before anything is allocated.
constexpr std::uint64_t kMostInflation = 1032;

enum ColourType : u8 { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };

struct Header {
    u32 width = 0, height = 0;
    u8 depth = 0, colourType = 0, interlace = 0;

    unsigned channels() const {
        switch (colourType) {
            case Rgb: return 3;
            case GreyAlpha: return 2;
            case Rgba: return 4;
            default: return 1;
        }
    }
    unsigned bitsPerPixel() const { return depth * channels(); }
    std::size_t rowBytes(std::uint32_t w) const { return (std::size_t{w} * bitsPerPixel() + 7) / 8; }
    std::size_t rowBytes() const { return rowBytes(width); }
    // What the zlib stream must inflate to: each row with its filter byte, and
    // for an interlaced file the rows of each of the seven passes that has pixels.
    std::size_t filteredSize() const {
        if (interlace == 0) return (rowBytes() + 1) * height;
        static constexpr u32 kX[] = {0, 4, 0, 2, 0, 1, 0}, kY[] = {0, 0, 4, 0, 2, 0, 1};
        static constexpr u32 kDx[] = {8, 8, 4, 4, 2, 2, 1}, kDy[] = {8, 8, 8, 4, 4, 2, 2};
        std::size_t size = 0;
        for (int p = 0; p < 7; ++p) {
            const u32 w = width > kX[p] ? (width - kX[p] + kDx[p] - 1) / kDx[p] : 0;
            const u32 h = height > kY[p] ? (height - kY[p] + kDy[p] - 1) / kDy[p] : 0;
            if (w > 0) size += (rowBytes(w) + 1) * h;
        }
        return size;
    }
};

bool depthAllowed(u8 colourType, u8 depth) {
    switch (colourType) {
        case Grey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case Palette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case Rgb:
        case GreyAlpha:
        case Rgba: return depth == 8 || depth == 16;
        default: return false;
    }
}

std::optional<Header> parseHeader(std::span<const u8> data) {
    ByteReader in(data);
    Header h;
    const auto width = in.u32be(), height = in.u32be();
    const auto depth = in.u8(), colourType = in.u8(), compression = in.u8(), filter = in.u8(), interlace = in.u8();
    if (!interlace || data.size() != 13) return std::nullopt;
    if (*width == 0 || *height == 0 || *width > kMaxChunkLength || *height > kMaxChunkLength) return std::nullopt;
    if (!depthAllowed(*colourType, *depth) || *compression != 0 || *filter != 0 || *interlace > 1) return std::nullopt;
    h.width = *width;
    h.height = *height;
    h.depth = *depth;
    h.colourType = *colourType;
    h.interlace = *interlace;
    return h;
}

bool isType(std::span<const u8> type, const char (&name)[5]) { return std::memcmp(type.data(), name, 4) == 0; }

std::uint32_t crcOf(std::span<const u8> type, std::span<const u8> data) {
    const auto crc = libdeflate_crc32(0, type.data(), 4);
    // libdeflate takes a null pointer to ask for the starting value.
    return static_cast<u32>(data.empty() ? crc : libdeflate_crc32(crc, data.data(), data.size()));
}

// What the pixels need of the file, every chunk up to IEND checked.
struct Chunks {
    Header header;
    std::span<const u8> palette, transparency;
    bool hasTransparency = false;
    std::vector<std::span<const u8>> idat;
    std::uint64_t idatBytes = 0;
};

Expected<Chunks, PngError> readChunks(std::span<const u8> file) {
    ByteReader in(file);
    in.skip(sizeof kSignature);
    Chunks c;
    bool first = true, hasPalette = false, idatEnded = false;
    for (;;) {
        const auto length = in.u32be();
        if (!length || *length > kMaxChunkLength) return fail(PngError::Corrupt);
        const auto type = in.bytes(4);
        const auto data = type ? in.bytes(*length) : std::nullopt;
        const auto crc = data ? in.u32be() : std::nullopt;
        if (!crc || *crc != crcOf(*type, *data)) return fail(PngError::Corrupt);
        if (first != isType(*type, "IHDR")) return fail(PngError::Corrupt);
        if (first) {
            first = false;
            const auto header = parseHeader(*data);
            if (!header) return fail(PngError::Corrupt);
            if (std::uint64_t{header->width} * header->height > kMaxPngPixels) return fail(PngError::TooLarge);
            c.header = *header;
            continue;
        }
        const bool isIdat = isType(*type, "IDAT");
        if (!isIdat && !c.idat.empty()) idatEnded = true;
        if (isIdat) {
            if (idatEnded || (c.header.colourType == Palette && !hasPalette)) return fail(PngError::Corrupt);
            c.idat.push_back(*data);
            c.idatBytes += data->size();
        } else if (isType(*type, "PLTE")) {
            // Wherever it is, a palette must be one; only one before the image
            // data and after no transparency is used (the last of several), and
            // only by a palette file.
            const std::size_t entries = data->size() / 3;
            if (data->size() % 3 != 0 || entries == 0 || entries > 256 ||
                (c.header.colourType == Palette && entries > (std::size_t{1} << c.header.depth)))
                return fail(PngError::Corrupt);
            if (c.idat.empty() && c.hasTransparency) return fail(PngError::Corrupt);
            if (c.idat.empty() && c.header.colourType != Grey && c.header.colourType != GreyAlpha) {
                hasPalette = true;
                c.palette = *data;
            }
        } else if (isType(*type, "tRNS")) {
            // Ancillary: one that cannot apply (misplaced, of the wrong size, a
            // second one) is skipped like any other.
            const std::size_t size = data->size();
            const u8 t = c.header.colourType;
            const bool fits = (t == Grey && size == 2) || (t == Rgb && size == 6) ||
                              (t == Palette && hasPalette && size <= c.palette.size() / 3);
            if (!c.hasTransparency && c.idat.empty() && fits) {
                c.hasTransparency = true;
                c.transparency = *data;
            }
        } else if (isType(*type, "IEND")) {
            if (c.idat.empty() || !data->empty()) return fail(PngError::Corrupt);
            return c;
        } else if (((*type)[0] & 0x20) == 0) {
            return fail(PngError::Corrupt);  // a chunk the pixels depend on that we do not know
        }
    }
}

// The table lookUpRgba widens samples through: palette entries with their
// alpha, or grey levels scaled to 8 bits with the key colour transparent.
std::array<u32, 256> sampleTable(const Chunks& c) {
    std::array<u32, 256> table{};
    const auto rgba = [](u32 r, u32 g, u32 b, u32 a) { return r | g << 8 | b << 16 | a << 24; };
    if (c.header.colourType == Palette) {
        table.fill(rgba(0, 0, 0, 255));
        for (std::size_t i = 0; i < c.palette.size() / 3; ++i) {
            const u32 alpha = i < c.transparency.size() ? c.transparency[i] : 255;
            table[i] = rgba(c.palette[3 * i], c.palette[3 * i + 1], c.palette[3 * i + 2], alpha);
        }
        return table;
    }
    const u32 levels = (1u << c.header.depth) - 1;
    const u32 key = c.hasTransparency ? (u32{c.transparency[0]} << 8 | c.transparency[1]) : ~u32{0};
    for (u32 v = 0; v <= levels; ++v) {
        const u32 grey = v * 255 / levels;
        table[v] = rgba(grey, grey, grey, v == key ? 0 : 255);
    }
    return table;
}

class RowDecoder {
public:
    RowDecoder(const Chunks& c, Image& image)
        : h_(c.header), image_(image), rowBytes_(h_.rowBytes()), bpp_(std::max(1u, h_.bitsPerPixel() / 8)),
          rows_(std::max(3 * rowBytes_, image.stride())) {
        if (h_.colourType == Grey || h_.colourType == Palette) table_ = sampleTable(c);
        if (h_.colourType == Rgb && c.hasTransparency) {
            ByteReader t(c.transparency);
            const u32 r = *t.u16be(), g = *t.u16be(), b = *t.u16be();
            // A key of more than 8 bits matches no 8-bit pixel.
            keyed_ = r < 256 && g < 256 && b < 256;
            key_ = r | g << 8 | b << 16;
        }
    }

    // One row from its filtered bytes (filter type first); false for an unknown filter.
    bool row(std::uint32_t y, const u8* filtered) {
        if (filtered[0] >= png::kFilterCount) return false;
        const auto filter = static_cast<png::Filter>(filtered[0]);
        u8* const out = image_.row(y).data();
        const u8* zero = rows_.data();
        const u8* aboveOut = y ? out - image_.stride() : zero;
        if (h_.colourType == Rgba) {
            png::unfilterRow(filter, filtered + 1, aboveOut, out, rowBytes_, bpp_);
            return true;
        }
        if (h_.colourType == Rgb) {
            png::unfilterRgbToRgba(filter, filtered + 1, aboveOut, out, h_.width);
            if (keyed_) png::keyRgba(out, h_.width, key_);
            return true;
        }
        u8* const raw = rows_.data() + (1 + (y & 1)) * rowBytes_;
        const u8* above = y ? rows_.data() + (1 + ((y - 1) & 1)) * rowBytes_ : zero;
        png::unfilterRow(filter, filtered + 1, above, raw, rowBytes_, bpp_);
        if (h_.colourType == GreyAlpha) png::greyAlphaToRgba(raw, out, h_.width);
        else png::lookUpRgba(raw, out, h_.width, h_.depth, table_.data());
        return true;
    }

    std::size_t rowBytes() const { return rowBytes_; }

private:
    const Header& h_;
    Image& image_;
    std::size_t rowBytes_;
    unsigned bpp_;
    std::vector<u8> rows_;  // a row of zeros (above the first, RGBA or not), then two rows in turn
    std::array<u32, 256> table_{};
    bool keyed_ = false;
    u32 key_ = 0;
};

struct InflateStateDeleter {
    void operator()(inflate_state* s) const { delete s; }
};

// Inflates the IDAT chunks into `filtered` (exactly its size), handing each band
// of whole rows to `band` as soon as it is out. False when the stream is damaged,
// its Adler-32 is wrong, or it holds more or fewer bytes than the rows need.
template <class Band>
bool inflateRows(const std::vector<std::span<const u8>>& idat, std::span<u8> filtered, std::size_t bandBytes,
                 Band&& band) {
    std::unique_ptr<inflate_state, InflateStateDeleter> state(new inflate_state);
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_ZLIB;
    std::size_t chunk = 0, handed = 0;
    u8 spare[16];
    state->next_in = const_cast<u8*>(idat[0].data());
    state->avail_in = static_cast<u32>(idat[0].size());
    for (;;) {
        const std::size_t produced = state->total_out;
        const bool full = produced == filtered.size();
        if (full) {
            state->next_out = spare;  // only to see the stream end where it should
            state->avail_out = sizeof spare;
        } else {
            state->next_out = filtered.data() + produced;
            state->avail_out = static_cast<u32>(std::min(bandBytes, filtered.size() - produced));
        }
        const std::size_t inBefore = state->avail_in, outBefore = state->avail_out;
        if (isal_inflate(state.get()) != ISAL_DECOMP_OK) return false;
        if (state->block_state != ISAL_BLOCK_FINISH && state->avail_in == inBefore && state->avail_out == outBefore &&
            state->avail_in > 0)
            return false;  // no way forward
        if (full && state->avail_out != sizeof spare) return false;  // more than the rows need
        if (!full && state->total_out > handed) {
            handed = state->total_out;
            if (!band(handed)) return false;
        }
        if (state->block_state == ISAL_BLOCK_FINISH) return state->total_out == filtered.size();
        if (state->avail_in == 0) {
            if (++chunk == idat.size()) return false;  // cut short
            state->next_in = const_cast<u8*>(idat[chunk].data());
            state->avail_in = static_cast<u32>(idat[chunk].size());
        }
    }
}

// --- libspng, for 16-bit and interlaced files ---------------------------------

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

constexpr std::size_t kChunkLimit = std::size_t{1} << 26;

u8 to8(std::uint16_t v) { return static_cast<u8>((v * 255u + 32767u) / 65535u); }

Expected<Image, PngError> readWithSpng(std::span<const u8> file, const Header& h, const RowsDecoded& onRows) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) return fail(PngError::TooLarge);
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit);
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (spng_set_png_buffer(ctx.get(), file.data(), file.size()) != 0) return fail(PngError::Corrupt);
    Image image(h.width, h.height);
    const bool interlaced = h.interlace != 0;
    if (h.depth != 16) {
        if (spng_decode_image(ctx.get(), image.rgba.data(), image.rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            return fail(PngError::Corrupt);
        if (onRows) onRows(image, image.height);
        return image;
    }
    // Decoded a row at a time and rounded into the picture.
    if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return fail(PngError::Corrupt);
    std::vector<std::uint16_t> row(std::size_t{h.width} * 4);
    spng_row_info info{};
    for (;;) {
        if (spng_get_row_info(ctx.get(), &info) != 0) break;
        const int status = spng_decode_row(ctx.get(), row.data(), row.size() * 2);
        if (status != 0 && status != SPNG_EOI) return fail(PngError::Corrupt);
        const auto out = image.row(info.row_num);
        if (!interlaced) {
            std::transform(row.begin(), row.end(), out.begin(), to8);
        } else {
            // A pass fills only its own columns of the row (Adam7): the others hold
            // what earlier passes of other rows left there.
            static constexpr u32 kFirst[] = {0, 4, 0, 2, 0, 1, 0}, kStep[] = {8, 8, 4, 4, 2, 2, 1};
            const unsigned pass = static_cast<unsigned>(info.pass);
            for (std::size_t x = kFirst[pass]; x < h.width; x += kStep[pass])
                for (std::size_t c = 4 * x; c < 4 * x + 4; ++c) out[c] = to8(row[c]);
        }
        if (status == SPNG_EOI) {
            if (onRows) onRows(image, image.height);
            return image;
        }
    }
    return fail(PngError::Corrupt);
}

}  // namespace

std::string_view describe(PngError error) {
    switch (error) {
        case PngError::NotPng: return "not a PNG file";
        case PngError::TooLarge: return "the PNG picture is too large";
        case PngError::Corrupt: return "the PNG file is damaged or cut short";
        case PngError::Empty: return "the picture has no pixels";
    }
    return "cannot read the PNG file";
}

bool isPng(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kSignature && std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin());
}

Expected<Image, PngError> readPng(std::span<const std::uint8_t> file, const RowsDecoded& onRows) {
    if (!isPng(file)) return fail(PngError::NotPng);
    auto chunks = readChunks(file);
    if (!chunks) return fail(chunks.error());
    const Header& h = chunks->header;
    const std::uint64_t pixelBits = std::uint64_t{h.width} * h.height * h.bitsPerPixel();
    if (pixelBits / 8 > (chunks->idatBytes + 1) * kMostInflation) return fail(PngError::Corrupt);
    if (h.depth == 16 || h.interlace != 0) {
        // libspng reads no further into the stream than the rows need: the
        // stream is first held to the same rules as ours (a pass of its own).
        const std::size_t size = h.filteredSize();
        std::unique_ptr<u8[]> filtered(new u8[size]);
        if (!inflateRows(chunks->idat, std::span(filtered.get(), size), size, [](std::size_t) { return true; }))
            return fail(PngError::Corrupt);
        filtered.reset();
        return readWithSpng(file, h, onRows);
    }

    Image image(h.width, h.height);
    RowDecoder decoder(*chunks, image);
    const std::size_t stride = decoder.rowBytes() + 1, size = stride * h.height;
    // Not cleared: the inflater writes every byte before a row is read.
    std::unique_ptr<u8[]> filtered(new u8[size]);
    // Bands of whole block rows, about 64 KiB: unfiltered while still in the
    // cache, and an encoder waiting on the rows starts early.
    const std::size_t bandRows = std::max<std::size_t>(8, 65536 / stride / 8 * 8);
    std::uint32_t done = 0, told = 0;
    const bool ok = inflateRows(chunks->idat, std::span(filtered.get(), size), bandRows * stride, [&](std::size_t out) {
        for (const auto ready = static_cast<std::uint32_t>(out / stride); done < ready; ++done)
            if (!decoder.row(done, filtered.get() + done * stride)) return false;
        if (onRows && done > told && (done == h.height || done - told >= 8)) onRows(image, told = done);
        return true;
    });
    if (!ok) {
        if (told > 0) onRows(image, 0);  // the rows told of are about to go
        return fail(PngError::Corrupt);
    }
    return image;
}

namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// An RGBA row down to grey (red), grey and alpha, or RGB.
template <std::size_t N>
void packRow(const u8* in, std::size_t width, u8* out) {
    for (std::size_t x = 0; x < width; ++x, in += 4, out += N) {
        out[0] = in[0];
        if constexpr (N == 2) out[1] = in[3];
        if constexpr (N == 3) out[1] = in[1], out[2] = in[2];
    }
}

void chunk(ByteWriter& out, const char (&type)[5], std::span<const u8> data) {
    out.u32be(static_cast<u32>(data.size()));
    const std::span<const u8> name(reinterpret_cast<const u8*>(type), 4);
    out.append(name);
    out.append(data);
    out.u32be(crcOf(name, data));
}

}  // namespace

int deflateLevelOf(int pngLevel) {
    // libdeflate's levels 1 to 4 are each about as fast as zlib's level below
    // them and smaller; above 9 it searches far harder than zlib ever does.
    static constexpr int kLevels[] = {0, 1, 2, 3, 4, 6, 7, 9, 10, 12};
    return kLevels[std::clamp(pngLevel, 0, 9)];
}

Expected<std::vector<std::uint8_t>, PngError> writePng(const Image& picture, PngChannels channels, int level) {
    if (picture.empty() || picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return fail(PngError::Empty);
    if (picture.width > kMaxChunkLength || picture.height > kMaxChunkLength) return fail(PngError::TooLarge);
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(deflateLevelOf(level)));
    if (!compressor) return fail(PngError::TooLarge);

    const auto n = static_cast<unsigned>(channels);
    const std::size_t rowBytes = std::size_t{picture.width} * n, stride = rowBytes + 1;
    const std::size_t filteredSize = stride * picture.height;
    std::unique_ptr<u8[]> filtered(new u8[filteredSize]);
    // A row of zeros above the first, two packed rows in turn, and the filters' tries.
    std::vector<u8> rows((3 + png::kFilterCount) * rowBytes);
    const auto pack = n == 1 ? packRow<1> : n == 2 ? packRow<2> : packRow<3>;
    const u8* above = rows.data();
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const u8* row = picture.row(y).data();
        if (n != 4) {
            u8* packed = rows.data() + (1 + (y & 1)) * rowBytes;
            pack(row, picture.width, packed);
            row = packed;
        }
        u8* out = filtered.get() + y * stride;
        // Stored files are not made smaller by filtering.
        if (level <= 0) png::filterRowWith(png::Filter::None, row, above, out, rowBytes, n);
        else png::filterRow(row, above, out, rowBytes, n, rows.data() + 3 * rowBytes);
        above = row;
    }

    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredSize);
    if (bound > kMaxChunkLength) return fail(PngError::TooLarge);
    ByteWriter out(bound + 64);
    out.append(kSignature);
    ByteWriter header(13);
    header.u32be(picture.width);
    header.u32be(picture.height);
    const u8 colourType = n == 1 ? Grey : n == 2 ? GreyAlpha : n == 3 ? Rgb : Rgba;
    for (const u8 field : {u8{8}, colourType, u8{0}, u8{0}, u8{0}}) header.u8(field);
    chunk(out, "IHDR", header.data());
    // IDAT compressed in place, its length and CRC filled in after.
    const std::size_t lengthAt = out.size();
    out.u32be(0);
    out.append(std::span(reinterpret_cast<const u8*>("IDAT"), 4));
    std::vector<u8>& bytes = out.data();
    const std::size_t dataAt = bytes.size();
    bytes.resize(dataAt + bound);
    const std::size_t packed =
        libdeflate_zlib_compress(compressor.get(), filtered.get(), filteredSize, bytes.data() + dataAt, bound);
    if (packed == 0) return fail(PngError::TooLarge);
    bytes.resize(dataAt + packed);
    out.u32beAt(lengthAt, static_cast<u32>(packed));
    out.u32be(crcOf(std::span(bytes).subspan(lengthAt + 4, 4), std::span(bytes).subspan(dataAt, packed)));
    chunk(out, "IEND", {});
    return out.take();
}

}  // namespace tplforge
