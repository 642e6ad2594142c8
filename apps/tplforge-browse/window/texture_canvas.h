// A texture as the console shows it: texels as squares when zoomed (nearest
// neighbour), alpha over a checkerboard or a chosen colour, channels on and off,
// alpha alone as grey. Wheel and keys zoom, dragging or the arrow keys pan.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QWidget>

namespace tplforge::browse {

struct Channels {
    bool red = true, green = true, blue = true, alpha = true;
    bool alphaAsGrey = false;
    bool operator==(const Channels&) const = default;
};

// What the canvas draws of a picture with these channels: straight RGBA.
[[nodiscard]] QImage withChannels(const QImage& picture, const Channels& channels);

class TextureCanvas : public QWidget {
    Q_OBJECT
public:
    explicit TextureCanvas(QWidget* parent = nullptr);

    // A new picture: 100 % when it fits, else the largest power-of-two step down that does.
    void setPicture(const QImage& picture);
    // The same texture again (another level): the zoom stays.
    void setPictureKeepingZoom(const QImage& picture);
    [[nodiscard]] const QImage& picture() const { return picture_; }
    void setChannels(const Channels& channels);
    [[nodiscard]] const Channels& channels() const { return channels_; }
    // An invalid colour: the checkerboard.
    void setBackground(const QColor& colour);
    void setMessage(const QString& message);  // shown when there is no picture

    [[nodiscard]] double zoom() const { return zoom_; }
    void setZoom(double zoom);
    void zoomIn();
    void zoomOut();
    void actualSize() { setZoom(1); }
    void fit();

signals:
    void zoomChanged(double zoom);
    void pictureDropped(const QString& path);
    void drawn();  // after a paint that showed a picture

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void applyZoom(double zoom);
    void zoomAround(double zoom, QPointF at);
    void clampPan();
    [[nodiscard]] QRectF pictureRect() const;

    QImage picture_, shown_;
    Channels channels_;
    QColor background_;
    QString message_;
    double zoom_ = 1;
    QPointF pan_;  // of the picture's centre from the widget's centre
    QPoint dragFrom_;
    bool dragging_ = false;
    bool autoZoom_ = true;  // until the user zooms, a resize fits the picture again
};

}  // namespace tplforge::browse
