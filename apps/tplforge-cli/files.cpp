#include "files.h"

namespace tplforge::cli {

Expected<InputFile, std::string> openInput(const std::string& path) {
    auto mapped = mapWholeFile(path);
    if (!mapped) return fail("cannot read: " + mapped.error().message());
    return InputFile(std::move(mapped).value());
}

Expected<void, std::string> writeOutput(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (const auto written = writeFileAtomically(path, bytes, Flush::WhenReplacing); !written)
        return fail("cannot write: " + written.error().message());
    return {};
}

}  // namespace tplforge::cli
