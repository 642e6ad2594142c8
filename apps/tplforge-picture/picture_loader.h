// The picture loader shared by the window and the command-line tool: bitmaps,
// GIF, JPEG, PNG, icons and cursors through Qt's image readers, Windows
// metafiles through libwmf and enhanced metafiles through libemf2svg.
// Over a colour, everything with transparency comes back drawn over it, so one
// file always gives one picture, whichever program reads it; with its alpha
// kept, it comes back as straight RGBA.
// It runs inside tplforge-picture (and the fuzz target): the programs themselves
// reach it through that process only.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tplforge/expected.h"
#include "tplforge/image.h"
#include "picture_reader/picture_reader.h"

namespace tplforge {

Expected<Image, PictureError> loadPictureFile(const std::string& path, const Backdrop& backdrop);

// The same, for a file already in memory (the content decides the format).
Expected<Image, PictureError> loadPictureBytes(std::span<const std::uint8_t> bytes, const Backdrop& backdrop);

// Whether the bytes are an enhanced metafile: the one kind drawn through Qt's
// painter, whose fonts need a QGuiApplication to exist first.
bool isEnhancedMetafile(std::span<const std::uint8_t> bytes);

}  // namespace tplforge
