#include "vst2/brackenlume_opamp.h"

#include <cmath>
#include <cstring>
#include <new>

#include "common/identity.h"
#include "dsp/opamp_run.h"
#include "dsp/param_info.h"

namespace {

using kv::opamp::kNumParams;

// The VST 2 build's unit labels, in index order; names, defaults and every
// other rule of a parameter are the shared table's (dsp/param_info.h).
constexpr const char* kLabels[kNumParams] = {"dB", "n/y", "n/y", "dB"};

}  // namespace

BrackenlumeOpamp::BrackenlumeOpamp(audioMasterCallback host) : BrackenlumeFX(host, kNumParams) {
    for (int32_t i = 0; i < paramCount; ++i) {
        params[i].name = kv::opamp::kParamInfo[i].name;
        params[i].label = kLabels[i];
        params[i].value.store(kv::opamp::kParamInfo[i].defaultValue, std::memory_order_relaxed);
    }
    setUniqueID(kv::identity::kVst2UniqueId);
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing();
    programsAreChunks();
    canDoubleReplacing();

    // EDITOR: the panel editor is created here, as the last step, with this
    // effect as its argument. Its constructor registers itself with
    // setEditor() and adds effFlagsHasEditor. If it cannot be allocated the
    // effect simply runs without one (all editor opcodes answer 0).
    createOpampEditor(this);
}

BrackenlumeOpamp::~BrackenlumeOpamp() {
    // The editor goes first, while the parameter table and the meter
    // hand-over it may still reach are alive (the base class would
    // delete it only after both are gone).
    deleteEditor();
}

namespace {
// The codes hosts use to hand an editor their scale factor.
constexpr int32_t kScaleIndex = kvFourCC('P', 'r', 'e', 'S');
constexpr intptr_t kScaleValue = kvFourCC('A', 'e', 'C', 's');
}  // namespace

int32_t BrackenlumeOpamp::canDo(const char* text) {
    if (text && editor && std::strcmp(text, "supportsViewDpiScaling") == 0) return 1;
    return BrackenlumeFX::canDo(text);
}

intptr_t BrackenlumeOpamp::vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) {
    if (index == kScaleIndex && value == kScaleValue)
        return setOpampEditorScale(editor, opt) ? 1 : 0;
    return BrackenlumeFX::vendorSpecific(index, value, ptr, opt);
}

bool BrackenlumeOpamp::getEffectName(char* name) {
    if (!name) return false;
    kv::copyLimited(name, kv::identity::kName, kVstMaxEffectNameLen);
    return true;
}

bool BrackenlumeOpamp::getProductString(char* text) {
    if (!text) return false;
    kv::copyLimited(text, kv::identity::kName, kVstMaxProductStrLen);
    return true;
}

void BrackenlumeOpamp::sampleRateChanged(float rate) {
    // A rate the model cannot run at keeps the previous coefficients.
    kv::opamp::setSampleRate(state, rate);
}

void BrackenlumeOpamp::publishPeak(std::atomic<double>* peak) noexcept {
    peak_.publish(peak);
}

void BrackenlumeOpamp::withdrawPeak() noexcept {
    peak_.withdraw();
}

template <typename Sample>
void BrackenlumeOpamp::processBlock(Sample** inputs, Sample** outputs, int32_t sampleFrames) {
    // Each value is read once per block: a change during the block takes
    // effect with the next one.
    using namespace kv::opamp;
    const Controls k = controlsFor(state, value(kGain), value(kPad1), value(kPad2), value(kVolume));
    // METER: the editor's LED, present only while its window is open; the
    // meter value is computed only then. With the window closed this costs
    // one plain load. The editor's close (withdrawPeak) waits for a block
    // that holds the LED's cell before it destroys the LED. A block of no
    // frames only moves the sign of the bias.
    const int32_t frames = sampleFrames > 0 ? sampleFrames : 0;
    const bool live = frames > 0;
    kv::opamp::runBlockToPeak<Sample>(peak_, state, k, isMono(), live ? inputs[0] : nullptr,
                                      live ? inputs[1] : nullptr, live ? outputs[0] : nullptr,
                                      live ? outputs[1] : nullptr, frames);
}

void BrackenlumeOpamp::processReplacing(float** inputs, float** outputs, int32_t sampleFrames) {
    processBlock(inputs, outputs, sampleFrames);
}

void BrackenlumeOpamp::processDoubleReplacing(double** inputs, double** outputs,
                                              int32_t sampleFrames) {
    processBlock(inputs, outputs, sampleFrames);
}

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    // The effect's own allocations throw (its parameter table, say); only
    // the editor's are allowed to fail without failing the instance.
    try {
        return new (std::nothrow) BrackenlumeOpamp(audioMaster);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
