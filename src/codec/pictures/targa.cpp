// Targa reader. Reads image types 1, 2, 3 and their run-length forms 9, 10, 11:
//   - colour-mapped 8-bit indices, map entries of 15, 16, 24 or 32 bits, any first
//     index and length (an index outside the map is refused);
//   - true colour of 15/16 bits (5-5-5, the attribute bit is ignored), 24 and 32 bits
//     (the fourth byte of 32-bit pixels is alpha when the descriptor declares alpha
//     bits; with none declared the pixels are opaque);
//   - 8-bit grey.
// The image ID is skipped, a colour map in a true-colour or grey file is skipped,
// both origin bits are honoured, and the origin fields are ignored: they place the
// image on a screen and do not crop it. Run-length packets may run over the end of
// a row (older writers do that), so the pixels are decoded as one stream.
#include "tplforge/targa.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <optional>

#include "tplforge/bytes.h"
#include "tplforge/file_io.h"

namespace tplforge {

namespace {

constexpr std::size_t kHeaderSize = 18;
constexpr std::uint8_t kRunLengthBit = 8;  // type 9 is type 1 run-length encoded, and so on
constexpr std::uint8_t kRightToLeft = 0x10;
constexpr std::uint8_t kTopToBottom = 0x20;
constexpr std::uint8_t kAttributeBits = 0x0F;  // alpha bits per pixel
constexpr std::size_t kMaxPacketPixels = 128;

struct Header {
    std::uint8_t idLength = 0;
    std::uint8_t mapType = 0;
    std::uint8_t imageType = 0;
    std::uint16_t mapFirst = 0;
    std::uint16_t mapLength = 0;
    std::uint8_t mapEntrySize = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t depth = 0;
    std::uint8_t descriptor = 0;
};

std::optional<Header> readHeader(ByteReader& in) {
    if (!in.has(kHeaderSize)) return std::nullopt;
    Header h;
    h.idLength = *in.u8();
    h.mapType = *in.u8();
    h.imageType = *in.u8();
    h.mapFirst = *in.u16le();
    h.mapLength = *in.u16le();
    h.mapEntrySize = *in.u8();
    in.skip(4);  // X and Y origin
    h.width = *in.u16le();
    h.height = *in.u16le();
    h.depth = *in.u8();
    h.descriptor = *in.u8();
    return h;
}

// How the bytes of one pixel (or one colour map entry) turn into RGBA.
enum class Layout {
    Lookup,  // 1 byte, through a 256-entry table (colour map or grey ramp)
    Rgb555,  // 2 bytes little-endian, xRRRRRGG GGGBBBBB
    Bgr,     // 3 bytes
    Bgra,    // 4 bytes with alpha
    Bgrx,    // 4 bytes whose fourth the descriptor declares no alpha: opaque
};

struct PixelFormat {
    Layout layout;
    std::size_t bytes;
};

struct LookupTable {
    std::array<std::uint8_t, 256 * 4> rgba{};
    std::bitset<256> filled;  // entries a colour map (or the grey ramp) gave
};

constexpr std::uint32_t expand5(std::uint32_t v) { return (v << 3) | (v >> 2); }

// Writers that store no alpha in 32-bit pixels say so with zero attribute bits in
// the descriptor, and often leave the fourth byte 0; reading it as coverage would
// turn the whole picture into the surface colour.
std::optional<PixelFormat> formatForDepth(std::uint8_t depth, bool hasAlpha) {
    switch (depth) {
        case 15:
        case 16: return PixelFormat{Layout::Rgb555, 2};
        case 24: return PixelFormat{Layout::Bgr, 3};
        case 32: return PixelFormat{hasAlpha ? Layout::Bgra : Layout::Bgrx, 4};
        default: return std::nullopt;
    }
}

void put(std::uint8_t* out, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    out[0] = static_cast<std::uint8_t>(r);
    out[1] = static_cast<std::uint8_t>(g);
    out[2] = static_cast<std::uint8_t>(b);
    out[3] = static_cast<std::uint8_t>(a);
}

// Converts in.size() / format.bytes pixels into `out` (4 bytes each); false when
// an index has no colour map entry.
bool convert(PixelFormat format, const LookupTable& table, std::span<const std::uint8_t> in,
             std::span<std::uint8_t> out) {
    const std::size_t n = out.size() / 4;
    switch (format.layout) {
        case Layout::Lookup:
            for (std::size_t i = 0; i < n; ++i) {
                if (!table.filled[in[i]]) return false;
                std::copy_n(&table.rgba[4 * std::size_t{in[i]}], 4, &out[4 * i]);
            }
            return true;
        case Layout::Rgb555:
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t v = in[2 * i] | (std::uint32_t{in[2 * i + 1]} << 8);
                put(&out[4 * i], expand5((v >> 10) & 0x1F), expand5((v >> 5) & 0x1F), expand5(v & 0x1F), 255);
            }
            return true;
        case Layout::Bgr:
            for (std::size_t i = 0; i < n; ++i) put(&out[4 * i], in[3 * i + 2], in[3 * i + 1], in[3 * i], 255);
            return true;
        case Layout::Bgra:
            for (std::size_t i = 0; i < n; ++i) put(&out[4 * i], in[4 * i + 2], in[4 * i + 1], in[4 * i], in[4 * i + 3]);
            return true;
        case Layout::Bgrx:
            for (std::size_t i = 0; i < n; ++i) put(&out[4 * i], in[4 * i + 2], in[4 * i + 1], in[4 * i], 255);
            return true;
    }
    return false;
}

// Whether the run-length packets from the reader's position carry `pixels` pixels
// before the data ends: checked by their headers alone, before any picture exists.
bool packetsCover(ByteReader in, std::uint64_t pixels, std::size_t bytesPerPixel) {
    std::uint64_t covered = 0;
    while (covered < pixels) {
        const auto packet = in.u8();
        if (!packet) return false;
        const std::size_t count = (*packet & 0x7Fu) + 1;
        if (!in.skip((*packet & 0x80u) != 0 ? bytesPerPixel : count * bytesPerPixel)) return false;
        covered += count;
    }
    return true;
}

// Everything known about the file before a single pixel is decoded.
struct Plan {
    Header header;
    bool runLength = false;
    PixelFormat pixel{Layout::Lookup, 1};
    LookupTable table{};
};

Expected<Plan, TargaError> plan(ByteReader& in) {
    const auto header = readHeader(in);
    if (!header) return fail(TargaError::TooShort);
    Plan p;
    const Header& h = p.header = *header;

    p.runLength = (h.imageType & kRunLengthBit) != 0;
    const auto base = static_cast<std::uint8_t>(h.imageType & ~kRunLengthBit);
    if (base < 1 || base > 3) return fail(TargaError::UnsupportedType);
    const bool colourMapped = base == 1;

    const bool hasAlpha = (h.descriptor & kAttributeBits) != 0;
    if (base == 2) {
        const auto format = formatForDepth(h.depth, hasAlpha);
        if (!format) return fail(TargaError::UnsupportedDepth);
        p.pixel = *format;
    } else if (h.depth != 8) {
        return fail(TargaError::UnsupportedDepth);
    }

    if (h.mapType > 1) return fail(TargaError::BadColourMap);
    const bool hasMap = h.mapType == 1 && h.mapLength > 0;
    if (colourMapped && !hasMap) return fail(TargaError::BadColourMap);
    std::optional<PixelFormat> entry;
    if (hasMap) {
        entry = formatForDepth(h.mapEntrySize, hasAlpha);
        if (!entry) return fail(TargaError::BadColourMap);
    }

    if (h.width == 0 || h.height == 0) return fail(TargaError::EmptyImage);

    if (!in.skip(h.idLength)) return fail(TargaError::Truncated);
    if (hasMap) {
        const auto mapBytes = in.bytes(std::size_t{h.mapLength} * entry->bytes);
        if (!mapBytes) return fail(TargaError::Truncated);
        if (colourMapped) {
            // 8-bit indices reach entries 0..255 only; the rest of a longer map is skipped.
            const std::size_t first = std::min<std::size_t>(h.mapFirst, 256);
            const std::size_t reachable = std::min<std::size_t>(h.mapLength, 256 - first);
            convert(*entry, p.table, mapBytes->first(reachable * entry->bytes),
                    std::span(p.table.rgba).subspan(4 * first, 4 * reachable));
            for (std::size_t i = first; i < first + reachable; ++i) p.table.filled.set(i);
        }
    }
    if (base == 3) {
        for (std::uint32_t g = 0; g < 256; ++g) put(&p.table.rgba[4 * g], g, g, g, 255);
        p.table.filled.set();
    }

    // The cheapest file that could hold the pixels: every byte of raw data, or one
    // full-length packet per 128 pixels.
    const std::uint64_t pixels = std::uint64_t{h.width} * h.height;
    const std::uint64_t least = p.runLength ? (pixels + kMaxPacketPixels - 1) / kMaxPacketPixels * (1 + p.pixel.bytes)
                                            : pixels * p.pixel.bytes;
    if (least > in.remaining()) return fail(TargaError::Truncated);
    if (pixels > kMaxPicturePixels) return fail(TargaError::TooLarge);
    if (p.runLength && !packetsCover(in, pixels, p.pixel.bytes)) return fail(TargaError::Truncated);
    return p;
}

Expected<Image, TargaError> decode(ByteReader& in, const Plan& p) {
    const std::size_t width = p.header.width;
    const std::size_t height = p.header.height;
    const bool topDown = (p.header.descriptor & kTopToBottom) != 0;
    Image out(p.header.width, p.header.height);
    auto rowSpan = [&](std::size_t stored) {
        const std::size_t y = topDown ? stored : height - 1 - stored;
        return out.row(static_cast<std::uint32_t>(y));
    };

    if (!p.runLength) {
        for (std::size_t s = 0; s < height; ++s) {
            const auto bytes = in.bytes(width * p.pixel.bytes);
            if (!bytes) return fail(TargaError::Truncated);
            if (!convert(p.pixel, p.table, *bytes, rowSpan(s))) return fail(TargaError::BadColourMap);
        }
    } else {
        std::size_t s = 0;
        std::size_t x = 0;
        while (s < height) {
            const auto packet = in.u8();
            if (!packet) return fail(TargaError::Truncated);
            std::size_t count = (*packet & 0x7Fu) + 1;
            const bool run = (*packet & 0x80u) != 0;
            std::array<std::uint8_t, 4> repeated{};
            if (run) {
                const auto bytes = in.bytes(p.pixel.bytes);
                if (!bytes) return fail(TargaError::Truncated);
                if (!convert(p.pixel, p.table, *bytes, repeated)) return fail(TargaError::BadColourMap);
            }
            // Pixels beyond the last row are dropped rather than refused.
            while (count > 0 && s < height) {
                const std::size_t n = std::min(count, width - x);
                const auto dest = rowSpan(s).subspan(4 * x, 4 * n);
                if (run) {
                    for (std::size_t i = 0; i < n; ++i) std::copy(repeated.begin(), repeated.end(), &dest[4 * i]);
                } else {
                    const auto bytes = in.bytes(n * p.pixel.bytes);
                    if (!bytes) return fail(TargaError::Truncated);
                    if (!convert(p.pixel, p.table, *bytes, dest)) return fail(TargaError::BadColourMap);
                }
                count -= n;
                x += n;
                if (x == width) {
                    x = 0;
                    ++s;
                }
            }
        }
    }

    if ((p.header.descriptor & kRightToLeft) != 0) {
        for (std::uint32_t y = 0; y < height; ++y) {
            const auto row = out.row(y);
            for (std::size_t a = 0, b = width - 1; a < b; ++a, --b) std::swap_ranges(&row[4 * a], &row[4 * a + 4], &row[4 * b]);
        }
    }
    return out;
}

}  // namespace

std::string describe(TargaError error) {
    switch (error) {
        case TargaError::TooShort: return "file is too short to be a Targa file";
        case TargaError::UnsupportedType:
            return "unsupported Targa image type (colour-mapped, true-colour and grey images, plain or "
                   "run-length encoded, are read)";
        case TargaError::UnsupportedDepth: return "unsupported Targa pixel depth";
        case TargaError::BadColourMap:
            return "Targa colour map is missing or invalid, or the image uses a colour it does not hold";
        case TargaError::EmptyImage: return "Targa image has a width or height of 0";
        case TargaError::Truncated: return "Targa file is cut short";
        case TargaError::TooLarge: return "Targa image is too large";
    }
    return "cannot read the Targa file";
}

Expected<Image, TargaError> readTarga(std::span<const std::uint8_t> file) {
    ByteReader in(file);
    auto p = plan(in);
    if (!p) return fail(p.error());
    return decode(in, *p);
}

}  // namespace tplforge
