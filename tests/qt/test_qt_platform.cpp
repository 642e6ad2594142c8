// The Qt platform: its filter strings, the bitmap saver, and its file dialogs as
// a user meets them.
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tplforge/file_io.h"
#include "codec/window_rules.h"
#include "platform/qt/qt_platform.h"

using namespace tplforge;

class QtPlatformTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QtPlatform platform_;

private slots:
    // Pairs of description and patterns become Qt's "name (patterns)" entries;
    // "*.*" means every file.
    void convertsFilters() {
        QCOMPARE(qtNameFilters("Mapa de bits|*.bmp;*.dib|Imagenes gif|*.gif|Todos los archivos|*.*"),
                 QStringLiteral("Mapa de bits (*.bmp *.dib);;Imagenes gif (*.gif);;Todos los archivos (*)"));
    }

    // A smaller picture over a larger one's file: exactly its bytes remain.
    void savesBitmapOverExistingFile() {
        const std::string path = QFile::encodeName(dir_.filePath("saved.bmp")).toStdString();
        const Raster picture(5, 3, rgb(10, 20, 30));
        for (const Raster& r : {Raster(40, 40), picture}) QVERIFY(!platform_.savePicture(r, path));
        const auto saved = readWholeFile(path);
        QVERIFY(saved.ok() && *saved == window_rules::encodeBmp24(picture));
    }

    // Typed as a user would: the whole path, then Enter. The open dialog takes the
    // name of a missing file; the save dialog replaces a file without asking.
    void fileDialogsTakeTypedNames() {
        for (bool save : {false, true}) {
            const QString target = dir_.filePath(save ? "old.bmp" : "missing.bmp");
            QVERIFY(!save || QFile(target).open(QIODevice::WriteOnly));
            QStringList unexpected;  // a question nobody expected, or a dialog that did not take the name
            QTimer driver;
            driver.callOnTimeout([&, typed = 0]() mutable {
                QWidget* modal = QApplication::activeModalWidget();
                auto* edit = modal ? modal->findChild<QLineEdit*>("fileNameEdit") : nullptr;
                if (edit && !typed++)  // queued, so that a box the Enter key opens still meets this timer
                    QTimer::singleShot(0, edit, [=] { edit->setText(target); QTest::keyClick(edit, Qt::Key_Return); });
                else if (modal)
                    unexpected << modal->windowTitle();
                if (modal && !unexpected.isEmpty()) modal->close();
            });
            driver.start(20);
            const FileDialogRequest request{"", "Mapas de bits|*.bmp", "Guardar imagen."};
            const std::string answer = save ? platform_.showSaveDialog(request) : platform_.showOpenDialog(request);
            QVERIFY2(answer == target.toStdString() && unexpected.isEmpty(), qPrintable(unexpected.join(' ')));
        }
    }
};

QTEST_MAIN(QtPlatformTest)
#include "test_qt_platform.moc"
