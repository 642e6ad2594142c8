#include "slots/format_tags.h"
#include "commands/commands.h"

namespace tplforge {

// What binds is the colour on screen under the pointer, not a pixel of the stored
// picture: the preview is stretched, and the user picks what they see.
void Commands::pickAlphaColour() {
    model_.setAlphaColour(platform_.colourUnderPointer());
    if (model_.formatChoice() == FormatChoice::RGB5A3) rgb5a3FormatOperation(model_);
}

}  // namespace tplforge
