// A started model, its commands and the scripted platform, plus a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "support/fake_platform.h"

namespace tplforge::testing {

// A picture whose every pixel differs, so misplaced pixels show.
Raster patternRaster(int width, int height, unsigned seed = 1);
Raster solidRaster(int width, int height, ColourValue colour);

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads `picture` into the selected slot through "Leer imagen".
    void loadIntoSelected(const Raster& picture);
    void loadIntoSlot(int slot, const Raster& picture);
    std::string path(const std::string& name) const { return (dir / name).string(); }

    SlotModel model;
    FakePlatform fake;
    Commands h{model, fake};
    std::filesystem::path dir;
    int loads = 0;
};

}  // namespace tplforge::testing

namespace tplforge::testing {

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> fileBytes(const std::string& path);  // empty when unreadable

}  // namespace tplforge::testing
