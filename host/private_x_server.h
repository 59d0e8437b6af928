// An X server of our own: Xvfb on a display number it picks itself (so that
// runs side by side never collide), ready once it has named that number,
// and stopped (this one process only) when the object goes. kv23 snapshot
// starts one when there is no display; the tests start theirs through the
// same class.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kv::host {

class PrivateXServer {
  public:
    PrivateXServer() = default;
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // Starts Xvfb with one screen of `screen` (WIDTHxHEIGHTxDEPTH) and the
    // extra arguments, and waits up to ten seconds for it to take
    // connections. False with the reason in failure() otherwise.
    bool start(const std::string& screen = "640x480x24",
               const std::vector<std::string>& extra = {});
    void stop();

    // ":N", once started.
    const std::string& display() const { return display_; }
    // The server's process, once started.
    pid_t pid() const { return pid_; }
    const std::string& failure() const { return failure_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
    std::string failure_;
};

}  // namespace kv::host
