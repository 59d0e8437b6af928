// Registration of a frame's window as a target for drags from other
// applications. The drop target translates the system's drag protocol into
// the four calls below, in the order enter, move (repeated), then leave or
// drop; the toolkit reads the pointer itself.
#pragma once

#include <cstdint>
#include <memory>

namespace VSTGUI::platform {

class NativeWindow;

class DropEvents {
  public:
    virtual ~DropEvents() = default;
    // A drag entered: itemCount is the number of dragged items (1 for text,
    // the number of files for a file list, 0 for anything else). Answers
    // whether the source is told that a move is possible.
    virtual bool dragEnter(int32_t itemCount) = 0;
    virtual bool dragMove() = 0;
    // The item count became known after the enter (a system that hands the
    // data over asynchronously enters with 0, then reports the count).
    virtual void dragItemCount(int32_t /*itemCount*/) {}
    virtual void dragLeave() = 0;
    // Answers whether a view took the drop: a source must not be told that
    // a move happened (and delete its data) when nothing took it.
    virtual bool drop() = 0;
};

class DropTarget {
  public:
    // Revokes the registration.
    virtual ~DropTarget() = default;
};

// Null when the window cannot take drops.
std::unique_ptr<DropTarget> registerDropTarget(NativeWindow& window, DropEvents& events);

}  // namespace VSTGUI::platform
