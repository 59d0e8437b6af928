#include "vstgui/cframe.h"

#include <algorithm>
#include <atomic>

#include <cstring>

#include "common/idle_path.h"
#include "vstgui/ccontrol.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cdroptarget.h"
#include "vstgui/density.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI {

namespace {

std::atomic<int32_t> toolkitKnobMode{0};

bool positive(const CRect& r) {
    return r.width() > 0 && r.height() > 0;
}

platform::CursorShape cursorShape(int32_t type) {
    using platform::CursorShape;
    switch (type) {
        case kCursorWait:
            return CursorShape::wait;
        case kCursorResizeHorizontal:
            return CursorShape::resizeHorizontal;
        case kCursorResizeVertical:
            return CursorShape::resizeVertical;
        case kCursorMove:
            return CursorShape::move;
        case kCursorResizeNESW:
            return CursorShape::resizeNESW;
        case kCursorResizeNWSE:
            return CursorShape::resizeNWSE;
        case kCursorForbidden:
            return CursorShape::forbidden;
        case kCursorHand:
            return CursorShape::hand;
        default:
            return CursorShape::arrow;  // 0, 7 and unknown types
    }
}

}  // namespace

int32_t getToolkitKnobMode() {
    return toolkitKnobMode.load(std::memory_order_relaxed);
}
void setToolkitKnobMode(int32_t mode) {
    toolkitKnobMode.store(mode, std::memory_order_relaxed);
}

// The window's events, handed to the frame.
class CFrame::WindowAdapter final : public platform::WindowEvents {
  public:
    explicit WindowAdapter(CFrame& f) : frame(f) {}
    // The window speaks in its pixels; the frame in panel units.
    void windowPaint(platform::DrawDevice& device, const CRect& area) override {
        Scope keep(&frame);
        frame.paintWindow(device, density::toPanelCovering(area, frame.scale));
    }
    void windowMouseDown(CPoint where, int32_t buttons) override {
        if (frame.released) return;
        Scope keep(&frame);
        frame.mouseDownInWindow(density::toPanel(where, frame.scale), buttons);
    }
    void windowWheel(CPoint where, int32_t axis, float distance) override {
        if (frame.released) return;
        Scope keep(&frame);
        frame.wheelInWindow(density::toPanel(where, frame.scale), axis, distance);
    }
    void windowDestroyed() override { frame.windowGone(); }
    void windowScaleChanged(double factor) override {
        if (frame.released || !frame.editor) return;
        Scope keep(&frame);
        frame.editor->desktopScaleChanged(factor);
    }

  private:
    CFrame& frame;
};

CFrame::CFrame(const CRect& rect, void* parent, FrameOwner* owner, double factor)
    : CViewContainer(rect), editor(owner), parentWindow(parent), scale(usableScale(factor)) {
    parentFrame = this;
    windowEvents = std::make_unique<WindowAdapter>(*this);
    dropEvents = std::make_unique<CDropTarget>(this);
    // The platform window does whatever its system needs around creation
    // (window class, drag-and-drop service, blending library).
    if (parentWindow) {
        window =
            platform::createChildWindow(parentWindow, density::toDevice(size.width(), scale),
                                        density::toDevice(size.height(), scale), *windowEvents);
        if (window) setDropActive(true);
    }
}

CFrame::~CFrame() {
    followDrag(nullptr);
    if (modalView) removeView(modalView, false);
    modalView = nullptr;
    focusView = nullptr;
    // Arrow is the cursor that was current before the frame changed it.
    if (window) window->setCursor(platform::CursorShape::arrow);
    if (dropActive && window) {
        dropTarget.reset();
        dropActive = false;
    }
    dropEvents->detach();
    // frameContext only ever borrows the back buffer for the time of an
    // update or a drawing call; it holds no reference of its own.
    frameContext = nullptr;
    if (backBuffer) backBuffer->forget();
    backBuffer = nullptr;
    // Destroying the window delivers no more events to this frame.
    window.reset();
    // The container part now releases the children.
}

// --- window events ---------------------------------------------------------

void CFrame::paintWindow(platform::DrawDevice& device, const CRect& area) {
    COffscreenContext* buffer = getBackBuffer();
    drawRect(buffer, area);
    drawnViews.drawnOver(area);
    auto* paintContext = new CDrawContext(this, &device, window.get());
    buffer->copyToContext(paintContext, area, area.topLeft());
    paintContext->forget();
}

void CFrame::mouseDownInWindow(const CPoint& where, int32_t buttons) {
    if (dragControl) return;
    auto* context = new CDrawContext(this, nullptr, window.get());
    // The press's own buttons: the live state may already show the click
    // over. Controls that follow the mouse ask the context for the live one.
    onMouseDown(context, where, buttons);
    context->forget();
}

void CFrame::wheelInWindow(const CPoint& where, int32_t axis, float distance) {
    auto* context = new CDrawContext(this, nullptr, window.get());
    onWheelAxis(context, where, axis, distance);
    context->forget();
}

void CFrame::windowGone() {
    setOpenFlag(false);
    parentWindow = nullptr;
}

// --- drawing ---------------------------------------------------------------

void CFrame::draw(CDrawContext* context) {
    firstDrawPending = false;
    if (!context) context = frameContext;
    if (context) CViewContainer::draw(context);
}

KV_IDLE_PATH void CFrame::drawRect(CDrawContext* context, const CRect& rect) {
    firstDrawPending = false;
    CDrawContext* dc = context;
    if (!dc) {
        dc = createDrawContext();
        if (!dc) return;
    } else {
        dc->remember();
    }
    const CRect oldClip = dc->getClipRect();
    const CRect area = rect.bounded(oldClip);
    dc->setClipRect(area);
    if (positive(area)) CViewContainer::drawRect(dc, area);
    dc->setClipRect(oldClip);
    dc->forget();
}

CDrawContext* CFrame::createDrawContext() {
    if (frameContext) {
        frameContext->remember();
        return frameContext;
    }
    return new CDrawContext(this, nullptr, window.get());
}

KV_IDLE_PATH COffscreenContext* CFrame::getBackBuffer() {
    if (!backBuffer) {
        backBuffer = new COffscreenContext(this, size.width(), size.height(), kBlackColor);
        drawnViews.forgetAll();
    }
    return backBuffer;
}

void CFrame::release() {
    if (released) return;
    released = true;
    editor = nullptr;
    if (dragControl) dragControl->abandonDrag();
    // No more drops either, and the window system's marks for them come off
    // now: a host that closes and reopens the editor inside one of our calls
    // gets a new frame while this one waits for its handlers, and the new
    // one must find the host's window free to mark.
    if (dropActive) {
        dropTarget.reset();
        dropActive = false;
    }
    forget();
}

KV_IDLE_PATH void CFrame::idle() {
    Scope keep(this);
    if (dragControl) {
        auto* context = new CDrawContext(this, nullptr, window.get());
        CControl* const control = dragControl;
        if (!control->stepDrag(context) && dragControl == control) followDrag(nullptr);
        context->forget();
        if (released) return;
    }
    // Window events first: on systems where nothing else pumps them, this
    // is where paints, clicks and wheel turns reach the frame.
    if (window) window->processEvents();
    redrawDirtyViews();
}

KV_IDLE_PATH void CFrame::redrawDirtyViews() {
    // Whether anything is dirty is asked of each view once, while composing.
    if (released || !openFlag || firstDrawPending) return;
    // A context on the window is made only when the window has something to
    // receive: making one asks the window system where the window lies on
    // the screen, a round trip on X11. A view that redraws the pixels the
    // window already shows (the LED at every idle) then costs no request.
    CRect changed = composeDirtyViews();
    // Only the pixels the window does not show yet need to go there.
    if (window && !changed.isEmpty()) {
        if (scale == 1.0) {
            changed = window->changedPart(*backBuffer->getDevice(), changed);
        } else {
            changed = density::toPanelCovering(
                window->changedPart(*backBuffer->getDevice(), density::toDevice(changed, scale)),
                scale);
        }
    }
    if (changed.isEmpty()) return;
    CDrawContext* context = createDrawContext();
    presentBackBuffer(context, changed);
    context->forget();
}

void CFrame::update(CDrawContext* context) {
    presentBackBuffer(context, composeDirtyViews());
}

KV_IDLE_PATH CRect CFrame::composeDirtyViews() {
    if (!openFlag || updatesOff) return CRect();
    CDrawContext* previous = frameContext;
    COffscreenContext* buffer = getBackBuffer();
    frameContext = buffer;
    // What changed in the back buffer: the whole frame, or the bounding box
    // of the children that were dirty (each child's update draws only inside
    // its own rectangle, the clip set below).
    CRect changed;
    if (dirty) {
        draw(buffer);
        drawnViews.forgetAll();
        CView::setDirty(false);
        changed = size;
    } else {
        const CRect oldClip = buffer->getClipRect();
        // Each view is asked once whether it is dirty, and only a view that
        // said so is updated: a value stored by another thread after the
        // question is drawn at the next idle, and never into the buffer
        // without reaching the window.
        // An update that draws what the buffer holds already (the LED at
        // every idle, as a rule) changes nothing there.
        const auto updateIfDirty = [&](CView* view) KV_IDLE_PATH {
            if (!view->isDirty()) return;
            const CRect area = view->getViewSize().bounded(oldClip);
            buffer->setClipRect(area);
            platform::DrawDevice* device = buffer->getDevice();
            bool drew = true;
            if (device) {
                CRect deviceClip = area;
                deviceClip.offset(buffer->getOffset());
                struct Diverted {
                    CDrawContext* context;
                    platform::DrawDevice* device;
                    ~Diverted() { context->divertTo(device); }
                };
                {
                    const Diverted back{buffer,
                                        buffer->divertTo(&drawnViews.begin(view, deviceClip))};
                    view->update(buffer);
                }
                drew = drawnViews.finish(*device);
            } else {
                view->update(buffer);
            }
            if (!drew || area.isEmpty()) return;
            if (changed.isEmpty()) {
                changed = area;
            } else {
                changed.left = std::min(changed.left, area.left);
                changed.top = std::min(changed.top, area.top);
                changed.right = std::max(changed.right, area.right);
                changed.bottom = std::max(changed.bottom, area.bottom);
            }
        };
        if (modalView) updateIfDirty(modalView);
        for (CView* child : children)
            if (child != modalView) updateIfDirty(child);
        buffer->setClipRect(oldClip);
    }
    frameContext = previous;
    return changed;
}

void CFrame::presentBackBuffer(CDrawContext* context, const CRect& area) {
    if (context && backBuffer && !area.isEmpty())
        backBuffer->copyToContext(context, area, area.topLeft());
}

void CFrame::drawView(CView* view) {
    CDrawContext* context = createDrawContext();
    if (view && isChild(view))
        view->draw(context);
    else
        draw(context);
    context->forget();
}

void CFrame::invalidate(const CRect& rect) {
    for (CView* child : children)
        if (child->getViewSize().rectOverlap(rect)) child->setDirty(true);
}

bool CFrame::setUpdatesDisabled(bool disabled) {
    const bool previous = updatesOff;
    updatesOff = disabled;
    return previous;
}

bool CFrame::updatesDisabled() const {
    return updatesOff;
}

// --- mouse, wheel, keys ----------------------------------------------------

void CFrame::onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) {
    if (!context) context = frameContext;
    // Every click first takes the focus away; a view that wants it takes it
    // again in its own handler.
    if (focusView) setFocusView(nullptr);
    if (buttons == -1 && context) buttons = context->getMouseButtons();
    if (modalView) {
        if (modalView->hitTest(where, buttons)) modalView->onMouseDown(context, where, buttons);
        return;
    }
    CViewContainer::onMouseDown(context, where, buttons);
}

bool CFrame::onWheelAxis(CDrawContext* context, const CPoint& where, int32_t axis, float distance) {
    CView* target = modalView ? modalView : getViewAt(where, false);
    if (!target) return false;
    const bool own = context == nullptr;
    if (own) context = createDrawContext();
    const bool result = target->onWheelAxis(context, where, axis, distance);
    if (own) context->forget();
    return result;
}

int32_t CFrame::onKeyDown(const KeyCode& key) {
    if (focusView) {
        const int32_t result = focusView->onKeyDown(key);
        if (result != -1) return result;
    }
    if (modalView) {
        const int32_t result = modalView->onKeyDown(key);
        if (result != -1) return result;
    }
    if (key.virt == kKeyTab)
        return advanceNextFocusView(focusView, (key.modifier & kShiftKey) != 0) ? 1 : -1;
    return -1;
}

int32_t CFrame::onKeyUp(const KeyCode& key) {
    if (focusView) {
        const int32_t result = focusView->onKeyUp(key);
        if (result != -1) return result;
    }
    if (modalView) {
        const int32_t result = modalView->onKeyUp(key);
        if (result != -1) return result;
    }
    return -1;
}

// --- focus and modal view --------------------------------------------------

void CFrame::setFocusView(CView* view) {
    CView* old = focusView;
    focusView = view;
    if (focusView && focusView->wantsFocus()) focusView->setDirty(true);
    // Re-focusing the focus view is not a loss of focus.
    if (old && old != view) {
        old->loseFocus(nullptr);
        if (old->wantsFocus()) old->setDirty(true);
    }
}

CView* CFrame::getFocusView() const {
    return focusView;
}

bool CFrame::advanceNextFocusView(CView* oldFocus, bool reverse) {
    if (modalView) return false;
    if (!oldFocus) {
        oldFocus = focusView;
        if (!oldFocus) return CViewContainer::advanceNextFocusView(nullptr, reverse);
    }
    if (isChild(oldFocus)) {
        if (CViewContainer::advanceNextFocusView(oldFocus, reverse)) return true;
        // Past the last focusable view: no focus; the next Tab starts over.
        setFocusView(nullptr);
        return false;
    }
    CView* through = oldFocus;
    for (CView* parent = oldFocus->getParentView(); parent; parent = parent->getParentView()) {
        if (parent->isTypeOf("CViewContainer")) {
            if (parent == this) return advanceNextFocusView(through, reverse);
            if (static_cast<CViewContainer*>(parent)->advanceNextFocusView(through, reverse))
                return true;
        }
        through = parent;
    }
    return CViewContainer::advanceNextFocusView(oldFocus, reverse);
}

bool CFrame::setModalView(CView* view) {
    if (view && modalView) return false;
    if (modalView) removeView(modalView, false);
    modalView = view;
    if (modalView) addView(modalView);
    return true;
}

CView* CFrame::getModalView() const {
    return modalView;
}

void CFrame::viewLeaving(CView* view) {
    for (const CView* v = modalView; v; v = v->getParentView()) {
        if (v == view) {
            modalView = nullptr;
            return;
        }
    }
}

CView* CFrame::getViewUnderCursor() {
    if (modalView) return modalView;
    return CViewContainer::getViewUnderCursor();
}

// --- size and position -----------------------------------------------------

void CFrame::setViewSize(const CRect& rect) {
    setSize(rect.width(), rect.height());
}

bool CFrame::setSize(int32_t width, int32_t height) {
    if (!openFlag) return false;
    if (width == size.width() && height == size.height()) return false;
    if (backBuffer) backBuffer->forget();
    backBuffer = nullptr;

    // The host and the window measure in device pixels.
    const int32_t deviceWidth = density::toDevice(width, scale);
    const int32_t deviceHeight = density::toDevice(height, scale);
    if (editor && editor->sizeWindow(deviceWidth, deviceHeight)) {
        size.right = size.left + width;
        size.bottom = size.top + height;
        if (window) window->resize(deviceWidth, deviceHeight);
        // The new back buffer starts black: everything must be drawn again,
        // or the next idle would show only the views that happened to be
        // dirty.
        CView::setDirty(true);
        return true;
    }

    size.right = size.left + width;
    size.bottom = size.top + height;
    // The window system's own walk may stop early (a host window whose
    // decoration looks too large); the resize then ends as it stands.
    if (window && !window->resizeWithAncestors(deviceWidth, deviceHeight)) return true;
    size = CRect(0, 0, width, height);
    CView::setDirty(true);
    if (offscreen && drawInOffscreen) makeOffscreen();
    return true;
}

double CFrame::usableScale(double factor) {
    const double accepted = density::acceptScale(factor);
    if (accepted == 0.0) return 1.0;
    return std::min(accepted, std::max(platform::maximumScale(), 1.0));
}

bool CFrame::setScale(double factor) {
    const double next = usableScale(factor);
    if (!openFlag || released || next == scale) return false;
    Scope keep(this);
    // A text field open over a control would stay where the old factor put
    // it: the edit ends first, as when the host's window moves.
    if (focusView) setFocusView(nullptr);
    if (released) return false;
    scale = next;
    // Everything composed so far has the old factor's pixels.
    if (backBuffer) backBuffer->forget();
    backBuffer = nullptr;
    if (offscreen && drawInOffscreen) makeOffscreen();
    CView::setDirty(true);
    const int32_t width = density::toDevice(size.width(), scale);
    const int32_t height = density::toDevice(size.height(), scale);
    // The host is asked first; it may answer by closing the editor.
    const bool hostResized = editor && editor->sizeWindow(width, height);
    if (released || !window) return true;
    if (hostResized)
        window->resize(width, height);
    else
        window->resizeWithAncestors(width, height);
    return true;
}

bool CFrame::getSize(CRect* rect) const {
    return rect && getSize(*rect);
}

bool CFrame::getSize(CRect& rect) const {
    if (!openFlag || !window) return false;
    return window->parentWindowRect(rect);
}

bool CFrame::setPosition(int32_t, int32_t) {
    return false;
}

bool CFrame::getPosition(int32_t& x, int32_t& y) const {
    if (!openFlag || !window) return false;
    CPoint position;
    if (!window->hostWindowPosition(position)) return false;
    x = position.h;
    y = position.v;
    return true;
}

bool CFrame::getCurrentLocation(CPoint& where) {
    // Without a window there is nothing that knows where the pointer is.
    where = window ? density::toPanel(window->pointerPosition() - window->screenOrigin(), scale)
                   : CPoint();
    return true;
}

// --- the rest --------------------------------------------------------------

bool CFrame::openWindow() {
    return false;
}
bool CFrame::closeWindow() {
    return false;
}
bool CFrame::getOpenFlag() const {
    return openFlag;
}
void CFrame::setOpenFlag(bool flag) {
    openFlag = flag;
}
bool CFrame::isOpen() const {
    return openFlag;
}

void CFrame::pumpIdle() {
    if (editor) editor->pumpIdle();
}

bool CFrame::stepsDrags() const {
    return editor && !released && !editor->modalDrags();
}

void CFrame::followDrag(CControl* control) {
    if (control == dragControl) return;
    if (control) control->remember();
    if (dragControl) dragControl->forget();
    dragControl = control;
}

uint32_t CFrame::getTicks() const {
    return editor ? platform::clock().ticks() : 0;
}

int32_t CFrame::getKnobMode() const {
    return getToolkitKnobMode();
}

void CFrame::beginEdit(int32_t index) {
    if (editor) editor->beginEdit(index);
}

void CFrame::endEdit(int32_t index) {
    if (editor) editor->endEdit(index);
}

void CFrame::setCursor(int32_t type) {
    if (window) window->setCursor(cursorShape(type));
}

bool CFrame::setDropActive(bool active) {
    if (!dropActive && !active) return true;
    if (!window || (released && active)) return false;
    dropTarget.reset();
    if (active) dropTarget = platform::registerDropTarget(*window, *dropEvents);
    dropActive = active;
    return true;
}

bool CFrame::isDropActive() const {
    return dropActive;
}

FrameOwner* CFrame::getEditor() const {
    return editor;
}

bool CFrame::isTypeOf(const char* className) const {
    if (className && std::strcmp(className, "CFrame") == 0) return true;
    return CViewContainer::isTypeOf(className);
}

}  // namespace VSTGUI
