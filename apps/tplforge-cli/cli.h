// The pieces of tplforge-cli apart from its argument parsing. Each command
// reports on stderr in English, naming the file, and returns the exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tplforge/dolphin.h"
#include "tplforge/png.h"
#include "tplforge/texture.h"
#include "tplforge/texture_file.h"
#include "window_rules/window_raster.h"

namespace tplforge::cli {

enum ExitStatus : int { kSuccess = 0, kInputFailed = 1, kUsage = 2 };


// What applies to one picture of `encode`, set by the options before it.
struct PictureSettings {
    std::string path;
    EncodeOptions encode;
    unsigned mipmaps = 0;          // levels below the picture asked for
    bool mipmapsAuto = false;      // as many as the format allows
    WrapMode wrapS = WrapMode::Clamp, wrapT = WrapMode::Clamp;
    std::optional<TextureFilter> minFilter, magFilter;  // unset: linear (with mipmaps, between levels too)
    std::optional<ColourValue> keyColour;  // -a: pixels of this colour become transparent
};

struct RunOptions {
    unsigned jobs = 0;  // 0: every core, which main resolves before any command runs
    bool quiet = false;
};

struct EncodeRequest {
    std::vector<PictureSettings> pictures;
    std::string output;      // one file for all pictures
    std::string eachFolder;  // --each: one file per picture in this folder
    bool each = false;
    bool window = false;
    RunOptions run;
};

struct DecodeRequest {
    std::vector<std::string> files;
    std::string folder = ".";
    bool bmp = false;
    bool mipmaps = false;
    bool window = false;
    bool manifest = false;  // every level, and <stem>.json for build
    int pngLevel = kDefaultPngLevel;
    RunOptions run;
};

struct BuildRequest {
    std::vector<std::string> manifests;
    std::string output;  // one manifest of one file: the file to write
    std::string folder;  // any number: version 1 DIR/<source name>; version 2 the files that changed, at their paths
    bool inPlace = false;  // the source files that changed written back
    bool strict = false;  // refuse rather than encode everything anew, or merge colours of a palette
    RunOptions run;
};

// Settings typed for one texture of `replace`: what is set replaces the texture's
// own; the key colour is applied to the picture before.
struct SettingChanges : tplforge::SettingChanges {
    std::optional<ColourValue> keyColour;
};

struct Replacement {
    std::size_t texture = 0;  // as typed, from 1
    std::string picture;
    SettingChanges changes;
};

struct ReplaceRequest {
    std::string file;
    std::string output;  // empty: the file itself
    std::vector<Replacement> replacements;
    bool strict = false;
    RunOptions run;
};

struct InfoRequest {
    std::vector<std::string> files;
    bool json = false;
    DolphinMipmaps dolphinMipmaps = DolphinMipmaps::File;  // "_m" in the Dolphin names
    RunOptions run;
};

// What encode writes, by the output's extension: .bti and .tex0 (any case) hold one texture.
enum class OutputKind { Tpl, Bti, Tex0 };
OutputKind outputKindOf(const std::string& path);

int runEncode(const EncodeRequest& request);
int runDecode(const DecodeRequest& request);
int runInfo(const InfoRequest& request);
int runBuild(const BuildRequest& request);
int runReplace(const ReplaceRequest& request);

}  // namespace tplforge::cli
