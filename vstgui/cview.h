// The base of every visible element of the toolkit.
//
// Coordinates: a view's `size` is a rectangle in its parent container's
// coordinates, whose origin is the container's own top-left corner. Views
// draw through a drawing context whose `offset` the containers shift, so a
// view always draws at `size` as if its parent's origin were (0, 0).
//
// Dirty: `dirty` means "what is on screen no longer shows this view".
// Marking a view dirty never draws; the frame's idle redraws dirty views
// later (update). Every draw clears the flag.
//
// Ownership: views are reference counted. The creator gets the first
// reference and hands it to the container with addView; the container takes
// a second one. Parent and frame pointers are plain back-pointers, never
// counted. A view holds one reference to its background bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <memory>

#include "vstgui/ccolor.h"
#include "vstgui/creferencecounter.h"
#include "vstgui/geometry.h"
#include "vstgui/keycode.h"

namespace VSTGUI {

class CBitmap;
class CDrawContext;
class CDragContainer;
class CFrame;
class CViewContainer;
class FrameOwner;

// The message that asks a view whether it is a container. It is compared by
// address, not by content: every sender passes this one constant.
extern const char kMsgCheckIfViewContainer[];

class CView : public CReferenceCounter {
  public:
    explicit CView(const CRect& size);
    ~CView() override;

    // Draws the background bitmap over `size` and clears the dirty flag.
    virtual void draw(CDrawContext* context);
    // Draws the part `updateRect` (parent coordinates); the base draws all.
    virtual void drawRect(CDrawContext* context, const CRect& updateRect);
    // Inclusive: a rectangle that only shares an edge with `size` touches.
    virtual bool touchesRect(const CRect& r) const;

    // `where` is in the parent's coordinates; buttons -1 means "read the
    // live state from the context".
    virtual void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons);

    virtual void setBackground(CBitmap* bitmap);
    virtual CBitmap* getBackground() const;

    // -1: not handled.
    virtual int32_t onKeyDown(const KeyCode& key);
    virtual int32_t onKeyUp(const KeyCode& key);

    // axis 1 is the vertical wheel, 0 the horizontal one.
    virtual bool onWheelAxis(CDrawContext* context, const CPoint& where, int32_t axis,
                             float distance);
    virtual bool onWheel(CDrawContext* context, const CPoint& where, float distance);

    virtual bool onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where);
    virtual void onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where);

    // The context may be null.
    virtual void loseFocus(CDrawContext* context);
    virtual void takeFocus(CDrawContext* context);

    virtual bool isDirty() const;
    virtual void setDirty(bool flag = true);

    virtual void setMouseEnabled(bool enable);
    virtual bool isMouseEnabled() const;
    virtual void setMouseableArea(const CRect& area);
    virtual CRect getMouseableArea() const;
    // Whether `where` (parent coordinates) lies in the mouseable area,
    // inclusive at all four edges.
    virtual bool hitTest(const CPoint& where, int32_t buttons);

    virtual void setTransparency(bool enable);
    virtual bool isTransparent() const;

    // Stores the rectangle and marks the view dirty; the mouseable area
    // stays as it was.
    virtual void setViewSize(const CRect& rect);
    virtual CRect getViewSize() const;

    // Called by the container when the view leaves or joins it.
    virtual bool removed(CView* parent);
    virtual bool attached(CView* parent);

    // The pointer in the coordinates of this view's own `size` (that is,
    // the parent's coordinates). Nothing without a context.
    virtual void getMouseLocation(CDrawContext* context, CPoint& point);
    virtual CPoint& frameToLocal(CPoint& point) const;
    virtual CPoint& localToFrame(CPoint& point) const;

    // The owner of the frame (a format's editor or panel), or null without
    // a frame.
    virtual FrameOwner* getEditor() const;

    // 1 for kMsgCheckIfViewContainer from a container, 0 otherwise.
    virtual int32_t notify(CView* sender, const char* message);

    // Asks the tree to redraw `rect` (this view's parent coordinates) so
    // that what lies beneath is drawn first.
    virtual void redrawRect(CDrawContext* context, const CRect& rect);

    virtual bool wantsFocus() const;
    virtual void setWantsFocus(bool flag);

    // Exact, case-sensitive comparison with the names of the class chain.
    virtual bool isTypeOf(const char* className) const;

    // Redraws the view when it is dirty: through the parents when there is
    // a context, else at once through the frame. Clears the flag.
    virtual void update(CDrawContext* context);

    CFrame* getFrame() const { return parentFrame; }
    CView* getParentView() const { return parentView; }
    void setParentFrame(CFrame* frame) { parentFrame = frame; }
    void setParentView(CView* parent) { parentView = parent; }

    // A zeroed heap block of `bytes` that lives as long as the view.
    void* addOwnedBlock(size_t bytes);
    size_t getOwnedBlockCount() const;

  protected:
    // Whether `view` answers the container message.
    static bool answersContainer(CView* view);

    CRect size;
    CRect mouseableArea;
    CFrame* parentFrame = nullptr;
    CView* parentView = nullptr;
    bool dirty = false;
    bool mouseEnabled = true;
    bool transparencyEnabled = false;
    bool wantsFocusFlag = false;
    CBitmap* background = nullptr;
    std::forward_list<std::unique_ptr<uint8_t[]>> ownedBlocks;
};

}  // namespace VSTGUI
