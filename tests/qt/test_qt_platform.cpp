// The Qt platform: filter strings, the bitmap saver, the settings of its file
// dialogs and message boxes as a user meets them, and the colour under the
// pointer.
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include "common/raster.h"
#include "imageio/bmp.h"
#include "platform/qt/picture_loader.h"
#include "platform/qt/qt_platform.h"

using namespace tplforge;

Q_DECLARE_METATYPE(tplforge::MessageIcon)
Q_DECLARE_METATYPE(tplforge::MessageButtons)
Q_DECLARE_METATYPE(tplforge::MessageAnswer)

namespace {

Raster pattern() {
    Raster r(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) r.at(x, y) = rgb(10 + 50 * x, 200 - 60 * y, 7 * x * y);
    return r;
}

// Runs `act` on the first modal widget to appear, from the event loop that the
// dialog under test spins; gives up (closing whatever is open) after a while so
// that a wrong dialog cannot hang the run.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                if (++ticks_ > 500) timer_.stop();
                return;
            }
            if (!acted_) {
                acted_ = true;
                // Queued, so that a box the action opens still meets this timer.
                QMetaObject::invokeMethod(this, [this, modal] { act_(modal); }, Qt::QueuedConnection);
                return;
            }
            // Still something modal after acting: a question we did not expect.
            // Dismiss every open dialog, the inner ones too (a question box may
            // ignore close()).
            ++unexpected_;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialog->reject();
        });
        timer_.start();
    }
    bool acted() const { return acted_; }
    int unexpected() const { return unexpected_; }

private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    bool acted_ = false;
    int ticks_ = 0;
    int unexpected_ = 0;
};

}  // namespace

class QtPlatformTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void convertsFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("pictures")
            << QStringLiteral("todas las imagenes soportadas|*.bmp;*.dib;*.gif;*.jpg;*.wmf;*.emf;*.ico;*.cur|Mapa de "
                              "bits|*.bmp;*.dib|Imagenes gif|*.gif|Imagenes jpg|*.jpg|Metaarchivos|*.wmf;*.emf|Iconos|*.ico;*."
                              "cur|Todos los archivos|*.*")
            << QStringLiteral("todas las imagenes soportadas (*.bmp *.dib *.gif *.jpg *.wmf *.emf *.ico *.cur);;"
                              "Mapa de bits (*.bmp *.dib);;Imagenes gif (*.gif);;Imagenes jpg (*.jpg);;"
                              "Metaarchivos (*.wmf *.emf);;Iconos (*.ico *.cur);;Todos los archivos (*)");
        QTest::newRow("bitmaps") << "Mapas de bits|*.bmp" << "Mapas de bits (*.bmp)";
        QTest::newRow("targa") << "Imagenes TGA|*.tga" << "Imagenes TGA (*.tga)";
        QTest::newRow("textures") << "Texturas TPL|*.tpl" << "Texturas TPL (*.tpl)";
        QTest::newRow("accents kept") << QStringLiteral("Imágenes|*.png") << QStringLiteral("Imágenes (*.png)");
    }
    void convertsFilters() {
        QFETCH(QString, filter);
        QFETCH(QString, expected);
        QCOMPARE(qtNameFilters(filter.toStdString()), expected);
    }

    void savesBitmapAndReplacesFile() {
        const std::string path = QFile::encodeName(dir_.filePath("saved.bmp")).toStdString();
        {
            QFile old(QString::fromStdString(path));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(5000, 'x'));
        }
        QtPlatform platform;
        const Raster picture = pattern();
        QVERIFY(!platform.savePicture(picture, path));

        QCOMPARE(QFileInfo(QString::fromStdString(path)).size(), qint64(encodeBmp24(picture).size()));
        const QImage back(QString::fromStdString(path), "bmp");
        QVERIFY(!back.isNull());
        QVERIFY(rasterFromImage(back) == picture);
        const auto loaded = platform.loadPicture(path);
        QVERIFY(loaded.ok());
        QVERIFY(*loaded == picture);
    }

    void reportsFailedSave() {
        QtPlatform platform;
        const std::string path = QFile::encodeName(dir_.filePath("no/such/folder/a.bmp")).toStdString();
        QVERIFY(platform.savePicture(pattern(), path));
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
    }

    void fileDialogs_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("createFirst");
        QTest::newRow("open, name of a missing file") << false << "missing.bmp" << false;
        QTest::newRow("open, existing file") << false << "there.bmp" << true;
        QTest::newRow("save, no suffix added") << true << "foto" << false;
        QTest::newRow("save, existing file replaced without asking") << true << "old.bmp" << true;
    }
    void fileDialogs() {
        QFETCH(bool, save);
        QFETCH(QString, typed);
        QFETCH(bool, createFirst);
        const QString target = dir_.filePath(typed);
        if (createFirst) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QWidget parent;
        QtPlatform platform(&parent);
        int beforeModalCalls = 0;
        bool modalBeforeCallback = false;
        platform.setBeforeModal([&] {
            ++beforeModalCalls;
            modalBeforeCallback = QApplication::activeModalWidget() != nullptr;
        });

        QString title;
        QStringList filters;
        QFileDialog::AcceptMode acceptMode{};
        QFileDialog::FileMode fileMode{};
        bool nonNative = false, confirmsOverwrite = true;
        QString suffix = QStringLiteral("unset");
        bool nameHasFocus = false;
        ModalDriver driver([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) return;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            acceptMode = dialog->acceptMode();
            fileMode = dialog->fileMode();
            nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            suffix = dialog->defaultSuffix();
            // Typed as a user (or xdotool) would: the whole path, then Enter.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) return;
            nameHasFocus = dialog->focusWidget() == name;
            name->setText(target);
            QTest::keyClick(name, Qt::Key_Return);
        });

        const FileDialogRequest request{"", "Mapas de bits|*.bmp|Todos los archivos|*.*",
                                        save ? "Guardar imagen." : "Abrir imagen."};
        const std::string answer = save ? platform.showSaveDialog(request) : platform.showOpenDialog(request);

        QVERIFY(driver.acted());
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(QString::fromStdString(answer), target);
        QCOMPARE(beforeModalCalls, 1);
        QVERIFY(!modalBeforeCallback);
        QCOMPARE(title, QString::fromStdString(request.title));
        QCOMPARE(filters, QStringList({"Mapas de bits (*.bmp)", "Todos los archivos (*)"}));
        QCOMPARE(acceptMode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(fileMode, QFileDialog::AnyFile);
        QVERIFY(nonNative);
        if (save) QCOMPARE(confirmsOverwrite, false);
        QCOMPARE(suffix, QString());
        QVERIFY(nameHasFocus);  // typing goes straight into the name field
    }

    void cancelledDialogGivesEmptyName() {
        QtPlatform platform;
        ModalDriver driver([](QWidget* modal) { modal->close(); });
        QCOMPARE(platform.showOpenDialog({"", "Texturas TPL|*.tpl", "Abrir TPL."}), std::string());
        QVERIFY(driver.acted());
    }

    void messageBoxes_data() {
        QTest::addColumn<MessageIcon>("icon");
        QTest::addColumn<MessageButtons>("buttons");
        QTest::addColumn<MessageAnswer>("defaultButton");
        QTest::addColumn<int>("key");  // pressed on the box
        QTest::addColumn<QMessageBox::Icon>("qtIcon");
        QTest::addColumn<MessageAnswer>("answer");
        QTest::newRow("error, enter") << MessageIcon::Critical << MessageButtons::Ok << MessageAnswer::Ok
                                      << int(Qt::Key_Return) << QMessageBox::Critical << MessageAnswer::Ok;
        QTest::newRow("warning, escape") << MessageIcon::Exclamation << MessageButtons::Ok << MessageAnswer::Ok
                                         << int(Qt::Key_Escape) << QMessageBox::Warning << MessageAnswer::Ok;
        QTest::newRow("question, enter takes Yes") << MessageIcon::None << MessageButtons::YesNo << MessageAnswer::Yes
                                                   << int(Qt::Key_Return) << QMessageBox::NoIcon << MessageAnswer::Yes;
        QTest::newRow("question, default No") << MessageIcon::None << MessageButtons::YesNo << MessageAnswer::No
                                              << int(Qt::Key_Return) << QMessageBox::NoIcon << MessageAnswer::No;
        QTest::newRow("question, escape is No") << MessageIcon::None << MessageButtons::YesNo << MessageAnswer::Yes
                                                << int(Qt::Key_Escape) << QMessageBox::NoIcon << MessageAnswer::No;
    }
    void messageBoxes() {
        QFETCH(MessageIcon, icon);
        QFETCH(MessageButtons, buttons);
        QFETCH(MessageAnswer, defaultButton);
        QFETCH(int, key);
        QFETCH(QMessageBox::Icon, qtIcon);
        QFETCH(MessageAnswer, answer);

        QtPlatform platform;
        int beforeModalCalls = 0;
        platform.setBeforeModal([&] { ++beforeModalCalls; });
        QString text, title;
        QMessageBox::Icon shownIcon{};
        QMessageBox::StandardButtons shownButtons;
        ModalDriver driver([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) return;
            text = box->text();
            title = box->windowTitle();
            shownIcon = box->icon();
            shownButtons = box->standardButtons();
            QTest::keyClick(box, Qt::Key(key));
        });
        const MessageAnswer got =
            platform.showMessage({"El archivo no es válido.\r\nSegunda línea.", "Información", icon, buttons, defaultButton});

        QVERIFY(driver.acted());
        QCOMPARE(int(got), int(answer));
        QCOMPARE(beforeModalCalls, 1);
        QCOMPARE(text, QStringLiteral("El archivo no es válido.\nSegunda línea."));
        QCOMPARE(title, QStringLiteral("Información"));
        QCOMPARE(shownIcon, qtIcon);
        QCOMPARE(shownButtons, buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                                : QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void readsColourUnderPointer_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<ColourValue>("colour");
        QTest::newRow("left half") << QPoint(10, 20) << rgb(12, 34, 56);
        QTest::newRow("right half") << QPoint(70, 20) << rgb(250, 128, 1);
    }
    void readsColourUnderPointer() {
        QFETCH(QPoint, at);
        QFETCH(ColourValue, colour);
        QWidget window;
        auto* layout = new QHBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        for (QColor c : {QColor(12, 34, 56), QColor(250, 128, 1)}) {
            auto* half = new QWidget;
            half->setAutoFillBackground(true);
            QPalette palette = half->palette();
            palette.setColor(QPalette::Window, c);
            half->setPalette(palette);
            layout->addWidget(half);
        }
        window.setFixedSize(80, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCursor::setPos(window.mapToGlobal(at));
        QCoreApplication::processEvents();
        QtPlatform platform(&window);
        QCOMPARE(platform.colourUnderPointer(), colour);
    }
};

QTEST_MAIN(QtPlatformTest)
#include "test_qt_platform.moc"
