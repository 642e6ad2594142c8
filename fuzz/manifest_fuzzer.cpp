// Fuzz target for the manifest reader, both versions: any text either is refused
// with a reason or reads into a manifest that writes out and reads back to the
// same manifest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "fuzz_entry.h"
#include "manifest.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

int manifestFuzzOne(const std::uint8_t* data, std::size_t size) {
    using namespace tplforge::cli;
    const auto manifest = readManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!manifest) {
        require(!manifest.error().empty() && manifest.error().find('\n') == std::string::npos);
        return 0;
    }
    const auto write = [](const AnyManifest& m) { return std::visit([](const auto& v) { return writeManifest(v); }, m); };
    const std::string written = write(*manifest);
    const auto again = readManifest(written);
    require(again.ok());
    require(again->index() == manifest->index());
    require(write(*again) == written);
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return manifestFuzzOne(data, size);
}
#endif
