// The main window against its layout tables and its wiring: every control at its
// place with its caption and start value, start-up, clicks reaching the handlers
// (seen through the scripted platform), the size blink through real timer ticks,
// and closing the window.
#include <memory>

#include <QApplication>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include "slots/handlers.h"
#include "support/fake_platform.h"
#include "window/controls.h"
#include "window/frmmain.h"

using namespace tplforge;
using tplforge::testing::FakePlatform;

namespace {

QString captionOf(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(w)) return frame->title();
    return {};
}

QColor textColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

}  // namespace

class TestFrmmain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void geometry_data();
    void geometry();
    void captions_data();
    void captions();
    void captionsFitTheirControls();
    void slotNumbersUseTheirOwnFont();
    void tabOrder();
    void iconCarriesSevenImages();

    void startUpState();
    void sizeChecksEndAtFirstTickForStartUpPicture();

    void buttonsReachTheirHandlers_data();
    void buttonsReachTheirHandlers();
    void borrarImagenClearsSelectedSlot();
    void optionClicksRetagSelectedSlot();
    void slotClicksSelect_data();
    void slotClicksSelect();
    void numberLabelEqualsThumbnail_data();
    void numberLabelEqualsThumbnail();
    void previewTakesClicksOverItsWholeArea();
    void picturesAreStretchedToFill();

    void oddSizeBlinksThroughTimerTicks();
    void activeTimerIsNotRestarted();

    void closing_data();
    void closing();

private:
    template <typename T = QWidget>
    T* control(const char* name) const {
        auto* w = window_->findChild<T*>(QString::fromLatin1(name));
        if (!w) qFatal("no control %s", name);
        return w;
    }
    void click(const char* name);
    void clickOption(const char* name);
    // Loads a picture into the selected slot through "Leer imagen".
    void loadIntoSelected(const Raster& picture);

    std::unique_ptr<FakePlatform> platform_;
    std::unique_ptr<SlotModel> model_;
    std::unique_ptr<Handlers> handlers_;
    std::unique_ptr<frmmain> window_;
};

// Desktop colours that differ from anything the handlers write, so that a tag or
// label still in the system colours can be told from one painted black or white.
void TestFrmmain::initTestCase() {
    QPalette desktop = QApplication::palette();
    desktop.setColor(QPalette::WindowText, QColor(0x00, 0x44, 0x22));
    desktop.setColor(QPalette::Window, QColor(0xF4, 0xF0, 0xE0));
    QApplication::setPalette(desktop);
}

void TestFrmmain::init() {
    platform_ = std::make_unique<FakePlatform>();
    model_ = std::make_unique<SlotModel>();
    handlers_ = std::make_unique<Handlers>(*model_, *platform_);
    window_ = std::make_unique<frmmain>(*handlers_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void TestFrmmain::cleanup() {
    window_.reset();
    handlers_.reset();
    model_.reset();
    platform_.reset();
}

void TestFrmmain::click(const char* name) {
    QWidget* w = control(name);
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

void TestFrmmain::clickOption(const char* name) {
    auto* option = control<QRadioButton>(name);
    QStyleOptionButton style;
    style.initFrom(option);
    const QRect indicator = option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &style, option);
    QTest::mouseClick(option, Qt::LeftButton, {}, indicator.center());
}

void TestFrmmain::loadIntoSelected(const Raster& picture) {
    const std::string path = "/pictures/" + std::to_string(platform_->pictures.size()) + ".bmp";
    platform_->pictures.emplace(path, picture);
    platform_->openAnswers.push_back(path);
    click("Cmd2");
}

// --- Layout ---

void TestFrmmain::geometry_data() {
    QTest::addColumn<QRect>("place");
    const auto row = [](const char* name, int left, int top, int width, int height) {
        QTest::newRow(name) << QRect(left, top, width, height);
    };
    row("Cmd2", 144, 8, 73, 25);
    row("Command1", 224, 8, 73, 25);
    row("Command5", 304, 8, 49, 57);
    row("cmd4", 360, 8, 79, 25);
    row("Command2", 144, 40, 73, 25);
    row("Command4", 224, 40, 73, 25);
    row("Command3", 360, 40, 73, 25);
    row("Frame1", 448, 8, 153, 57);
    row("Label2", 8, 16, 41, 17);
    row("ancho", 48, 16, 49, 17);
    row("Label4", 104, 16, 41, 17);
    row("Label1", 8, 32, 33, 17);
    row("alto", 48, 32, 49, 17);
    row("Label3", 104, 32, 41, 17);
    // The slot column: number label, thumbnail (slot 1 is taller) and tag per slot.
    const int numberTops[] = {16, 104, 192, 280, 368};
    const int thumbnailTops[] = {0, 96, 184, 272, 360};
    const int tagTops[] = {72, 160, 248, 336, 424};
    for (int i = 0; i < kSlotCount; ++i) {
        QTest::addRow("Label%d", i + 5) << QRect(0, numberTops[i], 33, 41);
        QTest::addRow("Image%d", i + 1) << QRect(40, thumbnailTops[i], 89, i == 0 ? 65 : 57);
        QTest::addRow("rgbl%d", i) << QRect(40, tagTops[i], 89, 17);
    }
    row("Image6", 144, 72, 457, 297);
    row("Picture1", 144, 72, 400, 260);  // sized to the start-up picture
    row("Frame2", 144, 376, 457, 65);
    row("Option1", 16, 24, 161, 33);
    row("Option2", 184, 24, 73, 33);
    row("Label10", 296, 32, 57, 17);
    row("alco", 360, 24, 57, 25);
}

void TestFrmmain::geometry() {
    QFETCH(QRect, place);
    QCOMPARE(control(QTest::currentDataTag())->geometry(), place);
    // Frames hold their controls, the window the rest.
    const QString parent = control(QTest::currentDataTag())->parentWidget()->objectName();
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const QStringList inFrame1{"Label2", "ancho", "Label4", "Label1", "alto", "Label3"};
    const QStringList inFrame2{"Option1", "Option2", "Label10", "alco"};
    QCOMPARE(parent, inFrame1.contains(tag) ? QStringLiteral("Frame1")
                     : inFrame2.contains(tag) ? QStringLiteral("Frame2")
                                              : QStringLiteral("frmmain"));
}

void TestFrmmain::captions_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("horizontal");  // label alignment, 0 for other controls
    const auto row = [](const char* name, const char* caption, int horizontal = 0) {
        QTest::newRow(name) << QString::fromUtf8(caption) << horizontal;
    };
    row("Cmd2", "Leer imagen");
    row("Command1", "Guardar TPL");
    row("Command5", "Salvar imagen");
    row("cmd4", "Exit");
    row("Command2", "Leer TGA");
    row("Command4", "Leer TPL");
    row("Command3", "Borrar imagen");
    row("Frame1", "Tamaño imagen");
    row("Label2", "Ancho:", Qt::AlignLeft);
    row("Label4", "Pixeles", Qt::AlignLeft);
    row("Label1", "    Alto:", Qt::AlignLeft);
    row("Label3", "Pixeles", Qt::AlignLeft);
    row("ancho", "400", Qt::AlignRight);
    row("alto", "260", Qt::AlignRight);
    row("Label5", "1", Qt::AlignHCenter);
    row("Label6", "2", Qt::AlignHCenter);
    row("Label7", "3", Qt::AlignHCenter);
    row("Label8", "4", Qt::AlignHCenter);
    row("Label9", "5", Qt::AlignHCenter);
    for (const char* tag : {"rgbl0", "rgbl1", "rgbl2", "rgbl3", "rgbl4"}) row(tag, "RGB565", Qt::AlignHCenter);
    row("Frame2", "Paleta");
    row("Option1", "RGB565");
    row("Option2", "RGB5A3");
    row("Label10", "Alpha Color:", Qt::AlignLeft);
}

void TestFrmmain::captions() {
    QFETCH(QString, caption);
    QFETCH(int, horizontal);
    const QWidget* w = control(QTest::currentDataTag());
    QCOMPARE(captionOf(w), caption);
    if (horizontal != 0) {
        QCOMPARE(static_cast<int>(qobject_cast<const QLabel*>(w)->alignment() & Qt::AlignHorizontal_Mask),
                 horizontal);
    }
}

void TestFrmmain::captionsFitTheirControls() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("tplforge 0.2"));
    QCOMPARE(window_->minimumSize(), QSize(609, 448));
    QCOMPARE(window_->maximumSize(), QSize(609, 448));

    int checked = 0;
    const auto fits = [&](const QWidget* w, const QRect& box, int flags) {
        const QRect need = QFontMetrics(w->font()).boundingRect(box, flags, captionOf(w));
        ++checked;
        return need.width() <= box.width() && need.height() <= box.height();
    };
    for (const QLabel* l : window_->findChildren<QLabel*>()) {
        QVERIFY2(fits(l, l->contentsRect(), static_cast<int>(l->alignment())), qPrintable(l->objectName()));
    }
    for (const CommandButton* b : window_->findChildren<CommandButton*>()) {
        QVERIFY2(fits(b, b->captionRect(), CommandButton::kCaptionFlags), qPrintable(b->objectName()));
    }
    for (const QRadioButton* r : window_->findChildren<QRadioButton*>()) {
        QStyleOptionButton option;
        option.initFrom(r);
        const QRect box = r->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, r);
        QVERIFY2(fits(r, box, Qt::AlignLeft), qPrintable(r->objectName()));
    }
    QCOMPARE(checked, 7 + 17 + 2);  // buttons, labels, options
    // "Salvar imagen" stands on two lines in its tall button.
    const auto* salvar = control<CommandButton>("Command5");
    const QRect twoLines = QFontMetrics(salvar->font())
                               .boundingRect(salvar->captionRect(), CommandButton::kCaptionFlags, salvar->text());
    QVERIFY(twoLines.height() >= 2 * QFontMetrics(salvar->font()).height());
}

void TestFrmmain::slotNumbersUseTheirOwnFont() {
    for (const char* name : {"Label5", "Label6", "Label7", "Label8", "Label9"}) {
        const QFont font = control(name)->font();
        QCOMPARE(font.pointSize(), 24);
        QCOMPARE(font.weight(), QFont::Normal);
        QCOMPARE(font.styleHint(), QFont::SansSerif);
    }
    QVERIFY(control("Label5")->font().pointSize() != control("Label2")->font().pointSize());
}

void TestFrmmain::tabOrder() {
    QStringList order;
    QWidget* w = window_.get();
    do {
        w = w->nextInFocusChain();
        if (w != window_.get() && (w->focusPolicy() & Qt::TabFocus) && !w->isHidden()) order << w->objectName();
    } while (w != window_.get());
    QCOMPARE(order, (QStringList{"Cmd2", "cmd4", "Command1", "Command2", "Command3", "Command4", "Command5",
                                 "Option1", "Option2"}));
}

void TestFrmmain::iconCarriesSevenImages() {
    QImageReader reader(QStringLiteral(":/tplforge/tplforge.ico"));
    QCOMPARE(reader.imageCount(), 7);
    QList<int> sides;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        sides << reader.read().width();
    }
    QCOMPARE(sides, (QList<int>{16, 32, 48, 16, 32, 48, 128}));
    const QList<QSize> sizes = window_->windowIcon().availableSizes();
    for (int side : {16, 32, 48, 128}) QVERIFY(sizes.contains(QSize(side, side)));
}

// --- Start-up ---

void TestFrmmain::startUpState() {
    auto* image1 = control<PictureView>("Image1");
    QVERIFY(image1->isBordered());
    QCOMPARE(image1->image().size(), QSize(400, 260));
    for (const char* name : {"Image2", "Image3", "Image4", "Image5"}) {
        QVERIFY2(!control<PictureView>(name)->isBordered(), name);
        QVERIFY2(control<PictureView>(name)->image().isNull(), name);
    }
    QCOMPARE(control<PictureView>("Image6")->image().size(), QSize(400, 260));
    QVERIFY(control("Picture1")->isHidden());  // seen through the preview
    QCOMPARE(captionOf(control("ancho")), QStringLiteral("400"));
    QCOMPARE(captionOf(control("alto")), QStringLiteral("260"));
    QVERIFY(control<QRadioButton>("Option1")->isChecked());
    QVERIFY(!control<QRadioButton>("Option2")->isChecked());
    QCOMPARE(control<AlphaSwatch>("alco")->colour(), QColor(Qt::white));
    // Tags in the desktop's own colours, on no background of their own.
    for (const char* name : {"rgbl0", "rgbl1", "rgbl2", "rgbl3", "rgbl4"}) {
        const QWidget* tag = control(name);
        QVERIFY(!tag->autoFillBackground());
        QCOMPARE(textColour(tag), QColor(0x00, 0x44, 0x22));
        QCOMPARE(tag->palette().color(QPalette::Window), QColor(0xF4, 0xF0, 0xE0));
    }
    // Until the first tick the size numbers keep the default label colour.
    if (control<QTimer>("Timer1")->isActive()) {
        QCOMPARE(textColour(control("ancho")), QColor(0x00, 0x44, 0x22));
    }
    // The start-up picture reached the model whole.
    QVERIFY(model_->slot(1).picture);
    QCOMPARE(model_->slot(1).picture->width, 400);
    QCOMPARE(model_->slot(1).picture->height, 260);
}

void TestFrmmain::sizeChecksEndAtFirstTickForStartUpPicture() {
    auto* timer1 = control<QTimer>("Timer1");
    auto* timer2 = control<QTimer>("Timer2");
    QCOMPARE(timer1->interval(), 500);
    QCOMPARE(timer2->interval(), 500);
    QVERIFY(timer1->isActive());
    QVERIFY(timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!timer1->isActive() && !timer2->isActive(), 1500);
    QCOMPARE(textColour(control("ancho")), QColor(Qt::black));
    QCOMPARE(textColour(control("alto")), QColor(Qt::black));
    QVERIFY(control("ancho")->isVisible());
}

// --- Clicks ---

void TestFrmmain::buttonsReachTheirHandlers_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("filter");
    QTest::newRow("Cmd2") << "open" << "Abrir imagen." << "todas las imagenes soportadas|*.bmp;*.dib;*.gif;";
    QTest::newRow("Command2") << "open" << "Abrir imagen." << "Imagenes TGA|*.tga";
    QTest::newRow("Command4") << "open" << "Abrir textura TPL." << "Texturas TPL|*.tpl";
    QTest::newRow("Command1") << "save" << "Guardar archivo." << "Texturas TPL|*.tpl";
    QTest::newRow("Command5") << "save" << "Guardar imagen." << "Mapas de bits|*.bmp";
}

void TestFrmmain::buttonsReachTheirHandlers() {
    QFETCH(QString, dialog);
    QFETCH(QString, title);
    QFETCH(QString, filter);
    click(QTest::currentDataTag());  // the fake answers "" (cancel)
    QCOMPARE(platform_->calls, std::vector<std::string>{dialog.toStdString()});
    const FileDialogRequest& request =
        dialog == "open" ? platform_->openRequests.at(0) : platform_->saveRequests.at(0);
    QCOMPARE(QString::fromStdString(request.title), title);
    QVERIFY(QString::fromStdString(request.filter).startsWith(filter));
    QVERIFY(window_->isVisible());
}

void TestFrmmain::borrarImagenClearsSelectedSlot() {
    click("Command3");
    QVERIFY(platform_->calls.empty());
    QVERIFY(control<PictureView>("Image1")->image().isNull());
    QVERIFY(control<PictureView>("Image6")->image().isNull());
    QVERIFY(control<PictureView>("Image1")->isBordered());
    QCOMPARE(captionOf(control("ancho")), QString::number(model_->surface().width()));
    QVERIFY(model_->slotIsEmpty(1));
}

void TestFrmmain::optionClicksRetagSelectedSlot() {
    clickOption("Option2");
    QVERIFY(control<QRadioButton>("Option2")->isChecked());
    QVERIFY(!control<QRadioButton>("Option1")->isChecked());
    const QWidget* tag = control("rgbl0");
    QCOMPARE(captionOf(tag), QStringLiteral("RGB5A3"));
    QVERIFY(tag->autoFillBackground());
    QCOMPARE(tag->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(textColour(tag), QColor(1, 0, 0));  // the contrast colour of white
    QCOMPARE(captionOf(control("rgbl1")), QStringLiteral("RGB565"));

    clickOption("Option1");
    QVERIFY(control<QRadioButton>("Option1")->isChecked());
    QCOMPARE(captionOf(tag), QStringLiteral("RGB565"));
    QVERIFY(!tag->autoFillBackground());
    QCOMPARE(textColour(tag), QColor(Qt::black));
}

void TestFrmmain::slotClicksSelect_data() {
    QTest::addColumn<int>("slot");
    for (int i = 1; i <= kSlotCount; ++i) {
        QTest::addRow("Image%d", i) << i;
        QTest::addRow("Label%d", i + 4) << i;
    }
}

void TestFrmmain::slotClicksSelect() {
    QFETCH(int, slot);
    click(QTest::currentDataTag());
    QCOMPARE(model_->selectedSlot(), slot);
    for (int i = 1; i <= kSlotCount; ++i) {
        const QByteArray name = "Image" + QByteArray::number(i);
        QCOMPARE(control<PictureView>(name.constData())->isBordered(), i == slot);
    }
    // The surface and preview now hold the slot's picture: only slot 1 has one.
    QCOMPARE(control<PictureView>("Image6")->image().isNull(), slot != 1);
    QCOMPARE(captionOf(control("ancho")), QString::number(model_->surface().width()));
}

// A number label runs the whole selection, format choice and alpha colour included.
void TestFrmmain::numberLabelEqualsThumbnail_data() {
    QTest::addColumn<QString>("clicked");
    QTest::newRow("thumbnail") << "Image3";
    QTest::newRow("number") << "Label7";
}

void TestFrmmain::numberLabelEqualsThumbnail() {
    QFETCH(QString, clicked);
    constexpr ColourValue kOwn = rgb(0x12, 0x34, 0x56);
    click("Image3");
    clickOption("Option2");
    platform_->pointerColour = kOwn;
    click("Image6");  // slot 3's own alpha colour
    click("Image1");
    QVERIFY(control<QRadioButton>("Option1")->isChecked());
    platform_->pointerColour = kWhite;
    click("Image6");  // with RGB565 chosen: only the swatch changes
    QCOMPARE(control<AlphaSwatch>("alco")->colour(), QColor(Qt::white));

    click(clicked.toLatin1().constData());
    QVERIFY(control<PictureView>("Image3")->isBordered());
    QVERIFY(!control<PictureView>("Image1")->isBordered());
    QVERIFY(control<QRadioButton>("Option2")->isChecked());
    QCOMPARE(control<AlphaSwatch>("alco")->colour(), toQColor(kOwn));
    QCOMPARE(control("rgbl2")->palette().color(QPalette::Window), toQColor(kOwn));
    QVERIFY(control<PictureView>("Image6")->image().isNull());
}

void TestFrmmain::previewTakesClicksOverItsWholeArea() {
    auto* preview = control<PictureView>("Image6");
    const QRect area = preview->geometry();
    const std::initializer_list<QPoint> points{area.topLeft(), area.topRight(), area.bottomLeft(),
                                               area.bottomRight(), area.center()};
    ColourValue colour = rgb(0, 200, 0);
    for (const QPoint& p : points) {
        QCOMPARE(window_->childAt(p), preview);
        platform_->pointerColour = ++colour;
        QTest::mouseClick(preview, Qt::LeftButton, {}, preview->mapFrom(window_.get(), p));
        QCOMPARE(control<AlphaSwatch>("alco")->colour(), toQColor(colour));
    }
    QCOMPARE(platform_->calls, std::vector<std::string>(points.size(), "pointer"));
    QCOMPARE(captionOf(control("rgbl0")), QStringLiteral("RGB565"));  // RGB565 chosen: no retag
}

void TestFrmmain::picturesAreStretchedToFill() {
    constexpr ColourValue kLeft = rgb(255, 0, 0);
    constexpr ColourValue kRight = rgb(0, 0, 255);
    Raster halves(2, 1);
    halves.at(0, 0) = kLeft;
    halves.at(1, 0) = kRight;
    click("Image2");
    loadIntoSelected(halves);

    for (const char* name : {"Image2", "Image6"}) {
        QWidget* view = control(name);
        const QImage shown = view->grab().toImage();
        const int middle = view->height() / 2;
        QCOMPARE(QColor(shown.pixel(2, middle)), toQColor(kLeft));
        QCOMPARE(QColor(shown.pixel(view->width() / 2 - 2, middle)), toQColor(kLeft));
        QCOMPARE(QColor(shown.pixel(view->width() / 2 + 2, middle)), toQColor(kRight));
        QCOMPARE(QColor(shown.pixel(view->width() - 3, 2)), toQColor(kRight));
    }
    // Only the selected thumbnail carries a border line.
    const QImage image2 = control("Image2")->grab().toImage();
    QCOMPARE(QColor(image2.pixel(0, 20)), textColour(window_.get()));
    QCOMPARE(QColor(image2.pixel(1, 20)), toQColor(kLeft));
    QCOMPARE(control("Picture1")->size(), QSize(2, 1));
}

// --- Size blink ---

void TestFrmmain::oddSizeBlinksThroughTimerTicks() {
    struct Seen {
        bool visible;
        QColor colour;
    };
    std::vector<Seen> width, height;
    // Connected after the window's own handlers: sees each tick's outcome.
    connect(control<QTimer>("Timer1"), &QTimer::timeout, this,
            [&] { width.push_back({!control("ancho")->isHidden(), textColour(control("ancho"))}); });
    connect(control<QTimer>("Timer2"), &QTimer::timeout, this,
            [&] { height.push_back({!control("alto")->isHidden(), textColour(control("alto"))}); });

    // The start-up picture's checks end first.
    QTRY_VERIFY_WITH_TIMEOUT(!control<QTimer>("Timer1")->isActive() && !control<QTimer>("Timer2")->isActive(),
                             2000);
    width.clear();
    height.clear();

    loadIntoSelected(Raster(130, 97));
    QCOMPARE(captionOf(control("ancho")), QStringLiteral("130"));
    QCOMPARE(captionOf(control("alto")), QStringLiteral("97"));
    QTRY_VERIFY_WITH_TIMEOUT(width.size() >= 2 && height.size() >= 2, 3000);
    for (const auto* seen : {&width, &height}) {
        QCOMPARE((*seen)[0].visible, false);
        QCOMPARE((*seen)[1].visible, true);
        QCOMPARE((*seen)[0].colour, QColor(Qt::red));
        QCOMPARE((*seen)[1].colour, QColor(Qt::red));
    }
    QVERIFY(control<QTimer>("Timer1")->isActive());

    // Sides that are multiples of 4 end the blink at the next tick, hidden or not.
    loadIntoSelected(Raster(128, 96));
    QTRY_VERIFY_WITH_TIMEOUT(!control<QTimer>("Timer1")->isActive() && !control<QTimer>("Timer2")->isActive(),
                             1000);
    for (const char* name : {"ancho", "alto"}) {
        QVERIFY2(control(name)->isVisible(), name);
        QCOMPARE(textColour(control(name)), QColor(Qt::black));
    }
}

void TestFrmmain::activeTimerIsNotRestarted() {
    loadIntoSelected(Raster(130, 97));
    auto* timer1 = control<QTimer>("Timer1");
    QVERIFY(timer1->isActive());
    QTest::qWait(300);
    const int before = timer1->remainingTime();
    clickOption("Option1");  // any handler: the checks are still running
    QVERIFY(timer1->isActive());
    QVERIFY2(timer1->remainingTime() <= before, qPrintable(QString::number(timer1->remainingTime())));
}

// --- Exit ---

void TestFrmmain::closing_data() {
    QTest::addColumn<bool>("byExitButton");
    QTest::newRow("Exit") << true;
    QTest::newRow("close control") << false;
}

// Runs the application's own event loop: it must end, with status 0, once the
// window is closed either way.
void TestFrmmain::closing() {
    QFETCH(bool, byExitButton);
    QTimer::singleShot(0, this, [&] {
        if (byExitButton) {
            click("cmd4");
        } else {
            window_->windowHandle()->close();
        }
    });
    QTimer hang;  // a loop that does not end is stopped here and fails
    hang.setSingleShot(true);
    connect(&hang, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
    hang.start(3000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window_->isVisible());
    QVERIFY(!control<QTimer>("Timer1")->isActive());
    QVERIFY(platform_->calls.empty());  // nothing asked
}

QTEST_MAIN(TestFrmmain)
#include "test_frmmain.moc"
