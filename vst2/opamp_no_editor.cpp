// The effect without its panel: programs that test or time the effect alone
// link this unit in place of brackenlume_opamp_gui.cpp. Every editor opcode
// then answers 0, as for a panel that could not be allocated.
#include "vst2/brackenlume_opamp.h"

AEffEditor* createOpampEditor(BrackenlumeOpamp* /*effect*/) {
    return nullptr;
}

bool setOpampEditorScale(AEffEditor* /*editor*/, float /*factor*/) {
    return false;
}
