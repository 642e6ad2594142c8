// A stand-in for tplforge-picture that misbehaves on request: the file name's
// stem says how (the file itself is never read), so a test scripts it through
// the path it asks for, as the window and the command line pass it.
//   ok-WxH       a whole answer, pixel i = (i, i >> 8, i >> 16, 255 - i), or
//                alpha 255 when asked for the picture over a colour
//   refuse-N     an answer with status N
//   short        10 bytes of the header, then exit 0
//   cut          a 4 x 4 header and 20 pixel bytes, then exit 0
//   garbage      16 bytes that are no header
//   huge         a header claiming 100000 x 100000 pixels
//   extra        a whole 1 x 1 answer and one byte more
//   exit-N       a whole 1 x 1 answer, then exit status N
//   abort        half a header, then abort()
//   abort-late   a 64 x 64 header and half its pixels, then abort()
//   kill         a whole answer, then SIGKILL on itself
//   hang         half a header, then sleep
//   hang-late    a whole answer, then sleep with the pipe still open
//   slow-N       N milliseconds of nothing, then a whole 8 x 4 answer
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "picture_reader/picture_reader.h"

namespace {

using namespace tplforge::picture_protocol;

bool surface = false;

void put(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, size);
        if (n <= 0) std::_Exit(1);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void putHeader(ReaderStatus status, std::uint32_t width, std::uint32_t height, std::size_t bytes = SIZE_MAX) {
    const auto head = header(status, width, height);
    put(head.data(), std::min(bytes, head.size()));
}

// The first `pixelBytes` of a whole answer.
void answer(std::uint32_t width, std::uint32_t height, std::size_t pixelBytes = SIZE_MAX) {
    putHeader(ReaderStatus::Ok, width, height);
    std::vector<std::uint8_t> pixels(std::size_t{width} * height * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::size_t n = i / 4;
        pixels[i] = static_cast<std::uint8_t>(i % 4 < 3 ? n >> (8 * (i % 4)) : surface ? 255 : 255 - n);
    }
    put(pixels.data(), std::min(pixelBytes, pixels.size()));
}

[[noreturn]] void sleepForever() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    surface = std::strncmp(argv[1], "--over=", 7) == 0;
    std::string name = argv[3];
    name = name.substr(name.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    const auto number = [&](std::size_t at) {
        return static_cast<std::uint32_t>(std::strtoul(name.c_str() + at, nullptr, 10));
    };

    if (name.starts_with("ok-")) {
        answer(number(3), number(name.find('x') + 1));
    } else if (name.starts_with("refuse-")) {
        putHeader(static_cast<ReaderStatus>(number(7)), 0, 0);
    } else if (name == "short") {
        putHeader(ReaderStatus::Ok, 1, 1, 10);
    } else if (name == "cut") {
        answer(4, 4, 20);
    } else if (name == "garbage") {
        put("no picture here!", 16);
    } else if (name == "huge") {
        putHeader(ReaderStatus::Ok, 100000, 100000);
    } else if (name == "extra") {
        answer(1, 1);
        put("+", 1);
    } else if (name.starts_with("exit-")) {
        answer(1, 1);
        return static_cast<int>(number(5));
    } else if (name == "abort" || name == "hang") {
        putHeader(ReaderStatus::Ok, 1, 1, 8);
        name == "abort" ? std::abort() : sleepForever();
    } else if (name == "abort-late") {
        answer(64, 64, 64 * 64 * 2);
        std::abort();
    } else if (name == "kill") {
        answer(2, 2);
        ::kill(::getpid(), SIGKILL);
    } else if (name.starts_with("slow-")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(number(5)));
        answer(8, 4);
    } else if (name == "hang-late") {
        answer(2, 2);
        sleepForever();
    } else {
        return 3;
    }
    return 0;
}
