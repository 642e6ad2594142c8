#include "window_rules/window_rules.h"
#include "commands/commands.h"
#include "commands/messages.h"
#include "tplforge/file_io.h"
#include "tplforge/targa.h"

namespace tplforge {

// "Leer TGA": same sequence as "Leer imagen" around our own Targa reader, whose
// picture is drawn over the bare surface; the drawing then becomes its picture.
void Commands::readTarga() {
    const std::string name = platform_.showOpenDialog({"", "Imagenes TGA|*.tga", "Abrir imagen."});
    if (name.empty()) return;

    const auto file = readWholeFile(name);
    if (!file) {
        showError(platform_, std::string(kCannotOpenTarga) + kCrLf + name);
        return;
    }
    auto decoded = tplforge::readTarga(*file);
    if (!decoded) {
        showError(platform_, std::string(describeSpanish(decoded.error())) + kCrLf + name);
        return;
    }

    WorkSurface& surface = model_.surface();
    surface.assign(nullptr);
    model_.clearSelectedSlot();
    model_.clearPreview();
    model_.refreshSizeDisplay();
    surface.setSize(1, 1);
    surface.draw(window_rules::overSurface(*decoded));
    model_.refreshSizeDisplay();
    model_.setPreviewFromSurface();
    model_.setSelectedSlotFromSurface();
    surface.assign(surface.snapshot());
}

}  // namespace tplforge
