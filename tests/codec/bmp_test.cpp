#include "tplforge/bmp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "tplforge/bytes.h"
#include "window_rules/window_rules.h"

namespace tplforge {
namespace {

// The whole file for widths that need 3, 2, 1 and 0 padding bytes a row.
TEST(Bmp, HeaderFieldsRowPaddingAndPixelBytes) {
    for (const auto& [width, stride] : {std::pair{1u, 4u}, {2u, 8u}, {3u, 12u}, {4u, 12u}}) {
        WindowRaster picture(static_cast<int>(width), 2);
        for (std::uint32_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = rgb(1 + i, 100 + i, 200 + i);
        ByteWriter expected;
        expected.u16le(0x4D42);  // "BM"
        // File size, reserved, pixel offset; info header size, width, height; 1 plane and 24 bits a
        // pixel as two 16-bit fields.
        for (const std::uint32_t f : {54 + 2 * stride, 0u, 54u, 40u, width, 2u, 1u | 24u << 16}) expected.u32le(f);
        // No compression, image size, 2835 pixels a metre both ways, no palette.
        for (const std::uint32_t f : {0u, 2 * stride, 2835u, 2835u, 0u, 0u}) expected.u32le(f);
        for (const std::uint32_t y : {1u, 0u}) {  // bottom row first, blue green red
            for (std::uint32_t i = y * width; i < (y + 1) * width; ++i)
                for (const std::uint32_t base : {200u, 100u, 1u}) expected.u8(static_cast<std::uint8_t>(base + i));
            expected.zeros(stride - 3 * width);
        }
        EXPECT_EQ(window_rules::encodeBmp24(picture).value(), expected.data()) << "width " << width;
    }
}

}  // namespace
}  // namespace tplforge
