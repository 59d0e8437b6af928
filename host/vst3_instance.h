// A VST3 plug-in behind the plug-in instance interface, over Vst3Host.
// Values are the parameters' plain values, converted through the
// plug-in's controller. A value the host sets reaches the controller at
// once (from the main thread; from another thread at the next idle) and
// the processor as a point at the next block's first frame, as VST3 hosts
// send values; a change inside a block is a point at its frame.
//
// Saving the state first flushes the values the processor has not heard
// yet (a block of no frames; they go again with the next block), and
// loading one drops them.
//
// VST3 fixes the sample size when processing is set up: start() sets up
// 32 bits when the plug-in takes them, and a first block of 64 bits sets
// processing up again for them (before any block, nothing is lost). A
// later block of the other size is converted to the size set up and back,
// as hosts bridge a track of the other precision.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/plugin_instance.h"
#include "host/vst3_host.h"

namespace kv::host {

class Vst3Instance final : public PluginInstance, private vst3::HostEvents {
  public:
    explicit Vst3Instance(std::unique_ptr<Vst3Host> host);
    ~Vst3Instance() override;

    // The format's own calls, for the checks of VST3's rules.
    Vst3Host& vst3() { return *host_; }

    const std::string& path() const override { return host_->path(); }
    PluginIdentity identity() const override;
    Capabilities capabilities() const override;
    int inputs() const override { return static_cast<int>(host_->mainChannels(true)); }
    int outputs() const override { return static_cast<int>(host_->mainChannels(false)); }

    const std::vector<ParameterInfo>& parameters() const override { return params_; }
    void setValue(uint32_t index, double value) override;
    double value(uint32_t index) override;
    std::optional<std::string> valueText(uint32_t index, double value) override;
    std::optional<double> textToValue(uint32_t index, const std::string& text) override;

    bool start(double rate, uint32_t maxFrames) override;
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
    bool editorOpen() const override { return host_->viewOpen(); }
    void closeEditor() override { host_->closeView(); }
    void closeInstance() override;
    std::vector<std::string> actingCalls() const override;

  private:
    template <typename T>
    bool processAny(T** in, T** out, uint32_t frames, std::span<const ParamChange> changes);
    // A block of the size not set up, through the scratch buffers.
    template <typename T, typename U>
    bool convert(T** in, T** out, uint32_t frames);
    bool ensureSampleSize(int32_t size);
    // Sends the points not yet sent in a block of no frames.
    void flushPoints();
    std::optional<uint32_t> indexOf(v3_param_id id) const;
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }

    // HostEvents: the plug-in's edits and requests, as the listener hears them.
    void beginEdit(v3_param_id id) override;
    void performEdit(v3_param_id id, double normalised) override;
    void endEdit(v3_param_id id) override;
    void restartComponent(int32_t flags) override;
    bool resizeView(v3_plugin_view** view, const v3_view_rect& rect) override;
    void note(const std::string& line) override;

    std::unique_ptr<Vst3Host> host_;
    std::vector<ParameterInfo> params_;
    std::thread::id mainThread_;
    std::atomic<bool> closed_{false};  // closeInstance() has ended the plug-in's faces
    bool processed_ = false;           // a block since start()
    // Held by process and by whoever hands values to it: one audio thread
    // at a time, and values set elsewhere wait here for its next block.
    std::mutex audio_;
    std::vector<Vst3Point> pending_;     // for the processor's next block
    std::vector<Vst3Point> controller_;  // set off the main thread, for idle()
    std::vector<Vst3Point> block_;       // the block's points (reused)
    // Buffers of either size for a block of the other, made at start.
    std::vector<std::vector<float>> scratch32_;
    std::vector<std::vector<double>> scratch64_;
    std::vector<float*> in32_, out32_;
    std::vector<double*> in64_, out64_;
};

}  // namespace kv::host
