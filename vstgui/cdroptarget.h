// The portable side of a frame's drop target: what the window system's drag
// service calls (through the seam's DropEvents) for drags from other
// applications, in the order enter, move (repeated), then leave or drop.
//
// At enter it wraps the drag in a CDragContainer and stores it in the
// module-wide current-drag slot (one drag at a time for every frame of the
// module); each event makes a drawing context on the frame, reads the
// pointer from the frame itself (the position the drag protocol carries is
// not used) and hands the event to the frame, which routes it through the
// view tree like the mouse. Leave and drop release the container and clear
// the slot. Moves, leaves and drops without a preceding enter on this target
// do nothing.
//
// The frame detaches the target before it goes: from then on every enter is
// refused (the source is told that no action is possible) and a drag that
// this frame still held is released.
#pragma once

#include <cstdint>

#include "vstgui/platform/drop_target.h"

namespace VSTGUI {

class CFrame;
class CDragContainer;

class CDropTarget final : public platform::DropEvents {
  public:
    explicit CDropTarget(CFrame* frame);
    ~CDropTarget() override;
    CDropTarget(const CDropTarget&) = delete;
    CDropTarget& operator=(const CDropTarget&) = delete;

    // False (no action) without a frame; true otherwise: the source sees a
    // move while the pointer is over the editor, whatever the views do.
    bool dragEnter(int32_t itemCount) override;
    bool dragMove() override;
    void dragItemCount(int32_t itemCount) override;
    void dragLeave() override;
    // Answers what the frame's onDrop answered.
    bool drop() override;

    // Forgets the frame; releases the current drag if it is this target's.
    void detach();
    CFrame* getFrame() const { return frame; }

  private:
    bool ours() const;
    template <typename Event>
    void route(Event&& event);

    CFrame* frame;
};

// The container of the drag in progress over any frame of the module, or
// null. Borrowed: remember it to keep it beyond the current call.
CDragContainer* getCurrentDrag();

}  // namespace VSTGUI
