// Writes a photo-like test picture for bench/whole-process: smooth noise over
// several scales with a little grain, so that PNG compresses it about as well as
// a photograph rather than as well as a flat or random picture.
//   make_picture OUT.png SIDE [SEED]
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::uint32_t hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// Value noise: random values on a grid of `cell` pixels, blended smoothly.
double lattice(std::uint32_t seed, int gx, int gy) {
    return (hash(seed ^ hash(static_cast<std::uint32_t>(gx) * 73856093u ^ static_cast<std::uint32_t>(gy) * 19349663u)) &
            0xFFFF) / 65535.0;
}

double smoothNoise(std::uint32_t seed, double x, double y) {
    const int gx = static_cast<int>(std::floor(x)), gy = static_cast<int>(std::floor(y));
    auto fade = [](double t) { return t * t * (3 - 2 * t); };
    const double fx = fade(x - gx), fy = fade(y - gy);
    const double top = lattice(seed, gx, gy) * (1 - fx) + lattice(seed, gx + 1, gy) * fx;
    const double bottom = lattice(seed, gx, gy + 1) * (1 - fx) + lattice(seed, gx + 1, gy + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

int write(spng_ctx*, void* user, void* data, std::size_t length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(user)) == length ? 0 : SPNG_IO_ERROR;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_picture OUT.png SIDE [SEED]\n");
        return 2;
    }
    const int side = std::atoi(argv[2]);
    const std::uint32_t seed = argc > 3 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 1;
    if (side <= 0 || side > 8192) return 2;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(side) * side * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0, amplitude = 0.5;
                for (int cell = side / 4; cell >= 4; cell /= 2, amplitude *= 0.55)
                    v += amplitude * smoothNoise(seed * 3 + c + static_cast<std::uint32_t>(cell), double(x) / cell,
                                                 double(y) / cell);
                const double grain = (static_cast<int>(hash(seed ^ hash((y * side + x) * 3 + c)) % 9) - 4);
                const double value = std::clamp(v * 255 + grain, 0.0, 255.0);
                rgb[(static_cast<std::size_t>(y) * side + x) * 3 + c] = static_cast<std::uint8_t>(value);
            }

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_stream(ctx, write, out);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(side);
    ihdr.height = static_cast<std::uint32_t>(side);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    const int status = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    spng_ctx_free(ctx);
    return std::fclose(out) == 0 && status == 0 ? 0 : 1;
}
