// Loading a VST3 module and driving one instance of its first effect class
// the way a DAW does (Ardour's order): the bundle's module for this system,
// ModuleEntry, GetPluginFactory, the class whose category is "Audio Module
// Class", its component (initialised with our host application), the audio
// processor asked of it, and the edit controller: the same object when the
// component answers IEditController, else the class the component names,
// created and initialised apart and joined to the component through both
// connection points. The controller gets our component handler; the view
// our frame, whose run loop idle() drives.
//
// Lifetime: the destructor stops processing, closes the view, disconnects,
// terminates the controller and the component, releases every interface,
// the factory, then calls ModuleExit and unloads the module.
//
// Threads: everything but process() belongs to the thread that loaded the
// instance (VST3's UI thread); process() to one audio thread at a time.
#pragma once

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/view.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/vst3_objects.h"

namespace kv::host {

// Whether `path` names a VST3 bundle folder or a module inside one (by
// its extension, or by a bundle folder above it).
bool isVst3Path(const std::string& path);
// The module of a bundle for this system (Contents/x86_64-linux/NAME.so),
// or `path` itself when it is not a folder.
std::string vst3ModulePath(const std::string& path);

struct Vst3ParamInfo {
    v3_param_id id = 0;
    std::string title;
    std::string units;
    int32_t stepCount = 0;
    double defaultNormalised = 0.0;
    int32_t flags = 0;
};

// A parameter point of one block: its frame and the normalised value.
struct Vst3Point {
    int32_t offset = 0;
    v3_param_id id = 0;
    double normalised = 0.0;
};

// The class and factory records as the host read them.
struct Vst3ClassRecord {
    std::string name;
    std::string vendor;
    std::string version;
    std::string sdkVersion;
    std::string subCategories;
    std::string cid;  // the class id as hosts print it: 32 hex digits
    std::string factoryVendor;
    int classCount = 0;
};

struct Vst3Options {
    FILE* trace = nullptr;  // every call the plug-in makes into the host
    bool runLoop = true;    // false: a host whose frame offers no IRunLoop
};

class Vst3Host : private vst3::HostEvents {
  public:
    // Loads `path` (a bundle or its module) and makes its first effect.
    // On failure returns null and puts one sentence into `error`.
    static std::unique_ptr<Vst3Host> load(const std::string& path, std::string& error,
                                          const Vst3Options& options = Vst3Options());
    ~Vst3Host() override;
    // The instance's end as a host that removes the plug-in: the view
    // closed, processing stopped, both faces terminated and released. The
    // module stays loaded; the faces read null afterwards.
    void endInstance();
    Vst3Host(const Vst3Host&) = delete;
    Vst3Host& operator=(const Vst3Host&) = delete;

    const std::string& path() const { return path_; }
    const std::string& modulePath() const { return module_; }
    const Vst3ClassRecord& record() const { return record_; }

    // The plug-in's faces (for the vst3 checks' own calls).
    v3_component** component() const { return component_; }
    v3_audio_processor** processor() const { return processor_; }
    v3_edit_controller** controller() const { return controller_; }
    bool separateController() const { return separate_; }
    vst3::HostServices& services();
    std::shared_ptr<vst3::HostServices> sharedServices() {
        services();
        return services_;
    }
    v3_plugin_factory_cpp** factory() const { return factory_; }
    // The module's GetPluginFactory again (a host asks it more than once).
    void* moduleSymbol(const char* name) const;

    // The audio buses (v3_bus_info per direction) and the main ones' channels.
    const std::vector<v3_bus_info>& buses(bool input) const { return input ? inBuses_ : outBuses_; }
    uint32_t mainChannels(bool input) const;

    const std::vector<Vst3ParamInfo>& params() const { return params_; }
    // The controller's values (the processor hears values only as points).
    double normalised(v3_param_id id) const;
    void setNormalised(v3_param_id id, double value);
    double plainOf(v3_param_id id, double normalised) const;
    double normalisedOf(v3_param_id id, double plain) const;
    std::optional<std::string> text(v3_param_id id, double normalised) const;
    std::optional<double> fromText(v3_param_id id, const std::string& text) const;

    // setup_processing, set_active(1), set_processing(1) as hosts order
    // them; stop() the reverse. `sampleSize` is V3_SAMPLE_32 or _64.
    bool canProcess(int32_t sampleSize) const;
    bool setup(double rate, uint32_t maxFrames, int32_t sampleSize, int32_t mode = V3_REALTIME);
    bool setActive(bool active);
    bool setProcessing(bool processing);
    bool start(double rate, uint32_t maxFrames, int32_t sampleSize);
    void stop();
    bool active() const { return active_; }
    bool processing() const { return processing_; }
    int32_t sampleSize() const { return sampleSize_; }
    double rate() const { return rate_; }
    uint32_t maxFrames() const { return maxFrames_; }
    uint32_t latency() const;

    // One block with `points` (sorted by offset) on the audio thread; the
    // main buses get `in` and `out`, any other bus silence. Answers the
    // plug-in's result (V3_OK when it processed).
    v3_result process(float** in, float** out, uint32_t frames, std::span<const Vst3Point> points);
    v3_result process(double** in, double** out, uint32_t frames,
                      std::span<const Vst3Point> points);
    // The output changes of the last block.
    const vst3::ParamChanges& outputChanges() const { return outChanges_; }

    // The component's state, and loading it into the component and (the
    // same bytes) the controller's set_component_state.
    std::optional<std::vector<uint8_t>> saveState() const;
    bool loadState(std::span<const uint8_t> bytes) const;

    // The editor: create_view("editor"), set_frame, the content scale
    // (when `scale` > 0), attached(parent, "X11EmbedWindowID").
    bool openView(unsigned long parent, double scale, std::string* why = nullptr);
    bool viewSize(int& width, int& height) const;
    bool setViewScale(double scale);
    bool viewOpen() const { return view_ != nullptr; }
    v3_plugin_view** view() const { return view_; }
    // removed, set_frame(null), release.
    void closeView();
    // One tick of the run loop: every timer once, every readable descriptor.
    void idle() { services_->runLoopTick(false); }
    // Only what is due; the milliseconds until the next timer.
    int idleDue() { return services_->runLoopTick(true); }

    // Whoever hears edits, restarts and resizes (one at a time).
    void setEvents(vst3::HostEvents* events) { events_ = events; }
    // Restart flags asked for and not yet handled.
    int32_t pendingRestart() const { return restartFlags_; }
    void clearRestart() { restartFlags_ = 0; }

  private:
    explicit Vst3Host(const Vst3Options& options);
    bool open(const std::string& path, std::string& error);
    void readBuses();
    void readParams();
    template <typename T>
    v3_result processAny(T** in, T** out, uint32_t frames, std::span<const Vst3Point> points);

    // HostEvents: forwards to events_, traces.
    void beginEdit(v3_param_id id) override;
    void performEdit(v3_param_id id, double normalised) override;
    void endEdit(v3_param_id id) override;
    void restartComponent(int32_t flags) override;
    bool resizeView(v3_plugin_view** view, const v3_view_rect& rect) override;
    void note(const std::string& line) override;

    Vst3Options options_;
    std::string path_;
    std::string module_;
    void* library_ = nullptr;
    bool entered_ = false;
    v3_plugin_factory_cpp** factory_ = nullptr;
    Vst3ClassRecord record_;
    // Shared so that a check can count what the plug-in still holds of the
    // host's objects after the instance is gone.
    std::shared_ptr<vst3::HostServices> services_;
    vst3::HostEvents* events_ = nullptr;
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    v3_edit_controller** controller_ = nullptr;
    bool separate_ = false;
    bool componentInitialised_ = false;
    bool controllerInitialised_ = false;
    v3_connection_point** componentPoint_ = nullptr;
    v3_connection_point** controllerPoint_ = nullptr;
    std::vector<v3_bus_info> inBuses_;
    std::vector<v3_bus_info> outBuses_;
    std::vector<Vst3ParamInfo> params_;

    bool active_ = false;
    bool processing_ = false;
    bool setUp_ = false;
    int32_t sampleSize_ = V3_SAMPLE_32;
    double rate_ = 44100.0;
    uint32_t maxFrames_ = 0;
    int64_t position_ = 0;
    int32_t restartFlags_ = 0;

    // The block's records, made at setup so that process allocates nothing.
    vst3::ParamChanges inChanges_;
    vst3::ParamChanges outChanges_;
    std::vector<v3_audio_bus_buffers> inBufs_;
    std::vector<v3_audio_bus_buffers> outBufs_;
    std::vector<std::vector<double>> scratch_;  // silence for the other buses
    std::vector<void*> scratchPtrs_;
    v3_process_context context_{};

    v3_plugin_view** view_ = nullptr;
};

}  // namespace kv::host
