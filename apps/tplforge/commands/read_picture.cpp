#include <memory>

#include "commands/commands.h"
#include "commands/messages.h"

namespace tplforge {

namespace {
const char* const kPictureFilter =
    "todas las imagenes soportadas|*.bmp;*.dib;*.gif;*.jpg;*.wmf;*.emf;*.ico;*.cur|Mapa de bits|*.bmp;*.dib|"
    "Imagenes gif|*.gif|Imagenes jpg|*.jpg|Metaarchivos|*.wmf;*.emf|Iconos|*.ico;*.cur|Todos los archivos|*.*";
}

// "Leer imagen". The file is decoded before anything is cleared, so a file that
// cannot be read leaves the slot, the surface and the preview as they were.
void Commands::readPicture() {
    const std::string name = platform_.showOpenDialog({"", kPictureFilter, "Abrir imagen."});
    if (name.empty()) return;

    auto loaded = platform_.loadPicture(name);
    if (!loaded) {
        showError(platform_, std::string(describeSpanish(loaded.error())) + kCrLf + name);
        return;
    }

    model_.surface().assign(nullptr);
    model_.clearSelectedSlot();
    model_.clearPreview();
    model_.refreshSizeDisplay();
    model_.surface().assign(std::make_shared<const WindowRaster>(std::move(loaded).value()));
    model_.refreshSizeDisplay();
    model_.setPreviewFromSurface();
    model_.setSelectedSlotFromSurface();
}

}  // namespace tplforge
