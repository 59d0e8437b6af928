#include "platform/x11/x11_socket_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>

#include "common/idle_path.h"
#include "platform/posix/fork_generation.h"

namespace VSTGUI::platform::x11 {

namespace {

// The watches whose thread may run, for the library's unloading. Plain
// atomics, so the table itself is never destroyed; a watch beyond its size
// is not stopped at unloading.
constexpr int kTableSize = 256;
std::atomic<SocketWatch*> watches[kTableSize];

void enter(SocketWatch* watch) {
    for (auto& slot : watches) {
        SocketWatch* empty = nullptr;
        if (slot.compare_exchange_strong(empty, watch)) return;
    }
}

void leave(SocketWatch* watch) {
    for (auto& slot : watches) {
        SocketWatch* mine = watch;
        if (slot.compare_exchange_strong(mine, nullptr)) return;
    }
}

// Runs when the library is unloaded (and at exit).
struct StopWatchesAtUnloading {
    ~StopWatchesAtUnloading() {
        for (auto& slot : watches) {
            if (SocketWatch* watch = slot.exchange(nullptr)) watch->stop();
        }
    }
} stopWatchesAtUnloading;

}  // namespace

SocketWatch::SocketWatch(int socket) : socket_(socket), generation_(posix::forkGeneration()) {
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) return;
    try {
        thread_ = std::make_unique<std::thread>([this] { run(); });
        enter(this);
    } catch (const std::exception&) {
        close(wake_);
        wake_ = -1;
    }
}

KV_IDLE_PATH bool SocketWatch::active() const {
    return thread_ && !stopped_.load(std::memory_order_acquire) &&
           generation_ == posix::forkGeneration();
}

void SocketWatch::stop() {
    if (!thread_ || generation_ != posix::forkGeneration()) return;
    if (stopped_.exchange(true, std::memory_order_acq_rel)) return;
    stopping_.store(true, std::memory_order_release);
    wake();
    thread_->join();
}

SocketWatch::~SocketWatch() {
    if (!thread_) return;
    leave(this);
    if (generation_ != posix::forkGeneration()) {
        // A forked child: the thread stayed with the parent, so there is
        // nothing here to stop or join; its object is left as it is.
        static_cast<void>(thread_.release());
        close(wake_);
        return;
    }
    stop();
    close(wake_);
}

void SocketWatch::wake() {
    const uint64_t one = 1;
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void SocketWatch::rearm() {
    if (!active() || failed_.load(std::memory_order_acquire)) return;  // "look" every time
    readable_.store(false, std::memory_order_release);
    wake();
}

void SocketWatch::run() {
    bool watching = true;
    for (;;) {
        // A negative descriptor is skipped: while the reader has not taken
        // what came, only the wake-up counts.
        pollfd watched[2] = {{watching ? socket_ : -1, POLLIN, 0}, {wake_, POLLIN, 0}};
        int ready = 0;
        do {
            ready = poll(watched, 2, -1);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            failed_.store(true, std::memory_order_release);
            readable_.store(true, std::memory_order_release);
            return;
        }
        if (watched[1].revents) {
            uint64_t count = 0;
            while (read(wake_, &count, sizeof count) < 0 && errno == EINTR) {
            }
            if (stopping_.load(std::memory_order_acquire)) return;
            watching = true;  // rearmed
        } else if (watched[0].revents) {
            // Readable, closed or failing: the reader finds out which.
            readable_.store(true, std::memory_order_release);
            watching = false;
        }
    }
}

}  // namespace VSTGUI::platform::x11
