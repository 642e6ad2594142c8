// Selection, format tags, size checks, clearing and alpha picking, driven through
// the commands as the window drives them.
#include <gtest/gtest.h>

#include "slots/format_tags.h"
#include "support/command_fixture.h"

namespace tplforge::testing {
namespace {

using Slots = CommandTest;

TEST_F(Slots, SelectionReadsPictureAndTag) {
    loadIntoSlot(2, solidRaster(8, 8, 0x123456));
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

    struct Step {
        int slot;
        FormatChoice choice;
        ColourValue alpha;
        bool hasPicture;
    };
    for (const Step& s : {Step{2, FormatChoice::RGB5A3, 0x00FF00, true}, Step{1, FormatChoice::RGB565, 0x00FF00, true},
                          Step{3, FormatChoice::RGB5A3, 0x0000FF, false}, Step{4, FormatChoice::RGB565, 0x0000FF, false},
                          Step{5, FormatChoice::RGB565, 0x0000FF, false}}) {
        h.selectSlot(s.slot);
        EXPECT_EQ(model.selectedSlot(), s.slot);
        EXPECT_EQ(model.formatChoice(), s.choice) << s.slot;
        EXPECT_EQ(model.alphaColour(), s.alpha) << s.slot;
        EXPECT_EQ(model.surface().hasPicture(), s.hasPicture) << s.slot;
        EXPECT_EQ(*model.preview(), model.surface().pixels()) << s.slot;
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

struct TickCase {
    int width, height;
    bool widthBlinks, heightBlinks;
};

class SizeChecks : public CommandTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(SizeChecks, TicksBlinkOrSettle) {
    const TickCase c = GetParam();
    if (c.width > 0) loadIntoSelected(solidRaster(c.width, c.height, 0));
    else h.clearPicture();  // an empty surface reports 0 × 0
    for (int tick = 1; tick <= 3; ++tick) {
        h.tickWidthCheck();
        h.tickHeightCheck();
        const bool odd = tick % 2 == 1;
        EXPECT_EQ(model.widthCheckRunning(), c.widthBlinks);
        EXPECT_EQ(model.heightCheckRunning(), c.heightBlinks);
        EXPECT_EQ(model.widthLabel().textColour, c.widthBlinks ? kBlinkRed : kBlack);
        EXPECT_EQ(model.heightLabel().textColour, c.heightBlinks ? kBlinkRed : kBlack);
        EXPECT_EQ(model.widthLabel().visible, !(c.widthBlinks && odd));
        EXPECT_EQ(model.heightLabel().visible, !(c.heightBlinks && odd));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizeChecks,
                         ::testing::Values(TickCase{400, 260, false, false}, TickCase{130, 97, true, true},
                                           TickCase{128, 97, false, true}, TickCase{0, 0, false, false}));

TEST_F(Slots, HiddenLabelShowsBlackAfterAGoodSize) {
    loadIntoSelected(solidRaster(130, 97, 0));
    h.tickWidthCheck();
    h.tickHeightCheck();
    ASSERT_FALSE(model.widthLabel().visible);
    loadIntoSelected(solidRaster(128, 96, 0));
    EXPECT_FALSE(model.widthLabel().visible);  // stays hidden until the next tick
    h.tickWidthCheck();
    h.tickHeightCheck();
    EXPECT_TRUE(model.widthLabel().visible && model.heightLabel().visible);
    EXPECT_EQ(model.widthLabel().textColour, kBlack);
    EXPECT_FALSE(model.widthCheckRunning() || model.heightCheckRunning());
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
    EXPECT_TRUE(model.widthCheckRunning());
    h.selectSlot(1);
    h.selectSlot(3);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
}

}  // namespace
}  // namespace tplforge::testing
