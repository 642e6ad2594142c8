// Pictures for `encode`: Targa (by its .tga name) and PNG (by content) through
// our own readers, everything else through the picture reader process.
#pragma once

#include <string>

#include "picture_reader/picture_reader.h"
#include "tplforge/expected.h"
#include "tplforge/image.h"
#include "tplforge/png.h"
#include "window_rules/window_raster.h"

namespace tplforge::cli {

// The reason is English and names no file. The backdrop applies to what the
// reader process decodes (our own readers always keep alpha): over the surface
// it draws exactly what the window gets.
// A PNG reports its rows as they arrive through onRows; other pictures arrive
// whole and report nothing.
Expected<Image, std::string> readInputPicture(const std::string& path, Backdrop backdrop,
                                              const RowsDecoded& onRows = nullptr);

bool isTargaPath(const std::string& path);

// Pixels of the key colour become fully transparent, whatever their alpha was.
void applyKeyColour(Image& picture, ColourValue key);

}  // namespace tplforge::cli
