#include "commands/commands.h"

#include "slots/format_tags.h"

namespace tplforge {

void Commands::selectSlot(int i) { model_.selectSlot(i); }

void Commands::chooseRgb565() { tplforge::chooseRgb565(model_); }
void Commands::chooseRgb5a3() { tplforge::chooseRgb5a3(model_); }

void Commands::tickWidthCheck() { model_.tickWidthCheck(); }
void Commands::tickHeightCheck() { model_.tickHeightCheck(); }

// "Borrar imagen": the size labels are written before the slot is cleared and the
// blink checks started after, the two halves of a size refresh.
void Commands::clearPicture() {
    model_.surface().assign(nullptr);
    model_.writeSizeLabels();
    model_.clearPreview();
    model_.clearSelectedSlot();
    model_.startSizeChecks();
}

}  // namespace tplforge
