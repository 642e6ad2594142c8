// The one place where commands get the bytes of a file they read and put the
// bytes of one they write, so that a path into an archive can be resolved here
// later without touching the commands.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tplforge/expected.h"
#include "tplforge/file_io.h"

namespace tplforge::cli {

class InputFile {
public:
    explicit InputFile(MappedFile mapped) : mapped_(std::move(mapped)) {}
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return mapped_.bytes(); }

private:
    MappedFile mapped_;
};

// The reason is English and names no file: "cannot read: No such file or directory".
[[nodiscard]] Expected<InputFile, std::string> openInput(const std::string& path);

// Atomically, as every write is: a temporary file renamed over `path`. A new
// file is not flushed to the disk (running the command again makes it again);
// one that replaces a file is.
[[nodiscard]] Expected<void, std::string> writeOutput(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace tplforge::cli
