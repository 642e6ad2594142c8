// The Qt platform: its filter strings, the bitmap saver, and its file dialogs as
// a user meets them.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tplforge/file_io.h"
#include "window_rules/window_rules.h"
#include "platform/qt/qt_platform.h"

using namespace tplforge;

class QtPlatformTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QtPlatform platform_;

private slots:
    // Qt's dialog keeps its folders and view in the user's settings; a test run
    // neither reads nor changes the developer's own.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Pairs of description and patterns become Qt's "name (patterns)" entries;
    // "*.*" means every file.
    void convertsFilters() {
        QCOMPARE(qtNameFilters("Mapa de bits|*.bmp;*.dib|Imagenes gif|*.gif|Todos los archivos|*.*"),
                 QStringLiteral("Mapa de bits (*.bmp *.dib);;Imagenes gif (*.gif);;Todos los archivos (*)"));
    }

    // A smaller picture over a larger one's file: exactly its bytes remain.
    void savesBitmapOverExistingFile() {
        const std::string path = QFile::encodeName(dir_.filePath("saved.bmp")).toStdString();
        for (const WindowRaster& r : {WindowRaster(40, 40), WindowRaster(5, 3, rgb(10, 20, 30))}) QVERIFY(!platform_.savePicture(r, path));
        QVERIFY(readWholeFile(path).value() == window_rules::encodeBmp24(WindowRaster(5, 3, rgb(10, 20, 30))).value());
    }

    // Typed key by key, then Enter, into every open dialog and the save dialog:
    // the whole path of a file in the folder the dialog starts in, its bare name,
    // a path elsewhere and a missing file's path. Each once with the focus in the
    // name field and once with it elsewhere, where Qt's dialog answers from the
    // folders it selected on the way instead of from the text. Nothing may be
    // asked, not even before replacing a file.
    void fileDialogsTakeTypedNames() {
        QTemporaryDir start, elsewhere;
        const QString before = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(before); });
        const QString here = start.path(), there = elsewhere.path(), root = QDir::rootPath();
        const std::tuple<const char*, QString, QString, bool, bool> rows[] = {  // starting in, file in, bare, exists
            {"full path in the starting folder", here, here, false, true}, {"bare name", here, here, true, true},
            {"full path elsewhere", here, there, false, true}, {"missing file's full path", here, here, false, false},
            {"missing file elsewhere", here, there, false, false},
            // Typed without the focus, the path passes through the starting folder.
            {"full path below the starting folder", root, there, false, true}};
        QStringList failed;
        int n = 0;
        for (const bool save : {false, true})
            for (const bool focused : {true, false})
                for (const auto& [what, startIn, fileIn, bare, exists] : rows) {
                    const QString name = QStringLiteral("t%1.tpl").arg(n++);  // its own file, unseen by other rows
                    const QString target = QDir(fileIn).filePath(name), typed = bare ? name : target;
                    if (exists && !QFile(target).open(QIODevice::WriteOnly)) QFAIL(qPrintable(target));
                    QString seen;
                    const std::string answer = typeIntoDialog(save, focused, startIn, typed, seen);
                    if (answer != target.toStdString() || !seen.isEmpty())
                        failed << QStringLiteral("%1, %2 (%3): %4 -> \"%5\"%6")
                                      .arg(save ? "save" : "open", what, focused ? "field focused" : "focus elsewhere",
                                           typed, QString::fromStdString(answer), seen);
                }
        for (const QString& f : failed) qWarning("%s", qPrintable(f));
        QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("%1 rows failed").arg(failed.size())));
    }

private:
    // Opens a dialog in `startIn`, types `typed` one key a tick, then Enter, and
    // returns the answer; `seen` gathers what a user would not expect on the way.
    std::string typeIntoDialog(bool save, bool focused, const QString& startIn, const QString& typed, QString& seen) {
        // A dialog given no folder opens where Qt's last one went, or else in the
        // current folder; set both.
        if (!QDir::setCurrent(startIn)) seen += " cannot start in " + startIn;
        QFileDialog().setDirectory(startIn);
        QPointer<QFileDialog> dialog;
        QTimer driver;
        driver.callOnTimeout([&, key = qsizetype(0)]() mutable {
            QWidget* modal = QApplication::activeModalWidget();
            if (!dialog && (dialog = qobject_cast<QFileDialog*>(modal))) {
                if (dialog->directory() != QDir(startIn)) seen += " opened in " + dialog->directory().path();
                return;
            }
            if (!modal) return;
            if (modal != dialog) {
                seen += " asked \"" + modal->windowTitle() + '"';
                modal->close();
                return;
            }
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (key > typed.size()) {
                const auto* button =
                    dialog->findChild<QDialogButtonBox*>()->button(save ? QDialogButtonBox::Save : QDialogButtonBox::Open);
                seen += QStringLiteral(" still open in %1%2")
                            .arg(dialog->directory().path(), button->isEnabled() ? "" : ", button greyed");
                dialog->close();
                return;
            }
            // Focused, a key goes where the platform would send it: to the
            // completer's popup while that shows, else to the field.
            QWidget* to = focused ? nullptr : edit;
            if (!focused) edit->clearFocus();
            if (key < typed.size())
                QTest::keyClick(to, typed[key].toLatin1());
            else  // queued, so that a box Enter opens still meets this timer
                QTimer::singleShot(0, edit, [to] { QTest::keyClick(to, Qt::Key_Return); });
            ++key;
        });
        driver.start(10);
        const FileDialogRequest request{"", "Texturas TPL|*.tpl", "Abrir textura TPL."};
        return save ? platform_.showSaveDialog(request) : platform_.showOpenDialog(request);
    }
};

QTEST_MAIN(QtPlatformTest)
#include "test_qt_platform.moc"
