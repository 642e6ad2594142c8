// Selection, format tags, size checks, clearing and alpha picking, driven through
// the commands as the window drives them.
#include "slots/format_tags.h"
#include "support/command_fixture.h"

namespace tplforge::testing {
namespace {

using Slots = CommandTest;

TEST_F(Slots, SelectionReadsPictureAndTag) {
    loadIntoSlot(2, WindowRaster(8, 8, 0x123456));
    h.chooseRgb5a3();
    fake.pointerColour = 0x00FF00;
    h.pickAlphaColour();  // slot 2: RGB5A3 on green
    h.selectSlot(3);
    h.chooseRgb5a3();  // empty slot 3: RGB5A3 on green too
    fake.pointerColour = 0x0000FF;
    h.pickAlphaColour();  // ...now on red
    FormatTag odd = rgb5a3Tag(0xABCDEF);
    odd.mode = BackgroundMode::Transparent;  // the mode decides, not the text
    model.setTag(4, odd);

    using enum FormatChoice;
    const std::tuple<int, FormatChoice, ColourValue, bool> steps[] = {  // slot, option, alpha colour, picture
        {2, RGB5A3, 0x00FF00, true}, {1, RGB565, 0x00FF00, true}, {3, RGB5A3, 0x0000FF, false},
        {4, RGB565, 0x0000FF, false}, {5, RGB565, 0x0000FF, false}};
    for (const auto& [slot, choice, alpha, hasPicture] : steps) {
        h.selectSlot(slot);
        EXPECT_EQ(std::tuple(model.selectedSlot(), model.formatChoice(), model.alphaColour(), model.surface().hasPicture()),
                  std::tuple(slot, choice, alpha, hasPicture));
        EXPECT_EQ(*model.preview(), model.surface().pixels()) << slot;
    }
    EXPECT_EQ(model.slot(2).tag, rgb5a3Tag(0x00FF00));  // selection never changes a tag's format
    EXPECT_EQ(model.slot(4).tag.text, "RGB565");
}

TEST_F(Slots, FormatOperationsAndPicking) {
    h.selectSlot(3);
    fake.pointerColour = 0x00FFFF;
    h.pickAlphaColour();  // RGB565 chosen: only the alpha colour changes
    EXPECT_EQ(model.alphaColour(), 0x00FFFFu);
    EXPECT_EQ(model.slot(3).tag.mode, BackgroundMode::Transparent);
    fake.pointerColour = kWhite;
    h.pickAlphaColour();
    h.chooseRgb5a3();
    const FormatTag white{"RGB5A3", BackgroundMode::Opaque, TagColour::of(kWhite), TagColour::of(1)};
    EXPECT_EQ(model.slot(3).tag, white);
    h.chooseRgb5a3();
    EXPECT_EQ(model.slot(3).tag, white);
    fake.pointerColour = 8388608;
    h.pickAlphaColour();  // RGB5A3 chosen: the slot takes the picked colour at once
    EXPECT_EQ(model.slot(3).tag.textColour, TagColour::of(8388608));
    h.chooseRgb565();
    const FormatTag plain{"RGB565", BackgroundMode::Transparent, TagColour::of(8388608), TagColour::of(kBlack)};
    EXPECT_EQ(model.slot(3).tag, plain);
    for (int i : {1, 2, 4, 5}) EXPECT_EQ(model.slot(i).tag.background, TagColour{});
}

TEST(ContrastColour, Table) {
    const std::pair<ColourValue, ColourValue> rows[] = {{0, 16777214}, {16777215, 1},       {255, 16776959},
                                                        {248, 16776966}, {8388607, 8388607}, {8388608, 8388608},
                                                        {16316664, 460552}};
    for (const auto& [a, f] : rows) EXPECT_EQ(contrastColour(a), f) << a;
}

// Loading or clearing (0 × 0) starts both checks; a tick blinks the label of a
// side that is no multiple of 4 red, or shows it black and stops its check. A
// label a blink hid stays hidden until the tick after a good size.
TEST_F(Slots, SizeChecksBlinkOrSettle) {
    const std::tuple<int, int, bool, bool> sizes[] = {{400, 260, false, false}, {130, 97, true, true},
                                                      {128, 96, false, false},  {128, 97, false, true},
                                                      {0, 0, false, false}};
    for (const auto& [width, height, widthBlinks, heightBlinks] : sizes) {
        const bool shown = model.widthLabel().visible;
        width ? loadIntoSelected(WindowRaster(width, height)) : h.clearPicture();
        EXPECT_EQ(model.widthLabel().visible, shown) << width;
        EXPECT_TRUE(model.widthCheckRunning() && model.heightCheckRunning());
        for (int tick = 1; tick <= 3; ++tick) {
            h.tickWidthCheck();
            h.tickHeightCheck();
            const auto seen = [](bool running, const SizeLabel& l) { return std::tuple(running, l.textColour, l.visible); };
            const auto want = [tick](bool blinks) {
                return std::tuple(blinks, std::optional(blinks ? kBlinkRed : kBlack), !(blinks && tick % 2));
            };
            EXPECT_EQ(seen(model.widthCheckRunning(), model.widthLabel()), want(widthBlinks)) << width << " " << tick;
            EXPECT_EQ(seen(model.heightCheckRunning(), model.heightLabel()), want(heightBlinks)) << height << " " << tick;
        }
    }
}

TEST_F(Slots, ClearingEmptiesOnlyTheSelectedSlot) {
    for (int i = 1; i <= 5; ++i) loadIntoSlot(i, patternRaster(8, 8, static_cast<unsigned>(i)));
    h.selectSlot(3);
    h.chooseRgb5a3();
    const FormatTag tag = model.slot(3).tag;
    h.clearPicture();
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(model.slotIsEmpty(i), i == 3);
    EXPECT_EQ(model.selectedSlot(), 3);
    EXPECT_EQ(model.slot(3).tag, tag);
    EXPECT_FALSE(model.surface().hasPicture());
    EXPECT_EQ(model.preview(), nullptr);
    EXPECT_EQ(model.widthLabel().text, "0");
    h.selectSlot(1);
    h.selectSlot(3);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
}

}  // namespace
}  // namespace tplforge::testing
