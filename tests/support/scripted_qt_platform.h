// The desktop platform, real pictures and message boxes included, with its file
// dialogs answered from queues.
#pragma once

#include "platform/qt/qt_platform.h"
#include "support/fake_platform.h"

namespace tplforge::testing {

class ScriptedQtPlatform : public QtPlatform {
public:
    std::deque<std::string> openAnswers, saveAnswers;
    int dialogs = 0;  // how many were asked for
    std::string showOpenDialog(const FileDialogRequest&) override { return ++dialogs, takeFront(openAnswers); }
    std::string showSaveDialog(const FileDialogRequest&) override { return ++dialogs, takeFront(saveAnswers); }
};

}  // namespace tplforge::testing
