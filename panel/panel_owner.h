// What the op-amp panel asks of the plug-in format that shows it. Each
// format (the VST 2 editor, the LV2 UI, the CLAP gui) implements this once;
// the panel knows nothing else about its host.
//
// Values are normalised parameter values in [0, 1] on the scales of
// dsp/opamp_params.h; indices are the parameter indices there. Every call
// comes on the user-interface thread. The owner may close the panel from
// inside any of them (a host that answers a change by closing its window).
#pragma once

#include <cstdint>

namespace kv::panel {

class PanelOwner {
  public:
    // The value the sound uses now (after the format's clamping).
    virtual float parameterValue(int32_t index) = 0;
    // The user set a value: by a gesture on a control (`automate`: the host
    // records it as automation) or by typing into a field (not recorded).
    // The owner answers with the panel's parameterChanged once stored.
    virtual void changeParameter(int32_t index, float value, bool automate) = 0;
    // The begin and end of a user gesture on a parameter.
    virtual void beginGesture(int32_t index) = 0;
    virtual void endGesture(int32_t index) = 0;
    // Whether a control that holds the mouse may keep the host's call
    // waiting until the button is up (VST 2 hosts expect that loop), with
    // runHost called over and over meanwhile. Otherwise the drag advances at
    // each of the host's idle calls, which return at once: the host's UI,
    // its meters and its flushes go on during a drag.
    virtual bool modalDrags() const { return false; }
    // Called over and over while a control holds the mouse in a modal drag:
    // redraw and let the host do its own work as the format allows.
    virtual void runHost() {}
    // Asks the host for a window of `width` x `height` device pixels; false
    // when it cannot (the panel then resizes what it can reach itself).
    virtual bool resizeHostWindow(int32_t width, int32_t height) = 0;
    // The desktop's scale under the open panel changed; the owner decides
    // whether the panel follows (setScale on the frame).
    virtual void followDesktopScale(double factor) = 0;

    virtual ~PanelOwner() = default;
};

}  // namespace kv::panel
