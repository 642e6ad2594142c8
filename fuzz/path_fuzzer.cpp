// Fuzz target for paths through archives and wrappers: every texture member the
// walk finds opens by its path to the same bytes, and put back unchanged gives
// the very same outer file. (Members that a path cannot name apart, of empty or
// "." names or behind an earlier one of the same name, are only listed.) The
// same through TextureFile: every texture it lists given its own picture back
// leaves every byte as it was.
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz_entry.h"
#include "tplforge/archive.h"
#include "tplforge/containers.h"
#include "tplforge/texture_file.h"

namespace {

using namespace tplforge;

std::string folded(std::string s) {
    for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return s;
}

bool nameable(const std::string& path) {
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash - start);
        if (part.empty() || part == ".") return path.empty();
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

int pathFuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    PathLimits limits;
    limits.maxDecompressed = 64 << 20;
    std::vector<Member> found;
    const auto walked = walkTextureMembers(input, "fuzz.bti", [&](FoundMember&& m) {
        if (!m.error) found.push_back(std::move(m.member));
    }, limits);
    if (!walked) return 0;
    std::set<std::string> seen;
    for (const Member& m : found) {
        if (!nameable(m.path) || !seen.insert(folded(m.path)).second) continue;
        const auto located = openPath(input, "fuzz.bti", m.path, limits);
        fuzzRequire(located.ok() && located->member.kind == m.kind && located->rest.empty());
        fuzzRequire(std::equal(m.bytes.begin(), m.bytes.end(), located->member.bytes.begin(), located->member.bytes.end()));
        ReplaceOptions options;
        options.limits = limits;
        const auto same = replaceMember(input, "fuzz.bti", m.path, m.bytes, options);
        fuzzRequire(same.ok() && std::equal(same->begin(), same->end(), input.begin(), input.end()));
        (void)readTextures(m.bytes, m.kind);
    }

    const auto file = TextureFile::fromBytes({input.begin(), input.end()}, "fuzz.bti", {}, {}, limits);
    if (!file) return 0;
    std::vector<TextureEdit> edits;
    for (const TextureRef& t : file->textures()) {
        if (std::uint64_t{t.view.width} * t.view.height > (1u << 20)) continue;
        auto picture = t.decode(0);
        if (!picture) continue;
        TextureEdit edit;
        edit.texture = t.path();
        edit.picture = std::move(picture).value();
        edits.push_back(std::move(edit));
    }
    EditOptions options;
    options.threads = 1;
    options.limits = limits;
    const auto same = file->replace(edits, options);
    // Two textures a path cannot tell apart are refused as named twice; anything
    // else given back unchanged must leave the file as it was.
    if (same) fuzzRequire(same->changed == 0 && std::equal(same->file.begin(), same->file.end(), input.begin(), input.end()));
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return pathFuzzOne(data, size); }
#endif
