#include <bit>
#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "tplforge/containers.h"
#include "tplforge/dolphin.h"
#include "tplforge/info.h"

namespace tplforge::cli {

namespace {

using Json = nlohmann::ordered_json;

// GX sampler values, named for people; the JSON keeps the numbers.
std::string wrapNameOf(WrapMode mode) { return std::string(wrapModeName(mode)); }
std::string filterNameOf(TextureFilter filter) { return std::string(filterName(filter)); }
std::uint32_t code(WrapMode mode) { return static_cast<std::uint32_t>(mode); }
std::uint32_t code(TextureFilter filter) { return static_cast<std::uint32_t>(filter); }

std::string named(const std::string& name, std::uint32_t value) { return name + " (" + std::to_string(value) + ")"; }

// The shortest text that reads back as the same float.
std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// What a texture's palette and levels are, or why they cannot be read.
struct Extra {
    std::optional<TextureView> view;
    std::string problem;
};

Extra extraOf(std::span<const std::uint8_t> file, const TplImageHeader& image) {
    auto view = textureView(file, image);
    if (!view) return {std::nullopt, std::string(describe(view.error()))};
    return {std::move(view).value(), {}};
}

std::string samplerText(const Sampler& s, std::optional<std::uint32_t> maxLod) {
    return "  wrap s / t:     " + named(wrapNameOf(s.wrapS), code(s.wrapS)) + " / " +
           named(wrapNameOf(s.wrapT), code(s.wrapT)) + '\n' +
           "  min / mag:      " + named(filterNameOf(s.minFilter), code(s.minFilter)) + " / " +
           named(filterNameOf(s.magFilter), code(s.magFilter)) + '\n' +
           "  lod bias:       " + floatText(s.lodBias) + '\n' +
           "  edge lod:       " + std::to_string(s.edgeLod) + '\n' +
           (maxLod ? "  min / max lod:  " + std::to_string(s.minLod) + " / " + std::to_string(*maxLod) + '\n'
                   : "  min lod:        " + std::to_string(s.minLod) + '\n');
}

// A texture's name in Dolphin's dumps and texture packs, or why it has none.
struct Dolphin {
    std::optional<DolphinName> name;
    std::string note;
};

Dolphin dolphinOf(const TextureView* view, const DolphinSampling& sampling, DolphinMipmaps mipmaps) {
    if (!view) return {std::nullopt, "its levels or palette cannot be read"};
    auto name = dolphinName(*view, sampling, mipmaps);
    if (!name) return {std::nullopt, std::string(describe(name.error()))};
    std::string note = dolphinNote(*name);
    return {std::move(name).value(), std::move(note)};
}

std::string dolphinText(const Dolphin& d) {
    std::string out;
    if (d.name) {
        out += "  dolphin:        " + d.name->name + '\n';
        const std::size_t mips = d.name->levels.size();
        if (mips > 0)
            out += "  dolphin mips:   _mip1" + (mips > 1 ? " to _mip" + std::to_string(mips) : std::string()) + '\n';
    }
    if (!d.note.empty()) out += "  dolphin note:   " + d.note + '\n';
    return out;
}

void dolphinJson(Json& j, const Dolphin& d) {
    j["dolphin"] = d.name ? Json(d.name->name) : Json(nullptr);
    if (d.name) j["dolphin_mips"] = d.name->levels;
    if (!d.note.empty()) j["dolphin_note"] = d.note;
}

Json jsonOf(const InfoField& field) {
    switch (field.kind) {
        case InfoField::Kind::Number: return field.number;
        case InfoField::Kind::Float: return field.real;
        case InfoField::Kind::Text: return field.text;
        case InfoField::Kind::Texts: return field.texts;
        case InfoField::Kind::Null: break;
    }
    return nullptr;
}

DolphinSampling tplSampling(const TplImageHeader& t) {
    return dolphinSampling(t.sampler, static_cast<float>(t.maxLod));
}

std::string paletteText(const PaletteView& p) {
    return "  palette:        " +
           named(std::string(paletteFormatName(static_cast<std::uint32_t>(p.format))), static_cast<std::uint32_t>(p.format)) +
           ", " + std::to_string(p.entryCount) + " entries\n";
}

// The texture blocks of a TPL; `only` (a number from 1) keeps one.
std::string tplTextures(std::span<const std::uint8_t> bytes, const TplHeaders& info, DolphinMipmaps mipmaps,
                        std::size_t only = 0) {
    std::string out;
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        if (only != 0 && k + 1 != only) continue;
        const TplImageHeader& t = info.images[k];
        const Extra extra = extraOf(bytes, t);
        out += "\ntexture " + std::to_string(k + 1) + '\n';
        out += "  size:           " + std::to_string(t.width) + " x " + std::to_string(t.height) + '\n';
        out += "  format:         " + named(std::string(formatName(t.format)), t.format) + '\n';
        out += "  data offset:    " + std::to_string(t.dataOffset) + '\n';
        out += "  levels:         " + std::to_string(levelsHeld(t)) + '\n';
        if (t.paletteHeaderOffset != 0 || (extra.view && extra.view->palette)) {
            out += "  palette header: " + std::to_string(t.paletteHeaderOffset) + '\n';
            if (extra.view && extra.view->palette) out += paletteText(*extra.view->palette);
        }
        out += samplerText(t.sampler, t.maxLod);
        out += dolphinText(dolphinOf(extra.view ? &*extra.view : nullptr, tplSampling(t), mipmaps));
        if (!extra.problem.empty()) out += "  problem:        " + shown(extra.problem) + '\n';
    }
    return out;
}

std::string text(const std::string& file, std::span<const std::uint8_t> bytes, const TplHeaders& info,
                 DolphinMipmaps mipmaps) {
    return "file: " + shown(file) + "\nsize: " + std::to_string(info.fileSize) + " bytes\ntextures: " +
           std::to_string(info.images.size()) + '\n' + tplTextures(bytes, info, mipmaps);
}

Json tplJson(std::span<const std::uint8_t> bytes, const TplHeaders& info, DolphinMipmaps mipmaps,
             std::size_t only = 0) {
    Json textures = Json::array();
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        if (only != 0 && k + 1 != only) continue;
        Json j;
        for (const InfoField& field : tplTextureInfo(bytes, info.images[k], k + 1, mipmaps))
            j[std::string(field.key)] = jsonOf(field);
        textures.push_back(std::move(j));
    }
    return textures;
}

Json json(const std::string& file, std::span<const std::uint8_t> bytes, const TplHeaders& info,
          DolphinMipmaps mipmaps) {
    Json j;
    j["file"] = file;
    j["size"] = info.fileSize;
    j["textures"] = tplJson(bytes, info, mipmaps);
    return j;
}

// The textures of one container, as info lists them, or why it cannot be read.
struct Listed {
    std::string text;  // a block a texture
    Json textures = Json::array();
    std::size_t count = 0;
    std::string problem;
};

Json samplerJson(Json j, const Sampler& s) {
    j["wrap_s"] = code(s.wrapS);
    j["wrap_t"] = code(s.wrapT);
    j["min_filter"] = code(s.minFilter);
    j["mag_filter"] = code(s.magFilter);
    j["lod_bias"] = std::isfinite(s.lodBias) ? Json(s.lodBias) : Json(nullptr);
    j["edge_lod"] = s.edgeLod;
    j["min_lod"] = s.minLod;
    return j;
}

// `only`: one texture by its name (a number from 1 where they are numbered).
Listed listTextures(std::span<const std::uint8_t> bytes, FileKind kind, std::span<const std::uint8_t> palette,
                    const std::string& only, DolphinMipmaps mipmaps) {
    Listed l;
    if (kind == FileKind::Tpl) {
        auto info = parseTpl(bytes);
        if (!info) {
            l.problem = std::string(describe(info.error()));
            return l;
        }
        std::size_t k = 0;
        if (!only.empty()) {
            const auto [end, ec] = std::from_chars(only.data(), only.data() + only.size(), k);
            if (ec != std::errc() || end != only.data() + only.size() || k == 0 || k > info->images.size()) {
                l.problem = "no texture " + only + " (the file has " + std::to_string(info->images.size()) + ")";
                return l;
            }
        }
        l.text = tplTextures(bytes, *info, mipmaps, k);
        l.textures = tplJson(bytes, *info, mipmaps, k);
        l.count = k != 0 ? 1 : info->images.size();
        return l;
    }
    auto entries = readTextures(bytes, kind, palette);
    if (!entries) {
        l.problem = describe(entries.error());
        return l;
    }
    for (const TextureEntry& e : *entries) {
        if (!only.empty() && e.name != only) continue;
        const TextureView& v = e.view;
        ++l.count;
        l.text += "\ntexture " + shown(e.name) + (e.storedName.empty() ? "" : " (" + shown(e.storedName) + ")") + '\n';
        l.text += "  size:           " + std::to_string(v.width) + " x " + std::to_string(v.height) + '\n';
        l.text += "  format:         " + named(std::string(formatName(v.format)), static_cast<std::uint32_t>(v.format)) + '\n';
        l.text += "  levels:         " + std::to_string(v.levels.size()) + '\n';
        if (v.palette) l.text += paletteText(*v.palette);
        if (e.sampler) l.text += samplerText(*e.sampler, std::nullopt);
        // Files without a sampler of their own tell mipmapping by their levels alone.
        const Dolphin dolphin = dolphinOf(&v, e.sampler ? dolphinSampling(*e.sampler) : dolphinSampling(v), mipmaps);
        l.text += dolphinText(dolphin);
        Json j;
        j["name"] = e.name;
        if (!e.storedName.empty()) j["stored_name"] = e.storedName;
        j["width"] = v.width;
        j["height"] = v.height;
        j["format"] = formatName(v.format);
        j["code"] = static_cast<std::uint32_t>(v.format);
        j["levels"] = v.levels.size();
        if (v.palette) {
            j["palette_format"] = paletteFormatName(v.palette->format);
            j["palette_code"] = static_cast<std::uint32_t>(v.palette->format);
            j["palette_entries"] = v.palette->entryCount;
        }
        if (e.sampler) j = samplerJson(std::move(j), *e.sampler);
        dolphinJson(j, dolphin);
        l.textures.push_back(std::move(j));
    }
    if (!only.empty() && l.count == 0) l.problem = "no texture named " + only;
    return l;
}

std::string dump(const Json& j) {
    // File names are bytes: ones that are not UTF-8 are shown with U+FFFD rather than refused.
    std::string text = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    // JSON escapes every control byte but DEL; it can only stand inside a string.
    for (auto at = text.find('\x7f'); at != std::string::npos; at = text.find('\x7f', at))
        text.replace(at, 1, "\\u007f");
    return text;
}

// One file's listing, or the reason it has none; `damaged` gathers the lines of
// members that could not be read, the others being listed all the same.
struct Listing {
    std::string text;
    Json json;
    std::string refusal;
    std::vector<std::string> damaged;
};

std::string kindLine(FileKind kind) { return "kind: " + std::string(kindName(kind)) + '\n'; }

Listing listArchive(const Source& source, DolphinMipmaps mipmaps) {
    Listing out;
    const Member& whole = source.located.member;
    std::string members;
    Json list = Json::array();
    std::size_t count = 0;
    const std::string name = whole.path.empty() ? source.outer : whole.path;
    const auto walked = walkTextureMembers(whole.bytes, name, [&](FoundMember&& found) {
        const Member& m = found.member;
        ++count;
        members += "\nmember: " + shown(m.path) + '\n' + kindLine(m.kind);
        Json j;
        j["path"] = m.path;
        j["kind"] = kindName(m.kind);
        std::string problem;
        if (found.error) {
            problem = describe(*found.error);
        } else {
            const Listed listed = listTextures(m.bytes, m.kind, {}, "", mipmaps);
            if (!listed.problem.empty()) {
                problem = m.path + ": " + listed.problem;
            } else {
                members += "size: " + std::to_string(m.bytes.size()) + " bytes\ntextures: " + std::to_string(listed.count) +
                           '\n' + listed.text;
                j["size"] = m.bytes.size();
                j["textures"] = listed.textures;
            }
        }
        if (!problem.empty()) {
            members += "problem: " + shown(problem) + '\n';
            j["error"] = problem;
            out.damaged.push_back(problem);
        }
        list.push_back(std::move(j));
    });
    if (!walked) {
        out.refusal = describe(walked.error());
        return out;
    }
    const std::size_t size = whole.path.empty() ? source.file.bytes().size() : whole.bytes.size();
    out.text = "file: " + shown(source.typed) + "\nsize: " + std::to_string(size) + " bytes\n" +
               kindLine(detectKind(whole.path.empty() ? source.file.bytes() : whole.bytes, name)) +
               "members: " + std::to_string(count) + '\n' + members;
    out.json["file"] = source.typed;
    out.json["size"] = size;
    out.json["kind"] = kindName(detectKind(whole.path.empty() ? source.file.bytes() : whole.bytes, name));
    out.json["members"] = std::move(list);
    return out;
}

Listing listFile(const std::string& file, DolphinMipmaps mipmaps) {
    Listing out;
    auto source = openSource(file);
    if (!source) {
        out.refusal = source.error();
        return out;
    }
    const Member& m = source->located.member;
    const std::string& rest = source->located.rest;
    // A file of no kind known is taken for a TPL, so that it is refused as one.
    const bool tpl = m.kind == FileKind::Tpl || (m.kind == FileKind::Unknown && m.path.empty());
    if (tpl && source->isWholeFile()) {
        const auto info = parseTpl(m.bytes);
        if (!info) {
            out.refusal = std::string(describe(info.error()));
            return out;
        }
        out.text = text(file, m.bytes, *info, mipmaps);
        out.json = json(file, m.bytes, *info, mipmaps);
        return out;
    }
    if ((isArchive(m.kind) || isWrapper(m.kind)) && rest.empty()) return listArchive(*source, mipmaps);
    if (!holdsTextures(m.kind)) {
        out.refusal = (m.path.empty() ? "" : m.path + ": ") + "holds no textures (" + std::string(kindName(m.kind)) + ")";
        return out;
    }
    const Listed listed = listTextures(m.bytes, m.kind, source->paletteBytes(), rest, mipmaps);
    if (!listed.problem.empty()) {
        out.refusal = (m.path.empty() ? "" : m.path + ": ") + listed.problem;
        return out;
    }
    out.text = "file: " + shown(file) + "\nsize: " + std::to_string(m.bytes.size()) + " bytes\n" + kindLine(m.kind) +
               "textures: " + std::to_string(listed.count) + '\n' + listed.text;
    out.json["file"] = file;
    out.json["size"] = m.bytes.size();
    out.json["kind"] = kindName(m.kind);
    out.json["textures"] = listed.textures;
    return out;
}

}  // namespace

int runInfo(const InfoRequest& request) {
    const std::size_t n = request.files.size();
    const bool array = request.json && n > 1;
    if (array) std::fputs("[", stdout);
    const unsigned threads = request.run.jobs;
    const bool failed = runJobs(n, threads, false, [&](std::size_t i, JobOutput& out) {
        const std::string& file = request.files[i];
        const std::string separator = array && i > 0 ? ",\n" : "";
        const Listing listing = listFile(file, request.dolphinMipmaps);
        // In a JSON array every file keeps its place, a failed one as its error.
        if (!listing.refusal.empty()) {
            out.err = shown(file + ": " + listing.refusal) + '\n';
            out.failed = true;
            if (array) out.out = separator + dump(Json{{"file", file}, {"error", listing.refusal}});
            return;
        }
        for (const std::string& line : listing.damaged) out.err += shown(file + ": " + line) + '\n';
        out.failed = !listing.damaged.empty();
        if (request.json)
            out.out = separator + dump(listing.json) + (array ? "" : "\n");
        else
            out.out = (i > 0 ? "\n" : "") + listing.text;
    });
    if (array) std::fputs("]\n", stdout);
    std::fflush(stdout);
    return failed || std::ferror(stdout) ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
