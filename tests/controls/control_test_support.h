// Shared pieces of the control tests: a clock the test moves, an editor that
// records the edit bracket, a listener that records reports, a drawing device
// that records what reaches it, a bitmap that records how it is drawn, and a
// frame on the headless window whose pointer the test scripts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless_window.h"
#include "plugin/aeffguieditor.h"
#include "vstgui/cbitmap.h"
#include "vstgui/ccontrol.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/draw_device.h"

namespace kvtest {

using namespace VSTGUI;

class TestClock : public platform::Clock {
  public:
    uint32_t now = 1000;
    int32_t doubleClick = 400;
    uint32_t ticks() override { return now; }
    void sleep(uint32_t ms) override { now += ms; }
    int32_t doubleClickTime() override { return doubleClick; }
};

// Installs a test clock for the lifetime of the object.
class ScopedClock {
  public:
    ScopedClock() { platform::setClock(&clock); }
    ~ScopedClock() { platform::setClock(nullptr); }
    TestClock clock;
};

struct EditEvent {
    bool begin;
    int32_t index;
};

class RecordingEditor : public AEffGUIEditor {
  public:
    RecordingEditor() : AEffGUIEditor(nullptr) {}
    void beginEdit(int32_t index) override { edits.push_back({true, index}); }
    void endEdit(int32_t index) override { edits.push_back({false, index}); }
    void pumpIdle() override { ++pumps; }
    void adoptFrame(CFrame* f) { frame = f; }
    void dropFrame() { frame = nullptr; }

    std::vector<EditEvent> edits;
    int32_t pumps = 0;
};

struct Report {
    float value;
    CDrawContext* context;
    int32_t editsSoFar;
};

class RecordingListener : public CControlListener {
  public:
    explicit RecordingListener(RecordingEditor* e = nullptr) : editor(e) {}
    void valueChanged(CDrawContext* context, CControl* control) override {
        reports.push_back({control->getValue(), context,
                           editor ? static_cast<int32_t>(editor->edits.size()) : 0});
        if (onChange) onChange(control);
    }
    int32_t controlModifierClicked(CDrawContext*, CControl*, int32_t buttons) override {
        modifierButtons.push_back(buttons);
        return modifierAnswer;
    }

    RecordingEditor* editor;
    std::vector<Report> reports;
    std::vector<int32_t> modifierButtons;
    int32_t modifierAnswer = 0;
    std::function<void(CControl*)> onChange;
};

// What reached the platform, in order.
struct DeviceCall {
    enum Kind { Pen, Brush, TextColor, Font, Clip, Move, Line, Fill, Text, Blit };
    DeviceCall(Kind k, CColor c = CColor{}) : kind(k), color(c) {}
    Kind kind;
    CColor color;
    CRect rect;
    CPoint point;
    std::string text;
    platform::TextAlign align = platform::TextAlign::left;
    bool opaque = false;
    platform::FontDesc font;
};

class RecordingDevice : public platform::DrawDevice {
  public:
    void setPen(CColor c, int32_t) override { add({DeviceCall::Pen, c}); }
    bool setBrush(CColor c) override {
        add({DeviceCall::Brush, c});
        return true;
    }
    void setTextColor(CColor c) override { add({DeviceCall::TextColor, c}); }
    void setFont(const platform::FontDesc& f) override {
        DeviceCall call{DeviceCall::Font};
        call.font = f;
        add(call);
    }
    void setClip(const CRect& r) override {
        DeviceCall call{DeviceCall::Clip};
        call.rect = r;
        add(call);
    }
    void moveTo(CPoint p) override {
        DeviceCall call{DeviceCall::Move};
        call.point = p;
        add(call);
    }
    void lineTo(CPoint p) override {
        DeviceCall call{DeviceCall::Line};
        call.point = p;
        add(call);
    }
    void fillRect(const CRect& r) override {
        DeviceCall call{DeviceCall::Fill};
        call.rect = r;
        add(call);
    }
    void drawText(const char* text, const CRect& r, platform::TextAlign align,
                  bool opaque) override {
        DeviceCall call{DeviceCall::Text};
        call.text = text;
        call.rect = r;
        call.align = align;
        call.opaque = opaque;
        add(call);
    }
    void copyFrom(DrawDevice&, const CRect&, CPoint) override {}
    void blit(const platform::Image&, const CRect& r, CPoint) override {
        DeviceCall call{DeviceCall::Blit};
        call.rect = r;
        add(call);
    }
    void blitColorKey(const platform::Image&, const CRect& r, CPoint, CColor) override {
        DeviceCall call{DeviceCall::Blit};
        call.rect = r;
        add(call);
    }
    void alphaBlend(const platform::Image&, const CRect& r, CPoint, uint8_t) override {
        DeviceCall call{DeviceCall::Blit};
        call.rect = r;
        add(call);
    }

    void clear() { calls.clear(); }
    std::vector<DeviceCall> of(DeviceCall::Kind kind) const {
        std::vector<DeviceCall> out;
        for (const DeviceCall& c : calls)
            if (c.kind == kind) out.push_back(c);
        return out;
    }

    std::vector<DeviceCall> calls;

  private:
    void add(const DeviceCall& c) { calls.push_back(c); }
};

// A bitmap of a given size that records each draw instead of drawing.
class RecordingBitmap : public CBitmap {
  public:
    struct Draw {
        CRect rect;
        CPoint offset;
        bool transparent;
    };
    RecordingBitmap(int32_t w, int32_t h) : CBitmap(0) {
        width = w;
        height = h;
    }
    void draw(CDrawContext*, const CRect& r, const CPoint& o) override {
        draws.push_back({r, o, false});
    }
    void drawTransparent(CDrawContext*, const CRect& r, const CPoint& o) override {
        draws.push_back({r, o, true});
    }
    std::vector<Draw> draws;
};

// A 240 x 400 frame on a headless window with a recording editor, and a
// drawing context on a recording device.
class FrameFixture {
  public:
    FrameFixture() {
        frame = new CFrame(CRect(0, 0, 240, 400), reinterpret_cast<void*>(0x1234), &editor);
        editor.adoptFrame(frame);
        window = platform::HeadlessWindow::last();
        context = new CDrawContext(frame, &device, nullptr);
    }
    ~FrameFixture() {
        context->forget();
        editor.dropFrame();
        delete frame;
    }
    FrameFixture(const FrameFixture&) = delete;
    FrameFixture& operator=(const FrameFixture&) = delete;

    // Pointer states for a modal loop: each position with the button held,
    // then the release at the last position.
    void scriptDrag(const std::vector<CPoint>& path, int32_t buttons = kMouseLeft) {
        std::vector<platform::PointerState> states;
        for (const CPoint& p : path)
            states.push_back({p, buttons});
        states.push_back({path.empty() ? CPoint() : path.back(), 0});
        window->scriptPointer(states);
    }

    ScopedClock time;
    RecordingEditor editor;
    CFrame* frame = nullptr;
    platform::HeadlessWindow* window = nullptr;
    RecordingDevice device;
    CDrawContext* context = nullptr;
};

}  // namespace kvtest
