// SHA-256's compression of whole 64-byte blocks: plain C++, and with the x86 SHA
// instructions where the processor has them (several times faster; the digests a
// rebuild checks are most of its time on untouched textures).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tplforge::sha {

void blocksPlain(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);
// False, doing nothing, where the processor or the build has no SHA instructions.
bool blocksWide(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);

}  // namespace tplforge::sha
