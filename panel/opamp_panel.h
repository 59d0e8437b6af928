// The panel of KV23-T ZuDiz, whatever format shows it: a 240 x 400 frame
// with the two pad switches, the gain and volume knobs, a decibel field
// under each knob and the peak LED. The panel object lives as long as its
// format's editor; the frame and its seven controls exist only while the
// host has the window open.
//
// The panel listens to the six user controls and turns their changes into
// parameter changes through its owner (panel_owner.h); the owner calls
// parameterChanged with every value it stores, and the panel moves the
// controls of that parameter.
//
// Threads. open, close and every control event run on the host's
// user-interface thread. Two other threads may reach into the open panel:
// - the audio thread raises the LED's peak (peakCell) between the format's
//   publishing it after open and withdrawing it before close, and
// - whatever thread the host sets parameters on calls parameterChanged,
//   which sets control values (atomic stores).
// parameterChanged sees the panel only after open has built all of it, and
// close waits until it no longer holds a control before it lets the frame
// go (common/handover.h). parameterChanged never waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/handover.h"
#include "dsp/opamp_params.h"
#include "panel/panel_owner.h"
#include "vstgui/ccontrol.h"
#include "vstgui/frame_owner.h"

class BrackenlumeKnob;
class BrackenlumePeakLed;
namespace VSTGUI {
class CBitmap;
class CFrame;
class CView;
class COnOffButton;
class CTextEdit;
}  // namespace VSTGUI

namespace kv::panel {

class OpampPanel : public VSTGUI::FrameOwner, public VSTGUI::CControlListener {
  public:
    // Control tags: the parameter indices, and the two decibel fields.
    enum Tag : int32_t {
        kGainTag = kv::opamp::kGain,
        kPad1Tag = kv::opamp::kPad1,
        kPad2Tag = kv::opamp::kPad2,
        kVolumeTag = kv::opamp::kVolume
    };
    enum TextTag : int32_t { kGainTextTag = 1001, kVolumeTextTag = 1002 };

    explicit OpampPanel(PanelOwner& owner);
    ~OpampPanel() override;
    OpampPanel(const OpampPanel&) = delete;
    OpampPanel& operator=(const OpampPanel&) = delete;

    // The panel's size in units (from its background image).
    static VSTGUI::CRect panelSize();
    // The factor for a panel opening in `parent`: the host's (`hostFactor`,
    // 0 for none), else the user's KV23_SCALE, else the desktop's, else 1;
    // clamped as the frame clamps it.
    static double chooseScale(double hostFactor, void* parent);

    // Builds the panel in the window `parent` at `scale` device pixels a
    // unit, showing the owner's values. False when memory ran out: nothing
    // is left behind and a later open starts afresh. An open panel is
    // closed first.
    bool open(void* parent, double scale);
    // Withdraws the panel from parameterChanged, then lets the frame go
    // with its views (at once, or when a handler of its own that is still
    // running returns). The format withdraws the peak cell before this.
    void close();
    bool isOpen() const { return frame != nullptr; }

    // Moves the controls of `index` to `value`, the value the owner stored.
    // Any thread; nothing happens while closed.
    void parameterChanged(int32_t index, float value);
    // Where the audio side raises the peak the LED shows (see
    // brackenlume_peak_led.h); null while closed.
    std::atomic<double>* peakCell() const;

    // The frame's owner: gestures on parameters reach the panel's owner
    // (the decibel fields are not parameters, and a host that looks an
    // index up in its own table must not see them); the rest is passed on.
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;
    void pumpIdle() override;
    bool sizeWindow(int32_t width, int32_t height) override;
    void desktopScaleChanged(double factor) override;

    // For a format whose host cannot run while a control holds the mouse
    // (the host's own loop waits for ours): an owner's runHost may call
    // this. It sleeps 4 ms a call, redraws the dirty views every 20 ms and
    // handles the window's events every 100 ms.
    void idleWithoutHost();

    void valueChanged(VSTGUI::CDrawContext* context, VSTGUI::CControl* control) override;
    // The panel never takes over a modifier click.
    int32_t controlModifierClicked(VSTGUI::CDrawContext*, VSTGUI::CControl*, int32_t) override {
        return 0;
    }

    // The decibel texts of the two fields, on the scales of opamp_params.h,
    // with two decimals and a point, whatever the host's locale.
    static void gainToString(float value, char* text);
    static void volumeToString(float value, char* text);

    // The frame and the controls while the window is open (user-interface
    // thread only).
    VSTGUI::CFrame* getFrame() const { return frame; }
    BrackenlumePeakLed* getPeakLed() const { return peakLed; }
    BrackenlumeKnob* getGainKnob() const { return gainKnob; }
    BrackenlumeKnob* getVolumeKnob() const { return volumeKnob; }
    VSTGUI::COnOffButton* getPad1Button() const { return pad1Button; }
    VSTGUI::COnOffButton* getPad2Button() const { return pad2Button; }
    VSTGUI::CTextEdit* getGainText() const { return gainText; }
    VSTGUI::CTextEdit* getVolumeText() const { return volumeText; }

  private:
    // Makes the images, the frame in `parent` and its views. Throws
    // std::bad_alloc when memory runs out; what is built so far is then in
    // the arguments (the images still ours, the frame, a view not yet added).
    void buildPanel(void* parent, double scale, VSTGUI::CBitmap* (&images)[4],
                    VSTGUI::CFrame*& newFrame, VSTGUI::CView*& pending);
    // The number a decibel field holds, as a parameter value on its scale.
    void applyTypedText(VSTGUI::CTextEdit* field, int32_t index,
                        const kv::opamp::DecibelScale& scale);
    // The borrowed pointers to the panel's controls, cleared when the panel goes.
    void forgetControls();

    PanelOwner& owner;
    VSTGUI::CFrame* frame = nullptr;  // present while the window is open
    uint32_t lastRedrawTicks = 0;     // of idleWithoutHost
    uint32_t lastPassTicks = 0;

    // Borrowed: the frame owns them. Set only while the window is open.
    BrackenlumePeakLed* peakLed = nullptr;
    BrackenlumeKnob* gainKnob = nullptr;
    BrackenlumeKnob* volumeKnob = nullptr;
    VSTGUI::COnOffButton* pad1Button = nullptr;
    VSTGUI::COnOffButton* pad2Button = nullptr;
    VSTGUI::CTextEdit* gainText = nullptr;
    VSTGUI::CTextEdit* volumeText = nullptr;

    // The panel as the parameter thread sees it: the frame, published once
    // the panel is complete; parameterChanged moves the controls while it
    // holds it, and close withdraws it before the controls go.
    kv::Handover<VSTGUI::CFrame> shownPanel;
};

}  // namespace kv::panel
