// What is being dragged over a frame from another application. Views learn
// only how many items the drag carries (1 for text, the number of files for
// a file list, 0 for anything else); no view of this system reads the items.
//
// The container is reference counted: the drop target holds the first
// reference for the time of the drag, a view that keeps the pointer beyond
// one call remembers it. `platformDrag` is the window system's handle of the
// drag (opaque, not owned). Where the system hands the data over only after
// the drag entered (X11 reads a file list asynchronously), the count starts
// at 0 and is set once it is known.
#pragma once

#include <cstdint>
#include <memory>

#include "vstgui/creferencecounter.h"

namespace VSTGUI {

class CDragContainer : public CReferenceCounter {
  public:
    CDragContainer(void* platformDrag, int32_t count);
    explicit CDragContainer(int32_t count) : CDragContainer(nullptr, count) {}
    ~CDragContainer() override;

    int32_t getCount() const { return itemCount; }
    // Negative counts are stored as 0.
    void setCount(int32_t count);
    void* getPlatformDrag() const { return platformDrag; }
    int32_t getIteratorPosition() const { return iteratorPosition; }

  private:
    void* platformDrag = nullptr;
    int32_t itemCount = 0;
    int32_t iteratorPosition = 0;
    // The item most recently handed out, for a port that reads items; freed
    // with the container.
    std::unique_ptr<char[]> lastItem;
};

}  // namespace VSTGUI
