#include "vstgui/cviewcontainer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/idle_path.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"

namespace VSTGUI {

namespace {

bool positive(const CRect& r) {
    return r.width() > 0 && r.height() > 0;
}

// Shifts a context's two offsets for the lifetime of the object; a null
// context is left alone.
class OffsetShift {
  public:
    OffsetShift(CDrawContext* context, const CPoint& by) : dc(context), delta(by) {
        if (dc) {
            dc->offsetScreen = dc->offsetScreen + delta;
            dc->offset = dc->offset + delta;
        }
    }
    ~OffsetShift() {
        if (dc) {
            dc->offsetScreen = dc->offsetScreen - delta;
            dc->offset = dc->offset - delta;
        }
    }
    OffsetShift(const OffsetShift&) = delete;
    OffsetShift& operator=(const OffsetShift&) = delete;

  private:
    CDrawContext* dc;
    CPoint delta;
};

// Whether `view` is `ancestor` or lies somewhere inside it.
bool isWithin(const CView* view, const CView* ancestor) {
    for (const CView* v = view; v; v = v->getParentView())
        if (v == ancestor) return true;
    return false;
}

}  // namespace

CViewContainer::CViewContainer(const CRect& rect) : CView(rect) {
    // A new container has not been drawn yet.
    setBackgroundColor(kBlackColor);
}

CViewContainer::~CViewContainer() {
    // No focus bookkeeping here: during the frame's teardown the frame part
    // of the tree is already gone.
    for (CView* view : children) {
        view->removed(this);
        view->forget();
        view->forget();
    }
    children.clear();
    releaseOffscreen();
}

// --- ownership -------------------------------------------------------------

void CViewContainer::addView(CView* view, const CRect& mouseArea, bool enableMouse) {
    if (!view) return;
    view->setMouseEnabled(enableMouse);
    view->setMouseableArea(mouseArea);
    addView(view);
}

void CViewContainer::addView(CView* view) {
    if (!view) return;
    // First the only step that can fail (out of memory): then the view is
    // either a child or untouched.
    children.push_back(view);
    view->remember();
    view->setParentFrame(parentFrame);
    view->setParentView(this);
    view->attached(this);
    view->setDirty(true);
}

void CViewContainer::removeView(CView* view, bool withForget) {
    if (!view) return;
    // The focus must not outlive the view that holds it, also when it sits
    // deeper inside a container that is removed. Cleared before the view is
    // looked up, so also when it is not a child of this container.
    if (parentFrame && parentFrame->getFocusView() && isWithin(parentFrame->getFocusView(), view))
        parentFrame->setFocusView(nullptr);
    auto it = std::find(children.begin(), children.end(), view);
    if (it == children.end()) return;
    leaving(view);
    view->removed(this);
    children.erase(it);
    if (withForget) view->forget();
    view->forget();
}

void CViewContainer::removeAll(bool withForget) {
    if (parentFrame && parentFrame->getFocusView()) {
        for (CView* view : children) {
            if (isWithin(parentFrame->getFocusView(), view)) {
                parentFrame->setFocusView(nullptr);
                break;
            }
        }
    }
    std::list<CView*> gone;
    gone.swap(children);
    for (CView* view : gone) {
        leaving(view);
        view->removed(this);
        if (withForget) view->forget();
        view->forget();
    }
}

void CViewContainer::leaving(CView* view) {
    // The drag target and the frame's modal view are kept as plain
    // pointers: they must not outlive their view either.
    if (currentDragView && isWithin(currentDragView, view)) currentDragView = nullptr;
    if (parentFrame) parentFrame->viewLeaving(view);
}

bool CViewContainer::isChild(CView* view) const {
    return view && std::find(children.begin(), children.end(), view) != children.end();
}

int32_t CViewContainer::getViewCount() const {
    return static_cast<int32_t>(children.size());
}

CView* CViewContainer::getView(int32_t index) const {
    if (index < 0 || index >= getViewCount()) return nullptr;
    return *std::next(children.begin(), index);
}

// --- appearance ------------------------------------------------------------

void CViewContainer::setBackgroundColor(const CColor& color) {
    backgroundColor = color;
    setDirty(true);
}

CColor CViewContainer::getBackgroundColor() const {
    return backgroundColor;
}
void CViewContainer::setBackgroundOffset(const CPoint& offset) {
    backgroundOffset = offset;
}
CPoint CViewContainer::getBackgroundOffset() const {
    return backgroundOffset;
}
void CViewContainer::setMode(int32_t newMode) {
    mode = newMode;
}
int32_t CViewContainer::getMode() const {
    return mode;
}

void CViewContainer::useOffscreen(bool enable) {
    drawInOffscreen = enable;
    if (!enable) releaseOffscreen();
}

void CViewContainer::makeOffscreen() {
    releaseOffscreen();
    offscreen = new COffscreenContext(parentFrame, size.width(), size.height(), kBlackColor);
}

void CViewContainer::releaseOffscreen() {
    if (offscreen) offscreen->forget();
    offscreen = nullptr;
}

void CViewContainer::setViewSize(const CRect& rect) {
    CView::setViewSize(rect);
    if (offscreen && drawInOffscreen) makeOffscreen();
}

bool CViewContainer::attached(CView*) {
    if (drawInOffscreen && !offscreen) makeOffscreen();
    return true;
}

bool CViewContainer::removed(CView*) {
    releaseOffscreen();
    return true;
}

// --- drawing ---------------------------------------------------------------

KV_IDLE_PATH CDrawContext* CViewContainer::beginDrawing(CDrawContext* target, CRect& savedClip) {
    if (drawInOffscreen && !offscreen) makeOffscreen();
    // A transparent container composes over a copy of what lies beneath.
    if (offscreen && transparencyEnabled) offscreen->copyFromContext(target, size, CPoint(0, 0));
    if (drawInOffscreen && offscreen) {
        // The target's clip (in the target's terms) moved into this
        // container's own coordinates, where the offscreen draws.
        savedClip = target->getClipRect();
        savedClip.offsetInv(size.topLeft());
        return offscreen;
    }
    const CPoint shift = size.topLeft();
    target->offsetScreen = target->offsetScreen + shift;
    target->offset = target->offset + shift;
    savedClip = target->getClipRect();
    return target;
}

KV_IDLE_PATH void CViewContainer::endDrawing(CDrawContext* target, CDrawContext* drawContext,
                                             const CRect& savedClip) {
    drawContext->setClipRect(savedClip);
    if (drawContext != target) return;
    const CPoint shift = size.topLeft();
    target->offsetScreen = target->offsetScreen - shift;
    target->offset = target->offset - shift;
}

void CViewContainer::drawBackground(CDrawContext* context, const CRect& r) {
    if (background) {
        if (transparencyEnabled)
            background->drawTransparent(context, r, backgroundOffset);
        else
            background->draw(context, r, backgroundOffset);
    } else if (!transparencyEnabled) {
        context->setFillColor(backgroundColor);
        context->fillRect(r);
    }
}

void CViewContainer::draw(CDrawContext* target) {
    if (!target) return;
    CRect savedClip;
    CDrawContext* dc = beginDrawing(target, savedClip);
    const CRect local = localRect();
    dc->setClipRect(local.bounded(savedClip));
    drawBackground(dc, local);
    for (CView* child : children) {
        dc->setClipRect(child->getViewSize().bounded(savedClip));
        child->draw(dc);
    }
    endDrawing(target, dc, savedClip);
    if (dc != target) offscreen->copyToContext(target, size, CPoint(0, 0));
    CView::setDirty(false);
}

KV_IDLE_PATH void CViewContainer::drawRect(CDrawContext* target, const CRect& updateRect) {
    if (!target) return;
    CRect savedClip;
    CDrawContext* dc = beginDrawing(target, savedClip);
    const CRect boundedUpdate = updateRect.bounded(size);
    CRect localUpdate = boundedUpdate;
    localUpdate.offsetInv(size.topLeft());
    const CRect drawingClip = localUpdate.bounded(savedClip);
    dc->setClipRect(drawingClip);
    drawBackgroundRect(dc, localUpdate);
    for (CView* child : children) {
        if (!child->touchesRect(localUpdate)) continue;
        const CRect childSize = child->getViewSize();
        const CRect part = childSize.bounded(drawingClip);
        if (!positive(part)) continue;
        dc->setClipRect(part);
        const bool wasDirty = child->isDirty();
        child->drawRect(dc, localUpdate);
        // Only part of a dirty child was drawn: it must be drawn again (the
        // type is asked only then: at every idle it would cost string
        // comparisons along the class chain).
        if (wasDirty && part != childSize && !isTypeOf("CScrollContainer")) child->setDirty(true);
    }
    endDrawing(target, dc, savedClip);
    if (dc != target) offscreen->copyToContext(target, boundedUpdate, localUpdate.topLeft());
    CView::setDirty(false);
}

KV_IDLE_PATH void CViewContainer::drawBackgroundRect(CDrawContext* context, const CRect& rect) {
    if (!context) return;
    if (background) {
        const CRect oldClip = context->getClipRect();
        context->setClipRect(rect.bounded(oldClip));
        const CRect whole(0, 0, background->getWidth(), background->getHeight());
        if (transparencyEnabled)
            background->drawTransparent(context, whole, backgroundOffset);
        else
            background->draw(context, whole, backgroundOffset);
        context->setClipRect(oldClip);
    } else if (!transparencyEnabled) {
        context->setFillColor(backgroundColor);
        context->fillRect(rect);
    }
}

// --- dirty model -----------------------------------------------------------

KV_IDLE_PATH bool CViewContainer::isDirty() const {
    if (dirty) return true;
    const CRect local = localRect();
    for (CView* child : children)
        if (child->isDirty() && positive(child->getViewSize().bounded(local))) return true;
    return false;
}

void CViewContainer::update(CDrawContext* context) {
    const CRect local = localRect();
    switch (mode) {
        case kUpdateWhole:
            if (!isDirty()) return;
            redrawRect(context, local);
            CView::setDirty(false);
            break;
        case kUpdateDirtyChildren:
            if (dirty) {
                redrawRect(context, local);
            } else {
                for (CView* child : children) {
                    if (!child->isDirty() || !child->touchesRect(local)) continue;
                    if (answersContainer(child))
                        child->update(context);
                    else
                        child->redrawRect(context, child->getViewSize().bounded(local));
                }
            }
            CView::setDirty(false);
            break;
        default:
            break;
    }
}

KV_IDLE_PATH void CViewContainer::redrawRect(CDrawContext* context, const CRect& rect) {
    CRect inParent = rect;
    inParent.offset(size.topLeft());
    // Without a context nothing can be shifted: the frame draws the area
    // into its own context, which also draws everything beneath.
    if (transparencyEnabled || !context) {
        if (parentView)
            parentView->redrawRect(context, inParent);
        else if (parentFrame)
            parentFrame->drawRect(context, inParent);
        return;
    }
    CPoint origin;
    if (parentView) parentView->localToFrame(origin);
    OffsetShift shift(context, origin);
    drawRect(context, inParent);
}

// --- coordinates and messages ----------------------------------------------

CPoint& CViewContainer::frameToLocal(CPoint& point) const {
    point = point - size.topLeft();
    return CView::frameToLocal(point);
}

CPoint& CViewContainer::localToFrame(CPoint& point) const {
    point = point + size.topLeft();
    return CView::localToFrame(point);
}

int32_t CViewContainer::notify(CView* sender, const char* message) {
    if (message == kMsgCheckIfViewContainer) return 1;
    return CView::notify(sender, message);
}

bool CViewContainer::isTypeOf(const char* className) const {
    if (className && std::strcmp(className, "CViewContainer") == 0) return true;
    return CView::isTypeOf(className);
}

// --- events ----------------------------------------------------------------

void CViewContainer::onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) {
    const CPoint local = where - size.topLeft();
    if (buttons == -1 && context) buttons = context->getMouseButtons();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        CView* child = *it;
        if (child->isMouseEnabled() && child->hitTest(local, buttons)) {
            child->onMouseDown(context, local, buttons);
            return;
        }
    }
}

CView* CViewContainer::getViewAt(const CPoint& where, bool deep) const {
    if (!parentFrame) return nullptr;
    const CPoint local = where - size.topLeft();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        CView* child = *it;
        if (!child->getMouseableArea().pointInside(local)) continue;
        if (deep && child->isTypeOf("CViewContainer"))
            return static_cast<CViewContainer*>(child)->getViewAt(local, deep);
        return child;
    }
    return nullptr;
}

CView* CViewContainer::getViewUnderCursor() {
    if (!parentFrame) return nullptr;
    CPoint where;
    parentFrame->getCurrentLocation(where);
    frameToLocal(where);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if ((*it)->getMouseableArea().pointInside(where)) return *it;
    return nullptr;
}

bool CViewContainer::onWheelAxis(CDrawContext* context, const CPoint& where, int32_t axis,
                                 float distance) {
    CView* child = getViewAt(where, false);
    if (!child) return false;
    const CPoint local = where - size.topLeft();
    OffsetShift shift(context, size.topLeft());
    return child->onWheelAxis(context, local, axis, distance);
}

bool CViewContainer::onWheel(CDrawContext* context, const CPoint& where, float distance) {
    return onWheelAxis(context, where, 1, distance);
}

int32_t CViewContainer::onKeyDown(const KeyCode& key) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const int32_t result = (*it)->onKeyDown(key);
        if (result != -1) return result;
    }
    return -1;
}

int32_t CViewContainer::onKeyUp(const KeyCode& key) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const int32_t result = (*it)->onKeyUp(key);
        if (result != -1) return result;
    }
    return -1;
}

void CViewContainer::loseFocus(CDrawContext* context) {
    for (CView* child : children)
        child->loseFocus(context);
}

void CViewContainer::takeFocus(CDrawContext* context) {
    for (CView* child : children)
        child->takeFocus(context);
}

// --- drag and drop ---------------------------------------------------------

void CViewContainer::onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where) {
    if (!parentFrame) return;
    OffsetShift shift(context, size.topLeft());
    const CPoint local = where - size.topLeft();
    if (currentDragView) currentDragView->onDragLeave(context, drag, local);
    currentDragView = getViewAt(where, false);
    if (currentDragView) currentDragView->onDragEnter(context, drag, local);
}

void CViewContainer::onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where) {
    if (!parentFrame) return;
    OffsetShift shift(context, size.topLeft());
    const CPoint local = where - size.topLeft();
    CView* under = getViewAt(where, false);
    if (under != currentDragView) {
        if (currentDragView) currentDragView->onDragLeave(context, drag, local);
        if (under) under->onDragEnter(context, drag, local);
        currentDragView = under;
    } else if (currentDragView) {
        currentDragView->onDragMove(context, drag, local);
    }
}

void CViewContainer::onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where) {
    if (!parentFrame) return;
    OffsetShift shift(context, size.topLeft());
    const CPoint local = where - size.topLeft();
    if (currentDragView) currentDragView->onDragLeave(context, drag, local);
    currentDragView = nullptr;
}

bool CViewContainer::onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where) {
    if (!parentFrame) return false;
    OffsetShift shift(context, size.topLeft());
    const CPoint local = where - size.topLeft();
    CView* under = getViewAt(where, false);
    if (under != currentDragView) {
        if (currentDragView) currentDragView->onDragLeave(context, drag, local);
        currentDragView = under;
    }
    bool result = false;
    if (currentDragView) {
        result = currentDragView->onDrop(context, drag, local);
        currentDragView->onDragLeave(context, drag, local);
    }
    currentDragView = nullptr;
    return result;
}

// --- focus -----------------------------------------------------------------

bool CViewContainer::advanceNextFocusView(CView* oldFocus, bool reverse) {
    bool passed = oldFocus == nullptr;
    auto visit = [&](CView* child) {
        if (!passed) {
            if (child == oldFocus) passed = true;
            return false;
        }
        if (child->wantsFocus()) {
            if (parentFrame) parentFrame->setFocusView(child);
            return true;
        }
        if (child->isTypeOf("CViewContainer"))
            return static_cast<CViewContainer*>(child)->advanceNextFocusView(nullptr, reverse);
        return false;
    };
    if (reverse) {
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (visit(*it)) return true;
    } else {
        for (CView* child : children)
            if (visit(child)) return true;
    }
    return false;
}

}  // namespace VSTGUI
