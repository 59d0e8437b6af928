// The editor base that binds an effect's editor to the widget toolkit.
//
// The editor owns its frame exactly while the host has the editor window
// open; a derived editor builds the frame and its views in open() and
// destroys the frame in close(). This base routes the host's idle, key and
// wheel calls to the frame, forwards the begin and end of user gestures to
// the effect, and paces the idle pump that controls run inside their modal
// mouse loops.
#pragma once

#include <cstdint>

#include "panel/idle_pump.h"
#include "vst2/base/aeffect.h"
#include "vst2/base/aeffeditor.h"
#include "vstgui/frame_owner.h"
#include "vstgui/keycode.h"

namespace VSTGUI {
class CFrame;
}

class AEffGUIEditor : public AEffEditor, public VSTGUI::FrameOwner {
  public:
    explicit AEffGUIEditor(AudioEffect* owner);
    ~AEffGUIEditor() override;

    // The panel's rectangle in device pixels: `rect` at the factor of the
    // open frame, or before an open at the factor it would get without
    // asking the desktop (the host's or the user's, else the last one used).
    // Always true.
    bool getRect(ERect** out) override;

    // The host's factor ('PreS' / 'AeCs' vendor-specific call): a number
    // is kept and clamped to [1, 3], NaN and infinities are ignored. An open
    // frame is rescaled and the host asked to resize its window.
    void setHostScale(float factor);
    // The factor for a frame opening in `parent` (panel/panel_scale.h);
    // getRect reports it from then on.
    double chooseScale(void* parent);
    // The desktop's factor changed under the open frame: it is rescaled,
    // unless the host or the user gave a factor, which stays.
    void desktopScaleChanged(double factor) override;
    // The frame's idle, unless called from inside the host's idle callback.
    void idle() override;
    // True exactly when the frame answers 1.
    bool onKeyDown(VstKeyCode& keyCode) override;
    bool onKeyUp(VstKeyCode& keyCode) override;
    // Wheel at the pointer's current position over the frame.
    bool onWheel(float distance) override;
    // The mode is the toolkit's, shared by every frame of the module.
    bool setKnobMode(int32_t mode) override;

    // The base shows no parameters.
    void setParameter(int32_t index, float value) override;
    // The effect's beginEdit and endEdit (to the host).
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;
    // The host's audioMasterSizeWindow, when it says it can.
    bool sizeWindow(int32_t width, int32_t height) override;
    // Called once per iteration of a control's modal mouse loop: runs one
    // full idle pass (redraw, one pending paint, the host's idle) at the
    // pace of panel/idle_pump.h, and redraws the dirty views in between.
    void pumpIdle() override;

    VSTGUI::CFrame* getFrame() const { return frame; }
    static int32_t getKnobMode();
    // When the idle pump's next full pass is due.
    uint32_t getNextIdleTicks() const { return pump.nextPass(); }
    bool isInMasterIdle() const { return inMasterIdle; }
    // A host's key as the toolkit's views see it.
    static VSTGUI::KeyCode toolkitKey(const VstKeyCode& key);

  protected:
    ERect rect{0, 0, 0, 0};
    bool inMasterIdle = false;
    VSTGUI::CFrame* frame = nullptr;  // owned; present while the window is open

  private:
    kv::panel::IdlePump pump;  // its first pass is due at construction
    double hostScale = 0.0;    // 0: the host said nothing
    double lastScale = 1.0;    // the factor of the last frame opened
    ERect shownRect{0, 0, 0, 0};
};
