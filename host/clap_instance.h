// A CLAP plug-in behind the plug-in instance interface, over ClapHost.
// Values are the parameters' plain values; a value set while the plug-in
// is active reaches it as an event through params.flush on the audio side
// (never beside a running process call), one set while inactive through a
// flush on the main thread; changes inside a block are events at their frame.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/clap_host.h"
#include "host/plugin_instance.h"

namespace kv::host {

class ClapInstance final : public PluginInstance, private ClapHostListener {
  public:
    explicit ClapInstance(std::unique_ptr<ClapHost> host);
    ~ClapInstance() override;

    // The format's own calls, for the checks of CLAP's rules.
    ClapHost& clap() { return *host_; }

    const std::string& path() const override { return host_->path(); }
    PluginIdentity identity() const override;
    Capabilities capabilities() const override;
    int inputs() const override { return static_cast<int>(host_->inputChannels()); }
    int outputs() const override { return static_cast<int>(host_->outputChannels()); }

    const std::vector<ParameterInfo>& parameters() const override { return params_; }
    void setValue(uint32_t index, double value) override;
    double value(uint32_t index) override;
    std::optional<std::string> valueText(uint32_t index, double value) override;
    std::optional<double> textToValue(uint32_t index, const std::string& text) override;

    bool start(double rate, uint32_t maxFrames) override;
    std::string refusal() const override { return host_->refusal(); }
    std::string fault() const override { return host_->fault(); }
    void stop() override;
    bool running() const override { return host_->active(); }
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
    bool editorOpen() const override { return created_; }
    void closeEditor() override;
    void closeInstance() override;
    std::vector<std::string> actingCalls() const override;

  private:
    template <typename T>
    bool processAny(T** in, T** out, uint32_t frames, std::span<const ParamChange> changes);
    const std::vector<ClapParamChange>& eventsFor(std::span<const ParamChange> changes);
    std::optional<uint32_t> indexOf(clap_id id) const;

    // ClapHostListener: what the plug-in says, as the interface's listener hears it.
    void outputEvent(const clap_event_header_t& event) override;
    bool requestResize(uint32_t width, uint32_t height) override;
    void hostCalled(const char* name) override;

    std::unique_ptr<ClapHost> host_;
    std::vector<ParameterInfo> params_;
    const clap_plugin_gui_t* gui_ = nullptr;
    bool created_ = false;
    // Held by process and by a flush while active: CLAP has one audio
    // thread, and the host's other threads hand their values to it here.
    std::mutex audio_;
    std::vector<ClapParamChange> pending_;  // values for the next block
    std::vector<ClapParamChange> block_;    // the block's events (reused)
};

}  // namespace kv::host
