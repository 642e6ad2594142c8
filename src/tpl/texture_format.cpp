#include "tpl/texture_format.h"

namespace tplforge {

std::optional<FormatInfo> formatInfo(std::uint32_t code) {
    switch (static_cast<TextureFormat>(code)) {
        case TextureFormat::I4: return FormatInfo{"I4", 8, 8, 32};
        case TextureFormat::I8: return FormatInfo{"I8", 8, 4, 32};
        case TextureFormat::IA4: return FormatInfo{"IA4", 8, 4, 32};
        case TextureFormat::IA8: return FormatInfo{"IA8", 4, 4, 32};
        case TextureFormat::RGB565: return FormatInfo{"RGB565", 4, 4, 32};
        case TextureFormat::RGB5A3: return FormatInfo{"RGB5A3", 4, 4, 32};
        case TextureFormat::RGBA8: return FormatInfo{"RGBA8", 4, 4, 64};
        case TextureFormat::C4: return FormatInfo{"C4", 8, 8, 32};
        case TextureFormat::C8: return FormatInfo{"C8", 8, 4, 32};
        case TextureFormat::C14X2: return FormatInfo{"C14X2", 4, 4, 32};
        case TextureFormat::CMPR: return FormatInfo{"CMPR", 8, 8, 32};
    }
    return std::nullopt;
}

std::uint64_t textureDataSize(std::uint32_t code, std::uint32_t width, std::uint32_t height) {
    const FormatInfo info = formatInfo(code).value_or(FormatInfo{"", 8, 8, 32});
    const std::uint64_t across = (std::uint64_t{width} + info.blockWidth - 1) / info.blockWidth;
    const std::uint64_t down = (std::uint64_t{height} + info.blockHeight - 1) / info.blockHeight;
    return across * down * static_cast<std::uint64_t>(info.blockBytes);
}

std::string_view formatName(std::uint32_t code) {
    if (auto info = formatInfo(code)) return info->name;
    return "unknown";
}

}  // namespace tplforge
