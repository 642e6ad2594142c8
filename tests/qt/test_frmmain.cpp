// The main window against its layout tables and its wiring: every control at its
// place with its caption and start value, clicks reaching the handlers (seen
// through the scripted platform), the size blink through real timer ticks, and
// closing the window. What the handlers do is the core tests' business.
#include <map>
#include <memory>
#include <vector>

#include <QApplication>
#include <QGroupBox>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include "support/fake_platform.h"
#include "window/controls.h"
#include "window/frmmain.h"

using namespace tplforge;

namespace {

// What a control shows: its caption (a chosen option marked *), a colour, or a
// picture's size (+ when bordered).
QString valueOf(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text() + (b->isChecked() ? "*" : "");
    if (auto* frame = qobject_cast<const QGroupBox*>(w)) return frame->title();
    if (auto* swatch = qobject_cast<const AlphaSwatch*>(w)) return swatch->colour().name();
    if (auto* v = qobject_cast<const PictureView*>(w))
        return QString("%1x%2%3").arg(v->image().width()).arg(v->image().height()).arg(v->isBordered() ? "+" : "");
    return {};
}

// A control's place inside its parent, what it shows at start-up, and for labels
// the horizontal alignment.
struct Place { QString name; int x, y, w, h; QString value, parent; int align; };

constexpr int L = Qt::AlignLeft, R = Qt::AlignRight, C = Qt::AlignHCenter;
const QString W = QStringLiteral("frmmain");

std::vector<Place> layoutTable() {
    std::vector<Place> rows{
        {"Cmd2", 144, 8, 73, 25, "Leer imagen", W, 0},        {"Command1", 224, 8, 73, 25, "Guardar TPL", W, 0},
        {"Command5", 304, 8, 49, 57, "Salvar imagen", W, 0},  {"cmd4", 360, 8, 79, 25, "Exit", W, 0},
        {"Command2", 144, 40, 73, 25, "Leer TGA", W, 0},      {"Command4", 224, 40, 73, 25, "Leer TPL", W, 0},
        {"Command3", 360, 40, 73, 25, "Borrar imagen", W, 0}, {"Frame1", 448, 8, 153, 57, "Tamaño imagen", W, 0},
        {"Label2", 8, 16, 41, 17, "Ancho:", "Frame1", L},     {"ancho", 48, 16, 49, 17, "400", "Frame1", R},
        {"Label4", 104, 16, 41, 17, "Pixeles", "Frame1", L},  {"Label1", 8, 32, 33, 17, "    Alto:", "Frame1", L},
        {"alto", 48, 32, 49, 17, "260", "Frame1", R},         {"Label3", 104, 32, 41, 17, "Pixeles", "Frame1", L},
        {"Image6", 144, 72, 457, 297, "400x260", W, 0},       {"Picture1", 144, 72, 400, 260, "400x260", W, 0},
        {"Frame2", 144, 376, 457, 65, "Paleta", W, 0},        {"Option1", 16, 24, 161, 33, "RGB565*", "Frame2", 0},
        {"Option2", 184, 24, 73, 33, "RGB5A3", "Frame2", 0},  {"Label10", 296, 32, 57, 17, "Alpha Color:", "Frame2", L},
        {"alco", 360, 24, 57, 25, "#ffffff", "Frame2", 0},
    };
    // The slot column repeats every 88 pixels; slot 1 is taller, filled and bordered.
    for (int i = 0, y = 0; i < kSlotCount; ++i, y += 88) {
        rows.push_back({QString("Label%1").arg(i + 5), 0, y + 16, 33, 41, QString::number(i + 1), W, C});
        rows.push_back({QString("Image%1").arg(i + 1), 40, i ? y + 8 : 0, 89, i ? 57 : 65, i ? "0x0" : "400x260+", W,
                        0});
        rows.push_back({QString("rgbl%1").arg(i), 40, y + 72, 89, 17, "RGB565", W, C});
    }
    return rows;
}

}  // namespace

class TestFrmmain : public QObject {
    Q_OBJECT

    struct Session {
        testing::FakePlatform platform;
        SlotModel model;
        Handlers handlers{model, platform};
        frmmain window{handlers};
    };
    std::unique_ptr<Session> s_;

    // Every name is checked once in layoutAndStartUp(); elsewhere a wrong one crashes.
    template <typename T = QWidget>
    T* control(const QString& name) const { return s_->window.findChild<T*>(name); }
    void click(const QString& n) { QTest::mouseClick(control(n), Qt::LeftButton, {}, control(n)->rect().center()); }
    void clickOption(const QString& name) {  // on the round indicator, not the caption
        auto* option = control<QRadioButton>(name);
        QStyleOptionButton style;
        style.initFrom(option);
        QTest::mouseClick(option, Qt::LeftButton, {},
                          option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &style, option).center());
    }
    bool timersActive() const { return control<QTimer>("Timer1")->isActive() || control<QTimer>("Timer2")->isActive(); }

private slots:
    void init() {
        s_ = std::make_unique<Session>();
        s_->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s_->window));
    }

    void layoutAndStartUp() {
        QCOMPARE(s_->window.windowTitle(), QStringLiteral("tplforge 0.2"));
        QVERIFY(s_->window.minimumSize() == QSize(609, 448) && s_->window.maximumSize() == QSize(609, 448));
        for (const Place& p : layoutTable()) {
            const QWidget* w = control(p.name);
            QVERIFY2(w, qPrintable(p.name));
            QCOMPARE(w->geometry(), QRect(p.x, p.y, p.w, p.h));
            QCOMPARE(valueOf(w), p.value);
            QCOMPARE(w->parentWidget()->objectName(), p.parent);
            if (p.align) QCOMPARE(int(qobject_cast<const QLabel*>(w)->alignment() & Qt::AlignHorizontal_Mask), p.align);
            // The caption fits: a command button wraps it on word boundaries.
            QSize need = w->sizeHint(), room = w->size();
            if (auto* b = qobject_cast<const CommandButton*>(w)) {
                room = b->captionRect().size();
                need = b->fontMetrics().boundingRect(b->captionRect(), CommandButton::kCaptionFlags, b->text()).size();
            }
            QVERIFY2(need.width() <= room.width() && need.height() <= room.height(), qPrintable(p.name));
        }
    }

    // Each command button, the fake platform answering "cancel".
    void buttonsReachTheirHandlers_data() {
        QTest::addColumn<QString>("asked");  // the dialog's kind, title and filter
        QTest::newRow("Cmd2") << "open Abrir imagen. todas las imagenes soportadas|*.bmp;*.dib;*.gif;";
        QTest::newRow("Command2") << "open Abrir imagen. Imagenes TGA|*.tga";
        QTest::newRow("Command4") << "open Abrir textura TPL. Texturas TPL|*.tpl";
        QTest::newRow("Command1") << "save Guardar archivo. Texturas TPL|*.tpl";
        QTest::newRow("Command5") << "save Guardar imagen. Mapas de bits|*.bmp";
        QTest::newRow("Command3") << "";  // "Borrar imagen" asks nothing, empties slot 1 and the preview
    }
    void buttonsReachTheirHandlers() {
        QFETCH(QString, asked);
        click(QTest::currentDataTag());
        QCOMPARE(s_->model.slotIsEmpty(1) && control<PictureView>("Image6")->image().isNull(), asked.isEmpty());
        QCOMPARE(s_->platform.calls.size(), asked.isEmpty() ? 0u : 1u);
        if (asked.isEmpty()) return;
        const std::string& call = s_->platform.calls[0];
        const auto& r = call == "open" ? s_->platform.openRequests.at(0) : s_->platform.saveRequests.at(0);
        QVERIFY(QString::fromStdString(call + " " + r.title + " " + r.filter).startsWith(asked));
    }

    // A number label runs the whole selection, as its thumbnail does: the slot's
    // format (chosen on the option) and alpha colour (picked on the preview).
    void slotClicksSelect_data() {
        QTest::addColumn<int>("slot");
        for (int i = 1; i <= kSlotCount; ++i) {
            QTest::addRow("Image%d", i) << i;
            QTest::addRow("Label%d", i + 4) << i;
        }
    }
    void slotClicksSelect() {
        QFETCH(int, slot);
        const auto image = [](int i) { return QString("Image%1").arg(i); };
        click(image(slot));
        clickOption("Option2");
        s_->platform.pointerColour = rgb(0x12, 0x34, 0x56);
        click("Image6");
        click(image(slot % kSlotCount + 1));
        QVERIFY(control<QRadioButton>("Option1")->isChecked());

        click(QTest::currentDataTag());
        QCOMPARE(s_->model.selectedSlot(), slot);
        for (int i = 1; i <= kSlotCount; ++i) QCOMPARE(control<PictureView>(image(i))->isBordered(), i == slot);
        QCOMPARE(valueOf(control("Option2")) + " " + valueOf(control("alco")), QStringLiteral("RGB5A3* #123456"));
        const QWidget* tag = control(QString("rgbl%1").arg(slot - 1));
        QCOMPARE(valueOf(tag) + " " + tag->palette().color(QPalette::Window).name(), QStringLiteral("RGB5A3 #123456"));
        QCOMPARE(control<PictureView>("Image6")->image().isNull(), slot != 1);
    }

    void oddSizeBlinksThroughTimerTicks() {
        std::map<QString, QStringList> seen;  // per label, each tick's outcome
        for (const auto& [timer, label] : {std::pair{"Timer1", "ancho"}, std::pair{"Timer2", "alto"}}) {
            QCOMPARE(control<QTimer>(timer)->interval(), 500);
            // Connected after the window's own handler: sees the tick's outcome.
            connect(control<QTimer>(timer), &QTimer::timeout, this, [&seen, shown = control(label)] {
                const QString colour = shown->palette().color(QPalette::WindowText).name();
                seen[shown->objectName()] << (shown->isHidden() ? "hidden " : "shown ") + colour;
            });
        }
        s_->platform.pictures = {{"odd", Raster(130, 97)}, {"even", Raster(128, 96)}};
        s_->platform.openAnswers = {"odd", "even"};
        click("Cmd2");
        seen.clear();  // only what follows the load
        QTRY_VERIFY_WITH_TIMEOUT(seen["ancho"].size() >= 2 && seen["alto"].size() >= 2, 3000);
        click("Cmd2");  // multiples of 4 settle at the next tick, hidden or not
        QTRY_VERIFY_WITH_TIMEOUT(!timersActive(), 1000);
        for (const char* label : {"ancho", "alto"}) {  // two ticks of the blink, then the last one
            const QStringList ticks = seen[label].mid(0, 2) << seen[label].last();
            QCOMPARE(ticks, (QStringList{"hidden #ff0000", "shown #ff0000", "shown #000000"}));
        }
    }

    // The application's own event loop must end, with status 0, once the window
    // is closed either way, nothing asked.
    void closingEqualsExit() {
        for (bool exitButton : {true, false}) {
            init();
            QTimer::singleShot(0, this, [&] { exitButton ? click("cmd4") : void(s_->window.windowHandle()->close()); });
            QObject hang;  // a loop that does not end is stopped here and fails
            QTimer::singleShot(3000, &hang, [] { QCoreApplication::exit(2); });
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!s_->window.isVisible() && !timersActive() && s_->platform.calls.empty());
        }
    }
};

QTEST_MAIN(TestFrmmain)
#include "test_frmmain.moc"
