#include "window/texture_canvas.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tplforge::browse {

namespace {

constexpr double kMinZoom = 1.0 / 16, kMaxZoom = 64;

}  // namespace

QImage withChannels(const QImage& picture, const Channels& c) {
    QImage out = picture.convertToFormat(QImage::Format_RGBA8888);
    if (c == Channels{}) return out;
    for (int y = 0; y < out.height(); ++y) {
        uchar* p = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x, p += 4) {
            if (c.alphaAsGrey) {
                p[0] = p[1] = p[2] = p[3];
                p[3] = 255;
                continue;
            }
            if (!c.red) p[0] = 0;
            if (!c.green) p[1] = 0;
            if (!c.blue) p[2] = 0;
            if (!c.alpha) p[3] = 255;
        }
    }
    return out;
}

TextureCanvas::TextureCanvas(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    setMinimumSize(160, 120);
    setAutoFillBackground(false);
}

void TextureCanvas::setPicture(const QImage& picture) {
    setPictureKeepingZoom(picture);
    autoZoom_ = true;
    fit();
}

void TextureCanvas::setPictureKeepingZoom(const QImage& picture) {
    picture_ = picture;
    shown_ = withChannels(picture_, channels_);
    clampPan();
    update();
}

void TextureCanvas::setChannels(const Channels& channels) {
    channels_ = channels;
    shown_ = withChannels(picture_, channels_);
    update();
}

void TextureCanvas::setBackground(const QColor& colour) {
    background_ = colour;
    update();
}

void TextureCanvas::setMessage(const QString& message) {
    message_ = message;
    update();
}

void TextureCanvas::setZoom(double zoom) {
    autoZoom_ = false;
    applyZoom(zoom);
}

void TextureCanvas::applyZoom(double zoom) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (zoom == zoom_) return;
    pan_ *= zoom / zoom_;
    zoom_ = zoom;
    clampPan();
    update();
    emit zoomChanged(zoom_);
}

void TextureCanvas::zoomIn() { setZoom(zoom_ * 2); }
void TextureCanvas::zoomOut() { setZoom(zoom_ / 2); }

void TextureCanvas::fit() {
    if (picture_.isNull()) return;
    // Powers of two keep every texel the same number of screen pixels.
    double zoom = kMaxZoom;
    while (zoom > kMinZoom && (picture_.width() * zoom > width() || picture_.height() * zoom > height())) zoom /= 2;
    pan_ = {};
    // A picture that fits is shown at 100 %, texel for pixel.
    applyZoom(autoZoom_ ? std::min(zoom, 1.0) : zoom);
    emit zoomChanged(zoom_);
    update();
}

QRectF TextureCanvas::pictureRect() const {
    const QSizeF size(picture_.width() * zoom_, picture_.height() * zoom_);
    const QPointF centre = QPointF(width() / 2.0, height() / 2.0) + pan_;
    // Whole screen pixels, so texel edges stay sharp.
    return QRectF(std::round(centre.x() - size.width() / 2), std::round(centre.y() - size.height() / 2), size.width(),
                  size.height());
}

void TextureCanvas::clampPan() {
    // The picture may not leave the widget entirely.
    const double w = picture_.width() * zoom_, h = picture_.height() * zoom_;
    const double maxX = std::max(0.0, (w - width()) / 2 + width() / 4.0);
    const double maxY = std::max(0.0, (h - height()) / 2 + height() / 4.0);
    pan_.setX(std::clamp(pan_.x(), -maxX, maxX));
    pan_.setY(std::clamp(pan_.y(), -maxY, maxY));
}

void TextureCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Dark));
    if (shown_.isNull()) {
        p.setPen(palette().color(QPalette::BrightText));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, message_);
        return;
    }
    const QRectF area = pictureRect();
    if (background_.isValid()) {
        p.fillRect(area, background_);
    } else {
        // Squares fixed on the screen, as image editors draw them.
        const int square = 8;
        const QRect cells = area.toAlignedRect().intersected(rect());
        p.save();
        p.setClipRect(area);
        for (int y = cells.top() - cells.top() % square; y <= cells.bottom(); y += square)
            for (int x = cells.left() - cells.left() % square; x <= cells.right(); x += square)
                p.fillRect(x, y, square, square, ((x / square + y / square) % 2) ? QColor(204, 204, 204) : Qt::white);
        p.restore();
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(area, shown_);
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.drawRect(area.adjusted(-0.5, -0.5, 0.5, 0.5));
    emit drawn();
}

void TextureCanvas::zoomAround(double zoom, QPointF at) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const QPointF centre = QPointF(width() / 2.0, height() / 2.0) + pan_;
    const QPointF fromCentre = at - centre;
    const double ratio = zoom / zoom_;
    zoom_ = zoom;
    autoZoom_ = false;
    pan_ = at - fromCentre * ratio - QPointF(width() / 2.0, height() / 2.0);
    clampPan();
    update();
    emit zoomChanged(zoom_);
}

void TextureCanvas::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0 || picture_.isNull()) return;
    zoomAround(zoom_ * std::pow(2.0, steps), event->position());
    event->accept();
}

void TextureCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
        dragging_ = true;
        dragFrom_ = event->position().toPoint();
        setCursor(Qt::ClosedHandCursor);
    }
}

void TextureCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    pan_ += event->position().toPoint() - dragFrom_;
    dragFrom_ = event->position().toPoint();
    clampPan();
    update();
}

void TextureCanvas::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
    unsetCursor();
}

void TextureCanvas::keyPressEvent(QKeyEvent* event) {
    const double step = 32;
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: zoomIn(); break;
        case Qt::Key_Minus: zoomOut(); break;
        case Qt::Key_0: actualSize(); break;
        case Qt::Key_Left: pan_.rx() += step; break;
        case Qt::Key_Right: pan_.rx() -= step; break;
        case Qt::Key_Up: pan_.ry() += step; break;
        case Qt::Key_Down: pan_.ry() -= step; break;
        default: QWidget::keyPressEvent(event); return;
    }
    clampPan();
    update();
}

void TextureCanvas::resizeEvent(QResizeEvent*) {
    if (autoZoom_) fit();
    clampPan();
}

void TextureCanvas::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1) event->acceptProposedAction();
}

void TextureCanvas::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    emit pictureDropped(urls.front().toLocalFile());
}

}  // namespace tplforge::browse
