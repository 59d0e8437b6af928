// What a frame asks of whoever owns it: the editor of a plug-in format, or
// the panel that format's editor shows. The frame calls these on the
// user-interface thread only, and never after release().
#pragma once

#include <cstdint>

namespace VSTGUI {

class FrameOwner {
  public:
    // The begin and end of a user gesture on the control with this tag.
    virtual void beginEdit(int32_t index) = 0;
    virtual void endEdit(int32_t index) = 0;
    // Whether a control that follows the mouse loops inside its mouse
    // handler (the host's call waits until the button is up) rather than
    // advancing at each of the frame's idle calls (ccontrol.h, Drags).
    virtual bool modalDrags() const { return true; }
    // Called once per iteration of a control's modal mouse loop, and when a
    // control wants to show a change at once: the owner redraws and lets
    // its host run as often as it sees fit.
    virtual void pumpIdle() = 0;
    // Asks the host to make its window `width` x `height` device pixels;
    // false when the host cannot (the frame then resizes the windows it
    // can reach itself). The owner may close the frame from inside.
    virtual bool sizeWindow(int32_t width, int32_t height) = 0;
    // The desktop's scale under the open frame changed to `factor`.
    virtual void desktopScaleChanged(double factor) = 0;

  protected:
    ~FrameOwner() = default;
};

}  // namespace VSTGUI
