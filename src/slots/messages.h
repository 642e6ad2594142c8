// Shared pieces of the handlers' message boxes: refusals are critical with OK and
// the title "Error".
#pragma once

#include <string>

#include "platform/platform.h"

namespace tplforge {

inline constexpr const char* kCrLf = "\r\n";

inline void showError(Platform& platform, std::string text) {
    platform.showMessage({std::move(text), "Error", MessageIcon::Critical, MessageButtons::Ok, MessageAnswer::Ok});
}

inline bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace tplforge
