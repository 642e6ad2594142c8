// The temporary file writeFileAtomically goes through, chosen: tests take the
// named one that filesystems without O_TMPFILE get.
#pragma once

#include "tplforge/file_io.h"

namespace tplforge::detail {

enum class TempFile { Unnamed, Named };

[[nodiscard]] Expected<void, std::error_code> writeFileAtomically(const std::string& path,
                                                                  std::span<const std::uint8_t> bytes, Flush flush,
                                                                  TempFile kind);

}  // namespace tplforge::detail
