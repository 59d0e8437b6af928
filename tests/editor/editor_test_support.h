// Shared pieces of the editor tests: one plug-in instance created the way the
// entry point creates it, driven through its AEffect record, with a host
// callback that records what the plug-in tells the host; and the panel
// images decoded independently of the toolkit (stb) to compute the pixels the
// window must show.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/host_recorder.h"
#include "tests/support/test_clock.h"
#include "vst2/base/aeffect.h"
#include "vst2/brackenlume_opamp_gui.h"
#include "vstgui/geometry.h"

namespace kvtest {

// One instance; effClose on destruction. Only one may exist at a time (the
// host is the one recorder).
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

    // What the plug-in told the host, without the version questions.
    std::vector<HostCall> events() const;
    int32_t count(int32_t opcode) const { return host.count(opcode); }
    void clearEvents() { host.clear(); }
    // A host that acts inside its callback: `reply` runs for every call the
    // plug-in makes but the version question, after the call is logged (none
    // by default; null removes it).
    void onHostCall(std::function<void(AEffect* effect, int32_t opcode)> reply);

    HostRecorder host;
    AEffect* fx = nullptr;
};

// Where the panel's views are, and gestures on them through the headless
// window of the open editor.
namespace panel {
constexpr VSTGUI::CRect kPad1(55, 24, 95, 54);
constexpr VSTGUI::CRect kPad2(137, 24, 177, 54);
constexpr VSTGUI::CRect kGainKnob(80, 90, 160, 170);
constexpr VSTGUI::CRect kVolumeKnob(80, 230, 160, 310);
constexpr VSTGUI::CRect kGainText(30, 174, 60, 188);
constexpr VSTGUI::CRect kVolumeText(30, 314, 60, 328);
constexpr VSTGUI::CRect kLed(180, 307, 208, 335);

inline VSTGUI::CPoint centre(const VSTGUI::CRect& r) {
    return VSTGUI::CPoint(r.left + r.width() / 2, r.top + r.height() / 2);
}

// Clicks on the field, types `text` and presses Return; false when the
// click opened no text field.
bool typeInto(const VSTGUI::CRect& field, const char* text);
}  // namespace panel

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
// `where` and `offset` are panel units. With density 2, (x, y) is a pixel of
// the panel drawn at two pixels a unit, composed from the images 1000 above
// (1101 ... 1104).
uint32_t composed(int32_t number, const VSTGUI::CRect& where, VSTGUI::CPoint offset, int32_t x,
                  int32_t y, int32_t density = 1);

// The number of pixels of `where` (all its device pixels at `density`) that
// differ by more than `tolerance` in a channel from the image composed over
// the background (first few printed).
int32_t mismatches(const Instance& instance, int32_t number, const VSTGUI::CRect& where,
                   VSTGUI::CPoint offset, int32_t tolerance = 2, int32_t density = 1);

}  // namespace kvtest
