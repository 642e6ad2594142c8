// tplforge-psnr ORIGINAL.png FILE.tpl: PSNR over red, green and blue of the first
// texture of FILE.tpl as the console shows it, against the original picture.
#include <cmath>
#include <cstdio>

#include "tplforge/file_io.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"

int main(int argc, char** argv) {
    using namespace tplforge;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ORIGINAL.png FILE.tpl\n", argv[0]);
        return 2;
    }
    const auto png = readWholeFile(argv[1]);
    const auto tpl = readWholeFile(argv[2]);
    if (!png || !tpl) return 1;
    const auto original = readPng(*png);
    const auto info = parseTpl(*tpl);
    if (!original || !info) return 1;
    const auto view = textureView(*tpl, info->images[0]);
    if (!view) return 1;
    const Image decoded = decodeLevel(*view, 0);
    if (decoded.width != original->width || decoded.height != original->height) return 1;
    double sum = 0;
    for (std::size_t i = 0; i < decoded.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(decoded.rgba[i]) - double(original->rgba[i]);
        sum += d * d;
    }
    const double mse = sum / (3.0 * decoded.width * decoded.height);
    std::printf("%.3f\n", mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse));
    return 0;
}
