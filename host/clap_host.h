// Loading a CLAP plug-in file and driving one instance of it the way a DAW
// does: dlopen, clap_entry, the plug-in factory, then only the plug-in's own
// calls and extensions. kv23's commands meet a .clap file through this
// class, as they meet a VST 2 file through PluginHost.
//
// Lifetime: load() creates and initialises the instance; the destructor
// deactivates and destroys it, deinitialises the entry and only then
// unloads the library.
#pragma once

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::host {

// Whether `path` names a CLAP plug-in file (by its extension).
bool isClapFile(const std::string& path);

// A parameter value at a sample of the whole render.
struct ClapParamChange {
    int64_t frame = 0;
    clap_id id = 0;
    double value = 0.0;
};

class ClapHost {
  public:
    // Loads `path` and creates its first plug-in. On failure returns null and
    // puts one sentence (what went wrong and what to do) into `error`.
    static std::unique_ptr<ClapHost> load(const std::string& path, std::string& error);

    ~ClapHost();
    ClapHost(const ClapHost&) = delete;
    ClapHost& operator=(const ClapHost&) = delete;

    const std::string& path() const { return path_; }
    const clap_plugin_descriptor_t& descriptor() const { return *plugin_->desc; }
    const clap_plugin_t* plugin() const { return plugin_; }

    // The channels of the main (first) audio port, 0 without one.
    uint32_t inputChannels() const { return channels(true); }
    uint32_t outputChannels() const { return channels(false); }

    const std::vector<clap_param_info_t>& params() const { return params_; }
    // A parameter by its id or by its name (as typed: "3" or "Volume").
    std::optional<clap_id> findParam(const std::string& idOrName) const;
    const clap_param_info_t* paramInfo(clap_id id) const;
    std::optional<double> value(clap_id id) const;
    std::string valueText(clap_id id, double value) const;

    // activate + start_processing, and their reverse.
    bool start(double rate, uint32_t maxFrames);
    void stop();

    // Runs `frames` frames: `in` and `out` hold the main ports' channels.
    // `changes` inside the block are given as events at their frame
    // relative to `offset` (the frame of the block's start in the whole
    // render), sorted by time as CLAP asks, or in the order given with
    // `keepOrder` (what a broken host sends). False when the plug-in
    // answered CLAP_PROCESS_ERROR.
    bool process(float** in, float** out, uint32_t frames, int64_t offset,
                 const std::vector<ClapParamChange>& changes, bool keepOrder = false);

    std::optional<std::vector<uint8_t>> saveState() const;
    bool loadState(const std::vector<uint8_t>& bytes) const;

  private:
    ClapHost() = default;
    uint32_t channels(bool input) const;

    std::string path_;
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    bool entryInitialised_ = false;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* paramsExt_ = nullptr;
    const clap_plugin_audio_ports_t* portsExt_ = nullptr;
    const clap_plugin_state_t* stateExt_ = nullptr;
    std::vector<clap_param_info_t> params_;
    bool active_ = false;
    int64_t steadyTime_ = 0;
};

}  // namespace kv::host
