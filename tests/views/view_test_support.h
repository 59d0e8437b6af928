// Views that record what the tree does to them, and a frame on a headless
// window, shared by the view-tree tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless/headless_window.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdragcontainer.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/cviewcontainer.h"

namespace kvtest {

using namespace VSTGUI;

// A view that fills its rectangle with one colour (when it has one) and
// records every call the tree makes.
class Probe : public CView {
  public:
    explicit Probe(const CRect& r, CColor fill = CColor{}, bool paints = false)
        : CView(r), color(fill), hasColor(paints) {
        ++alive;
    }
    ~Probe() override { --alive; }

    void draw(CDrawContext* context) override {
        ++draws;
        if (hasColor && context) {
            context->setFillColor(color);
            context->fillRect(size);
        }
        CView::draw(context);
    }
    void drawRect(CDrawContext* context, const CRect& update) override {
        ++drawRects;
        lastUpdate = update;
        CView::drawRect(context, update);
    }
    void onMouseDown(CDrawContext*, const CPoint& where, int32_t buttons) override {
        ++clicks;
        lastWhere = where;
        lastButtons = buttons;
    }
    int32_t onKeyDown(const VSTGUI::KeyCode&) override {
        order->push_back(name);
        return keyResult;
    }
    int32_t onKeyUp(const VSTGUI::KeyCode&) override {
        order->push_back(name);
        return keyResult;
    }
    bool onWheel(CDrawContext*, const CPoint& where, float distance) override {
        ++wheels;
        lastWhere = where;
        lastDistance = distance;
        return true;
    }
    void onDragEnter(CDrawContext*, CDragContainer* drag, const CPoint& where) override {
        dragLog.push_back("enter");
        lastWhere = where;
        lastDragCount = drag ? drag->getCount() : -1;
    }
    void onDragMove(CDrawContext*, CDragContainer*, const CPoint& where) override {
        dragLog.push_back("move");
        lastWhere = where;
    }
    void onDragLeave(CDrawContext*, CDragContainer*, const CPoint&) override {
        dragLog.push_back("leave");
    }
    bool onDrop(CDrawContext*, CDragContainer*, const CPoint&) override {
        dragLog.push_back("drop");
        return acceptsDrop;
    }
    void loseFocus(CDrawContext*) override { ++focusLosses; }

    static inline int32_t alive = 0;
    static inline std::vector<std::string> defaultOrder;

    CColor color;
    bool hasColor;
    int32_t draws = 0;
    int32_t drawRects = 0;
    CRect lastUpdate;
    int32_t clicks = 0;
    CPoint lastWhere{-999, -999};
    int32_t lastButtons = 0;
    int32_t wheels = 0;
    float lastDistance = 0.f;
    std::vector<std::string> dragLog;
    int32_t lastDragCount = -2;
    bool acceptsDrop = false;
    int32_t focusLosses = 0;
    int32_t keyResult = -1;
    std::string name;
    std::vector<std::string>* order = &defaultOrder;
};

// A container that counts its instances.
class Box : public CViewContainer {
  public:
    explicit Box(const CRect& r) : CViewContainer(r) { ++alive; }
    ~Box() override { --alive; }
    void drawRect(CDrawContext* context, const CRect& update) override {
        ++drawRects;
        CViewContainer::drawRect(context, update);
    }
    static inline int32_t alive = 0;
    int32_t drawRects = 0;
};

// A frame whose drawing requests are counted.
class CountingFrame : public CFrame {
  public:
    using CFrame::CFrame;
    void drawRect(CDrawContext* context, const CRect& rect) override {
        ++drawRects;
        lastRect = rect;
        CFrame::drawRect(context, rect);
    }
    int32_t drawRects = 0;
    CRect lastRect;
};

// Any non-null value serves as the host's window for the headless back end.
inline void* hostWindow() {
    static int token;
    return &token;
}

inline VSTGUI::KeyCode key(uint8_t virt, uint8_t modifier = 0, int32_t character = 0) {
    VSTGUI::KeyCode k{};
    k.character = character;
    k.virt = virt;
    k.modifier = modifier;
    return k;
}

inline uint32_t rgb(CColor c) {
    return (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | uint32_t(c.blue);
}

}  // namespace kvtest
