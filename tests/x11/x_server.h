// A private X server for the GUI tests: kv23's own launcher, the DISPLAY
// variable pointing at its server, and small helpers to run X tools there.
#pragma once

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

}  // namespace kvtest
