// BTI textures. Reads: standalone .bti files (one 32-byte header, offsets from
// it, the levels as in a TPL, the palette where its count and format say) and
// the headers of a J3D model's TEX1 section, found by walking the sections by
// size. Writes: standalone files; J3D images replaced in place.
#include <cmath>
#include <cstring>

#include "tplforge/bytes.h"
#include "codec/containers/bti.h"
#include "tplforge/texture.h"

namespace tplforge::containers {

namespace {

constexpr std::uint32_t kBtiMaxSide = 1024;  // the console's texture unit

Sampler samplerOf(const BtiHeader& h) {
    Sampler s;
    s.wrapS = static_cast<WrapMode>(h.wrapS);
    s.wrapT = static_cast<WrapMode>(h.wrapT);
    s.minFilter = static_cast<TextureFilter>(h.minFilter);
    s.magFilter = static_cast<TextureFilter>(h.magFilter);
    s.lodBias = static_cast<float>(h.lodBias) / 100.0f;
    s.edgeLod = h.edgeLod;
    s.minLod = static_cast<std::uint8_t>(h.minLod > 0 ? h.minLod / 8 : 0);
    return s;
}

// The texture a header describes, its offsets counted from `headerAt`.
Expected<TextureEntry, ContainerError> viewOf(Bytes file, std::size_t headerAt, const BtiHeader& h,
                                              std::uint32_t number) {
    const auto info = formatInfo(h.format);
    if (!info) return fail(error(ContainerFault::BadFormat, number));
    if (h.width == 0 || h.height == 0 || h.width > kBtiMaxSide || h.height > kBtiMaxSide)
        return fail(error(ContainerFault::BadSize, number));
    if (h.images == 0 || h.images > kMaxLevels) return fail(error(ContainerFault::BadLevels, number));
    const unsigned levels = storedLevels(h.width, h.height, h.images);
    auto view = levelsAt(file, std::uint64_t{headerAt} + h.dataOffset, info->format, h.width, h.height, levels);
    if (!view) return fail(error(ContainerFault::DataPastEnd, number));
    if (info->maxPaletteEntries > 0) {
        if (h.paletteFormat > 2 || h.paletteCount == 0 || h.paletteCount > info->maxPaletteEntries)
            return fail(error(ContainerFault::BadPalette, number));
        const auto words = sliceAt(file, std::uint64_t{headerAt} + h.paletteOffset, 2u * h.paletteCount);
        if (!words) return fail(error(ContainerFault::PalettePastEnd, number));
        view->palette = PaletteView{static_cast<PaletteFormat>(h.paletteFormat), h.paletteCount, *words};
    }
    TextureEntry entry{std::to_string(number), {}, std::move(view).value(), samplerOf(h)};
    return entry;
}

void putHeader(ByteWriter& out, const BtiHeader& h) {
    out.u8(h.format);
    out.u8(h.alpha);
    out.u16be(h.width);
    out.u16be(h.height);
    out.u8(h.wrapS);
    out.u8(h.wrapT);
    out.u8(h.paletteFlag);
    out.u8(h.paletteFormat);
    out.u16be(h.paletteCount);
    out.u32be(h.paletteOffset);
    out.u8(h.mipmaps);
    out.u8(h.edgeLod);
    out.u8(h.biasClamp);
    out.u8(h.maxAnisotropy);
    out.u8(h.minFilter);
    out.u8(h.magFilter);
    out.u8(static_cast<std::uint8_t>(h.minLod));
    out.u8(static_cast<std::uint8_t>(h.maxLod));
    out.u8(h.images);
    out.u8(h.unused);
    out.u16be(static_cast<std::uint16_t>(h.lodBias));
    out.u32be(h.dataOffset);
}

// `h` with the fields that describe `data`, laid out standalone: levels at 0x20,
// the palette right after them.
std::vector<std::uint8_t> standalone(BtiHeader h, const TextureData& data) {
    h.format = static_cast<std::uint8_t>(data.format);
    h.width = static_cast<std::uint16_t>(data.width);
    h.height = static_cast<std::uint16_t>(data.height);
    h.images = static_cast<std::uint8_t>(data.levels);
    h.mipmaps = data.levels > 1 ? 1 : 0;
    h.maxLod = static_cast<std::int8_t>((data.levels - 1) * 8);
    h.dataOffset = kBtiHeader;
    const bool palette = !data.palette.empty();
    h.paletteFlag = palette ? 1 : 0;
    h.paletteFormat = palette ? static_cast<std::uint8_t>(data.paletteFormat) : 0;
    h.paletteCount = static_cast<std::uint16_t>(data.palette.size());
    h.paletteOffset = palette ? static_cast<std::uint32_t>(kBtiHeader + data.texels.size()) : 0;
    ByteWriter out(kBtiHeader + data.texels.size() + 2 * data.palette.size());
    putHeader(out, h);
    out.append(data.texels);
    for (const std::uint16_t entry : data.palette) out.u16be(entry);
    return out.take();
}

// A standalone file has no magic: the checks that tell it by content are the
// ones that refuse it, so that a .bti not taken for one is refused with a reason.
Expected<TextureEntry, ContainerError> standaloneView(Bytes file) {
    const auto h = readBtiHeader(file, 0);
    if (!h) return fail(error(ContainerFault::TooShort));
    auto entry = viewOf(file, 0, *h, 1);
    if (!entry) {
        ContainerError e = entry.error();
        e.item = 0;  // its one texture goes without a number
        return fail(std::move(e));
    }
    if (h->dataOffset < kBtiHeader) return fail(error(ContainerFault::DataInHeader));
    if (h->wrapS > 2 || h->wrapT > 2 || h->minFilter > 5 || h->magFilter > 5) return fail(error(ContainerFault::BadSampler));
    return entry;
}

}  // namespace

std::optional<BtiHeader> readBtiHeader(Bytes file, std::size_t at) {
    const auto bytes = sliceAt(file, at, kBtiHeader);
    if (!bytes) return std::nullopt;
    ByteReader r(*bytes);
    BtiHeader h;
    h.format = *r.u8();
    h.alpha = *r.u8();
    h.width = *r.u16be();
    h.height = *r.u16be();
    h.wrapS = *r.u8();
    h.wrapT = *r.u8();
    h.paletteFlag = *r.u8();
    h.paletteFormat = *r.u8();
    h.paletteCount = *r.u16be();
    h.paletteOffset = *r.u32be();
    h.mipmaps = *r.u8();
    h.edgeLod = *r.u8();
    h.biasClamp = *r.u8();
    h.maxAnisotropy = *r.u8();
    h.minFilter = *r.u8();
    h.magFilter = *r.u8();
    h.minLod = static_cast<std::int8_t>(*r.u8());
    h.maxLod = static_cast<std::int8_t>(*r.u8());
    h.images = *r.u8();
    h.unused = *r.u8();
    h.lodBias = static_cast<std::int16_t>(*r.u16be());
    h.dataOffset = *r.u32be();
    return h;
}

bool looksLikeBti(Bytes file) { return standaloneView(file).ok(); }

Expected<std::vector<TextureEntry>, ContainerError> btiTextures(Bytes file) {
    auto entry = standaloneView(file);
    if (!entry) return fail(entry.error());
    std::vector<TextureEntry> out;
    out.push_back(std::move(entry).value());
    return out;
}

Expected<std::vector<std::uint8_t>, ContainerError> replaceBti(Bytes file, const TextureData& data) {
    const auto textures = btiTextures(file);
    if (!textures) return fail(textures.error());
    const TextureView& view = textures->front().view;
    if (sameShape(view, data) && consistent(data)) {
        std::vector<std::uint8_t> out(file.begin(), file.end());
        overwrite(out, file, view, data);
        return out;
    }
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (data.width > kBtiMaxSide || data.height > kBtiMaxSide) return fail(error(ContainerFault::TooLarge));
    return standalone(*readBtiHeader(file, 0), data);
}

namespace {

struct Tex1 {
    std::size_t headers = 0;  // absolute
    std::uint16_t count = 0;
    std::vector<std::string> names;
};

Expected<Tex1, ContainerError> findTex1(Bytes file) {
    ByteReader h(file);
    if (!h.has(0x20)) return fail(error(ContainerFault::TooShort));
    h.seek(12);
    const std::uint32_t sections = *h.u32be();
    std::uint64_t at = 0x20;
    for (std::uint32_t k = 0; k < sections; ++k) {
        const auto head = sliceAt(file, at, 8);
        if (!head) return fail(error(ContainerFault::J3dSectionPastEnd, k + 1));
        ByteReader s(*head);
        s.skip(4);
        const std::uint32_t size = *s.u32be();
        if (size < 8 || at + size > file.size()) return fail(error(ContainerFault::J3dSectionPastEnd, k + 1));
        if (std::memcmp(head->data(), "TEX1", 4) != 0) {
            at += size;
            continue;
        }
        const auto section = file.subspan(static_cast<std::size_t>(at), size);
        ByteReader t(section);
        if (!t.has(0x14)) return fail(error(ContainerFault::J3dHeadersPastEnd));
        t.skip(8);
        Tex1 out;
        out.count = *t.u16be();
        t.skip(2);
        const std::uint32_t headers = *t.u32be();
        const std::uint32_t names = *t.u32be();
        if (!sliceAt(section, headers, std::uint64_t{out.count} * kBtiHeader))
            return fail(error(ContainerFault::J3dHeadersPastEnd));
        out.headers = static_cast<std::size_t>(at + headers);
        // Names are for showing only: a table that does not read leaves them out.
        ByteReader n(section);
        if (n.seek(names) && n.has(4) && *n.u16be() == out.count) {
            n.skip(2);
            for (std::uint16_t i = 0; i < out.count && n.has(4); ++i) {
                n.skip(2);
                const std::uint64_t nameAt = std::uint64_t{names} + *n.u16be();
                std::string name;
                for (std::uint64_t c = nameAt; c < section.size() && section[c] != 0 && name.size() < kMaxPath; ++c)
                    name += static_cast<char>(section[c]);
                out.names.push_back(std::move(name));
            }
        }
        return out;
    }
    return fail(error(ContainerFault::J3dNoTextures));
}

}  // namespace

Expected<std::vector<TextureEntry>, ContainerError> j3dTextures(Bytes file) {
    const auto tex1 = findTex1(file);
    if (!tex1) return fail(tex1.error());
    std::vector<TextureEntry> out;
    for (std::uint16_t i = 0; i < tex1->count; ++i) {
        const std::size_t at = tex1->headers + kBtiHeader * i;
        auto entry = viewOf(file, at, *readBtiHeader(file, at), i + 1u);
        if (!entry) return fail(entry.error());
        if (i < tex1->names.size()) entry->storedName = tex1->names[i];
        out.push_back(std::move(entry).value());
    }
    return out;
}

Expected<std::vector<std::uint8_t>, ContainerError> replaceJ3d(Bytes file, std::uint32_t number,
                                                               const TextureData& data) {
    const auto textures = j3dTextures(file);
    if (!textures) return fail(textures.error());
    if (number == 0 || number > textures->size()) return fail(error(ContainerFault::NoSuchTexture, number));
    const TextureView& view = (*textures)[number - 1].view;
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (!sameShape(view, data)) return fail(error(ContainerFault::ShapeMustStay, number));
    std::vector<std::uint8_t> out(file.begin(), file.end());
    overwrite(out, file, view, data);
    return out;
}

Expected<std::vector<std::uint8_t>, ContainerError> writeBtiFile(const TextureData& data, const BtiSettings& settings) {
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (data.width > kBtiMaxSide || data.height > kBtiMaxSide) return fail(error(ContainerFault::TooLarge));
    const Sampler& s = settings.sampler;
    BtiHeader h;
    h.alpha = static_cast<std::uint8_t>(settings.alpha ? *settings.alpha : btiAlphaOf(data));
    h.wrapS = static_cast<std::uint8_t>(s.wrapS);
    h.wrapT = static_cast<std::uint8_t>(s.wrapT);
    h.edgeLod = s.edgeLod;
    h.minFilter = static_cast<std::uint8_t>(s.minFilter);
    h.magFilter = static_cast<std::uint8_t>(s.magFilter);
    h.minLod = static_cast<std::int8_t>(std::min(15, int{s.minLod}) * 8);
    h.lodBias = static_cast<std::int16_t>(std::lround(std::clamp(s.lodBias * 100.0f, -32768.0f, 32767.0f)));
    return standalone(h, data);
}

}  // namespace tplforge::containers
