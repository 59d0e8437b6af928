// The panel of KV23-T ZuDiz: a 240 x 400 frame with the two pad switches,
// the gain and volume knobs, a decibel field under each knob and the peak
// LED. The editor lives as long as the effect; the frame and its seven
// controls exist only while the host has the editor window open.
//
// The editor listens to the six user controls and turns their changes into
// parameter changes; the effect calls setParameter on every stored value,
// and the editor moves the controls of that parameter.
//
// Threads. open, close, idle and every control event run on the host's
// user-interface thread. Two other threads reach into the open panel:
// - the audio thread raises the LED's peak through the effect
//   (publishPeak / withdrawPeak), and
// - whatever thread the host sets parameters on calls setParameter, which
//   sets control values (atomic stores).
// Both see the panel only after open has built all of it, and close
// withdraws it from both and waits until neither still holds a control
// before it destroys the frame (handover.h). Neither of them ever waits.
#pragma once

#include <cstdint>

#include "dsp/opamp_params.h"
#include "plugin/aeffguieditor.h"
#include "plugin/handover.h"
#include "vstgui/ccontrol.h"

class BrackenlumeOpamp;
class BrackenlumeKnob;
class BrackenlumePeakLed;
namespace VSTGUI {
class CBitmap;
class CFrame;
class CView;
class COnOffButton;
class CTextEdit;
}  // namespace VSTGUI

class BrackenlumeOpampGUI : public AEffGUIEditor, public VSTGUI::CControlListener {
  public:
    // Control tags: the parameter indices, and the two decibel fields.
    enum Tag : int32_t {
        kGainTag = kv::opamp::kGain,
        kPad1Tag = kv::opamp::kPad1,
        kPad2Tag = kv::opamp::kPad2,
        kVolumeTag = kv::opamp::kVolume
    };
    enum TextTag : int32_t { kGainTextTag = 1001, kVolumeTextTag = 1002 };

    // Registers with the effect (its editor, effFlagsHasEditor) and takes the
    // panel's size from the background image, so the host knows it before
    // the first open.
    explicit BrackenlumeOpampGUI(BrackenlumeOpamp* owner);
    ~BrackenlumeOpampGUI() override;

    // Builds the panel in the host's window `ptr`; always true.
    bool open(void* ptr) override;
    // Withdraws the panel from the audio and parameter threads, then
    // destroys the frame with its views.
    void close() override;
    // Moves the controls of `index` to the effect's stored value (the value
    // argument is not used). Any thread; nothing happens while closed.
    void setParameter(int32_t index, float value) override;

    // The edit bracket of a control reaches the host only for a parameter:
    // the decibel fields (tags 1001 and 1002) are not parameters, and a host
    // that looks the index up in its own table must not see them.
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;

    void valueChanged(VSTGUI::CDrawContext* context, VSTGUI::CControl* control) override;
    // The editor never takes over a modifier click.
    int32_t controlModifierClicked(VSTGUI::CDrawContext*, VSTGUI::CControl*, int32_t) override {
        return 0;
    }

    // The decibel texts of the two fields, on the scales of opamp_params.h,
    // with two decimals and a point, whatever the host's locale.
    static void gainToString(float value, char* text);
    static void volumeToString(float value, char* text);
    // The number at the start of a typed text (a point or a comma before the
    // decimals); false when the text holds no number.
    static bool readDecibels(const char* text, float& number);

    // The controls while the window is open (user-interface thread only).
    BrackenlumePeakLed* getPeakLed() const { return peakLed; }
    BrackenlumeKnob* getGainKnob() const { return gainKnob; }
    BrackenlumeKnob* getVolumeKnob() const { return volumeKnob; }
    VSTGUI::COnOffButton* getPad1Button() const { return pad1Button; }
    VSTGUI::COnOffButton* getPad2Button() const { return pad2Button; }
    VSTGUI::CTextEdit* getGainText() const { return gainText; }
    VSTGUI::CTextEdit* getVolumeText() const { return volumeText; }

  private:
    // Makes the images, the frame in `ptr` and its views. Throws
    // std::bad_alloc when memory runs out; what is built so far is then in
    // the arguments (the images still ours, the frame, a view not yet added).
    void buildPanel(void* ptr, VSTGUI::CBitmap* (&images)[4], VSTGUI::CFrame*& newFrame,
                    VSTGUI::CView*& pending);
    // The number a decibel field holds, as a parameter value on its scale.
    void applyTypedText(VSTGUI::CTextEdit* field, int32_t index,
                        const kv::opamp::DecibelScale& scale);
    // The borrowed pointers to the panel's controls, cleared when the panel goes.
    void forgetControls();

    BrackenlumeOpamp* opamp = nullptr;

    // Borrowed: the frame owns them. Set only while the window is open.
    BrackenlumePeakLed* peakLed = nullptr;
    BrackenlumeKnob* gainKnob = nullptr;
    BrackenlumeKnob* volumeKnob = nullptr;
    VSTGUI::COnOffButton* pad1Button = nullptr;
    VSTGUI::COnOffButton* pad2Button = nullptr;
    VSTGUI::CTextEdit* gainText = nullptr;
    VSTGUI::CTextEdit* volumeText = nullptr;

    // The panel as the parameter thread sees it: the frame, published once
    // the panel is complete; setParameter moves the controls while it holds
    // it, and close withdraws it before the controls go.
    kv::Handover<VSTGUI::CFrame> shownPanel;
};
