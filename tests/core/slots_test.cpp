// Selection, format tags, size checks, clearing and alpha picking, driven through
// the handlers as the window drives them.
#include <gtest/gtest.h>

#include "format/format_selection.h"
#include "support/handler_fixture.h"

namespace tplforge::testing {
namespace {

using Slots = HandlerTest;

FormatTag tagOf(const SlotModel& m, int i) { return m.slot(i).tag; }

TEST_F(Slots, StartUpState) {
    EXPECT_EQ(model.selectedSlot(), 1);
    ASSERT_FALSE(model.slotIsEmpty(1));
    EXPECT_EQ(model.slot(1).picture->width, 400);
    for (int i = 2; i <= 5; ++i) EXPECT_TRUE(model.slotIsEmpty(i));
    EXPECT_EQ(model.ancho().text, "400");
    EXPECT_EQ(model.alto().text, "260");
    EXPECT_FALSE(model.ancho().textColour.has_value());  // default colour until the first tick
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    EXPECT_EQ(model.alphaColour(), kWhite);
    EXPECT_EQ(tagOf(model, 1), FormatTag{});
    EXPECT_TRUE(model.surface().hasPicture());
    EXPECT_EQ(*model.preview(), *model.slot(1).picture);
}

TEST_F(Slots, SelectingAnEmptySlotBlanksSurfaceAndStillReadsItsTag) {
    h.selectSlot(2);
    h.Option2();  // empty slot 2 becomes RGB5A3 on white
    h.selectSlot(1);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    h.selectSlot(2);
    EXPECT_FALSE(model.surface().hasPicture());
    ASSERT_NE(model.preview(), nullptr);
    EXPECT_EQ(model.preview()->pixels.size(), 0u);
    EXPECT_EQ(model.ancho().text, "0");
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
}

TEST_F(Slots, RGB5A3SlotSetsAlphaColourAndRGB565SlotKeepsIt) {
    loadIntoSlot(2, solidRaster(8, 8, 0x123456));
    fake.pointerColour = 0x00FF00;
    h.Option2();
    h.Image6();  // picks green for slot 2
    h.selectSlot(3);
    h.Option2();
    fake.pointerColour = 0x0000FF;
    h.Image6();  // slot 3's alpha colour is red
    h.selectSlot(2);
    EXPECT_EQ(model.alphaColour(), 0x00FF00u);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
    h.selectSlot(1);  // RGB565 slot: alpha colour stays slot 2's
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    EXPECT_EQ(model.alphaColour(), 0x00FF00u);
    h.selectSlot(3);
    EXPECT_EQ(model.alphaColour(), 0x0000FFu);
}

TEST_F(Slots, ReselectingChangesNothing) {
    loadIntoSlot(4, patternRaster(12, 8));
    h.Option2();
    const FormatTag before = tagOf(model, 4);
    const Picture picture = model.slot(4).picture;
    h.selectSlot(4);
    EXPECT_EQ(model.selectedSlot(), 4);
    EXPECT_EQ(tagOf(model, 4), before);
    EXPECT_EQ(model.slot(4).picture, picture);
}

TEST_F(Slots, NumberLabelsEqualThumbnails) {
    loadIntoSlot(3, patternRaster(8, 4));
    void (Handlers::*labels[])() = {&Handlers::Label5, &Handlers::Label6, &Handlers::Label7, &Handlers::Label8,
                                    &Handlers::Label9};
    void (Handlers::*images[])() = {&Handlers::Image1, &Handlers::Image2, &Handlers::Image3, &Handlers::Image4,
                                    &Handlers::Image5};
    for (int i = 0; i < 5; ++i) {
        (h.*labels[i])();
        const int viaLabel = model.selectedSlot();
        const Picture surface = model.surface().snapshot();
        h.selectSlot(((i + 1) % 5) + 1);
        (h.*images[i])();
        EXPECT_EQ(viaLabel, i + 1);
        EXPECT_EQ(model.selectedSlot(), i + 1);
        EXPECT_EQ(*model.surface().snapshot(), *surface);
    }
}

TEST_F(Slots, TransparentTagWithRGB5A3TextCountsAsRGB565) {
    FormatTag odd;
    odd.text = "RGB5A3";
    odd.mode = BackgroundMode::Transparent;
    odd.background = TagColour::of(0x00FF00);
    model.setTag(2, odd);
    h.selectSlot(2);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB565);
    EXPECT_EQ(model.alphaColour(), kWhite);
    EXPECT_EQ(tagOf(model, 2).text, "RGB565");  // the option's handler wrote it back
}

TEST_F(Slots, WalkingAllSlotsEndsOnSlotFive) {
    h.selectSlot(5);
    h.Option2();
    fake.pointerColour = 0x808080;
    h.Image6();
    for (int i = 1; i <= 5; ++i) h.selectSlot(i);
    EXPECT_EQ(model.selectedSlot(), 5);
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
    EXPECT_EQ(model.alphaColour(), 0x808080u);
}

TEST_F(Slots, FormatOperationsWriteTheSelectedTag) {
    h.selectSlot(3);
    h.Option2();
    EXPECT_EQ(tagOf(model, 3).text, "RGB5A3");
    EXPECT_EQ(tagOf(model, 3).mode, BackgroundMode::Opaque);
    EXPECT_EQ(tagOf(model, 3).background, TagColour::of(kWhite));
    EXPECT_EQ(tagOf(model, 3).textColour, TagColour::of(1));
    const FormatTag once = tagOf(model, 3);
    h.Option2();
    EXPECT_EQ(tagOf(model, 3), once);
    h.Option1();
    EXPECT_EQ(tagOf(model, 3).text, "RGB565");
    EXPECT_EQ(tagOf(model, 3).mode, BackgroundMode::Transparent);
    EXPECT_EQ(tagOf(model, 3).textColour, TagColour::of(kBlack));
    EXPECT_EQ(tagOf(model, 3).background, TagColour::of(kWhite));  // unseen, kept
    for (int i : {1, 2, 4, 5}) EXPECT_EQ(tagOf(model, i), FormatTag{});
}

TEST_F(Slots, WithoutBorderOnOneToFourTheTagOfFiveIsWritten) {
    model.setSelectionMark(5);
    h.Option2();
    EXPECT_EQ(tagOf(model, 5).text, "RGB5A3");
    EXPECT_EQ(tagOf(model, 1), FormatTag{});
}

TEST(ContrastColour, Table) {
    struct Row {
        ColourValue a, f;
    };
    for (const Row& r : {Row{0, 16777214}, Row{16777215, 1}, Row{255, 16776959}, Row{248, 16776966},
                         Row{8388607, 8388607}, Row{8388608, 8388608}, Row{16316664, 460552}}) {
        EXPECT_EQ(contrastColour(r.a), r.f) << r.a;
    }
}

TEST_F(Slots, PickingWithEitherFormat) {
    h.selectSlot(2);
    const FormatTag rgb565 = tagOf(model, 2);
    fake.pointerColour = 0x00FFFF;
    h.Image6();  // RGB565: only the alpha colour
    EXPECT_EQ(model.alphaColour(), 0x00FFFFu);
    EXPECT_EQ(tagOf(model, 2), rgb565);
    EXPECT_EQ(rgb565.mode, BackgroundMode::Transparent);
    h.Option2();
    fake.pointerColour = kWhite;
    h.Image6();
    EXPECT_EQ(model.alphaColour(), kWhite);
    EXPECT_EQ(tagOf(model, 2), rgb5a3Tag(kWhite));
    EXPECT_EQ(tagOf(model, 2).textColour, TagColour::of(1));
    EXPECT_EQ(model.selectedSlot(), 2);
}

// --- Size checks ---

struct TickCase {
    int width, height;
    bool widthBlinks, heightBlinks;
};

class SizeChecks : public HandlerTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(SizeChecks, FirstTicksBlinkOrSettle) {
    const TickCase c = GetParam();
    if (c.width > 0) loadIntoSelected(solidRaster(c.width, c.height, 0));
    else h.Command3();  // an empty surface reports 0 × 0
    for (int tick = 1; tick <= 3; ++tick) {
        h.Timer1();
        h.Timer2();
        const bool odd = tick % 2 == 1;
        EXPECT_EQ(model.widthCheckRunning(), c.widthBlinks);
        EXPECT_EQ(model.heightCheckRunning(), c.heightBlinks);
        EXPECT_EQ(model.ancho().textColour, c.widthBlinks ? kBlinkRed : kBlack);
        EXPECT_EQ(model.alto().textColour, c.heightBlinks ? kBlinkRed : kBlack);
        EXPECT_EQ(model.ancho().visible, !(c.widthBlinks && odd));
        EXPECT_EQ(model.alto().visible, !(c.heightBlinks && odd));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizeChecks,
                         ::testing::Values(TickCase{400, 260, false, false}, TickCase{130, 97, true, true},
                                           TickCase{128, 97, false, true}, TickCase{0, 0, false, false},
                                           TickCase{6, 8, true, false}));

TEST_F(Slots, HiddenLabelShowsBlackAfterAGoodSize) {
    loadIntoSelected(solidRaster(130, 97, 0));
    h.Timer1();
    h.Timer2();
    ASSERT_FALSE(model.ancho().visible);
    loadIntoSelected(solidRaster(128, 96, 0));
    EXPECT_FALSE(model.ancho().visible);  // stays hidden until the next tick
    EXPECT_EQ(model.ancho().text, "128");
    h.Timer1();
    h.Timer2();
    EXPECT_TRUE(model.ancho().visible);
    EXPECT_TRUE(model.alto().visible);
    EXPECT_EQ(model.ancho().textColour, kBlack);
    EXPECT_FALSE(model.widthCheckRunning());
    EXPECT_FALSE(model.heightCheckRunning());
}

TEST_F(Slots, StartingRunningChecksKeepsThemRunning) {
    loadIntoSelected(solidRaster(130, 97, 0));
    h.Timer1();
    h.selectSlot(model.selectedSlot());
    EXPECT_TRUE(model.widthCheckRunning());
    h.Timer1();
    EXPECT_TRUE(model.ancho().visible);  // toggled back on the second tick
}

// --- Clearing ---

TEST_F(Slots, ClearingEmptiesOnlyTheSelectedSlot) {
    for (int i = 1; i <= 5; ++i) loadIntoSlot(i, patternRaster(8, 8, static_cast<unsigned>(i)));
    h.selectSlot(3);
    h.Option2();
    const FormatTag tag = tagOf(model, 3);
    h.Command3();
    EXPECT_TRUE(model.slotIsEmpty(3));
    for (int i : {1, 2, 4, 5}) EXPECT_FALSE(model.slotIsEmpty(i));
    EXPECT_EQ(model.selectedSlot(), 3);
    EXPECT_EQ(tagOf(model, 3), tag);
    EXPECT_FALSE(model.surface().hasPicture());
    EXPECT_EQ(model.preview(), nullptr);
    EXPECT_EQ(model.ancho().text, "0");
    EXPECT_TRUE(model.widthCheckRunning());
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
    h.selectSlot(1);
    h.selectSlot(3);
    EXPECT_FALSE(model.surface().hasPicture());
    EXPECT_EQ(model.formatChoice(), FormatChoice::RGB5A3);
}

}  // namespace
}  // namespace tplforge::testing
