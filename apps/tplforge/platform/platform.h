// What the commands ask of the desktop: file dialogs, message boxes, the
// picture loader and saver, and the colour under the pointer. The window supplies
// a Qt implementation; tests supply a scripted one.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "tplforge/expected.h"
#include "picture_reader/picture_reader.h"
#include "window_rules/window_raster.h"

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


// Why a picture could not be read, for the window's message boxes.
std::string_view describeSpanish(PictureError error);

class Platform {
public:
    virtual ~Platform() = default;

    // The chosen file name, or "" when the user cancelled.
    virtual std::string showOpenDialog(const FileDialogRequest& request) = 0;
    virtual std::string showSaveDialog(const FileDialogRequest& request) = 0;

    virtual MessageAnswer showMessage(const MessageBoxRequest& request) = 0;

    // Decodes a picture file; transparent pixels come back blended over the
    // surface colour.
    virtual Expected<WindowRaster, PictureError> loadPicture(const std::string& path) = 0;

    // Writes a 24-bit Windows bitmap to `path` (atomically).
    virtual std::error_code savePicture(const WindowRaster& picture, const std::string& path) = 0;

    // The colour shown on screen under the pointer right now.
    virtual ColourValue colourUnderPointer() = 0;
};

}  // namespace tplforge
