// "Leer TPL" and "Guardar TPL" on five 1024 × 1024 textures, through the real
// commands and files on disk; only the dialogs and message boxes are stubbed.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>

#include "tplforge/file_io.h"
#include "commands/commands.h"
#include "window_rules/window_rules.h"

namespace tplforge {
namespace {

constexpr int kSide = 1024;

// Every dialog answers `path`, every question Yes.
class BenchPlatform : public Platform {
public:
    explicit BenchPlatform(std::string path) : path_(std::move(path)) {}
    std::string showOpenDialog(const FileDialogRequest&) override { return path_; }
    std::string showSaveDialog(const FileDialogRequest&) override { return path_; }
    MessageAnswer showMessage(const MessageBoxRequest& r) override {
        return r.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    Expected<WindowRaster, PictureError> loadPicture(const std::string&) override { return fail(PictureError::CannotOpen); }
    std::error_code savePicture(const WindowRaster&, const std::string&) override { return {}; }
    ColourValue colourUnderPointer() override { return kWhite; }

private:
    std::string path_;
};

WindowRaster noise(unsigned seed) {
    WindowRaster r(kSide, kSide);
    std::mt19937 rng(seed);
    for (ColourValue& c : r.pixels) c = rng() & 0xFFFFFF;
    return r;
}

std::string scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// Five RGB5A3 textures in which every texel is an alpha-colour texel.
void BM_ReadTpl_FiveAlphaTextures(benchmark::State& state) {
    const std::string path = scratch("tplforge-bench-read.tpl");
    std::vector<WindowRaster> rasters;
    std::vector<window_rules::Texture> in;
    rasters.reserve(5);
    for (unsigned k = 0; k < 5; ++k) rasters.emplace_back(kSide, kSide, 0x00FF00 + k);
    for (const WindowRaster& r : rasters) in.push_back({&r, true, r.pixels[0]});
    if (!writeFileAtomically(path, *window_rules::buildTpl(in))) state.SkipWithError("cannot write the file");

    SlotModel model;
    model.startUp(std::make_shared<const WindowRaster>(400, 260));
    BenchPlatform platform(path);
    Commands commands(model, platform);
    for (auto _ : state) commands.readTpl();
    state.SetItemsProcessed(state.iterations() * 5 * kSide * kSide);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadTpl_FiveAlphaTextures)->Unit(benchmark::kMillisecond);

void BM_SaveTpl_FiveSlots(benchmark::State& state) {
    const std::string path = scratch("tplforge-bench-save.tpl");
    SlotModel model;
    model.startUp(std::make_shared<const WindowRaster>(noise(1)));
    for (int s = 2; s <= 5; ++s) model.setSlotPicture(s, std::make_shared<const WindowRaster>(noise(static_cast<unsigned>(s))));
    model.setSlotPicture(1, std::make_shared<const WindowRaster>(noise(9)));
    model.selectSlot(2);
    BenchPlatform platform(path);
    Commands commands(model, platform);
    commands.chooseRgb5a3();
    for (auto _ : state) commands.saveTpl();
    state.SetItemsProcessed(state.iterations() * 5 * kSide * kSide);
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveTpl_FiveSlots)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tplforge
