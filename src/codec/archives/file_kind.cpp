#include <cstring>

#include "codec/containers/bti.h"
#include "tplforge/file_kind.h"

namespace tplforge {

namespace {

bool magicAt(std::span<const std::uint8_t> bytes, std::size_t at, const char* magic) {
    const std::size_t n = std::strlen(magic);
    return bytes.size() >= at + n && std::memcmp(bytes.data() + at, magic, n) == 0;
}

}  // namespace

FileKind detectKind(std::span<const std::uint8_t> bytes, std::string_view name) {
    if (magicAt(bytes, 0, "Yaz0") || magicAt(bytes, 0, "Yaz1")) return FileKind::Yaz0;
    if (magicAt(bytes, 0, "\x55\xAA\x38\x2D")) return FileKind::U8;
    if (magicAt(bytes, 0, "IMD5")) return FileKind::Imd5;
    if (magicAt(bytes, 0, "LZ77\x10")) return FileKind::Lz77;
    if (magicAt(bytes, 0, "WIBN")) return FileKind::Wibn;
    if (magicAt(bytes, 0, "BNR1") || magicAt(bytes, 0, "BNR2")) return FileKind::Bnr;
    if (magicAt(bytes, 0, "RARC")) return FileKind::Rarc;
    if (magicAt(bytes, 0, "J3D2bmd3") || magicAt(bytes, 0, "J3D2bdl4")) return FileKind::J3d;
    if (magicAt(bytes, 0, "bres\xFE\xFF")) return FileKind::Brres;
    if (magicAt(bytes, 0, "TEX0")) return FileKind::Tex0;
    if (magicAt(bytes, 0, "PLT0")) return FileKind::Plt0;
    if (bytes.size() >= 4 && bytes[0] == 0x00 && bytes[1] == 0x20 && bytes[2] == 0xAF && bytes[3] == 0x30)
        return FileKind::Tpl;
    if (magicAt(bytes, 0x40, "IMET") || magicAt(bytes, 0x80, "IMET")) return FileKind::Imet;
    if (kindByName(name) == FileKind::Bti && containers::looksLikeBti(bytes)) return FileKind::Bti;
    return FileKind::Unknown;
}

FileKind kindByName(std::string_view name) {
    if (name.size() < 4) return FileKind::Unknown;
    const std::string_view ext = name.substr(name.size() - 4);
    const auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const bool bti = ext[0] == '.' && low(ext[1]) == 'b' && low(ext[2]) == 't' && low(ext[3]) == 'i';
    return bti ? FileKind::Bti : FileKind::Unknown;
}

std::string_view kindName(FileKind kind) {
    switch (kind) {
        case FileKind::Unknown: return "unknown";
        case FileKind::Yaz0: return "Yaz0";
        case FileKind::Lz77: return "LZ77";
        case FileKind::Imd5: return "IMD5";
        case FileKind::Imet: return "IMET";
        case FileKind::U8: return "U8";
        case FileKind::Rarc: return "RARC";
        case FileKind::Tpl: return "TPL";
        case FileKind::Bti: return "BTI";
        case FileKind::J3d: return "J3D";
        case FileKind::Brres: return "BRRES";
        case FileKind::Tex0: return "TEX0";
        case FileKind::Plt0: return "PLT0";
        case FileKind::Wibn: return "WIBN";
        case FileKind::Bnr: return "BNR";
    }
    return "unknown";
}

}  // namespace tplforge
