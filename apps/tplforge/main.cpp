// tplforge: the window. One model, the desktop platform, the commands over both,
// and the main window showing them; the program ends when the window closes.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "platform/qt/qt_platform.h"
#include "commands/commands.h"
#include "slots/slot_model.h"
#include "window/main_window.h"

namespace {

bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Qt aborts without a display; say what to do instead.
    if (!haveDisplay()) {
        std::fputs(
            "tplforge: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "Run it from a desktop session, or without one under a virtual X server:\n"
            "  xvfb-run tplforge\n"
            "For converting files without a window, use tplforge-cli.\n",
            stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tplforge"));
    QApplication::setApplicationVersion(QStringLiteral("0.2"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tplforge"));

    // The whole interface speaks Spanish, so Qt's own dialog and button texts should too.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    tplforge::SlotModel model;
    tplforge::QtPlatform platform;
    tplforge::Commands commands(model, platform);
    tplforge::MainWindow window(commands);
    platform.setParentWidget(&window);
    platform.setBeforeModal([&window] { window.beforeModal(); });

    window.show();
    return QApplication::exec();
}
