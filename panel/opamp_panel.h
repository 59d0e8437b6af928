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
#include "dsp/opamp_run.h"
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

    // Builds the panel in the window `parent` at `scale` device pixels a
    // unit (panel_scale.h chooses it), showing the owner's values, and lends
    // the LED's cell to the audio side through `meter` (the format's
    // processing raises it; null: the LED is lit from elsewhere). False when
    // memory ran out: nothing is left behind and a later open starts afresh.
    // An open panel is closed first.
    bool open(void* parent, double scale, kv::opamp::PeakHandover* meter = nullptr);
    // Takes the LED's cell back from the audio side (no block writes to it
    // afterwards), withdraws the panel from parameterChanged, then lets the
    // frame go with its views (at once, or when a handler of its own that is
    // still running returns).
    void close();
    bool isOpen() const { return frame_ != nullptr; }
    // The desktop's scale under the open panel changed: it follows unless
    // the host (`hostFactor`, 0 for none) or the user gave a factor.
    void followDesktop(double hostFactor, double desktopFactor);

    // Moves the controls of `index` to `value`, the value the owner stored.
    // Any thread; nothing happens while closed.
    void parameterChanged(int32_t index, float value);
    // Where the audio side raises the peak the LED shows (see
    // brackenlume_peak_led.h); null while closed.
    std::atomic<double>* peakCell() const;

    // The frame's owner: gestures on parameters reach the panel's owner
    // (the decibel fields are not parameters, and a host that looks an
    // index up in its own table must not see them); the rest is passed on.
    // Every gesture that began ends: one still open when the panel closes
    // is ended then, and the frame's late end is not passed on.
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;
    bool modalDrags() const override { return owner_.modalDrags(); }
    void pumpIdle() override;
    bool sizeWindow(int32_t width, int32_t height) override;
    void desktopScaleChanged(double factor) override;

    void valueChanged(VSTGUI::CDrawContext* context, VSTGUI::CControl* control) override;
    // The panel never takes over a modifier click.
    int32_t controlModifierClicked(VSTGUI::CDrawContext*, VSTGUI::CControl*, int32_t) override {
        return 0;
    }

    // The decibel texts of the two fields (dsp/param_info.h): two decimals
    // with a point, whatever the host's locale.
    static void gainToString(float value, char* text);
    static void volumeToString(float value, char* text);

    // The frame and the controls while the window is open (user-interface
    // thread only).
    VSTGUI::CFrame* getFrame() const { return frame_; }
    BrackenlumePeakLed* getPeakLed() const { return peakLed_; }
    BrackenlumeKnob* getGainKnob() const { return gainKnob_; }
    BrackenlumeKnob* getVolumeKnob() const { return volumeKnob_; }
    VSTGUI::COnOffButton* getPad1Button() const { return pad1Button_; }
    VSTGUI::COnOffButton* getPad2Button() const { return pad2Button_; }
    VSTGUI::CTextEdit* getGainText() const { return gainText_; }
    VSTGUI::CTextEdit* getVolumeText() const { return volumeText_; }

  private:
    // Makes the images, the frame in `parent` and its views. Throws
    // std::bad_alloc when memory runs out; what is built so far is then in
    // the arguments (the images still ours, the frame, a view not yet added).
    void buildPanel(void* parent, double scale, VSTGUI::CBitmap* (&images)[4],
                    VSTGUI::CFrame*& newFrame, VSTGUI::CView*& pending);
    // The number a decibel field holds, as the value of parameter `index`.
    void applyTypedText(VSTGUI::CTextEdit* field, int32_t index);
    // The borrowed pointers to the panel's controls, cleared when the panel goes.
    void forgetControls();

    PanelOwner& owner_;
    VSTGUI::CFrame* frame_ = nullptr;           // present while the window is open
    kv::opamp::PeakHandover* meter_ = nullptr;  // the audio side's, while open
    uint32_t openGestures_ = 0;                 // a bit per parameter

    // Borrowed: the frame owns them. Set only while the window is open.
    BrackenlumePeakLed* peakLed_ = nullptr;
    BrackenlumeKnob* gainKnob_ = nullptr;
    BrackenlumeKnob* volumeKnob_ = nullptr;
    VSTGUI::COnOffButton* pad1Button_ = nullptr;
    VSTGUI::COnOffButton* pad2Button_ = nullptr;
    VSTGUI::CTextEdit* gainText_ = nullptr;
    VSTGUI::CTextEdit* volumeText_ = nullptr;

    // The panel as the parameter thread sees it: the frame, published once
    // the panel is complete; parameterChanged moves the controls while it
    // holds it, and close withdraws it before the controls go.
    kv::Handover<VSTGUI::CFrame> shownPanel_;
};

}  // namespace kv::panel
