#include "tplforge/tpl_edit.h"

#include <algorithm>
#include <bit>
#include <unordered_map>

#include "codec/gx/quantize.h"
#include "codec/gx/texel.h"
#include "tplforge/bytes.h"

namespace tplforge {

std::string describe(TplEditError error) {
    switch (error) {
        case TplEditError::BadSource: return "the file is not a TPL file that can be read";
        case TplEditError::NoSuchTexture: return "the file has no such texture";
        case TplEditError::ReplacedTwice: return "a texture is replaced twice";
        case TplEditError::BadTextureData: return "texels or palette do not match the texture's format, size and levels";
        case TplEditError::BadMaxLod: return "the max LOD gives other mipmap levels than the texture holds";
        case TplEditError::UnreadableTexture: return "a texture kept from the file cannot be read";
        case TplEditError::TooLarge: return "the textures do not fit in a TPL file";
    }
    return "unknown error";
}

Expected<TextureData, TplError> storedTexture(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    auto view = textureView(file, image);
    if (!view) return fail(view.error());
    TextureData data;
    data.format = view->format;
    data.width = view->width;
    data.height = view->height;
    data.levels = static_cast<unsigned>(view->levels.size());
    // The levels lie back to back in the file, so they are one run of bytes.
    std::size_t total = 0;
    for (const auto& level : view->levels) total += level.size();
    const auto chain = file.subspan(image.dataOffset, total);
    data.texels.assign(chain.begin(), chain.end());
    if (view->palette) {
        data.paletteFormat = view->palette->format;
        ByteReader words(view->palette->words);
        data.palette.reserve(view->palette->entryCount);
        while (const auto word = words.u16be()) data.palette.push_back(*word);
    }
    return data;
}

TextureSettings settingsOf(const TplImageHeader& image, std::span<const std::uint8_t> file) {
    TextureSettings s;
    s.sampler = image.sampler;
    s.maxLod = image.maxLod;
    s.unpacked = image.unpacked;
    if (image.paletteHeaderOffset != 0) {
        ByteReader header(file);
        if (header.seek(image.paletteHeaderOffset) && header.skip(2) && header.has(2)) {
            s.paletteUnpacked = *header.u8();
            s.palettePadding = *header.u8();
        }
    }
    return s;
}

// --- Encoding ---------------------------------------------------------------------

namespace {

bool pictureFits(const Image& picture) {
    return !picture.empty() && picture.rgba.size() == std::size_t{picture.width} * picture.height * 4;
}

std::uint32_t pixelAt(const Image& picture, std::size_t i) {
    const auto p = std::span(picture.rgba).subspan(4 * i, 4);
    return texel::packed({p[0], p[1], p[2], p[3]});
}

// Whether the pictures hold more distinct entry words than `limit`.
bool moreColoursThan(std::span<const Image* const> pictures, PaletteFormat format, std::size_t limit) {
    std::vector<bool> seen(65536);
    std::size_t distinct = 0;
    for (const Image* picture : pictures) {
        const std::size_t pixels = std::size_t{picture->width} * picture->height;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint16_t word = texel::encodeEntry(format, texel::unpacked(pixelAt(*picture, i)));
            if (seen[word]) continue;
            seen[word] = true;
            if (++distinct > limit) return true;
        }
    }
    return false;
}

// Indices of every pixel into the palette by exact colour, or nothing when a
// pixel has a colour no entry shows.
bool indicesByColour(const Image& picture, const std::unordered_map<std::uint32_t, std::uint16_t>& entryOf,
                     std::vector<std::uint16_t>& indices) {
    const std::size_t pixels = std::size_t{picture.width} * picture.height;
    indices.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const auto found = entryOf.find(pixelAt(picture, i));
        if (found == entryOf.end()) return false;
        indices[i] = found->second;
    }
    return true;
}

struct Levels {
    std::vector<const Image*> pictures;  // every level, given or made
    std::vector<bool> given;
    std::vector<Image> made;
};

Levels levelsOf(std::span<const Image* const> pictures, unsigned count) {
    Levels out;
    out.made.reserve(count);  // the pointers into it stay put
    for (unsigned l = 0; l < count; ++l) {
        const Image* given = l < pictures.size() ? pictures[l] : nullptr;
        out.given.push_back(given != nullptr);
        out.pictures.push_back(given ? given : &out.made.emplace_back(halveImage(*out.pictures.back())));
    }
    return out;
}

}  // namespace

Expected<EditedTexture, CodecError> encodeEdited(std::span<const Image* const> pictures, const EditSettings& settings) {
    const EncodeOptions& options = settings.encode;
    if (pictures.empty() || !pictures[0] || !pictureFits(*pictures[0])) return fail(CodecError::WrongPictureSize);
    const Image& top = *pictures[0];
    const auto info = formatInfo(static_cast<std::uint32_t>(options.format));
    if (!info) return fail(CodecError::UnknownFormat);
    if (top.width > kMaxSide || top.height > kMaxSide) return fail(CodecError::SideTooLarge);
    const unsigned levels = settings.levels;
    if (levels == 0 || levels > kMaxLevels || levels > levelsToOne(top.width, top.height))
        return fail(CodecError::TooManyLevels);
    bool handMade = false;
    std::vector<const Image*> given{&top};
    std::vector<unsigned> givenLevel{0};
    for (unsigned l = 1; l < std::min<std::size_t>(pictures.size(), levels); ++l) {
        const Image* p = pictures[l];
        if (!p) continue;
        if (!pictureFits(*p) || p->width != levelSide(top.width, l) || p->height != levelSide(top.height, l))
            return fail(CodecError::WrongPictureSize);
        handMade = true;
        given.push_back(p);
        givenLevel.push_back(l);
    }
    const bool paletted = info->maxPaletteEntries > 0;
    const std::size_t limit = paletteEntryLimit(options);

    EditedTexture out;
    TextureData& data = out.data;
    // Entries the indices of the format can reach, by the colour they show; the
    // first of equal colours wins.
    std::unordered_map<std::uint32_t, std::uint16_t> entryOf;
    if (paletted) {
        const std::size_t reach = std::min<std::size_t>(settings.keepPalette.size(), info->maxPaletteEntries);
        for (std::size_t e = 0; e < reach; ++e)
            entryOf.try_emplace(texel::packed(texel::decodeEntry(options.paletteFormat, settings.keepPalette[e])),
                                static_cast<std::uint16_t>(e));
    }
    // The palette is kept when every picture given shows only its colours.
    std::vector<std::vector<std::uint16_t>> indices(levels);
    bool kept = !entryOf.empty();
    for (std::size_t g = 0; g < given.size() && kept; ++g) kept = indicesByColour(*given[g], entryOf, indices[givenLevel[g]]);
    if (!handMade && !kept) {
        auto encoded = encodeTextureData(top, options, levels);
        if (!encoded) return fail(encoded.error());
        out.data = std::move(encoded).value();
        if (paletted)
            out.palette = moreColoursThan(given, options.paletteFormat, limit) ? PaletteOutcome::Merged
                                                                                : PaletteOutcome::Chosen;
        return out;
    }

    data.format = options.format;
    data.width = top.width;
    data.height = top.height;
    data.levels = levels;
    if (paletted) data.paletteFormat = options.paletteFormat;
    std::vector<std::size_t> starts{0};
    for (unsigned l = 0; l < levels; ++l)
        starts.push_back(starts.back() + static_cast<std::size_t>(levelBytes(options.format, levelSide(top.width, l),
                                                                             levelSide(top.height, l))));
    data.texels.resize(starts.back());
    const auto levelOut = [&](unsigned l) { return std::span(data.texels).subspan(starts[l], starts[l + 1] - starts[l]); };
    const Levels all = levelsOf(pictures, levels);

    if (!paletted) {
        for (unsigned l = 0; l < levels; ++l)
            if (auto encoded = encodeTexels(*all.pictures[l], options, levelOut(l)); !encoded) return fail(encoded.error());
        return out;
    }

    palette::Palette colours{options.paletteFormat, {}};
    if (kept) {
        const std::size_t reach = std::min<std::size_t>(settings.keepPalette.size(), info->maxPaletteEntries);
        colours.entries.assign(settings.keepPalette.begin(), settings.keepPalette.begin() + static_cast<std::ptrdiff_t>(reach));
        data.palette.assign(settings.keepPalette.begin(), settings.keepPalette.end());
        out.palette = PaletteOutcome::Kept;
    } else {
        // One palette for the pixels of every picture given, as if they were one.
        std::size_t pixels = 0;
        for (const Image* p : given) pixels += std::size_t{p->width} * p->height;
        Image together(1, static_cast<std::uint32_t>(pixels));
        std::vector<std::uint16_t> together_indices(pixels);
        auto at = together.rgba.begin();
        for (const Image* p : given) at = std::copy(p->rgba.begin(), p->rgba.end(), at);
        const palette::Options choose{options.paletteFormat, limit, false, options.quality};
        colours = palette::quantize(together, choose, together_indices);
        data.palette = colours.entries;
        out.palette = moreColoursThan(given, options.paletteFormat, limit) ? PaletteOutcome::Merged
                                                                           : PaletteOutcome::Chosen;
        std::size_t from = 0;
        for (unsigned l = 0; l < levels; ++l) {
            if (!all.given[l]) continue;
            const std::size_t n = std::size_t{all.pictures[l]->width} * all.pictures[l]->height;
            if (options.dither) {
                indices[l].resize(n);
                palette::mapToPalette(*all.pictures[l], colours, true, indices[l]);
            } else {
                indices[l].assign(together_indices.begin() + static_cast<std::ptrdiff_t>(from),
                                  together_indices.begin() + static_cast<std::ptrdiff_t>(from + n));
            }
            from += n;
        }
    }
    for (unsigned l = 0; l < levels; ++l) {
        const Image& picture = *all.pictures[l];
        if (!all.given[l]) {
            indices[l].resize(std::size_t{picture.width} * picture.height);
            palette::mapToPalette(picture, colours, options.dither, indices[l]);
        }
        if (auto packed = packIndices(options.format, indices[l], picture.width, picture.height, levelOut(l)); !packed)
            return fail(packed.error());
    }
    return out;
}

// --- Rebuilding ---------------------------------------------------------------------

namespace {

bool validData(const TextureData& d) {
    const auto info = formatInfo(static_cast<std::uint32_t>(d.format));
    if (!info || d.width == 0 || d.height == 0 || d.width > kMaxSide || d.height > kMaxSide) return false;
    if (d.levels == 0 || d.levels > kMaxLevels || d.levels > levelsToOne(d.width, d.height)) return false;
    if (d.texels.size() != chainBytes(d.format, d.width, d.height, d.levels)) return false;
    if ((info->maxPaletteEntries > 0) == d.palette.empty()) return false;
    return d.palette.size() <= 0xFFFF && static_cast<std::uint32_t>(d.paletteFormat) <= 2;
}

bool validMaxLod(const TextureData& d, const TextureSettings& s) {
    if (!s.maxLod) return true;
    TplImageHeader header;
    header.width = static_cast<std::uint16_t>(d.width);
    header.height = static_cast<std::uint16_t>(d.height);
    header.maxLod = *s.maxLod;
    return levelsHeld(header) == d.levels;
}

// A run of file bytes, [begin, end).
struct Run {
    std::uint64_t begin = 0, end = 0;
    bool meets(const Run& other) const { return begin < other.end && other.begin < end; }
};

// Where a texture's headers, texels and palette entries lie.
struct Place {
    Run header, paletteHeader, texels, entries;
    std::uint32_t paletteEntries = 0;
    std::uint32_t entriesOffset = 0;
    bool readable = false;
};

Place placeOf(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    Place p;
    p.header = {image.headerOffset, image.headerOffset + std::uint64_t{kImageHeaderSize}};
    if (image.paletteHeaderOffset != 0) {
        p.paletteHeader = {image.paletteHeaderOffset, image.paletteHeaderOffset + std::uint64_t{kPaletteHeaderSize}};
        ByteReader h(file);
        if (h.seek(image.paletteHeaderOffset) && h.has(kPaletteHeaderSize)) {
            p.paletteEntries = *h.u16be();
            h.skip(6);
            p.entriesOffset = *h.u32be();
            p.entries = {p.entriesOffset, p.entriesOffset + 2 * std::uint64_t{p.paletteEntries}};
        }
    }
    const auto view = textureView(file, image);
    p.readable = view.ok();
    std::uint64_t size = 0;
    if (view)
        for (const auto& level : view->levels) size += level.size();
    // What a texture that cannot be read reaches is unknown: all the rest of the file.
    p.texels = {image.dataOffset, view ? image.dataOffset + size : std::max<std::uint64_t>(file.size(), image.dataOffset)};
    return p;
}

bool meetsAny(const Run& run, const Place& p) {
    return run.meets(p.header) || run.meets(p.paletteHeader) || run.meets(p.texels) || run.meets(p.entries);
}

void writeHeaderFields(ByteWriter& out, const TplImageHeader& image, const TextureReplacement& r) {
    const TextureData& d = *r.data;
    const Sampler& s = r.settings.sampler;
    const std::size_t h = image.headerOffset;
    // Every field lies inside the file, checked by parseTpl; what is equal stays equal.
    out.u32beAt(h + 4, static_cast<std::uint32_t>(d.format));
    out.u32beAt(h + 12, static_cast<std::uint32_t>(s.wrapS));
    out.u32beAt(h + 16, static_cast<std::uint32_t>(s.wrapT));
    out.u32beAt(h + 20, static_cast<std::uint32_t>(s.minFilter));
    out.u32beAt(h + 24, static_cast<std::uint32_t>(s.magFilter));
    out.u32beAt(h + 28, std::bit_cast<std::uint32_t>(s.lodBias));
    out.u8At(h + 32, s.edgeLod);
    out.u8At(h + 33, s.minLod);
    out.u8At(h + 34, r.settings.maxLod.value_or(static_cast<std::uint8_t>(d.levels - 1)));
    out.u8At(h + 35, r.settings.unpacked);
}

std::optional<std::vector<std::uint8_t>> inPlace(std::span<const std::uint8_t> file, const TplHeaders& headers,
                                                 std::span<const TextureReplacement* const> byTexture) {
    const std::size_t n = headers.images.size();
    std::vector<Place> places;
    places.reserve(n);
    for (const TplImageHeader& image : headers.images) places.push_back(placeOf(file, image));
    const Run table{0, kTplFileHeaderSize + kTplTableEntrySize * std::uint64_t{n}};
    for (std::size_t k = 0; k < n; ++k) {
        const TextureReplacement* r = byTexture[k];
        if (!r) continue;
        const TextureData& d = *r->data;
        const TplImageHeader& old = headers.images[k];
        const Place& p = places[k];
        if (!p.readable || d.width != old.width || d.height != old.height) return std::nullopt;
        if (d.texels.size() != p.texels.end - p.texels.begin) return std::nullopt;
        if (d.palette.empty() != (old.paletteHeaderOffset == 0) || d.palette.size() > p.paletteEntries)
            return std::nullopt;
        const Run written[] = {p.header, p.paletteHeader, p.texels, p.entries};
        for (const Run& run : written) {
            if (run.meets(table)) return std::nullopt;
            for (std::size_t j = 0; j < n; ++j)
                if (j != k && meetsAny(run, places[j])) return std::nullopt;
        }
        for (const Run& data : {p.texels, p.entries})
            if (data.meets(p.header) || data.meets(p.paletteHeader)) return std::nullopt;
        if (p.texels.meets(p.entries)) return std::nullopt;
    }

    ByteWriter out(std::vector<std::uint8_t>(file.begin(), file.end()));
    for (std::size_t k = 0; k < n; ++k) {
        const TextureReplacement* r = byTexture[k];
        if (!r) continue;
        const TextureData& d = *r->data;
        const Place& p = places[k];
        std::copy(d.texels.begin(), d.texels.end(), std::span(out.data()).subspan(p.texels.begin, d.texels.size()).begin());
        writeHeaderFields(out, headers.images[k], *r);
        if (d.palette.empty()) continue;
        const std::size_t ph = headers.images[k].paletteHeaderOffset;
        out.u16beAt(ph, static_cast<std::uint16_t>(d.palette.size()));
        out.u8At(ph + 2, r->settings.paletteUnpacked);
        out.u8At(ph + 3, r->settings.palettePadding);
        out.u32beAt(ph + 4, static_cast<std::uint32_t>(d.paletteFormat));
        for (std::uint32_t e = 0; e < p.paletteEntries; ++e)
            out.u16beAt(p.entriesOffset + 2 * std::size_t{e}, e < d.palette.size() ? d.palette[e] : 0);
    }
    // Every field was found inside the file above; should one not be, the file
    // is laid out afresh instead.
    if (!out.ok()) return std::nullopt;
    return out.take();
}

}  // namespace

Expected<std::vector<std::uint8_t>, TplEditError> writeTpl(std::span<const StoredTexture> textures) {
    std::vector<TextureLayout> layouts;
    layouts.reserve(textures.size());
    for (const StoredTexture& t : textures) {
        if (!t.data || !validData(*t.data)) return fail(TplEditError::BadTextureData);
        if (!validMaxLod(*t.data, t.settings)) return fail(TplEditError::BadMaxLod);
        const TextureData& d = *t.data;
        if (d.palette.size() > formatInfo(d.format).maxPaletteEntries) return fail(TplEditError::BadTextureData);
        TextureLayout layout;
        layout.format = d.format;
        layout.width = d.width;
        layout.height = d.height;
        layout.levels = d.levels;
        layout.paletteFormat = d.paletteFormat;
        layout.sampler = t.settings.sampler;
        layout.maxLod = t.settings.maxLod;
        layout.unpacked = t.settings.unpacked;
        layout.paletteUnpacked = t.settings.paletteUnpacked;
        layout.palettePadding = t.settings.palettePadding;
        layouts.push_back(layout);
    }
    auto writer = TplWriter::plan(layouts);
    if (!writer) return fail(TplEditError::TooLarge);
    for (std::size_t k = 0; k < textures.size(); ++k) {
        const TextureData& d = *textures[k].data;
        std::size_t from = 0;
        for (unsigned l = 0; l < d.levels; ++l) {
            const std::span<std::uint8_t> level = *writer->level(k, l);
            std::copy_n(d.texels.begin() + static_cast<std::ptrdiff_t>(from), level.size(), level.begin());
            from += level.size();
        }
        if (!d.palette.empty() && !writer->setPalette(k, d.palette)) return fail(TplEditError::BadTextureData);
    }
    return std::move(*writer).finish();
}

Expected<RebuiltTpl, TplEditError> rebuildTpl(std::span<const std::uint8_t> file,
                                              std::span<const TextureReplacement> replacements) {
    const auto headers = parseTpl(file);
    if (!headers) return fail(TplEditError::BadSource);
    const std::size_t n = headers->images.size();
    std::vector<const TextureReplacement*> byTexture(n, nullptr);
    for (const TextureReplacement& r : replacements) {
        if (r.texture >= n) return fail(TplEditError::NoSuchTexture);
        if (byTexture[r.texture]) return fail(TplEditError::ReplacedTwice);
        if (!r.data || !validData(*r.data)) return fail(TplEditError::BadTextureData);
        if (!validMaxLod(*r.data, r.settings)) return fail(TplEditError::BadMaxLod);
        byTexture[r.texture] = &r;
    }
    if (auto kept = inPlace(file, *headers, byTexture)) return RebuiltTpl{std::move(*kept), true};

    std::vector<TextureData> stored;
    stored.reserve(n);  // pointers into it stay put
    std::vector<StoredTexture> textures(n);
    for (std::size_t k = 0; k < n; ++k) {
        if (const TextureReplacement* r = byTexture[k]) {
            textures[k] = {r->data, r->settings};
            continue;
        }
        auto data = storedTexture(file, headers->images[k]);
        if (!data) return fail(TplEditError::UnreadableTexture);
        textures[k] = {&stored.emplace_back(std::move(data).value()), settingsOf(headers->images[k], file)};
    }
    auto written = writeTpl(textures);
    if (!written) return fail(written.error());
    return RebuiltTpl{std::move(written).value(), false};
}

}  // namespace tplforge
