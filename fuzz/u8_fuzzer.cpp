// Fuzz target for the U8 and RARC readers and rebuilds: an archive that reads is
// rebuilt unchanged byte for byte, and with its first member replaced by other
// bytes reads again with that member alone changed.
#include <span>
#include <vector>

#include "fuzz_entry.h"
#include "tplforge/archive.h"

namespace {

using namespace tplforge;

std::span<const std::uint8_t> dataOf(std::span<const std::uint8_t> archive, const ArchiveEntry& e) {
    return archive.subspan(static_cast<std::size_t>(e.offset), static_cast<std::size_t>(e.size));
}

template <class Archive, class Parse, class Rebuild>
void check(std::span<const std::uint8_t> input, Parse parse, Rebuild rebuild) {
    const auto archive = parse(input);
    if (!archive) return;
    const auto same = rebuild(*archive, std::span<const MemberBytes>{});
    fuzzRequire(same.ok() && std::equal(same->begin(), same->end(), input.begin(), input.end()));
    if (archive->files.empty()) return;
    std::vector<std::uint8_t> other(archive->files[0].size % 97 + 1, 0x5A);
    const MemberBytes change{archive->files[0].index, other};
    const auto out = rebuild(*archive, std::span(&change, 1));
    if (!out) return;  // offsets beyond 32 bits
    const auto again = parse(*out);
    fuzzRequire(again.ok() && again->files.size() == archive->files.size());
    for (std::size_t k = 0; k < again->files.size(); ++k) {
        const auto now = dataOf(*out, again->files[k]);
        const bool first = archive->files[k].index == archive->files[0].index;
        const auto want = first ? std::span<const std::uint8_t>(other) : dataOf(input, archive->files[k]);
        fuzzRequire(again->files[k].path == archive->files[k].path);
        fuzzRequire(std::equal(now.begin(), now.end(), want.begin(), want.end()));
    }
}

}  // namespace

int u8FuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check<U8Archive>(input, parseU8, rebuildU8);
    check<RarcArchive>(input, parseRarc, rebuildRarc);
    return 0;
}

#ifndef TPLFORGE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return u8FuzzOne(data, size); }
#endif
