// tplforge-cli: pictures to TPL textures and back, without the window.
//
//   tplforge-cli encode [-f rgb565|rgb5a3] [-a RRGGBB] IMAGE... -o OUT.tpl
//   tplforge-cli decode FILE.tpl [-o DIR] [--bmp]
//   tplforge-cli info FILE.tpl [--json]
//
// Exit status: 0 done, 1 an input could not be read or converted, 2 usage error.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <QGuiApplication>

#include "commands.h"

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
ColourValue parseAlphaColour(const std::string& text) {
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

// CLI11 gathers each option's values separately; the encoder needs them in the
// order they were typed, because -f and -a apply to the images after them. The
// parser keeps that order in parse_order(), one entry per value taken.
std::vector<EncodeItem> encodeItemsInOrder(const CLI::App& command, const CLI::Option* format,
                                           const CLI::Option* alpha, const CLI::Option* images) {
    std::vector<EncodeItem> items;
    std::map<const CLI::Option*, std::size_t> taken;
    TextureFormat currentFormat = TextureFormat::RGB565;
    ColourValue currentAlpha = kWhite;
    bool settingsSinceLastImage = false;
    for (const CLI::Option* option : command.parse_order()) {
        if (option != format && option != alpha && option != images) continue;
        const std::string& value = option->results().at(taken[option]++);
        if (option == format) {
            currentFormat = lowerCase(value) == "rgb5a3" ? TextureFormat::RGB5A3 : TextureFormat::RGB565;
            settingsSinceLastImage = true;
        } else if (option == alpha) {
            currentAlpha = parseAlphaColour(value);
            settingsSinceLastImage = true;
        } else {
            items.push_back({value, currentFormat, currentAlpha});
            settingsSinceLastImage = false;
        }
    }
    if (settingsSinceLastImage)
        throw CLI::ValidationError("-f/-a", "given after the last IMAGE, so it applies to no image; put it before "
                                            "the images it is meant for");
    return items;
}

// The tool names the file and the reason for every failure itself; Qt's own
// warnings here are about the surroundings (no runtime folder, font fallbacks)
// and would only bury those messages.
void qtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << "tplforge-cli: " << message.toStdString() << '\n';
}

// Only some pictures need a QGuiApplication, and creating one needs a platform
// plugin; without a display the offscreen platform serves.
std::unique_ptr<QGuiApplication> startGuiIfNeeded(const std::vector<EncodeItem>& items, int& argc, char** argv) {
    if (std::none_of(items.begin(), items.end(), [](const EncodeItem& i) { return needsGuiApplication(i.path); }))
        return nullptr;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(qtMessages);
    CLI::App app{"Converts pictures to GameCube/Wii TPL texture files and back."};
    app.name("tplforge-cli");
    app.require_subcommand(1);

    CLI::App* encode = app.add_subcommand(
        "encode", "Write one TPL file holding every IMAGE, in order. -f and -a apply to the images after them.");
    std::vector<std::string> formatValues, alphaValues, imageValues;
    EncodeRequest encodeRequest;
    CLI::Option* formatOption =
        encode->add_option("-f,--format", formatValues, "Texture format of the images that follow (default rgb565)")
            ->type_name("rgb565|rgb5a3")
            ->allow_extra_args(false)
            ->check(CLI::IsMember({"rgb565", "rgb5a3"}, CLI::ignore_case).description(""));
    CLI::Option* alphaOption =
        encode
            ->add_option("-a,--alpha", alphaValues,
                         "Alpha colour for RGB5A3 images that follow, red-green-blue hex (default ffffff)")
            ->type_name("RRGGBB")
            ->allow_extra_args(false)
            ->check(kHexColour);
    CLI::Option* imageOption =
        encode->add_option("IMAGE", imageValues, "Picture file (BMP, GIF, JPEG, PNG, metafile, icon…) or .tga")
            ->type_name("")
            ->required();
    encode->add_option("-o,--output", encodeRequest.output, "TPL file to write")->required()->type_name("OUT.tpl");

    CLI::App* decode = app.add_subcommand("decode", "Write every RGB565/RGB5A3 texture of a TPL file as a picture.");
    DecodeRequest decodeRequest;
    decode->add_option("FILE", decodeRequest.file, "TPL file to read")->required()->type_name("");
    decode->add_option("-o,--output", decodeRequest.folder, "Folder for the pictures (default: current folder)")
        ->type_name("DIR");
    decode->add_flag("--bmp", decodeRequest.bmp, "Write 24-bit BMP instead of PNG");

    CLI::App* info = app.add_subcommand("info", "List the header fields of a TPL file.");
    InfoRequest infoRequest;
    info->add_option("FILE", infoRequest.file, "TPL file to read")->required()->type_name("");
    info->add_flag("--json", infoRequest.json, "Print one JSON object");

    try {
        app.parse(argc, argv);
        if (*encode) encodeRequest.images = encodeItemsInOrder(*encode, formatOption, alphaOption, imageOption);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
    }

    if (*encode) {
        const auto gui = startGuiIfNeeded(encodeRequest.images, argc, argv);
        return runEncode(encodeRequest);
    }
    if (*decode) return runDecode(decodeRequest);
    return runInfo(infoRequest);
}
