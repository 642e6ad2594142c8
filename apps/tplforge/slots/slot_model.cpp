#include "slots/slot_model.h"

#include <charconv>

#include "slots/format_tags.h"

namespace tplforge {

namespace {
const std::shared_ptr<const WindowRaster>& emptyRaster() {
    static const auto empty = std::make_shared<const WindowRaster>();
    return empty;
}
}  // namespace

WorkSurface::WorkSurface() : content_(emptyRaster()) {}

void WorkSurface::assign(SharedRaster picture) {
    content_ = picture ? picture : emptyRaster();
    assigned_ = std::move(picture);
}

void WorkSurface::setSize(int width, int height) {
    content_ = std::make_shared<const WindowRaster>(width, height, kSurfaceColour);
}

void WorkSurface::draw(WindowRaster pixels) { content_ = std::make_shared<const WindowRaster>(std::move(pixels)); }

void SlotModel::startUp(SharedRaster startupPicture) {
    surface_.assign(std::move(startupPicture));
    refreshSizeDisplay();
    setSelectionMark(1);
    slotRef(1).picture = surface_.snapshot();
    preview_ = surface_.snapshot();
}

void SlotModel::selectSlot(int i) {
    setSelectionMark(i);
    surface_.assign(slot(i).picture);
    setPreviewFromSurface();
    refreshSizeDisplay();
    // Setting the option runs its click handler, which writes back what was read.
    if (slot(i).tag.mode == BackgroundMode::Opaque) {
        alphaColour_ = slot(i).tag.background.value;
        chooseRgb5a3(*this);
    } else {
        chooseRgb565(*this);
    }
}

void SlotModel::writeSizeLabels() {
    heightLabel_.text = std::to_string(surface_.height());
    widthLabel_.text = std::to_string(surface_.width());
}

void SlotModel::startSizeChecks() {
    widthCheckRunning_ = true;
    heightCheckRunning_ = true;
}

void SlotModel::refreshSizeDisplay() {
    writeSizeLabels();
    startSizeChecks();
}

namespace {
// One tick of a blink check; returns whether the check keeps running.
bool tickCheck(SizeLabel& label) {
    std::int32_t n = 0;
    std::from_chars(label.text.data(), label.text.data() + label.text.size(), n);
    if (n % 4 != 0) {
        label.textColour = kBlinkRed;
        label.visible = !label.visible;
        return true;
    }
    label.textColour = kBlack;
    label.visible = true;
    return false;
}
}  // namespace

void SlotModel::tickWidthCheck() {
    if (widthCheckRunning_) widthCheckRunning_ = tickCheck(widthLabel_);
}

void SlotModel::tickHeightCheck() {
    if (heightCheckRunning_) heightCheckRunning_ = tickCheck(heightLabel_);
}

}  // namespace tplforge
