#include "vst2/brackenlume_opamp.h"

#include <cmath>
#include <cstring>
#include <new>

#include "common/peak_cell.h"

namespace {

struct ParamDefault {
    const char* name;
    const char* label;
    float value;
};

using kv::opamp::kNumParams;

// In the order of the indices (opamp_params.h, which also has the scales).
constexpr ParamDefault kParams[kNumParams] = {
    {"Gain", "dB", kv::opamp::kGainDefault},
    {"Pad 1", "n/y", 0.0f},
    {"Pad 2", "n/y", 0.0f},
    {"Volume", "dB", kv::opamp::kVolumeDefault},
};

constexpr const char* kName = "KV23-T ZuDiz";

}  // namespace

BrackenlumeOpamp::BrackenlumeOpamp(audioMasterCallback host) : BrackenlumeFX(host, kNumParams) {
    for (int32_t i = 0; i < paramCount; ++i) {
        params[i].name = kParams[i].name;
        params[i].label = kParams[i].label;
        params[i].value.store(kParams[i].value, std::memory_order_relaxed);
    }
    setUniqueID(kvFourCC('K', 'V', '2', '3'));
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
    kv::copyLimited(name, kName, kVstMaxEffectNameLen);
    return true;
}

bool BrackenlumeOpamp::getProductString(char* text) {
    if (!text) return false;
    kv::copyLimited(text, kName, kVstMaxProductStrLen);
    return true;
}

void BrackenlumeOpamp::sampleRateChanged(float rate) {
    // The 15 Hz cut-off needs a Nyquist frequency above it: at 30 Hz or
    // less (and for 0, negative or NaN rates) the filter would be unstable,
    // and an infinite rate gives coefficients that make every output NaN;
    // the previous coefficients stay.
    if (std::isfinite(rate) && rate > 30.0f) kv::opamp::setHighPass(state, rate);
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
    const bool isMonoNow = isMono();
    if (sampleFrames <= 0) {
        // Only the sign of the bias moves.
        kv::opamp::runBlock<Sample, false>(state, k, isMonoNow, nullptr, nullptr, nullptr, nullptr,
                                           0);
        return;
    }
    // METER: the editor's LED, present only while its window is open; the
    // meter value is computed only then. With the window closed this costs
    // one plain load. The editor's close (withdrawPeak) waits for a block
    // that holds the LED's cell before it destroys the LED.
    const auto peak = peak_.hold();
    if (!peak) {
        kv::opamp::runBlock<Sample, false>(state, k, isMonoNow, inputs[0], inputs[1], outputs[0],
                                           outputs[1], sampleFrames);
        return;
    }
    const double meter = kv::opamp::runBlock<Sample, true>(
        state, k, isMonoNow, inputs[0], inputs[1], outputs[0], outputs[1], sampleFrames);
    raisePeakCell(*peak.get(), meter);
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
