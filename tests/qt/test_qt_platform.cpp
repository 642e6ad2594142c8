// The Qt platform: its filter strings, the bitmap saver, and its file dialogs as
// a user meets them.
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "imageio/bmp.h"
#include "platform/qt/qt_platform.h"

using namespace tplforge;

class QtPlatformTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void convertsFilters() {
        const std::pair<const char*, const char*> cases[] = {
            {"todas las imagenes soportadas|*.bmp;*.dib;*.gif;*.jpg;*.wmf;*.emf;*.ico;*.cur|Mapa de bits|*.bmp;*.dib|"
             "Imagenes gif|*.gif|Imagenes jpg|*.jpg|Metaarchivos|*.wmf;*.emf|Iconos|*.ico;*.cur|Todos los archivos|*.*",
             "todas las imagenes soportadas (*.bmp *.dib *.gif *.jpg *.wmf *.emf *.ico *.cur);;"
             "Mapa de bits (*.bmp *.dib);;Imagenes gif (*.gif);;Imagenes jpg (*.jpg);;Metaarchivos (*.wmf *.emf);;"
             "Iconos (*.ico *.cur);;Todos los archivos (*)"},
            {"Imagenes TGA|*.tga", "Imagenes TGA (*.tga)"},
        };
        for (const auto& [filter, expected] : cases) QCOMPARE(qtNameFilters(filter), QString(expected));
    }

    void savesBitmapOverExistingFile() {
        const std::string path = QFile::encodeName(dir_.filePath("saved.bmp")).toStdString();
        QtPlatform platform;
        Raster picture(5, 3, rgb(10, 20, 30));  // odd width: padded rows
        picture.at(4, 0) = rgb(200, 100, 50);
        QVERIFY(!platform.savePicture(Raster(40, 40), path) && !platform.savePicture(picture, path));
        QCOMPARE(QFile(QString::fromStdString(path)).size(), qint64(encodeBmp24(picture).size()));
        const auto back = platform.loadPicture(path);
        QVERIFY(back.ok() && *back == picture);
    }

    // Typed as a user would: the whole path, then Enter. The open dialog takes the
    // name of a missing file; the save dialog replaces a file without asking.
    void fileDialogsTakeTypedNames() {
        for (bool save : {false, true}) {
            const QString target = dir_.filePath(save ? "old.bmp" : "missing.bmp");
            QVERIFY(!save || QFile(target).open(QIODevice::WriteOnly));
            int typed = 0, unexpected = 0;
            QTimer driver;
            driver.callOnTimeout([&] {
                QWidget* modal = QApplication::activeModalWidget();
                auto* edit = modal ? modal->findChild<QLineEdit*>("fileNameEdit") : nullptr;
                if (modal && (typed || !edit)) {  // a question nobody expected, or a name not taken
                    ++unexpected;
                    modal->close();
                } else if (edit) {  // queued, so that a box the Enter key opens still meets this timer
                    ++typed;
                    QTimer::singleShot(0, edit, [=] { edit->setText(target); QTest::keyClick(edit, Qt::Key_Return); });
                }
            });
            driver.start(20);
            QtPlatform platform;
            const FileDialogRequest request{"", "Mapas de bits|*.bmp", "Guardar imagen."};
            const std::string answer = save ? platform.showSaveDialog(request) : platform.showOpenDialog(request);
            QVERIFY2(QString::fromStdString(answer) == target && unexpected == 0, qPrintable(target));
        }
    }
};

QTEST_MAIN(QtPlatformTest)
#include "test_qt_platform.moc"
