// Multiplies both channels by a gain in dB (-24 to +24, default 0).
#include <cmath>

#include "DistrhoPlugin.hpp"

START_NAMESPACE_DISTRHO

class DpfGainFixture : public Plugin {
  public:
    DpfGainFixture() : Plugin(1, 0, 0) {}

  protected:
    const char* getLabel() const override { return "DpfGainFixture"; }
    const char* getMaker() const override { return "Harrow Quill tests"; }
    const char* getLicense() const override { return "MIT"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    int64_t getUniqueId() const override { return d_cconst('k', 'v', 'D', 'g'); }

    void initParameter(uint32_t, Parameter& parameter) override {
        parameter.hints = kParameterIsAutomatable;
        parameter.name = "Gain";
        parameter.symbol = "gain";
        parameter.unit = "dB";
        parameter.ranges.def = 0.0f;
        parameter.ranges.min = -24.0f;
        parameter.ranges.max = 24.0f;
    }
    float getParameterValue(uint32_t) const override { return gainDb_; }
    void setParameterValue(uint32_t, float value) override { gainDb_ = value; }

    void run(const float** inputs, float** outputs, uint32_t frames) override {
        const float gain = std::pow(10.0f, gainDb_ / 20.0f);
        for (uint32_t c = 0; c < 2; ++c) {
            for (uint32_t i = 0; i < frames; ++i)
                outputs[c][i] = inputs[c][i] * gain;
        }
    }

  private:
    float gainDb_ = 0.0f;
};

Plugin* createPlugin() {
    return new DpfGainFixture();
}

END_NAMESPACE_DISTRHO
