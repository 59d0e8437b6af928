#include "vstgui/cview.h"

#include <cstring>

#include "common/idle_path.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"

namespace VSTGUI {

const char kMsgCheckIfViewContainer[] = "kMsgCheckIfViewContainer";

CView::CView(const CRect& rect) : size(rect), mouseableArea(rect) {}

CView::~CView() {
    if (background) background->forget();
    // ownedBlocks frees its entries and their blocks itself.
}

bool CView::answersContainer(CView* view) {
    return view && view->notify(nullptr, kMsgCheckIfViewContainer) == 1;
}

void CView::draw(CDrawContext* context) {
    if (background && context) {
        if (transparencyEnabled)
            background->drawTransparent(context, size, CPoint());
        else
            background->draw(context, size, CPoint());
    }
    setDirty(false);
}

KV_IDLE_PATH void CView::drawRect(CDrawContext* context, const CRect&) {
    draw(context);
}

KV_IDLE_PATH bool CView::touchesRect(const CRect& r) const {
    return size.rectOverlap(r);
}

void CView::onMouseDown(CDrawContext*, const CPoint&, int32_t) {}

void CView::setBackground(CBitmap* bitmap) {
    // Take the new reference first: the new bitmap may be the old one.
    if (bitmap) bitmap->remember();
    if (background) background->forget();
    background = bitmap;
    setDirty(true);
}

KV_IDLE_PATH CBitmap* CView::getBackground() const {
    return background;
}

int32_t CView::onKeyDown(const KeyCode&) {
    return -1;
}
int32_t CView::onKeyUp(const KeyCode&) {
    return -1;
}

bool CView::onWheelAxis(CDrawContext* context, const CPoint& where, int32_t, float distance) {
    return onWheel(context, where, distance);
}

bool CView::onWheel(CDrawContext*, const CPoint&, float) {
    return false;
}

bool CView::onDrop(CDrawContext*, CDragContainer*, const CPoint&) {
    return false;
}
void CView::onDragEnter(CDrawContext*, CDragContainer*, const CPoint&) {}
void CView::onDragLeave(CDrawContext*, CDragContainer*, const CPoint&) {}
void CView::onDragMove(CDrawContext*, CDragContainer*, const CPoint&) {}

void CView::loseFocus(CDrawContext*) {}
void CView::takeFocus(CDrawContext*) {}

KV_IDLE_PATH bool CView::isDirty() const {
    return dirty;
}
KV_IDLE_PATH void CView::setDirty(bool flag) {
    dirty = flag;
}

void CView::setMouseEnabled(bool enable) {
    mouseEnabled = enable;
}
bool CView::isMouseEnabled() const {
    return mouseEnabled;
}
void CView::setMouseableArea(const CRect& area) {
    mouseableArea = area;
}
CRect CView::getMouseableArea() const {
    return mouseableArea;
}

bool CView::hitTest(const CPoint& where, int32_t) {
    return mouseableArea.pointInside(where);
}

void CView::setTransparency(bool enable) {
    transparencyEnabled = enable;
}
KV_IDLE_PATH bool CView::isTransparent() const {
    return transparencyEnabled;
}

void CView::setViewSize(const CRect& rect) {
    size = rect;
    setDirty(true);
}

KV_IDLE_PATH CRect CView::getViewSize() const {
    return size;
}

bool CView::removed(CView*) {
    return true;
}
bool CView::attached(CView*) {
    return true;
}

void CView::getMouseLocation(CDrawContext* context, CPoint& point) {
    if (!context) return;
    if (answersContainer(parentView)) {
        // Walk up with the context shifted as the parent sees it, so that
        // the top of the chain measures in this view's parent coordinates.
        const CRect parentSize = parentView->getViewSize();
        const CPoint shift(parentSize.left, parentSize.top);
        context->offsetScreen = context->offsetScreen + shift;
        context->offset = context->offset + shift;
        parentView->getMouseLocation(context, point);
        context->offsetScreen = context->offsetScreen - shift;
        context->offset = context->offset - shift;
        return;
    }
    platform::NativeWindow* window = context->getWindow();
    if (!window && parentFrame) window = parentFrame->getPlatformWindow();
    if (!window && context->getFrame()) window = context->getFrame()->getPlatformWindow();
    const CPoint screen = window ? window->pointerPosition() : CPoint();
    point = context->toolkitScreen(screen) - context->offsetScreen;
}

CPoint& CView::frameToLocal(CPoint& point) const {
    if (parentView && parentView->isTypeOf("CViewContainer"))
        return parentView->frameToLocal(point);
    return point;
}

CPoint& CView::localToFrame(CPoint& point) const {
    if (parentView && parentView->isTypeOf("CViewContainer"))
        return parentView->localToFrame(point);
    return point;
}

FrameOwner* CView::getEditor() const {
    return parentFrame ? parentFrame->getEditor() : nullptr;
}

int32_t CView::notify(CView*, const char*) {
    return 0;
}

KV_IDLE_PATH void CView::redrawRect(CDrawContext* context, const CRect& rect) {
    if (parentView)
        parentView->redrawRect(context, rect);
    else if (parentFrame)
        parentFrame->drawRect(context, rect);
}

bool CView::wantsFocus() const {
    return wantsFocusFlag;
}
void CView::setWantsFocus(bool flag) {
    wantsFocusFlag = flag;
}

bool CView::isTypeOf(const char* className) const {
    return className && std::strcmp(className, "CView") == 0;
}

KV_IDLE_PATH void CView::update(CDrawContext* context) {
    if (isDirty()) {
        if (context)
            redrawRect(context, size);
        else if (parentFrame)
            parentFrame->drawView(this);
        setDirty(false);
    }
}

void* CView::addOwnedBlock(size_t bytes) {
    ownedBlocks.push_front(std::make_unique<uint8_t[]>(bytes));
    return ownedBlocks.front().get();
}

size_t CView::getOwnedBlockCount() const {
    size_t n = 0;
    for (auto it = ownedBlocks.begin(); it != ownedBlocks.end(); ++it)
        ++n;
    return n;
}

}  // namespace VSTGUI
