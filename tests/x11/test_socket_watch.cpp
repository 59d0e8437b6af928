// The socket watch of the X11 window, on a socket pair: it reports data
// that came, stays quiet after the reader took everything, reports the next
// arrival, and ends promptly whatever it is doing. Under ThreadSanitizer
// (label threads) this also shows the hand-over between the watching thread
// and the reader to be free of races.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/x11/x11_socket_watch.h"
#include "tests/x11/x_server.h"

namespace {

using VSTGUI::platform::x11::SocketWatch;

struct SocketPair {
    int ends[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    ~SocketPair() {
        close(ends[0]);
        close(ends[1]);
    }
    void send() { ASSERT_EQ(write(ends[1], "x", 1), 1); }
    void take() {
        char byte = 0;
        ASSERT_EQ(read(ends[0], &byte, 1), 1);
    }
};

TEST(SocketWatchThreads, ReportsEachArrivalUntilTheReaderTookItAndEndsPromptly) {
    SocketPair pair;
    {
        SocketWatch watch(pair.ends[0]);
        ASSERT_TRUE(watch.active());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(watch.readable());
        for (int round = 0; round < 3; ++round) {
            pair.send();
            ASSERT_TRUE(kvtest::waitUntil([&] { return watch.readable(); }, 2000)) << round;
            // Until the reader rearms, the watch keeps saying so.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_TRUE(watch.readable());
            pair.take();
            watch.rearm();
            EXPECT_FALSE(watch.readable());
        }
        pair.send();  // the watch ends while it has data it reported
        ASSERT_TRUE(kvtest::waitUntil([&] { return watch.readable(); }, 2000));
    }
    pair.take();
    const auto start = std::chrono::steady_clock::now();
    {
        SocketWatch idle(pair.ends[0]);  // and while it waits in poll
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// Hosts and validators fork: a child holds the watch object but not its
// thread. There the watch is not active (the window polls for itself), and
// ending it returns at once instead of joining a thread that is not there.
TEST(SocketWatchThreads, AForkedChildNeitherUsesNorJoinsTheParentsThread) {
    SocketPair pair;
    auto* watch = new SocketWatch(pair.ends[0]);
    ASSERT_TRUE(watch->active());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);  // a join that waits for ever ends the child with SIGALRM
        const bool inactive = !watch->active();
        watch->rearm();
        delete watch;
        _exit(inactive ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(watch->active());
    pair.send();
    EXPECT_TRUE(kvtest::waitUntil([&] { return watch->readable(); }, 2000));
    delete watch;
}

}  // namespace
