#include "vst2/brackenlume_opamp_gui.h"

#include <new>

#include "dsp/decibel_text.h"
#include "vst2/brackenlume_opamp.h"
#include "vstgui/cframe.h"

AEffEditor* createOpampEditor(BrackenlumeOpamp* effect) {
    // Out of memory half-way through the constructor: the editor never
    // registered itself, and the effect runs without one.
    try {
        return new (std::nothrow) BrackenlumeOpampGUI(effect);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool setOpampEditorScale(AEffEditor* editor, float factor) {
    // The only editor this effect ever holds is the one made above.
    auto* gui = static_cast<BrackenlumeOpampGUI*>(editor);
    if (!gui) return false;
    gui->setHostScale(factor);
    return true;
}

BrackenlumeOpampGUI::BrackenlumeOpampGUI(BrackenlumeOpamp* owner)
    : AEffGUIEditor(owner), opamp(owner) {
    // Dragging files or text onto the panel needs no per-thread service on
    // this system: the frame's window registers itself as a drop target.
    const VSTGUI::CRect size = Panel::panelSize();
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(size.height());
    rect.right = static_cast<int16_t>(size.width());
    // Registered last, when nothing can fail any more: the effect deletes
    // the editor it holds, and must never hold one that is half built.
    if (owner) {
        owner->setEditor(this);
        owner->cEffect.flags |= effFlagsHasEditor;
    }
}

BrackenlumeOpampGUI::~BrackenlumeOpampGUI() {
    // A host that deletes the effect with the window still open: the effect
    // deletes its editor while it is still whole, so the LED is withdrawn
    // from processing as on a normal close.
    if (frame) close();
}

bool BrackenlumeOpampGUI::open(void* ptr) {
    // A second open without a close would leave the first window behind.
    if (frame) close();
    systemWindow = ptr;
    // Out of memory part-way: the host hears 0 and the instance stays as it
    // was, so a later open starts afresh.
    // The panel lends the LED's cell to the effect's processing once it is
    // complete.
    if (!panel.open(ptr, chooseScale(ptr), opamp ? &opamp->peakHandover() : nullptr)) {
        systemWindow = nullptr;
        return false;
    }
    // Last: from here on idle, keys and the wheel reach the frame.
    frame = panel.getFrame();
    return true;
}

void BrackenlumeOpampGUI::close() {
    // The panel takes the LED back from the audio thread before it goes.
    frame = nullptr;
    AEffGUIEditor::close();
    panel.close();
}

void BrackenlumeOpampGUI::setParameter(int32_t index, float /*value*/) {
    // The stored value, which the effect may have clamped.
    if (effect) panel.parameterChanged(index, effect->getParameter(index));
}

float BrackenlumeOpampGUI::parameterValue(int32_t index) {
    return effect ? effect->getParameter(index) : 0.f;
}

void BrackenlumeOpampGUI::changeParameter(int32_t index, float value, bool automate) {
    if (!effect) return;
    // The effect stores (and clamps) the value and calls setParameter,
    // which moves the controls; an automated change also tells the host.
    if (automate)
        effect->setParameterAutomated(index, value);
    else
        effect->setParameter(index, value);
}

void BrackenlumeOpampGUI::beginGesture(int32_t index) {
    if (effect && index < effect->getAeffect()->numParams) AEffGUIEditor::beginEdit(index);
}

void BrackenlumeOpampGUI::endGesture(int32_t index) {
    if (effect && index < effect->getAeffect()->numParams) AEffGUIEditor::endEdit(index);
}

void BrackenlumeOpampGUI::runHost() {
    AEffGUIEditor::pumpIdle();
}

bool BrackenlumeOpampGUI::resizeHostWindow(int32_t width, int32_t height) {
    return AEffGUIEditor::sizeWindow(width, height);
}

void BrackenlumeOpampGUI::followDesktopScale(double factor) {
    AEffGUIEditor::desktopScaleChanged(factor);
}

bool BrackenlumeOpampGUI::readDecibels(const char* text, float& number) {
    return kv::opamp::readDecibels(text, number);
}
