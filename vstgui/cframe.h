// The root of the view tree and the only toolkit object bound to a window.
//
// The frame owns a native child window of the host's window and turns its
// paint, button and wheel events into toolkit events. Views never draw on
// their own initiative: they mark themselves dirty, and the frame's idle
// redraws them into a frame-sized back buffer that is copied to the window
// in one block, so nothing flickers. Nothing is drawn before the window
// system asked for the first paint.
//
// Mouse and wheel go to the modal view while one is set; keys go to the
// focus view, then the modal view, and Tab moves the focus.
//
// Density. The frame and its views live in panel units; the frame's scale
// factor turns them into device pixels at the window: the window is the
// frame's size times the factor, events arrive in window pixels and are
// turned into units here, and every device the frame draws with draws at
// the factor (vstgui/density.h). At factor 1 units are pixels.
//
// The frame is its own parentFrame. Its editor holds the one reference and
// lets go of it with release() when the host closes the editor window.
//
// Lifetime. Every call into the host (its idle callback, automation, an edit
// bracket) may come back as effEditClose while a handler of this frame is
// still on the stack: a knob following the mouse, a switch being clicked, a
// text field committing. Each entry into the frame's handlers therefore
// holds a Scope, and release() only detaches the frame from its editor; the
// frame and its views are destroyed when the outermost scope ends (at once
// when none is open). A released frame reaches no editor, its modal mouse
// loops see no button held, it handles no further clicks and takes no drops,
// and a drag it steps from its idle ends.
//
// Drags (ccontrol.h). When the owner does not want modal drags, a control
// that follows the mouse hands itself to the frame, which runs one round of
// the drag at the start of each idle until the button is up; presses that
// arrive meanwhile are dropped, as a modal loop never sees them.
#pragma once

#include <cstdint>
#include <memory>

#include "vstgui/cviewcontainer.h"
#include "vstgui/frame_owner.h"
#include "vstgui/platform/drop_target.h"
#include "vstgui/platform/native_window.h"
#include "vstgui/update_memo.h"

namespace VSTGUI {

class COffscreenContext;
class CDropTarget;

enum CCursorType : int32_t {
    kCursorDefault = 0,
    kCursorWait = 1,
    kCursorResizeHorizontal = 2,
    kCursorResizeVertical = 3,
    kCursorMove = 4,
    kCursorResizeNESW = 5,
    kCursorResizeNWSE = 6,
    kCursorForbidden = 8,
    kCursorHand = 9,
};

class CControl;

// The knob mode shared by every frame of the module; the editor sets it.
// Any thread may set and read it.
int32_t getToolkitKnobMode();
void setToolkitKnobMode(int32_t mode);

class CFrame : public CViewContainer {
  public:
    // Creates the window as a child of `parentWindow` (none without one),
    // at `scale` device pixels a unit (see usableScale). `owner` hears the
    // gestures, the idle pump and the size requests until release().
    CFrame(const CRect& size, void* parentWindow, FrameOwner* owner, double scale = 1.0);
    ~CFrame() override;

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, const CRect& rect) override;
    void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) override;
    int32_t onKeyDown(const KeyCode& key) override;
    int32_t onKeyUp(const KeyCode& key) override;
    bool onWheelAxis(CDrawContext* context, const CPoint& where, int32_t axis,
                     float distance) override;
    // Only the width and height count.
    void setViewSize(const CRect& rect) override;
    FrameOwner* getEditor() const override;
    bool isTypeOf(const char* className) const override;
    void update(CDrawContext* context) override;
    CView* getViewUnderCursor() override;
    bool advanceNextFocusView(CView* oldFocus, bool reverse = false) override;

    double getScale() const { return scale; }
    // A new factor while open: the window is resized (the host asked first
    // to resize its own, where it can) and the whole frame drawn again.
    // False when the factor does not change or the frame is closed.
    bool setScale(double factor);
    // The factor a frame uses when asked for `factor`: clamped to [1, 3],
    // 1 for no number, and never above what the drawing back end can do.
    static double usableScale(double factor);

    // The frame never opens or closes a window of its own.
    virtual bool openWindow();
    virtual bool closeWindow();
    virtual bool getOpenFlag() const;
    // Handles pending window events, then redraws dirty views.
    virtual void idle();
    // Redraws the dirty views and copies to the window what changed; no
    // window events are handled. Nothing before the first paint.
    void redrawDirtyViews();
    virtual void pumpIdle();
    // Whether controls run their drags from this frame's idle (the owner
    // wants no modal drags); false once released.
    bool stepsDrags() const;
    // The control whose drag the idle advances from now on (null: none).
    void followDrag(CControl* control);
    CControl* getDragControl() const { return dragControl; }
    // Milliseconds from the toolkit clock; 0 without an editor.
    virtual uint32_t getTicks() const;
    virtual int32_t getKnobMode() const;
    virtual bool setPosition(int32_t x, int32_t y);
    virtual bool getPosition(int32_t& x, int32_t& y) const;
    virtual bool setSize(int32_t width, int32_t height);
    virtual bool getSize(CRect* rect) const;
    virtual bool getSize(CRect& rect) const;
    // False when another modal view is set.
    virtual bool setModalView(CView* view);
    virtual CView* getModalView() const;
    // A view leaves the tree: the modal view, when it is that view or lies
    // inside it, is modal no more (containers call this; nothing is removed).
    void viewLeaving(CView* view);
    virtual void beginEdit(int32_t index);
    virtual void endEdit(int32_t index);
    // The pointer relative to the frame window's top-left corner.
    virtual bool getCurrentLocation(CPoint& where);
    virtual void setCursor(int32_t type);
    virtual void setFocusView(CView* view);
    virtual CView* getFocusView() const;
    virtual bool setDropActive(bool active);
    virtual bool isDropActive() const;
    virtual void setOpenFlag(bool flag);
    virtual bool isOpen() const;
    // Marks every direct child that touches `rect` dirty; draws nothing.
    virtual void invalidate(const CRect& rect);
    // Answers the previous value.
    virtual bool setUpdatesDisabled(bool disabled);
    virtual bool updatesDisabled() const;
    // Draws `view` (a direct child) or the whole frame at once.
    virtual void drawView(CView* view);

    // The context views draw into during an update (remembered for the
    // caller), else a new context on the window. The caller forgets it.
    CDrawContext* createDrawContext();
    // The frame-sized composition buffer, made on first use.
    COffscreenContext* getBackBuffer();

    // The editor's close: detaches the frame from the editor and drops the
    // editor's reference (see Lifetime above).
    void release();
    bool isReleased() const { return released; }

    // Keeps a frame alive while one of its handlers runs.
    class Scope {
      public:
        explicit Scope(CFrame* f) : frame(f) {
            if (frame) frame->remember();
        }
        ~Scope() {
            if (frame) frame->forget();
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        CFrame* frame;
    };

    platform::NativeWindow* getPlatformWindow() const { return window.get(); }
    void* getParentWindow() const { return parentWindow; }
    bool isFirstDrawPending() const { return firstDrawPending; }

  private:
    class WindowAdapter;
    friend class WindowAdapter;

    void paintWindow(platform::DrawDevice& device, const CRect& area);
    void mouseDownInWindow(const CPoint& where, int32_t buttons);
    void wheelInWindow(const CPoint& where, int32_t axis, float distance);
    void windowGone();
    // Redraws the dirty views into the back buffer; answers the area the
    // window must receive (empty when it already shows every pixel).
    CRect composeDirtyViews();
    void presentBackBuffer(CDrawContext* context, const CRect& area);

    FrameOwner* editor = nullptr;
    void* parentWindow = nullptr;
    CView* modalView = nullptr;
    CView* focusView = nullptr;
    CControl* dragControl = nullptr;  // remembered while its drag runs from idle
    bool firstDrawPending = true;
    bool openFlag = true;
    bool dropActive = false;
    bool updatesOff = false;
    bool released = false;
    std::unique_ptr<WindowAdapter> windowEvents;
    std::unique_ptr<CDropTarget> dropEvents;
    std::unique_ptr<platform::NativeWindow> window;
    std::unique_ptr<platform::DropTarget> dropTarget;
    COffscreenContext* backBuffer = nullptr;
    // How the views were last drawn into the back buffer.
    UpdateMemo drawnViews;
    CDrawContext* frameContext = nullptr;
    double scale = 1.0;
};

}  // namespace VSTGUI
