// Our own connection to the X server the editor draws on: windows for the
// editor to open on (as a host's would be), and counts of what exists on
// the server and in this process, so that an editor which leaves windows,
// pixmaps or file descriptors behind is seen.
//
// A probe belongs to one process: after fork the child opens its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/plugin_instance.h"

namespace kv::validate {

class Context;

struct ServerCounts {
    long windows = 0;   // every window in the tree under the root
    long pixmaps = -1;  // summed over all clients; -1 without the X-Resource extension
    long gcs = -1;
    long total = -1;  // every resource of every client
};

class XProbe {
  public:
    // Null (and the reason in `why`) when no X display can be opened.
    static std::unique_ptr<XProbe> open(std::string& why);
    ~XProbe();
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    // A mapped top-level window of the given size, the kind a host embeds
    // the editor in. The id is what effEditOpen gets as its pointer.
    unsigned long makeWindow(int width, int height);
    void destroyWindow(unsigned long window);
    // Children of `window` as the server sees them now.
    int childCount(unsigned long window);
    // Waits up to `ms` for `window` to have `expected` children (the editor
    // works on its own connection; its requests reach the server when it
    // flushes). Answers the last count seen.
    int waitForChildren(unsigned long window, int expected, int ms);
    // Size of the first child of `window`; false when it has none.
    bool firstChildSize(unsigned long window, int& width, int& height);
    ServerCounts counts();
    void sync();
    // Ends the connection of whoever made the first child of `window`, as
    // xkill does (XKillClient); false when `window` has no child.
    bool killOwnerOfFirstChild(unsigned long window);
    // Makes a request that fails on the probe's own connection and waits
    // for its error (which goes to the process's X error handler).
    void provokeError();

  private:
    XProbe() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Open file descriptors of this process.
int openDescriptors();

// The pointer effEditOpen takes on X11: the parent window's id.
inline void* windowPointer(unsigned long window) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(window));
}

// Whether the plug-in has an editor and there is a display to open it on;
// a SKIP line for `name` when not (check_editor.cpp).
bool editorAvailable(Context& ctx, const std::string& name);

// Runs one editor check in a child with its own probe and a started
// instance, and prints its line.
void editorInChild(Context& ctx, const std::string& name,
                   const std::function<std::string(XProbe&, host::PluginInstance&)>& body);

}  // namespace kv::validate
