// A private X server for the GUI tests: kv23's own launcher, the DISPLAY
// variable pointing at its server, and small helpers to run X tools there.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/private_x_server.h"

namespace kvtest {

// Exit code with which a test program tells ctest it was skipped.
inline constexpr int kSkipExitCode = 77;

class XServer {
  public:
    // Starts Xvfb (24-bit screen of width x height) and sets DISPLAY;
    // false when Xvfb is missing or does not come up within a few seconds.
    bool start(int width = 640, int height = 480);
    void stop() { server_.stop(); }
    const std::string& display() const { return server_.display(); }

  private:
    kv::host::PrivateXServer server_;
};

// Runs the tests (InitGoogleTest done) with DISPLAY on a private X server;
// the skip code, with a line naming `what`, when there is none.
inline int runAllTestsOnPrivateServer(const char* what) {
    XServer server;
    if (!server.start()) {
        std::fprintf(stderr, "Xvfb is not available: skipping the %s\n", what);
        return kSkipExitCode;
    }
    return RUN_ALL_TESTS();
}

// True when `program` is found on PATH.
bool haveProgram(const std::string& program);

// Runs a program (searched on PATH) with the current environment and waits
// for it; its exit status, or -1 when it could not run.
int runProgram(const std::vector<std::string>& argv);

// Calls pump() and checks done() every 2 ms until done() holds or
// `milliseconds` passed; answers done().
bool waitUntil(const std::function<bool()>& done, int milliseconds,
               const std::function<void()>& pump = {});

// Number of open file descriptors of this process.
int openDescriptors();

// Number of threads of this process.
int threadCount();

}  // namespace kvtest
