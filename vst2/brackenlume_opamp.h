// KV23-T ZuDiz: the op-amp drive stage. Fills the parameter table, sets the
// plug-in's identity and runs the model of opamp_kernel.h on 32-bit or
// 64-bit buffers with one shared state, so a host may switch precision
// from one block to the next.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/handover.h"
#include "common/identity.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_params.h"
#include "dsp/opamp_run.h"
#include "vst2/brackenlume_fx.h"

class BrackenlumeOpamp : public BrackenlumeFX {
  public:
    explicit BrackenlumeOpamp(audioMasterCallback host);
    ~BrackenlumeOpamp() override;

    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs, int32_t sampleFrames) override;

    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override { return kv::identity::kVst2VendorVersion; }
    int32_t getPlugCategory() override { return kPlugCategEffect; }
    void sampleRateChanged(float rate) override;
    // "supportsViewDpiScaling" while there is an editor: the host may then
    // send its scale factor, which vendorSpecific ('PreS', 'AeCs', the
    // factor in opt) hands to the editor. Everything else as the base.
    int32_t canDo(const char* text) override;
    intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) override;

    // The meter hand-over to the editor's peak LED. The editor publishes the
    // LED's peak cell once its panel is complete; from then on every block
    // raises it to the block's largest meter value. withdrawPeak takes it
    // back and returns only when no processing call still holds it, so the
    // editor may destroy the LED right after (handover.h). Both run on the
    // editor's thread; processing never waits.
    void publishPeak(std::atomic<double>* peak) noexcept;
    void withdrawPeak() noexcept;
    // The hand-over itself, which the editor's panel publishes into.
    kv::opamp::PeakHandover& peakHandover() noexcept { return peak_; }

    const kv::opamp::State& processorState() const { return state; }

  protected:
    kv::opamp::State state;

  private:
    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, int32_t sampleFrames);

    kv::opamp::PeakHandover peak_;
};

// Creates the effect's panel editor, which registers itself with the effect;
// null when it cannot be allocated. Each program links exactly one
// definition: the panel (brackenlume_opamp_gui.cpp) or none
// (opamp_no_editor.cpp).
AEffEditor* createOpampEditor(BrackenlumeOpamp* effect);
// Hands the host's scale factor to the editor that createOpampEditor made;
// false when there is none.
bool setOpampEditorScale(AEffEditor* editor, float factor);
