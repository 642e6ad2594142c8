// Pictures that only Qt, libwmf or libemf2svg can read (BMP, DIB, GIF, JPEG, ICO,
// CUR, WMF, EMF) are decoded in a separate process, tplforge-picture: a crash or
// a hang inside a third-party decoder then costs one failed read, not the
// window with the user's slots, and the command-line tool links no Qt at all.
//
// The reader is run as `tplforge-picture --keep-alpha|--over=RRGGBB -- FILE` and
// answers on its standard output with a 16-byte header, all fields
// little-endian:
//   bytes 0-3   "TFPR"
//   bytes 4-7   status (ReaderStatus)
//   bytes 8-11  width, bytes 12-15 height (both 0 unless the status is Ok)
// then, for Ok only, height rows of width RGBA pixels (straight alpha), and
// nothing after them. It exits with status 0 once it has answered.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include <optional>
#include <string_view>

#include "tplforge/expected.h"
#include "tplforge/image.h"

namespace tplforge {

enum class PictureError {
    CannotOpen,      // missing, a folder, or unreadable
    NotAPicture,     // no reader knows the content
    Corrupt,         // a known format whose data is damaged or cut short
    TooLarge,        // beyond what can be held in memory
    // The separate picture reader process (not the file) let us down:
    ReaderFailed,    // it crashed, was killed or sent something that is no picture
    ReaderTimedOut,  // it ran past its time limit and was stopped
    ReaderMissing,   // it is not installed where it is looked for, or cannot start
};
[[nodiscard]] std::string_view describe(PictureError error);

// What the reader does with transparency: keeps it (straight RGBA, as the file
// holds it), or draws every pixel over a colour (0xRRGGBB), alpha 255 after.
struct Backdrop {
    std::optional<std::uint32_t> overColour;

    static Backdrop keepAlpha() { return {}; }
    static Backdrop over(std::uint32_t rrggbb) { return {rrggbb}; }
    bool operator==(const Backdrop&) const = default;
};

namespace picture_protocol {

inline constexpr std::array<std::uint8_t, 4> kMagic{'T', 'F', 'P', 'R'};
inline constexpr std::size_t kHeaderSize = 16;

enum class ReaderStatus : std::uint32_t { Ok = 0, CannotOpen = 1, NotAPicture = 2, Corrupt = 3, TooLarge = 4 };

[[nodiscard]] std::array<std::uint8_t, kHeaderSize> header(ReaderStatus status, std::uint32_t width,
                                                          std::uint32_t height);
[[nodiscard]] ReaderStatus statusFor(PictureError error);
// The reader's first argument, "--keep-alpha" or "--over=RRGGBB", and back.
[[nodiscard]] std::string backdropArgument(const Backdrop& backdrop);
[[nodiscard]] std::optional<Backdrop> backdropFromArgument(std::string_view argument);

}  // namespace picture_protocol

inline constexpr const char* kPictureProgramName = "tplforge-picture";
// Names the reader to run instead of the one beside the program (for tests).
inline constexpr const char* kPictureProgramVariable = "TPLFORGE_PICTURE_READER";

struct PictureReader {
    std::string program;  // empty: findPictureProgram()
    std::chrono::milliseconds timeLimit{20000};
};

struct ReaderFailure {
    PictureError error;
    std::string detail;  // English, for the command line; may be empty
};

// TPLFORGE_PICTURE_READER when set; else tplforge-picture beside the running
// program, else in the install's libexec/tplforge relative to it. Empty when
// none is there.
[[nodiscard]] std::string findPictureProgram();

// Runs the reader on `path` and reads its answer straight into the picture.
// Safe to call from several threads at once. The reader dies with the thread
// that started it, should this process end while it runs.
[[nodiscard]] Expected<Image, ReaderFailure> readPictureInProcess(const std::string& path, const Backdrop& backdrop,
                                                                  const PictureReader& reader = {});

}  // namespace tplforge
