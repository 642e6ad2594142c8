// The three commands of tplforge-cli, apart from their argument parsing. Each
// prints its own messages (English, naming the file) and returns the exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/raster.h"
#include "tpl/texture_format.h"
#include "tpl/tpl_file.h"

namespace tplforge::cli {

enum ExitStatus : int { kSuccess = 0, kInputFailed = 1, kUsage = 2 };

struct EncodeItem {
    std::string path;
    TextureFormat format = TextureFormat::RGB565;
    ColourValue alphaColour = kWhite;
};

struct EncodeRequest {
    std::vector<EncodeItem> images;
    std::string output;
};

struct DecodeRequest {
    std::string file;
    std::string folder = ".";
    bool bmp = false;
};

struct InfoRequest {
    std::string file;
    bool json = false;
};

int runEncode(const EncodeRequest& request);
int runDecode(const DecodeRequest& request);
int runInfo(const InfoRequest& request);

struct TplInput {
    std::vector<std::uint8_t> bytes;
    TplInfo info;
};
// Reads and checks a TPL file; on failure says why on stderr, naming the file.
std::optional<TplInput> readTplInput(const std::string& path);

// True for a path that goes to the Targa reader rather than the picture loader.
bool isTargaPath(const std::string& path);

// True for a picture the loader draws through Qt's painter with text, which
// needs a font database and so a QGuiApplication: enhanced metafiles (Windows
// metafiles are drawn by libwmf with its own fonts). Decided by content, as the
// loader decides.
bool needsGuiApplication(const std::string& path);

}  // namespace tplforge::cli
