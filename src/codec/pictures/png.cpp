// PNG in and out.
//
// Reading: every colour type and bit depth, plain or interlaced. The chunks are
// walked on the checked byte reader up to IEND with every CRC checked; the zlib
// stream is inflated by libdeflate into a buffer of exactly the size IHDR
// announces (more or less is refused, Adler-32 checked); rows are unfiltered
// and widened to RGBA, 16-bit samples rounded to the nearest 8-bit value.
// 8-bit RGB and RGBA are unfiltered straight into the picture's rows.
//
// Writing: 8-bit grey, grey and alpha, RGB or RGBA; one filter a row (see
// filterRow), compressed by libdeflate in bands joined into one stream.
#include "tplforge/png.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>

#include "tplforge/bytes.h"
#include "codec/pictures/deflate_parts.h"
#include "codec/support/parallel.h"
#include "codec/pictures/png_rows.h"

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
    std::size_t filteredSize() const;
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
            if (std::uint64_t{header->width} * header->height > kMaxPicturePixels) return fail(PngError::TooLarge);
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

// Where an interlaced file's seven passes put their pixels (Adam7).
struct Pass {
    u32 x, y, dx, dy;
};
constexpr Pass kPasses[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
u32 passSide(u32 side, u32 first, u32 step) { return side > first ? (side - first + step - 1) / step : 0; }

std::size_t Header::filteredSize() const {
    if (interlace == 0) return (rowBytes() + 1) * height;
    std::size_t size = 0;
    for (const Pass& p : kPasses) {
        const u32 w = passSide(width, p.x, p.dx), h = passSide(height, p.y, p.dy);
        if (w > 0) size += (rowBytes(w) + 1) * h;
    }
    return size;
}

u8 to8(u32 v16) { return static_cast<u8>((v16 * 255u + 32767u) / 65535u); }

// Unfilters rows and widens them to RGBA.
class RowDecoder {
public:
    RowDecoder(const Chunks& c, Image& image)
        : h_(c.header), image_(image), bpp_(std::max(1u, h_.bitsPerPixel() / 8)),
          rows_(std::max(3 * h_.rowBytes(), image.stride())) {
        if (h_.depth <= 8 && (h_.colourType == Grey || h_.colourType == Palette)) table_ = sampleTable(c);
        if (c.hasTransparency && (h_.colourType == Grey || h_.colourType == Rgb)) {
            ByteReader t(c.transparency);
            for (unsigned i = 0; i < (h_.colourType == Grey ? 1u : 3u); ++i) key_[i] = *t.u16be();
            // A key of more than 8 bits matches no 8-bit pixel.
            keyed_ = h_.depth == 16 || (key_[0] < 256 && key_[1] < 256 && key_[2] < 256);
        }
    }

    // Row y of a plain file from its filtered bytes (filter type first), straight
    // into the picture; false for an unknown filter.
    bool row(std::uint32_t y, const u8* filtered) {
        if (filtered[0] >= png::kFilterCount) return false;
        const auto filter = static_cast<png::Filter>(filtered[0]);
        u8* const out = image_.row(y).data();
        const u8* aboveOut = y ? out - image_.stride() : rows_.data();
        if (h_.depth == 8 && h_.colourType == Rgba) {
            png::unfilterRow(filter, filtered + 1, aboveOut, out, h_.rowBytes(), bpp_);
            return true;
        }
        if (h_.depth == 8 && h_.colourType == Rgb) {
            png::unfilterRgbToRgba(filter, filtered + 1, aboveOut, out, h_.width);
            if (keyed_) png::keyRgba(out, h_.width, key_[0] | key_[1] << 8 | key_[2] << 16);
            return true;
        }
        widen(unfilter(filter, filtered + 1, y, h_.rowBytes()), out, h_.width);
        return true;
    }

    // The rows of an interlaced file, pass by pass, each pixel put in its place.
    bool passes(const u8* filtered) {
        std::vector<u8> passRow(image_.stride());
        for (const Pass& p : kPasses) {
            const u32 w = passSide(h_.width, p.x, p.dx), rows = passSide(h_.height, p.y, p.dy);
            if (w == 0) continue;
            const std::size_t rowBytes = h_.rowBytes(w);
            for (u32 r = 0; r < rows; ++r, filtered += rowBytes + 1) {
                if (filtered[0] >= png::kFilterCount) return false;
                widen(unfilter(static_cast<png::Filter>(filtered[0]), filtered + 1, r, rowBytes), passRow.data(), w);
                u8* const out = image_.row(p.y + r * p.dy).data();
                for (u32 i = 0; i < w; ++i) std::memcpy(out + 4 * (p.x + i * p.dx), &passRow[4 * i], 4);
            }
        }
        return true;
    }

private:
    // Into the row buffer of the turn of row r, above it the other one (zeros
    // above the first row of the picture or pass).
    const u8* unfilter(png::Filter filter, const u8* in, u32 r, std::size_t n) {
        const std::size_t stride = rows_.size() / 3;
        u8* raw = rows_.data() + (1 + (r & 1)) * stride;
        const u8* above = r ? rows_.data() + (1 + ((r - 1) & 1)) * stride : rows_.data();
        png::unfilterRow(filter, in, above, raw, n, bpp_);
        return raw;
    }

    void widen(const u8* raw, u8* out, u32 width) const {
        if (h_.depth == 16) return widen16(raw, out, width);
        switch (h_.colourType) {
            case Rgba: std::memcpy(out, raw, std::size_t{width} * 4); break;
            case Rgb:
                for (u32 x = 0; x < width; ++x) {
                    std::memcpy(out + 4 * x, raw + 3 * x, 3);
                    out[4 * x + 3] = 255;
                }
                if (keyed_) png::keyRgba(out, width, key_[0] | key_[1] << 8 | key_[2] << 16);
                break;
            case GreyAlpha: png::greyAlphaToRgba(raw, out, width); break;
            default: png::lookUpRgba(raw, out, width, h_.depth, table_.data()); break;
        }
    }

    // Samples are big-endian; the key is compared before rounding.
    void widen16(const u8* raw, u8* out, u32 width) const {
        const unsigned n = h_.channels();
        for (u32 x = 0; x < width; ++x, raw += 2 * n, out += 4) {
            u32 v[4];
            for (unsigned c = 0; c < n; ++c) v[c] = u32{raw[2 * c]} << 8 | raw[2 * c + 1];
            switch (h_.colourType) {
                case Grey:
                    out[0] = out[1] = out[2] = to8(v[0]);
                    out[3] = keyed_ && v[0] == key_[0] ? 0 : 255;
                    break;
                case GreyAlpha:
                    out[0] = out[1] = out[2] = to8(v[0]);
                    out[3] = to8(v[1]);
                    break;
                case Rgb:
                    for (unsigned c = 0; c < 3; ++c) out[c] = to8(v[c]);
                    out[3] = keyed_ && v[0] == key_[0] && v[1] == key_[1] && v[2] == key_[2] ? 0 : 255;
                    break;
                default:
                    for (unsigned c = 0; c < 4; ++c) out[c] = to8(v[c]);
                    break;
            }
        }
    }

    const Header& h_;
    Image& image_;
    unsigned bpp_;
    // a row of zeros (above the first, as wide as an RGBA row), then two rows in turn
    std::vector<u8> rows_;
    std::array<u32, 256> table_{};
    bool keyed_ = false;
    u32 key_[3] = {};
};

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The zlib stream inflated into `filtered`, which it must fill exactly, its
// Adler-32 right. The IDAT chunks are joined first when there are several.
bool inflateRows(const std::vector<std::span<const u8>>& idat, std::uint64_t idatBytes, std::span<u8> filtered) {
    std::vector<u8> joined;
    std::span<const u8> stream = idat[0];
    if (idat.size() > 1) {
        joined.reserve(idatBytes);
        for (const auto& chunk : idat) joined.insert(joined.end(), chunk.begin(), chunk.end());
        stream = joined;
    }
    const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> inflater(libdeflate_alloc_decompressor());
    std::size_t out = 0;
    return inflater &&
           libdeflate_zlib_decompress(inflater.get(), stream.data(), stream.size(), filtered.data(), filtered.size(),
                                      &out) == LIBDEFLATE_SUCCESS &&
           out == filtered.size();
}

}  // namespace

std::string describe(PngError error) {
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

    const std::size_t size = h.filteredSize();
    // Not cleared: the inflater writes every byte or the file is refused.
    std::unique_ptr<u8[]> filtered(new u8[size]);
    if (!inflateRows(chunks->idat, chunks->idatBytes, std::span(filtered.get(), size))) return fail(PngError::Corrupt);
    Image image(h.width, h.height);
    RowDecoder decoder(*chunks, image);
    if (h.interlace != 0) {
        // Every row is finished only by the last pass.
        if (!decoder.passes(filtered.get())) return fail(PngError::Corrupt);
        if (onRows) onRows(image, image.height);
        return image;
    }
    // Told of in bands of whole block rows, so that an encoder waiting on them
    // starts while the rest are unfiltered.
    const std::size_t stride = h.rowBytes() + 1;
    std::uint32_t told = 0;
    for (std::uint32_t y = 0; y < h.height; ++y) {
        if (!decoder.row(y, filtered.get() + y * stride)) {
            if (told > 0) onRows(image, 0);  // the rows told of are about to go
            return fail(PngError::Corrupt);
        }
        if (onRows && ((y + 1) % 32 == 0 || y + 1 == h.height)) onRows(image, told = y + 1);
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

// Bands of rows are compressed apart, on every core. How many there are follows
// from the picture's size, not the number of cores, so a picture gives one file
// on any machine; each band's start forgets the bands above (about 0.05 % of
// the file each), so there are few.
constexpr std::size_t kMostBands = 4, kLeastBandBytes = 256 * 1024;

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
    const int deflateLevel = deflateLevelOf(level);

    const auto n = static_cast<unsigned>(channels);
    const std::size_t rowBytes = std::size_t{picture.width} * n, stride = rowBytes + 1;
    const std::size_t filteredSize = stride * picture.height;
    std::unique_ptr<u8[]> filtered(new u8[filteredSize]);
    const auto pack = n == 1 ? packRow<1> : n == 2 ? packRow<2> : packRow<3>;
    const std::size_t bandCount = std::clamp<std::size_t>(filteredSize / kLeastBandBytes, 1, kMostBands);
    const std::size_t bandRows = (picture.height + bandCount - 1) / bandCount;
    const std::size_t bands = (picture.height + bandRows - 1) / bandRows;
    std::vector<std::vector<u8>> parts(bands);
    std::atomic<bool> failed{false};
    parallelFor(bands, 0, 1, [&](std::size_t first, std::size_t last) {
        // A row of zeros above the first, and two packed rows in turn.
        std::vector<u8> rows(3 * rowBytes);
        for (std::size_t band = first; band < last; ++band) {
            const std::size_t top = band * bandRows, bottom = std::min<std::size_t>(top + bandRows, picture.height);
            const u8* above = rows.data();
            for (std::size_t y = top == 0 ? 0 : top - 1; y < bottom; ++y) {
                const u8* row = picture.row(static_cast<std::uint32_t>(y)).data();
                if (n != 4) {
                    u8* packed = rows.data() + (1 + (y & 1)) * rowBytes;
                    pack(row, picture.width, packed);
                    row = packed;
                }
                if (y >= top) {
                    u8* out = filtered.get() + y * stride;
                    // Stored files are not made smaller by filtering.
                    if (level <= 0) png::filterRowWith(png::Filter::None, row, above, out, rowBytes, n);
                    else png::filterRow(row, above, out, rowBytes, n);
                }
                above = row;
            }
            const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
                libdeflate_alloc_compressor(deflateLevel));
            if (!compressor) return failed.store(true);
            const u8* in = filtered.get() + top * stride;
            const std::size_t size = (bottom - top) * stride;
            std::vector<u8>& part = parts[band];
            part.resize(libdeflate_deflate_compress_bound(compressor.get(), size));
            part.resize(libdeflate_deflate_compress(compressor.get(), in, size, part.data(), part.size()));
            if (part.empty() || (band + 1 < bands && !deflate::leaveOpen(part))) return failed.store(true);
        }
    });
    if (failed) return fail(PngError::TooLarge);

    // The zlib stream: its header (deflate, 32 KiB window, the level's class), the
    // parts, and the Adler-32 of every filtered byte.
    const unsigned levelClass = deflateLevel < 2 ? 0 : deflateLevel < 6 ? 1 : deflateLevel == 6 ? 2 : 3;
    const unsigned zlibHeader = 0x7800 | (levelClass << 6);
    std::size_t streamSize = 6;
    for (const auto& part : parts) streamSize += part.size();
    if (streamSize > kMaxChunkLength) return fail(PngError::TooLarge);

    ByteWriter out(streamSize + 64);
    out.append(kSignature);
    ByteWriter header(13);
    header.u32be(picture.width);
    header.u32be(picture.height);
    const u8 colourType = n == 1 ? Grey : n == 2 ? GreyAlpha : n == 3 ? Rgb : Rgba;
    for (const u8 field : {u8{8}, colourType, u8{0}, u8{0}, u8{0}}) header.u8(field);
    chunk(out, "IHDR", header.data());
    const std::size_t idatAt = out.size();
    out.u32be(static_cast<u32>(streamSize));
    out.append(std::span(reinterpret_cast<const u8*>("IDAT"), 4));
    out.u16be(static_cast<std::uint16_t>(zlibHeader + 31 - zlibHeader % 31));
    for (const auto& part : parts) out.append(part);
    out.u32be(libdeflate_adler32(1, filtered.get(), filteredSize));
    const std::vector<u8>& bytes = out.data();
    out.u32be(crcOf(std::span(bytes).subspan(idatAt + 4, 4), std::span(bytes).subspan(idatAt + 8, streamSize)));
    chunk(out, "IEND", {});
    if (!out.ok()) return fail(PngError::TooLarge);
    return out.take();
}

PngChannels pngChannelsOf(Format format) {
    switch (format) {
        case Format::I4:
        case Format::I8: return PngChannels::Grey;
        case Format::IA4:
        case Format::IA8: return PngChannels::GreyAlpha;
        case Format::RGB565: return PngChannels::Rgb;
        default: return PngChannels::Rgba;
    }
}

}  // namespace tplforge
