// The browser's window driven as a user would: keys, the file dialogs, the
// replace dialog's default button, the prompt on close.
#include <QAction>
#include <QComboBox>
#include <QStandardPaths>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include "browse/layouts.h"
#include "window/browser_window.h"
#include "window/replace_dialog.h"
#include "window/texture_canvas.h"

using namespace tplforge;
using namespace tplforge::browse;
using namespace tplforge::testing;

namespace {

// The replace dialog as a user meets it: shown, Return pressed once it is up.
bool pressReturn(ReplaceDialog& dialog) {
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) return false;
    QTest::keyClick(&dialog, Qt::Key_Return);
    // Return before the preview is ready waits for it.
    if (!QTest::qWaitFor([&] { return !dialog.isVisible(); }, 20000)) return false;
    return dialog.result() == QDialog::Accepted;
}

}  // namespace

class BrowseWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir scratch_;
    fs::path root_;

    void openAndWait(BrowserWindow& w, const fs::path& path) {
        QVERIFY(w.openPaths({QString::fromStdString(path.string())}));
        w.model().waitForLoading();
        QTRY_VERIFY(w.current().isValid() && w.showing());
    }
    std::string selectedPath(BrowserWindow& w) { return w.model().node(w.current())->path; }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        root_ = fs::path(scratch_.path().toStdString()) / QTest::currentTestFunction();
        fs::remove_all(root_);
        layOut(root_);
    }

    // A path into an archive selects that texture and draws it; the levels
    // strip holds every level; the details name its path.
    void startsOnTheTextureNamed() {
        BrowserWindow w;
        w.show();
        openAndWait(w, root_ / "nested.szs/arc/a.tpl/1");
        QCOMPARE(selectedPath(w), std::string("arc/a.tpl/1"));
        QCOMPARE(w.levels()->count(), 3);
        QCOMPARE(w.canvas()->picture().size(), QSize(16, 16));
        QCOMPARE(w.canvas()->zoom(), 1.0);  // it fits: 100 %
        QVERIFY(w.details()->toPlainText().contains(QStringLiteral("arc/a.tpl/1")));
        QVERIFY(w.details()->toPlainText().contains(QStringLiteral("RGBA8")));
        w.levels()->setCurrentRow(2);
        QCOMPARE(w.canvas()->picture().size(), QSize(4, 4));
    }

    // Ctrl+R opens Qt's file dialog with its file-name field focused: a typed
    // path and Return take the picture; Return in the replace dialog takes the
    // encoding; Ctrl+Z, Ctrl+Shift+Z and Ctrl+S do as they say.
    void replaceUndoRedoSaveFromTheKeyboard() {
        BrowserWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        openAndWait(w, root_ / "nested.szs/arc/inner.szs/b.tpl/1");
        const std::string picture = writePicture(root_ / "new.png", gradient(8, 8, 7));
        w.prompts().replace = pressReturn;
        bool typed = false;
        QTimer::singleShot(300, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            if (!dialog || !field) return;
            QTest::keyClicks(field, QString::fromStdString(picture));
            QTest::keyClick(field, Qt::Key_Return);
            typed = true;
        });
        QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(typed);
        const std::size_t s = 0;
        QVERIFY(w.model().document().dirty());
        QVERIFY(w.model().document().edited(s, "arc/inner.szs/b.tpl/1"));
        QVERIFY(w.isWindowModified());
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));

        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!w.model().document().dirty());
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w.model().document().dirty());
        const fs::path disk = root_ / "nested.szs";
        const ByteVector expected = cliReplace((disk / "arc/inner.szs/b.tpl").string(), 1, picture, root_ / "cli.out");
        QVERIFY(!expected.empty());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!w.model().document().dirty());
        QVERIFY(fileBytes(disk.string()) == expected);
    }

    // Closing with replacements not saved asks; Cancel keeps the window and
    // the file, Save writes it, Discard leaves it as it was.
    void closeWithUnsavedChangesAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("written");
        QTest::newRow("cancel") << int(UnsavedAnswer::Cancel) << false << false;
        QTest::newRow("save") << int(UnsavedAnswer::Save) << true << true;
        QTest::newRow("discard") << int(UnsavedAnswer::Discard) << true << false;
    }
    void closeWithUnsavedChangesAsks() {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        QFETCH(bool, written);
        BrowserWindow w;
        w.show();
        openAndWait(w, root_ / "menu.szs/timg/logo.tpl/1");
        const fs::path disk = root_ / "menu.szs";
        const ByteVector original = fileBytes(disk.string());
        QStringList asked;
        w.prompts().unsaved = [&](const QStringList& files) {
            asked = files;
            return static_cast<UnsavedAnswer>(answer);
        };
        // Nothing changed: no question.
        QVERIFY(w.close());
        QVERIFY(asked.isEmpty());
        w.show();

        const TextureRef* t = w.model().texture(w.current());
        w.prompts().replace = pressReturn;
        w.replaceWith(QString::fromStdString(writePicture(root_ / "p.png", gradient(t->view.width, t->view.height, 3))));
        QVERIFY(w.model().document().dirty());
        QCOMPARE(w.close(), closes);
        QCOMPARE(asked, QStringList{QString::fromStdString(disk.string())});
        QCOMPARE(fileBytes(disk.string()) != original, written);
    }

    // A file that is not a picture: one message, nothing changes.
    void aPictureThatDoesNotReadSaysWhy() {
        BrowserWindow w;
        w.show();
        openAndWait(w, root_ / "model.bdl");
        QStringList problems;
        w.prompts().problem = [&](const QString& m) { problems << m; };
        w.prompts().replace = [](ReplaceDialog&) { return true; };
        w.replaceWith(QString::fromStdString((root_ / "notes.txt").string()));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems[0].startsWith(QString::fromStdString((root_ / "notes.txt").string())));
        QVERIFY(!w.model().document().dirty());
    }

    // The replace dialog's settings go into the encoding it previews.
    void replaceDialogTakesItsSettings() {
        BrowserWindow w;
        w.show();
        openAndWait(w, root_ / "nested.szs/arc/a.tpl/1");
        w.prompts().replace = [](ReplaceDialog& dialog) {
            auto* format = dialog.findChildren<QComboBox*>().at(0);
            format->setCurrentIndex(format->findText(QStringLiteral("CMPR")));
            auto* levels = dialog.findChildren<QComboBox*>().at(2);
            levels->setCurrentIndex(levels->findData(1));
            return pressReturn(dialog);
        };
        w.replaceWith(QString::fromStdString(writePicture(root_ / "p.png", gradient(16, 16, 3))));
        const TextureRef* t = w.model().texture(w.current());
        QCOMPARE(t->view.format, Format::CMPR);
        QCOMPARE(t->view.levels.size(), std::size_t{1});
    }

    void channelsAndZoom() {
        QImage picture(2, 1, QImage::Format_RGBA8888);
        picture.setPixelColor(0, 0, QColor(10, 20, 30, 40));
        picture.setPixelColor(1, 0, QColor(200, 150, 100, 255));
        const struct {
            Channels channels;
            QColor first;
        } cases[] = {
            {{}, QColor(10, 20, 30, 40)},
            {{false, true, true, true, false}, QColor(0, 20, 30, 40)},
            {{true, false, false, true, false}, QColor(10, 0, 0, 40)},
            {{true, true, true, false, false}, QColor(10, 20, 30, 255)},
            {{true, true, true, true, true}, QColor(40, 40, 40, 255)},
        };
        for (const auto& c : cases) QCOMPARE(withChannels(picture, c.channels).pixelColor(0, 0), c.first);

        TextureCanvas canvas;
        canvas.resize(300, 200);
        canvas.setPicture(QImage(100, 100, QImage::Format_RGBA8888));
        QCOMPARE(canvas.zoom(), 1.0);
        canvas.setPicture(QImage(1000, 100, QImage::Format_RGBA8888));
        QCOMPARE(canvas.zoom(), 0.25);  // the largest power of two that fits
        canvas.zoomIn();
        QCOMPARE(canvas.zoom(), 0.5);
        QTest::keyClick(&canvas, Qt::Key_0);
        QCOMPARE(canvas.zoom(), 1.0);
    }

    // A picture dropped on the view replaces the texture shown, through the same preview.
    void aPictureDroppedOnTheViewReplaces() {
        BrowserWindow w;
        w.show();
        openAndWait(w, root_ / "model.bdl");
        w.prompts().replace = pressReturn;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(writePicture(root_ / "p.png", gradient(8, 8, 9))))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.canvas(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.canvas(), &drop);
        QVERIFY(w.model().document().edited(0, "1"));
        QVERIFY(w.model().document().dirty());
    }

    // Ctrl+E on a member writes its textures, every level, into the folder chosen.
    void exportTheSelectedMember() {
        BrowserWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        openAndWait(w, root_ / "nested.szs/arc/a.tpl/1");
        const fs::path out = root_ / "out";
        w.prompts().exportFolder = [&] { return QString::fromStdString(out.string()); };
        w.tree()->setCurrentIndex(w.tree()->currentIndex().parent());
        QCOMPARE(selectedPath(w), std::string("arc/a.tpl"));
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        for (const char* name : {"a.1.png", "a.1.mip1.png", "a.1.mip2.png", "a.2.png"})
            QTRY_VERIFY2(fs::exists(out / "nested/arc" / name), name);
        QVERIFY(!fs::exists(out / "nested/model"));
    }

    // The Spanish texts are compiled in and taken when the locale asks for them.
    void spanishWhenTheLocaleIsSpanish() {
        QTranslator spanish;
        QVERIFY(spanish.load(QLocale(QLocale::Spanish), QStringLiteral("tplforge-browse"), QStringLiteral("_"),
                             QStringLiteral(":/i18n")));
        QApplication::installTranslator(&spanish);
        {
            BrowserWindow w;
            QCOMPARE(w.menuBar()->actions().at(0)->text(), QStringLiteral("&Archivo"));
            QCOMPARE(w.action(QStringLiteral("replace"))->text(), QStringLiteral("&Sustituir…"));
        }
        QApplication::removeTranslator(&spanish);
        BrowserWindow english;
        QCOMPARE(english.menuBar()->actions().at(0)->text(), QStringLiteral("&File"));
    }
};

QTEST_MAIN(BrowseWindowTest)
#include "test_browse_window.moc"
