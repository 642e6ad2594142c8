// What the commands ask of the desktop: file dialogs, message boxes, the
// picture loader and saver, and the colour under the pointer. The window supplies
// a Qt implementation; tests supply a scripted one.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "tplforge/expected.h"
#include "codec/raster.h"

namespace tplforge {

struct FileDialogRequest {
    std::string fileName;  // always empty when the commands ask
    std::string filter;    // "description|patterns|description|patterns…"
    std::string title;
};

enum class MessageIcon { None, Critical, Exclamation };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageBoxRequest {
    std::string text;  // lines joined by "\r\n"
    std::string title;
    MessageIcon icon = MessageIcon::Critical;
    MessageButtons buttons = MessageButtons::Ok;
    MessageAnswer defaultButton = MessageAnswer::Ok;
};

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

// Spanish for the window's message boxes, English for the command line.
std::string_view describeSpanish(PictureError error);
std::string_view describe(PictureError error);

class Platform {
public:
    virtual ~Platform() = default;

    // The chosen file name, or "" when the user cancelled.
    virtual std::string showOpenDialog(const FileDialogRequest& request) = 0;
    virtual std::string showSaveDialog(const FileDialogRequest& request) = 0;

    virtual MessageAnswer showMessage(const MessageBoxRequest& request) = 0;

    // Decodes a picture file; transparent pixels come back blended over the
    // surface colour.
    virtual Expected<Raster, PictureError> loadPicture(const std::string& path) = 0;

    // Writes a 24-bit Windows bitmap to `path` (atomically).
    virtual std::error_code savePicture(const Raster& picture, const std::string& path) = 0;

    // The colour shown on screen under the pointer right now.
    virtual ColourValue colourUnderPointer() = 0;
};

}  // namespace tplforge
