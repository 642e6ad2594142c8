// Pictures that only Qt, libwmf or libemf2svg can read (BMP, DIB, GIF, JPEG, ICO,
// CUR, WMF, EMF) are decoded in a separate process, tplforge-picture: a crash or
// a hang inside a third-party decoder then costs one failed read, not the
// window with the user's slots, and the command-line tool links no Qt at all.
//
// The reader is run as `tplforge-picture --keep-alpha|--over-surface FILE` and
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

#include "platform/platform.h"
#include "tplforge/expected.h"
#include "tplforge/image.h"

namespace tplforge {

enum class Backdrop : std::uint8_t {
    KeepAlpha,  // straight RGBA as the file holds it (the command line's encode)
    Surface,    // drawn over kSurfaceColour, every alpha 255 (the window)
};

namespace picture_protocol {

inline constexpr std::array<std::uint8_t, 4> kMagic{'T', 'F', 'P', 'R'};
inline constexpr std::size_t kHeaderSize = 16;
// Our own readers' ceiling: no header can ask for more.
inline constexpr std::uint64_t kMaxPixels = kMaxPicturePixels;

enum class ReaderStatus : std::uint32_t { Ok = 0, CannotOpen = 1, NotAPicture = 2, Corrupt = 3, TooLarge = 4 };

std::array<std::uint8_t, kHeaderSize> header(ReaderStatus status, std::uint32_t width, std::uint32_t height);
ReaderStatus statusFor(PictureError error);

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
std::string findPictureProgram();

// Runs the reader on `path` and reads its answer straight into the picture.
// Safe to call from several threads at once.
Expected<Image, ReaderFailure> readPictureInProcess(const std::string& path, Backdrop backdrop,
                                                    const PictureReader& reader = {});

}  // namespace tplforge
