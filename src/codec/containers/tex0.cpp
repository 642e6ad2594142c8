// TEX0 and PLT0 subfiles. Reads: TEX0 versions 1 and 3 (one layout) and 2 (an
// extra section offset), PLT0 versions 1 and 3, inside a BRRES or on their own
// (BRRES offset 0, the name after the subfile). Writes: version 3 (a version 1
// file replaced keeps 1), on their own or for a BRRES.
#include <bit>
#include <cstring>

#include "tplforge/bytes.h"
#include "codec/containers/brres.h"

namespace tplforge::containers {

namespace {

constexpr std::uint32_t kMaxSideHere = 1024;  // the console's texture unit

std::optional<Bytes> subfileAt(Bytes file, std::uint64_t at, const char* magic) {
    const auto head = sliceAt(file, at, kSubfileHeader);
    if (!head || std::memcmp(head->data(), magic, 4) != 0) return std::nullopt;
    ByteReader r(*head);
    r.skip(4);
    const std::uint32_t size = *r.u32be();
    if (size < kSubfileHeader) return std::nullopt;
    return sliceAt(file, at, size);
}

void appendName(ByteWriter& out, std::string_view name) {
    out.u32be(static_cast<std::uint32_t>(name.size()));
    for (char c : name) out.u8(static_cast<std::uint8_t>(c));
    out.u8(0);
    out.alignTo(4);
}

// A subfile on its own: BRRES offset 0, the name after it.
std::vector<std::uint8_t> standalone(std::vector<std::uint8_t> subfile, std::string_view name) {
    const std::size_t field = nameField(subfile);
    ByteWriter out(std::move(subfile));
    out.alignTo(4);
    const std::size_t nameChars = out.size() + 4;
    appendName(out, name);
    out.u32beAt(field, static_cast<std::uint32_t>(nameChars));
    return out.take();
}

}  // namespace

std::optional<std::string> brresName(Bytes file, std::uint64_t at) {
    if (at < 4) return std::nullopt;
    ByteReader r(file);
    if (!r.seek(static_cast<std::size_t>(at - 4))) return std::nullopt;
    const auto length = r.u32be();
    const auto chars = length && *length <= kMaxPath ? r.bytes(*length) : std::nullopt;
    if (!chars) return std::nullopt;
    return std::string(chars->begin(), chars->end());
}

std::optional<Tex0Header> readTex0(Bytes file, std::uint64_t at) {
    const auto bytes = subfileAt(file, at, "TEX0");
    if (!bytes) return std::nullopt;
    ByteReader r(*bytes);
    Tex0Header h;
    r.skip(4);
    h.size = *r.u32be();
    h.version = *r.u32be();
    if (h.version < 1 || h.version > 3) return std::nullopt;
    h.shift = h.version == 2 ? 4 : 0;
    r.seek(0x10 + h.shift);
    h.dataOffset = *r.u32be();
    h.nameOffset = *r.u32be();
    r.skip(4);  // palette flag: the format says it
    h.width = *r.u16be();
    h.height = *r.u16be();
    h.format = *r.u32be();
    h.images = *r.u32be();
    return h;
}

std::optional<Plt0Header> readPlt0(Bytes file, std::uint64_t at) {
    const auto bytes = subfileAt(file, at, "PLT0");
    if (!bytes) return std::nullopt;
    ByteReader r(*bytes);
    Plt0Header h;
    r.skip(4);
    h.size = *r.u32be();
    h.version = *r.u32be();
    r.skip(4);
    h.dataOffset = *r.u32be();
    h.nameOffset = *r.u32be();
    h.format = *r.u32be();
    h.count = *r.u16be();
    return h;
}

Expected<TextureView, ContainerError> tex0View(Bytes file, std::uint64_t at, const Tex0Header& h, Bytes paletteFile,
                                               std::optional<std::uint64_t> paletteAt, const std::string& name) {
    const auto info = formatInfo(h.format);
    if (!info) return fail(error(ContainerFault::BadFormat, 0, name));
    if (h.width == 0 || h.height == 0 || h.width > kMaxSideHere || h.height > kMaxSideHere)
        return fail(error(ContainerFault::BadSize, 0, name));
    if (h.images == 0 || h.images > kMaxLevels) return fail(error(ContainerFault::BadLevels, 0, name));
    const unsigned levels = storedLevels(h.width, h.height, h.images);
    if (std::uint64_t{h.dataOffset} + chainBytes(info->format, h.width, h.height, levels) > h.size)
        return fail(error(ContainerFault::DataPastEnd, 0, name));
    auto view = levelsAt(file, at + h.dataOffset, info->format, h.width, h.height, levels);
    if (!view) return fail(error(ContainerFault::DataPastEnd, 0, name));
    if (info->maxPaletteEntries == 0) return std::move(view).value();

    const auto plt = paletteAt ? readPlt0(paletteFile, *paletteAt) : std::nullopt;
    if (!paletteAt) return fail(error(ContainerFault::MissingPalette, 0, name));
    if (!plt) return fail(error(ContainerFault::BadSubfile, 0, name));
    if (plt->format > 2 || plt->count == 0 || plt->count > info->maxPaletteEntries)
        return fail(error(ContainerFault::BadPalette, 0, name));
    if (std::uint64_t{plt->dataOffset} + 2u * plt->count > plt->size)
        return fail(error(ContainerFault::PalettePastEnd, 0, name));
    const auto words = sliceAt(paletteFile, *paletteAt + plt->dataOffset, 2u * plt->count);
    view->palette = PaletteView{static_cast<PaletteFormat>(plt->format), plt->count, *words};
    return std::move(view).value();
}

std::size_t nameField(Bytes subfile) {
    ByteReader r(subfile);
    r.skip(8);
    const bool tex0v2 = std::memcmp(subfile.data(), "TEX0", 4) == 0 && r.u32be().value_or(0) == 2;
    return tex0v2 ? 0x18 : 0x14;
}

std::vector<std::uint8_t> tex0Subfile(const TextureData& data, std::uint32_t version) {
    ByteWriter out(kSubfileHeader + data.texels.size());
    out.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("TEX0"), 4));
    out.u32be(static_cast<std::uint32_t>(kSubfileHeader + data.texels.size()));
    out.u32be(version);
    out.u32be(0);  // BRRES offset
    out.u32be(kSubfileHeader);
    out.u32be(0);  // name offset
    out.u32be(data.palette.empty() ? 0 : 1);
    out.u16be(static_cast<std::uint16_t>(data.width));
    out.u16be(static_cast<std::uint16_t>(data.height));
    out.u32be(static_cast<std::uint32_t>(data.format));
    out.u32be(data.levels);
    out.u32be(std::bit_cast<std::uint32_t>(0.0f));
    out.u32be(std::bit_cast<std::uint32_t>(static_cast<float>(data.levels - 1)));
    out.zeros(kSubfileHeader - out.size());
    out.append(data.texels);
    return out.take();
}

std::vector<std::uint8_t> plt0Subfile(const TextureData& data, std::uint32_t version) {
    ByteWriter out(kSubfileHeader + 2 * data.palette.size());
    out.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("PLT0"), 4));
    out.u32be(static_cast<std::uint32_t>(kSubfileHeader + 2 * data.palette.size()));
    out.u32be(version);
    out.u32be(0);  // BRRES offset
    out.u32be(kSubfileHeader);
    out.u32be(0);  // name offset
    out.u32be(static_cast<std::uint32_t>(data.paletteFormat));
    out.u16be(static_cast<std::uint16_t>(data.palette.size()));
    out.zeros(kSubfileHeader - out.size());
    for (const std::uint16_t entry : data.palette) out.u16be(entry);
    return out.take();
}

Expected<std::vector<TextureEntry>, ContainerError> tex0Textures(Bytes file, Bytes palette) {
    const auto h = readTex0(file, 0);
    if (!h) return fail(error(ContainerFault::BadSubfile));
    const auto name = brresName(file, h->nameOffset);
    if (!name) return fail(error(ContainerFault::BrresNamePastEnd));
    const bool paletted = formatInfo(h->format) && formatInfo(h->format)->maxPaletteEntries > 0;
    auto view = tex0View(file, 0, *h, palette, paletted && !palette.empty() ? std::optional<std::uint64_t>(0) : std::nullopt,
                         *name);
    if (!view) return fail(view.error());
    std::vector<TextureEntry> out;
    out.push_back({*name, {}, std::move(view).value(), std::nullopt});
    return out;
}

Expected<std::vector<std::uint8_t>, ContainerError> replaceTex0(Bytes file, const TextureData& data) {
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (data.width > kMaxSideHere || data.height > kMaxSideHere) return fail(error(ContainerFault::TooLarge));
    const auto h = readTex0(file, 0);
    if (!h) return fail(error(ContainerFault::BadSubfile));
    const auto name = brresName(file, h->nameOffset);
    if (!name) return fail(error(ContainerFault::BrresNamePastEnd));
    // The palette lives in another file: only the texels are looked at here.
    if (h->format == static_cast<std::uint32_t>(data.format) && h->width == data.width && h->height == data.height &&
        storedLevels(h->width, h->height, h->images) == data.levels &&
        std::uint64_t{h->dataOffset} + data.texels.size() <= h->size) {
        ByteWriter out(std::vector<std::uint8_t>(file.begin(), file.end()));
        out.bytesAt(h->dataOffset, data.texels);
        if (!out.ok()) return fail(error(ContainerFault::TooLarge));
        return out.take();
    }
    return standalone(tex0Subfile(data, h->version == 1 ? 1 : 3), *name);
}

Expected<Tex0Files, ContainerError> writeTex0Files(const TextureData& data, std::string_view name) {
    if (!consistent(data)) return fail(error(ContainerFault::BadTextureData));
    if (data.width > kMaxSideHere || data.height > kMaxSideHere) return fail(error(ContainerFault::TooLarge));
    Tex0Files out;
    out.tex0 = standalone(tex0Subfile(data, 3), name);
    if (!data.palette.empty()) out.plt0 = standalone(plt0Subfile(data, 3), name);
    return out;
}

}  // namespace tplforge::containers
