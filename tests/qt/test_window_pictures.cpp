// "Leer imagen" as the window runs it now: PNG through our own reader, the rest
// through the picture reader process. Every sample picture reaches the window
// exactly as the in-process loader drew it before; a reader that crashes, hangs
// or talks nonsense ends in the usual Error box with the slots as they were.
#include <deque>
#include <filesystem>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "codec/window_rules.h"
#include "platform/qt/picture_loader.h"
#include "platform/qt/qt_platform.h"
#include "window/main_window.h"

using namespace tplforge;
using namespace std::chrono_literals;

namespace {

// The real desktop platform, but the open dialog answers from a queue.
class AnsweringPlatform : public QtPlatform {
public:
    std::deque<std::string> answers;
    std::string showOpenDialog(const FileDialogRequest&) override {
        if (answers.empty()) return {};
        std::string next = answers.front();
        answers.pop_front();
        return next;
    }
};

}  // namespace

class WindowPicturesTest : public QObject {
    Q_OBJECT

private slots:
    // Every seed picture of the fuzz corpus: the same raster, or the same refusal.
    void windowGetsWhatTheLoaderDrew() {
        QtPlatform platform;
        platform.setPictureReader({TPLFORGE_PICTURE_READER_PATH, 20s});
        int compared = 0;
        for (const char* kind : {"picture", "png"}) {
            for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(CORPUS_DIR) / kind)) {
                const std::string path = entry.path().string();
                if (entry.path().filename().string().rfind("seed-", 0) != 0) continue;
                const auto before = loadPictureFile(path, Backdrop::Surface);
                const auto now = platform.loadPicture(path);
                QVERIFY2(before.ok() == now.ok(), path.c_str());
                if (now.ok())
                    QVERIFY2(window_rules::overSurface(*before) == *now, path.c_str());
                else
                    QVERIFY2(before.error() == now.error(), path.c_str());
                ++compared;
            }
        }
        QVERIFY(compared > 30);
    }

    // Each row: the reader's misbehaviour (see fake_picture_reader.cpp) and the
    // first line of the box.
    void readerFailureLeavesTheSlots() {
        const std::pair<const char*, QString> rows[] = {
            {"abort.bmp", "El lector de imágenes falló con este archivo."},
            {"kill.ico", "El lector de imágenes falló con este archivo."},
            {"garbage.gif", "El lector de imágenes falló con este archivo."},
            {"hang.jpg", "El lector de imágenes tardó demasiado con este archivo."},
            {"refuse-3.wmf", "La imagen está dañada o incompleta."},
        };
        for (const auto& [name, firstLine] : rows) {
            AnsweringPlatform platform;
            SlotModel model;
            Commands commands(model, platform);
            MainWindow window(commands);
            platform.setParentWidget(&window);
            platform.setBeforeModal([&window] { window.beforeModal(); });
            platform.setPictureReader({FAKE_PICTURE_READER, 500ms});
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));

            // Slot 2 selected and filled, so that a cleared slot would show.
            commands.selectSlot(2);
            platform.answers = {"ok-8x4.bmp"};
            QTest::mouseClick(window.findChild<QWidget*>("Cmd2"), Qt::LeftButton);
            QVERIFY(!model.slotIsEmpty(2));
            const auto state = [&model] {
                std::vector<const void*> pictures{model.preview().get(), model.surface().assignedPicture().get()};
                for (int i = 1; i <= kSlotCount; ++i) pictures.push_back(model.slot(i).picture.get());
                return std::tuple(pictures, model.selectedSlot(), model.widthLabel(), model.heightLabel());
            };
            const auto before = state();

            QStringList boxes;
            QTimer closer;
            closer.callOnTimeout([&boxes] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    boxes << box->windowTitle() + "|" + QString::number(box->icon()) + "|" + box->text();
                    box->button(QMessageBox::Ok)->click();
                }
            });
            closer.start(20);
            const std::string path = std::string("/nowhere/") + name;
            platform.answers = {path};
            QTest::mouseClick(window.findChild<QWidget*>("Cmd2"), Qt::LeftButton);
            QCOMPARE(boxes, QStringList("Error|" + QString::number(QMessageBox::Critical) + "|" + firstLine + "\n" +
                                        QString::fromStdString(path)));
            QVERIFY2(state() == before, name);
        }
    }
};

QTEST_MAIN(WindowPicturesTest)
#include "test_window_pictures.moc"
