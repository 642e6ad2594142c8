// Every action of the window, run from start to end against the slot model; the
// platform answers dialogs, message boxes and picture loads. The window calls
// these and repaints from the model after.
#pragma once

#include "platform/platform.h"
#include "slots/slot_model.h"

namespace tplforge {

class Commands {
public:
    Commands(SlotModel& model, Platform& platform) : model_(model), platform_(platform) {}

    void readPicture();   // "Leer imagen"
    void saveTpl();       // "Guardar TPL"
    void readTarga();     // "Leer TGA"
    void clearPicture();  // "Borrar imagen"
    void readTpl();       // "Leer TPL"
    void savePicture();   // "Salvar imagen"

    void chooseRgb565();  // the "RGB565" option
    void chooseRgb5a3();  // the "RGB5A3" option

    // A thumbnail or the slot number beside it was clicked.
    void selectSlot(int i);

    void pickAlphaColour();  // a click on the preview

    void tickWidthCheck();   // the width blink timer
    void tickHeightCheck();  // the height blink timer

    SlotModel& model() { return model_; }
    Platform& platform() { return platform_; }

private:
    SlotModel& model_;
    Platform& platform_;
};

}  // namespace tplforge
