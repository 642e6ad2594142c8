#include "window/frmmain.h"

#include <algorithm>
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

#include "platform/qt/picture_loader.h"
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

Picture startupPicture() {
    const QImage image(QStringLiteral(":/tplforge/startup.jpg"));
    return std::make_shared<const Raster>(rasterFromImage(image));
}

frmmain::frmmain(Handlers& handlers, QWidget* parent) : QWidget(parent), handlers_(handlers) {
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QStringLiteral("tplforge 0.2"));
    setWindowIcon(QIcon(QStringLiteral(":/tplforge/tplforge.ico")));
    setFixedSize(kClientWidth, kClientHeight);
    buildControls();
    arrangeTabOrder();
    fitFont();

    handlers_.model().startUp(startupPicture());
    repaintFromModel();
    syncTimers();
}

template <typename Sender, typename Signal>
void frmmain::bind(Sender* sender, Signal signal, void (Handlers::*handler)()) {
    connect(sender, signal, this, [this, handler] { run(handler); });
}

void frmmain::buildControls() {
    cmd2_ = place(new CommandButton(QStringLiteral("Leer imagen"), this), "Cmd2", 144, 8, 73, 25);
    command1_ = place(new CommandButton(QStringLiteral("Guardar TPL"), this), "Command1", 224, 8, 73, 25);
    command5_ = place(new CommandButton(QStringLiteral("Salvar imagen"), this), "Command5", 304, 8, 49, 57);
    cmd4_ = place(new CommandButton(QStringLiteral("Exit"), this), "cmd4", 360, 8, 79, 25);
    command2_ = place(new CommandButton(QStringLiteral("Leer TGA"), this), "Command2", 144, 40, 73, 25);
    command4_ = place(new CommandButton(QStringLiteral("Leer TPL"), this), "Command4", 224, 40, 73, 25);
    command3_ = place(new CommandButton(QStringLiteral("Borrar imagen"), this), "Command3", 360, 40, 73, 25);

    frame1_ = place(new QGroupBox(QStringLiteral("Tamaño imagen"), this), "Frame1", 448, 8, 153, 57);
    label2_ = label(frame1_, "Label2", QStringLiteral("Ancho:"), 8, 16, 41, 17);
    ancho_ = label(frame1_, "ancho", QStringLiteral("0"), 48, 16, 49, 17, Qt::AlignRight);
    label4_ = label(frame1_, "Label4", QStringLiteral("Pixeles"), 104, 16, 41, 17);
    label1_ = label(frame1_, "Label1", QStringLiteral("    Alto:"), 8, 32, 33, 17);
    alto_ = label(frame1_, "alto", QStringLiteral("0"), 48, 32, 49, 17, Qt::AlignRight);
    label3_ = label(frame1_, "Label3", QStringLiteral("Pixeles"), 104, 32, 41, 17);

    // The work surface sits under the preview and stays hidden: the user sees the
    // picture through the preview, which must take clicks over its whole area.
    picture1_ = place(new PictureView(this), "Picture1", 144, 72, 0, 0);
    picture1_->hide();
    image6_ = place(new PictureView(this), "Image6", 144, 72, 457, 297);

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

    frame2_ = place(new QGroupBox(QStringLiteral("Paleta"), this), "Frame2", 144, 376, 457, 65);
    option1_ = place(new QRadioButton(QStringLiteral("RGB565"), frame2_), "Option1", 16, 24, 161, 33);
    option2_ = place(new QRadioButton(QStringLiteral("RGB5A3"), frame2_), "Option2", 184, 24, 73, 33);
    option1_->setChecked(true);
    label10_ = label(frame2_, "Label10", QStringLiteral("Alpha Color:"), 296, 32, 57, 17);
    alco_ = place(new AlphaSwatch(frame2_), "alco", 360, 24, 57, 25);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kTimerInterval);
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(kTimerInterval);

    bind(cmd2_, &QAbstractButton::clicked, &Handlers::Cmd2);
    bind(command1_, &QAbstractButton::clicked, &Handlers::Command1);
    bind(command5_, &QAbstractButton::clicked, &Handlers::Command5);
    connect(cmd4_, &QAbstractButton::clicked, this, &QWidget::close);
    bind(command2_, &QAbstractButton::clicked, &Handlers::Command2);
    bind(command4_, &QAbstractButton::clicked, &Handlers::Command4);
    bind(command3_, &QAbstractButton::clicked, &Handlers::Command3);
    // clicked, not toggled: repainting the choice from the model must not run a handler.
    bind(option1_, &QAbstractButton::clicked, &Handlers::Option1);
    bind(option2_, &QAbstractButton::clicked, &Handlers::Option2);
    bind(image6_, &PictureView::clicked, &Handlers::Image6);
    bind(timer1_, &QTimer::timeout, &Handlers::Timer1);
    bind(timer2_, &QTimer::timeout, &Handlers::Timer2);

    constexpr std::array thumbnailHandlers{&Handlers::Image1, &Handlers::Image2, &Handlers::Image3,
                                           &Handlers::Image4, &Handlers::Image5};
    constexpr std::array numberHandlers{&Handlers::Label5, &Handlers::Label6, &Handlers::Label7,
                                        &Handlers::Label8, &Handlers::Label9};
    for (std::size_t i = 0; i < thumbnails_.size(); ++i) {
        bind(thumbnails_[i], &PictureView::clicked, thumbnailHandlers[i]);
        bind(slotNumbers_[i], &ClickLabel::clicked, numberHandlers[i]);
    }
}

void frmmain::arrangeTabOrder() {
    std::vector<QWidget*> order{picture1_, cmd2_, cmd4_, command1_, frame1_, label2_, ancho_, label4_,
                                label1_,   alto_, label3_, command2_, command3_, command4_, command5_};
    order.insert(order.end(), slotNumbers_.begin(), slotNumbers_.end());
    order.insert(order.end(), {frame2_, option1_, option2_, label10_});
    order.insert(order.end(), tags_.begin(), tags_.end());
    // Only controls that take focus have a place in Qt's tab chain.
    std::erase_if(order, [](QWidget* w) { return w->focusPolicy() == Qt::NoFocus; });
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

// The layout was drawn for a small dialog font; the desktop's default is usually
// larger. Take the largest size, from the default down, at which every caption
// fits its control.
void frmmain::fitFont() {
    QFont font = QApplication::font(this);
    for (int pixels = QFontInfo(font).pixelSize(); pixels >= kSmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        if (captionsFit(font)) break;
    }
    setFont(font);
}

bool frmmain::captionsFit(const QFont& font) const {
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

void frmmain::repaintFromModel() {
    const SlotModel& model = handlers_.model();
    for (int i = 1; i <= kSlotCount; ++i) {
        const auto slot = static_cast<std::size_t>(i - 1);
        thumbnails_[slot]->setPicture(model.slot(i).picture);
        thumbnails_[slot]->setBordered(model.selectedSlot() == i);
        showTag(tags_[slot], model.slot(i).tag);
    }
    const WorkSurface& surface = model.surface();
    picture1_->setPicture(surface.snapshot());
    picture1_->resize(surface.width(), surface.height());
    image6_->setPicture(model.preview());

    showSizeLabel(ancho_, model.ancho());
    showSizeLabel(alto_, model.alto());

    // Checking one option clears the other; an exclusive option cannot be unchecked.
    (model.formatChoice() == FormatChoice::RGB565 ? option1_ : option2_)->setChecked(true);
    alco_->setColour(toQColor(model.alphaColour()));
}

void frmmain::beforeModal() {
    repaintFromModel();
    timer1_->stop();
    timer2_->stop();
}

void frmmain::run(void (Handlers::*handler)()) {
    // A picture too large for memory must not take the other slots down with it;
    // the handlers read and decode before they change anything.
    try {
        (handlers_.*handler)();
    } catch (const std::bad_alloc&) {
        handlers_.platform().showMessage({"No hay memoria suficiente para esta imagen.", "Error",
                                          MessageIcon::Critical, MessageButtons::Ok, MessageAnswer::Ok});
    }
    repaintFromModel();
    syncTimers();
}

// A running check keeps its timer's phase: an active timer is never restarted.
void frmmain::syncTimers() {
    const std::array<std::pair<QTimer*, bool>, 2> timers{
        {{timer1_, handlers_.model().widthCheckRunning()}, {timer2_, handlers_.model().heightCheckRunning()}}};
    for (const auto& [timer, running] : timers) {
        if (running && !timer->isActive()) timer->start();
        if (!running && timer->isActive()) timer->stop();
    }
}

void frmmain::closeEvent(QCloseEvent* event) {
    timer1_->stop();
    timer2_->stop();
    event->accept();
}

}  // namespace tplforge
