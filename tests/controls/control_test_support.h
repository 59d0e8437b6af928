// Shared pieces of the control tests: an editor that records the edit
// bracket, a listener that records reports, a bitmap that records how it is
// drawn, and a frame on the headless window whose pointer the test scripts,
// drawing on the shared recording device.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless_window.h"
#include "tests/support/recording_device.h"
#include "tests/support/test_clock.h"
#include "vst2/aeffguieditor.h"
#include "vstgui/cbitmap.h"
#include "vstgui/ccontrol.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/draw_device.h"

namespace kvtest {

using namespace VSTGUI;

struct EditEvent {
    bool begin;
    int32_t index;
};

class RecordingEditor : public AEffGUIEditor {
  public:
    RecordingEditor() : AEffGUIEditor(nullptr) {}
    void beginEdit(int32_t index) override { edits.push_back({true, index}); }
    void endEdit(int32_t index) override { edits.push_back({false, index}); }
    void pumpIdle() override {
        ++pumps;
        if (onPump) onPump();
    }
    void adoptFrame(CFrame* f) { frame = f; }
    void dropFrame() { frame = nullptr; }

    std::vector<EditEvent> edits;
    int32_t pumps = 0;
    std::function<void()> onPump;  // what the host does inside its idle
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
        if (onDraw) onDraw();
    }
    void drawTransparent(CDrawContext*, const CRect& r, const CPoint& o) override {
        draws.push_back({r, o, true});
        if (onDraw) onDraw();
    }
    std::vector<Draw> draws;
    // Runs inside each draw: another thread's store at an exact point.
    std::function<void()> onDraw;
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

    TestClock clock;
    RecordingEditor editor;
    CFrame* frame = nullptr;
    platform::HeadlessWindow* window = nullptr;
    RecordingDevice device;
    CDrawContext* context = nullptr;
};

}  // namespace kvtest
