// A window back end without a display, for tests.
//
// The "window" is an image of the window's size; everything presented to it
// (copies from the frame's back buffer) lands there, and tests read its
// pixels. The test plays the window system and the user:
//
// - Events injected with paint / click / wheel / destroyFromOutside are
//   delivered at once, on the calling thread, as a window procedure would
//   get them. The post... variants queue them instead; processEvents()
//   delivers every queued event in order (from inside a click's callback
//   only paints and the destruction, as every back end does) and
//   processOnePaint() delivers the first queued paint only (the editor's
//   idle pump).
// - The live pointer and buttons (what a modal mouse loop polls) come from
//   setPointer, or from a script: each mouseButtons() call takes the next
//   state of the script and pointerPosition() answers the position of the
//   state taken last; after the script ends, its last state holds.
// - A click carries the buttons of the pointer when it is delivered, taking
//   the next state of a script as a button query does.
//
// Nothing here is thread-safe; tests drive one window on one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vstgui/platform/drop_target.h"
#include "vstgui/platform/native_window.h"
#include "vstgui/platform/text_field.h"

namespace VSTGUI::platform {

struct PointerState {
    CPoint screen;        // pointer position on the screen
    int32_t buttons = 0;  // kMouseLeft ... kModAlt
};

class HeadlessWindow : public NativeWindow {
  public:
    HeadlessWindow(void* parent, int32_t width, int32_t height, WindowEvents& events);
    ~HeadlessWindow() override;

    // What desktopScale answers from now on (0, the desktop saying
    // nothing, until a test sets it).
    static void setDesktopScale(double factor);
    // The most recently created window that still exists, or null.
    static HeadlessWindow* last();
    // Windows alive now.
    static int32_t liveCount();
    // When set, the next createChildWindow answers null (once).
    static void failNextCreate();
    // The cursor a window showed when it was destroyed (the last one).
    static CursorShape finalCursor();

    // NativeWindow
    void* handle() const override;
    std::unique_ptr<DrawDevice> createDevice() override;
    CPoint screenOrigin() override;
    CPoint pointerPosition() override;
    int32_t mouseButtons() override;
    void setCursor(CursorShape shape) override;
    void resize(int32_t width, int32_t height) override;
    bool resizeWithAncestors(int32_t width, int32_t height) override;
    bool hostWindowPosition(CPoint& position) override;
    bool parentWindowRect(CRect& rect) override;
    void processEvents() override;
    void processOnePaint() override;

    // The user and the window system, delivered at once.
    void paint(const CRect& area);
    void click(CPoint where);
    void wheel(CPoint where, float distance, int32_t axis = 1);
    // A raw wheel delta as a mouse reports it (120 per notch), converted to
    // the distance the toolkit expects.
    void wheelDelta(CPoint where, int32_t delta);
    void destroyFromOutside();
    // The desktop's factor for the window changed (another monitor).
    void desktopScaleChanged(double factor) { events_.windowScaleChanged(factor); }

    // The same, queued for processEvents / processOnePaint.
    void postPaint(const CRect& area);
    void postClick(CPoint where);
    void postWheel(CPoint where, float distance, int32_t axis = 1);
    // Any other event, delivered in its turn (a key in an open text field,
    // which a real window also reads while the editor handles events).
    void postCall(std::function<void()> call);
    int32_t pendingEvents() const { return static_cast<int32_t>(queue_.size()); }

    // Pointer and buttons.
    void setPointer(CPoint screen, int32_t buttons);
    void scriptPointer(std::vector<PointerState> states);
    int32_t mouseButtonsCalls() const { return buttonCalls_; }
    void setScreenOrigin(CPoint origin);

    // What the toolkit did to the window.
    int32_t width() const { return windowWidth_; }
    int32_t height() const { return windowHeight_; }
    void* parent() const { return parentHandle_; }
    CursorShape cursor() const { return currentCursor_; }
    int32_t cursorChanges() const { return cursorCalls_; }
    const std::vector<CPoint>& resizes() const { return resizeCalls_; }
    const std::vector<CPoint>& ancestorResizes() const { return ancestorResizeCalls_; }
    void setAncestorResizeResult(bool result) { ancestorResult_ = result; }
    void setHostWindowPosition(CPoint position, bool known = true);
    void setParentWindowRect(CRect rect, bool known = true);
    int32_t processEventsCalls() const { return eventCalls_; }
    int32_t processOnePaintCalls() const { return onePaintCalls_; }
    bool destroyed() const { return isDestroyed_; }

    // The window's pixels: copies into the window (presents), every device
    // call counted, and one pixel as 0xRRGGBB.
    int32_t presentCount() const { return presents_; }
    int32_t deviceCalls() const { return drawCalls_; }
    uint32_t pixel(int32_t x, int32_t y) const;
    // The surface behind the window devices (a cairo image device).
    DrawDevice& surface() { return *image_; }
    bool writePng(const std::string& path) const;

  private:
    class WindowDevice;
    struct Event {
        enum Kind { Paint, Click, Wheel, Destroy, Call } kind;
        CRect area{};
        CPoint where{};
        float distance = 0.f;
        int32_t axis = 1;
        std::function<void()> call{};
    };
    void deliver(const Event& e);
    void makeSurface();
    const PointerState& currentPointer() const;
    int32_t takeButtons();

    WindowEvents& events_;
    void* parentHandle_;
    int32_t windowWidth_;
    int32_t windowHeight_;
    std::unique_ptr<DrawDevice> image_;
    std::deque<Event> queue_;
    CPoint origin_;
    PointerState pointer_;
    std::vector<PointerState> script_;
    size_t scriptNext_ = 0;
    int32_t buttonCalls_ = 0;
    CursorShape currentCursor_ = CursorShape::arrow;
    int32_t cursorCalls_ = 0;
    std::vector<CPoint> resizeCalls_;
    std::vector<CPoint> ancestorResizeCalls_;
    bool ancestorResult_ = true;
    CPoint hostPosition_;
    bool hostPositionKnown_ = true;
    CRect parentRect_;
    bool parentRectKnown_ = true;
    int32_t eventCalls_ = 0;
    int32_t onePaintCalls_ = 0;
    bool isDestroyed_ = false;
    int32_t pressDepth_ = 0;  // presses being delivered
    // Cleared by the destructor: a delivered event may end in the owner
    // destroying this window.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int32_t presents_ = 0;
    int32_t drawCalls_ = 0;
};

// The text entry of a text edit: the test types into it and ends it.
class HeadlessTextField : public TextField {
  public:
    HeadlessTextField(NativeWindow& owner, const TextFieldSetup& setup, TextFieldEvents& events);
    ~HeadlessTextField() override;

    // The most recently created field that is still open, or null.
    static HeadlessTextField* last();
    static int32_t openCount();

    std::string text() const override;

    // Replaces the text (the initial text is all selected, so typing
    // replaces it); characters beyond the field's limit are dropped.
    void setText(const std::string& newText);
    void typeText(const std::string& typed);
    // Deliver Return / focus loss to the owner of the field.
    void pressReturn();
    void loseFocus();

    const CRect& screenRect() const { return rect_; }
    const FontDesc& font() const { return fontDesc_; }
    TextAlign align() const { return alignment_; }
    CColor fontColor() const { return textColor_; }
    CColor backColor() const { return background_; }
    int32_t maxCharacters() const { return limit_; }
    NativeWindow& owner() const { return ownerWindow_; }

  private:
    NativeWindow& ownerWindow_;
    TextFieldEvents& events_;
    std::string content_;
    bool selectedAll_ = true;
    CRect rect_;
    FontDesc fontDesc_;
    TextAlign alignment_;
    CColor textColor_;
    CColor background_;
    int32_t limit_;
};

// A registered drop target: the test plays the drag source.
class HeadlessDropTarget : public DropTarget {
  public:
    HeadlessDropTarget(NativeWindow& window, DropEvents& events);
    ~HeadlessDropTarget() override;

    // The most recently registered target that is still registered, or null.
    static HeadlessDropTarget* last();
    static int32_t liveCount();

    bool enter(int32_t itemCount);
    bool move();
    void leave();
    // The count of the current drag became known (asynchronous systems).
    void itemCount(int32_t count);
    // What the frame answered: whether a view took the drop.
    bool drop();
    NativeWindow& window() const { return target_; }

  private:
    NativeWindow& target_;
    DropEvents& events_;
};

}  // namespace VSTGUI::platform
