#include <charconv>
#include <filesystem>
#include <mutex>
#include <set>

#include "cli.h"
#include "files.h"
#include "jobs.h"
#include "manifest.h"
#include "tplforge/bmp.h"
#include "tplforge/containers.h"
#include "tplforge/png.h"
#include "tplforge/sha256.h"
#include "tplforge/tpl_edit.h"
#include "window_rules/window_rules.h"

namespace tplforge::cli {

// What a picture of the format holds: I4 and I8 are intensity alone (the console
// also samples it as alpha), IA4 and IA8 intensity and alpha, RGB565 colour.
PngChannels channelsOf(Format format) {
    switch (format) {
        case Format::I4:
        case Format::I8: return PngChannels::Grey;
        case Format::IA4:
        case Format::IA8: return PngChannels::GreyAlpha;
        case Format::RGB565: return PngChannels::Rgb;
        default: return PngChannels::Rgba;
    }
}

namespace {

// Where one container's pictures go: FOLDER/<stem>[.<k>].png, or for kinds of
// named or numbered textures FOLDER/<stem>/<name>.png.
struct Target {
    std::filesystem::path folder;
    std::string stem;
};

// One line of stderr that may hold names from the file.
void refuse(JobOutput& out, const std::string& line) {
    out.err += shown(line) + '\n';
    out.failed = true;
}

// BRRES, J3D models and save banners hold textures by name or many by number: a folder of them.
bool foldered(FileKind kind) { return kind == FileKind::Brres || kind == FileKind::J3d || kind == FileKind::Wibn; }

struct FileDecoder {
    const DecodeRequest& request;
    std::string file;  // what messages name: the path typed, and a member below it
    JobOutput& out;
    Target target;

    // `file` and `what` may hold member and texture names.
    void fail(const std::string& what) { refuse(out, file + ": " + what); }

    // <stem>.png for a lone texture, <stem>.<k>.png otherwise, k being the
    // texture's place in the file so that names stay stable when some are skipped.
    std::string outputPath(std::size_t index, std::size_t count, unsigned level) const {
        std::string name = target.stem;
        if (count > 1) name += "." + std::to_string(index + 1);
        return levelPath(target.folder, name, level);
    }
    std::string levelPath(const std::filesystem::path& folder, std::string name, unsigned level) const {
        if (level > 0) name += ".mip" + std::to_string(level);
        name += request.bmp ? ".bmp" : ".png";
        return (folder / name).string();
    }

    template <class E>
    void write(const std::string& path, const Expected<std::vector<std::uint8_t>, E>& bytes) {
        if (!bytes) {
            out.err += path + ": cannot write: " + std::string(describe(bytes.error())) + '\n';
            out.failed = true;
            return;
        }
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        if (const auto written = writeOutput(path, *bytes); !written) {
            out.err += path + ": " + written.error() + '\n';
            out.failed = true;
        }
    }

    void writePicture(const std::string& path, const Image& picture, PngChannels channels) {
        if (request.bmp)
            write(path, encodeBmp(picture));
        else
            write(path, writePng(picture, channels, request.pngLevel));
    }

    // Every level of every texture as a PNG, and the manifest that build reads
    // back: written last, so that it names only pictures that are there.
    void runManifest(std::span<const std::uint8_t> data, const TplHeaders& info) {
        namespace fs = std::filesystem;
        const std::size_t count = info.images.size();
        std::vector<TextureView> views;
        for (std::size_t k = 0; k < count; ++k) {
            auto view = textureView(data, info.images[k]);
            if (!view)
                return fail("texture " + std::to_string(k + 1) + ": " + std::string(describe(view.error())) +
                            "; no manifest written");
            views.push_back(std::move(view).value());
        }
        Manifest manifest;
        const fs::path source(file);
        manifest.sourceFile = source.filename().string();
        std::error_code ec;
        const fs::path relative = fs::weakly_canonical(source, ec).lexically_relative(fs::weakly_canonical(request.folder, ec));
        manifest.sourcePath = relative.empty() ? fs::absolute(source, ec).string() : relative.string();
        manifest.sourceSize = data.size();
        manifest.sourceDigest = sha256(data);
        for (std::size_t k = 0; k < count; ++k) {
            const TplImageHeader& image = info.images[k];
            const TextureView& view = views[k];
            ManifestTexture t;
            t.width = image.width;
            t.height = image.height;
            t.format = view.format;
            if (view.palette) {
                t.paletteFormat = view.palette->format;
                t.paletteEntries = view.palette->entryCount;
                const TextureSettings kept = settingsOf(image, data);
                t.paletteUnpacked = kept.paletteUnpacked;
                t.palettePadding = kept.palettePadding;
                t.paletteHeaderOffset = image.paletteHeaderOffset;
                t.paletteDataOffset = static_cast<std::uint32_t>(view.palette->words.data() - data.data());
            }
            t.levels = static_cast<unsigned>(view.levels.size());
            t.maxLod = image.maxLod;
            t.unpacked = image.unpacked;
            t.sampler = image.sampler;
            t.headerOffset = image.headerOffset;
            t.dataOffset = image.dataOffset;
            for (unsigned level = 0; level < t.levels; ++level) {
                auto picture = decodeLevel(view, level);
                if (!picture) return fail("texture " + std::to_string(k + 1) + ": " + std::string(describe(picture.error())));
                keepHeldChannels(*picture, view.format);
                const std::string path = outputPath(k, count, level);
                const auto png = writePng(*picture, channelsOf(view.format), request.pngLevel);
                write(path, png);
                if (!png || out.failed) return;
                t.pictures.push_back(ManifestPicture{fs::path(path).filename().string(), pixelDigest(*picture), sha256(*png)});
            }
            manifest.textures.push_back(std::move(t));
        }
        const std::string text = writeManifest(manifest);
        const std::string path = (fs::path(request.folder) / target.stem).string() + ".json";
        if (const auto written = writeOutput(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            !written) {
            out.err += path + ": " + written.error() + '\n';
            out.failed = true;
        }
    }

    // `only`: one texture, numbered from 1; 0 for all.
    void decodeTpl(std::span<const std::uint8_t> data, std::size_t only) {
        auto info = parseTpl(data);
        if (!info) return fail(std::string(describe(info.error())));
        const std::size_t count = info->images.size();
        if (only > count)
            return fail("no texture " + std::to_string(only) + " (the file has " + std::to_string(count) + ")");
        for (std::size_t k = 0; k < count; ++k) {
            if (only != 0 && k + 1 != only) continue;
            const TplImageHeader& image = info->images[k];
            const std::string texture = "texture " + std::to_string(k + 1) + ": ";
            if (request.window) {
                auto decoded = window_rules::decodeTexture(data, image);
                if (!decoded) {
                    fail(texture + "format " + std::string(formatName(image.format)) + " (" +
                         std::to_string(image.format) + ") is not read by the window; skipped");
                    continue;
                }
                const std::string path = outputPath(k, count, 0);
                if (request.bmp)
                    write(path, window_rules::encodeBmp24(decoded->raster));
                else
                    write(path, writePng(window_rules::opaqueImage(decoded->raster), PngChannels::Rgb, request.pngLevel));
                continue;
            }
            auto view = textureView(data, image);
            if (!view) {
                fail(texture + std::string(describe(view.error())) + "; skipped");
                continue;
            }
            const unsigned levels = request.mipmaps ? static_cast<unsigned>(view->levels.size()) : 1;
            for (unsigned level = 0; level < levels; ++level) {
                auto picture = decodeLevel(*view, level);
                if (!picture) {
                    fail(texture + std::string(describe(picture.error())) + "; skipped");
                    break;
                }
                writePicture(outputPath(k, count, level), *picture, channelsOf(view->format));
            }
        }
    }

    // Any other kind of container; `only` one texture by name.
    void decodeContainer(const Member& m, std::span<const std::uint8_t> palette, const std::string& only) {
        if (request.window) return fail("--window reads TPL textures only; skipped");
        auto entries = readTextures(m.bytes, m.kind, palette);
        if (!entries) return fail(describe(entries.error()));
        const std::size_t count = entries->size();
        bool found = false;
        std::set<std::string> fileNames;  // names told apart by control bytes alone meet as file names
        for (std::size_t k = 0; k < count; ++k) {
            const TextureEntry& e = (*entries)[k];
            if (!only.empty() && e.name != only) continue;
            found = true;
            const auto name = safeParts(e.name);
            if (foldered(m.kind) && (!name || name->size() != 1)) {
                fail("texture name \"" + e.name + "\" is not a file name here; skipped");
                continue;
            }
            if (foldered(m.kind) && !fileNames.insert(name->front()).second) {
                fail("texture name \"" + e.name + "\" makes the file name of an earlier texture; skipped");
                continue;
            }
            const unsigned levels = request.mipmaps ? static_cast<unsigned>(e.view.levels.size()) : 1;
            for (unsigned level = 0; level < levels; ++level) {
                auto picture = decodeLevel(e.view, level);
                if (!picture) {
                    fail("texture " + e.name + ": " + std::string(describe(picture.error())) + "; skipped");
                    break;
                }
                const std::string path = foldered(m.kind) ? levelPath(target.folder / target.stem, name->front(), level)
                                                          : outputPath(k, count, level);
                writePicture(path, *picture, channelsOf(e.view.format));
            }
        }
        if (!found) fail("no texture named " + only);
    }

    // What a member or file holds, as its kind is.
    void decodeMember(const Member& m, std::span<const std::uint8_t> palette, const std::string& only) {
        if (m.kind == FileKind::Tpl || (m.kind == FileKind::Unknown && m.path.empty() && only.empty())) {
            std::size_t k = 0;
            if (!only.empty()) {
                const auto [end, ec] = std::from_chars(only.data(), only.data() + only.size(), k);
                if (ec != std::errc() || end != only.data() + only.size() || k == 0)
                    return fail("no texture " + only + " (TPL textures are numbered from 1)");
            }
            return decodeTpl(m.bytes, k);
        }
        if (!holdsTextures(m.kind)) return fail("holds no textures (" + std::string(kindName(m.kind)) + ")");
        decodeContainer(m, palette, only);
    }

    // Every member that holds textures, mirrored under DIR/<stem>/; members on
    // up to `threads` threads, their messages in stored order.
    void decodeArchive(const Member& whole, const std::string& name, unsigned threads) {
        std::vector<FoundMember> members;
        const auto walked = walkTextureMembers(whole.bytes, name, [&](FoundMember&& m) { members.push_back(std::move(m)); });
        if (!walked) return fail(describe(walked.error()));
        const std::filesystem::path root = target.folder / target.stem;
        std::vector<JobOutput> outputs(members.size());
        std::vector<std::optional<Target>> targets(members.size());
        std::set<std::string> taken;  // two members of one stem in one folder would write the same pictures
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Member& m = members[i].member;
            if (members[i].error) continue;
            const auto parts = safeParts(m.path);
            if (!parts) {
                refuse(outputs[i],
                       file + ": member \"" + m.path + "\" would be written outside " + request.folder + "; skipped");
                continue;
            }
            Target t{root, std::filesystem::path(parts->back()).stem().string()};
            for (std::size_t p = 0; p + 1 < parts->size(); ++p) t.folder /= (*parts)[p];
            std::string key = (t.folder / t.stem).string();
            for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!taken.insert(key).second) {
                refuse(outputs[i],
                       file + ": " + m.path + ": its pictures would replace those of an earlier member; skipped");
                continue;
            }
            targets[i] = std::move(t);
        }
        forEachOnThreads(members.size(), threads, [&](std::size_t i) {
            if (members[i].error) return refuse(outputs[i], file + ": " + describe(*members[i].error));
            if (!targets[i]) return;
            FileDecoder member{request, file + ": " + members[i].member.path, outputs[i], *targets[i]};
            member.decodeMember(members[i].member, {}, "");
        });
        for (const JobOutput& o : outputs) {
            out.out += o.out;
            out.err += o.err;
            out.failed = out.failed || o.failed;
        }
    }

    void run(unsigned threads) {
        auto source = openSource(file);
        if (!source) return fail(source.error());
        const Member& m = source->located.member;
        const std::string& rest = source->located.rest;
        const std::string name = m.path.empty() ? source->outer : m.path;
        target = {request.folder, safeFileName(std::filesystem::path(name).filename().stem().string())};
        const bool archive = (isArchive(m.kind) || isWrapper(m.kind)) && rest.empty();
        if (request.manifest) {
            if (!rest.empty() || archive || (m.kind != FileKind::Tpl && m.kind != FileKind::Unknown))
                return fail("--manifest takes TPL files, on their own or inside archives");
            auto info = parseTpl(m.bytes);
            if (!info) return fail(std::string(describe(info.error())));
            return runManifest(m.bytes, *info);
        }
        if (archive) return decodeArchive(m, name, threads);
        decodeMember(m, source->paletteBytes(), rest);
    }
};

}  // namespace

int runDecode(const DecodeRequest& request) {
    std::error_code ec;
    std::filesystem::create_directories(request.folder, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.folder.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    const auto earlier = sameNameAsEarlier(request.files);
    // Several files spread over the threads; the members of one over those it has.
    const std::size_t n = request.files.size();
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(request.run.jobs, n));
    const unsigned perFile = std::max(1u, request.run.jobs / std::max(1u, workers));
    const bool failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        if (earlier[i] != kNoEarlier) return sameNameRefused(request.files[i], request.files[earlier[i]], out);
        FileDecoder{request, request.files[i], out, {}}.run(perFile);
    });
    return failed ? kInputFailed : kSuccess;
}

}  // namespace tplforge::cli
