// The VST 2 editor of KV23-T ZuDiz: shows the op-amp panel
// (panel/opamp_panel.h) in the host's window and is the panel's owner. The
// editor lives as long as the effect; the panel's frame exists only while
// the host has the editor window open.
//
// The panel's changes become the effect's parameter changes (automated for
// gestures, plain for typed values); the effect calls setParameter on every
// stored value, and the editor hands it to the panel. The LED's peak cell
// goes to the effect's audio side after open and comes back before close.
//
// Threads. open, close, idle and every control event run on the host's
// user-interface thread; setParameter may come on any thread (the panel's
// parameterChanged handles that).
#pragma once

#include <cstdint>

#include "panel/opamp_panel.h"
#include "panel/panel_owner.h"
#include "vst2/aeffguieditor.h"

class BrackenlumeOpamp;
class BrackenlumeKnob;
class BrackenlumePeakLed;
namespace VSTGUI {
class COnOffButton;
class CTextEdit;
}  // namespace VSTGUI

class BrackenlumeOpampGUI : public AEffGUIEditor, public kv::panel::PanelOwner {
  public:
    using Panel = kv::panel::OpampPanel;
    // Control tags: the parameter indices, and the two decibel fields.
    enum Tag : int32_t {
        kGainTag = Panel::kGainTag,
        kPad1Tag = Panel::kPad1Tag,
        kPad2Tag = Panel::kPad2Tag,
        kVolumeTag = Panel::kVolumeTag
    };
    enum TextTag : int32_t {
        kGainTextTag = Panel::kGainTextTag,
        kVolumeTextTag = Panel::kVolumeTextTag
    };

    // Registers with the effect (its editor, effFlagsHasEditor) and takes the
    // panel's size, so the host knows it before the first open.
    explicit BrackenlumeOpampGUI(BrackenlumeOpamp* owner);
    ~BrackenlumeOpampGUI() override;

    // Builds the panel in the host's window `ptr`; false (and nothing left
    // behind) when memory runs out.
    bool open(void* ptr) override;
    // Withdraws the LED from processing and the panel from the parameter
    // threads, then lets the frame go with its views.
    void close() override;
    // Moves the controls of `index` to the effect's stored value (the value
    // argument is not used). Any thread; nothing happens while closed.
    void setParameter(int32_t index, float value) override;

    // The panel's owner.
    float parameterValue(int32_t index) override;
    void changeParameter(int32_t index, float value, bool automate) override;
    void beginGesture(int32_t index) override;
    void endGesture(int32_t index) override;
    // VST 2 hosts expect a control to keep the mouse inside their call.
    bool modalDrags() const override { return true; }
    void runHost() override;
    bool resizeHostWindow(int32_t width, int32_t height) override;
    void followDesktopScale(double factor) override;

    // The decibel texts of the two fields (see OpampPanel).
    static void gainToString(float value, char* text) { Panel::gainToString(value, text); }
    static void volumeToString(float value, char* text) { Panel::volumeToString(value, text); }
    // The number at the start of a typed text (a point or a comma before the
    // decimals); false when the text holds no number.
    static bool readDecibels(const char* text, float& number);

    // The panel and its controls while the window is open (user-interface
    // thread only).
    const Panel& getPanel() const { return panel; }
    BrackenlumePeakLed* getPeakLed() const { return panel.getPeakLed(); }
    BrackenlumeKnob* getGainKnob() const { return panel.getGainKnob(); }
    BrackenlumeKnob* getVolumeKnob() const { return panel.getVolumeKnob(); }
    VSTGUI::COnOffButton* getPad1Button() const { return panel.getPad1Button(); }
    VSTGUI::COnOffButton* getPad2Button() const { return panel.getPad2Button(); }
    VSTGUI::CTextEdit* getGainText() const { return panel.getGainText(); }
    VSTGUI::CTextEdit* getVolumeText() const { return panel.getVolumeText(); }

  private:
    BrackenlumeOpamp* opamp = nullptr;
    Panel panel{*this};
};
