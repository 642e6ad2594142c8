#include "commands/file_exists.h"
#include "commands/commands.h"
#include "commands/messages.h"

namespace tplforge {

// "Salvar imagen". An existing file chosen in the dialog is replaced under its own
// name; a new name gets ".bmp" unless it already ends so (case-sensitive). The
// bitmap is written beside the target and renamed over it, so a failed save keeps
// the old file.
void Commands::savePicture() {
    const WorkSurface& surface = model_.surface();
    if (!surface.hasPicture()) {
        showError(platform_, "Tienes que tener cargada una imagen.");
        return;
    }
    const std::string name = platform_.showSaveDialog({"", "Mapas de bits|*.bmp", "Guardar imagen."});
    if (name.empty()) return;

    std::string path = name;
    if (!fileExists(path) && !endsWith(path, ".bmp")) path += ".bmp";

    if (const std::error_code error = platform_.savePicture(*surface.assignedPicture(), path)) {
        showError(platform_, std::string("No se pudo guardar la imagen.") + kCrLf + path);
    }
}

}  // namespace tplforge
