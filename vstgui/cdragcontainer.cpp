#include "vstgui/cdragcontainer.h"

namespace VSTGUI {

CDragContainer::CDragContainer(void* drag, int32_t count) : platformDrag(drag) {
    setCount(count);
}

CDragContainer::~CDragContainer() = default;

void CDragContainer::setCount(int32_t count) {
    itemCount = count < 0 ? 0 : count;
}

}  // namespace VSTGUI
