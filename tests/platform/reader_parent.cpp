// Stands in for the window in the reader-death test: reads a picture through
// the window's own platform, exactly as "Leer imagen" does.
#include <QApplication>

#include "platform/qt/qt_platform.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QApplication application(argc, argv);
    tplforge::QtPlatform platform;
    return platform.loadPicture(argv[1]) ? 0 : 1;
}
