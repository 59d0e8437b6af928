// Drops from other applications (XDND) are not taken by the X11 back end
// yet: the frame is told that its window cannot take drops, which the
// toolkit handles like a system without a drag service.
#include "vstgui/platform/drop_target.h"

namespace VSTGUI::platform {

std::unique_ptr<DropTarget> registerDropTarget(NativeWindow&, DropEvents&) {
    return nullptr;
}

}  // namespace VSTGUI::platform
