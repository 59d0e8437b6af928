#include "platform/posix/fork_generation.h"
#include "common/idle_path.h"

#include <pthread.h>

#include <atomic>

namespace VSTGUI::platform::posix {

namespace {

std::atomic<uint32_t> generation{0};

void forked() {
    generation.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

KV_IDLE_PATH uint32_t forkGeneration() {
    // glibc drops the handler when the library is unloaded.
    static const bool counting = pthread_atfork(nullptr, nullptr, &forked) == 0;
    static_cast<void>(counting);
    return generation.load(std::memory_order_relaxed);
}

}  // namespace VSTGUI::platform::posix
