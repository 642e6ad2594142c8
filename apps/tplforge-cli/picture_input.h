// Pictures for `encode`: Targa (by its .tga name) and PNG (by content) through
// our own readers, everything else through the picture loader.
#pragma once

#include <string>

#include "tplforge/expected.h"
#include "tplforge/image.h"

namespace tplforge::cli {

// The reason is English and names no file.
Expected<Image, std::string> readInputPicture(const std::string& path);

bool isTargaPath(const std::string& path);

}  // namespace tplforge::cli
