// Just enough JSON for `info --json`: strings and numbers.
#pragma once

#include <string>
#include <string_view>

namespace tplforge::cli {

// A JSON string literal, quotes included. File names are bytes on POSIX: valid
// UTF-8 passes through, control characters are escaped, and bytes that are not
// UTF-8 become U+FFFD so that the output always parses.
std::string jsonString(std::string_view text);

// The shortest text that reads back as the same float; null for NaN and infinity,
// which JSON cannot hold.
std::string jsonFloat(float value);

// The same shortest form for people to read ("nan", "inf" as they are).
std::string floatText(float value);

}  // namespace tplforge::cli
