// A started model, its commands and the scripted platform, plus a scratch folder.
#pragma once

#include <random>

#include "commands/commands.h"
#include "support/fake_platform.h"
#include "support/scratch.h"

namespace tplforge::testing {

// A picture whose every pixel differs, so misplaced pixels show.
inline WindowRaster patternRaster(int width, int height, unsigned seed = 1) {
    WindowRaster r(width, height);
    std::mt19937 rng(seed);
    for (ColourValue& c : r.pixels) c = rng() & 0xFFFFFF;
    return r;
}

class CommandTest : public ::testing::Test, protected ScratchDir {
protected:
    CommandTest() { model.startUp(std::make_shared<const WindowRaster>(patternRaster(400, 260, 99))); }

    // Loads `picture` into the selected slot through "Leer imagen".
    void loadIntoSelected(const WindowRaster& picture) {
        const std::string name = "picture" + std::to_string(fake.pictures.size()) + ".bmp";  // each new
        fake.pictures.insert_or_assign(name, picture);
        fake.openAnswers.push_back(name);
        h.readPicture();
    }
    void loadIntoSlot(int slot, const WindowRaster& picture) {
        h.selectSlot(slot);
        loadIntoSelected(picture);
    }

    SlotModel model;
    FakePlatform fake;
    Commands h{model, fake};
};

}  // namespace tplforge::testing
