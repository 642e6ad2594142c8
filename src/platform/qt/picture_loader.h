// The picture loader shared by the window and the command-line tool: bitmaps,
// GIF, JPEG, PNG, icons and cursors through Qt's image readers, Windows
// metafiles through libwmf and enhanced metafiles through libemf2svg.
// Everything with transparency comes back drawn over kSurfaceColour, so one file
// always gives one raster, whichever program reads it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <QImage>

#include "tplforge/expected.h"
#include "codec/raster.h"
#include "platform/platform.h"

namespace tplforge {

Expected<Raster, PictureError> loadPictureFile(const std::string& path);

// The same, for a file already in memory (the content decides the format).
Expected<Raster, PictureError> loadPictureBytes(std::span<const std::uint8_t> bytes);

// Whether the bytes are an enhanced metafile: the one kind drawn through Qt's
// painter, whose fonts need a QGuiApplication to exist first.
bool isEnhancedMetafile(std::span<const std::uint8_t> bytes);

// Opaque 32-bit image of the raster (QImage::Format_RGB32); null when Qt cannot
// allocate it.
QImage imageFromRaster(const Raster& raster);

// Any QImage → raster; pixels with transparency are blended over kSurfaceColour.
Raster rasterFromImage(const QImage& image);

}  // namespace tplforge
