// A scripted platform for driving the commands without a window: it answers
// dialogs and message boxes from queues and records every call in order.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tplforge::testing {

class FakePlatform : public Platform {
public:
    // Answers, consumed front first. An empty queue answers "" (cancel) for
    // dialogs and the default button for message boxes.
    std::deque<std::string> openAnswers;
    std::deque<std::string> saveAnswers;
    std::deque<MessageAnswer> messageAnswers;

    // What was asked, in order.
    std::vector<FileDialogRequest> openRequests;
    std::vector<FileDialogRequest> saveRequests;
    std::vector<MessageBoxRequest> messages;
    std::vector<std::string> calls;  // "open", "save", "message", "load:<path>", "savePicture:<path>", "pointer"

    // Pictures by path; a path not listed fails with CannotOpen.
    std::map<std::string, Expected<Raster, PictureError>> pictures;

    ColourValue pointerColour = kWhite;

    std::string showOpenDialog(const FileDialogRequest& request) override;
    std::string showSaveDialog(const FileDialogRequest& request) override;
    MessageAnswer showMessage(const MessageBoxRequest& request) override;
    Expected<Raster, PictureError> loadPicture(const std::string& path) override;
    // Really writes the bitmap (atomically), so save rules can be checked on disk.
    std::error_code savePicture(const Raster& picture, const std::string& path) override;
    ColourValue colourUnderPointer() override;
};

}  // namespace tplforge::testing
