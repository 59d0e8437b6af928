#include "platform/x11/x11_socket_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>

namespace VSTGUI::platform::x11 {

SocketWatch::SocketWatch(int socket) : socket_(socket) {
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception&) {
        close(wake_);
        wake_ = -1;
    }
}

SocketWatch::~SocketWatch() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    armed_.notify_one();
    const uint64_t one = 1;
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(wake_);
}

void SocketWatch::rearm() {
    if (failed_.load(std::memory_order_acquire)) return;  // always "look", as without a watch
    readable_.store(false, std::memory_order_release);
    {
        std::lock_guard lock(lock_);
        watching_ = true;
    }
    armed_.notify_one();
}

void SocketWatch::run() {
    for (;;) {
        {
            std::unique_lock lock(lock_);
            armed_.wait(lock, [this] { return watching_ || stopping_; });
            if (stopping_) return;
            watching_ = false;
        }
        pollfd watched[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
        int ready = 0;
        do {
            ready = poll(watched, 2, -1);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            failed_.store(true, std::memory_order_release);
            readable_.store(true, std::memory_order_release);
            return;
        }
        if (watched[1].revents) return;
        // Readable, closed or failing: the reader finds out which.
        readable_.store(true, std::memory_order_release);
    }
}

}  // namespace VSTGUI::platform::x11
