#include "window/main_window.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTimer>

#include "platform/qt/qt_raster.h"
#include "window/controls.h"

namespace tplforge {

namespace {

constexpr int kTimerInterval = 500;  // ms, both size checks

// Slot column: tops of the number labels, thumbnails and tags for slots 1..5.
constexpr std::array<int, kSlotCount> kNumberTops{16, 104, 192, 280, 368};
constexpr std::array<int, kSlotCount> kThumbnailTops{0, 96, 184, 272, 360};
constexpr std::array<int, kSlotCount> kTagTops{72, 160, 248, 336, 424};

// The smallest size tried when the default font is too wide for the layout.
constexpr int kSmallestFontPixels = 7;

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
              int height, Qt::Alignment horizontal = Qt::AlignLeft) {
    auto* l = place(new QLabel(text, parent), name, left, top, width, height);
    l->setAlignment(horizontal | Qt::AlignTop);
    return l;
}

// Only the roles given are pinned; the others follow the window, which is how
// the tags' system colours stay the desktop's window and window-text colours.
void setColours(QWidget* widget, std::optional<QColor> text, std::optional<QColor> background) {
    QPalette palette;
    if (text) palette.setColor(QPalette::WindowText, *text);
    if (background) palette.setColor(QPalette::Window, *background);
    widget->setPalette(palette);
}

std::optional<QColor> tagColour(const TagColour& colour) {
    if (colour.system) return std::nullopt;
    return toQColor(colour.value);
}

void showSizeLabel(QLabel* widget, const SizeLabel& label) {
    widget->setText(QString::fromStdString(label.text));
    setColours(widget, label.textColour ? std::optional(toQColor(*label.textColour)) : std::nullopt,
               std::nullopt);
    widget->setVisible(label.visible);
}

void showTag(QLabel* widget, const FormatTag& tag) {
    widget->setText(QString::fromStdString(tag.text));
    setColours(widget, tagColour(tag.textColour), tagColour(tag.background));
    widget->setAutoFillBackground(tag.mode == BackgroundMode::Opaque);
}

QFont slotNumberFont() {
    const QString preferred = QStringLiteral("MS Sans Serif");
    QFont font(QFontDatabase::hasFamily(preferred) ? preferred : QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(24);
    font.setWeight(QFont::Normal);
    return font;
}

bool fitsIn(const QFontMetrics& metrics, const QRect& box, int flags, const QString& text) {
    const QRect need = metrics.boundingRect(box, flags, text);
    return need.width() <= box.width() && need.height() <= box.height();
}

}  // namespace

SharedRaster startupPicture() {
    const QImage image(QStringLiteral(":/tplforge/startup.jpg"));
    return std::make_shared<const WindowRaster>(rasterFromImage(image));
}

MainWindow::MainWindow(Commands& commands, QWidget* parent) : QWidget(parent), commands_(commands) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("tplforge 0.2"));
    setWindowIcon(QIcon(QStringLiteral(":/tplforge/tplforge.ico")));
    setFixedSize(kClientWidth, kClientHeight);
    buildControls();
    arrangeTabOrder();
    fitFont();

    commands_.model().startUp(startupPicture());
    repaintFromModel();
    syncTimers();
}

template <typename Sender, typename Signal>
void MainWindow::bind(Sender* sender, Signal signal, void (Commands::*command)()) {
    connect(sender, signal, this, [this, command] { run([this, command] { (commands_.*command)(); }); });
}

void MainWindow::buildControls() {
    readPictureButton_ = place(new CommandButton(QStringLiteral("Leer imagen"), this), "Cmd2", 144, 8, 73, 25);
    saveTplButton_ = place(new CommandButton(QStringLiteral("Guardar TPL"), this), "Command1", 224, 8, 73, 25);
    savePictureButton_ = place(new CommandButton(QStringLiteral("Salvar imagen"), this), "Command5", 304, 8, 49, 57);
    exitButton_ = place(new CommandButton(QStringLiteral("Exit"), this), "cmd4", 360, 8, 79, 25);
    readTargaButton_ = place(new CommandButton(QStringLiteral("Leer TGA"), this), "Command2", 144, 40, 73, 25);
    readTplButton_ = place(new CommandButton(QStringLiteral("Leer TPL"), this), "Command4", 224, 40, 73, 25);
    clearButton_ = place(new CommandButton(QStringLiteral("Borrar imagen"), this), "Command3", 360, 40, 73, 25);

    sizeFrame_ = place(new QGroupBox(QStringLiteral("Tamaño imagen"), this), "Frame1", 448, 8, 153, 57);
    widthCaption_ = label(sizeFrame_, "Label2", QStringLiteral("Ancho:"), 8, 16, 41, 17);
    widthLabel_ = label(sizeFrame_, "ancho", QStringLiteral("0"), 48, 16, 49, 17, Qt::AlignRight);
    widthUnit_ = label(sizeFrame_, "Label4", QStringLiteral("Pixeles"), 104, 16, 41, 17);
    heightCaption_ = label(sizeFrame_, "Label1", QStringLiteral("    Alto:"), 8, 32, 33, 17);
    heightLabel_ = label(sizeFrame_, "alto", QStringLiteral("0"), 48, 32, 49, 17, Qt::AlignRight);
    heightUnit_ = label(sizeFrame_, "Label3", QStringLiteral("Pixeles"), 104, 32, 41, 17);

    // The work surface sits under the preview and stays hidden: the user sees the
    // picture through the preview, which must take clicks over its whole area.
    surfaceView_ = place(new PictureView(this), "Picture1", 144, 72, 0, 0);
    surfaceView_->hide();
    previewView_ = place(new PictureView(this), "Image6", 144, 72, 457, 297);

    const QFont numberFont = slotNumberFont();
    for (int i = 0; i < kSlotCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const QByteArray numberName = "Label" + QByteArray::number(i + 5);
        const QByteArray imageName = "Image" + QByteArray::number(i + 1);
        const QByteArray tagName = "rgbl" + QByteArray::number(i);
        slotNumbers_[slot] = place(new ClickLabel(QString::number(i + 1), this), numberName.constData(), 0,
                                   kNumberTops[slot], 33, 41);
        slotNumbers_[slot]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        slotNumbers_[slot]->setFont(numberFont);
        thumbnails_[slot] = place(new PictureView(this), imageName.constData(), 40, kThumbnailTops[slot], 89,
                                  i == 0 ? 65 : 57);
        tags_[slot] = label(this, tagName.constData(), QStringLiteral("RGB565"), 40, kTagTops[slot], 89, 17,
                            Qt::AlignHCenter);
    }

    formatFrame_ = place(new QGroupBox(QStringLiteral("Paleta"), this), "Frame2", 144, 376, 457, 65);
    rgb565Option_ = place(new QRadioButton(QStringLiteral("RGB565"), formatFrame_), "Option1", 16, 24, 161, 33);
    rgb5a3Option_ = place(new QRadioButton(QStringLiteral("RGB5A3"), formatFrame_), "Option2", 184, 24, 73, 33);
    rgb565Option_->setChecked(true);
    alphaCaption_ = label(formatFrame_, "Label10", QStringLiteral("Alpha Color:"), 296, 32, 57, 17);
    alphaSwatch_ = place(new AlphaSwatch(formatFrame_), "alco", 360, 24, 57, 25);

    widthBlinkTimer_ = new QTimer(this);
    widthBlinkTimer_->setObjectName(QStringLiteral("Timer1"));
    widthBlinkTimer_->setInterval(kTimerInterval);
    heightBlinkTimer_ = new QTimer(this);
    heightBlinkTimer_->setObjectName(QStringLiteral("Timer2"));
    heightBlinkTimer_->setInterval(kTimerInterval);

    bind(readPictureButton_, &QAbstractButton::clicked, &Commands::readPicture);
    bind(saveTplButton_, &QAbstractButton::clicked, &Commands::saveTpl);
    bind(savePictureButton_, &QAbstractButton::clicked, &Commands::savePicture);
    connect(exitButton_, &QAbstractButton::clicked, this, &QWidget::close);
    bind(readTargaButton_, &QAbstractButton::clicked, &Commands::readTarga);
    bind(readTplButton_, &QAbstractButton::clicked, &Commands::readTpl);
    bind(clearButton_, &QAbstractButton::clicked, &Commands::clearPicture);
    // clicked, not toggled: repainting the choice from the model must not run a command.
    bind(rgb565Option_, &QAbstractButton::clicked, &Commands::chooseRgb565);
    bind(rgb5a3Option_, &QAbstractButton::clicked, &Commands::chooseRgb5a3);
    bind(previewView_, &PictureView::clicked, &Commands::pickAlphaColour);
    bind(widthBlinkTimer_, &QTimer::timeout, &Commands::tickWidthCheck);
    bind(heightBlinkTimer_, &QTimer::timeout, &Commands::tickHeightCheck);

    for (std::size_t i = 0; i < thumbnails_.size(); ++i) {
        const int slot = static_cast<int>(i) + 1;
        const auto select = [this, slot] { run([this, slot] { commands_.selectSlot(slot); }); };
        connect(thumbnails_[i], &PictureView::clicked, this, select);
        connect(slotNumbers_[i], &ClickLabel::clicked, this, select);
    }
}

void MainWindow::arrangeTabOrder() {
    std::vector<QWidget*> order{surfaceView_, readPictureButton_, exitButton_, saveTplButton_, sizeFrame_, widthCaption_, widthLabel_, widthUnit_,
                                heightCaption_,   heightLabel_, heightUnit_, readTargaButton_, clearButton_, readTplButton_, savePictureButton_};
    order.insert(order.end(), slotNumbers_.begin(), slotNumbers_.end());
    order.insert(order.end(), {formatFrame_, rgb565Option_, rgb5a3Option_, alphaCaption_});
    order.insert(order.end(), tags_.begin(), tags_.end());
    // Only controls that take focus have a place in Qt's tab chain.
    std::erase_if(order, [](QWidget* w) { return w->focusPolicy() == Qt::NoFocus; });
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

// The layout was drawn for a small dialog font; the desktop's default is usually
// larger. Take the largest size, from the default down, at which every caption
// fits its control.
void MainWindow::fitFont() {
    QFont font = QApplication::font(this);
    for (int pixels = QFontInfo(font).pixelSize(); pixels >= kSmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        if (captionsFit(font)) break;
    }
    setFont(font);
}

bool MainWindow::captionsFit(const QFont& font) const {
    const QFontMetrics metrics(font);
    for (const QLabel* l : findChildren<QLabel*>()) {
        if (std::find(slotNumbers_.begin(), slotNumbers_.end(), l) != slotNumbers_.end()) continue;
        if (!fitsIn(metrics, l->contentsRect(), static_cast<int>(l->alignment()), l->text())) return false;
    }
    for (const CommandButton* b : findChildren<CommandButton*>()) {
        if (!fitsIn(metrics, b->captionRect(), CommandButton::kCaptionFlags, b->text())) return false;
    }
    for (const QRadioButton* r : findChildren<QRadioButton*>()) {
        QStyleOptionButton option;
        option.initFrom(r);
        const QRect box = r->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, r);
        if (!fitsIn(metrics, box, Qt::AlignLeft | Qt::AlignVCenter, r->text())) return false;
    }
    for (const QGroupBox* g : findChildren<QGroupBox*>()) {
        // The caption sits on the frame's top line, indented on both sides.
        const QRect box(0, 0, g->width() - 16, g->height());
        if (!fitsIn(metrics, box, Qt::AlignLeft | Qt::AlignTop, g->title())) return false;
    }
    return true;
}

void MainWindow::repaintFromModel() {
    const SlotModel& model = commands_.model();
    for (int i = 1; i <= kSlotCount; ++i) {
        const auto slot = static_cast<std::size_t>(i - 1);
        thumbnails_[slot]->setPicture(model.slot(i).picture);
        thumbnails_[slot]->setBordered(model.selectedSlot() == i);
        showTag(tags_[slot], model.slot(i).tag);
    }
    const WorkSurface& surface = model.surface();
    surfaceView_->setPicture(surface.snapshot());
    surfaceView_->resize(surface.width(), surface.height());
    previewView_->setPicture(model.preview());

    showSizeLabel(widthLabel_, model.widthLabel());
    showSizeLabel(heightLabel_, model.heightLabel());

    // Checking one option clears the other; an exclusive option cannot be unchecked.
    (model.formatChoice() == FormatChoice::RGB565 ? rgb565Option_ : rgb5a3Option_)->setChecked(true);
    alphaSwatch_->setColour(toQColor(model.alphaColour()));
}

void MainWindow::beforeModal() {
    repaintFromModel();
    widthBlinkTimer_->stop();
    heightBlinkTimer_->stop();
}

void MainWindow::run(const std::function<void()>& command) {
    inCommand_ = true;
    // A picture too large for memory must not take the other slots down with it;
    // the commands read and decode before they change anything.
    try {
        command();
    } catch (const std::bad_alloc&) {
        commands_.platform().showMessage({"No hay memoria suficiente para esta imagen.", "Error",
                                          MessageIcon::Critical, MessageButtons::Ok, MessageAnswer::Ok});
    }
    inCommand_ = false;
    repaintFromModel();
    syncTimers();
    if (closeAsked_) close();
}

// A running check keeps its timer's phase: an active timer is never restarted.
void MainWindow::syncTimers() {
    const std::array<std::pair<QTimer*, bool>, 2> timers{
        {{widthBlinkTimer_, commands_.model().widthCheckRunning()}, {heightBlinkTimer_, commands_.model().heightCheckRunning()}}};
    for (const auto& [timer, running] : timers) {
        if (running && !timer->isActive()) timer->start();
        if (!running && timer->isActive()) timer->stop();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Asked while a command waits for a picture: taken once the command has run
    // to its end, like any other event.
    if (inCommand_) {
        closeAsked_ = true;
        event->ignore();
        return;
    }
    widthBlinkTimer_->stop();
    heightBlinkTimer_->stop();
    event->accept();
}

}  // namespace tplforge
