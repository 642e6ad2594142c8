// The desktop behind the commands: Qt file dialogs and message boxes, pictures
// (PNG in-process, the rest through the picture reader process), the bitmap
// saver, and the screen colour under the pointer.
#pragma once

#include <functional>

#include <QString>

#include "picture_reader/picture_reader.h"
#include "platform/platform.h"

class QWidget;

namespace tplforge {

class QtPlatform : public Platform {
public:
    // Points this process's Qt settings where nothing is kept (see keepNoSettings).
    explicit QtPlatform(QWidget* parent = nullptr);

    void setParentWidget(QWidget* parent) { parent_ = parent; }
    // Runs before every modal wait (a dialog, a message box, reading a picture),
    // so the window can show the model as it stands in the middle of a command.
    void setBeforeModal(std::function<void()> callback) { beforeModal_ = std::move(callback); }
    // Which reader process to run for pictures other than PNG, and for how long.
    void setPictureReader(PictureReader reader) { pictureReader_ = std::move(reader); }

    std::string showOpenDialog(const FileDialogRequest& request) override;
    std::string showSaveDialog(const FileDialogRequest& request) override;
    MessageAnswer showMessage(const MessageBoxRequest& request) override;
    Expected<WindowRaster, PictureError> loadPicture(const std::string& path) override;
    std::error_code savePicture(const WindowRaster& picture, const std::string& path) override;
    ColourValue colourUnderPointer() override;

private:
    void beforeModal() const {
        if (beforeModal_) beforeModal_();
    }

    QWidget* parent_;
    std::function<void()> beforeModal_;
    PictureReader pictureReader_;
};

// "desc|patterns|desc|patterns" → Qt's ";;"-separated name filters, each
// "desc (pattern pattern …)".
QString qtNameFilters(const std::string& filter);

}  // namespace tplforge
