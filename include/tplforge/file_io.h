// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tplforge/expected.h"
#include "tplforge/export.h"

namespace tplforge {

// Reads the whole file; fails for a missing file, a folder or a read error.
[[nodiscard]] TPLFORGE_API Expected<std::vector<std::uint8_t>, std::error_code> readWholeFile(const std::string& path);

// A whole file mapped into memory, read-only: pages are read only when touched,
// so a reader that looks at the headers alone reads little more than those. The
// file must not shrink while it is mapped (a read past its new end faults).
class TPLFORGE_API MappedFile {
public:
    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    friend TPLFORGE_API Expected<MappedFile, std::error_code> mapWholeFile(const std::string& path);
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Fails as readWholeFile does.
[[nodiscard]] TPLFORGE_API Expected<MappedFile, std::error_code> mapWholeFile(const std::string& path);

// When the data is flushed to the disk before the rename: always, or only when
// the rename replaces a file. Without a flush a power cut shortly after can
// leave the new file empty, but never costs a file that was there before. The
// flush took 5 to 20 ms for a 2 MiB file where the benchmarks ran, many times the
// encoding of a 1024 x 1024 texture.
enum class Flush { Always, WhenReplacing };

// Writes `bytes` to a temporary file beside `path` and renames it over `path` once
// complete, so a failed write never leaves a half-written or lost file behind.
// The temporary file has no name until it is complete (O_TMPFILE), so that a
// killed process leaves nothing behind; on a filesystem without O_TMPFILE it is
// a named .tplforge-XXXXXX, which installCleanupOnSignals() removes on a signal.
// A replaced file keeps its mode, a new one gets 0666 less the umask.
[[nodiscard]] TPLFORGE_API Expected<void, std::error_code> writeFileAtomically(const std::string& path,
                                                                             std::span<const std::uint8_t> bytes,
                                                                             Flush flush = Flush::Always);

// For programs: SIGTERM, SIGINT and SIGHUP first remove the temporary files
// being written, then end the process as they would have. A signal that is
// ignored stays ignored. Installed once, however often called; any handler of
// those signals installed before is replaced.
TPLFORGE_API void installCleanupOnSignals();

}  // namespace tplforge
