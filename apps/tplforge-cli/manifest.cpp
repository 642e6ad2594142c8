#include "manifest.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "tplforge/texture_file.h"

namespace tplforge::cli {

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// A sampler value by name where it has one, else the stored number.
template <class Enum>
Json codeOrName(Enum value, std::string_view name) {
    if (name == "unknown") return static_cast<std::uint32_t>(value);
    return std::string(name);
}

// The shortest decimal that reads back as the same float, or the float's bits
// in hex for what JSON has no number for.
Json floatValue(float value) {
    if (!std::isfinite(value)) {
        char text[16];
        const auto bits = std::bit_cast<std::uint32_t>(value);
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(bits));
        return std::string(text);
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    const double shortest = std::strtod(std::string(text, end).c_str(), nullptr);
    return static_cast<float>(shortest) == value ? shortest : static_cast<double>(value);
}

Json pictureJson(const ManifestPicture& p) {
    Json j;
    j["file"] = p.file;
    if (p.pixels) j["sha256"] = hexText(*p.pixels);
    if (p.fileDigest) j["file_sha256"] = hexText(*p.fileDigest);
    return j;
}

// --- Reading: every value checked, each failure one line naming where it is.

struct Refusal {
    std::string reason;
};

class Reader {
public:
    Reader(const Json& object, std::string where) : j_(object), where_(std::move(where)) {
        if (!j_.is_object()) refuse("must be an object");
    }

    // Keys beyond these are refused, so that a mistyped one is not ignored.
    void only(std::initializer_list<std::string_view> keys) const {
        for (const auto& [key, value] : j_.items()) {
            bool known = false;
            for (std::string_view k : keys) known = known || k == key;
            if (!known) throw Refusal{where_ + "unknown key '" + key + "'"};
        }
    }

    bool has(const char* key) const { return j_.contains(key) && !j_.at(key).is_null(); }
    const Json& at(const char* key) const {
        if (!j_.contains(key)) refuse(std::string("'") + key + "' is missing");
        return j_.at(key);
    }

    std::uint64_t number(const char* key, std::uint64_t most) const {
        const Json& v = at(key);
        if (!v.is_number_unsigned() || v.get<std::uint64_t>() > most)
            refuse(std::string("'") + key + "' must be a whole number from 0 to " + std::to_string(most));
        return v.get<std::uint64_t>();
    }
    std::uint64_t number(const char* key, std::uint64_t most, std::uint64_t otherwise) const {
        return has(key) ? number(key, most) : otherwise;
    }

    std::string text(const char* key) const {
        const Json& v = at(key);
        if (!v.is_string() || v.get<std::string>().empty())
            refuse(std::string("'") + key + "' must be a text that is not empty");
        return v.get<std::string>();
    }

    std::optional<Digest> digest(const char* key) const {
        if (!has(key)) return std::nullopt;
        const Json& v = at(key);
        const auto d = v.is_string() ? digestFromHex(v.get<std::string>()) : std::nullopt;
        if (!d) refuse(std::string("'") + key + "' must be 64 hex digits");
        return d;
    }

    // A name from a list, or for a sampler value a number the name list lacks.
    template <class Enum, class FromName>
    Enum named(const char* key, FromName fromName, std::string_view what, bool numbers = false) const {
        const Json& v = at(key);
        if (v.is_string()) {
            if (const auto value = fromName(v.get<std::string>())) return *value;
            refuse("'" + v.get<std::string>() + "' is not " + std::string(what));
        }
        if (numbers && v.is_number_unsigned() && v.get<std::uint64_t>() <= 0xFFFFFFFF)
            return static_cast<Enum>(v.get<std::uint32_t>());
        refuse(std::string("'") + key + "' must be " + std::string(what));
    }

    float floating(const char* key) const {
        const Json& v = at(key);
        if (v.is_number()) {
            const double d = v.get<double>();
            if (std::abs(d) <= 3.4028234663852886e38) return static_cast<float>(d);
        } else if (v.is_string()) {
            const std::string s = v.get<std::string>();
            std::uint32_t bits = 0;
            if (s.size() == 10 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
                std::from_chars(s.data() + 2, s.data() + 10, bits, 16).ptr == s.data() + 10)
                return std::bit_cast<float>(bits);
        }
        refuse(std::string("'") + key + "' must be a number, or 0x and the 8 hex digits of a float");
    }

    [[noreturn]] void refuse(const std::string& why) const { throw Refusal{where_ + why}; }
    const std::string& where() const { return where_; }

private:
    const Json& j_;
    std::string where_;
};

// Written in lower case, and read only so.
std::optional<Quality> qualityWritten(std::string_view name) {
    const auto quality = qualityFromName(name);
    if (quality && qualityName(*quality) == name) return quality;
    return std::nullopt;
}

// Which keys a texture takes: version 1's TPL textures have every one; those of
// version 2 have no offsets and are named where they live; other kinds keep
// their sampler and header bytes and take none of them.
enum class Keys { Version1, Tpl, Other };

ManifestTexture readTexture(const Reader& r, Keys keys) {
    switch (keys) {
        case Keys::Version1:
            r.only({"width", "height", "format", "palette", "levels", "max_lod", "min_lod", "lod_bias", "edge_lod", "wrap_s",
                    "wrap_t", "min_filter", "mag_filter", "unpacked", "quality", "dither", "pictures", "header_offset",
                    "data_offset"});
            break;
        case Keys::Tpl:
            r.only({"member", "container", "texture", "width", "height", "format", "palette", "levels", "max_lod",
                    "min_lod", "lod_bias", "edge_lod", "wrap_s", "wrap_t", "min_filter", "mag_filter", "unpacked",
                    "quality", "dither", "pictures"});
            break;
        case Keys::Other:
            r.only({"member", "container", "texture", "width", "height", "format", "palette", "levels", "quality", "dither",
                    "pictures"});
            break;
    }
    const bool tpl = keys != Keys::Other;
    ManifestTexture t;
    t.width = static_cast<std::uint32_t>(r.number("width", kMaxSide));
    t.height = static_cast<std::uint32_t>(r.number("height", kMaxSide));
    if (t.width == 0 || t.height == 0) r.refuse("'width' and 'height' must be at least 1");
    t.format = r.named<Format>("format", formatFromName, "a texture format (I4, I8, IA4, IA8, RGB565, RGB5A3, RGBA8, C4, C8, C14X2, CMPR)");
    const std::uint32_t most = formatInfo(t.format).maxPaletteEntries;
    if (most > 0 && r.has("palette")) {
        const Reader p(r.at("palette"), r.where() + "palette: ");
        if (keys == Keys::Version1) p.only({"format", "entries", "unpacked", "padding", "header_offset", "data_offset"});
        else if (keys == Keys::Tpl) p.only({"format", "entries", "unpacked", "padding"});
        else p.only({"format", "entries"});
        t.paletteFormat = p.named<PaletteFormat>("format", paletteFormatFromName, "a palette format (IA8, RGB565, RGB5A3)");
        t.paletteEntries = static_cast<std::uint32_t>(p.number("entries", most, 0));
        if (tpl) {
            t.paletteUnpacked = static_cast<std::uint8_t>(p.number("unpacked", 255, 0));
            t.palettePadding = static_cast<std::uint8_t>(p.number("padding", 255, 0));
        }
        if (keys == Keys::Version1) {
            t.paletteHeaderOffset = static_cast<std::uint32_t>(p.number("header_offset", 0xFFFFFFFF, 0));
            t.paletteDataOffset = static_cast<std::uint32_t>(p.number("data_offset", 0xFFFFFFFF, 0));
        }
    } else if (r.has("palette")) {
        r.refuse(std::string(formatName(t.format)) + " takes no palette; remove 'palette'");
    }
    const unsigned levels = std::min(kMaxLevels, levelsToOne(t.width, t.height));
    t.levels = static_cast<unsigned>(r.number("levels", levels, 1));
    if (t.levels == 0) r.refuse("'levels' must be at least 1");
    if (tpl) {
        t.maxLod = static_cast<std::uint8_t>(r.number("max_lod", 255, t.levels - 1));
        t.unpacked = static_cast<std::uint8_t>(r.number("unpacked", 255, 0));
        Sampler& s = t.sampler;
        s.wrapS = r.named<WrapMode>("wrap_s", wrapModeFromName, "a wrap mode (clamp, repeat, mirror)", true);
        s.wrapT = r.named<WrapMode>("wrap_t", wrapModeFromName, "a wrap mode (clamp, repeat, mirror)", true);
        const char* filters = "a filter (near, linear, near_mip_near, lin_mip_near, near_mip_lin, lin_mip_lin)";
        s.minFilter = r.named<TextureFilter>("min_filter", filterFromName, filters, true);
        s.magFilter = r.named<TextureFilter>("mag_filter", filterFromName, filters, true);
        s.lodBias = r.has("lod_bias") ? r.floating("lod_bias") : 0.0f;
        s.edgeLod = static_cast<std::uint8_t>(r.number("edge_lod", 255, 0));
        s.minLod = static_cast<std::uint8_t>(r.number("min_lod", 255, 0));
    }
    if (r.has("quality")) t.quality = r.named<Quality>("quality", qualityWritten, "a quality (fast, normal, best)");
    if (r.has("dither")) {
        if (!r.at("dither").is_boolean()) r.refuse("'dither' must be true or false");
        t.dither = r.at("dither").get<bool>();
    }
    if (keys == Keys::Version1) {
        t.headerOffset = static_cast<std::uint32_t>(r.number("header_offset", 0xFFFFFFFF, 0));
        t.dataOffset = static_cast<std::uint32_t>(r.number("data_offset", 0xFFFFFFFF, 0));
    }

    const Json& pictures = r.at("pictures");
    if (!pictures.is_array() || pictures.empty() || pictures.size() > kMaxLevels)
        r.refuse("'pictures' must be a list of 1 to 11 pictures, level 0 first");
    for (std::size_t l = 0; l < pictures.size(); ++l) {
        if (pictures[l].is_null()) {
            if (l == 0) r.refuse("level 0 needs a picture");
            t.pictures.emplace_back();
            continue;
        }
        const Reader p(pictures[l], r.where() + "picture " + std::to_string(l) + ": ");
        p.only({"file", "sha256", "file_sha256"});
        t.pictures.push_back(ManifestPicture{p.text("file"), p.digest("sha256"), p.digest("file_sha256")});
    }
    return t;
}

// The texture's keys, in the order a person reads them.
Json textureJson(Json j, const ManifestTexture& t, Keys keys) {
    const bool tpl = keys != Keys::Other;
    j["width"] = t.width;
    j["height"] = t.height;
    j["format"] = formatName(t.format);
    if (isPaletteFormat(t.format)) {
        Json palette = {{"format", paletteFormatName(t.paletteFormat)}, {"entries", t.paletteEntries}};
        if (tpl) palette.update({{"unpacked", t.paletteUnpacked}, {"padding", t.palettePadding}});
        if (keys == Keys::Version1)
            palette.update({{"header_offset", t.paletteHeaderOffset}, {"data_offset", t.paletteDataOffset}});
        j["palette"] = std::move(palette);
    }
    j["levels"] = t.levels;
    if (tpl) {
        j["max_lod"] = t.maxLod;
        j["min_lod"] = t.sampler.minLod;
        j["lod_bias"] = floatValue(t.sampler.lodBias);
        j["edge_lod"] = t.sampler.edgeLod;
        j["wrap_s"] = codeOrName(t.sampler.wrapS, wrapModeName(t.sampler.wrapS));
        j["wrap_t"] = codeOrName(t.sampler.wrapT, wrapModeName(t.sampler.wrapT));
        j["min_filter"] = codeOrName(t.sampler.minFilter, filterName(t.sampler.minFilter));
        j["mag_filter"] = codeOrName(t.sampler.magFilter, filterName(t.sampler.magFilter));
        j["unpacked"] = t.unpacked;
    }
    j["quality"] = qualityName(t.quality);
    j["dither"] = t.dither;
    if (keys == Keys::Version1) {
        j["header_offset"] = t.headerOffset;
        j["data_offset"] = t.dataOffset;
    }
    Json pictures = Json::array();
    for (const auto& p : t.pictures) pictures.push_back(p ? pictureJson(*p) : Json(nullptr));
    j["pictures"] = std::move(pictures);
    return j;
}

// File names are bytes: ones that are not UTF-8 are written with U+FFFD.
std::string dumped(const Json& root) { return root.dump(2, ' ', false, Json::error_handler_t::replace) + '\n'; }

constexpr FileKind kTextureKinds[] = {FileKind::Tpl, FileKind::Bti, FileKind::J3d, FileKind::Brres,
                                      FileKind::Tex0, FileKind::Wibn, FileKind::Bnr};

std::optional<FileKind> containerFromName(std::string_view name) {
    for (const FileKind kind : kTextureKinds) {
        const std::string_view known = kindName(kind);
        if (known.size() == name.size() &&
            std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return kind;
    }
    return std::nullopt;
}

// A text that may be empty, unlike Reader::text.
std::string anyText(const Reader& r, const char* key) {
    if (!r.at(key).is_string()) r.refuse(std::string("'") + key + "' must be a text");
    return r.at(key).get<std::string>();
}

// Real archives hold thousands of textures; a manifest of millions is not one decode wrote.
constexpr std::size_t kMaxFileTextures = std::size_t{1} << 20;

SourceFile readSourceFile(const Json& j, std::size_t index) {
    const Reader r(j, "file " + std::to_string(index + 1) + ": ");
    r.only({"path", "size", "sha256", "textures"});
    SourceFile f;
    f.path = r.text("path");
    const Reader named(j, f.path + ": ");
    f.size = named.number("size", kMaxFileSize);
    if (!named.has("sha256")) named.refuse("'sha256' is missing");
    f.digest = *named.digest("sha256");
    const Json& textures = named.at("textures");
    if (!textures.is_array() || textures.empty() || textures.size() > kMaxFileTextures)
        named.refuse("'textures' must be a list of 1 to " + std::to_string(kMaxFileTextures) + " textures");
    std::set<std::string> seen;
    for (std::size_t k = 0; k < textures.size(); ++k) {
        const Reader t(textures[k], f.path + ": texture " + std::to_string(k + 1) + ": ");
        TreeTexture texture;
        texture.member = anyText(t, "member");
        const Json& kind = t.at("container");
        const auto container = kind.is_string() ? containerFromName(kind.get<std::string>()) : std::nullopt;
        if (!container) t.refuse("'container' must be a kind of texture file (TPL, BTI, J3D, BRRES, TEX0, WIBN, BNR)");
        texture.container = *container;
        texture.texture = t.text("texture");
        const Reader at(textures[k], f.path + ": texture " + texture.path() + ": ");
        texture.settings = readTexture(at, *container == FileKind::Tpl ? Keys::Tpl : Keys::Other);
        if (!seen.insert(texture.path()).second) at.refuse("listed twice");
        f.textures.push_back(std::move(texture));
    }
    return f;
}

TreeManifest readTree(const Reader& r) {
    r.only({"tplforge_manifest", "source", "files"});
    TreeManifest m;
    const Reader source(r.at("source"), "source: ");
    source.only({"path", "folder", "skipped"});
    m.source = source.text("path");
    if (!source.at("folder").is_boolean()) source.refuse("'folder' must be true or false");
    m.folder = source.at("folder").get<bool>();
    m.skipped = source.number("skipped", std::numeric_limits<std::uint32_t>::max(), 0);
    const Json& files = r.at("files");
    if (!files.is_array()) r.refuse("'files' must be a list of files");
    if (!m.folder && files.size() != 1) r.refuse("a manifest of one file lists one file in 'files'");
    std::set<std::string> seen;
    for (std::size_t k = 0; k < files.size(); ++k) {
        m.files.push_back(readSourceFile(files[k], k));
        const SourceFile& f = m.files.back();
        const Reader named(files[k], f.path + ": ");
        if (!outputPathOf(m, f)) named.refuse("lies outside the source folder " + m.source);
        if (!seen.insert(fs::path(f.path).lexically_normal().generic_string()).second) named.refuse("listed twice");
    }
    return m;
}

}  // namespace

ManifestTexture recordOf(const TextureRef& texture) {
    const TextureData stored = texture.stored();
    ManifestTexture m;
    m.width = stored.width;
    m.height = stored.height;
    m.format = stored.format;
    m.levels = stored.levels;
    if (isPaletteFormat(stored.format)) {
        m.paletteFormat = stored.paletteFormat;
        m.paletteEntries = static_cast<std::uint32_t>(stored.palette.size());
    }
    if (texture.settings) {
        const TextureSettings& s = *texture.settings;
        m.sampler = s.sampler;
        m.maxLod = s.maxLod.value_or(static_cast<std::uint8_t>(stored.levels - 1));
        m.unpacked = s.unpacked;
        m.paletteUnpacked = s.paletteUnpacked;
        m.palettePadding = s.palettePadding;
    }
    return m;
}

std::optional<std::string> outputPathOf(const TreeManifest& manifest, const SourceFile& file) {
    const fs::path path = fs::path(file.path).lexically_normal();
    if (!manifest.folder) {
        const std::string name = path.filename().string();
        if (name.empty() || name == "." || name == "..") return std::nullopt;
        return name;
    }
    const fs::path below = path.lexically_relative(fs::path(manifest.source).lexically_normal());
    if (below.empty() || below.is_absolute() || below == ".") return std::nullopt;
    for (const fs::path& part : below)
        if (part == "..") return std::nullopt;
    return below.generic_string();
}

std::string writeManifest(const TreeManifest& m) {
    Json root;
    root["tplforge_manifest"] = kTreeManifestVersion;
    root["source"] = {{"path", m.source}, {"folder", m.folder}, {"skipped", m.skipped}};
    Json files = Json::array();
    for (const SourceFile& f : m.files) {
        Json file;
        file["path"] = f.path;
        file["size"] = f.size;
        file["sha256"] = hexText(f.digest);
        Json textures = Json::array();
        for (const TreeTexture& t : f.textures) {
            Json where;
            where["member"] = t.member;
            where["container"] = kindName(t.container);
            where["texture"] = t.texture;
            textures.push_back(textureJson(std::move(where), t.settings, t.container == FileKind::Tpl ? Keys::Tpl : Keys::Other));
        }
        file["textures"] = std::move(textures);
        files.push_back(std::move(file));
    }
    root["files"] = std::move(files);
    return dumped(root);
}

std::string writeManifest(const Manifest& m) {
    Json root;
    root["tplforge_manifest"] = kManifestVersion;
    root["source"] = {{"file", m.sourceFile}, {"path", m.sourcePath}, {"size", m.sourceSize},
                      {"sha256", hexText(m.sourceDigest)}};
    Json textures = Json::array();
    for (const ManifestTexture& t : m.textures) textures.push_back(textureJson(Json::object(), t, Keys::Version1));
    root["textures"] = std::move(textures);
    return dumped(root);
}

Expected<AnyManifest, std::string> readManifest(std::string_view text) {
    const Json root = Json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) return fail(std::string("not valid JSON"));
    try {
        const Reader r(root, "");
        const Json& version = r.at("tplforge_manifest");
        if (!version.is_number_integer()) r.refuse("'tplforge_manifest' must be the manifest's version number");
        if (version.get<std::int64_t>() == kTreeManifestVersion) return AnyManifest(readTree(r));
        if (version.get<std::int64_t>() != kManifestVersion)
            r.refuse("manifest version " + version.dump() + " is not one this tplforge-cli reads (it reads " +
                     std::to_string(kManifestVersion) + " and " + std::to_string(kTreeManifestVersion) + ")");
        r.only({"tplforge_manifest", "source", "textures"});
        Manifest m;
        const Reader source(r.at("source"), "source: ");
        source.only({"file", "path", "size", "sha256"});
        m.sourceFile = source.text("file");
        m.sourcePath = source.has("path") ? source.text("path") : m.sourceFile;
        m.sourceSize = source.number("size", kMaxFileSize);
        m.sourceDigest = source.digest("sha256").value_or(Digest{});
        if (!source.has("sha256")) source.refuse("'sha256' is missing");
        const Json& textures = r.at("textures");
        if (!textures.is_array() || textures.empty() || textures.size() > kMaxTextures)
            r.refuse("'textures' must be a list of 1 to 32767 textures");
        for (std::size_t k = 0; k < textures.size(); ++k)
            m.textures.push_back(readTexture(Reader(textures[k], "texture " + std::to_string(k + 1) + ": "), Keys::Version1));
        return AnyManifest(std::move(m));
    } catch (const Refusal& refusal) {
        return fail(refusal.reason);
    } catch (const nlohmann::json::exception& e) {  // a check above missed a type; still one line
        return fail(std::string("unexpected value: ") + e.what());
    }
}

}  // namespace tplforge::cli
