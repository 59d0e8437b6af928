// Watches the X connection's socket on a thread of its own, so that the
// question every idle asks, "has the server sent anything?", is one atomic
// read instead of a system call. The host idles an open editor 30 to 60
// times a second; with nothing on screen changing, that question is all an
// idle does, and a system call after the thread slept costs more than the
// rest of the idle together.
//
// The thread only polls the socket; it never reads from it or calls Xlib.
// Once it has seen the socket readable it waits until the reader has taken
// everything (rearm) before it looks again. Everything shared is atomic or
// a descriptor: a child forked after the watch started has no thread, the
// watch is not active there, and nothing in it waits for the parent's.
//
// A host that unloads the library with an editor still open would leave the
// thread to return from poll() into code that is gone: the library's
// unloading stops every watch first (the watch then stays inactive).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace VSTGUI::platform::x11 {

class SocketWatch {
  public:
    // Starts watching `socket`, which must stay open until the watch is
    // destroyed. Without a thread to be had the watch is not active, and
    // the caller polls the socket itself.
    explicit SocketWatch(int socket);
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;

    bool active() const;
    // Something came (or the socket failed) since the last rearm.
    bool readable() const { return readable_.load(std::memory_order_acquire); }
    // The reader has taken everything there was: watch again.
    void rearm();

    // Ends the thread and waits for it (once; later calls do nothing).
    void stop();

  private:
    void run();
    void wake();

    int socket_;
    int wake_ = -1;  // an eventfd: rearm, or stop when stopping_ is set
    std::atomic<bool> readable_{false};
    std::atomic<bool> failed_{false};  // the watch gave up: readable from now on
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopped_{false};  // the thread was joined
    std::unique_ptr<std::thread> thread_;
    uint32_t generation_;  // the fork generation that has the thread
};

}  // namespace VSTGUI::platform::x11
