// Shared pieces of the commands' message boxes: refusals are critical with OK and
// the title "Error".
#pragma once

#include <string>

#include "platform/platform.h"
#include "tplforge/targa.h"

namespace tplforge {

inline constexpr const char* kCrLf = "\r\n";

inline void showError(Platform& platform, std::string text) {
    platform.showMessage({std::move(text), "Error", MessageIcon::Critical, MessageButtons::Ok, MessageAnswer::Ok});
}

// Why a Targa file could not be read, for the window's message boxes.
std::string_view describeSpanish(TargaError error);
inline constexpr const char* kCannotOpenTarga = "No se puede abrir el archivo TGA.";

inline bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace tplforge
