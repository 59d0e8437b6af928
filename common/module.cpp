#include "common/module.h"

#include <atomic>

namespace kv {

namespace {
std::atomic<void*> gModule{nullptr};
}

void* moduleHandle() {
    return gModule.load(std::memory_order_acquire);
}
void setModuleHandle(void* handle) {
    gModule.store(handle, std::memory_order_release);
}

}  // namespace kv
