// tplforge-browse: every texture of a file, an archive or a folder, shown and
// replaced. The window speaks the system's language where a translation ships.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "tplforge/version.h"
#include "window/browser_window.h"

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
    if (!haveDisplay()) {
        std::fputs("tplforge-browse: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Run it from a desktop session, or under a virtual X server: xvfb-run tplforge-browse PATH\n"
                   "Without a window, tplforge-cli info and replace do the same work.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tplforge"));
    QApplication::setApplicationName(QStringLiteral("tplforge-browse"));
    QApplication::setApplicationVersion(QStringLiteral(TPLFORGE_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral("tplforge-browse"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tplforge-browse/tplforge-browse.svg")));

    QTranslator qtTexts, ownTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    if (ownTexts.load(QLocale(), QStringLiteral("tplforge-browse"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        QApplication::installTranslator(&ownTexts);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QApplication::translate("main", "Shows every texture of GameCube and Wii files, archives and folders."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QApplication::translate("main", "Files, paths into archives, or folders to open."),
                                 QStringLiteral("[PATH...]"));
    const QCommandLineOption benchmark(
        QStringLiteral("benchmark"),
        QApplication::translate("main", "Print when the tree is shown and the first texture drawn, then quit."));
    parser.addOption(benchmark);
    parser.process(app);

    tplforge::browse::BrowserWindow window;
    window.setBenchmark(parser.isSet(benchmark));
    if (parser.isSet(benchmark))
        std::printf("started %lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    window.show();
    if (!parser.positionalArguments().isEmpty()) window.openPaths(parser.positionalArguments());
    return QApplication::exec();
}
