// Rasters to and from QImage, for the window's display and for the picture
// loader: Qt Gui only, so the window needs none of the decoders behind the loader.
#pragma once

#include <QImage>

#include "window_rules/window_raster.h"

namespace tplforge {

// Opaque 32-bit image of the raster (QImage::Format_RGB32); null when Qt cannot
// allocate it.
QImage imageFromRaster(const WindowRaster& raster);

// Any QImage → raster; pixels with transparency are blended over kSurfaceColour.
WindowRaster rasterFromImage(const QImage& image);

}  // namespace tplforge
