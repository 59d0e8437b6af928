// A VST 2 plug-in behind the plug-in instance interface, over Vst2Host.
// What VST 2 cannot say is said as such: parameters are 0 to 1 with no
// default but the value the instance starts with, texts exist only for the
// current value, and a change inside a block takes effect before the block.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/plugin_instance.h"
#include "host/vst2_host.h"

namespace kv::host {

class Vst2Instance final : public PluginInstance {
  public:
    // Takes a loaded host, sends effOpen and reads the parameters.
    explicit Vst2Instance(std::unique_ptr<Vst2Host> host);
    ~Vst2Instance() override;

    // The format's own calls, for the checks of VST 2's rules.
    Vst2Host& vst2() { return *host_; }

    const std::string& path() const override { return host_->path(); }
    PluginIdentity identity() const override;
    Capabilities capabilities() const override;
    int inputs() const override { return host_->numInputs(); }
    int outputs() const override { return host_->numOutputs(); }

    const std::vector<ParameterInfo>& parameters() const override { return params_; }
    void setValue(uint32_t index, double value) override;
    double value(uint32_t index) override;
    std::optional<std::string> valueText(uint32_t index, double value) override;
    std::optional<double> textToValue(uint32_t index, const std::string& text) override;

    bool start(double rate, uint32_t maxFrames) override;
    std::string fault() const override { return host_->fault(); }
    void stop() override;
    bool running() const override { return host_->running(); }
    bool process(float** in, float** out, uint32_t frames,
                 std::span<const ParamChange> changes) override;
    bool process(double** in, double** out, uint32_t frames,
                 std::span<const ParamChange> changes) override;

    std::optional<std::vector<uint8_t>> saveState() override;
    bool loadState(std::span<const uint8_t> bytes) override;

    bool openEditor(unsigned long parent, double scale) override;
    bool editorSize(int& width, int& height) override;
    bool setEditorScale(double scale) override;
    void idle() override;
    bool editorOpen() const override { return editorOpen_; }
    void closeEditor() override;
    void closeInstance() override;
    std::vector<std::string> actingCalls() const override;

  private:
    void applyBefore(std::span<const ParamChange> changes);
    std::optional<intptr_t> heard(const HostCall& call);

    std::unique_ptr<Vst2Host> host_;
    std::vector<ParameterInfo> params_;
    bool editorOpen_ = false;
};

}  // namespace kv::host
