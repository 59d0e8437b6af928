#include "platform/headless/headless_window.h"

namespace VSTGUI::platform {

namespace {

HeadlessDropTarget* lastTarget = nullptr;
int32_t targetsAlive = 0;

}  // namespace

HeadlessDropTarget::HeadlessDropTarget(NativeWindow& window, DropEvents& dropEvents)
    : target_(window), events_(dropEvents) {
    lastTarget = this;
    ++targetsAlive;
}

HeadlessDropTarget::~HeadlessDropTarget() {
    if (lastTarget == this) lastTarget = nullptr;
    --targetsAlive;
}

HeadlessDropTarget* HeadlessDropTarget::last() {
    return lastTarget;
}
int32_t HeadlessDropTarget::liveCount() {
    return targetsAlive;
}

bool HeadlessDropTarget::enter(int32_t itemCount) {
    return events_.dragEnter(itemCount);
}
bool HeadlessDropTarget::move() {
    return events_.dragMove();
}
void HeadlessDropTarget::leave() {
    events_.dragLeave();
}
void HeadlessDropTarget::itemCount(int32_t count) {
    events_.dragItemCount(count);
}
bool HeadlessDropTarget::drop() {
    return events_.drop();
}

std::unique_ptr<DropTarget> registerDropTarget(NativeWindow& window, DropEvents& events) {
    return std::make_unique<HeadlessDropTarget>(window, events);
}

}  // namespace VSTGUI::platform
