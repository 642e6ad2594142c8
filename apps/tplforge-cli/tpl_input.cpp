#include <iostream>

#include "commands.h"
#include "common/file_io.h"

namespace tplforge::cli {

std::optional<TplInput> readTplInput(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) {
        std::cerr << path << ": cannot read: " << bytes.error().message() << '\n';
        return std::nullopt;
    }
    auto info = parseTpl(*bytes);
    if (!info) {
        std::cerr << path << ": " << describe(info.error()) << '\n';
        return std::nullopt;
    }
    return TplInput{std::move(bytes).value(), std::move(info).value()};
}

}  // namespace tplforge::cli
