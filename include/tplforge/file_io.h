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
[[nodiscard]] TPLFORGE_API Expected<void, std::error_code> writeFileAtomically(const std::string& path,
                                                                             std::span<const std::uint8_t> bytes,
                                                                             Flush flush = Flush::Always);

}  // namespace tplforge
