#include "vst2/aeffguieditor.h"

#include <cstdlib>
#include <utility>

#include "common/idle_path.h"
#include "vst2/base/audioeffectx.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/density.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/native_window.h"

namespace {
VSTGUI::platform::Clock& ticker() {
    return VSTGUI::platform::clock();
}
}  // namespace

AEffGUIEditor::AEffGUIEditor(AudioEffect* owner) : AEffEditor(owner) {
    nextIdleTicks = ticker().ticks();
}

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
    } else if (const double requested = requestedScale(); requested > 0.0) {
        scale = VSTGUI::CFrame::usableScale(requested);
    }
    const auto scaled = [scale](int16_t units) {
        return static_cast<int16_t>(VSTGUI::density::toDevice(units, scale));
    };
    shownRect = ERect{scaled(rect.top), scaled(rect.left), scaled(rect.bottom), scaled(rect.right)};
    if (out) *out = &shownRect;
    return true;
}

double AEffGUIEditor::requestedScale() const {
    if (hostScale > 0.0) return hostScale;
    return VSTGUI::density::parseScale(std::getenv("KV23_SCALE"));
}

double AEffGUIEditor::chooseScale(void* parent) {
    double scale = requestedScale();
    if (scale == 0.0 && parent)
        scale = VSTGUI::density::acceptScale(VSTGUI::platform::desktopScale(parent));
    lastScale = VSTGUI::CFrame::usableScale(scale);
    return lastScale;
}

void AEffGUIEditor::desktopScaleChanged(double factor) {
    if (!frame || requestedScale() > 0.0) return;
    const double accepted = VSTGUI::density::acceptScale(factor);
    lastScale = VSTGUI::CFrame::usableScale(accepted > 0.0 ? accepted : 1.0);
    frame->setScale(lastScale);
}

void AEffGUIEditor::setHostScale(float factor) {
    const double accepted = VSTGUI::density::acceptScale(factor);
    if (accepted == 0.0) return;
    hostScale = accepted;
    if (!frame) return;
    lastScale = VSTGUI::CFrame::usableScale(hostScale);
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

void AEffGUIEditor::redrawBetweenPasses(uint32_t now) {
    // A pass (and the host's idle) comes only every 50 to 100 ms; the
    // panel follows the pointer at 50 frames a second all the same. Only
    // the frame's dirty views are drawn: no window event is handled and the
    // host is not called, so nothing can come back into the editor here.
    if (!frame || inMasterIdle || now - lastRedrawTicks < 20) return;
    lastRedrawTicks = now;
    frame->redrawDirtyViews();
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
    // Measured as the time since the last pass (due 100 ms after it) with
    // an unsigned difference, which stays right when the millisecond
    // counter wraps around (every 49.7 days).
    uint32_t now = ticker().ticks();
    const uint32_t lastPass = nextIdleTicks - 100;
    if (now - lastPass < 100) {
        ticker().sleep(4);
        now += 4;
        if (now - lastPass < 50) {
            redrawBetweenPasses(now);
            return;
        }
    }
    lastRedrawTicks = now;
    VSTGUI::CFrame* const pumping = frame;
    idle();
    // A handler run by that pass called the host, which closed the editor:
    // nothing more reaches the host from this pass.
    if (frame != pumping) return;
    if (frame && frame->getPlatformWindow()) frame->getPlatformWindow()->processOnePaint();
    inMasterIdle = true;
    nextIdleTicks = now + 100;
    if (effect) effect->masterIdle();
    inMasterIdle = false;
}
