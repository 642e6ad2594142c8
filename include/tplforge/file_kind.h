// What a file is, told by its first bytes: extensions lie (.arc is U8 on the Wii
// and RARC on the GameCube; .bin is a save banner, a banner part or anything).
#pragma once

#include "tplforge/export.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace tplforge {

enum class FileKind {
    Unknown,
    // Wrappers: one payload inside, taken off before looking again.
    Yaz0,       // "Yaz0" / "Yaz1"
    Lz77,       // "LZ77" then an LZ77 type 0x10 stream (inside IMD5)
    Imd5,       // a banner part: 32-byte header, MD5 of the payload
    Imet,       // opening.bnr: "IMET" at 0x40 or 0x80, a U8 after the hashed block
    // Archives: named members.
    U8,         // 55 AA 38 2D
    Rarc,       // "RARC"
    // Texture containers.
    Tpl,        // 00 20 AF 30
    Bti,        // no magic: a name ending in .bti and a header that passes the checks
    J3d,        // "J3D2bmd3" / "J3D2bdl4"
    Brres,      // "bres" FE FF
    Tex0,       // a BRRES texture on its own
    Plt0,       // a BRRES palette on its own
    Wibn,       // a Wii save's banner.bin
    Bnr,        // a GameCube opening.bnr, "BNR1" / "BNR2"
};

// `name` (a file or member name, any folders in front) only matters for BTI.
[[nodiscard]] TPLFORGE_API FileKind detectKind(std::span<const std::uint8_t> bytes, std::string_view name = {});

// What a name alone says a file is, for the kind that has no magic: Bti for a
// name ending in .bti (any case), Unknown otherwise. A file so named that
// detectKind does not take for a BTI is a damaged one; readTextures as Bti says why.
[[nodiscard]] TPLFORGE_API FileKind kindByName(std::string_view name);

// "Yaz0", "U8", "BRRES", ...
[[nodiscard]] TPLFORGE_API std::string_view kindName(FileKind kind);

[[nodiscard]] constexpr bool isWrapper(FileKind k) {
    return k == FileKind::Yaz0 || k == FileKind::Lz77 || k == FileKind::Imd5 || k == FileKind::Imet;
}
[[nodiscard]] constexpr bool isArchive(FileKind k) { return k == FileKind::U8 || k == FileKind::Rarc; }
// Kinds whose textures readTextures lists (a PLT0 alone holds none).
[[nodiscard]] constexpr bool holdsTextures(FileKind k) {
    return k == FileKind::Tpl || k == FileKind::Bti || k == FileKind::J3d || k == FileKind::Brres ||
           k == FileKind::Tex0 || k == FileKind::Wibn || k == FileKind::Bnr;
}

}  // namespace tplforge
