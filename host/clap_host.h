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
#include <functional>
#include <memory>
#include <mutex>
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
    // Any other call the plug-in made into the host on the main thread
    // ("params.request_flush"), before the host answers it.
    virtual void hostCalled(const char* /*name*/) {}
};

// The descriptor's texts, read once with a bound (a plug-in's strings are
// not trusted to end).
struct ClapDescriptor {
    clap_version_t clapVersion{};
    std::string id, name, vendor, url, version, description;
    std::vector<std::string> features;
    bool featuresNull = false;  // the list itself is null (an empty one ends with a null)
};

// What kv23 accepts of a plug-in before it calls it a fault: more than any
// host lists or could hold is a broken count, not a plug-in to host.
constexpr uint32_t kClapMaxParams = 100000;
constexpr uint32_t kClapMaxPorts = 64;
constexpr uint32_t kClapMaxChannels = 1024;
constexpr uint32_t kClapMaxPlugins = 1024;
constexpr size_t kClapMaxStateBytes = size_t{256} << 20;
constexpr uint32_t kClapMaxEventsPerCall = 1u << 16;

class ClapHost {
  public:
    // Loads `path` and creates the plug-in `id` (empty: the factory's
    // first). On failure returns null and puts one sentence (what went wrong
    // and what to do, naming the plug-in's fault when it is one) into `error`.
    static std::unique_ptr<ClapHost> load(const std::string& path, std::string& error,
                                          const std::string& id = {});
    // The ids of every plug-in the file's factory offers, in its order;
    // empty, with the reason in `error`, when there is none to read.
    static std::vector<std::string> pluginIds(const std::string& path, std::string& error);

    ~ClapHost();
    ClapHost(const ClapHost&) = delete;
    ClapHost& operator=(const ClapHost&) = delete;

    const std::string& path() const { return path_; }
    const ClapDescriptor& descriptor() const { return descriptor_; }
    const clap_plugin_t* plugin() const { return plugin_; }

    // The channels of the main (first) audio port, 0 without one.
    uint32_t inputChannels() const { return channels(true); }
    uint32_t outputChannels() const { return channels(false); }
    // Every audio port as the plug-in describes it (read at load and at
    // each activation); process() gives every one its buffers.
    const std::vector<clap_audio_port_info_t>& ports(bool input) const {
        return ports_[input ? 0 : 1];
    }

    // The first fault kv23 noticed in what the plug-in did after loading
    // (an output event shorter than its type, a flood of events, a state
    // without end), one sentence; empty when none.
    std::string fault() const;
    // Why the last start() answered false: which call refused.
    const std::string& refusal() const { return refusal_; }

    const std::vector<clap_param_info_t>& params() const { return params_; }
    // A parameter by its id or by its name (as typed: "3" or "Volume").
    std::optional<clap_id> findParam(const std::string& idOrName) const;
    const clap_param_info_t* paramInfo(clap_id id) const;
    std::optional<double> value(clap_id id) const;
    std::string valueText(clap_id id, double value) const;

    // plugin.destroy, as a host that removes the plug-in does (also from
    // inside a call the plug-in made); every call afterwards does nothing.
    void destroyPlugin();

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
    // reset(), on the audio thread as CLAP has it: the calling thread counts
    // as the audio thread for the call.
    void reset();

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

    // The plug-in's state; nothing without the extension, when save
    // answers false, or when it writes more than kClapMaxStateBytes (a
    // fault, then).
    std::optional<std::vector<uint8_t>> saveState();
    bool loadState(const std::vector<uint8_t>& bytes) const;

    // A host whose queue is full: every `nth` try_push is refused (0: none).
    void refuseEveryNthPush(uint32_t nth) { refuseNth_ = nth; }
    // The longest single on_timer call since the last clear, in ms.
    double longestTimerMs() const { return longestTimerMs_; }
    void clearTimerStats() { longestTimerMs_ = 0.0; }

  private:
    ClapHost();
    uint32_t channels(bool input) const;
    std::string readPorts();
    void noteFault(const std::string& sentence);
    template <typename T>
    void prepareExtraPorts(uint32_t frames);
    template <typename T>
    bool processAny(T** in, T** out, uint32_t frames, int64_t offset,
                    const std::vector<ClapParamChange>& changes, bool keepOrder);
    std::string readParams();
    bool onMainThread() const;
    void noteMisuse(const char* call);
    bool deliver(const clap_event_header_t* event);

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
    ClapDescriptor descriptor_;
    std::vector<clap_audio_port_info_t> ports_[2];
    // Buffers of the ports after the first (side-chains): silence in,
    // scratch out, in both precisions, sized at activation.
    std::vector<std::vector<float>> extra32_;
    std::vector<std::vector<double>> extra64_;
    std::vector<float*> extraPointers32_;
    std::vector<double*> extraPointers64_;
    std::vector<clap_audio_buffer_t> inBuffers_, outBuffers_;
    std::string refusal_;
    mutable std::mutex faultLock_;
    std::string fault_;  // under faultLock_
    std::atomic<bool> faulted_{false};
    std::atomic<uint32_t> pushes_{0};  // output events of the current call
    std::atomic<uint32_t> refuseNth_{0};
    std::atomic<uint32_t> refusalTicks_{0};
    double longestTimerMs_ = 0.0;
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
