#include "tplforge/texture_file.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "tplforge/containers.h"
#include "tplforge/file_io.h"
#include "tplforge/tpl_edit.h"

namespace tplforge {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

std::string describe(const Error& e) {
    std::string text;
    switch (e.code) {
        case ErrorCode::CannotRead: text = "cannot read: " + e.detail; break;
        case ErrorCode::CannotWrite: text = "cannot write: " + e.detail; break;
        case ErrorCode::NoTextures: text = "holds no textures (" + e.detail + "); name a member that does"; break;
        case ErrorCode::NoSuchMember: text = e.detail.empty() ? "no such member" : e.detail; break;
        case ErrorCode::NoSuchTexture: text = e.detail.empty() ? "no texture named " + e.item : e.detail; break;
        case ErrorCode::NamedTwice: text = "texture " + e.item + " is named twice"; break;
        case ErrorCode::AmbiguousTexture: text = "holds several textures; give the number K of the one to replace"; break;
        case ErrorCode::Damaged:
        case ErrorCode::BadPicture:
        case ErrorCode::Refused:
        case ErrorCode::TooManyColours: text = e.detail; break;
    }
    std::string out = e.where;
    const bool itemSaid = e.code == ErrorCode::NoSuchTexture || e.code == ErrorCode::NamedTwice;
    if (!e.item.empty() && !itemSaid) out += (out.empty() ? "" : ": ") + std::string("texture ") + e.item;
    return out.empty() ? text : out + ": " + text;
}

// --- Rules -------------------------------------------------------------------------

std::string palettePathBeside(const std::string& tex0Path) {
    return fs::path(tex0Path).replace_extension(".plt0").string();
}

TextureFilter mipmapFilter(TextureFilter filter, unsigned levels) {
    if (levels > 1 && filter == TextureFilter::Near) return TextureFilter::NearMipNear;
    if (levels > 1 && filter == TextureFilter::Linear) return TextureFilter::LinMipLin;
    return filter;
}

std::optional<Quality> qualityFromName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "fast") return Quality::Fast;
    if (lower == "normal") return Quality::Normal;
    if (lower == "best") return Quality::Best;
    return std::nullopt;
}

std::string_view qualityName(Quality quality) {
    switch (quality) {
        case Quality::Fast: return "fast";
        case Quality::Best: return "best";
        case Quality::Normal: break;
    }
    return "normal";
}

bool isGreyFormat(Format format) { return format == Format::I4 || format == Format::I8; }

void keepHeldChannels(Image& picture, Format format) {
    if (!isGreyFormat(format)) return;
    for (std::size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = 255;
}

// --- Textures ----------------------------------------------------------------------

std::string TextureRef::path() const { return member.empty() ? name : member + '/' + name; }

TextureData TextureRef::stored() const { return storedData(view); }

Expected<Image, Error> TextureRef::decode(unsigned level) const {
    auto image = decodeLevel(view, level);
    if (!image) return fail(Error{ErrorCode::Damaged, member, name, describe(image.error())});
    return std::move(image).value();
}

Expected<DolphinName, DolphinError> TextureRef::dolphin(DolphinMipmaps mipmaps) const {
    DolphinSampling sampling = dolphinSampling(view);
    if (sampler) {
        std::optional<float> maxLod;
        if (settings && settings->maxLod) maxLod = static_cast<float>(*settings->maxLod);
        sampling = dolphinSampling(*sampler, maxLod);
    }
    return dolphinName(view, sampling, mipmaps);
}

struct TextureFile::State {
    std::string typed, disk, inner;
    std::string name;    // the file's name: tells BTI apart, and names the file in messages
    MappedFile mapped;
    Bytes owned;         // from bytes in memory
    Bytes paletteOwned;  // the PLT0 beside a standalone TEX0
    MappedFile paletteMapped;
    PathLimits limits;
    std::vector<Member> members;  // holding storage of decompressed layers
    std::map<std::string, Member> palettes;  // the PLT0 member beside a TEX0 member, by the TEX0's path
    std::vector<TextureRef> textures;
    std::vector<DamagedMember> damaged;
    Member named;        // the member the path runs to
    std::string rest;    // what is left of the path below it
    std::string folder;  // a folder inside an archive, when the path named one

    std::span<const std::uint8_t> bytes() const {
        return owned.empty() ? mapped.bytes() : std::span<const std::uint8_t>(owned);
    }
    std::span<const std::uint8_t> palette() const {
        return paletteOwned.empty() ? paletteMapped.bytes() : std::span<const std::uint8_t>(paletteOwned);
    }
    const std::string& fileName() const { return name; }
    // The path named the file on disk itself, with no wrapper around it: a file
    // of no kind known is then read as a TPL, whose reader says why not.
    bool bare() const { return named.path.empty() && rest.empty() && named.bytes.data() == bytes().data(); }
    // A TEX0 member of a palette format takes the PLT0 of its name beside it.
    std::span<const std::uint8_t> paletteOf(const Member& m) {
        if (m.path.empty()) return palette();
        if (m.kind != FileKind::Tex0) return {};
        if (const auto known = palettes.find(m.path); known != palettes.end()) return known->second.bytes;
        auto beside = openPath(bytes(), name, fs::path(m.path).replace_extension(".plt0").generic_string(), limits);
        if (!beside || beside->member.kind != FileKind::Plt0 || !beside->rest.empty()) return {};
        return palettes.emplace(m.path, std::move(beside->member)).first->second.bytes;
    }
    const Member* paletteMember(const Member& m) const {
        const auto known = palettes.find(m.path);
        return known == palettes.end() ? nullptr : &known->second;
    }
};

namespace {

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// A path whose parts are all names: one with an empty or "." part would name another member.
bool nameable(std::string_view path) {
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string_view part = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == ".") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

// A file that names no kind, on its own (State::bare), is taken for a TPL.
bool readAsTpl(const Member& m, bool wholeFile) { return m.kind == FileKind::Tpl || (m.kind == FileKind::Unknown && wholeFile); }

bool startsWithFolder(std::string_view path, std::string_view folder) {
    if (folder.empty()) return true;
    if (path.size() <= folder.size() || path[folder.size()] != '/') return false;
    return std::equal(folder.begin(), folder.end(), path.begin(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

// The textures of one member, or why it does not read. A TPL texture whose
// levels or palette do not read goes to `damaged`, where one is given, and the
// others are still listed.
Expected<std::vector<TextureRef>, Error> texturesOf(const Member& m, bool wholeFile, std::span<const std::uint8_t> palette,
                                                    const std::string& where, std::vector<DamagedMember>* damaged = nullptr) {
    const bool tpl = readAsTpl(m, wholeFile);
    if (!tpl && !holdsTextures(m.kind)) return fail(Error{ErrorCode::NoTextures, where, {}, std::string(kindName(m.kind))});
    std::vector<TextureRef> out;
    if (tpl) {
        const auto headers = parseTpl(m.bytes);
        if (!headers) return fail(Error{ErrorCode::Damaged, where, {}, describe(headers.error())});
        for (std::size_t k = 0; k < headers->images.size(); ++k) {
            const TplImageHeader& image = headers->images[k];
            auto view = textureView(m.bytes, image);
            if (!view) {
                Error error{ErrorCode::Damaged, where, std::to_string(k + 1), describe(view.error())};
                if (!damaged) return fail(std::move(error));
                damaged->push_back({m.path, FileKind::Tpl, std::move(error)});
                continue;
            }
            TextureRef t;
            t.member = m.path;
            t.container = FileKind::Tpl;
            t.name = std::to_string(k + 1);
            t.number = k + 1;
            t.view = std::move(view).value();
            t.sampler = image.sampler;
            t.settings = settingsOf(image, m.bytes);
            t.containerTextures = headers->images.size();
            out.push_back(std::move(t));
        }
        return out;
    }
    auto entries = readTextures(m.bytes, m.kind, palette);
    if (!entries) return fail(Error{ErrorCode::Damaged, where, {}, describe(entries.error())});
    for (std::size_t k = 0; k < entries->size(); ++k) {
        TextureEntry& e = (*entries)[k];
        TextureRef t;
        t.member = m.path;
        t.container = m.kind;
        t.name = std::move(e.name);
        t.storedName = std::move(e.storedName);
        t.number = k + 1;
        t.view = std::move(e.view);
        t.sampler = e.sampler;
        t.containerTextures = entries->size();
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace

DiskPath splitDiskPath(const std::string& path) {
    if (isFile(path)) return {path, {}};
    for (auto slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1))
        if (isFile(path.substr(0, slash))) return {path.substr(0, slash), path.substr(slash + 1)};
    return {path, {}};
}

Expected<TextureFile, Error> TextureFile::open(const std::string& path, const PathLimits& limits) {
    auto state = std::make_unique<State>();
    state->typed = path;
    state->limits = limits;
    auto [disk, inner] = splitDiskPath(path);
    auto mapped = mapWholeFile(disk);
    if (!mapped) return fail(Error{ErrorCode::CannotRead, path, {}, mapped.error().message()});
    state->disk = disk;
    state->name = fs::path(disk).filename().string();
    state->inner = inner;
    state->mapped = std::move(mapped).value();
    return TextureFile(std::move(state)).load();
}

Expected<TextureFile, Error> TextureFile::fromBytes(Bytes bytes, std::string fileName, std::string_view inner,
                                                    Bytes palette, const PathLimits& limits) {
    auto state = std::make_unique<State>();
    state->typed = inner.empty() ? fileName : fileName + '/' + std::string(inner);
    state->inner = std::string(inner);
    state->owned = std::move(bytes);
    state->paletteOwned = std::move(palette);
    state->limits = limits;
    state->name = fs::path(fileName).filename().string();
    return TextureFile(std::move(state)).load();
}

Expected<TextureFile, Error> TextureFile::load() && {
    State& s = *state_;
    const std::string& fileName = s.name;
    auto located = openPath(s.bytes(), fileName, s.inner, s.limits);
    std::string folder;
    if (!located) {
        // A folder inside an archive: every texture below it.
        if (located.error().fault != ArchiveFault::IsAFolder) return fail(Error{ErrorCode::Damaged, s.typed, {}, describe(located.error())});
        folder = s.inner;
        while (!folder.empty() && folder.back() == '/') folder.pop_back();
        s.folder = folder;
        auto whole = openPath(s.bytes(), fileName, "", s.limits);
        if (!whole) return fail(Error{ErrorCode::Damaged, s.typed, {}, describe(whole.error())});
        located = std::move(whole);
    }
    s.named = located->member;
    s.rest = located->rest;
    // Named .bti but taken for no kind: a damaged BTI, refused by the BTI reader
    // rather than as the TPL an unknown file is otherwise read as.
    if (folder.empty() && s.named.kind == FileKind::Unknown && s.rest.empty() &&
        kindByName(s.named.path.empty() ? fileName : s.named.path) == FileKind::Bti)
        s.named.kind = FileKind::Bti;
    if (s.named.kind == FileKind::Tex0 && s.named.path.empty() && s.palette().empty() && !s.disk.empty()) {
        if (auto beside = mapWholeFile(palettePathBeside(s.disk)))
            s.paletteMapped = std::move(beside).value();
    }

    const bool whole = s.bare();
    if (folder.empty() && (holdsTextures(s.named.kind) || readAsTpl(s.named, whole))) {
        std::vector<DamagedMember> damaged;
        auto textures = texturesOf(s.named, whole, s.paletteOf(s.named), s.typed, &damaged);
        if (!textures) return fail(textures.error());
        for (TextureRef& t : *textures) {
            if (!s.rest.empty() && t.name != s.rest) continue;
            s.textures.push_back(std::move(t));
        }
        for (DamagedMember& d : damaged) {
            if (!s.rest.empty() && d.error.item == s.rest) return fail(std::move(d.error));
            if (s.rest.empty()) s.damaged.push_back(std::move(d));
        }
        if (!s.rest.empty() && s.textures.empty())
            return fail(Error{ErrorCode::NoSuchTexture, s.typed, s.rest, "no texture named " + s.rest});
        s.members.push_back(s.named);
        return std::move(*this);
    }
    if (!s.rest.empty()) return fail(Error{ErrorCode::NoSuchMember, s.typed, {}, "no member named " + s.rest});

    // An archive or wrapper: every member below it that holds textures.
    const std::string prefix = s.named.path;
    const auto visit = [&](FoundMember&& found) {
        Member m = std::move(found.member);
        const std::string asWalked = m.path;
        if (!prefix.empty()) m.path = prefix + '/' + m.path;
        if (!folder.empty() && !startsWithFolder(m.path, folder)) return;
        // Errors say where as the file and the member, once.
        const std::string where = s.fileName() + '/' + m.path;
        if (!nameable(m.path)) {
            s.damaged.push_back({m.path, m.kind, Error{ErrorCode::NoSuchMember, where, {}, "no path names this member apart (a part of its path is empty or \".\")"}});
            return;
        }
        if (found.error) {
            ArchiveError e = *found.error;
            if (e.member == asWalked) e.member.clear();
            s.damaged.push_back({m.path, m.kind, Error{ErrorCode::Damaged, where, {}, describe(e)}});
            return;
        }
        auto textures = texturesOf(m, false, s.paletteOf(m), where, &s.damaged);
        if (!textures) {
            s.damaged.push_back({m.path, m.kind, textures.error()});
            return;
        }
        for (TextureRef& t : *textures) s.textures.push_back(std::move(t));
        s.members.push_back(std::move(m));
    };
    const auto walked = walkTextureMembers(s.named.bytes, prefix.empty() ? fileName : fs::path(prefix).filename().string(), visit, s.limits);
    // A wrapper around something that is neither archive nor texture file holds no textures; it is not damaged.
    if (!walked && walked.error().fault == ArchiveFault::NotReadable && walked.error().member.empty())
        return fail(Error{ErrorCode::NoTextures, s.typed, {}, std::string(kindName(s.named.kind))});
    if (!walked) return fail(Error{ErrorCode::Damaged, s.typed, {}, describe(walked.error())});
    return std::move(*this);
}

TextureFile::TextureFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
TextureFile::TextureFile(TextureFile&&) noexcept = default;
TextureFile& TextureFile::operator=(TextureFile&&) noexcept = default;
TextureFile::~TextureFile() = default;

const std::string& TextureFile::diskPath() const { return state_->disk; }
const std::string& TextureFile::inner() const { return state_->inner; }
std::span<const std::uint8_t> TextureFile::bytes() const { return state_->bytes(); }
FileKind TextureFile::kind() const {
    const Member& m = state_->named;
    return readAsTpl(m, state_->bare()) ? FileKind::Tpl : m.kind;
}
bool TextureFile::namesTexture() const { return !state_->rest.empty(); }
const std::string& TextureFile::folder() const { return state_->folder; }
const std::string& TextureFile::member() const { return state_->named.path; }
std::span<const std::uint8_t> TextureFile::memberBytes() const { return state_->named.bytes; }
std::span<const std::uint8_t> TextureFile::paletteBytes() const { return state_->palette(); }
std::span<const TextureRef> TextureFile::textures() const { return state_->textures; }
std::span<const DamagedMember> TextureFile::damaged() const { return state_->damaged; }

Expected<const TextureRef*, Error> TextureFile::find(std::string_view texture) const {
    const State& s = *state_;
    const auto& all = s.textures;
    if (texture.empty()) {
        if (all.size() == 1) return &all.front();
        if (all.empty()) return fail(Error{ErrorCode::NoSuchTexture, s.typed, {}, "holds no textures"});
        return fail(Error{ErrorCode::AmbiguousTexture, s.typed, {}, {}});
    }
    for (const TextureRef& t : all)
        if (t.path() == texture) return &t;
    // Relative to the opened member, or a number inside the one member opened.
    const std::string relative = s.named.path.empty() ? std::string(texture) : s.named.path + '/' + std::string(texture);
    for (const TextureRef& t : all)
        if (t.path() == relative) return &t;
    const bool oneMember = std::all_of(all.begin(), all.end(), [&](const TextureRef& t) { return t.member == all.front().member; });
    if (oneMember && !all.empty())
        for (const TextureRef& t : all)
            if (std::to_string(t.number) == texture || t.name == texture) return &t;
    return fail(Error{ErrorCode::NoSuchTexture, s.typed, std::string(texture), {}});
}

// --- Replacing -----------------------------------------------------------------------

namespace {

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// The texture's own settings with what was asked for it.
EditSettings editSettings(const TextureData& stored, const SettingChanges& c, const Image& picture, unsigned threads) {
    EditSettings s;
    EncodeOptions& e = s.encode;
    e.format = c.format.value_or(stored.format);
    e.paletteFormat = c.paletteFormat.value_or(stored.paletteFormat);
    const bool samePalette = e.format == stored.format && e.paletteFormat == stored.paletteFormat;
    e.paletteEntries = c.paletteEntries.value_or(samePalette ? static_cast<std::uint32_t>(stored.palette.size()) : 0);
    e.quality = c.quality.value_or(Quality::Normal);
    e.dither = c.dither.value_or(false);
    e.threads = threads;
    const unsigned most = levelsPossible(e.format, picture.width, picture.height);
    if (c.mipmapsAuto) s.levels = most;
    else if (c.mipmaps) s.levels = std::min(1 + *c.mipmaps, most);
    else s.levels = std::min({stored.levels, kMaxLevels, levelsToOne(picture.width, picture.height)});
    if (isPaletteFormat(e.format) && samePalette && !c.paletteEntries) s.keepPalette = stored.palette;
    return s;
}

// The header a TPL texture gets: its own, or the one given, with the sampler
// fields typed over it. A max LOD is kept only while it gives the levels.
TextureSettings headerSettings(const TextureSettings& own, const SettingChanges& c, std::uint32_t width,
                               std::uint32_t height, unsigned levels, unsigned storedLevels) {
    TextureSettings s = c.header.value_or(own);
    if (s.maxLod) {
        TplImageHeader sides;
        sides.width = static_cast<std::uint16_t>(width);
        sides.height = static_cast<std::uint16_t>(height);
        sides.maxLod = *s.maxLod;
        if (levels != storedLevels || levelsHeld(sides) != levels) s.maxLod.reset();
    }
    Sampler& sampler = s.sampler;
    sampler.wrapS = c.wrapS.value_or(sampler.wrapS);
    sampler.wrapT = c.wrapT.value_or(sampler.wrapT);
    // Filters typed, or kept from a texture that had no levels, also filter between the new ones;
    // a header given whole is taken as it is.
    if (c.minFilter || (levels > 1 && storedLevels == 1 && !c.header))
        sampler.minFilter = mipmapFilter(c.minFilter.value_or(sampler.minFilter), levels);
    sampler.magFilter = c.magFilter.value_or(sampler.magFilter);
    return s;
}

// A picture that shows what the texture shows already, with nothing asked to
// change, leaves the texture as it was: encoding it again would remake hand-made
// mipmaps and lossy texels nobody edited.
bool showsTheSame(const TextureView& view, const TextureEdit& edit) {
    if (edit.changes.any() || !edit.levels.empty()) return false;
    if (edit.picture.width != view.width || edit.picture.height != view.height) return false;
    auto now = decodeLevel(view, 0);
    if (!now) return false;
    if (now->rgba == edit.picture.rgba) return true;
    // A grey texture's picture file holds no alpha of its own.
    keepHeldChannels(*now, view.format);
    return isGreyFormat(view.format) && now->rgba == edit.picture.rgba;
}

std::string pictureName(const TextureEdit& e) { return e.pictureName.empty() ? std::string("picture") : e.pictureName; }

// The picture encoded with the settings; a palette that had to merge colours is
// a note, or a refusal when strict.
Expected<TextureData, Error> encodePicture(const TextureEdit& edit, const EditSettings& settings, bool strict,
                                           std::vector<Note>& notes) {
    std::vector<const Image*> levels{&edit.picture};
    for (const Image& level : edit.levels) levels.push_back(level.empty() ? nullptr : &level);
    if (levels.size() > settings.levels) levels.resize(settings.levels);
    auto edited = encodeEdited(levels, settings);
    if (!edited) return fail(Error{ErrorCode::BadPicture, pictureName(edit), {}, describe(edited.error())});
    if (edited->palette == PaletteOutcome::Merged) {
        const std::string what = "more colours than " + std::to_string(paletteEntryLimit(settings.encode)) + " palette entries hold";
        if (strict) return fail(Error{ErrorCode::TooManyColours, pictureName(edit), {}, what + " (--strict)"});
        notes.push_back({pictureName(edit), what + "; the nearest were merged"});
    }
    return std::move(edited->data);
}

// Without a picture only header fields may change, and only a TPL has them.
std::optional<Error> withoutPicture(const TextureEdit& edit, const TextureRef& t, const std::string& where) {
    const SettingChanges& c = edit.changes;
    if (t.container != FileKind::Tpl)
        return Error{ErrorCode::BadPicture, where, t.name, "no picture given; only a TPL texture changes without one"};
    if (c.format || c.paletteFormat || c.paletteEntries || c.mipmaps || c.mipmapsAuto || !edit.levels.empty())
        return Error{ErrorCode::BadPicture, where, t.name, "no picture given for new texels; header fields alone change without one"};
    return std::nullopt;
}

struct Job {
    const TextureEdit* edit = nullptr;
    const TextureRef* texture = nullptr;
};

// A texture's failure: the whole replacement's, or with keepGoing one more
// texture left as it was.
bool refusedAlone(const TextureRef& t, Error error, const EditOptions& options, EditResult& result) {
    if (!options.keepGoing || error.code == ErrorCode::Damaged) return false;
    result.refused.push_back({t.path(), std::move(error)});
    return true;
}

// One TPL member with its replacements put in.
Expected<Bytes, Error> replaceInTpl(std::span<const std::uint8_t> bytes, const std::vector<Job>& jobs,
                                    const std::string& where, const EditOptions& options, EditResult& result) {
    const auto headers = parseTpl(bytes);
    if (!headers) return fail(Error{ErrorCode::Damaged, where, {}, describe(headers.error())});
    std::vector<TextureData> data(jobs.size());
    std::vector<TextureReplacement> replacements;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const TextureEdit& edit = *jobs[i].edit;
        const TextureRef& t = *jobs[i].texture;
        const std::size_t k = t.number - 1;
        const TplImageHeader& image = headers->images[k];
        const TextureData stored = t.stored();
        if (edit.picture.empty()) {
            if (auto refused = withoutPicture(edit, t, where)) {
                if (refusedAlone(t, *refused, options, result)) continue;
                return fail(*refused);
            }
            const TextureSettings header = headerSettings(*t.settings, edit.changes, stored.width, stored.height,
                                                          stored.levels, stored.levels);
            const TextureSettings& own = *t.settings;
            if (header.sampler == own.sampler && header.maxLod == own.maxLod && header.unpacked == own.unpacked &&
                header.paletteUnpacked == own.paletteUnpacked && header.palettePadding == own.palettePadding)
                continue;
            data[i] = stored;
            replacements.push_back({k, &data[i], header});
            ++result.changed;
            continue;
        }
        if (showsTheSame(t.view, edit)) {
            result.notes.push_back({pictureName(edit), "shows what texture " + t.name + " holds already; it is kept as it is"});
            continue;
        }
        const EditSettings settings = editSettings(stored, edit.changes, edit.picture, options.threads);
        auto encoded = encodePicture(edit, settings, options.strict, result.notes);
        if (!encoded) {
            if (refusedAlone(t, encoded.error(), options, result)) continue;
            return fail(encoded.error());
        }
        if (edit.picture.width != image.width || edit.picture.height != image.height)
            result.notes.push_back({pictureName(edit), sizeText(edit.picture.width, edit.picture.height) + " where texture " +
                                                           t.name + " was " + sizeText(image.width, image.height) +
                                                           "; the file is laid out afresh"});
        data[i] = std::move(encoded).value();
        replacements.push_back({k, &data[i], headerSettings(*t.settings, edit.changes, edit.picture.width,
                                                            edit.picture.height, settings.levels, stored.levels)});
        ++result.changed;
    }
    auto rebuilt = rebuildTpl(bytes, replacements);
    if (!rebuilt) return fail(Error{ErrorCode::Refused, where, {}, describe(rebuilt.error())});
    return std::move(rebuilt->bytes);
}

// Any other container: each texture put in by the container's own rules.
Expected<Bytes, Error> replaceInContainer(const Member& m, std::span<const std::uint8_t> palette, const std::vector<Job>& jobs,
                                          const std::string& where, const EditOptions& options, EditResult& result) {
    // Every texture of the member, also those the path left out: model headers may share an image.
    auto all = texturesOf(m, false, palette, where);
    if (!all) return fail(all.error());
    Bytes current(m.bytes.begin(), m.bytes.end());
    for (const Job& job : jobs) {
        const SettingChanges& c = job.edit->changes;
        if (c.wrapS || c.wrapT || c.minFilter || c.magFilter || c.header)
            return fail(Error{ErrorCode::Refused, where, {},
                              "--wrap and --filter change the sampler of TPL textures only; " + std::string(kindName(m.kind)) +
                                  " textures keep theirs"});
    }
    for (const Job& job : jobs) {
        const TextureEdit& edit = *job.edit;
        const TextureRef& t = *job.texture;
        const std::string at = where + ": texture " + t.name;
        if (edit.picture.empty()) {
            const Error refused = *withoutPicture(edit, t, where);
            if (refusedAlone(t, refused, options, result)) continue;
            return fail(refused);
        }
        if (showsTheSame(t.view, edit)) {
            result.notes.push_back({pictureName(edit), "shows what texture " + t.name + " holds already; it is kept as it is"});
            continue;
        }
        // The settings keep a view of its palette: it must outlive them.
        const TextureData stored = t.stored();
        const EditSettings settings = editSettings(stored, edit.changes, edit.picture, options.threads);
        auto encoded = encodePicture(edit, settings, options.strict, result.notes);
        if (!encoded) {
            if (refusedAlone(t, encoded.error(), options, result)) continue;
            return fail(encoded.error());
        }
        auto replaced = replaceTexture(current, m.kind, t.name, *encoded);
        if (!replaced) {
            // Alone, the refusal is said of the texture it is listed with.
            ContainerError reason = replaced.error();
            if (options.keepGoing) reason.item = 0, reason.name.clear();
            const Error refused{ErrorCode::Refused, options.keepGoing ? std::string() : where, {}, describe(reason)};
            if (refusedAlone(t, refused, options, result)) continue;
            return fail(refused);
        }
        current = std::move(replaced).value();
        ++result.changed;
        // Model headers that share one image all show the new one.
        for (const TextureRef& other : *all)
            if (other.number != t.number && !other.view.levels.empty() && !t.view.levels.empty() &&
                other.view.levels[0].data() == t.view.levels[0].data())
                result.notes.push_back({at, "texture " + other.name + " shares its image, and shows the new one too"});
        if (m.kind == FileKind::Tex0 && isPaletteFormat(encoded->format)) {
            auto pair = writeTex0(*encoded, t.name);
            if (!pair) return fail(Error{ErrorCode::Refused, at, {}, describe(pair.error())});
            result.plt0 = std::move(pair->plt0);
        }
    }
    return current;
}

std::span<const std::uint8_t> paletteBytesOf(const TextureFile::State& s, const Member& m) {
    const Member* plt0 = s.paletteMember(m);
    return plt0 ? plt0->bytes : std::span<const std::uint8_t>{};
}

}  // namespace

Expected<EditResult, Error> TextureFile::replace(std::span<const TextureEdit> edits, const EditOptions& options) const {
    const State& s = *state_;
    EditResult result;
    // Edits by member, in the order the members are stored.
    std::map<std::string, std::vector<Job>> byMember;
    std::set<const TextureRef*> seen;
    for (const TextureEdit& edit : edits) {
        auto found = find(edit.texture);
        if (!found) return fail(found.error());
        if (!seen.insert(*found).second) return fail(Error{ErrorCode::NamedTwice, s.typed, (*found)->name, {}});
        const SettingChanges& c = edit.changes;
        const bool headerOnly = (*found)->container == FileKind::Tpl && (c.header || c.wrapS || c.wrapT || c.minFilter || c.magFilter);
        if (edit.picture.empty() && !headerOnly)
            return fail(Error{ErrorCode::BadPicture, pictureName(edit), {}, "the picture is empty"});
        byMember[(*found)->member].push_back({&edit, *found});
    }
    // Members rebuilt, then put back into the file together: each layer around them is wrapped once.
    std::vector<Bytes> rebuilt;
    rebuilt.reserve(2 * s.members.size());  // MemberChange spans point into them
    std::vector<MemberChange> changes;
    std::vector<std::uint8_t> outer;
    for (const Member& m : s.members) {
        const auto jobs = byMember.find(m.path);
        if (jobs == byMember.end()) continue;
        const bool whole = m.path.empty();
        const std::string where = s.typed;
        auto replaced = readAsTpl(m, whole && s.bare())
                            ? replaceInTpl(m.bytes, jobs->second, where, options, result)
                            : replaceInContainer(m, whole ? s.palette() : paletteBytesOf(s, m), jobs->second, where,
                                                 options, result);
        if (!replaced) return fail(replaced.error());
        // Nothing changed in this member: every layer above stays as it is.
        if (std::equal(replaced->begin(), replaced->end(), m.bytes.begin(), m.bytes.end()) && result.plt0.empty()) continue;
        // A TEX0 member's palette goes into the PLT0 member beside it.
        if (!whole && !result.plt0.empty()) {
            const Member* plt0 = s.paletteMember(m);
            if (!plt0) return fail(Error{ErrorCode::Refused, s.typed, {}, m.path + ": a palette format needs a PLT0 member beside it"});
            if (!std::equal(result.plt0.begin(), result.plt0.end(), plt0->bytes.begin(), plt0->bytes.end())) {
                rebuilt.push_back(std::move(result.plt0));
                changes.push_back({plt0->path, rebuilt.back()});
            }
            result.plt0.clear();
        }
        if (whole && m.bytes.data() == s.bytes().data() && m.bytes.size() == s.bytes().size()) {
            outer = std::move(replaced).value();
        } else {
            rebuilt.push_back(std::move(replaced).value());
            changes.push_back({m.path, rebuilt.back()});
        }
    }
    if (changes.empty()) {
        if (outer.empty()) outer.assign(s.bytes().begin(), s.bytes().end());
        result.file = std::move(outer);
        return result;
    }
    ReplaceOptions replaceOptions;
    replaceOptions.yaz0 = options.yaz0;
    replaceOptions.limits = s.limits;
    auto file = replaceMembers(s.bytes(), s.fileName(), changes, replaceOptions);
    if (!file) return fail(Error{ErrorCode::Refused, s.typed, {}, describe(file.error())});
    result.file = std::move(file).value();
    return result;
}

}  // namespace tplforge
