// The main window against its layout table and its wiring: every control at its
// place with its caption and start value, clicks reaching the commands (seen
// through the scripted platform), the size blink through real timer ticks; under
// the real platform a picture reader failing or slow, the file dialogs with typed
// patterns, and what they leave behind; closing the window. What the commands do
// is the core tests' business.
#include <functional>
#include <map>
#include <memory>

#include <QApplication>
#include <QCursor>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "support/scripted_qt_platform.h"
#include "window/controls.h"
#include "window/main_window.h"

using namespace tplforge;

namespace {

// A window over the desktop platform (real pictures and message boxes; real file
// dialogs too for a plain QtPlatform), wired as the program wires it.
template <typename Platform>
struct Wired {
    Platform platform;
    SlotModel model;
    Commands commands{model, platform};
    MainWindow window{commands};
    explicit Wired(std::chrono::milliseconds readerLimit) {
        platform.setParentWidget(&window);
        platform.setBeforeModal([this] { window.beforeModal(); });
        platform.setPictureReader({FAKE_PICTURE_READER, readerLimit});
        window.show();
    }
    QWidget* control(const char* name) const { return window.findChild<QWidget*>(name); }
    bool timersActive() const {
        return window.findChild<QTimer*>("Timer1")->isActive() || window.findChild<QTimer*>("Timer2")->isActive();
    }
    // Every picture the model holds, the selection and both size labels.
    auto state() const {
        std::vector<const void*> pictures{model.preview().get(), model.surface().assignedPicture().get()};
        for (int i = 1; i <= kSlotCount; ++i) pictures.push_back(model.slot(i).picture.get());
        return std::tuple(pictures, model.selectedSlot(), model.widthLabel(), model.heightLabel());
    }
};

class EventWatch : public QObject {
public:
    explicit EventWatch(std::function<void(QEvent*)> seen) : seen_(std::move(seen)) {}
    bool eventFilter(QObject*, QEvent* event) override { return seen_(event), false; }

private:
    std::function<void(QEvent*)> seen_;
};

// The files a file dialog lists, folders left out, by name.
QString listedFiles(const QFileDialog* dialog) {
    const auto* view = dialog->findChild<QListView*>("listView");
    const auto* files = view ? qobject_cast<const QFileSystemModel*>(view->model()) : nullptr;
    if (!files) return "no list";
    QStringList names;
    for (int row = 0; row < files->rowCount(view->rootIndex()); ++row)
        if (const QModelIndex file = files->index(row, 0, view->rootIndex()); !files->isDir(file))
            names << file.data().toString();
    names.sort();
    return names.join(' ');
}

// One file dialog: the button that opens it, the folder it opens in, what is
// typed before Enter, what the list must come to show, and a name typed after
// (or none: the dialog is cancelled).
struct DialogStep {
    const char* button;
    QString startIn, typed, listed, thenTyped;
};

// Every file and folder below `dir`, hidden ones too.
QStringList everythingUnder(const QString& dir) {
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    return found;
}

}  // namespace

class TestFrmmain : public QObject {
    Q_OBJECT

public:
    // The whole run gets a home and a settings folder of its own, empty at the
    // start, so that no test touches the developer's and one can look for what
    // was written there.
    static void initMain() {
        static QTemporaryDir home, config;
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }

private:

    struct Session {
        testing::FakePlatform platform;
        SlotModel model;
        Commands commands{model, platform};
        MainWindow window{commands};
    };
    std::unique_ptr<Session> s_;

    // Every name is checked once in layoutAndStartUp(); elsewhere a wrong one crashes.
    template <typename T = QWidget>
    T* control(const QString& name) const { return s_->window.findChild<T*>(name); }
    void click(const QString& name) {  // a radio button on its round indicator, not its caption
        QWidget* w = control(name);
        QStyleOptionButton style;
        style.initFrom(w);
        const QRect r = qobject_cast<QRadioButton*>(w)
                            ? w->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &style, w) : w->rect();
        QTest::mouseClick(w, Qt::LeftButton, {}, r.center());
    }
    bool timersActive() const { return control<QTimer>("Timer1")->isActive() || control<QTimer>("Timer2")->isActive(); }

    // What a control shows: its caption (a chosen option marked *), a colour, or a
    // picture's size (+ when bordered).
    static QString valueOf(const QWidget* w) {
        if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text() + (b->isChecked() ? "*" : "");
        if (auto* frame = qobject_cast<const QGroupBox*>(w)) return frame->title();
        if (auto* swatch = qobject_cast<const AlphaSwatch*>(w)) return swatch->colour().name();
        auto* v = qobject_cast<const PictureView*>(w);
        return QString("%1x%2%3").arg(v->image().width()).arg(v->image().height()).arg(v->isBordered() ? "+" : "");
    }

    // Clicks each step's button in the window and drives the dialog it opens:
    // the typed text and Enter, then up to 2 s for the list, then the name typed
    // after and Enter, or cancel. Returns what each dialog listed, and any other
    // window that showed up.
    static QStringList runDialogs(const QWidget& window, const std::vector<DialogStep>& steps) {
        QStringList seen;
        for (const DialogStep& step : steps) {
            QFileDialog().setDirectory(step.startIn);  // where Qt opens the next dialog given no folder
            int phase = 0, waited = 0;
            QTimer driver;
            driver.callOnTimeout([&] {
                QWidget* modal = QApplication::activeModalWidget();
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                if (modal && !dialog) {
                    const auto* box = qobject_cast<QMessageBox*>(modal);
                    seen << QString("%1 asked: %2 %3").arg(step.button, modal->windowTitle(), box ? box->text() : "");
                    modal->close();
                }
                if (!dialog || phase == 2) return;
                auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
                const auto enter = [edit](const QString& text) {
                    edit->setText(text);
                    // Queued, so that a box Enter opens still meets this timer.
                    QTimer::singleShot(0, edit, [edit] { QTest::keyClick(edit, Qt::Key_Return); });
                };
                if (phase == 0) {
                    enter(step.typed);
                    phase = 1;
                    return;
                }
                const QString listed = listedFiles(dialog);
                if (listed != step.listed && ++waited < 200) return;
                seen << QString("%1 %2: %3").arg(step.button, step.typed.section('/', -1), listed);
                phase = 2;
                if (step.thenTyped.isEmpty())
                    dialog->reject();
                else
                    enter(step.thenTyped);
            });
            driver.start(10);
            QTest::mouseClick(window.findChild<QWidget*>(step.button), Qt::LeftButton);
        }
        return seen;
    }

private slots:
    void init() {
        s_ = std::make_unique<Session>();
        s_->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s_->window));
    }

    // Each row: [frame/]name x y width height, what the control shows at start-up,
    // and a label's alignment unless left (> right, | centred).
    void layoutAndStartUp() {
        QCOMPARE(s_->window.windowTitle(), QStringLiteral("tplforge 0.2"));
        QVERIFY(s_->window.minimumSize() == QSize(609, 448) && s_->window.maximumSize() == QSize(609, 448));
        QStringList rows{
            "Cmd2 144 8 73 25 Leer imagen", "Command1 224 8 73 25 Guardar TPL", "Command5 304 8 49 57 Salvar imagen",
            "cmd4 360 8 79 25 Exit", "Command2 144 40 73 25 Leer TGA", "Command4 224 40 73 25 Leer TPL",
            "Command3 360 40 73 25 Borrar imagen", "Frame1 448 8 153 57 Tamaño imagen",
            "Frame1/Label2 8 16 41 17 Ancho:", "Frame1/ancho 48 16 49 17 400 >", "Frame1/Label4 104 16 41 17 Pixeles",
            "Frame1/Label1 8 32 33 17     Alto:", "Frame1/alto 48 32 49 17 260 >", "Frame1/Label3 104 32 41 17 Pixeles",
            "Image6 144 72 457 297 400x260", "Picture1 144 72 400 260 400x260", "Frame2 144 376 457 65 Paleta",
            "Frame2/Option1 16 24 161 33 RGB565*", "Frame2/Option2 184 24 73 33 RGB5A3",
            "Frame2/Label10 296 32 57 17 Alpha Color:", "Frame2/alco 360 24 57 25 #ffffff"};
        // The slot column repeats every 88 pixels; slot 1 is taller, filled and bordered.
        for (int i = 0, y = 0; i < kSlotCount; ++i, y += 88)
            rows << QString("Label%1 0 %2 33 41 %3 |").arg(i + 5).arg(y + 16).arg(i + 1)
                 << (i ? QString("Image%1 40 %2 89 57 0x0").arg(i + 1).arg(y + 8) : "Image1 40 0 89 65 400x260+")
                 << QString("rgbl%1 40 %2 89 17 RGB565 |").arg(i).arg(y + 72);
        for (const QString& expected : rows) {
            const QWidget* w = control(expected.section(' ', 0, 0).section('/', -1));
            QVERIFY2(w, qPrintable(expected));
            const QRect g = w->geometry();
            QString seen = QString(w->parentWidget()->objectName() + "/" + w->objectName()).remove("MainWindow/");
            seen += QString(" %1 %2 %3 %4 ").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()) + valueOf(w);
            if (auto* l = qobject_cast<const QLabel*>(w))
                seen += l->alignment() & Qt::AlignRight ? " >" : l->alignment() & Qt::AlignHCenter ? " |" : "";
            QCOMPARE(seen, expected);
            // The caption fits: a command button wraps it on word boundaries.
            const auto* b = qobject_cast<const CommandButton*>(w);
            const QRect r = b ? b->captionRect() : w->rect();
            const QSize need = b ? b->fontMetrics().boundingRect(r, b->kCaptionFlags, b->text()).size() : w->sizeHint();
            QVERIFY2(need.boundedTo(r.size()) == need, qPrintable(expected));
        }
    }

    // Each command button, the fake platform answering "cancel": one dialog each,
    // told by its kind, title and first filter with its patterns. "Borrar imagen"
    // asks nothing and empties the selected slot, here 1 again ("Guardar TPL"
    // walks them all), and the preview.
    void buttonsReachTheirHandlers() {
        for (const char* name : {"Cmd2", "Command2", "Command4", "Command5", "Command1", "Image1", "Command3"})
            click(name);
        QVERIFY(s_->model.slotIsEmpty(1) && control<PictureView>("Image6")->image().isNull());
        const auto& p = s_->platform;
        QStringList seen;
        for (std::size_t i = 0, j = 0; const std::string& call : p.calls) {
            const auto* r = call == "open" ? &p.openRequests[i++] : call == "save" ? &p.saveRequests[j++] : nullptr;
            seen << QString::fromStdString(r ? call + " " + r->title + " " + r->filter : call).section('|', 0, 1);
        }
        QCOMPARE(seen, (QStringList{
            "open Abrir imagen. todas las imagenes soportadas|*.bmp;*.dib;*.gif;*.jpg;*.wmf;*.emf;*.ico;*.cur",
            "open Abrir imagen. Imagenes TGA|*.tga", "open Abrir textura TPL. Texturas TPL|*.tpl",
            "save Guardar imagen. Mapas de bits|*.bmp", "save Guardar archivo. Texturas TPL|*.tpl"}));
    }

    // A number label runs the whole selection, as its thumbnail does: the slot's
    // format (chosen on the option) and alpha colour (picked on the preview).
    void labelClickSelectsLikeItsThumbnail() {
        const auto image = [](int i) { return QString("Image%1").arg(i); };
        for (int slot = 1; slot <= kSlotCount; ++slot) {
            init();
            s_->platform.pointerColour = rgb(0x12, 0x34, 0x56);  // for the click on the preview
            for (const QString& name : QStringList{image(slot), "Option2", "Image6", image(slot % kSlotCount + 1)})
                click(name);
            QString seen = valueOf(control("Option1")) + " ";  // the other slot's own format, first
            click(QString("Label%1").arg(slot + 4));
            // Then which thumbnail is bordered, the option, the swatch and the slot's tag.
            for (int i = 1; i <= kSlotCount; ++i)
                if (valueOf(control(image(i))).endsWith('+')) seen += QString::number(i);
            const QWidget* tag = control(QString("rgbl%1").arg(slot - 1));
            seen += " " + valueOf(control("Option2")) + " " + valueOf(control("alco")) + " " + valueOf(tag) + " " +
                    tag->palette().color(QPalette::Window).name();
            QCOMPARE(seen, QString("RGB565* %1 RGB5A3* #123456 RGB5A3 #123456").arg(slot));
        }
    }

    void oddSizeBlinksThroughTimerTicks() {
        std::map<QString, QStringList> seen;  // per label, each tick's outcome
        for (const auto& [timer, label] : {std::pair{"Timer1", "ancho"}, std::pair{"Timer2", "alto"}}) {
            QCOMPARE(control<QTimer>(timer)->interval(), 500);
            // Connected after the window's own handler: sees the tick's outcome.
            connect(control<QTimer>(timer), &QTimer::timeout, this, [&seen, label, l = control(label)] {
                seen[label] << (l->isHidden() ? "hidden " : "shown ") + l->palette().windowText().color().name();
            });
        }
        s_->platform.pictures = {{"odd", WindowRaster(130, 97)}, {"even", WindowRaster(128, 96)}};
        s_->platform.openAnswers = {"odd", "even"};
        click("Cmd2");
        seen.clear();  // only what follows the load
        QTRY_VERIFY_WITH_TIMEOUT(seen["ancho"].size() >= 2 && seen["alto"].size() >= 2, 3000);
        click("Cmd2");  // multiples of 4 settle at the next tick, hidden or not
        QTRY_VERIFY_WITH_TIMEOUT(!timersActive(), 1000);
        for (const char* label : {"ancho", "alto"})  // two ticks of the blink, then the last one
            QCOMPARE(seen[label].mid(0, 2) << seen[label].last(),
                     (QStringList{"hidden #ff0000", "shown #ff0000", "shown #000000"}));
    }

    // A reader that crashes, hangs or refuses the file (see fake_picture_reader.cpp)
    // ends in the Error box, its first line saying which, with every slot, the
    // selection and the size labels as they were.
    void readerFailureLeavesTheSlots() {
        Wired<testing::ScriptedQtPlatform> w(std::chrono::milliseconds(500));
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.commands.selectSlot(2);  // filled, so that a cleared slot would show
        w.platform.openAnswers = {"ok-8x4.bmp"};
        QTest::mouseClick(w.control("Cmd2"), Qt::LeftButton);
        QVERIFY(!w.model.slotIsEmpty(2));
        const auto before = w.state();
        QStringList boxes;
        QTimer closer;
        closer.callOnTimeout([&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + "|" + QString::number(box->icon()) + "|" + box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        closer.start(20);
        // How the reader fails on each file is picture_process_tests' business.
        for (const auto& [name, firstLine] : {std::pair{"abort.bmp", "El lector de imágenes falló con este archivo."},
                                              {"hang.jpg", "El lector de imágenes tardó demasiado con este archivo."},
                                              {"refuse-3.wmf", "La imagen está dañada o incompleta."}}) {
            boxes.clear();
            w.platform.openAnswers = {std::string("/nowhere/") + name};
            QTest::mouseClick(w.control("Cmd2"), Qt::LeftButton);
            const QString box = QString("Error|%1|%2\n/nowhere/%3").arg(QMessageBox::Critical).arg(QString(firstLine), name);
            QCOMPARE(boxes, QStringList(box));
            QVERIFY2(w.state() == before, name);
        }
    }

    // A slow reader (see fake_picture_reader.cpp) holds "Leer imagen" for 600 ms.
    // All the while the window shows the busy cursor and paints, the model and
    // the size blink stand still, and clicks, a key and a close do nothing; after
    // it the picture is in, no input held back runs, and the close is taken.
    void paintsWhileAPictureIsRead() {
        Wired<testing::ScriptedQtPlatform> w(std::chrono::seconds(5));
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.commands.selectSlot(2);
        w.platform.openAnswers = {"ok-130x97.bmp", "slow-600.bmp"};
        QTest::mouseClick(w.control("Cmd2"), Qt::LeftButton);  // odd sides: the blink runs
        QVERIFY(w.timersActive());
        const auto before = w.state();

        int ticks = 0, paints = 0;
        QStringList faults;
        EventWatch paintWatch([&paints](QEvent* e) { paints += e->type() == QEvent::Paint && QApplication::overrideCursor(); });
        w.control("Image6")->installEventFilter(&paintWatch);
        QTimer probe;
        probe.callOnTimeout([&] {
            const QCursor* cursor = QApplication::overrideCursor();
            if (!cursor) return;  // not reading
            const QString at = QString(" at tick %1").arg(ticks);
            if (cursor->shape() != Qt::WaitCursor) faults << "cursor " + QString::number(cursor->shape()) + at;
            if (w.state() != before) faults << "model changed" + at;
            if (w.timersActive()) faults << "blink running" + at;
            if (!w.window.isVisible()) faults << "closed" + at;
            if (ticks++ > 0) return;
            w.control("Image6")->update();
            QTest::mouseClick(w.control("Command3"), Qt::LeftButton);  // "Borrar imagen"
            QTest::mouseClick(w.control("Image1"), Qt::LeftButton);
            QTest::keyClick(w.control("Cmd2"), Qt::Key_Space);
            w.window.windowHandle()->close();
        });
        probe.start(20);
        QTest::mouseClick(w.control("Cmd2"), Qt::LeftButton);
        probe.stop();
        QTest::qWait(100);  // input held back would run now

        QCOMPARE(faults, QStringList());
        QVERIFY2(ticks >= 10 && paints > 0, qPrintable(QString("%1 ticks, %2 paints").arg(ticks).arg(paints)));
        QVERIFY(!QApplication::overrideCursor());
        const SharedRaster& loaded = w.model.slot(2).picture;
        QVERIFY(w.model.selectedSlot() == 2 && loaded && loaded->width == 8 && loaded->height == 4);
        for (int i : {1, 3, 4, 5}) QCOMPARE(w.model.slot(i).picture.get(), std::get<0>(before)[i + 1]);
        QCOMPARE(w.platform.dialogs, 2);
        QVERIFY(!w.window.isVisible());
    }

    // A typed pattern, alone, with a folder before it or several of them, lists
    // what it matches in each dialog (the dialog's own filter would list other
    // files) and neither opens nor writes anything; a name typed after it still
    // opens or saves. With every dialog closed, the run's home and settings
    // folder (see initMain) are still empty: the window keeps nothing between runs.
    void dialogsFilterByTypedPatternsAndKeepNothing() {
        QTemporaryDir dir, elsewhere;
        for (const char* name : {"ok-8x4.bmp", "d.gif", "e.jpg", "b.tga", "x.tga", "c1.tpl", "c22.tpl"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        Wired<QtPlatform> w(std::chrono::seconds(5));
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QString in = dir.path();
        const QStringList seen = runDialogs(w.window, {
            {"Cmd2", in, "*.bmp", "ok-8x4.bmp", "ok-8x4.bmp"},
            {"Command2", in, "b*.tga", "b.tga", ""},
            {"Command4", in, "c?.tpl", "c1.tpl", ""},
            {"Command5", elsewhere.path(), in + "/*.bmp;*.gif", "d.gif ok-8x4.bmp", "saved.bmp"},
            {"Command1", in, "*.tga;*.tpl", "b.tga c1.tpl c22.tpl x.tga", ""},
        });
        QCOMPARE(seen, (QStringList{"Cmd2 *.bmp: ok-8x4.bmp", "Command2 b*.tga: b.tga", "Command4 c?.tpl: c1.tpl",
                                    "Command5 *.bmp;*.gif: d.gif ok-8x4.bmp",
                                    "Command1 *.tga;*.tpl: b.tga c1.tpl c22.tpl x.tga"}));
        QCOMPARE(QDir(in).entryList(QDir::Files, QDir::Name),
                 (QStringList{"b.tga", "c1.tpl", "c22.tpl", "d.gif", "e.jpg", "ok-8x4.bmp", "saved.bmp", "x.tga"}));
        QCOMPARE(QFileInfo(dir.filePath("saved.bmp")).size(), 54 + 8 * 4 * 3);  // the 8 x 4 picture opened
        QVERIFY(everythingUnder(elsewhere.path()).isEmpty());
        const QString home = qEnvironmentVariable("HOME"), config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(QFileInfo(home).isDir() && QFileInfo(config).isDir() && home != config);
        QCOMPARE((everythingUnder(home) + everythingUnder(config)).join(" "), QString());
    }

    // The application's own event loop must end, with status 0, once the window
    // is closed either way, nothing asked.
    void closingEqualsExit() {
        for (bool exitButton : {true, false}) {
            init();
            QTimer::singleShot(0, this, [&] { exitButton ? click("cmd4") : void(s_->window.windowHandle()->close()); });
            // A loop that does not end is stopped here and fails; the next session cancels it.
            QTimer::singleShot(3000, &s_->window, [] { QCoreApplication::exit(2); });
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!s_->window.isVisible() && !timersActive() && s_->platform.calls.empty());
        }
    }
};

QTEST_MAIN(TestFrmmain)
#include "test_main_window.moc"
