#include <algorithm>
#include <array>
#include <cmath>

#include "tplforge/texture.h"

namespace tplforge {

namespace {

// sRGB to linear light, and back through a table fine enough that every 8-bit
// value survives the trip.
struct LightTables {
    std::array<float, 256> linear{};
    std::array<std::uint8_t, 65536> encoded{};
    LightTables() {
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            linear[v] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            const double l = static_cast<double>(i) / (encoded.size() - 1);
            const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            encoded[i] = static_cast<std::uint8_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255));
        }
    }
    std::uint8_t toSrgb(float l) const {
        const auto i = static_cast<std::size_t>(std::clamp(l, 0.0f, 1.0f) * (encoded.size() - 1) + 0.5f);
        return encoded[i];
    }
};

const LightTables& tables() {
    static const LightTables t;
    return t;
}

}  // namespace

Image halveImage(const Image& picture) {
    const LightTables& lt = tables();
    const std::uint32_t w = std::max<std::uint32_t>(1, picture.width / 2);
    const std::uint32_t h = std::max<std::uint32_t>(1, picture.height / 2);
    Image out(w, h);
    for (std::uint32_t y = 0; y < h; ++y) {
        const auto top = picture.row(std::min(2 * y, picture.height - 1));
        const auto bottom = picture.row(std::min(2 * y + 1, picture.height - 1));
        const auto row = out.row(y);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::size_t x0 = 4 * std::min(2 * x, picture.width - 1), x1 = 4 * std::min(2 * x + 1, picture.width - 1);
            const std::uint8_t* p[4] = {&top[x0], &top[x1], &bottom[x0], &bottom[x1]};
            float sum[3] = {}, plain[3] = {};
            unsigned alpha = 0;
            for (const std::uint8_t* q : p) {
                for (int c = 0; c < 3; ++c) {
                    sum[c] += lt.linear[q[c]] * q[3];
                    plain[c] += lt.linear[q[c]];
                }
                alpha += q[3];
            }
            std::uint8_t* o = &row[4 * x];
            for (int c = 0; c < 3; ++c) o[c] = lt.toSrgb(alpha > 0 ? sum[c] / alpha : plain[c] / 4);
            o[3] = static_cast<std::uint8_t>((alpha + 2) / 4);
        }
    }
    return out;
}

}  // namespace tplforge
