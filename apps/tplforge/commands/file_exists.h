#pragma once

#include <string>

namespace tplforge {

// True when `path` names a file that can be opened for reading; a folder, an empty
// path, a missing or unreadable file all give false. Never throws.
bool fileExists(const std::string& path);

}  // namespace tplforge
