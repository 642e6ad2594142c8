// Replace: the texture as it is beside the picture as the texture would hold it,
// encoded on a worker thread with the texture's own settings or those chosen
// here, with its PSNR against the picture. Return takes it.
#pragma once

#include <QDialog>
#include <QThreadPool>

#include <optional>

#include "model/document.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tplforge::browse {

class TextureCanvas;

class ReplaceDialog : public QDialog {
    Q_OBJECT
public:
    ReplaceDialog(StepBase base, const TextureRef& texture, Image picture, const QString& pictureName,
                  QWidget* parent = nullptr);
    ~ReplaceDialog() override;

    [[nodiscard]] SettingChanges changes() const;
    // The step worked out for the settings shown; set once the preview is ready.
    [[nodiscard]] const std::optional<Step>& step() const { return step_; }
    [[nodiscard]] std::optional<Step> takeStep() { return std::move(step_); }
    [[nodiscard]] bool previewReady() const { return ready_; }
    [[nodiscard]] std::optional<double> psnr() const { return psnr_; }

public slots:
    void accept() override;

signals:
    void previewShown();

private:
    void schedulePreview();
    void showPreview(std::uint64_t generation, std::optional<Step> step, QString problem, QImage preview,
                     std::optional<double> psnr);
    void updateEnabled();

    StepBase base_;
    std::string texturePath_;
    Format textureFormat_;
    Image picture_;
    QString pictureName_;
    QThreadPool pool_;
    std::uint64_t generation_ = 0;
    std::optional<Step> step_;
    std::optional<double> psnr_;
    bool ready_ = false;
    bool takeWhenReady_ = false;
    QImage previewImage_, pictureImage_;

    TextureCanvas* now_ = nullptr;
    TextureCanvas* after_ = nullptr;
    QCheckBox* showPicture_ = nullptr;
    QComboBox* format_ = nullptr;
    QComboBox* paletteFormat_ = nullptr;
    QSpinBox* entries_ = nullptr;
    QComboBox* levels_ = nullptr;
    QComboBox* quality_ = nullptr;
    QCheckBox* dither_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* take_ = nullptr;
};

}  // namespace tplforge::browse
