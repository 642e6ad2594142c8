// The two format operations behind the format options: they rewrite the selected
// slot's format tag, the one place a slot keeps its format and alpha colour.
#pragma once

#include "window_rules/window_raster.h"
#include "slots/slot_model.h"

namespace tplforge {

// Text colour of an RGB5A3 tag on background A: 16777214 − A up to the middle value,
// 16777216 − A above it (so near the middle the text matches the background).
constexpr ColourValue contrastColour(ColourValue a) {
    return a <= 8388607 ? 16777214 - a : 16777216 - a;
}

FormatTag rgb565Tag(const FormatTag& previous);  // keeps the unseen background colour
FormatTag rgb5a3Tag(ColourValue alphaColour);

void rgb565FormatOperation(SlotModel& model);
void rgb5a3FormatOperation(SlotModel& model);

// Click handlers: set the format choice, then run its format operation.
void chooseRgb565(SlotModel& model);
void chooseRgb5a3(SlotModel& model);

}  // namespace tplforge
