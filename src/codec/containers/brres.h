// BRRES files, their index groups, and the TEX0 and PLT0 subfiles in them or
// on their own.
#pragma once

#include <string>
#include <vector>

#include "codec/containers/common.h"

namespace tplforge::containers {

inline constexpr std::size_t kSubfileHeader = 0x40;  // TEX0 and PLT0 alike

struct BrresEntry {
    std::string name;
    std::uint64_t nameAt = 0;  // absolute offset of its characters
    std::uint64_t dataAt = 0;  // absolute offset of its subfile (a folder's group in the root)
    std::uint64_t entryAt = 0; // absolute offset of its 16-byte group entry
};

struct BrresFolder {
    BrresEntry self;  // name and group offset, as the root group lists it
    std::vector<BrresEntry> entries;
};

struct Brres {
    Bytes bytes;
    std::uint64_t rootEnd = 0;  // "root" + its size
    std::vector<BrresFolder> folders;
    const BrresFolder* folder(std::string_view name) const;
};
Expected<Brres, ContainerError> parseBrres(Bytes file);

// Ids and branches of an index group, for its names in stored order (entry 0,
// the reference entry, first), by the algorithm games and tools build them with.
struct DictNode {
    std::uint16_t id = 0xFFFF;
    std::uint16_t left = 0;
    std::uint16_t right = 0;
};
std::vector<DictNode> buildDict(const std::vector<std::string>& names);

struct Tex0Header {
    std::uint32_t size = 0;
    std::uint32_t version = 0;
    std::size_t shift = 0;  // 4 in version 2, whose extra section offset moves the fields after it
    std::uint32_t dataOffset = 0;
    std::uint32_t nameOffset = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t format = 0;
    std::uint32_t images = 0;
};
struct Plt0Header {
    std::uint32_t size = 0;
    std::uint32_t version = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t nameOffset = 0;
    std::uint32_t format = 0;
    std::uint16_t count = 0;
};
// A name as BRRES files store them: characters at `at`, their count in the 4
// bytes before.
std::optional<std::string> brresName(Bytes file, std::uint64_t at);

// The subfile at `at`, checked to lie in the file; nothing when it does not.
std::optional<Tex0Header> readTex0(Bytes file, std::uint64_t at);
std::optional<Plt0Header> readPlt0(Bytes file, std::uint64_t at);
// The texture, its palette read from the PLT0 at `paletteAt` in `paletteFile`.
Expected<TextureView, ContainerError> tex0View(Bytes file, std::uint64_t at, const Tex0Header& h,
                                               Bytes paletteFile, std::optional<std::uint64_t> paletteAt,
                                               const std::string& name);

// New subfiles, with BRRES and name offsets 0 (set where they are placed).
std::vector<std::uint8_t> tex0Subfile(const TextureData& data, std::uint32_t version);
std::vector<std::uint8_t> plt0Subfile(const TextureData& data, std::uint32_t version);
// Where the name offset field of a subfile sits.
std::size_t nameField(Bytes subfile);

// A BRRES laid out afresh from folders of named subfiles.
struct NewSubfile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};
struct NewFolder {
    std::string name;
    std::vector<NewSubfile> entries;
};
Expected<std::vector<std::uint8_t>, ContainerError> layOutBrres(const std::vector<NewFolder>& folders);

Expected<std::vector<TextureEntry>, ContainerError> brresTextures(Bytes file);
Expected<std::vector<std::uint8_t>, ContainerError> replaceBrres(Bytes file, std::string_view name,
                                                                 const TextureData& data);

Expected<std::vector<TextureEntry>, ContainerError> tex0Textures(Bytes file, Bytes palette);
Expected<std::vector<std::uint8_t>, ContainerError> replaceTex0(Bytes file, const TextureData& data);
Expected<Tex0Files, ContainerError> writeTex0Files(const TextureData& data, std::string_view name);

inline constexpr const char* kTextures = "Textures(NW4R)";
inline constexpr const char* kPalettes = "Palettes(NW4R)";

}  // namespace tplforge::containers
