#include "tplforge/info.h"

#include <cmath>

namespace tplforge {

namespace {

using Kind = InfoField::Kind;

InfoField number(std::string_view key, std::uint64_t value) { return {key, Kind::Number, value, 0, {}, {}}; }
InfoField text(std::string_view key, std::string value) { return {key, Kind::Text, 0, 0, std::move(value), {}}; }
InfoField null(std::string_view key) { return {key, Kind::Null, 0, 0, {}, {}}; }
template <class Enum>
InfoField code(std::string_view key, Enum value) { return number(key, static_cast<std::uint32_t>(value)); }

}  // namespace

std::vector<InfoField> tplTextureInfo(std::span<const std::uint8_t> file, const TplImageHeader& t, std::size_t index,
                                      DolphinMipmaps mipmaps) {
    const auto view = textureView(file, t);
    std::vector<InfoField> out;
    out.push_back(number("index", index));
    out.push_back(number("width", t.width));
    out.push_back(number("height", t.height));
    out.push_back(text("format", std::string(formatName(t.format))));
    out.push_back(number("code", t.format));
    out.push_back(number("offset", t.dataOffset));
    out.push_back(number("levels", levelsHeld(t)));
    out.push_back(number("palette", t.paletteHeaderOffset));
    if (view && view->palette) {
        const PaletteView& p = *view->palette;
        out.push_back(text("palette_format", std::string(paletteFormatName(static_cast<std::uint32_t>(p.format)))));
        out.push_back(code("palette_code", p.format));
        out.push_back(number("palette_entries", p.entryCount));
    }
    const Sampler& s = t.sampler;
    out.push_back(code("wrap_s", s.wrapS));
    out.push_back(code("wrap_t", s.wrapT));
    out.push_back(code("min_filter", s.minFilter));
    out.push_back(code("mag_filter", s.magFilter));
    // JSON has no number for NaN or the infinities.
    out.push_back(std::isfinite(s.lodBias) ? InfoField{"lod_bias", Kind::Float, 0, s.lodBias, {}, {}} : null("lod_bias"));
    out.push_back(number("edge_lod", s.edgeLod));
    out.push_back(number("min_lod", s.minLod));
    out.push_back(number("max_lod", t.maxLod));

    std::string note = "its levels or palette cannot be read";
    if (view) {
        const auto name = dolphinName(*view, dolphinSampling(s, static_cast<float>(t.maxLod)), mipmaps);
        if (name) {
            out.push_back(text("dolphin", name->name));
            out.push_back({"dolphin_mips", Kind::Texts, 0, 0, {}, name->levels});
            note = dolphinNote(*name);
        } else {
            note = describe(name.error());
        }
    }
    if (out.back().key != "dolphin_mips") out.push_back(null("dolphin"));
    if (!note.empty()) out.push_back(text("dolphin_note", note));
    if (!view) out.push_back(text("problem", describe(view.error())));
    return out;
}

}  // namespace tplforge
