// The texture containers behind one interface: listing, replacing and writing,
// each kind in its own file.
#include <charconv>

#include "codec/containers/banners.h"
#include "codec/containers/brres.h"
#include "codec/containers/bti.h"
#include "tplforge/texture.h"

namespace tplforge {

using namespace containers;

namespace {

// Lines that say what the file is already, and files of no kind or TPL files,
// whose lines stay as the TPL reader words them.
bool namesItsKind(const ContainerError& e) {
    switch (e.kind) {
        case FileKind::Unknown:
        case FileKind::Tpl: return true;
        case FileKind::J3d:
            return e.fault == ContainerFault::J3dSectionPastEnd || e.fault == ContainerFault::J3dNoTextures ||
                   e.fault == ContainerFault::J3dHeadersPastEnd;
        case FileKind::Brres:
            return e.fault == ContainerFault::BrresNoRoot || e.fault == ContainerFault::BrresGroupPastEnd ||
                   e.fault == ContainerFault::BrresEntryOutside || e.fault == ContainerFault::BrresNamePastEnd;
        case FileKind::Tex0:
        case FileKind::Plt0: return e.fault == ContainerFault::BadSubfile || e.fault == ContainerFault::MissingPalette;
        default: return false;
    }
}

Expected<std::vector<TextureEntry>, ContainerError> tplTextures(Bytes file) {
    const auto info = parseTpl(file);
    if (!info) return fail(ContainerError{ContainerFault::Tpl, 0, {}, info.error()});
    std::vector<TextureEntry> out;
    for (std::size_t k = 0; k < info->images.size(); ++k) {
        const TplImageHeader& image = info->images[k];
        auto view = textureView(file, image);
        if (!view) return fail(ContainerError{ContainerFault::Tpl, static_cast<std::uint32_t>(k + 1), {}, view.error()});
        const Sampler s = image.sampler;
        out.push_back({std::to_string(k + 1), {}, std::move(view).value(), s});
    }
    return out;
}

std::optional<std::uint32_t> number(std::string_view name) {
    std::uint32_t n = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
    if (ec != std::errc{} || end != name.data() + name.size()) return std::nullopt;
    return n;
}

}  // namespace

std::string describe(const ContainerError& e) {
    std::string text;
    switch (e.fault) {
        case ContainerFault::TooShort: text = "file is shorter than its header"; break;
        case ContainerFault::WrongSize:
            text = "banner is of a size its kind never has (save banners: 24736 bytes or more, GameCube: 6496 or 8096)";
            break;
        case ContainerFault::Tpl: text = std::string(describe(e.tpl)); break;
        case ContainerFault::BadFormat: text = "unknown texel format code"; break;
        case ContainerFault::BadSize: text = "width or height is 0 or larger than 1024"; break;
        case ContainerFault::BadLevels: text = "image count is 0 or more than 11"; break;
        case ContainerFault::DataPastEnd: text = "texture data runs past the end of the file"; break;
        case ContainerFault::BadPalette: text = "palette has an unknown entry format, no entries or too many"; break;
        case ContainerFault::PalettePastEnd: text = "palette entries run past the end of the file"; break;
        case ContainerFault::MissingPalette: text = "TEX0 of a palette format has no PLT0 of its name"; break;
        case ContainerFault::J3dSectionPastEnd: text = "J3D section " + std::to_string(e.item) + " runs past the end"; break;
        case ContainerFault::J3dNoTextures: text = "J3D model has no TEX1 section"; break;
        case ContainerFault::J3dHeadersPastEnd: text = "J3D TEX1 headers run past the end of the section"; break;
        case ContainerFault::BrresNoRoot: text = "BRRES has no root section where its header says"; break;
        case ContainerFault::BrresGroupPastEnd: text = "BRRES index group runs past the end"; break;
        case ContainerFault::BrresEntryOutside:
            text = "BRRES group entry " + std::to_string(e.item) + " points outside the file or its section";
            break;
        case ContainerFault::BrresNamePastEnd: text = "BRRES name lies outside the name table or is too long"; break;
        case ContainerFault::BadSubfile: text = "TEX0 or PLT0 runs past the end or is of a version not read"; break;
        case ContainerFault::NoSuchTexture: return "no texture " + (e.name.empty() ? std::to_string(e.item) : e.name);
        case ContainerFault::ShapeMustStay:
            text = "this file takes a texture of the same format, size, levels and palette size only";
            break;
        case ContainerFault::BadTextureData: text = "texture bytes do not match their format, size and levels"; break;
        case ContainerFault::NotReplaceable: text = "textures of this kind of file are not replaced here"; break;
        case ContainerFault::TooLarge: text = "texture or file too large for this kind of file"; break;
        case ContainerFault::CannotRewrite: text = "the file's names lie over its textures, so it cannot be written with this one changed"; break;
        case ContainerFault::BadSampler: text = "unknown wrap or filter code"; break;
        case ContainerFault::DataInHeader: text = "texture data starts inside the header"; break;
    }
    const bool numbered = e.fault == ContainerFault::Tpl || e.fault == ContainerFault::BadFormat || e.fault == ContainerFault::BadSize ||
                          e.fault == ContainerFault::BadLevels || e.fault == ContainerFault::DataPastEnd ||
                          e.fault == ContainerFault::BadPalette || e.fault == ContainerFault::PalettePastEnd ||
                          e.fault == ContainerFault::ShapeMustStay;
    if (!e.name.empty()) text = e.name + ": " + text;
    else if (numbered && e.item > 0) text = "texture " + std::to_string(e.item) + ": " + text;
    return namesItsKind(e) ? text : std::string(kindName(e.kind)) + ": " + text;
}

Expected<std::vector<TextureEntry>, ContainerError> readTextures(std::span<const std::uint8_t> file, FileKind kind,
                                                                 std::span<const std::uint8_t> palette) {
    auto read = [&]() -> Expected<std::vector<TextureEntry>, ContainerError> {
        switch (kind) {
            case FileKind::Tpl: return tplTextures(file);
            case FileKind::Bti: return btiTextures(file);
            case FileKind::J3d: return j3dTextures(file);
            case FileKind::Brres: return brresTextures(file);
            case FileKind::Tex0: return tex0Textures(file, palette);
            case FileKind::Wibn:
            case FileKind::Bnr: return bannerTextures(file, kind);
            default: break;
        }
        return fail(error(ContainerFault::NotReplaceable));
    }();
    if (read) return read;
    ContainerError e = read.error();
    e.kind = kind;
    return fail(std::move(e));
}

TextureData storedData(const TextureView& view) {
    TextureData data;
    data.format = view.format;
    data.width = view.width;
    data.height = view.height;
    data.levels = static_cast<unsigned>(view.levels.size());
    for (const auto level : view.levels) data.texels.insert(data.texels.end(), level.begin(), level.end());
    if (view.palette) {
        data.paletteFormat = view.palette->format;
        for (std::uint32_t i = 0; i < view.palette->entryCount; ++i)
            data.palette.push_back(static_cast<std::uint16_t>(view.palette->words[2 * i] << 8 | view.palette->words[2 * i + 1]));
    }
    return data;
}

Expected<std::vector<std::uint8_t>, ContainerError> replaceTexture(std::span<const std::uint8_t> file, FileKind kind,
                                                                   std::string_view name, const TextureData& data) {
    const auto n = number(name);
    switch (kind) {
        case FileKind::Bti:
            if (n != 1u) return fail(error(ContainerFault::NoSuchTexture, 0, std::string(name)));
            return replaceBti(file, data);
        case FileKind::J3d:
            if (!n) return fail(error(ContainerFault::NoSuchTexture, 0, std::string(name)));
            return replaceJ3d(file, *n, data);
        case FileKind::Wibn:
        case FileKind::Bnr:
            if (!n) return fail(error(ContainerFault::NoSuchTexture, 0, std::string(name)));
            return replaceBanner(file, kind, *n, data);
        case FileKind::Brres: return replaceBrres(file, name, data);
        case FileKind::Tex0: return replaceTex0(file, data);
        default: break;
    }
    return fail(error(ContainerFault::NotReplaceable));
}

BtiAlpha btiAlphaOf(const TextureData& data) {
    if (!consistent(data)) return BtiAlpha::Opaque;
    std::vector<std::uint8_t> words;
    for (const std::uint16_t w : data.palette) {
        words.push_back(static_cast<std::uint8_t>(w >> 8));
        words.push_back(static_cast<std::uint8_t>(w));
    }
    const PaletteView palette{data.paletteFormat, static_cast<std::uint32_t>(data.palette.size()), words};
    Image level(data.width, data.height);
    const auto size = static_cast<std::size_t>(levelBytes(data.format, data.width, data.height));
    if (!decodeTexels(data.format, std::span(data.texels).first(size), data.width, data.height,
                      data.palette.empty() ? nullptr : &palette, level.rgba))
        return BtiAlpha::Opaque;
    bool partial = false;
    bool cut = false;
    for (std::size_t i = 3; i < level.rgba.size(); i += 4) {
        if (level.rgba[i] == 0) cut = true;
        else if (level.rgba[i] != 255) partial = true;
    }
    return partial ? BtiAlpha::Translucent : cut ? BtiAlpha::CutOut : BtiAlpha::Opaque;
}

Expected<std::vector<std::uint8_t>, ContainerError> writeBti(const TextureData& data, const BtiSettings& settings) {
    return writeBtiFile(data, settings);
}

Expected<Tex0Files, ContainerError> writeTex0(const TextureData& data, std::string_view name) {
    return writeTex0Files(data, name);
}

Expected<std::vector<std::uint8_t>, ContainerError> writeBrres(std::span<const NamedTexture> textures) {
    NewFolder texels{kTextures, {}};
    NewFolder palettes{kPalettes, {}};
    for (const NamedTexture& t : textures) {
        if (!t.data || !consistent(*t.data)) return fail(error(ContainerFault::BadTextureData, 0, t.name));
        if (t.data->width > 1024 || t.data->height > 1024) return fail(error(ContainerFault::TooLarge, 0, t.name));
        texels.entries.push_back({t.name, tex0Subfile(*t.data, 3)});
        if (!t.data->palette.empty()) palettes.entries.push_back({t.name, plt0Subfile(*t.data, 3)});
    }
    std::vector<NewFolder> folders{std::move(texels)};
    if (!palettes.entries.empty()) folders.push_back(std::move(palettes));
    return layOutBrres(folders);
}

}  // namespace tplforge
