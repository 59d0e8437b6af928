#include "vstgui/ccontrol.h"

#include <algorithm>
#include <cstring>

#include "common/idle_path.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/clock.h"

namespace VSTGUI {

namespace {
// Shorter double-click times make a double click nearly impossible to hit.
constexpr int32_t kMinDoubleClickDelay = 250;
}  // namespace

CControl::CControl(const CRect& r, CControlListener* l, int32_t t, CBitmap* bitmap)
    : CView(r), listener(l), tag(t) {
    doubleClickDelay = std::max(platform::clock().doubleClickTime(), kMinDoubleClickDelay);
    setMouseEnabled(true);
    setTransparency(false);
    if (bitmap) setBackground(bitmap);
    setDirty(true);
}

CControl::~CControl() = default;

KV_IDLE_PATH bool CControl::isDirty() const {
    return valuesDiffer(loadValue(), oldValue) || CView::isDirty();
}

void CControl::setDirty(bool flag) {
    CView::setDirty(flag);
    if (flag) {
        const float v = loadValue();
        oldValue = (v == -1.f) ? 0.f : -1.f;
        drawnKnown = false;
    } else {
        // Without a draw since the last setDirty(true) the caller vouches
        // for the live value.
        oldValue = drawnKnown ? drawnValue : loadValue();
    }
}

bool CControl::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "CControl") == 0 || std::strcmp(name, "CView") == 0);
}

void CControl::pumpIdle() {
    if (CFrame* frame = getFrame()) frame->pumpIdle();
}

void CControl::setValue(float newValue) {
    storeValue(newValue);
}

float CControl::getValue() const {
    return loadValue();
}

void CControl::beginEdit() {
    if (CFrame* frame = getFrame()) {
        frame->setFocusView(this);
        frame->beginEdit(tag);
    }
}

void CControl::endEdit() {
    if (CFrame* frame = getFrame()) frame->endEdit(tag);
}

void CControl::setBackOffsetFromSize() {
    backOffset = CPoint(size.left, size.top);
}

void CControl::bounceValue() {
    const float v = loadValue();
    if (v > maxValue)
        storeValue(maxValue);
    else if (v < minValue)
        storeValue(minValue);
}

bool CControl::checkDefaultValue(CDrawContext* context, int32_t buttons) {
    if (buttons != (kMouseLeft | kModControl)) return false;
    beginEdit();
    storeValue(getDefaultValue());
    if (isDirty() && listener) listener->valueChanged(context, this);
    endEdit();
    return true;
}

bool CControl::acceptMouseDown(CDrawContext* context, int32_t& buttons) {
    if (!isMouseEnabled()) return false;
    if (buttons == -1) buttons = context ? context->getMouseButtons() : 0;
    if (!(buttons & kMouseLeft)) return false;
    if (listener && (buttons & kModifierMask) &&
        listener->controlModifierClicked(context, this, buttons) != 0)
        return false;
    return true;
}

void CControl::trackDrag(CDrawContext* context, const CPoint& press, DragMapping moveTo) {
    Drag drag{std::move(moveTo), press};
    drag.reported = drag.produced = loadValue();
    beginEdit();
    CFrame* frame = getFrame();
    if (frame && frame->stepsDrags()) {
        // The first round at the press itself, the rest at the frame's idle.
        idleDrag = std::make_unique<Drag>(std::move(drag));
        dragAbandoned = false;
        frame->followDrag(this);
        if (!stepDrag(context)) frame->followDrag(nullptr);
        return;
    }
    int32_t now = 0;
    do {
        now = context ? context->getMouseButtons() : 0;
        dragRound(context, drag, now);
        getMouseLocation(context, drag.where);
        pumpIdle();
    } while (now & kMouseLeft);
    finishDrag(context, drag);
}

bool CControl::stepDrag(CDrawContext* context) {
    if (idleDrag && dragAbandoned) idleDrag.reset();
    if (!idleDrag) return false;
    const int32_t now = context ? context->getMouseButtons() : 0;
    dragRound(context, *idleDrag, now);
    // The listener may have closed the panel, which abandoned the drag.
    if (dragAbandoned) return false;
    if (now & kMouseLeft) {
        getMouseLocation(context, idleDrag->where);
        return true;
    }
    const std::unique_ptr<Drag> ended = std::move(idleDrag);
    finishDrag(context, *ended);
    return false;
}

void CControl::dragRound(CDrawContext* context, Drag& drag, int32_t buttons) {
    if (drag.where == drag.lastWhere) return;
    drag.lastWhere = drag.where;
    drag.moveTo(drag.where, buttons);
    drag.produced = loadValue();
    if (isDirty() && listener) {
        listener->valueChanged(context, this);
        drag.reported = loadValue();
    }
}

void CControl::finishDrag(CDrawContext* context, const Drag& drag) {
    // Steps too small to redraw were not reported: the listener learns the
    // value the drag ended on (a slow drag up to the end stop reaches it).
    // A value the host's automation stored since then is the host's own and
    // is not reported back to it as the user's.
    if (listener && drag.produced != drag.reported && !valuesDiffer(loadValue(), drag.produced))
        listener->valueChanged(context, this);
    endEdit();
}

KV_IDLE_PATH void CControl::drawBitmapAt(CDrawContext* context, CBitmap* bitmap,
                                         const CPoint& offset) {
    if (!bitmap) return;
    if (isTransparent())
        bitmap->drawTransparent(context, size, offset);
    else
        bitmap->draw(context, size, offset);
}

}  // namespace VSTGUI
