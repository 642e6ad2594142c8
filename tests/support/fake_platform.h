// A scripted platform for driving the commands without a window: it answers
// dialogs and message boxes from queues and records every call in order.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "window_rules/window_rules.h"
#include "platform/platform.h"
#include "tplforge/file_io.h"

namespace tplforge::testing {

// The next scripted answer, or `otherwise` once they have run out.
template <typename T>
T takeFront(std::deque<T>& answers, T otherwise = {}) {
    if (answers.empty()) return otherwise;
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

class FakePlatform : public Platform {
public:
    // An empty queue answers "" (cancel) for dialogs and the default button for
    // message boxes.
    std::deque<std::string> openAnswers, saveAnswers;
    std::deque<MessageAnswer> messageAnswers;

    // What was asked, in order.
    std::vector<FileDialogRequest> openRequests, saveRequests;
    std::vector<MessageBoxRequest> messages;
    std::vector<std::string> calls;  // "open", "save", "message", "load:<path>", "savePicture:<path>", "pointer"

    // Pictures by path; a path not listed fails with CannotOpen.
    std::map<std::string, Expected<WindowRaster, PictureError>> pictures;
    ColourValue pointerColour = kWhite;

    std::string showOpenDialog(const FileDialogRequest& request) override {
        calls.push_back("open");
        openRequests.push_back(request);
        return takeFront(openAnswers);
    }
    std::string showSaveDialog(const FileDialogRequest& request) override {
        calls.push_back("save");
        saveRequests.push_back(request);
        return takeFront(saveAnswers);
    }
    MessageAnswer showMessage(const MessageBoxRequest& request) override {
        calls.push_back("message");
        messages.push_back(request);
        return takeFront(messageAnswers, request.defaultButton);
    }
    Expected<WindowRaster, PictureError> loadPicture(const std::string& path) override {
        calls.push_back("load:" + path);
        const auto it = pictures.find(path);
        return it == pictures.end() ? fail(PictureError::CannotOpen) : it->second;
    }
    // Really writes the bitmap (atomically), so save rules can be checked on disk.
    std::error_code savePicture(const WindowRaster& picture, const std::string& path) override {
        calls.push_back("savePicture:" + path);
        const auto bitmap = window_rules::encodeBmp24(picture);
        if (!bitmap) return std::make_error_code(std::errc::file_too_large);
        const auto written = writeFileAtomically(path, *bitmap);
        return written ? std::error_code() : written.error();
    }
    ColourValue colourUnderPointer() override {
        calls.push_back("pointer");
        return pointerColour;
    }
};

}  // namespace tplforge::testing
