#include "tplforge/bmp.h"

#include "codec/bytes.h"
#include "codec/window_rules.h"

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

std::vector<std::uint8_t> encodeBmp(const Image& picture) {
    bool hasAlpha = false;
    for (std::size_t i = 3; i < picture.rgba.size() && !hasAlpha; i += 4) hasAlpha = picture.rgba[i] != 255;
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

namespace window_rules {

std::vector<std::uint8_t> encodeBmp24(const Raster& picture) {
    const std::size_t width = picture.width > 0 ? static_cast<std::size_t>(picture.width) : 0;
    const std::size_t height = picture.height > 0 ? static_cast<std::size_t>(picture.height) : 0;
    return writeBmp(width, height, false, [&](std::size_t y, std::span<std::uint8_t> out) {
        const ColourValue* row = picture.row(static_cast<int>(y));
        for (std::size_t x = 0; x < width; ++x) {
            out[3 * x] = static_cast<std::uint8_t>(blueOf(row[x]));
            out[3 * x + 1] = static_cast<std::uint8_t>(greenOf(row[x]));
            out[3 * x + 2] = static_cast<std::uint8_t>(redOf(row[x]));
        }
    });
}

}  // namespace window_rules

}  // namespace tplforge
