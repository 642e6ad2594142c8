// The window's raster: the pixels of its slots and work surface, opaque colour
// values held the way the window's rules compare and encode them. Sides are
// ints, as the window's own coordinates are.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tplforge {

// red + 256 × green + 65536 × blue, each channel 0..255 (red in the low byte).
using ColourValue = std::uint32_t;

constexpr ColourValue kWhite = 0xFFFFFF;
constexpr ColourValue kBlack = 0;

// The work surface's own colour (a button-face grey): every picture with
// transparency is drawn over it, in the window and in the command-line tool alike.
constexpr ColourValue kSurfaceColour = 0xF0F0F0;

constexpr ColourValue rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return r | (g << 8) | (b << 16);
}
constexpr std::uint32_t redOf(ColourValue c) { return c & 0xFF; }
constexpr std::uint32_t greenOf(ColourValue c) { return (c >> 8) & 0xFF; }
constexpr std::uint32_t blueOf(ColourValue c) { return (c >> 16) & 0xFF; }
// As written in the usual web notation, red in the high byte.
constexpr std::uint32_t rrggbbOf(ColourValue c) { return redOf(c) << 16 | greenOf(c) << 8 | blueOf(c); }

// x / 255 for any x below 65536, as a multiply that vectorises.
constexpr std::uint32_t div255(std::uint32_t x) { return (x * 0x8081) >> 23; }

// Composites one channel of coverage `alpha` (0..255) over the background, rounded.
constexpr std::uint32_t blendChannel(std::uint32_t fg, std::uint32_t bg, std::uint32_t alpha) {
    return div255(fg * alpha + bg * (255 - alpha) + 127);
}
constexpr ColourValue blendOver(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t alpha,
                                ColourValue background = kSurfaceColour) {
    return rgb(blendChannel(r, redOf(background), alpha), blendChannel(g, greenOf(background), alpha),
               blendChannel(b, blueOf(background), alpha));
}

// An allocator whose elements made without a value are left unset, so that a
// raster about to be overwritten whole is not filled first: for a large picture
// the fill costs as much as the decode that follows.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using RasterPixels = std::vector<ColourValue, UnsetAllocator<ColourValue>>;

// A width × height grid of colour values, row-major from the top-left pixel.
struct WindowRaster {
    int width = 0;
    int height = 0;
    RasterPixels pixels;

    WindowRaster() = default;
    WindowRaster(int w, int h, ColourValue fill = kSurfaceColour)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

    // For a caller that writes every pixel before anyone reads one.
    static WindowRaster unset(int w, int h) {
        WindowRaster r;
        r.width = w;
        r.height = h;
        r.pixels = RasterPixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        return r;
    }

    ColourValue at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    ColourValue& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const ColourValue* row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * width; }
    ColourValue* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * width; }

    bool operator==(const WindowRaster&) const = default;
};

// An immutable picture shared by reference; null is "no picture".
using SharedRaster = std::shared_ptr<const WindowRaster>;

}  // namespace tplforge
