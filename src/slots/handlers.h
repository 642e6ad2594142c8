// One handler per control event, named after its control. Each runs its command
// from start to end against the model, asking the platform for dialogs, message
// boxes and pictures; the window calls these and repaints from the model after.
#pragma once

#include "platform/platform.h"
#include "slots/slot_model.h"

namespace tplforge {

class Handlers {
public:
    Handlers(SlotModel& model, Platform& platform) : model_(model), platform_(platform) {}

    void Cmd2();      // "Leer imagen"
    void Command1();  // "Guardar TPL"
    void Command2();  // "Leer TGA"
    void Command3();  // "Borrar imagen"
    void Command4();  // "Leer TPL"
    void Command5();  // "Salvar imagen"

    void Option1();  // "RGB565"
    void Option2();  // "RGB5A3"

    // Thumbnails and the slot number labels beside them select a slot.
    void Image1() { selectSlot(1); }
    void Image2() { selectSlot(2); }
    void Image3() { selectSlot(3); }
    void Image4() { selectSlot(4); }
    void Image5() { selectSlot(5); }
    void Label5() { Image1(); }
    void Label6() { Image2(); }
    void Label7() { Image3(); }
    void Label8() { Image4(); }
    void Label9() { Image5(); }
    void selectSlot(int i);

    void Image6();  // a click on the preview picks the alpha colour

    void Timer1();  // width blink check
    void Timer2();  // height blink check

    SlotModel& model() { return model_; }
    Platform& platform() { return platform_; }

private:
    SlotModel& model_;
    Platform& platform_;
};

}  // namespace tplforge
