// Shared pieces of the editor tests: one plug-in instance created the way the
// entry point creates it, driven through its AEffect record, with a host
// callback that records what the plug-in tells the host; a clock the test
// moves; and the panel images decoded independently of the toolkit (stb)
// to compute the pixels the window must show.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/brackenlume_opamp_gui.h"
#include "vst/aeffect.h"
#include "vstgui/geometry.h"
#include "vstgui/platform/clock.h"

namespace kvtest {

struct HostEvent {
    int32_t opcode;
    int32_t index;
    float opt;
};

class TestClock : public VSTGUI::platform::Clock {
  public:
    uint32_t now = 5000;
    uint32_t ticks() override { return now; }
    void sleep(uint32_t ms) override { now += ms; }
    int32_t doubleClickTime() override { return 400; }
};

// Installs the test clock for the lifetime of the object.
class ScopedClock {
  public:
    ScopedClock() { VSTGUI::platform::setClock(&clock); }
    ~ScopedClock() { VSTGUI::platform::setClock(nullptr); }
    TestClock clock;
};

// One instance; effClose on destruction. Only one may exist at a time (the
// host callback records into a shared log).
class Instance {
  public:
    Instance();
    ~Instance();

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.f);
    void setParameter(int32_t index, float value) { fx->setParameter(fx, index, value); }
    float getParameter(int32_t index) { return fx->getParameter(fx, index); }
    // One stereo block of `frames` samples of the constant `level`.
    void process(float level, int32_t frames = 64);

    // Opens the editor on a headless window and lets the window system ask
    // for the first paint, so the whole panel is on the window.
    void openAndPaint();
    void idle() { dispatch(effEditIdle); }
    BrackenlumeOpampGUI* editor() const;
    // 0xRRGGBB of the panel window, which must be open.
    uint32_t pixel(int32_t x, int32_t y) const;

    std::vector<HostEvent> events() const;
    int32_t count(int32_t opcode) const;
    void clearEvents();

    AEffect* fx = nullptr;
};

// A host that acts inside its callback: `reply` runs for every call the
// plug-in makes, after the call is logged (none by default; null removes it).
void onHostCall(std::function<void(AEffect* effect, int32_t opcode)> reply);

// A decoded PNG of resources/, straight (not premultiplied) RGBA.
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
    uint32_t rgbaAt(int32_t x, int32_t y) const;
};
const Image& resourceImage(int32_t number);

// The colour a pixel of the panel must have: image `number` at source
// offset `offset`, drawn into `where`, over the background image 101.
uint32_t composed(int32_t number, const VSTGUI::CRect& where, VSTGUI::CPoint offset, int32_t x,
                  int32_t y);

// The number of pixels in `where` that differ by more than `tolerance` in a
// channel from the image composed over the background (first few printed).
int32_t mismatches(const Instance& instance, int32_t number, const VSTGUI::CRect& where,
                   VSTGUI::CPoint offset, int32_t tolerance = 2);

}  // namespace kvtest
