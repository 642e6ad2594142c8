// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "tplforge/expected.h"

namespace tplforge {

// Reads the whole file; fails for a missing file, a folder or a read error.
Expected<std::vector<std::uint8_t>, std::error_code> readWholeFile(const std::string& path);

// Writes `bytes` to a temporary file beside `path` and renames it over `path` once
// complete, so a failed write never leaves a half-written or lost file behind.
std::error_code writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace tplforge
