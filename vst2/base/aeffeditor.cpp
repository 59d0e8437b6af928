#include "vst2/base/aeffeditor.h"

bool AEffEditor::getRect(ERect** rect) {
    if (rect) *rect = nullptr;
    return false;
}

bool AEffEditor::open(void* ptr) {
    systemWindow = ptr;
    return false;
}

bool AEffEditor::onKeyDown(VstKeyCode& /*keyCode*/) {
    return false;
}
bool AEffEditor::onKeyUp(VstKeyCode& /*keyCode*/) {
    return false;
}
bool AEffEditor::onWheel(float /*distance*/) {
    return false;
}
bool AEffEditor::setKnobMode(int32_t /*mode*/) {
    return false;
}
void AEffEditor::setParameter(int32_t /*index*/, float /*value*/) {}
