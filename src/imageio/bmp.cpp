#include "imageio/bmp.h"

#include <span>

#include "common/bytes.h"

namespace tplforge {

namespace {
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr std::uint32_t kPixelsPerMetre = 2835;
constexpr std::uint16_t kBitsPerPixel = 24;
constexpr std::uint32_t kCompressionNone = 0;  // BI_RGB
}  // namespace

std::vector<std::uint8_t> encodeBmp24(const Raster& picture) {
    const std::size_t width = picture.width > 0 ? static_cast<std::size_t>(picture.width) : 0;
    const std::size_t height = picture.height > 0 ? static_cast<std::size_t>(picture.height) : 0;
    const std::size_t stride = (width * 3 + 3) & ~std::size_t{3};
    const std::size_t imageSize = stride * height;
    const std::size_t offset = kFileHeaderSize + kInfoHeaderSize;

    ByteWriter out(offset + imageSize);
    out.u8('B');
    out.u8('M');
    out.u32le(static_cast<std::uint32_t>(offset + imageSize));
    out.u32le(0);  // two reserved words
    out.u32le(static_cast<std::uint32_t>(offset));

    out.u32le(kInfoHeaderSize);
    out.u32le(static_cast<std::uint32_t>(width));
    out.u32le(static_cast<std::uint32_t>(height));  // positive: rows run bottom-up
    out.u16le(1);                                    // planes
    out.u16le(kBitsPerPixel);
    out.u32le(kCompressionNone);
    out.u32le(static_cast<std::uint32_t>(imageSize));
    out.u32le(kPixelsPerMetre);
    out.u32le(kPixelsPerMetre);
    out.u32le(0);  // colours used
    out.u32le(0);  // important colours

    std::vector<std::uint8_t> row(stride, 0);
    for (std::size_t y = height; y-- > 0;) {
        const std::span<const ColourValue> source(picture.row(static_cast<int>(y)), width);
        for (std::size_t x = 0; x < width; ++x) {
            const ColourValue c = source[x];
            row[3 * x] = static_cast<std::uint8_t>(blueOf(c));
            row[3 * x + 1] = static_cast<std::uint8_t>(greenOf(c));
            row[3 * x + 2] = static_cast<std::uint8_t>(redOf(c));
        }
        out.append(row);
    }
    return out.take();
}

}  // namespace tplforge
