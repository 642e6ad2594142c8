#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

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

namespace {

// The source pixels a row or column of the output covers, and by how much: out
// pixel i spans [i × from, (i + 1) × from) in units of 1/to of a source pixel.
struct Span {
    std::uint32_t first = 0;
    std::vector<std::uint32_t> weights;
};

std::vector<Span> spans(std::uint32_t from, std::uint32_t to) {
    std::vector<Span> out(to);
    for (std::uint32_t i = 0; i < to; ++i) {
        const std::uint64_t begin = std::uint64_t{i} * from, end = begin + from;
        Span& s = out[i];
        s.first = static_cast<std::uint32_t>(begin / to);
        for (std::uint64_t p = s.first; p * to < end; ++p) {
            const std::uint64_t lo = std::max(begin, p * to), hi = std::min(end, (p + 1) * to);
            s.weights.push_back(static_cast<std::uint32_t>(hi - lo));
        }
    }
    return out;
}

// Both sides halved the same number of times, exactly.
unsigned halvings(const Image& picture, std::uint32_t width, std::uint32_t height) {
    for (unsigned k = 1; k < 32 && (std::uint64_t{width} << k) <= picture.width; ++k)
        if ((std::uint64_t{width} << k) == picture.width && (std::uint64_t{height} << k) == picture.height) return k;
    return 0;
}

}  // namespace

Image resizeImage(const Image& picture, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || picture.empty()) return Image(width, height);
    if (width == picture.width && height == picture.height) return picture;
    if (const unsigned k = halvings(picture, width, height)) {
        Image out = halveImage(picture);
        for (unsigned i = 1; i < k; ++i) out = halveImage(out);
        return out;
    }
    const LightTables& lt = tables();
    const std::vector<Span> columns = spans(picture.width, width), rows = spans(picture.height, height);
    const double area = static_cast<double>(picture.width) * picture.height;
    Image out(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const Span& sy = rows[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            const Span& sx = columns[x];
            double sum[3] = {}, plain[3] = {}, alpha = 0;
            for (std::size_t j = 0; j < sy.weights.size(); ++j) {
                const auto row = picture.row(sy.first + static_cast<std::uint32_t>(j));
                for (std::size_t i = 0; i < sx.weights.size(); ++i) {
                    const std::uint8_t* q = &row[4 * (sx.first + i)];
                    const double w = static_cast<double>(sx.weights[i]) * sy.weights[j];
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += lt.linear[q[c]] * w * q[3];
                        plain[c] += lt.linear[q[c]] * w;
                    }
                    alpha += w * q[3];
                }
            }
            std::uint8_t* o = &out.row(y)[4 * std::size_t{x}];
            for (int c = 0; c < 3; ++c)
                o[c] = lt.toSrgb(static_cast<float>(alpha > 0 ? sum[c] / alpha : plain[c] / area));
            o[3] = static_cast<std::uint8_t>(std::lround(alpha / area));
        }
    }
    return out;
}

}  // namespace tplforge
