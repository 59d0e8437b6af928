#include "vstgui/cdroptarget.h"

#include "vstgui/cdragcontainer.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"

namespace VSTGUI {

namespace {

// One drag at a time for the whole module, as the window systems deliver
// them; the target that received its enter owns it.
CDragContainer* currentDrag = nullptr;
const CDropTarget* currentDragOwner = nullptr;

void releaseCurrentDrag() {
    CDragContainer* drag = currentDrag;
    currentDrag = nullptr;
    currentDragOwner = nullptr;
    if (drag) drag->forget();
}

}  // namespace

CDragContainer* getCurrentDrag() {
    return currentDrag;
}

CDropTarget::CDropTarget(CFrame* owner) : frame(owner) {}

CDropTarget::~CDropTarget() {
    detach();
}

void CDropTarget::detach() {
    if (currentDragOwner == this) releaseCurrentDrag();
    frame = nullptr;
}

bool CDropTarget::ours() const {
    return frame && currentDrag && currentDragOwner == this;
}

template <typename Event>
void CDropTarget::route(Event&& event) {
    CDrawContext* context = frame->createDrawContext();
    CPoint where;
    frame->getMouseLocation(context, where);
    event(context, where);
    if (context) context->forget();
}

bool CDropTarget::dragEnter(int32_t itemCount) {
    if (!frame) return false;
    // A drag whose end never came (a source that vanished) is over now.
    releaseCurrentDrag();
    currentDrag = new CDragContainer(itemCount);
    currentDragOwner = this;
    route([&](CDrawContext* c, const CPoint& p) { frame->onDragEnter(c, currentDrag, p); });
    return true;
}

bool CDropTarget::dragMove() {
    if (!ours()) return false;
    route([&](CDrawContext* c, const CPoint& p) { frame->onDragMove(c, currentDrag, p); });
    return true;
}

void CDropTarget::dragItemCount(int32_t itemCount) {
    if (ours()) currentDrag->setCount(itemCount);
}

void CDropTarget::dragLeave() {
    if (!ours()) return;
    route([&](CDrawContext* c, const CPoint& p) { frame->onDragLeave(c, currentDrag, p); });
    releaseCurrentDrag();
}

bool CDropTarget::drop() {
    if (!ours()) return false;
    bool taken = false;
    route([&](CDrawContext* c, const CPoint& p) { taken = frame->onDrop(c, currentDrag, p); });
    releaseCurrentDrag();
    return taken;
}

}  // namespace VSTGUI
