// Everything `tplforge-cli info` tells of a texture, as label and value pairs
// for the details panel; and its palette's colours for the swatches.
#pragma once

#include <QColor>
#include <QPair>
#include <QString>
#include <QVector>

#include "tplforge/texture_file.h"

namespace tplforge::browse {

using Details = QVector<QPair<QString, QString>>;

// `file` is the file the texture belongs to, `fileName` its name on disk.
[[nodiscard]] Details detailsOf(const TextureRef& texture, const TextureFile& file, const std::string& fileName);
// The pairs as plain text, one "label: value" a line, for the clipboard.
[[nodiscard]] QString detailsText(const Details& details);

// The palette's entries as colours (straight alpha), in stored order.
[[nodiscard]] QVector<QColor> paletteColours(const PaletteView& palette);

}  // namespace tplforge::browse
