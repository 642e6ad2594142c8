// tplforge-cli: pictures to GameCube / Wii TPL textures and back.
//
//   tplforge-cli encode [PER-PICTURE OPTIONS] IMAGE... -o OUT.tpl|OUT.bti|OUT.tex0
//   tplforge-cli encode --each [PER-PICTURE OPTIONS] IMAGE... -d DIR
//   tplforge-cli decode FILE... [-o DIR] [--mipmaps] [--bmp] [--window] [--manifest]
//   tplforge-cli build MANIFEST.json... (-o OUT.tpl | -d DIR) [--strict]
//   tplforge-cli replace FILE [K] [PICTURE OPTIONS] PICTURE... [-o OUT] [--strict]
//   tplforge-cli info FILE... [--json] [--dolphin-mipmaps yes|no|file]
//   tplforge-cli export-pack PATH... -o PACK [--mipmaps] [--by-file]
//   tplforge-cli import-pack PACK PATH... (-d OUT | --in-place) [--size game|pack]
//
// FILE is a texture file or archive, or a path running on into one:
// menu.szs/arc/timg/x.tpl, model.brres/grass, model.bmd/2.
//
// Exit status: 0 done, 1 an input could not be read or converted, 2 usage error.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli.h"
#include "packs.h"
#include "tplforge/file_io.h"
#include "tplforge/version.h"

namespace {

using namespace tplforge;
using namespace tplforge::cli;

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// RRGGBB as written in the usual web notation: red first.
ColourValue parseColour(const std::string& text) {
    std::uint32_t channels[3] = {};
    for (int i = 0; i < 3; ++i)
        channels[i] = static_cast<std::uint32_t>(16 * hexDigit(text[2 * i]) + hexDigit(text[2 * i + 1]));
    return rgb(channels[0], channels[1], channels[2]);
}

const CLI::Validator kHexColour(
    [](std::string& text) -> std::string {
        if (text.size() != 6) return "expected six hex digits RRGGBB, got '" + text + "'";
        for (char c : text)
            if (hexDigit(c) < 0) return "expected six hex digits RRGGBB, got '" + text + "'";
        return {};
    },
    "");

const std::vector<std::string> kFormats = {"i4",     "i8",    "ia4", "ia8", "rgb565", "rgb5a3",
                                           "rgba8",  "c4",    "c8",  "c14x2", "cmpr"};
const std::vector<std::string> kWraps = {"clamp", "repeat", "mirror"};
const std::vector<std::string> kFilters = {"near",         "linear",       "near_mip_near",
                                           "lin_mip_near", "near_mip_lin", "lin_mip_lin"};

std::uint32_t indexIn(const std::vector<std::string>& names, const std::string& name) {
    return static_cast<std::uint32_t>(std::find(names.begin(), names.end(), lowerCase(name)) - names.begin());
}

// "A" or "A,B" with both names from `names`.
CLI::Validator pairOf(const std::vector<std::string>& first, const std::vector<std::string>& second) {
    return CLI::Validator(
        [first, second](std::string& text) -> std::string {
            const auto comma = text.find(',');
            const std::string a = lowerCase(text.substr(0, comma));
            const std::string b = comma == std::string::npos ? "" : lowerCase(text.substr(comma + 1));
            if (indexIn(first, a) == first.size() || (comma != std::string::npos && indexIn(second, b) == second.size()))
                return "'" + text + "' is not one of the names listed in --help";
            return {};
        },
        "");
}

// CLI11 gathers each option's values separately; settings apply to the pictures
// typed after them, so they are replayed in the order the parser met them.
struct PictureOptions {
    CLI::Option *format, *palette, *mipmaps, *wrap, *filter, *quality, *alpha, *dither, *noDither, *images, *entries;

    bool setsPicture(const CLI::Option* option) const {
        return option == format || option == palette || option == mipmaps || option == wrap || option == filter ||
               option == quality || option == alpha || option == dither || option == noDither || option == entries;
    }
};

std::pair<WrapMode, WrapMode> wrapPair(const std::string& value) {
    const auto comma = value.find(',');
    const WrapMode s = *wrapModeFromName(value.substr(0, comma));
    return {s, comma == std::string::npos ? s : *wrapModeFromName(value.substr(comma + 1))};
}

// MIN or MIN,MAG; a lone near or near-between-levels filter magnifies with near.
std::pair<TextureFilter, TextureFilter> filterPair(const std::string& value) {
    const auto comma = value.find(',');
    const TextureFilter min = *filterFromName(value.substr(0, comma));
    const TextureFilter mag = min == TextureFilter::Near ? TextureFilter::Near : TextureFilter::Linear;
    return {min, comma == std::string::npos ? mag : *filterFromName(value.substr(comma + 1))};
}

Quality qualityNamed(const std::string& value) { return qualityFromName(value).value_or(Quality::Normal); }

std::vector<PictureSettings> picturesInOrder(const CLI::App& command, const PictureOptions& o) {
    std::vector<PictureSettings> pictures;
    std::map<const CLI::Option*, std::size_t> taken;
    PictureSettings current;
    current.encode.format = Format::RGB565;
    bool settingsSinceLastImage = false;
    for (const CLI::Option* option : command.parse_order()) {
        const auto& results = option->results();
        const std::string value = taken[option] < results.size() ? results[taken[option]] : "";
        ++taken[option];
        if (option == o.images) {
            current.path = value;
            pictures.push_back(current);
            settingsSinceLastImage = false;
            continue;
        }
        const bool perPicture = o.setsPicture(option);
        if (!perPicture) continue;
        settingsSinceLastImage = true;
        if (option == o.format) {
            current.encode.format = *formatFromName(value);
        } else if (option == o.palette) {
            current.encode.paletteFormat = *paletteFormatFromName(value);
        } else if (option == o.mipmaps) {
            current.mipmapsAuto = lowerCase(value) == "auto";
            current.mipmaps = current.mipmapsAuto ? 0 : static_cast<unsigned>(std::stoul(value));
        } else if (option == o.wrap) {
            std::tie(current.wrapS, current.wrapT) = wrapPair(value);
        } else if (option == o.filter) {
            std::tie(current.minFilter, current.magFilter) = filterPair(value);
        } else if (option == o.quality) {
            current.encode.quality = qualityNamed(value);
        } else if (option == o.entries) {
            current.encode.paletteEntries = static_cast<std::uint32_t>(std::stoul(value));
        } else if (option == o.alpha) {
            current.keyColour = parseColour(value);
        } else if (option == o.dither) {
            current.encode.dither = true;
        } else if (option == o.noDither) {
            current.encode.dither = false;
        }
    }
    if (settingsSinceLastImage)
        throw CLI::ValidationError("picture options", "given after the last IMAGE, so they apply to no picture; put "
                                                      "them before the pictures they are meant for");
    return pictures;
}

// FILE K [options] PICTURE K [options] PICTURE ...: the options between a K
// and its PICTURE change that texture's settings.
ReplaceRequest replacementsInOrder(const CLI::App& command, const PictureOptions& o, ReplaceRequest request) {
    std::map<const CLI::Option*, std::size_t> taken;
    std::size_t positional = 0;
    // FILE PICTURE alone: the one texture FILE holds or its path names.
    const bool noK = o.images->results().size() == 2;
    Replacement current;
    for (const CLI::Option* option : command.parse_order()) {
        const auto& results = option->results();
        const std::string value = taken[option] < results.size() ? results[taken[option]] : "";
        ++taken[option];
        const bool expectingPicture = noK ? positional == 1 : positional > 0 && positional % 2 == 0;
        if (option == o.images) {
            if (positional == 0) {
                request.file = value;
            } else if (!expectingPicture) {
                std::size_t end = 0;
                unsigned long k = 0;
                try {
                    k = std::stoul(value, &end);
                } catch (const std::exception&) {
                    end = 0;
                }
                if (end != value.size() || value.empty() || value[0] == '-')
                    throw CLI::ValidationError("K", "'" + value + "' is not a texture number (1 for the first)");
                current = Replacement{static_cast<std::size_t>(k), {}, {}};
            } else {
                current.picture = value;
                request.replacements.push_back(current);
            }
            ++positional;
            continue;
        }
        const bool perPicture = o.setsPicture(option);
        if (!perPicture) continue;
        if (!expectingPicture)
            throw CLI::ValidationError(option->get_name(), "goes between a texture number K and its PICTURE");
        cli::SettingChanges& c = current.changes;
        if (option == o.format) c.format = *formatFromName(value);
        else if (option == o.palette) c.paletteFormat = *paletteFormatFromName(value);
        else if (option == o.entries) c.paletteEntries = static_cast<std::uint32_t>(std::stoul(value));
        else if (option == o.mipmaps) {
            c.mipmapsAuto = lowerCase(value) == "auto";
            if (!c.mipmapsAuto) c.mipmaps = static_cast<unsigned>(std::stoul(value));
        } else if (option == o.wrap) {
            std::tie(c.wrapS, c.wrapT) = wrapPair(value);
        } else if (option == o.filter) {
            std::tie(c.minFilter, c.magFilter) = filterPair(value);
        } else if (option == o.quality) {
            c.quality = qualityNamed(value);
        } else if (option == o.alpha) {
            c.keyColour = parseColour(value);
        } else {
            c.dither = option == o.dither;
        }
    }
    if (!noK && (positional < 3 || positional % 2 == 0))
        throw CLI::ValidationError("replace", "takes FILE and then pairs of a texture number K and a PICTURE, or FILE "
                                              "and a PICTURE for its only texture");
    return request;
}

// The window writes RGB565 and RGB5A3 with its alpha colour, and nothing else.
void checkWindowSettings(const PictureOptions& o, std::vector<PictureSettings>& pictures) {
    for (const CLI::Option* option : {o.palette, o.mipmaps, o.wrap, o.filter, o.quality, o.dither, o.noDither})
        if (option->count() > 0)
            throw CLI::ValidationError(option->get_name(), "is not a setting of the window; --window takes -f and -a");
    for (const PictureSettings& p : pictures)
        if (p.encode.format != Format::RGB565 && p.encode.format != Format::RGB5A3)
            throw CLI::ValidationError("--window", "the window writes rgb565 and rgb5a3 only");
}

// The settings of one picture: typed before the pictures of encode, between a
// texture number and its picture in replace, where what is not given stays as
// the texture has it.
PictureOptions addPictureOptions(CLI::App* command, std::vector<std::string> (&values)[10], bool& ditherSeen,
                                 bool& noDitherSeen, bool texturesOwn = false) {
    const auto byDefault = [texturesOwn](const std::string& value) {
        return texturesOwn ? std::string(" (default: the texture's own)") : " (default " + value + ")";
    };
    PictureOptions o{};
    o.format = command->add_option("-f,--format", values[0], "Texture format" + byDefault("rgb565"))
                    ->type_name("i4|i8|ia4|ia8|rgb565|rgb5a3|rgba8|c4|c8|c14x2|cmpr")
                    ->allow_extra_args(false)
                    ->check(CLI::IsMember(kFormats, CLI::ignore_case).description(""));
    o.palette = command->add_option("--palette", values[1], "Palette entry format of c4, c8, c14x2" + byDefault("rgb5a3"))
                     ->type_name("ia8|rgb565|rgb5a3")
                     ->allow_extra_args(false)
                     ->check(CLI::IsMember({"ia8", "rgb565", "rgb5a3"}, CLI::ignore_case).description(""));
    o.mipmaps = command->add_option("--mipmaps", values[2],
                                    "Mipmap levels below the picture, or as many as fit" + byDefault("0"))
                     ->type_name("N|auto")
                     ->allow_extra_args(false)
                     ->check((CLI::Range(0, 10) | CLI::IsMember({"auto"}, CLI::ignore_case)).description(""));
    o.wrap = command->add_option("--wrap", values[3], "Wrap mode, both directions or S,T" + byDefault("clamp"))
                  ->type_name("clamp|repeat|mirror[,T]")
                  ->allow_extra_args(false)
                  ->check(pairOf(kWraps, kWraps));
    o.filter = command->add_option("--filter", values[4],
                                   "Min filter, or MIN,MAG; near and linear also filter between mipmaps" +
                                       byDefault("linear"))
                    ->type_name("near|linear|near_mip_near|lin_mip_near|near_mip_lin|lin_mip_lin[,near|linear]")
                    ->allow_extra_args(false)
                    ->check(pairOf(kFilters, {"near", "linear"}));
    o.quality = command->add_option("--quality", values[5], "Effort for cmpr and palettes (default normal)")
                     ->type_name("fast|normal|best")
                     ->allow_extra_args(false)
                     ->check(CLI::IsMember({"fast", "normal", "best"}, CLI::ignore_case).description(""));
    o.alpha = command->add_option("-a,--alpha", values[6],
                                  texturesOwn ? "Pixels of this colour become transparent (default: none)"
                                              : "Pixels of this colour become transparent (default: none; with "
                                                "--window: the RGB5A3 alpha colour, default ffffff)")
                   ->type_name("RRGGBB")
                   ->allow_extra_args(false)
                   ->check(kHexColour);
    o.dither = command->add_flag("--dither", ditherSeen,
                                 "Floyd-Steinberg dithering for palettes that cannot hold every colour");
    o.noDither = command->add_flag("--no-dither", noDitherSeen, "No dithering (the default)");
    o.entries = command->add_option("--palette-entries", values[7], "Most entries of a new palette of c4, c8, c14x2 "
                                                                   "(default: as many as the format indexes)")
                    ->type_name("N")
                    ->allow_extra_args(false)
                    ->check(CLI::Range(1, 16384));
    return o;
}

void addRunOptions(CLI::App* command, RunOptions& run, bool progress) {
    command->add_option("-j,--jobs", run.jobs, "Files worked on at once (default: every core)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    if (progress) command->add_flag("-q,--quiet", run.quiet, "No progress line on a terminal");
}

// The packs' names follow the game's sampler unless told otherwise, as info's do.
void addPackMipmapMark(CLI::App* command, DolphinMipmaps& value) {
    const std::map<std::string, DolphinMipmaps> choices{
        {"file", DolphinMipmaps::File}, {"yes", DolphinMipmaps::Yes}, {"no", DolphinMipmaps::No}};
    command->add_option("--dolphin-mipmaps", value, "Whether the names take _m, as for info (default file)")
        ->type_name("yes|no|file")
        ->transform(CLI::CheckedTransformer(choices, CLI::ignore_case).description(""));
}

// A job on a large picture spent a third of its time in page faults, one per
// 4 KiB of each buffer it touched. Big buffers now come from the heap, which
// keeps what is freed for the next buffer and is backed by 2 MiB pages; the
// pages are taken only as they are used.
void useLargePagesForBuffers() {
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    // One block grows the heap by the pad; the whole pages inside are marked.
    void* block = std::malloc(1 << 20);
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(sbrk(0)) & ~(kLargePage - 1);
    if (block && to > from) (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    std::free(block);
}

}  // namespace

int main(int argc, char** argv) {
    // A command stopped by Ctrl-C or kill leaves no temporary file behind.
    installCleanupOnSignals();
    CLI::App app{"Converts pictures to GameCube/Wii TPL texture files and back."};
    app.name("tplforge-cli");
    app.set_version_flag("--version", "tplforge-cli " + std::string(version()));
    app.require_subcommand(1);

    // Setting up every command's options costs more than a short `info` run
    // itself; when the first word names a command, only that one is set up.
    const std::string_view first = argc > 1 ? argv[1] : "";
    const bool every = first != "encode" && first != "decode" && first != "info" && first != "build" && first != "replace" &&
                       first != "export-pack" && first != "import-pack";
    CLI::App *encode = nullptr, *decode = nullptr, *info = nullptr, *build = nullptr, *replace = nullptr;
    CLI::App *exportPack = nullptr, *importPack = nullptr;
    ExportPackRequest exportRequest;
    ImportPackRequest importRequest;
    CLI::Option *importFolder = nullptr, *importInPlace = nullptr;
    EncodeRequest encodeRequest;
    DecodeRequest decodeRequest;
    InfoRequest infoRequest;
    BuildRequest buildRequest;
    ReplaceRequest replaceRequest;
    PictureOptions replaceOptions{};
    CLI::Option *buildOutput = nullptr, *buildFolder = nullptr;
    bool replaceDither = false, replaceNoDither = false;
    std::vector<std::string> values[10], replaceValues[10], imageValues, replaceArgs;
    PictureOptions po{};
    CLI::Option *output = nullptr, *folder = nullptr;
    bool ditherSeen = false, noDitherSeen = false;  // the order of the flags is what counts

    if (every || first == "encode") {
        encode = app.add_subcommand(
            "encode",
            "Write one TPL file holding every IMAGE, in order (or one file each with --each). The picture options apply "
            "to the images that follow them.");
        po = addPictureOptions(encode, values, ditherSeen, noDitherSeen);
        po.images = encode->add_option("IMAGE", imageValues, "PNG, Targa (.tga), BMP, GIF, JPEG, icon, cursor or metafile")
                        ->type_name("")
                        ->required();
        output = encode->add_option("-o,--output", encodeRequest.output,
                                    "TPL file to write; a name ending in .bti or .tex0 writes that kind, of one picture "
                                    "(a .tex0 of a palette format with its .plt0 beside it)")
                     ->type_name("OUT.tpl");
        encode->add_flag("--each", encodeRequest.each, "One TPL file a picture, DIR/<stem>.tpl");
        folder =
            encode->add_option("-d,--dir", encodeRequest.eachFolder, "Folder for --each (made when missing)")->type_name("DIR");
        encode->add_flag("--window", encodeRequest.window,
                         "Encode as the tplforge window does: rgb565 and rgb5a3 with truncated channels, the alpha colour "
                         "as a colour key, transparency drawn over the window's grey");
        addRunOptions(encode, encodeRequest.run, true);
    }
    if (every || first == "decode") {
        decode = app.add_subcommand("decode",
                                    "Write every texture of texture files as pictures; archives are mirrored under "
                                    "DIR/<archive stem>/, containers of named or numbered textures become folders.");
        decode->add_option("FILE", decodeRequest.files,
                           "TPL, BTI, TEX0, BRRES, J3D or banner files, archives (U8, RARC, Yaz0, opening.bnr), or "
                           "paths into them")
            ->required()
            ->type_name("");
        decode->add_option("-o,--output", decodeRequest.folder, "Folder for the pictures (default: current folder)")
            ->type_name("DIR");
        decode->add_flag("--mipmaps", decodeRequest.mipmaps, "Also write mipmap levels as <stem>.mip<l>.png");
        decode->add_flag("--bmp", decodeRequest.bmp, "Write BMP instead of PNG");
        decode->add_flag("--window", decodeRequest.window,
                         "Read RGB565 and RGB5A3 as the tplforge window does (other formats are skipped)");
        decode->add_flag("--manifest", decodeRequest.manifest,
                         "Also write every mipmap level and DIR/<stem>.json, which build turns back into the file");
        decode->add_option("--png-level", decodeRequest.pngLevel, "PNG compression, 0 (fastest) to 9 (smallest); default 4")
            ->check(CLI::Range(0, 9))
            ->type_name("0-9");
        addRunOptions(decode, decodeRequest.run, true);
    }
    if (every || first == "build") {
        build = app.add_subcommand("build",
                                   "Write the TPL file a manifest of decode --manifest describes: textures whose pictures "
                                   "are unchanged keep their bytes, edited ones are encoded with their settings.");
        build->add_option("MANIFEST", buildRequest.manifests, "Manifests (.json) to build")->required()->type_name("");
        buildOutput = build->add_option("-o,--output", buildRequest.output, "TPL file to write (one manifest), or a TPL member of an archive to write back")
                          ->type_name("OUT.tpl");
        buildFolder = build->add_option("-d,--dir", buildRequest.folder,
                                        "Folder for DIR/<source name>, one file a manifest (made when missing)")
                          ->type_name("DIR");
        build->add_flag("--strict", buildRequest.strict,
                        "Refuse a source that is not the file the manifest was made from, and a palette that cannot "
                        "hold the colours, instead of encoding anew or merging colours");
        addRunOptions(build, buildRequest.run, true);
    }
    if (every || first == "replace") {
        replace = app.add_subcommand("replace",
                                     "Put PICTURE in place of texture K (1 for the first) with that texture's settings; "
                                     "options between K and PICTURE change them. Every other texture, and every other "
                                     "member of an archive, keeps its bytes.");
        replaceOptions = addPictureOptions(replace, replaceValues, replaceDither, replaceNoDither, true);
        replaceOptions.images = replace->add_option("FILE", replaceArgs,
                                                    "The file or a path into an archive, then pairs of a texture number "
                                                    "K and a PICTURE; K left out for one texture")
                                    ->type_name("")
                                    ->required();
        replace->add_option("-o,--output", replaceRequest.output,
                            "File to write (default: FILE itself, or the archive FILE runs through)")
            ->type_name("OUT");
        replace->add_flag("--strict", replaceRequest.strict,
                          "Refuse a picture with more colours than its texture's palette holds");
        addRunOptions(replace, replaceRequest.run, false);
    }
    if (every || first == "info") {
        info = app.add_subcommand("info",
                                  "List the headers, palettes and levels of texture files, and of every member of an "
                                  "archive that holds textures.");
        info->add_option("FILE", infoRequest.files, "Texture files, archives, or paths into them")
            ->required()
            ->type_name("");
        info->add_flag("--json", infoRequest.json, "Print JSON: one object, or an array of them for several files");
        const std::map<std::string, DolphinMipmaps> mipmapChoices{
            {"file", DolphinMipmaps::File}, {"yes", DolphinMipmaps::Yes}, {"no", DolphinMipmaps::No}};
        info->add_option("--dolphin-mipmaps", infoRequest.dolphinMipmaps,
                         "Whether Dolphin's names take _m: as the file's min filter says (TEX0: more than one "
                         "level), or forced for a game whose sampler differs (default file)")
            ->type_name("yes|no|file")
            ->transform(CLI::CheckedTransformer(mipmapChoices, CLI::ignore_case).description(""));
        addRunOptions(info, infoRequest.run, false);
    }
    if (every || first == "export-pack") {
        exportPack = app.add_subcommand("export-pack",
                                        "Write every texture of game files as Dolphin dumps it, PACK/<Dolphin name>.png, "
                                        "to make a texture pack from the game's files.");
        exportPack->add_option("PATH", exportRequest.paths,
                               "Texture files, archives, paths into them, or folders of them (walked; other files "
                               "are skipped)")
            ->required()
            ->type_name("");
        exportPack->add_option("-o,--output", exportRequest.pack, "The pack's folder (made when missing)")
            ->required()
            ->type_name("PACK");
        exportPack->add_flag("--mipmaps", exportRequest.mipmaps,
                             "Also write the levels Dolphin dumps, <name>_mip1.png, <name>_mip2.png, ...");
        exportPack->add_flag("--by-file", exportRequest.byFile,
                             "One folder a file and member, PACK/<file>/<member>/<name>.png, instead of one folder");
        addPackMipmapMark(exportPack, exportRequest.dolphinMipmaps);
        addRunOptions(exportPack, exportRequest.run, true);
    }
    if (every || first == "import-pack") {
        importPack = app.add_subcommand("import-pack",
                                        "Put the pictures of a Dolphin texture pack in place of every texture of the game "
                                        "files that carries their names; each texture keeps its format, palette, levels "
                                        "and sampler. Only files that change are written.");
        importPack->add_option("PACK", importRequest.pack, "The pack's folder: tex1_*.png in it and its sub-folders")
            ->required()
            ->type_name("");
        importPack->add_option("PATH", importRequest.paths, "Texture files, archives, paths into them, or folders of them")
            ->required()
            ->type_name("");
        importFolder = importPack->add_option("-d,--dir", importRequest.folder,
                                              "Write changed files here, at their paths below PATH (a file PATH: "
                                              "OUT/<its name>)")
                           ->type_name("OUT");
        importInPlace = importPack->add_flag("--in-place", importRequest.inPlace, "Write changed files over themselves");
        const std::map<std::string, PackSize> sizeChoices{{"game", PackSize::Game}, {"pack", PackSize::Pack}};
        importPack->add_option("--size", importRequest.size,
                               "A picture of another size than its texture: scaled to the texture (game, the default), "
                               "or kept where the file can take another size (pack: TPL, BRRES, BTI, TEX0)")
            ->type_name("game|pack")
            ->transform(CLI::CheckedTransformer(sizeChoices, CLI::ignore_case).description(""));
        addPackMipmapMark(importPack, importRequest.dolphinMipmaps);
        importPack->add_flag("-v,--verbose", importRequest.verbose,
                             "List the pack pictures that matched no texture, and the textures of those that matched several");
        addRunOptions(importPack, importRequest.run, true);
    }

    try {
        app.parse(argc, argv);
        if (encode && *encode) {
            encodeRequest.pictures = picturesInOrder(*encode, po);
            if (encodeRequest.window) checkWindowSettings(po, encodeRequest.pictures);
            if (encodeRequest.each && folder->count() == 0) throw CLI::RequiredError("--each needs -d DIR");
            if (!encodeRequest.each && output->count() == 0) throw CLI::RequiredError("-o OUT.tpl");
            if (encodeRequest.each && output->count() > 0)
                throw CLI::ValidationError("-o", "--each writes DIR/<stem>.tpl; give -d DIR instead");
            if (!encodeRequest.each && outputKindOf(encodeRequest.output) != OutputKind::Tpl &&
                (encodeRequest.window || encodeRequest.pictures.size() != 1))
                throw CLI::ValidationError("-o", "a .bti or .tex0 file holds one picture, and not with --window");
        }
        if (decode && *decode && decodeRequest.manifest && (decodeRequest.bmp || decodeRequest.window))
            throw CLI::ValidationError("--manifest", "writes PNG pictures of the console's view; not with --bmp or --window");
        if (build && *build) {
            if ((buildOutput->count() > 0) == (buildFolder->count() > 0))
                throw CLI::RequiredError("build needs either -o OUT.tpl (one manifest) or -d DIR");
            if (buildOutput->count() > 0 && buildRequest.manifests.size() > 1)
                throw CLI::ValidationError("-o", "names one file; give -d DIR for several manifests");
        }
        if (replace && *replace) replaceRequest = replacementsInOrder(*replace, replaceOptions, std::move(replaceRequest));
        if (importPack && *importPack && (importFolder->count() > 0) == (importInPlace->count() > 0))
            throw CLI::RequiredError("import-pack needs either -d OUT or --in-place");
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
    }

    for (RunOptions* run : {&encodeRequest.run, &decodeRequest.run, &infoRequest.run, &buildRequest.run, &replaceRequest.run,
                            &exportRequest.run, &importRequest.run})
        if (run->jobs == 0) run->jobs = std::max(1u, std::thread::hardware_concurrency());
    if (!(info && *info)) useLargePagesForBuffers();
    if (encode && *encode) return runEncode(encodeRequest);
    if (decode && *decode) return runDecode(decodeRequest);
    if (build && *build) return runBuild(buildRequest);
    if (replace && *replace) return runReplace(replaceRequest);
    if (exportPack && *exportPack) return runExportPack(exportRequest);
    if (importPack && *importPack) return runImportPack(importRequest);
    return runInfo(infoRequest);
}
