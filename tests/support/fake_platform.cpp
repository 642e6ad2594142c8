#include "support/fake_platform.h"

#include "tplforge/file_io.h"
#include "codec/window_rules.h"

namespace tplforge::testing {

std::string FakePlatform::showOpenDialog(const FileDialogRequest& request) {
    calls.push_back("open");
    openRequests.push_back(request);
    if (openAnswers.empty()) return "";
    std::string answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::string FakePlatform::showSaveDialog(const FileDialogRequest& request) {
    calls.push_back("save");
    saveRequests.push_back(request);
    if (saveAnswers.empty()) return "";
    std::string answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

MessageAnswer FakePlatform::showMessage(const MessageBoxRequest& request) {
    calls.push_back("message");
    messages.push_back(request);
    if (messageAnswers.empty()) return request.defaultButton;
    const MessageAnswer answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

Expected<Raster, PictureError> FakePlatform::loadPicture(const std::string& path) {
    calls.push_back("load:" + path);
    auto it = pictures.find(path);
    if (it == pictures.end()) return fail(PictureError::CannotOpen);
    return it->second;
}

std::error_code FakePlatform::savePicture(const Raster& picture, const std::string& path) {
    calls.push_back("savePicture:" + path);
    return writeFileAtomically(path, window_rules::encodeBmp24(picture));
}

ColourValue FakePlatform::colourUnderPointer() {
    calls.push_back("pointer");
    return pointerColour;
}

}  // namespace tplforge::testing
