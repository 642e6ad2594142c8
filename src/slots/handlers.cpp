#include "slots/handlers.h"

#include "format/format_selection.h"

namespace tplforge {

void Handlers::selectSlot(int i) { model_.selectSlot(i); }

void Handlers::Option1() { tplforge::Option1(model_); }
void Handlers::Option2() { tplforge::Option2(model_); }

void Handlers::Timer1() { model_.tickWidthCheck(); }
void Handlers::Timer2() { model_.tickHeightCheck(); }

// "Borrar imagen": the size labels are written before the slot is cleared and the
// blink checks started after, the two halves of a size refresh.
void Handlers::Command3() {
    model_.surface().assign(nullptr);
    model_.writeSizeLabels();
    model_.clearPreview();
    model_.clearSelectedSlot();
    model_.startSizeChecks();
}

}  // namespace tplforge
