// Fuzz target for paths through archives and wrappers: every texture member the
// walk finds opens by its path to the same bytes, and put back unchanged gives
// the very same outer file. (Members that a path cannot name apart, of empty or
// "." names or behind an earlier one of the same name, are only listed.)
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz_entry.h"
#include "tplforge/archive.h"
#include "tplforge/containers.h"

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
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return pathFuzzOne(data, size); }
#endif
