// Fuzz target for the Qt picture loader, the code tplforge-picture runs: every
// format it reads (Qt's bitmap, GIF, JPEG, PNG and icon readers, libwmf,
// libemf2svg with Qt's SVG renderer). Only our code is instrumented; a crash
// inside a library is a reason for the reader process, and its file is kept.
// What the loader accepts must be a whole picture within the size limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include <QGuiApplication>

#include "fuzz_entry.h"
#include "picture_loader.h"

void pictureFuzzSetUp(int* argc, char*** argv) {
    // Enhanced metafiles draw text, and Qt's fonts need a GUI application; Qt's
    // warnings on damaged files would only bury libFuzzer's own lines.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
        if (type == QtFatalMsg) std::abort();
    });
    static QGuiApplication application(*argc, *argv);
}

int pictureFuzzOne(const std::uint8_t* data, std::size_t size) {
    using namespace tplforge;
    // The input's length picks the backdrop, so both ways out are fuzzed.
    const Backdrop backdrop = size % 2 ? Backdrop::over(0xF0F0F0) : Backdrop::keepAlpha();
    const auto picture = loadPictureBytes(std::span(data, size), backdrop);
    if (!picture) return 0;
    const std::uint64_t pixels = std::uint64_t{picture->width} * picture->height;
    if (picture->empty() || pixels > tplforge::kMaxPicturePixels) std::abort();
    if (picture->rgba.size() != std::size_t{picture->width} * picture->height * 4) std::abort();
    if (backdrop == Backdrop::over(0xF0F0F0))
        for (std::size_t i = 3; i < picture->rgba.size(); i += 4)
            if (picture->rgba[i] != 255) std::abort();
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    pictureFuzzSetUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictureFuzzOne(data, size);
}
#endif
