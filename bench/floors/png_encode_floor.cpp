// The floor of `tplforge-cli decode`: encode pixels that are already in memory
// (read from a raw file png_decode_floor wrote) to PNG with libspng, with the
// zlib level tplforge's default replaced (4) and libspng's adaptive row filters
// unless told otherwise, and write the file.
//   png_encode_floor IN.raw OUT.png [LEVEL [FILTERS]]
// FILTERS is libspng's filter choice mask (8 none, 16 sub, 32 up, 64 average,
// 128 Paeth, 248 all: the adaptive choice).
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>


namespace {
int write(spng_ctx*, void* user, void* data, std::size_t length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(user)) == length ? 0 : SPNG_IO_ERROR;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    unsigned width = 0, height = 0, colourType = 0;
    if (!in || std::fscanf(in, "%u %u %u", &width, &height, &colourType) != 3 || std::fgetc(in) != '\n') return 1;
    const unsigned channels = colourType == 0 ? 1 : colourType == 4 ? 2 : colourType == 2 ? 3 : 4;
    const std::size_t size = std::size_t{width} * height * channels;
    std::unique_ptr<unsigned char[]> pixels(new unsigned char[size]);
    if (std::fread(pixels.get(), 1, size, in) != size) return 1;
    std::fclose(in);

    const int level = argc > 3 ? std::atoi(argv[3]) : 4;
    const int filters = argc > 4 ? std::atoi(argv[4]) : 248;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_stream(ctx, write, out);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, filters);
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = static_cast<std::uint8_t>(colourType);
    spng_set_ihdr(ctx, &ihdr);
    const int status = spng_encode_image(ctx, pixels.get(), size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    spng_ctx_free(ctx);
    return std::fclose(out) == 0 && status == 0 ? 0 : 1;
}
