#include "format/format_selection.h"
#include "slots/handlers.h"

namespace tplforge {

// What binds is the colour on screen under the pointer, not a pixel of the stored
// picture: the preview is stretched, and the user picks what they see.
void Handlers::Image6() {
    model_.setAlphaColour(platform_.colourUnderPointer());
    if (model_.formatChoice() == FormatChoice::RGB5A3) rgb5a3FormatOperation(model_);
}

}  // namespace tplforge
