#include "files.h"

#include <algorithm>
#include <filesystem>

#include "tplforge/containers.h"
#include "tplforge/file_kind.h"
#include "tplforge/texture_file.h"

namespace tplforge::cli {

namespace fs = std::filesystem;

Expected<InputFile, std::string> openInput(const std::string& path) {
    auto mapped = mapWholeFile(path);
    if (!mapped) return fail("cannot read: " + mapped.error().message());
    return InputFile(std::move(mapped).value());
}

namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

}  // namespace


Expected<Source, std::string> openSource(const std::string& path) {
    auto [outer, inner] = splitDiskPath(path);
    auto file = openInput(outer);
    if (!file) return fail(file.error());
    const std::string name = fs::path(outer).filename().string();
    auto located = openPath(file->bytes(), name, inner);
    std::string folder;
    if (!located && located.error().fault == ArchiveFault::IsAFolder) {
        folder = inner;
        while (!folder.empty() && folder.back() == '/') folder.pop_back();
        located = openPath(file->bytes(), name, "");
    }
    if (!located) return fail(describe(located.error()));
    // Named .bti but not taken for one: a damaged BTI, refused as such rather
    // than as the TPL an unknown file is otherwise read as.
    Member& m = located->member;
    if (m.kind == FileKind::Unknown && located->rest.empty() && folder.empty() &&
        kindByName(m.path.empty() ? outer : m.path) == FileKind::Bti) {
        const auto read = readTextures(m.bytes, FileKind::Bti);
        if (!read) return fail((m.path.empty() ? "" : m.path + ": ") + describe(read.error()));
        m.kind = FileKind::Bti;
    }
    Source source{path, outer, std::move(file).value(), std::move(located).value(), std::move(folder), std::nullopt};
    if (source.located.member.kind == FileKind::Tex0 && source.located.member.path.empty()) {
        if (auto palette = openInput(palettePathBeside(outer))) source.palette = std::move(palette).value();
    }
    return source;
}

std::string shown(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!isControl(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
    return out;
}

std::string safeFileName(std::string_view name) {
    std::string out(name);
    std::replace_if(out.begin(), out.end(), isControl, '_');
    return out;
}

std::optional<std::vector<std::string>> safeParts(const std::string& path) {
    std::vector<std::string> parts;
    if (path.empty() || path.front() == '/') return std::nullopt;
    std::size_t start = 0;
    while (true) {
        const auto slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string::npos ||
            part.find('\0') != std::string::npos)
            return std::nullopt;
        parts.push_back(safeFileName(part));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

Expected<std::vector<std::string>, std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        if (it->is_regular_file(kind)) files.push_back(fs::relative(it->path(), folder, kind).generic_string());
    }
    if (ec) return fail("cannot list: " + ec.message());
    std::sort(files.begin(), files.end());
    return files;
}

Expected<void, std::string> writeOutput(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (const auto written = writeFileAtomically(path, bytes, Flush::WhenReplacing); !written)
        return fail("cannot write: " + written.error().message());
    return {};
}

}  // namespace tplforge::cli
