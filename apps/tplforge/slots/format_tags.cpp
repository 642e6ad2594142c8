#include "slots/format_tags.h"

namespace tplforge {

FormatTag rgb565Tag(const FormatTag& previous) {
    FormatTag tag = previous;
    tag.text = "RGB565";
    tag.mode = BackgroundMode::Transparent;
    tag.textColour = TagColour::of(kBlack);
    return tag;
}

FormatTag rgb5a3Tag(ColourValue alphaColour) {
    FormatTag tag;
    tag.text = "RGB5A3";
    tag.mode = BackgroundMode::Opaque;
    tag.background = TagColour::of(alphaColour);
    tag.textColour = TagColour::of(contrastColour(alphaColour));
    return tag;
}

void rgb565FormatOperation(SlotModel& model) {
    const int i = model.selectedSlot();
    model.setTag(i, rgb565Tag(model.slot(i).tag));
}

void rgb5a3FormatOperation(SlotModel& model) {
    model.setTag(model.selectedSlot(), rgb5a3Tag(model.alphaColour()));
}

void chooseRgb565(SlotModel& model) {
    model.setFormatChoice(FormatChoice::RGB565);
    rgb565FormatOperation(model);
}

void chooseRgb5a3(SlotModel& model) {
    model.setFormatChoice(FormatChoice::RGB5A3);
    rgb5a3FormatOperation(model);
}

}  // namespace tplforge
