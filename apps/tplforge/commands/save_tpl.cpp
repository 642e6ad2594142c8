#include <vector>

#include "tplforge/file_io.h"
#include "window_rules/window_rules.h"
#include "commands/commands.h"
#include "commands/file_exists.h"
#include "commands/messages.h"

namespace tplforge {

namespace {

bool isExportable(const WorkSurface& surface) {
    return surface.hasPicture() && surface.width() % 4 == 0 && surface.height() % 4 == 0;
}

bool fitsTpl(const WorkSurface& surface) {
    return static_cast<std::uint32_t>(surface.width()) <= kMaxSide &&
           static_cast<std::uint32_t>(surface.height()) <= kMaxSide;
}

}  // namespace

// "Guardar TPL". Slots are read only by selecting them, as a thumbnail click does:
// the surface then holds the slot's picture and the format choice and alpha colour
// are the slot's own. The whole file is built in memory and renamed over the target
// once written, so a failed save never costs the old file.
void Commands::saveTpl() {
    int n = 0;
    int tooLarge = 0;
    for (int s = 1; s <= kSlotCount; ++s) {
        model_.selectSlot(s);
        if (!isExportable(model_.surface())) continue;
        ++n;
        if (tooLarge == 0 && !fitsTpl(model_.surface())) tooLarge = s;
    }
    if (n == 0) {
        showError(platform_, "No hay imagenes para añadir.");
        return;
    }
    if (tooLarge != 0) {
        showError(platform_, "La imagen " + std::to_string(tooLarge) +
                                 " es demasiado grande para una textura TPL." + kCrLf +
                                 "El ancho y el alto no pueden pasar de 32767 pixeles.");
        return;
    }

    const std::string name = platform_.showSaveDialog({"", "Texturas TPL|*.tpl", "Guardar archivo."});
    if (name.empty()) return;
    std::string target = name;
    if (!fileExists(target) && !endsWith(target, ".tpl")) target += ".tpl";

    std::vector<SharedRaster> pictures;  // keeps each slot's raster alive while encoding
    std::vector<window_rules::Texture> textures;
    for (int s = 1; s <= kSlotCount; ++s) {
        model_.selectSlot(s);
        const WorkSurface& surface = model_.surface();
        if (!isExportable(surface)) continue;
        pictures.push_back(surface.snapshot());
        const bool rgb5a3 = model_.formatChoice() == FormatChoice::RGB5A3;
        textures.push_back({pictures.back().get(), rgb5a3, model_.alphaColour()});
    }

    auto file = window_rules::buildTpl(textures);
    if (!file) {
        showError(platform_, std::string("Las imagenes no caben en un archivo TPL.") + kCrLf + target);
        return;
    }
    if (!writeFileAtomically(target, *file)) {
        showError(platform_, std::string("No se pudo guardar el archivo.") + kCrLf + target);
    }
}

}  // namespace tplforge
