#include "codec/containers/common.h"

#include <algorithm>
#include <bit>

#include "tplforge/bytes.h"

namespace tplforge::containers {

unsigned storedLevels(std::uint32_t width, std::uint32_t height, std::uint32_t images) {
    const auto toOne = static_cast<unsigned>(std::bit_width(std::max(width, height)));
    return static_cast<unsigned>(std::min<std::uint64_t>({images, kMaxLevels, toOne}));
}

std::optional<TextureView> levelsAt(Bytes file, std::uint64_t at, Format format, std::uint32_t width,
                                    std::uint32_t height, unsigned levels) {
    TextureView view;
    view.format = format;
    view.width = width;
    view.height = height;
    for (unsigned k = 0; k < levels; ++k) {
        const std::uint64_t size = levelBytes(format, levelSide(width, k), levelSide(height, k));
        const auto level = sliceAt(file, at, size);
        if (!level) return std::nullopt;
        view.levels.push_back(*level);
        at += size;
    }
    return view;
}

bool consistent(const TextureData& data) {
    const auto info = formatInfo(static_cast<std::uint32_t>(data.format));
    if (!info || data.width == 0 || data.height == 0 || data.width > kMaxSide || data.height > kMaxSide) return false;
    if (data.levels == 0 || data.levels != storedLevels(data.width, data.height, data.levels)) return false;
    if (data.texels.size() != chainBytes(data.format, data.width, data.height, data.levels)) return false;
    if (info->maxPaletteEntries == 0) return data.palette.empty();
    return !data.palette.empty() && data.palette.size() <= info->maxPaletteEntries &&
           static_cast<std::uint32_t>(data.paletteFormat) <= static_cast<std::uint32_t>(PaletteFormat::RGB5A3);
}

bool sameShape(const TextureView& view, const TextureData& data) {
    if (view.format != data.format || view.width != data.width || view.height != data.height ||
        view.levels.size() != data.levels)
        return false;
    if (!view.palette) return data.palette.empty();
    return view.palette->format == data.paletteFormat && view.palette->entryCount == data.palette.size();
}

void overwrite(std::vector<std::uint8_t>& file, Bytes original, const TextureView& view, const TextureData& data) {
    ByteWriter out(std::move(file));
    // The view's spans lie in `original`, which `file` copies.
    const auto offsetOf = [&](Bytes part) { return static_cast<std::size_t>(part.data() - original.data()); };
    std::size_t from = 0;
    for (const Bytes level : view.levels) {
        out.bytesAt(offsetOf(level), std::span(data.texels).subspan(from, level.size()));
        from += level.size();
    }
    if (view.palette) {
        const std::size_t at = offsetOf(view.palette->words);
        for (std::size_t i = 0; i < data.palette.size(); ++i) {
            out.u8At(at + 2 * i, static_cast<std::uint8_t>(data.palette[i] >> 8));
            out.u8At(at + 2 * i + 1, static_cast<std::uint8_t>(data.palette[i]));
        }
    }
    file = out.take();
}

}  // namespace tplforge::containers
