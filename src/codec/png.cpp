#include "tplforge/png.h"

#include <spng.h>

#include <algorithm>
#include <memory>

namespace tplforge {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// Ancillary chunks (text, profiles) are not needed for pixels; a hostile file
// must not make us hold megabytes of them.
constexpr std::size_t kChunkLimit = std::size_t{1} << 26;
constexpr std::size_t kChunkCacheLimit = std::size_t{1} << 26;

std::uint8_t to8(std::uint16_t v) { return static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u); }

// Deflate inflates to at most 1032 times its size, so a small file cannot hold
// the pixels a forged header claims: refused before up to 256 MiB are allocated
// and cleared for nothing.
bool canHold(std::size_t fileSize, const spng_ihdr& ihdr) {
    constexpr std::uint64_t kMostInflation = 1032;
    const std::uint64_t channels = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR         ? 3
                                   : ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                                   : ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ? 4
                                                                                        : 1;
    const std::uint64_t pixelBytes = std::uint64_t{ihdr.width} * ihdr.height * channels * ihdr.bit_depth / 8;
    return pixelBytes <= (std::uint64_t{fileSize} + 1) * kMostInflation;
}

}  // namespace

std::string_view describe(PngError error) {
    switch (error) {
        case PngError::NotPng: return "not a PNG file";
        case PngError::TooLarge: return "the PNG picture is too large";
        case PngError::Corrupt: return "the PNG file is damaged or cut short";
        case PngError::WriteFailed: return "the picture cannot be written as PNG";
    }
    return "cannot read the PNG file";
}

bool isPng(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kSignature && std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin());
}

Expected<Image, PngError> readPng(std::span<const std::uint8_t> file, const RowsDecoded& onRows) {
    if (!isPng(file)) return fail(PngError::NotPng);
    Context ctx(spng_ctx_new(0));
    if (!ctx) return fail(PngError::TooLarge);
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (spng_set_png_buffer(ctx.get(), file.data(), file.size()) != 0) return fail(PngError::Corrupt);

    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return fail(PngError::Corrupt);
    if (std::uint64_t{ihdr.width} * ihdr.height > kMaxPngPixels) return fail(PngError::TooLarge);
    if (!canHold(file.size(), ihdr)) return fail(PngError::Corrupt);

    Image image(ihdr.width, ihdr.height);
    const bool interlaced = ihdr.interlace_method != 0;
    if (ihdr.bit_depth != 16 && (!onRows || interlaced)) {
        if (spng_decode_image(ctx.get(), image.rgba.data(), image.rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            return fail(PngError::Corrupt);
        if (onRows) onRows(image, image.height);
        return image;
    }
    if (ihdr.bit_depth != 16) {
        // Straight into the picture a row at a time, told on every eighth row
        // (a block row of the tallest blocks).
        if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
            return fail(PngError::Corrupt);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            const auto out = image.row(y);
            const int status = spng_decode_row(ctx.get(), out.data(), out.size());
            if (status != 0 && !(status == SPNG_EOI && y + 1 == image.height)) {
                if (y >= 8) onRows(image, 0);  // the rows told of are about to go
                return fail(PngError::Corrupt);
            }
            if ((y + 1) % 8 == 0 || y + 1 == image.height) onRows(image, y + 1);
        }
        return image;
    }
    // 16-bit channels, decoded a row at a time and rounded into the picture.
    if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return fail(PngError::Corrupt);
    std::vector<std::uint16_t> row(std::size_t{ihdr.width} * 4);
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
            static constexpr std::uint32_t kFirst[] = {0, 4, 0, 2, 0, 1, 0}, kStep[] = {8, 8, 4, 4, 2, 2, 1};
            const unsigned pass = static_cast<unsigned>(info.pass);
            for (std::size_t x = kFirst[pass]; x < ihdr.width; x += kStep[pass])
                for (std::size_t c = 4 * x; c < 4 * x + 4; ++c) out[c] = to8(row[c]);
        }
        if (status == SPNG_EOI) {
            if (onRows) onRows(image, image.height);
            return image;
        }
    }
    return fail(PngError::Corrupt);
}

namespace {

int appendToVector(spng_ctx*, void* user, void* data, std::size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(user);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + length);
    return 0;
}

std::uint8_t colourType(PngChannels channels) {
    switch (channels) {
        case PngChannels::Grey: return SPNG_COLOR_TYPE_GRAYSCALE;
        case PngChannels::GreyAlpha: return SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
        case PngChannels::Rgb: return SPNG_COLOR_TYPE_TRUECOLOR;
        case PngChannels::Rgba: return SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    }
    return SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
}

// An RGBA row down to grey (red), grey and alpha, or RGB.
template <std::size_t N>
void packRow(const std::uint8_t* in, std::size_t width, std::uint8_t* out) {
    for (std::size_t x = 0; x < width; ++x, in += 4, out += N) {
        out[0] = in[0];
        if constexpr (N == 2) out[1] = in[3];
        if constexpr (N == 3) out[1] = in[1], out[2] = in[2];
    }
}

}  // namespace

Expected<std::vector<std::uint8_t>, PngError> writePng(const Image& picture, PngChannels channels, int level) {
    if (picture.empty() || picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return fail(PngError::WriteFailed);
    std::vector<std::uint8_t> out;
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return fail(PngError::WriteFailed);
    out.reserve(picture.rgba.size() / 4 + 1024);
    spng_set_png_stream(ctx.get(), appendToVector, &out);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, std::clamp(level, 0, 9));
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, kDefaultPngFilters);

    spng_ihdr ihdr{};
    ihdr.width = picture.width;
    ihdr.height = picture.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = colourType(channels);
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return fail(PngError::TooLarge);

    const auto n = static_cast<std::size_t>(channels);
    bool ok = true;
    if (n == 4) {
        ok = spng_encode_image(ctx.get(), picture.rgba.data(), picture.rgba.size(), SPNG_FMT_PNG,
                               SPNG_ENCODE_FINALIZE) == 0;
    } else {
        // Rows are packed down to the channels kept as they are handed over.
        ok = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
        std::vector<std::uint8_t> row(std::size_t{picture.width} * n);
        const auto pack = n == 1 ? packRow<1> : n == 2 ? packRow<2> : packRow<3>;
        for (std::uint32_t y = 0; ok && y < picture.height; ++y) {
            pack(picture.row(y).data(), picture.width, row.data());
            const int status = spng_encode_row(ctx.get(), row.data(), row.size());
            ok = status == 0 || (status == SPNG_EOI && y + 1 == picture.height);
        }
    }
    if (!ok) return fail(PngError::WriteFailed);
    return out;
}

}  // namespace tplforge
