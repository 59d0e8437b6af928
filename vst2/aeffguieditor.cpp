#include "vst2/aeffguieditor.h"

#include <utility>

#include "common/idle_path.h"
#include "panel/panel_scale.h"
#include "vst2/base/audioeffectx.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/density.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/native_window.h"

AEffGUIEditor::AEffGUIEditor(AudioEffect* owner)
    : AEffEditor(owner), pump(VSTGUI::platform::clock().ticks()) {}

AEffGUIEditor::~AEffGUIEditor() {
    // A host that deletes the effect without closing the editor window
    // would otherwise leave the frame, its views and its window behind.
    if (frame) frame->release();
    frame = nullptr;
}

bool AEffGUIEditor::getRect(ERect** out) {
    double scale = lastScale;
    if (frame) {
        scale = frame->getScale();
    } else if (const double requested = kv::panel::requestedScale(hostScale); requested > 0.0) {
        scale = requested;
    }
    const auto scaled = [scale](int16_t units) {
        return static_cast<int16_t>(VSTGUI::density::toDevice(units, scale));
    };
    shownRect = ERect{scaled(rect.top), scaled(rect.left), scaled(rect.bottom), scaled(rect.right)};
    if (out) *out = &shownRect;
    return true;
}

double AEffGUIEditor::chooseScale(void* parent) {
    lastScale = kv::panel::chooseScale(hostScale, parent);
    return lastScale;
}

void AEffGUIEditor::desktopScaleChanged(double factor) {
    if (!frame) return;
    const double next = kv::panel::scaleAfterDesktopChange(hostScale, factor);
    if (next == 0.0) return;
    lastScale = next;
    frame->setScale(lastScale);
}

void AEffGUIEditor::setHostScale(float factor) {
    const double accepted = kv::panel::acceptHostScale(factor);
    if (accepted == 0.0) return;
    hostScale = accepted;
    if (!frame) return;
    lastScale = kv::panel::requestedScale(hostScale);
    frame->setScale(lastScale);
}

KV_IDLE_PATH void AEffGUIEditor::idle() {
    if (inMasterIdle) return;
    if (frame) frame->idle();
}

// A key or wheel turn may end in a call to the host, which may close the
// editor: the frame stays until the handler is done (see CFrame).
bool AEffGUIEditor::onKeyDown(VstKeyCode& keyCode) {
    VSTGUI::CFrame::Scope keep(frame);
    return frame && frame->onKeyDown(toolkitKey(keyCode)) == 1;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& keyCode) {
    VSTGUI::CFrame::Scope keep(frame);
    return frame && frame->onKeyUp(toolkitKey(keyCode)) == 1;
}

bool AEffGUIEditor::onWheel(float distance) {
    if (!frame) return false;
    VSTGUI::CFrame::Scope keep(frame);
    VSTGUI::platform::NativeWindow* window = frame->getPlatformWindow();
    auto* context = new VSTGUI::CDrawContext(frame, nullptr, window);
    // The pointer relative to the window's top-left corner on the screen.
    const VSTGUI::CPoint screen =
        window ? context->toolkitScreen(window->pointerPosition()) : context->offsetScreen;
    const VSTGUI::CPoint where = screen - context->offsetScreen;
    const bool result = frame->onWheel(context, where, distance);
    context->forget();
    return result;
}

bool AEffGUIEditor::setKnobMode(int32_t mode) {
    VSTGUI::setToolkitKnobMode(mode);
    return true;
}

int32_t AEffGUIEditor::getKnobMode() {
    return VSTGUI::getToolkitKnobMode();
}

void AEffGUIEditor::setParameter(int32_t, float) {}

void AEffGUIEditor::beginEdit(int32_t index) {
    if (auto* fx = dynamic_cast<AudioEffectX*>(effect)) fx->beginEdit(index);
}

void AEffGUIEditor::endEdit(int32_t index) {
    if (auto* fx = dynamic_cast<AudioEffectX*>(effect)) fx->endEdit(index);
}

bool AEffGUIEditor::sizeWindow(int32_t width, int32_t height) {
    auto* fx = dynamic_cast<AudioEffectX*>(effect);
    return fx && fx->canHostDo("sizeWindow") && fx->sizeWindow(width, height);
}

VSTGUI::KeyCode AEffGUIEditor::toolkitKey(const VstKeyCode& key) {
    // The keys a view acts on; any other virtual key reaches it as none.
    static constexpr std::pair<uint8_t, uint8_t> kKeys[] = {
        {VKEY_BACK, VSTGUI::kKeyBack},     {VKEY_TAB, VSTGUI::kKeyTab},
        {VKEY_RETURN, VSTGUI::kKeyReturn}, {VKEY_ESCAPE, VSTGUI::kKeyEscape},
        {VKEY_LEFT, VSTGUI::kKeyLeft},     {VKEY_UP, VSTGUI::kKeyUp},
        {VKEY_RIGHT, VSTGUI::kKeyRight},   {VKEY_DOWN, VSTGUI::kKeyDown}};
    static constexpr std::pair<uint8_t, uint8_t> kModifiers[] = {
        {MODIFIER_SHIFT, VSTGUI::kShiftKey},
        {MODIFIER_ALTERNATE, VSTGUI::kAlternateKey},
        {MODIFIER_COMMAND, VSTGUI::kCommandKey},
        {MODIFIER_CONTROL, VSTGUI::kControlKey}};
    VSTGUI::KeyCode code;
    code.character = key.character;
    for (const auto& [host, toolkit] : kKeys) {
        if (key.virt == host) code.virt = toolkit;
    }
    for (const auto& [host, toolkit] : kModifiers) {
        if (key.modifier & host) code.modifier |= toolkit;
    }
    return code;
}

void AEffGUIEditor::pumpIdle() {
    if (!pump.due(frame, inMasterIdle)) return;
    VSTGUI::CFrame* const pumping = frame;
    idle();
    // A handler run by that pass called the host, which closed the editor:
    // nothing more reaches the host from this pass.
    if (frame != pumping) return;
    if (frame && frame->getPlatformWindow()) frame->getPlatformWindow()->processOnePaint();
    inMasterIdle = true;
    if (effect) effect->masterIdle();
    inMasterIdle = false;
}
