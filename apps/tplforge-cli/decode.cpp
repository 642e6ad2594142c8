// decode: every texture below each PATH written as pictures, laid out as the
// path is: an archive mirrored under DIR/<stem>/, a container of named or
// numbered textures as a folder, a folder of files walked as an archive of
// them. With --manifest every level too, and DIR/<stem>.json, which build turns
// back into the files.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "manifest.h"
#include "tplforge/bmp.h"
#include "tplforge/png.h"
#include "tplforge/sha256.h"
#include "tplforge/tpl_edit.h"
#include "window_rules/window_rules.h"

namespace tplforge::cli {


namespace {

namespace fs = std::filesystem;

// BRRES, J3D models and save banners hold textures by name or many by number: a folder of them.
bool foldered(FileKind kind) { return kind == FileKind::Brres || kind == FileKind::J3d || kind == FileKind::Wibn; }

std::string folded(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Where one container's pictures go, relative to DIR: FOLDER/<stem>[.<k>].png,
// or for kinds of named or numbered textures FOLDER/<stem>/<name>.png.
struct Target {
    fs::path folder;
    std::string stem;
};

// One PATH: a file, a path into one, or a folder whose files are decoded as the
// members of an archive.
struct Input {
    std::string typed;
    bool folder = false;
    std::string name;                 // DIR/<name>.json, and DIR/<name>/ for what is below it
    std::vector<std::string> files;   // a folder's, relative to it, in byte order
};

// One job: a PATH that is a file, or the files of a folder that share a folder
// and a stem, whose pictures could land on the same names and so are decoded in turn.
struct Unit {
    std::size_t input = 0;
    std::vector<std::size_t> files;
};

// What a job leaves for the manifest of its PATH.
struct UnitResult {
    std::vector<std::pair<std::size_t, SourceFile>> sources;  // by the file's place in its folder
    std::optional<Manifest> version1;
    std::uint64_t skipped = 0;
    bool failed = false;
};

std::string relativeTo(const fs::path& path, const std::string& folder) {
    std::error_code ec;
    const fs::path relative = fs::weakly_canonical(path, ec).lexically_relative(fs::weakly_canonical(folder, ec));
    return relative.empty() ? fs::absolute(path, ec).generic_string() : relative.generic_string();
}

class Decoder {
public:
    // `typed`: the PATH, which a version-1 manifest names as its source.
    Decoder(const DecodeRequest& request, std::string typed, JobOutput& out, unsigned threads)
        : request_(request), typed_(std::move(typed)), out_(out), threads_(threads) {}

    // The line may hold member and texture names.
    void fail(const std::string& line) {
        out_.err += shown(line) + '\n';
        out_.failed = true;
    }

    // `display` names the file in messages; `prefix` is its path below a folder
    // PATH ("" for a PATH itself); `root` the folder, relative to DIR, that
    // members and a folder's files are mirrored under.
    void file(const std::string& display, const std::string& open, const std::string& prefix, const fs::path& root,
              std::size_t place, UnitResult& result) {
        if (!prefix.empty()) {
            auto mapped = mapWholeFile(open);
            if (!mapped) return fail(display + ": cannot read: " + mapped.error().message());
            const FileKind kind = detectKind(mapped->bytes(), fs::path(open).filename().string());
            if (!isWrapper(kind) && !isArchive(kind) && !holdsTextures(kind)) {
                ++result.skipped;
                return;
            }
        }
        auto opened = TextureFile::open(open);
        if (!opened) {
            if (!prefix.empty() && opened.error().code == ErrorCode::NoTextures) {
                ++result.skipped;
                return;
            }
            Error e = opened.error();
            e.where = display;
            return fail(describe(e));
        }
        const TextureFile& f = *opened;
        if (!prefix.empty() && f.textures().empty() && f.damaged().empty()) {
            ++result.skipped;
            return;
        }
        // A member no path names apart (an empty or "." part) has no place below DIR either.
        for (DamagedMember d : f.damaged()) {
            d.error.where = d.member;
            fail(display + ": " + (d.error.code == ErrorCode::NoSuchMember
                                       ? "member \"" + d.member + "\" would be written outside " + request_.folder + "; skipped"
                                       : describe(d.error)));
        }

        if (request_.manifest && prefix.empty() && f.kind() == FileKind::Tpl && !f.namesTexture() && f.folder().empty())
            return version1(f, result);

        // What the PATH named: a container's pictures go straight into DIR.
        const std::string named = !f.folder().empty() ? f.folder() : !f.member().empty() ? f.member() : f.diskPath();
        const Target top{{}, safeFileName(fs::path(named).filename().stem().string())};

        // Each member's target, refused when it would leave DIR or land on an earlier one's pictures.
        const auto textures = f.textures();
        std::map<std::string, std::optional<Target>> targets;
        for (const TextureRef& t : textures) {
            if (targets.contains(t.member)) continue;
            std::string rel = belowNamed(f, t.member);
            if (!prefix.empty()) rel = rel.empty() ? prefix : prefix + '/' + rel;
            std::optional<Target> target;
            if (rel.empty()) {
                target = top;
            } else if (const auto parts = safeParts(rel)) {
                target = Target{root, fs::path(parts->back()).stem().string()};
                for (std::size_t p = 0; p + 1 < parts->size(); ++p) target->folder /= (*parts)[p];
            } else {
                fail(display + ": member \"" + t.member + "\" would be written outside " + request_.folder + "; skipped");
            }
            if (target && !taken_.insert(folded((target->folder / target->stem).generic_string())).second) {
                fail(display + ": " + (prefix.empty() ? t.member : rel) +
                     ": its pictures would replace those of an earlier member; skipped");
                target.reset();
            }
            if (target && request_.window && t.container != FileKind::Tpl) {
                fail(display + (t.member.empty() ? "" : ": " + t.member) + ": --window reads TPL textures only; skipped");
                target.reset();
            }
            targets.emplace(t.member, std::move(target));
        }
        // Where each texture's pictures go; names told apart by control bytes alone would meet as file names.
        std::vector<std::optional<fs::path>> bases(textures.size());
        std::map<std::string, std::set<std::string>> fileNames;
        for (std::size_t k = 0; k < textures.size(); ++k) {
            const TextureRef& t = textures[k];
            const auto& target = targets.at(t.member);
            if (!target) continue;
            const std::string at = t.member.empty() ? "" : t.member + ": ";
            if (!foldered(t.container)) {
                bases[k] = target->folder / (target->stem + (t.containerTextures > 1 ? "." + std::to_string(t.number) : ""));
                continue;
            }
            const auto name = safeParts(t.name);
            if (!name || name->size() != 1) {
                fail(display + ": " + at + "texture name \"" + t.name + "\" is not a file name here; skipped");
            } else if (!fileNames[t.member].insert(name->front()).second) {
                fail(display + ": " + at + "texture name \"" + t.name + "\" makes the file name of an earlier texture; skipped");
            } else {
                bases[k] = target->folder / target->stem / name->front();
            }
        }

        // Every texture on the threads there are; messages in stored order.
        std::vector<JobOutput> outputs(textures.size());
        std::vector<std::optional<TreeTexture>> records(textures.size());
        forEachOnThreads(textures.size(), threads_, [&](std::size_t k) {
            if (bases[k]) records[k] = texture(display, textures[k], *bases[k], outputs[k]);
        });
        SourceFile source;
        for (std::size_t k = 0; k < textures.size(); ++k) {
            out_.err += outputs[k].err;
            out_.failed = out_.failed || outputs[k].failed;
            if (records[k]) source.textures.push_back(std::move(*records[k]));
        }
        if (!request_.manifest || source.textures.empty()) return;
        source.path = relativeTo(f.diskPath(), request_.folder);
        source.size = f.bytes().size();
        source.digest = sha256(f.bytes());
        result.sources.emplace_back(place, std::move(source));
    }

private:
    // A member's path below what the PATH named ("" for that member itself).
    static std::string belowNamed(const TextureFile& f, const std::string& member) {
        const std::string& base = !f.folder().empty() ? f.folder() : f.member();
        if (base.empty()) return member;
        return member.size() <= base.size() ? std::string() : member.substr(base.size() + 1);
    }

    std::string extension() const { return request_.bmp ? ".bmp" : ".png"; }

    // The pictures of one texture; with --manifest, what the manifest records of it.
    std::optional<TreeTexture> texture(const std::string& display, const TextureRef& t, const fs::path& base,
                                       JobOutput& out) const {
        const auto refuse = [&](const std::string& why) -> std::optional<TreeTexture> {
            out.err += shown(display + ": " + why) + '\n';
            out.failed = true;
            return std::nullopt;
        };
        const auto levelPath = [&](unsigned level) {
            return base.generic_string() + (level > 0 ? ".mip" + std::to_string(level) : "") + extension();
        };
        const auto full = [&](const std::string& relative) { return (fs::path(request_.folder) / relative).string(); };

        if (request_.window) {
            TplImageHeader image;
            image.width = static_cast<std::uint16_t>(t.view.width);
            image.height = static_cast<std::uint16_t>(t.view.height);
            image.format = static_cast<std::uint32_t>(t.view.format);
            auto decoded = window_rules::decodeTexture(t.view.levels.front(), image);
            if (!decoded)
                return refuse((t.member.empty() ? "" : t.member + ": ") + "texture " + t.name + ": format " +
                              std::string(formatName(t.view.format)) + " (" + std::to_string(image.format) +
                              ") is not read by the window; skipped");
            if (request_.bmp) write(full(levelPath(0)), window_rules::encodeBmp24(decoded->raster), out);
            else write(full(levelPath(0)), writePng(window_rules::opaqueImage(decoded->raster), PngChannels::Rgb, request_.pngLevel), out);
            return std::nullopt;
        }

        const unsigned levels = request_.manifest || request_.mipmaps ? static_cast<unsigned>(t.view.levels.size()) : 1;
        TreeTexture record;
        record.member = t.member;
        record.container = t.container;
        record.texture = t.name;
        ManifestTexture& m = record.settings;
        for (unsigned level = 0; level < levels; ++level) {
            auto picture = t.decode(level);
            if (!picture) return refuse(describe(picture.error()) + "; skipped");
            const std::string path = levelPath(level);
            if (request_.bmp) {
                if (!write(full(path), encodeBmp(*picture), out)) return std::nullopt;
                continue;
            }
            keepHeldChannels(*picture, t.view.format);
            const auto png = writePng(*picture, pngChannelsOf(t.view.format), request_.pngLevel);
            if (!write(full(path), png, out)) return std::nullopt;
            if (request_.manifest) m.pictures.push_back(ManifestPicture{path, pixelDigest(*picture), sha256(*png)});
        }
        if (!request_.manifest) return std::nullopt;
        std::vector<std::optional<ManifestPicture>> pictures = std::move(m.pictures);
        m = recordOf(t);
        m.pictures = std::move(pictures);
        return record;
    }

    template <class E>
    static bool write(const std::string& path, const Expected<std::vector<std::uint8_t>, E>& bytes, JobOutput& out) {
        if (!bytes) {
            out.err += shown(path + ": cannot write: " + std::string(describe(bytes.error()))) + '\n';
            out.failed = true;
            return false;
        }
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (const auto written = writeOutput(path, *bytes); !written) {
            out.err += shown(path + ": " + written.error()) + '\n';
            out.failed = true;
            return false;
        }
        return true;
    }

    // A TPL on its own or named inside an archive: the version-1 manifest, as
    // before there was a second version, every level written as <stem>[.<k>][.mip<l>].png.
    void version1(const TextureFile& f, UnitResult& result) {
        const std::span<const std::uint8_t> data = f.memberBytes();
        const std::string& file = typed_;
        const auto info = parseTpl(data);
        if (!info) return fail(file + ": " + std::string(describe(info.error())));
        const std::size_t count = info->images.size();
        const std::string named = f.member().empty() ? f.diskPath() : f.member();
        const std::string stem = safeFileName(fs::path(named).filename().stem().string());
        Manifest manifest;
        const fs::path source(file);
        manifest.sourceFile = source.filename().string();
        std::error_code ec;
        const fs::path relative = fs::weakly_canonical(source, ec).lexically_relative(fs::weakly_canonical(request_.folder, ec));
        manifest.sourcePath = relative.empty() ? fs::absolute(source, ec).string() : relative.string();
        manifest.sourceSize = data.size();
        manifest.sourceDigest = sha256(data);
        for (std::size_t k = 0; k < count; ++k) {
            const TplImageHeader& image = info->images[k];
            const std::string where = file + ": texture " + std::to_string(k + 1) + ": ";
            const auto view = textureView(data, image);
            if (!view) return fail(where + std::string(describe(view.error())) + "; no manifest written");
            ManifestTexture t;
            t.width = image.width;
            t.height = image.height;
            t.format = view->format;
            if (view->palette) {
                t.paletteFormat = view->palette->format;
                t.paletteEntries = view->palette->entryCount;
                const TextureSettings kept = settingsOf(image, data);
                t.paletteUnpacked = kept.paletteUnpacked;
                t.palettePadding = kept.palettePadding;
                t.paletteHeaderOffset = image.paletteHeaderOffset;
                t.paletteDataOffset = static_cast<std::uint32_t>(view->palette->words.data() - data.data());
            }
            t.levels = static_cast<unsigned>(view->levels.size());
            t.maxLod = image.maxLod;
            t.unpacked = image.unpacked;
            t.sampler = image.sampler;
            t.headerOffset = image.headerOffset;
            t.dataOffset = image.dataOffset;
            for (unsigned level = 0; level < t.levels; ++level) {
                auto picture = decodeLevel(*view, level);
                if (!picture) return fail(where + std::string(describe(picture.error())));
                keepHeldChannels(*picture, view->format);
                std::string name = stem + (count > 1 ? "." + std::to_string(k + 1) : "");
                if (level > 0) name += ".mip" + std::to_string(level);
                name += ".png";
                const auto png = writePng(*picture, pngChannelsOf(view->format), request_.pngLevel);
                if (!write((fs::path(request_.folder) / name).string(), png, out_)) return;
                t.pictures.push_back(ManifestPicture{name, pixelDigest(*picture), sha256(*png)});
            }
            manifest.textures.push_back(std::move(t));
        }
        result.version1 = std::move(manifest);
    }

    const DecodeRequest& request_;
    std::string typed_;
    JobOutput& out_;
    unsigned threads_;
    std::set<std::string> taken_;  // the targets given so far, folded: two members of one stem in one folder
};

// A PATH as the user typed it, with what the folder holds when it is one (DIR
// left out when it lies inside: the pictures of an earlier run are no source).
Expected<Input, std::string> inputOf(const std::string& typed, const std::string& output) {
    Input in;
    in.typed = typed;
    std::error_code ec;
    if (!fs::is_directory(typed, ec)) {
        in.name = safeFileName(fs::path(typed).filename().stem().string());
        return in;
    }
    in.folder = true;
    std::string trimmed = typed;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    in.name = safeFileName(fs::weakly_canonical(trimmed, ec).filename().string());
    if (in.name.empty()) in.name = "root";
    auto files = filesBelow(trimmed);
    if (!files) return fail(files.error());
    const fs::path folder = fs::weakly_canonical(trimmed, ec);
    const std::string below = fs::weakly_canonical(output, ec).lexically_relative(folder).generic_string();
    const bool inside = !below.empty() && below != "." && !below.starts_with("..");
    for (std::string& file : *files)
        if (!inside || !(file == below || file.starts_with(below + '/'))) in.files.push_back(std::move(file));
    in.typed = trimmed;
    return in;
}

// A folder's files in jobs: those of one folder and stem together, in the order of the first of each.
std::vector<Unit> unitsOf(const std::vector<Input>& inputs) {
    std::vector<Unit> units;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].folder) {
            units.push_back({i, {}});
            continue;
        }
        std::map<std::string, std::size_t> byStem;
        for (std::size_t k = 0; k < inputs[i].files.size(); ++k) {
            const fs::path p(inputs[i].files[k]);
            const auto [at, added] = byStem.try_emplace(folded((p.parent_path() / p.stem()).generic_string()), units.size());
            if (added) units.push_back({i, {}});
            units[at->second].files.push_back(k);
        }
    }
    return units;
}

bool writeText(const std::string& path, const std::string& text) {
    const auto written = writeOutput(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (!written) std::fprintf(stderr, "%s: %s\n", path.c_str(), written.error().c_str());
    return written.ok();
}

}  // namespace

int runDecode(const DecodeRequest& request) {
    std::error_code ec;
    fs::create_directories(request.folder, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.folder.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    std::vector<std::string> typed;
    for (std::string t : request.files) {
        while (t.size() > 1 && t.back() == '/' && fs::is_directory(t, ec)) t.pop_back();
        typed.push_back(std::move(t));
    }
    const auto earlier = sameNameAsEarlier(typed);
    bool failed = false;
    std::vector<std::optional<Input>> inputs(typed.size());
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (earlier[i] != kNoEarlier) continue;
        auto in = inputOf(typed[i], request.folder);
        if (!in) {
            std::fprintf(stderr, "%s: %s\n", typed[i].c_str(), in.error().c_str());
            failed = true;
            continue;
        }
        inputs[i] = std::move(in).value();
    }
    std::vector<Input> known;
    for (std::optional<Input>& in : inputs)
        if (in) known.push_back(std::move(*in));
    const std::vector<Unit> units = unitsOf(known);

    // Refusals of repeated names keep their place among the other messages.
    std::vector<UnitResult> results(units.size());
    const std::size_t n = units.size();
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(request.run.jobs, std::max<std::size_t>(n, 1)));
    const unsigned perUnit = std::max(1u, request.run.jobs / std::max(1u, workers));
    for (std::size_t i = 0; i < typed.size(); ++i)
        if (earlier[i] != kNoEarlier) {
            JobOutput out;
            sameNameRefused(typed[i], typed[earlier[i]], out);
            std::fputs(out.err.c_str(), stderr);
            failed = true;
        }
    failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t u, JobOutput& out) {
                 const Unit& unit = units[u];
                 const Input& in = known[unit.input];
                 Decoder decoder(request, in.typed, out, perUnit);
                 if (!in.folder) {
                     decoder.file(in.typed, in.typed, "", fs::path(in.name), 0, results[u]);
                     results[u].failed = out.failed;
                     return;
                 }
                 for (const std::size_t k : unit.files) {
                     const std::string open = (fs::path(in.typed) / in.files[k]).string();
                     decoder.file(open, open, in.files[k], fs::path(in.name), k, results[u]);
                 }
                 results[u].failed = out.failed;
             }) ||
             failed;

    // Each PATH's manifest, written last so that it names only pictures that are there.
    for (std::size_t i = 0; i < known.size(); ++i) {
        const Input& in = known[i];
        TreeManifest tree;
        tree.source = relativeTo(in.typed, request.folder);
        tree.folder = in.folder;
        std::vector<std::pair<std::size_t, SourceFile>> sources;
        std::optional<Manifest> version1;
        bool unitFailed = false;
        for (std::size_t u = 0; u < units.size(); ++u) {
            if (units[u].input != i) continue;
            unitFailed = unitFailed || results[u].failed;
            tree.skipped += results[u].skipped;
            for (auto& s : results[u].sources) sources.push_back(std::move(s));
            if (results[u].version1) version1 = std::move(results[u].version1);
        }
        if (in.folder && tree.skipped > 0)
            std::fprintf(stderr, "%s: note: %llu %s no texture; left out\n", in.typed.c_str(),
                         static_cast<unsigned long long>(tree.skipped), tree.skipped == 1 ? "file holds" : "files hold");
        if (!request.manifest) continue;
        std::sort(sources.begin(), sources.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [place, source] : sources) tree.files.push_back(std::move(source));
        const std::string path = (fs::path(request.folder) / in.name).string() + ".json";
        if (version1) {
            failed = !writeText(path, writeManifest(*version1)) || failed;
        } else if (!tree.folder && tree.files.empty()) {
            if (!unitFailed) std::fprintf(stderr, "%s: note: holds no texture; no manifest written\n", in.typed.c_str());
        } else {
            failed = !writeText(path, writeManifest(tree)) || failed;
        }
    }
    return failed ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
