// Deflate streams made apart and joined into one: the PNG writer compresses
// bands of rows on every core, and a zlib stream is one deflate stream.
#pragma once

#include <cstdint>
#include <vector>

namespace tplforge::deflate {

// Turns a whole raw deflate stream into the opening part of a longer one: its
// last block is no longer marked last, and an empty stored block brings it to a
// byte boundary, so any raw deflate stream may follow it. False, the stream
// untouched, when it does not read as deflate.
[[nodiscard]] bool leaveOpen(std::vector<std::uint8_t>& stream);

}  // namespace tplforge::deflate
