// The state every command shares: five image slots with their format tags, the
// selected slot, the work surface every picture passes through, the preview, the
// size labels with their blink checks, the format choice and the alpha colour.
// The window only shows this model and forwards clicks to the commands.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "window_rules/window_raster.h"

namespace tplforge {

inline constexpr int kSlotCount = 5;

enum class FormatChoice { RGB565, RGB5A3 };
enum class BackgroundMode { Transparent, Opaque };

// A tag colour: either one of the desktop's system colours (the start values) or a
// colour value written by a format operation.
struct TagColour {
    bool system = true;      // true: the window-background / window-text system colour
    ColourValue value = 0;   // meaningful when !system
    static TagColour of(ColourValue v) { return TagColour{false, v}; }
    bool operator==(const TagColour&) const = default;
};

// A slot's texture format tag; the background mode, not the text, decides.
struct FormatTag {
    std::string text = "RGB565";
    BackgroundMode mode = BackgroundMode::Transparent;
    TagColour background;  // the slot's own alpha colour while opaque
    TagColour textColour;
    bool operator==(const FormatTag&) const = default;
};

struct Slot {
    SharedRaster picture;  // null: empty
    FormatTag tag;
};

// A pixel surface measured in pixels. Its content is a shared immutable raster, so
// snapshots and picture assignment cost nothing, and the readers hand over whole
// rasters rather than writing pixel by pixel.
class WorkSurface {
public:
    WorkSurface();

    // A picture: takes its size and pixels and holds it as the assigned picture.
    // None: loses the picture and becomes an empty 0 × 0 surface.
    void assign(SharedRaster picture);
    // Blank in the surface colour at the new size; the assigned picture is kept.
    void setSize(int width, int height);
    // Replaces the whole content (and size) by drawn pixels, as a reader's pixel
    // writes would; the assigned picture is kept.
    void draw(WindowRaster pixels);

    ColourValue readPixel(int x, int y) const { return content_->at(x, y); }

    SharedRaster snapshot() const { return content_; }
    bool hasPicture() const { return assigned_ != nullptr; }
    const SharedRaster& assignedPicture() const { return assigned_; }
    int width() const { return content_->width; }
    int height() const { return content_->height; }
    const WindowRaster& pixels() const { return *content_; }

private:
    std::shared_ptr<const WindowRaster> content_;
    SharedRaster assigned_;
};

// The width and height labels: the text a size refresh writes, and the blink state.
struct SizeLabel {
    std::string text = "0";
    std::optional<ColourValue> textColour;  // none: the platform's default label colour
    bool visible = true;
    bool operator==(const SizeLabel&) const = default;
};

inline constexpr ColourValue kBlinkRed = 255;

class SlotModel {
public:
    SlotModel() = default;

    // The window's load handler: the surface holds the start-up picture.
    void startUp(SharedRaster startupPicture);

    // --- State (read by the window and by tests) ---
    const Slot& slot(int i) const { return slots_.at(static_cast<std::size_t>(i - 1)); }
    // The slot whose thumbnail has the border (first of 1..4, else 5).
    int selectedSlot() const { return selected_; }
    const WorkSurface& surface() const { return surface_; }
    WorkSurface& surface() { return surface_; }
    const SharedRaster& preview() const { return preview_; }
    const SizeLabel& widthLabel() const { return widthLabel_; }
    const SizeLabel& heightLabel() const { return heightLabel_; }
    FormatChoice formatChoice() const { return formatChoice_; }
    ColourValue alphaColour() const { return alphaColour_; }
    bool widthCheckRunning() const { return widthCheckRunning_; }   // the width blink timer
    bool heightCheckRunning() const { return heightCheckRunning_; }  // the height blink timer

    // --- Slot operations ---
    void selectSlot(int i);
    void setSelectionMark(int i) { selected_ = i; }
    bool slotIsEmpty(int i) const { return slot(i).picture == nullptr; }
    void refreshSizeDisplay();
    void writeSizeLabels();    // height, then width
    void startSizeChecks();
    void setPreviewFromSurface() { preview_ = surface_.snapshot(); }
    void clearPreview() { preview_ = nullptr; }
    void setSelectedSlotFromSurface() { slotRef(selected_).picture = surface_.snapshot(); }
    void clearSelectedSlot() { slotRef(selected_).picture = nullptr; }
    void setSlotPicture(int i, SharedRaster picture) { slotRef(i).picture = std::move(picture); }

    // --- Format state (written by the format operations) ---
    void setFormatChoice(FormatChoice choice) { formatChoice_ = choice; }
    void setAlphaColour(ColourValue colour) { alphaColour_ = colour; }
    void setTag(int i, FormatTag tag) { slotRef(i).tag = std::move(tag); }

    // --- Size checks: one tick of the width / height blink timer ---
    void tickWidthCheck();
    void tickHeightCheck();

private:
    Slot& slotRef(int i) { return slots_.at(static_cast<std::size_t>(i - 1)); }

    std::array<Slot, kSlotCount> slots_{};
    int selected_ = 1;
    WorkSurface surface_;
    SharedRaster preview_;
    SizeLabel widthLabel_, heightLabel_;
    FormatChoice formatChoice_ = FormatChoice::RGB565;
    ColourValue alphaColour_ = kWhite;
    bool widthCheckRunning_ = false;
    bool heightCheckRunning_ = false;
};

}  // namespace tplforge
