// The main window: every control at its fixed place, showing the slot model and
// forwarding each click and timer tick to its command. It keeps no state of its
// own; after every command it repaints from the model and lines its two timers
// up with the model's size checks.
#pragma once

#include <array>
#include <functional>

#include <QWidget>

#include "commands/commands.h"

class QGroupBox;
class QLabel;
class QRadioButton;
class QTimer;

namespace tplforge {

class AlphaSwatch;
class ClickLabel;
class CommandButton;
class PictureView;

// The built-in start-up picture (400 × 260, compiled in as JPEG data).
SharedRaster startupPicture();

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 609;
    static constexpr int kClientHeight = 448;

    // Builds the controls and runs start-up on the model.
    explicit MainWindow(Commands& commands, QWidget* parent = nullptr);

    void repaintFromModel();
    // Before a modal wait inside a command: show the model as it stands and hold
    // the timers, so no tick runs in the middle of a command.
    void beforeModal();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void arrangeTabOrder();
    void fitFont();
    bool captionsFit(const QFont& font) const;
    // Every click and tick goes through here: the command, then the repaint.
    void run(const std::function<void()>& command);
    template <typename Sender, typename Signal>
    void bind(Sender* sender, Signal signal, void (Commands::*command)());
    void syncTimers();

    Commands& commands_;

    CommandButton* readPictureButton_ = nullptr;
    CommandButton* saveTplButton_ = nullptr;
    CommandButton* savePictureButton_ = nullptr;
    CommandButton* exitButton_ = nullptr;
    CommandButton* readTargaButton_ = nullptr;
    CommandButton* readTplButton_ = nullptr;
    CommandButton* clearButton_ = nullptr;

    QGroupBox* sizeFrame_ = nullptr;
    QLabel* widthCaption_ = nullptr;
    QLabel* widthLabel_ = nullptr;
    QLabel* widthUnit_ = nullptr;
    QLabel* heightCaption_ = nullptr;
    QLabel* heightLabel_ = nullptr;
    QLabel* heightUnit_ = nullptr;

    std::array<ClickLabel*, kSlotCount> slotNumbers_{};
    std::array<PictureView*, kSlotCount> thumbnails_{};
    std::array<QLabel*, kSlotCount> tags_{};

    PictureView* surfaceView_ = nullptr;
    PictureView* previewView_ = nullptr;

    QGroupBox* formatFrame_ = nullptr;
    QRadioButton* rgb565Option_ = nullptr;
    QRadioButton* rgb5a3Option_ = nullptr;
    QLabel* alphaCaption_ = nullptr;
    AlphaSwatch* alphaSwatch_ = nullptr;

    QTimer* widthBlinkTimer_ = nullptr;
    QTimer* heightBlinkTimer_ = nullptr;

    bool inCommand_ = false;
    bool closeAsked_ = false;
};

}  // namespace tplforge
