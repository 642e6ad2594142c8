// The floor of `tplforge-cli encode`: read a PNG and decode it to 8-bit RGBA with
// libspng, nothing else.
//   png_decode_floor IN.png            decode only
//   png_decode_floor IN.png OUT.raw    also write the pixels in the PNG's own
//                                      channels, for png_encode_floor
#include <fcntl.h>
#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return 1;
    std::vector<unsigned char> file(static_cast<std::size_t>(st.st_size));
    if (::read(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) return 1;
    ::close(fd);

    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return 1;
    const bool raw = argc > 2;
    const int format = raw ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    std::size_t size = 0;
    if (spng_decoded_image_size(ctx, format, &size) != 0) return 1;
    // Not value-initialised: the decoder writes every byte.
    std::unique_ptr<unsigned char[]> pixels(new unsigned char[size]);
    if (spng_decode_image(ctx, pixels.get(), size, format, raw ? 0 : SPNG_DECODE_TRNS) != 0) return 1;
    spng_ctx_free(ctx);
    if (raw) {
        std::FILE* out = std::fopen(argv[2], "wb");
        if (!out) return 1;
        std::fprintf(out, "%u %u %u\n", ihdr.width, ihdr.height, unsigned{ihdr.color_type});
        std::fwrite(pixels.get(), 1, size, out);
        return std::fclose(out) == 0 ? 0 : 1;
    }
    return 0;
}
