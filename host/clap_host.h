// Loading a CLAP plug-in file and driving one instance of it the way a DAW
// does: dlopen, clap_entry, the plug-in factory, then only the plug-in's own
// calls and extensions. kv23's commands meet a .clap file through this
// class, as they meet a VST 2 file through Vst2Host.
//
// Lifetime: load() creates and initialises the instance; the destructor
// deactivates and destroys it, deinitialises the entry and only then
// unloads the library.
//
// Each instance has its own clap_host_t (host_data is the ClapHost) offering
// gui, timer-support, params, thread-check and latency. The main thread is the one
// that loaded the plug-in; the audio thread is whichever thread is inside
// process (or start/stop_processing). What must happen on the main thread
// (timers, a requested flush, on_main_thread) happens in idle(), which the
// command's loop calls; what the plug-in says (output events, gui requests)
// reaches the command through a ClapHostListener.
#pragma once

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
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

// What a plug-in tells its host, as a kv23 command hears it. Output events
// come on the thread that called process or flush; the gui requests on the
// main thread (one made elsewhere is delivered by the next idle()).
class ClapHostListener {
  public:
    virtual ~ClapHostListener() = default;
    virtual void outputEvent(const clap_event_header_t& /*event*/) {}
    // Whether the host gives the window the new size.
    virtual bool requestResize(uint32_t /*width*/, uint32_t /*height*/) { return false; }
    virtual bool requestShow() { return false; }
    virtual bool requestHide() { return false; }
    virtual void guiClosed(bool /*wasDestroyed*/) {}
    virtual void resizeHintsChanged() {}
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
    // The four steps alone, for a host whose audio thread is another
    // thread: activate and deactivate on the main thread, the processing
    // calls on the audio thread.
    bool activate(double rate, uint32_t maxFrames);
    bool startProcessing();
    void stopProcessing();
    void deactivate();
    bool active() const { return active_; }

    // Sets parameter values while not processing, through params.flush with
    // the values as input events (a host's automation or a typed value);
    // the plug-in's output events go to the listener. False without a flush.
    // While active the flush belongs on the audio thread: the caller makes
    // sure no other thread is in process, and the calling thread counts as
    // the audio thread for the call.
    bool flush(const std::vector<ClapParamChange>& changes = {});

    // The plug-in's gui and timer-support extensions, or null.
    const clap_plugin_gui_t* gui() const { return guiExt_; }
    void setListener(ClapHostListener* listener) { listener_ = listener; }

    // The main thread's share of the work: fires the timers that are due,
    // flushes when the plug-in asked for it and is not active, delivers
    // requests made off the main thread and calls on_main_thread when
    // asked. Answers the milliseconds until the next timer is due.
    int idle();
    // Every registered timer at once, due or not (a test's "one tick").
    void fireTimers();
    // idle() with every timer due: one tick of a host's idle, as a VST 2
    // host's effEditIdle is one.
    int tick();
    size_t timerCount() const { return timers_.size(); }
    // The first host call the plug-in made on a thread CLAP forbids for it
    // ("timer-support.register_timer off the main thread"), or empty.
    std::string misuse() const;

    // Runs `frames` frames: `in` and `out` hold the main ports' channels.
    // `changes` inside the block are given as events at their frame
    // relative to `offset` (the frame of the block's start in the whole
    // render), sorted by time as CLAP asks, or in the order given with
    // `keepOrder` (what a broken host sends). False when the plug-in
    // answered CLAP_PROCESS_ERROR.
    bool process(float** in, float** out, uint32_t frames, int64_t offset,
                 const std::vector<ClapParamChange>& changes, bool keepOrder = false);
    // The same in 64 bits (data64), for a plug-in whose main ports say
    // CLAP_AUDIO_PORT_SUPPORTS_64BITS.
    bool process(double** in, double** out, uint32_t frames, int64_t offset,
                 const std::vector<ClapParamChange>& changes, bool keepOrder = false);
    bool supports64() const;

    std::optional<std::vector<uint8_t>> saveState() const;
    bool loadState(const std::vector<uint8_t>& bytes) const;

  private:
    ClapHost();
    uint32_t channels(bool input) const;
    template <typename T>
    bool processAny(T** in, T** out, uint32_t frames, int64_t offset,
                    const std::vector<ClapParamChange>& changes, bool keepOrder);
    void readParams();
    bool onMainThread() const;
    void noteMisuse(const char* call);
    void deliver(const clap_event_header_t& event);

    struct Timer {
        clap_id id;
        uint32_t periodMs;
        std::chrono::steady_clock::time_point next;
    };
    // The host record and its extensions' callbacks, which find the
    // ClapHost through host_data.
    struct Callbacks;

    std::string path_;
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    bool entryInitialised_ = false;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* paramsExt_ = nullptr;
    const clap_plugin_audio_ports_t* portsExt_ = nullptr;
    const clap_plugin_state_t* stateExt_ = nullptr;
    const clap_plugin_gui_t* guiExt_ = nullptr;
    const clap_plugin_timer_support_t* timerExt_ = nullptr;
    std::vector<clap_param_info_t> params_;
    bool active_ = false;
    bool processing_ = false;
    int64_t steadyTime_ = 0;

    clap_host_t host_{};
    clap_output_events_t output_{};
    ClapHostListener* listener_ = nullptr;
    std::thread::id mainThread_;
    std::vector<Timer> timers_;
    clap_id nextTimer_ = 1;
    std::atomic<bool> flushRequested_{false};
    std::atomic<bool> callbackRequested_{false};
    // A resize asked for off the main thread (width << 32 | height), 0: none.
    std::atomic<uint64_t> pendingResize_{0};
    std::atomic<const char*> misuse_{nullptr};  // the first only
};

}  // namespace kv::host
