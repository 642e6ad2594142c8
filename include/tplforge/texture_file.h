// One way to open, name, read and edit a texture anywhere: a TPL or any other
// container, on its own or inside archives, named by one path.
//
//   auto file = TextureFile::open("menu.szs/arc/timg/button.tpl");
//   for (const TextureRef& t : file->textures()) ... t.path(), t.view ...
//   auto bytes = file->replace({{"arc/timg/button.tpl/1", picture}});
//   writeFileAtomically(file->diskPath(), bytes->file);
//
// A path is the file on disk (its longest leading part that is one), then the
// members through every archive and wrapper, then a texture's name or number:
// `menu.szs/arc/timg/button.tpl/1`, `model.brres/grass`. It may stop at a member,
// a folder inside an archive or the file itself: every texture below is listed.
// What the user did not replace keeps its bytes: textures, palettes, members,
// compressed layers, order, alignment and padding.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tplforge/archive.h"
#include "tplforge/dolphin.h"
#include "tplforge/expected.h"
#include "tplforge/export.h"
#include "tplforge/file_kind.h"
#include "tplforge/format.h"
#include "tplforge/image.h"
#include "tplforge/texture.h"
#include "tplforge/tpl.h"

namespace tplforge {

// --- The one error ---------------------------------------------------------------

enum class ErrorCode {
    CannotRead,         // the file system refused to give the file (detail: why)
    CannotWrite,        // the file system refused to take it
    Damaged,            // a reader refused the bytes (detail: the reader's reason)
    NoTextures,         // of a kind that holds no textures (detail: the kind)
    NoSuchMember,       // the path names nothing in the file
    NoSuchTexture,      // `item` names no texture of the file or member
    NamedTwice,         // two replacements for one texture
    AmbiguousTexture,   // no texture named, and the path holds several
    BadPicture,         // a picture that does not fit (detail: why)
    Refused,            // the texture cannot take the picture as asked (detail: why)
    TooManyColours,     // the palette would merge colours, and that was refused
};

struct Error {
    ErrorCode code = ErrorCode::Damaged;
    std::string where;   // the file, member or picture the line is about
    std::string item;    // the texture, where one applies
    std::string detail;  // the reason a reader or the file system gave
};
// One line: "menu.szs/arc/x.tpl: texture 2: palette entries run past the end of the file".
[[nodiscard]] TPLFORGE_API std::string describe(const Error& error);

// --- Reading ---------------------------------------------------------------------

// One texture of an opened file, with views into the file's bytes (valid while
// the TextureFile lives).
struct TextureRef {
    std::string member;        // the member holding it, "" for the file on disk itself
    FileKind container = FileKind::Unknown;
    std::string name;          // its name, or its number ("1", "2", …) where textures are numbered
    std::string storedName;    // a numbered texture's name in the file, where it has one (J3D)
    std::size_t number = 0;    // from 1, in its container's order
    std::size_t containerTextures = 0;  // how many its container holds, this one among them
    TextureView view;
    std::optional<Sampler> sampler;           // where the file stores one (TPL, BTI)
    std::optional<TextureSettings> settings;  // TPL: every header field a rebuild keeps

    // member/name: what open() and replace() take to name this texture again.
    [[nodiscard]] TPLFORGE_API std::string path() const;
    // Its bytes as stored, every level and the palette.
    [[nodiscard]] TPLFORGE_API TextureData stored() const;
    // Level `level` as the console shows it.
    [[nodiscard]] TPLFORGE_API Expected<Image, Error> decode(unsigned level = 0) const;
    // The name the Dolphin emulator dumps and loads it by, sampled as its file says.
    [[nodiscard]] TPLFORGE_API Expected<DolphinName, DolphinError> dolphin(DolphinMipmaps mipmaps = DolphinMipmaps::File) const;
};

// A member that could not be read; the others still are.
struct DamagedMember {
    std::string member;
    FileKind kind = FileKind::Unknown;
    Error error;
};

// --- Editing ---------------------------------------------------------------------

// What a replacement changes of the texture's own settings; unset keeps them.
struct SettingChanges {
    std::optional<Format> format;
    std::optional<PaletteFormat> paletteFormat;
    std::optional<std::uint32_t> paletteEntries;
    std::optional<unsigned> mipmaps;  // levels below the picture
    bool mipmapsAuto = false;         // as many as the format and sides allow
    std::optional<WrapMode> wrapS, wrapT;  // TPL textures only
    std::optional<TextureFilter> minFilter, magFilter;
    std::optional<Quality> quality;
    std::optional<bool> dither;
    // TPL textures only: every header field as given (sampler, LOD bytes, the
    // unpacked bytes); wrapS … magFilter above still apply over it. A max LOD
    // that does not give the texture's levels is dropped for levels − 1.
    std::optional<TextureSettings> header;

    [[nodiscard]] bool any() const {
        return format || paletteFormat || paletteEntries || mipmaps || mipmapsAuto || wrapS || wrapT || minFilter ||
               magFilter || quality || dither || header;
    }
};

struct TextureEdit {
    // A texture path as TextureRef::path() gives it, relative to what was opened;
    // or "" for the only texture, or the one the opened path names.
    std::string texture;
    // Empty, for a TPL texture whose header `changes` names (header, wrap or
    // filters): it keeps its texels and palette, and only those fields change.
    Image picture;
    // Hand-made levels 1, 2, … used as given (each half the one above); an
    // empty one, and those past the end, are made from the level above.
    std::vector<Image> levels;
    SettingChanges changes;
    std::string pictureName;  // for messages; "" says "picture"
};

struct EditOptions {
    bool strict = false;    // refuse a palette that would merge colours
    // A texture that cannot take its picture (its container holds it in place,
    // its picture does not encode) is left as it was and listed in
    // EditResult::refused; without it the whole replacement fails.
    bool keepGoing = false;
    unsigned threads = 0;   // 0: every core
    Yaz0Options yaz0;       // for layers recompressed
    PathLimits limits;
};

struct Note {
    std::string where;
    std::string text;
};

struct Refusal {
    std::string texture;  // as TextureRef::path() gives it
    Error error;
};

struct EditResult {
    std::vector<std::uint8_t> file;   // the whole file on disk, every layer wrapped again
    std::vector<std::uint8_t> plt0;   // a standalone TEX0 of a palette format: its PLT0, to write beside it
    std::vector<Note> notes;          // kept textures, merged palettes, shared images, new sizes
    std::size_t changed = 0;          // textures whose bytes changed
    std::vector<Refusal> refused;     // with keepGoing: the textures left as they were, and why
};

// --- The file --------------------------------------------------------------------

class TPLFORGE_API TextureFile {
public:
    // `path` as above. A standalone TEX0 takes the PLT0 beside it (x.plt0).
    [[nodiscard]] static Expected<TextureFile, Error> open(const std::string& path, const PathLimits& limits = {});
    // Bytes already in memory; `fileName` tells BTI apart and names the file in messages.
    [[nodiscard]] static Expected<TextureFile, Error> fromBytes(std::vector<std::uint8_t> bytes, std::string fileName,
                                                                std::string_view inner = {},
                                                                std::vector<std::uint8_t> palette = {},
                                                                const PathLimits& limits = {});

    TextureFile(TextureFile&&) noexcept;
    TextureFile& operator=(TextureFile&&) noexcept;
    ~TextureFile();

    [[nodiscard]] const std::string& diskPath() const;   // the file on disk ("" from bytes)
    [[nodiscard]] const std::string& inner() const;      // what the path named below it
    [[nodiscard]] FileKind kind() const;                  // of the member (or file) the path runs to
    [[nodiscard]] bool namesTexture() const;              // the path ran on to one texture
    [[nodiscard]] const std::string& folder() const;      // the folder inside an archive the path named, or ""
    [[nodiscard]] const std::string& member() const;      // the member the path runs to, as stored ("" for the file)
    [[nodiscard]] std::span<const std::uint8_t> bytes() const;
    [[nodiscard]] std::span<const std::uint8_t> memberBytes() const;  // of member(), every wrapper taken off
    [[nodiscard]] std::span<const std::uint8_t> paletteBytes() const;  // the PLT0 beside a TEX0, or none
    // Every texture below the path, in stored order: member by member, archives
    // inside archives opened.
    [[nodiscard]] std::span<const TextureRef> textures() const;
    [[nodiscard]] std::span<const DamagedMember> damaged() const;
    // The texture a path names (as TextureRef::path(), or a number from 1 inside a member).
    [[nodiscard]] Expected<const TextureRef*, Error> find(std::string_view texture) const;

    // The file with these textures replaced, each encoded with its own settings
    // but for what `changes` says: its format, palette format and entries (the
    // palette kept as it is when every colour of the picture is one of its
    // entries), its levels (plain filters become filters between levels when
    // levels are added) and sampler. A picture that shows what the texture holds
    // already, with nothing changed, keeps the texture's bytes.
    [[nodiscard]] Expected<EditResult, Error> replace(std::span<const TextureEdit> edits,
                                                      const EditOptions& options = {}) const;

    struct State;

private:
    explicit TextureFile(std::unique_ptr<State> state);
    [[nodiscard]] Expected<TextureFile, Error> load() &&;
    std::unique_ptr<State> state_;
};

// --- The rules a replacement follows, for callers that encode on their own ----------

// A path split where the file on disk ends (its longest leading part that is a
// regular file): `menu.szs/arc/x.tpl` gives {"menu.szs", "arc/x.tpl"}. A path
// with no such part is all disk path.
struct DiskPath {
    std::string disk;
    std::string inner;
};
[[nodiscard]] TPLFORGE_API DiskPath splitDiskPath(const std::string& path);

// Where a standalone TEX0's PLT0 lies: beside it, as x.plt0.
[[nodiscard]] TPLFORGE_API std::string palettePathBeside(const std::string& tex0Path);

// Plain near and linear min filters also filter between levels once a texture
// has more than one.
[[nodiscard]] TPLFORGE_API TextureFilter mipmapFilter(TextureFilter filter, unsigned levels);

// "fast", "normal", "best" (any case).
[[nodiscard]] TPLFORGE_API std::optional<Quality> qualityFromName(std::string_view name);
[[nodiscard]] TPLFORGE_API std::string_view qualityName(Quality quality);

// Pixels a decoded picture of the format holds: grey formats keep no alpha in
// their PNG, so their alpha is set opaque to compare with such a picture.
[[nodiscard]] TPLFORGE_API bool isGreyFormat(Format format);
TPLFORGE_API void keepHeldChannels(Image& picture, Format format);

}  // namespace tplforge
