#include "imageio/targa.h"
#include "slots/handlers.h"
#include "slots/messages.h"

namespace tplforge {

// "Leer TGA": same sequence as "Leer imagen" around our own Targa reader, which
// draws onto the bare surface; the drawing then becomes the surface's picture.
void Handlers::Command2() {
    const std::string name = platform_.showOpenDialog({"", "Imagenes TGA|*.tga", "Abrir imagen."});
    if (name.empty()) return;

    auto decoded = VBLoadTga(name);
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
    surface.draw(std::move(decoded).value());
    model_.refreshSizeDisplay();
    model_.setPreviewFromSurface();
    model_.setSelectedSlotFromSurface();
    surface.assign(surface.snapshot());
}

}  // namespace tplforge
