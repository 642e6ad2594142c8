// The main window: every control at its fixed place, showing the slot model and
// forwarding each click and timer tick to its handler. It keeps no state of its
// own; after every handler it repaints from the model and lines its two timers
// up with the model's size checks.
#pragma once

#include <array>

#include <QWidget>

#include "slots/handlers.h"

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
Picture startupPicture();

class frmmain : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 609;
    static constexpr int kClientHeight = 448;

    // Builds the controls and runs start-up on the model.
    explicit frmmain(Handlers& handlers, QWidget* parent = nullptr);

    void repaintFromModel();
    // Before a modal wait inside a handler: show the model as it stands and hold
    // the timers, so no tick runs in the middle of a command.
    void beforeModal();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void arrangeTabOrder();
    void fitFont();
    bool captionsFit(const QFont& font) const;
    // Every click and tick goes through here: the handler, then the repaint.
    void run(void (Handlers::*handler)());
    template <typename Sender, typename Signal>
    void bind(Sender* sender, Signal signal, void (Handlers::*handler)());
    void syncTimers();

    Handlers& handlers_;

    CommandButton* cmd2_ = nullptr;
    CommandButton* command1_ = nullptr;
    CommandButton* command5_ = nullptr;
    CommandButton* cmd4_ = nullptr;
    CommandButton* command2_ = nullptr;
    CommandButton* command4_ = nullptr;
    CommandButton* command3_ = nullptr;

    QGroupBox* frame1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* ancho_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* alto_ = nullptr;
    QLabel* label3_ = nullptr;

    std::array<ClickLabel*, kSlotCount> slotNumbers_{};
    std::array<PictureView*, kSlotCount> thumbnails_{};
    std::array<QLabel*, kSlotCount> tags_{};

    PictureView* picture1_ = nullptr;
    PictureView* image6_ = nullptr;

    QGroupBox* frame2_ = nullptr;
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
    QLabel* label10_ = nullptr;
    AlphaSwatch* alco_ = nullptr;

    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
};

}  // namespace tplforge
