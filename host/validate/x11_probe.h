// Our own connection to the X server the editor draws on: windows for the
// editor to open on (as a host's would be), and counts of what exists on
// the server and in this process, so that an editor which leaves windows,
// pixmaps or file descriptors behind is seen.
//
// A probe belongs to one process: after fork the child opens its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kv::validate {

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

  private:
    XProbe() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Open file descriptors of this process.
int openDescriptors();

}  // namespace kv::validate
