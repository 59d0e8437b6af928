// A view that holds other views.
//
// Order: the children form one list. Drawing runs from the first child to
// the last, so the last child lies on top; hit testing, key routing and
// getViewAt run from the last child to the first, so the topmost child wins.
//
// Local coordinates: children's rectangles are relative to the container's
// top-left corner. While a container draws or routes an event it shifts the
// context's `offset` and `offsetScreen` by its own top-left corner instead
// of converting every child's coordinates, and restores them afterwards.
//
// Dirty: a container is dirty when its own flag is set or when a dirty
// child shows at least one pixel inside the container. A child lying wholly
// outside does not count: it could never be seen.
//
// Ownership: addView takes one reference (the list entry's) on top of the
// creator's, which the creator hands over and never forgets itself.
// removeView/removeAll with `withForget` release both; without it only the
// entry's, leaving the caller owning the view again. The destructor
// releases every child with both references, then the offscreen buffer.
//
// Offscreen: with drawInOffscreen the children are composed in a buffer of
// the container's size, which exists only while the container is in a tree
// (or from its first drawing), and copied to the target in one block.
#pragma once

#include <cstdint>
#include <list>

#include "vstgui/ccolor.h"
#include "vstgui/cview.h"

namespace VSTGUI {

class COffscreenContext;

enum CViewContainerUpdateMode : int32_t {
    kUpdateWhole = 0,          // a dirty container redraws all of itself
    kUpdateDirtyChildren = 1,  // redraw only dirty children (or all if the container is)
};

class CViewContainer : public CView {
  public:
    explicit CViewContainer(const CRect& size);
    ~CViewContainer() override;

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, const CRect& updateRect) override;
    void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) override;
    int32_t onKeyDown(const KeyCode& key) override;
    int32_t onKeyUp(const KeyCode& key) override;
    bool onWheelAxis(CDrawContext* context, const CPoint& where, int32_t axis,
                     float distance) override;
    // The vertical wheel (axis 1).
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    bool onDrop(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragEnter(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragLeave(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    void onDragMove(CDrawContext* context, CDragContainer* drag, const CPoint& where) override;
    // Passed to every child, first to last.
    void loseFocus(CDrawContext* context) override;
    void takeFocus(CDrawContext* context) override;
    bool isDirty() const override;
    void setViewSize(const CRect& rect) override;
    bool removed(CView* parent) override;
    bool attached(CView* parent) override;
    CPoint& frameToLocal(CPoint& point) const override;
    CPoint& localToFrame(CPoint& point) const override;
    int32_t notify(CView* sender, const char* message) override;
    // `rect` is in the container's local coordinates.
    void redrawRect(CDrawContext* context, const CRect& rect) override;
    bool isTypeOf(const char* className) const override;
    void update(CDrawContext* context) override;

    // Sets the view's mouse flag and mouseable area, then adds it.
    virtual void addView(CView* view, const CRect& mouseArea, bool enableMouse = true);
    // Appends the view (on top of the others); a null view is ignored.
    virtual void addView(CView* view);
    virtual void removeView(CView* view, bool withForget = true);
    virtual void removeAll(bool withForget = true);
    // Direct children only.
    virtual bool isChild(CView* view) const;
    virtual int32_t getViewCount() const;
    // The child at `index` in drawing order, or null.
    virtual CView* getView(int32_t index) const;

    virtual void setBackgroundColor(const CColor& color);
    virtual CColor getBackgroundColor() const;
    virtual void setBackgroundOffset(const CPoint& offset);
    virtual CPoint getBackgroundOffset() const;
    // `rect` in local coordinates.
    virtual void drawBackgroundRect(CDrawContext* context, const CRect& rect);

    virtual void setMode(int32_t newMode);
    virtual int32_t getMode() const;

    virtual void useOffscreen(bool enable);

    // The topmost child under the pointer, or null.
    virtual CView* getViewUnderCursor();
    // The topmost child whose mouseable area contains `where` (parent
    // coordinates); with `deep`, the search goes on inside containers and
    // may answer null there.
    virtual CView* getViewAt(const CPoint& where, bool deep = false) const;

    // Moves the frame's focus to the next view that wants it, after
    // `oldFocus` (from the start when null); answers whether one took it.
    virtual bool advanceNextFocusView(CView* oldFocus, bool reverse = false);

    COffscreenContext* getOffscreen() const { return offscreen; }
    bool isDrawingInOffscreen() const { return drawInOffscreen; }

  protected:
    // Local rectangle (0, 0, width, height).
    CRect localRect() const { return CRect(0, 0, size.width(), size.height()); }
    // Steps shared by draw and drawRect: make the offscreen when needed,
    // pick the context to draw into, shift offsets, and answer the clip that
    // was in force (in the drawing context's terms).
    CDrawContext* beginDrawing(CDrawContext* target, CRect& savedClip);
    void endDrawing(CDrawContext* target, CDrawContext* drawContext, const CRect& savedClip);
    void makeOffscreen();
    void releaseOffscreen();
    // Draws the background bitmap or colour over the local rectangle `r`.
    void drawBackground(CDrawContext* context, const CRect& r);
    // A child is about to leave: no pointer kept for events may still name
    // it or a view inside it.
    void leaving(CView* view);

    std::list<CView*> children;
    int32_t mode = kUpdateDirtyChildren;
    COffscreenContext* offscreen = nullptr;
    CColor backgroundColor = kBlackColor;
    CPoint backgroundOffset;
    bool drawInOffscreen = false;
    CView* currentDragView = nullptr;
};

}  // namespace VSTGUI
