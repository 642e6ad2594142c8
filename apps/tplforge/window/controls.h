// The few control kinds the main window needs beyond stock Qt widgets: an image
// box that stretches its picture and reports clicks, a clickable label, a command
// button that wraps its caption, and the filled rectangle that shows the alpha
// colour. They only display what they are given and signal clicks.
#pragma once

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "window_rules/window_raster.h"

namespace tplforge {

// Emits clicked() on a left-button release that follows a press inside the widget,
// the way a button decides it was clicked.
class ClickTracker {
public:
    void press(QMouseEvent* event);
    bool release(QMouseEvent* event, const QRect& rect);

private:
    bool pressed_ = false;
};

// A picture stretched to fill the box, with an optional single-line border.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    // Rasters never change in place, so a picture is converted once, and only when
    // first shown: the hidden work surface never pays for it.
    void setPicture(const SharedRaster& picture);
    const QImage& image() const;
    void setBordered(bool bordered);
    bool isBordered() const { return bordered_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    SharedRaster picture_;
    mutable QImage image_;
    mutable bool converted_ = true;
    bool bordered_ = false;
    ClickTracker click_;
};

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(const QString& text, QWidget* parent = nullptr) : QLabel(text, parent) {}

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ClickTracker click_;
};

// A push button whose caption wraps at word boundaries when the button is too
// narrow for one line ("Salvar imagen" spans two rows of the layout).
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& text, QWidget* parent = nullptr) : QPushButton(text, parent) {}

    // Where the caption is drawn.
    QRect captionRect() const;
    static constexpr int kCaptionFlags = Qt::AlignCenter | Qt::TextWordWrap;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class AlphaSwatch : public QWidget {
    Q_OBJECT
public:
    explicit AlphaSwatch(QWidget* parent = nullptr) : QWidget(parent) {}

    void setColour(const QColor& colour);
    QColor colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_ = Qt::white;
};

inline QColor toQColor(ColourValue c) {
    return QColor(static_cast<int>(redOf(c)), static_cast<int>(greenOf(c)), static_cast<int>(blueOf(c)));
}

}  // namespace tplforge
