// tplforge-psnr [--straight] ORIGINAL.png FILE.tpl: PSNR of the first texture of
// FILE.tpl as the console shows it, against the original picture.
//
// Colour formats: over red, green and blue.
// Grey formats: against the original's grey, worked out three ways (the mean of
// R, G and B, Rec. 601 luma, Rec. 709 luma), real-valued; the best of the three
// comes first, then each. I4 and I8 over the grey alone: their alpha is their
// intensity, whatever the picture's was. IA4 and IA8 over premultiplied red,
// green and blue (the grey three times) and alpha, as what shows after blending;
// --straight leaves the grey unmultiplied. For I8 and IA8 the ceiling of each grey
// follows: what the nearest 8-bit intensity to it scores.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "tplforge/file_io.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

namespace {

using namespace tplforge;

double psnr(double squares, double count) {
    return squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * count / squares);
}

struct Weights {
    const char* name;
    double r, g, b;
};
constexpr std::array<Weights, 3> kGreys = {
    {{"mean", 1 / 3.0, 1 / 3.0, 1 / 3.0}, {"bt601", 0.299, 0.587, 0.114}, {"bt709", 0.2126, 0.7152, 0.0722}}};

// `ceiling`: instead of the texture, 8-bit intensity at its nearest to this grey
// with the picture's own alpha, which no 8-bit encoder can beat.
double greyPsnr(const Image& original, const Image& shown, const Weights& w, bool withAlpha, bool premultiplied,
                bool ceiling = false) {
    double sum = 0;
    for (std::size_t i = 0; i < shown.rgba.size(); i += 4) {
        const std::uint8_t* o = &original.rgba[i];
        const double grey = w.r * o[0] + w.g * o[1] + w.b * o[2];
        const std::uint8_t nearest[4] = {static_cast<std::uint8_t>(std::lround(grey)), 0, 0, o[3]};
        const std::uint8_t* s = ceiling ? nearest : &shown.rgba[i];
        if (!withAlpha) {
            sum += (s[0] - grey) * (s[0] - grey);
            continue;
        }
        const double k = premultiplied ? o[3] / 255.0 : 1, ks = premultiplied ? s[3] / 255.0 : 1;
        const double d = s[0] * ks - grey * k, a = double(s[3]) - o[3];
        sum += 3 * d * d + a * a;
    }
    const double pixels = double(shown.width) * shown.height;
    return psnr(sum, withAlpha ? 4 * pixels : pixels);
}

}  // namespace

int main(int argc, char** argv) {
    bool straight = false;
    int first = 1;
    if (argc > 1 && std::string_view(argv[1]) == "--straight") straight = true, first = 2;
    if (argc - first != 2) {
        std::fprintf(stderr, "usage: %s [--straight] ORIGINAL.png FILE.tpl\n", argv[0]);
        return 2;
    }
    const auto png = readWholeFile(argv[first]);
    const auto tpl = readWholeFile(argv[first + 1]);
    if (!png || !tpl) return 1;
    const auto original = readPng(*png);
    const auto info = parseTpl(*tpl);
    if (!original || !info || info->images.empty()) return 1;
    const auto view = textureView(*tpl, info->images[0]);
    if (!view) return 1;
    const auto decodedLevel = decodeLevel(*view, 0);
    if (!decodedLevel) return 1;
    const Image& decoded = *decodedLevel;
    if (decoded.width != original->width || decoded.height != original->height) return 1;

    const Format f = view->format;
    if (f == Format::I4 || f == Format::I8 || f == Format::IA4 || f == Format::IA8) {
        const bool withAlpha = f == Format::IA4 || f == Format::IA8;
        std::array<double, kGreys.size()> each{};
        double best = -INFINITY;
        for (std::size_t k = 0; k < kGreys.size(); ++k) {
            each[k] = greyPsnr(*original, decoded, kGreys[k], withAlpha, !straight);
            best = std::max(best, each[k]);
        }
        std::printf("%.3f", best);
        for (std::size_t k = 0; k < kGreys.size(); ++k) std::printf(" %s=%.3f", kGreys[k].name, each[k]);
        if (f == Format::I8 || f == Format::IA8)
            for (std::size_t k = 0; k < kGreys.size(); ++k)
                std::printf(" ceiling-%s=%.3f", kGreys[k].name,
                            greyPsnr(*original, decoded, kGreys[k], withAlpha, !straight, true));
        std::printf("\n");
        return 0;
    }
    double sum = 0;
    for (std::size_t i = 0; i < decoded.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(decoded.rgba[i]) - double(original->rgba[i]);
        sum += d * d;
    }
    std::printf("%.3f\n", psnr(sum, 3.0 * decoded.width * decoded.height));
    return 0;
}
