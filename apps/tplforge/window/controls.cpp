#include "window/controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "platform/qt/qt_raster.h"

namespace tplforge {

void ClickTracker::press(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
}

bool ClickTracker::release(QMouseEvent* event, const QRect& rect) {
    if (event->button() != Qt::LeftButton || !pressed_) return false;
    pressed_ = false;
    return rect.contains(event->position().toPoint());
}

PictureView::PictureView(QWidget* parent) : QWidget(parent) {}

void PictureView::setPicture(const SharedRaster& picture) {
    if (picture == picture_) return;
    picture_ = picture;
    image_ = QImage();
    converted_ = picture_ == nullptr;
    update();
}

const QImage& PictureView::image() const {
    if (!converted_) {
        image_ = imageFromRaster(*picture_);
        converted_ = true;
    }
    return image_;
}

void PictureView::setBordered(bool bordered) {
    if (bordered == bordered_) return;
    bordered_ = bordered;
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect inside = rect();
    if (bordered_) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(inside.adjusted(0, 0, -1, -1));
        inside.adjust(1, 1, -1, -1);
    }
    if (!inside.isEmpty() && !image().isNull()) {
        // Nearest pixel, no blending: the alpha colour is picked from the screen
        // over the preview and must be a colour the picture really holds.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(inside, image());
    }
}

void PictureView::mousePressEvent(QMouseEvent* event) { click_.press(event); }

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (click_.release(event, rect())) emit clicked();
}

void ClickLabel::mousePressEvent(QMouseEvent* event) { click_.press(event); }

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (click_.release(event, rect())) emit clicked();
}

QRect CommandButton::captionRect() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
}

void CommandButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();  // the style draws bevel and focus; the caption is ours
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect box = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(box, kCaptionFlags, option.palette, isEnabled(), caption, QPalette::ButtonText);
}

void AlphaSwatch::setColour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void AlphaSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), colour_);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace tplforge
