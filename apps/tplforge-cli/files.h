// The one place where commands get the bytes of a file they read and put the
// bytes of one they write. A path may run on through archives below a file
// (menu.szs/arc/timg/x.tpl) and name a texture of a container at its end
// (model.brres/grass): openSource resolves it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/archive.h"
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

// What a typed path names: the file on disk (its longest leading part that is
// one), and the member or texture below it.
struct Source {
    std::string typed;
    std::string outer;  // the file on disk
    InputFile file;
    Located located;    // located.member.path "" for the file itself
    std::string folder;  // a folder inside the archive the path named (located: the whole file), or ""
    // The PLT0 beside a TEX0 file on disk (x.plt0 for x.tex0), when there is one.
    std::optional<InputFile> palette;

    [[nodiscard]] bool isWholeFile() const { return located.member.path.empty() && located.rest.empty() && folder.empty(); }
    [[nodiscard]] std::span<const std::uint8_t> paletteBytes() const {
        return palette ? palette->bytes() : std::span<const std::uint8_t>{};
    }
};

// The reason is one English line; for a damaged archive it names the member.
[[nodiscard]] Expected<Source, std::string> openSource(const std::string& path);


// Text for the terminal that may hold names from files: each byte below 0x20
// and 0x7F is written \xNN, so that no escape sequence or line break in a member
// or texture name reaches the screen or splits a message. A backslash is left
// as it is, so that every ordinary name reads exactly as stored; the text is
// for people, and info --json gives names exactly.
[[nodiscard]] std::string shown(std::string_view text);

// A name from a file made fit for a file name: each byte shown() escapes
// becomes '_'. Ordinary names stay as they are.
[[nodiscard]] std::string safeFileName(std::string_view name);

// A path from inside an archive (member and texture names are the archive's,
// not the user's) as parts of a relative path, or nothing when a part is empty,
// "." or "..", holds a backslash or a NUL, or the path is absolute: written as
// given, it could land outside the output folder. Parts come as safeFileName
// gives them.
[[nodiscard]] std::optional<std::vector<std::string>> safeParts(const std::string& path);

// Every file below `folder` (links to files followed, links to folders not),
// as paths relative to it with '/' between parts, in byte order.
[[nodiscard]] Expected<std::vector<std::string>, std::string> filesBelow(const std::string& folder);

// Atomically, as every write is: a temporary file renamed over `path`. A new
// file is not flushed to the disk (running the command again makes it again);
// one that replaces a file is.
[[nodiscard]] Expected<void, std::string> writeOutput(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace tplforge::cli
