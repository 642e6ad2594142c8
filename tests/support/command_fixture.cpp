#include "support/command_fixture.h"

#include "tplforge/file_io.h"

#include <algorithm>
#include <fstream>
#include <random>

namespace tplforge::testing {

Raster patternRaster(int width, int height, unsigned seed) {
    Raster r(width, height);
    std::mt19937 rng(seed);
    for (ColourValue& c : r.pixels) c = rng() & 0xFFFFFF;
    return r;
}

Raster solidRaster(int width, int height, ColourValue colour) { return Raster(width, height, colour); }

void CommandTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = std::string("tplforge-") + info->test_suite_name() + "-" + info->name();
    std::replace(leaf.begin(), leaf.end(), '/', '_');
    dir = std::filesystem::temp_directory_path() / leaf;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    model.startUp(std::make_shared<const Raster>(patternRaster(400, 260, 99)));
}

void CommandTest::TearDown() { std::filesystem::remove_all(dir); }

void CommandTest::loadIntoSelected(const Raster& picture) {
    const std::string name = "picture" + std::to_string(++loads) + ".bmp";
    fake.pictures.insert_or_assign(name, Expected<Raster, PictureError>(picture));
    fake.openAnswers.push_back(name);
    h.readPicture();
}

void CommandTest::loadIntoSlot(int slot, const Raster& picture) {
    h.selectSlot(slot);
    loadIntoSelected(picture);
}

}  // namespace tplforge::testing

namespace tplforge::testing {

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    auto read = readWholeFile(path);
    return read ? *read : std::vector<std::uint8_t>{};
}

}  // namespace tplforge::testing
