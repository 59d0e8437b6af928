// Which call into the plug-in kv23's loading thread is inside, so that a
// plug-in that never comes back, or takes the process down, is named with
// the call it did it in ("clap_plugin.init", "VSTPluginMain").
//
// A PluginCall marks one call for as long as it lives. The name is kept in
// a small record that may live in memory shared with a parent process
// (recordCallsIn), so that a validator whose child died can still tell
// where; a watchdog thread (warnWhenStuck) says on standard error when one
// call has not returned for a while, so that a hang is never silent.
#pragma once

#include <cstddef>
#include <string>

namespace kv::host {

class PluginCall {
  public:
    // `name` must outlive the call (a literal, or a string the caller keeps).
    explicit PluginCall(const char* name);
    ~PluginCall();
    PluginCall(const PluginCall&) = delete;
    PluginCall& operator=(const PluginCall&) = delete;

  private:
    bool outer_;
};

// The call the loading thread is inside, or empty.
std::string currentPluginCall();

// From now on the current call's name is also copied into `shared` (at most
// `size` bytes with its terminating zero), which a parent process can read
// after this one has died. Null stops it.
void recordCallsIn(char* shared, size_t size);

// Starts a thread that prints "kv23 COMMAND: the plug-in has not returned
// from CALL for N s ..." once for every call that takes more than
// `seconds`. Calls after the first from the same outer call are not timed
// again.
void warnWhenStuck(const char* command, double seconds);

}  // namespace kv::host
