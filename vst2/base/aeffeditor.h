// The host-facing editor interface. The effect reaches its editor only
// through this class; the dispatcher forwards the editor opcodes here. The
// base behaviour records the host's parent window and answers "no" to
// everything else, so an effect with a bare AEffEditor behaves as one
// without a window.
#pragma once

#include <cstdint>

#include "vst2/base/aeffect.h"

class AudioEffect;

class AEffEditor {
  public:
    explicit AEffEditor(AudioEffect* owner = nullptr) : effect(owner) {}
    virtual ~AEffEditor() {}

    virtual AudioEffect* getEffect() { return effect; }
    // Stores null in *rect and answers false: the base has no size.
    virtual bool getRect(ERect** rect);
    // Records the host's parent window; the base cannot open a window.
    virtual bool open(void* ptr);
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode& keyCode);
    virtual bool onKeyUp(VstKeyCode& keyCode);
    virtual bool onWheel(float distance);
    virtual bool setKnobMode(int32_t mode);

    // The effect calls this on every stored parameter value (host, editor
    // or chunk), from whatever thread stored it. Editors that show controls
    // override it with exactly this signature; the base ignores it.
    virtual void setParameter(int32_t index, float value);

  protected:
    AudioEffect* effect = nullptr;  // the owning effect, not owned
    void* systemWindow = nullptr;   // the host's parent window while open
};
