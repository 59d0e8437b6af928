// Controls: views that carry a value between a minimum and a maximum, with a
// default, a tag and a listener.
//
// Dirty model of a control: a control is dirty while its value differs from
// `oldValue`, the value that is on screen. So setting a value needs no
// explicit invalidation: the container's update pass finds the control dirty
// and redraws it, and every draw ends with setDirty(false), which makes
// `oldValue` equal to the value just drawn. A draw reads the value once,
// through valueToDraw(), and that reading is what setDirty(false) records:
// another thread may store a new value while the draw is under way, and that
// one is not on screen yet.
//
// Threads: hosts set parameters (and through the editor, control values)
// from other threads while the editor draws, so the value itself is an
// atomic float with relaxed access. Everything else belongs to the
// user-interface thread.
//
// Every user gesture that changes a value is bracketed by beginEdit and
// endEdit, which travel through the frame to the editor and the host with
// the control's tag as the parameter index.
//
// Drags. A control that follows the mouse does it one of two ways, as its
// frame's owner says (FrameOwner::modalDrags): in a loop inside its mouse
// handler, which polls the pointer and pumps idle until the button is up
// (the host waits meanwhile), or one round at each of the frame's idle calls
// until the button is up, the handler returning at once. Both run the same
// rounds with the same mapping, so a drag gives the same values either way.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "vstgui/cview.h"

namespace VSTGUI {

class CControl;
class CDrawContext;
class CBitmap;

// Implemented by whoever wants to hear about user changes (the editor).
class CControlListener {
  public:
    virtual ~CControlListener() = default;
    // The user changed the control's value (the value is already clamped and
    // stored). `context` may be null (keyboard changes).
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
    // A click with a modifier key; a non-zero answer takes the click and the
    // control does not handle it.
    virtual int32_t controlModifierClicked(CDrawContext* context, CControl* control,
                                           int32_t buttons) = 0;
};

class CControl : public CView {
  public:
    CControl(const CRect& size, CControlListener* listener = nullptr, int32_t tag = 0,
             CBitmap* background = nullptr);
    ~CControl() override;

    // Every concrete control draws itself and ends with setDirty(false).
    void draw(CDrawContext* context) override = 0;
    bool isDirty() const override;
    void setDirty(bool flag = true) override;
    bool isTypeOf(const char* name) const override;

    // Lets pending paints and the editor's idle run inside a mouse loop.
    virtual void pumpIdle();

    // Stores the value as given: no clamping, no dirty marking (the changed
    // value itself makes the control dirty). Safe from any thread.
    virtual void setValue(float newValue);
    virtual float getValue() const;
    virtual void setMin(float v) { minValue = v; }
    virtual float getMin() const { return minValue; }
    virtual void setMax(float v) { maxValue = v; }
    virtual float getMax() const { return maxValue; }
    virtual void setOldValue(float v) { oldValue = v; }
    virtual float getOldValue() const { return oldValue; }
    virtual void setDefaultValue(float v) { defaultValue = v; }
    virtual float getDefaultValue() const { return defaultValue; }
    virtual void setTag(int32_t t) { tag = t; }
    virtual int32_t getTag() const { return tag; }

    // Opens the edit bracket: the control becomes the frame's focus view and
    // the host hears that the parameter `tag` is being edited.
    virtual void beginEdit();
    virtual void endEdit();

    virtual void setBackOffset(const CPoint& offset) { backOffset = offset; }
    virtual void setBackOffsetFromSize();
    virtual void setWheelInc(float v) { wheelInc = v; }
    virtual float getWheelInc() const { return wheelInc; }

    // Clamps the value into [min, max].
    virtual void bounceValue();
    // A click with exactly the left button and Control resets the value to
    // the default inside an edit bracket and tells the listener; answers
    // whether it took the click.
    virtual bool checkDefaultValue(CDrawContext* context, int32_t buttons);

    CControlListener* getListener() const { return listener; }
    void setListener(CControlListener* l) { listener = l; }
    const CPoint& getBackOffset() const { return backOffset; }
    int32_t getDoubleClickDelay() const { return doubleClickDelay; }

    // The frame's idle advances a drag that runs from there: one round at
    // the live pointer. False once it has ended (the button is up); the
    // edit bracket is then closed.
    bool stepDrag(CDrawContext* context);
    // The frame goes while a drag runs from its idle: the drag ends without
    // telling anyone (the frame's owner ends the gestures it heard begin).
    void abandonDrag() { dragAbandoned = true; }

  protected:
    // How a drag moves the value: called with each new pointer position
    // (frame coordinates) and the buttons and modifiers polled in that
    // round, it stores the new value. It owns its state (a lambda that
    // captures by value), as it may outlive the mouse handler.
    using DragMapping = std::function<void(const CPoint&, int32_t)>;

    // The drag of a press at `press`: opens the edit bracket; then, round
    // after round until a poll finds the left button up, polls the live
    // buttons, lets `moveTo` store the value for each new pointer position,
    // tells the listener about every change that makes the control dirty and
    // reads the pointer. A step too small to redraw is not reported at once,
    // so at the end the listener learns the value the drag ended on if it
    // has not yet; then the bracket closes. In a loop here that pumps idle
    // after each round, or from the frame's idle (see Drags above). When the
    // editor closes meanwhile no button reads as down and the drag ends.
    void trackDrag(CDrawContext* context, const CPoint& press, DragMapping moveTo);

    // The common entry of the mouse handlers: answers false when the event
    // must be ignored (not mouse-enabled, no left button, or a modifier click
    // that the listener took). Reads the live buttons when `buttons` is -1.
    bool acceptMouseDown(CDrawContext* context, int32_t& buttons);
    // Draws `bitmap` into the view's rectangle at `offset`, colour-keyed when
    // the view is transparent.
    void drawBitmapAt(CDrawContext* context, CBitmap* bitmap, const CPoint& offset);

    float loadValue() const { return value.load(std::memory_order_relaxed); }
    // The value a draw shows, read once; setDirty(false) records it as the
    // one on screen until the next setDirty(true).
    float valueToDraw() {
        drawnValue = loadValue();
        drawnKnown = true;
        return drawnValue;
    }
    void storeValue(float v) { value.store(v, std::memory_order_relaxed); }

    CControlListener* listener = nullptr;
    int32_t tag = 0;
    float oldValue = 1.f;
    float defaultValue = 0.5f;
    std::atomic<float> value{0.f};
    float minValue = 0.f;
    float maxValue = 1.f;
    float wheelInc = 0.1f;
    // Tick of the last single click (double-click detection of text edits)
    // and whether that click is still waiting for its second one.
    uint32_t lastClickTicks = 0;
    bool clickPending = false;
    int32_t doubleClickDelay = 250;
    CPoint backOffset;

  private:
    struct Drag {
        DragMapping moveTo;
        CPoint where;
        CPoint lastWhere{-1, -1};
        float reported = 0.f;  // the last value the listener heard
        float produced = 0.f;  // the last value the user's travel stored
    };
    // One round: the mapping for a new position, and the listener told.
    void dragRound(CDrawContext* context, Drag& drag, int32_t buttons);
    // The drag's last report and the end of its bracket.
    void finishDrag(CDrawContext* context, const Drag& drag);

    float drawnValue = 0.f;
    bool drawnKnown = false;
    std::unique_ptr<Drag> idleDrag;  // a drag that runs from the frame's idle
    bool dragAbandoned = false;      // kept until the round that may be running returns
};

// True when a and b differ; a NaN on either side counts as different.
inline bool valuesDiffer(float a, float b) {
    return !(a == b);
}

}  // namespace VSTGUI
