#include "tplforge/bmp.h"

#include "tplforge/bytes.h"

namespace tplforge {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr std::uint32_t kV4HeaderSize = 108;   // BITMAPV4HEADER
constexpr std::uint32_t kPixelsPerMetre = 2835;
constexpr std::uint32_t kCompressionNone = 0;  // BI_RGB
constexpr std::uint32_t kBitFields = 3;        // BI_BITFIELDS
constexpr std::uint32_t kSrgbColourSpace = 0x73524742;  // 'sRGB'

// The file around rows that `fillRow(y, out)` writes as BGR or BGRA bytes.
template <class FillRow>
std::vector<std::uint8_t> writeBmp(std::size_t width, std::size_t height, bool alpha, FillRow fillRow) {
    const std::size_t bytesPerPixel = alpha ? 4 : 3;
    const std::size_t stride = (width * bytesPerPixel + 3) & ~std::size_t{3};
    const std::size_t imageSize = stride * height;
    const std::uint32_t infoSize = alpha ? kV4HeaderSize : kInfoHeaderSize;
    const std::size_t offset = kFileHeaderSize + infoSize;

    ByteWriter out(offset + imageSize);
    out.u8('B');
    out.u8('M');
    out.u32le(static_cast<std::uint32_t>(offset + imageSize));
    out.u32le(0);  // two reserved words
    out.u32le(static_cast<std::uint32_t>(offset));

    out.u32le(infoSize);
    out.u32le(static_cast<std::uint32_t>(width));
    out.u32le(static_cast<std::uint32_t>(height));  // positive: rows run bottom-up
    out.u16le(1);                                    // planes
    out.u16le(static_cast<std::uint16_t>(8 * bytesPerPixel));
    out.u32le(alpha ? kBitFields : kCompressionNone);
    out.u32le(static_cast<std::uint32_t>(imageSize));
    out.u32le(kPixelsPerMetre);
    out.u32le(kPixelsPerMetre);
    out.u32le(0);  // colours used
    out.u32le(0);  // important colours
    if (alpha) {
        out.u32le(0x00FF0000);  // red, green, blue and alpha masks
        out.u32le(0x0000FF00);
        out.u32le(0x000000FF);
        out.u32le(0xFF000000);
        out.u32le(kSrgbColourSpace);
        out.zeros(36 + 12);  // endpoints and gamma, unused with sRGB
    }

    const std::size_t at = out.size();
    out.zeros(imageSize);
    auto pixels = std::span(out.data()).subspan(at);
    for (std::size_t y = 0; y < height; ++y) fillRow(y, pixels.subspan((height - 1 - y) * stride, stride));
    return out.take();
}

}  // namespace

std::string describe(BmpError error) {
    switch (error) {
        case BmpError::EmptyPicture: return "the picture has no pixels";
        case BmpError::TooLarge: return "the picture is too large for a Windows bitmap (4 GiB)";
    }
    return "unknown error";
}

Expected<std::vector<std::uint8_t>, BmpError> encodeBmp(const Image& picture) {
    if (picture.empty() || picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return fail(BmpError::EmptyPicture);
    bool hasAlpha = false;
    for (std::size_t i = 3; i < picture.rgba.size() && !hasAlpha; i += 4) hasAlpha = picture.rgba[i] != 255;
    // Rows of the larger 32-bit form, and the headers, must stay within the
    // 32-bit size fields.
    const std::uint64_t stride = (std::uint64_t{picture.width} * 4 + 3) & ~std::uint64_t{3};
    if (stride * picture.height + kFileHeaderSize + kV4HeaderSize > 0xFFFFFFFFu) return fail(BmpError::TooLarge);
    return writeBmp(picture.width, picture.height, hasAlpha, [&](std::size_t y, std::span<std::uint8_t> out) {
        const auto row = picture.row(static_cast<std::uint32_t>(y));
        const std::size_t step = hasAlpha ? 4 : 3;
        for (std::size_t x = 0; x < picture.width; ++x) {
            out[step * x] = row[4 * x + 2];
            out[step * x + 1] = row[4 * x + 1];
            out[step * x + 2] = row[4 * x];
            if (hasAlpha) out[step * x + 3] = row[4 * x + 3];
        }
    });
}


}  // namespace tplforge
