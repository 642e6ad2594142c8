#include "platform/qt/qt_raster.h"

#include <algorithm>

namespace tplforge {

QImage imageFromRaster(const WindowRaster& raster) {
    QImage image(raster.width, raster.height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < raster.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const ColourValue* in = raster.row(y);
        for (int x = 0; x < raster.width; ++x) line[x] = qRgb(redOf(in[x]), greenOf(in[x]), blueOf(in[x]));
    }
    return image;
}

WindowRaster rasterFromImage(const QImage& source) {
    if (source.isNull()) return {};
    // Some readers (icons, for one) decode to premultiplied pixels; compositing
    // those as they are avoids a second rounding on the way back.
    const bool premultiplied = source.pixelFormat().premultiplied() == QPixelFormat::Premultiplied;
    const QImage::Format wanted = premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    const QImage image = source.format() == wanted ? source : source.convertToFormat(wanted);
    if (image.isNull()) return {};
    WindowRaster raster(image.width(), image.height());
    const std::uint32_t backR = redOf(kSurfaceColour), backG = greenOf(kSurfaceColour), backB = blueOf(kSurfaceColour);
    for (int y = 0; y < raster.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        ColourValue* out = raster.row(y);
        for (int x = 0; x < raster.width; ++x) {
            const QRgb p = line[x];
            const std::uint32_t alpha = qAlpha(p);
            if (alpha == 255) {
                out[x] = rgb(qRed(p), qGreen(p), qBlue(p));
            } else if (premultiplied) {
                const std::uint32_t rest = 255 - alpha;
                auto channel = [rest](std::uint32_t premultipliedValue, std::uint32_t back) {
                    return std::min<std::uint32_t>(255, premultipliedValue + (back * rest + 127) / 255);
                };
                out[x] = rgb(channel(qRed(p), backR), channel(qGreen(p), backG), channel(qBlue(p), backB));
            } else {
                out[x] = blendOver(qRed(p), qGreen(p), qBlue(p), alpha);
            }
        }
    }
    return raster;
}

}  // namespace tplforge
