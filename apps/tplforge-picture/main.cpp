// tplforge-picture: reads one picture file through Qt, libwmf or libemf2svg and
// writes it to its standard output in the form picture_process.h lays down.
// The window and tplforge-cli run it as a separate process, so that whatever a
// decoder does with a hostile file, it does it here.
//
//   tplforge-picture --keep-alpha|--over-surface [--] FILE
//
// Exit status 0 once an answer is written (a refusal is an answer too), 1 when
// it cannot be written, 2 for a usage error.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include <QGuiApplication>

#include "picture_loader.h"
#include "tplforge/file_io.h"
#include "picture_reader/picture_reader.h"
#include "tplforge/version.h"

namespace {

using namespace tplforge;

// A refusal reaches the user through the answer; Qt's own remarks on the way (a
// decoder's complaint, the offscreen platform's set-up) would only be noise.
void onlySeriousMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}
using namespace tplforge::picture_protocol;

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Three copies of the largest picture allowed, and Qt with its fonts, fit well.
constexpr rlim_t kAddressSpace = rlim_t{3} << 30;

int answer(int fd, Expected<Image, PictureError> picture) {
    if (!picture) return writeAll(fd, header(statusFor(picture.error()), 0, 0)) ? 0 : 1;
    const Image& image = *picture;
    return writeAll(fd, header(ReaderStatus::Ok, image.width, image.height)) && writeAll(fd, image.rgba) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tplforge-picture %s\n", std::string(tplforge::version()).c_str());
        return 0;
    }
    int first = 1;
    Backdrop backdrop = Backdrop::keepAlpha();
    if (argc > first) {
        if (const auto chosen = backdropFromArgument(argv[first])) {
            backdrop = *chosen;
            ++first;
        }
    }
    if (argc > first && std::strcmp(argv[first], "--") == 0) ++first;
    if (argc != first + 1) {
        std::fputs("usage: tplforge-picture [--keep-alpha|--over=RRGGBB] [--] FILE\n", stderr);
        return 2;
    }

    // The answer gets the real standard output to itself; anything a library
    // prints there goes to standard error instead of into the pixels.
    const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (out < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return 1;

    // A forged header can still talk a decoder into a giant allocation; here it
    // fails inside this process instead of taking the machine's memory.
    // (AddressSanitizer reserves far more address space than this up front.)
#ifndef __SANITIZE_ADDRESS__
    const rlimit cap{kAddressSpace, kAddressSpace};
    ::setrlimit(RLIMIT_AS, &cap);
#endif
    qInstallMessageHandler(onlySeriousMessages);
    auto bytes = readWholeFile(argv[first]);
    if (!bytes) return answer(out, fail(PictureError::CannotOpen));

    // Enhanced metafiles are drawn with Qt's painter, whose fonts need a GUI
    // application; nothing is ever shown, so the offscreen platform will do.
    std::unique_ptr<QGuiApplication> application;
    if (isEnhancedMetafile(*bytes)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int qtArgc = 1;
        application = std::make_unique<QGuiApplication>(qtArgc, argv);
    }
    return answer(out, loadPictureBytes(*bytes, backdrop));
}
